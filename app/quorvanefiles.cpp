// The main window's file commands: New, Open, Save, Save As, the recent-file
// list, dropped project files, closing the window, and the update and
// runtime generator dialogs.
#include "quorvane.h"
#include "ui_quorvane.h"

#include "quorvaneproject.h"
#include "zorapplservices.h"
#include "zordommodel.h"
#include "zorgenerateruntimedialog.h"
#include "zorquestionbox.h"
#include "zorupdatedialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDockWidget>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QSettings>

namespace {

const int RecentFileCount = 5;
const QString RecentFilesKey = QStringLiteral("RecentFiles");

void warn(QWidget *parent, const QString &title, const QString &text)
{
    ZorQuestionBox::warn(parent, title, text);
}

bool isProjectFileName(const QString &name)
{
    return name.endsWith(QLatin1String(".zorpro"), Qt::CaseInsensitive)
           || QuorvaneProject::isPackedName(name);
}

// A bare file name (no folder part) is taken inside `folder`.
QString inFolder(const QString &name, const QString &folder)
{
    if (!name.isEmpty() && QFileInfo(name).fileName() == name)
        return folder + QLatin1Char('/') + name;
    return name;
}

QString templatesDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Templates/");
}

// Save dialogs do not add a suffix by themselves: a name without one takes
// the suffix of the chosen filter.
QString withFilterSuffix(const QString &name, const QString &filter)
{
    if (name.isEmpty() || isProjectFileName(name))
        return name;
    const int star = filter.indexOf(QLatin1String("*."));
    const int end = filter.indexOf(QLatin1Char(')'), star);
    if (star < 0 || end < 0)
        return name;
    return name + filter.mid(star + 1, end - star - 1);
}

} // namespace

// --- opening ---------------------------------------------------------------------

bool Quorvane::askSaveChanges()
{
    if (!m_project)
        return true;
    return m_project->askSaveChanges(this, [this] { return saveProject(true); });
}

bool Quorvane::loadProjectIntoWindow(const QString &path, bool restoreLayout, QString &errorText)
{
    if (!m_project->load(path, errorText))
        return false;
    if (m_guiMode == 0 && restoreLayout && !m_project->isTemplate()) {
        const QList<QPersistentModelIndex> shown = m_project->visiblePanelIndexes(false);
        for (const QPersistentModelIndex &index : shown)
            newDock(index);
        const QByteArray state = m_project->guiState();
        if (!state.isEmpty()) {
            restoreState(state);
        } else if (!shown.isEmpty()) {
            // Without a stored layout the first panel (the project's home
            // page) is the front tab, not the one opened last.
            if (QDockWidget *first = m_docks.value(shown.first()).data())
                first->raise();
        }
    } else {
        selectPanel(QString());
        // A project starts at home, without pages to go back to.
        m_homeElement = m_pages.value(ui->stackedWidget->currentIndex());
        m_pageHistory.clear();
        updatePageNavigation();
    }
    if (!m_project->isTemplate())
        setLastFolderFromProject();
    setCurrentFile(m_project->isCompressed() ? m_project->packedFile() : m_project->projectFile());
    // Opening panels records their visibility: no change of the user's.
    m_project->markSaved();
    return true;
}

bool Quorvane::openProject(const QString &givenPath)
{
    if (!m_project || !askSaveChanges())
        return false;
    QString path = inFolder(givenPath, m_lastFolder);
    if (path.isEmpty()) {
        // Patterns are separated by blanks: Qt's file dialog reads a pattern
        // holding ";" as one name.
        path = QFileDialog::getOpenFileName(this, tr("Open Quorvane Project"), m_lastFolder,
                                            tr("Quorvane Projects (*.zorzip *.zortpl *.zorpro)"));
        if (path.isEmpty())
            return false;
    }
    // Loading closes the project that was open; should the new one fail,
    // that one comes back (from its file), or a new project when there was
    // none: the window never stays without a project.
    const QString previous = m_project->isCompressed() ? m_project->packedFile()
                                                        : m_project->projectFile();
    const bool previousWasTemplate = m_project->isTemplate();
    QString error;
    if (!loadProjectIntoWindow(path, true, error)) {
        warn(this, tr("File error"), tr("Error while opening\n%1.\n%2").arg(path, error));
        QString ignored;
        if (previous.isEmpty() || !loadProjectIntoWindow(previous, !previousWasTemplate, ignored))
            newProject(QString());
        return false;
    }
    return true;
}

