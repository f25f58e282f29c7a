#include "zorgenerateruntimedialog.h"
#include "ui_zorgenerateruntimedialog.h"
#include "zorsavableproject.h"

#include "zorapplservices.h"
#include "zorquestionbox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTextStream>

namespace {

const int kToolTimeoutMs = 90000;
const char kStubName[] = "quorvane_runtime.sfx";
const char kConfigTemplate[] = ":quorvane_runtime_sfxconfig.txt";
const char kUserResource[] = "Quorvane.user.rcc";
const char kLastExeKey[] = "LastGeneratedExe";
const char kLastResourceKey[] = "LastGeneratedResource";

struct ApplicationFiles
{
    QString folder;
    QString program;
};

ApplicationFiles &applicationFilesOverride()
{
    static ApplicationFiles files;
    return files;
}

QString absolute(const QString &path)
{
    return QDir::fromNativeSeparators(QFileInfo(path).absoluteFilePath());
}

bool endsWithExe(const QString &path)
{
    return path.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
}

// A folder that mirrors a source folder of the build: only the shared
// libraries the build puts there belong to the program.
void addBuildFolderSkips(const QString &folder, QStringList &skipFolders, QStringList &skipFiles)
{
    static const QRegularExpression sharedLibrary(QStringLiteral("\\.so(\\.\\d+)*$"));
    const QDir dir(folder);
    const bool buildFolder = dir.exists(QStringLiteral("cmake_install.cmake"));
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString path = absolute(entry.filePath());
        if (entry.isDir()) {
            if (buildFolder || entry.fileName() == QLatin1String("CMakeFiles"))
                skipFolders << path;
            else
                addBuildFolderSkips(path, skipFolders, skipFiles);
        } else if (buildFolder && !entry.fileName().contains(sharedLibrary)) {
            skipFiles << path;
        }
    }
}

} // namespace

ZorGenerateRuntimeDialog::ZorGenerateRuntimeDialog(QWidget *parent, ZorSavableProject *project)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
    , ui(new Ui::ZorGenerateRuntimeDialog)
    , m_project(project)
    , m_projectObject(dynamic_cast<QObject *>(project))
{
    ui->setupUi(this);
    ui->progressBar->hide();
    ui->pushButtonStartRuntime->hide();

    QString target = QSettings().value(QLatin1String(kLastExeKey)).toString();
    if (target.isEmpty())
        target = ZorApplServices::projectsDir() + QStringLiteral("/QuorvaneRuntime.exe");
    ui->lineEditTargetPath->setText(target);

    const QDir folder(applicationFolder());
    for (const QString &name : runtimeResourceFiles()) {
        ui->listWidgetResources->addItem(name);
        m_resources.insert(name, QFileInfo(folder.filePath(name)));
    }
    if (ui->listWidgetResources->count() > 0) {
        ui->listWidgetResources->setCurrentRow(0);
        const QString last = QSettings().value(QLatin1String(kLastResourceKey)).toString();
        for (int row = 0; row < ui->listWidgetResources->count(); ++row) {
            if (ui->listWidgetResources->item(row)->text().compare(last, Qt::CaseInsensitive) == 0) {
                ui->listWidgetResources->setCurrentRow(row);
                break;
            }
        }
    }
}

ZorGenerateRuntimeDialog::~ZorGenerateRuntimeDialog()
{
    delete ui;
}

void ZorGenerateRuntimeDialog::setApplicationFiles(const QString &folder, const QString &programFileName)
{
    applicationFilesOverride() = {folder, programFileName};
}

QString ZorGenerateRuntimeDialog::applicationFolder()
{
    const QString folder = applicationFilesOverride().folder;
    return absolute(folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder);
}

QString ZorGenerateRuntimeDialog::programFileName()
{
    const QString program = applicationFilesOverride().program;
    return program.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).fileName() : program;
}

