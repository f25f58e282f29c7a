#include "zorcontentxypos.h"
#include "ui_zorcontentxypos.h"

#include "zortargetcross.h"

#include <QDebug>
#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QShortcut>
#include <QTimer>
#include <QtMath>

namespace {

const int CommandDelayMs = 500;
const int PowerStart = 10;
const int PowerStep = 10;
const double FirstJogFactor = 0.1;
const double JogGrowth = 1.3;
const double MinTargetChange = 0.05;

QString xyStatusStyle(int status)
{
    if (status == 0)
        return QStringLiteral("color:black");
    if (status < 1000)
        return QStringLiteral("background-color: #5EBE37; color:black");
    if (status < 2000)
        return QStringLiteral("background-color: #FEE600; color:black");
    return QStringLiteral("background-color: #FF6052; color:black");
}

// A scene coordinate of the working area, 0 to 100.
double toScene(double value, int minimum, double range)
{
    return qBound(0.0, (value - minimum) * 100.0 / range, 100.0);
}

} // namespace

ZorContentXYPos::ZorContentXYPos(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentXYPosClass)
    , m_commandTimer(new QTimer(this))
{
    ui->setupUi(this);
    buildScene();

    connect(ui->pushButtonStart, &QPushButton::toggled, ui->lineEditDriveX, &QWidget::setDisabled);
    connect(ui->pushButtonStart, &QPushButton::toggled, ui->lineEditDriveY, &QWidget::setDisabled);
    connect(ui->pushButtonStart, &QPushButton::toggled, ui->groupBoxControl, &QWidget::setEnabled);
    ui->pushButtonStart->setChecked(true);
    ui->pushButtonStart->setChecked(false);

    connect(m_cross, &ZorTargetCross::newPosition, this, &ZorContentXYPos::newTargetPosition);
    m_commandTimer->setSingleShot(true);
    m_commandTimer->setInterval(CommandDelayMs);
    connect(m_commandTimer, &QTimer::timeout, this, &ZorContentXYPos::releaseCommand);

    // Escape stays with the stop button: it stops the drives.
    const QList<QPair<QKeySequence, QAbstractButton *>> keys = {
        {QKeySequence(Qt::Key_Enter), ui->toolButtonCmd1},     {QKeySequence(Qt::Key_Return), ui->toolButtonCmd1},
        {QKeySequence(Qt::Key_Space), ui->toolButtonParameter}, {QKeySequence(Qt::Key_Asterisk), ui->toolButtonParameter},
        {QKeySequence(Qt::Key_Plus), ui->toolButtonCmd2},       {QKeySequence(Qt::Key_Minus), ui->toolButtonCmd3},
        {QKeySequence(Qt::Key_Delete), ui->toolButtonCancel},   {QKeySequence(Qt::Key_Backspace), ui->toolButtonCancel}};
    for (const auto &key : keys) {
        auto *shortcut = new QShortcut(key.first, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QAbstractButton *button = key.second;
        connect(shortcut, &QShortcut::activated, button, [button] { button->animateClick(); });
    }
}

ZorContentXYPos::~ZorContentXYPos()
{
    savePanelState();
    delete ui;
}

void ZorContentXYPos::buildScene()
{
    m_scene = new QGraphicsScene(QRectF(-15, -15, 130, 130), this);
    const QPen axisPen(Qt::black, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QLineF axes[] = {{-5, 0, 105, 0}, {105, 0, 100, -5}, {105, 0, 100, 5},
                           {0, -5, 0, 105}, {0, 105, -5, 100}, {0, 105, 5, 100}};
    for (const QLineF &line : axes)
        m_scene->addLine(line, axisPen);
    m_scene->addSimpleText(QStringLiteral("X"))->setPos(100, 10);
    m_scene->addSimpleText(QStringLiteral("Y"))->setPos(10, 95);
    m_cross = new ZorTargetCross;
    m_scene->addItem(m_cross);
    m_marker = m_scene->addEllipse(QRectF(-2.5, -2.5, 5, 5), QPen(Qt::black, 1.5), Qt::NoBrush);
    ui->graphicsView->setScene(m_scene);
}

bool ZorContentXYPos::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    registerLineEdit(QStringLiteral("DriveLabelX"), ui->lineEditDriveX);
    registerLineEdit(QStringLiteral("DriveLabelY"), ui->lineEditDriveY);
    send(KM_ASSIGN_SLAVES);
    for (const char *name : {"TargetX", "TargetY", "MinX", "MaxX", "MinY", "MaxY"})
        send(KM_GETPROPERTY, QString::fromLatin1(name));
    return bound;
}

// --- messages from the module --------------------------------------------------------

void ZorContentXYPos::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    const int state = msg.msgState();
    if (type == KM_NEW_POSITION_RUN && state == KS_INFO)
        m_lastJogDirection = -1;
    const bool report = state == KS_INFO || state == KS_ANSWER;
    if (!report)
        return;
    if (type == KM_LOGTEXT) {
        ui->labelMessage->setText(msg.data().toString());
        return;
    }
    const QString origin = msg.origin();
    if (!origin.isEmpty()) {
        const bool fromX = origin == m_driveLabelX;
        const bool fromY = origin == m_driveLabelY;
        if ((fromX || fromY) && type == KM_STATUS) {
            if (fromX)
                showDriveStatus(msg.data().toInt(), true);
            if (fromY)
                showDriveStatus(msg.data().toInt(), false);
        } else if ((fromX || fromY) && type == KM_INFOTEXT) {
            const QString text = msg.data().toString();
            if (fromX) {
                qDebug().noquote() << QStringLiteral("X Drive Status =  %1").arg(text);
                ui->lineEditStateX->setText(text);
            }
            if (fromY) {
                qDebug().noquote() << QStringLiteral("Y Drive Status =  %1").arg(text);
                ui->lineEditStateY->setText(text);
            }
        } else if (origin == m_interfaceLabel && type == KM_STATUS) {
            const bool active = msg.data().toInt() == 1;
            if (active != m_cross->isActive())
                setControlsActive(active);
        }
    }
    if (type == KM_GETPROPERTY || type == KM_SETPROPERTY) {
        const QString data = msg.data().toString();
        const int eq = data.indexOf(QLatin1Char('='));
        if (eq > 0)
            showProperty(data.left(eq), data.mid(eq + 1));
    }
}

