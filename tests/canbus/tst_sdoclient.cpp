// The SDO client's reading of answers the simulated nodes never give: odd
// command bytes, broken toggles, sizes that do not fit. Each case starts a
// line, feeds the completed exchange lines a CAN interface would send back,
// and looks at what the client sends next and answers.
#include "zorcanexchange.h"
#include "zorsdoclient.h"
#include "zortest.h"

#include <QtTest>

namespace {

// A completed exchange line whose received frame is 581h with these bytes.
QString answerWith(const QString &bytes)
{
    return QStringLiteral("CAN:1000:0:601h,8,40 00 10 00 00 00 00 00:581h,8,") + bytes;
}

} // namespace

class TestSdoClient : public QObject
{
    Q_OBJECT
private slots:
    void expeditedUploads_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("answer");   // empty: the frame gives none
        QTest::newRow("43h") << "unsigned32" << "43 00 20 00 92 01 02 00" << "1,2000h,0h,unsigned32,131474";
        QTest::newRow("42h as the type's size") << "unsigned16" << "42 00 20 00 34 12 ff ff"
                                                 << "1,2000h,0h,unsigned16,4660";
        QTest::newRow("signed first for a signed type") << "integer16" << "4b 00 20 00 d4 fe 00 00"
                                                         << "1,2000h,0h,integer16,-300";
        QTest::newRow("three bytes") << "integer32" << "47 00 20 00 01 02 03 00" << "";
        QTest::newRow("segmented for an integer") << "unsigned32" << "41 00 20 00 08 00 00 00" << "";
        QTest::newRow("download answer") << "unsigned32" << "60 00 20 00 00 00 00 00" << "";
    }

    void expeditedUploads()
    {
        QFETCH(QString, type);
        QFETCH(QString, frame);
        QFETCH(QString, answer);
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,2000h,0," + type, address));
        QString exchange;
        QVERIFY(client.startRead(address, 1000, exchange));
        QCOMPARE(exchange, QStringLiteral("CAN:1000:0:601h,8,40 00 20 00 00 00 00 00:581h,8,?? 00 20 00 ?? ?? ?? ??\n"));
        const ZorSdoClient::Step step = client.handleAnswer(answerWith(frame), true);
        QCOMPARE(step.answers.value(0), answer);
        QCOMPARE(step.finished, !answer.isEmpty());
        QVERIFY(step.exchange.isEmpty());
    }

    // A 20-byte string: initiate 41h with the size, segment requests 60h,
    // 70h, 60h, the last segment holding six bytes (one unused) and the
    // "last" bit: 03h.
    void segmentedUploadToggles()
    {
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,1008h,0h,visible_string", address));
        QString exchange;
        QVERIFY(client.startRead(address, 500, exchange));
        ZorSdoClient::Step step = client.handleAnswer(answerWith("41 08 10 00 14 00 00 00"), true);
        QCOMPARE(step.exchange, QStringLiteral("CAN:500:0:601h,8,60 00 00 00 00 00 00 00:581h,8,?? ?? ?? ?? ?? ?? ?? ??\n"));
        step = client.handleAnswer(answerWith("00 41 42 43 44 45 46 47"), true);
        QVERIFY(step.exchange.contains("601h,8,70 00"));
        step = client.handleAnswer(answerWith("10 48 49 4a 4b 4c 4d 4e"), true);
        QVERIFY(step.exchange.contains("601h,8,60 00"));
        step = client.handleAnswer(answerWith("03 4f 50 51 52 53 54 00"), true);
        QVERIFY(step.finished);
        QCOMPARE(step.answers, QStringList({"1,1008h,0h,visible_string,ABCDEFGHIJKLMNOPQRST"}));
    }

    // A segment with the wrong toggle or a command that is no segment ends
    // the transfer: the client aborts it at the node and reports the code.
    void brokenSegmentsAbort_data()
    {
        QTest::addColumn<QString>("segment");
        QTest::addColumn<QString>("code");
        QTest::newRow("toggle") << "10 41 42 43 44 45 46 47" << "05030000";
        QTest::newRow("no segment") << "60 41 42 43 44 45 46 47" << "05040001";
    }

    void brokenSegmentsAbort()
    {
        QFETCH(QString, segment);
        QFETCH(QString, code);
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,1008h,0h,visible_string", address));
        QString exchange;
        QVERIFY(client.startRead(address, 500, exchange));
        client.handleAnswer(answerWith("41 08 10 00 14 00 00 00"), true);
        const ZorSdoClient::Step step = client.handleAnswer(answerWith(segment), true);
        QVERIFY(step.finished);
        QVERIFY(step.failed);
        QCOMPARE(step.answers, QStringList({"1,1008h,0h,visible_string,error code " + code + "h"}));
        const QString c = code;
        QCOMPARE(step.exchange, QStringLiteral("CAN:0:0:601h,8,80 08 10 00 %1 %2 %3 %4:noresponse\n")
                                    .arg(c.mid(6, 2), c.mid(4, 2), c.mid(2, 2), c.mid(0, 2)));
    }

    // Answers from another node, or frames that are not eight bytes, belong
    // to no transfer of this client.
    void foreignAnswersAreIgnored()
    {
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,1000h,0h,unsigned32", address));
        QString exchange;
        QVERIFY(client.startRead(address, 1000, exchange));
        QVERIFY(client.handleAnswer("CAN:1000:0:x:582h,8,43 00 10 00 01 00 00 00", true).answers.isEmpty());
        QVERIFY(client.handleAnswer("CAN:1000:0:x:581h,4,43 00 10 00", true).answers.isEmpty());
        QVERIFY(client.handleAnswer("CAN:1000:0:x:", false).answers.isEmpty());
        QCOMPARE(client.handleAnswer("CAN:1000:0:x:581h,8,43 00 10 00 01 00 00 00", true).answers.value(0),
                 QStringLiteral("1,1000h,0h,unsigned32,1"));
    }

    void stringsOutsideLatin1AreRefused()
    {
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress(QString::fromUtf8("1,2006h,0h,visible_string,\u20ac 5"), address));
        QString exchange, error;
        QVERIFY(!client.startWrite(address, 1000, false, exchange, error));
        QVERIFY(error.startsWith("1,2006h,0h,error"));
        QVERIFY(exchange.isEmpty());
    }
};

ZOR_TEST(TestSdoClient)
#include "tst_sdoclient.moc"
