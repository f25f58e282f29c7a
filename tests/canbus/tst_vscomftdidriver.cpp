// The serial-line driver over the FTDI D2XX stand-in (simulated serial
// adapters on the simulated gateway): the port text, the opening commands,
// status bits from the adapter's answer to the poll, a silent adapter,
// frames both ways.
#include "drivertesting.h"
#include "ftd2xx.h"
#include "simgateway.h"
#include "zorcandrivervscomftdi.h"
#include "zortest.h"

#include <QtTest>

using namespace DriverTesting;

namespace {

ZorCanDriverVSComFtdi::Timing vscomTiming()
{
    ZorCanDriverVSComFtdi::Timing t;
    t.replyTimeoutMs = 200;
    t.pollPasses = 4;
    return t;
}

} // namespace

class TestVSComFtdiDriver : public QObject
{
    Q_OBJECT

    StandIn ftdi{QStringLiteral("platform/libftd2xx.so")};
    ZorFtdiSimControlFn control = nullptr;
    ZorFtdiSimWrittenFn written = nullptr;
    QScopedPointer<SimGateway> gw;

    QByteArray writtenTo(int device)
    {
        QByteArray buffer(65536, '\0');
        const int size = written(device, buffer.data(), buffer.size());
        return buffer.left(size);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(ftdi.load(), qPrintable(ftdi.library.errorString()));
        control = ftdi.resolve<ZorFtdiSimControlFn>("ZorFtdiSimControl");
        written = ftdi.resolve<ZorFtdiSimWrittenFn>("ZorFtdiSimWritten");
        QVERIFY(control && written);
        QVERIFY(ZorCanDriverVSComFtdi::loadDriverLibrary());
    }
    void init()
    {
        QCOMPARE(control("reset"), 0);
        gw.reset(new SimGateway);
        QVERIFY2(gw->start(), qPrintable(gw->errorString()));
        gw->exportAddress();
    }
    void cleanup() { gw.reset(); }

    void portTexts_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("index");
        QTest::newRow("empty: the first") << "" << 0;
        QTest::newRow("com3 and a blank") << "com3 " << 1;
        QTest::newRow("number only") << "7" << 0;
        QTest::newRow("no such port") << "COM4" << -1;
        QTest::newRow("no number") << "COMx" << -1;
    }
    void portTexts()
    {
        QFETCH(QString, port);
        QFETCH(int, index);
        QCOMPARE(control("devices Serial CAN,VS07,7;CANUSB,LW01,3"), 0);
        QCOMPARE(ZorCanDriverVSComFtdi::findDeviceIndex(port), index);
    }

    void opensWithItsCommands_data()
    {
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<int>("timestampMode");
        QTest::addColumn<QByteArray>("commands");
        QTest::newRow("500K") << 500000 << 1 << QByteArray("C\rC\rN\rV\rS6\rZ1\rO\r");
        QTest::newRow("time stamps always on") << 125000 << 0 << QByteArray("C\rC\rN\rV\rS4\rZ1\rO\r");
    }
    void opensWithItsCommands()
    {
        QFETCH(int, bitRate);
        QFETCH(int, timestampMode);
        QFETCH(QByteArray, commands);
        ZorCanDriverVSComFtdi d;
        d.setTiming(vscomTiming());
        QVERIFY2(d.open(QString(), bitRate, 0, 0, timestampMode), qPrintable(d.lastErrorText()));
        QVERIFY(d.isOpen());
        QVERIFY(!d.echoesTx());
        QCOMPARE(d.capacity(), 512);
        QCOMPARE(writtenTo(0).left(commands.size()), commands);
        d.close();
        QVERIFY(!d.isOpen());
        QVERIFY(writtenTo(0).endsWith("C\r"));
    }

    void adapterStatusBits()
    {
        ZorCanDriverVSComFtdi d;
        d.setTiming(vscomTiming());
        QVERIFY(d.open(QString(), 250000, 0, 0, 1));
        QVERIFY(gw->command(QStringLiteral("STATUS 81")));
        QString text;
        int bits = 0;
        QVERIFY(pollUntil(d, [&] {
            d.statusText(text, bits);
            return !text.isEmpty();
        }, 5000));
        QCOMPARE(text, QStringLiteral("brenko CAN: RX_FIFO_FULL, BUS_ERROR"));
        QCOMPARE(bits, 4 | 8);
    }

    void silentAdapter()
    {
        QCOMPARE(control("ignore 0 CNVSZO"), 0);
        ZorCanDriverVSComFtdi d;
        d.setTiming(vscomTiming());
        QVERIFY(!d.open(QString(), 250000, 0, 0, 1));
        QVERIFY(!d.isOpen());
        QVERIFY(d.failed());
        QCOMPARE(d.lastErrorText(), QStringLiteral("Device not responding. Try unplug/replug."));
    }

    void framesBothWays()
    {
        ZorCanDriverVSComFtdi d;
        d.setTiming(vscomTiming());
        QVERIFY(d.open(QString(), 250000, 0, 0, 1));
        // A remote frame goes out with its data digits.
        QByteArray remote = record(0x123, QByteArray::fromHex("0102"), VSCAN_FLAGS_STANDARD | VSCAN_FLAGS_REMOTE);
        QVERIFY(d.queueTx(remote));
        QVERIFY(d.flushTx(true));
        QTRY_VERIFY(writtenTo(0).contains("r12320102\r"));

        // An echo line gives no frame; a BEL is a device error.
        QCOMPARE(control("send 0 et1232aabb\\r\\a"), 0);
        QVERIFY(gw->inject(QStringLiteral("t28122233")));
        QList<VSCAN_MSG> got;
        QVERIFY(pollUntil(d, [&] { return findFrame(got, 0x281); }, 3000, &got));
        QVERIFY(!findFrame(got, 0x123));
        QCOMPARE(int(findFrame(got, 0x281)->Flags), 0x09); // time stamps are on
        QString text;
        int bits = 0;
        d.statusText(text, bits);
        QCOMPARE(text, QStringLiteral("brenko CAN: Device Error"));
        QCOMPARE(bits, 4);
    }
};

ZOR_TEST(TestVSComFtdiDriver)
#include "tst_vscomftdidriver.moc"