bool Quorvane::newProject(const QString &templateName)
{
    if (!m_project || !askSaveChanges())
        return false;
    m_project->close();
    QString path = templateName;
    if (path.isEmpty() || QFileInfo(path).fileName() == path) {
        path = templatesDir()
               + (path.isEmpty() ? ZorApplServices::appGlobal(QStringLiteral("StdTemplate")) : path);
    }
    QString error;
    if (!loadProjectIntoWindow(path, false, error)) {
        warn(this, tr("File error"),
             tr("Could not open template file\n%1\n%2\nYour application installation might be "
                "corrupt. Please re-install or contact technical support.")
                 .arg(path, error));
        return false;
    }
    return true;
}

void Quorvane::on_actionNew_triggered()
{
    newProject(QString());
}

void Quorvane::on_actionOpen_triggered()
{
    openProject(QString());
}

void Quorvane::openRecentFile()
{
    if (auto *action = qobject_cast<QAction *>(sender()))
        openProject(action->data().toString());
}

// --- saving ------------------------------------------------------------------------

bool Quorvane::saveToFile(const QString &path, bool storeLayout, bool keepPaths)
{
    if (!m_project)
        return false;
    if (storeLayout)
        m_project->setGuiState(saveState(0));
    QString error;
    if (!m_project->save(path, error, keepPaths)) {
        QString text = tr("Error while saving\n%1").arg(path);
        if (!error.isEmpty())
            text += QStringLiteral("\n%1").arg(error);
        warn(this, tr("Save project"), text);
        return false;
    }
    const QStringList behind = m_project->filesLeftBehind();
    if (!behind.isEmpty()) {
        warn(this, tr("Save project"),
             tr("The project was saved as\n%1\nThese files it names lie outside its folder and "
                "were not copied; the saved project looks for them from its new folder:\n\n%2")
                 .arg(QDir::toNativeSeparators(path), behind.join(QLatin1Char('\n'))));
    }
    if (!keepPaths) {
        setLastFolderFromProject();
        m_project->markSaved();
    }
    return true;
}

bool Quorvane::saveProject(bool storeLayout)
{
    if (!m_project)
        return false;
    if (m_project->isTemplate() || m_project->projectFile().isEmpty())
        return saveProjectAs(QString(), true);
    const QString path =
        m_project->isCompressed() ? m_project->packedFile() : m_project->projectFile();
    return saveToFile(path, storeLayout, false);
}

bool Quorvane::saveProjectAs(QString name, bool storeLayout)
{
    if (!m_project)
        return false;
    name = inFolder(name, m_lastFolder);
    QString filters;
    if (m_project->isCompressed()) {
        if (name.isEmpty()) {
            name = QFileInfo(m_project->packedFile()).fileName();
            if (QuorvaneProject::isTemplateName(name)) {
                name = QFileInfo(name).completeBaseName() + QStringLiteral(".zorzip");
                name.replace(QStringLiteral("template"), QStringLiteral("project"), Qt::CaseInsensitive);
            }
            name = m_lastFolder + QLatin1Char('/') + name;
        }
        filters = tr("Quorvane Compressed Project (*.zorzip);;Quorvane Uncompressed Project (*.zorpro)");
    } else {
        if (name.isEmpty())
            name = m_lastFolder + QLatin1Char('/') + QFileInfo(m_project->projectFile()).fileName();
        filters = tr("Quorvane Project (*.zorpro)");
    }
    QString filter;
    const QString chosen = withFilterSuffix(
        QFileDialog::getSaveFileName(this, tr("Save Project As"), name, filters, &filter), filter);
    if (chosen.isEmpty())
        return false;
    return saveToFile(chosen, storeLayout, false);
}

void Quorvane::on_actionSave_triggered()
{
    saveProject(true);
}

void Quorvane::on_actionSaveAs_triggered()
{
    saveProjectAs(QString(), true);
}

void Quorvane::setLastFolderFromProject()
{
    if (!m_project)
        return;
    const QString file =
        m_project->isCompressed() ? m_project->packedFile() : m_project->projectFile();
    if (!file.isEmpty())
        m_lastFolder = QFileInfo(file).absolutePath();
}

// --- current file and recent files ------------------------------------------------------

void Quorvane::updateProjectPath(const QString &path, const QString &packedPath)
{
    setCurrentFile(packedPath.isEmpty() ? path : packedPath);
    ZorApplServices::setWorkingDir(path);
}

