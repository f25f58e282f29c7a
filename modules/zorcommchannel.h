// ZorCommChannel: a small synchronous TCP client for devices that talk a
// byte or line protocol (the communication-channel module, Xenax drives).
//
// It belongs to one module state and is used from the module thread only.
// That thread runs no event loop, so every socket call here is a blocking
// call with a time-out (connect) or a poll that does not wait (reading), and
// what arrives collects in a receive buffer from which the caller takes data
// by terminator or waits for an expected answer text. Texts cross as
// Latin-1, one byte per character.
//
// A simulated channel (setSimulated) never opens a socket: the owning module
// answers in place of the device.
//
// The receive buffer is bounded: a device that sends more than
// maxBufferBytes() that the owner does not take (a line protocol's data
// without its terminator) is disconnected, and overflowed() says so. The
// socket itself reads at most a chunk ahead.
#pragma once

#include <QByteArray>
#include <QString>

class QTcpSocket;

class ZorCommChannel
{
public:
    // What waitFor and writeAndWait report.
    enum WaitResult { NoSocket = -1, TimedOut = 0, OkSeen = 1, ErrorSeen = 2 };

    ZorCommChannel() = default;
    ~ZorCommChannel();
    ZorCommChannel(const ZorCommChannel &) = delete;
    ZorCommChannel &operator=(const ZorCommChannel &) = delete;

    // Connects to "host:port", waiting at most timeoutMs; an open socket is
    // closed first. False (and no socket) when the connection is not made.
    bool open(const QString &endpoint, int timeoutMs);
    // Closes and deletes the socket; false when there was none.
    bool close();
    bool isOpen() const { return m_socket != nullptr; }
    // True while the socket exists and is still connected to its peer.
    bool isConnected() const;

    // 0 when at least one byte went out and was flushed, -1 otherwise (no
    // socket, not connected, nothing written, or not sent within the flush
    // time-out).
    int write(const QByteArray &bytes);
    // Moves whatever the socket holds into the receive buffer without
    // waiting; true when bytes came.
    bool readAvailable();
    // The whole receive buffer (after readAvailable); its size, -1 without socket.
    int takeAll(QByteArray &out);
    // Takes the buffer up to and including the first terminator and returns
    // its length; 0 (and an empty out) when the terminator is not there. An
    // empty terminator takes the whole buffer. -1 without socket.
    int takeUntil(QString &out, const QString &terminator);
    // Empties the receive buffer (after readAvailable).
    int discardInput();
    // Waits until the buffer holds okText (OkSeen) or errorText (ErrorSeen),
    // at most timeoutMs (0: no limit), polling every 15 ms; the buffer is left
    // as it is. TimedOut also when the peer closed the connection and the
    // buffer holds neither. Both texts empty: TimedOut at once.
    int waitFor(const QString &okText, const QString &errorText, int timeoutMs);
    // Writes the text and waits as waitFor does; -1 for an empty text or a
    // failed write.
    int writeAndWait(const QString &text, const QString &okText, const QString &errorText,
                     int timeoutMs);

    void setSimulated(bool simulated) { m_simulated = simulated; }
    bool isSimulated() const { return m_simulated; }
    QString host() const { return m_host; }
    int port() const { return m_port; }
    QByteArray buffer() const { return m_buffer; }

    // The receive buffer's bound (default 1 MiB); past it the connection is
    // closed and overflowed() is true until the next open.
    int maxBufferBytes() const { return m_maxBufferBytes; }
    void setMaxBufferBytes(int bytes) { m_maxBufferBytes = qMax(1, bytes); }
    bool overflowed() const { return m_overflowed; }

    // Time allowed for written bytes to leave (ms).
    static constexpr int FlushTimeoutMs = 2000;

private:
    QTcpSocket *m_socket = nullptr;
    QString m_host;
    QByteArray m_buffer;
    int m_port = 0;
    int m_maxBufferBytes = 1 << 20;
    bool m_simulated = false;
    bool m_overflowed = false;
};