QStringList ZorGenerateRuntimeDialog::runtimeResourceFiles()
{
    return QDir(applicationFolder())
        .entryList({QStringLiteral("runtime.*.rcc")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
}

int ZorGenerateRuntimeDialog::execIfResourcesAvailable()
{
    if (!m_resources.isEmpty())
        return exec();
    ZorQuestionBox::warn(parentWidget(), tr("Generate Runtime Error"),
                         tr("Missing required resource files for runtime generation.\nPlease contact "
                            "technical support."));
    return 0;
}

bool ZorGenerateRuntimeDialog::isRuntimeTempPath(const QString &path)
{
    return path.contains(QLatin1String("QuorvaneTemp"), Qt::CaseInsensitive)
           && path.contains(QLatin1String("quorvane_runtime_temp_"), Qt::CaseInsensitive);
}

void ZorGenerateRuntimeDialog::addBuildTreeSkips(const QString &folder, QStringList &skipFolders,
                                                 QStringList &skipFiles)
{
    const QDir dir(folder);
    if (!dir.exists(QStringLiteral("CMakeCache.txt")))
        return;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString path = absolute(entry.filePath());
        const QString name = entry.fileName();
        if (entry.isDir()) {
            if (name == QLatin1String("CMakeFiles") || name == QLatin1String("Testing")
                || name.endsWith(QLatin1String("_autogen")) || name.endsWith(QLatin1String(".dir")))
                skipFolders << path;
            else
                addBuildFolderSkips(path, skipFolders, skipFiles);
        } else if (name != programFileName() && entry.suffix() != QLatin1String("rcc")) {
            skipFiles << path;
        }
    }
}

QString ZorGenerateRuntimeDialog::configProgramPath(const QString &target, const QString &program)
{
    QString path = QDir::toNativeSeparators(QFileInfo(target).baseName() + QLatin1Char('/') + program);
    return path.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

void ZorGenerateRuntimeDialog::stripDebugInformation(const QString &folder)
{
    const QString strip = QStandardPaths::findExecutable(QStringLiteral("strip"));
    if (strip.isEmpty())
        return;
    QDirIterator files(folder, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.read(4) != QByteArray("\x7f" "ELF", 4))
            continue;
        file.close();
        // A file the tool cannot handle is packed as it is.
        QProcess tool;
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.setStandardErrorFile(QProcess::nullDevice());
        tool.start(strip, {QStringLiteral("--strip-debug"), path});
        if (!tool.waitForFinished(kToolTimeoutMs))
            tool.kill();
        tool.waitForFinished(5000);
    }
}

void ZorGenerateRuntimeDialog::warn(const QString &title, const QString &text)
{
    ZorQuestionBox::warn(this, title, text);
}

void ZorGenerateRuntimeDialog::on_toolButtonBrowse_clicked()
{
    QString start = ui->lineEditTargetPath->text().trimmed();
    if (start.isEmpty())
        start = QDir::rootPath();
    QString chosen = QFileDialog::getSaveFileName(this, tr("Select executable target file path"), start,
                                                  tr("Quorvane Runtime Executable (*.exe)"))
                         .trimmed();
    if (chosen.isEmpty())
        return;
    if (!endsWithExe(chosen))
        chosen += QStringLiteral(".exe");
    ui->lineEditTargetPath->setText(chosen);
}

void ZorGenerateRuntimeDialog::on_pushButtonStartRuntime_clicked()
{
    // "-y": a test replaces what the test of an earlier generated runtime
    // unpacked; the program runs without a terminal to ask on.
    const QString target = ui->lineEditTargetPath->text().trimmed();
    emit msgOut(ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST, QStringLiteral("startprocess,\"%1\",-y").arg(target)));
}

void ZorGenerateRuntimeDialog::on_pushButtonCancel_clicked()
{
    if (ui->pushButtonGenerate->isHidden())
        accept();
    else
        reject();
}

bool ZorGenerateRuntimeDialog::isGenerating() const
{
    return !ui->pushButtonCancel->isEnabled();
}

