#include "flickcharm.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimerEvent>
#include <QtDebug>

#include <cstdlib>

namespace {

const int TickMs = 15;
const int ClickSlopPx = 3;
const int CaughtHoldMs = 40;

int clamp(int value, int limit)
{
    return qBound(-limit, value, limit);
}

bool opposite(int a, int b)
{
    return (a < 0 && b > 0) || (a > 0 && b < 0);
}

// Moves a speed component toward 0 by `by` without crossing it.
int slowDown(int component, int by)
{
    if (component > 0)
        return qMax(component - by, 0);
    if (component < 0)
        return qMin(component + by, 0);
    return 0;
}

} // namespace

FlickCharm::FlickCharm(QObject *parent)
    : QObject(parent)
{
}

FlickCharm::~FlickCharm()
{
    m_ticker.stop();
    qDeleteAll(m_records);
}

void FlickCharm::attachTo(QWidget *widget)
{
    auto *area = qobject_cast<QAbstractScrollArea *>(widget);
    if (!area) {
        qWarning() << "FlickCharm only works on QAbstractScrollArea (and derived classes)";
        qWarning() << "or QWebView (and derived classes)";
        return;
    }
    QWidget *viewport = area->viewport();
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport->installEventFilter(this);
    area->installEventFilter(this);

    delete m_records.take(viewport);
    auto *record = new Record;
    record->area = area;
    m_records.insert(viewport, record);
    // A viewport that goes away takes its record with it.
    connect(viewport, &QObject::destroyed, this, [this, viewport] {
        delete m_records.take(viewport);
    }, Qt::UniqueConnection);
}

const FlickCharm::Record *FlickCharm::recordOf(const QAbstractScrollArea *area) const
{
    return area ? m_records.value(area->viewport()) : nullptr;
}

FlickCharm::State FlickCharm::stateOf(const QAbstractScrollArea *area) const
{
    const Record *record = recordOf(area);
    return record ? State(record->state) : Idle;
}

QPoint FlickCharm::speedOf(const QAbstractScrollArea *area) const
{
    const Record *record = recordOf(area);
    return record ? record->speed : QPoint();
}

// The content follows the pointer: the bars move against the delta.
bool FlickCharm::scrollBy(Record &record, const QPoint &delta)
{
    auto *area = qobject_cast<QAbstractScrollArea *>(record.area.data());
    if (!area)
        return false;
    QScrollBar *h = area->horizontalScrollBar();
    QScrollBar *v = area->verticalScrollBar();
    const int oldH = h->value();
    const int oldV = v->value();
    h->setValue(oldH - delta.x());
    v->setValue(oldV - delta.y());
    return h->value() != oldH || v->value() != oldV;
}

void FlickCharm::sampleSpeed(Record &record, const QPoint &pos)
{
    if (!(record.flags & HasSample)) {
        record.flags |= HasSample;
    } else if (const qint64 elapsed = record.sampleClock.elapsed()) {
        const int k = int(1000 / elapsed);
        int vx = k * (pos.x() - record.lastPos.x());
        int vy = k * (pos.y() - record.lastPos.y());
        if (std::abs(vx) <= 3)
            vx = 0;
        if (std::abs(vy) <= 3)
            vy = 0;
        QPoint &speed = record.speed;
        if (record.state == Caught) {
            // A flick in the direction of the glide speeds it up; one
            // against it stops it.
            bool add;
            if (speed.y() <= 0 && vy <= 0)
                add = true;
            else if (opposite(speed.y(), vy))
                add = !(speed.x() < 0 || vx < 0);
            else
                add = !opposite(speed.x(), vx);
            if (add)
                speed = QPoint(clamp(speed.x() + vx / 4, 4000), clamp(speed.y() + vy / 4, 4000));
            else
                speed = QPoint();
        } else if (!speed.isNull()) {
            speed = QPoint(clamp(speed.x() / 4 + (3 * vx) / 4, 2500),
                           clamp(speed.y() / 4 + (3 * vy) / 4, 2500));
        } else {
            speed = QPoint(vx, vy);
        }
    }
    record.sampleClock.start();
    record.lastPos = pos;
}

