// Module input queues, the generic requests answered by the base, the
// recipient filter, the out-lists and the sniffer.
#include "zortest.h"
#include "testdommodel.h"
#include "testmodule.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

namespace {
using ModulePtr = std::unique_ptr<TestModule, ZorModuleDeleter>;

ZorMessage firstMessage(const QSignalSpy &spy)
{
    return spy.isEmpty() ? ZorMessage() : spy.first().first().value<ZorMessage>();
}
}

class TestModuleQueues : public QObject
{
    Q_OBJECT
private slots:
    void fullQueueFailsRequestsAndDropsNotices_data()
    {
        QTest::addColumn<bool>("fromMaster");
        QTest::newRow("queue 1, from the master") << true;
        QTest::newRow("queue 0, from the slaves") << false;
    }

    void fullQueueFailsRequestsAndDropsNotices()
    {
        QFETCH(bool, fromMaster);
        // Not started: the states never take anything from the queues.
        TestModule m(QStringLiteral("M1"), QStringLiteral("testmodule"));
        QSignalSpy back(&m, fromMaster ? &ZorModule::slaveOut : &ZorModule::masterOut);
        auto deliver = [&](const ZorMessage &msg) {
            if (fromMaster)
                m.slaveIn(msg);
            else
                m.masterIn(msg);
        };
        const int queue = fromMaster ? ZorModule::FromMaster : ZorModule::FromSlaves;
        for (int i = 0; i < 512; ++i)
            deliver(ZorMessage(KM_START, KS_REQUEST, i));
        QCOMPARE(back.count(), 0);
        QCOMPARE(m.queuedCount(queue), 512);

        const ZorMessage overflow(KM_START, KS_REQUEST, QStringLiteral("payload 513"));
        deliver(overflow);
        QCOMPARE(back.count(), 1);
        const ZorMessage failed = firstMessage(back);
        QVERIFY(failed == overflow);
        QCOMPARE(failed.msgState(), int(KS_FAIL));
        QCOMPARE(failed.data().toString(), QStringLiteral("payload 513"));

        deliver(ZorMessage(KM_LOGTEXT, KS_INFO, QStringLiteral("dropped")));
        QCOMPARE(back.count(), 1);
        QCOMPARE(m.queuedCount(queue), 512);

        ZorMessage first;
        QVERIFY(m.getMessage(queue, first));
        QCOMPARE(first.data().toInt(), 0);   // FIFO
        QVERIFY(!m.getMessage(7, first));
    }

