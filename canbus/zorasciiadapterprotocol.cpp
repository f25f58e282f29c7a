#include "zorasciiadapterprotocol.h"

#include "hexdigits.h"

#include <QCoreApplication>
#include <cstring>

namespace {

struct RateCode {
    int bitRate;
    int code;
};
const RateCode rateCodes[] = {
    {1000000, 8}, {800000, 7}, {500000, 6}, {250000, 5},
    {125000, 4},  {100000, 3}, {50000, 2},  {20000, 1},
};

} // namespace

int ZorAsciiAdapterProtocol::bitRateCode(int bitRate)
{
    for (const RateCode &r : rateCodes) {
        if (r.bitRate == bitRate)
            return r.code;
    }
    return -1;
}

QByteArray ZorAsciiAdapterProtocol::bitRateCommand(int code)
{
    QByteArray command("S");
    command.append(char('0' + code));
    command.append(CR);
    return command;
}

QString ZorAsciiAdapterProtocol::unsupportedBitRateText(int bitRate)
{
    return QCoreApplication::translate(
               "ZorAsciiAdapterProtocol",
               "Unsupported bit rate %1 bit/s: the adapter runs at 20000, 50000, 100000, "
               "125000, 250000, 500000, 800000 or 1000000 bit/s")
        .arg(bitRate);
}

bool ZorAsciiAdapterProtocol::appendFrameCommand(QByteArray &out, const VSCAN_MSG &frame,
                                                 bool withRemoteData)
{
    const bool extended = frame.Flags & VSCAN_FLAGS_EXTENDED;
    const bool remote = frame.Flags & VSCAN_FLAGS_REMOTE;
    if (frame.Size > 8 || frame.Id > (extended ? 0x1fffffffu : 0x7ffu))
        return false;
    out.append(extended ? (remote ? 'R' : 'T') : (remote ? 'r' : 't'));
    hexdigits::append(out, frame.Id, extended ? 8 : 3);
    out.append(char('0' + frame.Size));
    if (!remote || withRemoteData) {
        for (int i = 0; i < frame.Size; ++i)
            hexdigits::append(out, frame.Data[i], 2);
    }
    out.append(CR);
    return true;
}

QByteArray ZorAsciiAdapterProtocol::frameCommand(const VSCAN_MSG &frame, bool withRemoteData)
{
    QByteArray out;
    appendFrameCommand(out, frame, withRemoteData);
    return out;
}

