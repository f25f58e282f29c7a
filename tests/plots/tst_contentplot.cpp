// The time-plot panel: its configuration document (new, saved, reloaded,
// with any text in its names), Time/Div and Value/Div, the statuses that
// enable it, curves read live from the shared series, gaps, a series held
// by its writer, the scroll bar's range and the navigation steps, and
// removal.
#include "datalogseries.h"
#include "shareddataregistry.h"
#include "testdommodel.h"
#include "zorcontentplot.h"
#include "zorplotcurve.h"
#include "zorplotmarker.h"
#include "zorquestionbox.h"
#include "zortest.h"

#include <qwt_plot_curve.h>

#include <future>
#include <memory>
#include <thread>

namespace tst_contentplot {

const QString contentPlotId = QStringLiteral("001.6064h.00h");

QString contentPlotDocs(const QString &title, const QDateTime &start, int curves = 1)
{
    QList<ZorNewPlotConfigurationData> list;
    for (int i = 0; i < curves; ++i)
        list.append(ZorNewPlotConfigurationData(i ? QStringLiteral("001.60ffh.00h") : contentPlotId,
                                                i ? QStringLiteral("Target velocity") : QStringLiteral("Position"),
                                                QColor("navy")));
    return QStringLiteral("<docs>%1</docs>").arg(ZorContentPlot::initialDocument(title, list, start));
}

// A series of one sample per 100 ms over `seconds` from `first`.
int contentPlotSeries(const QDateTime &first, int seconds)
{
    auto *series = new DataLogSeries;
    for (qint64 ms = 0; ms <= qint64(seconds) * 1000; ms += 100)
        series->append(DataLogSample::atWallMs(DataLogSample::toWallMs(first) + ms, float(ms % 5000) / 10));
    return SharedDataRegistry::registerSeries(series);
}

} // namespace tst_contentplot

using namespace tst_contentplot;

