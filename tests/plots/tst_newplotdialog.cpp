// The new-plot dialog and its curve record: colours by table row, the
// refusal of an empty selection, the title field, the preselection, and
// the record's XML element surviving any text.
#include "zornewplotdialog.h"
#include "zorquestionbox.h"
#include "zortest.h"

namespace {

QList<QPair<QString, QString>> newPlotObjects(int count)
{
    QList<QPair<QString, QString>> objects;
    for (int i = 0; i < count; ++i) {
        const QString id = QStringLiteral("001.%1h.00h").arg(0x6000 + i, 4, 16, QLatin1Char('0'));
        objects.append({id, id + QStringLiteral(" Object ") + QString::number(i)});
    }
    return objects;
}

} // namespace

class TestNewPlotDialog : public QObject
{
    Q_OBJECT

    QList<ZorQuestionBox::Question> asked;

    void check(ZorNewPlotDialog &dialog, int row) { dialog.objectTable()->item(row, 0)->setCheckState(Qt::Checked); }

private slots:
    void init()
    {
        asked.clear();
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            asked << q;
            return QMessageBox::Ok;
        });
    }
    void cleanup() { ZorQuestionBox::setHook({}); }

    void checkedRowsBecomeCurvesColouredByRow()
    {
        ZorNewPlotDialog dialog;
        dialog.setupDialog(newPlotObjects(22), QStringLiteral("  My plot  "), QString());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Create New Plot"));
        QCOMPARE(dialog.objectTable()->horizontalHeaderItem(0)->text(), QStringLiteral("Index"));
        QVERIFY(dialog.objectTable()->item(0, 0)->flags() & Qt::ItemIsUserCheckable);
        QVERIFY(!(dialog.objectTable()->item(0, 1)->flags() & Qt::ItemIsUserCheckable));
        for (int row : {0, 3, 9, 12, 21})
            check(dialog, row);
        QSignalSpy configured(&dialog, &ZorNewPlotDialog::plotConfigured);
        dialog.show();
        dialog.findChild<QPushButton *>("btnCreate")->click();

        QCOMPARE(configured.size(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(configured.first().at(0).toString(), QStringLiteral("My plot"));
        const auto curves = configured.first().at(1).value<QList<ZorNewPlotConfigurationData>>();
        QStringList colours;
        for (const ZorNewPlotConfigurationData &c : curves)
            colours << c.colorName();
        QCOMPARE(colours, (QStringList{"#000080", "#008080", "#00ffff", "#000080", "#00ffff"}));
        QCOMPARE(curves.at(1).dataObjectId, QStringLiteral("001.6003h.00h"));
        QCOMPARE(curves.at(1).objectName, QStringLiteral("001.6003h.00h Object 3"));
        QVERIFY(asked.isEmpty());
    }

    void emptySelectionIsRefusedAndTheDialogStays()
    {
        ZorNewPlotDialog dialog;
        dialog.setupDialog(newPlotObjects(3), QString(), QStringLiteral("001.9999h.00h"));
        QSignalSpy configured(&dialog, &ZorNewPlotDialog::plotConfigured);
        dialog.show();
        dialog.on_btnCreate_clicked();
        QCOMPARE(configured.size(), 0);
        QVERIFY(dialog.isVisible());
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().title, QStringLiteral("No Data Selected"));
        QCOMPARE(asked.first().text, QStringLiteral("You must select at least one data object for this plot."));
        QCOMPARE(asked.first().icon, QMessageBox::Warning);

        dialog.findChild<QPushButton *>("btnCancel")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(configured.size(), 0);
    }

    void titleFieldAndPreselection()
    {
        ZorNewPlotDialog dialog;
        dialog.setupDialog(newPlotObjects(3), QString(50, QLatin1Char('x')), QStringLiteral("001.6001h.00h"));
        QCOMPARE(dialog.titleEdit()->text().size(), 40);
        QCOMPARE(dialog.objectTable()->item(1, 0)->checkState(), Qt::Checked);
        QCOMPARE(dialog.objectTable()->item(0, 0)->checkState(), Qt::Unchecked);
        dialog.titleEdit()->setText(QStringLiteral("   "));
        QSignalSpy configured(&dialog, &ZorNewPlotDialog::plotConfigured);
        dialog.on_btnCreate_clicked();
        QCOMPARE(configured.first().at(0).toString(), QString());
    }

    void recordElementKeepsAnyText()
    {
        const ZorNewPlotConfigurationData record(QStringLiteral("001.60ffh.00h"),
                                                 QStringLiteral("Speed \"set\" <a> & b %3 'x'"), QColor("navy"));
        QDomDocument doc;
        QVERIFY(doc.setContent(record.toXml()));
        const auto back = ZorNewPlotConfigurationData::fromElement(doc.documentElement());
        QCOMPARE(doc.documentElement().tagName(), QStringLiteral("CurveConfiguration"));
        QCOMPARE(back.dataObjectId, record.dataObjectId);
        QCOMPARE(back.objectName, record.objectName);
        QCOMPARE(back.colorName(), QStringLiteral("#000080"));

        // Unknown or missing colours read as invalid and are written as black.
        QVERIFY(doc.setContent(QStringLiteral("<CurveConfiguration dataObjectId=\"x\" colorName=\"acqua\"/>")));
        const auto unknown = ZorNewPlotConfigurationData::fromElement(doc.documentElement());
        QVERIFY(!unknown.color.isValid());
        QVERIFY(unknown.objectName.isEmpty());
        QVERIFY(doc.setContent(unknown.toXml()));
        QCOMPARE(ZorNewPlotConfigurationData::fromElement(doc.documentElement()).color, QColor(Qt::black));
    }
};

ZOR_TEST(TestNewPlotDialog)
#include "tst_newplotdialog.moc"
