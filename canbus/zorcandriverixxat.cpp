#include "zorcandriverixxat.h"

#include "vcilibrary.h"
#include "zorbabelfish.h"

#include <QCoreApplication>
#include <QWaitCondition>
#include <cstring>

namespace {

const quint32 vciTimeout = 0xE001000Bu;
const quint32 vciRxQueueEmpty = 0xE0010012u;
const quint32 vciNotImplemented = 0xE0010002u;
const quint32 vciNotInitialized = 0xE0010010u;
const quint32 vciNoMoreItems = 0xE001000Fu;
const quint32 vciVersionNotSupported = 0xE001001Au;

const quint32 waitEventMs = 20;
const quint32 sendTimeoutMs = 100;
const unsigned long stopWaitMs = 5000;
const quint8 controllerMode = VCI_OPMODE_STANDARD | VCI_OPMODE_EXTENDED;

QString translated(const char *text)
{
    return QCoreApplication::translate("ZorCanDriverIxxat", text);
}

} // namespace

ZorCanDriverIxxat::ZorCanDriverIxxat(QWaitCondition *rxWake)
    : m_rxWake(rxWake)
{
}

ZorCanDriverIxxat::~ZorCanDriverIxxat()
{
    close();
    stopThread();
}

bool ZorCanDriverIxxat::bitRateRegisters(int bitRate, quint8 &btr0, quint8 &btr1)
{
    static const struct { int rate; quint8 btr0, btr1; } table[] = {
        {10000, 0x31, 0x1C},  {20000, 0x18, 0x1C},  {50000, 0x09, 0x1C},
        {100000, 0x04, 0x1C}, {125000, 0x03, 0x1C}, {250000, 0x01, 0x1C},
        {500000, 0x00, 0x1C}, {800000, 0x00, 0x16}, {1000000, 0x00, 0x14},
    };
    for (const auto &entry : table) {
        if (entry.rate == bitRate) {
            btr0 = entry.btr0;
            btr1 = entry.btr1;
            return true;
        }
    }
    btr0 = btr1 = 0;
    return false;
}

QString ZorCanDriverIxxat::vciErrorText(quint32 code)
{
    static const char *const texts[] = {
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Unexpected failure."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Not implemented."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Not enough storage is available to complete this operation."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "One or more parameters are invalid."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "The object does not support the requested interface."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Invalid pointer."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Invalid handle."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Operation aborted."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Unspecified error."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Access is denied."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "This operation returned because the timeout period expired."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "The requested resource is in use."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "The data necessary to complete this operation is not yet available."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "No more data available."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "No more entries are available from an enumeration operation."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "The component is not initialized."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "An attempt was made to reinitialize an already initialized component."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Receive queue empty."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Transmit queue full."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "The data was too large to fit into the specified buffer."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "The component is not in a valid state to perform this request."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "The object already exists."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Invalid index."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat",
                          "The end-of-file marker has been reached. There is no valid data in the file beyond this marker."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat", "Attempt to send a message to a disconnected communication port."),
        QT_TRANSLATE_NOOP("ZorCanDriverIxxat",
                          "Invalid flash firmware version or version not supported. Check driver version and/or update firmware."),
    };
    const quint32 first = 0xE0010001u;
    if (code >= first && code < first + sizeof texts / sizeof texts[0])
        return translated(texts[code - first]);
    return translated("Unknown error.");
}

bool ZorCanDriverIxxat::setVciError(quint32 code)
{
    m_lastErrorCode = code;
    if (code == 0) {
        m_lastError.clear();
        return true;
    }
    if (!m_vciLibrary)
        return false;
    char text[256] = {};
    if (m_vciLibrary->vciFormatError(code, text) == vciNotImplemented) {
        m_lastError = translated("Ixxat error");
    } else {
        text[sizeof text - 1] = 0;
        const QString libraryText = QString::fromLocal8Bit(text);
        m_lastError = translated("Ixxat error: %1").arg(libraryText.isEmpty() ? vciErrorText(code) : libraryText);
    }
    return false;
}

void ZorCanDriverIxxat::closeVciHandles()
{
    if (!m_vciLibrary)
        return;
    if (m_vciChannel) {
        m_vciLibrary->canChannelClose(m_vciChannel);
        m_vciChannel = nullptr;
    }
    if (m_vciControl) {
        m_vciLibrary->canControlReset(m_vciControl);
        m_vciLibrary->canControlClose(m_vciControl);
        m_vciControl = nullptr;
    }
    if (m_vciDevice) {
        m_vciLibrary->vciDeviceClose(m_vciDevice);
        m_vciDevice = nullptr;
    }
}

