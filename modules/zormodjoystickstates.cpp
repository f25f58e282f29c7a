#include "zormodjoystickstates.h"

#include "zorjoystickreader.h"
#include "zormodjoystick.h"
#include "zormodstartstop.h"
#include "zormodule.h"

namespace JoystickInterfaceStates {

namespace {

const QString Axes[] = {QStringLiteral("xpos"), QStringLiteral("ypos"), QStringLiteral("zpos")};
const QString Buttons[] = {QStringLiteral("Button1Pressed"), QStringLiteral("Button2Pressed")};
const QString RestAxis = QStringLiteral("32767");
const int ReaderWaitMs = 2000;

} // namespace

// --- Root --------------------------------------------------------------------------

void Root::cycle()
{
    setRestValues();
    requestTransition<Idle>();
}

void Root::setRestValues()
{
    for (const QString &axis : Axes)
        setProperty(axis, RestAxis);
    for (const QString &button : Buttons)
        setProperty(button, QStringLiteral("0"));
}

void Root::setSample(const ZorJoystickSample &sample)
{
    setProperty(Axes[0], QString::number(sample.x));
    setProperty(Axes[1], QString::number(sample.y));
    setProperty(Axes[2], QString::number(sample.z));
    setProperty(Buttons[0], (sample.buttons & 1u) ? QStringLiteral("1") : QStringLiteral("0"));
    setProperty(Buttons[1], (sample.buttons & 2u) ? QStringLiteral("1") : QStringLiteral("0"));
}

bool Root::isStart(const ZorMessage &message)
{
    return message.isRequest() && (message.msgType() == KM_START || message.msgType() == KM_COMM_OPEN);
}

bool Root::isStop(const ZorMessage &message)
{
    return message.isRequest() && (message.msgType() == KM_STOP || message.msgType() == KM_COMM_CLOSE);
}

QString Root::failureText(int result)
{
    switch (result) {
    case ZorJoystickReader::NoDriver:
        return tr("No driver");
    case ZorJoystickReader::InvalidParameters:
        return tr("Invalid joyGetPos() parameters");
    case ZorJoystickReader::CannotCapture:
        return tr("Could not capture input");
    case ZorJoystickReader::Unplugged:
        return tr("Not plugged in");
    default:
        return tr("Unexpected error");
    }
}

// --- Idle --------------------------------------------------------------------------

void Idle::entry()
{
    setStatus(0);
    setStatusText(tr("Idle"));
    setReadOnlyProperties(QStringLiteral("xpos,ypos,zpos,Button1Pressed,Button2Pressed"));
}

void Idle::cycle()
{
    if (ZorModStartStop::take(*this, isStart, nullptr) == ZorModStartStop::Start)
        requestTransition<Running>();
}

// --- Running -----------------------------------------------------------------------

void Running::entry()
{
    setStatus(1);
    setStatusText(tr("Running"));
    setReadOnlyProperties(QStringLiteral("xpos,ypos,zpos,Button1Pressed,Button2Pressed,JoystickID [1|2]"));
    Root::Box &b = Root::box();
    b.secondController = property(ZorModJoystick::JoystickId).trimmed() == QLatin1String("2");
    b.interval = property(ZorModJoystick::UpdateInterval).trimmed().toInt();
    b.clock.start();
}

void Running::exit()
{
    setRestValues();
}

void Running::cycle()
{
    // A start while running is only answered.
    ZorModStartStop::Request request;
    while ((request = ZorModStartStop::take(*this, isStart, isStop)) == ZorModStartStop::Start) {
    }
    if (request == ZorModStartStop::Stop) {
        requestTransition<Idle>();
        return;
    }
    Root::Box &b = Root::box();
    // Polls wait for the reader to know the controllers (a moment after the
    // first start); a reader whose listener never reports is polled anyway
    // after a while, so that the module says what it finds.
    if (!ZorJoystickReader::instance()->isReady() && b.clock.elapsed() < ReaderWaitMs)
        return;
    if (b.clock.elapsed() > b.interval) {
        poll();
        b.clock.restart();
    }
}

void Running::poll()
{
    ZorJoystickSample sample;
    const int result = ZorJoystickReader::instance()->read(Root::box().secondController ? 1 : 0, sample);
    if (result == ZorJoystickReader::Ok) {
        setSample(sample);
        if (status() != 1) {
            setStatus(1);
            setStatusText(tr("Running"));
        }
        return;
    }
    if (status() != 2000) {
        setStatus(2000);
        setStatusText(tr("Error: ") + failureText(result));
        setRestValues();
    }
}

} // namespace JoystickInterfaceStates
