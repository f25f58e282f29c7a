#include "zorcandriverhidbase.h"

#include <QWaitCondition>
#include <cstring>

namespace {

// Reads of the drain before a command, and of the wait for a "V" reply.
const int maxInitReads = 100;
const quint8 reportMarker = 0x01;
const quint8 padding = 0x20;

QString hexBytes(const quint8 *bytes, int count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), count).toHex(' '));
}

} // namespace

ZorCanDriverHidBase::ZorCanDriverHidBase(QWaitCondition *rxWake, ZorHidApi *hid, const Kind &kind)
    : m_hid(hid ? hid : ZorHidApi::system()), m_kind(kind), m_rxWake(rxWake)
{
    // BEL, XON and XOFF are turned into CR by the receive thread; the
    // parser sees plain lines with echoes.
    m_protocol.setAcceptEchoes(true);
    m_protocol.setOverflowBit(StatusRxBankFull);
}

ZorCanDriverHidBase::~ZorCanDriverHidBase()
{
    // The derived destructor has closed; a device left open (a failed close)
    // is closed without the close command.
    comCloseDevice(true);
}

bool ZorCanDriverHidBase::openChannel(int bitRate, int debugLevel, const QByteArray &initCommands)
{
    close();
    resetChannel();
    m_debugLevel = debugLevel;
    m_errorText.clear();
    m_closeCommand = ZorAsciiAdapterProtocol::closeCommand();
    bool result = false;
    if (bitRateCode(bitRate) < 0) {
        // Refused rather than run the bus at another rate than asked for.
        m_errorText = ZorAsciiAdapterProtocol::unsupportedBitRateText(bitRate);
    } else {
        m_initCommands = initCommands;
        result = comInitDevice();
    }
    m_openTime.start();
    m_deviceLost = false;
    m_ok = result;
    m_opened = result;
    return result;
}

void ZorCanDriverHidBase::closeChannel()
{
    if (!m_opened)
        return;
    m_opened = false;
    comCloseDevice(false);
    m_deviceLost = false;
    m_ok = true;
}

void ZorCanDriverHidBase::resetChannel()
{
    {
        std::lock_guard<std::mutex> locker(m_rxMutex);
        m_rxText.clear();
    }
    m_protocol.reset();
    m_xonOn = true;
    m_rxCount = m_txCount = 0;
    m_statusFlags = 0;
}

bool ZorCanDriverHidBase::comInitDevice()
{
    trace(QStringLiteral("comInitDevice()"));
    m_firmwareVersion.clear();
    m_hidDevice = nullptr;
    for (quint16 productId : m_kind.productIds) {
        m_hidDevice = m_hid->open(VendorId, productId);
        if (m_hidDevice)
            break;
    }
    if (!m_hidDevice) {
        m_deviceOpen = false;
        return false;
    }
    m_hid->setNonblocking(m_hidDevice, 1);

    bool result = true;
    QByteArray text;
    const QList<QByteArray> commands = m_initCommands.split(ZorAsciiAdapterProtocol::CR);
    for (const QByteArray &command : commands) {
        if (command.isEmpty())
            continue;
        if (!result)
            break;
        if (m_kind.drainBeforeCommand) {
            for (int i = 0; i < maxInitReads && comRead(text, m_timing.initReadMs); ++i) {
            }
        } else {
            comRead(text, m_timing.initReadMs);
        }
        result = comWrite(command + ZorAsciiAdapterProtocol::CR);
        if (command == "V") {
            for (int i = 0; i < maxInitReads; ++i) {
                if (!comRead(text, m_timing.initReadMs))
                    break;
                if (text.startsWith('V')) {
                    QString version = QString::fromLatin1(text.mid(1));
                    if (version.endsWith(QLatin1Char('\r')))
                        version.chop(1);
                    if (m_firmwareVersion.isEmpty())
                        m_firmwareVersion = versionFromReply(version);
                    break;
                }
            }
        } else {
            comRead(text, m_timing.initReadMs);
        }
        QThread::msleep(ulong(m_timing.initPauseMs));
    }
    if (!result) {
        m_deviceOpen = true;
        comCloseDevice(true);
        return false;
    }
    if (isRunning()) {
        trace(QStringLiteral("could not start worker thread. Already running."));
        result = false;
    } else {
        m_stopRequested = false;
        m_threadDone = false;
        trace(QStringLiteral("starting worker thread"));
        start(QThread::TimeCriticalPriority);
    }
    m_deviceOpen = result;
    return result;
}

