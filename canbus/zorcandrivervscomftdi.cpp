#include "zorcandrivervscomftdi.h"

#include "ftdilibrary.h"
#include "zorbabelfish.h"

#include <QCoreApplication>
#include <QThread>
#include <QWaitCondition>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// One binding and one lock for the whole program, like the library's own.
// std::recursive_mutex rather than QMutex: visible to ThreadSanitizer.
std::recursive_mutex ftdiLock;
std::unique_ptr<FtdiLibrary> ftdiLibrary; // under ftdiLock
bool ftdiBound = false;                   // under ftdiLock

const quint8 latencyMs = 1;
const quint32 usbTransferSize = 64;
const quint8 ctsBit = FT_MODEM_STATUS_CTS;

QString translated(const char *text)
{
    return QCoreApplication::translate("ZorCanDriverVSComFtdi", text);
}

// Writes all of text; the D2XX status, or ShortTransfer when fewer bytes
// went out.
int writeAll(FT_HANDLE handle, const QByteArray &text)
{
    uint32_t written = 0;
    const FT_STATUS status = ftdiLibrary->FT_Write(handle, text.constData(), uint32_t(text.size()), &written);
    if (status != FT_OK)
        return int(status);
    return written == uint32_t(text.size()) ? 0 : int(ZorCanDriverVSComFtdi::ShortTransfer);
}

} // namespace

// The chip's receive notification and the wake-up of flushTx and close: an
// auto-reset event.
struct ZorCanDriverVSComFtdi::Event
{
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;

    void set()
    {
        std::lock_guard<std::mutex> guard(lock);
        signalled = true;
        changed.notify_all();
    }
    // True when it was signalled within ms (and resets it).
    bool wait(int ms)
    {
        std::unique_lock<std::mutex> guard(lock);
        const bool got = changed.wait_for(guard, std::chrono::milliseconds(ms), [this] { return signalled; });
        signalled = false;
        return got;
    }
};

ZorCanDriverVSComFtdi::ZorCanDriverVSComFtdi(QWaitCondition *rxWake)
    : m_rxEvent(new Event), m_rxWake(rxWake)
{
    m_protocol.setCommandErrorBit(StatusDeviceError);
    m_protocol.setOverflowBit(StatusRxBankFull);
}

ZorCanDriverVSComFtdi::~ZorCanDriverVSComFtdi()
{
    close();
    stopDevice();
}

bool ZorCanDriverVSComFtdi::loadDriverLibrary(const QString &fileName)
{
    std::lock_guard<std::recursive_mutex> locker(ftdiLock);
    if (!ftdiLibrary)
        ftdiLibrary.reset(new FtdiLibrary(fileName));
    ftdiBound = ftdiLibrary->bindState() == 0;
    return ftdiBound;
}

void ZorCanDriverVSComFtdi::unloadDriverLibrary()
{
    std::lock_guard<std::recursive_mutex> locker(ftdiLock);
    ftdiLibrary.reset();
    ftdiBound = false;
}

bool ZorCanDriverVSComFtdi::libraryBound()
{
    std::lock_guard<std::recursive_mutex> locker(ftdiLock);
    return ftdiBound;
}