void ZorContentXYPos::setControlsActive(bool active)
{
    m_cross->setActive(active);
    for (QWidget *w : {ui->toolButtonUp, ui->toolButtonDown, ui->toolButtonLeft, ui->toolButtonRight})
        w->setEnabled(active);
}

QString ZorContentXYPos::messageLine() const
{
    return ui->labelMessage->text();
}

void ZorContentXYPos::showProperty(const QString &name, const QString &value)
{
    if (name == QLatin1String("DriveLabelX") || name == QLatin1String("DriveLabelY")) {
        const bool x = name.endsWith(QLatin1Char('X'));
        QString &label = x ? m_driveLabelX : m_driveLabelY;
        if (label == value)
            return;
        // Another drive (or none): nothing of the one before stays shown.
        label = value;
        QLineEdit *state = x ? ui->lineEditStateX : ui->lineEditStateY;
        state->clear();
        state->setStyleSheet(QString());
        (x ? m_lastStatusX : m_lastStatusY) = -1;
    } else if (name == QLatin1String("InterfaceLabel")) {
        m_interfaceLabel = value;
    } else if (name == QLatin1String("ActualX") || name == QLatin1String("ActualY")) {
        const bool x = name.endsWith(QLatin1Char('X'));
        (x ? ui->labelActualX : ui->labelActualY)->setText((x ? QStringLiteral("X = %1") : QStringLiteral("Y = %1")).arg(value));
        (x ? m_actualX : m_actualY) = value.toDouble();
        updateGraphics(true, false);
    } else if (name == QLatin1String("TargetX") || name == QLatin1String("TargetY")) {
        const bool x = name.endsWith(QLatin1Char('X'));
        (x ? ui->labelTargetX : ui->labelTargetY)->setText((x ? QStringLiteral("X = %1") : QStringLiteral("Y = %1")).arg(value));
        (x ? m_targetX : m_targetY) = value.toDouble();
        updateGraphics(false, true);
    } else if (name == QLatin1String("MinX") || name == QLatin1String("MaxX") || name == QLatin1String("MinY")
               || name == QLatin1String("MaxY")) {
        const int whole = int(value.toDouble());
        if (name == QLatin1String("MinX"))
            m_minX = whole;
        else if (name == QLatin1String("MaxX"))
            m_maxX = whole;
        else if (name == QLatin1String("MinY"))
            m_minY = whole;
        else
            m_maxY = whole;
        ui->labelMaxX->setText(QStringLiteral("min=%1 / max=%2").arg(m_minX).arg(m_maxX));
        ui->labelMaxY->setText(QStringLiteral("min=%1 / max=%2").arg(m_minY).arg(m_maxY));
        updateGraphics(true, true);
    } else if (name.contains(QLatin1String("SendSeqName"))) {
        const int sequence = name.right(1).toInt();
        const QString shown = value.size() > 10 ? value.left(10) + QStringLiteral("...") : value;
        if (name.endsWith(QLatin1Char('0')))
            ui->toolButtonCmd1->setText(QStringLiteral("[Enter] : %1").arg(shown));
        else if (sequence == 1)
            ui->toolButtonCmd2->setText(QStringLiteral("[+] : %1").arg(shown));
        else if (sequence == 2)
            ui->toolButtonCmd3->setText(QStringLiteral("[-] : %1").arg(shown));
    }
}

