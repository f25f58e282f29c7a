// The object-list service of the node states: the queue of KM_OBJLIST_WRITE
// and KM_OBJLIST_READ requests, one interview at a time for the gateway, its
// time budget, and the answer back to the requester (zorobjectlist.h has the
// texts).
#include "zornodestates.h"

#include "zormodnode.h"
#include "zorobjeditmodel.h"

#include <QDomDocument>
#include <QRegularExpression>

namespace ZorNodeStates {

namespace {

const int MaxQueuedLists = 10;

} // namespace

ZorObjectList::Context NodeRoot::objectListContext() const
{
    // "AccessKeySet" in the store and reset commands stands for the key
    // last written, else the one entered.
    QString key = box().accessKeyValue;
    if (key.isEmpty())
        key = property(QStringLiteral("AccessKeySet")).section(QLatin1Char(','), 1, 1).trimmed();
    ZorObjectList::Context context;
    context.nodeId = nodeId();
    context.storeCmd = property(QStringLiteral("StoreCmd")).replace(QLatin1String("AccessKeySet"), key);
    context.resetCmd = property(QStringLiteral("ResetCmd")).replace(QLatin1String("AccessKeySet"), key);
    return context;
}

int NodeRoot::buildObjectListInterview(ZorMessage &interview, QString &list, int msgType)
{
    const ZorObjectList::Interview built = ZorObjectList::build(list, msgType, objectListContext());
    list = built.list;
    interview = ZorMessage(KM_INTERVIEW, KS_REQUEST, built.text);
    return built.budgetMs;
}

bool NodeRoot::queueObjectList(const ZorMessage &message)
{
    if (!message.isRequest() || (message.msgType() != KM_OBJLIST_WRITE && message.msgType() != KM_OBJLIST_READ))
        return false;
    Box &b = box();
    if (b.objectListQueue.size() >= MaxQueuedLists)
        cancelObjectLists();
    b.objectListQueue.append(message);
    return true;
}

void NodeRoot::cancelObjectLists(bool cancelAtGateway)
{
    Box &b = box();
    if (b.currentObjectList.msgState() == KS_WAITING) {
        ZorMessage cancelled = b.currentObjectList;
        cancelled.setMsgState(KS_CANCEL);
        sendToMaster(cancelled, true);
        // The gateway must not go on with lines of a cancelled list.
        if (cancelAtGateway)
            cancelGatewayInterviews();
    }
    for (ZorMessage queued : qAsConst(b.objectListQueue)) {
        queued.setMsgState(KS_CANCEL);
        sendToMaster(queued, true);
    }
    b.objectListQueue.clear();
    b.currentObjectList = ZorMessage();
    b.objectTableRequest = false;
    b.objectTable.reset();
}

bool NodeRoot::processObjectListQueue()
{
    Box &b = box();
    if (b.currentObjectList.msgState() == KS_WAITING && b.objectListTimer.elapsed() > b.timeBudgetMs) {
        // Nothing of the list may land after its time-out.
        cancelGatewayInterviews();
        ZorMessage timedOut = b.objectListInterview;
        timedOut.setMsgState(KS_TIMEOUT);
        handleObjectListAnswer(timedOut);
    }
    if (b.currentObjectList.msgState() == KS_WAITING || b.objectListQueue.isEmpty())
        return false;

    b.currentObjectList = b.objectListQueue.takeFirst();
    QString list = b.currentObjectList.data().toString();
    b.silent = ZorObjectList::isSilent(list);
    const int type = b.currentObjectList.msgType();
    if (ZorObjectList::isObjectTable(list) && !objectTableToList(list, type)) {
        ZorMessage refused = b.currentObjectList;
        refused.setMsgState(KS_FAIL);
        refused.setData(tr("error: the object table is not valid XML"));
        sendToMaster(refused, true);
        b.currentObjectList = ZorMessage();
        return false;
    }
    b.timeBudgetMs = buildObjectListInterview(b.objectListInterview, list, type);
    b.currentObjectList.setData(list);
    b.currentObjectList.setMsgState(KS_WAITING);
    sendToSlaves(b.objectListInterview, true);
    if (!b.silent)
        setStatusText(type == KM_OBJLIST_WRITE ? tr("Writing objects ...") : tr("Reading objects ..."));
    b.objectListTimer.start();
    return true;
}

bool NodeRoot::handleObjectListAnswer(const ZorMessage &message)
{
    Box &b = box();
    const int state = message.msgState();
    if (state == KS_REJECT || state == KS_REQUEST || state == KS_WAITING)
        return false;
    if (message != b.objectListInterview || b.currentObjectList.msgState() != KS_WAITING)
        return false;

    const int type = b.currentObjectList.msgType();
    const ZorObjectList::Result result = ZorObjectList::results(
        message.data().toString(), state, b.currentObjectList.data().toString(), type,
        property(QStringLiteral("ErrorTexts")));
    const int answerState = state == KS_ANSWER && result.failed ? KS_FAIL : state;

    ZorMessage answer = b.currentObjectList;
    answer.setMsgState(answerState);
    answer.setData(result.text);
    if (b.objectTableRequest && b.objectTable) {
        // A table comes back as a table: its rows carry the values read and
        // the status of each object, each from its own result line.
        b.objectTable->applyRequestAnswer(b.currentObjectList.data().toString(), answer);
        answer.setData(b.objectTable->toXml());
    }
    b.objectTable.reset();
    b.objectTableRequest = false;
    b.lastListAnswer = answer;
    sendToMaster(answer, true);

    if (!b.silent) {
        const bool ok = answerState == KS_ANSWER;
        setStatus(ok ? StatusStarted : StatusListFailed);
        showResultText(objectListResultText(type, result.text, ok));
    }
    b.currentObjectList = ZorMessage();
    return true;
}

bool NodeRoot::objectTableToList(QString &list, int msgType)
{
    Box &b = box();
    QString xml = list;
    xml.remove(QRegularExpression(QStringLiteral("SilentReadWrite"),
                                  QRegularExpression::CaseInsensitiveOption));
    QDomDocument doc;
    if (!ZorDeviceDescModel::readXml(xml, doc))
        return false;
    b.objectTable = std::make_shared<ZorObjEditModel>(doc, true);
    b.objectTable->setLockedNodeId(QString::number(nodeId()));
    b.objectTableRequest = true;
    list = b.objectTable->objectListRequest(QModelIndexList(), msgType, false);
    return true;
}

QString NodeRoot::objectListResultText(int msgType, const QString &result, bool ok) const
{
    QString text;
    if (msgType == KM_OBJLIST_WRITE) {
        const ZorObjectList::Context context = objectListContext();
        const QString resetCmd = property(QStringLiteral("ResetCmd"));
        const QString storeCmd = property(QStringLiteral("StoreCmd"));
        auto holds = [&result](const QString &command, const QString &expanded) {
            return (!command.isEmpty() && result.contains(command))
                || (!expanded.isEmpty() && result.contains(expanded));
        };
        if (holds(resetCmd, context.resetCmd))
            text = tr("Factory reset");
        else if (holds(storeCmd, context.storeCmd))
            text = tr("Store permanently");
        else
            text = tr("Writing objects");
    } else {
        text = tr("Reading objects");
    }
    return text + QLatin1Char(' ') + (ok ? tr("OK") : tr("Error"));
}

} // namespace ZorNodeStates
