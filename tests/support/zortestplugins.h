// Test plug-ins (tests/support/buslinktestloop) installed under an adapter
// key's file name in a folder of the test's own, so that the plug-in driver
// loads them as it would a real plug-in. Header-only: for test programs that
// link zor_canbus.
#pragma once

#include "canportlibrary.h"
#include "zortestutil.h"

#include <QDir>
#include <QFile>

namespace ZorTest {

// build/testplugins/buslink_hw_<name>.so
inline QString testPluginPath(const QString &name)
{
    return buildPath(QStringLiteral("testplugins/") + CanPortLibrary::fileNameForKey(name));
}

// Copies test plug-in `name` into dir as the plug-in of adapter `key`.
inline bool installTestPlugin(const QString &dir, const QString &name, const QString &key)
{
    const QString target = QDir(dir).filePath(CanPortLibrary::fileNameForKey(key));
    QFile::remove(target);
    return QFile::copy(testPluginPath(name), target);
}

}
