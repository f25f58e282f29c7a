#include "zorcandrivertarnnet.h"
#include "zorhoptrace.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <cstring>

namespace {
const int initLineWait = 50;  // ms around each opening line
const int closeWait = 100;    // ms after the closing line
const int dataWait = 10;      // ms takeRx waits for data
// Bytes taken from the socket per takeRx at most: several banks' worth. What
// a full bank cannot take stays in the driver or in the socket (where TCP
// holds the gateway back) for the next takeRx; nothing is dropped.
const qint64 readChunk = 64 * 1024;
}

ZorCanDriverTarnNet::ZorCanDriverTarnNet()
{
    m_protocol.setAcceptEchoes(true);
    m_protocol.setFlowControl(true);
    m_protocol.setCommandErrorBit(StatusCommandError);
    m_protocol.setKeepWhenFull(true);
}

ZorCanDriverTarnNet::~ZorCanDriverTarnNet()
{
    // Closes a connected socket without the closing line.
    if (m_socket) {
        m_socket->abort();
        delete m_socket;
        m_socket = nullptr;
    }
}

bool ZorCanDriverTarnNet::open(const QString &portText, int bitRate, int debugLevel,
                               int reserved, int timestampMode)
{
    Q_UNUSED(debugLevel);
    Q_UNUSED(reserved);
    close();
    m_timestampMode = timestampMode;
    m_rxClock.start();
    m_protocol.reset();
    m_rxCount = m_txCount = 0;
    m_txStamp.reset();
    m_statusFlags = 0;
    m_pollTimer.start();
    m_errorText.clear();
    m_restored = false;

    const int code = ZorAsciiAdapterProtocol::bitRateCode(bitRate);
    if (code < 0) {
        // Refuse rather than run the bus at another rate than asked for.
        m_errorText = ZorAsciiAdapterProtocol::unsupportedBitRateText(bitRate);
        m_down = false;
        m_ok = m_opened = false;
        return false;
    }
    m_initCommands = ZorAsciiAdapterProtocol::closeCommand()
                     + ZorAsciiAdapterProtocol::bitRateCommand(code)
                     + ZorAsciiAdapterProtocol::timestampCommand(timestampMode != 0)
                     + ZorAsciiAdapterProtocol::openCommand();
    m_closeCommand = ZorAsciiAdapterProtocol::closeCommand();
    m_pollCommand = ZorAsciiAdapterProtocol::statusCommand();

    const int colon = portText.indexOf(QLatin1Char(':'));
    m_host = colon < 0 ? portText : portText.left(colon);
    bool isNumber = false;
    m_port = colon < 0 ? 0 : portText.mid(colon + 1).toInt(&isNumber);
    if (!isNumber)
        m_port = 0;

    const bool result = connectToGateway();
    m_down = false;
    m_ok = m_opened = result;
    return result;
}

void ZorCanDriverTarnNet::discardPending(int waitMs)
{
    if (m_socket->bytesAvailable() == 0)
        m_socket->waitForReadyRead(waitMs);
    m_socket->readAll();
}

bool ZorCanDriverTarnNet::connectToGateway()
{
    m_socket = new QTcpSocket;
    m_socket->connectToHost(m_host, quint16(m_port), QIODevice::ReadWrite);
    const bool connected = m_socket->waitForConnected(m_connectTimeout);
    bool allWent = connected;
    if (allWent) {
        // Frames are small writes that wait for an answer: never held back
        // for coalescing.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // One write per line, each with a short pause for the gateway's
        // answer, which is read and dropped.
        const QList<QByteArray> lines = m_initCommands.split(ZorAsciiAdapterProtocol::CR);
        for (const QByteArray &line : lines) {
            if (line.isEmpty())
                continue;
            discardPending(initLineWait);
            const QByteArray piece = line + ZorAsciiAdapterProtocol::CR;
            const qint64 written = m_socket->write(piece);
            m_socket->flush();
            discardPending(initLineWait);
            // A gateway that hangs up while it is being set up has not
            // taken the lines, whatever the writes said.
            if (written != piece.size() || m_socket->state() != QAbstractSocket::ConnectedState) {
                allWent = false;
                break;
            }
        }
    }
    if (!allWent) {
        // The socket's own reason: refused, timed out, host unreachable; a
        // connection that was made and then ended by the gateway says so.
        QString reason;
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            reason = QCoreApplication::translate("ZorCanDriverTarnNet",
                                                 "the opening lines could not be sent");
        else if (connected)
            reason = lostConnectionReason();
        else if (m_socket->error() == QAbstractSocket::UnknownSocketError)
            reason = QCoreApplication::translate("ZorCanDriverTarnNet", "no connection within %1 ms")
                         .arg(m_connectTimeout);
        else
            reason = m_socket->errorString();
        m_errorText = networkErrorText(reason);
        delete m_socket;
        m_socket = nullptr;
        m_connected = false;
        return false;
    }
    m_protocol.reset();
    m_connected = true;
    m_errorText.clear();
    return true;
}

// Why a connection that was made has ended: the gateway closed it, or the
// socket's own error.
QString ZorCanDriverTarnNet::lostConnectionReason() const
{
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError
        || m_socket->error() == QAbstractSocket::UnknownSocketError)
        return QCoreApplication::translate("ZorCanDriverTarnNet", "connection closed by the gateway");
    return m_socket->errorString();
}

QString ZorCanDriverTarnNet::networkErrorText(const QString &reason) const
{
    return QCoreApplication::translate("ZorCanDriverTarnNet", "Network error: %1 (%2:%3)")
        .arg(reason, m_host)
        .arg(m_port);
}