void ZorCanDriverHidBase::comCloseDevice(bool afterFailure)
{
    if (!m_deviceOpen)
        return;
    m_deviceOpen = false;
    trace(QStringLiteral("comCloseDevice()"));
    if (!afterFailure) {
        QByteArray text;
        comRead(text, 20);
        comWrite(m_closeCommand);
        comRead(text, 50);
    }
    if (isRunning()) {
        m_stopRequested = true;
        {
            // The thread sees the request after its current read.
            std::lock_guard<std::mutex> locker(m_hidMutex);
        }
        joinReceiveThread(*this, ulong(m_timing.stopWaitMs), m_threadDone);
        trace(QStringLiteral("worker thread terminated"));
    }
    if (m_hidDevice)
        m_hid->close(m_hidDevice);
    m_hidDevice = nullptr;
}

bool ZorCanDriverHidBase::comWrite(const QByteArray &text)
{
    trace(QStringLiteral("TX: ") + QString::fromLatin1(text));
    if (!m_hidDevice)
        return false;
    quint8 report[ReportSize];
    for (int at = 0; at < text.size(); at += ReportTextSize) {
        const int n = qMin(ReportTextSize, text.size() - at);
        std::memset(report, padding, sizeof report);
        report[0] = 0;
        report[1] = reportMarker;
        report[2] = quint8(n);
        std::memcpy(report + 3, text.constData() + at, size_t(n));
        if (m_hid->write(m_hidDevice, report, sizeof report) != ReportSize)
            return false;
    }
    return true;
}

bool ZorCanDriverHidBase::comRead(QByteArray &text, int timeoutMs)
{
    text.clear();
    if (!m_hidDevice)
        return false;
    quint8 buffer[ReportSize];
    const int got = m_hid->readTimeout(m_hidDevice, buffer, sizeof buffer, timeoutMs);
    if (got < 0) {
        m_deviceLost = true;
        m_ok = false;
        return false;
    }
    if (got >= 1)
        trace(QStringLiteral("hid raw frame: ") + hexBytes(buffer, got));
    if (got >= 1 && got <= 3) {
        trace(QStringLiteral("HID ERROR: no brenko CAN payload"));
    } else if (got >= 4) {
        // A 65-byte read still carries the report id in front.
        const quint8 *report = got == ReportSize ? buffer + 1 : buffer;
        const int size = got == ReportSize ? ReportSize - 1 : got;
        const int n = report[1];
        if (n > size - 2) {
            m_statusFlags |= StatusPacketError;
            trace(QStringLiteral("HID ERROR: wrong packet size"));
        } else {
            for (int i = 0; i < n; ++i) {
                const quint8 c = report[2 + i];
                if (!m_kind.asciiOnly || (c >= 1 && c <= 127))
                    text.append(char(c));
            }
        }
    }
    if (!text.isEmpty())
        trace(QStringLiteral("RX: ") + QString::fromLatin1(text));
    return !text.isEmpty();
}

void ZorCanDriverHidBase::run()
{
    QByteArray text;
    while (!m_stopRequested) {
        bool lost;
        {
            std::lock_guard<std::mutex> locker(m_hidMutex);
            if (m_stopRequested)
                break;
            comRead(text, m_timing.receiveReadMs);
            lost = m_deviceLost;
        }
        if (text.isEmpty()) {
            // A gone device fails every read at once: do not spin on it.
            if (lost)
                QThread::msleep(ulong(m_timing.receiveReadMs));
            continue;
        }
        if (text.contains(ZorAsciiAdapterProtocol::BEL)) {
            m_statusFlags |= StatusCommandError;
            text.replace(ZorAsciiAdapterProtocol::BEL, ZorAsciiAdapterProtocol::CR);
        }
        const int xoff = text.lastIndexOf(ZorAsciiAdapterProtocol::XOFF);
        const int xon = text.lastIndexOf(ZorAsciiAdapterProtocol::XON);
        if (xoff >= 0 || xon >= 0) {
            m_xonOn = xon > xoff;
            trace(xon > xoff ? QStringLiteral("XON") : QStringLiteral("XOFF"));
            text.replace(ZorAsciiAdapterProtocol::XOFF, ZorAsciiAdapterProtocol::CR);
            text.replace(ZorAsciiAdapterProtocol::XON, ZorAsciiAdapterProtocol::CR);
        }
        std::lock_guard<std::mutex> locker(m_rxMutex);
        m_rxText.append(text);
        if (m_rxWake)
            m_rxWake->wakeAll();
    }
    m_threadDone.store(true, std::memory_order_release);
}

