// One running HTTP download of the update client: the reply that carries it,
// where its data goes, whether the server's login question has been answered
// already, and the progress the reply reported last.
//
// The data goes to the local file as it arrives, through a QSaveFile: the
// file appears (or replaces an earlier one) only when the download is
// committed whole, and a download that fails leaves nothing behind. A timer
// notices a transfer that has received nothing for a while.
//
// ZorNetAccessManager owns every record from the start of its download until
// the reply finishes; the record's own signals are there for listeners that
// want to show progress.
#pragma once

#include <QDateTime>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class QSaveFile;

class ZorDownloadInfo : public QObject
{
    Q_OBJECT
public:
    explicit ZorDownloadInfo(QNetworkReply *reply);
    // Aborts a reply that is still running and schedules its deletion; data
    // written so far is thrown away unless committed.
    ~ZorDownloadInfo() override;

    QNetworkReply *reply() const { return m_reply.data(); }

    // Writes data to the local file, opening it first; false when the file
    // cannot be opened or written.
    bool write(const QByteArray &data);
    // Makes the local file whole (an empty one when no data came); false
    // when that fails.
    bool commit();
    qint64 written() const { return m_written; }

    QString url;
    QString localPath;
    bool authenticationAnswered = false;
    // This download's own cause of failure: 0, or one of the manager's
    // negative codes. Kept per download, so a refused login of one transfer
    // never colours the report of another.
    int errorCode = 0;
    // A write to the local file failed: the download fails.
    bool writeFailed = false;
    QDateTime lastProgressTime;
    qint64 bytesReceived = 0;
    qint64 bytesTotal = 0;
    // Restarted whenever anything arrives.
    QTimer stallTimer;

signals:
    void downloadProgress(const QString &url, qint64 received, qint64 total);
    void error(QNetworkReply::NetworkError code);

public slots:
    void onReplyDownloadProgress(qint64 received, qint64 total);
    void onError(QNetworkReply::NetworkError code);

private:
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QSaveFile> m_file;
    qint64 m_written = 0;
};
