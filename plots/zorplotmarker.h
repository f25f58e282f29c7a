// ZorPlotMarker: a plot marker that knows the curve it belongs to (the
// cursor-value marker of a curve, or one of its text markers).
#pragma once

#include <qwt_plot_marker.h>

class QwtPlotCurve;

class ZorPlotMarker : public QwtPlotMarker
{
public:
    explicit ZorPlotMarker(QwtPlotCurve *curve);

    QwtPlotCurve *curve() const { return m_curve; }

private:
    QwtPlotCurve *m_curve;
};
