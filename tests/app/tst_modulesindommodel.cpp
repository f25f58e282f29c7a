// The module framework on the program's own project model: the host builds
// modules from its rows, they read their labels, types and properties from
// it, resolve their "slave" references and report status and properties back.
#include "zortest.h"
#include "domtestproject.h"
#include "zordommodel.h"
#include "zorhostedproject.h"
#include "zormoduleregistry.h"
#include "zormoduleshost.h"
#include "zormodstates.h"

#include <QtTest>
#include <memory>

namespace ModelTestStates {
// Reports a status and a property once, in its first cycle.
struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)
    struct Box { bool reported = false; };
    void cycle() override
    {
        if (box().reported)
            return;
        box().reported = true;
        setStatus(2);
        setProperty(QStringLiteral("Checked"), module()->label());
    }
};
}

namespace {

class ReportingModule : public ZorModule
{
public:
    explicit ReportingModule(QObject *parent) : ZorModule(parent) {}
    ~ReportingModule() override { stop(); }
    Macho::StateRef rootStateRef() const override { return ModelTestStates::Root::makeStateRef(); }
    QString acceptedSlaveTypes() const override
    {
        return type() == QLatin1String("datalog") ? QStringLiteral("canusb-") : QString();
    }
};

class DomHostProject : public QObject, public ZorHostedProject
{
public:
    explicit DomHostProject(const QDomDocument &doc) : model(doc) {}
    ZorDomModel model;
    ZorModuleRegistry registry;
    ZorModuleMap modules;
    QAbstractItemModel *hostModel() const override { return const_cast<ZorDomModel *>(&model); }
    const ZorModuleRegistry &hostModuleRegistry() const override { return registry; }
    ZorModuleMap &hostModuleMap() override { return modules; }
    QObject *hostAppControlReceiver() const override { return nullptr; }
    ZorModule *module(const QString &type) const
    {
        for (ZorModule *m : modules) {
            if (m->type() == type)
                return m;
        }
        return nullptr;
    }
};

QStringList slaveReferences(const QDomElement &element)
{
    QStringList refs;
    for (QDomElement s = element.firstChildElement("slave"); !s.isNull(); s = s.nextSiblingElement("slave"))
        refs << s.attribute("label") + "/" + s.attribute("type");
    return refs;
}

} // namespace

class TestModulesInDomModel : public QObject
{
    Q_OBJECT
private slots:
    void modulesLiveOnTheProjectModel()
    {
        QDomDocument doc = DomTestProject::document();
        DomHostProject project(doc);
        for (const char *type : {"canusb", "datalog", "drive_canopen"})
            project.registry.add(type, [](QObject *parent) { return new ReportingModule(parent); });
        std::unique_ptr<ZorModulesHost> host(new ZorModulesHost(&project, &project));
        host->start();
        QVERIFY(host->performAction(ZorModulesHost::CreateModules));
        QCOMPARE(project.modules.size(), 3);   // the plot has no module

        ZorModule *can = project.module("canusb");
        QCOMPARE(can->label(), ZorDomModel::defaultLabel("canusb"));   // no label attribute
        QCOMPARE(can->property("Port"), QStringLiteral("COM1"));
        ZorModule *drive = project.module("drive_canopen");
        QVERIFY(drive->description().startsWith(QStringLiteral("Axis X")));

        // The scope names the drive and, by a label that has another type, a
        // CAN interface, which its accepted types exclude.
        ZorModule *scope = project.module("datalog");
        QCOMPARE(scope->slaveModules().keys(), QStringList{"Drive01"});
        const QDomElement scopeElement = project.model.nodeFromIndex(scope->modelIndex()).toElement();
        QCOMPARE(slaveReferences(scopeElement), QStringList{"Drive01/drive_canopen"});

        for (ZorModule *m : project.modules) {
            const QPersistentModelIndex item = m->modelIndex();
            QTRY_COMPARE(item.data(ZorAbstractDomModel::StatusRole).toInt(), 2);
            const QDomElement element = project.model.nodeFromIndex(item).toElement();
            QTRY_COMPARE(element.firstChildElement("properties").firstChildElement("Checked").text(),
                         m->label());
        }
        QCOMPARE(project.model.overallStatus(), 2);

        QVERIFY(host->performAction(ZorModulesHost::DeleteModules));
        QVERIFY(project.modules.isEmpty());
    }
};

ZOR_TEST(TestModulesInDomModel)
#include "tst_modulesindommodel.moc"
