// A channel's series: bounded lists, ordering, and the window queries of the
// time plot (thinning, the neighbour outside a window, the jump to data).
#include "datalogseries.h"
#include "zortest.h"

#include <QtTest>

#include <limits>

namespace {

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

} // namespace

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
        // Samples every 10 ms from 0 to 1000.
        QTest::newRow("100 ms steps and the last") << 20.0 << qint64(0) << qint64(455)
                                                   << QList<qint64>{0, 100, 200, 300, 400, 450};
        QTest::newRow("step lands on the last") << 20.0 << qint64(5) << qint64(410)
                                                << QList<qint64>{10, 110, 210, 310, 410};
        QTest::newRow("step truncated to whole ms") << 6.39 << qint64(0) << qint64(95)
                                                    << QList<qint64>{0, 40, 80, 90};
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
        DataLogSeries series;
        for (int ms = 0; ms <= 1000; ms += 10)
            series.append(valueAt(ms, ms));
        DateTimeSpan out(at(-1), at(-1));
        QCOMPARE(times(series.valuesInWindow(resolution, DateTimeSpan(at(from), at(to)), 0, 1000, out)), expected);
        QCOMPARE(out, DateTimeSpan(at(-1), at(-1)));

        for (int ms = 0; ms <= 1000; ms += 10)
            series.append(DataLogSample("t", at(ms), 0));
        QCOMPARE(times(series.textsInWindow(resolution, DateTimeSpan(at(from), at(to)))), expected);
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
