// ZorModXYPos (type "xypos"): two positioning drives as the X and the Y axis
// of a plane, and optionally a CAN interface whose first three send
// sequences its panel fires.
//
// KM_ASSIGN_SLAVES picks the axes ("DriveLabelX", "DriveLabelY") and the
// interface ("InterfaceLabel") among the slaves and answers "X,Y,I".
// KM_DRIVE_START starts both drives; once both run, a changed "TargetX" or
// "TargetY" goes to its drive (KM_SETPROPERTY "TargetPosition", then
// KM_DRIVE_GO_TO_TARGET 1) after it has been still for more than 750 ms, and
// the drives' actual positions, limits and states come back as the
// properties "ActualX", "ActualY", "MinX" ... and as KM_STATUS / KM_INFOTEXT
// with the drive's label as origin. KM_PLAYERCMD_PLAY / _STOP go on to the
// interface. Starting moves nothing: the drives' actual positions become
// the targets, and only a target changed after that is sent. A drive that
// does not take its target is named with the reason (KM_LOGTEXT). The
// states are in zormodxyposstates.h.
#pragma once

#include "zormodule.h"

class ZorModXYPos : public ZorModule
{
    Q_OBJECT
public:
    explicit ZorModXYPos(QObject *parent = nullptr);
    ~ZorModXYPos() override;

    QString acceptedSlaveTypes() const override;
    Macho::StateRef rootStateRef() const override;

    // How long a changed target must stand still before it is sent.
    static constexpr int SettleMs = 750;
};

// Creator for the project's module registry ("xypos").
ZorModule *createXYPosModule(QObject *parent);