int ZorCanDriverVSComFtdi::findDeviceIndex(const QString &portText)
{
    if (!libraryBound())
        return -1;
    uint32_t count = 0;
    {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        if (ftdiLibrary->FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
            return -1;
    }
    QString port = portText.toUpper().trimmed();
    if (port.isEmpty())
        return count > 0 ? 0 : -1;
    if (port.startsWith(QLatin1String("COM")))
        port.remove(0, 3);
    const int wanted = port.toInt();
    if (wanted < 1)
        return -1;
    for (uint32_t i = 0; i < count; ++i) {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        FT_HANDLE handle = nullptr;
        if (ftdiLibrary->FT_Open(int(i), &handle) != FT_OK)
            continue;
        int32_t comPort = -1;
        const bool match = ftdiLibrary->FT_GetComPortNumber(handle, &comPort) == FT_OK && comPort == wanted;
        ftdiLibrary->FT_Close(handle);
        if (match)
            return int(i);
    }
    return -1;
}

bool ZorCanDriverVSComFtdi::open(const QString &portText, int bitRate, int debugLevel, int reserved,
                                 int timestampMode)
{
    Q_UNUSED(reserved);
    Q_UNUSED(timestampMode); // time stamps are always on
    close();
    {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        m_lastStatus = 0;
    }
    m_errorText.clear();
    if (!libraryBound())
        loadDriverLibrary();
    m_deviceIndex = findDeviceIndex(portText);
    if (m_deviceIndex < 0)
        return false;
    m_protocol.reset();
    m_rxCount = m_txCount = 0;
    m_txStamp.reset();
    m_debugLevel = debugLevel;
    const int code = ZorAsciiAdapterProtocol::bitRateCode(bitRate);
    if (code < 0) {
        // Refused rather than run the bus at another rate than asked for.
        m_errorText = ZorAsciiAdapterProtocol::unsupportedBitRateText(bitRate);
        return false;
    }
    m_initCommands = QByteArrayLiteral("C\rC\rN\rV\r") + ZorAsciiAdapterProtocol::bitRateCommand(code)
                     + QByteArrayLiteral("Z1\rO\r");
    m_closeCommand = ZorAsciiAdapterProtocol::closeCommand();
    m_pollCommand = ZorAsciiAdapterProtocol::statusCommand();
    m_opened = startDevice() == 0;
    return m_opened;
}

void ZorCanDriverVSComFtdi::close()
{
    if (!m_opened)
        return;
    m_opened = false;
    stopDevice();
}

int ZorCanDriverVSComFtdi::startDevice()
{
    if (!libraryBound())
        return -2;
    if (m_deviceOpen)
        stopDevice();
    const int status = initDevice(true);
    if (status != 0) {
        stopDevice();
        return status;
    }
    if (m_thread)
        return -1;
    m_stopRequested = false;
    m_threadDone = false;
    m_thread = QThread::create([this] {
        threadMain();
        m_threadDone.store(true, std::memory_order_release);
    });
    m_thread->start(QThread::TimeCriticalPriority);
    return 0;
}

bool ZorCanDriverVSComFtdi::stopDevice()
{
    bool terminated = false;
    if (m_thread) {
        m_stopRequested = true;
        m_rxEvent->set();
        terminated = joinReceiveThread(*m_thread, ulong(m_timing.stopWaitMs), m_threadDone);
        delete m_thread;
        m_thread = nullptr;
    }
    // A terminated thread may have left the adapter mid-line: no close command.
    closeDevice(terminated);
    return terminated;
}

int ZorCanDriverVSComFtdi::initDevice(bool full)
{
    std::lock_guard<std::recursive_mutex> locker(ftdiLock);
    m_rxRaw.clear();
    m_txLines.clear();
    m_statusFlags = 0;
    m_lastStatus = 0;
    FtdiLibrary &ft = *ftdiLibrary;
    const auto step = [this](FT_STATUS status) {
        if (m_lastStatus == 0 && status != FT_OK)
            m_lastStatus = int(status);
        return m_lastStatus == 0;
    };
    if (full) {
        FT_HANDLE handle = nullptr;
        if (step(ft.FT_Open(m_deviceIndex, &handle))) {
            m_ftHandle = handle;
            if (step(ft.FT_ResetDevice(handle)) && step(ft.FT_GetLatencyTimer(handle, &m_oldLatency))
                && step(ft.FT_SetLatencyTimer(handle, latencyMs))) {
                ft.FT_SetUSBParameters(handle, usbTransferSize, usbTransferSize);
                step(ft.FT_SetTimeouts(handle, uint32_t(m_timing.replyTimeoutMs), uint32_t(m_timing.replyTimeoutMs)))
                    && step(ft.FT_SetBaudRate(handle, BaudRate))
                    && step(ft.FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE))
                    && step(ft.FT_SetChars(handle, 0, 0, 0, 0));
            }
        }
    }
    FT_HANDLE handle = m_ftHandle;
    if (m_lastStatus == 0)
        step(ft.FT_SetFlowControl(handle, FT_FLOW_NONE, 0, 0)) && step(ft.FT_ClrRts(handle));

    const QList<QByteArray> commands = m_initCommands.split(ZorAsciiAdapterProtocol::CR);
    for (const QByteArray &command : commands) {
        if (command.isEmpty())
            continue;
        if (m_lastStatus != 0)
            break;
        // What the adapter still had to say is dropped.
        uint32_t waiting = 0;
        if (!step(ft.FT_GetQueueStatus(handle, &waiting)))
            break;
        if (waiting > 0) {
            QByteArray drain(int(waiting), 0);
            uint32_t got = 0;
            if (!step(ft.FT_Read(handle, drain.data(), waiting, &got)))
                break;
        }
        const int written = writeAll(handle, command + ZorAsciiAdapterProtocol::CR);
        if (written != 0) {
            m_lastStatus = written;
            break;
        }
        // The reply ends with CR, or BEL for a refused command.
        for (;;) {
            char c = 0;
            uint32_t got = 0;
            if (!step(ft.FT_Read(handle, &c, 1, &got)))
                break;
            if (got == 0) {
                m_lastStatus = NoReply;
                break;
            }
            if (c == ZorAsciiAdapterProtocol::CR || c == ZorAsciiAdapterProtocol::BEL)
                break;
        }
    }
    if (m_lastStatus == 0)
        step(ft.FT_SetFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0));
    m_deviceOpen = m_lastStatus == 0;
    if (m_lastStatus != 0 && m_ftHandle) {
        ft.FT_Close(m_ftHandle);
        m_ftHandle = nullptr;
    }
    return m_lastStatus;
}

