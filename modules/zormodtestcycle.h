// ZorModTestCycle (type "testcycle"): an endurance test of the positioning
// drives linked to it as slaves ("drive_canopen+,drive_ruxa+").
//
// KM_DRIVE_START from the panel starts the drives, gives them a fixed time
// to come up (initWaitMs(), 10 s), switches them to profile position mode
// and then moves every drive back and forth between "Position1" and
// "Position2" with KM_DRIVE_GO_TO_EXTENDED, one half-cycle after the other,
// until a stop request lets the run end at Position 2. Within a half-cycle
// the drives are commanded one after the other, staggered by the shorter
// cycle time / (2 x number of drives). The answers are counted per drive
// (accepted, errors, skipped because the previous target was not reached)
// into a tab-separated report, sent to the panel as the status text and,
// with "DebugMode" above 0, written to "testcycle_stats_<start>.txt" in the
// working folder. KM_DRIVE_START_HOMING homes all drives (method 35) instead.
//
// A start that cannot run (no drives linked, a cycle time not above 0) is
// answered KS_FAIL with the reason, which also becomes the status text. A
// move a drive did not take is counted and its reason (by the answer's
// state and the drive's limits, asked for when cycling begins) goes to the
// master as KM_LOGTEXT.
//
// Status: 0 idle, 1 cycling, 2 homing, 1000 / 1001 initializing a test
// cycle / homing, 1002 stopping. The states are in zormodtestcyclestates.h.
#pragma once

#include "zormodule.h"

#include <atomic>

class ZorModTestCycle : public ZorModule
{
    Q_OBJECT
public:
    explicit ZorModTestCycle(QObject *parent = nullptr);
    ~ZorModTestCycle() override;

    QString acceptedSlaveTypes() const override;
    Macho::StateRef rootStateRef() const override;

    // How long the drives get to start before homing or cycling begins
    // (10000 ms; tests make it short). Any thread.
    void setInitWaitMs(int ms) { initWait.store(ms); }
    int initWaitMs() const { return initWait.load(); }

private:
    std::atomic<int> initWait{10000};
};

// Creator for the project's module registry ("testcycle").
ZorModule *createTestCycleModule(QObject *parent);
