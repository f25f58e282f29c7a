// The drive's root with the request handling that Idle and Error share, and
// the states Idle, Startup and Error.
#include <QDebug>
#include "zormodposdrivestates.h"

#include "zorbabelfish.h"
#include "zordriveprofile.h"
#include "zormodposdrive.h"

#include <QDebug>

namespace ZorNodeStates {

namespace {

bool isObjectList(int type)
{
    return type == KM_OBJLIST_WRITE || type == KM_OBJLIST_READ;
}

bool isFinal(int state)
{
    return state != KS_REQUEST && state != KS_WAITING && state != KS_INFO;
}

// The serial number field of a node parameter request ("read" or a number).
void takeSerial(ZorModPosDrive::NodeParameters &d, const QString &field)
{
    const QString serial = field.trimmed().toLower();
    d.readSerial = serial == QLatin1String("read");
    d.serialNumber = d.readSerial ? 0 : ZorBabelFish::stringToULong(serial);
    d.identity[0] = d.identity[1] = d.identity[2] = 0;
}

} // namespace

// ---- DriveRoot ------------------------------------------------------------------

void DriveRoot::entry()
{
    Box &d = box();
    d.actualPosition = 0.0;
    d.actualVelocity = 0;
    d.statusWord = 0;
    d.controlWord = 0;
    d.lastStatusAnswer.start();
    d.scriptStatus = -1;
    d.scriptOutputLine.clear();
    d.scriptOutputSource = QStringLiteral("0");
    // The drive writes an entered access key itself (checkAccessKey).
    NodeRoot::box().accessKeyOnChange = false;
}

void DriveRoot::init()
{
    setContinuation<Error>(Failed);
    setContinuation<Idle>(Fallback);
}

void DriveRoot::cycle()
{
    // Only once, right after the module started: a key stored with the
    // project is not written behind the user's back.
    if (ZorModPosDrive *m = drive())
        m->forgetAccessKey();
    setProperty(QStringLiteral("AccessKeySet"), QString(), false);
    // The bus is listened to from the start: a drive's own script prints
    // through emergencies whether or not the drive was started from here.
    // Communication counts as open only once CommInit has opened it.
    sendToSlaves(ZorMessage(KM_COMM_OPEN, KS_REQUEST, QString()), true);
    requestTransition<Idle>();
}

ZorModPosDrive *DriveRoot::drive() const
{
    return qobject_cast<ZorModPosDrive *>(module());
}

ZorModPosDrive::NodeParameters &DriveRoot::nodeParameters() const
{
    return drive()->nodeParameters;
}

QList<ZorMessage> &DriveRoot::deferredRequests() const
{
    return drive()->deferredRequests;
}

int DriveRoot::driveTiming(int which) const
{
    const ZorModPosDrive *m = drive();
    return m ? m->driveTiming(ZorModPosDrive::DriveTiming(which)) : 0;
}

int DriveRoot::intProperty(const char *name) const
{
    bool ok = false;
    const int value = property(QLatin1String(name)).trimmed().toInt(&ok);
    return ok ? value : 0;
}

double DriveRoot::doubleProperty(const char *name) const
{
    bool ok = false;
    const double value = property(QLatin1String(name)).trimmed().toDouble(&ok);
    return ok ? value : 0.0;
}

void DriveRoot::makePending(const ZorMessage &request)
{
    NodeRoot::Box &b = NodeRoot::box();
    const int state = b.pendingCommand.msgState();
    if (b.pendingCommand.msgType() != KM_UNDEFINED && (state == KS_REQUEST || state == KS_WAITING))
        answerRequest(b.pendingCommand, KS_REJECT);
    b.pendingCommand = request;
}

void DriveRoot::answerRequest(ZorMessage request, int state, const QVariant &data)
{
    request.setMsgState(state);
    if (data.isValid())
        request.setData(data);
    sendToMaster(request, true);
}

void DriveRoot::rejectHeldRequests()
{
    for (const ZorMessage &held : qAsConst(box().heldRequests))
        rejectRequest(held);
    box().heldRequests.clear();
}

DriveRoot::Outcome DriveRoot::handleDriveRequest(const ZorMessage &request)
{
    ZorModPosDrive::NodeParameters &d = nodeParameters();
    switch (request.msgType()) {
    case KM_START:
    case KM_DRIVE_START:
        makePending(request);
        setContinuation<Startup>(Opened);
        requestTransition<CommInit>();
        return Leaving;
    case KM_STOP:
    case KM_DRIVE_STOP:
        if (machine().inState<Error>() && NodeRoot::box().commOpen && nodeId() != 0) {
            // The drive may have been left enabled: the stop sequence goes
            // out (again), and only the drive's taking it leads to Idle.
            makePending(request);
            cancelGatewayInterviews(true);
            box().errorStop = ZorMessage(KM_INTERVIEW, KS_REQUEST, ZorDriveProfile::stopInterview(nodeId()));
            sendToSlaves(box().errorStop, true);
            return Handled;
        }
        makePending(request);
        NodeRoot::box().resultShown = false;
        setStatusText(tr("Idle"));
        setStatus(StatusIdle);
        answerPendingCommand(true);
        requestTransition<Idle>();
        return Leaving;
    case KM_DRIVE_NEW_ID:
    case KM_DRIVE_NEW_COMM_PARAMETERS: {
        const QString data = request.data().toString();
        const QString first = data.section(QLatin1Char(','), 0, 0).trimmed();
        const bool newId = request.msgType() == KM_DRIVE_NEW_ID;
        d.newNodeId = newId ? quint8(ZorBabelFish::stringToUShort(first)) : 0;
        d.newBitRate = newId ? 0 : ZorBabelFish::fromSuffixedStrToNumber(first);
        takeSerial(d, data.section(QLatin1Char(','), 1, 1));
        // A global change addresses whatever LSS slave is there, also one
        // without a node id: opening communication does not go looking for
        // the drive's node id first (its scan resets every node).
        if (!d.readSerial && d.serialNumber == 0)
            NodeRoot::box().autoIdEnabled = false;
        return enterMaintenance<ChangeNodeParameters>(request);
    }
    case KM_DRIVE_RESET: {
        const int what = request.data().toInt();
        if (what == 2)
            return enterMaintenance<ResetToFactory>(request);
        if (what == 1)
            return enterMaintenance<StartApplication>(request);
        // Stays pending: the next state entered answers it.
        makePending(request);
        return Handled;
    }
    case KM_DRIVE_DOWNLOAD_START:
        return enterMaintenance<Downloading>(request);
    default:
        return NotHandled;
    }
}

DriveRoot::Outcome DriveRoot::handleCommonRequest(const ZorMessage &request)
{
    if (request.msgType() == KM_MASTER_OUT) {
        const ZorMessage out(request.data().toString(), 1);
        sendToSlaves(out, !out.hasOrigin());
        return Handled;
    }
    if (request.msgType() == KM_SCRIPT_CONTROL)
        return handleScriptControl(request);
    if (!isObjectList(request.msgType()))
        return NotHandled;
    queueObjectList(request);
    if (!NodeRoot::box().commOpen || nodeId() == 0) {
        // Back here once communication is open; the list waits in the queue.
        setContinuation<Idle>(Opened);
        requestTransition<CommInit>();
        return Leaving;
    }
    return Handled;
}

bool DriveRoot::readRequests()
{
    ZorMessage message;
    while (!deferredRequests().isEmpty() && NodeRoot::box().commOpen && nodeId() != 0) {
        if (handleCommonRequest(deferredRequests().takeFirst()) == Leaving)
            return false;
    }
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        Outcome outcome = handleDriveRequest(message);
        if (outcome == NotHandled)
            outcome = handleCommonRequest(message);
        if (outcome == NotHandled)
            rejectRequest(message);
        if (outcome == Leaving)
            return false;
    }
    return true;
}

