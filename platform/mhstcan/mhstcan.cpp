// Stand-in for the MHS library "mhstcan": Tiny-CAN devices 0 to 3 carried to
// the simulated CAN gateway.
//
// CanInitDriver starts the driver; a device index may be open once at a
// time. CanSetSpeed keeps the rate, CanSetMode start puts the device on the
// bus at it (reset and stop take it off). Received frames wait in the
// device's queue for CanReceive.
#include "mhstcan.h"
#include "adapterstandin.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#define MHSTCAN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Device {
    std::unique_ptr<ZorSimBusClient> bus;
    std::atomic<int> bitRate{0};
};

StandIn::HandleTable<Device> &devices()
{
    static StandIn::HandleTable<Device> table;
    return table;
}
std::mutex driverLock; // driver start and stop, device open and close
std::atomic<bool> driverUp{false};
std::atomic<MhstcanEventCallback> rxCallback{nullptr};
std::atomic<MhstcanEventCallback> statusCallback{nullptr};
std::atomic<MhstcanEventCallback> pnpCallback{nullptr};
std::atomic<uint16_t> eventMask{0};

std::shared_ptr<Device> device(uint32_t index)
{
    return index < uint32_t(StandIn::ChannelCount) ? devices().find(int(index)) : nullptr;
}

void closeDevice(const std::shared_ptr<Device> &d)
{
    d->bus->setArrivalNotifier(nullptr);
    d->bus->wake();
}

} // namespace

MHSTCAN_EXPORT int32_t CanInitDriver(const char *options)
{
    driverUp = true;
    return 0;
}

MHSTCAN_EXPORT void CanDownDriver(void)
{
    std::lock_guard<std::mutex> guard(driverLock);
    for (auto &entry : devices().takeAll())
        closeDevice(entry.second);
    driverUp = false;
}

MHSTCAN_EXPORT int32_t CanSetOptions(const char *options)
{
    return driverUp ? 0 : MHSTCAN_ERR_NOT_INITIALISED;
}

MHSTCAN_EXPORT int32_t CanDeviceOpen(uint32_t index, const char *parameters)
{
    std::lock_guard<std::mutex> guard(driverLock);
    if (!driverUp)
        return MHSTCAN_ERR_NOT_INITIALISED;
    if (index >= uint32_t(StandIn::ChannelCount))
        return MHSTCAN_ERR_NO_DEVICE;
    if (devices().find(int(index)))
        return MHSTCAN_ERR_DEVICE_BUSY;
    auto d = std::make_shared<Device>();
    d->bus = StandIn::connectChannel(int(index));
    if (!d->bus)
        return MHSTCAN_ERR_NO_DEVICE;
    d->bus->setArrivalNotifier([index] {
        if (MhstcanEventCallback cb = rxCallback.load())
            cb(index, 0);
    });
    devices().insert(int(index), d);
    return 0;
}

MHSTCAN_EXPORT int32_t CanDeviceClose(uint32_t index)
{
    std::lock_guard<std::mutex> guard(driverLock);
    std::shared_ptr<Device> d =
        index < uint32_t(StandIn::ChannelCount) ? devices().take(int(index)) : nullptr;
    if (!d)
        return MHSTCAN_ERR_NOT_OPEN;
    closeDevice(d);
    return 0;
}

MHSTCAN_EXPORT int32_t CanApplaySettings(uint32_t index)
{
    return device(index) ? 0 : MHSTCAN_ERR_NOT_OPEN;
}

MHSTCAN_EXPORT int32_t CanSetMode(uint32_t index, uint8_t mode, uint16_t clear)
{
    std::shared_ptr<Device> d = device(index);
    if (!d)
        return MHSTCAN_ERR_NOT_OPEN;
    switch (mode) {
    case MHSTCAN_MODE_START:
        if (clear)
            d->bus->clearReceived();
        return d->bitRate && d->bus->open(d->bitRate) ? 0 : MHSTCAN_ERR_BUS;
    case MHSTCAN_MODE_STOP:
    case MHSTCAN_MODE_RESET:
        return !d->bus->isOpen() || d->bus->close() ? 0 : MHSTCAN_ERR_BUS;
    default:
        return MHSTCAN_ERR_BAD_ARGUMENT;
    }
}

MHSTCAN_EXPORT int32_t CanSet(uint32_t index, uint16_t key, uint16_t flags, const void *value,
                              uint32_t size)
{
    return MHSTCAN_ERR_NOT_SUPPORTED;
}

MHSTCAN_EXPORT int32_t CanGet(uint32_t index, uint16_t key, uint16_t flags, void *value,
                              uint32_t size)
{
    return MHSTCAN_ERR_NOT_SUPPORTED;
}

