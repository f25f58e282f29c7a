// How many frames per second the CAN monitor takes in while the GUI stays
// responsive.
//
// A feeder thread plays the CAN interface module: it sends one KM_CAN_FRAME
// message per frame through a queued signal to the shown monitor panel, at a
// fixed rate (10,000 frames/s is above a saturated 1 Mbit/s bus, about 8,000
// frames/s of 8-byte standard frames) and then as fast as it can. Meanwhile a
// 1 ms timer in the GUI thread measures the longest gap between its ticks
// (a stall: no input, no painting). Afterwards the table must hold exactly
// the newest frames: every frame numbered, none lost before the row cap.
//
// Lines: canmonitor_<run>_rate (frames/s taken in), _max_stall (ms),
// _lost (frames sent but not numbered, or missing from the table's newest
// rows); canmonitor_max_responsive_rate, the highest rate tried that kept
// every stall within 50 ms.
#include "canframes.h"
#include "zorcontentcanmonitor.h"
#include "zormonitortablemodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

namespace {

class Feeder : public QObject
{
    Q_OBJECT
public:
    // rate 0: as fast as the signal can be sent.
    Feeder(int rate, qint64 durationMs)
        : m_rate(rate), m_durationMs(durationMs)
    {
    }

    std::atomic<qint64> sent{0};
    std::atomic<qint64> elapsedNs{0};

signals:
    void frame(const ZorMessage &msg);
    void finished();

public slots:
    void run()
    {
        const QByteArray records[] = {
            ZorTest::frameRecord("181h,8,01 02 03 04 05 06 07 08,100"),
            ZorTest::frameRecord("701h,1,05,200"),
            ZorTest::frameRecord("581h,8,43 00 10 00 92 01 02 00,300"),
        };
        QElapsedTimer clock;
        clock.start();
        qint64 count = 0;
        while (clock.elapsed() < m_durationMs) {
            // In steps of 1 ms, as a module's cycle hands on what it took in.
            const qint64 due = m_rate > 0 ? clock.nsecsElapsed() * m_rate / 1000000000 : count + 200;
            while (count < due) {
                emit frame(ZorMessage(KM_CAN_FRAME, count % 7 == 0 ? KS_ANSWER : KS_INFO,
                                      records[count % 3]));
                ++count;
            }
            if (m_rate > 0)
                QThread::usleep(1000);
        }
        elapsedNs = clock.nsecsElapsed();
        sent = count;
        emit finished();
    }

private:
    int m_rate;
    qint64 m_durationMs;
};

struct Result
{
    double rate = 0;
    double maxStallMs = 0;
    qint64 lost = 0;
};

Result runOnce(int rate, qint64 durationMs)
{
    ZorContentCanmonitor monitor;
    monitor.resize(900, 600);
    monitor.show();

    QThread thread;
    Feeder feeder(rate, durationMs);
    feeder.moveToThread(&thread);
    QObject::connect(&feeder, &Feeder::frame, &monitor, &ZorPanel::msgIn, Qt::QueuedConnection);
    QObject::connect(&thread, &QThread::started, &feeder, &Feeder::run);

    // Longest gap between ticks of a 1 ms timer in the GUI thread.
    QElapsedTimer tick;
    qint64 maxGapNs = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        maxGapNs = qMax(maxGapNs, tick.nsecsElapsed());
        tick.restart();
    });

    bool fed = false;
    QObject::connect(&feeder, &Feeder::finished, &monitor, [&] { fed = true; }, Qt::QueuedConnection);
    QApplication::processEvents();
    tick.start();
    probe.start();
    thread.start();

    // Until everything sent has been taken in and the last refresh shown.
    ZorMonitorTableModel *model = monitor.tableModel();
    QElapsedTimer wall;
    wall.start();
    // The intake rate: frames numbered per second until the last one was.
    qint64 intakeNs = 0;
    while (!(intakeNs && model->pendingCount() == 0) && wall.elapsed() < durationMs + 60000) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (!intakeNs && fed && model->frameCount() == feeder.sent)
            intakeNs = wall.nsecsElapsed();
    }
    probe.stop();
    thread.quit();
    thread.wait();

    Result result;
    const qint64 sent = feeder.sent;
    const qint64 numbered = model->frameCount();
    const qint64 shown = model->rowCount();
    const qint64 expectedRows = qMin<qint64>(sent, ZorMonitorTableModel::MaxRows);
    qint64 lost = sent - numbered;
    if (shown != expectedRows)
        lost += qAbs(expectedRows - shown);
    else if (shown > 0) {
        // The newest rows, in order, ending with the last frame sent.
        const qint64 first = model->index(0, 0).data().toLongLong();
        const qint64 last = model->index(int(shown - 1), 0).data().toLongLong();
        if (last != sent || first != sent - shown + 1)
            lost += qAbs(sent - last) + qAbs(sent - shown + 1 - first);
    }
    result.lost = lost;
    result.rate = double(numbered) * 1e9 / double(qMax<qint64>(intakeNs, feeder.elapsedNs));
    result.maxStallMs = double(maxGapNs) / 1e6;
    return result;
}

void report(const char *run, const Result &r)
{
    std::printf("canmonitor_%s_rate: %.0f frames/s\n", run, r.rate);
    std::printf("canmonitor_%s_max_stall: %.1f ms\n", run, r.maxStallMs);
    std::printf("canmonitor_%s_lost: %lld frames\n", run, static_cast<long long>(r.lost));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    ZorMessage::registerMetaType();
    // 10,000 frames/s for 4 s: 40,000 frames, twice the row cap.
    report("10k", runOnce(10000, 4000));
    // The highest rate (doubling from 20,000 frames/s) at which no stall is
    // longer than 50 ms and nothing is lost.
    int responsive = 0;
    for (int rate = 20000; rate <= 1280000; rate *= 2) {
        const Result r = runOnce(rate, 2000);
        if (r.maxStallMs > 50 || r.lost > 0)
            break;
        responsive = rate;
    }
    std::printf("canmonitor_max_responsive_rate: %d frames/s\n", responsive);
    // As fast as the feeder can send for 2 s (the GUI thread is then swamped).
    report("flood", runOnce(0, 2000));
    return 0;
}

#include "bench_canmonitor.moc"
