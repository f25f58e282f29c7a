#include "zorcontentdefault.h"
#include "ui_zorcontentdefault.h"

#include "zormodule.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

ZorContentDefault::ZorContentDefault(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentDefaultClass)
{
    ui->setupUi(this);
    ui->pushButtonStop->setEnabled(false);
    connect(ui->pushButtonStart, &QAbstractButton::toggled, ui->pushButtonStop,
            &QWidget::setEnabled);
}

ZorContentDefault::~ZorContentDefault()
{
    savePanelState();
    delete ui;
}

bool ZorContentDefault::setupZorPanel(const QPersistentModelIndex &index,
                                      ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    sendGuiMsg(ZorMessage(KM_GETALLPROPERTIES, KS_REQUEST, QString()));
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("_ReadOnly")));
    return bound;
}

void ZorContentDefault::on_pushButtonStart_clicked(bool checked)
{
    sendGuiMsg(ZorMessage(checked ? KM_START : KM_STOP, KS_REQUEST, QString()));
}

void ZorContentDefault::on_pushButtonStop_clicked()
{
    sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST, QString()));
}

void ZorContentDefault::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    if (type == KM_GETALLPROPERTIES) {
        if (!m_gridBuilt)
            buildGrid(msg.data().toString());
        return;
    }
    if (type == KM_GETPROPERTY || type == KM_SETPROPERTY) {
        const QString data = msg.data().toString();
        if (data.section(QLatin1Char('='), 0, 0) == QLatin1String("_ReadOnly"))
            applyReadOnly(data.section(QLatin1Char('='), 1));
        return;
    }
    if (msg.msgState() != KS_INFO && msg.msgState() != KS_ANSWER)
        return;
    switch (type) {
    case KM_STATUS:
        setState(msg.data().toInt());
        break;
    case KM_INFOTEXT:
        ui->lineEditState->setText(msg.data().toString());
        appendLogText(ui->plainTextStatus, msg.data().toString(), true);
        break;
    case KM_LOGTEXT:
        appendLogText(ui->plainTextStatus, msg.data().toString(), false);
        break;
    default:
        break;
    }
}

namespace {

const int MaxLabelLineChars = 40;

// The text with line breaks at blanks, so that no line is longer than max
// characters unless a single word is.
QString brokenIntoLines(const QString &text, int max)
{
    QString broken;
    int lineLength = 0;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (lineLength > 0 && lineLength + 1 + word.size() > max) {
            broken += QLatin1Char('\n');
            lineLength = 0;
        } else if (lineLength > 0) {
            broken += QLatin1Char(' ');
            ++lineLength;
        }
        broken += word;
        lineLength += word.size();
    }
    return broken;
}

} // namespace

// One row per "name=value" line, from row 2 of the status grid on; names
// beginning with "_" are pseudo-properties and get no row. The property key
// is the module's key of the name ("UpdateInterval [msec]" ->
// "UpdateInterval", "1 bad key" stays whole).
void ZorContentDefault::buildGrid(const QString &properties)
{
    m_gridBuilt = true;
    int row = 2;
    const QStringList lines = properties.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? line : line.left(eq);
        const QString value = eq < 0 ? QString() : line.mid(eq + 1);
        if (name.startsWith(QLatin1Char('_')))
            continue;
        const QString key = ZorModule::propertyKey(name);

        // Broken into lines here: a word-wrapped label in the grid gets the
        // height of fewer lines than it needs when the panel is narrow, and
        // its end is cut off.
        auto *label = new QLabel(brokenIntoLines(name, MaxLabelLineChars), this);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        ui->gridStatus->addWidget(label, row, 0, 1, 2);

        auto *edit = new QLineEdit(value, this);
        edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        ui->gridStatus->addWidget(edit, row, 2);
        m_editors.insert(name, edit);
        registerLineEdit(key, edit, 0, true);
        ++row;
    }
}

namespace {

QString keyLower(const QString &name)
{
    return ZorModule::propertyKey(name).toLower();
}

} // namespace

void ZorContentDefault::applyReadOnly(const QString &names)
{
    m_readOnly = names.split(QLatin1Char(','));
    QStringList keys;
    for (const QString &n : qAsConst(m_readOnly))
        keys.append(keyLower(n));
    for (auto it = m_editors.cbegin(); it != m_editors.cend(); ++it) {
        QLineEdit *edit = it.value();
        if (!edit)
            continue;
        const bool readOnly = keys.contains(keyLower(it.key()));
        edit->setReadOnly(readOnly);
        edit->setEnabled(!readOnly);
    }
}

void ZorContentDefault::setState(int status)
{
    if (!noteStatus(status))
        return;
    ui->lineEditState->setStyleSheet(statusStyleSheet(status));
    const bool active = status >= 1 && status <= 1999;
    ui->pushButtonStart->setChecked(active);
    ui->pushButtonStart->setEnabled(!active);
    // A module showing an error (2000 and above) may still be running, as a
    // joystick that keeps polling for its controller: it can always be
    // stopped.
    ui->pushButtonStop->setEnabled(status >= 1);
}
