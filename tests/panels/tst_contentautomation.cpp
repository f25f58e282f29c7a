// The automation panel: start and stop (buttons and keys), the state line,
// the log with the script's output and the restored history; and the panel
// running scripts on a real automation module.
#include "testdommodel.h"
#include "zorcontentautomation.h"
#include "zormodautomation.h"
#include "zortest.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QtTest>

#include <memory>

class TestContentAutomation : public QObject
{
    Q_OBJECT

    ZorContentAutomation *panel = nullptr;
    QList<ZorMessage> sent;

    QAction *action(const char *name) const { return panel->findChild<QAction *>(name); }
    QLineEdit *stateLine() const { return panel->findChild<QLineEdit *>("lineEditState"); }
    QPlainTextEdit *log() const { return panel->findChild<QPlainTextEdit *>("plainTextEditStatus"); }
    // The log without its time stamps.
    QStringList logLines() const
    {
        QStringList lines = log()->toPlainText().split('\n');
        for (QString &line : lines)
            line.remove(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
        return lines;
    }
    QStringList controls() const
    {
        QStringList data;
        for (const ZorMessage &m : sent)
            if (m.msgType() == KM_SCRIPT_CONTROL)
                data << m.data().toString();
        return data;
    }
    void showWithFocus()
    {
        panel->show();
        panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(panel));
        log()->setFocus();
        QTRY_VERIFY(log()->hasFocus());
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        panel = new ZorContentAutomation;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup() { delete panel; }

    void theFormAtStart()
    {
        auto *bar = panel->findChild<QToolBar *>();
        QVERIFY(bar);
        QCOMPARE(bar->actions(), QList<QAction *>({action("actionPlay"), action("actionStop")}));
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(!action("actionPlay")->icon().isNull());
        QVERIFY(!action("actionStop")->icon().isNull());
        QVERIFY(action("actionPlay")->isEnabled() && !action("actionPlay")->isChecked());
        QVERIFY(!action("actionStop")->isEnabled() && action("actionStop")->isChecked());
        QVERIFY(!stateLine()->isEnabled());
        QCOMPARE(log()->maximumBlockCount(), 1000);
    }

    void startAndStopByActionAndKey()
    {
        TestDomModel model;
        model.addModule("automation", "Auto1");
        QVERIFY(panel->setupZorPanel(model.moduleIndex("Auto1"), &model));
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent.at(2).msgType(), int(KM_GETPROPERTY));
        QCOMPARE(sent.at(2).data().toString(), QStringLiteral("LogHistory"));

        action("actionPlay")->trigger();
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 1));
        action("actionStop")->trigger();
        showWithFocus();
        // The keys work also while their action is disabled.
        QTest::keyClick(log(), Qt::Key_F5);
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 0));
        QTest::keyClick(log(), Qt::Key_Escape);
        QCOMPARE(controls(), QStringList({"1", "0", "1", "0"}));
        for (const ZorMessage &m : sent)
            QCOMPARE(m.msgState(), int(KS_REQUEST));
    }

    // A script started here stops on Esc wherever the focus is in the
    // window, once; in a dialog Esc is the dialog's, and a script that has
    // ended is not stopped again.
    void escStopsTheStartedScriptWhereverTheFocusIs()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *elsewhere = new QLineEdit(&window);
        layout->addWidget(elsewhere);
        panel->setParent(&window);
        layout->addWidget(panel);
        const auto release = qScopeGuard([this] { panel->setParent(nullptr); });
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        elsewhere->setFocus();
        QTRY_VERIFY(elsewhere->hasFocus());

        action("actionPlay")->trigger();
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 1));
        QDialog dialog(&window);
        auto *field = new QLineEdit(&dialog);
        dialog.setModal(true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Escape);
        QTRY_VERIFY(dialog.isHidden());
        QCOMPARE(controls(), QStringList({"1"}));

        QTRY_VERIFY(QTest::qWaitForWindowActive(&window));
        elsewhere->setFocus();
        QTRY_VERIFY(elsewhere->hasFocus());
        QTest::keyClick(elsewhere, Qt::Key_Escape);
        QCOMPARE(controls(), QStringList({"1", "0"}));
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 0));
        QTest::keyClick(elsewhere, Qt::Key_Escape);
        QCOMPARE(controls(), QStringList({"1", "0"}));
    }

    void statusDecidesWhatCanBeDone_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("style");
        QTest::newRow("idle") << 0 << false << "color:black";
        QTest::newRow("running") << 1 << true << "background-color: #5EBE37; color:black";
        QTest::newRow("busy") << 1500 << true << "background-color: #FEE600; color:black";
        QTest::newRow("error, still stoppable") << 2500 << true << "background-color: #FF6052; color:black";
        QTest::newRow("last running") << 9999 << true << "background-color: #FF6052; color:black";
        QTest::newRow("script error") << 10000 << false << "background-color: #FF6052; color:black";
        QTest::newRow("negative") << -1 << false << "background-color: #5EBE37; color:black";
    }
    void statusDecidesWhatCanBeDone()
    {
        QFETCH(int, status);
        QFETCH(bool, running);
        QFETCH(QString, style);
        panel->msgIn(ZorMessage(KM_STATUS, KS_ANSWER, status));
        QCOMPARE(stateLine()->styleSheet(), style);
        QCOMPARE(action("actionPlay")->isEnabled(), !running);
        QCOMPARE(action("actionPlay")->isChecked(), running);
        QCOMPARE(action("actionStop")->isEnabled(), running);
        QCOMPARE(action("actionStop")->isChecked(), !running);
        // Requests are no reports.
        panel->msgIn(ZorMessage(KM_STATUS, KS_REQUEST, running ? 0 : 1));
        QCOMPARE(action("actionStop")->isEnabled(), running);
    }

    void logShowsInfoAndStandardOutput_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("shown");
        QTest::newRow("output") << "1,StdOut:value: 5" << "value: 5";
        QTest::newRow("line number") << "12,StdOut:x" << "x";
        QTest::newRow("error output") << "0,StdErr:Traceback" << "Traceback";
        QTest::newRow("traceback") << "2,StdErr:Traceback (most recent call last):\n"
                                      "  File \"<string>\", line 2, in <module>\n"
                                      "ZeroDivisionError: division by zero\n"
                                   << "Traceback (most recent call last):\n"
                                      "  File \"<string>\", line 2, in <module>\n"
                                      "ZeroDivisionError: division by zero";
        QTest::newRow("empty error output") << "0,StdErr:\n" << "";
        QTest::newRow("no line number") << "StdOut:lost" << "";
        QTest::newRow("letter case") << "0,stdout:lost" << "";
        QTest::newRow("empty output") << "0,StdOut:" << "";
    }
    void logShowsInfoAndStandardOutput()
    {
        QFETCH(QString, data);
        QFETCH(QString, shown);
        panel->msgIn(ZorMessage(KM_SCRIPT_MSG, KS_INFO, data));
        QCOMPARE(log()->toPlainText().isEmpty(), shown.isEmpty());
        if (!shown.isEmpty())
            QCOMPARE(logLines(), shown.split('\n'));
    }

    void infoTextsAndHistory()
    {
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("Script Started")));
        QCOMPARE(stateLine()->text(), QStringLiteral("Script Started"));
        QCOMPARE(logLines(), QStringList({"Script Started"}));
        // The history replaces the log, a blank line below it.
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER,
                                QStringLiteral("LogHistory=old 1\nold=2")));
        panel->msgIn(ZorMessage(KM_SCRIPT_MSG, KS_INFO, QStringLiteral("0,StdOut:new")));
        QCOMPARE(logLines(), QStringList({"old 1", "old=2", "", "new"}));
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, QStringLiteral("LogHistory=")));
        QCOMPARE(log()->toPlainText(), QStringLiteral("\n"));
        // Other properties and the change notices of the module leave it.
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, QStringLiteral("Script=print(1)")));
        panel->msgIn(ZorMessage(KM_SETPROPERTY, KS_INFO, QStringLiteral("LogHistory=x")));
        QCOMPARE(log()->toPlainText(), QStringLiteral("\n"));
    }

    void runsScriptsOnItsModule()
    {
        TestDomModel model;
        model.addModule("automation", "Auto1", QString(),
                        "<properties><Script>import Quorvane\nprint('hello')\nwhile True:\n"
                        "    Quorvane.ZorWaitMsg('nothing', 20)\n</Script></properties>");
        auto bind = [&](ZorContentAutomation *p) {
            auto *module = new ZorModAutomation;
            if (!module->setupZorModule(model.moduleIndex("Auto1"), &model))
                return std::unique_ptr<ZorModule, ZorModuleDeleter>();
            connect(p, &ZorPanel::msgOut, module, &ZorModule::slaveIn);
            connect(module, &ZorModule::slaveOut, p, &ZorPanel::msgIn);
            module->start();
            p->setupZorPanel(model.moduleIndex("Auto1"), &model);
            return std::unique_ptr<ZorModule, ZorModuleDeleter>(module);
        };
        auto module = bind(panel);
        QVERIFY(module);
        showWithFocus();
        QTest::keyClick(log(), Qt::Key_F5);
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Script Started"));
        QTRY_VERIFY(logLines().contains("hello"));
        QVERIFY(action("actionStop")->isEnabled());
        QTest::keyClick(log(), Qt::Key_Escape);
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Stopped by User"));
        QTRY_VERIFY(action("actionPlay")->isEnabled());
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("color:black"));

        // A new module and panel over the same project show the history.
        QTRY_VERIFY(model.storedProperty("Auto1", "LogHistory").contains("0,StdOut:hello"));
        module.reset();
        ZorContentAutomation second;
        auto again = bind(&second);
        auto *secondLog = second.findChild<QPlainTextEdit *>("plainTextEditStatus");
        // It reads as the live log did: no "0,StdOut:" of the stored lines.
        QTRY_VERIFY(secondLog->toPlainText().contains(" hello\n"));
        QVERIFY(!secondLog->toPlainText().contains("StdOut"));
        QVERIFY(secondLog->toPlainText().endsWith('\n'));
    }

    // A script that raises shows its traceback with the line number. The
    // history stays the module's own, in its stored form, also after the
    // panel was asked for its settings (as before a save); reopened, the log
    // reads as the live one did.
    void errorsShowAndTheHistoryKeepsItsForm()
    {
        TestDomModel model;
        model.addModule("automation", "Auto1", QString(),
                        "<properties><Script>print('tick', 1)\nx = 1 / 0\n</Script></properties>");
        std::unique_ptr<ZorModule, ZorModuleDeleter> module(new ZorModAutomation);
        QVERIFY(module->setupZorModule(model.moduleIndex("Auto1"), &model));
        connect(panel, &ZorPanel::msgOut, module.get(), &ZorModule::slaveIn);
        connect(module.get(), &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->start();
        QVERIFY(panel->setupZorPanel(model.moduleIndex("Auto1"), &model));
        action("actionPlay")->trigger();
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Script Error"));
        QTRY_VERIFY(logLines().contains("ZeroDivisionError: division by zero"));
        QVERIFY(logLines().contains("tick 1"));
        QVERIFY(log()->toPlainText().contains(", line 2"));
        QTRY_VERIFY(model.storedProperty("Auto1", "LogHistory").contains("StdErr:"));
        const QString stored = model.storedProperty("Auto1", "LogHistory");

        sent.clear();
        QVERIFY(panel->commitPanelSettings().isEmpty());
        for (const ZorMessage &m : sent)
            QVERIFY2(!m.data().toString().startsWith("LogHistory"), qPrintable(m.toString()));
        QTest::qWait(50);
        QCOMPARE(model.storedProperty("Auto1", "LogHistory"), stored);
        const QRegularExpression outputLine(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} 0,StdOut:tick 1$");
        QVERIFY2(outputLine.match(stored.section('\n', 0, 0)).hasMatch(), qPrintable(stored));

        // Reopened: a new module and panel over the saved project.
        const QStringList live = logLines();
        module.reset();
        ZorContentAutomation reopened;
        std::unique_ptr<ZorModule, ZorModuleDeleter> again(new ZorModAutomation);
        QVERIFY(again->setupZorModule(model.moduleIndex("Auto1"), &model));
        connect(&reopened, &ZorPanel::msgOut, again.get(), &ZorModule::slaveIn);
        connect(again.get(), &ZorModule::slaveOut, &reopened, &ZorPanel::msgIn);
        again->start();
        QVERIFY(reopened.setupZorPanel(model.moduleIndex("Auto1"), &model));
        auto *reopenedLog = reopened.findChild<QPlainTextEdit *>("plainTextEditStatus");
        QTRY_VERIFY(reopenedLog->toPlainText().contains(" tick 1\n"));
        QVERIFY(!reopenedLog->toPlainText().contains("StdOut"));
        QVERIFY(reopenedLog->toPlainText().contains("ZeroDivisionError: division by zero"));
        QVERIFY(live.contains("tick 1"));
    }

    // Lines the module stored itself lose their "<n>,StdOut:" when shown.
    void storedOutputLinesAreShownAsLogLines_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("output") << "2024-03-05 14:07:09.123 0,StdOut:tick 1"
                                << "2024-03-05 14:07:09.123 tick 1";
        QTest::newRow("error") << "2024-03-05 14:07:09.123 12,StdErr:Traceback"
                               << "2024-03-05 14:07:09.123 Traceback";
        QTest::newRow("info text") << "2024-03-05 14:07:09.123 Script Started"
                                   << "2024-03-05 14:07:09.123 Script Started";
        QTest::newRow("traceback line") << "  File \"x\", line 2" << "  File \"x\", line 2";
        QTest::newRow("no time stamp") << "0,StdOut:x" << "0,StdOut:x";
    }
    void storedOutputLinesAreShownAsLogLines()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QCOMPARE(ZorContentAutomation::shownHistoryLine(stored), shown);
    }
};

ZOR_TEST(TestContentAutomation)
#include "tst_contentautomation.moc"
