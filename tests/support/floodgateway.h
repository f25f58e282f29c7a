// FloodGateway: a network CAN gateway gone wild, for tests and benchmarks of
// how the program bears a peer that sends received frames faster than any
// bus carries them (a 1 Mbit/s bus carries at most about 20,000 frames/s).
//
// A TCP server on 127.0.0.1, in a thread of its own, speaking the ASCII
// adapter protocol's reading side: it takes a client's opening lines
// without looking at them and, once the client has sent its "O" line,
// writes received-frame lines at the set rate for the set time, each an
// 11-bit frame 123h of eight bytes whose first four carry a serial number
// (little-endian) and whose line ends with a 16-bit time stamp:
// "t1238" + 16 hex digits + 4 hex digits + CR. Lines go out in batches
// every millisecond or two; while the client's socket holds more than a few
// megabytes unread, the gateway skips frames (as a gateway whose buffer is
// full), so its own memory stays small. One client at a time.
#pragma once

#include <QString>
#include <QThread>

#include <atomic>

class FloodGateway : public QThread
{
    Q_OBJECT
public:
    FloodGateway(int framesPerSecond, int durationMs);
    ~FloodGateway() override;

    // Listens on a free port; false when it could not.
    bool listen();
    QString address() const;

    // Frames written to the client, and skipped because it did not read.
    qint64 sent() const { return m_sent.load(); }
    qint64 skipped() const { return m_skipped.load(); }
    // The flood started, and it has run its time.
    bool started() const { return m_started.load(); }
    bool finished() const { return m_finished.load(); }

protected:
    void run() override;

private:
    const int m_rate;
    const int m_durationMs;
    std::atomic<int> m_port{0};
    std::atomic<bool> m_listening{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_finished{false};
    std::atomic<qint64> m_sent{0};
    std::atomic<qint64> m_skipped{0};
};
