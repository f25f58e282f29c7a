// ZorRcNetworking: the sockets of the remote-control module.
//
// The wire protocol: one TCP connection per client; characters are Latin-1,
// one byte per character; a message is one or more LF-ended lines followed
// by an empty line (so it ends with two LF characters, and CR LF line ends
// never end one). What is sent is the message text with white space removed
// at both ends and two LF characters appended.
//
// The object lives in the thread that owns the module object (the module
// host's thread, which runs an event loop); its slots, server and sockets
// run there. The module thread drives it through cmd() (queued: 1 start, 2
// stop, 3 send) and exchanges texts with it through three lists under one
// mutex: complete messages received (takeIncoming), texts to write
// (appendOutgoing) and status texts for the module (takeStatusTexts), the
// latter being progress lines and lines that begin "error:". newData() is
// emitted when something arrived that the module should see at once.
//
// Server mode listens on the bind address (127.0.0.1 unless the module opens
// it wider) and writes every outgoing text to every connected client; client
// mode connects to one server. Safeguards for a server reachable from the
// network: with a shared secret set, a connection's first message must be
// that secret (else it is closed, and it hears nothing before); a message
// longer than the frame limit closes its connection; the number of clients
// and the output queued for each client are limited (a client that does not
// read is closed); a client that sends nothing for the idle time-out is
// closed (server mode), so that idle connections cannot keep the others
// out. These closings are progress lines, never errors: one client cannot
// stop the server. Only socket errors that Qt raised since the last status
// tick become "error:" lines.
//
// Memory stays bounded whatever the peers send: each socket buffers at most
// a read chunk, and the received messages waiting for the module are capped
// in number and bytes. At the cap the connections are not read further (the
// peers' TCP windows close, so a fast sender is slowed, not dropped) until
// the module has taken what waits.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QTcpServer;
class QTcpSocket;

class ZorRcNetworking : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        int maxFrameBytes = 1 << 20;          // 1 MiB
        int maxClients = 32;
        qint64 maxQueuedBytes = 16 << 20;     // per client
        int connectTimeoutMs = 10000;         // client mode
        int statusPeriodMs = 1000;            // the status tick
        int maxIncoming = 4096;               // messages waiting for the module
        qint64 maxIncomingBytes = 8 << 20;    // their characters
        int idleTimeoutMs = 300000;           // server mode; 0: none
    };
    // What one read takes from a socket, and what a socket buffers.
    static const int ReadChunkBytes = 256 << 10;

    explicit ZorRcNetworking(QObject *parent = nullptr);
    ~ZorRcNetworking() override;
    // Clients admitted so far (connected, and their secret given where one
    // is asked): a change tells the module that a client came which has
    // not heard what was sent before it. Any thread.
    quint64 admissions() const { return m_admissions.load(); }

    // --- set by the module thread before cmd(1)
    // An empty host means server mode.
    void setEndpoint(const QString &host, quint16 port);
    // Server mode: the address to listen on. Empty or "127.0.0.1": loopback
    // only; "any", "*" or "0.0.0.0": every IPv4 interface; else that address.
    void setBindAddress(const QString &address);
    void setSecret(const QString &secret);
    void setLimits(const Limits &limits);
    // The idle time-out alone (the module's property), in ms; 0: none.
    void setIdleTimeout(int ms);
    bool isServer() const;

    // --- the lists (any thread)
    QStringList takeIncoming();
    QStringList takeStatusTexts();
    // Appends a text to write; true when the list was empty before, that is,
    // when a send() has to be asked for.
    bool appendOutgoing(const QString &text);
    // Connections in the connected state (server: clients; client: 0 or 1).
    int connectedCount() const;
    bool isListening() const;

    // The text as it goes on the wire: trimmed, blank lines inside collapsed
    // (an empty line would end the message early), two LF characters added.
    static QByteArray frame(const QString &text);

signals:
    void newData();

public slots:
    void cmd(int n);
    void start();
    void stop();
    void send();

private slots:
    void acceptConnection();
    void connected();
    void dataArrived();
    void newStatus();

private:
    std::atomic<quint64> m_admissions{0};
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;          // received since the last complete message
        QString peer;
        bool admitted = false;      // the secret was given (or none is needed)
        bool held = false;          // not read further while the module is behind
        QElapsedTimer lastInput;    // since the connection or its last bytes
    };

    void addConnection(QTcpSocket *socket, bool admitted);
    // Takes the complete messages out of the connection's buffer; false when
    // the connection has been closed for breaking a rule.
    bool takeMessages(Connection &connection);
    void closeConnection(Connection &connection, const QString &reason);
    void dropClosedConnections();
    void closeIdleConnections();
    bool incomingFull() const;
    void noteError(const QString &text);
    static QString peerText(const QTcpSocket *socket);

    QString host;
    quint16 port = 0;
    bool server = true;
    QString bindAddress;
    QString secret;
    Limits limits;

    QPointer<QTcpServer> tcpServer;
    QList<Connection> connections;
    // Recursive: a socket call made under it may emit a signal that lands
    // in a slot of this object at once.
    mutable std::recursive_mutex mutex;
    std::condition_variable_any stopped;
    QStringList statusTexts;
    QStringList incoming;
    qint64 incomingChars = 0;
    QStringList outgoing;
    // A socket or server error raised since the last status tick.
    QString pendingError;
    bool started = false;
    QTimer statusTimer;
    QElapsedTimer connectClock;
};
