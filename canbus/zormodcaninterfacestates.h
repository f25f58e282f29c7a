// The states of the CAN interface module (ZorModCanInterface).
//
//   Root                 holds the driver and everything that outlives a state
//     Idle               closed (status 0)
//     Updating           adapter firmware update (status 1011)
//     Error              opening failed or the driver failed (status 2000)
//     Open               the adapter is being opened (status 1000); its
//                        substates have it open
//       NotPlaying       open, frames flow (status 1)
//       Scanning         bit-rate scan (status 1010), zormodcaninterfacescan.h
//       Playing          a send sequence plays, zormodcaninterfaceplayer.h
//         NotPaused      (status 2)
//         Paused         (status 3)
//
// An opening request (KM_COMM_OPEN, KM_START) waits in Root's data until the
// opening ends and is answered exactly once: KS_ANSWER when the adapter is
// open, KS_FAIL (data: the error text) when it could not be opened, KS_CANCEL
// when a close abandoned the opening (during a scan or a firmware update).
#pragma once

#include "zorcandriverfactory.h"
#include "zormodstates.h"

#include <QElapsedTimer>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QVector>
#include <memory>

class ZorAbstractCanDriver;
class ZorModCanInterface;

namespace CanUsbStates {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    struct Box
    {
        QString portText;              // port in use; the driver key after "(first found)"
        int timestampMode = 1;
        int statusFlags = 0;           // traffic bits since the last KM_COMM_STATUS
        QElapsedTimer statusTimer;     // paces KM_COMM_STATUS
        // Send-sequence player (zormodcaninterfaceplayer.h).
        int sequenceNumber = 0;
        QString startExpression;
        QStringList sequenceLines;
        int lineIndex = 0;
        QVector<int> loopStack;
        QElapsedTimer waitTimer;
        bool waitTimerRunning = false;
        int waitTime = 0;
        bool waitingForFrame = false;
        bool found = false;
        QRegularExpression waitPattern;   // anchored, case-insensitive
        // Opening.
        bool scanMode = false;
        std::unique_ptr<ZorAbstractCanDriver> driver;
        QList<ZorMessage> pendingRequests;   // opening requests not yet answered
        QString firmwareVersion;
        QString targetFirmwareVersion;
        // Frames the module had dropped when the adapter opened, and as
        // last shown.
        quint64 droppedAtOpen = 0;
        quint64 droppedShown = 0;

        Box();
        ~Box();
    };

    void init() override;
    void exit() override;

    ZorModCanInterface *canModule() const;
    ZorAbstractCanDriver *driver() const;
    // "Open", or "Open (250K)" with the "Baudrate" property; followed by
    // ", 1234 received frames dropped" once frames came faster than they
    // could be handed on (a frame dropped on its way to several peers
    // counts once for each).
    QString openText() const;
    // Answers every waiting opening request with the state (and, for
    // KS_FAIL, the error text as data) and forgets them.
    void answerPending(int state, const QString &errorText = QString());
    // Answers a request in place: same message, new state, back to the masters.
    void answer(ZorMessage message, int state);
    // Takes the next request from the master's queue into `message`; other
    // messages from the master are dropped on the way. False when none is left.
    bool nextRequest(ZorMessage &message);
};

struct Idle : Macho::Link<Idle, Root>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;
    // Only requests from the master move it.
    bool cyclesOnlyWhenWoken() const override { return true; }
};

struct Error : Macho::Link<Error, Root>
{
    MACHO_STATE(Error)
    void entry() override;
    void cycle() override;
    // Only requests from the master move it.
    bool cyclesOnlyWhenWoken() const override { return true; }
};

struct Updating : Macho::Link<Updating, Root>
{
    MACHO_STATE(Updating)

    struct Box
    {
        bool updateStarted = false;
        QString updateFileName;
        QElapsedTimer progressTimer;
        int lastProgress = 0;
    };

    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Open : Macho::Link<Open, Root>
{
    MACHO_STATE(Open)

    struct Box
    {
        bool temporaryText = false;    // a driver message is shown as status text
        QElapsedTimer temporaryTextTimer;
    };

    void entry() override;
    void exit() override;
    // In Open itself: the opening, once.
    void cycle() override;
    // "CAN" lines: the request frame goes out in the next cycle.
    bool handleInterviewLine(const ZorInterview &interview) override;

    // A received frame (KM_CAN_FRAME with its record): offered to the
    // waiting interview lines.
    virtual void frameReceived(ZorMessage &frame);
    // A player command from a master; true when this state takes it.
    // stateChanged: it requested a transition.
    virtual bool playerCommand(ZorMessage &message, bool &stateChanged);

    // Takes what the driver received (up to ten banks) and forwards it;
    // with discard the frames are dropped unseen. True when frames kept
    // coming. Traffic bits go into flags.
    bool receiveFrames(int &flags, bool discard);
    // One cycle of the open states: receive, carry out the masters'
    // requests, status text and report. True when it requested a transition.
    bool trafficCycle();

private:
    void openAdapter();
    bool openDriver(ZorCanDriverFactory::Kind kind, int bitRate, int debugLevel);
    void updateTemporaryText(int &flags);
    void reportStatus();
};

struct NotPlaying : Macho::Link<NotPlaying, Open>
{
    MACHO_STATE(NotPlaying)
    void entry() override;
    void cycle() override;
    bool playerCommand(ZorMessage &message, bool &stateChanged) override;
};

} // namespace CanUsbStates