void ZorGenerateRuntimeDialog::closeEvent(QCloseEvent *event)
{
    if (isGenerating()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// Escape ends here too; it is ignored while a generation runs.
void ZorGenerateRuntimeDialog::reject()
{
    if (!isGenerating())
        QDialog::reject();
}

bool ZorGenerateRuntimeDialog::checkTarget(QString &target)
{
    const QString title = tr("Generate Runtime");
    const QString errorTitle = tr("Generate Runtime Error");
    target = ui->lineEditTargetPath->text().trimmed();
    if (target.isEmpty() || QFileInfo(target).baseName().isEmpty()) {
        warn(title, tr("You must enter a target file path for the runtime executable."));
        return false;
    }
    if (ZorApplServices::hasInvalidFileNameChars(target)) {
        warn(title, tr("The target file path contains illegal characters. Please enter a valid file "
                       "path."));
        return false;
    }
    if (!endsWithExe(target))
        target += QStringLiteral(".exe");
    if (QDir::isRelativePath(target)) {
        warn(errorTitle, tr("Please provide a full path (like \"C:\\myruntime.exe\") or click \"...\" "
                            "to browse."));
        return false;
    }
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        warn(errorTitle, tr("Invalid location for the target .exe file. Please verify the path is "
                            "correct and try again."));
        return false;
    }
    target = absolute(target);
    ui->lineEditTargetPath->setText(target);
    // Proves that the target can be written without touching an existing
    // one: it is replaced only once the new file is complete.
    QFile file(target);
    bool writable;
    if (QFileInfo::exists(target)) {
        writable = QFileInfo(target).isFile() && file.open(QIODevice::WriteOnly | QIODevice::Append);
        file.close();
    } else {
        writable = file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        file.close();
        file.remove();
    }
    if (!writable) {
        warn(errorTitle, tr("Could not create the target output (.exe) file.\nPlease verify that you "
                            "have the required permissions and that the executable is not already "
                            "running, or try a different location."));
        return false;
    }
    return true;
}

void ZorGenerateRuntimeDialog::setInputsEnabled(bool enabled)
{
    ui->lineEditTargetPath->setEnabled(enabled);
    ui->toolButtonBrowse->setEnabled(enabled);
    ui->pushButtonGenerate->setEnabled(enabled);
}

void ZorGenerateRuntimeDialog::on_pushButtonGenerate_clicked()
{
    QString target;
    if (!checkTarget(target))
        return;
    const QListWidgetItem *item = ui->listWidgetResources->currentItem();
    const QString resource = item ? item->text() : QString();

    setInputsEnabled(false);
    ui->pushButtonStartRuntime->setEnabled(false);
    ui->pushButtonCancel->setEnabled(false);

    QString errorText;
    if (generate(target, resource, errorText)) {
        QSettings settings;
        settings.setValue(QLatin1String(kLastExeKey), target);
        settings.setValue(QLatin1String(kLastResourceKey), resource);
        ui->pushButtonCancel->setText(tr("Close"));
        ui->pushButtonGenerate->hide();
        ui->pushButtonStartRuntime->show();
    } else {
        ui->labelStatus->setText(errorText.isEmpty()
                                     ? tr("Error creating runtime. Please contact technical support.")
                                     : tr("Error - %1").arg(errorText));
        ui->progressBar->setValue(0);
    }

    ui->pushButtonCancel->setEnabled(true);
    ui->pushButtonStartRuntime->setEnabled(true);
    setInputsEnabled(!ui->pushButtonGenerate->isHidden());
}

void ZorGenerateRuntimeDialog::setProgress(int step, const QString &text)
{
    ui->progressBar->setValue(step);
    ui->progressBar->show();
    ui->labelStatus->setText(text);
    QCoreApplication::processEvents();
}

// Copies the application folder into the work folder, with the chosen
// runtime resource file as the copy's user resource file.
bool ZorGenerateRuntimeDialog::prepareWorkFolder(const QString &workFolder, const QString &resource)
{
    const QString source = applicationFolder();
    QStringList skipFolders{source + QStringLiteral("/Templates"), source + QStringLiteral("/Projects")};
    QStringList skipFiles;
    for (const QString &name : runtimeResourceFiles()) {
        if (name != resource)
            skipFiles << source + QLatin1Char('/') + name;
    }
    addBuildTreeSkips(source, skipFolders, skipFiles);
    if (!ZorApplServices::copyDir(source, workFolder, skipFolders, skipFiles))
        return false;
    stripDebugInformation(workFolder);

    QDir work(workFolder);
    const QString userResource = QLatin1String(kUserResource);
    if (work.exists(userResource) && !work.remove(userResource))
        return false;
    return !resource.isEmpty() && work.rename(resource, userResource);
}

bool ZorGenerateRuntimeDialog::generate(const QString &target, const QString &resource,
                                        QString &errorText)
{
    setProgress(0, tr("Preparing required files..."));
    {
        QTemporaryFile probe;
        if (!probe.open()) {
            errorText = tr("Could not create temporary location for runtime generation.");
            return false;
        }
    }
    QDir temp = QDir::temp();
    const QString runFolderName = ZorApplServices::tempFolderName()
                                  + QStringLiteral("/quorvane_runtime_temp_")
                                  + ZorApplServices::uniqueId();
    const QString runFolder = absolute(temp.filePath(runFolderName));
    const QString workFolder = runFolder + QLatin1Char('/') + QFileInfo(target).baseName();
    if (!temp.mkpath(QFileInfo(workFolder).absoluteFilePath())) {
        errorText = tr("Could not create temporary location for runtime generation.");
        return false;
    }
    // The packed folder, the archive and the stub configuration all live in
    // the run folder, which goes whatever the outcome.
    struct RunFolderRemover
    {
        QString path;
        ~RunFolderRemover()
        {
            if (!path.isEmpty())
                ZorApplServices::removeDirRecursively(path);
        }
    } remover{runFolder};

    setProgress(1, tr("Copying files..."));
    if (!prepareWorkFolder(workFolder, resource)) {
        errorText = tr("Could not copy required files for runtime generation.");
        return false;
    }

    QDir(workFolder).mkdir(QStringLiteral("Templates"));
    setProgress(2, tr("Saving project..."));
    QString saveError;
    if (!m_projectObject || !m_project
        || !m_project->saveCopy(workFolder + QStringLiteral("/Templates/runtime.zortpl"), saveError)) {
        QString text = tr("Error saving the runtime project.");
        if (!saveError.isEmpty())
            text += QStringLiteral("\n%1").arg(saveError);
        warn(tr("Generate Runtime"), text);
        return false;
    }

    setProgress(3, tr("Generating runtime executable... (this may take a while)"));
    // Beside the packed folder, never inside it.
    const QString archive = runFolder + QStringLiteral("/compressedRuntime.tmp");
    const QString config = runFolder + QStringLiteral("/sfxConfig.tmp");
    if (!ZorApplServices::zipFiles(archive, workFolder, kToolTimeoutMs, true)) {
        errorText = tr("Could not compress required runtime files.");
        return false;
    }

    QString configText = ZorApplServices::readTextFileWithMacros(QLatin1String(kConfigTemplate));
    QFile configFile(config);
    if (configText.isEmpty() || !configFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        errorText = tr("Could not load runtime module configuration.");
        return false;
    }
    configText.replace(QStringLiteral("%1"), configProgramPath(target, programFileName()));
    {
        QTextStream stream(&configFile);
        stream.setCodec("UTF-8");
        stream.setGenerateByteOrderMark(true);
        stream << configText;
        stream.flush();
        if (stream.status() != QTextStream::Ok) {
            errorText = tr("Could not write to runtime module configuration file.");
            return false;
        }
    }
    configFile.close();

    // Written beside the target and renamed over it only when complete.
    if (!ZorApplServices::concatenateFiles(archive, target, QLatin1String(kStubName), config,
                                           kToolTimeoutMs)) {
        errorText = tr("Could not generate runtime executable file.");
        return false;
    }
    QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner | QFile::ExeUser
                                      | QFile::ExeGroup | QFile::ExeOther);

    setProgress(4, tr("Removing temporary files..."));
    remover.path.clear();
    if (!ZorApplServices::removeDirRecursively(runFolder))
        qWarning("runtime generator: could not remove '%s'", qPrintable(runFolder));
    setProgress(5, tr("Runtime Generator - Success"));
    return true;
}
