// Cyclic sampling on the wire: SDO polls of a simulated node's object and
// values taken from its TPDO, delivered as KM_DAQ_DATA lines, until the
// sampling is cancelled.
#include "gatewayrig.h"
#include "zortest.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

// The sample lines of every KM_DAQ_DATA so far.
QStringList samples(const GatewayRecorder &recorder)
{
    QStringList lines;
    for (const ZorMessage &m : recorder.ofType(KM_DAQ_DATA))
        lines += m.data().toString().split('\n', Qt::SkipEmptyParts);
    return lines;
}

ZorMessage configure(GatewayRig &rig, const QString &text)
{
    ZorMessage config(KM_DAQ_CONFIG, KS_REQUEST, text);
    config.setOrigin("Node1");
    rig.send(config);
    return config;
}

} // namespace

class TestCanOpenSampling : public QObject
{
    Q_OBJECT
private slots:
    void softwareSamplingPollsByScheduleUntilCancelled()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "1"}), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.sim.command("NODE PUT 1 6064 0 10 27 00 00"));   // 10000
        rig.markBus();
        const QDateTime configured = QDateTime::currentDateTime();
        const ZorMessage config = configure(rig, "001.6064h.00h,pos,integer32,1,100\n");

        const ZorMessage answer = rig.waitFor(KM_DAQ_CONFIG);
        QCOMPARE(answer, config);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), QStringLiteral("001.6064h.00h,pos,integer32,Software,100\n"));

        QVERIFY(GatewayRig::waitUntil(rig.fromGateway, [&] { return samples(rig.fromGateway).size() >= 3; }, 5000));
        const QRegularExpression line("^001\\.6064h\\.00h,(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}),10000$");
        QDateTime first;
        for (const QString &sample : samples(rig.fromGateway)) {
            const QRegularExpressionMatch m = line.match(sample);
            QVERIFY2(m.hasMatch(), qPrintable(sample));
            if (!first.isValid())
                first = QDateTime::fromString(m.captured(1), "yyyy-MM-dd hh:mm:ss.zzz");
        }
        // The first poll waits for the next whole second after the first.
        QDateTime start = configured.addSecs(1);
        start = start.addMSecs(-start.time().msec());
        QVERIFY2(first >= start, qPrintable(first.toString("hh:mm:ss.zzz") + " < " + start.toString("hh:mm:ss.zzz")));
        const QStringList polls = rig.sentFrames();
        QVERIFY(polls.size() >= 3);
        QCOMPARE(polls.filter("t60184064600000000000").size(), polls.size());

        // Lines are served while sampling.
        QCOMPARE(rig.interview("SDOReadObject:1000:0:1,1000h,0h,unsigned32").msgState(), int(KS_ANSWER));

        // Cancelled: no answer, no more polls.
        ZorMessage cancel(KM_DAQ_CONFIG, KS_CANCEL);
        cancel.setOrigin("Node1");
        rig.send(cancel);
        QCOMPARE(rig.interview("SDOReadObject:1000:0:1,1000h,0h,unsigned32").msgState(), int(KS_ANSWER));
        rig.markBus();
        QTest::qWait(300);   // three sampling periods
        QCOMPARE(rig.sentFrames(), QStringList());
        QCOMPARE(rig.fromGateway.ofType(KM_DAQ_CONFIG).size(), 1);
    }

    // A TPDO carries the value; nothing is polled for it.
    void tpdoSamplingTakesValuesFromProcessData()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "2 tpdo=20"}), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.sim.command("NODE PUT 2 60ff 0 d2 04 00 00"));   // 1234
        // PDOs flow in operational state only.
        QCOMPARE(rig.interview("NmtModuleControl:0:0:2,1").msgState(), int(KS_ANSWER));
        QVERIFY(rig.sim.waitForLine("^BUS c\\d+ t00020102$").hasMatch());
        rig.markBus();
        configure(rig, "002.60ffh.00h,vel,integer32,TPDO1.4.4,100\n");
        QVERIFY(GatewayRig::waitUntil(rig.fromGateway, [&] { return samples(rig.fromGateway).size() >= 2; }, 5000));
        for (const QString &sample : samples(rig.fromGateway))
            QVERIFY2(sample.startsWith("002.60ffh.00h,") && sample.endsWith(",1234"), qPrintable(sample));
        QCOMPARE(rig.sentFrames(), QStringList());
    }
};

ZOR_TEST(TestCanOpenSampling)
#include "tst_canopensampling.moc"
