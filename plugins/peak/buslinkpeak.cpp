// buslink_hw_peak: the PEAK USB adapter through the maker's library
// "PCAN_USB", linked to it.
//
// The library serves one adapter without a channel argument; the plug-in's
// two ports (0 and 1) share it, each with its own bit-timing word, echo flag
// and ring. The adapter is initialised by the first port that goes on the
// bus and closed when the last one goes off, and every frame read from it
// reaches each port on the bus, whichever port's canPortRead took it from
// the library. No receive thread. A port takes writes only once it was
// opened: a caller that never opened it must not reach the adapter that
// another user of this copy has on the bus.
#include "buslinkcommon.h"
#include "pcanusb.h"

#include <cstring>
#include <mutex>

namespace {

const int kPorts = 2;
const int kRingSize = 100;

struct PeakPort {
    std::atomic<bool> opened{false};
    std::atomic<bool> echo{false};
    std::atomic<uint16_t> bitTiming{0};
    std::atomic<bool> onBus{false};
    buslink::ReceiveRing ring{kRingSize};
};
PeakPort peakPorts[kPorts];
// Serialises initialising and closing the adapter with the on-bus flags.
std::mutex adapterLock;

bool validPort(int32_t port)
{
    return port >= 0 && port < kPorts;
}

CanPortFrame frameOf(const PcanUsbMessage &message)
{
    CanPortFrame frame{};
    frame.id = int32_t(message.id);
    frame.len = message.length;
    frame.flags = ((message.type & PCANUSB_TYPE_REMOTE) ? BUSLINK_FLAG_REMOTE : 0)
                  | ((message.type & PCANUSB_TYPE_EXTENDED) ? BUSLINK_FLAG_EXTENDED : 0);
    if (!(frame.flags & BUSLINK_FLAG_REMOTE))
        std::memcpy(frame.data, message.data, sizeof frame.data);
    return frame;
}

// One message from the adapter when it is a CAN frame the interface can
// carry; the other port on the bus gets its copy here.
bool readFrame(int32_t port, CanPortFrame *frame)
{
    PcanUsbMessage message{};
    if (PcanUsbRead(&message) != PCANUSB_OK)
        return false;
    if ((message.type & PCANUSB_TYPE_STATUS) || message.length > 8)
        return false;
    *frame = frameOf(message);
    const int32_t other = 1 - port;
    if (peakPorts[other].onBus)
        peakPorts[other].ring.push(*frame);
    return true;
}

void deliver(const CanPortFrame &frame, int32_t *id, uint8_t *data, int32_t *len,
             int32_t *flags)
{
    *id = frame.id;
    *len = frame.len;
    *flags = frame.flags;
    if (!(frame.flags & BUSLINK_FLAG_REMOTE))
        std::memcpy(data, frame.data, size_t(frame.len));
}

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    std::lock_guard<std::mutex> guard(adapterLock);
    for (PeakPort &p : peakPorts) {
        if (p.onBus)
            continue; // in use by another user of this copy
        p.opened = false;
        p.echo = false;
        p.ring.clear();
    }
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    if (!port)
        return BUSLINK_PORT_NOT_USABLE;
    *port = -1;
    if (!validPort(channel))
        return BUSLINK_HW_NOT_CONNECTED;
    peakPorts[channel].opened = true;
    *port = channel;
    return BUSLINK_OK;
}

// The adapter is released by canPortGoBusOff; closing a port does nothing
// and, as it always has, answers -101.
BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    return BUSLINK_PORT_NOT_USABLE;
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    if (!validPort(port))
        return BUSLINK_PORT_NOT_USABLE;
    uint16_t word;
    switch (bitRate) {
    case 125000: word = PCANUSB_BTR_125K; break;
    case 250000: word = PCANUSB_BTR_250K; break;
    case 500000: word = PCANUSB_BTR_500K; break;
    case 1000000: word = PCANUSB_BTR_1M; break;
    default: return BUSLINK_GENERAL_ERROR;
    }
    peakPorts[port].bitTiming = word;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortEcho(int32_t port, int32_t on)
{
    if (!validPort(port))
        return BUSLINK_PORT_NOT_USABLE;
    peakPorts[port].echo = (on & 0xff) != 0;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortGoBusOn(int32_t port)
{
    if (!validPort(port))
        return BUSLINK_PORT_NOT_USABLE;
    std::lock_guard<std::mutex> guard(adapterLock);
    PeakPort &self = peakPorts[port];
    const PeakPort &other = peakPorts[1 - port];
    if (other.onBus) {
        // The adapter runs already: it has one bit rate for both ports.
        if (other.bitTiming.load() != self.bitTiming.load())
            return BUSLINK_GENERAL_ERROR;
    } else if (PcanUsbInit(self.bitTiming, PCANUSB_FRAMES_EXTENDED) != PCANUSB_OK) {
        return BUSLINK_GENERAL_ERROR;
    }
    self.onBus = true;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    if (!validPort(port))
        return BUSLINK_PORT_NOT_USABLE;
    std::lock_guard<std::mutex> guard(adapterLock);
    // The other port keeps the adapter it is still using.
    if (!peakPorts[1 - port].onBus && PcanUsbClose() != PCANUSB_OK)
        return BUSLINK_GENERAL_ERROR;
    peakPorts[port].onBus = false;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    if (!validPort(port) || !peakPorts[port].opened)
        return BUSLINK_PORT_NOT_USABLE;
    if (len < 0 || len > 8)
        return BUSLINK_CAN_LAYER_FAILURE;
    PcanUsbMessage message{};
    message.id = uint32_t(id);
    message.type = uint8_t(((flags & BUSLINK_FLAG_EXTENDED) ? PCANUSB_TYPE_EXTENDED : 0)
                           | ((flags & BUSLINK_FLAG_REMOTE) ? PCANUSB_TYPE_REMOTE : 0));
    message.length = uint8_t(len);
    if (data && !(flags & BUSLINK_FLAG_REMOTE))
        std::memcpy(message.data, data, size_t(len));
    if (PcanUsbWrite(&message) != PCANUSB_OK)
        return BUSLINK_CAN_LAYER_FAILURE;
    if (peakPorts[port].echo)
        peakPorts[port].ring.push(frameOf(message));
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags)
{
    if (!validPort(port) || !id || !data || !len || !flags)
        return BUSLINK_PORT_NOT_USABLE;
    *flags = 0;
    PeakPort &self = peakPorts[port];
    CanPortFrame taken{};
    CanPortFrame fresh{};
    if (self.ring.pop(&taken) == BUSLINK_OK) {
        // Keep the adapter's queue moving; what it gave waits its turn.
        if (readFrame(port, &fresh))
            self.ring.push(fresh);
        deliver(taken, id, data, len, flags);
        return BUSLINK_OK;
    }
    if (!readFrame(port, &fresh))
        return BUSLINK_NO_MESSAGE;
    deliver(fresh, id, data, len, flags);
    return BUSLINK_OK;
}