bool ZorCanDriverIxxat::open(const QString &portText, int bitRate, int debugLevel, int reserved,
                             int timestampMode)
{
    Q_UNUSED(debugLevel);
    Q_UNUSED(reserved);
    Q_UNUSED(timestampMode);
    m_opening = true;
    m_ok = false;
    m_deviceOpen = false;
    m_txCount = 0;
    m_txStamp.reset();
    m_statusFlags = 0;

    bool result = [&] {
        m_vciLibrary.reset(new VciLibrary(m_libraryFile));
        const bool usable = m_vciLibrary->loadResult() == 0;
        if (!usable)
            setVciError(vciNotInitialized);
        quint8 btr0, btr1;
        if (!bitRateRegisters(bitRate, btr0, btr1)) {
            setVciError(vciNotImplemented);
            m_lastError = translated("Ixxat error: Selected bitrate is not supported.");
            return false;
        }
        if (!usable)
            return false;
        if (!setVciError(m_vciLibrary->vciInitialize()))
            return false;
        quint32 major = 0, minor = 0;
        if (m_vciLibrary->vciGetVersion(major, minor) == 0 && major < 3) {
            m_lastErrorCode = vciVersionNotSupported;
            m_lastError = translated("Ixxat error: Invalid VCI version %1.%2").arg(major).arg(minor);
            return false;
        }

        const int number = portText.section(QLatin1Char(':'), 1, 1).trimmed().toInt();
        VCI_HANDLE enumeration = nullptr;
        bool found = false;
        bool enumerated = setVciError(m_vciLibrary->vciEnumDeviceOpen(enumeration));
        VciDeviceInfo info = {};
        if (enumerated) {
            for (int i = 0; i <= number; ++i) {
                if (!setVciError(m_vciLibrary->vciEnumDeviceNext(enumeration, info)))
                    break;
                found = i == number;
            }
            enumerated = setVciError(m_vciLibrary->vciEnumDeviceClose(enumeration));
        }
        if (!enumerated || !found) {
            if (m_lastErrorCode == 0)
                m_lastErrorCode = vciNoMoreItems;
            m_lastError = translated("Ixxat error: could not open device #%1").arg(number);
            return false;
        }

        if (!setVciError(m_vciLibrary->vciDeviceOpen(info.vciObjectId, m_vciDevice))
            || !setVciError(m_vciLibrary->canChannelOpen(m_vciDevice, 0, true, m_vciChannel))
            || !setVciError(m_vciLibrary->canChannelInitialize(m_vciChannel, 1025, 1, 513, 1))
            || !setVciError(m_vciLibrary->canChannelActivate(m_vciChannel, true))
            || !setVciError(m_vciLibrary->canControlOpen(m_vciDevice, 0, m_vciControl))
            || !setVciError(m_vciLibrary->canControlGetCaps(m_vciControl, m_vciCaps))
            || !setVciError(m_vciLibrary->canControlInitialize(m_vciControl, controllerMode, btr0, btr1))) {
            return false;
        }
        m_deviceOpen = setVciError(m_vciLibrary->canControlStart(m_vciControl, true));
        return m_deviceOpen;
    }();

    if (result && isRunning())
        result = false; // the thread of an earlier open has not ended
    if (result) {
        m_stopRequested = false;
        m_threadDone = false;
        m_openTime.start();
        start(QThread::HighPriority);
        m_opening = false;
        m_ok = m_opened = true;
        return true;
    }
    closeVciHandles();
    m_deviceOpen = false;
    m_vciLibrary.reset();
    m_opening = false;
    m_ok = m_opened = false;
    return false;
}

void ZorCanDriverIxxat::stopThread()
{
    if (!isRunning())
        return;
    m_stopRequested = true;
    {
        std::lock_guard<std::mutex> locker(m_waitMutex); // the thread ends its current wait first
    }
    joinReceiveThread(*this, stopWaitMs, m_threadDone);
}

void ZorCanDriverIxxat::close()
{
    if (!m_opened)
        return;
    m_opened = false;
    stopThread();
    m_opening = false;
    m_ok = true;
    if (m_vciLibrary && m_vciLibrary->loadResult() == 0) {
        closeVciHandles();
        m_deviceOpen = false;
    }
    m_vciLibrary.reset();
}

