// ZorMessage: codes and names, text forms, labels, identity and payloads.
#include "zorbabelfish.h"
#include "zormessage.h"
#include "zortest.h"

#include <QtTest>

class TestMessage : public QObject
{
    Q_OBJECT
private slots:
    void codeNames_data()
    {
        QTest::addColumn<bool>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");

        QTest::newRow("first type") << true << 0 << "KM_UNDEFINED";
        QTest::newRow("frame type") << true << 24 << "KM_CAN_FRAME";
        QTest::newRow("last type") << true << 57 << "KM_MASTER_OUT";
        QTest::newRow("type past the end") << true << 58 << "";
        QTest::newRow("negative type") << true << -1 << "";
        QTest::newRow("first state") << false << 0 << "KS_INFO";
        QTest::newRow("last state") << false << 7 << "KS_CANCEL";
        QTest::newRow("state past the end") << false << 8 << "";
        QTest::newRow("negative state") << false << -1 << "";
    }

    void codeNames()
    {
        QFETCH(bool, type);
        QFETCH(int, code);
        QFETCH(QString, name);
        QCOMPARE(type ? ZorMessage::msgTypeName(code) : ZorMessage::msgStateName(code), name);
        if (!name.isEmpty()) {
            // The name reads back to its code.
            const ZorMessage m(type ? name + QLatin1String(":KS_ANSWER") : QLatin1String("KM_STOP:") + name);
            QCOMPARE(type ? m.msgType() : m.msgState(), code);
        }
    }

    void readTextForm0_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("state");
        QTest::addColumn<QVariant>("payload");
        QTest::addColumn<QString>("written");

