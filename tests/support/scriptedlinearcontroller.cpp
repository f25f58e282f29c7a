#include "scriptedlinearcontroller.h"

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

// The controller's thread is a plain std::thread that runs a Qt event loop,
// and every hand-over with it (the calls run there, its end) goes through a
// std::mutex, a condition variable and join(): all of it is seen by
// ThreadSanitizer, which cannot see the synchronisation inside Qt's own
// thread and blocking-call machinery. The destructor joins the thread
// before anything it used is destroyed.
struct ScriptedLinearController::Private
{
    std::thread thread;
    QEventLoop *loop = nullptr;              // thread only, while it runs
    QObject *context = nullptr;              // lives in the thread; set before the
                                             // constructor returns, cleared at the end
    QTcpServer *server = nullptr;            // thread only
    QHash<QTcpSocket *, QByteArray> buffers; // thread only

    mutable std::mutex mutex;                // everything below
    QElapsedTimer clock;
    QList<Command> log;
    QSet<QString> silent;
    QSet<QString> refused;
    quint16 port = 0;
    int forcedStatus = 0;
    int errorNumber = 0;
    int moveDurationMs = 200;
    bool events = false;
    qint64 pos = 0;
    qint64 moveFrom = 0;
    qint64 moveTo = 0;
    bool moving = false;
    QElapsedTimer moveClock;
    int jog = 0;                             // +1, -1 or 0
    qint64 speed = 0;                        // increments per second
    qint64 jogFrom = 0;
    QElapsedTimer jogClock;

    // Under the mutex.
    void update()
    {
        if (moving) {
            const qint64 elapsed = moveClock.elapsed();
            if (elapsed >= moveDurationMs) {
                pos = moveTo;
                moving = false;
            } else {
                pos = moveFrom + (moveTo - moveFrom) * elapsed / qMax(1, moveDurationMs);
            }
        }
        if (jog != 0)
            pos = jogFrom + jog * speed * jogClock.elapsed() / 1000;
    }

    void stopJog()
    {
        update();
        jog = 0;
    }

    QByteArray answer(const QString &command, QPointer<QTcpSocket> socket)
    {
        std::lock_guard<std::mutex> locker(mutex);
        log.append({command, clock.elapsed()});
        if (silent.contains(command))
            return QByteArray();
        if (refused.contains(command))
            return QByteArrayLiteral("?");
        update();
        auto echo = [&](const QString &value) {
            QString text = command + QStringLiteral("\r\n");
            if (!value.isNull())
                text += value + QStringLiteral("\r\n");
            return (text + QLatin1Char('>')).toLatin1();
        };
        if (command.isEmpty())
            return QByteArrayLiteral(">");
        if (command == QLatin1String("TS"))
            return echo(QString::number(forcedStatus ? forcedStatus : (moving || jog) ? 2 : 1));
        if (command == QLatin1String("TP"))
            return echo(QString::number(pos));
        if (command == QLatin1String("TE"))
            return echo(QString::number(errorNumber));
        static const QSet<QString> plain = {"MD0", "MD2", "ICP1", "PWC", "PQ", "CCM0", "CCM1",
                                            "EVT0", "EVT1", "HORM", "SM", "JP", "JN"};
        if (plain.contains(command)) {
            if (command == QLatin1String("EVT1") || command == QLatin1String("EVT0"))
                events = command == QLatin1String("EVT1");
            if (command == QLatin1String("SM") || command == QLatin1String("PQ"))
                stopJog();
            if (command == QLatin1String("JP") || command == QLatin1String("JN")) {
                stopJog();
                jog = command == QLatin1String("JP") ? 1 : -1;
                jogFrom = pos;
                jogClock.start();
            }
            if (command == QLatin1String("HORM")) {
                stopJog();
                moving = false;
                pos = 0;
                if (events) {
                    QTimer::singleShot(30, context, [socket] {
                        if (socket)
                            socket->write("@H\r\n");
                    });
                }
            }
            return echo(QString());
        }
        static const QRegularExpression withNumber(QStringLiteral("^(SP|AC|G|CRD)(-?\\d+)$"));
        const QRegularExpressionMatch match = withNumber.match(command);
        if (!match.hasMatch())
            return QByteArrayLiteral("?");
        const qint64 value = match.captured(2).toLongLong();
        if (match.captured(1) == QLatin1String("SP")) {
            speed = value;
        } else if (match.captured(1) == QLatin1String("G")) {
            stopJog();
            moveFrom = pos;
            moveTo = value;
            moving = true;
            moveClock.start();
        }
        return echo(QString());
    }

