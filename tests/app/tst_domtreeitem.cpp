#include "domtreeitem.h"
#include "zortest.h"

#include <QDomDocument>
#include <QtTest>

namespace {

QDomElement parse(QDomDocument &doc, const QString &xml)
{
    doc.setContent(xml);
    return doc.documentElement();
}

// The "n" attributes of the item's module rows, in row order, checking that
// every child's row matches its place.
QString moduleRows(DomTreeItem &item)
{
    QStringList names;
    for (int i = 0; i < item.moduleChildCount(); ++i) {
        DomTreeItem *child = item.moduleChild(i);
        if (!child || child->row() != i || child->parent() != &item)
            return QStringLiteral("broken at row %1").arg(i);
        names << child->node().toElement().attribute(QStringLiteral("n"));
    }
    return names.join(QLatin1Char(','));
}

// The same, read from the DOM: the "n" attributes of the "module" children.
QString domModules(const QDomElement &element)
{
    QStringList names;
    for (QDomElement e = element.firstChildElement(QStringLiteral("module")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("module")))
        names << e.attribute(QStringLiteral("n"));
    return names.join(QLatin1Char(','));
}

const char *const FourModules =
    "<module><properties/><docs/><!-- c --><module n='a'/>text<slave/>"
    "<module n='b'/><module n='c'/><module n='d'/></module>";

}

class TestDomTreeItem : public QObject
{
    Q_OBJECT
private slots:
    void counts_only_module_elements()
    {
        QDomDocument doc;
        DomTreeItem item(parse(doc, QLatin1String(FourModules)), 0);
        QCOMPARE(moduleRows(item), QStringLiteral("a,b,c,d"));
        QCOMPARE(item.moduleChild(4), nullptr);
        QCOMPARE(item.moduleChild(-1), nullptr);

        QDomDocument empty;
        DomTreeItem none(parse(empty, QStringLiteral("<module><properties/></module>")), 0);
        QCOMPARE(none.moduleChildCount(), 0);
        QCOMPARE(none.moduleChild(0), nullptr);
    }

    void insert_keeps_rows_and_dom_in_step_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("expected");
        QTest::newRow("front") << 0 << "x,a,b,c,d";
        QTest::newRow("middle") << 2 << "a,b,x,c,d";
        QTest::newRow("last row") << 3 << "a,b,c,x,d";
        QTest::newRow("at count appends") << 4 << "a,b,c,d,x";
        QTest::newRow("beyond count appends") << 9 << "a,b,c,d,x";
    }
    void insert_keeps_rows_and_dom_in_step()
    {
        QFETCH(int, row);
        QFETCH(QString, expected);
        QDomDocument doc;
        const QDomElement root = parse(doc, QLatin1String(FourModules));
        DomTreeItem item(root, 0);
        QDomElement x = doc.createElement(QStringLiteral("module"));
        x.setAttribute(QStringLiteral("n"), QStringLiteral("x"));
        QVERIFY(item.insertChild(row, x));
        QCOMPARE(moduleRows(item), expected);
        QCOMPARE(domModules(root), expected);
        // The other children stay where they were in the DOM.
        QCOMPARE(root.firstChild().nodeName(), QStringLiteral("properties"));
    }

    void insert_into_an_item_without_rows()
    {
        QDomDocument doc;
        const QDomElement root = parse(doc, QStringLiteral("<module><properties/></module>"));
        DomTreeItem item(root, 0);
        QDomElement x = doc.createElement(QStringLiteral("module"));
        x.setAttribute(QStringLiteral("n"), QStringLiteral("x"));
        QVERIFY(item.insertChild(0, x));
        QCOMPARE(moduleRows(item), QStringLiteral("x"));
        QCOMPARE(root.lastChild().toElement().attribute(QStringLiteral("n")), QStringLiteral("x"));
    }

    void remove_renumbers_and_drops_the_element()
    {
        QDomDocument doc;
        const QDomElement root = parse(doc, QLatin1String(FourModules));
        DomTreeItem item(root, 0);
        DomTreeItem *c = item.moduleChild(2);
        c->moduleChildCount(); // a built subtree goes with its row
        QVERIFY(item.removeChild(1));
        QCOMPARE(moduleRows(item), QStringLiteral("a,c,d"));
        QCOMPARE(domModules(root), QStringLiteral("a,c,d"));
        QCOMPARE(item.moduleChild(1), c);

        QVERIFY(!item.removeChild(3));
        QVERIFY(!item.removeChild(-1));
        QCOMPARE(moduleRows(item), QStringLiteral("a,c,d"));
        QCOMPARE(domModules(root), QStringLiteral("a,c,d"));
    }

    void object_rows_count_objects_and_sub_objects()
    {
        QDomDocument doc;
        const QDomElement root = parse(doc, QStringLiteral(
            "<CANopenObjectList><CANopenObject n='1000'/><module/>"
            "<CANopenSubObject n='1018.1'/><other/></CANopenObjectList>"));
        DomTreeItem item(root, 0);
        QCOMPARE(item.objectChild(0)->node().toElement().attribute(QStringLiteral("n")), QStringLiteral("1000"));
        QCOMPARE(item.objectChild(1)->node().toElement().attribute(QStringLiteral("n")), QStringLiteral("1018.1"));
        QCOMPARE(item.objectChild(2), nullptr);

        QVERIFY(item.insertObjectChild(1));
        QCOMPARE(item.objectChild(1)->node().nodeName(), QStringLiteral("CANopenObject"));
        QCOMPARE(item.objectChild(1)->row(), 1);
        QCOMPARE(item.objectChild(2)->row(), 2);
        // In the DOM it sits right before the element that was row 1.
        QCOMPARE(root.childNodes().at(2).nodeName(), QStringLiteral("CANopenObject"));
        QCOMPARE(root.childNodes().at(2).toElement().attribute(QStringLiteral("n")), QString());

        QVERIFY(item.removeChild(0));
        QCOMPARE(item.objectChild(1)->node().toElement().attribute(QStringLiteral("n")), QStringLiteral("1018.1"));
        QCOMPARE(root.elementsByTagName(QStringLiteral("CANopenObject")).size(), 1);
    }
};

ZOR_TEST(TestDomTreeItem)
#include "tst_domtreeitem.moc"
