// The five plug-ins over makers' libraries when no adapter is there: the
// stand-in libraries find no simulated gateway (QUORVANE_SIM_GATEWAY unset)
// and answer as the makers' libraries do without hardware; the plug-in
// driver's open fails with the plug-in's code and frees what it took.
#include "adapterbus.h"
#include "zortest.h"

#include <QtTest>

class TestAdapterNoGateway : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qunsetenv("QUORVANE_SIM_GATEWAY"); }

    void openFails_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("ems") << "ems" << -104 << "Buslink/ems error: Hardware is not connected.";
        QTest::newRow("mhs") << "mhs" << -104 << "Buslink/mhs error: Hardware is not connected.";
        QTest::newRow("kvaser") << "kvaser" << -105 << "Buslink/kvaser error: Hardware is undefined.";
        QTest::newRow("peak") << "peak" << -255 << "Buslink/peak error: General error occurred.";
        QTest::newRow("castor") << "castor" << -106 << "Buslink/castor error: Driver error.";
    }
    void openFails()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        QFETCH(QString, text);
        AdapterBus::Port port;
        QVERIFY(!port.open(key + ":0"));
        QCOMPARE(port.driver.lastResult(), result);
        QCOMPARE(port.driver.lastErrorText(), text);
        QVERIFY(port.driver.failed());
        // Nothing stays taken: the same failure again, not "Out of CAN interfaces."
        QVERIFY(!port.open(key + ":0"));
        QCOMPARE(port.driver.lastResult(), result);
    }
};

ZOR_TEST(TestAdapterNoGateway)
#include "tst_adapternogateway.moc"
