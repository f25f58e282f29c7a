// How soon a stop reaches a running drive: a drive module with its CANopen
// gateway and CAN interface, and a CiA 402 drive on the simulated bus taking
// each frame's time at 1 Mbit/s. The drive runs in velocity mode; a
// KM_DRIVE_STOP is handed to the module, half of the time right behind a
// status poll (whose exchange the stop's cancel must end without holding up
// the stop's own), and the simulated bus's own log, stamped on the monotonic
// clock, tells when the controlword write 6040h = 7 (switch on, the drive's
// power stage off) was carried: the moment its last bit was on the wire.
// Between the two lies one SDO round trip (6060h = 0) and the chain's work.
//
// Figures, median and worst of 50 stops in ms:
// - drive_stop_to_switch_on: request to 6040h = 7 on the wire;
// - ..._unpaused: the same, without the stops during which a thread that
//   only sleeps woke more than 1 ms late (the machine paused: a virtual
//   machine's processor taken away holds up every thread and the simulated
//   gateway alike); the count of such stops is printed too;
// - drive_stop_chain_own_share: the time the chain itself took (request to
//   its write of the mode frame, plus the node's answer read to its write
//   of 6040h = 7), and drive_stop_outside_chain: the rest (wire, node,
//   the simulated gateway, the answer of a status poll already on the bus);
// - the hops: request to the 6060h = 0 write on the wire, the node's answer
//   to it, that answer to 6040h = 7, and the way down through the gateway
//   and the CAN interface.
// ZOR_BENCH_VERBOSE=1 prints each stop; ZOR_BENCH_TIMELINE=<ms> prints the
// timeline of every stop slower than that (or whose chain share is more
// than half of it); ZOR_BENCH_SIMLOG=<file> keeps the gateway's output.
#include "simgateway.h"
#include "testdommodel.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"
#include "zormodposdrive.h"
#include "zorhoptrace.h"
#include "zortestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

const int Stops = 50;
// The drive's controlword write 6040h = 7 on node 2, the mode write
// 6060h = 0 before it, and the drive's answer to that, as the bus log
// shows them.
const QString SwitchOnFrame = QStringLiteral("^BUS c\\d+ t60282b40600007000000 @(\\d+)");
const QString ModeFrame = QStringLiteral("^BUS c\\d+ t60282f60600000000000 @(\\d+)");
const QString ModeAnswerFrame = QStringLiteral("^BUS n2 t58286060600000000000 @(\\d+)");

struct Chain
{
    static constexpr const char *PauseNote = "machine paused, us";

    SimGateway sim;
    TestDomModel model;
    std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> can;
    std::unique_ptr<ZorModPosDrive, ZorModuleDeleter> drive;
    // Status polls the drive sent and the ids of the requests it answered,
    // noted as the host thread routes them, so that the waits below look
    // at nothing else: the host thread also routes the drive's messages to
    // its gateway, and it must not be kept busy by the benchmark itself.
    int polls = 0;
    QHash<int, int> answered;   // request id -> state of its first answer

    ~Chain()
    {
        drive.reset();   // before the interface its gateway works through
        can.reset();
    }

    // With ZOR_BENCH_TIMELINE=<ms>: every stop slower than that prints its
    // timeline, the chain's own notes merged with the simulated gateway's
    // time-stamped log (what it read from us, carried on the bus and wrote
    // back to us).
    double timelineMs = qEnvironmentVariableIsSet("ZOR_BENCH_TIMELINE")
                            ? qEnvironmentVariable("ZOR_BENCH_TIMELINE").toDouble()
                            : -1;

