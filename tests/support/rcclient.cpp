#include "rcclient.h"

#include "zortestutil.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>

RcClient::RcClient()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

RcClient::~RcClient()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.write("close\n");
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

QString RcClient::python()
{
    // Debian's python3.11 is among the packages the set-up script installs;
    // it is preferred to wrappers earlier on the search path, which may take
    // seconds to start.
    const QStringList systemDirs = {QStringLiteral("/usr/bin"), QStringLiteral("/bin")};
    for (const char *name : {"python3.11", "python3"}) {
        QString path = QStandardPaths::findExecutable(QLatin1String(name), systemDirs);
        if (path.isEmpty())
            path = QStandardPaths::findExecutable(QLatin1String(name));
        if (!path.isEmpty())
            return path;
    }
    return QStringLiteral("python3");
}

quint16 RcClient::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool RcClient::connectTo(quint16 port, const QString &host, int timeoutMs)
{
    m_process.start(python(), {ZorTest::sourcePath(QStringLiteral("tests/support/rcclient.py")), host,
                               QString::number(port)});
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(python(), m_process.errorString());
        return false;
    }
    const bool decided = waitUntil([this] { return m_connected || m_closed || !m_error.isEmpty(); },
                                   timeoutMs);
    if (!decided && m_error.isEmpty())
        m_error = QStringLiteral("no connection within %1 ms").arg(timeoutMs);
    return m_connected && m_error.isEmpty();
}

void RcClient::send(const QByteArray &bytes)
{
    m_process.write("send " + bytes.toHex() + "\n");
}

void RcClient::pause()
{
    m_process.write("pause\n");
}

void RcClient::resume()
{
    m_process.write("resume\n");
}

void RcClient::close()
{
    m_process.write("close\n");
    m_process.waitForFinished(5000);
}

void RcClient::readOutput()
{
    m_partialLine += m_process.readAllStandardOutput();
    int newline;
    while ((newline = m_partialLine.indexOf('\n')) >= 0) {
        const QByteArray line = m_partialLine.left(newline);
        m_partialLine.remove(0, newline + 1);
        if (line.startsWith("DATA "))
            m_received += QByteArray::fromHex(line.mid(5));
        else if (line == "CONNECTED")
            m_connected = true;
        else if (line == "CLOSED")
            m_closed = true;
        else if (line.startsWith("REFUSED"))
            m_error = QString::fromLatin1(line);
    }
}

bool RcClient::waitStep()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!m_process.waitForReadyRead(5))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return true;
}

QByteArray RcClient::received()
{
    readOutput();
    return m_received;
}

QStringList RcClient::frames()
{
    readOutput();
    QStringList list;
    int pos = 0;
    int at;
    while ((at = m_received.indexOf("\n\n", pos)) >= 0) {
        list << QString::fromLatin1(m_received.mid(pos, at - pos));
        pos = at + 2;
    }
    return list;
}

QString RcClient::waitForFrame(const QString &pattern, int timeoutMs)
{
    const QRegularExpression expression(pattern);
    QString found;
    waitUntil(
        [&] {
            const QStringList all = frames();
            for (int i = m_cursor; i < all.size(); ++i) {
                if (expression.match(all.at(i)).hasMatch()) {
                    m_cursor = i + 1;
                    found = all.at(i);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool RcClient::waitForClosed(int timeoutMs)
{
    return waitUntil([this] { return m_closed; }, timeoutMs);
}

bool RcClient::isClosed()
{
    readOutput();
    return m_closed;
}
