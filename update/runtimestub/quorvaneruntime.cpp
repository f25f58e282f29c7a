// The stub of a generated runtime file ("quorvane_runtime.sfx"): the
// program that the runtime file starts with. It reads its own file, finds
// the configuration and the packed application folder after itself, unpacks
// the folder beside the runtime file and starts the program named by the
// configuration with the packed project; its exit status is the program's.
//
// Where the folder exists already it is used as it is when this very
// runtime unpacked it (a marker file holds the archive's fingerprint), so a
// runtime started again starts at once with the files of its last run. A
// folder of other contents is never replaced without the user's yes: with a
// terminal the stub asks, otherwise (and on "no") it unpacks into a fresh
// folder "<name> (1)", "<name> (2)" ... beside it. "-y" replaces without
// asking. Every other argument goes on to the program after the project.
//
// Exit status of its own: 2 for a damaged or incomplete runtime file, 3 when
// the files cannot be written, 4 when the program cannot be started or
// ends abnormally; otherwise the program's.
#include "zorruntimelayout.h"
#include "zorruntimeunpacker.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

enum ExitStatus { Damaged = 2, NotWritten = 3, NotStarted = 4 };

const char MarkerName[] = ".quorvane_runtime";
const char ProjectPath[] = "Templates/runtime.zortpl";
const int MaxFreshFolders = 100;

QString tr(const char *text)
{
    return QCoreApplication::translate("ZorRuntimeStub", text);
}

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Whether a person can answer a question: standard input is a terminal.
bool canAsk()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(fileno(stdin)) != 0;
#endif
}

bool askYes(const QString &question)
{
    std::fprintf(stdout, "%s [y/N] ", question.toLocal8Bit().constData());
    std::fflush(stdout);
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

QByteArray fingerprint(const ZorRuntimeLayout &layout)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(layout.archiveData(), int(qMin<qint64>(layout.archiveSize(), INT_MAX)));
    return QByteArray::number(layout.archiveSize()) + ' ' + hash.result().toHex() + '\n';
}

bool unpackedByThisRuntime(const QString &folder, const QByteArray &print)
{
    QFile marker(folder + QLatin1Char('/') + QLatin1String(MarkerName));
    return marker.open(QIODevice::ReadOnly) && marker.readAll() == print;
}

struct Destination
{
    QString folder;
    bool unpack = true;
    bool created = false;
    QString error;
};

Destination chooseDestination(const QString &beside, const ZorRuntimeLayout &layout, const QByteArray &print,
                              bool replaceWithoutAsking, const QString &title)
{
    const QString top = layout.topFolder();
    const auto candidate = [&](int i) {
        return beside + QLatin1Char('/') + (i == 0 ? top : QStringLiteral("%1 (%2)").arg(top).arg(i));
    };
    for (int i = 0; i <= MaxFreshFolders; ++i) {
        if (QFileInfo(candidate(i)).isDir() && unpackedByThisRuntime(candidate(i), print))
            return {candidate(i), false, false, QString()};
    }
    const QString first = candidate(0);
    if (!QFileInfo::exists(first))
        return {first, true, true, QString()};
    if (QFileInfo(first).isDir()
        && (replaceWithoutAsking
            || (canAsk()
                && askYes(tr("%1: the folder \"%2\" exists and holds other files than this runtime's. "
                             "Replace its files with this runtime's?")
                              .arg(title, first)))))
        return {first, true, false, QString()};
    for (int i = 1; i <= MaxFreshFolders; ++i) {
        if (!QFileInfo::exists(candidate(i))) {
            say(tr("%1: \"%2\" exists already; unpacking into \"%3\".").arg(title, first, candidate(i)));
            return {candidate(i), true, true, QString()};
        }
    }
    return {QString(), false, false,
            tr("there is no free folder name beside \"%1\" to unpack into").arg(first)};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    QString title = QFileInfo(self).fileName();

    QFile file(self);
    const uchar *data = file.open(QIODevice::ReadOnly) ? file.map(0, file.size()) : nullptr;
    ZorRuntimeLayout layout;
    const bool readable = data && layout.read(reinterpret_cast<const char *>(data), file.size());
    if (!layout.title().isEmpty())
        title = layout.title();
    if (!readable) {
        say(tr("%1: the runtime file \"%2\" cannot be used: %3.")
                .arg(title, self, data ? layout.error() : file.errorString()));
        return Damaged;
    }

    bool replaceWithoutAsking = false;
    QStringList passedOn;
    for (const QString &argument : QCoreApplication::arguments().mid(1)) {
        if (argument == QLatin1String("-y"))
            replaceWithoutAsking = true;
        else
            passedOn << argument;
    }

    const QByteArray print = fingerprint(layout);
    const Destination destination =
        chooseDestination(QFileInfo(self).absolutePath(), layout, print, replaceWithoutAsking, title);
    if (destination.folder.isEmpty()) {
        say(tr("%1: %2.").arg(title, destination.error));
        return NotWritten;
    }
    if (destination.unpack) {
        std::fprintf(stdout, "%s\n",
                     tr("%1: unpacking into \"%2\"...").arg(title, destination.folder).toLocal8Bit().constData());
        std::fflush(stdout);
        // A folder that is replaced loses its marker first: an unpack that
        // fails half-way leaves a folder no runtime takes as its own.
        QFile::remove(destination.folder + QLatin1Char('/') + QLatin1String(MarkerName));
        ZorRuntimeUnpacker unpacker(layout.archiveData(), layout.archiveSize(), layout.topFolder());
        if (!unpacker.unpack(destination.folder)) {
            if (destination.created)
                QDir(destination.folder).removeRecursively();
            if (unpacker.archiveDamaged()) {
                say(tr("%1: the runtime file \"%2\" is damaged: %3. Copy or download it again.")
                        .arg(title, self, unpacker.error()));
                return Damaged;
            }
            say(tr("%1: could not unpack into \"%2\": %3.").arg(title, destination.folder, unpacker.error()));
            return NotWritten;
        }
        QFile marker(destination.folder + QLatin1Char('/') + QLatin1String(MarkerName));
        if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate) || marker.write(print) != print.size())
            say(tr("%1: could not write \"%2\"; the next start unpacks again.").arg(title, marker.fileName()));
    }
    file.unmap(const_cast<uchar *>(data));
    file.close();

    const QString program = destination.folder + QLatin1Char('/') + layout.programInFolder();
    if (!QFileInfo(program).isFile()) {
        say(tr("%1: the runtime file \"%2\" is damaged: the program \"%3\" is not among its files.")
                .arg(title, self, layout.programPath()));
        return Damaged;
    }
    // A program packed on a system without execute bits still starts.
    if (!QFileInfo(program).isExecutable())
        QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner | QFile::ExeUser);
    QStringList arguments;
    const QString project = destination.folder + QLatin1Char('/') + QLatin1String(ProjectPath);
    if (QFileInfo(project).isFile())
        arguments << project;
    arguments << passedOn;

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setWorkingDirectory(destination.folder);
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        say(tr("%1: could not start \"%2\": %3.").arg(title, program, process.errorString()));
        return NotStarted;
    }
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit) {
        say(tr("%1: \"%2\" ended abnormally.").arg(title, program));
        return NotStarted;
    }
    return process.exitCode();
}
