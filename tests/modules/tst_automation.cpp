// The automation module running real Python scripts: output to the master,
// the log history, stopping, script errors, the start variants and the
// scripting functions that talk to other modules.
#include "startstopmodule.h"
#include "testdommodel.h"
#include "pythonruntime.h"
#include "simgateway.h"
#include "zormodautomation.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"
#include "zortest.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <memory>
#include <mutex>

namespace {

// What the module sends to its master (its panel).
class Master : public QObject
{
public:
    void record(const ZorMessage &m)
    {
        std::lock_guard<std::mutex> lock(mutex);
        list << m;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        list.clear();
    }
    QList<ZorMessage> all() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return list;
    }
    QStringList dataOf(int type) const
    {
        QStringList texts;
        for (const ZorMessage &m : all())
            if (m.msgType() == type)
                texts << m.data().toString();
        return texts;
    }
    QList<int> statusChanges() const
    {
        QList<int> changes;
        for (const QString &s : dataOf(KM_STATUS))
            if (changes.isEmpty() || changes.last() != s.toInt())
                changes << s.toInt();
        return changes;
    }
    int lastStatus() const
    {
        const QList<int> changes = statusChanges();
        return changes.isEmpty() ? -1 : changes.last();
    }

private:
    mutable std::mutex mutex;
    QList<ZorMessage> list;
};

using ModulePtr = std::unique_ptr<ZorModule, ZorModuleDeleter>;

// A drive script DriveScript.py with the given text in dir; its path, empty
// when it cannot be written.
QString automationDriveScript(const QTemporaryDir &dir, const QByteArray &text)
{
    QFile script(dir.filePath("DriveScript.py"));
    if (!script.open(QIODevice::WriteOnly) || script.write(text) != text.size())
        return QString();
    return script.fileName();
}

} // namespace

class TestAutomation : public QObject
{
    Q_OBJECT

    TestDomModel *model = nullptr;
    ZorModAutomation *automation = nullptr;
    ModulePtr owner;
    Master master;

