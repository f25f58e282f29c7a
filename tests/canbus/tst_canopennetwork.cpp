// Network services on the wire: node id and bit rate set by LSS in the
// simulated LSS slave, and the node-id scan over booting simulated nodes.
#include "gatewayrig.h"
#include "zortest.h"

#include <QtTest>

class TestCanOpenNetwork : public QObject
{
    Q_OBJECT
private slots:
    // Switch mode global, node id, bit timing, store, back to waiting: five
    // frames on 7E5h in this order.
    void lssSetsNodeIdAndBitRate()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3"}), qPrintable(rig.sim.errorString()));
        rig.markBus();
        const ZorMessage answer = rig.interview("LSSNodeParameters:30000:0:x,0,5,125000");
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), QStringLiteral("LSSNodeParameters:30000:0:x,0,5,125000:ok"));
        // The frame back to waiting mode may follow the answer: the frames
        // are compared once the gateway has sent them all.
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentFrames(),
                                  QStringList({"t7e580401000000000000", "t7e581105000000000000",
                                               "t7e581300040000000000", "t7e581700000000000000",
                                               "t7e580400000000000000"}),
                                  10000);
        QVERIFY(rig.sim.waitForLine("^LSS 3 store 5 125000$").hasMatch());
        QVERIFY(rig.sim.waitForLine("^LSS 3 mode waiting$").hasMatch());
    }

    void lssSelectiveAndFailedStore()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3 lssstore=0 lssloose=1"}), qPrintable(rig.sim.errorString()));
        rig.markBus();
        // Serial number of handle 3: 10000003h.
        const ZorMessage answer = rig.interview("LSSNodeParameters:30000:0:S,10000003h,9,0");
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QVERIFY(answer.data().toString().endsWith(":error"));
        // The node refuses to store; it is still sent back to waiting mode.
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentFrames(),
                                  QStringList({"t7e584303000010000000", "t7e581109000000000000",
                                               "t7e581700000000000000", "t7e580400000000000000"}),
                                  10000);
        QVERIFY(rig.sim.waitForLine("^LSS 3 mode waiting$").hasMatch());
    }

    // Lines that would configure nothing, or an unknown rate, are answered
    // "error" at once: nothing goes on the bus, the node never enters
    // configuration mode and the gateway serves the next line.
    void lssLinesRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("request");
        QTest::newRow("nothing to set") << "x,0,0,0";
        QTest::newRow("unknown bit rate") << "x,0,5,12345";
        QTest::newRow("node id 200") << "x,0,200,0";
    }

    void lssLinesRefusedAtOnce()
    {
        QFETCH(QString, request);
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3"}), qPrintable(rig.sim.errorString()));
        rig.markBus();
        const ZorMessage answer = rig.interview("LSSNodeParameters:30000:0:" + request, 2000);
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QCOMPARE(answer.data().toString(), "LSSNodeParameters:30000:0:" + request + ":error");
        QCOMPARE(rig.interview("SDOReadObject:1000:0:3,1000h,0h,unsigned32").msgState(), int(KS_ANSWER));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentFrames(), QStringList({"t60384000100000000000"}), 10000);
    }

    // Nodes 3 and 5 boot after the reset; node 3 answers 1000h, node 5 is
    // silent and keeps the value 0.
    void scanFindsBootingNodes()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3", "--node", "5 silent=1"}), qPrintable(rig.sim.errorString()));
        const ZorMessage answer = rig.interview("ScanIds:3000:0");
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), QStringLiteral("ScanIds:3000:0::3,5\n131474,0"));
    }

    // Heartbeats after the device type was read keep it; LSS traffic on
    // 7E4h/7E5h and identifiers above 77Fh are no nodes.
    void scanTakesOnlyNodes()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3 heartbeat=20 devicetype=00030191h"}), qPrintable(rig.sim.errorString()));
        ZorMessage scan(KM_INTERVIEW, KS_REQUEST, "ScanIds:3000:0");
        scan.setOrigin("Node1");
        rig.send(scan);
        QVERIFY(rig.sim.waitForLine("^BUS c\\d+ t00028200$").hasMatch());
        QVERIFY(rig.sim.inject("t7e481100000000000000"));
        QVERIFY(rig.sim.inject("t7e580401000000000000"));
        QVERIFY(rig.sim.inject("t780100"));
        QVERIFY(GatewayRig::waitUntil(rig.fromGateway, [&] { return !rig.fromGateway.ofType(KM_INTERVIEW).isEmpty(); }, 5000));
        const ZorMessage answer = rig.fromGateway.ofType(KM_INTERVIEW).first();
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), QStringLiteral("ScanIds:3000:0::3\n197009"));
    }

    void scanOfAnEmptyBusFails()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({}), qPrintable(rig.sim.errorString()));
        const ZorMessage answer = rig.interview("ScanIds:3000:0");
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QCOMPARE(answer.data().toString(), QStringLiteral("ScanIds:3000:0::\n"));
    }
};

ZOR_TEST(TestCanOpenNetwork)
#include "tst_canopennetwork.moc"
