// How soon a stop reaches a running drive: a drive module with its CANopen
// gateway and CAN interface, and a CiA 402 drive on the simulated bus taking
// each frame's time at 1 Mbit/s. The drive runs in velocity mode; a
// KM_DRIVE_STOP is handed to the module, half of the time right behind a
// status poll (whose exchange the stop's cancel must end without holding up
// the stop's own), and a listener on the bus notes when the controlword
// write 6040h = 7 (switch on, the drive's power stage off) is on the wire.
// Between the two lies one SDO round trip (6060h = 0) and the chain's work.
// Figures: median and worst of 50 stops, in ms, and the same for the hops
// between: request to the 6060h = 0 write on the wire (the chain down to the
// bus), the node's answer to it, and that answer to 6040h = 7 (the chain up
// and down again).
#include "gatewayrig.h"
#include "simgateway.h"
#include "testdommodel.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"
#include "zormodposdrive.h"
#include "zorhoptrace.h"
#include "zortestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const int Stops = 50;
// The drive's controlword write 6040h = 7 on node 2, the mode write
// 6060h = 0 before it, and the drive's answer to that.
const QByteArray SwitchOnFrame("t60282b40600007000000");
const QByteArray ModeFrame("t60282f60600000000000");
const QByteArray ModeAnswerFrame("t58286060600000000000");

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A second client of the simulated gateway that sees every frame as it
// leaves the bus, in a thread of its own, and notes when the last
// switch-on frame came (monotonic ns).
class BusListener : public QThread
{
public:
    explicit BusListener(quint16 port)
        : m_port(port)
    {
    }
    ~BusListener() override
    {
        m_stop = true;
        wait();
    }
    std::atomic<qint64> lastSwitchOn{0};
    std::atomic<qint64> lastMode{0};
    std::atomic<qint64> lastModeAnswer{0};
    std::atomic<bool> ready{false};

protected:
    void run() override
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
        if (!socket.waitForConnected(5000))
            return;
        socket.write("S8\rO\r");
        socket.flush();
        ready = true;
        QByteArray pending;
        while (!m_stop) {
            if (!socket.waitForReadyRead(50))
                continue;
            const qint64 t = nowNs();
            pending += socket.readAll();
            int end;
            while ((end = pending.indexOf('\r')) >= 0) {
                const QByteArray line = pending.left(end);
                pending.remove(0, end + 1);
                if (line == SwitchOnFrame)
                    lastSwitchOn = t;
                else if (line == ModeFrame)
                    lastMode = t;
                else if (line == ModeAnswerFrame)
                    lastModeAnswer = t;
            }
        }
    }

private:
    quint16 m_port;
    std::atomic<bool> m_stop{false};
};

struct Chain
{
    SimGateway sim;
    TestDomModel model;
    std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> can;
    std::unique_ptr<ZorModPosDrive, ZorModuleDeleter> drive;
    GatewayRecorder down;   // what the drive sends to its gateway
    GatewayRecorder up;     // what the drive answers and reports

    ~Chain()
    {
        drive.reset();   // before the interface its gateway works through
        can.reset();
    }

    bool start()
    {
        if (!sim.start({QStringLiteral("--node"), QStringLiteral("2 drive=1"), QStringLiteral("--timing"),
                        QStringLiteral("1m"), QStringLiteral("--quiet")})) {
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
        QObject::connect(drive.get(), &ZorModule::masterOut, &down, &GatewayRecorder::record, Qt::DirectConnection);
        QObject::connect(drive.get(), &ZorModule::slaveOut, &up, &GatewayRecorder::record, Qt::DirectConnection);
        drive->start();
        return drive->addSlave(can.get());
    }

    // Hands the request to the module as its master does and waits for its
    // answer; the answer's state, or -1.
    int request(int type, const QVariant &data = QVariant(), int timeoutMs = 20000)
    {
        const ZorMessage message(type, KS_REQUEST, data);
        drive->slaveIn(message);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            for (const ZorMessage &m : up.messages()) {
                if (m == message && !m.isRequest())
                    return m.msgState();
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return -1;
    }

    int statusPolls() const
    {
        int count = 0;
        for (const ZorMessage &m : down.messages())
            count += m.msgType() == KM_INTERVIEW && m.data().toString().contains(QLatin1String("6041h"));
        return count;
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
    };

    // One stop and its hops.
    Stop stopOnce(BusListener &listener, bool behindPoll)
    {
        if (request(KM_DRIVE_START) != KS_ANSWER || request(KM_SET_PROFILE_MODE, 3) != KS_ANSWER)
            return {};
        // Running for a while, and then right behind a status poll or at
        // some moment between two.
        const int polls = statusPolls();
        QElapsedTimer clock;
        clock.start();
        while (statusPolls() < polls + 2 && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (!behindPoll)
            QTest::qWait(int(clock.elapsed() % 200));
        const qint64 before = listener.lastSwitchOn;
        const ZorMessage stop(KM_DRIVE_STOP, KS_REQUEST);
        ZorHopTrace::arm();
        const qint64 t0 = nowNs();
        drive->slaveIn(stop);
        clock.restart();
        while (listener.lastSwitchOn == before && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const qint64 t1 = listener.lastSwitchOn;
        ZorHopTrace::disarm();
        // The stop is over once the module answered it.
        while (clock.elapsed() < 10000) {
            bool answered = false;
            for (const ZorMessage &m : up.messages())
                answered |= m == stop && !m.isRequest();
            if (answered)
                break;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        Stop result;
        if (t1 == before)
            return result;
        result.total = t1 - t0;
        const qint64 mode = listener.lastMode, modeAnswer = listener.lastModeAnswer;
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
    BusListener listener(chain.sim.port());
    listener.start();
    QElapsedTimer clock;
    clock.start();
    while (!listener.ready && clock.elapsed() < 5000)
        QTest::qWait(10);
    std::vector<double> totals, downs, nodes, ups, toGateway, gatewayBuilds, toCanInterface, canWrites;
    for (int i = 0; i < Stops; ++i) {
        const Chain::Stop stop = chain.stopOnce(listener, i % 2 == 0);
        if (stop.total < 0) {
            fprintf(stderr, "bench_drivestop: stop %d did not reach the drive\n", i + 1);
            return 1;
        }
        totals.push_back(stop.total / 1e6);
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
                    "to CAN interface %.2f, writes %.2f)\n",
                    i + 1, i % 2 == 0 ? " behind a poll" : "", stop.total / 1e6, stop.down / 1e6,
                    stop.node / 1e6, stop.up / 1e6, stop.toGateway / 1e6, stop.gatewayBuilds / 1e6,
                    stop.toCanInterface / 1e6, stop.canWrites / 1e6);
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
    print("drive_stop_to_switch_on", totals);
    print("drive_stop_hop_request_to_mode_write", downs);
    print("drive_stop_hop_request_to_gateway", toGateway);
    print("drive_stop_hop_gateway_builds_exchange", gatewayBuilds);
    print("drive_stop_hop_gateway_to_can_interface", toCanInterface);
    print("drive_stop_hop_can_interface_writes", canWrites);
    print("drive_stop_hop_mode_write_to_node_answer", nodes);
    print("drive_stop_hop_node_answer_to_switch_on", ups);
    return 0;
}
