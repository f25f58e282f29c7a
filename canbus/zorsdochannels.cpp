#include "zorsdochannels.h"

#include <QElapsedTimer>
#include <atomic>

namespace {

qint64 monotonicNow()
{
    static const QElapsedTimer reference = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return reference.elapsed();
}

std::atomic<ZorSdoChannels::Clock> clockFunction{&monotonicNow};

qint64 now()
{
    return clockFunction.load()();
}

} // namespace

std::shared_ptr<ZorSdoChannels> ZorSdoChannels::forBus(const void *bus)
{
    static std::mutex mutex;
    static std::map<const void *, std::weak_ptr<ZorSdoChannels>> buses;
    std::lock_guard<std::mutex> locker(mutex);
    for (auto it = buses.begin(); it != buses.end();) {
        if (it->second.expired())
            it = buses.erase(it);
        else
            ++it;
    }
    std::shared_ptr<ZorSdoChannels> channels = buses[bus].lock();
    if (!channels) {
        channels = std::make_shared<ZorSdoChannels>();
        buses[bus] = channels;
    }
    return channels;
}

ZorSdoChannels::Token ZorSdoChannels::newToken()
{
    static std::atomic<Token> next{1};
    return next++;
}

void ZorSdoChannels::setClock(Clock clock)
{
    clockFunction = clock ? clock : &monotonicNow;
}

bool ZorSdoChannels::acquire(int node, Token token, int holdMs, const void *owner, const Wake &wake)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    const qint64 t = now();
    Hold &hold = m_holds[node];
    if (hold.token == token || isFree(hold, t)) {
        hold.token = token;
        hold.until = t + qMax(0, holdMs);
        return true;
    }
    if (wake) {
        for (const Waiter &w : m_waiters) {
            if (w.node == node && w.owner == owner)
                return false;   // already waiting
        }
        m_waiters.push_back({node, owner, wake});
    }
    return false;
}

void ZorSdoChannels::seize(int node, Token token, int holdMs)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    Hold &hold = m_holds[node];
    hold.token = token;
    hold.until = now() + qMax(0, holdMs);
}

void ZorSdoChannels::release(int node, Token token)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    const auto it = m_holds.find(node);
    if (it == m_holds.end() || it->second.token != token)
        return;
    m_holds.erase(it);
    wakeWaiters(node);
}

void ZorSdoChannels::releaseAll(Token token)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    for (auto it = m_holds.begin(); it != m_holds.end();) {
        if (it->second.token == token) {
            const int node = it->first;
            it = m_holds.erase(it);
            wakeWaiters(node);
        } else {
            ++it;
        }
    }
}

void ZorSdoChannels::forgetOwner(const void *owner)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    std::vector<Waiter> kept;
    for (Waiter &w : m_waiters) {
        if (w.owner != owner)
            kept.push_back(std::move(w));
    }
    m_waiters.swap(kept);
}

ZorSdoChannels::Token ZorSdoChannels::holder(int node) const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    const auto it = m_holds.find(node);
    return it == m_holds.end() || isFree(it->second, now()) ? 0 : it->second.token;
}

void ZorSdoChannels::wakeWaiters(int node)
{
    // Called under the mutex, so that forgetOwner() returning means no
    // wake-up of that owner runs any more. A wake-up only signals a module
    // (ZorModule::wakeup), which takes no lock of this class.
    std::vector<Waiter> kept;
    for (Waiter &w : m_waiters) {
        if (w.node == node)
            w.wake();
        else
            kept.push_back(std::move(w));
    }
    m_waiters.swap(kept);
}
