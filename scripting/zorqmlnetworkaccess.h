// ZorQmlNetworkAccess: what an operator screen may reach through the QML
// engine's own network access (XMLHttpRequest, remote images and
// components). A screen reaches files through the bridge ZorQmlInterface,
// inside the project folder; the engine's access is held to the same:
//
//   qrc: and data: URLs             always
//   file: URLs                      inside the project folder (links
//                                   resolved, links that lead nowhere
//                                   refused), as ZorQmlInterface allows
//   any other URL (http:, ftp: ...) only when the screen's panel allows it
//
// A refused request fails at once (ContentAccessDenied) and the refusal is
// reported through refused(), which the panel shows. The factory is set on
// every engine the panel makes and outlives them; it may be asked for a
// manager from the engine's loader threads, so refusals cross to the
// panel's thread through a queued signal.
#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QQmlNetworkAccessManagerFactory>

#include <atomic>

class ZorQmlNetworkAccess : public QObject, public QQmlNetworkAccessManagerFactory
{
    Q_OBJECT
public:
    explicit ZorQmlNetworkAccess(QObject *parent = nullptr);
    ~ZorQmlNetworkAccess() override;

    QNetworkAccessManager *create(QObject *parent) override;

    // Whether URLs other than files and resources may be reached.
    void setRemoteAllowed(bool allowed) { m_remoteAllowed = allowed; }
    bool remoteAllowed() const { return m_remoteAllowed; }

    // Why a request for `url` is refused; empty when it may go.
    QString refusal(const QUrl &url) const;

signals:
    // "<url>: <reason>"; emitted in the thread of the manager that refused.
    void refused(const QString &text);

private:
    std::atomic<bool> m_remoteAllowed{false};
};
