// The maker's USB HID adapter driver against the simulated HID adapter:
// the opening commands in 65-byte reports, long texts over several reports,
// received lines and reports (echoes, time stamps, status, BEL, malformed
// reports), flow control, and an unplugged adapter that comes back.
#include "drivertesting.h"
#include "simgateway.h"
#include "simhidadapter.h"
#include "zorcandriverbrenko.h"
#include "zortest.h"

#include <QtTest>

using namespace DriverTesting;

namespace {

// Waits of the opening made short; the reconnection keeps its pace.
ZorCanDriverHidBase::Timing brenkoTiming()
{
    ZorCanDriverHidBase::Timing t;
    t.initReadMs = 5;
    t.initPauseMs = 0;
    t.receiveReadMs = 10;
    return t;
}

// Lines the test sends end with this frame: once it is taken, so is all
// that came before it.
const QByteArray brenkoSentinel = "t0010\r";
const quint32 sentinelId = 0x001;

// Takes frames until the sentinel came; the frames before it.
QList<VSCAN_MSG> framesUpToSentinel(ZorAbstractCanDriver &d)
{
    QList<VSCAN_MSG> frames;
    pollUntil(d, [&] { return findFrame(frames, sentinelId); }, 3000, &frames);
    QList<VSCAN_MSG> before;
    for (const VSCAN_MSG &f : frames) {
        if (f.Id == sentinelId)
            break;
        before << f;
    }
    return before;
}

QByteArray report64(const QByteArray &text, int lengthByte)
{
    QByteArray r(64, '\0');
    r[0] = 0x01;
    r[1] = char(lengthByte);
    r.replace(2, text.size(), text);
    return r;
}

} // namespace

class TestBrenkoDriver : public QObject
{
    Q_OBJECT

private slots:
    void opensWithItsCommandsInReports()
    {
        SimHidAdapter hid;
        hid.setVersion(QStringLiteral("1.2.0.0"));
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(brenkoTiming());
        QVERIFY(d.open(QStringLiteral("ignored"), 500000, 0, 0, 1));
        QVERIFY(d.isOpen());
        QVERIFY(d.echoesTx());
        QCOMPARE(d.capacity(), 1024);
        QCOMPARE(d.firmwareVersion(), QStringLiteral("1.2.0.0"));

        const QList<QByteArray> commands = {"C\r", "V\r", "S6\r", "Z1\r", "O\r", "V\r"};
        const QList<QByteArray> reports = hid.reports();
        QCOMPARE(reports.size(), commands.size());
        for (int i = 0; i < reports.size(); ++i) {
            const QByteArray &r = reports.at(i);
            QCOMPARE(r.size(), 65);
            QCOMPARE(int(r.at(0)), 0);
            QCOMPARE(int(r.at(1)), 1);
            QCOMPARE(int(r.at(2)), commands.at(i).size());
            QCOMPARE(r.mid(3, commands.at(i).size()), commands.at(i));
            QCOMPARE(r.mid(3 + commands.at(i).size()), QByteArray(62 - commands.at(i).size(), ' '));
        }

        hid.clearWritten();
        d.close();
        QVERIFY(!d.isOpen());
        QCOMPARE(hid.writtenText(), QByteArray("C\r"));
        QCOMPARE(hid.openHandles(), 0);
    }

    void noAdapterAndRefusedBitRate()
    {
        SimHidAdapter hid(0x1234); // some other product
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(brenkoTiming());
        QVERIFY(!d.open(QString(), 500000, 0, 0, 1));
        QVERIFY(d.failed());
        int count = 5;
        QVERIFY(!d.takeRx(count));
        QCOMPARE(count, 0);

        hid.setProductId(ZorCanDriverBrenko::SecondProductId); // the second product id is taken too
        QVERIFY(!d.open(QString(), 83333, 0, 0, 1));
        QVERIFY(d.lastErrorText().startsWith(QStringLiteral("Unsupported bit rate 83333 bit/s")));
        QCOMPARE(hid.opens(), 0);
        QVERIFY(d.open(QString(), 125000, 0, 0, 0));
        QVERIFY(hid.writtenText().contains("S4\rZ0\r"));
    }

