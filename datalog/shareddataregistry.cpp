#include "shareddataregistry.h"

#include "datalogseries.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct Entry
{
    std::recursive_timed_mutex mutex;
    std::unique_ptr<DataLogSeries> series;
    std::atomic<bool> going{false};   // unregister has begun: lock() gives null
};

struct Registry
{
    std::mutex mutex;   // guards counter and entries, never held while waiting for an entry
    int counter = 0;
    std::unordered_map<int, std::shared_ptr<Entry>> entries;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

std::shared_ptr<Entry> entryOf(int id)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> locker(r.mutex);
    const auto it = r.entries.find(id);
    return it == r.entries.end() ? nullptr : it->second;
}

bool inGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

namespace SharedDataRegistry {

int registerSeries(DataLogSeries *series)
{
    if (!series)
        return 0;
    auto entry = std::make_shared<Entry>();
    entry->series.reset(series);
    Registry &r = registry();
    std::lock_guard<std::mutex> locker(r.mutex);
    const int id = ++r.counter;
    r.entries.emplace(id, std::move(entry));
    return id;
}

DataLogSeries *lock(int id, int timeoutMs)
{
    // The entry stays alive while we wait: this reference keeps it.
    const std::shared_ptr<Entry> entry = entryOf(id);
    if (!entry || entry->going)
        return nullptr;
    if (inGuiThread() && (timeoutMs <= 0 || timeoutMs > GuiWaitLimitMs))
        timeoutMs = GuiWaitLimitMs;
    if (timeoutMs == 0)
        entry->mutex.lock();
    else if (!entry->mutex.try_lock_for(std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs)))
        return nullptr;
    if (entry->going) {
        entry->mutex.unlock();
        return nullptr;
    }
    return entry->series.get();
}

void unlock(int id)
{
    if (const std::shared_ptr<Entry> entry = entryOf(id))
        entry->mutex.unlock();
}

bool unregister(int id)
{
    std::shared_ptr<Entry> entry;
    Registry &r = registry();
    {
        std::lock_guard<std::mutex> locker(r.mutex);
        const auto it = r.entries.find(id);
        if (it == r.entries.end() || it->second->going.exchange(true))
            return false;
        entry = it->second;
    }
    // Wait for the holder; its unlock() still finds the entry.
    entry->mutex.lock();
    {
        std::lock_guard<std::mutex> locker(r.mutex);
        r.entries.erase(id);
    }
    std::unique_ptr<DataLogSeries> series = std::move(entry->series);
    entry->mutex.unlock();
    return true;
}

bool isRegistered(int id)
{
    const std::shared_ptr<Entry> entry = entryOf(id);
    return entry && !entry->going;
}

int highestId()
{
    Registry &r = registry();
    std::lock_guard<std::mutex> locker(r.mutex);
    return r.counter;
}

} // namespace SharedDataRegistry
