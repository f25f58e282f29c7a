#include "zorcontentdriveruxasetup.h"
#include "ui_zorcontentdriveruxasetup.h"

#include "zorbabelfish.h"
#include "zordrivereadout.h"
#include "zorquestionbox.h"

#include <QApplication>
#include <QDoubleValidator>
#include <QFontMetrics>
#include <QIntValidator>
#include <QKeyEvent>
#include <QShortcutEvent>
#include <QTimer>
#include <cmath>

namespace {

const char *const BitRateItems[] = {"20K", "50K", "100K", "125K", "250K", "500K", "800K", "1M"};

const char *const HomingProperties[] = {"HomingOffset",     "HomingVelocitySeekSwitch", "HomingVelocitySeekZero",
                                        "HomingAcceleration", "HomingHomeSwitch",       "HomingLeftSwitch",
                                        "HomingRightSwitch"};

const QColor Running(QStringLiteral("#5EBE37"));
const QColor Busy(QStringLiteral("#FEE600"));
const QColor Failed(QStringLiteral("#FF6052"));

QColor bandColour(int status)
{
    if (status < 1000)
        return Running;
    return status < 2000 ? Busy : Failed;
}

void paintButton(QPushButton *button, const QPalette &base, const QColor &colour)
{
    QPalette palette = base;
    palette.setBrush(QPalette::All, QPalette::Button, colour);
    button->setPalette(palette);
}

// The real-number validator of a target field over a slider's range.
QDoubleValidator *rangeValidator(double min, double max, QObject *parent)
{
    auto *validator = new QDoubleValidator(min, max, 3, parent);
    validator->setNotation(QDoubleValidator::StandardNotation);
    return validator;
}

} // namespace

ZorContentDriveRuxaSetup::ZorContentDriveRuxaSetup(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentDriveRuxaSetupClass)
{
    ui->setupUi(this);

    setPosTimer = new QTimer(this);
    setPosTimer->setSingleShot(true);
    setPosTimer->setInterval(500);
    connect(setPosTimer, &QTimer::timeout, ui->pushButtonSetPos, [this] { ui->pushButtonSetPos->animateClick(); });

    // Enable chains: what a checked mode button makes usable.
    auto chain = [](QPushButton *button, const QList<QWidget *> &enabled, const QList<QWidget *> &disabled) {
        auto apply = [enabled, disabled](bool checked) {
            for (QWidget *w : enabled)
                w->setEnabled(checked);
            for (QWidget *w : disabled)
                w->setEnabled(!checked);
        };
        QObject::connect(button, &QPushButton::toggled, button, apply);
        apply(button->isChecked());
    };
    chain(ui->pushButtonStart,
          {ui->pushButtonStop, ui->pushButtonVelocityModeStart, ui->pushButtonPositionModeStart,
           ui->pushButtonHomingModeStart},
          {ui->comboBoxId, ui->groupBoxNodeId, ui->groupBoxReset});
    chain(ui->pushButtonVelocityModeStart,
          {ui->pushButtonVelocityModeStop, ui->pushButtonSwing, ui->pushButtonTargetVelSet}, {});
    // While the demo swings, the slider is its own; "Set New Velocity
    // Values" comes back only as long as velocity mode is on.
    connect(ui->pushButtonSwing, &QPushButton::toggled, this, [this](bool checked) {
        ui->horizontalSliderTargetVelocity->setEnabled(!checked);
        ui->pushButtonTargetVelSet->setEnabled(!checked && ui->pushButtonVelocityModeStart->isChecked());
    });
    chain(ui->pushButtonPositionModeStart, {ui->pushButtonPositionModeStop, ui->pushButtonHalt, ui->pushButtonSetPos},
          {});
    chain(ui->pushButtonHomingModeStart, {ui->pushButtonHomingModeStop, ui->pushButtonHomingRun, ui->pushButtonHoming35},
          {});

    ui->tabWidget->setCurrentIndex(0);
    for (const char *item : BitRateItems)
        ui->comboBoxBaud->addItem(QLatin1String(item));
    ui->comboBoxBaud->setCurrentIndex(3);
    ui->lineEditNewId->setValidator(new QIntValidator(1, 127, ui->lineEditNewId));
    for (int method = 1; method <= 30; ++method)
        ui->comboBoxHoming->addItem(QString::number(method));
    ui->comboBoxHoming->setCurrentIndex(16);
    // Wide enough for the mode and warning texts; longer ones are elided.
    const QFontMetrics metrics = ui->pushButtonStart->fontMetrics();
    ui->pushButtonStart->setFixedWidth(metrics.horizontalAdvance(QStringLiteral("Warning: Command Rejected")) + 24);
    lastStatus = -1;
    setState(0);
    swingStep = 0;
    swingTimer = new QTimer(this);
    connect(swingTimer, &QTimer::timeout, this, &ZorContentDriveRuxaSetup::updateSwing);

    auto intRange = [](QLineEdit *edit, int min, int max) { edit->setValidator(new QIntValidator(min, max, edit)); };
    for (QLineEdit *e : {ui->lineEditTargetPosMin, ui->lineEditTargetPosMax, ui->lineEditTargetVelMin,
                         ui->lineEditTargetVelMax})
        intRange(e, -10000, 10000);
    for (QLineEdit *e : {ui->lineEditPosVel, ui->lineEditHomVelSwitch, ui->lineEditHomVelZero})
        intRange(e, 1, 10000);
    for (QLineEdit *e : {ui->lineEditVelAcc, ui->lineEditVelDec, ui->lineEditPosAcc, ui->lineEditPosDec,
                         ui->lineEditHomAcc})
        intRange(e, 1, 20000);
    for (QLineEdit *e : {ui->lineEditHomeSwitchInput, ui->lineEditLeftSwitchInput, ui->lineEditRightSwitchInput})
        intRange(e, 1, 9);
    ui->lineEditTargetPos->setValidator(rangeValidator(-2048, 2048, ui->lineEditTargetPos));
    ui->lineEditHomingOffset->setValidator(rangeValidator(-2048, 2048, ui->lineEditHomingOffset));

    ui->pushButtonStop->installEventFilter(this);
    qApp->installEventFilter(this);
}

