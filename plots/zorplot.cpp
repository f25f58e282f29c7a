#include "zorplot.h"

#include "canvas.h"
#include "timescaledraw.h"
#include "zorplotmarker.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QPen>
#include <QPixmap>
#include <QRegularExpression>
#include <QResizeEvent>
#include <cmath>
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

QPen thinPen(const QColor &colour, Qt::PenStyle style)
{
    return QPen(QBrush(colour), 0, style, Qt::SquareCap, Qt::BevelJoin);
}

// The first two words of an object name: the curve's title.
QString curveTitle(const QString &objectName)
{
    return objectName.section(QRegularExpression(QStringLiteral("\\s+")), 0, 1);
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
        connect(this, &QwtPlot::legendDataChanged, m_legend.data(), &QwtLegend::updateLegend);
    }

    for (int i = 0; i < curves.size(); ++i) {
        const ZorNewPlotConfigurationData &record = curves.at(i);
        const QString title = curveTitle(record.objectName);
        auto *curve = new QwtPlotCurve(title);
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
        m_curveMarkers.insert(title, marker);
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
    m_cursor->setLabel(QwtText(m_window.start().addMSecs(ms).toString(QStringLiteral("hh:mm:ss.zzz"))));
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
        QwtPlotCurve *curve = m_curves.value(it.key());
        if (!curve)
            continue;
        curve->setSamples(it.value().first);
        updateCurveMarker(curve, it.value().first);
        addTextMarkers(curve, it.value().second);
    }
    replot();
}

bool ZorPlot::updateCurveMarker(QwtPlotCurve *curve, const QVector<QPointF> &points)
{
    ZorPlotMarker *marker = m_curveMarkers.value(curve->title().text());
    if (!marker || !curve->isVisible())
        return false;
    const double cx = m_cursor->xValue();
    const QPointF none(0, 0);
    bool found = false;
    double y = 0;
    QPointF before = none;
    for (const QPointF &p : points) {
        if (p.x() == cx) {
            y = p.y();
            found = true;
            break;
        }
        if (p.x() < cx) {
            before = p;
            continue;
        }
        // The first point after the cursor.
        if (before != none && p != none) {
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
    if (ZorPlotMarker *marker = m_curveMarkers.value(item->title().text()))
        marker->setVisible(on);
    replot();
}

bool ZorPlot::eventFilter(QObject *watched, QEvent *event)
{
    // The canvas also moves when the value labels change width.
    if (m_legend && watched == canvas() && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        m_legend->move(canvas()->x() + canvas()->width() - m_legend->width(), 10);
    return QwtPlot::eventFilter(watched, event);
}
