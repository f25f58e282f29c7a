#include "zorrcnetworking.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

const QByteArray MessageEnd("\n\n");

// Errors that are no failure of the connection: a refused connection is
// retried until the connect time-out says so, and time-outs of polls are
// no errors at all.
bool countsAsError(QAbstractSocket::SocketError error)
{
    return error != QAbstractSocket::ConnectionRefusedError
           && error != QAbstractSocket::SocketTimeoutError;
}

QHostAddress listenAddress(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t.isEmpty() || t == QLatin1String("localhost"))
        return QHostAddress(QHostAddress::LocalHost);
    if (t == QLatin1String("any") || t == QLatin1String("*") || t == QLatin1String("0.0.0.0"))
        return QHostAddress(QHostAddress::AnyIPv4);
    return QHostAddress(t);
}

// Compares in time independent of where the texts differ, so that the
// secret cannot be found out byte by byte from answer times.
bool sameSecret(const QString &given, const QString &secret)
{
    const QByteArray a = given.toLatin1();
    const QByteArray b = secret.toLatin1();
    if (b.isEmpty())
        return a.isEmpty();
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i % b.size()));
    return difference == 0;
}

} // namespace

ZorRcNetworking::ZorRcNetworking(QObject *parent)
    : QObject(parent), tcpServer(new QTcpServer(this)), statusTimer(this)
{
    connect(tcpServer.data(), &QTcpServer::newConnection, this, &ZorRcNetworking::acceptConnection);
    connect(tcpServer.data(), &QTcpServer::acceptError, this,
            [this](QAbstractSocket::SocketError error) {
                if (countsAsError(error) && tcpServer)
                    noteError(tcpServer->errorString());
            });
    connect(&statusTimer, &QTimer::timeout, this, &ZorRcNetworking::newStatus);
}

ZorRcNetworking::~ZorRcNetworking()
{
    stop();
    delete tcpServer.data();
}

void ZorRcNetworking::setEndpoint(const QString &newHost, quint16 newPort)
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    host = newHost;
    port = newPort;
    server = newHost.isEmpty();
}

void ZorRcNetworking::setBindAddress(const QString &address)
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    bindAddress = address;
}

void ZorRcNetworking::setSecret(const QString &newSecret)
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    secret = newSecret;
}

void ZorRcNetworking::setLimits(const Limits &newLimits)
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    limits = newLimits;
}

void ZorRcNetworking::setIdleTimeout(int ms)
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    limits.idleTimeoutMs = qMax(0, ms);
}

bool ZorRcNetworking::isServer() const
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    return server;
}

QStringList ZorRcNetworking::takeIncoming()
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    QStringList taken;
    taken.swap(incoming);
    incomingChars = 0;
    // Connections held back at the cap go on being read.
    for (const Connection &c : qAsConst(connections)) {
        if (c.held) {
            QMetaObject::invokeMethod(this, &ZorRcNetworking::dataArrived, Qt::QueuedConnection);
            break;
        }
    }
    return taken;
}

bool ZorRcNetworking::incomingFull() const
{
    return incoming.size() >= limits.maxIncoming || incomingChars >= limits.maxIncomingBytes;
}

QStringList ZorRcNetworking::takeStatusTexts()
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    QStringList taken;
    taken.swap(statusTexts);
    return taken;
}

bool ZorRcNetworking::appendOutgoing(const QString &text)
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    const bool wasEmpty = outgoing.isEmpty();
    outgoing << text;
    return wasEmpty;
}

int ZorRcNetworking::connectedCount() const
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    int count = 0;
    for (const Connection &c : connections)
        if (c.socket && c.socket->state() == QAbstractSocket::ConnectedState)
            ++count;
    return count;
}

bool ZorRcNetworking::isListening() const
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    return tcpServer && tcpServer->isListening();
}

QByteArray ZorRcNetworking::frame(const QString &text)
{
    QString body = text.trimmed();
    while (body.contains(QLatin1String("\n\n")))
        body.replace(QLatin1String("\n\n"), QLatin1String("\n"));
    return body.toLatin1() + MessageEnd;
}

QString ZorRcNetworking::peerText(const QTcpSocket *socket)
{
    QHostAddress address = socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    return address.toString();
}

void ZorRcNetworking::cmd(int n)
{
    switch (n) {
    case 1:
        start();
        break;
    case 2:
        stop();
        break;
    case 3:
        send();
        break;
    default:
        break;
    }
}

