#include "floodgateway.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Unread bytes a client may have before frames are skipped.
const qint64 floodGatewayBacklogBytes = 4 << 20;
const int floodGatewayTickMs = 1;

void appendFloodLine(QByteArray &out, quint32 serial)
{
    static const char digits[] = "0123456789abcdef";
    char line[26] = "t1238";
    int at = 5;
    for (int i = 0; i < 8; ++i) {
        const quint8 byte = i < 4 ? quint8(serial >> (8 * i)) : 0;
        line[at++] = digits[byte >> 4];
        line[at++] = digits[byte & 15];
    }
    const quint16 stamp = quint16(serial / 200);
    for (int shift = 12; shift >= 0; shift -= 4)
        line[at++] = digits[(stamp >> shift) & 15];
    line[at++] = '\r';
    out.append(line, at);
}

} // namespace

FloodGateway::FloodGateway(int framesPerSecond, int durationMs)
    : m_rate(framesPerSecond)
    , m_durationMs(durationMs)
{
}

FloodGateway::~FloodGateway()
{
    requestInterruption();
    quit();
    wait();
}

bool FloodGateway::listen()
{
    start();
    QDeadlineTimer deadline(10000);
    while (!m_listening.load() && isRunning() && !deadline.hasExpired())
        QThread::msleep(1);
    return m_listening.load();
}

QString FloodGateway::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port.load());
}

void FloodGateway::run()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return;
    m_port = server.serverPort();
    m_listening = true;

    QPointer<QTcpSocket> client;
    QByteArray opening;
    QElapsedTimer clock;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(floodGatewayTickMs);
    quint32 serial = 0;

    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *next = server.nextPendingConnection();
        if (client || m_started.load()) {
            next->abort();
            next->deleteLater();
            return;
        }
        client = next;
        QObject::connect(client, &QTcpSocket::readyRead, [&] {
            const QByteArray bytes = client->readAll();
            if (m_started.load())
                return;
            opening += bytes;
            // The flood begins once the client has gone on the bus.
            if (opening.startsWith("O\r") || opening.contains("\rO\r")) {
                m_started = true;
                clock.start();
                tick.start();
            }
        });
    });
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!client || isInterruptionRequested()) {
            tick.stop();
            return;
        }
        const qint64 elapsed = qMin<qint64>(clock.elapsed(), m_durationMs);
        const qint64 due = m_rate * elapsed / 1000 - (m_sent.load() + m_skipped.load());
        if (due > 0) {
            if (client->bytesToWrite() > floodGatewayBacklogBytes) {
                m_skipped += due;
                serial += quint32(due);
            } else {
                QByteArray batch;
                batch.reserve(int(due) * 25);
                for (qint64 i = 0; i < due; ++i)
                    appendFloodLine(batch, serial++);
                client->write(batch);
                m_sent += due;
            }
        }
        if (elapsed >= m_durationMs) {
            tick.stop();
            client->flush();
            m_finished = true;
        }
    });

    QTimer interruption;
    interruption.setInterval(20);
    QObject::connect(&interruption, &QTimer::timeout, [&] {
        if (isInterruptionRequested())
            quit();
    });
    interruption.start();
    exec();
    if (client)
        client->abort();
}
