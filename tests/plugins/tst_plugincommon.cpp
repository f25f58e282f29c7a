// The plug-ins' shared helper: receive ring, port slots, echo, port table and
// the per-port receive thread.
#include "zortest.h"
#include "buslinkcommon.h"

#include <QtTest>
#include <atomic>
#include <cstring>
#include <thread>

namespace {
CanPortFrame frame(int32_t id, int32_t len = 0, int32_t flags = 0)
{
    CanPortFrame f{};
    f.id = id;
    f.len = len;
    f.flags = flags;
    for (int i = 0; i < 8; ++i)
        f.data[i] = uint8_t(id + i);
    return f;
}
}

class TestPluginCommon : public QObject
{
    Q_OBJECT
private slots:
    void ringKeepsOldestWhenFull()
    {
        buslink::ReceiveRing ring(4); // holds 3
        QCOMPARE(ring.push(frame(1)), BUSLINK_OK);
        QCOMPARE(ring.push(frame(2)), BUSLINK_OK);
        QCOMPARE(ring.push(frame(3)), BUSLINK_OK);
        QCOMPARE(ring.push(frame(4)), BUSLINK_OVERFLOW);

        CanPortFrame out = frame(99);
        QCOMPARE(ring.pop(&out), BUSLINK_OK);
        QCOMPARE(out.id, 1);
        QCOMPARE(ring.push(frame(5)), BUSLINK_OK); // wraps around
        for (int expected : {2, 3, 5}) {
            QCOMPARE(ring.pop(&out), BUSLINK_OK);
            QCOMPARE(out.id, expected);
        }
        out = frame(99);
        QCOMPARE(ring.pop(&out), BUSLINK_NO_MESSAGE);
        QCOMPARE(out.id, 99); // untouched
    }

    void readOnEmptyPortLeavesOutputs()
    {
        buslink::PortTable table(1, 100);
        int32_t port = -1;
        QCOMPARE(table.acquire(&port), BUSLINK_OK);
        int32_t id = 7, len = 3, flags = 1;
        uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        QCOMPARE(table.slot(port)->read(&id, data, &len, &flags), BUSLINK_NO_MESSAGE);
        QCOMPARE(id, 7);
        QCOMPARE(len, 3);
        QCOMPARE(flags, 1);
        QCOMPARE(data[0], uint8_t(1));
    }

    void portNotStartedDropsFrames()
    {
        buslink::PortTable table(1, 100);
        int32_t port = -1;
        table.acquire(&port);
        buslink::PortSlot *slot = table.slot(port);
        slot->echo = true;
        const uint8_t data[2] = {0xaa, 0xbb};
        QCOMPARE(slot->pushReceived(frame(0x123)), BUSLINK_PORT_NOT_USABLE);
        slot->pushEcho(0x124, data, 2, 0);
        int32_t id, len, flags;
        uint8_t out[8];
        QCOMPARE(slot->read(&id, out, &len, &flags), BUSLINK_NO_MESSAGE);
    }

