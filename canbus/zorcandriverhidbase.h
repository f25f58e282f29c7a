// What the two USB HID CAN drivers (ZorCanDriverBrenko, ZorCanDriverVedozovo)
// share: the adapter carries the ASCII adapter protocol (see
// ZorAsciiAdapterProtocol) inside HID reports.
//
// Output report (PC to adapter), 65 bytes as handed to the HID layer:
//   [0] report id 0, [1] 0x01, [2] n = text bytes (1..62), [3..] the text,
//   then 0x20 up to 65 bytes. Longer texts go out in several reports.
// Input report (adapter to PC), normally 64 bytes (report id removed; a
// 65-byte read is taken after its first byte): [0] report type (ignored),
// [1] n, [2..] the text.
//
// A receive thread (this QThread's run) reads reports with a short time-out,
// turns BEL into CR (status bit 0x200000), follows XON/XOFF (no frames are
// sent after XOFF until XON) and appends the text for takeRx, which parses
// it in the caller's thread into a bank of 1024 frames. An adapter that
// disappears (a read fails) makes the driver "lost": takeRx reports "USB
// Error" and about once a second closes and re-initialises the device until
// it answers again, without a new open. Status bits, the flow-control state
// and the lost/ok state cross threads as atomics.
//
// Status bits and their texts ("HID CAN status: %1"):
//   0x100000 "USB Error"          0x200000 "BEL received (Command error)"
//   0x400000 "PC TX buffer overflow"   0x800000 "HID RX packet error"
//   0x10, 0x20, 0x40, 0x80 the adapter's error states (its "F" reply)
//   0x04 (debug level above 1), 0x08, 0x02, 0x01 (above 2); 0x01 is also
//   set when the receive bank overflows.
#pragma once

#include "zorabstractcandriver.h"
#include "zorasciiadapterprotocol.h"
#include "zorhidapi.h"

#include <QElapsedTimer>
#include <QThread>
#include <QVector>
#include <atomic>
#include <mutex>

class QWaitCondition;

class ZorCanDriverHidBase : public ZorAbstractCanDriver, public QThread
{
public:
    static constexpr int Capacity = 1024;
    static constexpr quint16 VendorId = 0x04D8;
    static constexpr int ReportSize = 65;
    static constexpr int ReportTextSize = 62;

    enum : quint32 {
        StatusUsbError = 0x00100000,
        StatusCommandError = 0x00200000,
        StatusTxOverflow = 0x00400000,
        StatusPacketError = 0x00800000,
    };

    // Waits and paces, in ms; tests make them short.
    struct Timing
    {
        int initReadMs = 100;      // each read while commands are sent
        int initPauseMs = 50;      // pause after each command
        int receiveReadMs = 50;    // each read of the receive thread
        int reconnectMs = 1000;    // between re-initialisations of a lost adapter
        int stopWaitMs = 5000;     // for the receive thread to end
        int pollMs = 500;          // status poll (drivers that poll)
    };

    // How one adapter kind differs.
    struct Kind
    {
        QVector<quint16> productIds;   // tried in this order
        bool drainBeforeCommand = false; // read until silent (else one read) before each command
        bool asciiOnly = false;         // keep only text bytes 1..127 of a report
        bool stampFromOpenTime = false; // frames without time stamp get the ms since open
    };

    ~ZorCanDriverHidBase() override;

    bool takeRx(int &count) override;
    bool rxFrame(int index, QByteArray &record) override;
    bool queueTx(QByteArray &record) override;
    bool flushTx(bool fromModule) override;
    bool statusText(QString &text, int &statusBits) override;
    bool notFailed() override { return m_ok.load() || m_deviceLost.load(); }
    bool isOpen() override { return m_opened; }
    bool failed() override { return !notFailed(); }
    int capacity() override { return Capacity; }

    void setTiming(const Timing &timing) { m_timing = timing; }
    Timing timing() const { return m_timing; }

    // The adapter accepts frames (the last flow-control character was XON).
    bool transmitAllowed() const { return m_xonOn.load(); }
    // A report read failed: the adapter is gone and is being re-opened.
    bool isDeviceLost() const { return m_deviceLost.load(); }

protected:
    ZorCanDriverHidBase(QWaitCondition *rxWake, ZorHidApi *hid, const Kind &kind);

    // The common open: closes, resets the channel, takes the debug level,
    // refuses a bit rate without a code, sends initCommands (each ended by
    // CR) through comInitDevice.
    bool openChannel(int bitRate, int debugLevel, const QByteArray &initCommands);
    // The common close: the close command, then the device is released.
    void closeChannel();
    // Resets the receive and transmit side for a new open.
    void resetChannel();
    // Opens the first adapter found, sends m_initCommands (reading the
    // version on "V"), starts the receive thread. False when no adapter was
    // found, a write failed or the thread still ran.
    bool comInitDevice();
    // Stops the receive thread and closes the device; an orderly close
    // first sends m_closeCommand.
    void comCloseDevice(bool afterFailure);
    // Sends text in output reports; false when a report did not go out
    // whole. An empty text sends nothing and gives true.
    bool comWrite(const QByteArray &text);
    // Reads one input report's text into text (cleared first); true when
    // text came.
    bool comRead(QByteArray &text, int timeoutMs);
    // The time stamp written into a queued frame's record; false: leave it.
    virtual bool transmitStamp(quint16 &stamp);
    // Called by takeRx after the received text was parsed (device open).
    virtual void afterReceive() {}
    // Developer trace; only the driver with a debug log writes it.
    virtual void trace(const QString &text) { Q_UNUSED(text); }

    void run() override;

    static int bitRateCode(int bitRate) { return ZorAsciiAdapterProtocol::bitRateCode(bitRate); }

    ZorHidApi *m_hid;
    Kind m_kind;
    Timing m_timing;
    QWaitCondition *m_rxWake;

    bool m_opened = false;
    std::atomic<bool> m_stopRequested{false};
    // std::mutex rather than QMutex: the same guarantees, and visible to
    // ThreadSanitizer, which cannot see into an uninstrumented QtCore.
    std::mutex m_hidMutex;        // held by the receive thread around each read
    std::mutex m_rxMutex;         // guards m_rxText
    // Set by the receive thread as its last act: orders all it did before
    // what the closing thread does after it ended (QThread::wait alone is
    // invisible to ThreadSanitizer).
    std::atomic<bool> m_threadDone{false};
    QByteArray m_initCommands;
    QByteArray m_closeCommand;
    QByteArray m_rxText;          // received text not yet parsed
    ZorAsciiAdapterProtocol m_protocol; // takeRx's parser (keeps an incomplete line)
    VSCAN_MSG m_rxBank[Capacity];
    VSCAN_MSG m_txStaging[Capacity];
    int m_rxCount = 0;
    int m_txCount = 0;
    std::atomic<quint32> m_statusFlags{0};
    int m_debugLevel = 0;
    std::atomic<bool> m_xonOn{true};
    QElapsedTimer m_openTime;
    ZorHidApi::Device m_hidDevice = nullptr;
    QElapsedTimer m_reconnectTimer;
    bool m_deviceOpen = false;
    std::atomic<bool> m_deviceLost{false};
    std::atomic<bool> m_ok{true};
    QString m_firmwareVersion;    // from the adapter's "V" reply, normalised
    QString m_errorText;          // a refusal of open (bit rate)

    // Normalises a version text (see ZorCanDriverBrenko::normalizeVersion).
    virtual QString versionFromReply(const QString &reply) { return reply; }
};
