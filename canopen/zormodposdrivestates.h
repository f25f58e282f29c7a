// The states of the positioning drive module (zormodposdrive.h), a subtree
// of the node states (zornodestates.h):
//
//   NodeRoot
//   ├─ CommInit, CommAutoId     open communication (continuation 0: Startup)
//   └─ DriveRoot                drive data shared by all drive states
//      ├─ Idle                  status 0 "Idle"
//      ├─ Startup               status 1000 "Init": the start-up interview
//      ├─ Operational           status 1 "Operating": status polls, reports
//      │  ├─ VelocityMode       status 2: target velocity follows the property
//      │  ├─ PositionMode       status 3: position and extended moves
//      │  └─ HomingMode         status 4: homing
//      ├─ Error                 status 2000 "Error: <text>"
//      ├─ ChangeNodeParameters  status 1101: new node id / bit rate by LSS
//      ├─ WaitForReboot         status 1102: waits for the drive's boot-up
//      ├─ ResetToFactory        status 1103: the "ResetCmd" object list
//      ├─ StartApplication      status 1104: program control 1 (start)
//      ├─ DriveScriptUpdate     writes, compiles and downloads a drive script
//      └─ Downloading           status 1100 / 1101: one download session
//         └─ DownloadingViaKelvatro   firmware through the adapter's SD card
//
// Idle, Startup and Error are in zormodposdrivestates.cpp, Operational and
// its modes in zormodposdrivestatesmotion.cpp, the node parameter, reset
// and reboot states in zormodposdrivestatesmaint.cpp, the downloads in
// zormodposdrivestatesdownload.cpp, the drive script and the drive's
// emergencies in zormodposdrivestatesscript.cpp; the words and interview lines of
// CiA 402 in zordriveprofile.h.
//
// Every request a state cannot serve is answered KS_REJECT, also one that
// a newer request displaces as the pending command. Motion requests (mode
// change, moves, homing) are answered when their interview comes back:
// KS_ANSWER when the drive took every line, else the interview's state. A
// mode is entered once the drive has taken it; after a refusal the module
// stays in (or goes to) the mode the drive reports in 6061h, and motion
// requests sent meanwhile wait for that. A stop's interview that the drive
// does not take leads to Error, from which a stop sends the sequence again;
// a new script for a running drive is downloaded after the stop sequence.
// The node parameter, reset and download states are entered like Startup,
// through CommInit with continuation 0; the request stays pending and the
// state that follows answers it (Idle KS_ANSWER, Error KS_FAIL).
#pragma once

#include "zormodposdrive.h"
#include "zornodestates.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QList>
#include <atomic>
#include <memory>

class ZorModPosDrive;

namespace ZorNodeStates {

struct DriveRoot : Macho::Link<DriveRoot, NodeRoot>
{
    MACHO_STATE(DriveRoot)

    enum DriveStatus {
        StatusIdle = 0,
        StatusOperating = 1,
        StatusVelocityMode = 2,
        StatusPositionMode = 3,
        StatusHomingMode = 4,
        StatusInit = 1000,
        StatusScriptDownload = 1100,
        StatusMaintenance = 1101,        // firmware download, node parameters
        StatusWaitForReboot = 1102,
        StatusFactoryReset = 1103,
        StatusRestart = 1104,
        StatusWarningRaise = 1000,   // added to a running status while a warning shows
        StatusError = 2000
    };

    // How a handler dealt with a message.
    enum Outcome {
        NotHandled,
        Handled,
        Leaving      // handled, and a transition was requested
    };

    // A motion request waiting for the answer to its interview.
    struct MotionRequest
    {
        ZorMessage interview;
        ZorMessage request;
    };

