#include "lawicelreplyparser.h"

#include "hexdigits.h"

namespace {

const uint8_t CR = 13;
const uint8_t BEL = 7;

bool isFrameKind(char kind)
{
    return kind == 't' || kind == 'T' || kind == 'r' || kind == 'R';
}

bool isExtended(char kind)
{
    return kind == 'T' || kind == 'R';
}

} // namespace

void LawicelReplyParser::feed(const uint8_t *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        if (m_kind)
            collect(bytes[i]);
        else
            dispatch(bytes[i]);
    }
}

void LawicelReplyParser::dispatch(uint8_t byte)
{
    m_have = 0;
    m_headerDone = false;
    switch (byte) {
    case BEL:
        if (m_handlers.commandAnswer)
            m_handlers.commandAnswer(false);
        return;
    case CR:
        if (m_handlers.commandAnswer)
            m_handlers.commandAnswer(true);
        return;
    case 'V':
    case 'N':
        m_need = 5;
        break;
    case 'F':
        m_need = 3;
        break;
    case 'z':
    case 'Z':
        m_need = 1;
        break;
    case 't':
    case 'r':
        m_need = 4;
        break;
    case 'T':
    case 'R':
        m_need = 9;
        break;
    default:
        return; // nothing the plug-in asked for
    }
    m_kind = char(byte);
}

void LawicelReplyParser::collect(uint8_t byte)
{
    if (byte == BEL) {
        // A refusal in the middle of an answer: the answer is lost, the
        // refusal counts.
        reset();
        dispatch(byte);
        return;
    }
    m_buffer[m_have++] = byte;
    if (byte == CR && m_have < m_need) {
        reset(); // a line shorter than its kind: dropped
        return;
    }
    if (m_have < m_need)
        return;
    if (isFrameKind(m_kind) && !m_headerDone) {
        const int idDigits = isExtended(m_kind) ? 8 : 3;
        const int64_t id = hexdigits::number(m_buffer, idDigits);
        const int len = hexdigits::value(m_buffer[idDigits]);
        if (id < 0 || len < 0 || len > 8) {
            reset(); // the rest of the line is ignored byte by byte
            return;
        }
        m_headerDone = true;
        m_need += (m_kind == 't' || m_kind == 'T') ? 2 * len + 1 : 1;
        return;
    }
    finish();
}

void LawicelReplyParser::finish()
{
    const char kind = m_kind;
    const uint8_t last = m_buffer[m_have - 1];
    reset();
    if (last != CR) {
        // Not where the answer should end: drop it, and let the byte start
        // whatever comes next.
        dispatch(last);
        return;
    }
    switch (kind) {
    case 'V':
        if (m_handlers.versionAnswer)
            m_handlers.versionAnswer(reinterpret_cast<const char *>(m_buffer));
        return;
    case 'F':
        if (m_handlers.statusAnswer)
            m_handlers.statusAnswer(reinterpret_cast<const char *>(m_buffer));
        return;
    case 'z':
    case 'Z':
        if (m_handlers.transmitAnswer)
            m_handlers.transmitAnswer();
        return;
    case 'N':
        return; // serial number: nothing waits for it
    default:
        break;
    }
    const bool extended = isExtended(kind);
    const bool remote = kind == 'r' || kind == 'R';
    const int idDigits = extended ? 8 : 3;
    CanPortFrame frame{};
    frame.id = int32_t(hexdigits::number(m_buffer, idDigits) & (extended ? 0x1FFFFFFF : 0x7FF));
    frame.len = hexdigits::value(m_buffer[idDigits]);
    frame.flags = (remote ? BUSLINK_FLAG_REMOTE : 0) | (extended ? BUSLINK_FLAG_EXTENDED : 0);
    if (!remote) {
        for (int i = 0; i < frame.len; ++i) {
            const int64_t b = hexdigits::number(m_buffer + idDigits + 1 + 2 * i, 2);
            if (b < 0)
                return; // not a data byte: the line is dropped
            frame.data[i] = uint8_t(b);
        }
    }
    if (m_handlers.frame)
        m_handlers.frame(frame);
}
