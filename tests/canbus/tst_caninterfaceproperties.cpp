// Properties of the CAN interface module: the values a new module starts
// with and how "Port", "Baudrate" and "ScanBaudList" are normalised.
#include "zormodcaninterface.h"
#include "zortest.h"

#include <QtTest>

class TestCanInterfaceProperties : public QObject
{
    Q_OBJECT
private slots:
    void newModuleHasItsDefaults()
    {
        ZorModCanInterface m;
        QCOMPARE(m.property(QStringLiteral("Port")), QStringLiteral("(first found)"));
        QCOMPARE(m.property(QStringLiteral("Baudrate")), QStringLiteral("scan"));
        QCOMPARE(m.property(QStringLiteral("DebugMode")), QStringLiteral("0"));
        QCOMPARE(m.property(QStringLiteral("TimestampMode")), QStringLiteral("1"));
        QCOMPARE(m.property(QStringLiteral("ScanBaudList")),
                 QStringLiteral("1000000,500000,250000,125000,100000,50000,20000"));
        QCOMPARE(m.property(QStringLiteral("SendSeqName0")), QStringLiteral("My Sequence 1"));
        QCOMPARE(m.property(QStringLiteral("SendSequence9")),
                 QStringLiteral("; TODO: Add your CAN program no. 10 here"));
    }

    void valuesAreNormalised_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("result");
        QTest::newRow("rate with blanks") << "Baudrate" << " 250k " << "250K" << true;
        QTest::newRow("rate in bit/s") << "Baudrate" << "1000000" << "1M" << true;
        QTest::newRow("rate not in thousands") << "Baudrate" << "123456" << "123456" << true;
        QTest::newRow("rate too high") << "Baudrate" << "2000000" << "1M" << false;
        QTest::newRow("rate too low") << "Baudrate" << "5000" << "20K" << false;
        QTest::newRow("no rate") << "Baudrate" << "fast" << "0" << false;
        QTest::newRow("scan passive") << "Baudrate" << "scan_passive" << "scan_passive" << true;
        QTest::newRow("scan in any case") << "Baudrate" << "Scan now" << "scan" << true;
        QTest::newRow("scan list") << "ScanBaudList" << "500K,250000,500000,1M"
                                   << "500000,250000,1000000" << true;
        QTest::newRow("scan list with garbage") << "ScanBaudList" << "250k, x,,125K"
                                                << "250000,125000" << false;
        QTest::newRow("empty port") << "Port" << "" << "(first found)" << false;
        QTest::newRow("port") << "Port" << "127.0.0.1:5000" << "127.0.0.1:5000" << true;
    }

    void valuesAreNormalised()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, stored);
        QFETCH(bool, result);
        ZorModCanInterface m;
        QCOMPARE(m.setProperty(name, value, false), result);
        QCOMPARE(m.property(name), stored);
    }
};

ZOR_TEST(TestCanInterfaceProperties)
#include "tst_caninterfaceproperties.moc"