ZorAsciiAdapterProtocol::LineKind ZorAsciiAdapterProtocol::parseLine(const char *line, int length,
                                                                     bool acceptEchoes,
                                                                     VSCAN_MSG &frame,
                                                                     quint8 &status)
{
    int at = 0;
    bool echo = false;
    if (acceptEchoes && length > 0 && line[0] == ECHO_MARK) {
        echo = true;
        at = 1;
    }
    if (at >= length)
        return LineIgnored;
    const char kind = line[at];
    if (kind == 'F') {
        if (length - at < 3)
            return LineIgnored;
        const int64_t value = hexdigits::number(line + at + 1, 2);
        if (value < 0)
            return LineIgnored;
        status = quint8(value);
        return LineStatus;
    }
    if (kind != 't' && kind != 'T' && kind != 'r' && kind != 'R')
        return LineIgnored;
    const bool extended = kind == 'T' || kind == 'R';
    const bool remote = kind == 'r' || kind == 'R';
    const int idDigits = extended ? 8 : 3;
    const int lengthAt = at + 1 + idDigits;
    if (lengthAt >= length)
        return LineIgnored;
    const int64_t id = hexdigits::number(line + at + 1, idDigits);
    const int64_t dlc = hexdigits::number(line + lengthAt, 1);
    if (id < 0 || dlc < 0 || dlc > 8)
        return LineIgnored;

    // Data digits then, when the adapter's time stamps are on, 4 digits of
    // time stamp. Characters that are not hex digits are skipped; at most
    // 2 * length + 4 characters belong to a data frame. A remote frame
    // carries no data whatever its length digit says: the rest of its line
    // is a time stamp or nothing.
    quint8 bytes[10];
    int digits = 0;
    const int dataAt = lengthAt + 1;
    const int dataBytes = remote ? 0 : int(dlc);
    const int span = remote ? length - dataAt : qMin(length - dataAt, 2 * dataBytes + 4);
    for (int i = 0; i < span; ++i) {
        const int d = hexdigits::value(line[dataAt + i]);
        if (d < 0)
            continue;
        if (digits / 2 >= int(sizeof bytes))
            return LineIgnored;
        if (digits % 2 == 0)
            bytes[digits / 2] = quint8(d << 4);
        else
            bytes[digits / 2] |= quint8(d);
        ++digits;
    }
    const bool stamped = digits == 2 * dataBytes + 4;
    if (digits != 2 * dataBytes && !stamped)
        return LineIgnored;

    frame = VSCAN_MSG();
    frame.Id = quint32(id);
    frame.Size = quint8(dlc);
    std::memcpy(frame.Data, bytes, size_t(dataBytes));
    frame.Flags = quint8((echo ? ZOR_FLAGS_ECHO : 0) | (remote ? VSCAN_FLAGS_REMOTE : 0)
                         | (extended ? VSCAN_FLAGS_EXTENDED : VSCAN_FLAGS_STANDARD));
    if (stamped) {
        frame.Flags |= VSCAN_FLAGS_TIMESTAMP;
        frame.Timestamp = quint16((bytes[dataBytes] << 8) | bytes[dataBytes + 1]);
    }
    return LineFrame;
}

bool ZorAsciiAdapterProtocol::hasCompleteLine() const
{
    for (const char c : m_pending) {
        if (c == CR || c == BEL || (m_flowControl && (c == XON || c == XOFF)))
            return true;
    }
    return false;
}

void ZorAsciiAdapterProtocol::reset()
{
    m_pending.clear();
    m_discarding = false;
    m_xon = true;
}

int ZorAsciiAdapterProtocol::feed(const QByteArray &bytes, VSCAN_MSG *frames, int capacity,
                                  int &count, quint32 &statusFlags)
{
    m_pending.append(bytes);
    const int before = count;
    char *text = m_pending.data();
    const int size = m_pending.size();
    int lineStart = 0;
    bool stoppedFull = false;
    for (int i = 0; i < size; ++i) {
        char c = text[i];
        if (c == BEL) {
            // A refused command ends a line like a reply.
            statusFlags |= m_commandErrorBit;
            c = CR;
        } else if (m_flowControl && (c == XON || c == XOFF)) {
            m_xon = c == XON;
            c = CR;
        }
        if (c != CR)
            continue;
        const int lineLength = i - lineStart;
        if (m_discarding) {
            // The end of an overlong line whose start was dropped.
            m_discarding = false;
            lineStart = i + 1;
            continue;
        }
        if (lineLength > 0 && count >= capacity && m_keepWhenFull) {
            stoppedFull = true; // this line and the rest wait for the next feed
            break;
        }
        // No adapter line is this long: garbage, whatever it begins with, and
        // ignored the same whether it came in one read or in several.
        if (lineLength > 0 && lineLength <= MaxPendingText) {
            VSCAN_MSG frame;
            quint8 status = 0;
            switch (parseLine(text + lineStart, lineLength, m_acceptEchoes, frame, status)) {
            case LineStatus:
                statusFlags |= status;
                break;
            case LineFrame:
                if (count < capacity)
                    frames[count++] = frame;
                else
                    statusFlags |= m_overflowBit;
                break;
            case LineIgnored:
                break;
            }
        }
        lineStart = i + 1;
    }
    m_pending.remove(0, lineStart);
    if (!stoppedFull && m_pending.size() > MaxPendingText) {
        // An overlong line: dropped up to its end, never parsed from its
        // middle once more bytes arrive.
        m_pending.clear();
        m_discarding = true;
    }
    return count - before;
}
