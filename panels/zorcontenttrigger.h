// The trigger panel (element type "trigger"): edits the trigger settings of
// the data-log module it is bound to: pre- and post-trigger time, trigger
// capture on or off, and up to two trigger conditions in a
// ZorTriggersTableWidget. It only talks to the module by messages; while
// the module loads a recording file, the controls are disabled.
#pragma once

#include "zorpanel.h"

namespace Ui {
class ZorContentTriggerClass;
}

class ZorTriggersTableWidget;

class ZorContentTrigger : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentTrigger(QWidget *parent = nullptr);
    ~ZorContentTrigger() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    void setControlsEnabled(bool enabled);
    ZorTriggersTableWidget *triggersTable() const;

public slots:
    void processIn(const ZorMessage &msg) override;
    void setState(int status);
    void triggersTableChanged(const QString &text);
    void on_pushButtonTrigger_clicked();

private:
    Ui::ZorContentTriggerClass *ui;
    int m_lastStatus = -1;
    QString m_lastConfiguration;
};
