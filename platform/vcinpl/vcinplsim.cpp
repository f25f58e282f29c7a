// The IXXAT VCI stand-in: the entry points of vcinpl.h over simulated
// devices, each one CAN line on the simulated CAN gateway named by
// QUORVANE_SIM_GATEWAY (one ZorSimBusClient per device). Without that
// variable the enumeration finds no device, as with no adapter plugged in.
//
// Handles are small numbers, not pointers: a stale or foreign handle gives
// VCI_E_INVALID_HANDLE. Each call looks its handle up under the table lock
// and keeps the device alive while it runs. Received frames are moved into
// the channel's queue on the gateway client's thread (its arrival
// notifier), so the queue keeps bus order whoever waits or peeks.
#define ZOR_VCINPL_BUILD
#include "vcinpl.h"
#include "zorsimbusclient.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct Settings
{
    int devices = 1;
    uint32_t major = 3, minor = 5;
    uint32_t clock = 1000000, divisor = 1;
    bool texts = true;
    bool sendTimeout = false;
};

struct SimDevice
{
    int index = 0;
    std::mutex lock;
    std::condition_variable arrived;
    ZorSimBusClient bus;
    int bitRate = 0;
    bool started = false;
    bool channelOpen = false;
    bool active = false;
    std::deque<VciCanMessage> rx;
    bool rxEvent = false; // messages arrived since the last wait (auto-reset)
    uint32_t clock = 1000000, divisor = 1;
    int sent = 0;

    ~SimDevice()
    {
        bus.setArrivalNotifier(nullptr);
        bus.disconnectFromGateway();
    }

    uint32_t ticks(qint64 stampUs) const
    {
        if (clock == 0 || divisor == 0)
            return uint32_t(stampUs);
        return uint32_t(double(stampUs) * double(clock) / (double(divisor) * 1e6));
    }

    void takeFrames()
    {
        ZorSimBusFrame f;
        while (bus.tryReceive(&f)) {
            std::lock_guard<std::mutex> guard(lock);
            if (!active)
                continue;
            VciCanMessage m{};
            m.time = ticks(f.stampUs);
            m.id = f.id;
            const uint32_t flags = uint32_t(f.len & 0x0f) | (f.remote ? VCI_MSGFLAG_REMOTE : 0u)
                                   | (f.extended ? VCI_MSGFLAG_EXTENDED : 0u);
            m.info = VCI_MSGTYPE_DATA | (flags << 16);
            std::memcpy(m.data, f.data, sizeof m.data);
            rx.push_back(m);
            rxEvent = true;
            arrived.notify_all();
        }
    }
};

enum Kind { EnumKind, DeviceKind, ControlKind, ChannelKind };

struct Object
{
    Kind kind;
    std::shared_ptr<SimDevice> device; // device, control and channel
    int enumPosition = 0;              // enumeration
};

struct Registry
{
    std::mutex lock;
    Settings settings;
    std::map<uintptr_t, Object> objects;
    std::map<int, std::weak_ptr<SimDevice>> openDevices;
    uintptr_t next = 1;

    VCI_HANDLE add(const Object &o)
    {
        const uintptr_t h = next++;
        objects[h] = o;
        return reinterpret_cast<VCI_HANDLE>(h);
    }
};

Registry &registry()
{
    static Registry r;
    return r;
}

int presentDevices()
{
    return ZorSimBusClient::gatewayConfigured() ? registry().settings.devices : 0;
}

bool lookup(VCI_HANDLE handle, Kind kind, Object &out)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == r.objects.end() || it->second.kind != kind)
        return false;
    out = it->second;
    return true;
}

bool removeObject(VCI_HANDLE handle, Kind kind, Object *removed = nullptr)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == r.objects.end() || it->second.kind != kind)
        return false;
    if (removed)
        *removed = it->second;
    r.objects.erase(it);
    return true;
}

