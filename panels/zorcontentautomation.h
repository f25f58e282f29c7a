// The panel of an automation module (type "automation"), which runs a
// Python automation script.
//
// Start (F5) and Stop (Esc) send KM_SCRIPT_CONTROL "1" and "0" to the
// module; the state line shows the module's last info text in its status
// colour, and the log keeps the info texts and the script's standard output
// ("StdOut:" lines of KM_SCRIPT_MSG), each with a time stamp. On binding the
// panel asks for the module's "LogHistory" and shows it above a blank line,
// so the output of earlier runs (and earlier sessions, when the project was
// saved) stays visible.
//
// A status from 1 to 9999 means the script runs: Start is locked and Stop
// available (so also for error statuses from 2000 on); 0, negative numbers
// and 10000 and above let the user start again.
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

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_actionPlay_triggered();
    void on_actionStop_triggered();
    void setState(int status);

private:
    void restoreLogHistory(const QString &history);

    Ui::ZorContentAutomationClass *ui;
    QToolBar *m_toolBar;
};