    // 130 characters of frame commands: reports of 62, 62 and 6 text bytes.
    void longTextsGoOutInSeveralReports()
    {
        SimHidAdapter hid;
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(brenkoTiming());
        QVERIFY(d.open(QString(), 250000, 0, 0, 1));
        hid.clearWritten();
        QByteArray expected;
        for (int i = 0; i < 6; ++i) {
            const QByteArray data = QByteArray::fromHex(i < 5 ? "1122334455667788" : "11223344556677");
            QByteArray rec = record(0x120 + quint32(i), data);
            QVERIFY(d.queueTx(rec));
            // The transmit time stamp: milliseconds since open.
            QVERIFY(ZorBabelFish::fromQbytearrayToTimestamp(rec) < 60000);
            expected += QByteArray("t") + QByteArray::number(0x120 + i, 16) + QByteArray::number(data.size())
                        + data.toHex() + "\r";
        }
        QCOMPARE(expected.size(), 130);
        QVERIFY(d.flushTx(true));
        const QList<QByteArray> reports = hid.reports();
        QCOMPARE(reports.size(), 3);
        QCOMPARE(int(reports.at(0).at(2)), 62);
        QCOMPARE(int(reports.at(1).at(2)), 62);
        QCOMPARE(int(reports.at(2).at(2)), 6);
        QCOMPARE(hid.writtenText(), expected);
        QVERIFY(!d.flushTx(true)); // nothing staged
        QByteArray shortRecord(15, '\0');
        QVERIFY(!d.queueTx(shortRecord));
    }

