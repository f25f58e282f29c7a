// The module thread and run loop: start and stop, cycle pace, waking, the
// periodic status and stopping many modules at once.
#include "zortest.h"
#include "testmodule.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <thread>

namespace {

using ModulePtr = std::unique_ptr<TestModule, ZorModuleDeleter>;

ModulePtr makeModule(const QString &label = QStringLiteral("M1"),
                     const QString &type = QStringLiteral("testmodule"))
{
    return ModulePtr(new TestModule(label, type, QStringLiteral("a test module")));
}

int processThreadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

} // namespace

class TestModuleRun : public QObject
{
    Q_OBJECT
private slots:
    void startAttachesTheModuleAfterTheStartHooks()
    {
        ModulePtr m = makeModule();
        m->setProperty(QStringLiteral("Port"), QStringLiteral("sim"), false);
        m->start();
        QTRY_VERIFY(m->cycles() > 0);
        m->stop();
        QCOMPARE(m->traceLines(), QStringList({
            "entry Root (no module)", "init Root, property '' (no module)",
            "entry Idle (no module)", "init Idle (no module)",
            "first cycle, property 'sim'",
            "exit Idle", "exit Root"}));
        QVERIFY(m->isFinished());
    }

    void paceIsClamped_data()
    {
        QTest::addColumn<int>("given");
        QTest::addColumn<int>("cycle");
        QTest::addColumn<int>("passes");
        QTest::newRow("zero") << 0 << 1 << 1;
        QTest::newRow("negative") << -5 << 1 << 1;
        QTest::newRow("in range") << 40 << 40 << 40;
        QTest::newRow("upper bound") << 99 << 99 << 99;
        QTest::newRow("above passes") << 100 << 100 << 99;
        QTest::newRow("above both") << 10000 << 9999 << 99;
    }

    void paceIsClamped()
    {
        QFETCH(int, given);
        QFETCH(int, cycle);
        QFETCH(int, passes);
        TestModule m;
        QCOMPARE(m.cycleTime(), 15);
        QCOMPARE(m.interviewPassCount(), 8);
        QCOMPARE(m.setCycleTime(given), cycle);
        QCOMPARE(m.cycleTime(), cycle);
        m.setInterviewPasses(given);
        QCOMPARE(m.interviewPassCount(), passes);
    }

