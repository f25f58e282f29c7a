#include "startstopmodule.h"

namespace StartStopStates {

void Root::cycle()
{
    ZorModule *m = module();
    if (!m)
        return;
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (!message.isRequest())
            continue;
        if (message.msgType() == KM_START) {
            setStatus(1);
            setStatusText(QStringLiteral("Running"));
        } else if (message.msgType() == KM_STOP) {
            setStatus(0);
            setStatusText(QStringLiteral("Stopped"));
        } else {
            continue;
        }
        message.setMsgState(KS_ANSWER);
        sendToMaster(message);
    }
}

} // namespace StartStopStates

StartStopModule::StartStopModule(QObject *parent)
    : ZorModule(parent)
{
    setProperty(QStringLiteral("Port"), QStringLiteral("COM1"), false, true);
    setProperty(QStringLiteral("UpdateInterval [msec]"), QStringLiteral("100"), false, true);
    setProperty(QStringLiteral("_ReadOnly"), QStringLiteral("UpdateInterval"), false, true);
}

StartStopModule::~StartStopModule()
{
    stop();
}

Macho::StateRef StartStopModule::rootStateRef() const
{
    return StartStopStates::Root::makeStateRef();
}
