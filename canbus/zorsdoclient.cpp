#include "zorsdoclient.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"

#include <limits>

namespace {

const QString VisibleString = QStringLiteral("visible_string");

// Largest visible string an upload collects before the client gives up.
constexpr int MaxUploadBytes = 1 << 20;

bool isMarkedNumber(const QString &trimmed)
{
    return trimmed.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)
        || trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
        || trimmed.startsWith(QLatin1String("0b"), Qt::CaseInsensitive);
}

// Reads a decimal text as a 64-bit number; false when it is none.
bool readDecimal64(const QString &trimmed, qint64 &value)
{
    bool ok = false;
    value = trimmed.toLongLong(&ok, 10);
    return ok;
}

} // namespace

void ZorSdoClient::setBases(quint16 requestBase, quint16 responseBase)
{
    m_requestBase = requestBase;
    m_responseBase = responseBase;
}

bool ZorSdoClient::parseAddress(const QString &request, ZorSdoAddress &address)
{
    const QStringList fields = request.split(QLatin1Char(','));
    if (fields.size() < 3)
        return false;
    bool okNode = false, okIndex = false, okSub = false;
    const quint32 node = ZorBabelFish::stringToULong(fields.at(0), &okNode);
    const quint32 index = ZorBabelFish::stringToULong(fields.at(1), &okIndex);
    const quint32 sub = ZorBabelFish::stringToULong(fields.at(2), &okSub);
    if (!okNode || node < 1 || node > 127 || !okIndex || index > 0xffff || !okSub || sub > 0xff)
        return false;
    address.node = quint8(node);
    address.index = quint16(index);
    address.subIndex = quint8(sub);
    address.dataType = fields.value(3).trimmed().toLower();
    // The value is everything after the fourth comma, exactly as written;
    // a text that holds separators comes as a quoted field.
    address.value = fields.size() > 4 ? ZorBabelFish::unquoteField(request.section(QLatin1Char(','), 4))
                                      : QString();
    return true;
}

QString ZorSdoClient::addressText(int node, int index, int subIndex)
{
    return QStringLiteral("%1,%2h,%3h").arg(node).arg(index, 0, 16).arg(subIndex, 0, 16);
}

QString ZorSdoClient::addressText(int node, int index, int subIndex, const QString &fourth)
{
    return addressText(node, index, subIndex) + QLatin1Char(',') + fourth;
}

int ZorSdoClient::typeSize(const QString &type)
{
    if (type == QLatin1String("integer32") || type == QLatin1String("unsigned32"))
        return 4;
    if (type == QLatin1String("integer16") || type == QLatin1String("unsigned16"))
        return 2;
    if (type == QLatin1String("integer8") || type == QLatin1String("unsigned8"))
        return 1;
    if (type == VisibleString)
        return 0;
    return -1;
}

bool ZorSdoClient::isSignedType(const QString &type)
{
    return type.startsWith(QLatin1String("integer"));
}

bool ZorSdoClient::encodeValue(const QString &type, const QString &text, QByteArray &bytes)
{
    const int size = typeSize(type);
    if (size <= 0)
        return false;
    const QString t = text.trimmed();
    const int bits = size * 8;
    const quint64 mask = bits == 32 ? 0xffffffffull : (1ull << bits) - 1;
    quint32 pattern = 0;
    if (isSignedType(type) && !isMarkedNumber(t)) {
        qint64 v = 0;
        const qint64 min = -(qint64(1) << (bits - 1));
        const qint64 max = (qint64(1) << (bits - 1)) - 1;
        if (!readDecimal64(t, v) || v < min || v > max)
            return false;
        pattern = quint32(quint64(v) & mask);
    } else {
        bool ok = false;
        const quint32 v = ZorBabelFish::stringToULong(t, &ok);
        if (!ok || quint64(v) > mask)
            return false;
        pattern = v;
    }
    bytes = QByteArray(size, '\0');
    ZorCanExchange::putUnsigned(bytes, 0, pattern, size);
    return true;
}

QString ZorSdoClient::errorText(quint32 abortCode)
{
    return QStringLiteral("error code %1h").arg(abortCode, 8, 16, QLatin1Char('0'));
}

