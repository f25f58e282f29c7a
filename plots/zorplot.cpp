#include "zorplot.h"

#include "canvas.h"
#include "timescaledraw.h"
#include "zorplotcurve.h"
#include "zorplotmarker.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_picker_machine.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_layout.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_picker.h>
#include <qwt_symbol.h>

namespace {

constexpr int Divisions = 20;
constexpr int LegendRowHeight = 26;
constexpr int LegendMinimumWidth = 220;
// Value labels: space around the text, and their distance from the cursor.
constexpr double LabelPadding = 3;
constexpr double LabelOffset = 8;
// A ground the grid and the cursor do not show through.
const QColor LabelGround(255, 255, 255, 235);

QPen thinPen(const QColor &colour, Qt::PenStyle style)
{
    return QPen(QBrush(colour), 0, style, Qt::SquareCap, Qt::BevelJoin);
}

// The title of a curve: its object name, or its data-object id without one.
QString curveTitle(const ZorNewPlotConfigurationData &record)
{
    const QString name = record.objectName.simplified();
    return name.isEmpty() ? record.dataObjectId : name;
}

} // namespace

ZorPlot::ZorPlot(QWidget *parent, const QList<ZorNewPlotConfigurationData> &curves)
    : QwtPlot(parent)
{
    auto *canvas = new Canvas(this);
    setCanvas(canvas);
    canvas->installEventFilter(this);
    setAutoReplot(false);
    plotLayout()->setAlignCanvasToScales(true);
    setFrameStyle(QFrame::NoFrame);
    setCanvasBackground(QBrush(Qt::white));

    auto *grid = new QwtPlotGrid;
    grid->setPen(thinPen(Qt::black, Qt::DotLine));
    grid->enableX(true);
    grid->enableXMin(true);
    grid->enableY(true);
    grid->enableYMin(false);
    grid->attach(this);

    m_cursor = new QwtPlotMarker;
    m_cursor->setLineStyle(QwtPlotMarker::VLine);
    m_cursor->setLinePen(thinPen(Qt::black, Qt::SolidLine));
    m_cursor->setValue(0, 0);
    m_cursor->attach(this);

    if (curves.size() > 1) {
        m_legend = new QwtLegend(this);
        m_legend->setDefaultItemMode(QwtLegendData::Checkable);
        m_legend->setMaxColumns(1);
        m_legend->setAutoFillBackground(true);
        QPalette ground = m_legend->palette();
        ground.setColor(QPalette::Window, LabelGround);
        m_legend->setPalette(ground);
        connect(this, &QwtPlot::legendDataChanged, m_legend.data(), &QwtLegend::updateLegend);
    }

    for (int i = 0; i < curves.size(); ++i) {
        const ZorNewPlotConfigurationData &record = curves.at(i);
        auto *curve = new ZorPlotCurve(curveTitle(record));
        curve->setStyle(QwtPlotCurve::Lines);
        curve->setPen(QPen(record.color));
        curve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
        curve->setPaintAttribute(QwtPlotCurve::ClipPolygons, false);
        curve->setZ(i);
        curve->setSamples(QVector<QPointF>());
        curve->attach(this);
        m_curves.insert(record.dataObjectId, curve);

        auto *marker = new ZorPlotMarker(curve);
        marker->setValue(0, 0);
        marker->attach(this);
        m_curveMarkers.insert(record.dataObjectId, marker);
    }

    if (m_legend) {
        connect(m_legend.data(), &QwtLegend::checked, this, &ZorPlot::showItem);
        replot();
        for (QwtPlotCurve *curve : qAsConst(m_curves)) {
            const QList<QWidget *> widgets = m_legend->legendWidgets(itemToInfo(curve));
            if (widgets.size() == 1)
                if (auto *label = qobject_cast<QwtLegendLabel *>(widgets.first()))
                    label->setChecked(true);
        }
        m_legend->setFixedHeight(LegendRowHeight * int(curves.size()));
        m_legend->setMinimumWidth(LegendMinimumWidth);
        updateLegend();
        m_legend->resize(qMax(LegendMinimumWidth, m_legend->sizeHint().width()), m_legend->height());
    }

    m_picker = new QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::CrossRubberBand,
                                 QwtPicker::AlwaysOff, canvas);
    m_picker->setStateMachine(new QwtPickerClickPointMachine);
    // Arrow keys belong to the panel's navigation shortcuts.
    m_picker->setKeyPattern(QwtEventPattern::KeyUp, 0);
    m_picker->setKeyPattern(QwtEventPattern::KeyDown, 0);
    m_picker->setKeyPattern(QwtEventPattern::KeyLeft, 0);
    m_picker->setKeyPattern(QwtEventPattern::KeyRight, 0);
    connect(m_picker, qOverload<const QPointF &>(&QwtPlotPicker::selected), this, &ZorPlot::canvasClicked);
}

