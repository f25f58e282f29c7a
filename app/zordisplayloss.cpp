#include "zordisplayloss.h"

#include <QAtomicInt>
#include <QMessageLogContext>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex displayLossMutex;
QtMessageHandler displayLossPrevious = nullptr;
bool displayLossInstalled = false;
std::function<void()> displayLossStop;
QAtomicInt displayLossHandled(0);

void displayLossHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QtMessageHandler previous;
    {
        std::lock_guard<std::mutex> locker(displayLossMutex);
        previous = displayLossPrevious;
    }
    if (previous) {
        previous(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
        std::fflush(stderr);
    }
    if (!ZorDisplayLoss::isDisplayLost(type, text) || !displayLossHandled.testAndSetOrdered(0, 1))
        return;
    std::function<void()> stop;
    {
        std::lock_guard<std::mutex> locker(displayLossMutex);
        stop = displayLossStop;
    }
    if (stop)
        stop();
    std::fflush(nullptr);
    std::_Exit(1);
}

} // namespace

void ZorDisplayLoss::install(std::function<void()> stop)
{
    std::lock_guard<std::mutex> locker(displayLossMutex);
    displayLossStop = std::move(stop);
    if (displayLossInstalled)
        return;
    displayLossInstalled = true;
    displayLossPrevious = qInstallMessageHandler(displayLossHandler);
}

bool ZorDisplayLoss::isDisplayLost(QtMsgType type, const QString &text)
{
    return type == QtWarningMsg && text.startsWith(QLatin1String("The X11 connection broke"));
}
