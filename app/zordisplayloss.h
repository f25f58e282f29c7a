// ZorDisplayLoss: what the program does when its display goes away.
//
// When the X server the window is shown on dies, Qt's X11 platform says so
// in a warning ("The X11 connection broke ...") and ends the process right
// after it with exit(). exit() tears down the process's static data (Qt's
// and the program's) while every module thread, the module host and the
// drivers' threads still run and use it: heap corruption on the way out
// ("malloc_consolidate(): unaligned fastbin chunk detected").
//
// The guard watches Qt's messages (passing each on to the handler installed
// before it, or to standard error). On that warning it runs the given stop
// (the project's modules are deleted: their threads end, adapters and files
// close) and ends the process with the exit code without the static
// teardown. Nothing else of the window is touched: it cannot be drawn any
// more.
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class ZorDisplayLoss
{
public:
    // Installs the guard as Qt's message handler (once per process) and
    // replaces the stop it runs.
    static void install(std::function<void()> stop);
    // Whether a Qt message tells that the display connection is gone.
    static bool isDisplayLost(QtMsgType type, const QString &text);
};
