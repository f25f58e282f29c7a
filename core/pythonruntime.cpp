#include "pythonruntime.h"

#include "drivescriptconverter.h"
#include "zorapplservices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>
#include <QTemporaryDir>
#include <QVector>

#include <atomic>
#include <chrono>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {

// The module definition handed to PyModule_Create2 (layout of Python 3.5 and
// later; a release build of the library, without reference tracing).
struct PyModuleDefBase
{
    Py_ssize_t ob_refcnt;
    void *ob_type;
    PyObject *(*m_init)();
    Py_ssize_t m_index;
    PyObject *m_copy;
};

struct PyModuleDef
{
    PyModuleDefBase m_base;
    const char *m_name;
    const char *m_doc;
    Py_ssize_t m_size;
    PyMethodDef *m_methods;
    void *m_slots;
    void *m_traverse;
    void *m_clear;
    void *m_free;
};

const int kPythonApiVersion = 1013;
const int kFileInput = 257;   // Py_file_input: code run as a module

// Run once, in the private namespace of the run helpers, when the interpreter
// is initialised; %1 is the stop text. It defines the class that
// interrupt() raises: a RuntimeError whose message defaults to the stop text
// (the interpreter raises the class without arguments) and that shows and is
// caught as a plain RuntimeError. The helpers give each run a namespace of
// its own and put back what a run changed of the interpreter's state:
//  - a fresh module "__main__" per run, cleared when the run ends, so that
//    nothing of a script outlives its run (open files are closed then);
//  - standard output and error, the module search path and the error of
//    the last traceback as they were before the run;
//  - modules imported from a source file outside the interpreter's own
//    folders (the working folder, the image creator's folder) are dropped
//    when the run ends: the next run imports them again from the file as
//    it is then. The library's own modules and extension modules stay;
//  - the run's thread counts as the program's main thread does (threads
//    that the script starts are not daemons unless it says so), whichever
//    thread initialised the interpreter;
//  - threads that a script started and did not make daemons are waited for
//    at the end of its run, as the interpreter's shutdown did; a stop
//    request ends the wait, reported as the script's own stop would be.
const char kRunHelpers[] =
    "import builtins, importlib, os, sys, threading, time, types\n"
    "class RuntimeError(builtins.RuntimeError):\n"
    "    def __init__(self, *args):\n"
    "        builtins.RuntimeError.__init__(self, *(args or (%1,)))\n"
    "RuntimeError.__module__ = 'builtins'\n"
    "plain_sleep = time.sleep\n"
    "idle_main = sys.modules['__main__']\n"
    "main_entries = {k: v for k, v in idle_main.__dict__.items()\n"
    "                if k in ('__builtins__', '__loader__', '__doc__', '__package__', '__spec__')}\n"
    "def folder_of(path):\n"
    "    return os.path.join(os.path.normcase(os.path.abspath(path)), '')\n"
    "own_folders = tuple(folder_of(p) for p in sys.path if p)\n"
    "def afresh(module):\n"
    "    origin = getattr(getattr(module, '__spec__', None), 'origin', None)\n"
    "    return (isinstance(origin, str) and origin.endswith(('.py', '.pyc'))\n"
    "            and not os.path.normcase(os.path.abspath(origin)).startswith(own_folders))\n"
    "state = None\n"
    "def begin():\n"
    "    global state\n"
    "    main = types.ModuleType('__main__')\n"
    "    main.__dict__.update(main_entries)\n"
    "    main.__annotations__ = {}\n"
    "    me = threading.current_thread()\n"
    "    state = {'main': main, 'stdout': sys.stdout, 'stderr': sys.stderr,\n"
    "             'path': list(sys.path), 'modules': set(sys.modules),\n"
    "             'threads': set(threading.enumerate()), 'opened': [],\n"
    "             'me': me, 'daemonic': me._daemonic}\n"
    "    me._daemonic = False\n"
    "    sys.modules['__main__'] = main\n"
    "    time.sleep = interruptible_sleep\n"
    "    importlib.invalidate_caches()\n"
    "    return main.__dict__\n"
    "def redirect(stream, path):\n"
    "    f = open(path, 'w', encoding='utf-8', errors='backslashreplace')\n"
    "    state['opened'].append(f)\n"
    "    setattr(sys, stream, f)\n"
    "stopped = False\n"
    "def join_threads():\n"
    "    global stopped\n"
    "    stopped = False\n"
    "    try:\n"
    "        me = threading.current_thread()\n"
    "        for t in threading.enumerate():\n"
    "            if (t not in state['threads'] and not t.daemon and t is not me\n"
    "                    and not isinstance(t, threading._DummyThread)):\n"
    "                while t.is_alive():\n"
    "                    t.join(0.05)\n"
    "    except RuntimeError as e:\n"
    "        stopped = True\n"
    "        print('RuntimeError: %s' % e, file=sys.stderr)\n"
    "def finish():\n"
    "    global state\n"
    "    s, state = state, None\n"
    "    try:\n"
    "        s['main'].__dict__.clear()\n"
    "    finally:\n"
    "        for f in s['opened']:\n"
    "            try:\n"
    "                f.close()\n"
    "            except Exception:\n"
    "                pass\n"
    "        s['me']._daemonic = s['daemonic']\n"
    "        sys.stdout, sys.stderr = s['stdout'], s['stderr']\n"
    "        sys.path[:] = s['path']\n"
    "        for name in ('last_type', 'last_value', 'last_traceback'):\n"
    "            sys.__dict__.pop(name, None)\n"
    "        for name in [n for n in sys.modules if n not in s['modules']]:\n"
    "            if afresh(sys.modules[name]):\n"
    "                del sys.modules[name]\n"
    "        sys.modules['__main__'] = idle_main\n"
    "        for f in (sys.stdout, sys.stderr):\n"
    "            try:\n"
    "                f.flush()\n"
    "            except Exception:\n"
    "                pass\n";

