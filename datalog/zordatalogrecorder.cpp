#include "zordatalogrecorder.h"

#include <QFileInfo>

ZorDataLogRecorder::~ZorDataLogRecorder()
{
    QString ignored;
    flush(ignored);
    close();
}

bool ZorDataLogRecorder::open(const QString &path, QString &error)
{
    if (m_file.isOpen()) {
        if (QFileInfo(m_file.fileName()).absoluteFilePath() == QFileInfo(path).absoluteFilePath())
            return true;
        if (!flush(error))
            return false;
        close();
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = m_file.errorString();
        return false;
    }
    return true;
}

void ZorDataLogRecorder::close()
{
    m_pending.clear();
    if (m_file.isOpen())
        m_file.close();
}

void ZorDataLogRecorder::addLine(const QString &line)
{
    if (!m_file.isOpen())
        return;
    m_pending += line.toLatin1();
    m_pending += "\r\n";
}

bool ZorDataLogRecorder::flush(QString &error)
{
    if (!m_file.isOpen() || m_pending.isEmpty())
        return true;
    const bool written = m_file.write(m_pending) == m_pending.size() && m_file.flush();
    m_pending.clear();
    if (written)
        return true;
    error = m_file.errorString();
    m_file.close();
    return false;
}