bool ZorContentDriveRuxaSetup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Shortcut && watched == ui->pushButtonStop
        && static_cast<QShortcutEvent *>(event)->isAmbiguous() && ui->pushButtonStop->isEnabled()) {
        on_pushButtonStop_clicked();
        return true;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        QWidget *focus = QApplication::focusWidget();
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && focus && isAncestorOf(focus)
            && ui->pushButtonStop->isEnabled()) {
            // Taken here: the Esc shortcuts of other panels do not compete.
            // The event still goes on to the other filters, so that Esc
            // also stops a script the user started elsewhere.
            on_pushButtonStop_clicked();
            event->accept();
            return false;
        }
    }
    return ZorPanel::eventFilter(watched, event);
}

ZorContentDriveRuxaSetup::~ZorContentDriveRuxaSetup()
{
    savePanelState();
    delete ui;
}

bool ZorContentDriveRuxaSetup::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    registerComboBox(QStringLiteral("NodeId"), ui->comboBoxId, true);
    registerLineEdit(QStringLiteral("TargetVelocityMin"), ui->lineEditTargetVelMin, 0, true);
    registerLineEdit(QStringLiteral("TargetVelocityMax"), ui->lineEditTargetVelMax, 0, true);
    registerLineEdit(QStringLiteral("TargetVelocity"), ui->lineEditTargetVel, 0, false);
    registerSlider(QStringLiteral("TargetVelocity"), ui->horizontalSliderTargetVelocity, 0, true);
    registerLabel(QStringLiteral("TargetVelocity"), ui->labelTargetVelocityValue, 0);
    registerLineEdit(QStringLiteral("Acceleration"), ui->lineEditVelAcc, 0, false);
    registerLineEdit(QStringLiteral("Deceleration"), ui->lineEditVelDec, 0, false);
    registerLineEdit(QStringLiteral("TargetPositionMin"), ui->lineEditTargetPosMin, 0, true);
    registerLineEdit(QStringLiteral("TargetPositionMax"), ui->lineEditTargetPosMax, 0, true);
    registerLineEdit(QStringLiteral("TargetPosition"), ui->lineEditTargetPos, 3, false);
    registerSlider(QStringLiteral("TargetPosition"), ui->horizontalSliderTargetPosition, 3, true);
    registerLabel(QStringLiteral("TargetPosition"), ui->labelActualSetPosValue, 3);
    registerLineEdit(QStringLiteral("PositionVelocity"), ui->lineEditPosVel, 0, false);
    registerLineEdit(QStringLiteral("Acceleration"), ui->lineEditPosAcc, 0, false);
    registerLineEdit(QStringLiteral("Deceleration"), ui->lineEditPosDec, 0, false);
    registerLineEdit(QStringLiteral("HomingOffset"), ui->lineEditHomingOffset, 0, false);
    registerLineEdit(QStringLiteral("HomingVelocitySeekSwitch"), ui->lineEditHomVelSwitch, 0, false);
    registerLineEdit(QStringLiteral("HomingVelocitySeekZero"), ui->lineEditHomVelZero, 0, false);
    registerLineEdit(QStringLiteral("HomingAcceleration"), ui->lineEditHomAcc, 0, false);
    registerLineEdit(QStringLiteral("HomingHomeSwitch"), ui->lineEditHomeSwitchInput, 0, false);
    registerLineEdit(QStringLiteral("HomingLeftSwitch"), ui->lineEditLeftSwitchInput, 0, false);
    registerLineEdit(QStringLiteral("HomingRightSwitch"), ui->lineEditRightSwitchInput, 0, false);
    send(KM_WHOAMI);
    // The rate the CAN interface runs at, asked through the module.
    send(KM_MASTER_OUT, QStringLiteral(":KM_GETPROPERTY:KS_REQUEST:Baudrate"));
    ui->accessPanel->attachToPanel(this);
    return bound;
}

