#include "zordownloadinfo.h"

ZorDownloadInfo::ZorDownloadInfo(QNetworkReply *reply)
    : lastProgressTime(QDateTime::currentDateTime())
    , m_reply(reply)
{
    if (!reply)
        return;
    connect(reply, &QNetworkReply::downloadProgress, this, &ZorDownloadInfo::onReplyDownloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &ZorDownloadInfo::onError);
}

ZorDownloadInfo::~ZorDownloadInfo()
{
    if (!m_reply)
        return;
    // The reply must not report to a record that is gone.
    m_reply->disconnect(this);
    if (m_reply->isRunning())
        m_reply->abort();
    m_reply->deleteLater();
}

void ZorDownloadInfo::onReplyDownloadProgress(qint64 received, qint64 total)
{
    lastProgressTime = QDateTime::currentDateTime();
    bytesReceived = received;
    bytesTotal = total;
    emit downloadProgress(url, received, total);
}

void ZorDownloadInfo::onError(QNetworkReply::NetworkError code)
{
    emit error(code);
}
