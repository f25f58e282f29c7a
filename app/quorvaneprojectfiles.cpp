// The file side of the project: loading, saving, packing and unpacking, and
// the project values kept at the root of the project XML.
#include "quorvaneproject.h"

#include "zorapplservices.h"
#include "zordommodel.h"
#include "zormigration.h"
#include "zormodule.h"
#include "zorpanel.h"
#include "zorquestionbox.h"
#include "zorxmlnesting.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSemaphore>
#include <QSet>
#include <QTemporaryFile>
#include <QTextStream>
#include <QWidget>

#include <atomic>
#include <memory>

namespace {

const QString ProjectSuffix = QStringLiteral(".zorpro");
const QString ZipSuffix = QStringLiteral(".zorzip");
const QString TemplateSuffix = QStringLiteral(".zortpl");
const QString TempFolderPrefix = QStringLiteral("zorproj_temp_");
const QString RootTag = QStringLiteral("QuorvaneProject");
const QString ProjectInfoKey = QStringLiteral("projectinfo");
const QString GuiStateKey = QStringLiteral("guistate");
const int PackTimeoutMs = 30000;

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// A "zorproj_temp_*" folder that lies directly in the temporary root, and is
// no link: the only kind of folder the project removes as temporary.
bool isTempProjectRoot(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.fileName().startsWith(TempFolderPrefix)
        || info.fileName().size() == TempFolderPrefix.size() || info.isSymLink() || !info.isDir())
        return false;
    const QString parent = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QString root = QFileInfo(QuorvaneProject::tempRoot()).canonicalFilePath();
    return !root.isEmpty() && parent == root;
}

// The "zorproj_temp_*" folder two levels above a path, or empty.
QString tempProjectRootOf(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QString folder = QDir::cleanPath(cleanAbsolute(path) + QStringLiteral("/../.."));
    return isTempProjectRoot(folder) ? folder : QString();
}

bool removeTempProjectRoot(const QString &folder)
{
    if (!isTempProjectRoot(folder))
        return false;
    return ZorApplServices::removeDirRecursively(folder);
}

// A new, empty "zorproj_temp_<UUID>" folder in the temporary root; empty when
// the temporary location cannot be written.
QString newTempProjectRoot()
{
    QTemporaryFile probe;
    if (!probe.open())
        return QString();
    const QString root = QuorvaneProject::tempRoot() + QLatin1Char('/') + TempFolderPrefix
                         + ZorApplServices::uniqueId();
    if (!QDir().mkpath(root))
        return QString();
    return cleanAbsolute(root);
}

// What packing leaves out of a project folder: the target archive, the
// temporary root when it lies inside the folder, and leftovers of packing
// (backups of replaced archives, intermediate archives and copy folders) that
// earlier editions of the program left beside projects.
void packingSkips(const QString &projectDir, const QString &target, QStringList &skipFolders,
                  QStringList &skipFiles)
{
    skipFolders << cleanAbsolute(QuorvaneProject::tempRoot());
    skipFiles << target << target + QStringLiteral(".tmpzipbackup");
    static const QRegularExpression copyFolder(
        QStringLiteral("^copy_\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d"));
    const QFileInfoList entries =
        QDir(projectDir).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (entry.isDir() && name.contains(copyFolder))
            skipFolders << cleanAbsolute(entry.filePath());
        else if (!entry.isDir()
                 && (name.endsWith(QLatin1String(".tmpzipbackup"))
                     || name.endsWith(QLatin1String("_tmp_compressed"))))
            skipFiles << cleanAbsolute(entry.filePath());
    }
}

// Copies a file over an existing one of the same name.
bool copyReplacing(const QString &source, const QString &target)
{
    if (!QDir().mkpath(QFileInfo(target).path()))
        return false;
    if (QFileInfo::exists(target) && !QFile::remove(target))
        return false;
    return QFile::copy(source, target);
}

// Writes the bytes of `source` as `target`; the target is replaced only once
// the whole file is written.
bool replaceFileWith(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if ((chunk.isEmpty() && in.error() != QFileDevice::NoError)
            || out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return false;
        }
    }
    return out.commit();
}

