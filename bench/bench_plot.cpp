// Time plots following live data: 8 curves whose series hold 1,000,000
// samples each, while a writer thread appends one sample per curve every
// 10 ms (as the data-log module does). Prints the plot's frames per second,
// its mean update interval (the adaptive timer) and the longest stall of
// the GUI thread, seen by a 5 ms timer, over 10 s; then the same for 10 s
// in which the writer holds one series for 200 ms every second, with the
// frames that drew a curve empty.
#include "datalogseries.h"
#include "shareddataregistry.h"
#include "testdommodel.h"
#include "zorcontentplot.h"
#include "zorplot.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <qwt_plot_curve.h>

#include <atomic>
#include <cstdio>

namespace {

constexpr int Curves = 8;
constexpr int SamplesPerCurve = 1000000;
constexpr int PeriodMs = 10;
constexpr int RunMs = 10000;

QString benchPlotId(int i)
{
    return QStringLiteral("001.%1h.00h").arg(0x6000 + i, 4, 16, QLatin1Char('0'));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);

    // Series that end now, one sample per 10 ms.
    const qint64 now = DataLogSample::toWallMs(QDateTime::currentDateTime());
    const qint64 first = now - qint64(SamplesPerCurve) * PeriodMs;
    QList<int> ids;
    QString sharedIds;
    QList<ZorNewPlotConfigurationData> curves;
    for (int c = 0; c < Curves; ++c) {
        auto *series = new DataLogSeries;
        for (int i = 0; i < SamplesPerCurve; ++i)
            series->append(DataLogSample::atWallMs(first + qint64(i) * PeriodMs, float((i + c * 100) % 1000)));
        ids << SharedDataRegistry::registerSeries(series);
        sharedIds += QStringLiteral("%1,%2\n").arg(benchPlotId(c)).arg(ids.last());
        curves.append(ZorNewPlotConfigurationData(benchPlotId(c), QStringLiteral("Curve %1").arg(c),
                                                  QColor::fromHsv(c * 40, 255, 160)));
    }

    std::atomic<bool> running{true};
    std::atomic<int> holdMs{0};
    QThread *writer = QThread::create([&] {
        qint64 t = now;
        QElapsedTimer clock;
        clock.start();
        qint64 lastHold = 0;
        while (running) {
            t += PeriodMs;
            for (int c = 0; c < Curves; ++c)
                if (DataLogSeries *series = SharedDataRegistry::lock(ids.at(c), 0)) {
                    series->append(DataLogSample::atWallMs(t, float((t / PeriodMs + c * 100) % 1000)));
                    SharedDataRegistry::unlock(ids.at(c));
                }
            // Once a second, a long hold of the first series (a slow disk
            // under the recording, a large clear).
            if (holdMs > 0 && clock.elapsed() - lastHold >= 1000) {
                lastHold = clock.elapsed();
                if (SharedDataRegistry::lock(ids.first(), 0)) {
                    QThread::msleep(ulong(holdMs.load()));
                    SharedDataRegistry::unlock(ids.first());
                }
            }
            const qint64 due = (t - now);
            const qint64 ahead = due - clock.elapsed();
            if (ahead > 0)
                QThread::msleep(ulong(ahead));
        }
    });
    writer->start();

    TestDomModel model;
    model.addModule(QStringLiteral("datalog_plot"), QStringLiteral("Plot"), QString(),
                    QStringLiteral("<docs>%1</docs>")
                        .arg(ZorContentPlot::initialDocument(QStringLiteral("Bench"), curves,
                                                             DataLogSample::fromWallMs(first))));
    ZorContentPlot panel;
    if (!panel.setupZorPanel(model.moduleIndex(QStringLiteral("Plot")), &model)) {
        std::printf("plot_frames_per_second: failed (no panel)\n");
        return 1;
    }
    panel.resize(1200, 700);
    panel.show();
    panel.msgIn(ZorMessage(KM_DAQ_SHARED_IDS_LIST, KS_INFO, sharedIds));
    panel.msgIn(ZorMessage(KM_STATUS, KS_INFO, 101));

    // Connected after the panel's own slot: runs once each update is done.
    int frames = 0, blankFrames = 0;
    QObject::connect(panel.updateTimer(), &QTimer::timeout, [&] {
        ++frames;
        for (int c = 0; c < Curves; ++c)
            if (panel.plot()->curve(benchPlotId(c))->dataSize() == 0) {
                ++blankFrames;
                break;
            }
    });
    qint64 longestStall = 0, last = 0;
    QElapsedTimer clock;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 t = clock.elapsed();
        longestStall = qMax(longestStall, t - last - 5);
        last = t;
    });
    const auto run = [&] {
        frames = blankFrames = 0;
        longestStall = last = 0;
        clock.start();
        probe.start();
        QEventLoop loop;
        QTimer::singleShot(RunMs, &loop, &QEventLoop::quit);
        loop.exec();
        probe.stop();
    };

    run();
    std::printf("plot_frames_per_second: %.1f frames/s\n", frames * 1000.0 / RunMs);
    std::printf("plot_mean_update_interval: %.0f ms\n", frames ? double(RunMs) / frames : 0.0);
    std::printf("plot_longest_gui_stall: %lld ms\n", static_cast<long long>(longestStall));

    holdMs = 200;
    run();
    std::printf("plot_frames_per_second_series_held: %.1f frames/s\n", frames * 1000.0 / RunMs);
    std::printf("plot_longest_gui_stall_series_held: %lld ms\n", static_cast<long long>(longestStall));
    std::printf("plot_blank_frames_series_held: %d frames\n", blankFrames);

    running = false;
    writer->wait();
    delete writer;
    for (int id : ids)
        SharedDataRegistry::unregister(id);
    return 0;
}
