// The Python editor: the script file kept in step with the editor (silent
// save, backups, outside changes, typing never lost), macro recording,
// script output, drive compilation and download, and the automation panel
// running scripts on a real automation module.
#include "pythonruntime.h"
#include "testdommodel.h"
#include "zorcontentpythoneditor.h"
#include "zormodautomation.h"
#include "zorquestionbox.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

class TestPythonEditor : public QObject
{
    Q_OBJECT

    QString savedDir;
    std::unique_ptr<QTemporaryDir> work;
    TestDomModel *model = nullptr;
    ZorContentPythonEditor *panel = nullptr;
    QList<ZorMessage> sent;
    QList<ZorQuestionBox::Question> asked;
    QMessageBox::StandardButton answer = QMessageBox::No;

    QString path(const QString &name) const { return work->filePath(name); }
    QPlainTextEdit *view(const char *name) const { return panel->findChild<QPlainTextEdit *>(name); }
    QPlainTextEdit *script() const { return view("plainTextEditScript"); }
    QLineEdit *stateLine() const { return panel->findChild<QLineEdit *>("lineEditState"); }
    QAction *action(const char *name) const { return panel->findChild<QAction *>(name); }
    QString currentOutputTab() const
    {
        return panel->findChild<QTabWidget *>("tabWidgetOutput")->currentWidget()->objectName();
    }
    QStringList sentData(int type) const
    {
        QStringList data;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type && m.msgState() == KS_REQUEST)
                data << m.data().toString();
        return data;
    }
    void answerProperty(const QString &text)
    {
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, text));
    }
    // A panel of that type, bound and given its script file.
    void makePanel(const QString &type, const QString &fileProperty)
    {
        model->addModule(type, "Py");
        panel = new ZorContentPythonEditor;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Py"), model));
        answerProperty("Script=");
        answerProperty("ScriptFileName=" + fileProperty);
    }
    void type(const QString &text)
    {
        QTextCursor cursor = script()->textCursor();
        cursor.movePosition(QTextCursor::End);
        script()->setTextCursor(cursor);
        script()->insertPlainText(text);
    }
    static QString fileText(const QString &file) { return QString::fromUtf8(ZorTest::readFile(file)); }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        savedDir = QDir::currentPath();
        work.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(work->path()));
        model = new TestDomModel;
        sent.clear();
        asked.clear();
        answer = QMessageBox::No;
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            asked << q;
            return answer;
        });
    }
    void cleanup()
    {
        delete panel;
        panel = nullptr;
        delete model;
        ZorQuestionBox::setHook({});
        PythonRuntime::setPythonLibDir(QString());
        QDir::setCurrent(savedDir);
        work.reset();
    }

    void theTwoPanels_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("tools");
        QTest::addColumn<QStringList>("outputTabs");
        QTest::addColumn<QString>("defaultFile");
        QTest::newRow("automation")
            << "automation_python"
            << QStringList({"actionPlay", "actionStop", "actionListen", "actionRecord", "actionNew",
                            "actionOpen", "actionSave", "actionSaveAs", "actionLocation"})
            << QStringList({"tabStdOut", "tabStdErr", "tabMessages"}) << "AutomationScript.py";
        QTest::newRow("drive")
            << "drive_canopen_python"
            << QStringList({"actionCompile", "actionDownload", "actionStartScript",
                            "actionStopScript", "actionCheckStatus", "actionNew", "actionOpen",
                            "actionSave", "actionSaveAs", "actionLocation"})
            << QStringList({"tabCompiler", "tabDownload"}) << "DriveScript.py";
    }
    void theTwoPanels()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, tools);
        QFETCH(QStringList, outputTabs);
        QFETCH(QString, defaultFile);
        makePanel(type, QString());
        QStringList names;
        for (QAction *a : panel->findChild<QToolBar *>("toolBar")->actions())
            names << a->objectName();
        QCOMPARE(names, tools);
        auto *tabs = panel->findChild<QTabWidget *>("tabWidgetOutput");
        QStringList pages;
        for (int i = 0; i < tabs->count(); ++i)
            pages << tabs->widget(i)->objectName();
        QCOMPARE(pages, outputTabs);
        // Without a file property the default file is made and shown.
        QCOMPARE(panel->scriptPath(), path(defaultFile));
        QVERIFY(QFileInfo::exists(path(defaultFile)));
        const QStringList asks = sentData(KM_GETPROPERTY);
        QCOMPARE(asks.contains("ExternalScript4"), type == "automation_python");
        QVERIFY(asks.contains("ScriptFileName"));
    }

    // An embedded script moves into the default file, and the module is
    // told to forget it; a default file that holds another module's script
    // is left alone.
    void anEmbeddedScriptMovesIntoAFile()
    {
        QVERIFY(ZorTest::writeFile(path("AutomationScript.py"), "print('other module')\n"));
        model->addModule("automation_python", "Py");
        panel = new ZorContentPythonEditor;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Py"), model));
        answerProperty("Script=print('kept')\n");
        answerProperty("ScriptFileName=");
        QCOMPARE(fileText(path("AutomationScript1.py")), QStringLiteral("print('kept')\n"));
        QCOMPARE(fileText(path("AutomationScript.py")), QStringLiteral("print('other module')\n"));
        QCOMPARE(script()->toPlainText(), QStringLiteral("print('kept')\n"));
        QCOMPARE(sentData(KM_SETPROPERTY),
                 QStringList({"Script=", "ScriptFileName=AutomationScript1.py"}));
    }

    void typingIsSavedASecondLater()
    {
        QVERIFY(ZorTest::writeFile(path("job.py"), "x = 1\n"));
        makePanel("automation_python", "job.py");
        QCOMPARE(script()->toPlainText(), QStringLiteral("x = 1\n"));
        type("y = 2\n");
        QCOMPARE(stateLine()->text(), QStringLiteral("Script modified..."));
        QVERIFY(panel->silentSaveTimer()->isActive());
        QCOMPARE(fileText(path("job.py")), QStringLiteral("x = 1\n"));
        QTRY_COMPARE(fileText(path("job.py")), QStringLiteral("x = 1\ny = 2\n"));
        QCOMPARE(stateLine()->text(), QStringLiteral("Changes saved"));
        // Its own save is no outside change.
        QTest::qWait(200);
        QVERIFY(!panel->silentReloadTimer()->isActive());
        QCOMPARE(script()->toPlainText(), QStringLiteral("x = 1\ny = 2\n"));
        QVERIFY(asked.isEmpty());
    }

    void aBackupOnLoadButNotOnReload()
    {
        QVERIFY(ZorTest::writeFile(path("job.py"), "first\n"));
        makePanel("automation_python", "job.py");
        QCOMPARE(fileText(path("job.py.bak")), QStringLiteral("first\n"));
        QVERIFY(QFile::remove(path("job.py.bak")));

        QVERIFY(ZorTest::writeFile(path("job.py"), "changed outside\n"));
        QTRY_COMPARE(script()->toPlainText(), QStringLiteral("changed outside\n"));
        QCOMPARE(stateLine()->text(), QStringLiteral("Script modified by external editor"));
        QVERIFY(!QFileInfo::exists(path("job.py.bak")));
        QVERIFY(!script()->document()->isModified());
        QVERIFY(asked.isEmpty());
    }

    // An outside change while the user's typing is not saved yet: the
    // user decides, and by default the typing stays (and is saved).
    void anOutsideChangeNeverTakesUnsavedTyping_data()
    {
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("kept");
        QTest::newRow("keep my typing") << int(QMessageBox::No) << "mine\n";
        QTest::newRow("take theirs") << int(QMessageBox::Yes) << "theirs\n";
    }
    void anOutsideChangeNeverTakesUnsavedTyping()
    {
        QFETCH(int, reply);
        QFETCH(QString, kept);
        QVERIFY(ZorTest::writeFile(path("job.py"), ""));
        makePanel("automation_python", "job.py");
        answer = QMessageBox::StandardButton(reply);
        type("mine\n");
        QVERIFY(ZorTest::writeFile(path("job.py"), "theirs\n"));
        QTRY_VERIFY(panel->silentReloadTimer()->isActive());
        QTRY_COMPARE(asked.size(), 1);
        QVERIFY(asked.first().text.contains(path("job.py")));
        QCOMPARE(script()->toPlainText(), kept);
        QTRY_COMPARE(fileText(path("job.py")), kept);
        QTest::qWait(1200);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(script()->toPlainText(), kept);
    }

    void macroRecording()
    {
        makePanel("automation_python", "macro.py");
        action("actionRecord")->trigger();
        QVERIFY(action("actionListen")->isChecked());
        QCOMPARE(sentData(KM_SNIFFER_SET), QStringList({"true"}));
        panel->findChild<QCheckBox *>("checkBoxHideInfoMsg")->setChecked(true);

        const QStringList trace = {
            "GUI -> KM_DRIVE_START:KS_REQUEST:",
            "Drive2 <- KM_DRIVE_START:KS_ANSWER:",
            "GUI -> KM_SETPROPERTY:KS_REQUEST:Note=a\nb",
            "GUI -> KM_STATUS:KS_REQUEST:",
            "Drive2 -> KM_STATUS:KS_INFO:5"};
        for (const QString &line : trace)
            panel->msgIn(ZorMessage(KM_AUTOMATION_SNIFFER_MSG, KS_INFO, line));
        QCOMPARE(script()->toPlainText(),
                 QStringLiteral("ret = ZorSendMsg(\":KM_DRIVE_START:KS_REQUEST\", \"b\")\n"
                                "ret = ZorSendMsg(\":KM_SETPROPERTY:KS_REQUEST:Note=a\\nb\", \"b\")\n"
                                "ret = ZorSendMsg(\":KM_STATUS:KS_REQUEST\", \"b\")\n"));
        // Status lines are recorded but not shown.
        const QString shown = view("plainTextEditMessages")->toPlainText();
        QVERIFY(shown.contains("KM_DRIVE_START:KS_ANSWER"));
        QVERIFY(!shown.contains("KM_STATUS"));
        // Recorded lines are saved like typing.
        QTRY_VERIFY(fileText(path("macro.py")).contains("KM_DRIVE_START"));
    }

    void scriptOutputAndTheErrorLine()
    {
        QVERIFY(ZorTest::writeFile(path("job.py"), "a = 1\nb = 2\nc = d\n"));
        makePanel("automation_python", "job.py");
        action("actionPlay")->trigger();
        QCOMPARE(sentData(KM_SCRIPT_CONTROL), QStringList({"1," + path("job.py")}));
        QVERIFY(!action("actionPlay")->isEnabled());
        QVERIFY(script()->isReadOnly());

        panel->msgIn(ZorMessage(KM_SCRIPT_MSG, KS_INFO, "0,StdOut:hello"));
        panel->msgIn(ZorMessage(KM_SCRIPT_MSG, KS_INFO, "3,StdErr:NameError: name 'd'"));
        QCOMPARE(view("plainTextEditStdOut")->toPlainText(), QStringLiteral("hello"));
        QCOMPARE(view("plainTextEditStdErr")->toPlainText(), QStringLiteral("NameError: name 'd'"));
        QCOMPARE(script()->textCursor().selectedText(), QStringLiteral("c = d"));
        QCOMPARE(currentOutputTab(), QStringLiteral("tabStdErr"));

        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 10000));
        QVERIFY(action("actionPlay")->isEnabled());
        QVERIFY(!script()->isReadOnly());

        // An error of another file leaves the editor alone.
        panel->findChild<QLineEdit *>("lineEditExternalScript0")->setText("other.py");
        panel->findChild<QPushButton *>("pushButtonRun1")->click();
        QCOMPARE(sentData(KM_SCRIPT_CONTROL).last(), QStringLiteral("1,other.py"));
        script()->moveCursor(QTextCursor::Start);
        panel->msgIn(ZorMessage(KM_SCRIPT_MSG, KS_INFO, "2,StdErr:boom"));
        QVERIFY(script()->textCursor().selectedText().isEmpty());
    }

    // The drive panel compiles with the image creator of the program's
    // "pythonlib" folder (here a small stand-in that checks the syntax).
    void driveCompileAndDownload()
    {
        QTemporaryDir lib;
        QVERIFY(ZorTest::writeFile(lib.filePath("pymite-09/pmImgCreator.py"),
                                   "class PmImgCreator:\n"
                                   "    def __init__(self, features=None): pass\n"
                                   "    def set_options(self, outfn, t, g, m, n, fns):\n"
                                   "        self.outfn, self.fns = outfn, fns\n"
                                   "    def convert_files(self):\n"
                                   "        for fn in self.fns:\n"
                                   "            compile(open(fn).read(), fn, 'exec')\n"
                                   "    def write_image_file(self):\n"
                                   "        open(self.outfn, 'wb').write(b'image')\n"));
        PythonRuntime::setPythonLibDir(lib.path());
        QVERIFY(ZorTest::writeFile(path("DriveScript.py"), "x = 1\n"));
        makePanel("drive_canopen_python", "DriveScript.py");

        action("actionCompile")->trigger();
        QVERIFY(view("plainTextEditCompiler")->toPlainText().contains("Python image file creator: OK"));
        QCOMPARE(stateLine()->text(), QStringLiteral("Python Compile OK"));
        QCOMPARE(panel->compiledImagePath(), path("DriveScript.pymbin"));
        QCOMPARE(ZorTest::readFile(path("DriveScript.pymbin")), QByteArray("image"));

        // Download while the drive runs: stop it first, download once idle.
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 5));
        action("actionDownload")->trigger();
        QCOMPARE(sent.last().msgType(), int(KM_DRIVE_STOP));
        QVERIFY(sentData(KM_DRIVE_DOWNLOAD_START).isEmpty());
        QVERIFY(!action("actionCompile")->isEnabled());
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 0));
        QCOMPARE(sentData(KM_DRIVE_DOWNLOAD_START), QStringList({"s," + path("DriveScript.pymbin")}));
        QVERIFY(view("plainTextEditDownload")->toPlainText().contains(
            "Downloading compiled script file: DriveScript.pymbin"));

        // A script with an error: the error line is selected, nothing written.
        action("actionDownload")->trigger();   // off
        QVERIFY(!action("actionDownload")->isChecked());
        script()->setPlainText("x = 1\ny = (\n");
        action("actionCompile")->trigger();
        QVERIFY(view("plainTextEditCompiler")->toPlainText().contains(
            "Python image file creator: ERROR (see details above)"));
        QVERIFY(view("plainTextEditCompiler")->toPlainText().contains("SyntaxError"));
        QCOMPARE(stateLine()->text(), QStringLiteral("Python Compile Error"));
        QCOMPARE(script()->textCursor().blockNumber(), 1);
        QCOMPARE(fileText(path("DriveScript.py")), QStringLiteral("x = 1\ny = (\n"));
    }

    // The panel on a real automation module: a script runs from its file,
    // its output and its error reach the panel.
    void runningOnTheAutomationModule()
    {
        model->addModule("automation", "Auto1");
        auto *module = new ZorModAutomation;
        std::unique_ptr<ZorModule, ZorModuleDeleter> owner(module);
        QVERIFY(module->setupZorModule(model->moduleIndex("Auto1"), model));
        QVERIFY(ZorTest::writeFile(path("Auto1.py"), "print('hello')\nraise ValueError('bad')\n"));
        model->addModule("automation_python", "Py");
        panel = new ZorContentPythonEditor;
        connect(panel, &ZorPanel::msgOut, module, &ZorModule::slaveIn);
        connect(module, &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->setProperty("ScriptFileName", "Auto1.py", false);
        module->start();
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Py"), model));
        QTRY_COMPARE(panel->scriptPath(), path("Auto1.py"));

        action("actionPlay")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(view("plainTextEditStdOut")->toPlainText(), QStringLiteral("hello"), 10000);
        QTRY_VERIFY(view("plainTextEditStdErr")->toPlainText().contains("ValueError: bad"));
        QCOMPARE(script()->textCursor().selectedText(), QStringLiteral("raise ValueError('bad')"));
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Script Error"));
        QVERIFY(action("actionPlay")->isEnabled());
    }
};

ZOR_TEST(TestPythonEditor)
#include "tst_pythoneditor.moc"
