// A line edit for search texts with a magnifier button drawn inside its right
// edge. The text never runs under the button; the button itself does
// nothing. Users connect to the line edit's own signals.
#pragma once

#include <QLineEdit>

class QToolButton;

class SearchLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit SearchLineEdit(QWidget *parent = nullptr);

    QToolButton *searchButton() const { return m_button; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QToolButton *m_button;
};
