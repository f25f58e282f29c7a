// The remote-control panel: its look when off, On and Off, the state line in
// the colour of the mode, the log that does not let message traffic replace
// the state line, and the panel driving a real remote-control module.
#include "rcclient.h"
#include "testdommodel.h"
#include "zorcontentremotecontrol.h"
#include "zormodremotecontrol.h"
#include "zorrcnetworking.h"
#include "zortest.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QtTest>

#include <memory>

class TestContentRemoteControl : public QObject
{
    Q_OBJECT

    ZorContentRemoteControl *panel = nullptr;
    QList<ZorMessage> sent;

    QAction *action(const char *name) const { return panel->findChild<QAction *>(name); }
    QLineEdit *line(const char *name) const { return panel->findChild<QLineEdit *>(name); }
    QLineEdit *stateLine() const { return line("lineEditState"); }
    QPlainTextEdit *log() const { return panel->findChild<QPlainTextEdit *>("plainTextEditStatus"); }
    QList<QWidget *> settings() const
    {
        return {line("lineEditConnection"), line("lineEditMsgFilter"), line("lineEditBindAddress"),
                line("lineEditSecret"), line("lineEditIdleTimeout"),
                panel->findChild<QCheckBox *>("checkBoxAllowControl")};
    }
    void info(const QString &text) { panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, text)); }
    void mode(const QString &value, int type = KM_SETPROPERTY)
    {
        panel->msgIn(ZorMessage(type, KS_ANSWER, QStringLiteral("RemoteControlMode=") + value));
    }
    // Shows "off" or "on" as a running module would.
    void verifyLooksOn(bool on)
    {
        QCOMPARE(action("actionOn")->isChecked(), on);
        QCOMPARE(action("actionOn")->isEnabled(), !on);
        QCOMPARE(action("actionOff")->isChecked(), !on);
        QCOMPARE(action("actionOff")->isEnabled(), on);
        for (QWidget *w : settings())
            QCOMPARE(w->isEnabled(), !on);
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        panel = new ZorContentRemoteControl;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup() { delete panel; }

    void looksOffAtStart()
    {
        auto *bar = panel->findChild<QToolBar *>();
        QVERIFY(bar);
        QCOMPARE(bar->actions(), QList<QAction *>({action("actionOn"), action("actionOff")}));
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(!action("actionOn")->icon().isNull());
        QVERIFY(!action("actionOff")->icon().isNull());
        verifyLooksOn(false);
        QVERIFY(!stateLine()->isEnabled());
        QCOMPARE(log()->maximumBlockCount(), ZorContentRemoteControl::MaxLogLines);
        QCOMPARE(line("lineEditSecret")->echoMode(), QLineEdit::Password);
    }

    void onAndOffFollowTheMode()
    {
        TestDomModel model;
        model.addModule("remotecontrol", "RC1");
        QVERIFY(panel->setupZorPanel(model.moduleIndex("RC1"), &model));
        QCOMPARE(sent.last().msgType(), int(KM_GETPROPERTY));
        QCOMPARE(sent.last().data().toString(), QStringLiteral("RemoteControlMode"));

        sent.clear();
        action("actionOn")->trigger();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().msgType(), int(KM_SETPROPERTY));
        QCOMPARE(sent.first().data().toString(), QStringLiteral("RemoteControlMode=1"));
        QCOMPARE(sent.first().origin(), QStringLiteral("GUI"));

        mode(QStringLiteral("1"));
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));
        verifyLooksOn(true);
        // The same value again changes nothing.
        stateLine()->setStyleSheet(QStringLiteral("color:blue"));
        mode(QStringLiteral("1"), KM_GETPROPERTY);
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("color:blue"));

        sent.clear();
        action("actionOff")->trigger();
        QCOMPARE(sent.first().data().toString(), QStringLiteral("RemoteControlMode=0"));
        mode(QStringLiteral("0"));
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("color:black"));
        verifyLooksOn(false);
    }

    void stateColours_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("style");
        QTest::newRow("off") << 0 << "color:black";
        QTest::newRow("on") << 1 << "background-color: #5EBE37; color:black";
        QTest::newRow("busy") << 1000 << "background-color: #FEE600; color:black";
        QTest::newRow("error") << 2000 << "background-color: #FF6052; color:black";
    }
    void stateColours()
    {
        QFETCH(int, value);
        QFETCH(QString, style);
        panel->setState(value);
        QCOMPARE(stateLine()->styleSheet(), style);
    }

    void trafficIsLoggedWithoutReplacingTheState()
    {
        info(QStringLiteral("Server started Port=51111"));
        info(QStringLiteral("remoteOut: drive1:KM_STATUS:KS_INFO:1"));
        info(QStringLiteral("remoteIn:  drive1:KM_WHOAMI:KS_REQUEST"));
        QCOMPARE(stateLine()->text(), QStringLiteral("Server started Port=51111"));
        const QStringList lines = log()->toPlainText().split('\n');
        QCOMPARE(lines.size(), 3);
        const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
        QVERIFY(stamp.match(lines.at(1)).hasMatch());
        QVERIFY(lines.at(1).endsWith(QLatin1String(" remoteOut: drive1:KM_STATUS:KS_INFO:1")));
        // Only exactly these prefixes keep the state line.
        info(QStringLiteral("remoteIn: one blank"));
        QCOMPARE(stateLine()->text(), QStringLiteral("remoteIn: one blank"));

        for (int i = 0; i < ZorContentRemoteControl::MaxLogLines + 10; ++i)
            info(QStringLiteral("remoteOut: %1").arg(i));
        QCOMPARE(log()->document()->blockCount(), ZorContentRemoteControl::MaxLogLines);
        QVERIFY(log()->toPlainText().endsWith(QStringLiteral("remoteOut: %1").arg(ZorContentRemoteControl::MaxLogLines + 9)));
    }

    // An error text shows on the error colour while the mode stays on; the
    // next text of the new attempt takes the mode's colour again.
    void errorsShowOnTheErrorColour()
    {
        mode(QStringLiteral("1"));
        info(QStringLiteral("Server started Port=51111"));
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));
        info(QStringLiteral("error: The bound address is already in use"));
        QCOMPARE(stateLine()->text(), QStringLiteral("error: The bound address is already in use"));
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        info(QStringLiteral("remoteIn:  x"));
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        info(QStringLiteral("Initializing"));
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));
    }

    // A 1 MB text and a flood of them: every line reaches the log cut to a
    // length the view lays out at once, with a mark, and the log keeps at
    // most its characters; the window stays responsive meanwhile.
    void longTextsReachTheLogCut()
    {
        panel->resize(600, 400);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        const QString big = QStringLiteral("remoteOut: ") + QString(1 << 20, QLatin1Char('x'));
        info(big);
        const QString last = log()->document()->lastBlock().text();
        QVERIFY(last.size() < ZorPanel::MaxLogLineChars + 100);
        QVERIFY2(last.endsWith(QStringLiteral("[... %1 more characters not shown]")
                                   .arg(big.size() - ZorPanel::MaxLogLineChars)),
                 qPrintable(last.right(60)));
        bool ticked = false;
        QTimer::singleShot(0, this, [&ticked] { ticked = true; });
        QTRY_VERIFY(ticked);

        // A text of many lines keeps its short lines whole.
        info(QStringLiteral("a\n") + QString(5000, QLatin1Char('y')) + QStringLiteral("\nb"));
        QCOMPARE(log()->document()->lastBlock().text(), QStringLiteral("b"));
        QVERIFY(log()->document()->lastBlock().previous().text().endsWith("[... 904 more characters not shown]"));

        for (int i = 0; i < 600; ++i)
            info(big);
        QVERIFY(log()->document()->characterCount() <= ZorPanel::MaxLogViewChars);
        QVERIFY(log()->document()->characterCount() > ZorPanel::MaxLogViewChars / 2);
        QVERIFY(!log()->isUndoRedoEnabled());
    }

    void drivesARemoteControlModule()
    {
        TestDomModel model;
        model.addModule("remotecontrol", "RC1");
        std::unique_ptr<ZorModRemoteControl, ZorModuleDeleter> module(new ZorModRemoteControl);
        QVERIFY(module->setupZorModule(model.moduleIndex("RC1"), &model));
        const quint16 port = RcClient::freePort();
        module->setProperty(QStringLiteral("RemoteControlConnection"), QStringLiteral("SERVER:%1").arg(port), false);
        connect(panel, &ZorPanel::msgOut, module.get(), &ZorModule::slaveIn);
        connect(module.get(), &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->start();
        QVERIFY(panel->setupZorPanel(model.moduleIndex("RC1"), &model));
        QTRY_COMPARE(line("lineEditConnection")->text(), QStringLiteral("SERVER:%1").arg(port));
        QTRY_COMPARE(line("lineEditBindAddress")->text(), QStringLiteral("127.0.0.1"));

        action("actionOn")->trigger();
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Server started Port=%1").arg(port));
        verifyLooksOn(true);
        QTRY_VERIFY(module->networking()->isListening());
        RcClient client;
        QVERIFY(client.connectTo(port));
        client.send("RC1:KM_WHOAMI:KS_REQUEST\n\n");
        QTRY_VERIFY(log()->toPlainText().contains(QStringLiteral("remoteIn:  RC1:KM_WHOAMI:KS_REQUEST")));
        // The connection's state text and the logged message come by paths
        // of their own.
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Connection from 127.0.0.1"));

        action("actionOff")->trigger();
        QTRY_COMPARE(module->status(), 0);
        QTRY_VERIFY(!action("actionOff")->isEnabled());
        verifyLooksOn(false);
        QVERIFY(client.waitForClosed());
    }
};

ZOR_TEST(TestContentRemoteControl)
#include "tst_contentremotecontrol.moc"
