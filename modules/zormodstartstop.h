// The request loop of the module states that only wait to be started or
// stopped (idle, error and the like).
#pragma once

#include "zormodstates.h"

#include <functional>

namespace ZorModStartStop {

enum Request { None, Start, Stop };
using Test = bool (*)(const ZorMessage &);

// Drops what the slaves sent and reads the master's messages up to the first
// request that `isStart` or `isStop` accepts (a null test accepts nothing):
// that request is answered (KS_ANSWER) and its kind returned, and what
// follows it stays queued. The master's other messages go to `other` when
// one is given, else they are dropped unanswered. None when no such request
// came.
Request take(ZorModStates::Top &state, Test isStart, Test isStop,
             const std::function<void(const ZorMessage &)> &other = nullptr);

} // namespace ZorModStartStop
