#include "windowtesting.h"
#include "zorapplservices.h"
#include "zorpanel.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QDockWidget>
#include <QHeaderView>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QLineEdit>
#include <QMenuBar>
#include <QTabBar>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

using namespace WindowTesting;

// The main window with a project: opening in every way a user can, the
// tree, docks, tiles and pages following the project, load and save errors
// in message boxes, the recent-file list, the unsaved-changes question and
// the project tree's context menu.
class TestWindowProject : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;
    QScopedPointer<QTemporaryDir> dir;

    QString path(const QString &relative) const { return dir->filePath(relative); }
    QString demo(const QString &name = QStringLiteral("Demo.zorpro"))
    {
        const QString file = path(name);
        writeFile(file, demoProject());
        return file;
    }
    static void setGuiMode(int mode) { ZorTest::TempSettings::set("GuiMode", mode); }
    static QTreeView *tree(Quorvane &w) { return w.findChild<QTreeView *>("treeView"); }
    static QListWidget *tiles(Quorvane &w) { return w.findChild<QListWidget *>("listWidgetTiles"); }
    static QStringList tileTexts(Quorvane &w)
    {
        QStringList texts;
        for (int i = 0; i < tiles(w)->count(); ++i)
            texts << tiles(w)->item(i)->text();
        return texts;
    }
    static QStringList dockTitles(Quorvane &w)
    {
        QStringList titles;
        for (const QPointer<QDockWidget> &dock : w.docks()) {
            if (dock)
                titles << dock->windowTitle();
        }
        titles.sort();
        return titles;
    }
    static QString stackLabel(Quorvane &w)
    {
        return w.findChild<QLabel *>("labelStackedPanels")->text();
    }
    static QAction *action(Quorvane &w, const char *name) { return w.findChild<QAction *>(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
        QVERIFY(ZorApplServices::initAppGlobals());
    }
    void init()
    {
        dir.reset(new QTemporaryDir(home.homePath() + "/work-XXXXXX"));
        QVERIFY(dir->isValid());
        setGuiMode(0);
        QSettings().remove("RecentFiles");
    }
    void cleanup() { QGuiApplication::clipboard()->clear(); }

    void opensTheDemoEveryWay_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("command line") << "command line";
        QTest::newRow("file menu") << "file menu";
        QTest::newRow("recent-file list") << "recent";
        QTest::newRow("drag and drop") << "drop";
    }
    void opensTheDemoEveryWay()
    {
        QFETCH(QString, way);
        const QString file = demo();
        if (way == "recent")
            QSettings().setValue("RecentFiles", QStringList{file});
        Quorvane w;
        w.show();
        if (way == "command line") {
            QVERIFY(w.appControl("open," + file));
        } else if (way == "file menu") {
            QVERIFY(withModal<QFileDialog>([&] { action(w, "actionOpen")->trigger(); },
                                           [&](QFileDialog *d) {
                                               QCOMPARE(d->windowTitle(), QStringLiteral("Open Quorvane Project"));
                                               d->selectFile(file);
                                               static_cast<QDialog *>(d)->accept();
                                           }));
        } else if (way == "recent") {
            QAction *first = nullptr;
            for (QAction *a : w.findChild<QMenu *>("menuFile")->actions()) {
                if (a->data().toString() == file && a->isVisible())
                    first = a;
            }
            QVERIFY(first);
            QCOMPARE(first->text(), "&1 " + ZorApplServices::shortPathText(file));
            first->trigger();
        } else {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(file)});
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &enter);
            QVERIFY(enter.isAccepted());
            QSignalSpy answers(&w, &Quorvane::appControlResponse);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &drop);
            QVERIFY(answers.wait(5000));
            QCOMPARE(answers.at(0).at(0).value<ZorMessage>().msgState(), int(KS_ANSWER));
        }
        QCOMPARE(treeLines(tree(w)->model()), demoTree());
        QVERIFY(w.windowTitle().startsWith("Demo.zorpro - Engineer - Quorvane "));
        // The layout stored in the project: the panels that were open.
        QCOMPARE(dockTitles(w), QStringList({"CAN1", "CAN1 - CAN Monitor"}));
        QCOMPARE(w.lastFolder(), dir->path());
    }

    void droppedDataMustNameAProject_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("path");
        QTest::newRow("capitals") << QList<QUrl>{QUrl::fromLocalFile("/p/LINE.ZORZIP")} << "/p/LINE.ZORZIP";
        QTest::newRow("template") << QList<QUrl>{QUrl::fromLocalFile("/p/a.zortpl")} << "/p/a.zortpl";
        QTest::newRow("other file") << QList<QUrl>{QUrl::fromLocalFile("/p/notes.txt")} << "";
        QTest::newRow("no urls") << QList<QUrl>{} << "";
    }
    void droppedDataMustNameAProject()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, path);
        Quorvane w;
        QMimeData mime;
        if (urls.isEmpty())
            mime.setText("/p/a.zorpro");
        else
            mime.setUrls(urls);
        QCOMPARE(w.extractOpenPathFromMime(&mime), path);
    }

    void tilesAndPagesInGuiMode1()
    {
        setGuiMode(1);
        Quorvane w;
        w.show();
        QVERIFY(w.appControl("open," + demo()));
        QCOMPARE(tileTexts(w), QStringList({"Project Home", "CAN1", "CAN1\n> CAN Monitor",
                                            "CAN1\n> CAN Sender", "Scope", "TCP01"}));
        auto *stack = w.findChild<QStackedWidget *>("stackedWidget");
        QCOMPARE(stack->count(), 6);
        QCOMPARE(stack->currentIndex(), 0);
        QCOMPARE(stackLabel(w), QStringLiteral("Project Home"));
        QVERIFY(!tiles(w)->item(2)->icon().isNull());
        QCOMPARE(tiles(w)->item(2)->sizeHint(), QSize(182 - 10, 48));

        // A tile's icon is drawn again only when its module's status changes.
        QuorvaneProject *project = w.project();
        const qint64 idle = tiles(w)->item(1)->icon().cacheKey();
        w.updateTiles();
        QCOMPARE(tiles(w)->item(1)->icon().cacheKey(), idle);
        project->model()->setModuleStatus(item(project, "CAN1"), 2000);
        QVERIFY(tiles(w)->item(1)->icon().cacheKey() != idle);

        tiles(w)->setCurrentRow(2);
        QCOMPARE(stack->currentIndex(), 2);
        QCOMPARE(stackLabel(w), QStringLiteral("CAN1 > CAN Monitor"));
        w.changePage(-1);
        w.changePage(6);
        QCOMPARE(stack->currentIndex(), 2);
        w.selectPanel(" tcp01 ");
        QCOMPARE(stack->currentIndex(), 5);
        w.selectPanel("can1 > can sender");
        QCOMPARE(stack->currentIndex(), 3);
        QPointer<QWidget> senderPage = stack->currentWidget();

        // Modules added and removed: tiles follow, the page shown stays.
        QString label;
        // A plot panel is built from its plot document.
        QVERIFY(w.appControl("addmodule,datalog_plot,,,,<docs><PlotConfigurationDoc><PlotConfiguration title=\"P\">"
                             "<Curves/></PlotConfiguration></PlotConfigurationDoc></docs>",
                             label));
        QCOMPARE(label, QStringLiteral("Plot"));
        QCOMPARE(tileTexts(w).last(), QStringLiteral("Plot"));
        QCOMPARE(stack->currentWidget(), senderPage.data());
        QVERIFY(w.appControl("removemodule,TCP01"));
        QVERIFY(!tileTexts(w).contains("TCP01"));
        QCOMPARE(stack->count(), 6);
        QCOMPARE(stack->currentWidget(), senderPage.data());
        QCOMPARE(stackLabel(w), QStringLiteral("CAN1 > CAN Sender"));
        QVERIFY(w.appControl("removemodule,CAN1"));
        QVERIFY(senderPage.isNull() || !senderPage->isVisible());
        QCOMPARE(tileTexts(w), QStringList({"Project Home", "Scope", "Plot"}));
        QCOMPARE(stack->currentIndex(), 0);
    }

    void guiMode5ShowsTheFirstUserInterfacePanel()
    {
        setGuiMode(5);
        QByteArray text = demoProject();
        text.replace("<module type=\"commchannel\" label=\"TCP01\"/>",
                     "<module type=\"uipanel_node\" label=\"Screen\"/>");
        writeFile(path("ui.zorpro"), text);
        Quorvane w;
        QVERIFY(w.appControl("open," + path("ui.zorpro")));
        auto *stack = w.findChild<QStackedWidget *>("stackedWidget");
        QCOMPARE(w.pages().value(stack->currentIndex()).data().toString(), QStringLiteral("Screen"));
    }

    // The stack layouts go back as a browser does: Alt+Left, Backspace and
    // Home (Alt+Home, and a button where there are no tiles) after a link
    // of the home page; Back retraces the pages one by one.
    void homeAndBackInTheStackModes_data()
    {
        QTest::addColumn<int>("mode");
        for (int mode : {1, 4, 5})
            QTest::addRow("mode %d", mode) << mode;
    }
    void homeAndBackInTheStackModes()
    {
        QFETCH(int, mode);
        setGuiMode(mode);
        Quorvane w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(w.appControl("open," + demo()));
        auto *stack = w.findChild<QStackedWidget *>("stackedWidget");
        const auto shown = [&] { return QuorvaneProject::displayName(w.pages().value(stack->currentIndex())); };
        QCOMPARE(shown(), QStringLiteral("Project Home"));
        ZorPanel *home = w.project()->openPanels().value(QPersistentModelIndex(w.project()->model()->index(0, 0)));
        QVERIFY(home);
        auto *bar = w.findChild<QToolBar *>("navigationBar");
        QCOMPARE(bar != nullptr, mode >= 4);
        QVERIFY(!action(w, "actionBack")->isEnabled());
        const auto follow = [&](const QString &name) {
            home->processAnchorClicked(QUrl("#app:panel," + name));
            QTRY_COMPARE(shown(), name);
        };

        const QList<QKeySequence> ways{QKeySequence("Alt+Left"), QKeySequence(Qt::Key_Backspace),
                                       QKeySequence("Alt+Home")};
        for (const QKeySequence &way : ways) {
            follow("CAN1 - CAN Sender");
            if (bar) {
                QVERIFY(bar->isVisible());
                QCOMPARE(w.findChild<QLabel *>("labelNavigation")->text(), QStringLiteral("CAN1 > CAN Sender"));
            }
            QTest::keySequence(stack->currentWidget(), way);
            QCOMPARE(shown(), QStringLiteral("Project Home"));
            if (bar)
                QVERIFY(!bar->isVisible());
        }

        // Back goes back step by step; Home at once.
        follow("Scope");
        w.appControl("panel,TCP01");
        QCOMPARE(shown(), QStringLiteral("TCP01"));
        action(w, "actionBack")->trigger();
        QCOMPARE(shown(), QStringLiteral("Scope"));
        w.appControl("panel,CAN1");
        if (bar) {
            auto *button = bar->widgetForAction(action(w, "actionHome"));
            QVERIFY(button && button->isVisible());
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            action(w, "actionHome")->trigger();
        }
        QCOMPARE(shown(), QStringLiteral("Project Home"));
        action(w, "actionBack")->trigger();
        QCOMPARE(shown(), QStringLiteral("CAN1"));

        // Typing into an editor keeps its Backspace.
        auto *edit = new QLineEdit(stack->currentWidget());
        edit->setText("ab");
        edit->show();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), QStringLiteral("a"));
        QCOMPARE(shown(), QStringLiteral("CAN1"));

        if (mode == 4) {
            // Its menu bar has a way out besides the about box.
            QStringList entries;
            for (QAction *entry : w.menuBar()->actions())
                entries << entry->text();
            QCOMPARE(entries, QStringList({"About...", "Exit"}));
            action(w, "actionMenuBarExit")->trigger();
            QTRY_VERIFY(!w.isVisible());
        }
    }

    // Without a stored layout the first panel of the tree is the front tab,
    // not the one opened last.
    void firstPanelInFrontWithoutStoredLayout()
    {
        Quorvane w;
        w.show();
        QVERIFY(w.appControl("open," + demo()));
        const QList<QPersistentModelIndex> shown = w.project()->visiblePanelIndexes(false);
        QVERIFY(shown.size() > 1);
        QPointer<QDockWidget> first = w.docks().value(shown.first());
        QVERIFY(first);
        // The main window's tab bar of the docks names the front tab.
        const auto frontTabs = [&w] {
            QStringList fronts;
            for (QTabBar *bar : w.findChildren<QTabBar *>()) {
                if (bar->count() > 1)
                    fronts << bar->tabText(bar->currentIndex());
            }
            return fronts;
        };
        QTRY_COMPARE(frontTabs(), QStringList({first->windowTitle()}));
    }

    // The live demo's first view: its home page in front, a few docks with
    // their whole titles on the tabs; the other panels open from its links.
    void liveDemoOpensOnItsHomePageWithReadableTabs()
    {
        writeFile(path("LiveBus.zorpro"), readFile(ZorTest::sourcePath("resources/demo/LiveBus.zorpro")));
        Quorvane w;
        w.resize(1024, 720);
        w.show();
        QVERIFY(w.appControl("open," + path("LiveBus.zorpro")));
        QCOMPARE(dockTitles(w), QStringList({"CAN1", "CAN1 - Monitor", "CAN1 - Sender", "Project Home"}));
        QList<QTabBar *> bars;
        for (QTabBar *bar : w.findChildren<QTabBar *>()) {
            if (bar->count() > 1)
                bars << bar;
        }
        QCOMPARE(bars.size(), 1);
        QTabBar *bar = bars.first();
        QTRY_COMPARE(bar->tabText(bar->currentIndex()), QStringLiteral("Project Home"));
        QCOMPARE(bar->elideMode(), Qt::ElideNone);
        for (int i = 0; i < bar->count(); ++i) {
            const QString title = bar->tabText(i);
            QVERIFY2(bar->tabRect(i).width() > bar->fontMetrics().horizontalAdvance(title), qPrintable(title));
        }
    }

    void docksInGuiMode0()
    {
        Quorvane w;
        w.show();
        QVERIFY(w.appControl("open," + demo()));
        QuorvaneProject *project = w.project();
        const QModelIndex scope = item(project, "Scope");
        w.newDock(scope);
        QCOMPARE(dockTitles(w), QStringList({"CAN1", "CAN1 - CAN Monitor", "Scope"}));
        QPointer<QDockWidget> dock = w.docks().value(QPersistentModelIndex(scope));
        QVERIFY(dock);
        QCOMPARE(w.dockWidgetArea(dock), Qt::RightDockWidgetArea);
        QVERIFY(!w.tabifiedDockWidgets(dock).isEmpty());
        QCOMPARE(dock->objectName(), QStringLiteral("Scope"));
        QVERIFY(qobject_cast<ZorPanel *>(dock->widget()));

        // A second click brings the same dock; a closed dock is made anew.
        w.newDock(scope);
        QCOMPARE(w.docks().value(QPersistentModelIndex(scope)), dock);
        dock->close();
        QTRY_VERIFY(dock.isNull());
        w.newDock(scope);
        QVERIFY(w.docks().value(QPersistentModelIndex(scope)));

        // A removed module takes its dock along.
        QPointer<QDockWidget> tcp;
        w.newDock(item(project, "TCP01"));
        tcp = w.docks().value(QPersistentModelIndex(item(project, "TCP01")));
        QVERIFY(tcp);
        QVERIFY(w.appControl("removemodule,,commchannel"));
        QTRY_VERIFY(tcp.isNull());
        QCOMPARE(treeLines(tree(w)->model()).size(), demoTree().size() - 1);

        // Below a module's user level nothing opens, and the tree offers no
        // context menu below level 2.
        QVERIFY(w.appControl("addmodule,nodeconfig,Node05,,MIDX-0-0-0-0"));
        const QModelIndex node = item(project, "Node05", item(project, "CAN1"));
        QVERIFY(node.isValid());
        w.changeUserLevel(0);
        w.newDock(node);
        QVERIFY(!w.docks().contains(QPersistentModelIndex(node)));
        QCOMPARE(tree(w)->contextMenuPolicy(), Qt::NoContextMenu);
        w.changeUserLevel(2);
        QCOMPARE(tree(w)->contextMenuPolicy(), Qt::CustomContextMenu);
        QVERIFY(!w.docks().contains(QPersistentModelIndex(node)));
        w.newDock(node);
        QCOMPARE(w.docks().value(QPersistentModelIndex(node))->windowTitle(),
                 QStringLiteral("CAN1 - Node05"));
    }

    // The first dock takes a fair share of the window beside the tree,
    // which shows its Status column whole; a click on an open panel's row
    // brings its tab to the front without moving it.
    void dockLayoutInGuiMode0()
    {
        Quorvane w;
        w.resize(1200, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.appControl("open," + demo()));
        w.closePanels();
        QuorvaneProject *project = w.project();
        w.newDock(item(project, "Scope"));
        QDockWidget *scope = w.docks().value(QPersistentModelIndex(item(project, "Scope")));
        QVERIFY(scope);
        QTRY_VERIFY2(scope->width() >= w.width() / 2, qPrintable(QString::number(scope->width())));

        QTreeView *view = tree(w);
        QTRY_VERIFY(view->header()->sectionSize(1) >= view->header()->sectionSizeHint(1));
        QVERIFY(!view->horizontalScrollBar()->isVisible());

        w.newDock(item(project, "TCP01"));
        w.newDock(item(project, "CAN1"));
        const auto tabs = [&w] {
            QStringList texts;
            for (QTabBar *bar : w.findChildren<QTabBar *>()) {
                for (int i = 0; bar->isVisible() && i < bar->count(); ++i)
                    texts << bar->tabText(i);
            }
            return texts;
        };
        QTRY_COMPARE(tabs(), QStringList({"Scope", "TCP01", "CAN1"}));
        w.newDock(item(project, "Scope"));
        QCOMPARE(tabs(), QStringList({"Scope", "TCP01", "CAN1"}));
        QTRY_VERIFY(!scope->visibleRegion().isEmpty());
    }

    // "panel,<name>" opening the only dock widens its panel for a moment;
    // whichever module it shows, the panel gets its own minimum width back.
    void panelCommandWidensOnlyForAMoment_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("top row") << "Project Home";
        QTest::newRow("interface") << "CAN1";
        QTest::newRow("below the interface") << "CAN1 > CAN Monitor";
        QTest::newRow("scope") << "scope";
    }
    void panelCommandWidensOnlyForAMoment()
    {
        QFETCH(QString, name);
        Quorvane w;
        w.resize(1000, 700);
        w.show();
        QVERIFY(w.appControl("open," + demo()));
        w.closePanels();
        QVERIFY(w.appControl("panel," + name));
        QCOMPARE(w.docks().size(), 1);
        QWidget *panel = w.docks().first()->widget();
        QVERIFY(panel);
        // Three quarters of the window (which may grow to hold it).
        QVERIFY2(panel->minimumWidth() >= 1000 * 3 / 4, qPrintable(QString::number(panel->minimumWidth())));
        QTRY_VERIFY_WITH_TIMEOUT(panel->minimumWidth() < 500, 1000);
    }

    // The demo projects' home pages link to every panel, and each link
    // reaches its panel in the docks (GUI mode 0) and in the panel stack
    // (GUI modes 4 and 5, which have no tree and no tiles).
    void demoHomePagesReachEveryPanel_data()
    {
        QTest::addColumn<QString>("demoFile");
        QTest::addColumn<int>("mode");
        for (const char *file : {"Demo.zorpro", "LiveBus.zorpro"}) {
            for (int mode : {0, 4, 5})
                QTest::addRow("%s, mode %d", file, mode) << QString(file) << mode;
        }
    }
    void demoHomePagesReachEveryPanel()
    {
        QFETCH(QString, demoFile);
        QFETCH(int, mode);
        setGuiMode(mode);
        writeFile(path(demoFile), readFile(ZorTest::sourcePath("resources/demo/" + demoFile)));
        Quorvane w;
        QVERIFY(w.appControl("open," + path(demoFile)));
        QuorvaneProject *project = w.project();
        auto *stack = w.findChild<QStackedWidget *>("stackedWidget");
        const QModelIndex homeIndex = project->model()->index(0, 0);
        if (mode == 0)
            w.newDock(homeIndex);
        else {
            // Operator modes open on the first operator screen, else on the
            // home page.
            QPersistentModelIndex start(homeIndex);
            const auto pages = w.pages();
            for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
                if (QuorvaneProject::moduleType(it.value()).startsWith("uipanel")) {
                    start = it.value();
                    break;
                }
            }
            QCOMPARE(w.pages().value(stack->currentIndex()), start);
        }
        ZorPanel *home = project->openPanels().value(QPersistentModelIndex(homeIndex));
        QVERIFY(home);
        auto *page = home->findChild<QTextBrowser *>("textBrowser");
        QVERIFY(page);

        QStringList linked;
        for (QTextBlock block = page->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QString href = it.fragment().charFormat().anchorHref();
                if (href.startsWith("#app:panel,") && !linked.contains(href.mid(11)))
                    linked << href.mid(11);
            }
        }
        QStringList panels;
        for (const QPersistentModelIndex &index : project->visiblePanelIndexes(true)) {
            if (index != QPersistentModelIndex(homeIndex))
                panels << QuorvaneProject::displayName(index);
        }
        linked.sort();
        panels.sort();
        QCOMPARE(linked, panels);

        for (const QString &name : linked) {
            home->processAnchorClicked(QUrl("#app:panel," + name));
            if (mode == 0) {
                QTRY_VERIFY2(dockTitles(w).contains(name), qPrintable(name));
            } else {
                QTRY_COMPARE(QuorvaneProject::displayName(w.pages().value(stack->currentIndex())), name);
                QCOMPARE(stack->currentIndex() == 0, false);
            }
        }
        if (mode == 5) {
            // Kiosk mode has no menu: Ctrl+Q closes the window.
            auto *quit = w.findChild<QShortcut *>("kioskQuitShortcut");
            QVERIFY(quit);
            QCOMPARE(quit->key(), QKeySequence(QStringLiteral("Ctrl+Q")));
        }
    }

    void loadErrorsAreShownAndKeepThePreviousProject_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // "-": not written
        QTest::addColumn<QString>("error");
        QTest::newRow("missing") << "missing.zorpro" << QByteArray("-") << "The project file was not found.";
        QTest::newRow("empty") << "empty.zorpro" << QByteArray() << "Project file is empty.";
        QTest::newRow("abc") << "abc.zorpro" << QByteArray("abc") << "Project file contains invalid XML.";
        QTest::newRow("foreign XML") << "x.zorpro" << QByteArray("<a/>") << "Could not load project XML data.";
        QTest::newRow("bad archive") << "x.zorzip" << QByteArray("abc") << "Could not extract compressed project.";
    }
    void loadErrorsAreShownAndKeepThePreviousProject()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        Quorvane w;
        QVERIFY(w.appControl("open," + demo()));
        if (content != "-")
            writeFile(path(name), content);
        Boxes boxes;
        QVERIFY(!w.appControl("open," + path(name)));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.at(0).title, QStringLiteral("File error"));
        QCOMPARE(boxes.shown.at(0).icon, QMessageBox::Warning);
        QCOMPARE(boxes.shown.at(0).text, QStringLiteral("Error while opening\n%1.\n%2").arg(path(name), error));
        // The project that was open is open again, with its layout.
        QCOMPARE(treeLines(tree(w)->model()), demoTree());
        QCOMPARE(w.project()->projectFile(), path("Demo.zorpro"));
        QCOMPARE(dockTitles(w), QStringList({"CAN1", "CAN1 - CAN Monitor"}));
        QVERIFY(w.windowTitle().startsWith("Demo.zorpro - Engineer - "));
        QVERIFY(!w.project()->isModified());
        QCOMPARE(QSettings().value("RecentFiles").toStringList(), QStringList{path("Demo.zorpro")});
    }

    // Without a project before (a failed open from the command line), the
    // window gets a new one from the template; a closed project is never
    // saved as an empty file.
    void aFailedFirstOpenGivesANewProject()
    {
        Quorvane w;
        Boxes boxes;
        QVERIFY(!w.appControl("open," + path("missing.zorpro")));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(treeLines(tree(w)->model()),
                 QStringList({"Project Home", "  CAN1", "    CAN Monitor", "    CAN Sender"}));
        QVERIFY(w.windowTitle().startsWith("Standard.zortpl - "));

        const QString kept = demo();
        w.project()->close();
        QVERIFY(!w.saveToFile(kept, true, false));
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown.at(1).text, QStringLiteral("Error while saving\n%1\nThere is no project to save.")
                                             .arg(kept));
        QCOMPARE(readFile(kept), demoProject());
    }

    void recentFiles()
    {
        QStringList files;
        for (int i = 1; i <= 6; ++i)
            files << demo(QStringLiteral("p%1.zorpro").arg(i));
        Quorvane w;
        for (const QString &f : files)
            QVERIFY(w.appControl("open," + f));
        QStringList newestFirst{files.at(5), files.at(4), files.at(3), files.at(2), files.at(1)};
        QCOMPARE(QSettings().value("RecentFiles").toStringList(), newestFirst);

        QVERIFY(w.appControl("open," + files.at(3)));
        newestFirst.move(2, 0);
        QCOMPARE(QSettings().value("RecentFiles").toStringList(), newestFirst);

        // A bare name is looked for in the last folder.
        QVERIFY(w.appControl("open,p2.zorpro"));
        QCOMPARE(QSettings().value("RecentFiles").toStringList().first(), files.at(1));

        QStringList shown;
        for (QAction *a : w.findChild<QMenu *>("menuFile")->actions()) {
            if (a->isVisible() && !a->data().toString().isEmpty())
                shown << a->data().toString();
        }
        QCOMPARE(shown, QSettings().value("RecentFiles").toStringList());

        // The standard template never enters the list.
        const QStringList before = QSettings().value("RecentFiles").toStringList();
        QVERIFY(w.appControl("new"));
        QVERIFY(w.project()->isTemplate());
        QCOMPARE(QSettings().value("RecentFiles").toStringList(), before);
    }

    void newProjectsComeFromTemplates()
    {
        Quorvane w;
        QVERIFY(w.appControl("new"));
        QCOMPARE(treeLines(tree(w)->model()),
                 QStringList({"Project Home", "  CAN1", "    CAN Monitor", "    CAN Sender"}));
        QVERIFY(w.windowTitle().startsWith("Standard.zortpl - "));
        const QString unpacked = w.project()->projectFile();
        QVERIFY(unpacked.startsWith(QuorvaneProject::tempRoot() + "/zorproj_temp_"));

        // Saving a template asks for a new name, offering a packed project.
        QVERIFY(withModal<QFileDialog>([&] { QVERIFY(!w.saveProject(true)); },
                                       [&](QFileDialog *d) {
                                           QCOMPARE(d->windowTitle(), QStringLiteral("Save Project As"));
                                           QCOMPARE(d->selectedFiles().value(0),
                                                    ZorApplServices::projectsDir() + "/Standard.zorzip");
                                           d->reject();
                                       }));

        Boxes boxes;
        QVERIFY(w.appControl("new,NoSuch.zortpl"));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.at(0).title, QStringLiteral("File error"));
        QVERIFY(boxes.shown.at(0).text.startsWith(
            "Could not open template file\n" + QCoreApplication::applicationDirPath()
            + "/Templates/NoSuch.zortpl\nCould not extract compressed project.\nYour application"));
        QVERIFY(!QFileInfo::exists(unpacked));
    }

    void saveStoresTheLayoutAndClearsTheModifiedFlag()
    {
        Quorvane w;
        const QString file = demo();
        QVERIFY(w.appControl("open," + file));
        QVERIFY(w.appControl("addmodule,datalog_plot"));
        QVERIFY(w.project()->isModified());
        QVERIFY(w.appControl("save"));
        QVERIFY(!w.project()->isModified());
        const QByteArray saved = readFile(file);
        QVERIFY(saved.contains("<guistate>"));
        QVERIFY(saved.contains("label=\"Plot\""));

        Boxes boxes;
        QVERIFY(w.appControl("addmodule,datalog_plot"));
        QVERIFY(!w.saveToFile(path("nowhere/x.zorpro"), true, false));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.at(0).title, QStringLiteral("Save project"));
        QCOMPARE(boxes.shown.at(0).text, QStringLiteral("Error while saving\n%1\nCould not write data to target file.")
                                             .arg(path("nowhere/x.zorpro")));
        QVERIFY(w.project()->isModified());
        QCOMPARE(w.project()->projectFile(), file);
    }

    // Packing from the window: Save As .zorzip of a plain project through
    // the dialog, then opening the archive unpacks it to a temporary folder
    // that goes when the project is closed.
    void saveAsPackedAndReopen()
    {
        Quorvane w;
        const QString file = demo();
        writeFile(path("trace.csv"), "t,v\n");
        QVERIFY(w.appControl("open," + file));
        const QString target = path("Packed.zorzip");
        QVERIFY(withModal<QFileDialog>([&] { QVERIFY(w.appControl("saveas,Demo.zorpro")); },
                                       [&](QFileDialog *d) {
                                           d->selectFile(target);
                                           static_cast<QDialog *>(d)->accept();
                                       }));
        QCOMPARE(w.project()->packedFile(), target);
        QVERIFY(w.windowTitle().startsWith("Packed.zorzip - "));

        QVERIFY(w.appControl("open," + target));
        const QString unpacked = w.project()->projectFile();
        QCOMPARE(QFileInfo(unpacked).fileName(), QStringLiteral("Packed.zorpro"));
        QCOMPARE(readFile(QFileInfo(unpacked).path() + "/trace.csv"), QByteArray("t,v\n"));
        QCOMPARE(treeLines(tree(w)->model()), demoTree());
        QVERIFY(w.appControl("open," + file));
        QVERIFY(!QFileInfo::exists(unpacked));
        QCOMPARE(QDir(QuorvaneProject::tempRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void unsavedChangesAreAskedAbout_data()
    {
        QTest::addColumn<QString>("leave");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("left");
        QTest::newRow("new, cancel") << "new" << int(QMessageBox::Cancel) << false;
        QTest::newRow("new, discard") << "new" << int(QMessageBox::Discard) << true;
        QTest::newRow("open, cancel") << "open" << int(QMessageBox::Cancel) << false;
        QTest::newRow("open, discard") << "open" << int(QMessageBox::Discard) << true;
        QTest::newRow("close, cancel") << "close" << int(QMessageBox::Cancel) << false;
        QTest::newRow("exit, discard") << "exit" << int(QMessageBox::Discard) << true;
        QTest::newRow("exit, cancel") << "exit" << int(QMessageBox::Cancel) << false;
    }
    void unsavedChangesAreAskedAbout()
    {
        QFETCH(QString, leave);
        QFETCH(int, answer);
        QFETCH(bool, left);
        Quorvane w;
        w.show();
        const QString file = demo();
        const QString other = demo("Other.zorpro");
        QVERIFY(w.appControl("open," + file));
        QVERIFY(w.appControl("addmodule,datalog_plot"));
        Boxes boxes{QMessageBox::StandardButton(answer)};
        if (leave == "new")
            w.appControl("new");
        else if (leave == "open")
            w.appControl("open," + other);
        else if (leave == "close")
            w.close();
        else
            QVERIFY(w.appControl("exit"));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.at(0).title, QStringLiteral("Quorvane project"));
        QCOMPARE(w.project()->projectFile() == file, !left);
        if (leave == "close" || leave == "exit")
            QCOMPARE(w.isVisible(), !left);
    }

    void treeContextMenu_data()
    {
        QTest::addColumn<QString>("hit");       // label, "top" or "" (nothing)
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("enabled");   // of Cut Copy Paste Delete Rename
        const QString node = "<module type=\"nodeconfig\" label=\"N\" moduleDepth=\"2\"/>";
        const QString can = "<MODULE type=\"canusb\" moduleDepth=\"1\"/>";
        QTest::newRow("top, nothing to paste") << "top" << "" << "--- - R";
        QTest::newRow("module, node to paste") << "CAN1" << node << "CCPDR";
        QTest::newRow("top, node refused") << "top" << node << "--- - R";
        QTest::newRow("nothing hit, node refused") << "" << node << "-----";
        QTest::newRow("nothing hit, interface") << "" << can << "--P--";
        QTest::newRow("sub-module, interface refused") << "CAN Monitor" << can << "CC-DR";
        QTest::newRow("sub-module, node") << "CAN Monitor" << node << "CCPDR";
        QTest::newRow("not XML") << "Scope" << "plain text" << "CC-DR";
        QTest::newRow("not a module") << "Scope" << "<panel/>" << "CC-DR";
    }
    void treeContextMenu()
    {
        QFETCH(QString, hit);
        QFETCH(QString, clipboard);
        QFETCH(QString, enabled);
        Quorvane w;
        QVERIFY(w.appControl("open," + demo()));
        QuorvaneProject *project = w.project();
        QModelIndex index;
        if (hit == "top")
            index = project->model()->index(0, 0);
        else if (hit == "CAN Monitor")
            index = item(project, hit, item(project, "CAN1"));
        else if (!hit.isEmpty())
            index = item(project, hit);
        QGuiApplication::clipboard()->setText(clipboard);
        w.enableTreeActions(index);
        QString state;
        const char *names[] = {"actionProjectTreeCut", "actionProjectTreeCopy",
                               "actionProjectTreePaste", "actionProjectTreeDelete",
                               "actionProjectTreeRename"};
        const char letters[] = "CCPDR";
        for (int i = 0; i < 5; ++i)
            state += action(w, names[i])->isEnabled() ? QLatin1Char(letters[i]) : QLatin1Char('-');
        QCOMPARE(state, QString(enabled).remove(' '));
    }

    void treeEditCommands()
    {
        Quorvane w;
        QVERIFY(w.appControl("open," + demo()));
        QuorvaneProject *project = w.project();

        // Copy and paste an interface with its sub-modules: new labels.
        w.setContextIndex(item(project, "CAN1"));
        action(w, "actionProjectTreeCopy")->trigger();
        const QString clip = QGuiApplication::clipboard()->text();
        QVERIFY(clip.startsWith("    <module "));
        QVERIFY(clip.contains("moduleDepth=\"1\""));
        QVERIFY(clip.contains("\n        <module ")); // four blanks a level
        w.setContextIndex(QModelIndex());
        action(w, "actionProjectTreePaste")->trigger();
        QCOMPARE(treeLines(tree(w)->model()).mid(6),
                 QStringList({"  CAN2", "    CAN Monitor", "    CAN Sender"}));

        // Copying the top element puts nothing on the clipboard.
        QGuiApplication::clipboard()->setText("kept");
        w.setContextIndex(project->model()->index(0, 0));
        QVERIFY(!w.copyModuleToClipboard());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));

        // Cut removes, Delete asks first, Rename asks for the new label.
        w.setContextIndex(item(project, "CAN2"));
        action(w, "actionProjectTreeCut")->trigger();
        QVERIFY(!item(project, "CAN2").isValid());
        {
            Boxes boxes(QMessageBox::No);
            w.setContextIndex(item(project, "CAN1"));
            action(w, "actionProjectTreeDelete")->trigger();
            QCOMPARE(boxes.texts(), QStringList({"Are you sure you want to delete this module and "
                                                 "its children from the project?"}));
            QVERIFY(item(project, "CAN1").isValid());
            boxes.answer = QMessageBox::Yes;
            w.setContextIndex(item(project, "Scope"));
            action(w, "actionProjectTreeDelete")->trigger();
            QCOMPARE(boxes.shown.last().text,
                     QStringLiteral("Are you sure you want to delete this module from the project?"));
            QVERIFY(!item(project, "Scope").isValid());
        }
        w.setContextIndex(item(project, "TCP01"));
        int dialogs = 0;
        QVERIFY(withModal<QInputDialog>([&] { action(w, "actionProjectTreeRename")->trigger(); },
                                        [&](QInputDialog *d) {
                                            ++dialogs;
                                            QCOMPARE(d->windowTitle(), QStringLiteral("Rename Module"));
                                            QCOMPARE(d->textValue(), QStringLiteral("TCP01"));
                                            d->setTextValue("Link ");
                                            static_cast<QDialog *>(d)->accept();
                                        }));
        QVERIFY(item(project, "Link ").isValid());
    }

    void generateRuntimeNeedsAPackedProject()
    {
        Quorvane w;
        QVERIFY(w.appControl("open," + demo()));
        Boxes boxes;
        action(w, "actionGenerateRuntime")->trigger();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.at(0).title, QStringLiteral("Generate Runtime Warning"));
        QVERIFY(boxes.shown.at(0).text.startsWith("Generating a Runtime .exe is only possible for compressed projects"));
    }
};

ZOR_TEST(TestWindowProject)
#include "tst_windowproject.moc"
