// The states of the joystick module (zormodjoystick.h):
//
//   Root       sets the rest values once, then Idle
//     Idle     status 0 "Idle"; waits for a start
//     Running  status 1 "Running" (2000 while reads fail); polls
#pragma once

#include "zormodstates.h"

#include <QElapsedTimer>

struct ZorJoystickSample;

namespace JoystickInterfaceStates {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    struct Box
    {
        bool secondController = false;
        int interval = 0;
        QElapsedTimer clock;
    };

    void cycle() override;

    void setRestValues();
    void setSample(const ZorJoystickSample &sample);
    static bool isStart(const ZorMessage &message);
    static bool isStop(const ZorMessage &message);
    // The text of a failed read.
    static QString failureText(int result);
};

struct Idle : Macho::Link<Idle, Root>
{
    MACHO_STATE(Idle)
    void entry() override;
    void cycle() override;
};

struct Running : Macho::Link<Running, Root>
{
    MACHO_STATE(Running)
    void entry() override;
    void exit() override;
    void cycle() override;

private:
    void poll();
};

} // namespace JoystickInterfaceStates
