#include "clickableqlabel.h"

#include <QMouseEvent>

ClickableQLabel::ClickableQLabel(QWidget *parent)
    : QLabel(parent)
{
}

void ClickableQLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    emit clicked();
    event->accept();
}
