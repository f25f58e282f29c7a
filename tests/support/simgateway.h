// SimGateway: the simulated network CAN gateway (tests/support/simgateway/,
// a Node.js program) run as a child process for one test.
//
// The gateway listens on 127.0.0.1 at a port of its own choosing, speaks the
// ASCII adapter protocol to every TCP client, carries frames among all
// clients (a CAN bus) and hosts CANopen nodes on that bus. It is driven by
// text commands on its stdin (answered "OK <VERB> ..." or "ERR <VERB> ...")
// and reports events as lines on its stdout; README.md beside the program
// lists both. This class starts it, collects every stdout line, and offers
// waits on them with time-outs (no fixed sleeps: the waits run the event
// loop, so sockets of the test keep working meanwhile).
//
//     SimGateway gw;
//     QVERIFY2(gw.start({"--node", "5"}), qPrintable(gw.errorString()));
//     QTcpSocket s; s.connectToHost(QHostAddress::LocalHost, gw.port());
//     ...
//     QVERIFY(gw.command("NODE EMCY 5 10 81 11 01 02 03 04 05"));
//     QVERIFY(gw.waitForLine("^BUS n5 t0858").hasMatch());
//
// Use it from the thread that created it. The destructor stops the process.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

class SimGateway : public QObject
{
    Q_OBJECT
public:
    explicit SimGateway(QObject *parent = nullptr);
    // Stops the gateway ("QUIT", then kill if it lingers) and restores
    // QUORVANE_SIM_GATEWAY if exportAddress() set it.
    ~SimGateway() override;

    // Starts the gateway with the given command-line arguments (for example
    // {"--node", "5 heartbeat=100", "--bitrate", "250k"}) and waits for its
    // "PORT" line. False with errorString() when node is missing, the
    // program fails or no port came within timeoutMs.
    bool start(const QStringList &arguments = QStringList(), int timeoutMs = 10000);
    // Options for Node.js itself (V8 flags) that the next start() passes.
    void setNodeOptions(const QStringList &options) { m_nodeOptions = options; }
    // Stops the gateway; safe to call when it is not running.
    void stop();
    bool isRunning() const;
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    // "127.0.0.1:<port>", the port text of the CAN-over-TCP driver.
    QString address() const;
    // Sets QUORVANE_SIM_GATEWAY to address() for the adapter stand-ins; the
    // previous value comes back when this object is destroyed.
    void exportAddress();

    // Sends one control command and waits for its answer. Returns true for
    // "OK"; the whole answer line goes to *reply (also for "ERR"). A missing
    // answer within timeoutMs gives false and reply "timeout".
    bool command(const QString &line, QString *reply = nullptr, int timeoutMs = 5000);
    // The result part of an OK answer ("OK NODE GET 92010200" -> "92010200"),
    // or a null string when the command failed.
    QString query(const QString &line, int timeoutMs = 5000);

    // Conveniences over command().
    bool addNode(int handle, const QString &options = QString());
    bool inject(const QString &frameLine);          // "t1232aabb"
    bool setBitRate(const QString &rate);           // "250000", "250k", "any"
    bool drop(bool hangup = false);                 // DROP refuse / DROP hangup
    bool accept();
    // Object value of a node as raw bytes (NODE GET); empty on error.
    QByteArray nodeValue(int handle, int index, int subindex);

    // Every stdout line so far (PORT line included), in order.
    QStringList lines() const { return m_lines; }
    // Waits for the next line matching pattern (a QRegularExpression),
    // searching from the cursor; on a match the cursor moves past it, so
    // consecutive waits expect lines in that order. No match within
    // timeoutMs gives a match object whose hasMatch() is false.
    QRegularExpressionMatch waitForLine(const QString &pattern, int timeoutMs = 5000);
    // The cursor of waitForLine() is an index into lines(): mark() returns
    // the end (lines arriving later come after it), setCursor() moves it,
    // e.g. back to a mark to search earlier lines again.
    int mark() const { return m_lines.size(); }
    int cursor() const { return m_cursor; }
    void setCursor(int index) { m_cursor = index; }

    // Waits for the next "CONNECT" line after the cursor and returns the
    // client id, or -1 after timeoutMs.
    int waitForClient(int timeoutMs = 5000);
    // What client cid wrote, each entry one chunk as it arrived (one TCP
    // read on the gateway: "C\r", "S5\r", "O\r" written apart arrive as three
    // entries when the writer paused between them).
    QList<QByteArray> clientWrites(int cid) const;
    // All bytes client cid wrote so far, joined.
    QByteArray clientBytes(int cid) const;
    // Waits until the bytes of client cid contain needle.
    bool waitForClientBytes(int cid, const QByteArray &needle, int timeoutMs = 5000);

    // The escapes of the event lines: \r \n \t \a \\ and \xHH.
    static QByteArray unescape(const QString &text);
    static QString escape(const QByteArray &bytes);

signals:
    // Emitted for every stdout line as it arrives.
    void lineReceived(const QString &line);

private:
    void readOutput();
    // Runs the event loop until a line has come or timeoutMs has passed.
    bool waitForOutput(int timeoutMs);

    QProcess *m_process = nullptr;
    QByteArray m_partial;
    QStringList m_lines;
    int m_cursor = 0;
    quint16 m_port = 0;
    QString m_error;
    QStringList m_nodeOptions;
    bool m_envSet = false;
    bool m_envHadValue = false;
    QByteArray m_envOldValue;
};
