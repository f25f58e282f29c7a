#include "catalogserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace {

QString pythonProgram()
{
    for (const char *name : {"python3.11", "python3"}) {
        // Debian's own interpreter first: scripts/setup.sh installs it.
        const QString debian = QStringLiteral("/usr/bin/") + QLatin1String(name);
        if (QFileInfo(debian).isExecutable())
            return debian;
    }
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

} // namespace

CatalogServer::CatalogServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &CatalogServer::readOutput);
}

CatalogServer::~CatalogServer()
{
    stop();
}

bool CatalogServer::start(const QString &root, const QString &user, const QString &password,
                          int timeoutMs)
{
    return start(root, QMap<QString, QString>{{user, password}}, timeoutMs);
}

bool CatalogServer::start(const QString &root, const QMap<QString, QString> &logins, int timeoutMs)
{
    stop();
    m_error.clear();
    m_lines.clear();
    m_partial.clear();
    m_port = 0;
    const QString python = pythonProgram();
    if (python.isEmpty()) {
        m_error = QStringLiteral("python3 not found");
        return false;
    }
    const QString script = QDir(QStringLiteral(ZOR_SOURCE_DIR))
                               .filePath(QStringLiteral("tests/support/catalogserver/catalogserver.py"));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("-u"), script, QStringLiteral("--root"), root};
    for (auto it = logins.cbegin(); it != logins.cend(); ++it)
        arguments << QStringLiteral("--user") << it.key() << QStringLiteral("--password") << it.value();
    m_process.start(python, arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("could not start %1: %2").arg(python, m_process.errorString());
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (m_port == 0 && timer.elapsed() < timeoutMs && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        readOutput();
    }
    if (m_port == 0) {
        m_error = QStringLiteral("the server printed no port");
        stop();
        return false;
    }
    return true;
}

void CatalogServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("QUIT\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QString CatalogServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(path);
}

void CatalogServer::readOutput()
{
    m_partial += m_process.readAllStandardOutput();
    int end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_partial.left(end)).trimmed();
        m_partial.remove(0, end + 1);
        if (m_port == 0 && line.startsWith(QLatin1String("PORT ")))
            m_port = static_cast<quint16>(line.mid(5).toUInt());
        else if (line.startsWith(QLatin1String("REQ ")))
            m_lines << line;
    }
}

QStringList CatalogServer::requests()
{
    readOutput();
    return m_lines;
}

bool CatalogServer::waitForRequests(int count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (requests().size() < count && timer.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_lines.size() >= count;
}

QStringList CatalogServer::pathsWithStatus(int status)
{
    static const QRegularExpression line(QStringLiteral("^REQ (\\S+) auth=.* status=(\\d+)$"));
    QStringList paths;
    for (const QString &request : requests()) {
        const QRegularExpressionMatch m = line.match(request);
        if (m.hasMatch() && m.captured(2).toInt() == status)
            paths << m.captured(1);
    }
    return paths;
}

QString CatalogServer::basicAuthorization(const QString &user, const QString &password)
{
    return QStringLiteral("Basic ")
           + QString::fromLatin1((user + QLatin1Char(':') + password).toUtf8().toBase64());
}
