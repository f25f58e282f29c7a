#include "zorqmlnetworkaccess.h"

#include "zorqmlinterface.h"

#include <QMetaObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// The reply to a refused request: finished at once with the error, no data.
class RefusedReply : public QNetworkReply
{
public:
    RefusedReply(QNetworkAccessManager::Operation operation, const QNetworkRequest &request,
                 const QString &reason, QObject *parent)
        : QNetworkReply(parent)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(operation);
        setError(ContentAccessDenied, reason);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        setFinished(true);
        // After the caller has connected to the reply.
        QTimer::singleShot(0, this, [this] {
            emit errorOccurred(ContentAccessDenied);
            emit finished();
        });
    }
    void abort() override {}
    qint64 bytesAvailable() const override { return 0; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
};

class GuardedAccessManager : public QNetworkAccessManager
{
public:
    GuardedAccessManager(ZorQmlNetworkAccess *guard, QObject *parent)
        : QNetworkAccessManager(parent), m_guard(guard)
    {
    }

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override
    {
        const QString reason = m_guard->refusal(request.url());
        if (reason.isEmpty())
            return QNetworkAccessManager::createRequest(operation, request, outgoingData);
        emit m_guard->refused(request.url().toDisplayString() + QStringLiteral(": ") + reason);
        return new RefusedReply(operation, request, reason, this);
    }

private:
    ZorQmlNetworkAccess *m_guard;   // outlives every engine and its managers
};

} // namespace

ZorQmlNetworkAccess::ZorQmlNetworkAccess(QObject *parent)
    : QObject(parent)
{
}

ZorQmlNetworkAccess::~ZorQmlNetworkAccess() = default;

QNetworkAccessManager *ZorQmlNetworkAccess::create(QObject *parent)
{
    return new GuardedAccessManager(this, parent);
}

QString ZorQmlNetworkAccess::refusal(const QUrl &url) const
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("qrc") || scheme == QLatin1String("data"))
        return QString();
    if (url.isLocalFile() || scheme == QLatin1String("file")) {
        QString error;
        if (ZorQmlInterface::projectFilePath(url.toLocalFile(), &error).isEmpty())
            return error;
        return QString();
    }
    if (m_remoteAllowed)
        return QString();
    return tr("screens reach only files of the project folder");
}
