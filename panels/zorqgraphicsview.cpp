#include "zorqgraphicsview.h"

ZorQGraphicsView::ZorQGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
}

void ZorQGraphicsView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    if (scene())
        fitInView(scene()->sceneRect(), Qt::KeepAspectRatio);
}
