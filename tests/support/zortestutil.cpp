#include "zortestutil.h"

#include <QDir>

QString ZorTest::sourcePath(const QString &relative)
{
    return QDir(QStringLiteral(ZOR_SOURCE_DIR)).filePath(relative);
}

QString ZorTest::buildPath(const QString &relative)
{
    return QDir(QStringLiteral(ZOR_BINARY_DIR)).filePath(relative);
}