void ZorCanDriverVSComFtdi::closeDevice(bool skipCloseCommand)
{
    std::lock_guard<std::recursive_mutex> locker(ftdiLock);
    if (!ftdiLibrary)
        return;
    if (m_deviceOpen && !skipCloseCommand && m_ftHandle) {
        writeAll(m_ftHandle, m_closeCommand);
        char c = 0;
        uint32_t got = 0;
        ftdiLibrary->FT_Read(m_ftHandle, &c, 1, &got);
    }
    if (m_ftHandle)
        ftdiLibrary->FT_Close(m_ftHandle);
    m_ftHandle = nullptr;
    m_deviceOpen = false;
}

void ZorCanDriverVSComFtdi::notifyReceived(void *context, uint32_t events)
{
    if (events & FT_EVENT_RXCHAR)
        static_cast<Event *>(context)->set();
}

void ZorCanDriverVSComFtdi::threadMain()
{
    // The receive notification of the chip sets m_rxEvent; every wait below
    // is a condition-variable wait on the monotonic clock, so no system
    // timer resolution needs raising.
    FT_EVENT_HANDLER handler{&ZorCanDriverVSComFtdi::notifyReceived, m_rxEvent.get()};
    {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        m_lastStatus = int(ftdiLibrary->FT_SetEventNotification(m_ftHandle, FT_EVENT_RXCHAR, &handler));
    }
    int pollCount = 0;
    int busErrorPasses = 0;
    int ctsOffPasses = 0;
    bool reinitRequested = false;
    bool resetPending = false;
    QByteArray buffer;
    while (!m_stopRequested) {
        if (reinitRequested) {
            reinitRequested = false;
            busErrorPasses = 0;
            initDevice(false);
            continue;
        }
        bool failing;
        {
            std::lock_guard<std::recursive_mutex> locker(ftdiLock);
            failing = m_lastStatus != 0;
        }
        if (resetPending || failing) {
            {
                std::lock_guard<std::recursive_mutex> locker(ftdiLock);
                if (resetPending) {
                    if (m_ftHandle)
                        ftdiLibrary->FT_ResetPort(m_ftHandle);
                    if (!m_recovering)
                        m_statusFlags |= StatusDeviceReset;
                } else if (!m_recovering) {
                    m_statusFlags |= StatusUsbError;
                }
                m_recovering = true;
                resetPending = false;
            }
            m_rxEvent->wait(m_timing.recoveryWaitMs);
            if (m_stopRequested)
                break;
            closeDevice(true);
            if (initDevice(true) == 0) {
                std::lock_guard<std::recursive_mutex> locker(ftdiLock);
                ftdiLibrary->FT_SetEventNotification(m_ftHandle, FT_EVENT_RXCHAR, &handler);
                m_recovering = false;
                ctsOffPasses = 0;
            }
            continue;
        }

        const bool woken = m_rxEvent->wait(m_timing.passWaitMs);
        bool readSome = false;
        bool sendPending = false;
        {
            std::lock_guard<std::recursive_mutex> locker(ftdiLock);
            FT_HANDLE handle = m_ftHandle;
            uint32_t waiting = 0;
            FT_STATUS status = ftdiLibrary->FT_GetQueueStatus(handle, &waiting);
            if (status != FT_OK) {
                m_lastStatus = int(status);
            } else if (waiting > 0) {
                if (int(waiting) > RawCapacity - m_rxRaw.size()) {
                    // Not read fast enough: the adapter is reopened.
                    m_lastStatus = FT_INSUFFICIENT_RESOURCES;
                } else {
                    buffer.resize(int(waiting));
                    uint32_t got = 0;
                    status = ftdiLibrary->FT_Read(handle, buffer.data(), waiting, &got);
                    if (status != FT_OK) {
                        m_lastStatus = int(status);
                    } else {
                        m_rxRaw.append(buffer.constData(), int(got));
                        if (got < waiting)
                            m_lastStatus = ShortTransfer;
                        readSome = got > 0;
                        if (readSome && m_rxWake)
                            m_rxWake->wakeAll();
                    }
                }
            }
            if (m_lastStatus == 0 && ++pollCount > m_timing.pollPasses) {
                pollCount = 0;
                m_lastStatus = writeAll(handle, m_pollCommand);
            }
            if (m_statusFlags & 0x80) {
                // Bus error: frames would not go out; a long one re-initialises.
                m_txLines.clear();
                if (++busErrorPasses > m_timing.stuckPasses)
                    reinitRequested = true;
            } else {
                busErrorPasses = 0;
            }
            if (!m_txLines.isEmpty() && m_lastStatus == 0) {
                sendPending = true;
                uint32_t modem = 0;
                if (ftdiLibrary->FT_GetModemStatus(handle, &modem) == FT_OK && (modem & ctsBit)) {
                    ctsOffPasses = 0;
                    const int written = writeAll(handle, m_txLines.first());
                    if (written == 0)
                        m_txLines.removeFirst();
                    else
                        m_lastStatus = written;
                } else if (++ctsOffPasses > m_timing.stuckPasses) {
                    resetPending = true;
                    ctsOffPasses = 0;
                }
            }
        }
        if (!readSome && !sendPending && woken)
            QThread::yieldCurrentThread();
    }
    closeDevice(false);
}

