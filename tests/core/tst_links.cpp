// Master/slave links: resolving slaves from the project XML and the accepted
// slave types, direct links, links through via modules and re-linking.
#include "zortest.h"
#include "testdommodel.h"
#include "testmodule.h"

#include <QSet>
#include <QtTest>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <tuple>

namespace {

using ModulePtr = std::unique_ptr<TestModule, ZorModuleDeleter>;

// A via module that passes requests on to its slave and everything that
// comes back on to its master, as a gateway would after translating.
ZorModule *forwardingVia(QObject *master, int *created = nullptr)
{
    if (created)
        ++*created;
    auto *via = new TestModule(QStringLiteral("via"), QStringLiteral("canopen_gateway"), QString(), master);
    via->period = 0;
    via->onCycle = [](ZorModStates::Top &state) {
        ZorMessage m;
        while (state.module()->getMessage(ZorModule::FromMaster, m))
            state.sendToSlaves(m, false);
        while (state.module()->getMessage(ZorModule::FromSlaves, m))
            state.sendToMaster(m, false);
    };
    return via;
}

// One module per element below the project item, set up from the model.
struct Project
{
    TestDomModel model;
    std::vector<ModulePtr> owned;
    ZorModuleMap map;

    TestModule *add(const QString &type, const QString &label, const QString &inner = QString())
    {
        const QModelIndex index = model.addModule(type, label, QString(), inner);
        auto *m = new TestModule;
        m->setupZorModule(index, &model);
        owned.emplace_back(m);
        map.insert(QPersistentModelIndex(index), m);
        return m;
    }
    // A node module "Node1" that takes CAN interfaces, and one "CAN1";
    // with fast, both cycle without pause.
    std::pair<TestModule *, TestModule *> nodeAndCan(bool fast)
    {
        TestModule *node = add("nodeconfig", "Node1");
        TestModule *can = add("canusb", "CAN1");
        node->slaveTypes = "canusb";
        if (fast) {
            node->period = 0;
            can->period = 0;
        }
        return {node, can};
    }
    QStringList slaveElements(const QString &label) const
    {
        QStringList result;
        const QDomElement e = model.moduleElement(label);
        for (QDomElement s = e.firstChildElement("slave"); !s.isNull(); s = s.nextSiblingElement("slave"))
            result << s.attribute("label") + "/" + s.attribute("type");
        return result;
    }
};

QStringList slaveLabels(const ZorModule &m)
{
    return m.slaveModules().keys();
}

} // namespace

