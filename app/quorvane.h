// The main window: project tree, tile list and panel stack, menus, tool bar
// and the six GUI modes; it owns the project and hosts its panels.
//
// GUI mode 0 is the desktop layout (project tree, panels in docks); modes 1
// to 5 show panels in the panel stack, with a tile list in modes 1 to 3, a
// touch style in mode 2, a reduced menu bar in modes 3 and 4 and a frameless
// full-screen window in mode 5. The mode is read from the user setting
// "GuiMode" once, when the window is built; a new mode takes a new start.
//
// Panels: in mode 0 a module's panel opens in a dock when its row of the
// project tree is clicked; in the tile layouts every module the user level
// allows gets a page of the panel stack (and a tile). Docks, pages and tiles
// follow the project's module tree whenever it changes.
//
// Files: New (from a template), Open (dialog, recent-file list, dropped file,
// command line), Save and Save As, each asking about unsaved changes first
// where a project would be left. Errors are shown in message boxes, asked
// through ZorQuestionBox so that tests can answer them.
//
// App control: modules, panels and dialogs send KM_APPLICATION_CONTROL
// requests (a command line: "open,<file>", "addmodule,...", "exit", ...) and
// KM_DIALOG requests (a message box, text input or file dialog) to
// appControlIn. They are queued and carried out one after the other, in
// arrival order, 10 ms later in the GUI thread; each is answered on
// appControlResponse with its own message id.
#pragma once

#include "zormessage.h"

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QStringList>

class QAction;
class QDialog;
class QDockWidget;
class QLabel;
class QToolBar;
class QListWidgetItem;
class QMenu;
class QMimeData;
class QToolButton;
class QuorvaneProject;
class ZorPanel;

namespace Ui {
class QuorvaneClass;
}

class Quorvane : public QMainWindow
{
    Q_OBJECT
public:
    // The project tree is never narrower (GUI mode 0).
    static constexpr int MinimumTreeWidth = 240;
    // Pages that Back can go back to.
    static constexpr int MaxPageHistory = 50;

