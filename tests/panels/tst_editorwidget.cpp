#include "zoreditorwidget.h"
#include "zorobjeditmodel.h"
#include "zortest.h"

#include <QComboBox>
#include <QDial>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

namespace {

struct Controls
{
    QDial *dial;
    QSlider *slider;
    QLineEdit *line;
    QComboBox *combo;
    QLabel *name;
};

Controls controlsOf(ZorEditorWidget &w)
{
    return {w.findChild<QDial *>("dial"), w.findChild<QSlider *>("horizontalSlider"),
            w.findChild<QLineEdit *>("lineEdit"), w.findChild<QComboBox *>("comboBox"),
            w.findChild<QLabel *>("labelName")};
}

// Which controls show: d(ial), s(lider), l(ine edit), c(ombo box).
QString shown(ZorEditorWidget &w)
{
    const Controls c = controlsOf(w);
    QString out;
    if (c.dial->isVisibleTo(&w))
        out += 'd';
    if (c.slider->isVisibleTo(&w))
        out += 's';
    if (c.line->isVisibleTo(&w))
        out += 'l';
    if (c.combo->isVisibleTo(&w))
        out += 'c';
    return out;
}

// Rows of a node panel's table: name, value, access, editor spec, scaling.
QDomDocument rows()
{
    QDomDocument doc;
    doc.setContent(QStringLiteral(R"x(<CANopenObjectList>
 <CANopenObject index="2000" nodeId="1" name="Speed" objectType="7" dataType="6" accessType="rw"
   actualValue="10" zorUiFormat="type:integer; range:0,250" zorComment="in rpm"/>
 <CANopenObject index="2001" nodeId="1" name="Gain" objectType="7" dataType="8" accessType="rw"
   actualValue="0.5" zorUiFormat="type:float; range:0,2.5"/>
 <CANopenObject index="2002" nodeId="1" name="Mode" objectType="7" dataType="5" accessType="rw"
   actualValue="1" zorUiFormat="type:combo; options:0,Off|1,On"/>
 <CANopenObject index="2003" nodeId="1" name="Temperature" objectType="7" dataType="6" accessType="ro"
   actualValue="40" zorUiFormat="type:integer; range:0,100"/>
 <CANopenObject index="2004" nodeId="1" name="Label" objectType="7" dataType="9" accessType="rw"
   actualValue="abc" zorUiFormat="type:text"/>
</CANopenObjectList>)x"));
    return doc;
}

QString value(const ZorObjEditModel &model, int row)
{
    return model.index(row, 5).data(ZorObjEditModel::RawValueRole).toString();
}

} // namespace

class TestEditorWidget : public QObject
{
    Q_OBJECT

private slots:
    void normalizeSpec_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("spec");
        QTest::newRow("dial") << "shape:dial; range:0,100; step:5" << "type:integer; range:0,100";
        QTest::newRow("radio") << "type:radio; range:0:Off,1:On" << "type:combo; options:0,Off|1,On";
        QTest::newRow("float") << "type:float; updates:r1000" << "type:float";
        QTest::newRow("shape and type") << "shape:slider; type:float" << "type:integer; type:float";
        QTest::newRow("three options") << "shape:radio; range:0:A,1:B,2:C"
                                       << "type:combo; options:0,A|1,B|2,C";
        QTest::newRow("three numbers") << "range:1,2,3" << "options:";
        QTest::newRow("label") << "updates:r; shape:label" << "type:text";
        QTest::newRow("other keys kept") << "Decimals:2;  ; shape:bitfield" << "type:text; decimals:2";
    }
    void normalizeSpec()
    {
        QFETCH(QString, format);
        QFETCH(QString, spec);
        QCOMPARE(ZorEditorWidget::normalizeSpec(format), spec);
    }

