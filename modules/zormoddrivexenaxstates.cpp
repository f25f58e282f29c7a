#include "zormoddrivexenaxstates.h"

#include "zormoddrivexenax.h"
#include "zormodstartstop.h"
#include "zormodule.h"

#include <QDateTime>
#include <cmath>

namespace DriveXenaxStates {

namespace {

using X = ZorModDriveXenax;

const int ConnectTimeoutMs = 5000;
const int CommandTimeoutMs = 2000;
const qint64 InitTimeoutMs = 600000;
const int OperatingCycleMs = 5;
const int DefaultCycleMs = 15;
const QString Prompt = QStringLiteral(">");
const QString ErrorMark = QStringLiteral("?");
const QString LineEnd = QStringLiteral("\r\n");

const char *const IdleReadOnly =
    "ActualPosition [mm],ManualCommand [Xenax ASCII cmd],ManualCommandAnswer";
const char *const ConnectedReadOnly =
    "ActualPosition [mm],CommChannel [IP address:TCP Port],TargetPositionMin [mm],"
    "TargetPositionMax [mm],PositionVelocity [mm/s],PositionAcceleration [mm/s\u00b2],"
    "EncoderIncrements [Increments/mm],OperationMode [0-Standard | 1-Cogging Comp. | "
    "2-CCM Reference Run | 3-StepDir | 4 - No Init],ManualCommandAnswer";

bool isPollLine(const QString &text)
{
    static const char *const polls[] = {"TX: TS", "RX: TS", "TX: TP", "RX: TP"};
    for (const char *poll : polls)
        if (text.contains(QLatin1String(poll)))
            return true;
    return false;
}

} // namespace

// --- XenaxRoot ---------------------------------------------------------------------

void XenaxRoot::init()
{
    requestTransition<Idle>();
}

void XenaxRoot::setDriveStatusText(const QString &text)
{
    setStatusText(XenaxRoot::box().simulated ? QStringLiteral("SIM ") + text : text);
}

void XenaxRoot::log(const QString &text)
{
    if (isPollLine(text))
        return;
    XenaxRoot::box().log.append(text);
    flushLog();
}

void XenaxRoot::flushLog()
{
    const QString due = XenaxRoot::box().log.takeDue();
    if (!due.isEmpty())
        sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO, due));
}

void XenaxRoot::answer(ZorMessage request)
{
    request.setMsgState(KS_ANSWER);
    sendToMaster(request);
}

double XenaxRoot::doubleProperty(const QString &name) const
{
    return property(name).trimmed().toDouble();
}

int XenaxRoot::intProperty(const QString &name) const
{
    const QString text = property(name).trimmed();
    bool ok = false;
    const int value = text.toInt(&ok);
    // "10.5" counts as 10, as a number read up to its point would.
    return ok ? value : int(text.toDouble());
}

double XenaxRoot::incrementsPerMm() const
{
    // A scale of 0 would make every position infinite.
    const uint scale = property(X::EncoderIncrements).trimmed().toUInt();
    return scale == 0 ? 1.0 : double(scale);
}

qint64 XenaxRoot::increments(double mm) const
{
    return qint64(mm * incrementsPerMm());
}

int XenaxRoot::operationMode() const
{
    return intProperty(X::OperationMode);
}

bool XenaxRoot::ccmMode() const
{
    const int mode = operationMode();
    return mode == 1 || mode == 2;
}

QString XenaxRoot::errorText(int result)
{
    switch (result) {
    case NotRecognized:
        return tr("Command not recognized");
    case Timeout:
        return tr("Timeout");
    case NotConnected:
        return tr("Not Connected");
    case Communication:
        return tr("Communication");
    default:
        return QString();
    }
}

QString XenaxRoot::fourDecimals(double value)
{
    return QString::number(value, 'f', 4);
}

bool XenaxRoot::isStart(const ZorMessage &message)
{
    return message.isRequest()
           && (message.msgType() == KM_START || message.msgType() == KM_DRIVE_START);
}