bool DriveRoot::handleDriveMessage(const ZorMessage &message)
{
    if (takeScriptStatus(message))
        return true;
    // The CAN interface's bit rate, asked for by a panel (KM_MASTER_OUT) or
    // announced when it changes: the panels propose it for a new rate.
    const int type = message.msgType();
    const QString text = message.data().toString();
    if ((type == KM_GETPROPERTY || type == KM_SETPROPERTY) && !message.isRequest()
        && ZorModule::propertyKey(text.section(QLatin1Char('='), 0, 0)) == QLatin1String("Baudrate")) {
        sendToMaster(ZorMessage(KM_SETPROPERTY, KS_INFO,
                                QStringLiteral("InterfaceBaudrate=") + text.section(QLatin1Char('='), 1)),
                     true);
        return true;
    }
    if (message.msgType() == KM_CANOPEN_EMERGENCY) {
        handleEmergency(message);
        return true;
    }
    if (handleAccessKeyAnswer(message) || handleObjectListAnswer(message))
        return true;
    if (message.isRequest() || !isFinal(message.msgState()))
        return false;
    Box &d = box();
    for (int i = 0; i < d.motionRequests.size(); ++i) {
        if (d.motionRequests.at(i).interview != message)
            continue;
        const ZorMessage request = d.motionRequests.takeAt(i).request;
        answerRequest(request, message.msgState());
        const QString failure = failureText(message.msgState());
        if (!failure.isEmpty())
            NodeRoot::box().errorText = failure;
        return true;
    }
    return false;
}

