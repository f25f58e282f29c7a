// The node module on the wire: node module -> CANopen gateway -> CAN
// interface -> simulated gateway -> a node of the independent CANopen stack.
// Start and stop, the automatic node id, object lists with their interview
// lines, results and status texts, store and reset, the access key. The
// time budget and the queue limit run against a gateway double that never
// answers an interview.
#include <QDomDocument>
#include "noderig.h"
#include "zormodnode.h"
#include "zormodstates.h"
#include "zortest.h"

#include <QtTest>

namespace {

// A gateway that opens communication (or not) and never answers an interview.
struct SilentGatewayState : Macho::Link<SilentGatewayState, ZorModStates::Top>
{
    MACHO_STATE(SilentGatewayState)
    void cycle() override;
};

class SilentGateway : public ZorModule
{
public:
    explicit SilentGateway(bool opens)
        : opens(opens)
    {
        setIdentity(QStringLiteral("Stub"), QStringLiteral("stub"), QString());
    }
    ~SilentGateway() override { stop(); }
    Macho::StateRef rootStateRef() const override { return SilentGatewayState::makeStateRef(); }
    bool bypassInputFilter() const override { return true; }
    int statusPeriod() const override { return 0; }
    const bool opens;
};

void SilentGatewayState::cycle()
{
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (message.msgType() == KM_COMM_OPEN && message.isRequest()
            && static_cast<SilentGateway *>(module())->opens) {
            message.setMsgState(KS_ANSWER);
            sendToMaster(message, false);
        }
    }
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
    }
}

ZorModNode *newNode()
{
    auto *node = new ZorModNode;
    node->setTiming(ZorModNode::ResultHold, 300);
    return node;
}

ZorMessage objectList(int type, const QString &list)
{
    return ZorMessage(type, KS_REQUEST, list);
}

QList<int> statusesOf(const NodeRig &rig)
{
    QList<int> list;
    for (const ZorMessage &m : rig.fromModule.ofType(KM_STATUS)) {
        if (m.origin() == QLatin1String("Node1"))
            list << m.data().toInt();
    }
    return list;
}

QString storedProperty(NodeRig &rig, const QString &key)
{
    return rig.module()->property(key);
}

} // namespace

