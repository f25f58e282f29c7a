#include "datalogsample.h"

#include <cmath>

namespace {

constexpr qint64 MsPerDay = 86400000;
constexpr qint64 JulianDayOf1970 = 2440588;
constexpr int StampLength = 23;   // "yyyy-MM-dd hh:mm:ss.zzz"

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

qint64 wallMsOf(const QDate &date, const QTime &time)
{
    return (date.toJulianDay() - JulianDayOf1970) * MsPerDay + time.msecsSinceStartOfDay();
}

// Digits of text[from, from + count) as a number; -1 when one is no digit.
int digitsAt(const QStringRef &text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const ushort c = text.at(i).unicode();
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

void appendDigits(QString &out, int value, int width)
{
    QChar buffer[4];
    for (int i = width - 1; i >= 0; --i) {
        buffer[i] = QLatin1Char(char('0' + value % 10));
        value /= 10;
    }
    out.append(buffer, width);
}

QString escapedText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case ',': out += QLatin1String("\\,"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        default: out += c;
        }
    }
    return out;
}

// The reverse of escapedText; an unknown escape stays as it stands, so the
// texts of older recordings (written unescaped) read back unchanged.
QString unescapedText(const QStringRef &text)
{
    if (!text.contains(QLatin1Char('\\')))
        return text.toString();
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const ushort next = text.at(i + 1).unicode();
            const char *plain = next == '\\' ? "\\" : next == ',' ? "," : next == 'r' ? "\r" : next == 'n' ? "\n" : nullptr;
            if (plain) {
                out += QLatin1String(plain);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

constexpr const char DataLogSample::TimeFormat[];
constexpr qint64 DataLogSample::NullTime;

DataLogSample::DataLogSample(const QDateTime &time)
    : m_wallMs(toWallMs(time))
{
}

DataLogSample::DataLogSample(const QString &text, const QDateTime &time, float value)
    : m_wallMs(toWallMs(time)), m_value(value), m_valid(true), m_hasText(true), m_text(text)
{
}

DataLogSample::DataLogSample(const QString &line)
    : m_valid(true)
{
    const int c1 = line.indexOf(QLatin1Char(','));
    const int c2 = c1 < 0 ? -1 : line.indexOf(QLatin1Char(','), c1 + 1);
    const int c3 = c2 < 0 ? -1 : line.indexOf(QLatin1Char(','), c2 + 1);
    if (c1 < 0)
        return;
    const int timeEnd = c2 < 0 ? line.size() : c2;
    m_wallMs = wallMsFromString(line.midRef(c1 + 1, timeEnd - c1 - 1));
    if (c2 < 0)
        return;
    const int valueEnd = c3 < 0 ? line.size() : c3;
    bool ok = false;
    const float value = line.midRef(c2 + 1, valueEnd - c2 - 1).toFloat(&ok);
    m_value = ok ? value : 0;
    if (c3 < 0)
        return;
    m_text = unescapedText(line.midRef(c3 + 1));
    m_hasText = !m_text.isEmpty();
}

DataLogSample DataLogSample::atWallMs(qint64 wallMs, float value)
{
    DataLogSample sample;
    sample.setWallMs(wallMs, value);
    return sample;
}

QString DataLogSample::channelOfLine(const QString &line)
{
    const int comma = line.indexOf(QLatin1Char(','));
    return comma < 0 ? line : line.left(comma);
}

QString DataLogSample::formatValue(float value)
{
    if (!std::isfinite(value))
        return QString::number(double(value));
    if (std::floor(value) == value)
        return value == 0 ? QStringLiteral("0") : QString::number(double(value), 'f', 0);
    const QString fixed = QString::number(double(value), 'f', 3);
    if (fixed.toFloat() == value)
        return fixed;
    // The shortest general form that reads back to the same float (at most
    // 9 significant digits are ever needed).
    for (int digits = 4; digits < 9; ++digits) {
        const QString text = QString::number(double(value), 'g', digits);
        if (text.toFloat() == value)
            return text;
    }
    return QString::number(double(value), 'g', 9);
}

QString DataLogSample::toLine(const QString &channel) const
{
    QString line = channel;
    line += QLatin1Char(',');
    line += timeString();
    line += QLatin1Char(',');
    line += formatValue(m_value);
    if (m_hasText) {
        line += QLatin1Char(',');
        line += escapedText(m_text);
    }
    return line;
}

void DataLogSample::set(const QDateTime &time, float value)
{
    setWallMs(toWallMs(time), value);
}

void DataLogSample::setWallMs(qint64 wallMs, float value)
{
    m_wallMs = wallMs;
    m_value = value;
    m_valid = true;
}

void DataLogSample::invalidate()
{
    m_valid = false;
    m_value = 0;
}

bool DataLogSample::isWithin(const QDateTime &from, const QDateTime &to) const
{
    return hasTime() && toWallMs(from) <= m_wallMs && m_wallMs <= toWallMs(to);
}

qint64 DataLogSample::toWallMs(const QDateTime &time)
{
    if (!time.isValid())
        return NullTime;
    return wallMsOf(time.date(), time.time());
}

QDateTime DataLogSample::fromWallMs(qint64 wallMs)
{
    if (wallMs == NullTime)
        return QDateTime();
    const qint64 days = floorDiv(wallMs, MsPerDay);
    const int msOfDay = int(wallMs - days * MsPerDay);
    return QDateTime(QDate::fromJulianDay(days + JulianDayOf1970), QTime::fromMSecsSinceStartOfDay(msOfDay),
                     Qt::LocalTime);
}

QString DataLogSample::wallMsToString(qint64 wallMs)
{
    if (wallMs == NullTime)
        return QString();
    const qint64 days = floorDiv(wallMs, MsPerDay);
    int ms = int(wallMs - days * MsPerDay);
    const QDate date = QDate::fromJulianDay(days + JulianDayOf1970);
    if (date.year() < 0 || date.year() > 9999)
        return fromWallMs(wallMs).toString(QLatin1String(TimeFormat));
    QString out;
    out.reserve(StampLength);
    appendDigits(out, date.year(), 4);
    out += QLatin1Char('-');
    appendDigits(out, date.month(), 2);
    out += QLatin1Char('-');
    appendDigits(out, date.day(), 2);
    out += QLatin1Char(' ');
    appendDigits(out, ms / 3600000, 2);
    ms %= 3600000;
    out += QLatin1Char(':');
    appendDigits(out, ms / 60000, 2);
    ms %= 60000;
    out += QLatin1Char(':');
    appendDigits(out, ms / 1000, 2);
    out += QLatin1Char('.');
    appendDigits(out, ms % 1000, 3);
    return out;
}

qint64 DataLogSample::wallMsFromString(const QStringRef &text)
{
    // The exact form is read directly; anything else the way Qt reads the
    // format, so both give the same result.
    if (text.size() == StampLength && text.at(4) == QLatin1Char('-') && text.at(7) == QLatin1Char('-')
        && text.at(10) == QLatin1Char(' ') && text.at(13) == QLatin1Char(':') && text.at(16) == QLatin1Char(':')
        && text.at(19) == QLatin1Char('.')) {
        const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
        const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
        const int ms = digitsAt(text, 20, 3);
        if (year >= 0 && month >= 0 && day >= 0 && hour >= 0 && minute >= 0 && second >= 0 && ms >= 0) {
            if (!QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second, ms))
                return NullTime;
            return wallMsOf(QDate(year, month, day), QTime(hour, minute, second, ms));
        }
    }
    const QDateTime parsed = QDateTime::fromString(text.toString(), QLatin1String(TimeFormat));
    return toWallMs(parsed);
}
