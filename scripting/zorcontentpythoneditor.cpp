#include "zorcontentpythoneditor.h"

#include "pythonruntime.h"
#include "zorapplfiles.h"
#include "zorapplservices.h"
#include "zorpythonsyntaxhighlighter.h"
#include "zorquestionbox.h"
#include "zorscriptstopkey.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalMapper>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const int ExternalScripts = 5;
const int SilentDelayMs = 1000;
const int RefreshAfterMs = 2000;
const int DriveDownloadBusy = 1100;

const char *const EditorTitle = "Python Script Editor";

// Restores the cursor however the function is left.
struct WaitCursor
{
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

// Q_INIT_RESOURCE must be used outside any namespace.
static void initPythonEditorResources()
{
    Q_INIT_RESOURCE(zorpythoneditoricons);
}

ZorContentPythonEditor::ZorContentPythonEditor(QWidget *parent)
    : ZorPanel(parent)
    , m_runMapper(new QSignalMapper(this))
    , m_chooseMapper(new QSignalMapper(this))
    , m_silentSave(new QTimer(this))
    , m_silentReload(new QTimer(this))
    , m_watcher(new QFileSystemWatcher(this))
{
    initPythonEditorResources();
    m_silentSave->setObjectName(QStringLiteral("silentSave"));
    m_silentSave->setSingleShot(true);
    m_silentSave->setInterval(SilentDelayMs);
    m_silentReload->setObjectName(QStringLiteral("silentReloadExternalChanges"));
    m_silentReload->setSingleShot(true);
    m_silentReload->setInterval(SilentDelayMs);
    connect(m_silentSave, &QTimer::timeout, this, &ZorContentPythonEditor::silentSave);
    connect(m_silentReload, &QTimer::timeout, this,
            &ZorContentPythonEditor::silentReloadExternalChanges);
    buildForm();
    connectActions();
}

void ZorContentPythonEditor::connectActions()
{
    using E = ZorContentPythonEditor;
    connect(actionNew, &QAction::triggered, this, &E::on_actionNew_triggered);
    connect(actionOpen, &QAction::triggered, this, &E::on_actionOpen_triggered);
    connect(actionSave, &QAction::triggered, this, qOverload<>(&E::on_actionSave_triggered));
    connect(actionSaveAs, &QAction::triggered, this, &E::on_actionSaveAs_triggered);
    connect(actionLocation, &QAction::triggered, this, &E::on_actionLocation_triggered);
    connect(actionPlay, &QAction::triggered, this, &E::on_actionPlay_triggered);
    connect(actionStop, &QAction::triggered, this, &E::on_actionStop_triggered);
    connect(actionListen, &QAction::triggered, this, &E::on_actionListen_triggered);
    connect(actionRecord, &QAction::triggered, this, &E::on_actionRecord_triggered);
    connect(m_clear, &QPushButton::clicked, this, &E::on_pushButtonClear_clicked);
    connect(actionCompile, &QAction::triggered, this, &E::on_actionCompile_triggered);
    connect(actionDownload, &QAction::triggered, this, &E::on_actionDownload_triggered);
    connect(actionStartScript, &QAction::triggered, this, &E::on_actionStartScript_triggered);
    connect(actionStopScript, &QAction::triggered, this, &E::on_actionStopScript_triggered);
    connect(actionCheckStatus, &QAction::triggered, this, &E::on_actionCheckStatus_triggered);
}

void ZorContentPythonEditor::playShortcut()
{
    if (actionPlay->isEnabled())
        actionPlay->trigger();
}

ZorContentPythonEditor::~ZorContentPythonEditor()
{
    // Typing of the last second is not lost with the panel.
    if (m_silentSave->isActive() && !m_silentReload->isActive())
        silentSave();
    savePanelState();
}

QAction *ZorContentPythonEditor::makeAction(const char *name, const QString &text,
                                            const QString &toolTip, const QString &icon,
                                            bool checkable)
{
    auto *action = new QAction(QIcon(QStringLiteral(":/Toolbar/Icons/PythonEditor/") + icon), text, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(toolTip);
    action->setCheckable(checkable);
    return action;
}

void ZorContentPythonEditor::buildForm()
{
    setWindowTitle(QStringLiteral("ZorContentPythonEditor"));
    actionPlay = makeAction("actionPlay", tr("Start"), tr("Start automation script (F5)"),
                            QStringLiteral("play.png"), true);
    actionStop = makeAction("actionStop", tr("Stop"), tr("Stop automation script (Esc)"),
                            QStringLiteral("stop.png"), true);
    actionListen = makeAction("actionListen", tr("Listen"),
                              tr("Message Sniffer - Listen to ZorModules talking"),
                              QStringLiteral("listen.png"), true);
    actionRecord = makeAction("actionRecord", tr("Macro Rec. "),
                              tr("Translate ZorMessage requests (GUI, internal, etc.) to Python code"),
                              QStringLiteral("record.png"), true);
    actionOpen = makeAction("actionOpen", tr("Open Script"), tr("Open Python script file (.py)"),
                            QStringLiteral("open.png"));
    actionOpen->setIconText(tr("Open"));
    actionDownload = makeAction("actionDownload", tr("Download"),
                                tr("Compile script and download to drive (F7)"),
                                QStringLiteral("download.png"), true);
    actionSave = makeAction("actionSave", tr("Save"), tr("Save script file"),
                            QStringLiteral("save.png"));
    actionSaveAs = makeAction("actionSaveAs", tr("Save As..."),
                              tr("Save script file to a selected path"), QStringLiteral("saveas.png"));
    actionNew = makeAction("actionNew", tr("New Script"), tr("Create new script from template"),
                           QStringLiteral("new.png"));
    actionStartScript = makeAction("actionStartScript", tr("Start Script"),
                                   tr("Start script in drive"), QStringLiteral("startscript.png"));
    actionStopScript = makeAction("actionStopScript", tr("Stop Script"), tr("Stop script in drive"),
                                  QStringLiteral("stopscript.png"));
    actionCheckStatus = makeAction("actionCheckStatus", tr("Check Status"),
                                   tr("Check script status (running / stopped)"),
                                   QStringLiteral("check.png"));
    actionCheckStatus->setIconText(tr("Check"));
    actionCompile = makeAction("actionCompile", tr("Compile Script"),
                               tr("Compile .py source file and create binary"),
                               QStringLiteral("compile.png"));
    actionCompile->setIconText(tr("Compile"));
    actionLocation = makeAction("actionLocation", tr("Location"), tr("Open file location"),
                                QStringLiteral("location.png"));

    auto *grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("menuGrid"));
    auto *frame = new QWidget(this);
    frame->setObjectName(QStringLiteral("frameToolbarContainer"));
    auto *stateLabel = new QLabel(tr("Status"), this);
    stateLabel->setObjectName(QStringLiteral("labelDriveStatus"));
    m_state = new QLineEdit(this);
    m_state->setObjectName(QStringLiteral("lineEditState"));
    m_state->setReadOnly(true);
    auto *pathLabel = new QLabel(tr("File Path"), this);
    pathLabel->setObjectName(QStringLiteral("textLabelPythonFile"));
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("lineEditPythonFile"));
    m_path->setReadOnly(true);
    auto *lines = new QGridLayout(frame);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->addWidget(stateLabel, 0, 0);
    lines->addWidget(m_state, 0, 1);
    lines->addWidget(pathLabel, 1, 0);
    lines->addWidget(m_path, 1, 1);
    grid->addWidget(frame, 1, 0, 1, 2);