    void receivedText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("debugLevel");
        QTest::addColumn<QStringList>("frames"); // "id,size,flags[,stamp]" in hex
        QTest::addColumn<QString>("status");
        QTest::newRow("stamped") << QByteArray("t1232aabb0a0b\r") << 0 << QStringList{"123,2,9,a0b"} << QString();
        QTest::newRow("echo") << QByteArray("et1232aabb\r") << 0 << QStringList{"123,2,81"} << QString();
        QTest::newRow("extended") << QByteArray("T1234abcd2a0b0\r") << 0 << QStringList{"1234abcd,2,2"} << QString();
        QTest::newRow("remote") << QByteArray("r7ff0\r") << 0 << QStringList{"7ff,0,5"} << QString();
        QTest::newRow("length 9 dropped") << QByteArray("t12391122\r") << 0 << QStringList() << QString();
        // A bare CR or a flow-control character between two frames must not
        // lose the second one.
        QTest::newRow("empty lines") << QByteArray("t1232aabb\r\r\x11t1232ccdd\r") << 0
                                     << QStringList{"123,2,1", "123,2,1"} << QString();
        QTest::newRow("bytes above 127 dropped") << QByteArray("t1232a\xff" "abb\r") << 0
                                                 << QStringList{"123,2,1"} << QString();
        QTest::newRow("BEL ends a line") << QByteArray("t1232aabb\x07t1232ccdd\r") << 0
                                         << QStringList{"123,2,1", "123,2,1"}
                                         << QStringLiteral("HID CAN status: BEL received (Command error)");
        QTest::newRow("adapter status") << QByteArray("F90\r") << 0 << QStringList()
                                        << QStringLiteral("HID CAN status: transmitter or receiver in error "
                                                          "state, receiver in error state bus passive");
        QTest::newRow("low bits hidden at level 1") << QByteArray("F0f\r") << 1 << QStringList() << QString();
        QTest::newRow("low bits shown at level 3")
            << QByteArray("F0f\r") << 3 << QStringList()
            << QStringLiteral("HID CAN status: CAN Timer overflow, mode change, rx buffer interrupt, "
                              "rx buffer interrupt");
    }
    void receivedText()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, debugLevel);
        QFETCH(QStringList, frames);
        QFETCH(QString, status);
        SimHidAdapter hid;
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(brenkoTiming());
        QVERIFY(d.open(QString(), 500000, debugLevel, 0, 1));
        hid.sendText(text + brenkoSentinel);
        const QList<VSCAN_MSG> got = framesUpToSentinel(d);
        QStringList gotText;
        for (const VSCAN_MSG &f : got) {
            QString line = QStringLiteral("%1,%2,%3").arg(f.Id, 0, 16).arg(f.Size).arg(f.Flags, 0, 16);
            if (f.Flags & VSCAN_FLAGS_TIMESTAMP)
                line += QStringLiteral(",%1").arg(f.Timestamp, 0, 16);
            gotText << line;
        }
        QCOMPARE(gotText, frames);
        QString statusText;
        int bits = 0;
        QVERIFY(d.statusText(statusText, bits));
        QCOMPARE(statusText, status);
        QCOMPARE(bits, status.contains(QLatin1String("error")) ? 4 : 0);
        QVERIFY(d.statusText(statusText, bits));
        QVERIFY(statusText.isEmpty()); // read and cleared
    }

    void reportForms()
    {
        SimHidAdapter hid;
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(brenkoTiming());
        QVERIFY(d.open(QString(), 500000, 0, 0, 1));

        // A length byte beyond the report: no text, status bit 0x800000.
        hid.sendReport(report64("t1232aabb\r", 63));
        // A line split over two reports is parsed once complete.
        hid.sendReport(report64("t1232a", 6));
        hid.sendReport(report64("abb\r", 4));
        // A 65-byte read is the 64-byte report after its first byte.
        hid.sendReport(QByteArray(1, '\0') + report64("t4561cc\r", 8));
        hid.sendText(brenkoSentinel);
        const QList<VSCAN_MSG> got = framesUpToSentinel(d);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0].Id, 0x123u);
        QCOMPARE(got[0].Data[1], quint8(0xbb));
        QCOMPARE(got[1].Id, 0x456u);
        QString text;
        int bits = 0;
        d.statusText(text, bits);
        QCOMPARE(text, QStringLiteral("HID CAN status: HID RX packet error"));
        QCOMPARE(bits, 4);
    }

    void flowControl()
    {
        SimHidAdapter hid;
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(brenkoTiming());
        QVERIFY(d.open(QString(), 500000, 0, 0, 1));
        QByteArray rec = record(0x181, "\x01");

        hid.sendText(QByteArray("\x13\x11") + brenkoSentinel); // XOFF then XON
        framesUpToSentinel(d);
        QVERIFY(d.transmitAllowed());
        QVERIFY(d.queueTx(rec));
        QVERIFY(d.flushTx(true));

        hid.sendText(QByteArray("\x11\x13") + brenkoSentinel); // XON then XOFF
        framesUpToSentinel(d);
        QVERIFY(!d.transmitAllowed());
        hid.clearWritten();
        QVERIFY(d.queueTx(rec));
        QVERIFY(!d.flushTx(true));
        QVERIFY(hid.reports().isEmpty());
        QString text;
        int bits = 0;
        d.statusText(text, bits); // the adapter, off the bus, refused the first frame
        // The staging array fills up and cannot be flushed: refused.
        for (int i = 1; i < ZorCanDriverBrenko::Capacity; ++i)
            QVERIFY(d.queueTx(rec));
        QVERIFY(!d.queueTx(rec));
        d.statusText(text, bits);
        QCOMPARE(text, QStringLiteral("HID CAN status: PC TX buffer overflow"));

        hid.sendText(QByteArray("\x11") + brenkoSentinel);
        framesUpToSentinel(d);
        QVERIFY(d.flushTx(true));
        QCOMPARE(hid.reports().size(), 1024 * 8 / 62 + 1); // 1024 lines of 8 characters
    }

    // An adapter unplugged while open: "USB Error", the driver stays not
    // failed, and it comes back by itself once plugged in.
    void unpluggedAdapterComesBack()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        SimHidAdapter hid;
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(brenkoTiming());
        QVERIFY(d.open(QString(), 250000, 0, 0, 1));
        QTRY_VERIFY(hid.isOnBus());

        hid.setPlugged(false);
        QList<bool> results;
        QVERIFY(pollUntil(d, [&] { return results.contains(false); }, 3000, nullptr, &results));
        QVERIFY(d.isDeviceLost());
        QVERIFY(d.notFailed());
        QString text;
        int bits = 0;
        d.statusText(text, bits);
        QCOMPARE(text, QStringLiteral("HID CAN status: USB Error"));
        QCOMPARE(bits, 4);
        int count = 0;
        QVERIFY(!d.takeRx(count));

        hid.setPlugged(true);
        results.clear();
        // Back by the next re-initialisation (every 1000 ms); the wait is
        // generous for a loaded machine.
        QVERIFY(pollUntil(d, [&] { return results.contains(true); }, 30000, nullptr, &results));
        QVERIFY(!d.isDeviceLost());
        QTRY_VERIFY(hid.isOnBus());

        QVERIFY(gw.inject(QStringLiteral("t28122233")));
        QList<VSCAN_MSG> got;
        QVERIFY(pollUntil(d, [&] { return findFrame(got, 0x281); }, 3000, &got));
        QCOMPARE(int(findFrame(got, 0x281)->Flags), 0x09); // with the adapter's time stamp
    }
};

ZOR_TEST(TestBrenkoDriver)
#include "tst_brenkodriver.moc"
