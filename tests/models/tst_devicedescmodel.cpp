#include "zordevicedescmodel.h"
#include "zorobjeditmodel.h"
#include "zortest.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

namespace {

QDomDocument documentOf(const QString &text)
{
    QDomDocument doc;
    if (!doc.setContent(text))
        qFatal("fixture is not well-formed XML");
    return doc;
}

QDomDocument listOf(const QString &rows)
{
    return documentOf(QStringLiteral("<CANopenObjectList>") + rows
                      + QStringLiteral("</CANopenObjectList>"));
}

// A small table: a VAR of node 5, an ARRAY whose sub-objects carry no index
// (given in descending order), and a VAR of node 0 ("scan").
const char *const Table = R"x(
<CANopenObjectList>
 <CANopenObject index="1000" subIndex="00" nodeId="5" name="Device Type" objectType="7"
   dataType="0007" accessType="RO" actualValue="131474" zorStatus="1" zorStatusTxt="read ok"/>
 <!-- a comment is no row -->
 <?marker no row either?>
 <CANopenObject index="1018" name="Identity" objectType="8" subNumber="3">
  <CANopenSubObject subIndex="02" name="Product" objectType="7" dataType="0007" zorStatus="3"/>
  <CANopenSubObject subIndex="00" name="Count" objectType="7" dataType="0005"/>
  <CANopenSubObject subIndex="01" name="Vendor" objectType="7" dataType="0007"/>
 </CANopenObject>
 <CANopenObject index="0x6040" subIndex="0" nodeId="0 (Scan)" name="Control" objectType="7"
   dataType="6"/>
</CANopenObjectList>)x";

QDomDocument copiedDocument(QMimeData *mime)
{
    QDomDocument doc;
    if (mime)
        doc.setContent(mime->text());
    delete mime;
    return doc;
}

QStringList describe(const QDomDocument &doc)
{
    // tag index.subIndex@nodeId for each exported element, in order
    QStringList out;
    const QDomElement list = doc.documentElement();
    for (QDomElement e = list.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        out << QStringLiteral("%1 %2.%3@%4")
                   .arg(e.tagName(), e.attribute("index"), e.attribute("subIndex"),
                        e.attribute("nodeId"));
    return out;
}

QMimeData *clip(const QString &objects)
{
    auto *mime = new QMimeData;
    mime->setText(QStringLiteral("<CANopenObjectList>") + objects
                  + QStringLiteral("</CANopenObjectList>"));
    return mime;
}

} // namespace

