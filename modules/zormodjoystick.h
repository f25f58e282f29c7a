// ZorModJoystick (type "joystick"): publishes a game controller's three axes
// and first two buttons as module properties.
//
// KM_START / KM_COMM_OPEN starts polling, KM_STOP / KM_COMM_CLOSE ends it
// (each answered). While running, every "UpdateInterval [msec]" the
// controller that "JoystickID [1|2]" selects ("2" the second, anything else
// the first) is read through ZorJoystickReader, and "xpos", "ypos", "zpos"
// (0 to 65535), "Button1Pressed" and "Button2Pressed" ("1"/"0") are set, each
// with a notice to the master. A failed read shows status 2000 with
// "Error: " and the reason once and sets the rest values (32767 and "0").
// The states are in zormodjoystickstates.h.
#pragma once

#include "zormodule.h"

class ZorModJoystick : public ZorModule
{
    Q_OBJECT
public:
    explicit ZorModJoystick(QObject *parent = nullptr);
    ~ZorModJoystick() override;

    Macho::StateRef rootStateRef() const override;

    static const QString UpdateInterval;
    static const QString JoystickId;
};

// Creator for the project's module registry ("joystick").
ZorModule *createJoystickModule(QObject *parent);
