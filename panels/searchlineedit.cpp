#include "searchlineedit.h"

#include "zorpanelicons.h"

#include <QStyle>
#include <QToolButton>

SearchLineEdit::SearchLineEdit(QWidget *parent)
    : QLineEdit(parent)
    , m_button(new QToolButton(this))
{
    ZorPanelIcons::init();
    m_button->setIcon(QIcon(ZorPanelIcons::Zoom));
    m_button->setIconSize(QSize(17, 17));
    m_button->setCursor(Qt::ArrowCursor);
    m_button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0px; }"));
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const QSize button = m_button->sizeHint();
    setStyleSheet(QStringLiteral("QLineEdit { padding-right: %1px; } ")
                      .arg(button.width() + frame + 1));
    const QSize hint = minimumSizeHint();
    const int side = button.height() + 2 * frame + 2;
    setMinimumSize(qMax(hint.width(), side), qMax(hint.height(), side));
}

void SearchLineEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const QSize button = m_button->sizeHint();
    const QRect r = rect();
    m_button->move(r.right() - frame - button.width(), (r.bottom() + 1 - button.height()) / 2);
}