void ZorCanDriverIxxat::run()
{
    while (!m_stopRequested) {
        quint32 result;
        {
            std::lock_guard<std::mutex> locker(m_waitMutex);
            if (m_stopRequested)
                break;
            result = m_vciLibrary->canChannelWaitRxEvent(m_vciChannel, waitEventMs);
        }
        if (result == vciTimeout)
            continue;
        if (m_rxWake)
            m_rxWake->wakeAll();
        // A failing wait returns at once: do not spin on it.
        if (result != 0)
            QThread::msleep(waitEventMs);
    }
    m_threadDone.store(true, std::memory_order_release);
}

bool ZorCanDriverIxxat::takeRx(int &count)
{
    count = 0;
    if (!m_deviceOpen)
        return false;
    std::lock_guard<std::mutex> locker(m_rxMutex);
    int i = 0;
    VciCanMessage message;
    for (;;) {
        const quint32 result = m_vciLibrary->canChannelPeekMessage(m_vciChannel, message);
        if (result == vciRxQueueEmpty || !setVciError(result))
            break;
        if (i == Capacity) {
            // The queue is still emptied; what does not fit is dropped.
            m_statusFlags |= StatusRxBankFull;
            continue;
        }
        if ((message.info & 0xff) != VCI_MSGTYPE_DATA)
            continue;
        const quint32 flags = (message.info >> 16) & 0xff;
        const int size = int(flags & 0x0f);
        if (size > 8)
            continue;
        VSCAN_MSG &frame = m_rxBank[i];
        frame = VSCAN_MSG();
        frame.Id = message.id;
        frame.Size = quint8(size);
        std::memcpy(frame.Data, message.data, size_t(size));
        frame.Flags = quint8(((flags & VCI_MSGFLAG_EXTENDED) ? VSCAN_FLAGS_EXTENDED : 0)
                             | ((flags & VCI_MSGFLAG_REMOTE) ? VSCAN_FLAGS_REMOTE : 0));
        if (m_vciCaps.clockFrequency != 0 && m_vciCaps.tscDivisor != 0) {
            const double ms = double(message.time) * double(m_vciCaps.tscDivisor)
                              / double(m_vciCaps.clockFrequency) * 1000.0;
            frame.Timestamp = quint16(quint64(ms));
        } else {
            // A controller that gives no clock: the driver's own time.
            frame.Timestamp = quint16(m_openTime.elapsed());
        }
        ++i;
    }
    if (i > 0)
        m_txStamp.follow(m_rxBank[i - 1].Timestamp);
    count = i;
    return notFailed();
}

bool ZorCanDriverIxxat::rxFrame(int index, QByteArray &record)
{
    if (index < 0 || index >= Capacity)
        return false;
    return ZorBabelFish::fromVscanToQbytearray(m_rxBank[index], record);
}

bool ZorCanDriverIxxat::queueTx(QByteArray &record)
{
    if (!m_deviceOpen)
        return false;
    if (m_txCount >= TxCapacity && !flushTx(false))
        return false;
    if (!ZorBabelFish::fromQbytearrayToVscan(record, m_txStaging[m_txCount]))
        return false;
    m_txStamp.stampRecord(record);
    ++m_txCount;
    return notFailed();
}

bool ZorCanDriverIxxat::flushTx(bool fromModule)
{
    Q_UNUSED(fromModule);
    if (!m_deviceOpen || m_opening)
        return false;
    bool result = true;
    for (int i = 0; i < m_txCount && result; ++i) {
        const VSCAN_MSG &frame = m_txStaging[i];
        VciCanMessage message = {};
        message.time = frame.Timestamp;
        message.id = frame.Id;
        const quint8 size = qMin<quint8>(frame.Size, 8);
        const quint32 flags = size | ((frame.Flags & VSCAN_FLAGS_REMOTE) ? VCI_MSGFLAG_REMOTE : 0)
                              | ((frame.Flags & VSCAN_FLAGS_EXTENDED) ? VCI_MSGFLAG_EXTENDED : 0);
        message.info = VCI_MSGTYPE_DATA | (flags << 16);
        std::memcpy(message.data, frame.Data, size);
        const quint32 sent = m_vciLibrary->canChannelSendMessage(m_vciChannel, sendTimeoutMs, message);
        if (sent == vciTimeout)
            result = false;
        else if (sent != 0)
            result = setVciError(sent);
    }
    // Frames not sent are dropped; the result says so.
    m_txCount = 0;
    return result;
}

bool ZorCanDriverIxxat::statusText(QString &text, int &statusBits)
{
    Q_UNUSED(statusBits);
    text.clear();
    m_statusFlags = 0;
    return notFailed();
}

QString ZorCanDriverIxxat::lastErrorText()
{
    return m_lastErrorCode != 0 ? m_lastError : QString();
}
