// DateTimeSpan: the time window of a plot, from start to end (local time).
#pragma once

#include <QDateTime>

class DateTimeSpan
{
public:
    DateTimeSpan() = default;
    DateTimeSpan(const QDateTime &start, const QDateTime &end) : m_start(start), m_end(end) {}

    void set(const QDateTime &start, const QDateTime &end)
    {
        m_start = start;
        m_end = end;
    }
    QDateTime start() const { return m_start; }
    QDateTime end() const { return m_end; }
    void setStart(const QDateTime &start) { m_start = start; }
    void setEnd(const QDateTime &end) { m_end = end; }
    // Milliseconds from start to end in wall-clock time; negative when end
    // lies before start, 0 when either is null.
    qint64 durationMs() const;

    bool operator==(const DateTimeSpan &other) const { return m_start == other.m_start && m_end == other.m_end; }
    bool operator!=(const DateTimeSpan &other) const { return !(*this == other); }

private:
    QDateTime m_start;
    QDateTime m_end;
};
