// SDO through the whole chain: requester module -> CANopen gateway -> CAN
// interface -> TCP -> simulated gateway -> nodes of the independent stack,
// with the simulated bus as fast as it goes and with the bus timing of
// 1 Mbit/s (suffix "_1mbit_timing"):
//
//   sdo_expedited_reads             reads of 1000h per second, eight requesters
//                                   (each a module with its own gateway) reading
//                                   eight nodes, one line at a time each
//   sdo_expedited_read_cpu          CPU time of this process (requesters, gateways,
//                                   CAN interface) per read in that run
//   sdo_expedited_latency_median/_p99
//                                   one read on an otherwise quiet bus, one
//                                   requester
//   sdo_hop_*                       where one read spends its time (medians):
//     requester_to_gateway          the line reaches the gateway's thread
//     gateway_builds_exchange       the gateway builds and sends its exchange
//     gateway_to_can_interface      the exchange reaches the CAN interface's thread
//     can_interface_writes          the request frame is written to the socket
//     wire_and_node                 socket, simulated gateway, bus and node, and
//                                   the driver's wait for the answer bytes
//     can_interface_matches         the answer frame is matched to the exchange
//     can_interface_to_gateway      the exchange's answer reaches the gateway's thread
//     gateway_answers               the gateway answers the served line
//     gateway_to_requester          the completed line reaches the requester
//
// and cyclic sampling (bus unthrottled): how many objects sampled every 50 ms
// are served in full before polls are skipped.
#include "gatewayrig.h"
#include "zorhoptrace.h"
#include "zortestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

namespace {

QString readLine(int node)
{
    return QStringLiteral("SDOReadObject:1000:0:%1,1000h,0h,unsigned32").arg(node);
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(values.size() * fraction))];
}

// Median and 99th percentile of single reads, in ms.
bool latency(GatewayRig &rig, const char *suffix)
{
    const QString line = readLine(1);
    for (int i = 0; i < 50; ++i)
        rig.interview(line);
    std::vector<double> times;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer one;
        one.start();
        const ZorMessage answer = rig.interview(line);
        times.push_back(one.nsecsElapsed() / 1e6);
        if (answer.msgState() != KS_ANSWER) {
            fprintf(stderr, "bench_sdo: read %d failed: %s\n", i, qPrintable(answer.toString()));
            return false;
        }
    }
    printf("sdo_expedited_latency_median%s: %.3f ms\n", suffix, percentile(times, 0.5));
    printf("sdo_expedited_latency_p99%s: %.3f ms\n", suffix, percentile(times, 0.99));
    return true;
}

