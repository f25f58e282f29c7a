#include "zorcontentnodeconfig.h"
#include "ui_zorcontentnodeconfig.h"

#include "zoraccesskeywidget.h"
#include "zorapplfiles.h"
#include "zorcanopenpanelicons.h"
#include "zoreditorwidget.h"
#include "zoroverlaylabel.h"
#include "zorquestionbox.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>
#include <QToolBar>

namespace {

const QString SetupObjectsDoc = QStringLiteral("SetupObjects");
const QString EditModeDoc = QStringLiteral("EditModeDoc");

const int ValueColumn = ZorDeviceDescModel::ValueColumn;
const int NameColumn = ZorDeviceDescModel::NameColumn;
const int UiFormatColumn = ZorObjEditModel::UiFormatColumn;

const char *const EditModeTexts[] = {
    QT_TRANSLATE_NOOP("ZorContentNodeConfig", "0 - Standard"),
    QT_TRANSLATE_NOOP("ZorContentNodeConfig", "1 - List Read"),
    QT_TRANSLATE_NOOP("ZorContentNodeConfig", "2 - List Read/Write"),
    QT_TRANSLATE_NOOP("ZorContentNodeConfig", "3 - Auto Store")};

}

ZorContentNodeConfig::ZorContentNodeConfig(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentNodeConfigClass)
{
    ZorCanopenPanelIcons::init();
    ui->setupUi(this);
    ui->tableViewObjEditor->installEventFilter(this);

    auto *toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar->setIconSize(QSize(48, 32));
    toolBar->addAction(ui->actionRead);
    toolBar->addAction(ui->actionWrite);
    toolBar->addAction(ui->actionStore);
    toolBar->addAction(ui->actionReset);
    toolBar->addSeparator();
    toolBar->addAction(ui->actionToggleDesignMode);
    toolBar->addAction(ui->actionPaste);
    toolBar->addAction(ui->actionDelete);
    toolBar->addAction(ui->actionCut);
    toolBar->addAction(ui->actionCopy);
    ui->verticalLayout->insertWidget(0, toolBar);

    addShortcut(QKeySequence(QStringLiteral("Ctrl+R")), SLOT(actionRead()));
    addShortcut(QKeySequence(QStringLiteral("F5")), SLOT(actionRead()));
    addShortcut(QKeySequence(QStringLiteral("Ctrl+W")), SLOT(actionWrite()));
    addShortcut(QKeySequence(QKeySequence::Cut), SLOT(on_actionCut_triggered()));
    addShortcut(QKeySequence(QKeySequence::Copy), SLOT(on_actionCopy_triggered()));
    addShortcut(QKeySequence(QKeySequence::Paste), SLOT(on_actionPaste_triggered()));
    addShortcut(QKeySequence(QKeySequence::Delete), SLOT(on_actionDelete_triggered()));

    // A checked Write keeps Read from being used and the other way round;
    // updateActions decides.
    connect(ui->actionWrite, &QAction::toggled, this, &ZorContentNodeConfig::updateActions);
    connect(ui->actionRead, &QAction::toggled, this, &ZorContentNodeConfig::updateActions);
    connect(ui->actionToggleDesignMode, &QAction::toggled, this, [this](bool on) {
        for (QAction *action : {ui->actionCopy, ui->actionPaste, ui->actionCut, ui->actionDelete}) {
            action->setVisible(on);
            action->setEnabled(on);
        }
        designModeToggled(on);
        updateActions();
    });

    setObjects(QDomDocument());
    QHeaderView *header = ui->tableViewObjEditor->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setDefaultSectionSize(120);
    header->setSectionResizeMode(ZorObjEditModel::UiFormatColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(ZorObjEditModel::CommentColumn, QHeaderView::Interactive);
    header->setHighlightSections(false);
    // Default, object type, data-object id and node id are never shown.
    for (int column : {6, 7, 4, 2, 11, 12})
        ui->tableViewObjEditor->setColumnHidden(column, true);

    for (int mode = 0; mode < 4; ++mode)
        ui->comboBoxEditMode->addItem(tr(EditModeTexts[mode]), mode);
    connect(ui->comboBoxEditMode, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { setEditMode(ui->comboBoxEditMode->itemData(index).toInt()); });
    setEditMode(0);

    // Twice, so that it ends unchecked with everything that depends on it set.
    ui->actionToggleDesignMode->trigger();
    ui->actionToggleDesignMode->trigger();
}

ZorContentNodeConfig::~ZorContentNodeConfig()
{
    savePanelState();
    delete ui;
}

bool ZorContentNodeConfig::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    registerComboBox(QStringLiteral("NodeId"), ui->comboBoxId);
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("Icon")));

    const QDomDocument objects = loadDoc(SetupObjectsDoc);
    if (!objects.isNull())
        setObjects(objects);
    else
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("NodeObjects")));
    const QDomDocument mode = loadDoc(EditModeDoc);
    if (!mode.isNull()) {
        setEditMode(mode.documentElement().text().trimmed().toInt());
    } else {
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("ReadOnly")));
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, QStringLiteral("EditMode")));
    }

    m_accessKey = new ZorAccessKeyWidget(this);
    m_accessKey->attachToPanel(this);
    ui->gridLayoutStatus->addWidget(m_accessKey, 2, 0, 1, 2);

    m_resizeTimer = new QTimer(this);
    m_resizeTimer->setSingleShot(true);
    m_resizeTimer->setInterval(1000);
    connect(m_resizeTimer, &QTimer::timeout, this, &ZorContentNodeConfig::resizeEditorColumns);
    connect(ui->tableViewObjEditor->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ZorContentNodeConfig::editorScrollBarValueChanged);

    m_hint = new ZorOverlayLabel(ui->tableViewObjEditor->viewport());
    m_hint->setObjectName(QStringLiteral("hintLabel"));
    m_hint->setText(tr("Activate Design Mode and drag data objects from the Object Editor"));
    m_hint->setHighlighted(true);
    m_hint->setAcceptDrops(true);
    m_hint->installEventFilter(this);
    m_hint->fitToParent();
    updateActions();
    return bound;
}

