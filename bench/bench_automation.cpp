// Automation script figures:
//   automation_sendmsg_roundtrips  ZorSendMsg calls per second that a script
//                                  makes to another module, each waiting for
//                                  the answer ("w"): script -> automation
//                                  module -> the other module's thread ->
//                                  back. The wait sleeps until the answer
//                                  wakes it.
//   automation_script_start        from the start request to the script's
//                                  first output line, in ms (a fresh
//                                  namespace in the process's interpreter)
//   automation_read_1000_objects_1mbit_timing
//                                  a script that reads 1000 objects of a
//                                  simulated node, one SDO read after the
//                                  other through ZorSendMsg, on a bus with the
//                                  timing of 1 Mbit/s: script -> automation
//                                  module -> its CANopen gateway -> CAN
//                                  interface -> simulated gateway -> node and
//                                  back, in ms for all 1000
#include "simgateway.h"
#include "testdommodel.h"
#include "zormodautomation.h"
#include "zormodcaninterface.h"
#include "zormodcanopengateway.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

namespace {

struct Output
{
    std::mutex mutex;
    QStringList lines;
    int status = -1;
};

// Runs the event loop (module signals are delivered here) until the
// condition holds or timeoutMs passed.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    ZorMessage::registerMetaType();

    TestDomModel model;
    model.addModule(QStringLiteral("automation"), QStringLiteral("Auto1"));
    model.addModule(QStringLiteral("automation"), QStringLiteral("Target"));
    std::unique_ptr<ZorModule, ZorModuleDeleter> target(new ZorModAutomation);
    std::unique_ptr<ZorModule, ZorModuleDeleter> automation(new ZorModAutomation);
    if (!target->setupZorModule(model.moduleIndex(QStringLiteral("Target")), &model)
        || !automation->setupZorModule(model.moduleIndex(QStringLiteral("Auto1")), &model)
        || !automation->addSlave(target.get())) {
        std::fprintf(stderr, "modules could not be set up\n");
        return 1;
    }
    Output output;
    QObject::connect(automation.get(), &ZorModule::slaveOut, [&output](const ZorMessage &m) {
        std::lock_guard<std::mutex> lock(output.mutex);
        // A status counts only after the last output line: the one the
        // module reports once the script has ended.
        if (m.msgType() == KM_SCRIPT_MSG) {
            output.lines << m.data().toString();
            output.status = -1;
        }
        else if (m.msgType() == KM_STATUS)
            output.status = m.data().toInt();
    });
    target->start();
    automation->start();

