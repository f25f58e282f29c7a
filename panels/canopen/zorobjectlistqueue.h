// The object list requests of the node configuration and object editor
// panels that go one row at a time: the next row's request is sent once the
// answer to the one on its way is back.
#pragma once

#include "zormessage.h"

#include <QList>
#include <QModelIndexList>

class ZorObjEditModel;

class ZorObjectListQueue
{
public:
    int size() const { return m_queue.size(); }
    bool isEmpty() const { return m_queue.isEmpty(); }

    // Queues a request of `msgType` for each line of the model's object
    // list for `rows`; false when there is none.
    bool fill(ZorObjEditModel *model, const QModelIndexList &rows, int msgType);
    // Takes the next request off the queue; it is the one on its way from
    // now on. The queue must not be empty.
    ZorMessage takeNext();
    // True when `id` is the request on its way, which then is no longer.
    bool landed(int id);
    void forgetInFlight() { m_inFlight = -1; }
    // Empties the queue; the model shows each request that was not sent as
    // failed with `abortedText`.
    void abort(ZorObjEditModel *model, const QString &abortedText);

private:
    QList<ZorMessage> m_queue;
    int m_inFlight = -1;
};