struct BitTiming
{
    uint8_t btr0, btr1;
    int bitRate;
};
const BitTiming bitTimings[] = {
    {0x31, 0x1C, 10000},  {0x18, 0x1C, 20000},  {0x09, 0x1C, 50000},
    {0x04, 0x1C, 100000}, {0x03, 0x1C, 125000}, {0x01, 0x1C, 250000},
    {0x00, 0x1C, 500000}, {0x00, 0x16, 800000}, {0x00, 0x14, 1000000},
};

const char *resultText(VCI_RESULT code)
{
    switch (code) {
    case VCI_E_UNEXPECTED: return "VCI stand-in: unexpected failure";
    case VCI_E_NOTIMPL: return "VCI stand-in: not implemented";
    case VCI_E_INVALIDARG: return "VCI stand-in: invalid argument";
    case VCI_E_INVALID_HANDLE: return "VCI stand-in: invalid handle";
    case VCI_E_TIMEOUT: return "VCI stand-in: time-out";
    case VCI_E_NO_MORE_ITEMS: return "VCI stand-in: no more devices";
    case VCI_E_NOT_INITIALIZED: return "VCI stand-in: not initialized";
    case VCI_E_RXQUEUE_EMPTY: return "VCI stand-in: receive queue empty";
    case VCI_E_TXQUEUE_FULL: return "VCI stand-in: transmit queue full";
    case VCI_E_INVALID_STATE: return "VCI stand-in: invalid state";
    default: return "";
    }
}

} // namespace

extern "C" {

VCI_API VCI_RESULT vciInitialize(void)
{
    return VCI_OK;
}

VCI_API VCI_RESULT vciFormatError(VCI_RESULT code, char *text)
{
    if (!text)
        return VCI_E_INVALIDARG;
    bool texts;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        texts = r.settings.texts;
    }
    std::snprintf(text, 256, "%s", texts ? resultText(code) : "");
    return VCI_OK;
}

VCI_API VCI_RESULT vciGetVersion(uint32_t *major, uint32_t *minor)
{
    if (!major || !minor)
        return VCI_E_INVALIDARG;
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    *major = r.settings.major;
    *minor = r.settings.minor;
    return VCI_OK;
}

VCI_API VCI_RESULT vciEnumDeviceOpen(VCI_HANDLE *enumeration)
{
    if (!enumeration)
        return VCI_E_INVALIDARG;
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    *enumeration = r.add({EnumKind, nullptr, 0});
    return VCI_OK;
}

VCI_API VCI_RESULT vciEnumDeviceNext(VCI_HANDLE enumeration, VciDeviceInfo *info)
{
    if (!info)
        return VCI_E_INVALIDARG;
    const int present = presentDevices();
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.objects.find(reinterpret_cast<uintptr_t>(enumeration));
    if (it == r.objects.end() || it->second.kind != EnumKind)
        return VCI_E_INVALID_HANDLE;
    const int position = it->second.enumPosition;
    if (position >= present)
        return VCI_E_NO_MORE_ITEMS;
    ++it->second.enumPosition;
    std::memset(info, 0, sizeof *info);
    info->vciObjectId = 0x1000u + uint64_t(position);
    std::snprintf(info->description, sizeof info->description, "Simulated CAN adapter %d", position);
    std::snprintf(info->serialNumber, sizeof info->serialNumber, "SIMVCI%02d", position % 100);
    return VCI_OK;
}

VCI_API VCI_RESULT vciEnumDeviceClose(VCI_HANDLE enumeration)
{
    return removeObject(enumeration, EnumKind) ? VCI_OK : VCI_E_INVALID_HANDLE;
}

VCI_API VCI_RESULT vciEnumDeviceReset(VCI_HANDLE enumeration)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.objects.find(reinterpret_cast<uintptr_t>(enumeration));
    if (it == r.objects.end() || it->second.kind != EnumKind)
        return VCI_E_INVALID_HANDLE;
    it->second.enumPosition = 0;
    return VCI_OK;
}

