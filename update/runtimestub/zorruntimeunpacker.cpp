#include "zorruntimeunpacker.h"

#include "zorruntimelayout.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ZorRuntimeStub", text);
}

struct ArchiveReader
{
    archive *handle = archive_read_new();
    ~ArchiveReader() { archive_read_free(handle); }
};

QString archiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromLocal8Bit(text) : tr("unknown error");
}

// The permission bits of a mode as Qt names them; the owner may always
// read and write what it unpacked.
QFile::Permissions permissionsOf(int mode)
{
    QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    if (mode & 0100)
        p |= QFile::ExeOwner | QFile::ExeUser;
    if (mode & 0040)
        p |= QFile::ReadGroup;
    if (mode & 0020)
        p |= QFile::WriteGroup;
    if (mode & 0010)
        p |= QFile::ExeGroup;
    if (mode & 0004)
        p |= QFile::ReadOther;
    if (mode & 0002)
        p |= QFile::WriteOther;
    if (mode & 0001)
        p |= QFile::ExeOther;
    return p;
}

} // namespace

bool ZorRuntimeUnpacker::fail(const QString &text, bool damaged)
{
    m_error = text;
    m_archiveDamaged = damaged;
    return false;
}

bool ZorRuntimeUnpacker::unpack(const QString &targetFolder)
{
    m_error.clear();
    m_archiveDamaged = false;
    ArchiveReader reader;
    archive *a = reader.handle;
    archive_read_support_format_7zip(a);
    if (archive_read_open_memory(a, m_archive, size_t(m_size)) != ARCHIVE_OK)
        return fail(archiveError(a), true);
    if (!QDir().mkpath(targetFolder))
        return fail(tr("could not create the folder \"%1\"").arg(targetFolder), false);

    archive_entry *entry = nullptr;
    for (;;) {
        const int result = archive_read_next_header(a, &entry);
        if (result == ARCHIVE_EOF)
            break;
        if (result < ARCHIVE_WARN)
            return fail(archiveError(a), true);
        const char *utf8 = archive_entry_pathname_utf8(entry);
        const QString path = utf8 ? QString::fromUtf8(utf8) : QString();
        const QString top = path.section(QLatin1Char('/'), 0, 0);
        const QString below = path.section(QLatin1Char('/'), 1);
        if (!ZorRuntimeLayout::isSafeRelativePath(path) || top != m_topFolder)
            return fail(tr("it holds the entry \"%1\" outside its folder \"%2\"").arg(path, m_topFolder), true);
        const QString target = below.isEmpty() ? targetFolder : targetFolder + QLatin1Char('/') + below;
        const int type = int(archive_entry_filetype(entry));
        if (type == AE_IFDIR) {
            if (!QDir().mkpath(target))
                return fail(tr("could not create the folder \"%1\"").arg(target), false);
            continue;
        }
        if (type != AE_IFREG)
            return fail(tr("it holds \"%1\", which is neither a file nor a folder").arg(path), true);

        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile file(target);
        if (QFileInfo(target).isDir() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(tr("could not write \"%1\": %2").arg(target, file.errorString()), false);
        const void *block = nullptr;
        size_t blockSize = 0;
        la_int64_t offset = 0;
        for (;;) {
            const int read = archive_read_data_block(a, &block, &blockSize, &offset);
            if (read == ARCHIVE_EOF)
                break;
            if (read < ARCHIVE_WARN)
                return fail(tr("\"%1\" cannot be unpacked: %2").arg(path, archiveError(a)), true);
            if ((file.pos() != offset && !file.seek(offset))
                || file.write(static_cast<const char *>(block), qint64(blockSize)) != qint64(blockSize))
                return fail(tr("could not write \"%1\": %2").arg(target, file.errorString()), false);
        }
        if (archive_entry_size_is_set(entry) && file.size() < archive_entry_size(entry))
            file.resize(archive_entry_size(entry));
        file.flush();
        if (archive_entry_mtime_is_set(entry))
            file.setFileTime(QDateTime::fromSecsSinceEpoch(archive_entry_mtime(entry)),
                             QFileDevice::FileModificationTime);
        file.close();
        if (file.error() != QFileDevice::NoError)
            return fail(tr("could not write \"%1\": %2").arg(target, file.errorString()), false);
        file.setPermissions(permissionsOf(int(archive_entry_perm(entry))));
    }
    return true;
}
