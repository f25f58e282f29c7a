// The embedded Python interpreter.
//
// PythonRuntime loads the Python 3 runtime library by file name when it is
// constructed ("python3.11"; nothing links against it) and binds the entry
// points it needs by name. There is one interpreter in the process: the
// first run initialises it and it stays until the process ends (it is never
// finalised; see SharedInterpreter in the source). Each runScript call runs
// one piece of code in a namespace of its own, a fresh module "__main__"
// (no name of an earlier run is seen), and puts back what the run changed of
// the interpreter: standard output and error, the module search path, and
// the modules it imported from source files outside the interpreter's own
// folders, which the next run imports afresh. Threads that a script started
// (not daemons) are waited for before the run ends. A caller may add a
// native module for the run (a name and a method table it owns; the module
// made for a table is kept and importable in every run that names it) and
// have the script's standard output and standard error written to files
// and read back, or handed write by write to the module's functions
// "CaptureStdOut" and "CaptureStdErr".
//
// Only one run may be under way at a time. A second run started while one
// is going (from another thread, or from a native function of the running
// script), or while another owner has reserved the interpreter
// (reserveInterpreter), is refused with a message in stdErrText(). Each run
// takes the interpreter lock in its own thread and lets it go when it ends,
// so runs may come from any thread, one after the other. The library is
// never unmapped. Texts cross to and from Python as UTF-8, the code, the
// arguments and results of native functions and the redirected output alike,
// so a script may hold and print any character. Script files are read with
// scriptText(): their coding declaration, else UTF-8, else Latin-1.
//
// A running script can be interrupted from any thread (interrupt()): it
// raises RuntimeError "Stopped by User" in the script's thread, wherever the
// script is, also in a loop that never calls a native function. A script
// that catches it may go on; a later interrupt() raises it again. Within a
// run, time.sleep is the runtime's own, which an interrupt ends at once when
// the script's thread sleeps; other calls that block inside the library (a
// thread's join, a socket read) take the exception only when they return.
//
// compileScriptImage turns a drive script into a drive image (".pymbin")
// with the image creator in the program's "pythonlib" folder.
#pragma once

#include "pythonapi.h"