// Characters XML 1.0 cannot hold, not even as a reference (control
// characters a script printed into a property, lone surrogates), are left
// out of the file: written raw they would make it unreadable.
void dropCharactersXmlCannotHold(QString &text)
{
    const auto allowed = [&text](int i, int *length) {
        const ushort c = text.at(i).unicode();
        *length = 1;
        if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
            || (c >= 0xE000 && c <= 0xFFFD))
            return true;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size()
            && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            *length = 2;
            return true;
        }
        return false;
    };
    int length = 1;
    int i = 0;
    while (i < text.size() && allowed(i, &length))
        i += length;
    if (i == text.size())
        return;
    QString kept = text.left(i);
    kept.reserve(text.size());
    for (; i < text.size(); i += length) {
        if (allowed(i, &length))
            kept += text.midRef(i, length);
    }
    text = kept;
}

} // namespace

// --- names and paths -----------------------------------------------------------

bool QuorvaneProject::isZipName(const QString &name)
{
    return name.endsWith(ZipSuffix, Qt::CaseInsensitive);
}

bool QuorvaneProject::isTemplateName(const QString &name)
{
    return name.endsWith(TemplateSuffix, Qt::CaseInsensitive);
}

bool QuorvaneProject::isPackedName(const QString &name)
{
    return isZipName(name) || isTemplateName(name);
}

void QuorvaneProject::setPaths(const QString &projectFile, const QString &packedFile)
{
    m_projectFile = projectFile;
    m_packedFile = packedFile;
    emit projectPathChanged(m_projectFile, m_packedFile);
}

void QuorvaneProject::clearPaths()
{
    setPaths(QString(), QString());
}

QString QuorvaneProject::tempRoot()
{
    return QDir::cleanPath(QDir::tempPath() + QLatin1Char('/') + ZorApplServices::tempFolderName());
}

bool QuorvaneProject::removeTempFolder(const QString &path)
{
    const QString root = tempProjectRootOf(path);
    return !root.isEmpty() && removeTempProjectRoot(root);
}

bool QuorvaneProject::isTempProjectPath(const QString &path)
{
    return !tempProjectRootOf(path).isEmpty();
}

// --- loading ----------------------------------------------------------------------

bool QuorvaneProject::load(const QString &fileName, QString &errorText)
{
    errorText.clear();
    close();
    if (fileName.isEmpty()) {
        close();
        return false;
    }

    QString readFile = cleanAbsolute(fileName);
    QString packed;
    if (isPackedName(fileName)) {
        packed = readFile;
        QString folder;
        readFile = extractProject(packed, folder);
        if (readFile.isEmpty()) {
            errorText = tr("Could not extract compressed project.");
            close();
            return false;
        }
    }

    // Until the paths are set, close() does not know the unpacked folder.
    const auto fail = [&](const QString &text) {
        errorText = text;
        if (!packed.isEmpty() && m_packedFile.isEmpty())
            removeTempFolder(readFile);
        close();
        return false;
    };

    QFile file(readFile);
    if (!file.exists())
        return fail(tr("The project file was not found."));
    if (!file.open(QIODevice::ReadOnly))
        return fail(tr("Could not open project file."));
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QString text = in.readAll();
    upgradeProjectText(text);
    file.close();
    if (text.isEmpty())
        return fail(tr("Project file is empty."));

    setPaths(readFile, packed);

    // Checked before the text is parsed: the parser and everything after it
    // recurse along the nesting.
    switch (ZorXmlNesting::check(text)) {
    case ZorXmlNesting::TooDeep:
        return fail(tr("Project file is nested too deeply (more than %1 levels of modules or "
                       "%2 levels of elements).")
                        .arg(ZorXmlNesting::MaxModuleDepth)
                        .arg(ZorXmlNesting::MaxElementDepth));
    case ZorXmlNesting::DeclaresEntities:
        return fail(tr("Project file declares XML entities, which projects do not use."));
    case ZorXmlNesting::Allowed:
        break;
    }
    QDomDocument document;
    if (!document.setContent(text, false))
        return fail(tr("Project file contains invalid XML."));
    if (!loadDocument(document))
        return fail(tr("Could not load project XML data."));
    return true;
}

