// The road from a stand-in layer to the simulated CAN gateway.
//
// The adapter makers' libraries, FTDI D2XX and the USB device layer do not
// exist on this platform; platform/ replaces each by a layer of its own whose
// "adapters" are channels of the simulated CAN gateway (tests/support): a TCP
// server on 127.0.0.1 speaking the ASCII adapter protocol and carrying frames
// among its clients and its simulated CANopen nodes. Every such stand-in
// reaches the gateway through one ZorSimBusClient per simulated adapter
// channel.
//
// Where the gateway is: the environment variable QUORVANE_SIM_GATEWAY,
// "127.0.0.1:<port>". Without it (or with a malformed value) there is no
// gateway, and a stand-in reports "no device", as the real library does when
// no adapter is plugged in. gatewayConfigured() tells; connectToGateway()
// then fails at once.
//
// Use:
//   ZorSimBusClient bus;
//   if (!bus.connectToGateway())      // no gateway: "no device"
//       ...
//   bus.open(500000);                  // "C", "S6", "O": on the bus
//   bus.send(frame);                   // queued, written by the I/O thread
//   ZorSimBusFrame f;
//   if (bus.receive(&f, 10) == 1) ...  // blocking with time-out
//   bus.close();                       // "C": off the bus
//   bus.disconnectFromGateway();       // also done by the destructor
//
// Threads: every member may be called from any thread at the same time (a
// vendor library's receive thread blocks in receive() while the caller's
// thread sends). A private I/O thread owns the TCP socket and its event
// loop; callers and that thread meet in queues under a mutex, with
// condition variables for the waits. All waits use the monotonic clock.
// wake() makes every receive() under way return at once, so a closing
// stand-in never waits for a receive time-out.
//
// Frames: the gateway puts each frame this client sends on the bus and then
// echoes it ("e" line); setEchoes(true) delivers those echoes as received
// frames with echo set (for libraries that report sent frames), otherwise they
// only confirm the send (pendingTransmits). Refused frames (BEL from the
// gateway while no command waits) are counted in refusedFrames().
//
// The process must have a QCoreApplication (Qt's sockets need it); every
// program and test of this project has one.
#pragma once

#include "zorsimbusframe.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QAbstractEventDispatcher;
class QTcpSocket;

class ZorSimBusClient
{
public:
    // Name of the environment variable holding "127.0.0.1:<port>".
    static const char *gatewayVariable() { return "QUORVANE_SIM_GATEWAY"; }
    // Host and port from the environment; false when unset or malformed.
    static bool gatewayAddress(QString *host, quint16 *port);
    static bool gatewayConfigured() { return gatewayAddress(nullptr, nullptr); }

    // Bit-rate code of the "S" command for the nine rates the protocol has
    // (10k 0, 20k 1, 50k 2, 100k 3, 125k 4, 250k 5, 500k 6, 800k 7, 1M 8);
    // -1 for any other rate.
    static int bitRateCode(int bitRate);

    ZorSimBusClient();
    ~ZorSimBusClient();
    ZorSimBusClient(const ZorSimBusClient &) = delete;
    ZorSimBusClient &operator=(const ZorSimBusClient &) = delete;

    // --- connection ------------------------------------------------------

    // Connects to the gateway named by the environment, waiting at most
    // timeoutMs. False without a configured gateway or when it cannot be
    // reached. True at once when already connected.
    bool connectToGateway(int timeoutMs = 3000);
    // Ends the connection and the I/O thread; wakes every waiter. Queued
    // frames are discarded; the channel is closed with it.
    void disconnectFromGateway();
    // False before connectToGateway and once the gateway dropped us.
    bool isConnected() const { return m_connected.load(); }

    // --- channel ---------------------------------------------------------

