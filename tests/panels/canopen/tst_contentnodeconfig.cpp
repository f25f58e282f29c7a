// The node parameter editor against a stand-in node: what its four edit
// modes send, the confirmations, design mode and the properties a project
// may give the module.
#include "nodepaneltesting.h"
#include "testdommodel.h"
#include "zorcontentnodeconfig.h"
#include "zortest.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTableView>
#include <QTest>

namespace {

const char *const nodeCfgSetupList = R"x(<CANopenObjectList>
 <CANopenObject index="1017" objectType="7" dataType="6" accessType="rw" name="Heartbeat" actualValue="1000" zorUiFormat="updates:r,w; shape:dial; range:0,5000; step:20"/>
 <CANopenObject index="2000" objectType="7" dataType="5" accessType="rw" name="Gain" actualValue="18"/>
 <CANopenObject index="2001" objectType="7" dataType="3" accessType="rw" name="Offset" actualValue="-3"/>
</CANopenObjectList>)x";

const QStringList nodeCfgWriteLines = {"001.1017h.00h,unsigned16,1000 # Heartbeat", "001.2000h.00h,unsigned8,18 # Gain",
                                "001.2001h.00h,integer16,-3 # Offset"};
const QStringList nodeCfgReadLines = {"001.1017h.00h,unsigned16, # Heartbeat", "001.2000h.00h,unsigned8, # Gain",
                               "001.2001h.00h,integer16, # Offset"};

} // namespace

class TestContentNodeConfig : public QObject
{
    Q_OBJECT

    TestDomModel *project = nullptr;
    ZorContentNodeConfig *panel = nullptr;
    FakeNode *node = nullptr;

    QAction *action(const char *name) const { return panel->findChild<QAction *>(QLatin1String(name)); }
    QTableView *table() const { return panel->findChild<QTableView *>("tableViewObjEditor"); }

    void bind(const QString &docs)
    {
        project->setXml(TestDomModel::projectXml(
            {{"nodeconfig", "Node1", "node", docs.isEmpty() ? QString() : "<docs>" + docs + "</docs>"}}));
        QVERIFY(panel->setupZorPanel(project->moduleIndex("Node1"), project));
        node->property("NodeId", "1");
    }
    void bindInMode(int mode)
    {
        bind(QStringLiteral("<SetupObjects>%1</SetupObjects><EditModeDoc><EditMode>%2</EditMode></EditModeDoc>")
                 .arg(nodeCfgSetupList)
                 .arg(mode));
        QCOMPARE(panel->editMode(), mode);
        node->sent.clear();
    }
    void selectAllRows() { table()->selectAll(); }

private slots:
    void init()
    {
        project = new TestDomModel;
        panel = new ZorContentNodeConfig;
        node = new FakeNode(panel);
    }
    void cleanup()
    {
        delete panel;
        delete project;
    }