    void start(const QString &script)
    {
        automation->setProperty(QStringLiteral("Script"), script, false);
        automation->start();
        control(QStringLiteral("1"));
    }
    void control(const QString &data)
    {
        automation->slaveIn(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, data));
    }
    // The script has ended when the module is back in Idle after running.
    bool waitForEnd(int status = 0, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            const QList<int> changes = master.statusChanges();
            if (changes.contains(1) && changes.last() == status)
                return true;
            QTest::qWait(10);
        }
        return false;
    }
    // A second automation module "Auto2", owned by `secondOwner`, whose
    // messages go to `secondMaster`; null when it cannot be set up.
    ZorModAutomation *addSecondModule(ModulePtr &secondOwner, Master &secondMaster)
    {
        model->addModule("automation", "Auto2");
        auto *second = new ZorModAutomation;
        secondOwner.reset(second);
        if (!second->setupZorModule(model->moduleIndex("Auto2"), model))
            return nullptr;
        connect(second, &ZorModule::slaveOut, this,
                [&secondMaster](const ZorMessage &m) { secondMaster.record(m); },
                Qt::DirectConnection);
        return second;
    }
    QStringList output() const
    {
        QStringList lines;
        for (const QString &data : master.dataOf(KM_SCRIPT_MSG))
            lines << data;
        return lines;
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        model = new TestDomModel;
        model->addModule("automation", "Auto1");
        automation = new ZorModAutomation;
        owner.reset(automation);
        master.clear();
        QVERIFY(automation->setupZorModule(model->moduleIndex("Auto1"), model));
        connect(automation, &ZorModule::slaveOut, this,
                [this](const ZorMessage &m) { master.record(m); }, Qt::DirectConnection);
    }
    void cleanup()
    {
        owner.reset();
        delete model;
    }

    void outputReachesTheMasterAndTheHistory()
    {
        // Output goes up by whole lines: a print of several arguments is one
        // line, a line break inside a text ends a line, empty lines are
        // dropped, and an unfinished last line comes when the run ends.
        start(QStringLiteral("import sys\nprint('tick', 1)\nprint('a\\r\\nb')\nprint('')\n"
                             "print('second', 'line', sep='-')\nsys.stdout.write('no end')\n"));
        QVERIFY(waitForEnd());
        QCOMPARE(output(), QStringList({"0,StdOut:tick 1", "0,StdOut:a", "0,StdOut:b",
                                        "0,StdOut:second-line", "0,StdOut:no end"}));
        // The tree and the panels say that it has ended.
        QCOMPARE(master.dataOf(KM_INFOTEXT).mid(0, 2),
                 QStringList({"Script Started", "Script Finished"}));
        for (const ZorMessage &m : master.all())
            if (m.msgType() == KM_SCRIPT_MSG)
                QCOMPARE(m.origin(), QStringLiteral("Auto1"));

        // The history is stored with the project, each line stamped.
        QTRY_VERIFY(!model->storedProperty("Auto1", "LogHistory").isEmpty());
        const QStringList history = model->storedProperty("Auto1", "LogHistory").split('\n');
        QCOMPARE(history.size(), 5);
        const QRegularExpression stamped(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} 0,StdOut:tick 1$");
        QVERIFY2(stamped.match(history.at(0)).hasMatch(), qPrintable(history.at(0)));

        // A second run adds to the history it finds.
        control(QStringLiteral("1"));
        QTRY_COMPARE(automation->property("LogHistory").split('\n').size(), 10);
    }

    void theHistoryKeepsTheLatest500Lines()
    {
        automation->setProperty(QStringLiteral("LogHistory"), QStringLiteral("old 1\nold 2"), false);
        start(QStringLiteral("for i in range(499):\n    print(i)\n"));
        QVERIFY(waitForEnd());
        QStringList history = automation->property("LogHistory").split('\n');
        QCOMPARE(history.size(), 500);
        QCOMPARE(history.first(), QStringLiteral("old 2"));   // the oldest went first
        QVERIFY(history.last().endsWith(" 0,StdOut:498"));
    }

    // A stop request ends the script wherever it is: waiting in a scripting
    // function (for a message, or for an answer that never comes), in a
    // loop that never calls one, or asleep. The script sees one exception,
    // raised at its own line, which the editor selects.
    void stopRequestsEndTheScript_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("loop");
        QTest::addColumn<QString>("lines");   // where the stop may show
        const QString waiting = QStringLiteral("while True:\n    Quorvane.ZorWaitMsg('nothing', 50)\n");
        const QString forEver = QStringLiteral("Quorvane.ZorWaitMsg('nothing')\n");
        const QString answer = QStringLiteral("Quorvane.ZorSendMsg(':KM_WHOAMI:KS_REQUEST', 'w')\n");
        const QString busy = QStringLiteral("while True:\n    pass\n");
        const QString asleep = QStringLiteral("import time\ntime.sleep(1000)\n");
        QTest::newRow("control 0, waiting") << int(KM_SCRIPT_CONTROL) << " 0 " << waiting << "4";
        QTest::newRow("KM_STOP, waiting") << int(KM_STOP) << "" << waiting << "4";
        QTest::newRow("waiting briefly, again and again")
            << int(KM_STOP) << "" << QStringLiteral("while True:\n    Quorvane.ZorWaitMsg('nothing', 1)\n") << "3|4";
        QTest::newRow("waiting without time-out") << int(KM_STOP) << "" << forEver << "3";
        QTest::newRow("waiting for an answer") << int(KM_STOP) << "" << answer << "3";
        QTest::newRow("control 0, busy") << int(KM_SCRIPT_CONTROL) << "0" << busy << "3|4";
        QTest::newRow("KM_STOP, busy") << int(KM_STOP) << "" << busy << "3|4";
        QTest::newRow("control 0, asleep") << int(KM_SCRIPT_CONTROL) << "0" << asleep << "4";
    }
    void stopRequestsEndTheScript()
    {
        QFETCH(int, type);
        QFETCH(QString, data);
        QFETCH(QString, loop);
        QFETCH(QString, lines);
        start(QStringLiteral("import Quorvane\nprint('waiting')\n") + loop);
        QTRY_VERIFY(output().contains("0,StdOut:waiting"));
        // A second start while running is dropped.
        control(QStringLiteral("1"));
        automation->slaveIn(ZorMessage(type, KS_REQUEST, data));
        QVERIFY(waitForEnd());
        QCOMPARE(master.dataOf(KM_INFOTEXT).last(), QStringLiteral("Stopped by User"));
        QCOMPARE(master.statusChanges(), QList<int>({1, 0}));
        const QString error = output().last();
        QVERIFY2(QRegularExpression("^(" + lines + "),StdErr:").match(error).hasMatch(), qPrintable(error));
        QCOMPARE(error.count("Traceback"), 1);
        QCOMPARE(error.count("RuntimeError: Stopped by User"), 1);
        QVERIFY2(!error.contains("During handling"), qPrintable(error));

        // A start after the stop runs again.
        automation->setProperty(QStringLiteral("Script"), QStringLiteral("print('again')"), false);
        control(QStringLiteral("1"));
        QTRY_COMPARE(output().last(), QStringLiteral("0,StdOut:again"));
        QTRY_COMPARE(master.statusChanges(), QList<int>({1, 0, 1, 0}));
    }

    // A stop and a new start sent right behind a start: the script is
    // stopped before its first line, and the new start runs.
    void stopAndStartWhileStarting()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("second.py"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("print('second')\n");
        file.close();
        start(QStringLiteral("print('first')\nwhile True: pass\n"));
        control(QStringLiteral("0"));
        control(QStringLiteral("1,") + file.fileName());
        QTRY_VERIFY(output().contains("0,StdOut:second"));
        QTRY_COMPARE(master.lastStatus(), 0);
    }

    // Deleting the module (as closing the project does) interrupts a script
    // that never calls a scripting function.
    void deletingTheModuleEndsABusyScript()
    {
        start(QStringLiteral("print('busy')\nwhile True:\n    pass\n"));
        QTRY_VERIFY(output().contains("0,StdOut:busy"));
        // Without the interrupt the deletion would wait for ever.
        owner.reset();
        QTRY_VERIFY(model->storedProperty("Auto1", "LogHistory").contains("RuntimeError: Stopped by User"));
    }

    void aFailingScriptEndsInErrorAndCanStartAgain()
    {
        start(QStringLiteral("x = 1\ny = x / 0\n"));
        QVERIFY(waitForEnd(ZorModAutomation::StatusScriptError));
        QCOMPARE(master.dataOf(KM_INFOTEXT).last(), QStringLiteral("Script Error"));
        const QString error = output().last();
        QVERIFY2(error.startsWith("2,StdErr:") && error.contains("ZeroDivisionError"),
                 qPrintable(error));
        automation->setProperty(QStringLiteral("Script"), QStringLiteral("print('fixed')"), false);
        control(QStringLiteral("1"));
        QTRY_COMPARE(master.lastStatus(), 0);
        QCOMPARE(output().last(), QStringLiteral("0,StdOut:fixed"));
    }

    void startVariants()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("job.py"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("print('from file')\r\nprint('\xc3\xa9t\xc3\xa9')\r\n");   // UTF-8 kept
        file.close();

        start(QStringLiteral("print('property')"));
        QVERIFY(waitForEnd());
        control(QStringLiteral("1,append:print('appended')"));
        QTRY_COMPARE(output().size(), 3);
        QCOMPARE(output().mid(1), QStringList({"0,StdOut:property", "0,StdOut:appended"}));

        control(QStringLiteral("1,") + file.fileName());
        QTRY_COMPARE(output().size(), 5);
        QCOMPARE(output().at(3), QStringLiteral("0,StdOut:from file"));

        // Without a script property the file of "ScriptFileName" runs.
        automation->setProperty(QStringLiteral("Script"), QString(), false);
        automation->setProperty(QStringLiteral("ScriptFileName"), file.fileName(), false);
        control(QStringLiteral("1"));
        QTRY_COMPARE(output().size(), 7);
        control(QStringLiteral("-1"));   // no request of this module
        QTest::qWait(50);
        QCOMPARE(output().size(), 7);
    }

    // Scripts hold and print text in any language, whether typed in the
    // program or stored in a file (UTF-8, or Latin-1 from older editors);
    // what they hand to the scripting functions and their errors keep it too.
    void scriptsInAnyLanguage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("fileCodec");   // empty: the script is typed in
        const QString e = QString::fromUtf8("\xc3\xa9");
        const QString euro = QString::fromUtf8("\xe2\x82\xac");
        const QString nihon = QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac");
        QTest::newRow("é typed") << e << QByteArray();
        QTest::newRow("€ typed") << euro << QByteArray();
        QTest::newRow("日本 typed") << nihon << QByteArray();
        QTest::newRow("é in a UTF-8 file") << e << QByteArray("UTF-8");
        QTest::newRow("€ in a UTF-8 file") << euro << QByteArray("UTF-8");
        QTest::newRow("日本 in a UTF-8 file") << nihon << QByteArray("UTF-8");
        QTest::newRow("é in a Latin-1 file") << e << QByteArray("ISO-8859-1");
    }
    void scriptsInAnyLanguage()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, fileCodec);
        const QString script = "import Quorvane as q\n"
                               "s = '" + text + "'\n"
                               "print(s + ' ' + str(len(s)))\n"
                               "q.ZorSendMsg(':KM_INFOTEXT:KS_INFO:' + s)\n"
                               "raise ValueError(s)\n";
        QTemporaryDir dir;
        if (fileCodec.isEmpty()) {
            start(script);
        } else {
            QFile file(dir.filePath("language.py"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QTextCodec::codecForName(fileCodec)->fromUnicode(script));
            file.close();
            automation->start();
            control("1," + file.fileName());
        }
        QVERIFY(waitForEnd(ZorModAutomation::StatusScriptError));
        QCOMPARE(output().first(), "0,StdOut:" + text + " " + QString::number(text.size()));
        QVERIFY(master.dataOf(KM_INFOTEXT).contains(text));
        QVERIFY2(output().last().contains("ValueError: " + text), qPrintable(output().last()));
    }

    void scriptsTalkToOtherModules()
    {
        model->addModule("joystick", "Stick");
        ModulePtr slave(new StartStopModule);
        QVERIFY(slave->setupZorModule(model->moduleIndex("Stick"), model));
        QVERIFY(automation->addSlave(slave.get()));
        slave->start();
        start(QStringLiteral(
            "import Quorvane as q\n"
            "print(q.ZorSendMsg('Stick:KM_START:KS_REQUEST', 'w'))\n"
            "print(q.ZorSendMsg('Stick : KM_GETPROPERTY:KS_REQUEST:Port', 'w'))\n"
            "print(q.ZorSendMsg('Stick:KM_STOP:KS_REQUEST', 'b'))\n"
            "print(q.ZorSendMsg(':KM_STATUS:KS_INFO:1500'))\n"
            "print(repr(q.ZorWaitMsg('*KM_NOTHING*', 100)))\n"
            "q.ZorSendMsg(':KM_STATUS:KS_INFO:0')\n"));
        QTRY_COMPARE_WITH_TIMEOUT(output().size(), 4, 10000);
        QVERIFY(waitForEnd());
        QCOMPARE(output(), QStringList({"0,StdOut:Stick:KM_START:KS_ANSWER",
                                        "0,StdOut:Stick:KM_GETPROPERTY:KS_ANSWER:Port=COM1",
                                        "0,StdOut:1", "0,StdOut:''"}));
        // The status message went up and set the module's status; nothing
        // but the two requests went down.
        QVERIFY(master.statusChanges().contains(1500));
        QCOMPARE(slave->status(), 0);
    }

    // The demo's script on a live bus: the automation module talks to node 1
    // through a CAN interface, which it reaches through its own CANopen
    // gateway.
    void theDemoScriptReadsAndTogglesANode()
    {
        ZorModCanOpenGateway::registerCreator();
        SimGateway sim;
        QVERIFY2(sim.start({"--node", "1"}), qPrintable(sim.errorString()));
        std::unique_ptr<ZorModule, ZorModuleDeleter> can(
            new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb")));
        can->setProperty(QStringLiteral("Port"), sim.address(), false);
        can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
        can->start();
        const auto automationFirst = qScopeGuard([this] { owner.reset(); });
        QVERIFY(automation->addSlave(can.get()));
        QVERIFY(automation->viaModuleFor(QStringLiteral("CAN1")));
        automation->start();
        control(QStringLiteral("1," ZOR_SOURCE_DIR "/resources/demo/Auto1.py"));
        QVERIFY(waitForEnd(0, 20000));
        QCOMPARE(output(), QStringList({"0,StdOut:node 1 device type: 0x00020192 (profile 402)",
                                        "0,StdOut:2000h: 0x12 -> 0xED", "0,StdOut:2000h: 0xED -> 0x12",
                                        "0,StdOut:2000h: 0x12 -> 0xED"}));
    }

    // Scripts of two modules, one after the other, each in its module's
    // thread: the same interpreter, but the second sees no name of the first.
    void scriptsOfTwoModulesShareTheInterpreterNotTheirNames()
    {
        ModulePtr secondOwner;
        Master secondMaster;
        ZorModAutomation *second = addSecondModule(secondOwner, secondMaster);
        QVERIFY(second);

        start(QStringLiteral("import sys\nleft_over = 1\n"
                             "sys.zor_runs = getattr(sys, 'zor_runs', 0) + 1\n"
                             "print(id(sys), sys.zor_runs)\n"));
        QVERIFY(waitForEnd());
        second->setProperty(QStringLiteral("Script"),
                            QStringLiteral("import sys\nprint(id(sys), sys.zor_runs, 'left_over' in globals())\n"),
                            false);
        second->start();
        second->slaveIn(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1")));
        QTRY_COMPARE(secondMaster.lastStatus(), 0);
        QCOMPARE(output().size(), 1);
        QCOMPARE(secondMaster.dataOf(KM_SCRIPT_MSG), QStringList({output().first() + " False"}));
    }

    // A drive-script compilation in this (the GUI) thread between two
    // scripts: it works after a script has run, and a script after it runs
    // and stops as asked.
    void compileBetweenScripts()
    {
        start(QStringLiteral("print('before')\n"));
        QVERIFY(waitForEnd());

        QTemporaryDir dir;
        const QString script = automationDriveScript(dir, "import drive\nx = 1\ndrive.sendtxpdo(x)\n");
        QVERIFY(!script.isEmpty());
        QString image, folder, error;
        PythonRuntime compiler;
        QVERIFY2(compiler.compileScriptImage(script, image, folder, error),
                 qPrintable(error + compiler.stdErrText()));
        QCOMPARE(image, dir.filePath("DriveScript.pymbin"));
        QVERIFY(QFileInfo(image).size() > 0);

        master.clear();
        control(QStringLiteral("1,append:print('after')\nwhile True: pass"));
        QTRY_VERIFY(output().contains("0,StdOut:before"));
        QTRY_VERIFY(output().contains("0,StdOut:after"));
        control(QStringLiteral("0"));
        QVERIFY(waitForEnd());
        QCOMPARE(master.dataOf(KM_INFOTEXT).last(), QStringLiteral("Stopped by User"));
        QVERIFY(output().last().contains("RuntimeError: Stopped by User"));
    }

    // One script runs at a time in the whole program: while one module's
    // script runs, another module's start and a drive-script compilation in
    // this (the GUI) thread are refused, and the running script goes on.
    void oneScriptAtATimeInTheProcess()
    {
        ModulePtr secondOwner;
        Master secondMaster;
        ZorModAutomation *second = addSecondModule(secondOwner, secondMaster);
        QVERIFY(second);
        second->setProperty(QStringLiteral("Script"), QStringLiteral("print('second')"), false);
        second->start();

        start(QStringLiteral("import Quorvane\nprint('busy')\n"
                             "while True:\n    Quorvane.ZorWaitMsg('nothing', 20)\n"));
        QTRY_VERIFY(output().contains("0,StdOut:busy"));

        second->slaveIn(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1")));
        QTRY_VERIFY(secondMaster.dataOf(KM_SCRIPT_MSG).contains(ZorModAutomation::notStartedText()));

        QTemporaryDir dir;
        const QString script = automationDriveScript(dir, "import drive\nx = 1\n");
        QVERIFY(!script.isEmpty());
        QString image, folder, error;
        PythonRuntime compiler;
        QVERIFY(!compiler.compileScriptImage(script, image, folder, error));
        QVERIFY2(error.contains("busy"), qPrintable(error));
        QVERIFY(!QFileInfo::exists(dir.filePath("PythonCompilerTmp")));

        // The refused module stayed idle; the first script still runs and
        // stops as asked.
        QVERIFY(!secondMaster.statusChanges().contains(1));
        QCOMPARE(second->status(), 0);
        QCOMPARE(master.lastStatus(), 1);
        control(QStringLiteral("0"));
        QVERIFY(waitForEnd());
        QCOMPARE(master.dataOf(KM_INFOTEXT).last(), QStringLiteral("Stopped by User"));

        // Once it has ended, the other module runs.
        second->slaveIn(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1")));
        QTRY_VERIFY(secondMaster.dataOf(KM_SCRIPT_MSG).contains("0,StdOut:second"));
        QTRY_COMPARE(secondMaster.lastStatus(), 0);
    }
};

ZOR_TEST(TestAutomation)
#include "tst_automation.moc"
