#include "zorsimbusclient.h"

#include <QElapsedTimer>
#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <chrono>

namespace {

const char CR = '\r';
const char BEL = 0x07;

std::chrono::steady_clock::time_point deadlineAfter(int timeoutMs)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}

} // namespace

struct ZorSimBusClient::Clock
{
    QElapsedTimer timer;
};

bool ZorSimBusClient::gatewayAddress(QString *host, quint16 *port)
{
    const QByteArray value = qgetenv(gatewayVariable()).trimmed();
    const int colon = value.lastIndexOf(':');
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint p = value.mid(colon + 1).toUInt(&ok);
    if (!ok || p == 0 || p > 65535)
        return false;
    const QString h = QString::fromLatin1(value.left(colon));
    if (QHostAddress(h).isNull())
        return false;
    if (host)
        *host = h;
    if (port)
        *port = quint16(p);
    return true;
}

int ZorSimBusClient::bitRateCode(int bitRate)
{
    static const int rates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000};
    for (int code = 0; code < 9; ++code) {
        if (rates[code] == bitRate)
            return code;
    }
    return -1;
}

ZorSimBusClient::ZorSimBusClient() : m_clock(new Clock)
{
    m_clock->timer.start();
}

ZorSimBusClient::~ZorSimBusClient()
{
    disconnectFromGateway();
}

qint64 ZorSimBusClient::elapsedMicroseconds() const
{
    return m_clock->timer.nsecsElapsed() / 1000;
}

void ZorSimBusClient::setArrivalNotifier(std::function<void()> notify)
{
    std::lock_guard<std::mutex> guard(m_notifyLock);
    m_notify = std::move(notify);
}

bool ZorSimBusClient::connectToGateway(int timeoutMs)
{
    if (m_connected.load())
        return true;
    QString host;
    quint16 port = 0;
    if (!gatewayAddress(&host, &port))
        return false;
    disconnectFromGateway(); // a thread left from a lost connection
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_threadUp = false;
        m_outbox.clear();
        m_received.clear();
        m_unconfirmed = 0;
        m_commandsSent = m_answersSeen = 0;
    }
    m_refused = 0;
    m_dropped = 0;
    m_thread = std::thread(&ZorSimBusClient::ioThread, this, host.toStdString(), port);
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool done = m_changed.wait_until(lock, deadlineAfter(timeoutMs),
                                           [this] { return m_threadUp; });
    const bool up = done && m_connected.load();
    lock.unlock();
    if (!up)
        disconnectFromGateway();
    return up;
}

void ZorSimBusClient::disconnectFromGateway()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopRequested = true;
        if (m_dispatcher)
            m_dispatcher->wakeUp();
    }
    m_thread.join();
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopRequested = false;
    }
    markDisconnected();
}

// The I/O thread: owns the socket and runs its event loop until the
// connection ends (dropped by the gateway or ended by disconnectFromGateway).
//
// Other threads never post events to it: they fill m_outbox (or set
// m_stopRequested) under m_mutex and wake its event dispatcher, which is
// thread-safe and allocates nothing. Before the loop blocks again the
// dispatcher emits aboutToBlock (and awake after a wait), where the thread
// looks at both. So the hand-over is all under m_mutex, and nothing crosses
// threads inside Qt's event queue.
void ZorSimBusClient::ioThread(std::string host, quint16 port)
{
    QEventLoop loop;
    QTcpSocket socket;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    auto serviceRequests = [this, &socket, &loop] {
        QByteArray bytes;
        bool stop;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            bytes.swap(m_outbox);
            stop = m_stopRequested;
        }
        if (stop) {
            socket.abort();
            loop.quit();
            return;
        }
        if (!bytes.isEmpty() && socket.state() == QAbstractSocket::ConnectedState)
            socket.write(bytes);
    };
    if (dispatcher) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, serviceRequests);
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, &loop, serviceRequests);
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_dispatcher = dispatcher;
    }
    QObject::connect(&socket, &QTcpSocket::connected, [this, &socket] {
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_connected = true;
            m_threadUp = true;
        }
        m_changed.notify_all();
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, [this, &socket] { handleIncoming(&socket); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    socket.connectToHost(QString::fromStdString(host), port);
    if (dispatcher)
        loop.exec();
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_dispatcher = nullptr;
        m_threadUp = true;
    }
    markDisconnected();
    socket.abort();
}

void ZorSimBusClient::markDisconnected()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_connected = false;
        m_open = false;
        ++m_wakeCount;
    }
    m_changed.notify_all();
}

// Queues bytes for the gateway; the I/O thread writes everything queued in
// one go when its dispatcher wakes.
void ZorSimBusClient::post(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_dispatcher || !m_connected.load())
        return;
    const bool wasEmpty = m_outbox.isEmpty();
    // A copy, never a shared block: Qt's reference counts of blocks shared
    // between threads are synchronised inside QtCore, where ThreadSanitizer
    // cannot see it.
    m_outbox.append(bytes.constData(), bytes.size());
    if (wasEmpty)
        m_dispatcher->wakeUp();
}

