// The registry of shared series: ids, locking and unregistering with a
// second thread holding or waiting for a series.
#include "datalogseries.h"
#include "shareddataregistry.h"
#include "zortest.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

// Runs a function in a thread of its own.
class Worker : public QThread
{
public:
    explicit Worker(std::function<void()> work) : m_work(std::move(work)) {}
    void run() override { m_work(); }

private:
    std::function<void()> m_work;
};

// Locks and unlocks at once; false when the lock is not had.
bool lockable(int id)
{
    if (!SharedDataRegistry::lock(id, 1))
        return false;
    SharedDataRegistry::unlock(id);
    return true;
}

int registerNamed(const QString &name)
{
    auto *series = new DataLogSeries;
    series->setName(name);
    return SharedDataRegistry::registerSeries(series);
}

} // namespace

class TestSharedDataRegistry : public QObject
{
    Q_OBJECT
private slots:
    void idsAreNeverReused()
    {
        const int first = registerNamed("a");
        QCOMPARE(first, SharedDataRegistry::highestId());
        const int second = registerNamed("b");
        QCOMPARE(second, first + 1);
        QVERIFY(SharedDataRegistry::unregister(second));
        QVERIFY(!SharedDataRegistry::unregister(second));
        const int third = registerNamed("c");
        QCOMPARE(third, second + 1);
        QCOMPARE(SharedDataRegistry::highestId(), third);
        QCOMPARE(SharedDataRegistry::registerSeries(nullptr), 0);

        DataLogSeries *series = SharedDataRegistry::lock(first, 100);
        QVERIFY(series);
        QCOMPARE(series->name(), QStringLiteral("a"));
        SharedDataRegistry::unlock(first);
        SharedDataRegistry::unlock(9999);   // unknown: nothing happens
    }

    void unknownOrRemovedIdsGiveNullAtOnce()
    {
        const int id = registerNamed("x");
        QVERIFY(SharedDataRegistry::unregister(id));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!SharedDataRegistry::lock(id, 0));   // 0 would wait without limit
        QVERIFY(!SharedDataRegistry::lock(123456, 0));
        QVERIFY(!SharedDataRegistry::lock(-1, 5000));
        QVERIFY(clock.elapsed() < 4000);
    }

    // unregister waits until the holder unlocks; meanwhile lock() of that
    // id gives null, and other ids stay reachable.
    void unregisterWaitsForTheHolder()
    {
        const int held = registerNamed("held");
        const int other = registerNamed("other");
        std::atomic<bool> removed{false};
        DataLogSeries *series = SharedDataRegistry::lock(held, 1000);
        QVERIFY(series);
        Worker remover([&] { removed = SharedDataRegistry::unregister(held); });
        remover.start();
        // The remover has started on the id once lock() refuses it.
        QTRY_VERIFY_WITH_TIMEOUT(!lockable(held), 10000);
        QVERIFY(!removed);
        series->append(DataLogSample::atWallMs(1, 1));   // still ours to use
        QVERIFY(lockable(other));
        SharedDataRegistry::unlock(held);
        QVERIFY(remover.wait(10000));
        QVERIFY(removed);
        QVERIFY(!lockable(held));
    }

    // A thread waiting for one series never holds up look-ups of another,
    // and the GUI thread waits at most its short limit.
    void waitsHoldNoOneElseUp()
    {
        const int busy = registerNamed("busy");
        const int free = registerNamed("free");
        std::atomic<bool> holding{false};
        std::atomic<bool> release{false};
        Worker holder([&] {
            SharedDataRegistry::lock(busy, 0);
            holding = true;
            while (!release)
                QThread::msleep(1);
            SharedDataRegistry::unlock(busy);
        });
        holder.start();
        QTRY_VERIFY_WITH_TIMEOUT(holding, 10000);

        std::atomic<bool> waiterGotIt{false};
        Worker waiter([&] {
            if (SharedDataRegistry::lock(busy, 0)) {   // waits until released
                waiterGotIt = true;
                SharedDataRegistry::unlock(busy);
            }
        });
        waiter.start();
        QTest::qWait(20);
        // Here, the GUI thread: the busy series gives null after the short
        // limit even though 5000 ms were asked for; the free one at once.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!SharedDataRegistry::lock(busy, 5000));
        QVERIFY(clock.elapsed() < 4000);
        QVERIFY(clock.elapsed() >= SharedDataRegistry::GuiWaitLimitMs - 5);
        QVERIFY(SharedDataRegistry::lock(free, 5000));
        SharedDataRegistry::unlock(free);
        const int late = registerNamed("late");
        QVERIFY(late > free);

        release = true;
        QVERIFY(holder.wait(10000));
        QVERIFY(waiter.wait(10000));
        QVERIFY(waiterGotIt);
    }
};

ZOR_TEST(TestSharedDataRegistry)
#include "tst_shareddataregistry.moc"