// The runtime whose run is under way, for the sleep function; null between
// runs (written with the interpreter lock held).
std::atomic<PythonRuntime *> sleepingRuntime{nullptr};
// The library's PyObject_Call, for a sleep outside a run.
std::atomic<PyObject *(*)(PyObject *, PyObject *, PyObject *)> plainCall{nullptr};

// Its bound object is the plain time.sleep: outside a run (a thread that a
// script left running) it is the plain sleep.
PyObject *interruptibleSleep(PyObject *plainSleep, PyObject *args)
{
    if (PythonRuntime *runtime = sleepingRuntime.load())
        return runtime->sleepCall(plainSleep, args);
    return plainCall.load()(plainSleep, args, nullptr);
}

PyMethodDef sleepDef = {"sleep", interruptibleSleep, METH_VARARGS,
                        "sleep(seconds)\n\nDelay execution for a given number of seconds; "
                        "a stop request ends the delay at once."};

// A native module made for a caller's method table; it stays in the
// interpreter, and so does its definition, which the module refers to.
struct NativeModule
{
    QByteArray name;
    PyMethodDef *methods = nullptr;
    PyModuleDef *def = nullptr;
    PyObject *module = nullptr;
};

// The process's one interpreter. It is initialised by the first run (in
// that run's thread, within its reservation) and is never finalised: the
// interpreter must be finalised in the thread that initialised it, which
// may be a module thread that has long ended; a thread that a script left
// running would have to end first (the shutdown waits for it); and a thread
// still parked in the library (a module thread that is being torn down)
// would crash once it is gone. Whatever a run leaves open is closed when
// its run ends (see kRunHelpers), so nothing waits for the shutdown.
// Between runs no thread holds the interpreter lock: each run takes it in
// its own thread (PyGILState_Ensure) and lets it go when it ends.
struct SharedInterpreter
{
    std::mutex mutex;
    bool ready = false;
    bool failed = false;   // initialised, but the helpers could not be made
    PyObject *helpers = nullptr;         // the run helpers' namespace
    PyObject *stopException = nullptr;   // the class interrupt() raises
    std::vector<NativeModule> natives;
};

SharedInterpreter &sharedInterpreter()
{
    static SharedInterpreter shared;
    return shared;
}

// One interpreter per process, reserved by one owner at a time. An owner
// (an automation module for the whole of its run) may reserve it again; a
// run under way refuses a nested run of the same owner all the same.
struct InterpreterReservation
{
    QMutex mutex;
    const void *owner = nullptr;
    int count = 0;
    bool running = false;
};

InterpreterReservation &reservation()
{
    static InterpreterReservation r;
    return r;
}

// Reserves the interpreter for a run of `owner`; false when another owner
// holds it or a run is under way.
bool beginRun(const void *owner)
{
    InterpreterReservation &r = reservation();
    QMutexLocker lock(&r.mutex);
    if (r.running || (r.owner && r.owner != owner))
        return false;
    r.owner = owner;
    ++r.count;
    r.running = true;
    return true;
}

void endRun(const void *owner)
{
    InterpreterReservation &r = reservation();
    QMutexLocker lock(&r.mutex);
    r.running = false;
    if (r.owner == owner && --r.count == 0)
        r.owner = nullptr;
}

QMutex &libDirMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &libDirOverride()
{
    static QString dir;
    return dir;
}

bool isIdentifier(const QString &name)
{
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return identifier.match(name).hasMatch();
}

// The redirected streams are written in UTF-8 (see the prelude).
QString readUtf8File(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Compiler flags handed with the code: the text is already decoded, so a
// coding declaration in it must not make Python decode its bytes again.
struct PyCompilerFlags
{
    int cf_flags;
    int cf_feature_version;
};
const int kIgnoreCookie = 0x0800;   // PyCF_IGNORE_COOKIE
const int kFeatureVersion = 11;     // PY_MINOR_VERSION of the library bound

QByteArray withoutByteOrderMark(const QByteArray &bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
}

// The codec that a coding declaration in the first two lines of a script
// names ("# -*- coding: latin-1 -*-", as Python reads it), or none.
QTextCodec *declaredCodec(const QByteArray &givenBytes)
{
    const QByteArray bytes = withoutByteOrderMark(givenBytes);
    static const QRegularExpression cookie(
        QStringLiteral("^[ \\t\\f]*#.*?coding[:=][ \\t]*([-\\w.]+)"));
    const QList<QByteArray> lines = bytes.left(1024).split('\n').mid(0, 2);
    for (const QByteArray &line : lines) {
        const QRegularExpressionMatch match = cookie.match(QString::fromLatin1(line));
        if (match.hasMatch())
            return QTextCodec::codecForName(match.captured(1).toLatin1());
        // Only a comment or blank line may stand before the declaration.
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#'))
            break;
    }
    return nullptr;
}

// Prelude that hands every write of one stream to a native function.
QString catcherPrelude(const QString &module, const char *className, const char *function,
                       const char *stream)
{
    return QStringLiteral("import %1\n"
                          "import sys\n"
                          "class %2:\n"
                          "\tdef write(self, text):\n"
                          "\t\t%1.%3(text)\n"
                          "\t\treturn len(text)\n"
                          "\tdef flush(self):\n"
                          "\t\tpass\n"
                          "sys.%4 = %2()\n")
        .arg(module, QLatin1String(className), QLatin1String(function), QLatin1String(stream));
}

} // namespace

