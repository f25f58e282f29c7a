// The drive's maintenance states on the wire: node id and bit rate through
// LSS (global after a check that the drive is alone, or selective by the
// identity read from the drive), the wait for the drive's boot-up, the
// factory reset and the program start, against the simulated CiA 402 drive
// whose LSS slave needs all four identity frames for a selective switch.
#include "drivetesting.h"
#include "zormodcaninterface.h"

#include <QtTest>

using namespace DriveTesting;

namespace {

const char NodeParamsPrepare[] = "SDOWriteObject:1000:0:2,3500h,3h,unsigned8,0:noresponse\n";

// The frames the CAN interface put on the bus from the mark on that match
// the pattern ("t7e5..." for LSS requests, "t000" for NMT).
QStringList nodeParamsFrames(NodeRig &rig, int mark, const QString &pattern)
{
    rig.sim.command(QStringLiteral("PING"));   // the bus log is read up to here
    QStringList frames;
    const QRegularExpression match(pattern);
    const QStringList lines = rig.sim.lines();
    for (int i = mark; i < lines.size(); ++i) {
        const QString line = lines.at(i);
        if (!line.startsWith(QLatin1String("BUS c")))
            continue;
        const QString frame = line.section(QLatin1Char(' '), 2);
        if (match.match(frame).hasMatch())
            frames << frame;
    }
    return frames;
}

// The message types the module sent down, in order, from the index on.
QList<int> nodeParamsTypesDown(const NodeRig &rig, int first)
{
    QList<int> types;
    const QList<ZorMessage> all = rig.toSlaves.messages();
    for (int i = first; i < all.size(); ++i)
        types << all.at(i).msgType();
    return types;
}

} // namespace

class TestDriveNodeParams : public QObject
{
    Q_OBJECT
private slots:
    // "Assign Node ID": the gateway counts the LSS slaves by their answers to
    // the inquire identity requests and, with the drive alone, gives it the
    // id; nothing resets the nodes' communication.
    void assignNodeIdGlobally()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        const ZorMessage request = DriveTesting::request(KM_DRIVE_NEW_ID, "5,0");
        rig.send(request);

        QVERIFY(rig.sim.waitForLine("^LSS 2 store 5 ", 15000).hasMatch());
        QVERIFY(rig.waitForStatus(1102, QString(), 15000));
        const QStringList interviews = rig.sentDown(KM_INTERVIEW);
        QVERIFY(interviews.contains(QString::fromLatin1(NodeParamsPrepare)));
        QVERIFY(interviews.contains("LSSNodeParameters:30000:0:g,0,5,0\n"));
        QVERIFY(commandWith(rig, 0, "ScanIds").isEmpty());
        QCOMPARE(nodeParamsFrames(rig, mark, "^t000"), QStringList());
        QCOMPARE(nodeParamsFrames(rig, mark, "^t7e58"),
                 QStringList({"t7e580401000000000000", "t7e585a00000000000000", "t7e585b00000000000000",
                              "t7e585c00000000000000", "t7e585d00000000000000", "t7e581105000000000000",
                              "t7e581700000000000000", "t7e580400000000000000"}));
        QCOMPARE(rig.module()->property("NodeId"), QStringLiteral("5"));
        QVERIFY(rig.infoTexts().contains("Success - Set Node ID = 5 (global)"));
        QVERIFY(rig.answerTo(request).msgType() == KM_UNDEFINED);

        // Another node's boot-up does not end the wait.
        QVERIFY(rig.sim.inject("t707100"));
        QTest::qWait(300);
        QCOMPARE(rig.status(), 1102);

