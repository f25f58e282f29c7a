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
// Window queries thin the samples to what a plot can show: at a resolution
// of r ms per pixel they return at most one sample per 5 x r ms of the
// window plus the window's last sample. A resolution below 0.2 ms, or one
// that is no finite number (a hidden plot), is clamped, so a query always
// ends and never copies more than it can show.
//
// A series is shared between the data-log module's thread and the views in
// the GUI thread only through SharedDataRegistry (lock, read, unlock); the
// class itself takes no locks.
#pragma once

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

    // The value samples of the window, thinned for resolutionMs. When there
    // are none and direction is not 0, the window jumps to the nearest data
    // before (direction < 0) or after it, aligned to the grid of periodMs
    // and keeping its length; spanOut then receives the new window (it is
    // left alone otherwise).
    QVector<DataLogSample> valuesInWindow(double resolutionMs, const DateTimeSpan &span, int direction,
                                          int periodMs, DateTimeSpan &spanOut) const;
    // The text samples of the window, thinned the same way.
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

    QVector<DataLogSample> thinnedValues(qint64 step, qint64 start, qint64 end) const;

    DataLogSample m_firstValue;
    DataLogSample m_lastValue;
    QString m_name;
    QString m_scalingText;
    std::deque<Point> m_values;
    std::deque<DataLogSample> m_texts;
    bool m_unlimited;
};