bool XenaxRoot::isStop(const ZorMessage &message)
{
    return message.isRequest()
           && (message.msgType() == KM_STOP || message.msgType() == KM_DRIVE_STOP);
}

// --- Idle --------------------------------------------------------------------------

void Idle::entry()
{
    setStatus(0);
    setDriveStatusText(tr("Idle"));
    setReadOnlyProperties(QString::fromUtf8(IdleReadOnly));
}

void Idle::cycle()
{
    if (ZorModStartStop::take(*this, isStart, nullptr) == ZorModStartStop::Start)
        requestTransition<Connected>();
    flushLog();
}

// --- Connected ---------------------------------------------------------------------

void Connected::entry()
{
    const bool sim = property(X::CommChannel).trimmed().toLower().startsWith(QLatin1String("sim"));
    box().channel.setSimulated(sim);
    XenaxRoot::box().simulated = sim;
    box().pollInterval = intProperty(X::UpdateInterval);
    setStatus(1000);
    setDriveStatusText(tr("Connecting..."));
    setReadOnlyProperties(QString::fromUtf8(ConnectedReadOnly));
}

void Connected::exit()
{
    setReadOnlyProperties(QStringLiteral("ActualPosition [mm]"));
    setProperty(X::ManualCommand, QString());
    box().channel.close();
    XenaxRoot::box().simulated = false;
}

void Connected::cycle()
{
    const QString endpoint = property(X::CommChannel);
    if (endpoint.trimmed().isEmpty()) {
        setDriveStatusText(tr("No Comm. Channel"));
        requestTransition<Idle>();
    } else if (simulated()) {
        setDriveStatusText(tr("Connected "));
        requestTransition<Init>();
    } else if (box().channel.open(endpoint, ConnectTimeoutMs)) {
        setDriveStatusText(tr("Connected %1").arg(endpoint));
        requestTransition<Init>();
    } else {
        setDriveStatusText(tr("Error connect %1").arg(endpoint));
        requestTransition<Error>();
    }
}

int Connected::sendCommand(const QString &command, QString &answer)
{
    ZorCommChannel &channel = box().channel;
    if (channel.isSimulated()) {
        answer = command + QStringLiteral("\r\n(simulator)\r\n>");
        log(QStringLiteral("RX: ") + answer);
        return CommandOk;
    }
    answer.clear();
    if (!channel.isOpen())
        return NotConnected;
    const QString line = command + QLatin1Char('\r');
    log(QStringLiteral("TX: ") + line);
    channel.discardInput();
    if (channel.write(line.toLatin1()) != 0)
        return Communication;
    switch (channel.waitFor(Prompt, ErrorMark, CommandTimeoutMs)) {
    case ZorCommChannel::OkSeen:
        channel.takeUntil(answer, Prompt);
        log(QStringLiteral("RX: ") + answer);
        answer.chop(1);
        return CommandOk;
    case ZorCommChannel::ErrorSeen:
        return NotRecognized;
    default:
        return Timeout;
    }
}

QStringList Connected::answerParts(const QString &answer)
{
    return answer.split(LineEnd);
}

// --- Init --------------------------------------------------------------------------

