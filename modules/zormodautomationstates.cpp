#include "zormodautomationstates.h"

#include "pythonruntime.h"
#include "zormodautomation.h"

namespace Automation {

// --- Root -----------------------------------------------------------------------

void Root::init()
{
    requestTransition<Idle>();
}

ZorModAutomation *Root::automation() const
{
    return static_cast<ZorModAutomation *>(module());
}

void Root::handleRequests()
{
    ZorModAutomation *m = automation();
    if (!m)
        return;
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const int type = message.msgType();
        if (type == KM_SNIFFER_SET) {
            // The base has answered it and switched this module's sniffer;
            // the slaves follow.
            sendToSlaves(ZorMessage(KM_SNIFFER_SET, KS_REQUEST, message.data()));
            continue;
        }
        if ((type != KM_SCRIPT_CONTROL && type != KM_STOP) || !message.isRequest())
            continue;
        const QString data = message.data().toString().trimmed();
        if (type == KM_STOP || data == QLatin1String("0")) {
            requestTransition<Idle>();
            return;
        }
        if (data.section(QLatin1Char(','), 0, 0) == QLatin1String("1")) {
            if (!m->becomeActive()) {
                m->sendScriptOutput(ZorModAutomation::notStartedText());
                continue;
            }
            const int comma = data.indexOf(QLatin1Char(','));
            Root::box().script = m->scriptForStart(comma < 0 ? QString() : data.mid(comma + 1));
            requestTransition<Running>();
            return;
        }
        // Any other data ("-1", ...) is no request of this module.
    }
}

// --- Idle -----------------------------------------------------------------------

void Idle::entry()
{
    setStatus(ZorModAutomation::StatusIdle);
}

void Idle::cycle()
{
    ZorModAutomation *m = automation();
    if (!m)
        return;
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message))
        m->traceReceived(message);
    handleRequests();
}

// --- Running ----------------------------------------------------------------------

void Running::entry()
{
    setStatus(ZorModAutomation::StatusRunning);
    setStatusText(tr("Script Started"));
    if (ZorModAutomation *m = automation()) {
        m->becomeActive();   // reserved by the start request already
        m->clearStopFlag();
        m->loadLogHistory();
    }
}

void Running::exit()
{
    if (ZorModAutomation *m = automation()) {
        m->setStopFlag();
        m->saveLogHistory();
        m->resignActive();
    }
}

void Running::cycle()
{
    ZorModAutomation *m = automation();
    if (!m)
        return;
    QString errorText;
    int errorLine = 0;
    const bool ok = m->runScript(Root::box().script, errorText, errorLine);
    m->finishScriptControl();
    if (!errorText.isEmpty())
        m->sendScriptOutput(QStringLiteral("%1,StdErr:%2")
                                .arg(errorLine > 0 ? QString::number(errorLine)
                                                   : QStringLiteral("0"),
                                     errorText));
    if (ok) {
        setStatusText(tr("Script Finished"));
        requestTransition<Idle>();
    } else if (errorText.contains(PythonRuntime::stoppedByUserText())) {
        setStatusText(tr("Stopped by User"));
        requestTransition<Idle>();
    } else {
        requestTransition<Error>();
    }
}

// --- Error ------------------------------------------------------------------------

void Error::entry()
{
    if (ZorModAutomation *m = automation()) {
        m->clearInQueue(ZorModule::FromSlaves);
        m->clearInQueue(ZorModule::FromMaster);
    }
    setStatus(ZorModAutomation::StatusScriptError);
    setStatusText(tr("Script Error"));
}

void Error::cycle()
{
    if (ZorModAutomation *m = automation())
        m->clearInQueue(ZorModule::FromSlaves);
    handleRequests();
}

} // namespace Automation
