// What the data-log module does with each sample: store it into its
// channel's shared series and the recording file, or, with trigger capture
// on, keep only trigger windows; skip samples that would unsort a series;
// clear and unregister only its own series; never record silently into a
// file that fails.
#include "datalogseries.h"
#include "shareddataregistry.h"
#include "zordatalogcapture.h"
#include "zortest.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QDateTime T0(QDate(2024, 3, 5), QTime(10, 0));

DataLogSample sampleAt(qint64 ms, float value)
{
    DataLogSample s;
    s.set(T0.addMSecs(ms), value);
    return s;
}

// "ms:value" of every value sample of a channel's series, and "ms:text" of
// every text sample.
QStringList seriesContent(const ZorDataLogCapture &capture, const QString &channel)
{
    QStringList content;
    const int id = capture.seriesId(channel);
    DataLogSeries *series = SharedDataRegistry::lock(id, 1000);
    if (!series)
        return {"no series"};
    for (int i = 0; i < series->valueCount(); ++i)
        content << QStringLiteral("%1:%2").arg(T0.msecsTo(series->valueAt(i).time()))
                       .arg(DataLogSample::formatValue(series->valueAt(i).value()));
    for (int i = 0; i < series->textCount(); ++i)
        content << QStringLiteral("%1:%2").arg(T0.msecsTo(series->textAt(i).time())).arg(series->textAt(i).text());
    SharedDataRegistry::unlock(id);
    return content;
}

QStringList recordedLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {"cannot open"};
    const QByteArray bytes = file.readAll();
    if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
        return {"no CR LF at the end"};
    QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

} // namespace

class TestDataLogCapture : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString file(const QString &name) const { return dir.filePath(name); }

