#include "zorbabelfish.h"

#include <QAbstractItemModel>
#include <QModelIndex>
#include <QScriptEngine>
#include <QStringList>
#include <QVarLengthArray>
#include <cmath>
#include <limits>

namespace {

const char HexDigits[] = "0123456789abcdef";

int digitValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Reads a non-empty run of digits of one base and nothing else (no sign, no
// blank, no second marker). False on overflow past 64 bits.
bool readDigits(QStringView s, int base, quint64 &out)
{
    if (s.isEmpty())
        return false;
    quint64 v = 0;
    for (QChar c : s) {
        const int d = digitValue(c);
        if (d < 0 || d >= base)
            return false;
        if (v > (std::numeric_limits<quint64>::max() - quint64(d)) / quint64(base))
            return false;
        v = v * quint64(base) + quint64(d);
    }
    out = v;
    return true;
}

// A decimal number with an optional sign; `negative` tells which one.
bool readDecimal(QStringView s, bool &negative, quint64 &magnitude)
{
    negative = false;
    if (!s.isEmpty() && (s.front() == QLatin1Char('+') || s.front() == QLatin1Char('-'))) {
        negative = s.front() == QLatin1Char('-');
        s = s.mid(1);
    }
    return readDigits(s, 10, magnitude);
}

enum class Notation { Hex, Bin, Dec };

// Picks the notation of a trimmed number text and the part holding its digits.
// The "h" suffix is tested first, so "0bf8h" is hexadecimal. Markers are
// read in either letter case ("0X1F", "1FH").
Notation notationOf(QStringView t, QStringView &digits)
{
    if (t.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)) {
        digits = t.left(t.size() - 1);
        return Notation::Hex;
    }
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        digits = t.mid(2);
        return Notation::Hex;
    }
    if (t.startsWith(QLatin1String("0b"), Qt::CaseInsensitive)) {
        digits = t.mid(2);
        return Notation::Bin;
    }
    digits = t;
    return Notation::Dec;
}

template <typename T>
T setOk(bool *ok, bool value, T result)
{
    if (ok)
        *ok = value;
    return result;
}

// Unsigned decimal without sign, within `max`.
bool readUnsignedDecimal(QStringView s, quint64 max, quint64 &out)
{
    bool negative = false;
    quint64 v = 0;
    if (!readDecimal(s, negative, v) || (negative && v != 0) || v > max)
        return false;
    out = v;
    return true;
}

void appendHexByte(QString &s, quint8 b)
{
    s += QLatin1Char(HexDigits[b >> 4]);
    s += QLatin1Char(HexDigits[b & 0x0f]);
}

// Hexadecimal digits of a text read in pairs into bytes. Characters that are
// not hexadecimal digits are skipped; digits pair from the end, so an odd
// count leaves the first byte with one digit.
QByteArray hexPairsToBytes(QStringView s)
{
    QVarLengthArray<quint8, 64> digits;
    for (QChar c : s) {
        const int d = digitValue(c);
        if (d >= 0)
            digits.append(quint8(d));
    }
    QByteArray out;
    out.reserve((digits.size() + 1) / 2);
    int i = 0;
    if (digits.size() % 2) {
        out.append(char(digits[0]));
        i = 1;
    }
    for (; i + 1 < digits.size(); i += 2)
        out.append(char((digits[i] << 4) | digits[i + 1]));
    return out;
}

quint8 byteAt(const QByteArray &a, int i)
{
    return quint8(a.at(i));
}

bool isRecord(const QByteArray &a)
{
    return a.size() == ZOR_FRAME_RECORD_SIZE;
}

QString idPrefix(quint8 flags)
{
    const bool remote = flags & VSCAN_FLAGS_REMOTE;
    const bool extended = flags & VSCAN_FLAGS_EXTENDED;
    if (remote && extended)
        return QStringLiteral("Rext ");
    if (extended)
        return QStringLiteral("ext ");
    if (remote)
        return QStringLiteral("R ");
    return QString();
}

