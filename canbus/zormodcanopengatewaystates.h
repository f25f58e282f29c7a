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
#pragma once

#include "zorcyclicsampling.h"
#include "zorlssmaster.h"
#include "zormodstates.h"
#include "zornodescan.h"
#include "zorsdoblockdownload.h"
#include "zorsdoclient.h"

#include <QElapsedTimer>
#include <QHash>

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
    };

    void init() override;
};

struct Operating : Macho::Link<Operating, Root>
{
    MACHO_STATE(Operating)

    struct Box
    {
        // LSS
        ZorLssMaster::Request lss;
        ZorMessage lssEnter, lssSet, lssStore, lssLeave;
        // Sampling
        ZorMessage samplingConfig;
        // Scan
        int scanListenMs = 2000;
    };

    // Overrides Root's init, which every substate would inherit otherwise.
    void init() override {}
    void cycle() override;
    bool handleInterviewLine(const ZorInterview &line) override;
    // An answer of the CAN interface to an exchange (a KM_INTERVIEW that is
    // no longer a request).
    virtual void handleExchangeAnswer(const ZorMessage &answer);

protected:
    ZorModCanOpenGateway *gateway() const;
    int timing(int which) const;
    // Reads the SDO COB-ID bases from the properties.
    void readBases();
    quint16 propertyId(const char *name, quint16 fallback) const;
    // Sends an exchange tagged with the requester's origin; returns it.
    ZorMessage sendExchange(const QString &text);
    void sendToCanInterface(ZorMessage message);
    // KM_CANOPEN_BOOTUP / KM_CANOPEN_EMERGENCY for a received frame.
    void reportBootUpOrEmergency(const ZorMessage &frame);
    void takeRequesterMessages();
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
    void handleExchangeAnswer(const ZorMessage &answer) override;
};

struct Downloading : Macho::Link<Downloading, Operating>
{
    MACHO_STATE(Downloading)

    struct Box
    {
        ZorSdoBlockDownload download;
        bool starting = true;
        bool ok = false;
        QString result;
        bool abortRequested = false;
        int exchangeId = 0;
        bool exchangeOut = false;
    };

    void entry() override;
    void cycle() override;
    bool handleInterviewLine(const ZorInterview &line) override;

private:
    void send(const QString &exchange);
    void progress(int state, const QVariant &value);
    void handleStep(const ZorSdoBlockDownload::Step &step);
};

struct ScanIds : Macho::Link<ScanIds, Operating>
{
    MACHO_STATE(ScanIds)

    struct Box
    {
        ZorNodeScan scan;
        QHash<int, int> probes;   // message id -> node
        QElapsedTimer clock;
    };

    void entry() override;
    void cycle() override;
};

struct Sampling : Macho::Link<Sampling, Operating>
{
    MACHO_STATE(Sampling)

    struct Box
    {
        ZorCyclicSampling sampling;
        bool configPending = true;
        QElapsedTimer clock;
    };

    void entry() override;
    void exit() override;
    void cycle() override;
};

} // namespace CanOpenGateway
