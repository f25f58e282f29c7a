// The drive's maintenance states: a new node id and / or bit rate through
// LSS (ChangeNodeParameters), the wait for the drive's boot-up that follows
// (WaitForReboot), the restore of the factory parameters (ResetToFactory)
// and the start of the drive's program (StartApplication). Each is entered
// through CommInit with the request pending; the state that follows answers
// it (Idle KS_ANSWER, Error KS_FAIL).
#include "zormodposdrivestates.h"

#include "zorbabelfish.h"
#include "zordriveprofile.h"
#include "zormodposdrive.h"

namespace ZorNodeStates {

namespace {

ZorMessage interview(const QString &lines)
{
    return ZorMessage(KM_INTERVIEW, KS_REQUEST, lines);
}

bool isAnswerTo(const ZorMessage &message, const ZorMessage &interview)
{
    return message == interview && message.msgType() == KM_INTERVIEW && !message.isRequest()
        && message.msgState() != KS_WAITING && message.msgState() != KS_INFO;
}

// Why the gateway refused an LSS line: the text after "error - " in the
// failed line's answer ("LSSNodeParameters:...:error - 2 LSS slaves ...").
QString lssRefusal(const QString &answer)
{
    for (const QString &line : answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1String("LSSNodeParameters:")))
            continue;
        const int at = line.indexOf(QLatin1String(":error - "));
        if (at >= 0)
            return line.mid(at + 9);
    }
    return QString();
}

} // namespace

// ---- ChangeNodeParameters ----------------------------------------------------------

void ChangeNodeParameters::entry()
{
    Box &c = box();
    ZorModPosDrive::NodeParameters &d = nodeParameters();
    setStatus(StatusMaintenance);
    setStatusText(tr("Preparing config. change"));

    c.changeNodeId = d.newNodeId >= 1 && d.newNodeId <= 127;
    if (!c.changeNodeId)
        d.newNodeId = 0;
    c.changeBitRate = d.newBitRate > 0;
    c.active = c.changeNodeId || c.changeBitRate;
    c.aborted = false;
    c.lssSent = false;
    DriveRoot::box().newIdBooted = false;
    // Opening communication for a global change looked for no node id (the
    // drive may have none yet); later starts do again.
    NodeRoot::box().autoIdEnabled = true;

    // A selective LSS switch needs the drive's whole LSS address: vendor id,
    // product code, revision and serial number (1018h sub 1 to 4). A
    // global change needs nothing of the drive: an unconfigured one has no
    // node id to be asked by. The gateway gives a node id globally only
    // when a single LSS slave answers, so nothing on the bus is reset or
    // changed when others are there.
    QString prepare;
    if (d.readSerial) {
        for (int sub = 1; sub <= 4; ++sub)
            prepare += QStringLiteral("SDOReadObject:1000:2:%1,1018h,%2h,unsigned32\n").arg(nodeId()).arg(sub);
    }
    if (nodeId() >= 1 && nodeId() <= 127)
        prepare += QStringLiteral("SDOWriteObject:1000:0:%1,3500h,3h,unsigned8,0:noresponse\n").arg(nodeId());
    else
        prepare += QStringLiteral("Wait:0:0\n");
    c.prepareInterview = interview(prepare);
    c.failInterview = interview(QStringLiteral("Wait:%1:0\n").arg(0));
    c.successInterview = interview(QStringLiteral("Wait:%1:0\n").arg(0));
    c.lssInterview = ZorMessage();
    if (!c.active)
        return;
    sendToSlaves(c.prepareInterview, true);
}

QString ChangeNodeParameters::changeText() const
{
    const Box &c = box();
    const ZorModPosDrive::NodeParameters &d = nodeParameters();
    QString text;
    if (c.changeNodeId && c.changeBitRate)
        text = tr("Set Node ID = %1, Baud Rate = %2").arg(d.newNodeId).arg(d.newBitRate);
    else if (c.changeNodeId)
        text = tr("Set Node ID = %1").arg(d.newNodeId);
    else
        text = tr("Set Node Baud Rate = %1").arg(d.newBitRate);
    if (d.serialNumber != 0)
        text += tr(" (serial no. %1)").arg(d.serialNumber);
    else
        text += tr(" (global)");
    return text;
}

void ChangeNodeParameters::fail(const QString &text)
{
    NodeRoot::box().errorText = text;
    requestTransition<Error>();
}

