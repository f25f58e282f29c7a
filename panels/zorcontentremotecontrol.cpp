#include "zorcontentremotecontrol.h"
#include "ui_zorcontentremotecontrol.h"

#include <QToolBar>

static void initRemoteControlResources()
{
    Q_INIT_RESOURCE(zorremotecontrolicons);
}

namespace {

const QString ModeProperty = QStringLiteral("RemoteControlMode");

} // namespace

ZorContentRemoteControl::ZorContentRemoteControl(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentRemoteControl)
    , m_toolBar(new QToolBar(this))
{
    initRemoteControlResources();
    ui->setupUi(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->addAction(ui->actionOn);
    m_toolBar->addAction(ui->actionOff);
    ui->gridLayout->addWidget(m_toolBar, 0, 0);

    // While networking is on, On is locked, Off is free and the settings
    // cannot change under the running connection.
    QAction *on = ui->actionOn;
    connect(on, &QAction::toggled, on, &QAction::setDisabled);
    connect(on, &QAction::toggled, ui->actionOff, &QAction::setEnabled);
    for (QWidget *editor : {static_cast<QWidget *>(ui->lineEditConnection),
                            static_cast<QWidget *>(ui->lineEditMsgFilter),
                            static_cast<QWidget *>(ui->lineEditBindAddress),
                            static_cast<QWidget *>(ui->lineEditSecret),
                            static_cast<QWidget *>(ui->lineEditIdleTimeout),
                            static_cast<QWidget *>(ui->checkBoxAllowControl)})
        connect(on, &QAction::toggled, editor, &QWidget::setDisabled);

    on->setChecked(true);
    on->setChecked(false);
    ui->actionOff->setChecked(true);
}

ZorContentRemoteControl::~ZorContentRemoteControl()
{
    savePanelState();
    delete ui;
}

bool ZorContentRemoteControl::setupZorPanel(const QPersistentModelIndex &index,
                                            ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    registerLineEdit(QStringLiteral("RemoteControlConnection"), ui->lineEditConnection);
    registerLineEdit(QStringLiteral("RemoteControlMsgFilter"), ui->lineEditMsgFilter);
    registerLineEdit(QStringLiteral("RemoteControlBindAddress"), ui->lineEditBindAddress);
    registerLineEdit(QStringLiteral("RemoteControlSecret"), ui->lineEditSecret);
    registerCheckBox(QStringLiteral("RemoteControlAllowControl"), ui->checkBoxAllowControl);
    registerLineEdit(QStringLiteral("RemoteControlIdleTimeout"), ui->lineEditIdleTimeout);
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, ModeProperty));
    return bound;
}

void ZorContentRemoteControl::on_actionOn_triggered()
{
    sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, ModeProperty + QStringLiteral("=1")));
}

void ZorContentRemoteControl::on_actionOff_triggered()
{
    sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, ModeProperty + QStringLiteral("=0")));
}

void ZorContentRemoteControl::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    if (type == KM_GETPROPERTY || type == KM_SETPROPERTY) {
        const QString data = msg.data().toString();
        const int eq = data.indexOf(QLatin1Char('='));
        if (eq >= 0 && data.left(eq) == ModeProperty)
            setState(data.mid(eq + 1).trimmed().toInt());
        return;
    }
    if (type != KM_INFOTEXT)
        return;
    const QString text = msg.data().toString();
    appendLogText(ui->plainTextEditStatus, text, true);
    if (text.startsWith(QLatin1String("remoteIn:  ")) || text.startsWith(QLatin1String("remoteOut: ")))
        return;
    ui->lineEditState->setText(cutLogLines(text).section(QLatin1Char('\n'), 0, 0));
    // An error shows on the error colour until a text of the new attempt
    // replaces it, whatever the mode says.
    m_showsError = text.startsWith(QLatin1String("error:"), Qt::CaseInsensitive);
    showStateColour();
}

void ZorContentRemoteControl::setState(int value)
{
    if (value == m_lastState)
        return;
    m_lastState = value;
    showStateColour();
    ui->actionOn->setChecked(value > 0);
    ui->actionOff->setChecked(value <= 0);
}

void ZorContentRemoteControl::showStateColour()
{
    if (m_showsError)
        ui->lineEditState->setStyleSheet(statusStyleSheet(2000));
    else if (m_lastState >= 0)
        ui->lineEditState->setStyleSheet(statusStyleSheet(m_lastState));
}
