// The CAN interface module against the simulated gateway over loopback TCP:
// opening with its texts and status numbers, losing and regaining the
// gateway, frames between the bus and the peers, traffic bits, "CAN"
// interview lines, ports that open nothing, and the opening request being
// answered exactly once.
#include "caninterfacerig.h"
#include "simgateway.h"
#include "zortest.h"

#include <QtTest>

namespace {

bool hasEcho(const ZorMessage &frame)
{
    return ZorBabelFish::fromQbytearrayToFlags(frame.data().toByteArray()) & 0x80;
}

} // namespace

class TestCanInterface : public QObject
{
    Q_OBJECT
private slots:
    void opensTheGatewayAndFollowsItsConnection()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        rig.useQuickNetDriver();
        rig.setProperty(QStringLiteral("Port"), gw.address());
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral(" 250k "));
        rig.start();
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForAnswer(opening));
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_ANSWER));

        // The answer goes out just before the status text.
        QTRY_COMPARE(rig.master.infoTexts().last(), QStringLiteral("Open (250K)"));
        const QStringList texts = rig.master.infoTexts();
        const QString openingText = QStringLiteral("Opening NET interface on ip:port = %1, bit rate = 250K, "
                                               "debug level = 0").arg(gw.address());
        QVERIFY2(texts.contains(openingText), qPrintable(texts.join('|')));
        QCOMPARE(rig.master.statusChanges(), QList<int>({1000, 1}));
        const int cid = gw.waitForClient();
        // Time stamps asked for ("TimestampMode" 1 by default).
        QVERIFY(gw.waitForClientBytes(cid, "C\rS5\rZ1\rO\r"));

        // The gateway goes away: receive failures show as 1001 with the
        // reason as the status text, its return as 1.
        QVERIFY(gw.drop());
        QVERIFY(rig.waitForStatus(1001));
        QVERIFY(rig.waitForInfoText(
            QStringLiteral("Connection lost, trying again every 100 ms: Network error: connection "
                           "closed by the gateway (%1)").arg(gw.address())));
        QCOMPARE(rig.module()->infoText().left(16), QStringLiteral("Connection lost,"));
        QVERIFY(gw.accept());
        QTRY_COMPARE_WITH_TIMEOUT(rig.master.lastStatus(), 1, 5000);
        QCOMPARE(rig.master.statusChanges().mid(2), QList<int>({1001, 1}));
        QVERIFY(rig.waitForInfoText(QStringLiteral("Connection restored (%1)").arg(gw.address())));
        QCOMPARE(rig.master.ofType(KM_COMM_STATUS).last().origin(), QStringLiteral("CAN1"));
        QVERIFY(!rig.slaves.ofType(KM_COMM_STATUS).isEmpty());

        // Still answered exactly once, and closing goes back to Idle.
        QCOMPARE(rig.master.answersTo(opening).size(), 1);
        const ZorMessage close = rig.request(KM_COMM_CLOSE);
        QVERIFY(rig.waitForAnswer(close));
        QTRY_COMPARE(rig.master.lastStatus(), 0);
        QTRY_COMPARE(rig.master.infoTexts().last(), QStringLiteral("Idle")); // sent after the status
        const int again = gw.waitForClient();
        QVERIFY(gw.waitForClientBytes(again, "C\r"));
    }

    void openingRequestIsAnsweredOnce()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        rig.setProperty(QStringLiteral("Port"), gw.address());
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("500K"));
        rig.start();
        const ZorMessage first = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForAnswer(first));
        // A second opening request while open is answered at once.
        const ZorMessage second = rig.request(KM_START);
        QVERIFY(rig.waitForAnswer(second));
        QVERIFY(rig.waitForCommStatusReports(2));
        QCOMPARE(rig.master.answersTo(first).size(), 1);
        QCOMPARE(rig.master.answersTo(first).first().msgState(), int(KS_ANSWER));
        QCOMPARE(rig.master.answersTo(second).size(), 1);
    }

    void framesTravelBetweenBusAndPeers()
    {
        SimGateway gw;
        QVERIFY2(gw.start({"--node", "1"}), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        MessageLog secondMaster;
        QObject::connect(rig.module(), &ZorModule::slaveOut, &secondMaster, &MessageLog::record);
        QVERIFY(rig.open(gw.address(), QStringLiteral("250K")));
        const int cid = gw.waitForClient();

        // A transmit request goes onto the wire and is answered.
        const ZorMessage send =
            rig.request(KM_CAN_FRAME, frameRecord(QStringLiteral("601h,8,40 00 10 00 00 00 00 00")));
        QVERIFY(rig.waitForAnswer(send));
        QCOMPARE(rig.master.answersTo(send).first().msgState(), int(KS_ANSWER));
        QVERIFY(gw.waitForClientBytes(cid, "t60184000100000000000\r"));

        // The node's answer reaches every master; the gateway's echo of the
        // sent frame reaches only the slaves, as KS_ANSWER.
        QTRY_VERIFY(!rig.slaves.ofType(KM_CAN_FRAME).isEmpty());
        // The masters hold the transmit's answer already: wait for the
        // received frame itself.
        const auto hasReceived = [](const MessageLog &log) {
            for (const ZorMessage &f : log.ofType(KM_CAN_FRAME))
                if (f.msgState() == KS_INFO)
                    return true;
            return false;
        };
        QTRY_VERIFY(hasReceived(secondMaster));
        QTRY_VERIFY(hasReceived(rig.master));
        for (const MessageLog *log : {&rig.master, &secondMaster}) {
            const QList<ZorMessage> frames = log->ofType(KM_CAN_FRAME);
            QList<ZorMessage> received;
            for (const ZorMessage &f : frames)
                if (f.msgState() == KS_INFO)
                    received << f;
            QVERIFY(!received.isEmpty());
            QCOMPARE(frameText(received.first().data().toByteArray()),
                     QStringLiteral("581h,8,42 00 10 00 92 01 02 00"));
            QCOMPARE(received.first().origin(), QStringLiteral("CAN1"));
            for (const ZorMessage &f : frames)
                QVERIFY(!hasEcho(f));
        }
        QTRY_COMPARE(rig.slaves.ofType(KM_CAN_FRAME).size(), 2);
        int echoes = 0;
        for (const ZorMessage &f : rig.slaves.ofType(KM_CAN_FRAME)) {
            const QString text = frameText(f.data().toByteArray());
            if (hasEcho(f)) {
                ++echoes;
                QCOMPARE(f.msgState(), int(KS_ANSWER));
                QCOMPARE(text, QStringLiteral("601h,8,40 00 10 00 00 00 00 00"));
            } else {
                QCOMPARE(f.msgState(), int(KS_INFO));
                QCOMPARE(text, QStringLiteral("581h,8,42 00 10 00 92 01 02 00"));
            }
        }
        QCOMPARE(echoes, 1);

        // A record that is no frame is refused.
        const ZorMessage bad = rig.request(KM_CAN_FRAME, QByteArray("abc"));
        QVERIFY(rig.waitForAnswer(bad));
        QCOMPARE(rig.master.answersTo(bad).first().msgState(), int(KS_FAIL));
    }

    void trafficBitsFollowTheIdentifier()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        QVERIFY(rig.open(gw.address(), QStringLiteral("250K")));
        const struct { const char *line; int bits; } cases[] = {
            {"t7010", 0x20 | 0x40}, {"t0800", 0x40}, {"t7ff0", 0x40},
            {"t0ff0", 0x10 | 0x40}, {"t07f0", 0},
        };
        for (const auto &c : cases) {
            const int before = rig.master.ofType(KM_COMM_STATUS).size();
            QVERIFY(gw.inject(QLatin1String(c.line)));
            int flags = 0;
            QTRY_VERIFY_WITH_TIMEOUT([&] {
                const QList<ZorMessage> reports = rig.master.ofType(KM_COMM_STATUS);
                for (int i = before; i < reports.size(); ++i) {
                    if (reports.at(i).data().toInt() & 0x02) {
                        flags = reports.at(i).data().toInt();
                        return true;
                    }
                }
                return false;
            }(), 3000);
            QCOMPARE(flags & 0x74, c.bits);
        }
    }

    void interviewLinesRunOnTheBus()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        CanInterfaceRig rig;
        rig.start();
        const QString line = QStringLiteral("CAN:1000:1:7e5h,8,17 01 00 00 00 00 00 00:7e4h,8,17*");
        // Closed: no state carries the line out.
        const ZorMessage early = rig.request(KM_INTERVIEW, line);
        QVERIFY(rig.waitForAnswer(early));
        QCOMPARE(rig.master.answersTo(early).first().msgState(), int(KS_REJECT));

        QVERIFY(rig.open(gw.address(), QStringLiteral("250K")));
        const int cid = gw.waitForClient();
        const ZorMessage interview = rig.request(KM_INTERVIEW, line);
        QVERIFY(gw.waitForClientBytes(cid, "t7e581701000000000000\r"));
        QVERIFY(rig.master.answersTo(interview).isEmpty());
        QVERIFY(gw.inject(QStringLiteral("t7e481700000000000000")));
        QVERIFY(rig.waitForAnswer(interview));
        const ZorMessage answer = rig.master.answersTo(interview).first();
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(),
                 QStringLiteral("CAN:1000:1:7e5h,8,17 01 00 00 00 00 00 00:7e4h,8,17 00 00 00 00 00 00 00"));

        // Only "CAN" lines are carried out here.
        const ZorMessage sdo = rig.request(KM_INTERVIEW, QStringLiteral("SDOReadObject:1000:0:1,1000h,0h,unsigned32"));
        QVERIFY(rig.waitForAnswer(sdo));
        QCOMPARE(rig.master.answersTo(sdo).first().msgState(), int(KS_REJECT));
    }

    void portsThatOpenNothingFail_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("errorText");
        const QString couldNot = QStringLiteral("Could not open interface.");
        const auto noSuchPort = [](const QString &port) {
            return QStringLiteral("Could not open interface: there is no port \"%1\" on this machine "
                                  "(a port is \"(first found)\", an adapter such as \"peak:0\" or "
                                  "\"ixxat\", or a network gateway as ip:port).").arg(port);
        };
        QTest::newRow("no driver") << "nowhere" << QStringList({noSuchPort("nowhere")}) << noSuchPort("nowhere");
        QTest::newRow("serial port name") << "COM1" << QStringList({noSuchPort("COM1")}) << noSuchPort("COM1");
        QTest::newRow("address head below 1") << "0.1:3" << QStringList({noSuchPort("0.1:3")})
                                              << noSuchPort("0.1:3");
        // No gateway, so the adapter stand-ins find no device.
        QTest::newRow("no IXXAT device")
            << "IXXAT 1"
            << QStringList({"Opening IXXAT 1 CAN Interface, port = IXXAT 1, bit rate = 125K, debug level = 0",
                            couldNot, "Ixxat error: could not open device #0"})
            << "Ixxat error: could not open device #0";
        QTest::newRow("first found tries the USB adapters")
            << "(First Found)"
            << QStringList({"Opening kelvatro", "Opening magnetic USB-CAN interface, bit rate = 125K",
                            "Opening brenko/vscom USB-CAN interface, port = (first found), bit rate = 125K",
                            couldNot})
            << couldNot;
    }

    void portsThatOpenNothingFail()
    {
        QFETCH(QString, port);
        QFETCH(QStringList, texts);
        QFETCH(QString, errorText);
        // Without a simulated gateway no adapter is plugged in.
        const QByteArray gateway = qgetenv("QUORVANE_SIM_GATEWAY");
        qunsetenv("QUORVANE_SIM_GATEWAY");
        const auto restore = qScopeGuard([&] {
            if (!gateway.isEmpty())
                qputenv("QUORVANE_SIM_GATEWAY", gateway);
        });
        CanInterfaceRig rig;
        rig.setProperty(QStringLiteral("Port"), port);
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("125K"));
        rig.start();
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForAnswer(opening));
        QCOMPARE(rig.master.answersTo(opening).size(), 1);
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_FAIL));
        QCOMPARE(rig.master.answersTo(opening).first().data().toString(), errorText);
        QTRY_COMPARE(rig.master.lastStatus(), 2000);
        // The error state sends its text after its status.
        QTRY_COMPARE(rig.master.infoTexts(), texts);
    }

    void reopeningFromErrorIsAnsweredOnce()
    {
        CanInterfaceRig rig;
        rig.setProperty(QStringLiteral("Port"), QStringLiteral("nowhere"));
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("125K"));
        rig.start();
        QVERIFY(rig.waitForAnswer(rig.request(KM_COMM_OPEN)));
        QTRY_COMPARE(rig.master.lastStatus(), 2000);

        // In Error a new opening is answered when it ends, once: never a
        // KS_ANSWER first and the failure later.
        const ZorMessage again = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForAnswer(again));
        QCOMPARE(rig.master.answersTo(again).size(), 1);
        QCOMPARE(rig.master.answersTo(again).first().msgState(), int(KS_FAIL));

        // A new bit rate in Error goes back to Idle.
        const ZorMessage baud = rig.request(KM_COMM_SET_BAUD, QStringLiteral("1000000"));
        QVERIFY(rig.waitForAnswer(baud));
        QCOMPARE(rig.module()->property(QStringLiteral("Baudrate")), QStringLiteral("1M"));
        QTRY_COMPARE(rig.master.lastStatus(), 0);
    }

    void kelvatroNeedsABitRate()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        CanInterfaceRig rig(QStringLiteral("kelvatro"));
        rig.setProperty(QStringLiteral("Port"), gw.address());
        rig.start();
        // "scan" is no bit rate for this type: refused before any connection.
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForAnswer(opening));
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_FAIL));
        const QString refusal = QStringLiteral("Could not open interface: no bit rate set (Baudrate \"scan\").");
        QCOMPARE(rig.master.answersTo(opening).first().data().toString(), refusal);
        QTRY_COMPARE(rig.master.lastStatus(), 2000);
        QTRY_COMPARE(rig.master.infoTexts().last(), refusal);
        QVERIFY(!gw.lines().join('\n').contains(QLatin1String("CONNECT")));

        // With a bit rate it opens; its status text shows none.
        QVERIFY(rig.open(gw.address(), QStringLiteral("500K")));
        QTRY_COMPARE(rig.master.infoTexts().last(), QStringLiteral("Open")); // sent after the answer
    }

    void closingAbandonsAFirmwareUpdate()
    {
        CanInterfaceRig rig;
        rig.module()->setDriverFactory([](ZorCanDriverFactory::Kind kind) -> ZorAbstractCanDriver * {
            return kind == ZorCanDriverFactory::Brenko ? new FirmwareUpdateDriver(40) : nullptr;
        });
        rig.setProperty(QStringLiteral("Port"), QStringLiteral("brenko:2.1"));
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("500K"));
        rig.start();
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForStatus(1011));
        QVERIFY(rig.waitForInfoText(QStringLiteral("Device Update Progress 40%")));
        QVERIFY(rig.master.infoTexts().contains(QStringLiteral("current version 0.9 - updating to 2.1")));
        QVERIFY(rig.master.answersTo(opening).isEmpty());

        const ZorMessage close = rig.request(KM_COMM_CLOSE);
        QVERIFY(rig.waitForAnswer(close));
        QVERIFY(rig.waitForAnswer(opening));
        QCOMPARE(rig.master.answersTo(opening).size(), 1);
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_CANCEL));
        QTRY_COMPARE(rig.master.lastStatus(), 0);
    }
};

ZOR_TEST(TestCanInterface)
#include "tst_caninterface.moc"
