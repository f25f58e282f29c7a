#include "zordeclarativeview.h"

#include "zordynamicuieditmodel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

ZorDeclarativeView::ZorDeclarativeView(QWidget *parent)
    : QQuickWidget(parent)
{
    setAcceptDrops(true);
}

ZorDeclarativeView::~ZorDeclarativeView() = default;

bool ZorDeclarativeView::holdsDataObjects(const QMimeData *mime)
{
    if (!mime)
        return false;
    // The table's own merge decides what counts as an object.
    ZorDynamicUiEditModel probe(QDomDocument(), true);
    probe.dropMimeData(mime, Qt::CopyAction, 0, 0, QModelIndex());
    return probe.rowCount() > 0;
}

bool ZorDeclarativeView::event(QEvent *event)
{
    if (m_designMode) {
        switch (event->type()) {
        case QEvent::DragEnter:
            dragEnterEvent(static_cast<QDragEnterEvent *>(event));
            return true;
        case QEvent::DragMove:
            dragMoveEvent(static_cast<QDragMoveEvent *>(event));
            return true;
        case QEvent::DragLeave:
            dragLeaveEvent(static_cast<QDragLeaveEvent *>(event));
            return true;
        case QEvent::Drop:
            dropEvent(static_cast<QDropEvent *>(event));
            return true;
        default:
            break;
        }
    }
    return QQuickWidget::event(event);
}

void ZorDeclarativeView::dragEnterEvent(QDragEnterEvent *event)
{
    if (m_designMode && holdsDataObjects(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ZorDeclarativeView::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

void ZorDeclarativeView::dragLeaveEvent(QDragLeaveEvent *event)
{
    event->accept();
}

void ZorDeclarativeView::dropEvent(QDropEvent *event)
{
    if (dropData(event->mimeData(), event->pos()))
        event->accept();
    else
        event->ignore();
}

bool ZorDeclarativeView::dropData(const QMimeData *mime, const QPoint &pos)
{
    if (!m_designMode || !mime)
        return false;
    emit dataDropped(mime->text(), pos);
    return true;
}
