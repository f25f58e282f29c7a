// Zip archives written by hand for tests: stored (uncompressed) entries whose
// names and modes no packer would write, such as "../x" or links.
#pragma once

#include <QByteArray>
#include <QList>

namespace ZorTest {

struct ZipEntry
{
    QByteArray name;
    QByteArray data;
    quint32 unixMode = 0100644; // regular file; 0120777 is a symbolic link
};

QByteArray storedZip(const QList<ZipEntry> &entries);

}
