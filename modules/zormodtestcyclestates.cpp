#include "zormodtestcyclestates.h"

#include "zormodtestcycle.h"
#include "zormovefailure.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

namespace TestCycle {

namespace {

const int HomingMethod = 35;
const int HomingPauseMs = 1000;
const int FinalWaitMs = 1000;
const int FirstHalfCycleExtraMs = 5000;
const int ProfilePositionMode = 1;
const int HomingMode = 6;

const QString HeaderLine = QStringLiteral(
    "Test Cycle Count\t%1\nDrive\t# Positions\t# Accepted\t# Errors\t# Skipped (previous target not reached)");

ZorModTestCycle *testCycle(ZorModule *module)
{
    return static_cast<ZorModTestCycle *>(module);
}

} // namespace

// --- Root --------------------------------------------------------------------------

void Root::init()
{
    requestTransition<Idle>();
}

QString Root::timeStamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    return QStringLiteral("%1\t%2\n").arg(now.date().toString(Qt::ISODate), now.time().toString(Qt::ISODate));
}

QString Root::reportText() const
{
    return box().reportLines.join(QLatin1Char('\n'));
}

void Root::resetCycleData()
{
    const bool homing = box().homingRequested;
    box() = Box();
    box().homingRequested = homing;
}

int Root::intProperty(const QString &name) const
{
    const QString text = property(name).trimmed();
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : int(text.toDouble());
}

double Root::floatProperty(const QString &name) const
{
    return property(name).trimmed().toDouble();
}

void Root::sendToAllDrives(int type, const QVariant &data)
{
    sendToSlaves(ZorMessage(type, KS_REQUEST, data));
}

bool Root::isStop(const ZorMessage &message)
{
    return message.isRequest() && (message.msgType() == KM_DRIVE_STOP || message.msgType() == KM_STOP);
}

// --- Idle --------------------------------------------------------------------------

void Idle::entry()
{
    setStatus(0);
}

QString Idle::startRefusal(bool homing) const
{
    if (module()->slaveTypes().isEmpty())
        return homing ? tr("No drives to home: link drives to the test cycle")
                      : tr("No drives to cycle: link drives to the test cycle");
    if (!homing && (intProperty(QStringLiteral("CycleTime1")) <= 0 || intProperty(QStringLiteral("CycleTime2")) <= 0))
        return tr("Cycle times must be above 0 ms");
    return QString();
}

void Idle::cycle()
{
    ZorModule *m = module();
    m->clearInQueue(ZorModule::FromSlaves);
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        const bool start = message.msgType() == KM_DRIVE_START;
        const bool homing = message.msgType() == KM_DRIVE_START_HOMING;
        if (!start && !homing)
            continue;
        // A start that cannot run is answered, so that the panel returns to
        // its idle look and says why.
        const QString refusal = startRefusal(homing);
        if (!refusal.isEmpty()) {
            setStatusText(refusal);
            message.setMsgState(KS_FAIL);
            message.setData(refusal);
            sendToMaster(message);
            continue;
        }
        Root::box().homingRequested = homing;
        requestTransition<Initializing>();
        return;
    }
}

// --- Initializing ------------------------------------------------------------------

void Initializing::entry()
{
    // A new run starts from nothing: no count, label or stop request of the
    // previous run is carried over.
    resetCycleData();
    if (Root::box().homingRequested) {
        setStatus(1001);
        setStatusText(tr("Init Homing"));
    } else {
        setStatus(1000);
        setStatusText(tr("Init Test Cycle"));
    }
    Root::box().phaseTimer.start();
    sendToAllDrives(KM_DRIVE_START);
}

void Initializing::cycle()
{
    ZorModule *m = module();
    m->clearInQueue(ZorModule::FromSlaves);
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (isStop(message)) {
            sendToAllDrives(KM_DRIVE_STOP);
            requestTransition<Idle>();
            return;
        }
    }
    if (Root::box().phaseTimer.elapsed() >= testCycle(m)->initWaitMs()) {
        if (Root::box().homingRequested)
            requestTransition<Homing>();
        else
            requestTransition<Cycling>();
    }
}

// --- Homing ------------------------------------------------------------------------

void Homing::entry()
{
    setStatus(2);
    setStatusText(tr("Homing all Drives (Pos = 0)"));
    sendToAllDrives(KM_SET_PROFILE_MODE, HomingMode);
    box().clock.start();
}

