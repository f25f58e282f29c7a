#include "simgateway.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

namespace {

QString scriptDir()
{
    return QDir(QStringLiteral(ZOR_SOURCE_DIR)).filePath(QStringLiteral("tests/support/simgateway"));
}

// The name the gateway repeats in its answer: the verb, with the
// subcommand for NODE ("NODE GET").
QString commandName(const QString &line)
{
    const QStringList words = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    QString name = words.at(0).toUpper();
    if (name == QLatin1String("NODE") && words.size() > 1)
        name += QLatin1Char(' ') + words.at(1).toUpper();
    return name;
}

int hexDigit(QChar c)
{
    const int v = c.unicode();
    if (v >= '0' && v <= '9')
        return v - '0';
    if (v >= 'a' && v <= 'f')
        return v - 'a' + 10;
    if (v >= 'A' && v <= 'F')
        return v - 'A' + 10;
    return -1;
}

} // namespace

SimGateway::SimGateway(QObject *parent)
    : QObject(parent)
{
}

SimGateway::~SimGateway()
{
    stop();
    if (m_envSet) {
        if (m_envHadValue)
            qputenv("QUORVANE_SIM_GATEWAY", m_envOldValue);
        else
            qunsetenv("QUORVANE_SIM_GATEWAY");
    }
}

bool SimGateway::start(const QStringList &arguments, int timeoutMs)
{
    stop();
    m_error.clear();
    m_lines.clear();
    m_partial.clear();
    m_cursor = 0;
    m_port = 0;

    QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        node = QStandardPaths::findExecutable(QStringLiteral("nodejs"));
    if (node.isEmpty()) {
        m_error = QStringLiteral("node (Node.js) not found on PATH");
        return false;
    }
    const QString dir = scriptDir();
    if (!QFileInfo::exists(dir + QStringLiteral("/node_modules/canopen/package.json"))) {
        m_error = QStringLiteral("npm packages missing: run 'npm ci --ignore-scripts' in %1 (./test.sh does)").arg(dir);
        return false;
    }

    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->setWorkingDirectory(dir);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &SimGateway::readOutput);
    // Options for Node.js itself, before the program: those set here and
    // those of ZOR_SIM_NODE_FLAGS (for a diagnosis, --trace-gc say).
    const QStringList nodeFlags =
        m_nodeOptions + qEnvironmentVariable("ZOR_SIM_NODE_FLAGS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    m_process->start(node, nodeFlags + QStringList{dir + QStringLiteral("/simgateway.js")} + arguments);
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(node, m_process->errorString());
        stop();
        return false;
    }
    const QRegularExpressionMatch m = waitForLine(QStringLiteral("^PORT (\\d+)$"), timeoutMs);
    if (!m.hasMatch()) {
        m_error = isRunning() ? QStringLiteral("no PORT line from the gateway")
                              : QStringLiteral("the gateway ended at start (exit code %1)").arg(m_process->exitCode());
        stop();
        return false;
    }
    m_port = quint16(m.captured(1).toUInt());
    return true;
}

void SimGateway::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->write("QUIT\n");
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(1000);
        }
    }
    readOutput();
    m_process->disconnect(this);
    delete m_process;
    m_process = nullptr;
}

bool SimGateway::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString SimGateway::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void SimGateway::exportAddress()
{
    if (!m_envSet) {
        m_envHadValue = qEnvironmentVariableIsSet("QUORVANE_SIM_GATEWAY");
        m_envOldValue = qgetenv("QUORVANE_SIM_GATEWAY");
        m_envSet = true;
    }
    qputenv("QUORVANE_SIM_GATEWAY", address().toLatin1());
}

bool SimGateway::command(const QString &line, QString *reply, int timeoutMs)
{
    if (reply)
        reply->clear();
    if (!isRunning()) {
        if (reply)
            *reply = QStringLiteral("not running");
        return false;
    }
    // Lines still buffered belong to the time before this command.
    readOutput();
    int from = m_lines.size();
    const QString name = commandName(line);
    const QString ok = QStringLiteral("OK ") + name;
    const QString err = QStringLiteral("ERR ") + name;
    m_process->write(line.toUtf8() + '\n');

    QElapsedTimer timer;
    timer.start();
    for (;;) {
        for (; from < m_lines.size(); ++from) {
            const QString &l = m_lines.at(from);
            const bool isOk = l == ok || l.startsWith(ok + QLatin1Char(' '));
            if (isOk || l == err || l.startsWith(err + QLatin1Char(' '))) {
                if (reply)
                    *reply = l;
                return isOk;
            }
        }
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !waitForOutput(int(left)))
            break;
    }
    if (reply)
        *reply = QStringLiteral("timeout");
    return false;
}

