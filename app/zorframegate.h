// ZorFrameGate: hands a module's messages on to a panel in the GUI thread,
// holding back no more than a bounded number of received CAN frames.
//
// A panel is reached from the module host's thread through queued events,
// one per message. A peer that floods faster than the GUI thread can show
// its frames (a network gateway sending more than any bus carries) would
// otherwise pile those events up without end. The gate sits in the host
// thread between the module's signal and the panel: it passes every message
// on in order, counts the frames that are on their way to the GUI thread,
// and drops (and counts at the module) the frames that find the limit
// reached. Every few frames, and when a burst is over, it posts a mark
// behind them to the GUI thread; once the GUI thread has come to the mark,
// the frames before it have been shown and no longer count.
//
// Only frames the module may lose are held to the limit
// (ZorModule::isDroppableFrame); every other message goes through.
#pragma once

#include "zormessage.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

class ZorModule;

class ZorFrameGate : public QObject
{
    Q_OBJECT
public:
    // Frames between two marks.
    static constexpr int MarkEvery = 64;

    // `direction` is the module's side the messages leave by
    // (ZorModule::ToMaster for slaveOut, ToSlaves for masterOut). The gate
    // must be moved to the module's thread before messages reach it.
    ZorFrameGate(ZorModule *module, int direction, int limit);

    // Frames passed on that the GUI thread has not come to yet.
    int backlog() const { return m_backlog->load(); }

signals:
    void out(const ZorMessage &message);

public slots:
    void pass(const ZorMessage &message);

private:
    void postMark();

    QPointer<ZorModule> m_module;
    int m_direction;
    int m_limit;
    std::shared_ptr<std::atomic<int>> m_backlog = std::make_shared<std::atomic<int>>(0);
    int m_unmarked = 0;
    bool m_markQueued = false;
    // Set last by the constructor and read first by pass(): the gate is made
    // in the GUI thread and used in the host thread, and this states that
    // hand-over in the language's own terms (Qt's locks between the two are
    // not seen by every checking tool).
    std::atomic<bool> m_constructed{false};
};