class TestContentPlot : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDomModel> model;
    std::unique_ptr<ZorContentPlot> panel;
    QList<ZorMessage> sent;
    QList<int> registered;

    bool open(const QString &docs)
    {
        model.reset(new TestDomModel);
        model->addModule("datalog_plot", "Plot", QString(), docs);
        return reopen();
    }
    bool reopen()
    {
        panel.reset(new ZorContentPlot);
        connect(panel.get(), &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
        return panel->setupZorPanel(model->moduleIndex("Plot"), model.get());
    }
    void fromModule(int type, int state, const QVariant &data) { panel->msgIn(ZorMessage(type, state, data)); }
    // Shares one series for the plot's channel; the data starts on a whole minute.
    QDateTime shareSeries(int seconds)
    {
        const QDateTime first = QDateTime(QDate::currentDate(), QTime(QTime::currentTime().hour(), 0));
        const int id = contentPlotSeries(first, seconds);
        registered << id;
        fromModule(KM_DAQ_SHARED_IDS_LIST, KS_INFO, QStringLiteral("%1,%2\n").arg(contentPlotId).arg(id));
        return first;
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
    }
    void cleanup()
    {
        ZorQuestionBox::setHook({});
        panel.reset();
        model.reset();
        for (int id : qAsConst(registered))
            SharedDataRegistry::unregister(id);
        registered.clear();
    }

    void timePerDivFromTheDocument_data()
    {
        QTest::addColumn<QString>("xScale");
        QTest::addColumn<QString>("shown");
        QTest::newRow("new plot") << "5" << "1 sec/div";
        QTest::newRow("first") << "0" << "1 min/div";
        QTest::newRow("last") << "8" << "100 msec/div";
        QTest::newRow("beyond the list") << "9" << "10 sec/div";
    }
    void timePerDivFromTheDocument()
    {
        QFETCH(QString, xScale);
        QFETCH(QString, shown);
        QString docs = contentPlotDocs("Plot", QDateTime::currentDateTime());
        docs.replace(QStringLiteral("xScale=\"5\""), QStringLiteral("xScale=\"%1\"").arg(xScale));
        QVERIFY(open(docs));
        QCOMPARE(panel->timePerDivBox()->currentText(), shown);
        QCOMPARE(panel->valueScaleBox()->currentText(), QStringLiteral("automatic"));
        QCOMPARE(panel->cursorPositionDivs(), 10.0);
        // The panel asks its data-log module for the channels' series.
        QCOMPARE(sent.last().msgType(), int(KM_DAQ_SHARED_IDS_LIST));
        QCOMPARE(sent.last().msgState(), int(KS_REQUEST));
        QVERIFY(!panel->controlsEnabled());
        QVERIFY(!panel->updateTimer()->isActive());
    }

    void withoutDocumentThePanelIsNotBuilt()
    {
        QVERIFY(!open(QString()));
        QVERIFY(!panel->plot());
    }

    void statusEnablesTheControls_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("enabled");
        for (int s : {201, 101, 0, 1203})
            QTest::addRow("%d", s) << s << true;
        for (int s : {1201, 1202, 2200, -1})
            QTest::addRow("%d", s) << s << false;
    }
    void statusEnablesTheControls()
    {
        QFETCH(int, status);
        QFETCH(bool, enabled);
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime())));
        fromModule(KM_STATUS, KS_INFO, status == -1 ? 5 : 1201);
        fromModule(KM_STATUS, KS_INFO, status);
        QCOMPARE(panel->controlsEnabled(), enabled);
        QCOMPARE(panel->scrollBar()->isEnabled(), enabled);
        QCOMPARE(panel->pauseButton()->isEnabled(), enabled);
        QCOMPARE(panel->stepForwardButton()->isEnabled(), enabled);
        QCOMPARE(panel->updateTimer()->isActive(), enabled);
    }

    void documentSurvivesSaveAndReload()
    {
        const QString title = QStringLiteral("Speed \"set\" <a> & b %3");
        QVERIFY(open(contentPlotDocs(title, QDateTime::currentDateTime(), 2)));
        QCOMPARE(panel->title(), title);
        panel->timePerDivBox()->setCurrentIndex(7);
        panel->valueScaleBox()->setEditText(QStringLiteral("min=-1000 max=1000"));
        panel->applyValueScaleText();
        panel->cursorMovedWithinPlot(3456);
        QCOMPARE(panel->cursorPositionDivs(), 17.3);
        QVERIFY(panel->commitPanelSettings().isEmpty());

        const QDomElement stored = model->moduleElement("Plot")
                                       .firstChildElement("docs")
                                       .firstChildElement("PlotConfigurationDoc")
                                       .firstChildElement("PlotConfiguration");
        QCOMPARE(stored.attribute("yScale"), QStringLiteral("-1000m1000"));
        QCOMPARE(stored.attribute("xScale"), QStringLiteral("7"));
        QVERIFY(!stored.hasAttribute("earliestTimeStamp"));

        QVERIFY(reopen());
        QCOMPARE(panel->title(), title);
        QCOMPARE(panel->curves().size(), 2);
        QCOMPARE(panel->curves().at(1).objectName, QStringLiteral("Target velocity"));
        QCOMPARE(panel->curves().at(1).colorName(), QStringLiteral("#000080"));
        QCOMPARE(panel->timePerDivBox()->currentText(), QStringLiteral("200 msec/div"));
        QCOMPARE(panel->cursorPositionDivs(), 17.3);
        // The compact text reads back as the preset: nothing is added.
        QCOMPARE(panel->valueScaleBox()->currentText(), QStringLiteral("min=-1000 max=1000"));
        QCOMPARE(panel->valueScaleBox()->count(), 8);
        QCOMPARE(panel->appliedValueScale().mode(), int(ValueRangeSpec::MinMax));
        // Without a stored start the plot starts at set-up time.
        QVERIFY(qAbs(panel->plot()->referenceTime().secsTo(QDateTime::currentDateTime())) <= 2);
    }

    void valueDivKeepsFiveUserTexts()
    {
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime())));
        QComboBox *box = panel->valueScaleBox();
        for (int i = 1; i <= 6; ++i) {
            box->setEditText(QStringLiteral("%1/div").arg(i * 3));
            QTest::keyClick(box, Qt::Key_Return);
        }
        QCOMPARE(box->count(), 8 + 5);
        QCOMPARE(box->itemText(8), QStringLiteral("6/div"));
        QCOMPARE(box->currentText(), QStringLiteral("18/div"));
        QCOMPARE(panel->scaleLabel()->text(), QStringLiteral("18/div"));
        QCOMPARE(panel->appliedValueScale().first(), 18.0);

        box->setEditText(QStringLiteral("MIN=0 MAX=1000"));
        panel->applyValueScaleText();
        QCOMPARE(box->count(), 13);
        QCOMPARE(box->currentIndex(), 5);

        box->setEditText(QStringLiteral("nonsense"));
        QCOMPARE(panel->scaleLabel()->text(), QStringLiteral("Invalid Scale Definition"));
        panel->applyValueScaleText();
        QCOMPARE(panel->appliedValueScale().mode(), int(ValueRangeSpec::MinMax));
    }

    void curveFollowsTheLiveSeries()
    {
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime().addSecs(-3600))));
        const QDateTime first = shareSeries(95);
        fromModule(KM_STATUS, KS_INFO, 101);
        panel->resize(900, 500);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
        panel->updateDisplayedData();

        QVERIFY(panel->isFollowingLive());
        // 1 sec/div: the window ends on the division after the last sample.
        const QDateTime end = first.addSecs(95);
        QCOMPARE(panel->shownWindow().end(), end);
        QCOMPARE(panel->shownWindow().start(), end.addSecs(-20));
        QCOMPARE(panel->plot()->referenceTime(), first);
        const QwtPlotCurve *curve = panel->plot()->curve(contentPlotId);
        QVERIFY(curve->dataSize() > 50);
        QCOMPARE(curve->sample(int(curve->dataSize()) - 1).x(), 20000.0);
        QCOMPARE(panel->scrollBar()->maximum(), 76);
        QCOMPARE(panel->scrollBar()->value(), 76);
        QVERIFY(panel->updateTimer()->isActive());
        QVERIFY(panel->updateTimer()->interval() >= 100 && panel->updateTimer()->interval() <= 2000);

        // A channel missing from the shared ids leaves every curve empty.
        fromModule(KM_DAQ_SHARED_IDS_LIST, KS_INFO, QStringLiteral("001.60ffh.00h,999\n"));
        panel->updateDisplayedData();
        QCOMPARE(curve->dataSize(), size_t(0));
    }

    // A writer that holds a series longer than the panel waits: every
    // curve keeps its last picture (no blank frame), and the next update
    // draws again.
    void heldSeriesKeepsThePicture()
    {
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime().addSecs(-3600))));
        shareSeries(95);
        fromModule(KM_STATUS, KS_INFO, 101);
        panel->resize(900, 500);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
        panel->updateDisplayedData();
        const QwtPlotCurve *curve = panel->plot()->curve(contentPlotId);
        const size_t shown = curve->dataSize();
        QVERIFY(shown > 50);
        const QPointF lastPoint = curve->sample(int(shown) - 1);

        const int id = registered.last();
        std::promise<void> held, release;
        std::thread writer([&] {
            SharedDataRegistry::lock(id, 0);
            held.set_value();
            release.get_future().wait();
            SharedDataRegistry::unlock(id);
        });
        held.get_future().wait();
        panel->timePerDivBox()->setCurrentIndex(4);   // a picture that would change
        panel->updateDisplayedData();
        QCOMPARE(curve->dataSize(), shown);
        QCOMPARE(curve->sample(int(shown) - 1), lastPoint);
        QVERIFY(panel->updateTimer()->isActive());
        release.set_value();
        writer.join();

        panel->updateDisplayedData();
        QVERIFY(curve->dataSize() != shown);
    }

    // Acquisition stopped for 20 s: the curve breaks over the gap, and the
    // cursor shows no value inside it.
    void gapBreaksTheCurve()
    {
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime().addSecs(-3600))));
        const QDateTime first = QDateTime(QDate::currentDate(), QTime(QTime::currentTime().hour(), 0));
        auto *series = new DataLogSeries;
        for (qint64 t : {0, 30000})
            for (qint64 ms = t; ms <= t + 10000; ms += 100)
                series->append(DataLogSample::atWallMs(DataLogSample::toWallMs(first) + ms, float(ms) / 100));
        registered << SharedDataRegistry::registerSeries(series);
        fromModule(KM_DAQ_SHARED_IDS_LIST, KS_INFO, QStringLiteral("%1,%2\n").arg(contentPlotId).arg(registered.last()));
        fromModule(KM_STATUS, KS_INFO, 101);
        panel->timePerDivBox()->setCurrentIndex(4);   // 2 sec/div: the window shows 0 to 40 s
        panel->resize(900, 500);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
        panel->updateDisplayedData();
        QCOMPARE(panel->shownWindow().start(), first);

        auto *curve = dynamic_cast<ZorPlotCurve *>(panel->plot()->curve(contentPlotId));
        QVERIFY(curve);
        QCOMPARE(curve->dataSize(), size_t(202));
        QCOMPARE(curve->breaks(), QVector<int>{101});
        QCOMPARE(curve->sample(100).x(), 10000.0);
        QCOMPARE(curve->sample(101).x(), 30000.0);

        ZorPlotMarker *marker = panel->plot()->curveMarker(contentPlotId);
        panel->plot()->setCursorPosition(20000, false);
        panel->updateDisplayedData();
        QVERIFY(!marker->symbol());
        panel->plot()->setCursorPosition(5050, false);
        panel->updateDisplayedData();
        QVERIFY(marker->symbol());
        QCOMPARE(marker->yValue(), 50.5);
    }

    void scrollBarRangeFollowsTheData_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<double>("scale");
        QTest::newRow("10 divisions") << 10 << 0 << 1.0;
        QTest::newRow("1000 divisions") << 1000 << 200 << 4.905;
    }
    void scrollBarRangeFollowsTheData()
    {
        QFETCH(int, seconds);
        QFETCH(int, maximum);
        QFETCH(double, scale);
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime())));
        shareSeries(seconds);
        fromModule(KM_STATUS, KS_INFO, 101);
        panel->updateDisplayedData();
        QCOMPARE(panel->scrollBar()->minimum(), 0);
        QCOMPARE(panel->scrollBar()->maximum(), maximum);
        QCOMPARE(panel->scrollScale(), scale);
    }

    void navigationStepsAndFollowing()
    {
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime())));
        const QDateTime first = shareSeries(120);
        fromModule(KM_STATUS, KS_INFO, 101);
        panel->updateDisplayedData();
        QCOMPARE(panel->scrollBar()->maximum(), 101);

        panel->navigateToStartClicked();
        QCOMPARE(panel->scrollBar()->value(), 0);
        QCOMPARE(panel->requestedWindow().start(), first);
        QVERIFY(!panel->isFollowingLive());
        // Holding ">": one division a step for eight steps, then five.
        QList<int> values;
        for (int i = 0; i < 10; ++i) {
            panel->navigateLaterClicked();
            values << panel->scrollBar()->value();
        }
        QCOMPARE(values, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 13, 18}));
        panel->updateDisplayedData();
        QCOMPARE(panel->shownWindow().start(), first.addSecs(18));
        panel->navigateLaterReleased();
        panel->navigateLaterClicked();
        QCOMPARE(panel->scrollBar()->value(), 19);

        // Pause holds the window; unpausing follows the live end again.
        panel->pauseButton()->click();
        QVERIFY(panel->pauseButton()->isChecked());
        panel->pauseButton()->click();
        QVERIFY(panel->isFollowingLive());
        panel->updateDisplayedData();
        QCOMPARE(panel->shownWindow().end(), first.addSecs(120));

        // Time/Div keeps the window's centre, on the new grid.
        panel->timePerDivBox()->setCurrentIndex(4);
        QCOMPARE(panel->requestedWindow().start(), first.addSecs(110 - 20));
        QCOMPARE(panel->requestedWindow().end(), first.addSecs(110 + 20));
        QCOMPARE(panel->plot()->cursorPosition(), 20000);
    }

    void seekOnAnEmptyViewJumpsToTheNearestData()
    {
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime())));
        // Data from 0 to 30 s and from 100 to 130 s after the first sample.
        const QDateTime first = QDateTime(QDate::currentDate(), QTime(QTime::currentTime().hour(), 0));
        auto *series = new DataLogSeries;
        for (qint64 ms : {0, 100000})
            for (qint64 t = ms; t <= ms + 30000; t += 100)
                series->append(DataLogSample::atWallMs(DataLogSample::toWallMs(first) + t, 1));
        const int id = SharedDataRegistry::registerSeries(series);
        registered << id;
        fromModule(KM_DAQ_SHARED_IDS_LIST, KS_INFO, QStringLiteral("%1,%2\n").arg(contentPlotId).arg(id));
        fromModule(KM_STATUS, KS_INFO, 101);
        panel->updateDisplayedData();
        QCOMPARE(panel->scrollBar()->maximum(), 111);

        // With samples in view ">>" pages by the page step.
        panel->navigateToStartClicked();
        panel->updateDisplayedData();
        panel->navigateToNextDataClicked();
        QCOMPARE(panel->scrollBar()->value(), 5);

        panel->scrollBar()->setValue(50);
        panel->updateDisplayedData();
        QCOMPARE(panel->plot()->visibleSampleCount(), 0);
        panel->navigateToNextDataClicked();
        QCOMPARE(panel->pendingJump(), 1);
        panel->updateDisplayedData();
        QCOMPARE(panel->pendingJump(), 0);
        QVERIFY(panel->plot()->visibleSampleCount() > 0);
        QVERIFY(panel->shownWindow().start() >= first.addSecs(70));
        QVERIFY(panel->shownWindow().start() <= first.addSecs(100));

        panel->scrollBar()->setValue(50);
        panel->updateDisplayedData();
        panel->navigateToPrevDataClicked();
        QCOMPARE(panel->pendingJump(), -1);
        panel->updateDisplayedData();
        QVERIFY(panel->plot()->visibleSampleCount() > 0);
        QVERIFY(panel->shownWindow().end() >= first.addSecs(30));
        QVERIFY(panel->shownWindow().end() <= first.addSecs(50));
    }

    void removeAsksAndSendsTheRequest()
    {
        QVERIFY(open(contentPlotDocs("Plot", QDateTime::currentDateTime())));
        fromModule(KM_STATUS, KS_INFO, 101);
        QList<ZorQuestionBox::Question> asked;
        QMessageBox::StandardButton answer = QMessageBox::No;
        ZorQuestionBox::setHook([&](const ZorQuestionBox::Question &q) {
            asked << q;
            return answer;
        });
        sent.clear();
        panel->btnRemovePlotPanelClicked();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().title, QStringLiteral("Remove Plot From Project"));
        QVERIFY(sent.isEmpty());
        QVERIFY(panel->controlsEnabled());

        answer = QMessageBox::Yes;
        panel->btnRemovePlotPanelClicked();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().msgType(), int(KM_APPLICATION_CONTROL));
        QCOMPARE(sent.first().data().toString(), QStringLiteral("removemodule,,,MIDX-0-0-0-0"));
        QVERIFY(!panel->controlsEnabled());
        QVERIFY(!panel->updateTimer()->isActive());
        fromModule(KM_STATUS, KS_INFO, 201);
        QVERIFY(!panel->controlsEnabled());
    }
};

ZOR_TEST(TestContentPlot)
#include "tst_contentplot.moc"
