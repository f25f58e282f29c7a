// Every adapter driver carries an SDO read to a simulated CANopen node and
// its answer back, through its own adapter stand-in: the two USB HID
// adapters (simulated HID adapter), the serial-line adapter (FTDI D2XX
// stand-in) and IXXAT (VCI stand-in), all on the simulated gateway.
#include "drivertesting.h"
#include "simgateway.h"
#include "simhidadapter.h"
#include "zorcandriverbrenko.h"
#include "zorcandriverixxat.h"
#include "zorcandrivervedozovo.h"
#include "zorcandrivervscomftdi.h"
#include "zortest.h"

#include <QtTest>
#include <memory>

using namespace DriverTesting;

namespace {

struct Rig
{
    std::unique_ptr<SimHidAdapter> hid; // outlives the driver
    std::unique_ptr<ZorAbstractCanDriver> driver;
    QString port;
};

ZorCanDriverHidBase::Timing quickHidTiming()
{
    ZorCanDriverHidBase::Timing t;
    t.initReadMs = 5;
    t.initPauseMs = 0;
    return t;
}

Rig makeRig(const QString &kind)
{
    Rig rig;
    if (kind == QLatin1String("brenko")) {
        rig.hid.reset(new SimHidAdapter(ZorCanDriverBrenko::ProductId));
        auto *d = new ZorCanDriverBrenko(nullptr, rig.hid.get());
        d->setTiming(quickHidTiming());
        rig.driver.reset(d);
    } else if (kind == QLatin1String("vedozovo")) {
        rig.hid.reset(new SimHidAdapter(ZorCanDriverVedozovo::ProductId));
        auto *d = new ZorCanDriverVedozovo(nullptr, rig.hid.get());
        d->setTiming(quickHidTiming());
        rig.driver.reset(d);
    } else if (kind == QLatin1String("vscom")) {
        rig.driver.reset(new ZorCanDriverVSComFtdi);
    } else {
        rig.driver.reset(new ZorCanDriverIxxat);
        rig.port = QStringLiteral("ixxat");
    }
    return rig;
}

} // namespace

class TestSdoRead : public QObject
{
    Q_OBJECT

private slots:
    void readsAnObjectOfANode_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("USB HID adapter") << "brenko";
        QTest::newRow("second USB HID adapter") << "vedozovo";
        QTest::newRow("serial-line adapter") << "vscom";
        QTest::newRow("IXXAT") << "ixxat";
    }
    void readsAnObjectOfANode()
    {
        QFETCH(QString, kind);
        SimGateway gw;
        QVERIFY2(gw.start({QStringLiteral("--node"), QStringLiteral("5"), QStringLiteral("--bitrate"),
                           QStringLiteral("500k")}),
                 qPrintable(gw.errorString()));
        gw.exportAddress();
        Rig rig = makeRig(kind);
        ZorAbstractCanDriver &d = *rig.driver;
        QVERIFY2(d.open(rig.port, 500000, 0, 0, 1), qPrintable(d.lastErrorText()));
        QVERIFY(gw.waitForLine(QStringLiteral("^CHANNEL \\d+ open 500000")).hasMatch());

        // Upload of 1000h:00 (device type) from node 5; then 2002h:00.
        const struct { QByteArray request; QByteArray answer; } reads[] = {
            {QByteArray::fromHex("4000100000000000"), QByteArray::fromHex("4200100092010200")},
            {QByteArray::fromHex("4002200000000000"), QByteArray::fromHex("4202200078563412")},
        };
        for (const auto &read : reads) {
            QByteArray request = record(0x605, read.request);
            QVERIFY(d.queueTx(request));
            QVERIFY(d.flushTx(true));
            QList<VSCAN_MSG> got;
            QVERIFY(pollUntil(d, [&] { return findFrame(got, 0x585); }, 5000, &got));
            const VSCAN_MSG *answer = findFrame(got, 0x585);
            QCOMPARE(int(answer->Size), 8);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(answer->Data), 8), read.answer);
            QVERIFY(answer->Flags & VSCAN_FLAGS_STANDARD || kind == QLatin1String("ixxat"));
        }
        d.close();
        QVERIFY(!d.isOpen());
    }
};

ZOR_TEST(TestSdoRead)
#include "tst_sdoread.moc"
