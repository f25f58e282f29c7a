#include "zormodule.h"

#include "zorabstractdommodel.h"
#include "zorinterview.h"
#include "zormodstates.h"

#include <QAbstractEventDispatcher>
#include <QDebug>
#include <QDeadlineTimer>
#include <algorithm>

namespace {

// The longest sleep of a module that waits to be woken: a safety net, so
// that even a state that said so wrongly still cycles now and then.
const qint64 idleWakeMs = 10000;

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

ZorModule::ZorModule(QObject *parent)
    : QThread(parent), selfGuard(this)
{
    ZorMessage::registerMetaType();
    // Always queued: the out-lists are drained later in the host thread, also
    // when a message is queued from the host thread itself. They are made
    // here, in the host thread, and only start draining once run() has
    // emptied the lists.
    connect(this, &ZorModule::newMasterOutQueued, this, &ZorModule::newMasterOut, Qt::QueuedConnection);
    connect(this, &ZorModule::newSlaveOutQueued, this, &ZorModule::newSlaveOut, Qt::QueuedConnection);
    qDebug("ZorModule creation");
}

ZorModule::~ZorModule()
{
    if (isRunning())
        qWarning().noquote() << "ZorModule" << quoted(label())
                             << "deleted while its thread runs: stop() it before deleting";
    stop();
    qDebug().noquote() << "ZorModule thread ended" << quoted(label());
    std::lock_guard<std::recursive_mutex> locker(interviewMutex);
    qDeleteAll(interviews);
    interviews.clear();
}

// --- set-up and identity ------------------------------------------------------

bool ZorModule::setupZorModule(const QModelIndex &index, QAbstractItemModel *itemModel)
{
    m_modelIndex = QPersistentModelIndex(index);
    model = itemModel;
    domModel = qobject_cast<ZorAbstractDomModel *>(itemModel);
    QDomElement element;
    if (domModel && index.isValid())
        element = domModel->nodeFromIndex(index).toElement();

    // Cache what the module threads need: they never read the model.
    {
        std::lock_guard<std::mutex> locker(identityMutex);
        if (itemModel && index.isValid()) {
            cachedLabel = index.data(ZorAbstractDomModel::LabelRole).toString();
            cachedType = index.data(ZorAbstractDomModel::TypeRole).toString();
            cachedDescription = index.data(ZorAbstractDomModel::DescriptionRole).toString();
            cachedStatusText = index.data(ZorAbstractDomModel::StatusTextRole).toString();
            cachedStatus = index.data(ZorAbstractDomModel::StatusRole).toInt();
        }
    }

    boundToItem = !element.isNull();
    if (element.isNull()) {
        qDebug().noquote() << "setupZorModule failed for" << label();
        return false;
    }
    loadProperties();
    qDebug().noquote() << "setupZorModule for" << label();
    return true;
}

bool ZorModule::refreshIdentity()
{
    if (!model || !m_modelIndex.isValid())
        return false;
    const QString newLabel = m_modelIndex.data(ZorAbstractDomModel::LabelRole).toString();
    const QString newType = m_modelIndex.data(ZorAbstractDomModel::TypeRole).toString();
    const QString newDescription = m_modelIndex.data(ZorAbstractDomModel::DescriptionRole).toString();
    std::lock_guard<std::mutex> locker(identityMutex);
    if (newLabel == cachedLabel && newType == cachedType && newDescription == cachedDescription)
        return false;
    cachedLabel = newLabel;
    cachedType = newType;
    cachedDescription = newDescription;
    return true;
}

void ZorModule::setIdentity(const QString &label, const QString &type, const QString &description)
{
    std::lock_guard<std::mutex> locker(identityMutex);
    cachedLabel = label;
    cachedType = type;
    cachedDescription = description;
}

QAbstractItemModel *ZorModule::itemModel() const
{
    return model.data();
}

QString ZorModule::acceptedSlaveTypes() const { return QString(); }

QString ZorModule::label() const
{
    std::lock_guard<std::mutex> locker(identityMutex);
    return cachedLabel;
}

QString ZorModule::type() const
{
    std::lock_guard<std::mutex> locker(identityMutex);
    return cachedType;
}

QString ZorModule::description() const
{
    std::lock_guard<std::mutex> locker(identityMutex);
    return cachedDescription;
}

bool ZorModule::propertyChanged(const QString &, QString &) { return true; }
int ZorModule::statusPeriod() const { return 1000; }
bool ZorModule::oneInterviewPerPass() const { return false; }
bool ZorModule::bypassInputFilter() const { return false; }
bool ZorModule::refusesMaster() const { return false; }
bool ZorModule::statusToSlaves() const { return false; }
int ZorModule::masterQueueLimit() const { return 512; }
int ZorModule::slaveQueueLimit() const { return 512; }
int ZorModule::frameBacklogLimit() const { return 0; }

bool ZorModule::isDroppableFrame(const ZorMessage &message, int direction)
{
    // Answers to the master's transmit requests always go through.
    if (message.msgType() != KM_CAN_FRAME)
        return false;
    const int state = message.msgState();
    return state == KS_INFO || (direction == ToSlaves && state == KS_ANSWER);
}
void ZorModule::aboutToStop() {}
void ZorModule::inputArriving(int, const ZorMessage &) {}
bool ZorModule::claimsSlaveAnswer(const ZorMessage &) { return false; }
bool ZorModule::wantsFromSlaves(const ZorMessage &) const { return true; }

// --- pace -------------------------------------------------------------------

int ZorModule::setCycleTime(int ms)
{
    const int clamped = qBound(1, ms, 9999);
    cycleTimeMs = clamped;
    return clamped;
}

void ZorModule::setInterviewPasses(int passes)
{
    interviewPasses = qBound(1, passes, 99);
}

// --- status -------------------------------------------------------------------

int ZorModule::status() const
{
    return cachedStatus.load();
}

QString ZorModule::infoText() const
{
    std::lock_guard<std::mutex> locker(identityMutex);
    return cachedStatusText;
}

void ZorModule::setStatus(int status)
{
    if (cachedStatus.exchange(status) == status)
        return;
    if (boundToItem && domModel)
        domModel->postModuleStatus(m_modelIndex, status);
}

void ZorModule::setStatusText(const QString &text)
{
    {
        std::lock_guard<std::mutex> locker(identityMutex);
        if (cachedStatusText == text)
            return;
        cachedStatusText = text;
    }
    if (boundToItem && domModel)
        domModel->postModuleStatusText(m_modelIndex, text);
}

// --- run loop -----------------------------------------------------------------

ZorModStates::Top &ZorModule::topState(Macho::StateMachine::Access &access) const
{
    return access.state<ZorModStates::Top>();
}

void ZorModule::run()
{
    if (!stopping)
        runMachine();
    // Hand everything the thread wrote over to whoever waits for its end
    // (stop() takes this mutex after the thread has finished).
    std::lock_guard<std::mutex> locker(waitMutex);
    threadEnded = true;
}

void ZorModule::runMachine()
{
    Macho::StateMachine stateMachine(rootStateRef());
    machine = &stateMachine;
    {
        Macho::StateMachine::Access access(stateMachine);
        topState(access).attachModule(this);
    }

    // Messages queued before the thread ran (constructor notices) are dropped.
    {
        std::lock_guard<std::mutex> locker(toSlavesList.mutex);
        toSlavesList.list.clear();
    }
    {
        std::lock_guard<std::mutex> locker(toMasterList.mutex);
        toMasterList.list.clear();
    }
    outputOpen = true;
    // A drain asked for before the output opened was refused; ask again for
    // what came meanwhile.
    {
        std::lock_guard<std::mutex> locker(toSlavesList.mutex);
        if (!toSlavesList.list.empty())
            emit newMasterOutQueued();
    }
    {
        std::lock_guard<std::mutex> locker(toMasterList.mutex);
        if (!toMasterList.list.empty())
            emit newSlaveOutQueued();
    }

    QElapsedTimer statusClock;
    statusClock.start();
    QElapsedTimer cycleClock;
    while (!stopping) {
        cycleClock.start();
        bool activity = false;
        runInterviewPasses(activity);
        {
            Macho::StateMachine::Access access(stateMachine);
            topState(access).cycle();
        }
        const int period = statusPeriod();
        if (period > 0 && statusClock.elapsed() > period) {
            Macho::StateMachine::Access access(stateMachine);
            topState(access).sendStatus();
            statusClock.start();
        }

        qint64 waitMs = cycleTimeMs.load(std::memory_order_relaxed) - cycleClock.elapsed();
        if (waitMs < 1 || activity)
            waitMs = 1;
        else if (sleepsUntilWoken(stateMachine))
            waitMs = qBound<qint64>(1, period > 0 ? period + 1 - statusClock.elapsed() : idleWakeMs, idleWakeMs);
        // The condition variable waits on the steady (monotonic) clock.
        std::unique_lock<std::mutex> locker(waitMutex);
        if (!wakePending && !stopping)
            waitCondition.wait_for(locker, std::chrono::milliseconds(waitMs));
        wakePending = false;
    }

    machine = nullptr;
    // The machine's destructor exits every state, the top state last.
}

// A module whose current state only reacts to what arrives, with nothing
// pending, sleeps until it is woken.
bool ZorModule::sleepsUntilWoken(Macho::StateMachine &stateMachine)
{
    if (queuedCount(FromMaster) > 0 || queuedCount(FromSlaves) > 0 || hasPendingInterviews())
        return false;
    Macho::StateMachine::Access access(stateMachine);
    return topState(access).cyclesOnlyWhenWoken();
}

bool ZorModule::wakeupPending()
{
    std::lock_guard<std::mutex> locker(waitMutex);
    return wakePending;
}

bool ZorModule::waitForWakeup(int ms)
{
    std::unique_lock<std::mutex> locker(waitMutex);
    if (!wakePending && !stopping && ms > 0)
        waitCondition.wait_for(locker, std::chrono::milliseconds(ms));
    const bool woken = wakePending || stopping;
    wakePending = false;
    return woken;
}

void ZorModule::wakeup()
{
    std::lock_guard<std::mutex> locker(waitMutex);
    // Already pending: the thread was woken when the flag was set and reads
    // it before it waits again, so a burst of messages (a block's segments)
    // costs one wake-up, not one system call each.
    if (wakePending)
        return;
    wakePending = true;
    waitCondition.notify_all();
    // The thread's dispatcher lives until run() has returned, which it
    // cannot while this mutex is held before threadEnded is set.
    if (wakeupInterruptsEvents.load(std::memory_order_relaxed) && !threadEnded) {
        if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(this))
            dispatcher->wakeUp();
    }
}

