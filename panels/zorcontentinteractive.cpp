#include "zorcontentinteractive.h"
#include "ui_zorcontentinteractive.h"

#include "flickcharm.h"

ZorContentInteractive::ZorContentInteractive(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentInteractiveClass)
{
    ui->setupUi(this);
}

ZorContentInteractive::~ZorContentInteractive()
{
    savePanelState();
    delete ui;
}

bool ZorContentInteractive::setupZorPanel(const QPersistentModelIndex &index,
                                          ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    loadDocToTextEdit(ui->textBrowser, QStringLiteral("default"));
    (new FlickCharm(this))->attachTo(ui->textBrowser);
    // Queued: the command runs after the browser has finished with the click.
    connect(ui->textBrowser, &QTextBrowser::anchorClicked, this, &ZorPanel::processAnchorClicked,
            Qt::QueuedConnection);
    return bound;
}

void ZorContentInteractive::processIn(const ZorMessage &msg)
{
    if (msg.msgState() != KS_INFO && msg.msgState() != KS_ANSWER)
        return;
    if (msg.msgType() == KM_STATUS)
        setState(msg.data().toInt());
    else if (msg.msgType() == KM_INFOTEXT)
        ui->lineEditState->setText(msg.data().toString());
}

void ZorContentInteractive::setState(int status)
{
    if (!noteStatus(status))
        return;
    ui->lineEditState->setStyleSheet(statusStyleSheet(status));
}
