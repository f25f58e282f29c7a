// ZorPlotMarker: a plot marker that knows the curve it belongs to (the
// cursor-value marker of a curve, or one of its text markers). It draws no
// label of its own: the plot lays the value labels of all curves out
// together, so that they do not overlap.
#pragma once

#include <qwt_plot_marker.h>

class QwtPlotCurve;

class ZorPlotMarker : public QwtPlotMarker
{
public:
    explicit ZorPlotMarker(QwtPlotCurve *curve);

    QwtPlotCurve *curve() const { return m_curve; }

protected:
    void drawLabel(QPainter *painter, const QRectF &canvasRect, const QPointF &position) const override;

private:
    QwtPlotCurve *m_curve;
};