void ZorRcNetworking::start()
{
    qDebug("ZorRcNetworking::start()");
    {
        std::lock_guard<std::recursive_mutex> locker(mutex);
        if (started)
            return;
        pendingError.clear();
        if (server) {
            // A failure shows as an error at the next status tick.
            const QHostAddress address = listenAddress(bindAddress);
            if (address.isNull())
                pendingError = tr("invalid bind address '%1'").arg(bindAddress);
            else if (!tcpServer->listen(address, port))
                pendingError = tcpServer->errorString();
        } else {
            auto *socket = new QTcpSocket(this);
            connect(socket, &QTcpSocket::readyRead, this, &ZorRcNetworking::dataArrived);
            connect(socket, &QTcpSocket::connected, this, &ZorRcNetworking::connected);
            connect(socket, &QAbstractSocket::errorOccurred, this,
                    [this, socket](QAbstractSocket::SocketError error) {
                        if (countsAsError(error))
                            noteError(socket->errorString());
                    });
            addConnection(socket, true);
            statusTexts << tr("Connecting to %1:%2").arg(host).arg(port);
            connectClock.start();
            socket->connectToHost(host, port, QIODevice::ReadWrite);
        }
        statusTimer.setSingleShot(false);
        // Often enough that an idle connection goes soon after its time-out.
        int tick = limits.statusPeriodMs;
        if (server && limits.idleTimeoutMs > 0)
            tick = qMin(tick, qMax(20, limits.idleTimeoutMs / 4));
        statusTimer.start(tick);
        started = true;
    }
    emit newData();
}

void ZorRcNetworking::stop()
{
    {
        std::lock_guard<std::recursive_mutex> locker(mutex);
        if (!started)
            return;
    }
    statusTimer.stop();
    qDebug("ZorRcNetworking::stop()");
    std::lock_guard<std::recursive_mutex> locker(mutex);
    tcpServer->close();
    for (Connection &c : connections) {
        if (c.socket) {
            c.socket->abort();
            c.socket->deleteLater();
        }
    }
    connections.clear();
    // What came in for the ended session is not carried into the next one.
    incoming.clear();
    incomingChars = 0;
    statusTexts.clear();
    pendingError.clear();
    connectClock.invalidate();
    stopped.notify_all();
    started = false;
}

void ZorRcNetworking::addConnection(QTcpSocket *socket, bool admitted)
{
    // Qt reads no more than this ahead of us: what a peer sends beyond it
    // waits in the system's buffers and, past those, in the peer.
    socket->setReadBufferSize(ReadChunkBytes);
    Connection c;
    c.socket = socket;
    c.peer = peerText(socket);
    c.admitted = admitted;
    c.lastInput.start();
    connections << c;
    if (admitted)
        ++m_admissions;
}

void ZorRcNetworking::acceptConnection()
{
    qDebug("ZorRcNetworking::acceptConnection()");
    {
        std::lock_guard<std::recursive_mutex> locker(mutex);
        while (tcpServer->hasPendingConnections()) {
            QTcpSocket *socket = tcpServer->nextPendingConnection();
            if (!socket)
                break;
            dropClosedConnections();
            const QString peer = peerText(socket);
            qInfo().noquote() << "Remote control: connection from" << peer << "port"
                              << socket->peerPort();
            if (connections.size() >= limits.maxClients) {
                statusTexts << tr("Connection from %1 refused: too many clients").arg(peer);
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QTcpSocket::readyRead, this, &ZorRcNetworking::dataArrived);
            addConnection(socket, secret.isEmpty());
            statusTexts << tr("Connection from %1").arg(peer);
        }
    }
    emit newData();
}

void ZorRcNetworking::connected()
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    statusTexts << tr("Connected to %1:%2").arg(host).arg(port);
    // The server hears the secret before anything else.
    if (!secret.isEmpty()) {
        if (auto *socket = qobject_cast<QTcpSocket *>(sender()))
            socket->write(frame(secret));
    }
}

void ZorRcNetworking::dataArrived()
{
    bool arrived = false;
    {
        std::lock_guard<std::recursive_mutex> locker(mutex);
        const int before = incoming.size();
        for (Connection &c : connections) {
            if (!c.socket)
                continue;
            // Complete messages left from a read held back at the cap first.
            if (c.held && (!takeMessages(c) || c.held))
                continue;
            while (c.socket->bytesAvailable() > 0) {
                if (incomingFull()) {
                    c.held = true;
                    break;
                }
                c.buffer += c.socket->read(ReadChunkBytes);
                c.lastInput.start();
                if (!takeMessages(c) || c.held)
                    break;
            }
        }
        arrived = incoming.size() > before;
    }
    if (arrived)
        emit newData();
}

