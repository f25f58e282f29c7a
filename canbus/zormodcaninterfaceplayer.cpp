#include "zormodcaninterfaceplayer.h"

#include "zorbabelfish.h"
#include "zormodcaninterface.h"

#include <QScriptValue>

namespace CanUsbStates {

// --- Playing ---------------------------------------------------------------------

Playing::Box::Box() = default;
Playing::Box::~Box() = default;

void Playing::entry()
{
    Root::Box &r = Root::box();
    box().engine.reset(new ZorBabelFish);
    box().engine->evaluateExpression(r.startExpression);
    r.lineIndex = 0;
    r.sequenceLines = property(QStringLiteral("SendSequence%1").arg(r.sequenceNumber))
                          .split(QLatin1Char('\n'));
    setStatus(ZorModCanInterface::StatusPlaying);
    r.waitingForFrame = false;
    r.waitTimerRunning = false;
    r.loopStack.clear();
    r.found = false;
}

void Playing::init()
{
    requestTransition<NotPaused>();
}

void Playing::exit()
{
    sendPlayerStatus(-1);
    box().engine.reset();
}

void Playing::sendPlayerStatus(int index)
{
    sendToMaster(ZorMessage(KM_PLAYER_STATUS, KS_INFO, index));
}

void Playing::frameReceived(ZorMessage &frame)
{
    Open::frameReceived(frame);
    Root::Box &r = Root::box();
    if (!r.waitingForFrame)
        return;
    QString text;
    if (!ZorBabelFish::fromQbytearrayToCanStr(frame.data().toByteArray(), text))
        return;
    if (r.waitPattern.match(text.section(QLatin1Char(','), 0, 2)).hasMatch()) {
        r.waitingForFrame = false;
        r.waitTimerRunning = false;
        r.found = true;
    }
}

void Playing::moveTo(int index)
{
    Root::Box &r = Root::box();
    r.waitingForFrame = false;
    r.waitTimerRunning = false;
    r.lineIndex = index;
    sendPlayerStatus(index);
}

bool Playing::playerCommand(ZorMessage &message, bool &stateChanged)
{
    Root::Box &r = Root::box();
    switch (message.msgType()) {
    case KM_PLAYERCMD_STOP:
        requestTransition<NotPlaying>();
        break;
    case KM_PLAYERCMD_PAUSE:
        if (message.data().toInt() != 0)
            requestTransition<Paused>();
        else
            requestTransition<NotPaused>();
        break;
    case KM_PLAYERCMD_SKIP:
        if (r.lineIndex < r.sequenceLines.size() - 1)
            moveTo(r.lineIndex + 1);
        return true;
    case KM_PLAYERCMD_BACK:
        if (r.lineIndex >= 1)
            moveTo(r.lineIndex - 1);
        return true;
    default:
        return false;
    }
    answer(message, KS_ANSWER);
    stateChanged = true;
    return true;
}

int Playing::evaluateInt(const QString &expression)
{
    const QScriptValue value = box().engine->evaluateExpression(expression);
    return value.isNumber() ? value.toInt32() : 0;
}

void Playing::playerStep()
{
    Root::Box &r = Root::box();
    if (r.waitingForFrame) {
        if (r.waitTimerRunning && r.waitTimer.elapsed() >= r.waitTime) {
            // Timed out: the player goes on with the line after the wait.
            r.waitingForFrame = false;
            r.waitTimerRunning = false;
        }
        return;
    }
    if (r.lineIndex >= r.sequenceLines.size()) {
        requestTransition<NotPlaying>();
        return;
    }
    for (;;) {
        sendPlayerStatus(r.lineIndex);
        if (!executeLine() || r.lineIndex >= r.sequenceLines.size())
            break;
    }
}

bool Playing::executeLine()
{
    Root::Box &r = Root::box();
    ZorBabelFish &engine = *box().engine;
    const QString line = r.sequenceLines.at(r.lineIndex).trimmed().toLower();

    if (line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))
        || line.startsWith(QLatin1String("//"))) {
        ++r.lineIndex;
        return true;
    }
    const int blank = line.indexOf(QLatin1Char(' '));
    const QString command = blank < 0 ? line : line.left(blank);
    QString arguments = blank < 0 ? QString() : line.mid(blank + 1).trimmed();

    if (command == QLatin1String("send")) {
        engine.resolveCanMacros(arguments);
        QByteArray record;
        // A line that is no frame is skipped.
        if (ZorBabelFish::fromCanStrToQbytearray(arguments, record))
            canModule()->postIn(ZorModule::FromMaster, ZorMessage(KM_CAN_FRAME, KS_REQUEST, record));
        ++r.lineIndex;
        return true;
    }
    if (command == QLatin1String("wait")) {
        engine.resolveCanMacros(arguments);
        const QStringList fields = arguments.split(QLatin1Char(','));
        // Wildcards: "?" one character, "*" any run, "[...]" one of a set.
        r.waitPattern = QRegularExpression(
            QRegularExpression::wildcardToRegularExpression(fields.mid(0, 3).join(QLatin1Char(','))),
            QRegularExpression::CaseInsensitiveOption);
        r.waitingForFrame = true;
        r.waitTime = fields.size() > 3 ? evaluateInt(fields.at(3)) : 0;
        r.waitTimerRunning = r.waitTime > 0;
        if (r.waitTimerRunning)
            r.waitTimer.start();
        ++r.lineIndex;
        return false;
    }
    if (command == QLatin1String("delay")) {
        if (!r.waitTimerRunning) {
            r.waitTime = evaluateInt(arguments);
            // A delay below 1 ms never ends: the player stays on this line.
            r.waitTimerRunning = r.waitTime >= 1;
            if (r.waitTimerRunning)
                r.waitTimer.start();
        } else if (r.waitTimer.elapsed() >= r.waitTime) {
            r.waitTimerRunning = false;
            ++r.lineIndex;
        }
        return false;
    }
    if (command == QLatin1String("do")) {
        r.found = false;
        r.loopStack.push_back(r.lineIndex);
        ++r.lineIndex;
        return false;
    }
    if (command == QLatin1String("loop")) {
        ++r.lineIndex;
        if (!r.loopStack.isEmpty()) {
            const int start = r.loopStack.takeLast();
            if (!(arguments == QLatin1String("until found") && r.found))
                r.lineIndex = start;
        }
        return false;
    }
    // A script statement; its result and errors are not used.
    engine.evaluateExpression(line);
    ++r.lineIndex;
    return false;
}

// --- NotPaused / Paused ----------------------------------------------------------------

void NotPaused::entry()
{
    setStatus(ZorModCanInterface::StatusPlaying);
}

void NotPaused::cycle()
{
    if (!trafficCycle())
        playerStep();
}

void Paused::entry()
{
    setStatus(ZorModCanInterface::StatusPaused);
}

void Paused::cycle()
{
    trafficCycle();
}

} // namespace CanUsbStates
