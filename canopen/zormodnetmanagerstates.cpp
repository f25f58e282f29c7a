#include "zormodnetmanagerstates.h"

#include "zormodnetmanager.h"
#include "zornetworkscan.h"

namespace ZorNodeStates {

namespace {

const QString ScanLine = QStringLiteral("ScanIds:0:0\n");

bool isObjectList(int type)
{
    return type == KM_OBJLIST_WRITE || type == KM_OBJLIST_READ;
}

bool isAnswerTo(const ZorMessage &message, const ZorMessage &request)
{
    return request.msgType() != KM_UNDEFINED && message == request && !message.isRequest();
}

} // namespace

// ---- MgrRoot --------------------------------------------------------------------

void MgrRoot::entry()
{
    readProjectTypes();
}

void MgrRoot::init()
{
    setContinuation<MgrError>(Failed);
    setContinuation<MgrIdle>(Fallback);
}

void MgrRoot::cycle()
{
    readProjectTypes();
    setContinuation<MgrError>(Failed);
    setContinuation<MgrIdle>(Fallback);
    // Opening communication never goes looking for a node id.
    NodeRoot::box().autoIdEnabled = false;
    requestTransition<MgrIdle>();
}

void MgrRoot::readProjectTypes()
{
    box().projectTypes = ZorNetworkScan::projectTypes(property(QStringLiteral("ProjectTypes")));
}

int MgrRoot::managerTiming(int which) const
{
    const auto t = ZorModNetManager::ManagerTiming(which);
    if (auto *manager = qobject_cast<ZorModNetManager *>(module()))
        return manager->managerTiming(t);
    return 0;
}

void MgrRoot::takeCommand(const ZorMessage &message)
{
    answerPendingCommand(false);
    NodeRoot::box().pendingCommand = message;
}

bool MgrRoot::takeMasterRequests()
{
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        const int type = message.msgType();
        if (type == KM_START) {
            takeCommand(message);
            const int job = message.data().toInt();
            if (job == 2) {
                requestTransition<BuildProject>();
            } else {
                if (job == 1)
                    setContinuation<NetScan>(Opened);
                else
                    setContinuation<StatusMon>(Opened);
                requestTransition<CommInit>();
            }
            return false;
        }
        if (type == KM_STOP) {
            takeCommand(message);
            answerPendingCommand(true);
            requestTransition<MgrIdle>();
            return false;
        }
        if (isObjectList(type))
            queueObjectList(message);
    }
    return true;
}

void MgrRoot::noteEmergency(const ZorMessage &message)
{
    if (message.msgType() != KM_CANOPEN_EMERGENCY)
        return;
    // "node,code,register,bytes": numbers in decimal, the bytes as text.
    const QString data = message.data().toString();
    bool ok = false;
    const int node = data.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    if (!ok || node != nodeId())
        return;
    const uint code = data.section(QLatin1Char(','), 1, 1).trimmed().toUInt();
    const uint reg = data.section(QLatin1Char(','), 2, 2).trimmed().toUInt();
    NodeRoot::box().errorText = tr("Emergency (%1h,%2h,%3)")
                                    .arg(QStringLiteral("%1").arg(code, 4, 16, QLatin1Char('0')),
                                         QStringLiteral("%1").arg(reg, 2, 16, QLatin1Char('0')),
                                         data.section(QLatin1Char(','), 3));
}

QString MgrRoot::addedLabel(const ZorMessage &answer)
{
    // A label can hold no comma (the list of created labels is
    // comma-separated), so an answer that echoes the command is none.
    const QString label = answer.data().toString().trimmed();
    if (answer.msgState() != KS_ANSWER || label.contains(QLatin1Char(',')))
        return QString();
    return label;
}

QString MgrRoot::builtByMark(const QString &label) const
{
    return module()->label() + QLatin1Char(':') + label;
}

void MgrRoot::sendNodeId(const QString &label, const QString &nodeId)
{
    ZorMessage message(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("NodeId=") + nodeId);
    message.setRecipient(label);
    sendToSlaves(message, true);
    ZorMessage mark(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("BuiltBy=") + builtByMark(label));
    mark.setRecipient(label);
    sendToSlaves(mark, true);
}

bool MgrRoot::takeLateAddAnswer(const ZorMessage &message, QStringList *created)
{
    QList<LateAdd> &late = box().lateAdds;
    for (int i = 0; i < late.size(); ++i) {
        if (!isAnswerTo(message, late.at(i).request))
            continue;
        const LateAdd add = late.takeAt(i);
        const QString label = addedLabel(message);
        if (!label.isEmpty() && created) {
            *created << label;
            sendNodeId(label, add.nodeId);
        } else if (!label.isEmpty()) {
            QStringList labels = property(QStringLiteral("ProjectLabelsCreated")).split(QLatin1Char(','), Qt::SkipEmptyParts);
            labels << label;
            setProperty(QStringLiteral("ProjectLabelsCreated"), labels.join(QLatin1Char(',')), true);
            sendNodeId(label, add.nodeId);
        }
        return true;
    }
    return false;
}

