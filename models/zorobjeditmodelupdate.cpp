// The traffic side of ZorObjEditModel: when rows are read from and written
// to the node, one request at a time.
//
// Each object whose UI format asks for reading ("updates:r1000", "r") has a
// single-shot timer; when it fires the object joins the pending reads, and
// the reads of 20 ms leave as one KM_OBJLIST_READ. Edited values of objects
// without a cyclic interval join the pending writes, which leave together
// 400 ms after the first. At most one request is on its way; writes go
// before reads. A good answer re-arms a cyclic object with its interval,
// counted from the answer; a failed line (or a failed answer) retries after
// 5 s plus a stagger that keeps objects of equal intervals apart. A fired
// timer stays armed as a 10 s watchdog until the answer comes. An answer
// that does not come in time counts as failed, so a lost answer never
// blocks the queue.
#include "zorobjeditmodel.h"

#include "zorbabelfish.h"

#include <limits>

namespace {

const int WriteGatherMs = 400;
const int ReadGatherMs = 20;
const int RetryMs = 5000;
const int WatchdogMs = 10000;
const int StaggerStep = 21;
const int StaggerLimit = 200;
const int MinIntervalMs = 100;
const int MaxIntervalMs = 9999;

// The node module allows each line of a request this long (its time budget);
// a model waits that plus some slack for the node module's own queue.
const int ReadLineBudgetMs = 1500;
const int WriteLineBudgetMs = 4000;
const int TimeoutSlackMs = 10000;

// The data-object ids of the object lines of a list, in order.
QStringList objectIdsOf(const QString &text)
{
    QStringList ids;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString id = ZorBabelFish::splitOutsideQuotes(line, QLatin1Char(',')).value(0).trimmed();
        if (ZorBabelFish::isDataObjectId(id))
            ids << id;
    }
    return ids;
}

}

void ZorObjEditModel::initObjectUpdate()
{
    if (m_running)
        return;
    m_running = true;
    setupObjectUpdate(0, rowCount(), true);
}

void ZorObjEditModel::stopObjectUpdate()
{
    if (!m_running)
        return;
    m_running = false;
    for (const QPointer<QTimer> &timer : qAsConst(m_objectTimers))
        delete timer.data();
    m_objectTimers.clear();
    m_intervals.clear();
    m_pendingWrites.clear();
    m_pendingReads.clear();
}

void ZorObjEditModel::setGlobalUpdateInterval(int ms)
{
    const bool wasRunning = m_running;
    if (wasRunning)
        stopObjectUpdate();
    m_globalInterval = qBound(0, ms, MaxIntervalMs);
    if (wasRunning)
        initObjectUpdate();
}

void ZorObjEditModel::deleteObjectTimer(const QString &id)
{
    delete m_objectTimers.take(id).data();
    m_intervals.remove(id);
}

void ZorObjEditModel::setupObjectUpdate(int firstRow, int count, bool enable)
{
    if (!m_running)
        return;
    m_stagger = 0;
    // Pending reads and writes stay: an edit waiting to be written is never
    // lost because another row's format changed.
    QModelIndexList initialReads;
    const int rows = rowCount();
    for (int r = firstRow; r < rows && r - firstRow < count; ++r) {
        const QModelIndex format = index(r, UiFormatColumn);
        const QString id = data(format, DataObjectIdRole).toString();
        bool cyclic = false;
        bool writable = false;
        int interval = 0;
        if (enable) {
            const QString updates = formatEntry(data(format).toString(), QStringLiteral("updates"));
            for (const QString &rawPart : updates.split(QLatin1Char(','))) {
                const QString part = rawPart.trimmed();
                if (part.startsWith(QLatin1Char('r'))) {
                    cyclic = true;
                    interval = m_globalInterval ? m_globalInterval : part.mid(1).toInt();
                    if (interval >= 1)
                        interval = qBound(MinIntervalMs, interval, MaxIntervalMs);
                    else
                        interval = 0;
                }
                if (part.contains(QLatin1Char('w')))
                    writable = true;
            }
            if (writable)
                interval = 0;
        }
        if (!cyclic) {
            deleteObjectTimer(id);
            continue;
        }
        initialReads << index(r, 0);
        QPointer<QTimer> &timer = m_objectTimers[id];
        if (!timer) {
            timer = new QTimer(this);
            timer->setObjectName(id);
            timer->setSingleShot(true);
            connect(timer.data(), &QTimer::timeout, this, [this, id] { readObject(id); });
        }
        m_intervals.insert(id, interval);
    }
    if (!enable || initialReads.isEmpty())
        return;
    if (isRequestPending()) {
        // The answer on its way must not be dropped: read after it.
        for (const QModelIndex &row : qAsConst(initialReads))
            m_pendingReads.insert(data(row, DataObjectIdRole).toString(), row);
        return;
    }
    sendRequest(KM_OBJLIST_READ, initialReads);
}