QStringList Init::script(int mode, QString &statusText) const
{
    if (mode == 4) {
        statusText = tr("Skip Init");
        return QStringList();
    }
    const QString sp = QStringLiteral("SP%1").arg(increments(intProperty(X::PositionVelocity)));
    const QString ac = QStringLiteral("AC%1").arg(increments(doubleProperty(X::PositionAcceleration)));
    const QStringList homing = {QStringLiteral("EVT1"), QStringLiteral("delay 500"),
                                QStringLiteral("HORM"), QStringLiteral("wait @H"),
                                QStringLiteral("EVT0"), QStringLiteral("wait TS 1"), sp, ac};
    QStringList lines = {QStringLiteral("wait CR"), QStringLiteral("MD0")};
    if (mode == 3) {
        statusText = tr("Init");
        lines << QStringLiteral("ICP1") << QStringLiteral("CCM0") << homing << QStringLiteral("PQ")
              << QStringLiteral("MD2") << QStringLiteral("PWC");
        return lines;
    }
    lines << QStringLiteral("CCM0") << homing;
    if (mode == 2) {
        statusText = tr("CCM Reference Run");
        const double min = doubleProperty(X::TargetPositionMin);
        const double max = doubleProperty(X::TargetPositionMax);
        lines << QStringLiteral("G%1").arg(increments(min)) << QStringLiteral("delay 100")
              << QStringLiteral("wait TS 1") << QStringLiteral("SP%1").arg(qint64(incrementsPerMm()))
              << QStringLiteral("CRD%1").arg(increments(max - min)) << QStringLiteral("delay 100")
              << QStringLiteral("wait TS 1") << QStringLiteral("CCM1");
    } else if (mode == 1) {
        statusText = tr("Init CCM");
        lines << QStringLiteral("CCM1");
    } else {
        statusText = tr("Init");
    }
    return lines;
}

void Init::entry()
{
    Box &b = box();
    b.waitText.clear();
    b.delayMs = 0;
    b.commandClock.start();
    b.pollClock.start();
    setStatus(1000);
    QString text;
    b.commands = script(operationMode(), text);
    setDriveStatusText(text);
}

bool Init::waitEnded()
{
    Box &b = box();
    const bool event = b.waitText.startsWith(QLatin1Char('@'));
    ZorCommChannel &channel = Connected::box().channel;
    QString line;
    bool seen = false;
    while (channel.takeUntil(line, LineEnd) > 0) {
        line.chop(LineEnd.size());
        if (line.startsWith(Prompt))
            line.remove(0, 1);
        if (line.isEmpty())
            continue;
        log(QStringLiteral("RX: ") + line);
        if (event && line.contains(b.waitText, Qt::CaseInsensitive))
            seen = true;
    }
    if (event) {
        if (simulated()) {
            log(QStringLiteral("SIM: wait %1").arg(b.waitText));
            return true;
        }
        return seen;
    }
    if (simulated()) {
        log(QStringLiteral("SIM: wait %1 = %2").arg(b.waitText).arg(b.waitValue));
        return true;
    }
    if (b.pollClock.elapsed() <= pollInterval())
        return false;
    b.pollClock.start();
    QString answer;
    if (b.waitText == QLatin1String("CR"))
        return sendCommand(QString(), answer) == CommandOk;
    if (sendCommand(b.waitText, answer) != CommandOk)
        return false;
    const QStringList parts = answerParts(answer);
    bool ok = false;
    return parts.size() >= 2 && parts.at(0) == b.waitText && parts.at(1).trimmed().toLong(&ok) == b.waitValue
           && ok;
}

void Init::takeNextLine()
{
    Box &b = box();
    b.commandClock.start();
    const QString line = b.commands.takeFirst();
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString first = words.value(0);
    if (first == QLatin1String("delay")) {
        b.delayMs = words.value(1).toInt();
    } else if (first == QLatin1String("wait")) {
        b.waitText = words.value(1).toUpper();
        b.waitValue = words.value(2).toLong();
    } else {
        QString answer;
        const int result = sendCommand(line, answer);
        if (result != CommandOk) {
            setDriveStatusText(tr("Error: %1").arg(errorText(result)));
            requestTransition<Error>();
        }
    }
}

void Init::cycle()
{
    if (ZorModStartStop::take(*this, nullptr, isStop) == ZorModStartStop::Stop) {
        requestTransition<Shutdown>();
        flushLog();
        return;
    }

    Box &b = box();
    if (!b.waitText.isEmpty()) {
        if (waitEnded()) {
            b.waitText.clear();
        } else if (b.commandClock.elapsed() > InitTimeoutMs) {
            // A controller that never answers the wait must not hold the
            // module in Init for ever.
            setDriveStatusText(tr("Init timeout"));
            requestTransition<Error>();
        }
    } else {
        if (b.delayMs > 0 && b.commandClock.elapsed() > b.delayMs)
            b.delayMs = 0;
        if (b.delayMs <= 0) {
            if (!b.commands.isEmpty()) {
                takeNextLine();
            } else if (b.commandClock.elapsed() <= InitTimeoutMs) {
                requestTransition<Operating>();
            } else {
                setDriveStatusText(tr("Init timeout"));
                requestTransition<Error>();
            }
        }
    }
    flushLog();
}

