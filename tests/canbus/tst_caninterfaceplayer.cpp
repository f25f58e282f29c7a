// Send-sequence player of the CAN interface module, against the simulated
// gateway: the peer's answers are injected by the test, so each "wait" is
// ended by a frame (or by its time-out) exactly when the test says.
#include "caninterfacerig.h"
#include "simgateway.h"
#include "zortest.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

// Player statuses with repeats of the same line folded into one.
QList<int> folded(const QList<int> &statuses)
{
    QList<int> result;
    for (int s : statuses)
        if (result.isEmpty() || result.last() != s)
            result << s;
    return result;
}

class PlayerRig : public CanInterfaceRig
{
public:
    bool openOn(SimGateway &gw)
    {
        if (!open(gw.address(), QStringLiteral("250K")))
            return false;
        cid = gw.waitForClient();
        return cid >= 0;
    }

    ZorMessage play(int number, const QString &sequence, const QString &start = QString())
    {
        setProperty(QStringLiteral("SendSequence%1").arg(number), sequence);
        return request(KM_PLAYERCMD_PLAY,
                       start.isEmpty() ? QString::number(number) : QStringLiteral("%1,%2").arg(number).arg(start));
    }

    bool waitForEnd(int timeoutMs = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!master.playerStatuses().contains(-1)) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QTest::qWait(5);
        }
        return true;
    }

    int cid = -1;
};

} // namespace

class TestCanInterfacePlayer : public QObject
{
    Q_OBJECT
private slots:
    void sendWaitAndDelay()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        PlayerRig rig;
        QVERIFY(rig.openOn(gw));
        // Capitals: lines are read in lower case, patterns match any case.
        // The wait's time-out lies far beyond the test's patience: an end
        // within it is the frame's doing.
        const ZorMessage play = rig.play(0, QStringLiteral("send 601h,8,40 00 10 00 00 00 00 00\n"
                                                           "WAIT 581H,8,43*,600000\n"
                                                           "delay 100"));
        QVERIFY(rig.waitForAnswer(play));
        QCOMPARE(rig.master.answersTo(play).first().msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(2));
        QVERIFY(gw.waitForClientBytes(rig.cid, "t60184000100000000000\r"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(gw.inject(QStringLiteral("t58184300100092010200")));
        QVERIFY(rig.waitForEnd());
        // Ended by the frame, then the delay ran.
        QVERIFY(clock.elapsed() >= 100);

        const QList<int> statuses = rig.master.playerStatuses();
        QCOMPARE(folded(statuses), QList<int>({0, 1, 2, -1}));
        QVERIFY(statuses.count(2) >= 2);   // reported each cycle while the delay runs
        QCOMPARE(statuses.count(1), 1);
        QTRY_COMPARE(rig.master.lastStatus(), 1);
        QCOMPARE(rig.master.statusChanges().mid(2), QList<int>({2, 1}));
    }

    void loopUntilFoundRepeatsUntilAnAnswer()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        PlayerRig rig;
        QVERIFY(rig.openOn(gw));
        rig.play(1, QStringLiteral("do\n"
                                   "send 7e5h,8,17 01 00 00 00 00 00 00\n"
                                   "wait 7e4h,8,17*,50\n"
                                   "loop until found"));
        for (int i = 0; i < 3; ++i)
            QVERIFY(gw.waitForLine(QStringLiteral("^BUS c\\d+ t7e581701000000000000$")).hasMatch());
        QVERIFY(!rig.master.playerStatuses().contains(-1));
        // Answered like a device answers every request: whenever the answer
        // comes, one of them falls into a wait.
        QElapsedTimer patience;
        patience.start();
        while (!rig.master.playerStatuses().contains(-1) && patience.elapsed() < 30000) {
            QVERIFY(gw.inject(QStringLiteral("t7e481700000000000000")));
            QTest::qWait(20);
        }
        QVERIFY(rig.waitForEnd());
        QCOMPARE(rig.master.playerStatuses().last(), -1);
    }

    void startStatementAndMacros()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        PlayerRig rig;
        QVERIFY(rig.openOn(gw));
        QString ten;
        for (int i = 0; i < 10; ++i)
            ten += QStringLiteral("send 10%1h,1,%2\n").arg(i).arg(i, 2, 10, QLatin1Char('0'));
        const ZorMessage play = rig.play(3, QStringLiteral("// count comes from the start statement\n"
                                                           "send 123h,2,canunsigned16(count*2)\n"
                                                           "count = count + 1\n"
                                                           "send 124h,1,canunsigned8(count)\n")
                                                + ten,
                                         QStringLiteral("count=5"));
        QVERIFY(rig.waitForEnd());
        QVERIFY(rig.master.answersTo(play).size() == 1);
        QVERIFY(gw.waitForClientBytes(rig.cid, "t12320a00\r"));
        QVERIFY(gw.waitForClientBytes(rig.cid, "t124106\r"));
        QByteArray expected;
        for (int i = 0; i < 10; ++i)
            expected += "t10" + QByteArray::number(i) + "10" + QByteArray::number(i) + "\r";
        QVERIFY(gw.waitForClientBytes(rig.cid, expected));
    }

    void commandsMoveThePlayer()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        PlayerRig rig;
        QVERIFY(rig.openOn(gw));
        // "delay 0" never ends: the player stays on a line until moved.
        const ZorMessage play = rig.play(2, QStringLiteral("delay 0\ndelay 0"));
        QVERIFY(rig.waitForAnswer(play));
        QTRY_VERIFY(rig.master.playerStatuses().count(0) >= 2);
        // PLAY while playing is dropped.
        const ZorMessage again = rig.play(2, QStringLiteral("delay 0\ndelay 0"));

        rig.request(KM_PLAYERCMD_BACK);   // on line 0: nothing
        rig.request(KM_PLAYERCMD_SKIP);
        QTRY_VERIFY(rig.master.playerStatuses().contains(1));
        rig.request(KM_PLAYERCMD_SKIP);   // on the last line: nothing
        rig.request(KM_PLAYERCMD_BACK);
        QTRY_VERIFY(folded(rig.master.playerStatuses()).endsWith(0));
        QCOMPARE(folded(rig.master.playerStatuses()), QList<int>({0, 1, 0}));

        const ZorMessage pause = rig.request(KM_PLAYERCMD_PAUSE, 1);
        QVERIFY(rig.waitForAnswer(pause));
        QVERIFY(rig.waitForStatus(3));
        const ZorMessage resume = rig.request(KM_PLAYERCMD_PAUSE, 0);
        QVERIFY(rig.waitForAnswer(resume));
        QTRY_COMPARE(rig.master.lastStatus(), 2);
        const ZorMessage stop = rig.request(KM_PLAYERCMD_STOP);
        QVERIFY(rig.waitForAnswer(stop));
        QVERIFY(rig.waitForEnd());
        QTRY_COMPARE(rig.master.lastStatus(), 1);
        QVERIFY(rig.master.answersTo(again).isEmpty());
        QCOMPARE(rig.master.statusChanges().mid(2), QList<int>({2, 3, 2, 1}));
    }
};

ZOR_TEST(TestCanInterfacePlayer)
#include "tst_caninterfaceplayer.moc"
