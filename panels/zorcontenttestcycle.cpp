#include "zorcontenttestcycle.h"
#include "ui_zorcontenttestcycle.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPalette>
#include <QScrollBar>

namespace {

const char *const SettingStems[] = {"Position", "Velocity", "Acceleration", "Deceleration", "CycleTime"};
const QString ReportMark = QStringLiteral("Test Cycle Count");
const QString UseProfileParameters = QStringLiteral("UseProfileParameters");
const QString CheckTargetReached = QStringLiteral("CheckTargetReached");

QColor testCycleStatusColour(int status)
{
    if (status == 0)
        return QColor(Qt::lightGray);
    if (status < 1000)
        return QColor(QStringLiteral("#5EBE37"));
    if (status < 2000)
        return QColor(QStringLiteral("#FEE600"));
    return QColor(QStringLiteral("#FF6052"));
}

} // namespace

ZorContentTestCycle::ZorContentTestCycle(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentTestCycleClass)
{
    ui->setupUi(this);
    ui->pushButtonStop->setEnabled(false);
    connect(ui->pushButtonStart, &QPushButton::toggled, ui->pushButtonStop, &QWidget::setEnabled);
    connect(ui->pushButtonStart, &QPushButton::toggled, ui->pushButtonHoming, &QWidget::setDisabled);
    connect(ui->pushButtonStart, &QPushButton::toggled, ui->groupBoxCycleParameters, &QWidget::setDisabled);
    for (QWidget *w : {static_cast<QWidget *>(ui->lineEditVelocity1), static_cast<QWidget *>(ui->lineEditVelocity2),
                       static_cast<QWidget *>(ui->lineEditAcceleration1),
                       static_cast<QWidget *>(ui->lineEditAcceleration2),
                       static_cast<QWidget *>(ui->lineEditDeceleration1),
                       static_cast<QWidget *>(ui->lineEditDeceleration2),
                       static_cast<QWidget *>(ui->labelVelocity1), static_cast<QWidget *>(ui->labelVelocity2),
                       static_cast<QWidget *>(ui->labelAcceleration1), static_cast<QWidget *>(ui->labelAcceleration2),
                       static_cast<QWidget *>(ui->labelDeceleration1),
                       static_cast<QWidget *>(ui->labelDeceleration2)})
        connect(ui->checkBoxSetOptionalParameters, &QCheckBox::toggled, w, &QWidget::setEnabled);
    ui->checkBoxSetOptionalParameters->setChecked(true);
    ui->checkBoxSetOptionalParameters->setChecked(false);
    // The platform's fixed-width font; where it names none that is (as on
    // a bare X server), the generic one.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(fixed).fixedPitch()) {
        fixed.setFamily(QStringLiteral("monospace"));
        fixed.setStyleHint(QFont::TypeWriter);
    }
    ui->plainTextEditStatistics->setFont(fixed);
}

ZorContentTestCycle::~ZorContentTestCycle()
{
    savePanelState();
    delete ui;
}

bool ZorContentTestCycle::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    for (int n = 1; n <= 2; ++n) {
        for (const char *stem : SettingStems)
            send(KM_GETPROPERTY, QString::fromLatin1(stem) + QString::number(n));
    }
    send(KM_GETPROPERTY, UseProfileParameters);
    send(KM_GETPROPERTY, CheckTargetReached);
    return bound;
}

QString ZorContentTestCycle::commitPanelSettings()
{
    for (int n = 1; n <= 2; ++n) {
        for (const char *stem : SettingStems) {
            const QString name = QString::fromLatin1(stem) + QString::number(n);
            send(KM_SETPROPERTY, name + QLatin1Char('=') + editFor(name)->text());
        }
    }
    send(KM_SETPROPERTY, UseProfileParameters + QLatin1String(ui->checkBoxSetOptionalParameters->isChecked() ? "=1" : "=0"));
    send(KM_SETPROPERTY, CheckTargetReached + QLatin1String(ui->checkBoxTargetReached->isChecked() ? "=1" : "=0"));
    return QString();
}

void ZorContentTestCycle::on_pushButtonStart_clicked(bool checked)
{
    if (checked) {
        ui->labelStatus->clear();
        commitPanelSettings();
        send(KM_DRIVE_START);
    } else {
        send(KM_DRIVE_STOP);
    }
}

void ZorContentTestCycle::on_pushButtonHoming_clicked()
{
    ui->labelStatus->clear();
    send(KM_DRIVE_START_HOMING);
}

void ZorContentTestCycle::on_pushButtonStop_clicked()
{
    send(KM_DRIVE_STOP);
    // The module is idle: nothing will report back, so the panel leaves
    // its busy look by itself.
    if (m_statusShown && m_lastStatus == 0)
        showStatus(0, true);
}

QString ZorContentTestCycle::statusLine() const
{
    return ui->labelStatus->text();
}