void MgrRoot::takeSlaveMessages()
{
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (takeLateAddAnswer(message))
            continue;
        noteEmergency(message);
        handleObjectListAnswer(message);
    }
}

// ---- MgrIdle ----------------------------------------------------------------------

void MgrIdle::entry()
{
    enterIdle();
}

void MgrIdle::cycle()
{
    if (!takeMasterRequests())
        return;
    takeSlaveMessages();
    updateIdleText();
}

// ---- NetScan ------------------------------------------------------------------------

void NetScan::entry()
{
    // The table is read afresh, so that a changed "ProjectTypes" counts.
    readProjectTypes();
    Box &s = box();
    NodeRoot::box().resultShown = false;
    setStatus(StatusScanning);
    setStatusText(tr("Scanning Network"));
    s.scanRequest = ZorMessage(KM_INTERVIEW, KS_REQUEST, ScanLine);
    sendToSlaves(s.scanRequest, true);
    s.budgetMs = managerTiming(ZorModNetManager::ScanTimeout);
    s.clock.start();
    answerPendingCommand(true);
}

void NetScan::cycle()
{
    Box &s = box();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        if (takeLateAddAnswer(message))
            continue;
        const bool scan = isAnswerTo(message, s.scanRequest);
        if (!scan && !isAnswerTo(message, s.identityRequest))
            continue;
        // The node modules below the manager refuse its interviews; only
        // the gateway's answer counts.
        if (message.msgState() == KS_REJECT)
            continue;
        if (message.msgState() != KS_ANSWER) {
            fail();
            return;
        }
        if (scan) {
            scanAnswered(message);
            if (s.identityRequest.msgType() == KM_UNDEFINED)
                return;
        } else {
            identitiesAnswered(message);
            return;
        }
    }
    // A gateway that never answers must not keep the manager here: requests
    // from the panel wait until the scan has ended.
    if (s.clock.elapsed() > s.budgetMs) {
        cancelGatewayInterviews();
        fail();
    }
}

void NetScan::scanAnswered(const ZorMessage &answer)
{
    Box &s = box();
    const QString ids = ZorNetworkScan::scanAnswerIds(answer.data().toString());
    setProperty(QStringLiteral("LastScanIds"), ids, true);
    setStatusText(tr("Node IDs found: %1. Now checking identities...").arg(ids));
    const QList<int> nodes = ZorNetworkScan::validNodeIds(ids);
    if (nodes.isEmpty()) {
        identitiesAnswered(ZorMessage(KM_INTERVIEW, KS_ANSWER, QString()));
        return;
    }
    s.identityRequest = ZorMessage(KM_INTERVIEW, KS_REQUEST, ZorNetworkScan::identityInterview(nodes));
    sendToSlaves(s.identityRequest, true);
    s.budgetMs = ZorNetworkScan::identityBudgetMs(nodes.size(),
                                                  managerTiming(ZorModNetManager::IdentityLineBudget));
    s.clock.start();
}

void NetScan::identitiesAnswered(const ZorMessage &answer)
{
    const QMap<QString, QString> &types = MgrRoot::box().projectTypes;
    QStringList configurable;
    for (const ZorNetworkScan::Identity &id : ZorNetworkScan::identities(answer.data().toString())) {
        setStatusText(ZorNetworkScan::identityText(id));
        if (id.node < 1 || id.node > 127)
            continue;
        const QString type = ZorNetworkScan::moduleTypeFor(types, id);
        if (!type.isEmpty())
            configurable << QStringLiteral("%1:%2").arg(id.node).arg(type);
    }
    const QString result = configurable.join(QStringLiteral(", "));
    setStatusText(tr("Nodes configurable by Quorvane: %1").arg(result));
    setProperty(QStringLiteral("ConfigurableIds"), result, true);
    setStatus(StatusIdle);
    showResultText(statusText());
    requestTransition<MgrIdle>();
}

void NetScan::fail()
{
    NodeRoot::box().errorText = tr("Failed to scan network");
    requestTransition<MgrError>();
}

// ---- StatusMon ------------------------------------------------------------------------

void StatusMon::entry()
{
    NodeRoot::box().resultShown = false;
    setStatusText(tr("Status Monitor"));
    setStatus(StatusStarted);
    answerPendingCommand(true);
}

