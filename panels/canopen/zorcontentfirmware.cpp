#include "zorcontentfirmware.h"
#include "ui_zorcontentfirmware.h"

#include "zorapplfiles.h"
#include "zorquestionbox.h"

#include <QFileDialog>

ZorContentFirmware::ZorContentFirmware(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentFirmwareClass)
{
    ui->setupUi(this);
    ui->pushButtonCancel->setEnabled(false);
    connect(ui->pushButtonDownload, &QPushButton::toggled, ui->pushButtonCancel, &QPushButton::setEnabled);
    // Usable once the module has named its type (KM_WHOAMI).
    ui->pushButtonDownload->setEnabled(false);
    lastStatus = 0;
    startPending = false;
}

ZorContentFirmware::~ZorContentFirmware()
{
    savePanelState();
    delete ui;
}

bool ZorContentFirmware::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    registerComboBox(QStringLiteral("NodeId"), ui->comboBoxId, true);
    registerLineEdit(QStringLiteral("FirmwareFilePath"), ui->lineEditFirmwareFile, 0, true);
    sendGuiMsg(ZorMessage(KM_WHOAMI, KS_REQUEST));
    return bound;
}

void ZorContentFirmware::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    if (type == KM_WHOAMI && !msg.isRequest()) {
        moduleType = msg.data().toString().section(QLatin1Char('\n'), 0, 0);
        ui->pushButtonDownload->setEnabled(!moduleType.isEmpty());
    }
    if (msg.msgState() == KS_INFO || msg.msgState() == KS_ANSWER) {
        if (type == KM_STATUS)
            setState(msg.data().toInt());
        else if (type == KM_INFOTEXT)
            appendLogText(ui->plainTextEditDownload, msg.data().toString(), true);
    }
    if (type == KM_GETPROPERTY) {
        const QString text = msg.data().toString();
        const int eq = text.indexOf(QLatin1Char('='));
        if (eq > 0 && text.left(eq) == QLatin1String("FirmwareFilePath")) {
            QString path = text.mid(eq + 1);
            ZorApplServices::makeRelativeToWorkingDir(path);
            if (path != ui->lineEditFirmwareFile->text())
                ui->lineEditFirmwareFile->setText(path);
        }
    }
}

void ZorContentFirmware::setState(int status)
{
    if (status == lastStatus)
        return;
    ui->pushButtonDownload->setChecked(status == 1101);
    if (status == 0 && startPending) {
        startPending = false;
        startDownload();
    }
    lastStatus = status;
}

void ZorContentFirmware::giveUp()
{
    startPending = false;
    ui->pushButtonDownload->setChecked(false);
}

void ZorContentFirmware::on_pushButtonDownload_clicked(bool checked)
{
    if (!checked) {
        giveUp();
        sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST));
        return;
    }
    if (!selectFirmwareFile()) {
        giveUp();
        return;
    }
    if (!ZorQuestionBox::confirm(this, tr("Drive Firmware Update"),
                                 tr("WARNING: The existing firmware will be erased. The drive may become unusable if "
                                    "a wrong firmware .bin file is used.\nAre you sure you want to perform the "
                                    "update?"))) {
        giveUp();
        return;
    }
    if (lastStatus == 0) {
        startPending = false;
        startDownload();
    } else {
        // The drive is stopped first; the download follows its status 0.
        sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST));
        startPending = true;
    }
}

void ZorContentFirmware::on_pushButtonCancel_clicked()
{
    on_pushButtonDownload_clicked(false);
}

QString ZorContentFirmware::askFirmwareFile(const QString &start)
{
    return QFileDialog::getOpenFileName(this, tr("Select Drive Firmware"), start,
                                        tr("Firmware Binary File (*.bin)"));
}

bool ZorContentFirmware::selectFirmwareFile()
{
    QString path = askFirmwareFile(ui->lineEditFirmwareFile->text());
    if (path.isEmpty())
        return false;
    ZorApplServices::makeRelativeToWorkingDir(path);
    ui->lineEditFirmwareFile->setText(path);
    propertyEdited(QStringLiteral("FirmwareFilePath"));
    return true;
}

void ZorContentFirmware::startDownload()
{
    QString path = ui->lineEditFirmwareFile->text();
    ZorApplServices::makeAbsoluteToWorkingDir(path);
    QString data;
    if (moduleType == QLatin1String("drive_tamrix")) {
        ui->plainTextEditDownload->setPlainText(tr("Starting KELVATRO firmware update using file\n%1").arg(path));
        data = QStringLiteral("c,%1").arg(path);
    } else {
        ui->plainTextEditDownload->setPlainText(tr("Starting CANopen firmware update using file\n%1").arg(path));
        data = QStringLiteral("b,%1").arg(path);
    }
    sendGuiMsg(ZorMessage(KM_DRIVE_DOWNLOAD_START, KS_REQUEST, data));
}
