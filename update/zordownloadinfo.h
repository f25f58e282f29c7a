// One running HTTP download of the update client: the reply that carries it,
// where its data goes, whether the server's login question has been answered
// already, and the progress the reply reported last.
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

class ZorDownloadInfo : public QObject
{
    Q_OBJECT
public:
    explicit ZorDownloadInfo(QNetworkReply *reply);
    // Aborts a reply that is still running and schedules its deletion.
    ~ZorDownloadInfo() override;

    QNetworkReply *reply() const { return m_reply.data(); }

    QString url;
    QString localPath;
    bool authenticationAnswered = false;
    // This download's own cause of failure: 0, or -1 after a second login
    // question. Kept per download, so a refused login of one transfer never
    // colours the report of another.
    int errorCode = 0;
    QDateTime lastProgressTime;
    qint64 bytesReceived = 0;
    qint64 bytesTotal = 0;

signals:
    void downloadProgress(const QString &url, qint64 received, qint64 total);
    void error(QNetworkReply::NetworkError code);

public slots:
    void onReplyDownloadProgress(qint64 received, qint64 total);
    void onError(QNetworkReply::NetworkError code);

private:
    QPointer<QNetworkReply> m_reply;
};
