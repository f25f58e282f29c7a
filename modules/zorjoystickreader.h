// ZorJoystickReader: where the joystick module gets its samples from.
//
// A sample is what a classic joystick service reports: three unsigned 16-bit
// axis positions (0 to 65535, 32767 at rest) and a word of button bits. A
// read gives Ok or one of the failure kinds below, numbered as that service
// numbers them, so that the module's texts follow the kind.
//
// The program reads game controllers through Qt Gamepad (instance());
// tests put a reader of their own in its place with setInstance().
#pragma once

#include <QtGlobal>

struct ZorJoystickSample
{
    quint16 x = 32767;
    quint16 y = 32767;
    quint16 z = 32767;
    quint32 buttons = 0;   // bit 0: first button, bit 1: second
};

class ZorJoystickReader
{
public:
    enum Result {
        Ok = 0,
        NoDriver = 6,
        InvalidParameters = 165,
        CannotCapture = 166,
        Unplugged = 167
    };

    virtual ~ZorJoystickReader() = default;
    // Reads controller `index` (0 the first, 1 the second). Any thread.
    virtual int read(int index, ZorJoystickSample &sample) = 0;
    // False while the reader cannot know yet which controllers there are
    // (a read would report one missing that is there). Any thread.
    virtual bool isReady() { return true; }

    // The reader in use: the one set last, else the Qt Gamepad reader.
    static ZorJoystickReader *instance();
    // Replaces the reader (not owned; null gives back the Qt Gamepad one).
    static void setInstance(ZorJoystickReader *reader);
};
