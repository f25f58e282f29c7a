#include "zorcontenttrigger.h"

#include "ui_zorcontenttrigger.h"
#include "zorintoremptyvalidator.h"
#include "zormessage.h"
#include "zormoddatalog.h"

namespace {

constexpr int TriggerTimeLimitMs = 100000;

} // namespace

ZorContentTrigger::ZorContentTrigger(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentTriggerClass)
{
    ui->setupUi(this);
    ui->tableWidgetTriggers->initRows();
    ui->tableWidgetTriggers->fitHeightToRows();
    connect(ui->tableWidgetTriggers, &ZorTriggersTableWidget::triggersConfigurationChanged, this,
            &ZorContentTrigger::triggersTableChanged);
    auto *validator = new ZorIntOrEmptyValidator(0, TriggerTimeLimitMs, this);
    ui->lineEditPreTrigger->setValidator(validator);
    ui->lineEditPostTrigger->setValidator(validator);
}

ZorContentTrigger::~ZorContentTrigger()
{
    savePanelState();
    delete ui;
}

bool ZorContentTrigger::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("TriggerState")));
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("TriggerConfig")));
    registerLineEdit(QStringLiteral("PreTriggerTimeMsec"), ui->lineEditPreTrigger);
    registerLineEdit(QStringLiteral("PostTriggerTimeMsec"), ui->lineEditPostTrigger);
    return bound;
}

ZorTriggersTableWidget *ZorContentTrigger::triggersTable() const
{
    return ui->tableWidgetTriggers;
}

void ZorContentTrigger::setControlsEnabled(bool enabled)
{
    ui->lineEditPreTrigger->setEnabled(enabled);
    ui->lineEditPostTrigger->setEnabled(enabled);
    ui->pushButtonTrigger->setEnabled(enabled);
    ui->tableWidgetTriggers->setEnabled(enabled);
}

void ZorContentTrigger::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    const int state = msg.msgState();
    if (ZorModDataLog::daqControlCode(msg) == ZorModDataLog::LoadFile) {
        // Progress of a recording being loaded; any end of it (a failure
        // too) gives the controls back.
        if (state == KS_INFO)
            setControlsEnabled(false);
        else if (state == KS_ANSWER || state == KS_CANCEL || state == KS_FAIL)
            setControlsEnabled(true);
    }
    if (state == KS_INFO || state == KS_ANSWER) {
        if (type == KM_STATUS)
            setState(msg.data().toInt());
        else if (type == KM_INFOTEXT)
            ui->lineEditState->setText(msg.data().toString());
    }
    if (type == KM_GETPROPERTY) {
        const QString text = msg.data().toString();
        const int equals = text.indexOf(QLatin1Char('='));
        if (equals < 0)
            return;
        const QString name = text.left(equals).trimmed();
        const QString value = text.mid(equals + 1);
        if (name == QLatin1String("TriggerConfig")) {
            ui->tableWidgetTriggers->setConfiguration(value);
            m_lastConfiguration = value;
        } else if (name == QLatin1String("TriggerState")) {
            ui->pushButtonTrigger->setChecked(value.trimmed().toInt() > 0);
        }
    }
}

void ZorContentTrigger::setState(int status)
{
    if (status == m_lastStatus)
        return;
    m_lastStatus = status;
    ui->lineEditState->setStyleSheet(statusStyleSheet(status));
}

void ZorContentTrigger::triggersTableChanged(const QString &text)
{
    if (text == m_lastConfiguration)
        return;
    sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("TriggerConfig=") + text));
    m_lastConfiguration = text;
}

void ZorContentTrigger::on_pushButtonTrigger_clicked()
{
    sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST,
                          QStringLiteral("TriggerState=") + (ui->pushButtonTrigger->isChecked() ? "1" : "0")));
}
