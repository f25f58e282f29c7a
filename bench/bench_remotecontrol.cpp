// Remote-control figures: requests per second through a remote-control
// server (request in from a TCP client, down to a slave module, its answer
// up and out to the clients again), with 1 and with 10 clients on loopback.
// Each client keeps a window of requests in flight in the client form
// ("zorclient:<id>:<client>:drive1:KM_WHOAMI:KS_REQUEST") and counts the
// answers that carry its own name; every client hears every answer, as the
// protocol has it.
//   remotecontrol_requests_1_client    answered requests per second, in all
//   remotecontrol_requests_10_clients
//
// Peers that flood the program, with the remote-control panel open (its log
// fed by the module as in the program) and the memory of this process
// sampled every 20 ms (VmRSS) while they do:
//   remotecontrol_flood_small_frames_*       one client sends 5,000,000
//                                            requests of 29 bytes (145 MB) as
//                                            fast as it can and reads the
//                                            answers
//   remotecontrol_flood_1mb_answers_*        one client sends 300 requests of
//                                            1 MB each, each answered with
//                                            1 MB
//   commchannel_flood_without_cr_*           a device sends up to 300 MiB to
//                                            a communication channel without
//                                            ever a CR
// each with _rss_before (MB), _rss_peak_growth (MB above it), _seconds, and
// for the remote control _probe_latency_max (ms): the slowest answer a
// second client got to a KM_WHOAMI meanwhile, asked every 100 ms, which
// shows whether the program stayed responsive.
#include "testdommodel.h"
#include "zorcontentremotecontrol.h"
#include "zormodcommchannel.h"
#include "zormoddrivexenax.h"
#include "zormodremotecontrol.h"
#include "zorrcnetworking.h"

#include <QApplication>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <memory>
#include <vector>

namespace {

const int Window = 16;

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.1f %s\n", name, value, unit);
    std::fflush(stdout);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// One client; lives in the clients' thread.
class Client
{
public:
    Client(QObject *context, int number, quint16 port, std::atomic<qint64> &answered)
        : name(QStringLiteral("c%1").arg(number).toLatin1()), answered(answered)
    {
        socket = new QTcpSocket(context);
        QObject::connect(socket, &QTcpSocket::connected, context, [this] {
            for (int i = 0; i < Window; ++i)
                sendOne();
        });
        QObject::connect(socket, &QTcpSocket::readyRead, context, [this] { readAnswers(); });
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
    std::atomic<bool> running{true};

private:
    void sendOne()
    {
        socket->write("zorclient:" + QByteArray::number(++serial) + ':' + name
                      + ":drive1:KM_WHOAMI:KS_REQUEST\n\n");
    }
    void readAnswers()
    {
        buffer += socket->readAll();
        const QByteArray mine = ':' + name + ":drive1:KM_WHOAMI:KS_ANSWER";
        int pos = 0;
        int end;
        while ((end = buffer.indexOf("\n\n", pos)) >= 0) {
            if (buffer.mid(pos, end - pos).contains(mine)) {
                ++answered;
                if (running)
                    sendOne();
            }
            pos = end + 2;
        }
        buffer.remove(0, pos);
    }

    QTcpSocket *socket = nullptr;
    QByteArray name;
    QByteArray buffer;
    qint64 serial = 0;
    std::atomic<qint64> &answered;
};

// A remote-control server "RC1" on a free port with a Xenax drive "drive1"
// as its slave.
struct Server
{
    Server()
    {
        model.addModule("remotecontrol", "RC1");
        model.addModule("drive_xenax", "drive1");
        rc->setupZorModule(model.moduleIndex("RC1"), &model);
        drive->setupZorModule(model.moduleIndex("drive1"), &model);
        rc->addSlave(drive.get());
        rc->setProperty(QStringLiteral("RemoteControlConnection"), QStringLiteral("SERVER:%1").arg(port), false);
        rc->setProperty(QStringLiteral("RemoteControlMode"), QStringLiteral("1"), false);
    }
    // Starts both modules and waits until the server listens.
    void start()
    {
        drive->start();
        rc->start();
        QElapsedTimer wait;
        wait.start();
        while (!rc->networking()->isListening() && wait.elapsed() < 10000)
            spin(5);
    }

