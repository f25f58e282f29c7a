// Cost of one Python run in the process's interpreter: a fresh namespace,
// a trivial script with its output to files, and the interpreter's state put
// back, as every automation script run and every drive-script compilation
// does.
#include "pythonruntime.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PythonRuntime runtime;
    if (!runtime.isLoaded()) {
        std::fprintf(stderr, "Python library '%s' is not available\n",
                     qPrintable(runtime.libraryName()));
        return 1;
    }
    // The first run initialises the interpreter.
    runtime.runScript(QStringLiteral("x = 1\n"), QString(), PythonRuntime::ToFile,
                      PythonRuntime::ToFile);

    const int runs = 20;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i) {
        if (!runtime.runScript(QStringLiteral("x = 1\n"), QString(), PythonRuntime::ToFile,
                               PythonRuntime::ToFile)) {
            std::fprintf(stderr, "run failed: %s\n", qPrintable(runtime.stdErrText()));
            return 1;
        }
    }
    std::printf("python_run: %.2f ms\n", timer.nsecsElapsed() / 1e6 / runs);
    return 0;
}