    const auto textView = [this](const char *name) {
        auto *view = new QPlainTextEdit(this);
        view->setObjectName(QLatin1String(name));
        view->setReadOnly(true);
        return view;
    };
    const auto tab = [this](const char *name) {
        auto *page = new QWidget(this);
        page->setObjectName(QLatin1String(name));
        return page;
    };

    m_scriptTabs = new QTabWidget(this);
    m_scriptTabs->setObjectName(QStringLiteral("tabWidgetScript"));
    m_tabMainScript = tab("tabMainScript");
    m_script = new QPlainTextEdit(m_tabMainScript);
    m_script->setObjectName(QStringLiteral("plainTextEditScript"));
    QFont font;
    font.setFamilies({QStringLiteral("Consolas"), QStringLiteral("Lucida Console"),
                      QStringLiteral("Courier New")});
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(11);
    m_script->setFont(font);
    m_script->setLineWrapMode(QPlainTextEdit::NoWrap);
    (new QVBoxLayout(m_tabMainScript))->addWidget(m_script);
    m_tabExternalScripts = tab("tabExternalScripts");
    auto *external = new QGridLayout(m_tabExternalScripts);
    for (int row = 0; row < ExternalScripts; ++row) {
        auto *run = new QPushButton(tr("Run .py file %1").arg(row + 1), m_tabExternalScripts);
        run->setObjectName(QStringLiteral("pushButtonRun%1").arg(row + 1));
        auto *path = new QLineEdit(m_tabExternalScripts);
        path->setObjectName(QStringLiteral("lineEditExternalScript%1").arg(row));
        auto *choose = new QToolButton(m_tabExternalScripts);
        choose->setObjectName(QStringLiteral("toolButtonChoose%1").arg(row + 1));
        choose->setText(QStringLiteral("..."));
        external->addWidget(run, row, 0);
        external->addWidget(path, row, 1);
        external->addWidget(choose, row, 2);
        m_runButtons << run;
        m_externalPaths << path;
        connect(run, &QPushButton::clicked, m_runMapper, qOverload<>(&QSignalMapper::map));
        m_runMapper->setMapping(run, row);
        connect(choose, &QToolButton::clicked, m_chooseMapper, qOverload<>(&QSignalMapper::map));
        m_chooseMapper->setMapping(choose, row);
    }
    external->setRowStretch(ExternalScripts, 1);
    connect(m_runMapper, &QSignalMapper::mappedInt, this, &ZorContentPythonEditor::runExternalScript);
    connect(m_chooseMapper, &QSignalMapper::mappedInt, this,
            &ZorContentPythonEditor::chooseExternalScriptPath);
    m_scriptTabs->addTab(m_tabMainScript, tr("Main Script"));
    m_scriptTabs->addTab(m_tabExternalScripts, tr("External Scripts"));