void Quorvane::setCurrentFile(const QString &path)
{
    m_currentFileName = QFileInfo(path).fileName();
    updateWindowTitle();
    // A file enters the list once it has been loaded or saved: the paths
    // change before the file is read, and a file that fails to load is no
    // project to come back to.
    if (path.isEmpty() || !m_project || !m_project->model()->hasRoot())
        return;
    const QString standard =
        templatesDir() + ZorApplServices::appGlobal(QStringLiteral("StdTemplate"));
    if (QDir::cleanPath(path).compare(QDir::cleanPath(standard), Qt::CaseInsensitive) == 0
        || ZorGenerateRuntimeDialog::isRuntimeTempPath(path))
        return;
    QSettings settings;
    QStringList files = settings.value(RecentFilesKey).toStringList();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > RecentFileCount)
        files.removeLast();
    settings.setValue(RecentFilesKey, files);
    updateRecentFileActions();
}

void Quorvane::buildRecentFileActions()
{
    ui->menuFile->removeAction(ui->actionExit);
    m_recentFileSeparator = ui->menuFile->addSeparator();
    for (int i = 0; i < RecentFileCount; ++i) {
        QAction *action = new QAction(this);
        action->setVisible(false);
        connect(action, &QAction::triggered, this, &Quorvane::openRecentFile);
        ui->menuFile->addAction(action);
        m_recentFileActions << action;
    }
    ui->menuFile->addSeparator();
    ui->menuFile->addAction(ui->actionExit);
    updateRecentFileActions();
}

void Quorvane::updateRecentFileActions()
{
    const QStringList files = QSettings().value(RecentFilesKey).toStringList();
    const int shown = qMin(files.size(), RecentFileCount);
    for (int i = 0; i < m_recentFileActions.size(); ++i) {
        QAction *action = m_recentFileActions.at(i);
        if (i >= shown) {
            action->setVisible(false);
            continue;
        }
        const QString &path = files.at(i);
        QString text = ZorApplServices::shortPathText(path);
        if (!text.isEmpty())
            text[0] = text.at(0).toLower();
        QString tip = path;
        if (!tip.isEmpty())
            tip[0] = tip.at(0).toUpper();
        action->setText(tr("&%1 %2").arg(i + 1).arg(text));
        action->setStatusTip(tip);
        action->setData(path);
        action->setVisible(true);
    }
    if (m_recentFileSeparator)
        m_recentFileSeparator->setVisible(shown > 0);
}

// --- drag and drop, closing -------------------------------------------------------------

QString Quorvane::extractOpenPathFromMime(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return QString();
    const QString path = mime->urls().first().toLocalFile().trimmed();
    return isProjectFileName(path) ? path : QString();
}

void Quorvane::dragEnterEvent(QDragEnterEvent *event)
{
    if (!extractOpenPathFromMime(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Quorvane::dropEvent(QDropEvent *event)
{
    const QString path = extractOpenPathFromMime(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    appControlIn(ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST, QStringLiteral("open,") + path));
}

void Quorvane::closeEvent(QCloseEvent *event)
{
    if (!askSaveChanges()) {
        event->ignore();
        return;
    }
    if (m_project)
        m_project->close();
    if (m_guiMode != 2 && m_guiMode != 5)
        QSettings().setValue(QStringLiteral("MainWindowGeometry"), saveGeometry());
    event->accept();
}

// --- dialogs of other subsystems -----------------------------------------------------------

void Quorvane::on_actionUpdate_triggered()
{
    if (!askSaveChanges())
        return;
    ZorUpdateDialog dialog(this);
    connect(&dialog, &ZorUpdateDialog::msgOut, this, &Quorvane::appControlIn);
    // The wizard ends this program only once the new one has started.
    connect(this, &Quorvane::appControlResponse, &dialog, &ZorUpdateDialog::appControlResponse);
    dialog.exec();
}

void Quorvane::on_actionGenerateRuntime_triggered()
{
    if (!m_project)
        return;
    if (!m_project->isCompressed()) {
        warn(this, tr("Generate Runtime Warning"),
             tr("Generating a Runtime .exe is only possible for compressed projects (.zorzip or "
                ".zortpl file format). Please consult the User Manual, section 'Projects and "
                "Templates', about how to create a .zorzip file that contains the .zorpro project "
                "file, plus any other additional data required."));
        return;
    }
    ZorGenerateRuntimeDialog dialog(this, m_project.data());
    connect(&dialog, &ZorGenerateRuntimeDialog::msgOut, this, &Quorvane::appControlIn);
    dialog.execIfResourcesAvailable();
}