void ZorObjEditModel::queueObjectWrite(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const QModelIndex row = index.sibling(index.row(), 0);
    m_pendingWrites.insert(data(row, DataObjectIdRole).toString(), row);
    if (!m_writeTimer.isActive())
        m_writeTimer.start(WriteGatherMs);
}

void ZorObjEditModel::readObject(QString id)
{
    const QModelIndex row = findDataObject(id);
    if (!row.isValid())
        return;
    m_pendingReads.insert(id, row);
    if (!m_readTimer.isActive())
        m_readTimer.start(ReadGatherMs);
    if (m_intervals.value(id, 0) > 0)
        rearmObjectTimer(id, false, true);
}

void ZorObjEditModel::advanceStagger()
{
    m_stagger += StaggerStep;
    if (m_stagger >= StaggerLimit)
        m_stagger = 0;
}

void ZorObjEditModel::rearmObjectTimer(const QString &id, bool failed, bool watchdog)
{
    if (!failed && !watchdog && m_intervals.value(id, 0) <= 0)
        return;
    QTimer *timer = m_objectTimers.value(id).data();
    if (!timer)
        return;
    int interval = m_intervals.value(id, 0);
    if (watchdog)
        interval = m_stagger + WatchdogMs;
    else if (failed)
        interval = m_stagger + RetryMs;
    timer->setInterval(interval);
    advanceStagger();
    timer->start();
}

bool ZorObjEditModel::sendRequest(int msgType, const QModelIndexList &rows)
{
    const QString text = objectListRequest(rows, msgType, m_running);
    // Rows refused by the request (read-only, out of range ...) leave no
    // line; a list without object lines is not worth a request.
    if (objectIdsOf(text).isEmpty())
        return false;
    const ZorMessage request(msgType, KS_REQUEST, text);
    // Waiting before it leaves: an answer given at once (a direct
    // connection) then finds the request it belongs to.
    m_pendingRequest = request;
    m_pendingRequest.setMsgState(KS_WAITING);
    m_requestTimer.start(timeoutFor(request));
    emit objectUpdateOut(request);
    return true;
}

int ZorObjEditModel::timeoutFor(const ZorMessage &request) const
{
    if (m_requestTimeout > 0)
        return m_requestTimeout;
    const qint64 lines = objectIdsOf(request.data().toString()).size();
    const qint64 perLine = request.msgType() == KM_OBJLIST_WRITE ? WriteLineBudgetMs : ReadLineBudgetMs;
    // A timer takes at most the largest int (about 24 days).
    return int(qMin<qint64>(lines * perLine + TimeoutSlackMs, std::numeric_limits<int>::max()));
}

void ZorObjEditModel::processPendingReadWriteRequest()
{
    if (isRequestPending())
        return;
    if (!m_pendingWrites.isEmpty()) {
        m_writeTimer.stop();
        const QModelIndexList rows(m_pendingWrites.cbegin(), m_pendingWrites.cend());
        m_pendingWrites.clear();
        if (sendRequest(KM_OBJLIST_WRITE, rows))
            return;
    }
    if (!m_pendingReads.isEmpty()) {
        m_readTimer.stop();
        const QModelIndexList rows(m_pendingReads.cbegin(), m_pendingReads.cend());
        m_pendingReads.clear();
        sendRequest(KM_OBJLIST_READ, rows);
    }
}

void ZorObjEditModel::objectUpdateIn(ZorMessage msg)
{
    if (msg != m_pendingRequest || !isRequestPending())
        return;
    if (msg.msgState() == KS_REQUEST || msg.msgState() == KS_WAITING)
        return; // not an answer
    m_requestTimer.stop();
    const QString requestText = m_pendingRequest.data().toString();
    m_pendingRequest = ZorMessage(KM_UNDEFINED, KS_INFO);

    // Each object of the request shows its own outcome; objects the answer
    // does not serve count as failed.
    const QVector<QPair<QString, bool>> outcomes = applyRequestAnswer(requestText, msg);

    processPendingReadWriteRequest();

    if (!m_running || msg.msgType() != KM_OBJLIST_READ)
        return;
    for (const auto &outcome : outcomes)
        rearmObjectTimer(outcome.first, outcome.second, false);
}

void ZorObjEditModel::requestTimedOut()
{
    if (!isRequestPending())
        return;
    // The answer that never came: every line failed with "timeout".
    QString lines;
    for (const QString &id : objectIdsOf(m_pendingRequest.data().toString()))
        lines += id + QLatin1String(",,,") + tr("timeout") + QLatin1Char('\n');
    ZorMessage answer = m_pendingRequest;
    answer.setMsgState(KS_TIMEOUT);
    answer.setData(lines);
    objectUpdateIn(answer);
}
