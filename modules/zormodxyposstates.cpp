#include "zormodxyposstates.h"

#include "zormodxypos.h"
#include "zormovefailure.h"

#include <QDebug>

namespace XYPanel {

namespace {

const QString DriveLabelX = QStringLiteral("DriveLabelX");
const QString DriveLabelY = QStringLiteral("DriveLabelY");
const QString InterfaceLabel = QStringLiteral("InterfaceLabel");
const QString SendSeqName = QStringLiteral("SendSeqName");

bool isReport(const ZorMessage &message)
{
    return message.msgState() == KS_INFO || message.msgState() == KS_ANSWER;
}

bool isDriveType(const QString &type)
{
    return type == QLatin1String("drive_canopen");
}

bool isInterfaceType(const QString &type)
{
    return type == QLatin1String("canusb") || type == QLatin1String("ethernet");
}

} // namespace

// --- Root --------------------------------------------------------------------------

void Root::init()
{
    requestTransition<Idle>();
}

bool Root::isDriveX(const ZorMessage &message) const
{
    return message.origin() == property(DriveLabelX);
}

bool Root::isDriveY(const ZorMessage &message) const
{
    return message.origin() == property(DriveLabelY);
}

bool Root::interfaceRunning() const
{
    return box().interfaceStatus == 1 || property(InterfaceLabel).isEmpty();
}

bool Root::isStop(const ZorMessage &message)
{
    return message.isRequest() && (message.msgType() == KM_DRIVE_STOP || message.msgType() == KM_STOP);
}

void Root::splitProperty(const QString &text, QString &name, QString &value)
{
    const int eq = text.indexOf(QLatin1Char('='));
    name = eq < 0 ? text : text.left(eq);
    value = eq < 0 ? QString() : text.mid(eq + 1);
}

void Root::processDriveMsgBasic(const ZorMessage &message)
{
    const int type = message.msgType();
    if (isReport(message) && message.hasOrigin()) {
        if (type == KM_STATUS || type == KM_INFOTEXT) {
            ZorMessage report(message);
            report.setMsgState(KS_INFO);
            sendToMaster(report, false);
        }
        qDebug().noquote() << QStringLiteral("Root::processDriveMsgBasic msg = %1").arg(message.toString(3));
        if (type == KM_STATUS) {
            const int status = message.data().toInt();
            const QString origin = message.origin();
            if (origin == property(DriveLabelX))
                box().statusX = status;
            if (origin == property(DriveLabelY))
                box().statusY = status;
            if (origin == property(InterfaceLabel)) {
                box().interfaceStatus = status;
                if (status != 1) {
                    box().syncTargetX = true;
                    box().syncTargetY = true;
                }
            }
        }
    }
    if (type == KM_GETPROPERTY || type == KM_SETPROPERTY) {
        QString name, value;
        splitProperty(message.data().toString(), name, value);
        const QChar last = name.isEmpty() ? QChar() : name.back();
        if (name.contains(SendSeqName) && last >= QLatin1Char('0') && last <= QLatin1Char('2'))
            setProperty(name, value);
    }
}

bool Root::assignLabels(bool askNamesAlways)
{
    const QMap<QString, QString> slaves = module()->slaveTypes();
    const QString oldX = property(DriveLabelX);
    const QString oldY = property(DriveLabelY);
    const QString oldInterface = property(InterfaceLabel);
    QString x = slaves.contains(oldX) ? oldX : QString();
    QString y = slaves.contains(oldY) ? oldY : QString();
    QString interface;
    for (auto it = slaves.cbegin(); it != slaves.cend(); ++it) {
        const QString &label = it.key();
        if (isDriveType(it.value())) {
            if (x.isEmpty() && label != y)
                x = label;
            else if (y.isEmpty() && label != x)
                y = label;
        } else if (isInterfaceType(it.value())) {
            interface = label;
        }
    }
    setProperty(DriveLabelX, x);
    setProperty(DriveLabelY, y);
    setProperty(InterfaceLabel, interface);
    if (!interface.isEmpty() && (askNamesAlways || interface != oldInterface)) {
        for (int n = 0; n <= 2; ++n)
            sendToLabel(KM_GETPROPERTY, interface, SendSeqName + QString::number(n));
    }
    box().slaves = slaves;
    box().slavesSeen = true;
    return x != oldX || y != oldY;
}

bool Root::followSlaveMap()
{
    const QMap<QString, QString> slaves = module()->slaveTypes();
    if (!box().slavesSeen) {
        box().slaves = slaves;
        box().slavesSeen = true;
        return false;
    }
    if (slaves == box().slaves)
        return false;
    return assignLabels(false);
}

void Root::sendToLabel(int type, const QString &label, const QVariant &data)
{
    ZorMessage message(type, KS_REQUEST, data);
    message.setRecipient(label);   // an empty label reaches every slave
    sendToSlaves(message);
}

void Root::sendTarget(const QString &driveLabel, const QString &target)
{
    sendToLabel(KM_SETPROPERTY, driveLabel, QStringLiteral("TargetPosition=") + target);
    sendToLabel(KM_DRIVE_GO_TO_TARGET, driveLabel, 1);
    sendToMaster(ZorMessage(KM_NEW_POSITION_RUN, KS_INFO, driveLabel));
}

// --- Idle --------------------------------------------------------------------------

void Idle::entry()
{
    setStatus(0);
    Root::box().statusX = 0;
    Root::box().statusY = 0;
}

void Idle::cycle()
{
    ZorModule *m = module();
    followSlaveMap();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message))
        processDriveMsgBasic(message);
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        if (message.msgType() == KM_ASSIGN_SLAVES) {
            assignSlaves(message);
        } else if (message.msgType() == KM_DRIVE_START) {
            requestTransition<Initializing>();
            return;
        }
    }
}