    m_outputTabs = new QTabWidget(this);
    m_outputTabs->setObjectName(QStringLiteral("tabWidgetOutput"));
    // An output page that holds only its text view.
    const auto outputPage = [&](const char *pageName, const char *viewName, QPlainTextEdit *&view) {
        QWidget *page = tab(pageName);
        view = textView(viewName);
        (new QVBoxLayout(page))->addWidget(view);
        return page;
    };
    m_tabStdOut = outputPage("tabStdOut", "plainTextEditStdOut", m_stdOut);
    m_tabStdErr = outputPage("tabStdErr", "plainTextEditStdErr", m_stdErr);
    m_tabMessages = tab("tabMessages");
    m_hideInfo = new QCheckBox(tr("Don't add KM_STATUS messages"), m_tabMessages);
    m_hideInfo->setObjectName(QStringLiteral("checkBoxHideInfoMsg"));
    m_clear = new QPushButton(tr("Clear"), m_tabMessages);
    m_clear->setObjectName(QStringLiteral("pushButtonClear"));
    m_messages = textView("plainTextEditMessages");
    auto *messages = new QGridLayout(m_tabMessages);
    messages->addWidget(m_hideInfo, 0, 0);
    messages->addWidget(m_clear, 0, 1);
    messages->addWidget(m_messages, 1, 0, 1, 2);
    m_tabCompiler = outputPage("tabCompiler", "plainTextEditCompiler", m_compiler);
    m_tabDownload = outputPage("tabDownload", "plainTextEditDownload", m_download);
    m_outputTabs->addTab(m_tabStdOut, tr("StdOut"));
    m_outputTabs->addTab(m_tabStdErr, tr("StdErr"));
    m_outputTabs->addTab(m_tabMessages, tr("ZorMessages"));
    m_outputTabs->addTab(m_tabCompiler, tr("Compiler Output"));
    m_outputTabs->addTab(m_tabDownload, tr("Download / Drive Output"));
    for (QPlainTextEdit *view : {m_stdOut, m_stdErr, m_messages, m_compiler, m_download})
        view->setMaximumBlockCount(5000);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_scriptTabs);
    splitter->addWidget(m_outputTabs);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    grid->addWidget(splitter, 3, 0, 1, 2);

    m_normalPalette = m_script->palette();
    m_readOnlyPalette = m_normalPalette;
    const QColor disabledBase = m_normalPalette.color(QPalette::Disabled, QPalette::Base);
    m_readOnlyPalette.setColor(QPalette::Active, QPalette::Base, disabledBase);
    m_readOnlyPalette.setColor(QPalette::Inactive, QPalette::Base, disabledBase);
}

bool ZorContentPythonEditor::setupZorPanel(const QPersistentModelIndex &index,
                                           ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    m_drive = panelUserData() == QLatin1String("drive_canopen_python");
    m_firstPropertyAnswer = true;

    delete m_toolBar;
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    if (m_drive)
        setupDrivePanel(m_toolBar);
    else
        setupAutomationPanel(m_toolBar);

    for (QAction *action : {actionNew, actionOpen, actionSave, actionSaveAs, actionLocation})
        m_toolBar->addAction(action);
    if (!m_highlighter)
        m_highlighter = new ZorPythonSyntaxHighlighter(m_script->document());
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("Script")));
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("ScriptFileName")));
    return bound;
}

// While a download runs, the script and the drive's other commands wait.
void ZorContentPythonEditor::lockForDownload(bool busy)
{
    for (QAction *action : {actionNew, actionOpen, actionSave, actionSaveAs, actionCompile, actionStartScript,
                            actionStopScript, actionCheckStatus})
        action->setEnabled(!busy);
}