QString ZorContentNodeConfig::commitPanelSettings()
{
    if (m_model) {
        QDomDocument objects;
        if (objects.setContent(m_model->toXml()))
            saveDoc(objects, SetupObjectsDoc);
    }
    QDomDocument mode;
    mode.setContent(QStringLiteral("<%1>%2</%1>").arg(QStringLiteral("EditMode")).arg(qMax(m_editMode, 0)));
    saveDoc(mode, EditModeDoc);
    return QString();
}

// --- the list ---------------------------------------------------------------

void ZorContentNodeConfig::setObjects(const QDomDocument &doc)
{
    if (m_model) {
        m_model->disconnect(this);
        ui->comboBoxId->disconnect(m_model);
        m_model->deleteLater();
    }
    QItemSelectionModel *oldSelection = ui->tableViewObjEditor->selectionModel();

    m_model = new ZorObjEditModel(doc, true, this);
    if (m_model->rowCount() > 0)
        normalizeUiFormats(0, m_model->rowCount() - 1);
    connect(ui->comboBoxId, &QComboBox::editTextChanged, m_model.data(),
            &ZorDeviceDescModel::setLockedNodeId);
    m_model->setLockedNodeId(ui->comboBoxId->currentText());
    m_model->setColumnReadOnly(NameColumn, !ui->actionToggleDesignMode->isChecked());
    m_model->setColumnReadOnly(ValueColumn, m_editMode == 1);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &ZorContentNodeConfig::modelDataChanged);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &ZorContentNodeConfig::modelRowsInserted);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &ZorContentNodeConfig::updateActions);
    // A new node id resets the model, which drops the value editor's cell;
    // it takes the current row's (or the first row's) cell again.
    connect(m_model, &QAbstractItemModel::modelReset, this, &ZorContentNodeConfig::showCurrentValue);

    ui->editor->setModel(m_model);
    ui->tableViewObjEditor->setModel(m_model);
    m_selection = ui->tableViewObjEditor->selectionModel();
    if (oldSelection && oldSelection != m_selection)
        oldSelection->deleteLater();
    connect(m_selection, &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    ui->editor->selected(current.sibling(current.row(), ValueColumn));
            });
    if (m_model->rowCount() > 0)
        ui->tableViewObjEditor->selectRow(0);
    showCurrentValue();
    updateActions();
}

