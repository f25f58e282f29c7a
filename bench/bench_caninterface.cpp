// Received frames through the CAN interface module: how many frames per
// second the simulated gateway can push through the module (network driver,
// module thread, host-thread delivery) to one master when it floods as fast
// as the connection takes them, how many are lost, and what that costs in
// CPU time of this process (the gateway's own process not counted). A
// second run emulates a saturated 1 Mbit/s bus and reports the CPU share the
// module needs to follow it. Each flood frame carries its serial number in
// its first four data bytes, so lost and reordered frames are counted.
#include "simgateway.h"
#include "zorbabelfish.h"
#include "zormodcaninterface.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

// The master: counts the received frames and checks their serial numbers.
class Master : public QObject
{
public:
    void take(const ZorMessage &message)
    {
        if (message.msgType() == KM_CAN_FRAME && message.msgState() == KS_INFO) {
            const QByteArray record = message.data().toByteArray();
            if (record.size() != 16 || ZorBabelFish::fromQbytearrayToCanId(record) != 0x123)
                return;
            const quint32 serial = quint8(record[5]) | quint32(quint8(record[6])) << 8
                                   | quint32(quint8(record[7])) << 16 | quint32(quint8(record[8])) << 24;
            if (!clock.isValid()) {
                clock.start();
                cpuStart = std::clock();
            }
            if (serial != expected)
                lost += int(serial - expected);
            expected = serial + 1;
            ++received;
            if (received == target) {
                seconds = clock.nsecsElapsed() / 1e9;
                cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            }
        } else if (message.msgType() == KM_COMM_OPEN && message.msgState() != KS_REQUEST) {
            opened = message.msgState() == KS_ANSWER;
            answered = true;
        }
    }

    void reset(int count)
    {
        target = count;
        received = 0;
        lost = 0;
        expected = 0;
        clock.invalidate();
        seconds = cpuSeconds = 0;
    }

    bool answered = false;
    bool opened = false;
    int target = 0;
    int received = 0;
    int lost = 0;
    quint32 expected = 0;
    QElapsedTimer clock;
    std::clock_t cpuStart = 0;
    double seconds = 0;
    double cpuSeconds = 0;
};

// Runs the event loop (sleeping while nothing happens, so the figures
// hold only the work of the module and of the delivery to the master).
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick;
    tick.start(50);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool run(const char *name, const QStringList &gatewayArgs, int count)
{
    SimGateway gw;
    if (!gw.start(gatewayArgs)) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(gw.errorString()));
        return false;
    }
    std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> module(
        new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb")));
    module->setProperty(QStringLiteral("Port"), gw.address(), false);
    module->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
    Master master;
    QObject::connect(module.get(), &ZorModule::slaveOut, &master, &Master::take);
    module->start();
    module->slaveIn(ZorMessage(KM_COMM_OPEN, KS_REQUEST));
    if (!waitFor([&] { return master.answered; }, 10000) || !master.opened) {
        std::fprintf(stderr, "%s: the interface did not open\n", name);
        return false;
    }

    master.reset(count);
    gw.command(QStringLiteral("FLOOD %1").arg(count));
    waitFor([&] { return master.received >= count; }, 120000);
    master.lost += count - int(master.expected);
    const double rate = master.seconds > 0 ? master.received / master.seconds : 0;
    std::printf("%s_rate: %.0f frames/s\n", name, rate);
    std::printf("%s_lost: %d frames\n", name, master.lost);
    if (master.seconds > 0) {
        std::printf("%s_cpu: %.0f %% of one core\n", name, 100.0 * master.cpuSeconds / master.seconds);
        std::printf("%s_cpu_per_frame: %.2f us\n", name, 1e6 * master.cpuSeconds / master.received);
    }
    std::fflush(stdout);
    return master.received == count && master.lost == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool ok = run("caninterface_flood", {QStringLiteral("--quiet")}, 500000);
    ok = run("caninterface_1mbit_bus", {QStringLiteral("--quiet"), QStringLiteral("--timing"),
                                        QStringLiteral("1000000")},
             16000)
         && ok;
    return ok ? 0 : 1;
}
