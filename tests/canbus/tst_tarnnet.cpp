// The CAN-over-TCP driver against the simulated gateway over loopback TCP:
// opening lines, status poll, frames both ways with echoes, remote frames,
// bit rates, a dropped connection and reconnection, and a flood without loss.
#include "zortest.h"
#include "simgateway.h"
#include "zorcandrivertarnnet.h"

#include <QtTest>
#include <cstring>
#include <functional>

namespace {

QByteArray tarnNetRecord(quint32 id, const QByteArray &data, quint8 flags)
{
    VSCAN_MSG f;
    f.Id = id;
    f.Size = quint8(data.size());
    std::memcpy(f.Data, data.constData(), size_t(data.size()));
    f.Flags = flags;
    QByteArray out;
    ZorBabelFish::fromVscanToQbytearray(f, out);
    return out;
}

// Polls the driver as the CAN interface module does, keeping the gateway's
// output flowing, until done() or the time-out; frames go to *frames.
bool pollTarnNet(ZorCanDriverTarnNet &d, const std::function<bool()> &done, int timeoutMs,
               QList<VSCAN_MSG> *frames = nullptr, bool *sawFalse = nullptr)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        int count = 0;
        const bool result = d.takeRx(count);
        if (!result && sawFalse)
            *sawFalse = true;
        for (int i = 0; i < count && frames; ++i) {
            QByteArray rec;
            d.rxFrame(i, rec);
            VSCAN_MSG f;
            ZorBabelFish::fromQbytearrayToVscan(rec, f);
            frames->append(f);
        }
        QCoreApplication::processEvents();
    }
    return true;
}

} // namespace

class TestTarnNet : public QObject
{
    Q_OBJECT

    QScopedPointer<SimGateway> gw;

private slots:
    void init()
    {
        gw.reset(new SimGateway);
        QVERIFY2(gw->start(), qPrintable(gw->errorString()));
    }
    void cleanup() { gw.reset(); }

    void opensPollsAndSends()
    {
        ZorCanDriverTarnNet d;
        QCOMPARE(d.reconnectInterval(), 4000);
        QVERIFY2(d.open(gw->address(), 250000, 0, 0, 0), qPrintable(d.lastErrorText()));
        QVERIFY(d.isOpen());
        QVERIFY(d.echoesTx());
        const int cid = gw->waitForClient();
        QVERIFY(cid > 0);
        QVERIFY(gw->waitForLine(QStringLiteral("^CHANNEL %1 open 250000").arg(cid)).hasMatch());
        QCOMPARE(gw->clientWrites(cid), (QList<QByteArray>{"C\r", "S5\r", "Z0\r", "O\r"}));

        // The status poll "F\r" about every 500 ms while the module polls.
        QList<qint64> polls;
        QElapsedTimer clock;
        clock.start();
        connect(gw.data(), &SimGateway::lineReceived, this, [&](const QString &line) {
            if (line == QStringLiteral("RX %1 F\\r").arg(cid))
                polls << clock.elapsed();
        });
        QVERIFY(pollTarnNet(d, [&] { return polls.size() >= 2; }, 3000));
        // Bounds loose enough for a loaded machine: paced, neither every
        // takeRx nor seldom.
        const qint64 gap = polls[1] - polls[0];
        QVERIFY2(gap >= 300 && gap <= 1500, qPrintable(QString::number(gap)));

        // A queued SDO request goes out as one line.
        QByteArray sdo = tarnNetRecord(0x601, QByteArray::fromHex("4000100000000000"), 0x01);
        QVERIFY(d.queueTx(sdo));
        QVERIFY(d.flushTx(true));
        QVERIFY(gw->waitForClientBytes(cid, "t60184000100000000000\r"));
        d.close();
        QVERIFY(gw->waitForClientBytes(cid, "t60184000100000000000\rC\r"));
        QVERIFY(!d.isOpen());
    }