QString QuorvaneProject::extractProject(const QString &archive, QString &folder)
{
    const QString base = QFileInfo(archive).completeBaseName();
    QString extraction = folder;
    QString createdRoot;
    if (folder.isEmpty()) {
        createdRoot = newTempProjectRoot();
        if (createdRoot.isEmpty())
            return QString();
        folder = QFileInfo(createdRoot).fileName();
        extraction = createdRoot + QLatin1Char('/') + base;
        if (!QDir().mkpath(extraction)) {
            removeTempProjectRoot(createdRoot);
            return QString();
        }
    }
    const auto fail = [&createdRoot] {
        if (!createdRoot.isEmpty())
            removeTempProjectRoot(createdRoot);
        return QString();
    };

    // The archive functions list the archive first and refuse entries that
    // would land outside the extraction folder.
    if (!ZorApplServices::unzipArchive(archive, extraction))
        return fail();

    const QString wanted = cleanAbsolute(extraction + QLatin1Char('/') + base + ProjectSuffix);
    if (QFileInfo(wanted).isFile())
        return wanted;
    const QStringList found = QDir(extraction).entryList({QStringLiteral("*") + ProjectSuffix},
                                                         QDir::Files, QDir::Name);
    if (found.isEmpty() || !QFile::rename(extraction + QLatin1Char('/') + found.first(), wanted))
        return fail();
    return wanted;
}

// --- saving -------------------------------------------------------------------------

bool QuorvaneProject::save(const QString &fileName, QString &errorText, bool keepPaths)
{
    errorText.clear();
    // A closed project (nothing loaded, or a failed load) would be written
    // as an empty file over the one named.
    if (!m_model || !m_model->hasRoot()) {
        errorText = tr("There is no project to save.");
        return false;
    }
    m_filesLeftBehind.clear();
    if (!prepareSave(errorText, true))
        return false;

    // "moduleDepth" lives in memory only; it is back whichever way the save
    // ends.
    m_model->updateModuleDepths(true);
    struct DepthsBack
    {
        ZorDomModel *model;
        ~DepthsBack()
        {
            if (model)
                model->updateModuleDepths(false);
        }
    } depthsBack{m_model.data()};

    const bool targetPacked = isPackedName(fileName);
    const QString packedTarget = targetPacked ? fileName : m_packedFile;
    const QString plainTarget =
        (!targetPacked && m_packedFile.isEmpty()) ? fileName : m_projectFile;
    if (plainTarget.isEmpty()) {
        errorText = tr("Cannot save a non-compressed project to the compressed format. Please "
                       "consult documentation on project types.");
        return false;
    }
    // A plain project saved into another folder takes its files along, so
    // that the copy finds them when it is opened.
    if (!targetPacked && m_packedFile.isEmpty() && !m_projectFile.isEmpty()
        && !takeReferencedFiles(QFileInfo(cleanAbsolute(fileName)).absolutePath(), errorText))
        return false;
    if (!writeDocument(plainTarget)) {
        errorText = tr("Could not write data to target file.");
        return false;
    }

    if (targetPacked) {
        QString newProjectFile;
        if (!saveCompressed(plainTarget, fileName, newProjectFile, errorText))
            return false;
        if (keepPaths)
            return true;
        // A packed project takes the new base name inside its temporary
        // folder; a plain one keeps its file where it is.
        if (cleanAbsolute(newProjectFile) != cleanAbsolute(m_projectFile)) {
            if (QFileInfo::exists(newProjectFile))
                QFile::remove(newProjectFile);
            if (!QFile::rename(m_projectFile, newProjectFile)) {
                errorText = tr("Could not rename the .zorpro file %1 to %2")
                                .arg(QFileInfo(m_projectFile).fileName(),
                                     QFileInfo(newProjectFile).fileName());
                return false;
            }
        }
        setPaths(newProjectFile, cleanAbsolute(fileName));
        return true;
    }

    if (!m_packedFile.isEmpty()) {
        // A packed project saved as a plain ".zorpro" leaves the temporary
        // folder: its files go beside the new project file.
        if (keepPaths)
            return packedToPlain(fileName, errorText);
        const QString oldProjectFile = m_projectFile;
        if (!packedToPlain(fileName, errorText))
            return false;
        ZorApplServices::setWorkingDir(QString());
        removeTempFolder(oldProjectFile);
    }
    if (!keepPaths)
        setPaths(cleanAbsolute(fileName), QString());
    return true;
}