        // Power cycle: the drive comes back as node 5.
        QVERIFY(rig.sim.command("NODE BOOT 2"));
        QCOMPARE(rig.waitForAnswer(request, 10000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0));
        QVERIFY(rig.sim.waitForLine("^BUS n2 t705100$").hasMatch());
    }

    // Other LSS slaves on the bus, configured or not (an unconfigured one
    // sends no boot-up and answers no SDO): the id is given to none of them
    // and the refusal says why; nothing resets the nodes' communication.
    void globalIdChangeNeedsTheDriveAlone_data()
    {
        QTest::addColumn<QString>("other");
        QTest::newRow("a configured node") << "3";
        QTest::newRow("an unconfigured device") << "3 id=255";
    }

    void globalIdChangeNeedsTheDriveAlone()
    {
        QFETCH(QString, other);
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "2 drive=1", "--node", other}, newDrive(), "drive_canopen",
                           "<NodeId>2</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        const ZorMessage answer = rig.request(DriveTesting::request(KM_DRIVE_NEW_ID, "5,0"), 20000);
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(2000));
        QVERIFY2(rig.waitUntil([&] { return rig.infoText().contains("2 LSS slaves answered"); }),
                 qPrintable(rig.infoText()));
        QCOMPARE(nodeParamsFrames(rig, mark, "^t000"), QStringList());
        QCOMPARE(nodeParamsFrames(rig, mark, "^t7e5811"), QStringList());
        QVERIFY(rig.sim.lines().mid(mark).filter(QRegularExpression("^LSS \\d nodeid")).isEmpty());
        QVERIFY(rig.sim.query("NODE STATE 2").contains("pending=2 "));
        QVERIFY(rig.sim.query("NODE STATE 3").contains(other.contains("255") ? "pending=255 " : "pending=3 "));
        QCOMPARE(rig.module()->property("NodeId"), QStringLiteral("2"));
    }

    // A fresh drive without a node id, alone on the bus: it gets its first
    // id, boots with it at once, and the module goes on as node 5.
    void firstNodeIdOfAnUnconfiguredDrive()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "2 drive=1 id=255"}, newDrive(), "drive_canopen", "<NodeId>0</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        const ZorMessage answer = rig.request(DriveTesting::request(KM_DRIVE_NEW_ID, "5,0"), 20000);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0));
        QCOMPARE(rig.module()->property("NodeId"), QStringLiteral("5"));
        QVERIFY(rig.sim.query("NODE STATE 2").startsWith("id=5 "));
        QCOMPARE(nodeParamsFrames(rig, mark, "^t000"), QStringList());
        QVERIFY(commandWith(rig, 0, "ScanIds").isEmpty());
        // The drive runs with its new id.
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_START), 20000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(1, "Operating"));
    }

    void bitRateChangeReopensTheInterface()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int firstDown = rig.toSlaves.messages().size();
        const ZorMessage request = DriveTesting::request(KM_DRIVE_NEW_COMM_PARAMETERS, "250000,0");
        rig.send(request);

        QVERIFY(rig.sim.waitForLine("^LSS 2 store \\S+ 250000", 15000).hasMatch());
        QVERIFY(rig.waitForStatus(1102, QString(), 15000));
        // A bit-rate change alone needs no scan.
        QVERIFY(commandWith(rig, 0, "ScanIds").isEmpty());
        QVERIFY(rig.sentDown(KM_INTERVIEW).contains("LSSNodeParameters:30000:0:g,0,0,250000\n"));
        QVERIFY(rig.infoTexts().contains("Success - Set Node Baud Rate = 250000 (global)"));
        QVERIFY(rig.infoTexts().contains("Changing CAN interface baudr."));
        // Closed, the new rate set, then opened again.
        const QList<int> types = nodeParamsTypesDown(rig, firstDown);
        const int close = types.indexOf(KM_COMM_CLOSE);
        QVERIFY(close >= 0);
        QCOMPARE(types.value(close + 1), int(KM_COMM_SET_BAUD));
        QVERIFY(types.indexOf(KM_COMM_OPEN, close) > close);
        QCOMPARE(rig.sentDown(KM_COMM_SET_BAUD), QStringList({"250000"}));
        // The interface keeps the rate in its own spelling.
        QVERIFY(rig.waitUntil([&] { return rig.canInterface()->property(QStringLiteral("Baudrate")) == QStringLiteral("250K"); }));
        QVERIFY(rig.sim.waitForLine("^CHANNEL \\d+ open 250000").hasMatch());

        QVERIFY(rig.sim.command("NODE BOOT 2"));
        QCOMPARE(rig.waitForAnswer(request, 10000).msgState(), int(KS_ANSWER));
    }

    // The drive's identity (1018h sub 1 to 4) is read and goes into a
    // selective LSS line with the whole LSS address; the drive, which needs
    // all four switch state selective frames, takes and stores the new id,
    // and the module goes on as after a global change.
    void changeBySerialNumber()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const ZorMessage request = DriveTesting::request(KM_DRIVE_NEW_ID, "5,read");
        rig.send(request);

        QVERIFY(rig.sim.waitForLine("^LSS 2 store 5 ", 15000).hasMatch());
        QVERIFY(rig.waitForStatus(1102, QString(), 15000));
        const QString serial = QString::number(0x10000002);
        const QStringList interviews = rig.sentDown(KM_INTERVIEW);
        QVERIFY2(interviews.contains(QStringLiteral("SDOReadObject:1000:2:2,1018h,1h,unsigned32\n"
                                                    "SDOReadObject:1000:2:2,1018h,2h,unsigned32\n"
                                                    "SDOReadObject:1000:2:2,1018h,3h,unsigned32\n"
                                                    "SDOReadObject:1000:2:2,1018h,4h,unsigned32\n")
                                     + NodeParamsPrepare),
                 qPrintable(interviews.join('|')));
        QVERIFY2(interviews.contains(QStringLiteral("LSSNodeParameters:30000:0:s,%1,5,0,%2,%3,%4\n")
                                         .arg(serial)
                                         .arg(0x00112233)
                                         .arg(0x4711)
                                         .arg(0x00010002)),
                 qPrintable(interviews.join('|')));
        // The selective switch was answered: no global one was needed.
        QVERIFY(commandWith(rig, 0, "ScanIds").isEmpty());
        QCOMPARE(rig.module()->property("NodeId"), QStringLiteral("5"));
        QVERIFY(rig.infoTexts().contains(QStringLiteral("Success - Set Node ID = 5 (serial no. %1)").arg(serial)));
        QCOMPARE(rig.sim.query("NODE STATE 2").section("stored=", 1).section(' ', 0, 0), QStringLiteral("5"));
        QVERIFY(rig.answerTo(request).msgType() == KM_UNDEFINED);

        // Power cycle: the drive comes back as node 5.
        QVERIFY(rig.sim.command("NODE BOOT 2"));
        QCOMPARE(rig.waitForAnswer(request, 10000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0));
        QVERIFY(rig.sim.waitForLine("^BUS n2 t705100$").hasMatch());
    }

    // An identity the drive does not give in full sends no LSS line.
    void changeBySerialNumberNeedsTheIdentity()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig, "minimal=1"), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const ZorMessage answer = rig.request(DriveTesting::request(KM_DRIVE_NEW_ID, "5,read"), 40000);
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(2000, "Error: Failed - Preparing config. change"));
        QVERIFY(commandWith(rig, 0, "LSSNodeParameters").isEmpty());
        QCOMPARE(rig.module()->property("NodeId"), QStringLiteral("2"));
    }

    void nothingToChange()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int before = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_NEW_ID, "0,0")).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_NEW_ID, "200,0")).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).size(), before);
        QVERIFY(rig.infoTexts().contains("Preparing config. change"));
    }

    // Stopped while the serial number is read: no LSS line goes out.
    void stopBeforeTheLssLine()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig, "sdodelay=600"), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle", 20000));
        const ZorMessage change = DriveTesting::request(KM_DRIVE_NEW_ID, "5,read");
        rig.send(change);
        QVERIFY(rig.waitForStatus(1101));
        const ZorMessage stop = DriveTesting::request(KM_DRIVE_STOP);
        rig.send(stop);
        QCOMPARE(rig.waitForAnswer(change, 20000).msgState(), int(KS_REJECT));
        QCOMPARE(rig.waitForAnswer(stop, 20000).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(2000, "Error: Aborted - Preparing config. change"));
        QVERIFY(commandWith(rig, 0, "LSSNodeParameters").isEmpty());
    }

    // The wait for the boot-up ends after "RebootTimeout", set in the project
    // or in code, with a warning.
    void rebootWaitEnds_data()
    {
        QTest::addColumn<bool>("inProject");
        QTest::newRow("set in code") << false;
        QTest::newRow("project property") << true;
    }

    void rebootWaitEnds()
    {
        QFETCH(bool, inProject);
        auto *drive = newDrive();
        if (!inProject)
            drive->setDriveTiming(ZorModPosDrive::RebootTimeout, 800);
        NodeRig rig;
        QVERIFY2(startRig(rig, QString(), inProject ? "<RebootTimeout>800</RebootTimeout>" : QString(), drive),
                 qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.module()->property("RebootTimeout"), QStringLiteral("800"));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const ZorMessage answer = rig.request(DriveTesting::request(KM_DRIVE_NEW_ID, "6,0"), 20000);
        // The id was changed and stored: the missing boot-up is a warning.
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0, "Warning: no boot-up of node 6 within 0.8 s; switch the drive off and on to "
                                     "use its new settings"));
        QVERIFY(rig.infoTexts().contains("Waiting for Drive/Voltage Reset")
                || rig.infoTexts().contains("Success - Set Node ID = 6 (global)"));
    }

    void rebootTimeoutProperty()
    {
        ZorModPosDrive drive;
        QCOMPARE(drive.property("RebootTimeout"), QStringLiteral("30000"));
        QCOMPARE(drive.driveTiming(ZorModPosDrive::RebootTimeout), 30000);
        drive.setProperty("RebootTimeout", "1500");
        QCOMPARE(drive.driveTiming(ZorModPosDrive::RebootTimeout), 1500);
        // A value that is no time-out gives the default.
        for (const char *bad : {"soon", "-1"}) {
            drive.setProperty("RebootTimeout", bad);
            QCOMPARE(drive.driveTiming(ZorModPosDrive::RebootTimeout), 30000);
        }
    }

    void resetAndRestart_data()
    {
        QTest::addColumn<int>("what");
        QTest::addColumn<QString>("properties");
        QTest::addColumn<QString>("expectedLine");
        QTest::addColumn<int>("answerState");
        QTest::addColumn<QString>("text");
        QTest::newRow("factory reset") << 2 << QString() << "1011h,1h" << int(KS_ANSWER)
                                       << "Reset to Factory successful";
        // A reset command the drive refuses: 2007h is read-only.
        QTest::newRow("factory reset refused")
            << 2 << "<ResetCmd>w,2007h,0h,unsigned32,1</ResetCmd>" << "2007h" << int(KS_FAIL)
            << "Error: Reset to Factory failed";
        QTest::newRow("start application") << 1 << QString() << "SDOWriteObject:1000:10:2,1f51h,1h,unsigned8,1\n"
                                           << int(KS_ANSWER) << "Restart successful";
    }

    void resetAndRestart()
    {
        QFETCH(int, what);
        QFETCH(QString, properties);
        QFETCH(QString, expectedLine);
        QFETCH(int, answerState);
        QFETCH(QString, text);
        NodeRig rig;
        QVERIFY2(startRig(rig, QString(), properties), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const ZorMessage answer = rig.request(DriveTesting::request(KM_DRIVE_RESET, what), 20000);
        QCOMPARE(answer.msgState(), answerState);
        QVERIFY2(!commandWith(rig, 0, expectedLine).isEmpty(), qPrintable(rig.sentDown(KM_INTERVIEW).join('|')));
        QVERIFY2(rig.waitUntil([&] { return rig.infoTexts().contains(text); }), qPrintable(rig.infoTexts().join('|')));
        QVERIFY(rig.infoTexts().contains(what == 2 ? "Resetting to Factory Settings"
                                                   : "Exit bootloader / (Re)start Application"));
    }
};

ZOR_TEST(TestDriveNodeParams)
#include "tst_drivenodeparams.moc"
