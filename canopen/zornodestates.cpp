#include "zornodestates.h"

#include "zormodcanopengateway.h"
#include "zormodnode.h"
#include "zormodule.h"

namespace ZorNodeStates {

namespace {

bool isStartRequest(int type)
{
    return type == KM_START || type == KM_DRIVE_START;
}

bool isStopRequest(int type)
{
    return type == KM_STOP || type == KM_DRIVE_STOP;
}

bool isObjectList(int type)
{
    return type == KM_OBJLIST_WRITE || type == KM_OBJLIST_READ;
}

// The node id a scan answered: its first line ends with the ids found
// ("ScanIds:5000:0::3,5"); the first of them. 0 when there is no number.
int firstScannedNode(const QString &answer)
{
    const QString ids = answer.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(':'), -1);
    bool ok = false;
    const int node = ids.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    return ok && node >= 1 && node <= 127 ? node : 0;
}

} // namespace

// ---- NodeRoot -----------------------------------------------------------------

void NodeRoot::entry()
{
    Box &b = box();
    b.resultShown = false;
    b.commOpen = false;
    b.objectTableRequest = false;
    b.accessKeyAccepted = false;
    b.autoIdEnabled = true;
    cancelObjectLists(false);
}

void NodeRoot::init()
{
    setContinuation<NodeError>(Failed);
    setContinuation<NodeStopped>(Fallback);
}

void NodeRoot::cycle()
{
    if (ZorModule *m = module()) {
        if (m->type() == QLatin1String("uipanel"))
            box().autoIdEnabled = false;
    }
    requestTransition<NodeStopped>();
}

ZorModNode *NodeRoot::node() const
{
    return qobject_cast<ZorModNode *>(module());
}

int NodeRoot::timing(int which) const
{
    const ZorModNode::Timing t = ZorModNode::Timing(which);
    ZorModNode *n = node();
    return n ? n->timing(t) : ZorModNode::defaultTiming(t);
}

int NodeRoot::nodeId() const
{
    bool ok = false;
    const int id = property(QStringLiteral("NodeId")).trimmed().toInt(&ok);
    return ok ? id : 0;
}

void NodeRoot::setNodeId(int id)
{
    setProperty(QStringLiteral("NodeId"), QString::number(id), true);
}

bool NodeRoot::forwardSlaveMessages() const
{
    return property(QStringLiteral("ForwardSlaveMessages")).trimmed().toInt() > 0;
}

void NodeRoot::answerPendingCommand(bool ok)
{
    Box &b = box();
    const int state = b.pendingCommand.msgState();
    if (b.pendingCommand.msgType() != KM_UNDEFINED && (state == KS_REQUEST || state == KS_WAITING)) {
        ZorMessage answer = b.pendingCommand;
        answer.setMsgState(ok ? KS_ANSWER : KS_FAIL);
        sendToMaster(answer, true);
    }
    b.pendingCommand = ZorMessage();
}

void NodeRoot::showResultText(const QString &text)
{
    Box &b = box();
    setStatusText(text);
    b.resultShown = true;
    b.resultTimer.start();
}

void NodeRoot::enterIdle()
{
    Box &b = box();
    b.errorText.clear();
    if (b.resultShown) {
        b.resultTimer.start();
    } else {
        setStatusText(tr("Idle"));
        setStatus(StatusIdle);
    }
}

bool NodeRoot::updateIdleText()
{
    Box &b = box();
    if (b.resultShown && b.resultTimer.elapsed() > timing(ZorModNode::ResultHold)) {
        b.resultShown = false;
        setStatusText(tr("Idle"));
        setStatus(StatusIdle);
    }
    if (b.errorText.isEmpty())
        return false;
    showResultText(tr("Warning: %1").arg(b.errorText));
    b.errorText.clear();
    return true;
}

void NodeRoot::setContinuation(int key, const Macho::StateRef &target)
{
    box().continuations.insert(key, target);
}

Macho::StateRef NodeRoot::continuation(int key) const
{
    return box().continuations.value(key, NodeRoot::makeStateRef());
}

