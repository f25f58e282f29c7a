// The test-cycle module: its run with two CiA 402 drives on the simulated
// bus (staggered moves between the two positions, the counts, the
// statistics file and the final report when stopping), and with two
// stand-in drives whose answers the test chooses (every answer state, an
// unknown label, the move texts and the reasons of failed moves, homing,
// and the starts that are refused).
#include "drivepairrig.h"
#include "moduletesting.h"
#include "startstopmodule.h"
#include "zormodposdrive.h"
#include "zormodtestcycle.h"
#include "zortest.h"

namespace TestCycleTesting {

// The lines of a report without its leading time stamp line.
QStringList reportBody(const QString &text, QString *stamp = nullptr)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    if (stamp && !lines.isEmpty())
        *stamp = lines.first();
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

const QRegularExpression StampLine(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d\\t\\d\\d:\\d\\d:\\d\\d$"));

} // namespace TestCycleTesting

using namespace TestCycleTesting;

class TestTestCycle : public QObject
{
    Q_OBJECT

    QTemporaryDir workDir;
    QString savedDir;

    // The stand-in set-up: the cycle on two modules of type "drive_canopen"
    // that answer nothing themselves.
    struct StubRig
    {
        TestDomModel model;
        ModulePtr cycle;
        ModulePtr driveA, driveB;
        MasterRecorder master;
        GatewayRecorder toDrives;

        explicit StubRig(const QString &properties, bool withDrives = true)
        {
            model.setXml(TestDomModel::projectXml(
                {{QStringLiteral("drive_canopen"), QStringLiteral("DriveA")},
                 {QStringLiteral("drive_canopen"), QStringLiteral("DriveB")},
                 {QStringLiteral("testcycle"), QStringLiteral("Cycle"), QString(),
                  QStringLiteral("<properties>%1</properties>").arg(properties)}}));
            auto *c = new ZorModTestCycle;
            c->setInitWaitMs(0);
            cycle.reset(c);
            c->setupZorModule(model.moduleIndex(QStringLiteral("Cycle")), &model);
            if (withDrives) {
                driveA.reset(new StartStopModule);
                driveB.reset(new StartStopModule);
                for (ZorModule *d : {driveA.get(), driveB.get()}) {
                    d->setProperty(QStringLiteral("TargetPositionMin"), QStringLiteral("-100"), false);
                    d->setProperty(QStringLiteral("TargetPositionMax"), QStringLiteral("500"), false);
                }
                driveA->setupZorModule(model.moduleIndex(QStringLiteral("DriveA")), &model);
                driveB->setupZorModule(model.moduleIndex(QStringLiteral("DriveB")), &model);
                c->addSlave(driveA.get());
                c->addSlave(driveB.get());
            }
            master.attach(c);
            QObject::connect(c, &ZorModule::masterOut, &toDrives, &GatewayRecorder::record, Qt::DirectConnection);
            c->start();
        }
        // The move requests in the order sent, as "label:text".
        QStringList moves() const
        {
            QStringList list;
            for (const ZorMessage &m : toDrives.ofType(KM_DRIVE_GO_TO_EXTENDED))
                list << m.recipient() + QLatin1Char(':') + m.data().toString();
            return list;
        }
        // The drive's answers to the cycle's questions for its limits, as the
        // stand-in gives them itself (whichever comes first, the values are
        // the same).
        void answerLimits(const QString &label)
        {
            for (const char *text : {"TargetPositionMin=-100", "TargetPositionMax=500"}) {
                ZorMessage answer(KM_GETPROPERTY, KS_ANSWER, QString::fromLatin1(text));
                answer.setOrigin(label);
                cycle->masterIn(answer);
            }
        }
        void answerMove(const QString &label, int state)
        {
            ZorMessage answer(KM_DRIVE_GO_TO_EXTENDED, state, QStringLiteral("1000.000,"));
            answer.setRecipient(label);
            answer.setOrigin(label);
            cycle->masterIn(answer);
        }
        bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000)
        {
            return QTest::qWaitFor(condition, timeoutMs);
        }
    };

    QStringList statsFiles() const
    {
        return QDir(workDir.path()).entryList({QStringLiteral("testcycle_stats_*.txt")}, QDir::Files);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        savedDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(savedDir); }
    void init()
    {
        for (const QString &f : statsFiles())
            QFile::remove(QDir(workDir.path()).filePath(f));
    }

