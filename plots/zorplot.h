// ZorPlot: the time-plot widget of the plot panel, on Qwt. It draws one
// curve per data object over a window of 20 time divisions (majors every
// five), with a vertical cursor labelled with its time, a marker per curve
// showing the curve's value at the cursor (interpolated between samples),
// triangle markers for text samples and, with more than one curve, a
// checkable legend on a white ground in the canvas's top right corner.
//
// A curve is titled with its object name in full (its data-object id when
// it has none), so that legend entries can be told apart. A curve breaks
// where its data has a gap (ZorPlotCurve), and the cursor shows no value of
// a curve inside one of its gaps. The value labels at the cursor are laid
// out together: each sits beside its marker, moved up or down as little as
// needed so that no two overlap, on a white ground in its curve's colour.
//
// X coordinates are milliseconds from the window's start; y coordinates are
// the (scaled) sample values. The widget owns no data: its panel sets the
// window, the value scale and the points, and replots through
// setCurveData once per update.
#pragma once

#include "datetimespan.h"
#include "valuerangespec.h"
#include "zornewplotconfigurationdata.h"

#include <QDateTime>
#include <QMap>
#include <QPointF>
#include <QPointer>
#include <QVector>
#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_scale_div.h>

class QwtPlotCurve;
class QwtPlotMarker;
class QwtPlotPicker;
class ZorPlotCurve;
class ZorPlotMarker;

class ZorPlot : public QwtPlot
{
    Q_OBJECT
public:
    // What one curve shows: its value points, its text points and the
    // indices of the value points that begin a new line after a gap.
    struct CurvePoints
    {
        QVector<QPointF> values;
        QVector<QPointF> texts;
        QVector<int> breaks;
    };

    ZorPlot(QWidget *parent, const QList<ZorNewPlotConfigurationData> &curves);
    ~ZorPlot() override;

    void setupAxes(const QString &xTitle, const QString &yTitle, const QFont &font, const QDateTime &start,
                   double windowMs, double msPerDiv);
    void setWindow(const DateTimeSpan &window, double msPerDiv);
    void setValueScale(const ValueRangeSpec &spec);
    void setCurveData(const QMap<QString, CurvePoints> &data);
    void setCursorPosition(int ms, bool replotNow);

    QDateTime referenceTime() const { return m_referenceTime; }
    void setReferenceTime(const QDateTime &time) { m_referenceTime = time; }
    DateTimeSpan window() const { return m_window; }
    QDateTime windowCentre() const;
    int visibleSampleCount() const;
    bool isCurveVisible(const QString &id) const;
    void copyToClipboard();

    // "hh:mm:ss.zzz" below 1000 ms per division, else "hh:mm:ss".
    static QString timeLabelFormat(double msPerDiv);
    // 21 ticks origin + i x step, majors at every fifth.
    static QwtScaleDiv makeScaleDiv(double step, double origin);
    // Tops for labels of the given height that want to sit at the given
    // tops: within [top, bottom - height] as far as they fit, in the same
    // order, each at least height below the one above it.
    static QVector<double> spreadLabels(const QVector<double> &wanted, double height, double top, double bottom);

    // For the panel and tests.
    QwtLegend *legend() const { return m_legend.data(); }
    QwtPlotCurve *curve(const QString &id) const;
    ZorPlotMarker *curveMarker(const QString &id) const { return m_curveMarkers.value(id); }
    QwtPlotMarker *cursorMarker() const { return m_cursor; }
    int textMarkerCount() const { return int(m_textMarkers.size()); }
    QwtScaleDiv xScaleDiv() const { return m_xDiv; }
    QwtScaleDiv yScaleDiv() const { return m_yDiv; }
    int cursorPosition() const;
    // Where the value labels at the cursor are drawn now, in canvas
    // coordinates, in the order of the curves' ids.
    QVector<QRectF> cursorLabelRects() const;

signals:
    void cursorMoved(int ms);

public slots:
    void showItem(const QVariant &info, bool on);
    void canvasClicked(const QPointF &pos);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void drawItems(QPainter *painter, const QRectF &canvasRect, const QwtScaleMap maps[axisCnt]) const override;

private:
    struct CursorLabel
    {
        QRectF rect;
        QString text;
        QColor colour;
    };

    void setTimeScale(double msPerDiv);
    void installTimeScaleDraw();
    bool updateCurveMarker(ZorPlotCurve *curve, ZorPlotMarker *marker, const CurvePoints &points);
    QVector<CursorLabel> cursorLabels(const QwtScaleMap &xMap, const QwtScaleMap &yMap, const QRectF &canvasRect) const;
    void addTextMarkers(QwtPlotCurve *curve, const QVector<QPointF> &points);
    void removeTextMarkers();
    Qt::Alignment cursorAlignment(double x) const;

    QPointer<QwtLegend> m_legend;
    QMap<QString, ZorPlotCurve *> m_curves;
    QMap<QString, ZorPlotMarker *> m_curveMarkers;   // by data-object id
    QList<ZorPlotMarker *> m_textMarkers;
    DateTimeSpan m_window;
    QDateTime m_referenceTime;
    QwtScaleDiv m_xDiv;
    QwtScaleDiv m_yDiv;
    QwtPlotMarker *m_cursor = nullptr;
    QwtPlotPicker *m_picker = nullptr;
    double m_msPerDiv = 1000;
};
