// CatalogServer: a loopback HTTP server with Basic authentication
// (tests/support/catalogserver/catalogserver.py, run by Python 3) serving
// the files of one folder, as an update server's web folder does.
//
// It prints one line per request it receives, "REQ <path> auth=<header or
// -> status=<code>"; this class collects them. Special path prefixes serve a
// file short, chunked, gzip-compressed, stalled, or answer a bare status
// (see the script's opening comment).
//
//     CatalogServer server;
//     QVERIFY2(server.start(dir.path(), "alice", "secret"), qPrintable(server.errorString()));
//     manager.download(server.url("file.txt"), local);
//     ... server.requests() ...
//
// Use it from the thread that created it. The destructor stops the server.
#pragma once

#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class CatalogServer : public QObject
{
    Q_OBJECT
public:
    explicit CatalogServer(QObject *parent = nullptr);
    ~CatalogServer() override;

    // Serves `root` to the given user; waits for the port. False with
    // errorString() when Python is missing or no port came in time.
    bool start(const QString &root, const QString &user, const QString &password,
               int timeoutMs = 10000);
    // The same for several users: user name -> password.
    bool start(const QString &root, const QMap<QString, QString> &logins, int timeoutMs = 10000);
    void stop();
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>/<path>".
    QString url(const QString &path = QString()) const;

    // Every request line received so far, in arrival order.
    QStringList requests();
    // Waits until at least `count` request lines have come.
    bool waitForRequests(int count, int timeoutMs = 10000);
    // The paths of the requests answered with `status`, in arrival order.
    QStringList pathsWithStatus(int status);
    // The expected Authorization header of a user.
    static QString basicAuthorization(const QString &user, const QString &password);

private:
    void readOutput();

    QProcess m_process;
    QString m_error;
    QStringList m_lines;
    QByteArray m_partial;
    quint16 m_port = 0;
};
