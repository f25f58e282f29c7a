// Figures of the simulated CAN gateway that tests and benchmarks rely on:
// how long it takes to start, how many frames it pushes to one client when
// flooding, and how many it carries per second when it emulates a 1 Mbit/s
// bus.
#include "simgateway.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <cstdio>

namespace {

// Reads from the socket until count CR-terminated lines arrived; returns
// the frames per second from the first chunk to the last, or -1 on a
// time-out.
double receiveRate(QTcpSocket &socket, int count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer sinceFirst;
    int lines = 0;
    int firstChunk = 0;
    while (lines < count) {
        if (timer.elapsed() > timeoutMs)
            return -1;
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100))
            continue;
        const int n = socket.readAll().count('\r');
        if (!sinceFirst.isValid()) {
            sinceFirst.start();
            firstChunk = n;
        }
        lines += n;
    }
    const double s = sinceFirst.nsecsElapsed() / 1e9;
    return s > 0 ? (lines - firstChunk) / s : -1;
}

bool openClient(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return false;
    socket.write("S8\rO\r");
    socket.flush();
    receiveRate(socket, 2, 3000);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    const int starts = 5;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < starts; ++i) {
        SimGateway gw;
        if (!gw.start({QStringLiteral("--node"), QStringLiteral("1")})) {
            std::fprintf(stderr, "gateway: %s\n", qPrintable(gw.errorString()));
            return 1;
        }
    }
    std::printf("simgateway_start_and_stop: %.1f ms\n", timer.nsecsElapsed() / 1e6 / starts);

    SimGateway gw;
    if (!gw.start({QStringLiteral("--quiet")}))
        return 1;
    QTcpSocket socket;
    if (!openClient(socket, gw.port()))
        return 1;

    const int flood = 200000;
    gw.command(QStringLiteral("FLOOD %1").arg(flood));
    const double floodRate = receiveRate(socket, flood, 60000);
    if (floodRate > 0)
        std::printf("simgateway_flood_8_bytes: %.0f frames/s\n", floodRate);

    const int timed = 4000;
    gw.command(QStringLiteral("TIMING 1000000"));
    gw.command(QStringLiteral("FLOOD %1").arg(timed));
    // A real 1 Mbit/s bus carries about 8200 such frames (zeros in the data
    // cost stuff bits) per second.
    const double timedRate = receiveRate(socket, timed, 60000);
    if (timedRate > 0)
        std::printf("simgateway_timed_1M_8_bytes: %.0f frames/s\n", timedRate);
    return 0;
}