QString SimGateway::query(const QString &line, int timeoutMs)
{
    QString reply;
    if (!command(line, &reply, timeoutMs))
        return QString();
    const int skip = 3 + commandName(line).size() + 1; // "OK " + name + " "
    return reply.size() >= skip ? reply.mid(skip) : QStringLiteral("");
}

bool SimGateway::addNode(int handle, const QString &options)
{
    return command(QStringLiteral("NODE ADD %1 %2").arg(handle).arg(options));
}

bool SimGateway::inject(const QString &frameLine)
{
    return command(QStringLiteral("INJECT ") + frameLine);
}

bool SimGateway::setBitRate(const QString &rate)
{
    return command(QStringLiteral("BITRATE ") + rate);
}

bool SimGateway::drop(bool hangup)
{
    return command(hangup ? QStringLiteral("DROP hangup") : QStringLiteral("DROP refuse"));
}

bool SimGateway::accept()
{
    return command(QStringLiteral("ACCEPT"));
}

QByteArray SimGateway::nodeValue(int handle, int index, int subindex)
{
    const QString hex = query(QStringLiteral("NODE GET %1 %2 %3")
                                  .arg(handle).arg(index, 0, 16).arg(subindex, 0, 16));
    return QByteArray::fromHex(hex.toLatin1());
}

QRegularExpressionMatch SimGateway::waitForLine(const QString &pattern, int timeoutMs)
{
    const QRegularExpression re(pattern);
    QElapsedTimer timer;
    timer.start();
    int from = m_cursor;
    for (;;) {
        readOutput();
        for (; from < m_lines.size(); ++from) {
            QRegularExpressionMatch m = re.match(m_lines.at(from));
            if (m.hasMatch()) {
                m_cursor = from + 1;
                return m;
            }
        }
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !waitForOutput(int(left)))
            return QRegularExpressionMatch();
    }
}

int SimGateway::waitForClient(int timeoutMs)
{
    const QRegularExpressionMatch m = waitForLine(QStringLiteral("^CONNECT (\\d+) "), timeoutMs);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QList<QByteArray> SimGateway::clientWrites(int cid) const
{
    const QString prefix = QStringLiteral("RX %1 ").arg(cid);
    QList<QByteArray> chunks;
    for (const QString &l : m_lines)
        if (l.startsWith(prefix))
            chunks.append(unescape(l.mid(prefix.size())));
    return chunks;
}

QByteArray SimGateway::clientBytes(int cid) const
{
    QByteArray all;
    for (const QByteArray &c : clientWrites(cid))
        all += c;
    return all;
}

bool SimGateway::waitForClientBytes(int cid, const QByteArray &needle, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        readOutput();
        if (clientBytes(cid).contains(needle))
            return true;
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !waitForOutput(int(left)))
            return false;
    }
}

void SimGateway::readOutput()
{
    if (!m_process)
        return;
    m_partial += m_process->readAllStandardOutput();
    int start = 0;
    int nl;
    while ((nl = m_partial.indexOf('\n', start)) >= 0) {
        const QString line = QString::fromUtf8(m_partial.constData() + start, nl - start);
        start = nl + 1;
        m_lines.append(line);
        emit lineReceived(line);
    }
    m_partial.remove(0, start);
}

bool SimGateway::waitForOutput(int timeoutMs)
{
    if (!isRunning())
        return false;
    const int before = m_lines.size();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &SimGateway::lineReceived, &loop, &QEventLoop::quit);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    loop.exec();
    readOutput();
    return m_lines.size() > before || isRunning();
}

QByteArray SimGateway::unescape(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            out.append(char(c.unicode() & 0xFF));
            continue;
        }
        const QChar e = text.at(++i);
        switch (e.unicode()) {
        case 'r': out.append('\r'); break;
        case 'n': out.append('\n'); break;
        case 't': out.append('\t'); break;
        case 'a': out.append('\a'); break;
        case 's': out.append(' '); break;
        case '\\': out.append('\\'); break;
        case 'x':
            if (i + 2 < text.size() && hexDigit(text.at(i + 1)) >= 0 && hexDigit(text.at(i + 2)) >= 0) {
                out.append(char(hexDigit(text.at(i + 1)) * 16 + hexDigit(text.at(i + 2))));
                i += 2;
                break;
            }
            Q_FALLTHROUGH();
        default:
            out.append('\\');
            out.append(char(e.unicode() & 0xFF));
        }
    }
    return out;
}

QString SimGateway::escape(const QByteArray &bytes)
{
    QString out;
    for (const char ch : bytes) {
        const uchar b = uchar(ch);
        switch (b) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case 0x07: out += QStringLiteral("\\a"); break;
        default:
            if (b >= 0x20 && b < 0x7F)
                out += QLatin1Char(char(b));
            else
                out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}