// --- stopping -----------------------------------------------------------------

void ZorModule::requestStop()
{
    stopping = true;
    wakeup();
    aboutToStop();
    // Via modules are children of their master and end with it.
    for (ZorModule *child : findChildren<ZorModule *>(QString(), Qt::FindDirectChildrenOnly))
        child->requestStop();
}

void ZorModule::stop()
{
    requestStop();
    if (QThread::currentThread() == this)
        return;   // asked from its own states: the loop ends after this cycle
    const QList<ZorModule *> children = findChildren<ZorModule *>(QString(), Qt::FindDirectChildrenOnly);
    QList<ZorModule *> all = children;
    all.prepend(this);
    // Nothing is handed over directly to or from a module that ends.
    for (ZorModule *module : all)
        module->cutExpressLinks();
    for (ZorModule *module : all) {
        if (!module->isRunning() || module->isFinished())
            continue;
        qDebug().noquote() << "ZorModule wait thread end for" << quoted(module->label());
        if (module->wait(QDeadlineTimer(module->stopTimeoutMs)))
            continue;
        // A state handler blocks. Terminating the thread could leave a lock
        // held or an object half-written, so wait for it instead.
        qCritical().noquote() << "ZorModule" << quoted(module->label()) << "did not stop within"
                              << module->stopTimeoutMs
                              << "ms: a state handler is blocking; waiting for it to return";
        module->wait();
    }
    for (ZorModule *module : all) {
        std::lock_guard<std::mutex> locker(module->waitMutex);
    }
}

