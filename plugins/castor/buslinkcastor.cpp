// buslink_hw_castor: castor adapters through the maker's library
// "castorDriver", linked by function name.
//
// No port table, ring or thread: the port number is the library's channel
// handle; the library queues received frames and echoes sent ones when
// asked to (canIoCtl). Any failed library call answers "Driver error.", an
// empty receive queue included.
#include "buslinkplugin.h"
#include "castordriver.h"

namespace {

// canOpenChannel answers 0, or -18 for a channel it opened all the same;
// both hand out a usable handle.
const int32_t kOpenedWithNotice = -18;

int32_t libraryFlags(int32_t flags)
{
    return ((flags & BUSLINK_FLAG_REMOTE) ? CASTOR_MSG_REMOTE : 0)
           | ((flags & BUSLINK_FLAG_EXTENDED) ? CASTOR_MSG_EXTENDED : CASTOR_MSG_STANDARD);
}

int32_t checked(int32_t libraryResult)
{
    return libraryResult == 0 ? BUSLINK_OK : BUSLINK_DRIVER_ERROR;
}

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    if (canInitializeLib() != 0)
        return BUSLINK_DRIVER_ERROR;
    int32_t count = 0;
    return canGetNumberOfChannels(&count) == 0 ? BUSLINK_OK : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    if (!port)
        return BUSLINK_PORT_NOT_USABLE;
    *port = -1;
    int32_t handle = -1;
    const int32_t result = canOpenChannel(channel, &handle);
    if ((result != 0 && result != kOpenedWithNotice) || handle < 0)
        return BUSLINK_DRIVER_ERROR;
    *port = handle;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    return checked(canClose(port));
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    int32_t code;
    switch (bitRate) {
    case 125000: code = CASTOR_BITRATE_125K; break;
    case 250000: code = CASTOR_BITRATE_250K; break;
    case 500000: code = CASTOR_BITRATE_500K; break;
    case 1000000: code = CASTOR_BITRATE_1M; break;
    default: return BUSLINK_GENERAL_ERROR;
    }
    return checked(canSetBitRate(port, code));
}

BUSLINK_EXPORT int32_t canPortEcho(int32_t port, int32_t on)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    int32_t value = (on & 0xff) ? 1 : 0;
    return checked(canIoCtl(port, CASTOR_IOCTL_ECHO, &value, sizeof value));
}

BUSLINK_EXPORT int32_t canPortGoBusOn(int32_t port)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    return checked(canBusOn(port));
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    return checked(canBusOff(port));
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    if (len < 0 || len > 8)
        return BUSLINK_DRIVER_ERROR;
    static const uint8_t zeros[8] = {};
    return checked(canWrite(port, id, data ? data : zeros, len, libraryFlags(flags)));
}

BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags)
{
    if (port < 0 || !id || !data || !len || !flags)
        return BUSLINK_PORT_NOT_USABLE;
    uint32_t time = 0;
    if (canRead(port, id, data, len, flags, &time) != 0)
        return BUSLINK_DRIVER_ERROR;
    *flags = ((*flags & CASTOR_MSG_REMOTE) ? BUSLINK_FLAG_REMOTE : 0)
             | ((*flags & CASTOR_MSG_EXTENDED) ? BUSLINK_FLAG_EXTENDED : 0);
    return BUSLINK_OK;
}
