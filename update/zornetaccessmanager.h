// HTTP downloads of the update client: GET a URL into a local file.
//
// One record per running download, keyed by the URL text it was asked for.
// A server's login question is answered once per download with the user name
// and password given at construction; a second question means the server
// refused them, and the download is aborted (code -1). A transfer counts as
// done only with status 200, no network error and every announced byte
// received; redirects are not followed. Each download ends in exactly one
// downloadFinished, except those ended by abortAll or the destructor, which
// end silently. Transfers use the operating system's proxy settings; a proxy
// that asks for a login makes them fail.
//
// Data goes to the local file as it arrives (never held whole in memory)
// and the file appears only once the download succeeded. A body larger than
// maxDownloadBytes() is refused, whether announced or received, and a
// transfer that receives nothing for stallTimeoutMs() is given up.
//
// Error codes of downloadFinished: 0 (status, network, incomplete data or an
// unwritable file), -1 (login refused), -2 (that URL text is already being
// downloaded; reported at once and not started again), -3 (a reply finished
// that no download of this object started), -4 (nothing arrived within the
// time-out), -5 (larger than allowed). failureText() words the last two.
//
// GUI thread only.
#pragma once

#include <QAuthenticator>
#include <QMap>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class ZorDownloadInfo;

class ZorNetAccessManager : public QObject
{
    Q_OBJECT
public:
    ZorNetAccessManager(QObject *parent, const QString &userName, const QString &password);
    // Aborts every running download without reporting it.
    ~ZorNetAccessManager() override;

    void download(const QString &url, const QString &localPath);
    void abortAll();

    // The code of the latest download that ended with a negative code; 0
    // when none has. Each report carries its own download's code, not this one.
    int lastErrorCode() const { return m_lastErrorCode; }
    int runningCount() const { return m_downloads.size(); }

    // A transfer that receives nothing for this long fails with -4
    // (30000 ms; tests make it short). Applies to downloads started later.
    void setStallTimeoutMs(int ms) { m_stallTimeoutMs = ms; }
    int stallTimeoutMs() const { return m_stallTimeoutMs; }
    // A body larger than this fails with -5 (4 GiB).
    void setMaxDownloadBytes(qint64 bytes) { m_maxDownloadBytes = bytes; }
    qint64 maxDownloadBytes() const { return m_maxDownloadBytes; }
    // What a failure with code -4 or -5 means, for the user; empty for the
    // other codes, whose callers word their own.
    QString failureText(int errorCode, const QString &url) const;

signals:
    void downloadFinished(bool ok, const QString &url, const QString &localPath, int errorCode);

public slots:
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);
    void replyFinished(QNetworkReply *reply);
    void onProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void onError(QNetworkReply::NetworkError code);

private:
    ZorDownloadInfo *recordOf(QNetworkReply *reply) const;
    static bool receivedAll(const ZorDownloadInfo &info);
    // Takes what the reply holds into the local file.
    void receive(QNetworkReply *reply);
    void checkAnnouncedSize(QNetworkReply *reply);
    // Ends a transfer with this code (it finishes as failed).
    void giveUp(ZorDownloadInfo *info, int errorCode);

    QNetworkAccessManager *m_access;
    QMap<QString, ZorDownloadInfo *> m_downloads;
    QString m_userName;
    QString m_password;
    int m_lastErrorCode = 0;
    bool m_aborted = false;
    int m_stallTimeoutMs = 30000;
    qint64 m_maxDownloadBytes = qint64(4) * 1024 * 1024 * 1024;
};