// --- Operating ---------------------------------------------------------------------

void Operating::entry()
{
    setStatus(1);
    setDriveStatusText(tr("Operating"));
    Box &b = box();
    b.lastTarget = doubleProperty(X::TargetPosition);
    b.lastVelocity = intProperty(X::TargetVelocity);
    b.positionRead = b.errorRead = false;
    b.statusPollClock.start();
    module()->setCycleTime(OperatingCycleMs);
    if (simulated())
        b.random.seed(quint32(QDateTime::currentMSecsSinceEpoch()));
}

void Operating::exit()
{
    module()->setCycleTime(DefaultCycleMs);
}

bool Operating::handleRequests()
{
    ZorModule *m = module();
    m->clearInQueue(ZorModule::FromSlaves);
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (isStop(message)) {
            answer(message);
            requestTransition<Shutdown>();
            return false;
        }
        if (message.isRequest() && message.msgType() == KM_DRIVE_GO_TO_EXTENDED) {
            bool ok = false;
            const double wanted = message.data().toString().trimmed().toDouble(&ok);
            if (!ok)
                continue;
            const double min = doubleProperty(X::TargetPositionMin);
            const double max = doubleProperty(X::TargetPositionMax);
            setProperty(X::TargetPosition, fourDecimals(qMin(qMax(wanted, min), max)));
        }
    }
    return true;
}

void Operating::move()
{
    Box &b = box();
    int failure = CommandOk;
    QString answer;
    auto send = [&](const QString &command) {
        const int result = sendCommand(command, answer);
        if (result != CommandOk)
            failure = result;
        return result == CommandOk;
    };

    const double target = doubleProperty(X::TargetPosition);
    const int velocity = intProperty(X::TargetVelocity);
    if (b.lastStatus != 2 && std::fabs(target - b.lastTarget) > 0.0001) {
        b.lastTarget = target;
        if (send(QStringLiteral("SP%1").arg(increments(intProperty(X::PositionVelocity)))))
            send(QStringLiteral("G%1").arg(qMax<qint64>(0, increments(target))));
    } else if (velocity != b.lastVelocity) {
        const int old = b.lastVelocity;
        if (velocity >= 1) {
            if (old < 1)
                send(QStringLiteral("SM"));
            if (send(QStringLiteral("SP%1").arg(increments(velocity))) && old <= 0)
                send(QStringLiteral("JP"));
        } else if (velocity < 0) {
            if (old >= 0)
                send(QStringLiteral("SM"));
            if (send(QStringLiteral("SP%1").arg(increments(-velocity))) && old >= 0)
                send(QStringLiteral("JN"));
        } else {
            send(QStringLiteral("SM"));
        }
        // Ending a jog must not start a move back to the old target.
        b.lastVelocity = velocity;
        const QString actual = fourDecimals(doubleProperty(X::ActualPosition));
        setProperty(X::TargetPosition, actual);
        b.lastTarget = actual.toDouble();
    }
    if (failure != CommandOk) {
        setStatus(2000);
        setDriveStatusText(tr("Error: %1").arg(errorText(failure)));
    }
}

void Operating::sendManualCommand()
{
    const QString command = property(X::ManualCommand);
    if (command.isEmpty())
        return;
    setProperty(X::ManualCommand, QString());
    QString answer;
    const int result = sendCommand(command, answer);
    if (result != CommandOk) {
        setProperty(X::ManualCommandAnswer, tr("Error: %1").arg(errorText(result)));
        return;
    }
    answer.replace(QLatin1Char('\n'), QLatin1String("[LF]"));
    answer.replace(QLatin1Char('\r'), QLatin1String("[CR]"));
    setProperty(X::ManualCommandAnswer, answer);
}

