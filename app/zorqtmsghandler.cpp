#include "zorqtmsghandler.h"

#include <atomic>
#include <mutex>

namespace {

// Held by the callback while it uses the sink and by whoever replaces or
// clears the sink, so the sink cannot be deleted under a writing thread.
std::mutex sinkMutex;
std::atomic<ZorQtMsgHandler *> currentSink{nullptr};
std::atomic<bool> callbackInstalled{false};
// A message raised while this thread is already inside the sink (a warning
// from the log's own file) is dropped instead of locking again.
thread_local bool insideSink = false;

void messageCallback(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (insideSink || !currentSink.load())
        return;
    insideSink = true;
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        if (ZorQtMsgHandler *handler = currentSink.load())
            handler->handle(type, text);
    }
    insideSink = false;
}

} // namespace

ZorQtMsgHandler::ZorQtMsgHandler()
{
    m_log.open(QStringLiteral("main"));
}

ZorQtMsgHandler::~ZorQtMsgHandler()
{
    ZorQtMsgHandler *self = this;
    std::lock_guard<std::mutex> lock(sinkMutex);
    currentSink.compare_exchange_strong(self, nullptr);
    // m_log closes after this body, when no callback can reach it any more.
}

QString ZorQtMsgHandler::lineText(QtMsgType type, const QString &text)
{
    switch (type) {
    case QtDebugMsg:
        return text;
    case QtWarningMsg:
        return QStringLiteral("Warning: %1\n").arg(text);
    case QtCriticalMsg:
        return QStringLiteral("Critical: %1\n").arg(text);
    case QtFatalMsg:
        return QStringLiteral("Fatal: %1\n").arg(text);
    default:
        return QString();
    }
}

void ZorQtMsgHandler::handle(QtMsgType type, const QString &text)
{
    const QString line = lineText(type, text);
    if (!line.isEmpty())
        m_log.write(line);
}

void ZorQtMsgHandler::install(ZorQtMsgHandler *handler)
{
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        currentSink.store(handler);
    }
    if (handler && !callbackInstalled.exchange(true))
        qInstallMessageHandler(messageCallback);
}

ZorQtMsgHandler *ZorQtMsgHandler::sink()
{
    return currentSink.load();
}