void ZorContentNodeConfig::normalizeUiFormats(int first, int last)
{
    if (!m_model)
        return;
    // The model's own change notices would come back here.
    const bool was = m_normalizing;
    m_normalizing = true;
    for (int row = first; row <= last && row < m_model->rowCount(); ++row) {
        const QModelIndex format = m_model->index(row, UiFormatColumn);
        const QString text = format.data(Qt::EditRole).toString();
        const QString normalized = ZorEditorWidget::normalizeSpec(text);
        if (normalized != text)
            m_model->setData(format, normalized, Qt::EditRole);
    }
    m_normalizing = was;
}

void ZorContentNodeConfig::showCurrentValue()
{
    if (!m_model || !m_selection)
        return;
    QModelIndex current = m_selection->currentIndex();
    if (!current.isValid() && m_model->rowCount() > 0)
        current = m_model->index(0, 0);
    if (current.isValid())
        ui->editor->selected(current.sibling(current.row(), ValueColumn));
}

void ZorContentNodeConfig::modelDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (m_normalizing || !m_model)
        return;
    startResizeTimer();
    const int last = m_model->columnCount() - 1;
    if (topLeft.row() == bottomRight.row() && topLeft.column() == 0 && bottomRight.column() == last) {
        normalizeUiFormats(topLeft.row(), topLeft.row());
        ui->editor->selected(topLeft.sibling(topLeft.row(), ValueColumn));
        return;
    }
    const auto within = [&](int column) {
        return topLeft.column() <= column && column <= bottomRight.column();
    };
    if (within(UiFormatColumn))
        normalizeUiFormats(topLeft.row(), bottomRight.row());
    if (within(NameColumn) || within(UiFormatColumn) || within(ZorObjEditModel::CommentColumn)
        || within(ZorObjEditModel::ScalingColumn))
        ui->editor->selected(topLeft.sibling(topLeft.row(), ValueColumn));
}

void ZorContentNodeConfig::modelRowsInserted(const QModelIndex &, int first, int last)
{
    normalizeUiFormats(first, last);
    showCurrentValue();
    startResizeTimer();
    updateActions();
}

void ZorContentNodeConfig::startResizeTimer()
{
    if (m_resizeTimer && !m_resizeTimer->isActive())
        m_resizeTimer->start();
}

void ZorContentNodeConfig::editorScrollBarValueChanged(int)
{
    startResizeTimer();
}

void ZorContentNodeConfig::resizeEditorColumns()
{
    for (int column : {3, 5, 0, 1, 6, 8, 9, 10, 13})
        ui->tableViewObjEditor->resizeColumnToContents(column);
}

QModelIndexList ZorContentNodeConfig::selectedRows() const
{
    if (!m_model || !m_selection)
        return {};
    // collectRows takes an empty list for all rows; nothing selected is none.
    const QModelIndexList selected = m_selection->selectedIndexes();
    return selected.isEmpty() ? QModelIndexList() : m_model->collectRows(selected);
}

bool ZorContentNodeConfig::dropIntoModel(const QMimeData *mime)
{
    if (!m_model || !mime)
        return false;
    const bool dropped = m_model->dropMimeData(mime, Qt::CopyAction, -1, -1, QModelIndex());
    updateActions();
    return dropped;
}

// --- edit modes, design mode, actions ----------------------------------------