void Idle::assignSlaves(ZorMessage request)
{
    assignLabels(true);
    request.setMsgState(KS_ANSWER);
    request.setData(property(DriveLabelX) + QLatin1Char(',') + property(DriveLabelY) + QLatin1Char(',')
                    + property(InterfaceLabel));
    sendToMaster(request);
}

// --- an axis that went -------------------------------------------------------------

namespace {

// In Initializing and Positioning: an axis drive unlinked under the running
// positioning ends it.
bool axisWent(Root &state)
{
    if (!state.followSlaveMap())
        return false;
    state.sendToSlaves(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
    state.sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO,
                                  Root::tr("An axis drive is no longer linked: positioning stopped.")));
    return true;
}

} // namespace

// --- Initializing ------------------------------------------------------------------

void Initializing::entry()
{
    setStatus(1000);
    sendToLabel(KM_DRIVE_START, property(DriveLabelX));
    sendToLabel(KM_DRIVE_START, property(DriveLabelY));
}

void Initializing::cycle()
{
    ZorModule *m = module();
    if (axisWent(*this)) {
        requestTransition<Idle>();
        return;
    }
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message))
        processDriveMsgBasic(message);
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (isStop(message)) {
            sendToSlaves(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
            requestTransition<Idle>();
            return;
        }
    }
    const auto running = [](int status) { return status >= 1 && status <= 999; };
    if (running(Root::box().statusX) && running(Root::box().statusY))
        requestTransition<Positioning>();
}

// --- Positioning -------------------------------------------------------------------

void Positioning::entry()
{
    setStatus(1);
    box().settleTimer.start();
    box().lastTargetX = property(QStringLiteral("TargetX"));
    box().lastTargetY = property(QStringLiteral("TargetY"));
    box().pendingX = false;
    box().pendingY = false;
    box().actualSeenX = false;
    box().actualSeenY = false;
    Root::box().syncTargetX = true;
    Root::box().syncTargetY = true;
    sendToSlaves(ZorMessage(KM_SET_PROFILE_MODE, KS_REQUEST, 1));
    sendToSlaves(ZorMessage(KM_GET_ACTUAL_POSITION, KS_REQUEST));
    for (const char *name : {"TargetPosition", "TargetPositionMin", "TargetPositionMax"})
        sendToSlaves(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QString::fromLatin1(name)));
}

void Positioning::exit()
{
    sendToSlaves(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
}

void Positioning::cycle()
{
    ZorModule *m = module();
    if (axisWent(*this)) {
        requestTransition<Idle>();
        return;
    }
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        processDriveMsgBasic(message);
        if (isReport(message))
            processDriveMsg(message);
        else if (message.msgType() == KM_DRIVE_GO_TO_TARGET && !message.isRequest())
            reportFailedMove(message);
    }
    if (readMasterMessages()) {
        takeChangedTargets();
        Box &p = box();
        if ((p.pendingX || p.pendingY) && p.settleTimer.elapsed() > ZorModXYPos::SettleMs) {
            if (p.pendingX)
                sendTarget(property(DriveLabelX), p.lastTargetX);
            if (p.pendingY)
                sendTarget(property(DriveLabelY), p.lastTargetY);
            p.pendingX = p.pendingY = false;
            p.settleTimer.restart();
        }
    } else {
        return;
    }
    const auto stopped = [](int status) { return status == 0 || status >= 1000; };
    if (stopped(Root::box().statusX) && stopped(Root::box().statusY))
        requestTransition<Idle>();
}

