// The panel of a test-cycle module (type "testcycle").
//
// It edits the two positions with their cycle times and optional profile
// parameters, starts a test cycle or homing, asks for the stop at Position 2,
// and shows the module's statistics report (columns lined up). The module's
// status text is a report when it holds "Test Cycle Count"; any other text
// shows in the status line below the buttons and, while the module works,
// on the start button as well. The start button's colour and the stop
// button's text follow the module's status. A start the module refuses
// (answered KS_FAIL with the reason) puts the panel back to its idle look
// with the reason in the status line; so do the module's reasons for failed
// moves (KM_LOGTEXT).
#pragma once

#include "zorpanel.h"

namespace Ui {
class ZorContentTestCycleClass;
}

class QLineEdit;

class ZorContentTestCycle : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentTestCycle(QWidget *parent = nullptr);
    ~ZorContentTestCycle() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_pushButtonStart_clicked(bool checked);
    void on_pushButtonHoming_clicked();
    void on_pushButtonStop_clicked();

    // The status line below the buttons.
    QString statusLine() const;

private:
    // With `force`, also when the status is the one shown last.
    void showStatus(int status, bool force = false);
    void showReport(const QString &report);
    void showProperty(const QString &name, const QString &value);
    // The line edit of a numbered setting ("Position1" .. "CycleTime2").
    QLineEdit *editFor(const QString &name) const;
    void send(int type, const QVariant &data = QVariant());

    Ui::ZorContentTestCycleClass *ui;
    int m_lastStatus = -1;
    bool m_statusShown = false;
};
