// DataLogSeries: all samples of one channel, in two time-ordered lists, value
// samples and text samples, with the window queries of the time plot.
//
// A live series keeps at most Limit samples per list and drops the oldest
// one for each new one beyond that; a series filled from a recording file is
// unlimited. Samples must arrive in non-decreasing time order (they do, from
// the bus and from a recording): append refuses a sample without a time or
// one earlier than the last of its list, so that the binary searches of the
// queries always hold.
//
// Window queries thin the samples to what a plot can show. The window is
// cut into steps of 5 x r ms (r the resolution in ms per pixel), on a grid
// of whole multiples of the step so that a picture does not shimmer while
// the window moves. Of the value samples of each step the query keeps the
// first, the smallest, the largest and the last, in time order, the way an
// oscilloscope's peak detect does (where the first or the last sample has
// the step's smallest or largest value, it stands for it): a thinned curve
// has the envelope of the raw one, and no signal is drawn as another (a
// fast sine stays a band, it never turns into a slow wave). Every block of
// 8, 64, 512 ... 262144 samples keeps its smallest and largest value, so
// that a step finds its extremes without visiting each sample; a step looks
// for its end from where the previous one's length puts it. Text samples
// are thinned to the first of each step. A resolution below 0.2 ms, or one that is no finite
// number (a hidden plot), is clamped, so a query always ends and never
// copies more than it can show.
//
// Gaps: where two neighbouring value samples lie more than GapPeriods sample
// periods apart, the result of valuesInWindow holds an invalid sample
// between them, and a plot breaks its curve there. The period is the one
// around the gap: the middle of the intervals of the two samples before
// and the two after it, so that a change of the sampling rate is not taken
// for a gap, while a stop of acquisition, the time between two trigger
// windows or a silent node is. A gap that lies within one step is narrower
// than 5 pixels and is not marked.
//
// A series is shared between the data-log module's thread and the views in
// the GUI thread only through SharedDataRegistry (lock, read, unlock); the
// class itself takes no locks.
#pragma once

#include "chunkedlist.h"
#include "datalogsample.h"
#include "datetimespan.h"

#include <QString>
#include <QVector>

#include <deque>

class DataLogSeries
{
public:
    // Samples per list of a limited series.
    static constexpr int Limit = 1000000;
    // Smallest resolution a window query works with, in ms per pixel.
    static constexpr double MinResolutionMs = 0.2;
    // Sample periods without a sample that break a curve.
    static constexpr int GapPeriods = 4;

    explicit DataLogSeries(bool unlimited = false);

    void setName(const QString &name) { m_name = name; }
    QString name() const { return m_name; }
    // The series' second name text: the scaling text of its channel, which
    // the data-log panel keeps here for the plots.
    void setScalingText(const QString &text) { m_scalingText = text; }
    QString scalingText() const { return m_scalingText; }
    bool isUnlimited() const { return m_unlimited; }

    // Adds a sample at the end of its list (a text sample to the texts, any
    // other to the values); false when refused (see above). A value sample
    // becomes lastValue, and firstValue when there is none.
    bool append(const DataLogSample &sample);
    // Drops every sample; firstValue and lastValue become invalid.
    void clear();

    // The first value sample appended since construction or the last clear,
    // and the last one; invalid when none.
    DataLogSample firstValue() const { return m_firstValue; }
    DataLogSample lastValue() const { return m_lastValue; }
    // The oldest value sample still kept (follows the dropping of old
    // samples); invalid when there is none.
    DataLogSample firstValueSample() const;

    int valueCount() const { return int(m_values.size()); }
    int textCount() const { return int(m_texts.size()); }
    DataLogSample valueAt(int i) const;
    DataLogSample textAt(int i) const { return m_texts.at(size_t(i)); }

    // The value samples of the window, thinned for resolutionMs, with an
    // invalid sample at each gap. When there are none and direction is not
    // 0, the window jumps to the nearest data before (direction < 0) or
    // after it, aligned to the grid of periodMs and keeping its length;
    // spanOut then receives the new window (it is left alone otherwise).
    QVector<DataLogSample> valuesInWindow(double resolutionMs, const DateTimeSpan &span, int direction,
                                          int periodMs, DateTimeSpan &spanOut) const;
    // The text samples of the window, thinned to one per step.
    QVector<DataLogSample> textsInWindow(double resolutionMs, const DateTimeSpan &span) const;
    // The last value sample before the window's start (direction < 0) or the
    // first after its end (direction > 0); invalid for direction 0 or none.
    DataLogSample neighbourValue(const DateTimeSpan &span, int direction) const;
    // The window to jump to from an empty one (see valuesInWindow); result
    // receives its samples. Returns the span unchanged when there is nothing
    // to jump to.
    DateTimeSpan jumpWindow(double resolutionMs, const DateTimeSpan &span, int direction, int periodMs,
                            QVector<DataLogSample> &result) const;

    // The thinning step of a resolution in whole ms (5 x r, clamped).
    static qint64 stepMs(double resolutionMs);

private:
    // A value sample as the list keeps it.
    struct Point
    {
        qint64 wallMs;
        float value;
    };
    // The smallest and largest value of a block of samples, with their
    // places in the block.
    struct Peak
    {
        float min;
        float max;
        quint32 minAt;
        quint32 maxAt;
    };
    static constexpr int PeakLevels = 6;
    static constexpr int PeakShift = 3;   // 8 blocks (or samples) of a level make one of the next

    qint64 timeAt(qint64 i) const { return m_values[size_t(i)].wallMs; }
    // The first value sample among [from, to) whose time is at or after t
    // (after t), or to when there is none; the search starts at a guess of
    // the answer, when there is one.
    qint64 firstAtOrAfter(qint64 t, qint64 from, qint64 to, qint64 guess = -1) const;
    qint64 firstAfter(qint64 t, qint64 from, qint64 to) const;
    void addToPeaks(float value);
    void dropOldestValue();
    // The places of the smallest and largest value among the samples [from, to).
    void extremes(qint64 from, qint64 to, qint64 &minAt, qint64 &maxAt) const;
    // The samples i - 1 and i lie further apart than GapPeriods periods.
    bool gapBefore(qint64 i) const;
    void appendValue(QVector<DataLogSample> &result, qint64 i) const;
    void appendGap(QVector<DataLogSample> &result, qint64 i) const;
    QVector<DataLogSample> thinnedValues(qint64 step, qint64 start, qint64 end) const;

    DataLogSample m_firstValue;
    DataLogSample m_lastValue;
    QString m_name;
    QString m_scalingText;
    ChunkedList<Point, 10> m_values;
    std::deque<DataLogSample> m_texts;
    // Value samples dropped from the front since the last clear: the
    // number, counted from there, of the first one kept. Blocks are counted
    // the same way: block u of level L holds the samples u x 16^(L+1) to
    // (u + 1) x 16^(L+1) - 1, and the first m_peaksDropped[L] are gone.
    qint64 m_dropped = 0;
    ChunkedList<Peak, 8> m_peaks[PeakLevels];
    qint64 m_peaksDropped[PeakLevels] = {};
    bool m_unlimited;
};