ZorPlot::~ZorPlot()
{
    removeTextMarkers();
}

QString ZorPlot::timeLabelFormat(double msPerDiv)
{
    return msPerDiv < 1000 ? QStringLiteral("hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss");
}

QwtScaleDiv ZorPlot::makeScaleDiv(double step, double origin)
{
    QList<double> ticks[QwtScaleDiv::NTickTypes];
    for (int i = 0; i <= Divisions; ++i) {
        const double tick = origin + i * step;
        ticks[i % 5 == 0 ? QwtScaleDiv::MajorTick : QwtScaleDiv::MinorTick].append(tick);
    }
    const QList<double> &majors = ticks[QwtScaleDiv::MajorTick];
    return QwtScaleDiv(majors.first(), majors.last(), ticks);
}

void ZorPlot::setupAxes(const QString &xTitle, const QString &yTitle, const QFont &font, const QDateTime &start,
                        double windowMs, double msPerDiv)
{
    setAxisFont(QwtPlot::xBottom, font);
    setAxisFont(QwtPlot::yLeft, font);
    QwtText x(xTitle);
    x.setFont(font);
    setAxisTitle(QwtPlot::xBottom, x);
    QwtText y(yTitle);
    y.setFont(font);
    setAxisTitle(QwtPlot::yLeft, y);

    QDateTime begin = start;
    begin.setTime(QTime(start.time().hour(), start.time().minute(), start.time().second()));
    m_window.set(begin, begin.addMSecs(qint64(windowMs)));
    m_msPerDiv = msPerDiv;
    installTimeScaleDraw();
    setAxisScale(QwtPlot::xBottom, 0, windowMs);
    setTimeScale(msPerDiv);
    setAxisAutoScale(QwtPlot::yLeft, true);
}

void ZorPlot::installTimeScaleDraw()
{
    setAxisScaleDraw(QwtPlot::xBottom, new TimeScaleDraw(m_window.start(), timeLabelFormat(m_msPerDiv)));
    setAxisLabelAlignment(QwtPlot::xBottom, Qt::AlignLeft | Qt::AlignBottom);
}

void ZorPlot::setWindow(const DateTimeSpan &window, double msPerDiv)
{
    const bool formatChanged = timeLabelFormat(msPerDiv) != timeLabelFormat(m_msPerDiv);
    const bool same = window == m_window && msPerDiv == m_msPerDiv;
    m_window = window;
    m_msPerDiv = msPerDiv;
    if (same && !formatChanged)
        return;
    installTimeScaleDraw();
    setAxisScale(QwtPlot::xBottom, 0, double(m_window.durationMs()));
    setTimeScale(msPerDiv);
    setCursorPosition(cursorPosition(), false);
}

void ZorPlot::setTimeScale(double msPerDiv)
{
    m_xDiv = makeScaleDiv(msPerDiv, 0);
    setAxisScaleDiv(QwtPlot::xBottom, m_xDiv);
}

void ZorPlot::setValueScale(const ValueRangeSpec &spec)
{
    switch (spec.mode()) {
    case ValueRangeSpec::Automatic:
        setAxisAutoScale(QwtPlot::yLeft, true);
        break;
    case ValueRangeSpec::MinMax:
        m_yDiv = makeScaleDiv((spec.second() - spec.first()) / Divisions, spec.first());
        setAxisScaleDiv(QwtPlot::yLeft, m_yDiv);
        break;
    case ValueRangeSpec::PerDivision:
        m_yDiv = makeScaleDiv(spec.first(), spec.second());
        setAxisScaleDiv(QwtPlot::yLeft, m_yDiv);
        break;
    default:
        break;
    }
}

int ZorPlot::cursorPosition() const
{
    return int(m_cursor->xValue());
}

Qt::Alignment ZorPlot::cursorAlignment(double x) const
{
    const QwtInterval range = axisInterval(QwtPlot::xBottom);
    return x <= range.width() / 2 ? Qt::AlignRight | Qt::AlignBottom : Qt::AlignLeft | Qt::AlignBottom;
}

void ZorPlot::setCursorPosition(int ms, bool replotNow)
{
    m_cursor->setXValue(ms);
    QwtText label(m_window.start().addMSecs(ms).toString(QStringLiteral("hh:mm:ss.zzz")));
    label.setBackgroundBrush(LabelGround);
    m_cursor->setLabel(label);
    m_cursor->setLabelAlignment(cursorAlignment(ms));
    if (replotNow)
        replot();
}

