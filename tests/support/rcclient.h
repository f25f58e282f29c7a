// RcClient: a remote-control client outside the program, for tests of the
// remote-control server. It runs tests/support/rcclient.py (Debian's Python
// 3) as a child process that holds one TCP connection, so the server is
// reached over loopback exactly as a program on another computer reaches it.
//
//     RcClient client;
//     QVERIFY2(client.connectTo(port), qPrintable(client.errorString()));
//     client.send("drive1:KM_WHOAMI:KS_REQUEST\n\n");
//     QVERIFY(client.waitForFrame("^drive1:KM_WHOAMI:KS_ANSWER"));
//
// Received bytes are joined and cut into frames at "\n\n" (the server ends
// every message with two line feeds). The waits run the event loop, so
// modules and sockets of the test keep working meanwhile. Use it from the
// thread that made it.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

class RcClient
{
public:
    RcClient();
    ~RcClient();
    RcClient(const RcClient &) = delete;
    RcClient &operator=(const RcClient &) = delete;

    // Starts the client and waits until it has connected (true) or was
    // refused (false, errorString() says why).
    bool connectTo(quint16 port, const QString &host = QStringLiteral("127.0.0.1"),
                   int timeoutMs = 10000);
    QString errorString() const { return m_error; }

    void send(const QByteArray &bytes);
    void pause();
    void resume();
    void close();

    // Every byte received so far, and the complete frames among them (the
    // text before each "\n\n", Latin-1).
    QByteArray received();
    QStringList frames();
    // Waits for the first frame after the cursor that matches the regular
    // expression; moves the cursor past it. Empty after timeoutMs.
    QString waitForFrame(const QString &pattern, int timeoutMs = 10000);
    // Waits until the server has closed the connection.
    bool waitForClosed(int timeoutMs = 10000);
    bool isClosed();
    // Runs the event loop until `done` holds or timeoutMs has passed.
    template<class Predicate>
    bool waitUntil(Predicate done, int timeoutMs);

    // The Python interpreter the client runs on.
    static QString python();
    // A TCP port that is free on 127.0.0.1 at the moment of asking.
    static quint16 freePort();

private:
    void readOutput();
    bool waitStep();

    QProcess m_process;
    QByteArray m_partialLine;
    QByteArray m_received;
    QString m_error;
    bool m_connected = false;
    bool m_closed = false;
    int m_cursor = 0;
};

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template<class Predicate>
bool RcClient::waitUntil(Predicate done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        readOutput();
        if (done())
            return true;
        if (clock.elapsed() > timeoutMs)
            return false;
        waitStep();
    }
}
