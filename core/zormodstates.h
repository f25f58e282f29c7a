// The top state of every module's state machine.
//
// Each module's tree of states hangs below ZorModStates::Top, and through it
// every state reaches its module: the status number and text, the properties,
// sending to the master and the slaves, and the pending interviews. Top also
// declares the two handlers that the module's run loop calls on the current
// state:
//
//   cycle()                once per run-loop cycle; this is where a state
//                          takes its messages (module()->getMessage), polls
//                          drivers and runs its own timers. It must never
//                          block: wait by returning and looking again in the
//                          next cycle.
//   handleInterviewLine()  offered each attempt of every due interview line
//                          that is not a "Wait" line; start the request and
//                          return true, or return false for a kind the state
//                          does not carry out. Never feed an answer from
//                          inside this call; feed it later, from cycle(),
//                          through offerInterviewAnswer().
//
// A state whose cycle() only ever reacts to what arrives (messages,
// interviews) and never to the passing of time says so with
// cyclesOnlyWhenWoken(): while it is current and nothing is pending, the run
// loop sleeps until something arrives (or the periodic status is due)
// instead of waking every cycle time, so that an idle module costs nothing.
// Anything that arrives still wakes the module at once.
//
// While the machine starts (the entry and init hooks on the way to the first
// stable state) the module is not attached yet: module() is null, property()
// returns "", setProperty() returns false and sends are dropped.
#pragma once

#include "macho.h"
#include "zormessage.h"

#include <QPointer>
#include <QString>

class ZorModule;
class ZorInterview;

namespace ZorModStates {

struct Top : Macho::Link<Top, Macho::TopBase<Top>>
{
    MACHO_STATE(Top)

    struct Box
    {
        int status = 0;
        QString statusText;
        QPointer<ZorModule> module;
    };

    // Translates a text shown by a module state (context "Top").
    static QString tr(const char *text, const char *disambiguation = nullptr);

    virtual void cycle();
    virtual bool handleInterviewLine(const ZorInterview &interview);
    // True when cycle() has nothing to do unless a message or an interview
    // arrived; false (the default) keeps the module cycling every cycle time.
    virtual bool cyclesOnlyWhenWoken() const;

    ZorModule *module() const;
    int status() const;
    QString statusText() const;
    // Reports a new status number to the master (and to the slaves when the
    // module says so) and into the project model; nothing when unchanged.
    void setStatus(int code);
    void sendStatus();
    // Reports a new information text to the master and into the project
    // model; nothing when unchanged.
    void setStatusText(const QString &text);

    // Hands a message to the module's outgoing list towards the master or the
    // slaves; with stampOrigin the module's label becomes its origin.
    void sendToMaster(ZorMessage message, bool stampOrigin = true);
    void sendToSlaves(ZorMessage message, bool stampOrigin = true);

    QString property(const QString &name) const;
    bool setProperty(const QString &name, const QString &value, bool notify = true,
                     bool asDefault = false);
    // Stores the keys of the comma-separated names (each cut at its first
    // blank) as the property "_ReadOnly".
    void setReadOnlyProperties(const QString &names);

    bool hasPendingInterviews() const;
    // Offers something the module received to the waiting interview lines.
    void offerInterviewAnswer(const QString &kind, const QString &text, bool failed);
    // Inside handleInterviewLine: replaces the expected answer of that line.
    bool setLineExpectedAnswer(const QString &pattern);

    // Attaches the running module (called by the run loop only).
    void attachModule(ZorModule *module);
};

} // namespace ZorModStates
