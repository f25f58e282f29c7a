// Status polls of running drives: ten drive modules, each with its own
// CANopen gateway, on one CAN interface and one simulated bus with ten CiA
// 402 drives. Each drive polls its statusword no sooner than 400 ms after
// the last answer (every fifth poll with the actual values), so ten drives
// can at best make about 25 polls per second together; the figures show how
// close the whole chain comes while it sustains that for ten seconds,
// unthrottled and with the bus taking each frame's time at 500 kbit/s.
#include "gatewayrig.h"
#include "simgateway.h"
#include "testdommodel.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"
#include "zormodposdrive.h"
#include "zortestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const int Drives = 10;
const int WindowMs = 10000;

bool isStatusPoll(const ZorMessage &m)
{
    return m.msgType() == KM_INTERVIEW && m.isRequest() && m.data().toString().contains(QLatin1String("6041h"));
}

struct Chain
{
    SimGateway sim;
    TestDomModel model;
    std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> can;
    std::vector<std::unique_ptr<ZorModPosDrive, ZorModuleDeleter>> drives;
    std::vector<std::unique_ptr<GatewayRecorder>> down;   // what each drive sends to its gateway
    std::vector<std::unique_ptr<GatewayRecorder>> up;     // what each drive reports

    ~Chain()
    {
        drives.clear();   // before the interface their gateways work through
        can.reset();
    }

    bool start(const QStringList &timing)
    {
        QStringList arguments = timing;
        QList<QStringList> modules = {{QStringLiteral("canusb"), QStringLiteral("CAN1")}};
        for (int i = 1; i <= Drives; ++i) {
            arguments << QStringLiteral("--node") << QStringLiteral("%1 drive=1").arg(i);
            modules.append({QStringLiteral("drive_canopen"), QStringLiteral("Drive%1").arg(i), QString(),
                            QStringLiteral("<properties><NodeId>%1</NodeId></properties>").arg(i)});
        }
        arguments << QStringLiteral("--quiet");
        if (!sim.start(arguments)) {
            fprintf(stderr, "bench_drivepolls: %s\n", qPrintable(sim.errorString()));
            return false;
        }
        model.setXml(TestDomModel::projectXml(modules));
        can.reset(new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb")));
        can->setProperty(QStringLiteral("Port"), sim.address(), false);
        can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("500K"), false);
        can->start();
        for (int i = 1; i <= Drives; ++i) {
            auto *drive = new ZorModPosDrive;
            drives.emplace_back(drive);
            down.emplace_back(new GatewayRecorder);
            up.emplace_back(new GatewayRecorder);
            if (!drive->setupZorModule(model.moduleIndex(QStringLiteral("Drive%1").arg(i)), &model))
                return false;
            QObject::connect(drive, &ZorModule::masterOut, down.back().get(), &GatewayRecorder::record,
                             Qt::DirectConnection);
            QObject::connect(drive, &ZorModule::slaveOut, up.back().get(), &GatewayRecorder::record,
                             Qt::DirectConnection);
            drive->start();
            if (!drive->addSlave(can.get()))
                return false;
        }
        return true;
    }

    bool startDrives()
    {
        std::vector<ZorMessage> starts;
        for (auto &drive : drives) {
            starts.emplace_back(KM_DRIVE_START, KS_REQUEST);
            QMetaObject::invokeMethod(drive.get(), "slaveIn", Qt::QueuedConnection,
                                      Q_ARG(ZorMessage, starts.back()));
        }
        QElapsedTimer clock;
        clock.start();
        for (size_t i = 0; i < drives.size(); ++i) {
            for (;;) {
                bool answered = false;
                for (const ZorMessage &m : up[i]->messages()) {
                    if (m == starts[i] && !m.isRequest()) {
                        if (m.msgState() != KS_ANSWER) {
                            fprintf(stderr, "bench_drivepolls: drive %d did not start\n", int(i + 1));
                            return false;
                        }
                        answered = true;
                    }
                }
                if (answered)
                    break;
                if (clock.elapsed() > 60000) {
                    fprintf(stderr, "bench_drivepolls: drive %d did not answer its start\n", int(i + 1));
                    return false;
                }
                QTest::qWait(20);
            }
        }
        return true;
    }

    int polls() const
    {
        int count = 0;
        for (const auto &recorder : down) {
            for (const ZorMessage &m : recorder->messages())
                count += isStatusPoll(m) ? 1 : 0;
        }
        return count;
    }

    // Status polls per second of all drives over the window, after a
    // second to settle.
    double pollsPerSecond()
    {
        QTest::qWait(1000);
        const int before = polls();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(WindowMs);
        return (polls() - before) / (clock.nsecsElapsed() / 1e9);
    }
};

bool run(const char *name, const QStringList &timing)
{
    Chain chain;
    if (!chain.start(timing) || !chain.startDrives())
        return false;
    const double rate = chain.pollsPerSecond();
    printf("drive_status_polls_%d_drives%s: %.1f polls/s\n", Drives, name, rate);
    printf("drive_status_polls_per_drive%s: %.2f polls/s\n", name, rate / Drives);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ZorTest::installQuietMessageHandler();
    ZorMessage::registerMetaType();
    ZorModCanOpenGateway::registerCreator();
    if (!run("", {}))
        return 1;
    if (!run("_at_500kbit", {QStringLiteral("--timing"), QStringLiteral("500k")}))
        return 1;
    return 0;
}
