#include "zormodautomation.h"

#include "pythonruntime.h"
#include "zorapplfiles.h"
#include "zormigration.h"
#include "zormodautomationstates.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QPointer>
#include <QRegExp>

namespace {

// The longest a script's wait sleeps between two looks at its stop flag
// and queues when nothing wakes it: a safety net only, since every message
// from the slaves, every request from the master and a stop request wake
// the wait at once.
const int WaitSliceMs = 100;

// The module whose script runs: the native functions serve it alone.
QMutex activeMutex;
ZorModAutomation *active = nullptr;

QString readScriptFile(QString path)
{
    ZorApplServices::makeAbsoluteToWorkingDir(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return PythonRuntime::scriptText(file.readAll());
}

// "<label>:<message>" as the script sees a message.
QString answerText(const QString &label, const ZorMessage &message)
{
    return label + QLatin1Char(':') + message.toString(0);
}

PyObject *stoppedByUser(ZorModAutomation *m)
{
    m->runtime()->raiseStop();
    return nullptr;
}

// Sleeps until something arrives for the module (or its stop is asked), at
// most ms, with the interpreter lock let go meanwhile.
void waitForInput(ZorModAutomation *m, qint64 ms)
{
    const int slice = int(qBound<qint64>(1, ms, WaitSliceMs));
    m->runtime()->withoutInterpreterLock([m, slice] { m->waitForWakeup(slice); });
}

// --- the native module "Quorvane" ----------------------------------------------------

PyObject *zorSendMsg(PyObject *, PyObject *args)
{
    ZorModAutomation *m = ZorModAutomation::activeModule();
    if (!m)
        return nullptr;
    const PythonRuntime::NativeCall call(m->runtime());
    if (m->pollScriptControl())
        return stoppedByUser(m);
    QString text;
    QString options;
    if (!m->runtime()->parseTwoStringArgs(args, text, options))
        return nullptr;

    ZorMessage trace(KM_AUTOMATION_SNIFFER_MSG, KS_INFO,
                     QStringLiteral("ZorSendMsg(\"%1\", \"%2\")").arg(text, options));
    trace.setOrigin(m->label());
    m->postOut(ZorModule::ToMaster, trace);

    const int colon = text.indexOf(QLatin1Char(':'));
    const QString target = text.left(qMax(colon, 0)).trimmed();
    ZorMessage message(colon < 0 ? QString() : text.mid(colon + 1).trimmed());
    message.setOrigin(m->label());
    if (!target.isEmpty())
        message.setRecipient(target);

    // Answers and reports that came earlier are not this message's answer.
    m->clearInQueue(ZorModule::FromSlaves);
    if (message.msgState() != KS_INFO) {
        m->postOut(ZorModule::ToSlaves, message);
    } else {
        m->postOut(ZorModule::ToMaster, message);
        if (message.msgType() == KM_STATUS)
            m->setStatus(message.data().toInt());
    }

    const bool wait = options.contains(QLatin1Char('w'));
    const bool asFlag = options.contains(QLatin1Char('b'));
    QString answer;
    // There is no time-out: the answer, or a stop, ends the wait.
    while (wait || asFlag) {
        if (m->pollScriptControl())
            return stoppedByUser(m);
        ZorMessage received;
        if (!m->getMessage(ZorModule::FromSlaves, received)) {
            waitForInput(m, WaitSliceMs);
            continue;
        }
        m->traceReceived(received);
        if (received.msgId() == message.msgId()) {
            answer = answerText(target.isEmpty() ? received.origin() : target, received);
            break;
        }
    }
    if (!answer.isEmpty() && asFlag)
        return m->runtime()->buildInt(answer.contains(QLatin1String("KS_ANSWER")) ? 1 : 0);
    return m->runtime()->buildString(answer);
}

PyObject *zorWaitMsg(PyObject *, PyObject *args)
{
    ZorModAutomation *m = ZorModAutomation::activeModule();
    if (!m)
        return nullptr;
    const PythonRuntime::NativeCall call(m->runtime());
    QString pattern;
    int timeoutMs = 0;
    if (!m->runtime()->parseStringIntArgs(args, pattern, timeoutMs))
        return nullptr;
    const QRegExp matcher(pattern, Qt::CaseInsensitive, QRegExp::Wildcard);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        // The stop is looked at before the time-out: an interrupt that came
        // meanwhile left the raising to this call.
        if (m->pollScriptControl())
            return stoppedByUser(m);
        const qint64 left = timeoutMs == 0 ? WaitSliceMs : timeoutMs - clock.elapsed();
        if (left <= 0)
            return m->runtime()->buildString(QString());
        ZorMessage received;
        while (m->getMessage(ZorModule::FromSlaves, received)) {
            m->traceReceived(received);
            const QString text = answerText(received.origin(), received);
            if (matcher.exactMatch(text))
                return m->runtime()->buildString(text);
        }
        waitForInput(m, left);
    }
}

PyObject *captureStdOut(PyObject *, PyObject *args)
{
    ZorModAutomation *m = ZorModAutomation::activeModule();
    if (!m)
        return nullptr;
    QString text;
    if (!m->runtime()->parseStringArg(args, text))
        return nullptr;
    m->takeStdOut(text);
    return m->runtime()->buildNone();
}

PyObject *captureStdErr(PyObject *, PyObject *args)
{
    ZorModAutomation *m = ZorModAutomation::activeModule();
    if (!m)
        return nullptr;
    QString text;
    if (!m->runtime()->parseStringArg(args, text))
        return nullptr;
    m->sendScriptOutput(QStringLiteral("0,StdErr:") + text);
    return m->runtime()->buildNone();
}

PyMethodDef quorvaneMethods[] = {
    {"ZorSendMsg", zorSendMsg, METH_VARARGS,
     "Send Quorvane message (optional: and wait for feedback)"},
    {"ZorWaitMsg", zorWaitMsg, METH_VARARGS, "Wait for Quorvane message"},
    {"CaptureStdOut", captureStdOut, METH_VARARGS, "used to redirect stdout"},
    {"CaptureStdErr", captureStdErr, METH_VARARGS, "used to redirect stderr"},
    {nullptr, nullptr, 0, nullptr}};

} // namespace

