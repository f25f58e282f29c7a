// The states of the CANopen gateway module (zormodcanopengateway.h).
//
//   Root
//   └─ Operating            serves SDO, NMT lines; passes frames and requests
//      ├─ LssConfigMode     prepares the LSS exchanges
//      │  └─ SetNodeParameters   runs them: enter, set, store, leave
//      ├─ Downloading       a program download (SDODownload)
//      ├─ ScanIds           the node-id scan
//      └─ Sampling          cyclic sampling (KM_DAQ_CONFIG); SDO and NMT
//                           lines are served meanwhile
//
// Everything runs in the module's thread. Messages from the CAN interface
// arrive in queue 0, those of the requester in queue 1; interview lines of
// the requester reach handleInterviewLine one at a time. Every exchange the
// gateway sends carries the requester's label as origin, so that the
// requester's cancel reaches its exchanges at the CAN interface too, and is
// remembered by its message id: an exchange answer is only ever read by the
// exchange it belongs to, never by one of another gateway on the same CAN
// interface.
//
// A return to Operating from one of its substates enters Operating afresh
// (its box is made new), so what a line in flight needs lives in Root's box.
//
// SDO transfers (served lines, sampling polls, program downloads) take the
// node's SDO channel first (zorsdochannels.h), shared with the other gateways
// on the same CAN interface: a transfer whose node is busy waits until the
// channel is free (a served line at most until its own time-out).
#pragma once

#include "zorcyclicsampling.h"
#include "zorlssmaster.h"
#include "zormodstates.h"
#include "zornodescan.h"
#include "zorsdoblockdownload.h"
#include "zorsdochannels.h"
#include "zorsdoclient.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <memory>

class ZorModCanOpenGateway;

namespace CanOpenGateway {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    // The line served last and its exchange under way. Kept here, above
    // every state the gateway moves between, so that an answer that arrives
    // after a return to Operating still finds its line.
    struct Box
    {
        QString requester;        // origin of the line dispatched last
        QString kind;             // its kind
        QString request;          // its request field
        int timeoutMs = 0;        // its time-out
        quint16 requestBase = 0x600;
        quint16 responseBase = 0x580;
        ZorSdoClient sdo;
        int exchangeId = 0;       // message id of the SDO exchange under way
        // The nodes' SDO channels, and the tokens of this gateway's served
        // lines (and downloads) and of its sampling polls.
        std::shared_ptr<ZorSdoChannels> channels;
        ZorSdoChannels::Token lineToken = 0;
        ZorSdoChannels::Token pollToken = 0;
        int lineNode = 0;         // node whose channel the served line holds
        // A served transfer waiting for its node's channel: its first
        // exchange, and until when it may wait (monotonic ms, -1 for ever).
        QString waitingExchange;
        qint64 waitingUntil = -1;
        QElapsedTimer clock;
        // The interview of the line dispatched last (its message id), and
        // the interview that came first after a cancel of its requester:
        // its lines seize their node's channel.
        int lineInterviewId = 0;
        int urgentInterviewId = 0;
        bool urgentLine = false;
        // The served write awaits no answer ("noresponse"): the node's
        // acknowledgement or abort only ends it early.
        bool noResponseLine = false;
    };

    void init() override;
    void exit() override;

protected:
    ZorSdoChannels &channels();
    // Takes the node's channel for the served line (for holdMs); false when
    // another transfer has it (this gateway is woken when it is free). The
    // lines of an interview that follows its requester's cancel seize it.
    bool takeChannel(int node, int holdMs);
    void releaseLineChannel();
    // How long a served line holds its node's channel per exchange.
    static int holdTime(int timeoutMs);
};

struct Operating : Macho::Link<Operating, Root>
{
    MACHO_STATE(Operating)

    struct Box
    {
        // LSS: the exchanges in the order they are sent (enter, node id,
        // bit timing, store), the leave exchange that always ends them.
        ZorLssMaster::Request lss;
        QList<ZorMessage> lssSteps;
        int lssStep = 0;
        ZorMessage lssLeave;
        bool lssFailed = false;
        QString lssError;           // the answer of a failed line, "error" when empty
        // A global node id: the step that inquires the slaves' identities,
        // and the answers counted until the window ends (-1: not counting).
        int lssInquiryStep = -1;
        qint64 lssCountUntil = -1;
        int lssAnswers[4] = {};     // answers to each of the four inquiries
        // Sampling
        ZorMessage samplingConfig;
        // Scan
        int scanListenMs = 2000;
    };

