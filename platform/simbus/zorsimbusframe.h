// One CAN frame as the stand-in layers carry it to and from the simulated CAN
// gateway, and its line in the ASCII adapter protocol ("t1232aabb",
// "T1234abcd2a0b0", "r7ff0", "R000001230").
#pragma once

#include <QByteArray>
#include <QtGlobal>

struct ZorSimBusFrame
{
    quint32 id = 0;        // 11 bits, or 29 bits when extended
    bool extended = false; // 29-bit identifier
    bool remote = false;   // remote frame: len counts, data is not carried
    quint8 len = 0;        // data length code, 0 to 8
    quint8 data[8] = {};
    // Received frames only: true for the client's own frame coming back once
    // the gateway put it on the bus (see ZorSimBusClient::setEchoes).
    bool echo = false;
    // Received frames only: microseconds on the client's monotonic clock
    // (ZorSimBusClient::elapsedMicroseconds) when the frame arrived.
    qint64 stampUs = 0;

    // Length 0..8 and an identifier that fits 11 (29) bits.
    bool isValid() const;

    // The frame's line without CR: letter by remote/extended, the identifier
    // as 3 (8) lower-case hex digits, the length digit, then the data digits
    // (none for a remote frame unless withRemoteData). Empty when !isValid().
    QByteArray toLine(bool withRemoteData = false) const;

    // Parses a frame line without its CR and without an "e" in front. The
    // data part may be followed by 4 hex digits of time stamp (returned in
    // *stamp when given, -1 without); a remote frame may carry data digits,
    // which are ignored. False for anything else (bad letter, non-hex digit,
    // length above 8, identifier beyond 11 (29) bits, wrong digit count).
    static bool fromLine(const char *line, int size, ZorSimBusFrame *frame, int *stamp = nullptr);
    static bool fromLine(const QByteArray &line, ZorSimBusFrame *frame, int *stamp = nullptr)
    {
        return fromLine(line.constData(), line.size(), frame, stamp);
    }
};
