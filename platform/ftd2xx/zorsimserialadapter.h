// A serial-line CAN adapter behind a simulated FTDI chip: what the D2XX
// stand-in's devices are. The host's bytes (FT_Write) are command lines of
// the ASCII adapter protocol; the adapter answers them and sends the frames
// it receives, all as a byte stream the host reads (FT_Read). The CAN side
// is a channel of the simulated CAN gateway (ZorSimBusClient).
//
// Commands (each ends with CR): "" -> CR; "S0".."S8" bit rate -> CR (BEL
// while open); "O" (also "L") on the bus -> CR (BEL without a rate or when
// the gateway refuses); "C" off the bus -> CR; "V" -> "V" + 4 characters +
// CR; "N" -> "N" + 4 characters + CR; "F" -> "F" + 2 hex digits + CR (the
// gateway's status flags); "Z0"/"Z1" time stamps on received frames -> CR;
// "t", "T", "r", "R" frames (remote frames may carry data digits) -> "z" CR
// or "Z" CR (29-bit) once handed to the gateway, BEL when not open or
// malformed; anything else BEL. Received frames go out as frame lines in
// lower-case hex, with 4 digits of millisecond time stamp (modulo 65536)
// while "Z1" is on.
//
// Commands run in order on a worker thread of the adapter, so FT_Write never
// waits for the gateway; frames from the gateway are appended on the
// gateway client's thread. The test settings of SimSerialDeviceConfig (cut,
// refuse, ignore, failing writes) act on the running adapter at once.
#pragma once

#include "zorsimbusclient.h"

#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One entry of the stand-in's device list, with its test settings. Shared by
// the list and the adapter of an open handle.
struct SimSerialDeviceConfig
{
    std::string description;
    std::string serialNumber;
    int comPort = -1;

    // Bytes the adapter may still send before it falls silent; -1 = no limit.
    std::atomic<int> cutLeft{-1};
    std::atomic<bool> failWrites{false};
    std::atomic<bool> ctsOff{false};
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<bool> isOpen{false};

    // Command letters answered BEL, and letters not answered at all.
    void setRefused(const std::string &letters);
    void setIgnored(const std::string &letters);
    bool refuses(char letter) const;
    bool ignores(char letter) const;

    // Every byte the host wrote since the device was last opened (the first
    // 64 KiB), for tests that check what went over the wire.
    void clearWritten();
    void appendWritten(const char *bytes, int count);
    std::string written() const;

private:
    mutable std::mutex m_lock;
    std::string m_refused;
    std::string m_ignored;
    std::string m_written;
};

class ZorSimSerialAdapter
{
public:
    explicit ZorSimSerialAdapter(std::shared_ptr<SimSerialDeviceConfig> config);
    ~ZorSimSerialAdapter();
    ZorSimSerialAdapter(const ZorSimSerialAdapter &) = delete;
    ZorSimSerialAdapter &operator=(const ZorSimSerialAdapter &) = delete;

    // Connects to the gateway and starts the worker; false without gateway.
    bool start();
    // Ends everything: readers waiting in read() return, the worker and the
    // gateway connection stop. The destructor does it too.
    void shutdown();

    // Bytes the adapter sends to the host as they are (tests: malformed or
    // partial answers); subject to the cut setting like everything it sends.
    void sendRaw(const QByteArray &bytes) { emitToHost(bytes); }

    // Host writes: false (nothing taken) while the device is set to fail.
    bool write(const char *bytes, int count);
    // Host reads: up to max bytes; waits until max bytes are there, timeoutMs
    // passed (< 0: no limit) or shutdown(); returns the count.
    int read(char *buffer, int max, int timeoutMs);
    int queued() const;
    void purge(bool rx, bool tx);

    // Event notification (see ftd2xx.h); a null notify stops it.
    void setEventHandler(uint32_t mask, void (*notify)(void *, uint32_t), void *context);

    const std::shared_ptr<SimSerialDeviceConfig> &config() const { return m_config; }

    // Bytes the adapter keeps for the host at most; beyond, new bytes are lost
    // as on a chip whose buffer overflows.
    static constexpr int ReceiveBufferLimit = 1 << 20;

private:
    void worker();
    void execute(const QByteArray &line);
    void takeFramesFromBus();
    void emitToHost(const QByteArray &bytes);
    void notifyHost();

    std::shared_ptr<SimSerialDeviceConfig> m_config;
    ZorSimBusClient m_bus;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    QByteArray m_toHost;        // bytes waiting for FT_Read
    QByteArray m_partialLine;   // host bytes without their CR yet
    std::deque<QByteArray> m_commands;
    bool m_stop = false;
    std::thread m_worker;

    // Adapter state (worker thread, and the bus thread for the stamps flag).
    int m_rateCode = -1;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_stamps{false};

    std::mutex m_handlerLock;
    uint32_t m_eventMask = 0;
    void (*m_notify)(void *, uint32_t) = nullptr;
    void *m_notifyContext = nullptr;
};
