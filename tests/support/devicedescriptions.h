// The real device description files the tests read (third-party XDD and EDS
// files, see their README). They live beside the source tree, in
// ../shared/samples/device-descriptions/, and are never copied into it; a
// work tree one level further down finds them one level further up.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>

inline QString deviceDescriptionDir()
{
    QDir dir(QStringLiteral(ZOR_SOURCE_DIR));
    for (int up = 0; up < 3 && dir.cdUp(); ++up) {
        const QString candidate = dir.filePath(QStringLiteral("shared/samples/device-descriptions"));
        if (QFileInfo(candidate).isDir())
            return candidate;
    }
    return QStringLiteral(ZOR_SOURCE_DIR "/../shared/samples/device-descriptions");
}

inline QString deviceDescription(const QString &fileName)
{
    return deviceDescriptionDir() + QLatin1Char('/') + fileName;
}