void ZorContentPythonEditor::setupDrivePanel(QToolBar *bar)
{
    static_cast<QGridLayout *>(layout())->addWidget(bar, 0, 0);
    for (QAction *action : {actionCompile, actionDownload, actionStartScript, actionStopScript,
                            actionCheckStatus})
        bar->addAction(action);
    addShortcut(QKeySequence(Qt::Key_F7), SLOT(actionDownloadTriggered()));
    connect(actionDownload, &QAction::toggled, this, &ZorContentPythonEditor::lockForDownload);
    for (QWidget *page : {m_tabStdOut, m_tabStdErr, m_tabMessages})
        m_outputTabs->removeTab(m_outputTabs->indexOf(page));
    m_scriptTabs->removeTab(m_scriptTabs->indexOf(m_tabExternalScripts));
    m_scriptTabs->setCurrentIndex(0);
    m_outputTabs->setCurrentIndex(0);
}

void ZorContentPythonEditor::setupAutomationPanel(QToolBar *bar)
{
    static_cast<QGridLayout *>(layout())->addWidget(bar, 2, 0, 1, 2);
    for (QAction *action : {actionPlay, actionStop, actionListen, actionRecord})
        bar->addAction(action);
    addShortcut(QKeySequence(Qt::Key_F5), SLOT(playShortcut()));
    addShortcut(QKeySequence(Qt::Key_Escape), SLOT(on_actionStop_triggered()));
    for (QWidget *page : {m_tabCompiler, m_tabDownload})
        m_outputTabs->removeTab(m_outputTabs->indexOf(page));
    connect(actionPlay, &QAction::toggled, this, [this](bool running) {
        actionPlay->setEnabled(!running);
        for (QPushButton *run : qAsConst(m_runButtons))
            run->setEnabled(!running);
        actionRecord->setEnabled(!running);
        actionStop->setEnabled(running);
        setScriptTextReadOnly(running);
    });
    actionPlay->setChecked(true);
    actionPlay->setChecked(false);
    actionStop->setChecked(true);
    actionListen->setChecked(false);
    actionRecord->setChecked(false);
    for (int row = 0; row < ExternalScripts; ++row)
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("ExternalScript%1").arg(row)));
}

QString ZorContentPythonEditor::commitPanelSettings()
{
    QString path = scriptPath();
    if (!path.isEmpty()) {
        // Stored relative to the project's folder where it lies there.
        ZorApplServices::makeRelativeToWorkingDir(path);
        sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("ScriptFileName=") + path));
    }
    if (!m_drive) {
        for (int row = 0; row < ExternalScripts; ++row)
            sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST,
                                  QStringLiteral("ExternalScript%1=%2")
                                      .arg(row)
                                      .arg(m_externalPaths.at(row)->text())));
    }
    return QString();
}

QString ZorContentPythonEditor::scriptPath() const
{
    return m_path->text();
}

QString ZorContentPythonEditor::defaultFileName() const
{
    return m_drive ? QStringLiteral("DriveScript.py") : QStringLiteral("AutomationScript.py");
}

QString ZorContentPythonEditor::freeScriptPath(const QString &script) const
{
    // Another module's script moved there before is never overwritten:
    // "AutomationScript1.py", "AutomationScript2.py", ... are tried next.
    const QString name = defaultFileName();
    const QString base = name.left(name.lastIndexOf(QLatin1Char('.')));
    for (int n = 0;; ++n) {
        const QString path =
            absolutePath(n == 0 ? name : QStringLiteral("%1%2.py").arg(base).arg(n));
        bool readable = false;
        const QString text = readFileText(path, &readable);
        if (!QFileInfo::exists(path) || (readable && text == script))
            return path;
    }
}

QString ZorContentPythonEditor::absolutePath(const QString &given)
{
    QString path = given.trimmed();
    if (path.isEmpty())
        return path;
    ZorApplServices::makeAbsoluteToWorkingDir(path);
    return QDir::cleanPath(QDir(ZorApplServices::workingDir()).absoluteFilePath(path));
}

// --- messages from the module ---------------------------------------------------

void ZorContentPythonEditor::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    const int state = msg.msgState();
    const bool infoOrAnswer = state == KS_INFO || state == KS_ANSWER;
    switch (type) {
    case KM_STATUS:
        if (!infoOrAnswer)
            return;
        if (m_refreshPending && m_refreshClock.elapsed() > RefreshAfterMs) {
            m_refreshPending = false;
            sendGuiMsg(ZorMessage(KM_INFOTEXT, KS_REQUEST));
            sendGuiMsg(ZorMessage(KM_STATUS, KS_REQUEST));
        }
        setState(msg.data().toInt());
        return;
    case KM_AUTOMATION_SNIFFER_MSG:
        if (state == KS_INFO && !m_drive)
            appendTrace(msg.data().toString());
        return;
    case KM_SCRIPT_MSG:
        if (state != KS_INFO)
            return;
        if (m_drive)
            appendLogText(m_download, msg.data().toString(), true);
        else
            appendScriptOutput(msg.data().toString());
        return;
    case KM_INFOTEXT:
        if (!infoOrAnswer)
            return;
        m_state->setText(msg.data().toString());
        if (m_drive)
            appendLogText(m_download, msg.data().toString(), true);
        return;
    case KM_GETPROPERTY:
    case KM_SETPROPERTY:
        if (state != KS_REQUEST)
            handlePropertyAnswer(msg.data().toString());
        return;
    default:
        return;
    }
}

