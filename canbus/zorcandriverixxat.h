// ZorCanDriverIxxat: IXXAT CAN adapters through the maker's VCI library
// (VciLibrary, bound by name at run time; VCI version 3 or later).
//
// Port text "ixxat" opens the first device, "ixxat:1" the second. The
// device's CAN line 0 gets an exclusive message channel and its controller
// runs at one of nine bit rates (10k, 20k, 50k, 100k, 125k, 250k, 500k,
// 800k, 1M); any other rate is refused. takeRx empties the channel's receive
// queue into a bank of 1024 data frames (what does not fit is dropped;
// status, error and info messages are skipped); time stamps are the
// controller's receive times in ms. Queued frames (up to 512) are sent by
// flushTx, which reports false when a frame could not be sent (the rest of
// that flush is dropped). A thread waits for receive events (20 ms at a
// time) and wakes the optional rxWake. VCI failures become "Ixxat error: %1"
// in lastErrorText. There is no reconnection: the CAN interface module
// closes and reopens the driver.
#pragma once

#include "zorabstractcandriver.h"
#include "vcinpl.h"
#include "vscan_msg.h"
#include "zortxstampclock.h"

#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>

class QWaitCondition;
class VciLibrary;

class ZorCanDriverIxxat : public ZorAbstractCanDriver, public QThread
{
public:
    static constexpr int Capacity = 1024;
    static constexpr int TxCapacity = 512;

    explicit ZorCanDriverIxxat(QWaitCondition *rxWake = nullptr);
    ~ZorCanDriverIxxat() override;

    // Of the arguments only portText and bitRate are used.
    bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
              int timestampMode) override;
    void close() override;
    bool takeRx(int &count) override;
    bool rxFrame(int index, QByteArray &record) override;
    bool queueTx(QByteArray &record) override;
    bool flushTx(bool fromModule) override;
    // Always an empty text and no bits; clears the flags.
    bool statusText(QString &text, int &statusBits) override;
    QString lastErrorText() override;
    bool notFailed() override { return m_ok || m_opening; }
    bool isOpen() override { return m_opened; }
    bool failed() override { return !notFailed(); }
    int capacity() override { return Capacity; }

    // The bus timing registers of a bit rate; false (both 0) for a rate the
    // driver does not offer.
    static bool bitRateRegisters(int bitRate, quint8 &btr0, quint8 &btr1);
    // The text of a VCI result code ("Unknown error." for codes not listed).
    static QString vciErrorText(quint32 code);

    // The VCI library file (default: "vcinpl" from the platform folder
    // beside the executable, else from the system).
    void setLibraryFile(const QString &fileName) { m_libraryFile = fileName; }

protected:
    void run() override;

private:
    bool setVciError(quint32 code);
    void closeVciHandles();
    void stopThread();

    QWaitCondition *m_rxWake;
    bool m_opened = false;
    std::atomic<bool> m_stopRequested{false};
    // std::mutex rather than QMutex: visible to ThreadSanitizer.
    std::mutex m_waitMutex; // held by the thread around each receive-event wait
    std::mutex m_rxMutex;   // held by takeRx while it empties the receive queue
    // Set by the thread as its last act, so that close sees all it did
    // (QThread::wait alone is invisible to ThreadSanitizer).
    std::atomic<bool> m_threadDone{false};
    VSCAN_MSG m_rxBank[Capacity];
    VSCAN_MSG m_txStaging[TxCapacity];
    int m_txCount = 0;
    quint32 m_statusFlags = 0;
    std::unique_ptr<VciLibrary> m_vciLibrary;
    VCI_HANDLE m_vciDevice = nullptr;
    VCI_HANDLE m_vciControl = nullptr;
    VCI_HANDLE m_vciChannel = nullptr;
    VciCanCaps m_vciCaps = {};
    ZorTxStampClock m_txStamp;
    QElapsedTimer m_openTime;
    bool m_deviceOpen = false;
    bool m_opening = false;
    bool m_ok = true;
    quint32 m_lastErrorCode = 0;
    QString m_lastError;
    QString m_libraryFile;
};