quint32 ZorContentDriveRuxaSetup::bitRateOf(const QString &text)
{
    return ZorBabelFish::fromSuffixedStrToNumber(text);
}

void ZorContentDriveRuxaSetup::send(int type, const QVariant &data)
{
    sendGuiMsg(ZorMessage(type, KS_REQUEST, data));
}

void ZorContentDriveRuxaSetup::commit(std::initializer_list<const char *> names)
{
    for (const char *name : names)
        propertyEdited(QLatin1String(name));
}

bool ZorContentDriveRuxaSetup::confirm(const QString &title, const QString &text)
{
    return ZorQuestionBox::confirm(this, title, text);
}

void ZorContentDriveRuxaSetup::refuse(const QString &title, const QString &text)
{
    ZorQuestionBox::warn(this, title, text);
}

// ---- status and messages ----------------------------------------------------------

void ZorContentDriveRuxaSetup::setState(int status)
{
    if (status == lastStatus)
        return;
    lastStatus = status;
    const QPalette base = ui->pushButtonStart->palette();
    const QColor grey(Qt::lightGray);

    if (status == 0) {
        setStartCaption(tr("Start Drive"));
        paintButton(ui->pushButtonStart, base, grey);
        ui->pushButtonStart->setChecked(false);
    } else {
        ui->pushButtonStart->setChecked(true);
        paintButton(ui->pushButtonStart, base, bandColour(status));
    }
    const QColor modeColour = status < 1000 ? Running : Busy;
    struct Mode
    {
        QPushButton *button;
        int status;
        const char *text;
        QPushButton *alsoUnchecked;
    };
    const Mode modes[] = {
        {ui->pushButtonVelocityModeStart, 2, "Vel. Mode On", ui->pushButtonSwing},
        {ui->pushButtonPositionModeStart, 3, "Pos. Mode On", ui->pushButtonHalt},
        {ui->pushButtonHomingModeStart, 4, "Hom. Mode On", nullptr},
    };
    for (const Mode &m : modes) {
        if (status == m.status || status == m.status + 1000) {
            m.button->setText(tr(m.text));
            m.button->setChecked(true);
            paintButton(m.button, base, modeColour);
        } else {
            m.button->setText(tr("Enable"));
            paintButton(m.button, base, grey);
            m.button->setChecked(false);
            if (m.alsoUnchecked)
                m.alsoUnchecked->setChecked(false);
        }
    }
    // Actual values are the drive's only while it runs or is busy: stopped
    // or failed, the last ones read are greyed, as in the status panel.
    ui->groupBoxActual->setEnabled(status >= 1 && status <= 1999);
}

void ZorContentDriveRuxaSetup::processIn(const ZorMessage &msg)
{
    ui->accessPanel->msgIn(msg);
    const int type = msg.msgType();
    if (type == KM_WHOAMI) {
        moduleType = msg.data().toString().section(QLatin1Char('\n'), 0, 0);
        if (moduleType == QLatin1String("drive_tamrix") && ui->tabWidget->count() == 4) {
            ui->tabWidget->removeTab(3);
            ui->tabWidget->removeTab(0);
        }
    }
    if (msg.msgState() == KS_INFO || msg.msgState() == KS_ANSWER) {
        ZorDriveReadout::showActualValue(msg, ui->labelActualVelocityValue, ui->horizontalSliderActualVelocity,
                                         ui->labelActualPositionValue, ui->horizontalSliderActualPosition);
        switch (type) {
        case KM_STATUS:
            setState(msg.data().toInt());
            break;
        case KM_INFOTEXT: {
            const QString text = msg.data().toString();
            if (!text.isEmpty())
                ui->labelStatus->setText(text);
            if (!text.isEmpty() && ui->pushButtonStart->isChecked())
                setStartCaption(text);
            break;
        }
        default:
            break;
        }
    }
    if (type == KM_DRIVE_GO_TO_TARGET && msg.msgState() == KS_ANSWER) {
        const int what = msg.data().toInt();
        if (what == 1 || what == 4)
            ui->pushButtonHalt->setChecked(false);
    }
    if (type == KM_GETPROPERTY || type == KM_SETPROPERTY)
        takeProperty(msg.data().toString());
}