    // The drive data, shared by every drive state.
    struct Box
    {
        qint32 lastVelocitySet = 0;        // last value written to 60FFh
        qint32 actualVelocity = 0;         // 606Ch, rpm
        double actualPosition = 0.0;       // 6063h in user units
        int statusWord = 0;                // 6041h as last read
        int controlWord = 0;               // 6040h as last written
        quint32 positionNumerator = 1;     // 608Fh.1, never 0
        quint32 positionDenominator = 1;   // 608Fh.2, never 0
        bool interviewOutstanding = false; // a status poll or velocity write runs
        QElapsedTimer lastStatusAnswer;
        int pollCounter = 0;               // 0..4; actual values when it wraps to 0
        int scriptStatus = -1;             // -1 unknown, 0 stopped, 1 started
        QString scriptOutputLine;          // drive-script output collected so far
        QString scriptOutputSource;        // who the output comes from, "0" at start
        bool viaKelvatro = false;          // script output goes to the status text
        ZorMessage scriptControlRequest;   // answered when the status read returns
        ZorMessage scriptStatusInterview;  // the read of 3500h.2
        bool accessKeyToSend = false;
        QList<MotionRequest> motionRequests;
        // Stops that came while the stop sequence ran; Idle answers them.
        QList<ZorMessage> repeatedStops;
        // Motion requests that came while a mode change was on its way;
        // the mode the drive then runs in takes them (Idle and Error
        // refuse what is left).
        QList<ZorMessage> heldRequests;
        // The stop sequence sent from Error (after a stop or start that
        // failed, the drive may still be enabled): Idle once it was taken.
        ZorMessage errorStop;
        // The drive booted with its new node id while the change ended.
        bool newIdBooted = false;
    };

    void entry() override;
    void init() override;
    void cycle() override;

    ZorModPosDrive *drive() const;
    // The module's node parameter request and deferred requests.
    ZorModPosDrive::NodeParameters &nodeParameters() const;
    QList<ZorMessage> &deferredRequests() const;
    int driveTiming(int which) const;
    // A property read as a decimal int (0 when it is none) or as a number.
    int intProperty(const char *name) const;
    double doubleProperty(const char *name) const;

    // The request becomes the pending command; one that still waited for
    // its answer is answered KS_REJECT.
    void makePending(const ZorMessage &request);
    void answerRequest(ZorMessage request, int state, const QVariant &data = QVariant());
    void rejectRequest(const ZorMessage &request) { answerRequest(request, KS_REJECT); }
    void rejectHeldRequests();

    // Requests of Idle and Error: start, stop, node parameters, reset,
    // download.
    Outcome handleDriveRequest(const ZorMessage &request);
    // Requests every serving drive state takes: object lists and messages
    // passed down (KM_MASTER_OUT). Object lists open communication first
    // when it is not open.
    Outcome handleCommonRequest(const ZorMessage &request);
    // Keeps the request pending and enters the state once communication is
    // open.
    template<class S>
    Outcome enterMaintenance(const ZorMessage &request)
    {
        makePending(request);
        setContinuation<S>(Opened);
        requestTransition<CommInit>();
        return Leaving;
    }
    // The master-side loop of Idle and Error; false when a transition was
    // requested.
    bool readRequests();

    // Every message from the slave side, in every drive state: the answers
    // to object lists, the access key and motion requests. True when it
    // took the message.
    bool handleDriveMessage(const ZorMessage &message);
    // Script control requests (KM_SCRIPT_CONTROL); Handled or Leaving for
    // every one.
    Outcome handleScriptControl(const ZorMessage &request);
    // The answer to the script status read; true when it was that.
    bool takeScriptStatus(const ZorMessage &message);
    // The drive's emergencies: script output lines, the output source, the
    // embedded interpreter's errors and every other code.
    void handleEmergency(const ZorMessage &message);
    // Sends a motion interview and keeps the request until its answer;
    // returns the interview.
    ZorMessage sendMotionInterview(const QString &lines, const ZorMessage &request);

    // Idle and Error: the access key entered since the last write goes to
    // the drive (communication is opened for it first). False when a
    // transition was requested.
    bool checkAccessKey();

    // Clears bit 4 of the controlword and writes it when forced or when the
    // drive acknowledged the set-point (statusword bit 12).
    void resetSetPoint(bool forced);