void ZorContentPythonEditor::handlePropertyAnswer(const QString &text)
{
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq < 0)
        return;
    const QString key = text.left(eq).trimmed();
    const QString value = text.mid(eq + 1).trimmed();

    if (key == QLatin1String("ScriptFileName")) {
        if (value.isEmpty()) {
            // A script moved out of "Script" just now is shown already.
            if (scriptPath().isEmpty())
                showPath(absolutePath(defaultFileName()));
            unwatch();
            if (!loadFile(scriptPath(), false, false)) {
                saveFile(scriptPath(), false, m_script->toPlainText());
                loadFile(scriptPath(), false, false);
            }
            watch();
        } else if (absolutePath(value).compare(scriptPath(), Qt::CaseInsensitive) != 0) {
            unwatch();
            // A file that is not there (yet) is still the script's file:
            // what is typed goes there.
            if (!loadFile(value, false, false))
                showPath(absolutePath(value));
            watch();
        }
        if (m_firstPropertyAnswer) {
            m_firstPropertyAnswer = false;
            connect(m_script, &QPlainTextEdit::textChanged, this,
                    &ZorContentPythonEditor::scriptTextChanged, Qt::UniqueConnection);
            connect(m_watcher, &QFileSystemWatcher::fileChanged, this,
                    &ZorContentPythonEditor::scriptFileModified, Qt::UniqueConnection);
        }
        return;
    }
    if (key == QLatin1String("Script")) {
        if (value.isEmpty())
            return;
        // The whole text, not trimmed: the script as it was stored.
        const QString script = text.mid(eq + 1);
        unwatch();
        showPath(freeScriptPath(script));
        saveFile(scriptPath(), false, script);
        m_suppressTextChange = true;
        m_script->setPlainText(script);
        m_script->document()->setModified(false);
        m_suppressTextChange = false;
        watch();
        sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("Script=")));
        QString stored = scriptPath();
        ZorApplServices::makeRelativeToWorkingDir(stored);
        sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("ScriptFileName=") + stored));
        return;
    }
    if (!m_drive && key.startsWith(QLatin1String("ExternalScript"))) {
        bool ok = false;
        const int row = key.mid(int(qstrlen("ExternalScript"))).toInt(&ok);
        if (ok && row >= 0 && row < ExternalScripts)
            m_externalPaths.at(row)->setText(value);
    }
}

// --- files -------------------------------------------------------------------------

QString ZorContentPythonEditor::readFileText(const QString &path, bool *ok) const
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly | QIODevice::Text);
    if (ok)
        *ok = opened;
    return opened ? PythonRuntime::scriptText(file.readAll()) : QString();
}

void ZorContentPythonEditor::showPath(const QString &path)
{
    m_path->setText(path);
}

void ZorContentPythonEditor::watch()
{
    if (!m_watcher->files().isEmpty())
        m_watcher->removePaths(m_watcher->files());
    const QString path = scriptPath();
    if (!path.isEmpty() && QFileInfo::exists(path))
        m_watcher->addPath(path);
}

void ZorContentPythonEditor::unwatch()
{
    if (!m_watcher->files().isEmpty())
        m_watcher->removePaths(m_watcher->files());
}

void ZorContentPythonEditor::warn(const QString &text)
{
    ZorQuestionBox::warn(this, tr(EditorTitle), text);
}

bool ZorContentPythonEditor::loadFile(const QString &given, bool showErrors, bool noBackup)
{
    m_suppressTextChange = true;
    const QString path = absolutePath(given);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_suppressTextChange = false;
        if (showErrors)
            warn(tr("Cannot read file %1:\n%2.").arg(path, file.errorString()));
        return false;
    }
    QString text;
    {
        WaitCursor wait;
        text = PythonRuntime::scriptText(file.readAll());
        m_script->setPlainText(text);
    }
    showPath(path);
    m_script->document()->setModified(false);
    m_fileTextSeen = text;
    m_fileTextKnown = true;
    m_silentSave->stop();
    if (!noBackup) {
        QFile backup(path + QStringLiteral(".bak"));
        if (backup.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
            backup.write(text.toUtf8());
    }
    m_suppressTextChange = false;
    return true;
}