void Homing::exit()
{
    sendToAllDrives(KM_DRIVE_STOP);
}

void Homing::cycle()
{
    module()->clearInQueue(ZorModule::FromSlaves);
    if (box().clock.elapsed() < HomingPauseMs)
        return;
    if (!box().requestsSent) {
        sendToAllDrives(KM_SETPROPERTY, QStringLiteral("TargetPosition=0"));
        sendToAllDrives(KM_DRIVE_START_HOMING, HomingMethod);
        box().requestsSent = true;
        box().clock.restart();
        return;
    }
    requestTransition<Idle>();
}

// --- Cycling -----------------------------------------------------------------------

void Cycling::entry()
{
    Root::Box &c = Root::box();
    setStatus(1);
    setStatusText(tr("Test Cycle Running"));
    sendToAllDrives(KM_SET_PROFILE_MODE, ProfilePositionMode);
    c.statsFileName = QStringLiteral("testcycle_stats_%1.txt")
                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh_mm_ss")));
    const QMap<QString, QString> slaves = module()->slaveTypes();
    c.driveCount = slaves.size();
    if (c.driveCount == 0)
        return;   // cycle() sends the module back to Idle
    const int time1 = intProperty(QStringLiteral("CycleTime1"));
    const int time2 = intProperty(QStringLiteral("CycleTime2"));
    c.stepIntervalMs = (time1 < time2 ? time1 : time2) / (2 * c.driveCount);
    c.positionIndex = 2;
    c.cycleCount = 0;
    c.firstHalfCycle = true;
    c.halfCycleDue = true;
    c.stopRequested = false;
    c.driveLabels.clear();
    c.positionsSent.clear();
    c.accepted.clear();
    c.errors.clear();
    c.skipped.clear();
    c.minimum.clear();
    c.maximum.clear();
    c.reportLines = QStringList{HeaderLine.arg(0)};
    for (auto it = slaves.cbegin(); it != slaves.cend(); ++it) {
        c.driveLabels.append(it.key());
        c.positionsSent.append(0);
        c.accepted.append(0);
        c.errors.append(0);
        c.skipped.append(0);
        c.minimum.append(QString());
        c.maximum.append(QString());
        c.reportLines.append(QString());
        updateReportLine(c.driveLabels.size() - 1);
    }
    setStatusText(timeStamp() + QStringLiteral("Init ") + reportText());
    for (const char *name : {"TargetPositionMin", "TargetPositionMax"})
        sendToAllDrives(KM_GETPROPERTY, QString::fromLatin1(name));
}

void Cycling::exit()
{
    sendToAllDrives(KM_DRIVE_STOP);
}

void Cycling::cycle()
{
    Root::Box &c = Root::box();
    if (c.driveCount == 0) {
        // The drives were unlinked while the run started.
        const QString reason = tr("No drives to cycle: link drives to the test cycle");
        setStatusText(reason);
        sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO, reason));
        requestTransition<Idle>();
        return;
    }
    readStopRequests();
    countAnswers();
    if (!beginHalfCycleIfDue())
        return;
    const QString timeName = QStringLiteral("CycleTime%1").arg(c.positionIndex);
    const qint64 halfCycleMs = qint64(intProperty(timeName)) + (c.firstHalfCycle ? FirstHalfCycleExtraMs : 0);
    if (c.nextDrive < c.driveCount) {
        if (c.phaseTimer.elapsed() >= qint64(c.stepIntervalMs) * c.nextDrive)
            commandNextDrive();
    } else if (c.phaseTimer.elapsed() > halfCycleMs) {
        c.halfCycleDue = true;
        c.firstHalfCycle = false;
    }
}

void Cycling::readStopRequests()
{
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (isStop(message)) {
            setStatus(1002);
            setStatusText(tr("Stopping at Position 2"));
            Root::box().stopRequested = true;
        }
    }
}