void appendCanIdStr(QString &s, const QByteArray &record)
{
    s += idPrefix(ZorBabelFish::fromQbytearrayToFlags(record));
    s += QString::number(ZorBabelFish::fromQbytearrayToCanId(record), 16);
    s += QLatin1Char('h');
}

void appendDataStr(QString &s, const QByteArray &record)
{
    // The length byte counts as signed here: 9..127 show all eight bytes,
    // 128 and more none.
    const qint8 size = qint8(byteAt(record, 4));
    const int count = size >= 8 ? 8 : (size > 0 ? size : 0);
    for (int i = 0; i < count; ++i) {
        if (i)
            s += QLatin1Char(' ');
        appendHexByte(s, byteAt(record, 5 + i));
    }
}

// Little-endian integer of `width` bytes at `offset`, false when out of range.
bool readLittleEndian(const QByteArray &data, int offset, int width, quint32 &out)
{
    if (offset < 0 || offset > data.size() - width)
        return false;
    quint32 v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | byteAt(data, offset + i);
    out = v;
    return true;
}

} // namespace

// ---- Number texts ----------------------------------------------------------

qint32 ZorBabelFish::stringToLong(const QString &text, bool *ok)
{
    const QString t = text.trimmed();
    QStringView digits;
    quint64 v = 0;
    const Notation notation = notationOf(t, digits);
    switch (notation) {
    case Notation::Hex:
    case Notation::Bin: {
        const int base = notation == Notation::Hex ? 16 : 2;
        // Read as a signed 64-bit number, keep the low 32 bits.
        if (!readDigits(digits, base, v) || v > quint64(std::numeric_limits<qint64>::max()))
            return setOk<qint32>(ok, false, 0);
        return setOk(ok, true, qint32(quint32(v)));
    }
    case Notation::Dec: {
        bool negative = false;
        if (!readDecimal(digits, negative, v))
            return setOk<qint32>(ok, false, 0);
        const quint64 limit = negative ? quint64(std::numeric_limits<qint32>::max()) + 1
                                       : quint64(std::numeric_limits<qint32>::max());
        if (v > limit)
            return setOk<qint32>(ok, false, 0);
        return setOk(ok, true, negative ? qint32(-qint64(v)) : qint32(v));
    }
    }
    return setOk<qint32>(ok, false, 0);
}

quint32 ZorBabelFish::stringToULong(const QString &text, bool *ok)
{
    const QString t = text.trimmed();
    QStringView digits;
    quint64 v = 0;
    const quint64 max = std::numeric_limits<quint32>::max();
    bool good = false;
    switch (notationOf(t, digits)) {
    case Notation::Hex:
        good = readDigits(digits, 16, v) && v <= max;
        break;
    case Notation::Bin:
        good = readDigits(digits, 2, v) && v <= max;
        break;
    case Notation::Dec:
        good = readUnsignedDecimal(digits, max, v);
        break;
    }
    return good ? setOk(ok, true, quint32(v)) : setOk<quint32>(ok, false, 0);
}

qint16 ZorBabelFish::stringToShort(const QString &text, bool *ok)
{
    return qint16(quint16(quint32(stringToLong(text, ok))));
}

quint16 ZorBabelFish::stringToUShort(const QString &text, bool *ok)
{
    return quint16(stringToULong(text, ok));
}

qint8 ZorBabelFish::stringToByte(const QString &text, bool *ok)
{
    return qint8(quint8(quint32(stringToLong(text, ok))));
}

quint8 ZorBabelFish::stringToUByte(const QString &text, bool *ok)
{
    return quint8(stringToULong(text, ok));
}

static int digitsForType(int dataType, int bitsPerDigit)
{
    int bits = 32;
    if (dataType == 2 || dataType == 5)
        bits = 8;
    else if (dataType == 3 || dataType == 6)
        bits = 16;
    return bits / bitsPerDigit;
}

