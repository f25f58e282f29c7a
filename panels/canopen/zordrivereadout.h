// What the status and setup panels of a drive show alike: the actual
// velocity and position the module reports, each on a label and a slider,
// and the velocity and position sliders' ranges from the drive's limit
// properties ("TargetVelocityMin/Max", "TargetPositionMin/Max").
#pragma once

#include "zormessage.h"

class QLabel;
class QSlider;

namespace ZorDriveReadout {

// Shows an actual velocity or position message; any other message type is
// left alone. A position beyond the slider's range stops the slider at its
// end.
void showActualValue(const ZorMessage &msg, QLabel *velocityLabel, QSlider *velocitySlider, QLabel *positionLabel,
                     QSlider *positionSlider);

// Sets a slider end when `name` is one of the limit properties; a value
// that is no integer counts as 0. Other properties are left alone.
void setTargetRange(const QString &name, const QString &value, QSlider *velocitySlider, QSlider *positionSlider);

} // namespace ZorDriveReadout
