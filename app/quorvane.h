// The main window: project tree, tile list and panel stack, menus, tool bar
// and the six GUI modes.
//
// GUI mode 0 is the desktop layout (project tree, panels in docks); modes 1
// to 5 show panels in the panel stack, with a tile list in modes 1 to 3, a
// touch style in mode 2, a reduced menu bar in modes 3 and 4 and a frameless
// full-screen window in mode 5. The mode is read from the user setting
// "GuiMode" once, when the window is built; a new mode takes a new start.
//
// The project (loading, saving, panel hosting, app-control verbs and user
// levels) is not hosted yet: the slots for it exist so that the form's actions
// are wired by name, and the actions whose work is missing stay disabled.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>

namespace Ui {
class QuorvaneClass;
}

class Quorvane : public QMainWindow
{
    Q_OBJECT
public:
    explicit Quorvane(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Quorvane() override;

    // The process-wide main window; null when there is none.
    static Quorvane *instance();

    int guiMode() const { return m_guiMode; }
    // Tile height and icon edge in pixels (48 in GUI modes 1 and 3, 56 in 2).
    int tileSize() const { return m_tileSize; }

    // The window title parts (see updateWindowTitle).
    QString currentFileName() const { return m_currentFileName; }
    QString currentUserLevelName() const { return m_currentUserLevelName; }

    // The application style sheet of a GUI mode (resource path).
    static QString styleSheetResource(int guiMode);

public slots:
    // Title: [file name " - "] [user-level name " - "] AppTitle AppVersion.
    void updateWindowTitle();

    void on_actionAbout_triggered();
    void on_actionQuickReference_triggered();
    void on_actionStopDrives_triggered();
    void openInfoUrl();

    // --- filled in by project hosting, app control and user levels.
    // Sets the user level; without a project there is nothing to set.
    void changeUserLevel(int level);
    // Executes one app-control command line ("open,<file>", "new", ...);
    // `result` receives the result text. No verb is available yet: returns
    // false with "unknown command: <verb>".
    bool appControl(const QString &command, QString &result);
    bool appControl(const QString &command);

    void on_actionNew_triggered();
    void on_actionOpen_triggered();
    void on_actionSave_triggered();
    void on_actionSaveAs_triggered();
    void on_actionUpdate_triggered();
    void on_actionGenerateRuntime_triggered();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void applyGuiMode();
    void setFirstStartGeometry();

    Ui::QuorvaneClass *ui;
    int m_guiMode = 0;
    int m_tileSize = 48;
    QString m_currentFileName;
    QString m_currentUserLevelName;
};