ZorModAutomation::ZorModAutomation(QObject *parent)
    : ZorModule(parent)
{
    // A CAN interface taken as slave is reached through a CANopen gateway.
    for (const char *type : {"canusb", "ethernet", "kelvatro"})
        addGatewayForMasterType(QLatin1String(type));
}

ZorModAutomation::~ZorModAutomation()
{
    stop();
    resignActive();
}

QString ZorModAutomation::acceptedSlaveTypes() const
{
    return QStringLiteral("*,remotecontrol-,uipanel-,automation-,wizard-");
}

bool ZorModAutomation::propertyChanged(const QString &, QString &)
{
    return true;
}

int ZorModAutomation::statusPeriod() const
{
    return 1000;
}

Macho::StateRef ZorModAutomation::rootStateRef() const
{
    return Automation::Root::makeStateRef();
}

PyMethodDef *ZorModAutomation::methodTable()
{
    return quorvaneMethods;
}

QString ZorModAutomation::scriptForStart(const QString &rest) const
{
    const bool append = rest.startsWith(QLatin1String("append:"));
    if (!rest.isEmpty() && !append)
        return readScriptFile(rest);
    QString script = property(QStringLiteral("Script"));
    if (script.isEmpty())
        script = readScriptFile(property(QStringLiteral("ScriptFileName")));
    if (!script.isEmpty() && append)
        script += QLatin1Char('\n') + rest.mid(rest.indexOf(QLatin1Char(':')) + 1)
                  + QLatin1Char('\n');
    return script;
}

bool ZorModAutomation::runScript(const QString &givenScript, QString &errorText, int &errorLine)
{
    // Loaded on the first run and kept for the module's life.
    if (!m_runtime) {
        auto runtime = std::make_unique<PythonRuntime>();
        // A stop that came while the run was starting ends it before its
        // first line.
        runtime->setInterruptCheck([this] { return pollScriptControl(); });
        runtime->setInterpreterOwner(this);
        std::lock_guard<std::mutex> lock(m_runtimeMutex);
        m_runtime = std::move(runtime);
    }
    QString script = givenScript;
    upgradeScriptText(script);
    script.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const bool ok = m_runtime->runScript(script, ZorApplServices::workingDir(),
                                         PythonRuntime::ToModule, PythonRuntime::ToFile,
                                         QStringLiteral("Quorvane"), quorvaneMethods);
    flushStdOut();
    errorText = m_runtime->stdErrText();
    errorLine = m_runtime->errorLine();
    return ok;
}

ZorModAutomation *ZorModAutomation::activeModule()
{
    QMutexLocker locker(&activeMutex);
    return active;
}

bool ZorModAutomation::becomeActive()
{
    QMutexLocker locker(&activeMutex);
    if (active == this)
        return true;
    // The interpreter stays reserved for this module until its run has
    // ended: no other script and no drive-script compilation comes between.
    if (active || !PythonRuntime::reserveInterpreter(this))
        return false;
    active = this;
    return true;
}

void ZorModAutomation::resignActive()
{
    QMutexLocker locker(&activeMutex);
    if (active != this)
        return;
    active = nullptr;
    PythonRuntime::releaseInterpreter(this);
}

