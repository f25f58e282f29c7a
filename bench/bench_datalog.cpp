// Data logging: how many samples per second the data-log module's sample
// path sustains (data-log lines read, stored into shared series, written to
// the recording file) over 10 s; how long a plot's window query takes over a
// series of 1,000,000 samples at 1,000 pixels; how much memory a million
// samples take; and how fast a data-log module opens a recording of
// 1,000,000 lines, and how long a cancel waits meanwhile.
#include "datalogseries.h"
#include "shareddataregistry.h"
#include "testdommodel.h"
#include "zordatalogcapture.h"
#include "zormoddatalog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void report(const char *name, double value, const char *unit, int decimals = 0)
{
    std::printf("%s: %.*f %s\n", name, decimals, value, unit);
}

const QDateTime T0(QDate(2024, 3, 5), QTime(10, 0));

// Resident memory of the process in kB (Linux), 0 when unknown.
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// KM_DAQ_DATA-like batches: `channels` channels sampled every ms, from `fromMs` on.
QString batchText(int channels, qint64 fromMs, int lines)
{
    QString text;
    for (int i = 0; i < lines; ++i) {
        const qint64 ms = fromMs + i / channels;
        DataLogSample s = DataLogSample::atWallMs(DataLogSample::toWallMs(T0) + ms, float(i % 4000) * 0.25f);
        text += s.toLine(QStringLiteral("%1.6064h.00h").arg(i % channels + 1, 3, 10, QLatin1Char('0')));
        text += QLatin1Char('\n');
    }
    return text;
}

void storedAndRecorded(const QString &folder)
{
    ZorDataLogCapture capture;
    QString error;
    if (!capture.startRecording(folder + QStringLiteral("/bench.csv"), error)) {
        std::printf("datalog_store_and_record: failed (%s)\n", qPrintable(error));
        return;
    }
    const int channels = 8, batch = 2000;
    qint64 samples = 0, ms = 0;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer making;
    qint64 makingNs = 0;
    while (clock.elapsed() < 10000) {
        making.start();
        const QString text = batchText(channels, ms, batch);   // the gateway's part, not counted
        makingNs += making.nsecsElapsed();
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            capture.process(DataLogSample::channelOfLine(line), DataLogSample(line));
        if (!capture.flushRecording(error)) {
            std::printf("datalog_store_and_record: write failed (%s)\n", qPrintable(error));
            return;
        }
        samples += batch;
        ms += batch / channels;
    }
    const double seconds = double(clock.nsecsElapsed() - makingNs) / 1e9;
    report("datalog_samples_stored_and_recorded_10s", double(samples) / seconds, "samples/s");
    report("datalog_recording_bytes_per_sample", double(QFile(folder + "/bench.csv").size()) / double(samples),
           "bytes", 1);
}

void windowQueries()
{
    DataLogSeries series;
    const qint64 base = DataLogSample::toWallMs(T0);
    for (int i = 0; i < DataLogSeries::Limit; ++i)
        series.append(DataLogSample::atWallMs(base + i, float(i % 1000)));
    const int pixels = 1000;
    struct Case
    {
        const char *name;
        qint64 fromMs, toMs;
    };
    const Case cases[] = {{"datalog_window_query_1M_whole_series_1000px", 0, DataLogSeries::Limit - 1},
                          {"datalog_window_query_1M_last_10s_1000px", DataLogSeries::Limit - 10000, DataLogSeries::Limit - 1}};
    for (const Case &c : cases) {
        const DateTimeSpan span(T0.addMSecs(c.fromMs), T0.addMSecs(c.toMs));
        const double resolution = double(c.toMs - c.fromMs) / pixels;
        DateTimeSpan out;
        int returned = 0, runs = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 500) {
            returned = series.valuesInWindow(resolution, span, 0, 1000, out).size();
            ++runs;
        }
        report(c.name, double(clock.nsecsElapsed()) / 1e3 / runs, "us", 1);
        std::printf("%s_samples: %d samples\n", c.name, returned);
    }
    // Paging into an empty window of a full series: the jump to the data.
    const DateTimeSpan empty(T0.addSecs(2000), T0.addSecs(2010));
    DateTimeSpan out;
    QElapsedTimer clock;
    clock.start();
    int runs = 0;
    while (clock.elapsed() < 500) {
        series.valuesInWindow(10, empty, -1, 1000, out);
        ++runs;
    }
    report("datalog_window_jump_1M_1000px", double(clock.nsecsElapsed()) / 1e3 / runs, "us", 1);
}