MHSTCAN_EXPORT int32_t CanTransmit(uint32_t index, const MhstcanMessage *messages, int32_t count)
{
    std::shared_ptr<Device> d = device(index);
    if (!d)
        return MHSTCAN_ERR_NOT_OPEN;
    if (!messages || count < 0)
        return MHSTCAN_ERR_BAD_ARGUMENT;
    for (int32_t i = 0; i < count; ++i) {
        const MhstcanMessage &m = messages[i];
        const int length = int(m.flags & MHSTCAN_LENGTH_MASK);
        if (length > 8)
            return MHSTCAN_ERR_BAD_ARGUMENT;
        const ZorSimBusFrame frame = StandIn::frameToSend(m.id, m.flags & MHSTCAN_FLAG_EXTENDED,
                                                          m.flags & MHSTCAN_FLAG_REMOTE, length, m.data);
        if (!d->bus->send(frame))
            return MHSTCAN_ERR_BUS;
    }
    return 0;
}

MHSTCAN_EXPORT void CanTransmitClear(uint32_t index) {}

MHSTCAN_EXPORT uint32_t CanTransmitGetCount(uint32_t index)
{
    std::shared_ptr<Device> d = device(index);
    return d ? uint32_t(d->bus->pendingTransmits()) : 0;
}

MHSTCAN_EXPORT int32_t CanTransmitSet(uint32_t index, uint16_t command, uint32_t time)
{
    return MHSTCAN_ERR_NOT_SUPPORTED;
}

// Up to count frames from the device's queue: their number, 0 when none waits.
MHSTCAN_EXPORT int32_t CanReceive(uint32_t index, MhstcanMessage *messages, int32_t count)
{
    std::shared_ptr<Device> d = device(index);
    if (!d)
        return MHSTCAN_ERR_NOT_OPEN;
    if (!messages || count < 0)
        return MHSTCAN_ERR_BAD_ARGUMENT;
    int32_t taken = 0;
    ZorSimBusFrame frame;
    while (taken < count && d->bus->tryReceive(&frame)) {
        MhstcanMessage &m = messages[taken++];
        m = MhstcanMessage{};
        m.id = frame.id;
        m.flags = frame.len | (frame.remote ? MHSTCAN_FLAG_REMOTE : 0)
                  | (frame.extended ? MHSTCAN_FLAG_EXTENDED : 0);
        if (!frame.remote)
            std::memcpy(m.data, frame.data, frame.len);
    }
    return taken;
}

MHSTCAN_EXPORT void CanReceiveClear(uint32_t index)
{
    if (std::shared_ptr<Device> d = device(index))
        d->bus->clearReceived();
}

MHSTCAN_EXPORT uint32_t CanReceiveGetCount(uint32_t index)
{
    std::shared_ptr<Device> d = device(index);
    return d ? uint32_t(d->bus->pendingFrames()) : 0;
}

MHSTCAN_EXPORT int32_t CanSetSpeed(uint32_t index, uint16_t kbitPerSecond)
{
    std::shared_ptr<Device> d = device(index);
    if (!d)
        return MHSTCAN_ERR_NOT_OPEN;
    const int rate = int(kbitPerSecond) * 1000;
    if (ZorSimBusClient::bitRateCode(rate) < 0)
        return MHSTCAN_ERR_BAD_ARGUMENT;
    d->bitRate = rate;
    return 0;
}

MHSTCAN_EXPORT int32_t CanSetSpeedUser(uint32_t index, uint32_t value)
{
    return MHSTCAN_ERR_NOT_SUPPORTED;
}

MHSTCAN_EXPORT const char *CanDrvInfo(void)
{
    return "Tiny-CAN simulated driver 1.0, 4 devices";
}

MHSTCAN_EXPORT const char *CanDrvHwInfo(uint32_t index)
{
    return device(index) ? "Tiny-CAN simulated adapter" : nullptr;
}

MHSTCAN_EXPORT int32_t CanSetFilter(uint32_t index, const void *filter)
{
    return MHSTCAN_ERR_NOT_SUPPORTED;
}

MHSTCAN_EXPORT void CanGetDeviceStatus(uint32_t index, MhstcanDeviceStatus *status)
{
    if (!status)
        return;
    std::shared_ptr<Device> d = device(index);
    status->state = !driverUp ? MHSTCAN_STATE_NO_DRIVER
                    : !d      ? MHSTCAN_STATE_CLOSED
                    : d->bus->isOpen() ? MHSTCAN_STATE_ON_BUS : MHSTCAN_STATE_OPEN;
    status->receiveOverrun = d && d->bus->droppedFrames() > 0 ? 1 : 0;
    status->reserved = 0;
}

MHSTCAN_EXPORT void CanSetPnPEventCallback(MhstcanEventCallback callback)
{
    pnpCallback = callback;
}

MHSTCAN_EXPORT void CanSetStatusEventCallback(MhstcanEventCallback callback)
{
    statusCallback = callback;
}

MHSTCAN_EXPORT void CanSetRxEventCallback(MhstcanEventCallback callback)
{
    rxCallback = callback;
}

MHSTCAN_EXPORT void CanSetEvents(uint16_t events)
{
    eventMask = events;
}

MHSTCAN_EXPORT uint32_t CanEventStatus(void)
{
    return 0;
}
