#include "zornetaccessmanager.h"
#include "zordownloadinfo.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

namespace {
// Set on a reply once its finish has been handled: a reply aborted from
// inside one of its own signals may report its finish more than once.
const char kHandled[] = "zorDownloadHandled";
}

ZorNetAccessManager::ZorNetAccessManager(QObject *parent, const QString &userName,
                                         const QString &password)
    : QObject(parent)
    , m_access(new QNetworkAccessManager(this))
    , m_userName(userName)
    , m_password(password)
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    connect(m_access, &QNetworkAccessManager::finished, this, &ZorNetAccessManager::replyFinished);
    connect(m_access, &QNetworkAccessManager::authenticationRequired, this,
            &ZorNetAccessManager::authenticationRequired);
    connect(m_access, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            &ZorNetAccessManager::onProxyAuthenticationRequired);
}

ZorNetAccessManager::~ZorNetAccessManager()
{
    // Whoever owns this object is being torn down too: nothing is reported.
    m_access->disconnect(this);
    qDeleteAll(m_downloads);
    m_downloads.clear();
}

void ZorNetAccessManager::download(const QString &url, const QString &localPath)
{
    if (m_downloads.contains(url)) {
        m_lastErrorCode = -2;
        emit downloadFinished(false, url, localPath, -2);
        return;
    }
    QNetworkReply *reply = m_access->get(QNetworkRequest(QUrl(url, QUrl::StrictMode)));
    auto *info = new ZorDownloadInfo(reply);
    info->url = url;
    info->localPath = localPath;
    m_downloads.insert(url, info);
}

void ZorNetAccessManager::abortAll()
{
    m_aborted = true;
    // An abort may finish its reply at once, which removes the record.
    const QList<ZorDownloadInfo *> records = m_downloads.values();
    QList<QPointer<QNetworkReply>> replies;
    for (ZorDownloadInfo *info : records)
        replies.append(info->reply());
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (reply && reply->isRunning())
            reply->abort();
    }
    // Records whose finish is still on its way go now; it will find none.
    qDeleteAll(m_downloads);
    m_downloads.clear();
}

ZorDownloadInfo *ZorNetAccessManager::recordOf(QNetworkReply *reply) const
{
    for (ZorDownloadInfo *info : m_downloads) {
        if (info->reply() == reply)
            return info;
    }
    return nullptr;
}

void ZorNetAccessManager::authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator)
{
    ZorDownloadInfo *info = recordOf(reply);
    if (!info)
        return;
    if (info->authenticationAnswered) {
        // Asked again: the server refused the credentials.
        info->errorCode = -1;
        m_lastErrorCode = -1;
        reply->abort();
        return;
    }
    info->authenticationAnswered = true;
    authenticator->setUser(m_userName);
    authenticator->setPassword(m_password);
}

void ZorNetAccessManager::replyFinished(QNetworkReply *reply)
{
    if (reply->property(kHandled).toBool())
        return;
    reply->setProperty(kHandled, true);
    reply->deleteLater();

    ZorDownloadInfo *info = recordOf(reply);
    if (!info) {
        if (m_aborted)
            return;
        m_lastErrorCode = -3;
        emit downloadFinished(false, reply->request().url().toString(), QString(), -3);
        return;
    }
    const QString url = info->url;
    const QString localPath = info->localPath;
    const int errorCode = info->errorCode;
    m_downloads.remove(url);

    const bool transferred =
        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200
        && reply->error() == QNetworkReply::NoError && receivedAll(*info);
    delete info;
    if (!transferred) {
        if (!m_aborted)
            emit downloadFinished(false, url, localPath, errorCode);
        return;
    }
    const bool written = writeFile(localPath, reply->readAll());
    emit downloadFinished(written, url, localPath, errorCode);
}

// A reply of known length must have delivered all of it. One of unknown
// length (chunked, or compressed on the way) is complete when it finished
// without a network error: a transfer cut short ends in one.
bool ZorNetAccessManager::receivedAll(const ZorDownloadInfo &info)
{
    return info.bytesTotal < 0 || info.bytesReceived == info.bytesTotal;
}

// Replaces the file only with the whole data: a full disk or a failed write
// leaves any earlier file as it was and reports failure.
bool ZorNetAccessManager::writeFile(const QString &path, const QByteArray &data)
{
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void ZorNetAccessManager::onProxyAuthenticationRequired(const QNetworkProxy &, QAuthenticator *)
{
    // No proxy credentials are known: the transfer fails.
}

void ZorNetAccessManager::onError(QNetworkReply::NetworkError)
{
    // Failures are judged when the reply finishes.
}
