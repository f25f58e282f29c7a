// The one interface through which the CAN interface module reaches a CAN
// adapter. A driver gathers received frames in a bank that the module takes
// over once per cycle (takeRx, then rxFrame for each index), accepts frames
// to send into a staging array (queueTx) that flushTx passes on towards the
// adapter, and keeps status bits that statusText turns into a text.
//
// Frames cross this interface as 16-byte frame records (see ZorBabelFish):
// identifier, length, eight data bytes, flags, time stamp. Drivers set the
// flags 0x01 standard, 0x02 extended, 0x04 remote, 0x08 time stamp present
// and 0x80 on a frame that is the adapter's echo of one the program sent.
//
// Every call comes from the CAN interface module's thread. Drivers with a
// receive thread of their own guard what it shares with that thread.
// Nothing here throws; failures are results and lastErrorText.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>

class QThread;

class ZorAbstractCanDriver
{
public:
    // Status flag bits that more than one driver sets.
    enum StatusFlag : quint32 {
        StatusRxBankFull = 0x00000001,   // receive bank full, frames dropped
        StatusTxOverflow = 0x00400000,   // frames to send were dropped
    };
    // Bits statusText ORs into the caller's traffic bits.
    enum TrafficBit : int {
        TrafficErrorSeen = 4,
        TrafficBusPassive = 8,
    };

    virtual ~ZorAbstractCanDriver() = default;

    // Closes first if open, clears banks, counters and status, then opens
    // the device the port text names. True when the adapter is on the bus.
    virtual bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
                      int timestampMode) = 0;
    // Stops the receive side, takes the adapter off the bus, releases it.
    // Safe when not open.
    virtual void close() = 0;
    // Hands over the frames received since the last call: count frames may
    // now be read with rxFrame. Returns notFailed (false, count 0, when closed).
    virtual bool takeRx(int &count) = 0;
    // Packs received frame `index` of the taken bank into a 16-byte record;
    // false when index is at or above capacity. Callers stay below the count.
    virtual bool rxFrame(int index, QByteArray &record) = 0;
    // Stages one frame record to send; stamps the caller's record with the
    // transmit time stamp where the driver keeps one. False when not on the
    // bus or the record is not 16 bytes.
    virtual bool queueTx(QByteArray &record) = 0;
    // Passes the staged frames on towards the adapter. The CAN interface
    // passes true, queueTx passes false.
    virtual bool flushTx(bool fromModule) = 0;
    // Reads and clears the status flags into a text and ORs severity bits
    // into statusBits. Returns notFailed.
    virtual bool statusText(QString &text, int &statusBits) = 0;
    // Empty when there is no error.
    virtual QString lastErrorText() = 0;
    // True when the adapter reports sent frames back as received ones.
    virtual bool echoesTx() { return false; }
    // A driver whose takeRx waits for data asks this while it waits and
    // returns early when it says true (the module has work). Default: none.
    virtual void setWaitInterrupt(const std::function<bool()> &interrupted) { Q_UNUSED(interrupted); }

    // Adapter firmware update; only one driver implements it.
    virtual bool startFirmwareUpdate(const QString &targetVersion, QString &fileName)
    {
        Q_UNUSED(targetVersion);
        Q_UNUSED(fileName);
        return false;
    }
    // Below 0 error, 0 or 100 and above done, else percent.
    virtual int firmwareUpdateProgress() { return 0; }
    virtual void abortFirmwareUpdate() {}
    virtual QString firmwareVersion() { return QString(); }
    virtual bool firmwareUpdateNeeded(const QString &targetVersion)
    {
        Q_UNUSED(targetVersion);
        return false;
    }

    virtual bool notFailed() = 0;
    virtual bool isOpen() = 0;
    // Always !notFailed().
    virtual bool failed() = 0;
    // Size of one receive bank.
    virtual int capacity() = 0;

protected:
    // One status flag bit and its text, shown when the driver's debug level
    // is at least minLevel.
    struct StatusBitText {
        quint32 bit;
        int minLevel;
        const char *text;
    };
    // The texts of the table's bits that are set in flags and shown at
    // debugLevel, in table order, joined by ", "; empty when there are none.
    template <int N>
    static QString statusBitsText(quint32 flags, int debugLevel, const StatusBitText (&table)[N])
    {
        return statusBitsText(flags, debugLevel, table, N);
    }
    static QString statusBitsText(quint32 flags, int debugLevel, const StatusBitText *table,
                                  int count);

    // Ends a receive thread that has been asked to stop: waits up to waitMs
    // for it and terminates it when it has not ended by then. A thread that
    // ended is also waited for until it has set `done`, its last act, so that
    // all it did is seen by what the caller does next (QThread::wait alone is
    // invisible to ThreadSanitizer). True when the thread was terminated.
    static bool joinReceiveThread(QThread &thread, unsigned long waitMs,
                                  const std::atomic<bool> &done);
};
