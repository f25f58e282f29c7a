#include "zordebuglog.h"

#include "zorapplfiles.h"
#include "zormessage.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

ZorDebugLog::ZorDebugLog(QObject *parent)
    : QObject(parent)
{
}

ZorDebugLog::~ZorDebugLog()
{
    close();
}

QString ZorDebugLog::fileName() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fileName;
}

namespace {
std::mutex folderMutex;
QString &folderOverride()
{
    static QString folder;
    return folder;
}
} // namespace

void ZorDebugLog::setLogFolder(const QString &folder)
{
    std::lock_guard<std::mutex> lock(folderMutex);
    folderOverride() = folder;
}

QString ZorDebugLog::logFolder()
{
    {
        std::lock_guard<std::mutex> lock(folderMutex);
        if (!folderOverride().isEmpty())
            return folderOverride();
    }
    return QCoreApplication::applicationDirPath();
}

QString ZorDebugLog::filePathForTag(const QString &tag)
{
    return logFolder() + QStringLiteral("/zordebuglog_%1.txt").arg(tag);
}

QString ZorDebugLog::escape(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar ch : text) {
        const ushort code = ch.unicode() > 0xFF ? 0 : ch.unicode();
        switch (code) {
        case 10:
            out += QLatin1String("[LF]\n");
            break;
        case 13:
            out += QLatin1String("[CR]\r");
            break;
        case 17:
            out += QLatin1String("[XON]");
            break;
        case 19:
            out += QLatin1String("[XOFF]");
            break;
        default:
            if (code >= 32)
                out += QChar(code);
            else
                out += QStringLiteral("[%1]").arg(code, 2, 16, QLatin1Char(' '));
        }
    }
    return out;
}

void ZorDebugLog::open(const QString &tag)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open.load()) {
        const QString path = filePathForTag(tag);
        auto file = std::make_unique<QFile>(path);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text
                        | QIODevice::Unbuffered))
            return;
        m_stream = std::make_unique<QTextStream>(file.get());
        m_stream->setCodec("UTF-8");
        m_file = std::move(file);
        m_fileName = path;
        m_open.store(true);
    }
    writeLineLocked(QStringLiteral("log started"));
}

void ZorDebugLog::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open.load())
        return;
    writeLineLocked(QStringLiteral("log stopped"));
    m_open.store(false);
    m_stream->flush();
    m_stream.reset();
    m_file->close();
    m_file.reset();
}

void ZorDebugLog::msgLogger(const ZorMessage &msg)
{
    write(msg.toString(4));
}

void ZorDebugLog::write(const QString &text)
{
    if (!m_open.load())
        return; // cheap early out; the flag is tested again under the mutex
    const QString escaped = escape(text);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_open.load())
        writeLineLocked(escaped);
}

void ZorDebugLog::writeLineLocked(const QString &escaped)
{
    if (!m_stream)
        return;
    *m_stream << ZorApplServices::currentDateTimeText() << ' ' << escaped << '\n';
    m_stream->flush();
}