    bool start()
    {
        // The simulated drive stands in for a device that answers at once:
        // its program's garbage collections (pauses of up to 10 ms here)
        // are kept out of the figures by a young generation large enough
        // for the whole run and no heap shrinking on the way.
        sim.setNodeOptions({QStringLiteral("--min-semi-space-size=64"), QStringLiteral("--max-semi-space-size=64"),
                            QStringLiteral("--no-memory-reducer")});
        if (!sim.start({QStringLiteral("--node"), QStringLiteral("2 drive=1"), QStringLiteral("--timing"),
                        QStringLiteral("1m"), QStringLiteral("--quiet"), QStringLiteral("--stamp")})
            || !sim.command(timelineMs >= 0 ? QStringLiteral("LOG all on") : QStringLiteral("LOG bus on"))) {
            fprintf(stderr, "bench_drivestop: %s\n", qPrintable(sim.errorString()));
            return false;
        }
        model.setXml(TestDomModel::projectXml(
            {{QStringLiteral("canusb"), QStringLiteral("CAN1")},
             {QStringLiteral("drive_canopen"), QStringLiteral("Drive2"), QString(),
              QStringLiteral("<properties><NodeId>2</NodeId></properties>")}}));
        can.reset(new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb")));
        can->setProperty(QStringLiteral("Port"), sim.address(), false);
        can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
        can->start();
        drive.reset(new ZorModPosDrive);
        if (!drive->setupZorModule(model.moduleIndex(QStringLiteral("Drive2")), &model))
            return false;
        QObject::connect(
            drive.get(), &ZorModule::masterOut, drive.get(),
            [this](const ZorMessage &m) {
                polls += m.msgType() == KM_INTERVIEW && m.data().toString().contains(QLatin1String("6041h"));
            },
            Qt::DirectConnection);
        QObject::connect(
            drive.get(), &ZorModule::slaveOut, drive.get(),
            [this](const ZorMessage &m) {
                if (!m.isRequest() && !answered.contains(m.msgId()))
                    answered.insert(m.msgId(), m.msgState());
            },
            Qt::DirectConnection);
        drive->start();
        return drive->addSlave(can.get());
    }

    // Hands the request to the module as its master does and waits for its
    // answer; the answer's state, or -1.
    int request(int type, const QVariant &data = QVariant(), int timeoutMs = 20000)
    {
        const ZorMessage message(type, KS_REQUEST, data);
        drive->slaveIn(message);
        const int id = message.msgId();
        waitFor([this, id] { return answered.contains(id); }, timeoutMs);
        return answered.value(id, -1);
    }

    // Runs the host thread's events, sleeping between them, until condition
    // holds or timeoutMs passed.
    static void waitFor(const std::function<bool()> &condition, int timeoutMs)
    {
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.start(timeoutMs);
        while (!condition() && deadline.isActive())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    struct Stop
    {
        qint64 total = -1;    // request to 6040h = 7 on the wire, ns; -1: failed
        qint64 down = -1;     // request to 6060h = 0 on the wire
        qint64 node = -1;     // 6060h = 0 to the node's answer
        qint64 up = -1;       // the answer to 6040h = 7
        // The way down, from the hop trace: request to the gateway taking
        // the stop's line, to its exchange handed on, to the CAN interface
        // taking it, to its frame written to the socket.
        qint64 toGateway = -1, gatewayBuilds = -1, toCanInterface = -1, canWrites = -1;
        // The chain's own share, from its notes: request to its write of
        // 6060h = 0 (less the wait for the answer of a status poll already
        // on the bus, which the node's SDO server owes first), plus its read
        // of the node's answer to its write of 6040h = 7. The rest is the
        // wire, the node and the simulated gateway's own pauses.
        qint64 chain = -1;
        bool machinePaused = false;   // the machine paused while it ran
    };

    // From the notes of one stop: the chain's own share, or -1.
    static qint64 chainShare(qint64 t0)
    {
        using T = ZorHopTrace;
        const qint64 modeWrite = T::frameValue(0x602, 0x2f, 0x6060), modeAnswer = T::frameValue(0x582, 0x60, 0x6060),
                     switchOn = T::frameValue(0x602, 0x2b, 0x6040), pollAnswer = T::frameValue(0x582, 0x4b, 0x6041);
        // When the frame queued with this value was written: the first
        // "written" note after it.
        const auto written = [](int from, qint64 value, int *at) -> qint64 {
            bool queued = false;
            for (int i = from; i < ZorHopTrace::noteCount(); ++i) {
                const ZorHopTrace::Note note = ZorHopTrace::noteAt(i);
                if (!queued && qstrcmp(note.tag, ZorHopTrace::FrameQueued) == 0 && note.value == value)
                    queued = true;
                else if (queued && qstrcmp(note.tag, ZorHopTrace::pointName(ZorHopTrace::CanFrameWritten)) == 0) {
                    *at = i;
                    return note.ns;
                }
            }
            return -1;
        };
        const auto read = [](int from, qint64 value, int *at) -> qint64 {
            for (int i = from; i < ZorHopTrace::noteCount(); ++i) {
                const ZorHopTrace::Note note = ZorHopTrace::noteAt(i);
                if (qstrcmp(note.tag, ZorHopTrace::FrameRead) == 0 && note.value == value) {
                    *at = i;
                    return note.ns;
                }
            }
            return -1;
        };
        int at = 0, modeAt = 0;
        const qint64 modeWritten = written(0, modeWrite, &modeAt);
        if (modeWritten < 0)
            return -1;
        qint64 start = t0;
        const qint64 polled = read(0, pollAnswer, &at);
        if (polled > t0 && polled < modeWritten)
            start = polled;
        const qint64 answered = read(modeAt, modeAnswer, &at);
        const qint64 switched = answered < 0 ? -1 : written(at, switchOn, &at);
        if (switched < 0)
            return -1;
        return (modeWritten - start) + (switched - answered);
    }

    // The stamp of the first bus log line after mark that matches pattern,
    // waiting for it; -1 when none came.
    qint64 busStamp(int mark, const QString &pattern)
    {
        sim.setCursor(mark);
        const QRegularExpressionMatch match = sim.waitForLine(pattern, 2000);
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }

    // One stop and its hops.
    Stop stopOnce(bool behindPoll)
    {
        if (request(KM_DRIVE_START) != KS_ANSWER || request(KM_SET_PROFILE_MODE, 3) != KS_ANSWER)
            return {};
        // Running for a while, and then right behind a status poll or at
        // some moment between two.
        const int before = polls;
        QElapsedTimer clock;
        clock.start();
        waitFor([this, before] { return polls >= before + 2; }, 5000);
        if (!behindPoll)
            QTest::qWait(int(clock.elapsed() % 200));
        const int simMark = sim.mark();
        const ZorMessage stop(KM_DRIVE_STOP, KS_REQUEST);
        ZorHopTrace::arm();
        const qint64 t0 = ZorHopTrace::now();
        drive->slaveIn(stop);
        // The stop is over once the module answered it.
        const int id = stop.msgId();
        waitFor([this, id] { return answered.contains(id); }, 10000);
        ZorHopTrace::disarm();
        Stop result;
        const qint64 t1 = busStamp(simMark, SwitchOnFrame);
        if (t1 < t0)
            return result;
        result.total = t1 - t0;
        result.chain = chainShare(t0);
        for (int i = 0; i < ZorHopTrace::noteCount(); ++i)
            result.machinePaused |= ZorHopTrace::noteAt(i).tag == PauseNote;
        // Slow, or slow in the chain's own share.
        if (timelineMs >= 0 && (result.total / 1e6 > timelineMs || result.chain / 1e6 > timelineMs / 2))
            printTimeline(t0, t1, simMark);
        const qint64 mode = busStamp(simMark, ModeFrame), modeAnswer = busStamp(simMark, ModeAnswerFrame);
        if (mode > t0 && modeAnswer > mode && t1 > modeAnswer) {
            result.down = mode - t0;
            result.node = modeAnswer - mode;
            result.up = t1 - modeAnswer;
        }
        const qint64 taken = ZorHopTrace::at(ZorHopTrace::GatewayLineTaken),
                     sent = ZorHopTrace::at(ZorHopTrace::GatewayExchangeSent),
                     canTaken = ZorHopTrace::at(ZorHopTrace::CanLineTaken),
                     written = ZorHopTrace::at(ZorHopTrace::CanFrameWritten);
        if (taken > t0 && sent >= taken && canTaken >= sent && written >= canTaken) {
            result.toGateway = taken - t0;
            result.gatewayBuilds = sent - taken;
            result.toCanInterface = canTaken - sent;
            result.canWrites = written - canTaken;
        }
        return result;
    }

    void printTimeline(qint64 t0, qint64 t1, int simMark)
    {
        std::vector<std::pair<qint64, QString>> events;
        for (int i = 0; i < ZorHopTrace::noteCount(); ++i) {
            const ZorHopTrace::Note note = ZorHopTrace::noteAt(i);
            QString text = QString::fromLatin1(note.tag);
            if (note.value && note.tag == PauseNote)
                text += QStringLiteral(" %1").arg(note.value);
            else if (note.value)   // a frame: COB-ID, command, index
                text += QStringLiteral(" %1 %2 %3h")
                            .arg(note.value >> 24, 3, 16, QLatin1Char('0'))
                            .arg((note.value >> 16) & 0xff, 2, 16, QLatin1Char('0'))
                            .arg(note.value & 0xffff, 4, 16, QLatin1Char('0'));
            events.emplace_back(note.ns, text);
        }
        const QStringList lines = sim.lines();
        for (int i = simMark; i < lines.size(); ++i) {
            const int at = lines.at(i).lastIndexOf(QLatin1String(" @"));
            if (at < 0)
                continue;
            const qint64 ns = lines.at(i).mid(at + 2).toLongLong();
            if (ns >= t0 - 2000000 && ns <= t1 + 1000000)
                events.emplace_back(ns, QStringLiteral("sim: ") + lines.at(i).left(at));
        }
        std::stable_sort(events.begin(), events.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        fprintf(stderr, "  timeline (ms from the request; %.2f ms: 6040h = 7 on the bus)\n",
                (t1 - t0) / 1e6);
        QString last;
        int repeats = 0;
        for (const auto &event : events) {
            // Runs of idle cycles shown once with their count.
            if (event.second == last && event.second.startsWith(QLatin1String("can: "))) {
                ++repeats;
                continue;
            }
            if (repeats)
                fprintf(stderr, "           (x%d)\n", repeats + 1);
            repeats = 0;
            last = event.second;
            fprintf(stderr, "  %8.3f  %s\n", (event.first - t0) / 1e6, qPrintable(event.second));
        }
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ZorTest::installQuietMessageHandler();
    ZorMessage::registerMetaType();
    ZorModCanOpenGateway::registerCreator();
    Chain chain;
    if (!chain.start())
        return 1;
    // A thread of its own that sleeps 0.2 ms at a time and notes every
    // wake-up more than 1 ms late: a pause of the machine (a virtual
    // machine's processor taken away, say), which holds up every thread and
    // the simulated gateway alike, told from one of the chain's own.
    // Ended on every way out of main, an early failure's too.
    struct PauseDetector
    {
        std::atomic<bool> running{true};
        std::thread thread{[this] {
            qint64 last = ZorHopTrace::now();
            while (running) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                const qint64 now = ZorHopTrace::now();
                if (now - last > 1200000)
                    ZorHopTrace::note(Chain::PauseNote, (now - last) / 1000);
                last = now;
            }
        }};
        ~PauseDetector()
        {
            running = false;
            thread.join();
        }
    } detector;
    // One stop first, not counted: the code paths of a stop run for the
    // first time (about 3 ms more here).
    if (chain.stopOnce(false).total < 0) {
        fprintf(stderr, "bench_drivestop: the first stop did not reach the drive\n");
        return 1;
    }
    std::vector<double> chains, outside, unpaused;
    int paused = 0;
    std::vector<double> totals, downs, nodes, ups, toGateway, gatewayBuilds, toCanInterface, canWrites;
    for (int i = 0; i < Stops; ++i) {
        const Chain::Stop stop = chain.stopOnce(i % 2 == 0);
        if (stop.total < 0) {
            fprintf(stderr, "bench_drivestop: stop %d did not reach the drive\n", i + 1);
            return 1;
        }
        totals.push_back(stop.total / 1e6);
        if (stop.machinePaused)
            ++paused;
        else
            unpaused.push_back(stop.total / 1e6);
        if (stop.chain >= 0) {
            chains.push_back(stop.chain / 1e6);
            outside.push_back((stop.total - stop.chain) / 1e6);
        }
        if (stop.down >= 0) {
            downs.push_back(stop.down / 1e6);
            nodes.push_back(stop.node / 1e6);
            ups.push_back(stop.up / 1e6);
        }
        if (stop.toGateway >= 0) {
            toGateway.push_back(stop.toGateway / 1e6);
            gatewayBuilds.push_back(stop.gatewayBuilds / 1e6);
            toCanInterface.push_back(stop.toCanInterface / 1e6);
            canWrites.push_back(stop.canWrites / 1e6);
        }
        if (qEnvironmentVariableIsSet("ZOR_BENCH_VERBOSE"))
            fprintf(stderr,
                    "stop %d%s: %.2f ms (down %.2f, node %.2f, up %.2f; to gateway %.2f, builds %.2f, "
                    "to CAN interface %.2f, writes %.2f; chain %.2f)%s\n",
                    i + 1, i % 2 == 0 ? " behind a poll" : "", stop.total / 1e6, stop.down / 1e6,
                    stop.node / 1e6, stop.up / 1e6, stop.toGateway / 1e6, stop.gatewayBuilds / 1e6,
                    stop.toCanInterface / 1e6, stop.canWrites / 1e6, stop.chain / 1e6,
                    stop.machinePaused ? " machine paused" : "");
    }
    const auto print = [](const char *name, std::vector<double> values) {
        if (values.empty())
            return;
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
        printf("%s_median_1mbit: %.2f ms\n", name, median);
        printf("%s_worst_1mbit: %.2f ms\n", name, values.back());
    };
    // ZOR_BENCH_SIMLOG=<file>: the simulated gateway's whole output, for a
    // diagnosis of its own pauses (with ZOR_SIM_NODE_FLAGS=--trace-gc, say).
    if (qEnvironmentVariableIsSet("ZOR_BENCH_SIMLOG")) {
        QFile file(qEnvironmentVariable("ZOR_BENCH_SIMLOG"));
        if (file.open(QIODevice::WriteOnly))
            file.write(chain.sim.lines().join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    print("drive_stop_to_switch_on", totals);
    // The same without the stops during which the machine paused.
    print("drive_stop_to_switch_on_unpaused", unpaused);
    printf("drive_stop_machine_paused_stops_1mbit: %d stops\n", paused);
    print("drive_stop_chain_own_share", chains);
    print("drive_stop_outside_chain", outside);
    print("drive_stop_hop_request_to_mode_write", downs);
    print("drive_stop_hop_request_to_gateway", toGateway);
    print("drive_stop_hop_gateway_builds_exchange", gatewayBuilds);
    print("drive_stop_hop_gateway_to_can_interface", toCanInterface);
    print("drive_stop_hop_can_interface_writes", canWrites);
    print("drive_stop_hop_mode_write_to_node_answer", nodes);
    print("drive_stop_hop_node_answer_to_switch_on", ups);
    return 0;
}