    // What Write and Read send in each edit mode, with all three rows
    // selected and every question answered OK.
    void editModesSendWhatTheyShould_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("actionName");
        QTest::addColumn<QStringList>("requests"); // in the order sent, each after the last answer
        QTest::addColumn<QStringList>("questions");
        QTest::newRow("0 write") << 0 << "actionWrite" << nodeCfgWriteLines << QStringList();
        QTest::newRow("0 read") << 0 << "actionRead" << nodeCfgReadLines << QStringList();
        QTest::newRow("1 read") << 1 << "actionRead" << QStringList{nodeCfgReadLines.join('\n') + '\n'} << QStringList();
        QTest::newRow("2 write") << 2 << "actionWrite" << QStringList{nodeCfgWriteLines.join('\n') + '\n'}
                                 << QStringList{"Write all parameters"};
        QTest::newRow("2 read") << 2 << "actionRead" << QStringList{nodeCfgReadLines.join('\n') + '\n'} << QStringList();
        QTest::newRow("3 write") << 3 << "actionWrite" << QStringList{nodeCfgWriteLines.join('\n') + "\nStoreCmd"}
                                 << QStringList();
    }
    void editModesSendWhatTheyShould()
    {
        QFETCH(int, mode);
        QFETCH(QString, actionName);
        QFETCH(QStringList, requests);
        QFETCH(QStringList, questions);
        bindInMode(mode);
        selectAllRows();
        QuestionRecorder asked(QMessageBox::Ok);
        action(qPrintable(actionName))->trigger();
        QStringList sent;
        for (int i = 0; i < 10 && !node->unanswered().isEmpty(); ++i) {
            QCOMPARE(node->unanswered().size(), 1);
            QVERIFY(action(qPrintable(actionName))->isChecked());
            sent << node->unanswered().first().data().toString();
            node->answerNext();
        }
        QCOMPARE(sent, requests);
        QCOMPARE(asked.titles(), questions);
        QVERIFY(!action(qPrintable(actionName))->isChecked());
    }

    void modeTableShowsAndHides_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("write");
        QTest::addColumn<bool>("storeAndReset");
        QTest::addColumn<bool>("nodeId");
        QTest::addColumn<bool>("valueEditable");
        QTest::addColumn<QString>("writeTip");
        QTest::addColumn<QString>("readTip");
        QTest::newRow("0") << 0 << true << true << true << true << "Write parameter (temporarily)" << "Read parameter";
        QTest::newRow("1") << 1 << false << false << false << false << "Write parameter (temporarily)"
                           << "Read all parameters";
        QTest::newRow("2") << 2 << true << false << false << true << "Write all parameters (temporarily)"
                           << "Read all parameters";
        QTest::newRow("3") << 3 << true << false << true << true << "Write all parameters (permanently)"
                           << "Read all parameters";
    }
    void modeTableShowsAndHides()
    {
        QFETCH(int, mode);
        QFETCH(bool, write);
        QFETCH(bool, storeAndReset);
        QFETCH(bool, nodeId);
        QFETCH(bool, valueEditable);
        QFETCH(QString, writeTip);
        QFETCH(QString, readTip);
        bindInMode(mode);
        QCOMPARE(action("actionWrite")->isVisible(), write);
        QCOMPARE(action("actionStore")->isVisible(), storeAndReset);
        QCOMPARE(action("actionReset")->isVisible(), storeAndReset);
        QCOMPARE(panel->findChild<QComboBox *>("comboBoxId")->isEnabled(), nodeId);
        QCOMPARE(bool(panel->model()->flags(panel->model()->index(0, 5)) & Qt::ItemIsEditable), valueEditable);
        QCOMPARE(action("actionWrite")->toolTip(), writeTip);
        QCOMPARE(action("actionRead")->toolTip(), readTip);
        QCOMPARE(panel->findChild<QLabel *>("labelEditModeDisplayedVal")->text(),
                 panel->findChild<QComboBox *>("comboBoxEditMode")->itemText(mode));
    }

    void modeZeroWithoutSelection()
    {
        bindInMode(0);
        table()->clearSelection();
        QuestionRecorder asked(QMessageBox::Cancel);
        action("actionWrite")->trigger();
        QCOMPARE(asked.titles(), QStringList{"Write Parameters"});
        QCOMPARE(asked.asked.first().text, QStringLiteral("No parameters selected.\nSelect and write ALL parameters?"));
        QCOMPARE(asked.asked.first().defaultButton, QMessageBox::Cancel);
        QVERIFY(node->sent.isEmpty());
        QVERIFY(!action("actionWrite")->isChecked());
        // Read asks nothing and reads every row.
        table()->clearSelection();
        panel->actionRead();
        QCOMPARE(asked.asked.size(), 1);
        QCOMPARE(node->textsOf(KM_OBJLIST_READ), QStringList{nodeCfgReadLines.first()});
        QCOMPARE(panel->queuedRequests(), 2);
    }

    void uncheckingStopsTheList()
    {
        // Mode 0: the rows still queued show "aborted".
        bindInMode(0);
        selectAllRows();
        action("actionRead")->trigger();
        action("actionRead")->trigger();
        QCOMPARE(panel->queuedRequests(), 0);
        QVERIFY(panel->model()->index(2, 10).data().toString().endsWith("aborted"));
        QVERIFY(node->ofType(KM_CANCEL_INTERVIEWS).isEmpty());
        // Modes 1 to 3: the module cancels.
        panel->processIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "EditMode=2"));
        node->sent.clear();
        action("actionRead")->trigger();
        action("actionRead")->trigger();
        QCOMPARE(node->ofType(KM_CANCEL_INTERVIEWS).size(), 1);
    }

    void answersOfOtherPanelsAreNotTaken()
    {
        bindInMode(0);
        selectAllRows();
        action("actionRead")->trigger();
        panel->msgIn(ZorMessage(KM_OBJLIST_READ, KS_ANSWER, "001.1017h.00h,unsigned16,7"));
        QCOMPARE(panel->model()->index(0, 5).data().toString(), QStringLiteral("1000"));
        QCOMPARE(panel->queuedRequests(), 2);
        // The module's own answer: its time budget ran out for the line.
        node->answer(node->unanswered().first(), KS_TIMEOUT, "001.1017h.00h,unsigned16,,timeout # Heartbeat\n");
        QCOMPARE(panel->model()->index(0, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 3);
        QCOMPARE(panel->model()->index(0, 5).data().toString(), QStringLiteral("1000"));
        QCOMPARE(panel->queuedRequests(), 1);
    }

    void storeAndResetConfirm_data()
    {
        addStoreAndResetRows();
    }
    void storeAndResetConfirm()
    {
        QFETCH(QString, actionName);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, command);
        bindInMode(0);
        QuestionRecorder asked(QMessageBox::Cancel);
        action(qPrintable(actionName))->trigger();
        QVERIFY(node->sent.isEmpty());
        asked.buttons = {QMessageBox::Ok};
        action(qPrintable(actionName))->trigger();
        QCOMPARE(asked.asked.first().title, title);
        QCOMPARE(asked.asked.first().text, text);
        QCOMPARE(asked.asked.first().defaultButton, QMessageBox::Cancel);
        QCOMPARE(node->textsOf(KM_OBJLIST_WRITE), QStringList{command});
    }

    void listIsReadAgainAfterAReset()
    {
        bindInMode(0);
        QuestionRecorder asked(QMessageBox::Ok);
        action("actionReset")->trigger();
        // The node module answers with the lines "ResetCmd" stood for.
        node->answer(node->unanswered().first(), KS_ANSWER, "001.1011h.01h,unsigned32,1684107116, # ResetCmd\n");
        QVERIFY(node->ofType(KM_OBJLIST_READ).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!node->ofType(KM_OBJLIST_READ).isEmpty(), 10000);
        QVERIFY(action("actionRead")->isChecked());
    }

    void designModeNeedsAnExpert()
    {
        bindInMode(0);
        auto *design = action("actionToggleDesignMode");
        panel->setUserLevel(2);
        QVERIFY(design->isVisible());
        design->trigger();
        QVERIFY(design->isChecked());
        for (int column : {8, 9, 11, 12, 13})
            QVERIFY(!table()->isColumnHidden(column));
        QVERIFY(panel->model()->flags(panel->model()->index(0, 3)) & Qt::ItemIsEditable);
        QVERIFY(action("actionPaste")->isVisible());

        panel->setUserLevel(1);
        QVERIFY(!design->isVisible());
        QVERIFY(!design->isChecked());
        for (int column : {8, 9, 11, 12, 13})
            QVERIFY(table()->isColumnHidden(column));
        QVERIFY(!(panel->model()->flags(panel->model()->index(0, 3)) & Qt::ItemIsEditable));
        QVERIFY(!action("actionPaste")->isVisible());
    }

    void pasteOnlyInDesignMode()
    {
        bind(QString());
        panel->setUserLevel(2);
        QWidget *hint = panel->findChild<QWidget *>("hintLabel");
        QVERIFY(hint->isVisibleTo(panel));
        auto *mime = new QMimeData;
        mime->setText(nodeCfgSetupList);
        QApplication::clipboard()->setMimeData(mime);
        panel->on_actionPaste_triggered();
        QCOMPARE(panel->model()->rowCount(), 0);
        action("actionToggleDesignMode")->trigger();
        panel->on_actionPaste_triggered();
        QCOMPARE(panel->model()->rowCount(), 3);
        QVERIFY(!hint->isVisibleTo(panel));
        // Formats are normalised for the value editor as rows come in.
        QCOMPARE(panel->model()->index(0, 11).data().toString(), QStringLiteral("type:integer; range:0,5000"));
        panel->setUserLevel(1);
        panel->setObjects(QDomDocument());
        QVERIFY(!hint->isVisibleTo(panel)); // no design mode at this level
    }

    void propertiesOfTheModuleAtSetUp()
    {
        bind(QString());
        QStringList asked = node->textsOf(KM_GETPROPERTY);
        for (const char *name : {"NodeId", "Icon", "NodeObjects", "ReadOnly", "EditMode"})
            QVERIFY2(asked.contains(QLatin1String(name)), name);
        node->sent.clear();
        node->property("ReadOnly", "1");
        QCOMPARE(panel->editMode(), 1);
        node->property("NodeObjects", nodeCfgSetupList);
        QCOMPARE(panel->model()->rowCount(), 3);
        QCOMPARE(node->textsOf(KM_SETPROPERTY), QStringList({"ReadOnly=", "NodeObjects="}));
        node->property("EditMode", "");
        QCOMPARE(panel->editMode(), 1);
        QCOMPARE(node->textsOf(KM_SETPROPERTY).size(), 2);
        node->property("EditMode", "3");
        QCOMPARE(panel->editMode(), 3);
    }

    void documentsAreStoredAndTakenAtSetUp()
    {
        bindInMode(2);
        QVERIFY(!node->textsOf(KM_GETPROPERTY).contains("ReadOnly"));
        panel->processIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "EditMode=3"));
        panel->model()->setData(panel->model()->index(1, 5), "77", Qt::EditRole);
        QVERIFY(panel->commitPanelSettings().isEmpty());
        const QDomElement docs = project->moduleElement("Node1").firstChildElement("docs");
        QCOMPARE(docs.firstChildElement("EditModeDoc").firstChildElement().text(), QStringLiteral("3"));

        ZorContentNodeConfig second;
        FakeNode secondNode(&second);
        QVERIFY(second.setupZorPanel(project->moduleIndex("Node1"), project));
        QCOMPARE(second.editMode(), 3);
        QCOMPARE(second.model()->rowCount(), 3);
        QCOMPARE(second.model()->index(1, 5).data().toString(), QStringLiteral("77"));
    }

    // The value editor beside the table shows the current row's value as
    // it comes from the node, also after the node id (set after the list,
    // at set-up) reset the model.
    void valueEditorFollowsTheAnswers()
    {
        bindInMode(0);
        auto *valueLine = panel->findChild<QWidget *>("editor")->findChild<QLineEdit *>("lineEdit");
        QVERIFY(valueLine);
        QCOMPARE(valueLine->text(), QStringLiteral("1000"));
        node->values.insert("001.1017h.00h", "250");
        table()->clearSelection();
        action("actionRead")->trigger();
        while (node->answerNext()) {
        }
        QCOMPARE(panel->model()->index(0, 5).data().toString(), QStringLiteral("250"));
        QCOMPARE(valueLine->text(), QStringLiteral("250"));
    }

    // One object the node does not hold makes the module's answer KS_FAIL;
    // the list modes show every other row's value all the same.
    void listModesShowEachRowsOwnResult()
    {
        bindInMode(1);
        node->values.insert("001.1017h.00h", "250");
        node->values.insert("001.2001h.00h", "-7");
        action("actionRead")->trigger();
        node->answerNext(KS_FAIL); // 2000h: "timeout"
        ZorObjEditModel *model = panel->model();
        QCOMPARE(model->index(0, 5).data().toString(), QStringLiteral("250"));
        QCOMPARE(model->index(2, 5).data().toString(), QStringLiteral("-7"));
        for (int row : {0, 2})
            QCOMPARE(model->index(row, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 1);
        QCOMPARE(model->index(1, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 3);
        QVERIFY(model->index(1, 10).data().toString().endsWith("timeout"));
        QVERIFY(!action("actionRead")->isChecked());
    }

    // Showing a row in the value editor neither writes nor marks it, also
    // when its value lies outside the editor's range or is no number.
    void selectingRowsChangesNothing()
    {
        bind(QStringLiteral("<SetupObjects><CANopenObjectList>"
                            "<CANopenObject index='1017' objectType='7' dataType='6' accessType='rw' name='Out of range'"
                            " actualValue='9000' zorUiFormat='shape:slider; range:0,5000'/>"
                            "<CANopenObject index='1000' objectType='7' dataType='7' accessType='rw' name='Hex'"
                            " actualValue='0x00020192' zorUiFormat='shape:dial; range:0,100'/>"
                            "<CANopenObject index='2000' objectType='7' dataType='5' accessType='rw' name='Plain'"
                            " actualValue='18' zorUiFormat='shape:text'/>"
                            "</CANopenObjectList></SetupObjects>"));
        // The panel shows row 0 at once.
        ZorObjEditModel *model = panel->model();
        for (int row = 0; row < 3; ++row)
            QCOMPARE(model->index(row, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 0);
        const QString before = model->toXml();
        for (int round = 0; round < 2; ++round) {
            for (int row : {0, 1, 2, 0})
                table()->selectRow(row);
        }
        QCOMPARE(model->toXml(), before);
        QCOMPARE(model->index(0, 5).data().toString(), QStringLiteral("9000"));
        QCOMPARE(model->index(1, 5).data().toString(), QStringLiteral("0x00020192"));
        auto *valueLine = panel->findChild<QWidget *>("editor")->findChild<QLineEdit *>("lineEdit");
        table()->selectRow(0);
        QCOMPARE(valueLine->text(), QStringLiteral("9000"));
        QVERIFY(node->ofType(KM_OBJLIST_WRITE).isEmpty());
    }

    // A scaling formula that never ends is given up after about 50 ms and
    // refused from then on: the panel opens and shows the raw value.
    void runawayScalingFormulaIsRefused()
    {
        bind(QStringLiteral("<SetupObjects><CANopenObjectList>"
                            "<CANopenObject index='2000' objectType='7' dataType='5' accessType='rw' name='Runaway'"
                            " actualValue='18' zorScaling='=(function(){for(;;){}})()'/>"
                            "</CANopenObjectList></SetupObjects>"));
        ZorObjEditModel *model = panel->model();
        QCOMPARE(model->index(0, 5).data().toString(), QStringLiteral("18"));
        QVERIFY2(model->index(0, 5).data(Qt::ToolTipRole).toString().contains("Scaling refused"),
                 qPrintable(model->index(0, 5).data(Qt::ToolTipRole).toString()));
        QVERIFY(model->index(0, 13).data(Qt::ToolTipRole).toString().contains("50 ms"));
    }

    void statusLine()
    {
        bindInMode(0);
        auto *state = panel->findChild<QLineEdit *>("lineEditState");
        node->report(KM_INFOTEXT, "Started");
        node->report(KM_INFOTEXT, "Emergency 1000h from node 1");
        QCOMPARE(state->text(), QStringLiteral("Started"));
        node->report(KM_STATUS, 1200);
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FEE600; color:black"));
        node->report(KM_STATUS, 2000);
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        // A text longer than the field shows from its start, whole in the tip.
        const QString longText = "Writing objects OK: Node1, level1, 700 objects, and more words than fit";
        node->report(KM_INFOTEXT, longText);
        QCOMPARE(state->cursorPosition(), 0);
        QCOMPARE(state->toolTip(), longText);
    }
};

ZOR_TEST(TestContentNodeConfig)
#include "tst_contentnodeconfig.moc"
