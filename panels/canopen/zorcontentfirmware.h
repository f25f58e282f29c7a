// The firmware panel of a positioning drive (panel key
// "drive_canopen_firmware"): the user picks a firmware file, confirms that
// the drive's firmware is to be erased, and the panel makes sure the drive
// is stopped before it asks the module for the download ("b,<path>", a
// block transfer over the program-download objects, or "c,<path>" through
// the SD card of the adapter for a "drive_tamrix"). The module's texts
// appear time-stamped below; "Cancel" stops the download.
//
// "Firmware Update..." stays disabled until the module has said what it
// is: a download started before that could pick the wrong route.
#pragma once

#include "zorpanel.h"

namespace Ui {
class ZorContentFirmwareClass;
}

class ZorContentFirmware : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentFirmware(QWidget *parent = nullptr);
    ~ZorContentFirmware() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

public slots:
    void processIn(const ZorMessage &msg) override;

private slots:
    void on_pushButtonDownload_clicked(bool checked);
    void on_pushButtonCancel_clicked();

protected:
    // The file dialog; tests answer it without a window.
    virtual QString askFirmwareFile(const QString &start);

private:
    void setState(int status);
    bool selectFirmwareFile();
    void startDownload();
    void giveUp();

    Ui::ZorContentFirmwareClass *ui;
    QString moduleType;
    int lastStatus = 0;
    bool startPending = false;
};
