// The monitoring list as an object table: the Sampling and Rate columns as
// shown, stored and edited (also through the delegate's editors), and the
// list text the table turns into.
#include "zordaqobject.h"
#include "zormonitoredititemdelegate.h"
#include "zormonitoringeditmodel.h"
#include "zortest.h"

#include <QComboBox>
#include <QSpinBox>
#include <QStyleOptionViewItem>
#include <QTest>

namespace {

QDomDocument monEditListOf(const QString &rows)
{
    QDomDocument doc;
    if (!doc.setContent("<CANopenObjectList>" + rows + "</CANopenObjectList>"))
        qFatal("fixture is not well-formed XML");
    return doc;
}

// Row 0: 6064h integer32 of node 1; row 1: 2001h unsigned16 of node 2 with
// a comma in its name; row 2: 1008h visible string without monitoring
// attributes.
const char *const monEditTable = R"x(
 <CANopenObject index="6064" subIndex="0" nodeId="1" name="Position" objectType="7" dataType="4"
   accessType="ro" monitorMethod="TPDO1.0.4" monitorInterval="250"/>
 <CANopenObject index="2001" subIndex="0" nodeId="2" name="Velocity, actual" objectType="7" dataType="6"
   accessType="rw" monitorMethod="2" monitorInterval="20"/>
 <CANopenObject index="1008" subIndex="0" nodeId="2" name="Name" objectType="7" dataType="9"
   accessType="const"/>
)x";

QString monEditAttribute(const ZorMonitoringEditModel &model, int row, const char *name)
{
    return model.elementOf(model.index(row, 0)).attribute(QLatin1String(name));
}

} // namespace

