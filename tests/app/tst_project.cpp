#include "quorvaneproject.h"
#include "startstopmodule.h"
#include "zorcontentdefault.h"
#include "zordebuglog.h"
#include "zordommodel.h"
#include "zormodule.h"
#include "zormoduleshost.h"
#include "zorquestionbox.h"
#include "zortempsettings.h"
#include "zortest.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

// A panel that stands where a slave of its module stands.
class MasterSidePanel : public ZorPanel
{
    Q_OBJECT
public:
    using ZorPanel::ZorPanel;
    bool usesSlavePort() override { return false; }
    QList<ZorMessage> received;
public slots:
    void processIn(const ZorMessage &msg) override { received << msg; }
};

ZorModule *newStartStop(QObject *parent) { return new StartStopModule(parent); }
// A module kind whose creation outlasts a short host time-out.
ZorModule *newSlowStartStop(QObject *parent)
{
    QThread::msleep(150);
    return new StartStopModule(parent);
}
ZorPanel *newDefaultPanel(QWidget *parent) { return new ZorContentDefault(parent); }
ZorPanel *newMasterSide(QWidget *parent) { return new MasterSidePanel(parent); }

const char *const projectText = R"(<QuorvaneProject>
 <module type="project" label="Home">
  <module type="startstop" label="Stick"><properties><Port>COM4</Port></properties></module>
  <module type="startstop" label="Other" panelVisible="1">
   <module type="setuppanel" label="Setup" panelVisible="1"/>
   <module type="mastersidepanel" label="Monitor"/>
  </module>
  <module type="datalog_plot" label="Plot" userLevel="2"><docs><PlotConfigurationDoc><PlotConfiguration title="P"><Curves/></PlotConfiguration></PlotConfigurationDoc></docs></module>
  <module label="Untyped"/>
  <module type="nosuchtype" label="Stranger"/>
 </module>
 <templates>
  <module type="drive_canopen" label="Drive01"/>
 </templates>
</QuorvaneProject>)";

QDomDocument projectDocument()
{
    QDomDocument doc;
    doc.setContent(QString::fromUtf8(projectText));
    return doc;
}

} // namespace

class TestProject : public QObject
{
    Q_OBJECT

    QModelIndex item(const QString &label, const QModelIndex &parent = QModelIndex()) const
    {
        const QModelIndex scope = parent.isValid() ? parent : project->model()->index(0, 0);
        for (int row = 0; row < project->model()->rowCount(scope); ++row) {
            const QModelIndex child = project->model()->index(row, 0, scope);
            if (child.data().toString() == label)
                return child;
        }
        return QModelIndex();
    }
    StartStopModule *module(const QString &label) const
    {
        return dynamic_cast<StartStopModule *>(project->moduleOf(item(label)));
    }
    QPushButton *button(ZorPanel *panel, const char *name) const
    {
        return panel->findChild<QPushButton *>(name);
    }

private slots:
    void initTestCase()
    {
        settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
    }
    void cleanupTestCase() { settings.reset(); }

    void init()
    {
        project = new QuorvaneProject;
        QVERIFY(project->registerModuleCreator("startstop", newStartStop));
        QVERIFY(project->registerPanelCreator("startstop", newDefaultPanel));
        QVERIFY(project->registerPanelCreator("mastersidepanel", newMasterSide));
        QVERIFY(project->registerPanelCreator("setuppanel", newDefaultPanel));
        QVERIFY(project->loadDocument(projectDocument()));
    }
    void cleanup()
    {
        delete project;
        ZorQuestionBox::setHook(nullptr);
    }

    void modulesOnlyForKnownKindsAtDepthOne()
    {
        QCOMPARE(project->modules().size(), 2);
        QVERIFY(module("Stick"));
        QVERIFY(module("Other"));
        QCOMPARE(module("Stick")->type(), QStringLiteral("startstop"));
        QVERIFY(!project->moduleOf(item("Plot")));
        QVERIFY(!project->moduleOf(item("Setup", item("Other"))));
        QCOMPARE(module("Stick")->property("Port"), QStringLiteral("COM4"));
        QVERIFY(!project->registerModuleCreator("startstop", newStartStop));
        QVERIFY(project->moduleCreators().contains("canusb"));
    }