bool NodeRoot::goToContinuation(int key)
{
    const Box &b = box();
    auto it = b.continuations.constFind(key);
    if (it != b.continuations.constEnd()) {
        requestRefTransition(it.value());
        return true;
    }
    it = b.continuations.constFind(Fallback);
    if (it != b.continuations.constEnd())
        requestRefTransition(it.value());
    return false;
}

bool NodeRoot::handleMasterRequest(const ZorMessage &message)
{
    if (!message.isRequest())
        return true;
    Box &b = box();
    const int type = message.msgType();
    if (isStartRequest(type)) {
        b.pendingCommand = message;
        if (machine().inState<NodeStopped>()) {
            setContinuation<NodeStarted>(Opened);
            requestTransition<CommInit>();
            return false;
        }
        answerPendingCommand(true);
        return true;
    }
    if (isStopRequest(type)) {
        b.pendingCommand = message;
        bool leaving = false;
        if (!machine().inState<NodeStopped>()) {
            // What runs is answered now, so that a cancelled interview's late
            // answer finds nothing waiting (it would lead to NodeError).
            cancelObjectLists(false);
            cancelGatewayInterviews();
            requestTransition<NodeStopped>();
            leaving = true;
        }
        answerPendingCommand(true);
        return !leaving;
    }
    if (type == KM_MASTER_OUT) {
        const ZorMessage out(message.data().toString(), 1);
        sendToSlaves(out, !out.hasOrigin());
        return true;
    }
    return true;
}

bool NodeRoot::processMessages()
{
    Box &b = box();
    ZorModule *m = module();
    if (!m)
        return true;

    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest()) {
            // The framework's answer to a property change comes this way: a
            // newly entered access key is to be written.
            if (message.msgType() == KM_SETPROPERTY && message.msgState() == KS_ANSWER && b.accessKeyOnChange
                && ZorModule::propertyKey(message.data().toString().section(QLatin1Char('='), 0, 0))
                    == QLatin1String("AccessKeySet"))
                b.accessKeyPending = true;
            continue;
        }
        if (!handleMasterRequest(message))
            return false;
        if (isObjectList(message.msgType())) {
            queueObjectList(message);
            if (machine().inState<ReadWriteObjects>())
                continue;
            if (b.commOpen) {
                requestTransition<ReadWriteObjects>();
            } else {
                setContinuation<ReadWriteObjects>(Opened);
                requestTransition<CommInit>();
            }
            return false;
        }
    }

    while (m->getMessage(ZorModule::FromSlaves, message)) {
        if (forwardSlaveMessages() && !message.isRequest() && message.hasOrigin()
            && message.msgType() != KM_LOGTEXT && message.msgType() != KM_SNIFFER_MSG)
            sendToMaster(message, false);
        if (handleAccessKeyAnswer(message))
            continue;
        if (!handleObjectListAnswer(message))
            continue;
        if (message.msgState() != KS_ANSWER && message.msgState() != KS_INFO) {
            requestTransition<NodeError>();
            return false;
        }
    }

    if (b.accessKeyPending && b.commOpen && nodeId() > 0) {
        b.accessKeyPending = false;
        sendAccessKey();
    }
    processObjectListQueue();
    return true;
}

void NodeRoot::rejectMasterRequests()
{
    ZorModule *m = module();
    if (!m)
        return;
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        message.setMsgState(KS_REJECT);
        sendToMaster(message, true);
    }
}

void NodeRoot::cancelGatewayInterviews(bool beforeStop)
{
    sendToSlaves(ZorMessage(KM_CANCEL_INTERVIEWS, KS_REQUEST,
                            beforeStop ? ZorModCanOpenGateway::stopCancelData() : QString()),
                 true);
}

// ---- CommInit -------------------------------------------------------------------

void CommInit::entry()
{
    NodeRoot::Box &b = NodeRoot::box();
    b.commOpen = false;
    setStatus(StatusStarting);
    if (!b.resultShown)
        setStatusText(tr("Start communication"));
    b.commOpenRequest = ZorMessage(KM_COMM_OPEN, KS_REQUEST, QString());
    sendToSlaves(b.commOpenRequest, true);
    b.errorText.clear();
    b.resultShown = false;
    box().clock.start();
}

