// The runtime generator: target checks, the generated file (stub,
// configuration, archive), running it, and what a failure leaves behind.
#include "zorgenerateruntimedialog.h"

#include "quorvane.h"
#include "quorvaneproject.h"
#include "rcclient.h"
#include "updatetesting.h"
#include "zorapplservices.h"
#include "zorquestionbox.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QtTest>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>

using namespace UpdateTesting;

namespace {

const QByteArray kBom("\xEF\xBB\xBF");
const QByteArray k7zSignature("7z\xBC\xAF\x27\x1C", 6);

// Message boxes answered with Ok instead of being shown.
struct Boxes
{
    Boxes()
    {
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            shown << q.title + " / " + q.text;
            return QMessageBox::Ok;
        });
    }
    ~Boxes() { ZorQuestionBox::setHook(nullptr); }
    QStringList shown;
};

struct Generator
{
    Generator(ZorSavableProject *project) : dialog(nullptr, project)
    {
        target = dialog.findChild<QLineEdit *>("lineEditTargetPath");
        resources = dialog.findChild<QListWidget *>("listWidgetResources");
        generate = dialog.findChild<QPushButton *>("pushButtonGenerate");
        test = dialog.findChild<QPushButton *>("pushButtonStartRuntime");
        cancel = dialog.findChild<QPushButton *>("pushButtonCancel");
        status = dialog.findChild<QLabel *>("labelStatus");
        progress = dialog.findChild<QProgressBar *>("progressBar");
    }
    bool complete() const { return target && resources && generate && test && cancel && status && progress; }
    void select(const QString &resource)
    {
        const auto items = resources->findItems(resource, Qt::MatchExactly);
        if (!items.isEmpty())
            resources->setCurrentItem(items.first());
    }
    bool run(const QString &path)
    {
        target->setText(path);
        dialog.on_pushButtonGenerate_clicked();
        return generate->isHidden();
    }

    ZorGenerateRuntimeDialog dialog;
    QLineEdit *target = nullptr;
    QListWidget *resources = nullptr;
    QPushButton *generate = nullptr;
    QPushButton *test = nullptr;
    QPushButton *cancel = nullptr;
    QLabel *status = nullptr;
    QProgressBar *progress = nullptr;
};

bool copyFile(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).path());
    QFile::remove(to);
    return QFile::copy(from, to);
}

// The entry paths of an archive (or of a self-extracting file).
QStringList archiveEntries(const QString &archive)
{
    QProcess p;
    p.start(ZorApplServices::archiveToolPath(), {"l", "-slt", archive});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {"<listing failed>"};
    QStringList entries;
    bool inEntries = false;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        if (line.startsWith("----------"))
            inEntries = true;
        else if (inEntries && line.startsWith("Path = "))
            entries << QString::fromUtf8(line.mid(7).trimmed());
    }
    entries.sort();
    return entries;
}

QStringList runtimeWorkFolders()
{
    return QDir(QDir::temp().filePath(ZorApplServices::tempFolderName()))
        .entryList({QStringLiteral("quorvane_runtime_temp_*")}, QDir::Dirs);
}

} // namespace

namespace RuntimeGeneratorTesting {

struct RuntimeRun
{
    int exitCode = -1;
    QString output;
    QString errors;
};

// Runs a runtime file from another folder, with no terminal on its input,
// as a program started by the main window runs.
RuntimeRun runRuntime(const QString &file, const QStringList &arguments = QStringList())
{
    QProcess p;
    p.setWorkingDirectory(QDir::tempPath());
    p.start(file, arguments);
    p.closeWriteChannel();
    RuntimeRun run;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = p.exitCode();
    run.output = QString::fromLocal8Bit(p.readAllStandardOutput());
    run.errors = QString::fromLocal8Bit(p.readAllStandardError());
    return run;
}

} // namespace RuntimeGeneratorTesting

using namespace RuntimeGeneratorTesting;

class TestRuntimeGenerator : public QObject
{
    Q_OBJECT

    ZorTest::TempHome m_home;
    QScopedPointer<ZorTest::TempSettings> m_settings;
    QTemporaryDir m_work;
    QScopedPointer<QuorvaneProject> m_project;

    QString path(const QString &relative) const { return m_work.filePath(relative); }

