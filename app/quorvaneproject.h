// The project of the running program.
//
// QuorvaneProject holds the project document in its tree model (ZorDomModel),
// the registry of module kinds, the module host (a thread of its own that
// creates, links and deletes the modules) and the open panels. Modules and
// panels are kept in ordered maps keyed by the persistent model index of
// their tree element; only the children of the project module (depth 1) have
// modules, and the panel of an element deeper down (such as a drive's setup
// page below the drive) is bound to its parent's module.
//
// Every structural change of the tree (load, add, remove, rename) has the
// host rebuild the modules: missing ones are created, orphaned ones deleted,
// masters and slaves linked. The GUI thread waits for each host action; one
// that outlasts the host's time-out (20000 ms) is reported and waited for
// further, so that the module map is never read while the host writes it.
//
// A panel is bound to its module by queued message signals: panel msgOut to
// module slaveIn and module slaveOut to panel msgIn (masterIn/masterOut for a
// panel whose usesSlavePort() is false). With the user setting "DebugMode"
// above 1, every panel and module message also goes into the message log
// "zormessages".
//
// Files: a project is a ".zorpro" file (UTF-8 XML), or a ".zorzip" or
// ".zortpl" archive of the folder that holds it. A packed project is unpacked
// into QuorvaneTemp/zorproj_temp_<UUID>/<name>/ below the system temporary
// folder and worked on there until it is closed. Packing copies the project
// folder to a staging folder of the same kind first, so the user's own files
// are never renamed or deleted, and replaces the archive only with a complete
// one. Only such "zorproj_temp_*" folders are ever removed as temporary.
//
// The project tracks unsaved changes: adding, removing, renaming (paste and
// cut included), property and panel-document writes and panel visibility
// changes set the modified flag; loading and saving clear it.
// askSaveChanges() is the question the main window asks before a project is
// left (New, Open, closing the window, exit).
#pragma once

#include "zordebuglog.h"
#include "zorhostedproject.h"
#include "zormessage.h"
#include "zorregistry.h"
#include "zorsavableproject.h"

#include <QDomDocument>
#include <QMap>
#include <QModelIndex>
#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>

#include <functional>

class ZorDomModel;
class ZorModule;
class ZorModulesHost;
class ZorPanel;
class QWidget;

class QuorvaneProject : public QObject, public ZorHostedProject, public ZorSavableProject
{
    Q_OBJECT
public:
    using ModuleMap = ZorModuleMap;
    using PanelMap = QMap<QPersistentModelIndex, QPointer<ZorPanel>>;

    explicit QuorvaneProject(QObject *parent = nullptr);
    ~QuorvaneProject() override;

    // The current tree model; never null.
    ZorDomModel *model() const;

    // --- module tree
    // Installs a parsed project document; false (the old model stays) when
    // it has no project root. Clears the modified flag.
    bool loadDocument(const QDomDocument &document);
    // Has the host build the modules of the current tree.
    void rebuildModules();
    // Inserts a module of `type` (a copy of `templateElement`, else of the
    // project's template for the type, else of the built-in default element)
    // under `parent` (invalid: the project module). `propertiesXml` is
    // appended to the copy; `newLabel` receives the label the module got.
    bool addModule(const QString &type, const QString &label = QString(),
                   const QString &description = QString(),
                   const QModelIndex &parent = QModelIndex(),
                   const QString &propertiesXml = QString(),
                   const QDomElement &templateElement = QDomElement(),
                   QString *newLabel = nullptr);
    // Arguments as in the app-control command "removemodule".
    bool removeModule(const QString &label, const QString &type, const QModelIndex &index);
    bool renameModule(const QString &text, const QModelIndex &index, QString *result = nullptr);
    // Deletes panels and modules and leaves an empty project.
    void close();

    // --- panels
    // A new panel for the element, bound to its module; null for an element
    // without type, a type without panel, or when binding fails.
    ZorPanel *createPanel(const QModelIndex &index);
    bool bindPanel(ZorPanel *panel, const QModelIndex &index);
    // The elements whose "panelVisible" is "1" (all with `all`), root first,
    // then each child followed by its own children.
    QList<QPersistentModelIndex> visiblePanelIndexes(bool all) const;
    // Asks every open panel to write its settings into the document; the
    // objections, one per line, go to `errorText`. True when none objected.
    bool checkPanelsBeforeSave(QString &errorText);
    // Deletes every module (their threads end, adapters and files close)
    // and leaves panels and document as they are: for a process that must
    // end at once, when its window can no longer be shown.
    void stopModules();

