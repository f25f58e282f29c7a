#include "zorcommchannel.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace {

const int PollWaitMs = 15;
// Polls per readAvailable: a device that streams without pause must not
// keep the module thread in here.
const int MaxPollsPerRead = 64;
// What the socket reads ahead of the receive buffer.
const int ReadChunkBytes = 64 << 10;

} // namespace

ZorCommChannel::~ZorCommChannel()
{
    close();
}

bool ZorCommChannel::open(const QString &endpoint, int timeoutMs)
{
    close();
    const int colon = endpoint.indexOf(QLatin1Char(':'));
    m_host = (colon < 0 ? endpoint : endpoint.left(colon)).trimmed();
    m_port = colon < 0 ? 0 : endpoint.mid(colon + 1).trimmed().toInt();
    m_buffer.clear();
    m_overflowed = false;

    m_socket = new QTcpSocket;
    m_socket->setReadBufferSize(ReadChunkBytes);
    m_socket->connectToHost(m_host, quint16(m_port), QIODevice::ReadWrite);
    if (m_socket->waitForConnected(timeoutMs))
        return true;
    close();
    return false;
}

bool ZorCommChannel::close()
{
    if (!m_socket)
        return false;
    m_socket->abort();
    delete m_socket;
    m_socket = nullptr;
    return true;
}

bool ZorCommChannel::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

int ZorCommChannel::write(const QByteArray &bytes)
{
    if (!isConnected())
        return -1;
    if (m_socket->write(bytes) <= 0)
        return -1;
    m_socket->flush();
    // Without an event loop the rest leaves only while we wait for it.
    QElapsedTimer clock;
    clock.start();
    while (m_socket->bytesToWrite() > 0) {
        const qint64 left = FlushTimeoutMs - clock.elapsed();
        if (left <= 0 || !m_socket->waitForBytesWritten(int(left)))
            break;
    }
    // A connection reset while writing drops the rest: that is no success.
    return m_socket->bytesToWrite() == 0 && isConnected() ? 0 : -1;
}

bool ZorCommChannel::readAvailable()
{
    if (!m_socket)
        return false;
    bool arrived = false;
    for (int i = 0; i < MaxPollsPerRead; ++i) {
        m_socket->waitForReadyRead(0);
        const qint64 available = m_socket->bytesAvailable();
        if (available <= 0)
            break;
        const qint64 room = m_maxBufferBytes - m_buffer.size();
        if (room <= 0) {
            // Full since the last read, and the owner took nothing of it: a
            // device that sends without end what is never taken is cut off
            // before it fills the memory.
            if (!arrived) {
                m_overflowed = true;
                m_socket->abort();
            }
            break;
        }
        m_buffer += m_socket->read(qMin(available, room));
        arrived = true;
    }
    return arrived;
}

int ZorCommChannel::takeAll(QByteArray &out)
{
    if (!m_socket)
        return -1;
    readAvailable();
    out = m_buffer;
    m_buffer.clear();
    return out.size();
}

int ZorCommChannel::takeUntil(QString &out, const QString &terminator)
{
    if (!m_socket)
        return -1;
    readAvailable();
    int count = m_buffer.size();
    if (!terminator.isEmpty()) {
        const QByteArray term = terminator.toLatin1();
        const int at = m_buffer.indexOf(term);
        count = at < 0 ? 0 : at + term.size();
    }
    if (count == 0) {
        out.clear();
        return 0;
    }
    out = QString::fromLatin1(m_buffer.constData(), count);
    m_buffer.remove(0, count);
    return count;
}

int ZorCommChannel::discardInput()
{
    readAvailable();
    m_buffer.clear();
    return 0;
}

int ZorCommChannel::waitFor(const QString &okText, const QString &errorText, int timeoutMs)
{
    if (!m_socket)
        return NoSocket;
    if (okText.isEmpty() && errorText.isEmpty())
        return TimedOut;
    const QByteArray ok = okText.toLatin1();
    const QByteArray error = errorText.toLatin1();
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        readAvailable();
        if (!ok.isEmpty() && m_buffer.contains(ok))
            return OkSeen;
        if (!error.isEmpty() && m_buffer.contains(error))
            return ErrorSeen;
        if (timeoutMs > 0 && clock.elapsed() > timeoutMs)
            return TimedOut;
        // A closed connection brings nothing more.
        if (!isConnected() && m_socket->bytesAvailable() <= 0)
            return TimedOut;
        m_socket->waitForReadyRead(PollWaitMs);
    }
}

int ZorCommChannel::writeAndWait(const QString &text, const QString &okText,
                                 const QString &errorText, int timeoutMs)
{
    if (text.isEmpty() || write(text.toLatin1()) != 0)
        return -1;
    return waitFor(okText, errorText, timeoutMs);
}
