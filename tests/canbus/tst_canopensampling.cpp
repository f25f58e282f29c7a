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

// The frames of node 1's SDO channel (601h from the gateways, 581h from the
// node) in bus order, as "q <bytes>" and "a <bytes>".
QStringList channelOfNode1(const SimGateway &sim)
{
    QStringList frames;
    const QRegularExpression line("^BUS \\S+ t(601|581)8([0-9a-f]{16})$");
    for (const QString &l : sim.lines()) {
        const QRegularExpressionMatch m = line.match(l);
        if (m.hasMatch())
            frames << (m.captured(1) == "601" ? "q " : "a ") + m.captured(2);
    }
    return frames;
}

// Empty when the channel carried one transfer at a time: every request
// answered before the next, and no poll inside a segmented transfer of
// 2006h; else what went wrong.
QString interleaving(const QStringList &frames)
{
    bool inTransfer = false, lastSegmentSent = false, awaiting = false;
    for (int i = 0; i < frames.size(); ++i) {
        const QString &f = frames.at(i);
        const int command = f.mid(2, 2).toInt(nullptr, 16);
        if (f.startsWith("q ")) {
            if (awaiting)
                return QStringLiteral("request %1 before the answer to the one before").arg(i);
            awaiting = true;
            const bool poll = command == 0x40 && (f.mid(4, 6) == "646000" || f.mid(4, 6) == "416000");
            if (poll && inTransfer)
                return QStringLiteral("poll %1 inside a transfer").arg(i);
            if ((command == 0x21 || command == 0x40) && f.mid(4, 6) == "062000")
                inTransfer = true;
            if (inTransfer && (command & 0xe0) == 0x00)
                lastSegmentSent = command & 1;
        } else {
            awaiting = false;
            if (!inTransfer)
                continue;
            // The last segment of a write answered, or the last one of a
            // read received, or an abort.
            if ((lastSegmentSent && (command & 0xe0) == 0x20) || ((command & 0xe0) == 0x00 && (command & 1))
                || command == 0x80)
                inTransfer = lastSegmentSent = false;
        }
    }
    return QString();
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

    // Two objects of node 1 sampled every 20 ms while 50 visible strings
    // are written to it and each read back, by the sampling requester itself or
    // by a second requester with its own gateway: transfers and polls take
    // turns on the node's SDO channel, every transfer ends with the right
    // value, and the samples keep coming, all right.
    void transfersWhileSampling_data()
    {
        QTest::addColumn<bool>("otherRequester");
        QTest::newRow("same requester") << false;
        QTest::newRow("other requester") << true;
    }

    void transfersWhileSampling()
    {
        QFETCH(bool, otherRequester);
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "1"}), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.sim.command("NODE PUT 1 6064 0 10 27 00 00"));   // 10000
        configure(rig, "001.6064h.00h,pos,integer32,1,20\n001.6041h.00h,sw,unsigned16,1,20\n");
        QVERIFY(GatewayRig::waitUntil(rig.fromGateway, [&] { return samples(rig.fromGateway).size() >= 4; }, 5000));

        GatewayRecorder other;
        ZorModule *requester = rig.requester();
        GatewayRecorder *recorder = &rig.fromGateway;
        if (otherRequester) {
            ZorModCanOpenGateway *g = rig.addRequester("Node2", &other);
            QVERIFY(g);
            requester = qobject_cast<ZorModule *>(g->parent());
            recorder = &other;
        }
        const int before = samples(rig.fromGateway).size();
        for (int i = 0; i < 50; ++i) {
            const QString text = QStringLiteral("round %1 of a string that takes several segments").arg(i);
            const ZorMessage write = rig.interviewFrom(
                requester, *recorder, "SDOWriteObject:2000:0:1,2006h,0h,visible_string," + text);
            QVERIFY2(write.msgState() == KS_ANSWER, qPrintable(write.toString()));
            QVERIFY(write.data().toString().endsWith(":1,2006h,0h,ok"));
            const ZorMessage read = rig.interviewFrom(requester, *recorder,
                                                      "SDOReadObject:2000:0:1,2006h,0h,visible_string");
            QVERIFY2(read.msgState() == KS_ANSWER, qPrintable(read.toString()));
            QVERIFY(read.data().toString().endsWith(":1,2006h,0h,visible_string," + text));
        }
        QCOMPARE(QString::fromLatin1(rig.sim.nodeValue(1, 0x2006, 0)),
                 QStringLiteral("round 49 of a string that takes several segments"));
        QVERIFY(samples(rig.fromGateway).size() > before);
        for (const QString &sample : samples(rig.fromGateway)) {
            QVERIFY2((sample.startsWith("001.6064h.00h,") && sample.endsWith(",10000"))
                         || (sample.startsWith("001.6041h.00h,") && sample.endsWith(",592")),
                     qPrintable(sample));
        }
        QCOMPARE(interleaving(channelOfNode1(rig.sim)), QString());
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
        QVERIFY(GatewayRig::waitUntil(rig.fromGateway, [&] { return samples(rig.fromGateway).size() >= 1; }, 5000));
        // A remote request for the TPDO carries no value.
        QVERIFY(rig.sim.inject("r1828"));
        QVERIFY(GatewayRig::waitUntil(rig.fromGateway, [&] { return samples(rig.fromGateway).size() >= 3; }, 5000));
        for (const QString &sample : samples(rig.fromGateway))
            QVERIFY2(sample.startsWith("002.60ffh.00h,") && sample.endsWith(",1234"), qPrintable(sample));
        QCOMPARE(rig.sentFrames(), QStringList());
    }
};

ZOR_TEST(TestCanOpenSampling)
#include "tst_canopensampling.moc"
