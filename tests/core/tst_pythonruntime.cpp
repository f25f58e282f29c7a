#include "pythonruntime.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QScopeGuard>
#include <QtTest>

#include <atomic>

namespace {

// The runtime whose run is under way and what its native functions saw, as a
// caller's native module keeps them for the duration of a run.
PythonRuntime *current = nullptr;
QStringList capturedOut;
QStringList capturedErr;
QSemaphore *blockEntered = nullptr;
QSemaphore *blockRelease = nullptr;
QSemaphore *readySignal = nullptr;

PyObject *captureStdOut(PyObject *, PyObject *args)
{
    QString text;
    if (!current->parseStringArg(args, text))
        return nullptr;
    capturedOut << text;
    return current->buildNone();
}

PyObject *captureStdErr(PyObject *, PyObject *args)
{
    QString text;
    if (!current->parseStringArg(args, text))
        return nullptr;
    capturedErr << text;
    return current->buildNone();
}

// "s|s": echoes both texts joined by "|".
PyObject *echo(PyObject *, PyObject *args)
{
    QString first;
    QString second;
    if (!current->parseTwoStringArgs(args, first, second))
        return nullptr;
    return current->buildString(first + QLatin1Char('|') + second);
}

// "s|i": the text's length plus the number.
PyObject *measure(PyObject *, PyObject *args)
{
    QString text;
    int value = -1;
    if (!current->parseStringIntArgs(args, text, value))
        return nullptr;
    return current->buildInt(text.size() + value);
}

PyObject *stop(PyObject *, PyObject *)
{
    current->setRuntimeError(QStringLiteral("script stopped"));
    return nullptr;
}

PyObject *block(PyObject *, PyObject *)
{
    blockEntered->release();
    blockRelease->acquire();
    return current->buildNone();
}

// Tells the test that the script has come this far.
PyObject *ready(PyObject *, PyObject *)
{
    readySignal->release();
    return current->buildNone();
}

// A native function that raises the stop itself, as the automation
// module's functions do when they see their owner's stop flag.
PyObject *raiseStop(PyObject *, PyObject *)
{
    const PythonRuntime::NativeCall call(current);
    current->raiseStop();
    return nullptr;
}

// Whether the test has made its interrupt.
std::atomic<bool> interruptMade{false};
PyObject *interrupted(PyObject *, PyObject *)
{
    return current->buildInt(interruptMade.load() ? 1 : 0);
}

PyMethodDef methods[] = {
    {"CaptureStdOut", captureStdOut, METH_VARARGS, "used to redirect stdout"},
    {"CaptureStdErr", captureStdErr, METH_VARARGS, "used to redirect stderr"},
    {"Echo", echo, METH_VARARGS, nullptr},
    {"Measure", measure, METH_VARARGS, nullptr},
    {"Stop", stop, METH_VARARGS, nullptr},
    {"Block", block, METH_VARARGS, nullptr},
    {"Ready", ready, METH_VARARGS, nullptr},
    {"RaiseStop", raiseStop, METH_VARARGS, nullptr},
    {"Interrupted", interrupted, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr}};

} // namespace

class TestPythonRuntime : public QObject
{
    Q_OBJECT

    PythonRuntime *rt = nullptr;

    bool run(const QString &code, int out, int err, const QString &sysPath = QString())
    {
        current = rt;
        capturedOut.clear();
        capturedErr.clear();
        const bool ok = rt->runScript(code, sysPath, out, err, QStringLiteral("Quorvane"), methods);
        current = nullptr;
        return ok;
    }

private slots:
    void initTestCase()
    {
        rt = new PythonRuntime;
        QVERIFY2(rt->isLoaded(), "the Python runtime library could not be loaded");
        QCOMPARE(rt->libraryName(), QStringLiteral("python3.11"));
    }
    void cleanupTestCase() { delete rt; }

    void missingLibrary()
    {
        PythonRuntime missing(QStringLiteral("python-not-installed-9.9"));
        QVERIFY(!missing.isLoaded());
        QCOMPARE(missing.loadStatus(), int(PythonRuntime::LibraryNotFound));
        QVERIFY(!missing.runScript("print(1)", QString(), 1, 1));
        QCOMPARE(missing.stdErrText(),
                 QStringLiteral("Python library 'python-not-installed-9.9' is not available."));
        QVERIFY(missing.stdOutText().isEmpty());
        QCOMPARE(missing.errorLine(), 0);
    }