QString ZorBabelFish::fromCanValueToHexStr(int value, int dataType)
{
    const int n = digitsForType(dataType, 4);
    return QString::number(quint32(value), 16).right(n).rightJustified(n, QLatin1Char('0'));
}

QString ZorBabelFish::fromCanValueToBitStr(int value, int dataType)
{
    const int n = digitsForType(dataType, 1);
    return QString::number(quint32(value), 2).right(n).rightJustified(n, QLatin1Char('0'));
}

quint32 ZorBabelFish::fromSuffixedStrToNumber(const QString &text, bool *ok)
{
    QString t = text.trimmed().toUpper();
    if (t.endsWith(QLatin1Char('K'))) {
        t.chop(1);
        t += QLatin1String("000");
    }
    if (t.endsWith(QLatin1Char('M'))) {
        t.chop(1);
        t += QLatin1String("000000");
    }
    quint64 v = 0;
    if (!readUnsignedDecimal(t, std::numeric_limits<quint32>::max(), v))
        return setOk<quint32>(ok, false, 0);
    return setOk(ok, true, quint32(v));
}

QString ZorBabelFish::fromNumberToSuffixedStr(quint32 number)
{
    QString s = QString::number(number);
    if (s.endsWith(QLatin1String("000000"))) {
        s.chop(6);
        s += QLatin1Char('M');
    } else if (s.endsWith(QLatin1String("000"))) {
        s.chop(3);
        s += QLatin1Char('K');
    }
    return s;
}

// ---- Data-object ids ---------------------------------------------------------

QString ZorBabelFish::dataObjectId(quint32 nodeId, quint16 index, quint8 subIndex)
{
    return QStringLiteral("%1.%2h.%3h")
        .arg(nodeId, 3, 10, QLatin1Char('0'))
        .arg(index, 4, 16, QLatin1Char('0'))
        .arg(subIndex, 2, 16, QLatin1Char('0'));
}

bool ZorBabelFish::isDataObjectId(const QString &text)
{
    const int n = text.size();
    return n >= 13 && text.count(QLatin1Char('.')) == 2 && text.at(n - 10) == QLatin1Char('.')
        && text.at(n - 4) == QLatin1Char('.');
}

bool ZorBabelFish::fromDataObjectId(const QString &text, quint32 &nodeId, quint16 &index,
                                    quint8 &subIndex)
{
    const QStringList pieces = text.split(QLatin1Char('.'));
    bool okNode = false, okIndex = false, okSub = false;
    nodeId = stringToULong(pieces.value(0), &okNode);
    index = quint16(stringToULong(pieces.value(1), &okIndex));
    subIndex = quint8(stringToULong(pieces.value(2), &okSub));
    return isDataObjectId(text) && okNode && okIndex && okSub;
}

QString ZorBabelFish::fromDataObjectIdToSdoString(const QString &text, bool *ok)
{
    const QStringList pieces = text.split(QLatin1Char('.'));
    bool negative = false;
    quint64 node = 0;
    const bool nodeOk = readDecimal(pieces.value(0), negative, node)
        && node <= quint64(std::numeric_limits<qint32>::max());
    quint32 n;
    quint16 i;
    quint8 s;
    const bool idOk = fromDataObjectId(text, n, i, s);
    if (ok)
        *ok = nodeOk && !negative && idOk;
    return QStringLiteral("%1,%2,%3")
        .arg(nodeOk ? (negative ? -qint64(node) : qint64(node)) : 0)
        .arg(pieces.value(1), pieces.value(2));
}

// ---- CANopen names -----------------------------------------------------------

