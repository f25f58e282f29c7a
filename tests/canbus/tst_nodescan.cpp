// The node-id scan's bookkeeping on a hand-driven clock: which frames count
// as nodes, which probe answers count as device types, and when it ends.
#include "zornodescan.h"
#include "zortest.h"

#include <QtTest>

class TestNodeScan : public QObject
{
    Q_OBJECT
private slots:
    void onlyUploadAnswersAreDeviceTypes_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<quint32>("value");
        QTest::newRow("43h") << "583h,8,43 00 10 00 92 01 02 00" << 131474u;
        QTest::newRow("42h") << "583h,8,42 00 10 00 92 01 02 00" << 131474u;
        QTest::newRow("abort") << "583h,8,80 00 10 00 00 00 02 06" << 0u;
        QTest::newRow("one byte") << "583h,8,4f 00 10 00 07 00 00 00" << 0u;
        QTest::newRow("other node") << "584h,8,43 00 10 00 92 01 02 00" << 0u;
        QTest::newRow("short frame") << "583h,4,43 00 10 00" << 0u;
    }

    void onlyUploadAnswersAreDeviceTypes()
    {
        QFETCH(QString, frame);
        QFETCH(quint32, value);
        ZorNodeScan scan;
        scan.start(0, 2000, 2000, 2000);
        scan.frameReceived(0x703, 100);
        QCOMPARE(scan.step(2101), QList<int>({3}));
        scan.probeAnswered(3, "CAN:400:0:603h,8,40 00 10 00 00 00 00 00:" + frame, 0x580);
        QCOMPARE(scan.found().value(3), value);
        scan.step(2102);
        QCOMPARE(scan.phase(), ZorNodeScan::Done);   // every probe came back
    }

    void nodesAreIds1To127()
    {
        ZorNodeScan scan;
        scan.start(0, 8000, 2000, 2000);
        for (quint32 id : {0x700u, 0x701u, 0x77fu, 0x780u, 0x7e4u, 0x7e5u, 0x7ffu, 0x705u})
            scan.frameReceived(id, 10);
        QCOMPARE(scan.found().keys(), QList<int>({1, 5, 127}));
        // The first node seen shortens the listening to the settle time.
        QVERIFY(scan.step(2000).isEmpty());
        QCOMPARE(scan.step(2011), QList<int>({1, 5, 127}));
    }

    void valueReadSurvivesLaterHeartbeats()
    {
        ZorNodeScan scan;
        scan.start(0, 2000, 2000, 2000);
        scan.frameReceived(0x703, 100);
        scan.frameReceived(0x705, 100);
        scan.step(2101);
        scan.probeAnswered(3, "CAN:400:0:x:583h,8,43 00 10 00 92 01 02 00", 0x580);
        scan.frameReceived(0x703, 2200);
        scan.step(2300);
        QCOMPARE(scan.phase(), ZorNodeScan::Probing);   // node 5 has not answered
        QCOMPARE(scan.step(4102), QList<int>());
        QCOMPARE(scan.phase(), ZorNodeScan::Done);      // it is not waited for longer
        QCOMPARE(scan.answerText(), QStringLiteral("3,5\n131474,0"));
    }

    void listenTimes_data()
    {
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("listen");
        QTest::newRow("3000") << 3000 << 2000;
        QTest::newRow("4000") << 4000 << 2000;
        QTest::newRow("10000") << 10000 << 8000;
    }

    void listenTimes()
    {
        QFETCH(int, timeout);
        QFETCH(int, listen);
        QCOMPARE(ZorNodeScan::listenTime(timeout, 2000), listen);
    }
};

ZOR_TEST(TestNodeScan)
#include "tst_nodescan.moc"
