#include "zortargetcross.h"

#include <QPen>

ZorTargetCross::ZorTargetCross(QGraphicsItem *parent)
    : QGraphicsPathItem(parent)
{
    QPainterPath path;
    const QLineF strokes[] = {{-10, 0, -3, 0}, {10, 0, 3, 0}, {0, -10, 0, -3}, {0, 10, 0, 3}};
    for (const QLineF &stroke : strokes) {
        path.moveTo(stroke.p1());
        path.lineTo(stroke.p2());
    }
    setPath(path);
    applyLook();
}

QPainterPath ZorTargetCross::shape() const
{
    QPainterPath circle;
    circle.addEllipse(QRectF(-15, -15, 30, 30));
    return circle;
}

void ZorTargetCross::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    applyLook();
}

void ZorTargetCross::applyLook()
{
    const int grey = m_active ? 0 : 128;
    setPen(QPen(QColor(grey, grey, grey), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    setFlag(QGraphicsItem::ItemIsMovable, m_active);
}

void ZorTargetCross::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    QGraphicsPathItem::mouseReleaseEvent(event);
    emit newPosition();
}