class TestDeviceDescModel : public QObject
{
    Q_OBJECT

private slots:
    void tableIsFoundByLocalNameAndOnlyObjectsAreRows()
    {
        ZorDeviceDescModel empty(QDomDocument(), false);
        QCOMPARE(empty.document().documentElement().tagName(), QStringLiteral("CANopenObjectList"));
        QCOMPARE(empty.rowCount(), 0);

        // A prefixed CiA 311 table deep inside a description file.
        ZorDeviceDescModel prefixed(documentOf(R"x(
<ISO15745ProfileContainer xmlns:q2="urn:x">
 <q2:ISO15745Profile><q2:ProfileBody>
  <q2:CANopenObjectList>
   <CANopenObject index="1000" name="Device type" objectType="7"/>
   <CANopenObject index="1003" objectType="8"><!-- x -->
    <CANopenSubObject subIndex="00" objectType="7"/>
    <CANopenSubObject subIndex="01" objectType="7"/>
   </CANopenObject>
  </q2:CANopenObjectList>
 </q2:ProfileBody></q2:ISO15745Profile>
</ISO15745ProfileContainer>)x"),
                                    false);
        QCOMPARE(prefixed.rowCount(), 2);
        QCOMPARE(prefixed.rowCount(prefixed.index(1, 0)), 2);
        QCOMPARE(prefixed.index(0, 3).data().toString(), QStringLiteral("Device type"));

        ZorDeviceDescModel model(documentOf(Table), false);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 10);
        QCOMPARE(model.rowCount(model.index(1, 0)), 3);
        QCOMPARE(model.rowCount(model.index(1, 3)), 0);
    }

    void cellsShowAndNumberTheirTexts_data()
    {
        QTest::addColumn<QString>("attributes");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QVariant>("number");
        QTest::newRow("index 0x") << "index='0x1000'" << 0 << "0x1000" << QVariant(4096);
        QTest::newRow("index bare") << "index='1000'" << 0 << "1000h" << QVariant(4096);
        QTest::newRow("index h") << "index=' 1000h '" << 0 << "1000h" << QVariant(4096);
        QTest::newRow("index none") << "name='x'" << 0 << "" << QVariant(0);
        QTest::newRow("subindex 0A") << "subIndex='0A'" << 1 << "0Ah" << QVariant(10);
        QTest::newRow("subindex low byte") << "subIndex='0x1ff'" << 1 << "0x1ff" << QVariant(255);
        QTest::newRow("node") << "nodeId='0x10'" << 2 << "0x10" << QVariant(16);
        QTest::newRow("data type padded") << "dataType='0007'" << 8 << "unsigned32" << QVariant(0);
        QTest::newRow("data type padded hex") << "dataType='000A'" << 8 << "octet_string"
                                              << QVariant(0);
        QTest::newRow("data type decimal") << "dataType='9'" << 8 << "visible_string"
                                           << QVariant(0);
        QTest::newRow("data type unknown") << "dataType='99'" << 8 << "" << QVariant(0);
        QTest::newRow("object type") << "objectType='9'" << 7 << "record" << QVariant(0);
        QTest::newRow("object type empty") << "objectType=''" << 7 << "" << QVariant(0);
        QTest::newRow("access") << "accessType=' RW '" << 9 << "rw" << QVariant(0);
        QTest::newRow("value") << "actualValue='0x12'" << 5 << "0x12" << QVariant(0);
    }
    void cellsShowAndNumberTheirTexts()
    {
        QFETCH(QString, attributes);
        QFETCH(int, column);
        QFETCH(QString, shown);
        QFETCH(QVariant, number);
        ZorDeviceDescModel model(listOf("<CANopenObject " + attributes + "/>"), false);
        const QModelIndex cell = model.index(0, column);
        QCOMPARE(cell.data().toString(), shown);
        QCOMPARE(cell.data().isValid(), !shown.isEmpty());
        QCOMPARE(cell.data(ZorDeviceDescModel::NumberRole), number);
    }

    // CiA 311 writes data types as hexBinary: one to four hex digits, or
    // with "0x"; every form is hexadecimal ("10" is INTEGER24).
    void dataTypesAreHexadecimalInEveryForm_data()
    {
        QTest::addColumn<QString>("dataType");
        QTest::addColumn<QString>("shown");
        static const char *const names[] = {
            "boolean",      "integer8",       "integer16",       "integer32",    "unsigned8",
            "unsigned16",   "unsigned32",     "real32",          "visible_string", "octet_string",
            "unicode_string", "time_of_day",  "time_difference", "reserved",     "domain",
            "integer24",    "real64",         "integer40",       "integer48",    "integer56",
            "integer64",    "unsigned24",     "reserved",        "unsigned40",   "unsigned48",
            "unsigned56",   "unsigned64"};
        for (int code = 1; code <= 0x1b; ++code) {
            const QString name = QLatin1String(names[code - 1]);
            QStringList forms = {QString::number(code, 16).toUpper(), QString::number(code, 16),
                                 QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper(),
                                 QStringLiteral("%1").arg(code, 4, 16, QLatin1Char('0')).toUpper(),
                                 QStringLiteral("0x%1").arg(code, 4, 16, QLatin1Char('0'))};
            forms.removeDuplicates();
            for (const QString &form : qAsConst(forms))
                QTest::addRow("%s", qPrintable(form)) << form << name;
        }
    }
    void dataTypesAreHexadecimalInEveryForm()
    {
        QFETCH(QString, dataType);
        ZorDeviceDescModel model(listOf("<CANopenObject dataType='" + dataType + "'/>"), false);
        QTEST(model.index(0, ZorDeviceDescModel::DataTypeColumn).data().toString(), "shown");
    }

    void rowsGiveDataObjectIdsAndHeaders()
    {
        ZorDeviceDescModel model(documentOf(Table), false);
        QCOMPARE(model.index(0, 4).data().toString(), QStringLiteral("005.1000h.00h"));
        QCOMPARE(model.index(0, 7).data(ZorDeviceDescModel::DataObjectIdRole).toString(),
                 QStringLiteral("005.1000h.00h"));
        // A sub-object without index shows and numbers its parent's.
        const QModelIndex vendor = model.index(2, 0, model.index(1, 0));
        QCOMPARE(vendor.data().toString(), QStringLiteral("1018h"));
        QCOMPARE(vendor.data(ZorDeviceDescModel::DataObjectIdRole).toString(),
                 QStringLiteral("000.1018h.01h"));
        QCOMPARE(model.parent(vendor), model.index(1, 0));
        QVERIFY(!model.parent(model.index(1, 0)).isValid());
        // "0 (Scan)" is node 0.
        QCOMPARE(model.index(2, 4).data().toString(), QStringLiteral("000.6040h.00h"));

        QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), QStringLiteral("Value / Editor"));
        QCOMPARE(model.headerData(8, Qt::Horizontal, ZorDeviceDescModel::AttributeNameRole)
                     .toString(),
                 QStringLiteral("dataType"));
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

        // A freshly inserted row has no attributes: nothing at all.
        QVERIFY(model.insertRow(0));
        QVERIFY(!model.index(0, 4).data().isValid());
        QVERIFY(!model.index(0, 0).data(ZorDeviceDescModel::DataObjectIdRole).isValid());
        QVERIFY(!model.insertRows(0, 1, model.index(1, 0)));
        QVERIFY(!model.insertRows(9, 1));
    }

    void findObjectMatchesNodesAndSubObjects_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("index");
        QTest::addColumn<QString>("sub");
        QTest::addColumn<QString>("found"); // row path, "" for none
        QTest::newRow("exact") << "5" << "1000h" << "0" << "0";
        QTest::newRow("wanted node 0 matches any") << "0" << "0x1000" << "0" << "0";
        QTest::newRow("other node") << "6" << "1000h" << "0" << "";
        QTest::newRow("row node 0 matches any") << "17" << "6040h" << "0" << "2";
        QTest::newRow("subindex 0 is the object row") << "5" << "1018h" << "0" << "1";
        QTest::newRow("sub-object") << "5" << "1018h" << "1" << "1/2";
        QTest::newRow("sub-object listed first") << "5" << "1018h" << "2" << "1/0";
        QTest::newRow("missing sub-object") << "5" << "1018h" << "7" << "";
        QTest::newRow("missing index") << "5" << "2000h" << "0" << "";
    }
    void findObjectMatchesNodesAndSubObjects()
    {
        QFETCH(QString, node);
        QFETCH(QString, index);
        QFETCH(QString, sub);
        QFETCH(QString, found);
        ZorDeviceDescModel model(documentOf(Table), false);
        const QModelIndex hit = model.findObject(node, index, sub);
        QString path;
        if (hit.isValid())
            path = hit.parent().isValid() ? QStringLiteral("%1/%2").arg(hit.parent().row()).arg(hit.row())
                                          : QString::number(hit.row());
        QCOMPARE(path, found);

        const QString id = QStringLiteral("%1.%2h.%3h")
                               .arg(node.toInt(), 3, 10, QLatin1Char('0'))
                               .arg(index.remove('h').remove("0x"))
                               .arg(sub.toInt(), 2, 16, QLatin1Char('0'));
        QCOMPARE(model.findDataObject(id), hit);
    }

    void findDataObjectFollowsTheModelsOwnChanges()
    {
        ZorDeviceDescModel model(documentOf(Table), false);
        QVERIFY(!model.findDataObject(QString()).isValid());
        QVERIFY(!model.findDataObject(QStringLiteral("junk")).isValid());
        QVERIFY(model.removeRow(0));
        QVERIFY(!model.findDataObject(QStringLiteral("005.1000h.00h")).isValid());
        QCOMPARE(model.findDataObject(QStringLiteral("000.6040h.00h")).row(), 1);
    }

    void uiFormatEntries_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("written"); // after setFormatEntry(format, key, value)
        QTest::newRow("into empty") << "" << "shape" << "dial" << "shape:dial";
        QTest::newRow("replaced in place") << "Shape:text; step:1" << "shape" << "dial"
                                           << "shape:dial; step:1";
        QTest::newRow("appended") << "updates:r1000;;  shape : slider " << "range" << "0,255"
                                  << "updates:r1000; shape : slider; range:0,255";
        QTest::newRow("value with colon") << "type:text; fmt: a:b " << "FMT" << "x"
                                          << "type:text; FMT:x";
    }
    void uiFormatEntries()
    {
        QFETCH(QString, format);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, written);
        QString changed = format;
        ZorDeviceDescModel::setFormatEntry(changed, key, value);
        QCOMPARE(changed, written);
        QCOMPARE(ZorDeviceDescModel::formatEntry(changed, key), value);
    }
    void uiFormatReading()
    {
        QCOMPARE(ZorDeviceDescModel::formatEntry("a:1; A:2", "a"), QStringLiteral("2"));
        QCOMPARE(ZorDeviceDescModel::formatEntry("fmt: a:b ; x:1", "Fmt"), QStringLiteral("a:b"));
        QCOMPARE(ZorDeviceDescModel::formatEntry("updates:r", "shape"), QString());
    }

    void copyExportsVarObjectsInPlaceOrder()
    {
        // Through the edit model, which strips its status attributes.
        ZorObjEditModel model(documentOf(Table), false);
        const QDomDocument all = copiedDocument(model.allObjectsMimeData());
        QCOMPARE(describe(all), QStringList({"CANopenObject 1000.00@5",
                                             "CANopenSubObject 1018.00@",
                                             "CANopenSubObject 1018.01@",
                                             "CANopenSubObject 1018.02@",
                                             "CANopenObject 0x6040.0@0"}));
        const QString text = all.toString();
        QVERIFY(!text.contains("zorStatus"));
        QVERIFY(text.contains("read ok") == false);
        QVERIFY(!text.contains("scan", Qt::CaseInsensitive));

        // Only the array row selected: only its VAR sub-objects.
        const QDomDocument array =
            copiedDocument(model.mimeData({model.index(1, 3), model.index(1, 0)}));
        QCOMPARE(describe(array), QStringList({"CANopenSubObject 1018.00@",
                                               "CANopenSubObject 1018.01@",
                                               "CANopenSubObject 1018.02@"}));

        // A selection is keyed by parent and row: row 0 of the table and
        // row 0 of the array's sub-objects are two rows.
        const QModelIndex product = model.index(0, 3, model.index(1, 0));
        const QDomDocument two = copiedDocument(model.mimeData({model.index(0, 5), product}));
        QCOMPARE(describe(two), QStringList({"CANopenObject 1000.00@5",
                                             "CANopenSubObject 1018.02@"}));
        QVERIFY(!model.mimeData({model.index(1, 0, model.index(0, 0))}));
    }

    void lockedModelShowsAndCopiesItsNodeId()
    {
        ZorDeviceDescModel model(documentOf(Table), true);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.setLockedNodeId(QStringLiteral(" 12 "));
        model.setLockedNodeId(QStringLiteral("12"));
        QCOMPARE(reset.size(), 1);
        QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("12"));
        QCOMPARE(model.index(0, 2).data(ZorDeviceDescModel::NumberRole), QVariant("12"));
        QCOMPARE(model.index(2, 4).data().toString(), QStringLiteral("012.6040h.00h"));
        QVERIFY(!(model.flags(model.index(0, 2)) & Qt::ItemIsEnabled));
        QVERIFY(model.flags(model.index(0, 2)) & Qt::ItemIsDragEnabled);
        QVERIFY(model.flags(model.index(0, 3)) & Qt::ItemIsEnabled);
        QVERIFY(!(model.flags(model.index(0, 3)) & Qt::ItemIsEditable));
        QCOMPARE(model.flags(QModelIndex()), Qt::ItemIsDropEnabled);

        QCOMPARE(describe(copiedDocument(model.mimeData({model.index(0, 0)}))),
                 QStringList({"CANopenObject 1000.00@12"}));
        // Locked to "0 (Scan)": the copy keeps the wildcard 0.
        model.setLockedNodeId(QStringLiteral("0 (Scan)"));
        QCOMPARE(describe(copiedDocument(model.mimeData({model.index(0, 0)}))),
                 QStringList({"CANopenObject 1000.00@0"}));
    }

    void dropMergesByIdOrInsertsInIdOrder()
    {
        ZorDeviceDescModel model(listOf(R"x(
 <CANopenObject index="1000" nodeId="1" objectType="7" name="a"/>
 <CANopenObject index="2000" nodeId="1" objectType="7" name="b"/>)x"),
                                 false);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        QScopedPointer<QMimeData> existing(clip(R"x(<CANopenObject index="2000" nodeId="1"
            name="renamed" zorUiFormat="updates:r"/>)x"));
        QVERIFY(model.dropMimeData(existing.data(), Qt::CopyAction, -1, -1, QModelIndex()));
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, 3).data().toString(), QStringLiteral("renamed"));
        QCOMPARE(model.elementOf(model.index(1, 0)).attribute("objectType"), QStringLiteral("7"));
        QVERIFY(changed.isEmpty());
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 0));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, 9));

        QScopedPointer<QMimeData> fresh(clip(R"x(
            <CANopenSubObject index="1800" subIndex="1" nodeId="1" name="c"/>
            <CANopenObject index="3000" nodeId="1" name="d"><CANopenSubObject/></CANopenObject>
            <CANopenObject/>)x"));
        QVERIFY(model.dropMimeData(fresh.data(), Qt::MoveAction, 0, 0, model.index(0, 0)));
        QStringList names;
        for (int r = 0; r < model.rowCount(); ++r)
            names << model.index(r, 3).data().toString();
        // The attribute-less element has the empty id and goes first.
        QCOMPARE(names, QStringList({"", "a", "c", "renamed", "d"}));
        QCOMPARE(model.elementOf(model.index(2, 0)).tagName(), QStringLiteral("CANopenSubObject"));
        QCOMPARE(model.rowCount(model.index(4, 0)), 0);

        QScopedPointer<QMimeData> broken(clip("<CANopenObject"));
        broken->setText("<CANopenObjectList><unclosed>");
        QVERIFY(!model.dropMimeData(broken.data(), Qt::CopyAction, 0, 0, QModelIndex()));
        QVERIFY(!model.dropMimeData(fresh.data(), Qt::LinkAction, 0, 0, QModelIndex()));
        QCOMPARE(model.rowCount(), 5);
    }

    void removeRowsTakesTheSelectedRowsOnly()
    {
        ZorDeviceDescModel model(documentOf(Table), false);
        QVERIFY(!model.removeRows(QModelIndexList()));
        // Row 0 of the sub-objects is not row 0 of the table.
        QVERIFY(!model.removeRows({model.index(0, 2, model.index(1, 0))}));
        QCOMPARE(model.rowCount(), 3);
        QVERIFY(model.removeRows({model.index(2, 1), model.index(0, 4), model.index(0, 7)}));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.index(0, 3).data().toString(), QStringLiteral("Identity"));
        QCOMPARE(model.document().documentElement().elementsByTagName("CANopenObject").size(), 1);
        QVERIFY(!model.removeRows(1, 1));
        QVERIFY(model.removeRows(0, 5));
        QCOMPARE(model.rowCount(), 0);
    }
};

ZOR_TEST(TestDeviceDescModel)
#include "tst_devicedescmodel.moc"
