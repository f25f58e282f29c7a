// The network manager on the wire: manager -> CANopen gateway -> CAN
// interface -> simulated gateway with nodes of the independent CANopen
// stack. The scan with its identity interview (also of a node that has only
// the mandatory objects), the status monitor with its object lists and
// emergencies, and the build's app-control requests against a stand-in of
// the main window's answers (the real main window: tests/app).
#include "noderig.h"
#include "zormodnetmanager.h"
#include "zormodposdrive.h"
#include "zornetworkscan.h"
#include "zorobjeditmodel.h"
#include "zortest.h"

#include <QtTest>
#include <functional>

namespace {

ZorModNetManager *netMgrNewManager()
{
    auto *manager = new ZorModNetManager;
    manager->setTiming(ZorModNode::ResultHold, 300);
    return manager;
}

// Stands in for the main window: records the app-control requests and
// answers each as `answer` says (KM_UNDEFINED: no answer).
class NetMgrAppControlStandIn : public QObject
{
    Q_OBJECT
public:
    std::function<ZorMessage(const ZorMessage &)> answer;
    QList<ZorMessage> requests;
    ZorModule *module = nullptr;

    QStringList commands() const
    {
        QStringList list;
        for (const ZorMessage &m : requests)
            list << m.data().toString();
        return list;
    }
    void reply(const ZorMessage &message) { QMetaObject::invokeMethod(module, "masterIn", Qt::QueuedConnection, Q_ARG(ZorMessage, message)); }

public slots:
    void receive(const ZorMessage &request)
    {
        requests << request;
        const ZorMessage a = answer ? answer(request) : ZorMessage(KM_UNDEFINED, KS_INFO);
        if (a.msgType() != KM_UNDEFINED)
            reply(a);
    }
};

// Stops a module before deleting it (its thread runs).
struct NetMgrStopAndDelete
{
    static void cleanup(ZorModule *module)
    {
        if (module)
            module->stop();
        delete module;
    }
};

ZorMessage netMgrAnswered(ZorMessage request, int state, const QString &data)
{
    request.setMsgState(state);
    request.setData(data);
    return request;
}

// The node monitor's table as its panel fills it from the scanned ids:
// error register, heartbeat time and status word of each node, each read
// every second.
QDomDocument netMgrMonitorTable(const QList<int> &nodes)
{
    QString rows;
    for (int node : nodes) {
        for (const char *object : {"index='1001' name='Error register' dataType='5' accessType='ro'",
                                   "index='1017' name='Heartbeat (ms)' dataType='6' accessType='rw'",
                                   "index='6041' name='Statusword' dataType='6' accessType='ro'"})
            rows += QStringLiteral("<CANopenObject %1 subIndex='0' nodeId='%2' objectType='7' "
                                   "zorUiFormat='updates:r1000'/>")
                        .arg(QLatin1String(object))
                        .arg(node);
    }
    QDomDocument doc;
    doc.setContent("<CANopenObjectList>" + rows + "</CANopenObjectList>");
    return doc;
}

// The property requests sent down to new modules, as "recipient:NodeId=n".
QStringList netMgrNodeIdsSent(const NodeRig &rig)
{
    QStringList list;
    for (const ZorMessage &m : rig.toSlaves.ofType(KM_SETPROPERTY))
        list << m.recipient() + ":" + m.data().toString();
    return list;
}

} // namespace

