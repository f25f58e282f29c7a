#include "zormodjoystick.h"

#include "zormodjoystickstates.h"

const QString ZorModJoystick::UpdateInterval = QStringLiteral("UpdateInterval [msec]");
const QString ZorModJoystick::JoystickId = QStringLiteral("JoystickID [1|2]");

ZorModJoystick::ZorModJoystick(QObject *parent)
    : ZorModule(parent)
{
    setProperty(UpdateInterval, QStringLiteral("100"));
    setProperty(JoystickId, QStringLiteral("1"));
}

ZorModJoystick::~ZorModJoystick()
{
    stop();
}

Macho::StateRef ZorModJoystick::rootStateRef() const
{
    return JoystickInterfaceStates::Root::makeStateRef();
}

ZorModule *createJoystickModule(QObject *parent)
{
    return new ZorModJoystick(parent);
}
