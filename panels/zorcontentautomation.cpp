#include "zorcontentautomation.h"
#include "ui_zorcontentautomation.h"

#include <QLayout>
#include <QTextCursor>
#include <QToolBar>

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
        appendLogText(ui->plainTextEditStatus, msg.data().toString(), true);
        break;
    case KM_SCRIPT_MSG: {
        // "<line>,StdOut:<text>": only the script's standard output is shown.
        const QString data = msg.data().toString();
        const int comma = data.indexOf(QLatin1Char(','));
        if (comma < 0)
            break;
        const QString output = data.mid(comma + 1);
        if (output.startsWith(QLatin1String("StdOut:")))
            appendLogText(ui->plainTextEditStatus, output.mid(output.indexOf(QLatin1Char(':')) + 1),
                          true);
        break;
    }
    default:
        break;
    }
}

void ZorContentAutomation::restoreLogHistory(const QString &history)
{
    QPlainTextEdit *log = ui->plainTextEditStatus;
    log->setPlainText(history);
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
    ui->actionPlay->setChecked(running);
    ui->actionPlay->setEnabled(!running);
    ui->actionStop->setChecked(!running);
    ui->actionStop->setEnabled(running);
}
