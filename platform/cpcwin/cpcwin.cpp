// Stand-in for the EMS library "cpcwin": CPC adapter channels "CHAN00" to
// "CHAN03" carried to the simulated CAN gateway.
//
// A channel's handle is its number. Opening a channel that is open already
// gives the same handle and counts the opening; the last CPC_CloseChannel
// releases it. A channel has room for one handler (CPC_AddHandler) and any
// number of extended ones; CPC_Handle hands out one received message per
// call to all of them. The controller is set up from the channel's
// initialisation-parameter block by CPC_CANInit (which stops it) and
// started and stopped by CPC_Control.
#include "cpcwin.h"
#include "adapterstandin.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <vector>

#define CPCWIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Channel {
    std::unique_ptr<ZorSimBusClient> bus;
    std::mutex lock; // everything below
    int opens = 1;
    CpcwinInitParams params{};
    int bitRate = 0; // from the last CPC_CANInit; 0 none
    CpcwinHandler handler = nullptr;
    std::vector<std::pair<CpcwinHandlerEx, void *>> handlersEx;
    // Wakes CPC_WaitForEvent / CPC_WaitForMType when frames arrive.
    std::condition_variable arrived;
    quint64 arrivals = 0;
};

StandIn::HandleTable<Channel> &channels()
{
    static StandIn::HandleTable<Channel> table;
    return table;
}
// Opening and closing channels, so two openers of one name meet.
std::mutex openLock;
std::atomic<bool> initialised{false};

int bitRateOf(uint8_t btr0, uint8_t btr1)
{
    static const struct {
        uint8_t btr0, btr1;
        int rate;
    } timings[] = {
        {0x03, 0x1C, 125000}, {0x01, 0x1C, 250000}, {0x00, 0x1C, 500000}, {0x00, 0x14, 1000000},
    };
    for (const auto &t : timings) {
        if (t.btr0 == btr0 && t.btr1 == btr1)
            return t.rate;
    }
    return 0;
}

int32_t send(int32_t handle, const CpcwinCanMessage *message, bool extended, bool remote)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    if (!message || message->length > 8)
        return CPCWIN_ERR_BAD_ARGUMENT;
    const ZorSimBusFrame frame =
        StandIn::frameToSend(message->id, extended, remote, message->length, message->data);
    return ch->bus->send(frame) ? 0 : CPCWIN_ERR_SEND;
}

int32_t waitForArrival(int32_t handle, int32_t timeoutMs)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    std::unique_lock<std::mutex> guard(ch->lock);
    const quint64 before = ch->arrivals;
    const bool came = ch->bus->pendingFrames() > 0
                      || ch->arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                              [&] { return ch->arrivals != before; });
    return came ? 0 : CPCWIN_ERR_TIMEOUT;
}

} // namespace

CPCWIN_EXPORT int32_t CPC_InitLibrary(uint32_t processId)
{
    initialised = true;
    return 1;
}

CPCWIN_EXPORT int32_t CPC_OpenChannel(const char *name)
{
    if (!initialised)
        return CPCWIN_ERR_NOT_INITIALISED;
    // Exactly "CHAN" and two digits.
    if (!name || std::strlen(name) != 6 || std::strncmp(name, "CHAN", 4) != 0
        || name[4] < '0' || name[4] > '9' || name[5] < '0' || name[5] > '9')
        return CPCWIN_ERR_NO_CHANNEL;
    const int number = (name[4] - '0') * 10 + (name[5] - '0');
    std::lock_guard<std::mutex> guard(openLock);
    if (std::shared_ptr<Channel> open = channels().find(number)) {
        std::lock_guard<std::mutex> channelGuard(open->lock);
        ++open->opens;
        return number;
    }
    std::unique_ptr<ZorSimBusClient> bus = StandIn::connectChannel(number);
    if (!bus)
        return CPCWIN_ERR_NO_CHANNEL;
    auto ch = std::make_shared<Channel>();
    ch->bus = std::move(bus);
    ch->params.controller = CPCWIN_CONTROLLER_REGISTERS;
    Channel *raw = ch.get();
    ch->bus->setArrivalNotifier([raw] {
        {
            std::lock_guard<std::mutex> channelGuard(raw->lock);
            ++raw->arrivals;
        }
        raw->arrived.notify_all();
    });
    channels().insert(number, ch);
    return number;
}