    void errorInSecondLine()
    {
        QVERIFY(!run("x = 1\ny = x / 0\n", 1, 1));
        QCOMPARE(rt->errorLine(), 2);
        QVERIFY2(rt->stdErrText().startsWith("Traceback"), qPrintable(rt->stdErrText()));
        QVERIFY(rt->stdErrText().trimmed().endsWith("ZeroDivisionError: division by zero"));

        QVERIFY(!run("a = 1\nb = 2\nif a\n", 1, 1));
        QCOMPARE(rt->errorLine(), 3);
        QVERIFY(rt->stdErrText().contains("SyntaxError"));

        // The results are those of the last run only.
        QVERIFY(run("pass\n", 1, 1));
        QCOMPARE(rt->errorLine(), 0);
        QVERIFY(rt->stdErrText().isEmpty());
    }

    void outputToFiles()
    {
        QVERIFY(run("print('hello')\nprint('caf\\xe9', end='')\nimport sys\nsys.stderr.write('warn')\n", 1, 1));
        QCOMPARE(rt->stdOutText(), QString::fromLatin1("hello\ncaf\xe9"));
        QCOMPARE(rt->stdErrText(), QStringLiteral("warn"));
        // Code and output cross as UTF-8: any character, written in the code
        // or made by it, arrives as it is. A coding declaration in the code
        // does not make Python read the text a second time.
        const QString text = QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac \xe6\x97\xa5\xe6\x9c\xac");
        QVERIFY2(run("s = '" + text + "'\nprint(s, len(s), '\\u20ac')\n", 1, 1),
                 qPrintable(rt->stdErrText()));
        QCOMPARE(rt->stdOutText(), text + QString::fromUtf8(" 9 \xe2\x82\xac\n"));
        QVERIFY(run("# -*- coding: latin-1 -*-\nprint('" + text + "')\n", 1, 1));
        QCOMPARE(rt->stdOutText(), text + "\n");
        QVERIFY(!run("raise ValueError('" + text + "')\n", 1, 1));
        QVERIFY2(rt->stdErrText().contains("ValueError: " + text), qPrintable(rt->stdErrText()));
    }

    // The output files of a run lie in a folder of that run that only its
    // user can enter, never under a fixed name in the shared temporary
    // folder, and go with the run.
    void outputFilesInAPrivateFolderPerRun()
    {
        const QString report = "import os, sys\n"
                               "d = os.path.dirname(sys.stdout.name)\n"
                               "print(d)\n"
                               "print(oct(os.stat(d).st_mode & 0o777))\n"
                               "print(os.path.dirname(sys.stderr.name) == d)\n";
        QVERIFY(run(report, 1, 1));
        const QStringList first = rt->stdOutText().split('\n');
        QVERIFY(run(report, 1, 1));
        const QStringList second = rt->stdOutText().split('\n');
        QCOMPARE(first.mid(1, 2), QStringList({"0o700", "True"}));
        QCOMPARE(second.mid(1, 2), QStringList({"0o700", "True"}));
        QVERIFY(first.at(0) != second.at(0));
        QVERIFY(QDir::cleanPath(first.at(0)) != QDir::cleanPath(QDir::tempPath()));
        QVERIFY(!QFileInfo::exists(first.at(0)));
        QVERIFY(!QFileInfo::exists(second.at(0)));
    }

