// The trigger panel and its table: conditions normalised and marked as they
// are typed or dropped, the configuration sent to and shown from the
// data-log module, the status colours, and the controls while a recording
// loads; then the panel against a running data-log module.
#include "testdommodel.h"
#include "zorcontenttrigger.h"
#include "zorintoremptyvalidator.h"
#include "zormoddatalog.h"
#include "zortest.h"
#include "zortriggerstablewidget.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QtTest>

#include <memory>

namespace {

enum Mark { NoMark, Green, Red };

QImage imageOf(const QIcon &icon)
{
    return icon.pixmap(16, 16).toImage();
}

} // namespace

class TestContentTrigger : public QObject
{
    Q_OBJECT

    ZorContentTrigger *panel = nullptr;
    QList<ZorMessage> sent;

    ZorTriggersTableWidget *table() const { return panel->triggersTable(); }
    QLineEdit *edit(const char *name) const { return panel->findChild<QLineEdit *>(name); }
    QPushButton *button() const { return panel->findChild<QPushButton *>("pushButtonTrigger"); }
    QString cell(int row) const { return table()->item(row, 0)->text(); }
    Mark mark(int row) const
    {
        const QIcon icon = table()->item(row, 1)->icon();
        if (icon.isNull())
            return NoMark;
        if (imageOf(icon) == imageOf(QIcon(":/Icons/Icons/status_green_16x16.png")))
            return Green;
        return imageOf(icon) == imageOf(QIcon(":/Icons/Icons/status_red_16x16.png")) ? Red : NoMark;
    }
    // What the user typing into a cell does: the edited text is committed.
    void type(int row, const QString &text) { table()->item(row, 0)->setText(text); }
    QStringList propertiesSet() const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            if (m.msgType() == KM_SETPROPERTY)
                texts << m.data().toString();
        return texts;
    }
    void fromModule(int type, int state, const QString &data) { panel->msgIn(ZorMessage(type, state, data)); }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        panel = new ZorContentTrigger;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup() { delete panel; }

    void conditionsNormalisedMarkedAndSent()
    {
        QCOMPARE(table()->rowCount(), 2);
        QCOMPARE(table()->horizontalHeaderItem(0)->text(), QStringLiteral("Trigger Definition"));
        QCOMPARE(table()->horizontalHeaderItem(1)->text(), QStringLiteral("Ok?"));
        QCOMPARE(mark(0), NoMark);
        QVERIFY(!(table()->item(0, 1)->flags() & Qt::ItemIsEditable));

        type(0, " 001.60ffh.00h>200 ");
        QCOMPARE(cell(0), QStringLiteral("001.60ffh.00h > 200"));
        QCOMPARE(mark(0), Green);
        QCOMPARE(propertiesSet(), QStringList({"TriggerConfig=001.60ffh.00h > 200"}));
        for (const ZorMessage &m : sent)
            QCOMPARE(m.origin(), QStringLiteral("GUI"));

        // An invalid row is marked red, stays as typed and is left out.
        type(1, "1.60ffh.00h > 5");
        QCOMPARE(cell(1), QStringLiteral("1.60ffh.00h > 5"));
        QCOMPARE(mark(1), Red);
        QVERIFY(!table()->item(1, 1)->data(Qt::UserRole).toBool());
        QCOMPARE(table()->configuration(), QStringLiteral("001.60ffh.00h > 200"));
        QCOMPARE(propertiesSet().size(), 1);   // nothing new to send

        type(1, "002.6041h.00h");
        QCOMPARE(mark(1), Green);
        QCOMPARE(propertiesSet().last(), QStringLiteral("TriggerConfig=001.60ffh.00h > 200;002.6041h.00h"));

        // A cleared row loses its mark; the other row remains.
        type(0, "   ");
        QCOMPARE(cell(0), QString());
        QCOMPARE(mark(0), NoMark);
        QCOMPARE(propertiesSet().last(), QStringLiteral("TriggerConfig=002.6041h.00h"));
    }

    void configurationFromTheModuleShown()
    {
        fromModule(KM_GETPROPERTY, KS_ANSWER, "TriggerConfig=001.6064h.00h < 5;bad;002.6041h.00h");
        QCOMPARE(cell(0), QStringLiteral("001.6064h.00h < 5"));
        QCOMPARE(cell(1), QStringLiteral("bad"));
        QCOMPARE(mark(0), Green);
        QCOMPARE(mark(1), Red);
        fromModule(KM_GETPROPERTY, KS_ANSWER, "TriggerConfig=");
        QCOMPARE(cell(0), QString());
        QCOMPARE(mark(0), NoMark);
        QVERIFY(propertiesSet().isEmpty());   // shown, not sent back
        type(0, "001.6064h.00h<5");
        QCOMPARE(propertiesSet(), QStringList({"TriggerConfig=001.6064h.00h < 5"}));

        fromModule(KM_GETPROPERTY, KS_ANSWER, "TriggerState=1");
        QVERIFY(button()->isChecked());
        button()->click();
        QCOMPARE(propertiesSet().last(), QStringLiteral("TriggerState=0"));
        button()->click();
        QCOMPARE(propertiesSet().last(), QStringLiteral("TriggerState=1"));
    }

    void droppedObjectRowsFillARow()
    {
        QStandardItemModel objects;
        auto *row = new QStandardItem("Velocity");
        row->setData("001.60ffh.00h", ZorTriggersTableWidget::DataObjectIdRole);
        objects.appendRow({row, new QStandardItem("other column")});
        std::unique_ptr<QMimeData> mime(objects.mimeData({objects.index(0, 1), objects.index(0, 0)}));

        // Dropped below the last row (or on the header): the last row.
        QVERIFY(table()->model()->dropMimeData(mime.get(), Qt::CopyAction, -1, -1, QModelIndex()));
        QCOMPARE(cell(1), QStringLiteral("001.60ffh.00h"));
        QCOMPARE(mark(1), Green);
        QCOMPARE(propertiesSet(), QStringList({"TriggerConfig=001.60ffh.00h"}));
        QVERIFY(table()->model()->dropMimeData(mime.get(), Qt::CopyAction, 0, 1, QModelIndex()));
        QCOMPARE(cell(0), QStringLiteral("001.60ffh.00h"));
    }

    // The object tables drag their rows as object-table XML text.
    void droppedObjectTextsFillARow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id");
        QTest::newRow("object") << "<CANopenObjectList>\n <CANopenObject index=\"6064\" subIndex=\"0\" nodeId=\"1\""
                                   " name=\"pos\"/>\n <CANopenObject index=\"60ff\" nodeId=\"1\"/>\n</CANopenObjectList>"
                                << "001.6064h.00h";
        QTest::newRow("sub-object with its index") << "<CANopenObjectList><CANopenSubObject index=\"0x1018\" "
                                                      "subIndex=\"2h\" nodeId=\"5\"/></CANopenObjectList>"
                                                   << "005.1018h.02h";
        QTest::newRow("object holding sub-objects")
            << "<CANopenObjectList><CANopenObject index=\"1018\" nodeId=\"12\"><CANopenSubObject subIndex=\"1\"/>"
               "</CANopenObject></CANopenObjectList>"
            << "012.1018h.00h";
        QTest::newRow("an id as text") << " 002.6041h.00h\n" << "002.6041h.00h";
        QTest::newRow("anything else") << "velocity" << "";
    }

    void droppedObjectTextsFillARow()
    {
        QFETCH(QString, text);
        QFETCH(QString, id);
        QMimeData mime;
        mime.setText(text);
        QVERIFY(table()->model()->dropMimeData(&mime, Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(cell(0), id);
        QCOMPARE(mark(0), id.isEmpty() ? NoMark : Green);
    }

    void statusColoursAndLoadingLock()
    {
        fromModule(KM_STATUS, KS_INFO, "1500");
        QLineEdit *state = edit("lineEditState");
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FEE600; color:black"));
        state->setStyleSheet(QString());
        fromModule(KM_STATUS, KS_INFO, "1500");
        QCOMPARE(state->styleSheet(), QString());
        fromModule(KM_STATUS, KS_ANSWER, "2200");
        QCOMPARE(state->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        fromModule(KM_STATUS, KS_INFO, "0");
        QCOMPARE(state->styleSheet(), QStringLiteral("color:black"));
        fromModule(KM_STATUS, KS_REQUEST, "101");   // a request is not a report
        QCOMPARE(state->styleSheet(), QStringLiteral("color:black"));
        fromModule(KM_INFOTEXT, KS_INFO, "Live Mode (Trigger On)");
        QCOMPARE(state->text(), QStringLiteral("Live Mode (Trigger On)"));

        fromModule(KM_DAQ_CONTROL, KS_INFO, "4,100,1000,10");
        QVERIFY(!table()->isEnabled() && !button()->isEnabled());
        QVERIFY(!edit("lineEditPreTrigger")->isEnabled() && !edit("lineEditPostTrigger")->isEnabled());
        fromModule(KM_DAQ_CONTROL, KS_ANSWER, "4,/r/a.csv,/r/a.xml");
        QVERIFY(table()->isEnabled() && button()->isEnabled() && edit("lineEditPreTrigger")->isEnabled());
        fromModule(KM_DAQ_CONTROL, KS_INFO, "4,100,1000,10");
        fromModule(KM_DAQ_CONTROL, KS_CANCEL, "4");
        QVERIFY(table()->isEnabled());
    }

    void timeEditsTakeMillisecondsOrNothing()
    {
        const QValidator *validator = edit("lineEditPreTrigger")->validator();
        QVERIFY(validator);
        QCOMPARE(edit("lineEditPostTrigger")->validator(), validator);
        const QList<QPair<QString, bool>> cases = {{"", true},         {"0", true},   {"100000", true},
                                                   {"100001", false}, {"-1", false}, {"1e3", false}};
        for (const auto &c : cases) {
            QString text = c.first;
            int pos = 0;
            QVERIFY2((validator->validate(text, pos) == QValidator::Acceptable) == c.second, qPrintable(c.first));
        }
        ZorIntOrEmptyValidator scan(0, 127, nullptr, {"0 (Scan)"});
        QString text = "0 (S";
        int pos = 0;
        QCOMPARE(scan.validate(text, pos), QValidator::Intermediate);
        text = "0 (Scan)";
        QCOMPARE(scan.validate(text, pos), QValidator::Acceptable);
        text = "128";
        QCOMPARE(scan.validate(text, pos), QValidator::Invalid);
    }

    // Against a running data-log module: the panel learns the settings,
    // and what it edits becomes the module's properties and status.
    void editsReachARunningModule()
    {
        TestDomModel model;
        model.addModule("datalog", "Scope", QString(),
                        "<properties><TriggerConfig>001.6064h.00h &gt; 5</TriggerConfig>"
                        "<PreTriggerTimeMsec>250</PreTriggerTimeMsec></properties>");
        model.addModule("trigger", "Trigger");
        auto *module = new ZorModDataLog;
        std::unique_ptr<ZorModule, ZorModuleDeleter> owner(module);
        QVERIFY(module->setupZorModule(model.moduleIndex("Scope"), &model));
        connect(panel, &ZorPanel::msgOut, module, &ZorModule::slaveIn);
        connect(module, &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        module->start();
        QVERIFY(panel->setupZorPanel(model.moduleIndex("Trigger"), &model));

        QTRY_COMPARE(cell(0), QStringLiteral("001.6064h.00h > 5"));
        QTRY_COMPARE(edit("lineEditPreTrigger")->text(), QStringLiteral("250"));
        QTRY_COMPARE(edit("lineEditState")->text(), QStringLiteral("Idle"));

        type(1, "002.6041h.00h");
        QTRY_COMPARE(module->property("TriggerConfig"), QStringLiteral("001.6064h.00h > 5;002.6041h.00h"));
        button()->click();
        QTRY_COMPARE(edit("lineEditState")->text(), QStringLiteral("Idle (Trigger On)"));
        QCOMPARE(module->property("TriggerState"), QStringLiteral("1"));

        QLineEdit *post = edit("lineEditPostTrigger");
        post->setText("700");
        emit post->editingFinished();
        QTRY_COMPARE(model.storedProperty("Scope", "PostTriggerTimeMsec"), QStringLiteral("700"));
        module->stop();
    }
};

ZOR_TEST(TestContentTrigger)
#include "tst_contenttrigger.moc"