    // Overrides Root's init, which every substate would inherit otherwise.
    void init() override {}
    void cycle() override;
    bool handleInterviewLine(const ZorInterview &line) override;
    // Everything here comes as a message, unless a transfer waits for its
    // node's channel.
    bool cyclesOnlyWhenWoken() const override;
    // An answer of the CAN interface to an exchange (a KM_INTERVIEW that is
    // no longer a request).
    virtual void handleExchangeAnswer(const ZorMessage &answer);
    // A frame received from the bus (after the boot-up and emergency check).
    virtual void takeFrame(const ZorMessage &frame);

protected:
    ZorModCanOpenGateway *gateway() const;
    int timing(int which) const;
    // Reads the SDO COB-ID bases from the properties.
    void readBases();
    quint16 propertyId(const char *name, quint16 fallback) const;
    // Sends an exchange tagged with the requester's origin; returns it.
    ZorMessage sendExchange(const QString &text);
    void sendToCanInterface(ZorMessage message);
    // True for an answer of the CAN interface to one of this gateway's
    // exchanges (which is no longer awaited then).
    bool exchangeAnswered(const ZorMessage &message);
    // The received frames of the node's SDO answers are needed while a
    // transfer runs there (0: none).
    void watchTransferAnswers(int node);
    // KM_CANOPEN_BOOTUP / KM_CANOPEN_EMERGENCY for a received frame.
    void reportBootUpOrEmergency(const ZorMessage &frame);
    void takeRequesterMessages();
    // A served SDO transfer: its first exchange goes out once the node's
    // channel is free; the transfer's end gives the channel back.
    void startTransfer(const QString &exchange);
    void startWaitingTransfer();
    void dropWaitingTransfer();
    // What an SDO step asks for: the next exchange, the answers.
    void applySdoStep(const ZorSdoClient::Step &step);
    // A received frame that may be the node's abort of the served transfer.
    void checkTransferAbort(const ZorMessage &frame);
};

struct LssConfigMode : Macho::Link<LssConfigMode, Operating>
{
    MACHO_STATE(LssConfigMode)
    void entry() override;
};

struct SetNodeParameters : Macho::Link<SetNodeParameters, LssConfigMode>
{
    MACHO_STATE(SetNodeParameters)
    void entry() override;
    void exit() override;
    void cycle() override;
    bool cyclesOnlyWhenWoken() const override;
    void handleExchangeAnswer(const ZorMessage &answer) override;
    void takeFrame(const ZorMessage &frame) override;

private:
    // True when the answer to an LSS step lets the configuration go on; a
    // configure or store answer with an error code is logged and ends it.
    bool stepSucceeded(const ZorMessage &answer) const;
    // The counting window is over: one slave lets the configuration go on,
    // none or several end it.
    void countEnded();
    void sendNextStep();
};

struct Downloading : Macho::Link<Downloading, Operating>
{
    MACHO_STATE(Downloading)
    // Timed work: the run loop keeps cycling.
    bool cyclesOnlyWhenWoken() const override { return false; }

    struct Box
    {
        ZorSdoBlockDownload download;
        bool starting = true;
        bool channelTaken = false;   // the node's SDO channel is this download's
        bool ok = false;
        QString result;
        bool answered = false;    // the served line has its answer
        bool finished = false;    // the last chunk ended (well or not)
        bool abortRequested = false;
        int exchangeId = 0;
        bool exchangeOut = false;
    };

    void entry() override;
    void exit() override;
    void cycle() override;
    bool handleInterviewLine(const ZorInterview &line) override;

private:
    // Answers the "SDODownload" line with the size and the mode in use.
    void answerServedLine();
    void send(const QString &exchange);
    void progress(int state, const QVariant &value);
    void handleStep(const ZorSdoBlockDownload::Step &step);
};

struct ScanIds : Macho::Link<ScanIds, Operating>
{
    MACHO_STATE(ScanIds)
    // Timed work: the run loop keeps cycling.
    bool cyclesOnlyWhenWoken() const override { return false; }

    struct Box
    {
        ZorNodeScan scan;
        QHash<int, int> probes;   // message id -> node
        QElapsedTimer clock;
    };

    void entry() override;
    void exit() override;
    void cycle() override;
};

struct Sampling : Macho::Link<Sampling, Operating>
{
    MACHO_STATE(Sampling)
    // Timed work: the run loop keeps cycling.
    bool cyclesOnlyWhenWoken() const override { return false; }

    struct Box
    {
        ZorCyclicSampling sampling;
        bool configPending = true;
        QElapsedTimer clock;
        QHash<int, int> polls;    // message id of a poll's exchange -> node
        QSet<int> pollingNodes;   // nodes with a poll under way
    };

    void entry() override;
    void exit() override;
    void cycle() override;

private:
    // Sends the polls that are due, each once its node's channel is free.
    void sendDuePolls();
    // True when the answer was one of a poll (its node's channel is free again).
    bool pollAnswered(const ZorMessage &answer);
};

} // namespace CanOpenGateway
