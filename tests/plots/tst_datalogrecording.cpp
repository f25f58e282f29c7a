// The data-log panel and a plot against a running data-log module: what the
// panel records (CSV file and companion XML) reopens in viewer mode, and
// the plot shows the same curve from the recording as it showed live.
#include "testdommodel.h"
#include "zorcontentdatalog.h"
#include "zorcontentplot.h"
#include "zormoddatalog.h"
#include "zormonitoringeditmodel.h"
#include "zorquestionbox.h"
#include "zortest.h"

#include <qwt_plot_curve.h>

#include <memory>

namespace {

const QString recordingChannel = QStringLiteral("001.6064h.00h");

QVector<QPointF> recordingCurvePoints(ZorContentPlot &plot)
{
    QVector<QPointF> points;
    const QwtPlotCurve *curve = plot.plot()->curve(recordingChannel);
    for (size_t i = 0; i < curve->dataSize(); ++i)
        points << curve->sample(int(i));
    return points;
}

} // namespace

class TestDataLogRecording : public QObject
{
    Q_OBJECT

private slots:
    void recordedDataReopensWithTheSameCurve()
    {
        ZorMessage::registerMetaType();
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        ZorQuestionBox::setHook([](const ZorQuestionBox::Question &) { return QMessageBox::Yes; });

        TestDomModel model;
        model.addModule("datalog", "Scope", QString(),
                        "<docs><MonitoringObjects><CANopenObjectList>"
                        "<CANopenObject index=\"6064\" subIndex=\"0\" nodeId=\"1\" name=\"Position actual value\" "
                        "objectType=\"7\" dataType=\"4\" accessType=\"ro\" monitorMethod=\"Software\" "
                        "monitorInterval=\"100\"/></CANopenObjectList></MonitoringObjects></docs>"
                        "<module type=\"datalog_plot\" label=\"Plot\"><docs>"
                            + ZorContentPlot::initialDocument(
                                "Plot", {ZorNewPlotConfigurationData(recordingChannel, "Position", Qt::blue)},
                                QDateTime::currentDateTime())
                            + "</docs></module>");
        const QModelIndex scopeIndex = model.moduleIndex("Scope");
        const QModelIndex plotIndex = model.index(0, 0, scopeIndex);

        auto *module = new ZorModDataLog;
        std::unique_ptr<ZorModule, ZorModuleDeleter> owner(module);
        QVERIFY(module->setupZorModule(scopeIndex, &model));
        ZorContentDataLog panel;
        ZorContentPlot plot;
        int status = -1;
        QStringList controls;
        for (ZorPanel *p : {static_cast<ZorPanel *>(&panel), static_cast<ZorPanel *>(&plot)}) {
            connect(p, &ZorPanel::msgOut, module, &ZorModule::slaveIn);
            connect(module, &ZorModule::slaveOut, p, &ZorPanel::msgIn);
        }
        connect(module, &ZorModule::slaveOut, this, [&](const ZorMessage &m) {
            if (m.msgType() == KM_STATUS)
                status = m.data().toInt();
            if (m.msgType() == KM_DAQ_CONTROL && m.msgState() != KS_INFO)
                controls << m.data().toString();
        });
        connect(&panel, &ZorPanel::msgOut, this, [&](const ZorMessage &m) {
            if (m.msgType() == KM_DAQ_CONTROL)
                controls << m.data().toString();
        });
        module->start();
        QVERIFY(panel.setupZorPanel(scopeIndex, &model));
        QVERIFY(plot.setupZorPanel(plotIndex, &model));
        plot.resize(900, 500);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        QTRY_COMPARE(status, 0);

        panel.findChild<QAction *>("actionRecord")->trigger();
        QTRY_VERIFY(QFile::exists(panel.companionPath()));
        const QString csv = panel.recordingPath();
        QVERIFY2(csv.startsWith(dir.path() + "/Recordings/measurements_"), qPrintable(csv));
        panel.findChild<QAction *>("actionStart")->trigger();
        QTRY_COMPARE(status, 101);

        // What the gateway would report: the channel confirmed, then samples.
        module->masterIn(ZorMessage(KM_DAQ_CONFIG, KS_ANSWER,
                                    recordingChannel + ",Position actual value,integer32,Software,100,1\n"));
        const QDateTime t0(QDate::currentDate(), QTime(QTime::currentTime().hour(), 0));
        QString lines;
        for (int i = 0; i < 300; ++i)
            lines += DataLogSample::atWallMs(DataLogSample::toWallMs(t0) + i * 100, float((i * 37) % 500 - 250))
                         .toLine(recordingChannel)
                     + '\n';
        module->masterIn(ZorMessage(KM_DAQ_DATA, KS_INFO, lines));
        QTRY_VERIFY(plot.sharedIds().contains(recordingChannel));
        QTRY_VERIFY_WITH_TIMEOUT(plot.plot()->curve(recordingChannel)->dataSize() > 100, 10000);
        QTRY_COMPARE(panel.monitoringModel()->index(0, 5).data().toString(),
                     ZorContentDataLog::valueText((299 * 37) % 500 - 250));
        plot.updateTimer()->stop();
        plot.updateDisplayedData();
        const QVector<QPointF> live = recordingCurvePoints(plot);
        QCOMPARE(plot.shownWindow().end(), t0.addMSecs(30000));

        panel.findChild<QAction *>("actionRecord")->trigger();
        QTRY_VERIFY(controls.contains("2"));
        panel.on_actionOpen_triggered(csv);
        QVERIFY(!panel.isLive());
        QTRY_COMPARE_WITH_TIMEOUT(status, 201, 10000);
        QTRY_COMPARE(panel.monitoringModel()->rowCount(), 1);
        QCOMPARE(panel.monitoringModel()->index(0, 3).data().toString(), QStringLiteral("Position actual value"));

        // The plot reads the recording's series now.
        QTRY_VERIFY(plot.controlsEnabled());
        QTRY_VERIFY(plot.sharedIds().value(recordingChannel) != 0);
        plot.updateTimer()->stop();
        plot.updateDisplayedData();
        QCOMPARE(plot.shownWindow().end(), t0.addMSecs(30000));
        QCOMPARE(recordingCurvePoints(plot), live);

        module->stop();
        ZorQuestionBox::setHook({});
        QDir::setCurrent(previous);
    }
};

ZOR_TEST(TestDataLogRecording)
#include "tst_datalogrecording.moc"