bool Positioning::readMasterMessages()
{
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        if (isStop(message)) {
            sendToSlaves(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
            requestTransition<Idle>();
            return false;
        }
        if (message.msgType() == KM_PLAYERCMD_PLAY) {
            // The interface has three send sequences: 0, 1 and 2.
            const QString data = message.data().toString();
            bool plain = false;
            const int sequence = data.trimmed().toInt(&plain);
            const int number = plain ? sequence : 0;
            if (number >= 0 && number <= 2)
                sendToSlaves(message);
        } else if (message.msgType() == KM_PLAYERCMD_STOP) {
            sendToSlaves(message);
        }
    }
    return true;
}

void Positioning::takeChangedTargets()
{
    Box &p = box();
    const Root::Box &r = Root::box();
    const QString targetX = property(QStringLiteral("TargetX"));
    const QString targetY = property(QStringLiteral("TargetY"));
    if (!r.syncTargetX && targetX != p.lastTargetX) {
        p.lastTargetX = targetX;
        p.pendingX = true;
        p.settleTimer.restart();
    }
    if (!r.syncTargetY && targetY != p.lastTargetY) {
        p.lastTargetY = targetY;
        p.pendingY = true;
        p.settleTimer.restart();
    }
}

void Positioning::processDriveMsg(const ZorMessage &message)
{
    const bool fromX = isDriveX(message);
    const bool fromY = isDriveY(message);
    if (!fromX && !fromY)
        return;
    const int type = message.msgType();
    const QString targetName = fromX ? QStringLiteral("TargetX") : QStringLiteral("TargetY");
    QString &lastTarget = fromX ? box().lastTargetX : box().lastTargetY;
    if (type == KM_GETPROPERTY || type == KM_SETPROPERTY) {
        QString name, value;
        splitProperty(message.data().toString(), name, value);
        const QString axis = fromX ? QStringLiteral("X") : QStringLiteral("Y");
        if (name == QLatin1String("TargetPosition")) {
            // The drive's last target stands for its position only until
            // the actual position arrives, and it is never sent back.
            const bool actualSeen = fromX ? box().actualSeenX : box().actualSeenY;
            if (!actualSeen && !value.trimmed().isEmpty()) {
                setProperty(targetName, value);
                lastTarget = value;
            }
        } else if (name == QLatin1String("TargetPositionMin")) {
            setProperty(QStringLiteral("Min") + axis, value);
        } else if (name == QLatin1String("TargetPositionMax")) {
            setProperty(QStringLiteral("Max") + axis, value);
        }
    } else if (type == KM_GET_ACTUAL_POSITION) {
        const QString actual = QString::number(message.data().toDouble(), 'f', 3);
        Root::Box &r = Root::box();
        bool &sync = fromX ? r.syncTargetX : r.syncTargetY;
        (fromX ? box().actualSeenX : box().actualSeenY) = true;
        setProperty(fromX ? QStringLiteral("ActualX") : QStringLiteral("ActualY"), actual);
        if (sync) {
            // Where the drive stands becomes the target, as the one already
            // taken: nothing moves until the target is changed.
            setProperty(targetName, actual);
            lastTarget = actual;
            if (interfaceRunning())
                sync = false;
        }
    }
}

void Positioning::reportFailedMove(const ZorMessage &answer)
{
    const bool fromX = isDriveX(answer);
    if ((!fromX && !isDriveY(answer)) || answer.msgState() == KS_ANSWER || answer.msgState() == KS_CANCEL)
        return;
    const QString axis = fromX ? QStringLiteral("X") : QStringLiteral("Y");
    sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO,
                            ZorMoveFailure::text(answer.origin(), fromX ? box().lastTargetX : box().lastTargetY,
                                                 answer.msgState(), property(QStringLiteral("Min") + axis),
                                                 property(QStringLiteral("Max") + axis))));
}

} // namespace XYPanel