    void panelTalksToItsModuleOnTheSlaveSide()
    {
        ZorPanel *panel = project->createPanel(item("Stick"));
        auto *defaultPanel = qobject_cast<ZorContentDefault *>(panel);
        QVERIFY(defaultPanel);
        QCOMPARE(project->openPanels().size(), 1);
        QTRY_VERIFY(defaultPanel->editorOf("Port"));
        QCOMPARE(defaultPanel->editorOf("Port")->text(), QStringLiteral("COM4"));

        button(panel, "pushButtonStart")->click();
        QTRY_COMPARE(module("Stick")->status(), 1);
        QTRY_VERIFY(!button(panel, "pushButtonStart")->isEnabled());
        QCOMPARE(module("Other")->status(), 0);
        button(panel, "pushButtonStop")->click();
        QTRY_COMPARE(module("Stick")->status(), 0);
    }

    void deeperElementsTalkToTheirParentsModule()
    {
        auto *setup = qobject_cast<ZorContentDefault *>(project->createPanel(item("Setup", item("Other"))));
        QVERIFY(setup);
        QTRY_VERIFY(setup->editorOf("UpdateInterval [msec]"));
        button(setup, "pushButtonStart")->click();
        QTRY_COMPARE(module("Other")->status(), 1);
        QCOMPARE(module("Stick")->status(), 0);
    }

    void masterSidePanelSeesWhatGoesToTheSlaves()
    {
        auto *panel = qobject_cast<MasterSidePanel *>(project->createPanel(item("Monitor", item("Other"))));
        QVERIFY(panel);
        // Its binding requests reach masterIn and come back on masterOut.
        QTRY_VERIFY(!panel->received.isEmpty());
        QCOMPARE(panel->received.at(0).msgType(), int(KM_INFOTEXT));
        QCOMPARE(panel->received.at(0).msgState(), int(KS_ANSWER));

        // Once the module's machine runs (it has answered a start), what it
        // sends towards its slaves reaches the panel.
        QMetaObject::invokeMethod(module("Other"), "slaveIn", Qt::QueuedConnection,
                                  Q_ARG(ZorMessage, ZorMessage(KM_START, KS_REQUEST)));
        QTRY_COMPARE(module("Other")->status(), 1);
        module("Other")->postOut(ZorModule::ToSlaves, ZorMessage(KM_CAN_FRAME, KS_INFO));
        QTRY_VERIFY(std::any_of(panel->received.cbegin(), panel->received.cend(),
                                [](const ZorMessage &m) { return m.msgType() == KM_CAN_FRAME; }));
    }

    void panelsForRootAndUnmodularElements()
    {
        // The project page: set up and recorded, wired to nothing.
        ZorPanel *home = project->createPanel(project->model()->index(0, 0));
        QVERIFY(home);
        QCOMPARE(home->panelName(), QStringLiteral("Home"));
        ZorPanel *plot = project->createPanel(item("Plot"));
        QVERIFY(plot);
        QCOMPARE(project->openPanels().size(), 2);

        QVERIFY(!project->createPanel(item("Untyped")));
        QVERIFY(!project->createPanel(item("Stranger")));
        QVERIFY(!project->createPanel(QModelIndex()));
    }

    void panelsFollowTheUserLevel()
    {
        ZorPanel *panel = project->createPanel(item("Plot"));
        QCOMPARE(panel->userLevel(), 0);
        QVERIFY(!project->hasAccess(item("Plot")));
        QSignalSpy levels(project, &QuorvaneProject::userLevelChanged);
        project->setUserLevel(2);
        project->setUserLevel(2);
        QCOMPARE(levels.count(), 1);
        QCOMPARE(panel->userLevel(), 2);
        QVERIFY(project->hasAccess(item("Plot")));
    }

