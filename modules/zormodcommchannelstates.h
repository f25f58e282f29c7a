// The states of the communication-channel module (ZorModCommChannel).
//
//   CommRoot         keeps the traffic log and whether the channel is simulated
//     Idle           status 0, "Idle"
//     Connecting     status 1000; owns the channel; opens it (blocking, 5 s)
//       Connected    status 1 (or as ConnectedStatusSet says); 5 ms cycle
//     Error          status 2000; waits for the master to start or stop
//
// Start or open requests lead from Idle and Error to Connecting, stop or
// close requests from Connected and Error to Idle. A failed connection, one
// that the device closes, and one whose device sends more than the receive
// buffer holds without a line end, end in Error; there is no automatic
// retry. Outside Connected, data requests fail (KS_FAIL) with the reason.
#pragma once

#include "zorcommchannel.h"
#include "zormodstartstop.h"
#include "zormodstates.h"
#include "zortrafficlog.h"

#include <QString>

namespace CommChannelStates {

struct CommRoot : Macho::Link<CommRoot, ZorModStates::Top>
{
    MACHO_STATE(CommRoot)

    struct Box
    {
        ZorTrafficLog log;
        bool simulated = false;
        // Shown on entering Error when set (the exits on the way there set
        // texts of their own).
        QString errorText;
    };

    void init() override;

    QString endpoint() const;
    bool binaryMode() const;
    // Status texts carry "SIM " in front while the channel is simulated.
    void setChannelStatusText(const QString &text);
    void log(const QString &text);
    void flushLog();
    // Answers a request (same id, new state) towards the master.
    void answer(ZorMessage request, int state = KS_ANSWER);
    static bool isStartRequest(const ZorMessage &message);
    static bool isStopRequest(const ZorMessage &message);
    // Idle and Error: ZorModStartStop::take, with every KM_COMM_DATA request
    // answered KS_FAIL ("not connected: " and the status text).
    ZorModStartStop::Request takeStartStop();
};

struct Idle : Macho::Link<Idle, CommRoot>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;
};

struct Connecting : Macho::Link<Connecting, CommRoot>
{
    MACHO_STATE(Connecting)

    struct Box
    {
        ZorCommChannel channel;
    };

    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Connected : Macho::Link<Connected, Connecting>
{
    MACHO_STATE(Connected)

    struct Box
    {
        bool awaitingAnswer = false;
    };

    void entry() override;
    void exit() override;
    void cycle() override;

private:
    // Writes the data of a KM_COMM_DATA request (or a manual command) and
    // logs it; false when the device could not be written to.
    bool writeData(const QVariant &data);
    void applyConnectedStatusSet();
    void takeReceived();
    void handleReceived(const QVariant &data);
};

struct Error : Macho::Link<Error, CommRoot>
{
    MACHO_STATE(Error)
    void entry() override;
    void cycle() override;
};

} // namespace CommChannelStates
