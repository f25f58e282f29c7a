#include "zoraccesskeywidget.h"

#include "ui_zoraccesskeywidget.h"
#include "zorbabelfish.h"
#include "zorpanel.h"

namespace {
const QString DefinitionsName = QStringLiteral("AccessKeyDefinitions");
const QString KeySetName = QStringLiteral("AccessKeySet");
}

ZorAccessKeyWidget::ZorAccessKeyWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZorAccessKeyWidget)
{
    ui->setupUi(this);
    connect(ui->lineEditAccessKey, &QLineEdit::editingFinished, this, &ZorAccessKeyWidget::setNewKey);
    connect(ui->toolButtonOk, &QToolButton::clicked, this, &ZorAccessKeyWidget::forceNewKey);
    connect(ui->comboBoxAccessKey, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ZorAccessKeyWidget::keyClassChanged);
}

ZorAccessKeyWidget::~ZorAccessKeyWidget()
{
    delete ui;
}

void ZorAccessKeyWidget::attachToPanel(ZorPanel *panel)
{
    if (m_panel)
        disconnect(this, &ZorAccessKeyWidget::msgOut, m_panel, nullptr);
    m_panel = panel;
    if (panel)
        connect(this, &ZorAccessKeyWidget::msgOut, panel, &ZorPanel::sendGuiMsg);
    request(KM_GETPROPERTY, DefinitionsName);
    request(KM_GETPROPERTY, KeySetName);
    m_definitions.clear();
    hide();
}

void ZorAccessKeyWidget::sendGuiMsg(ZorMessage msg)
{
    msg.setOrigin(QStringLiteral("GUI"));
    emit msgOut(msg);
}

void ZorAccessKeyWidget::request(int type, const QString &text)
{
    sendGuiMsg(ZorMessage(type, KS_REQUEST, text));
}

void ZorAccessKeyWidget::setNewKey()
{
    const QString keyClass = ui->comboBoxAccessKey->currentText();
    bool isNumber = false;
    const quint32 key = ZorBabelFish::stringToULong(ui->lineEditAccessKey->text(), &isNumber);
    if (!isNumber) {
        // Nothing is sent for a text that is no number (it would go as key 0).
        ui->lineEditAccessKey->setStyleSheet(QStringLiteral("background-color: #FF6052; color:black"));
        ui->lineEditAccessKey->setToolTip(tr("Not a number: the key is not set"));
        return;
    }
    ui->lineEditAccessKey->setToolTip(QString());
    m_keys.insert(keyClass, key);
    request(KM_SETPROPERTY, QStringLiteral("%1=%2,%3").arg(KeySetName, keyClass).arg(key));
}

void ZorAccessKeyWidget::forceNewKey()
{
    bool isNumber = false;
    ZorBabelFish::stringToULong(ui->lineEditAccessKey->text(), &isNumber);
    if (isNumber)
        request(KM_SETPROPERTY, KeySetName + QLatin1Char('='));
    setNewKey();
}

void ZorAccessKeyWidget::keyClassChanged(int)
{
    ui->lineEditAccessKey->setText(
        QString::number(m_keys.value(ui->comboBoxAccessKey->currentText())));
}

void ZorAccessKeyWidget::msgIn(ZorMessage msg)
{
    if (msg.msgType() != KM_GETPROPERTY && msg.msgType() != KM_SETPROPERTY)
        return;
    const QString text = msg.data().toString();
    const int equals = text.indexOf(QLatin1Char('='));
    if (equals < 0)
        return; // a request, not a value
    const QString name = text.left(equals);
    const QString value = text.mid(equals + 1);
    if (name == DefinitionsName)
        applyDefinitions(value);
    else if (name == KeySetName)
        applyKeySet(value);
}

void ZorAccessKeyWidget::applyDefinitions(const QString &value)
{
    if (value == m_definitions)
        return;
    m_definitions = value;
    const QSignalBlocker blocker(ui->comboBoxAccessKey);
    ui->comboBoxAccessKey->clear();
    bool any = false;
    for (const QString &line : value.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.trimmed().isEmpty())
            continue;
        any = true;
        const QStringList fields = line.split(QLatin1Char(','));
        const QString keyClass = fields.value(0).trimmed();
        if (keyClass.isEmpty())
            continue;
        ui->comboBoxAccessKey->addItem(keyClass);
        m_keys.insert(keyClass, ZorBabelFish::stringToULong(fields.value(4).trimmed()));
    }
    setVisible(any);
    keyClassChanged(ui->comboBoxAccessKey->currentIndex());
}

void ZorAccessKeyWidget::applyKeySet(const QString &value)
{
    const QStringList fields = value.split(QLatin1Char(','));
    QString keyClass = fields.value(0).trimmed();
    const QString key = fields.value(1).trimmed();
    const QString result = fields.value(2).trimmed();
    const int found = ui->comboBoxAccessKey->findText(keyClass, Qt::MatchFixedString);
    if (found >= 0)
        keyClass = ui->comboBoxAccessKey->itemText(found);
    m_keys.insert(keyClass, ZorBabelFish::stringToULong(key));
    if (found >= 0)
        ui->comboBoxAccessKey->setCurrentIndex(found);
    ui->lineEditAccessKey->setText(key);
    if (result == QLatin1String("ok"))
        ui->lineEditAccessKey->setStyleSheet(QStringLiteral("background-color: #5EBE37; color:black"));
    else if (result == QLatin1String("error"))
        ui->lineEditAccessKey->setStyleSheet(QStringLiteral("background-color: #FF6052; color:black"));
    else
        ui->lineEditAccessKey->setStyleSheet(QStringLiteral("color:black"));
}
