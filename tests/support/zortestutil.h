// Small helpers for tests: paths into the source tree and the build tree.
#pragma once

#include <QString>

namespace ZorTest {

// Absolute path of a file in the source tree, given relative to its root.
QString sourcePath(const QString &relative);
// Absolute path of a file in the build tree (where the program runs from).
QString buildPath(const QString &relative);

}