    explicit Quorvane(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Quorvane() override;

    // The process-wide main window; null when there is none.
    static Quorvane *instance();

    QuorvaneProject *project() const;

    int guiMode() const { return m_guiMode; }
    // Tile height and icon edge in pixels (48 in GUI modes 1 and 3, 56 in 2).
    int tileSize() const { return m_tileSize; }

    // The window title parts (see updateWindowTitle).
    QString currentFileName() const { return m_currentFileName; }
    QString currentUserLevelName() const { return m_currentUserLevelName; }
    // The folder file dialogs start in.
    QString lastFolder() const { return m_lastFolder; }

    // The application style sheet of a GUI mode (resource path).
    static QString styleSheetResource(int guiMode);

    // The program and its arguments of a "startprocess," command's text.
    static QStringList startProcessCommandLine(const QString &arguments);

    // Label of a module row; a row two or more levels down is named
    // "<parent label> - <label>". Shown by tiles and dock titles.
    static QString panelName(const QModelIndex &index);

    // Hosted panels: docks (GUI mode 0) by module row, pages (tile layouts)
    // by page number.
    QMap<QPersistentModelIndex, QPointer<QDockWidget>> docks() const { return m_docks; }
    QMap<int, QPersistentModelIndex> pages() const { return m_pages; }

    // --- files (GUI thread)
    // Opens a project file; an empty path asks with a file dialog. A bare
    // file name is looked for in the last folder. Asks about unsaved
    // changes first; failures are shown in a "File error" box.
    bool openProject(const QString &path);
    // A new project from a template ("Templates" beside the program; empty:
    // the configured standard template).
    bool newProject(const QString &templateName);
    // Loads the file; `restoreLayout` reopens the docks stored in the project
    // (GUI mode 0).
    bool loadProjectIntoWindow(const QString &path, bool restoreLayout, QString &errorText);
    // Save, Save As (an empty name asks with a dialog) and the window's save
    // to a file, which stores the layout on request and reports failures in a
    // "Save project" box.
    bool saveProject(bool storeLayout);
    bool saveProjectAs(QString name, bool storeLayout);
    bool saveToFile(const QString &path, bool storeLayout, bool keepPaths);
    // The question before a modified project is left; true when the caller
    // may go on.
    bool askSaveChanges();
    void setLastFolderFromProject();
    // Title and recent-file list follow the current project file.
    void setCurrentFile(const QString &path);
    void updateRecentFileActions();

    // --- user levels
    // The configured level names ("UserLevelNames"), the highest level (the
    // number of names - 1, at most 10; 10 without names), and the menu
    // "&User Level" and tool button (null without names).
    QStringList userLevelNames() const { return m_userLevelNames; }
    int highestUserLevel() const { return m_highestUserLevel; }
    QMenu *userLevelMenu() const { return m_userLevelMenu; }
    QToolButton *userLevelButton() const { return m_userLevelButton; }
    // The password that raising to `level` needs; empty when none.
    static QString userLevelPassword(int level);

    // Puts the context element's module element on the clipboard.
    bool copyModuleToClipboard();
    // The element the tree's context menu was last opened on.
    QPersistentModelIndex contextIndex() const { return m_contextIndex; }
    void setContextIndex(const QModelIndex &index) { m_contextIndex = index; }
    // Enables the five tree actions for a context menu opened on `index`.
    void enableTreeActions(const QModelIndex &index);

signals:
    // Every answer to an app-control or dialog request.
    void appControlResponse(const ZorMessage &msg);

public slots:
    // Title: [file name " - "] [user-level name " - "] AppTitle AppVersion.
    void updateWindowTitle();

    void on_actionAbout_triggered();
    void on_actionQuickReference_triggered();
    void on_actionStopDrives_triggered();
    void openInfoUrl();

    // Sets the project's user level, clamped to the configured levels, and
    // shows it in the user-level menu and the window title.
    void changeUserLevel(int level);
    // The user chose a level: lowering is done at once, raising asks for the
    // level's password (entry N of "UserLevelPasswords") when it has one.
    void askNewUserLevel(int level);
    // The tool button's click: one level up, when there is one.
    void userLevelToolButtonClicked();

    // --- app control
    // Queues a KM_APPLICATION_CONTROL or KM_DIALOG request; anything else
    // is dropped without an answer.
    void appControlIn(const ZorMessage &msg);
    // Carries out the queued requests in arrival order and answers them.
    void appControlDelayed();
    // Executes one command line; `result` receives a result text.
    bool appControl(const QString &command, QString &result);
    bool appControl(const QString &command);
    // Shows the dialog of a KM_DIALOG request and writes the answer state
    // and data into the message.
    void showDialogRequest(ZorMessage &msg);

    // --- panel hosting
    void newDock(const QModelIndex &index);
    void newTileAndPanel(const QModelIndex &index);
    void updateProjectPath(const QString &path, const QString &packedPath);
    void updateProjectTree();
    void updatePanelVisibility();
    void updateTiles();
    void updateTile(QListWidgetItem *item, const QModelIndex &index);
    void setTile(QListWidgetItem *item, const QModelIndex &index, const QString &name);
    void closePanels();
    // Brings the panel of that name (or, failing that, of that module type)
    // to the front; "A > B" names the same panel as "A - B".
    void selectPanel(const QString &name);
    void selectPanel();
    void openRecentFile();
    void showTreeContextMenu(const QPoint &pos);
    void changePage(int page);
    // The page commands of the stack layouts (GUI modes 1 to 5), as a
    // browser has them: Home (Alt+Home) shows the page the project opened
    // on (its home page; the first operator screen in GUI modes 4 and 5), Back
    // (Alt+Left, Backspace) the page shown before. In GUI modes 4 and 5,
    // which have no tiles, a bar above a page other than the home page
    // shows both.
    void goHome();
    void goBack();
    void resetTempSizeChange();
    void clearTilesAndPanelStack(bool unused);
    void clearTilesAndPanelStack();
    // The project file named by dropped data, or empty.
    QString extractOpenPathFromMime(const QMimeData *mime);

    void on_actionNew_triggered();
    void on_actionOpen_triggered();
    void on_actionSave_triggered();
    void on_actionSaveAs_triggered();
    void on_actionUpdate_triggered();
    void on_actionGenerateRuntime_triggered();
    void on_actionProjectTreeCut_triggered();
    void on_actionProjectTreeCopy_triggered();
    void on_actionProjectTreePaste_triggered();
    void on_actionProjectTreeDelete_triggered();
    void on_actionProjectTreeRename_triggered();

protected:
    // Dock tabs (GUI mode 0) show their whole titles: a tab bar that cannot
    // show all its tabs scrolls rather than cutting them to "CA...".
    void childEvent(QChildEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void applyGuiMode();
    void buildPageNavigation();
    void updatePageNavigation();
    int homePage() const;
    void setFirstStartGeometry();
    void buildToolbarLogo();
    // The help page in a window of the program's own, for a desktop that
    // has no program to open it.
    void showHelpWindow(const QString &path);
    // Docks: the first one's width, the temporary width of a "panel"
    // command, the tree's width for its columns.
    void giveFirstDockItsShare(QDockWidget *dock);
    void widenPanelForAWhile(QWidget *panel);
    void fitTreeWidth();
    void buildRecentFileActions();
    bool bindHostedPanel(ZorPanel *panel);
    void buildUserLevelControls();
    bool startProcess(const QString &arguments);
    QDockWidget *dockOf(const QModelIndex &index) const;
    void dropDock(const QModelIndex &index);

    Ui::QuorvaneClass *ui;
    QPointer<QuorvaneProject> m_project;
    int m_guiMode = 0;
    int m_tileSize = 48;
    QString m_currentFileName;
    QString m_currentUserLevelName;
    QString m_lastFolder;

    QMap<QPersistentModelIndex, QPointer<QDockWidget>> m_docks;
    QPointer<QWidget> m_widenedPanel;   // widened for a while by "panel"
    int m_widenedPanelMinimum = 0;
    QMap<int, QPersistentModelIndex> m_pages;
    QMap<QPersistentModelIndex, int> m_tileStatus;
    // Page navigation (GUI modes 1 to 5): the pages shown before, oldest
    // first, the bar of GUI modes 4 and 5 and its panel name.
    QList<QPersistentModelIndex> m_pageHistory;
    QPersistentModelIndex m_homeElement;   // the page the project opened on
    bool m_keepHistory = false;   // a page change that is no step forward
    QAction *m_actionHome = nullptr;
    QAction *m_actionBack = nullptr;
    QToolBar *m_navigationBar = nullptr;
    QLabel *m_navigationLabel = nullptr;

    QStringList m_userLevelNames;
    int m_highestUserLevel = 10;
    QList<QAction *> m_userLevelActions;
    QMenu *m_userLevelMenu = nullptr;
    QToolButton *m_userLevelButton = nullptr;

    QList<QAction *> m_recentFileActions;
    QAction *m_recentFileSeparator = nullptr;
    QList<QAction *> m_treeActions;
    QMenu *m_treeMenu = nullptr;
    QPersistentModelIndex m_contextIndex;

    QPointer<QDialog> m_helpWindow;
    QList<ZorMessage> m_requests;
    bool m_executingRequests = false;
};