    // Two real drives: the moves are staggered, reach both positions, and a
    // stop ends the run at Position 2 with the final report, the same one as
    // in the statistics file.
    void cyclesTwoDrivesOnTheBus()
    {
        auto *cycle = new ZorModTestCycle;
        cycle->setInitWaitMs(200);
        DrivePairRig rig;
        QVERIFY2(rig.start(cycle, QStringLiteral("testcycle"),
                           QStringLiteral("<Position1>1.0</Position1><Position2>0.5</Position2>"
                                          "<CycleTime1>1200</CycleTime1><CycleTime2>1200</CycleTime2>"
                                          "<Velocity1>3000</Velocity1><Velocity2>3000</Velocity2>"
                                          "<Acceleration1>20000</Acceleration1><Deceleration1>20000</Deceleration1>"
                                          "<Acceleration2>20000</Acceleration2><Deceleration2>20000</Deceleration2>"
                                          "<UseProfileParameters>1</UseProfileParameters>"),
                           false),
                 qPrintable(rig.sim.errorString()));
        rig.startModule();
        // The drives are brought up first, so that the short start-up wait
        // of the cycle does not decide the counts.
        QVERIFY(rig.startDrives());

        rig.send(ZorMessage(KM_DRIVE_START, KS_REQUEST));
        QVERIFY(rig.waitUntil([&] { return rig.sentToDrives(KM_DRIVE_GO_TO_EXTENDED).size() >= 1; }));
        rig.send(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
        auto finalReport = [&] {
            for (const ZorMessage &m : rig.fromModule.ofType(KM_INFOTEXT))
                if (m.data().toString().contains(QLatin1String("Final ")))
                    return m.data().toString();
            return QString();
        };
        QVERIFY(rig.waitUntil([&] { return !finalReport().isEmpty(); }, 30000));

        // One move per drive and half-cycle, drive B one step interval
        // (1200 / (2 x 2) = 300 ms) after drive A.
        const auto moves = rig.sentToDrives(KM_DRIVE_GO_TO_EXTENDED);
        QCOMPARE(moves.size(), 4);
        const QStringList expected = {QStringLiteral("DriveA:1.000,,3000,20000,20000"),
                                      QStringLiteral("DriveB:1.000,,3000,20000,20000"),
                                      QStringLiteral("DriveA:0.500,,3000,20000,20000"),
                                      QStringLiteral("DriveB:0.500,,3000,20000,20000")};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(moves.at(i).second.recipient() + QLatin1Char(':') + moves.at(i).second.data().toString(),
                     expected.at(i));
        QVERIFY2(moves.at(1).first - moves.at(0).first >= 150, "drive B was not staggered");
        QVERIFY2(moves.at(3).first - moves.at(2).first >= 150, "drive B was not staggered");

        // Both drives stand at Position 2 (0.5 turns of 4096 increments).
        QVERIFY(rig.waitUntil([&] {
            return rig.driveState(2).value(QStringLiteral("pos")) == QLatin1String("2048")
                   && rig.driveState(3).value(QStringLiteral("pos")) == QLatin1String("2048");
        }));

        QString stamp;
        const QString report = finalReport();
        const QStringList body = reportBody(report, &stamp);
        QVERIFY2(StampLine.match(stamp).hasMatch(), qPrintable(stamp));
        QCOMPARE(body, QStringList({QStringLiteral("Final Test Cycle Count\t1"),
                                    QStringLiteral("Drive\t# Positions\t# Accepted\t# Errors\t# Skipped (previous "
                                                   "target not reached)"),
                                    QStringLiteral("DriveA\t2\t2\t0\t0"), QStringLiteral("DriveB\t2\t2\t0\t0")}));

        const QStringList files = statsFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^testcycle_stats_\\d{4}-\\d\\d-\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.txt$"))
                    .match(files.first()).hasMatch());
        QFile file(files.first());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString content = QString::fromUtf8(file.readAll());
        QString fileStamp;
        QStringList fileBody = reportBody(content, &fileStamp);
        QVERIFY(StampLine.match(fileStamp).hasMatch());
        QVERIFY2(!content.endsWith(QLatin1Char('\n')), "the file ends with a line feed");
        fileBody[0].prepend(QStringLiteral("Final "));
        QCOMPARE(fileBody, body);
        QTRY_COMPARE_WITH_TIMEOUT(rig.fromModule.ofType(KM_STATUS).last().data().toInt(), 0, 10000);
    }

