// SDO through the whole chain: requester module -> CANopen gateway -> CAN
// interface -> TCP -> simulated gateway -> a node of the independent stack.
// Reads of 1000h one interview at a time (rate, median and 99th-percentile
// latency), and the same reads as the lines of one interview.
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
    if (!rig.start({"--node", "1", "--quiet"})) {
        fprintf(stderr, "bench_sdo: %s\n", qPrintable(rig.sim.errorString()));
        return 1;
    }
    const QString line = QStringLiteral("SDOReadObject:1000:0:1,1000h,0h,unsigned32");
    for (int i = 0; i < 50; ++i)
        rig.interview(line);

    const int reads = 2000;
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
    return 0;
}