CPCWIN_EXPORT int32_t CPC_CloseChannel(int32_t handle)
{
    std::shared_ptr<Channel> ch;
    {
        std::lock_guard<std::mutex> guard(openLock);
        ch = channels().find(handle);
        if (!ch)
            return CPCWIN_ERR_BAD_HANDLE;
        std::lock_guard<std::mutex> channelGuard(ch->lock);
        if (--ch->opens > 0)
            return 0;
        channels().take(handle);
    }
    ch->bus->setArrivalNotifier(nullptr);
    ch->bus->wake();
    return 0;
}

CPCWIN_EXPORT CpcwinInitParams *CPC_GetInitParamsPtr(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    return ch ? &ch->params : nullptr;
}

// (Re)initialises the controller from the parameter block; it stops.
CPCWIN_EXPORT int32_t CPC_CANInit(int32_t handle, uint8_t confirm)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    int rate;
    {
        std::lock_guard<std::mutex> guard(ch->lock);
        if (ch->params.controller != CPCWIN_CONTROLLER_REGISTERS)
            return CPCWIN_ERR_BAD_ARGUMENT;
        rate = bitRateOf(ch->params.btr0, ch->params.btr1);
        if (rate == 0)
            return CPCWIN_ERR_BAD_ARGUMENT;
        ch->bitRate = rate;
    }
    if (ch->bus->isOpen())
        ch->bus->close();
    return 0;
}

CPCWIN_EXPORT int32_t CPC_CANExit(int32_t handle, uint8_t confirm)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    {
        std::lock_guard<std::mutex> guard(ch->lock);
        ch->bitRate = 0;
    }
    ch->bus->close();
    return 0;
}

CPCWIN_EXPORT int32_t CPC_Control(int32_t handle, uint32_t mode)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    int rate;
    uint8_t outputControl;
    {
        std::lock_guard<std::mutex> guard(ch->lock);
        rate = ch->bitRate;
        outputControl = ch->params.outputControl;
    }
    switch (mode) {
    case CPCWIN_CONTROL_START:
        // Without bit timing or with the transceiver off nothing reaches the bus.
        if (rate == 0 || outputControl == 0)
            return CPCWIN_ERR_BUSY;
        return ch->bus->open(rate) ? 0 : CPCWIN_ERR_BUSY;
    case CPCWIN_CONTROL_STOP:
        return !ch->bus->isOpen() || ch->bus->close() ? 0 : CPCWIN_ERR_BUSY;
    default:
        return CPCWIN_ERR_NOT_SUPPORTED;
    }
}

CPCWIN_EXPORT int32_t CPC_GetInfo(int32_t handle, char *text, int32_t size)
{
    if (!channels().find(handle))
        return CPCWIN_ERR_BAD_HANDLE;
    if (!text || size <= 0)
        return CPCWIN_ERR_BAD_ARGUMENT;
    std::snprintf(text, size_t(size), "CPC simulated adapter, channel CHAN%02d", int(handle));
    return 0;
}

// 0 error active; 2 bus off while the controller is stopped.
CPCWIN_EXPORT int32_t CPC_GetCANState(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    return ch->bus->isOpen() ? 0 : 2;
}

CPCWIN_EXPORT int32_t CPC_ClearMSGQueue(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    ch->bus->clearReceived();
    return 0;
}

CPCWIN_EXPORT int32_t CPC_ClearCMDQueue(int32_t handle)
{
    return channels().find(handle) ? 0 : CPCWIN_ERR_BAD_HANDLE;
}

CPCWIN_EXPORT int32_t CPC_GetMSGQueueCnt(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    return ch ? ch->bus->pendingFrames() : CPCWIN_ERR_BAD_HANDLE;
}

CPCWIN_EXPORT int32_t CPC_SendMsg(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message)
{
    return send(handle, message, false, false);
}

CPCWIN_EXPORT int32_t CPC_SendRTR(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message)
{
    return send(handle, message, false, true);
}

CPCWIN_EXPORT int32_t CPC_SendXMsg(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message)
{
    return send(handle, message, true, false);
}

CPCWIN_EXPORT int32_t CPC_SendXRTR(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message)
{
    return send(handle, message, true, true);
}

// Waits until a received message is waiting (of any type: the type of a
// message is known only once CPC_Handle hands it out).
CPCWIN_EXPORT int32_t CPC_WaitForMType(int32_t handle, int32_t type, int32_t timeoutMs)
{
    return waitForArrival(handle, timeoutMs);
}