ZorMessage DriveRoot::sendMotionInterview(const QString &lines, const ZorMessage &request)
{
    const ZorMessage interview(KM_INTERVIEW, KS_REQUEST, lines);
    box().motionRequests.append({interview, request});
    sendToSlaves(interview, true);
    return interview;
}

bool DriveRoot::checkAccessKey()
{
    Box &d = box();
    const NodeRoot::Box &b = NodeRoot::box();
    ZorModPosDrive *m = drive();
    if (m && m->takeAccessKeyPending()) {
        d.accessKeyToSend = true;
        if (!b.commOpen || nodeId() == 0) {
            // The key goes out when Idle is entered again.
            setContinuation<Idle>(Opened);
            requestTransition<CommInit>();
            return false;
        }
    }
    if (d.accessKeyToSend && b.commOpen && nodeId() != 0) {
        d.accessKeyToSend = false;
        sendAccessKey();
    }
    return true;
}

void DriveRoot::resetSetPoint(bool forced)
{
    Box &d = box();
    if (!(forced || (d.statusWord & ZorDriveProfile::SetPointAcknowledge))
        || !(d.controlWord & ZorDriveProfile::NewSetPointBit))
        return;
    d.controlWord &= ~int(ZorDriveProfile::NewSetPointBit);
    qDebug().noquote() << "reset set point bit";
    sendToSlaves(ZorMessage(KM_INTERVIEW, KS_REQUEST,
                            ZorDriveProfile::line(ZorDriveProfile::ControlWordWrite, nodeId(), d.controlWord)),
                 true);
}

QString DriveRoot::failureText(int state)
{
    switch (state) {
    case KS_REJECT:
        return tr("Command Rejected");
    case KS_FAIL:
        return tr("Command Failed");
    case KS_TIMEOUT:
        return tr("Timeout");
    default:
        return QString();
    }
}

// ---- Idle -----------------------------------------------------------------------

void Idle::entry()
{
    rejectHeldRequests();
    enterIdle();
    answerPendingCommand(true);
    for (const ZorMessage &stop : qAsConst(DriveRoot::box().repeatedStops))
        answerRequest(stop, KS_ANSWER);
    DriveRoot::box().repeatedStops.clear();
}

void Idle::cycle()
{
    if (!readRequests())
        return;
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message))
        handleDriveMessage(message);

    if (updateIdleText())
        setStatus(StatusIdle);
    processObjectListQueue();
    checkAccessKey();
}

// ---- Startup --------------------------------------------------------------------

