// Finger-style scrolling for any scroll area.
//
// FlickCharm is an event filter: attached to a QAbstractScrollArea (a list,
// a text browser, ...) it hides the scroll bars and lets the user drag the
// content with the left mouse button or a finger. Released while moving, the
// content glides on and slows down by 1000 pixels per second per second on
// each axis; a press while gliding catches it, and holding still for more
// than 40 ms turns the glide into a drag again. A plain click (press and
// release without moving more than 3 pixels) is handed on to the widget
// under the pointer as a fresh press and release. With a keyboard modifier
// held, mouse events reach the view unchanged.
//
// One charm may serve many scroll areas; it belongs to the GUI thread.
#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>

class QAbstractScrollArea;
class QEvent;
class QWidget;

class FlickCharm : public QObject
{
    Q_OBJECT
public:
    enum State { Idle = 0, Dragging = 1, Gliding = 2, Caught = 3 };

    explicit FlickCharm(QObject *parent = nullptr);
    ~FlickCharm() override;

    // Takes over the scrolling of a QAbstractScrollArea (or derived); any
    // other widget only gets two warnings. Attaching again starts afresh.
    void attachTo(QWidget *widget);

    // For views and tests: the state and speed (pixels per second) of the
    // scroll area's record; Idle and (0, 0) for an area not attached.
    State stateOf(const QAbstractScrollArea *area) const;
    QPoint speedOf(const QAbstractScrollArea *area) const;
    bool isTicking() const { return m_ticker.isActive(); }

    bool eventFilter(QObject *object, QEvent *event) override;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    enum Flag { HasSample = 0x01, CaughtByPress = 0x02 };

    struct Record
    {
        int state = Idle;
        QPointer<QWidget> area;
        QPoint pressPos;
        QPoint lastPos;
        QPoint speed;
        QElapsedTimer sampleClock;
        QList<QEvent *> ignored;
        QElapsedTimer caughtClock;
        quint8 flags = 0;
    };

    const Record *recordOf(const QAbstractScrollArea *area) const;
    static bool scrollBy(Record &record, const QPoint &delta);
    static void sampleSpeed(Record &record, const QPoint &pos);

    QHash<QWidget *, Record *> m_records;
    QBasicTimer m_ticker;
    QElapsedTimer m_stopwatch;
};
