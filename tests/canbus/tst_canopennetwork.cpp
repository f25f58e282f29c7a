// Network services on the wire: node id and bit rate set by LSS in the
// simulated LSS slave, and the node-id scan over booting simulated nodes.
#include "gatewayrig.h"
#include "zortest.h"

#include <QtTest>

class TestCanOpenNetwork : public QObject
{
    Q_OBJECT
private slots:
    // Switch mode global, the four inquire identity requests that count the
    // slaves, node id, bit timing, store, back to waiting: nine frames on
    // 7E5h in this order.
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
                                  QStringList({"t7e580401000000000000", "t7e585a00000000000000",
                                               "t7e585b00000000000000", "t7e585c00000000000000",
                                               "t7e585d00000000000000", "t7e581105000000000000",
                                               "t7e581300040000000000", "t7e581700000000000000",
                                               "t7e580400000000000000"}),
                                  10000);
        QVERIFY(rig.sim.waitForLine("^LSS 3 store 5 125000$").hasMatch());
        QVERIFY(rig.sim.waitForLine("^LSS 3 mode waiting$").hasMatch());
    }

    // The full switch state selective sequence (vendor, product, revision,
    // serial) addresses one standard LSS slave, which answers 44h.
    void lssSelectiveByFullAddress_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("configuration");
        QTest::newRow("stored") << "" << int(KS_ANSWER)
                                << QStringList({"t7e581109000000000000", "t7e581700000000000000"});
        // The node refuses to store: still sent back to waiting mode.
        QTest::newRow("store refused") << "lssstore=0" << int(KS_FAIL)
                                       << QStringList({"t7e581109000000000000", "t7e581700000000000000"});
        // Another serial number: no node answers, nothing is configured.
        QTest::newRow("nobody") << "serial=10000004h" << int(KS_FAIL) << QStringList();
    }

    void lssSelectiveByFullAddress()
    {
        QFETCH(QString, options);
        QFETCH(int, state);
        QFETCH(QStringList, configuration);
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3 " + options}), qPrintable(rig.sim.errorString()));
        rig.gateway()->setTiming(ZorModCanOpenGateway::LssAnswerTimeout, 300);
        rig.markBus();
        // Serial number of handle 3: 10000003h; vendor, product and revision
        // are the simulated nodes' defaults.
        const QString line = "LSSNodeParameters:30000:0:s,10000003h,9,0,00112233h,4711h,00010002h";
        const ZorMessage answer = rig.interview(line);
        QCOMPARE(answer.msgState(), state);
        QCOMPARE(answer.data().toString(), line + (state == KS_ANSWER ? ":ok" : ":error"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentFrames(),
                                  QStringList({"t7e584033221100000000", "t7e584111470000000000",
                                               "t7e584202000100000000", "t7e584303000010000000"})
                                      + configuration + QStringList({"t7e580400000000000000"}),
                                  10000);
        if (state == KS_ANSWER) {
            QVERIFY(rig.sim.waitForLine("^LSS 3 store 9 -$").hasMatch());
            QVERIFY(rig.sim.waitForLine("^LSS 3 mode waiting$").hasMatch());
        }
    }

    // A configure answer with an error code ends the configuration at once:
    // no store, back to waiting mode, "error" long before the answer
    // time-out. Here the node does not support 125 kbit/s (table index 4).
    void lssErrorCodeEndsAtOnce()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3 lssrates=0fh"}), qPrintable(rig.sim.errorString()));
        rig.gateway()->setTiming(ZorModCanOpenGateway::LssAnswerTimeout, 60000);
        rig.markBus();
        const ZorMessage answer = rig.interview("LSSNodeParameters:90000:0:x,0,5,125000", 10000);
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QCOMPARE(answer.data().toString(), QStringLiteral("LSSNodeParameters:90000:0:x,0,5,125000:error"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentFrames(),
                                  QStringList({"t7e580401000000000000", "t7e585a00000000000000",
                                               "t7e585b00000000000000", "t7e585c00000000000000",
                                               "t7e585d00000000000000", "t7e581105000000000000",
                                               "t7e581300040000000000", "t7e580400000000000000"}),
                                  10000);
        QVERIFY(rig.sim.waitForLine("^BUS n3 t7e481301000000000000$").hasMatch());   // error code 1
    }

    // A node id given globally reaches every LSS slave, also an unconfigured
    // one (node id FFh, no boot-up, no SDO): it is given only when the
    // inquire identity requests are answered by exactly one slave. Else the
    // slaves go back to waiting mode unchanged, and the line says why.
    void lssGlobalNodeIdOnlyToASingleSlave_data()
    {
        QTest::addColumn<QStringList>("nodes");
        QTest::addColumn<QString>("result");
        QTest::newRow("one unconfigured device") << QStringList({"--node", "3 id=255"}) << "ok";
        QTest::newRow("a configured and an unconfigured one")
            << QStringList({"--node", "3", "--node", "4 id=255"})
            << "error - 2 LSS slaves answered, a node ID is given globally only to a single one";
        QTest::newRow("two unconfigured ones") << QStringList({"--node", "3 id=255", "--node", "4 id=255"})
                                               << "error - 2 LSS slaves answered, a node ID is given globally "
                                                  "only to a single one";
        QTest::newRow("none") << QStringList() << "error - no LSS slave answered";
    }

    void lssGlobalNodeIdOnlyToASingleSlave()
    {
        QFETCH(QStringList, nodes);
        QFETCH(QString, result);
        GatewayRig rig;
        QVERIFY2(rig.start(nodes), qPrintable(rig.sim.errorString()));
        rig.gateway()->setTiming(ZorModCanOpenGateway::LssAnswerTimeout, 300);
        const int mark = rig.sim.mark();
        rig.markBus();
        const QString line = QStringLiteral("LSSNodeParameters:30000:0:x,0,5,0");
        const ZorMessage answer = rig.interview(line, 10000);
        QCOMPARE(answer.data().toString(), line + ':' + result);
        QCOMPARE(answer.msgState(), int(result == "ok" ? KS_ANSWER : KS_FAIL));
        // Without an answer to the first inquiry the others are not sent.
        const QStringList inquiries = nodes.isEmpty()
            ? QStringList({"t7e585a00000000000000"})
            : QStringList({"t7e585a00000000000000", "t7e585b00000000000000", "t7e585c00000000000000",
                           "t7e585d00000000000000"});
        const QStringList configure({"t7e581105000000000000", "t7e581700000000000000"});
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentFrames(),
                                  QStringList({"t7e580401000000000000"}) + inquiries
                                      + (result == "ok" ? configure : QStringList())
                                      + QStringList({"t7e580400000000000000"}),
                                  10000);
        if (result == "ok") {
            // Back in waiting mode the device takes its first id and boots.
            QVERIFY(rig.sim.waitForLine("^BUS n3 t705100$").hasMatch());
            QCOMPARE(rig.interview("SDOReadObject:1000:0:5,1000h,0h,unsigned32").msgState(), int(KS_ANSWER));
        } else {
            QVERIFY(rig.sim.lines().mid(mark).filter(QRegularExpression("^LSS \\d nodeid")).isEmpty());
        }
    }

    // Without the full address one selective frame goes out, as ever; a
    // standard slave does not follow it, so the node id is not configured.
    void lssSingleSelectiveFrame()
    {
        GatewayRig rig;
        QVERIFY2(rig.start({"--node", "3"}), qPrintable(rig.sim.errorString()));
        rig.gateway()->setTiming(ZorModCanOpenGateway::LssAnswerTimeout, 300);
        rig.markBus();
        const ZorMessage answer = rig.interview("LSSNodeParameters:30000:0:S,10000003h,9,0");
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentFrames(),
                                  QStringList({"t7e584303000010000000", "t7e581109000000000000",
                                               "t7e580400000000000000"}),
                                  10000);
        QVERIFY(rig.sim.query("NODE STATE 3").contains("pending=3"));
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