QString ZorSdoClient::readPattern(const ZorSdoAddress &a, const QString &given)
{
    if (given.isEmpty())
        return addressText(a.node, a.index, a.subIndex, a.dataType + QLatin1String(",*"));
    if (a.dataType == VisibleString)
        return given;
    const QStringList fields = given.split(QLatin1Char(','));
    if (fields.size() < 5)
        return given;
    // An expected value in any notation is compared in decimal, as the
    // answer writes it; "0h" too must match a zero answer.
    const QString expected = fields.at(4).trimmed();
    QString decimal;
    bool ok = false;
    if (isSignedType(a.dataType) && !isMarkedNumber(expected)) {
        qint64 v = 0;
        ok = readDecimal64(expected, v);
        decimal = QString::number(v);
    } else if (isSignedType(a.dataType)) {
        const int size = typeSize(a.dataType);
        const quint32 v = ZorBabelFish::stringToULong(expected, &ok);
        if (ok && size > 0 && size < 4 && v >= (1u << (size * 8)))
            ok = false;
        if (ok) {
            // A bit pattern of the type's width read as a signed number.
            const int shift = 32 - size * 8;
            decimal = QString::number(qint32(v << shift) >> shift);
        }
    } else {
        const quint32 v = ZorBabelFish::stringToULong(expected, &ok);
        decimal = QString::number(v);
    }
    if (!ok)
        return given;
    return QStringList(fields.mid(0, 4)).join(QLatin1Char(',')) + QLatin1Char(',') + decimal;
}

QString ZorSdoClient::writePattern(const ZorSdoAddress &a)
{
    return addressText(a.node, a.index, a.subIndex, QStringLiteral("*"));
}

quint8 ZorSdoClient::uploadCommand(const QString &type)
{
    switch (typeSize(type)) {
    case 4: return 0x43;
    case 2: return 0x4b;
    case 1: return 0x4f;
    case 0: return 0x41;
    default: return 0;
    }
}

QString ZorSdoClient::requestFrame(const QByteArray &data) const
{
    return ZorCanExchange::frameText(m_requestBase + m_address.node, data);
}

QString ZorSdoClient::initiateAnswer(const QString &command) const
{
    const int any = ZorCanExchange::AnyByte;
    return ZorCanExchange::patternText(m_responseBase + m_address.node, command,
                                       {m_address.index & 0xff, m_address.index >> 8, m_address.subIndex, any, any,
                                        any, any});
}

QString ZorSdoClient::segmentAnswer(const QString &command) const
{
    const int any = ZorCanExchange::AnyByte;
    return ZorCanExchange::patternText(m_responseBase + m_address.node, command, {any, any, any, any, any, any, any});
}

QString ZorSdoClient::abortExchange(quint32 code) const
{
    QByteArray data = ZorCanExchange::bytes8({0x80, m_address.index & 0xff, m_address.index >> 8,
                                              m_address.subIndex});
    ZorCanExchange::putUnsigned(data, 4, code, 4);
    return ZorCanExchange::line(0, requestFrame(data), ZorCanExchange::NoResponse);
}

bool ZorSdoClient::startRead(const ZorSdoAddress &address, int timeoutMs, QString &exchange)
{
    const quint8 expected = uploadCommand(address.dataType);
    if (!expected)
        return false;
    m_service = Read;
    m_address = address;
    m_timeoutMs = timeoutMs;
    m_expectedCommand = expected;
    m_inSegments = false;
    m_buffer.clear();
    m_size = -1;
    m_toggle = 0;
    const QByteArray data = ZorCanExchange::bytes8({0x40, address.index & 0xff, address.index >> 8,
                                                    address.subIndex});
    // Upload answers carry 40h..5Fh (scs 2); 80h is the abort.
    exchange = ZorCanExchange::line(timeoutMs, requestFrame(data), initiateAnswer(QStringLiteral("[458]?")));
    return true;
}

bool ZorSdoClient::startWrite(const ZorSdoAddress &address, int timeoutMs, bool noResponse,
                              QString &exchange, QString &error)
{
    error.clear();
    const int size = typeSize(address.dataType);
    if (size < 0)
        return false;
    QByteArray data = ZorCanExchange::bytes8({0, address.index & 0xff, address.index >> 8,
                                              address.subIndex});
    QByteArray payload;
    if (size > 0) {
        if (!encodeValue(address.dataType, address.value, payload)) {
            error = addressText(address.node, address.index, address.subIndex,
                                QStringLiteral("error - value '%1' is no %2")
                                    .arg(address.value.trimmed(), address.dataType));
            return false;
        }
        data[0] = char(size == 4 ? 0x23 : size == 2 ? 0x2b : 0x2f);
        data.replace(4, size, payload);
    } else {
        // A visible string goes byte for byte as Latin-1; a character that
        // has no Latin-1 byte would be written wrong, so it is refused.
        for (const QChar c : address.value) {
            if (c.unicode() > 0xff) {
                error = addressText(address.node, address.index, address.subIndex,
                                    QStringLiteral("error - value is no Latin-1 text"));
                return false;
            }
        }
        payload = address.value.toLatin1();
        data[0] = char(0x21);
        ZorCanExchange::putUnsigned(data, 4, quint32(payload.size()), 4);
    }
    m_service = Write;
    m_address = address;
    m_timeoutMs = timeoutMs;
    m_inSegments = false;
    m_buffer = size == 0 ? payload : QByteArray();
    m_sent = 0;
    m_toggle = 0;
    m_expectedCommand = 0x60;
    // A string's segments depend on the node's answers, so it always waits.
    exchange = ZorCanExchange::line(timeoutMs, requestFrame(data),
                                    noResponse && size > 0 ? ZorCanExchange::NoResponse
                                                           : initiateAnswer(QStringLiteral("[68]0")));
    return true;
}

