// Position moves on the wire: targets scaled by 608Fh into increments, the
// control words of the four kinds of move, the set-point handshake, and
// extended moves with their limits, "t" and "i" flags.
#include "drivetesting.h"

#include <QtEndian>
#include <QtTest>

using namespace DriveTesting;

class TestDrivePositions : public QObject
{
    Q_OBJECT
private slots:
    // Targets in user units reach the drive as increments by 608Fh (a 0
    // read there counts as 1), and come back scaled the other way.
    void positionScaling_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("target");
        QTest::addColumn<qint32>("increments");
        QTest::addColumn<double>("reported");   // < -1e9: not waited for
        QTest::newRow("4096/1") << "encoder=4096 revolutions=1" << "1.5" << 6144 << 1.5;
        QTest::newRow("3/7") << "encoder=3 revolutions=7" << "10" << 4 << 4 * 7 / 3.0;
        QTest::newRow("numerator 0") << "encoder=0" << "1.5" << 1 << 1.0;
        QTest::newRow("denominator 0") << "encoder=4096 revolutions=0" << "-0.25" << -1024 << -0.25;
        QTest::newRow("double precision") << "encoder=1000000" << "1234.567" << 1234567000 << -2e9;
    }

    void positionScaling()
    {
        QFETCH(QString, options);
        QFETCH(QString, target);
        QFETCH(qint32, increments);
        QFETCH(double, reported);
        NodeRig rig;
        QVERIFY2(startRig(rig, options, "<PositionVelocity>6000</PositionVelocity>"), qPrintable(rig.sim.errorString()));
        QVERIFY(startInMode(rig, 1));
        setDriveProperty(rig, "TargetPosition", target);
        int next = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 1)).msgState(), int(KS_ANSWER));
        QCOMPARE(nextCommand(rig, next),
                 QStringLiteral("SDOWriteObject:1000:2:2,6083h,0h,unsigned32,5000\n"
                                "SDOWriteObject:1000:2:2,6084h,0h,unsigned32,5000\n"
                                "SDOWriteObject:1000:2:2,6081h,0h,unsigned32,6000\n"
                                "SDOWriteObject:1000:2:2,607ah,0h,integer32,%1\n")
                         .arg(increments)
                     + controlWord(31));
        QByteArray bytes(4, '\0');
        qToLittleEndian(increments, bytes.data());
        QCOMPARE(rig.sim.nodeValue(2, 0x607a, 0), bytes);
        // An extended move to the same target sends the same increments.
        QVERIFY(rig.sim.command("NODE PUT 2 607a 0 00000000"));
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_EXTENDED, target + ",")).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sim.nodeValue(2, 0x607a, 0), bytes);
        if (reported > -1e9) {
            QVERIFY(rig.waitUntil([&] {
                return DriveTesting::reported(rig, KM_GET_ACTUAL_POSITION,
                                  [&](const QVariant &v) { return qAbs(v.toDouble() - reported) < 1e-9; });
            }, 15000));
        }
    }

    void positionMoves()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(startInMode(rig, 1));
        QVERIFY(rig.waitForStatus(3, "Position Mode"));

        // Beyond the limits, or no such kind of move: nothing is sent.
        int next = rig.sentDown(KM_INTERVIEW).size();
        setDriveProperty(rig, "TargetPosition", "3000");
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 1)).msgState(), int(KS_FAIL));
        setDriveProperty(rig, "TargetPosition", "0.5");
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 5)).msgState(), int(KS_FAIL));
        QCOMPARE(commandsFrom(rig, next), QStringList());

        // Set-point with halt, halt, go on.
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 2)).msgState(), int(KS_ANSWER));
        QVERIFY(commandsFrom(rig, next).value(0).endsWith(controlWord(287)));
        next = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 3)).msgState(), int(KS_ANSWER));
        QCOMPARE(commandsFrom(rig, next).last(), controlWord(271));
        next = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 4)).msgState(), int(KS_ANSWER));
        QCOMPARE(commandsFrom(rig, next).last(), controlWord(15));
        QVERIFY(waitForDrive(rig, "pos", "2048"));

        // Two set-points in a row: bit 4 falls in between, so that the
        // second one rises again.
        setDriveProperty(rig, "TargetPosition", "0.25");
        next = rig.sentDown(KM_INTERVIEW).size();
        const ZorMessage first = request(KM_DRIVE_GO_TO_TARGET, 1);
        const ZorMessage second = request(KM_DRIVE_GO_TO_TARGET, 1);
        rig.send(first);
        rig.send(second);
        QCOMPARE(rig.waitForAnswer(first).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.waitForAnswer(second).msgState(), int(KS_ANSWER));
        const QStringList commands = commandsFrom(rig, next);
        QVERIFY(commands.size() >= 3);
        QVERIFY(commands.at(0).endsWith(controlWord(31)));
        QCOMPARE(commands.at(1), controlWord(15));
        QVERIFY(commands.at(2).endsWith(controlWord(31)));

        // The drive acknowledges (bit 12): the next poll resets bit 4.
        QVERIFY(rig.waitUntil([&] { return commandsFrom(rig, next).size() == 4; }));
        QCOMPARE(commandsFrom(rig, next).at(3), controlWord(15));
        QVERIFY(waitForDrive(rig, "cw", "000f"));
        QVERIFY(waitForDrive(rig, "pos", "1024"));
        QVERIFY(waitForDrive(rig, "sw", "0637"));
    }

    void extendedMoves()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(startInMode(rig, 1));

        // Beyond the limits or no number: refused before anything is sent,
        // and the limits stay.
        int next = rig.sentDown(KM_INTERVIEW).size();
        for (const char *text : {"-3000,t", "2048,", "abc,ti"})
            QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_EXTENDED, text)).msgState(), int(KS_FAIL));
        QCOMPARE(commandsFrom(rig, next), QStringList());
        QCOMPARE(rig.module()->property("TargetPositionMin"), QStringLiteral("-2047"));
        QCOMPARE(rig.module()->property("TargetPositionMax"), QStringLiteral("2047"));

        // Right after entering the mode a "t" move goes at once: 3 turns at
        // 60 rpm, three seconds.
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_EXTENDED, "3,ti,60")).msgState(), int(KS_ANSWER));
        QCOMPARE(commandsFrom(rig, next).value(0),
                 "SDOWriteObject:1000:2:2,6081h,0h,unsigned32,60\n"
                 "SDOWriteObject:1000:2:2,607ah,0h,integer32,12288\n" + controlWord(31));
        // While it runs, "t" moves are cancelled twice, then go all the same;
        // the drive takes the set-point once the first move is done.
        const ZorMessage second = request(KM_DRIVE_GO_TO_EXTENDED, "3.5,ti,6000");
        QCOMPARE(rig.request(second).msgState(), int(KS_CANCEL));
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_EXTENDED, "3.5,ti,6000")).msgState(), int(KS_CANCEL));
        const ZorMessage fourth = request(KM_DRIVE_GO_TO_EXTENDED, "3.5,ti,6000");
        QCOMPARE(rig.request(fourth).msgState(), int(KS_ANSWER));
        const ZorMessage reached = answerOfState(rig, fourth, KS_INFO);
        QCOMPARE(reached.data().toString(), QStringLiteral("target reached"));
        QCOMPARE(driveState(rig).value("pos"), QStringLiteral("14336"));

        // One request at a time: a second while the first is served is
        // cancelled at once. The velocity is written only when it changes.
        next = rig.sentDown(KM_INTERVIEW).size();
        const ZorMessage a = request(KM_DRIVE_GO_TO_EXTENDED, "1,,6000,0,-5");
        const ZorMessage b = request(KM_DRIVE_GO_TO_EXTENDED, "2,");
        rig.send(a);
        rig.send(b);
        QCOMPARE(rig.waitForAnswer(b).msgState(), int(KS_CANCEL));
        QCOMPARE(rig.waitForAnswer(a).msgState(), int(KS_ANSWER));
        QCOMPARE(commandWith(rig, next, "607ah"),
                 QStringLiteral("SDOWriteObject:1000:2:2,607ah,0h,integer32,4096\n") + controlWord(31));
    }

};

ZOR_TEST(TestDrivePositions)
#include "tst_drivepositions.moc"
