// The IXXAT driver over the VCI stand-in (devices on the simulated gateway):
// refused bit rates and failed opens with their texts, a receive queue
// larger than the bank, skipped non-data messages, frame flags and time
// stamps (also from a controller without a clock), and a flush that drops
// frames reporting it.
#include "drivertesting.h"
#include "simgateway.h"
#include "vcinpl.h"
#include "zorcandriverixxat.h"
#include "zortest.h"

#include <QtTest>

using namespace DriverTesting;

class TestIxxatDriver : public QObject
{
    Q_OBJECT

    StandIn vci{QStringLiteral("platform/libvcinpl.so")};
    ZorVciSimControlFn control = nullptr;
    ZorVciSimStateFn state = nullptr;
    QScopedPointer<SimGateway> gw;

    bool startGateway()
    {
        gw.reset(new SimGateway);
        if (!gw->start())
            return false;
        gw->exportAddress();
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(vci.load(), qPrintable(vci.library.errorString()));
        control = vci.resolve<ZorVciSimControlFn>("ZorVciSimControl");
        state = vci.resolve<ZorVciSimStateFn>("ZorVciSimState");
        QVERIFY(control && state);
    }
    void init() { QCOMPARE(control("reset"), 0); }
    void cleanup() { gw.reset(); }

    void refusedOpens_data()
    {
        QTest::addColumn<bool>("library");
        QTest::addColumn<bool>("gateway");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<QString>("error");
        const QString badRate = QStringLiteral("Ixxat error: Selected bitrate is not supported.");
        QTest::newRow("83333 without library") << false << false << "" << "ixxat" << 83333 << badRate;
        QTest::newRow("83333 with library") << true << true << "" << "ixxat" << 83333 << badRate;
        QTest::newRow("no library") << false << false << "" << "ixxat" << 500000 << "Ixxat error";
        QTest::newRow("old VCI") << true << true << "version 2 9" << "ixxat" << 500000
                                 << "Ixxat error: Invalid VCI version 2.9";
        QTest::newRow("third of two devices") << true << true << "devices 2" << "ixxat:2" << 500000
                                              << "Ixxat error: could not open device #2";
        QTest::newRow("no device without gateway") << true << false << "" << "ixxat" << 500000
                                                   << "Ixxat error: could not open device #0";
    }
    void refusedOpens()
    {
        QFETCH(bool, library);
        QFETCH(bool, gateway);
        QFETCH(QString, setting);
        QFETCH(QString, port);
        QFETCH(int, bitRate);
        QFETCH(QString, error);
        const QByteArray saved = qgetenv("QUORVANE_SIM_GATEWAY");
        qunsetenv("QUORVANE_SIM_GATEWAY");
        if (gateway)
            QVERIFY(startGateway());
        if (!setting.isEmpty())
            QCOMPARE(control(setting.toLatin1().constData()), 0);
        ZorCanDriverIxxat d;
        if (!library)
            d.setLibraryFile(QStringLiteral("/nonexistent/libvcinpl.so"));
        QVERIFY(!d.open(port, bitRate, 0, 0, 0));
        QVERIFY(!d.isOpen());
        QVERIFY(d.failed());
        QCOMPARE(d.lastErrorText(), error);
        // A failed open is not undone by close.
        d.close();
        QVERIFY(d.failed());
        QCOMPARE(state("channels"), 0);
        gw.reset();
        if (!saved.isEmpty())
            qputenv("QUORVANE_SIM_GATEWAY", saved);
    }

    void secondDeviceOpens()
    {
        QVERIFY(startGateway());
        QCOMPARE(control("devices 2"), 0);
        ZorCanDriverIxxat d;
        QVERIFY2(d.open(QStringLiteral("ixxat:1"), 1000000, 0, 0, 0), qPrintable(d.lastErrorText()));
        QVERIFY(gw->waitForLine(QStringLiteral("^CHANNEL \\d+ open 1000000")).hasMatch());
        d.close();
        QVERIFY(d.notFailed());
        QCOMPARE(state("channels"), 0);
    }