    void idleModuleReportsItsStatusPeriodically()
    {
        QCOMPARE(TestModule().statusPeriod(), 1000);   // the default of every module
        ModulePtr m = makeModule();
        m->period = 100;
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->setCycleTime(15);
        QElapsedTimer clock;
        clock.start();
        m->start();
        QTRY_VERIFY_WITH_TIMEOUT(master.count(KM_STATUS) >= 5, 20000);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 450, qPrintable(QString::number(elapsed)));
        const ZorMessage status = master.ofType(KM_STATUS).first();
        QCOMPARE(status.msgState(), int(KS_INFO));
        QCOMPARE(status.data().toInt(), 0);
        QCOMPARE(status.origin(), QStringLiteral("M1"));
    }

    void moduleWithoutStatusPeriodSendsNoPeriodicStatus()
    {
        ModulePtr m = makeModule();
        m->period = 0;
        m->setCycleTime(1);
        MessageRecorder master;
        connect(m.get(), &ZorModule::slaveOut, &master, &MessageRecorder::record);
        m->start();
        QTRY_VERIFY(m->cycles() > 50);
        QCoreApplication::processEvents();
        QCOMPARE(master.count(KM_STATUS), 0);
    }

    void newMessageWakesASleepingModule()
    {
        ModulePtr m = makeModule();
        m->answerRequests = true;
        m->setCycleTime(9999);
        QSignalSpy answers(m.get(), &ZorModule::slaveOut);
        m->start();
        QTRY_VERIFY(m->cycles() > 0);
        QElapsedTimer clock;
        clock.start();
        m->slaveIn(ZorMessage(KM_START, KS_REQUEST, 7));   // answered by the state, not the base
        // Well before the cycle's 9999 ms, however loaded the machine.
        QVERIFY(answers.wait(5000));
        QVERIFY(clock.elapsed() < 5000);
        const ZorMessage answer = answers.first().first().value<ZorMessage>();
        QCOMPARE(answer.msgType(), int(KM_START));
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
    }

    void wakeupWhileBusyIsNotLost()
    {
        // A message that arrives while the module is busy in its cycle must
        // still cut the following sleep short.
        ModulePtr m = makeModule();
        m->setCycleTime(9999);
        m->onCycle = [](ZorModStates::Top &state) {
            TestModule *tm = static_cast<TestModule *>(state.module());
            if (tm->cycles() == 1)
                tm->wakeup();
        };
        QElapsedTimer clock;
        clock.start();
        m->start();
        QTRY_VERIFY_WITH_TIMEOUT(m->cycles() >= 2, 5000);
        QVERIFY(clock.elapsed() < 5000);
    }

    void stoppingManyModulesIsQuickAndLeavesNoThread()
    {
        const int before = processThreadCount();
        std::vector<ModulePtr> modules;
        for (int i = 0; i < 50; ++i) {
            modules.push_back(makeModule(QStringLiteral("M%1").arg(i)));
            modules.back()->setCycleTime(9999);
            modules.back()->start();
        }
        for (auto &m : modules)
            QTRY_VERIFY(m->cycles() > 0);

        QElapsedTimer clock;
        clock.start();
        for (auto &m : modules)
            m->requestStop();
        for (auto &m : modules)
            m->stop();
        // None waited out its 9999 ms cycle (how quick it is, the module
        // benchmark tells).
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed < 9000, qPrintable(QString::number(elapsed)));
        for (auto &m : modules)
            QVERIFY(m->isFinished());
        modules.clear();
        if (before > 0)
            QTRY_VERIFY(processThreadCount() <= before);
    }

    void blockingStateIsReportedAndAwaitedNotTerminated()
    {
        ModulePtr m = makeModule(QStringLiteral("Stuck"));
        QSemaphore entered, release;
        m->onCycle = [&](ZorModStates::Top &) {
            if (entered.available() == 0) {
                entered.release();
                release.acquire();   // a state that blocks (the fault this guards against)
            }
        };
        m->setStopTimeout(50);
        m->start();
        QVERIFY(entered.tryAcquire(1, 5000));
        entered.release();   // keep it non-zero so the handler blocks only once

        // The clock starts before the releaser, so that its 300 ms are all
        // inside the measured time however late this thread runs again.
        QElapsedTimer clock;
        clock.start();
        std::thread releaser([&] {
            QThread::msleep(300);
            release.release();
        });
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("\"Stuck\" did not stop within 50 ms"));
        m->stop();
        releaser.join();
        QVERIFY(clock.elapsed() >= 250);
        QVERIFY(m->isFinished());
        // The thread ran to its end: its states were exited normally.
        QVERIFY(m->traceLines().contains("exit Root"));
    }

    void stoppedModuleQueuesAndSendsNothing()
    {
        ModulePtr m = makeModule();
        QSignalSpy out(m.get(), &ZorModule::slaveOut);
        m->requestStop();
        m->slaveIn(ZorMessage(KM_WHOAMI, KS_REQUEST));
        m->postIn(ZorModule::FromMaster, ZorMessage(KM_START, KS_REQUEST));
        m->postOut(ZorModule::ToMaster, ZorMessage(KM_START, KS_INFO));
        m->start();   // returns at once
        QVERIFY(m->wait(2000));
        QCoreApplication::processEvents();
        QCOMPARE(out.count(), 0);
        QCOMPARE(m->queuedCount(ZorModule::FromMaster), 0);
        QVERIFY(m->traceLines().isEmpty());
    }
};

ZOR_TEST(TestModuleRun)
#include "tst_module.moc"
