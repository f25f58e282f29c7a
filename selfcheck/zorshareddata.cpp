#include "zorshareddata.h"

#include <chrono>

ZorSharedData::~ZorSharedData()
{
    qDeleteAll(objects);
    qDeleteAll(mutexes);
}

ZorSharedData &ZorSharedData::instance()
{
    static ZorSharedData registry;
    return registry;
}

int ZorSharedData::registerObject(QString *object)
{
    std::lock_guard<std::mutex> registry(registryMutex);
    const int id = ++lastId;
    {
        std::lock_guard<std::mutex> map(mutexMapLock);
        mutexes.insert(id, new ObjectMutex);
    }
    objects.insert(id, object);
    return id;
}

ZorSharedData::ObjectMutex *ZorSharedData::mutexOf(int id) const
{
    std::lock_guard<std::mutex> map(mutexMapLock);
    return mutexes.value(id);
}

QString *ZorSharedData::lockObject(int id, int timeoutMs)
{
    std::lock_guard<std::mutex> registry(registryMutex);
    QString *object = objects.value(id);
    ObjectMutex *mutex = mutexOf(id);
    if (!object || !mutex)
        return nullptr;
    // The registry stays locked while waiting: the object cannot be removed
    // under the waiting thread. Its mutex stays valid for the same reason.
    if (timeoutMs <= 0)
        mutex->lock();
    else if (!mutex->try_lock_for(std::chrono::milliseconds(timeoutMs)))
        return nullptr;
    return object;
}

void ZorSharedData::unlockObject(int id)
{
    // The map lock is held across the unlock, so that a removal that takes
    // the mutex right after it cannot delete the mutex while unlock() still
    // runs.
    std::lock_guard<std::mutex> map(mutexMapLock);
    if (ObjectMutex *mutex = mutexes.value(id))
        mutex->unlock();
}

bool ZorSharedData::removeObject(int id)
{
    QString *object = nullptr;
    ObjectMutex *mutex = nullptr;
    {
        std::lock_guard<std::mutex> registry(registryMutex);
        object = objects.take(id);
        if (!object)
            return false;
        mutex = mutexOf(id);
    }
    // Out of the object map: nobody can lock it any more. Wait for the
    // thread that holds it, if any.
    mutex->lock();
    {
        std::lock_guard<std::mutex> map(mutexMapLock);
        mutexes.remove(id);
    }
    mutex->unlock();
    delete mutex;
    delete object;
    return true;
}

bool ZorSharedData::removeAllObjects()
{
    bool removed = false;
    const int last = lastObjectId();
    for (int id = 1; id <= last; ++id)
        removed |= removeObject(id);
    return removed;
}

int ZorSharedData::lastObjectId() const
{
    std::lock_guard<std::mutex> registry(registryMutex);
    return lastId;
}