void Cycling::countAnswers()
{
    Root::Box &c = Root::box();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (message.msgType() == KM_GETPROPERTY && message.isAnswer()) {
            const int drive = c.driveLabels.indexOf(message.origin());
            const QString text = message.data().toString();
            const QString name = text.section(QLatin1Char('='), 0, 0);
            if (drive >= 0 && name == QLatin1String("TargetPositionMin"))
                c.minimum[drive] = text.section(QLatin1Char('='), 1);
            else if (drive >= 0 && name == QLatin1String("TargetPositionMax"))
                c.maximum[drive] = text.section(QLatin1Char('='), 1);
            continue;
        }
        if (message.msgType() != KM_DRIVE_GO_TO_EXTENDED || message.isRequest())
            continue;
        const int drive = c.driveLabels.indexOf(message.recipient());
        if (drive < 0)
            continue;
        if (message.msgState() == KS_ANSWER) {
            ++c.accepted[drive];
        } else if (message.msgState() == KS_CANCEL) {
            ++c.skipped[drive];
        } else {
            ++c.errors[drive];
            reportFailedMove(drive, message);
        }
        updateReportLine(drive);
    }
}

void Cycling::reportFailedMove(int drive, const ZorMessage &answer)
{
    const Root::Box &c = Root::box();
    const QString target = answer.data().toString().section(QLatin1Char(','), 0, 0);
    sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO,
                            ZorMoveFailure::text(c.driveLabels.at(drive), target, answer.msgState(),
                                                 c.minimum.at(drive), c.maximum.at(drive))));
}

bool Cycling::beginHalfCycleIfDue()
{
    Root::Box &c = Root::box();
    if (!c.halfCycleDue)
        return true;
    if (c.stopRequested && c.positionIndex == 2) {
        const int time2 = intProperty(QStringLiteral("CycleTime2"));
        if (c.phaseTimer.elapsed() >= qint64(time2) + FinalWaitMs) {
            writeStatistics();
            setStatusText(timeStamp() + QStringLiteral("Final ") + reportText());
            sendToAllDrives(KM_DRIVE_STOP);
            requestTransition<Idle>();
        }
        return false;
    }
    if (c.positionIndex == 2) {
        writeStatistics();
        setStatusText(timeStamp() + reportText());
        ++c.cycleCount;
        updateHeaderLine();
    }
    c.halfCycleDue = false;
    c.positionIndex = 3 - c.positionIndex;
    c.nextDrive = 0;
    c.phaseTimer.restart();
    return true;
}

void Cycling::commandNextDrive()
{
    Root::Box &c = Root::box();
    const int drive = c.nextDrive++;
    // The slaves may have been relinked since the run began: a drive that is
    // no longer linked is passed over rather than addressed blindly.
    const QString label = c.driveLabels.at(drive);
    if (!module()->slaveTypes().contains(label))
        return;
    ZorMessage move(KM_DRIVE_GO_TO_EXTENDED, KS_REQUEST, moveText());
    move.setRecipient(label);
    sendToSlaves(move);
    ++c.positionsSent[drive];
    updateReportLine(drive);
}

QString Cycling::moveText() const
{
    const int n = Root::box().positionIndex;
    const QString position = QString::number(floatProperty(QStringLiteral("Position%1").arg(n)), 'f', 3);
    const QString flags = intProperty(QStringLiteral("CheckTargetReached")) > 0 ? QStringLiteral("t") : QString();
    if (intProperty(QStringLiteral("UseProfileParameters")) <= 0)
        return position + QLatin1Char(',') + flags;
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(position, flags)
        .arg(intProperty(QStringLiteral("Velocity%1").arg(n)))
        .arg(intProperty(QStringLiteral("Acceleration%1").arg(n)))
        .arg(intProperty(QStringLiteral("Deceleration%1").arg(n)));
}

void Cycling::updateReportLine(int drive)
{
    Root::Box &c = Root::box();
    c.reportLines[drive + 1] = QStringList{c.driveLabels.at(drive), QString::number(c.positionsSent.at(drive)),
                                           QString::number(c.accepted.at(drive)),
                                           QString::number(c.errors.at(drive)),
                                           QString::number(c.skipped.at(drive))}
                                   .join(QLatin1Char('\t'));
}

void Cycling::updateHeaderLine()
{
    Root::box().reportLines[0] = HeaderLine.arg(Root::box().cycleCount);
}

void Cycling::writeStatistics()
{
    if (intProperty(QStringLiteral("DebugMode")) <= 0)
        return;
    QFile file(Root::box().statsFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << timeStamp() << reportText();
}

} // namespace TestCycle
