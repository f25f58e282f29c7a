// buslink_hw_lawicel: a serial ASCII CAN adapter behind an FTDI USB chip,
// reached through the D2XX library (linked; on this platform the stand-in
// libftd2xx.so found through the run path, see platform/CMakeLists.txt).
//
// Four ports with rings of 200 frames. Each open port runs a receive thread
// that reads the chip's byte stream, files frames into the ring and hands
// command answers to the exported functions through manual-reset events.
// The exported functions only write to the chip; every FT_Read and FT_Write
// of a port happens under its port lock.
//
// Commands and their answers: "C\r" off the bus, "S<digit>\r" bit rate
// (4, 5, 6, 8 for 125, 250, 500, 1000 kbit/s), "O\r" on the bus, each
// answered CR (done) or BEL (refused); "V\r" answered "V" + 4 characters +
// CR; frames "t"/"T"/"r"/"R" + identifier (3 or 8 lower-case hex digits) +
// length digit + data digits + CR, answered "z"/"Z" + CR or BEL. A command
// waits up to 5000 ms for its answer (-104 without one, -106 for BEL).
#include "buslinkcommon.h"
#include "ftd2xx.h"
#include "lawicelreplyparser.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

const int PortCount = 4;
const int RingSize = 200;
const int CommandTimeoutMs = 5000;
const int HandshakeTimeoutMs = 1000;

// What a port needs beyond the common slot: the chip handle, the events the
// receive thread sets for the waiting functions, and the reply parser.
struct LawicelPort
{
    FT_HANDLE handle = nullptr;        // guarded by the slot's port lock
    buslink::Event commandAck;         // CR or BEL
    buslink::Event versionAnswer;
    buslink::Event statusAnswer;
    buslink::Event transmitAck;        // "z"/"Z" CR, or BEL
    std::atomic<bool> commandOk{false};  // the last CR/BEL was CR
    std::atomic<bool> transmitOk{false}; // the last frame was taken (z/Z), not refused
    char version[5] = {};              // written before versionAnswer is set
    char status[3] = {};               // written before statusAnswer is set
    std::unique_ptr<LawicelReplyParser> parser; // receive thread only
};

LawicelPort &lawicel(int index)
{
    static LawicelPort ports[PortCount];
    return ports[index];
}

// Statics end in the reverse order of their making: the port records are made
// first, so that when the library is unloaded the port table (whose slots
// stop their receive threads) goes before them.
buslink::PortTable &table()
{
    static const bool made = (lawicel(0), true);
    (void)made;
    static buslink::PortTable t(PortCount, RingSize);
    return t;
}

bool sameOrWithin(const char *description, const char *word)
{
    return description[0] != '\0' && std::strstr(word, description) != nullptr;
}

// Writes bytes to the chip under the port lock; false when the chip did not
// take them all.
bool writeBytes(buslink::PortSlot &slot, const char *bytes, uint32_t count)
{
    std::lock_guard<std::mutex> guard(slot.portLock);
    FT_HANDLE h = lawicel(slot.index()).handle;
    uint32_t written = 0;
    return h && FT_Write(h, bytes, count, &written) == FT_OK && written == count;
}

// Sends a command answered by CR or BEL and waits for the answer: 0, -104 (no
// answer in time), -106 (refused, or the chip did not take the command).
int32_t command(buslink::PortSlot &slot, const char *text)
{
    LawicelPort &p = lawicel(slot.index());
    p.commandAck.reset();
    if (!writeBytes(slot, text, uint32_t(std::strlen(text))))
        return BUSLINK_DRIVER_ERROR;
    if (!p.commandAck.wait(CommandTimeoutMs))
        return BUSLINK_HW_NOT_CONNECTED;
    return p.commandOk.load() ? BUSLINK_OK : BUSLINK_DRIVER_ERROR;
}

// One pass of the receive thread (under the port lock): takes what the chip
// has queued, without waiting for more.
bool pollChip(buslink::PortSlot &slot)
{
    LawicelPort &p = lawicel(slot.index());
    uint32_t queued = 0;
    if (!p.handle || FT_GetQueueStatus(p.handle, &queued) != FT_OK) {
        p.parser->reset();
        return false;
    }
    if (queued == 0)
        return false;
    uint8_t bytes[256];
    const uint32_t want = queued < sizeof bytes ? queued : uint32_t(sizeof bytes);
    uint32_t got = 0;
    if (FT_Read(p.handle, bytes, want, &got) != FT_OK) {
        p.parser->reset();
        return false;
    }
    p.parser->feed(bytes, int(got));
    return got > 0;
}

void makeParser(buslink::PortSlot &slot)
{
    LawicelPort &p = lawicel(slot.index());
    LawicelReplyParser::Handlers h;
    h.commandAnswer = [&p](bool ok) {
        p.commandOk = ok;
        p.commandAck.set();
        if (!ok) {
            // A refused frame is answered BEL instead of "z": it ends the
            // transmit wait too, as a refusal.
            p.transmitOk = false;
            p.transmitAck.set();
        }
    };
    h.transmitAnswer = [&p] {
        p.transmitOk = true;
        p.transmitAck.set();
    };
    h.versionAnswer = [&p](const char *text) {
        std::memcpy(p.version, text, sizeof p.version);
        p.versionAnswer.set();
    };
    h.statusAnswer = [&p](const char *text) {
        std::memcpy(p.status, text, sizeof p.status);
        p.statusAnswer.set();
    };
    h.frame = [&slot](const CanPortFrame &frame) { slot.pushReceived(frame); };
    p.parser.reset(new LawicelReplyParser(h));
}