class TestNode : public QObject
{
    Q_OBJECT
private slots:
    void startAndStop()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "5", "--quiet"}, newNode(), "nodeconfig", "<NodeId>5</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));

        const ZorMessage start(KM_START, KS_REQUEST);
        QCOMPARE(rig.request(start).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.status(), 1);
        QCOMPARE(rig.infoTexts(), QStringList({"Idle", "Start communication", "Started"}));
        QCOMPARE(statusesOf(rig).mid(0, 3), QList<int>({0, 1000, 1}));

        // Started already: answered at once, communication not opened again.
        QCOMPARE(rig.request(ZorMessage(KM_DRIVE_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_COMM_OPEN).size(), 1);

        // A message passed down in text form 1 leaves with the node's label.
        rig.send(ZorMessage(KM_MASTER_OUT, KS_REQUEST, QStringLiteral(":KM_WHOAMI:KS_REQUEST")));
        QVERIFY(rig.waitUntil([&] { return !rig.toSlaves.ofType(KM_WHOAMI).isEmpty(); }));
        QCOMPARE(rig.toSlaves.ofType(KM_WHOAMI).first().origin(), QStringLiteral("Node1"));

        QCOMPARE(rig.request(ZorMessage(KM_STOP, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 1);
        // Stopped already: answered, nothing cancelled.
        QCOMPARE(rig.request(ZorMessage(KM_DRIVE_STOP, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 1);

        // Stop, then start: through communication init again.
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_COMM_OPEN).size(), 2);
        QCOMPARE(rig.infoText(), QStringLiteral("Started"));
    }

    void automaticNodeId_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("interviews");
        QTest::addColumn<QString>("nodeId");
        QTest::newRow("nodeconfig scans") << "nodeconfig" << "ScanIds:5000:0\n" << "5";
        QTest::newRow("uipanel does not") << "uipanel" << "" << "0";
    }

    void automaticNodeId()
    {
        QFETCH(QString, type);
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "5", "--quiet"}, newNode(), type, "<NodeId>0</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.status(), 1);
        QTEST(rig.sentDown(KM_INTERVIEW).join(QString()), "interviews");
        QTEST(storedProperty(rig, "NodeId"), "nodeId");
        if (type == QLatin1String("nodeconfig")) {
            QVERIFY(rig.infoTexts().contains("Getting Node ID"));
            QVERIFY(statusesOf(rig).contains(1105));
            QVERIFY(rig.infoTexts().contains("Setting Node ID = 5"));
            QVERIFY(rig.waitUntil([&] { return rig.model.storedProperty("Node1", "NodeId") == "5"; }));
            // The node found is the one served: a read reaches node 5.
            const ZorMessage read = rig.request(objectList(KM_OBJLIST_READ, "r,1000h,0h,unsigned32"));
            QCOMPARE(read.data().toString(), QStringLiteral("r,1000h,0h,unsigned32,131474\n"));
        }
    }

    void automaticNodeIdWithoutNode()
    {
        NodeRig rig;
        ZorModNode *node = newNode();
        node->setTiming(ZorModNode::AutoIdTimeout, 1000);
        QVERIFY2(rig.start({"--quiet"}, node, "nodeconfig"), qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(2000, "Error: Failed to Get Node ID"));
        QCOMPARE(rig.sentDown(KM_INTERVIEW), QStringList({"ScanIds:1000:0\n"}));
        QCOMPARE(storedProperty(rig, "NodeId"), QStringLiteral("0"));
        // A start in the error state is answered and changes nothing.
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.status(), 2000);
    }

    void communicationInitFails()
    {
        // The CAN interface cannot open: its gateway is gone.
        {
            NodeRig rig;
            QVERIFY2(rig.start({"--quiet"}, newNode(), "nodeconfig", "<NodeId>5</NodeId>"),
                     qPrintable(rig.sim.errorString()));
            QVERIFY(rig.sim.drop());
            QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST), 20000).msgState(), int(KS_FAIL));
            QVERIFY(rig.waitForStatus(2000, "Error: Communication init failed"));
        }
        // Nobody answers the opening.
        {
            NodeRig rig;
            ZorModNode *node = newNode();
            node->setTiming(ZorModNode::CommOpenTimeout, 300);
            QVERIFY(rig.startWithSlave(new SilentGateway(false), node, "nodeconfig", "<NodeId>5</NodeId>"));
            QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_FAIL));
            QVERIFY(rig.waitForStatus(2000, "Error: Communication init failed"));
        }
    }

    // Lists sent to a node that was never started: communication is opened
    // on the way, the interview lines are the exact ones, and the results
    // come back line by line.
    void objectLists()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "5", "--quiet"}, newNode(), "nodeconfig",
                           "<NodeId>5</NodeId><ErrorTexts>0x06010001,write only\nbit0,odd</ErrorTexts>"),
                 qPrintable(rig.sim.errorString()));
        QVERIFY(rig.sim.command("NODE PUT 5 2006 0 65 72 72 6f 72 20 34 32"));   // "error 42"

        const ZorMessage write = rig.request(objectList(
            KM_OBJLIST_WRITE, "w,2000h,0h,unsigned8,0x21 # u8\n005.2001h.00h,unsigned16,4660\n"
                              "r,6041h,0h,unsigned16\nrw,6060h,0h,integer8"));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).value(0),
                 QStringLiteral("OnErrorContinue\nSDOWriteObject:1000:1:5,2000h,0h,unsigned8,0x21\n"
                                "SDOWriteObject:1000:1:5,2001h,00h,unsigned16,4660\nWait:0:0\nWait:0:0\n"));
        QCOMPARE(write.msgState(), int(KS_ANSWER));
        QCOMPARE(write.data().toString(),
                 QStringLiteral("w,2000h,0h,unsigned8,0x21, # u8\n005.2001h.00h,unsigned16,4660,\n"
                                "r,6041h,0h,unsigned16\nrw,6060h,0h,integer8\n"));
        QCOMPARE(rig.sim.nodeValue(5, 0x2000, 0), QByteArray::fromHex("21"));
        QCOMPARE(rig.sim.nodeValue(5, 0x2001, 0), QByteArray::fromHex("3412"));
        QCOMPARE(rig.sim.nodeValue(5, 0x6060, 0), QByteArray::fromHex("00"));
        QCOMPARE(rig.sentDown(KM_COMM_OPEN).size(), 1);
        QVERIFY(rig.infoTexts().contains("Start communication"));
        QVERIFY(rig.infoTexts().contains("Writing objects ..."));
        QVERIFY(rig.waitForStatus(1, "Writing objects OK"));
        QVERIFY(rig.waitForStatus(1, "Started"));

        const ZorMessage read = rig.request(objectList(
            KM_OBJLIST_READ, "005.2000h.00h,unsigned8\nr,2001h,0h,unsigned16 # u16\n005.2008h.00h,unsigned32\n"
                             "000.2006h.00h,visible_string"));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).value(1),
                 QStringLiteral("OnErrorContinue\nSDOReadObject:750:0:5,2000h,00h,unsigned8\n"
                                "SDOReadObject:750:0:5,2001h,0h,unsigned16\nSDOReadObject:750:0:5,2008h,00h,unsigned32\n"
                                "SDOReadObject:750:0:5,2006h,00h,visible_string\n"));
        QCOMPARE(read.msgState(), int(KS_FAIL));
        QCOMPARE(read.data().toString(),
                 QStringLiteral("005.2000h.00h,unsigned8,33\nr,2001h,0h,unsigned16,4660 # u16\n"
                                "005.2008h.00h,unsigned32,,\"error write only, odd (06010001h)\"\n"
                                "005.2006h.00h,visible_string,error 42\n"));
        QVERIFY(rig.waitForStatus(1200, "Reading objects Error"));

        // An object table goes to the node as the object list of its rows,
        // addressed to the module's node, and comes back as the table with
        // the values read and each row's status.
        const ZorMessage tableWrite = rig.request(objectList(
            KM_OBJLIST_WRITE, "SilentReadWrite<CANopenObjectList>\n<CANopenObject index=\"2001\" nodeId=\"1\" "
                              "name=\"Word\" objectType=\"7\" dataType=\"0006\" accessType=\"rw\" "
                              "actualValue=\"0x1234\"/>\n</CANopenObjectList>"));
        QCOMPARE(tableWrite.msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).last(),
                 QStringLiteral("SDOWriteObject:1000:1:5,2001h,00h,unsigned16,4660\nWait:0:0\n"));
        QCOMPARE(rig.sim.nodeValue(5, 0x2001, 0), QByteArray::fromHex("3412"));
        QDomDocument written;
        QVERIFY(written.setContent(tableWrite.data().toString()));
        QCOMPARE(written.documentElement().firstChildElement().attribute("zorStatus"), QStringLiteral("1"));

        const ZorMessage tableRead = rig.request(objectList(
            KM_OBJLIST_READ, "<q2:CANopenObjectList xmlns:q2=\"urn:x\">\n<q2:CANopenObject index=\"2000\" "
                             "nodeId=\"1\" name=\"Byte\" objectType=\"7\" dataType=\"0005\" accessType=\"rw\"/>\n"
                             "</q2:CANopenObjectList>"));
        QCOMPARE(tableRead.msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).last(),
                 QStringLiteral("SDOReadObject:750:0:5,2000h,00h,unsigned8\nWait:0:0\n"));
        QDomDocument read2000;
        QVERIFY(read2000.setContent(tableRead.data().toString()));
        const QDomElement row = read2000.documentElement().firstChildElement();
        QCOMPARE(row.attribute("actualValue"), QStringLiteral("33"));
        QCOMPARE(row.attribute("zorStatus"), QStringLiteral("1"));
        QVERIFY(rig.waitForStatus(1, "Reading objects OK"));

        // Markup that is not XML is refused; nothing goes on the bus.
        const int sent = rig.sentDown(KM_INTERVIEW).size();
        const ZorMessage broken = rig.request(objectList(KM_OBJLIST_WRITE, "<CANopenObjectList><CANopenObject"));
        QCOMPARE(broken.msgState(), int(KS_FAIL));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).size(), sent);

        // A failed line of a longer list is no node error: the next list runs.
        const ZorMessage again = rig.request(objectList(KM_OBJLIST_READ, "r,1017h,0h,unsigned16"));
        QCOMPARE(again.data().toString(), QStringLiteral("r,1017h,0h,unsigned16,0\n"));
        QVERIFY(!statusesOf(rig).contains(2000));
        QVERIFY(rig.waitForStatus(1, "Started"));
    }

    void storeAndReset()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "5"}, newNode(), "nodeconfig", "<NodeId>5</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));

        struct Case { const char *list; const char *frame; const char *text; };
        const Case cases[] = {
            {"StoreCmd", "t60582310100173617665", "Store permanently OK"},   // "save" to 1010h sub 1
            {"resetcmd", "t6058231110016c6f6164", "Factory reset OK"},       // "load" to 1011h sub 1
        };
        for (const Case &c : cases) {
            rig.sim.setCursor(rig.sim.mark());
            const ZorMessage answer = rig.request(objectList(KM_OBJLIST_WRITE, c.list));
            QCOMPARE(answer.msgState(), int(KS_ANSWER));
            QVERIFY2(rig.sim.waitForLine(QStringLiteral("^BUS c\\d+ %1$").arg(c.frame)).hasMatch(), c.frame);
            QVERIFY(rig.waitForStatus(1, c.text));
        }

        // The node refuses: the abort comes back as the line's error.
        rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("StoreCmd=w,2007h,0h,unsigned32,0x65766173")));
        const ZorMessage refused = rig.request(objectList(KM_OBJLIST_WRITE, "StoreCmd"));
        QCOMPARE(refused.msgState(), int(KS_FAIL));
        QCOMPARE(refused.data().toString(), QStringLiteral("w,2007h,0h,unsigned32,0x65766173,error (06010002h) # StoreCmd\n"));
        QVERIFY(rig.waitForStatus(2000, "Store permanently Error"));
        QVERIFY(statusesOf(rig).contains(1200));
    }

    void timeBudgetAndQueueLimit()
    {
        NodeRig rig;
        QVERIFY(rig.startWithSlave(new SilentGateway(true), newNode(), "nodeconfig", "<NodeId>5</NodeId>"));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));

        // One read line: 1500 ms, then the time-out, and the gateway is told.
        const ZorMessage late = rig.request(objectList(KM_OBJLIST_READ, "r,1000h,0h,unsigned32"));
        QCOMPARE(late.msgState(), int(KS_TIMEOUT));
        QCOMPARE(late.data().toString(), QStringLiteral("r,1000h,0h,unsigned32,,timeout\n"));
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 1);
        QVERIFY(rig.waitForStatus(1200, "Reading objects Error"));

        // A long list runs; ten more wait; the eleventh cancels all of them.
        QString longList;
        for (int i = 0; i < 20; ++i)
            longList += QStringLiteral("r,1000h,0h,unsigned32\n");
        QList<ZorMessage> lists = {objectList(KM_OBJLIST_READ, longList)};
        rig.send(lists.first());
        QVERIFY(rig.waitUntil([&] { return rig.sentDown(KM_INTERVIEW).size() == 2; }));
        for (int i = 1; i <= 11; ++i) {
            lists << objectList(KM_OBJLIST_WRITE, QStringLiteral("w,2000h,0h,unsigned8,%1").arg(i));
            rig.send(lists.last());
        }
        QVERIFY(rig.waitUntil([&] { return rig.sentDown(KM_INTERVIEW).size() == 3; }));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).last(), QStringLiteral("SDOWriteObject:1000:1:5,2000h,0h,unsigned8,11\n"));
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 2);
        // The answers to the master leave by their own queue: wait for them.
        QList<int> cancelled;
        QVERIFY(rig.waitUntil([&] {
            cancelled.clear();
            for (const ZorMessage &m : rig.fromModule.messages()) {
                if (m.msgState() == KS_CANCEL)
                    cancelled << lists.indexOf(m);
            }
            return cancelled.size() >= 11;
        }));
        QCOMPARE(cancelled, QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

        // A stop answers what runs, and the node rests idle.
        QCOMPARE(rig.request(ZorMessage(KM_STOP, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.answerTo(lists.last()).msgState(), int(KS_CANCEL));
        QVERIFY(rig.waitForStatus(0, "Idle"));
    }

    // A list cancelled by a stop: the gateway's late answer to the cancelled
    // interview does not turn the stopped node into an error.
    void stopDuringList()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "5 silent=1", "--quiet"}, newNode(), "nodeconfig", "<NodeId>5</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        GatewayRecorder fromGateway;
        connect(rig.gateway(), &ZorModule::slaveOut, &fromGateway, &GatewayRecorder::record, Qt::DirectConnection);
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        const ZorMessage list = objectList(KM_OBJLIST_READ, "r,1000h,0h,unsigned32\nr,1001h,0h,unsigned8");
        rig.send(list);
        QVERIFY(rig.waitUntil([&] { return rig.sentDown(KM_INTERVIEW).size() == 1; }));
        QCOMPARE(rig.request(ZorMessage(KM_STOP, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.answerTo(list).msgState(), int(KS_CANCEL));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QVERIFY(rig.waitUntil([&] {
            for (const ZorMessage &m : fromGateway.ofType(KM_INTERVIEW)) {
                if (m.msgState() == KS_CANCEL)
                    return true;
            }
            return false;
        }));
        QVERIFY(!rig.waitUntil([&] { return rig.status() != 0; }, 300));
        QCOMPARE(rig.infoText(), QStringLiteral("Idle"));
    }

    void accessKey()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "5", "--quiet"}, newNode(), "nodeconfig",
                           "<NodeId>5</NodeId><AccessKeyDefinitions>other,2000h,0h,unsigned8,1\n"
                           "level1,2009h,0h,unsigned16,700</AccessKeyDefinitions>"),
                 qPrintable(rig.sim.errorString()));
        auto keyNotice = [&rig](const QString &value) {
            return rig.waitUntil([&] {
                for (const ZorMessage &m : rig.fromModule.ofType(KM_SETPROPERTY)) {
                    if (m.msgState() == KS_INFO && m.data().toString() == "AccessKeySet=" + value)
                        return true;
                }
                return false;
            });
        };

        // Entered before the node runs: written once communication is open,
        // with the class's default key.
        rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("AccessKeySet=LEVEL1,")));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QVERIFY(keyNotice("LEVEL1,700,ok"));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).last(), QStringLiteral("SDOWriteObject:1000:1:5,2009h,0h,unsigned16,700\n"));
        QVERIFY(rig.waitForStatus(1, "Set Access Key LEVEL1,700 OK"));
        QCOMPARE(rig.sim.nodeValue(5, 0x2009, 0), QByteArray::fromHex("bc02"));

        // "AccessKeySet" in a store command stands for the key.
        rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("StoreCmd=w,2002h,0h,unsigned32,AccessKeySet")));
        QCOMPARE(rig.request(objectList(KM_OBJLIST_WRITE, "StoreCmd")).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sim.nodeValue(5, 0x2002, 0), QByteArray::fromHex("bc020000"));

        // A key the node refuses (below the object's limit).
        rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("AccessKeySet=level1, 5")));
        QVERIFY(keyNotice("level1,5,error"));
        QVERIFY(rig.waitForStatus(1200, "Set Access Key level1,5 Error"));

        // No definition of the class: nothing is written.
        const int sent = rig.sentDown(KM_INTERVIEW).size();
        rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("AccessKeySet=none,1")));
        QCOMPARE(rig.request(objectList(KM_OBJLIST_READ, "r,1000h,0h,unsigned32")).msgState(), int(KS_ANSWER));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).size(), sent + 1);
        QCOMPARE(storedProperty(rig, "AccessKeySet"), QStringLiteral("none,1"));
    }

    void forwardSlaveMessages()
    {
        NodeRig rig;
        QVERIFY2(rig.start({"--node", "5"}, newNode(), "nodeconfig", "<NodeId>5</NodeId>"),
                 qPrintable(rig.sim.errorString()));
        QCOMPARE(rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState(), int(KS_ANSWER));
        QVERIFY(rig.sim.command("NODE EMCY 5 10 81 11 01 02 03 04 05"));
        QVERIFY(rig.sim.waitForLine("^BUS n5 t0858").hasMatch());
        // The answer to a read comes after the emergency on the same way up:
        // once it is here, the node has seen (and kept) the emergency.
        QCOMPARE(rig.request(objectList(KM_OBJLIST_READ, "r,1000h,0h,unsigned32")).msgState(), int(KS_ANSWER));
        rig.send(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("ForwardSlaveMessages=1")));
        QVERIFY(rig.sim.command("NODE EMCY 5 20 82 22 01 02 03 04 05"));
        QVERIFY(rig.waitUntil([&] { return !rig.fromModule.ofType(KM_CANOPEN_EMERGENCY).isEmpty(); }));
        const QList<ZorMessage> forwarded = rig.fromModule.ofType(KM_CANOPEN_EMERGENCY);
        QCOMPARE(forwarded.size(), 1);
        QCOMPARE(forwarded.first().data().toString(), QStringLiteral("5,33312,34,01 02 03 04 05"));
    }
};

ZOR_TEST(TestNode)
#include "tst_node.moc"