qint64 Operating::simulatedPosition()
{
    Box &b = box();
    const double actual = doubleProperty(X::ActualPosition);
    if (b.lastVelocity != 0)
        return increments(actual + b.lastVelocity / 10.0);
    const double distance = b.lastTarget - actual;
    if (std::fabs(distance) > 0.01) {
        const double step = intProperty(X::PositionVelocity) / 10.0;
        if (std::fabs(distance) < step)
            return increments(b.lastTarget);
        return increments(actual + (distance > 0 ? step : -step));
    }
    // At rest the encoder shows a little noise around the target: up to two
    // increments either way, drawn evenly.
    return qint64(b.lastTarget * incrementsPerMm() + b.random.bounded(4.0) - 2.0);
}

void Operating::poll()
{
    Box &b = box();
    QString command;
    if (b.positionRead) {
        command = QStringLiteral("TP");
    } else if (b.errorRead) {
        command = QStringLiteral("TE");
    } else if (b.statusPollClock.elapsed() > pollInterval()) {
        b.statusPollClock.start();
        command = QStringLiteral("TS");
    } else {
        return;
    }
    QString answer;
    if (sendCommand(command, answer) != CommandOk) {
        setStatus(1000);
        setDriveStatusText(tr("Error with cmd %1").arg(command));
        return;
    }
    const QStringList parts = answerParts(answer);
    if (parts.size() < 2)
        return;
    const QString echo = parts.at(0);
    if (echo == QLatin1String("TS")) {
        int value = parts.at(1).trimmed().toInt();
        if (simulated())
            value = std::fabs(b.lastTarget - doubleProperty(X::ActualPosition)) > 0.01 ? 2 : 1;
        b.lastStatus = value;
        if (value == 9) {
            setStatus(1000);
            b.errorRead = true;
            return;
        }
        if (value == 2) {
            setStatus(2);
            setDriveStatusText(ccmMode() ? tr("CCM Moving") : tr("Moving"));
        } else {
            setStatus(1);
            setDriveStatusText(ccmMode() ? tr("CCM On") : tr("On"));
        }
        b.positionRead = true;
    } else if (echo == QLatin1String("TP")) {
        const qint64 position = simulated() ? simulatedPosition() : parts.at(1).trimmed().toLongLong();
        const double mm = double(position) / incrementsPerMm();
        setProperty(X::ActualPosition, fourDecimals(mm));
        sendToMaster(ZorMessage(KM_GET_ACTUAL_POSITION, KS_INFO, mm));
        b.positionRead = false;
    } else if (echo == QLatin1String("TE")) {
        b.lastError = parts.at(1).trimmed().toInt();
        setDriveStatusText(tr("Xenax Error #%1").arg(b.lastError));
        b.errorRead = false;
        b.positionRead = true;
    }
}

void Operating::cycle()
{
    if (handleRequests()) {
        if (!ccmMode())
            move();
        sendManualCommand();
        poll();
    }
    flushLog();
}

// --- Shutdown ----------------------------------------------------------------------

void Shutdown::entry()
{
    setStatus(1000);
    setDriveStatusText(tr("Power Quit"));
}

void Shutdown::exit()
{
    setDriveStatusText(tr("Disconnecting"));
}

void Shutdown::cycle()
{
    QString answer;
    sendCommand(QStringLiteral("PQ"), answer);
    sendCommand(QStringLiteral("MD0"), answer);
    requestTransition<Idle>();
    flushLog();
}

// --- Error -------------------------------------------------------------------------

void Error::entry()
{
    setStatus(2000);
}

void Error::cycle()
{
    const ZorModStartStop::Request request = ZorModStartStop::take(*this, isStart, isStop);
    if (request == ZorModStartStop::Start)
        requestTransition<Connected>();
    else if (request == ZorModStartStop::Stop)
        requestTransition<Idle>();
    flushLog();
}

} // namespace DriveXenaxStates
