// The operator-screen panel: loading the screen (file name, missing and broken
// files), controls made from dropped data objects, the request queue with its
// overflow, the Start button following the module status, what is saved,
// Change ID, a screen that disallows design mode, and the demo screen driving
// a node of the simulated bus through the node module.
#include "noderig.h"
#include "screenfixture.h"
#include "testdommodel.h"
#include "zorcontentuipanel.h"
#include "zordeclarativeview.h"
#include "zormodnode.h"
#include "zortest.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QQuickItem>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

// The demo project's screen: a generic screen making labels and sliders.
QString uiPanelDemoScreen()
{
    return ScreenFixture::readText(QStringLiteral(ZOR_DEMO_DIR "/QML/ZorUiMain.qml"));
}

// Inner XML of a module element holding the table document "DynamicUi".
QString uiPanelDynamicUiDocs(const QStringList &objects)
{
    QString xml = ScreenFixture::objectTable(objects).toString();
    xml.remove(QRegularExpression(QStringLiteral("^<\\?xml[^>]*>")));
    return QStringLiteral("<docs><DynamicUi>%1</DynamicUi></docs>").arg(xml);
}

// Mime data as object tables drag them: the objects as XML text.
QMimeData *uiPanelObjectsMime(const QStringList &objects)
{
    auto table = ScreenFixture::uiTable(objects);
    return table->allObjectsMimeData();
}

// A drag entering the view and dropped at `pos`, as the mouse would.
void uiPanelDragAndDrop(QWidget *view, const QMimeData *mime, const QPoint &pos)
{
    QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &enter);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &drop);
}

} // namespace

class TestContentUiPanel : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> project;
    QString savedCurrent;
    TestDomModel model;
    std::unique_ptr<ZorContentUiPanel> panel;
    QList<ZorMessage> sent;

    void writeScreen(const QString &name, const QString &text)
    {
        QVERIFY(ScreenFixture::writeText(project->filePath(QStringLiteral("QML/") + name), text));
    }
    // A panel of that type bound to the module "Screen1" with this inner XML.
    void makePanel(const QString &inner = QString(), const QString &type = QStringLiteral("uipanel"))
    {
        QVERIFY(model.setXml(TestDomModel::projectXml({{type, QStringLiteral("Screen1"), QString(), inner}})));
        bindPanel(model.moduleIndex(QStringLiteral("Screen1")), &model);
    }
    void bindPanel(const QModelIndex &index, ZorAbstractDomModel *m)
    {
        sent.clear();
        panel = std::make_unique<ZorContentUiPanel>();
        connect(panel.get(), &ZorPanel::msgOut, this, [this](const ZorMessage &msg) { sent << msg; });
        panel->setupZorPanel(index, m);
        panel->resize(800, 600);
        sent.clear();
    }
    QLabel *errorLabel() const { return panel->findChild<QLabel *>(QStringLiteral("labelQmlError")); }
    QPushButton *startButton() const { return panel->findChild<QPushButton *>(QStringLiteral("pushButtonStart")); }
    QAction *action(const char *name) const { return panel->findChild<QAction *>(QLatin1String(name)); }
    QString screenControls() const
    {
        QVariant result;
        QMetaObject::invokeMethod(panel->view()->rootObject(), "collectChildControlData",
                                  Q_RETURN_ARG(QVariant, result));
        return result.toString();
    }
    // Table rows as "id=instances", sorted.
    QStringList tableInstances() const
    {
        QStringList rows;
        ZorObjEditModel *table = panel->objectTable();
        for (int r = 0; r < table->rowCount(); ++r)
            rows << table->index(r, 4).data().toString() + "=" + table->index(r, 14).data().toString();
        rows.sort();
        return rows;
    }
    QList<ZorMessage> sentOfType(int type) const
    {
        QList<ZorMessage> list;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type)
                list << m;
        return list;
    }
    void reportStatus(int status, const QString &origin = QStringLiteral("Screen1"))
    {
        ZorMessage msg(KM_STATUS, KS_INFO, status);
        msg.setOrigin(origin);
        panel->msgIn(msg);
    }
    // Answers the next node-id dialog with this number.
    void answerNodeIdDialog(int id)
    {
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, id] {
            if (auto *d = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
                d->setIntValue(id);
                d->accept();
                poll->deleteLater();
            }
        });
        poll->start(10);
    }

