// Small helpers for tests: paths into the source tree and the build tree.
#pragma once

#include <QByteArray>
#include <QString>

namespace ZorTest {

// Absolute path of a file in the source tree, given relative to its root.
QString sourcePath(const QString &relative);
// Absolute path of a file in the build tree (where the program runs from).
QString buildPath(const QString &relative);

}

namespace ZorTest {

// CRC-32 (IEEE 802.3, as zlib's crc32) of the bytes.
quint32 crc32(const QByteArray &data);

// Writes the bytes to a file (its folder made first); true when all went.
bool writeFile(const QString &path, const QByteArray &bytes);
// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString &path);

// For benchmarks: Qt's debug lines are dropped, warnings and errors still go
// to standard error, so that the figures on standard output stand alone.
void installQuietMessageHandler();

}
