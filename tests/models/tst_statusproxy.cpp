// The node status grid over an object table: one row per node, one column
// per object name, each cell the table's own Value cell.
#include "zorobjeditmodel.h"
#include "zorstatusproxy.h"
#include "zortest.h"

#include <QTest>

namespace {

QDomDocument statProxyListOf(const QString &rows)
{
    QDomDocument doc;
    if (!doc.setContent("<CANopenObjectList>" + rows + "</CANopenObjectList>"))
        qFatal("fixture is not well-formed XML");
    return doc;
}

QString statProxyObject(int node, const char *index, const char *name, const char *value)
{
    return QStringLiteral("<CANopenObject index='%1' subIndex='0' nodeId='%2' name='%3' objectType='7' "
                          "dataType='6' accessType='ro' actualValue='%4'/>")
        .arg(QLatin1String(index)).arg(node).arg(QLatin1String(name), QLatin1String(value));
}

} // namespace

class TestStatusProxy : public QObject
{
    Q_OBJECT
private slots:
    void gridOfNodesAndNames()
    {
        ZorObjEditModel table(statProxyListOf(statProxyObject(1, "6041", "A", "10") + statProxyObject(1, "1001", "B", "11")
                                     + statProxyObject(2, "6041", "A", "20")),
                              false);
        ZorStatusProxy proxy;
        proxy.setSourceModel(&table);
        proxy.setup();

        QCOMPARE(proxy.rowCount(), 2);
        QCOMPARE(proxy.columnCount(), 2);
        QCOMPARE(proxy.headerData(0, Qt::Vertical).toString(), QStringLiteral("Node 1"));
        QCOMPARE(proxy.headerData(1, Qt::Vertical).toString(), QStringLiteral("Node 2"));
        QCOMPARE(proxy.headerData(1, Qt::Horizontal).toString(), QStringLiteral("B"));
        QVERIFY(!proxy.headerData(0, Qt::Horizontal, 32).isValid());
        // Cells are the table's Value cells; node 2 has no B. The grid's
        // indexes are its own, so that views can place them.
        QCOMPARE(proxy.index(1, 0).model(), &proxy);
        QCOMPARE(proxy.mapToSource(proxy.index(1, 0)), table.index(2, ZorObjEditModel::ValueColumn));
        QCOMPARE(proxy.index(0, 1).data().toString(), QStringLiteral("11"));
        QVERIFY(!proxy.index(1, 1).isValid());
        // Only Value cells map back, to their own grid cell.
        QCOMPARE(proxy.mapFromSource(table.index(2, ZorObjEditModel::ValueColumn)), proxy.index(1, 0));
        QVERIFY(!proxy.mapFromSource(table.index(2, ZorObjEditModel::NameColumn)).isValid());

        // A value change repaints its own cell, and nothing else; the grid
        // keeps its layout (a view keeps its column widths). A new row
        // waits for setup().
        QList<QModelIndex> changed;
        int layouts = 0;
        connect(&proxy, &QAbstractItemModel::dataChanged,
                [&changed](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                    changed << topLeft << bottomRight;
                });
        connect(&proxy, &QAbstractItemModel::layoutChanged, [&layouts] { ++layouts; });
        QVERIFY(table.setData(table.index(2, ZorObjEditModel::ValueColumn), "99", ZorObjEditModel::RawValueRole));
        QCOMPARE(changed, QList<QModelIndex>({proxy.index(1, 0), proxy.index(1, 0)}));
        QCOMPARE(layouts, 0);
        QCOMPARE(proxy.index(1, 0).data().toString(), QStringLiteral("99"));
        changed.clear();
        QVERIFY(table.setData(table.index(1, ZorObjEditModel::NameColumn), "B2"));
        QVERIFY(changed.isEmpty());
        QVERIFY(table.insertRow(3));
        QCOMPARE(proxy.rowCount(), 2);

        // The grid is a display: its cells are not editable through it.
        QVERIFY(!(proxy.flags(proxy.index(1, 0)) & Qt::ItemIsEditable));
        QVERIFY(proxy.flags(proxy.index(1, 0)) & Qt::ItemIsEnabled);
        QVERIFY(!proxy.setData(proxy.index(1, 0), "5"));
        QCOMPARE(proxy.index(1, 0).data().toString(), QStringLiteral("99"));
    }

    void emptyOrNoSource()
    {
        ZorStatusProxy proxy;
        QCOMPARE(proxy.rowCount(), 0);
        QCOMPARE(proxy.columnCount(), 0);
        ZorObjEditModel table(statProxyListOf(QString()), false);
        proxy.setSourceModel(&table);
        proxy.setup();
        QCOMPARE(proxy.rowCount(), 0);
        QCOMPARE(proxy.columnCount(), 0);
    }
};

ZOR_TEST(TestStatusProxy)
#include "tst_statusproxy.moc"