// Entry points bound by name from the runtime library.
struct PythonRuntime::Api
{
    void (*Py_InitializeEx)(int);
    int (*Py_IsInitialized)();
    PyObject *(*PyRun_StringFlags)(const char *, int, PyObject *, PyObject *, PyCompilerFlags *);
    PyObject *(*PyModule_Create2)(PyModuleDef *, int);
    PyObject *(*PyImport_GetModuleDict)();
    int (*PyDict_SetItemString)(PyObject *, const char *, PyObject *);
    int (*PyArg_ParseTuple)(PyObject *, const char *, ...);
    PyObject *(*Py_BuildValue)(const char *, ...);
    void (*PyErr_SetString)(PyObject *, const char *);
    void (*PyErr_Print)();
    PyObject *(*PyUnicode_DecodeUTF8)(const char *, Py_ssize_t, const char *);
    PyObject *(*PyUnicode_AsEncodedString)(PyObject *, const char *, const char *);
    int (*PyBytes_AsStringAndSize)(PyObject *, char **, Py_ssize_t *);
    void (*Py_DecRef)(PyObject *);
    PyObject **PyExc_RuntimeError;
    int *Py_InspectFlag;
    PyObject *(*PyDict_New)();
    PyObject *(*PyDict_GetItemString)(PyObject *, const char *);
    void (*Py_IncRef)(PyObject *);
    int (*PyThreadState_SetAsyncExc)(unsigned long, PyObject *);
    unsigned long (*PyThread_get_thread_ident)();
    int (*PyGILState_Ensure)();
    void (*PyGILState_Release)(int);
    void *(*PyEval_SaveThread)();
    void (*PyEval_RestoreThread)(void *);
    PyObject *(*PyCFunction_NewEx)(PyMethodDef *, PyObject *, PyObject *);
    double (*PyFloat_AsDouble)(PyObject *);
    PyObject *(*PyErr_Occurred)();
    void (*PyErr_Clear)();
    PyObject *(*PyObject_Call)(PyObject *, PyObject *, PyObject *);
    int (*PyObject_IsTrue)(PyObject *);
};

QString PythonRuntime::defaultLibraryName()
{
    return QStringLiteral("python3.11");
}

PythonRuntime::PythonRuntime(const QString &libraryName)
    : m_libraryName(libraryName)
{
    // Exported symbols: extension modules of the standard library resolve the
    // interpreter's symbols globally. Never unmapped: the library does not
    // survive being unloaded and loaded again within one process.
    m_library.setLoadHints(QLibrary::ExportExternalSymbolsHint | QLibrary::PreventUnloadHint);
    // The plain name needs the development link ("libpython3.11.so"); the
    // runtime package alone has the versioned file.
    for (const char *version : {"", "1.0", "1"}) {
        m_library.setFileNameAndVersion(libraryName, QLatin1String(version));
        if (m_library.load())
            break;
    }
    if (!m_library.isLoaded()) {
        m_loadStatus = LibraryNotFound;
        return;
    }
    m_api = new Api;
    m_loadStatus = bind() ? Loaded : EntryPointMissing;
}

PythonRuntime::~PythonRuntime()
{
    delete m_api;
    if (m_library.isLoaded())
        m_library.unload();
}

bool PythonRuntime::bind()
{
    Api &a = *m_api;
    const auto resolve = [this](const char *name, auto &target) {
        target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(
            m_library.resolve(name));
        return target != nullptr;
    };
    return resolve("Py_InitializeEx", a.Py_InitializeEx)
           && resolve("Py_IsInitialized", a.Py_IsInitialized)
           && resolve("PyRun_StringFlags", a.PyRun_StringFlags)
           && resolve("PyModule_Create2", a.PyModule_Create2)
           && resolve("PyImport_GetModuleDict", a.PyImport_GetModuleDict)
           && resolve("PyDict_SetItemString", a.PyDict_SetItemString)
           && resolve("PyArg_ParseTuple", a.PyArg_ParseTuple)
           && resolve("Py_BuildValue", a.Py_BuildValue)
           && resolve("PyErr_SetString", a.PyErr_SetString)
           && resolve("PyErr_Print", a.PyErr_Print)
           && resolve("PyUnicode_DecodeUTF8", a.PyUnicode_DecodeUTF8)
           && resolve("PyUnicode_AsEncodedString", a.PyUnicode_AsEncodedString)
           && resolve("PyBytes_AsStringAndSize", a.PyBytes_AsStringAndSize)
           && resolve("Py_DecRef", a.Py_DecRef)
           && resolve("PyExc_RuntimeError", a.PyExc_RuntimeError)
           && resolve("Py_InspectFlag", a.Py_InspectFlag)
           && resolve("PyDict_New", a.PyDict_New)
           && resolve("PyDict_GetItemString", a.PyDict_GetItemString)
           && resolve("Py_IncRef", a.Py_IncRef)
           && resolve("PyThreadState_SetAsyncExc", a.PyThreadState_SetAsyncExc)
           && resolve("PyThread_get_thread_ident", a.PyThread_get_thread_ident)
           && resolve("PyGILState_Ensure", a.PyGILState_Ensure)
           && resolve("PyGILState_Release", a.PyGILState_Release)
           && resolve("PyEval_SaveThread", a.PyEval_SaveThread)
           && resolve("PyEval_RestoreThread", a.PyEval_RestoreThread)
           && resolve("PyCFunction_NewEx", a.PyCFunction_NewEx)
           && resolve("PyFloat_AsDouble", a.PyFloat_AsDouble)
           && resolve("PyErr_Occurred", a.PyErr_Occurred)
           && resolve("PyErr_Clear", a.PyErr_Clear)
           && resolve("PyObject_Call", a.PyObject_Call)
           && resolve("PyObject_IsTrue", a.PyObject_IsTrue);
}