// --- queues -------------------------------------------------------------------

ZorModule::MessageQueue *ZorModule::queueFor(int queue)
{
    if (queue == FromMaster)
        return &fromMasterQueue;
    if (queue == FromSlaves)
        return &fromSlavesQueue;
    return nullptr;
}

const ZorModule::MessageQueue *ZorModule::queueFor(int queue) const
{
    return const_cast<ZorModule *>(this)->queueFor(queue);
}

bool ZorModule::getMessage(int queue, ZorMessage &out)
{
    MessageQueue *q = queueFor(queue);
    if (!q)
        return false;
    std::lock_guard<std::mutex> locker(q->mutex);
    if (q->list.empty())
        return false;
    out = q->list.front();
    q->list.pop_front();
    return true;
}

void ZorModule::clearInQueue(int queue)
{
    if (MessageQueue *q = queueFor(queue)) {
        std::lock_guard<std::mutex> locker(q->mutex);
        q->list.clear();
    }
}

int ZorModule::queuedCount(int queue) const
{
    const MessageQueue *q = queueFor(queue);
    if (!q)
        return 0;
    std::lock_guard<std::mutex> locker(q->mutex);
    return int(q->list.size());
}

void ZorModule::postIn(int queue, const ZorMessage &message)
{
    if (stopping)
        return;
    MessageQueue *q = queueFor(queue);
    if (!q)
        return;
    {
        std::lock_guard<std::mutex> locker(q->mutex);
        q->list.push_back(message);
    }
    wakeup();
}

