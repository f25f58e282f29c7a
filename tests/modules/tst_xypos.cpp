// The XY positioning module: slave assignment and its answer, the axes
// following the live slave map, a start that moves nothing, and on the
// simulated bus with two CiA 402 drives and the CAN interface: the property
// requests on entering positioning, a target that is sent once it has stood
// still, the actual positions following the drives, and the send-sequence
// commands passed on to the interface.
#include "drivepairrig.h"
#include "moduletesting.h"
#include "startstopmodule.h"
#include "zormodxypos.h"
#include "zortest.h"

namespace XYPosTesting {

// The requests of that type sent to one slave, as their data texts.
QStringList xySentTo(const DrivePairRig &rig, int type, const QString &label)
{
    QStringList texts;
    for (const auto &entry : rig.sentToDrives(type))
        if (entry.second.recipient() == label)
            texts << entry.second.data().toString();
    return texts;
}

// The last value of a property as the module announced it.
QString xyNotice(const GatewayRecorder &recorder, const QString &name)
{
    QString value;
    for (const ZorMessage &m : recorder.ofType(KM_SETPROPERTY)) {
        const QString text = m.data().toString();
        if (m.msgState() == KS_INFO && text.startsWith(name + QLatin1Char('=')))
            value = text.mid(name.size() + 1);
    }
    return value;
}

} // namespace XYPosTesting

using namespace XYPosTesting;

class TestXYPos : public QObject
{
    Q_OBJECT

private slots:
    // Assignment by slave types in label order; a kept X is honoured, labels
    // that are no slaves are dropped, and without fitting slaves the answer
    // is ",,".
    void assignsSlaves_data()
    {
        QTest::addColumn<QStringList>("slaves");   // "type:label"
        QTest::addColumn<QString>("presetX");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("nameRequests");
        const QStringList both = {QStringLiteral("drive_canopen:a"), QStringLiteral("drive_canopen:b"),
                                  QStringLiteral("canusb:can")};
        QTest::newRow("in order") << both << QString() << QStringLiteral("a,b,can") << 3;
        QTest::newRow("kept X") << both << QStringLiteral("b") << QStringLiteral("b,a,can") << 3;
        QTest::newRow("X no slave") << both << QStringLiteral("gone") << QStringLiteral("a,b,can") << 3;
        QTest::newRow("none") << QStringList() << QStringLiteral("a") << QStringLiteral(",,") << 0;
        QTest::newRow("last interface wins")
            << QStringList({QStringLiteral("ethernet:e1"), QStringLiteral("canusb:e2"),
                            QStringLiteral("drive_canopen:x")})
            << QString() << QStringLiteral("x,,e2") << 3;
    }
    void assignsSlaves()
    {
        QFETCH(QStringList, slaves);
        QFETCH(QString, presetX);
        QFETCH(QString, answer);
        QFETCH(int, nameRequests);
        QList<QStringList> elements;
        for (const QString &s : slaves)
            elements << QStringList({s.section(QLatin1Char(':'), 0, 0), s.section(QLatin1Char(':'), 1)});
        elements << QStringList({QStringLiteral("xypos"), QStringLiteral("XY"), QString(),
                                 QStringLiteral("<properties><DriveLabelX>%1</DriveLabelX></properties>").arg(presetX)});
        TestDomModel model;
        model.setXml(TestDomModel::projectXml(elements));
        std::vector<ModulePtr> stubs;
        ModulePtr xy(new ZorModXYPos);
        QVERIFY(xy->setupZorModule(model.moduleIndex(QStringLiteral("XY")), &model));
        for (const QString &s : slaves) {
            stubs.emplace_back(new StartStopModule);
            QVERIFY(stubs.back()->setupZorModule(model.moduleIndex(s.section(QLatin1Char(':'), 1)), &model));
            xy->addSlave(stubs.back().get());
        }
        MasterRecorder master;
        master.attach(xy.get());
        GatewayRecorder toSlaves;
        connect(xy.get(), &ZorModule::masterOut, &toSlaves, &GatewayRecorder::record, Qt::DirectConnection);
        xy->start();
        const ZorMessage request = requestTo(xy.get(), KM_ASSIGN_SLAVES);
        QTRY_COMPARE(master.answerState(request), int(KS_ANSWER));
        for (const ZorMessage &m : master.all())
            if (m == request && m.msgState() == KS_ANSWER)
                QCOMPARE(m.data().toString(), answer);
        const QStringList labels = answer.split(QLatin1Char(','));
        QCOMPARE(xy->property(QStringLiteral("DriveLabelX")), labels.at(0));
        QCOMPARE(xy->property(QStringLiteral("DriveLabelY")), labels.at(1));
        QCOMPARE(xy->property(QStringLiteral("InterfaceLabel")), labels.at(2));
        // The requests to the slaves leave by a queue of their own, which the
        // answer to the master may overtake.
        QTRY_COMPARE(toSlaves.ofType(KM_GETPROPERTY).size(), nameRequests);
        QStringList names;
        for (const ZorMessage &m : toSlaves.ofType(KM_GETPROPERTY)) {
            QCOMPARE(m.recipient(), labels.at(2));
            names << m.data().toString();
        }
        QCOMPARE(names.size(), nameRequests);
        if (nameRequests)
            QCOMPARE(names, QStringList({QStringLiteral("SendSeqName0"), QStringLiteral("SendSeqName1"),
                                         QStringLiteral("SendSeqName2")}));
    }