bool QuorvaneProject::packedToPlain(const QString &fileName, QString &errorText)
{
    const QString sourceDir = QFileInfo(m_projectFile).absolutePath();
    const QString target = cleanAbsolute(fileName);
    const QString targetDir = QFileInfo(target).absolutePath();
    QStringList files;
    ZorApplServices::collectFiles(sourceDir, files, QStringList(), {cleanAbsolute(m_projectFile)});
    const QString prefix = QDir::cleanPath(sourceDir) + QLatin1Char('/');
    QStringList relativePaths;
    QStringList replaced;
    for (const QString &native : qAsConst(files)) {
        const QString file = QDir::fromNativeSeparators(native);
        if (!file.startsWith(prefix)) {
            errorText = tr("Could not write data to target file.");
            return false;
        }
        const QString relative = file.mid(prefix.size());
        relativePaths << relative;
        const QString copy = cleanAbsolute(targetDir + QLatin1Char('/') + relative);
        if (copy != target && QFileInfo::exists(copy))
            replaced << relative;
    }
    // The project's files land beside the new project file: files of the
    // same name that are already there belong to the user and are replaced
    // only when the user agrees. Nothing is written before that.
    if (!copyFilesAsked(prefix, targetDir, relativePaths, replaced, errorText))
        return false;
    if (!writeDocument(target)) {
        errorText = tr("Could not write data to target file.");
        return false;
    }
    return true;
}

namespace {

// Attributes of module elements that name nothing on disk.
bool isModuleAttribute(const QString &name)
{
    static const QStringList names{"type", "label", "description", "panelVisible",
                                   "dragDropMode", "moduleDepth", "userLevel"};
    return names.contains(name);
}

// A value that names a file or folder by a relative path: one line, no
// scheme, a folder part or a suffix ("SimNode1.xdd", "Recordings/run.csv").
// Bare words ("COM1", "sim", "Scope") are settings, not files.
bool looksLikeRelativePath(const QString &value)
{
    if (value.isEmpty() || value.size() > 1024 || value.contains(QLatin1Char('\n'))
        || value.contains(QLatin1String("://")) || !QDir::isRelativePath(value)
        || ZorApplServices::hasInvalidFileNameChars(value))
        return false;
    const QString path = QDir::fromNativeSeparators(value);
    return path.contains(QLatin1Char('/')) || QFileInfo(path).fileName().contains(QLatin1Char('.'));
}

bool sameContent(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly)
        || !second.open(QIODevice::ReadOnly))
        return false;
    while (!first.atEnd()) {
        if (first.read(1 << 16) != second.read(1 << 16))
            return false;
    }
    return true;
}

void collectValues(const QDomElement &element, QStringList &values)
{
    for (QDomNode node = element.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isText() || node.isCDATASection()) {
            values << node.nodeValue().trimmed();
        } else if (node.isElement()) {
            const QDomElement child = node.toElement();
            const bool module = child.tagName() == QLatin1String("module");
            const QDomNamedNodeMap attributes = child.attributes();
            for (int i = 0; i < attributes.count(); ++i) {
                const QDomAttr attribute = attributes.item(i).toAttr();
                if (!module || !isModuleAttribute(attribute.name()))
                    values << attribute.value().trimmed();
            }
            collectValues(child, values);
        }
    }
}

} // namespace

