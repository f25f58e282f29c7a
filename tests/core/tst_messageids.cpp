// Message ids: the process-wide counter, copies, and delivery through queued
// connections between threads. Runs in a process of its own, so that the
// first message it makes is the first message of the run.
#include "zormessage.h"
#include "zortest.h"

#include <QThread>
#include <QtTest>
#include <algorithm>
#include <thread>
#include <vector>

namespace {

// Lives in a worker thread and sends every message it gets straight back.
class Echo : public QObject
{
    Q_OBJECT
public:
    QAtomicPointer<QThread> seenIn;
signals:
    void back(ZorMessage msg);
public slots:
    void take(ZorMessage msg)
    {
        seenIn.storeRelease(QThread::currentThread());
        emit back(msg);
    }
};

} // namespace

class TestMessageIds : public QObject
{
    Q_OBJECT

    int m_firstId = -1;
    int m_secondId = -1;

signals:
    void send(ZorMessage msg);

private slots:
    void initTestCase()
    {
        // Nothing may make a message before this.
        m_firstId = ZorMessage(KM_WHOAMI, KS_REQUEST, QVariant()).msgId();
        m_secondId = ZorMessage().msgId();
    }

    void firstMessageOfTheRunIsOne()
    {
        QCOMPARE(m_firstId, 1);
        QCOMPARE(m_secondId, 2);
    }

    void copiesKeepTheId()
    {
        const ZorMessage original(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("Baud"));
        const ZorMessage copy(original);
        ZorMessage assigned;
        QVERIFY(assigned != original);
        assigned = original;
        ZorMessage temporary(original);
        const ZorMessage moved(std::move(temporary));
        QCOMPARE(copy.msgId(), original.msgId());
        QCOMPARE(assigned.msgId(), original.msgId());
        QCOMPARE(moved.msgId(), original.msgId());
        QCOMPARE(ZorMessage().msgId(), original.msgId() + 2); // only `assigned` drew one
    }

    void queuedDeliveryBetweenThreads()
    {
        QCOMPARE(ZorMessage::registerMetaType(), ZorMessage::registerMetaType());
        QCOMPARE(QMetaType::type("ZorMessage"), ZorMessage::registerMetaType());

        QThread worker;
        Echo echo;
        echo.moveToThread(&worker);
        connect(this, &TestMessageIds::send, &echo, &Echo::take, Qt::QueuedConnection);
        // String-based connection: the signature names the type "ZorMessage".
        ZorMessage received;
        connect(&echo, SIGNAL(back(ZorMessage)), this, SLOT(receive(ZorMessage)), Qt::QueuedConnection);
        m_received = &received;
        worker.start();

        const QTime t(12, 34, 56, 789);
        ZorMessage request(KM_WHOAMI, KS_REQUEST, t);
        request.setOrigin(QStringLiteral("panel"));
        const int before = received.msgId();
        emit send(request);
        QTRY_VERIFY_WITH_TIMEOUT(received.msgId() != before, 5000);

        QCOMPARE(echo.seenIn.loadAcquire(), &worker);
        QVERIFY(received == request);
        QCOMPARE(received.msgId(), request.msgId());
        QCOMPARE(received.data().userType(), int(QMetaType::QTime));
        QCOMPARE(received.data().toTime(), t);
        QCOMPARE(received.origin(), QStringLiteral("panel"));

        worker.quit();
        QVERIFY(worker.wait(5000));
        m_received = nullptr;
    }

    void concurrentMessagesGetDistinctIds()
    {
        const int threads = 4;
        const int perThread = 20000;
        QVector<QVector<int>> ids(threads);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&ids, t, perThread] {
                ids[t].reserve(perThread);
                for (int i = 0; i < perThread; ++i)
                    ids[t].append(ZorMessage(KM_STATUS, KS_INFO, i).msgId());
            });
        }
        for (std::thread &w : workers)
            w.join();
        QVector<int> all;
        for (const QVector<int> &v : ids) {
            QVERIFY(std::is_sorted(v.begin(), v.end())); // rising within a thread
            all += v;
        }
        std::sort(all.begin(), all.end());
        QVERIFY(std::adjacent_find(all.begin(), all.end()) == all.end());
        QCOMPARE(all.last() - all.first(), threads * perThread - 1);
    }

public slots:
    void receive(ZorMessage msg)
    {
        if (m_received)
            *m_received = msg;
    }

private:
    ZorMessage *m_received = nullptr;
};

ZOR_TEST(TestMessageIds)
#include "tst_messageids.moc"