void ZorContentDriveRuxaSetup::setStartCaption(const QString &text)
{
    QPushButton *button = ui->pushButtonStart;
    const int room = button->width() - 16;
    const QString shown = button->fontMetrics().elidedText(text, Qt::ElideRight, room);
    button->setText(shown);
    button->setToolTip(shown == text ? QString() : text);
}

void ZorContentDriveRuxaSetup::takeProperty(const QString &text)
{
    if (text.section(QLatin1Char('='), 0, 0).trimmed() == QLatin1String("InterfaceBaudrate")) {
        // The interface's rate is proposed as the new one.
        const quint32 rate = bitRateOf(text.section(QLatin1Char('='), 1));
        for (int i = 0; i < ui->comboBoxBaud->count(); ++i) {
            if (rate && bitRateOf(ui->comboBoxBaud->itemText(i)) == rate)
                ui->comboBoxBaud->setCurrentIndex(i);
        }
        return;
    }
    QString nodeId;
    if (ZorDriveReadout::takeProperty(text, ui->horizontalSliderTargetVelocity, ui->horizontalSliderTargetPosition,
                                      nodeId)
        && nodeId != ui->lineEditActualId->text()) {
        ui->lineEditActualId->setText(nodeId);
        ui->lineEditNewId->setText(nodeId);
    }
}

// ---- start, stop and modes ----------------------------------------------------------

void ZorContentDriveRuxaSetup::on_pushButtonStart_clicked(bool checked)
{
    send(checked ? KM_DRIVE_START : KM_DRIVE_STOP);
}

void ZorContentDriveRuxaSetup::on_pushButtonStop_clicked()
{
    send(KM_DRIVE_STOP);
}

void ZorContentDriveRuxaSetup::on_pushButtonVelocityModeStart_clicked(bool checked)
{
    commit({"Deceleration", "Acceleration", "TargetVelocity"});
    send(KM_SET_PROFILE_MODE, checked ? 3 : 0);
}

void ZorContentDriveRuxaSetup::on_pushButtonVelocityModeStop_clicked()
{
    commit({"Deceleration", "Acceleration", "TargetVelocity"});
    send(KM_SET_PROFILE_MODE, 0);
}

void ZorContentDriveRuxaSetup::on_pushButtonTargetVelSet_clicked()
{
    commit({"Deceleration", "Acceleration", "TargetVelocity"});
}

void ZorContentDriveRuxaSetup::on_pushButtonSwing_clicked(bool checked)
{
    if (checked) {
        swingTimer->setSingleShot(false);
        swingTimer->start(250);
    } else {
        swingTimer->stop();
    }
}

void ZorContentDriveRuxaSetup::updateSwing()
{
    if (!ui->pushButtonSwing->isChecked())
        return;
    swingStep = (swingStep + 1) % 160;
    const int velocity = int(std::sin(swingStep / 80.0 * 3.14159265) * 1500);
    ui->horizontalSliderTargetVelocity->setValue(velocity);
    commit({"TargetVelocity"});
}

void ZorContentDriveRuxaSetup::on_pushButtonPositionModeStart_clicked(bool checked)
{
    send(KM_SET_PROFILE_MODE, checked ? 1 : 0);
}

void ZorContentDriveRuxaSetup::on_pushButtonPositionModeStop_clicked()
{
    send(KM_SET_PROFILE_MODE, 0);
}

void ZorContentDriveRuxaSetup::on_pushButtonSetPos_clicked()
{
    commit({"Deceleration", "Acceleration", "PositionVelocity", "TargetPosition"});
    send(KM_DRIVE_GO_TO_TARGET, 1);
    ui->pushButtonHalt->setChecked(false);
}

void ZorContentDriveRuxaSetup::on_pushButtonHalt_clicked(bool checked)
{
    send(KM_DRIVE_GO_TO_TARGET, checked ? 3 : 4);
}

void ZorContentDriveRuxaSetup::on_pushButtonHomingModeStart_clicked(bool checked)
{
    send(KM_SET_PROFILE_MODE, checked ? 6 : 0);
}

void ZorContentDriveRuxaSetup::on_pushButtonHomingModeStop_clicked()
{
    send(KM_SET_PROFILE_MODE, 0);
}