    // Script files: as their coding declaration says, else UTF-8, else (not
    // valid UTF-8: written by an older editor) Latin-1.
    void scriptText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-8") << QByteArray("s = '\xc3\xa9\xe2\x82\xac'") << QString::fromUtf8("s = '\xc3\xa9\xe2\x82\xac'");
        QTest::newRow("UTF-8 with byte-order mark") << QByteArray("\xef\xbb\xbfs = '\xc3\xa9'") << QString::fromUtf8("s = '\xc3\xa9'");
        QTest::newRow("Latin-1") << QByteArray("s = '\xe9'") << QString::fromUtf8("s = '\xc3\xa9'");
        QTest::newRow("cut UTF-8 sequence") << QByteArray("s = '\xe2\x82'") << QString::fromLatin1("s = '\xe2\x82'");
        QTest::newRow("declared cp1252")
            << QByteArray("#!/usr/bin/python\n# -*- coding: cp1252 -*-\ns = '\x80'")
            << QString::fromUtf8("#!/usr/bin/python\n# -*- coding: cp1252 -*-\ns = '\xe2\x82\xac'");
        QTest::newRow("declared latin-1, valid UTF-8 bytes")
            << QByteArray("# coding=latin-1\ns = '\xc3\xa9'") << QString::fromUtf8("# coding=latin-1\ns = '\xc3\x83\xc2\xa9'");
        QTest::newRow("declaration after code counts not")
            << QByteArray("x = 1\n# coding: latin-1\ns = '\xc3\xa9'") << QString::fromUtf8("x = 1\n# coding: latin-1\ns = '\xc3\xa9'");
    }
    void scriptText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(PythonRuntime::scriptText(bytes), text);
    }

    void outputToNativeModule()
    {
        QVERIFY(run("print('a')\nprint('b', 3)\nimport sys\nsys.stdout.write('c\\xe9\\u65e5')\n", 2, 1));
        QCOMPARE(capturedOut.join(QString()), QString::fromUtf8("a\nb 3\nc\xc3\xa9\xe6\x97\xa5"));
        QVERIFY(capturedOut.size() >= 4); // every write of the script arrives
        QVERIFY(rt->stdOutText().isEmpty());

        // Standard error alone to the module: standard output stays where
        // its own mode sends it.
        QVERIFY(!run("print('to file')\nraise ValueError('bad')\n", 1, 2));
        QCOMPARE(rt->stdOutText(), QStringLiteral("to file\n"));
        QVERIFY(capturedOut.isEmpty());
        QVERIFY(capturedErr.join(QString()).contains("ValueError: bad"));
        QVERIFY(rt->stdErrText().isEmpty());
        QCOMPARE(rt->errorLine(), 0);

        QVERIFY(run("print('x')\nimport sys\nsys.stderr.write('y')\n", 2, 2));
        QCOMPARE(capturedOut.join(QString()), QStringLiteral("x\n"));
        QCOMPARE(capturedErr.join(QString()), QStringLiteral("y"));
    }

    void nativeFunctions()
    {
        const char *script =
            "import Quorvane\n"
            "assert Quorvane.Echo('a', 'b\\xe9\\u20ac\\u65e5') == 'a|b\\xe9\\u20ac\\u65e5'\n"
            "assert Quorvane.Echo('one') == 'one|'\n"
            "assert Quorvane.Measure('abc', 4) == 7\n"
            "assert Quorvane.Measure('abc') == 3\n"
            "try:\n"
            "    Quorvane.Echo(5)\n"
            "    raise AssertionError('accepted a number')\n"
            "except TypeError:\n"
            "    pass\n"
            "try:\n"
            "    Quorvane.Stop()\n"
            "    raise AssertionError('not stopped')\n"
            "except RuntimeError as e:\n"
            "    assert str(e) == 'script stopped'\n"
            "print(Quorvane.CaptureStdOut.__doc__)\n";
        QVERIFY2(run(script, 1, 1), qPrintable(rt->stdErrText()));
        QCOMPARE(rt->stdOutText(), QStringLiteral("used to redirect stdout\n"));

        // Uncaught, the error a native function sets ends the script there.
        QVERIFY(!run("import Quorvane\nQuorvane.Stop()\nprint('after')\n", 1, 1));
        QCOMPARE(rt->errorLine(), 2);
        QVERIFY(rt->stdErrText().contains("RuntimeError: script stopped"));
        QVERIFY(rt->stdOutText().isEmpty());
    }

    // Paths reach Python as string literals, whatever characters they hold.
    void searchPathWithAwkwardName()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("we\"ird\\dir 'x' \xc3\xbc \u20ac\nz");
        QVERIFY(QDir().mkpath(folder));
        QFile module(folder + "/zorprobe.py");
        QVERIFY(module.open(QIODevice::WriteOnly));
        module.write("VALUE = 42\n");
        module.close();
        QVERIFY2(run("import zorprobe\nprint(zorprobe.VALUE)\n", 1, 1, folder),
                 qPrintable(rt->stdErrText()));
        QCOMPARE(rt->stdOutText(), QStringLiteral("42\n"));
    }

    void literalReadsBack()
    {
        const QString text = QString::fromUtf8("a\"b\\c'd\te\r\n\x01\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
        const QString code = QStringLiteral("assert %1 == ").arg(PythonRuntime::pythonStringLiteral(text))
                             + QStringLiteral("'a\"b\\\\c\\'d\\te\\r\\n\\x01\\xe9\\u20ac\\U0001F600'\n");
        QVERIFY2(run(code, 0, 1), qPrintable(rt->stdErrText()));
    }

    // A script's sys.exit() ends the script, never the program.
    void exitEndsOnlyTheScript()
    {
        QVERIFY(!run("import sys\nsys.exit(3)\n", 1, 1));
        QVERIFY(rt->stdErrText().contains("SystemExit"));
        QVERIFY(run("print('still here')\n", 1, 1));
        QCOMPARE(rt->stdOutText(), QStringLiteral("still here\n"));
    }

    void errorLineOf_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::newRow("function frame") << "  File \"x.py\", line 12, in f\nE: e\n" << 12;
        QTest::newRow("last of several")
            << "  File \"a\", line 3, in <module>\n  File \"b\", line 9, in g\n" << 9;
        QTest::newRow("syntax error frame") << "  File \"s.py\", line 4\n    x =\n" << 4;
        QTest::newRow("number at the end") << "File \"s.py\", line 7" << 7;
        QTest::newRow("no line") << "Error without a location\n" << 0;
        QTest::newRow("not a number") << "File \"s.py\", line x, in f" << 0;
    }
    void errorLineOf()
    {
        QFETCH(QString, text);
        QFETCH(int, line);
        QCOMPARE(PythonRuntime::errorLineOf(text), line);
    }

    // One interpreter per process: a run started while another is under way
    // is refused, and the first run is not disturbed.
    void secondConcurrentRunRefused()
    {
        QSemaphore entered;
        QSemaphore release;
        blockEntered = &entered;
        blockRelease = &release;
        std::atomic<bool> firstOk{false};
        QString firstOut;
        QThread *thread = QThread::create([&] {
            firstOk = run("import Quorvane\nQuorvane.Block()\nprint('done')\n", 1, 1);
            firstOut = rt->stdOutText();
        });
        thread->start();
        QVERIFY(entered.tryAcquire(1, 30000));

        PythonRuntime other;
        QVERIFY(!other.runScript("print(1)", QString(), 1, 1));
        QCOMPARE(other.stdErrText(),
                 QStringLiteral("Python library 'python3.11' is busy: another script is running."));

        release.release();
        QVERIFY(thread->wait(30000));
        delete thread;
        QVERIFY(firstOk);
        QCOMPARE(firstOut, QStringLiteral("done\n"));
        QVERIFY(other.runScript("print(1)", QString(), 1, 1));
    }

    // An owner's reservation keeps out runs of every other owner until its
    // last (nested) reservation is released; runtimes that run for the owner
    // still run, and their runs do not end the reservation.
    void reservationKeepsOutOtherOwners()
    {
        int ownerA = 0;   // owners are told apart by their addresses
        int ownerB = 0;
        int held = 0;
        const auto releaseLeft = qScopeGuard([&] {
            while (held-- > 0)
                PythonRuntime::releaseInterpreter(&ownerA);
        });
        const QString busy =
            QStringLiteral("Python library 'python3.11' is busy: another script is running.");

        QVERIFY(!PythonRuntime::interpreterInUse());
        QVERIFY(!PythonRuntime::reserveInterpreter(nullptr));
        QVERIFY(PythonRuntime::reserveInterpreter(&ownerA));
        ++held;
        QVERIFY(PythonRuntime::interpreterInUse());
        QVERIFY(PythonRuntime::reserveInterpreter(&ownerA));
        ++held;
        QVERIFY(!PythonRuntime::reserveInterpreter(&ownerB));

        PythonRuntime other;
        QVERIFY(!other.runScript("print(1)", QString(), 1, 1));
        QCOMPARE(other.stdErrText(), busy);
        PythonRuntime mine;
        mine.setInterpreterOwner(&ownerA);
        QVERIFY2(mine.runScript("print(1)", QString(), 1, 1), qPrintable(mine.stdErrText()));
        QCOMPARE(mine.stdOutText(), QStringLiteral("1\n"));
        QVERIFY(PythonRuntime::interpreterInUse());

        // Only the holder's releases count, one reservation each.
        PythonRuntime::releaseInterpreter(&ownerB);
        QVERIFY(!other.runScript("print(1)", QString(), 1, 1));
        PythonRuntime::releaseInterpreter(&ownerA);
        --held;
        QVERIFY(!other.runScript("print(1)", QString(), 1, 1));
        QCOMPARE(other.stdErrText(), busy);
        PythonRuntime::releaseInterpreter(&ownerA);
        --held;
        QVERIFY(!PythonRuntime::interpreterInUse());
        QVERIFY2(other.runScript("print(1)", QString(), 1, 1), qPrintable(other.stdErrText()));
        QVERIFY(PythonRuntime::reserveInterpreter(&ownerB));
        PythonRuntime::releaseInterpreter(&ownerB);
        QVERIFY(!PythonRuntime::interpreterInUse());
    }

    // Runs from different threads, one after the other, share the one
    // interpreter, each in a namespace of its own.
    void runsShareTheInterpreterNotTheirNames()
    {
        const QStringList scripts = {
            "import sys\nleft_over = 1\nsys.zor_runs = getattr(sys, 'zor_runs', 0) + 1\n"
            "print(id(sys), sys.zor_runs, __name__)\n",
            "import sys, __main__\n"
            "print(id(sys), sys.zor_runs, __name__, 'left_over' in globals(), hasattr(__main__, 'left_over'))\n"};
        QStringList outputs;
        for (const QString &script : scripts) {
            bool ok = false;
            QThread *thread = QThread::create([&] {
                ok = run(script, 1, 1);
                outputs << rt->stdOutText().trimmed();
            });
            thread->start();
            QVERIFY(thread->wait(30000));
            delete thread;
            QVERIFY2(ok, qPrintable(rt->stdErrText()));
        }
        const QStringList first = outputs.at(0).split(' ');
        QCOMPARE(first.size(), 3);
        QCOMPARE(first.at(2), QStringLiteral("__main__"));
        QCOMPARE(outputs.at(1), outputs.at(0) + " False False");
    }

    // What a run changed of the interpreter is put back when it ends: a file
    // it left open is complete, a module it imported from its search path is
    // read again from the file by the next run, and the search path is the
    // interpreter's own again.
    void aRunLeavesNothingBehind()
    {
        QTemporaryDir dir;
        const QString folder = dir.path();
        const QString leftOpen = dir.filePath("left open.txt");
        QVERIFY(ZorTest::writeFile(dir.filePath("zorfresh.py"), "VALUE = 1\n"));
        QVERIFY2(run("import zorfresh\nprint(zorfresh.VALUE)\n"
                     "f = open(" + PythonRuntime::pythonStringLiteral(leftOpen) + ", 'w')\n"
                     "f.write('x' * 100)\n"
                     "def keep():\n    return f\n",
                     1, 1, folder),
                 qPrintable(rt->stdErrText()));
        QCOMPARE(rt->stdOutText(), QStringLiteral("1\n"));
        QCOMPARE(ZorTest::readFile(leftOpen), QByteArray(100, 'x'));

        QVERIFY(ZorTest::writeFile(dir.filePath("zorfresh.py"), "VALUE = 22\n"));
        QVERIFY(ZorTest::writeFile(dir.filePath("zornew.py"), "VALUE = 3\n"));
        QVERIFY2(run("import zorfresh, zornew\nprint(zorfresh.VALUE, zornew.VALUE)\n", 1, 1, folder),
                 qPrintable(rt->stdErrText()));
        QCOMPARE(rt->stdOutText(), QStringLiteral("22 3\n"));

        QVERIFY(run("import sys\nprint(" + PythonRuntime::pythonStringLiteral(folder)
                        + " in sys.path, 'zorfresh' in sys.modules)\n",
                    1, 1));
        QCOMPARE(rt->stdOutText(), QStringLiteral("False False\n"));
    }

    // A script runs in a thread of its own, as the automation module runs
    // it, and is interrupted from the test's thread each time it reports
    // ready.
    void interruptStopsTheScript_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("interrupts");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("line");
        QTest::newRow("busy loop") << "import Quorvane\nQuorvane.Ready()\nwhile True: pass\n" << 1
                                   << "" << 3;
        QTest::newRow("long sleep")
            << "import Quorvane\nfrom time import sleep\nQuorvane.Ready()\nsleep(1000)\n" << 1 << ""
            << 4;
        // The first is caught in a sleep, and raised only once.
        QTest::newRow("caught twice, then not")
            << "import Quorvane, time\n"
               "caught = []\n"
               "while len(caught) < 2:\n"
               "    try:\n"
               "        Quorvane.Ready()\n"
               "        if caught:\n"
               "            while True: pass\n"
               "        else:\n"
               "            time.sleep(1000)\n"
               "    except RuntimeError as e:\n"
               "        caught.append(str(e))\n"
               "        time.sleep(0.01)\n"
               "print(caught)\n"
               "Quorvane.Ready()\n"
               "while True: pass\n"
            << 3 << "['Stopped by User', 'Stopped by User']\n" << 15;
    }
    void interruptStopsTheScript()
    {
        QFETCH(QString, script);
        QFETCH(int, interrupts);
        QFETCH(QString, output);
        QFETCH(int, line);
        QSemaphore readyCount;
        readySignal = &readyCount;
        std::atomic<bool> ok{true};
        QThread *thread = QThread::create([&] { ok = run(script, 1, 1); });
        thread->start();
        for (int i = 0; i < interrupts; ++i) {
            QVERIFY(readyCount.tryAcquire(1, 10000));
            QVERIFY(rt->interrupt());
        }
        const bool ended = thread->wait(10000);
        if (!ended) {
            // Leave no run behind that would block every later test.
            while (!thread->wait(100))
                rt->interrupt();
        }
        delete thread;
        QVERIFY(ended);
        QVERIFY(!ok);
        QCOMPARE(rt->stdOutText(), output);
        QVERIFY2(rt->stdErrText().trimmed().endsWith("RuntimeError: Stopped by User"),
                 qPrintable(rt->stdErrText()));
        QCOMPARE(rt->errorLine(), line);

        // Nothing runs now: an interrupt does nothing, and the next run is
        // not touched by it.
        QVERIFY(!rt->interrupt());
        QVERIFY2(run("import time\ntime.sleep(0.01)\nprint('again')\n", 1, 1),
                 qPrintable(rt->stdErrText()));
        QCOMPARE(rt->stdOutText(), QStringLiteral("again\n"));
        QVERIFY(rt->stdErrText().isEmpty());
    }

    // An owner's interrupt whose stop a native function has already raised,
    // and which gets the interpreter lock only after that call returned,
    // raises nothing more: the script sees one stop, at the call. An
    // interrupt asked after the raise raises again.
    void interruptServedByTheNativeCall()
    {
        QSemaphore readyCount;
        readySignal = &readyCount;
        interruptMade = false;
        std::atomic<bool> ok{false};
        const quint64 served = rt->takeStopTicket();
        QThread *thread = QThread::create([&] {
            ok = run("import Quorvane\n"
                     "try:\n"
                     "    Quorvane.RaiseStop()\n"
                     "except RuntimeError as e:\n"
                     "    print(e)\n"
                     "Quorvane.Ready()\n"
                     "while not Quorvane.Interrupted(): pass\n"
                     "for i in range(100000): pass\n"
                     "print('survived')\n"
                     "Quorvane.Ready()\n"
                     "while True: pass\n",
                     1, 1);
        });
        thread->start();
        QVERIFY(readyCount.tryAcquire(1, 10000));
        QVERIFY(rt->interrupt(served));
        interruptMade = true;
        QVERIFY(readyCount.tryAcquire(1, 10000));
        QVERIFY(rt->interrupt(rt->takeStopTicket()));
        QVERIFY(thread->wait(10000));
        delete thread;
        QVERIFY(!ok);
        QCOMPARE(rt->stdOutText(), QStringLiteral("Stopped by User\nsurvived\n"));
        QCOMPARE(rt->stdErrText().count("Traceback"), 1);
        QCOMPARE(rt->errorLine(), 11);
    }

    // The run waits for the threads its script started, as the interpreter's
    // shutdown did, also in a thread other than the one that ran the first
    // script; a stop ends that wait too.
    void interruptWhileWaitingForTheScriptsThread()
    {
        QSemaphore readyCount;
        readySignal = &readyCount;
        std::atomic<bool> ok{true};
        QThread *thread = QThread::create([&] {
            ok = run("import Quorvane, threading\n"
                     "done = threading.Event()\n"
                     "def work():\n"
                     "    done.wait()\n"
                     "    Quorvane.Ready()\n"
                     "    threading.Event().wait(5)\n"
                     "threading.Thread(target=work).start()\n"
                     "done.set()\n",
                     1, 1);
        });
        thread->start();
        QVERIFY(readyCount.tryAcquire(1, 10000));
        QVERIFY(!thread->wait(100));   // still waiting for the script's thread
        QVERIFY(rt->interrupt());
        QVERIFY(thread->wait(3000));
        delete thread;
        QVERIFY(!ok);
        QCOMPARE(rt->stdErrText().trimmed(), QStringLiteral("RuntimeError: Stopped by User"));
    }

    // A stop that the owner noticed while the run was starting ends the run
    // before its first line.
    void interruptCheckAtTheStart()
    {
        int asked = 0;
        rt->setInterruptCheck([&] { return ++asked > 0; });
        const bool ok = run("print('started')\nwhile True: pass\n", 1, 1);
        rt->setInterruptCheck(nullptr);
        QVERIFY(!ok);
        QCOMPARE(asked, 1);
        QVERIFY(rt->stdOutText().isEmpty());
        QVERIFY(rt->stdErrText().contains("RuntimeError: Stopped by User"));

        rt->setInterruptCheck([&] { ++asked; return false; });
        QVERIFY(run("print('started')\n", 1, 1));
        rt->setInterruptCheck(nullptr);
        QCOMPARE(asked, 2);
        QCOMPARE(rt->stdOutText(), QStringLiteral("started\n"));
    }

    // The interruptible sleep still sleeps the whole time, in the script's
    // thread and in others (also after the script's code has ended), and
    // refuses what the plain sleep refuses.
    void sleepKeepsItsMeaning()
    {
        const char *script =
            "import threading, time\n"
            "start = time.monotonic()\n"
            "time.sleep(0.12)\n"
            "assert time.monotonic() - start >= 0.12\n"
            "start = time.monotonic()\n"
            "other = threading.Thread(target=time.sleep, args=(0.06,))\n"
            "other.start()\n"
            "other.join()\n"
            "assert time.monotonic() - start >= 0.06\n"
            "time.sleep(0)\n"
            "for bad, error in ((-1, ValueError), ('x', TypeError), (float('nan'), ValueError)):\n"
            "    try:\n"
            "        time.sleep(bad)\n"
            "        raise AssertionError('slept %r' % (bad,))\n"
            "    except error:\n"
            "        pass\n"
            "from time import sleep\n"
            "print(sleep.__doc__.split('\\n')[0])\n"
            // still sleeping while the interpreter waits for it at the end
            "threading.Thread(target=lambda: (sleep(0.06), print('worker done'))).start()\n";
        QVERIFY2(run(script, 1, 1), qPrintable(rt->stdErrText()));
        QCOMPARE(rt->stdOutText(), QStringLiteral("sleep(seconds)\nworker done\n"));
    }
};

ZOR_TEST(TestPythonRuntime)
#include "tst_pythonruntime.moc"
