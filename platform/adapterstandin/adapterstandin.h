// Shared pieces of the stand-ins for the adapter makers' libraries
// (platform/cpcwin, mhstcan, canlib32, pcanusb, castordriver).
//
// Each simulated adapter channel is one client of the simulated CAN gateway
// (ZorSimBusClient): opening a channel connects it, going on the bus opens
// the gateway channel at the bit rate, sending and receiving carry frames.
// Without a gateway (QUORVANE_SIM_GATEWAY unset) there is no adapter, and
// opening a channel fails the way the real library fails without hardware.
#pragma once

#include "zorsimbusclient.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace StandIn {

// Channels a simulated adapter offers: 0 to ChannelCount - 1.
constexpr int ChannelCount = 4;

// A connected gateway client for adapter channel `channel`, or null when
// the channel does not exist, no gateway is configured or it cannot be
// reached ("no device").
inline std::unique_ptr<ZorSimBusClient> connectChannel(int channel)
{
    if (channel < 0 || channel >= ChannelCount || !ZorSimBusClient::gatewayConfigured())
        return nullptr;
    std::unique_ptr<ZorSimBusClient> bus(new ZorSimBusClient);
    if (!bus->connectToGateway())
        return nullptr;
    return bus;
}

// The gateway frame for a frame an adapter library is asked to send. Data
// bytes are taken for a data frame only (a remote frame has none), and may
// be null when length is 0. length is 0 to 8: the caller has checked it.
inline ZorSimBusFrame frameToSend(uint32_t id, bool extended, bool remote, int length,
                                  const void *data)
{
    ZorSimBusFrame frame;
    frame.id = id;
    frame.extended = extended;
    frame.remote = remote;
    frame.len = quint8(length);
    if (!remote && length > 0)
        std::memcpy(frame.data, data, size_t(length));
    return frame;
}

// Open channels by handle. A caller gets a shared reference, so a channel
// closed by one thread stays alive until another thread's call on it ends.
template <typename Channel>
class HandleTable
{
public:
    std::shared_ptr<Channel> find(int handle) const
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = channels_.find(handle);
        return it == channels_.end() ? nullptr : it->second;
    }
    // Stores the channel under the lowest free handle (0 or above) and returns it.
    int add(std::shared_ptr<Channel> channel)
    {
        std::lock_guard<std::mutex> guard(lock_);
        int handle = 0;
        while (channels_.count(handle))
            ++handle;
        channels_[handle] = std::move(channel);
        return handle;
    }
    // Stores the channel under a handle of the caller's choice; false when taken.
    bool insert(int handle, std::shared_ptr<Channel> channel)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return channels_.emplace(handle, std::move(channel)).second;
    }
    // Removes the channel and hands it over (null when there was none).
    std::shared_ptr<Channel> take(int handle)
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = channels_.find(handle);
        if (it == channels_.end())
            return nullptr;
        std::shared_ptr<Channel> channel = std::move(it->second);
        channels_.erase(it);
        return channel;
    }
    // Removes every channel.
    std::map<int, std::shared_ptr<Channel>> takeAll()
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::map<int, std::shared_ptr<Channel>> all;
        all.swap(channels_);
        return all;
    }

private:
    mutable std::mutex lock_;
    std::map<int, std::shared_ptr<Channel>> channels_;
};

} // namespace StandIn