    // --- modules and panels of the current tree (GUI thread)
    ModuleMap modules() const;
    ZorModule *moduleOf(const QModelIndex &index) const;
    PanelMap openPanels() const { return m_openPanels; }
    // The index of the module an element's panel is bound to: none for the
    // root, the element itself at depth 1, its parent deeper down.
    static QModelIndex moduleIndexFor(const QModelIndex &index);
    // Deletes the panels of elements that have gone and drops them from
    // the map.
    void dropDeadPanels();

    // --- registry
    // The program's kinds are registered by the constructor. Further kinds
    // (tests, extensions) may be added before a project is loaded; a key that
    // is taken keeps its creator (false).
    bool registerModuleCreator(const QString &key, const ZorRegistry::ModuleCreator &creator);
    bool registerPanelCreator(const QString &key, ZorRegistry::PanelCreator creator);
    const ZorRegistry::ModuleCreators &moduleCreators() const { return m_moduleCreators; }
    const ZorRegistry::PanelCreators &panelCreators() const { return m_panelCreators; }

    // --- user level and GUI mode
    int userLevel() const;
    void setUserLevel(int level);
    void setGuiMode(int mode);
    bool hasAccess(const QModelIndex &index) const;
    // Label of a module row; a row two or more levels down is named
    // "<parent label> - <label>".
    static QString displayName(const QModelIndex &index);
    static QString moduleType(const QModelIndex &index);

    // --- files
    // Suffix tests, without regard to case: ".zorzip", ".zortpl", either.
    static bool isZipName(const QString &name);
    static bool isTemplateName(const QString &name);
    static bool isPackedName(const QString &name);

    // The ".zorpro" file that is read and written (for a packed project its
    // unpacked copy in the temporary folder) and the archive the project
    // came from or is packed to (empty for a plain project).
    QString projectFile() const { return m_projectFile; }
    QString packedFile() const { return m_packedFile; }
    void setPaths(const QString &projectFile, const QString &packedFile);
    void clearPaths();
    bool isCompressed() const { return !m_packedFile.isEmpty(); }
    bool isTemplate() const { return isTemplateName(m_packedFile); }

    // Closes the current project and loads the file; a packed file is
    // unpacked into a temporary folder first. On failure the project is left
    // empty and `errorText` says why (empty for an empty file name).
    bool load(const QString &fileName, QString &errorText);
    // Writes the project to `fileName` (".zorpro", or packed for ".zorzip"
    // and ".zortpl"). `keepPaths` saves a copy; otherwise the saved file
    // becomes the project's file. Open panels are asked first; their
    // objections stop the save. On failure the paths stay as they were.
    // A packed project saved as ".zorpro" puts its files beside the new
    // file; files of the same name already there are replaced only when the
    // user agrees (ZorQuestionBox), else nothing is written. A plain project
    // saved into another folder takes along the files it names by a path
    // relative to its folder (device descriptions, scripts, recordings, the
    // "QML" folder of its operator screens), asking the same way before it
    // replaces a different file; those it names outside its folder
    // ("../x.xdd") stay behind and are listed in filesLeftBehind().
    bool save(const QString &fileName, QString &errorText, bool keepPaths = false);
    // What the last save could not take along (paths as the project names
    // them); empty when it took everything.
    QStringList filesLeftBehind() const { return m_filesLeftBehind; }
    // The paths, relative to the project's folder, of the files and folders
    // that the project names and that lie there; those that climb out of the
    // folder go to `outside`.
    QStringList referencedFiles(QStringList *outside = nullptr) const;
    // A copy for the runtime generator: save() keeping the project's paths.
    bool saveCopy(const QString &fileName, QString &errorText) override
    {
        return save(fileName, errorText, true);
    }
    // Asks every open panel to store its state and push pending settings to
    // its module, and waits until those settings are in the document.
    // `updateInfo` also records the modification in "projectinfo".
    bool prepareSave(QString &errorText, bool updateInfo);
    // Unpacks the archive into `folder` (empty: a new folder
    // QuorvaneTemp/zorproj_temp_<UUID>/<archive base name> below the system
    // temporary folder; `folder` then receives "zorproj_temp_<UUID>").
    // Returns the unpacked project file, named after the archive, or empty.
    QString extractProject(const QString &archive, QString &folder);
    // Packs the folder of `projectFile` into `packedTarget`, with the project
    // file named after the target. The folder is copied to a staging folder
    // below the system temporary folder first, so the user's files are
    // neither renamed nor deleted, and the target is replaced only by a
    // complete archive. `newProjectFile` receives the name the project file
    // takes: renamed after the target inside a temporary project folder,
    // unchanged elsewhere.
    bool saveCompressed(const QString &projectFile, const QString &packedTarget,
                        QString &newProjectFile, QString &errorText);

