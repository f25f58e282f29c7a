// Unpacks the 7z archive of a runtime file with libarchive.
//
// Every entry must lie inside the archive's one top-level folder; that
// folder is written as `targetFolder` (its name may differ from the one in
// the archive, when the runtime unpacks into a fresh folder beside an
// existing one). Files and folders only, each file with the permission bits
// the archive keeps (the owner may always read and write it), so programs
// stay executable. Existing files of the same name are replaced.
#pragma once

#include <QString>
#include <QtGlobal>

class ZorRuntimeUnpacker
{
public:
    ZorRuntimeUnpacker(const char *archive, qint64 size, const QString &topFolder)
        : m_archive(archive), m_size(size), m_topFolder(topFolder) {}

    // False with error() set on a damaged archive or a file that could not
    // be written.
    bool unpack(const QString &targetFolder);
    QString error() const { return m_error; }
    // True when the failure lies in the archive, not in the target folder.
    bool archiveDamaged() const { return m_archiveDamaged; }

private:
    bool fail(const QString &text, bool damaged);

    const char *m_archive;
    qint64 m_size;
    QString m_topFolder;
    QString m_error;
    bool m_archiveDamaged = false;
};