    // An application folder: the program, its resource files, both runtime
    // resource files, and the Templates and Projects folders that a runtime
    // leaves out.
    bool makeApplicationFolder(const QString &folder, const QString &program, const QString &programSource)
    {
        const QString build = ZorTest::buildPath(QString());
        bool ok = true;
        if (programSource.isEmpty()) {
            // Notes its arguments beside itself and ends with a status of its own.
            ok = writeFile(folder + '/' + program,
                           "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/args.txt\"\nexit 7\n")
                 && QFile::setPermissions(folder + '/' + program, QFile::ReadOwner | QFile::WriteOwner
                                                                      | QFile::ExeOwner);
        } else {
            ok = copyFile(programSource, folder + '/' + program);
        }
        for (const char *name : {"Quorvane.rcc", "Quorvane.user.rcc", "runtime.desktop.rcc",
                                 "runtime.operator.rcc"})
            ok = ok && copyFile(build + '/' + name, folder + '/' + name);
        return ok && writeFile(folder + "/Templates/Standard.zortpl", "standard")
               && writeFile(folder + "/Projects/old.zorpro", "<QuorvaneProject/>");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_work.isValid());
        m_settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
        ZorApplServices::resetAppGlobals();
        QVERIFY(ZorApplServices::initAppGlobals());

        QVERIFY(writeFile(path("src/Line.zorpro"),
                          readFile(ZorTest::sourcePath("resources/demo/Demo.zorpro"))));
        QVERIFY(writeFile(path("src/data.csv"), "1,2,3\n"));
        QVERIFY(ZorApplServices::zipFiles(path("Line.zorzip"), path("src") + "/*", 30000, false));
        m_project.reset(new QuorvaneProject);
        QString error;
        QVERIFY2(m_project->load(path("Line.zorzip"), error), qPrintable(error));
        QVERIFY(m_project->isCompressed());