void CommInit::cycle()
{
    NodeRoot::Box &b = NodeRoot::box();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (message != b.commOpenRequest || message.isRequest())
            continue;
        // A slave that does not carry communication refuses the request (the
        // node modules that the network manager keeps below itself); the
        // gateway's answer decides.
        if (message.msgState() == KS_REJECT)
            continue;
        if (message.msgState() == KS_ANSWER) {
            if (b.autoIdEnabled && nodeId() == 0) {
                requestTransition<CommAutoId>();
            } else {
                b.commOpen = true;
                goToContinuation(Opened);
            }
        } else {
            b.errorText = tr("Communication init failed");
            goToContinuation(Failed);
        }
        return;
    }
    // A gateway that never answers must not hold the node here for good.
    if (box().clock.elapsed() > timing(ZorModNode::CommOpenTimeout)) {
        b.errorText = tr("Communication init failed");
        goToContinuation(Failed);
    }
}

// ---- CommAutoId -----------------------------------------------------------------

void CommAutoId::entry()
{
    Box &a = box();
    setStatus(StatusGettingId);
    if (!NodeRoot::box().resultShown)
        setStatusText(tr("Getting Node ID"));
    a.timeoutMs = timing(ZorModNode::AutoIdTimeout);
    if (a.timeoutMs <= 0)
        a.timeoutMs = module()->type() == QLatin1String("drive_tamrix") ? 60000 : 5000;
    a.scan = ZorMessage(KM_INTERVIEW, KS_REQUEST, QStringLiteral("ScanIds:%1:0\n").arg(a.timeoutMs));
    a.timer.start();
    a.failed = false;
    sendToSlaves(a.scan, true);
}

void CommAutoId::cycle()
{
    Box &a = box();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (message != a.scan || message.isRequest())
            continue;
        const int found = message.msgState() == KS_ANSWER ? firstScannedNode(message.data().toString()) : 0;
        if (!found) {
            // No node, or an answer without a number: never node id 0.
            a.failed = true;
            continue;
        }
        setStatusText(tr("Setting Node ID = %1").arg(found));
        setNodeId(found);
        NodeRoot::box().commOpen = true;
        goToContinuation(Opened);
        return;
    }
    if (a.failed || a.timer.elapsed() > a.timeoutMs + timing(ZorModNode::AutoIdGrace)) {
        NodeRoot::box().errorText = tr("Failed to Get Node ID");
        goToContinuation(Failed);
    }
}

// ---- NodeStarted ------------------------------------------------------------------

void NodeStarted::entry()
{
    NodeRoot::Box &b = NodeRoot::box();
    if (b.resultShown) {
        b.startedTextTimer.start();
    } else {
        setStatus(StatusStarted);
        setStatusText(tr("Started"));
    }
    // A start that went through CommInit is answered once the node runs.
    answerPendingCommand(true);
}

void NodeStarted::cycle()
{
    if (!processMessages())
        return;
    NodeRoot::Box &b = NodeRoot::box();
    const int hold = timing(ZorModNode::ResultHold);
    // A result stays for the hold time after it was shown and after the
    // return here, whichever is later.
    if (b.resultShown && (!b.startedTextTimer.isValid() || b.startedTextTimer.elapsed() > hold)
        && b.resultTimer.elapsed() > hold) {
        setStatus(StatusStarted);
        setStatusText(tr("Started"));
        b.resultShown = false;
    }
}

// ---- ReadWriteObjects ---------------------------------------------------------------

void ReadWriteObjects::cycle()
{
    const NodeRoot::Box &b = NodeRoot::box();
    if (b.currentObjectList.msgState() != KS_WAITING && b.objectListQueue.isEmpty()) {
        requestTransition<NodeStarted>();
        return;
    }
    processMessages();
}

// ---- NodeStopped, NodeError ---------------------------------------------------------

void NodeStopped::entry()
{
    setStatus(StatusIdle);
    setStatusText(tr("Idle"));
}

void NodeStopped::cycle()
{
    processMessages();
}

void NodeError::entry()
{
    NodeRoot::Box &b = NodeRoot::box();
    answerPendingCommand(false);
    setStatus(StatusError);
    if (!b.errorText.isEmpty()) {
        setStatusText(tr("Error: %1").arg(b.errorText));
        b.errorText.clear();
    }
}

void NodeError::cycle()
{
    processMessages();
}

} // namespace ZorNodeStates
