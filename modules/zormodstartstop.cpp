#include "zormodstartstop.h"

#include "zormodule.h"

ZorModStartStop::Request ZorModStartStop::take(ZorModStates::Top &state, Test isStart, Test isStop,
                                               const std::function<void(const ZorMessage &)> &other)
{
    ZorModule *m = state.module();
    m->clearInQueue(ZorModule::FromSlaves);
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const Request kind = isStart && isStart(message) ? Start : isStop && isStop(message) ? Stop : None;
        if (kind != None) {
            message.setMsgState(KS_ANSWER);
            state.sendToMaster(message);
            return kind;
        }
        if (other)
            other(message);
    }
    return None;
}