    void echoReturnsEachSentFrameOnce_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("len");
        QTest::addColumn<bool>("dataBack");
        QTest::newRow("standard data") << 0 << 8 << true;
        QTest::newRow("extended data") << int(BUSLINK_FLAG_EXTENDED) << 2 << true;
        QTest::newRow("remote") << int(BUSLINK_FLAG_REMOTE) << 4 << false;
        QTest::newRow("extended remote") << int(BUSLINK_FLAG_REMOTE | BUSLINK_FLAG_EXTENDED) << 8
                                         << false;
    }
    void echoReturnsEachSentFrameOnce()
    {
        QFETCH(int, flags);
        QFETCH(int, len);
        QFETCH(bool, dataBack);
        buslink::PortTable table(1, 100);
        int32_t port = -1;
        table.acquire(&port);
        buslink::PortSlot *slot = table.slot(port);
        slot->started = true;
        const uint8_t sent[8] = {1, 2, 3, 4, 5, 6, 7, 8};

        slot->pushEcho(0x1abc, sent, len, flags); // echo off: nothing
        slot->echo = true;
        slot->pushEcho(0x1abc, sent, len, flags);

        int32_t id = 0, gotLen = 0, gotFlags = 0;
        uint8_t data[8] = {};
        QCOMPARE(slot->read(&id, data, &gotLen, &gotFlags), BUSLINK_OK);
        QCOMPARE(id, 0x1abc);
        QCOMPARE(gotLen, len);
        QCOMPARE(gotFlags, flags);
        const uint8_t zeros[8] = {};
        QVERIFY(std::memcmp(data, dataBack ? sent : zeros, size_t(len)) == 0);
        QCOMPARE(slot->read(&id, data, &gotLen, &gotFlags), BUSLINK_NO_MESSAGE);
    }

    void portTableHandsOutLowestFreeSlot()
    {
        buslink::PortTable table(4, 100);
        int32_t ports[4];
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(table.acquire(&ports[i]), BUSLINK_OK);
            QCOMPARE(ports[i], i);
        }
        int32_t fifth = 42;
        QCOMPARE(table.acquire(&fifth), BUSLINK_OUT_OF_INTERFACES);
        QCOMPARE(fifth, 42);
        // canPortOpen's start: the caller's port reads -1 until its open succeeds.
        int32_t opened = 42;
        QCOMPARE(table.beginOpen(&opened, &fifth), BUSLINK_OUT_OF_INTERFACES);
        QCOMPARE(opened, -1);
        QCOMPARE(table.beginOpen(nullptr, &fifth), BUSLINK_PORT_NOT_USABLE);

        QCOMPARE(table.release(1), BUSLINK_OK);
        QCOMPARE(table.release(1), BUSLINK_PORT_NOT_USABLE);
        QVERIFY(!table.slot(1));
        QVERIFY(!table.slot(-1));
        QVERIFY(!table.slot(4));
        int32_t again = -1;
        QCOMPARE(table.acquire(&again), BUSLINK_OK);
        QCOMPARE(again, 1);
        QVERIFY(!table.slot(again)->started); // a reused slot starts afresh
    }

    // Two drivers of one process that load the same plug-in share one copy of
    // it; the second one's canPortLibraryInit must not free the first's port.
    void initKeepsPortsOpenedByAnotherUser()
    {
        buslink::PortTable table(4, 100);
        int32_t first = -1;
        table.acquire(&first);
        table.slot(first)->started = true;
        table.init();
        QVERIFY(table.slot(first));
        QVERIFY(table.slot(first)->started);
        int32_t second = -1;
        QCOMPARE(table.acquire(&second), BUSLINK_OK);
        QVERIFY(second != first);
    }

    void receiveThreadPushesUntilStopped()
    {
        buslink::PortTable table(1, 200);
        int32_t port = -1;
        table.acquire(&port);
        buslink::PortSlot *slot = table.slot(port);
        slot->started = true;
        std::atomic<int> next{0};
        const int total = 150;
        QVERIFY(slot->startReceiveThread([&](buslink::PortSlot &s) {
            const int n = next.load();
            if (n >= total)
                return false;
            if (s.pushReceived(frame(n)) == BUSLINK_OK)
                next.store(n + 1);
            return true;
        }));
        QVERIFY(!slot->startReceiveThread([](buslink::PortSlot &) { return false; }));

        int expected = 0;
        QElapsedTimer clock;
        clock.start();
        while (expected < total && clock.elapsed() < 5000) {
            int32_t id, len, flags;
            uint8_t data[8];
            if (slot->read(&id, data, &len, &flags) == BUSLINK_OK)
                QCOMPARE(id, expected++);
            else
                QThread::usleep(100);
        }
        QCOMPARE(expected, total);
        QCOMPARE(table.release(port), BUSLINK_OK); // joins the thread
        QVERIFY(!slot->receiveThreadRunning());
    }

    // A poll that waits inside ends as soon as the run flag is cleared.
    void pollSeesRunFlagCleared()
    {
        buslink::PortTable table(1, 10);
        int32_t port = -1;
        table.acquire(&port);
        buslink::Event entered;
        QVERIFY(table.slot(port)->startReceiveThread([&](buslink::PortSlot &s) {
            entered.set();
            while (s.runRequested())
                std::this_thread::yield();
            return false;
        }));
        QVERIFY(entered.wait(20000));
        // A poll that missed the flag would hold the release for ever.
        QCOMPARE(table.release(port), BUSLINK_OK);
    }

    // Manual reset: set releases every waiter and stays until reset.
    void eventStaysSetUntilReset()
    {
        buslink::Event event;
        QVERIFY(!event.wait(0));
        std::atomic<int> released{0};
        std::thread a([&] { released += event.wait(10000); });
        std::thread b([&] { released += event.wait(10000); });
        event.set();
        a.join();
        b.join();
        QCOMPARE(released.load(), 2);
        QVERIFY(event.wait(0));
        event.reset();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!event.wait(30));
        QVERIFY(clock.elapsed() >= 25);
    }
};

ZOR_TEST(TestPluginCommon)
#include "tst_plugincommon.moc"
