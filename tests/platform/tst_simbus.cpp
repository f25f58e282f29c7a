// The stand-in layers' client of the simulated CAN gateway: the gateway
// address from the environment, opening a channel, frames both ways, echoes,
// status flags, blocking receive with wake-up, a dropped connection, an SDO
// exchange with a simulated node, and calls from several threads at once.
#include "simgateway.h"
#include "zorsimbusclient.h"
#include "zortest.h"

#include <QtTest>
#include <atomic>
#include <thread>

namespace {

ZorSimBusFrame dataFrame(quint32 id, const QByteArray &bytes, bool extended = false)
{
    ZorSimBusFrame f;
    f.id = id;
    f.extended = extended;
    f.len = quint8(bytes.size());
    memcpy(f.data, bytes.constData(), size_t(bytes.size()));
    return f;
}

QByteArray dataOf(const ZorSimBusFrame &f)
{
    return QByteArray(reinterpret_cast<const char *>(f.data), f.len);
}

// Restores QUORVANE_SIM_GATEWAY when a test changed it by hand.
struct EnvGuard
{
    QByteArray old = qgetenv(ZorSimBusClient::gatewayVariable());
    bool had = qEnvironmentVariableIsSet(ZorSimBusClient::gatewayVariable());
    ~EnvGuard()
    {
        if (had)
            qputenv(ZorSimBusClient::gatewayVariable(), old);
        else
            qunsetenv(ZorSimBusClient::gatewayVariable());
    }
};

} // namespace

