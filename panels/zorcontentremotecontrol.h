// The panel of a remote-control module (type "remotecontrol").
//
// On and Off set the module's "RemoteControlMode" to 1 and 0; the state line
// shows the last status text in the colour of the mode (green while
// networking is on), an "error:" text in the error colour, and the log keeps
// every text the module reports with a time stamp, including each message
// going to ("remoteOut: ") or coming from ("remoteIn:  ") the remote side,
// which do not replace the state line. The log keeps its newest 5000 lines,
// each cut to a length the view lays out at once (ZorPanel::appendLogText).
// The connection, the message filter and the network safeguards (bind
// address, secret, idle time-out, allowing requests that run code or write
// files) are module properties edited here; they are locked while
// networking is on.
#pragma once

#include "zorpanel.h"

class QToolBar;

namespace Ui {
class ZorContentRemoteControl;
}

class ZorContentRemoteControl : public ZorPanel
{
    Q_OBJECT
public:
    static constexpr int MaxLogLines = 5000;

    explicit ZorContentRemoteControl(QWidget *parent = nullptr);
    ~ZorContentRemoteControl() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_actionOn_triggered();
    void on_actionOff_triggered();
    void setState(int value);

private:
    void showStateColour();

    Ui::ZorContentRemoteControl *ui;
    QToolBar *m_toolBar;
    int m_lastState = -1;
    bool m_showsError = false;   // the state line shows an "error:" text
};
