#include "zorapplfiles.h"
#include "zorapplservices.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUuid>
#include <QtGlobal>

namespace ZorApplServices {

namespace {

// File names compare as the platform's file systems do.
Qt::CaseSensitivity pathCase()
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

QString absoluteClean(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool inList(const QStringList &list, const QString &path)
{
    const QString p = QDir::fromNativeSeparators(path);
    for (const QString &entry : list) {
        if (QDir::fromNativeSeparators(entry).compare(p, pathCase()) == 0)
            return true;
    }
    return false;
}

} // namespace

QString workingDir()
{
    return QDir::currentPath();
}

void setWorkingDir(const QString &path)
{
    if (path.isEmpty()) {
        QDir::setCurrent(projectsDir());
        return;
    }
    QDir::setCurrent(QFileInfo(path).path());
}

void makeRelativeToWorkingDir(QString &path)
{
    const QString folder = QFileInfo(path).path();
    const QString working = workingDir();
    const QString prefix = working.endsWith(QLatin1Char('/')) ? working
                                                               : working + QLatin1Char('/');
    const bool same = folder.compare(working, Qt::CaseInsensitive) == 0;
    if (!same && !folder.startsWith(prefix, Qt::CaseInsensitive))
        return;
    // Folder names are compared without regard to case (as the file systems
    // of the users' machines do). On a file system that tells case apart, a
    // folder spelt in another case that exists as a folder of its own is
    // another folder: a path into it stays as it is.
    const QString spelt = same ? folder : folder.left(working.length());
    if (spelt != working && pathCase() == Qt::CaseSensitive) {
        const QFileInfo other(spelt);
        if (other.exists() && other.canonicalFilePath() != QFileInfo(working).canonicalFilePath())
            return;
    }
    path = same ? fileName(path) : path.mid(prefix.length());
}

void makeAbsoluteToWorkingDir(QString &path)
{
    if (QFileInfo(path).path() == QLatin1String("."))
        path = workingDir() + QLatin1Char('/') + fileName(path);
}

QString projectsDir()
{
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QDir dir(docs);
    QDir().mkpath(docs);
    const QString title = appGlobal(QStringLiteral("AppTitle"));
    if (!title.isEmpty()) {
        dir.mkdir(title);
        dir.cd(title);
    }
    dir.mkdir(QStringLiteral("Projects"));
    dir.cd(QStringLiteral("Projects"));
    return dir.absolutePath();
}

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString pathLastPart(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString pathWithoutLastPart(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

QString uniqueId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString uniqueDirName(const QString &parent, const QString &name)
{
    // Any entry of that name counts as taken, a file or a dangling link too:
    // the caller is about to create a folder there.
    const auto taken = [&parent](const QString &candidate) {
        const QFileInfo info(parent + QLatin1Char('/') + candidate);
        return info.exists() || info.isSymLink();
    };
    if (!taken(name))
        return name;
    for (int i = 1; i <= 100; ++i) {
        const QString candidate = QStringLiteral("%1 (%2)").arg(name).arg(i);
        if (!taken(candidate))
            return candidate;
    }
    return name + QLatin1Char('-') + uniqueId();
}

bool hasInvalidFileNameChars(const QString &text)
{
    static const QRegularExpression invalid(QStringLiteral("[?*\\[\\]\"<>|]"));
    return text.contains(invalid);
}

QString shortPathText(const QString &path)
{
    // A drive root ("C:/") or the Unix root ("/") heads the short form.
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:/"));
    const QString head = path.contains(drive) || !path.startsWith(QLatin1Char('/'))
                             ? path.left(3)
                             : QStringLiteral("/");
    const QString name = fileName(path);
    QString shown = name;
    if (name.length() > 50)
        shown = name.left(22) + QLatin1String("...") + name.right(22);
    if (path != head + name)
        shown.prepend(QLatin1String(".../"));
    return head + shown;
}

QString userName()
{
    QString name = qEnvironmentVariable("USERNAME");
    if (name.isEmpty())
        name = qEnvironmentVariable("USER");
    return name;
}

QString tempFolderName()
{
    return QStringLiteral("QuorvaneTemp");
}

QString currentDateTimeText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

bool removeDirRecursively(const QString &path)
{
    const QFileInfo top(path);
    if (top.isSymLink()) {
        // A link to a folder is removed as a link; its target stays.
        if (QFile::remove(path))
            return true;
        qWarning("can't remove '%s'", qUtf8Printable(path));
        return false;
    }

    bool result = true;
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (!result)
            break;
        if (entry.isDir() && !entry.isSymLink()) {
            result = removeDirRecursively(entry.filePath());
        } else if (!QFile::remove(entry.filePath())) {
            qWarning("can't remove '%s'", qUtf8Printable(entry.filePath()));
            return false;
        }
    }
    if (result && !QDir().rmdir(path)) {
        qWarning("can't remove '%s'", qUtf8Printable(top.absoluteFilePath()));
        return false;
    }
    return result;
}

void collectFiles(const QString &folder, QStringList &files, const QStringList &skipFolders,
                  const QStringList &skipFiles)
{
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        const QFileInfo info(path);
        if (info.isSymLink())
            continue; // never walk out of the tree through a link
        const QString absolute = absoluteClean(path);
        if (info.isDir()) {
            if (!inList(skipFolders, absolute))
                collectFiles(path, files, skipFolders, skipFiles);
        } else if (!inList(skipFiles, absolute)) {
            files.append(QDir::toNativeSeparators(absolute));
        }
    }
}

bool copyDir(const QString &source, const QString &destination, const QStringList &skipFolders,
             const QStringList &skipFiles)
{
    if (!QFileInfo(source).isDir())
        return false;
    const QString src = absoluteClean(source);
    const QString dst = absoluteClean(destination);
    if (!QDir().mkpath(dst))
        return false;

    QStringList files;
    collectFiles(src, files, skipFolders, skipFiles);
    const QString srcPrefix = src.endsWith(QLatin1Char('/')) ? src : src + QLatin1Char('/');
    for (const QString &native : files) {
        const QString file = QDir::fromNativeSeparators(native);
        // Only the leading source path is replaced, never a later occurrence.
        if (!file.startsWith(srcPrefix))
            return false;
        const QString target = dst + QLatin1Char('/') + file.mid(srcPrefix.length());
        if (!QDir().mkpath(QFileInfo(target).path()))
            return false;
        if (!QFile::copy(file, target))
            return false;
    }
    return true;
}

} // namespace ZorApplServices
