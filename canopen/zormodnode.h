// ZorModNode: the generic CANopen node module (types "nodeconfig",
// "uipanel", "uipanel_node"), one per node of the bus.
//
// It is the master of a CAN interface module ("canusb", "kelvatro",
// "ethernet"); the framework puts a CANopen gateway module between the two,
// so that the node's interviews become SDO, NMT and scan exchanges on the
// bus. Its states (zornodestates.h) open communication, find the node id when
// "NodeId" is 0, and serve object lists (zorobjectlist.h).
//
// Requests from the master (its panel, models, other modules):
//   KM_START, KM_DRIVE_START     open communication and start; answered
//                                KS_ANSWER once "Started", KS_FAIL on error
//   KM_STOP, KM_DRIVE_STOP       stop; running object lists are cancelled
//   KM_OBJLIST_WRITE, _READ      an object list; answered with its result
//                                lines (KS_ANSWER, KS_FAIL, KS_TIMEOUT or
//                                KS_CANCEL), at most 10 waiting
//   KM_MASTER_OUT                a message in text form 1 passed down
// Reports: KM_STATUS (0 idle, 1 started, 1000 starting, 1105 getting the
// node id, 1200 the last list or key write failed, 2000 error), KM_INFOTEXT.
//
// Properties: "NodeId" (0: found by a scan at start), "StoreCmd" and
// "ResetCmd" (the object-list lines the words StoreCmd and ResetCmd stand
// for; "AccessKeySet" in them is replaced by the current key),
// "ForwardSlaveMessages" (above 0: what the gateway reports goes on to the
// master), "AccessKeyDefinitions" (lines "class,index,subindex,type,default
// key"), "AccessKeySet" ("class,key"; written to the node when it is set,
// then "class,key,ok" or "class,key,error"), and, read when present,
// "ErrorTexts" (lines "key,text" that explain SDO abort codes).
#pragma once

#include "zormodule.h"

#include <atomic>

class ZorModNode : public ZorModule
{
    Q_OBJECT
public:
    // Protocol waits, in ms; settable so that tests and slow set-ups can
    // change them.
    enum Timing {
        CommOpenTimeout,   // CommInit's wait for the gateway (15000)
        AutoIdTimeout,     // the scan's time-out; 0: 60000 for "drive_tamrix", else 5000
        AutoIdGrace,       // waited beyond the scan's time-out (500)
        ResultHold,        // a result text stays at least this long (5000)
        TimingCount
    };

    explicit ZorModNode(QObject *parent = nullptr);
    ~ZorModNode() override;

    QString acceptedSlaveTypes() const override;
    Macho::StateRef rootStateRef() const override;

    void setTiming(Timing which, int ms);
    int timing(Timing which) const;
    static int defaultTiming(Timing which);

private:
    std::atomic<int> timings[TimingCount];
};

// Creator for the project's module registry ("nodeconfig", "uipanel",
// "uipanel_node").
ZorModule *createNodeModule(QObject *parent);
