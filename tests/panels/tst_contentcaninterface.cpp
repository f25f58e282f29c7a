// The CAN interface panel: its choices, the state button, the lamps, the
// typed port, and the panel driving a real CAN interface module against the
// simulated gateway.
#include "simgateway.h"
#include "testdommodel.h"
#include "zorbabelfish.h"
#include "zorcontentcaninterface.h"
#include "zormodcaninterface.h"
#include "zortest.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QScopeGuard>

#include <memory>

class TestContentCanInterface : public QObject
{
    Q_OBJECT

    ZorContentCanInterface *panel = nullptr;
    QList<ZorMessage> sent;

    template<class T>
    T *child(const char *name) const
    {
        return panel->findChild<T *>(QLatin1String(name));
    }
    QPushButton *startButton() const { return child<QPushButton>("pushButtonStart"); }
    QPushButton *stopButton() const { return child<QPushButton>("pushButtonStop"); }
    QComboBox *ports() const { return child<QComboBox>("comboBoxCOM"); }
    QComboBox *rates() const { return child<QComboBox>("comboBoxBaud"); }
    QString lamps() const
    {
        QString lit;
        lit += child<QLabel>("labelTx")->styleSheet().isEmpty() ? '-' : 'T';
        lit += child<QLabel>("labelRx")->styleSheet().isEmpty() ? '-' : 'R';
        lit += child<QLabel>("labelErr")->styleSheet().isEmpty() ? '-' : 'E';
        return lit;
    }
    QStringList sentTexts(int type) const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type)
                texts << m.data().toString();
        return texts;
    }
    static QStringList items(QComboBox *box)
    {
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    }
    // Types into the port field and leaves it (focus moves elsewhere).
    void typePortAndLeave(const QString &text)
    {
        QLineEdit *edit = ports()->lineEdit();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        panel = new ZorContentCanInterface;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup() { delete panel; }

    void choicesInOrder()
    {
        QCOMPARE(items(ports()),
                 QStringList({"(first found)", "vedozovo", "brenko", "zazevavi", "vscom",
                              "127.0.0.1:10001", "ixxat", "lawicel", "peak", "kvaser", "ems",
                              "castor", "mhs", "zanthic"}));
        QCOMPARE(items(rates()), QStringList({"20K", "50K", "100K", "125K", "250K", "500K", "800K",
                                              "1M", "(Scan)"}));
        QVERIFY(ports()->isEditable());
        QVERIFY(!rates()->isEditable());
        QCOMPARE(panel->windowTitle(), QStringLiteral("CAN Interface Setup"));
    }

    void statusShowsOnTheButton_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("colour");
        QTest::newRow("idle") << 0 << "Start Interface" << QColor(Qt::lightGray).name();
        QTest::newRow("open") << 1 << "Running" << "#5ebe37";
        QTest::newRow("negative") << -3 << "Running" << "#5ebe37";
        QTest::newRow("opening") << 1000 << "Init" << "#fee600";
        QTest::newRow("receive failing") << 1001 << "Warning" << "#fee600";
        QTest::newRow("warning") << 1005 << "Warning" << "#fee600";
        QTest::newRow("scanning") << 1010 << "Scanning" << "#fee600";
        QTest::newRow("updating") << 1011 << "Updating" << "#fee600";
        QTest::newRow("busy") << 1999 << "Warning" << "#fee600";
        QTest::newRow("error") << 2000 << "Error" << "#ff6052";
    }
    void statusShowsOnTheButton()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(QString, colour);
        // From another status, so that every row is a change.
        panel->msgIn(ZorMessage(KM_STATUS, KS_ANSWER, status == 1 ? 2 : 1));
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, status));
        QPushButton *button = startButton();
        QCOMPARE(button->text(), text);
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(button->palette().color(group, QPalette::Button).name(), colour);
        const bool open = status != 0;
        QCOMPARE(button->isChecked(), open);
        QCOMPARE(stopButton()->isEnabled(), open);
        QCOMPARE(ports()->isEnabled(), !open);
        QCOMPARE(rates()->isEnabled(), !open);
        QCOMPARE(child<QLabel>("labelCOM")->isEnabled(), !open);
        QVERIFY(sent.isEmpty());   // the module's status sends nothing back
    }

    void onlyReportsCount()
    {
        panel->msgIn(ZorMessage(KM_STATUS, KS_REQUEST, 2000));
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_REQUEST, QStringLiteral("asked")));
        QCOMPARE(startButton()->text(), QStringLiteral("Start Interface"));
        // The same status twice: the second changes nothing.
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 1005));
        startButton()->setText(QStringLiteral("marker"));
        panel->msgIn(ZorMessage(KM_STATUS, KS_ANSWER, 1005));
        QCOMPARE(startButton()->text(), QStringLiteral("marker"));

        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("Open (250K)")));
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QString()));
        const QString log = child<QPlainTextEdit>("plainTextEditStatus")->toPlainText();
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} Open \\(250K\\)$")
                    .match(log)
                    .hasMatch());
    }

    void lampsFollowTraffic()
    {
        auto *timer = panel->findChild<QTimer *>(QStringLiteral("lampTimer"));
        QVERIFY(timer);
        // All three light at start and go dark by themselves.
        QCOMPARE(lamps(), QStringLiteral("TRE"));
        QTRY_COMPARE(lamps(), QStringLiteral("---"));

        panel->msgIn(ZorMessage(KM_COMM_STATUS, KS_INFO, 3));
        QCOMPARE(lamps(), QStringLiteral("TR-"));
        QTest::qWait(60);
        // The same report again does not keep them lit longer.
        panel->msgIn(ZorMessage(KM_COMM_STATUS, KS_INFO, 3));
        QVERIFY2(timer->remainingTime() < 200, qPrintable(QString::number(timer->remainingTime())));
        QTRY_COMPARE(lamps(), QStringLiteral("---"));
        QCOMPARE(panel->lampFlags(), 0);

        // Another report restarts the lamps' time; lit lamps stay lit.
        panel->msgIn(ZorMessage(KM_COMM_STATUS, KS_INFO, 3));
        panel->msgIn(ZorMessage(KM_COMM_STATUS, KS_INFO, 1));
        QCOMPARE(lamps(), QStringLiteral("TR-"));
        QVERIFY(timer->remainingTime() > 200);
        panel->msgIn(ZorMessage(KM_COMM_STATUS, KS_INFO, 4));
        QCOMPARE(lamps(), QStringLiteral("TRE"));
        QTRY_COMPARE(lamps(), QStringLiteral("---"));
    }

    void typedPortsAreTrimmedAndSent()
    {
        TestDomModel model;
        model.addModule("canusb", "CAN1");
        QVERIFY(panel->setupZorPanel(model.moduleIndex("CAN1"), &model));
        QCOMPARE(sentTexts(KM_GETPROPERTY), QStringList({"Port", "Baudrate"}));
        const int builtIn = ports()->count();

        typePortAndLeave(QStringLiteral(" COM7 "));
        QCOMPARE(ports()->count(), builtIn + 1);
        QCOMPARE(ports()->currentText(), QStringLiteral("COM7"));
        QCOMPARE(ports()->itemText(builtIn), QStringLiteral("COM7"));
        QCOMPARE(sentTexts(KM_SETPROPERTY), QStringList({"Port=COM7"}));

        // Letter case tells ports apart; Enter works like leaving the field.
        ports()->lineEdit()->clear();
        QTest::keyClicks(ports()->lineEdit(), QStringLiteral(" com7"));
        QTest::keyClick(ports()->lineEdit(), Qt::Key_Return);
        QCOMPARE(items(ports()).mid(builtIn), QStringList({"COM7", "com7"}));
        QCOMPARE(sentTexts(KM_SETPROPERTY).last(), QStringLiteral("Port=com7"));

        // A known entry is selected, not added again.
        typePortAndLeave(QStringLiteral("kvaser "));
        QCOMPARE(ports()->count(), builtIn + 2);
        QCOMPARE(sentTexts(KM_SETPROPERTY).last(), QStringLiteral("Port=kvaser"));

        // An empty field means the first adapter found.
        typePortAndLeave(QString());
        QCOMPARE(ports()->currentIndex(), 0);
        QCOMPARE(sentTexts(KM_SETPROPERTY).last(), QStringLiteral("Port=(first found)"));

        rates()->setCurrentText(QStringLiteral("(Scan)"));
        QCOMPARE(sentTexts(KM_SETPROPERTY).last(), QStringLiteral("Baudrate=(Scan)"));
        // The module's answer in its own words selects the matching entry.
        panel->msgIn(ZorMessage(KM_SETPROPERTY, KS_INFO, QStringLiteral("Baudrate=125K")));
        QCOMPARE(rates()->currentText(), QStringLiteral("125K"));
    }

    // The module keeps "Baudrate" as it was written; the box shows that
    // rate in any form, adds one it lacks, and writes nothing back.
    void storedBitRateIsShownInEveryForm_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("entries");
        QTest::newRow("number") << "500000" << "500K" << 9;
        QTest::newRow("short") << "500K" << "500K" << 9;
        QTest::newRow("lower case") << "500k" << "500K" << 9;
        QTest::newRow("mega") << "1000000" << "1M" << 9;
        QTest::newRow("scan") << "scan" << "(Scan)" << 9;
        QTest::newRow("not listed") << "83333" << "83333" << 10;
        QTest::newRow("not listed, short") << "10K" << "10K" << 10;
    }
    void storedBitRateIsShownInEveryForm()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(int, entries);
        // As a project file holds it (the template and the demos: "500000").
        TestDomModel model;
        model.addModule("canusb", "CAN1", QString(),
                        "<properties><Baudrate>" + stored + "</Baudrate></properties>");
        std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> module(new ZorModCanInterface);
        QVERIFY(module->setupZorModule(model.moduleIndex("CAN1"), &model));
        const QString held = module->property("Baudrate");
        connect(panel, &ZorPanel::msgOut, module.get(), &ZorModule::slaveIn);
        connect(module.get(), &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->start();
        rates()->setCurrentIndex(2);
        QVERIFY(panel->setupZorPanel(model.moduleIndex("CAN1"), &model));
        QTRY_COMPARE(rates()->currentText(), shown);
        QCOMPARE(rates()->count(), entries);
        QVERIFY(sentTexts(KM_SETPROPERTY).isEmpty());
        QCOMPARE(module->property("Baudrate"), held);
        // A rate the list lacked sits in order of its value, before "(Scan)".
        QStringList listed = items(rates());
        listed.removeLast();
        QStringList byRate = listed;
        std::sort(byRate.begin(), byRate.end(), [](const QString &a, const QString &b) {
            return ZorBabelFish::fromSuffixedStrToNumber(a) < ZorBabelFish::fromSuffixedStrToNumber(b);
        });
        QCOMPARE(listed, byRate);

        // The user's choice goes to the module as it stands in the list.
        rates()->setCurrentText(QStringLiteral("250K"));
        QTRY_COMPARE(module->property("Baudrate"), QStringLiteral("250K"));
    }

    void buttonsOpenAndClose()
    {
        TestDomModel model;
        model.addModule("canusb", "CAN1");
        QVERIFY(panel->setupZorPanel(model.moduleIndex("CAN1"), &model));
        sent.clear();
        startButton()->click();
        startButton()->click();
        startButton()->click();
        stopButton()->click();
        QStringList types;
        for (const ZorMessage &m : sent) {
            types << ZorMessage::msgTypeName(m.msgType());
            QCOMPARE(m.msgState(), int(KS_REQUEST));
            QVERIFY(m.data().toString().isEmpty());
        }
        QCOMPARE(types, QStringList({"KM_COMM_OPEN", "KM_COMM_CLOSE", "KM_COMM_OPEN",
                                     "KM_COMM_CLOSE"}));

        // Esc stops an open interface while the focus is in the panel, and
        // nowhere else.
        QWidget other;
        auto *elsewhere = new QLineEdit(&other);
        panel->setParent(&other);
        auto giveBack = qScopeGuard([this] { panel->setParent(nullptr); });
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 1));
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 0));
        sent.clear();
        QWidget *inside = child<QPlainTextEdit>("plainTextEditStatus");
        inside->setFocus();
        QTest::keyClick(inside, Qt::Key_Escape);   // closed: nothing to stop
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 1));
        elsewhere->setFocus();
        QTest::keyClick(elsewhere, Qt::Key_Escape);
        QVERIFY(sent.isEmpty());
        inside->setFocus();
        QTest::keyClick(inside, Qt::Key_Escape);
        QCOMPARE(sentTexts(KM_COMM_CLOSE).size(), 1);
    }

    void aKelvatroInterfaceHasNoChoices()
    {
        TestDomModel model;
        model.addModule("kelvatro", "K1");
        panel->show();
        QVERIFY(panel->setupZorPanel(model.moduleIndex("K1"), &model));
        QVERIFY(!ports()->isVisible());
        QVERIFY(!rates()->isVisible());
        QVERIFY(!child<QLabel>("labelCOM")->isVisible());
        QVERIFY(!child<QLabel>("labelBaud")->isVisible());
        rates()->setCurrentIndex(2);
        QVERIFY(sentTexts(KM_GETPROPERTY).isEmpty());
        QVERIFY(sentTexts(KM_SETPROPERTY).isEmpty());
    }

    // A gateway that refuses the connection: the status log names the
    // socket's reason and the address, not only "Could not open interface.".
    void connectionErrorsNameTheReason()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        QVERIFY(gw.drop());
        TestDomModel model;
        model.addModule("canusb", "CAN1");
        std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> module(new ZorModCanInterface);
        QVERIFY(module->setupZorModule(model.moduleIndex("CAN1"), &model));
        module->setProperty("Port", gw.address(), false);
        module->setProperty("Baudrate", "250K", false);
        connect(panel, &ZorPanel::msgOut, module.get(), &ZorModule::slaveIn);
        connect(module.get(), &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->start();
        QVERIFY(panel->setupZorPanel(model.moduleIndex("CAN1"), &model));
        startButton()->click();
        QTRY_COMPARE(startButton()->text(), QStringLiteral("Error"));
        const QString log = child<QPlainTextEdit>("plainTextEditStatus")->toPlainText();
        QVERIFY2(log.contains("Network error: Connection refused (" + gw.address() + ")"),
                 qPrintable(log));
    }

    void drivesTheInterfaceOnTheSimulatedBus()
    {
        SimGateway gw;
        QVERIFY2(gw.start({"--node", "5 heartbeat=50"}), qPrintable(gw.errorString()));
        TestDomModel model;
        model.addModule("canusb", "CAN1");
        std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> module(new ZorModCanInterface);
        QVERIFY(module->setupZorModule(model.moduleIndex("CAN1"), &model));
        connect(panel, &ZorPanel::msgOut, module.get(), &ZorModule::slaveIn);
        connect(module.get(), &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->start();
        QVERIFY(panel->setupZorPanel(model.moduleIndex("CAN1"), &model));
        QTRY_COMPARE(ports()->currentText(), QStringLiteral("(first found)"));

        typePortAndLeave(gw.address());
        rates()->setCurrentText(QStringLiteral("250K"));
        QTRY_COMPARE(module->property("Port"), gw.address());
        QTRY_COMPARE(module->property("Baudrate"), QStringLiteral("250K"));

        startButton()->click();
        QTRY_COMPARE(startButton()->text(), QStringLiteral("Running"));
        QCOMPARE(startButton()->palette().color(QPalette::Button).name(), QStringLiteral("#5ebe37"));
        QVERIFY(!ports()->isEnabled());
        QTRY_VERIFY(child<QPlainTextEdit>("plainTextEditStatus")->toPlainText().contains("Open (250K)"));

        // The node's heartbeats make the receive lamp blink.
        QTRY_COMPARE(lamps().at(1), QLatin1Char('R'));
        QTRY_COMPARE(lamps().at(1), QLatin1Char('-'));
        QTRY_COMPARE(lamps().at(1), QLatin1Char('R'));

        stopButton()->click();
        QTRY_COMPARE(startButton()->text(), QStringLiteral("Start Interface"));
        QVERIFY(!startButton()->isChecked());
        QVERIFY(ports()->isEnabled());
        QVERIFY(!stopButton()->isEnabled());
        module->stop();
    }
};

ZOR_TEST(TestContentCanInterface)
#include "tst_contentcaninterface.moc"
