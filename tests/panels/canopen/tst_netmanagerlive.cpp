// The network manager panel's node monitor on live nodes: the panel bound to
// a real network manager, its gateway and CAN interface, on the simulated
// CAN gateway with two CANopen nodes of an independent stack.
#include "noderig.h"
#include "testdommodel.h"
#include "zorcontentnetmanager.h"
#include "zorcontentnetmanagermarks.h"
#include "zormodnetmanager.h"
#include "zortest.h"

#include <QAction>
#include <QBrush>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

class TestNetManagerLive : public QObject
{
    Q_OBJECT

    // The grid row of that node ("Node 5 ..."), -1 for none.
    static int netLiveRow(QAbstractItemModel *grid, const QString &node)
    {
        for (int row = 0; row < grid->rowCount(); ++row) {
            if (grid->headerData(row, Qt::Vertical).toString().startsWith("Node " + node))
                return row;
        }
        return -1;
    }

    // The grid column of an object name, -1 for none.
    static int netLiveColumn(QAbstractItemModel *grid, const QString &name)
    {
        for (int column = 0; column < grid->columnCount(); ++column) {
            if (grid->headerData(column, Qt::Horizontal).toString() == name)
                return column;
        }
        return -1;
    }

private slots:
    // Status word and device type show in hexadecimal; a node that stops
    // answering is marked (colour, "no answer since") while the other keeps
    // its plain values, and loses the mark once it answers again.
    void silentNodeIsMarked()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "3", "--node", "5", "--quiet"}, new ZorModNetManager, "netmanager",
                           "<LastScanIds>3,5</LastScanIds>"),
                 qPrintable(rig.sim.errorString()));
        const QString objects = QStringLiteral(
            "<CANopenObjectList>"
            "<CANopenObject index='6041' subIndex='0' name='Statusword' objectType='7' dataType='6' "
            "accessType='ro' zorUiFormat='updates:r500'/>"
            "<CANopenObject index='1000' subIndex='0' name='Device type' objectType='7' dataType='7' "
            "accessType='ro' zorUiFormat='updates:r500'/>"
            "</CANopenObjectList>");
        TestDomModel project;
        project.setXml(TestDomModel::projectXml(
            {{"netmanager", "Network", "", QStringLiteral("<docs><EditorObjects>%1</EditorObjects></docs>").arg(objects)}}));
        ZorContentNetManager panel;
        connect(&panel, &ZorPanel::msgOut, rig.module(), &ZorModule::slaveIn, Qt::QueuedConnection);
        connect(rig.module(), &ZorModule::slaveOut, &panel, &ZorPanel::msgIn, Qt::QueuedConnection);
        QVERIFY(panel.setupZorPanel(project.moduleIndex("Network"), &project));
        QVERIFY(rig.waitUntil([&] { return panel.findChild<QLineEdit *>("lineEditScanList")->text() == "3,5"; }));
        panel.findChild<QAction *>("actionStatus")->trigger();
        ZorContentNetManagerMarks *grid = panel.monitorMarks();
        QVERIFY(grid);
        QCOMPARE(panel.findChild<QTableView *>("tableViewNodeStatus")->model(), grid);
        QCOMPARE(grid->rowCount(), 2);
        const int row3 = netLiveRow(grid, "3");
        const int row5 = netLiveRow(grid, "5");
        QVERIFY(row3 >= 0 && row5 >= 0);
        const int statusWord = netLiveColumn(grid, "Statusword");
        const int deviceType = netLiveColumn(grid, "Device type");
        QVERIFY(statusWord >= 0 && deviceType >= 0);
        QVERIFY(rig.waitUntil([&] {
            return grid->index(row5, statusWord).data().toString() == "0250h"
                && grid->index(row5, deviceType).data().toString() == "00020192h";
        }));

        QVERIFY(rig.sim.command("NODE SET 5 silent=1"));
        QVERIFY(rig.waitUntil([&] { return grid->silentSince("5").isValid(); }, 15000));
        QVERIFY(grid->headerData(row5, Qt::Vertical).toString().contains("no answer since"));
        QCOMPARE(grid->index(row5, 0).data(Qt::BackgroundRole).value<QBrush>().color(),
                 ZorContentNetManagerMarks::SilentColour);
        QVERIFY(grid->index(row5, 0).data(Qt::ToolTipRole).toString().startsWith("No answer since "));
        QVERIFY(!grid->silentSince("3").isValid());
        QCOMPARE(grid->headerData(row3, Qt::Vertical).toString(), QStringLiteral("Node 3"));
        QVERIFY(grid->index(row3, 0).data(Qt::BackgroundRole).value<QBrush>().color()
                != ZorContentNetManagerMarks::SilentColour);

        QVERIFY(rig.sim.command("NODE SET 5 silent=0"));
        QVERIFY(rig.waitUntil([&] { return !grid->silentSince("5").isValid(); }, 15000));
        QCOMPARE(grid->headerData(row5, Qt::Vertical).toString(), QStringLiteral("Node 5"));
    }
};

ZOR_TEST(TestNetManagerLive)
#include "tst_netmanagerlive.moc"
