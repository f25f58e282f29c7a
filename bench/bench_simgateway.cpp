// Figures of the simulated CAN gateway that tests and benchmarks rely on:
// how long it takes to start, how many frames it pushes to one client when
// flooding, how many it carries per second when it emulates a 1 Mbit/s bus,
// the most frames it carries within any 10 ms at that rate, and the round
// trip of one SDO read of a plain TCP client, request to
// answer, without and with that bus timing, and what such a client gets from
// reads one after the other and from a segmented download: the floor under
// every SDO figure of the program (bench_sdo, bench_nodeobjlist,
// bench_download) on this machine.
#include "simgateway.h"
#include "zorsdoblockdownload.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>
#include <vector>

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

// Sends one SDO request of node 1 and waits for its answer; the answer's
// eight data bytes as hexadecimal text, empty on a time-out.
QByteArray sdoExchange(QTcpSocket &socket, QByteArray &rx, const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    socket.write("t6018" + request.toHex() + "\r");
    socket.flush();
    for (;;) {
        const int at = rx.indexOf("t5818");
        if (at >= 0) {
            const int cr = rx.indexOf('\r', at);
            if (cr >= 0) {
                const QByteArray data = rx.mid(at + 5, 16);
                rx.remove(0, cr + 1);
                return data;
            }
        }
        if (clock.elapsed() > 3000)
            return QByteArray();
        if (socket.bytesAvailable() == 0)
            socket.waitForReadyRead(100);
        rx += socket.readAll();
    }
}

// count SDO reads of node 1's 1000h, one after the other: the median round
// trip in ms and the reads per second; both -1 on a time-out.
struct Reads
{
    double medianMs = -1;
    double perSecond = -1;
};

Reads sdoReads(QTcpSocket &socket, int count)
{
    std::vector<double> times;
    QByteArray rx;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer one;
        one.start();
        if (sdoExchange(socket, rx, QByteArray::fromHex("4000100000000000")).isEmpty())
            return Reads();
        times.push_back(one.nsecsElapsed() / 1e6);
    }
    Reads reads;
    reads.perSecond = count / (clock.nsecsElapsed() / 1e9);
    std::sort(times.begin(), times.end());
    reads.medianMs = times[times.size() / 2];
    return reads;
}

// Bytes per second of a segmented download of size bytes into 1F50h:1 by a
// client that does nothing but send each segment once the last one was
// answered: the most any program can get from this simulator. -1 on a
// failure.
double plainSegmentedDownload(QTcpSocket &socket, int size)
{
    QByteArray rx;
    QElapsedTimer clock;
    clock.start();
    QByteArray init = QByteArray::fromHex("21501f0100000000");
    for (int i = 0; i < 4; ++i)
        init[4 + i] = char((size >> (8 * i)) & 0xff);
    if (!sdoExchange(socket, rx, init).startsWith("60"))
        return -1;
    int toggle = 0;
    for (int done = 0; done < size; done += 7) {
        const int used = qMin(7, size - done);
        QByteArray segment(8, char(0x5a));
        segment[0] = char((toggle << 4) | (done + used == size ? ((7 - used) << 1) | 1 : 0));
        const QByteArray answer = sdoExchange(socket, rx, segment);
        if (answer.isEmpty() || answer.at(0) == '8')
            return -1;
        toggle ^= 1;
    }
    return size / (clock.nsecsElapsed() / 1e9);
}

