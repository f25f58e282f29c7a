#include "domtestproject.h"
#include "zordommodel.h"
#include "zorprojecttree.h"
#include "zortest.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QSignalSpy>
#include <QtTest>

namespace {

using Path = QVector<int>;

QModelIndex at(const QAbstractItemModel &model, const Path &path, int column = 0)
{
    QModelIndex index;
    for (int i = 0; i < path.size(); ++i)
        index = model.index(path.at(i), i + 1 == path.size() ? column : 0, index);
    return index;
}

// The status band an icon shows, read from the middle of its overlay dot.
QString band(const QIcon &icon)
{
    if (icon.isNull())
        return QStringLiteral("none");
    const QColor c = icon.pixmap(32, 32).toImage().pixelColor(25, 25);
    auto near = [&c](const char *hex) {
        const QColor e{QLatin1String(hex)};
        return qAbs(c.red() - e.red()) < 16 && qAbs(c.green() - e.green()) < 16
               && qAbs(c.blue() - e.blue()) < 16;
    };
    if (near("#5EBE37"))
        return QStringLiteral("green");
    if (near("#FEE600"))
        return QStringLiteral("yellow");
    if (near("#FF6052"))
        return QStringLiteral("red");
    return QStringLiteral("plain");
}

// Row paths in the shared test project.
const Path Project{0};
const Path Can{0, 0};
const Path Node01{0, 0, 0};
const Path Node02{0, 0, 1};
const Path Scope{0, 1};
const Path Plot{0, 1, 0};
const Path Drive{0, 2};
const Path Scope2{0, 3};

const QString Hint = QStringLiteral("Change user level to access this function!");

QString attr(const QDomElement &e, const char *name)
{
    return e.attribute(QLatin1String(name));
}

QDomElement elementAt(const ZorDomModel &model, const Path &path)
{
    return model.nodeFromIndex(at(model, path)).toElement();
}

}

class TestZorDomModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qRegisterMetaType<QList<QPersistentModelIndex>>();
        qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
    }

    void shows_the_project_in_a_tree_view()
    {
        ZorDomModel model(DomTestProject::document());
        QVERIFY(model.hasRoot());
        ZorProjectTree view;
        view.setModel(&model);
        view.expandAll();
        view.resize(400, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(!view.grab().isNull()); // paints every row: labels, icons, status

        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Module"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Status"));
        QCOMPARE(model.columnCount(), 2);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.rowCount(at(model, Project)), 4);
        QCOMPARE(model.rowCount(at(model, Can)), 2);
        QCOMPARE(model.rowCount(at(model, Can, 1)), 0);

        const QList<QPair<Path, QString>> rows = {
            {Project, "Project Home"}, {Can, "CAN Interface"}, {Node01, "Node01"},
            {Node02, "Node02"}, {Scope, "Scope"}, {Plot, "Plot"}, {Drive, "Drive01"},
            {Scope2, "Scope 2"}};
        for (const auto &row : rows) {
            const QModelIndex index = at(model, row.first);
            QCOMPARE(index.data().toString(), row.second);
            QVERIFY(!view.visualRect(index).isEmpty());
            QVERIFY2(!model.moduleIcon(index).isNull(), qPrintable(row.second));
            QVERIFY(index.data(Qt::DecorationRole).canConvert<QIcon>());
            QVERIFY(!at(model, row.first, 1).data().isValid()); // no status text yet
        }
        QCOMPARE(model.nodeFromIndex(at(model, Can)).firstChildElement(QStringLiteral("properties"))
                     .firstChildElement(QStringLiteral("Port")).text(),
                 QStringLiteral("COM1"));
        QVERIFY(model.nodeFromIndex(QModelIndex()).isNull());
        QCOMPARE(model.document().documentElement().tagName(), QStringLiteral("QuorvaneProject"));
    }

    void roles_of_a_row_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<int>("role");
        QTest::addColumn<QVariant>("expected");
        const QString drive = QStringLiteral(
            "<module type='drive_canopen' label='Axis' panelVisible='1' userLevel='0' moduleDepth='1'/>");
        QTest::newRow("label") << drive << 0 << QVariant("Axis");
        QTest::newRow("default label") << "<module type='drive_canopen'/>" << 0 << QVariant("Drive01");
        QTest::newRow("unknown type, no label") << "<module type='gizmo'/>" << 0 << QVariant();
        QTest::newRow("type") << drive << 32 << QVariant("drive_canopen");
        QTest::newRow("no type") << "<module label='x'/>" << 32 << QVariant();
        QTest::newRow("panel visible") << drive << 33 << QVariant("1");
        QTest::newRow("no panel visible") << "<module/>" << 33 << QVariant();
        QTest::newRow("user level") << drive << 34 << QVariant("0");
        QTest::newRow("no user level") << "<module/>" << 34 << QVariant(0);
        QTest::newRow("depth") << drive << 38 << QVariant("1");
        QTest::newRow("no depth") << "<module/>" << 38 << QVariant(0);
        QTest::newRow("type description") << drive << 37 << QVariant("CANopen drive");
        QTest::newRow("own description") << "<module type='canusb' description='Bus A'/>" << 3
                                         << QVariant("Bus A");
        QTest::newRow("no description") << "<module type='gizmo'/>" << 37 << QVariant();
        QTest::newRow("status tip") << drive << 4 << QVariant("CANopen drive");
        QTest::newRow("status") << drive << 35 << QVariant(0);
        QTest::newRow("status text") << drive << 36 << QVariant();
        QTest::newRow("other role") << drive << 39 << QVariant();
    }
    void roles_of_a_row()
    {
        QFETCH(QString, xml);
        QFETCH(int, role);
        QFETCH(QVariant, expected);
        QDomDocument doc;
        QVERIFY(doc.setContent(QStringLiteral("<QuorvaneProject><module type='project'>%1</module></QuorvaneProject>").arg(xml)));
        ZorDomModel model(doc);
        const QVariant value = at(model, {0, 0}).data(role);
        QCOMPARE(value.isValid(), expected.isValid());
        if (expected.isValid())
            QCOMPARE(value.toString(), expected.toString());
    }

    void user_level_gates_rows()
    {
        ZorDomModel model(DomTestProject::document());
        QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
        const Qt::ItemFlags usable = Qt::ItemIsEnabled | Qt::ItemIsSelectable;

        QCOMPARE(model.flags(QModelIndex()), Qt::ItemIsDropEnabled);
        QCOMPARE(model.flags(at(model, Node02)), usable | Qt::ItemIsDropEnabled);
        QCOMPARE(model.flags(at(model, Node02, 1)), Qt::ItemIsDropEnabled);
        QCOMPARE(model.flags(at(model, Node01)), Qt::ItemIsDropEnabled);
        QCOMPARE(model.flags(at(model, Drive)), Qt::ItemIsDropEnabled);
        QCOMPARE(at(model, Node01).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Configuration - ") + Hint);
        QCOMPARE(at(model, Drive).data(Qt::ToolTipRole).toString(), QStringLiteral("Axis X - ") + Hint);
        QCOMPARE(at(model, Node02).data(Qt::ToolTipRole).toString(), QStringLiteral("Second node"));

        model.setUserLevel(1);
        QCOMPARE(layout.count(), 1);
        QCOMPARE(model.flags(at(model, Node01)) & usable, usable);
        QCOMPARE(at(model, Node01).data(Qt::ToolTipRole).toString(), QStringLiteral("Configuration"));
        QCOMPARE(model.flags(at(model, Node01, 1)), Qt::ItemIsDropEnabled);
        QCOMPARE(model.flags(at(model, Drive)), Qt::ItemIsDropEnabled);

        model.setUserLevel(1);
        QCOMPARE(layout.count(), 1);
        model.setUserLevel(2);
        QCOMPARE(model.flags(at(model, Drive)) & usable, usable);

        // A disabled row without any description shows the hint alone.
        QDomDocument doc;
        doc.setContent(QStringLiteral("<QuorvaneProject><module type='project'>"
                                      "<module type='gizmo' userLevel='3'/></module></QuorvaneProject>"));
        ZorDomModel bare(doc);
        QCOMPARE(at(bare, {0, 0}).data(Qt::ToolTipRole).toString(), Hint);
    }

    void status_icons_follow_the_band_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << 0 << "plain";
        QTest::newRow("1") << 1 << "green";
        QTest::newRow("999") << 999 << "green";
        QTest::newRow("1000") << 1000 << "yellow";
        QTest::newRow("1999") << 1999 << "yellow";
        QTest::newRow("2000") << 2000 << "red";
        QTest::newRow("negative") << -5 << "plain";
    }
    void status_icons_follow_the_band()
    {
        QFETCH(int, code);
        QFETCH(QString, expected);
        ZorDomModel model(DomTestProject::document());
        model.setUserLevel(2);
        const QModelIndex drive = at(model, Drive);
        model.setModuleStatus(drive, 1);
        model.setModuleStatus(drive, code);
        QCOMPARE(drive.data(ZorDomModel::StatusRole).toInt(), code);
        QCOMPARE(band(model.moduleIcon(drive)), expected);
        QCOMPARE(band(drive.data(Qt::DecorationRole).value<QIcon>()), expected);
        // The project row shows the worst status of the project.
        QCOMPARE(model.overallStatus(), qMax(0, code));
        QCOMPARE(band(model.moduleIcon(at(model, Project))), expected);
        // A custom picture gets the same overlay.
        elementAt(model, Drive).setAttribute(QStringLiteral("icon"), QStringLiteral(":/Icons/Icons/button_joystick.png"));
        QCOMPARE(band(model.moduleIcon(drive)), expected);
        elementAt(model, Drive).setAttribute(QStringLiteral("icon"), QStringLiteral("/no/such/picture.png"));
        QVERIFY(model.moduleIcon(drive).isNull());
        QVERIFY(!drive.data(Qt::DecorationRole).isValid());
    }

    void status_and_status_text_of_modules()
    {
        ZorDomModel model(DomTestProject::document());
        QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
        const QModelIndex node = at(model, Node02);
        model.setModuleStatus(at(model, Drive), 1000);
        model.setModuleStatus(at(model, Node02, 1), 2000); // column 1 means the row
        QCOMPARE(node.data(ZorDomModel::StatusRole).toInt(), 2000);
        QCOMPARE(model.overallStatus(), 2000);
        QCOMPARE(band(model.moduleIcon(at(model, Project))), QStringLiteral("red"));
        QCOMPARE(band(model.moduleIcon(at(model, Can))), QStringLiteral("plain"));
        QCOMPARE(layout.count(), 2);
        model.setModuleStatus(node, 2000); // unchanged: no announcement
        QCOMPARE(layout.count(), 2);
        model.setModuleStatus(node, 0);
        QCOMPARE(model.overallStatus(), 1000);
        QCOMPARE(band(model.moduleIcon(at(model, Project))), QStringLiteral("yellow"));

        model.setModuleStatusText(node, QStringLiteral("bus off"));
        QCOMPARE(at(model, Node02, 1).data().toString(), QStringLiteral("bus off"));
        QCOMPARE(at(model, Node02, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("bus off"));
        QCOMPARE(node.data(ZorDomModel::StatusTextRole).toString(), QStringLiteral("bus off"));
        const int announced = layout.count();
        model.setModuleStatusText(node, QStringLiteral("bus off"));
        QCOMPARE(layout.count(), announced);
        model.setModuleStatusText(node, QString());
        QVERIFY(!at(model, Node02, 1).data().isValid());
        QVERIFY(!node.data(ZorDomModel::StatusTextRole).isValid());

        model.setModuleStatus(QModelIndex(), 5);
        QCOMPARE(model.overallStatus(), 1000);
    }

    void removing_a_failing_module_clears_its_status()
    {
        ZorDomModel model(DomTestProject::document());
        model.setModuleStatus(at(model, Drive), 1000);
        model.setModuleStatus(at(model, Node02), 2000); // below the CAN interface
        model.setModuleStatusText(at(model, Node02), QStringLiteral("bus off"));
        model.setModuleStatus(at(model, Scope2), 2500);
        QCOMPARE(band(model.moduleIcon(at(model, Project))), QStringLiteral("red"));

        // Removing a row directly and removing its parent both drop its status.
        QVERIFY(model.removeModules(QString(), QString(), at(model, Scope2)));
        QCOMPARE(model.overallStatus(), 2000);
        QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
        QVERIFY(model.removeRow(0, at(model, Project)));
        QCOMPARE(layout.count(), 1); // views and tiles learn about the new overall status
        QCOMPARE(model.overallStatus(), 1000);
        QCOMPARE(band(model.moduleIcon(at(model, Project))), QStringLiteral("yellow"));

        // A module added in the same place starts without status.
        QDomElement fresh = model.document().createElement(QStringLiteral("module"));
        fresh.setAttribute(QStringLiteral("type"), QStringLiteral("canusb"));
        QVERIFY(model.appendModule(fresh, at(model, Project)));
        const QModelIndex added = at(model, {0, 2});
        QCOMPARE(added.data().toString(), QStringLiteral("CAN Interface"));
        QVERIFY(!added.data(ZorDomModel::StatusTextRole).isValid());
        QCOMPARE(added.data(ZorDomModel::StatusRole).toInt(), 0);

        QVERIFY(model.removeModules(QStringLiteral("Drive01"), QString(), QModelIndex()));
        QCOMPARE(model.overallStatus(), 0);
        QCOMPARE(band(model.moduleIcon(at(model, Project))), QStringLiteral("plain"));
    }

    void unique_label_data()
    {
        QTest::addColumn<QString>("desired");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        QTest::newRow("counts up with padding") << "Node01" << QStringList{"Node01", "Node02"} << "Node03";
        QTest::newRow("blank before the number") << "Scope" << QStringList{"Scope"} << "Scope 1";
        QTest::newRow("no second blank") << "Scope " << QStringList{"Scope "} << "Scope 1";
        QTest::newRow("skips taken numbers") << "Scope" << QStringList{"Scope", "Scope 1"} << "Scope 2";
        QTest::newRow("no padding") << "Drive10" << QStringList{"Drive10"} << "Drive1";
        QTest::newRow("free label unchanged") << "Axis" << QStringList{"Node01"} << "Axis";
        QTest::newRow("case-sensitive") << "scope" << QStringList{"Scope"} << "scope";
    }
    void unique_label()
    {
        QFETCH(QString, desired);
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        ZorDomModel model(DomTestProject::document());
        QCOMPARE(model.uniqueLabel(desired, taken, QModelIndex()), expected);
    }

    void unique_label_among_siblings_and_when_all_are_taken()
    {
        ZorDomModel model(DomTestProject::document());
        QCOMPARE(model.uniqueLabel(QStringLiteral("Node01"), {}, at(model, Can)), QStringLiteral("Node03"));
        // Default labels of siblings count as well.
        QCOMPARE(model.uniqueLabel(QStringLiteral("CAN Interface"), {}, at(model, Project)),
                 QStringLiteral("CAN Interface 1"));

        QStringList taken{QStringLiteral("Node")};
        for (int i = 1; i <= 1000; ++i)
            taken << QStringLiteral("Node %1").arg(i);
        // However many are taken, counting goes on to a free label.
        QCOMPARE(model.uniqueLabel(QStringLiteral("Node"), taken, QModelIndex()),
                 QStringLiteral("Node 1001"));
    }

    // A pasted module with thousands of sub-modules, many of one label: each
    // gets a label of its own, none repeated.
    void make_labels_unique_for_thousands_of_sub_modules()
    {
        ZorDomModel model(DomTestProject::document());
        QDomDocument clip;
        QDomElement element = clip.createElement(QStringLiteral("module"));
        element.setAttribute(QStringLiteral("label"), QStringLiteral("Rack"));
        const int count = 4000;
        for (int i = 0; i < count; ++i) {
            QDomElement sub = clip.createElement(QStringLiteral("module"));
            sub.setAttribute(QStringLiteral("label"),
                             i % 3 == 0 ? QStringLiteral("Node01")
                                        : i % 3 == 1 ? QStringLiteral("Node0%1").arg(i % 10)
                                                     : QStringLiteral("Scope"));
            (i % 2 ? element.lastChildElement() : element).appendChild(sub);
        }
        model.makeLabelsUnique(element, at(model, Can));
        QSet<QString> labels;
        const QDomNodeList inner = element.elementsByTagName(QStringLiteral("module"));
        for (int i = 0; i < inner.size(); ++i)
            labels.insert(attr(inner.at(i).toElement(), "label"));
        QCOMPARE(inner.size(), count);
        QCOMPARE(labels.size(), count);
        QVERIFY(labels.contains(QStringLiteral("Node01")) && labels.contains(QStringLiteral("Scope")));
    }

    void make_labels_unique_before_insertion()
    {
        ZorDomModel model(DomTestProject::document());
        QDomDocument clip;
        clip.setContent(QStringLiteral("<module type='nodeconfig' label='Node01'>"
                                       "<module type='datalog_plot' label='Plot'/>"
                                       "<module type='datalog_plot'><module type='datalog_plot'/></module>"
                                       "</module>"));
        QDomElement element = clip.documentElement();
        model.makeLabelsUnique(element, at(model, Can));
        QCOMPARE(attr(element, "label"), QStringLiteral("Node03"));
        const QDomNodeList inner = element.elementsByTagName(QStringLiteral("module"));
        QCOMPARE(attr(inner.at(0).toElement(), "label"), QStringLiteral("Plot"));
        QCOMPARE(attr(inner.at(1).toElement(), "label"), QStringLiteral("Plot 1"));
        QCOMPARE(attr(inner.at(2).toElement(), "label"), QStringLiteral("Plot 2"));
    }

    void rename_follows_slave_references()
    {
        ZorDomModel model(DomTestProject::document());
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QString result;
        QVERIFY(model.renameModule(QStringLiteral("Axis"), at(model, Drive, 1), &result));
        QCOMPARE(result, QStringLiteral("Axis"));
        QCOMPARE(at(model, Drive).data().toString(), QStringLiteral("Axis"));
        QCOMPARE(changed.count(), 1);

        const QDomElement project = model.document().documentElement();
        const QDomNodeList slaves = project.elementsByTagName(QStringLiteral("slave"));
        QCOMPARE(slaves.size(), 3);
        // The scope's reference to the drive follows; a reference to another
        // type of that label and the template's reference stay.
        QCOMPARE(attr(slaves.at(0).toElement(), "label"), QStringLiteral("Axis"));
        QCOMPARE(attr(slaves.at(1).toElement(), "label"), QStringLiteral("Drive01"));
        QCOMPARE(attr(slaves.at(2).toElement(), "label"), QStringLiteral("Drive01"));

        // A label taken by a sibling is counted up; a module without a label
        // gets one; a blank label is refused.
        QVERIFY(model.renameModule(QStringLiteral("Scope"), at(model, Drive), &result));
        QCOMPARE(result, QStringLiteral("Scope 1"));
        QCOMPARE(attr(slaves.at(0).toElement(), "label"), QStringLiteral("Scope 1"));
        QVERIFY(model.renameModule(QStringLiteral("Bus A"), at(model, Can), &result));
        QCOMPARE(attr(elementAt(model, Can), "label"), QStringLiteral("Bus A"));
        QVERIFY(!model.renameModule(QStringLiteral("  "), at(model, Drive), &result));
        QVERIFY(!model.renameModule(QStringLiteral("X"), QModelIndex(), &result));
        QCOMPARE(at(model, Drive).data().toString(), QStringLiteral("Scope 1"));
    }

    void remove_modules_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVector<int>>("scope");
        QTest::addColumn<bool>("removed");
        QTest::addColumn<QString>("remaining");
        QTest::newRow("plots below the project module only")
            << "" << "datalog_plot" << Path() << true << "CAN Interface,Scope,Drive01|Node01,Node02|Plot";
        QTest::newRow("by label") << "Drive01" << "" << Path() << true
                                  << "CAN Interface,Scope,Scope 2|Node01,Node02|Plot";
        QTest::newRow("label or type") << "Scope" << "drive_canopen" << Path() << true
                                       << "CAN Interface,Scope 2|Node01,Node02|";
        QTest::newRow("within a given row") << "" << "nodeconfig" << Can << true
                                            << "CAN Interface,Scope,Drive01,Scope 2||Plot";
        QTest::newRow("exactly one row") << "" << "" << Node02 << true
                                         << "CAN Interface,Scope,Drive01,Scope 2|Node01|Plot";
        QTest::newRow("no match") << "Nothing" << "" << Path() << false
                                  << "CAN Interface,Scope,Drive01,Scope 2|Node01,Node02|Plot";
        QTest::newRow("no criteria") << "" << "" << Path() << false
                                     << "CAN Interface,Scope,Drive01,Scope 2|Node01,Node02|Plot";
    }
    void remove_modules()
    {
        QFETCH(QString, label);
        QFETCH(QString, type);
        QFETCH(QVector<int>, scope);
        QFETCH(bool, removed);
        QFETCH(QString, remaining);
        QDomDocument doc = DomTestProject::document();
        // Modules without type or label must not count as matches of empty criteria.
        doc.documentElement().firstChildElement().appendChild(doc.createElement(QStringLiteral("module")));
        ZorDomModel model(doc);
        QCOMPARE(model.removeModules(label, type, at(model, scope)), removed);

        auto labels = [&model](const QModelIndex &parent) {
            QStringList l;
            if (!parent.isValid())
                return QString();
            for (int r = 0; r < model.rowCount(parent); ++r) {
                const QString text = model.index(r, 0, parent).data().toString();
                if (!text.isEmpty())
                    l << text;
            }
            return l.join(QLatin1Char(','));
        };
        auto find = [&](const QString &name) {
            for (int r = 0; r < model.rowCount(at(model, Project)); ++r) {
                if (at(model, {0, r}).data().toString() == name)
                    return at(model, {0, r});
            }
            return QModelIndex();
        };
        QCOMPARE(model.rowCount(at(model, Project)) - 1, labels(at(model, Project)).split(',').size());
        const QString seen = labels(at(model, Project)) + '|' + labels(find(QStringLiteral("CAN Interface")))
                             + '|' + labels(find(QStringLiteral("Scope")));
        QCOMPARE(seen, remaining);
        // The DOM lost the same elements.
        QCOMPARE(doc.documentElement().firstChildElement().elementsByTagName(QStringLiteral("module")).size(),
                 QString(remaining).replace('|', ',').split(',', Qt::SkipEmptyParts).size() + 1);
    }

    void module_depths_and_missing_labels()
    {
        QDomDocument doc = DomTestProject::document();
        ZorDomModel model(doc);
        model.updateModuleDepths(false);
        const QList<QPair<Path, QString>> depths = {
            {Project, "0"}, {Can, "1"}, {Node01, "2"}, {Node02, "2"}, {Plot, "2"}, {Drive, "1"}};
        for (const auto &d : depths)
            QCOMPARE(at(model, d.first).data(ZorDomModel::ModuleDepthRole).toString(), d.second);
        QCOMPARE(attr(elementAt(model, Project), "label"), QStringLiteral("Project Home"));
        QCOMPARE(attr(elementAt(model, Can), "label"), QStringLiteral("CAN Interface"));
        const QDomElement templates = doc.documentElement().firstChildElement(QStringLiteral("templates"));
        QVERIFY(!doc.toString().isEmpty());
        QVERIFY(!templates.firstChildElement().hasAttribute(QStringLiteral("moduleDepth")));

        model.updateModuleDepths(true);
        QVERIFY(!doc.toString().contains(QStringLiteral("moduleDepth")));
        QCOMPARE(attr(elementAt(model, Project), "label"), QStringLiteral("Project Home"));
    }

    void templates_and_default_elements()
    {
        ZorDomModel model(DomTestProject::document());
        QCOMPARE(attr(model.templateElement(QStringLiteral("drive_canopen")), "label"), QStringLiteral("Drive01"));
        QCOMPARE(attr(model.templateElement(QStringLiteral("XY Positioning")), "type"), QStringLiteral("xypos"));
        QVERIFY(model.templateElement(QStringLiteral("nodeconfig")).isNull());

        QDomDocument plain;
        plain.setContent(QStringLiteral("<QuorvaneProject><module type='project'/></QuorvaneProject>"));
        ZorDomModel bare(plain);
        const QDomElement node = bare.templateElement(QStringLiteral("nodeconfig"));
        QCOMPARE(node.tagName(), QStringLiteral("module"));
        QCOMPARE(attr(node, "label"), QStringLiteral("Node01"));
        QCOMPARE(attr(node, "description"), QStringLiteral("Node Configuration"));
        QCOMPARE(attr(node, "userLevel"), QStringLiteral("1"));
        const QDomElement plot = bare.defaultModuleElement(QStringLiteral("datalog_plot"));
        QCOMPARE(attr(plot, "label"), QStringLiteral("Scope"));
        QCOMPARE(attr(plot, "description"), QStringLiteral("Scope Panel"));
        QCOMPARE(attr(plot, "type"), QStringLiteral("datalog_plot"));
        QVERIFY(bare.templateElement(QStringLiteral("canusb")).isNull());

        const QDomElement project = DomTestProject::document().documentElement();
        QCOMPARE(attr(ZorDomModel::findModuleElement(project, QString(), QStringLiteral("Plot")), "type"),
                 QStringLiteral("datalog_plot"));
        QVERIFY(ZorDomModel::findModuleElement(project, QString(), QString()).isNull());
    }

    void append_module_inserts_detached_elements_and_copies_the_rest()
    {
        ZorDomModel model(DomTestProject::document());
        QDomDocument doc = model.document();
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

        QDomElement own = doc.createElement(QStringLiteral("module"));
        own.setAttribute(QStringLiteral("type"), QStringLiteral("joystick"));
        QVERIFY(model.appendModule(own, at(model, Project, 1)));
        QCOMPARE(model.nodeFromIndex(at(model, {0, 4})), QDomNode(own));
        QCOMPARE(inserted.count(), 1);

        // An element of another document and one attached elsewhere (a
        // template) go in as copies; the template stays.
        QDomDocument clip;
        clip.setContent(QStringLiteral("<module type='trigger'><module type='datalog_plot'/></module>"));
        QVERIFY(model.appendModule(clip.documentElement(), at(model, Plot)));
        QCOMPARE(at(model, {0, 1, 0, 0}).data().toString(), QStringLiteral("Trigger"));
        QCOMPARE(at(model, {0, 1, 0, 0, 0}).data().toString(), QStringLiteral("Plot"));
        const QDomElement tmpl = model.templateElement(QStringLiteral("xypos"));
        QVERIFY(model.appendModule(tmpl, QModelIndex()));
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(at(model, {1}).data().toString(), QStringLiteral("XY Positioning"));
        QCOMPARE(tmpl.parentNode().nodeName(), QStringLiteral("templates"));
        QCOMPARE(model.nodeFromIndex(at(model, {1})).ownerDocument(), doc);

        QVERIFY(!model.appendModule(doc.createElement(QStringLiteral("properties")), QModelIndex()));
        QVERIFY(!model.appendModule(QDomNode(), QModelIndex()));
        QCOMPARE(inserted.count(), 3);
    }

    void drops_between_rows_announce_the_text()
    {
        ZorDomModel model(DomTestProject::document());
        QSignalSpy dropped(&model, &ZorDomModel::textDropped);
        QMimeData text;
        text.setText(QStringLiteral("001.60ffh.00h"));
        QCOMPARE(model.supportedDropActions(), Qt::CopyAction);
        QVERIFY(!model.dropMimeData(&text, Qt::CopyAction, -1, -1, at(model, Can)));
        QVERIFY(!model.dropMimeData(&text, Qt::CopyAction, 0, 0, QModelIndex()));
        QMimeData empty;
        QVERIFY(!model.dropMimeData(&empty, Qt::CopyAction, 0, 0, at(model, Can)));
        QCOMPARE(dropped.count(), 0);

        QVERIFY(model.dropMimeData(&text, Qt::CopyAction, 1, 0, at(model, Can)));
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.at(0).at(0).toModelIndex(), at(model, Node02));
        QCOMPARE(dropped.at(0).at(1).toString(), QStringLiteral("001.60ffh.00h"));
    }

    void model_stays_consistent_through_edits()
    {
        ZorDomModel model(DomTestProject::document());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ZorProjectTree view;
        view.setModel(&model);
        view.expandAll();
        view.show();
        QDomDocument doc = model.document();

        model.setModuleStatus(at(model, Node02), 2000);
        model.setModuleStatusText(at(model, Node02), QStringLiteral("error"));
        for (int i = 0; i < 5; ++i) {
            QDomElement e = doc.createElement(QStringLiteral("module"));
            e.setAttribute(QStringLiteral("type"), QStringLiteral("nodeconfig"));
            model.makeLabelsUnique(e, at(model, Can));
            QVERIFY(model.appendModule(e, at(model, Can)));
            QVERIFY(model.appendModule(doc.createElement(QStringLiteral("module")), at(model, {0, 0, 2 + i})));
        }
        QCOMPARE(at(model, {0, 0, 6}).data().toString(), QStringLiteral("Node07"));
        view.expandAll();
        QVERIFY(model.renameModule(QStringLiteral("Node02"), at(model, {0, 0, 3})));
        QVERIFY(model.removeRows(1, 3, at(model, Can)));
        QVERIFY(!model.removeRows(3, 5, at(model, Can)));
        QVERIFY(!model.removeRows(0, 0, at(model, Can)));
        QVERIFY(model.removeModules(QString(), QStringLiteral("datalog_plot"), QModelIndex()));
        model.setUserLevel(1);
        model.setModuleStatus(at(model, Drive), 1500);
        QVERIFY(model.removeModules(QStringLiteral("Scope"), QString(), QModelIndex()));
        model.updateModuleDepths(false);
        QCOMPARE(model.overallStatus(), 1500);
        QCOMPARE(model.rowCount(at(model, Can)), 4);
        QVERIFY(!view.grab().isNull());
    }

    void document_without_project_element_gives_no_rows()
    {
        QDomDocument doc;
        doc.setContent(QStringLiteral("<SomethingElse><module type='project'/></SomethingElse>"));
        ZorDomModel model(doc);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(!model.hasRoot());
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!model.index(0, 0).isValid());
        QVERIFY(!model.appendModule(doc.createElement(QStringLiteral("module")), QModelIndex()));
        QVERIFY(!model.removeModules(QStringLiteral("x"), QString(), QModelIndex()));
        QVERIFY(model.templateElement(QStringLiteral("nodeconfig")).isNull());
        model.updateModuleDepths(false);
    }
};

ZOR_TEST(TestZorDomModel)
#include "tst_dommodel.moc"