    void specsMakeTheirControls_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("scaling");
        QTest::addColumn<QString>("controls");
        QTest::addColumn<int>("singleStep");
        QTest::addColumn<int>("pageStep");
        QTest::addColumn<QString>("title");
        QTest::newRow("integer") << "type:integer; range:0,250" << "" << "dsl" << 2 << 12 << "Obj [0 - 250]";
        QTest::newRow("factor 0.1") << "type:integer; range:0,250" << "0.1" << "dsl" << 1 << 1 << "Obj [0 - 250]";
        QTest::newRow("factor 5") << "type:integer; range:0,250" << "5" << "dsl" << 5 << 5 << "Obj [0 - 250]";
        QTest::newRow("formula") << "type:integer; range:0,250" << "=x*3" << "dsl" << 1 << 5 << "Obj [0 - 250]";
        QTest::newRow("million") << "range:0,1000000" << "" << "dsl" << 10000 << 50000 << "Obj [0 - 1e+06]";
        QTest::newRow("float") << "type:float; range:0,2.5" << "" << "dsl" << 2 << 12 << "Obj [0 - 2.5]";
        QTest::newRow("combo") << "type:combo; options:0,Off|1,On" << "" << "c" << -1 << -1 << "Obj";
        QTest::newRow("text") << "type:text; range:0,10" << "" << "l" << -1 << -1 << "Obj";
        QTest::newRow("no range") << "type:integer" << "" << "l" << -1 << -1 << "Obj";
        QTest::newRow("unknown kind, words") << "type:dial; range:a,b" << "" << "l" << -1 << -1 << "Obj";
    }
    void specsMakeTheirControls()
    {
        QFETCH(QString, spec);
        QFETCH(QString, scaling);
        QFETCH(QString, controls);
        QFETCH(int, singleStep);
        QFETCH(int, pageStep);
        QFETCH(QString, title);
        ZorEditorWidget w;
        w.setValueName("Obj");
        w.updateAccess(QModelIndex()); // read-only ...
        w.applySpec("type:integer; range:0,9", "");
        QVERIFY(!shown(w).contains('d')); // ... so no dial
        QVERIFY(!controlsOf(w).slider->isEnabled());

        ZorObjEditModel model(rows(), false);
        w.updateAccess(model.index(0, 0));
        w.applySpec(spec, scaling);
        const Controls c = controlsOf(w);
        QCOMPARE(shown(w), controls);
        QCOMPARE(c.name->text(), title);
        if (singleStep > 0) {
            QCOMPARE(c.slider->singleStep(), singleStep);
            QCOMPARE(c.dial->pageStep(), pageStep);
        }
    }

    void comboSpecListsItsOptions()
    {
        ZorEditorWidget w;
        w.applySpec("type:combo; options:0,Off|1,On|", "");
        const QComboBox *combo = controlsOf(w).combo;
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("Off (0)"));
        QCOMPARE(combo->itemData(1).toString(), QStringLiteral("1"));
        QCOMPARE(w.kind(), int(ZorEditorWidget::Combo));
        // A combo spec without options keeps the items it had.
        w.applySpec("type:combo", "");
        QCOMPARE(combo->count(), 2);
    }

    void selectingARowShowsItAndEditsGoBack()
    {
        ZorObjEditModel model(rows(), false);
        ZorEditorWidget w;
        w.setModel(&model);
        const Controls c = controlsOf(w);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        w.selected(model.index(0, 3));
        QCOMPARE(w.boundCell(), model.index(0, 5));
        QCOMPARE(c.name->text(), QStringLiteral("Speed [0 - 250]"));
        QCOMPARE(w.findChild<QLabel *>("labelComment")->text(), QStringLiteral("in rpm"));
        QCOMPARE(c.slider->value(), 10);
        QCOMPARE(c.line->text(), QStringLiteral("10"));
        QVERIFY(changed.isEmpty());

        // The slider writes 40 once; the model's change does not echo.
        c.slider->setValue(40);
        QCOMPARE(value(model, 0), QStringLiteral("40"));
        QCOMPARE(c.dial->value(), 40);
        QCOMPARE(c.line->text(), QStringLiteral("40"));
        const int writes = changed.size();
        QVERIFY(writes > 0);
        c.dial->setValue(40);
        QCOMPARE(changed.size(), writes);

        // Typing beyond the range is refused; a text below it stays out of
        // the model until it fits.
        c.line->setFocus();
        c.line->selectAll();
        QTest::keyClicks(c.line, "300");
        QCOMPARE(c.line->text(), QStringLiteral("30"));
        QCOMPARE(value(model, 0), QStringLiteral("30"));
        w.applySpec("type:integer; range:10,250", "");
        c.line->clear();
        QTest::keyClicks(c.line, "5");
        QCOMPARE(value(model, 0), QStringLiteral("30"));
        QTest::keyClicks(c.line, "0");
        QCOMPARE(value(model, 0), QStringLiteral("50"));

        // A change in the table comes back into the controls.
        QVERIFY(model.setData(model.index(0, 5), "77", ZorObjEditModel::RawValueRole));
        QCOMPARE(c.slider->value(), 77);
        QCOMPARE(w.value(), QStringLiteral("77"));
    }

    void floatObjectsKeepTheirDecimals()
    {
        ZorObjEditModel model(rows(), false);
        ZorEditorWidget w;
        w.setModel(&model);
        const Controls c = controlsOf(w);
        w.selected(model.index(1, 0));
        QCOMPARE(w.kind(), int(ZorEditorWidget::Float));
        QCOMPARE(c.slider->minimum(), 0);
        QCOMPARE(c.slider->maximum(), 250);
        QCOMPARE(c.slider->value(), 50);

        c.slider->setValue(137);
        QCOMPARE(value(model, 1), QStringLiteral("1.37"));
        c.line->selectAll();
        QTest::keyClicks(c.line, "2.25");
        QCOMPARE(value(model, 1), QStringLiteral("2.25"));
        QCOMPARE(c.dial->value(), 225);
        c.line->selectAll();
        QTest::keyClicks(c.line, "3");
        QCOMPARE(value(model, 1), QStringLiteral("2.25"));
    }

    void comboTextAndAccess()
    {
        ZorObjEditModel model(rows(), false);
        ZorEditorWidget w;
        w.setModel(&model);
        const Controls c = controlsOf(w);

        w.selected(model.index(2, 0));
        QCOMPARE(shown(w), QStringLiteral("c"));
        QCOMPARE(c.combo->currentText(), QStringLiteral("On (1)"));
        c.combo->setCurrentIndex(0);
        QCOMPARE(value(model, 2), QStringLiteral("0"));
        QVERIFY(model.setData(model.index(2, 5), "7", ZorObjEditModel::RawValueRole));
        QCOMPARE(c.combo->currentIndex(), -1);

        w.selected(model.index(3, 0)); // read-only, ranged
        QVERIFY(w.isReadOnly());
        QCOMPARE(shown(w), QStringLiteral("sl"));
        QVERIFY(!c.slider->isEnabled() && !c.line->isEnabled());

        w.selected(model.index(4, 0)); // text: free input, no validator left over
        QCOMPARE(shown(w), QStringLiteral("l"));
        QCOMPARE(c.name->text(), QStringLiteral("Label"));
        QVERIFY(c.line->isEnabled());
        c.line->selectAll();
        QTest::keyClicks(c.line, "xyz");
        QCOMPARE(value(model, 4), QStringLiteral("xyz"));

        w.selected(QModelIndex());
        QVERIFY(w.isReadOnly());
        QCOMPARE(c.name->text(), QString());
        QVERIFY(!w.boundCell().isValid());
    }

    void accessText_data()
    {
        QTest::addColumn<QString>("access");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("r") << "r" << true;
        QTest::newRow("ro") << "ro" << true;
        QTest::newRow("rw") << "rw" << false;
        QTest::newRow("w") << "w" << false;
        QTest::newRow("empty") << "" << false;
    }
    void accessText()
    {
        QFETCH(QString, access);
        QFETCH(bool, readOnly);
        QDomDocument doc;
        doc.setContent(QStringLiteral("<CANopenObjectList><CANopenObject index='1' accessType='%1'/>"
                                      "</CANopenObjectList>").arg(access));
        ZorObjEditModel model(doc, false);
        ZorEditorWidget w;
        w.updateAccess(model.index(0, 0));
        QCOMPARE(w.isReadOnly(), readOnly);
    }
};

ZOR_TEST(TestEditorWidget)
#include "tst_editorwidget.moc"
