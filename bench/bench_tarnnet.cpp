// Receiving through the CAN-over-TCP driver: frames per second that
// ZorCanDriverTarnNet hands over when the simulated gateway floods it as
// fast as the connection takes them, and when the gateway emulates a full
// 1 Mbit/s bus; the driver is polled the way the CAN interface module does
// (takeRx, then rxFrame for each frame, again while the bank was full).
// Each flood frame carries its serial number, so lost frames are counted.
#include "simgateway.h"
#include "zorcandrivertarnnet.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <cstdio>

namespace {

struct Result {
    double framesPerSecond = 0;
    int received = 0;
    int lost = 0;
};

// Floods `count` frames and takes them from the driver; the rate runs from
// the first frame to the last.
Result receiveFlood(SimGateway &gw, ZorCanDriverTarnNet &driver, int count, int timeoutMs)
{
    Result r;
    if (!gw.command(QStringLiteral("FLOOD %1").arg(count)))
        return r;
    quint32 expected = 0;
    QElapsedTimer sinceFirst;
    QDeadlineTimer deadline(timeoutMs);
    QByteArray record;
    VSCAN_MSG frame;
    while (r.received < count && !deadline.hasExpired()) {
        int n = 0;
        driver.takeRx(n);
        if (n > 0 && !sinceFirst.isValid())
            sinceFirst.start();
        for (int i = 0; i < n; ++i) {
            driver.rxFrame(i, record);
            ZorBabelFish::fromQbytearrayToVscan(record, frame);
            const quint32 serial = quint32(frame.Data[0]) | quint32(frame.Data[1]) << 8
                                   | quint32(frame.Data[2]) << 16 | quint32(frame.Data[3]) << 24;
            if (serial != expected)
                r.lost += int(serial - expected);
            expected = serial + 1;
            ++r.received;
        }
        if (n < driver.capacity())
            QCoreApplication::processEvents(); // the gateway's own output
    }
    r.lost += count - int(expected);
    const double s = sinceFirst.isValid() ? sinceFirst.nsecsElapsed() / 1e9 : 0;
    r.framesPerSecond = s > 0 ? r.received / s : 0;
    return r;
}

bool run(const char *name, const QStringList &gatewayArgs, int count)
{
    SimGateway gw;
    if (!gw.start(gatewayArgs)) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(gw.errorString()));
        return false;
    }
    ZorCanDriverTarnNet driver;
    if (!driver.open(gw.address(), 1000000, 0, 0, 0)) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(driver.lastErrorText()));
        return false;
    }
    const Result r = receiveFlood(gw, driver, count, 60000);
    std::printf("%s_rx_rate: %.0f frames/s\n", name, r.framesPerSecond);
    std::printf("%s_rx_lost: %d frames\n", name, r.lost);
    std::fflush(stdout);
    return r.received == count && r.lost == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool ok = run("tarnnet_flood", {"--quiet"}, 300000);
    // A saturated 1 Mbit/s bus of 8-byte frames: the driver must keep up.
    ok = run("tarnnet_1mbit_bus", {"--quiet", "--timing", "1m"}, 20000) && ok;
    return ok ? 0 : 1;
}
