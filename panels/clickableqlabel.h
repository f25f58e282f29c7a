// A label that reports a left mouse press as clicked(), so that a picture or
// a text can act as a button. Presses with other buttons are ignored.
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
    void mousePressEvent(QMouseEvent *event) override;
};
