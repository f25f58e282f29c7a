#include "zormoduleshost.h"

#include "zorabstractdommodel.h"
#include "zormoduleregistry.h"

#include <QAbstractItemModel>
#include <QDebug>
#include <QDeadlineTimer>

ZorModulesHost::ZorModulesHost(QObject *projectObject, ZorHostedProject *project)
    : QThread(projectObject), projectObject(projectObject), project(project)
{
    ZorMessage::registerMetaType();
    qDebug("ZorModulesHost created");
}

ZorModulesHost::~ZorModulesHost()
{
    if (isRunning()) {
        qDebug("ZorModulesHost wait thread end");
        {
            std::lock_guard<std::mutex> locker(hostMutex);
            stopping = true;
        }
        quit();
        if (!wait(QDeadlineTimer(actionTimeoutMs))) {
            // Terminating could leave a module lock held: wait instead.
            qCritical("ZorModulesHost did not end within %d ms: a module does not stop; "
                      "waiting for it", actionTimeoutMs);
            wait();
        }
    }
    std::lock_guard<std::mutex> locker(hostMutex);   // hands the thread's writes over
    qDebug("ZorModulesHost thread ended");
}

bool ZorModulesHost::performAction(int requestedAction)
{
    qDebug("ZorModulesHost action = %d", requestedAction);
    if (QThread::currentThread() == this) {
        qWarning("ZorModulesHost action %d refused: asked from the host thread itself", requestedAction);
        return false;
    }
    if (!isRunning()) {
        qWarning("ZorModulesHost action %d refused: the host thread does not run", requestedAction);
        return false;
    }
    std::unique_lock<std::mutex> locker(hostMutex);
    action = requestedAction;
    const quint64 serial = ++requested;
    quit();
    // Never longer than the time-out, also while an earlier action that ran
    // out of time is still busy.
    const bool done = actionDone.wait_for(locker, std::chrono::milliseconds(actionTimeoutMs), [&] {
        return finished >= serial || threadEnded;
    }) && finished >= serial;
    locker.unlock();
    qDebug("ZorModulesHost action finished");
    return done;
}

void ZorModulesHost::run()
{
    for (;;) {
        bool stopRequested;
        {
            std::lock_guard<std::mutex> locker(hostMutex);
            stopRequested = stopping;
        }
        // A stop asked for between two actions still deletes the modules.
        if (!stopRequested)
            exec();
        int todo;
        quint64 serial;
        bool stop;
        {
            std::lock_guard<std::mutex> locker(hostMutex);
            todo = action;
            action = NoAction;
            serial = requested;
            stop = stopping;
        }
        qDebug("ZorModulesHost thread action = %d", todo);
        if (stop || todo == DeleteModules)
            deleteModules();
        else if (todo == CreateModules)
            createModules();
        qDebug("ZorModulesHost thread action finished");
        {
            std::lock_guard<std::mutex> locker(hostMutex);
            finished = serial;
        }
        actionDone.notify_all();
        if (stop)
            break;
    }
    // Notified under the lock: the destructor takes the lock after the
    // thread has ended, which orders this last use of the condition before
    // its teardown (also for ThreadSanitizer).
    std::lock_guard<std::mutex> locker(hostMutex);
    threadEnded = true;
    actionDone.notify_all();
}

void ZorModulesHost::deleteAll(const QList<ZorModule *> &modules)
{
    // Stop them all at once, then wait for each.
    for (ZorModule *m : modules)
        m->requestStop();
    for (ZorModule *m : modules) {
        m->stop();
        delete m;
    }
}

void ZorModulesHost::createModules()
{
    if (!projectObject || !project)
        return;
    ZorModuleMap &modules = project->hostModuleMap();

    // Items that are gone lose their modules. The rest is entered into a
    // fresh map, sorted by the items' current rows.
    QList<ZorModule *> stale;
    ZorModuleMap current;
    for (auto it = modules.constBegin(); it != modules.constEnd(); ++it) {
        if (it.key().isValid())
            current.insert(it.key(), it.value());
        else if (it.value())
            stale << it.value();
    }
    modules.swap(current);
    deleteAll(stale);

    // A renamed item: its module takes the new label, and the links, which
    // go by label, are made again.
    bool renamed = false;
    for (ZorModule *module : qAsConst(modules)) {
        if (module && module->refreshIdentity())
            renamed = true;
    }

    int created = 0;
    QAbstractItemModel *model = project->hostModel();
    if (model) {
        const ZorModuleRegistry &registry = project->hostModuleRegistry();
        const QModelIndex projectItem = model->index(0, 0);
        const int rows = model->rowCount(projectItem);
        for (int row = 0; row < rows; ++row) {
            const QModelIndex item = model->index(row, 0, projectItem);
            const QPersistentModelIndex key(item);
            if (modules.contains(key))
                continue;
            const QString type = item.data(ZorAbstractDomModel::TypeRole).toString();
            ZorModule *module = registry.create(type, nullptr);
            if (!module)
                continue;
            modules.insert(key, module);
            module->setupZorModule(item, model);
            module->start();
            ++created;
        }
    }
    if (stale.isEmpty() && created == 0 && !renamed)
        return;

    QObject *receiver = project->hostAppControlReceiver();
    const bool hasIn = receiver && receiver->metaObject()->indexOfSlot("appControlIn(ZorMessage)") >= 0;
    const bool hasOut = receiver && receiver->metaObject()->indexOfSignal("appControlResponse(ZorMessage)") >= 0;
    const auto unique = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);
    for (ZorModule *module : qAsConst(modules)) {
        if (!module)
            continue;
        module->setupSlaves(modules);
        if (hasIn)
            connect(module, SIGNAL(appControlOut(ZorMessage)), receiver, SLOT(appControlIn(ZorMessage)), unique);
        if (hasOut)
            connect(receiver, SIGNAL(appControlResponse(ZorMessage)), module, SLOT(masterIn(ZorMessage)), unique);
    }
}

void ZorModulesHost::deleteModules()
{
    if (!projectObject || !project)
        return;
    ZorModuleMap &modules = project->hostModuleMap();
    QList<ZorModule *> all;
    for (ZorModule *m : qAsConst(modules)) {
        if (m)
            all << m;
    }
    modules.clear();
    deleteAll(all);
}
