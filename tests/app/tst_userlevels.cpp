// User levels in the main window: the menu and tool button, the password
// question before a level is raised, and tree rows, docks and tiles
// following the level. The shipped configuration names the levels
// Operator, Engineer and Expert; raising to Engineer needs "engineer", to
// Expert "expert".
#include "windowtesting.h"
#include "zorapplservices.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QInputDialog>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

using namespace WindowTesting;

namespace {

// Answers every text input dialog that comes up, one answer each in turn: a
// text is entered and confirmed, a null text cancels. Records what each
// dialog showed.
class InputAnswers : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString label;
        QLineEdit::EchoMode echo;
        Qt::WindowFlags flags;
    };
    explicit InputAnswers(const QStringList &answers) : m_answers(answers)
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            if (!dialog || dialog == m_last)
                return;
            m_last = dialog;
            seen.append({dialog->windowTitle(), dialog->labelText(), dialog->textEchoMode(),
                         dialog->windowFlags()});
            if (m_answers.isEmpty() || m_answers.first().isNull()) {
                if (!m_answers.isEmpty())
                    m_answers.removeFirst();
                dialog->reject();
                return;
            }
            dialog->setTextValue(m_answers.takeFirst());
            dialog->accept();
        });
        m_poll.start(5);
    }
    QList<Seen> seen;

private:
    QStringList m_answers;
    QTimer m_poll;
    QPointer<QInputDialog> m_last;
};

} // namespace

