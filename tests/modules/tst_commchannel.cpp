// The communication-channel module against a device on loopback TCP: the
// bytes on the wire in ASCII and binary mode, received data cut at CR, the
// simulated endpoints, the manual command and the connected status, the
// traffic log, and the failures (refused, lost, a write the device does not
// take, no endpoint).
#include "moduletesting.h"
#include "rcclient.h"
#include "zormodcommchannel.h"
#include "zortest.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// The device at the other end: accepts one connection, collects what it
// receives and writes what the test tells it to.
class Device
{
public:
    Device() { server.listen(QHostAddress::LocalHost, 0); }
    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }
    bool waitForClient()
    {
        return QTest::qWaitFor([this] {
            if (!socket)
                socket = server.nextPendingConnection();
            return socket != nullptr;
        }, 10000);
    }
    QByteArray received()
    {
        if (socket)
            bytes += socket->readAll();
        return bytes;
    }
    bool waitForBytes(const QByteArray &expected)
    {
        return QTest::qWaitFor([&] { return received() == expected; }, 10000);
    }
    void write(const QByteArray &data)
    {
        socket->write(data);
        socket->flush();
    }

    QTcpServer server;
    QTcpSocket *socket = nullptr;
    QByteArray bytes;
};

} // namespace

class TestCommChannel : public QObject
{
    Q_OBJECT

    TestDomModel *model = nullptr;
    ZorModCommChannel *channel = nullptr;
    ModulePtr owner;
    MasterRecorder master;

