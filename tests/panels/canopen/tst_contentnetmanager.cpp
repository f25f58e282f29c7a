// The network manager panel against a recording of what it sends: the
// three jobs and their tool-bar states, the status colours, the node
// monitor built from the scanned ids and the configured objects, the
// configuration table's clipboard actions and its document in the project.
#include "testdommodel.h"
#include "zorcontentnetmanager.h"
#include "zorcontentnetmanagermarks.h"
#include "zorobjeditmodel.h"
#include "zorstatusproxy.h"
#include "zortest.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

namespace {

// Three objects of the monitor configuration (status word, error register,
// heartbeat time), read every second.
const char *const netPanelObjects = R"x(<CANopenObjectList>
 <CANopenObject index="6041" subIndex="0" name="Statusword" objectType="7" dataType="6" accessType="ro" zorUiFormat="updates:r1000"/>
 <CANopenObject index="1001" subIndex="0" name="Error register" objectType="7" dataType="5" accessType="ro" zorUiFormat="updates:r1000"/>
 <CANopenObject index="1017" subIndex="0" name="Heartbeat" objectType="7" dataType="6" accessType="rw" zorUiFormat="updates:r1000"/>
</CANopenObjectList>)x";

struct NetPanelFixture
{
    TestDomModel model;
    ZorContentNetManager panel;
    QList<ZorMessage> sent;

    NetPanelFixture()
    {
        ZorMessage::registerMetaType();
        const QString docs = QStringLiteral("<docs><EditorObjects>%1</EditorObjects></docs>").arg(netPanelObjects);
        model.setXml(TestDomModel::projectXml({{"canusb", "CAN1"}, {"netmanager", "Network", "", docs}}));
        QObject::connect(&panel, &ZorPanel::msgOut, [this](const ZorMessage &m) { sent << m; });
        panel.setupZorPanel(model.moduleIndex("Network"), &model);
        sent.clear();
    }
    template<class T>
    T *child(const char *name) { return panel.findChild<T *>(QLatin1String(name)); }
    QAction *action(const char *name) { return child<QAction>(name); }
    // The type and data of what was sent since the last call.
    QStringList takeSent()
    {
        QStringList list;
        for (const ZorMessage &m : sent)
            list << ZorMessage::msgTypeName(m.msgType()) + ":" + m.data().toString();
        sent.clear();
        return list;
    }
    void fromModule(int type, const QVariant &data) { panel.msgIn(ZorMessage(type, KS_INFO, data)); }
};

} // namespace

class TestContentNetManager : public QObject
{
    Q_OBJECT
private slots:
    void jobsAndToolBar()
    {
        NetPanelFixture f;
        QAction *scan = f.action("actionScan");
        QAction *status = f.action("actionStatus");
        QAction *build = f.action("actionBuild");
        QAction *config = f.action("actionConfig");
        QVERIFY(scan && status && build && config);

        scan->trigger();
        QCOMPARE(f.takeSent(), QStringList({"KM_START:1"}));
        QVERIFY(!status->isEnabled() && !build->isEnabled() && !config->isEnabled());
        scan->trigger();
        QCOMPARE(f.takeSent(), QStringList({"KM_STOP:"}));
        QVERIFY(status->isEnabled() && build->isEnabled() && config->isEnabled());

        // The module's idle status ends a scan without a stop being sent.
        scan->trigger();
        f.takeSent();
        f.fromModule(KM_STATUS, 1001);
        QVERIFY(scan->isChecked());
        f.fromModule(KM_STATUS, 0);
        QVERIFY(!scan->isChecked());
        QVERIFY(f.takeSent().isEmpty());

        // Build sends the line as it stands, also when it was not left.
        f.child<QLineEdit>("lineEditProjectList")->setText("5:nodeconfig, 7");
        build->trigger();
        QCOMPARE(f.takeSent(), QStringList({"KM_SETPROPERTY:ConfigurableIds=5:nodeconfig, 7", "KM_START:2"}));
    }

