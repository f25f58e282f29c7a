// A graphics view that always shows its whole scene: on every resize it fits
// the scene's rectangle into the view, keeping the aspect ratio.
#pragma once

#include <QGraphicsView>

class ZorQGraphicsView : public QGraphicsView
{
    Q_OBJECT
public:
    explicit ZorQGraphicsView(QWidget *parent = nullptr);

protected:
    void resizeEvent(QResizeEvent *event) override;
};