QStringList QuorvaneProject::referencedFiles(QStringList *outside) const
{
    QStringList inside;
    if (!m_model || m_projectFile.isEmpty())
        return inside;
    const QDir folder(QFileInfo(m_projectFile).absolutePath());
    QStringList values;
    const QDomElement root = m_model->document().documentElement();
    collectValues(root.firstChildElement(QStringLiteral("module")), values);
    // Operator screens read "QML/ZorUiMain.qml" without naming it.
    bool screens = false;
    const QDomNodeList modules = root.elementsByTagName(QStringLiteral("module"));
    for (int i = 0; i < modules.count(); ++i)
        screens |= modules.at(i).toElement().attribute(QStringLiteral("type")).startsWith(QLatin1String("uipanel"));
    if (screens)
        values << QStringLiteral("QML/");

    for (const QString &value : qAsConst(values)) {
        if (!looksLikeRelativePath(value))
            continue;
        const QString path = QDir::cleanPath(QDir::fromNativeSeparators(value));
        // The project's own folder is no file it names.
        if (path == QLatin1String(".") || !QFileInfo::exists(folder.filePath(path)))
            continue;
        const bool climbsOut = path == QLatin1String("..") || path.startsWith(QLatin1String("../"));
        if (!climbsOut && !inside.contains(path))
            inside << path;
        else if (climbsOut && outside && !outside->contains(path))
            *outside << path;
    }
    return inside;
}

bool QuorvaneProject::takeReferencedFiles(const QString &targetDir, QString &errorText)
{
    const QString sourceDir = QFileInfo(m_projectFile).absolutePath();
    if (cleanAbsolute(sourceDir) == cleanAbsolute(targetDir) || !QFileInfo(targetDir).isDir())
        return true;
    QStringList outside;
    const QStringList named = referencedFiles(&outside);
    m_filesLeftBehind = outside;

    // File by file, folders with everything in them; the project file itself
    // is written afterwards.
    const QString prefix = QDir::cleanPath(sourceDir) + QLatin1Char('/');
    QStringList files;
    for (const QString &path : named) {
        const QString source = prefix + path;
        if (QFileInfo(source).isDir()) {
            QStringList below;
            ZorApplServices::collectFiles(source, below);
            for (const QString &native : qAsConst(below)) {
                const QString file = QDir::fromNativeSeparators(native);
                if (file.startsWith(prefix))
                    files << file.mid(prefix.size());
            }
        } else if (!QFileInfo(source).isSymLink()) {
            files << path;
        }
    }
    files.removeDuplicates();
    const QString projectFileName = QFileInfo(m_projectFile).fileName();
    files.removeAll(projectFileName);

    QStringList copies;
    QStringList replaced;
    for (const QString &relative : qAsConst(files)) {
        const QString target = targetDir + QLatin1Char('/') + relative;
        if (!QFileInfo::exists(target)) {
            copies << relative;
        } else if (!sameContent(prefix + relative, target)) {
            copies << relative;
            replaced << relative;
        }
    }
    return copyFilesAsked(prefix, targetDir, copies, replaced, errorText);
}

bool QuorvaneProject::copyFilesAsked(const QString &sourcePrefix, const QString &targetDir,
                                     const QStringList &files, const QStringList &replacing,
                                     QString &errorText) const
{
    if (!replacing.isEmpty() && !confirmReplacing(targetDir, replacing)) {
        errorText = tr("Nothing was saved: files of the project would have replaced files "
                       "of the same name in %1.")
                        .arg(QDir::toNativeSeparators(targetDir));
        return false;
    }
    for (const QString &relative : files) {
        if (!copyReplacing(sourcePrefix + relative, targetDir + QLatin1Char('/') + relative)) {
            errorText = tr("Could not write data to target file.");
            return false;
        }
    }
    return true;
}

