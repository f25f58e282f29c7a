// Stand-in for the Kvaser library "canlib32": channels 0 to 3 carried to the
// simulated CAN gateway.
//
// Every canOpenChannel gives a handle of its own (the lowest free one) with
// its own connection to the gateway, so one channel may be open several
// times. canSetBitrate and canSetBusParams keep the rate, canBusOn puts the
// handle on the bus at it. canRead takes frames from the handle's queue;
// with transmit acknowledgements on (canIoCtl) each frame the handle sent
// comes back there once it was on the bus. A frame the gateway refused is
// reported by canRead as an error frame.
#include "canlib32.h"
#include "adapterstandin.h"

#include <atomic>
#include <cstring>

#define CANLIB32_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Channel {
    std::unique_ptr<ZorSimBusClient> bus;
    std::atomic<int> bitRate{0};
    std::atomic<int> refusedSeen{0}; // refused frames already reported
    std::mutex notifyLock;
    Canlib32NotifyCallback notify = nullptr;
    void *notifyContext = nullptr;
};

StandIn::HandleTable<Channel> &channels()
{
    static StandIn::HandleTable<Channel> table;
    return table;
}
std::atomic<bool> initialised{false};

int32_t setRate(int32_t handle, int32_t bitRate)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    if (ZorSimBusClient::bitRateCode(bitRate) < 0)
        return CANLIB32_ERR_PARAM;
    ch->bitRate = bitRate;
    return CANLIB32_OK;
}

} // namespace

CANLIB32_EXPORT int32_t DllGetVersion(Canlib32Version *version)
{
    if (!version || version->size < sizeof(Canlib32Version))
        return CANLIB32_ERR_PARAM;
    version->major = 1;
    version->minor = 0;
    version->build = 0;
    return CANLIB32_OK;
}

CANLIB32_EXPORT void canInitializeLibrary(void)
{
    initialised = true;
}

CANLIB32_EXPORT int32_t canOpenChannel(int32_t channel, int32_t flags)
{
    if (!initialised)
        return CANLIB32_ERR_NOT_INITIALISED;
    auto ch = std::make_shared<Channel>();
    ch->bus = StandIn::connectChannel(channel);
    if (!ch->bus)
        return CANLIB32_ERR_NOT_FOUND;
    const int32_t handle = channels().add(ch);
    Channel *raw = ch.get();
    ch->bus->setArrivalNotifier([raw, handle] {
        std::lock_guard<std::mutex> guard(raw->notifyLock);
        if (raw->notify)
            raw->notify(handle, raw->notifyContext, 1);
    });
    return handle;
}

CANLIB32_EXPORT int32_t canClose(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().take(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    ch->bus->setArrivalNotifier(nullptr);
    ch->bus->wake();
    return CANLIB32_OK;
}

// Only the rate counts here: the simulated bus has no bit timing.
CANLIB32_EXPORT int32_t canSetBusParams(int32_t handle, int32_t bitRate, uint32_t tseg1,
                                        uint32_t tseg2, uint32_t sjw, uint32_t samples,
                                        uint32_t syncMode)
{
    return setRate(handle, bitRate);
}

CANLIB32_EXPORT int32_t canSetBitrate(int32_t handle, int32_t bitRate)
{
    return setRate(handle, bitRate);
}

CANLIB32_EXPORT int32_t canBusOn(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    if (ch->bitRate == 0)
        return CANLIB32_ERR_PARAM;
    ch->refusedSeen = ch->bus->refusedFrames();
    return ch->bus->open(ch->bitRate) ? CANLIB32_OK : CANLIB32_ERR_BUS;
}

CANLIB32_EXPORT int32_t canBusOff(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    return !ch->bus->isOpen() || ch->bus->close() ? CANLIB32_OK : CANLIB32_ERR_BUS;
}

CANLIB32_EXPORT int32_t canIoCtl(int32_t handle, uint32_t function, void *buffer, uint32_t size)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    if (function != CANLIB32_IOCTL_TX_ACKS)
        return CANLIB32_ERR_NOT_SUPPORTED;
    if (!buffer || size != 4)
        return CANLIB32_ERR_PARAM;
    uint32_t value;
    std::memcpy(&value, buffer, 4);
    ch->bus->setEchoes(value != 0);
    return CANLIB32_OK;
}

CANLIB32_EXPORT int32_t canRead(int32_t handle, int32_t *id, void *data, int32_t *length,
                                int32_t *flags, uint32_t *time)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    if (!id || !length || !flags)
        return CANLIB32_ERR_PARAM;
    int seen = ch->refusedSeen;
    if (ch->bus->refusedFrames() > seen && ch->refusedSeen.compare_exchange_strong(seen, seen + 1)) {
        *id = 0;
        *length = 0;
        *flags = CANLIB32_MSG_ERROR_FRAME;
        if (time)
            *time = uint32_t(ch->bus->elapsedMicroseconds() / 1000);
        return CANLIB32_OK;
    }
    ZorSimBusFrame frame;
    if (!ch->bus->tryReceive(&frame))
        return CANLIB32_ERR_NO_MESSAGE;
    *id = int32_t(frame.id);
    *length = frame.len;
    *flags = (frame.extended ? CANLIB32_MSG_EXTENDED : 0) | (frame.remote ? CANLIB32_MSG_REMOTE : 0)
             | (frame.echo ? CANLIB32_MSG_SENT_HERE : 0);
    if (data && !frame.remote)
        std::memcpy(data, frame.data, frame.len);
    if (time)
        *time = uint32_t(frame.stampUs / 1000);
    return CANLIB32_OK;
}

CANLIB32_EXPORT int32_t canWrite(int32_t handle, int32_t id, const void *data, int32_t length,
                                 int32_t flags)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    if (length < 0 || length > 8 || (length > 0 && !data && !(flags & CANLIB32_MSG_REMOTE)))
        return CANLIB32_ERR_PARAM;
    const ZorSimBusFrame frame = StandIn::frameToSend(uint32_t(id), flags & CANLIB32_MSG_EXTENDED,
                                                      flags & CANLIB32_MSG_REMOTE, length, data);
    return ch->bus->send(frame) ? CANLIB32_OK : CANLIB32_ERR_BUS;
}

CANLIB32_EXPORT int32_t kvSetNotifyCallback(int32_t handle, Canlib32NotifyCallback callback,
                                            void *context, uint32_t events)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CANLIB32_ERR_BAD_HANDLE;
    std::lock_guard<std::mutex> guard(ch->notifyLock);
    ch->notify = callback;
    ch->notifyContext = context;
    return CANLIB32_OK;
}