        QTest::newRow("answer with text") << "KM_WHOAMI:KS_ANSWER:just a test" << 1 << 3
                                          << QVariant(QStringLiteral("just a test"))
                                          << "KM_WHOAMI:KS_ANSWER:just a test";
        QTest::newRow("no payload") << "KM_START:KS_REQUEST" << int(KM_START) << int(KS_REQUEST) << QVariant()
                                    << "KM_START:KS_REQUEST";
        QTest::newRow("colon, no payload") << "KM_START:KS_REQUEST:" << int(KM_START) << int(KS_REQUEST)
                                           << QVariant() << "KM_START:KS_REQUEST";
        const QString line = QStringLiteral(
            "CAN:1000:0:601h,8,40 00 10 00 00 00 00 00:581h,8,43 00 10 00 92 01 02 00");
        QTest::newRow("payload with colons") << "KM_INTERVIEW:KS_REQUEST:" + line << int(KM_INTERVIEW)
                                             << int(KS_REQUEST) << QVariant(line)
                                             << "KM_INTERVIEW:KS_REQUEST:" + line;
        QTest::newRow("payload not trimmed") << " KM_STOP : KS_REQUEST : x " << int(KM_STOP) << int(KS_REQUEST)
                                             << QVariant(QStringLiteral(" x ")) << "KM_STOP:KS_REQUEST: x ";
        QTest::newRow("names are case-sensitive") << "km_stop:ks_request" << int(KM_UNDEFINED) << int(KS_INFO)
                                                  << QVariant() << "KM_UNDEFINED:KS_INFO";
        QTest::newRow("unknown names") << "KM_NOPE:KS_NOPE:data" << 0 << 0 << QVariant(QStringLiteral("data"))
                                       << "KM_UNDEFINED:KS_INFO:data";
        QTest::newRow("type only") << "KM_STATUS" << int(KM_STATUS) << int(KS_INFO) << QVariant()
                                   << "KM_STATUS:KS_INFO";
        QTest::newRow("empty") << "" << 0 << 0 << QVariant() << "KM_UNDEFINED:KS_INFO";
    }

    void readTextForm0()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(int, state);
        QFETCH(QVariant, payload);
        QFETCH(QString, written);

        const ZorMessage m(text);
        QCOMPARE(m.msgType(), type);
        QCOMPARE(m.msgState(), state);
        QCOMPARE(m.data().isValid(), payload.isValid());
        if (payload.isValid()) {
            QCOMPARE(m.data().userType(), int(QMetaType::QString));
            QCOMPARE(m.data(), payload);
        }
        QVERIFY(!m.hasRecipient());
        QVERIFY(!m.hasOrigin());
        QCOMPARE(m.toString(), written);
        QCOMPARE(m.toString(0), written);
        QCOMPARE(ZorMessage(text, 0).toString(), written);
    }

    void canFramePayload()
    {
        const QString text = QStringLiteral("KM_CAN_FRAME:KS_REQUEST:Rext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999");
        const ZorMessage m(text);
        QCOMPARE(m.msgType(), int(KM_CAN_FRAME));
        QCOMPARE(m.data().userType(), int(QMetaType::QByteArray));
        QCOMPARE(m.data().toByteArray().toHex(' '),
                 QByteArray("86 13 02 00 08 f1 f2 f3 f4 f5 f6 f7 ff 0e 27 0f"));
        QString frame;
        QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(m.data().toByteArray(), frame));
        QCOMPARE(frame, QStringLiteral("Rext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999"));
        QCOMPARE(m.toString(), text);
        QCOMPARE(m.toString(3), QString::number(m.msgId()) + QLatin1String(":::") + text);

        // A bad frame text gives an empty byte array, written as no frame.
        const ZorMessage bad(QStringLiteral("KM_CAN_FRAME:KS_INFO:zz,8,00"));
        QCOMPARE(bad.data().userType(), int(QMetaType::QByteArray));
        QVERIFY(bad.data().toByteArray().isEmpty());
        QCOMPARE(bad.toString(), QStringLiteral("KM_CAN_FRAME:KS_INFO:"));

        // A frame record built in code writes as frame text.
        VSCAN_MSG v;
        v.Id = 0x1234abcd;
        v.Size = 8;
        for (int i = 0; i < 8; ++i)
            v.Data[i] = quint8(0x7f + i);
        v.Flags = VSCAN_FLAGS_EXTENDED | VSCAN_FLAGS_TIMESTAMP;
        v.Timestamp = 513;
        QByteArray record;
        ZorBabelFish::fromVscanToQbytearray(v, record);
        QCOMPARE(ZorMessage(KM_CAN_FRAME, KS_ANSWER, record).toString(),
                 QStringLiteral("KM_CAN_FRAME:KS_ANSWER:ext 1234abcdh,8,7f 80 81 82 83 84 85 86,513"));
    }

    void labelledTextForms_data()
    {
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("prefix");      // written in front of form 0
        QTest::addColumn<QString>("readRecipient"); // labels when the text is read back
        QTest::addColumn<QString>("readOrigin");

        QTest::newRow("1") << "MyTarget" << "MyOrigin" << 1 << "MyTarget:" << "MyTarget" << "";
        QTest::newRow("1 unset") << "" << "MyOrigin" << 1 << ":" << "" << "";
        QTest::newRow("2") << "MyTarget" << "MyOrigin" << 2 << "MyOrigin:MyTarget:" << "MyTarget" << "MyOrigin";
        QTest::newRow("2 unset") << "" << "" << 2 << "::" << "" << "";
        QTest::newRow("4 with origin") << "MyTarget" << "MyOrigin" << 4 << "MyOrigin:" << "" << "MyOrigin";
        QTest::newRow("4 recipient only") << "Test" << "" << 4 << "Test:" << "" << "Test";
        QTest::newRow("unknown format is 0") << "MyTarget" << "MyOrigin" << 9 << "" << "" << "";
    }

    void labelledTextForms()
    {
        QFETCH(QString, recipient);
        QFETCH(QString, origin);
        QFETCH(int, format);
        QFETCH(QString, prefix);
        QFETCH(QString, readRecipient);
        QFETCH(QString, readOrigin);

        ZorMessage m(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("Rate=5:1"));
        m.setRecipient(recipient);
        m.setOrigin(origin);
        const QString text = m.toString(format);
        QCOMPARE(text, prefix + QLatin1String("KM_SETPROPERTY:KS_REQUEST:Rate=5:1"));

        const ZorMessage read(text, format);
        QCOMPARE(read.msgType(), int(KM_SETPROPERTY));
        QCOMPARE(read.msgState(), int(KS_REQUEST));
        QCOMPARE(read.data().toString(), QStringLiteral("Rate=5:1"));
        QCOMPARE(read.recipient(), readRecipient);
        QCOMPARE(read.hasRecipient(), !readRecipient.isEmpty());
        QCOMPARE(read.origin(), readOrigin);
        QCOMPARE(read.hasOrigin(), !readOrigin.isEmpty());
    }

    void textForm3CarriesTheWholeMessage()
    {
        ZorMessage m(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("Baud"));
        m.setRecipient(QStringLiteral("MyTarget"));
        m.setOrigin(QStringLiteral("MyOrigin"));
        const QString text = m.toString(3);
        QCOMPARE(text, QString::number(m.msgId()) + QLatin1String(":MyOrigin:MyTarget:") + m.toString(0));

        const int before = ZorMessage().msgId();
        const ZorMessage read(text, 3);
        QVERIFY(read == m);
        QCOMPARE(read.msgId(), m.msgId());
        QCOMPARE(read.recipient(), m.recipient());
        QCOMPARE(read.origin(), m.origin());
        QCOMPARE(read.data(), m.data());
        // Reading still drew one number from the counter.
        QCOMPARE(ZorMessage().msgId(), before + 2);

        // Labels are trimmed, and an id that is no number reads as 0.
        const ZorMessage odd(QStringLiteral("x: o : :KM_STOP:KS_INFO"), 3);
        QCOMPARE(odd.msgId(), 0);
        QCOMPARE(odd.origin(), QStringLiteral("o"));
        QVERIFY(!odd.hasRecipient());
        QCOMPARE(odd.msgType(), int(KM_STOP));
    }

    void labelsAreOwnedByEachCopy()
    {
        ZorMessage msg(KM_WHOAMI, KS_ANSWER, QStringLiteral("just a test"));
        QVERIFY(!msg.hasRecipient());
        QCOMPARE(msg.recipient(), QString(""));
        msg.setRecipient(QString());
        QVERIFY(!msg.hasRecipient());

        ZorMessage msg2(msg);
        msg.setRecipient(QStringLiteral("r1"));
        QCOMPARE(msg2.recipient(), QString());
        msg2 = msg;
        QCOMPARE(msg2.recipient(), QStringLiteral("r1"));
        msg.clearRecipient();
        QVERIFY(!msg.hasRecipient());
        QCOMPARE(msg2.recipient(), QStringLiteral("r1"));
        msg2 = msg;
        QVERIFY(!msg2.hasRecipient());

        msg.setOrigin(QStringLiteral("o1"));
        msg2.setOrigin(QStringLiteral("o2"));
        QVERIFY(msg.origin() != msg2.origin());
        msg2 = msg;
        QCOMPARE(msg2.origin(), QStringLiteral("o1"));
        msg.setOrigin(QString());
        QVERIFY(!msg.hasOrigin());
        QVERIFY(msg2.hasOrigin());
        msg2 = msg;
        QVERIFY(!msg2.hasOrigin());

        msg = msg; // self-assignment changes nothing
        QCOMPARE(msg.data().toString(), QStringLiteral("just a test"));
    }

    void identityIsTheId()
    {
        ZorMessage request(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("Baud"));
        ZorMessage answer = request;
        answer.setMsgState(KS_ANSWER);
        answer.setData(QStringLiteral("Baud=500K"));
        answer.setOrigin(QStringLiteral("can1"));
        QVERIFY(answer == request);
        QVERIFY(!(answer != request));
        QVERIFY(answer.isAnswer());
        QVERIFY(request.isRequest());
        QVERIFY(!answer.isRequest());

        const ZorMessage twin(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("Baud"));
        QVERIFY(twin != request);
        QCOMPARE(twin.msgId(), request.msgId() + 1);

        const ZorMessage blank;
        QCOMPARE(blank.msgType(), int(KM_UNDEFINED));
        QCOMPARE(blank.msgState(), int(KS_INFO));
        QVERIFY(!blank.data().isValid());
        QCOMPARE(blank.toString(), QStringLiteral("KM_UNDEFINED:KS_INFO"));
    }

    void payloadKeepsItsType()
    {
        const QTime now = QTime::currentTime();
        ZorMessage msg(KM_WHOAMI, KS_REQUEST, now);
        QCOMPARE(msg.data().userType(), int(QMetaType::QTime));
        ZorMessage copy = msg;
        QCOMPARE(copy.data().userType(), int(QMetaType::QTime));
        QCOMPARE(copy.data().toTime(), now);
        // Only the text form turns it into text.
        QCOMPARE(msg.toString(), QLatin1String("KM_WHOAMI:KS_REQUEST:") + QVariant(now).toString());

        const ZorMessage number(KM_STATUS, KS_INFO, 1002);
        QCOMPARE(number.toString(), QStringLiteral("KM_STATUS:KS_INFO:1002"));
        QCOMPARE(number.data().userType(), int(QMetaType::Int));
    }

    void storedInVariant()
    {
        const ZorMessage msg(KM_STOP, KS_REQUEST);
        ZorMessage::registerMetaType();
        const QVariant v = QVariant::fromValue(msg);
        QCOMPARE(QMetaType::typeName(v.userType()), "ZorMessage");
        QVERIFY(v.value<ZorMessage>() == msg);
        QCOMPARE(v.value<ZorMessage>().msgType(), int(KM_STOP));
    }
};

ZOR_TEST(TestMessage)
#include "tst_message.moc"