void ZorModule::appendToMaster(const ZorMessage &message)
{
    if (stopping)
        return;
    // An interview answer that a via module claims is in its queue now; the
    // copy below is for the other listeners.
    expressToMaster(message);
    // A drain takes what the list holds when it starts, and asks for another
    // when more came meanwhile, so only the message that finds the list
    // empty asks for one. It asks under the list's mutex: the drain takes
    // the same mutex, which orders the queued call's event (made here,
    // deleted by the host thread after the drain) for ThreadSanitizer, which
    // cannot see into the posted-event queue. The connection is always
    // queued, so no slot runs here.
    const int frameLimit = frameBacklogLimit();
    const bool droppable = frameLimit > 0 && isDroppableFrame(message, ToMaster);
    std::lock_guard<std::mutex> locker(toMasterList.mutex);
    const bool drainPending = !toMasterList.list.empty();
    if (droppable && toMasterList.list.size() >= size_t(frameLimit)) {
        countDroppedFrames(1);
        return;
    }
    toMasterList.list.push_back(message);
    if (!drainPending)
        emit newSlaveOutQueued();
}

void ZorModule::postOut(int direction, const ZorMessage &message)
{
    if (stopping)
        return;
    if (direction == ToMaster) {
        appendToMaster(message);
    } else if (direction == ToSlaves) {
        ZorMessage out(message);
        // Interviews and their cancels always name their requester, so that a
        // cancel reaches only the interviews of the module that sent it.
        if ((out.msgType() == KM_INTERVIEW || out.msgType() == KM_CANCEL_INTERVIEWS) && !out.hasOrigin())
            out.setOrigin(label());
        if (expressToSlave(out))
            return;
        // As in appendToMaster.
        const int frameLimit = frameBacklogLimit();
        const bool droppable = frameLimit > 0 && isDroppableFrame(out, ToSlaves);
        std::lock_guard<std::mutex> locker(toSlavesList.mutex);
        // A drain under way asks for the next one itself when it ends.
        const bool drainPending = !toSlavesList.list.empty() || toSlavesDraining;
        if (droppable && toSlavesList.list.size() >= size_t(frameLimit)) {
            countDroppedFrames(1);
            return;
        }
        toSlavesList.list.push_back(out);
        if (!drainPending)
            emit newMasterOutQueued();
    }
}