bool FlickCharm::eventFilter(QObject *object, QEvent *event)
{
    if (!object->isWidgetType())
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease
        && type != QEvent::MouseButtonDblClick && type != QEvent::MouseMove)
        return false;
    if (type == QEvent::MouseButtonDblClick)
        return true;
    auto *mouse = static_cast<QMouseEvent *>(event);
    if (type == QEvent::MouseMove && mouse->buttons() != Qt::LeftButton)
        return false;
    if (mouse->modifiers() != Qt::NoModifier)
        return false;
    auto *viewport = static_cast<QWidget *>(object);
    Record *record = m_records.value(viewport);
    if (!record)
        return false;
    if (record->ignored.removeOne(event))
        return false;

    const QPoint pos = mouse->pos();
    switch (record->state) {
    case Idle:
        if (type == QEvent::MouseButtonPress) {
            record->pressPos = pos;
        } else if (type == QEvent::MouseButtonRelease) {
            // A plain click: hand it on, as if the charm were not there.
            const QPoint global = viewport->mapToGlobal(record->pressPos);
            auto *press = new QMouseEvent(QEvent::MouseButtonPress, record->pressPos, global,
                                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            auto *release = new QMouseEvent(QEvent::MouseButtonRelease, record->pressPos, global,
                                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            record->ignored << press << release;
            QApplication::postEvent(viewport, press);
            QApplication::postEvent(viewport, release);
        } else {
            const QPoint delta = pos - record->lastPos;
            sampleSpeed(*record, pos);
            scrollBy(*record, delta);
            const QPoint moved = pos - record->pressPos;
            if (std::abs(moved.x()) > ClickSlopPx || std::abs(moved.y()) > ClickSlopPx)
                record->state = Dragging;
        }
        break;
    case Dragging:
        if (type == QEvent::MouseButtonRelease) {
            record->flags &= ~HasSample;
            record->state = Gliding;
            if (!m_ticker.isActive())
                m_ticker.start(TickMs, this);
            m_stopwatch.start();
        } else if (type == QEvent::MouseMove) {
            // The sample moves the last position: take the delta first.
            const QPoint delta = pos - record->lastPos;
            sampleSpeed(*record, pos);
            scrollBy(*record, delta);
        }
        break;
    case Gliding:
        if (type == QEvent::MouseButtonPress) {
            record->flags |= CaughtByPress;
            record->state = Caught;
            record->caughtClock.start();
            sampleSpeed(*record, pos);
            record->pressPos = pos;
        } else if (type == QEvent::MouseButtonRelease) {
            record->flags &= ~HasSample;
            record->speed = QPoint();
            record->state = Idle;
        }
        break;
    case Caught:
        if (type == QEvent::MouseButtonRelease) {
            record->flags &= ~(HasSample | CaughtByPress);
            record->state = Gliding;
        } else if (type == QEvent::MouseMove) {
            sampleSpeed(*record, pos);
            record->caughtClock.start();
            if (record->speed.isNull())
                record->state = Dragging;
        }
        break;
    }
    record->lastPos = pos;
    return true;
}

void FlickCharm::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_ticker.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    bool active = false;
    for (Record *record : qAsConst(m_records)) {
        if (record->state == Caught && (record->flags & CaughtByPress)
            && record->caughtClock.elapsed() > CaughtHoldMs) {
            record->flags &= ~HasSample;
            record->speed = QPoint();
            record->state = Dragging;
        } else if (record->state == Gliding || record->state == Caught) {
            const int t = int(m_stopwatch.elapsed());
            const QPoint step(qRound(t * record->speed.x() / 1000.0),
                              qRound(t * record->speed.y() / 1000.0));
            const bool moved = scrollBy(*record, step);
            if (!record->speed.isNull() && moved)
                active = true;
            else
                record->state = Idle;
            record->speed = QPoint(slowDown(record->speed.x(), t), slowDown(record->speed.y(), t));
        }
    }
    if (active)
        m_stopwatch.start();
    else
        m_ticker.stop();
    QObject::timerEvent(event);
}