void memoryPerMillion()
{
    const qint64 before = residentKb();
    auto *series = new DataLogSeries;
    const qint64 base = DataLogSample::toWallMs(T0);
    for (int i = 0; i < 1000000; ++i)
        series->append(DataLogSample::atWallMs(base + i, float(i)));
    const int id = SharedDataRegistry::registerSeries(series);
    const qint64 after = residentKb();
    if (before > 0 && after > 0)
        report("datalog_memory_per_million_samples", double(after - before) / 1024.0, "MB", 1);
    SharedDataRegistry::unregister(id);
}

void registryLocks()
{
    const int id = SharedDataRegistry::registerSeries(new DataLogSeries);
    const int n = 1000000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < n; ++i) {
        SharedDataRegistry::lock(id, 5000);
        SharedDataRegistry::unlock(id);
    }
    report("datalog_registry_lock_unlock", double(clock.nsecsElapsed()) / n, "ns", 0);
    SharedDataRegistry::unregister(id);
}

// A recording as the module writes it: 8 channels sampled every ms.
bool writeRecording(const QString &path, int lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const int channels = 8;
    const qint64 base = DataLogSample::toWallMs(T0);
    QByteArray chunk;
    for (int i = 0; i < lines; ++i) {
        const DataLogSample s = DataLogSample::atWallMs(base + i / channels, float(i % 40000) * 0.125f - 2000);
        chunk += s.toLine(QStringLiteral("%1.6064h.00h").arg(i % channels + 1, 3, 10, QLatin1Char('0'))).toLatin1();
        chunk += "\r\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    QFile xml(path.chopped(3) + QStringLiteral("xml"));
    return xml.open(QIODevice::WriteOnly) && xml.write("<CANopenObjectList/>") > 0;
}

// Runs until the module sends a KM_DAQ_CONTROL answer (not progress) or
// the time runs out; the answer's state, or -1.
int waitForControlAnswer(ZorModule &module, int timeoutMs)
{
    QEventLoop loop;
    int state = -1;
    const auto connection = QObject::connect(&module, &ZorModule::slaveOut, &loop, [&](const ZorMessage &m) {
        if (m.msgType() == KM_DAQ_CONTROL && m.msgState() != KS_INFO) {
            state = m.msgState();
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return state;
}

void recordingLoad(const QString &folder)
{
    const int lines = 1000000;
    const QString path = folder + QStringLiteral("/load.csv");
    if (!writeRecording(path, lines)) {
        std::printf("datalog_recording_load_1M_lines: failed (cannot write %s)\n", qPrintable(path));
        return;
    }
    TestDomModel model;
    model.addModule(QStringLiteral("datalog"), QStringLiteral("Scope"));
    std::unique_ptr<ZorModule, ZorModuleDeleter> module(new ZorModDataLog);
    if (!module->setupZorModule(model.moduleIndex(QStringLiteral("Scope")), &model))
        return;
    module->start();
    module->slaveIn(ZorMessage(KM_DAQ_CONTROL, KS_REQUEST, QStringLiteral("5,1")));
    QElapsedTimer clock;
    clock.start();
    module->slaveIn(ZorMessage(KM_DAQ_CONTROL, KS_REQUEST, QStringLiteral("4,") + path));
    if (waitForControlAnswer(*module, 120000) != KS_ANSWER) {
        std::printf("datalog_recording_load_1M_lines: failed (no answer)\n");
        return;
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    report("datalog_recording_load_1M_lines", seconds * 1000, "ms");
    report("datalog_recording_load_rate", lines / seconds, "lines/s");

    // A cancel in the middle of a load: how long until the module echoes it.
    module->slaveIn(ZorMessage(KM_DAQ_CONTROL, KS_REQUEST, QStringLiteral("4,") + path));
    QEventLoop settle;
    QTimer::singleShot(int(qBound(20.0, seconds * 1000 / 3, 2000.0)), &settle, &QEventLoop::quit);
    settle.exec();
    clock.start();
    module->slaveIn(ZorMessage(KM_DAQ_CONTROL, KS_CANCEL, QStringLiteral("4")));
    const int state = waitForControlAnswer(*module, 10000);
    report(state == KS_CANCEL ? "datalog_recording_load_cancel_latency" : "datalog_recording_load_cancel_missed",
           double(clock.nsecsElapsed()) / 1e6, "ms", 1);
}

} // namespace

int main(int argc, char **argv)
{
    // No GUI thread limit here: the benchmark thread is the application's.
    QCoreApplication app(argc, argv);
    ZorMessage::registerMetaType();
    QTemporaryDir dir;
    memoryPerMillion();
    windowQueries();
    registryLocks();
    storedAndRecorded(dir.path());
    recordingLoad(dir.path());
    return 0;
}
