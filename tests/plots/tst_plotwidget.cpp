// The time-plot widget: cursor clicks snapped to a tenth of a division, the
// 20-division scales with majors every five, time labels, the cursor value
// interpolated between samples and none inside a gap, text markers, curve
// titles, the legend of several curves on its ground in the canvas's top
// right corner, and value labels that do not overlap.
#include "zorplot.h"
#include "zorplotcurve.h"
#include "zorplotmarker.h"
#include "zortest.h"

#include <qwt_plot_curve.h>
#include <qwt_scale_draw.h>
#include <qwt_symbol.h>

namespace tst_plotwidget {

QList<ZorNewPlotConfigurationData> plotWidgetCurves(const QStringList &names)
{
    QList<ZorNewPlotConfigurationData> curves;
    for (int i = 0; i < names.size(); ++i)
        curves.append(ZorNewPlotConfigurationData(QStringLiteral("001.600%1h.00h").arg(i), names.at(i),
                                                  QColor(i ? "maroon" : "navy")));
    return curves;
}

const QDateTime plotWidgetStart(QDate(2026, 3, 5), QTime(10, 11, 12, 345));

// No two of the rectangles overlap.
bool apart(const QVector<QRectF> &rects)
{
    for (int i = 0; i < rects.size(); ++i)
        for (int j = i + 1; j < rects.size(); ++j)
            if (rects.at(i).intersects(rects.at(j)))
                return false;
    return true;
}

} // namespace tst_plotwidget

using namespace tst_plotwidget;

class TestPlotWidget : public QObject
{
    Q_OBJECT

private slots:
    void clickSnapsToATenthOfADivision()
    {
        ZorPlot plot(nullptr, plotWidgetCurves({"Position actual value"}));
        plot.setupAxes(QString(), QString(), plot.font(), plotWidgetStart, 20000, 1000);
        QSignalSpy moved(&plot, &ZorPlot::cursorMoved);
        plot.canvasClicked(QPointF(12345.4, 3));
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved.first().first().toInt(), 12300);
        QCOMPARE(plot.cursorPosition(), 12300);
        // The window starts at the whole second: 10:11:12 + 12.3 s.
        QCOMPARE(plot.cursorMarker()->label().text(), QStringLiteral("10:11:24.300"));

        // A click in a real canvas maps pixels through the x scale.
        plot.resize(820, 400);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        plot.replot();
        const QwtScaleMap map = plot.canvasMap(QwtPlot::xBottom);
        const QPoint at(int(map.transform(7777)), plot.canvas()->height() / 2);
        QTest::mouseClick(plot.canvas(), Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(moved.size(), 2);
        const int ms = moved.last().first().toInt();
        QCOMPARE(ms % 100, 0);
        QVERIFY2(qAbs(ms - 7700) <= 100, qPrintable(QString::number(ms)));
    }

