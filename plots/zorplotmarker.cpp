#include "zorplotmarker.h"

#include <qwt_text.h>

ZorPlotMarker::ZorPlotMarker(QwtPlotCurve *curve)
    : QwtPlotMarker(QwtText(QString()))
    , m_curve(curve)
{
}

void ZorPlotMarker::drawLabel(QPainter *, const QRectF &, const QPointF &) const
{
}