bool ZorModule::appendLimited(MessageQueue &queue, const ZorMessage &message, int limit)
{
    std::lock_guard<std::mutex> locker(queue.mutex);
    if (int(queue.list.size()) >= limit)
        return false;
    queue.list.push_back(message);
    return true;
}

void ZorModule::emitSniffer(const QString &text)
{
    emit slaveOut(ZorMessage(KM_SNIFFER_MSG, KS_INFO, text));
}

void ZorModule::slaveIn(const ZorMessage &incoming)
{
    if (stopping)
        return;
    ZorMessage message(incoming);
    if (!bypassInputFilter()) {
        if (message.hasRecipient()) {
            const QString recipient = message.recipient();
            bool mine = recipient == label() || recipient == type();
            if (!mine && isVia)
                mine = recipient == viaSlaveLabel || recipient == viaSlaveType;
            if (!mine)
                return;
        }
        if (snifferOn) {
            const QString origin = message.origin();
            if (origin == QLatin1String("GUI")
                || (origin == QLatin1String("canopen_gateway") && message.msgType() != KM_INTERVIEW)) {
                const QString arrow = message.isRequest() ? QStringLiteral(" -> ") : QStringLiteral(" <- ");
                emitSniffer(origin + arrow + message.toString(0));
            }
        }
        if (handleGenericRequest(message)) {
            message.setMsgState(KS_ANSWER);
            emit slaveOut(message);
        } else if (acceptInterview(message)) {
            wakeup();
            return;
        }
    }
    inputArriving(FromMaster, message);
    if (!appendLimited(fromMasterQueue, message, masterQueueLimit()) && message.isRequest()) {
        // A full queue: the request comes back at once, its data unchanged.
        message.setMsgState(KS_FAIL);
        emit slaveOut(message);
    }
    wakeup();
}

void ZorModule::masterIn(const ZorMessage &incoming)
{
    if (stopping)
        return;
    ZorMessage message(incoming);
    if (snifferOn && (message.origin() == label() || message.msgType() == KM_PROGRESS))
        emitSniffer(label() + QStringLiteral(" <- ") + message.toString(0));
    if (handleGenericRequest(message)) {
        message.setMsgState(KS_ANSWER);
        emit masterOut(message);
        wakeup();
        return;
    }
    if (!message.isRequest() && !wantsFromSlaves(message))
        return;
    inputArriving(FromSlaves, message);
    // Received frames fill at most half the queue, so that the answers and
    // notices of the slaves still find room while a bus floods it.
    const int limit = slaveQueueLimit();
    const int room = isDroppableFrame(message, ToMaster) ? qMax(1, limit / 2) : limit;
    if (!appendLimited(fromSlavesQueue, message, room)) {
        if (message.isRequest()) {
            message.setMsgState(KS_FAIL);
            emit masterOut(message);
        } else if (room < limit) {
            // A frame lost here is counted where it came from (the CAN
            // interface tells its dropped frames in its status).
            if (ZorModule *from = slaves.value(message.origin()))
                from->countDroppedFrames(1);
        }
    }
    wakeup();
}

// The lists are taken under their mutex and sent outside it, so that a
// receiver's slot (a direct call in the host thread) never runs while this
// module holds one of its locks. Only the host thread drains, so the order of
// the messages is kept. One drain sends at most DrainBatch messages and asks
// for another for the rest: a module with a long list (a bus flooding its
// CAN interface) takes its turn in the host thread with the other modules'
// drains instead of holding them up until its whole list is out.
//
// Towards the master the messages are taken one at a time, so that the
// express hand-over (expressToMaster) sees what still waits for the host
// thread: the list and the one message being emitted. As many as the list
// held at the start (at most a batch) are sent; for those that came
// meanwhile without asking for a drain (the list was not empty) another
// drain is asked for.
void ZorModule::newSlaveOut()
{
    if (stopping || !outputOpen)
        return;
    // One lock per message: the one that takes it also ends the previous
    // message's flight.
    std::unique_lock<std::mutex> locker(toMasterList.mutex);
    for (size_t count = qMin(toMasterList.list.size(), size_t(DrainBatch));
         count > 0 && !toMasterList.list.empty(); --count) {
        if (stopping) {
            toMasterHasInFlight = false;
            return;
        }
        toMasterInFlight = toMasterList.list.front();
        toMasterList.list.pop_front();
        toMasterHasInFlight = true;
        const ZorMessage message(toMasterInFlight);
        locker.unlock();
        emit slaveOut(message);
        locker.lock();
        toMasterHasInFlight = false;
    }
    if (!stopping && !toMasterList.list.empty())
        emit newSlaveOutQueued();
}

