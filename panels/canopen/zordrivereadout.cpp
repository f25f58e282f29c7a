#include "zordrivereadout.h"

#include <QLabel>
#include <QSlider>
#include <cmath>

void ZorDriveReadout::showActualValue(const ZorMessage &msg, QLabel *velocityLabel, QSlider *velocitySlider,
                                      QLabel *positionLabel, QSlider *positionSlider)
{
    switch (msg.msgType()) {
    case KM_GET_ACTUAL_VELOCITY:
        velocityLabel->setText(msg.data().toString());
        velocitySlider->setValue(msg.data().toInt());
        break;
    case KM_GET_ACTUAL_POSITION: {
        const double position = msg.data().toDouble();
        positionLabel->setText(QString::number(position, 'f', 3));
        // The cast never sees a number an int cannot hold.
        const double clamped =
            qBound(double(positionSlider->minimum()), std::trunc(position), double(positionSlider->maximum()));
        positionSlider->setValue(std::isfinite(clamped) ? int(clamped) : 0);
        break;
    }
    default:
        break;
    }
}

bool ZorDriveReadout::takeProperty(const QString &text, QSlider *velocitySlider, QSlider *positionSlider,
                                   QString &nodeId)
{
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    const QString name = text.left(eq);
    const QString value = text.mid(eq + 1);
    if (name == QLatin1String("NodeId")) {
        nodeId = value;
        return true;
    }
    const int number = value.trimmed().toInt();
    if (name == QLatin1String("TargetVelocityMin"))
        velocitySlider->setMinimum(number);
    else if (name == QLatin1String("TargetVelocityMax"))
        velocitySlider->setMaximum(number);
    else if (name == QLatin1String("TargetPositionMin"))
        positionSlider->setMinimum(number);
    else if (name == QLatin1String("TargetPositionMax"))
        positionSlider->setMaximum(number);
    return false;
}