    // More frames wait than a bank holds: one takeRx gives a full bank and
    // empties the queue; a status message among them is skipped.
    void fullQueueGivesOneBank()
    {
        QVERIFY(startGateway());
        ZorCanDriverIxxat d;
        QVERIFY(d.open(QStringLiteral("ixxat"), 500000, 0, 0, 0));
        QCOMPARE(control("inject 3"), 0);
        QVERIFY(gw->command(QStringLiteral("FLOOD 1100")));
        QVERIFY(gw->waitForLine(QStringLiteral("^FLOODDONE 1100")).hasMatch());
        QTRY_COMPARE(state("rxpending"), 1101);
        int count = 0;
        QVERIFY(d.takeRx(count));
        QCOMPARE(count, 1024);
        QCOMPARE(state("rxpending"), 0);
        QByteArray rec;
        QVERIFY(d.rxFrame(1023, rec));
        QVERIFY(!d.rxFrame(1024, rec));
        QCOMPARE(frameOf(rec).Id, 0x123u);
        QVERIFY(d.takeRx(count));
        QCOMPARE(count, 0);
    }

    void framesAndTimeStamps_data()
    {
        QTest::addColumn<QString>("clock");
        QTest::newRow("1 MHz clock") << "clock 1000000 1";
        QTest::newRow("80 MHz clock, divisor 80") << "clock 80000000 80";
        QTest::newRow("no clock") << "clock 0 1";
    }
    void framesAndTimeStamps()
    {
        QFETCH(QString, clock);
        QVERIFY(startGateway());
        QCOMPARE(control(clock.toLatin1().constData()), 0);
        ZorCanDriverIxxat d;
        QElapsedTimer sinceOpen;
        sinceOpen.start();
        QVERIFY(d.open(QStringLiteral("ixxat"), 250000, 0, 0, 0));
        QElapsedTimer sinceDeviceOpen;
        sinceDeviceOpen.start();
        QTRY_VERIFY(sinceDeviceOpen.elapsed() >= 20);
        QVERIFY(gw->inject(QStringLiteral("t1232aabb")));
        QVERIFY(gw->inject(QStringLiteral("T1234abcd2a0b0")));
        QVERIFY(gw->inject(QStringLiteral("r7ff2")));
        QList<VSCAN_MSG> got;
        QVERIFY(pollUntil(d, [&] { return got.size() >= 3; }, 3000, &got));
        QCOMPARE(got[0].Id, 0x123u);
        QCOMPARE(int(got[0].Flags), 0); // standard frames carry no flag
        QCOMPARE(got[0].Data[1], quint8(0xbb));
        QCOMPARE(int(got[1].Flags), 0x02);
        QCOMPARE(int(got[2].Flags), 0x04);
        QCOMPARE(int(got[2].Size), 2);
        // Receive times in ms: the stand-in's clock (and without one the
        // driver's own) starts at the open, so they lie between 20 ms and
        // the time since.
        for (const VSCAN_MSG &f : got) {
            QVERIFY2(f.Timestamp >= 20 && f.Timestamp <= sinceOpen.elapsed(),
                     qPrintable(QString::number(f.Timestamp)));
        }
        QVERIFY(got[2].Timestamp >= got[0].Timestamp);
    }

    void droppedFramesFailTheFlush()
    {
        QVERIFY(startGateway());
        ZorCanDriverIxxat d;
        QVERIFY(d.open(QStringLiteral("ixxat"), 500000, 0, 0, 0));
        QVERIFY(d.flushTx(true)); // nothing queued
        QByteArray a = record(0x181, "\x01"), b = record(0x182, "\x02");
        QCOMPARE(control("sendtimeout 1"), 0);
        QVERIFY(d.queueTx(a));
        QVERIFY(d.queueTx(b));
        QVERIFY(!d.flushTx(true));
        QCOMPARE(state("sent"), 0);
        QCOMPARE(control("sendtimeout 0"), 0);
        QVERIFY(d.flushTx(true)); // the dropped ones are gone
        QVERIFY(d.queueTx(b));
        QVERIFY(d.flushTx(true));
        QCOMPARE(state("sent"), 1);
        QVERIFY(gw->waitForLine(QStringLiteral("^BUS c\\d+ t18210?2")).hasMatch());
        QString text = QStringLiteral("x");
        int bits = 0;
        QVERIFY(d.statusText(text, bits));
        QVERIFY(text.isEmpty());
        QCOMPARE(bits, 0);
    }
};

ZOR_TEST(TestIxxatDriver)
#include "tst_ixxatdriver.moc"
