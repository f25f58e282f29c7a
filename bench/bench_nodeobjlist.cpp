// Object lists through the whole chain: node module -> CANopen gateway ->
// CAN interface -> TCP -> simulated gateway -> a node of the independent
// stack. How many objects per second one KM_OBJLIST_READ of 200 objects
// reads: unthrottled, and with the simulated bus taking each frame's exact
// time at 1 Mbit/s, against the bound that bus sets (a read is two frames,
// request and answer; their bit lengths, stuffing included, are summed from
// the frames the run put on the bus).
#include "noderig.h"
#include "zormodnode.h"
#include "zortestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char *const Objects[] = {
    "1000h,0h,unsigned32", "1001h,0h,unsigned8",  "1014h,0h,unsigned32", "1017h,0h,unsigned16",
    "1018h,1h,unsigned32", "1018h,2h,unsigned32", "1018h,3h,unsigned32", "1018h,4h,unsigned32",
    "2000h,0h,unsigned8",  "2001h,0h,unsigned16", "2002h,0h,unsigned32", "2003h,0h,integer8",
    "2004h,0h,integer16",  "2005h,0h,integer32",  "2009h,0h,unsigned16", "2010h,1h,unsigned32",
    "2010h,2h,unsigned32", "6040h,0h,unsigned16", "6041h,0h,unsigned16", "6060h,0h,integer8",
    "6061h,0h,integer8",   "6064h,0h,integer32",  "60ffh,0h,integer32",
};

QString readList(int count)
{
    QString list;
    const int kinds = int(sizeof(Objects) / sizeof(Objects[0]));
    for (int i = 0; i < count; ++i)
        list += QStringLiteral("r,%1 # object %2\n").arg(QLatin1String(Objects[i % kinds])).arg(i);
    return list;
}

// Bit length of a frame on the bus, as the simulated bus counts it: start of
// frame to CRC with stuff bits, then 13 bits of delimiters, end of frame and
// intermission. The frame is a line such as "t5818430010009201020".
int frameBits(const QString &line)
{
    const bool ext = line.startsWith(QLatin1Char('T')) || line.startsWith(QLatin1Char('R'));
    const bool rtr = line.startsWith(QLatin1Char('r')) || line.startsWith(QLatin1Char('R'));
    const int idDigits = ext ? 8 : 3;
    const quint32 id = line.mid(1, idDigits).toUInt(nullptr, 16);
    const int dlc = line.mid(1 + idDigits, 1).toInt();
    std::vector<int> bits = {0};
    auto push = [&bits](quint32 value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back((value >> i) & 1);
    };
    if (ext) {
        push(id >> 18, 11);
        push(1, 1);
        push(1, 1);
        push(id & 0x3ffff, 18);
        push(rtr ? 1 : 0, 1);
        push(0, 2);
    } else {
        push(id, 11);
        push(rtr ? 1 : 0, 1);
        push(0, 2);
    }
    push(dlc, 4);
    if (!rtr) {
        for (int i = 0; i < dlc; ++i)
            push(line.mid(2 + idDigits + 2 * i, 2).toUInt(nullptr, 16), 8);
    }
    quint32 crc = 0;
    for (int bit : bits) {
        const int next = ((crc >> 14) & 1) ^ bit;
        crc = (crc << 1) & 0x7fff;
        if (next)
            crc ^= 0x4599;
    }
    push(crc, 15);
    int stuffed = 0, run = 0, last = -1;
    for (int bit : bits) {
        if (bit == last) {
            ++run;
        } else {
            last = bit;
            run = 1;
        }
        if (run == 5) {
            ++stuffed;
            last = bit ^ 1;
            run = 1;
        }
    }
    return int(bits.size()) + stuffed + 13;
}

// Objects per second of the best of a few runs of one list, and the bits the
// last run put on the bus.
double objectsPerSecond(NodeRig &rig, const QString &list, int objects, qint64 &busBits)
{
    double best = 0;
    for (int run = 0; run < 5; ++run) {
        const int mark = rig.sim.mark();
        QElapsedTimer clock;
        clock.start();
        const ZorMessage answer = rig.request(ZorMessage(KM_OBJLIST_READ, KS_REQUEST, list), 120000);
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (answer.msgState() != KS_ANSWER) {
            fprintf(stderr, "bench_nodeobjlist: the list failed: %s\n", qPrintable(answer.toString()));
            return 0;
        }
        best = std::max(best, objects / seconds);
        busBits = 0;
        const QStringList lines = rig.sim.lines();
        for (int i = mark; i < lines.size(); ++i) {
            if (lines.at(i).startsWith(QLatin1String("BUS ")))
                busBits += frameBits(lines.at(i).section(QLatin1Char(' '), 2, 2));
        }
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ZorTest::installQuietMessageHandler();

    const int objects = 200;
    const QString list = readList(objects);
    const int bitRate = 1000000;

    NodeRig rig;
    auto *node = new ZorModNode;
    if (!rig.start({"--node", "1"}, node, "nodeconfig", "<NodeId>1</NodeId>")) {
        fprintf(stderr, "bench_nodeobjlist: %s\n", qPrintable(rig.sim.errorString()));
        return 1;
    }
    // Heartbeats and the like off the bus count: only what the lists send.
    if (rig.request(ZorMessage(KM_START, KS_REQUEST)).msgState() != KS_ANSWER) {
        fprintf(stderr, "bench_nodeobjlist: the node did not start\n");
        return 1;
    }
    rig.request(ZorMessage(KM_OBJLIST_READ, KS_REQUEST, readList(20)));

    qint64 bits = 0;
    const double unthrottled = objectsPerSecond(rig, list, objects, bits);
    if (unthrottled <= 0)
        return 1;
    printf("node_objlist_read_200_unthrottled: %.0f objects/s\n", unthrottled);

    if (!rig.sim.command(QStringLiteral("TIMING %1").arg(bitRate))) {
        fprintf(stderr, "bench_nodeobjlist: no bus timing\n");
        return 1;
    }
    const double timed = objectsPerSecond(rig, list, objects, bits);
    if (timed <= 0)
        return 1;
    // The bus carries the run's frames in bits / rate seconds at best.
    const double bound = objects / (double(bits) / bitRate);
    printf("node_objlist_read_200_at_1mbit: %.0f objects/s\n", timed);
    printf("node_objlist_read_200_at_1mbit_bus_bound: %.0f objects/s\n", bound);
    printf("node_objlist_read_200_at_1mbit_of_bound: %.0f %%\n", 100.0 * timed / bound);
    return 0;
}
