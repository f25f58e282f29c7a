// ZorModAutomation: runs one Python automation script at a time.
//
// The script runs inside the module's own thread through PythonRuntime and
// is given the native module "Quorvane" with four functions:
//
//   ZorSendMsg(text, options="")  text is "<label>:<message>" in the message
//                                 text form ("drive1:KM_GETPROPERTY:KS_REQUEST:
//                                 NodeId"; an empty label sends to all
//                                 slaves). KS_INFO messages go up to the
//                                 panel (a KM_STATUS also sets the module's
//                                 status), all others down to the slaves.
//                                 Options "w": wait for the answer and return
//                                 "<label>:<answer>"; "b": wait and return 1
//                                 when the answer is KS_ANSWER, else 0.
//   ZorWaitMsg(pattern, timeout=0) waits for a message from the slaves whose
//                                 "<origin>:<message>" text matches the
//                                 wildcard pattern (any case); "" after the
//                                 time-out in ms (0: no limit).
//   CaptureStdOut(text), CaptureStdErr(text)
//                                 the script's standard output and error;
//                                 print() goes through CaptureStdOut.
//
// Requests from the master (its panel, the Python editor, page links):
//   KM_SCRIPT_CONTROL "1"               run the script of "Script", else of
//                                       the file "ScriptFileName"
//   KM_SCRIPT_CONTROL "1,append:<code>" the same with one more line of code
//   KM_SCRIPT_CONTROL "1,<file>"        run that file
//   KM_SCRIPT_CONTROL "0", KM_STOP      stop
// A script is stopped at its next call of ZorSendMsg or ZorWaitMsg, where
// it raises RuntimeError "Stopped by User"; a script that calls neither runs
// to its end.
//
// Reports to the master: KM_SCRIPT_MSG "0,StdOut:<line>" and
// "<line>,StdErr:<text>", KM_STATUS (0 idle, 1 running, 10000 script error)
// and KM_INFOTEXT ("Script Started", "Stopped by User", "Script Error"), and,
// while its sniffer is on, KM_AUTOMATION_SNIFFER_MSG trace lines. The output
// lines, each with a time stamp, make up the property "LogHistory" (at most
// 500 lines), stored with the project when a script ends.
//
// The Python interpreter is one per process: a second script started while
// another module's script runs fails at once with the runtime's "busy" text.
// The states are in the namespace Automation (zormodautomationstates.h).
#pragma once

#include "zormodule.h"

#include <QStringList>
#include <atomic>
#include <memory>

class PythonRuntime;
struct PyMethodDef;

class ZorModAutomation : public ZorModule
{
    Q_OBJECT
public:
    enum Status { StatusIdle = 0, StatusRunning = 1, StatusScriptError = 10000 };
    static constexpr int MaxLogHistory = 500;

    explicit ZorModAutomation(QObject *parent = nullptr);
    ~ZorModAutomation() override;

    QString acceptedSlaveTypes() const override;
    bool propertyChanged(const QString &key, QString &value) override;
    int statusPeriod() const override;
    Macho::StateRef rootStateRef() const override;

    // --- used by the states, in the module thread
    // The script a start request asks for: "1" (the properties' script),
    // "1,append:<code>" or "1,<file>"; see above.
    QString scriptForStart(const QString &rest) const;
    // Runs the script; true when it ran to its end. errorText receives what
    // the run wrote to standard error, errorLine the traceback's line.
    bool runScript(const QString &script, QString &errorText, int &errorLine);
    // Makes this module the one the native functions serve; false when
    // another module's script is running.
    bool becomeActive();
    void resignActive();
    void loadLogHistory();
    void saveLogHistory();
    void appendLogHistory(const QString &line);
    QStringList logHistory() const { return m_logHistory; }
    // Sends a KM_AUTOMATION_SNIFFER_MSG line for a message from a slave
    // while the sniffer is on.
    void traceReceived(const ZorMessage &message);
    // Sends a KM_SCRIPT_MSG output line up and keeps it in the history.
    void sendScriptOutput(const QString &line);

    // --- used by the native functions, in the module thread
    // The module whose script runs; null when none.
    static ZorModAutomation *activeModule();
    PythonRuntime *runtime() const { return m_runtime.get(); }
    // Takes stop requests from the master while a script runs; true when
    // the script is to stop (RuntimeError "Stopped by User" is then set).
    bool pollScriptControl();
    bool stopRequested() const { return m_stopFlag.load(); }
    void setStopFlag() { m_stopFlag = true; }
    void clearStopFlag() { m_stopFlag = false; }

    // The method table of the native module "Quorvane".
    static PyMethodDef *methodTable();
    static QString stoppedByUserText();

private:
    std::unique_ptr<PythonRuntime> m_runtime;
    QStringList m_logHistory;
    std::atomic<bool> m_stopFlag{false};
};

// Creator for the project's module registry ("automation", "wizard").
ZorModule *createAutomationModule(QObject *parent);
