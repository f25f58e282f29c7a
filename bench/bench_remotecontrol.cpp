// Remote-control figures: requests per second through a remote-control
// server (request in from a TCP client, down to a slave module, its answer
// up and out to the clients again), with 1 and with 10 clients on loopback.
// Each client keeps a window of requests in flight in the client form
// ("zorclient:<id>:<client>:drive1:KM_WHOAMI:KS_REQUEST") and counts the
// answers that carry its own name; every client hears every answer, as the
// protocol has it.
//   remotecontrol_requests_1_client    answered requests per second, in all
//   remotecontrol_requests_10_clients
#include "testdommodel.h"
#include "zormoddrivexenax.h"
#include "zormodremotecontrol.h"
#include "zorrcnetworking.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
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

double requestsPerSecond(int clientCount)
{
    TestDomModel model;
    model.addModule("remotecontrol", "RC1");
    model.addModule("drive_xenax", "drive1");
    std::unique_ptr<ZorModRemoteControl, ZorModuleDeleter> rc(new ZorModRemoteControl);
    std::unique_ptr<ZorModDriveXenax, ZorModuleDeleter> drive(new ZorModDriveXenax);
    rc->setupZorModule(model.moduleIndex("RC1"), &model);
    drive->setupZorModule(model.moduleIndex("drive1"), &model);
    rc->addSlave(drive.get());
    const quint16 port = freePort();
    rc->setProperty(QStringLiteral("RemoteControlConnection"), QStringLiteral("SERVER:%1").arg(port), false);
    rc->setProperty(QStringLiteral("RemoteControlMode"), QStringLiteral("1"), false);
    drive->start();
    rc->start();
    QElapsedTimer wait;
    wait.start();
    while (!rc->networking()->isListening() && wait.elapsed() < 10000)
        spin(5);

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    ZorMessage::registerMetaType();
    print("remotecontrol_requests_1_client", requestsPerSecond(1), "msg/s");
    print("remotecontrol_requests_10_clients", requestsPerSecond(10), "msg/s");
    return 0;
}
