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
//      └─ Error                 status 2000 "Error: <text>"
//
// Idle, Startup and Error are in zormodposdrivestates.cpp, Operational and
// its modes in zormodposdrivestatesmotion.cpp; the words and interview
// lines of CiA 402 in zordriveprofile.h.
//
// Every request a state cannot serve is answered KS_REJECT, also one that
// a newer request displaces as the pending command. Motion requests (mode
// change, moves, homing) are answered when their interview comes back:
// KS_ANSWER when the drive took every line, else the interview's state.
// The drive's node parameter, reset, download and script states hang below
// DriveRoot too and are entered like Startup, through CommInit with
// continuation 0; their requests are refused until they exist
// (refuseMaintenance).
#pragma once

#include "zornodestates.h"

#include <QElapsedTimer>
#include <QList>

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
        // Arguments of the node parameter requests.
        quint8 newNodeId = 0;
        quint32 newBitRate = 0;
        quint32 serialNumber = 0;
        bool readSerial = false;
        int scriptStatus = -1;             // -1 unknown, 0 stopped, 1 started
        QString scriptOutputLine;          // drive-script output collected so far
        QString scriptOutputSource;        // who the output comes from, "0" at start
        bool accessKeyToSend = false;
        QList<MotionRequest> motionRequests;
        // Stops that came while the stop sequence ran; Idle answers them.
        QList<ZorMessage> repeatedStops;
    };

    void entry() override;
    void init() override;
    void cycle() override;

    ZorModPosDrive *drive() const;
    // A property read as a decimal int (0 when it is none) or as a number.
    int intProperty(const char *name) const;
    double doubleProperty(const char *name) const;

    // The request becomes the pending command; one that still waited for
    // its answer is answered KS_REJECT.
    void makePending(const ZorMessage &request);
    void answerRequest(ZorMessage request, int state, const QVariant &data = QVariant());
    void rejectRequest(const ZorMessage &request) { answerRequest(request, KS_REJECT); }

    // Requests of Idle and Error: start, stop, node parameters, reset,
    // download.
    Outcome handleDriveRequest(const ZorMessage &request);
    // Requests every serving drive state takes: object lists and messages
    // passed down (KM_MASTER_OUT). Object lists open communication first
    // when it is not open.
    Outcome handleCommonRequest(const ZorMessage &request);
    // Requests of the maintenance states, refused while those are missing.
    Outcome refuseMaintenance(const ZorMessage &request);
    // The master-side loop of Idle and Error; false when a transition was
    // requested.
    bool readRequests();

    // Every message from the slave side, in every drive state: the answers
    // to object lists, the access key and motion requests. True when it
    // took the message.
    bool handleDriveMessage(const ZorMessage &message);
    // Sends a motion interview and keeps the request until its answer.
    void sendMotionInterview(const QString &lines, const ZorMessage &request);

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
    };

    void entry() override;
    void exit() override;
    void cycle() override;

    // Text and status of the mode, kept to come back to after a warning.
    void showMode(const QString &text, int status);
    void showWarning();

    bool readMotionRequests();
    void readMotionAnswers();
    void pollStatus();
    void writeVelocity();

    void startStopSequence(const ZorMessage &request);
    bool stopping() const;
    // False when a transition was requested.
    bool changeMode(const ZorMessage &request);
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

} // namespace ZorNodeStates
