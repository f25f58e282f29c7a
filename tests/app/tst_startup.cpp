#include "rcclient.h"
#include "simgateway.h"
#include "zorapplservices.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QTcpSocket>
#include <QtTest>

// Starts copies of the built program the way a user would, each in a
// folder of its own with its own settings location, under the offscreen
// platform. The start-up probe reports what the program shows, closes
// message boxes and quits once the main window is up.
class TestStartup : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString appDir() const { return m_dir.filePath(QStringLiteral("app")); }
    QString configDir() const { return m_dir.filePath(QStringLiteral("config")); }
    QString logPath() const { return appDir() + QStringLiteral("/zordebuglog_main.txt"); }
    QString runtimeDir() const { return m_dir.filePath(QStringLiteral("runtime")); }

    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    Run run(const QStringList &args = QStringList())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QUORVANE_STARTUP_PROBE"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
        env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
        // A desktop session's runtime folder, and no logging rules of ours.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        p.setProcessEnvironment(env);
        p.start(appDir() + QStringLiteral("/Quorvane"), args);
        Run r;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    QSettings userSettings() const
    {
        return QSettings(configDir() + QStringLiteral("/Quorvane/Quorvane.conf"), QSettings::IniFormat);
    }

    static QString logText(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(appDir()));
        QVERIFY(QDir().mkpath(configDir()));
        QVERIFY(QDir().mkpath(runtimeDir()));
        QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ExeOwner);
        QVERIFY(QFile::copy(ZorTest::buildPath(QStringLiteral("Quorvane")),
                            appDir() + QStringLiteral("/Quorvane")));
    }

    void missingResourceFilesEndWithCode1()
    {
        const Run r = run();
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains(QStringLiteral("message: Missing 'Quorvane.rcc' application files.<br>"
                                               "Please contact technical support.\n")),
                 qPrintable(r.out));
        QVERIFY2(!r.out.contains(QLatin1String("window_title")), qPrintable(r.out));
        QVERIFY(!QFile::exists(configDir() + QStringLiteral("/Quorvane/Quorvane.conf")));
    }

    void startsWithTitleAndWritesSettings()
    {
        for (const char *name : {"Quorvane.rcc", "Quorvane.user.rcc"})
            QVERIFY(QFile::copy(ZorTest::buildPath(QLatin1String(name)), appDir() + QLatin1Char('/') + name));
        // The standard template, so that the start builds a project with modules.
        QVERIFY(QDir().mkpath(appDir() + QStringLiteral("/Templates")));
        QVERIFY(QFile::copy(ZorTest::buildPath(QStringLiteral("Templates/Standard.zortpl")),
                            appDir() + QStringLiteral("/Templates/Standard.zortpl")));

        Run r = run();
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("window_title: Standard.zortpl - Engineer - Quorvane %1\n")
                                    .arg(ZorApplServices::appVersion())),
                 qPrintable(r.out));
        QVERIFY(r.out.contains(QLatin1String("startup_to_window: ")));
        // "plastique" where Debian's extra styles are installed, else Fusion.
        const bool plastique = QStyleFactory::keys().contains(QStringLiteral("plastique"), Qt::CaseInsensitive);
        QVERIFY2(r.out.contains(plastique ? QStringLiteral("style: QPlastiqueStyle\n") : QStringLiteral("style: QFusionStyle\n")),
                 qPrintable(r.out));
        QCOMPARE(userSettings().value("GuiMode").toInt(), 0);
        QCOMPARE(userSettings().value("DebugMode").toInt(), 0);
        QVERIFY(!QFile::exists(logPath()));
        // A normal start (a new project with its modules) writes nothing to
        // standard error: the trace lines are for the debug log. (The
        // offscreen platform of the tests warns of its own limits.)
        QString err = r.err;
        err.remove(QStringLiteral("This plugin does not support propagateSizeHints()\n"));
        QVERIFY2(err.isEmpty(), qPrintable(r.err));

        r = run({QStringLiteral("/UIMODE=3"), QStringLiteral("/home/user/notes.txt")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(userSettings().value("GuiMode").toInt(), 3);
    }

    void debugModeLogsQtOutputAndIsResetOnNextStart()
    {
        QFile::remove(logPath());
        Run r = run({QStringLiteral("/debugmode=2")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(userSettings().value("DebugMode").toInt(), 2);
        const QString first = logText(logPath());
        const QRegularExpression block(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} log started\n(.*\n)?"
            "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} log stopped\n$"),
            QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(block.match(first).hasMatch(), qPrintable(first));

        // Without the switch debug mode is 0 again and nothing is logged.
        r = run();
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(userSettings().value("DebugMode").toInt(), 0);
        QCOMPARE(logText(logPath()), first);

        // A second debug start appends a second block.
        r = run({QStringLiteral("/DebugMode=1")});
        QCOMPARE(r.exitCode, 0);
        const QString both = logText(logPath());
        QVERIFY(both.startsWith(first));
        QVERIFY2(block.match(both.mid(first.size())).hasMatch(), qPrintable(both));
    }

    // The X server of the window dies under the running program: it stops
    // its modules in order (the CAN interface closes its adapter with "C")
    // and ends with code 1, rather than tearing the process's static data
    // down under running threads.
    void displayGoneStopsTheModulesAndEnds()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb is not installed");
        for (const char *name : {"Quorvane.rcc", "Quorvane.user.rcc"}) {
            const QString target = appDir() + QLatin1Char('/') + name;
            QVERIFY(QFile::exists(target) || QFile::copy(ZorTest::buildPath(QLatin1String(name)), target));
        }
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        const quint16 rcPort = RcClient::freePort();
        const QString project = m_dir.filePath(QStringLiteral("display.zorpro"));
        QFile file(project);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral(
                       "<QuorvaneProject><module type=\"project\" label=\"Project Home\">"
                       "<module type=\"canusb\" label=\"CAN1\" panelVisible=\"1\"><properties>"
                       "<Port>%1</Port><Baudrate>500K</Baudrate></properties></module>"
                       "<module type=\"remotecontrol\" label=\"Remote\"><properties>"
                       "<RemoteControlMode>1</RemoteControlMode>"
                       "<RemoteControlConnection>SERVER:%2</RemoteControlConnection>"
                       "</properties></module></module></QuorvaneProject>")
                       .arg(gw.address())
                       .arg(rcPort)
                       .toUtf8());
        file.close();

        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                           QStringLiteral("-screen"), QStringLiteral("0"),
                                           QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                           QStringLiteral("tcp")});
        QVERIFY(xvfb.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine(), 10000);
        const QString display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine()).trimmed();

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
        env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        program.setProcessEnvironment(env);
        program.start(appDir() + QStringLiteral("/Quorvane"), {project});
        QVERIFY(program.waitForStarted(10000));

        // The remote-control server listens once the project is open.
        const auto listening = [rcPort] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, rcPort);
            return probe.waitForConnected(500);
        };
        QTRY_VERIFY_WITH_TIMEOUT(listening(), 30000);
        RcClient client;
        QVERIFY2(client.connectTo(rcPort), qPrintable(client.errorString()));
        client.send("CAN1:KM_COMM_OPEN:KS_REQUEST\n\n");
        QVERIFY(!client.waitForFrame(QStringLiteral("^CAN1:KM_COMM_OPEN:KS_ANSWER"), 15000).isEmpty());
        const int cid = gw.waitForClient();
        QVERIFY(gw.waitForClientBytes(cid, "O\r"));
        gw.setCursor(gw.mark());

        xvfb.kill();
        QVERIFY(xvfb.waitForFinished(10000));
        QVERIFY(program.waitForFinished(30000));
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QVERIFY2(err.contains(QLatin1String("The X11 connection broke")), qPrintable(err));
        QVERIFY2(!err.contains(QLatin1String("malloc")) && !err.contains(QLatin1String("corrupt")),
                 qPrintable(err));
        // The interface went off the bus before the process ended.
        QVERIFY2(gw.waitForLine(QStringLiteral("^RX %1 .*C\\\\r").arg(cid)).hasMatch(),
                 qPrintable(SimGateway::escape(gw.clientBytes(cid)) + QLatin1Char('\n') + err));
    }
};

ZOR_TEST(TestStartup)
#include "tst_startup.moc"
