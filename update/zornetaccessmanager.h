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
// Error codes of downloadFinished: 0 (status, network, incomplete data or an
// unwritable file), -1 (login refused), -2 (that URL text is already being
// downloaded; reported at once and not started again), -3 (a reply finished
// that no download of this object started).
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

    // The code of the latest download that ended with -1, -2 or -3; 0 when
    // none has. Each report carries its own download's code, not this one.
    int lastErrorCode() const { return m_lastErrorCode; }
    int runningCount() const { return m_downloads.size(); }

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
    static bool writeFile(const QString &path, const QByteArray &data);

    QNetworkAccessManager *m_access;
    QMap<QString, ZorDownloadInfo *> m_downloads;
    QString m_userName;
    QString m_password;
    int m_lastErrorCode = 0;
    bool m_aborted = false;
};
