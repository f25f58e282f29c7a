#include "zornetaccessmanager.h"
#include "zordownloadinfo.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkRequest>
#include <QUrl>

namespace {
// Set on a reply once its finish has been handled: a reply aborted from
// inside one of its own signals may report its finish more than once.
const char kHandled[] = "zorDownloadHandled";
// What Qt may hold of a reply before it is read: the rest waits in the
// socket, so a download costs this much memory whatever its size.
const qint64 kReadBufferBytes = 1024 * 1024;

bool isOk(QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
}
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
    reply->setReadBufferSize(kReadBufferBytes);
    auto *info = new ZorDownloadInfo(reply);
    info->url = url;
    info->localPath = localPath;
    m_downloads.insert(url, info);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { receive(reply); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { checkAnnouncedSize(reply); });
    // Anything that arrives, a login question included, shows the server
    // is still there.
    connect(reply, &QNetworkReply::downloadProgress, &info->stallTimer, qOverload<>(&QTimer::start));
    connect(reply, &QNetworkReply::metaDataChanged, &info->stallTimer, qOverload<>(&QTimer::start));
    connect(&info->stallTimer, &QTimer::timeout, this, [this, info] { giveUp(info, -4); });
    info->stallTimer.start(m_stallTimeoutMs);
}

void ZorNetAccessManager::giveUp(ZorDownloadInfo *info, int errorCode)
{
    info->errorCode = errorCode;
    m_lastErrorCode = errorCode;
    info->stallTimer.stop();
    if (info->reply() && info->reply()->isRunning())
        info->reply()->abort();
}

void ZorNetAccessManager::checkAnnouncedSize(QNetworkReply *reply)
{
    ZorDownloadInfo *info = recordOf(reply);
    if (!info || !isOk(reply))
        return;
    bool known = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && announced > m_maxDownloadBytes)
        giveUp(info, -5);
}

void ZorNetAccessManager::receive(QNetworkReply *reply)
{
    if (!reply->isOpen())
        return;   // aborted
    ZorDownloadInfo *info = recordOf(reply);
    if (!info) {
        reply->readAll();
        return;
    }
    info->stallTimer.start();
    // Only the answer that counts is kept: a refused login's page is not
    // the file.
    const QByteArray data = reply->readAll();
    if (!isOk(reply) || info->errorCode != 0)
        return;
    if (info->written() + data.size() > m_maxDownloadBytes) {
        giveUp(info, -5);
        return;
    }
    if (!info->write(data) && reply->isRunning())
        reply->abort();
}

QString ZorNetAccessManager::failureText(int errorCode, const QString &url) const
{
    if (errorCode == -4) {
        return tr("Nothing arrived from %1 for %2 s: the transfer was stopped.")
            .arg(url)
            .arg(m_stallTimeoutMs / 1000.0);
    }
    if (errorCode == -5)
        return tr("%1 is larger than the %2 bytes a download may have: it was refused.").arg(url).arg(m_maxDownloadBytes);
    return QString();
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
        giveUp(info, -1);
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
    receive(reply);
    const QString url = info->url;
    const QString localPath = info->localPath;
    const int errorCode = info->errorCode;
    m_downloads.remove(url);

    const bool transferred = isOk(reply) && reply->error() == QNetworkReply::NoError && errorCode == 0
                             && receivedAll(*info);
    // Committed only when whole; otherwise the record takes its partial
    // data with it.
    const bool written = transferred && info->commit();
    delete info;
    if (!transferred) {
        if (!m_aborted)
            emit downloadFinished(false, url, localPath, errorCode);
        return;
    }
    emit downloadFinished(written, url, localPath, errorCode);
}

// A reply of known length must have delivered all of it, and all of that
// must be in the file. One of unknown length (chunked, or compressed on the
// way) is complete when it finished without a network error: a transfer cut
// short ends in one.
bool ZorNetAccessManager::receivedAll(const ZorDownloadInfo &info)
{
    if (info.writeFailed)
        return false;
    return info.bytesTotal < 0 || (info.bytesReceived == info.bytesTotal && info.written() == info.bytesTotal);
}

void ZorNetAccessManager::onProxyAuthenticationRequired(const QNetworkProxy &, QAuthenticator *)
{
    // No proxy credentials are known: the transfer fails.
}

void ZorNetAccessManager::onError(QNetworkReply::NetworkError)
{
    // Failures are judged when the reply finishes.
}
