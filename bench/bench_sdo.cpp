// SDO through the whole chain: requester module -> CANopen gateway -> CAN
// interface -> TCP -> simulated gateway -> nodes of the independent stack.
// Reads of 1000h one interview at a time (rate, median and 99th-percentile
// latency), the same reads as the lines of one interview, and cyclic
// sampling: how many objects sampled every 50 ms are served in full before
// polls are skipped.
#include "gatewayrig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);

    GatewayRig rig;
    QStringList nodes;
    for (int n = 1; n <= 64; ++n)
        nodes << "--node" << QString::number(n);
    nodes << "--quiet";
    if (!rig.start(nodes)) {
        fprintf(stderr, "bench_sdo: %s\n", qPrintable(rig.sim.errorString()));
        return 1;
    }
    const QString line = QStringLiteral("SDOReadObject:1000:0:1,1000h,0h,unsigned32");
    for (int i = 0; i < 50; ++i)
        rig.interview(line);

    const int reads = 2000;
    // (nodes 2.. are only used by the sampling below)
    std::vector<double> latencies;
    latencies.reserve(reads);
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < reads; ++i) {
        QElapsedTimer one;
        one.start();
        const ZorMessage answer = rig.interview(line);
        latencies.push_back(one.nsecsElapsed() / 1e6);
        if (answer.msgState() != KS_ANSWER) {
            fprintf(stderr, "bench_sdo: read %d failed: %s\n", i, qPrintable(answer.toString()));
            return 1;
        }
    }
    const double seconds = total.nsecsElapsed() / 1e9;
    std::sort(latencies.begin(), latencies.end());
    printf("sdo_read_rate: %.0f reads/s\n", reads / seconds);
    printf("sdo_read_latency_median: %.2f ms\n", latencies[latencies.size() / 2]);
    printf("sdo_read_latency_p99: %.2f ms\n", latencies[latencies.size() * 99 / 100]);

    const int lines = 1000;
    QString batch;
    for (int i = 0; i < lines; ++i)
        batch += line + QLatin1Char('\n');
    total.start();
    const ZorMessage answer = rig.interview(batch, 60000);
    if (answer.msgState() != KS_ANSWER) {
        fprintf(stderr, "bench_sdo: batch failed\n");
        return 1;
    }
    printf("sdo_read_rate_one_interview: %.0f reads/s\n", lines / (total.nsecsElapsed() / 1e9));

    // Sampling: n objects every 50 ms (20 polls per object and second),
    // spread over the nodes; sustained while the samples per second keep up.
    const QStringList objects = {"1000h.00h,unsigned32", "1001h.00h,unsigned8", "1014h.00h,unsigned32",
                                 "1017h.00h,unsigned16", "1018h.01h,unsigned32", "1018h.02h,unsigned32",
                                 "1018h.03h,unsigned32", "1018h.04h,unsigned32", "2000h.00h,unsigned8",
                                 "2001h.00h,unsigned16", "2002h.00h,unsigned32", "2003h.00h,integer8",
                                 "2004h.00h,integer16", "2005h.00h,integer32", "2009h.00h,unsigned16",
                                 "2010h.01h,unsigned32", "2010h.02h,unsigned32", "6040h.00h,unsigned16",
                                 "6041h.00h,unsigned16", "6064h.00h,integer32"};
    double sustained = 0;
    int sustainedObjects = 0;
    for (int count : {20, 40, 80, 160, 320, 640, 1280}) {
        QString config;
        for (int i = 0; i < count; ++i) {
            const int node = 1 + i / objects.size();
            const QString object = objects.at(i % objects.size());
            config += QStringLiteral("%1.%2,o%3,%4,Software,50\n")
                          .arg(node, 3, 10, QLatin1Char('0'))
                          .arg(object.section(',', 0, 0))
                          .arg(i)
                          .arg(object.section(',', 1));
        }
        ZorMessage daq(KM_DAQ_CONFIG, KS_REQUEST, config);
        rig.send(daq);
        GatewayRig::waitUntil(rig.fromGateway, [] { return false; }, 1500);   // settle
        rig.fromGateway.clear();
        QElapsedTimer window;
        window.start();
        GatewayRig::waitUntil(rig.fromGateway, [] { return false; }, 2000);
        int samples = 0;
        for (const ZorMessage &m : rig.fromGateway.ofType(KM_DAQ_DATA))
            samples += m.data().toString().count(QLatin1Char('\n'));
        const double rate = samples / (window.nsecsElapsed() / 1e9);
        printf("sampling_%d_objects_at_50ms: %.0f samples/s (of %d)\n", count, rate, count * 20);
        if (rate < 0.95 * count * 20)
            break;
        sustained = rate;
        sustainedObjects = count;
    }
    ZorMessage stop(KM_DAQ_CONFIG, KS_CANCEL);
    rig.send(stop);
    printf("sampling_sustained_at_50ms: %.0f samples/s (%d objects)\n", sustained, sustainedObjects);
    return 0;
}