    void readFrom(QTcpSocket *socket)
    {
        QByteArray &buffer = buffers[socket];
        buffer += socket->readAll();
        int cr;
        while ((cr = buffer.indexOf('\r')) >= 0) {
            const QString command = QString::fromLatin1(buffer.left(cr));
            buffer.remove(0, cr + 1);
            const QByteArray reply = answer(command, socket);
            if (!reply.isEmpty())
                socket->write(reply);
        }
    }

    void accept()
    {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            buffers.insert(socket, QByteArray());
            QObject::connect(socket, &QTcpSocket::readyRead, context, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, context, [this, socket] {
                buffers.remove(socket);
                socket->deleteLater();
            });
        }
    }

    // Runs f in the thread and waits until it has run.
    template<class F>
    void inThread(F f)
    {
        std::mutex doneMutex;
        std::condition_variable doneSignal;
        bool done = false;
        QMetaObject::invokeMethod(context, [&] {
            f();
            std::lock_guard<std::mutex> locker(doneMutex);
            done = true;
            doneSignal.notify_all();
        }, Qt::QueuedConnection);
        std::unique_lock<std::mutex> locker(doneMutex);
        doneSignal.wait(locker, [&] { return done; });
    }

    // The thread: sets up the server, runs the event loop until the
    // destructor ends it, and tears everything down before it returns.
    void run(std::mutex &startMutex, std::condition_variable &started)
    {
        QEventLoop eventLoop;
        auto *own = new QObject;
        auto *listening = new QTcpServer(own);
        listening->listen(QHostAddress::LocalHost, 0);
        QObject::connect(listening, &QTcpServer::newConnection, own, [this] { accept(); });
        {
            std::lock_guard<std::mutex> locker(mutex);
            port = listening->serverPort();
        }
        loop = &eventLoop;
        server = listening;
        {
            std::lock_guard<std::mutex> locker(startMutex);
            context = own;
            started.notify_all();
        }
        eventLoop.exec();
        buffers.clear();
        delete own;   // the server and the sockets with it
        loop = nullptr;
        server = nullptr;
    }
};

ScriptedLinearController::ScriptedLinearController()
    : d(new Private)
{
    d->clock.start();
    std::mutex startMutex;
    std::condition_variable started;
    d->thread = std::thread([this, &startMutex, &started] { d->run(startMutex, started); });
    std::unique_lock<std::mutex> locker(startMutex);
    started.wait(locker, [this] { return d->context != nullptr; });
}

ScriptedLinearController::~ScriptedLinearController()
{
    d->inThread([this] { d->loop->quit(); });
    d->thread.join();
}

quint16 ScriptedLinearController::port() const
{
    std::lock_guard<std::mutex> locker(d->mutex);
    return d->port;
}

QString ScriptedLinearController::endpoint() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

QList<ScriptedLinearController::Command> ScriptedLinearController::commandLog() const
{
    std::lock_guard<std::mutex> locker(d->mutex);
    return d->log;
}

QStringList ScriptedLinearController::commands() const
{
    QStringList texts;
    for (const Command &c : commandLog())
        texts << c.text;
    return texts;
}

void ScriptedLinearController::clearCommands()
{
    std::lock_guard<std::mutex> locker(d->mutex);
    d->log.clear();
}

void ScriptedLinearController::setSilent(const QString &command, bool silent)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    if (silent)
        d->silent.insert(command);
    else
        d->silent.remove(command);
}

void ScriptedLinearController::setRefused(const QString &command, bool refused)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    if (refused)
        d->refused.insert(command);
    else
        d->refused.remove(command);
}

void ScriptedLinearController::setForcedStatus(int status)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    d->forcedStatus = status;
}

void ScriptedLinearController::setErrorNumber(int number)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    d->errorNumber = number;
}

void ScriptedLinearController::setMoveDurationMs(int ms)
{
    std::lock_guard<std::mutex> locker(d->mutex);
    d->moveDurationMs = ms;
}

int ScriptedLinearController::connectionCount() const
{
    int count = 0;
    const_cast<Private *>(d.get())->inThread([&] { count = d->buffers.size(); });
    return count;
}

void ScriptedLinearController::dropClients()
{
    d->inThread([this] {
        for (QTcpSocket *socket : d->buffers.keys())
            socket->abort();
    });
}

qint64 ScriptedLinearController::position() const
{
    std::lock_guard<std::mutex> locker(d->mutex);
    d->update();
    return d->pos;
}
