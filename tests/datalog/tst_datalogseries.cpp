// A channel's series: bounded lists, ordering, and the window queries of the
// time plot (peak-detect thinning, gaps, the neighbour outside a window, the
// jump to data).
#include "datalogseries.h"
#include "zortest.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

namespace tst_datalogseries {

const QDateTime SeriesT0(QDate(2024, 3, 5), QTime(10, 0));

QDateTime at(qint64 ms)
{
    return SeriesT0.addMSecs(ms);
}

DataLogSample valueAt(qint64 ms, float value)
{
    DataLogSample s;
    s.set(at(ms), value);
    return s;
}

// Times of the samples, in ms after SeriesT0.
QList<qint64> times(const QVector<DataLogSample> &samples)
{
    QList<qint64> list;
    for (const DataLogSample &s : samples)
        list << SeriesT0.msecsTo(s.time());
    return list;
}

// The samples as "t t | t": times in ms after SeriesT0, a bar for a gap.
QString pattern(const QVector<DataLogSample> &samples)
{
    QStringList parts;
    for (const DataLogSample &s : samples)
        parts << (s.isValid() ? QString::number(SeriesT0.msecsTo(s.time())) : QStringLiteral("|"));
    return parts.join(' ');
}

// Checks that each step of `step` ms on the grid keeps the smallest and the
// largest value of the raw samples in it (and no more than four samples).
void checkEnvelope(const DataLogSeries &series, const QVector<DataLogSample> &thinned, qint64 step, qint64 from,
                   qint64 to)
{
    QMap<qint64, QPair<float, float>> raw, kept;
    QMap<qint64, int> count;
    const auto add = [](QMap<qint64, QPair<float, float>> &map, qint64 key, float v) {
        auto it = map.find(key);
        if (it == map.end())
            map.insert(key, {v, v});
        else
            *it = {std::min(it->first, v), std::max(it->second, v)};
    };
    const qint64 t0 = DataLogSample::toWallMs(SeriesT0);
    for (int i = 0; i < series.valueCount(); ++i) {
        const DataLogSample s = series.valueAt(i);
        const qint64 t = s.wallMs() - t0;
        if (t >= from && t <= to)
            add(raw, qint64(std::floor(double(s.wallMs()) / step)), s.value());
    }
    for (const DataLogSample &s : thinned) {
        QVERIFY(s.isValid());
        const qint64 key = qint64(std::floor(double(s.wallMs()) / step));
        add(kept, key, s.value());
        ++count[key];
    }
    QCOMPARE(kept, raw);
    for (int n : count)
        QVERIFY(n <= 4);
}

} // namespace tst_datalogseries

using namespace tst_datalogseries;

class TestDataLogSeries : public QObject
{
    Q_OBJECT
private slots:
    void limitedListsDropTheOldest()
    {
        DataLogSeries series;
        const qint64 t0 = DataLogSample::toWallMs(SeriesT0);
        for (int i = 0; i < DataLogSeries::Limit; ++i)
            series.append(DataLogSample::atWallMs(t0 + i, float(i)));
        QCOMPARE(series.valueCount(), DataLogSeries::Limit);
        QVERIFY(series.append(valueAt(DataLogSeries::Limit, -1)));
        QCOMPARE(series.valueCount(), DataLogSeries::Limit);
        // firstValue keeps the first sample ever; firstValueSample follows the list.
        QCOMPARE(series.firstValue().time(), at(0));
        QCOMPARE(series.firstValueSample().time(), at(1));
        QCOMPARE(series.firstValueSample().value(), 1.0f);
        QCOMPARE(series.lastValue().value(), -1.0f);

        DataLogSeries unlimited(true);
        for (int i = 0; i <= DataLogSeries::Limit; ++i)
            unlimited.append(DataLogSample::atWallMs(i, 0));
        QCOMPARE(unlimited.valueCount(), DataLogSeries::Limit + 1);
    }

    void textsAndValuesKeptApart()
    {
        DataLogSeries series;
        series.setName("001.6064h.00h");
        QVERIFY(series.append(valueAt(0, 1)));
        QVERIFY(series.append(DataLogSample("fired", at(10), 2)));
        QVERIFY(series.append(valueAt(10, 2)));
        QCOMPARE(series.valueCount(), 2);
        QCOMPARE(series.textCount(), 1);
        QCOMPARE(series.lastValue().value(), 2.0f);
        QVERIFY(!series.lastValue().hasText());
        QCOMPARE(series.textAt(0).text(), QStringLiteral("fired"));

        series.clear();
        QCOMPARE(series.valueCount() + series.textCount(), 0);
        QVERIFY(!series.firstValue().isValid() && !series.lastValue().isValid());
        QVERIFY(!series.firstValueSample().isValid());
        QCOMPARE(series.name(), QStringLiteral("001.6064h.00h"));
    }

