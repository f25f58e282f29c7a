#include "zorobjectlistqueue.h"

#include "zorbabelfish.h"
#include "zorobjeditmodel.h"

bool ZorObjectListQueue::fill(ZorObjEditModel *model, const QModelIndexList &rows, int msgType)
{
    const QString text = model->objectListRequest(rows, msgType, false);
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString request = line.trimmed();
        if (!request.isEmpty())
            m_queue.append(ZorMessage(msgType, KS_REQUEST, request));
    }
    return !m_queue.isEmpty();
}

ZorMessage ZorObjectListQueue::takeNext()
{
    const ZorMessage next = m_queue.takeFirst();
    m_inFlight = next.msgId();
    return next;
}

bool ZorObjectListQueue::landed(int id)
{
    if (id != m_inFlight)
        return false;
    m_inFlight = -1;
    return true;
}

void ZorObjectListQueue::abort(ZorObjEditModel *model, const QString &abortedText)
{
    const QList<ZorMessage> queued = m_queue;
    m_queue.clear();
    if (!model)
        return;
    for (const ZorMessage &msg : queued) {
        const QString text = msg.data().toString();
        const int hash = ZorBabelFish::indexOutsideQuotes(text, QLatin1Char('#'));
        const QString line = (hash < 0 ? text : text.left(hash)).trimmed();
        model->applyObjectListAnswer(line + QLatin1Char(',') + abortedText, msg.msgType(), true);
    }
}
