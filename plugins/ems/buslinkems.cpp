// buslink_hw_ems: EMS CPC adapters through the maker's library "cpcwin".
//
// The library is loaded by file name when a port opens and stays loaded
// while any port of this plug-in is open (it is counted, so closing one port
// never pulls it from under another). Each port opens the channel "CHANnn"
// and registers a handler that the library calls from its message pump
// CPC_Handle; a receive thread per port keeps the pump turning, and
// canPortRead turns it once more and waits up to 100 ms for a frame when the
// ring is empty. Every library call of a port is made under its port lock.
#include "buslinkcommon.h"
#include "buslinklibrary.h"
#include "cpcwin.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

const int kPorts = 4;
const int kRingSize = 100;
const int kReadWaitMs = 100;

// Binding codes of the library.
const int32_t kLoadFailed = -50;
const int32_t kBindFailed = -51;
const int32_t kNotReady = -52;

buslink::PortTable &table()
{
    static buslink::PortTable t(kPorts, kRingSize);
    return t;
}

// What a port needs beyond the common slot.
struct EmsPort {
    std::atomic<int32_t> handle{-1};       // channel handle; -1 while none
    CpcwinInitParams *params = nullptr;    // kept by canPortBitrateSet; under the port lock
    buslink::Event received; // set by the handler when it put a frame into the ring
};
EmsPort emsPorts[kPorts];

// The library binding, shared by all ports and counted by them.
struct Cpcwin {
    std::mutex lock;
    buslink::VendorLibrary library;
    int users = 0;
    std::atomic<bool> ready{false};
#define CPCWIN_POINTER(name) name##_t name = nullptr;
    CPCWIN_ENTRY_POINTS(CPCWIN_POINTER)
#undef CPCWIN_POINTER
};
Cpcwin cpc;

uint32_t processId()
{
#if defined(_WIN32)
    return uint32_t(GetCurrentProcessId());
#else
    return uint32_t(getpid());
#endif
}

void unbindLocked()
{
    cpc.ready = false;
#define CPCWIN_CLEAR(name) cpc.name = nullptr;
    CPCWIN_ENTRY_POINTS(CPCWIN_CLEAR)
#undef CPCWIN_CLEAR
    cpc.library.unload();
}

// Takes a reference to the library, loading and binding it for the first
// user. 0, kLoadFailed or kBindFailed.
int32_t acquireLibrary()
{
    std::lock_guard<std::mutex> guard(cpc.lock);
    if (cpc.users > 0) {
        ++cpc.users;
        return 0;
    }
    if (!cpc.library.load(buslink::VendorLibrary::fileName("cpcwin")))
        return kLoadFailed;
    bool all = true;
#define CPCWIN_RESOLVE(name) all = all && cpc.library.resolve(#name, cpc.name);
    CPCWIN_ENTRY_POINTS(CPCWIN_RESOLVE)
#undef CPCWIN_RESOLVE
    if (!all || cpc.CPC_InitLibrary(processId()) == 0) {
        unbindLocked();
        return kBindFailed;
    }
    cpc.ready = true;
    cpc.users = 1;
    return 0;
}

// Drops a reference; the last one unloads the library.
void releaseLibrary()
{
    std::lock_guard<std::mutex> guard(cpc.lock);
    if (cpc.users == 0)
        return;
    if (--cpc.users == 0)
        unbindLocked();
}

