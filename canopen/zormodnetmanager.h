// ZorModNetManager: the network manager (module type "netmanager"), which
// looks after a whole CANopen network rather than one node.
//
// Its panel starts one of three jobs with KM_START:
//   data 1     scan: "ScanIds" finds the nodes, then one identity interview
//              reads 1018h:1..4, 1008h and 100Ah of each; every node is given
//              the module type of the first "ProjectTypes" key that matches
//              its vendor id or device name ("default" otherwise), and the
//              result goes to "ConfigurableIds"
//   data 2     build: asks the project's node and drive modules (its
//              slaves) for their properties, removes those of the last
//              build ("ProjectLabelsCreated") that still carry its mark
//              "BuiltBy" (<manager label>:<label>; a module the user put
//              under a freed label stays), then adds one module per entry
//              of "ConfigurableIds" whose node no module addresses yet
//              through the main window's app control ("addmodule,<type>,"),
//              one request at a time, and sets each new module's "NodeId"
//              and "BuiltBy"
//   other      status monitor: keeps communication open and serves the object
//              lists (KM_OBJLIST_READ / _WRITE) of the panel's node monitor
// KM_STOP returns to idle. Emergencies of the node "NodeId" are shown as
// "Emergency (code h,register h,bytes)".
//
// It is a node module (the framework puts a CANopen gateway between it and
// its CAN interface) that runs its own subtree of the node states
// (zormodnetmanagerstates.h); it is always the top of its module tree.
//
// Properties: "ProjectTypes" ("key:type" pairs, comma-separated; key a vendor
// id in any number form or a text looked for in the device name),
// "LastScanIds", "ConfigurableIds" ("id:type" pairs), "ProjectLabelsCreated",
// and those of the node module.
#pragma once

#include "zormodnode.h"

#include <atomic>

class ZorModNetManager : public ZorModNode
{
    Q_OBJECT
public:
    // Waits of the manager's own requests, in ms; settable so that tests and
    // slow set-ups can change them.
    enum ManagerTiming {
        AppControlTimeout,   // an "addmodule"/"removemodule" answer (30000)
        ScanTimeout,         // the "ScanIds" answer (30000)
        IdentityLineBudget,  // per identity line, on top of a fixed 10000 (3000)
        ManagerTimingCount
    };

    explicit ZorModNetManager(QObject *parent = nullptr);
    ~ZorModNetManager() override;

    QString acceptedSlaveTypes() const override;
    Macho::StateRef rootStateRef() const override;
    bool refusesMaster() const override;

    void setManagerTiming(ManagerTiming which, int ms);
    int managerTiming(ManagerTiming which) const;

private:
    std::atomic<int> managerTimings[ManagerTimingCount];
};

// Creator for the project's module registry ("netmanager").
ZorModule *createNetManagerModule(QObject *parent);
