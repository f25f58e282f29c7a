// The setup and test panel of a positioning drive (panel key
// "drive_canopen_setup"): re-addresses the drive (node id and CAN bit rate,
// globally or through LSS by serial number), restores its factory settings,
// and runs it in profile velocity mode (with a sine "swing" demo), profile
// position mode (a slider that moves the drive 500 ms after it was let go)
// and homing.
//
// Drive parameters are module properties bound to the fields; each motion
// request commits the properties it uses first. The four mode buttons
// mirror the module status (0 off, 2/3/4 velocity, position, homing mode,
// raised by 1000 while busy or warning, 2000 error) in its colours. A
// "drive_tamrix" module has no homing and no initial setup: those tabs go.
// The module's texts show in full in a status line under the buttons; the
// "New Baud Rt." proposed is the CAN interface's current bit rate. Esc
// stops the drive whatever other Esc shortcuts the window holds.
// The panel never touches the bus; failures reach the user through the
// module's status and texts.
#pragma once

#include "zorpanel.h"

class QTimer;

namespace Ui {
class ZorContentDriveRuxaSetupClass;
}

class ZorContentDriveRuxaSetup : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentDriveRuxaSetup(QWidget *parent = nullptr);
    ~ZorContentDriveRuxaSetup() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

    // The bit rate of a "125K" or "1M" text, in bit/s.
    static quint32 bitRateOf(const QString &text);

public slots:
    void processIn(const ZorMessage &msg) override;

protected:
    // Esc stops the drive: while the focus is in the panel, and when its
    // Stop button's shortcut is shared with other Esc buttons of the window
    // (a shared shortcut would only move the focus).
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_pushButtonStart_clicked(bool checked);
    void on_pushButtonStop_clicked();
    void on_pushButtonVelocityModeStart_clicked(bool checked);
    void on_pushButtonVelocityModeStop_clicked();
    void on_pushButtonSwing_clicked(bool checked);
    void on_pushButtonAssignNodeId_clicked();
    void on_pushButtonChangeNodeId_clicked();
    void on_pushButtonBaud_clicked();
    void on_pushButtonReset_clicked();
    void on_horizontalSliderTargetPosition_rangeChanged(int min, int max);
    void on_horizontalSliderTargetPosition_sliderMoved(int value);
    void on_horizontalSliderTargetVelocity_rangeChanged(int min, int max);
    void on_pushButtonTargetVelSet_clicked();
    void on_pushButtonPositionModeStart_clicked(bool checked);
    void on_pushButtonPositionModeStop_clicked();
    void on_pushButtonSetPos_clicked();
    void on_pushButtonHalt_clicked(bool checked);
    void on_pushButtonHomingModeStart_clicked(bool checked);
    void on_pushButtonHomingModeStop_clicked();
    void on_pushButtonHoming35_clicked();
    void on_pushButtonHomingRun_clicked();
    void updateSwing();

private:
    void setState(int status);
    // The caption of "Start Drive": elided to the button's width, so that a
    // long text never widens the panel; the whole text is in the status
    // line below and in the button's tool tip.
    void setStartCaption(const QString &text);
    void startHoming(int method);
    // Bounds the new node id to 1..127 without wrapping: 0, negative numbers,
    // an empty field and a text that is no number give 1, anything above 127
    // gives 127.
    void clampNewNodeId();
    void send(int type, const QVariant &data = QVariant());
    void commit(std::initializer_list<const char *> names);
    void takeProperty(const QString &text);
    bool confirm(const QString &title, const QString &text);
    void refuse(const QString &title, const QString &text);

    Ui::ZorContentDriveRuxaSetupClass *ui;
    QString moduleType;
    int lastStatus = -1;
    int swingStep = 0;
    QTimer *swingTimer = nullptr;
    QTimer *setPosTimer = nullptr;
};