#include <QLibrary>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class PythonRuntime
{
public:
    // Where a run's standard output or standard error goes.
    enum OutputMode {
        NotRedirected = 0,  // the process's own stream
        ToFile = 1,         // a file, read back into stdOutText/stdErrText
        ToModule = 2        // the native module's CaptureStdOut/CaptureStdErr
    };
    enum LoadStatus { Loaded = 0, EntryPointMissing = 1, LibraryNotFound = 2 };

    explicit PythonRuntime(const QString &libraryName = defaultLibraryName());
    ~PythonRuntime();
    PythonRuntime(const PythonRuntime &) = delete;
    PythonRuntime &operator=(const PythonRuntime &) = delete;

    static QString defaultLibraryName();

    bool isLoaded() const { return m_loadStatus == Loaded; }
    int loadStatus() const { return m_loadStatus; }
    QString libraryName() const { return m_libraryName; }

    // Results of the last run.
    QString stdOutText() const { return m_stdOut; }
    QString stdErrText() const { return m_stdErr; }
    int errorLine() const { return m_errorLine; }

    // Runs `code` once in a namespace of its own. `sysPathEntry` (when not empty)
    // is appended to the module search path; `moduleName` and `methods` (when
    // both given) make a native module importable under that name during
    // the run. True when the code ran to its end without an uncaught exception.
    bool runScript(const QString &code, const QString &sysPathEntry, int stdoutMode,
                   int stderrMode, const QString &moduleName = QString(),
                   PyMethodDef *methods = nullptr);

    // Raises RuntimeError "Stopped by User" in the running script's thread.
    // Any thread may call it; it returns at once when no run of this object
    // is under way (false), and does nothing for a run that starts later.
    // It waits for the interpreter lock, which plain Python code hands over
    // within a few milliseconds; a native call that keeps the lock (a native
    // function of the caller, one long computation inside the library)
    // delays it until that call returns.
    //
    // An owner whose native functions raise the stop themselves (see
    // NativeCall) takes a ticket before it sets the flag they watch and
    // hands it in: an interrupt whose request such a function has already
    // raised, and which comes only after that call returned (while the
    // script unwinds or prints its traceback), raises nothing more.
    bool interrupt(quint64 ticket = 0);
    quint64 takeStopTicket() { return ++m_stopTickets; }
    // Asked in the run's thread just before the code starts, once
    // interrupt() can reach the run: true interrupts the run at once. Lets
    // the owner keep a stop request that came while the run was starting.
    // Set it before runScript; it stays for later runs.
    void setInterruptCheck(std::function<bool()> check) { m_interruptCheck = std::move(check); }
    // The text of the RuntimeError that stops a script.
    static QString stoppedByUserText();

    // A native function of the caller that ends by itself when its owner
    // stops the script (it watches a stop flag that the owner sets before
    // it calls interrupt(), and then raises the stop with raiseStop) marks
    // its call with one of these. An interrupt() that comes meanwhile
    // leaves the raising to it: the script sees one stop, at the line of
    // the call, and not a second one raised a moment later wherever the
    // script is then (in its exception handling, or in the traceback's
    // printing). Script's thread, interpreter lock held; calls from other
    // threads of the script are not marked.
    class NativeCall
    {
    public:
        explicit NativeCall(PythonRuntime *runtime);
        ~NativeCall();
        NativeCall(const NativeCall &) = delete;
        NativeCall &operator=(const NativeCall &) = delete;

    private:
        PythonRuntime *m_runtime = nullptr;
    };
    // Inside a native function: raises RuntimeError "Stopped by User" at
    // its call (the function then returns nullptr), taking back a stop that
    // interrupt() had already made pending for this thread, so that it is
    // raised once.
    void raiseStop() const;
    // Inside a native function (interpreter lock held): runs `wait` with the
    // lock let go, so that the script's other threads and interrupt() go on
    // while the function waits, and takes the lock again.
    void withoutInterpreterLock(const std::function<void()> &wait) const;

    // The interpreter is reserved by one owner at a time, for one run or for
    // longer: an automation module reserves it from its start request to
    // the end of its script, so that neither another module's script nor a
    // drive-script compilation in the GUI thread can come between. Runs of a
    // runtime count as its owner's (setInterpreterOwner; the runtime itself
    // by default). Reservations of one owner nest. reserveInterpreter is
    // false while another owner holds it or another owner's run is under
    // way; releaseInterpreter undoes one reservation.
    static bool reserveInterpreter(const void *owner);
    static void releaseInterpreter(const void *owner);
    // True while any owner holds the interpreter or a run is under way.
    static bool interpreterInUse();
    void setInterpreterOwner(const void *owner) { m_owner = owner; }
    const void *interpreterOwner() const { return m_owner ? m_owner : this; }

    // Compiles a drive script (usually "DriveScript.py") into a drive image
    // beside it (".pymbin"). imagePath is set on success; libraryFolder names
    // the image-creator folder used; errorText holds the compiler's own
    // message, while a failing creator leaves its traceback in stdErrText()
    // and errorLine().
    bool compileScriptImage(const QString &source, QString &imagePath, QString &libraryFolder,
                            QString &errorText);

    // Root of the image-creator folders (default: "pythonlib" beside the
    // executable).
    static QString pythonLibDir();
    static void setPythonLibDir(const QString &dir);

    // Argument and result helpers for native functions, valid during a run.
    // A parse failure leaves the Python error set: the native function then
    // returns nullptr and the script raises it.
    bool parseStringArg(PyObject *args, QString &text) const;                          // "s"
    bool parseTwoStringArgs(PyObject *args, QString &first, QString &second) const;    // "s|s"
    bool parseStringIntArgs(PyObject *args, QString &text, int &value) const;          // "s|i"
    PyObject *buildString(const QString &text) const;
    PyObject *buildInt(int value) const;
    PyObject *buildNone() const;
    // Sets RuntimeError with the text; a native function that then returns
    // nullptr makes the script raise it at that call.
    void setRuntimeError(const QString &text) const;

    // time.sleep during a run (the interpreter lock held); plainSleep is
    // the library's own.
    PyObject *sleepCall(PyObject *plainSleep, PyObject *args);

    // The text of a script file's bytes: decoded as a coding declaration in
    // its first two lines says ("# -*- coding: latin-1 -*-"), else as UTF-8,
    // or as Latin-1 when the bytes are not valid UTF-8 (scripts written by
    // older editors). A UTF-8 byte-order mark is dropped.
    static QString scriptText(const QByteArray &bytes);

    // Line number of the last ", line N" of a traceback text; 0 when none.
    static int errorLineOf(const QString &stderrText);
    // The text as a Python string literal that reads back as the same text.
    static QString pythonStringLiteral(const QString &text);

private:
    struct Api;

    bool bind();
    QString busyText() const;
    bool runLocked(const QString &code, const QString &sysPathEntry, int stdoutMode,
                   int stderrMode, const QString &moduleName, PyMethodDef *methods);
    bool ensureInterpreter();
    bool installNativeModule(const QByteArray &name, PyMethodDef *methods);
    int runInInterpreter(const QString &code, const QString &sysPathEntry, int stdoutMode,
                         const QString &stdoutFile, int stderrMode, const QString &stderrFile,
                         const QByteArray &moduleName, PyMethodDef *methods);
    bool runIn(PyObject *globals, const QByteArray &code, bool ignoreCookie) const;
    bool textFromObject(PyObject *object, QString &text) const;
    void prepareInterrupt();
    void setRunning(bool running);

    QString m_stdOut;
    QString m_stdErr;
    int m_errorLine = 0;
    QLibrary m_library;
    int m_loadStatus = LibraryNotFound;
    QString m_libraryName;
    Api *m_api = nullptr;

    const void *m_owner = nullptr;
    std::function<bool()> m_interruptCheck;
    // Guards what interrupt() needs of the run under way. The run's thread
    // never takes it while it holds the interpreter lock, and interrupt()
    // takes the lock only with it held and while the run is marked running:
    // the run's thread state stays valid under it.
    std::mutex m_stateMutex;
    bool m_running = false;
    unsigned long m_threadId = 0;
    // The script's sleep: the flags are written with the interpreter lock
    // held (the interrupt under m_stateMutex as well), m_sleepWake waits
    // under m_stateMutex without the interpreter lock.
    std::atomic<unsigned long> m_scriptThread{0};
    std::atomic<bool> m_scriptSleeping{false};
    std::atomic<bool> m_sleepInterrupted{false};
    // A marked native call of the script's thread is under way (written
    // and read with the interpreter lock held).
    std::atomic<bool> m_inNativeCall{false};
    // Stop tickets taken, and the last one a native function had seen when
    // it raised the stop (raiseStop).
    std::atomic<quint64> m_stopTickets{0};
    mutable std::atomic<quint64> m_stopTicketsRaised{0};
    std::condition_variable m_sleepWake;
};
