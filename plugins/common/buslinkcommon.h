// Shared building blocks of the adapter plug-ins: the table of open ports,
// each port's software receive ring, software echo and the per-port receive
// thread. Plain C++17 with std::thread and std::mutex; no Qt, so that a
// plug-in depends on nothing but the C++ runtime and its maker's library.
//
// A plug-in with a port table keeps one static PortTable and implements the
// nine functions of buslinkplugin.h on it:
//   canPortLibraryInit -> table.init()
//   canPortOpen        -> table.beginOpen(port, &index), open the adapter,
//                         optionally slot->startReceiveThread(poll), then
//                         *port = index (table.release(index) on failure)
//   canPortClose       -> table.release(port) (stops the thread first)
//   canPortWrite       -> send through the adapter, then slot->pushEcho(...)
//   canPortRead        -> slot->read(...)
//   canPortEcho        -> table.setEcho(port, on)
// The receive thread's poll function runs under the port lock and pushes what
// the adapter delivered with slot.pushReceived(). Plug-ins whose maker's
// library queues and echoes by itself need none of this.
#pragma once

#include "buslinkplugin.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace buslink {

// True for the four rates every plug-in accepts: 125000, 250000, 500000 and
// 1000000 bit/s.
bool isStandardBitRate(int32_t bitRate);

// A manual-reset event: set() releases every waiter and stays set until
// reset(). For command answers that a plug-in's receive thread hands to the
// caller waiting in an exported function. Waits use the monotonic clock.
class Event
{
public:
    void set();
    void reset();
    bool isSet() const;
    // True when the event is set now or becomes set within timeoutMs.
    bool wait(int timeoutMs);

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
};

// Ring of received frames. Pushes (receive thread, vendor callback, echo of a
// write) are serialised by the ring lock; the single reader pops without it.
// Of `capacity` entries at most capacity - 1 are used; a full ring refuses the
// newest frame and keeps the older ones.
class ReceiveRing
{
public:
    explicit ReceiveRing(int capacity);
    ReceiveRing(const ReceiveRing &) = delete;
    ReceiveRing &operator=(const ReceiveRing &) = delete;

    // BUSLINK_OK, or BUSLINK_OVERFLOW with the frame dropped.
    int32_t push(const CanPortFrame &frame);
    // BUSLINK_OK with the oldest frame in *frame, or BUSLINK_NO_MESSAGE.
    int32_t pop(CanPortFrame *frame);
    // Empties the ring; only while nobody pushes or pops.
    void clear();
    int capacity() const { return int(entries_.size()); }

private:
    std::vector<CanPortFrame> entries_;
    std::atomic<int> write_{0};
    std::atomic<int> read_{0};
    std::mutex lock_;
};

// One port of a plug-in: its flags, its ring, its locks and its receive thread.
class PortSlot
{
public:
    PortSlot(int index, int ringCapacity);
    ~PortSlot();
    PortSlot(const PortSlot &) = delete;
    PortSlot &operator=(const PortSlot &) = delete;

    int index() const { return index_; }
    bool isOpen() const { return open_.load(); }

    // What the maker's library needs to address this adapter (a channel
    // handle, a device index, ...). Set before the receive thread starts.
    intptr_t vendorHandle = 0;

    // Set by a successful canPortGoBusOn; frames are pushed only while set.
    std::atomic<bool> started{false};
    // Set by canPortEcho.
    std::atomic<bool> echo{false};

    // Serialises the adapter calls of this port (the receive thread's poll
    // runs under it).
    std::mutex portLock;

    // A frame the adapter delivered: BUSLINK_PORT_NOT_USABLE when the port
    // is not started, BUSLINK_OVERFLOW when the ring is full, else BUSLINK_OK.
    int32_t pushReceived(const CanPortFrame &frame);
    // After a successful send: with echo on, the sent frame comes back once
    // (without data when remote). A full ring or a port not started drops it.
    void pushEcho(int32_t id, const uint8_t *data, int32_t len, int32_t flags);
    // canPortRead on this port: one frame or BUSLINK_NO_MESSAGE with the
    // outputs untouched.
    int32_t read(int32_t *id, uint8_t *data, int32_t *len, int32_t *flags);

    // Receive thread: loops until stopped, each pass calling poll(*this) under
    // portLock; poll returns true when it got something, else the thread
    // sleeps 1 ms before the next pass. False when a thread already runs.
    using Poll = std::function<bool(PortSlot &)>;
    bool startReceiveThread(Poll poll);
    // Clears the run flag and waits for the thread to end (no time-out).
    void stopReceiveThread();
    // The run flag: a poll function that loops or waits inside checks it and
    // returns when it is cleared, so that stopping never waits on the adapter.
    bool runRequested() const { return run_.load(); }
    bool receiveThreadRunning() const { return thread_.joinable(); }

private:
    friend class PortTable;
    void run(Poll poll);

    const int index_;
    std::atomic<bool> open_{false};
    std::atomic<bool> run_{false};
    ReceiveRing ring_;
    std::thread thread_;
};

// Fixed table of port slots, a static of the plug-in. Port numbers handed to
// the program are slot indexes.
class PortTable
{
public:
    PortTable(int slotCount, int ringCapacity);
    PortTable(const PortTable &) = delete;
    PortTable &operator=(const PortTable &) = delete;

    // canPortLibraryInit: frees every slot that is not open and clears its
    // flags. A slot still open belongs to another driver of this process
    // that loaded the same library (the loader shares one copy), so it stays.
    void init();
    // Takes the lowest free slot: writes its index to *port, empties its
    // ring, clears started and echo and marks it open. BUSLINK_OUT_OF_INTERFACES
    // when all are taken (*port untouched).
    int32_t acquire(int32_t *port);
    // The start of canPortOpen: BUSLINK_PORT_NOT_USABLE for a null `port`;
    // else *port is set to -1 (it gets the index once the adapter is open)
    // and a slot is taken as by acquire(index).
    int32_t beginOpen(int32_t *port, int32_t *index);
    // The open slot with this number, or null (out of range or free).
    PortSlot *slot(int32_t port);
    // Stops the slot's receive thread and frees it. BUSLINK_PORT_NOT_USABLE
    // when the number names no open slot.
    int32_t release(int32_t port);
    // canPortEcho on a slot whose echo is the software one (PortSlot::pushEcho):
    // on when the low byte of `on` is not 0. BUSLINK_PORT_NOT_USABLE when the
    // number names no open slot.
    int32_t setEcho(int32_t port, int32_t on);
    int size() const { return int(slots_.size()); }

private:
    std::vector<std::unique_ptr<PortSlot>> slots_;
    std::mutex tableLock_;
};

} // namespace buslink