void StatusMon::exit()
{
    cancelObjectLists();
}

void StatusMon::cycle()
{
    if (!takeMasterRequests())
        return;
    takeSlaveMessages();
    processObjectListQueue();
    // An emergency of the monitored node stays on display for the result
    // hold time.
    NodeRoot::Box &b = NodeRoot::box();
    if (!b.errorText.isEmpty()) {
        showResultText(tr("Warning: %1").arg(b.errorText));
        b.errorText.clear();
    } else if (b.resultShown && b.resultTimer.elapsed() > timing(ZorModNode::ResultHold)) {
        b.resultShown = false;
        setStatusText(tr("Status Monitor"));
    }
}

// ---- BuildProject -----------------------------------------------------------------------

namespace {

// The node and drive module types are those the manager takes as slaves of
// its own ("type+" in its accepted slave types).
bool isNodeModuleType(const ZorModule *manager, const QString &type)
{
    return manager->acceptedSlaveTypes().split(QLatin1Char(',')).contains(type + QLatin1Char('+'));
}

// "name=value" lines of a KM_GETALLPROPERTIES answer.
QMap<QString, QString> propertiesOf(const QString &text)
{
    QMap<QString, QString> values;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(ZorModule::propertyKey(line.left(eq)), line.mid(eq + 1));
    }
    return values;
}

} // namespace

void BuildProject::entry()
{
    Box &p = box();
    for (const QString &label : property(QStringLiteral("ProjectLabelsCreated")).split(QLatin1Char(','))) {
        if (!label.trimmed().isEmpty())
            p.labelsToRemove << label.trimmed();
    }
    NodeRoot::box().resultShown = false;
    setStatusText(tr("Building Project..."));
    setStatus(StatusBuilding);
    for (const auto &entry : ZorNetworkScan::configurableIds(property(QStringLiteral("ConfigurableIds")))) {
        p.ids << QString::number(entry.first);
        p.types << entry.second;
    }
    // The node and drive modules of the project are the manager's slaves:
    // each says what it is before the build touches anything.
    const QMap<QString, QString> slaves = module()->slaveTypes();
    for (auto it = slaves.cbegin(); it != slaves.cend(); ++it) {
        if (isNodeModuleType(module(), it.value()))
            p.awaited.insert(it.key());
    }
    p.survey = ZorMessage(KM_GETALLPROPERTIES, KS_REQUEST, QString());
    if (!p.awaited.isEmpty())
        sendToSlaves(p.survey, true);
    p.requestClock.start();
}

bool BuildProject::takeSurvey()
{
    Box &p = box();
    ZorMessage message;
    while (!p.awaited.isEmpty() && module()->getMessage(ZorModule::FromSlaves, message)) {
        if (isAnswerTo(message, p.survey) && p.awaited.remove(message.origin())) {
            p.modules.insert(message.origin(), propertiesOf(message.data().toString()));
            continue;
        }
        takeLateAddAnswer(message, &p.created);
    }
    // A module that never answers is taken as unknown: not removed.
    if (!p.awaited.isEmpty() && p.requestClock.elapsed() <= managerTiming(ZorModNetManager::AppControlTimeout))
        return false;
    p.awaited.clear();
    plan();
    p.surveyed = true;
    return true;
}

void BuildProject::plan()
{
    Box &p = box();
    // Removed: the modules the last build made that still carry its mark. A
    // module that took a freed label, or that lost the mark, is the user's.
    QStringList remove;
    for (const QString &label : qAsConst(p.labelsToRemove)) {
        if (!p.modules.contains(label))
            continue;   // gone already
        if (p.modules.value(label).value(QStringLiteral("BuiltBy")) == builtByMark(label))
            remove << label;
        else
            p.notes << tr("%1 kept (not made by this build)").arg(label);
    }
    p.labelsToRemove = remove;
    // Added: no second module for a node that one already addresses.
    for (int i = p.ids.size() - 1; i >= 0; --i) {
        for (auto it = p.modules.cbegin(); it != p.modules.cend(); ++it) {
            if (remove.contains(it.key()) || it.value().value(QStringLiteral("NodeId")).trimmed() != p.ids.at(i))
                continue;
            p.notes.prepend(tr("node %1 has %2 already").arg(p.ids.at(i), it.key()));
            p.ids.removeAt(i);
            p.types.removeAt(i);
            break;
        }
    }
}

