#include "zorsimbusframe.h"

#include "hexdigits.h"

bool ZorSimBusFrame::isValid() const
{
    return len <= 8 && id <= (extended ? 0x1FFFFFFFu : 0x7FFu);
}

QByteArray ZorSimBusFrame::toLine(bool withRemoteData) const
{
    QByteArray line;
    if (!isValid())
        return line;
    line.reserve(1 + 8 + 1 + 16);
    line.append(remote ? (extended ? 'R' : 'r') : (extended ? 'T' : 't'));
    hexdigits::append(line, id, extended ? 8 : 3);
    line.append(char('0' + len));
    if (!remote || withRemoteData) {
        for (int i = 0; i < len; ++i)
            hexdigits::append(line, data[i], 2);
    }
    return line;
}

bool ZorSimBusFrame::fromLine(const char *line, int size, ZorSimBusFrame *frame, int *stamp)
{
    if (size < 1)
        return false;
    const char c = line[0];
    const bool ext = c == 'T' || c == 'R';
    const bool rtr = c == 'r' || c == 'R';
    if (!ext && !rtr && c != 't')
        return false;
    const int idDigits = ext ? 8 : 3;
    if (size < 1 + idDigits + 1)
        return false;
    const int64_t id = hexdigits::number(line + 1, idDigits);
    const int64_t len = hexdigits::number(line + 1 + idDigits, 1);
    if (id < 0 || len < 0 || len > 8 || id > (ext ? 0x1FFFFFFF : 0x7FF))
        return false;
    const char *rest = line + 2 + idDigits;
    const int restSize = size - 2 - idDigits;
    // Data digits (none for a remote frame, or as many as the length says),
    // then optionally four digits of time stamp.
    int dataDigits;
    if (rtr)
        dataDigits = (restSize == 2 * len || restSize == 2 * len + 4) && len > 0 ? int(2 * len) : 0;
    else
        dataDigits = int(2 * len);
    const int stampDigits = restSize - dataDigits;
    if (stampDigits != 0 && stampDigits != 4)
        return false;
    ZorSimBusFrame f;
    f.id = quint32(id);
    f.extended = ext;
    f.remote = rtr;
    f.len = quint8(len);
    for (int i = 0; i < dataDigits / 2; ++i) {
        const int64_t b = hexdigits::number(rest + 2 * i, 2);
        if (b < 0)
            return false;
        if (!rtr)
            f.data[i] = quint8(b);
    }
    int stampValue = -1;
    if (stampDigits == 4) {
        const int64_t s = hexdigits::number(rest + dataDigits, 4);
        if (s < 0)
            return false;
        stampValue = int(s);
    }
    *frame = f;
    if (stamp)
        *stamp = stampValue;
    return true;
}
