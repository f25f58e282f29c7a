// The remote-control module reached from outside the program: a Python client
// on loopback TCP talks to its server, which has a drive module labelled
// drive1 as slave. Framing, both text forms, several clients, the filter and
// the excluded types, the guarded requests, the secret, the frame limit, the
// connection texts and modes, and client mode against a second module with
// its connect time-out and retry.
#include "moduletesting.h"
#include "rcclient.h"
#include "zormodautomation.h"
#include "zormoddatalog.h"
#include "zormoddrivexenax.h"
#include "zormodremotecontrol.h"
#include "zormodremotecontrolstates.h"
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

    // Every request that runs code, writes files or downloads, sent through
    // a socket to real modules: refused (KS_REJECT, with the reason in the
    // log) and nothing changed, neither the property nor the disk; with the
    // permission on, the same request does what it asks. "%1" stands for a
    // scratch folder. Reads and plain settings pass without the permission.
    void guardedRequestsAreRefused_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("module");     // whose property it sets
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("file");       // what it writes, in the folder
        QTest::addColumn<bool>("guarded");
        QTest::addColumn<bool>("toMainWindow");
        QTest::newRow("script property")
            << "Auto1:KM_SETPROPERTY:KS_REQUEST:Script=open(r'%1/planted','w').write('x')"
            << "Auto1" << "Script" << "" << true << false;
        QTest::newRow("script file") << "Auto1:KM_SETPROPERTY:KS_REQUEST:ScriptFileName=%1/other.py"
                                     << "Auto1" << "ScriptFileName" << "" << true << false;
        QTest::newRow("external script") << "Auto1:KM_SETPROPERTY:KS_REQUEST:ExternalScript0=%1/x.py"
                                         << "Auto1" << "ExternalScript0" << "" << true << false;
        QTest::newRow("description file") << "drive1:KM_SETPROPERTY:KS_REQUEST:ConfigFilePath=%1/x.xdd"
                                          << "drive1" << "ConfigFilePath" << "" << true << false;
        QTest::newRow("firmware file") << "drive1:KM_SETPROPERTY:KS_REQUEST:FirmwareFilePath=%1/fw.bin"
                                       << "drive1" << "FirmwareFilePath" << "" << true << false;
        QTest::newRow("a later path key") << "drive1:KM_SETPROPERTY:KS_REQUEST:ExportFolder=%1"
                                          << "drive1" << "ExportFolder" << "" << true << false;
        QTest::newRow("key with a blank") << "Auto1:KM_SETPROPERTY:KS_REQUEST:Script x=print(1)"
                                          << "" << "" << "" << true << false;
        QTest::newRow("start recording") << "Scope:KM_DAQ_CONTROL:KS_REQUEST:1,%1/rec.csv"
                                         << "" << "" << "rec.csv" << true << false;
        QTest::newRow("load recording") << "Scope:KM_DAQ_CONTROL:KS_REQUEST:4,%1/rec.csv"
                                        << "" << "" << "" << true << false;
        QTest::newRow("run code") << "Auto1:KM_SCRIPT_CONTROL:KS_REQUEST:1,append:open(r'%1/ran','w').write('x')"
                                  << "" << "" << "ran" << true << false;
        QTest::newRow("drive script") << "drive1:KM_SCRIPT_CONTROL:KS_REQUEST:1" << "" << "" << "" << true << false;
        QTest::newRow("download") << "drive1:KM_DRIVE_DOWNLOAD_START:KS_REQUEST:s,x.pymbin"
                                  << "" << "" << "" << true << false;
        QTest::newRow("node download") << "drive1:KM_INTERVIEW:KS_REQUEST:SDODownload:1000:0:2,1f50h,1h,bf,889,3,%1/fw.bin"
                                       << "" << "" << "" << true << false;
        QTest::newRow("master out") << "drive1:KM_MASTER_OUT:KS_REQUEST:drive1:KM_STOP:KS_REQUEST"
                                    << "" << "" << "" << true << false;
        QTest::newRow("app control") << "drive1:KM_APPLICATION_CONTROL:KS_REQUEST:noop"
                                     << "" << "" << "" << true << true;
        QTest::newRow("dialog") << "drive1:KM_DIALOG:KS_REQUEST:i,hello" << "" << "" << "" << true << true;
        QTest::newRow("read") << "Auto1:KM_GETPROPERTY:KS_REQUEST:Script" << "" << "" << "" << false << false;
        QTest::newRow("plain setting") << "drive1:KM_SETPROPERTY:KS_REQUEST:TargetVelocity=5"
                                       << "drive1" << "TargetVelocity" << "" << false << false;
        QTest::newRow("plain recording control") << "Scope:KM_DAQ_CONTROL:KS_REQUEST:2"
                                                 << "" << "" << "" << false << false;
    }
    void guardedRequestsAreRefused()
    {
        QFETCH(QString, request);
        QFETCH(QString, module);
        QFETCH(QString, property);
        QFETCH(QString, file);
        QFETCH(bool, guarded);
        QFETCH(bool, toMainWindow);
        QTemporaryDir dir;
        request = request.arg(dir.path());
        model->addModule("automation", "Auto1", QString(), "<properties><Script>pass</Script></properties>");
        model->addModule("datalog", "Scope");
        ModulePtr automation(new ZorModAutomation);
        ModulePtr dataLog(new ZorModDataLog);
        QVERIFY(automation->setupZorModule(model->moduleIndex("Auto1"), model));
        QVERIFY(dataLog->setupZorModule(model->moduleIndex("Scope"), model));
        QVERIFY(rc->addSlave(automation.get()));
        QVERIFY(rc->addSlave(dataLog.get()));
        automation->start();
        dataLog->start();
        const QMap<QString, ZorModule *> modules = {
            {"Auto1", automation.get()}, {"Scope", dataLog.get()}, {"drive1", drive}};
        const QString before = module.isEmpty() ? QString() : modules.value(module)->property(property);
        const auto unchanged = [&] {
            return module.isEmpty() || modules.value(module)->property(property) == before;
        };
        const auto nothingWritten = [&] { return file.isEmpty() || !QFileInfo::exists(dir.filePath(file)); };
        const ZorMessage asked(request, 1);
        SignalRecorder &target = toMainWindow ? appControl : down;

        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        client.send(request.toLatin1() + "\n\n");
        QString rejected = request;
        rejected.replace(rejected.indexOf(QLatin1String("KS_REQUEST")), 10, QLatin1String("KS_REJECT"));
        if (guarded) {
            QCOMPARE(client.waitForFrame("KS_REJECT"), rejected);
            QVERIFY(target.ofType(asked.msgType()).isEmpty());
            QVERIFY(unchanged());
            QVERIFY(nothingWritten());
            QVERIFY2(!master.infoTexts().filter(QStringLiteral("Refused %1").arg(ZorMessage::msgTypeName(asked.msgType()))).isEmpty(),
                     qPrintable(master.infoTexts().join('\n')));
            // The same request, allowed.
            set(rc, RC::AllowControlProperty, QStringLiteral("1"));
            client.send(request.toLatin1() + "\n\n");
        }
        QTRY_COMPARE(target.ofType(asked.msgType()).size(), 1);
        QCOMPARE(target.ofType(asked.msgType()).first().data().toString(), asked.data().toString());
        if (!module.isEmpty())
            QTRY_COMPARE(modules.value(module)->property(property), asked.data().toString().section('=', 1));
        if (!file.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath(file)), 20000);
        QCOMPARE(client.frames().count(rejected), guarded ? 1 : 0);
    }

    // The help page lists every guarded request, as the code has them.
    void theHelpListsTheGuardedRequests()
    {
        QFile help(QStringLiteral(ZOR_SOURCE_DIR "/resources/help/index.html"));
        QVERIFY(help.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(help.readAll());
        const QString section = page.section(QStringLiteral("<h2 id=\"remotecontrol\">"), 1).section("<h2", 0, 0);
        QString normalised = section;
        normalised.replace(QRegularExpression("\\s+"), " ");
        normalised.replace(QLatin1String("&lt;"), QLatin1String("<")).replace(QLatin1String("&gt;"), QLatin1String(">"));
        normalised.remove(QRegularExpression("</?code>"));
        for (const RC::GuardedRequest &g : RC::guardedRequests()) {
            const QString row = QStringLiteral("<tr><td>%1</td><td>%2</td></tr>")
                                    .arg(ZorMessage::msgTypeName(g.msgType), QLatin1String(g.which));
            QVERIFY2(normalised.contains(row), qPrintable(row));
        }
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

    // Idle connections cannot keep the others out: with 32 clients that
    // send nothing a 33rd is refused, and once the idle time-out (set short
    // here) has passed the idle ones are closed, which the log says, and a
    // new client is served.
    void idleClientsAreClosedAfterTheTimeOut()
    {
        set(rc, RC::IdleTimeoutProperty, QStringLiteral("2"));
        QVERIFY(startServer());
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 32; ++i) {
            idle.emplace_back(new QTcpSocket);
            idle.back()->connectToHost(QHostAddress::LocalHost, port);
        }
        QTRY_COMPARE(rc->networking()->connectedCount(), 32);
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(master.infoTexts().contains(QStringLiteral("Connection from 127.0.0.1 refused: too many clients")));
        QTRY_COMPARE(late.state(), QAbstractSocket::UnconnectedState);

        const QString closed = QStringLiteral("Connection from 127.0.0.1 closed: nothing received for 2 s");
        QTRY_COMPARE_WITH_TIMEOUT(master.infoTexts().count(closed), 32, 10000);
        for (auto &socket : idle)
            QTRY_COMPARE(socket->state(), QAbstractSocket::UnconnectedState);
        RcClient fresh;
        QVERIFY(fresh.connectTo(port));
        fresh.send(WhoAmI);
        QCOMPARE(fresh.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
    }

    // A 1 MB message reaches the log cut to a length a view shows at once,
    // with a mark, while the client gets the whole answer; past a few
    // hundred a second, messages in and out are counted, not logged.
    void theLogStaysReadable()
    {
        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        const QByteArray value((1 << 20) - 100, 'v');
        client.send("drive1:KM_SETPROPERTY:KS_REQUEST:Big=" + value + "\n\n");
        const QString answer = client.waitForFrame("^drive1:KM_SETPROPERTY:KS_ANSWER", 20000);
        QCOMPARE(answer.size(), int(strlen("drive1:KM_SETPROPERTY:KS_ANSWER:Big=")) + value.size());
        QTRY_VERIFY(!master.infoTexts().filter(QRegularExpression("^remoteOut: .*not logged\\]$")).isEmpty());
        for (const QString &text : master.infoTexts()) {
            QVERIFY(text.size() < RemoteControl::Networking::LoggedTextChars + 100);
            if (text.startsWith(QLatin1String("remoteIn:  drive1:KM_SETPROPERTY")))
                QVERIFY2(text.endsWith(QStringLiteral("[... %1 more characters not logged]")
                                           .arg(value.size() + 37 - RemoteControl::Networking::LoggedTextChars)),
                         qPrintable(text.right(60)));
        }

        QByteArray burst;
        for (int i = 0; i < 400; ++i)
            burst += WhoAmI;
        client.send(burst);
        QTRY_COMPARE_WITH_TIMEOUT(client.frames().filter(QRegularExpression("^drive1:KM_WHOAMI:KS_ANSWER")).size(),
                                  400, 20000);
        QTRY_VERIFY(!master.infoTexts().filter(QRegularExpression(
                         "^\\d+ further messages in and out not logged \\(more than 200 a second\\)$")).isEmpty());
        const QStringList traffic = master.infoTexts().filter(QRegularExpression("^remote(In: |Out:) "));
        QVERIFY2(traffic.size() < 800, qPrintable(QString::number(traffic.size())));
    }

    // The slaves' once-a-second status goes out when it changed only.
    void repeatedStatusReportsGoOutOnce()
    {
        QVERIFY(startServer());
        RcClient client;
        QVERIFY(client.connectTo(port));
        QTRY_COMPARE(rc->networking()->connectedCount(), 1);
        for (int value : {5, 5, 5, 7, 7, 5}) {
            ZorMessage report(KM_STATUS, KS_INFO, value);
            report.setOrigin(QStringLiteral("drive9"));
            rc->masterIn(report);
        }
        client.send(WhoAmI);
        QCOMPARE(client.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        QCOMPARE(client.frames().filter("drive9:"),
                 QStringList({"drive9:KM_STATUS:KS_INFO:5", "drive9:KM_STATUS:KS_INFO:7",
                              "drive9:KM_STATUS:KS_INFO:5"}));

        // A client that comes later hears the unchanged status too.
        RcClient later;
        QVERIFY(later.connectTo(port));
        QTRY_COMPARE(rc->networking()->connectedCount(), 2);
        ZorMessage report(KM_STATUS, KS_INFO, 5);
        report.setOrigin(QStringLiteral("drive9"));
        rc->masterIn(report);
        later.send(WhoAmI);
        QCOMPARE(later.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"), WhoAmIAnswer);
        QCOMPARE(later.frames().filter("drive9:"), QStringList({"drive9:KM_STATUS:KS_INFO:5"}));
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
