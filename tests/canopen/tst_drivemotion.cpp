// The running drive on the wire: mode changes, profile velocity, homing,
// the status poll with its reports, warnings, and requests the drive
// refuses. Position moves are in tst_drivepositions.cpp.
#include "drivetesting.h"

#include <QtTest>

using namespace DriveTesting;

namespace DriveMotionStops {

// The frames of the stop sequence on the drive's SDO request COB-ID 602h:
// mode 0, then switch on, shutdown and disable voltage, each read back.
const QStringList StopFrames = {
    "t60282f60600000000000", "t60282b40600007000000", "t60284040600000000000", "t60282b40600006000000",
    "t60284040600000000000", "t60282b40600000000000", "t60284040600000000000",
};

// The frames the module sent to node 2 about 6040h and 6060h from the mark
// on, in bus order.
QStringList controlFrames(NodeRig &rig, int mark)
{
    rig.sim.command(QStringLiteral("PING"));   // the bus log is read up to here
    QStringList frames;
    const QStringList lines = rig.sim.lines();
    const QRegularExpression control(QStringLiteral("^BUS c\\d+ (t6028..(4060|6060)..........)$"));
    for (int i = mark; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = control.match(lines.at(i));
        if (m.hasMatch())
            frames << m.captured(1);
    }
    return frames;
}

} // namespace DriveMotionStops