VCI_API VCI_RESULT vciDeviceOpen(uint64_t vciObjectId, VCI_HANDLE *device)
{
    if (!device)
        return VCI_E_INVALIDARG;
    const int index = int(vciObjectId) - 0x1000;
    if (vciObjectId < 0x1000u || index >= presentDevices())
        return VCI_E_INVALIDARG;
    auto d = std::make_shared<SimDevice>();
    d->index = index;
    if (!d->bus.connectToGateway())
        return VCI_E_UNEXPECTED;
    SimDevice *raw = d.get();
    d->bus.setArrivalNotifier([raw] { raw->takeFrames(); });
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    d->clock = r.settings.clock;
    d->divisor = r.settings.divisor;
    r.openDevices[index] = d;
    *device = r.add({DeviceKind, d, 0});
    return VCI_OK;
}

VCI_API VCI_RESULT vciDeviceClose(VCI_HANDLE device)
{
    Object o;
    if (!removeObject(device, DeviceKind, &o))
        return VCI_E_INVALID_HANDLE;
    return VCI_OK; // the gateway connection ends with the last handle
}

VCI_API VCI_RESULT canControlOpen(VCI_HANDLE device, uint32_t line, VCI_HANDLE *control)
{
    Object o;
    if (!control)
        return VCI_E_INVALIDARG;
    if (!lookup(device, DeviceKind, o))
        return VCI_E_INVALID_HANDLE;
    if (line != 0)
        return VCI_E_INVALIDARG;
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    *control = r.add({ControlKind, o.device, 0});
    return VCI_OK;
}

VCI_API VCI_RESULT canControlClose(VCI_HANDLE control)
{
    return removeObject(control, ControlKind) ? VCI_OK : VCI_E_INVALID_HANDLE;
}

VCI_API VCI_RESULT canControlGetCaps(VCI_HANDLE control, VciCanCaps *caps)
{
    Object o;
    if (!caps)
        return VCI_E_INVALIDARG;
    if (!lookup(control, ControlKind, o))
        return VCI_E_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(o.device->lock);
    std::memset(caps, 0, sizeof *caps);
    caps->controllerType = 1;
    caps->busCoupling = 1;
    caps->clockFrequency = o.device->clock;
    caps->tscDivisor = o.device->divisor;
    return VCI_OK;
}

VCI_API VCI_RESULT canControlInitialize(VCI_HANDLE control, uint8_t mode, uint8_t btr0, uint8_t btr1)
{
    Object o;
    if (!lookup(control, ControlKind, o))
        return VCI_E_INVALID_HANDLE;
    if (!(mode & (VCI_OPMODE_STANDARD | VCI_OPMODE_EXTENDED)))
        return VCI_E_INVALIDARG;
    for (const BitTiming &t : bitTimings) {
        if (t.btr0 == btr0 && t.btr1 == btr1) {
            std::lock_guard<std::mutex> guard(o.device->lock);
            o.device->bitRate = t.bitRate;
            return VCI_OK;
        }
    }
    return VCI_E_INVALIDARG;
}

VCI_API VCI_RESULT canControlReset(VCI_HANDLE control)
{
    Object o;
    if (!lookup(control, ControlKind, o))
        return VCI_E_INVALID_HANDLE;
    bool wasStarted;
    {
        std::lock_guard<std::mutex> guard(o.device->lock);
        wasStarted = o.device->started;
        o.device->started = false;
    }
    if (wasStarted)
        o.device->bus.close();
    return VCI_OK;
}

VCI_API VCI_RESULT canControlStart(VCI_HANDLE control, int32_t start)
{
    Object o;
    if (!lookup(control, ControlKind, o))
        return VCI_E_INVALID_HANDLE;
    int bitRate;
    {
        std::lock_guard<std::mutex> guard(o.device->lock);
        bitRate = o.device->bitRate;
    }
    if (!start)
        return canControlReset(control);
    if (bitRate == 0)
        return VCI_E_INVALID_STATE;
    if (!o.device->bus.open(bitRate))
        return VCI_E_UNEXPECTED;
    std::lock_guard<std::mutex> guard(o.device->lock);
    o.device->started = true;
    return VCI_OK;
}

