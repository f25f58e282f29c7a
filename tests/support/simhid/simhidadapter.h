// SimHidAdapter: a USB HID CAN adapter of the kind the USB HID drivers
// (ZorCanDriverBrenko, ZorCanDriverVedozovo) drive, put behind their HID
// seam (ZorHidApi) in place of hidapi. It reads the ASCII adapter protocol
// from 65-byte output reports ([0] report id, [1] 01h, [2] n, text, padding)
// and answers in 64-byte input reports ([0] report type 01h, [1] n, text).
// Its CAN side is a channel of the simulated CAN gateway named by
// QUORVANE_SIM_GATEWAY (through ZorSimBusClient), so frames reach the
// gateway's CANopen nodes and their answers come back.
//
// Commands: "" -> CR; "S0".."S8" -> CR (BEL while on the bus); "O" -> CR
// once the gateway channel is open at that rate (BEL without rate or
// gateway); "C" -> CR; "V" -> "V" + version() + CR; "N" -> "NSH01" CR;
// "F" -> "F" + 2 hex digits (the gateway's status flags ORed with
// setStatusFlags) + CR; "Z0"/"Z1" -> CR, time stamps on received frames;
// "Q" -> CR, then the adapter enters its bootloader: it is unplugged and
// onBootloader runs; frames "t", "T", "r", "R" go to the bus and come back
// as echo lines ("e" in front) once the gateway carried them (BEL when off
// the bus); anything else BEL. Received frames are lines in lower-case hex,
// with 4 digits of milliseconds while "Z1" is on.
//
// Test controls: unplugging (open fails, reads and writes of open handles
// fail, the channel goes off the bus), the product id, the version, raw
// text or raw reports to the host, a silent adapter, 65-byte reads, and a
// record of every report written. All members may be called from any
// thread.
#pragma once

#include "zorhidapi.h"
#include "zorsimbusclient.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>

class SimHidAdapter : public ZorHidApi
{
public:
    explicit SimHidAdapter(quint16 productId = 0xF708);
    ~SimHidAdapter() override;

    // ZorHidApi
    Device open(quint16 vendorId, quint16 productId) override;
    int setNonblocking(Device device, int nonblock) override;
    int write(Device device, const quint8 *data, size_t length) override;
    int readTimeout(Device device, quint8 *data, size_t length, int ms) override;
    void close(Device device) override;
    QString error(Device device) override;

    // Plugged in (default) or not; unplugging ends the open handles.
    void setPlugged(bool plugged);
    bool isPlugged() const;
    void setProductId(quint16 productId);
    void setVersion(const QString &version);
    QString version() const;
    // ORed into the "F" answer.
    void setStatusFlags(quint8 flags);
    // No answers to commands at all (frames still go to the bus).
    void setSilent(bool silent);
    // Reads return 65 bytes: a report id 0 in front of the 64-byte report.
    void setReadsWithReportId(bool on);
    // Text to the host in input reports, as the adapter would send it.
    void sendText(const QByteArray &text);
    // One read returns exactly these bytes.
    void sendReport(const QByteArray &bytes);
    // Runs (outside the adapter's locks) when the adapter enters its
    // bootloader on "Q".
    void setBootloaderHandler(const std::function<void()> &handler);

    // Every output report written, whole, in order.
    QList<QByteArray> reports() const;
    // The text of those reports (bytes 3 to 3 + n of each), joined.
    QByteArray writtenText() const;
    void clearWritten();
    // Successful opens so far; handles open now.
    int opens() const;
    int openHandles() const;
    // The channel is on the gateway's bus.
    bool isOnBus() const;

private:
    struct Session
    {
        bool alive = true;
    };

    void execute(const QByteArray &command);
    void answer(const QByteArray &text);
    void takeFramesFromBus();
    void unplugLocked();
    bool sessionAlive(Device device) const;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::mutex m_commandLock; // one write's commands at a time
    std::set<Session *> m_sessions;
    bool m_plugged = true;
    quint16 m_productId;
    QString m_version = QStringLiteral("1.2.0.0");
    quint8 m_statusFlags = 0;
    bool m_silent = false;
    bool m_readsWithReportId = false;
    std::deque<QByteArray> m_rawReports;
    QByteArray m_toHost;
    QByteArray m_partialCommand;
    QList<QByteArray> m_reports;
    int m_opens = 0;
    // Adapter state.
    int m_rateCode = -1;
    bool m_onBus = false;
    bool m_stamps = false;
    std::function<void()> m_bootloaderHandler;

    ZorSimBusClient m_bus;
};