void ChangeNodeParameters::takePrepareAnswer(const ZorMessage &answer)
{
    Box &c = box();
    ZorModPosDrive::NodeParameters &d = nodeParameters();
    if (c.aborted) {
        // Stopped before the LSS line went out: none is sent.
        fail(tr("Aborted - ") + statusText());
        return;
    }
    const bool accepted = answer.msgState() == KS_ANSWER || (answer.msgState() == KS_TIMEOUT && !d.readSerial);
    if (!accepted) {
        sendToSlaves(c.failInterview, true);
        return;
    }
    if (d.readSerial) {
        // The answer's first four lines: vendor id, product code, revision
        // and serial number.
        const QStringList lines = answer.data().toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        quint32 address[4] = {};
        for (int i = 0; i < 4; ++i) {
            qint64 value = 0;
            if (!ZorDriveProfile::lastNumber(lines.value(i), value) || value < 0 || value > 0xFFFFFFFFLL) {
                sendToSlaves(c.failInterview, true);
                return;
            }
            address[i] = quint32(value);
        }
        if (address[3] == 0) {
            sendToSlaves(c.failInterview, true);
            return;
        }
        for (int i = 0; i < 3; ++i)
            d.identity[i] = address[i];
        d.serialNumber = address[3];
    }
    setStatusText(changeText());
    const bool selective = d.serialNumber != 0;
    QString lssLine = QStringLiteral("LSSNodeParameters:30000:0:%1,%2,%3,%4")
                          .arg(selective ? QStringLiteral("s") : QStringLiteral("g"))
                          .arg(selective ? d.serialNumber : 0u)
                          .arg(d.newNodeId)
                          .arg(d.newBitRate);
    // With the identity read, the gateway sends all four switch state
    // selective frames and awaits the drive's answer.
    if (selective && d.readSerial)
        lssLine += QStringLiteral(",%1,%2,%3").arg(d.identity[0]).arg(d.identity[1]).arg(d.identity[2]);
    c.lssInterview = interview(lssLine + QLatin1Char('\n'));
    c.lssSent = true;
    sendToSlaves(c.lssInterview, true);
}

void ChangeNodeParameters::takeSuccess()
{
    const Box &c = box();
    setStatusText(tr("Success - ") + statusText());
    if (!c.changeBitRate) {
        requestTransition<WaitForReboot>();
        return;
    }
    // The interface follows the drive to its new bit rate: closed, the rate
    // set, and opened again by CommInit.
    showResultText(tr("Changing CAN interface baudr."));
    sendToSlaves(ZorMessage(KM_COMM_CLOSE, KS_REQUEST, QString()), true);
    sendToSlaves(ZorMessage(KM_COMM_SET_BAUD, KS_REQUEST, QString::number(nodeParameters().newBitRate)), true);
    setContinuation<WaitForReboot>(Opened);
    requestTransition<CommInit>();
}

void ChangeNodeParameters::cycle()
{
    Box &c = box();
    if (!c.active) {
        requestTransition<Idle>();
        return;
    }
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        if (message.msgType() == KM_STOP || message.msgType() == KM_DRIVE_STOP) {
            makePending(message);
            c.aborted = true;
        } else {
            rejectRequest(message);
        }
    }
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (handleAccessKeyAnswer(message))
            continue;
        if (isAnswerTo(message, c.failInterview)) {
            QString text = (c.aborted ? tr("Aborted - ") : tr("Failed - ")) + statusText();
            if (!c.refusal.isEmpty())
                text += QStringLiteral(": ") + c.refusal;
            if (c.refusal.contains(QLatin1String("slaves answered")))
                text += tr(". Disconnect the other devices or use 'Change Node ID'.");
            fail(text);
            return;
        }
        // An unconfigured drive takes its new id at once and boots with it,
        // before the wait for its boot-up has begun.
        if (c.lssSent && message.msgType() == KM_CANOPEN_BOOTUP && c.changeNodeId
            && message.data().toInt() == nodeParameters().newNodeId) {
            DriveRoot::box().newIdBooted = true;
            continue;
        }
        if (isAnswerTo(message, c.successInterview)) {
            takeSuccess();
            return;
        }
        if (c.lssSent && isAnswerTo(message, c.lssInterview)) {
            if (message.msgState() == KS_ANSWER) {
                if (c.changeNodeId)
                    setNodeId(nodeParameters().newNodeId);
                sendToSlaves(c.successInterview, true);
            } else {
                c.refusal = lssRefusal(message.data().toString());
                sendToSlaves(c.failInterview, true);
            }
            continue;
        }
        if (!c.lssSent && isAnswerTo(message, c.prepareInterview)) {
            takePrepareAnswer(message);
            if (!c.lssSent)
                return;
        }
    }
}

