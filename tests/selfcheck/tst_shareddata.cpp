// The shared-object registry: ids, removal, and locking across threads.
#include "zorshareddata.h"
#include "zortest.h"

#include <QtTest>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class TestSharedData : public QObject
{
    Q_OBJECT

    // Threads of one test, joined when it ends, whichever way; `atEnd`
    // runs first (it lets them go on).
    struct Threads
    {
        std::function<void()> atEnd = [] {};
        std::vector<std::thread> list;
        void run(std::function<void()> f) { list.emplace_back(std::move(f)); }
        ~Threads()
        {
            atEnd();
            for (std::thread &t : list)
                t.join();
        }
    };

private slots:
    void idsRiseAndAreNeverGivenTwice()
    {
        ZorSharedData registry;
        QCOMPARE(registry.lastObjectId(), 0);
        QVERIFY(!registry.removeAllObjects());
        QCOMPARE(registry.registerObject(new QString), 1);
        QCOMPARE(registry.registerObject(new QString(QStringLiteral("b"))), 2);
        QVERIFY(registry.removeObject(2));
        QCOMPARE(registry.registerObject(new QString), 3);

        // Gone, or never there: nothing to lock or remove.
        QVERIFY(!registry.lockObject(2, 0));
        QVERIFY(!registry.lockObject(4, 0));
        QVERIFY(!registry.removeObject(2));
        QVERIFY(!registry.removeObject(0));
        registry.unlockObject(2);   // does nothing

        QString *first = registry.lockObject(1, 0);
        QVERIFY(first);
        QVERIFY(registry.lockObject(1, 0) == first);   // recursive
        registry.unlockObject(1);
        registry.unlockObject(1);
        QVERIFY(registry.removeAllObjects());
        QVERIFY(!registry.removeAllObjects());
        QCOMPARE(registry.lastObjectId(), 3);
    }

    void removalWaitsForTheHolder()
    {
        ZorSharedData registry;
        const int id = registry.registerObject(new QString(QStringLiteral("held")));
        std::atomic<bool> held{false}, release{false}, removed{false};
        std::atomic<bool> removeResult{false};
        Threads threads;
        threads.atEnd = [&] { release = true; };
        threads.run([&] {
            QString *text = registry.lockObject(id, 0);
            held = true;
            while (!release)
                QThread::msleep(1);
            // Still alive: the removal waits for this unlock.
            text->append(QStringLiteral(" and written"));
            registry.unlockObject(id);
        });
        QVERIFY(QTest::qWaitFor([&] { return held.load(); }, 20000));

        // Another thread gives up after its time-out.
        QVERIFY(!registry.lockObject(id, 20));

        threads.run([&] {
            removeResult = registry.removeObject(id);
            removed = true;
        });
        QTest::qWait(50);
        QVERIFY(!removed);
        release = true;
        QVERIFY(QTest::qWaitFor([&] { return removed.load(); }, 20000));
        QVERIFY(removeResult);
        QVERIFY(!registry.lockObject(id, 0));
    }

    // A thread that waits in lockObject holds the registry; the holder
    // unlocks all the same.
    void unlockingNeverWaitsForTheRegistry()
    {
        ZorSharedData registry;
        const int id = registry.registerObject(new QString);
        QVERIFY(registry.lockObject(id, 0));
        std::atomic<bool> waiting{false}, got{false};
        Threads threads;
        threads.run([&] {
            waiting = true;
            if (QString *text = registry.lockObject(id, 0)) {
                got = true;
                text->append(QLatin1Char('x'));
                registry.unlockObject(id);
            }
        });
        QVERIFY(QTest::qWaitFor([&] { return waiting.load(); }, 20000));
        QTest::qWait(20);   // let it block in lockObject
        registry.unlockObject(id);
        QVERIFY(QTest::qWaitFor([&] { return got.load(); }, 20000));
        QString *text = registry.lockObject(id, 0);
        QVERIFY(text);
        QCOMPARE(*text, QStringLiteral("x"));
        registry.unlockObject(id);
    }
};

ZOR_TEST(TestSharedData)
#include "tst_shareddata.moc"
