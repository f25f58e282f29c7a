#include "zorcontentcaninterface.h"
#include "ui_zorcontentcaninterface.h"

#include "zorbabelfish.h"
#include "zormodcaninterface.h"

#include <QCompleter>
#include <QLineEdit>
#include <QPalette>
#include <QTimer>
#include <QValidator>

namespace {

const int LampMs = 230;

// Blanks around a typed port are no part of it: the field trims them
// before the combo box or the panel takes the text.
class TrimmedTextValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return input == input.trimmed() ? Acceptable : Intermediate;
    }
    void fixup(QString &input) const override { input = input.trimmed(); }
};

} // namespace

ZorContentCanInterface::ZorContentCanInterface(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentCanInterfaceClass)
    , m_lampTimer(new QTimer(this))
{
    ui->setupUi(this);
    // While the interface is open (or opening) its port and bit rate are
    // locked and it can be stopped.
    QPushButton *start = ui->pushButtonStart;
    connect(start, &QAbstractButton::toggled, ui->pushButtonStop, &QWidget::setEnabled);
    connect(start, &QAbstractButton::toggled, ui->comboBoxCOM, &QWidget::setDisabled);
    connect(start, &QAbstractButton::toggled, ui->labelCOM, &QWidget::setDisabled);
    connect(start, &QAbstractButton::toggled, ui->comboBoxBaud, &QWidget::setDisabled);
    connect(start, &QAbstractButton::toggled, ui->labelBaud, &QWidget::setDisabled);

    // Esc stops this interface only while the focus is in this panel: as
    // a button shortcut it would act window-wide, closing the bus when Esc
    // is meant for another panel (the automation panel's Stop, a dialog).
    const QKeySequence stopKey = ui->pushButtonStop->shortcut();
    ui->pushButtonStop->setShortcut(QKeySequence());
    addShortcut(stopKey, SLOT(stopByKey()));

    setState(0);

    ui->comboBoxCOM->addItems(portChoices());
    ui->comboBoxCOM->setValidator(new TrimmedTextValidator(ui->comboBoxCOM));
    // Port names are told apart by letter case.
    if (QCompleter *completer = ui->comboBoxCOM->completer())
        completer->setCaseSensitivity(Qt::CaseSensitive);
    ui->comboBoxBaud->addItems(bitRateChoices());

    m_lampTimer->setObjectName(QStringLiteral("lampTimer"));
    m_lampTimer->setSingleShot(true);
    m_lampTimer->setInterval(LampMs);
    connect(m_lampTimer, &QTimer::timeout, this, &ZorContentCanInterface::resetLEDs);
    // All lamps light once at start.
    setLEDs(LampTx | LampRx | LampErr);
    setLEDs(0);
}

ZorContentCanInterface::~ZorContentCanInterface()
{
    savePanelState();
    delete ui;
}

QStringList ZorContentCanInterface::portChoices()
{
    QStringList choices{QStringLiteral("(first found)")};
    const QStringList kinds = ZorModCanInterface::interfaceTypes();
    for (const QString &kind : kinds)
        choices << (kind == QLatin1String("net") ? QStringLiteral("127.0.0.1:10001") : kind);
    return choices;
}

QStringList ZorContentCanInterface::bitRateChoices()
{
    return {QStringLiteral("20K"),  QStringLiteral("50K"),  QStringLiteral("100K"),
            QStringLiteral("125K"), QStringLiteral("250K"), QStringLiteral("500K"),
            QStringLiteral("800K"), QStringLiteral("1M"),   QStringLiteral("(Scan)")};
}

bool ZorContentCanInterface::setupZorPanel(const QPersistentModelIndex &index,
                                           ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    connect(ui->comboBoxCOM->lineEdit(), &QLineEdit::editingFinished, this,
            &ZorContentCanInterface::portComboEditingFinished, Qt::UniqueConnection);
    if (panelUserData() != QLatin1String("kelvatro")) {
        registerComboBox(QStringLiteral("Port"), ui->comboBoxCOM, true);
        // The bit rate is bound here rather than by the base: the module may
        // hold the rate in any of its written forms, and the box must show
        // that rate without writing another form back.
        connect(ui->comboBoxBaud, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &ZorContentCanInterface::bitRateChosen, Qt::UniqueConnection);
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("Baudrate")));
    } else {
        ui->labelCOM->hide();
        ui->comboBoxCOM->hide();
        ui->labelBaud->hide();
        ui->comboBoxBaud->hide();
    }
    connect(ui->pushButtonStart, &QAbstractButton::clicked, this,
            &ZorContentCanInterface::switchOnOff, Qt::UniqueConnection);
    connect(ui->pushButtonStop, &QAbstractButton::clicked, this,
            &ZorContentCanInterface::switchOff, Qt::UniqueConnection);
    return bound;
}

int ZorContentCanInterface::bitRateEntry(const QComboBox *box, const QString &rateText)
{
    const QString text = rateText.trimmed();
    int found = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found >= 0)
        return found;
    if (text.contains(QLatin1String("scan"), Qt::CaseInsensitive))
        return box->findText(QStringLiteral("(Scan)"));
    bool ok = false;
    const quint32 rate = ZorBabelFish::fromSuffixedStrToNumber(text, &ok);
    if (!ok)
        return -1;
    for (int i = 0; i < box->count(); ++i) {
        bool entryOk = false;
        if (ZorBabelFish::fromSuffixedStrToNumber(box->itemText(i), &entryOk) == rate && entryOk)
            return i;
    }
    return -1;
}