QString PythonRuntime::busyText() const
{
    return QStringLiteral("Python library '%1' is busy: another script is running.")
        .arg(m_libraryName);
}

bool PythonRuntime::reserveInterpreter(const void *owner)
{
    InterpreterReservation &r = reservation();
    QMutexLocker lock(&r.mutex);
    if (!owner || (r.owner && r.owner != owner) || (r.running && r.owner != owner))
        return false;
    r.owner = owner;
    ++r.count;
    return true;
}

void PythonRuntime::releaseInterpreter(const void *owner)
{
    InterpreterReservation &r = reservation();
    QMutexLocker lock(&r.mutex);
    if (owner && r.owner == owner && --r.count == 0)
        r.owner = nullptr;
}

bool PythonRuntime::interpreterInUse()
{
    InterpreterReservation &r = reservation();
    QMutexLocker lock(&r.mutex);
    return r.running || r.owner;
}

QString PythonRuntime::stoppedByUserText()
{
    return QStringLiteral("Stopped by User");
}

bool PythonRuntime::interrupt(quint64 ticket)
{
    if (!isLoaded())
        return false;
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!m_running)
        return false;
    // Running: the run's thread state lives at least until the run's thread
    // has taken this mutex, which it does only after its code has returned.
    const int gil = m_api->PyGILState_Ensure();
    // A marked native call raises the stop itself when it sees its owner's
    // flag; it lets the interpreter lock go only while it waits, so it is
    // either waiting now or has not yet looked.
    const bool raisedAlready = ticket != 0 && m_stopTicketsRaised.load() >= ticket;
    if (!m_inNativeCall && !raisedAlready)
        m_api->PyThreadState_SetAsyncExc(m_threadId, sharedInterpreter().stopException);
    // The script's thread sets the flag before it lets the interpreter lock
    // go for its sleep, so a sleep that has begun is seen here.
    if (m_scriptSleeping) {
        m_sleepInterrupted = true;
        m_sleepWake.notify_all();
    }
    m_api->PyGILState_Release(gil);
    return true;
}

PythonRuntime::NativeCall::NativeCall(PythonRuntime *runtime)
{
    if (runtime && runtime->isLoaded()
        && runtime->m_api->PyThread_get_thread_ident() == runtime->m_scriptThread.load()) {
        m_runtime = runtime;
        runtime->m_inNativeCall = true;
    }
}

PythonRuntime::NativeCall::~NativeCall()
{
    if (m_runtime)
        m_runtime->m_inNativeCall = false;
}

void PythonRuntime::raiseStop() const
{
    if (!isLoaded())
        return;
    // Every stop asked so far is served by this one.
    m_stopTicketsRaised.store(m_stopTickets.load());
    m_api->PyThreadState_SetAsyncExc(m_api->PyThread_get_thread_ident(), nullptr);
    setRuntimeError(stoppedByUserText());
}

void PythonRuntime::withoutInterpreterLock(const std::function<void()> &wait) const
{
    if (!isLoaded()) {
        wait();
        return;
    }
    void *threadState = m_api->PyEval_SaveThread();
    wait();
    m_api->PyEval_RestoreThread(threadState);
}

// Interpreter lock held: time.sleep of a run. The script's own thread waits
// here while its code runs, where interrupt() wakes it; anything else
// (another thread of the script, a thread the script left running, a time the
// plain sleep refuses or cannot hold) goes to the plain sleep.
PyObject *PythonRuntime::sleepCall(PyObject *plainSleep, PyObject *args)
{
    const Api &a = *m_api;
    PyObject *seconds = nullptr;
    if (!a.PyArg_ParseTuple(args, "O:sleep", &seconds))
        return nullptr;
    double value = a.PyFloat_AsDouble(seconds);
    if (a.PyErr_Occurred()) {
        a.PyErr_Clear();
        value = -1;
    }
    const unsigned long thread = a.PyThread_get_thread_ident();
    if (!(value > 0 && value <= 1e9) || thread != m_scriptThread.load())
        return a.PyObject_Call(plainSleep, args, nullptr);

    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(value));
    m_sleepInterrupted = false;
    m_scriptSleeping = true;
    void *threadState = a.PyEval_SaveThread();
    bool interrupted = false;
    {
        std::unique_lock<std::mutex> lock(m_stateMutex);
        interrupted = m_sleepWake.wait_until(lock, deadline,
                                             [this] { return m_sleepInterrupted.load(); });
    }
    a.PyEval_RestoreThread(threadState);
    m_scriptSleeping = false;
    if (!interrupted)
        return a.Py_BuildValue("");
    // Raised here, at the call of sleep, instead of after it.
    a.PyThreadState_SetAsyncExc(thread, nullptr);
    a.PyErr_SetString(*a.PyExc_RuntimeError, stoppedByUserText().toUtf8().constData());
    return nullptr;
}