    void start(const QString &endpoint, const QString &mode = QStringLiteral("0"))
    {
        channel->setProperty(QLatin1String(ZorModCommChannel::EndpointProperty), endpoint, false);
        channel->setProperty(QLatin1String(ZorModCommChannel::ModeProperty), mode, false);
        channel->start();
        requestTo(channel, KM_COMM_OPEN);
    }
    bool waitForConnected()
    {
        return QTest::qWaitFor([this] { return master.lastStatus() == 1; }, 10000);
    }
    // Data the module reported as received (KS_INFO), in order.
    QList<QVariant> receivedData() const
    {
        QList<QVariant> data;
        for (const ZorMessage &m : master.ofType(KM_COMM_DATA))
            if (m.msgState() == KS_INFO)
                data << m.data();
        return data;
    }
    ZorMessage send(const QVariant &data) { return requestTo(channel, KM_COMM_DATA, data); }
    void setByPanel(const QString &assignment) { requestTo(channel, KM_SETPROPERTY, assignment); }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        model = new TestDomModel;
        model->addModule("commchannel", "Comm1");
        channel = new ZorModCommChannel;
        owner.reset(channel);
        master.clear();
        QVERIFY(channel->setupZorModule(model->moduleIndex("Comm1"), model));
        master.attach(channel);
    }
    void cleanup()
    {
        owner.reset();
        delete model;
    }

    void asciiTextsOnTheWire()
    {
        Device device;
        start(device.endpoint());
        QVERIFY(waitForConnected());
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Connected"));
        QVERIFY(device.waitForClient());

        const ZorMessage hello = send(QStringLiteral("hello"));
        QVERIFY(device.waitForBytes(QByteArray::fromHex("68656c6c6f0d")));
        QTRY_COMPARE(master.answerState(hello), int(KS_ANSWER));
        // A text that ends a line already goes out as it is.
        send(QStringLiteral("x\n"));
        send(QStringLiteral("y\r"));
        QVERIFY(device.waitForBytes("hello\rx\ny\r"));

        // Received data is cut after each CR; the rest waits for its CR.
        device.write("ab\rcd");
        QTRY_COMPARE(receivedData(), QList<QVariant>({QStringLiteral("ab\r")}));
        device.write("\r");
        QTRY_COMPARE(receivedData(), QList<QVariant>({QStringLiteral("ab\r"), QStringLiteral("cd\r")}));
        QTRY_VERIFY(master.log().contains(QStringLiteral("RX: cd\r")));
        QVERIFY(master.log().contains(QStringLiteral("TX: hello\r")));
    }

    void binaryBytesOnTheWire()
    {
        Device device;
        start(device.endpoint(), QStringLiteral("1"));
        QVERIFY(waitForConnected());
        QVERIFY(device.waitForClient());

        send(QStringLiteral("0a0b"));
        send(QByteArray("\x01\xff", 2));
        QVERIFY(device.waitForBytes(QByteArray::fromHex("0a0b01ff")));
        device.write(QByteArray("\x00\x10\x0d", 3));
        QTRY_COMPARE(receivedData(), QList<QVariant>({QByteArray("\x00\x10\x0d", 3)}));
        QTRY_VERIFY(master.log().contains(QStringLiteral("RX: binary 00100d")));
        const QString log = master.log();
        QVERIFY2(log.contains(QStringLiteral("TX: binary 0a0b\n")), qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("TX: binary 01ff\n")));
    }

    void simulatedEndpoints_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::newRow("sim") << "sim";
        QTest::newRow("capitals and more") << "SIM-device";
        QTest::newRow("blanks around") << "  Sim ";
    }
    void simulatedEndpoints()
    {
        QFETCH(QString, endpoint);
        start(endpoint);
        QVERIFY(waitForConnected());
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("SIM Connected"));
        const ZorMessage ping = send(QStringLiteral("ping"));
        QTRY_COMPARE(master.answerState(ping), int(KS_ANSWER));
        QTRY_VERIFY(master.log().contains(QStringLiteral("TX: ping\r")));

        requestTo(channel, KM_COMM_CLOSE);
        QTRY_COMPARE(master.lastStatus(), 0);
        // The text follows the status.
        QTRY_COMPARE(master.infoTexts().mid(master.infoTexts().size() - 2),
                     QStringList({QStringLiteral("SIM Closing Connection %1").arg(endpoint), "Idle"}));
        const QStringList texts = master.infoTexts();
        for (const QString &text : texts.mid(1, texts.size() - 2))
            QVERIFY2(text.startsWith(QLatin1String("SIM ")), qPrintable(text));
    }

    void manualCommandAndConnectedStatus()
    {
        Device device;
        start(device.endpoint());
        QVERIFY(waitForConnected());
        QVERIFY(device.waitForClient());

        setByPanel(QStringLiteral("ManualCommand=VER"));
        QVERIFY(device.waitForBytes("VER\r"));
        QTRY_COMPARE(channel->property(QStringLiteral("ManualCommand")), QString());
        device.write("1.0\r");
        QTRY_COMPARE(channel->property(QStringLiteral("ManualCommandAnswer")), QStringLiteral("1.0\r"));
        // Only the first data after the command is its answer.
        device.write("later\r");
        QTRY_COMPARE(receivedData().size(), 2);
        QCOMPARE(channel->property(QStringLiteral("ManualCommandAnswer")), QStringLiteral("1.0\r"));

        setByPanel(QStringLiteral("ConnectedStatusSet=2001,Pump fault,ignored"));
        QTRY_COMPARE(master.lastStatus(), 2001);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Pump fault"));
        setByPanel(QStringLiteral("ConnectedStatusSet=0,whatever"));
        QTRY_COMPARE(master.lastStatus(), 1);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Connected"));
    }

    void logLinesComeTogether()
    {
        start(QStringLiteral("sim"));
        QVERIFY(waitForConnected());
        for (const char *text : {"a", "b", "c"})
            send(QString::fromLatin1(text));
        QTRY_VERIFY(master.log().contains(QStringLiteral("TX: c\r")));
        // Handled in one cycle: at most the first line went out alone.
        const QStringList logs = master.dataOf(KM_LOGTEXT);
        QVERIFY2(logs.last().contains(QStringLiteral("TX: b\r")), qPrintable(logs.join('|')));
        const QRegularExpression stamped(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} TX: c\r$"));
        const QStringList lines = logs.last().split('\n', Qt::SkipEmptyParts);
        QVERIFY2(stamped.match(lines.last()).hasMatch(), qPrintable(lines.last()));
    }

    void connectionFailures()
    {
        // Nobody listens: an error until the master asks again.
        const QString closed = QStringLiteral("127.0.0.1:%1").arg(RcClient::freePort());
        start(closed);
        QTRY_COMPARE_WITH_TIMEOUT(master.lastStatus(), 2000, 10000);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Error connect %1").arg(closed));
        master.clear();
        requestTo(channel, KM_START);
        QTRY_COMPARE_WITH_TIMEOUT(master.lastStatus(), 2000, 10000);
        QVERIFY(master.infoTexts().contains(QStringLiteral("Connecting %1...").arg(closed)));

        // Data for a channel in Error fails at once, with the reason.
        const ZorMessage lost = send(QStringLiteral("hello"));
        QTRY_COMPARE(master.answerState(lost), int(KS_FAIL));
        QCOMPARE(master.dataOf(KM_COMM_DATA).last(), QStringLiteral("not connected: Error connect %1").arg(closed));

        // A device that closes the connection is noticed.
        Device device;
        channel->setProperty(QLatin1String(ZorModCommChannel::EndpointProperty), device.endpoint(), false);
        requestTo(channel, KM_START);
        QVERIFY(waitForConnected());
        QVERIFY(device.waitForClient());
        device.socket->close();
        QTRY_COMPARE(master.lastStatus(), 2000);
        QTRY_COMPARE(master.lastInfoText(), QStringLiteral("Connection lost %1").arg(device.endpoint()));

        // No endpoint: back to Idle, where data fails as well.
        channel->setProperty(QLatin1String(ZorModCommChannel::EndpointProperty), QStringLiteral(" "), false);
        requestTo(channel, KM_START);
        QTRY_COMPARE(master.lastStatus(), 0);
        QTRY_COMPARE(master.infoTexts().mid(master.infoTexts().size() - 2),
                     QStringList({"No Comm. Channel", "Idle"}));
        const ZorMessage idle = send(QStringLiteral("hello"));
        QTRY_COMPARE(master.answerState(idle), int(KS_FAIL));
        QCOMPARE(master.dataOf(KM_COMM_DATA).last(), QStringLiteral("not connected: Idle"));
    }

    // A device that sends without end and never a CR cannot fill the memory:
    // past the receive buffer's bound the connection is closed, with the
    // reason in the status and the log; lines with their CR go on as ever.
    void aLineWithoutEndClosesTheConnection()
    {
        Device device;
        start(device.endpoint());
        QVERIFY(waitForConnected());
        QVERIFY(device.waitForClient());
        device.write("ok\r");
        QTRY_COMPARE(receivedData(), QList<QVariant>({QStringLiteral("ok\r")}));
        const QByteArray chunk(64 << 10, 'x');
        for (int i = 0; i < 64 && device.socket->state() == QAbstractSocket::ConnectedState; ++i) {
            device.write(chunk);
            QTest::qWait(1);
        }
        const QString reason = QStringLiteral("Connection closed %1: more than 1048576 bytes without CR")
                                   .arg(device.endpoint());
        QTRY_COMPARE_WITH_TIMEOUT(master.lastStatus(), 2000, 10000);
        QTRY_COMPARE(master.lastInfoText(), reason);
        QTRY_VERIFY(master.log().contains(reason));
        QTRY_COMPARE(device.socket->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(receivedData().size(), 1);
    }

    void aWriteTheDeviceDoesNotTakeFails()
    {
        Device device;
        start(device.endpoint(), QStringLiteral("1"));
        QVERIFY(waitForConnected());
        QVERIFY(device.waitForClient());
        // The device stops reading; more than the sockets' buffers hold
        // cannot leave in time.
        device.socket->setReadBufferSize(1);
        const ZorMessage flood = send(QByteArray(8 << 20, '\x55'));
        QTRY_COMPARE_WITH_TIMEOUT(master.answerState(flood), int(KS_FAIL), 20000);
    }
};

ZOR_TEST(TestCommChannel)
#include "tst_commchannel.moc"
