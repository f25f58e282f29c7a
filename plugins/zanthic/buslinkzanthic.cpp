// buslink_hw_zanthic: Zanthic USB-CAN adapters, reached through the plug-in's
// own USB access layer (CCyUSBDevice and its endpoints) over the device
// services of usbdevio.h (on this platform the stand-in libusbdevio.so, found
// through the run path, see platform/CMakeLists.txt), speaking the request
// protocol of ZanthicProtocol.
//
// Four ports with rings of 100 frames; the channel of canPortOpen is the
// device number (0 to 9). Each open port runs a receive thread that, while
// the port is started, asks the adapter for frames without pause (each
// request takes a USB round trip) and files them into the ring of the first
// open port of that device. Every request of a port is made under its port
// lock.
#include "buslinkcommon.h"
#include "zanthicprotocol.h"

#include <atomic>

namespace {

const int PortCount = 4;
const int RingSize = 100;
// Answer time-outs of requests whose answer is only a formality or a
// top-up: the resets when a port opens and closes (their results are not
// looked at) and the receive request of canPortRead (the receive thread
// does the real work). A silent adapter so never holds up a close, nor the
// caller's reader thread, for the full transfer time-out.
const int ResetAnswerMs = 200;
const int ReadAnswerMs = 100;

struct ZanthicPort
{
    std::atomic<int> device{0};
    std::atomic<int> kbits{0}; // kept by canPortBitrateSet, 0 until then
};

ZanthicPort &zanthic(int index)
{
    static ZanthicPort ports[PortCount];
    return ports[index];
}

// Statics end in the reverse order of their making: the device table and the
// port records are made first, so that when the library is unloaded the
// port table (whose slots stop their receive threads) goes before them.
buslink::PortTable &table()
{
    static const bool made = (ZanthicProtocol::prepare(), zanthic(0), true);
    (void)made;
    static buslink::PortTable t(PortCount, RingSize);
    return t;
}

// A received frame goes to the first open port of the device that answered.
void fileFrame(int device, const CanPortFrame &frame)
{
    for (int i = 0; i < PortCount; ++i) {
        buslink::PortSlot *slot = table().slot(i);
        if (slot && zanthic(i).device.load() == device) {
            slot->pushReceived(frame);
            return;
        }
    }
}

// One pass of the receive thread, under the port lock.
bool pollAdapter(buslink::PortSlot &slot)
{
    if (!slot.started.load())
        return false;
    const int device = zanthic(slot.index()).device.load();
    CanPortFrame frame;
    const int result = ZanthicProtocol::receive(device, &frame, -1, [&slot] { return slot.runRequested(); });
    if (result != ZanthicProtocol::Done)
        return false;
    fileFrame(device, frame);
    return true;
}

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    table().init();
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    int32_t index = -1;
    const int32_t taken = table().beginOpen(port, &index);
    if (taken != BUSLINK_OK)
        return taken;
    ZanthicProtocol::reset(channel, ResetAnswerMs); // whatever state it was in; the answer does not matter
    if (ZanthicProtocol::information(channel) != ZanthicProtocol::Done) {
        table().release(index);
        return BUSLINK_HW_NOT_CONNECTED;
    }
    buslink::PortSlot &slot = *table().slot(index);
    {
        std::lock_guard<std::mutex> guard(slot.portLock);
        zanthic(index).device = channel;
        zanthic(index).kbits = 0;
    }
    slot.startReceiveThread(pollAdapter);
    *port = index;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    // The thread gives up a request under way as soon as its run flag is
    // cleared, so this never waits for a silent adapter.
    slot->stopReceiveThread();
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        ZanthicProtocol::reset(zanthic(port).device.load(), ResetAnswerMs);
    }
    table().release(port);
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    if (!buslink::isStandardBitRate(bitRate))
        return BUSLINK_UNSUPPORTED_BITRATE;
    std::lock_guard<std::mutex> guard(slot->portLock);
    zanthic(port).kbits = bitRate / 1000;
    return BUSLINK_OK;
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
    const int kbits = zanthic(port).kbits.load();
    if (kbits == 0 || ZanthicProtocol::bitRateAndStart(zanthic(port).device.load(), kbits) != ZanthicProtocol::Done)
        return BUSLINK_UNSUPPORTED_BITRATE;
    slot->started = true;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    std::lock_guard<std::mutex> guard(slot->portLock);
    if (slot->started.load())
        ZanthicProtocol::reset(zanthic(port).device.load());
    return BUSLINK_GENERAL_ERROR; // always; the started flag stays set
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    if (!slot->started.load() || len < 0 || len > 8)
        return BUSLINK_CAN_LAYER_FAILURE;
    flags &= BUSLINK_FLAG_REMOTE | BUSLINK_FLAG_EXTENDED;
    const int32_t ident = int32_t(uint32_t(id) & ((flags & BUSLINK_FLAG_EXTENDED) ? 0x1FFFFFFFu : 0x7FFu));
    int result;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        result = ZanthicProtocol::transmit(zanthic(port).device.load(), ident, flags, data, len);
    }
    if (result != ZanthicProtocol::Done)
        return BUSLINK_CAN_LAYER_FAILURE; // refused, or no answer: not sent
    slot->pushEcho(ident, data, len, flags);
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    if (!id || !len || !flags)
        return BUSLINK_GENERAL_ERROR;
    int32_t result = slot->read(id, data, len, flags);
    if (result != BUSLINK_NO_MESSAGE)
        return result;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        if (!table().slot(port))
            return BUSLINK_NO_MESSAGE;
        const int device = zanthic(port).device.load();
        CanPortFrame frame;
        if (ZanthicProtocol::receive(device, &frame, ReadAnswerMs) == ZanthicProtocol::Done)
            fileFrame(device, frame);
    }
    return slot->read(id, data, len, flags);
}
