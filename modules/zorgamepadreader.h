// The joystick reader over Qt Gamepad.
//
// Qt Gamepad delivers its events in the thread of its manager, which must
// run an event loop: the reader therefore lets a listener in the
// application's main thread collect the events into samples, one per
// connected controller in the order they were connected, and a read copies
// the controller's last sample under a mutex. The first read (or isReady)
// starts the listener, and the reader is ready once the listener has taken
// the controllers already connected; before that, and without an
// application object, there is no controller ("Unplugged" resp. "No
// driver").
#pragma once

#include "zorjoystickreader.h"

#include <QList>
#include <QMap>
#include <atomic>
#include <mutex>

class ZorGamepadReader : public ZorJoystickReader
{
public:
    int read(int index, ZorJoystickSample &sample) override;
    bool isReady() override;

    // Called by the listener in the main thread.
    void connected(int deviceId);
    void disconnected(int deviceId);
    void axisMoved(int deviceId, int axis, double value);
    void buttonChanged(int deviceId, int button, bool pressed);
    // The listener runs and has taken the controllers connected before it.
    void listening();

    // An axis value of Qt Gamepad (-1 to 1) as a 16-bit position.
    static quint16 axisPosition(double value);

private:
    void startListener();

    std::mutex mutex;
    QList<int> devices;                      // connected, oldest first
    QMap<int, ZorJoystickSample> samples;    // by device id
    std::atomic<bool> listenerStarted{false};
    std::atomic<bool> listenerReady{false};
};