void ZorPlot::canvasClicked(const QPointF &pos)
{
    int x = int(std::lround(pos.x()));
    const qint64 snap = m_window.durationMs() / Divisions / 10;
    if (snap > 0)
        x -= int(x % snap);
    setCursorPosition(x, true);
    emit cursorMoved(x);
}

QDateTime ZorPlot::windowCentre() const
{
    return m_window.start().addMSecs(m_window.durationMs() / Divisions * 10);
}

QwtPlotCurve *ZorPlot::curve(const QString &id) const
{
    return m_curves.value(id);
}

int ZorPlot::visibleSampleCount() const
{
    int count = 0;
    for (const QwtPlotCurve *curve : m_curves)
        if (curve->isVisible())
            count += int(curve->dataSize());
    return count;
}

bool ZorPlot::isCurveVisible(const QString &id) const
{
    const QwtPlotCurve *curve = m_curves.value(id);
    return curve && curve->isVisible();
}

void ZorPlot::copyToClipboard()
{
    QApplication::clipboard()->setImage(grab(rect()).toImage());
}

void ZorPlot::removeTextMarkers()
{
    for (ZorPlotMarker *marker : qAsConst(m_textMarkers)) {
        marker->detach();
        delete marker;
    }
    m_textMarkers.clear();
}

void ZorPlot::setCurveData(const QMap<QString, CurvePoints> &data)
{
    removeTextMarkers();
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        ZorPlotCurve *curve = m_curves.value(it.key());
        if (!curve)
            continue;
        curve->setSegments(it.value().values, it.value().breaks);
        updateCurveMarker(curve, m_curveMarkers.value(it.key()), it.value());
        addTextMarkers(curve, it.value().texts);
    }
    replot();
}

bool ZorPlot::updateCurveMarker(ZorPlotCurve *curve, ZorPlotMarker *marker, const CurvePoints &data)
{
    if (!marker || !curve->isVisible())
        return false;
    const double cx = m_cursor->xValue();
    const QPointF none(0, 0);
    const QVector<QPointF> &points = data.values;
    bool found = false;
    double y = 0;
    QPointF before = none;
    for (int i = 0; i < points.size(); ++i) {
        const QPointF &p = points.at(i);
        if (p.x() == cx) {
            y = p.y();
            found = true;
            break;
        }
        if (p.x() < cx) {
            before = p;
            continue;
        }
        // The first point after the cursor; nothing was sampled in between
        // when a gap separates the two.
        if (before != none && p != none && !curve->breaksBefore(i)) {
            y = before.y() + (p.y() - before.y()) * (cx - before.x()) / (p.x() - before.x());
            found = true;
        }
        break;
    }
    if (!found) {
        if (marker->symbol()) {
            marker->setSymbol(nullptr);
            marker->setLabel(QwtText());
        }
        return false;
    }
    if (marker->symbol() && std::fabs(marker->xValue() - cx) < 1e-12 && std::fabs(marker->yValue() - y) < 1e-12)
        return true;
    marker->setValue(cx, y);
    const QColor colour = curve->pen().color();
    marker->setSymbol(new QwtSymbol(QwtSymbol::Diamond, QBrush(colour), QPen(colour), QSize(10, 10)));
    marker->setLabel(QwtText(QString::number(y, 'g', 6)));
    marker->setLabelAlignment(cursorAlignment(cx));
    return true;
}

void ZorPlot::addTextMarkers(QwtPlotCurve *curve, const QVector<QPointF> &points)
{
    const QColor colour = curve->pen().color();
    for (const QPointF &p : points) {
        auto *marker = new ZorPlotMarker(curve);
        marker->setValue(p);
        marker->setLineStyle(QwtPlotMarker::VLine);
        marker->setLinePen(thinPen(colour, Qt::DashLine));
        marker->setSymbol(new QwtSymbol(QwtSymbol::DTriangle, QBrush(colour), QPen(colour), QSize(10, 10)));
        marker->attach(this);
        m_textMarkers.append(marker);
    }
}

void ZorPlot::showItem(const QVariant &info, bool on)
{
    QwtPlotItem *item = infoToItem(info);
    if (!item)
        return;
    item->setVisible(on);
    for (auto it = m_curves.cbegin(); it != m_curves.cend(); ++it)
        if (it.value() == item)
            if (ZorPlotMarker *marker = m_curveMarkers.value(it.key()))
                marker->setVisible(on);
    replot();
}