// Wrappers: kNotReady instead of a call while the library is not bound.
// The entry points change only while no port holds a reference, so a port
// that holds one reads them without the binding lock.
int32_t openChannel(const char *name)
{
    return cpc.ready ? cpc.CPC_OpenChannel(name) : kNotReady;
}
int32_t closeChannel(int32_t h)
{
    return cpc.ready ? cpc.CPC_CloseChannel(h) : kNotReady;
}
int32_t addHandler(int32_t h, CpcwinHandler handler)
{
    return cpc.ready ? cpc.CPC_AddHandler(h, handler) : kNotReady;
}
int32_t removeHandler(int32_t h)
{
    return cpc.ready ? cpc.CPC_RemoveHandler(h) : kNotReady;
}
void pump(int32_t h, bool *handedOut = nullptr)
{
    const CpcwinMessage *m = cpc.ready ? cpc.CPC_Handle(h) : nullptr;
    if (handedOut)
        *handedOut = m != nullptr;
}
CpcwinInitParams *initParams(int32_t h)
{
    return cpc.ready ? cpc.CPC_GetInitParamsPtr(h) : nullptr;
}
int32_t canInit(int32_t h)
{
    return cpc.ready ? cpc.CPC_CANInit(h, 0) : kNotReady;
}
int32_t control(int32_t h, uint32_t mode)
{
    return cpc.ready ? cpc.CPC_Control(h, mode) : kNotReady;
}

// Called by the library from CPC_Handle, so under the port lock of the
// thread that turns the pump.
void onMessage(int32_t handle, const CpcwinMessage *message)
{
    if (!message || message->length > 8)
        return;
    CanPortFrame frame{};
    switch (message->type) {
    case CPCWIN_TYPE_DATA: frame.flags = 0; break;
    case CPCWIN_TYPE_REMOTE: frame.flags = BUSLINK_FLAG_REMOTE; break;
    case CPCWIN_TYPE_EXT_DATA: frame.flags = BUSLINK_FLAG_EXTENDED; break;
    case CPCWIN_TYPE_EXT_REMOTE: frame.flags = BUSLINK_FLAG_EXTENDED | BUSLINK_FLAG_REMOTE; break;
    default: return;
    }
    frame.id = int32_t(uint32_t(message->id[0]) | uint32_t(message->id[1]) << 8
                       | uint32_t(message->id[2]) << 16 | uint32_t(message->id[3]) << 24);
    frame.len = message->length;
    if (!(frame.flags & BUSLINK_FLAG_REMOTE))
        std::memcpy(frame.data, message->data, size_t(frame.len));
    for (int i = 0; i < kPorts; ++i) {
        buslink::PortSlot *slot = table().slot(i);
        if (slot && emsPorts[i].handle.load() == handle) {
            slot->pushReceived(frame);
            emsPorts[i].received.set();
            return;
        }
    }
}