class TestMonitoringEditModel : public QObject
{
    Q_OBJECT
private slots:
    void columnsAndHeaders()
    {
        ZorMonitoringEditModel model(monEditListOf(monEditTable));
        QCOMPARE(model.columnCount(), 16);
        QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), QStringLiteral("Value"));
        QCOMPARE(model.headerData(5, Qt::Horizontal, 32).toString(), QStringLiteral("actualValue"));
        QCOMPARE(model.headerData(14, Qt::Horizontal).toString(), QStringLiteral("Sampling"));
        QCOMPARE(model.headerData(14, Qt::Horizontal, 32).toString(), QStringLiteral("monitorMethod"));
        QCOMPARE(model.headerData(15, Qt::Horizontal).toString(), QStringLiteral("Rate"));
        QCOMPARE(model.headerData(15, Qt::Horizontal, 32).toString(), QStringLiteral("monitorInterval"));
        QCOMPARE(model.headerData(2, Qt::Vertical).toString(), QStringLiteral("3"));
    }

    void storedAttributesAsShown_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("shownMethod");
        QTest::addColumn<int>("shownInterval");
        QTest::newRow("method number 0") << "0" << "100" << "Off" << 100;
        QTest::newRow("method number 3") << "3" << "60001" << "RPDO" << 60000;
        QTest::newRow("empty") << "" << "" << "Software" << 100;
        QTest::newRow("text kept as stored") << "TPDO2.6.2" << "49" << "TPDO2.6.2" << 50;
        QTest::newRow("interval not a number") << "Off" << "abc" << "Off" << 100;
    }

    void storedAttributesAsShown()
    {
        QFETCH(QString, method);
        QFETCH(QString, interval);
        ZorMonitoringEditModel model(monEditListOf(QStringLiteral(
            "<CANopenObject index='6064' nodeId='1' name='P' dataType='4' monitorMethod='%1' "
            "monitorInterval='%2'/>").arg(method, interval)));
        QTEST(model.index(0, 14).data().toString(), "shownMethod");
        QTEST(model.index(0, 15).data(Qt::EditRole).toInt(), "shownInterval");
    }

    void editsStoreCanonicalTexts_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("stored");
        QTest::newRow("comma to point, length of the type") << 1 << " tpdo2,6 " << "TPDO2.6.2";
        QTest::newRow("past the frame") << 0 << "RPDO1.7.4" << "RPDO1.7.1";
        QTest::newRow("pdo number out of range") << 1 << "TPDO9" << "TPDO1.0.2";
        QTest::newRow("type without size") << 2 << "TPDO" << "TPDO1.0.1";
        QTest::newRow("hardware in any case") << 0 << "hardware" << "Hardware";
        QTest::newRow("unknown") << 0 << "foo" << "Software";
        QTest::newRow("prefix must be whole") << 0 << "hard" << "Software";
        QTest::newRow("Offset reads as Off") << 0 << "Offset" << "Off";
    }

    void editsStoreCanonicalTexts()
    {
        QFETCH(int, row);
        QFETCH(QString, method);
        ZorMonitoringEditModel model(monEditListOf(monEditTable));
        QVERIFY(model.setData(model.index(row, 14), method));
        QTEST(monEditAttribute(model, row, "monitorMethod"), "stored");
        // Neither column touches the row's status.
        QCOMPARE(monEditAttribute(model, row, "zorStatus"), QString());
    }

    void rateEditsAreClamped()
    {
        ZorMonitoringEditModel model(monEditListOf(monEditTable));
        for (const auto &c : {qMakePair(QString("20"), QString("50")), qMakePair(QString("70000"), QString("60000")),
                              qMakePair(QString("0"), QString("100")), qMakePair(QString("1250"), QString("1250"))}) {
            QVERIFY(model.setData(model.index(0, 15), c.first));
            QCOMPARE(monEditAttribute(model, 0, "monitorInterval"), c.second);
        }
    }

    void editableColumns()
    {
        for (bool locked : {false, true}) {
            ZorMonitoringEditModel model(monEditListOf(monEditTable), nullptr, locked);
            QStringList editable;
            for (int column = 0; column < model.columnCount(); ++column) {
                if (model.flags(model.index(0, column)) & Qt::ItemIsEditable)
                    editable << model.headerData(column, Qt::Horizontal).toString();
            }
            QCOMPARE(editable, locked ? QStringList({"Name", "Scaling"})
                                      : QStringList({"Name", "Scaling", "Sampling", "Rate"}));
        }
    }

    // A comma in an object name never shifts the fields of a line, and the
    // text reads back into the same entries.
    void monitorConfigurationRoundTrips()
    {
        ZorMonitoringEditModel model(monEditListOf(monEditTable));
        const QString text = model.monitorConfiguration();
        QCOMPARE(text, QStringLiteral("001.6064h.00h,Position,integer32,TPDO1.0.4,250\n"
                                      "002.2001h.00h,Velocity; actual,unsigned16,TPDO1.0.2,50\n"
                                      "002.1008h.00h,Name,visible_string,Software,100\n"));
        const auto list = ZorDaqObject::listFromText(text);
        QCOMPARE(list.size(), 3);
        const ZorDaqObject velocity = list.value("002.2001h.00h");
        QCOMPARE(velocity.name(), QStringLiteral("Velocity; actual"));
        QCOMPARE(velocity.method(), int(ZorDaqObject::Tpdo));
        QCOMPARE(velocity.pdoByteLength(), 2);
        QCOMPARE(velocity.intervalMs(), 50);
        QCOMPARE(ZorDaqObject::listToText(list).split('\n', Qt::SkipEmptyParts).size(), 3);
    }

    void valueTooltipEndsBeforeItsHint()
    {
        ZorMonitoringEditModel model(monEditListOf(monEditTable));
        // The base tooltip of a read-only value goes on ". Read Only."
        const QString tip = model.index(0, 5).data(Qt::ToolTipRole).toString();
        QCOMPARE(tip, QStringLiteral("Value = , Type = integer32"));
    }

    void delegateEditors()
    {
        ZorMonitoringEditModel model(monEditListOf(monEditTable));
        ZorMonitorEditItemDelegate delegate;
        QWidget parent;
        const QStyleOptionViewItem option;

        QScopedPointer<QWidget> editor(delegate.createEditor(&parent, option, model.index(1, 14)));
        auto *box = qobject_cast<QComboBox *>(editor.data());
        QVERIFY(box && box->isEditable());
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        QCOMPARE(items, QStringList({"Off", "Software", "TPDO1.0.1", "RPDO1.0.1"}));
        // "TPDO" (method 2) is shown; no item equals it, so it is the edit text.
        delegate.setEditorData(box, model.index(1, 14));
        QCOMPARE(box->currentText(), QStringLiteral("TPDO"));
        box->setEditText("software");
        delegate.setModelData(box, &model, model.index(1, 14));
        QCOMPARE(monEditAttribute(model, 1, "monitorMethod"), QStringLiteral("Software"));
        box->setEditText("rpdo2.4");
        delegate.setModelData(box, &model, model.index(1, 14));
        QCOMPARE(monEditAttribute(model, 1, "monitorMethod"), QStringLiteral("RPDO2.4.2"));

        editor.reset(delegate.createEditor(&parent, option, model.index(0, 15)));
        auto *spin = qobject_cast<QSpinBox *>(editor.data());
        QVERIFY(spin);
        QCOMPARE(spin->minimum(), 50);
        QCOMPARE(spin->maximum(), 60000);
        QCOMPARE(spin->singleStep(), 10);
        delegate.setEditorData(spin, model.index(0, 15));
        QCOMPARE(spin->value(), 250);
        spin->setValue(3000);
        delegate.setModelData(spin, &model, model.index(0, 15));
        QCOMPARE(monEditAttribute(model, 0, "monitorInterval"), QStringLiteral("3000"));

        QStyleOptionViewItem cell;
        cell.rect = QRect(10, 20, 80, 18);
        delegate.updateEditorGeometry(spin, cell, model.index(0, 15));
        QCOMPARE(spin->geometry(), cell.rect);
        QCOMPARE(delegate.sizeHint(option, model.index(0, 14)).width(),
                 QItemDelegate().sizeHint(option, model.index(0, 14)).width() + 20);
    }
};

ZOR_TEST(TestMonitoringEditModel)
#include "tst_monitoringeditmodel.moc"