class TestNetManager : public QObject
{
    Q_OBJECT
private slots:
    // With a node module below the manager, as after a build: it refuses
    // the manager's requests, and the gateway's answers count.
    void scanFindsNodesAndTheirModuleTypes()
    {
        QScopedPointer<ZorModule, NetMgrStopAndDelete> below(new ZorModNode);
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "3 vendor=0xc0ffee name=Drive\\s3",
                            "--node", "5 name=Pellicorn\\sAxis\\x2c\\stype:\\sB",
                            "--node", "7 minimal=1", "--quiet"},
                           netMgrNewManager(), "netmanager"),
                 qPrintable(rig.sim.errorString()));
        rig.model.addModule("nodeconfig", "Node2");
        QVERIFY(below->setupZorModule(rig.model.moduleIndex("Node2"), &rig.model));
        below->start();
        QVERIFY(rig.module()->addSlave(below.data()));
        QVERIFY(rig.waitForStatus(0, "Idle"));

        const ZorMessage scan(KM_START, KS_REQUEST, 1);
        QCOMPARE(rig.request(scan).msgState(), int(KS_ANSWER));
        QVERIFY2(rig.waitForStatus(0, "Nodes configurable by Quorvane: 3:drive_canopen, 5:drive_ruxa, 7:nodeconfig",
                                   30000),
                 qPrintable(rig.infoTexts().join('\n')));

        QCOMPARE(rig.module()->property("LastScanIds"), QStringLiteral("3,5,7"));
        QCOMPARE(rig.module()->property("ConfigurableIds"),
                 QStringLiteral("3:drive_canopen, 5:drive_ruxa, 7:nodeconfig"));
        const QStringList texts = rig.infoTexts();
        const int found = texts.indexOf("Node IDs found: 3,5,7. Now checking identities...");
        QVERIFY2(found > 0 && texts.at(found - 1) == "Scanning Network", qPrintable(texts.join('\n')));
        // Vendor and product in hex, revision and serial in decimal; a value
        // with a comma and a colon whole; what a node lacks shown as "-".
        QCOMPARE(texts.mid(found + 1, 3), QStringList({
            "Node 3: Drive 3, SwVer SW 2.3.4, VendorID c0ffee, ProdId 4711, RevNo 65538, SerNo 268435459",
            "Node 5: Pellicorn Axis, type: B, SwVer SW 2.3.4, VendorID 112233, ProdId 4711, RevNo 65538, SerNo 268435461",
            "Node 7: -, SwVer -, VendorID 112233, ProdId -, RevNo -, SerNo -"}));
        QVERIFY(rig.status() == 0);

        const QStringList interviews = rig.sentDown(KM_INTERVIEW);
        QCOMPARE(interviews.value(0), QStringLiteral("ScanIds:0:0\n"));
        const QStringList identity = interviews.value(1).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(identity.size(), 1 + 3 * 6);
        QCOMPARE(identity.first(), QStringLiteral("OnErrorContinue"));
        QCOMPARE(identity.mid(13), QStringList({"SDOReadObject:1000:2:7,1018h,1,unsigned32",
                                                "SDOReadObject:1000:2:7,1018h,2,unsigned32",
                                                "SDOReadObject:1000:2:7,1018h,3,unsigned32",
                                                "SDOReadObject:1000:2:7,1018h,4,unsigned32",
                                                "SDOReadObject:1000:2:7,1008h,0,visible_string",
                                                "SDOReadObject:1000:2:7,100Ah,0,visible_string"}));
        // The result stays for the hold time, then the manager is idle.
        QVERIFY(rig.waitForStatus(0, "Idle"));
    }

    void scanOfAnEmptyBusFails()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--quiet"}, netMgrNewManager(), "netmanager"), qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST, 1)).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(2000, "Error: Failed to scan network", 20000));
        QVERIFY(!rig.infoTexts().contains("Node IDs found: . Now checking identities..."));
        // A stop leaves the error state.
        rig.send(ZorMessage(KM_STOP, KS_REQUEST));
        QVERIFY(rig.waitForStatus(0, "Idle"));
    }

    void moduleTypeOfANode_data()
    {
        QTest::addColumn<QString>("projectTypes");
        QTest::addColumn<uint>("vendor");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        const QString initial = "0xc0ffee:drive_canopen, Pellicorn:drive_ruxa, default:nodeconfig";
        QTest::newRow("vendor id before any name") << initial << 0xC0FFEEu << "Pellicorn" << "drive_canopen";
        QTest::newRow("name in any case") << initial << 5u << "my PELLICORN drive" << "drive_ruxa";
        QTest::newRow("default") << initial << 5u << "other" << "nodeconfig";
        QTest::newRow("vendor 1 never a number") << "1:numeric, default:nodeconfig" << 1u << "x" << "nodeconfig";
        QTest::newRow("key default found by name") << "Zed:z, default:d" << 5u << "Default drive" << "d";
        QTest::newRow("decimal key, later key replaces")
            << "12648430:first, 12648430:second" << 0xC0FFEEu << "" << "second";
        QTest::newRow("empty table leaves the node out") << "" << 0xC0FFEEu << "Pellicorn" << "";
        QTest::newRow("empty key matches nothing") << ":any" << 5u << "name" << "";
    }

    void moduleTypeOfANode()
    {
        QFETCH(QString, projectTypes);
        QFETCH(uint, vendor);
        QFETCH(QString, name);
        ZorNetworkScan::Identity id;
        id.node = 4;
        id.hasVendor = true;
        id.vendor = vendor;
        id.hasName = !name.isEmpty();
        id.name = name;
        QTEST(ZorNetworkScan::moduleTypeFor(ZorNetworkScan::projectTypes(projectTypes), id), "type");
    }

    void configurableIdsOfABuild()
    {
        using Entries = QList<QPair<int, QString>>;
        QCOMPARE(ZorNetworkScan::configurableIds("5:drive_canopen, 0x7, 300:nodeconfig, 0:x, 65541:y, 0b11: "),
                 Entries({{5, "drive_canopen"}, {7, "nodeconfig"}, {3, "nodeconfig"}}));
    }

    // Object lists wait while the manager is idle and run in the status
    // monitor; an emergency of the node "NodeId" shows, another does not.
    // A drive module below the manager, as a build makes it, leaves the
    // lists to the gateway.
    void statusMonitor()
    {
        QScopedPointer<ZorModule, NetMgrStopAndDelete> below(new ZorModPosDrive);
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "3", "--node", "5", "--quiet"}, netMgrNewManager(), "netmanager",
                           "<NodeId>5</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        rig.model.addModule("drive_canopen", "Drive01", QString(), "<properties><NodeId>3</NodeId></properties>");
        QVERIFY(below->setupZorModule(rig.model.moduleIndex("Drive01"), &rig.model));
        below->start();
        QVERIFY(rig.module()->addSlave(below.data()));
        QVERIFY(rig.waitForStatus(0, "Idle"));

        const ZorMessage read(KM_OBJLIST_READ, KS_REQUEST,
                              "SilentReadWrite\n003.1000h.00h,unsigned32,\n005.2001h.00h,unsigned16,");
        rig.send(read);
        QTest::qWait(300);
        QCOMPARE(rig.answerTo(read).msgType(), int(KM_UNDEFINED));
        QVERIFY(rig.sentDown(KM_INTERVIEW).isEmpty());

        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.status(), 1);
        QCOMPARE(rig.infoText(), QStringLiteral("Status Monitor"));
        const ZorMessage result = rig.waitForAnswer(read);
        QCOMPARE(result.msgState(), int(KS_ANSWER));
        QCOMPARE(result.data().toString(),
                 QStringLiteral("003.1000h.00h,unsigned32,131474\n005.2001h.00h,unsigned16,4660\n"));

        QVERIFY(rig.sim.command("NODE EMCY 3 10 81 11 01 02 03 04 05"));
        QVERIFY(rig.sim.command("NODE EMCY 5 10 81 11 01 02 03 04 05"));
        QVERIFY(rig.waitForStatus(1, "Warning: Emergency (8110h,11h,01 02 03 04 05)"));
        QVERIFY(rig.waitForStatus(1, "Status Monitor"));
        QCOMPARE(rig.infoTexts().filter("Emergency").size(), 1);

        // Stopped: a list waits again, and the idle state shows an
        // emergency as a warning for the hold time.
        rig.send(ZorMessage(KM_STOP, KS_REQUEST));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QVERIFY(rig.sim.command("NODE EMCY 5 00 10 01 00 00 00 00 00"));
        QVERIFY(rig.waitForStatus(0, "Warning: Emergency (1000h,01h,00 00 00 00 00)"));
        QVERIFY(rig.waitForStatus(0, "Idle"));
    }



    // The node monitor of the demo bus: four nodes, three objects each, read
    // every second through the manager, with a node module and a drive
    // module below it as in a built project (they refuse the lists, whose
    // final line feed makes a "Wait" line). Every cell gets its value within
    // a few passes and keeps it: no read fails, no value goes missing.
    void nodeMonitorReadsEveryNodeAndKeepsTheValues()
    {
        QScopedPointer<ZorModule, NetMgrStopAndDelete> node(new ZorModNode);
        QScopedPointer<ZorModule, NetMgrStopAndDelete> drive(new ZorModPosDrive);
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "1 heartbeat=1000 wave=10000", "--node", "2 drive=1 vendor=0xc0ffee",
                            "--node", "3 drive=1 vendor=0xc0ffee", "--node", "4 minimal=1", "--quiet"},
                           netMgrNewManager(), "netmanager"),
                 qPrintable(rig.sim.errorString()));
        rig.model.addModule("nodeconfig", "Node01", QString(), "<properties><NodeId>1</NodeId></properties>");
        rig.model.addModule("drive_canopen", "Drive02", QString(), "<properties><NodeId>2</NodeId></properties>");
        QVERIFY(node->setupZorModule(rig.model.moduleIndex("Node01"), &rig.model));
        QVERIFY(drive->setupZorModule(rig.model.moduleIndex("Drive02"), &rig.model));
        node->start();
        drive->start();
        QVERIFY(rig.module()->addSlave(node.data()));
        QVERIFY(rig.module()->addSlave(drive.data()));
        QVERIFY(rig.waitForStatus(0, "Idle"));

        ZorObjEditModel monitor(netMgrMonitorTable({1, 2, 3, 4}), false);
        connect(&monitor, &ZorObjEditModel::objectUpdateOut, &rig, [&rig](const ZorMessage &m) { rig.send(m); });
        connect(rig.module(), &ZorModule::slaveOut, &monitor, &ZorObjEditModel::objectUpdateIn,
                Qt::QueuedConnection);
        QStringList lost;
        QStringList failed;
        connect(&monitor, &QAbstractItemModel::dataChanged, &monitor, [&](const QModelIndex &index) {
            const QString id = index.data(ZorObjEditModel::DataObjectIdRole).toString();
            if (index.column() == ZorObjEditModel::ValueColumn && index.data().toString().isEmpty())
                lost << id;
            if (index.column() == ZorObjEditModel::StatusColumn
                && index.data(ZorObjEditModel::StatusCodeRole).toInt() == ZorObjEditModel::StatusError)
                failed << id + ": " + index.data().toString();
        });
        const auto values = [&monitor] {
            QStringList list;
            for (int r = 0; r < monitor.rowCount(); ++r)
                list << monitor.index(r, ZorObjEditModel::ValueColumn).data().toString();
            return list;
        };
        const QStringList expected = {"0", "1000", "592", "0", "0", "592", "0", "0", "592", "0", "0", "592"};
        const auto readsAnswered = [&rig] {
            int n = 0;
            for (const ZorMessage &m : rig.fromModule.ofType(KM_OBJLIST_READ))
                n += m.msgState() == KS_ANSWER ? 1 : 0;
            return n;
        };

        // As the panel does it: the start, and at once the first reads.
        rig.send(ZorMessage(KM_START, KS_REQUEST));
        monitor.initObjectUpdate();
        QVERIFY2(rig.waitUntil([&] { return values() == expected; }, 6000),
                 qPrintable(values().join(',') + '\n' + failed.join('\n')));
        const int answered = readsAnswered();
        QVERIFY(rig.waitUntil([&] { return readsAnswered() >= answered + 4; }, 12000));
        QCOMPARE(values(), expected);
        QVERIFY2(failed.isEmpty(), qPrintable(failed.join('\n')));
        QVERIFY2(lost.isEmpty(), qPrintable(lost.join('\n')));
        QCOMPARE(rig.status(), 1);
        monitor.stopObjectUpdate();
    }

    void buildCreatesModulesOneAtATime()
    {
        NodeRig rig;
        NetMgrAppControlStandIn app;
        int created = 0;
        app.answer = [&created](const ZorMessage &request) {
            if (request.data().toString().startsWith("addmodule"))
                return netMgrAnswered(request, KS_ANSWER, QStringLiteral("New%1").arg(++created));
            return netMgrAnswered(request, KS_ANSWER, request.data().toString());
        };
        QVERIFY2(rig.start({"--quiet"}, netMgrNewManager(), "netmanager",
                           "<ProjectLabelsCreated>Old1,Old2</ProjectLabelsCreated>"
                           "<ConfigurableIds>5:drive_canopen, 0x7, 300:nodeconfig</ConfigurableIds>"),
                 qPrintable(rig.sim.errorString()));
        app.module = rig.module();
        connect(rig.module(), &ZorModule::appControlOut, &app, &NetMgrAppControlStandIn::receive);

        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST, 2)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.infoText(), QStringLiteral("Project Build Complete"));
        QVERIFY(rig.infoTexts().contains("Building Project..."));
        // Only a module the last build created and that still carries its
        // mark goes (tests/app); the labels of the last build name no module
        // here, and no module is removed by its type.
        QCOMPARE(app.commands(), QStringList({"addmodule,drive_canopen,", "addmodule,nodeconfig,"}));
        QCOMPARE(rig.module()->property("ProjectLabelsCreated"), QStringLiteral("New1,New2"));
        QVERIFY(rig.waitUntil([&] { return netMgrNodeIdsSent(rig).size() == 4; }));
        QCOMPARE(netMgrNodeIdsSent(rig), QStringList({"New1:NodeId=5", "New1:BuiltBy=Node1:New1", "New2:NodeId=7",
                                                      "New2:BuiltBy=Node1:New2"}));
        QVERIFY(rig.sentDown(KM_COMM_OPEN).isEmpty());
    }

    void buildFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("error");
        QTest::newRow("add refused") << "fail" << "Error: Could not create all node elements";
        QTest::newRow("answer without label") << "empty" << "Error: Could not create all node elements";
        QTest::newRow("answer echoing the command") << "echo" << "Error: Could not create all node elements";
        QTest::newRow("no answer in time") << "silent" << "Error: Could not create all node elements";
        QTest::newRow("no valid id") << "noids" << "Error: No configurable nodes";
    }

    // The first of two additions fails; the second is made all the same.
    void buildFailures()
    {
        QFETCH(QString, failure);
        NodeRig rig;
        NetMgrAppControlStandIn app;
        ZorMessage held(KM_UNDEFINED, KS_INFO);
        app.answer = [&](const ZorMessage &request) {
            const QString command = request.data().toString();
            if (command == "addmodule,nodeconfig,") {
                if (failure == "fail")
                    return netMgrAnswered(request, KS_FAIL, command);
                if (failure == "empty")
                    return netMgrAnswered(request, KS_ANSWER, "");
                if (failure == "echo")
                    return netMgrAnswered(request, KS_ANSWER, command);
                held = request;
                return ZorMessage(KM_UNDEFINED, KS_INFO);
            }
            return netMgrAnswered(request, KS_ANSWER, "Drive01");
        };
        ZorModNetManager *manager = netMgrNewManager();
        manager->setManagerTiming(ZorModNetManager::AppControlTimeout, 300);
        const QString ids = failure == "noids" ? "0:nodeconfig, 128" : "4:nodeconfig, 9:drive_canopen";
        QVERIFY2(rig.start({"--quiet"}, manager, "netmanager", "<ConfigurableIds>" + ids + "</ConfigurableIds>"),
                 qPrintable(rig.sim.errorString()));
        app.module = rig.module();
        connect(rig.module(), &ZorModule::appControlOut, &app, &NetMgrAppControlStandIn::receive);

        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST, 2)).msgState(), int(KS_FAIL));
        QFETCH(QString, error);
        QVERIFY(rig.waitForStatus(2000, error));
        if (failure == "noids") {
            QVERIFY(app.requests.isEmpty());
            return;
        }
        QCOMPARE(app.commands(), QStringList({"addmodule,nodeconfig,", "addmodule,drive_canopen,"}));
        QCOMPARE(rig.module()->property("ProjectLabelsCreated"), QStringLiteral("Drive01"));
        QVERIFY(rig.waitUntil([&] {
            return netMgrNodeIdsSent(rig) == QStringList({"Drive01:NodeId=9", "Drive01:BuiltBy=Node1:Drive01"});
        }));

        if (failure == "silent") {
            // The module came after all: the next build is to remove it too.
            app.reply(netMgrAnswered(held, KS_ANSWER, "Node01"));
            QVERIFY(rig.waitUntil([&] {
                return rig.module()->property("ProjectLabelsCreated") == QLatin1String("Drive01,Node01");
            }));
            QVERIFY(rig.waitUntil([&] { return netMgrNodeIdsSent(rig).contains("Node01:NodeId=4"); }));
        }
    }

    void stopHalfWayKeepsTrackOfWhatIsInTheProject()
    {
        NodeRig rig;
        NetMgrAppControlStandIn app;
        app.answer = [](const ZorMessage &request) {
            if (request.data().toString() == "addmodule,nodeconfig,")
                return netMgrAnswered(request, KS_ANSWER, "Node05");
            return ZorMessage(KM_UNDEFINED, KS_INFO);   // the second addition hangs
        };
        QVERIFY2(rig.start({"--quiet"}, netMgrNewManager(), "netmanager",
                           "<ConfigurableIds>5, 6:drive_canopen</ConfigurableIds>"),
                 qPrintable(rig.sim.errorString()));
        app.module = rig.module();
        connect(rig.module(), &ZorModule::appControlOut, &app, &NetMgrAppControlStandIn::receive);
        const ZorMessage build(KM_START, KS_REQUEST, 2);
        rig.send(build);
        QVERIFY(rig.waitUntil([&] { return app.requests.size() == 2; }));
        QCOMPARE(rig.request(ZorMessage(KM_STOP, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.waitForAnswer(build).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QCOMPARE(rig.module()->property("ProjectLabelsCreated"), QStringLiteral("Node05"));
        // The addition on its way when the build stopped is made later.
        app.reply(netMgrAnswered(app.requests.at(1), KS_ANSWER, "Drive06"));
        QVERIFY(rig.waitUntil([&] {
            return rig.module()->property("ProjectLabelsCreated") == QLatin1String("Node05,Drive06");
        }));
    }
};

ZOR_TEST(TestNetManager)
#include "tst_netmanager.moc"
