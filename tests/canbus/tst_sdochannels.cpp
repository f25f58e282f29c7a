// The nodes' SDO channels shared by the gateways on one CAN interface: one
// transfer per node at a time, the waiting side woken when the channel is
// free, holds that lapse, and owners that go away.
#include "zorsdochannels.h"
#include "zortest.h"

#include <QtTest>

namespace {

qint64 fakeNow = 0;
qint64 fakeClock()
{
    return fakeNow;
}

} // namespace

class TestSdoChannels : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        fakeNow = 1000;
        ZorSdoChannels::setClock(&fakeClock);
    }
    void cleanup() { ZorSdoChannels::setClock(nullptr); }

    void oneTransferPerNode()
    {
        const std::shared_ptr<ZorSdoChannels> channels = ZorSdoChannels::forBus(this);
        QCOMPARE(ZorSdoChannels::forBus(this), channels);   // shared by all on that bus
        const ZorSdoChannels::Token line = ZorSdoChannels::newToken(), poll = ZorSdoChannels::newToken();
        int woken = 0;
        int owner = 0;
        QVERIFY(channels->acquire(5, line, 1000));
        QVERIFY(channels->acquire(5, line, 1000));          // renewed by its holder
        QVERIFY(channels->acquire(6, poll, 1000));          // another node is free
        QVERIFY(!channels->acquire(5, poll, 1000, &owner, [&] { ++woken; }));
        QVERIFY(!channels->acquire(5, poll, 1000, &owner, [&] { ++woken; }));   // one wake-up per owner
        QCOMPARE(channels->holder(5), line);
        channels->release(5, poll);                         // not its holder: nothing
        QCOMPARE(woken, 0);
        channels->release(5, line);
        QCOMPARE(woken, 1);
        QVERIFY(channels->acquire(5, poll, 1000));
        channels->releaseAll(poll);
        QCOMPARE(channels->holder(5), ZorSdoChannels::Token(0));
        QCOMPARE(channels->holder(6), ZorSdoChannels::Token(0));
    }

    // A hold lapses after its time: a vanished transfer blocks no node.
    void holdsLapse()
    {
        const std::shared_ptr<ZorSdoChannels> channels = ZorSdoChannels::forBus(this);
        const ZorSdoChannels::Token a = ZorSdoChannels::newToken(), b = ZorSdoChannels::newToken();
        QVERIFY(channels->acquire(1, a, 500));
        fakeNow += 499;
        QVERIFY(!channels->acquire(1, b, 500));
        fakeNow += 1;
        QVERIFY(channels->acquire(1, b, 500));
        QCOMPARE(channels->holder(1), b);
    }

    void forgottenOwnersAreNotWoken()
    {
        const std::shared_ptr<ZorSdoChannels> channels = ZorSdoChannels::forBus(this);
        const ZorSdoChannels::Token a = ZorSdoChannels::newToken(), b = ZorSdoChannels::newToken();
        int owner = 0;
        int woken = 0;
        QVERIFY(channels->acquire(3, a, 500));
        QVERIFY(!channels->acquire(3, b, 500, &owner, [&] { ++woken; }));
        channels->forgetOwner(&owner);
        channels->release(3, a);
        QCOMPARE(woken, 0);
    }
};

ZOR_TEST(TestSdoChannels)
#include "tst_sdochannels.moc"
