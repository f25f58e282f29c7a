#include "zorcandriverbuslink.h"

#include "canportlibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QWaitCondition>
#include <cstring>

namespace {
const int threadStopWait = 5000; // ms before the receive thread is terminated
}

ZorCanDriverBuslink::ZorCanDriverBuslink(QWaitCondition *rxWake)
    : m_rxWake(rxWake), m_pluginDir(defaultPluginDirectory())
{
}

ZorCanDriverBuslink::~ZorCanDriverBuslink()
{
    close(); // frees the library; a failed open has freed it already
    qDeleteAll(m_txQueue);
}

QStringList ZorCanDriverBuslink::adapterKeys()
{
    static const QStringList keys = {
        QStringLiteral("lawicel"), QStringLiteral("peak"),   QStringLiteral("kvaser"),
        QStringLiteral("ems"),     QStringLiteral("castor"), QStringLiteral("mhs"),
        QStringLiteral("zanthic"),
    };
    return keys;
}

QString ZorCanDriverBuslink::adapterKeyOf(const QString &portText)
{
    const QString text = portText.trimmed();
    for (const QString &key : adapterKeys()) {
        if (text.startsWith(key, Qt::CaseInsensitive))
            return key;
    }
    return QString();
}

bool ZorCanDriverBuslink::isAdapterPort(const QString &portText)
{
    return !adapterKeyOf(portText).isEmpty();
}

QString ZorCanDriverBuslink::defaultPluginDirectory()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Drivers/buslink");
}

QString ZorCanDriverBuslink::pluginPath(const QString &key) const
{
    return QDir(m_pluginDir).filePath(CanPortLibrary::fileNameForKey(key));
}

bool ZorCanDriverBuslink::open(const QString &portText, int bitRate, int debugLevel,
                               int reserved, int timestampMode)
{
    Q_UNUSED(debugLevel);
    Q_UNUSED(reserved);
    Q_UNUSED(timestampMode);
    close();
    m_opening = true;
    m_ok = false;
    m_portOpen = false;
    m_busOn = false;
    m_rxCount = m_txCount = m_readBank = m_readCount = 0;
    m_statusFlags = 0;
    m_portHandle = 0;
    m_lastResult = 0;
    {
        std::lock_guard<std::mutex> lock(m_txMutex);
        qDeleteAll(m_txQueue);
        m_txQueue.clear();
    }

    m_adapterKey = adapterKeyOf(portText);
    if (!adapterKeys().contains(m_adapterKey)) {
        m_adapterKey.clear();
        m_lastResult = BUSLINK_UNKNOWN_DEVICE;
    }
    if (m_adapterKey.isEmpty())
        return failOpen();

    m_library = new CanPortLibrary(pluginPath(m_adapterKey));
    if (m_library->bindState() != CanPortLibrary::Bound) {
        m_lastResult = BUSLINK_COULD_NOT_LOAD;
        return failOpen();
    }
    m_lastResult = m_library->canPortLibraryInit();
    if (m_lastResult != 0)
        return failOpen();

    const QStringList fields = portText.trimmed().split(QLatin1Char(':'));
    bool isNumber = false;
    int channel = fields.size() > 1 ? fields.at(1).trimmed().toInt(&isNumber) : 0;
    if (!isNumber)
        channel = 0;
    int handle = 0;
    m_lastResult = m_library->canPortOpen(channel, &handle);
    m_portOpen = m_lastResult == 0;
    if (!m_portOpen)
        return failOpen();
    m_portHandle = handle;

    m_lastResult = m_library->canPortBitrateSet(m_portHandle, bitRate);
    if (m_lastResult != 0)
        return failOpen();
    m_lastResult = m_library->canPortGoBusOn(m_portHandle);
    m_busOn = m_lastResult == 0;
    if (!m_busOn)
        return failOpen();

    if (isRunning())
        return failOpen();
    m_stopRequested = false;
    m_threadDone = false;
    m_stampClock.start();
    start(QThread::NormalPriority);
    m_opening = false;
    m_ok = m_opened = true;
    return true;
}

// Undoes what a failed open did, in the order bus off, close, free. The
// port is closed only when canPortOpen handed it out: a handle it did not
// give may be another driver's port in the same plug-in.
bool ZorCanDriverBuslink::failOpen()
{
    if (m_library) {
        if (m_busOn)
            m_library->canPortGoBusOff(m_portHandle);
        if (m_portOpen)
            m_library->canPortClose(m_portHandle);
        m_library->unload();
        delete m_library;
        m_library = nullptr;
    }
    m_busOn = false;
    m_portOpen = false;
    m_stampClock.start();
    m_opening = false;
    m_ok = m_opened = false;
    return false;
}

void ZorCanDriverBuslink::stopThread()
{
    if (!isRunning())
        return;
    m_stopRequested = true;
    // The pass under way ends first.
    m_passMutex.lock();
    m_passMutex.unlock();
    joinReceiveThread(*this, threadStopWait, m_threadDone);
}

void ZorCanDriverBuslink::close()
{
    if (!m_opened)
        return;
    m_opened = false;
    stopThread();
    m_opening = false;
    m_ok = true;
    if (!m_adapterKey.isEmpty() && m_library
        && m_library->bindState() == CanPortLibrary::Bound) {
        if (m_busOn) {
            m_library->canPortGoBusOff(m_portHandle);
            m_busOn = false;
        }
        if (m_portOpen)
            m_library->canPortClose(m_portHandle);
        m_portOpen = false;
    }
    if (m_library) {
        m_library->unload();
        delete m_library;
        m_library = nullptr;
    }
}

