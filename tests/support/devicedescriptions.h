// The real device description files the tests read (third-party XDD and EDS
// files, see their README). They live beside the source tree, in
// ../shared/samples/device-descriptions/, and are never copied into it; a
// work tree one level further down finds them one level further up. A clone
// without that folder beside it skips the tests that read them
// (ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS at the start of each).
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QtTest>

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

// Skips the running test, naming the folder it looked for, when the device
// descriptions are not there.
#define ZOR_SKIP_WITHOUT_DEVICE_DESCRIPTIONS()                                                    \
    do {                                                                                          \
        if (!QFileInfo(deviceDescriptionDir()).isDir())                                           \
            QSKIP(qPrintable(QStringLiteral("no device descriptions: the folder %1 is not there") \
                                 .arg(QDir::cleanPath(deviceDescriptionDir()))));                 \
    } while (false)