// Undoes an open that got as far as the chip: the thread ends first, then
// the handle is closed (once), then the slot is freed.
int32_t closePort(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    slot->stopReceiveThread();
    LawicelPort &p = lawicel(port);
    FT_STATUS status = FT_OK;
    {
        std::lock_guard<std::mutex> guard(slot->portLock);
        if (p.handle)
            status = FT_Close(p.handle);
        p.handle = nullptr;
    }
    table().release(port);
    return status == FT_OK ? BUSLINK_OK : BUSLINK_PORT_NOT_USABLE;
}

int32_t failOpen(int32_t port, int32_t result)
{
    closePort(port);
    return result;
}

} // namespace

BUSLINK_EXPORT int32_t canPortLibraryInit(void)
{
    table().init();
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port)
{
    (void)channel; // always the first FTDI device
    int32_t index = -1;
    const int32_t taken = table().beginOpen(port, &index);
    if (taken != BUSLINK_OK)
        return taken;
    buslink::PortSlot &slot = *table().slot(index);
    LawicelPort &p = lawicel(index);
    p.handle = nullptr;

    uint32_t devices = 0;
    if (FT_ListDevices(&devices, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
        return failOpen(index, BUSLINK_DRIVER_ERROR);
    if (devices == 0)
        return failOpen(index, BUSLINK_HW_NOT_CONNECTED);
    char description[64] = {};
    char serial[64] = {};
    if (FT_ListDevices(reinterpret_cast<void *>(uintptr_t(0)), description,
                       FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) != FT_OK
        || FT_ListDevices(reinterpret_cast<void *>(uintptr_t(0)), serial,
                          FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) != FT_OK)
        return failOpen(index, BUSLINK_DRIVER_ERROR);
    description[63] = serial[63] = '\0';
    if (!sameOrWithin(description, "CANUSB") && !sameOrWithin(description, "USB-CAN"))
        return failOpen(index, BUSLINK_HW_NOT_CONNECTED);
    FT_HANDLE handle = nullptr;
    if (FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK || !handle)
        return failOpen(index, BUSLINK_DRIVER_ERROR);
    {
        std::lock_guard<std::mutex> guard(slot.portLock);
        p.handle = handle;
    }

    // Off the bus whatever state the adapter was left in; what it answers
    // and anything it still had queued is dropped.
    writeBytes(slot, "C\r", 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard<std::mutex> guard(slot.portLock);
        uint32_t queued = 0;
        if (FT_GetQueueStatus(handle, &queued) == FT_OK && queued > 0) {
            std::unique_ptr<uint8_t[]> discard(new uint8_t[queued]);
            uint32_t got = 0;
            FT_Read(handle, discard.get(), queued, &got);
        }
        FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
    }

    p.commandAck.reset();
    p.versionAnswer.reset();
    p.statusAnswer.reset();
    p.transmitAck.reset();
    makeParser(slot);
    slot.startReceiveThread(pollChip);

    // Handshake: two empty commands and a close, each answered CR; then the
    // version. Without answers this is no adapter of ours.
    if (!writeBytes(slot, "\r\rC\r", 4) || !p.commandAck.wait(HandshakeTimeoutMs))
        return failOpen(index, BUSLINK_HW_UNDEFINED);
    p.versionAnswer.reset();
    if (!writeBytes(slot, "V\r", 2) || !p.versionAnswer.wait(HandshakeTimeoutMs))
        return failOpen(index, BUSLINK_HW_UNDEFINED);
    *port = index;
    return BUSLINK_OK;
}

BUSLINK_EXPORT int32_t canPortClose(int32_t port)
{
    return closePort(port);
}

BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    const char *text;
    switch (bitRate) {
    case 125000: text = "S4\r"; break;
    case 250000: text = "S5\r"; break;
    case 500000: text = "S6\r"; break;
    case 1000000: text = "S8\r"; break;
    default: return BUSLINK_UNSUPPORTED_BITRATE;
    }
    return command(*slot, text);
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
    const int32_t result = command(*slot, "O\r");
    if (result == BUSLINK_OK)
        slot->started = true;
    return result;
}

BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    return command(*slot, "C\r"); // the started flag stays set
}

BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags)
{
    buslink::PortSlot *slot = table().slot(port);
    if (!slot)
        return BUSLINK_PORT_NOT_USABLE;
    const bool remote = (flags & BUSLINK_FLAG_REMOTE) != 0;
    const bool extended = (flags & BUSLINK_FLAG_EXTENDED) != 0;
    if (len < 0 || len > 8 || (!remote && len > 0 && !data))
        return BUSLINK_CAN_LAYER_FAILURE; // no such frame: nothing is sent
    const uint32_t ident = uint32_t(id) & (extended ? 0x1FFFFFFFu : 0x7FFu);

    char text[32];
    int n = std::snprintf(text, sizeof text, extended ? "%c%08x%d" : "%c%03x%d",
                          remote ? (extended ? 'R' : 'r') : (extended ? 'T' : 't'), ident, int(len));
    if (!remote) {
        for (int i = 0; i < len; ++i)
            n += std::snprintf(text + n, sizeof text - size_t(n), "%02x", unsigned(data[i]));
    }
    text[n++] = '\r';

    LawicelPort &p = lawicel(port);
    p.transmitAck.reset();
    if (!writeBytes(*slot, text, uint32_t(n)))
        return BUSLINK_DRIVER_ERROR;
    if (!p.transmitAck.wait(CommandTimeoutMs))
        return BUSLINK_HW_NOT_CONNECTED;
    if (!p.transmitOk.load())
        return BUSLINK_DRIVER_ERROR;
    slot->pushEcho(int32_t(ident), data, len, flags & (BUSLINK_FLAG_REMOTE | BUSLINK_FLAG_EXTENDED));
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
    return slot->read(id, data, len, flags);
}
