// ZorDeclarativeView: the Qt Quick view that shows an operator screen in its
// panel. In design mode it takes drops of data objects (object clipboard
// text, as dragged from object tables) and reports them with their position
// as dataDropped; the panel then has the screen create controls for them.
// Outside design mode it takes no drops.
#pragma once

#include <QPoint>
#include <QQuickWidget>
#include <QString>

class ZorDeclarativeView : public QQuickWidget
{
    Q_OBJECT
public:
    explicit ZorDeclarativeView(QWidget *parent = nullptr);
    ~ZorDeclarativeView() override;

    bool designMode() const { return m_designMode; }
    void setDesignMode(bool on) { m_designMode = on; }

    // Takes data as a drop at `pos` would (only in design mode); true when
    // taken. Pasting uses it: a drop event sent without a drag before it
    // never reaches the view.
    bool dropData(const QMimeData *mime, const QPoint &pos);

    // True when the mime data holds at least one data object.
    static bool holdsDataObjects(const QMimeData *mime);

signals:
    void dataDropped(QString text, QPoint pos);

protected:
    // QQuickWidget hands drag events to the screen's items without calling
    // the drag handlers below; in design mode they are ours.
    bool event(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool m_designMode = false;
};
