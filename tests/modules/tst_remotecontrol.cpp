// The remote-control module reached from outside the program: a Python client
// on loopback TCP talks to its server, which has a drive module labelled
// drive1 as slave. Framing, both text forms, several clients, the filter and
// the excluded types, the guarded requests, the secret, the frame limit, the
// connection texts and modes, and client mode against a second module with
// its connect time-out and retry.
#include "moduletesting.h"
#include "rcclient.h"
#include "zormoddrivexenax.h"
#include "zormodremotecontrol.h"
#include "zorrcnetworking.h"
#include "zortest.h"

using RC = ZorModRemoteControl;

namespace {

const QByteArray WhoAmI("drive1:KM_WHOAMI:KS_REQUEST\n\n");
const QString WhoAmIAnswer = QStringLiteral("drive1:KM_WHOAMI:KS_ANSWER:drive_xenax\ndrive1");

// Messages a module sends on one of its signals.
class SignalRecorder : public MasterRecorder
{
public:
    template<class Signal>
    void listen(ZorModule *module, Signal signal)
    {
        QObject::connect(module, signal, module, [this](const ZorMessage &m) { record(m); },
                         Qt::DirectConnection);
    }
};

} // namespace

class TestRemoteControl : public QObject
{
    Q_OBJECT

    TestDomModel *model = nullptr;
    ZorModRemoteControl *rc = nullptr;
    ZorModDriveXenax *drive = nullptr;
    ModulePtr rcOwner;
    ModulePtr driveOwner;
    MasterRecorder master;
    SignalRecorder down;       // what the server sends to its slaves
    SignalRecorder appControl; // what it sends to the main window
    SignalRecorder fromDrive;  // what drive1 sends up
    quint16 port = 0;

    void set(ZorModule *module, const QString &name, const QString &value)
    {
        module->setProperty(name, value, false);
    }
    // Switches networking on (as the panel does) and waits until the server
    // listens.
    bool startServer()
    {
        if (!rc->isRunning())
            rc->start();
        requestTo(rc, KM_SETPROPERTY, RC::ModeProperty + QStringLiteral("=1"));
        return QTest::qWaitFor([this] { return rc->networking()->isListening(); }, 10000);
    }
    QStringList remoteIn() const
    {
        QStringList texts;
        for (const QString &t : master.infoTexts())
            if (t.startsWith(QLatin1String("remoteIn:  ")))
                texts << t.mid(11);
        return texts;
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        model = new TestDomModel;
        model->addModule("remotecontrol", "RC1");
        model->addModule("drive_xenax", "drive1");
        rc = new ZorModRemoteControl;
        drive = new ZorModDriveXenax;
        rcOwner.reset(rc);
        driveOwner.reset(drive);
        QVERIFY(rc->setupZorModule(model->moduleIndex("RC1"), model));
        QVERIFY(drive->setupZorModule(model->moduleIndex("drive1"), model));
        QVERIFY(rc->addSlave(drive));
        for (MasterRecorder *r : {&master, static_cast<MasterRecorder *>(&down),
                                  static_cast<MasterRecorder *>(&appControl),
                                  static_cast<MasterRecorder *>(&fromDrive)})
            r->clear();
        master.attach(rc);
        down.listen(rc, &ZorModule::masterOut);
        appControl.listen(rc, &ZorModule::appControlOut);
        fromDrive.listen(drive, &ZorModule::slaveOut);
        port = RcClient::freePort();
        set(rc, RC::ConnectionProperty, QStringLiteral("SERVER:%1").arg(port));
        drive->start();
    }
    void cleanup()
    {
        rcOwner.reset();
        driveOwner.reset();
        delete model;
    }

