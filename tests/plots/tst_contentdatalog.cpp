// The data-log panel: the monitoring list sent to the module, live values,
// shared ids and scalings, plots added below the module, the clipboard,
// recording paths and the companion file, failed recordings, a panel made
// anew that follows its module, list edits kept on request, and viewer mode
// with its load, progress, skipped samples, failure and cancel.
#include "datalogseries.h"
#include "shareddataregistry.h"
#include "testdommodel.h"
#include "zorcontentdatalog.h"
#include "zorcontentplot.h"
#include "zormoddatalog.h"
#include "zormonitoringeditmodel.h"
#include "zornewplotdialog.h"
#include "zoroverlaylabel.h"
#include "zorquestionbox.h"
#include "zortest.h"

#include <memory>

namespace tst_contentdatalog {

const QString dataLogPosition = QStringLiteral("001.6064h.00h");
const QString dataLogVelocity = QStringLiteral("001.60ffh.00h");

const char dataLogObjects[] =
    "<docs><MonitoringObjects><CANopenObjectList>"
    "<CANopenObject index=\"6064\" subIndex=\"0\" nodeId=\"1\" name=\"Position actual value\" objectType=\"7\" "
    "dataType=\"4\" accessType=\"ro\" monitorMethod=\"Software\" monitorInterval=\"100\"/>"
    "<CANopenObject index=\"60FF\" subIndex=\"0\" nodeId=\"1\" name=\"Target velocity\" objectType=\"7\" "
    "dataType=\"4\" accessType=\"rw\" monitorMethod=\"Software\" monitorInterval=\"250\"/>"
    "</CANopenObjectList></MonitoringObjects></docs>"
    "<module type=\"datalog_plot\" label=\"Plot\"/><module type=\"datalog_plot\" label=\"Plot 1\"/>";

// A recording of one object: the CSV file (empty) and its companion file.
void writeRecordingPair(const QString &csv)
{
    QFile(csv).open(QIODevice::WriteOnly);
    QFile xml(csv.chopped(3) + "xml");
    QVERIFY(xml.open(QIODevice::WriteOnly));
    xml.write("<CANopenObjectList><CANopenObject index=\"6041\" subIndex=\"0\" nodeId=\"1\" name=\"Statusword\" "
              "dataType=\"6\"/></CANopenObjectList>");
}

} // namespace tst_contentdatalog

using namespace tst_contentdatalog;