    void scalesHaveTwentyDivisionsWithMajorsEveryFive_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::newRow("min max") << "min=-1000 max=1000";
        QTest::newRow("per division with offset") << "100/div offset=-1000";
        QTest::newRow("compact") << "-1000m1000";
    }
    void scalesHaveTwentyDivisionsWithMajorsEveryFive()
    {
        QFETCH(QString, spec);
        ZorPlot plot(nullptr, plotWidgetCurves({"a"}));
        ValueRangeSpec range;
        range.fromString(spec);
        plot.setValueScale(range);
        const QwtScaleDiv div = plot.yScaleDiv();
        QCOMPARE(div.ticks(QwtScaleDiv::MajorTick), (QList<double>{-1000, -500, 0, 500, 1000}));
        QCOMPARE(div.ticks(QwtScaleDiv::MinorTick).size(), 16);
        QCOMPARE(div.ticks(QwtScaleDiv::MinorTick).first(), -900.0);
        QCOMPARE(div.lowerBound(), -1000.0);
        QCOMPARE(div.upperBound(), 1000.0);
        QCOMPARE(plot.axisScaleDiv(QwtPlot::yLeft).ticks(QwtScaleDiv::MajorTick), div.ticks(QwtScaleDiv::MajorTick));
    }

    void timeLabelsShowMillisecondsBelowOneSecondPerDivision()
    {
        QCOMPARE(ZorPlot::timeLabelFormat(500), QStringLiteral("hh:mm:ss.zzz"));
        QCOMPARE(ZorPlot::timeLabelFormat(1000), QStringLiteral("hh:mm:ss"));
        QCOMPARE(ZorPlot::timeLabelFormat(60000), QStringLiteral("hh:mm:ss"));

        ZorPlot plot(nullptr, plotWidgetCurves({"a"}));
        plot.setupAxes(QString(), QString(), plot.font(), plotWidgetStart, 10000, 500);
        QCOMPARE(plot.axisScaleDraw(QwtPlot::xBottom)->label(1500).text(), QStringLiteral("10:11:13.500"));
        QCOMPARE(plot.xScaleDiv().ticks(QwtScaleDiv::MajorTick), (QList<double>{0, 2500, 5000, 7500, 10000}));
        plot.setWindow(DateTimeSpan(plotWidgetStart.addSecs(60), plotWidgetStart.addSecs(80)), 1000);
        QCOMPARE(plot.axisScaleDraw(QwtPlot::xBottom)->label(1500).text(), QStringLiteral("10:12:13"));
    }

    void cursorValueIsInterpolatedBetweenSamples()
    {
        ZorPlot plot(nullptr, plotWidgetCurves({"Position actual value"}));
        plot.setupAxes(QString(), QString(), plot.font(), plotWidgetStart, 20000, 1000);
        plot.setCursorPosition(1500, false);
        const QString id = QStringLiteral("001.6000h.00h");
        QMap<QString, ZorPlot::CurvePoints> data;
        data[id].values = {QPointF(1000, 0.5), QPointF(2000, 1.5), QPointF(3000, 7)};
        data[id].texts = {QPointF(2500, 0)};
        plot.setCurveData(data);
        ZorPlotMarker *marker = plot.curveMarker(id);
        QVERIFY(marker);
        QCOMPARE(marker->value(), QPointF(1500, 1));
        QVERIFY(marker->symbol());
        QCOMPARE(marker->symbol()->style(), QwtSymbol::Diamond);
        QCOMPARE(marker->label().text(), QStringLiteral("1"));
        QCOMPARE(plot.textMarkerCount(), 1);
        QCOMPARE(plot.visibleSampleCount(), 3);

        // On a sample: its own value. Beyond the last: no value, no symbol.
        plot.setCursorPosition(3000, false);
        plot.setCurveData(data);
        QCOMPARE(marker->value(), QPointF(3000, 7));
        plot.setCursorPosition(5000, false);
        data[id].texts.clear();
        plot.setCurveData(data);
        QVERIFY(!marker->symbol());
        QVERIFY(marker->label().text().isEmpty());
        QCOMPARE(plot.textMarkerCount(), 0);

        // Inside a gap nothing was sampled: no value, and the line breaks.
        data[id].breaks = {2};
        plot.setCursorPosition(2500, false);
        plot.setCurveData(data);
        QVERIFY(!marker->symbol());
        QCOMPARE(static_cast<ZorPlotCurve *>(plot.curve(id))->breaks(), QVector<int>{2});
        plot.setCursorPosition(1500, false);
        plot.setCurveData(data);
        QCOMPARE(marker->value(), QPointF(1500, 1));
    }

    // Legend entries and markers are told apart by the whole name; a curve
    // without one is titled with its data-object id.
    void curveTitlesAreTheNames()
    {
        ZorPlot plot(nullptr, plotWidgetCurves({"Statusword", "Target  velocity left", "Target velocity right", ""}));
        QCOMPARE(plot.curve("001.6000h.00h")->title().text(), QStringLiteral("Statusword"));
        QCOMPARE(plot.curve("001.6001h.00h")->title().text(), QStringLiteral("Target velocity left"));
        QCOMPARE(plot.curve("001.6002h.00h")->title().text(), QStringLiteral("Target velocity right"));
        QCOMPARE(plot.curve("001.6003h.00h")->title().text(), QStringLiteral("001.6003h.00h"));
        QCOMPARE(plot.curveMarker("001.6001h.00h")->curve(), plot.curve("001.6001h.00h"));
        QCOMPARE(plot.curveMarker("001.6002h.00h")->curve(), plot.curve("001.6002h.00h"));
    }

    void labelsSpreadWithoutOverlap_data()
    {
        QTest::addColumn<QVector<double>>("wanted");
        QTest::addColumn<QVector<double>>("tops");
        // Labels 20 px high in [0, 200].
        QTest::newRow("apart already") << QVector<double>{10, 100} << QVector<double>{10, 100};
        QTest::newRow("close: the lower one moves down") << QVector<double>{10, 12} << QVector<double>{10, 30};
        QTest::newRow("any order") << QVector<double>{12, 10} << QVector<double>{30, 10};
        QTest::newRow("at the bottom: moved up") << QVector<double>{190, 185} << QVector<double>{180, 160};
        QTest::newRow("above the top") << QVector<double>{-30, -25} << QVector<double>{0, 20};
    }
    void labelsSpreadWithoutOverlap()
    {
        QFETCH(QVector<double>, wanted);
        QFETCH(QVector<double>, tops);
        QCOMPARE(ZorPlot::spreadLabels(wanted, 20, 0, 200), tops);
    }

    // Two curves with nearly the same value at the cursor: their labels are
    // both shown, one above the other; more labels than fit never overlap.
    void valueLabelsDoNotOverlap()
    {
        ZorPlot plot(nullptr, plotWidgetCurves({"Position actual value", "Position demand value"}));
        plot.setupAxes(QString(), QString(), plot.font(), plotWidgetStart, 20000, 1000);
        ValueRangeSpec range;
        range.fromString("min=0 max=1000");
        plot.setValueScale(range);
        plot.resize(800, 400);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        plot.setCursorPosition(1500, false);
        QMap<QString, ZorPlot::CurvePoints> data;
        data["001.6000h.00h"].values = {QPointF(1000, 500), QPointF(2000, 500)};
        data["001.6001h.00h"].values = {QPointF(1000, 501), QPointF(2000, 503)};
        plot.setCurveData(data);
        const QVector<QRectF> rects = plot.cursorLabelRects();
        QCOMPARE(rects.size(), 2);
        QVERIFY(apart(rects));
        // Each stays next to its value.
        const double y = plot.canvasMap(QwtPlot::yLeft).transform(500);
        for (const QRectF &r : rects)
            QVERIFY2(std::fabs(r.center().y() - y) < 2 * r.height(), qPrintable(QString::number(r.center().y())));
        QCOMPARE(plot.curveMarker("001.6001h.00h")->label().text(), QStringLiteral("502"));

        // Near the top, below the legend: the labels move down beneath it.
        plot.setCursorPosition(15000, false);
        data["001.6000h.00h"].values = {QPointF(14000, 999), QPointF(16000, 999)};
        data["001.6001h.00h"].values = {QPointF(14000, 995), QPointF(16000, 995)};
        plot.setCurveData(data);
        const QRectF legend = QRectF(plot.legend()->geometry()).translated(-plot.canvas()->pos());
        const QVector<QRectF> belowLegend = plot.cursorLabelRects();
        QCOMPARE(belowLegend.size(), 2);
        QVERIFY(apart(belowLegend + QVector<QRectF>{legend}));

        const QVector<double> crowded = ZorPlot::spreadLabels(QVector<double>(15, 0.0), 20, 0, 100);
        QVector<QRectF> crowdedRects;
        for (double top : crowded)
            crowdedRects << QRectF(0, top, 10, 20);
        QVERIFY(apart(crowdedRects));
    }

    void legendOnlyForSeveralCurvesAtTheTopRight()
    {
        ZorPlot single(nullptr, plotWidgetCurves({"a"}));
        QVERIFY(!single.legend());

        ZorPlot plot(nullptr, plotWidgetCurves({"Position actual value", "Target velocity"}));
        QVERIFY(plot.legend());
        QCOMPARE(plot.legend()->height(), 52);
        // On a ground of its own: grid and cursor do not run through it.
        QVERIFY(plot.legend()->autoFillBackground());
        QVERIFY(plot.legend()->palette().color(QPalette::Window).alpha() > 200);
        plot.resize(800, 400);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        QTRY_COMPARE(plot.legend()->geometry().right(), plot.canvas()->geometry().right());
        QCOMPARE(plot.legend()->y(), 10);

        // Unchecking a legend entry hides the curve and its cursor marker.
        const QString id = QStringLiteral("001.6001h.00h");
        QVERIFY(plot.isCurveVisible(id));
        plot.showItem(plot.itemToInfo(plot.curve(id)), false);
        QVERIFY(!plot.isCurveVisible(id));
        QVERIFY(!plot.curveMarker(id)->isVisible());
    }
};

ZOR_TEST(TestPlotWidget)
#include "tst_plotwidget.moc"
