// The node parameter editor on a live node: the panel bound to a real node
// module, its gateway and CAN interface, on the simulated CAN gateway with
// one CANopen node of an independent stack. Row by row (edit mode 0) and
// the whole list with the node's store command (edit mode 3).
#include "nodepaneltesting.h"
#include "livepaneltesting.h"
#include "zorcontentnodeconfig.h"
#include "zortest.h"

#include <QAction>
#include <QTableView>
#include <QTest>

namespace {

const char *const nodeCfgLiveList = R"x(<CANopenObjectList>
 <CANopenObject index="2001" objectType="7" dataType="6" accessType="rw" name="Test unsigned16"/>
 <CANopenObject index="2004" objectType="7" dataType="3" accessType="rw" name="Test integer16"/>
 <CANopenObject index="2006" objectType="7" dataType="9" accessType="rw" name="Test visible string"/>
</CANopenObjectList>)x";

} // namespace

class TestNodeConfigLive : public QObject
{
    Q_OBJECT

    static QString nodeCfgLiveValue(ZorObjEditModel *model, int row)
    {
        return model->index(row, ZorDeviceDescModel::ValueColumn).data().toString();
    }

private slots:
    void rowsAndListsOnTheNode()
    {
        NodeRig rig;
        QVERIFY2(startLiveNode(rig, 1), qPrintable(rig.sim.errorString()));
        // The panel's own project element holds its list.
        TestDomModel project;
        ZorContentNodeConfig panel;
        QVERIFY(bindLivePanel(panel, rig, project, QStringLiteral("<SetupObjects>%1</SetupObjects>").arg(nodeCfgLiveList)));
        QTRY_COMPARE(panel.model()->lockedNodeId(), QStringLiteral("1"));
        auto *read = panel.findChild<QAction *>("actionRead");
        auto *write = panel.findChild<QAction *>("actionWrite");
        auto *table = panel.findChild<QTableView *>("tableViewObjEditor");
        ZorObjEditModel *model = panel.model();

        // Mode 0: every row is read in a request of its own; the first one
        // opens communication with the node.
        table->clearSelection();
        panel.actionRead();
        QTRY_VERIFY_WITH_TIMEOUT(!read->isChecked(), 20000);
        QCOMPARE(nodeCfgLiveValue(model, 0), QString::number(0x1234));
        QCOMPARE(nodeCfgLiveValue(model, 1), QStringLiteral("-300"));
        QCOMPARE(nodeCfgLiveValue(model, 2), QStringLiteral("hello"));

        QVERIFY(model->setData(model->index(0, ZorDeviceDescModel::ValueColumn), "4660", Qt::EditRole));
        QVERIFY(model->setData(model->index(1, ZorDeviceDescModel::ValueColumn), "-7", Qt::EditRole));
        table->selectRow(0);
        table->selectionModel()->select(model->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        panel.actionWrite();
        QTRY_VERIFY_WITH_TIMEOUT(!write->isChecked(), 20000);
        QCOMPARE(rig.sim.nodeValue(1, 0x2004, 0), QByteArray::fromHex("f9ff"));

        // Mode 3: the whole list and the store command in one request.
        panel.msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, "EditMode=3"));
        QCOMPARE(panel.editMode(), 3);
        QVERIFY(model->setData(model->index(2, ZorDeviceDescModel::ValueColumn), "bye", Qt::EditRole));
        QVERIFY(rig.sim.command("LOG bus on"));
        const int mark = rig.sim.mark();
        panel.actionWrite();
        QTRY_VERIFY_WITH_TIMEOUT(!write->isChecked(), 20000);
        QCOMPARE(rig.sim.nodeValue(1, 0x2006, 0), QByteArray("bye"));
        // "save" into 1010h sub 1, after the values.
        rig.sim.setCursor(mark);
        QVERIFY(rig.sim.waitForLine("^BUS c\\d+ t6018\\w\\w062000", 1000).hasMatch());
        QVERIFY(rig.sim.waitForLine("^BUS c\\d+ t60182310100173617665", 1000).hasMatch());
        for (int row = 0; row < 3; ++row)
            QCOMPARE(model->index(row, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 1);
    }

    // A list mode reads the whole table in one request; one object of fifty
    // that the node does not hold makes the answer KS_FAIL, and the other
    // 49 rows show their values all the same.
    void fiftyObjectsWithOneMissingInAListMode()
    {
        NodeRig rig;
        QVERIFY2(startLiveNode(rig, 1, "extra=49"), qPrintable(rig.sim.errorString()));
        TestDomModel project;
        ZorContentNodeConfig panel;
        QVERIFY(bindLivePanel(panel, rig, project,
                              "<SetupObjects>" + fiftyObjectsOneMissing("updates:r,w") + "</SetupObjects>"
                              "<EditModeDoc><EditMode>1</EditMode></EditModeDoc>"));
        QTRY_COMPARE(panel.model()->lockedNodeId(), QStringLiteral("1"));
        QCOMPARE(panel.editMode(), 1);
        ZorObjEditModel *model = panel.model();
        QCOMPARE(model->rowCount(), 50);
        auto *read = panel.findChild<QAction *>("actionRead");
        panel.actionRead();
        QTRY_VERIFY_WITH_TIMEOUT(!read->isChecked(), 30000);
        for (int i = 0; i < 49; ++i) {
            QCOMPARE(nodeCfgLiveValue(model, i), QString::number(0x3000 + i));
            QCOMPARE(model->index(i, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 1);
        }
        QCOMPARE(model->index(49, 0).data(ZorObjEditModel::StatusCodeRole).toInt(), 3);
        QVERIFY(model->index(49, 10).data().toString().contains("6020000h"));
    }
};

ZOR_TEST(TestNodeConfigLive)
#include "tst_nodeconfiglive.moc"
