#include "buslinkcommon.h"

#include <chrono>
#include <cstring>

namespace buslink {

bool isStandardBitRate(int32_t bitRate)
{
    return bitRate == 125000 || bitRate == 250000 || bitRate == 500000 || bitRate == 1000000;
}

void Event::set()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        set_ = true;
    }
    changed_.notify_all();
}

void Event::reset()
{
    std::lock_guard<std::mutex> guard(lock_);
    set_ = false;
}

bool Event::isSet() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return set_;
}

bool Event::wait(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                             [this] { return set_; });
}

ReceiveRing::ReceiveRing(int capacity) : entries_(capacity > 1 ? capacity : 2) {}

int32_t ReceiveRing::push(const CanPortFrame &frame)
{
    std::lock_guard<std::mutex> guard(lock_);
    const int at = write_.load(std::memory_order_relaxed);
    int next = at + 1;
    if (next == capacity())
        next = 0;
    if (next == read_.load(std::memory_order_acquire))
        return BUSLINK_OVERFLOW;
    entries_[at] = frame;
    write_.store(next, std::memory_order_release);
    return BUSLINK_OK;
}

int32_t ReceiveRing::pop(CanPortFrame *frame)
{
    const int at = read_.load(std::memory_order_relaxed);
    if (at == write_.load(std::memory_order_acquire))
        return BUSLINK_NO_MESSAGE;
    *frame = entries_[at];
    int next = at + 1;
    if (next == capacity())
        next = 0;
    read_.store(next, std::memory_order_release);
    return BUSLINK_OK;
}

void ReceiveRing::clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    write_.store(0);
    read_.store(0);
}

PortSlot::PortSlot(int index, int ringCapacity) : index_(index), ring_(ringCapacity) {}

PortSlot::~PortSlot()
{
    stopReceiveThread();
}

int32_t PortSlot::pushReceived(const CanPortFrame &frame)
{
    if (!started.load())
        return BUSLINK_PORT_NOT_USABLE;
    return ring_.push(frame);
}

void PortSlot::pushEcho(int32_t id, const uint8_t *data, int32_t len, int32_t flags)
{
    if (!echo.load())
        return;
    CanPortFrame frame{};
    frame.id = id;
    frame.len = len;
    frame.flags = flags;
    if (!(flags & BUSLINK_FLAG_REMOTE) && data && len > 0)
        std::memcpy(frame.data, data, size_t(len > 8 ? 8 : len));
    pushReceived(frame); // a full ring or a port not started drops the echo
}

int32_t PortSlot::read(int32_t *id, uint8_t *data, int32_t *len, int32_t *flags)
{
    CanPortFrame frame;
    const int32_t result = ring_.pop(&frame);
    if (result != BUSLINK_OK)
        return result;
    *id = frame.id;
    *len = frame.len;
    *flags = frame.flags;
    const int32_t n = frame.len < 0 ? 0 : (frame.len > 8 ? 8 : frame.len);
    if (data && n > 0)
        std::memcpy(data, frame.data, size_t(n));
    return BUSLINK_OK;
}

bool PortSlot::startReceiveThread(Poll poll)
{
    if (thread_.joinable())
        return false;
    run_.store(true);
    thread_ = std::thread(&PortSlot::run, this, std::move(poll));
    return true;
}

void PortSlot::stopReceiveThread()
{
    run_.store(false);
    if (thread_.joinable())
        thread_.join();
}

void PortSlot::run(Poll poll)
{
    while (run_.load()) {
        bool got;
        {
            std::lock_guard<std::mutex> guard(portLock);
            got = poll(*this);
        }
        if (!got)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

PortTable::PortTable(int slotCount, int ringCapacity)
{
    for (int i = 0; i < slotCount; ++i)
        slots_.push_back(std::make_unique<PortSlot>(i, ringCapacity));
}

void PortTable::init()
{
    std::lock_guard<std::mutex> guard(tableLock_);
    for (auto &s : slots_) {
        if (s->open_.load())
            continue;
        s->started.store(false);
        s->echo.store(false);
        s->vendorHandle = 0;
    }
}

int32_t PortTable::acquire(int32_t *port)
{
    std::lock_guard<std::mutex> guard(tableLock_);
    for (auto &s : slots_) {
        if (s->open_.load())
            continue;
        *port = s->index_;
        s->ring_.clear();
        s->started.store(false);
        s->echo.store(false);
        s->vendorHandle = 0;
        s->open_.store(true);
        return BUSLINK_OK;
    }
    return BUSLINK_OUT_OF_INTERFACES;
}

int32_t PortTable::beginOpen(int32_t *port, int32_t *index)
{
    if (!port)
        return BUSLINK_PORT_NOT_USABLE;
    *port = -1;
    return acquire(index);
}

PortSlot *PortTable::slot(int32_t port)
{
    if (port < 0 || port >= size())
        return nullptr;
    PortSlot *s = slots_[size_t(port)].get();
    return s->open_.load() ? s : nullptr;
}

int32_t PortTable::release(int32_t port)
{
    PortSlot *s = slot(port);
    if (!s)
        return BUSLINK_PORT_NOT_USABLE;
    s->stopReceiveThread();
    std::lock_guard<std::mutex> guard(tableLock_);
    s->started.store(false);
    s->echo.store(false);
    s->open_.store(false);
    return BUSLINK_OK;
}

int32_t PortTable::setEcho(int32_t port, int32_t on)
{
    PortSlot *s = slot(port);
    if (!s)
        return BUSLINK_PORT_NOT_USABLE;
    s->echo = (on & 0xff) != 0;
    return BUSLINK_OK;
}

} // namespace buslink