    const auto lines = [&output] {
        std::lock_guard<std::mutex> lock(output.mutex);
        return output.lines;
    };
    const auto clearOutput = [&output] {
        std::lock_guard<std::mutex> lock(output.mutex);
        output.lines.clear();
        output.status = -1;
    };
    const auto run = [&](const QString &script, int timeoutMs) {
        clearOutput();
        automation->slaveIn(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1,append:") + script));
        return waitUntil([&output] {
            std::lock_guard<std::mutex> lock(output.mutex);
            return output.status == 0 && !output.lines.isEmpty();
        }, timeoutMs);
    };
    // Runs a script that prints one number, and returns it as text; empty,
    // with the reason on stderr, when it did not.
    const auto figure = [&](const QString &script, int timeoutMs) {
        if (!run(script, timeoutMs)) {
            std::fprintf(stderr, "the script did not finish: %s\n", qPrintable(lines().join('\n')));
            return QString();
        }
        const QString value = lines().value(0).section(QLatin1Char(':'), 1);
        bool ok = false;
        value.toDouble(&ok);
        if (!ok)
            std::fprintf(stderr, "unexpected output: %s\n", qPrintable(lines().join('\n')));
        return ok ? value : QString();
    };
    automation->setProperty(QStringLiteral("Script"), QStringLiteral("import Quorvane as q"), false);

    // The first run initialises the interpreter.
    run(QStringLiteral("print('warm')"), 30000);

    const int starts = 5;
    double startMs = 0;
    for (int i = 0; i < starts; ++i) {
        QElapsedTimer clock;
        clock.start();
        automation->slaveIn(
            ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1,append:print('up')")));
        if (!waitUntil([&] { return lines().contains(QStringLiteral("0,StdOut:up")); }, 30000)) {
            std::fprintf(stderr, "script did not start\n");
            return 1;
        }
        startMs += clock.nsecsElapsed() / 1e6;
        waitUntil([&output] {
            std::lock_guard<std::mutex> lock(output.mutex);
            return output.status == 0;
        }, 30000);
        clearOutput();
    }

    const QString rate = figure(QStringLiteral("import time\n"
                                               "n = 2000\n"
                                               "t0 = time.perf_counter()\n"
                                               "for i in range(n):\n"
                                               "    a = q.ZorSendMsg('Target:KM_GETPROPERTY:KS_REQUEST:Script', 'w')\n"
                                               "    assert a.startswith('Target:KM_GETPROPERTY:KS_ANSWER:'), a\n"
                                               "print('%.1f' % (n / (time.perf_counter() - t0)))\n"),
                                60000);
    if (rate.isEmpty())
        return 1;
    std::printf("automation_sendmsg_roundtrips: %s 1/s\n", qPrintable(rate));
    std::printf("automation_script_start: %.1f ms\n", startMs / starts);
    std::fflush(stdout);

    // 1000 objects of node 1 on a bus with the timing of 1 Mbit/s, read by
    // the script through the CAN interface its module reaches through a
    // CANopen gateway of its own.
    ZorModCanOpenGateway::registerCreator();
    SimGateway sim;
    if (!sim.start({QStringLiteral("--node"), QStringLiteral("1")}) || !sim.command(QStringLiteral("TIMING 1000000"))) {
        std::fprintf(stderr, "simulated gateway: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    std::unique_ptr<ZorModule, ZorModuleDeleter> can(
        new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb")));
    can->setProperty(QStringLiteral("Port"), sim.address(), false);
    can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
    can->start();
    automation.reset(new ZorModAutomation);
    model.addModule(QStringLiteral("automation"), QStringLiteral("Reader"));
    if (!automation->setupZorModule(model.moduleIndex(QStringLiteral("Reader")), &model)
        || !automation->addSlave(can.get())) {
        std::fprintf(stderr, "the reading module could not be set up\n");
        return 1;
    }
    QObject::connect(automation.get(), &ZorModule::slaveOut, [&output](const ZorMessage &m) {
        std::lock_guard<std::mutex> lock(output.mutex);
        if (m.msgType() == KM_SCRIPT_MSG) {
            output.lines << m.data().toString();
            output.status = -1;
        } else if (m.msgType() == KM_STATUS) {
            output.status = m.data().toInt();
        }
    });
    automation->start();
    automation->setProperty(QStringLiteral("Script"), QStringLiteral("import Quorvane as q"), false);
    const QString readMs = figure(QStringLiteral("import time\n"
                            "objects = ['1000h,0h,unsigned32', '1017h,0h,unsigned16',\n"
                            "           '1018h,1h,unsigned32', '1018h,2h,unsigned32', '2000h,0h,unsigned8']\n"
                            "q.ZorSendMsg('CAN1:KM_COMM_OPEN:KS_REQUEST', 'b')\n"
                            "def read(o):\n"
                            "    a = q.ZorSendMsg('CAN1:KM_INTERVIEW:KS_REQUEST:SDOReadObject:1000:0:1,' + o, 'w')\n"
                            "    assert ':KS_ANSWER:' in a, a\n"
                            "read(objects[0])\n"
                            "t0 = time.perf_counter()\n"
                            "for i in range(1000):\n"
                            "    read(objects[i % len(objects)])\n"
                            "print('%.1f' % ((time.perf_counter() - t0) * 1000))\n"),
                                  120000);
    if (readMs.isEmpty())
        return 1;
    std::printf("automation_read_1000_objects_1mbit_timing: %s ms\n", qPrintable(readMs));
    return 0;
}