    // The queries' binary searches need sorted lists: what would unsort
    // them is refused.
    void outOfOrderSamplesRefused()
    {
        DataLogSeries series;
        QVERIFY(series.append(valueAt(100, 1)));
        QVERIFY(series.append(valueAt(100, 2)));   // same time is fine
        QVERIFY(!series.append(valueAt(99, 3)));
        QVERIFY(!series.append(DataLogSample("no time")));
        QVERIFY(!series.append(DataLogSample(at(200))));   // invalid (a search key)
        QCOMPARE(series.valueCount(), 2);
        QCOMPARE(series.lastValue().value(), 2.0f);
    }

    void windowsThinnedPerResolution_data()
    {
        QTest::addColumn<double>("resolution");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<QList<qint64>>("expected");
        // Samples every 10 ms from 0 to 1000, worth 0 5 -3 8 2 -7 4 1 9 -2
        // again and again: steps of 100 ms keep their first and last sample
        // and the smallest (-7 at 50) and largest (9 at 80) between them;
        // where the first or last has the step's extreme, it stands for it.
        QTest::newRow("first, smallest, largest and last of each step")
            << 20.0 << qint64(0) << qint64(455)
            << QList<qint64>{0, 50, 80, 90, 100, 150, 180, 190, 200, 250, 280, 290, 300, 350, 380, 390, 400, 430, 450};
        QTest::newRow("steps on the grid, cut by the window")
            << 20.0 << qint64(75) << qint64(210) << QList<qint64>{80, 90, 100, 150, 180, 190, 200, 210};
        QTest::newRow("four or fewer in a step: all of them")
            << 6.39 << qint64(0) << qint64(95) << QList<qint64>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
        QTest::newRow("one sample") << 20.0 << qint64(995) << qint64(1000) << QList<qint64>{1000};
        QTest::newRow("empty") << 20.0 << qint64(1001) << qint64(2000) << QList<qint64>{};
        QTest::newRow("end before start") << 20.0 << qint64(500) << qint64(400) << QList<qint64>{};
    }

    void windowsThinnedPerResolution()
    {
        QFETCH(double, resolution);
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(QList<qint64>, expected);
        const float pattern[] = {0, 5, -3, 8, 2, -7, 4, 1, 9, -2};
        DataLogSeries series;
        for (int ms = 0; ms <= 1000; ms += 10)
            series.append(valueAt(ms, pattern[ms / 10 % 10]));
        DateTimeSpan out(at(-1), at(-1));
        QCOMPARE(times(series.valuesInWindow(resolution, DateTimeSpan(at(from), at(to)), 0, 1000, out)), expected);
        QCOMPARE(out, DateTimeSpan(at(-1), at(-1)));
    }

    // Text samples mark events: one per step, and the last of the window.
    void textsThinnedToOnePerStep()
    {
        DataLogSeries series;
        for (int ms = 0; ms <= 1000; ms += 10)
            series.append(DataLogSample("t", at(ms), 0));
        QCOMPARE(times(series.textsInWindow(20.0, DateTimeSpan(at(0), at(455)))),
                 (QList<qint64>{0, 100, 200, 300, 400, 450}));
        QCOMPARE(times(series.textsInWindow(20.0, DateTimeSpan(at(5), at(410)))),
                 (QList<qint64>{10, 110, 210, 310, 410}));
    }

    // A 10 s sine sampled at 100 Hz, 20 minutes of it, shown at 1 min/div:
    // every step keeps the full amplitude, where one sample per step would
    // draw a slow wave that was never there. At any resolution each step
    // keeps its raw extremes.
    void peakDetectKeepsTheEnvelope()
    {
        DataLogSeries series(true);
        const qint64 t0 = DataLogSample::toWallMs(SeriesT0);
        const int samples = 20 * 60 * 100;
        for (int i = 0; i < samples; ++i)
            series.append(DataLogSample::atWallMs(t0 + i * 10, float(1000 * std::sin(2 * M_PI * i / 1000.0))));
        const DateTimeSpan window(at(0), at(qint64(samples) * 10 - 10));
        DateTimeSpan out;
        // 1 min/div over 600 pixels: 2 s a pixel, steps of 10 s.
        const QVector<DataLogSample> thinned = series.valuesInWindow(2000, window, 0, 60000, out);
        QMap<qint64, QPair<float, float>> steps;
        for (const DataLogSample &s : thinned) {
            auto &range = steps[(s.wallMs() - t0) / 10000];
            range = {std::min(range.first, s.value()), std::max(range.second, s.value())};
        }
        QCOMPARE(steps.size(), samples / 1000);
        for (auto it = steps.cbegin(); it != steps.cend(); ++it) {
            QVERIFY2(it->first < -999.9f && it->second > 999.9f, qPrintable(QString::number(it.key())));
        }
        QVERIFY(thinned.size() <= 4 * steps.size());
        checkEnvelope(series, thinned, 10000, 0, qint64(samples) * 10);

        // Noise, at a resolution whose steps do not hold whole periods, and
        // a window that cuts steps at both ends.
        DataLogSeries noise;
        std::mt19937 random(7);
        std::uniform_real_distribution<float> value(-500, 500);
        for (int i = 0; i < 100000; ++i)
            noise.append(DataLogSample::atWallMs(t0 + i * 7 + (i % 3), value(random)));
        for (const double resolution : {1.0, 37.3, 1200.0}) {
            const qint64 from = 12345, to = 654321;
            const QVector<DataLogSample> kept = noise.valuesInWindow(resolution, DateTimeSpan(at(from), at(to)), 0,
                                                                     1000, out);
            checkEnvelope(noise, kept, DataLogSeries::stepMs(resolution), from, to);
        }
    }

