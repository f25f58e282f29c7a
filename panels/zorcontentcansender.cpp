#include "zorcontentcansender.h"

#include "programlabelvalidator.h"
#include "zorpanelicons.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>

namespace {

const QString NameProperty = QStringLiteral("SendSeqName");
const QString TextProperty = QStringLiteral("SendSequence");

} // namespace

ZorContentCanSender::ZorContentCanSender(QWidget *parent)
    : ZorPanel(parent)
{
    ZorPanelIcons::init();
    buildForm();

    // While Play is checked the player runs: selector and editor are locked.
    // The focus stays in the panel (on the panel itself), so that Esc stops.
    setFocusPolicy(Qt::ClickFocus);
    connect(m_actionPlay, &QAction::toggled, this, [this](bool on) {
        if (on && isAncestorOf(QApplication::focusWidget()))
            setFocus(Qt::OtherFocusReason);
    });
    connect(m_actionPlay, &QAction::toggled, m_actionPlay, &QAction::setDisabled);
    connect(m_actionPlay, &QAction::toggled, m_comboBoxSeq, &QWidget::setDisabled);
    connect(m_actionPlay, &QAction::toggled, m_plainTextEditSeq, &QWidget::setDisabled);
    for (QAction *a : {m_actionStop, m_actionPause, m_actionSkip, m_actionBack})
        connect(m_actionPlay, &QAction::toggled, a, &QAction::setEnabled);

    // Start in the stopped state.
    m_actionPlay->setChecked(true);
    m_actionPlay->setChecked(false);
    m_actionStop->setChecked(true);

    addShortcut(QKeySequence(Qt::Key_F5), SLOT(playShortcut()));
    addShortcut(QKeySequence(Qt::Key_Escape), SLOT(on_actionStop_triggered()));
    m_modified = false;
    m_currentSequence = 0;
    m_comboBoxSeq->setValidator(new ProgramLabelValidator(m_comboBoxSeq));

    QMetaObject::connectSlotsByName(this);
}

ZorContentCanSender::~ZorContentCanSender()
{
    savePanelState();
}

void ZorContentCanSender::buildForm()
{
    setWindowTitle(QStringLiteral("ZorContentCanSender"));
    resize(400, 300);
    auto action = [this](const char *name, const QString &text, const QString &tip,
                         const QString &icon, bool checkable) {
        auto *a = new QAction(QIcon(icon), text, this);
        a->setObjectName(QLatin1String(name));
        a->setToolTip(tip);
        a->setCheckable(checkable);
        return a;
    };
    m_actionPlay = action("actionPlay", tr("Play"), tr("Start CAN Sender (F5)"),
                          ZorPanelIcons::Play, true);
    m_actionStop = action("actionStop", tr("Stop"), tr("Stop CAN Sender (Esc)"),
                          ZorPanelIcons::Stop, true);
    m_actionStop->setEnabled(false);
    m_actionPause = action("actionPause", tr("Pause"), tr("Pause CAN Sender"),
                           ZorPanelIcons::Pause, true);
    m_actionPause->setEnabled(false);
    m_actionSkip = action("actionSkip", tr("Skip"), tr("Skip to next line"),
                          ZorPanelIcons::FastFwd, false);
    m_actionBack = action("actionBack", tr("Back"), tr("Back one line"), ZorPanelIcons::FastRev,
                          false);

    m_gridLayout = new QGridLayout(this);
    m_gridLayout->setObjectName(QStringLiteral("gridLayout"));
    m_gridLayout->setSpacing(6);
    m_gridLayout->setContentsMargins(11, 11, 11, 11);

    m_frameToolbarContainer = new QFrame(this);
    m_frameToolbarContainer->setObjectName(QStringLiteral("frameToolbarContainer"));
    auto *toolbarLayout = new QHBoxLayout(m_frameToolbarContainer);
    toolbarLayout->setContentsMargins(0, 0, 0, 0);
    m_toolBar = new QToolBar(m_frameToolbarContainer);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setIconSize(QSize(32, 32));
    for (QAction *a : {m_actionPlay, m_actionStop, m_actionPause, m_actionBack, m_actionSkip})
        m_toolBar->addAction(a);
    toolbarLayout->addWidget(m_toolBar);
    m_gridLayout->addWidget(m_frameToolbarContainer, 0, 0);

    m_comboBoxSeq = new QComboBox(this);
    m_comboBoxSeq->setObjectName(QStringLiteral("comboBoxSeq"));
    m_comboBoxSeq->setEditable(true);
    m_comboBoxSeq->setMaxCount(SequenceCount);
    m_comboBoxSeq->setInsertPolicy(QComboBox::InsertAtCurrent);
    m_gridLayout->addWidget(m_comboBoxSeq, 1, 0);

    m_plainTextEditSeq = new QPlainTextEdit(this);
    m_plainTextEditSeq->setObjectName(QStringLiteral("plainTextEditSeq"));
    QFont font(QStringLiteral("Lucida Console"), 10);
    font.setStyleHint(QFont::TypeWriter);
    m_plainTextEditSeq->setFont(font);
    m_plainTextEditSeq->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_gridLayout->addWidget(m_plainTextEditSeq, 2, 0);
    m_gridLayout->setRowStretch(2, 1);

    setTabOrder(m_comboBoxSeq, m_plainTextEditSeq);
}