    // Only the names of sequences 0 to 2 become properties of the module.
    void takesSequenceNamesZeroToTwo()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{QStringLiteral("xypos"), QStringLiteral("XY")}}));
        ModulePtr xy(new ZorModXYPos);
        QVERIFY(xy->setupZorModule(model.moduleIndex(QStringLiteral("XY")), &model));
        xy->start();
        for (const char *text : {"SendSeqName1=Jump", "SendSeqName3=Never", "Other2=No"}) {
            ZorMessage answer(KM_GETPROPERTY, KS_ANSWER, QString::fromLatin1(text));
            answer.setOrigin(QStringLiteral("can"));
            xy->masterIn(answer);
        }
        QTRY_COMPARE(xy->property(QStringLiteral("SendSeqName1")), QStringLiteral("Jump"));
        QTest::qWait(50);
        QVERIFY(!xy->allPropertiesText().contains(QLatin1String("SendSeqName3")));
        QVERIFY(!xy->allPropertiesText().contains(QLatin1String("Other2")));
    }

    // Starting moves nothing: without a CAN interface the first actual
    // position of an axis becomes its target, and neither that nor the
    // drive's stored target ("TargetPosition" 0, whenever its answer comes)
    // is sent. A target the user then sets goes out once it stood still; a
    // drive that refuses it says why.
    void startMovesNothingUntilTheTargetChanges()
    {
        TestDomModel model;
        const QString stored = QStringLiteral("<properties><TargetPosition>0</TargetPosition>"
                                              "<TargetPositionMin>0</TargetPositionMin>"
                                              "<TargetPositionMax>10</TargetPositionMax></properties>");
        model.setXml(TestDomModel::projectXml({{QStringLiteral("drive_canopen"), QStringLiteral("a"), QString(), stored},
                                               {QStringLiteral("drive_canopen"), QStringLiteral("b"), QString(), stored},
                                               {QStringLiteral("xypos"), QStringLiteral("XY")}}));
        ModulePtr xy(new ZorModXYPos);
        QVERIFY(xy->setupZorModule(model.moduleIndex(QStringLiteral("XY")), &model));
        std::vector<ModulePtr> drives;
        std::vector<std::unique_ptr<MasterRecorder>> driveAnswers;
        for (const char *label : {"a", "b"}) {
            drives.emplace_back(new StartStopModule);
            QVERIFY(drives.back()->setupZorModule(model.moduleIndex(QLatin1String(label)), &model));
            driveAnswers.emplace_back(new MasterRecorder);
            driveAnswers.back()->attach(drives.back().get());
            xy->addSlave(drives.back().get());
        }
        MasterRecorder master;
        master.attach(xy.get());
        GatewayRecorder toSlaves;
        connect(xy.get(), &ZorModule::masterOut, &toSlaves, &GatewayRecorder::record, Qt::DirectConnection);
        xy->start();
        auto fromDrive = [&](const QString &label, int type, int state, const QVariant &data) {
            ZorMessage m(type, state, data);
            m.setOrigin(label);
            xy->masterIn(m);
        };
        auto targetsTo = [&](const QString &label) {
            QStringList texts;
            for (const ZorMessage &m : toSlaves.ofType(KM_SETPROPERTY))
                if (m.recipient() == label)
                    texts << m.data().toString();
            return texts;
        };
        requestTo(xy.get(), KM_ASSIGN_SLAVES);
        QTRY_COMPARE(xy->property(QStringLiteral("DriveLabelY")), QStringLiteral("b"));
        requestTo(xy.get(), KM_DRIVE_START);
        QTRY_COMPARE(xy->status(), 1000);
        fromDrive(QStringLiteral("a"), KM_STATUS, KS_INFO, 3);
        fromDrive(QStringLiteral("b"), KM_STATUS, KS_INFO, 3);
        QTRY_COMPARE(xy->status(), 1);
        fromDrive(QStringLiteral("a"), KM_GET_ACTUAL_POSITION, KS_INFO, 12.5);
        QTRY_COMPARE(xy->property(QStringLiteral("ActualX")), QStringLiteral("12.500"));
        QCOMPARE(xy->property(QStringLiteral("TargetX")), QStringLiteral("12.500"));
        // The stand-in drives have answered the property requests of
        // positioning (the stored target among them), and the module took
        // their limits.
        QTRY_VERIFY(driveAnswers.at(0)->dataOf(KM_GETPROPERTY).contains(QStringLiteral("TargetPosition=0"))
                    && driveAnswers.at(1)->dataOf(KM_GETPROPERTY).contains(QStringLiteral("TargetPositionMax=10")));
        QTRY_COMPARE(xy->property(QStringLiteral("MaxY")), QStringLiteral("10"));
        QTest::qWait(ZorModXYPos::SettleMs + 250);
        QCOMPARE(targetsTo(QStringLiteral("a")), QStringList());
        QCOMPARE(targetsTo(QStringLiteral("b")), QStringList());
        QVERIFY(toSlaves.ofType(KM_DRIVE_GO_TO_TARGET).isEmpty());
        QCOMPARE(xy->property(QStringLiteral("TargetX")), QStringLiteral("12.500"));

        xy->slaveIn(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("TargetX=20.000")));
        QTRY_COMPARE_WITH_TIMEOUT(targetsTo(QStringLiteral("a")), QStringList({"TargetPosition=20.000"}), 5000);
        QVERIFY(targetsTo(QStringLiteral("b")).isEmpty());
        fromDrive(QStringLiteral("a"), KM_DRIVE_GO_TO_TARGET, KS_FAIL, 1);
        QTRY_COMPARE(master.dataOf(KM_LOGTEXT),
                     QStringList({"a: the move to 20.000 failed: it lies beyond the drive's limits 0 to 10"}));
        // Neither drive running any more: back to Idle.
        fromDrive(QStringLiteral("a"), KM_STATUS, KS_INFO, 2000);
        fromDrive(QStringLiteral("b"), KM_STATUS, KS_INFO, 0);
        QTRY_COMPARE(xy->status(), 0);
    }

    // The axes follow the slaves as the project links and unlinks them; an
    // axis drive that goes while positioning stops it.
    void followsTheLiveSlaveMap()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{QStringLiteral("drive_canopen"), QStringLiteral("a")},
                                               {QStringLiteral("drive_canopen"), QStringLiteral("b")},
                                               {QStringLiteral("drive_canopen"), QStringLiteral("c")},
                                               {QStringLiteral("xypos"), QStringLiteral("XY")}}));
        ModulePtr xy(new ZorModXYPos);
        QVERIFY(xy->setupZorModule(model.moduleIndex(QStringLiteral("XY")), &model));
        std::vector<ModulePtr> drives;
        for (const char *label : {"a", "b", "c"}) {
            drives.emplace_back(new StartStopModule);
            QVERIFY(drives.back()->setupZorModule(model.moduleIndex(QLatin1String(label)), &model));
        }
        xy->addSlave(drives.at(0).get());
        xy->addSlave(drives.at(1).get());
        MasterRecorder master;
        master.attach(xy.get());
        GatewayRecorder toSlaves;
        connect(xy.get(), &ZorModule::masterOut, &toSlaves, &GatewayRecorder::record, Qt::DirectConnection);
        xy->start();
        requestTo(xy.get(), KM_ASSIGN_SLAVES);
        QTRY_COMPARE(xy->property(QStringLiteral("DriveLabelY")), QStringLiteral("b"));

        // Unlinked in Idle: the panel hears of the empty axis.
        QVERIFY(xy->removeSlave(QStringLiteral("b")));
        QTRY_COMPARE(xy->property(QStringLiteral("DriveLabelY")), QString());
        QTRY_VERIFY(master.dataOf(KM_SETPROPERTY).contains(QStringLiteral("DriveLabelY=")));
        QVERIFY(xy->addSlave(drives.at(2).get()));
        QTRY_COMPARE(xy->property(QStringLiteral("DriveLabelY")), QStringLiteral("c"));
        QCOMPARE(xy->property(QStringLiteral("DriveLabelX")), QStringLiteral("a"));

        // Unlinked while positioning: the drives are stopped, and why is said.
        requestTo(xy.get(), KM_DRIVE_START);
        for (const char *label : {"a", "c"}) {
            ZorMessage running(KM_STATUS, KS_INFO, 3);
            running.setOrigin(QLatin1String(label));
            xy->masterIn(running);
        }
        QTRY_COMPARE(xy->status(), 1);
        const int stopsBefore = toSlaves.ofType(KM_DRIVE_STOP).size();
        QVERIFY(xy->removeSlave(QStringLiteral("a")));
        QTRY_COMPARE(xy->status(), 0);
        QTRY_VERIFY(toSlaves.ofType(KM_DRIVE_STOP).size() > stopsBefore);
        QCOMPARE(xy->property(QStringLiteral("DriveLabelX")), QString());
        QCOMPARE(xy->property(QStringLiteral("DriveLabelY")), QStringLiteral("c"));
        QTRY_COMPARE(master.dataOf(KM_LOGTEXT),
                     QStringList({QStringLiteral("An axis drive is no longer linked: positioning stopped.")}));
    }

    // Two drives on the bus: positioning starts once both run, reads the
    // drives' limits, sends a changed target once it stood still for 750 ms,
    // and the actual positions follow the drives.
    void positionsTwoDrivesOnTheBus()
    {
        DrivePairRig rig;
        QVERIFY2(rig.start(new ZorModXYPos, QStringLiteral("xypos"), QString(), true),
                 qPrintable(rig.sim.errorString()));
        rig.startModule();
        const ZorMessage assign(KM_ASSIGN_SLAVES, KS_REQUEST);
        rig.send(assign);
        QVERIFY(rig.waitUntil([&] {
            for (const ZorMessage &m : rig.fromModule.messages())
                if (m == assign && m.msgState() == KS_ANSWER)
                    return m.data().toString() == QLatin1String("DriveA,DriveB,CAN1");
            return false;
        }));
        // Requests to the slaves and answers to the master leave the module
        // by two queues of their own: the answer may be seen first.
        QVERIFY(rig.waitUntil([&] { return xySentTo(rig, KM_GETPROPERTY, QStringLiteral("CAN1")).size() >= 3; }));
        QCOMPARE(xySentTo(rig, KM_GETPROPERTY, QStringLiteral("CAN1")),
                 QStringList({QStringLiteral("SendSeqName0"), QStringLiteral("SendSeqName1"),
                              QStringLiteral("SendSeqName2")}));

        rig.send(ZorMessage(KM_DRIVE_START, KS_REQUEST));
        QVERIFY(rig.waitUntil([&] { return rig.module()->status() == 1; }, 30000));
        QCOMPARE(xySentTo(rig, KM_DRIVE_START, QStringLiteral("DriveA")).size(), 1);
        QCOMPARE(xySentTo(rig, KM_DRIVE_START, QStringLiteral("DriveB")).size(), 1);
        // Entering positioning asks every slave for its mode, position and
        // limits; the drives' limits become the area's.
        QStringList asked;
        QVERIFY(rig.waitUntil([&] {
            asked.clear();
            for (const auto &entry : rig.sentToDrives(KM_GETPROPERTY))
                if (!entry.second.hasRecipient())
                    asked << entry.second.data().toString();
            return asked.size() >= 3;
        }));
        QCOMPARE(asked, QStringList({QStringLiteral("TargetPosition"), QStringLiteral("TargetPositionMin"),
                                     QStringLiteral("TargetPositionMax")}));
        QVERIFY(rig.waitUntil([&] {
            return xyNotice(rig.fromModule, QStringLiteral("MinX")) == QLatin1String("-2047")
                   && xyNotice(rig.fromModule, QStringLiteral("MaxY")) == QLatin1String("2047");
        }));
        // The actual positions become the targets (the interface runs);
        // nothing is sent for them.
        QVERIFY(rig.waitUntil([&] {
            return xyNotice(rig.fromModule, QStringLiteral("ActualX")) == QLatin1String("0.000")
                   && xyNotice(rig.fromModule, QStringLiteral("TargetY")) == QLatin1String("0.000");
        }));

        QElapsedTimer still;
        for (const char *x : {"0.300", "0.600", "1.000"}) {
            rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("TargetX=") + QLatin1String(x)));
            still.start();
            QTest::qWait(100);
        }
        rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("TargetY=0.500")));
        QVERIFY(rig.waitUntil([&] { return xySentTo(rig, KM_SETPROPERTY, QStringLiteral("DriveA")).size() == 1; }));
        QVERIFY2(still.elapsed() >= 750, "the target was sent before it stood still");
        QCOMPARE(xySentTo(rig, KM_SETPROPERTY, QStringLiteral("DriveA")), QStringList({"TargetPosition=1.000"}));
        QCOMPARE(xySentTo(rig, KM_DRIVE_GO_TO_TARGET, QStringLiteral("DriveA")), QStringList({"1"}));
        QVERIFY(rig.waitUntil([&] { return xySentTo(rig, KM_SETPROPERTY, QStringLiteral("DriveB")).size() == 1; }));
        QCOMPARE(xySentTo(rig, KM_SETPROPERTY, QStringLiteral("DriveB")), QStringList({"TargetPosition=0.500"}));
        QVERIFY(!rig.fromModule.ofType(KM_NEW_POSITION_RUN).isEmpty());

        // The drives move there, and the actual positions follow.
        QVERIFY(rig.waitUntil([&] {
            return rig.driveState(2).value(QStringLiteral("pos")) == QLatin1String("4096")
                   && rig.driveState(3).value(QStringLiteral("pos")) == QLatin1String("2048");
        }));
        QVERIFY(rig.waitUntil([&] {
            return xyNotice(rig.fromModule, QStringLiteral("ActualX")) == QLatin1String("1.000")
                   && xyNotice(rig.fromModule, QStringLiteral("ActualY")) == QLatin1String("0.500");
        }));
        QTest::qWait(900);
        QCOMPARE(xySentTo(rig, KM_SETPROPERTY, QStringLiteral("DriveA")).size(), 1);

        // Sequence commands go on to the slaves unless their data is a plain
        // number other than 0, 1 or 2 (the panel's "n,parameter1=p" counts
        // as 0).
        rig.send(ZorMessage(KM_PLAYERCMD_PLAY, KS_REQUEST, QStringLiteral("1,parameter1=40")));
        rig.send(ZorMessage(KM_PLAYERCMD_PLAY, KS_REQUEST, QStringLiteral("5")));
        rig.send(ZorMessage(KM_PLAYERCMD_STOP, KS_REQUEST));
        QVERIFY(rig.waitUntil([&] { return !rig.sentToDrives(KM_PLAYERCMD_STOP).isEmpty(); }));
        const auto plays = rig.sentToDrives(KM_PLAYERCMD_PLAY);
        QCOMPARE(plays.size(), 1);
        QCOMPARE(plays.first().second.data().toString(), QStringLiteral("1,parameter1=40"));

        rig.send(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
        QVERIFY(rig.waitUntil([&] {
            return rig.module()->status() == 0 && !rig.sentToDrives(KM_DRIVE_STOP).isEmpty();
        }));
    }
};

ZOR_TEST(TestXYPos)
#include "tst_xypos.moc"