    TestDomModel model;
    std::unique_ptr<ZorModRemoteControl, ZorModuleDeleter> rc{new ZorModRemoteControl};
    std::unique_ptr<ZorModDriveXenax, ZorModuleDeleter> drive{new ZorModDriveXenax};
    const quint16 port = freePort();
};

double requestsPerSecond(int clientCount)
{
    Server server;
    server.start();
    const quint16 port = server.port;

    QThread clientThread;
    clientThread.start();
    QObject context;
    context.moveToThread(&clientThread);
    std::atomic<qint64> answered{0};
    std::vector<std::unique_ptr<Client>> clients;
    QMetaObject::invokeMethod(&context, [&] {
        for (int i = 0; i < clientCount; ++i)
            clients.emplace_back(new Client(&context, i, port, answered));
    }, Qt::BlockingQueuedConnection);

    spin(500);   // warm up
    const qint64 start = answered;
    QElapsedTimer clock;
    clock.start();
    spin(3000);
    const double rate = (answered - start) / (clock.elapsed() / 1000.0);

    QMetaObject::invokeMethod(&context, [&] {
        for (auto &c : clients)
            c->running = false;
        clients.clear();
        const auto sockets = context.findChildren<QTcpSocket *>();
        qDeleteAll(sockets);
    }, Qt::BlockingQueuedConnection);
    clientThread.quit();
    clientThread.wait();
    return rate;
}

// VmRSS of this process in MB.
double rssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// The highest VmRSS while it lives, sampled every 20 ms in its own thread.
class RssSampler
{
public:
    RssSampler() : before(rssMb())
    {
        thread = std::thread([this] {
            while (running) {
                const double now = rssMb();
                double seen = peak.load();
                while (now > seen && !peak.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~RssSampler() { stop(); }
    void stop()
    {
        running = false;
        if (thread.joinable())
            thread.join();
    }
    const double before;
    std::atomic<double> peak{0};

private:
    std::atomic<bool> running{true};
    std::thread thread;
};

// A peer in the clients' thread: writes `count` copies of `frame` as fast
// as the connection takes them and reads (and drops) what comes back.
class Flooder
{
public:
    Flooder(QObject *context, quint16 port, const QByteArray &frame, qint64 count)
        : left(count), frame(frame)
    {
        socket = new QTcpSocket(context);
        QObject::connect(socket, &QTcpSocket::connected, context, [this] { fill(); });
        QObject::connect(socket, &QTcpSocket::bytesWritten, context, [this] { fill(); });
        QObject::connect(socket, &QTcpSocket::readyRead, context, [this] { received += socket->readAll().size(); });
        QObject::connect(socket, &QTcpSocket::disconnected, context, [this] { closed = true; });
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
    std::atomic<qint64> received{0};
    std::atomic<bool> closed{false};
    std::atomic<qint64> left;

private:
    void fill()
    {
        // A few hundred kilobytes ahead of the socket at most.
        while (left > 0 && socket->bytesToWrite() < (256 << 10)) {
            const qint64 n = qMin<qint64>(left, qMax(1, (64 << 10) / frame.size()));
            socket->write(frame.repeated(int(n)));
            left -= n;
        }
    }
    QTcpSocket *socket = nullptr;
    QByteArray frame;
};

// A second client that asks drive1 KM_WHOAMI every 100 ms and keeps the
// longest wait for an answer.
class Prober
{
public:
    Prober(QObject *context, quint16 port)
    {
        socket = new QTcpSocket(context);
        timer = new QTimer(context);
        QObject::connect(socket, &QTcpSocket::readyRead, context, [this] {
            buffer += socket->readAll();
            if (waiting && buffer.contains("drive1:KM_WHOAMI:KS_ANSWER")) {
                waiting = false;
                worstMs = qMax<qint64>(worstMs, clock.elapsed());
            }
            buffer = buffer.right(64);
        });
        QObject::connect(timer, &QTimer::timeout, context, [this] {
            if (waiting) {
                worstMs = qMax<qint64>(worstMs, clock.elapsed());
                return;
            }
            waiting = true;
            clock.start();
            socket->write("drive1:KM_WHOAMI:KS_REQUEST\n\n");
        });
        socket->connectToHost(QHostAddress::LocalHost, port);
        timer->start(100);
    }
    std::atomic<qint64> worstMs{0};

private:
    QTcpSocket *socket = nullptr;
    QTimer *timer = nullptr;
    QByteArray buffer;
    bool waiting = false;
    QElapsedTimer clock;
};

// A remote-control server with drive1 as slave and its panel open, flooded
// by one peer.
bool floodRemoteControl(const char *name, const QByteArray &frame, qint64 count)
{
    Server server;
    ZorContentRemoteControl panel;
    QObject::connect(&panel, &ZorPanel::msgOut, server.rc.get(), &ZorModule::slaveIn);
    QObject::connect(server.rc.get(), &ZorModule::slaveOut, &panel, &ZorPanel::msgIn);
    panel.setupZorPanel(server.model.moduleIndex("RC1"), &server.model);
    panel.resize(600, 400);
    panel.show();
    server.start();
    const quint16 port = server.port;
    spin(300);

    QThread clientThread;
    clientThread.start();
    QObject context;
    context.moveToThread(&clientThread);
    std::unique_ptr<Flooder> flooder;
    std::unique_ptr<Prober> prober;
    RssSampler rss;
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(&context, [&] {
        prober.reset(new Prober(&context, port));
        flooder.reset(new Flooder(&context, port, frame, count));
    }, Qt::BlockingQueuedConnection);
    while ((flooder->left > 0 && !flooder->closed) && clock.elapsed() < 600000)
        spin(50);
    // What the server still has to answer.
    spin(1000);
    const double seconds = clock.elapsed() / 1000.0;
    rss.stop();
    const bool closed = flooder->closed;
    const qint64 worst = prober->worstMs;
    QMetaObject::invokeMethod(&context, [&] {
        flooder.reset();
        prober.reset();
        qDeleteAll(context.findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly));
    }, Qt::BlockingQueuedConnection);
    clientThread.quit();
    clientThread.wait();

    const QByteArray prefix(name);
    print((prefix + "_rss_before").constData(), rss.before, "MB");
    print((prefix + "_rss_peak_growth").constData(), rss.peak - rss.before, "MB");
    print((prefix + "_seconds").constData(), seconds, closed ? "s (peer closed)" : "s");
    print((prefix + "_probe_latency_max").constData(), double(worst), "ms");
    return true;
}

// A communication channel connected to a device that sends up to 300 MiB
// without a CR.
void floodCommChannel()
{
    TestDomModel model;
    model.addModule("commchannel", "Channel");
    std::unique_ptr<ZorModCommChannel, ZorModuleDeleter> channel(new ZorModCommChannel);
    channel->setupZorModule(model.moduleIndex("Channel"), &model);

    QThread deviceThread;
    deviceThread.start();
    QObject context;
    context.moveToThread(&deviceThread);
    QTcpServer *device = nullptr;
    std::atomic<qint64> sent{0};
    std::atomic<bool> closed{false};
    const qint64 total = qint64(300) << 20;
    quint16 port = 0;
    QMetaObject::invokeMethod(&context, [&] {
        device = new QTcpServer(&context);
        device->listen(QHostAddress::LocalHost, 0);
        port = device->serverPort();
        QObject::connect(device, &QTcpServer::newConnection, &context, [&] {
            QTcpSocket *s = device->nextPendingConnection();
            const QByteArray chunk(64 << 10, 'x');
            auto fill = [&, s, chunk] {
                while (sent < total && s->state() == QAbstractSocket::ConnectedState
                       && s->bytesToWrite() < (256 << 10)) {
                    s->write(chunk);
                    sent += chunk.size();
                }
            };
            QObject::connect(s, &QTcpSocket::bytesWritten, &context, fill);
            QObject::connect(s, &QTcpSocket::disconnected, &context, [&] { closed = true; });
            fill();
        });
    }, Qt::BlockingQueuedConnection);

    channel->setProperty(QStringLiteral("CommChannel"), QStringLiteral("127.0.0.1:%1").arg(port), false);
    channel->start();
    RssSampler rss;
    QElapsedTimer clock;
    clock.start();
    channel->slaveIn(ZorMessage(KM_COMM_OPEN, KS_REQUEST));
    while (!closed && sent < total && clock.elapsed() < 600000)
        spin(20);
    spin(200);
    const double seconds = clock.elapsed() / 1000.0;
    rss.stop();
    QMetaObject::invokeMethod(&context, [&] {
        qDeleteAll(context.findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly));
    }, Qt::BlockingQueuedConnection);
    deviceThread.quit();
    deviceThread.wait();
    print("commchannel_flood_without_cr_rss_before", rss.before, "MB");
    print("commchannel_flood_without_cr_rss_peak_growth", rss.peak - rss.before, "MB");
    print("commchannel_flood_without_cr_sent_before_closed", sent / double(1 << 20),
          closed ? "MiB (device closed)" : "MiB (not closed)");
    print("commchannel_flood_without_cr_seconds", seconds, "s");
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    ZorMessage::registerMetaType();
    print("remotecontrol_requests_1_client", requestsPerSecond(1), "msg/s");
    print("remotecontrol_requests_10_clients", requestsPerSecond(10), "msg/s");
    floodRemoteControl("remotecontrol_flood_small_frames", QByteArray("drive1:KM_WHOAMI:KS_REQUEST\n\n"), 5000000);
    floodRemoteControl("remotecontrol_flood_1mb_answers",
                       "drive1:KM_SETPROPERTY:KS_REQUEST:Big=" + QByteArray(1000000, 'v') + "\n\n", 300);
    floodCommChannel();
    return 0;
}