void Startup::entry()
{
    DriveRoot::Box &d = DriveRoot::box();
    setStatusText(tr("Init"));
    setStatus(StatusInit);
    d.scriptOutputLine.clear();
    d.scriptOutputSource = QStringLiteral("0");
    sendAccessKey();
    box().interview = ZorMessage(KM_INTERVIEW, KS_REQUEST, ZorDriveProfile::startupInterview(nodeId()));
    sendToSlaves(box().interview, true);
    d.controlWord = ZorDriveProfile::SwitchOn;
}

void Startup::cycle()
{
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        if (message.msgType() == KM_STOP || message.msgType() == KM_DRIVE_STOP) {
            answerPendingCommand(false);
            makePending(message);
            cancelGatewayInterviews();
            requestTransition<Idle>();
            return;
        }
        // Object lists wait for the running drive; nothing else is served
        // while it starts.
        if (isObjectList(message.msgType()))
            queueObjectList(message);
        else
            rejectRequest(message);
    }

    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (handleDriveMessage(message))
            continue;
        // Only the start-up interview decides; other answers (a late object
        // list, say) do not end the start.
        if (message != box().interview || message.msgType() != KM_INTERVIEW || !isFinal(message.msgState()))
            continue;
        if (message.msgState() == KS_ANSWER) {
            const QStringList lines = ZorDriveProfile::answerLines(message.data().toString());
            auto factor = [&lines](int index) {
                qint64 value = 0;
                if (!ZorDriveProfile::lastNumber(lines.value(index), value) || value <= 0 || value > 0xFFFFFFFFLL)
                    return quint32(1);
                return quint32(value);
            };
            DriveRoot::Box &d = DriveRoot::box();
            d.positionNumerator = factor(ZorDriveProfile::NumeratorLine);
            d.positionDenominator = factor(ZorDriveProfile::DenominatorLine);
            requestTransition<Operational>();
            return;
        }
        if (message.msgState() == KS_FAIL)
            NodeRoot::box().errorText = tr("Init Failed");
        else if (message.msgState() == KS_TIMEOUT)
            NodeRoot::box().errorText = tr("Timeout");
        requestTransition<Error>();
        return;
    }
}

// ---- Error ----------------------------------------------------------------------

void Error::entry()
{
    NodeRoot::Box &b = NodeRoot::box();
    rejectHeldRequests();
    DriveRoot::box().errorStop = ZorMessage();
    b.autoIdEnabled = true;
    answerPendingCommand(false);
    for (const ZorMessage &stop : qAsConst(DriveRoot::box().repeatedStops))
        answerRequest(stop, KS_FAIL);
    DriveRoot::box().repeatedStops.clear();
    // Requests that waited for communication which did not open.
    if (!b.commOpen) {
        for (const ZorMessage &request : qAsConst(deferredRequests()))
            answerRequest(request, KS_FAIL);
        deferredRequests().clear();
    }
    setStatus(StatusError);
    setStatusText(b.errorText.isEmpty() ? tr("Error") : tr("Error: %1").arg(b.errorText));
    b.errorText.clear();
}

void Error::cycle()
{
    if (!readRequests())
        return;
    ZorMessage message;
    DriveRoot::Box &d = DriveRoot::box();
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (message != d.errorStop || message.isRequest() || !isFinal(message.msgState())) {
            handleDriveMessage(message);
            continue;
        }
        d.errorStop = ZorMessage();
        if (message.msgState() == KS_ANSWER) {
            NodeRoot::box().resultShown = false;
            requestTransition<Idle>();
            return;
        }
        NodeRoot::box().errorText = tr("Stop failed, the drive may still be enabled");
        answerPendingCommand(false);
    }
    NodeRoot::Box &b = NodeRoot::box();
    if (!b.errorText.isEmpty()) {
        setStatusText(tr("Error: %1").arg(b.errorText));
        b.errorText.clear();
    }
    // An object list's result may show, but the drive stays in the error band.
    setStatus(StatusError);
    processObjectListQueue();
}

} // namespace ZorNodeStates
