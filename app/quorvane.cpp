#include "quorvane.h"
#include "ui_quorvane.h"

#include "clickableqlabel.h"
#include "flickcharm.h"
#include "quorvaneproject.h"
#include "zorapplservices.h"
#include "zorupdatedialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QListWidget>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <QStatusBar>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

// Resource initialisation has to happen outside any namespace; the resources
// live in a static library, so nothing would pull them in otherwise.
static void initFormResources()
{
    Q_INIT_RESOURCE(quorvane);
}

namespace {

QPointer<Quorvane> mainWindow;

const char *const desktopStyleSheet = ":/Styles/QuorvaneStylesheet.css";
const char *const touchStyleSheet = ":/Styles/QuorvaneStylesheetTouch.css";

QString readResourceText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(f.readAll());
}

} // namespace

Quorvane::Quorvane(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
    , ui(new Ui::QuorvaneClass)
{
    initFormResources();
    mainWindow = this;
    setWindowIcon(QIcon(QStringLiteral(":AppIcon.png")));
    ui->setupUi(this);
    buildToolbarLogo();

    setAcceptDrops(true);
    ui->treeView->setAnimated(true);
    ui->treeView->setMouseTracking(true);
    connect(ui->actionExit, &QAction::triggered, this, &QWidget::close);

    applyGuiMode();
    buildUserLevelControls();
    buildRecentFileActions();

    setContextMenuPolicy(Qt::NoContextMenu);
    connect(ui->treeView, &QWidget::customContextMenuRequested, this,
            &Quorvane::showTreeContextMenu);
    m_treeActions = {ui->actionProjectTreeCut, ui->actionProjectTreeCopy,
                     ui->actionProjectTreePaste, ui->actionProjectTreeDelete,
                     ui->actionProjectTreeRename};
    m_treeMenu = new QMenu(this);
    m_treeMenu->addActions(m_treeActions);

    m_project = new QuorvaneProject(this);
    m_project->setGuiMode(m_guiMode);
    updateProjectTree();

    ZorApplServices::setWorkingDir(QString());
    m_lastFolder = ZorApplServices::workingDir();
    setCurrentFile(QString());
    changeUserLevel(1);

    connect(m_project, &QuorvaneProject::modelChanged, this, &Quorvane::updateProjectTree);
    connect(m_project, &QuorvaneProject::modelChanged, this, &Quorvane::updatePanelVisibility);
    connect(m_project, &QuorvaneProject::prepareToClose, this, &Quorvane::closePanels);
    connect(m_project, &QuorvaneProject::projectPathChanged, this, &Quorvane::updateProjectPath);
    connect(m_project, &QuorvaneProject::layoutChanged, this, &Quorvane::updateTiles);
    connect(m_project, &QuorvaneProject::userLevelChanged, this,
            &Quorvane::updatePanelVisibility);
    connect(ui->treeView, &QAbstractItemView::clicked, this, &Quorvane::newDock);
    connect(ui->treeView, &QAbstractItemView::activated, this, &Quorvane::newDock);
    connect(ui->listWidgetTiles, &QListWidget::currentRowChanged, this, &Quorvane::changePage);

    if (!ZorUpdateDialog::isUpdateConfigured()) {
        ui->menuFile->removeAction(ui->actionUpdate);
        ui->mainToolBar->removeAction(ui->actionUpdate);
    }

    updatePanelVisibility();
    updateWindowTitle();
}

Quorvane::~Quorvane()
{
    // The project closes first: closing takes the docks and pages down,
    // which needs the form.
    delete m_project.data();
    delete ui;
}

Quorvane *Quorvane::instance()
{
    return mainWindow.data();
}

QuorvaneProject *Quorvane::project() const
{
    return m_project.data();
}

QString Quorvane::styleSheetResource(int guiMode)
{
    return QString::fromLatin1(guiMode == 2 ? touchStyleSheet : desktopStyleSheet);
}

void Quorvane::applyGuiMode()
{
    QSettings settings;
    m_guiMode = settings.value(QStringLiteral("GuiMode")).toInt();
    if (m_guiMode < 0 || m_guiMode > 5)
        m_guiMode = 0;
    const int mode = m_guiMode;
    const bool tileList = mode >= 1 && mode <= 3;

    ui->treeView->setVisible(mode == 0);
    // Docks take the room they ask for; keep the tree wide enough for its
    // 32-pixel icons and a module label next to them.
    ui->treeView->setMinimumWidth(mode == 0 ? MinimumTreeWidth : 0);
    ui->actionStopDrives->setVisible(mode == 0);
    ui->stackedWidget->setVisible(mode != 0);
    ui->labelStackedPanels->setVisible(tileList);
    ui->listWidgetTiles->setVisible(tileList);

    if (mode == 5) {
        statusBar()->hide();
        menuBar()->hide();
        ui->labelStackedPanels->hide();
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
        setWindowState(windowState() | Qt::WindowFullScreen);
        layout()->setContentsMargins(0, 0, 0, 0);
        ui->gridLayout->setContentsMargins(0, 0, 0, 0);
        ui->gridLayout->setSpacing(0);
    } else if (mode == 2) {
        setWindowState(windowState() | Qt::WindowFullScreen);
    } else {
        if (!restoreGeometry(settings.value(QStringLiteral("MainWindowGeometry")).toByteArray()))
            setFirstStartGeometry();
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                       | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                       | Qt::WindowCloseButtonHint);
    }

    if (mode == 1 || mode == 3) {
        m_tileSize = 48;
        ui->listWidgetTiles->setMaximumWidth(182);
        ui->listWidgetTiles->setMinimumWidth(int(m_tileSize * 3.8));
        ui->listWidgetTiles->setSpacing(6);
        ui->listWidgetTiles->setIconSize(QSize(m_tileSize, m_tileSize));
    } else if (mode == 2) {
        m_tileSize = 56;
        ui->listWidgetTiles->setMinimumWidth(179);
        ui->listWidgetTiles->setMaximumWidth(int(m_tileSize * 3.2));
        ui->listWidgetTiles->setSpacing(6);
        ui->listWidgetTiles->setIconSize(QSize(m_tileSize, m_tileSize));
    }

    if (mode == 2)
        menuBar()->hide();
    if (mode >= 3) {
        menuBar()->clear();
        ui->mainToolBar->hide();
        if (mode != 5)
            menuBar()->addAction(ui->actionAbout);
        // Without the File menu mode 4 keeps a way out in its menu bar (as
        // text: the menu bar would show an icon alone).
        if (mode == 4) {
            QAction *exit = menuBar()->addAction(ui->actionExit->text());
            exit->setObjectName(QStringLiteral("actionMenuBarExit"));
            exit->setToolTip(ui->actionExit->toolTip());
            connect(exit, &QAction::triggered, this, &QWidget::close);
        }
    }
    if (mode >= 4) {
        // Neither mode has a File menu (kiosk mode has no menu nor title
        // bar at all): Ctrl+Q leaves them, the same close as Exit, asking
        // about unsaved changes.
        auto *quit = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Q")), this);
        quit->setObjectName(QStringLiteral("kioskQuitShortcut"));
        connect(quit, &QShortcut::activated, this, &QWidget::close);
    }
    if (mode >= 1)
        buildPageNavigation();

    // The tiles are dragged like a list on a touch screen.
    if (tileList)
        (new FlickCharm(this))->attachTo(ui->listWidgetTiles);

    qApp->setStyleSheet(readResourceText(styleSheetResource(mode)));
}