private slots:
    void withoutTriggersEverySampleIsStoredAndRecorded()
    {
        ZorDataLogCapture capture;
        QString error;
        QVERIFY2(capture.startRecording(file("all.csv"), error), qPrintable(error));
        QStringList expected;
        const QList<QPair<QString, DataLogSample>> input = {
            {"001.6064h.00h", sampleAt(0, 1)}, {"002.6041h.00h", sampleAt(5, 1234567)},
            {"001.6064h.00h", sampleAt(10, 2.5f)}, {"001.6064h.00h", sampleAt(10, 0.1f)}};
        for (const auto &in : input) {
            capture.process(in.first, in.second);
            expected << in.second.toLine(in.first);
        }
        QVERIFY(capture.flushRecording(error));
        QCOMPARE(recordedLines(file("all.csv")), expected);
        QCOMPARE(expected.at(1), QStringLiteral("002.6041h.00h,2024-03-05 10:00:00.005,1234567"));
        QCOMPARE(seriesContent(capture, "001.6064h.00h"), QStringList({"0:1", "10:2.500", "10:0.100"}));
        // The recording reads back to the samples that were stored.
        for (const QString &line : recordedLines(file("all.csv"))) {
            const DataLogSample back(line);
            const auto original = input.at(recordedLines(file("all.csv")).indexOf(line)).second;
            QCOMPARE(back.time(), original.time());
            QCOMPARE(back.value(), original.value());
        }
        QCOMPARE(capture.sharedIdsText(), QStringLiteral("001.6064h.00h,%1\n002.6041h.00h,%2\n")
                                               .arg(capture.seriesId("001.6064h.00h"))
                                               .arg(capture.seriesId("002.6041h.00h")));
    }

    // A rising crossing opens a window: the buffered samples of every
    // channel from the last pre-trigger time, the trigger text and the
    // firing sample are stored, then everything inside the window.
    void triggerWindowsCaptured()
    {
        ZorDataLogCapture capture;
        capture.setTriggerConfig(" 001.6064h.00h > 100 ;; ");
        QCOMPARE(capture.triggers().size(), 1);
        capture.setTriggerOn(true);
        capture.setTriggerTimes(1000, 500);
        QString error;
        QVERIFY(capture.startRecording(file("trigger.csv"), error));
        const QString a = "001.6064h.00h", b = "002.6041h.00h";
        const QList<std::tuple<QString, qint64, float>> input = {
            {a, 0, 50}, {b, 100, 7}, {a, 200, 60}, {b, 1500, 8},
            {a, 1600, 150},   // the previous value is older than the pre-trigger time: no crossing
            {a, 1650, 100},
            {a, 1700, 101},   // fires: window 700..2200
            {a, 1800, 150}, {a, 1900, 99},
            {a, 2000, 120},   // fires again inside the window: stored, window unchanged
            {b, 2100, 9},
            {a, 2300, 130},   // after the window: closes it, only buffered
            {b, 2400, 10}};
        for (const auto &[channel, ms, value] : input)
            capture.process(channel, sampleAt(ms, value));
        QVERIFY(!capture.isTriggered());
        QCOMPARE(capture.windowStart(), T0.addMSecs(2300));
        QCOMPARE(seriesContent(capture, a),
                 QStringList({"1600:150", "1650:100", "1700:101", "1800:150", "1900:99", "2000:120",
                              "1700:001.6064h.00h > 100"}));
        QCOMPARE(seriesContent(capture, b), QStringList({"1500:8", "2100:9"}));

        // Capture switched off: what is buffered and later than the last
        // window's start is stored first.
        capture.setTriggerOn(false);
        capture.process(a, sampleAt(2500, 1));
        QCOMPARE(seriesContent(capture, b), QStringList({"1500:8", "2100:9", "2400:10"}));
        QVERIFY(capture.flushRecording(error));
        const QString textLine = "001.6064h.00h,2024-03-05 10:00:01.700,101,001.6064h.00h > 100";
        const QStringList lines = recordedLines(file("trigger.csv"));
        QCOMPARE(lines.mid(0, 5), QStringList({sampleAt(1600, 150).toLine(a), sampleAt(1650, 100).toLine(a), textLine,
                                               sampleAt(1700, 101).toLine(a), sampleAt(1500, 8).toLine(b)}));
        QCOMPARE(lines.size(), 11);
        QCOMPARE(lines.last(), sampleAt(2500, 1).toLine(a));
    }

    void conditionsOfOtherChannelsNeverFire()
    {
        ZorDataLogCapture capture;
        capture.setTriggerConfig("001.6064h.00h;001.6064H.00h > 0");
        capture.setTriggerOn(true);
        capture.process("001.6064h.00h ", sampleAt(0, 1));
        capture.process("001.6064h.00h ", sampleAt(10, 2));
        QVERIFY(!capture.isTriggered());
        capture.process("001.6064h.00h", sampleAt(20, 1));
        capture.process("001.6064h.00h", sampleAt(30, 2));   // change
        QVERIFY(capture.isTriggered());
    }

    void samplesThatWouldUnsortASeriesAreSkipped()
    {
        ZorDataLogCapture capture;
        capture.process("a", sampleAt(100, 1));
        capture.process("a", DataLogSample("a,not a time,2"));
        capture.process("a", sampleAt(50, 3));   // backwards
        capture.process("b", sampleAt(50, 4));   // another channel has its own time
        capture.process("a", sampleAt(100, 5));
        QCOMPARE(capture.skippedSamples(), 2);
        QCOMPARE(seriesContent(capture, "a"), QStringList({"100:1", "100:5"}));
        QCOMPARE(seriesContent(capture, "b"), QStringList({"50:4"}));
    }

    // Clearing touches only this capture's own series; a capture that goes
    // unregisters its own.
    void clearingKeepsToOwnSeries()
    {
        ZorDataLogCapture mine;
        auto other = std::make_unique<ZorDataLogCapture>();
        mine.process("a", sampleAt(0, 1));
        mine.process("b", sampleAt(0, 1));
        other->process("a", sampleAt(0, 2));
        const int mineA = mine.seriesId("a"), otherA = other->seriesId("a");
        QVERIFY(mineA != otherA);

        mine.clearChannels({"a", "unknown"});
        QCOMPARE(mine.seriesId("a"), mineA);
        QCOMPARE(seriesContent(mine, "a"), QStringList());
        QCOMPARE(seriesContent(mine, "b"), QStringList({"0:1"}));
        mine.process("a", sampleAt(-5, 3));   // a cleared channel starts afresh
        QCOMPARE(seriesContent(mine, "a"), QStringList({"-5:3"}));

        mine.clearAll();
        QVERIFY(!SharedDataRegistry::lock(mineA, 1));
        QCOMPARE(seriesContent(*other, "a"), QStringList({"0:2"}));
        other.reset();
        QVERIFY(!SharedDataRegistry::lock(otherA, 1));
    }

    void recordingFailuresStopRecording()
    {
        ZorDataLogCapture capture;
        QString error;
        QVERIFY(!capture.startRecording(dir.path(), error));   // a folder
        QVERIFY(!error.isEmpty());
        QVERIFY(!capture.isRecording());
        QVERIFY(!capture.startRecording(QString(), error));
        QVERIFY(!capture.isRecording());

        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full to fail writes on");
        error.clear();
        QVERIFY(capture.startRecording("/dev/full", error));
        capture.process("a", sampleAt(0, 1));
        QVERIFY(!capture.flushRecording(error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!capture.isRecording());
        // The sample itself is kept in the series.
        QCOMPARE(seriesContent(capture, "a"), QStringList({"0:1"}));
    }

    // A new file closes the one before; the same file stays open; stopping
    // closes it, so every recording ends up in its own file.
    void recordingFilesFollowTheRequests()
    {
        ZorDataLogCapture capture;
        QString error;
        QVERIFY(capture.startRecording(file("one.csv"), error));
        capture.process("a", sampleAt(0, 1));
        QVERIFY(capture.startRecording(file("two.csv"), error));
        capture.process("a", sampleAt(1, 2));
        QVERIFY(capture.startRecording(file("two.csv"), error));
        capture.process("a", sampleAt(2, 3));
        QVERIFY(capture.stopRecording(error));
        capture.process("a", sampleAt(3, 4));
        QVERIFY(capture.flushRecording(error));
        QCOMPARE(recordedLines(file("one.csv")), QStringList({sampleAt(0, 1).toLine("a")}));
        QCOMPARE(recordedLines(file("two.csv")),
                 QStringList({sampleAt(1, 2).toLine("a"), sampleAt(2, 3).toLine("a")}));
        // Appending to an existing recording.
        QVERIFY(capture.startRecording(file("one.csv"), error));
        capture.process("a", sampleAt(4, 5));
        QVERIFY(capture.stopRecording(error));
        QCOMPARE(recordedLines(file("one.csv")).size(), 2);
    }
};

ZOR_TEST(TestDataLogCapture)
#include "tst_datalogcapture.moc"
