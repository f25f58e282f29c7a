#include "zorwrappingtoolbar.h"

#include <QAction>
#include <QLayout>
#include <QToolButton>
#include <QVector>

namespace {

// Lays its items out left to right and starts a new line where the next one
// would not fit; the height follows from the width.
class WrappingLayout : public QLayout
{
public:
    explicit WrappingLayout(QWidget *parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }
    ~WrappingLayout() override
    {
        while (QLayoutItem *item = takeAt(0))
            delete item;
    }

    void addItem(QLayoutItem *item) override { m_items.append(item); }
    int count() const override { return m_items.size(); }
    QLayoutItem *itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem *takeAt(int index) override
    {
        return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
    }
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return arrange(QRect(0, 0, width, 0), false); }
    void setGeometry(const QRect &rect) override
    {
        QLayout::setGeometry(rect);
        arrange(rect, true);
    }
    // One line of every item; narrower widths give more lines.
    QSize sizeHint() const override
    {
        QSize size;
        for (const QLayoutItem *item : m_items) {
            const QSize hint = item->sizeHint();
            size.rwidth() += hint.width() + spacing();
            size.setHeight(qMax(size.height(), hint.height()));
        }
        return size;
    }
    // As narrow as the widest item.
    QSize minimumSize() const override
    {
        QSize size;
        for (const QLayoutItem *item : m_items)
            size = size.expandedTo(item->minimumSize());
        return size;
    }

private:
    // The height the items take in `rect`; places them when `place`.
    int arrange(const QRect &rect, bool place) const
    {
        const int gap = qMax(spacing(), 0);
        int x = rect.x();
        int y = rect.y();
        int lineHeight = 0;
        for (QLayoutItem *item : m_items) {
            if (item->isEmpty())
                continue;
            const QSize hint = item->sizeHint();
            if (x > rect.x() && x + hint.width() > rect.right() + 1) {
                x = rect.x();
                y += lineHeight + gap;
                lineHeight = 0;
            }
            if (place)
                item->setGeometry(QRect(QPoint(x, y), hint));
            x += hint.width() + gap;
            lineHeight = qMax(lineHeight, hint.height());
        }
        return y + lineHeight - rect.y();
    }

    QVector<QLayoutItem *> m_items;
};

} // namespace

ZorWrappingToolBar::ZorWrappingToolBar(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new WrappingLayout(this);
    layout->setSpacing(2);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ZorWrappingToolBar::setIconSize(const QSize &size)
{
    m_iconSize = size;
    for (QToolButton *button : findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly))
        button->setIconSize(size);
}

void ZorWrappingToolBar::setToolButtonStyle(Qt::ToolButtonStyle style)
{
    m_style = style;
    for (QToolButton *button : findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly))
        button->setToolButtonStyle(style);
}

void ZorWrappingToolBar::addButton(QAction *action)
{
    auto *button = new QToolButton(this);
    button->setObjectName(action->objectName() + QStringLiteral("Button"));
    button->setAutoRaise(true);
    button->setIconSize(m_iconSize);
    button->setToolButtonStyle(m_style);
    button->setDefaultAction(action);
    layout()->addWidget(button);
}
