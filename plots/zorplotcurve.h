// ZorPlotCurve: a curve of the time plot that breaks where its data has a
// gap. Its points are drawn as one line per run between two breaks; a
// point that stands alone between two breaks is drawn as a dot, so that a
// sample that had no neighbours is still seen.
#pragma once

#include <qwt_plot_curve.h>

#include <QVector>

class ZorPlotCurve : public QwtPlotCurve
{
public:
    explicit ZorPlotCurve(const QString &title);

    // The points, and the indices of the points that begin a new line after
    // a gap, ascending.
    void setSegments(const QVector<QPointF> &points, const QVector<int> &breaks);
    const QVector<int> &breaks() const { return m_breaks; }
    // A gap lies between the points i - 1 and i.
    bool breaksBefore(int i) const;

protected:
    void drawCurve(QPainter *painter, int style, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                   const QRectF &canvasRect, int from, int to) const override;

private:
    QVector<int> m_breaks;
};
