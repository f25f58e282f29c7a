// ZorModCanOpenGateway: the CANopen gateway module (type "canopen_gateway").
//
// It stands between a module that speaks CANopen (node, drive, automation,
// data-log modules) and the CAN interface module, and turns the requester's
// interview lines into "CAN" exchanges that the CAN interface carries out:
//
//   "SDOReadObject", "SDOWriteObject"   one object by SDO (zorsdoclient.h)
//   "SDODownload", "SDOAbortDownload"   program download (zorsdoblockdownload.h)
//   "LSSNodeParameters"                 node id and bit rate by LSS (zorlssmaster.h)
//   "NmtModuleControl"                  one NMT frame (zornmt.h)
//   "ScanIds"                           the node-id scan (zornodescan.h)
//
// and a KM_DAQ_CONFIG request into cyclic sampling (zorcyclicsampling.h).
// Boot-up and emergency frames seen on the bus go up as KM_CANOPEN_BOOTUP
// and KM_CANOPEN_EMERGENCY. The states are in zormodcanopengatewaystates.h.
//
// The gateway is never placed by the user: a requester registers the
// creator for the CAN interface's types ("canusb", "ethernet", "kelvatro")
// with ZorModule::addGatewayForMasterType, and the framework creates one
// gateway as via module when it links such a requester to its CAN interface.
// registerCreator() makes this module the framework's gateway; the program
// calls it once at start.
//
// Properties: "BaseIdTransmitSDO" (0x580, COB-ID base of the nodes' SDO
// answers), "BaseIdReceiveSDO" (0x600, base of the requests), "LssRequestId"
// (0x7e5), "LssResponseId" (0x7e4), "ForwardCanFrames" ("1" passes every
// received frame up to the requester).
#pragma once

#include "zormodule.h"

#include <QHash>
#include <QSet>
#include <atomic>
#include <mutex>

class ZorModCanOpenGateway : public ZorModule
{
    Q_OBJECT
public:
    // Protocol waits, in ms; settable so that tests and slow buses can
    // shorten or lengthen them.
    enum Timing {
        LssSwitchWait,        // after each switch-mode request (5000)
        LssAnswerTimeout,     // configure and store answers (2000)
        DownloadLineTimeout,  // each answered line of a program download (1000)
        ScanSettle,           // listen time of a scan after the first boot-up (2000)
        ScanProbeWait,        // how long the scan waits for its probes (2000)
        ScanProbeTimeout,     // time-out of one probe (400)
        SamplePollTimeout,    // wait for the answer to one sampling poll (500)
        LssCountWindow,       // answers of further LSS slaves after the first (250)
        TimingCount
    };

    explicit ZorModCanOpenGateway(QObject *parent = nullptr);
    ~ZorModCanOpenGateway() override;

    QString type() const override;
    QString description() const override;
    QString label() const override;
    Macho::StateRef rootStateRef() const override;
    // Interviews are served strictly one after the other.
    bool oneInterviewPerPass() const override { return true; }

    void setTiming(Timing which, int ms);
    int timing(Timing which) const;

    // A CAN interface passes every frame it receives, and the answers to
    // every gateway's exchanges, to all its gateways. What this gateway's
    // states would drop unseen is dropped here, in the host thread, without
    // waking the gateway: transmit answers, answers to other gateways'
    // exchanges, and received frames that are no boot-up, emergency or
    // answer of a transfer under way (unless the states take all frames:
    // sampling, scan, "ForwardCanFrames" 1).
    bool wantsFromSlaves(const ZorMessage &message) const override;
    // The answer to one of its exchanges under way, straight from the CAN
    // interface's thread.
    bool claimsSlaveAnswer(const ZorMessage &message) override;
    // Kept up to date by the states (module thread).
    void noteExchangeSent(int msgId);
    void noteExchangeAnswered(int msgId);
    void setTakesAllFrames(bool on) { takesAllFrames = on; }
    // The COB-ID of the answers of the SDO transfer (or download) under way,
    // 0 for none.
    void setTransferAnswerId(quint32 cobId) { transferAnswerId = cobId; }

    // A requester's cancel, answered by the framework in the host thread,
    // is passed on to the CAN interface right there, before any exchange
    // the gateway sends for a later interview of that requester: the cancel
    // reaches only what was under way before it (a stop's own first
    // exchange is never cancelled by the stop's leading cancel). Not while
    // sampling, whose polls carry the requester's origin too.
    void inputArriving(int queue, const ZorMessage &message) override;
    void setPassesOnCancels(bool on) { passesOnCancels = on; }
    // The last cancel of the requester: its message id, 0 for none. Every
    // interview the requester sent before it has a smaller id, every later
    // one a greater (ids come from one rising counter).
    int lastCancelOf(const QString &requester) const;
    // True once for the first interview that follows a stop's cancel of its
    // requester (a cancel whose data is StopCancel): that interview, the
    // stop, takes its node's SDO channel at once, whoever holds it. After
    // any other cancel the requester's interviews wait for the channel as
    // ever, so that they never break into another module's transfer.
    // Module thread.
    bool takesPrecedence(const QString &requester, int interviewId);
    // The data of a cancel that a stop sends ahead of its own interview.
    static QString stopCancelData() { return QStringLiteral("stop"); }

    // Makes this module the CANopen gateway that the framework places between
    // requesters and CAN interfaces.
    static void registerCreator();

private:
    std::atomic<int> timings[TimingCount];
    std::atomic<bool> takesAllFrames{false};
    std::atomic<quint32> transferAnswerId{0};
    mutable std::mutex exchangesMutex;
    QSet<int> exchangesOut;
    std::atomic<bool> passesOnCancels{true};
    mutable std::mutex cancelsMutex;
    QHash<QString, int> lastCancels;        // requester -> id of its last cancel
    QHash<QString, int> lastStopCancels;    // requester -> id of its last stop's cancel
    QHash<QString, int> precedenceTaken;    // requester -> the cancel that gave it
};

// The gateway creator the framework calls with the requesting module as
// parent; null when the module cannot be made.
ZorModule *createCanOpenGateway(QObject *parent);
