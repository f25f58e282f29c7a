// The drive module's start, stop and idle life on the wire: drive module ->
// CANopen gateway -> CAN interface -> simulated gateway -> a CiA 402 drive
// scripted on a node of the independent CANopen stack.
#include "drivetesting.h"

#include <QtTest>

using namespace DriveTesting;

namespace {

// The frames of the start-up interview for node 2, in bus order: reset
// communication, fault reset, drive script stopped, 608Fh.1 and .2 read,
// profile velocity mode, target velocity 0, shutdown, read back, switch on,
// read back.
const char *const StartupFrames[] = {
    "t00028202",
    "t60282b40600080000000",
    "t60282f00350200000000",
    "t6028408f600100000000",
    "t6028408f600200000000",
    "t60282f60600003000000",
    "t602823ff600000000000",
    "t60282b40600006000000",
    "t60284040600000000000",
    "t60282b40600007000000",
    "t60284040600000000000",
};

const char StartupInterview[] =
    "NmtModuleControl:200:0:2,82h\n"
    "SDOWriteObject:1000:10:2,6040h,0h,unsigned16,128\n"
    "SDOWriteObject:1000:0:2,3500h,2h,integer8,0:noresponse\n"
    "SDOReadObject:1000:2:2,608fh,1h,unsigned32\n"
    "SDOReadObject:1000:2:2,608fh,2h,unsigned32\n"
    "SDOWriteObject:1000:2:2,6060h,0h,integer8,3\n"
    "SDOWriteObject:1000:2:2,60ffh,0h,integer32,0\n"
    "SDOWriteObject:1000:10:2,6040h,0h,unsigned16,6\n"
    "SDOReadObject:1000:2:2,6040h,0h,unsigned16:2,6040h,0h,unsigned16,6\n"
    "SDOWriteObject:1000:10:2,6040h,0h,unsigned16,7\n"
    "SDOReadObject:1000:2:2,6040h,0h,unsigned16:2,6040h,0h,unsigned16,7\n";

const char StopInterview[] =
    "SDOWriteObject:1000:2:2,6060h,0h,integer8,0\n"
    "SDOWriteObject:1000:10:2,6040h,0h,unsigned16,7\n"
    "SDOReadObject:1000:2:2,6040h,0h,unsigned16:2,6040h,0h,unsigned16,7\n"
    "SDOWriteObject:1000:10:2,6040h,0h,unsigned16,6\n"
    "SDOReadObject:1000:2:2,6040h,0h,unsigned16:2,6040h,0h,unsigned16,6\n"
    "SDOWriteObject:1000:10:2,6040h,0h,unsigned16,0\n"
    "SDOReadObject:1000:2:2,6040h,0h,unsigned16:2,6040h,0h,unsigned16,0\n";

} // namespace

class TestDriveStartup : public QObject
{
    Q_OBJECT
private slots:
    void startAndStop()
    {
        NodeRig rig;
        // A key stored with the project is not written behind the user's back.
        QVERIFY2(startRig(rig, QString(), "<AccessKeySet>Key,1</AccessKeySet>"), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QVERIFY(rig.waitUntil([&] { return rig.module()->property("AccessKeySet").isEmpty(); }));

        const int mark = rig.sim.mark();
        QCOMPARE(rig.request(request(KM_DRIVE_START), 20000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(1, "Operating"));
        QCOMPARE(rig.infoTexts(), QStringList({"Idle", "Start communication", "Init", "Operating"}));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).value(0), QString::fromLatin1(StartupInterview));
        rig.sim.setCursor(mark);
        for (const char *frame : StartupFrames)
            QVERIFY2(rig.sim.waitForLine(QStringLiteral("^BUS c\\d+ %1$").arg(QLatin1String(frame))).hasMatch(), frame);
        QCOMPARE(driveState(rig).value("state"), QStringLiteral("switched_on"));
        QCOMPARE(driveState(rig).value("mode"), QStringLiteral("3"));

        // Running already: answered at once. (The first opening is the
        // module's own, at its start, to hear the drive's emergencies.)
        QCOMPARE(rig.request(request(KM_START)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_COMM_OPEN).size(), 2);

        int next = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(request(KM_DRIVE_STOP)).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 1);
        QCOMPARE(nextCommand(rig, next), QString::fromLatin1(StopInterview));
        QCOMPARE(driveState(rig).value("state"), QStringLiteral("switch_on_disabled"));
        QCOMPARE(driveState(rig).value("mode"), QStringLiteral("0"));

