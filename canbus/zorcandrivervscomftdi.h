// ZorCanDriverVSComFtdi: a USB-CAN adapter that is a serial line behind an
// FTDI chip, speaking the ASCII adapter protocol (ZorAsciiAdapterProtocol)
// at 3,000,000 baud, reached through the FTDI D2XX library (FtdiLibrary,
// bound by name once for the whole program).
//
// Port text: empty for the first FTDI device, "COM7" (or "7") for the
// device the system shows as serial port 7. open sends "C", "C", "N", "V",
// "S<code>", "Z1", "O", each answered before the next (time stamps are
// always on); an adapter that does not answer within the read time-out
// fails the open with "Device not responding. Try unplug/replug.".
//
// A thread of its own moves the bytes: it wakes on the chip's receive
// notification (or every 5 ms), reads what arrived, writes queued frame
// lines while the chip's CTS is set, polls the adapter's status with "F"
// every 52nd pass, and reopens the adapter by itself when a D2XX call
// fails ("USB Error"), when CTS stays off (reset through FT_ResetPort,
// "Device Reset") or after a long bus error. takeRx parses the bytes in the
// caller's thread. One lock for all devices and the binding (like the
// library's own) guards every D2XX call and what the thread shares: the
// received bytes, the frame lines to send, the status bits and the last
// D2XX result.
//
// Status texts ("brenko CAN: %1"): 0x800 "Device Reset", 0x400 "PC TX
// buffer overflow", 0x200 "USB Error", 0x100 "Device Error" (BEL), 0x1
// "RX_FIFO_FULL", 0x8 "DATA_OVERRUN", 0x20 "ERR_PASSIVE", 0x80 "BUS_ERROR",
// then 0x4 "ERR_WARNING" (debug level above 1), 0x40 "ARBIT_LOST" (above 2).
#pragma once

#include "zorabstractcandriver.h"
#include "zorasciiadapterprotocol.h"
#include "zortxstampclock.h"

#include <QByteArray>
#include <QList>
#include <atomic>
#include <memory>

class QThread;
class QWaitCondition;

class ZorCanDriverVSComFtdi : public ZorAbstractCanDriver
{
public:
    static constexpr int Capacity = 512;
    static constexpr int RawCapacity = 8192;
    static constexpr int MaxTxLines = 1024;
    static constexpr int BaudRate = 3000000;

    enum : quint32 {
        StatusDeviceError = 0x100,  // BEL: the adapter refused a command
        StatusUsbError = 0x200,
        StatusTxOverflow = 0x400,
        StatusDeviceReset = 0x800,
    };
    // lastStatus besides the D2XX results.
    enum : int {
        ShortTransfer = 512,
        NoReply = -100,
    };

    // Waits and paces, in ms or passes; tests make them short.
    struct Timing
    {
        int replyTimeoutMs = 2000;  // the chip's read and write time-outs
        int passWaitMs = 5;         // the thread's wait for received bytes
        int recoveryWaitMs = 1000;  // before each attempt to reopen
        int stopWaitMs = 5000;      // for the thread to end
        int pollPasses = 50;        // "F" after this many passes (and one more)
        int stuckPasses = 100;      // CTS off or bus error for this many passes
    };

    explicit ZorCanDriverVSComFtdi(QWaitCondition *rxWake = nullptr);
    ~ZorCanDriverVSComFtdi() override;

    // Binds the D2XX library once for the program (the main window calls it
    // at start; open binds on first use when nobody did). True when bound.
    static bool loadDriverLibrary(const QString &fileName = QString());
    // Frees the binding (the main window calls it when it is torn down).
    static void unloadDriverLibrary();
    static bool libraryBound();
    // The index of the FTDI device the port text names, or -1.
    static int findDeviceIndex(const QString &portText);

    bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
              int timestampMode) override;
    void close() override;
    bool takeRx(int &count) override;
    bool rxFrame(int index, QByteArray &record) override;
    bool queueTx(QByteArray &record) override;
    bool flushTx(bool fromModule) override;
    bool statusText(QString &text, int &statusBits) override;
    QString lastErrorText() override;
    bool notFailed() override;
    bool isOpen() override { return m_opened; }
    bool failed() override { return !notFailed(); }
    int capacity() override { return Capacity; }

    void setTiming(const Timing &timing) { m_timing = timing; }
    Timing timing() const { return m_timing; }
    // The adapter is being reopened after a failure.
    bool isRecovering() const { return m_recovering.load(); }

private:
    struct Event;

    int startDevice();
    bool stopDevice();
    int initDevice(bool full);
    void closeDevice(bool skipCloseCommand);
    void threadMain();
    static void notifyReceived(void *context, uint32_t events);

    bool m_opened = false;
    int m_deviceIndex = -1;
    quint8 m_oldLatency = 0;
    std::unique_ptr<Event> m_rxEvent;
    QThread *m_thread = nullptr;
    void *m_ftHandle = nullptr;         // under the lock
    int m_lastStatus = 0;               // under the lock
    quint32 m_statusFlags = 0;          // under the lock
    QWaitCondition *m_rxWake;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_deviceOpen{false};
    std::atomic<bool> m_recovering{false};
    // Set by the thread as its last act, so that stopDevice sees all it did
    // (QThread::wait alone is invisible to ThreadSanitizer).
    std::atomic<bool> m_threadDone{false};
    QByteArray m_rxRaw;                 // under the lock
    QList<QByteArray> m_txLines;        // under the lock
    QByteArray m_initCommands;
    QByteArray m_closeCommand;
    QByteArray m_pollCommand;
    ZorAsciiAdapterProtocol m_protocol; // takeRx's parser
    VSCAN_MSG m_rxBank[Capacity];
    VSCAN_MSG m_txStaging[Capacity];
    int m_rxCount = 0;
    int m_txCount = 0;
    int m_debugLevel = 0;
    ZorTxStampClock m_txStamp;
    QString m_errorText;                // a refusal of open (bit rate)
    Timing m_timing;
};