    void droppedTextReachesTheOpenPanelOnly()
    {
        project->textDropped(item("Plot"), "ignored"); // no panel: nothing happens
        auto *panel = qobject_cast<MasterSidePanel *>(project->createPanel(item("Monitor", item("Other"))));
        QVERIFY(panel);
        panel->received.clear();
        project->textDropped(item("Monitor", item("Other")), "001.6040h.00h");
        QCOMPARE(panel->received.size(), 1);
        QCOMPARE(panel->received.at(0).msgType(), int(KM_DROP_DATA));
        QCOMPARE(panel->received.at(0).data().toString(), QStringLiteral("001.6040h.00h"));
    }

    void broadcastReachesEveryModule()
    {
        project->broadcast(ZorMessage(KM_START, KS_REQUEST));
        QTRY_COMPARE(module("Stick")->status(), 1);
        QTRY_COMPARE(module("Other")->status(), 1);
    }

    void namesAndVisiblePanels()
    {
        QCOMPARE(QuorvaneProject::displayName(item("Setup", item("Other"))),
                 QStringLiteral("Other - Setup"));
        QCOMPARE(QuorvaneProject::displayName(item("Stick")), QStringLiteral("Stick"));
        QCOMPARE(QuorvaneProject::moduleType(item("Plot")), QStringLiteral("datalog_plot"));

        const QList<QPersistentModelIndex> visible = project->visiblePanelIndexes(false);
        QCOMPARE(visible.size(), 2);
        QCOMPARE(visible.at(0).data().toString(), QStringLiteral("Other"));
        QCOMPARE(visible.at(1).data().toString(), QStringLiteral("Setup"));
        const QList<QPersistentModelIndex> all = project->visiblePanelIndexes(true);
        QCOMPARE(all.size(), 8);
        QCOMPARE(all.at(0).data().toString(), QStringLiteral("Home"));
        QCOMPARE(all.at(3).data().toString(), QStringLiteral("Setup"));
    }

    void structuralChangesRebuildTheModules()
    {
        QDomDocument source;
        source.setContent(QStringLiteral("<module type=\"startstop\"/>"));
        QString label;
        QVERIFY(project->addModule("startstop", "Stick", QString(), QModelIndex(),
                                   QStringLiteral("<properties><Port>COM8</Port></properties>"),
                                   source.documentElement(), &label));
        QCOMPARE(label, QStringLiteral("Stick 1"));
        QCOMPARE(project->modules().size(), 3);
        QCOMPARE(module("Stick 1")->property("Port"), QStringLiteral("COM8"));

        QPointer<ZorPanel> panel = project->createPanel(item("Stick 1"));
        QVERIFY(panel);
        QVERIFY(project->removeModule("", "", item("Stick 1")));
        QCOMPARE(project->modules().size(), 2);
        QVERIFY(project->openPanels().isEmpty());
        QTRY_VERIFY(panel.isNull()); // the panel of a removed element goes

        QString renamed;
        QVERIFY(project->renameModule("Joystick", item("Stick"), &renamed));
        QCOMPARE(renamed, QStringLiteral("Joystick"));
        QVERIFY(module("Joystick")); // the module stays with its element
        QCOMPARE(module("Joystick")->label(), QStringLiteral("Joystick"));
    }

    void addingByTypeGivesUniqueLabels()
    {
        QString first, second;
        QVERIFY(project->addModule("drive_canopen", QString(), QString(), QModelIndex(), QString(),
                                   QDomElement(), &first));
        QVERIFY(project->addModule("drive_canopen", QString(), QString(), QModelIndex(), QString(),
                                   QDomElement(), &second));
        QCOMPARE(first, QStringLiteral("Drive01"));
        QCOMPARE(second, QStringLiteral("Drive02"));

        const int rows = project->model()->rowCount(project->model()->index(0, 0));
        QString none = "x";
        QVERIFY(!project->addModule("xypos", QString(), QString(), QModelIndex(), QString(),
                                    QDomElement(), &none));
        QVERIFY(none.isEmpty());
        QCOMPARE(project->model()->rowCount(project->model()->index(0, 0)), rows);
    }