class TestUserLevels : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;
    QScopedPointer<QTemporaryDir> dir;

    static QAction *levelAction(Quorvane &w, int level) { return w.userLevelMenu()->actions().at(level); }
    QString project(const QByteArray &text = demoProject())
    {
        const QString file = dir->filePath("Levels.zorpro");
        writeFile(file, text);
        return file;
    }
    // The demo with a node below CAN1 that needs level 2.
    QString projectWithExpertNode()
    {
        QByteArray text = demoProject();
        text.replace("<module type=\"cansender\"/>",
                     "<module type=\"cansender\"/><module type=\"nodeconfig\" label=\"Node01\" "
                     "userLevel=\"2\"/>");
        return project(text);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        dir.reset(new QTemporaryDir);
        QVERIFY(ZorApplServices::initAppGlobals());
        QCOMPARE(ZorApplServices::appGlobal("UserLevelNames"), QStringLiteral("Operator,Engineer,Expert"));
    }
    void init() { ZorTest::TempSettings::set("GuiMode", 0); }

    void menuAndToolButton()
    {
        Quorvane w;
        QCOMPARE(w.highestUserLevel(), 2);
        QVERIFY(w.userLevelMenu());
        QCOMPARE(w.userLevelMenu()->title(), QStringLiteral("&User Level"));
        QStringList texts;
        for (QAction *a : w.userLevelMenu()->actions()) {
            texts << a->text();
            QVERIFY(a->isCheckable());
            QVERIFY(!a->icon().isNull());
        }
        QCOMPARE(texts, QStringList({"&0 - Operator", "&1 - Engineer", "&2 - Expert"}));
        QVERIFY(levelAction(w, 1)->isChecked());
        QCOMPARE(levelAction(w, 1)->actionGroup()->checkedAction(), levelAction(w, 1));

        QToolButton *button = w.userLevelButton();
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("&User Level"));
        QCOMPARE(button->popupMode(), QToolButton::MenuButtonPopup);
        QCOMPARE(button->menu(), w.userLevelMenu());
        QCOMPARE(button->toolTip(),
                 QStringLiteral("Use arrow to select user level, click to go to next available"));

        // Out-of-range levels are clamped.
        w.changeUserLevel(7);
        QCOMPARE(w.project()->userLevel(), 2);
        QVERIFY(w.windowTitle().startsWith("Expert - "));
        QVERIFY(levelAction(w, 2)->isChecked());
        w.changeUserLevel(-4);
        QCOMPARE(w.project()->userLevel(), 0);
        QVERIFY(w.windowTitle().startsWith("Operator - "));
    }

    void touchModeShowsTheLevelsInTheToolBar()
    {
        ZorTest::TempSettings::set("GuiMode", 2);
        Quorvane w;
        QVERIFY(!w.userLevelButton());
        auto *bar = w.findChild<QToolBar *>("mainToolBar");
        const QList<QAction *> actions = bar->actions();
        const int stop = actions.indexOf(w.findChild<QAction *>("actionStopDrives"));
        QCOMPARE(actions.mid(stop - 3, 3), w.userLevelMenu()->actions());
    }

    void raisingAsksForThePassword()
    {
        Quorvane w;
        Boxes boxes;
        {
            // Wrong, empty, then right in other letter case and with blanks.
            InputAnswers answers({"wrong", "  ", " EXPERT "});
            levelAction(w, 2)->trigger();
            QCOMPARE(answers.seen.size(), 3);
            for (const auto &seen : answers.seen) {
                QCOMPARE(seen.title, QStringLiteral("New User Access Level"));
                QCOMPARE(seen.label,
                         QStringLiteral("Please enter required password for access level '&2 - Expert'"));
                QCOMPARE(seen.echo, QLineEdit::Password);
                QVERIFY(!(seen.flags & Qt::WindowContextHelpButtonHint));
            }
        }
        // Only the wrong password was told off; the empty entry asked again.
        QCOMPARE(boxes.texts(), QStringList({"Incorrect password. Please see the manual (use Help "
                                             "button or F1) about User Levels."}));
        QCOMPARE(boxes.shown.at(0).title, QStringLiteral("New User Access Level"));
        QCOMPARE(w.project()->userLevel(), 2);
        QVERIFY(w.windowTitle().startsWith("Expert - "));

        // Lowering never asks; raising two levels asks for the target's
        // password only; at the top the tool button does nothing.
        {
            InputAnswers answers({});
            levelAction(w, 0)->trigger();
            QCOMPARE(w.project()->userLevel(), 0);
            QVERIFY(answers.seen.isEmpty());
        }
        {
            InputAnswers answers({"engineer", "expert"});
            levelAction(w, 2)->trigger();
            QCOMPARE(answers.seen.size(), 2);
            QCOMPARE(w.project()->userLevel(), 2);
            QCOMPARE(boxes.shown.size(), 2);   // "engineer" is not Expert's password
        }
        {
            InputAnswers answers({});
            w.userLevelButton()->click();
            QCOMPARE(w.project()->userLevel(), 2);
            QVERIFY(answers.seen.isEmpty());
        }
    }

    void cancelKeepsTheLevel()
    {
        Quorvane w;
        InputAnswers answers({QString()});
        w.userLevelButton()->click();   // one level up: Expert
        QCOMPARE(answers.seen.size(), 1);
        QVERIFY(answers.seen.at(0).label.endsWith("'&2 - Expert'"));
        QCOMPARE(w.project()->userLevel(), 1);
        // The menu shows the level in force, not the one chosen.
        QVERIFY(levelAction(w, 1)->isChecked());
        QVERIFY(!levelAction(w, 2)->isChecked());
    }

    void treeRowsAndDocksFollowTheLevel()
    {
        Quorvane w;
        w.show();
        QVERIFY(w.appControl("open," + projectWithExpertNode()));
        QuorvaneProject *p = w.project();
        const QModelIndex node = item(p, "Node01", item(p, "CAN1"));
        QVERIFY(node.isValid());
        QVERIFY(!(p->model()->flags(node) & Qt::ItemIsEnabled));
        QVERIFY(node.data(Qt::ToolTipRole).toString().endsWith(" - Change user level to access this function!"));
        w.newDock(node);
        QVERIFY(!w.docks().value(QPersistentModelIndex(node)));

        w.changeUserLevel(2);
        QVERIFY(p->model()->flags(node) & Qt::ItemIsEnabled);
        w.newDock(node);
        QPointer<QDockWidget> dock = w.docks().value(QPersistentModelIndex(node));
        QVERIFY(dock && dock->isVisible());

        // Lowering hides the dock again, without a question.
        InputAnswers answers({});
        levelAction(w, 1)->trigger();
        QVERIFY(answers.seen.isEmpty());
        QVERIFY(dock && !dock->isVisible());
    }

    void tilesFollowTheLevel()
    {
        ZorTest::TempSettings::set("GuiMode", 1);
        Quorvane w;
        w.show();
        QVERIFY(w.appControl("open," + projectWithExpertNode()));
        auto *tiles = w.findChild<QListWidget *>("listWidgetTiles");
        auto tileTexts = [tiles] {
            QStringList texts;
            for (int i = 0; i < tiles->count(); ++i)
                texts << tiles->item(i)->text();
            return texts;
        };
        QVERIFY(!tileTexts().contains("CAN1\n> Node01"));
        {
            InputAnswers answers({"expert"});
            w.userLevelButton()->click();
        }
        QCOMPARE(w.project()->userLevel(), 2);
        QVERIFY(tileTexts().contains("CAN1\n> Node01"));
        w.changeUserLevel(0);
        QVERIFY(!tileTexts().contains("CAN1\n> Node01"));
    }
};

ZOR_TEST(TestUserLevels)
#include "tst_userlevels.moc"