// Receive thread: each pass reads at most one frame and writes at most one.
void ZorCanDriverBuslink::run()
{
    int failedWrites = 0;
    int idlePasses = 0;
    while (!m_stopRequested.load()) {
        bool busy;
        {
            std::lock_guard<std::mutex> pass(m_passMutex);
            const bool read = readOneFrame();
            const bool wrote = writeOneFrame(failedWrites);
            // Gives the adapter time after each frame, without holding up flushTx.
            if (wrote)
                QThread::msleep(1);
            busy = read || wrote;
        }
        if (busy) {
            idlePasses = 0;
        } else {
            QThread::msleep(1);
            if (++idlePasses > 100) {
                QThread::msleep(5);
                idlePasses = 0;
            }
        }
    }
    m_threadDone.store(true, std::memory_order_release);
}

bool ZorCanDriverBuslink::readOneFrame()
{
    int id = 0, length = 0, flags = 0;
    quint8 data[8] = {};
    const int result = m_library->canPortRead(m_portHandle, &id, data, &length, &flags);
    m_lastResult = result;
    if (result != 0)
        return false;
    std::lock_guard<std::mutex> lock(m_rxMutex);
    if (m_rxCount >= Capacity) {
        m_statusFlags |= StatusRxBankFull;
    } else if (length >= 0 && length <= 8) {
        VSCAN_MSG &frame = bankEntry(1 - m_readBank, m_rxCount);
        frame = VSCAN_MSG();
        frame.Id = quint32(id);
        frame.Size = quint8(length);
        std::memcpy(frame.Data, data, size_t(length));
        // Plug-ins report no standard-identifier flag; 0x01 stays clear.
        frame.Flags = quint8(((flags & BUSLINK_FLAG_EXTENDED) ? VSCAN_FLAGS_EXTENDED : 0)
                             | ((flags & BUSLINK_FLAG_REMOTE) ? VSCAN_FLAGS_REMOTE : 0));
        frame.Timestamp = quint16(m_stampClock.elapsed());
        ++m_rxCount;
    }
    if (m_rxWake)
        m_rxWake->wakeAll();
    return true;
}

bool ZorCanDriverBuslink::writeOneFrame(int &failedWrites)
{
    std::lock_guard<std::mutex> lock(m_txMutex);
    if (m_txQueue.isEmpty())
        return false;
    const VSCAN_MSG *frame = m_txQueue.first();
    const int flags = ((frame->Flags & VSCAN_FLAGS_EXTENDED) ? BUSLINK_FLAG_EXTENDED : 0)
                      | ((frame->Flags & VSCAN_FLAGS_REMOTE) ? BUSLINK_FLAG_REMOTE : 0);
    const int result = m_library->canPortWrite(m_portHandle, int(frame->Id), frame->Data,
                                               frame->Size, flags);
    m_lastResult = result;
    if (result == 0) {
        delete m_txQueue.takeFirst();
        failedWrites = 0;
        return true;
    }
    // The frame stays queued for the next pass; a plug-in that keeps
    // refusing makes the whole queue go.
    if (++failedWrites > FailedWriteLimit) {
        m_statusFlags |= StatusTxOverflow;
        qDeleteAll(m_txQueue);
        m_txQueue.clear();
    }
    return false;
}

bool ZorCanDriverBuslink::takeRx(int &count)
{
    count = 0;
    if (!m_portOpen)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_rxMutex);
        m_readCount = m_rxCount;
        m_readBank = 1 - m_readBank;
        m_rxCount = 0;
        count = m_readCount;
    }
    return notFailed();
}

bool ZorCanDriverBuslink::rxFrame(int index, QByteArray &record)
{
    if (index < 0 || index >= Capacity)
        return false;
    return ZorBabelFish::fromVscanToQbytearray(bankEntry(m_readBank, index), record);
}

bool ZorCanDriverBuslink::queueTx(QByteArray &record)
{
    if (!m_portOpen)
        return false;
    if (m_txCount >= Capacity && !flushTx(false))
        return false;
    if (!ZorBabelFish::fromQbytearrayToVscan(record, m_txStaging[m_txCount]))
        return false;
    ZorBabelFish::setQbytearrayTimestamp(record, quint16(m_stampClock.elapsed()));
    ++m_txCount;
    return notFailed();
}

bool ZorCanDriverBuslink::flushTx(bool fromModule)
{
    Q_UNUSED(fromModule);
    if (!m_portOpen || m_opening || m_txCount == 0)
        return false;
    bool appended = false;
    {
        std::lock_guard<std::mutex> lock(m_txMutex);
        for (int i = 0; i < m_txCount; ++i) {
            const VSCAN_MSG &frame = m_txStaging[i];
            if (frame.Size > 8)
                continue; // no plug-in can send it
            if (m_txQueue.size() > TxQueueLimit) {
                m_statusFlags |= StatusTxOverflow;
                continue;
            }
            m_txQueue.append(new VSCAN_MSG(frame));
            appended = true;
        }
    }
    m_txCount = 0;
    return appended;
}

bool ZorCanDriverBuslink::statusText(QString &text, int &statusBits)
{
    text.clear();
    const quint32 flags = m_statusFlags.exchange(0);
    if (flags & StatusTxOverflow)
        text += QStringLiteral("PC TX buffer overflow, ");
    if (flags & StatusTxOverflow)
        statusBits |= TrafficErrorSeen;
    if (!text.isEmpty())
        text = QStringLiteral("Buslink CAN: %1").arg(text.left(text.size() - 2));
    return notFailed();
}

QString ZorCanDriverBuslink::lastErrorText()
{
    const int result = m_lastResult.load();
    if (result == 0)
        return QString();
    return QCoreApplication::translate("ZorCanDriverBuslink", "Buslink/%1 error: %2")
        .arg(m_adapterKey, CanPortLibrary::canPortErrorText(result));
}