// Receive thread pass (under the port lock): one turn of the pump.
bool pollPort(buslink::PortSlot &slot)
{
    bool handedOut = false;
    if (slot.isOpen())
        pump(emsPorts[slot.index()].handle.load(), &handedOut);
    return handedOut;
}

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    table().init(); // ports another user of this copy still has open stay
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    int32_t index = -1;
    const int32_t taken = table().beginOpen(port, &index);
    if (taken != BUSLINK_OK)
        return taken;
    buslink::PortSlot *slot = table().slot(index);
    EmsPort &ems = emsPorts[index];
    int32_t result = BUSLINK_OK;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        *port = index;
        ems.params = nullptr;
        ems.received.reset();
        char name[16];
        std::snprintf(name, sizeof name, "CHAN%02d", int(channel));
        int32_t handle = acquireLibrary();
        if (handle == 0) {
            handle = openChannel(name);
            if (handle < 0)
                releaseLibrary();
        }
        if (handle < 0) {
            result = BUSLINK_HW_NOT_CONNECTED;
        } else if (addHandler(handle, onMessage) != 0) {
            // Without the handler no frame would ever arrive: a failure.
            closeChannel(handle);
            releaseLibrary();
            result = BUSLINK_DRIVER_ERROR;
        } else {
            slot->vendorHandle = handle;
            ems.handle = handle;
        }
    }
    if (result != BUSLINK_OK) {
        *port = -1;
        table().release(index);
        return result;
    }
    slot->startReceiveThread(pollPort);
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    slot->stopReceiveThread();
    EmsPort &ems = emsPorts[port];
    int32_t result = BUSLINK_OK;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        const int32_t handle = ems.handle.exchange(-1);
        // The port goes whatever the library answers: a slot kept after a
        // failed close could never be used again.
        if (removeHandler(handle) != 0)
            result = BUSLINK_PORT_NOT_USABLE;
        if (closeChannel(handle) != 0)
            result = BUSLINK_PORT_NOT_USABLE;
        ems.params = nullptr;
        releaseLibrary();
    }
    table().release(port);
    return result;
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    EmsPort &ems = emsPorts[port];
    std::lock_guard<std::mutex> guard(slot->portLock);
    ems.params = initParams(ems.handle.load());
    if (!ems.params || ems.params->controller != CPCWIN_CONTROLLER_REGISTERS)
        return BUSLINK_GENERAL_ERROR;
    switch (bitRate) {
    case 125000: ems.params->btr0 = 0x03; ems.params->btr1 = 0x1C; break;
    case 250000: ems.params->btr0 = 0x01; ems.params->btr1 = 0x1C; break;
    case 500000: ems.params->btr0 = 0x00; ems.params->btr1 = 0x1C; break;
    case 1000000: ems.params->btr0 = 0x00; ems.params->btr1 = 0x14; break;
    default: return BUSLINK_UNSUPPORTED_BITRATE;
    }
    return canInit(ems.handle.load()) == 0 ? BUSLINK_OK : BUSLINK_CAN_LAYER_FAILURE;
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
    EmsPort &ems = emsPorts[port];
    std::lock_guard<std::mutex> guard(slot->portLock);
    if (slot->started || !ems.params)
        return BUSLINK_GENERAL_ERROR;
    ems.params->outputControl = 0xDA;
    if (canInit(ems.handle.load()) != 0)
        return BUSLINK_CAN_LAYER_FAILURE;
    slot->started = true;
    return control(ems.handle.load(), CPCWIN_CONTROL_START) == 0 ? BUSLINK_OK
                                                                   : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    EmsPort &ems = emsPorts[port];
    std::lock_guard<std::mutex> guard(slot->portLock);
    if (!ems.params)
        return BUSLINK_GENERAL_ERROR;
    ems.params->outputControl = 0;
    if (canInit(ems.handle.load()) != 0)
        return BUSLINK_CAN_LAYER_FAILURE;
    return control(ems.handle.load(), CPCWIN_CONTROL_STOP) == 0 ? BUSLINK_OK
                                                                  : BUSLINK_GENERAL_ERROR;
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    if (len < 0 || len > 8)
        return BUSLINK_CAN_LAYER_FAILURE;
    CpcwinCanMessage message{};
    message.id = uint32_t(id);
    message.length = uint8_t(len);
    if (data && !(flags & BUSLINK_FLAG_REMOTE))
        std::memcpy(message.data, data, size_t(len));
    int32_t sent;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        const int32_t handle = emsPorts[port].handle.load();
        if (!cpc.ready)
            sent = kNotReady;
        else if ((flags & BUSLINK_FLAG_EXTENDED) && (flags & BUSLINK_FLAG_REMOTE))
            sent = cpc.CPC_SendXRTR(handle, 0, &message);
        else if (flags & BUSLINK_FLAG_EXTENDED)
            sent = cpc.CPC_SendXMsg(handle, 0, &message);
        else if (flags & BUSLINK_FLAG_REMOTE)
            sent = cpc.CPC_SendRTR(handle, 0, &message);
        else
            sent = cpc.CPC_SendMsg(handle, 0, &message);
    }
    if (sent != 0)
        return BUSLINK_CAN_LAYER_FAILURE;
    slot->pushEcho(id, data, len, flags);
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot || !id || !data || !len || !flags)
        return BUSLINK_PORT_NOT_USABLE;
    EmsPort &ems = emsPorts[port];
    // The event is cleared before the ring is looked at, so a frame the
    // handler puts in after this look sets it again.
    ems.received.reset();
    if (slot->read(id, data, len, flags) == BUSLINK_OK)
        return BUSLINK_OK;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        if (slot->isOpen())
            pump(ems.handle.load());
    }
    if (ems.received.wait(kReadWaitMs))
        return slot->read(id, data, len, flags);
    return BUSLINK_NO_MESSAGE;
}