    void statusColours()
    {
        NetPanelFixture f;
        auto *state = f.child<QLineEdit>("lineEditState");
        f.action("actionStatus")->trigger();
        f.fromModule(KM_STATUS, 1);
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));
        f.fromModule(KM_STATUS, 1500);
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FEE600; color:black"));
        QVERIFY(f.action("actionStatus")->isChecked());
        // The same number again changes nothing.
        state->setStyleSheet(QString());
        f.fromModule(KM_STATUS, 1500);
        QCOMPARE(state->styleSheet(), QString());
        f.fromModule(KM_STATUS, 2000);
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        QVERIFY(!f.action("actionStatus")->isChecked());
        f.fromModule(KM_STATUS, 0);
        QCOMPARE(state->styleSheet(), QStringLiteral("color:black"));

        f.fromModule(KM_INFOTEXT, "Scanning Network");
        QCOMPARE(state->text(), QStringLiteral("Scanning Network"));
        QVERIFY(f.child<QPlainTextEdit>("plainTextEditStatus")->toPlainText().endsWith("Scanning Network"));
    }

    void nodeMonitor()
    {
        NetPanelFixture f;
        f.child<QLineEdit>("lineEditScanList")->setText("3,5");
        f.action("actionConfig")->trigger();
        QVERIFY(!f.child<QGroupBox>("groupBoxStatus")->isVisibleTo(&f.panel));
        f.action("actionStatus")->trigger();
        QVERIFY(!f.action("actionConfig")->isChecked());
        QVERIFY(!f.child<QGroupBox>("groupBoxObjList")->isVisibleTo(&f.panel));

        ZorObjEditModel *monitor = f.panel.monitorModel();
        QVERIFY(monitor);
        QCOMPARE(monitor->rowCount(), 6);
        ZorStatusProxy *grid = f.panel.statusProxy();
        QCOMPARE(grid->rowCount(), 2);
        QCOMPARE(grid->columnCount(), 3);
        QCOMPARE(grid->headerData(1, Qt::Vertical).toString(), QStringLiteral("Node 5"));
        // Shown with silent nodes marked.
        QCOMPARE(f.child<QTableView>("tableViewNodeStatus")->model(), f.panel.monitorMarks());
        QCOMPARE(f.panel.monitorMarks()->sourceModel(), grid);
        // The configuration keeps no node id of its own.
        QCOMPARE(f.panel.configurationModel()->lockedNodeId(), QString());

        // The first reads leave through the panel, and their answer fills the grid.
        QTRY_VERIFY(!f.sent.isEmpty() && f.sent.last().msgType() == KM_OBJLIST_READ);
        QCOMPARE(f.sent.first().msgType(), int(KM_START));
        ZorMessage answer = f.sent.last();
        const QString request = answer.data().toString();
        QVERIFY2(request.contains("005.6041h.00h") && request.contains("003.1017h.00h"), qPrintable(request));
        answer.setMsgState(KS_ANSWER);
        answer.setData("005.6041h.00h,unsigned16,592\n");
        f.panel.msgIn(answer);
        int statusword = -1;
        for (int c = 0; c < grid->columnCount(); ++c) {
            if (grid->headerData(c, Qt::Horizontal).toString() == "Statusword")
                statusword = c;
        }
        QVERIFY(statusword >= 0);
        QCOMPARE(grid->index(1, statusword).data().toString(), QStringLiteral("592"));
        QVERIFY(grid->index(0, statusword).data().toString().isEmpty());
        // A value that holds a separator comes quoted: the node answered.
        answer.setData("003.1017h.00h,visible_string,\"Drive, rev 2\" # a comment, too\n");
        f.panel.msgIn(answer);
        QVERIFY(!f.panel.monitorMarks()->silentSince("3").isValid());
        // Cells are painted as the object table paints its Value cells: a
        // writable object black, a read-only one grey.
        const auto foreground = [grid](const QString &name) {
            for (int c = 0; c < grid->columnCount(); ++c) {
                if (grid->headerData(c, Qt::Horizontal).toString() == name)
                    return grid->index(0, c).data(Qt::ForegroundRole).value<QBrush>().color();
            }
            return QColor();
        };
        QCOMPARE(foreground("Heartbeat"), QColor(Qt::black));
        QCOMPARE(foreground("Statusword"), QColor(64, 64, 64));

        // Unchecked: stop sent, no more reads.
        f.sent.clear();
        f.action("actionStatus")->trigger();
        QCOMPARE(f.takeSent(), QStringList({"KM_STOP:"}));
        QVERIFY(!monitor->isUpdateRunning());
        QVERIFY(f.child<QGroupBox>("groupBoxStatus")->isVisibleTo(&f.panel));
    }

    // Every column of the node grid shows its whole object name from the
    // start, keeps it while the values come in, and widens for a value that
    // needs more room.
    void nodeGridColumnsFitTheirNamesAndValues()
    {
        NetPanelFixture f;
        f.child<QLineEdit>("lineEditScanList")->setText("1,2");
        f.panel.resize(900, 600);
        f.panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.panel));
        f.action("actionStatus")->trigger();
        auto *table = f.child<QTableView>("tableViewNodeStatus");
        const QAbstractItemView *view = table;
        QHeaderView *header = table->horizontalHeader();
        ZorStatusProxy *grid = f.panel.statusProxy();
        QCOMPARE(grid->columnCount(), 3);
        // The columns too narrow for their name, as "name:width".
        const auto cutNames = [&] {
            QStringList cut;
            for (int c = 0; c < grid->columnCount(); ++c) {
                const QString name = grid->headerData(c, Qt::Horizontal).toString();
                const int width = header->sectionSize(c);
                if (width < header->fontMetrics().horizontalAdvance(name) || width < header->sectionSizeHint(c))
                    cut << name + ":" + QString::number(width);
            }
            return cut;
        };
        QCOMPARE(cutNames(), QStringList());

        QTRY_VERIFY(!f.sent.isEmpty() && f.sent.last().msgType() == KM_OBJLIST_READ);
        ZorMessage answer = f.sent.last();
        answer.setMsgState(KS_ANSWER);
        answer.setData("001.6041h.00h,unsigned16,592\n002.1001h.00h,unsigned8,0\n"
                       "001.1017h.00h,unsigned16,12345678901234567890123456789\n");
        f.panel.msgIn(answer);
        QCOMPARE(cutNames(), QStringList());
        int heartbeat = -1;
        for (int c = 0; c < grid->columnCount(); ++c) {
            if (grid->headerData(c, Qt::Horizontal).toString() == "Heartbeat")
                heartbeat = c;
        }
        QVERIFY(heartbeat >= 0);
        QCOMPARE(grid->index(0, heartbeat).data().toString(), QStringLiteral("12345678901234567890123456789"));
        QVERIFY(header->sectionSize(heartbeat) >= view->sizeHintForColumn(heartbeat));
        QVERIFY(header->sectionSize(heartbeat) > header->sectionSizeHint(heartbeat));

        // Later passes keep the widths.
        const int width = header->sectionSize(heartbeat);
        QTRY_VERIFY_WITH_TIMEOUT(f.sent.last() != answer && f.sent.last().msgType() == KM_OBJLIST_READ, 3000);
        ZorMessage next = f.sent.last();
        next.setMsgState(KS_ANSWER);
        next.setData("001.6041h.00h,unsigned16,593\n");
        f.panel.msgIn(next);
        QCOMPARE(cutNames(), QStringList());
        QCOMPARE(header->sectionSize(heartbeat), width);
        f.action("actionStatus")->trigger();
    }

    void nodeMonitorWithoutScannedIds()
    {
        NetPanelFixture f;
        f.action("actionStatus")->trigger();
        QCOMPARE(f.panel.monitorModel()->rowCount(), 0);
        QCOMPARE(f.panel.statusProxy()->rowCount(), 0);
    }

    void configurationClipboardAndDocument()
    {
        NetPanelFixture f;
        ZorObjEditModel *config = f.panel.configurationModel();
        QCOMPARE(config->rowCount(), 3);
        auto *view = f.child<QTableView>("tableViewObjEditor");
        QVERIFY(view->isColumnHidden(4) && view->isColumnHidden(2));

        // Nothing selected: nothing is cut.
        f.panel.on_actionCut_triggered();
        QCOMPARE(config->rowCount(), 3);

        const auto rowNamed = [config](const QString &name) {
            for (int r = 0; r < config->rowCount(); ++r) {
                if (config->index(r, 3).data().toString() == name)
                    return config->index(r, 0);
            }
            return QModelIndex();
        };
        view->selectionModel()->select(rowNamed("Error register"),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        f.panel.on_actionCut_triggered();
        QCOMPARE(config->rowCount(), 2);
        QVERIFY(QApplication::clipboard()->mimeData()->text().contains("Error register"));
        f.panel.on_actionPaste_triggered();
        QCOMPARE(config->rowCount(), 3);

        view->selectionModel()->clearSelection();
        view->selectionModel()->select(rowNamed("Statusword"),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        f.panel.on_actionDelete_triggered();
        QCOMPARE(config->rowCount(), 2);

        QCOMPARE(f.panel.commitPanelSettings(), QString());
        const QDomDocument stored = f.panel.loadDoc("EditorObjects");
        QCOMPARE(stored.elementsByTagName("CANopenObject").size(), 2);
        QVERIFY(!stored.toString().contains("Statusword"));
    }
};

ZOR_TEST(TestContentNetManager)
#include "tst_contentnetmanager.moc"