// ---- WaitForReboot --------------------------------------------------------------------

void WaitForReboot::entry()
{
    NodeRoot::Box &b = NodeRoot::box();
    setStatus(StatusWaitForReboot);
    box().keptText = statusText();
    box().timeoutMs = driveTiming(ZorModPosDrive::RebootTimeout);
    box().clock.start();
    if (b.resultShown)
        b.resultTimer.start();
    else
        setStatusText(tr("Waiting for Drive/Voltage Reset"));
}

void WaitForReboot::cycle()
{
    NodeRoot::Box &b = NodeRoot::box();
    ZorMessage message;
    bool masterEmpty = true;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        masterEmpty = false;
        if (!message.isRequest())
            continue;
        Outcome outcome = handleDriveRequest(message);
        if (outcome == NotHandled)
            outcome = handleCommonRequest(message);
        if (outcome == NotHandled) {
            rejectRequest(message);
            continue;
        }
        setStatusText(QStringLiteral("Drive Reset still missing"));
        return;
    }
    if (DriveRoot::box().newIdBooted) {
        DriveRoot::box().newIdBooted = false;
        showResultText(box().keptText);
        requestTransition<Idle>();
        return;
    }
    if (masterEmpty) {
        while (module()->getMessage(ZorModule::FromSlaves, message)) {
            if (message.msgType() == KM_CANOPEN_BOOTUP && message.data().toInt() == nodeId()) {
                showResultText(box().keptText);
                requestTransition<Idle>();
                return;
            }
            handleAccessKeyAnswer(message);
        }
    }
    if (b.resultShown && b.resultTimer.elapsed() > timing(ZorModNode::ResultHold)) {
        b.resultShown = false;
        setStatusText(tr("Waiting for Drive/Voltage Reset"));
    }
    // A drive that never boots again must not hold the module here for good.
    // The change itself was made and stored: a warning, not an error.
    if (box().clock.elapsed() > box().timeoutMs) {
        setStatus(StatusIdle);
        showResultText(tr("Warning: no boot-up of node %1 within %2 s; switch the drive off and on to use "
                          "its new settings")
                           .arg(nodeId())
                           .arg(box().timeoutMs / 1000.0));
        requestTransition<Idle>();
    }
}

// ---- ResetToFactory -------------------------------------------------------------------

void ResetToFactory::entry()
{
    setStatus(StatusFactoryReset);
    setStatusText(tr("Resetting to Factory Settings"));
    cancelObjectLists();
    sendAccessKey();
    NodeRoot::box().lastListAnswer = ZorMessage();
    box().resetRequest = ZorMessage(KM_OBJLIST_WRITE, KS_REQUEST, QStringLiteral("ResetCmd"));
    queueObjectList(box().resetRequest);
}

bool ResetToFactory::resetFinished()
{
    const ZorMessage &answer = NodeRoot::box().lastListAnswer;
    if (answer != box().resetRequest)
        return false;
    if (answer.msgState() == KS_ANSWER) {
        showResultText(tr("Reset to Factory successful"));
        requestTransition<Idle>();
    } else {
        NodeRoot::box().errorText = tr("Reset to Factory failed");
        requestTransition<Error>();
    }
    return true;
}

void ResetToFactory::cycle()
{
    processObjectListQueue();
    if (resetFinished())
        return;
    // Nothing else is served while the drive resets.
    rejectMasterRequests();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        handleObjectListAnswer(message);
        handleAccessKeyAnswer(message);
        if (resetFinished())
            return;
    }
}

// ---- StartApplication -----------------------------------------------------------------

void StartApplication::entry()
{
    setStatus(StatusRestart);
    setStatusText(tr("Exit bootloader / (Re)start Application"));
    box().restartInterview =
        interview(QStringLiteral("SDOWriteObject:1000:10:%1,1f51h,1h,unsigned8,%2\n").arg(nodeId()).arg(1));
    sendToSlaves(box().restartInterview, true);
}

void StartApplication::cycle()
{
    rejectMasterRequests();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (!isAnswerTo(message, box().restartInterview))
            continue;
        if (message.msgState() == KS_ANSWER) {
            showResultText(tr("Restart successful"));
            requestTransition<Idle>();
        } else {
            NodeRoot::box().errorText = tr("Restart failed");
            requestTransition<Error>();
        }
        return;
    }
}

} // namespace ZorNodeStates