    // The warning text of a failed interview ("Command Failed", ...); empty
    // for other states.
    static QString failureText(int state);
};

struct Idle : Macho::Link<Idle, DriveRoot>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;
};

struct Startup : Macho::Link<Startup, DriveRoot>
{
    MACHO_STATE(Startup)

    struct Box
    {
        ZorMessage interview;
    };

    void entry() override;
    void cycle() override;
};

struct Operational : Macho::Link<Operational, DriveRoot>
{
    MACHO_STATE(Operational)

    struct Box
    {
        ZorMessage stopInterview;
        ZorMessage statusPoll;
        ZorMessage velocityInterview;
        ZorMessage pendingExtended;       // the KM_DRIVE_GO_TO_EXTENDED worked on
        QString extendedFlags;            // its flags, lower case
        ZorMessage extendedStatusRead;    // the statusword read of flag t
        ZorMessage extendedInterview;     // the move of the extended request
        int waitCounter = 2;              // extended requests refused in a row
        int lastExtendedVelocity = -1;
        int lastExtendedAcceleration = -1;
        int lastExtendedDeceleration = -1;
        bool warningShown = false;
        QString savedText;                // the mode's own text and number,
        int savedStatus = 0;              // shown again after a warning
        // A mode change on its way: its interview, the mode asked for, and
        // the read of 6061h that follows when the drive refused it. Motion
        // requests wait meanwhile and are judged against the mode the
        // drive then runs in.
        ZorMessage modeChange;
        int modeAsked = 0;
        ZorMessage modeRead;
        // What the stop sequence was started for when no stop was asked: a
        // script replacement, served once the drive is stopped.
        ZorMessage afterStop;
    };

    void entry() override;
    void exit() override;
    void cycle() override;

    // Text and status of the mode, kept to come back to after a warning.
    void showMode(const QString &text, int status);
    void showWarning();

    bool readMotionRequests();
    // False when a transition was requested.
    bool readMotionAnswers();
    void pollStatus();
    void writeVelocity();

    void startStopSequence(const ZorMessage &request);
    bool stopping() const;
    // The stop interview came back: Idle, or Error when the drive did not
    // take it (it may still be enabled); a script replacement waiting for
    // the stop is served now.
    void stopAnswered(const ZorMessage &answer);
    // False when a transition was requested.
    bool changeMode(const ZorMessage &request);
    bool modeChanging() const;
    // The answer of the mode change, and of the read of 6061h after a
    // refusal: the module goes to the mode the drive runs in.
    void takeModeChangeAnswer(const ZorMessage &answer);
    void takeModeRead(const ZorMessage &answer);
    void enterMode(int mode);
    void moveToTarget(const ZorMessage &request);
    void takeExtendedRequest(const ZorMessage &request);
    void moveExtended();
    void startHoming(const ZorMessage &request);

    void takeStatusPollAnswer(const ZorMessage &answer);
    void takeExtendedStatus(const ZorMessage &answer);
    void takeExtendedAnswer(const ZorMessage &answer);
    // Sends the pending extended request back in that state.
    void answerExtended(int state, const QVariant &data = QVariant());
};

struct VelocityMode : Macho::Link<VelocityMode, Operational>
{
    MACHO_STATE(VelocityMode)
    void entry() override;
    void exit() override;
};

struct PositionMode : Macho::Link<PositionMode, Operational>
{
    MACHO_STATE(PositionMode)
    void entry() override;
};

struct HomingMode : Macho::Link<HomingMode, Operational>
{
    MACHO_STATE(HomingMode)
    void entry() override;
};

struct Error : Macho::Link<Error, DriveRoot>
{
    MACHO_STATE(Error)
    void entry() override;
    void cycle() override;
};

struct ChangeNodeParameters : Macho::Link<ChangeNodeParameters, DriveRoot>
{
    MACHO_STATE(ChangeNodeParameters)