ZorSdoClient::Step ZorSdoClient::failWith(quint32 code, bool sendAbort)
{
    Step step;
    if (sendAbort)
        step.exchange = abortExchange(code);
    const ZorSdoAddress &a = m_address;
    const QString text = errorText(code);
    step.answers << (m_service == Read ? addressText(a.node, a.index, a.subIndex,
                                                     a.dataType + QLatin1Char(',') + text)
                                       : addressText(a.node, a.index, a.subIndex, text));
    step.failed = true;
    step.finished = true;
    m_service = None;
    return step;
}

ZorSdoClient::Step ZorSdoClient::handleAnswer(const QString &answerText, bool exchangeOk)
{
    if (m_service == None)
        return Step();
    if (!exchangeOk) {
        // No answer (a time-out, a cancel): the transfer is over. A node
        // inside a segmented transfer is told, so that it takes a new one.
        Step step;
        if (m_inSegments)
            step.exchange = abortExchange(ProtocolTimedOut);
        m_service = None;
        return step;
    }
    if (!answerText.startsWith(ZorCanExchange::Kind + QLatin1Char(':')))
        return Step();
    // Each exchange of this client is one line; its received frame decides.
    const QString line = answerText.section(QLatin1Char('\n'), 0, 0);
    quint32 cobId = 0;
    QByteArray data;
    if (!ZorCanExchange::answerFrame(line, cobId, data) || data.size() != 8)
        return Step();
    const int node = int(cobId) - int(m_responseBase);
    if (node < 1 || node > 127 || node != m_address.node)
        return Step();
    const quint8 command = quint8(data.at(0));
    if (command == 0x80) {
        Step step;
        abortReceived(cobId, data, step);
        return step;
    }
    return m_service == Read ? readAnswer(command, data, node) : writeAnswer(command, data, node, exchangeOk);
}

bool ZorSdoClient::abortReceived(quint32 cobId, const QByteArray &data, Step &step)
{
    // Only an abort that names this transfer's object ends it.
    if (m_service == None || cobId != quint32(m_responseBase + m_address.node) || data.size() != 8
        || quint8(data.at(0)) != 0x80 || ZorCanExchange::getUnsigned(data, 1, 2) != m_address.index
        || quint8(data.at(3)) != m_address.subIndex)
        return false;
    step = failWith(ZorCanExchange::getUnsigned(data, 4, 4), false);
    return true;
}

ZorSdoClient::Step ZorSdoClient::writeAnswer(quint8 command, const QByteArray &data, int node,
                                             bool exchangeOk)
{
    const bool isString = m_address.dataType == VisibleString;
    if (!m_inSegments) {
        // Answer to the initiate request (60h: the exchange takes no other).
        if (command != 0x60)
            return Step();
        if (isString) {
            // Even an empty string needs its (empty) last segment: the node
            // writes the object only when the transfer ends.
            m_inSegments = true;
            return nextDownloadSegment();
        }
        Step step;
        step.answers << addressText(node, quint16(ZorCanExchange::getUnsigned(data, 1, 2)),
                                    quint8(data.at(3)), QStringLiteral("ok"));
        step.failed = !exchangeOk;
        step.finished = true;
        m_service = None;
        return step;
    }
    // Answer to a download segment: 20h or 30h by the toggle bit.
    if ((command & 0xef) != 0x20)
        return Step();
    if (((command >> 4) & 1) != m_toggle)
        return failWith(ToggleNotAlternated, true);
    m_toggle ^= 1;
    if (m_sent < m_buffer.size())
        return nextDownloadSegment();
    Step step;
    step.answers << addressText(m_address.node, m_address.index, m_address.subIndex, QStringLiteral("ok"));
    step.failed = !exchangeOk;
    step.finished = true;
    m_service = None;
    return step;
}