bool ZorRcNetworking::takeMessages(Connection &c)
{
    const int max = limits.maxFrameBytes;
    int pos = 0;
    c.held = false;
    for (;;) {
        // A message ends where a line feed follows the line feed that ended
        // its last line: the first "\n\n" after its start.
        const int at = c.buffer.indexOf(MessageEnd, pos);
        if (at < 0)
            break;
        if (c.admitted && incomingFull()) {
            // The rest waits until the module has taken what is there.
            c.held = true;
            break;
        }
        if (at - pos > max) {
            closeConnection(c, tr("message longer than %1 bytes").arg(max));
            return false;
        }
        const QString text = QString::fromLatin1(c.buffer.constData() + pos, at - pos);
        pos = at + MessageEnd.size();
        if (!c.admitted) {
            if (!sameSecret(text, secret)) {
                closeConnection(c, tr("wrong secret"));
                return false;
            }
            c.admitted = true;
            ++m_admissions;
            continue;
        }
        incoming << text;
        incomingChars += text.size();
    }
    c.buffer.remove(0, pos);
    if (!c.held && c.buffer.size() > max) {
        closeConnection(c, tr("message longer than %1 bytes").arg(max));
        return false;
    }
    return true;
}

void ZorRcNetworking::closeConnection(Connection &c, const QString &reason)
{
    statusTexts << tr("Connection from %1 closed: %2").arg(c.peer, reason);
    qInfo().noquote() << "Remote control: connection from" << c.peer << "closed:" << reason;
    c.buffer.clear();
    c.admitted = false;
    if (c.socket)
        c.socket->abort();
}

void ZorRcNetworking::dropClosedConnections()
{
    for (int i = connections.size() - 1; i >= 0; --i) {
        QTcpSocket *socket = connections.at(i).socket.data();
        if (socket && socket->state() != QAbstractSocket::UnconnectedState)
            continue;
        if (socket) {
            socket->close();
            socket->deleteLater();
        }
        connections.removeAt(i);
    }
}

void ZorRcNetworking::closeIdleConnections()
{
    if (limits.idleTimeoutMs <= 0)
        return;
    for (Connection &c : connections) {
        if (!c.socket || c.socket->state() != QAbstractSocket::ConnectedState || c.held
            || c.socket->bytesAvailable() > 0 || c.lastInput.elapsed() <= limits.idleTimeoutMs)
            continue;
        closeConnection(c, tr("nothing received for %1 s").arg(limits.idleTimeoutMs / 1000.0));
    }
}

void ZorRcNetworking::noteError(const QString &text)
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    if (started && pendingError.isEmpty())
        pendingError = text;
}

void ZorRcNetworking::send()
{
    std::lock_guard<std::recursive_mutex> locker(mutex);
    if (outgoing.isEmpty())
        return;
    QByteArray batch;
    for (const QString &text : qAsConst(outgoing))
        batch += frame(text);
    outgoing.clear();
    for (Connection &c : connections) {
        if (!c.socket || !c.admitted || c.socket->state() != QAbstractSocket::ConnectedState)
            continue;
        if (c.socket->bytesToWrite() + batch.size() > limits.maxQueuedBytes) {
            closeConnection(c, tr("it does not take what is sent"));
            continue;
        }
        c.socket->write(batch);
    }
}

void ZorRcNetworking::newStatus()
{
    bool added = false;
    {
        std::lock_guard<std::recursive_mutex> locker(mutex);
        if (!started)
            return;
        const int before = statusTexts.size();
        if (!pendingError.isEmpty()) {
            statusTexts << tr("error: %1").arg(pendingError);
            pendingError.clear();
        }
        if (server) {
            closeIdleConnections();
            dropClosedConnections();
        } else {
            const bool isConnected = !connections.isEmpty() && connections.first().socket
                                     && connections.first().socket->state()
                                            == QAbstractSocket::ConnectedState;
            if (connectClock.isValid() && connectClock.elapsed() > limits.connectTimeoutMs && !isConnected)
                statusTexts << tr("error: connection attempt timeout");
        }
        added = statusTexts.size() > before;
    }
    if (added)
        emit newData();
}