class TestContentDataLog : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString previousDir;
    std::unique_ptr<TestDomModel> model;
    std::unique_ptr<ZorContentDataLog> panel;
    QList<ZorMessage> sent;
    QList<ZorQuestionBox::Question> asked;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    // Answers to questions of these titles; `answer` to any other.
    QMap<QString, QMessageBox::StandardButton> answers;

    QAction *action(const char *name) const { return panel->findChild<QAction *>(name); }
    void fromModule(int type, int state, const QVariant &data) { panel->msgIn(ZorMessage(type, state, data)); }
    QStringList sentOf(int type, int state = KS_REQUEST) const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type && m.msgState() == state)
                texts << m.data().toString();
        return texts;
    }
    // Type names and data of everything sent, for order checks.
    QStringList trail() const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            texts << ZorMessage::msgTypeName(m.msgType()) + QLatin1Char(':') + m.data().toString().left(40);
        return texts;
    }
    ZorMonitoringEditModel *table() const { return panel->monitoringModel(); }
    QString value(int row) const { return table()->index(row, 5).data().toString(); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(previousDir); }
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        asked.clear();
        answer = QMessageBox::Yes;
        answers.clear();
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            asked << q;
            return answers.value(q.title, answer);
        });
        model.reset(new TestDomModel);
        model->addModule("datalog", "Scope", QString(), QLatin1String(dataLogObjects));
        panel.reset(new ZorContentDataLog);
        connect(panel.get(), &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Scope"), model.get()));
    }
    void cleanup()
    {
        panel.reset();
        model.reset();
        ZorQuestionBox::setHook({});
    }

    void liveListAndStart()
    {
        QVERIFY(panel->isLive());
        QCOMPARE(table()->rowCount(), 2);
        QVERIFY(!panel->table()->isColumnHidden(5));
        QVERIFY(!panel->table()->isColumnHidden(14));
        QVERIFY(panel->table()->isColumnHidden(8));
        QVERIFY(panel->overlay()->isHidden());
        QCOMPARE(panel->recordingPathEdit()->text(), QStringLiteral("measurements_DATETIME.csv"));
        QVERIFY(action("actionNewPlot")->isEnabled());
        QCOMPARE(panel->defaultRecordingFolder(), dir.path() + "/Recordings");

        sent.clear();
        action("actionStart")->trigger();
        QCOMPARE(trail().value(0), QStringLiteral("KM_START:"));
        QCOMPARE(sent.value(1).msgType(), int(KM_DAQ_CONFIG));
        QCOMPARE(sent.value(1).data().toString(), table()->monitorConfiguration());
        QCOMPARE(table()->monitorConfiguration().count('\n'), 2);
        // Starting again sends the list again, even unchanged.
        action("actionStart")->trigger();
        QCOMPARE(sentOf(KM_DAQ_CONFIG).size(), 2);

        fromModule(KM_STATUS, KS_INFO, 101);
        QVERIFY(action("actionStart")->isChecked());
        QVERIFY(!action("actionStop")->isChecked());
        fromModule(KM_STATUS, KS_INFO, 0);
        QVERIFY(action("actionStop")->isChecked());
        QVERIFY(!action("actionStart")->isChecked());

        // An emptied table shows the drop hint; New Plot and Delete go off.
        table()->removeRows(0, 2);
        panel->updateActions();
        QVERIFY(!panel->overlay()->isHidden());
        QVERIFY(!action("actionNewPlot")->isEnabled());
        QVERIFY(!action("actionDelete")->isEnabled());
    }

    void liveValuesAndSharedIds()
    {
        fromModule(KM_DAQ_DATA, KS_INFO,
                   dataLogPosition + ",2026-03-05 10:00:00.000,12\n\n" + dataLogVelocity
                       + ",2026-03-05 10:00:00.000,12.3456\n003.1000h.00h,2026-03-05 10:00:00.000,7\n");
        QCOMPARE(value(0), QStringLiteral("12"));
        QCOMPARE(value(1), QStringLiteral("12.346"));
        QCOMPARE(ZorContentDataLog::valueText(1234567), QStringLiteral("1.23457e+06"));

        auto *series = new DataLogSeries;
        const int id = SharedDataRegistry::registerSeries(series);
        table()->setData(table()->index(0, 13), QStringLiteral("0.5"), Qt::EditRole);
        fromModule(KM_DAQ_SHARED_IDS_LIST, KS_INFO,
                   QStringLiteral("%1,%2\n%1,999\n\n%3,998\n").arg(dataLogPosition).arg(id).arg(dataLogVelocity));
        QCOMPARE(panel->sharedIds().value(dataLogPosition), id);
        QCOMPARE(panel->sharedIds().size(), 2);
        QCOMPARE(series->scalingText(), QStringLiteral("0.5"));
        // A changed scaling reaches the series at once.
        table()->setData(table()->index(0, 13), QStringLiteral("x*2"), Qt::EditRole);
        QCOMPARE(series->scalingText(), QStringLiteral("x*2"));
        SharedDataRegistry::unregister(id);
    }

    void plotsAreAddedBelowTheModule()
    {
        QCOMPARE(panel->uniquePlotName(QStringLiteral("Plot")), QStringLiteral("Plot 2"));
        QCOMPARE(panel->uniquePlotName(QStringLiteral("  ")), QStringLiteral("Plot 2"));
        QCOMPARE(panel->uniquePlotName(QStringLiteral("plot")), QStringLiteral("plot"));

        action("actionNewPlot")->trigger();
        ZorNewPlotDialog *dialog = panel->newPlotDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->titleEdit()->text(), QStringLiteral("Plot 2"));
        QCOMPARE(dialog->objectTable()->rowCount(), 2);
        QCOMPARE(dialog->objectTable()->item(1, 1)->text(), dataLogVelocity + " Target velocity");

        auto *series = new DataLogSeries;
        const QDateTime first(QDate(2026, 3, 5), QTime(9, 59, 58, 125));
        series->append(DataLogSample::atWallMs(DataLogSample::toWallMs(first), 1));
        const int id = SharedDataRegistry::registerSeries(series);
        fromModule(KM_DAQ_SHARED_IDS_LIST, KS_INFO, QStringLiteral("%1,%2\n").arg(dataLogVelocity).arg(id));
        sent.clear();
        dialog->objectTable()->item(1, 0)->setCheckState(Qt::Checked);
        dialog->titleEdit()->setText(QStringLiteral("Speed, \"fast\" & <slow>"));
        dialog->on_btnCreate_clicked();
        SharedDataRegistry::unregister(id);

        const QStringList requests = sentOf(KM_APPLICATION_CONTROL);
        QCOMPARE(requests.size(), 2);
        const QString name = QStringLiteral("Speed  \"fast\" & <slow>");
        QVERIFY2(requests.at(0).startsWith("addmodule,datalog_plot," + name + ",,MIDX-0-0-0-0,<docs>"),
                 qPrintable(requests.at(0)));
        QCOMPARE(requests.at(1), "panel,Scope - " + name);
        QDomDocument docs;
        QVERIFY(docs.setContent(requests.at(0).section(',', 5)));
        const QDomElement root = docs.documentElement().firstChildElement("PlotConfigurationDoc").firstChildElement();
        QCOMPARE(root.attribute("title"), name);
        QCOMPARE(root.attribute("earliestTimeStamp"), QStringLiteral("2026-03-05 09:59:58.125"));
        const QDomElement curve = root.firstChildElement("Curves").firstChildElement("CurveConfiguration");
        QCOMPARE(curve.attribute("dataObjectId"), dataLogVelocity);
        QCOMPARE(curve.attribute("colorName"), QStringLiteral("#800000"));

        // A double click on the id makes a one-curve plot at once.
        sent.clear();
        panel->on_tableViewMonitoringConfig_doubleClicked(table()->index(0, 4));
        QVERIFY(sentOf(KM_APPLICATION_CONTROL).value(0).startsWith(
            "addmodule,datalog_plot,Plot - " + dataLogPosition + " Position actual value,,"));
        sent.clear();
        panel->on_tableViewMonitoringConfig_doubleClicked(table()->index(0, 3));
        QVERIFY(sent.isEmpty());
    }

    void clipboardCutAndPaste()
    {
        panel->table()->selectRow(0);
        sent.clear();
        action("actionCut")->trigger();
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(sentOf(KM_DAQ_CONFIG), QStringList{table()->monitorConfiguration()});
        QVERIFY(QApplication::clipboard()->text().contains("6064"));
        action("actionPaste")->trigger();
        QCOMPARE(table()->rowCount(), 2);
        QCOMPARE(sentOf(KM_DAQ_CONFIG).size(), 2);

        // The list is stored with the project.
        QVERIFY(panel->commitPanelSettings().isEmpty());
        const QDomElement stored =
            model->moduleElement("Scope").firstChildElement("docs").firstChildElement("MonitoringObjects");
        QCOMPARE(stored.elementsByTagName("CANopenObject").size(), 2);
    }

    void recordingPaths_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("default") << "measurements_DATETIME.csv"
                                 << "^Recordings/measurements_\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d\\.csv$";
        QTest::newRow("bare name") << " run " << "^Recordings/run\\.csv$";
        QTest::newRow("folder and capitals") << "sub/Run.CSV" << "^sub/Run\\.CSV$";
    }
    void recordingPaths()
    {
        QFETCH(QString, typed);
        QFETCH(QString, pattern);
        panel->recordingPathEdit()->setText(typed);
        sent.clear();
        action("actionRecord")->trigger();
        const QStringList controls = sentOf(KM_DAQ_CONTROL);
        QCOMPARE(controls.size(), 1);
        const QString path = controls.first().section(',', 1);
        QVERIFY2(path.startsWith(dir.path() + "/"), qPrintable(path));
        const QString relative = path.mid(dir.path().size() + 1);
        QVERIFY2(QRegularExpression(pattern).match(relative).hasMatch(), qPrintable(relative));
        QCOMPARE(panel->recordingPathEdit()->text(), relative);
        QVERIFY(panel->recordingPathEdit()->isReadOnly());
        QVERIFY(!action("actionClearMeasurements")->isEnabled());
        QVERIFY(QFileInfo(QFileInfo(path).absolutePath()).isDir());

        // Once the module confirms, the companion file lists the objects.
        fromModule(KM_DAQ_CONTROL, KS_ANSWER, QStringLiteral("1"));
        const QString xml = path.left(path.size() - 3) + "xml";
        QCOMPARE(panel->companionPath(), xml);
        QFile file(xml);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QDomDocument doc;
        QVERIFY(doc.setContent(&file));
        QCOMPARE(doc.elementsByTagName("CANopenObject").size(), 2);

        action("actionRecord")->trigger();
        QCOMPARE(sentOf(KM_DAQ_CONTROL).last(), QStringLiteral("2"));
        QCOMPARE(panel->recordingPathEdit()->text(), typed.trimmed().endsWith(".csv", Qt::CaseInsensitive)
                                                         ? typed.trimmed()
                                                         : typed.trimmed() + ".csv");
        QVERIFY(!panel->recordingPathEdit()->isReadOnly());
    }

    // The module could not start recording, or had to stop (its disk
    // full): Record is released, the path field given back and the module's
    // error shown; the module, which stopped already, is not asked again.
    void failedRecordingReleasesRecord()
    {
        panel->recordingPathEdit()->setText("failing.csv");
        action("actionRecord")->trigger();
        QVERIFY(action("actionRecord")->isChecked());
        sent.clear();
        fromModule(KM_DAQ_CONTROL, KS_FAIL, QStringLiteral("1,Is a directory"));
        QVERIFY(!action("actionRecord")->isChecked());
        QCOMPARE(panel->recordingPathEdit()->text(), QStringLiteral("failing.csv"));
        QVERIFY(!panel->recordingPathEdit()->isReadOnly());
        QVERIFY(action("actionClearMeasurements")->isEnabled());
        QCOMPARE(asked.last().title, QStringLiteral("Recording Error"));
        QVERIFY2(asked.last().text.contains("Recordings/failing.csv") && asked.last().text.contains("Is a directory"),
                 qPrintable(asked.last().text));
        QVERIFY(sent.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("Recordings/failing.xml")));

        // Confirmed, then failing: what was recorded keeps its companion file.
        action("actionRecord")->trigger();
        fromModule(KM_DAQ_CONTROL, KS_ANSWER, QStringLiteral("1"));
        QVERIFY(QFile::remove(panel->companionPath()));
        sent.clear();
        fromModule(KM_DAQ_CONTROL, KS_FAIL, QStringLiteral("1,No space left on device"));
        QVERIFY(!action("actionRecord")->isChecked());
        QVERIFY(asked.last().text.contains("No space left on device"));
        QVERIFY(QFile::exists(panel->companionPath()));
        QVERIFY(sent.isEmpty());
    }

    // A panel made anew (its dock closed and opened again) asks its module
    // what it does and shows it: acquisition and a recording from before,
    // which Record then stops as usual.
    void newPanelFollowsARecordingModule()
    {
        QCOMPARE(sentOf(KM_DAQ_CONTROL), QStringList{"6"});
        QVERIFY(QDir(dir.path()).mkpath("Recordings"));
        const QString csv = dir.filePath("Recordings/old, run.csv");
        fromModule(KM_DAQ_CONTROL, KS_ANSWER, "6,running,1," + csv);
        QVERIFY(action("actionRecord")->isChecked());
        QVERIFY(action("actionStart")->isChecked());
        QVERIFY(!action("actionStop")->isChecked());
        QCOMPARE(panel->recordingPathEdit()->text(), QStringLiteral("Recordings/old, run.csv"));
        QVERIFY(panel->recordingPathEdit()->isReadOnly());
        QVERIFY(!panel->selectRecordingPathButton()->isEnabled());

        sent.clear();
        action("actionRecord")->trigger();
        QCOMPARE(sentOf(KM_DAQ_CONTROL), QStringList{"2"});
        QVERIFY(QFile::exists(dir.filePath("Recordings/old, run.xml")));
        QCOMPARE(panel->recordingPathEdit()->text(), QStringLiteral("measurements_DATETIME.csv"));

        // An idle module that records nothing changes nothing.
        fromModule(KM_DAQ_CONTROL, KS_ANSWER, QStringLiteral("6,idle,0,"));
        QVERIFY(!action("actionRecord")->isChecked());
        QVERIFY(action("actionStop")->isChecked());
    }

    // A module in file mode puts a panel made anew into viewer mode, with
    // the recording the module shows or is loading; nothing is sent.
    void newPanelFollowsAModuleInFileMode()
    {
        const QString csv = dir.filePath("viewed.csv");
        writeRecordingPair(csv);
        fromModule(KM_STATUS, KS_INFO, 201);
        sent.clear();
        fromModule(KM_DAQ_CONTROL, KS_ANSWER, "6,loaded,0," + csv);
        QVERIFY(!panel->isLive());
        QVERIFY(sent.isEmpty());
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(panel->lastOpenedFile(), csv);
        QVERIFY(action("actionNewPlot")->isEnabled());
        QVERIFY(action("actionToggleLiveMode")->isEnabled());

        fromModule(KM_DAQ_CONTROL, KS_ANSWER, "6,loading,0," + csv);
        QVERIFY(action("actionCancel")->isVisible());
        QVERIFY(!action("actionOpen")->isEnabled());
        QVERIFY(!panel->selectRecordingPathButton()->isEnabled());
        QVERIFY(panel->progressBar()->isVisibleTo(panel.get()));
        fromModule(KM_DAQ_CONTROL, KS_ANSWER, "4," + csv + "," + csv.chopped(3) + "xml");
        QVERIFY(panel->selectRecordingPathButton()->isEnabled());
        QCOMPARE(table()->rowCount(), 1);
        QVERIFY(sent.isEmpty());
    }

    // Live Mode brings back the list stored in the project: edits that are
    // not stored yet are stored first, or dropped, as the user says; Cancel
    // stays in live mode.
    void listEditsNotDroppedUnasked()
    {
        const QString csv = dir.filePath("edits.csv");
        writeRecordingPair(csv);
        panel->table()->selectRow(0);
        action("actionDelete")->trigger();
        QVERIFY(panel->isListEdited());

        answers["Monitoring List Changed"] = QMessageBox::Cancel;
        sent.clear();
        panel->on_actionOpen_triggered(csv);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(0).title, QStringLiteral("Open Recording"));
        QCOMPARE(asked.at(1).title, QStringLiteral("Monitoring List Changed"));
        QVERIFY(panel->isLive());
        QVERIFY(sent.isEmpty());

        answers["Monitoring List Changed"] = QMessageBox::Yes;
        panel->on_actionOpen_triggered(csv);
        QVERIFY(!panel->isLive());
        const QDomElement stored =
            model->moduleElement("Scope").firstChildElement("docs").firstChildElement("MonitoringObjects");
        QCOMPARE(stored.elementsByTagName("CANopenObject").size(), 1);
        action("actionToggleLiveMode")->trigger();
        QCOMPARE(table()->rowCount(), 1);
        QVERIFY(!panel->isListEdited());

        // Dropped on request: Live Mode shows the stored list again.
        panel->table()->selectRow(0);
        action("actionDelete")->trigger();
        answers["Monitoring List Changed"] = QMessageBox::No;
        panel->on_actionOpen_triggered(csv);
        QVERIFY(!panel->isLive());
        action("actionToggleLiveMode")->trigger();
        QCOMPARE(table()->rowCount(), 1);

        // Without edits only the first question comes.
        asked.clear();
        panel->on_actionOpen_triggered(csv);
        QCOMPARE(asked.size(), 1);
    }

    void invalidRecordingPathIsRefused()
    {
        for (const QString &typed : {QStringLiteral("a?b.csv"), QStringLiteral("  "), QStringLiteral("x<y")}) {
            panel->recordingPathEdit()->setText(typed);
            sent.clear();
            action("actionRecord")->trigger();
            QVERIFY(!action("actionRecord")->isChecked());
            QVERIFY(sent.isEmpty());
        }
    }

    void viewerModeLoadsARecording()
    {
        // Recorded elsewhere, with a comma in the name.
        const QString csv = dir.filePath("old, 1.csv");
        QFile(csv).open(QIODevice::WriteOnly);
        const QString xml = dir.filePath("old, 1.xml");
        {
            QFile f(xml);
            QVERIFY(f.open(QIODevice::WriteOnly));
            // Older companion files: Latin-1 without a declaration.
            f.write(QString("<CANopenObjectList><CANopenObject index=\"6041\" subIndex=\"0\" nodeId=\"1\" "
                            "name=\"Status \u00b5\" dataType=\"6\"/></CANopenObjectList>")
                        .toLatin1());
        }
        action("actionStart")->trigger();
        fromModule(KM_STATUS, KS_INFO, 101);
        action("actionRecord")->trigger();
        sent.clear();

        answer = QMessageBox::No;
        panel->on_actionOpen_triggered(csv);
        QCOMPARE(asked.last().title, QStringLiteral("Open Recording"));
        QVERIFY(panel->isLive());
        QVERIFY(sent.isEmpty());

        answer = QMessageBox::Yes;
        panel->on_actionOpen_triggered(csv);
        QVERIFY(!panel->isLive());
        QCOMPARE(trail(), (QStringList{"KM_DAQ_CONTROL:2", "KM_STOP:", "KM_DAQ_CONTROL:5,1",
                                       ("KM_DAQ_CONTROL:4," + csv).left(55)}));
        QCOMPARE(sentOf(KM_DAQ_CONTROL).last(), "4," + csv);
        QVERIFY(!action("actionOpen")->isEnabled());
        QVERIFY(!panel->selectRecordingPathButton()->isEnabled());
        QVERIFY(action("actionCancel")->isVisible());
        QVERIFY(!action("actionStart")->isVisible());
        QVERIFY(panel->progressBar()->isVisibleTo(panel.get()));

        fromModule(KM_DAQ_CONTROL, KS_INFO, QStringLiteral("4,10,100,40"));
        QCOMPARE(panel->progressBar()->value(), 40);
        fromModule(KM_DAQ_CONTROL, KS_INFO, QStringLiteral("4,100,100,100"));
        QVERIFY(!panel->progressBar()->isVisibleTo(panel.get()));
        fromModule(KM_DAQ_CONTROL, KS_INFO, QStringLiteral("4,50,100,50"));
        QVERIFY(!panel->progressBar()->isVisibleTo(panel.get()));

        fromModule(KM_DAQ_CONTROL, KS_ANSWER, "4," + csv + "," + xml);
        QVERIFY(panel->selectRecordingPathButton()->isEnabled());
        QCOMPARE(table()->rowCount(), 1);
        QCOMPARE(table()->index(0, 3).data().toString(), QString("Status \u00b5"));
        QVERIFY(panel->table()->isColumnHidden(5));
        QVERIFY(action("actionNewPlot")->isEnabled());
        QVERIFY(action("actionReloadRecording")->isEnabled());
        QVERIFY(!action("actionCancel")->isVisible());

        // Samples the module skipped are reported below the table, until
        // the next load.
        fromModule(KM_LOGTEXT, KS_INFO, QStringLiteral("2 samples skipped so far: their time is unreadable"));
        QVERIFY(panel->warningLabel()->isVisibleTo(panel.get()));
        QVERIFY(panel->warningLabel()->text().startsWith("2 samples skipped"));

        // A failed reload keeps viewer mode, with the module's error shown.
        sent.clear();
        action("actionReloadRecording")->trigger();
        QVERIFY(!panel->warningLabel()->isVisibleTo(panel.get()));
        QCOMPARE(sentOf(KM_DAQ_CONTROL), QStringList{"4," + csv});
        fromModule(KM_DAQ_CONTROL, KS_FAIL, QStringLiteral("4,cannot read 'old.csv', line 3"));
        QCOMPARE(asked.last().title, QStringLiteral("File Load Error"));
        QCOMPARE(asked.last().text, QStringLiteral("cannot read 'old.csv', line 3"));
        QVERIFY(!action("actionNewPlot")->isEnabled());
        QVERIFY(action("actionOpen")->isEnabled());

        // Cancel, then back to live mode.
        action("actionReloadRecording")->trigger();
        sent.clear();
        action("actionCancel")->trigger();
        QCOMPARE(sent.value(0).msgState(), int(KS_CANCEL));
        QCOMPARE(sent.value(0).data().toString(), QStringLiteral("4"));
        QVERIFY(panel->recordingPathEdit()->text().isEmpty());
        action("actionToggleLiveMode")->trigger();
        QCOMPARE(asked.last().title, QStringLiteral("Switch to Live Mode"));
        QVERIFY(panel->isLive());
        QCOMPARE(sentOf(KM_DAQ_CONTROL).last(), QStringLiteral("5,0"));
        QCOMPARE(table()->rowCount(), 2);
    }
};

ZOR_TEST(TestContentDataLog)
#include "tst_contentdatalog.moc"