void ZorContentTestCycle::processIn(const ZorMessage &msg)
{
    const int state = msg.msgState();
    const int type = msg.msgType();
    if (state == KS_FAIL && (type == KM_DRIVE_START || type == KM_DRIVE_START_HOMING)) {
        ui->labelStatus->setText(msg.data().toString());
        showStatus(0, true);
        return;
    }
    if (state != KS_INFO && state != KS_ANSWER)
        return;
    switch (type) {
    case KM_STATUS:
        showStatus(msg.data().toInt());
        break;
    case KM_INFOTEXT: {
        const QString text = msg.data().toString();
        if (text.contains(ReportMark)) {
            showReport(text);
        } else if (!text.isEmpty()) {
            ui->labelStatus->setText(text);
            if (m_statusShown && m_lastStatus != 0)
                ui->pushButtonStart->setText(text);
        }
        break;
    }
    case KM_LOGTEXT:
        if (!msg.data().toString().isEmpty())
            ui->labelStatus->setText(msg.data().toString());
        break;
    case KM_GETPROPERTY:
        if (state == KS_ANSWER) {
            const QString data = msg.data().toString();
            const int eq = data.indexOf(QLatin1Char('='));
            if (eq > 0)
                showProperty(data.left(eq), data.mid(eq + 1));
        }
        break;
    default:
        break;
    }
}

void ZorContentTestCycle::showStatus(int status, bool force)
{
    if (!force && m_statusShown && status == m_lastStatus)
        return;
    m_statusShown = true;
    m_lastStatus = status;
    QPalette palette = ui->pushButtonStart->palette();
    palette.setBrush(QPalette::All, QPalette::Button, QBrush(testCycleStatusColour(status), Qt::SolidPattern));
    ui->pushButtonStart->setPalette(palette);
    if (status == 0) {
        ui->pushButtonStop->setText(tr("Stop"));
        ui->pushButtonStart->setText(tr("Start Test Cycle"));
    } else if (status == 1) {
        ui->pushButtonStop->setText(tr("Stop at Position 2"));
    } else if (status == 2) {
        ui->pushButtonStop->setText(tr("Stop Homing"));
    } else if (status == 1000) {
        ui->pushButtonStop->setText(tr("Cancel Test Cycle"));
    } else if (status == 1001) {
        ui->pushButtonStop->setText(tr("Cancel Homing"));
    } else if (status < 2000) {
        ui->pushButtonStop->setText(tr("Stop"));
    }
    // Checking from here only runs the toggled wiring: nothing is sent.
    ui->pushButtonStart->setChecked(status != 0);
}

// The report's fields are separated by tabs: in a fixed-width font, with tab
// stops wider than any field, the columns line up.
void ZorContentTestCycle::showReport(const QString &report)
{
    QPlainTextEdit *box = ui->plainTextEditStatistics;
    const int position = box->textCursor().position();
    const int scroll = box->verticalScrollBar()->value();
    const QFontMetricsF metrics(box->font());
    qreal widest = 0;
    for (const QString &line : report.split(QLatin1Char('\n'))) {
        // The table's lines: the column heads and one line per drive (the
        // date and the count are only two fields).
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() < 3)
            continue;
        for (int i = 0; i + 1 < fields.size(); ++i)
            widest = qMax(widest, metrics.horizontalAdvance(fields.at(i)));
    }
    box->setTabStopDistance(widest + 2 * metrics.horizontalAdvance(QLatin1Char(' ')));
    box->setPlainText(report);
    QTextCursor cursor = box->textCursor();
    cursor.setPosition(qMin(position, report.size()));
    box->setTextCursor(cursor);
    box->verticalScrollBar()->setValue(scroll);
}

QLineEdit *ZorContentTestCycle::editFor(const QString &name) const
{
    static const QMap<QString, QString> stemToWidget = {
        {QStringLiteral("Position"), QStringLiteral("lineEditPos")},
        {QStringLiteral("Velocity"), QStringLiteral("lineEditVelocity")},
        {QStringLiteral("Acceleration"), QStringLiteral("lineEditAcceleration")},
        {QStringLiteral("Deceleration"), QStringLiteral("lineEditDeceleration")},
        {QStringLiteral("CycleTime"), QStringLiteral("lineEditCycle")}};
    const QString stem = name.left(name.size() - 1);
    const bool numbered = name.endsWith(QLatin1Char('1')) || name.endsWith(QLatin1Char('2'));
    if (!numbered || !stemToWidget.contains(stem))
        return nullptr;
    return findChild<QLineEdit *>(stemToWidget.value(stem) + name.right(1));
}

void ZorContentTestCycle::showProperty(const QString &name, const QString &value)
{
    if (name == UseProfileParameters)
        ui->checkBoxSetOptionalParameters->setChecked(value.trimmed().toInt() > 0);
    else if (name == CheckTargetReached)
        ui->checkBoxTargetReached->setChecked(value.trimmed().toInt() > 0);
    else if (QLineEdit *edit = editFor(name))
        edit->setText(value);
}

void ZorContentTestCycle::send(int type, const QVariant &data)
{
    sendGuiMsg(ZorMessage(type, KS_REQUEST, data));
}
