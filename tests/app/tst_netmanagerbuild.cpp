// The network manager builds the project through the real main window:
// Build Project on its panel, "removemodule"/"addmodule" carried out by the
// main window's app control, the labels it answers, "NodeId" of each new
// module, and what happens when the main window is held up by a dialog.
#include "windowtesting.h"
#include "zorapplservices.h"
#include "zorcontentnetmanager.h"
#include "zormodnetmanager.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QtTest>

using namespace WindowTesting;

namespace {

const char *const netBuildProject = R"x(<?xml version="1.0" encoding="UTF-8"?>
<QuorvaneProject>
 <module type="project" description="Network manager build">
  <module type="canusb" label="CAN1" description="no adapter"><properties><Port>127.0.0.1:1</Port></properties></module>
  <module type="netmanager" label="Network" description="Network manager" panelVisible="1">
   <properties><ConfigurableIds>5:nodeconfig, 0x7, 300:nodeconfig</ConfigurableIds></properties>
  </module>
  <module type="nodeconfig" label="Node01" description="made by hand"><properties><NodeId>42</NodeId></properties></module>
 </module>
</QuorvaneProject>
)x";

} // namespace

class TestNetManagerBuild : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<Quorvane> window;

    QuorvaneProject *project() const { return window->project(); }
    ZorModule *module(const QString &label) const { return project()->moduleOf(item(project(), label)); }
    // "NodeId" of the module of that label ("" while there is none).
    QString nodeIdOf(const QString &label) const
    {
        ZorModule *m = module(label);
        return m ? m->property("NodeId") : QString();
    }
    ZorModNetManager *manager() const { return qobject_cast<ZorModNetManager *>(module("Network")); }
    ZorContentNetManager *panel() const
    {
        for (const QPointer<ZorPanel> &p : project()->openPanels()) {
            if (auto *net = qobject_cast<ZorContentNetManager *>(p.data()))
                return net;
        }
        return nullptr;
    }
    QStringList topLabels() const
    {
        QStringList labels;
        for (const QString &line : treeLines(project()->model())) {
            if (line.startsWith("  ") && !line.startsWith("   "))
                labels << line.trimmed();
        }
        return labels;
    }
    // Presses Build Project with this "Configurable Node IDs" line.
    void build(const QString &ids)
    {
        panel()->findChild<QLineEdit *>("lineEditProjectList")->setText(ids);
        panel()->findChild<QAction *>("actionBuild")->trigger();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
        ZorTest::TempSettings::set("GuiMode", 0);
        QVERIFY(ZorApplServices::initAppGlobals());
    }
    void init()
    {
        dir.reset(new QTemporaryDir(home.homePath() + "/work-XXXXXX"));
        QVERIFY(dir->isValid());
        QVERIFY(writeFile(dir->filePath("Build.zorpro"), netBuildProject));
        window.reset(new Quorvane);
        window->show();
        QVERIFY(window->appControl("open," + dir->filePath("Build.zorpro")));
        QVERIFY(manager());
        QVERIFY(panel());
        QTRY_COMPARE(manager()->status(), 0);
    }
    void cleanup()
    {
        project()->setModified(false);
        window.reset();
    }

    void buildAndRebuild()
    {
        build("5:nodeconfig, 0x7, 300:nodeconfig");
        QTRY_COMPARE(manager()->infoText(), QStringLiteral("Project Build Complete"));
        QCOMPARE(manager()->property("ProjectLabelsCreated"), QStringLiteral("Node02,Node03"));
        QCOMPARE(topLabels(), QStringList({"CAN1", "Network", "Node01", "Node02", "Node03"}));
        QTRY_COMPARE(nodeIdOf("Node02"), QStringLiteral("5"));
        QTRY_COMPARE(nodeIdOf("Node03"), QStringLiteral("7"));

        // A rebuild removes what the last build made, never the module made
        // by hand, though it is of a type the build makes.
        build("9");
        QTRY_COMPARE(manager()->property("ProjectLabelsCreated"), QStringLiteral("Node02"));
        QTRY_COMPARE(manager()->infoText(), QStringLiteral("Project Build Complete"));
        QCOMPARE(topLabels(), QStringList({"CAN1", "Network", "Node01", "Node02"}));
        QTRY_COMPARE(nodeIdOf("Node02"), QStringLiteral("9"));
        QCOMPARE(nodeIdOf("Node01"), QStringLiteral("42"));
    }

    // A built module deleted by the user, and a module of the user's own
    // that took its freed label: a rebuild keeps the user's module. Nor does
    // a build add a second module for a node that a module addresses.
    void rebuildKeepsTheUsersModules()
    {
        build("5:nodeconfig");
        QTRY_COMPARE(manager()->infoText(), QStringLiteral("Project Build Complete"));
        QCOMPARE(manager()->property("ProjectLabelsCreated"), QStringLiteral("Node02"));
        QTRY_COMPARE(nodeIdOf("Node02"), QStringLiteral("5"));
        QTRY_COMPARE(module("Node02")->property("BuiltBy"), QStringLiteral("Network:Node02"));
        QVERIFY(window->appControl("removemodule,Node02"));
        QString label;
        QVERIFY(project()->addModule("nodeconfig", "Node02", "mine", QModelIndex(),
                                     "<properties><NodeId>11</NodeId></properties>", QDomElement(), &label));
        QCOMPARE(label, QStringLiteral("Node02"));

        build("6, 11, 42");
        QTRY_COMPARE(manager()->infoText(), QStringLiteral("Project Build Complete; node 11 has Node02 already; "
                                                       "node 42 has Node01 already; Node02 kept (not made by "
                                                       "this build)"));
        QCOMPARE(topLabels(), QStringList({"CAN1", "Network", "Node01", "Node02", "Node03"}));
        QCOMPARE(module("Node02")->description(), QStringLiteral("mine"));
        QCOMPARE(nodeIdOf("Node02"), QStringLiteral("11"));
        QTRY_COMPARE(nodeIdOf("Node03"), QStringLiteral("6"));
        QCOMPARE(manager()->property("ProjectLabelsCreated"), QStringLiteral("Node03"));
    }

    // A dialog holds the main window's requests up: the manager's requests
    // time out and the build fails; once the dialog is closed the modules
    // are made all the same, and the manager takes them into its list.
    void mainWindowHeldUp()
    {
        manager()->setManagerTiming(ZorModNetManager::AppControlTimeout, 300);
        // The dialog's own event loop runs the build and ends once the
        // manager has given up.
        bool built = false;
        QTimer driver;
        driver.setInterval(20);
        connect(&driver, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (!built) {
                built = true;
                build("5, 6");
            } else if (manager()->status() == 2000) {
                box->accept();
            }
        });
        driver.start();
        window->appControlIn(ZorMessage(KM_DIALOG, KS_REQUEST, QStringLiteral("i,Please wait")));
        QTRY_VERIFY(built);
        QTRY_COMPARE(manager()->infoText(), QStringLiteral("Error: Could not create all node elements"));
        QTRY_COMPARE(topLabels(), QStringList({"CAN1", "Network", "Node01", "Node02", "Node03"}));
        QTRY_COMPARE(manager()->property("ProjectLabelsCreated"), QStringLiteral("Node02,Node03"));
        QTRY_COMPARE(nodeIdOf("Node02"), QStringLiteral("5"));
        QTRY_COMPARE(nodeIdOf("Node03"), QStringLiteral("6"));
    }
};

ZOR_TEST(TestNetManagerBuild)
#include "tst_netmanagerbuild.moc"
