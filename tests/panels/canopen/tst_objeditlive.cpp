// The object editor on a live node: the panel bound to a real node module,
// its gateway and CAN interface, on the simulated CAN gateway with one
// CANopen node of an independent stack. Objects come from the demo device's
// description; the values read are the node's own.
#include "devicedescriptions.h"
#include "nodepaneltesting.h"
#include "noderig.h"
#include "zorcontentobjedit.h"
#include "zormodnode.h"
#include "zortest.h"

#include <QAction>
#include <QTest>

class TestObjEditLive : public QObject
{
    Q_OBJECT

    QAction *action(ZorContentObjEdit &panel, const char *name) const
    {
        return panel.findChild<QAction *>(QLatin1String(name));
    }
    static QString value(ZorObjEditModel *model, const QString &id)
    {
        const QModelIndex row = model->findDataObject(id);
        return row.sibling(row.row(), ZorDeviceDescModel::ValueColumn).data().toString();
    }

private slots:
    void readWriteAndSynchOnTheNode()
    {
        ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS();
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "1 heartbeat=0", "--quiet"}, createNodeModule(nullptr), "nodeconfig",
                           "<NodeId>1</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        ZorContentObjEdit panel;
        connect(&panel, &ZorPanel::msgOut, rig.module(), &ZorModule::slaveIn, Qt::QueuedConnection);
        connect(rig.module(), &ZorModule::slaveOut, &panel, &ZorPanel::msgIn, Qt::QueuedConnection);
        QVERIFY(panel.setupZorPanel(rig.model.moduleIndex("Node1"), &rig.model));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QTRY_COMPARE(panel.editorModel()->lockedNodeId(), QStringLiteral("1"));

        QVERIFY(panel.loadDictionaryFile(deviceDescription("demoDevice.xdd")));
        ZorDeviceDictModel *dict = panel.dictionaryModel();
        for (const char *index : {"1000h", "1017h", "1018h"}) {
            const QModelIndex row = panel.dictionaryProxy()->mapFromSource(dict->findObject("0", index, "0"));
            QVERIFY(row.isValid());
            panel.on_treeViewDeviceCfg_doubleClicked(row);
        }
        ZorObjEditModel *editor = panel.editorModel();
        QCOMPARE(editor->rowCount(), 7);

        QuestionRecorder questions(QMessageBox::Ok);
        panel.actionRead();
        QTRY_VERIFY_WITH_TIMEOUT(!action(panel, "actionRead")->isChecked(), 20000);
        QCOMPARE(value(editor, "001.1000h.00h"), QString::number(0x00020192));
        QCOMPARE(value(editor, "001.1018h.01h"), QString::number(0x00112233));
        QCOMPARE(value(editor, "001.1018h.02h"), QString::number(0x4711));
        QCOMPARE(value(editor, "001.1017h.00h"), QStringLiteral("0"));

        // A new heartbeat time goes to the node.
        const QModelIndex heartbeat = editor->findDataObject("001.1017h.00h");
        QVERIFY(editor->setData(heartbeat.sibling(heartbeat.row(), 5), "250", Qt::EditRole));
        panel.editorProxy()->sort(-1);
        QItemSelectionModel *selection = panel.findChild<QAbstractItemView *>("tableViewEditor")->selectionModel();
        selection->select(panel.editorProxy()->mapFromSource(heartbeat),
                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        panel.actionWrite();
        QTRY_VERIFY_WITH_TIMEOUT(!action(panel, "actionWrite")->isChecked(), 20000);
        QCOMPARE(rig.sim.nodeValue(1, 0x1017, 0), QByteArray::fromHex("fa00"));

        // Synch mode follows the node's values.
        action(panel, "actionSynch")->trigger();
        QVERIFY(editor->isUpdateRunning());
        QVERIFY(rig.sim.command("NODE SET 1 devicetype=00030192h"));
        QTRY_COMPARE_WITH_TIMEOUT(value(editor, "001.1000h.00h"), QString::number(0x00030192), 20000);
        action(panel, "actionSynch")->trigger();
        QVERIFY(!editor->isUpdateRunning());
    }
};

ZOR_TEST(TestObjEditLive)
#include "tst_objeditlive.moc"
