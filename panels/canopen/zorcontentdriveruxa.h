// The status panel of a positioning drive module (types "drive_canopen",
// "drive_ruxa", "drive_tamrix").
//
// A display only: the drive's node id, its status line in the colour of the
// module status (idle, running green, busy yellow, error red), a
// time-stamped history of its info texts (the last 1000) and the actual
// position and velocity that the module reports with its status polls. The
// two sliders' ranges follow the drive's limit properties
// ("TargetPositionMin/Max", "TargetVelocityMin/Max") whenever their values
// reach the panel, also as answers to another panel's request. Emergency
// texts belong to other panels and are left out.
#pragma once

#include "zorpanel.h"

namespace Ui {
class ZorContentDriveRuxaClass;
}

class ZorContentDriveRuxa : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentDriveRuxa(QWidget *parent = nullptr);
    ~ZorContentDriveRuxa() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

public slots:
    void processIn(const ZorMessage &msg) override;

private:
    void setState(int status);
    void takeProperty(const QString &text);

    Ui::ZorContentDriveRuxaClass *ui;
    int lastStatus = -1;
};
