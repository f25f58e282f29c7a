// Stand-in for the PEAK library "PCAN_USB": the one adapter it serves is
// channel 0 of a simulated adapter on the simulated CAN gateway.
//
// PcanUsbInit connects to the gateway (when the adapter is not open yet)
// and puts it on the bus at the bit timing given; PcanUsbClose releases it.
// PcanUsbRead takes one message: a status message first when the gateway
// refused a frame since the last read, else the oldest received frame.
#include "pcanusb.h"
#include "adapterstandin.h"

#include <cstring>

#define PCANUSB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Adapter {
    std::mutex lock; // bus and frameType; calls that use them
    std::shared_ptr<ZorSimBusClient> bus;
    int32_t frameType = PCANUSB_FRAMES_STANDARD;
    int refusedSeen = 0;
};
Adapter adapter;

int bitRateOf(uint16_t bitTiming)
{
    switch (bitTiming) {
    case PCANUSB_BTR_125K: return 125000;
    case PCANUSB_BTR_250K: return 250000;
    case PCANUSB_BTR_500K: return 500000;
    case PCANUSB_BTR_1M: return 1000000;
    default: return 0;
    }
}

std::shared_ptr<ZorSimBusClient> openBus(int32_t *frameType = nullptr)
{
    std::lock_guard<std::mutex> guard(adapter.lock);
    if (frameType)
        *frameType = adapter.frameType;
    return adapter.bus;
}

} // namespace

PCANUSB_EXPORT uint32_t PcanUsbInit(uint16_t bitTiming, int32_t frameType)
{
    const int rate = bitRateOf(bitTiming);
    if (rate == 0 || (frameType != PCANUSB_FRAMES_STANDARD && frameType != PCANUSB_FRAMES_EXTENDED))
        return PCANUSB_ERR_PARAMETER;
    std::lock_guard<std::mutex> guard(adapter.lock);
    if (!adapter.bus) {
        std::unique_ptr<ZorSimBusClient> bus = StandIn::connectChannel(0);
        if (!bus)
            return PCANUSB_ERR_NO_ADAPTER;
        adapter.bus = std::move(bus);
    }
    adapter.frameType = frameType;
    adapter.refusedSeen = adapter.bus->refusedFrames();
    return adapter.bus->open(rate) ? PCANUSB_OK : PCANUSB_ERR_NO_ADAPTER;
}

PCANUSB_EXPORT uint32_t PcanUsbClose(void)
{
    std::shared_ptr<ZorSimBusClient> bus;
    {
        std::lock_guard<std::mutex> guard(adapter.lock);
        bus.swap(adapter.bus);
    }
    if (!bus)
        return PCANUSB_ERR_NOT_INITIALISED;
    bus->wake();
    return PCANUSB_OK;
}

PCANUSB_EXPORT uint32_t PcanUsbRead(PcanUsbMessage *message)
{
    if (!message)
        return PCANUSB_ERR_PARAMETER;
    int32_t frameType;
    std::shared_ptr<ZorSimBusClient> bus = openBus(&frameType);
    if (!bus)
        return PCANUSB_ERR_NOT_INITIALISED;
    {
        std::lock_guard<std::mutex> guard(adapter.lock);
        if (bus->refusedFrames() > adapter.refusedSeen) {
            ++adapter.refusedSeen;
            *message = PcanUsbMessage{};
            message->type = PCANUSB_TYPE_STATUS;
            message->length = 4;
            message->data[3] = 0x01; // transmit error
            return PCANUSB_OK;
        }
    }
    ZorSimBusFrame frame;
    do {
        if (!bus->tryReceive(&frame))
            return PCANUSB_ERR_NO_MESSAGE;
    } while (frame.extended && frameType == PCANUSB_FRAMES_STANDARD);
    *message = PcanUsbMessage{};
    message->id = frame.id;
    message->type = uint8_t((frame.remote ? PCANUSB_TYPE_REMOTE : 0)
                            | (frame.extended ? PCANUSB_TYPE_EXTENDED : 0));
    message->length = frame.len;
    if (!frame.remote)
        std::memcpy(message->data, frame.data, frame.len);
    return PCANUSB_OK;
}

PCANUSB_EXPORT uint32_t PcanUsbWrite(const PcanUsbMessage *message)
{
    if (!message || message->length > 8 || (message->type & PCANUSB_TYPE_STATUS))
        return PCANUSB_ERR_PARAMETER;
    int32_t frameType;
    std::shared_ptr<ZorSimBusClient> bus = openBus(&frameType);
    if (!bus)
        return PCANUSB_ERR_NOT_INITIALISED;
    const bool extended = message->type & PCANUSB_TYPE_EXTENDED;
    if (extended && frameType == PCANUSB_FRAMES_STANDARD)
        return PCANUSB_ERR_PARAMETER;
    const ZorSimBusFrame frame = StandIn::frameToSend(
        message->id, extended, message->type & PCANUSB_TYPE_REMOTE, message->length, message->data);
    return bus->send(frame) ? PCANUSB_OK : PCANUSB_ERR_SEND;
}