        // Started again: through communication and the whole start-up.
        QCOMPARE(rig.request(request(KM_START), 20000).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_COMM_OPEN).size(), 3);
        QCOMPARE(rig.infoText(), QStringLiteral("Operating"));
    }

    // A standard drive has no drive-script objects: it aborts the write of
    // 3500h.2 at once (06020000h), and the start-up goes on with that
    // answer, sending the write once and nothing again.
    void standardDriveStarts()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig, "scripting=0"), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        QCOMPARE(rig.request(request(KM_DRIVE_START), 20000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(1, "Operating"));
        rig.sim.setCursor(mark);
        QVERIFY(rig.sim.waitForLine("^BUS c\\d+ t60282f00350200000000$").hasMatch());
        QVERIFY(rig.sim.waitForLine("^BUS n2 t58288000350200000206$").hasMatch());
        QCOMPARE(rig.sim.lines().mid(mark).filter(QRegularExpression("^BUS c\\d+ t60282f003502")).size(), 1);
        QCOMPARE(driveState(rig).value("state"), QStringLiteral("switched_on"));
    }

    void stopWhileStarting()
    {
        NodeRig rig;
        // Every SDO answer comes late: the start-up takes seconds.
        QVERIFY2(startRig(rig, "sdodelay=200"), qPrintable(rig.sim.errorString()));
        const ZorMessage start = request(KM_DRIVE_START);
        rig.send(start);
        QVERIFY(rig.waitForStatus(1000, "Init"));
        // Nothing but a stop is served while the drive starts.
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 1)).msgState(), int(KS_REJECT));
        const ZorMessage stop = request(KM_DRIVE_STOP);
        QCOMPARE(rig.request(stop).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.waitForAnswer(start).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        // The cancel goes down while the answers go up: the host thread may
        // hand it on after them.
        QTRY_COMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 1);
    }

    void startFailsThenSucceeds()
    {
        NodeRig rig;
        // Node 2 is a plain node: it aborts the read of 608Fh.
        QVERIFY2(rig.start({"--node", "2"}, newDrive(), "drive_canopen", "<NodeId>2</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(request(KM_DRIVE_START), 20000).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(2000, "Error: Init Failed"));

        // A drive in its place: a start leaves the error.
        QVERIFY(rig.sim.command("NODE DEL 2"));
        QVERIFY(rig.sim.command("NODE ADD 2 drive=1"));
        QCOMPARE(rig.request(request(KM_DRIVE_START), 20000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(1, "Operating"));
    }

    // What an idle drive does with requests it does not serve, and with
    // object lists and an access key while communication is closed.
    void idleRequests()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig, QString(), "<AccessKeyDefinitions>Key,2010h,1h,unsigned32,0x77</AccessKeyDefinitions>"),
                 qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));

        for (const ZorMessage &m : {request(KM_SET_PROFILE_MODE, 3), request(KM_DRIVE_GO_TO_TARGET, 1)})
            QCOMPARE(rig.request(m).msgState(), int(KS_REJECT));

        // A reset that selects nothing waits; a stop displaces it.
        const ZorMessage reset = request(KM_DRIVE_RESET, 7);
        rig.send(reset);
        QCOMPARE(rig.request(request(KM_DRIVE_STOP)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.waitForAnswer(reset).msgState(), int(KS_REJECT));

        // An object list opens communication first, then is served.
        const ZorMessage read = rig.request(request(KM_OBJLIST_READ, "r,6041h,0h,unsigned16"));
        QCOMPARE(read.msgState(), int(KS_ANSWER));
        QCOMPARE(read.data().toString(), QStringLiteral("r,6041h,0h,unsigned16,592\n"));   // 0250h
        QCOMPARE(rig.sentDown(KM_COMM_OPEN).size(), 2);
        QVERIFY(rig.waitForStatus(0, "Idle"));

        // An entered key is written at once; it reads "ok" afterwards.
        setDriveProperty(rig, "AccessKeySet", "Key,0x55");
        QVERIFY(rig.waitUntil([&] { return rig.module()->property("AccessKeySet") == "Key,0x55,ok"; }));
        QVERIFY(rig.infoTexts().contains("Set Access Key Key,0x55 OK"));
        QCOMPARE(rig.sim.nodeValue(2, 0x2010, 1), QByteArray::fromHex("55000000"));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        // The same key again writes nothing.
        const int lists = rig.sentDown(KM_INTERVIEW).size();
        setDriveProperty(rig, "AccessKeySet", "Key,0x55");
        QTest::qWait(200);
        QCOMPARE(rig.sentDown(KM_INTERVIEW).size(), lists);
    }
};

ZOR_TEST(TestDriveStartup)
#include "tst_drivestartup.moc"
