// The Python editor: the panel in which the user writes, saves and runs
// Python scripts. One class serves two panel types:
//  - "automation_python", below an automation module: the script runs on
//    the PC. Start (F5) and Stop (Esc) run and stop it, StdOut and StdErr
//    show its output (an error selects its line in the editor), Listen
//    traces the message traffic and Macro Rec. turns the requests it sees
//    into script lines; five further script files run from buttons.
//  - "drive_canopen_python", below a positioning drive: the script is
//    compiled into a drive image (".pymbin"), downloaded into the drive and
//    started, stopped and queried there.
//
// The script always lives in a file (the module property "ScriptFileName";
// an embedded "Script" property is moved into the default file). The panel
// saves silently one second after the last keystroke and reloads the file
// when another program changes it. It never loses typing: a change notice
// whose file holds what the editor wrote or read last is its own and is
// ignored, and an outside change met by unsaved edits is reloaded only when
// the user agrees (through ZorQuestionBox); otherwise the edits are saved
// over it.
//
// Every message box goes through ZorQuestionBox and every file dialog
// through ZorPanel::askOpenFileName/askSaveFileName, so that tests answer
// them without a window.
#pragma once

#include "zorpanel.h"

#include <QElapsedTimer>
#include <QPalette>
#include <QPointer>

class QAction;
class QCheckBox;
class QFileSystemWatcher;
class QLineEdit;
class QPlainTextEdit;
class QSignalMapper;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class QPushButton;
class ZorPythonSyntaxHighlighter;

class ZorContentPythonEditor : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentPythonEditor(QWidget *parent = nullptr);
    ~ZorContentPythonEditor() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

    bool isDrivePanel() const { return m_drive; }
    // The file the editor shows (absolute).
    QString scriptPath() const;
    QString defaultFileName() const;
    // The path of the last successful compile.
    QString compiledImagePath() const { return m_compiledImagePath; }
    QTimer *silentSaveTimer() const { return m_silentSave; }
    QTimer *silentReloadTimer() const { return m_silentReload; }

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_actionNew_triggered();
    void on_actionOpen_triggered();
    void on_actionSave_triggered(bool showErrors);
    void on_actionSave_triggered();
    void on_actionSaveAs_triggered();
    void on_actionLocation_triggered();
    void on_actionPlay_triggered();
    void on_actionStop_triggered();
    void on_actionListen_triggered(bool on);
    void on_actionRecord_triggered(bool on);
    void on_pushButtonClear_clicked();
    void on_actionCompile_triggered();
    void on_actionDownload_triggered(bool on);
    void actionDownloadTriggered();
    void on_actionStartScript_triggered();
    void on_actionStopScript_triggered();
    void on_actionCheckStatus_triggered();
    void setState(int status);

private slots:
    void runExternalScript(int row);
    void chooseExternalScriptPath(int row);
    void setScriptTextReadOnly(bool on);
    void silentSave();
    void silentReloadExternalChanges();
    void scriptTextChanged();
    void scriptFileModified();
    // F5: Start, unless a script runs.
    void playShortcut();

private:
    void buildForm();
    void connectActions();
    QAction *makeAction(const char *name, const QString &text, const QString &toolTip,
                        const QString &icon, bool checkable = false);
    void setupDrivePanel(QToolBar *bar);
    void lockForDownload(bool busy);
    void setupAutomationPanel(QToolBar *bar);
    void handlePropertyAnswer(const QString &text);
    bool loadFile(const QString &path, bool showErrors, bool noBackup);
    bool saveFile(const QString &path, bool showErrors, const QString &text = QString());
    void showPath(const QString &absolutePath);
    void watch();
    void unwatch();
    // Esc anywhere stops the script started here (ZorScriptStopKey).
    void watchStopKey();
    QString readFileText(const QString &absolutePath, bool *ok = nullptr) const;
    void warn(const QString &text);
    void startRefreshTime();
    void selectScriptLine(int line);
    void appendScriptOutput(const QString &data);
    void appendTrace(const QString &line);
    bool compileStep();
    bool scriptSaved();
    void compileAndDownload();
    void downloadOff();
    static QString absolutePath(const QString &path);
    // Where an embedded script moves: the default file, unless that holds
    // another script already.
    QString freeScriptPath(const QString &script) const;

    bool m_drive = false;
    QPalette m_normalPalette;
    QPalette m_readOnlyPalette;
    QElapsedTimer m_refreshClock;
    bool m_refreshPending = false;
    QString m_compiledImagePath;
    QString m_runningScriptPath;
    QSignalMapper *m_runMapper;
    QSignalMapper *m_chooseMapper;
    QTimer *m_silentSave;
    QTimer *m_silentReload;
    QFileSystemWatcher *m_watcher = nullptr;
    QPointer<ZorPythonSyntaxHighlighter> m_highlighter;
    int m_lastStatus = -1;
    bool m_downloadPending = false;
    bool m_suppressTextChange = false;
    bool m_firstPropertyAnswer = true;
    // What the editor last wrote to or read from its file: a change notice
    // for a file holding exactly this is the editor's own.
    QString m_fileTextSeen;
    bool m_fileTextKnown = false;

    // The form.
    QToolBar *m_toolBar = nullptr;
    QLineEdit *m_state;
    QLineEdit *m_path;
    QTabWidget *m_scriptTabs;
    QTabWidget *m_outputTabs;
    QWidget *m_tabMainScript;
    QWidget *m_tabExternalScripts;
    QWidget *m_tabStdOut;
    QWidget *m_tabStdErr;
    QWidget *m_tabMessages;
    QWidget *m_tabCompiler;
    QWidget *m_tabDownload;
    QPlainTextEdit *m_script;
    QPlainTextEdit *m_stdOut;
    QPlainTextEdit *m_stdErr;
    QPlainTextEdit *m_messages;
    QPlainTextEdit *m_compiler;
    QPlainTextEdit *m_download;
    QCheckBox *m_hideInfo;
    QPushButton *m_clear;
    QList<QPushButton *> m_runButtons;
    QList<QLineEdit *> m_externalPaths;

    QAction *actionPlay;
    QAction *actionStop;
    QAction *actionListen;
    QAction *actionRecord;
    QAction *actionOpen;
    QAction *actionDownload;
    QAction *actionSave;
    QAction *actionSaveAs;
    QAction *actionNew;
    QAction *actionStartScript;
    QAction *actionStopScript;
    QAction *actionCheckStatus;
    QAction *actionCompile;
    QAction *actionLocation;
};