void ZorModule::newMasterOut()
{
    if (stopping || !outputOpen)
        return;
    std::deque<ZorMessage> batch;
    {
        std::lock_guard<std::mutex> locker(toSlavesList.mutex);
        if (toSlavesList.list.size() <= size_t(DrainBatch)) {
            batch.swap(toSlavesList.list);
        } else {
            const auto end = toSlavesList.list.begin() + DrainBatch;
            batch.assign(toSlavesList.list.begin(), end);
            toSlavesList.list.erase(toSlavesList.list.begin(), end);
        }
        toSlavesDraining = !batch.empty();
    }
    const bool sniff = snifferOn;
    const QString name = sniff ? label() : QString();
    for (const ZorMessage &message : batch) {
        if (stopping)
            break;
        const int msgType = message.msgType();
        if (msgType == KM_DIALOG || msgType == KM_APPLICATION_CONTROL)
            emit appControlOut(message);
        else
            emit masterOut(message);
        if (sniff && msgType != KM_CAN_FRAME && msgType != KM_COMM_STATUS)
            emitSniffer(name + QStringLiteral(" -> ") + message.toString(0));
    }
    std::lock_guard<std::mutex> locker(toSlavesList.mutex);
    toSlavesDraining = false;
    // The rest of a long list goes out in a drain of its own.
    if (!stopping && !toSlavesList.list.empty())
        emit newMasterOutQueued();
}

// --- express hand-over ----------------------------------------------------------

// One link between a via module and its slave. Each direction has a mutex of
// its own, held while a message is handed over, so that the receiver cannot
// be cut off (stopped, deleted) in the middle. Two, because each sender may
// hold its own interview mutex while it sends: the via module's exchange goes
// into the slave's interviews, the slave's answer only into the via module's
// queue, so the two directions never wait for each other.
struct ZorModule::ExpressLink
{
    std::mutex downMutex;   // guards slave
    std::mutex upMutex;     // guards via
    ZorModule *via = nullptr;
    ZorModule *slave = nullptr;
    bool slaveTakesInterviews = false;   // the slave filters its input (takes interviews)
};

void ZorModule::addExpressLink(ZorModule *slave)
{
    auto link = std::make_shared<ExpressLink>();
    link->via = this;
    link->slave = slave;
    link->slaveTakesInterviews = !slave->bypassInputFilter();
    expressDown = link;
    std::lock_guard<std::mutex> locker(slave->expressMutex);
    // Links of via modules that have gone are dropped on the way.
    auto &links = slave->expressUp;
    links.erase(std::remove_if(links.begin(), links.end(),
                               [](const std::shared_ptr<ExpressLink> &l) {
                                   std::lock_guard<std::mutex> up(l->upMutex);
                                   return !l->via;
                               }),
                links.end());
    links.push_back(link);
}

void ZorModule::cutExpressLinks()
{
    std::vector<std::shared_ptr<ExpressLink>> links;
    {
        std::lock_guard<std::mutex> locker(expressMutex);
        links.swap(expressUp);
    }
    if (expressDown)
        links.push_back(expressDown);
    for (const std::shared_ptr<ExpressLink> &link : links) {
        {
            std::lock_guard<std::mutex> down(link->downMutex);
            link->slave = nullptr;
        }
        std::lock_guard<std::mutex> up(link->upMutex);
        link->via = nullptr;
    }
}

