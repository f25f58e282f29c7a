// The object dictionary and object editor panel against a stand-in node:
// the dictionary file, objects into the editor, the one-object request
// queue, synch mode, store and reset, export, and the older list forms.
#include "devicedescriptions.h"
#include "nodepaneltesting.h"
#include "testdommodel.h"
#include "zorcontentobjedit.h"
#include "zortest.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QSignalSpy>
#include <QTreeView>
#include <functional>

namespace {

const char *const objEditList = R"x(<CANopenObjectList>
 <CANopenObject index="1000" objectType="7" dataType="0007" accessType="ro" name="Device type" zorUiFormat="updates:r1000; shape:label"/>
 <CANopenObject index="1017" objectType="7" dataType="0006" accessType="rw" name="Producer heartbeat time" actualValue="1000" defaultValue="0" zorUiFormat="updates:r,w; shape:text"/>
 <CANopenObject index="2000" objectType="7" dataType="0005" accessType="rw" name="Byte" actualValue="18" defaultValue="5" zorUiFormat="updates:r,w"/>
</CANopenObjectList>)x";

QString objEditNodeElement(const QString &docs)
{
    return docs.isEmpty() ? QString() : QStringLiteral("<docs>%1</docs>").arg(docs);
}

class ObjEditTestPanel : public ZorContentObjEdit
{
public:
    QString openName;
    QString saveName;

protected:
    QString askOpenFileName(const QString &, const QString &, const QString &) override { return openName; }
    QString askSaveFileName(const QString &, const QString &, const QString &) override { return saveName; }
};

void objEditFocus(QWidget *view)
{
    QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
    QApplication::sendEvent(view, &in);
}

} // namespace

class TestContentObjEdit : public QObject
{
    Q_OBJECT

    TestDomModel *project = nullptr;
    ObjEditTestPanel *panel = nullptr;
    FakeNode *node = nullptr;

    template<class T>
    T *child(const char *name) const
    {
        return panel->findChild<T *>(QLatin1String(name));
    }
    QAction *action(const char *name) const { return child<QAction>(name); }
    QTreeView *tree() const { return child<QTreeView>("treeViewDeviceCfg"); }
    QTableView *table() const { return child<QTableView>("tableViewEditor"); }
    ZorObjEditModel *editor() const { return panel->editorModel(); }
    QString cell(int row, int column) const
    {
        return editor()->index(row, column).data().toString();
    }

    // A panel bound to the node "Node1" whose element holds `inner`.
    void bind(const QString &inner = QString())
    {
        project->setXml(TestDomModel::projectXml({{"nodeconfig", "Node1", "node", inner}}));
        QVERIFY(panel->setupZorPanel(project->moduleIndex("Node1"), project));
        node->property("NodeId", "1");
    }
    void bindWithList() { bind(objEditNodeElement(QStringLiteral("<EditorObjects>%1</EditorObjects>").arg(objEditList))); }
    // Description files are read in the background: starts a load and
    // waits until the tree shows its outcome.
    bool whenLoaded(const std::function<void()> &start)
    {
        QSignalSpy loaded(panel, &ZorContentObjEdit::dictionaryLoaded);
        start();
        return loaded.wait(10000);
    }

private slots:
    // The panel warns in a message box about a dictionary it cannot read:
    // without the sample files the tests that open them skip.
    void init()
    {
        project = new TestDomModel;
        panel = new ObjEditTestPanel;
        node = new FakeNode(panel);
    }
    void cleanup()
    {
        delete panel;
        delete project;
        QApplication::clipboard()->clear();
    }

