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
// ZorSendMsg and ZorWaitMsg wait on the module's queue from the slaves
// without polling: a message that arrives wakes the script at once, and so
// do a stop request and the end of a time-out.
//
// A stop request, and stopping the module (closing the project), raise
// RuntimeError "Stopped by User" in the running script at once, wherever it
// is (PythonRuntime::interrupt), once, at the script's own line (a wait in
// ZorSendMsg or ZorWaitMsg raises it at that call); a script that catches
// it may go on, but its later calls of ZorSendMsg and ZorWaitMsg fail with
// the same error.
//
// Reports to the master: KM_SCRIPT_MSG "0,StdOut:<line>" and
// "<line>,StdErr:<text>", KM_STATUS (0 idle, 1 running, 10000 script error)
// and KM_INFOTEXT ("Script Started", "Script Finished", "Stopped by User",
// "Script Error"), and,
// while its sniffer is on, KM_AUTOMATION_SNIFFER_MSG trace lines. The output
// lines, each with a time stamp, make up the property "LogHistory" (at most
// 500 lines), stored with the project when a script ends.
//
// The Python interpreter is one per process and one script runs at a time:
// a start request while another module's script runs (or while a drive
// script is being compiled) is refused with the output line
// "0,StdErr:Script not started: another Python script is running." and the
// module stays where it was (Idle or Error).
// The states are in the namespace Automation (zormodautomationstates.h).
#pragma once

#include "zormodule.h"

#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>

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
    // Interrupt a running script (any thread).
    void aboutToStop() override;
    void inputArriving(int queue, const ZorMessage &message) override;

    // --- used by the states, in the module thread
    // The script a start request asks for: "1" (the properties' script),
    // "1,append:<code>" or "1,<file>"; see above.
    QString scriptForStart(const QString &rest) const;
    // Runs the script; true when it ran to its end. errorText receives what
    // the run wrote to standard error, errorLine the traceback's line.
    bool runScript(const QString &script, QString &errorText, int &errorLine);
    // Makes this module the one the native functions serve and reserves
    // the interpreter for it; false when another module's script runs or the
    // interpreter is in use elsewhere (a drive-script compilation).
    bool becomeActive();
    void resignActive();
    // The output line of a start request that was refused by becomeActive.
    static QString notStartedText();
    void loadLogHistory();
    void saveLogHistory();
    void appendLogHistory(const QString &line);
    QStringList logHistory() const { return m_logHistory; }
    // Sends a KM_AUTOMATION_SNIFFER_MSG line for a message from a slave
    // while the sniffer is on.
    void traceReceived(const ZorMessage &message);
    // Sends a KM_SCRIPT_MSG output line up and keeps it in the history.
    void sendScriptOutput(const QString &line);
    // The script's standard output, one write at a time: each completed
    // line (line ends and carriage returns removed, empty lines dropped)
    // goes up as a "0,StdOut:" output line. flushStdOut sends what is left
    // of an unfinished last line once the run has ended.
    void takeStdOut(const QString &text);
    void flushStdOut();

    // --- used by the native functions, in the module thread
    // The module whose script runs; null when none.
    static ZorModAutomation *activeModule();
    PythonRuntime *runtime() const { return m_runtime.get(); }
    // Takes stop requests from the master while a script runs; true when
    // the script is to stop (the caller then raises RuntimeError "Stopped
    // by User").
    bool pollScriptControl();
    // KM_STOP or KM_SCRIPT_CONTROL "0" as a request.
    static bool isStopRequest(const ZorMessage &message);
    // Sets the stop flag and interrupts the running script, if any (any
    // thread).
    void interruptScript();
    bool stopRequested() const { return m_stopFlag.load(); }
    void setStopFlag() { m_stopFlag = true; }
    void clearStopFlag()
    {
        m_stopFlag = false;
        m_stopTaken = false;
    }
    // After a run: the requests that came while it ran are handled as the
    // control poll would have (a second start is dropped), up to the stop
    // request that ended the run; what came after that stays queued.
    void finishScriptControl();

    // The method table of the native module "Quorvane".
    static PyMethodDef *methodTable();

private:
    // Made in the module thread on the first run; the pointer is written
    // and read by other threads under m_runtimeMutex.
    std::mutex m_runtimeMutex;
    std::unique_ptr<PythonRuntime> m_runtime;
    QStringList m_logHistory;
    QString m_stdOutLine;   // module thread: standard output not yet ended by a line feed
    std::atomic<bool> m_stopFlag{false};
    bool m_stopTaken = false;   // module thread: the poll took a stop request
};

// Creator for the project's module registry ("automation", "wizard").
ZorModule *createAutomationModule(QObject *parent);