QString ZorModAutomation::notStartedText()
{
    return QStringLiteral("0,StdErr:Script not started: another Python script is running.");
}

bool ZorModAutomation::isStopRequest(const ZorMessage &message)
{
    if (!message.isRequest())
        return false;
    const int type = message.msgType();
    return type == KM_STOP
           || (type == KM_SCRIPT_CONTROL
               && message.data().toString().trimmed() == QLatin1String("0"));
}

bool ZorModAutomation::pollScriptControl()
{
    if (isStopping())
        m_stopFlag = true;
    ZorMessage message;
    while (!m_stopFlag && getMessage(FromMaster, message)) {
        if (isStopRequest(message))
            m_stopFlag = m_stopTaken = true;
        else if (message.isRequest() && message.msgType() == KM_SNIFFER_SET)
            postOut(ToSlaves, message);
        // A second start request, and anything else, is dropped.
    }
    return m_stopFlag;
}

void ZorModAutomation::finishScriptControl()
{
    // Stopped through interruptScript(): the stop request is still queued.
    if (!m_stopFlag || m_stopTaken || isStopping())
        return;
    ZorMessage message;
    while (getMessage(FromMaster, message)) {
        if (isStopRequest(message))
            break;
        if (message.isRequest() && message.msgType() == KM_SNIFFER_SET)
            postOut(ToSlaves, message);
    }
}

void ZorModAutomation::interruptScript()
{
    // The flag first, and the wake-up: a script inside ZorSendMsg or
    // ZorWaitMsg wakes, sees the flag and raises the stop at its own line,
    // and the interrupt leaves that call to it. The runtime's stop ticket is
    // taken before the flag is set, so that such a call also marks this
    // request as served and the interrupt, if it comes after the call
    // returned, raises no second stop. Outside a run the flag is cleared
    // when the next run starts; the stop request itself stays queued for
    // the states.
    std::lock_guard<std::mutex> lock(m_runtimeMutex);
    const quint64 ticket = m_runtime ? m_runtime->takeStopTicket() : 0;
    m_stopFlag = true;
    wakeup();
    if (m_runtime)
        m_runtime->interrupt(ticket);
}

void ZorModAutomation::aboutToStop()
{
    interruptScript();
}

void ZorModAutomation::inputArriving(int queue, const ZorMessage &message)
{
    if (queue == FromMaster && isStopRequest(message))
        interruptScript();
}

void ZorModAutomation::loadLogHistory()
{
    m_logHistory = property(QStringLiteral("LogHistory"))
                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void ZorModAutomation::saveLogHistory()
{
    setProperty(QStringLiteral("LogHistory"), m_logHistory.join(QLatin1Char('\n')), true);
}

void ZorModAutomation::appendLogHistory(const QString &line)
{
    while (m_logHistory.size() >= MaxLogHistory)
        m_logHistory.removeFirst();
    m_logHistory.append(ZorApplServices::currentDateTimeText() + QLatin1Char(' ') + line);
}

void ZorModAutomation::sendScriptOutput(const QString &line)
{
    ZorMessage output(KM_SCRIPT_MSG, KS_INFO, line);
    output.setOrigin(label());
    postOut(ToMaster, output);
    appendLogHistory(line);
}

void ZorModAutomation::takeStdOut(const QString &text)
{
    // Python writes print("tick", i) in pieces ("tick", " ", "1", "\n"):
    // output goes up by whole lines, so that one print is one log line.
    m_stdOutLine += text;
    int end;
    while ((end = m_stdOutLine.indexOf(QLatin1Char('\n'))) >= 0) {
        QString line = m_stdOutLine.left(end);
        m_stdOutLine.remove(0, end + 1);
        line.remove(QLatin1Char('\r'));
        if (!line.isEmpty())
            sendScriptOutput(QStringLiteral("0,StdOut:") + line);
    }
}

void ZorModAutomation::flushStdOut()
{
    takeStdOut(QStringLiteral("\n"));
}

void ZorModAutomation::traceReceived(const ZorMessage &message)
{
    if (!snifferEnabled())
        return;
    QString line;
    if (message.msgType() == KM_SNIFFER_MSG)
        line = message.data().toString();
    else if (message.msgState() != KS_INFO)
        line = message.origin() + QStringLiteral(" <- ") + message.toString(0);
    else if (message.msgType() != KM_COMM_STATUS)
        line = message.origin() + QStringLiteral(" -> ") + message.toString(0);
    if (line.isEmpty())
        return;
    ZorMessage trace(KM_AUTOMATION_SNIFFER_MSG, KS_INFO, line);
    trace.setOrigin(label());
    postOut(ToMaster, trace);
}

ZorModule *createAutomationModule(QObject *parent)
{
    return new ZorModAutomation(parent);
}