QString ZorBabelFish::objectCodeName(const QString &code)
{
    bool ok = false;
    const quint32 v = stringToULong(code, &ok);
    if (!ok)
        return QString();
    switch (v & 0xffff) {
    case 0: return QStringLiteral("NULL");
    case 2: return QStringLiteral("DOMAIN");
    case 5: return QStringLiteral("DEFTYPE");
    case 6: return QStringLiteral("DEFSTRUCT");
    case 7: return QStringLiteral("VAR");
    case 8: return QStringLiteral("ARRAY");
    case 9: return QStringLiteral("RECORD");
    default: return QString();
    }
}

QString ZorBabelFish::dataTypeName(const QString &code)
{
    static const char *const names[] = {
        nullptr,      "BOOLEAN",    "INTEGER8",   "INTEGER16",      "INTEGER32",      "UNSIGNED8",
        "UNSIGNED16", "UNSIGNED32", "REAL32",     "VISIBLE_STRING", "OCTET_STRING",   "UNICODE_STRING",
        "TIME_OF_DAY", "TIME_DIFFERENCE", "reserved", "DOMAIN",     "INTEGER24",      "REAL64",
        "INTEGER40",  "INTEGER48",  "INTEGER56",  "INTEGER64",      "UNSIGNED24",     "reserved",
        "UNSIGNED40", "UNSIGNED48", "UNSIGNED56", "UNSIGNED64"};
    bool ok = false;
    const quint32 v = stringToULong(code, &ok) & 0xffff;
    if (!ok || v >= sizeof(names) / sizeof(names[0]) || !names[v])
        return QString();
    return QString::fromLatin1(names[v]);
}

// ---- Fields of list lines ---------------------------------------------------

namespace {

bool isFieldSeparator(QChar c)
{
    return c == QLatin1Char(',') || c == QLatin1Char(':');
}

// Walks a text field by field and calls visit(position) for every character
// outside quoted fields; visit returns false to stop the walk.
template <typename Visit>
void walkOutsideQuotes(const QString &text, Visit visit)
{
    bool fieldStart = true;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                    ++i;
                else
                    quoted = false;
            }
            continue;
        }
        if (fieldStart && c == QLatin1Char('"')) {
            quoted = true;
            fieldStart = false;
            continue;
        }
        if (!visit(i))
            return;
        if (isFieldSeparator(c))
            fieldStart = true;
        else if (!c.isSpace())
            fieldStart = false;
    }
}

} // namespace

