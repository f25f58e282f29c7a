#include "startstopmodule.h"
#include "testdommodel.h"
#include "zorcontentdefault.h"
#include "zortest.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

class TestContentDefault : public QObject
{
    Q_OBJECT

    QList<ZorMessage> sent;

    QLineEdit *stateLine() const { return panel->findChild<QLineEdit *>("lineEditState"); }
    QPushButton *button(const char *name) const { return panel->findChild<QPushButton *>(name); }
    QPlainTextEdit *log() const { return panel->findChild<QPlainTextEdit *>("plainTextStatus"); }
    QStringList requestedProperties() const
    {
        QStringList names;
        for (const ZorMessage &m : sent)
            if (m.msgType() == KM_GETPROPERTY)
                names << m.data().toString();
        return names;
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        panel = new ZorContentDefault;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup() { delete panel; }

    void setupAsksForAllPropertiesAndReadOnly()
    {
        TestDomModel model;
        model.addModule("joystick", "Stick");
        QVERIFY(panel->setupZorPanel(model.moduleIndex("Stick"), &model));
        QCOMPARE(sent.size(), 4);
        QCOMPARE(sent.at(2).msgType(), int(KM_GETALLPROPERTIES));
        QCOMPARE(sent.at(3).msgType(), int(KM_GETPROPERTY));
        QCOMPARE(sent.at(3).data().toString(), QStringLiteral("_ReadOnly"));
        for (const ZorMessage &m : sent)
            QCOMPARE(m.origin(), QStringLiteral("GUI"));
    }

    void gridRowsFromThePropertyList()
    {
        panel->msgIn(ZorMessage(KM_GETALLPROPERTIES, KS_ANSWER,
                                QStringLiteral("Port=COM1\nUpdateInterval [msec]=100\n"
                                               "_Hidden=1\nFormula=x=2*y\nBare\n"
                                               "OperationMode [0-Standard | 1-Cogging Comp. | "
                                               "2-CCM Reference Run | 3-StepDir | 4 - No Init]=0")));
        auto *grid = panel->findChild<QGridLayout *>("gridStatus");
        QVERIFY(grid);
        auto labelAt = [grid](int row) {
            auto *item = grid->itemAtPosition(row, 0);
            auto *label = item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
            return label ? label->text() : QString();
        };
        QCOMPARE(labelAt(2), QStringLiteral("Port"));
        QCOMPARE(labelAt(3), QStringLiteral("UpdateInterval [msec]"));
        QCOMPARE(labelAt(4), QStringLiteral("Formula"));
        QCOMPARE(labelAt(5), QStringLiteral("Bare"));
        // A long name is broken into lines that the row's height holds.
        const QStringList lines = labelAt(6).split('\n');
        QCOMPARE(lines.join(' '), QStringLiteral("OperationMode [0-Standard | 1-Cogging Comp. | "
                                                 "2-CCM Reference Run | 3-StepDir | 4 - No Init]"));
        for (const QString &line : lines)
            QVERIFY2(line.size() <= 40, qPrintable(line));
        QCOMPARE(grid->rowCount(), 7);
        QCOMPARE(panel->editorOf("Port")->text(), QStringLiteral("COM1"));
        QCOMPARE(panel->editorOf("UpdateInterval [msec]")->text(), QStringLiteral("100"));
        QCOMPARE(panel->editorOf("Formula")->text(), QStringLiteral("x=2*y"));
        QVERIFY(!panel->editorOf("_Hidden"));
        // Registered under the key: the name's first word.
        QCOMPARE(requestedProperties(), QStringList({"Port", "UpdateInterval", "Formula", "Bare", "OperationMode"}));

        // The grid is built once.
        panel->msgIn(ZorMessage(KM_GETALLPROPERTIES, KS_ANSWER, QStringLiteral("Other=1")));
        QVERIFY(!panel->editorOf("Other"));
    }

    void readOnlyNamesCompareTheFirstWordInAnyCase()
    {
        panel->msgIn(ZorMessage(KM_GETALLPROPERTIES, KS_ANSWER,
                                QStringLiteral("Port=COM1\nUpdateInterval [msec]=100")));
        QLineEdit *port = panel->editorOf("Port");
        QLineEdit *interval = panel->editorOf("UpdateInterval [msec]");
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER,
                                QStringLiteral("_ReadOnly=Baudrate, updateinterval")));
        QVERIFY(interval->isReadOnly());
        QVERIFY(!interval->isEnabled());
        QVERIFY(!port->isReadOnly());
        QVERIFY(port->isEnabled());