    // Steps take whole blocks of samples at once; a block that lost samples
    // to the limit is never one of them, so a dropped peak is never shown.
    void droppedSamplesAreNoExtremes()
    {
        DataLogSeries series;
        const qint64 t0 = DataLogSample::toWallMs(SeriesT0);
        for (int i = 0; i < DataLogSeries::Limit + 300; ++i)
            series.append(DataLogSample::atWallMs(t0 + i, i >= 290 && i < 300 ? 1000.0f : float(i % 7)));
        DateTimeSpan out;
        const QVector<DataLogSample> all =
            series.valuesInWindow(std::numeric_limits<double>::infinity(),
                                  DateTimeSpan(at(0), at(DataLogSeries::Limit + 300)), 0, 1000, out);
        QCOMPARE(all.first().wallMs(), t0 + 300);
        const auto largest = [](const QVector<DataLogSample> &samples) {
            float value = -1;
            for (const DataLogSample &s : samples)
                value = std::max(value, s.value());
            return value;
        };
        QCOMPARE(largest(all), 6.0f);

        // And what is kept is still found: the largest value, in the middle.
        series.append(DataLogSample::atWallMs(t0 + DataLogSeries::Limit + 300, 5000));
        series.append(DataLogSample::atWallMs(t0 + DataLogSeries::Limit + 301, 0));
        const QVector<DataLogSample> peak =
            series.valuesInWindow(std::numeric_limits<double>::infinity(),
                                  DateTimeSpan(at(0), at(DataLogSeries::Limit + 400)), 0, 1000, out);
        QCOMPARE(largest(peak), 5000.0f);
        QCOMPARE(peak.size(), 3);
    }