QString ZorBabelFish::quoteField(const QString &text, bool quoteColons)
{
    bool needed = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    for (int i = 0; !needed && i < text.size(); ++i) {
        const QChar c = text.at(i);
        needed = c == QLatin1Char(',') || c == QLatin1Char('#') || c == QLatin1Char('"')
            || (quoteColons && c == QLatin1Char(':'));
    }
    if (!needed)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString ZorBabelFish::unquoteField(const QString &field)
{
    int i = 0;
    while (i < field.size() && field.at(i).isSpace())
        ++i;
    if (i == field.size() || field.at(i) != QLatin1Char('"'))
        return field;
    QString text;
    for (++i; i < field.size(); ++i) {
        const QChar c = field.at(i);
        if (c == QLatin1Char('"')) {
            if (i + 1 < field.size() && field.at(i + 1) == QLatin1Char('"')) {
                ++i;
            } else {
                break;
            }
        }
        text += c;
    }
    return text;
}

int ZorBabelFish::indexOutsideQuotes(const QString &text, QChar c, int from)
{
    int found = -1;
    walkOutsideQuotes(text, [&](int i) {
        if (i >= from && text.at(i) == c) {
            found = i;
            return false;
        }
        return true;
    });
    return found;
}

QStringList ZorBabelFish::splitOutsideQuotes(const QString &text, QChar separator)
{
    QStringList fields;
    int start = 0;
    walkOutsideQuotes(text, [&](int i) {
        if (text.at(i) == separator) {
            fields << text.mid(start, i - start);
            start = i + 1;
        }
        return true;
    });
    fields << text.mid(start);
    return fields;
}

// ---- Item-model positions ----------------------------------------------------

QString ZorBabelFish::fromModelIndexToKey(const QModelIndex &index)
{
    QString key = QStringLiteral("%1-%2").arg(index.row()).arg(index.column());
    QModelIndex current = index;
    for (;;) {
        const QModelIndex parent = current.parent();
        if (!parent.isValid())
            break;
        key = QStringLiteral("%1-%2-%3").arg(parent.row()).arg(parent.column()).arg(key);
        current = parent;
    }
    return QStringLiteral("MIDX-") + key;
}

QModelIndex ZorBabelFish::fromKeyToModelIndex(const QAbstractItemModel *model, const QString &key)
{
    if (!model || !key.startsWith(QLatin1String("MIDX-")))
        return QModelIndex();
    QStringList pieces = key.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    pieces.removeFirst();
    QVector<int> numbers;
    for (const QString &p : pieces) {
        bool ok = false;
        const int n = p.toInt(&ok, 10);
        if (!ok)
            return QModelIndex();
        numbers.append(n);
    }
    // Every complete row/column pair is one level, from the top down; a
    // trailing single number is ignored.
    QModelIndex index;
    const int levels = numbers.size() / 2;
    if (levels == 0)
        return QModelIndex();
    for (int level = 0; level < levels; ++level) {
        index = model->index(numbers.at(2 * level), numbers.at(2 * level + 1), index);
        if (!index.isValid())
            return QModelIndex();
    }
    return index;
}

// ---- Time --------------------------------------------------------------------

QDateTime ZorBabelFish::roundDateTime(const QDateTime &time, int periodMs, bool up)
{
    if (periodMs < 1 || !time.isValid())
        return time;
    const QDateTime reference(QDate(time.date().year() - 1, 1, 1), QTime(0, 0), Qt::LocalTime);
    const qint64 r = reference.msecsTo(time) % periodMs;
    if (r == 0)
        return time;
    // A time before the reference cannot occur; keep the sign right anyway.
    const qint64 below = r > 0 ? r : r + periodMs;
    return up ? time.addMSecs(periodMs - below) : time.addMSecs(-below);
}

// ---- Frame records -----------------------------------------------------------

bool ZorBabelFish::fromVscanToQbytearray(const VSCAN_MSG &frame, QByteArray &record)
{
    record.resize(ZOR_FRAME_RECORD_SIZE);
    char *d = record.data();
    d[0] = char(frame.Id & 0xff);
    d[1] = char((frame.Id >> 8) & 0xff);
    d[2] = char((frame.Id >> 16) & 0xff);
    d[3] = char((frame.Id >> 24) & 0xff);
    d[4] = char(frame.Size);
    for (int i = 0; i < 8; ++i)
        d[5 + i] = char(frame.Data[i]);
    d[13] = char(frame.Flags);
    d[14] = char(frame.Timestamp >> 8);
    d[15] = char(frame.Timestamp & 0xff);
    return true;
}

bool ZorBabelFish::fromQbytearrayToVscan(const QByteArray &record, VSCAN_MSG &frame)
{
    if (!isRecord(record))
        return false;
    frame.Id = fromQbytearrayToCanId(record);
    frame.Size = byteAt(record, 4);
    for (int i = 0; i < 8; ++i)
        frame.Data[i] = byteAt(record, 5 + i);
    frame.Flags = byteAt(record, 13);
    frame.Timestamp = fromQbytearrayToTimestamp(record);
    return true;
}

quint32 ZorBabelFish::fromQbytearrayToCanId(const QByteArray &record)
{
    if (!isRecord(record))
        return 0;
    return quint32(byteAt(record, 0)) | quint32(byteAt(record, 1)) << 8
        | quint32(byteAt(record, 2)) << 16 | quint32(byteAt(record, 3)) << 24;
}

quint8 ZorBabelFish::fromQbytearrayToFlags(const QByteArray &record)
{
    return isRecord(record) ? byteAt(record, 13) : 0;
}

quint16 ZorBabelFish::fromQbytearrayToTimestamp(const QByteArray &record)
{
    return isRecord(record) ? quint16(byteAt(record, 14) << 8 | byteAt(record, 15)) : 0;
}

bool ZorBabelFish::setQbytearrayTimestamp(QByteArray &record, quint16 stamp)
{
    if (!isRecord(record))
        return false;
    record[14] = char(stamp >> 8);
    record[15] = char(stamp & 0xff);
    return true;
}

quint8 ZorBabelFish::fromQbytearrayToSdoCommand(const QByteArray &record)
{
    return isRecord(record) ? byteAt(record, 5) : 0;
}

quint16 ZorBabelFish::fromQbytearrayToSdoIndex(const QByteArray &record)
{
    return isRecord(record) ? quint16(byteAt(record, 6) | byteAt(record, 7) << 8) : 0;
}

quint8 ZorBabelFish::fromQbytearrayToSdoSubindex(const QByteArray &record)
{
    return isRecord(record) ? byteAt(record, 8) : 0;
}

QString ZorBabelFish::fromQbytearrayToCanIdStr(const QByteArray &record)
{
    QString s;
    if (isRecord(record))
        appendCanIdStr(s, record);
    return s;
}

QString ZorBabelFish::fromQbytearrayToDataStr(const QByteArray &record)
{
    QString s;
    if (isRecord(record))
        appendDataStr(s, record);
    return s;
}

bool ZorBabelFish::fromQbytearrayToDataPart(const QByteArray &record, QByteArray &data)
{
    if (record.size() < 5)
        return false;
    const int count = byteAt(record, 4);
    if (record.size() - 5 < count)
        return false;
    data = record.mid(5, count);
    return true;
}

// ---- Frame text --------------------------------------------------------------

bool ZorBabelFish::fromQbytearrayToCanStr(const QByteArray &record, QString &text)
{
    if (!isRecord(record))
        return false;
    QString s;
    s.reserve(48);
    appendCanIdStr(s, record);
    s += QLatin1Char(',');
    s += QString::number(byteAt(record, 4));
    s += QLatin1Char(',');
    appendDataStr(s, record);
    // The stamp is written whenever it is non-zero, whatever the flag says.
    const quint16 stamp = fromQbytearrayToTimestamp(record);
    if (stamp) {
        s += QLatin1Char(',');
        s += QString::number(stamp);
    }
    text = s;
    return true;
}

bool ZorBabelFish::fromCanStrToQbytearray(const QString &text, QByteArray &record)
{
    QStringView t = QStringView(text).trimmed();
    VSCAN_MSG frame;
    if (t.startsWith(QLatin1String("Rext"), Qt::CaseInsensitive)) {
        frame.Flags = VSCAN_FLAGS_REMOTE | VSCAN_FLAGS_EXTENDED;
        t = t.mid(4);
    } else if (t.startsWith(QLatin1String("ext"), Qt::CaseInsensitive)) {
        frame.Flags = VSCAN_FLAGS_EXTENDED;
        t = t.mid(3);
    } else if (t.startsWith(QLatin1String("R"), Qt::CaseInsensitive)) {
        frame.Flags = VSCAN_FLAGS_REMOTE;
        t = t.mid(1);
    } else {
        frame.Flags = VSCAN_FLAGS_STANDARD;
    }

    // Split into at most four fields; anything after a fourth comma belongs
    // to no field and is ignored.
    QStringView fields[4];
    int count = 0;
    int from = 0;
    while (count < 4) {
        const int comma = t.indexOf(QLatin1Char(','), from);
        if (comma < 0) {
            fields[count++] = t.mid(from);
            break;
        }
        fields[count++] = t.mid(from, comma - from);
        from = comma + 1;
    }

    bool ok = false;
    frame.Id = stringToULong(fields[0].toString(), &ok);
    if (!ok || count < 2)
        return false;
    const quint8 size = quint8(stringToULong(fields[1].toString(), &ok));
    if (!ok)
        return false;
    frame.Size = size > 8 ? 8 : size;

    if (count >= 3) {
        const QByteArray bytes = hexPairsToBytes(fields[2]);
        for (int i = 0; i < 8 && i < bytes.size(); ++i)
            frame.Data[i] = quint8(bytes.at(i));
    }
    if (count >= 4) {
        const QStringView stamp = fields[3].trimmed();
        if (!stamp.isEmpty()) {
            quint64 v = 0;
            if (!readUnsignedDecimal(stamp, 0xffff, v))
                return false;
            frame.Flags |= VSCAN_FLAGS_TIMESTAMP;
            frame.Timestamp = quint16(v);
        }
    }
    return fromVscanToQbytearray(frame, record);
}

bool ZorBabelFish::fromCanStrToDataPart(const QString &text, QByteArray &data)
{
    const QStringList fields = text.split(QLatin1Char(','));
    bool ok = false;
    const quint16 expected = quint16(stringToULong(fields.value(1), &ok));
    if (!ok)
        return false;
    const QByteArray bytes = hexPairsToBytes(fields.value(2));
    if (bytes.size() != expected)
        return false;
    data = bytes;
    return true;
}

bool ZorBabelFish::fromDataPartToUnsigned32(const QByteArray &data, quint32 &value, int offset)
{
    quint32 v;
    if (!readLittleEndian(data, offset, 4, v))
        return false;
    value = v;
    return true;
}

bool ZorBabelFish::fromDataPartToInteger32(const QByteArray &data, qint32 &value, int offset)
{
    quint32 v;
    if (!readLittleEndian(data, offset, 4, v))
        return false;
    value = qint32(v);
    return true;
}

bool ZorBabelFish::fromDataPartToUnsigned16(const QByteArray &data, quint16 &value, int offset)
{
    quint32 v;
    if (!readLittleEndian(data, offset, 2, v))
        return false;
    value = quint16(v);
    return true;
}

bool ZorBabelFish::fromDataPartToInteger16(const QByteArray &data, qint16 &value, int offset)
{
    quint32 v;
    if (!readLittleEndian(data, offset, 2, v))
        return false;
    value = qint16(quint16(v));
    return true;
}

bool ZorBabelFish::fromDataPartToUnsigned8(const QByteArray &data, quint8 &value, int offset)
{
    quint32 v;
    if (!readLittleEndian(data, offset, 1, v))
        return false;
    value = quint8(v);
    return true;
}

bool ZorBabelFish::fromDataPartToInteger8(const QByteArray &data, qint8 &value, int offset)
{
    quint32 v;
    if (!readLittleEndian(data, offset, 1, v))
        return false;
    value = qint8(quint8(v));
    return true;
}

// ---- Value macros and expressions ----------------------------------------------

namespace {

const char *const MacroWords[] = {"canid",       "canunsigned8", "canunsigned16", "canunsigned32",
                                  "caninteger8", "caninteger16", "caninteger32"};

// Little-endian bytes as two-digit hexadecimal joined by blanks.
QString littleEndianHex(quint32 value, int bytes)
{
    QString s;
    s.reserve(bytes * 3);
    for (int i = 0; i < bytes; ++i) {
        if (i)
            s += QLatin1Char(' ');
        appendHexByte(s, quint8(value >> (8 * i)));
    }
    return s;
}

// The text a macro writes for a value; `known` is false for a name that is
// not one of the macro words exactly.
QString macroText(const QString &name, const QScriptValue &v, bool &known)
{
    known = true;
    if (name == QLatin1String("canid"))
        return QString::number(v.toUInt32(), 16) + QLatin1Char('h');
    if (name == QLatin1String("canunsigned8"))
        return littleEndianHex(v.toUInt16() & 0xff, 1);
    if (name == QLatin1String("caninteger8"))
        return littleEndianHex(quint32(v.toInt32()) & 0xff, 1);
    if (name == QLatin1String("canunsigned16"))
        return littleEndianHex(v.toUInt16(), 2);
    if (name == QLatin1String("caninteger16"))
        return littleEndianHex(quint32(v.toInt32()) & 0xffff, 2);
    if (name == QLatin1String("canunsigned32"))
        return littleEndianHex(v.toUInt32(), 4);
    if (name == QLatin1String("caninteger32"))
        return littleEndianHex(quint32(v.toInt32()), 4);
    known = false;
    return v.toString();
}

// Upper bound on replacements in one text: an expression may give back text
// that holds a macro again, which must not loop for ever.
constexpr int MaxMacroReplacements = 10000;

} // namespace

ZorBabelFish::ZorBabelFish() = default;

ZorBabelFish::~ZorBabelFish() = default;

QScriptEngine *ZorBabelFish::engineLocked()
{
    if (!m_engine)
        m_engine = std::make_unique<QScriptEngine>();
    return m_engine.get();
}

QScriptValue ZorBabelFish::evaluateLocked(const QString &expression, bool *failed)
{
    QScriptEngine *engine = engineLocked();
    const QScriptValue v = engine->evaluate(expression, QString(), 1);
    *failed = engine->hasUncaughtException() || v.isError();
    engine->clearExceptions();
    return v;
}

QScriptValue ZorBabelFish::evaluateExpression(const QString &expression)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    bool failed = false;
    const QScriptValue v = evaluateLocked(expression, &failed);
    // Plain values are handed back without ties to the engine, so that the
    // caller may read them while another thread uses this object.
    if (v.isNumber())
        return QScriptValue(v.toNumber());
    if (v.isBool())
        return QScriptValue(v.toBool());
    if (v.isString())
        return QScriptValue(v.toString());
    if (v.isNull())
        return QScriptValue(QScriptValue::NullValue);
    if (v.isUndefined())
        return QScriptValue(QScriptValue::UndefinedValue);
    return v;
}

