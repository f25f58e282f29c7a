// buslink_hw_testloop: a plug-in whose "adapter" is a virtual CAN bus shared by
// the ports open in one loaded copy of the library. A frame written on one
// port reaches every other port that is on the bus, through that port's
// receive thread, as a real adapter's frames would; echo works as the
// contract says. Test fixture only.
//
// Controlled through the environment, read by canPortLibraryInit and
// canPortOpen (the opening thread), so that it exports only the nine names:
//   BUSLINK_TESTLOOP_FAIL  one of init, open, bitrate, buson, write: that
//                          function fails (write: every write of ports opened
//                          while it is set)
//   BUSLINK_TESTLOOP_LOG   file to which each opening/closing call appends
//                          one line "<function> <port> -> <result>"
// Built a second time as buslink_hw_testloop_noread without canPortRead, a
// plug-in that lacks one export.
// Channels 0 to 3 exist; another channel fails with -104 before any port is
// taken. Four ports, rings of 100 frames.
#include "buslinkcommon.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

namespace {

const int kPorts = 4;

buslink::PortTable &table()
{
    static buslink::PortTable t(kPorts, 100);
    return t;
}

// Per port: frames on their way from the bus to the port's receive thread.
struct Wire {
    std::mutex lock;
    std::deque<CanPortFrame> frames;
    std::atomic<bool> onBus{false};
    std::atomic<bool> failWrites{false};
};
Wire wires[kPorts];

bool failing(const char *what)
{
    const char *v = std::getenv("BUSLINK_TESTLOOP_FAIL");
    return v && std::strcmp(v, what) == 0;
}

int32_t logged(const char *function, int32_t port, int32_t result)
{
    if (const char *path = std::getenv("BUSLINK_TESTLOOP_LOG")) {
        if (FILE *f = std::fopen(path, "a")) {
            std::fprintf(f, "%s %d -> %d\n", function, int(port), int(result));
            std::fclose(f);
        }
    }
    return result;
}

bool pollWire(buslink::PortSlot &slot)
{
    Wire &w = wires[slot.index()];
    std::deque<CanPortFrame> taken;
    {
        std::lock_guard<std::mutex> guard(w.lock);
        taken.swap(w.frames);
    }
    for (const CanPortFrame &f : taken)
        slot.pushReceived(f);
    return !taken.empty();
}

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    if (failing("init"))
        return logged("canPortLibraryInit", -1, BUSLINK_DRIVER_ERROR);
    table().init();
    return logged("canPortLibraryInit", -1, BUSLINK_OK);
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    if (channel < 0 || channel > 3)
        return logged("canPortOpen", -1, BUSLINK_HW_NOT_CONNECTED);
    const int32_t taken = table().acquire(port);
    if (taken != BUSLINK_OK)
        return logged("canPortOpen", -1, taken);
    if (failing("open")) {
        table().release(*port);
        return logged("canPortOpen", *port, BUSLINK_HW_NOT_CONNECTED);
    }
    Wire &w = wires[*port];
    {
        std::lock_guard<std::mutex> guard(w.lock);
        w.frames.clear();
    }
    w.onBus = false;
    w.failWrites = failing("write");
    table().slot(*port)->startReceiveThread(pollWire);
    return logged("canPortOpen", *port, BUSLINK_OK);
}

BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    if (port >= 0 && port < kPorts && table().slot(port))
        wires[port].onBus = false;
    return logged("canPortClose", port, table().release(port));
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    if (!table().slot(port))
        return logged("canPortBitrateSet", port, BUSLINK_PORT_NOT_USABLE);
    if (!buslink::isStandardBitRate(bitRate) || failing("bitrate"))
        return logged("canPortBitrateSet", port, BUSLINK_UNSUPPORTED_BITRATE);
    return logged("canPortBitrateSet", port, BUSLINK_OK);
}

BUSLINK_EXPORT int32_t canPortEcho(int32_t port, int32_t on)
{
    buslink::PortSlot *s = table().slot(port);
    if (!s)
        return BUSLINK_PORT_NOT_USABLE;
    s->echo = (on & 0xff) != 0;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortGoBusOn(int32_t port)
{
    buslink::PortSlot *s = table().slot(port);
    if (!s)
        return logged("canPortGoBusOn", port, BUSLINK_PORT_NOT_USABLE);
    if (failing("buson"))
        return logged("canPortGoBusOn", port, BUSLINK_CAN_LAYER_FAILURE);
    s->started = true;
    wires[port].onBus = true;
    return logged("canPortGoBusOn", port, BUSLINK_OK);
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    if (!table().slot(port))
        return logged("canPortGoBusOff", port, BUSLINK_PORT_NOT_USABLE);
    wires[port].onBus = false;
    return logged("canPortGoBusOff", port, BUSLINK_OK);
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    buslink::PortSlot *s = table().slot(port);
    if (!s)
        return BUSLINK_PORT_NOT_USABLE;
    if (!wires[port].onBus || wires[port].failWrites || len < 0 || len > 8)
        return BUSLINK_CAN_LAYER_FAILURE;
    CanPortFrame frame{};
    frame.id = id;
    frame.len = len;
    frame.flags = flags & (BUSLINK_FLAG_REMOTE | BUSLINK_FLAG_EXTENDED);
    if (!(flags & BUSLINK_FLAG_REMOTE) && len > 0)
        std::memcpy(frame.data, data, size_t(len));
    for (int other = 0; other < kPorts; ++other) {
        if (other == port || !wires[other].onBus)
            continue;
        std::lock_guard<std::mutex> guard(wires[other].lock);
        wires[other].frames.push_back(frame);
    }
    s->pushEcho(id, data, len, flags);
    return BUSLINK_OK;
}

#ifndef TESTLOOP_WITHOUT_READ
BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags)
{
    buslink::PortSlot *s = table().slot(port);
    if (!s)
        return BUSLINK_PORT_NOT_USABLE;
    return s->read(id, data, len, flags);
}
#endif