    void plainRequestIsAnswered()
    {
        QVERIFY(startServer());
        QCOMPARE(master.lastInfoText(), QStringLiteral("Server started Port=%1").arg(port));
        RcClient client;
        QVERIFY2(client.connectTo(port), qPrintable(client.errorString()));
        client.send(WhoAmI);
        QCOMPARE(client.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        // The log shows the text as it was handed over, before trimming.
        QTRY_VERIFY(master.infoTexts().contains(QStringLiteral("remoteOut: ") + WhoAmIAnswer + '\n'));
        QVERIFY(remoteIn().contains(QString::fromLatin1(WhoAmI.trimmed())));
        QVERIFY(master.infoTexts().contains(QStringLiteral("Connection from 127.0.0.1")));
    }

    void crLfNeverEndsAMessage()
    {
        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        // CR LF, CR LF is no empty line: the message goes on until LF LF.
        client.send("drive1:KM_WHOAMI:KS_REQUEST\r\n\r\n");
        client.send("drive1:KM_STATUS:KS_REQUEST\n\n");
        QTRY_COMPARE(remoteIn(), QStringList({"drive1:KM_WHOAMI:KS_REQUEST\r\n\r\n"
                                              "drive1:KM_STATUS:KS_REQUEST"}));
        // So no request reached drive1.
        for (const ZorMessage &m : down.all())
            QVERIFY(!m.isRequest());
    }

    void everyClientHearsEveryMessage()
    {
        QVERIFY(startServer());
        RcClient a;
        RcClient b;
        QVERIFY(a.connectTo(port));
        QVERIFY(b.connectTo(port));
        QTRY_COMPARE(rc->networking()->connectedCount(), 2);
        a.send(WhoAmI);
        QCOMPARE(a.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        QCOMPARE(b.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);

        // From the first client-form message on, everybody hears that form,
        // and the answer carries the request's id back.
        b.send("zorclient:4711:tester:drive1:KM_WHOAMI:KS_REQUEST\n\n");
        const QString answer =
            QStringLiteral("zorclient:4711:tester:drive1:KM_WHOAMI:KS_ANSWER:drive_xenax\ndrive1");
        QCOMPARE(b.waitForFrame("^zorclient:4711:"), answer);
        QCOMPARE(a.waitForFrame("^zorclient:4711:"), answer);
        a.send(WhoAmI);
        QVERIFY(!a.waitForFrame("^zorclient:\\d+::drive1:KM_WHOAMI:KS_ANSWER").isEmpty());
    }

    void filterAndExcludedTypesKeepMessagesAway()
    {
        set(rc, RC::FilterProperty, QStringLiteral("*KM_STATUS*"));
        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        client.send("drive1:KM_STATUS:KS_REQUEST\n\ndrive1:KM_SNIFFER_SET:KS_REQUEST:0\n\n" + WhoAmI);
        QCOMPARE(client.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        // drive1 answered all three, in order; only the last went out.
        QVERIFY(!fromDrive.ofType(KM_STATUS).isEmpty());
        QVERIFY(!fromDrive.ofType(KM_SNIFFER_SET).isEmpty());
        const QString wire = QString::fromLatin1(client.received());
        QVERIFY2(!wire.contains(QLatin1String("KM_STATUS")), qPrintable(wire));
        QVERIFY(!wire.contains(QLatin1String("KM_SNIFFER")));
    }

    void guardedRequestsAreRefused_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("toMainWindow");
        QTest::newRow("script") << "drive1:KM_SCRIPT_CONTROL:KS_REQUEST:1" << false;
        QTest::newRow("download") << "drive1:KM_DRIVE_DOWNLOAD_START:KS_REQUEST:s,x.pymbin" << false;
        QTest::newRow("master out") << "drive1:KM_MASTER_OUT:KS_REQUEST:drive1:KM_STOP:KS_REQUEST" << false;
        QTest::newRow("app control") << "drive1:KM_APPLICATION_CONTROL:KS_REQUEST:noop" << true;
        QTest::newRow("dialog") << "drive1:KM_DIALOG:KS_REQUEST:i,hello" << true;
    }
    void guardedRequestsAreRefused()
    {
        QFETCH(QString, request);
        QFETCH(bool, toMainWindow);
        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        const ZorMessage asked(request, 1);
        client.send(request.toLatin1() + "\n\n");
        QString rejected = request;
        rejected.replace(rejected.indexOf(QLatin1String("KS_REQUEST")), 10, QLatin1String("KS_REJECT"));
        QCOMPARE(client.waitForFrame("KS_REJECT"), rejected);
        QVERIFY(down.ofType(asked.msgType()).isEmpty());
        QVERIFY(appControl.ofType(asked.msgType()).isEmpty());

        // Allowed, it goes where it is meant to go.
        set(rc, RC::AllowControlProperty, QStringLiteral("1"));
        client.send(request.toLatin1() + "\n\n");
        SignalRecorder &target = toMainWindow ? appControl : down;
        QTRY_COMPARE(target.ofType(asked.msgType()).size(), 1);
        QCOMPARE(target.ofType(asked.msgType()).first().data().toString(), asked.data().toString());
    }

    void aSecretMustComeFirst()
    {
        set(rc, RC::SecretProperty, QStringLiteral("s3cret"));
        QVERIFY(startServer());
        RcClient wrong;
        RcClient silent;
        RcClient right;
        QVERIFY(wrong.connectTo(port));
        QVERIFY(silent.connectTo(port));
        QVERIFY(right.connectTo(port));
        wrong.send(WhoAmI);
        QVERIFY(wrong.waitForClosed());
        QTRY_VERIFY(master.infoTexts().contains(
            QStringLiteral("Connection from 127.0.0.1 closed: wrong secret")));

        right.send("s3cret\n\n" + WhoAmI);
        QCOMPARE(right.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        // A client that has not given the secret hears nothing.
        QCOMPARE(silent.received(), QByteArray());
        QCOMPARE(wrong.received(), QByteArray());
        QCOMPARE(remoteIn(), QStringList({QString::fromLatin1(WhoAmI.trimmed())}));
    }

    void anOverlongMessageClosesItsConnection()
    {
        QVERIFY(startServer());
        RcClient flood;
        RcClient other;
        QVERIFY(flood.connectTo(port));
        QVERIFY(other.connectTo(port));
        flood.send(QByteArray((1 << 20) + 1, 'x'));
        QVERIFY(flood.waitForClosed());
        QTRY_VERIFY(master.infoTexts().contains(
            QStringLiteral("Connection from 127.0.0.1 closed: message longer than 1048576 bytes")));
        other.send(WhoAmI);
        QCOMPARE(other.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        QCOMPARE(master.lastStatus(), 1);
        QVERIFY(remoteIn().size() == 1);
    }

    void connectionTextsSelectServerMode_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::newRow("capitals") << "SERVER:%1";
        QTest::newRow("lower case") << "server:%1";
        QTest::newRow("blanks around") << " Server :%1";
        QTest::newRow("no host") << ":%1";
    }
    void connectionTextsSelectServerMode()
    {
        QFETCH(QString, connection);
        set(rc, RC::ConnectionProperty, connection.arg(port));
        QVERIFY(startServer());
        QCOMPARE(master.lastInfoText(), QStringLiteral("Server started Port=%1").arg(port));
        RcClient client;
        QVERIFY(client.connectTo(port));
        client.send(WhoAmI);
        QCOMPARE(client.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
    }

    void modeTwoNeitherStartsNorStops()
    {
        rc->start();
        set(rc, RC::ModeProperty, QStringLiteral("2"));
        // Idle answers the close request in a cycle that saw the mode 2.
        const ZorMessage close = requestTo(rc, KM_COMM_CLOSE);
        QTRY_COMPARE(master.answerState(close), int(KS_ANSWER));
        QVERIFY(!rc->networking()->isListening());
        QCOMPARE(rc->status(), 0);

        QVERIFY(startServer());
        set(rc, RC::ModeProperty, QStringLiteral("2"));
        RcClient client;
        QVERIFY(client.connectTo(port));
        client.send(WhoAmI);
        QCOMPARE(client.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        QCOMPARE(master.lastStatus(), 1);

        requestTo(rc, KM_SETPROPERTY, RC::ModeProperty + QStringLiteral("=0"));
        QTRY_COMPARE(master.lastStatus(), 0);
        QTRY_VERIFY(!rc->networking()->isListening());
        QVERIFY(client.waitForClosed());
    }

    void clientModeStandsInForTheRemoteTree()
    {
        QVERIFY(startServer());
        model->addModule("remotecontrol", "RC2");
        auto *remote = new ZorModRemoteControl;
        ModulePtr remoteOwner(remote);
        QVERIFY(remote->setupZorModule(model->moduleIndex("RC2"), model));
        MasterRecorder panel;
        panel.attach(remote);
        ZorRcNetworking::Limits fast;
        fast.statusPeriodMs = 20;
        remote->networking()->setLimits(fast);
        const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(port);
        set(remote, RC::ConnectionProperty, endpoint);
        set(remote, RC::ModeProperty, QStringLiteral("1"));
        remote->start();
        QTRY_VERIFY(panel.infoTexts().contains(QStringLiteral("Connected to %1").arg(endpoint)));
        QCOMPARE(panel.lastStatus(), 1);

        // Its own connection settings are answered here ...
        const ZorMessage own = requestTo(remote, KM_GETPROPERTY, RC::ConnectionProperty);
        QTRY_COMPARE(panel.answerState(own), int(KS_ANSWER));
        // ... everything else by the remote tree, with the request's id.
        ZorMessage whoAmI(KM_WHOAMI, KS_REQUEST);
        whoAmI.setRecipient(QStringLiteral("drive1"));
        remote->slaveIn(whoAmI);
        ZorMessage target(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("TargetPosition"));
        target.setRecipient(QStringLiteral("drive1"));
        remote->slaveIn(target);
        QTRY_COMPARE(panel.answerState(target), int(KS_ANSWER));
        QCOMPARE(panel.answerState(whoAmI), int(KS_ANSWER));
        QStringList answers;
        for (const ZorMessage &m : panel.all())
            if (m.msgState() == KS_ANSWER)
                answers << m.data().toString();
        QCOMPARE(answers, QStringList({RC::ConnectionProperty + QLatin1Char('=') + endpoint,
                                       QStringLiteral("drive_xenax\ndrive1"),
                                       QStringLiteral("TargetPosition=0")}));

        // Status ticks with no socket error raise none.
        QTest::qWait(300);
        for (const QString &text : panel.infoTexts())
            QVERIFY2(!text.startsWith(QLatin1String("error:")), qPrintable(text));
        for (const QString &text : master.infoTexts())
            QVERIFY2(!text.startsWith(QLatin1String("error:")), qPrintable(text));
    }

    void aClientWaitsForItsConnectTimeoutAndRetries()
    {
        ZorRcNetworking::Limits fast;
        fast.connectTimeoutMs = 400;
        fast.statusPeriodMs = 50;
        rc->networking()->setLimits(fast);
        rc->setRetryDelayMs(300);
        const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(port);   // nobody listens
        set(rc, RC::ConnectionProperty, endpoint);
        set(rc, RC::ModeProperty, QStringLiteral("1"));
        QElapsedTimer clock;
        clock.start();
        rc->start();
        const QString timeout = QStringLiteral("error: connection attempt timeout");
        QTRY_VERIFY(master.infoTexts().contains(timeout));
        // The refusal itself is no error: only the time-out reports it.
        QVERIFY(clock.elapsed() >= 400);
        for (const QString &text : master.infoTexts().filter(QStringLiteral("error:")))
            QCOMPARE(text, timeout);
        QCOMPARE(master.lastStatus(), 1000);

        // A new attempt after the retry delay, as long as the mode is on.
        const int firstAttempt = master.infoTexts().indexOf(timeout);
        const QString connecting = QStringLiteral("Connecting to %1").arg(endpoint);
        QTRY_VERIFY(master.infoTexts().mid(firstAttempt).contains(connecting));
        const QStringList again = master.infoTexts().mid(firstAttempt);
        QVERIFY(again.indexOf(QStringLiteral("Initializing"))
                < again.indexOf(QStringLiteral("Client connection Host=127.0.0.1 Port=%1").arg(port)));
        QVERIFY(again.indexOf(QStringLiteral("Initializing")) > 0);

        requestTo(rc, KM_COMM_CLOSE);
        QTRY_COMPARE(master.lastStatus(), 0);
        QCOMPARE(rc->property(RC::ModeProperty), QStringLiteral("0"));
    }
};

ZOR_TEST(TestRemoteControl)
#include "tst_remotecontrol.moc"