bool ZorBabelFish::resolveCanMacros(QString &text)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return resolveLocked(text);
}

bool ZorBabelFish::resolveLocked(QString &text)
{
    bool allGood = true;
    QString name, argument;
    int start = -1, end = -1;
    int replacements = 0;
    while (findCanMacro(text, name, argument, start, end)) {
        if (++replacements > MaxMacroReplacements)
            return false;
        bool failed = false;
        const QScriptValue v = evaluateLocked(argument, &failed);
        bool known = false;
        const QString written = macroText(name, v, known);
        if (failed || !known || !std::isfinite(v.toNumber()))
            allGood = false;
        text.replace(start, end - start + 1, written);
    }
    // A macro word left behind (no parentheses) leaves the text unresolved.
    if (start >= 0)
        allGood = false;
    return allGood;
}

QByteArray ZorBabelFish::fromMacroStrToQbytearray(const QString &text, bool *ok)
{
    QString resolved = text;
    const bool good = resolveCanMacros(resolved);
    if (ok)
        *ok = good;
    return hexPairsToBytes(resolved);
}

bool ZorBabelFish::findCanMacro(const QString &text, QString &name, QString &argument, int &start,
                                int &end)
{
    start = -1;
    end = -1;
    for (const char *word : MacroWords) {
        start = text.indexOf(QLatin1String(word));
        if (start >= 0)
            break;
    }
    if (start < 0)
        return false;
    const int open = text.indexOf(QLatin1Char('('), start);
    if (open < 0)
        return false;
    end = text.indexOf(QLatin1Char(')'), open);
    if (end < 0)
        return false;
    name = text.mid(start, open - start);
    argument = text.mid(open + 1, end - open - 1);
    return true;
}