    // Takes the channel off the bus, sets the bit rate and goes on the bus
    // ("C\r", "S<code>\r", "O\r"). False when the rate has no code, when the
    // gateway refuses a command (BEL) or does not answer within timeoutMs.
    bool open(int bitRate, int timeoutMs = 3000);
    // "C\r": off the bus. False without an answer (CR) within timeoutMs.
    bool close(int timeoutMs = 3000);
    // open succeeded and neither close nor a lost connection followed.
    bool isOpen() const { return m_open.load(); }
    int bitRate() const { return m_bitRate.load(); }
    // The gateway's status flags ("F\r": bus error 0x80, error passive 0x20,
    // cleared by reading), or -1 without an answer.
    int readStatusFlags(int timeoutMs = 3000);

    // --- frames ----------------------------------------------------------

    // Queues one frame for the gateway; false when not connected, not open,
    // or the frame is not valid (length above 8, identifier too wide).
    bool send(const ZorSimBusFrame &frame);
    // Frames sent and not yet echoed by the gateway (on their way to the bus).
    int pendingTransmits() const;
    // Frames the gateway refused since connecting.
    int refusedFrames() const { return m_refused.load(); }

    // Takes the oldest received frame: 1 with it in *frame; 0 when none came
    // within timeoutMs (0: do not wait) or wake() was called; -1 when none is
    // waiting and the connection is down.
    int receive(ZorSimBusFrame *frame, int timeoutMs);
    bool tryReceive(ZorSimBusFrame *frame) { return receive(frame, 0) == 1; }
    // Received frames waiting to be taken.
    int pendingFrames() const;
    // Forgets every received frame waiting to be taken.
    void clearReceived();
    // Makes every receive() under way (in any thread) return 0 now.
    void wake();

    // Deliver the gateway's echoes of sent frames as received frames with
    // echo = true (default false: they only confirm the send).
    void setEchoes(bool on) { m_echoes.store(on); }
    // At most this many received frames wait; beyond, new ones are dropped
    // and counted (default 65536).
    void setReceiveLimit(int frames) { m_receiveLimit.store(frames > 0 ? frames : 1); }
    int droppedFrames() const { return m_dropped.load(); }

    // Called on the I/O thread after frames arrived: a stand-in signals its
    // library's event with it. It runs under a lock of its own, not the one
    // the other members take, so it may call receive(); setting a new
    // notifier (null removes it) waits for a call under way, so never set it
    // while holding a lock that the notifier takes.
    void setArrivalNotifier(std::function<void()> notify);

    // Microseconds on this client's monotonic clock (time stamps of frames).
    qint64 elapsedMicroseconds() const;

private:
    bool command(const QByteArray &text, int timeoutMs, QByteArray *reply = nullptr);
    void post(const QByteArray &bytes);
    void ioThread(std::string host, quint16 port);
    void handleIncoming(QTcpSocket *socket);
    void handleLine(const QByteArray &line);
    void handleAnswer(bool ok, const QByteArray &reply);
    void markDisconnected();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // any state below changed
    std::thread m_thread;
    // The I/O thread's event dispatcher while the thread runs (woken to
    // write m_outbox or to stop); guarded by m_mutex.
    QAbstractEventDispatcher *m_dispatcher = nullptr;
    bool m_stopRequested = false;
    bool m_threadUp = false;            // connection attempt finished (either way)
    QByteArray m_outbox;                // bytes for the gateway
    QByteArray m_inText;                // incomplete line from the gateway (I/O thread only)
    std::deque<ZorSimBusFrame> m_received;
    quint64 m_wakeCount = 0;
    // Commands: answers are matched to commands in order.
    std::mutex m_commandLock; // one command at a time
    quint64 m_commandsSent = 0;
    quint64 m_answersSeen = 0;
    bool m_lastAnswerOk = false;
    QByteArray m_lastReply;
    int m_unconfirmed = 0; // frames sent, not yet echoed

    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_open{false};
    std::atomic<int> m_bitRate{0};
    std::atomic<bool> m_echoes{false};
    std::atomic<int> m_receiveLimit{65536};
    std::atomic<int> m_dropped{0};
    std::atomic<int> m_refused{0};
    std::mutex m_notifyLock;
    std::function<void()> m_notify;
    struct Clock;
    std::unique_ptr<Clock> m_clock;
};
