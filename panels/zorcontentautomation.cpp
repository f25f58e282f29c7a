#include "zorcontentautomation.h"
#include "ui_zorcontentautomation.h"

#include "zorscriptstopkey.h"

#include <QLayout>
#include <QRegularExpression>
#include <QTextCursor>
#include <QToolBar>

namespace {

QString trimmedEnd(QString text)
{
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    return text;
}

} // namespace

// The panels' own pictures live in this library's resources.
static void initPanelResources()
{
    Q_INIT_RESOURCE(zorpanels);
}

ZorContentAutomation::ZorContentAutomation(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentAutomationClass)
    , m_toolBar(new QToolBar(this))
{
    initPanelResources();
    ui->setupUi(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->addAction(ui->actionPlay);
    m_toolBar->addAction(ui->actionStop);
    ui->verticalLayout->insertWidget(0, m_toolBar);

    // The keys work while the focus is anywhere in the panel, also when the
    // action itself is disabled.
    addShortcut(QKeySequence(QStringLiteral("F5")), SLOT(on_actionPlay_triggered()));
    addShortcut(QKeySequence(QStringLiteral("Esc")), SLOT(on_actionStop_triggered()));

    ui->actionPlay->setChecked(true);
    ui->actionPlay->setChecked(false);
    ui->actionStop->setChecked(true);
}

ZorContentAutomation::~ZorContentAutomation()
{
    savePanelState();
    delete ui;
}

bool ZorContentAutomation::setupZorPanel(const QPersistentModelIndex &index,
                                         ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("LogHistory")));
    return bound;
}

void ZorContentAutomation::on_actionPlay_triggered()
{
    // Esc stops it wherever the focus is.
    ZorScriptStopKey::watch(this, [this] { return m_running; }, [this] { on_actionStop_triggered(); });
    sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("1")));
}

void ZorContentAutomation::on_actionStop_triggered()
{
    sendGuiMsg(ZorMessage(KM_SCRIPT_CONTROL, KS_REQUEST, QStringLiteral("0")));
}

void ZorContentAutomation::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    if (type == KM_GETPROPERTY) {
        const QString data = msg.data().toString();
        const int eq = data.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? data : data.left(eq);
        if (name == QLatin1String("LogHistory"))
            restoreLogHistory(eq < 0 ? QString() : data.mid(eq + 1));
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
        appendToLog(msg.data().toString());
        break;
    case KM_SCRIPT_MSG: {
        // "<line>,StdOut:<text>": only the script's standard output is shown.
        const QString data = msg.data().toString();
        const int comma = data.indexOf(QLatin1Char(','));
        if (comma < 0)
            break;
        const QString output = data.mid(comma + 1);
        // Standard output comes line by line; standard error is the
        // traceback of a script that raised, shown as one block.
        QString text;
        if (output.startsWith(QLatin1String("StdOut:")))
            text = output.mid(output.indexOf(QLatin1Char(':')) + 1);
        else if (output.startsWith(QLatin1String("StdErr:")))
            text = trimmedEnd(output.mid(output.indexOf(QLatin1Char(':')) + 1));
        appendToLog(text);
        break;
    }
    default:
        break;
    }
}

QString ZorContentAutomation::shownHistoryLine(const QString &line)
{
    static const QRegularExpression output(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} )\\d+,Std(?:Out|Err):"));
    const QRegularExpressionMatch match = output.match(line);
    if (!match.hasMatch())
        return line;
    return match.captured(1) + line.mid(match.capturedEnd());
}

void ZorContentAutomation::appendToLog(const QString &text)
{
    if (text.isEmpty())
        return;
    appendLogText(ui->plainTextEditStatus, text, true);
}

void ZorContentAutomation::restoreLogHistory(const QString &history)
{
    QPlainTextEdit *log = ui->plainTextEditStatus;
    QStringList lines = history.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = shownHistoryLine(line);
    log->setPlainText(cutLogLines(lines.join(QLatin1Char('\n'))));
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    scrollToEndLater(log);
}

void ZorContentAutomation::setState(int status)
{
    if (!noteStatus(status))
        return;
    ui->lineEditState->setStyleSheet(statusStyleSheet(status));
    const bool running = status >= 1 && status <= 9999;
    m_running = running;
    ui->actionPlay->setChecked(running);
    ui->actionPlay->setEnabled(!running);
    ui->actionStop->setChecked(!running);
    ui->actionStop->setEnabled(running);
}