// Runs code in a namespace; an error is printed to the script's standard
// error as the interpreter prints an uncaught one. Interpreter lock held.
bool PythonRuntime::runIn(PyObject *globals, const QByteArray &code, bool ignoreCookie) const
{
    const Api &a = *m_api;
    PyCompilerFlags flags{ignoreCookie ? kIgnoreCookie : 0, kFeatureVersion};
    PyObject *result = a.PyRun_StringFlags(code.constData(), kFileInput, globals, globals, &flags);
    if (!result) {
        a.PyErr_Print();
        return false;
    }
    a.Py_DecRef(result);
    return true;
}

// Initialises the interpreter on the first run and lets its lock go; later
// calls find it ready. Called within a reservation.
bool PythonRuntime::ensureInterpreter()
{
    const Api &a = *m_api;
    SharedInterpreter &shared = sharedInterpreter();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.ready || shared.failed)
        return shared.ready;
    // A script's sys.exit() must end the script, not the program: in
    // inspect mode the interpreter reports SystemExit like any exception.
    *a.Py_InspectFlag = 1;
    a.Py_InitializeEx(0);
    shared.failed = true;
    if (!a.Py_IsInitialized())
        return false;
    plainCall = a.PyObject_Call;
    PyObject *helpers = a.PyDict_New();
    bool made = helpers
                && runIn(helpers,
                         QString::fromLatin1(kRunHelpers)
                             .arg(pythonStringLiteral(stoppedByUserText()))
                             .toLatin1(),
                         false);
    PyObject *plainSleep = made ? a.PyDict_GetItemString(helpers, "plain_sleep") : nullptr;
    PyObject *sleep = plainSleep ? a.PyCFunction_NewEx(&sleepDef, plainSleep, nullptr) : nullptr;
    made = sleep && a.PyDict_SetItemString(helpers, "interruptible_sleep", sleep) == 0;
    if (sleep)
        a.Py_DecRef(sleep);
    if (made) {
        shared.helpers = helpers;
        shared.stopException = a.PyDict_GetItemString(helpers, "RuntimeError");
        a.Py_IncRef(shared.stopException);
        shared.ready = true;
        shared.failed = false;
    } else if (helpers) {
        a.Py_DecRef(helpers);
    }
    // The initialising thread keeps its thread state; each run takes the
    // lock through PyGILState_Ensure, which finds it again in this thread.
    a.PyEval_SaveThread();
    return made;
}

// Interpreter lock held: the native module for a method table, made on the
// first run that asks for it and kept; importable under its name.
bool PythonRuntime::installNativeModule(const QByteArray &name, PyMethodDef *methods)
{
    const Api &a = *m_api;
    SharedInterpreter &shared = sharedInterpreter();
    PyObject *module = nullptr;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        for (const NativeModule &native : shared.natives)
            if (native.name == name && native.methods == methods)
                module = native.module;
    }
    if (!module) {
        NativeModule native;
        native.name = name;
        native.methods = methods;
        native.def = new PyModuleDef;
        std::memset(native.def, 0, sizeof *native.def);
        native.def->m_base.ob_refcnt = 1;
        native.def->m_name = qstrdup(name.constData());
        native.def->m_size = -1;
        native.def->m_methods = methods;
        native.module = a.PyModule_Create2(native.def, kPythonApiVersion);
        if (!native.module) {
            a.PyErr_Print();
            delete[] native.def->m_name;
            delete native.def;
            return false;
        }
        module = native.module;
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.natives.push_back(native);
    }
    // Put back each run: a script may have taken it out.
    return a.PyDict_SetItemString(a.PyImport_GetModuleDict(), name.constData(), module) == 0;
}

// Run's thread, interpreter lock held: the interruptible sleep serves this
// run (interrupt() raises the shared interpreter's stop class, which the
// interpreter keeps for as long as it lives).
void PythonRuntime::prepareInterrupt()
{
    sleepingRuntime = this;
}

// Run's thread, interpreter lock held on entry and on return. The lock is
// let go while the state mutex is taken, since interrupt() holds that mutex
// while it waits for the interpreter lock.
void PythonRuntime::setRunning(bool running)
{
    const Api &a = *m_api;
    const unsigned long threadId = a.PyThread_get_thread_ident();
    void *threadState = a.PyEval_SaveThread();
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_running = running;
        m_threadId = threadId;
    }
    m_scriptThread = running ? threadId : 0;
    a.PyEval_RestoreThread(threadState);
}

bool PythonRuntime::runScript(const QString &code, const QString &sysPathEntry, int stdoutMode,
                              int stderrMode, const QString &moduleName, PyMethodDef *methods)
{
    m_stdOut.clear();
    m_stdErr.clear();
    m_errorLine = 0;
    if (!isLoaded()) {
        m_stdErr = QStringLiteral("Python library '%1' is not available.").arg(m_libraryName);
        return false;
    }
    if (!beginRun(interpreterOwner())) {
        m_stdErr = busyText();
        return false;
    }
    const bool ok = runLocked(code, sysPathEntry, stdoutMode, stderrMode, moduleName, methods);
    endRun(interpreterOwner());
    return ok;
}

