// buslink_hw_mhs: MHS Tiny-CAN adapters through the maker's library "mhstcan".
//
// canPortLibraryInit binds the library and starts its driver; the binding is
// kept while any port of this plug-in is open (a second user's
// canPortLibraryInit leaves it alone) and dropped when the last port closes.
// Every entry point starts as a stand-by routine that does nothing, so a
// call never lands in a library that is gone. No receive thread: canPortRead
// takes frames from the library's own queue; the ring holds echo records
// only. Every library call of a port is made under its port lock.
#include "buslinkcommon.h"
#include "buslinklibrary.h"
#include "mhstcan.h"

#include <cstring>
#include <mutex>

namespace {

const int kPorts = 4;
const int kRingSize = 100;

// Binding result: 0, kLoadFailed, or -1 .. -27 for the first missing name.
const int32_t kLoadFailed = -100;

buslink::PortTable &table()
{
    static buslink::PortTable t(kPorts, kRingSize);
    return t;
}

// Stand-by routines: what an entry point does while no library is bound.
template <typename Fn>
struct Standby;
template <typename R, typename... Args>
struct Standby<R (*)(Args...)> {
    static R call(Args...) { return R(); }
};
void standbyDeviceStatus(uint32_t, MhstcanDeviceStatus *status)
{
    if (status) {
        status->state = MHSTCAN_STATE_NO_DRIVER;
        status->receiveOverrun = 0;
        status->reserved = 0;
    }
}

struct Mhstcan {
    std::mutex lock;
    buslink::VendorLibrary library;
    bool bound = false;
    int openPorts = 0;
#define MHSTCAN_POINTER(name) name##_t name = &Standby<name##_t>::call;
    MHSTCAN_ENTRY_POINTS(MHSTCAN_POINTER)
#undef MHSTCAN_POINTER
};
Mhstcan mhs;

// Stops a bound library's driver, puts every entry point back to its
// stand-by routine and frees the library. Under mhs.lock, with no port open
// (nobody else reads the entry points then).
void resetLocked()
{
    if (mhs.library.isLoaded() && mhs.bound)
        mhs.CanDownDriver();
#define MHSTCAN_STANDBY(name) mhs.name = &Standby<name##_t>::call;
    MHSTCAN_ENTRY_POINTS(MHSTCAN_STANDBY)
#undef MHSTCAN_STANDBY
    mhs.CanGetDeviceStatus = &standbyDeviceStatus;
    mhs.bound = false;
    mhs.library.unload();
}

int32_t bindLocked()
{
    resetLocked();
    if (!mhs.library.load(buslink::VendorLibrary::fileName("mhstcan")))
        return kLoadFailed;
    int32_t missing = 0;
    int32_t position = 0;
#define MHSTCAN_BIND(name) \
    ++position; \
    if (missing == 0) { \
        name##_t fn = nullptr; \
        if (mhs.library.resolve(#name, fn)) \
            mhs.name = fn; \
        else \
            missing = -position; \
    }
    MHSTCAN_ENTRY_POINTS(MHSTCAN_BIND)
#undef MHSTCAN_BIND
    if (missing != 0) {
        resetLocked();
        return missing;
    }
    mhs.bound = true;
    return 0;
}

// Binds the library and starts its driver; BUSLINK_DRIVER_ERROR on any failure.
int32_t bindAndStartLocked()
{
    if (bindLocked() != 0)
        return BUSLINK_DRIVER_ERROR;
    if (mhs.CanInitDriver(nullptr) != 0) {
        resetLocked();
        return BUSLINK_DRIVER_ERROR;
    }
    return BUSLINK_OK;
}

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    table().init();
    std::lock_guard<std::mutex> guard(mhs.lock);
    // Another user of this copy has ports open on the bound library:
    // binding afresh would stop the driver under them.
    if (mhs.openPorts > 0)
        return BUSLINK_OK;
    return bindAndStartLocked();
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    int32_t index = -1;
    const int32_t taken = table().beginOpen(port, &index);
    if (taken != BUSLINK_OK)
        return taken;
    buslink::PortSlot *slot = table().slot(index);
    int32_t result = BUSLINK_OK;
    {
        std::lock_guard<std::mutex> binding(mhs.lock);
        std::lock_guard<std::mutex> guard(slot->portLock);
        *port = index;
        slot->vendorHandle = channel;
        // The binding was dropped when the last port closed: take it again.
        if (!mhs.bound)
            result = bindAndStartLocked();
        if (result == BUSLINK_OK && mhs.CanDeviceOpen(uint32_t(channel), nullptr) != 0)
            result = BUSLINK_HW_NOT_CONNECTED;
        if (result == BUSLINK_OK)
            ++mhs.openPorts;
    }
    if (result != BUSLINK_OK) {
        *port = -1;
        table().release(index);
    }
    return result;
}

BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    int32_t result;
    {
        std::lock_guard<std::mutex> binding(mhs.lock);
        {
            std::lock_guard<std::mutex> guard(slot->portLock);
            result = mhs.CanDeviceClose(uint32_t(slot->vendorHandle)) == 0
                         ? BUSLINK_OK : BUSLINK_PORT_NOT_USABLE;
        }
        // The port goes whatever the library answered.
        table().release(port);
        if (--mhs.openPorts == 0)
            resetLocked();
    }
    return result;
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    if (!buslink::isStandardBitRate(bitRate))
        return BUSLINK_UNSUPPORTED_BITRATE;
    std::lock_guard<std::mutex> guard(slot->portLock);
    return mhs.CanSetSpeed(uint32_t(slot->vendorHandle), uint16_t(bitRate / 1000)) == 0
               ? BUSLINK_OK : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortEcho(int32_t port, int32_t on)
{
    return table().setEcho(port, on);
}

BUSLINK_EXPORT int32_t canPortGoBusOn(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    std::lock_guard<std::mutex> guard(slot->portLock);
    const uint32_t device = uint32_t(slot->vendorHandle);
    if (mhs.CanSetMode(device, MHSTCAN_MODE_RESET, 0) != 0
        || mhs.CanSetMode(device, MHSTCAN_MODE_START, MHSTCAN_CLEAR_ALL) != 0)
        return BUSLINK_GENERAL_ERROR;
    slot->started = true;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    std::lock_guard<std::mutex> guard(slot->portLock);
    if (mhs.CanSetMode(uint32_t(slot->vendorHandle), MHSTCAN_MODE_STOP, 0) != 0)
        return BUSLINK_GENERAL_ERROR;
    slot->started = true;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    if (len < 0 || len > 8)
        return BUSLINK_GENERAL_ERROR;
    MhstcanMessage message{};
    message.id = uint32_t(id);
    message.flags = uint32_t(len) | ((flags & BUSLINK_FLAG_REMOTE) ? MHSTCAN_FLAG_REMOTE : 0)
                    | ((flags & BUSLINK_FLAG_EXTENDED) ? MHSTCAN_FLAG_EXTENDED : 0);
    if (data && !(flags & BUSLINK_FLAG_REMOTE))
        std::memcpy(message.data, data, size_t(len));
    int32_t sent;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        sent = mhs.CanTransmit(uint32_t(slot->vendorHandle), &message, 1);
        if (sent == 0)
            slot->pushEcho(id, data, len, flags);
    }
    return sent == 0 ? BUSLINK_OK : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot || !id || !data || !len || !flags)
        return BUSLINK_PORT_NOT_USABLE;
    std::lock_guard<std::mutex> guard(slot->portLock);
    // Echo records first.
    if (slot->read(id, data, len, flags) == BUSLINK_OK)
        return BUSLINK_OK;
    MhstcanMessage message{};
    const int32_t got = mhs.CanReceive(uint32_t(slot->vendorHandle), &message, 1);
    if (got == 0)
        return BUSLINK_NO_MESSAGE;
    if (got < 0)
        return BUSLINK_PORT_NOT_USABLE;
    const int32_t n = int32_t(message.flags & MHSTCAN_LENGTH_MASK);
    if (n > 8)
        return BUSLINK_NO_MESSAGE; // not a CAN frame this interface can carry
    *id = int32_t(message.id);
    *len = n;
    *flags = ((message.flags & MHSTCAN_FLAG_REMOTE) ? BUSLINK_FLAG_REMOTE : 0)
             | ((message.flags & MHSTCAN_FLAG_EXTENDED) ? BUSLINK_FLAG_EXTENDED : 0);
    if (!(*flags & BUSLINK_FLAG_REMOTE))
        std::memcpy(data, message.data, size_t(n));
    return BUSLINK_OK;
}