void ZorContentNodeConfig::setEditMode(int mode)
{
    mode = qBound(0, mode, 3);
    if (mode == m_editMode)
        return;
    m_editMode = mode;
    {
        const QSignalBlocker blocker(ui->comboBoxEditMode);
        ui->comboBoxEditMode->setCurrentIndex(mode);
    }
    ui->labelEditModeDisplayedVal->setText(ui->comboBoxEditMode->itemText(mode));
    if (m_model)
        m_model->setColumnReadOnly(ValueColumn, mode == 1);
    ui->actionWrite->setVisible(mode != 1);
    ui->actionStore->setVisible(mode == 0);
    ui->actionReset->setVisible(mode == 0);
    ui->comboBoxId->setEnabled(mode == 0 || mode == 3);
    switch (mode) {
    case 0:
        ui->actionWrite->setToolTip(tr("Write parameter (temporarily)"));
        ui->actionRead->setToolTip(tr("Read parameter"));
        break;
    case 1:
        ui->actionRead->setToolTip(tr("Read all parameters"));
        break;
    case 2:
        ui->actionWrite->setToolTip(tr("Write all parameters (temporarily)"));
        ui->actionRead->setToolTip(tr("Read all parameters"));
        break;
    default:
        ui->actionWrite->setToolTip(tr("Write all parameters (permanently)"));
        ui->actionRead->setToolTip(tr("Read all parameters"));
        break;
    }
    updateActions();
}

void ZorContentNodeConfig::updateActions()
{
    const bool hasRows = m_model && m_model->rowCount() > 0;
    if (m_hint) {
        m_hint->fitToParent();
        m_hint->setVisible(!hasRows && ui->actionToggleDesignMode->isVisible());
    }
    const auto usable = [hasRows](QAction *action) { return action->isVisible() && hasRows; };
    ui->actionCut->setEnabled(usable(ui->actionCut));
    ui->actionDelete->setEnabled(usable(ui->actionDelete));
    ui->actionReset->setEnabled(usable(ui->actionReset));
    ui->actionRead->setEnabled(usable(ui->actionRead) && !ui->actionWrite->isChecked());
    ui->actionWrite->setEnabled(usable(ui->actionWrite) && !ui->actionRead->isChecked());
}

void ZorContentNodeConfig::setUserLevel(int level)
{
    ZorPanel::setUserLevel(level);
    if (level < 2 && ui->actionToggleDesignMode->isChecked()) {
        ui->actionToggleDesignMode->setChecked(false);
        on_actionToggleDesignMode_triggered(false);
    }
    ui->actionToggleDesignMode->setVisible(level > 1);
    updateActions();
}

void ZorContentNodeConfig::on_actionToggleDesignMode_triggered(bool on)
{
    ui->tableViewObjEditor->setAcceptDrops(on);
    ui->tableViewObjEditor->setDragDropMode(on ? QAbstractItemView::DragDrop
                                               : QAbstractItemView::DragOnly);
    ui->tableViewObjEditor->setDefaultDropAction(on ? Qt::CopyAction : Qt::IgnoreAction);
    for (int column : {8, 9, 11, 12, 13})
        ui->tableViewObjEditor->setColumnHidden(column, !on);
    if (m_model)
        m_model->setColumnReadOnly(NameColumn, !on);
}

void ZorContentNodeConfig::designModeToggled(bool on)
{
    ui->comboBoxEditMode->setVisible(on);
    if (!on)
        ui->labelEditModeDisplayedVal->setText(ui->comboBoxEditMode->currentText());
    ui->labelEditModeDisplayedVal->setVisible(!on);
}

// --- the clipboard ----------------------------------------------------------

void ZorContentNodeConfig::on_actionPaste_triggered()
{
    if (!ui->actionToggleDesignMode->isChecked())
        return;
    dropIntoModel(QApplication::clipboard()->mimeData());
    updateActions();
}

void ZorContentNodeConfig::on_actionCopy_triggered()
{
    const QModelIndexList rows = selectedRows();
    if (!m_model || rows.isEmpty())
        return;
    if (QMimeData *mime = m_model->mimeData(rows))
        QApplication::clipboard()->setMimeData(mime);
}

void ZorContentNodeConfig::on_actionCut_triggered()
{
    if (!ui->actionToggleDesignMode->isChecked())
        return;
    on_actionCopy_triggered();
    if (m_model)
        m_model->removeRows(selectedRows());
    updateActions();
}

void ZorContentNodeConfig::on_actionDelete_triggered()
{
    if (!ui->actionToggleDesignMode->isChecked())
        return;
    if (m_model)
        m_model->removeRows(selectedRows());
    updateActions();
}

// --- reading and writing ----------------------------------------------------