bool ZorContentPythonEditor::saveFile(const QString &given, bool showErrors, const QString &givenText)
{
    const QString path = absolutePath(given);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
        if (showErrors)
            warn(tr("Cannot write file %1:\n%2.").arg(path, file.errorString()));
        return false;
    }
    const QString text = givenText.isEmpty() ? m_script->toPlainText() : givenText;
    bool ok;
    {
        WaitCursor wait;
        // Noted before the write: the change notice it causes is the editor's own.
        m_fileTextSeen = text;
        m_fileTextKnown = true;
        const QByteArray bytes = text.toUtf8();
        ok = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        ok = ok && file.error() == QFileDevice::NoError;
    }
    showPath(path);
    m_script->document()->setModified(false);
    if (!ok && showErrors)
        warn(tr("Cannot write to file %1:\n%2.").arg(path, file.errorString()));
    return ok;
}

// --- editing and the two timers ----------------------------------------------------

void ZorContentPythonEditor::scriptTextChanged()
{
    if (m_suppressTextChange)
        return;
    m_state->setText(tr("Script modified..."));
    m_silentSave->start();
}

void ZorContentPythonEditor::silentSave()
{
    // An outside change waits for its reload, which asks what to keep.
    if (m_silentReload->isActive() || scriptPath().isEmpty())
        return;
    if (saveFile(scriptPath(), false)) {
        m_state->setText(tr("Changes saved"));
        startRefreshTime();
    }
    // Written anew by an editor that replaces the file: watch the new one.
    watch();
}

void ZorContentPythonEditor::scriptFileModified()
{
    const QString path = scriptPath();
    bool readable = false;
    const QString text = readFileText(path, &readable);
    // Replaced files drop out of the watcher.
    if (readable && !m_watcher->files().contains(path))
        m_watcher->addPath(path);
    if (readable && m_fileTextKnown && text == m_fileTextSeen)
        return;
    m_silentReload->start();
}

void ZorContentPythonEditor::silentReloadExternalChanges()
{
    const QString path = scriptPath();
    bool readable = false;
    const QString text = readFileText(path, &readable);
    if (!readable || (m_fileTextKnown && text == m_fileTextSeen))
        return;
    if (m_script->document()->isModified() || m_silentSave->isActive()) {
        if (!ZorQuestionBox::confirm(this, tr(EditorTitle),
                                     tr("The script file %1 was changed by another program.\n"
                                        "Reload it and discard your unsaved changes?")
                                         .arg(path))) {
            // The edits stay, and are saved over the outside change.
            m_silentSave->stop();
            silentSave();
            return;
        }
    }
    m_silentSave->stop();
    if (loadFile(path, false, true)) {
        m_state->setText(tr("Script modified by external editor"));
        startRefreshTime();
    }
    watch();
}

void ZorContentPythonEditor::startRefreshTime()
{
    m_refreshPending = true;
    m_refreshClock.start();
}

// --- status ------------------------------------------------------------------------

void ZorContentPythonEditor::setState(int status)
{
    if (status == m_lastStatus)
        return;
    if (m_drive) {
        const bool wasDownloading = m_lastStatus == DriveDownloadBusy;
        if (wasDownloading) {
            const QSignalBlocker block(actionDownload);
            actionDownload->setChecked(status == DriveDownloadBusy);
            lockForDownload(status == DriveDownloadBusy);
        }
        if (status == 0) {
            if (m_downloadPending) {
                m_downloadPending = false;
                compileAndDownload();
            }
            if (wasDownloading)
                on_actionCheckStatus_triggered();
        } else if (status != DriveDownloadBusy && wasDownloading) {
            on_actionCheckStatus_triggered();
        }
    } else {
        const bool running = status >= 1 && status <= 9999;
        actionPlay->setChecked(running);
        actionStop->setChecked(!running);
    }
    if (m_refreshPending) {
        m_lastStatus = -1;
        return;
    }
    m_state->setStyleSheet(statusStyleSheet(status));
    m_lastStatus = status;
}

// --- automation ----------------------------------------------------------------------

void ZorContentPythonEditor::on_actionPlay_triggered()
{
    if (m_drive)
        return;
    // Pressed, the action is checked (and locked) until the module reports.
    actionPlay->setChecked(true);
    actionStop->setChecked(false);
    unwatch();
    const bool saved = saveFile(scriptPath(), true);
    watch();
    if (!saved) {
        actionPlay->setChecked(false);
        actionStop->setChecked(true);
        return;
    }
    m_silentSave->stop();
    m_runningScriptPath = scriptPath();
    watchStopKey();
    actionRecord->setChecked(false);
    m_stdOut->clear();
    m_stdErr->clear();
    m_messages->clear();
    sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1,") + scriptPath()));
    m_scriptTabs->setCurrentWidget(m_tabMainScript);
    m_outputTabs->setCurrentWidget(m_tabStdOut);
}

void ZorContentPythonEditor::watchStopKey()
{
    // Esc stops the script wherever the focus is; Play stays checked while
    // the module reports it running.
    ZorScriptStopKey::watch(this, [this] { return actionPlay->isChecked(); },
                            [this] { on_actionStop_triggered(); });
}