        panel->msgIn(ZorMessage(KM_SETPROPERTY, KS_INFO, QStringLiteral("_ReadOnly=")));
        QVERIFY(!interval->isReadOnly());
        QVERIFY(interval->isEnabled());
    }

    void statusColoursAndButtons()
    {
        QLineEdit *state = stateLine();
        panel->msgIn(ZorMessage(KM_STATUS, KS_ANSWER, 1500));
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FEE600; color:black"));
        QVERIFY(button("pushButtonStart")->isChecked());
        QVERIFY(!button("pushButtonStart")->isEnabled());
        QVERIFY(button("pushButtonStop")->isEnabled());
        // The same status again changes nothing.
        state->setStyleSheet(QStringLiteral("marker"));
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 1500));
        QCOMPARE(state->styleSheet(), QStringLiteral("marker"));

        // An error status: the module may still run, so it can be stopped
        // (and started again).
        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, 2000));
        QVERIFY(!button("pushButtonStart")->isChecked());
        QVERIFY(button("pushButtonStart")->isEnabled());
        QVERIFY(button("pushButtonStop")->isEnabled());

        panel->msgIn(ZorMessage(KM_STATUS, KS_INFO, -5));
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));
        QVERIFY(!button("pushButtonStart")->isChecked());
        QVERIFY(button("pushButtonStart")->isEnabled());
        QVERIFY(!button("pushButtonStop")->isEnabled());

        // A request is no report.
        panel->msgIn(ZorMessage(KM_STATUS, KS_REQUEST, 2500));
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));
    }

    void infoAndLogTexts()
    {
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_REQUEST, QStringLiteral("ignored")));
        QVERIFY(stateLine()->text().isEmpty());
        panel->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("Connected")));
        panel->msgIn(ZorMessage(KM_LOGTEXT, KS_INFO, QStringLiteral("raw line")));
        QCOMPARE(stateLine()->text(), QStringLiteral("Connected"));
        const QStringList lines = log()->toPlainText().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} Connected$")
                    .match(lines.at(0))
                    .hasMatch());
        QCOMPARE(lines.at(1), QStringLiteral("raw line"));
    }

    void startAndStopAgainstARunningModule()
    {
        TestDomModel model;
        model.addModule("joystick", "Stick", QString(),
                        "<properties><Port>COM3</Port></properties>");
        StartStopModule module;
        QVERIFY(module.setupZorModule(model.moduleIndex("Stick"), &model));
        connect(panel, &ZorPanel::msgOut, &module, &ZorModule::slaveIn);
        connect(&module, &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module.start();

        QVERIFY(panel->setupZorPanel(model.moduleIndex("Stick"), &model));
        QTRY_VERIFY(panel->editorOf("Port"));
        QLineEdit *port = panel->editorOf("Port");
        QCOMPARE(port->text(), QStringLiteral("COM3"));
        QTRY_VERIFY(panel->editorOf("UpdateInterval [msec]")->isReadOnly());
        QVERIFY(port->isEnabled());

        button("pushButtonStart")->click();
        QVERIFY(button("pushButtonStop")->isEnabled());
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Running"));
        QTRY_VERIFY(!button("pushButtonStart")->isEnabled());
        QCOMPARE(stateLine()->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));

        button("pushButtonStop")->click();
        QTRY_COMPARE(stateLine()->text(), QStringLiteral("Stopped"));
        QTRY_VERIFY(button("pushButtonStart")->isEnabled());
        QVERIFY(!button("pushButtonStart")->isChecked());
        QVERIFY(!button("pushButtonStop")->isEnabled());

        // An edit goes to the module, which stores it in the project.
        port->setText(QStringLiteral("COM9"));
        emit port->editingFinished();
        QTRY_COMPARE(model.storedProperty("Stick", "Port"), QStringLiteral("COM9"));
        QCOMPARE(module.property("Port"), QStringLiteral("COM9"));
        QTRY_COMPARE(panel->lastPropertyValue("Port"), QStringLiteral("COM9"));

        module.stop();
    }

private:
    ZorContentDefault *panel = nullptr;
};

ZOR_TEST(TestContentDefault)
#include "tst_contentdefault.moc"