void ZorContentDriveRuxaSetup::on_pushButtonHoming35_clicked()
{
    startHoming(35);
}

void ZorContentDriveRuxaSetup::on_pushButtonHomingRun_clicked()
{
    bool ok = false;
    const int method = ui->comboBoxHoming->currentText().trimmed().toInt(&ok, 10);
    startHoming(ok ? method : 0);
}

void ZorContentDriveRuxaSetup::startHoming(int method)
{
    for (const char *name : HomingProperties)
        propertyEdited(QLatin1String(name));
    send(KM_DRIVE_START_HOMING, method);
}

// ---- sliders ------------------------------------------------------------------------

void ZorContentDriveRuxaSetup::on_horizontalSliderTargetPosition_rangeChanged(int min, int max)
{
    ui->lineEditTargetPos->setValidator(rangeValidator(min, max, ui->lineEditTargetPos));
    ui->horizontalSliderActualPosition->setRange(min, max);
}

void ZorContentDriveRuxaSetup::on_horizontalSliderTargetPosition_sliderMoved(int)
{
    // The drive goes to the new target once the slider rests for 500 ms
    // (the button only clicks while position mode is on).
    setPosTimer->stop();
    setPosTimer->start(500);
}

void ZorContentDriveRuxaSetup::on_horizontalSliderTargetVelocity_rangeChanged(int min, int max)
{
    ui->lineEditTargetVel->setValidator(rangeValidator(min, max, ui->lineEditTargetVel));
    ui->horizontalSliderActualVelocity->setRange(min, max);
}

// ---- node id, bit rate and reset ----------------------------------------------------

void ZorContentDriveRuxaSetup::clampNewNodeId()
{
    // Bounded, never wrapped: the low byte of 300 would address node 44.
    // Negative numbers and texts that are no number become 1.
    const QString text = ui->lineEditNewId->text().trimmed();
    bool ok = false;
    qint64 id = ZorBabelFish::stringToULong(text, &ok);
    if (!ok)
        id = ZorBabelFish::stringToLong(text, &ok);
    if (!ok)
        id = 1;
    ui->lineEditNewId->setText(QString::number(qBound<qint64>(1, id, 127)));
}

void ZorContentDriveRuxaSetup::on_pushButtonAssignNodeId_clicked()
{
    clampNewNodeId();
    const int newId = ui->lineEditNewId->text().toInt() & 0xFF;
    if (confirm(tr("CANopen Configuration Change"),
                tr("Set ANY device in the CANopen network to Node ID = %1\nContinue and perform the operation?")
                    .arg(newId)))
        send(KM_DRIVE_NEW_ID, QStringLiteral("%1,0").arg(newId));
}

void ZorContentDriveRuxaSetup::on_pushButtonChangeNodeId_clicked()
{
    clampNewNodeId();
    const int newId = ui->lineEditNewId->text().toInt() & 0xFF;
    const int actualId = ui->lineEditActualId->text().trimmed().toInt() & 0xFF;
    const QString title = tr("CANopen Configuration Change");
    if (actualId == 0) {
        refuse(title, tr("Please use 'Start Drive' to scan the actual Node ID first. Or use 'Assign Node ID'."));
        return;
    }
    if (actualId == newId) {
        refuse(title, tr("Please choose a different value for 'New Node ID' first"));
        return;
    }
    if (confirm(title, tr("Change from Node ID = %1 to Node ID = %2, using LSS command via serial number.\n"
                          "Continue and perform the operation?\n"
                          "NOTE: Not all CANopen drives support LSS via serial number. If this operation fails, "
                          "try 'Assign ID' instead!")
                           .arg(actualId)
                           .arg(newId)))
        send(KM_DRIVE_NEW_ID, QStringLiteral("%1,read").arg(newId));
}

void ZorContentDriveRuxaSetup::on_pushButtonBaud_clicked()
{
    const QString shown = ui->comboBoxBaud->currentText();
    if (confirm(tr("CAN Configuration Change"),
                tr("Set the Baud Rate of all CAN slaves and the CAN Interface to %1\nContinue and perform the operation?")
                    .arg(shown)))
        send(KM_DRIVE_NEW_COMM_PARAMETERS, QStringLiteral("%1,0").arg(bitRateOf(shown)));
}

void ZorContentDriveRuxaSetup::on_pushButtonReset_clicked()
{
    if (confirm(tr("Restore Factory Settings"),
                tr("All drive parameters will be reset to the original factory settings!\nContinue and restore settings?")))
        send(KM_DRIVE_RESET, 2);
}