CPCWIN_EXPORT int32_t CPC_WaitForEvent(int32_t handle, int32_t timeoutMs)
{
    return waitForArrival(handle, timeoutMs);
}

CPCWIN_EXPORT int32_t CPC_AddHandler(int32_t handle, CpcwinHandler handler)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    if (!handler)
        return CPCWIN_ERR_BAD_ARGUMENT;
    std::lock_guard<std::mutex> guard(ch->lock);
    if (ch->handler)
        return CPCWIN_ERR_BUSY;
    ch->handler = handler;
    return 0;
}

CPCWIN_EXPORT int32_t CPC_RemoveHandler(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    std::lock_guard<std::mutex> guard(ch->lock);
    if (!ch->handler)
        return CPCWIN_ERR_BAD_ARGUMENT;
    ch->handler = nullptr;
    return 0;
}

CPCWIN_EXPORT int32_t CPC_AddHandlerEx(int32_t handle, CpcwinHandlerEx handler, void *context)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    if (!handler)
        return CPCWIN_ERR_BAD_ARGUMENT;
    std::lock_guard<std::mutex> guard(ch->lock);
    ch->handlersEx.emplace_back(handler, context);
    return 0;
}

CPCWIN_EXPORT int32_t CPC_RemoveHandlerEx(int32_t handle, CpcwinHandlerEx handler)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CPCWIN_ERR_BAD_HANDLE;
    std::lock_guard<std::mutex> guard(ch->lock);
    for (auto it = ch->handlersEx.begin(); it != ch->handlersEx.end(); ++it) {
        if (it->first == handler) {
            ch->handlersEx.erase(it);
            return 0;
        }
    }
    return CPCWIN_ERR_BAD_ARGUMENT;
}

// The message pump: takes one received frame, hands it to the channel's
// handlers and returns it (valid until this thread's next call); null when
// nothing was waiting.
CPCWIN_EXPORT const CpcwinMessage *CPC_Handle(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return nullptr;
    ZorSimBusFrame frame;
    if (!ch->bus->tryReceive(&frame))
        return nullptr;
    thread_local CpcwinMessage message;
    message = CpcwinMessage{};
    message.type = frame.extended ? (frame.remote ? CPCWIN_TYPE_EXT_REMOTE : CPCWIN_TYPE_EXT_DATA)
                                  : (frame.remote ? CPCWIN_TYPE_REMOTE : CPCWIN_TYPE_DATA);
    message.header[0] = uint8_t(sizeof message);
    for (int i = 0; i < 4; ++i)
        message.id[i] = uint8_t(frame.id >> (8 * i));
    message.length = frame.len;
    if (!frame.remote)
        std::memcpy(message.data, frame.data, frame.len);
    CpcwinHandler handler;
    std::vector<std::pair<CpcwinHandlerEx, void *>> handlersEx;
    {
        std::lock_guard<std::mutex> guard(ch->lock);
        handler = ch->handler;
        handlersEx = ch->handlersEx;
    }
    // Outside the channel's lock: a handler may call the library.
    if (handler)
        handler(handle, &message);
    for (const auto &h : handlersEx)
        h.first(handle, &message, h.second);
    return &message;
}

CPCWIN_EXPORT int32_t CPC_RequestCANParams(int32_t handle, uint8_t confirm)
{
    return channels().find(handle) ? CPCWIN_ERR_NOT_SUPPORTED : CPCWIN_ERR_BAD_HANDLE;
}

CPCWIN_EXPORT int32_t CPC_RequestCANState(int32_t handle, uint8_t confirm)
{
    return channels().find(handle) ? CPCWIN_ERR_NOT_SUPPORTED : CPCWIN_ERR_BAD_HANDLE;
}

CPCWIN_EXPORT int32_t CPC_RequestInfo(int32_t handle, uint8_t confirm, uint8_t kind)
{
    return channels().find(handle) ? CPCWIN_ERR_NOT_SUPPORTED : CPCWIN_ERR_BAD_HANDLE;
}

CPCWIN_EXPORT int32_t CPC_PutUser(int32_t handle, const uint8_t *data, int32_t size)
{
    return channels().find(handle) ? CPCWIN_ERR_NOT_SUPPORTED : CPCWIN_ERR_BAD_HANDLE;
}

CPCWIN_EXPORT int32_t CPC_PutFirmware(int32_t handle, const uint8_t *data, int32_t size)
{
    return channels().find(handle) ? CPCWIN_ERR_NOT_SUPPORTED : CPCWIN_ERR_BAD_HANDLE;
}