bool PythonRuntime::runLocked(const QString &code, const QString &sysPathEntry, int stdoutMode,
                              int stderrMode, const QString &moduleName, PyMethodDef *methods)
{
    const Api &a = *m_api;
    const bool withModule = !moduleName.isEmpty() && methods;
    if (withModule && !isIdentifier(moduleName)) {
        m_stdErr = QStringLiteral("Python module name '%1' is not valid.").arg(moduleName);
        return false;
    }

    // The output files live in a private folder of this run: a fixed name in
    // the shared temporary folder could be a link planted by someone else.
    QTemporaryDir outputDir;
    if ((stdoutMode == ToFile || stderrMode == ToFile) && !outputDir.isValid()) {
        m_stdErr = QStringLiteral("Python output folder cannot be created: %1")
                       .arg(outputDir.errorString());
        return false;
    }
    const QString basePath = outputDir.path() + QStringLiteral("/sample");
    const QString stdoutFile = basePath + QStringLiteral(".stdout");
    const QString stderrFile = basePath + QStringLiteral(".stderr");

    if (!ensureInterpreter()) {
        m_stdErr = QStringLiteral("Python library '%1' cannot be initialized.").arg(m_libraryName);
        return false;
    }

    const int gil = a.PyGILState_Ensure();
    const int result = runInInterpreter(code, sysPathEntry, stdoutMode, stdoutFile, stderrMode,
                                        stderrFile, withModule ? moduleName.toLatin1() : QByteArray(),
                                        methods);
    a.PyGILState_Release(gil);

    if (result < 0)
        return false;
    if (stdoutMode == ToFile)
        m_stdOut = readUtf8File(stdoutFile);
    if (stderrMode == ToFile) {
        m_stdErr = readUtf8File(stderrFile);
        m_errorLine = errorLineOf(m_stdErr);
    }
    return result == 0;
}

// Run's thread, interpreter lock held: one run in a namespace of its own.
// 0 when the code ran to its end, 1 when it raised, -1 when it could not be
// started (m_stdErr says why).
int PythonRuntime::runInInterpreter(const QString &code, const QString &sysPathEntry,
                                    int stdoutMode, const QString &stdoutFile, int stderrMode,
                                    const QString &stderrFile, const QByteArray &moduleName,
                                    PyMethodDef *methods)
{
    const Api &a = *m_api;
    PyObject *helpers = sharedInterpreter().helpers;
    const auto helper = [this, helpers](const QString &call) {
        return runIn(helpers, call.toUtf8(), false);
    };

    if (!moduleName.isEmpty() && !installNativeModule(moduleName, methods)) {
        m_stdErr = QStringLiteral("Python module '%1' cannot be created.")
                       .arg(QString::fromLatin1(moduleName));
        return -1;
    }
    PyObject *globals = nullptr;
    if (helper(QStringLiteral("run_globals = begin()\n")))
        globals = a.PyDict_GetItemString(helpers, "run_globals");
    if (!globals) {
        m_stdErr = QStringLiteral("Python library '%1' cannot start a script.").arg(m_libraryName);
        return -1;
    }
    a.Py_IncRef(globals);
    if (PyObject *none = a.Py_BuildValue("")) {
        a.PyDict_SetItemString(helpers, "run_globals", none);
        a.Py_DecRef(none);
    }
    prepareInterrupt();

    if (stdoutMode == ToFile)
        helper(QStringLiteral("redirect('stdout', %1)\n").arg(pythonStringLiteral(stdoutFile)));
    if (stderrMode == ToFile)
        helper(QStringLiteral("redirect('stderr', %1)\n").arg(pythonStringLiteral(stderrFile)));
    if (!sysPathEntry.isEmpty())
        helper(QStringLiteral("sys.path.append(%1)\n").arg(pythonStringLiteral(sysPathEntry)));
    // Scripts have always found these names in their namespace.
    if (stdoutMode == ToFile || stderrMode == ToFile || !sysPathEntry.isEmpty())
        runIn(globals, QByteArrayLiteral("import sys\n"), false);
    const QString module = QString::fromLatin1(moduleName);
    if (stdoutMode == ToModule && !moduleName.isEmpty())
        runIn(globals, catcherPrelude(module, "StdoutCatcher", "CaptureStdOut", "stdout").toUtf8(),
              false);
    if (stderrMode == ToModule && !moduleName.isEmpty())
        runIn(globals, catcherPrelude(module, "StderrCatcher", "CaptureStdErr", "stderr").toUtf8(),
              false);

    setRunning(true);
    if (m_interruptCheck && m_interruptCheck())
        a.PyThreadState_SetAsyncExc(m_threadId, sharedInterpreter().stopException);
    bool ok = runIn(globals, code.toUtf8(), true);
    // Threads the script started: a stop request ends the wait.
    if (helper(QStringLiteral("join_threads()\n"))) {
        PyObject *stopped = a.PyDict_GetItemString(helpers, "stopped");
        if (stopped && a.PyObject_IsTrue(stopped) == 1)
            ok = false;
    } else {
        ok = false;
    }
    setRunning(false);
    // An interrupt that came as the code ended must not hit what follows.
    a.PyThreadState_SetAsyncExc(m_threadId, nullptr);
    // Closes the output files before they are read.
    helper(QStringLiteral("finish()\n"));
    a.Py_DecRef(globals);
    sleepingRuntime = nullptr;
    return ok ? 0 : 1;
}

