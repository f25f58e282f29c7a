// A row of tool buttons, one per action, that wraps onto further lines when
// its panel is too narrow for all of them.
//
// A QToolBar hides the actions that do not fit behind its extension button
// ("»"), where nobody finds them; in a docked panel of a 1280-pixel window
// the object editor's fourteen actions do not fit one line. Here each action
// keeps a button of its own, in the order given, and the lines follow one
// another as text follows in a paragraph.
#pragma once

#include <QSize>
#include <QWidget>

class QAction;

class ZorWrappingToolBar : public QWidget
{
    Q_OBJECT
public:
    explicit ZorWrappingToolBar(QWidget *parent = nullptr);

    void setIconSize(const QSize &size);
    void setToolButtonStyle(Qt::ToolButtonStyle style);
    // A button for the action, after the ones added before.
    void addButton(QAction *action);

private:
    QSize m_iconSize{32, 32};
    Qt::ToolButtonStyle m_style = Qt::ToolButtonTextUnderIcon;
};