    // Project values: the text of a child element of the root element.
    static QString readProjectValue(ZorDomModel *model, const QString &key);
    QString projectValue(const QString &key) const;
    void setProjectValue(const QString &key, const QString &value);
    // "projectinfo": "created <info>[, modified <info>]", or a text whose
    // first comma-separated part is "noupdate" (then never changed).
    QString projectInfo() const;
    void updateProjectInfo();
    // "guistate": the main window's layout, stored as hexadecimal text.
    void setGuiState(const QByteArray &state);
    QByteArray guiState() const;

    // <system temporary folder>/QuorvaneTemp.
    static QString tempRoot();
    // Removes the unpacking folder of a packed project's file: the
    // "zorproj_temp_*" folder two levels above `path`, and only when that
    // folder lies directly in tempRoot(). False for any other path.
    static bool removeTempFolder(const QString &path);
    // True when the path lies in such an unpacking folder.
    static bool isTempProjectPath(const QString &path);

    // How long prepareSave waits for modules to take pending settings
    // (default 5000 ms).
    void setSettleTimeout(int ms) { m_settleTimeoutMs = ms; }

    // --- unsaved changes
    bool isModified() const { return m_modified; }
    void setModified(bool modified);
    // Called after the project has been written to a file.
    void markSaved() { setModified(false); }
    // The question before the project is left. True when the caller may go
    // on: nothing unsaved, Discard, or Save and `save` succeeded. Cancel, a
    // closed box and a failed save keep the project (false).
    bool askSaveChanges(QWidget *parent, const std::function<bool()> &save);
    static QString unsavedChangesTitle();
    static QString unsavedChangesText();

    // What the module host reads, in its own thread, while the project waits
    // for it: the model, the module table, the module map (which the host
    // fills) and the main window (the project's parent) for app control.
    QAbstractItemModel *hostModel() const override;
    const ZorModuleRegistry &hostModuleRegistry() const override { return m_moduleCreators; }
    ZorModuleMap &hostModuleMap() override { return m_modules; }
    QObject *hostAppControlReceiver() const override { return parent(); }
    ZorModulesHost *modulesHost() const;

    // The message log (debug mode above 1), else null.
    ZorDebugLog *messageLog() const { return m_messageLog.data(); }

signals:
    void modelChanged();
    void userLevelChanged(int level);
    void layoutChanged();
    void projectPathChanged(const QString &projectFile, const QString &packedFile);
    void prepareToClose();
    void modifiedChanged(bool modified);

public slots:
    // Hands the message to every module, as if from its master.
    void broadcast(const ZorMessage &msg);
    // Hands dropped text to the element's open panel as KM_DROP_DATA.
    void textDropped(const QModelIndex &index, const QString &text);

private:
    void registerCreators();
    void installModel(ZorDomModel *model);
    void performHostAction(int action);
    // Closing: drives that move get KM_DRIVE_STOP and are waited for (at
    // most 2 s) before their modules are deleted.
    void stopMovingDrives();
    void logModuleMessages();
    void documentEdited();
    bool askPanels(QString &errorText);
    void settlePendingWrites();
    bool writeDocument(const QString &path) const;
    bool packedToPlain(const QString &fileName, QString &errorText);
    bool takeReferencedFiles(const QString &targetDir, QString &errorText);
    // Asks whether the listed files (relative to `folder`) may be replaced.
    bool confirmReplacing(const QString &folder, const QStringList &files) const;
    // Copies `files` (relative paths, "<source folder>/" + path) into
    // targetDir; those in `replacing` replace different files there only
    // when the user agrees, else nothing is copied.
    bool copyFilesAsked(const QString &sourcePrefix, const QString &targetDir,
                        const QStringList &files, const QStringList &replacing,
                        QString &errorText) const;

    PanelMap m_openPanels;
    ModuleMap m_modules;
    ZorRegistry::ModuleCreators m_moduleCreators;
    ZorRegistry::PanelCreators m_panelCreators;
    QPointer<ZorModulesHost> m_modulesHost;
    QPointer<ZorDomModel> m_model;
    QString m_projectFile;
    QString m_packedFile;
    QPointer<ZorDebugLog> m_messageLog;
    bool m_modified = false;
    int m_settleTimeoutMs = 5000;
    QStringList m_filesLeftBehind;
};
