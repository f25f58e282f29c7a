#include "datalogseries.h"

#include "zorbabelfish.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Longest thinning step: far beyond any window, small enough never to
// overflow when added to a time.
constexpr qint64 MaxStepMs = qint64(1) << 52;

qint64 addSaturated(qint64 time, qint64 step)
{
    return time > std::numeric_limits<qint64>::max() - step ? std::numeric_limits<qint64>::max() : time + step;
}

// One sample per step from the first at or after start, as long as it lies
// at or before end, then the last sample at or before end when it lies in
// the window and was not taken yet. The list is sorted by timeOf.
template<class List, class TimeOf, class Make>
QVector<DataLogSample> thinned(const List &list, qint64 step, qint64 start, qint64 end, TimeOf timeOf, Make make)
{
    QVector<DataLogSample> result;
    if (list.empty())
        return result;
    const auto before = [&](const typename List::value_type &item, qint64 t) { return timeOf(item) < t; };
    auto it = std::lower_bound(list.begin(), list.end(), start, before);
    while (it != list.end()) {
        const qint64 t = timeOf(*it);
        if (t > end)
            break;
        result.append(make(*it));
        it = std::lower_bound(std::next(it), list.end(), addSaturated(t, step), before);
    }
    const auto after = [&](qint64 t, const typename List::value_type &item) { return t < timeOf(item); };
    const auto closing = std::upper_bound(list.begin(), list.end(), end, after);
    if (closing != list.begin()) {
        const auto &last = *std::prev(closing);
        const qint64 t = timeOf(last);
        if (t >= start && (result.isEmpty() || result.last().wallMs() != t))
            result.append(make(last));
    }
    return result;
}

QDateTime shifted(const QDateTime &time, qint64 ms)
{
    return DataLogSample::fromWallMs(DataLogSample::toWallMs(time) + ms);
}

} // namespace

constexpr int DataLogSeries::Limit;
constexpr double DataLogSeries::MinResolutionMs;

DataLogSeries::DataLogSeries(bool unlimited)
    : m_unlimited(unlimited)
{
}

bool DataLogSeries::append(const DataLogSample &sample)
{
    if (!sample.isValid() || !sample.hasTime())
        return false;
    if (sample.hasText()) {
        if (!m_texts.empty() && sample.wallMs() < m_texts.back().wallMs())
            return false;
        if (!m_unlimited && m_texts.size() >= size_t(Limit))
            m_texts.pop_front();
        m_texts.push_back(sample);
        return true;
    }
    if (!m_values.empty() && sample.wallMs() < m_values.back().wallMs)
        return false;
    if (!m_firstValue.isValid())
        m_firstValue = sample;
    m_lastValue = sample;
    if (!m_unlimited && m_values.size() >= size_t(Limit))
        m_values.pop_front();
    m_values.push_back(Point{sample.wallMs(), sample.value()});
    return true;
}

void DataLogSeries::clear()
{
    m_values = {};
    m_texts = {};
    m_firstValue.invalidate();
    m_lastValue.invalidate();
}

DataLogSample DataLogSeries::firstValueSample() const
{
    return m_values.empty() ? DataLogSample() : valueAt(0);
}

DataLogSample DataLogSeries::valueAt(int i) const
{
    const Point &p = m_values.at(size_t(i));
    return DataLogSample::atWallMs(p.wallMs, p.value);
}

qint64 DataLogSeries::stepMs(double resolutionMs)
{
    if (!(resolutionMs >= MinResolutionMs))   // also NaN
        resolutionMs = MinResolutionMs;
    const double step = std::trunc(5 * resolutionMs);
    if (!(step < double(MaxStepMs)))   // also infinity
        return MaxStepMs;
    return std::max<qint64>(1, qint64(step));
}

QVector<DataLogSample> DataLogSeries::thinnedValues(qint64 step, qint64 start, qint64 end) const
{
    return thinned(m_values, step, start, end, [](const Point &p) { return p.wallMs; },
                   [](const Point &p) { return DataLogSample::atWallMs(p.wallMs, p.value); });
}

QVector<DataLogSample> DataLogSeries::valuesInWindow(double resolutionMs, const DateTimeSpan &span, int direction,
                                                     int periodMs, DateTimeSpan &spanOut) const
{
    QVector<DataLogSample> result = thinnedValues(stepMs(resolutionMs), DataLogSample::toWallMs(span.start()),
                                                  DataLogSample::toWallMs(span.end()));
    if (result.isEmpty() && direction != 0) {
        const DateTimeSpan jumped = jumpWindow(resolutionMs, span, direction, periodMs, result);
        if (!result.isEmpty())
            spanOut = jumped;
    }
    return result;
}

QVector<DataLogSample> DataLogSeries::textsInWindow(double resolutionMs, const DateTimeSpan &span) const
{
    return thinned(m_texts, stepMs(resolutionMs), DataLogSample::toWallMs(span.start()),
                   DataLogSample::toWallMs(span.end()), [](const DataLogSample &s) { return s.wallMs(); },
                   [](const DataLogSample &s) { return s; });
}

DataLogSample DataLogSeries::neighbourValue(const DateTimeSpan &span, int direction) const
{
    if (direction == 0 || m_values.empty())
        return DataLogSample();
    if (direction < 0) {
        const qint64 start = DataLogSample::toWallMs(span.start());
        const auto it = std::lower_bound(m_values.begin(), m_values.end(), start,
                                         [](const Point &p, qint64 t) { return p.wallMs < t; });
        if (it == m_values.begin())
            return DataLogSample();
        return valueAt(int(std::distance(m_values.begin(), it)) - 1);
    }
    const qint64 end = DataLogSample::toWallMs(span.end());
    const auto it = std::upper_bound(m_values.begin(), m_values.end(), end,
                                     [](qint64 t, const Point &p) { return t < p.wallMs; });
    if (it == m_values.end())
        return DataLogSample();
    return valueAt(int(std::distance(m_values.begin(), it)));
}

DateTimeSpan DataLogSeries::jumpWindow(double resolutionMs, const DateTimeSpan &span, int direction, int periodMs,
                                       QVector<DataLogSample> &result) const
{
    DateTimeSpan next = span;
    const qint64 duration = span.durationMs();
    if (direction == 0)
        return next;
    const DataLogSample neighbour = neighbourValue(span, direction);
    if (!neighbour.isValid())
        return next;
    if (direction < 0) {
        next.setEnd(ZorBabelFish::roundDateTime(neighbour.time(), periodMs, true));
        next.setStart(shifted(next.end(), -duration));
    } else {
        next.setStart(ZorBabelFish::roundDateTime(neighbour.time(), periodMs, false));
        next.setEnd(shifted(next.start(), duration));
    }
    // Keep the window on the data.
    const QDateTime lowest = ZorBabelFish::roundDateTime(m_firstValue.time(), periodMs, false);
    const QDateTime highest = ZorBabelFish::roundDateTime(m_lastValue.time(), periodMs, true);
    if (DataLogSample::toWallMs(next.start()) < DataLogSample::toWallMs(lowest)) {
        next.set(lowest, shifted(lowest, duration));
    } else if (DataLogSample::toWallMs(next.end()) > DataLogSample::toWallMs(highest)) {
        next.set(shifted(highest, -duration), highest);
    }
    result = thinnedValues(stepMs(resolutionMs), DataLogSample::toWallMs(next.start()),
                           DataLogSample::toWallMs(next.end()));
    return next;
}
