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
    if (!m_designMode || !event->mimeData()) {
        event->ignore();
        return;
    }
    event->accept();
    emit dataDropped(event->mimeData()->text(), event->pos());
}