void ZorSimBusClient::handleIncoming(QTcpSocket *socket)
{
    m_inText.append(socket->readAll());
    int start = 0;
    bool arrived = false;
    for (int i = 0; i < m_inText.size(); ++i) {
        const char c = m_inText.at(i);
        if (c != CR && c != BEL)
            continue;
        const QByteArray line = m_inText.mid(start, i - start);
        start = i + 1;
        if (c == BEL) {
            // A refused command, or a refused frame when no command waits.
            handleAnswer(false, QByteArray());
            continue;
        }
        const int before = pendingFrames();
        handleLine(line);
        arrived = arrived || pendingFrames() != before;
    }
    m_inText.remove(0, start);
    if (m_inText.size() > 4096) // no end of line in sight: garbage
        m_inText.clear();
    if (arrived) {
        std::lock_guard<std::mutex> guard(m_notifyLock);
        if (m_notify)
            m_notify();
    }
}

void ZorSimBusClient::handleLine(const QByteArray &line)
{
    QByteArray text = line;
    text.replace('\n', QByteArray());
    if (text.isEmpty()) {
        handleAnswer(true, QByteArray());
        return;
    }
    const char c = text.at(0);
    if (c == 'F' || c == 'V' || c == 'N') {
        handleAnswer(true, text);
        return;
    }
    const bool echo = c == 'e';
    if (echo)
        text.remove(0, 1);
    ZorSimBusFrame frame;
    if (!ZorSimBusFrame::fromLine(text, &frame))
        return; // "z"/"Z" acknowledgements and anything unknown
    frame.echo = echo;
    frame.stampUs = elapsedMicroseconds();
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (echo && m_unconfirmed > 0)
            --m_unconfirmed;
        if (echo && !m_echoes.load())
            return;
        if (int(m_received.size()) >= m_receiveLimit.load()) {
            ++m_dropped;
            return;
        }
        m_received.push_back(frame);
    }
    m_changed.notify_all();
}

void ZorSimBusClient::handleAnswer(bool ok, const QByteArray &reply)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_answersSeen >= m_commandsSent) {
            if (!ok)
                ++m_refused; // a frame the gateway did not take
            if (!ok && m_unconfirmed > 0)
                --m_unconfirmed;
            return;
        }
        ++m_answersSeen;
        m_lastAnswerOk = ok;
        m_lastReply = QByteArray(reply.constData(), reply.size()); // not shared (see post)
    }
    m_changed.notify_all();
}

bool ZorSimBusClient::command(const QByteArray &text, int timeoutMs, QByteArray *reply)
{
    std::lock_guard<std::mutex> one(m_commandLock);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_dispatcher || !m_connected.load())
        return false;
    const quint64 ticket = ++m_commandsSent;
    lock.unlock();
    post(text);
    lock.lock();
    const bool answered = m_changed.wait_until(lock, deadlineAfter(timeoutMs), [&] {
        return m_answersSeen >= ticket || !m_connected.load();
    });
    if (!answered || m_answersSeen < ticket) {
        // Keep later answers in step: this one no longer counts.
        if (m_commandsSent == ticket && m_answersSeen < ticket)
            --m_commandsSent;
        return false;
    }
    if (reply)
        *reply = QByteArray(m_lastReply.constData(), m_lastReply.size());
    return m_lastAnswerOk;
}

bool ZorSimBusClient::open(int bitRate, int timeoutMs)
{
    const int code = bitRateCode(bitRate);
    if (code < 0 || !m_connected.load())
        return false;
    m_open = false;
    if (!command(QByteArrayLiteral("C\r"), timeoutMs))
        return false;
    if (!command(QByteArray("S") + char('0' + code) + CR, timeoutMs))
        return false;
    if (!command(QByteArrayLiteral("O\r"), timeoutMs))
        return false;
    m_bitRate = bitRate;
    m_open = true;
    return true;
}

bool ZorSimBusClient::close(int timeoutMs)
{
    m_open = false;
    return command(QByteArrayLiteral("C\r"), timeoutMs);
}

int ZorSimBusClient::readStatusFlags(int timeoutMs)
{
    QByteArray reply;
    if (!command(QByteArrayLiteral("F\r"), timeoutMs, &reply) || reply.size() < 3 || reply.at(0) != 'F')
        return -1;
    bool ok = false;
    const int flags = reply.mid(1, 2).toInt(&ok, 16);
    return ok ? flags : -1;
}

bool ZorSimBusClient::send(const ZorSimBusFrame &frame)
{
    if (!m_open.load() || !frame.isValid())
        return false;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_dispatcher || !m_connected.load())
            return false;
        ++m_unconfirmed;
    }
    post(frame.toLine() + CR);
    return true;
}

int ZorSimBusClient::pendingTransmits() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_unconfirmed;
}

int ZorSimBusClient::receive(ZorSimBusFrame *frame, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 wakes = m_wakeCount;
    auto ready = [&] { return !m_received.empty() || m_wakeCount != wakes || !m_connected.load(); };
    if (timeoutMs > 0 && !ready())
        m_changed.wait_until(lock, deadlineAfter(timeoutMs), ready);
    if (!m_received.empty()) {
        *frame = m_received.front();
        m_received.pop_front();
        return 1;
    }
    return m_connected.load() ? 0 : -1;
}

int ZorSimBusClient::pendingFrames() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return int(m_received.size());
}

void ZorSimBusClient::clearReceived()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_received.clear();
}

void ZorSimBusClient::wake()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_wakeCount;
    }
    m_changed.notify_all();
}