int PythonRuntime::errorLineOf(const QString &text)
{
    const QString marker = QStringLiteral(", line ");
    const int at = text.lastIndexOf(marker);
    if (at < 0)
        return 0;
    const int start = at + marker.length();
    int end = text.indexOf(QLatin1Char(' '), start);
    if (end < 0) {
        end = text.length();
    } else {
        const int comma = text.indexOf(QLatin1Char(','), start);
        if (comma >= 0 && comma < end)
            end = comma;
        const int lineBreak = text.indexOf(QLatin1Char('\n'), start);
        if (lineBreak >= 0 && lineBreak < end)
            end = lineBreak;
    }
    bool ok = false;
    const int line = text.mid(start, end - start).trimmed().toInt(&ok);
    return ok ? line : 0;
}

QString PythonRuntime::pythonStringLiteral(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const uint c : text.toUcs4()) {
        switch (c) {
        case '\\': out += QLatin1String("\\\\"); continue;
        case '"': out += QLatin1String("\\\""); continue;
        case '\n': out += QLatin1String("\\n"); continue;
        case '\r': out += QLatin1String("\\r"); continue;
        case '\t': out += QLatin1String("\\t"); continue;
        default: break;
        }
        // Plain ASCII only: the code is handed over as bytes, which Python
        // reads as UTF-8, so everything else travels as an escape.
        if (c >= 0x20 && c < 0x7f)
            out += QChar(c);
        else if (c <= 0xff)
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
        else if (c <= 0xffff)
            out += QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\U%1").arg(c, 8, 16, QLatin1Char('0'));
    }
    out += QLatin1Char('"');
    return out;
}

QString PythonRuntime::scriptText(const QByteArray &givenBytes)
{
    const QByteArray bytes = withoutByteOrderMark(givenBytes);
    if (QTextCodec *declared = declaredCodec(bytes))
        return declared->toUnicode(bytes);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    return ZorApplServices::latin1Text(bytes);
}

bool PythonRuntime::textFromObject(PyObject *object, QString &text) const
{
    // Lone surrogates, which UTF-8 cannot hold, come back as escapes.
    PyObject *bytes = m_api->PyUnicode_AsEncodedString(object, "utf-8", "backslashreplace");
    if (!bytes)
        return false;
    char *data = nullptr;
    Py_ssize_t size = 0;
    const bool ok = m_api->PyBytes_AsStringAndSize(bytes, &data, &size) == 0;
    if (ok)
        text = QString::fromUtf8(data, static_cast<int>(size));
    m_api->Py_DecRef(bytes);
    return ok;
}

bool PythonRuntime::parseStringArg(PyObject *args, QString &text) const
{
    text.clear();
    PyObject *object = nullptr;
    if (!isLoaded() || !m_api->PyArg_ParseTuple(args, "U", &object))
        return false;
    if (!textFromObject(object, text)) {
        text.clear();
        return false;
    }
    return true;
}

bool PythonRuntime::parseTwoStringArgs(PyObject *args, QString &first, QString &second) const
{
    first.clear();
    second.clear();
    PyObject *one = nullptr;
    PyObject *two = nullptr;
    if (!isLoaded() || !m_api->PyArg_ParseTuple(args, "U|U", &one, &two))
        return false;
    if (!textFromObject(one, first) || (two && !textFromObject(two, second))) {
        first.clear();
        second.clear();
        return false;
    }
    return true;
}

bool PythonRuntime::parseStringIntArgs(PyObject *args, QString &text, int &value) const
{
    text.clear();
    value = 0;
    PyObject *object = nullptr;
    int number = 0;
    if (!isLoaded() || !m_api->PyArg_ParseTuple(args, "U|i", &object, &number))
        return false;
    if (!textFromObject(object, text)) {
        text.clear();
        return false;
    }
    value = number;
    return true;
}

PyObject *PythonRuntime::buildString(const QString &text) const
{
    if (!isLoaded())
        return nullptr;
    const QByteArray bytes = text.toUtf8();
    return m_api->PyUnicode_DecodeUTF8(bytes.constData(), bytes.size(), "replace");
}

PyObject *PythonRuntime::buildInt(int value) const
{
    return isLoaded() ? m_api->Py_BuildValue("i", value) : nullptr;
}

PyObject *PythonRuntime::buildNone() const
{
    return isLoaded() ? m_api->Py_BuildValue("s", static_cast<const char *>(nullptr)) : nullptr;
}

void PythonRuntime::setRuntimeError(const QString &text) const
{
    if (isLoaded())
        m_api->PyErr_SetString(*m_api->PyExc_RuntimeError, text.toUtf8().constData());
}

// --- drive-script image compiler

QString PythonRuntime::pythonLibDir()
{
    QMutexLocker lock(&libDirMutex());
    if (!libDirOverride().isEmpty())
        return libDirOverride();
    return QDir::fromNativeSeparators(QCoreApplication::applicationDirPath())
           + QStringLiteral("/pythonlib");
}

void PythonRuntime::setPythonLibDir(const QString &dir)
{
    QMutexLocker lock(&libDirMutex());
    libDirOverride() = QDir::fromNativeSeparators(dir);
}

