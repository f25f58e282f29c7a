// ZorCanDriverVedozovo: the second ("magnetic") USB-CAN adapter of the same
// family as ZorCanDriverBrenko: the same 65-byte HID reports carrying the
// ASCII adapter protocol, receive thread, frame parsing, status texts and
// reconnection (ZorCanDriverHidBase), with these differences: only product
// 0059h is taken; open sends "C", "S<code>", "O" (no version, no time-stamp
// command); every report byte counts as text; frames without a time stamp
// get 0; the driver does not claim to echo, yet echo lines still give frames
// flagged 0x80; the adapter's status is polled with "F" about every 500 ms
// from takeRx while it accepts frames; queued frames are stamped on the
// adapter's clock (the last received time stamp plus the time since), and
// keep their own stamp until a frame has been received. No firmware update.
#pragma once

#include "zorcandriverhidbase.h"
#include "zortxstampclock.h"

class ZorCanDriverVedozovo : public ZorCanDriverHidBase
{
public:
    static constexpr quint16 ProductId = 0x0059;

    explicit ZorCanDriverVedozovo(QWaitCondition *rxWake = nullptr, ZorHidApi *hid = nullptr);
    ~ZorCanDriverVedozovo() override;

    // Only the bit rate and the debug level are used.
    bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
              int timestampMode) override;
    void close() override { closeChannel(); }
    // "USB Error" while the adapter is not ok (failed open, lost); a refused
    // bit rate; else empty.
    QString lastErrorText() override;

protected:
    bool transmitStamp(quint16 &stamp) override;
    void afterReceive() override;

private:
    QByteArray m_pollCommand;
    QElapsedTimer m_pollTimer;
    ZorTxStampClock m_txStamp;
};
