// LSS requests: the "LSSNodeParameters" fields, the bit-timing table of
// CiA 305 and the exchange lines.
#include "zorlssmaster.h"
#include "zortest.h"

#include <QtTest>

class TestLssMaster : public QObject
{
    Q_OBJECT
private slots:
    void bitTimingTable_data()
    {
        QTest::addColumn<quint32>("rate");
        QTest::addColumn<int>("index");
        QTest::newRow("1M") << 1000000u << 0;
        QTest::newRow("800k") << 800000u << 1;
        QTest::newRow("500k") << 500000u << 2;
        QTest::newRow("250k") << 250000u << 3;
        QTest::newRow("125k") << 125000u << 4;
        QTest::newRow("100k") << 100000u << 5;
        QTest::newRow("50k") << 50000u << 6;
        QTest::newRow("20k") << 20000u << 7;
        QTest::newRow("10k") << 10000u << 8;
        QTest::newRow("not in the table") << 125001u << -1;
        QTest::newRow("between rows") << 300000u << -1;
        QTest::newRow("above 1M") << 2000000u << -1;
    }

    void bitTimingTable()
    {
        QFETCH(quint32, rate);
        QFETCH(int, index);
        QCOMPARE(ZorLssMaster::bitTimingIndex(rate), index);
    }

    void requests_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("command");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<int>("nodeId");
        QTest::addColumn<quint32>("bitRate");
        QTest::newRow("global") << "x,0,5,125000" << true << 0x04 << 1u << 5 << 125000u;
        QTest::newRow("by vendor, any case") << "V,0x112233,7,0" << true << 0x40 << 0x112233u << 7 << 0u;
        QTest::newRow("by serial") << "s,10000001h,0,10000" << true << 0x43 << 0x10000001u << 0 << 10000u;
        QTest::newRow("nothing to set") << "x,0,0,0" << false << 0 << 0u << 0 << 0u;
        QTest::newRow("node id 128") << "x,0,128,0" << false << 0 << 0u << 0 << 0u;
        QTest::newRow("rate not in the table") << "x,0,5,125001" << false << 0 << 0u << 0 << 0u;
        QTest::newRow("rate no number") << "x,0,5,fast" << false << 0 << 0u << 0 << 0u;
        QTest::newRow("selective without value") << "p,,5,0" << false << 0 << 0u << 0 << 0u;
    }

    void requests()
    {
        QFETCH(QString, request);
        QFETCH(bool, ok);
        QFETCH(int, command);
        QFETCH(quint32, value);
        QFETCH(int, nodeId);
        QFETCH(quint32, bitRate);
        ZorLssMaster::Request r;
        QString error;
        QCOMPARE(ZorLssMaster::parse(request, r, error), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (!ok)
            return;
        QCOMPARE(int(r.command), command);
        QCOMPARE(r.value, value);
        QCOMPARE(int(r.nodeId), nodeId);
        QCOMPARE(r.bitRate, bitRate);
    }

    void lines()
    {
        QCOMPARE(ZorLssMaster::switchModeLine(0x7e5, 0x04, 1, 5000),
                 QStringLiteral("CAN:5000:0:7e5h,8,04 01 00 00 00 00 00 00:noresponse\n"));
        QCOMPARE(ZorLssMaster::switchModeLine(0x7e5, 0x43, 0x10000001, 5000),
                 QStringLiteral("CAN:5000:0:7e5h,8,43 01 00 00 10 00 00 00:noresponse\n"));
        QCOMPARE(ZorLssMaster::configureNodeIdLine(0x7e5, 0x7e4, 5, 2000),
                 QStringLiteral("CAN:2000:0:7e5h,8,11 05 00 00 00 00 00 00:7e4h,8,11 00 ?? ?? ?? ?? ?? ??\n"));
        QCOMPARE(ZorLssMaster::configureBitTimingLine(0x7e5, 0x7e4, 4, 2000),
                 QStringLiteral("CAN:2000:0:7e5h,8,13 00 04 00 00 00 00 00:7e4h,8,13 00 00 ?? ?? ?? ?? ??\n"));
        QCOMPARE(ZorLssMaster::storeLine(0x7e5, 0x7e4, 2000),
                 QStringLiteral("CAN:2000:0:7e5h,8,17 00 00 00 00 00 00 00:7e4h,8,17 00 00 ?? ?? ?? ?? ??\n"));
    }
};

ZOR_TEST(TestLssMaster)
#include "tst_lssmaster.moc"
