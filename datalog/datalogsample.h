// DataLogSample: one logged value of one channel, and the data-log line, the
// text form in which a sample travels (KM_DAQ_DATA), is recorded to a file
// and read back:
//
//   channel,time,value[,text]
//   001.60ffh.00h,2024-03-05 10:11:12.345,200
//   001.60ffh.00h,2024-03-05 10:11:12.345,200,001.60ffh.00h > 100
//
// The channel is the data-object id of the sampled object, the time is local
// time in "yyyy-MM-dd hh:mm:ss.zzz", the value is written by formatValue and
// the optional text marks a text sample (an annotation such as a fired
// trigger). Text samples and value samples are kept apart in a series.
//
// Values keep full precision in a line: an integral value is written as the
// exact integer, any other with three decimals when that reads back to the
// same float (200.500), else with as many digits as the float needs. Older
// lines with six significant digits (1.23457e+06) read as well. A text is
// written with backslash escapes for "\", "," and line breaks, and a reader
// takes everything after the third comma as the text, so a comma in a text
// is never cut off.
//
// Times are held as local wall-clock milliseconds since 1970-01-01 00:00
// (wallMs), so that the many comparisons of the window queries and the
// trigger capture need no time-zone look-ups; time() gives the QDateTime.
#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <limits>

class DataLogSample
{
public:
    static constexpr const char TimeFormat[] = "yyyy-MM-dd hh:mm:ss.zzz";
    // wallMs of a sample without a time.
    static constexpr qint64 NullTime = std::numeric_limits<qint64>::min();

    // An invalid sample: no time, no value, no text.
    DataLogSample() = default;
    // A search key: the time alone, invalid.
    explicit DataLogSample(const QDateTime &time);
    // A text sample: valid, with text.
    DataLogSample(const QString &text, const QDateTime &time, float value);
    // A sample read from a data-log line (the channel field is not looked
    // at): always valid; a time that does not parse gives a null time, a
    // value that does not parse gives 0; hasText when the text is not empty.
    explicit DataLogSample(const QString &line);
    // A value sample at a wall-clock time (see wallMs).
    static DataLogSample atWallMs(qint64 wallMs, float value);

    // The channel field of a line: the text before its first comma.
    static QString channelOfLine(const QString &line);
    static QString formatValue(float value);
    // The whole line of this sample for a channel, without a line end.
    QString toLine(const QString &channel) const;

    QDateTime time() const { return fromWallMs(m_wallMs); }
    qint64 wallMs() const { return m_wallMs; }
    bool hasTime() const { return m_wallMs != NullTime; }
    float value() const { return m_value; }
    bool hasText() const { return m_hasText; }
    bool isValid() const { return m_valid; }
    QString text() const { return m_text; }
    QString timeString() const { return wallMsToString(m_wallMs); }

    // Stores time and value and makes the sample valid.
    void set(const QDateTime &time, float value);
    void setWallMs(qint64 wallMs, float value);
    // Invalid, value 0; time and text stay.
    void invalidate();
    // from <= time <= to.
    bool isWithin(const QDateTime &from, const QDateTime &to) const;
    static bool timeLess(const DataLogSample &a, const DataLogSample &b) { return a.m_wallMs < b.m_wallMs; }

    // Conversions between a local date-time and wall-clock milliseconds.
    static qint64 toWallMs(const QDateTime &time);
    static QDateTime fromWallMs(qint64 wallMs);
    // "yyyy-MM-dd hh:mm:ss.zzz" of wall-clock milliseconds; "" for NullTime.
    static QString wallMsToString(qint64 wallMs);
    // Parses "yyyy-MM-dd hh:mm:ss.zzz"; NullTime when it does not parse.
    static qint64 wallMsFromString(const QStringRef &text);

private:
    qint64 m_wallMs = NullTime;
    float m_value = 0;
    bool m_valid = false;
    bool m_hasText = false;
    QString m_text;
};

Q_DECLARE_TYPEINFO(DataLogSample, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(DataLogSample)