void ZorCanDriverTarnNet::disconnectFromGateway(bool skipCloseCommand)
{
    if (!m_connected)
        return;
    if (!skipCloseCommand) {
        m_socket->readAll();
        m_socket->write(m_closeCommand);
        m_socket->flush();
        m_socket->waitForReadyRead(closeWait);
    }
    m_socket->abort();
    delete m_socket;
    m_socket = nullptr;
    m_connected = false;
}

void ZorCanDriverTarnNet::close()
{
    if (!m_opened)
        return;
    m_opened = false;
    disconnectFromGateway(false);
    m_down = false;
    m_ok = true;
}

void ZorCanDriverTarnNet::waitForData()
{
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    if (!m_interrupted || !dispatcher) {
        m_socket->waitForReadyRead(dataWait);
        return;
    }
    // The thread's event dispatcher waits for the socket and for the
    // module's wake-up at once (the module interrupts it when work arrives),
    // so that a request to send is not held up by the wait for data.
    ZorHopTrace::note("can: waits for data");
    QDeadlineTimer deadline(dataWait);
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(dataWait);
    while (m_socket->bytesAvailable() == 0 && !m_interrupted() && !deadline.hasExpired()
           && m_socket->state() == QAbstractSocket::ConnectedState)
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    ZorHopTrace::note("can: wait over");
}

bool ZorCanDriverTarnNet::takeRx(int &count)
{
    count = 0;
    if (m_down) {
        m_statusFlags |= StatusConnectionLost;
        if (m_reconnectTimer.elapsed() <= m_reconnectInterval)
            return false;
        const bool back = connectToGateway();
        m_reconnectTimer.start();
        if (back) {
            m_down = false;
            m_ok = true;
            m_restored = true;
        }
        return back;
    }
    if (!m_connected)
        return false;
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        m_statusFlags |= StatusConnectionLost;
        m_errorText = networkErrorText(lostConnectionReason());
        disconnectFromGateway(true);
        m_reconnectTimer.start();
        m_down = true;
        m_ok = false;
        return false;
    }

    // Pushes out what an earlier flush left in the socket's buffer.
    if (m_socket->bytesToWrite() > 0)
        m_socket->flush();
    // Lines left over from a full bank come first; wait for data only when
    // there are none.
    if (!m_protocol.hasCompleteLine() && m_socket->bytesAvailable() == 0)
        waitForData();
    m_rxCount = 0;
    QByteArray bytes;
    const qint64 room = readChunk - m_protocol.pendingText().size();
    if (room > 0)
        bytes = m_socket->read(room);
    m_protocol.feed(bytes, m_rxBank, Capacity, m_rxCount, m_statusFlags);
    stampAtReception();
    if (m_rxCount > 0)
        m_txStamp.follow(m_rxBank[m_rxCount - 1].Timestamp);
    count = m_rxCount;

    if (m_pollTimer.elapsed() > m_pollInterval && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_pollTimer.start();
        m_socket->write(m_pollCommand);
        m_socket->flush();
    }
    return notFailed();
}

void ZorCanDriverTarnNet::stampAtReception()
{
    // A frame line without its four stamp digits gets the time it was read;
    // its flags still tell that the gateway sent no stamp.
    const quint16 now = quint16(m_rxClock.elapsed() % 65536);
    for (int i = 0; i < m_rxCount; ++i) {
        VSCAN_MSG &frame = m_rxBank[i];
        if (!(frame.Flags & VSCAN_FLAGS_TIMESTAMP))
            frame.Timestamp = now;
    }
}

bool ZorCanDriverTarnNet::rxFrame(int index, QByteArray &record)
{
    if (index < 0 || index >= Capacity)
        return false;
    return ZorBabelFish::fromVscanToQbytearray(m_rxBank[index], record);
}

bool ZorCanDriverTarnNet::queueTx(QByteArray &record)
{
    if (!m_connected)
        return false;
    if (m_txCount >= Capacity && !flushTx(false))
        return false;
    if (!ZorBabelFish::fromQbytearrayToVscan(record, m_txStaging[m_txCount]))
        return false;
    ++m_txCount;
    m_txStamp.stampRecord(record);
    return notFailed();
}

bool ZorCanDriverTarnNet::flushTx(bool fromModule)
{
    Q_UNUSED(fromModule);
    if (!m_connected || m_txCount == 0)
        return false;
    QByteArray text;
    text.reserve(m_txCount * 32);
    for (int i = 0; i < m_txCount; ++i)
        ZorAsciiAdapterProtocol::appendFrameCommand(text, m_txStaging[i]);
    m_txCount = 0;
    const qint64 written = m_socket->write(text);
    m_socket->flush();
    return written == text.size();
}

bool ZorCanDriverTarnNet::statusText(QString &text, int &statusBits)
{
    Q_UNUSED(statusBits);
    text.clear();
    m_statusFlags = 0;
    // A lost connection says why, for as long as it lasts, and its return
    // is told once.
    if (m_down) {
        const QString every = m_reconnectInterval % 1000 == 0
                                  ? QStringLiteral("%1 s").arg(m_reconnectInterval / 1000)
                                  : QStringLiteral("%1 ms").arg(m_reconnectInterval);
        text = QCoreApplication::translate("ZorCanDriverTarnNet",
                                           "Connection lost, trying again every %1: %2")
                   .arg(every, m_errorText);
    } else if (m_restored) {
        m_restored = false;
        text = QCoreApplication::translate("ZorCanDriverTarnNet", "Connection restored (%1:%2)")
                   .arg(m_host)
                   .arg(m_port);
    }
    return notFailed();
}

QString ZorCanDriverTarnNet::lastErrorText()
{
    if (m_ok)
        return QString();
    if (!m_errorText.isEmpty())
        return m_errorText;
    return QCoreApplication::translate("ZorCanDriverTarnNet", "Network error");
}