class TestLinks : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { ZorModule::setCanOpenGatewayCreator(nullptr); }

    void slavesAreResolved_data()
    {
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<QString>("slaveXml");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one of a type") << "canusb" << "" << QStringList{"CAN1"};
        QTest::newRow("every one of a type") << "drive_canopen+" << "" << QStringList{"D1", "D2"};
        QTest::newRow("every other module but one that refuses") << "*" << ""
            << QStringList{"CAN1", "CAN2", "D1", "D2"};
        QTest::newRow("named slave kept") << "canusb" << "<slave label=\"CAN2\" type=\"canusb\"/>"
            << QStringList{"CAN2"};
        QTest::newRow("vanished label, type still there") << "" << "<slave label=\"Gone\" type=\"canusb\"/>"
            << QStringList{"CAN1"};
        QTest::newRow("excluded even when named") << "canusb-" << "<slave label=\"CAN1\" type=\"canusb\"/>"
            << QStringList{};
        QTest::newRow("nothing matches") << "joystick" << "<slave label=\"X\" type=\"xypos\"/>" << QStringList{};
        QTest::newRow("empty items and blanks") << " , canusb ,, drive_canopen" << "" << QStringList{"CAN1", "D1"};
    }

    void slavesAreResolved()
    {
        QFETCH(QString, accepted);
        QFETCH(QString, slaveXml);
        QFETCH(QStringList, expected);
        Project p;
        TestModule *node = p.add("nodeconfig", "Node1", slaveXml);
        node->slaveTypes = accepted;
        p.add("canusb", "CAN1");
        p.add("canusb", "CAN2");
        p.add("drive_canopen", "D1");
        p.add("drive_canopen", "D2");
        p.add("netmanager", "NM")->refuses = true;

        node->setupSlaves(p.map);
        QCOMPARE(slaveLabels(*node), expected);
        QStringList elements;
        for (const QString &label : expected)
            elements << label + "/" + p.map.value(p.model.moduleIndex(label))->type();
        QCOMPARE(p.slaveElements("Node1"), elements);

        // Running it again gives the same links and the same elements.
        node->setupSlaves(p.map);
        QCOMPARE(slaveLabels(*node), expected);
        QCOMPARE(p.slaveElements("Node1"), elements);
    }

    void directLinkCarriesBothWays()
    {
        Project p;
        TestModule *master, *slave;
        std::tie(master, slave) = p.nodeAndCan(false);
        master->setupSlaves(p.map);
        QVERIFY(!master->viaModuleFor("CAN1"));

        master->masterOut(ZorMessage(KM_WHOAMI, KS_REQUEST));   // as the drain would emit it
        ZorMessage answer;
        QVERIFY(master->getMessage(ZorModule::FromSlaves, answer));
        QCOMPARE(answer.data().toString(), QStringLiteral("canusb\nCAN1\n"));

        QVERIFY(master->removeSlave("CAN1"));
        QVERIFY(!master->removeSlave("CAN1"));
        QCOMPARE(p.slaveElements("Node1"), QStringList());
        master->masterOut(ZorMessage(KM_WHOAMI, KS_REQUEST));
        QVERIFY(!master->getMessage(ZorModule::FromSlaves, answer));
        Q_UNUSED(slave);
    }

    void refusingSlaveIsNotAttached()
    {
        Project p;
        TestModule *master = p.add("nodeconfig", "Node1");
        TestModule *manager = p.add("netmanager", "NM");
        manager->refuses = true;
        QVERIFY(!master->addSlave(manager));
        QCOMPARE(p.slaveElements("Node1"), QStringList());
    }

    void viaModuleStandsBetweenMasterAndSlave()
    {
        Project p;
        TestModule *master, *slave;
        std::tie(master, slave) = p.nodeAndCan(true);
        slave->answerRequests = true;
        int created = 0;
        QVERIFY(master->addViaCreator("canusb", [&created](QObject *m) { return forwardingVia(m, &created); }));
        QVERIFY(!master->addViaCreator("canusb", nullptr));
        master->setupSlaves(p.map);
        QCOMPARE(created, 1);
        QPointer<ZorModule> via = master->viaModuleFor("CAN1");
        QVERIFY(via);
        QCOMPARE(via->parent(), master);
        QVERIFY(via->isViaModule());
        QCOMPARE(via->viaLabel(), QStringLiteral("CAN1"));
        QCOMPARE(via->viaType(), QStringLiteral("canusb"));
        QVERIFY(via->isRunning());

        // A request addressed to the slave passes the via module both ways.
        slave->start();
        ZorMessage request(KM_START, KS_REQUEST, 42);
        request.setRecipient("CAN1");
        master->masterOut(request);   // as the master's drain would emit it
        QTRY_COMPARE(master->queuedCount(ZorModule::FromSlaves), 1);
        ZorMessage answer;
        QVERIFY(master->getMessage(ZorModule::FromSlaves, answer));
        QVERIFY(answer == request);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toInt(), 42);

        // Re-linking replaces the via module instead of adding a second one.
        master->setupSlaves(p.map);
        QCOMPARE(created, 2);
        QVERIFY(via.isNull());
        QCOMPARE(master->findChildren<ZorModule *>().size(), 1);
        QVERIFY(master->viaModuleFor("CAN1"));
    }

    // A via module's interviews and their answers pass between its thread
    // and its slave's without the host thread, unless something sent
    // earlier in that direction still waits for the host thread: the
    // receiver sees everything in the order it was sent.
    void viaInterviewsPassDirectlyInOrder()
    {
        Project p;
        TestModule *master, *slave;
        std::tie(master, slave) = p.nodeAndCan(true);
        // The slave answers each line at once; a line "notice" sends an
        // info message to its masters first. It notes whether a message
        // from the master was queued when a line came.
        std::atomic<int> lines{0};
        std::atomic<bool> queuedBeforeLine{false};
        slave->onInterviewLine = [&, slave](const ZorInterview &line) {
            queuedBeforeLine = slave->queuedCount(ZorModule::FromMaster) > 0;
            if (line.request() == QLatin1String("notice"))
                slave->postOut(ZorModule::ToMaster, ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("notice")));
            slave->offerInterviewAnswer(QString(), line.request(), false);
            ++lines;
            return true;
        };
        std::mutex lock;
        QStringList fromSlave;
        QSet<int> answered;
        std::atomic<bool> precede{false};
        QString toSend;
        ZorModule *via = nullptr;
        master->addViaCreator("canusb", [&](QObject *m) {
            auto *v = new TestModule(QStringLiteral("via"), QStringLiteral("canopen_gateway"), QString(), m);
            v->period = 0;
            v->claims = [](const ZorMessage &answer) { return answer.msgType() == KM_INTERVIEW; };
            v->onCycle = [&](ZorModStates::Top &state) {
                std::lock_guard<std::mutex> locker(lock);
                if (!toSend.isEmpty()) {
                    if (precede)
                        state.sendToSlaves(ZorMessage(KM_INFOTEXT, KS_INFO, QStringLiteral("first")), false);
                    state.sendToSlaves(ZorMessage(KM_INTERVIEW, KS_REQUEST, "X:1000:0:" + toSend + ":"), false);
                    toSend.clear();
                }
                ZorMessage m;
                while (state.module()->getMessage(ZorModule::FromSlaves, m)) {
                    // The host thread's copy of an answer claimed before.
                    if (m.msgType() == KM_INTERVIEW && answered.contains(m.msgId()))
                        continue;
                    answered.insert(m.msgId());
                    fromSlave << m.data().toString();
                }
            };
            via = v;
            return v;
        });
        master->setupSlaves(p.map);
        QVERIFY(via);
        slave->start();
        auto send = [&](const QString &request) {
            std::lock_guard<std::mutex> locker(lock);
            fromSlave.clear();
            toSend = request;
            via->wakeup();
        };
        auto received = [&] {
            std::lock_guard<std::mutex> locker(lock);
            return fromSlave;
        };
        // Waits without running the host thread's events.
        auto waitWithoutEvents = [](const std::function<bool()> &done, int ms) {
            QElapsedTimer clock;
            clock.start();
            while (!done() && clock.elapsed() < ms)
                QThread::yieldCurrentThread();
            return done();
        };

        // There and back while the host thread runs no events.
        send("plain");
        QVERIFY(waitWithoutEvents([&] { return !received().isEmpty(); }, 5000));
        QCOMPARE(received(), QStringList{"X:1000:0:plain:plain"});

        // The answer waits behind the notice the slave sent before it.
        send("notice");
        QTRY_COMPARE(received().size(), 2);
        QCOMPARE(received(), (QStringList{"notice", "X:1000:0:notice:notice"}));

        // The interview waits behind a message the via module sent before it.
        precede = true;
        const int before = lines;
        send("plain");
        QVERIFY(!waitWithoutEvents([&] { return lines > before; }, 200));
        QTRY_COMPARE(received().size(), 1);
        QVERIFY(queuedBeforeLine);
    }

    void viaModuleOfAVanishedSlaveGoesWithIt()
    {
        Project p;
        TestModule *master = p.add("nodeconfig", "Node1");
        p.add("canusb", "CAN1");
        master->slaveTypes = "canusb";
        master->addViaCreator("canusb", [](QObject *m) { return forwardingVia(m); });
        master->setupSlaves(p.map);
        QPointer<ZorModule> via = master->viaModuleFor("CAN1");
        QVERIFY(via);
        // The slave's module is deleted (its item went away).
        p.map.clear();
        p.owned.pop_back();
        master->setupSlaves(p.map);
        QVERIFY(via.isNull());
        QVERIFY(master->findChildren<ZorModule *>().isEmpty());
        QCOMPARE(p.slaveElements("Node1"), QStringList());
    }

    void gatewayCreatorIsRegisteredOncePerType()
    {
        Project p;
        TestModule *master = p.add("nodeconfig", "Node1");
        p.add("canusb", "CAN1");
        master->slaveTypes = "canusb";
        QVERIFY(master->addGatewayForMasterType("canusb"));
        QVERIFY(!master->addGatewayForMasterType("canusb"));

        // Without a gateway module in the program the link is direct.
        master->setupSlaves(p.map);
        QVERIFY(!master->viaModuleFor("CAN1"));

        int created = 0;
        ZorModule::setCanOpenGatewayCreator([&created](QObject *m) { return forwardingVia(m, &created); });
        master->setupSlaves(p.map);
        QCOMPARE(created, 1);
        QVERIFY(master->viaModuleFor("CAN1"));
    }
};

ZOR_TEST(TestLinks)
#include "tst_links.moc"
