// The target cross of the XY positioning panel: four strokes around an open
// centre, grabbed anywhere within a circle of radius 15 around it. While
// active it is drawn black and can be dragged; inactive it is grey and
// stays put. Every mouse release emits newPosition().
#pragma once

#include <QGraphicsPathItem>
#include <QObject>

class ZorTargetCross : public QObject, public QGraphicsPathItem
{
    Q_OBJECT
public:
    explicit ZorTargetCross(QGraphicsItem *parent = nullptr);

    QPainterPath shape() const override;
    bool isActive() const { return m_active; }
    void setActive(bool active);

signals:
    void newPosition();

protected:
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;

private:
    void applyLook();

    bool m_active = true;
};
