#include "zorapplarchives.h"
#include "zorapplservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace ZorApplServices {

namespace {

const int kUnzipTimeoutMs = 600000;

QMutex &toolPathMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &toolPathOverride()
{
    static QString path;
    return path;
}

QString shippedToolDir()
{
    return QDir::fromNativeSeparators(QCoreApplication::applicationDirPath())
           + QStringLiteral("/Tools/7-zip");
}

// Runs the program to its end. Standard input is closed at once, so that a
// tool that asks a question (a password, say) fails instead of waiting.
bool runTool(const QString &program, const QStringList &args, int timeoutMs,
             QByteArray *output = nullptr)
{
    if (program.isEmpty())
        return false;
    QProcess process;
    if (!output)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, args, QIODevice::ReadWrite);
    if (!process.waitForStarted(timeoutMs))
        return false;
    process.closeWriteChannel();
    bool finished = false;
    if (output) {
        // Read as it comes so that a long listing never fills the pipe.
        QElapsedTimer timer;
        timer.start();
        while (!finished && timer.elapsed() < timeoutMs) {
            finished = process.waitForFinished(
                static_cast<int>(qMin<qint64>(100, timeoutMs - timer.elapsed())));
            output->append(process.readAllStandardOutput());
        }
    } else {
        finished = process.waitForFinished(timeoutMs);
    }
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool isLinkEntry(const QMap<QByteArray, QByteArray> &fields)
{
    static const QRegularExpression unixLinkMode(QStringLiteral("(?:^|\\s)l[rwxsStT-]{9}(?:\\s|$)"));
    if (!fields.value("Symbolic Link").isEmpty() || !fields.value("Hard Link").isEmpty())
        return true;
    return latin1Text(fields.value("Attributes")).contains(unixLinkMode);
}

} // namespace

QString archiveToolPath()
{
    {
        QMutexLocker lock(&toolPathMutex());
        if (!toolPathOverride().isEmpty())
            return QFileInfo(toolPathOverride()).absoluteFilePath();
    }
    const QString dir = shippedToolDir();
    for (const char *name : {"7za.exe", "7za"}) {
        const QFileInfo shipped(dir + QLatin1Char('/') + QLatin1String(name));
        if (shipped.isFile() && shipped.isExecutable())
            return shipped.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("7za"));
}

QString archiveToolDir()
{
    {
        QMutexLocker lock(&toolPathMutex());
        if (!toolPathOverride().isEmpty())
            return QFileInfo(toolPathOverride()).absolutePath();
    }
    return QFileInfo(shippedToolDir()).absoluteFilePath();
}

void setArchiveToolPath(const QString &path)
{
    QMutexLocker lock(&toolPathMutex());
    toolPathOverride() = path;
}

QStringList unzipArguments(const QString &archive, const QString &folder)
{
    return {QStringLiteral("x"), archive, QStringLiteral("-y"), QStringLiteral("-o") + folder};
}

QStringList zipArguments(const QString &archive, const QString &input, bool sevenZipFormat)
{
    QStringList args{QStringLiteral("a"), QStringLiteral("-r"), QStringLiteral("-ssw"),
                     QStringLiteral("-mx7")};
    if (!sevenZipFormat)
        args << QStringLiteral("-tzip");
    args << archive << input;
    return args;
}

bool isSafeArchiveEntryPath(const QString &entryPath)
{
    if (entryPath.isEmpty())
        return false;
    // Archives made on Windows may separate with backslashes.
    const QString path = QString(entryPath).replace(QLatin1Char('\\'), QLatin1Char('/'));
    static const QRegularExpression driveOrControl(QStringLiteral("^[A-Za-z]:|[\\x00-\\x1f]"));
    if (path.startsWith(QLatin1Char('/')) || path.contains(driveOrControl))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

bool checkArchiveEntries(const QString &archive, QString *badEntry)
{
    QByteArray listing;
    if (!runTool(archiveToolPath(), {QStringLiteral("l"), QStringLiteral("-slt"), archive},
                 kUnzipTimeoutMs, &listing)) {
        return false;
    }

    // The entries follow a line of dashes, one block of "Key = value" lines
    // each, blocks separated by empty lines. A line of any other shape there
    // could hide part of a name, so the archive is refused.
    const QList<QByteArray> lines = listing.split('\n');
    int i = 0;
    while (i < lines.size() && !lines.at(i).trimmed().startsWith("----------"))
        ++i;
    if (i == lines.size())
        return false;
    ++i;

    QMap<QByteArray, QByteArray> fields;
    const auto checkEntry = [&]() {
        if (fields.isEmpty())
            return true;
        const QString path = QString::fromUtf8(fields.value("Path"));
        const bool ok = fields.contains("Path") && isSafeArchiveEntryPath(path) && !isLinkEntry(fields);
        if (!ok && badEntry)
            *badEntry = path;
        fields.clear();
        return ok;
    };
    for (; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty()) {
            if (!checkEntry())
                return false;
            continue;
        }
        const int eq = line.indexOf(" = ");
        const int eqEnd = line.endsWith(" =") ? line.size() - 2 : -1;
        const int at = eq >= 0 ? eq : eqEnd;
        if (at <= 0) {
            if (badEntry)
                *badEntry = QString::fromUtf8(line);
            return false;
        }
        const QByteArray key = line.left(at);
        if (key == "Path" && fields.contains("Path")) {
            // A new entry without an empty line between.
            if (!checkEntry())
                return false;
        }
        fields.insert(key, at + 3 <= line.size() ? line.mid(at + 3) : QByteArray());
    }
    if (!checkEntry())
        return false;
    return true;
}

bool unzipArchive(const QString &archive, const QString &folder)
{
    const QString tool = archiveToolPath();
    if (tool.isEmpty() || !checkArchiveEntries(archive))
        return false;
    return runTool(tool, unzipArguments(archive, folder), kUnzipTimeoutMs);
}

bool zipFiles(const QString &archive, const QString &input, int timeoutMs, bool sevenZipFormat)
{
    return runTool(archiveToolPath(), zipArguments(archive, input, sevenZipFormat), timeoutMs);
}

bool concatenateFiles(const QString &archive, const QString &output, const QString &stubName,
                      const QString &config, int timeoutMs)
{
    const QString stub = archiveToolDir() + QLatin1Char('/') + stubName;
    const QStringList inputs{stub, config, archive};
    for (const QString &input : inputs) {
        if (!QFileInfo(input).isFile())
            return false;
    }

    QElapsedTimer timer;
    timer.start();
    // Written beside the output and renamed at the end: a failed join leaves
    // neither a partial file nor a damaged earlier one.
    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (const QString &input : inputs) {
        QFile in(input);
        if (!in.open(QIODevice::ReadOnly)) {
            out.cancelWriting();
            return false;
        }
        while (!in.atEnd()) {
            chunk = in.read(1 << 20);
            if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
                out.cancelWriting();
                return false;
            }
            if (out.write(chunk) != chunk.size() || timer.elapsed() > timeoutMs) {
                out.cancelWriting();
                return false;
            }
        }
    }
    return out.commit();
}

} // namespace ZorApplServices