VCI_API VCI_RESULT canChannelOpen(VCI_HANDLE device, uint32_t line, int32_t exclusive, VCI_HANDLE *channel)
{
    Object o;
    if (!channel)
        return VCI_E_INVALIDARG;
    if (!lookup(device, DeviceKind, o))
        return VCI_E_INVALID_HANDLE;
    if (line != 0)
        return VCI_E_INVALIDARG;
    {
        std::lock_guard<std::mutex> guard(o.device->lock);
        if (o.device->channelOpen && exclusive)
            return VCI_E_INVALID_STATE;
        o.device->channelOpen = true;
    }
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    *channel = r.add({ChannelKind, o.device, 0});
    return VCI_OK;
}

VCI_API VCI_RESULT canChannelClose(VCI_HANDLE channel)
{
    Object o;
    if (!removeObject(channel, ChannelKind, &o))
        return VCI_E_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(o.device->lock);
    o.device->channelOpen = false;
    o.device->active = false;
    o.device->rx.clear();
    o.device->arrived.notify_all();
    return VCI_OK;
}

VCI_API VCI_RESULT canChannelInitialize(VCI_HANDLE channel, uint16_t rxSize, uint16_t rxThreshold,
                                        uint16_t txSize, uint16_t txThreshold)
{
    Object o;
    if (!lookup(channel, ChannelKind, o))
        return VCI_E_INVALID_HANDLE;
    // The stand-in's queues are not bounded by these sizes.
    return rxSize && txSize && rxThreshold && txThreshold ? VCI_OK : VCI_E_INVALIDARG;
}

VCI_API VCI_RESULT canChannelActivate(VCI_HANDLE channel, int32_t activate)
{
    Object o;
    if (!lookup(channel, ChannelKind, o))
        return VCI_E_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(o.device->lock);
    o.device->active = activate != 0;
    return VCI_OK;
}

VCI_API VCI_RESULT canChannelPeekMessage(VCI_HANDLE channel, VciCanMessage *message)
{
    Object o;
    if (!message)
        return VCI_E_INVALIDARG;
    if (!lookup(channel, ChannelKind, o))
        return VCI_E_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(o.device->lock);
    if (o.device->rx.empty())
        return VCI_E_RXQUEUE_EMPTY;
    *message = o.device->rx.front();
    o.device->rx.pop_front();
    return VCI_OK;
}

VCI_API VCI_RESULT canChannelPostMessage(VCI_HANDLE channel, const VciCanMessage *message)
{
    return canChannelSendMessage(channel, 0, message);
}

VCI_API VCI_RESULT canChannelWaitRxEvent(VCI_HANDLE channel, uint32_t timeoutMs)
{
    Object o;
    if (!lookup(channel, ChannelKind, o))
        return VCI_E_INVALID_HANDLE;
    std::unique_lock<std::mutex> lock(o.device->lock);
    SimDevice *d = o.device.get();
    // Like an auto-reset event: signalled by arrivals, reset by the wait.
    const bool any = d->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [d] { return d->rxEvent || !d->channelOpen; });
    if (!any || !d->channelOpen)
        return VCI_E_TIMEOUT;
    d->rxEvent = false;
    return VCI_OK;
}

VCI_API VCI_RESULT canChannelWaitTxEvent(VCI_HANDLE channel, uint32_t timeoutMs)
{
    Object o;
    if (!lookup(channel, ChannelKind, o))
        return VCI_E_INVALID_HANDLE;
    return VCI_OK; // the transmit queue never fills
}

VCI_API VCI_RESULT canChannelReadMessage(VCI_HANDLE channel, uint32_t timeoutMs, VciCanMessage *message)
{
    Object o;
    if (!message)
        return VCI_E_INVALIDARG;
    if (!lookup(channel, ChannelKind, o))
        return VCI_E_INVALID_HANDLE;
    std::unique_lock<std::mutex> lock(o.device->lock);
    SimDevice *d = o.device.get();
    if (!d->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [d] { return !d->rx.empty(); }))
        return VCI_E_TIMEOUT;
    *message = d->rx.front();
    d->rx.pop_front();
    return VCI_OK;
}

