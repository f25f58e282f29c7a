#include "zortestutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cstdio>

QString ZorTest::sourcePath(const QString &relative)
{
    return QDir(QStringLiteral(ZOR_SOURCE_DIR)).filePath(relative);
}

QString ZorTest::buildPath(const QString &relative)
{
    return QDir(QStringLiteral(ZOR_BINARY_DIR)).filePath(relative);
}

quint32 ZorTest::crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool ZorTest::writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ZorTest::readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

namespace ZorTest {

namespace {
void quietMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}
}

void installQuietMessageHandler()
{
    qInstallMessageHandler(quietMessageHandler);
}

}
