// Module framework figures:
//   link_throughput        requests per second from a master module through
//                          one master->slave link, answered by the slave's
//                          state and back to the master's state
//   request_latency_*      round trip of a request from the host thread to
//                          an idle module (15 ms cycle) answered by its state
//   wake_latency_*         the same to a module with a 9999 ms cycle
//   idle_cpu_100_modules   process CPU time of 100 idle modules, in percent
//                          of one core
//   host_create_100_modules / host_delete_100_modules
//                          one module-host action on a project of 100 modules
#include "testdommodel.h"
#include "zorhostedproject.h"
#include "zormoduleregistry.h"
#include "zormoduleshost.h"
#include "zormodstates.h"
#include "zormodule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace BenchStates {

// Answers every request from its master with the same message, KS_ANSWER.
struct Echo : Macho::Link<Echo, ZorModStates::Top>
{
    MACHO_STATE(Echo)
    void cycle() override;
};

// Keeps a window of requests in flight towards its slaves and counts answers.
struct Pump : Macho::Link<Pump, ZorModStates::Top>
{
    MACHO_STATE(Pump)
    void cycle() override;
};

} // namespace BenchStates

class EchoModule : public ZorModule
{
public:
    EchoModule() { setIdentity(QStringLiteral("slave"), QStringLiteral("echo"), QString()); }
    ~EchoModule() override { stop(); }
    Macho::StateRef rootStateRef() const override { return BenchStates::Echo::makeStateRef(); }
    int statusPeriod() const override { return 0; }
};

class PumpModule : public ZorModule
{
public:
    PumpModule() { setIdentity(QStringLiteral("master"), QStringLiteral("pump"), QString()); }
    ~PumpModule() override { stop(); }
    Macho::StateRef rootStateRef() const override { return BenchStates::Pump::makeStateRef(); }
    int statusPeriod() const override { return 0; }
    std::atomic<qint64> answered{0};
    std::atomic<bool> running{false};
    int inFlight = 0;   // module thread only
};

namespace BenchStates {

void Echo::cycle()
{
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (message.isRequest()) {
            message.setMsgState(KS_ANSWER);
            sendToMaster(message, false);
        }
    }
}

void Pump::cycle()
{
    auto *m = static_cast<PumpModule *>(module());
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        if (message.isAnswer()) {
            --m->inFlight;
            ++m->answered;
        }
    }
    if (!m->running)
        return;
    const int window = 256;   // well below the slave's queue limit
    while (m->inFlight < window) {
        sendToSlaves(ZorMessage(KM_START, KS_REQUEST, m->inFlight), false);
        ++m->inFlight;
    }
}

} // namespace BenchStates

namespace {

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

void linkThroughput()
{
    PumpModule master;
    EchoModule slave;
    // A direct link: two connections, delivered in this (host) thread.
    QObject::connect(&master, &ZorModule::masterOut, &slave, &ZorModule::slaveIn);
    QObject::connect(&slave, &ZorModule::slaveOut, &master, &ZorModule::masterIn);
    master.setCycleTime(1);
    slave.setCycleTime(1);
    slave.start();
    master.start();
    master.running = true;
    spin(300);   // warm up
    const qint64 start = master.answered;
    QElapsedTimer clock;
    clock.start();
    spin(2000);
    const double seconds = clock.elapsed() / 1000.0;
    const qint64 count = master.answered - start;
    master.running = false;
    print("link_throughput", count / seconds, "msg/s");
}

void roundTrip(const char *prefix, int cycleMs, int samples)
{
    EchoModule module;
    module.setCycleTime(cycleMs);
    module.start();
    spin(50);
    std::vector<double> times;
    times.reserve(samples);
    QEventLoop loop;
    QObject::connect(&module, &ZorModule::slaveOut, &loop, [&](const ZorMessage &m) {
        if (m.isAnswer())
            loop.quit();
    });
    QElapsedTimer clock;
    for (int i = 0; i < samples; ++i) {
        // Let the module fall asleep again between requests.
        if (cycleMs > 1)
            spin(2);
        clock.start();
        module.slaveIn(ZorMessage(KM_START, KS_REQUEST, i));
        loop.exec();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    const QByteArray median = QByteArray(prefix) + "_median";
    const QByteArray p99 = QByteArray(prefix) + "_p99";
    print(median.constData(), times[times.size() / 2], "ms");
    print(p99.constData(), times[std::min(times.size() - 1, size_t(times.size() * 0.99))], "ms");
}

void idleCpu()
{
    std::vector<std::unique_ptr<EchoModule>> modules;
    for (int i = 0; i < 100; ++i) {
        modules.emplace_back(new EchoModule);
        modules.back()->start();
    }
    spin(500);
    const std::clock_t cpuStart = std::clock();
    QElapsedTimer wall;
    wall.start();
    spin(3000);
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double seconds = wall.elapsed() / 1000.0;
    print("idle_cpu_100_modules", 100.0 * cpu / seconds, "%");
    for (auto &m : modules)
        m->requestStop();
    QElapsedTimer stopClock;
    stopClock.start();
    modules.clear();
    print("stop_100_modules", stopClock.nsecsElapsed() / 1e6, "ms");
}

class BenchProject : public QObject, public ZorHostedProject
{
public:
    TestDomModel model;
    ZorModuleRegistry registry;
    ZorModuleMap modules;
    QAbstractItemModel *hostModel() const override { return const_cast<TestDomModel *>(&model); }
    const ZorModuleRegistry &hostModuleRegistry() const override { return registry; }
    ZorModuleMap &hostModuleMap() override { return modules; }
    QObject *hostAppControlReceiver() const override { return nullptr; }
};

void hostActions()
{
    BenchProject project;
    project.registry.add("echo", [](QObject *parent) -> ZorModule * {
        Q_UNUSED(parent);
        return new EchoModule;
    });
    QList<QStringList> items;
    for (int i = 0; i < 100; ++i)
        items << QStringList{"echo", QStringLiteral("E%1").arg(i), ""};
    project.model.setXml(TestDomModel::projectXml(items));
    ZorModulesHost host(&project, &project);
    host.start();
    QElapsedTimer clock;
    clock.start();
    host.performAction(ZorModulesHost::CreateModules);
    print("host_create_100_modules", clock.nsecsElapsed() / 1e6, "ms");
    clock.start();
    host.performAction(ZorModulesHost::DeleteModules);
    print("host_delete_100_modules", clock.nsecsElapsed() / 1e6, "ms");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    linkThroughput();
    roundTrip("request_latency", 15, 1000);
    roundTrip("wake_latency_9999ms_cycle", 9999, 300);
    idleCpu();
    hostActions();
    return 0;
}