bool ZorPlot::eventFilter(QObject *watched, QEvent *event)
{
    // The canvas also moves when the value labels change width; the legend
    // takes the width its names need, known once the plot is shown.
    if (m_legend && watched == canvas() && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        m_legend->resize(qMax(LegendMinimumWidth, m_legend->sizeHint().width()), m_legend->height());
        m_legend->move(canvas()->x() + canvas()->width() - m_legend->width(), 10);
    }
    return QwtPlot::eventFilter(watched, event);
}

QVector<double> ZorPlot::spreadLabels(const QVector<double> &wanted, double height, double top, double bottom)
{
    const int n = wanted.size();
    QVector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return wanted.at(a) < wanted.at(b); });
    QVector<double> tops(n);
    const double lowest = std::max(top, bottom - height);
    for (int k = 0; k < n; ++k)
        tops[order[k]] = qBound(top, wanted.at(order[k]), lowest);
    // Down from the top, then back up from the bottom; what does not fit
    // in the end hangs below the bottom rather than over another label.
    for (int k = 1; k < n; ++k)
        tops[order[k]] = std::max(tops[order[k]], tops[order[k - 1]] + height);
    if (n > 0 && tops[order[n - 1]] > lowest) {
        tops[order[n - 1]] = lowest;
        for (int k = n - 2; k >= 0; --k)
            tops[order[k]] = std::min(tops[order[k]], tops[order[k + 1]] - height);
        tops[order[0]] = std::max(tops[order[0]], top);
        for (int k = 1; k < n; ++k)
            tops[order[k]] = std::max(tops[order[k]], tops[order[k - 1]] + height);
    }
    return tops;
}

QVector<ZorPlot::CursorLabel> ZorPlot::cursorLabels(const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                                                   const QRectF &canvasRect) const
{
    QVector<CursorLabel> labels;
    QVector<double> wanted;
    const QFontMetricsF metrics(canvas()->font());
    const double height = metrics.height() + 2 * LabelPadding;
    const double cx = xMap.transform(m_cursor->xValue());
    const bool right = (cursorAlignment(m_cursor->xValue()) & Qt::AlignRight) != 0;
    for (auto it = m_curveMarkers.cbegin(); it != m_curveMarkers.cend(); ++it) {
        const ZorPlotMarker *marker = it.value();
        if (!marker->isVisible() || !marker->symbol() || marker->label().isEmpty())
            continue;
        CursorLabel label;
        label.text = marker->label().text();
        label.colour = marker->curve()->pen().color();
        const double width = metrics.horizontalAdvance(label.text) + 2 * LabelPadding;
        const double x = right ? cx + LabelOffset : cx - LabelOffset - width;
        label.rect = QRectF(x, 0, width, height);
        labels.append(label);
        wanted.append(yMap.transform(marker->yValue()) - height / 2);
    }
    // Room is left at the bottom for the cursor's own time label, and at
    // the top for the legend where the labels would pass under it.
    const double bottom = canvasRect.bottom() - metrics.height() - 2 * LabelPadding;
    double top = canvasRect.top() + 1;
    if (m_legend && m_legend->isVisible() && !labels.isEmpty()) {
        const QRectF legend = QRectF(m_legend->geometry()).translated(-canvas()->pos());
        double from = labels.first().rect.left(), to = labels.first().rect.right();
        for (const CursorLabel &label : qAsConst(labels)) {
            from = std::min(from, label.rect.left());
            to = std::max(to, label.rect.right());
        }
        if (from < legend.right() && to > legend.left())
            top = std::max(top, legend.bottom() + LabelPadding);
    }
    const QVector<double> tops = spreadLabels(wanted, height, top, bottom);
    for (int i = 0; i < labels.size(); ++i)
        labels[i].rect.moveTop(tops.at(i));
    return labels;
}

QVector<QRectF> ZorPlot::cursorLabelRects() const
{
    QVector<QRectF> rects;
    for (const CursorLabel &label :
         cursorLabels(canvasMap(QwtPlot::xBottom), canvasMap(QwtPlot::yLeft), QRectF(canvas()->contentsRect())))
        rects.append(label.rect);
    return rects;
}

void ZorPlot::drawItems(QPainter *painter, const QRectF &canvasRect, const QwtScaleMap maps[axisCnt]) const
{
    QwtPlot::drawItems(painter, canvasRect, maps);
    const QVector<CursorLabel> labels = cursorLabels(maps[QwtPlot::xBottom], maps[QwtPlot::yLeft], canvasRect);
    if (labels.isEmpty())
        return;
    painter->save();
    painter->setFont(canvas()->font());
    for (const CursorLabel &label : labels) {
        painter->setPen(QPen(label.colour, 1));
        painter->setBrush(LabelGround);
        painter->drawRect(label.rect);
        painter->drawText(label.rect, Qt::AlignCenter, label.text);
    }
    painter->restore();
}