void ZorContentXYPos::showDriveStatus(int status, bool axisX)
{
    int &last = axisX ? m_lastStatusX : m_lastStatusY;
    if (status == last)
        return;
    last = status;
    (axisX ? ui->lineEditStateX : ui->lineEditStateY)->setStyleSheet(xyStatusStyle(status));
}

// --- drawing and targets ---------------------------------------------------------------

double ZorContentXYPos::rangeX() const
{
    return qMax(1.0, double(m_maxX - m_minX));
}

double ZorContentXYPos::rangeY() const
{
    return qMax(1.0, double(m_maxY - m_minY));
}

void ZorContentXYPos::updateGraphics(bool marker, bool cross)
{
    if (marker)
        m_marker->setPos(toScene(m_actualX, m_minX, rangeX()), toScene(m_actualY, m_minY, rangeY()));
    if (cross)
        m_cross->setPos(toScene(m_targetX, m_minX, rangeX()), toScene(m_targetY, m_minY, rangeY()));
}

void ZorContentXYPos::newTargetPosition()
{
    const QPointF p = m_cross->scenePos();
    setTarget(rangeX() * p.x() / 100.0 + m_minX, rangeY() * p.y() / 100.0 + m_minY);
}

void ZorContentXYPos::setTarget(double x, double y)
{
    if (!m_cross->isActive())
        return;
    x = qMin(qMax(x, double(m_minX)), double(m_maxX));
    y = qMin(qMax(y, double(m_minY)), double(m_maxY));
    if (qAbs(x - m_targetX) > MinTargetChange) {
        m_targetX = x;
        send(KM_SETPROPERTY, QStringLiteral("TargetX=") + QString::number(x, 'f', 3));
    }
    if (qAbs(y - m_targetY) > MinTargetChange) {
        m_targetY = y;
        send(KM_SETPROPERTY, QStringLiteral("TargetY=") + QString::number(y, 'f', 3));
    }
}

void ZorContentXYPos::jog(int direction)
{
    if (m_lastJogDirection == -1 || qAbs(m_lastJogDirection - direction) == 2)
        m_jogFactor = FirstJogFactor;
    else
        m_jogFactor = qMin(m_jogFactor * JogGrowth, 1.0);
    m_lastJogDirection = direction;
    const double stepX = (m_maxX - m_minX) * m_jogFactor / 20.0;
    const double stepY = (m_maxY - m_minY) * m_jogFactor / 20.0;
    const double dx = direction == Right ? stepX : direction == Left ? -stepX : 0.0;
    const double dy = direction == Up ? -stepY : direction == Down ? stepY : 0.0;
    if (dx != 0.0 || dy != 0.0)
        setTarget(m_targetX + dx, m_targetY + dy);
}

void ZorContentXYPos::on_toolButtonUp_clicked() { jog(Up); }
void ZorContentXYPos::on_toolButtonRight_clicked() { jog(Right); }
void ZorContentXYPos::on_toolButtonDown_clicked() { jog(Down); }
void ZorContentXYPos::on_toolButtonLeft_clicked() { jog(Left); }

// --- start, stop and send sequences ------------------------------------------------------

void ZorContentXYPos::on_pushButtonStart_clicked(bool checked)
{
    if (checked) {
        send(KM_DRIVE_START);
    } else {
        send(KM_PLAYERCMD_STOP);
        send(KM_DRIVE_STOP);
    }
}

void ZorContentXYPos::on_pushButtonStop_clicked()
{
    ui->pushButtonStart->setChecked(false);
    on_pushButtonStart_clicked(false);
}

void ZorContentXYPos::on_toolButtonCmd1_clicked() { prepareCommand(0); }
void ZorContentXYPos::on_toolButtonCmd2_clicked() { prepareCommand(1); }
void ZorContentXYPos::on_toolButtonCmd3_clicked() { prepareCommand(2); }
void ZorContentXYPos::on_toolButtonCancel_clicked() { prepareCommand(-1); }

void ZorContentXYPos::on_toolButtonParameter_clicked()
{
    QProgressBar *bar = ui->progressBarCmd1;
    if (bar->value() < bar->maximum())
        bar->setValue(bar->value() + PowerStep);
}

void ZorContentXYPos::prepareCommand(int command)
{
    m_commandTimer->stop();
    m_preparedCommand = command;
    m_commandTimer->start(CommandDelayMs);
}

void ZorContentXYPos::releaseCommand()
{
    send(KM_PLAYERCMD_STOP);
    if (m_preparedCommand >= 0 && m_preparedCommand <= 2) {
        send(KM_PLAYERCMD_PLAY,
             QStringLiteral("%1,parameter1=%2").arg(m_preparedCommand).arg(ui->progressBarCmd1->value()));
        m_preparedCommand = -1;
    }
    ui->progressBarCmd1->setValue(PowerStart);
}

void ZorContentXYPos::send(int type, const QVariant &data)
{
    sendGuiMsg(ZorMessage(type, KS_REQUEST, data));
}