void ZorContentCanInterface::showBitRate(const QString &rateText)
{
    QComboBox *box = ui->comboBoxBaud;
    const QString text = rateText.trimmed();
    int entry = bitRateEntry(box, text);
    if (entry < 0 && !text.isEmpty()) {
        // A rate the list lacks goes in at its place by value, before
        // "(Scan)"; a text that is no rate at all goes just before "(Scan)".
        bool ok = false;
        const quint32 rate = ZorBabelFish::fromSuffixedStrToNumber(text, &ok);
        entry = box->count();
        for (int i = 0; i < box->count(); ++i) {
            bool entryOk = false;
            const quint32 entryRate = ZorBabelFish::fromSuffixedStrToNumber(box->itemText(i), &entryOk);
            if (!entryOk || (ok && entryRate > rate)) {
                entry = i;
                break;
            }
        }
        m_showingRate = true;
        box->insertItem(entry, text);
        m_showingRate = false;
    }
    if (entry < 0 || entry == box->currentIndex())
        return;
    m_showingRate = true;
    box->setCurrentIndex(entry);
    m_showingRate = false;
}

void ZorContentCanInterface::bitRateChosen()
{
    if (m_showingRate || !isBound())
        return;
    sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST,
                          QStringLiteral("Baudrate=") + ui->comboBoxBaud->currentText()));
}

void ZorContentCanInterface::processIn(const ZorMessage &msg)
{
    if ((msg.msgType() == KM_GETPROPERTY || msg.msgType() == KM_SETPROPERTY)
        && msg.msgState() != KS_REQUEST && panelUserData() != QLatin1String("kelvatro")) {
        const QString data = msg.data().toString();
        if (data.section(QLatin1Char('='), 0, 0) == QLatin1String("Baudrate"))
            showBitRate(data.section(QLatin1Char('='), 1));
        return;
    }
    if (msg.msgState() != KS_INFO && msg.msgState() != KS_ANSWER)
        return;
    switch (msg.msgType()) {
    case KM_STATUS:
        setState(msg.data().toInt());
        break;
    case KM_INFOTEXT:
        appendLogText(ui->plainTextEditStatus, msg.data().toString(), true);
        break;
    case KM_COMM_STATUS:
        setLEDs(msg.data().toInt());
        break;
    default:
        break;
    }
}

QString ZorContentCanInterface::stateText(int status)
{
    if (status == 0)
        return tr("Start Interface");
    if (status < 1000)
        return tr("Running");
    if (status == 1000)
        return tr("Init");
    if (status == 1010)
        return tr("Scanning");
    if (status == 1011)
        return tr("Updating");
    if (status < 2000)
        return tr("Warning");
    return tr("Error");
}

QColor ZorContentCanInterface::stateColour(int status)
{
    if (status == 0)
        return QColor(Qt::lightGray);
    if (status < 1000)
        return QColor(QStringLiteral("#5EBE37"));
    if (status < 2000)
        return QColor(QStringLiteral("#FEE600"));
    return QColor(QStringLiteral("#FF6052"));
}

void ZorContentCanInterface::setState(int status)
{
    if (!noteStatus(status))
        return;
    QPushButton *button = ui->pushButtonStart;
    QPalette palette = button->palette();
    palette.setBrush(QPalette::All, QPalette::Button, QBrush(stateColour(status), Qt::SolidPattern));
    button->setText(stateText(status));
    button->setPalette(palette);
    // toggled (not clicked) follows: the locks follow the module, and
    // nothing is sent.
    button->setChecked(status != 0);
}

void ZorContentCanInterface::setLEDs(int flags)
{
    if (flags == m_lampFlags)
        return;
    m_lampFlags = flags;
    if (flags & LampTx)
        ui->labelTx->setStyleSheet(QStringLiteral("background-color: lemonchiffon;"));
    if (flags & LampRx)
        ui->labelRx->setStyleSheet(QStringLiteral("background-color: lightskyblue;"));
    if (flags & LampErr)
        ui->labelErr->setStyleSheet(QStringLiteral("background-color: tomato;"));
    m_lampTimer->start();
}

void ZorContentCanInterface::resetLEDs()
{
    ui->labelTx->setStyleSheet(QString());
    ui->labelRx->setStyleSheet(QString());
    ui->labelErr->setStyleSheet(QString());
    m_lampFlags = 0;
}

void ZorContentCanInterface::switchOnOff(bool on)
{
    sendGuiMsg(ZorMessage(on ? KM_COMM_OPEN : KM_COMM_CLOSE, KS_REQUEST, QString()));
}

void ZorContentCanInterface::stopByKey()
{
    if (ui->pushButtonStop->isEnabled())
        ui->pushButtonStop->click();
}

void ZorContentCanInterface::switchOff()
{
    sendGuiMsg(ZorMessage(KM_COMM_CLOSE, KS_REQUEST, QString()));
}

void ZorContentCanInterface::portComboEditingFinished()
{
    QComboBox *box = ui->comboBoxCOM;
    const QString text = box->currentText().trimmed();
    if (text.isEmpty()) {
        box->setCurrentIndex(0);
        return;
    }
    int found = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found < 0) {
        box->addItem(text);
        found = box->count() - 1;
    }
    box->setCurrentIndex(found);
}