    // Every answer state counts where it belongs; answers of an unknown label
    // and other messages count nowhere. The move text follows the two flags.
    void countsAnswersAndWritesMoveTexts()
    {
        StubRig rig(QStringLiteral("<CycleTime1>100</CycleTime1><CycleTime2>100</CycleTime2>"
                                   "<CheckTargetReached>1</CheckTargetReached><DebugMode>0</DebugMode>"));
        rig.cycle->slaveIn(ZorMessage(KM_DRIVE_START, KS_REQUEST));
        QVERIFY(rig.waitFor([&] { return rig.moves().size() == 2; }));
        QCOMPARE(rig.moves(), QStringList({QStringLiteral("DriveA:1000.000,t"), QStringLiteral("DriveB:1000.000,t")}));
        rig.answerLimits(QStringLiteral("DriveB"));
        rig.answerMove(QStringLiteral("DriveA"), KS_ANSWER);
        rig.answerMove(QStringLiteral("DriveB"), KS_CANCEL);
        rig.answerMove(QStringLiteral("DriveB"), KS_FAIL);
        rig.answerMove(QStringLiteral("DriveB"), KS_REJECT);
        rig.answerMove(QStringLiteral("Elsewhere"), KS_FAIL);
        rig.cycle->masterIn(ZorMessage(KM_DRIVE_START, KS_ANSWER));
        rig.cycle->slaveIn(ZorMessage(KM_STOP, KS_REQUEST));
        QVERIFY(rig.waitFor([&] { return rig.master.lastInfoText().contains(QLatin1String("Final ")); }));
        QCOMPARE(reportBody(rig.master.lastInfoText()).mid(2),
                 QStringList({QStringLiteral("DriveA\t2\t1\t0\t0"), QStringLiteral("DriveB\t2\t0\t2\t1")}));
        QCOMPARE(rig.moves().mid(2),
                 QStringList({QStringLiteral("DriveA:0.000,t"), QStringLiteral("DriveB:0.000,t")}));
        QVERIFY2(statsFiles().isEmpty(), "DebugMode 0 wrote a file");
        QCOMPARE(rig.master.infoTexts().filter(QStringLiteral("Stopping at Position 2")).size(), 1);
        QTRY_COMPARE(rig.master.lastStatus(), 0);
        // Each failed move tells the master why; a skipped one does not.
        QCOMPARE(rig.master.dataOf(KM_LOGTEXT),
                 QStringList({QStringLiteral("DriveB: the move to 1000.000 failed: it lies beyond the drive's "
                                             "limits -100 to 500"),
                              QStringLiteral("DriveB: the move to 1000.000 failed: the drive is not ready for it "
                                             "(not in profile position mode, or stopping)")}));
    }

