#include "clickableqlabel.h"
#include "quorvane.h"
#include "zorapplservices.h"
#include "zorregistry.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QDesktopServices>
#include <QDialog>
#include <QTextBrowser>
#include <QtTest>

#include <functional>

namespace {

// Takes the URLs the desktop would open.
class WindowUrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// The texts a menu shows: hidden actions left out, a run of separators shown
// as one (as the menu draws it).
QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (const QAction *a : actions) {
        if (!a->isVisible())
            continue;
        const QString text = a->isSeparator() ? QStringLiteral("|") : a->text();
        if (text == QLatin1String("|") && !texts.isEmpty() && texts.last() == text)
            continue;
        texts << text;
    }
    return texts;
}

struct ShownBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs `trigger`, which is expected to show a modal message box, and closes
// the box as soon as it is up.
ShownBox captureMessageBox(const std::function<void()> &trigger)
{
    ShownBox shown;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = {box->windowTitle(), box->text(), box->icon()};
            poll.stop();
            box->done(QMessageBox::Ok);
        }
    });
    poll.start();
    trigger();
    return shown;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_settingsDir;
    ZorTest::TempHome m_home; // the window makes its projects folder in the home folder

    void setGuiMode(int mode) { QSettings().setValue(QStringLiteral("GuiMode"), mode); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        QCoreApplication::setOrganizationName(QStringLiteral("QuorvaneTest"));
        QCoreApplication::setApplicationName(QStringLiteral("MainWindow"));
        // The test program lies beside the default resource files.
        QVERIFY(ZorApplServices::initAppGlobals());
    }

    void formHoldsMenusToolbarAndShortcuts()
    {
        setGuiMode(0);
        Quorvane w;
        QCOMPARE(Quorvane::instance(), &w);
        // The window starts at user level 1, named "Engineer" by the shipped configuration.
        QCOMPARE(w.windowTitle(), QStringLiteral("Engineer - Quorvane ") + ZorApplServices::appVersion());

        auto *menuFile = w.findChild<QMenu *>(QStringLiteral("menuFile"));
        auto *menuHelp = w.findChild<QMenu *>(QStringLiteral("menuHelp"));
        auto *toolBar = w.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
        QVERIFY(menuFile && menuHelp && toolBar);
        QCOMPARE(actionTexts(w.menuBar()->actions()), QStringList({"File", "Help"}));
        // Without an update server "Check for Updates" is left out.
        QCOMPARE(actionTexts(menuFile->actions()),
                 QStringList({"New Project", "Open Project...", "|", "Save Project", "Save As...",
                              "Generate Runtime...", "|", "&User Level", "Stop Drives", "|",
                              "Exit"}));
        QCOMPARE(actionTexts(menuHelp->actions()), QStringList({"View Help", "About..."}));
        // The user-level tool button stands before Stop Drives.
        // The logo stands at the right end, after a stretch.
        QCOMPARE(actionTexts(toolBar->actions()),
                 QStringList({"New Project", "Open Project...", "Save Project", "", "Stop Drives",
                              "View Help", "Exit", "", ""}));
        QCOMPARE(toolBar->widgetForAction(toolBar->actions().at(3)), w.userLevelButton());
        QCOMPARE(toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(!toolBar->isMovable());

        const QList<QPair<QString, QString>> shortcuts = {
            {"actionNew", "Ctrl+N"}, {"actionOpen", "Ctrl+O"}, {"actionSave", "Ctrl+S"},
            {"actionStopDrives", "F12"}, {"actionQuickReference", "F1"}, {"actionExit", ""}};
        for (const auto &s : shortcuts) {
            auto *a = w.findChild<QAction *>(s.first);
            QVERIFY2(a, qPrintable(s.first));
            QCOMPARE(a->shortcut().toString(), s.second);
        }
        // Every action but About carries a picture from the program's resources.
        for (QAction *a : w.findChildren<QAction *>(QRegularExpression(QStringLiteral("^action")))) {
            if (a->objectName() != QLatin1String("actionAbout"))
                QVERIFY2(!a->icon().isNull(), qPrintable(a->objectName()));
        }
        auto *help = w.findChild<QAction *>(QStringLiteral("actionQuickReference"));
        QCOMPARE(help->iconText(), QStringLiteral("Help"));
    }

    void guiModes_data()
    {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("tree");        // project tree and Stop Drives
        QTest::addColumn<bool>("stack");
        QTest::addColumn<bool>("tiles");       // tile list and "Project Home"
        QTest::addColumn<QStringList>("menuBar"); // empty: hidden
        QTest::addColumn<bool>("toolBar");
        QTest::addColumn<bool>("touch");
        QTest::addColumn<int>("tileWidth");
        QTest::addColumn<int>("tileSize");
        QTest::addColumn<bool>("fullScreen");
        QTest::addColumn<bool>("frameless");

        const QStringList full{"File", "Help"};
        const QStringList about{"About..."};
        //                          setting mode tree  stack  tiles  menu bar toolbar touch width size full  frameless
        QTest::newRow("0") << 0 << 0 << true << false << false << full << true << false << -1 << 0 << false << false;
        QTest::newRow("1") << 1 << 1 << false << true << true << full << true << false << 182 << 48 << false << false;
        QTest::newRow("2") << 2 << 2 << false << true << true << QStringList() << true << true << 179 << 56 << true << false;
        QTest::newRow("3") << 3 << 3 << false << true << true << about << false << false << 182 << 48 << false << false;
        // Without tree, tiles and File menu, GUI mode 4 keeps a way out.
        const QStringList aboutAndExit{"About...", "Exit"};
        QTest::newRow("4") << 4 << 4 << false << true << false << aboutAndExit << false << false << -1 << 0 << false << false;
        QTest::newRow("5") << 5 << 5 << false << true << false << QStringList() << false << false << -1 << 0 << true << true;
        QTest::newRow("7 counts as 0") << 7 << 0 << true << false << false << full << true << false << -1 << 0 << false << false;
        QTest::newRow("-1 counts as 0") << -1 << 0 << true << false << false << full << true << false << -1 << 0 << false << false;
    }
    void guiModes()
    {
        QFETCH(int, setting);
        QFETCH(int, mode);
        QFETCH(bool, tree);
        QFETCH(bool, stack);
        QFETCH(bool, tiles);
        QFETCH(QStringList, menuBar);
        QFETCH(bool, toolBar);
        QFETCH(bool, touch);
        QFETCH(int, tileWidth);
        QFETCH(int, tileSize);
        QFETCH(bool, fullScreen);
        QFETCH(bool, frameless);

        setGuiMode(setting);
        Quorvane w;
        QCOMPARE(w.guiMode(), mode);
        auto shown = [&w](const char *name) {
            auto *widget = w.findChild<QWidget *>(QLatin1String(name));
            return widget && widget->isVisibleTo(&w);
        };
        QCOMPARE(shown("treeView"), tree);
        QCOMPARE(w.findChild<QAction *>(QStringLiteral("actionStopDrives"))->isVisible(), tree);
        QCOMPARE(shown("stackedWidget"), stack);
        QCOMPARE(shown("listWidgetTiles"), tiles);
        QCOMPARE(shown("labelStackedPanels"), tiles);
        QCOMPARE(shown("mainToolBar"), toolBar);
        QCOMPARE(w.menuBar()->isVisibleTo(&w), !menuBar.isEmpty());
        if (!menuBar.isEmpty())
            QCOMPARE(actionTexts(w.menuBar()->actions()), menuBar);
        QCOMPARE(w.statusBar()->isVisibleTo(&w), mode != 5);

        const bool touchSheet = qApp->styleSheet().contains(QLatin1String("font-size: 10pt"));
        QCOMPARE(touchSheet, touch);
        QVERIFY(qApp->styleSheet().contains(QLatin1String("QSlider::groove:horizontal")));

        auto *list = w.findChild<QListWidget *>(QStringLiteral("listWidgetTiles"));
        if (tileWidth > 0) {
            QCOMPARE(list->minimumWidth(), tileWidth);
            QCOMPARE(list->maximumWidth(), tileWidth);
            QCOMPARE(list->iconSize(), QSize(tileSize, tileSize));
            QCOMPARE(w.tileSize(), tileSize);
        }

        QCOMPARE(bool(w.windowState() & Qt::WindowFullScreen), fullScreen);
        QCOMPARE(bool(w.windowFlags() & Qt::FramelessWindowHint), frameless);
        auto *grid = w.findChild<QGridLayout *>(QStringLiteral("gridLayout"));
        QCOMPARE(grid->contentsMargins().left() == 0 && grid->spacing() == 0, mode == 5);
    }

    void storedGeometryIsRestored()
    {
        setGuiMode(1);
        QByteArray geometry;
        {
            Quorvane w;
            w.setGeometry(40, 50, 700, 500);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.close(); // stores the geometry outside GUI modes 2 and 5
        }
        Quorvane again;
        QCOMPARE(again.size(), QSize(700, 500));
    }

    void aboutBoxShowsExpandedPage()
    {
        setGuiMode(0);
        Quorvane w;
        auto *about = w.findChild<QAction *>(QStringLiteral("actionAbout"));
        const ShownBox box = captureMessageBox([about] { about->trigger(); });
        QCOMPARE(box.title, QStringLiteral("About Quorvane"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QVERIFY2(box.text.contains(QStringLiteral("Quorvane ") + ZorApplServices::appVersion()),
                 qPrintable(box.text));
        QVERIFY2(!box.text.contains(QLatin1String("%%")), qPrintable(box.text));
    }

    // The tool-bar logo opens the about box on a left click only.
    void toolbarLogoOpensTheAboutBox()
    {
        setGuiMode(0);
        Quorvane w;
        auto *logo = w.findChild<ClickableQLabel *>(QStringLiteral("labelToolbarLogo"));
        QVERIFY(logo);
        QVERIFY(!logo->pixmap(Qt::ReturnByValue).isNull());
        auto *toolBar = w.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
        QCOMPARE(toolBar->widgetForAction(toolBar->actions().last()), logo);

        QSignalSpy clicked(logo, &ClickableQLabel::clicked);
        QTest::mouseClick(logo, Qt::RightButton);
        QCOMPARE(clicked.count(), 0);
        const ShownBox box = captureMessageBox([logo] { QTest::mouseClick(logo, Qt::LeftButton); });
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(box.title, QStringLiteral("About Quorvane"));
    }

    // F1 opens the help page that the build puts beside the executable: an
    // index of the program's module types and panels and its commands.
    void helpPageShipsBesideTheExecutable()
    {
        using ZorApplServices::appGlobal;
        const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                             + appGlobal(QStringLiteral("HelpFile"));
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        const QString page = QString::fromUtf8(file.readAll());
        QVERIFY(page.contains(QLatin1String("<title>Quorvane Help</title>")));
        QStringList missing;
        for (const QString &key : ZorRegistry::moduleKeys() + ZorRegistry::panelKeys()) {
            if (!page.contains("<code>" + key + "</code>"))
                missing << key;
        }
        QVERIFY2(missing.isEmpty(), qPrintable("not in the help: " + missing.join(", ")));
        for (const char *command : {"open,", "saveas,", "addmodule,", "panel,", "startprocess,",
                                    "openurl,", "/uimode=", "/debugmode="})
            QVERIFY2(page.contains(QLatin1String(command)), command);

        setGuiMode(0);
        Quorvane w;
        WindowUrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        const ShownBox box = captureMessageBox(
            [&w] { w.findChild<QAction *>(QStringLiteral("actionQuickReference"))->trigger(); });
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(box.title, QString());
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl::fromLocalFile(path)});
    }

    // Without a desktop program to open it (none here: the test platform
    // opens nothing), F1 shows the page inside the program, not a claim
    // that the file is missing.
    void helpWithoutADesktopOpenerShowsThePageHere()
    {
        setGuiMode(0);
        Quorvane w;
        auto *help = w.findChild<QAction *>(QStringLiteral("actionQuickReference"));
        QVERIFY(!QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:nobody"))));
        const ShownBox box = captureMessageBox([help] { help->trigger(); });
        QCOMPARE(box.title, QString());
        auto *window = w.findChild<QDialog *>(QStringLiteral("helpWindow"));
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Quorvane Help"));
        auto *browser = window->findChild<QTextBrowser *>(QStringLiteral("helpBrowser"));
        QVERIFY(browser->toPlainText().contains(QLatin1String("canmonitor")));
        // F1 again raises the same window.
        help->trigger();
        QCOMPARE(w.findChildren<QDialog *>(QStringLiteral("helpWindow")).size(), 1);
    }

    void missingHelpFileIsReported()
    {
        using ZorApplServices::appGlobal;
        const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                             + appGlobal(QStringLiteral("HelpFile"));
        // The shipped page is moved aside for this test and back after it.
        struct MovedAside
        {
            QString path;
            bool moved;
            ~MovedAside()
            {
                if (moved)
                    QFile::rename(path + ".aside", path);
            }
        } aside{path, QFile::rename(path, path + ".aside")};
        QVERIFY(!QFile::exists(path));

        setGuiMode(0);
        Quorvane w;
        auto *help = w.findChild<QAction *>(QStringLiteral("actionQuickReference"));
        const ShownBox box = captureMessageBox([help] { help->trigger(); });
        QCOMPARE(box.title, QStringLiteral("Problem Loading Help File"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        const QString support = appGlobal(QStringLiteral("SupportUrl"));
        QCOMPARE(box.text, QStringLiteral("Missing Help File %1.<br>Please contact technical support: "
                                          "<a href='%2'>%2</a>.")
                               .arg(appGlobal(QStringLiteral("HelpFile")), support));
    }
};

ZOR_TEST(TestMainWindow)
#include "tst_mainwindow.moc"
