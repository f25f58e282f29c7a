// The sockets of the remote control on their own, with a Python client on
// loopback: the framing of what is sent and received, the bind address, the
// limits on clients and queued output, and status ticks that report only
// errors that happened.
#include "rcclient.h"
#include "zorrcnetworking.h"
#include "zortest.h"

#include <QtTest>

class TestRcNetworking : public QObject
{
    Q_OBJECT

    ZorRcNetworking *net = nullptr;
    quint16 port = 0;

    bool startServer(const QString &bindAddress = QString())
    {
        net->setEndpoint(QString(), port);
        net->setBindAddress(bindAddress);
        net->start();
        return net->isListening();
    }
    QStringList statusTexts() { return net->takeStatusTexts(); }

private slots:
    void init()
    {
        net = new ZorRcNetworking;
        port = RcClient::freePort();
        ZorRcNetworking::Limits fast;
        fast.statusPeriodMs = 20;
        net->setLimits(fast);
    }
    void cleanup() { delete net; }

    void frameOnTheWire_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("plain") << "a:KM_STATUS:KS_INFO:1" << QByteArray("a:KM_STATUS:KS_INFO:1\n\n");
        QTest::newRow("trimmed") << " \ta\n" << QByteArray("a\n\n");
        QTest::newRow("line break kept") << "a\nb" << QByteArray("a\nb\n\n");
        QTest::newRow("empty lines closed up") << "a\n\nb\n\n\nc" << QByteArray("a\nb\nc\n\n");
        QTest::newRow("latin-1") << QString::fromUtf8("\xc3\xa4") << QByteArray("\xe4\n\n");
    }
    void frameOnTheWire()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, wire);
        QCOMPARE(ZorRcNetworking::frame(text), wire);
    }

    void anEmptyLineEndsAMessage()
    {
        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        for (const QByteArray &chunk : {QByteArray("one\n"), QByteArray("\n"), QByteArray("two\nlines\n\n"),
                                        QByteArray("x\r\n\r\n"), QByteArray("\n"), QByteArray("\xe4\n\n")})
            client.send(chunk);
        QStringList incoming;
        QVERIFY(client.waitUntil([&] {
            incoming += net->takeIncoming();
            return incoming.size() >= 4;
        }, 10000));
        QCOMPARE(incoming, QStringList({"one", "two\nlines", "x\r\n\r", QString::fromUtf8("\xc3\xa4")}));
    }

    void listensOnLoopbackUnlessOpened()
    {
        QVERIFY(startServer(QStringLiteral("127.0.0.1")));
        {
            RcClient other;
            QVERIFY(!other.connectTo(port, QStringLiteral("127.0.0.2")));
            RcClient local;
            QVERIFY(local.connectTo(port));
        }
        net->stop();
        QVERIFY(startServer(QStringLiteral("any")));
        RcClient other;
        QVERIFY2(other.connectTo(port, QStringLiteral("127.0.0.2")), qPrintable(other.errorString()));
        QTRY_COMPARE(net->connectedCount(), 1);

        net->stop();
        QVERIFY(!startServer(QStringLiteral("nonsense")));
        QStringList texts;
        QTRY_VERIFY((texts += statusTexts()).contains(QStringLiteral("error: invalid bind address 'nonsense'")));
    }

    void clientsAndQueuedOutputAreLimited()
    {
        ZorRcNetworking::Limits limits;
        limits.statusPeriodMs = 20;
        limits.maxClients = 2;
        limits.maxQueuedBytes = 256 << 10;
        net->setLimits(limits);
        QVERIFY(startServer());
        RcClient a;
        RcClient b;
        RcClient c;
        QVERIFY(a.connectTo(port));
        QVERIFY(b.connectTo(port));
        QTRY_COMPARE(net->connectedCount(), 2);
        QVERIFY(c.connectTo(port));
        QVERIFY(c.waitForClosed());
        QStringList texts;
        QTRY_VERIFY((texts += statusTexts()).contains(
            QStringLiteral("Connection from 127.0.0.1 refused: too many clients")));
        a.close();
        QTRY_COMPARE(net->connectedCount(), 1);

        // A client that stops reading is closed once its output backs up.
        b.pause();
        const QString block(512 << 10, QLatin1Char('z'));
        for (int i = 0; i < 96 && !b.isClosed(); ++i) {
            if (net->appendOutgoing(block))
                net->send();
            QTest::qWait(5);
        }
        QVERIFY(b.waitForClosed());
        QTRY_VERIFY((texts += statusTexts()).contains(
            QStringLiteral("Connection from 127.0.0.1 closed: it does not take what is sent")));
    }

    // When the module falls behind, the connections are read no further:
    // what waits for it stays within its caps (messages and characters),
    // and nothing is lost, reordered or closed.
    void aClientFasterThanTheModuleIsHeldBack_data()
    {
        QTest::addColumn<int>("maxMessages");
        QTest::addColumn<int>("maxChars");
        QTest::newRow("by number") << 50 << (8 << 20);
        QTest::newRow("by characters") << 4096 << 2000;
    }
    void aClientFasterThanTheModuleIsHeldBack()
    {
        QFETCH(int, maxMessages);
        QFETCH(int, maxChars);
        ZorRcNetworking::Limits limits;
        limits.statusPeriodMs = 20;
        limits.maxIncoming = maxMessages;
        limits.maxIncomingBytes = maxChars;
        net->setLimits(limits);
        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        QStringList expected;
        QByteArray burst;
        for (int i = 0; i < 3000; ++i) {
            expected << QStringLiteral("message %1 ").arg(i) + QString(i % 90, QLatin1Char('.'));
            burst += expected.last().toLatin1() + "\n\n";
        }
        client.send(burst);
        QStringList taken;
        int mostAtOnce = 0;
        int mostChars = 0;
        QVERIFY(client.waitUntil([&] {
            const QStringList now = net->takeIncoming();
            mostAtOnce = qMax(mostAtOnce, int(now.size()));
            mostChars = qMax(mostChars, int(now.join(QString()).size()));
            taken += now;
            return taken.size() >= expected.size();
        }, 20000));
        QCOMPARE(taken, expected);
        QVERIFY2(mostAtOnce <= maxMessages, qPrintable(QString::number(mostAtOnce)));
        QVERIFY2(mostChars < maxChars + 120, qPrintable(QString::number(mostChars)));
        QCOMPARE(net->connectedCount(), 1);
    }

    void statusTicksReportOnlyRealErrors()
    {
        QVERIFY(startServer());
        {
            RcClient client;
            QVERIFY(client.connectTo(port));
            client.send("x\n\n");
            QStringList incoming;
            QTRY_COMPARE(incoming += net->takeIncoming(), QStringList({"x"}));
        }
        QTRY_COMPARE(net->connectedCount(), 0);
        // Many ticks with clients come and gone: no error was raised.
        QTest::qWait(300);
        for (const QString &text : statusTexts())
            QVERIFY2(!text.startsWith(QLatin1String("error:")), qPrintable(text));

        // A port taken by another server is one.
        ZorRcNetworking second;
        second.setLimits(ZorRcNetworking::Limits{1 << 20, 32, 16 << 20, 10000, 20});
        second.setEndpoint(QString(), port);
        second.start();
        QStringList texts;
        QTRY_VERIFY(!(texts += second.takeStatusTexts()).filter(QStringLiteral("error:")).isEmpty());
    }
};

ZOR_TEST(TestRcNetworking)
#include "tst_rcnetworking.moc"
