// The operator-screen object table: its Instances column and that it takes
// no drops onto the table, while objects still come in through the model.
#include "zordynamicuieditmodel.h"
#include "zortest.h"

#include <QMimeData>
#include <QTest>

class TestDynamicUiEditModel : public QObject
{
    Q_OBJECT
private slots:
    void instancesColumnAndNoDrops()
    {
        QDomDocument doc;
        QVERIFY(doc.setContent(QStringLiteral(
            "<CANopenObjectList><CANopenObject index='6040' subIndex='0' nodeId='1' name='Control' "
            "objectType='7' dataType='6' accessType='rw' actualValue='0'/></CANopenObjectList>")));
        ZorDynamicUiEditModel model(doc, false);

        QCOMPARE(model.columnCount(), 15);
        QCOMPARE(model.headerData(14, Qt::Horizontal).toString(), QStringLiteral("Instances"));
        QCOMPARE(model.headerData(14, Qt::Horizontal, 32).toString(), QStringLiteral("dynamicUiInstances"));
        QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), QStringLiteral("Value"));
        QCOMPARE(model.headerData(5, Qt::Horizontal, 32).toString(), QStringLiteral("actualValue"));

        for (const QModelIndex &i : {QModelIndex(), model.index(0, 0), model.index(0, 5), model.index(0, 14)})
            QVERIFY(!(model.flags(i) & Qt::ItemIsDropEnabled));
        QVERIFY(model.flags(model.index(0, 14)) & Qt::ItemIsEditable);

        // Instances is stored as an attribute; the status stays as it was.
        QVERIFY(model.setData(model.index(0, 14), "3"));
        const QDomElement e = model.elementOf(model.index(0, 0));
        QCOMPARE(e.attribute("dynamicUiInstances"), QStringLiteral("3"));
        QVERIFY(!e.hasAttribute("zorStatus"));
        QCOMPARE(model.index(0, 14).data().toString(), QStringLiteral("3"));
        // A value edit marks the row modified as in every object table.
        QVERIFY(model.setData(model.index(0, 5), "15"));
        QCOMPARE(e.attribute("zorStatus"), QStringLiteral("2"));

        // The panel adds objects through the model.
        QDomDocument otherDoc;
        QVERIFY(otherDoc.setContent(QStringLiteral(
            "<CANopenObjectList><CANopenObject index='6041' subIndex='0' nodeId='1' name='Status' "
            "objectType='7' dataType='6' accessType='ro'/></CANopenObjectList>")));
        ZorObjEditModel other(otherDoc, false);
        QScopedPointer<QMimeData> data(other.allObjectsMimeData());
        QVERIFY(data);
        QVERIFY(model.dropMimeData(data.data(), Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(model.rowCount(), 2);
    }
};

ZOR_TEST(TestDynamicUiEditModel)
#include "tst_dynamicuieditmodel.moc"