bool PythonRuntime::compileScriptImage(const QString &source, QString &imagePath,
                                       QString &libraryFolder, QString &errorText)
{
    imagePath.clear();
    libraryFolder.clear();
    errorText.clear();

    QString text;
    {
        QFile file(source);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            errorText = QStringLiteral("source file not found: %1").arg(source);
            return false;
        }
        text = scriptText(file.readAll());
    }
    if (text.isEmpty()) {
        errorText = QStringLiteral("source file empty: %1").arg(source);
        return false;
    }
    const bool generation8 = text.contains(QLatin1String("pymite-08"), Qt::CaseInsensitive);
    libraryFolder = pythonLibDir()
                    + (generation8 ? QStringLiteral("/pymite-08") : QStringLiteral("/pymite-09"));

    m_stdOut.clear();
    m_stdErr.clear();
    m_errorLine = 0;
    if (!isLoaded()) {
        m_stdErr = QStringLiteral("Python library '%1' is not available.").arg(m_libraryName);
        return false;
    }
    // The work folder is shared by every compilation: hold the interpreter
    // for the whole compilation, not only for the run.
    if (!beginRun(interpreterOwner())) {
        m_stdErr = busyText();
        errorText = m_stdErr;
        return false;
    }
    struct EndRun
    {
        const void *owner;
        ~EndRun() { endRun(owner); }
    } endRunLater{interpreterOwner()};

    // The image goes beside the source; only the file name's suffix is
    // replaced, never a dot in a folder name.
    const QString baseName = QFileInfo(source).fileName();
    const int dot = baseName.lastIndexOf(QLatin1Char('.'));
    const QString outputPath = source.left(source.length() - baseName.length())
                               + (dot >= 0 ? baseName.left(dot) : baseName)
                               + QStringLiteral(".pymbin");

    const QString workDir = ZorApplServices::workingDir() + QStringLiteral("/PythonCompilerTmp");
    if (QFileInfo::exists(workDir) || QFileInfo(workDir).isSymLink())
        ZorApplServices::removeDirRecursively(workDir);
    QDir dir(ZorApplServices::workingDir());
    if (!dir.mkpath(QStringLiteral("PythonCompilerTmp")) || !dir.cd(QStringLiteral("PythonCompilerTmp"))) {
        errorText = QStringLiteral("could not create tmp folder: %1").arg(workDir);
        return false;
    }
    const QString workScript = workDir + QStringLiteral("/sample.py");
    const QString workImage = workDir + QStringLiteral("/sample.pymbin");

    int addedLines = 0; // by the conversion, at the top of the work script
    {
        QFile in(source);
        QString again;
        QTextCodec *declared = nullptr;
        if (in.open(QIODevice::ReadOnly | QIODevice::Text)) {
            const QByteArray original = in.readAll();
            again = scriptText(original);
            declared = declaredCodec(original);
        }
        bool written = false;
        if (!again.isEmpty()) {
            const int linesBefore = again.count(QLatin1Char('\n'));
            DriveScriptConverter::toTargetLib(again);
            addedLines = again.count(QLatin1Char('\n')) - linesBefore;
            QFile out(workScript);
            // The image creator reads the bytes as Python does: as the
            // script's coding declaration says, else as UTF-8.
            const QByteArray bytes = declared ? declared->fromUnicode(again) : again.toUtf8();
            written = out.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)
                      && out.write(bytes) == bytes.size();
        }
        if (!written) {
            errorText = QStringLiteral("could not copy from '%1' to '%2'").arg(source, workScript);
            return false;
        }
    }

    QString script = QStringLiteral("import pmImgCreator\n");
    script += QStringLiteral("outfn = %1\n").arg(pythonStringLiteral(workImage));
    script += QStringLiteral("imgtyp = \".bin\"\n"
                             "imgtarget = \"std\"\n"
                             "memspace = \"flash\"\n"
                             "natfn = None\n");
    script += QStringLiteral("fns = [%1]\n").arg(pythonStringLiteral(workScript));
    if (generation8) {
        script += QStringLiteral("pic = pmImgCreator.PmImgCreator()\n");
    } else {
        script += QStringLiteral("pic = pmImgCreator.PmImgCreator(%1)\n")
                      .arg(pythonStringLiteral(libraryFolder + QStringLiteral("/pmfeatures.py")));
    }
    script += QStringLiteral("pic.set_options(outfn, imgtyp, imgtarget, memspace, natfn, fns)\n"
                             "pic.convert_files()\n"
                             "pic.write_image_file()\n");

    bool copied = false;
    const bool ran = runLocked(script, libraryFolder, ToFile, ToFile, QString(), nullptr);
    // An error in the script is reported at the user's line, not at the
    // line of the converted copy.
    const QString frame = QStringLiteral("File \"%1\", line ").arg(workScript);
    const int frameAt = m_stdErr.lastIndexOf(frame);
    if (addedLines > 0 && m_errorLine > addedLines && frameAt >= 0
        && frameAt + frame.length() - 7 == m_stdErr.lastIndexOf(QLatin1String(", line "))) {
        m_errorLine -= addedLines;
    }
    if (ran) {
        // Replaced in one step: a failed copy keeps the previous image.
        QFile image(workImage);
        QSaveFile output(outputPath);
        copied = image.open(QIODevice::ReadOnly) && output.open(QIODevice::WriteOnly);
        if (copied) {
            const QByteArray bytes = image.readAll();
            copied = image.error() == QFileDevice::NoError && output.write(bytes) == bytes.size()
                     && output.commit();
        }
        if (copied)
            imagePath = outputPath;
        else
            errorText = QStringLiteral("could not copy output from '%1' to '%2'").arg(workImage, outputPath);
    }
    ZorApplServices::removeDirRecursively(workDir);
    return copied;
}
