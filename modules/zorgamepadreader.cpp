#include "zorgamepadreader.h"

#include <QCoreApplication>
#include <QGamepadManager>
#include <QtMath>

namespace {

// Lives in the main thread and hands Qt Gamepad's events to the reader.
void listenToGamepads(ZorGamepadReader *reader)
{
    QGamepadManager *manager = QGamepadManager::instance();
    QObject::connect(manager, &QGamepadManager::gamepadConnected, manager,
                     [reader](int id) { reader->connected(id); });
    QObject::connect(manager, &QGamepadManager::gamepadDisconnected, manager,
                     [reader](int id) { reader->disconnected(id); });
    QObject::connect(manager, &QGamepadManager::gamepadAxisEvent, manager,
                     [reader](int id, QGamepadManager::GamepadAxis axis, double value) {
                         reader->axisMoved(id, int(axis), value);
                     });
    QObject::connect(manager, &QGamepadManager::gamepadButtonPressEvent, manager,
                     [reader](int id, QGamepadManager::GamepadButton button, double) {
                         reader->buttonChanged(id, int(button), true);
                     });
    QObject::connect(manager, &QGamepadManager::gamepadButtonReleaseEvent, manager,
                     [reader](int id, QGamepadManager::GamepadButton button) {
                         reader->buttonChanged(id, int(button), false);
                     });
    for (int id : manager->connectedGamepads())
        reader->connected(id);
    reader->listening();
}

} // namespace

quint16 ZorGamepadReader::axisPosition(double value)
{
    const double position = (qBound(-1.0, value, 1.0) + 1.0) * 32767.5;
    // Rest (0) is 32767, as the classic service reports its centre.
    return quint16(qBound(0, qFloor(position), 65535));
}

void ZorGamepadReader::startListener()
{
    if (listenerStarted.exchange(true))
        return;
    QCoreApplication *app = QCoreApplication::instance();
    QMetaObject::invokeMethod(app, [this] { listenToGamepads(this); }, Qt::QueuedConnection);
}

bool ZorGamepadReader::isReady()
{
    if (!QCoreApplication::instance())
        return true;
    startListener();
    return listenerReady.load();
}

void ZorGamepadReader::listening()
{
    listenerReady.store(true);
}

int ZorGamepadReader::read(int index, ZorJoystickSample &sample)
{
    if (index < 0 || index > 1)
        return InvalidParameters;
    if (!QCoreApplication::instance())
        return NoDriver;
    startListener();
    std::lock_guard<std::mutex> lock(mutex);
    if (index >= devices.size())
        return Unplugged;
    sample = samples.value(devices.at(index));
    return Ok;
}

void ZorGamepadReader::connected(int deviceId)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!devices.contains(deviceId))
        devices.append(deviceId);
    samples.insert(deviceId, ZorJoystickSample());
}

void ZorGamepadReader::disconnected(int deviceId)
{
    std::lock_guard<std::mutex> lock(mutex);
    devices.removeAll(deviceId);
    samples.remove(deviceId);
}

void ZorGamepadReader::axisMoved(int deviceId, int axis, double value)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!samples.contains(deviceId))
        return;
    ZorJoystickSample &s = samples[deviceId];
    switch (axis) {
    case QGamepadManager::AxisLeftX:
        s.x = axisPosition(value);
        break;
    case QGamepadManager::AxisLeftY:
        s.y = axisPosition(value);
        break;
    case QGamepadManager::AxisRightX:
        s.z = axisPosition(value);
        break;
    default:
        break;
    }
}

void ZorGamepadReader::buttonChanged(int deviceId, int button, bool pressed)
{
    int bit = -1;
    if (button == QGamepadManager::ButtonA)
        bit = 0;
    else if (button == QGamepadManager::ButtonB)
        bit = 1;
    std::lock_guard<std::mutex> lock(mutex);
    if (bit < 0 || !samples.contains(deviceId))
        return;
    ZorJoystickSample &s = samples[deviceId];
    if (pressed)
        s.buttons |= 1u << bit;
    else
        s.buttons &= ~(1u << bit);
}

// --- the reader in use ---------------------------------------------------------------

namespace {

std::atomic<ZorJoystickReader *> chosenReader{nullptr};

} // namespace

ZorJoystickReader *ZorJoystickReader::instance()
{
    if (ZorJoystickReader *reader = chosenReader.load())
        return reader;
    static ZorGamepadReader gamepads;
    return &gamepads;
}

void ZorJoystickReader::setInstance(ZorJoystickReader *reader)
{
    chosenReader.store(reader);
}
