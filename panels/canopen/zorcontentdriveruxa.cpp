#include "zorcontentdriveruxa.h"
#include "ui_zorcontentdriveruxa.h"

#include "zordrivereadout.h"

ZorContentDriveRuxa::ZorContentDriveRuxa(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentDriveRuxaClass)
{
    ui->setupUi(this);
    setState(0);
}

ZorContentDriveRuxa::~ZorContentDriveRuxa()
{
    savePanelState();
    delete ui;
}

bool ZorContentDriveRuxa::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("NodeId")));
    return bound;
}

void ZorContentDriveRuxa::setState(int status)
{
    if (status == lastStatus)
        return;
    lastStatus = status;
    ui->lineEditDriveStatus->setStyleSheet(statusStyleSheet(status));
    ui->lineEditNodeId->setStyleSheet(QStringLiteral("color:black"));
    // Actual values mean something while the drive runs or is busy; not
    // when it stands idle or failed.
    ui->groupBoxActual->setEnabled(status >= 1 && status <= 1999);
}

void ZorContentDriveRuxa::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    if (msg.msgState() == KS_INFO || msg.msgState() == KS_ANSWER) {
        ZorDriveReadout::showActualValue(msg, ui->labelActualVelocityValue, ui->horizontalSliderActualVelocity,
                                         ui->labelActualPositionValue, ui->horizontalSliderActualPosition);
        switch (type) {
        case KM_STATUS:
            setState(msg.data().toInt());
            break;
        case KM_INFOTEXT: {
            const QString text = msg.data().toString();
            if (text.isEmpty() || text.contains(QLatin1String("Emergency")))
                break;
            ui->lineEditDriveStatus->setText(text);
            appendLogText(ui->plainTextStatus, text, true);
            break;
        }
        default:
            break;
        }
    }
    if (type == KM_GETPROPERTY || type == KM_SETPROPERTY)
        takeProperty(msg.data().toString());
}

void ZorContentDriveRuxa::takeProperty(const QString &text)
{
    QString nodeId;
    if (ZorDriveReadout::takeProperty(text, ui->horizontalSliderActualVelocity, ui->horizontalSliderActualPosition,
                                      nodeId)
        && ui->lineEditNodeId->text() != nodeId)
        ui->lineEditNodeId->setText(nodeId);
}