        QVERIFY(makeApplicationFolder(path("small"), "prog", QString()));
        ZorGenerateRuntimeDialog::setApplicationFiles(path("small"), "prog");
    }

    void cleanupTestCase()
    {
        m_project.reset();
        ZorGenerateRuntimeDialog::setApplicationFiles(QString(), QString());
    }

    void badTargetsAreRefused_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("box");
        const QString empty = "Generate Runtime / You must enter a target file path for the runtime executable.";
        const QString illegal = "Generate Runtime / The target file path contains illegal characters. "
                                "Please enter a valid file path.";
        const QString relative = "Generate Runtime Error / Please provide a full path (like "
                                 "\"C:\\myruntime.exe\") or click \"...\" to browse.";
        QTest::newRow("empty") << "   " << empty;
        QTest::newRow("question mark") << "%1/out?.exe" << illegal;
        QTest::newRow("angle bracket") << "%1/a<b" << illegal;
        QTest::newRow("file name only") << "runtime.exe" << relative;
        QTest::newRow("relative folder") << "out/runtime" << relative;
        QTest::newRow("drive path") << "C:\\myruntime.exe" << relative;
        QTest::newRow("folder below a file")
            << "%1/plain.txt/runtime.exe"
            << "Generate Runtime Error / Invalid location for the target .exe file. Please verify the "
               "path is correct and try again.";
        QTest::newRow("target is a folder")
            << "%1/folder.exe"
            << "Generate Runtime Error / Could not create the target output (.exe) file.\nPlease verify "
               "that you have the required permissions and that the executable is not already running, "
               "or try a different location.";
    }

    void badTargetsAreRefused()
    {
        QFETCH(QString, target);
        QFETCH(QString, box);
        QVERIFY(writeFile(path("plain.txt"), "x"));
        QVERIFY(QDir().mkpath(path("folder.exe")));
        Generator g(m_project.data());
        QVERIFY(g.complete());
        Boxes boxes;
        QVERIFY(!g.run(target.contains("%1") ? target.arg(m_work.path()) : target));
        QCOMPARE(boxes.shown, QStringList({box}));
        QVERIFY(g.progress->isHidden());
        QCOMPARE(g.status->text(), QStringLiteral("Choose target file and configuration, then press \"Generate\""));
        QVERIFY(g.generate->isEnabled() && g.cancel->isEnabled());
        QCOMPARE(runtimeWorkFolders(), QStringList());
    }

    void generatesTheRuntimeFile_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("folder");
        QTest::newRow(".exe appended") << "small" << "small.exe" << "small";
        QTest::newRow(".EXE kept") << "Upper.EXE" << "Upper.EXE" << "Upper";
        QTest::newRow("base name ends at the first dot") << "line.v2" << "line.v2.exe" << "line";
    }

    void generatesTheRuntimeFile()
    {
        QFETCH(QString, typed);
        QFETCH(QString, fileName);
        QFETCH(QString, folder);
        const QString outFolder = path("out dir");
        const QString target = outFolder + '/' + fileName;
        Generator g(m_project.data());
        g.select("runtime.desktop.rcc");
        Boxes boxes;
        QVERIFY2(g.run(outFolder + '/' + typed), qPrintable(g.status->text()));
        QCOMPARE(boxes.shown, QStringList());
        QCOMPARE(g.status->text(), QStringLiteral("Runtime Generator - Success"));
        QCOMPARE(g.progress->value(), 5);
        QVERIFY(!g.test->isHidden() && g.test->isEnabled());
        QCOMPARE(g.cancel->text(), QStringLiteral("Close"));
        QCOMPARE(g.target->text(), target);
        QCOMPARE(QSettings().value("LastGeneratedExe").toString(), target);
        QCOMPARE(QSettings().value("LastGeneratedResource").toString(), QStringLiteral("runtime.desktop.rcc"));
        QCOMPARE(runtimeWorkFolders(), QStringList());

        // stub | BOM configuration | 7z archive
        const QByteArray stub = readFile(ZorApplServices::archiveToolDir() + "/quorvane_runtime.sfx");
        const QByteArray file = readFile(target);
        QVERIFY(!stub.isEmpty());
        QVERIFY(file.startsWith(stub));
        QVERIFY(QFileInfo(target).isExecutable());
        QCOMPARE(file.mid(stub.size(), 3), kBom);
        const int archiveAt = file.indexOf(k7zSignature, stub.size());
        QVERIFY(archiveAt > stub.size());
        const QString config = QString::fromUtf8(file.mid(stub.size() + 3, archiveAt - stub.size() - 3));
        QVERIFY2(config.contains(QStringLiteral("RunProgram=\"%1/prog\"").arg(folder)), qPrintable(config));
        QVERIFY(config.contains("Title=\"Quorvane Runtime\""));

        QCOMPARE(archiveEntries(target),
                 QStringList({folder, folder + "/Quorvane.rcc", folder + "/Quorvane.user.rcc",
                              folder + "/Templates", folder + "/Templates/runtime.zortpl", folder + "/prog"}));

        // "Test Runtime .exe" starts the runtime file itself, which unpacks
        // beside itself and starts the program with the packed project.
        QSignalSpy out(&g.dialog, &ZorGenerateRuntimeDialog::msgOut);
        g.test->click();
        QCOMPARE(out.size(), 1);
        const QString command = out.at(0).at(0).value<ZorMessage>().data().toString();
        QCOMPARE(command, "startprocess,\"" + target + "\",-y");
        const QStringList commandLine = Quorvane::startProcessCommandLine(command.mid(13));
        QCOMPARE(commandLine, QStringList({target, "-y"}));
        const RuntimeRun run = runRuntime(commandLine.first(), commandLine.mid(1));
        QCOMPARE(run.exitCode, 7);
        const QString unpacked = outFolder + '/' + folder;
        QCOMPARE(readFile(unpacked + "/args.txt").trimmed(), (unpacked + "/Templates/runtime.zortpl").toUtf8());
        // A test of the next generated runtime replaces what the last test
        // unpacked, without a question nobody sees, instead of unpacking
        // into one fresh folder after the other.
        QVERIFY(writeFile(unpacked + "/.quorvane_runtime", "an earlier runtime"));
        QCOMPARE(runRuntime(commandLine.first(), commandLine.mid(1)).exitCode, 7);
        QVERIFY(!QFileInfo::exists(unpacked + " (1)"));
        QVERIFY(QDir(unpacked).removeRecursively());
        QFile::remove(target);
    }

    // The runtime file unpacks once: started again it starts the program
    // from the files of its last run. A folder it did not unpack is never
    // replaced without a yes (there is no terminal here to ask on): the
    // runtime unpacks into a fresh folder beside it, which later starts use.
    // Arguments other than "-y" go on to the program.
    void runtimeUnpacksOnceAndReplacesNothing()
    {
        const QString outFolder = path("once");
        const QString target = outFolder + "/Line.exe";
        {
            Generator g(m_project.data());
            Boxes boxes;
            QVERIFY2(g.run(target), qPrintable(g.status->text()));
        }
        const QString project = "/Templates/runtime.zortpl";
        RuntimeRun run = runRuntime(target);
        QCOMPARE(run.exitCode, 7);
        QVERIFY2(run.output.contains("unpacking into \"" + outFolder + "/Line\""), qPrintable(run.output));
        QVERIFY(QFileInfo(outFolder + "/Line/prog").isExecutable());
        QCOMPARE(filesBelow(outFolder + "/Line"),
                 QStringList({".quorvane_runtime", "Quorvane.rcc", "Quorvane.user.rcc", "Templates/runtime.zortpl",
                              "args.txt", "prog"}));

        // Started again: nothing is unpacked, a file changed since stays.
        QVERIFY(writeFile(outFolder + "/Line/Quorvane.rcc", "changed by the user"));
        run = runRuntime(target);
        QCOMPARE(run.exitCode, 7);
        QVERIFY2(!run.output.contains("unpacking"), qPrintable(run.output));
        QCOMPARE(readFile(outFolder + "/Line/Quorvane.rcc"), QByteArray("changed by the user"));

        // A folder of that name that another runtime (or the user) made.
        QVERIFY(QFile::remove(outFolder + "/Line/.quorvane_runtime"));
        run = runRuntime(target, {"one", "two words"});
        QCOMPARE(run.exitCode, 7);
        QVERIFY2(run.errors.contains("\"" + outFolder + "/Line\" exists already; unpacking into \"" + outFolder
                                     + "/Line (1)\""),
                 qPrintable(run.errors));
        QCOMPARE(readFile(outFolder + "/Line/Quorvane.rcc"), QByteArray("changed by the user"));
        QCOMPARE(readFile(outFolder + "/Line (1)/args.txt").trimmed(),
                 (outFolder + "/Line (1)" + project + " one two words").toUtf8());
        run = runRuntime(target);
        QVERIFY2(!run.output.contains("unpacking"), qPrintable(run.output));
        QCOMPARE(QDir(outFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList({"Line", "Line (1)"}));

        // "-y" replaces the files of the folder without asking.
        QVERIFY(QDir(outFolder + "/Line (1)").removeRecursively());
        run = runRuntime(target, {"-y"});
        QCOMPARE(run.exitCode, 7);
        QCOMPARE(readFile(outFolder + "/Line/Quorvane.rcc"), readFile(path("small/Quorvane.rcc")));
        QCOMPARE(QDir(outFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList({"Line"}));
    }

    // A runtime file that is damaged, cut short or no runtime at all says
    // so, ends with status 2 and leaves nothing beside it.
    void damagedRuntimeSaysWhy_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("message");
        QTest::newRow("the bare stub") << "stub" << "cannot be used: it holds no runtime configuration";
        QTest::newRow("cut short") << "cut" << "cannot be used: its packed files are cut short (";
        QTest::newRow("packed data changed") << "flip" << "is damaged: ";
        QTest::newRow("no program named") << "noprogram" << "cannot be used: its runtime configuration names no "
                                                              "program to start";
    }

    void damagedRuntimeSaysWhy()
    {
        QFETCH(QString, damage);
        QFETCH(QString, message);
        const QString built = path("damaged/built/Line.exe");
        if (!QFileInfo::exists(built)) {
            Generator g(m_project.data());
            Boxes boxes;
            QVERIFY2(g.run(built), qPrintable(g.status->text()));
        }
        const QByteArray stub = readFile(ZorApplServices::archiveToolDir() + "/quorvane_runtime.sfx");
        QByteArray file = readFile(built);
        const int archiveAt = file.indexOf(k7zSignature, stub.size());
        QVERIFY(archiveAt > stub.size());
        if (damage == "stub") {
            file = stub;
        } else if (damage == "cut") {
            file.truncate(archiveAt + (file.size() - archiveAt) / 2);
        } else if (damage == "flip") {
            // The packed streams lie between the 32-byte start header and the
            // archive's own header at the end.
            for (int i = archiveAt + 40; i < archiveAt + 240; ++i)
                file[i] = char(file.at(i) ^ 0x55);
        } else {
            const int at = file.indexOf("RunProgram=", stub.size());
            QVERIFY(at > 0);
            file.replace(at, 11, "RunNothing=");
        }
        const QString folder = path("damaged/" + damage);
        QVERIFY(writeFile(folder + "/Line.exe", file));
        QVERIFY(QFile::setPermissions(folder + "/Line.exe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const RuntimeRun run = runRuntime(folder + "/Line.exe");
        QCOMPARE(run.exitCode, 2);
        // Without its configuration the runtime knows only its file name.
        const QString title = damage == "stub" ? QStringLiteral("Line.exe") : QStringLiteral("Quorvane Runtime");
        QVERIFY2(run.errors.contains(QStringLiteral("%1: the runtime file \"%2/Line.exe\" ").arg(title, folder)
                                     + message),
                 qPrintable(run.errors));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"Line.exe"}));
    }

    // A generation that fails late replaces nothing and leaves no work
    // folder: here the stub is missing beside the packer.
    void failedGenerationKeepsAnEarlierTarget()
    {
        const QString target = path("keep/old.exe");
        QVERIFY(writeFile(target, "earlier runtime"));
        QVERIFY(writeFile(path("tool/7za"), "#!/bin/sh\nexec " + ZorApplServices::archiveToolPath().toUtf8()
                                                 + " \"$@\"\n"));
        QVERIFY(QFile::setPermissions(path("tool/7za"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        ZorApplServices::setArchiveToolPath(path("tool/7za"));
        Generator g(m_project.data());
        Boxes boxes;
        const bool generated = g.run(target);
        ZorApplServices::setArchiveToolPath(QString());
        QVERIFY(!generated);
        QCOMPARE(g.status->text(), QStringLiteral("Error - Could not generate runtime executable file."));
        QCOMPARE(g.progress->value(), 0);
        QCOMPARE(readFile(target), QByteArray("earlier runtime"));
        QCOMPARE(QDir(path("keep")).entryList(QDir::Files), QStringList({"old.exe"}));
        QCOMPARE(runtimeWorkFolders(), QStringList());
        QVERIFY(!g.generate->isHidden() && g.generate->isEnabled() && g.cancel->isEnabled());
    }

    // The whole program packed: run in an empty folder, the runtime file
    // unpacks itself there and starts the program with the packed project,
    // whose remote-control server then takes the app-control "exit". The
    // program's debug log, which it writes in its folder, shows a whole run;
    // the runtime ends with the program's status. The packed program
    // carries no debug information.
    void generatedRuntimeStartsTheProgram()
    {
        const quint16 port = RcClient::freePort();
        QVERIFY(port != 0);
        const QString projectXml = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvaneProject><module type=\"project\">"
            "<module type=\"remotecontrol\" label=\"Remote\"><properties>"
            "<RemoteControlMode>1</RemoteControlMode><RemoteControlConnection>SERVER:%1</RemoteControlConnection>"
            "<RemoteControlAllowControl>1</RemoteControlAllowControl></properties></module>"
            "</module></QuorvaneProject>\n").arg(port);
        QVERIFY(writeFile(path("remote/Remote.zorpro"), projectXml.toUtf8()));
        QVERIFY(ZorApplServices::zipFiles(path("Remote.zorzip"), path("remote") + "/*", 30000, false));
        // Loaded here too, the project's server may take the port: it goes
        // with the project, before the runtime starts.
        QScopedPointer<QuorvaneProject> project(new QuorvaneProject);
        QString error;
        QVERIFY2(project->load(path("Remote.zorzip"), error), qPrintable(error));

        const QString app = path("app");
        QVERIFY(makeApplicationFolder(app, "Quorvane", ZorTest::buildPath("Quorvane")));
        ZorGenerateRuntimeDialog::setApplicationFiles(app, "Quorvane");
        const QString built = path("out dir/Line3.exe");
        {
            Generator g(project.data());
            g.select("runtime.desktop.rcc");
            Boxes boxes;
            const bool generated = g.run(built);
            ZorGenerateRuntimeDialog::setApplicationFiles(path("small"), "prog");
            QVERIFY2(generated, qPrintable(g.status->text() + boxes.shown.join('\n')));
        }
        project.reset();
        QTRY_VERIFY_WITH_TIMEOUT(QTcpServer().listen(QHostAddress::LocalHost, port), 20000);
        const QStringList entries = archiveEntries(built);
        QVERIFY(entries.contains("Line3/Quorvane"));
        QVERIFY(entries.contains("Line3/Templates/runtime.zortpl"));
        QVERIFY(!entries.contains("Line3/Projects"));
        QVERIFY(!entries.contains("Line3/Templates/Standard.zortpl"));
        QVERIFY(!entries.contains("Line3/runtime.operator.rcc"));

        const QString run = path("run");
        const QString target = run + "/Line3.exe";
        QVERIFY(QDir().mkpath(run));
        QVERIFY(QFile::copy(built, target));
        QProcess runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        runtime.setProcessEnvironment(env);
        runtime.setWorkingDirectory(QDir::tempPath());
        runtime.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        runtime.start(target, {"/debugmode=1"});
        QVERIFY(runtime.waitForStarted(10000));
        runtime.closeWriteChannel();

        // The server listens once the program has opened the project.
        std::unique_ptr<RcClient> client;
        // Should the test fail half-way, the program started by the runtime
        // is asked to end all the same: killing the runtime would leave it.
        struct EndsTheProgram
        {
            QProcess &runtime;
            std::unique_ptr<RcClient> &client;
            ~EndsTheProgram()
            {
                if (runtime.state() != QProcess::Running)
                    return;
                if (client)
                    client->send("Remote:KM_APPLICATION_CONTROL:KS_REQUEST:exit\n\n");
                if (!QTest::qWaitFor([this] { return runtime.state() == QProcess::NotRunning; }, 20000))
                    runtime.kill();
            }
        } ending{runtime, client};
        QElapsedTimer clock;
        clock.start();
        bool connected = false;
        while (!connected && runtime.state() == QProcess::Running && clock.elapsed() < 120000) {
            client.reset(new RcClient);
            connected = client->connectTo(port, QStringLiteral("127.0.0.1"), 5000);
            if (!connected)
                QTest::qWait(200);
        }
        QVERIFY2(connected, qPrintable(client ? client->errorString() : QStringLiteral("the runtime ended")));
        client->send("Remote:KM_APPLICATION_CONTROL:KS_REQUEST:exit\n\n");
        // The event loop runs meanwhile: the client's line must go out.
        QTRY_COMPARE_WITH_TIMEOUT(runtime.state(), QProcess::NotRunning, 60000);
        QCOMPARE(runtime.exitStatus(), QProcess::NormalExit);
        QCOMPARE(runtime.exitCode(), 0);

        const QString program = run + "/Line3/Quorvane";
        QVERIFY(QFileInfo(program).isExecutable());
        QVERIFY2(!readFile(program).contains(".debug_info"), "the packed program carries debug information");
        QCOMPARE(readFile(run + "/Line3/Quorvane.user.rcc"), readFile(app + "/runtime.desktop.rcc"));
        const QByteArray log = readFile(run + "/Line3/zordebuglog_main.txt");
        QVERIFY2(log.contains("log started") && log.contains("log stopped"), log.right(2000).constData());
    }

    void resourceFilesAndSelection()
    {
        const QString app = path("resources");
        for (const char *name : {"runtime.b.rcc", "runtime.A.rcc", "runtime.c.rcc", "other.rcc"})
            QVERIFY(writeFile(app + '/' + name, "rcc"));
        ZorGenerateRuntimeDialog::setApplicationFiles(app, "prog");
        QStringList rows;
        int selected = -1;
        {
            ZorTest::TempSettings::set("LastGeneratedResource", "RUNTIME.B.RCC");
            Generator g(m_project.data());
            for (int i = 0; i < g.resources->count(); ++i)
                rows << g.resources->item(i)->text();
            selected = g.resources->currentRow();
            ZorTest::TempSettings::set("LastGeneratedResource", QString());
        }
        QVERIFY(QDir().mkpath(path("bare")));
        ZorGenerateRuntimeDialog::setApplicationFiles(path("bare"), "prog");
        Boxes boxes;
        int result = -1;
        {
            Generator g(m_project.data());
            result = g.dialog.execIfResourcesAvailable();
        }
        ZorGenerateRuntimeDialog::setApplicationFiles(path("small"), "prog");
        QCOMPARE(rows, QStringList({"runtime.A.rcc", "runtime.b.rcc", "runtime.c.rcc"}));
        QCOMPARE(selected, 1);
        QCOMPARE(result, 0);
        QCOMPARE(boxes.shown, QStringList({"Generate Runtime Error / Missing required resource files for "
                                           "runtime generation.\nPlease contact technical support."}));
    }

    // Run from a build tree, the program shares its folder with the build:
    // only the program, its resource files and what it loads are packed.
    void buildTreeKeepsOnlyTheProgram()
    {
        const QString tree = path("buildtree");
        const QStringList program{"Drivers/buslink/buslink_hw_x.so", "Quorvane", "Quorvane.rcc",
                                  "Tools/7-zip/quorvane_runtime.sfx", "platform/libftd2xx.so",
                                  "pythonlib/pymite-09/pmImgCreator.py", "runtime.desktop.rcc"};
        const QStringList build{"CMakeCache.txt", "build.ninja", "tst_core", "CMakeFiles/x.txt",
                                "Testing/Temporary/LastTest.log", "zor_pch_autogen/x.h",
                                "zor_pch.dir/x.o", "core/cmake_install.cmake", "core/libzor_core.a",
                                "core/CMakeFiles/y.txt", "platform/cmake_install.cmake",
                                "platform/ftd2xx/CMakeFiles/z.o", "platform/ftd2xx/libftd2xx.so.o.d"};
        for (const QString &file : program + build)
            QVERIFY(writeFile(tree + '/' + file, "x"));
        ZorGenerateRuntimeDialog::setApplicationFiles(tree, "Quorvane");
        QStringList skipFolders;
        QStringList skipFiles;
        ZorGenerateRuntimeDialog::addBuildTreeSkips(tree, skipFolders, skipFiles);
        QStringList kept;
        ZorApplServices::collectFiles(tree, kept, skipFolders, skipFiles);
        for (QString &file : kept)
            file = QDir(tree).relativeFilePath(QDir::fromNativeSeparators(file));
        kept.sort();
        QCOMPARE(kept, program);

        // Any other folder is packed whole.
        QVERIFY(QFile::remove(tree + "/CMakeCache.txt"));
        skipFolders.clear();
        skipFiles.clear();
        ZorGenerateRuntimeDialog::addBuildTreeSkips(tree, skipFolders, skipFiles);
        ZorGenerateRuntimeDialog::setApplicationFiles(path("small"), "prog");
        QCOMPARE(skipFolders + skipFiles, QStringList());
    }

    void namesAndPaths()
    {
        QCOMPARE(ZorGenerateRuntimeDialog::configProgramPath("/x/Line3.exe", "Quorvane"),
                 QStringLiteral("Line3/Quorvane"));
        QCOMPARE(ZorGenerateRuntimeDialog::configProgramPath("/x/line.v2.exe", "Quorvane"),
                 QStringLiteral("line/Quorvane"));
        const QList<QPair<QString, bool>> paths{
            {"/tmp/QuorvaneTemp/quorvane_runtime_temp_1234/Line3/Templates/runtime.zortpl", true},
            {"/TMP/quorvanetemp/QUORVANE_RUNTIME_TEMP_1234/x.zortpl", true},
            {"/tmp/QuorvaneTemp/zorproj_temp_1234/Line/Line.zorpro", false},
            {"/home/u/quorvane_runtime_temp_1/x.zortpl", false}};
        for (const auto &p : paths)
            QCOMPARE(ZorGenerateRuntimeDialog::isRuntimeTempPath(p.first), p.second);
    }
};

ZOR_TEST(TestRuntimeGenerator)
#include "tst_runtimegenerator.moc"
