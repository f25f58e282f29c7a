// The second USB HID adapter driver against the simulated HID adapter: only
// its product id, its opening commands, the status poll (not while the
// adapter sent XOFF), echo lines, and transmit time stamps on the adapter's
// clock.
#include "drivertesting.h"
#include "simhidadapter.h"
#include "zorcandrivervedozovo.h"
#include "zortest.h"

#include <QtTest>

using namespace DriverTesting;

namespace {

ZorCanDriverHidBase::Timing vedozovoTiming()
{
    ZorCanDriverHidBase::Timing t;
    t.initReadMs = 5;
    t.initPauseMs = 0;
    t.receiveReadMs = 10;
    t.pollMs = 50;
    return t;
}

const QByteArray vedozovoSentinel = "t0010\r";

void takeUpToSentinel(ZorAbstractCanDriver &d, QList<VSCAN_MSG> *frames = nullptr)
{
    QList<VSCAN_MSG> got;
    pollUntil(d, [&] { return findFrame(got, 0x001); }, 3000, &got);
    if (frames)
        *frames = got;
}

} // namespace

class TestVedozovoDriver : public QObject
{
    Q_OBJECT

private slots:
    void opensOnlyItsProduct()
    {
        SimHidAdapter hid(0xF708);
        ZorCanDriverVedozovo d(nullptr, &hid);
        d.setTiming(vedozovoTiming());
        QVERIFY(!d.open(QString(), 500000, 0, 0, 1));
        QCOMPARE(d.lastErrorText(), QStringLiteral("USB Error"));
        QVERIFY(d.failed());

        hid.setProductId(ZorCanDriverVedozovo::ProductId);
        QVERIFY(d.open(QStringLiteral("ignored"), 500000, 0, 0, 1));
        QVERIFY(d.lastErrorText().isEmpty());
        QVERIFY(!d.echoesTx());
        QVERIFY(d.firmwareVersion().isEmpty());
        QVERIFY(!d.firmwareUpdateNeeded(QStringLiteral("2")));
        QString file;
        QVERIFY(!d.startFirmwareUpdate(QStringLiteral("1"), file));
        QCOMPARE(hid.writtenText(), QByteArray("C\rS6\rO\r"));
        hid.clearWritten();
        d.close();
        QCOMPARE(hid.writtenText(), QByteArray("C\r"));
    }

    void pollsTheStatusUnlessHeldOff()
    {
        SimHidAdapter hid(ZorCanDriverVedozovo::ProductId);
        ZorCanDriverVedozovo d(nullptr, &hid);
        d.setTiming(vedozovoTiming());
        QVERIFY(d.open(QString(), 250000, 0, 0, 1));
        hid.setStatusFlags(0x20);
        QVERIFY(pollUntil(d, [&] { return hid.writtenText().contains("F\r"); }, 3000));
        hid.sendText(vedozovoSentinel); // behind the answer "F20"
        takeUpToSentinel(d);
        QString text;
        int bits = 0;
        d.statusText(text, bits);
        QCOMPARE(text, QStringLiteral("HID CAN status: receiver in error state"));
        QCOMPARE(bits, 4);

        hid.sendText(QByteArray("\x13") + vedozovoSentinel); // XOFF
        takeUpToSentinel(d);
        hid.clearWritten();
        // Several poll intervals pass without a poll.
        QElapsedTimer held;
        held.start();
        pollUntil(d, [&] { return held.elapsed() > 5 * vedozovoTiming().pollMs; }, 3000);
        QVERIFY(!hid.writtenText().contains("F\r"));

        hid.sendText(QByteArray("\x11") + vedozovoSentinel); // XON
        QVERIFY(pollUntil(d, [&] { return hid.writtenText().contains("F\r"); }, 3000));
    }

    void echoesAndTimeStamps()
    {
        SimHidAdapter hid(ZorCanDriverVedozovo::ProductId);
        ZorCanDriverVedozovo d(nullptr, &hid);
        d.setTiming(vedozovoTiming());
        QVERIFY(d.open(QString(), 250000, 0, 0, 1));

        // Before any frame came, a queued record keeps its own time stamp.
        QByteArray rec = record(0x181, "\x01");
        rec[14] = char(0x12);
        rec[15] = char(0x34);
        QVERIFY(d.queueTx(rec));
        QCOMPARE(ZorBabelFish::fromQbytearrayToTimestamp(rec), quint16(0x1234));

        hid.sendText("et1232aabb\rt1231cc\rt1232aabb03e8\r" + vedozovoSentinel);
        QList<VSCAN_MSG> got;
        takeUpToSentinel(d, &got);
        QCOMPARE(got.size(), 4);
        QCOMPARE(int(got[0].Flags), 0x81); // an echo, though the driver does not claim echoes
        QCOMPARE(int(got[1].Flags), 0x01);
        QCOMPARE(got[1].Timestamp, quint16(0)); // no time stamp from the adapter
        QCOMPARE(got[2].Timestamp, quint16(1000));
        QCOMPARE(got[3].Timestamp, quint16(0)); // the sentinel: the last frame sets the base

        // The sentinel came without time stamp: base 0; now one with 1000 last.
        hid.sendText(QByteArray("t1232aabb03e8\r"));
        got.clear();
        QElapsedTimer beforeTake;
        beforeTake.start();
        QVERIFY(pollUntil(d, [&] { return !got.isEmpty(); }, 3000, &got));
        QElapsedTimer sinceTake;
        sinceTake.start();
        QTRY_VERIFY(sinceTake.elapsed() >= 30);
        QByteArray later = record(0x182, "\x02");
        const int atLeast = int(sinceTake.elapsed());
        QVERIFY(d.queueTx(later));
        const int atMost = int(beforeTake.elapsed());
        const int stamp = ZorBabelFish::fromQbytearrayToTimestamp(later);
        QVERIFY2(stamp >= 1000 + atLeast && stamp <= 1000 + atMost,
                 qPrintable(QStringLiteral("%1, %2 to %3 ms after").arg(stamp).arg(atLeast).arg(atMost)));
    }
};

ZOR_TEST(TestVedozovoDriver)
#include "tst_vedozovodriver.moc"