    void whoAmIIsAnsweredAndAlsoQueued()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{"canusb", "CAN1", "USB adapter"}}));
        TestModule m;
        QVERIFY(m.setupZorModule(model.moduleIndex("CAN1"), &model));
        QSignalSpy toMaster(&m, &ZorModule::slaveOut);
        const ZorMessage request(KM_WHOAMI, KS_REQUEST);
        m.slaveIn(request);
        QCOMPARE(toMaster.count(), 1);
        const ZorMessage answer = firstMessage(toMaster);
        QVERIFY(answer == request);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), QStringLiteral("canusb\nCAN1\nUSB adapter"));
        ZorMessage queued;
        QVERIFY(m.getMessage(ZorModule::FromMaster, queued));
        QCOMPARE(queued.msgState(), int(KS_ANSWER));

        // From a slave it is answered towards the slaves and not queued.
        QSignalSpy toSlaves(&m, &ZorModule::masterOut);
        m.masterIn(ZorMessage(KM_WHOAMI, KS_REQUEST));
        QCOMPARE(toSlaves.count(), 1);
        QCOMPARE(m.queuedCount(ZorModule::FromSlaves), 0);
    }

    void genericRequests_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("data");
        QTest::addColumn<QVariant>("answer");
        QTest::addColumn<QString>("origin");
        QTest::newRow("set property with '=' in the value")
            << int(KM_SETPROPERTY) << QVariant("TargetPos [mm]=10=20") << QVariant("TargetPos=10=20") << "";
        QTest::newRow("get property by display name")
            << int(KM_GETPROPERTY) << QVariant("Port [name]") << QVariant("Port=sim") << "M1";
        QTest::newRow("get unknown property")
            << int(KM_GETPROPERTY) << QVariant("Nothing") << QVariant("Nothing=") << "M1";
        QTest::newRow("all properties, display names, key order")
            << int(KM_GETALLPROPERTIES) << QVariant() << QVariant("Port [name]=sim\nSpeed=5") << "M1";
        QTest::newRow("status") << int(KM_STATUS) << QVariant() << QVariant(3) << "";
        QTest::newRow("info text") << int(KM_INFOTEXT) << QVariant() << QVariant("ready") << "";
        QTest::newRow("sniffer set") << int(KM_SNIFFER_SET) << QVariant(1) << QVariant(1) << "";
    }

    void genericRequests()
    {
        QFETCH(int, type);
        QFETCH(QVariant, data);
        QFETCH(QVariant, answer);
        QFETCH(QString, origin);
        TestModule m(QStringLiteral("M1"), QStringLiteral("testmodule"));
        m.setProperty(QStringLiteral("Port [name]"), QStringLiteral("sim"), false);
        m.setProperty(QStringLiteral("Speed"), QStringLiteral("5"), false);
        m.setStatus(3);
        m.setStatusText(QStringLiteral("ready"));
        QSignalSpy toMaster(&m, &ZorModule::slaveOut);
        m.slaveIn(ZorMessage(type, KS_REQUEST, data));
        QCOMPARE(toMaster.count(), 1);
        const ZorMessage reply = firstMessage(toMaster);
        QCOMPARE(reply.msgState(), int(KS_ANSWER));
        QCOMPARE(reply.data().toString(), answer.toString());
        QCOMPARE(reply.origin(), origin);
    }

    void onlyRequestsAreGeneric()
    {
        TestModule m(QStringLiteral("M1"), QStringLiteral("testmodule"));
        QSignalSpy toMaster(&m, &ZorModule::slaveOut);
        m.slaveIn(ZorMessage(KM_WHOAMI, KS_ANSWER, QStringLiteral("someone else's")));
        m.slaveIn(ZorMessage(KM_SETPROPERTY, KS_INFO, QStringLiteral("Port=x")));
        QCOMPARE(toMaster.count(), 0);
        QCOMPARE(m.queuedCount(ZorModule::FromMaster), 2);
        QCOMPARE(m.property(QStringLiteral("Port")), QString());
    }

    void recipientFilter_data()
    {
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<bool>("via");
        QTest::addColumn<bool>("kept");
        QTest::newRow("other label") << "node1" << false << false;
        QTest::newRow("own label") << "node2" << false << true;
        QTest::newRow("own type") << "drive_canopen" << false << true;
        QTest::newRow("no recipient") << "" << false << true;
        QTest::newRow("via: slave's label") << "CAN1" << true << true;
        QTest::newRow("via: slave's type") << "canusb" << true << true;
        QTest::newRow("not via: slave's label") << "CAN1" << false << false;
    }

    void recipientFilter()
    {
        QFETCH(QString, recipient);
        QFETCH(bool, via);
        QFETCH(bool, kept);
        struct ViaModule : TestModule {
            using TestModule::TestModule;
            void makeVia() { isVia = true; viaSlaveLabel = "CAN1"; viaSlaveType = "canusb"; }
        } m(QStringLiteral("node2"), QStringLiteral("drive_canopen"));
        if (via)
            m.makeVia();
        ZorMessage message(KM_START, KS_REQUEST);
        message.setRecipient(recipient);
        m.slaveIn(message);
        QCOMPARE(m.queuedCount(ZorModule::FromMaster), kept ? 1 : 0);
    }

    // A state that waits inside its cycle for what its queues bring (a
    // script waiting for an answer) sleeps until something arrives: a
    // message that came before the wait ends it at once, one that comes
    // meanwhile from another thread wakes it, and so does a stop.
    void waitingForInputWakesWhenSomethingArrives()
    {
        ModulePtr m(new TestModule(QStringLiteral("M1"), QStringLiteral("test")));
        QVERIFY(!m->waitForWakeup(20));
        m->masterIn(ZorMessage(KM_STATUS, KS_INFO, 1));
        QVERIFY(m->waitForWakeup(60000));
        QVERIFY(!m->waitForWakeup(20));   // taken

        std::thread slave([&m] {
            QThread::msleep(30);
            m->masterIn(ZorMessage(KM_STATUS, KS_INFO, 2));
        });
        QVERIFY(m->waitForWakeup(60000));
        slave.join();
        QCOMPARE(m->queuedCount(ZorModule::FromSlaves), 2);

        std::thread stopper([&m] {
            QThread::msleep(30);
            m->requestStop();
        });
        QVERIFY(m->waitForWakeup(60000));
        stopper.join();
    }

    void outListsAreSentInOrderByTheHostThread()
    {
        ModulePtr m(new TestModule(QStringLiteral("M1"), QStringLiteral("testmodule")));
        m->period = 0;
        MessageRecorder master, slaves, app;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        connect(m.get(), &ZorModule::masterOut, &slaves, &MessageRecorder::record);
        connect(m.get(), &ZorModule::appControlOut, &app, &MessageRecorder::record);
        m->onCycle = [](ZorModStates::Top &state) {
            TestModule *tm = static_cast<TestModule *>(state.module());
            if (tm->cycles() != 1)
                return;
            for (int i = 0; i < 100; ++i)
                state.sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO, i));
            state.sendToSlaves(ZorMessage(KM_START, KS_REQUEST));
            state.sendToSlaves(ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST, "removemodule,,,x"));
            state.sendToSlaves(ZorMessage(KM_DIALOG, KS_REQUEST));
        };
        m->start();
        QTRY_COMPARE(master.count(KM_LOGTEXT), 100);
        QTRY_COMPARE(app.messages().size(), 2);
        const QList<ZorMessage> logs = master.ofType(KM_LOGTEXT);
        for (int i = 0; i < logs.size(); ++i) {
            QCOMPARE(logs.at(i).data().toInt(), i);
            QCOMPARE(logs.at(i).origin(), QStringLiteral("M1"));
        }
        QCOMPARE(slaves.messages().size(), 1);
        QCOMPARE(slaves.messages().first().msgType(), int(KM_START));
        QCOMPARE(app.messages().at(0).msgType(), int(KM_APPLICATION_CONTROL));
        QCOMPARE(app.messages().at(1).msgType(), int(KM_DIALOG));
    }

    // A module with a frame backlog keeps at most that many received frames
    // waiting for the host thread and counts the rest; answers to the
    // master's transmit requests and other messages all go out, in order,
    // also when they take several drains.
    void framesBeyondTheBacklogAreDroppedAndCounted()
    {
        ModulePtr m(new TestModule(QStringLiteral("CAN1"), QStringLiteral("canusb")));
        m->period = 0;
        m->frameLimit = 100;
        MessageRecorder master, slaves;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        connect(m.get(), &ZorModule::masterOut, &slaves, &MessageRecorder::record);
        const QByteArray record(16, '\0');
        std::atomic<bool> sent{false};
        m->onCycle = [&](ZorModStates::Top &state) {
            if (static_cast<TestModule *>(state.module())->cycles() != 1)
                return;
            for (int i = 0; i < 1000; ++i) {
                state.sendToSlaves(ZorMessage(KM_CAN_FRAME, i % 2 ? KS_INFO : KS_ANSWER, record));
                state.sendToMaster(ZorMessage(KM_CAN_FRAME, KS_INFO, record));
            }
            for (int i = 0; i < 1000; ++i)
                state.sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO, i));
            state.sendToMaster(ZorMessage(KM_CAN_FRAME, KS_ANSWER, record));
            state.sendToSlaves(ZorMessage(KM_START, KS_REQUEST));
            sent = true;
        };
        m->start();
        // This thread is the module host: nothing is handed on while it waits.
        QDeadlineTimer deadline(10000);
        while (!sent && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(sent);
        QTRY_COMPARE(slaves.count(KM_START), 1);
        QTRY_COMPARE(master.count(KM_LOGTEXT), 1000);
        QCOMPARE(slaves.count(KM_CAN_FRAME), 100);
        QCOMPARE(master.count(KM_CAN_FRAME), 100 + 1);
        QCOMPARE(master.ofType(KM_CAN_FRAME).last().msgState(), int(KS_ANSWER));
        QCOMPARE(m->droppedFrames(), quint64(900 + 900));
        const QList<ZorMessage> logs = master.ofType(KM_LOGTEXT);
        for (int i = 0; i < logs.size(); ++i)
            QCOMPARE(logs.at(i).data().toInt(), i);
    }

    // Received frames fill at most half of a master's queue from its
    // slaves; those beyond are dropped and counted at the slave they came
    // from, so that the CAN interface's status tells them too.
    void framesBeyondTheMastersQueueAreCountedAtTheirSlave()
    {
        ModulePtr master(new TestModule(QStringLiteral("Node1"), QStringLiteral("nodeconfig")));
        ModulePtr can(new TestModule(QStringLiteral("CAN1"), QStringLiteral("canusb")));
        master->slaveLimit = 20;
        QVERIFY(master->addSlave(can.get()));
        const QByteArray record(16, '\0');
        for (int i = 0; i < 100; ++i) {
            ZorMessage frame(KM_CAN_FRAME, KS_INFO, record);
            frame.setOrigin(QStringLiteral("CAN1"));
            master->masterIn(frame);
        }
        QCOMPARE(master->queuedCount(ZorModule::FromSlaves), 10);
        QCOMPARE(can->droppedFrames(), quint64(90));
    }

    void noticesQueuedBeforeTheThreadRunsAreDropped()
    {
        ModulePtr m(new TestModule(QStringLiteral("M1"), QStringLiteral("testmodule")));
        m->period = 0;
        m->setProperty(QStringLiteral("Port"), QStringLiteral("COM1"), true);   // as a constructor does
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->onCycle = [](ZorModStates::Top &state) {
            if (static_cast<TestModule *>(state.module())->cycles() == 1)
                state.setProperty(QStringLiteral("Port"), QStringLiteral("COM2"));
        };
        m->start();
        QTRY_COMPARE(master.count(KM_SETPROPERTY), 1);
        const ZorMessage notice = master.ofType(KM_SETPROPERTY).first();
        QCOMPARE(notice.data().toString(), QStringLiteral("Port=COM2"));
        QCOMPARE(notice.msgState(), int(KS_INFO));
        QCOMPARE(notice.origin(), QStringLiteral("M1"));
    }

    void snifferMirrorsTrafficToTheMaster()
    {
        ModulePtr m(new TestModule(QStringLiteral("M1"), QStringLiteral("testmodule")));
        m->period = 0;
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->onCycle = [](ZorModStates::Top &state) {
            TestModule *tm = static_cast<TestModule *>(state.module());
            if (tm->cycles() != 1 || !tm->snifferEnabled())
                return;
            state.sendToSlaves(ZorMessage(KM_CAN_FRAME, KS_REQUEST, QByteArray(16, '\0')));
            state.sendToSlaves(ZorMessage(KM_COMM_STATUS, KS_INFO, 2));
            state.sendToSlaves(ZorMessage(KM_START, KS_REQUEST));
        };
        m->slaveIn(ZorMessage(KM_SNIFFER_SET, KS_REQUEST, 1));
        QVERIFY(m->snifferEnabled());
        ZorMessage fromGui(KM_STOP, KS_REQUEST);
        fromGui.setOrigin(QStringLiteral("GUI"));
        m->slaveIn(fromGui);
        ZorMessage answerFromSlave(KM_START, KS_ANSWER);
        answerFromSlave.setOrigin(QStringLiteral("M1"));
        m->masterIn(answerFromSlave);
        m->start();
        QTRY_COMPARE(master.count(KM_SNIFFER_MSG), 3);
        QStringList texts;
        for (const ZorMessage &s : master.ofType(KM_SNIFFER_MSG))
            texts << s.data().toString();
        QCOMPARE(texts, QStringList({"GUI -> KM_STOP:KS_REQUEST", "M1 <- KM_START:KS_ANSWER",
                                     "M1 -> KM_START:KS_REQUEST"}));
    }

    void statusReportsGoThroughTheTopState()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{"canusb", "CAN1", "USB adapter"}}));
        ModulePtr m(new TestModule);
        QVERIFY(m->setupZorModule(model.moduleIndex("CAN1"), &model));
        m->period = 0;
        m->toSlaves = true;
        MessageRecorder master, slaves;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        connect(m.get(), &ZorModule::masterOut, &slaves, &MessageRecorder::record);
        m->onCycle = [](ZorModStates::Top &state) {
            if (static_cast<TestModule *>(state.module())->cycles() != 1)
                return;
            state.setStatus(2);
            state.setStatus(2);
            state.setStatus(1000);
            state.setStatusText(QStringLiteral("open"));
            state.setStatusText(QStringLiteral("open"));
        };
        m->start();
        QTRY_COMPARE(master.count(KM_INFOTEXT), 1);
        QCOMPARE(master.count(KM_STATUS), 2);
        QCOMPARE(slaves.count(KM_STATUS), 2);
        QCOMPARE(slaves.count(KM_INFOTEXT), 0);
        QCOMPARE(master.ofType(KM_STATUS).last().data().toInt(), 1000);
        QCOMPARE(master.ofType(KM_INFOTEXT).first().origin(), QStringLiteral("CAN1"));
        const QModelIndex item = model.moduleIndex("CAN1");
        QTRY_COMPARE(item.data(ZorAbstractDomModel::StatusRole).toInt(), 1000);
        QTRY_COMPARE(item.data(ZorAbstractDomModel::StatusTextRole).toString(), QStringLiteral("open"));
        QCOMPARE(m->status(), 1000);
        QCOMPARE(m->infoText(), QStringLiteral("open"));
    }
};

ZOR_TEST(TestModuleQueues)
#include "tst_modulequeues.moc"
