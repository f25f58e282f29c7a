// The states of the Xenax linear-drive module (ZorModDriveXenax).
//
//   XenaxRoot        the traffic log; whether the controller is simulated
//     Idle           status 0, "Idle"
//     Connected      status 1000, "Connecting..."; owns the channel and
//                    connects (blocking, 5 s); sendCommand lives here
//       Init         status 1000; works through the initialisation script
//       Operating    status 1; moves, jogs, manual commands, polls (5 ms cycle)
//       Shutdown     status 1000, "Power Quit"; "PQ", "MD0", then Idle
//     Error          status 2000; waits for the master to start or stop
//
// A script line is a command sent as it stands, "delay <ms>", or
// "wait <text> [value]": "wait CR" sends empty commands until the prompt
// answers, "wait @H" waits for that event text from the controller, "wait TS
// 1" polls "TS" until it answers 1.
#pragma once

#include "zorcommchannel.h"
#include "zormodstates.h"
#include "zortrafficlog.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStringList>

namespace DriveXenaxStates {

// Results of sendCommand.
enum CommandResult { CommandOk = 0, NotRecognized = 1, Timeout = 2, NotConnected = 3, Communication = 4 };

struct XenaxRoot : Macho::Link<XenaxRoot, ZorModStates::Top>
{
    MACHO_STATE(XenaxRoot)

    struct Box
    {
        ZorTrafficLog log;
        bool simulated = false;
    };

    void init() override;

    // Status texts carry "SIM " in front while simulated.
    void setDriveStatusText(const QString &text);
    // Appends a traffic line, except the polls of status and position.
    void log(const QString &text);
    void flushLog();
    void answer(ZorMessage request);

    double doubleProperty(const QString &name) const;
    int intProperty(const QString &name) const;
    // Increments per mm (at least 1).
    double incrementsPerMm() const;
    // mm in controller increments, cut toward zero.
    qint64 increments(double mm) const;
    int operationMode() const;
    // Cogging compensation (modes 1 and 2): no motion commands.
    bool ccmMode() const;
    static QString errorText(int result);
    static QString fourDecimals(double value);
    static bool isStart(const ZorMessage &message);
    static bool isStop(const ZorMessage &message);
};

struct Idle : Macho::Link<Idle, XenaxRoot>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;
};

struct Connected : Macho::Link<Connected, XenaxRoot>
{
    MACHO_STATE(Connected)

    struct Box
    {
        ZorCommChannel channel;
        int pollInterval = 100;
    };

    void entry() override;
    void exit() override;
    void cycle() override;

    // One command and its answer (prompt removed); a CommandResult.
    int sendCommand(const QString &command, QString &answer);
    // The answer split at CR LF, empty parts kept.
    static QStringList answerParts(const QString &answer);
    int pollInterval() const { return Connected::box().pollInterval; }
    bool simulated() const { return Connected::box().channel.isSimulated(); }
};

// The script being worked through, with its clocks, delay and wait.
struct InitData
{
    QStringList commands;
    QElapsedTimer commandClock;
    QElapsedTimer pollClock;
    int delayMs = 0;
    QString waitText;
    long waitValue = 0;
};

struct Init : Macho::Link<Init, Connected>
{
    MACHO_STATE(Init)

    using Box = InitData;

    void entry() override;
    void cycle() override;

    // The initialisation script of an operation mode (and its status text).
    QStringList script(int mode, QString &statusText) const;

private:
    // True once the pending wait has ended.
    bool waitEnded();
    void takeNextLine();
};

struct Operating : Macho::Link<Operating, Connected>
{
    MACHO_STATE(Operating)

    struct Box
    {
        double lastTarget = 0;
        int lastVelocity = 0;
        int lastStatus = 0;
        int lastError = 0;
        bool positionRead = false;
        bool errorRead = false;
        QElapsedTimer statusPollClock;
        QRandomGenerator random;
    };

    void entry() override;
    void exit() override;
    void cycle() override;

private:
    bool handleRequests();
    void move();
    void sendManualCommand();
    void poll();
    // The position in increments that the simulator reports for "TP".
    qint64 simulatedPosition();
};

struct Shutdown : Macho::Link<Shutdown, Connected>
{
    MACHO_STATE(Shutdown)
    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Error : Macho::Link<Error, XenaxRoot>
{
    MACHO_STATE(Error)
    void entry() override;
    void cycle() override;
};

} // namespace DriveXenaxStates