class TestDriveMotion : public QObject
{
    Q_OBJECT
private slots:
    // Twenty stops in a row from velocity and position mode, each sent
    // while the drive module has a status poll or a motion command on its
    // way: every stop puts its whole sequence on the bus, each frame once
    // (a frame sent again would be an SDO retry after a time-out, a missing
    // one a cancelled exchange), and the drive ends switched off.
    void stopsPromptly()
    {
        using namespace DriveMotionStops;
        NodeRig rig;
        QVERIFY2(startRig(rig, QString(), "<TargetVelocity>1500</TargetVelocity><TargetPosition>300</TargetPosition>"
                                          "<TargetPositionMax>5000</TargetPositionMax>"),
                 qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        for (int i = 0; i < 20; ++i) {
            const bool velocity = i % 2 == 0;
            QVERIFY(startInMode(rig, velocity ? 3 : 1));
            if (velocity) {
                QVERIFY(waitForDrive(rig, "state", "operation_enabled"));
            } else {
                QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 1)).msgState(), int(KS_ANSWER));
            }
            QVERIFY(rig.waitUntil([&] { return driveState(rig).value("vel") != "0"; }));
            // Every other stop right behind a status poll, the others right
            // behind a motion command.
            const int sent = rig.sentDown(KM_INTERVIEW).size();
            if (i % 4 < 2)
                QVERIFY(rig.waitUntil([&] {
                    const QStringList all = rig.sentDown(KM_INTERVIEW);
                    return all.size() > sent && isStatusPoll(all.last());
                }));
            else
                setDriveProperty(rig, velocity ? "TargetVelocity" : "TargetPosition",
                                 QString::number(velocity ? 1400 + i : 200 + i));
            const int mark = rig.sim.mark();
            const ZorMessage stop = request(i % 3 ? KM_DRIVE_STOP : KM_STOP);
            QCOMPARE(rig.request(stop).msgState(), int(KS_ANSWER));
            QVERIFY(rig.waitForStatus(0, "Idle"));
            QCOMPARE(driveState(rig).value("state"), QStringLiteral("switch_on_disabled"));
            // Earlier frames of a move may precede the stop's own.
            QStringList frames = controlFrames(rig, mark);
            const int first = frames.indexOf(StopFrames.first());
            QVERIFY2(first >= 0, qPrintable(frames.join(' ')));
            QCOMPARE(frames.mid(first), StopFrames);
            QVERIFY2(!rig.infoTexts().contains("Warning: Timeout"), qPrintable(QString::number(i)));
        }
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 20);
    }

    void velocityMode()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(startInMode(rig, 3));
        int next = 1;   // after the start-up interview
        QCOMPARE(nextCommand(rig, next), modeInterview(3));
        QCOMPARE(nextCommand(rig, next), velocityInterview(1000));
        QVERIFY(rig.waitForStatus(2, "Velocity Mode"));
        QVERIFY(waitForDrive(rig, "vel", "1000"));

        setDriveProperty(rig, "TargetVelocity", "-500");
        QCOMPARE(nextCommand(rig, next), velocityInterview(-500));
        QVERIFY(waitForDrive(rig, "vel", "-500"));

        // Beyond the limits: not written, and not tried again until it
        // changes, also when the limits change meanwhile.
        auto twoMorePolls = [&rig] {
            const int sent = rig.sentDown(KM_INTERVIEW).size();
            return rig.waitUntil([&] { return rig.sentDown(KM_INTERVIEW).size() >= sent + 2; });
        };
        setDriveProperty(rig, "TargetVelocity", "3000");
        QVERIFY(twoMorePolls());
        setDriveProperty(rig, "TargetVelocityMax", "4000");
        QVERIFY(twoMorePolls());
        setDriveProperty(rig, "TargetVelocity", "2500");
        QCOMPARE(nextCommand(rig, next), velocityInterview(2500));
        QVERIFY(waitForDrive(rig, "vel", "2500"));
        QVERIFY(rig.waitUntil([&] {
            return reported(rig, KM_GET_ACTUAL_VELOCITY, [](const QVariant &v) { return v.toInt() == 2500; });
        }));

        // Motion requests of other modes are refused.
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 1)).msgState(), int(KS_REJECT));
        QCOMPARE(rig.request(request(KM_DRIVE_START_HOMING, 35)).msgState(), int(KS_REJECT));

        // Leaving the mode writes target velocity 0.
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 0)).msgState(), int(KS_ANSWER));
        QCOMPARE(nextCommand(rig, next), controlWord(7)
                     + "SDOReadObject:1000:2:2,6040h,0h,unsigned16:2,6040h,0h,unsigned16,7\n"
                       "SDOWriteObject:1000:2:2,6060h,0h,integer8,0\n");
        QCOMPARE(nextCommand(rig, next), QStringLiteral("SDOWriteObject:1000:2:2,60ffh,0h,integer32,0\n"));
        QVERIFY(rig.waitForStatus(1, "Operating"));
        QVERIFY(waitForDrive(rig, "vel", "0"));

        // A stop takes precedence: a mode change behind it is refused, a
        // second stop is answered with the first, and leaving the mode
        // still writes target velocity 0.
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 3)).msgState(), int(KS_ANSWER));
        QVERIFY(waitForDrive(rig, "vel", "2500"));
        const ZorMessage stop = request(KM_DRIVE_STOP);
        const ZorMessage again = request(KM_STOP);
        const ZorMessage late = request(KM_SET_PROFILE_MODE, 1);
        next = rig.sentDown(KM_INTERVIEW).size();
        rig.send(stop);
        rig.send(again);
        rig.send(late);
        QCOMPARE(rig.waitForAnswer(late).msgState(), int(KS_REJECT));
        QCOMPARE(rig.waitForAnswer(stop).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.waitForAnswer(again).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 1);
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QVERIFY(nextCommand(rig, next).startsWith("SDOWriteObject:1000:2:2,6060h,0h,integer8,0\n"));
        QCOMPARE(nextCommand(rig, next), QStringLiteral("SDOWriteObject:1000:2:2,60ffh,0h,integer32,0\n"));
        QVERIFY(waitForDrive(rig, "state", "switch_on_disabled"));
        QCOMPARE(driveState(rig).value("vel"), QStringLiteral("0"));
    }

    void homing()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig, QString(), "<HomingOffset>2.5</HomingOffset>"), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.request(request(KM_DRIVE_START), 20000).msgState() == KS_ANSWER);
        int next = rig.sentDown(KM_INTERVIEW).size();
        // No such mode: answered, nothing changes.
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 2)).msgState(), int(KS_ANSWER));
        QCOMPARE(commandsFrom(rig, next), QStringList());
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 6)).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(4, "Homing Mode"));

        next = rig.sentDown(KM_INTERVIEW).size();
        for (int method : {36, -1})
            QCOMPARE(rig.request(request(KM_DRIVE_START_HOMING, method)).msgState(), int(KS_FAIL));
        QCOMPARE(commandsFrom(rig, next), QStringList());

        // Method 35: the current position becomes the home offset.
        QCOMPARE(rig.request(request(KM_DRIVE_START_HOMING, 35)).msgState(), int(KS_ANSWER));
        QCOMPARE(commandsFrom(rig, next).value(0),
                 "SDOWriteObject:1000:2:2,6098h,0h,integer8,35\n"
                 "SDOWriteObject:1000:2:2,607ch,0h,integer32,10240\n" + controlWord(31));
        QVERIFY(waitForDrive(rig, "pos", "10240"));
        QVERIFY(rig.waitUntil([&] {
            return reported(rig, KM_GET_ACTUAL_POSITION, [](const QVariant &v) { return v.toDouble() == 2.5; });
        }, 15000));
        QVERIFY(waitForDrive(rig, "cw", "000f"));   // homing attained: bit 4 reset

        // Another method writes speeds, acceleration and the switch inputs.
        next = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(request(KM_DRIVE_START_HOMING, 17)).msgState(), int(KS_ANSWER));
        QCOMPARE(commandsFrom(rig, next).value(0),
                 QStringLiteral("SDOWriteObject:1000:2:2,6098h,0h,integer8,17\n"
                                "SDOWriteObject:1000:2:2,607ch,0h,integer32,10240\n"
                                "SDOWriteObject:1000:2:2,6099h,1h,unsigned32,500\n"
                                "SDOWriteObject:1000:2:2,6099h,2h,unsigned32,100\n"
                                "SDOWriteObject:1000:2:2,609ah,0h,unsigned32,10\n"
                                "SDOWriteObject:1000:2:2,60b8h,0h,unsigned16,801\n")
                     + controlWord(31));

        // The drive refuses a speed above its maximum: the homing fails.
        setDriveProperty(rig, "HomingVelocitySeekSwitch", "9000");
        QCOMPARE(rig.request(request(KM_DRIVE_START_HOMING, 17)).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(1004, "Warning: Command Failed"));
        QVERIFY(rig.waitForStatus(4, "Homing Mode"));
    }

    void statusPollsAndReports()
    {
        // Before the rig: it may still record while it is taken down.
        QList<qint64> times;
        QStringList polls;
        QElapsedTimer clock;
        clock.start();
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        connect(&rig.toSlaves, &GatewayRecorder::recorded, this, [&] {
            const ZorMessage last = rig.toSlaves.messages().last();
            if (last.msgType() == KM_INTERVIEW && isStatusPoll(last.data().toString())) {
                times << clock.elapsed();
                polls << last.data().toString();
            }
        });
        QCOMPARE(rig.request(request(KM_DRIVE_START), 20000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitUntil([&] { return polls.size() >= 6; }));
        for (int i = 1; i < times.size(); ++i)
            QVERIFY2(times.at(i) - times.at(i - 1) >= 390, qPrintable(QString::number(times.at(i) - times.at(i - 1))));
        // The actual values with every fifth poll only.
        const QString plain = QStringLiteral("SDOReadObject:1000:2:2,6041h,0,unsigned16\n");
        QCOMPARE(polls.mid(0, 6), QStringList({plain, plain, plain, plain,
                                               plain + "SDOReadObject:1000:2:2,606ch,0h,integer32\n"
                                                       "SDOReadObject:1000:2:2,6063h,0h,integer32\n",
                                               plain}));
        QVERIFY(rig.waitUntil([&] { return !reports(rig, KM_DRIVE_STATUS).isEmpty(); }));
        QList<int> order;
        for (const ZorMessage &m : rig.fromModule.messages()) {
            if (m.msgState() == KS_INFO
                && (m.msgType() == KM_GET_ACTUAL_VELOCITY || m.msgType() == KM_GET_ACTUAL_POSITION
                    || m.msgType() == KM_DRIVE_STATUS))
                order << m.msgType();
        }
        QCOMPARE(order.mid(0, 3), QList<int>({KM_GET_ACTUAL_VELOCITY, KM_GET_ACTUAL_POSITION, KM_DRIVE_STATUS}));
        QCOMPARE(reports(rig, KM_DRIVE_STATUS).first().toString(), QStringLiteral("0233h"));   // switched on

        // Modules above ask for the position themselves.
        const ZorMessage position = rig.request(request(KM_GET_ACTUAL_POSITION));
        QCOMPARE(position.msgState(), int(KS_ANSWER));
        QCOMPARE(position.data().toDouble(), 0.0);
    }

    void driveFault()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(startInMode(rig, 3));
        QVERIFY(rig.waitForStatus(2, "Velocity Mode"));
        QVERIFY(rig.sim.command("DRIVE 2 FAULT 2310"));
        QVERIFY(rig.waitForStatus(1002, "Warning: Drive Fault, Status 0218h"));
        // It stays while the fault does, well beyond the hold time.
        QTest::qWait(1500);
        QCOMPARE(rig.status(), 1002);
        // Another master resets the fault: the mode's own text comes back.
        QVERIFY(rig.sim.command("NODE PUT 2 6040 0 8000"));
        QVERIFY(rig.waitForStatus(2, "Velocity Mode"));
    }

    // Motion requests are answered from their interview: the drive's abort
    // is the requester's failure. A refused mode leaves the module in the
    // mode the drive runs in, and later requests are judged against it.
    void refusedByDrive()
    {
        NodeRig rig;
        // A drive without homing.
        QVERIFY2(startRig(rig, "modes=0x05"), qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(request(KM_DRIVE_START), 20000).msgState(), int(KS_ANSWER));

        // Enabled in velocity mode: the drive refuses homing and runs on,
        // and so does the module, after reading the mode back.
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 3)).msgState(), int(KS_ANSWER));
        QVERIFY(waitForDrive(rig, "vel", "1000"));
        int next = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 6)).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(1002, "Warning: Command Failed"));
        QVERIFY(rig.waitUntil([&] { return !commandWith(rig, next, "6061h").isEmpty(); }));
        QVERIFY(rig.waitForStatus(2, "Velocity Mode"));
        QVERIFY(!rig.infoTexts().contains("Homing Mode"));
        QCOMPARE(rig.request(request(KM_DRIVE_START_HOMING, 35)).msgState(), int(KS_REJECT));
        QCOMPARE(driveState(rig).value("state"), QStringLiteral("operation_enabled"));
        QCOMPARE(driveState(rig).value("mode"), QStringLiteral("3"));
        QCOMPARE(driveState(rig).value("vel"), QStringLiteral("1000"));

        // Switched on, not enabled: the module stays "Operating".
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 0)).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(1, "Operating"));
        next = rig.sentDown(KM_INTERVIEW).size();
        QCOMPARE(rig.request(request(KM_SET_PROFILE_MODE, 6)).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(1001, "Warning: Command Failed"));
        QVERIFY(rig.waitForStatus(1, "Operating"));
        QVERIFY(commandWith(rig, next, "6061h").isEmpty());
        QCOMPARE(rig.request(request(KM_DRIVE_START_HOMING, 35)).msgState(), int(KS_REJECT));

        // A move sent right behind its mode change waits for the mode and
        // is served in it.
        const ZorMessage mode = request(KM_SET_PROFILE_MODE, 1);
        const ZorMessage move = request(KM_DRIVE_GO_TO_TARGET, 1);
        rig.send(mode);
        rig.send(move);
        QCOMPARE(rig.waitForAnswer(mode).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.waitForAnswer(move).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(3, "Position Mode"));
        // 9000 rpm is beyond the drive's maximum profile velocity.
        setDriveProperty(rig, "PositionVelocity", "9000");
        QCOMPARE(rig.request(request(KM_DRIVE_GO_TO_TARGET, 1)).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(1003, "Warning: Command Failed"));
    }
};

ZOR_TEST(TestDriveMotion)
#include "tst_drivemotion.moc"
