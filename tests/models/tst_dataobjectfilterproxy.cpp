// The search filter over a dictionary tree: which rows stay visible for a
// filter text.
#include "zordataobjectfilterproxy.h"
#include "zordevicedictmodel.h"
#include "zortest.h"

#include <QItemSelectionModel>
#include <QTest>

namespace {

const char *const filterProxyTree = R"x(<CANopenObjectList>
 <CANopenObject index="1000" name="Device type" objectType="7" dataType="7"/>
 <CANopenObject index="1018" name="Identity" objectType="9">
  <CANopenSubObject subIndex="0" name="Highest sub-index" objectType="7" dataType="5"/>
  <CANopenSubObject subIndex="1" name="Vendor-ID" objectType="7" dataType="7"/>
  <CANopenSubObject subIndex="2" name="Product code" objectType="7" dataType="7"/>
 </CANopenObject>
 <CANopenObject index="60FF" name="Target velocity" objectType="7" dataType="4"/>
 <CANopenObject index="6401" name="Analog input" objectType="8">
  <CANopenSubObject subIndex="0" name="Highest sub-index" objectType="7" dataType="5"/>
  <CANopenSubObject subIndex="1" name="Input 1" objectType="7" dataType="3"/>
 </CANopenObject>
</CANopenObjectList>)x";

// The visible rows as "name" and "  sub name" lines, in tree order.
QStringList filterProxyVisible(const QAbstractItemModel &proxy)
{
    QStringList rows;
    for (int r = 0; r < proxy.rowCount(); ++r) {
        const QModelIndex object = proxy.index(r, 3);
        rows << object.data().toString();
        const QModelIndex first = proxy.index(r, 0);
        for (int c = 0; c < proxy.rowCount(first); ++c)
            rows << "  " + proxy.index(c, 3, first).data().toString();
    }
    return rows;
}

} // namespace

class TestDataObjectFilterProxy : public QObject
{
    Q_OBJECT

    QDomDocument doc;
    std::unique_ptr<ZorDeviceDictModel> model;
    std::unique_ptr<ZorDataObjectFilterProxy> proxy;

private slots:
    void init()
    {
        doc.setContent(QString::fromLatin1(filterProxyTree));
        model.reset(new ZorDeviceDictModel(doc));
        model->setLockedNodeId("1");
        proxy.reset(new ZorDataObjectFilterProxy);
        proxy->setSourceModel(model.get());
        proxy->filterColumns = {3, 4};
        proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    }

    void filterKeepsWhatMakesAMatchVisible_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("rows");
        const QStringList all = {"Device type", "Identity", "  Highest sub-index", "  Vendor-ID",
                                 "  Product code", "Target velocity", "Analog input",
                                 "  Highest sub-index", "  Input 1"};
        QTest::newRow("empty") << "" << all;
        // A matching object keeps all of its sub-objects.
        QTest::newRow("object by name") << "identity"
                                        << QStringList{"Identity", "  Highest sub-index", "  Vendor-ID",
                                                       "  Product code"};
        QTest::newRow("object by id") << "60ff" << QStringList{"Target velocity"};
        QTest::newRow("sub-objects by id") << "1018h.0"
                                           << QStringList{"Identity", "  Highest sub-index",
                                                          "  Vendor-ID", "  Product code"};
        // A matching sub-object keeps its parent, not its siblings.
        QTest::newRow("sub-object") << "vendor" << QStringList{"Identity", "  Vendor-ID"};
        QTest::newRow("sub-objects of two objects")
            << "highest" << QStringList{"Identity", "  Highest sub-index", "Analog input", "  Highest sub-index"};
        QTest::newRow("wildcard") << "in*1" << QStringList{"Analog input", "  Input 1"};
        QTest::newRow("none") << "nothing" << QStringList{};
    }
    void filterKeepsWhatMakesAMatchVisible()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, rows);
        proxy->setFilterWildcard(filter);
        QCOMPARE(filterProxyVisible(*proxy), rows);
    }

    void noFilterColumnsShowNothing()
    {
        proxy->filterColumns.clear();
        proxy->setFilterWildcard("");
        QCOMPARE(proxy->rowCount(), 0);
    }

    void selectionMapsToTheSource()
    {
        proxy->setFilterWildcard("vendor");
        QItemSelectionModel selection(proxy.get());
        const QModelIndex vendor = proxy->index(0, 0, proxy->index(0, 0));
        selection.select(vendor, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QModelIndexList source = proxy->selectedSourceIndexes(selection.selection());
        QVERIFY(!source.isEmpty());
        for (const QModelIndex &i : source) {
            QCOMPARE(i.model(), model.get());
            QCOMPARE(i.data(ZorDeviceDescModel::DataObjectIdRole).toString(), QStringLiteral("001.1018h.01h"));
        }
    }
};

ZOR_TEST(TestDataObjectFilterProxy)
#include "tst_dataobjectfilterproxy.moc"