bool ZorCanDriverVSComFtdi::takeRx(int &count)
{
    count = 0;
    if (!m_deviceOpen)
        return false;
    QByteArray bytes;
    {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        bytes.swap(m_rxRaw);
    }
    m_rxCount = 0;
    quint32 flags = 0;
    m_protocol.feed(bytes, m_rxBank, Capacity, m_rxCount, flags);
    if (flags) {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        m_statusFlags |= flags;
    }
    if (m_rxCount > 0)
        m_txStamp.follow(m_rxBank[m_rxCount - 1].Timestamp);
    count = m_rxCount;
    return notFailed();
}

bool ZorCanDriverVSComFtdi::rxFrame(int index, QByteArray &record)
{
    if (index < 0 || index >= Capacity)
        return false;
    return ZorBabelFish::fromVscanToQbytearray(m_rxBank[index], record);
}

bool ZorCanDriverVSComFtdi::queueTx(QByteArray &record)
{
    if (!m_deviceOpen)
        return false;
    if (m_txCount >= Capacity && !flushTx(false))
        return false;
    if (!ZorBabelFish::fromQbytearrayToVscan(record, m_txStaging[m_txCount]))
        return false;
    m_txStamp.stampRecord(record);
    ++m_txCount;
    return notFailed();
}

bool ZorCanDriverVSComFtdi::flushTx(bool fromModule)
{
    if (!m_deviceOpen || m_txCount == 0)
        return false;
    // False when a frame was dropped (one the protocol cannot write, or a
    // full line list), as the other drivers report frames not sent.
    bool allQueued = true;
    {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        for (int i = 0; i < m_txCount; ++i) {
            const QByteArray line = ZorAsciiAdapterProtocol::frameCommand(m_txStaging[i], true);
            if (line.isEmpty()) {
                allQueued = false;
                continue;
            }
            if (m_txLines.size() > MaxTxLines) {
                m_statusFlags |= StatusTxOverflow;
                allQueued = false;
            } else {
                m_txLines.append(line);
            }
        }
    }
    m_txCount = 0;
    // The thread writes the lines at once instead of at its next pass.
    if (fromModule)
        m_rxEvent->set();
    return allQueued;
}

bool ZorCanDriverVSComFtdi::statusText(QString &text, int &statusBits)
{
    static const StatusBitText table[] = {
        {StatusDeviceReset, 0, "Device Reset"},
        {StatusTxOverflow, 0, "PC TX buffer overflow"},
        {StatusUsbError, 0, "USB Error"},
        {StatusDeviceError, 0, "Device Error"},
        {0x01, 0, "RX_FIFO_FULL"},
        {0x08, 0, "DATA_OVERRUN"},
        {0x20, 0, "ERR_PASSIVE"},
        {0x80, 0, "BUS_ERROR"},
        {0x04, 2, "ERR_WARNING"},
        {0x40, 3, "ARBIT_LOST"},
    };
    quint32 flags;
    {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        flags = m_statusFlags;
        m_statusFlags = 0;
    }
    text = statusBitsText(flags, m_debugLevel, table);
    if (flags & 0xFA9)
        statusBits |= TrafficErrorSeen;
    if (flags & 0xA0)
        statusBits |= TrafficBusPassive;
    if (!text.isEmpty())
        text = QStringLiteral("brenko CAN: %1").arg(text);
    return notFailed();
}

QString ZorCanDriverVSComFtdi::lastErrorText()
{
    if (!m_errorText.isEmpty())
        return m_errorText;
    int status;
    {
        std::lock_guard<std::recursive_mutex> locker(ftdiLock);
        status = m_lastStatus;
    }
    if (status == 0)
        return QString();
    if (status == NoReply)
        return translated("Device not responding. Try unplug/replug.");
    return translated("brenko USB-CAN error FTDI #%1").arg(status);
}

bool ZorCanDriverVSComFtdi::notFailed()
{
    std::lock_guard<std::recursive_mutex> locker(ftdiLock);
    return m_lastStatus == 0 || m_recovering;
}