    struct Box
    {
        bool changeNodeId = false;
        bool changeBitRate = false;
        bool active = false;
        bool aborted = false;
        bool lssSent = false;
        QString refusal;              // why the gateway refused the LSS line
        ZorMessage prepareInterview;  // serial number read, 3500h.3 write
        ZorMessage lssInterview;
        ZorMessage failInterview;
        ZorMessage successInterview;
    };

    void entry() override;
    void cycle() override;

    // "Set Node ID = 5 (global)" and the like.
    QString changeText() const;
    void takePrepareAnswer(const ZorMessage &answer);
    void takeSuccess();
    void fail(const QString &text);
};

struct WaitForReboot : Macho::Link<WaitForReboot, DriveRoot>
{
    MACHO_STATE(WaitForReboot)

    struct Box
    {
        QString keptText;
        QElapsedTimer clock;
        int timeoutMs = 0;   // "RebootTimeout" when the wait began
    };

    void entry() override;
    void cycle() override;
};

struct ResetToFactory : Macho::Link<ResetToFactory, DriveRoot>
{
    MACHO_STATE(ResetToFactory)

    struct Box
    {
        ZorMessage resetRequest;      // the "ResetCmd" object list
    };

    void entry() override;
    void cycle() override;
    // True (and the transition requested) once the list was answered.
    bool resetFinished();
};

struct StartApplication : Macho::Link<StartApplication, DriveRoot>
{
    MACHO_STATE(StartApplication)

    struct Box
    {
        ZorMessage restartInterview;
    };

    void entry() override;
    void cycle() override;
};

struct DriveScriptUpdate : Macho::Link<DriveScriptUpdate, DriveRoot>
{
    MACHO_STATE(DriveScriptUpdate)

    struct Box
    {
        QString scriptPath;
        QString imagePath;
        bool written = false;
    };

    void entry() override;
    void cycle() override;
};

struct Downloading : Macho::Link<Downloading, DriveRoot>
{
    MACHO_STATE(Downloading)

    // One download session; made afresh on every entry.
    struct Box
    {
        QString kind;
        bool payloadValid = false;
        bool failed = false;
        bool ending = false;
        QElapsedTimer endTimer;
        bool done = false;
        QString filePath;
        ZorMessage initInterview;
        ZorMessage downloadInterview;
        ZorMessage fallbackInterview;
        ZorMessage checkInterview;
        ZorMessage abortInterview;
        ZorMessage finalInterview;
        bool checkSent = false;
        QString invalidReason;        // why the file is refused
        // The drive was changed: its program cleared, or a new script
        // begun (the preparation was taken).
        bool driveChanged = false;
    };

    void entry() override;
    void exit() override;
    void cycle() override;

    void buildScriptInterviews(const QString &path);
    void buildFirmwareInterviews(const QString &path);
    // The whole file is checked before the drive is touched: a firmware
    // file must be a sequence of records, a script a complete drive image.
    // False with the reason.
    bool checkPayload(QString &reason) const;
    // What the drive holds after a session that did not complete.
    QString leftOnDrive() const;
    // A failed transfer or stop: the final interview becomes the abort's
    // wind-down, which leaves the drive in its boot loader.
    void sendFinal();
    void startEnding();
    bool windDownOver() const;
    // Leaves for Idle or Error once the session is done or wound down.
    // True when it did.
    bool endSession();
    void readStops(const QString &text, bool sendAbort);
    void takeAnswer(const ZorMessage &message);
};

struct DownloadingViaKelvatro : Macho::Link<DownloadingViaKelvatro, Downloading>
{
    MACHO_STATE(DownloadingViaKelvatro)

    struct Box
    {
        int phase = 0;
        int polls = 0;
        QString target;               // the update file on the SD card
        // Written by the copying thread: 0 running, 1 copied, 2 failed.
        std::shared_ptr<std::atomic<int>> copyResult;
    };

    void entry() override;
    void cycle() override;

    void startPolling();
    void takePoll(const ZorMessage &answer);
};

} // namespace ZorNodeStates