void ZorContentPythonEditor::on_actionStop_triggered()
{
    if (!m_drive)
        sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("0")));
}

void ZorContentPythonEditor::runExternalScript(int row)
{
    if (row < 0 || row >= ExternalScripts)
        return;
    const QString path = m_externalPaths.at(row)->text().trimmed();
    if (path.isEmpty())
        return;
    m_runningScriptPath = path;
    watchStopKey();
    sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1,") + path));
    m_outputTabs->setCurrentWidget(m_tabStdOut);
}

void ZorContentPythonEditor::chooseExternalScriptPath(int row)
{
    if (row < 0 || row >= ExternalScripts)
        return;
    QString path = askOpenFileName(tr("External Script %1").arg(row + 1),
                                   m_externalPaths.at(row)->text(), tr("Python Script File (*.py)"));
    if (path.isEmpty())
        return;
    ZorApplServices::makeRelativeToWorkingDir(path);
    m_externalPaths.at(row)->setText(path);
}

void ZorContentPythonEditor::on_actionListen_triggered(bool on)
{
    sendGuiMsg(ZorMessage(KM_SNIFFER_SET, KS_REQUEST, on));
    if (on)
        m_outputTabs->setCurrentWidget(m_tabMessages);
}

void ZorContentPythonEditor::on_actionRecord_triggered(bool on)
{
    if (!on)
        return;
    actionListen->setChecked(true);
    on_actionListen_triggered(true);
}

void ZorContentPythonEditor::on_pushButtonClear_clicked()
{
    m_messages->clear();
}

void ZorContentPythonEditor::setScriptTextReadOnly(bool on)
{
    m_script->setPalette(on ? m_readOnlyPalette : m_normalPalette);
    m_script->setReadOnly(on);
}

void ZorContentPythonEditor::selectScriptLine(int line)
{
    const QTextBlock block = m_script->document()->findBlockByNumber(line - 1);
    if (!block.isValid())
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    m_script->setTextCursor(cursor);
}

void ZorContentPythonEditor::appendScriptOutput(const QString &data)
{
    const int comma = data.indexOf(QLatin1Char(','));
    const int line = data.left(qMax(comma, 0)).toInt();
    const QString rest = comma < 0 ? data : data.mid(comma + 1);
    const int colon = rest.indexOf(QLatin1Char(':'));
    if (rest.startsWith(QLatin1String("StdOut:"))) {
        appendLogText(m_stdOut, rest.mid(colon + 1), false);
    } else if (rest.startsWith(QLatin1String("StdErr:"))) {
        appendLogText(m_stdErr, rest.mid(colon + 1), false);
        if (line != 0 && absolutePath(m_runningScriptPath) == scriptPath()) {
            selectScriptLine(line);
            m_outputTabs->setCurrentWidget(m_tabStdErr);
        }
    }
}

void ZorContentPythonEditor::appendTrace(const QString &line)
{
    if (!(m_hideInfo->isChecked() && line.contains(QLatin1String("KM_STATUS:"))))
        appendLogText(m_messages, line, true);
    if (!actionRecord->isChecked())
        return;
    const int arrow = line.indexOf(QLatin1String(" -> "));
    if (arrow < 0)
        return;
    QString request = line.mid(arrow + 4);
    if (!request.contains(QLatin1String("KS_REQUEST")))
        return;
    if (request.endsWith(QLatin1Char(':')))
        request.chop(1);
    request.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    // Recorded lines are typing like any other: saved a second later.
    QTextCursor cursor(m_script->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_script->document()->isEmpty() && !m_script->toPlainText().endsWith(QLatin1Char('\n')))
        cursor.insertText(QStringLiteral("\n"));
    cursor.insertText(QStringLiteral("ret = ZorSendMsg(\":%1\", \"b\")\n").arg(request));
}

// --- drive -----------------------------------------------------------------------------

void ZorContentPythonEditor::on_actionCompile_triggered()
{
    m_state->clear();
    unwatch();
    if (scriptSaved())
        compileStep();
    watch();
}