    // A curve breaks where several sample periods went by without a
    // sample: a stop, the time between two trigger windows, a silent node;
    // not where the sampling rate changes or a sample comes late.
    void gapsAreMarked_data()
    {
        QTest::addColumn<QList<qint64>>("samples");
        QTest::addColumn<double>("resolution");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a stop") << QList<qint64>{0, 100, 200, 300, 2300, 2400, 2500} << 0.2
                                << "0 100 200 300 | 2300 2400 2500";
        QTest::newRow("four periods are no gap yet") << QList<qint64>{0, 100, 200, 600, 700, 800} << 0.2
                                                     << "0 100 200 600 700 800";
        QTest::newRow("jitter") << QList<qint64>{0, 100, 200, 390, 410, 500, 600} << 0.2
                                << "0 100 200 390 410 500 600";
        QTest::newRow("a slower rate") << QList<qint64>{0, 100, 200, 300, 1300, 2300, 3300} << 0.2
                                       << "0 100 200 300 1300 2300 3300";
        QTest::newRow("one sample alone") << QList<qint64>{0, 100, 200, 5000, 9000, 9100, 9200} << 0.2
                                          << "0 100 200 | 5000 | 9000 9100 9200";
        QTest::newRow("between trigger windows, thinned")
            << QList<qint64>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 3000, 3010, 3020, 3030, 3040, 3050, 3060}
            << 20.0 << "0 90 | 3000 3060";
        QTest::newRow("two samples") << QList<qint64>{0, 5000} << 0.2 << "0 5000";
    }

    void gapsAreMarked()
    {
        QFETCH(QList<qint64>, samples);
        QFETCH(double, resolution);
        QFETCH(QString, expected);
        DataLogSeries series;
        for (qint64 ms : samples)
            series.append(valueAt(ms, float(ms)));
        DateTimeSpan out;
        const QVector<DataLogSample> found =
            series.valuesInWindow(resolution, DateTimeSpan(at(0), at(samples.last())), 0, 1000, out);
        QCOMPARE(pattern(found), expected);
        // A gap is an invalid sample at the time of the sample before it.
        for (int i = 1; i < found.size(); ++i)
            if (!found.at(i).isValid())
                QCOMPARE(found.at(i).wallMs(), found.at(i - 1).wallMs());
    }

    // A hidden plot asks with no finite resolution, a broken one with 0:
    // the query still ends at once and returns little.
    void resolutionClampedToSomethingThatEnds()
    {
        DataLogSeries series(true);
        for (int ms = 0; ms < 200000; ++ms)
            series.append(DataLogSample::atWallMs(DataLogSample::toWallMs(SeriesT0) + ms, 1));
        const DateTimeSpan all(at(0), at(199999));
        DateTimeSpan out;
        QCOMPARE(series.valuesInWindow(0.0, all, 0, 1000, out).size(), 200000);   // 1 ms steps
        QCOMPARE(series.valuesInWindow(std::numeric_limits<double>::quiet_NaN(), all, 0, 1000, out).size(), 200000);
        QCOMPARE(times(series.valuesInWindow(std::numeric_limits<double>::infinity(), all, 0, 1000, out)),
                 (QList<qint64>{0, 199999}));
        QCOMPARE(DataLogSeries::stepMs(-5), qint64(1));
        QCOMPARE(DataLogSeries::stepMs(0.2), qint64(1));
        QCOMPARE(DataLogSeries::stepMs(1.0), qint64(5));
    }

    void neighboursOutsideAWindow()
    {
        DataLogSeries series;
        const DateTimeSpan window(at(1000), at(2000));
        QVERIFY(!series.neighbourValue(window, -1).isValid());
        series.append(valueAt(500, 5));
        series.append(valueAt(1000, 10));
        series.append(valueAt(2000, 20));
        series.append(valueAt(2500, 25));
        QCOMPARE(series.neighbourValue(window, -1).value(), 5.0f);
        QCOMPARE(series.neighbourValue(window, 1).value(), 25.0f);
        QVERIFY(!series.neighbourValue(window, 0).isValid());
        QVERIFY(!series.neighbourValue(DateTimeSpan(at(0), at(3000)), 1).isValid());
    }

    // Paging into an empty window moves to the nearest data, on the grid,
    // keeping the window's length and staying on the data.
    void emptyWindowsJumpToData_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<int>("direction");
        QTest::addColumn<qint64>("newFrom");
        QTest::addColumn<qint64>("newTo");
        QTest::addColumn<QList<qint64>>("expected");
        // Data at 10.0 s .. 12.5 s every 500 ms and at 30.2 s; grid 1 s.
        QTest::newRow("back: ends at the grid line after the last earlier sample")
            << qint64(20000) << qint64(22000) << -1 << qint64(11000) << qint64(13000)
            << QList<qint64>{11000, 11500, 12000, 12500};
        QTest::newRow("forward: clamped to the grid line after the last sample")
            << qint64(14000) << qint64(16000) << 1 << qint64(29000) << qint64(31000) << QList<qint64>{30200};
        QTest::newRow("back: clamped to the grid line before the first sample")
            << qint64(13000) << qint64(29000) << -1 << qint64(10000) << qint64(26000)
            << QList<qint64>{10000, 10500, 11000, 11500, 12000, 12500};
    }

    void emptyWindowsJumpToData()
    {
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(int, direction);
        QFETCH(qint64, newFrom);
        QFETCH(qint64, newTo);
        QFETCH(QList<qint64>, expected);
        DataLogSeries series;
        for (qint64 ms = 10000; ms <= 12500; ms += 500)
            series.append(valueAt(ms, 1));
        series.append(valueAt(30200, 2));
        DateTimeSpan out;
        const QVector<DataLogSample> found = series.valuesInWindow(20.0, DateTimeSpan(at(from), at(to)), direction,
                                                                   1000, out);
        QCOMPARE(times(found), expected);
        QCOMPARE(out, DateTimeSpan(at(newFrom), at(newTo)));
        // Nothing in that direction: no jump.
        DateTimeSpan untouched(at(1), at(2));
        QVERIFY(series.valuesInWindow(20.0, DateTimeSpan(at(0), at(2000)), -1, 1000, untouched).isEmpty());
        QCOMPARE(untouched, DateTimeSpan(at(1), at(2)));
    }

    void windowWithDataDoesNotJump()
    {
        DataLogSeries series;
        series.append(valueAt(0, 1));
        DateTimeSpan out(at(-5), at(-5));
        const QVector<DataLogSample> none = series.valuesInWindow(1, DateTimeSpan(at(100), at(200)), 0, 1000, out);
        QVERIFY(none.isEmpty());
        QCOMPARE(out, DateTimeSpan(at(-5), at(-5)));
        QCOMPARE(series.valuesInWindow(1, DateTimeSpan(at(0), at(200)), -1, 1000, out).size(), 1);
        QCOMPARE(out, DateTimeSpan(at(-5), at(-5)));
    }
};

ZOR_TEST(TestDataLogSeries)
#include "tst_datalogseries.moc"