void ZorContentNodeConfig::send(const ZorMessage &msg)
{
    if (msg.msgType() == KM_OBJLIST_WRITE || msg.msgType() == KM_OBJLIST_READ)
        m_sent.insert(msg.msgId(), msg);
    sendGuiMsg(msg);
}

void ZorContentNodeConfig::sendNextQueued()
{
    if (!m_queue.isEmpty())
        send(m_queue.takeNext());
}

bool ZorContentNodeConfig::sendRowRequests(int msgType)
{
    if (!m_model || !m_queue.isEmpty())
        return false;
    if (selectedRows().isEmpty())
        ui->tableViewObjEditor->selectAll();
    if (!m_queue.fill(m_model, selectedRows(), msgType))
        return false;
    sendNextQueued();
    return true;
}

void ZorContentNodeConfig::sendListRequest(int msgType, const QString &text)
{
    send(ZorMessage(msgType, KS_REQUEST, text));
}

bool ZorContentNodeConfig::confirm(const QString &title, const QString &text)
{
    return ZorQuestionBox::confirm(this, title, text, QMessageBox::Ok);
}

void ZorContentNodeConfig::on_actionWrite_triggered(bool checked)
{
    if (!m_model)
        return;
    if (m_editMode == 0) {
        m_queue.abort(m_model, tr("aborted"));
        if (!checked)
            return;
        if (selectedRows().isEmpty()
            && !confirm(tr("Write Parameters"), tr("No parameters selected.\nSelect and write ALL parameters?"))) {
            ui->actionWrite->setChecked(false);
            return;
        }
        if (!sendRowRequests(KM_OBJLIST_WRITE))
            ui->actionWrite->setChecked(false);
        return;
    }
    if (!checked) {
        sendGuiMsg(ZorMessage(KM_CANCEL_INTERVIEWS, KS_REQUEST));
        return;
    }
    if (m_editMode != 3 && !confirm(tr("Write all parameters"), tr("Are you sure?"))) {
        ui->actionWrite->setChecked(false);
        return;
    }
    QString text = m_model->objectListRequest(QModelIndexList(), KM_OBJLIST_WRITE, false);
    if (text.trimmed().isEmpty()) {
        ui->actionWrite->setChecked(false);
        return;
    }
    // Auto Store: the values, then the node's store command, in one request.
    if (m_editMode == 3) {
        while (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        text += QLatin1String("\nStoreCmd");
    }
    sendListRequest(KM_OBJLIST_WRITE, text);
}

void ZorContentNodeConfig::on_actionRead_triggered(bool checked)
{
    if (!m_model)
        return;
    if (m_editMode == 0) {
        m_queue.abort(m_model, tr("aborted"));
        if (checked && !sendRowRequests(KM_OBJLIST_READ))
            ui->actionRead->setChecked(false);
        return;
    }
    if (!checked) {
        sendGuiMsg(ZorMessage(KM_CANCEL_INTERVIEWS, KS_REQUEST));
        return;
    }
    const QString text = m_model->objectListRequest(QModelIndexList(), KM_OBJLIST_READ, false);
    if (text.trimmed().isEmpty()) {
        ui->actionRead->setChecked(false);
        return;
    }
    sendListRequest(KM_OBJLIST_READ, text);
}

void ZorContentNodeConfig::actionRead()
{
    if (ui->actionRead->isChecked() || !ui->actionRead->isEnabled())
        return;
    ui->actionRead->setChecked(true);
    on_actionRead_triggered(true);
}

void ZorContentNodeConfig::actionWrite()
{
    if (ui->actionWrite->isChecked() || !ui->actionWrite->isEnabled() || !ui->actionWrite->isVisible())
        return;
    ui->actionWrite->setChecked(true);
    on_actionWrite_triggered(true);
}

void ZorContentNodeConfig::on_actionStore_triggered()
{
    if (confirm(tr("Store parameters"), tr("Store all parameters permanently. Are you sure?")))
        send(ZorMessage(KM_OBJLIST_WRITE, KS_REQUEST, QStringLiteral("StoreCmd")));
}

void ZorContentNodeConfig::on_actionReset_triggered()
{
    if (confirm(tr("Reset to Factory"), tr("Reset all parameters to factory settings. Are you sure?")))
        send(ZorMessage(KM_OBJLIST_WRITE, KS_REQUEST, QStringLiteral("ResetCmd")));
}

// --- from the module --------------------------------------------------------

void ZorContentNodeConfig::processIn(const ZorMessage &msg)
{
    if (m_accessKey)
        m_accessKey->msgIn(msg);
    const int type = msg.msgType();
    const int state = msg.msgState();
    if (state == KS_INFO || state == KS_ANSWER) {
        if (type == KM_STATUS) {
            const int status = msg.data().toInt();
            if (noteStatus(status))
                ui->lineEditState->setStyleSheet(statusStyleSheet(status));
        } else if (type == KM_INFOTEXT) {
            const QString text = msg.data().toString();
            if (!text.contains(QLatin1String("Emergency"))) {
                // A narrow dock shows the start of the text; the tip has all.
                ui->lineEditState->setText(text);
                ui->lineEditState->setCursorPosition(0);
                ui->lineEditState->setToolTip(text);
            }
        }
    }

    if (type == KM_GETPROPERTY) {
        const QString data = msg.data().toString();
        const int eq = data.indexOf(QLatin1Char('='));
        if (eq < 0)
            return;
        const QString name = data.left(eq).trimmed();
        const QString value = data.mid(eq + 1);
        if (name == QLatin1String("NodeObjects") && !value.trimmed().isEmpty()) {
            setObjects(QDomDocument());
            QMimeData mime;
            mime.setText(value);
            // The module's list is emptied only once its rows are here.
            if (dropIntoModel(&mime) && m_model->rowCount() > 0)
                sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("NodeObjects=")));
        } else if (name == QLatin1String("Icon") && !value.trimmed().isEmpty()) {
            QString path = value.trimmed();
            ZorApplServices::makeAbsoluteToWorkingDir(path);
            const QPixmap picture(path);
            if (!picture.isNull())
                ui->labelIcon->setPixmap(picture);
        } else if (name == QLatin1String("ReadOnly") && !value.trimmed().isEmpty()) {
            setEditMode(value.trimmed().toInt() > 0 ? 1 : 0);
            sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("ReadOnly=")));
        } else if (name == QLatin1String("EditMode") && !value.trimmed().isEmpty()) {
            setEditMode(value.trimmed().toInt());
            sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("EditMode=")));
        }
        return;
    }

    if ((type != KM_OBJLIST_WRITE && type != KM_OBJLIST_READ) || state == KS_REQUEST
        || state == KS_WAITING)
        return;
    // Only answers to this panel's own requests: the module sends every
    // answer to all its masters, the object editor among them.
    if (!m_sent.contains(msg.msgId()))
        return;
    const ZorMessage request = m_sent.take(msg.msgId());
    const QString text = msg.data().toString();
    // Each row shows its own result, also when the answer as a whole failed
    // (one missing object makes a list's answer KS_FAIL).
    if (m_model)
        m_model->applyRequestAnswer(request.data().toString(), msg);
    if (m_editMode == 0) {
        if (m_queue.landed(msg.msgId())) {
            if (m_queue.isEmpty()) {
                ui->actionWrite->setChecked(false);
                ui->actionRead->setChecked(false);
            } else {
                sendNextQueued();
            }
        }
    } else {
        ui->actionWrite->setChecked(false);
        ui->actionRead->setChecked(false);
    }
    const bool reset = text.simplified().endsWith(QLatin1String("ResetCmd"))
        || request.data().toString().simplified().endsWith(QLatin1String("ResetCmd"));
    if (type == KM_OBJLIST_WRITE && state == KS_ANSWER && reset)
        QTimer::singleShot(2000, this, &ZorContentNodeConfig::actionRead);
}

// --- events -----------------------------------------------------------------

bool ZorContentNodeConfig::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->tableViewObjEditor && event->type() == QEvent::Resize) {
        if (m_hint)
            m_hint->fitToParent();
    } else if (watched == m_hint && event->type() == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        if (ui->actionToggleDesignMode->isChecked() && dropIntoModel(drop->mimeData()))
            drop->acceptProposedAction();
        return true;
    }
    return ZorPanel::eventFilter(watched, event);
}
