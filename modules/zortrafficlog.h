// ZorTrafficLog: the traffic log of a module that talks to a device over TCP.
//
// Each line is the local date and time, a blank, the text ("TX: ...",
// "RX: ...") and a line feed. The lines are collected and handed out as one
// text at most every 550 ms, so that a chatty device costs one KM_LOGTEXT
// message per half second instead of one per line. Lives in a state box of
// the module thread.
#pragma once

#include <QElapsedTimer>
#include <QString>

class ZorTrafficLog
{
public:
    static constexpr int FlushPeriodMs = 550;

    ZorTrafficLog() { m_clock.start(); }

    void append(const QString &text);
    // The collected lines when more than FlushPeriodMs have passed since the
    // last hand-out, else an empty text (the lines wait). The clock restarts
    // whenever the period had passed.
    QString takeDue();
    bool isEmpty() const { return m_text.isEmpty(); }

private:
    QString m_text;
    QElapsedTimer m_clock;
};