ZorSdoClient::Step ZorSdoClient::nextDownloadSegment()
{
    const int remaining = m_buffer.size() - m_sent;
    const int k = qMin(7, remaining);
    const bool last = remaining <= 7;
    QByteArray data(8, '\0');
    data[0] = char(last ? (m_toggle << 4) | ((7 - k) << 1) | 1 : (m_toggle << 4));
    data.replace(1, k, m_buffer.mid(m_sent, k));
    m_sent += k;
    // One exchange per segment: the answer of each decides on the next.
    // Segment answers are 20h and 30h (scs 1); the toggle is checked here.
    Step step;
    step.exchange = ZorCanExchange::line(m_timeoutMs, requestFrame(data), segmentAnswer(QStringLiteral("[23]0")));
    return step;
}

ZorSdoClient::Step ZorSdoClient::readAnswer(quint8 command, const QByteArray &data, int node)
{
    const bool isString = m_address.dataType == VisibleString;
    const int index = int(ZorCanExchange::getUnsigned(data, 1, 2));
    const int sub = quint8(data.at(3));
    if (!m_inSegments) {
        if (!isString) {
            // Expedited upload; 42h (size not indicated) stands for the
            // size of the type.
            if (command == 0x42)
                command = m_expectedCommand;
            if ((command & 0xf3) != 0x43)
                return Step();
            const int unused = (command >> 2) & 3;
            if (unused == 1)
                return Step();
            const int size = 4 - unused;
            const quint32 raw = ZorCanExchange::getUnsigned(data, 4, size);
            const int shift = 32 - size * 8;
            const qint32 signedValue = qint32(raw << shift) >> shift;
            const QString bits = QString::number(size * 8);
            const QString unsignedText = addressText(node, index, sub, QLatin1String("unsigned") + bits
                                                                          + QLatin1Char(',') + QString::number(raw));
            const QString signedText = addressText(node, index, sub, QLatin1String("integer") + bits
                                                                        + QLatin1Char(',') + QString::number(signedValue));
            Step step;
            // The served type's twin first; the line's expected answer takes
            // the one that fits.
            if (isSignedType(m_address.dataType))
                step.answers << signedText << unsignedText;
            else
                step.answers << unsignedText << signedText;
            step.finished = true;
            m_service = None;
            return step;
        }
        // A visible string: expedited (with or without size) or segmented.
        if ((command & 0xe3) == 0x43 || command == 0x42) {
            const int size = command == 0x42 ? 4 : 4 - ((command >> 2) & 3);
            m_buffer = data.mid(4, size);
            return finishString();
        }
        if ((command & 0xe2) == 0x40 && !(command & 0x02)) {
            m_inSegments = true;
            m_size = (command & 0x01) ? qint64(ZorCanExchange::getUnsigned(data, 4, 4)) : -1;
            m_buffer.clear();
            m_toggle = 0;
            if (m_size == 0)
                return finishString();
            return nextUploadSegment();
        }
        return Step();
    }
    // An upload segment: 0 t nnn c (the exchange takes no other).
    if ((command & 0xe0) != 0x00)
        return Step();
    if (((command >> 4) & 1) != m_toggle)
        return failWith(ToggleNotAlternated, true);
    const bool last = command & 0x01;
    const int bytes = last ? 7 - ((command >> 1) & 7) : 7;
    m_buffer += data.mid(1, bytes);
    if (last)
        return finishString();
    if (m_buffer.size() > (m_size >= 0 ? m_size : MaxUploadBytes))
        return failWith(OutOfMemory, true);
    m_toggle ^= 1;
    return nextUploadSegment();
}

ZorSdoClient::Step ZorSdoClient::nextUploadSegment()
{
    const QByteArray data = ZorCanExchange::bytes8({0x60 | (m_toggle << 4)});
    // Upload segments are 00h..1Fh (scs 0); the toggle is checked here.
    Step step;
    step.exchange = ZorCanExchange::line(m_timeoutMs, requestFrame(data), segmentAnswer(QStringLiteral("[01]?")));
    return step;
}

ZorSdoClient::Step ZorSdoClient::finishString()
{
    QByteArray bytes = m_buffer;
    if (m_size >= 0 && bytes.size() > m_size)
        bytes.truncate(int(m_size));
    // Every Latin-1 byte is kept; only control bytes (a terminating zero, a
    // line feed that would split the result line) are left out.
    QString text;
    text.reserve(bytes.size());
    for (char c : qAsConst(bytes)) {
        if (quint8(c) >= 0x20)
            text += QChar(quint8(c));
    }
    Step step;
    step.answers << addressText(m_address.node, m_address.index, m_address.subIndex,
                                VisibleString + QLatin1Char(',') + text);
    step.finished = true;
    m_service = None;
    return step;
}
