#include "zorcontentdefault.h"
#include "zormodule.h"
#include "zorregistry.h"
#include "zortest.h"

#include <QTest>

namespace {
ZorPanel *otherPanel(QWidget *) { return nullptr; }
ZorModule *otherModule(QObject *) { return nullptr; }
}

class TestRegistry : public QObject
{
    Q_OBJECT
private slots:
    // Every module-type key of the program, modules and panels.
    void everyKeyIsRegistered()
    {
        ZorRegistry::ModuleCreators modules;
        ZorRegistry::PanelCreators panels;
        ZorRegistry::registerAll(modules, panels);

        const QStringList withModule = {
            "canusb", "kelvatro", "netmanager", "wizard", "automation", "nodeconfig", "datalog",
            "uipanel", "uipanel_node", "remotecontrol", "joystick", "commchannel", "drive_canopen",
            "drive_ruxa", "drive_tamrix", "xypos", "testcycle", "drive_xenax"};
        const QStringList panelOnly = {
            "default", "project", "cansender", "canmonitor", "drive_canopen_objects",
            "datalog_plot", "trigger", "drive_canopen_python", "automation_python",
            "drive_canopen_setup", "drive_canopen_firmware"};
        QCOMPARE(modules.keys().size(), withModule.size());
        QCOMPARE(panels.size(), withModule.size() + panelOnly.size());
        for (const QString &key : withModule) {
            QVERIFY2(modules.contains(key), qPrintable(key));
            QVERIFY2(panels.contains(key), qPrintable(key));
        }
        for (const QString &key : panelOnly) {
            QVERIFY2(panels.contains(key), qPrintable(key));
            QVERIFY2(!modules.contains(key), qPrintable(key));
        }
        QCOMPARE(ZorRegistry::moduleKeys().first(), QStringLiteral("canusb"));
        QCOMPARE(ZorRegistry::panelKeys().first(), QStringLiteral("default"));
        QCOMPARE(ZorRegistry::panelKeys().last(), QStringLiteral("commchannel"));
    }

    void secondRegistrationKeepsTheFirstCreator()
    {
        ZorRegistry::ModuleCreators modules;
        ZorRegistry::PanelCreators panels;
        ZorRegistry::registerAll(modules, panels);
        const ZorRegistry::PanelCreator first = panels.value("default");
        QVERIFY(!ZorRegistry::registerPanel(panels, "default", otherPanel));
        QVERIFY(panels.value("default") == first);
        QVERIFY(!ZorRegistry::registerModule(modules, "canusb", otherModule));
        QVERIFY(ZorRegistry::registerPanel(panels, "brandnew", otherPanel));
        QVERIFY(!ZorRegistry::registerPanel(panels, "brandnew", first));
    }

    void creatorsMakePanelsWithTheGivenParent()
    {
        ZorRegistry::ModuleCreators modules;
        ZorRegistry::PanelCreators panels;
        ZorRegistry::registerAll(modules, panels);
        QWidget parent;
        for (const char *name : {"default", "joystick", "commchannel"}) {
            const QString key = QString::fromLatin1(name);
            ZorPanel *panel = ZorRegistry::createPanel(panels, key, &parent);
            QVERIFY2(qobject_cast<ZorContentDefault *>(panel), qPrintable(key));
            QCOMPARE(panel->parentWidget(), &parent);
        }
        // Keys compare exactly.
        QVERIFY(!ZorRegistry::createPanel(panels, QStringLiteral("Default"), &parent));
        QVERIFY(!modules.contains(QStringLiteral("CanUsb")));
    }
};

ZOR_TEST(TestRegistry)
#include "tst_registry.moc"
