// ZorModDriveXenax (type "drive_xenax"): one Xenax linear motor controller
// over TCP, driven with its ASCII command set.
//
// Every command goes out ended by CR; the controller echoes it, adds its
// value, and ends with the prompt ">" (an unknown command gives "?"). The
// answer is split at CR LF: part 0 is the echo, part 1 the value.
//
// KM_START / KM_DRIVE_START connects to "CommChannel" ("host:port"; a text
// starting with "sim" runs the built-in simulator) and runs the
// initialisation script that "OperationMode" selects (0 standard, 1 cogging
// compensation, 2 cogging compensation with reference run, 3 step/direction,
// 4 none). While operating, a changed "TargetPosition" [mm] is moved to ("SP",
// "G"), a changed "TargetVelocity" [mm/s] jogs ("JP", "JN") or stops ("SM"),
// KM_DRIVE_GO_TO_EXTENDED sets the target (within TargetPositionMin and
// TargetPositionMax), "ManualCommand" is sent once with its answer in
// "ManualCommandAnswer", and status and position are polled every
// "UpdateInterval" ms ("TS", "TP", "TE" after status 9). The position goes up
// as KM_GET_ACTUAL_POSITION and into "ActualPosition". KM_STOP /
// KM_DRIVE_STOP quits the power ("PQ", "MD0") and disconnects.
//
// The traffic log (KM_LOGTEXT, at most every 550 ms) leaves out the polls.
// Status texts are prefixed "SIM " while simulated. The states are in the
// namespace DriveXenaxStates (zormoddrivexenaxstates.h).
#pragma once

#include "zormodule.h"

class ZorModDriveXenax : public ZorModule
{
    Q_OBJECT
public:
    explicit ZorModDriveXenax(QObject *parent = nullptr);
    ~ZorModDriveXenax() override;

    Macho::StateRef rootStateRef() const override;

    // Declared property names (the key is the first word).
    static const QString UpdateInterval;
    static const QString CommChannel;
    static const QString TargetPosition;
    static const QString TargetPositionMin;
    static const QString TargetPositionMax;
    static const QString PositionVelocity;
    static const QString TargetVelocity;
    static const QString PositionAcceleration;
    static const QString ActualPosition;
    static const QString EncoderIncrements;
    static const QString OperationMode;
    static const QString ManualCommand;
    static const QString ManualCommandAnswer;
};

// Creator for the project's module registry ("drive_xenax").
ZorModule *createDriveXenaxModule(QObject *parent);