QString ZorContentCanSender::itemPrefix(int index)
{
    return QStringLiteral("%1: ").arg(index + 1, 2, 10, QLatin1Char('0'));
}

void ZorContentCanSender::send(int type, const QVariant &data)
{
    sendGuiMsg(ZorMessage(type, KS_REQUEST, data));
}

// --- binding and storing

bool ZorContentCanSender::setupZorPanel(const QPersistentModelIndex &index,
                                        ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    {
        // Filling the box must not commit or ask for texts item by item.
        const QSignalBlocker blocker(m_comboBoxSeq);
        m_comboBoxSeq->clear();
        for (int i = 0; i < SequenceCount; ++i) {
            m_comboBoxSeq->addItem(QStringLiteral("%1").arg(i + 1, 2, 10, QLatin1Char('0')));
            send(KM_GETPROPERTY, NameProperty + QString::number(i));
        }
        m_comboBoxSeq->setCurrentIndex(0);
    }
    on_comboBoxSeq_currentIndexChanged(0);
    return bound;
}

QString ZorContentCanSender::commitPanelSettings()
{
    if (m_modified && m_currentSequence >= 0) {
        send(KM_SETPROPERTY, TextProperty + QString::number(m_currentSequence) + QLatin1Char('=')
                                 + m_plainTextEditSeq->toPlainText());
        m_modified = false;
    }
    return QString();
}

// --- user actions

void ZorContentCanSender::on_actionPlay_triggered()
{
    commitPanelSettings();
    send(KM_COMM_OPEN, QString());
    send(KM_PLAYERCMD_PLAY, m_comboBoxSeq->currentIndex());
}

void ZorContentCanSender::playShortcut()
{
    if (m_actionPlay->isEnabled())
        m_actionPlay->trigger();
}

void ZorContentCanSender::on_actionStop_triggered()
{
    send(KM_PLAYERCMD_STOP, QString());
}

void ZorContentCanSender::on_actionPause_triggered()
{
    send(KM_PLAYERCMD_PAUSE, m_actionPause->isChecked() ? 1 : 0);
}

void ZorContentCanSender::on_actionSkip_triggered()
{
    send(KM_PLAYERCMD_SKIP, QString());
}

void ZorContentCanSender::on_actionBack_triggered()
{
    send(KM_PLAYERCMD_BACK, QString());
}

void ZorContentCanSender::on_comboBoxSeq_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    commitPanelSettings();
    m_currentSequence = index;
    send(KM_GETPROPERTY, TextProperty + QString::number(index));
}

void ZorContentCanSender::on_comboBoxSeq_editTextChanged(const QString &text)
{
    const int current = m_comboBoxSeq->currentIndex();
    if (current < 0 || text == m_comboBoxSeq->itemText(current))
        return;
    // Renaming the item rewrites the line edit; the cursor stays where the
    // user types.
    QLineEdit *edit = m_comboBoxSeq->lineEdit();
    const int cursor = edit ? edit->cursorPosition() : 0;
    m_comboBoxSeq->setItemText(current, text);
    if (edit && edit->text() == text)
        edit->setCursorPosition(cursor);
    send(KM_SETPROPERTY, NameProperty + QString::number(current) + QLatin1Char('=')
                             + text.mid(ProgramLabelValidator::PrefixLength));
}

void ZorContentCanSender::on_plainTextEditSeq_textChanged()
{
    m_currentSequence = m_comboBoxSeq->currentIndex();
    m_modified = true;
}

// --- module reports

void ZorContentCanSender::highlightLine(int line)
{
    QTextCursor cursor(m_plainTextEditSeq->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::MoveAnchor, line);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    m_plainTextEditSeq->setTextCursor(cursor);
}

void ZorContentCanSender::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    const int state = msg.msgState();
    if (state == KS_INFO || state == KS_ANSWER) {
        if (type == KM_STATUS) {
            const int status = msg.data().toInt();
            const bool playing = status == 2 || status == 3;
            m_actionPlay->setChecked(playing);
            m_actionStop->setChecked(!playing);
            m_actionPause->setChecked(status == 3);
        } else if (type == KM_PLAYER_STATUS) {
            const int line = msg.data().toInt();
            if (line >= 0)
                highlightLine(line);
        }
    }
    if (state != KS_ANSWER)
        return;
    if (type == KM_GETPROPERTY) {
        const QString text = msg.data().toString();
        const int eq = text.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? text : text.left(eq);
        const QString value = eq < 0 ? QString() : text.mid(eq + 1);
        for (int i = 0; i < SequenceCount; ++i) {
            if (name == NameProperty + QString::number(i)) {
                if (i < m_comboBoxSeq->count())
                    m_comboBoxSeq->setItemText(i, itemPrefix(i) + value);
                break;
            }
        }
        // Only the text of the sequence in the editor: a late answer for
        // one chosen before must not overwrite it.
        if (name == TextProperty + QString::number(m_currentSequence)) {
            if (m_plainTextEditSeq->toPlainText() != value)
                m_plainTextEditSeq->setPlainText(value);
            m_modified = false;
        }
    } else if (type == KM_PLAYERCMD_PLAY) {
        bool ok = false;
        const int played = msg.data().toString().section(QLatin1Char(','), 0, 0).toInt(&ok);
        if (ok && played != m_comboBoxSeq->currentIndex() && played >= 0
            && played < m_comboBoxSeq->count())
            m_comboBoxSeq->setCurrentIndex(played);
    }
}
