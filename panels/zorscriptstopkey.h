// ZorScriptStopKey: Esc stops the automation script the user started,
// wherever the focus is.
//
// The panels that start scripts (the automation panel, the Python editor)
// have Esc as their own Stop key, but a panel's key works only while the
// focus is inside it: a script started from the tool bar, with the focus
// left in the project tree or in another panel, could not be stopped with
// the key. A panel that starts a script therefore registers here; Esc
// pressed anywhere in the program's windows (not in a dialog or a menu,
// which close on it) then does what the panel's Stop does, for every
// registered panel whose script still runs. A press inside such a panel is
// left to its own key, so that Stop is sent once. Other keys bound to Esc
// (the XY panel's stop, say) still do their part.
//
// GUI thread only.
#pragma once

#include <functional>

class QWidget;

namespace ZorScriptStopKey {

// Registers the panel (once; again replaces the functions) until it is
// destroyed: `running` tells whether its script runs, `stop` stops it as
// its Stop button does.
void watch(QWidget *panel, std::function<bool()> running, std::function<void()> stop);

} // namespace ZorScriptStopKey