// Without a stored geometry the window opens large enough for its tool bar
// and a few panels, centred on the screen, instead of at the form's minimal
// design size.
void Quorvane::setFirstStartGeometry()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize size = QSize(1024, 720).boundedTo(available.size() * 0.9).expandedTo(this->size());
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, available));
}

void Quorvane::updateWindowTitle()
{
    using ZorApplServices::appGlobal;
    QString title = appGlobal(QStringLiteral("AppTitle")) + QLatin1Char(' ')
                    + appGlobal(QStringLiteral("AppVersion"));
    if (!m_currentUserLevelName.isEmpty())
        title = m_currentUserLevelName + QStringLiteral(" - ") + title;
    if (!m_currentFileName.isEmpty())
        title = m_currentFileName + QStringLiteral(" - ") + title;
    setWindowTitle(title);
}

void Quorvane::on_actionAbout_triggered()
{
    using namespace ZorApplServices;
    const QString text = readTextFileWithMacros(QStringLiteral(":about.html"));
    if (text.isEmpty()) {
        openInfoUrl();
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, tr("About %1").arg(appGlobal(QStringLiteral("AppTitle"))),
                    text, QMessageBox::Ok, this, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.setWindowIcon(QIcon(QStringLiteral(":AppIcon.png")));
    QPalette palette = box.palette();
    palette.setColor(QPalette::Active, QPalette::Window, Qt::white);
    box.setPalette(palette);
    box.exec();
}

// The logo at the right end of the tool bar opens the about box.
void Quorvane::buildToolbarLogo()
{
    auto *stretch = new QLabel(ui->mainToolBar);
    stretch->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ui->mainToolBar->addWidget(stretch);
    const QPixmap logo(QStringLiteral(":ToolbarLogo.png"));
    if (logo.isNull())
        return;
    auto *label = new ClickableQLabel(ui->mainToolBar);
    label->setObjectName(QStringLiteral("labelToolbarLogo"));
    label->setPixmap(logo);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    label->setFrameShape(QFrame::NoFrame);
    label->setToolTip(ui->actionAbout->toolTip());
    label->setCursor(Qt::PointingHandCursor);
    connect(label, &ClickableQLabel::clicked, this, &Quorvane::on_actionAbout_triggered);
    ui->mainToolBar->addWidget(label);
}

void Quorvane::openInfoUrl()
{
    const QString url = ZorApplServices::appGlobal(QStringLiteral("InfoUrl"));
    if (!url.isEmpty())
        QDesktopServices::openUrl(QUrl(url));
}

void Quorvane::on_actionQuickReference_triggered()
{
    using namespace ZorApplServices;
    const QString path = QApplication::applicationDirPath() + QLatin1Char('/')
                         + appGlobal(QStringLiteral("HelpFile"));
    // The desktop's opener is started detached and reports success even for a
    // file that is not there, so a missing help file is caught first.
    const QFileInfo help(path);
    if (help.isFile()) {
        // Without a desktop program to open it, the page is shown here.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            showHelpWindow(path);
        return;
    }
    QMessageBox box(QMessageBox::Warning, tr("Problem Loading Help File"),
                    expandMacros(tr("Missing Help File %%HelpFile%%.<br>Please contact technical "
                                    "support: <a href='%%SupportUrl%%'>%%SupportUrl%%</a>.")),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void Quorvane::showHelpWindow(const QString &path)
{
    if (!m_helpWindow) {
        m_helpWindow = new QDialog(this, Qt::Window);
        m_helpWindow->setObjectName(QStringLiteral("helpWindow"));
        m_helpWindow->setAttribute(Qt::WA_DeleteOnClose);
        auto *browser = new QTextBrowser(m_helpWindow);
        browser->setObjectName(QStringLiteral("helpBrowser"));
        // Links to the web go to the desktop (if it can); the page's own
        // links are followed here.
        browser->setOpenExternalLinks(true);
        auto *layout = new QVBoxLayout(m_helpWindow);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
        m_helpWindow->resize(QSize(820, 640).boundedTo(size().expandedTo(QSize(480, 360))));
    }
    auto *browser = m_helpWindow->findChild<QTextBrowser *>(QStringLiteral("helpBrowser"));
    browser->setSource(QUrl::fromLocalFile(path));
    const QString title = browser->documentTitle();
    m_helpWindow->setWindowTitle(title.isEmpty() ? tr("Help") : title);
    m_helpWindow->show();
    m_helpWindow->raise();
    m_helpWindow->activateWindow();
}

void Quorvane::on_actionStopDrives_triggered()
{
    if (!ui->actionStopDrives->isVisible() || !m_project)
        return;
    m_project->broadcast(ZorMessage(KM_PLAYERCMD_STOP, KS_REQUEST));
    m_project->broadcast(ZorMessage(KM_DRIVE_STOP, KS_REQUEST));
}