// Bytes per second of a block download (CRC asked for, so that the node's
// checks run as for the program) of size bytes into 1F50h:1 by a client
// that writes each block in one go and the next one as soon as the node
// confirmed it. -1 on a failure.
double plainBlockDownload(QTcpSocket &socket, int size)
{
    QByteArray rx;
    QElapsedTimer clock;
    clock.start();
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + 7) & 0xff);
    QByteArray init = QByteArray::fromHex("c6501f0100000000");
    for (int i = 0; i < 4; ++i)
        init[4 + i] = char((size >> (8 * i)) & 0xff);
    QByteArray answer = sdoExchange(socket, rx, init);
    if (!answer.startsWith("a"))
        return -1;
    int blockSize = answer.mid(8, 2).toInt(nullptr, 16);
    const bool crc = answer.at(1) == '4';
    const int segments = (size + 6) / 7;
    int confirmed = 0;
    while (confirmed < segments) {
        const int count = qMin(blockSize, segments - confirmed);
        QByteArray lines;
        for (int seq = 1; seq < count; ++seq) {
            QByteArray segment(8, '\0');
            segment[0] = char(seq);
            const int at = (confirmed + seq - 1) * 7;
            segment.replace(1, qMin(7, size - at), data.mid(at, 7));
            lines += "t6018" + segment.toHex() + "\r";
        }
        socket.write(lines);
        const int at = (confirmed + count - 1) * 7;
        QByteArray last(8, '\0');
        last[0] = char(count | (confirmed + count == segments ? 0x80 : 0));
        last.replace(1, qMin(7, size - at), data.mid(at, 7));
        answer = sdoExchange(socket, rx, last);
        if (!answer.startsWith("a2"))
            return -1;
        confirmed += answer.mid(2, 2).toInt(nullptr, 16);
        blockSize = answer.mid(4, 2).toInt(nullptr, 16);
    }
    const int unused = segments * 7 - size;
    QByteArray end(8, '\0');
    end[0] = char(0xc1 | (unused << 2));
    if (crc) {
        const quint16 c = ZorSdoBlockDownload::crc16(data);
        end[1] = char(c & 0xff);
        end[2] = char(c >> 8);
    }
    if (!sdoExchange(socket, rx, end).startsWith("a1"))
        return -1;
    return size / (clock.nsecsElapsed() / 1e9);
}

bool openClient(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return false;
    // Small writes that wait for an answer: never held back (as in the
    // program's own driver).
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
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
    // The busiest 10 ms of that flood: an 8-byte frame is at least 111 bits
    // long, so 90 fit in 10 ms of a 1 Mbit/s bus; the simulated one may show
    // 92 (the frame the window cuts, one late start made up).
    const QRegularExpressionMatch peak = QRegularExpression("peak10ms=(\\d+)").match(gw.query("STATS"));
    if (peak.hasMatch())
        std::printf("simgateway_timed_1M_peak_10ms: %s frames\n", qPrintable(peak.captured(1)));

    SimGateway node;
    if (!node.start({QStringLiteral("--node"), QStringLiteral("1"), QStringLiteral("--quiet")}))
        return 1;
    QTcpSocket sdo;
    if (!openClient(sdo, node.port()))
        return 1;
    sdoReads(sdo, 100);
    const Reads reads = sdoReads(sdo, 2000);
    std::printf("simgateway_sdo_round_trip: %.3f ms\n", reads.medianMs);
    std::printf("simgateway_plain_client_reads: %.0f reads/s\n", reads.perSecond);
    std::printf("simgateway_plain_client_segmented_download_64k: %.0f bytes/s\n", plainSegmentedDownload(sdo, 65536));
    std::printf("simgateway_plain_client_block_download_64k: %.0f bytes/s\n", plainBlockDownload(sdo, 65536));
    node.command(QStringLiteral("TIMING 1000000"));
    const Reads timedReads = sdoReads(sdo, 2000);
    std::printf("simgateway_sdo_round_trip_1mbit_timing: %.3f ms\n", timedReads.medianMs);
    // The floors under the program's SDO figures on the 1 Mbit/s timing
    // (object lists, downloads): what a client that adds no time of its own
    // gets.
    std::printf("simgateway_plain_client_reads_1mbit_timing: %.0f reads/s\n", timedReads.perSecond);
    std::printf("simgateway_plain_client_segmented_download_64k_1mbit_timing: %.0f bytes/s\n",
                plainSegmentedDownload(sdo, 65536));
    std::printf("simgateway_plain_client_block_download_64k_1mbit_timing: %.0f bytes/s\n",
                plainBlockDownload(sdo, 65536));
    return 0;
}
