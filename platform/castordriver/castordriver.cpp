// Stand-in for the castor library "castorDriver": channels 0 to 3 carried to
// the simulated CAN gateway.
//
// canInitializeLib prepares the library; canGetNumberOfChannels counts the
// channels of the simulated adapter (none without a gateway). Every
// canOpenChannel gives a handle of its own with its own gateway connection.
// canSetBitRate takes the library's rate codes; with echo on (canIoCtl) a
// frame the handle sent comes back through canRead once it was on the bus.
#include "castordriver.h"
#include "adapterstandin.h"

#include <atomic>
#include <cstring>

#define CASTOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Channel {
    std::unique_ptr<ZorSimBusClient> bus;
    std::atomic<int> bitRate{0};
};

StandIn::HandleTable<Channel> &channels()
{
    static StandIn::HandleTable<Channel> table;
    return table;
}
std::atomic<bool> initialised{false};

int bitRateOf(int32_t code)
{
    switch (code) {
    case CASTOR_BITRATE_1M: return 1000000;
    case CASTOR_BITRATE_800K: return 800000;
    case CASTOR_BITRATE_500K: return 500000;
    case CASTOR_BITRATE_250K: return 250000;
    case CASTOR_BITRATE_125K: return 125000;
    default: return 0;
    }
}

} // namespace

CASTOR_EXPORT int32_t canInitializeLib(void)
{
    initialised = true;
    return CASTOR_OK;
}

CASTOR_EXPORT int32_t canGetNumberOfChannels(int32_t *count)
{
    if (!initialised)
        return CASTOR_ERR_NOT_INITIALISED;
    if (!count)
        return CASTOR_ERR_PARAM;
    *count = ZorSimBusClient::gatewayConfigured() ? StandIn::ChannelCount : 0;
    return CASTOR_OK;
}

CASTOR_EXPORT int32_t canOpenChannel(int32_t channel, int32_t *handle)
{
    if (!initialised)
        return CASTOR_ERR_NOT_INITIALISED;
    if (!handle)
        return CASTOR_ERR_PARAM;
    auto ch = std::make_shared<Channel>();
    ch->bus = StandIn::connectChannel(channel);
    if (!ch->bus)
        return CASTOR_ERR_NOT_FOUND;
    *handle = channels().add(ch);
    return CASTOR_OK;
}

CASTOR_EXPORT int32_t canClose(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().take(handle);
    if (!ch)
        return CASTOR_ERR_BAD_HANDLE;
    ch->bus->wake();
    return CASTOR_OK;
}

CASTOR_EXPORT int32_t canSetBitRate(int32_t handle, int32_t code)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CASTOR_ERR_BAD_HANDLE;
    const int rate = bitRateOf(code);
    if (rate == 0)
        return CASTOR_ERR_PARAM;
    ch->bitRate = rate;
    return CASTOR_OK;
}

CASTOR_EXPORT int32_t canBusOn(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CASTOR_ERR_BAD_HANDLE;
    if (ch->bitRate == 0)
        return CASTOR_ERR_PARAM;
    return ch->bus->open(ch->bitRate) ? CASTOR_OK : CASTOR_ERR_BUS;
}

CASTOR_EXPORT int32_t canBusOff(int32_t handle)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CASTOR_ERR_BAD_HANDLE;
    return !ch->bus->isOpen() || ch->bus->close() ? CASTOR_OK : CASTOR_ERR_BUS;
}

CASTOR_EXPORT int32_t canIoCtl(int32_t handle, int32_t code, void *value, int32_t size)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CASTOR_ERR_BAD_HANDLE;
    if (code != CASTOR_IOCTL_ECHO || !value || size != 4)
        return CASTOR_ERR_PARAM;
    int32_t on;
    std::memcpy(&on, value, 4);
    ch->bus->setEchoes(on != 0);
    return CASTOR_OK;
}

CASTOR_EXPORT int32_t canRead(int32_t handle, int32_t *id, uint8_t *data, int32_t *length,
                              int32_t *flags, uint32_t *time)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CASTOR_ERR_BAD_HANDLE;
    if (!id || !length || !flags)
        return CASTOR_ERR_PARAM;
    ZorSimBusFrame frame;
    if (!ch->bus->tryReceive(&frame))
        return CASTOR_ERR_NO_MESSAGE;
    *id = int32_t(frame.id);
    *length = frame.len;
    *flags = (frame.extended ? CASTOR_MSG_EXTENDED : CASTOR_MSG_STANDARD)
             | (frame.remote ? CASTOR_MSG_REMOTE : 0);
    if (data && !frame.remote)
        std::memcpy(data, frame.data, frame.len);
    if (time)
        *time = uint32_t(frame.stampUs / 1000);
    return CASTOR_OK;
}

CASTOR_EXPORT int32_t canWrite(int32_t handle, int32_t id, const uint8_t *data, int32_t length,
                               int32_t flags)
{
    std::shared_ptr<Channel> ch = channels().find(handle);
    if (!ch)
        return CASTOR_ERR_BAD_HANDLE;
    if (length < 0 || length > 8 || (!data && length > 0 && !(flags & CASTOR_MSG_REMOTE)))
        return CASTOR_ERR_PARAM;
    const ZorSimBusFrame frame = StandIn::frameToSend(uint32_t(id), flags & CASTOR_MSG_EXTENDED,
                                                      flags & CASTOR_MSG_REMOTE, length, data);
    return ch->bus->send(frame) ? CASTOR_OK : CASTOR_ERR_BUS;
}
