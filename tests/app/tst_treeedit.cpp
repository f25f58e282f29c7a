// Editing the project tree from the main window as a user does: labels made
// unique on paste, the paste rules by depth, rename asking again, every edit
// counted as an unsaved change that New, Open and exit ask about, and Save
// As naming a project opened from a template.
#include "windowtesting.h"
#include "zorapplservices.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"
#include "zortestzip.h"

#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QtTest>

using namespace WindowTesting;

class TestTreeEdit : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;
    QScopedPointer<QTemporaryDir> dir;

    QString demoWithNode()
    {
        QByteArray text = demoProject();
        text.replace("<module type=\"cansender\"/>",
                     "<module type=\"cansender\"/><module type=\"nodeconfig\" label=\"Node01\"/>");
        const QString file = dir->filePath("Edit.zorpro");
        writeFile(file, text);
        return file;
    }
    static QAction *action(Quorvane &w, const char *name) { return w.findChild<QAction *>(name); }
    static QStringList childLabels(QuorvaneProject *p, const QModelIndex &parent)
    {
        QStringList labels;
        for (int row = 0; row < p->model()->rowCount(parent); ++row)
            labels << p->model()->index(row, 0, parent).data().toString();
        return labels;
    }
    // Runs a tree command on the element as the context menu would.
    static void run(Quorvane &w, const char *actionName, const QModelIndex &context)
    {
        w.setContextIndex(context);
        action(w, actionName)->trigger();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        dir.reset(new QTemporaryDir);
        QVERIFY(ZorApplServices::initAppGlobals());
    }
    void init() { ZorTest::TempSettings::set("GuiMode", 0); }
    void cleanup() { QGuiApplication::clipboard()->clear(); }

    void pastedModulesGetUniqueLabels()
    {
        Quorvane w;
        QVERIFY(w.appControl("open," + demoWithNode()));
        QuorvaneProject *p = w.project();
        const QModelIndex can1 = item(p, "CAN1");

        run(w, "actionProjectTreeCopy", item(p, "Node01", can1));
        QVERIFY(QGuiApplication::clipboard()->text().contains("moduleDepth=\"2\""));
        run(w, "actionProjectTreePaste", item(p, "CAN1"));
        run(w, "actionProjectTreePaste", item(p, "CAN1"));
        QCOMPARE(childLabels(p, item(p, "CAN1")),
                 QStringList({"CAN Monitor", "CAN Sender", "Node01", "Node02", "Node03"}));
        // On another node it lands beside that node.
        run(w, "actionProjectTreePaste", item(p, "Node02", item(p, "CAN1")));
        QCOMPARE(childLabels(p, item(p, "CAN1")).last(), QStringLiteral("Node04"));

        run(w, "actionProjectTreeCopy", item(p, "Scope"));
        run(w, "actionProjectTreePaste", item(p, "Scope"));
        run(w, "actionProjectTreePaste", QModelIndex());
        QCOMPARE(childLabels(p, p->model()->index(0, 0)),
                 QStringList({"CAN1", "Scope", "TCP01", "Scope 1", "Scope 2"}));
    }

    void pasteFollowsTheDepthRules()
    {
        Quorvane w;
        w.show();
        QVERIFY(w.appControl("open," + demoWithNode()));
        QuorvaneProject *p = w.project();
        const QStringList before = treeLines(p->model());

        // An interface (depth 1) does not go below another module.
        run(w, "actionProjectTreeCopy", item(p, "CAN1"));
        run(w, "actionProjectTreePaste", item(p, "Node01", item(p, "CAN1")));
        // A node (depth 2) needs a module to go under.
        run(w, "actionProjectTreeCopy", item(p, "Node01", item(p, "CAN1")));
        run(w, "actionProjectTreePaste", p->model()->index(0, 0));
        run(w, "actionProjectTreePaste", QModelIndex());
        // What is no module element is no paste.
        QGuiApplication::clipboard()->setText("<panel label=\"x\"/>");
        run(w, "actionProjectTreePaste", item(p, "CAN1"));
        QGuiApplication::clipboard()->setText("not xml");
        run(w, "actionProjectTreePaste", item(p, "CAN1"));
        QCOMPARE(treeLines(p->model()), before);
        QVERIFY(!p->isModified());

        // An interface with its children pasted at the top: all renamed
        // where needed, the children keep theirs.
        run(w, "actionProjectTreeCopy", item(p, "CAN1"));
        run(w, "actionProjectTreePaste", item(p, "TCP01"));
        QCOMPARE(treeLines(p->model()).mid(before.size()),
                 QStringList({"  CAN2", "    CAN Monitor", "    CAN Sender", "    Node01"}));
    }

    void renameAsksAgainForABlankName()
    {
        Quorvane w;
        QVERIFY(w.appControl("open," + demoWithNode()));
        QuorvaneProject *p = w.project();
        QStringList answers{"   ", "Link"};
        QStringList prefilled;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *d = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            if (!d || !d->isVisible() || answers.isEmpty() || d->property("answered").toBool())
                return;
            d->setProperty("answered", true);
            QCOMPARE(d->windowTitle(), QStringLiteral("Rename Module"));
            QCOMPARE(d->labelText(), QStringLiteral("Enter a new name for this module"));
            prefilled << d->textValue();
            d->setTextValue(answers.takeFirst());
            d->accept();
        });
        poll.start(5);
        run(w, "actionProjectTreeRename", item(p, "TCP01"));
        QCOMPARE(prefilled.size(), 2);
        QCOMPARE(prefilled.first(), QStringLiteral("TCP01"));
        QVERIFY(item(p, "Link").isValid());
        QVERIFY(p->isModified());
    }

    // Every edit of the tree is a change the user is asked about before the
    // project is left; copying is none.
    void everyTreeEditIsAnUnsavedChange_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<bool>("modified");
        QTest::newRow("copy") << "copy" << false;
        QTest::newRow("cut") << "cut" << true;
        QTest::newRow("paste") << "paste" << true;
        QTest::newRow("delete") << "delete" << true;
        QTest::newRow("delete, answered No") << "keep" << false;
        QTest::newRow("rename") << "rename" << true;
        QTest::newRow("rename to the same") << "same" << false;
    }
    void everyTreeEditIsAnUnsavedChange()
    {
        QFETCH(QString, edit);
        QFETCH(bool, modified);
        Quorvane w;
        w.show();
        const QString file = demoWithNode();
        QVERIFY(w.appControl("open," + file));
        QuorvaneProject *p = w.project();
        QVERIFY(!p->isModified());
        const QModelIndex scope = item(p, "Scope");
        if (edit == "copy") {
            run(w, "actionProjectTreeCopy", scope);
        } else if (edit == "cut") {
            run(w, "actionProjectTreeCut", scope);
        } else if (edit == "paste") {
            QGuiApplication::clipboard()->setText("<module type=\"datalog\" label=\"Scope\" moduleDepth=\"1\"/>");
            run(w, "actionProjectTreePaste", scope);
        } else if (edit == "delete" || edit == "keep") {
            Boxes boxes(edit == "delete" ? QMessageBox::Yes : QMessageBox::No);
            run(w, "actionProjectTreeDelete", scope);
            QCOMPARE(boxes.shown.size(), 1);
        } else {
            QVERIFY(withModal<QInputDialog>(
                [&] { run(w, "actionProjectTreeRename", scope); },
                [&](QInputDialog *d) {
                    d->setTextValue(edit == "rename" ? "Scope 2" : "Scope");
                    d->accept();
                }));
        }
        QCOMPARE(p->isModified(), modified);

        // New, Open and exit ask exactly when there is something unsaved;
        // Cancel keeps the project and the window.
        Boxes boxes(QMessageBox::Cancel);
        if (modified) {
            QVERIFY(!w.newProject(QString()));
            QVERIFY(!w.openProject(file));
        }
        w.close();
        QCOMPARE(boxes.shown.size(), modified ? 3 : 0);
        if (modified) {
            for (const auto &q : boxes.shown) {
                QCOMPARE(q.title, QStringLiteral("Quorvane project"));
                QCOMPARE(q.text, QStringLiteral("This project has been modified.\nDo you want to save your changes?"));
                QCOMPARE(q.buttons, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
            }
            QCOMPARE(p->projectFile(), file);
            QVERIFY(w.isVisible());
            // Save writes the edit and lets the window close.
            boxes.answer = QMessageBox::Save;
            QVERIFY(w.close());
            QVERIFY(!w.isVisible());
            const QByteArray tree = readFile(file).left(readFile(file).indexOf("<templates>"));
            QCOMPARE(tree.contains("label=\"Scope\""), edit == "paste");
            QCOMPARE(tree.contains("label=\"Scope 1\""), edit == "paste");
            QCOMPARE(tree.contains("label=\"Scope 2\""), edit == "rename");
        }
    }

    void theStackLabelFollowsTheTilesOnly_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("label");
        QTest::newRow("tiles") << 1 << "CAN1 > Node01";
        QTest::newRow("no tiles") << 4 << "";   // left as it was
    }
    void theStackLabelFollowsTheTilesOnly()
    {
        QFETCH(int, mode);
        QFETCH(QString, label);
        ZorTest::TempSettings::set("GuiMode", mode);
        Quorvane w;
        w.show();
        QVERIFY(w.appControl("open," + demoWithNode()));
        QCOMPARE(w.findChild<QLabel *>("labelStackedPanels")->text(),
                 QString(mode == 1 ? "Project Home" : ""));
        QVERIFY(w.appControl("panel,CAN1 > Node01"));
        auto *stack = w.findChild<QStackedWidget *>("stackedWidget");
        QCOMPARE(w.pages().value(stack->currentIndex()).data().toString(), QStringLiteral("Node01"));
        QCOMPARE(w.findChild<QLabel *>("labelStackedPanels")->text(), label);
        if (mode != 1)
            return;
        // The tiles scroll by dragging; a click on a tile still shows its page.
        auto *tiles = w.findChild<QListWidget *>("listWidgetTiles");
        QCOMPARE(tiles->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QListWidgetItem *scope = tiles->findItems("Scope", Qt::MatchExactly).value(0);
        QVERIFY(scope);
        QTest::mouseClick(tiles->viewport(), Qt::LeftButton, Qt::NoModifier,
                          tiles->visualItemRect(scope).center());
        QTRY_COMPARE(w.findChild<QLabel *>("labelStackedPanels")->text(), QStringLiteral("Scope"));
    }

    void saveAsOfATemplateOffersAProject()
    {
        const QString tpl = dir->filePath("Demo template.zortpl");
        QVERIFY(writeFile(tpl, ZorTest::storedZip({{"Demo template.zorpro", demoProject()}})));
        Quorvane w;
        QVERIFY(w.appControl("open," + tpl));
        QVERIFY(w.project()->isTemplate());
        const QString expected = w.lastFolder() + "/Demo project.zorzip";
        QVERIFY(withModal<QFileDialog>([&] { action(w, "actionSaveAs")->trigger(); },
                                       [&](QFileDialog *d) {
                                           QCOMPARE(d->windowTitle(), QStringLiteral("Save Project As"));
                                           QCOMPARE(d->selectedFiles().value(0), expected);
                                           QCOMPARE(d->nameFilters(),
                                                    QStringList({"Quorvane Compressed Project (*.zorzip)",
                                                                 "Quorvane Uncompressed Project (*.zorpro)"}));
                                           d->reject();
                                       }));
        // Save of a template is Save As.
        QVERIFY(withModal<QFileDialog>([&] { action(w, "actionSave")->trigger(); },
                                       [&](QFileDialog *d) {
                                           QCOMPARE(d->selectedFiles().value(0), expected);
                                           d->reject();
                                       }));
    }
};

ZOR_TEST(TestTreeEdit)
#include "tst_treeedit.moc"
