// The data-log module without a bus: its properties, its control messages,
// the status texts with their markers, recording requests, the state it
// reports to a panel made anew, and file mode (loading a recording in time
// slices with progress, its errors, cancel).
#include "datalogtesting.h"
#include "testdommodel.h"
#include "zormoddatalog.h"
#include "zortest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace tst_datalogmodule {

using ModulePtr = std::unique_ptr<ZorModule, ZorModuleDeleter>;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace tst_datalogmodule

using namespace tst_datalogmodule;

class TestDataLogModule : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    TestDomModel *model = nullptr;
    ZorModDataLog *module = nullptr;
    ModulePtr owner;
    PanelSide panel;

    QString file(const QString &name) const { return dir.filePath(name); }

    ZorMessage send(int type, int state, const QString &data)
    {
        const ZorMessage m(type, state, data);
        module->slaveIn(m);
        return m;
    }
    ZorMessage control(const QString &data, int state = KS_REQUEST) { return send(KM_DAQ_CONTROL, state, data); }
    bool waitForStatus(int status, const QString &text)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            if (panel.lastStatus() == status && panel.lastInfoText() == text)
                return true;
            QTest::qWait(5);
        }
        qWarning() << "status" << panel.lastStatus() << panel.lastInfoText();
        return false;
    }
    // The answer (any state but KS_INFO) to a request, by its id.
    ZorMessage waitForAnswer(const ZorMessage &request, int timeoutMs = 10000)
    {
        ZorMessage found;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs && found.msgType() == KM_UNDEFINED) {
            for (const ZorMessage &m : panel.all())
                if (m == request && m.msgState() != KS_INFO && m.msgState() != KS_REQUEST)
                    found = m;
            QTest::qWait(5);
        }
        return found;
    }
    void startInFileMode()
    {
        module->start();
        QVERIFY(waitForStatus(0, "Idle"));
        control("5,1");
        QVERIFY(waitForStatus(1201, "No recording loaded"));
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        model = new TestDomModel;
        model->addModule("datalog", "Scope");
        module = new ZorModDataLog;
        owner.reset(module);
        panel.clear();
        QVERIFY(module->setupZorModule(model->moduleIndex("Scope"), model));
        connect(module, &ZorModule::slaveOut, this, [this](const ZorMessage &m) { panel.record(m); },
                Qt::DirectConnection);
    }
    void cleanup()
    {
        owner.reset();
        delete model;
    }

    void triggerTimesKeptInRange_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        QTest::newRow("leading zero") << "PreTriggerTimeMsec" << "0100" << "100";
        QTest::newRow("negative") << "PreTriggerTimeMsec" << "-5" << "4000";
        QTest::newRow("above the limit") << "PreTriggerTimeMsec" << "100001" << "4000";
        QTest::newRow("at the limit") << "PreTriggerTimeMsec" << "100000" << "100000";
        QTest::newRow("no number") << "PostTriggerTimeMsec" << "1s" << "1000";
        QTest::newRow("zero") << "PostTriggerTimeMsec" << " 0 " << "0";
        QTest::newRow("other properties as given") << "TriggerConfig" << " 001.6064h.00h " << " 001.6064h.00h ";
    }

    void triggerTimesKeptInRange()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, stored);
        QCOMPARE(module->property("PreTriggerTimeMsec"), QStringLiteral("4000"));
        QCOMPARE(module->property("PostTriggerTimeMsec"), QStringLiteral("1000"));
        QCOMPARE(module->property("TriggerState"), QStringLiteral("0"));
        send(KM_SETPROPERTY, KS_REQUEST, name + "=" + value);
        QCOMPARE(module->property(name), stored);
        QTRY_COMPARE(model->storedProperty("Scope", name), stored);
    }

    void controlCodesRead_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("data");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("arguments");
        QTest::newRow("start recording") << int(KM_DAQ_CONTROL) << "1,/tmp/a,b.csv" << 1 << "/tmp/a,b.csv";
        QTest::newRow("code alone") << int(KM_DAQ_CONTROL) << "2" << 2 << "";
        QTest::newRow("channels") << int(KM_DAQ_CONTROL) << "3,001.6064h.00h,002.6041h.00h" << 3
                                  << "001.6064h.00h,002.6041h.00h";
        QTest::newRow("no number") << int(KM_DAQ_CONTROL) << "x,1" << 0 << "1";
        QTest::newRow("other message") << int(KM_STATUS) << "5,1" << 0 << "";
    }

    void controlCodesRead()
    {
        QFETCH(int, type);
        QFETCH(QString, data);
        QFETCH(int, code);
        QFETCH(QString, arguments);
        const ZorMessage m(type, KS_REQUEST, data);
        QCOMPARE(ZorModDataLog::daqControlCode(m), code);
        QCOMPARE(ZorModDataLog::daqControlArguments(m), arguments);
    }

    // Blank lines are passed over, a channel's first line counts and an id
    // that is no number is 0.
    void sharedIdsListRead()
    {
        const QMap<QString, int> ids =
            ZorModDataLog::sharedIdsOf("001.6064h.00h,7\n\n002.6041h.00h,x\n001.6064h.00h,9\n003.1000h.00h\n");
        const QMap<QString, int> expected{{"001.6064h.00h", 7}, {"002.6041h.00h", 0}, {"003.1000h.00h", 0}};
        QCOMPARE(ids, expected);
        QVERIFY(ZorModDataLog::sharedIdsOf(QString()).isEmpty());
    }

    // The markers follow trigger capture and recording; file mode never
    // shows "(Trigger On)"; a file that cannot be opened is answered
    // KS_FAIL and shows no "(Recording)".
    void statusTextsCarryTheMarkers()
    {
        module->start();
        QVERIFY(waitForStatus(0, "Idle"));
        send(KM_SETPROPERTY, KS_REQUEST, "TriggerState=1");
        QVERIFY(waitForStatus(0, "Idle (Trigger On)"));

        const ZorMessage failing = control("1," + dir.path());
        const ZorMessage failed = waitForAnswer(failing);
        QCOMPARE(failed.msgState(), int(KS_FAIL));
        QVERIFY2(failed.data().toString().startsWith("1,") && failed.data().toString().size() > 2,
                 qPrintable(failed.data().toString()));

        const ZorMessage recording = control("1," + file("rec.csv"));
        const ZorMessage answer = waitForAnswer(recording);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), QStringLiteral("1"));
        QCOMPARE(answer.origin(), QStringLiteral("Scope"));
        QVERIFY(waitForStatus(0, "Idle (Trigger On) (Recording)"));

        send(KM_START, KS_REQUEST, QString());
        QVERIFY(waitForStatus(101, "Live Mode (Trigger On) (Recording)"));
        control("5,1");   // only the idle state switches to file mode
        send(KM_SETPROPERTY, KS_REQUEST, "TriggerState=0");
        QVERIFY(waitForStatus(101, "Live Mode (Recording)"));
        send(KM_SETPROPERTY, KS_REQUEST, "TriggerState=1");
        send(KM_STOP, KS_REQUEST, QString());
        QVERIFY(waitForStatus(0, "Idle (Trigger On) (Recording)"));
        control("2");
        QVERIFY(waitForStatus(0, "Idle (Trigger On)"));

        control("1," + file("rec.csv"));
        QVERIFY(waitForStatus(0, "Idle (Trigger On) (Recording)"));
        control("5,1");
        QVERIFY(waitForStatus(1201, "No recording loaded"));
        control("5,0");
        QVERIFY(waitForStatus(0, "Idle (Trigger On)"));
    }

    // What the gateway would send, played into the module's slave side:
    // samples of confirmed channels are stored, those of channels sampled
    // "Off" or unknown are not; a recording whose writes fail is reported
    // and no longer claimed.
    void slaveSamplesStoredAndWriteFailuresReported()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full to fail writes on");
        module->start();
        QVERIFY(waitForStatus(0, "Idle"));
        QCOMPARE(waitForAnswer(control("1,/dev/full")).msgState(), int(KS_ANSWER));
        send(KM_START, KS_REQUEST, QString());
        QVERIFY(waitForStatus(101, "Live Mode (Recording)"));
        const QString a = "001.6064h.00h", off = "001.2000h.00h";
        module->masterIn(ZorMessage(KM_DAQ_CONFIG, KS_ANSWER, a + ",pos,integer32,Software,100,1\n" + off
                                                                  + ",u8,unsigned8,Off,100,0\n"));
        QTRY_COMPARE(panel.sharedIds().keys(), QStringList({a}));
        QTRY_COMPARE(panel.dataOf(KM_DAQ_CONFIG, KS_ANSWER).value(0),
                     a + ",pos,integer32,Software,100,1\n" + off + ",u8,unsigned8,Off,100,0\n");
        module->masterIn(ZorMessage(KM_DAQ_DATA, KS_INFO, a + ",2024-03-05 10:00:00.000,5\n" + off
                                                               + ",2024-03-05 10:00:00.000,1\n"
                                                                 "003.1000h.00h,2024-03-05 10:00:00.000,1\n"));
        QVERIFY(waitForStatus(101, "Live Mode"));
        const QStringList failures = panel.dataOf(KM_DAQ_CONTROL, KS_FAIL);
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.first().startsWith("1,") && failures.first().size() > 2, qPrintable(failures.first()));
        QCOMPARE(seriesLines(panel.sharedIds().value(a), a), QStringList({a + ",2024-03-05 10:00:00.000,5"}));
        QTRY_COMPARE(panel.sharedIds().keys(), QStringList({a}));

        // Sampling ended: every object counts as off, later lines are dropped.
        module->masterIn(ZorMessage(KM_DAQ_CONFIG, KS_ANSWER, QString()));
        QTRY_COMPARE(panel.dataOf(KM_DAQ_CONFIG, KS_ANSWER).size(), 2);
        module->masterIn(ZorMessage(KM_DAQ_DATA, KS_INFO, a + ",2024-03-05 10:00:01.000,6\n"));
        send(KM_STOP, KS_REQUEST, QString());
        QVERIFY(waitForStatus(0, "Idle"));
        QCOMPARE(seriesLines(panel.sharedIds().value(a), a).size(), 1);
    }

    // A recording with its XML file loads in batches with progress into
    // unlimited series, whose ids go to the panel side; other series of
    // the program are never touched.
    void recordingLoadedWithProgress()
    {
        auto *foreign = new DataLogSeries;
        const int foreignId = SharedDataRegistry::registerSeries(foreign);
        const QStringList lines = {
            "001.6064h.00h,2024-03-05 10:00:00.000,1",
            "002.6041h.00h,2024-03-05 10:00:00.000,592",
            "001.6064h.00h,2024-03-05 10:00:00.100,2.500",
            "001.6064h.00h,2024-03-05 10:00:00.200,3,001.6064h.00h > 2",
            "001.6064h.00h,not a time,4",
            "001.6064h.00h,2024-03-05 10:00:00.300,1.23457e+06",
        };
        writeFile(file("run.csv"), lines.join("\r\n").toLatin1() + "\r\n");
        writeFile(file("run.xml"), "<CANopenObjectList/>");
        module->setLinesPerCycle(2);
        startInFileMode();

        const ZorMessage load = control("4," + file("run.csv"));
        const ZorMessage answer = waitForAnswer(load);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), "4," + file("run.csv") + "," + file("run.xml"));
        QVERIFY(waitForStatus(201, "Recording Loaded"));

        const qint64 size = QFileInfo(file("run.csv")).size();
        QStringList progress = panel.dataOf(KM_DAQ_CONTROL, KS_INFO);
        QVERIFY2(progress.size() >= 3, qPrintable(progress.join(' ')));
        int lastPercent = -1;
        for (const QString &p : progress) {
            const QStringList f = p.split(',');
            QCOMPARE(f.size(), 4);
            QCOMPARE(f.at(0), QStringLiteral("4"));
            QCOMPARE(f.at(2).toLongLong(), size);
            QCOMPARE(f.at(3).toLongLong(), f.at(1).toLongLong() * 100 / size);
            QVERIFY(f.at(3).toInt() > lastPercent);
            lastPercent = f.at(3).toInt();
        }
        QCOMPARE(lastPercent, 100);

        const QMap<QString, int> ids = panel.sharedIds();
        QCOMPARE(ids.keys(), QStringList({"001.6064h.00h", "002.6041h.00h"}));
        QVERIFY(!ids.values().contains(foreignId));
        bool unlimited = false;
        QCOMPARE(seriesLines(ids.value("001.6064h.00h"), "001.6064h.00h", &unlimited),
                 QStringList({"001.6064h.00h,2024-03-05 10:00:00.000,1", "001.6064h.00h,2024-03-05 10:00:00.100,2.500",
                              "001.6064h.00h,2024-03-05 10:00:00.300,1234570",
                              "001.6064h.00h,2024-03-05 10:00:00.200,3,001.6064h.00h > 2"}));
        QVERIFY(unlimited);
        QVERIFY(panel.dataOf(KM_LOGTEXT).join(' ').contains("1 samples skipped"));

        // Changed triggers ask for a reload; the list can be asked for.
        panel.clear();
        send(KM_SETPROPERTY, KS_REQUEST, "TriggerConfig=001.6064h.00h");
        QVERIFY(waitForStatus(1203, "Triggers config. changed - please reload file"));
        send(KM_DAQ_SHARED_IDS_LIST, KS_REQUEST, QString());
        QTRY_COMPARE(panel.sharedIds(), ids);

        // Back in live mode the loaded series are gone, the foreign one stays.
        control("5,0");
        QVERIFY(waitForStatus(0, "Idle"));
        QVERIFY(!SharedDataRegistry::lock(ids.value("001.6064h.00h"), 1));
        QVERIFY(SharedDataRegistry::lock(foreignId, 1));
        SharedDataRegistry::unlock(foreignId);
    }

    void loadingErrorsReported_data()
    {
        QTest::addColumn<QString>("csv");
        QTest::addColumn<QString>("error");
        QTest::newRow("no recording") << "missing.csv" << "The requested file %1 was not found.";
        QTest::newRow("no XML file") << "data.txt" << "The required XML file %2 was not found.";
        QTest::newRow("cannot be read") << "folder.csv" << "Could not load the log file %1.";
    }

    void loadingErrorsReported()
    {
        QFETCH(QString, csv);
        QFETCH(QString, error);
        writeFile(file("data.txt"), "a,2024-03-05 10:00:00.000,1\r\n");
        QDir(dir.path()).mkpath("folder.csv");
        writeFile(file("folder.xml"), "<x/>");
        startInFileMode();
        const ZorMessage load = control("4," + file(csv));
        const ZorMessage failure = waitForAnswer(load);
        QCOMPARE(failure.msgState(), int(KS_FAIL));
        const QString xml = file(csv).chopped(3) + "xml";
        QCOMPARE(failure.data().toString(), "4," + QString(error).replace("%1", file(csv)).replace("%2", xml));
        QVERIFY(waitForStatus(2200, "Log Viewer Error"));
        QVERIFY(panel.ofType(KM_DAQ_CONTROL, KS_INFO).isEmpty());
        // A new load may follow.
        writeFile(file("ok.csv"), QByteArray());
        writeFile(file("ok.xml"), "<x/>");
        QCOMPARE(waitForAnswer(control("4," + file("ok.csv"))).msgState(), int(KS_ANSWER));
        QVERIFY(waitForStatus(201, "Recording Loaded"));
    }

    // What a panel made anew learns: the state, whether and where the
    // module records, the recording it shows; and the shared ids, in every
    // state.
    void stateReportedOnRequest()
    {
        const auto stateOf = [this]() {
            const ZorMessage answer = waitForAnswer(control("6"));
            return answer.msgState() == KS_ANSWER ? answer.data().toString() : QStringLiteral("no answer");
        };
        module->start();
        QVERIFY(waitForStatus(0, "Idle"));
        QCOMPARE(stateOf(), QStringLiteral("6,idle,0,"));
        const QString csv = file("rec, 1.csv");
        QCOMPARE(waitForAnswer(control("1," + csv)).msgState(), int(KS_ANSWER));
        QCOMPARE(stateOf(), "6,idle,1," + csv);
        send(KM_START, KS_REQUEST, QString());
        QVERIFY(waitForStatus(101, "Live Mode (Recording)"));
        module->masterIn(ZorMessage(KM_DAQ_CONFIG, KS_ANSWER, "001.6064h.00h,pos,integer32,Software,100,1\n"));
        QTRY_VERIFY(panel.sharedIds().contains("001.6064h.00h"));
        panel.clear();
        QCOMPARE(stateOf(), "6,running,1," + csv);
        QCOMPARE(panel.sharedIds().keys(), QStringList{"001.6064h.00h"});
        panel.clear();
        send(KM_DAQ_SHARED_IDS_LIST, KS_REQUEST, QString());
        QTRY_COMPARE(panel.sharedIds().keys(), QStringList{"001.6064h.00h"});

        send(KM_STOP, KS_REQUEST, QString());
        control("2");
        control("5,1");
        QVERIFY(waitForStatus(1201, "No recording loaded"));
        QCOMPARE(stateOf(), QStringLiteral("6,notloaded,0,"));
        writeFile(file("rec, 1.xml"), "<CANopenObjectList/>");
        QCOMPARE(waitForAnswer(control("4," + csv)).msgState(), int(KS_ANSWER));
        QCOMPARE(stateOf(), "6,loaded,0," + csv);
        control("4," + file("missing.csv"));
        QVERIFY(waitForStatus(2200, "Log Viewer Error"));
        QCOMPARE(stateOf(), "6,error,0," + file("missing.csv"));
    }

    // A long recording is read in slices of a few ms, not in one go: the
    // module answers between them, reports progress as it goes, and counts
    // the samples it had to skip anew for each recording.
    void longRecordingReadInSlices()
    {
        const int lines = 300000;
        QByteArray bytes;
        bytes.reserve(lines * 42);
        const qint64 t0 = DataLogSample::toWallMs(QDateTime(QDate(2024, 3, 5), QTime(10, 0)));
        for (int i = 0; i < lines; ++i) {
            bytes += DataLogSample::atWallMs(t0 + i, float(i % 1000)).toLine("001.6064h.00h").toLatin1();
            bytes += "\r\n";
        }
        bytes += "001.6064h.00h,not a time,1";   // the last line without its line end
        writeFile(file("long.csv"), bytes);
        writeFile(file("long.xml"), "<x/>");
        startInFileMode();

        const ZorMessage load = control("4," + file("long.csv"));
        const ZorMessage query = control("6");
        const ZorMessage state = waitForAnswer(query);
        QCOMPARE(state.data().toString(), "6,loading,0," + file("long.csv"));
        // 300,000 lines: generous time for checking builds on a busy machine.
        QCOMPARE(waitForAnswer(load, 120000).msgState(), int(KS_ANSWER));
        QVERIFY(waitForStatus(201, "Recording Loaded"));
        int at = -1;
        const QList<ZorMessage> all = panel.all();
        for (int i = 0; i < all.size() && at < 0; ++i)
            if (all.at(i) == query && all.at(i).msgState() == KS_ANSWER)
                at = i;
        // The answer came while the load was still going on.
        int progressAfter = 0;
        for (int i = at + 1; i < all.size(); ++i)
            if (all.at(i).msgType() == KM_DAQ_CONTROL && all.at(i).msgState() == KS_INFO)
                ++progressAfter;
        QVERIFY2(progressAfter > 0, "loaded in one go");
        QCOMPARE(panel.dataOf(KM_DAQ_CONTROL, KS_INFO).last(),
                 QStringLiteral("4,%1,%1,100").arg(QFileInfo(file("long.csv")).size()));
        const int id = panel.sharedIds().value("001.6064h.00h");
        DataLogSeries *series = SharedDataRegistry::lock(id, 5000);
        QVERIFY(series);
        const int count = series->valueCount();
        const float last = series->lastValue().value();
        SharedDataRegistry::unlock(id);
        QCOMPARE(count, lines);
        QCOMPARE(last, float((lines - 1) % 1000));
        QTRY_VERIFY(panel.dataOf(KM_LOGTEXT).join(' ').contains("1 samples skipped"));

        // Loaded again: still one skipped sample, not two.
        panel.clear();
        QCOMPARE(waitForAnswer(control("4," + file("long.csv"))).msgState(), int(KS_ANSWER));
        QTRY_COMPARE(panel.dataOf(KM_LOGTEXT).size(), 1);
        QVERIFY(panel.dataOf(KM_LOGTEXT).first().startsWith("1 samples skipped"));
    }

    void cancelReturnsToNotLoaded()
    {
        QByteArray bytes;
        for (int i = 0; i < 3000; ++i)
            bytes += "001.6064h.00h,2024-03-05 10:00:00.000," + QByteArray::number(i) + "\r\n";
        writeFile(file("long.csv"), bytes);
        writeFile(file("long.xml"), "<x/>");
        module->setLinesPerCycle(1);
        startInFileMode();
        const ZorMessage load = control("4," + file("long.csv"));
        QVERIFY(waitForStatus(1202, "Loading Log File..."));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.ofType(KM_DAQ_CONTROL, KS_INFO).isEmpty(), 10000);
        const ZorMessage cancel = control("4", KS_CANCEL);
        const ZorMessage echoed = waitForAnswer(cancel);
        QCOMPARE(echoed.msgState(), int(KS_CANCEL));
        QCOMPARE(echoed.origin(), QStringLiteral("Scope"));
        QVERIFY(waitForStatus(1201, "No recording loaded"));
        for (const ZorMessage &m : panel.all())
            QVERIFY(!(m == load && m.msgState() == KS_ANSWER));
    }
};

ZOR_TEST(TestDataLogModule)
#include "tst_datalogmodule.moc"
