// The object editor on a live node: the panel bound to a real node module,
// its gateway and CAN interface, on the simulated CAN gateway with one
// CANopen node of an independent stack. Objects come from the demo device's
// description; the values read are the node's own.
#include "devicedescriptions.h"
#include "nodepaneltesting.h"
#include "livepaneltesting.h"
#include "zorcontentobjedit.h"
#include "zortest.h"

#include <QAction>
#include <QTest>
#include <QTimer>


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
        QVERIFY2(startLiveNode(rig, 1), qPrintable(rig.sim.errorString()));
        ZorContentObjEdit panel;
        connect(&panel, &ZorPanel::msgOut, rig.module(), &ZorModule::slaveIn, Qt::QueuedConnection);
        connect(rig.module(), &ZorModule::slaveOut, &panel, &ZorPanel::msgIn, Qt::QueuedConnection);
        QVERIFY(panel.setupZorPanel(rig.model.moduleIndex("Node1"), &rig.model));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QTRY_COMPARE(panel.editorModel()->lockedNodeId(), QStringLiteral("1"));

        QSignalSpy loaded(&panel, &ZorContentObjEdit::dictionaryLoaded);
        panel.loadDictionaryFileInBackground(deviceDescription("demoDevice.xdd"), false);
        QVERIFY(loaded.wait(10000));
        QVERIFY(loaded.first().first().toBool());
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
        // Values come in the notation of their row (the default's: "0x…").
        QCOMPARE(value(editor, "001.1000h.00h"), QStringLiteral("0x00020192"));
        QCOMPARE(ZorBabelFish::stringToULong(value(editor, "001.1018h.01h")), 0x00112233u);
        QCOMPARE(ZorBabelFish::stringToULong(value(editor, "001.1018h.02h")), 0x4711u);
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
        QTRY_COMPARE_WITH_TIMEOUT(value(editor, "001.1000h.00h"), QStringLiteral("0x00030192"), 20000);
        action(panel, "actionSynch")->trigger();
        QVERIFY(!editor->isUpdateRunning());
    }

    // Texts with the separators of the line formats ("#", ",", ":",
    // quotes) and Latin-1 letters travel whole: written from the editor into
    // the node's 2006h, and read back as the node holds them.
    void textsTravelWhole()
    {
        NodeRig rig;
        QVERIFY2(startLiveNode(rig, 1), qPrintable(rig.sim.errorString()));
        TestDomModel project;
        ZorContentObjEdit panel;
        QVERIFY(bindLivePanel(panel, rig, project,
                              "<EditorObjects><CANopenObjectList><CANopenObject index='2006' objectType='7' "
                              "dataType='9' accessType='rw' name='Test visible string'/></CANopenObjectList>"
                              "</EditorObjects>"));
        QTRY_COMPARE(panel.editorModel()->lockedNodeId(), QStringLiteral("1"));
        ZorObjEditModel *editor = panel.editorModel();
        const QModelIndex text = editor->index(0, ZorDeviceDescModel::ValueColumn);
        QuestionRecorder questions(QMessageBox::Ok);
        for (const QString &value : {QStringLiteral("Pump #2"), QStringLiteral("Motor, 24V"), QStringLiteral("a;b"),
                                     QStringLiteral("say \"hi\", \"#1\""), QStringLiteral("12:30 # 1:2, 3"),
                                     QString::fromUtf8("Grüße 25°C µs")}) {
            QVERIFY(editor->setData(text, value, Qt::EditRole));
            panel.actionWrite();
            QTRY_VERIFY_WITH_TIMEOUT(!action(panel, "actionWrite")->isChecked(), 20000);
            QCOMPARE(rig.sim.nodeValue(1, 0x2006, 0), value.toLatin1());
            QCOMPARE(text.data().toString(), value);
            QCOMPARE(text.data(ZorObjEditModel::StatusCodeRole).toInt(), 1);

            const QString held = QStringLiteral("node: ") + value;
            QVERIFY(rig.sim.command("NODE PUT 1 2006 0 " + QString::fromLatin1(held.toLatin1().toHex())));
            panel.actionRead();
            QTRY_VERIFY_WITH_TIMEOUT(!action(panel, "actionRead")->isChecked(), 20000);
            QCOMPARE(text.data().toString(), held);
            QCOMPARE(text.data(ZorObjEditModel::StatusCodeRole).toInt(), 1);
        }
        // A text the node cannot hold (no Latin-1) is never reported written.
        QVERIFY(editor->setData(text, QString::fromUtf8("20 €"), Qt::EditRole));
        panel.actionWrite();
        QTRY_VERIFY_WITH_TIMEOUT(!action(panel, "actionWrite")->isChecked(), 20000);
        QCOMPARE(text.data(ZorObjEditModel::StatusCodeRole).toInt(), 3);
        QCOMPARE(rig.sim.nodeValue(1, 0x2006, 0), QByteArray("node: ") + QString::fromUtf8("Grüße 25°C µs").toLatin1());
    }

    // One object of fifty that the node does not hold: in synch mode the
    // other 49 show their values, and keep following the node.
    void fiftyObjectsWithOneMissingInSynchMode()
    {
        NodeRig rig;
        QVERIFY2(startLiveNode(rig, 1, "extra=49"), qPrintable(rig.sim.errorString()));
        TestDomModel project;
        ZorContentObjEdit panel;
        QVERIFY(bindLivePanel(panel, rig, project,
                              "<EditorObjects>" + fiftyObjectsOneMissing("updates:r1000") + "</EditorObjects>"));
        QTRY_COMPARE(panel.editorModel()->lockedNodeId(), QStringLiteral("1"));
        ZorObjEditModel *editor = panel.editorModel();
        QCOMPARE(editor->rowCount(), 50);
        QuestionRecorder questions(QMessageBox::Ok);
        action(panel, "actionSynch")->trigger();
        QVERIFY(editor->isUpdateRunning());
        auto okRows = [editor] {
            int ok = 0;
            for (int r = 0; r < editor->rowCount(); ++r)
                ok += editor->index(r, 0).data(ZorObjEditModel::StatusCodeRole).toInt() == 1 ? 1 : 0;
            return ok;
        };
        QTRY_COMPARE_WITH_TIMEOUT(okRows(), 49, 20000);
        const QModelIndex missing = editor->findDataObject("001.5555h.00h");
        QCOMPARE(missing.data(ZorObjEditModel::StatusCodeRole).toInt(), 3);
        QVERIFY2(missing.sibling(missing.row(), 10).data().toString().contains("6020000h"),
                 qPrintable(missing.sibling(missing.row(), 10).data().toString()));
        for (int i = 0; i < 49; ++i)
            QCOMPARE(value(editor, ZorBabelFish::dataObjectId(1, quint16(0x3000 + i), 0)), QString::number(0x3000 + i));
        // The others are read again at their interval.
        QVERIFY(rig.sim.command("NODE PUT 1 3005 0 78563412"));
        QTRY_COMPARE_WITH_TIMEOUT(value(editor, "001.3005h.00h"), QString::number(0x12345678), 20000);
        QCOMPARE(okRows(), 49);
        action(panel, "actionSynch")->trigger();
    }

    // A table locked to "0 (Scan)" read through a node module with NodeId
    // 5: the node answers for node 5, and the rows read ok and keep their
    // own intervals.
    void nodeZeroRowsReadThroughTheNodeId()
    {
        NodeRig rig;
        QVERIFY2(startLiveNode(rig, 5), qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QDomDocument doc;
        QVERIFY(doc.setContent(QStringLiteral(
            "<CANopenObjectList>"
            "<CANopenObject index='2001' objectType='7' dataType='6' accessType='rw' name='u16' zorUiFormat='updates:r500'/>"
            "<CANopenObject index='1000' objectType='7' dataType='7' accessType='ro' name='type' zorUiFormat='updates:r'/>"
            "</CANopenObjectList>")));
        ZorObjEditModel model(doc, true);
        model.setLockedNodeId("0 (Scan)");
        connect(&model, &ZorObjEditModel::objectUpdateOut, rig.module(), &ZorModule::slaveIn, Qt::QueuedConnection);
        connect(rig.module(), &ZorModule::slaveOut, &model, &ZorObjEditModel::objectUpdateIn, Qt::QueuedConnection);
        model.initObjectUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(model.index(0, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(model.index(1, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 1, 20000);
        QCOMPARE(model.index(0, 5).data().toString(), QString::number(0x1234));
        QCOMPARE(model.index(1, 5).data().toString(), QString::number(0x00020192));
        auto *timer = model.findChild<QTimer *>("000.2001h.00h");
        QVERIFY(timer);
        QTRY_VERIFY(timer->isActive() && timer->interval() == 500);
        QVERIFY(!model.findChild<QTimer *>("000.1000h.00h")->isActive()); // read once, and it was
        QVERIFY(rig.sim.command("NODE PUT 5 2001 0 cdab"));
        QTRY_COMPARE_WITH_TIMEOUT(model.index(0, 5).data().toString(), QString::number(0xabcd), 20000);
        model.stopObjectUpdate();
    }
};

ZOR_TEST(TestObjEditLive)
#include "tst_objeditlive.moc"
