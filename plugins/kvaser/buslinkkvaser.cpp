// buslink_hw_kvaser: Kvaser adapters through the maker's library "canlib32".
//
// No port table, ring or thread: the port number is the library's channel
// handle, and the library queues received frames and echoes sent ones
// (transmit acknowledgements). The library is loaded and bound by the first
// canPortLibraryInit of this plug-in and stays until the plug-in is
// unloaded; an entry point it lacks makes the export that needs it answer
// "Driver error.".
#include "buslinkcommon.h"
#include "buslinklibrary.h"
#include "canlib32.h"

#include <mutex>

namespace {

struct Canlib32 {
    std::mutex lock;
    buslink::VendorLibrary library;
#define CANLIB32_POINTER(name) name##_t name = nullptr;
    CANLIB32_ENTRY_POINTS(CANLIB32_POINTER)
#undef CANLIB32_POINTER
};
Canlib32 kv;

const uint32_t kOpenFlags = CANLIB32_OPEN_FLAGS;

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    std::lock_guard<std::mutex> guard(kv.lock);
    if (!kv.library.isLoaded()) {
        if (!kv.library.load(buslink::VendorLibrary::fileName("canlib32")))
            return BUSLINK_DRIVER_ERROR;
#define CANLIB32_RESOLVE(name) kv.library.resolve(#name, kv.name);
        CANLIB32_ENTRY_POINTS(CANLIB32_RESOLVE)
#undef CANLIB32_RESOLVE
    }
    if (!kv.canInitializeLibrary)
        return BUSLINK_DRIVER_ERROR;
    kv.canInitializeLibrary();
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    if (!port)
        return BUSLINK_PORT_NOT_USABLE;
    *port = -1;
    if (!kv.canOpenChannel)
        return BUSLINK_DRIVER_ERROR;
    const int32_t handle = kv.canOpenChannel(channel, kOpenFlags);
    if (handle < 0)
        return BUSLINK_HW_UNDEFINED;
    *port = handle;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    if (!kv.canClose)
        return BUSLINK_DRIVER_ERROR;
    return kv.canClose(port) == 0 ? BUSLINK_OK : BUSLINK_HW_UNDEFINED;
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    if (!kv.canSetBitrate)
        return BUSLINK_DRIVER_ERROR;
    return kv.canSetBitrate(port, bitRate) == 0 ? BUSLINK_OK : BUSLINK_HW_UNDEFINED;
}

BUSLINK_EXPORT int32_t canPortEcho(int32_t port, int32_t on)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    if (!kv.canIoCtl)
        return BUSLINK_DRIVER_ERROR;
    uint32_t value = (on & 0xff) ? 1 : 0;
    return kv.canIoCtl(port, CANLIB32_IOCTL_TX_ACKS, &value, sizeof value) == 0
               ? BUSLINK_OK : BUSLINK_HW_UNDEFINED;
}

BUSLINK_EXPORT int32_t canPortGoBusOn(int32_t port)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    if (!kv.canBusOn)
        return BUSLINK_DRIVER_ERROR;
    return kv.canBusOn(port) == 0 ? BUSLINK_OK : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    if (!kv.canBusOff)
        return BUSLINK_DRIVER_ERROR;
    return kv.canBusOff(port) == 0 ? BUSLINK_OK : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    if (port < 0)
        return BUSLINK_PORT_NOT_USABLE;
    if (!kv.canWrite)
        return BUSLINK_DRIVER_ERROR;
    if (len < 0 || len > 8)
        return BUSLINK_GENERAL_ERROR;
    static const uint8_t none[8] = {};
    const int32_t libraryFlags = ((flags & BUSLINK_FLAG_EXTENDED) ? CANLIB32_MSG_EXTENDED : 0)
                                 | ((flags & BUSLINK_FLAG_REMOTE) ? CANLIB32_MSG_REMOTE : 0);
    return kv.canWrite(port, id, data ? data : none, len, libraryFlags) == 0
               ? BUSLINK_OK : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags)
{
    if (port < 0 || !id || !data || !len || !flags)
        return BUSLINK_PORT_NOT_USABLE;
    if (!kv.canRead)
        return BUSLINK_DRIVER_ERROR;
    uint32_t time = 0;
    const int32_t result = kv.canRead(port, id, data, len, flags, &time);
    if (result == CANLIB32_ERR_NO_MESSAGE)
        return BUSLINK_NO_MESSAGE;
    if (result != 0)
        return BUSLINK_GENERAL_ERROR;
    if (*flags & CANLIB32_MSG_ERROR_FRAME)
        return BUSLINK_NO_MESSAGE;
    *flags = ((*flags & CANLIB32_MSG_EXTENDED) ? BUSLINK_FLAG_EXTENDED : 0)
             | ((*flags & CANLIB32_MSG_REMOTE) ? BUSLINK_FLAG_REMOTE : 0);
    return BUSLINK_OK;
}
