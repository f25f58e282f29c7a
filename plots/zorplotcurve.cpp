#include "zorplotcurve.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr double DotWidth = 3;

} // namespace

ZorPlotCurve::ZorPlotCurve(const QString &title)
    : QwtPlotCurve(title)
{
}

void ZorPlotCurve::setSegments(const QVector<QPointF> &points, const QVector<int> &breaks)
{
    m_breaks = breaks;
    setSamples(points);
}

bool ZorPlotCurve::breaksBefore(int i) const
{
    return std::binary_search(m_breaks.cbegin(), m_breaks.cend(), i);
}

void ZorPlotCurve::drawCurve(QPainter *painter, int style, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                             const QRectF &canvasRect, int from, int to) const
{
    if (m_breaks.isEmpty()) {
        QwtPlotCurve::drawCurve(painter, style, xMap, yMap, canvasRect, from, to);
        return;
    }
    auto next = std::upper_bound(m_breaks.cbegin(), m_breaks.cend(), from);
    for (int first = from; first <= to;) {
        const int last = next == m_breaks.cend() ? to : std::min(to, *next - 1);
        if (last > first) {
            QwtPlotCurve::drawCurve(painter, style, xMap, yMap, canvasRect, first, last);
        } else {
            painter->save();
            QPen pen = painter->pen();
            pen.setWidthF(DotWidth);
            pen.setCapStyle(Qt::RoundCap);
            painter->setPen(pen);
            drawDots(painter, xMap, yMap, canvasRect, first, first);
            painter->restore();
        }
        first = last + 1;
        if (next != m_breaks.cend())
            ++next;
    }
}
