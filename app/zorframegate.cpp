#include "zorframegate.h"

#include "zormodule.h"

#include <QCoreApplication>

ZorFrameGate::ZorFrameGate(ZorModule *module, int direction, int limit)
    : m_module(module)
    , m_direction(direction)
    , m_limit(limit)
{
    m_constructed.store(true, std::memory_order_release);
}

// Module host thread.
void ZorFrameGate::pass(const ZorMessage &message)
{
    m_constructed.load(std::memory_order_acquire);
    if (!ZorModule::isDroppableFrame(message, m_direction)) {
        emit out(message);
        return;
    }
    if (m_backlog->load() >= m_limit) {
        if (m_module)
            m_module->countDroppedFrames(1);
        return;
    }
    m_backlog->fetch_add(1);
    emit out(message);
    if (++m_unmarked >= MarkEvery) {
        postMark();
    } else if (!m_markQueued) {
        // The rest of a burst is marked once the host thread has handed
        // the burst on.
        m_markQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_markQueued = false;
                if (m_unmarked > 0)
                    postMark();
            },
            Qt::QueuedConnection);
    }
}

void ZorFrameGate::postMark()
{
    // Posted to the GUI thread behind the frames' own events, which it
    // handles in the order they were posted.
    const int count = m_unmarked;
    m_unmarked = 0;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [backlog = m_backlog, count] { backlog->fetch_sub(count); },
        Qt::QueuedConnection);
}
