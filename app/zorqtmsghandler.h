// Routes Qt's own diagnostic output (qDebug, qWarning, qCritical, qFatal)
// into the debug log "main".
//
// main() creates one handler when debug mode is on and installs it as the
// process-wide sink; Qt's message callback then hands every message to it.
// Messages may come from any thread. The sink pointer is cleared, under the
// lock the callback holds while it uses the sink, before the handler and its
// log are torn down: a thread that logs during shutdown either finishes its
// line before "log stopped" or finds no sink and drops the message.
#pragma once

#include "zordebuglog.h"

#include <QObject>
#include <QString>
#include <QtGlobal>

class ZorQtMsgHandler : public QObject
{
    Q_OBJECT
public:
    // Opens the debug log "main".
    ZorQtMsgHandler();
    // Stops being the sink first, then closes the log ("log stopped").
    ~ZorQtMsgHandler() override;

    // Writes one Qt message: debug text as it is, the other kinds with
    // "Warning: ", "Critical: " or "Fatal: " in front and a line end after.
    void handle(QtMsgType type, const QString &text);
    // The line text written for a message kind; empty for unknown kinds.
    static QString lineText(QtMsgType type, const QString &text);

    const ZorDebugLog &log() const { return m_log; }

    // Makes `handler` the process-wide sink and installs Qt's message
    // callback (once); a null handler only clears the sink.
    static void install(ZorQtMsgHandler *handler);
    // The current sink, null when there is none.
    static ZorQtMsgHandler *sink();

private:
    ZorDebugLog m_log;
};