// Module thread of a via module: an interview for the slave.
bool ZorModule::expressToSlave(const ZorMessage &message)
{
    if (!expressDown || message.msgType() != KM_INTERVIEW || !message.isRequest() || snifferOn
        || QThread::currentThread() != this)
        return false;
    {
        std::lock_guard<std::mutex> locker(toSlavesList.mutex);
        if (!toSlavesList.list.empty() || toSlavesDraining)
            return false;
    }
    ExpressLink &link = *expressDown;
    std::lock_guard<std::mutex> down(link.downMutex);
    return link.slave && link.slaveTakesInterviews && link.slave->takeExpressInterview(message);
}

// Any thread but the module's: the part of slaveIn that takes an interview.
bool ZorModule::takeExpressInterview(const ZorMessage &message)
{
    if (stopping || snifferOn || message.hasRecipient() || !acceptInterview(message))
        return false;
    wakeup();
    return true;
}

// Module thread of a slave: an interview it finished, for the via module
// that sent it.
bool ZorModule::expressToMaster(const ZorMessage &message)
{
    if (message.msgType() != KM_INTERVIEW || message.isRequest() || QThread::currentThread() != this)
        return false;
    std::vector<std::shared_ptr<ExpressLink>> links;
    {
        std::lock_guard<std::mutex> locker(expressMutex);
        if (expressUp.empty())
            return false;
        links = expressUp;
    }
    // What still waits for the host thread (only this thread appends).
    std::vector<ZorMessage> waiting;
    {
        std::lock_guard<std::mutex> locker(toMasterList.mutex);
        waiting.assign(toMasterList.list.begin(), toMasterList.list.end());
        if (toMasterHasInFlight)
            waiting.push_back(toMasterInFlight);
    }
    for (const std::shared_ptr<ExpressLink> &link : links) {
        std::lock_guard<std::mutex> up(link->upMutex);
        ZorModule *via = link->via;
        if (!via)
            continue;
        // The answer must not overtake anything the via module takes.
        const bool overtakes = std::any_of(waiting.begin(), waiting.end(),
                                           [via](const ZorMessage &m) { return via->wantsFromSlaves(m); });
        if (!overtakes && via->takeExpressAnswer(message))
            return true;
    }
    return false;
}

// Any thread but the module's: the part of masterIn that queues an answer,
// for an answer this module claims.
bool ZorModule::takeExpressAnswer(const ZorMessage &message)
{
    if (stopping || snifferOn || !claimsSlaveAnswer(message))
        return false;
    appendLimited(fromSlavesQueue, message, slaveQueueLimit());
    wakeup();
    return true;
}

bool ZorModule::handleGenericRequest(ZorMessage &message)
{
    if (!message.isRequest())
        return false;
    switch (message.msgType()) {
    case KM_WHOAMI:
        message.setData(type() + QLatin1Char('\n') + label() + QLatin1Char('\n') + description());
        return true;
    case KM_GETPROPERTY: {
        if (isVia)
            return false;
        const QString key = propertyKey(message.data().toString());
        message.setData(key + QLatin1Char('=') + property(key));
        message.setOrigin(label());
        return true;
    }
    case KM_SETPROPERTY: {
        const QString text = message.data().toString();
        const int eq = text.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? text : text.left(eq);
        const QString value = eq < 0 ? QString() : text.mid(eq + 1);
        setProperty(name, value, false, false);
        // A via module applies the value and leaves the request to its states.
        if (isVia)
            return false;
        message.setData(propertyKey(name) + QLatin1Char('=') + property(name));
        return true;
    }
    case KM_GETALLPROPERTIES:
        if (isVia)
            return false;
        message.setData(allPropertiesText());
        message.setOrigin(label());
        return true;
    case KM_STATUS:
        if (isVia)
            return false;
        message.setData(status());
        return true;
    case KM_INFOTEXT:
        if (isVia)
            return false;
        message.setData(infoText());
        return true;
    case KM_CANCEL_INTERVIEWS:
        cancelInterviews(message.origin());
        return true;
    case KM_SNIFFER_SET:
        snifferOn = message.data().toInt() > 0;
        return true;
    default:
        return false;
    }
}
