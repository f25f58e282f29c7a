// ZorSharedData: a registry of texts that several threads use in turn.
//
// Each registered text is reached by an integer id (1, 2, ... never given
// twice) and guarded by a recursive mutex of its own. A thread locks an
// object, works on it and unlocks it; removal waits until the thread that
// holds the object has let go, then deletes it.
//
// Locking holds the registry mutex while it waits for the object, so no
// object can be removed between the look-up and the lock (and registration
// and removal wait meanwhile). Unlocking therefore must never take the
// registry mutex: the mutex map has a short lock of its own for that, held
// only for look-ups and never while waiting for anything else.
//
// The self-check suite shares its objects through the process-wide
// registry instance(); separate instances serve tests of the registry.
#pragma once

#include <QMap>
#include <QString>

#include <mutex>

class ZorSharedData
{
public:
    ZorSharedData() = default;
    // Deletes what is still registered; no thread may hold an object then.
    ~ZorSharedData();
    Q_DISABLE_COPY(ZorSharedData)

    // The registry of the process, empty at start.
    static ZorSharedData &instance();

    // Takes ownership of the text; returns its new id.
    int registerObject(QString *object);
    // Locks the object and returns it; null when the id is not registered,
    // or when timeoutMs > 0 and the lock was not had within that time
    // (0 waits without limit).
    QString *lockObject(int id, int timeoutMs);
    // Unlocks an object this thread locked; an unknown id does nothing.
    void unlockObject(int id);
    // Takes the object out of the registry, waits until no thread holds it,
    // deletes it and its mutex. False when the id is not registered. The
    // calling thread must not hold the object itself.
    bool removeObject(int id);
    // removeObject for every id given so far; true when one was removed.
    bool removeAllObjects();

    // The id given to the last registered object (0 before the first).
    int lastObjectId() const;

private:
    // Standard mutexes, so that ThreadSanitizer sees every hand-over.
    using ObjectMutex = std::recursive_timed_mutex;
    ObjectMutex *mutexOf(int id) const;

    mutable std::mutex registryMutex;
    int lastId = 0;
    QMap<int, QString *> objects;          // under registryMutex

    // Guards only the map below, never the mutexes in it.
    mutable std::mutex mutexMapLock;
    QMap<int, ObjectMutex *> mutexes;
};