bool ZorCanDriverHidBase::takeRx(int &count)
{
    count = 0;
    if (m_deviceLost) {
        m_statusFlags |= StatusUsbError;
        if (m_reconnectTimer.isValid() && m_reconnectTimer.elapsed() <= m_timing.reconnectMs)
            return false;
        comCloseDevice(true);
        const bool result = comInitDevice();
        m_reconnectTimer.start();
        if (result) {
            m_ok = true;
            m_deviceLost = false;
        }
        return result;
    }
    if (!m_deviceOpen)
        return false;

    m_rxCount = 0;
    QByteArray text;
    {
        std::lock_guard<std::mutex> locker(m_rxMutex);
        text.swap(m_rxText);
    }
    if (!text.isEmpty() || m_protocol.hasCompleteLine()) {
        // Empty lines (a bare CR, or a flow-control character turned into
        // CR) are skipped: the frames after them in the same text count.
        quint32 flags = 0;
        m_protocol.feed(text, m_rxBank, Capacity, m_rxCount, flags);
        m_statusFlags |= flags;
        const quint16 sinceOpen = quint16(m_openTime.isValid() ? m_openTime.elapsed() : 0);
        for (int i = 0; i < m_rxCount; ++i) {
            VSCAN_MSG &frame = m_rxBank[i];
            if (!(frame.Flags & VSCAN_FLAGS_TIMESTAMP))
                frame.Timestamp = m_kind.stampFromOpenTime ? sinceOpen : 0;
        }
    }
    afterReceive();
    count = m_rxCount;
    return notFailed();
}

bool ZorCanDriverHidBase::rxFrame(int index, QByteArray &record)
{
    if (index < 0 || index >= Capacity)
        return false;
    return ZorBabelFish::fromVscanToQbytearray(m_rxBank[index], record);
}

bool ZorCanDriverHidBase::transmitStamp(quint16 &stamp)
{
    stamp = quint16(m_openTime.isValid() ? m_openTime.elapsed() : 0);
    return true;
}

bool ZorCanDriverHidBase::queueTx(QByteArray &record)
{
    if (!m_deviceOpen)
        return false;
    if (m_txCount >= Capacity && !flushTx(false)) {
        m_statusFlags |= StatusTxOverflow;
        return false;
    }
    if (!ZorBabelFish::fromQbytearrayToVscan(record, m_txStaging[m_txCount]))
        return false;
    ++m_txCount;
    quint16 stamp = 0;
    if (transmitStamp(stamp))
        ZorBabelFish::setQbytearrayTimestamp(record, stamp);
    return notFailed();
}

bool ZorCanDriverHidBase::flushTx(bool fromModule)
{
    Q_UNUSED(fromModule);
    if (!m_deviceOpen || !m_xonOn || m_deviceLost || m_txCount == 0)
        return false;
    QByteArray text;
    text.reserve(m_txCount * 30);
    for (int i = 0; i < m_txCount; ++i)
        ZorAsciiAdapterProtocol::appendFrameCommand(text, m_txStaging[i]);
    m_txCount = 0;
    return comWrite(text);
}

bool ZorCanDriverHidBase::statusText(QString &text, int &statusBits)
{
    static const StatusBitText table[] = {
        {StatusUsbError, 0, "USB Error"},
        {StatusCommandError, 0, "BEL received (Command error)"},
        {StatusTxOverflow, 0, "PC TX buffer overflow"},
        {StatusPacketError, 0, "HID RX packet error"},
        {0x10, 0, "transmitter or receiver in error state"},
        {0x20, 0, "receiver in error state"},
        {0x40, 0, "transmitter in error state"},
        {0x80, 0, "receiver in error state bus passive"},
        {0x04, 2, "CAN Timer overflow"},
        {0x08, 3, "mode change"},
        {0x02, 3, "rx buffer interrupt"},
        {0x01, 3, "rx buffer interrupt"},
    };
    const quint32 flags = m_statusFlags.exchange(0);
    text = statusBitsText(flags, m_debugLevel, table);
    if (flags & (StatusUsbError | StatusCommandError | StatusTxOverflow | StatusPacketError | 0xF0))
        statusBits |= TrafficErrorSeen;
    if (!text.isEmpty())
        text = QStringLiteral("HID CAN status: %1").arg(text);
    return notFailed();
}