    // Every change the user could lose sets the flag; loading, saving and
    // closing clear it.
    void modifiedFlag_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("add") << "add";
        QTest::newRow("paste") << "paste";
        QTest::newRow("remove") << "remove";
        QTest::newRow("cut") << "cut";
        QTest::newRow("rename") << "rename";
        QTest::newRow("property") << "property";
        QTest::newRow("document") << "document";
        QTest::newRow("visibility") << "visibility";
    }
    void modifiedFlag()
    {
        QFETCH(QString, change);
        QVERIFY(!project->isModified());
        ZorPanel *panel = project->createPanel(item("Plot"));
        QVERIFY(panel);
        QVERIFY(panel->savePanelVisibility()); // records "0" the first time
        project->markSaved();
        QVERIFY(!project->isModified());
        QSignalSpy flag(project, &QuorvaneProject::modifiedChanged);

        if (change == "add") {
            QVERIFY(project->addModule("drive_canopen"));
        } else if (change == "paste") {
            QDomDocument clip;
            clip.setContent(QStringLiteral("<module type=\"datalog_plot\" label=\"Plot\" moduleDepth=\"1\"/>"));
            QVERIFY(project->addModule(QString(), QString(), QString(), QModelIndex(), QString(),
                                       clip.documentElement()));
        } else if (change == "remove") {
            QVERIFY(project->removeModule("Plot", QString(), QModelIndex()));
        } else if (change == "cut") {
            QVERIFY(project->removeModule(QString(), QString(), item("Stick")));
        } else if (change == "rename") {
            QVERIFY(project->renameModule("Scope", item("Plot")));
        } else if (change == "property") {
            project->model()->writeModuleProperty(item("Plot"), "Rate", "10");
        } else if (change == "document") {
            QDomDocument doc;
            doc.setContent(QStringLiteral("<plot/>"));
            QVERIFY(panel->saveDoc(doc, "PlotConfigurationDoc"));
        } else if (change == "visibility") {
            panel->show();
            QVERIFY(panel->savePanelVisibility());
        }
        QVERIFY(project->isModified());
        QCOMPARE(flag.count(), 1);

        QVERIFY(project->loadDocument(projectDocument()));
        QVERIFY(!project->isModified());
    }

    void unchangedWritesLeaveTheFlag()
    {
        project->model()->writeModuleProperty(item("Stick"), "Port", "COM4");
        project->model()->writeModuleProperty(item("Stick"), "_ReadOnly", "Port");
        ZorPanel *panel = project->createPanel(item("Plot"));
        QVERIFY(panel->savePanelVisibility());
        project->markSaved();
        QVERIFY(panel->savePanelVisibility());
        QVERIFY(!project->isModified());

        project->addModule("drive_canopen");
        QVERIFY(project->isModified());
        project->close();
        QVERIFY(!project->isModified());
    }

    void askSaveChanges_data()
    {
        QTest::addColumn<bool>("modified");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("saves");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("saveCalled");
        QTest::addColumn<bool>("proceeds");
        QTest::newRow("unmodified") << false << int(QMessageBox::Cancel) << true << false << false
                                    << true;
        QTest::newRow("save") << true << int(QMessageBox::Save) << true << true << true << true;
        QTest::newRow("save fails") << true << int(QMessageBox::Save) << false << true << true
                                    << false;
        QTest::newRow("discard") << true << int(QMessageBox::Discard) << true << true << false
                                 << true;
        QTest::newRow("cancel") << true << int(QMessageBox::Cancel) << true << true << false
                                << false;
        QTest::newRow("box closed") << true << int(QMessageBox::NoButton) << true << true << false
                                    << false;
    }
    void askSaveChanges()
    {
        QFETCH(bool, modified);
        QFETCH(int, answer);
        QFETCH(bool, saves);
        QFETCH(bool, asked);
        QFETCH(bool, saveCalled);
        QFETCH(bool, proceeds);
        project->setModified(modified);
        QList<ZorQuestionBox::Question> questions;
        ZorQuestionBox::setHook([&](const ZorQuestionBox::Question &q) {
            questions << q;
            return QMessageBox::StandardButton(answer);
        });
        bool called = false;
        const bool result = project->askSaveChanges(nullptr, [&] {
            called = true;
            return saves;
        });
        QCOMPARE(result, proceeds);
        QCOMPARE(called, saveCalled);
        QCOMPARE(questions.size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(questions.at(0).title, QStringLiteral("Quorvane project"));
            QCOMPARE(questions.at(0).text,
                     QStringLiteral("This project has been modified.\nDo you want to save your changes?"));
            QCOMPARE(questions.at(0).buttons,
                     QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        }
    }

    // The GUI thread never reads the module map while the host still fills
    // it: an action beyond the time-out is reported and waited for.
    void slowHostActionIsWaitedFor()
    {
        QVERIFY(project->registerModuleCreator("slow", newSlowStartStop));
        project->modulesHost()->setActionTimeout(40);
        QDomDocument doc;
        doc.setContent(QStringLiteral("<QuorvaneProject><module type=\"project\">"
                                      "<module type=\"slow\" label=\"A\"/><module type=\"slow\" label=\"B\"/>"
                                      "</module></QuorvaneProject>"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("has not finished action 1 in time; waiting for it"));
        QVERIFY(project->loadDocument(doc));
        const QuorvaneProject::ModuleMap modules = project->modules();
        QCOMPARE(modules.size(), 2);
        QVERIFY(module("A") && module("B"));
        project->modulesHost()->setActionTimeout(20000);
        project->close();
        QVERIFY(project->modules().isEmpty());
    }

    // Closing the project interrupts a script that never calls a scripting
    // function.
    void closingStopsABusyScript()
    {
        QDomDocument doc;
        doc.setContent(QStringLiteral("<QuorvaneProject><module type=\"project\">"
                                      "<module type=\"automation\" label=\"Auto\"><properties>"
                                      "<Script>while True: pass</Script></properties></module>"
                                      "</module></QuorvaneProject>"));
        QVERIFY(project->loadDocument(doc));
        ZorModule *automation = project->moduleOf(item("Auto"));
        QVERIFY(automation);
        project->broadcast(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, "1"));
        QTRY_COMPARE(automation->status(), 1);
        // Without the interrupt the close would wait for ever.
        project->close();
        QVERIFY(project->modules().isEmpty());
    }

    void closeLeavesAnEmptyProjectEveryTime()
    {
        ZorPanel *panel = project->createPanel(item("Stick"));
        QPointer<ZorPanel> guard(panel);
        project->setPaths("/tmp/a.zorpro", QString());
        for (int round = 0; round < 2; ++round) {
            QSignalSpy prepare(project, &QuorvaneProject::prepareToClose);
            QSignalSpy paths(project, &QuorvaneProject::projectPathChanged);
            QSignalSpy changed(project, &QuorvaneProject::modelChanged);
            project->close();
            QCOMPARE(prepare.count(), 1);
            QCOMPARE(paths.count(), 1);
            QCOMPARE(changed.count(), 1);
            QVERIFY(project->modules().isEmpty());
            QVERIFY(project->openPanels().isEmpty());
            QCOMPARE(project->model()->rowCount(), 0);
            QVERIFY(project->projectFile().isEmpty());
        }
        QVERIFY(guard.isNull());
    }

    void objectionsOfOpenPanelsBeforeSaving()
    {
        ZorPanel *panel = project->createPanel(item("Plot"));
        QVERIFY(panel);
        QString error = "old";
        QVERIFY(project->checkPanelsBeforeSave(error));
        QVERIFY(error.isEmpty());
        QCOMPARE(project->model()->nodeFromIndex(item("Plot")).toElement().attribute("panelVisible"),
                 QStringLiteral("0"));
    }

private:
    QScopedPointer<ZorTest::TempSettings> settings;
    QuorvaneProject *project = nullptr;
};

ZOR_TEST(TestProject)
#include "tst_project.moc"
