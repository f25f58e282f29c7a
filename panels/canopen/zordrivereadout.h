// What the status and setup panels of a drive show alike: the actual
// velocity and position the module reports, each on a label and a slider,
// the velocity and position sliders' ranges from the drive's limit
// properties ("TargetVelocityMin/Max", "TargetPositionMin/Max") and its
// "NodeId".
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

// Takes a "name=value" property text (a text without "=" is none): a limit
// property sets its slider end, a value that is no integer counting as 0.
// True for "NodeId", with its value in `nodeId`; other properties are left
// alone.
bool takeProperty(const QString &text, QSlider *velocitySlider, QSlider *positionSlider, QString &nodeId);

} // namespace ZorDriveReadout
