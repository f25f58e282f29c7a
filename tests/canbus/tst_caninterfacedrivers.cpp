// The CAN interface module with the drivers the factory makes for the IXXAT
// and the serial-line adapters (and the latter found by "(first found)",
// no USB HID adapter being plugged in), each on its stand-in: opened, and an
// SDO read carried through the module to a simulated node and back.
#include "caninterfacerig.h"
#include "simgateway.h"
#include "zortest.h"

#include <QtTest>

class TestCanInterfaceDrivers : public QObject
{
    Q_OBJECT

private slots:
    void opensAndCarriesFrames_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("opening");
        QTest::newRow("IXXAT") << "ixxat" << "Opening ixxat CAN Interface, port = ixxat, bit rate = 500K, debug level = 0";
        QTest::newRow("serial line") << "vscom" << "Opening brenko/vscom USB-CAN interface, port = (first found), bit rate = 500K";
        QTest::newRow("first found") << "(first found)"
                                     << "Opening brenko/vscom USB-CAN interface, port = (first found), bit rate = 500K";
    }
    void opensAndCarriesFrames()
    {
        QFETCH(QString, port);
        QFETCH(QString, opening);
        SimGateway gw;
        QVERIFY2(gw.start({"--node", "1"}), qPrintable(gw.errorString()));
        gw.exportAddress();
        CanInterfaceRig rig;
        rig.setProperty(QStringLiteral("Port"), port);
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("500K"));
        rig.start();
        const ZorMessage open = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForAnswer(open, 10000));
        QCOMPARE(rig.master.answersTo(open).first().msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForInfoText(QStringLiteral("Open (500K)")));
        QVERIFY(rig.master.infoTexts().contains(opening));

        const ZorMessage send =
            rig.request(KM_CAN_FRAME, frameRecord(QStringLiteral("601h,8,40 00 10 00 00 00 00 00")));
        QVERIFY(rig.waitForAnswer(send));
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            for (const ZorMessage &f : rig.master.ofType(KM_CAN_FRAME)) {
                if (f.msgState() == KS_INFO
                    && frameText(f.data().toByteArray()) == QLatin1String("581h,8,42 00 10 00 92 01 02 00"))
                    return true;
            }
            return false;
        }(), 5000);
        const ZorMessage close = rig.request(KM_COMM_CLOSE);
        QVERIFY(rig.waitForAnswer(close));
        QTRY_COMPARE(rig.master.lastStatus(), 0);
    }
};

ZOR_TEST(TestCanInterfaceDrivers)
#include "tst_caninterfacedrivers.moc"
