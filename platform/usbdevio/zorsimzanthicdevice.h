// A USB-CAN adapter of the Zanthic kind as the USB device-services stand-in
// simulates it: one interface with a bulk OUT endpoint (0x01) for requests,
// a bulk IN endpoint (0x81) for answers and an interrupt IN endpoint (0x83)
// that stays silent. Its CAN side is a channel of the simulated CAN gateway,
// connected while the channel runs (from "bit rate and start" to "reset").
//
// Requests (bulk OUT: byte 0 is 0, byte 1 the code) and answers (bulk IN:
// byte 0 is the code + 1):
//   2 information            -> 3, two bytes, one byte, a NUL-ended text,
//                               a count byte and that many bytes
//   4 reset                  -> 5 (the channel stops)
//   6 bit rate and start     -> 7 once on the bus at the rate of the code
//                               (0..8: 10, 20, 50, 100, 125, 250, 500, 800,
//                               1000 kbit/s); 0 when that fails
//   16 transmit              -> 17, status (1 taken, 0 not), 2 bytes; the
//                               request holds the identifier word (bit 31
//                               29-bit, bit 30 remote; most significant byte
//                               first), a 0, the length and the data bytes
//   20 receive               -> 21, 0 when no frame waits; else 1, 0, the
//                               record length n (7 + data length), the
//                               length, flags (0x80 29-bit, 0x40 remote),
//                               the identifier (4 bytes, most significant
//                               first) and the data. A receive waits up to
//                               1 ms for a frame, as a USB round trip takes.
//   anything else            -> 0
// Each request's answer waits for the next IN transfer; an IN transfer
// without an answer stays pending (until aborted, cancelled or answered).
#pragma once

#include "zorsimbusclient.h"

#include <QByteArray>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

// One started I/O-control request that completes later.
struct SimUsbRequest
{
    std::mutex lock;
    std::condition_variable completed;
    bool done = false;
    bool cancelled = false;
    bool deviceGone = false;
    uint32_t bytes = 0;
    uint8_t endpoint = 0;
    uint8_t *out = nullptr;
    uint32_t outSize = 0;

    // Completes a transfer: the header in out gets the statuses, the data
    // follows it. Nothing happens to a cancelled or completed request.
    void completeTransfer(const QByteArray &data, uint32_t usbStatus);
    // Completes any other request with these bytes.
    void complete(const QByteArray &data);
};

class ZorSimZanthicDevice
{
public:
    static constexpr uint8_t EndpointOut = 0x01;
    static constexpr uint8_t EndpointIn = 0x81;
    static constexpr uint8_t EndpointInterrupt = 0x83;

    explicit ZorSimZanthicDevice(int index) : m_index(index) {}
    ~ZorSimZanthicDevice();

    static QByteArray deviceDescriptor();
    static QByteArray configDescriptor();

    // A request written to the bulk OUT endpoint: processed at once, its
    // answer queued for the IN endpoint (none while muted).
    void handleRequest(const QByteArray &request);
    // An IN transfer: completed with the oldest queued answer, or pending.
    void startIn(const std::shared_ptr<SimUsbRequest> &request);
    // Ends pending IN transfers of the endpoint with the cancel status.
    void abortPipe(uint8_t endpoint);
    // Forgets a pending transfer that its caller gave up.
    void forget(const SimUsbRequest *request);
    // Stops the CAN channel (the last handle was closed).
    void closeChannel();

    // Test settings and records.
    // Answers given to the next receive requests instead of the bus's
    // frames (malformed ones included).
    void queueReceiveAnswer(const QByteArray &answer);
    std::atomic<bool> muted{false};
    std::atomic<bool> refuseTransmit{false};
    void clearLog();
    std::string log() const;
    bool started() const { return m_started.load(); }
    int pendingTransfers() const;
    int queuedFrames() const { return m_bus.pendingFrames(); }
    std::atomic<int> handles{0};
    std::atomic<int> receivePolls{0};

private:
    QByteArray answer(const QByteArray &request);
    QByteArray receiveAnswer();
    void stopChannel(); // under m_requestLock

    const int m_index;
    std::mutex m_requestLock; // one request processed at a time
    ZorSimBusClient m_bus;
    std::atomic<bool> m_started{false};

    mutable std::mutex m_lock;
    std::deque<QByteArray> m_answers;
    std::deque<std::shared_ptr<SimUsbRequest>> m_pendingIn;
    std::deque<QByteArray> m_rawReceiveAnswers;
    std::string m_log;
};
