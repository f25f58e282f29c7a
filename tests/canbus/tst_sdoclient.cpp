// The SDO client's reading of answers the simulated nodes never give: odd
// command bytes, broken toggles, sizes that do not fit, aborts and answers
// that belong to other transfers. Each case starts a line, feeds the
// completed exchange lines a CAN interface would send back (or frames seen on
// the bus), and looks at what the client sends next and answers.
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
        // The initiate answer of this object (40h..5Fh) or its abort (80h).
        QCOMPARE(exchange, QStringLiteral("CAN:1000:0:601h,8,40 00 20 00 00 00 00 00:581h,8,[458]? 00 20 00 ?? ?? ?? ??\n"));
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
        // Only an upload segment (00h..1Fh) answers a segment request.
        QCOMPARE(step.exchange, QStringLiteral("CAN:500:0:601h,8,60 00 00 00 00 00 00 00:581h,8,[01]? ?? ?? ?? ?? ?? ?? ??\n"));
        step = client.handleAnswer(answerWith("00 41 42 43 44 45 46 47"), true);
        QVERIFY(step.exchange.contains("601h,8,70 00"));
        step = client.handleAnswer(answerWith("10 48 49 4a 4b 4c 4d 4e"), true);
        QVERIFY(step.exchange.contains("601h,8,60 00"));
        step = client.handleAnswer(answerWith("03 4f 50 51 52 53 54 00"), true);
        QVERIFY(step.finished);
        QCOMPARE(step.answers, QStringList({"1,1008h,0h,visible_string,ABCDEFGHIJKLMNOPQRST"}));
    }

    // A segment with the wrong toggle ends the transfer: the client aborts
    // it at the node and reports the code.
    void brokenToggleAborts()
    {
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,1008h,0h,visible_string", address));
        QString exchange;
        QVERIFY(client.startRead(address, 500, exchange));
        client.handleAnswer(answerWith("41 08 10 00 14 00 00 00"), true);
        const ZorSdoClient::Step step = client.handleAnswer(answerWith("10 41 42 43 44 45 46 47"), true);
        QVERIFY(step.finished);
        QVERIFY(step.failed);
        QCOMPARE(step.answers, QStringList({"1,1008h,0h,visible_string,error code 05030000h"}));
        QCOMPARE(step.exchange, QStringLiteral("CAN:0:0:601h,8,80 08 10 00 00 00 03 05:noresponse\n"));
        QVERIFY(!client.isBusy());
    }

    // Aborts seen on the bus while segments are under way: only one that
    // names the transfer's object ends it, with its code; the client sends
    // no abort of its own then.
    void abortsEndOnlyTheirOwnTransfer()
    {
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,1008h,0h,visible_string", address));
        QString exchange;
        QVERIFY(client.startRead(address, 500, exchange));
        client.handleAnswer(answerWith("41 08 10 00 14 00 00 00"), true);
        ZorSdoClient::Step step;
        // Another object, another node, a frame cut short.
        QVERIFY(!client.abortReceived(0x581, QByteArray::fromHex("8041600000000206"), step));
        QVERIFY(!client.abortReceived(0x582, QByteArray::fromHex("8008100000000206"), step));
        QVERIFY(!client.abortReceived(0x581, QByteArray::fromHex("80081000"), step));
        QVERIFY(client.isBusy());
        QVERIFY(client.abortReceived(0x581, QByteArray::fromHex("8008100022000008"), step));
        QVERIFY(step.failed);
        QCOMPARE(step.answers, QStringList({"1,1008h,0h,visible_string,error code 08000022h"}));
        QVERIFY(step.exchange.isEmpty());
        QVERIFY(!client.isBusy());
    }

    // An exchange that ends without answer ends the transfer; inside a
    // segmented one the node is told (05040000h: timed out).
    void exchangeWithoutAnswerEndsTheTransfer()
    {
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,2006h,0h,visible_string,hello world", address));
        QString exchange, error;
        QVERIFY(client.startWrite(address, 500, false, exchange, error));
        // Download answers: 60h for the initiate, 20h/30h for segments.
        QVERIFY(exchange.endsWith(":581h,8,[68]0 06 20 00 ?? ?? ?? ??\n"));
        ZorSdoClient::Step step = client.handleAnswer(answerWith("60 06 20 00 00 00 00 00"), true);
        QVERIFY(step.exchange.endsWith(":581h,8,[23]0 ?? ?? ?? ?? ?? ?? ??\n"));
        step = client.handleAnswer(QStringLiteral("CAN:500:0:601h,8,00 68 65 6c 6c 6f 20 77:"), false);
        QVERIFY(step.answers.isEmpty());
        QCOMPARE(step.exchange, QStringLiteral("CAN:0:0:601h,8,80 06 20 00 00 00 04 05:noresponse\n"));
        QVERIFY(!client.isBusy());

        // Before the first answer there is nothing to tell the node.
        QVERIFY(client.startRead(address, 500, exchange));
        step = client.handleAnswer(QStringLiteral("CAN:500:0:x:"), false);
        QVERIFY(step.exchange.isEmpty());
        QVERIFY(!client.isBusy());
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
        QCOMPARE(client.handleAnswer("CAN:1000:0:x:581h,8,43 00 10 00 01 00 00 00", true).answers.value(0),
                 QStringLiteral("1,1000h,0h,unsigned32,1"));
    }

    // A value with the separators of interview lines comes quoted and is
    // written whole; an unquoted value is everything after the type.
    void valuesAreTakenWhole_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("value");
        QTest::newRow("quoted") << "1,2006h,0h,visible_string,\"12:30, \"\"a\"\" #2\"" << "12:30, \"a\" #2";
        QTest::newRow("unquoted with comma") << "1,2006h,0h,visible_string,a, b" << "a, b";
        QTest::newRow("quote inside") << "1,2006h,0h,visible_string,5\" screen" << "5\" screen";
    }
    void valuesAreTakenWhole()
    {
        QFETCH(QString, request);
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress(request, address));
        QTEST(address.value, "value");
    }

    // "0X80" is the bit pattern of -128 for an INTEGER8, as "0x80" is.
    void upperCaseMarkersAreNumbers()
    {
        ZorSdoClient client;
        ZorSdoAddress address;
        QVERIFY(ZorSdoClient::parseAddress("1,2003h,0h,integer8,0X80", address));
        QString exchange, error;
        QVERIFY(client.startWrite(address, 1000, false, exchange, error));
        QVERIFY2(exchange.contains("601h,8,2f 03 20 00 80 00 00 00"), qPrintable(exchange));
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