private slots:
    void initTestCase()
    {
        ZorMessage::registerMetaType();
        savedCurrent = QDir::currentPath();
        QVERIFY(!uiPanelDemoScreen().isEmpty());
    }
    void init()
    {
        project = std::make_unique<QTemporaryDir>();
        QVERIFY(project->isValid());
        QVERIFY(QDir::setCurrent(project->path()));
    }
    void cleanup()
    {
        panel.reset();
        QDir::setCurrent(savedCurrent);
    }

    void loadsTheScreenOrSaysWhyNot_data()
    {
        QTest::addColumn<QString>("docs");
        QTest::addColumn<QStringList>("screens");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("loaded");
        const QString good = "import QtQuick 2.15\nItem {}\n";
        QTest::newRow("no screen file") << QString() << QStringList() << "QML: Cannot find file ZorUiMain.qml"
                                        << false;
        QTest::newRow("default name") << QString() << QStringList{"ZorUiMain.qml=" + good} << "" << true;
        QTest::newRow("name from QmlData")
            << "<docs><QmlData><QmlData><QmlFilename> Line2.qml </QmlFilename></QmlData></QmlData></docs>"
            << QStringList{"Line2.qml=" + good} << "" << true;
        QTest::newRow("QmlData naming two files is ignored")
            << "<docs><QmlData><QmlData><QmlFilename>A.qml</QmlFilename><QmlFilename>B.qml</QmlFilename>"
               "</QmlData></QmlData></docs>"
            << QStringList{"ZorUiMain.qml=" + good, "A.qml=" + good} << "" << true;
        QTest::newRow("broken screen")
            << QString() << QStringList{"ZorUiMain.qml=import QtQuick 2.15\nItem { width: }\n"}
            << "QML: Fatal error when loading file ZorUiMain.qml,file://" << false;
    }
    void loadsTheScreenOrSaysWhyNot()
    {
        QFETCH(QString, docs);
        QFETCH(QStringList, screens);
        QFETCH(QString, label);
        QFETCH(bool, loaded);
        for (const QString &s : screens)
            writeScreen(s.section('=', 0, 0), s.section('=', 1));
        makePanel(docs);
        QCOMPARE(panel->loadQml(), loaded);
        QCOMPARE(errorLabel()->isHidden(), loaded);
        QCOMPARE(startButton()->isEnabled(), loaded);
        if (label.isEmpty())
            QCOMPARE(errorLabel()->text(), QString());
        else
            QVERIFY2(errorLabel()->text().startsWith(label), qPrintable(errorLabel()->text()));
    }

    void droppedObjectsBecomeControls()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        makePanel();
        ZorDeclarativeView *view = panel->view();
        QVERIFY(view && view->rootObject());
        std::unique_ptr<QMimeData> mime(uiPanelObjectsMime(
            {R"(index="2000" name="A")", R"(index="2001" name="B" zorUiFormat="type:slider")",
             R"(index="2002" name="C" zorUiFormat="updates:r500")"}));

        // Outside design mode the screen takes no drop.
        uiPanelDragAndDrop(view, mime.get(), QPoint(100, 50));
        QCOMPARE(panel->objectTable()->rowCount(), 0);
        action("actionDesignRuntimeMode")->trigger();
        QVERIFY(view->designMode());

        uiPanelDragAndDrop(view, mime.get(), QPoint(100, 50));
        QCOMPARE(tableInstances(), QStringList({"001.2000h.00h=label,100,50", "001.2001h.00h=slider,120,70",
                                                "001.2002h.00h=label,140,90"}));
        QCOMPARE(screenControls(), QStringLiteral("001.2000h.00h,label,100,50;001.2001h.00h,slider,120,70;"
                                                  "001.2002h.00h,label,140,90"));
        ZorObjEditModel *table = panel->objectTable();
        const QString sliderFormat = table->index(table->findDataObject("001.2001h.00h").row(), 11).data().toString();
        QCOMPARE(ZorDeviceDescModel::formatEntry(sliderFormat, "shape"), QStringLiteral("slider"));
        QCOMPARE(ZorDeviceDescModel::formatEntry(sliderFormat, "updates"), QStringLiteral("r1000"));
        const QString keptFormat = table->index(table->findDataObject("001.2002h.00h").row(), 11).data().toString();
        QCOMPARE(ZorDeviceDescModel::formatEntry(keptFormat, "updates"), QStringLiteral("r500"));

        // Delete removes the selected object and its control.
        action("actionShowData")->trigger();
        panel->findChild<QTableView *>("tbDataObjects")->selectRow(table->findDataObject("001.2000h.00h").row());
        action("actionDelete")->trigger();
        QCOMPARE(tableInstances(), QStringList({"001.2001h.00h=slider,120,70", "001.2002h.00h=label,140,90"}));
        QCOMPARE(screenControls().count(';'), 1);
        QVERIFY(panel->view()->designMode()); // carried over to the new view
    }

    void requestQueue()
    {
        makePanel();
        QSignalSpy toQml(panel->bridge(), &ZorQmlInterface::messageStrIn);
        auto request = [] { return ZorMessage(KM_OBJLIST_READ, KS_REQUEST, QStringLiteral("1,2000,0")); };

        // Stopped: a request is answered KS_CANCEL at once and not sent.
        panel->enqueueObjectRwRequests(request());
        QVERIFY(sent.isEmpty());
        QCOMPARE(toQml.count(), 1);
        QVERIFY(toQml.at(0).at(0).toString().contains(":KM_OBJLIST_READ:KS_CANCEL:"));

        reportStatus(1);
        QVERIFY(panel->isRunning());
        toQml.clear();
        const ZorMessage first = request();
        panel->enqueueObjectRwRequests(first);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.at(0).msgId(), first.msgId());
        QCOMPARE(sent.at(0).origin(), QStringLiteral("uipanel"));
        for (int i = 0; i < ZorContentUiPanel::QueueLimit - 1; ++i)
            panel->enqueueObjectRwRequests(request());
        QCOMPARE(panel->queuedRequests(), ZorContentUiPanel::QueueLimit - 1);
        QCOMPARE(toQml.count(), 0);

        // The 50th queued request clears the queue; the one out stays awaited.
        panel->enqueueObjectRwRequests(request());
        QCOMPARE(panel->queuedRequests(), 0);
        QCOMPARE(toQml.count(), ZorContentUiPanel::QueueLimit);
        QCOMPARE(sent.size(), 1);
        QVERIFY(panel->isBusy());
        ZorMessage answer(first);
        answer.setMsgState(KS_ANSWER);
        panel->msgIn(answer);
        QVERIFY(!panel->isBusy());
        const ZorMessage next = request();
        panel->enqueueObjectRwRequests(next);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(1).msgId(), next.msgId());
    }

    void firstReadsLeaveWhenTheModuleRuns()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        makePanel(uiPanelDynamicUiDocs(
            {R"(index="2000" dynamicUiInstances="label,0,0" zorUiFormat="shape:label;updates:r1000")"}));
        reportStatus(1);
        QCOMPARE(sentOfType(KM_OBJLIST_READ).size(), 1);
        QVERIFY(panel->isBusy());
        QVERIFY(sentOfType(KM_OBJLIST_READ).at(0).data().toString().contains("001.2000h.00h"));
    }

    void pasteAndCloneMakeControlsInDesignModeOnly()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        makePanel(uiPanelDynamicUiDocs(
            {R"(index="2000" name="A" dynamicUiInstances="label,0,0" zorUiFormat="shape:label;updates:r1000")"}));
        QApplication::clipboard()->setMimeData(uiPanelObjectsMime({R"(index="2001" name="B")"}));
        panel->on_actionPaste_triggered();
        QCOMPARE(tableInstances(), QStringList({"001.2000h.00h=label,0,0"}));

        action("actionDesignRuntimeMode")->trigger();
        action("actionPaste")->trigger();
        QCOMPARE(tableInstances(), QStringList({"001.2000h.00h=label,0,0", "001.2001h.00h=label,0,0"}));

        // Clone the first row for node 7: a control of the copy at 0,0.
        action("actionShowData")->trigger();
        panel->findChild<QTableView *>("tbDataObjects")->selectRow(0);
        answerNodeIdDialog(7);
        action("actionClone")->trigger();
        QCOMPARE(tableInstances(), QStringList({"001.2000h.00h=label,0,0", "001.2001h.00h=label,0,0",
                                                "007.2000h.00h=label,0,0"}));
    }

    void messagesOfTheScreenGoToTheModuleAfterItsHandler()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        makePanel();
        QObject *root = panel->view()->rootObject();
        QMetaObject::invokeMethod(root, "messageStrOut", Q_ARG(QString, ":KM_START:KS_REQUEST"));
        QMetaObject::invokeMethod(root, "messageStrOut", Q_ARG(QString, "Drive1:KM_STOP:KS_REQUEST"));
        QVERIFY(sent.isEmpty()); // queued
        QTRY_COMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).msgType(), int(KM_START));
        QCOMPARE(sent.at(0).origin(), QStringLiteral("uipanel"));
        QCOMPARE(sent.at(1).msgType(), int(KM_MASTER_OUT));
        QCOMPARE(sent.at(1).data().toString(), QStringLiteral("Drive1:KM_STOP:KS_REQUEST"));
    }

    void startButtonFollowsTheModuleStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("style");
        QTest::newRow("idle") << 0 << false << "Start" << "color:black";
        QTest::newRow("started") << 1 << true << "Running" << "background-color: #5EBE37; color:black";
        QTest::newRow("busy") << 1000 << true << "Running" << "background-color: #FEE600; color:black";
        QTest::newRow("read/write error") << 1200 << true << "Read/Write Error"
                                          << "background-color: #FEE600; color:black";
        QTest::newRow("error") << 2000 << true << "Error" << "background-color: #FF6052; color:black";
    }
    void startButtonFollowsTheModuleStatus()
    {
        QFETCH(int, status);
        QFETCH(bool, running);
        QFETCH(QString, text);
        QFETCH(QString, style);
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        makePanel();
        if (status == 0)
            reportStatus(5); // a change to 0 must be seen
        reportStatus(status, QStringLiteral("Other")); // another module's status is not ours
        QCOMPARE(panel->isRunning(), status == 0);
        reportStatus(status);
        QCOMPARE(panel->isRunning(), running);
        QCOMPARE(startButton()->isChecked(), running);
        QCOMPARE(startButton()->text(), text);
        // Disabled (no screen), it looks disabled whatever the colour.
        QCOMPARE(startButton()->styleSheet(),
                 QStringLiteral("QPushButton { %1 } QPushButton:disabled { color: #909090; }").arg(style));
        QCOMPARE(panel->objectTable()->isUpdateRunning(), running);

        sent.clear();
        startButton()->click();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.at(0).msgType(), running ? int(KM_STOP) : int(KM_START));
        QCOMPARE(sent.at(0).origin(), QStringLiteral("GUI"));
    }

    // The screen's own XMLHttpRequest reaches files of the project folder
    // and nothing else (other addresses only when the panel document allows
    // them); a refusal shows on the panel.
    void theScreensOwnRequestsStayInTheProject_data()
    {
        QTest::addColumn<bool>("remoteAllowed");
        QTest::newRow("as it comes") << false;
        QTest::newRow("network allowed") << true;
    }
    void theScreensOwnRequestsStayInTheProject()
    {
        QFETCH(bool, remoteAllowed);
        QTemporaryDir outside;
        QVERIFY(ScreenFixture::writeText(outside.filePath("secret.txt"), "secret"));
        QVERIFY(ScreenFixture::writeText(project->filePath("inside.txt"), "inside"));
        QVERIFY(QFile::link(outside.path(), project->filePath("escape")));
        writeScreen("ZorUiMain.qml",
                    "import QtQuick 2.15\n"
                    "Item {\n"
                    "    property string result: 'none'\n"
                    "    property bool done: false\n"
                    "    function get(url) {\n"
                    "        done = false; result = 'none'\n"
                    "        var x = new XMLHttpRequest()\n"
                    "        x.onreadystatechange = function() {\n"
                    "            if (x.readyState === XMLHttpRequest.DONE) { result = x.responseText; done = true }\n"
                    "        }\n"
                    "        x.open('GET', url)\n"
                    "        x.send()\n"
                    "    }\n"
                    "}\n");
        makePanel(remoteAllowed ? "<docs><QmlData><QmlData><AllowNetworkAccess>1</AllowNetworkAccess>"
                                  "</QmlData></QmlData></docs>"
                                : QString());
        QObject *root = panel->view()->rootObject();
        QVERIFY(root);
        auto *notice = panel->findChild<QLabel *>(QStringLiteral("labelQmlNotice"));
        const auto get = [&](const QString &url) {
            QMetaObject::invokeMethod(root, "get", Q_ARG(QVariant, url));
            return QTest::qWaitFor([&] { return root->property("done").toBool(); }, 5000);
        };

        QVERIFY(get(QUrl::fromLocalFile(project->filePath("inside.txt")).toString()));
        QCOMPARE(root->property("result").toString(), QStringLiteral("inside"));
        QVERIFY(notice->isHidden());

        for (const QString &file : {outside.filePath("secret.txt"), project->filePath("escape/secret.txt")}) {
            QVERIFY(get(QUrl::fromLocalFile(file).toString()));
            QCOMPARE(root->property("result").toString(), QString());
            QTRY_VERIFY(!notice->isHidden());
            QVERIFY2(notice->text().startsWith("QML: refused file://") && notice->text().contains("secret.txt"),
                     qPrintable(notice->text()));
        }

        // Another address: nobody is asked unless the panel allows it.
        QTcpServer web;
        QVERIFY(web.listen(QHostAddress::LocalHost));
        root->setProperty("done", false);
        QMetaObject::invokeMethod(root, "get", Q_ARG(QVariant, QStringLiteral("http://127.0.0.1:%1/x").arg(web.serverPort())));
        if (remoteAllowed) {
            QVERIFY(web.waitForNewConnection(5000));
        } else {
            QTRY_VERIFY(root->property("done").toBool());
            QVERIFY(notice->text().contains("http://127.0.0.1"));
            QVERIFY(!web.hasPendingConnections());
        }
    }

    void savingStoresReadValuesBlank()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        const QString shown = R"( dynamicUiInstances="label,0,0" zorUiFormat="shape:label;updates:%1" actualValue="%2")";
        makePanel(uiPanelDynamicUiDocs({R"(index="2000")" + shown.arg("r1000", "1234h"),
                                        R"(index="2001")" + shown.arg("r1000,w", "1234h"),
                                        R"(index="2002")" + shown.arg("r", "0x12"),
                                        R"(index="2003")" + shown.arg("r1000", "0b101"),
                                        R"(index="2004")" + shown.arg("r1000", "17"),
                                        R"(index="2005" zorUiFormat="shape:label")"}));
        QCOMPARE(screenControls().count(';'), 4); // 2005 has no control
        QCOMPARE(panel->commitPanelSettings(), QString());

        const QDomDocument saved = panel->loadDoc("DynamicUi");
        QMap<QString, QString> values;
        for (QDomElement e = saved.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            values.insert(e.attribute("index"), e.attribute("actualValue"));
            QCOMPARE(e.attribute("zorStatus"), QStringLiteral("0"));
        }
        const QMap<QString, QString> expected{
            {"2000", "0h"}, {"2001", "1234h"}, {"2002", "0x0"}, {"2003", "0b0"}, {"2004", ""}};
        QCOMPARE(values, expected);
        // The live table keeps showing what it read, and nothing was written.
        QCOMPARE(panel->objectTable()->index(panel->objectTable()->findDataObject("001.2000h.00h").row(), 5)
                     .data(ZorObjEditModel::RawValueRole).toString(),
                 QStringLiteral("1234h"));
        QVERIFY(sentOfType(KM_OBJLIST_WRITE).isEmpty());

        // A panel over the saved project shows the same screen.
        bindPanel(model.moduleIndex("Screen1"), &model);
        QCOMPARE(tableInstances().size(), 5);
        QCOMPARE(screenControls().count(';'), 4);
    }

    void changeIdWithoutSelectionChangesEveryRow()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        const QString shown = R"( dynamicUiInstances="label,%1,0" zorUiFormat="shape:label")";
        makePanel(uiPanelDynamicUiDocs({R"(index="2000")" + shown.arg(0), R"(index="2001")" + shown.arg(200)}));
        action("actionDesignRuntimeMode")->trigger();
        action("actionShowData")->trigger();
        QVERIFY(action("actionChangeNodeId")->isVisible());
        answerNodeIdDialog(5);
        action("actionChangeNodeId")->trigger();
        QCOMPARE(tableInstances(), QStringList({"005.2000h.00h=label,0,0", "005.2001h.00h=label,200,0"}));
        QCOMPARE(screenControls(), QStringLiteral("005.2000h.00h,label,0,0;005.2001h.00h,label,200,0"));
        auto *table = panel->findChild<QTableView *>("tbDataObjects");
        QVERIFY(!table->selectionModel()->hasSelection());
    }

    void nodePanelFollowsTheModulesNodeId()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        makePanel(uiPanelDynamicUiDocs({R"(index="2000" dynamicUiInstances="label,0,0" zorUiFormat="shape:label")"}),
                  QStringLiteral("uipanel_node"));
        action("actionDesignRuntimeMode")->trigger();
        QVERIFY(action("actionShowData")->isVisible());
        QVERIFY(!action("actionChangeNodeId")->isVisible());
        QVERIFY(!action("actionClone")->isVisible());
        QVERIFY(panel->objectTable()->isNodeIdLocked());

        // The module's "NodeId" moves every object and control to that node.
        panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, QStringLiteral("NodeId=5")));
        QCOMPARE(panel->objectTable()->lockedNodeId(), QStringLiteral("5"));
        QCOMPARE(tableInstances(), QStringList({"005.2000h.00h=label,0,0"}));
        QCOMPARE(screenControls(), QStringLiteral("005.2000h.00h,label,0,0"));
    }

    void screenCanDisallowDesignMode()
    {
        writeScreen("ZorUiMain.qml", "import QtQuick 2.15\nItem { property bool disallowDesignMode: true }\n");
        makePanel();
        QSignalSpy design(panel->bridge(), &ZorQmlInterface::designModeToggled);
        QVERIFY(panel->loadQml());
        QVERIFY(panel->findChild<QFrame *>("frameTools")->isHidden());
        QVERIFY(!action("actionDesignRuntimeMode")->isChecked());
        QVERIFY(!panel->view()->designMode());
        QCOMPARE(design.count(), 1);
        QCOMPARE(design.at(0).at(0).toBool(), false);
    }

    void demoScreenDrivesANodeOnTheBus()
    {
        writeScreen("ZorUiMain.qml", uiPanelDemoScreen());
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "1"}, new ZorModNode, QStringLiteral("uipanel"),
                           QStringLiteral("<NodeId>1</NodeId>")),
                 qPrintable(rig.sim.errorString()));
        QDomDocument docs;
        docs.setContent(uiPanelDynamicUiDocs(
            {R"(index="60FF" name="Target velocity" dataType="4" actualValue="0" dynamicUiInstances="slider,10,60" zorUiFormat="shape:slider;updates:r,w;min:0;max:5000")",
             R"(index="2001" name="Counter" dataType="6" actualValue="0" dynamicUiInstances="label,10,140" zorUiFormat="shape:label;updates:r200")"}));
        rig.model.moduleElement("Node1").appendChild(rig.model.document().importNode(docs.documentElement(), true));
        bindPanel(rig.model.moduleIndex("Node1"), &rig.model);
        connect(panel.get(), &ZorPanel::msgOut, &rig, [&rig](const ZorMessage &m) { rig.send(m); });
        connect(rig.module(), &ZorModule::slaveOut, panel.get(), &ZorPanel::msgIn, Qt::QueuedConnection);

        startButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(panel->isRunning(), 15000);
        QObject *root = panel->view()->rootObject();
        QObject *label = root->findChild<QObject *>("label:001.2001h.00h");
        QVERIFY(label);
        QTRY_COMPARE_WITH_TIMEOUT(label->property("value").toString(), QStringLiteral("4660"), 10000);
        QCOMPARE(label->findChild<QObject *>("valueText")->property("text").toString(), QStringLiteral("4660"));

        // The operator moves the slider: the node's object is written.
        QObject *slider = root->findChild<QObject *>("slider:001.60ffh.00h");
        QVERIFY(slider);
        QMetaObject::invokeMethod(slider, "setTo", Q_ARG(QVariant, 2500));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sim.nodeValue(1, 0x60ff, 0), QByteArray::fromHex("c4090000"), 10000);
    }
};

ZOR_TEST(TestContentUiPanel)
#include "tst_contentuipanel.moc"