VCI_API VCI_RESULT canChannelSendMessage(VCI_HANDLE channel, uint32_t timeoutMs, const VciCanMessage *message)
{
    Object o;
    if (!message)
        return VCI_E_INVALIDARG;
    if (!lookup(channel, ChannelKind, o))
        return VCI_E_INVALID_HANDLE;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        if (r.settings.sendTimeout)
            return VCI_E_TIMEOUT;
    }
    {
        std::lock_guard<std::mutex> guard(o.device->lock);
        if (!o.device->active || !o.device->started)
            return VCI_E_INVALID_STATE;
    }
    if ((message->info & 0xff) != VCI_MSGTYPE_DATA)
        return VCI_E_INVALIDARG;
    const uint32_t flags = (message->info >> 16) & 0xff;
    ZorSimBusFrame f;
    f.id = message->id;
    f.len = uint8_t(flags & 0x0f);
    f.remote = flags & VCI_MSGFLAG_REMOTE;
    f.extended = flags & VCI_MSGFLAG_EXTENDED;
    std::memcpy(f.data, message->data, sizeof f.data);
    if (!f.isValid())
        return VCI_E_INVALIDARG;
    if (!o.device->bus.send(f))
        return VCI_E_TXQUEUE_FULL;
    std::lock_guard<std::mutex> guard(o.device->lock);
    ++o.device->sent;
    return VCI_OK;
}

VCI_API int32_t ZorVciSimControl(const char *command)
{
    if (!command)
        return -1;
    const std::string text(command);
    Registry &r = registry();
    unsigned a = 0, b = 0;
    if (text == "reset") {
        std::lock_guard<std::mutex> guard(r.lock);
        r.settings = Settings();
        return 0;
    }
    if (std::sscanf(command, "devices %u", &a) == 1) {
        std::lock_guard<std::mutex> guard(r.lock);
        r.settings.devices = int(a);
        return 0;
    }
    if (std::sscanf(command, "version %u %u", &a, &b) == 2) {
        std::lock_guard<std::mutex> guard(r.lock);
        r.settings.major = a;
        r.settings.minor = b;
        return 0;
    }
    if (std::sscanf(command, "clock %u %u", &a, &b) == 2) {
        std::lock_guard<std::mutex> guard(r.lock);
        r.settings.clock = a;
        r.settings.divisor = b;
        return 0;
    }
    if (std::sscanf(command, "texts %u", &a) == 1) {
        std::lock_guard<std::mutex> guard(r.lock);
        r.settings.texts = a != 0;
        return 0;
    }
    if (std::sscanf(command, "sendtimeout %u", &a) == 1) {
        std::lock_guard<std::mutex> guard(r.lock);
        r.settings.sendTimeout = a != 0;
        return 0;
    }
    if (std::sscanf(command, "inject %u", &a) == 1 && a >= 1 && a <= 3) {
        std::lock_guard<std::mutex> guard(r.lock);
        for (auto &entry : r.openDevices) {
            std::shared_ptr<SimDevice> d = entry.second.lock();
            if (!d)
                continue;
            std::lock_guard<std::mutex> deviceGuard(d->lock);
            if (!d->active)
                continue;
            VciCanMessage m{};
            m.info = a;
            d->rx.push_back(m);
            d->rxEvent = true;
            d->arrived.notify_all();
        }
        return 0;
    }
    return -1;
}

VCI_API int32_t ZorVciSimState(const char *what)
{
    if (!what)
        return -1;
    const std::string key(what);
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    int32_t total = 0;
    if (key == "channels") {
        for (const auto &entry : r.objects)
            total += entry.second.kind == ChannelKind ? 1 : 0;
        return total;
    }
    if (key != "rxpending" && key != "sent")
        return -1;
    for (auto &entry : r.openDevices) {
        std::shared_ptr<SimDevice> d = entry.second.lock();
        if (!d)
            continue;
        std::lock_guard<std::mutex> deviceGuard(d->lock);
        total += key == "sent" ? d->sent : int32_t(d->rx.size());
    }
    return total;
}

} // extern "C"
