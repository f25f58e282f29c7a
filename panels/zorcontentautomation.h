// The panel of an automation module (type "automation"), which runs a
// Python automation script.
//
// Start (F5) and Stop (Esc) send KM_SCRIPT_CONTROL "1" and "0" to the
// module; the state line shows the module's last info text in its status
// colour, and the log keeps the info texts and the script's output (the
// "StdOut:" lines of KM_SCRIPT_MSG and the "StdErr:" traceback of a script
// that raised), each with a time stamp. On binding the panel asks for the
// module's "LogHistory" and shows it above a blank line, so the output of
// earlier runs (and earlier sessions, when the project was saved) stays
// visible. The history is the module's own: time-stamped output lines
// ("<time> <line>,StdOut:..."), which projects and tools read in that form;
// the panel only shows them as the live log showed them and never writes
// the history back.
//
// A status from 1 to 9999 means the script runs: Start is locked and Stop
// available (so also for error statuses from 2000 on); 0, negative numbers
// and 10000 and above let the user start again. A script started here stops
// on Esc wherever the focus is (ZorScriptStopKey).
#pragma once

#include "zorpanel.h"

class QToolBar;

namespace Ui {
class ZorContentAutomationClass;
}

class ZorContentAutomation : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentAutomation(QWidget *parent = nullptr);
    ~ZorContentAutomation() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

    // A history line as the log shows it: a stored output line
    // ("<time> <n>,StdOut:<text>", also StdErr) loses its "<n>,StdOut:"
    // part; other lines stay as they are.
    static QString shownHistoryLine(const QString &line);

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_actionPlay_triggered();
    void on_actionStop_triggered();
    void setState(int status);

private:
    void restoreLogHistory(const QString &history);
    // Appends a time-stamped line (nothing for an empty text).
    void appendToLog(const QString &text);

    Ui::ZorContentAutomationClass *ui;
    QToolBar *m_toolBar;
    bool m_running = false;   // the module's status says its script runs
};
