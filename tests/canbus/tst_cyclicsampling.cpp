// Cyclic sampling on a hand-driven clock: where the first polls fall, how
// a stall is caught up (skipped, not made up), and which frames become
// sample lines.
#include "zorcyclicsampling.h"
#include "zortest.h"

#include <QtTest>

namespace {

QDateTime at(const QString &time)
{
    return QDateTime(QDate(2024, 5, 17), QTime::fromString(time, "hh:mm:ss.zzz"));
}

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

const QDateTime Noon = at("12:00:00.000");

} // namespace

class TestCyclicSampling : public QObject
{
    Q_OBJECT
private slots:
    void firstPollsAreAligned_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("first");
        QTest::newRow("100 ms") << "10:00:00.400" << 100 << "10:00:01.000";
        QTest::newRow("on a whole second") << "10:00:00.000" << 100 << "10:00:01.000";
        QTest::newRow("15 s") << "10:00:00.400" << 15000 << "10:00:10.000";
        QTest::newRow("15 s, start on ten") << "10:00:09.700" << 15000 << "10:00:20.000";
        QTest::newRow("2 min") << "10:00:00.400" << 120000 << "10:01:00.000";
    }

    void firstPollsAreAligned()
    {
        QFETCH(QString, configured);
        QFETCH(int, interval);
        QFETCH(QString, first);
        QCOMPARE(ZorCyclicSampling::firstPoll(at(configured), interval), at(first));
    }

    // Configured at 10:00:00.400 (monotonic 0): first poll at 600 ms, then
    // every 100 ms; after a stall one poll, and the schedule goes on from
    // the first step after now.
    void stallsSkipPeriods()
    {
        ZorCyclicSampling sampling;
        sampling.configure("001.6064h.00h,pos,integer32,1,100\n", at("10:00:00.400"), 0);
        QVERIFY(sampling.duePolls(599).isEmpty());
        const QList<ZorCyclicSampling::Poll> polls = sampling.duePolls(600);
        QCOMPARE(polls.size(), 1);
        QCOMPARE(polls.first().id, QStringLiteral("001.6064h.00h"));
        QCOMPARE(polls.first().record.mid(0, 13), bytes("01060000" "08" "4064600000000000"));
        QCOMPARE(sampling.nextPoll("001.6064h.00h"), qint64(700));
        QCOMPARE(sampling.duePolls(1050).size(), 1);   // 700..1000 went by
        QCOMPARE(sampling.nextPoll("001.6064h.00h"), qint64(1100));
        QVERIFY(sampling.duePolls(1099).isEmpty());
        QCOMPARE(sampling.duePolls(1100).size(), 1);
    }

    // An object whose node is busy stays due and is polled once the node is
    // free, then its schedule goes on from the first step after now; its
    // poll is an exchange line awaiting the object's upload answer or abort.
    void busyNodeDefersPoll()
    {
        ZorCyclicSampling sampling;
        sampling.configure("001.6064h.00h,pos,integer32,1,100\n", at("10:00:00.400"), 0);
        int asked = 0;
        QVERIFY(sampling.duePolls(600, [&](int node) { ++asked; return node != 1; }).isEmpty());
        QCOMPARE(asked, 1);
        QCOMPARE(sampling.nextPoll("001.6064h.00h"), qint64(600));
        const QList<ZorCyclicSampling::Poll> polls = sampling.duePolls(730, [](int) { return true; });
        QCOMPARE(polls.size(), 1);
        QCOMPARE(polls.first().node, 1);
        QCOMPARE(polls.first().frameText, QStringLiteral("601h,8,40 64 60 00 00 00 00 00"));
        QCOMPARE(polls.first().answerPattern, QStringLiteral("581h,8,[458]? 64 60 00 ?? ?? ?? ??"));
        QCOMPARE(sampling.nextPoll("001.6064h.00h"), qint64(800));
    }

    // Every configured object stays listed; only those with a valid id, an
    // integer type and a method that samples are polled or decoded.
    void configurationKeepsEveryObject()
    {
        ZorCyclicSampling sampling;
        const QString answer = sampling.configure("001.6064h.00h,a,integer32,Software,100\n"
                                                  "001.1008h.00h,b,visible_string,Software,100\n"
                                                  "bad id,c,integer32,Software,100\n"
                                                  "002.6064h.00h,d,integer32,TPDO1.0.4,100\n"
                                                  "003.6064h.00h,e,integer32,Off,100\n",
                                                  Noon, 0);
        QCOMPARE(answer.split('\n', Qt::SkipEmptyParts).size(), 5);
        QVERIFY(sampling.nextPoll("001.6064h.00h") >= 0);
        for (const char *id : {"001.1008h.00h", "bad id", "002.6064h.00h", "003.6064h.00h"})
            QCOMPARE(sampling.nextPoll(id), qint64(-1));
        QVERIFY(sampling.objects().value("002.6064h.00h").active);
        QVERIFY(!sampling.objects().value("001.1008h.00h").active);
        QVERIFY(sampling.objects().value("bad id").seen);
    }

    void framesBecomeSampleLines_data()
    {
        QTest::addColumn<quint32>("cobId");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("lines");
        const QString t = QStringLiteral(",2024-05-17 12:00:00.000,");
        QTest::newRow("SDO 43h") << 0x581u << bytes("4364600010270000") << "001.6064h.00h" + t + "10000\n";
        QTest::newRow("SDO 42h, negative") << 0x581u << bytes("4264600018fcffff") << "001.6064h.00h" + t + "-1000\n";
        QTest::newRow("SDO wrong size") << 0x581u << bytes("4f64600001000000") << "";
        QTest::newRow("SDO abort") << 0x581u << bytes("8064600000000206") << "";
        QTest::newRow("SDO of another object") << 0x581u << bytes("43ff600010270000") << "";
        QTest::newRow("SDO, unsigned16") << 0x582u << bytes("4b01200034f20000") << "002.2001h.00h" + t + "62004\n";
        QTest::newRow("TPDO2 of node 3") << 0x283u << bytes("0000aaaa0500ffff") << "003.6041h.00h" + t + "5\n";
        QTest::newRow("RPDO1 of node 3") << 0x203u << bytes("feffffff00000000") << "003.6040h.00h" + t + "-2\n";
        QTest::newRow("TPDO1 of node 3") << 0x183u << bytes("0100000000000000") << "";
        QTest::newRow("PDO too short") << 0x283u << bytes("0000aa") << "";
    }

    void framesBecomeSampleLines()
    {
        QFETCH(quint32, cobId);
        QFETCH(QByteArray, data);
        QFETCH(QString, lines);
        ZorCyclicSampling sampling;
        sampling.configure("001.6064h.00h,a,integer32,Software,100\n"
                           "002.2001h.00h,b,unsigned16,Software,100\n"
                           "003.6041h.00h,c,unsigned16,TPDO2.4.2,100\n"
                           "003.6040h.00h,d,integer8,RPDO1.0.1,100\n"
                           "003.6042h.00h,e,integer8,Off,100\n",
                           Noon, 0);
        QCOMPARE(sampling.decode(cobId, data, Noon), lines);
    }
};

ZOR_TEST(TestCyclicSampling)
#include "tst_cyclicsampling.moc"