    // Every received frame carries a time: the gateway's when it was asked
    // for stamps ("Z1"), else the time of reception since open.
    void receivedFramesCarryATime_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("gateway stamps") << 1;
        QTest::newRow("stamped at reception") << 0;
    }
    void receivedFramesCarryATime()
    {
        QFETCH(int, mode);
        ZorCanDriverTarnNet d;
        QElapsedTimer sinceOpen;
        sinceOpen.start();
        QVERIFY(d.open(gw->address(), 500000, 0, 0, mode));
        const int cid = gw->waitForClient();
        QCOMPARE(gw->clientWrites(cid).at(2), mode ? QByteArray("Z1\r") : QByteArray("Z0\r"));
        QVERIFY(gw->inject("t1812aabb"));
        QList<VSCAN_MSG> got;
        QVERIFY(pollTarnNet(d, [&] { return !got.isEmpty(); }, 3000, &got));
        QCOMPARE(int(got[0].Flags), mode ? 0x09 : 0x01);
        QVERIFY(got[0].Timestamp > 0);
        if (!mode)
            QVERIFY(got[0].Timestamp <= sinceOpen.elapsed());
        QByteArray frameRecord;
        QVERIFY(d.rxFrame(0, frameRecord));
        QCOMPARE(int(ZorBabelFish::fromQbytearrayToTimestamp(frameRecord)), int(got[0].Timestamp));
    }

    void framesFromTheBus()
    {
        ZorCanDriverTarnNet d;
        QVERIFY(d.open(gw->address(), 500000, 0, 0, 0));
        QVERIFY(gw->inject("T1234abcd2a0b0"));
        QVERIFY(gw->inject("r1238"));
        QVERIFY(gw->inject("t7ff0"));
        QByteArray mine = tarnNetRecord(0x123, QByteArray::fromHex("aabb"), 0x01);
        QVERIFY(d.queueTx(mine));
        QVERIFY(d.flushTx(true));

        QList<VSCAN_MSG> got;
        QVERIFY(pollTarnNet(d, [&] { return got.size() >= 4; }, 3000, &got));
        QCOMPARE(got.size(), 4);
        QCOMPARE(got[0].Id, 0x1234abcdu);
        QCOMPARE(int(got[0].Flags), 0x02);
        QCOMPARE(got[0].Data[1], quint8(0xb0));
        // A remote frame keeps its length and carries no data.
        QCOMPARE(got[1].Id, 0x123u);
        QCOMPARE(int(got[1].Size), 8);
        QCOMPARE(int(got[1].Flags), 0x05);
        QCOMPARE(int(got[2].Flags), 0x01);
        // The gateway's echo of the frame we sent.
        QCOMPARE(got[3].Id, 0x123u);
        QCOMPARE(int(got[3].Flags), 0x81);
        QCOMPARE(got[3].Data[0], quint8(0xaa));
    }

    void malformedRecordIsSkipped()
    {
        ZorCanDriverTarnNet d;
        QVERIFY(d.open(gw->address(), 125000, 0, 0, 0));
        const int cid = gw->waitForClient();
        QByteArray a = tarnNetRecord(0x100, "\x01", 0x01);
        QByteArray shortRecord(15, '\0');
        QByteArray b = tarnNetRecord(0x200, "\x02", 0x01);
        QVERIFY(d.queueTx(a));
        QVERIFY(!d.queueTx(shortRecord));
        QVERIFY(d.queueTx(b));
        QVERIFY(d.flushTx(true));
        QVERIFY(gw->waitForClientBytes(cid, "t100101\rt200102\r"));
        QVERIFY(!d.flushTx(true)); // nothing staged
    }

    // Rates the adapter protocol has a code for open with that code; others
    // are refused before any connection is made.
    void bitRates_data()
    {
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("20000") << 20000 << QByteArray("S1\r");
        QTest::newRow("125000") << 125000 << QByteArray("S4\r");
        QTest::newRow("1000000") << 1000000 << QByteArray("S8\r");
        QTest::newRow("10000 refused") << 10000 << QByteArray();
        QTest::newRow("300000 refused") << 300000 << QByteArray();
    }
    void bitRates()
    {
        QFETCH(int, bitRate);
        QFETCH(QByteArray, command);
        ZorCanDriverTarnNet d;
        const bool opened = d.open(gw->address(), bitRate, 0, 0, 0);
        QCOMPARE(opened, !command.isEmpty());
        if (opened) {
            const int cid = gw->waitForClient();
            QVERIFY(gw->waitForClientBytes(cid, "O\r"));
            QCOMPARE(gw->clientWrites(cid).value(1), command);
            return;
        }
        QVERIFY(d.failed());
        QCOMPARE(d.lastErrorText(),
                 QStringLiteral("Unsupported bit rate %1 bit/s: the adapter runs at 20000, 50000, "
                                "100000, 125000, 250000, 500000, 800000 or 1000000 bit/s")
                     .arg(bitRate));
        QCOMPARE(gw->query("CLIENTS"), QString());
    }

    void gatewayNotThere()
    {
        QVERIFY(gw->drop());
        ZorCanDriverTarnNet d;
        QVERIFY(!d.open(gw->address(), 250000, 0, 0, 0));
        QVERIFY(d.failed());
        // The socket's own reason, with the gateway's address.
        QCOMPARE(d.lastErrorText(), QStringLiteral("Network error: Connection refused (%1)")
                                        .arg(gw->address()));
        int count = 3;
        QVERIFY(!d.takeRx(count));
        QCOMPARE(count, 0);
    }

    // A gateway that takes the connection and closes it during the opening
    // lines: the reason is that, not a connection that never came.
    void gatewayHangsUpWhileOpening()
    {
        QVERIFY(gw->drop(true));
        ZorCanDriverTarnNet d;
        QVERIFY(!d.open(gw->address(), 250000, 0, 0, 0));
        QVERIFY(d.failed());
        QCOMPARE(d.lastErrorText(),
                 QStringLiteral("Network error: connection closed by the gateway (%1)").arg(gw->address()));
    }

    void statusTextStaysEmpty()
    {
        ZorCanDriverTarnNet d;
        d.setPollInterval(50);
        QVERIFY(d.open(gw->address(), 250000, 0, 0, 0));
        const int cid = gw->waitForClient();
        QVERIFY(gw->command(QStringLiteral("RAW %1 \\a").arg(cid)));
        QVERIFY(gw->command(QStringLiteral("STATUS 20 %1").arg(cid)));
        bool polled = false;
        connect(gw.data(), &SimGateway::lineReceived, this,
                [&](const QString &line) { polled |= line == QStringLiteral("RX %1 F\\r").arg(cid); });
        QVERIFY(pollTarnNet(d, [&] { return polled; }, 3000));
        // A frame behind the "F20" answer: once it is in, so is the answer.
        QVERIFY(gw->inject("t0010"));
        QList<VSCAN_MSG> got;
        QVERIFY(pollTarnNet(d, [&] { return !got.isEmpty(); }, 3000, &got));
        QString text = "x";
        int bits = 0;
        QVERIFY(d.statusText(text, bits));
        QVERIFY(text.isEmpty());
        QCOMPARE(bits, 0);
    }

    // The gateway drops the connection: takeRx reports it, the driver stays
    // not failed and reconnects by itself, and frames flow again.
    void reconnects()
    {
        ZorCanDriverTarnNet d;
        d.setReconnectInterval(300);
        QVERIFY(d.open(gw->address(), 250000, 0, 0, 0));
        const int first = gw->waitForClient();
        QVERIFY(gw->waitForLine(QStringLiteral("^CHANNEL %1 open").arg(first)).hasMatch());

        QVERIFY(gw->drop());
        bool sawFalse = false;
        QVERIFY(pollTarnNet(d, [&] { return sawFalse; }, 3000, nullptr, &sawFalse));
        QElapsedTimer lost;
        lost.start();
        QVERIFY(d.notFailed());
        QVERIFY(!d.failed());
        QVERIFY(d.isOpen());
        QVERIFY(d.isReconnecting());
        QVERIFY2(d.lastErrorText().startsWith("Network error: ")
                     && d.lastErrorText().endsWith(" (" + gw->address() + ")"),
                 qPrintable(d.lastErrorText()));
        // The status text tells why while it lasts.
        QString text;
        int bits = 0;
        QVERIFY(d.statusText(text, bits));
        QCOMPARE(text, QStringLiteral("Connection lost, trying again every 300 ms: Network error: "
                                      "connection closed by the gateway (%1)")
                           .arg(gw->address()));
        QByteArray rec = tarnNetRecord(0x180, "\x01", 0x01);
        QVERIFY(!d.queueTx(rec));
        int count = 0;
        QVERIFY(!d.takeRx(count));

        QVERIFY(gw->accept());
        QVERIFY(pollTarnNet(d, [&] { return d.isConnected(); }, 3000));
        QVERIFY2(lost.elapsed() >= 250, qPrintable(QString::number(lost.elapsed())));
        QVERIFY(d.lastErrorText().isEmpty());
        QVERIFY(d.statusText(text, bits));
        QCOMPARE(text, QStringLiteral("Connection restored (%1)").arg(gw->address()));
        QVERIFY(d.statusText(text, bits));
        QCOMPARE(text, QString());
        const int second = gw->waitForClient();
        QVERIFY(second > first);
        QVERIFY(gw->waitForLine(QStringLiteral("^CHANNEL %1 open 250000").arg(second)).hasMatch());
        QCOMPARE(gw->clientWrites(second).mid(0, 4),
                 (QList<QByteArray>{"C\r", "S5\r", "Z0\r", "O\r"}));

        QVERIFY(gw->inject("t281122"));
        QList<VSCAN_MSG> got;
        QVERIFY(pollTarnNet(d, [&] { return !got.isEmpty(); }, 3000, &got));
        QCOMPARE(got[0].Id, 0x281u);
        QVERIFY(d.queueTx(rec));
        QVERIFY(d.flushTx(true));
        QVERIFY(gw->waitForClientBytes(second, "t1801"));
    }

    // While the gateway hangs up on every connection, attempts come no
    // faster than the reconnect interval.
    void reconnectAttemptsArePaced()
    {
        ZorCanDriverTarnNet d;
        d.setReconnectInterval(100);
        QVERIFY(d.open(gw->address(), 250000, 0, 0, 0));
        QVERIFY(gw->waitForClient() > 0);
        int refused = 0;
        connect(gw.data(), &SimGateway::lineReceived, this,
                [&](const QString &line) { refused += line == QLatin1String("REFUSED"); });
        QVERIFY(gw->drop(true));
        QElapsedTimer clock;
        clock.start();
        // However slowly the machine runs: the first attempt comes at once,
        // every further one only after the interval.
        QVERIFY(pollTarnNet(d, [&] { return refused >= 3; }, 30000));
        QVERIFY(d.notFailed());
        QVERIFY2(refused <= 1 + int(clock.elapsed() / 100), qPrintable(QString::number(refused)));
    }

    // More frames than one bank holds: the module reads again while the
    // count equals the capacity, and nothing is lost.
    void floodWithoutLoss()
    {
        QVERIFY(gw->command("LOG all off"));
        ZorCanDriverTarnNet d;
        QVERIFY(d.open(gw->address(), 1000000, 0, 0, 0));
        const int total = 3000;
        QVERIFY(gw->command(QStringLiteral("FLOOD %1").arg(total)));
        QList<VSCAN_MSG> got;
        int fullBanks = 0;
        QDeadlineTimer deadline(10000);
        while (got.size() < total && !deadline.hasExpired()) {
            int count = 0;
            d.takeRx(count);
            fullBanks += count == d.capacity();
            for (int i = 0; i < count; ++i) {
                QByteArray rec;
                d.rxFrame(i, rec);
                VSCAN_MSG f;
                ZorBabelFish::fromQbytearrayToVscan(rec, f);
                got.append(f);
            }
            QCoreApplication::processEvents();
        }
        QCOMPARE(got.size(), total);
        for (int i = 0; i < total; ++i) {
            const quint32 n = got[i].Data[0] | got[i].Data[1] << 8 | got[i].Data[2] << 16;
            QCOMPARE(n, quint32(i));
        }
        QVERIFY(fullBanks > 0); // the case this is about did happen
    }
};

ZOR_TEST(TestTarnNet)
#include "tst_tarnnet.moc"
