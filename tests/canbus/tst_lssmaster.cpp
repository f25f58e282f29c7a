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
        QTest::newRow("full address") << "s,10000003h,9,0,112233h,4711h,10002h" << true << 0x43 << 0x10000003u
                                      << 9 << 0u;
        QTest::newRow("full address needs s") << "v,112233h,9,0,112233h,4711h,10002h" << false << 0 << 0u << 0 << 0u;
        QTest::newRow("address cut short") << "s,10000003h,9,0,112233h,4711h" << false << 0 << 0u << 0 << 0u;
        QTest::newRow("address no number") << "s,10000003h,9,0,112233h,x,10002h" << false << 0 << 0u << 0 << 0u;
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
        QCOMPARE(r.fullAddress, request.count(',') == 6);
        if (r.fullAddress)
            QCOMPARE(QList<quint32>({r.address[0], r.address[1], r.address[2], r.address[3]}),
                     QList<quint32>({0x112233u, 0x4711u, 0x10002u, 0x10000003u}));
    }

    void lines()
    {
        QCOMPARE(ZorLssMaster::switchModeLine(0x7e5, 0x04, 1, 5000),
                 QStringLiteral("CAN:5000:0:7e5h,8,04 01 00 00 00 00 00 00:noresponse\n"));
        QCOMPARE(ZorLssMaster::switchModeLine(0x7e5, 0x43, 0x10000001, 5000),
                 QStringLiteral("CAN:5000:0:7e5h,8,43 01 00 00 10 00 00 00:noresponse\n"));
        // Configure and store answers are taken whatever their error code,
        // which answerError then reads.
        QCOMPARE(ZorLssMaster::configureNodeIdLine(0x7e5, 0x7e4, 5, 2000),
                 QStringLiteral("CAN:2000:0:7e5h,8,11 05 00 00 00 00 00 00:7e4h,8,11 ?? ?? ?? ?? ?? ?? ??\n"));
        QCOMPARE(ZorLssMaster::configureBitTimingLine(0x7e5, 0x7e4, 4, 2000),
                 QStringLiteral("CAN:2000:0:7e5h,8,13 00 04 00 00 00 00 00:7e4h,8,13 ?? ?? ?? ?? ?? ?? ??\n"));
        QCOMPARE(ZorLssMaster::storeLine(0x7e5, 0x7e4, 2000),
                 QStringLiteral("CAN:2000:0:7e5h,8,17 00 00 00 00 00 00 00:7e4h,8,17 ?? ?? ?? ?? ?? ?? ??\n"));
        const quint32 address[4] = {0x112233, 0x4711, 0x10002, 0x10000003};
        QCOMPARE(ZorLssMaster::switchSelectiveLines(0x7e5, 0x7e4, address, 2000),
                 QStringLiteral("CAN:0:0:7e5h,8,40 33 22 11 00 00 00 00:noresponse\n"
                                "CAN:0:0:7e5h,8,41 11 47 00 00 00 00 00:noresponse\n"
                                "CAN:0:0:7e5h,8,42 02 00 01 00 00 00 00:noresponse\n"
                                "CAN:2000:0:7e5h,8,43 03 00 00 10 00 00 00:7e4h,8,44 ?? ?? ?? ?? ?? ?? ??\n"));
        int code = -1, specific = -1;
        QVERIFY(ZorLssMaster::answerError("CAN:2000:0:7e5h,8,13 00 04 00 00 00 00 00:7e4h,8,13 01 00 00 00 00 00 00",
                                          code, specific));
        QCOMPARE(code, 1);
        QCOMPARE(specific, 0);
        QVERIFY(!ZorLssMaster::answerError("CAN:2000:0:7e5h,8,13 00 04 00 00 00 00 00:", code, specific));
    }
};

ZOR_TEST(TestLssMaster)
#include "tst_lssmaster.moc"