    void dictionaryOpensAndObjectsMergeIntoTheEditor()
    {
        ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS();
        bind();
        QuestionRecorder questions;
        panel->openName = deviceDescription("demoDevice.xdd");
        QVERIFY(whenLoaded([this] { action("actionOpen")->trigger(); }));
        QVERIFY(questions.asked.isEmpty());
        QCOMPARE(panel->dictionaryModel()->rowCount(), 48);
        QCOMPARE(child<QLineEdit>("lineEditFilePath")->text(), panel->openName);
        QVERIFY(node->textsOf(KM_SETPROPERTY).contains("ConfigFilePath=" + panel->openName));
        QVERIFY(action("actionAdd")->isEnabled());
        QVERIFY(!action("actionRead")->isEnabled()); // nothing in the editor yet

        // Double-click: the object with its value, default and UI format.
        const QModelIndex deviceType = panel->dictionaryProxy()->index(0, 3);
        QCOMPARE(deviceType.data().toString(), QStringLiteral("Device type"));
        QMetaObject::invokeMethod(panel, "on_treeViewDeviceCfg_doubleClicked", Q_ARG(QModelIndex, deviceType));
        QCOMPARE(editor()->rowCount(), 1);
        QCOMPARE(cell(0, 0), QStringLiteral("1000h"));
        QCOMPARE(cell(0, 6), QStringLiteral("0x000F0191"));
        QCOMPARE(cell(0, 8), QStringLiteral("unsigned32"));
        QCOMPARE(cell(0, 11), QStringLiteral("updates:r1000; shape:label"));
        QVERIFY(action("actionRead")->isEnabled());

        // Add, with the tree focused: a record brings its variables; adding
        // again changes no row count.
        panel->dictionaryProxy()->setFilterWildcard("1018");
        const QModelIndex identity = panel->dictionaryProxy()->index(0, 0);
        tree()->selectionModel()->select(identity, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        action("actionAdd")->trigger();
        QCOMPARE(editor()->rowCount(), 1); // the tree did not have the focus
        objEditFocus(tree());
        action("actionAdd")->trigger();
        QCOMPARE(editor()->rowCount(), 6);
        action("actionAdd")->trigger();
        QCOMPARE(editor()->rowCount(), 6);
        QCOMPARE(cell(1, 4), QStringLiteral("001.1018h.00h"));
        QCOMPARE(cell(5, 3), QStringLiteral("Serial number"));
    }

    void unreadableDictionaryWarnsAndLeavesAnEmptyTree()
    {
        ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS();
        bind();
        QTemporaryDir dir;
        QFile bad(dir.filePath("broken.xdd"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("<ISO15745ProfileContainer><CANopenObjectList>");
        bad.close();
        panel->openName = deviceDescription("demoDevice.xdd");
        QVERIFY(whenLoaded([this] { action("actionOpen")->trigger(); }));
        node->sent.clear();

        QuestionRecorder questions(QMessageBox::Ok);
        panel->openName = bad.fileName();
        QVERIFY(whenLoaded([this] { action("actionOpen")->trigger(); }));
        QCOMPARE(questions.titles(), QStringList{"File error"});
        QVERIFY(questions.asked.first().text.startsWith("Could not open\n" + bad.fileName() + "\n\n"));
        QCOMPARE(panel->dictionaryModel()->rowCount(), 0);
        QVERIFY(node->ofType(KM_SETPROPERTY).isEmpty());
        QVERIFY(child<QWidget>("overlayDictionary")->isVisibleTo(panel));
        QVERIFY(!action("actionAdd")->isEnabled());
    }

    void configFilePathFromTheModuleLoadsWithoutAsking()
    {
        ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS();
        bind();
        QuestionRecorder questions;
        QVERIFY(whenLoaded([this] { node->property("ConfigFilePath", deviceDescription("DS301_profile.eds")); }));
        QCOMPARE(panel->dictionaryModel()->rowCount(), 33);
        QVERIFY(whenLoaded([this] { node->property("ConfigFilePath", "/nonexistent/file.xdd"); }));
        QCOMPARE(panel->dictionaryModel()->rowCount(), 0);
        QVERIFY(questions.asked.isEmpty());
    }

    void pasteMergesByDataObjectId()
    {
        bindWithList();
        QCOMPARE(editor()->rowCount(), 3);
        auto *mime = new QMimeData;
        mime->setText(R"(<CANopenObjectList>
            <CANopenObject index="2000" objectType="7" dataType="5" name="Byte" actualValue="77"/>
            <CANopenObject index="1001" objectType="7" dataType="5" name="Error register"/>
            </CANopenObjectList>)");
        QApplication::clipboard()->setMimeData(mime);
        action("actionPaste")->trigger();
        QCOMPARE(editor()->rowCount(), 4);
        QCOMPARE(cell(1, 3), QStringLiteral("Error register"));
        QCOMPARE(cell(3, 5), QStringLiteral("77"));
    }

    void copyNeedsAFocusedView()
    {
        bindWithList();
        table()->selectRow(0);
        QApplication::clipboard()->setText("untouched");
        action("actionCopy")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("untouched"));
        objEditFocus(table());
        action("actionCopy")->trigger();
        QVERIFY(QApplication::clipboard()->text().contains("Device type"));
        action("actionCut")->trigger();
        QCOMPARE(editor()->rowCount(), 2);
    }

    // Reading and writing go one object per request, each after the
    // previous answer; what is queued when the user stops is marked aborted.
    void readSendsOneObjectAfterAnother()
    {
        bindWithList();
        node->values = {{"001.1000h.00h", "131474"}, {"001.1017h.00h", "500"}, {"001.2000h.00h", "3"}};
        node->sent.clear();
        panel->actionRead();
        QVERIFY(action("actionRead")->isChecked());
        QVERIFY(!action("actionWrite")->isEnabled());
        QStringList requests;
        while (!node->unanswered().isEmpty()) {
            QCOMPARE(node->unanswered().size(), 1);
            const ZorMessage request = node->unanswered().first();
            requests << request.data().toString();
            // Answers to other panels' requests change nothing here.
            ZorMessage foreign(KM_OBJLIST_READ, KS_ANSWER, "001.1000h.00h,unsigned32,1");
            panel->msgIn(foreign);
            node->answerNext();
        }
        QCOMPARE(requests, QStringList({"001.1000h.00h,unsigned32, # Device type",
                                        "001.1017h.00h,unsigned16, # Producer heartbeat time",
                                        "001.2000h.00h,unsigned8, # Byte"}));
        QCOMPARE(cell(0, 5), QStringLiteral("131474"));
        QCOMPARE(cell(1, 5), QStringLiteral("500"));
        QVERIFY(!action("actionRead")->isChecked());
        QVERIFY(action("actionWrite")->isEnabled());
        QCOMPARE(editor()->index(2, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 1);
    }

    void stoppingMarksTheQueuedObjectsAborted()
    {
        bindWithList();
        node->values = {{"001.1000h.00h", "7"}};
        node->sent.clear();
        action("actionRead")->trigger();
        QCOMPARE(panel->queuedRequests(), 2);
        const ZorMessage inFlight = node->unanswered().first();
        action("actionRead")->trigger(); // unchecked
        QCOMPARE(panel->queuedRequests(), 0);
        for (int row : {1, 2}) {
            QCOMPARE(editor()->index(row, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 3);
            QVERIFY(cell(row, 10).endsWith("aborted"));
        }
        // A new read starts at once; the answer to the old request still
        // lands in its row.
        action("actionRead")->trigger();
        QCOMPARE(node->unanswered().size(), 2);
        node->answer(inFlight);
        QCOMPARE(cell(0, 5), QStringLiteral("7"));
        QVERIFY(action("actionRead")->isChecked());
        panel->actionRead(); // F5 while reading does nothing
        QCOMPARE(node->unanswered().size(), 1);
    }

    void writeWithNothingSelectedAsksFirst()
    {
        bindWithList();
        node->sent.clear();
        QuestionRecorder questions(QMessageBox::Cancel);
        action("actionWrite")->trigger();
        QCOMPARE(questions.titles(), QStringList{"Write (Download) objects"});
        QCOMPARE(questions.asked.first().text,
                 QStringLiteral("No objects selected in the Object Editor.\nSelect and write ALL Object Editor values?"));
        QCOMPARE(questions.asked.first().defaultButton, QMessageBox::Cancel);
        QVERIFY(!action("actionWrite")->isChecked());
        QVERIFY(node->sent.isEmpty());

        questions.buttons = {QMessageBox::Ok};
        action("actionWrite")->trigger();
        // The read-only object is left out; the others go one by one.
        QCOMPARE(node->textsOf(KM_OBJLIST_WRITE), QStringList{"001.1017h.00h,unsigned16,1000 # Producer heartbeat time"});
        node->answerNext();
        QCOMPARE(node->textsOf(KM_OBJLIST_WRITE).last(), QStringLiteral("001.2000h.00h,unsigned8,18 # Byte"));
        node->answerNext();
        QVERIFY(!action("actionWrite")->isChecked());
        QCOMPARE(cell(0, 10).section(' ', 1), QStringLiteral("is read-only"));
    }

    void storeAndResetAskFirst_data()
    {
        addStoreAndResetRows();
    }
    void storeAndResetAskFirst()
    {
        QFETCH(QString, actionName);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, command);
        bindWithList();
        node->sent.clear();
        QuestionRecorder questions(QMessageBox::Cancel);
        action(qPrintable(actionName))->trigger();
        QVERIFY(node->sent.isEmpty());
        questions.buttons = {QMessageBox::Ok};
        action(qPrintable(actionName))->trigger();
        QCOMPARE(questions.titles(), QStringList({title, title}));
        QCOMPARE(questions.asked.first().text, text);
        QCOMPARE(node->textsOf(KM_OBJLIST_WRITE), QStringList{command});
    }

    void synchReadsEverySecondUntilTheNodeIsBusy()
    {
        bindWithList();
        node->sent.clear();
        QuestionRecorder questions(QMessageBox::Ok);
        action("actionSynch")->trigger();
        QCOMPARE(questions.titles(), QStringList{"Synch (Automatic Update)"});
        QVERIFY(editor()->isUpdateRunning());
        QCOMPARE(editor()->globalUpdateInterval(), 1000);
        for (const char *id : {"001.1000h.00h", "001.1017h.00h", "001.2000h.00h"})
            QCOMPARE(editor()->objectInterval(id), QLatin1String(id) == QLatin1String("001.1000h.00h") ? 1000 : 0);
        QVERIFY(!action("actionRead")->isEnabled());
        QVERIFY(!action("actionStore")->isEnabled());
        // The model's own first read, answered through the panel.
        const QList<ZorMessage> reads = node->ofType(KM_OBJLIST_READ);
        QCOMPARE(reads.size(), 1);
        QVERIFY(reads.first().data().toString().startsWith("SilentReadWrite\n"));
        node->values = {{"001.1000h.00h", "42"}, {"001.1017h.00h", "100"}, {"001.2000h.00h", "1"}};
        node->answerNext();
        QCOMPARE(cell(0, 5), QStringLiteral("42"));

        node->report(KM_STATUS, 1050);
        QVERIFY(action("actionSynch")->isChecked());
        node->report(KM_STATUS, 1500);
        QVERIFY(!action("actionSynch")->isChecked());
        QVERIFY(!editor()->isUpdateRunning());
        QVERIFY(action("actionRead")->isEnabled());
    }

    // One object the node does not hold: the module answers KS_FAIL with
    // every object's line; the others show their values in synch mode too.
    void synchShowsEveryObjectAlsoWhenOneFails()
    {
        bindWithList();
        QuestionRecorder questions(QMessageBox::Ok);
        action("actionSynch")->trigger();
        node->values = {{"001.1017h.00h", "100"}, {"001.2000h.00h", "7"}};
        node->answerNext(KS_FAIL); // 1000h: "timeout"
        QCOMPARE(cell(1, 5), QStringLiteral("100"));
        QCOMPARE(cell(2, 5), QStringLiteral("7"));
        for (int row : {1, 2})
            QCOMPARE(editor()->index(row, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 1);
        QCOMPARE(editor()->index(0, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 3);
        QVERIFY(cell(0, 10).endsWith("timeout"));
    }

    void synchNeedsConfirmation()
    {
        bindWithList();
        QuestionRecorder questions(QMessageBox::Cancel);
        action("actionSynch")->trigger();
        QVERIFY(!action("actionSynch")->isChecked());
        QVERIFY(!editor()->isUpdateRunning());
    }

    void defaultCopiesDefaultValuesOfWritableObjects()
    {
        bindWithList();
        QuestionRecorder questions(QMessageBox::Yes);
        action("actionDefault")->trigger();
        QCOMPARE(questions.titles(), QStringList{"Use Default Values"});
        QCOMPARE(questions.asked.first().text,
                 QStringLiteral("Copy ALL values from 'Default' column to 'Value'. (Editable objects only.) Are you sure?"));
        QCOMPARE(questions.asked.first().defaultButton, QMessageBox::No);
        QCOMPARE(cell(1, 5), QStringLiteral("0"));
        QCOMPARE(cell(2, 5), QStringLiteral("5"));
    }

    void exportWritesTheTextAndTheConciseDcf()
    {
        bindWithList();
        QTemporaryDir dir;
        panel->saveName = dir.filePath("values");
        QuestionRecorder questions;
        action("actionExport")->trigger();
        // The concise DCF holds what a master may write: not the read-only
        // device type, and the export says so.
        QCOMPARE(questions.titles(), QStringList{"Export to CSV and CDCF"});
        QCOMPARE(questions.asked.first().text,
                 "1 of 3 objects are left out of\n" + dir.filePath("values.cdcf") + ":\n1 read-only or constant.");
        questions.asked.clear();
        QFile csv(dir.filePath("values.csv"));
        QFile cdcf(dir.filePath("values.cdcf"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QVERIFY(cdcf.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(csv.readAll()), editor()->toCsvText({}));
        QCOMPARE(cdcf.readAll(), editor()->toBinaryObjectList({}));
        QVERIFY(editor()->toCsvText({}).startsWith(
            "index;subIndex;name;actualValue;defaultValue;dataType;accessType;zorStatusTxt\n"));

        panel->saveName = dir.filePath("missing/values.CSV");
        action("actionExport")->trigger();
        QCOMPARE(questions.titles(), QStringList({"File error", "File error"}));
        QCOMPARE(questions.asked.at(0).text, "Could not write\n" + dir.filePath("missing/values.CSV"));
        QCOMPARE(questions.asked.at(1).text, "Could not write\n" + dir.filePath("missing/values.cdcf"));
    }

    void editorListIsKeptInTheProject()
    {
        bindWithList();
        QVERIFY(node->ofType(KM_GETPROPERTY).size() >= 2);
        QVERIFY(!node->textsOf(KM_GETPROPERTY).contains("ObjectList"));
        editor()->setData(editor()->index(2, 5), "99", Qt::EditRole);
        QVERIFY(panel->commitPanelSettings().isEmpty());

        ObjEditTestPanel second;
        FakeNode secondNode(&second);
        QVERIFY(second.setupZorPanel(project->moduleIndex("Node1"), project));
        QCOMPARE(second.editorModel()->rowCount(), 3);
        QCOMPARE(second.editorModel()->index(2, 5).data().toString(), QStringLiteral("99"));
    }

    // Projects of older versions kept the list in the module's properties.
    void olderObjectListIsTakenOverOnce()
    {
        bind();
        QCOMPARE(node->textsOf(KM_GETPROPERTY).mid(0, 2), QStringList({"ObjectList", "ObjectsEdited"}));
        node->sent.clear();
        node->property("ObjectList", "w,1000h,0h,unsigned32,0 # Device Type\n"
                                     "w,2000h,1h,UNSIGNED8,5 # Gain \"fast\" & <slow>\r\n"
                                     "w,2001h,0h,bogus,1 # unknown type\n"
                                     "w,2002h,0h,unsigned8, # no value\n"
                                     "w,2003h,0h,octet_string,ab # bytes\n");
        QCOMPARE(editor()->rowCount(), 4);
        QCOMPARE(cell(0, 0), QStringLiteral("1000h"));
        QCOMPARE(cell(0, 1), QStringLiteral("0h"));
        QCOMPARE(editor()->elementOf(editor()->index(0, 0)).attribute("dataType"), QStringLiteral("7"));
        QCOMPARE(cell(0, 5), QStringLiteral("0"));
        QCOMPARE(cell(0, 3), QStringLiteral("Device Type"));
        QCOMPARE(cell(1, 3), QStringLiteral("Gain \"fast\" & <slow>"));
        // A line without a value is an object to read.
        QCOMPARE(cell(2, 3), QStringLiteral("no value"));
        QCOMPARE(cell(2, 5), QString());
        QCOMPARE(cell(3, 8), QStringLiteral("octet_string"));
        // The line that cannot be taken over stays in the property, and the
        // status line names it.
        QCOMPARE(node->textsOf(KM_SETPROPERTY), QStringList{"ObjectList=w,2001h,0h,bogus,1 # unknown type"});
        const QString status = child<QLineEdit>("lineEditState")->text();
        QVERIFY2(status.contains("w,2001h,0h,bogus,1 # unknown type"), qPrintable(status));
    }

    void olderListWithoutUsableLinesIsKept()
    {
        bind();
        node->sent.clear();
        node->property("ObjectList", "w,2001h,0h,bogus,1 # unknown type\nnot a line at all");
        QCOMPARE(editor()->rowCount(), 0);
        QVERIFY(node->ofType(KM_SETPROPERTY).isEmpty());
        node->property("ObjectsEdited", "<CANopenObjectList><CANopenObject");
        QVERIFY(node->ofType(KM_SETPROPERTY).isEmpty());
        node->property("ObjectsEdited", objEditList);
        QCOMPARE(editor()->rowCount(), 3);
        QCOMPARE(node->textsOf(KM_SETPROPERTY), QStringList{"ObjectsEdited="});
    }

    void searchFiltersTheDictionary()
    {
        ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS();
        bind();
        QVERIFY(whenLoaded([this] { node->property("ConfigFilePath", deviceDescription("demoDevice.xdd")); }));
        child<QLineEdit>("lineEditSearchDict")->setText("heartbeat");
        QCOMPARE(panel->dictionaryProxy()->rowCount(), 2); // 1016h and 1017h
        child<QLineEdit>("lineEditSearchDict")->setText("no such object");
        QCOMPARE(panel->dictionaryProxy()->rowCount(), 0);
        QVERIFY(!action("actionAdd")->isEnabled());
    }

    void editorSelectionFollowsTheDictionary()
    {
        ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS();
        bindWithList();
        QVERIFY(whenLoaded([this] { node->property("ConfigFilePath", deviceDescription("demoDevice.xdd")); }));
        const QModelIndex heartbeat = panel->dictionaryModel()->findObject("0", "1017h", "0");
        tree()->setCurrentIndex(panel->dictionaryProxy()->mapFromSource(heartbeat));
        QCOMPARE(table()->currentIndex().row(), 1);
        table()->setCurrentIndex(panel->editorProxy()->index(0, 0));
        QCOMPARE(tree()->currentIndex().data().toString(), QStringLiteral("1000h"));
    }
};

ZOR_TEST(TestContentObjEdit)
#include "tst_contentobjedit.moc"
