// The plug-in driver: reaches the seven adapter families whose makers'
// libraries sit behind a buslink_hw_<key> plug-in (plugins/). Port text
// "<key>[:<channel>]", the key one of adapterKeys() in any case, e.g.
// "kvaser", "PEAK:1".
//
// open loads the plug-in <pluginDirectory>/buslink_hw_<key>.so (see
// CanPortLibrary) privately, then calls canPortLibraryInit, canPortOpen,
// canPortBitrateSet and canPortGoBusOn, and starts the receive thread. The
// thread reads one frame per pass through canPortRead into the bank that
// takeRx does not hand out, and writes one queued frame per pass through
// canPortWrite; takeRx flips the two banks under rxMutex. close stops the
// thread, then canPortGoBusOff (after a successful bus on only),
// canPortClose (only with the port canPortOpen handed out), and frees the
// library. Plug-in failures keep their code for lastErrorText:
// "Buslink/<key> error: <text>".
#pragma once

#include "zorabstractcandriver.h"
#include "zorbabelfish.h"

#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <mutex>

class CanPortLibrary;
class QWaitCondition;

class ZorCanDriverBuslink : public QThread, public ZorAbstractCanDriver
{
    Q_OBJECT
public:
    static constexpr int Capacity = 512;
    static constexpr int TxQueueLimit = 1024;
    static constexpr int FailedWriteLimit = 100;

    explicit ZorCanDriverBuslink(QWaitCondition *rxWake = nullptr);
    ~ZorCanDriverBuslink() override;

    // Of the arguments only portText and bitRate are used.
    bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
              int timestampMode) override;
    void close() override;
    bool takeRx(int &count) override;
    bool rxFrame(int index, QByteArray &record) override;
    bool queueTx(QByteArray &record) override;
    bool flushTx(bool fromModule) override;
    bool statusText(QString &text, int &statusBits) override;
    QString lastErrorText() override;
    bool notFailed() override { return m_ok || m_opening; }
    bool isOpen() override { return m_opened; }
    bool failed() override { return !notFailed(); }
    int capacity() override { return Capacity; }

    // The adapter keys, in the order they are matched.
    static QStringList adapterKeys();
    // The first key the trimmed port text begins with (case ignored), or empty.
    static QString adapterKeyOf(const QString &portText);
    static bool isAdapterPort(const QString &portText);

    // Folder the plug-ins are loaded from: by default Drivers/buslink in the
    // application's folder.
    static QString defaultPluginDirectory();
    void setPluginDirectory(const QString &dir) { m_pluginDir = dir; }
    QString pluginDirectory() const { return m_pluginDir; }
    // <pluginDirectory>/buslink_hw_<key> with the platform's suffix.
    QString pluginPath(const QString &key) const;

    QString adapterKey() const { return m_adapterKey; }
    int lastResult() const { return m_lastResult.load(); }

protected:
    void run() override;

private:
    bool failOpen();
    void stopThread();
    bool readOneFrame();
    bool writeOneFrame(int &failedWrites);
    VSCAN_MSG &bankEntry(int bank, int index) { return m_rxBank[2 * index + bank]; }

    bool m_opened = false;
    std::atomic<bool> m_stopRequested{false};
    // Set by the receive thread as its last act: orders all it did before
    // whatever close does after it ended (QThread::wait alone is invisible
    // to ThreadSanitizer).
    std::atomic<bool> m_threadDone{false};
    // std::mutex rather than QMutex: the same guarantees, and visible to
    // ThreadSanitizer, which cannot see into an uninstrumented QtCore.
    std::mutex m_passMutex; // held by the receive thread for one whole pass
    std::mutex m_rxMutex;   // rxBank, rxCount, readBank, readCount
    std::mutex m_txMutex;   // txQueue
    QWaitCondition *m_rxWake;
    VSCAN_MSG m_rxBank[2 * Capacity]; // two interleaved banks: entry i of bank b at 2*i+b
    int m_readBank = 0;               // bank rxFrame reads; the thread fills the other
    int m_readCount = 0;
    VSCAN_MSG m_txStaging[Capacity];
    QList<VSCAN_MSG *> m_txQueue;
    int m_rxCount = 0;
    int m_txCount = 0;
    std::atomic<quint32> m_statusFlags{0};
    CanPortLibrary *m_library = nullptr;
    int m_portHandle = 0;
    QString m_adapterKey;
    QElapsedTimer m_stampClock;
    bool m_portOpen = false;
    bool m_opening = false;
    bool m_ok = true;
    bool m_busOn = false;
    std::atomic<int> m_lastResult{0};
    QString m_pluginDir;
};