    // A second run starts from nothing: its first report counts from 0, and
    // stopping it at once ends at Position 2 without repeating the old run.
    void secondRunStartsFromNothing()
    {
        StubRig rig(QStringLiteral("<CycleTime1>50</CycleTime1><CycleTime2>50</CycleTime2>"));
        for (int run = 0; run < 2; ++run) {
            rig.master.clear();
            rig.cycle->slaveIn(ZorMessage(KM_DRIVE_START, KS_REQUEST));
            QVERIFY(rig.waitFor([&] { return rig.moves().size() == 4 * run + 2; }));
            rig.cycle->slaveIn(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
            QVERIFY(rig.waitFor([&] { return rig.master.lastInfoText().contains(QLatin1String("Final ")); }));
            const QStringList reports = rig.master.infoTexts().filter(QStringLiteral("Test Cycle Count"));
            QVERIFY(!reports.isEmpty());
            QVERIFY2(reports.first().contains(QLatin1String("Init Test Cycle Count\t0")), qPrintable(reports.first()));
            QCOMPARE(reportBody(rig.master.lastInfoText()).mid(1),
                     QStringList({QStringLiteral("Drive\t# Positions\t# Accepted\t# Errors\t# Skipped (previous "
                                                 "target not reached)"),
                                  QStringLiteral("DriveA\t2\t0\t0\t0"), QStringLiteral("DriveB\t2\t0\t0\t0")}));
            QTRY_COMPARE(rig.master.lastStatus(), 0);
        }
        QCOMPARE(rig.moves().size(), 8);
    }

    // Homing: profile mode 6, then after a second the target 0 and homing
    // method 35 to all drives, and back to Idle.
    void homesAllDrives()
    {
        StubRig rig{QString()};
        rig.cycle->slaveIn(ZorMessage(KM_DRIVE_START_HOMING, KS_REQUEST));
        QVERIFY(rig.waitFor([&] { return rig.master.lastStatus() == 0 && !rig.toDrives.ofType(KM_DRIVE_STOP).isEmpty(); }));
        QStringList sent;
        for (const ZorMessage &m : rig.toDrives.messages()) {
            QVERIFY(!m.hasRecipient());
            sent << ZorMessage::msgTypeName(m.msgType()) + QLatin1Char(':') + m.data().toString();
        }
        QCOMPARE(sent, QStringList({QStringLiteral("KM_DRIVE_START:"), QStringLiteral("KM_SET_PROFILE_MODE:6"),
                                    QStringLiteral("KM_SETPROPERTY:TargetPosition=0"),
                                    QStringLiteral("KM_DRIVE_START_HOMING:35"), QStringLiteral("KM_DRIVE_STOP:")}));
        QVERIFY(rig.master.infoTexts().contains(QStringLiteral("Homing all Drives (Pos = 0)")));
    }

    // A start that cannot run is refused at once, before anything moves:
    // answered KS_FAIL with the reason, which is also the status text.
    void refusesStartsThatCannotRun_data()
    {
        QTest::addColumn<QString>("setting");   // as the panel sends it
        QTest::addColumn<bool>("drives");
        QTest::addColumn<int>("request");
        QTest::addColumn<QString>("reason");
        const QString times = QStringLiteral("Cycle times must be above 0 ms");
        QTest::newRow("empty cycle time") << QStringLiteral("CycleTime1=") << true << int(KM_DRIVE_START) << times;
        QTest::newRow("zero") << QStringLiteral("CycleTime2=0") << true << int(KM_DRIVE_START) << times;
        QTest::newRow("negative") << QStringLiteral("CycleTime1=-5") << true << int(KM_DRIVE_START) << times;
        QTest::newRow("no drives") << QString() << false << int(KM_DRIVE_START)
                                   << QStringLiteral("No drives to cycle: link drives to the test cycle");
        QTest::newRow("homing without drives") << QString() << false << int(KM_DRIVE_START_HOMING)
                                               << QStringLiteral("No drives to home: link drives to the test cycle");
    }
    void refusesStartsThatCannotRun()
    {
        QFETCH(QString, setting);
        QFETCH(bool, drives);
        QFETCH(int, request);
        QFETCH(QString, reason);
        StubRig rig{QString(), drives};
        if (!setting.isEmpty())
            rig.cycle->slaveIn(ZorMessage(KM_SETPROPERTY, KS_REQUEST, setting));
        const ZorMessage start = requestTo(rig.cycle.get(), request);
        QTRY_COMPARE(rig.master.answerState(start), int(KS_FAIL));
        for (const ZorMessage &m : rig.master.all())
            if (m == start && m.msgState() == KS_FAIL)
                QCOMPARE(m.data().toString(), reason);
        QCOMPARE(rig.master.lastInfoText(), reason);
        QVERIFY(rig.master.dataOf(KM_STATUS).filter(QRegularExpression(QStringLiteral("^100[01]$"))).isEmpty());
        QCOMPARE(rig.toDrives.messages().size(), 0);
        // Still idle: a start that can run is taken.
        if (drives) {
            rig.cycle->slaveIn(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("CycleTime1=100")));
            rig.cycle->slaveIn(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("CycleTime2=100")));
            rig.cycle->slaveIn(ZorMessage(KM_DRIVE_START, KS_REQUEST));
            QTRY_COMPARE(rig.master.dataOf(KM_STATUS).filter(QStringLiteral("1000")).size(), 1);
        }
    }
};

ZOR_TEST(TestTestCycle)
#include "tst_testcycle.moc"