bool ZorContentPythonEditor::compileStep()
{
    m_compiler->clear();
    m_outputTabs->setCurrentWidget(m_tabCompiler);
    m_compiledImagePath.clear();
    QString block;
    bool compiled = false;
    {
        WaitCursor wait;
        PythonRuntime runtime;
        block += QStringLiteral("\nPython '%1' DLL Loader: %2\n")
                     .arg(runtime.libraryName(),
                          runtime.isLoaded() ? QStringLiteral("Success") : QStringLiteral("Error"));
        if (runtime.isLoaded()) {
            QString library;
            QString error;
            compiled = runtime.compileScriptImage(scriptPath(), m_compiledImagePath, library, error);
            block += QStringLiteral("\nPyMite image creator library %1\n").arg(library);
            if (runtime.errorLine() > 0)
                selectScriptLine(runtime.errorLine());
            if (!runtime.stdOutText().isEmpty())
                block += QStringLiteral("Python output:\n%1\n").arg(runtime.stdOutText());
            if (!runtime.stdErrText().isEmpty())
                block += QStringLiteral("\nPython error:\n%1\n").arg(runtime.stdErrText());
            if (!error.isEmpty())
                block += QStringLiteral("\nImage creator error: %1\n").arg(error);
        }
    }
    appendLogText(m_compiler, block, false);
    const bool ok = compiled && !m_compiledImagePath.isEmpty();
    if (ok) {
        appendLogText(m_compiler, tr("Python image file creator: OK"), true);
        m_state->setText(tr("Python Compile OK"));
        setState(1);
    } else {
        appendLogText(m_compiler, tr("Python image file creator: ERROR (see details above)"), true);
        m_state->setText(tr("Python Compile Error"));
        setState(2000);
    }
    startRefreshTime();
    return ok;
}

bool ZorContentPythonEditor::scriptSaved()
{
    if (m_script->document()->isModified() || m_silentSave->isActive()) {
        if (!saveFile(scriptPath(), true))
            return false;
        m_silentSave->stop();
    }
    if (!scriptPath().isEmpty() && QFileInfo::exists(scriptPath()))
        return true;
    on_actionOpen_triggered();
    return !scriptPath().isEmpty();
}

void ZorContentPythonEditor::on_actionDownload_triggered(bool on)
{
    if (!on) {
        downloadOff();
        return;
    }
    if (!scriptSaved()) {
        m_downloadPending = false;
        const QSignalBlocker block(actionDownload);
        actionDownload->setChecked(false);
        return;
    }
    if (m_lastStatus == 0) {
        compileAndDownload();
    } else {
        sendGuiMsg(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
        m_downloadPending = true;
    }
}

void ZorContentPythonEditor::downloadOff()
{
    m_downloadPending = false;
    actionDownload->setChecked(false);
    sendGuiMsg(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
}

void ZorContentPythonEditor::actionDownloadTriggered()
{
    if (actionDownload->isEnabled())
        actionDownload->trigger();
}

void ZorContentPythonEditor::compileAndDownload()
{
    if (!compileStep()) {
        downloadOff();
        return;
    }
    m_download->clear();
    appendLogText(m_download,
                  tr("Downloading compiled script file: %1")
                      .arg(m_compiledImagePath.mid(m_compiledImagePath.lastIndexOf(QLatin1Char('/')) + 1)),
                  true);
    m_outputTabs->setCurrentWidget(m_tabDownload);
    sendGuiMsg(ZorMessage(KM_DRIVE_DOWNLOAD_START, KS_REQUEST, QStringLiteral("s,") + m_compiledImagePath));
}

void ZorContentPythonEditor::on_actionStartScript_triggered()
{
    sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, 1));
}

void ZorContentPythonEditor::on_actionStopScript_triggered()
{
    sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, 0));
}

void ZorContentPythonEditor::on_actionCheckStatus_triggered()
{
    m_outputTabs->setCurrentWidget(m_tabDownload);
    sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, -1));
}

// --- shared actions ----------------------------------------------------------------------

void ZorContentPythonEditor::on_actionNew_triggered()
{
    if (!ZorQuestionBox::confirm(this, tr("New Script"),
                                 tr("Any unsaved changes will be lost. Are you sure?")))
        return;
    unwatch();
    m_silentSave->stop();
    m_silentReload->stop();
    showPath(absolutePath(defaultFileName()));
    m_suppressTextChange = true;
    m_script->clear();
    m_suppressTextChange = false;
    watch();
}

void ZorContentPythonEditor::on_actionOpen_triggered()
{
    const QString path =
        askOpenFileName(tr("Open Script"), scriptPath(), tr("Python Script File (*.py)"));
    if (path.isEmpty())
        return;
    unwatch();
    loadFile(path, true, false);
    watch();
}

void ZorContentPythonEditor::on_actionSave_triggered(bool showErrors)
{
    unwatch();
    if (saveFile(scriptPath(), showErrors))
        m_silentSave->stop();
    watch();
}

void ZorContentPythonEditor::on_actionSave_triggered()
{
    on_actionSave_triggered(true);
}

void ZorContentPythonEditor::on_actionSaveAs_triggered()
{
    const QString path =
        askSaveFileName(tr("Save Script"), absolutePath(scriptPath()), tr("Script Files (*.py)"));
    if (path.isEmpty())
        return;
    unwatch();
    if (saveFile(path, true))
        m_silentSave->stop();
    watch();
}

void ZorContentPythonEditor::on_actionLocation_triggered()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(ZorApplServices::workingDir()));
}
