// Cost of one Python run: a fresh interpreter is initialised, runs a trivial
// script and is finalised again, as every automation script run and every
// drive-script compilation does.
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
    // The first run pays for loading the standard library from disk.
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
