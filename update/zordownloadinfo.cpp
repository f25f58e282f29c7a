#include "zordownloadinfo.h"

#include <QSaveFile>

ZorDownloadInfo::ZorDownloadInfo(QNetworkReply *reply)
    : lastProgressTime(QDateTime::currentDateTime())
    , m_reply(reply)
{
    stallTimer.setSingleShot(true);
    // Never given up before the time-out has passed (a coarse timer may
    // fire 5 % early).
    stallTimer.setTimerType(Qt::PreciseTimer);
    if (!reply)
        return;
    connect(reply, &QNetworkReply::downloadProgress, this, &ZorDownloadInfo::onReplyDownloadProgress);
    connect(reply, &QNetworkReply::errorOccurred, this, &ZorDownloadInfo::onError);
}

ZorDownloadInfo::~ZorDownloadInfo()
{
    if (m_file)
        m_file->cancelWriting();
    if (!m_reply)
        return;
    // The reply must not report to a record that is gone.
    m_reply->disconnect(this);
    if (m_reply->isRunning())
        m_reply->abort();
    m_reply->deleteLater();
}

bool ZorDownloadInfo::write(const QByteArray &data)
{
    if (writeFailed)
        return false;
    if (!m_file) {
        m_file.reset(new QSaveFile(localPath));
        if (localPath.isEmpty() || !m_file->open(QIODevice::WriteOnly)) {
            writeFailed = true;
            return false;
        }
    }
    // Each piece goes to the disk as it arrives (not kept back in the
    // file's own buffer), so that a stalled transfer's data is on disk.
    if (!data.isEmpty() && (m_file->write(data) != data.size() || !m_file->flush())) {
        writeFailed = true;
        return false;
    }
    m_written += data.size();
    return true;
}

bool ZorDownloadInfo::commit()
{
    if (!write(QByteArray()))
        return false;
    const bool committed = m_file->commit();
    m_file.reset();
    return committed;
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