// Reads per second with several requesters, each with one line under way.
bool throughput(GatewayRig &rig, const QList<ZorModule *> &requesters, const QList<GatewayRecorder *> &recorders,
                const char *suffix)
{
    const int seconds = 3;
    qint64 answered = 0;
    bool failed = false;
    bool running = true;
    QList<ZorMessage> pending;
    QList<int> seen;
    auto sendNext = [&](int i) {
        ZorMessage request(KM_INTERVIEW, KS_REQUEST, readLine(i + 1));
        request.setOrigin(requesters.at(i)->label());
        pending[i] = request;
        rig.send(request, requesters.at(i));
    };
    QList<QMetaObject::Connection> connections;
    for (int i = 0; i < requesters.size(); ++i) {
        pending << ZorMessage();
        seen << 0;
        connections << QObject::connect(recorders.at(i), &GatewayRecorder::recorded, [&, i] {
            const QList<ZorMessage> answers = recorders.at(i)->ofType(KM_INTERVIEW);
            for (; seen[i] < answers.size(); ++seen[i]) {
                const ZorMessage &m = answers.at(seen[i]);
                if (!(m == pending.at(i)) || m.msgState() == KS_WAITING)
                    continue;
                failed |= m.msgState() != KS_ANSWER;
                ++answered;
                if (running)
                    sendNext(i);
            }
            recorders.at(i)->clear();
            seen[i] = 0;
        });
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < requesters.size(); ++i)
        sendNext(i);
    // Warm-up second, then the measured ones.
    GatewayRig::waitUntil(rig.fromGateway, [&] { return clock.elapsed() >= 1000; }, 2000);
    const qint64 start = answered;
    const std::clock_t cpuStart = std::clock();
    clock.start();
    GatewayRig::waitUntil(rig.fromGateway, [&] { return clock.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    const double rate = (answered - start) / (clock.nsecsElapsed() / 1e9);
    const double cpuPerRead = double(std::clock() - cpuStart) / CLOCKS_PER_SEC / double(answered - start);
    running = false;
    GatewayRig::waitUntil(rig.fromGateway, [] { return false; }, 300);
    for (const QMetaObject::Connection &c : connections)
        QObject::disconnect(c);
    if (failed) {
        fprintf(stderr, "bench_sdo: a read of the throughput run failed\n");
        return false;
    }
    printf("sdo_expedited_reads%s: %.0f reads/s\n", suffix, rate);
    printf("sdo_expedited_read_cpu%s: %.1f us/read\n", suffix, cpuPerRead * 1e6);
    return true;
}

// Median time of each hop of one read.
bool hops(GatewayRig &rig, const char *suffix)
{
    struct Hop
    {
        const char *name;
        int from;   // -1: the request leaving the requester
        int to;     // -1: the answer reaching the requester
    };
    const Hop hops[] = {
        {"requester_to_gateway", -1, ZorHopTrace::GatewayLineTaken},
        {"gateway_builds_exchange", ZorHopTrace::GatewayLineTaken, ZorHopTrace::GatewayExchangeSent},
        {"gateway_to_can_interface", ZorHopTrace::GatewayExchangeSent, ZorHopTrace::CanLineTaken},
        {"can_interface_writes", ZorHopTrace::CanLineTaken, ZorHopTrace::CanFrameWritten},
        {"wire_and_node", ZorHopTrace::CanFrameWritten, ZorHopTrace::CanFrameRead},
        {"can_interface_matches", ZorHopTrace::CanFrameRead, ZorHopTrace::CanLineAnswered},
        {"can_interface_to_gateway", ZorHopTrace::CanLineAnswered, ZorHopTrace::GatewayAnswerTaken},
        {"gateway_answers", ZorHopTrace::GatewayAnswerTaken, ZorHopTrace::GatewayLineAnswered},
        {"gateway_to_requester", ZorHopTrace::GatewayLineAnswered, -1},
    };
    const int count = int(sizeof hops / sizeof hops[0]);
    std::vector<std::vector<double>> times(count);
    const QString line = readLine(1);
    for (int i = 0; i < 300; ++i) {
        ZorHopTrace::arm();
        const qint64 sent = ZorHopTrace::now();
        const ZorMessage answer = rig.interview(line);
        const qint64 received = ZorHopTrace::now();
        ZorHopTrace::disarm();
        if (answer.msgState() != KS_ANSWER)
            return false;
        for (int h = 0; h < count; ++h) {
            const qint64 from = hops[h].from < 0 ? sent : ZorHopTrace::at(ZorHopTrace::Point(hops[h].from));
            const qint64 to = hops[h].to < 0 ? received : ZorHopTrace::at(ZorHopTrace::Point(hops[h].to));
            if (from >= 0 && to >= 0)
                times[h].push_back((to - from) / 1e6);
        }
    }
    for (int h = 0; h < count; ++h)
        printf("sdo_hop_%s%s: %.3f ms\n", hops[h].name, suffix, percentile(times[h], 0.5));
    return true;
}

void sampling(GatewayRig &rig)
{
    // n objects every 50 ms (20 polls per object and second), dealt out to
    // the 64 nodes in turn (each node serves one poll at a time); sustained
    // while the samples per second keep up.
    const QStringList objects = {"1000h.00h,unsigned32", "1001h.00h,unsigned8", "1014h.00h,unsigned32",
                                 "1017h.00h,unsigned16", "1018h.01h,unsigned32", "1018h.02h,unsigned32",
                                 "1018h.03h,unsigned32", "1018h.04h,unsigned32", "2000h.00h,unsigned8",
                                 "2001h.00h,unsigned16", "2002h.00h,unsigned32", "2003h.00h,integer8",
                                 "2004h.00h,integer16", "2005h.00h,integer32", "2009h.00h,unsigned16",
                                 "2010h.01h,unsigned32", "2010h.02h,unsigned32", "6040h.00h,unsigned16",
                                 "6041h.00h,unsigned16", "6064h.00h,integer32"};
    double sustained = 0;
    int sustainedObjects = 0;
    for (int count : {20, 40, 80, 160, 320, 640, 1280}) {   // 1280: every object on every node
        QString config;
        for (int i = 0; i < count; ++i) {
            const int node = 1 + i % 64;
            const QString object = objects.at((i / 64) % objects.size());
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
    GatewayRig::waitUntil(rig.fromGateway, [] { return false; }, 300);
    printf("sampling_sustained_at_50ms: %.0f samples/s (%d objects)\n", sustained, sustainedObjects);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ZorTest::installQuietMessageHandler();

    GatewayRig rig;
    QStringList nodes;
    for (int n = 1; n <= 64; ++n)
        nodes << "--node" << QString::number(n);
    nodes << "--quiet";
    if (!rig.start(nodes)) {
        fprintf(stderr, "bench_sdo: %s\n", qPrintable(rig.sim.errorString()));
        return 1;
    }
    const int readers = qEnvironmentVariableIsSet("BENCH_SDO_READERS") ? qEnvironmentVariableIntValue("BENCH_SDO_READERS") : 8;
    QList<ZorModule *> requesters{rig.requester()};
    QList<GatewayRecorder *> recorders{&rig.fromGateway};
    QList<GatewayRecorder *> extra;
    for (int i = 1; i < readers; ++i) {
        auto *recorder = new GatewayRecorder;
        extra << recorder;
        ZorModCanOpenGateway *g = rig.addRequester(QStringLiteral("Reader%1").arg(i + 1), recorder);
        if (!g)
            return 1;
        requesters << qobject_cast<ZorModule *>(g->parent());
        recorders << recorder;
    }

    for (const char *suffix : {"", "_1mbit_timing"}) {
        if (*suffix)
            rig.sim.command(QStringLiteral("TIMING 1000000"));
        if (!latency(rig, suffix) || !hops(rig, suffix) || !throughput(rig, requesters, recorders, suffix))
            return 1;
        rig.fromGateway.clear();
    }
    rig.sim.command(QStringLiteral("TIMING off"));
    sampling(rig);
    qDeleteAll(extra);
    return 0;
}