bool QuorvaneProject::confirmReplacing(const QString &folder, const QStringList &files) const
{
    const int shown = 15;
    QStringList lines = files.mid(0, shown);
    if (files.size() > shown)
        lines << tr("... and %n more", nullptr, files.size() - shown);
    ZorQuestionBox::Question question;
    question.icon = QMessageBox::Warning;
    question.title = tr("Save project");
    question.text = tr("The project's files go beside the project file. These files in %1 "
                       "would be replaced:\n\n%2\n\nDo you want to replace them?")
                        .arg(QDir::toNativeSeparators(folder), lines.join(QLatin1Char('\n')));
    question.buttons = QMessageBox::Yes | QMessageBox::No;
    question.defaultButton = QMessageBox::No;
    return ZorQuestionBox::ask(qobject_cast<QWidget *>(parent()), question) == QMessageBox::Yes;
}

bool QuorvaneProject::writeDocument(const QString &path) const
{
    QString text = m_model->document().toString(1);
    dropCharactersXmlCannotHold(text);
    // The file is UTF-8; a declaration naming another encoding would make
    // readers misread every character beyond ASCII.
    static const QRegularExpression declaredEncoding(
        QStringLiteral("^(\\s*<\\?xml[^>]*?encoding\\s*=\\s*)([\"'])[^\"']*\\2"));
    text.replace(declaredEncoding, QStringLiteral("\\1\\2UTF-8\\2"));

    // Written beside the target and renamed over it at the end: a failed
    // write leaves the previous file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << text;
    out.flush();
    if (out.status() != QTextStream::Ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool QuorvaneProject::saveCompressed(const QString &projectFile, const QString &packedTarget,
                                     QString &newProjectFile, QString &errorText)
{
    errorText.clear();
    const QString project = cleanAbsolute(projectFile);
    const QString projectDir = QFileInfo(project).absolutePath();
    const QString target = cleanAbsolute(packedTarget);
    const QString base = QFileInfo(target).completeBaseName();
    const QString newName = base + ProjectSuffix;

    // Staged outside the project folder: the copy never lands inside the
    // folder it copies, and nothing of it is left behind there.
    const QString stageRoot = newTempProjectRoot();
    if (stageRoot.isEmpty()) {
        errorText = tr("Could not create folder for compressed files: %1")
                        .arg(tempRoot() + QLatin1Char('/') + TempFolderPrefix);
        return false;
    }
    const QString stage = stageRoot + QLatin1Char('/') + base;
    const auto fail = [&](const QString &text) {
        errorText = text;
        removeTempProjectRoot(stageRoot);
        return false;
    };

    QStringList skipFolders;
    QStringList skipFiles{project, cleanAbsolute(projectDir + QLatin1Char('/') + newName)};
    packingSkips(projectDir, target, skipFolders, skipFiles);
    if (!ZorApplServices::copyDir(projectDir, stage, skipFolders, skipFiles)
        || !QFile::copy(project, stage + QLatin1Char('/') + newName)) {
        return fail(tr("Error while copying files before compression, from %1 to %2")
                        .arg(projectDir, stage));
    }

    const QString archive = stageRoot + QLatin1Char('/') + QFileInfo(target).fileName();
    if (!ZorApplServices::zipFiles(archive, stage + QStringLiteral("/*"), PackTimeoutMs, false))
        return fail(tr("Error compressing %1").arg(target));
    if (!replaceFileWith(archive, target))
        return fail(tr("Could not write data to target file."));

    if (!removeTempProjectRoot(stageRoot))
        qWarning("QuorvaneProject: could not remove the packing folder %s", qUtf8Printable(stageRoot));
    newProjectFile = isTempProjectPath(project) ? projectDir + QLatin1Char('/') + newName : project;
    return true;
}

bool QuorvaneProject::prepareSave(QString &errorText, bool updateInfo)
{
    errorText.clear();
    if (updateInfo)
        updateProjectInfo();
    const bool agreed = askPanels(errorText);
    settlePendingWrites();
    return agreed;
}

bool QuorvaneProject::askPanels(QString &errorText)
{
    QStringList objections;
    for (auto it = m_openPanels.cbegin(); it != m_openPanels.cend(); ++it) {
        ZorPanel *panel = it.value();
        if (!panel || !it.key().isValid())
            continue;
        const QString objection = panel->savePanelState();
        if (!objection.isEmpty())
            objections << objection;
    }
    errorText = objections.join(QLatin1Char('\n'));
    return objections.isEmpty();
}

// Panels reach their modules through queued signals into the module host's
// thread, which takes a property request at once and posts the value back to
// the model. A marker queued behind the panels' messages in each module
// thread tells when all of them have been taken; the writes they posted are
// then carried out here, so that the file holds every edit made before.
void QuorvaneProject::settlePendingWrites()
{
    QSet<QThread *> threads;
    QList<ZorModule *> markers;
    for (ZorModule *module : qAsConst(m_modules)) {
        if (module && module->thread() != QThread::currentThread()
            && !threads.contains(module->thread())) {
            threads.insert(module->thread());
            markers << module;
        }
    }
    if (!markers.isEmpty()) {
        // Shared with the markers, which may outlive this call (a module
        // thread that does not get to them in time). Made here and used in
        // the module threads: the flag states that hand-over in the
        // language's own terms (Qt's event queue between the two is not
        // seen by every checking tool).
        struct Settle
        {
            QSemaphore reached;
            std::atomic<bool> published{false};
        };
        auto settle = std::make_shared<Settle>();
        settle->published.store(true, std::memory_order_release);
        for (ZorModule *module : qAsConst(markers)) {
            QMetaObject::invokeMethod(
                module,
                [settle] {
                    settle->published.load(std::memory_order_acquire);
                    settle->reached.release();
                },
                Qt::QueuedConnection);
        }
        if (!settle->reached.tryAcquire(markers.size(), m_settleTimeoutMs))
            qWarning("QuorvaneProject: the modules have not taken the panels' settings within %d ms",
                     m_settleTimeoutMs);
    }
    if (m_model)
        QCoreApplication::sendPostedEvents(m_model.data(), QEvent::MetaCall);
}

// --- project values ---------------------------------------------------------------

QString QuorvaneProject::readProjectValue(ZorDomModel *model, const QString &key)
{
    if (!model)
        return QString();
    const QDomElement value =
        model->document().firstChildElement(RootTag).firstChildElement(key);
    const QDomNode first = value.firstChild();
    return first.isText() ? first.nodeValue() : QString();
}

QString QuorvaneProject::projectValue(const QString &key) const
{
    return readProjectValue(m_model.data(), key);
}

void QuorvaneProject::setProjectValue(const QString &key, const QString &value)
{
    QDomDocument document = m_model->document();
    QDomElement root = document.firstChildElement(RootTag);
    if (root.isNull())
        return;
    QDomElement element = root.firstChildElement(key);
    if (element.isNull())
        element = root.appendChild(document.createElement(key)).toElement();
    if (element.hasChildNodes())
        element.firstChild().setNodeValue(value);
    else
        element.appendChild(document.createTextNode(value));
}

QString QuorvaneProject::projectInfo() const
{
    return projectValue(ProjectInfoKey);
}

void QuorvaneProject::updateProjectInfo()
{
    using ZorApplServices::appGlobal;
    const QString info =
        tr("%1 %2 %3 %4")
            .arg(QDateTime::currentDateTime().toString(Qt::ISODate),
                 appGlobal(QStringLiteral("AppTitle")), appGlobal(QStringLiteral("AppVersion")),
                 ZorApplServices::userName().left(3));
    const QString old = projectInfo();
    const QString first = old.section(QLatin1Char(','), 0, 0);
    if (old.isEmpty())
        setProjectValue(ProjectInfoKey, QStringLiteral("created ") + info);
    else if (first.trimmed() != QLatin1String("noupdate"))
        setProjectValue(ProjectInfoKey, first + QStringLiteral(", modified ") + info);
}

void QuorvaneProject::setGuiState(const QByteArray &state)
{
    setProjectValue(GuiStateKey, QString::fromLatin1(state.toHex()));
}

QByteArray QuorvaneProject::guiState() const
{
    const QString text = projectValue(GuiStateKey);
    return text.isEmpty() ? QByteArray() : QByteArray::fromHex(text.toLatin1());
}
