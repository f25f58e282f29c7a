// The data-log line: reading it into a sample, writing values and texts,
// and that what is written reads back to the same sample.
#include "datalogsample.h"
#include "zortest.h"

#include <QtTest>

#include <cmath>
#include <limits>

class TestDataLogSample : public QObject
{
    Q_OBJECT
private slots:
    void linesRead_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QString>("time");   // "" for a null time
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");

        QTest::newRow("plain") << "001.60ffh.00h,2024-03-05 10:11:12.345,200" << "001.60ffh.00h"
                               << "2024-03-05 10:11:12.345" << 200.0f << "";
        QTest::newRow("text") << "001.60ffh.00h,2024-03-05 10:11:12.345,-2.5,001.60ffh.00h > 100"
                              << "001.60ffh.00h" << "2024-03-05 10:11:12.345" << -2.5f << "001.60ffh.00h > 100";
        QTest::newRow("older short value") << "a,2024-03-05 10:11:12.345,1.23457e+06" << "a"
                                           << "2024-03-05 10:11:12.345" << 1234570.0f << "";
        QTest::newRow("time does not parse") << "a,2024-03-05 25:11:12.345,7" << "a" << "" << 7.0f << "";
        QTest::newRow("time in another form") << "a,05.03.2024 10:11,7" << "a" << "" << 7.0f << "";
        QTest::newRow("value no number") << "a,2024-03-05 10:11:12.345,abc" << "a" << "2024-03-05 10:11:12.345"
                                         << 0.0f << "";
        QTest::newRow("channel only") << "001.60ffh.00h" << "001.60ffh.00h" << "" << 0.0f << "";
        // Older recordings wrote a text unescaped: everything after the
        // third comma is the text, never cut at a further comma.
        QTest::newRow("unescaped comma") << "a,2024-03-05 10:11:12.345,1,x,y" << "a" << "2024-03-05 10:11:12.345"
                                         << 1.0f << "x,y";
        QTest::newRow("escapes") << "a,2024-03-05 10:11:12.345,1,p\\,q\\\\r\\nz\\t" << "a"
                                 << "2024-03-05 10:11:12.345" << 1.0f << "p,q\\r\nz\\t";
    }

    void linesRead()
    {
        QFETCH(QString, line);
        QFETCH(QString, channel);
        QFETCH(QString, time);
        QFETCH(float, value);
        QFETCH(QString, text);
        const DataLogSample sample(line);
        QVERIFY(sample.isValid());
        QCOMPARE(DataLogSample::channelOfLine(line), channel);
        QCOMPARE(sample.hasTime(), !time.isEmpty());
        QCOMPARE(sample.time().isNull(), time.isEmpty());
        QCOMPARE(sample.timeString(), time);
        if (!time.isEmpty())
            QCOMPARE(sample.time(), QDateTime::fromString(time, "yyyy-MM-dd hh:mm:ss.zzz"));
        QCOMPARE(sample.value(), value);
        QCOMPARE(sample.text(), text);
        QCOMPARE(sample.hasText(), !text.isEmpty());
    }

    void valuesWritten_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("written");
        QTest::newRow("integral") << 200.0f << "200";
        QTest::newRow("fixed three decimals") << 2.5f << "2.500";
        QTest::newRow("negative fraction") << -0.125f << "-0.125";
        QTest::newRow("large integral exactly") << 1234567.0f << "1234567";
        QTest::newRow("32-bit position") << 16777216.0f << "16777216";
        QTest::newRow("negative zero") << -0.0f << "0";
        QTest::newRow("more digits than three") << 3.14159274f << "3.1415927";
        QTest::newRow("small") << 0.000123f << "0.000123";
    }

    void valuesWritten()
    {
        QFETCH(float, value);
        QFETCH(QString, written);
        QCOMPARE(DataLogSample::formatValue(value), written);
    }

    // Whatever a line carries reads back exactly: values at full float
    // precision, any text, the time to the millisecond.
    void linesWrittenReadBack()
    {
        const QDateTime t(QDate(2024, 12, 31), QTime(23, 59, 59, 999));
        const float values[] = {0.1f, -1e-7f, 123456.789f, 3.4e38f, -16777217.0f, 1.0f / 3, 100.25f,
                                std::numeric_limits<float>::denorm_min()};
        for (const float value : values) {
            DataLogSample sample;
            sample.set(t, value);
            const DataLogSample back(sample.toLine("001.6064h.00h"));
            QCOMPARE(back.value(), value);
            QCOMPARE(back.time(), t);
            QVERIFY(!back.hasText());
        }
        const QString awkward = "a,b\\c\r\nd,";
        const DataLogSample textSample(awkward, t, 5);
        const QString line = textSample.toLine("x");
        QCOMPARE(line, QStringLiteral("x,2024-12-31 23:59:59.999,5,a\\,b\\\\c\\r\\nd\\,"));
        QCOMPARE(DataLogSample(line).text(), awkward);
    }

    void sampleOperations()
    {
        const QDateTime t(QDate(2024, 3, 5), QTime(10, 0));
        DataLogSample key(t);
        QVERIFY(!key.isValid());
        QCOMPARE(key.time(), t);
        key.set(t.addMSecs(5), 7);
        QVERIFY(key.isValid() && !key.hasText());
        QVERIFY(key.isWithin(t, t.addMSecs(5)));
        QVERIFY(!key.isWithin(t, t.addMSecs(4)));
        QVERIFY(DataLogSample::timeLess(DataLogSample(t), key));
        key.invalidate();
        QVERIFY(!key.isValid());
        QCOMPARE(key.value(), 0.0f);
        QCOMPARE(key.time(), t.addMSecs(5));
        QVERIFY(!DataLogSample().isValid());
        QVERIFY(DataLogSample().time().isNull());
    }
};

ZOR_TEST(TestDataLogSample)
#include "tst_datalogsample.moc"