class TestSimBus : public QObject
{
    Q_OBJECT
private slots:
    void frameLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<uint>("id");
        QTest::addColumn<int>("kind"); // 0 t, 1 T, 2 r, 3 R
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("stamp");
        QTest::newRow("std 8 bytes") << QByteArray("t1238aabbccddeeff0011") << true << 0x123u << 0
                                     << QByteArray::fromHex("aabbccddeeff0011") << -1;
        QTest::newRow("std with stamp") << QByteArray("t1232aabb2a3f") << true << 0x123u << 0
                                        << QByteArray::fromHex("aabb") << 0x2a3f;
        QTest::newRow("ext upper hex") << QByteArray("T1234ABCD2A0B0") << true << 0x1234abcdu << 1
                                       << QByteArray::fromHex("a0b0") << -1;
        QTest::newRow("remote") << QByteArray("r7ff0") << true << 0x7ffu << 2 << QByteArray() << -1;
        QTest::newRow("remote with data digits") << QByteArray("R0000012320102") << true << 0x123u
                                                 << 3 << QByteArray() << -1;
        QTest::newRow("remote with stamp") << QByteArray("r12312a3f") << true << 0x123u << 2
                                           << QByteArray() << 0x2a3f;
        QTest::newRow("length 9") << QByteArray("t12391122334455667788") << false << 0u << 0
                                  << QByteArray() << -1;
        QTest::newRow("short data") << QByteArray("t1232aa") << false << 0u << 0 << QByteArray() << -1;
        QTest::newRow("11-bit overflow") << QByteArray("t8000") << false << 0u << 0 << QByteArray() << -1;
        QTest::newRow("29-bit overflow") << QByteArray("T200000000") << false << 0u << 0
                                         << QByteArray() << -1;
        QTest::newRow("not hex") << QByteArray("t12g0") << false << 0u << 0 << QByteArray() << -1;
        QTest::newRow("no frame") << QByteArray("F08") << false << 0u << 0 << QByteArray() << -1;
    }

    void frameLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, valid);
        ZorSimBusFrame f;
        int gotStamp = -2;
        QCOMPARE(ZorSimBusFrame::fromLine(line, &f, &gotStamp), valid);
        if (!valid)
            return;
        QFETCH(uint, id);
        QFETCH(int, kind);
        QFETCH(QByteArray, data);
        QFETCH(int, stamp);
        QCOMPARE(f.id, id);
        QCOMPARE(f.extended, kind == 1 || kind == 3);
        QCOMPARE(f.remote, kind >= 2);
        if (!f.remote)
            QCOMPARE(dataOf(f), data);
        QCOMPARE(gotStamp, stamp);
        // Written back: lower-case, remote frames without data digits.
        ZorSimBusFrame again;
        QVERIFY(ZorSimBusFrame::fromLine(f.toLine(), &again));
        QCOMPARE(again.id, f.id);
        QCOMPARE(again.len, f.len);
        QCOMPARE(f.toLine(), f.toLine().left(1) + f.toLine().mid(1).toLower());
    }

    void frameTextOfInvalidFrameIsEmpty()
    {
        ZorSimBusFrame f = dataFrame(0x800, QByteArray());
        QVERIFY(f.toLine().isEmpty());
        f.extended = true;
        QCOMPARE(f.toLine(), QByteArray("T000008000"));
        f.len = 9;
        QVERIFY(f.toLine().isEmpty());
    }

    void noGatewayMeansNoDevice_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("no port") << QByteArray("127.0.0.1");
        QTest::newRow("port zero") << QByteArray("127.0.0.1:0");
        QTest::newRow("not a host") << QByteArray("gateway:1234");
    }

    void noGatewayMeansNoDevice()
    {
        QFETCH(QByteArray, value);
        EnvGuard guard;
        if (value.isNull())
            qunsetenv(ZorSimBusClient::gatewayVariable());
        else
            qputenv(ZorSimBusClient::gatewayVariable(), value);
        QVERIFY(!ZorSimBusClient::gatewayConfigured());
        ZorSimBusClient bus;
        QElapsedTimer t;
        t.start();
        // Refused at once, not after the time-out.
        QVERIFY(!bus.connectToGateway(60000));
        QVERIFY(t.elapsed() < 30000);
        QVERIFY(!bus.isConnected());
        QVERIFY(!bus.open(500000));
        QVERIFY(!bus.send(dataFrame(1, "a")));
    }

    void gatewayGoneFailsConnect()
    {
        EnvGuard guard;
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        QVERIFY(gw.drop()); // no longer listening
        ZorSimBusClient bus;
        QVERIFY(!bus.connectToGateway(3000));
        QVERIFY(!bus.isConnected());
    }

    void framesBothWaysWithEchoes()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        ZorSimBusClient bus;
        QVERIFY(!bus.send(dataFrame(0x123, "\x01\x02"))); // not connected
        QVERIFY(bus.connectToGateway());
        const int cid = gw.waitForClient();
        QVERIFY(cid > 0);
        QVERIFY(!bus.send(dataFrame(0x123, "\x01\x02"))); // not on the bus yet
        QVERIFY(!bus.open(300000)); // no code for this rate
        QVERIFY(bus.open(250000));
        QVERIFY(bus.isOpen());
        QCOMPARE(bus.bitRate(), 250000);
        QVERIFY(gw.waitForLine(QStringLiteral("^CHANNEL %1 open 250000").arg(cid)).hasMatch());
        QCOMPARE(gw.clientBytes(cid), QByteArray("C\rS5\rO\r"));

        // Out: the gateway carries it; its echo only confirms the send.
        QVERIFY(bus.send(dataFrame(0x1234abcd, "\xaa\xbb\xcc", true)));
        QVERIFY(gw.waitForLine(QStringLiteral("^BUS c%1 T1234abcd3aabbcc$").arg(cid)).hasMatch());
        QTRY_COMPARE(bus.pendingTransmits(), 0);
        QCOMPARE(bus.pendingFrames(), 0);
        QVERIFY(!bus.send(dataFrame(0x800, ""))); // too wide for 11 bits

        // With echoes on, the echo comes back as a frame.
        bus.setEchoes(true);
        ZorSimBusFrame remote = dataFrame(0x7ff, "");
        remote.remote = true;
        remote.len = 3;
        QVERIFY(bus.send(remote));
        ZorSimBusFrame f;
        QCOMPARE(bus.receive(&f, 3000), 1);
        QVERIFY(f.echo);
        QVERIFY(f.remote);
        QCOMPARE(f.id, 0x7ffu);
        QCOMPARE(int(f.len), 3);

        // In: a frame from the bus, time-stamped on arrival.
        const qint64 before = bus.elapsedMicroseconds();
        QVERIFY(gw.inject(QStringLiteral("t60184000100000000000")));
        QCOMPARE(bus.receive(&f, 3000), 1);
        QVERIFY(!f.echo);
        QCOMPARE(f.id, 0x601u);
        QCOMPARE(dataOf(f), QByteArray::fromHex("4000100000000000"));
        QVERIFY(f.stampUs >= before && f.stampUs <= bus.elapsedMicroseconds());
        QCOMPARE(bus.receive(&f, 0), 0);

        // Status flags: latched by the gateway, cleared by reading.
        QVERIFY(gw.command(QStringLiteral("STATUS 80 %1").arg(cid)));
        QCOMPARE(bus.readStatusFlags(), 0x80);
        QCOMPARE(bus.readStatusFlags(), 0);

        // Off the bus: nothing more is sent, frames of others do not arrive.
        QVERIFY(bus.close());
        QVERIFY(!bus.isOpen());
        QVERIFY(!bus.send(dataFrame(0x100, "")));
        QVERIFY(gw.inject(QStringLiteral("t1000")));
        QVERIFY(gw.command(QStringLiteral("PING")));
        QCOMPARE(bus.receive(&f, 100), 0);
    }

    void receiveLimitDropsNewest()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        ZorSimBusClient bus;
        bus.setReceiveLimit(2);
        QVERIFY(bus.connectToGateway());
        QVERIFY(bus.open(500000));
        QVERIFY(gw.inject(QStringLiteral("t0010 t0020 t0030")));
        QTRY_COMPARE(bus.droppedFrames(), 1);
        ZorSimBusFrame f;
        QCOMPARE(bus.receive(&f, 0), 1);
        QCOMPARE(f.id, 1u);
        QCOMPARE(bus.receive(&f, 0), 1);
        QCOMPARE(f.id, 2u);
        bus.clearReceived();
        QCOMPARE(bus.pendingFrames(), 0);
    }

    void sdoUploadFromSimulatedNode()
    {
        SimGateway gw;
        QVERIFY2(gw.start({QStringLiteral("--node"), QStringLiteral("5")}), qPrintable(gw.errorString()));
        gw.exportAddress();
        ZorSimBusClient bus;
        QVERIFY(bus.connectToGateway());
        QVERIFY(bus.open(1000000));
        // Upload 2001h:0 (1234h).
        QVERIFY(bus.send(dataFrame(0x605, QByteArray::fromHex("4001200000000000"))));
        ZorSimBusFrame f;
        do {
            QCOMPARE(bus.receive(&f, 3000), 1);
        } while (f.id != 0x585);
        QCOMPARE(dataOf(f), QByteArray::fromHex("4b01200034120000"));
    }

    // Threaded: a receiver blocked for long returns at once on wake() and on
    // a dropped connection; senders in two threads and a receiver run at
    // the same time.
    void wakeAndDropEndBlockedReceive()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        ZorSimBusClient bus;
        QVERIFY(bus.connectToGateway());
        const int cid = gw.waitForClient();
        QVERIFY(bus.open(500000));

        std::atomic<int> result{99};
        QElapsedTimer t;
        t.start();
        std::thread waiter([&] {
            ZorSimBusFrame f;
            result = bus.receive(&f, 60000);
        });
        // Woken until it returns (it may not be waiting yet at the first
        // wake), long before its time-out.
        QTRY_VERIFY_WITH_TIMEOUT((bus.wake(), result.load() != 99), 30000);
        waiter.join();
        QCOMPARE(result.load(), 0);
        QVERIFY(t.elapsed() < 30000);

        result = 99;
        t.restart();
        std::thread waiter2([&] {
            ZorSimBusFrame f;
            result = bus.receive(&f, 60000);
        });
        QVERIFY(gw.command(QStringLiteral("KICK %1").arg(cid)));
        waiter2.join();
        QCOMPARE(result.load(), -1);
        QVERIFY(t.elapsed() < 30000);
        QVERIFY(!bus.isConnected());
        QVERIFY(!bus.isOpen());
        QVERIFY(!bus.send(dataFrame(1, "")));

        // Connects again after the drop.
        QVERIFY(bus.connectToGateway());
        QVERIFY(bus.open(500000));
    }

    void concurrentSendersAndReceiver()
    {
        SimGateway gw;
        QVERIFY2(gw.start({QStringLiteral("--quiet")}), qPrintable(gw.errorString()));
        gw.exportAddress();
        ZorSimBusClient a, b;
        QVERIFY(a.connectToGateway());
        QVERIFY(b.connectToGateway());
        QVERIFY(a.open(500000));
        QVERIFY(b.open(500000));
        const int perThread = 300;
        std::atomic<int> received{0};
        std::atomic<bool> stop{false};
        int notified = 0;
        std::mutex notifiedLock;
        b.setArrivalNotifier([&] {
            std::lock_guard<std::mutex> g(notifiedLock);
            ++notified;
        });
        std::thread reader([&] {
            ZorSimBusFrame f;
            while (!stop.load()) {
                if (b.receive(&f, 1000) == 1)
                    ++received;
            }
        });
        auto sender = [&](quint32 base) {
            for (int i = 0; i < perThread; ++i)
                a.send(dataFrame(base + quint32(i % 256), "\x11\x22"));
        };
        std::thread s1(sender, 0x100), s2(sender, 0x400);
        s1.join();
        s2.join();
        QTRY_COMPARE_WITH_TIMEOUT(received.load(), 2 * perThread, 10000);
        stop = true;
        b.wake();
        reader.join();
        QTRY_COMPARE(a.pendingTransmits(), 0);
        b.setArrivalNotifier(nullptr);
        std::lock_guard<std::mutex> g(notifiedLock);
        QVERIFY(notified > 0);
    }
};

ZOR_TEST(TestSimBus)
#include "tst_simbus.moc"
