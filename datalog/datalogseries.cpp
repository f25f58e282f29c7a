#include "datalogseries.h"

#include "zorbabelfish.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

// Longest thinning step: far beyond any window, small enough never to
// overflow when added to a time.
constexpr qint64 MaxStepMs = qint64(1) << 52;

qint64 addSaturated(qint64 time, qint64 step)
{
    return time > std::numeric_limits<qint64>::max() - step ? std::numeric_limits<qint64>::max() : time + step;
}

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Text samples: one per step from the first at or after start, as long as
// it lies at or before end, then the last one at or before end when it lies
// in the window and was not taken yet.
QVector<DataLogSample> thinnedTexts(const std::deque<DataLogSample> &list, qint64 step, qint64 start, qint64 end)
{
    QVector<DataLogSample> result;
    const auto before = [](const DataLogSample &s, qint64 t) { return s.wallMs() < t; };
    auto it = std::lower_bound(list.begin(), list.end(), start, before);
    while (it != list.end() && it->wallMs() <= end) {
        result.append(*it);
        it = std::lower_bound(std::next(it), list.end(), addSaturated(it->wallMs(), step), before);
    }
    const auto closing = std::upper_bound(list.begin(), list.end(), end,
                                          [](qint64 t, const DataLogSample &s) { return t < s.wallMs(); });
    if (closing != list.begin()) {
        const DataLogSample &last = *std::prev(closing);
        if (last.wallMs() >= start && (result.isEmpty() || result.last().wallMs() != last.wallMs()))
            result.append(last);
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
constexpr int DataLogSeries::GapPeriods;

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
        dropOldestValue();
    addToPeaks(sample.value());
    m_values.push_back(Point{sample.wallMs(), sample.value()});
    return true;
}

void DataLogSeries::addToPeaks(float value)
{
    const qint64 index = m_dropped + qint64(m_values.size());
    for (int level = 0; level < PeakLevels; ++level) {
        const int shift = PeakShift * (level + 1);
        const quint32 at = quint32(index & ((qint64(1) << shift) - 1));
        auto &peaks = m_peaks[level];
        if (at == 0) {
            peaks.push_back(Peak{value, value, 0, 0});
            continue;
        }
        Peak &peak = peaks.back();
        if (value < peak.min) {
            peak.min = value;
            peak.minAt = at;
        }
        if (value > peak.max) {
            peak.max = value;
            peak.maxAt = at;
        }
    }
}

void DataLogSeries::dropOldestValue()
{
    m_values.pop_front();
    ++m_dropped;
    // A block goes with the last of its samples.
    for (int level = 0; level < PeakLevels; ++level) {
        if ((m_dropped & ((qint64(1) << (PeakShift * (level + 1))) - 1)) != 0)
            break;
        m_peaks[level].pop_front();
        ++m_peaksDropped[level];
    }
}

void DataLogSeries::clear()
{
    m_values.clear();
    m_texts = {};
    for (int level = 0; level < PeakLevels; ++level) {
        m_peaks[level].clear();
        m_peaksDropped[level] = 0;
    }
    m_dropped = 0;
    m_firstValue.invalidate();
    m_lastValue.invalidate();
}

DataLogSample DataLogSeries::firstValueSample() const
{
    return m_values.empty() ? DataLogSample() : valueAt(0);
}

DataLogSample DataLogSeries::valueAt(int i) const
{
    const Point &p = m_values[size_t(i)];
    return DataLogSample::atWallMs(p.wallMs, p.value);
}

qint64 DataLogSeries::firstAtOrAfter(qint64 t, qint64 from, qint64 to, qint64 guess) const
{
    // Gallop from the guess towards the answer, then search what is left.
    if (guess > from && guess < to) {
        qint64 reach = 1;
        if (timeAt(guess - 1) < t) {
            from = guess;
            while (from + reach < to && timeAt(from + reach - 1) < t) {
                from += reach;
                reach *= 2;
            }
            to = std::min(to, from + reach);
        } else {
            to = guess;
            while (to - reach > from && timeAt(to - reach) >= t) {
                to -= reach;
                reach *= 2;
            }
            from = std::max(from, to - reach);
        }
    }
    while (from < to) {
        const qint64 middle = from + (to - from) / 2;
        if (timeAt(middle) < t)
            from = middle + 1;
        else
            to = middle;
    }
    return from;
}

qint64 DataLogSeries::firstAfter(qint64 t, qint64 from, qint64 to) const
{
    while (from < to) {
        const qint64 middle = from + (to - from) / 2;
        if (timeAt(middle) <= t)
            from = middle + 1;
        else
            to = middle;
    }
    return from;
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

void DataLogSeries::extremes(qint64 from, qint64 to, qint64 &minAt, qint64 &maxAt) const
{
    float low = std::numeric_limits<float>::infinity();
    float high = -low;
    qint64 lowAt = m_dropped + from, highAt = lowAt;
    const auto takeSample = [&](qint64 g) {
        const float v = m_values[size_t(g - m_dropped)].value;
        if (v < low) {
            low = v;
            lowAt = g;
        }
        if (v > high) {
            high = v;
            highAt = g;
        }
    };
    const auto takeBlock = [&](int level, qint64 u) {
        const Peak &p = m_peaks[level][size_t(u - m_peaksDropped[level])];
        const qint64 first = u << (PeakShift * (level + 1));
        if (p.min < low) {
            low = p.min;
            lowAt = first + p.minAt;
        }
        if (p.max > high) {
            high = p.max;
            highAt = first + p.maxAt;
        }
    };
    const auto take = [&](int level, qint64 a, qint64 b) {
        for (qint64 u = a; u < b; ++u) {
            if (level < 0)
                takeSample(u);
            else
                takeBlock(level, u);
        }
    };
    // Whole blocks where they fit, single samples (or smaller blocks) at
    // the two ends; counted from the first sample ever, so a block that
    // lost samples to dropping is never taken whole.
    qint64 a = m_dropped + from, b = m_dropped + to;
    const qint64 unit = qint64(1) << PeakShift;
    for (int level = -1; a < b; ++level) {
        const qint64 aUp = (a + unit - 1) & ~(unit - 1);
        const qint64 bDown = b & ~(unit - 1);
        if (level == PeakLevels - 1 || aUp >= bDown) {
            take(level, a, b);
            break;
        }
        take(level, a, aUp);
        take(level, bDown, b);
        a = aUp >> PeakShift;
        b = bDown >> PeakShift;
    }
    minAt = lowAt - m_dropped;
    maxAt = highAt - m_dropped;
}

bool DataLogSeries::gapBefore(qint64 i) const
{
    const qint64 n = qint64(m_values.size());
    if (i < 1 || i >= n)
        return false;
    const qint64 interval = timeAt(i) - timeAt(i - 1);
    if (interval <= GapPeriods)   // never a gap: shorter than periods of 1 ms
        return false;
    const auto intervalBefore = [this](qint64 k) { return timeAt(k) - timeAt(k - 1); };
    // Within GapPeriods of the shorter neighbouring interval: no gap,
    // whatever the others (the period below is at least that long).
    if (i >= 2 && i + 1 < n && interval <= GapPeriods * std::min(intervalBefore(i - 1), intervalBefore(i + 1)))
        return false;
    qint64 near[4];
    int count = 0;
    for (const qint64 k : {i - 1, i + 1, i - 2, i + 2}) {
        if (k >= 1 && k < n)
            near[count++] = intervalBefore(k);
    }
    if (count == 0)
        return false;
    // The upper middle of at most four: sorted in place.
    for (int a = 1; a < count; ++a)
        for (int b = a; b > 0 && near[b - 1] > near[b]; --b)
            std::swap(near[b - 1], near[b]);
    return interval > GapPeriods * std::max<qint64>(1, near[count / 2]);
}

void DataLogSeries::appendValue(QVector<DataLogSample> &result, qint64 i) const
{
    const Point &p = m_values[size_t(i)];
    result.append(DataLogSample::atWallMs(p.wallMs, p.value));
}

void DataLogSeries::appendGap(QVector<DataLogSample> &result, qint64 i) const
{
    // At the time of the sample before the gap, so times stay in order.
    DataLogSample gap = DataLogSample::atWallMs(timeAt(i - 1), 0);
    gap.invalidate();
    result.append(gap);
}

QVector<DataLogSample> DataLogSeries::thinnedValues(qint64 step, qint64 start, qint64 end) const
{
    QVector<DataLogSample> result;
    if (m_values.empty() || start > end)
        return result;
    const qint64 count = qint64(m_values.size());
    qint64 i = firstAtOrAfter(start, 0, count);
    const qint64 last = firstAfter(end, i, count);
    if (i >= last)
        return result;
    // Up to four samples a step, and a few gaps.
    const qint64 steps = (std::min(end, timeAt(last - 1)) - timeAt(i)) / step + 2;
    result.reserve(int(std::min(last - i, 4 * steps) + 8));
    const qint64 lastTime = timeAt(last - 1);
    qint64 stepSize = 1;   // samples in the last step: where the next one likely ends
    while (i < last) {
        // The step on the grid that holds sample i, up to its next grid line.
        const qint64 stepStart = floorDiv(timeAt(i), step) * step;
        const qint64 next = addSaturated(stepStart, step);
        const qint64 j = next > lastTime ? last : firstAtOrAfter(next, i + 1, last, i + stepSize);
        stepSize = std::max<qint64>(1, j - i);
        // A gap within a step is narrower than it, and not marked.
        if (!result.isEmpty() && timeAt(i) - timeAt(i - 1) > step && gapBefore(i))
            appendGap(result, i);
        if (j - i <= 4) {
            for (qint64 k = i; k < j; ++k)
                appendValue(result, k);
        } else {
            // The step's smallest and largest value: the first or the last
            // sample has them, or the one in between that has them comes
            // along, in time order.
            qint64 minAt = 0, maxAt = 0;
            extremes(i + 1, j - 1, minAt, maxAt);
            const float first = m_values[size_t(i)].value, last = m_values[size_t(j - 1)].value;
            if (!(m_values[size_t(minAt)].value < std::min(first, last)))
                minAt = -1;
            if (!(m_values[size_t(maxAt)].value > std::max(first, last)))
                maxAt = -1;
            appendValue(result, i);
            if (minAt >= 0 && (maxAt < 0 || minAt < maxAt))
                appendValue(result, minAt);
            if (maxAt >= 0)
                appendValue(result, maxAt);
            if (minAt > maxAt && maxAt >= 0)
                appendValue(result, minAt);
            appendValue(result, j - 1);
        }
        i = j;
    }
    return result;
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
    return thinnedTexts(m_texts, stepMs(resolutionMs), DataLogSample::toWallMs(span.start()),
                        DataLogSample::toWallMs(span.end()));
}

DataLogSample DataLogSeries::neighbourValue(const DateTimeSpan &span, int direction) const
{
    if (direction == 0 || m_values.empty())
        return DataLogSample();
    const qint64 count = qint64(m_values.size());
    if (direction < 0) {
        const qint64 i = firstAtOrAfter(DataLogSample::toWallMs(span.start()), 0, count);
        return i == 0 ? DataLogSample() : valueAt(int(i - 1));
    }
    const qint64 i = firstAfter(DataLogSample::toWallMs(span.end()), 0, count);
    return i == count ? DataLogSample() : valueAt(int(i));
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