void BuildProject::exit()
{
    // Stopped half-way: what is still in the project counts as created, so
    // that the next build removes it.
    const Box &p = box();
    if (p.finished)
        return;
    // An addition on its way may still be made; its answer is taken late.
    if (p.waitingFor.msgType() != KM_UNDEFINED && p.waitingFor == p.addRequest)
        MgrRoot::box().lateAdds.append({p.addRequest, p.ids.value(p.index)});
    QStringList left;
    if (!p.removing.isEmpty())
        left << p.removing;
    left << p.labelsToRemove << p.created;
    setProperty(QStringLiteral("ProjectLabelsCreated"), left.join(QLatin1Char(',')), true);
}

bool BuildProject::nextAnswer(ZorMessage &message)
{
    Box &p = box();
    if (module()->getMessage(ZorModule::FromSlaves, message))
        return true;
    if (p.waitingFor.msgType() != KM_UNDEFINED
        && p.requestClock.elapsed() > managerTiming(ZorModNetManager::AppControlTimeout)) {
        message = p.waitingFor;
        message.setMsgState(KS_TIMEOUT);
        return true;
    }
    return false;
}

void BuildProject::sendAppControl(ZorMessage &slot, const QString &command)
{
    Box &p = box();
    slot = ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST, command);
    sendToSlaves(slot, true);
    p.waitingFor = slot;
    p.requestClock.start();
}

bool BuildProject::sendNextRemoval()
{
    Box &p = box();
    p.removing.clear();
    if (p.labelsToRemove.isEmpty())
        return false;
    p.removing = p.labelsToRemove.takeFirst();
    sendAppControl(p.removeRequest, QStringLiteral("removemodule,") + p.removing);
    return true;
}

void BuildProject::cycle()
{
    Box &p = box();
    if (p.ids.isEmpty() && p.notes.isEmpty()) {
        p.finished = true;
        NodeRoot::box().errorText = tr("No configurable nodes");
        requestTransition<MgrError>();
        return;
    }
    if (!p.surveyed) {
        if (!takeSurvey()) {
            takeMasterRequests();
            return;
        }
        for (const QString &note : qAsConst(p.notes))
            setStatusText(tr("Building Project: %1").arg(note));
    }
    ZorMessage message;
    for (;;) {
        const bool got = nextAnswer(message);
        if (!got && !p.start) {
            takeMasterRequests();
            return;
        }
        // Only the answer to the request on its way counts: a late answer
        // to one that timed out finds nothing waiting.
        const bool answered = got && isAnswerTo(message, p.waitingFor);
        if (answered)
            p.waitingFor = ZorMessage();
        if (p.start || (answered && message == p.removeRequest)) {
            p.start = false;
            if (sendNextRemoval())
                continue;
        } else if (answered && message == p.addRequest) {
            const QString label = addedLabel(message);
            if (!label.isEmpty()) {
                p.created << label;
                sendNodeId(label, p.ids.at(p.index));
            } else {
                p.failed = true;
                if (message.msgState() == KS_TIMEOUT)
                    MgrRoot::box().lateAdds.append({p.addRequest, p.ids.at(p.index)});
            }
            ++p.index;
        } else {
            if (got && !answered)
                takeLateAddAnswer(message, &p.created);
            continue;
        }
        if (p.index >= p.ids.size()) {
            finish();
            return;
        }
        sendAppControl(p.addRequest, QStringLiteral("addmodule,%1,").arg(p.types.at(p.index)));
    }
}

void BuildProject::finish()
{
    Box &p = box();
    p.finished = true;
    setProperty(QStringLiteral("ProjectLabelsCreated"), p.created.join(QLatin1Char(',')), true);
    if (p.failed) {
        NodeRoot::box().errorText = tr("Could not create all node elements");
        requestTransition<MgrError>();
        return;
    }
    setStatus(StatusIdle);
    showResultText(p.notes.isEmpty() ? tr("Project Build Complete")
                                     : tr("Project Build Complete; %1").arg(p.notes.join(QStringLiteral("; "))));
    answerPendingCommand(true);
    requestTransition<MgrIdle>();
}

// ---- MgrError -------------------------------------------------------------------------------

void MgrError::entry()
{
    NodeRoot::Box &b = NodeRoot::box();
    answerPendingCommand(false);
    setStatus(StatusError);
    setStatusText(b.errorText.isEmpty() ? tr("Error") : tr("Error: %1").arg(b.errorText));
    b.errorText.clear();
}

void MgrError::cycle()
{
    if (!takeMasterRequests())
        return;
    takeSlaveMessages();
    NodeRoot::Box &b = NodeRoot::box();
    if (!b.errorText.isEmpty()) {
        setStatusText(tr("Error: %1").arg(b.errorText));
        b.errorText.clear();
    }
}

} // namespace ZorNodeStates
