// A transparent hint laid over a view (a table, a plot): one centred
// rich-text line such as an invitation to drop something there. Mouse
// events pass through to the widget below; with drops enabled on it, the
// overlay accepts drag-enter events so that its owner can watch a drop, and
// setHighlighted draws a dashed frame around the text to show that a drop is
// possible. Owners call fitToParent on their resize events.
#pragma once

#include <QWidget>

namespace Ui {
class ZorOverlayLabel;
}

class ZorOverlayLabel : public QWidget
{
    Q_OBJECT
public:
    explicit ZorOverlayLabel(QWidget *parent = nullptr);
    ~ZorOverlayLabel() override;

    QString text() const { return m_text; }
    void setText(const QString &text);
    void setHighlighted(bool on);
    void fitToParent();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;

private:
    Ui::ZorOverlayLabel *ui;
    QString m_text;
    int m_fontSize = 10;
};
