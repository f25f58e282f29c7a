// A label that acts as a button: a press of the left mouse button on it is
// reported as clicked(). The main window's tool-bar logo uses it to open the
// about box.
#pragma once

#include <QLabel>

class ClickableQLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickableQLabel(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    // Left button: clicked() and the event is taken. Other buttons are
    // ignored and passed on.
    void mousePressEvent(QMouseEvent *event) override;
};
