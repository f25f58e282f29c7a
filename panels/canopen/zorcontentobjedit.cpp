#include "zorcontentobjedit.h"
#include "ui_zorcontentobjedit.h"

#include "zoraccesskeywidget.h"
#include "zorapplfiles.h"
#include "zorbabelfish.h"
#include "zorcanopenpanelicons.h"
#include "zordataobjectfilterproxy.h"
#include "zordevicedictmodel.h"
#include "zorobjeditmodel.h"
#include "zoroverlaylabel.h"
#include "zorquestionbox.h"
#include "zorwrappingtoolbar.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <memory>

namespace {

const QString ObjectListProperty = QStringLiteral("ObjectList");
const QString ObjectsEditedProperty = QStringLiteral("ObjectsEdited");
const QString EditorObjectsDoc = QStringLiteral("EditorObjects");

// Source columns the search fields look in: "Name" and "Data Object Id".
const QList<int> SearchColumns = {3, 4};

}

ZorContentObjEdit::ZorContentObjEdit(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentObjEditClass)
{
    ZorCanopenPanelIcons::init();
    ui->setupUi(this);
    ui->treeViewDeviceCfg->installEventFilter(this);
    ui->tableViewEditor->installEventFilter(this);

    // Fourteen actions: in a narrow panel the tool bar takes a second line
    // rather than hiding the last ones.
    auto *toolBar = new ZorWrappingToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->setIconSize(QSize(32, 32));
    for (QAction *action : {ui->actionRead, ui->actionEdit, ui->actionWrite, ui->actionStore,
                            ui->actionReset, ui->actionSynch, ui->actionOpen, ui->actionAdd,
                            ui->actionDelete, ui->actionCut, ui->actionCopy, ui->actionPaste,
                            ui->actionDefault, ui->actionExport})
        toolBar->addButton(action);
    ui->gridLayoutTop->addWidget(toolBar, 2, 0, 1, 4);
    // Which actions may be used follows from the checked ones (Write
    // excludes Read and the other way round, Synch excludes both and Store
    // and Reset), all decided in updateEditorActions.
    for (QAction *action : {ui->actionWrite, ui->actionRead, ui->actionSynch})
        connect(action, &QAction::toggled, this, &ZorContentObjEdit::updateEditorActions);

    addShortcut(QKeySequence(QKeySequence::Cut), SLOT(on_actionCut_triggered()));
    addShortcut(QKeySequence(QKeySequence::Copy), SLOT(on_actionCopy_triggered()));
    addShortcut(QKeySequence(QKeySequence::Paste), SLOT(on_actionPaste_triggered()));
    addShortcut(QKeySequence(QKeySequence::Delete), SLOT(on_actionDelete_triggered()));
    addShortcut(QKeySequence(QStringLiteral("Ctrl+R")), SLOT(actionRead()));
    addShortcut(QKeySequence(QStringLiteral("F5")), SLOT(actionRead()));
    addShortcut(QKeySequence(QStringLiteral("Ctrl+W")), SLOT(actionWrite()));

    m_treeOverlay = new ZorOverlayLabel(ui->treeViewDeviceCfg->viewport());
    m_treeOverlay->setObjectName(QStringLiteral("overlayDictionary"));
    m_tableOverlay = new ZorOverlayLabel(ui->tableViewEditor->viewport());
    m_tableOverlay->setObjectName(QStringLiteral("overlayEditor"));

    setDictionaryDocument(QDomDocument());
    setEditorDocument(QDomDocument());
    ui->treeViewDeviceCfg->setFocus();
    connect(ui->lineEditSearchDict, &QLineEdit::textChanged, this,
            &ZorContentObjEdit::searchInDictTextChanged);
    connect(ui->lineEditSearchEditor, &QLineEdit::textChanged, this,
            &ZorContentObjEdit::searchInEditorTextChanged);
    ui->lineEditSearchEditor->hide();
}

ZorContentObjEdit::~ZorContentObjEdit()
{
    if (m_editorModel)
        m_editorModel->stopObjectUpdate();
    savePanelState();
    delete ui;
}

bool ZorContentObjEdit::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);

    const QDomDocument stored = loadDoc(EditorObjectsDoc);
    if (!stored.isNull()) {
        setEditorDocument(stored);
    } else {
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, ObjectListProperty));
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, ObjectsEditedProperty));
    }
    registerComboBox(QStringLiteral("NodeId"), ui->comboBoxId);
    registerLineEdit(QStringLiteral("ConfigFilePath"), ui->lineEditFilePath);

    m_accessKey = new ZorAccessKeyWidget(this);
    m_accessKey->attachToPanel(this);
    ui->gridLayoutEditor->addWidget(m_accessKey, 0, 1);

    m_resizeTimer = new QTimer(this);
    m_resizeTimer->setSingleShot(true);
    m_resizeTimer->setInterval(1000);
    connect(m_resizeTimer, &QTimer::timeout, this, &ZorContentObjEdit::resizeEditorColumns);
    connect(ui->tableViewEditor->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ZorContentObjEdit::editorScrollBarValueChanged);

    m_treeOverlay->setText(tr("Load a dictionary file using 'Open Dict.'"));
    m_tableOverlay->setText(tr("Drag or double-click data objects from the dictionary above"));
    m_tableOverlay->setHighlighted(true);
    m_tableOverlay->setAcceptDrops(true);
    m_tableOverlay->installEventFilter(this);
    updateEditorActions();
    return bound;
}

QString ZorContentObjEdit::commitPanelSettings()
{
    if (m_editorModel) {
        QDomDocument doc;
        if (doc.setContent(m_editorModel->toXml()))
            saveDoc(doc, EditorObjectsDoc);
    }
    return QString();
}

// --- models and views -------------------------------------------------------

void ZorContentObjEdit::setDictionaryDocument(const QDomDocument &doc)
{
    if (m_dictModel) {
        m_dictModel->disconnect(this);
        ui->comboBoxId->disconnect(m_dictModel);
        m_dictModel->deleteLater();
    }
    if (m_dictProxy)
        m_dictProxy->deleteLater();
    QItemSelectionModel *oldSelection = ui->treeViewDeviceCfg->selectionModel();

    m_dictModel = new ZorDeviceDictModel(doc, this);
    ui->lineEditSearchDict->clear();
    m_dictProxy = new ZorDataObjectFilterProxy(this);
    m_dictProxy->filterColumns = SearchColumns;
    m_dictProxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_dictProxy->setSourceModel(m_dictModel);
    ui->treeViewDeviceCfg->setModel(m_dictProxy);
    m_dictSelection = ui->treeViewDeviceCfg->selectionModel();
    if (oldSelection && oldSelection != m_dictSelection)
        oldSelection->deleteLater();
    connect(m_dictSelection, &QItemSelectionModel::currentChanged, this,
            &ZorContentObjEdit::dictionarySelectionChanged);
    connect(m_dictProxy, &QAbstractItemModel::modelReset, this, &ZorContentObjEdit::updateEditorActions);
    connect(m_dictProxy, &QAbstractItemModel::layoutChanged, this, &ZorContentObjEdit::updateEditorActions);
    connect(m_dictProxy, &QAbstractItemModel::rowsInserted, this, &ZorContentObjEdit::updateEditorActions);
    connect(m_dictProxy, &QAbstractItemModel::rowsRemoved, this, &ZorContentObjEdit::updateEditorActions);

    QHeaderView *header = ui->treeViewDeviceCfg->header();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->treeViewDeviceCfg->setColumnHidden(ZorDeviceDescModel::NodeIdColumn, true);
    ui->treeViewDeviceCfg->setColumnHidden(ZorDeviceDescModel::DataObjectIdColumn, true);

    connect(ui->comboBoxId, &QComboBox::editTextChanged, m_dictModel.data(),
            &ZorDeviceDescModel::setLockedNodeId);
    m_dictModel->setLockedNodeId(ui->comboBoxId->currentText());
    updateEditorActions();
}

void ZorContentObjEdit::setEditorDocument(const QDomDocument &doc)
{
    if (ui->actionSynch->isChecked()) {
        ui->actionSynch->setChecked(false);
        abortQueue();
    }
    if (m_editorModel) {
        m_editorModel->stopObjectUpdate();
        m_editorModel->disconnect(this);
        ui->comboBoxId->disconnect(m_editorModel);
        m_editorModel->deleteLater();
    }
    if (m_editorProxy)
        m_editorProxy->deleteLater();
    QItemSelectionModel *oldSelection = ui->tableViewEditor->selectionModel();

    m_editorModel = new ZorObjEditModel(doc, true, this);
    m_editorProxy = new ZorDataObjectFilterProxy(this);
    m_editorProxy->filterColumns = SearchColumns;
    m_editorProxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_editorProxy->setSourceModel(m_editorModel);
    ui->tableViewEditor->setModel(m_editorProxy);
    m_editorSelection = ui->tableViewEditor->selectionModel();
    if (oldSelection && oldSelection != m_editorSelection)
        oldSelection->deleteLater();
    connect(m_editorSelection, &QItemSelectionModel::currentChanged, this,
            &ZorContentObjEdit::editorSelectionChanged);
    connect(m_editorProxy, &QAbstractItemModel::modelReset, this, &ZorContentObjEdit::updateEditorActions);
    connect(m_editorProxy, &QAbstractItemModel::layoutChanged, this, &ZorContentObjEdit::updateEditorActions);
    connect(m_editorProxy, &QAbstractItemModel::rowsRemoved, this, &ZorContentObjEdit::updateEditorActions);

    connect(ui->comboBoxId, &QComboBox::editTextChanged, m_editorModel.data(),
            &ZorDeviceDescModel::setLockedNodeId);
    setTableAppearance();
    m_editorModel->setLockedNodeId(ui->comboBoxId->currentText());
    connect(m_editorModel, &ZorObjEditModel::objectUpdateOut, this, &ZorPanel::sendGuiMsg);
    connect(m_editorModel, &QAbstractItemModel::dataChanged, this,
            &ZorContentObjEdit::editorModelDataChanged);
    connect(m_editorModel, &QAbstractItemModel::rowsInserted, this,
            &ZorContentObjEdit::editorModelRowsInserted);
    updateEditorActions();
}

void ZorContentObjEdit::loadDictionaryFileInBackground(const QString &path, bool fromDialog)
{
    QString absolute = path.trimmed();
    if (!absolute.isEmpty())
        ZorApplServices::makeAbsoluteToWorkingDir(absolute);
    struct Outcome
    {
        QDomDocument doc;
        QString error;
        bool read = false;
    };
    auto outcome = std::make_shared<Outcome>();
    const int load = ++m_dictionaryLoads;
    // A description file can be large: it is read and parsed in a thread of
    // its own, and the window goes on meanwhile.
    QThread *reader = QThread::create([absolute, outcome] {
        outcome->read = ZorDeviceDictModel::readDescriptionFile(absolute, outcome->doc, &outcome->error);
    });
    connect(reader, &QThread::finished, reader, &QObject::deleteLater);
    connect(reader, &QThread::finished, this, [this, load, outcome, path, fromDialog] {
        // A later load replaced this one.
        if (load != m_dictionaryLoads)
            return;
        m_treeOverlay->setText(tr("Load a dictionary file using 'Open Dict.'"));
        setDictionaryDocument(outcome->read ? outcome->doc : QDomDocument());
        if (fromDialog && !outcome->read) {
            warn(tr("File error"), tr("Could not open\n%1").arg(path) + QStringLiteral("\n\n") + outcome->error);
        } else if (fromDialog) {
            QString relative = path;
            ZorApplServices::makeRelativeToWorkingDir(relative);
            ui->lineEditFilePath->setText(relative);
            propertyEdited(QStringLiteral("ConfigFilePath"));
        }
        emit dictionaryLoaded(outcome->read);
    });
    m_treeOverlay->setText(tr("Reading %1 ...").arg(QFileInfo(absolute).fileName()));
    reader->start();
}

void ZorContentObjEdit::setTableAppearance()
{
    QHeaderView *header = ui->tableViewEditor->horizontalHeader();
    header->setDefaultSectionSize(120);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setHighlightSections(false);
    for (int column = 0; column < ZorObjEditModel::EditColumnCount; ++column)
        ui->tableViewEditor->setColumnHidden(column, false);
    // Object type, node id, data-object id and edit comment.
    for (int column : {7, 2, 4, 12})
        ui->tableViewEditor->setColumnHidden(column, true);
    if (userLevel() < 2) {
        // Access, UI format and scaling are for experts.
        for (int column : {9, 11, 13})
            ui->tableViewEditor->setColumnHidden(column, true);
    }
    resizeEditorColumns();
    // The user sizes the UI format column; it starts wide enough for its
    // texts.
    ui->tableViewEditor->resizeColumnToContents(ZorObjEditModel::UiFormatColumn);
}

void ZorContentObjEdit::setUserLevel(int level)
{
    ZorPanel::setUserLevel(level);
    setTableAppearance();
}

void ZorContentObjEdit::resizeEditorColumns()
{
    for (int column : {3, 5, 0, 1, 6, 8, 10, 13})
        ui->tableViewEditor->resizeColumnToContents(column);
}

void ZorContentObjEdit::updateEditorActions()
{
    const bool dictRows = m_dictProxy && m_dictProxy->rowCount() > 0;
    const bool editorRows = m_editorProxy && m_editorProxy->rowCount() > 0;
    const bool synch = ui->actionSynch->isChecked();
    if (m_treeOverlay) {
        m_treeOverlay->fitToParent();
        m_treeOverlay->setVisible(!dictRows);
    }
    if (m_tableOverlay) {
        m_tableOverlay->fitToParent();
        m_tableOverlay->setVisible(!editorRows);
    }
    ui->actionAdd->setEnabled(dictRows);
    ui->actionRead->setEnabled(editorRows && !synch && !ui->actionWrite->isChecked());
    ui->actionWrite->setEnabled(editorRows && !synch && !ui->actionRead->isChecked());
    ui->actionStore->setEnabled(!synch);
    ui->actionReset->setEnabled(!synch);
    for (QAction *action : {ui->actionEdit, ui->actionSynch, ui->actionDelete, ui->actionCut,
                            ui->actionDefault, ui->actionExport})
        action->setEnabled(editorRows);
}

void ZorContentObjEdit::searchInDictTextChanged(const QString &text)
{
    if (m_dictProxy)
        m_dictProxy->setFilterWildcard(text);
    updateEditorActions();
}

void ZorContentObjEdit::searchInEditorTextChanged(const QString &text)
{
    if (m_editorProxy)
        m_editorProxy->setFilterWildcard(text);
    updateEditorActions();
}

void ZorContentObjEdit::editorModelDataChanged(const QModelIndex &, const QModelIndex &)
{
    if (m_resizeTimer && !m_resizeTimer->isActive())
        m_resizeTimer->start();
}

void ZorContentObjEdit::editorModelRowsInserted(const QModelIndex &, int, int)
{
    if (m_resizeTimer && !m_resizeTimer->isActive())
        m_resizeTimer->start();
    updateEditorActions();
}

void ZorContentObjEdit::editorScrollBarValueChanged(int)
{
    if (m_resizeTimer && !m_resizeTimer->isActive())
        m_resizeTimer->start();
}

// --- selections -------------------------------------------------------------

QModelIndexList ZorContentObjEdit::selectedEditorRows() const
{
    if (!m_editorModel || !m_editorSelection)
        return {};
    // collectRows takes an empty list for all rows; nothing selected is none.
    const QModelIndexList selected = m_editorProxy->selectedSourceIndexes(m_editorSelection->selection());
    return selected.isEmpty() ? QModelIndexList() : m_editorModel->collectRows(selected);
}

QModelIndexList ZorContentObjEdit::selectedDictionaryRows() const
{
    if (!m_dictModel || !m_dictSelection)
        return {};
    const QModelIndexList selected = m_dictProxy->selectedSourceIndexes(m_dictSelection->selection());
    return selected.isEmpty() ? QModelIndexList() : m_dictModel->collectRows(selected);
}

void ZorContentObjEdit::selectAllEditorRows()
{
    ui->tableViewEditor->selectAll();
}

void ZorContentObjEdit::dictionarySelectionChanged(const QModelIndex &current, const QModelIndex &)
{
    if (!m_dictModel || !m_editorModel)
        return;
    const QModelIndex source = m_dictProxy->mapToSource(current);
    if (!source.isValid())
        return;
    QString indexText = source.sibling(source.row(), 0).data().toString();
    if (indexText.isEmpty() && source.parent().isValid())
        indexText = source.parent().data().toString();
    if (indexText.isEmpty())
        return;
    const QString subText = source.sibling(source.row(), 1).data().toString();
    const QModelIndex found = m_editorModel->findObject(QString(), indexText, subText);
    const QModelIndex shown = m_editorProxy->mapFromSource(found);
    if (shown.isValid())
        ui->tableViewEditor->setCurrentIndex(shown);
}

void ZorContentObjEdit::editorSelectionChanged(const QModelIndex &current, const QModelIndex &)
{
    if (!m_dictModel || !m_editorModel)
        return;
    const QModelIndex source = m_editorProxy->mapToSource(current);
    if (!source.isValid())
        return;
    const QString indexText = source.sibling(source.row(), 0).data().toString();
    if (indexText.isEmpty())
        return;
    const QString subText = source.sibling(source.row(), 1).data().toString();
    const QModelIndex found = m_dictModel->findObject(QString(), indexText, subText);
    const QModelIndex shown = m_dictProxy->mapFromSource(found);
    if (shown.isValid()) {
        ui->treeViewDeviceCfg->setCurrentIndex(shown);
        ui->treeViewDeviceCfg->scrollTo(shown);
    }
}

// --- adding, clipboard, deletion --------------------------------------------

bool ZorContentObjEdit::dropIntoEditor(const QMimeData *mime)
{
    if (!mime || !m_editorModel)
        return false;
    const bool dropped = m_editorModel->dropMimeData(mime, Qt::CopyAction, -1, -1, QModelIndex());
    m_editorProxy->invalidate();
    updateEditorActions();
    return dropped;
}

void ZorContentObjEdit::addToEditor(const QModelIndexList &dictionaryRows)
{
    if (!m_dictModel || dictionaryRows.isEmpty())
        return;
    std::unique_ptr<QMimeData> mime(m_dictModel->mimeData(dictionaryRows));
    if (mime)
        dropIntoEditor(mime.get());
}

void ZorContentObjEdit::on_actionAdd_triggered()
{
    if (m_treeFocused)
        addToEditor(selectedDictionaryRows());
}

void ZorContentObjEdit::on_treeViewDeviceCfg_doubleClicked(const QModelIndex &index)
{
    const QModelIndex source = m_dictProxy ? m_dictProxy->mapToSource(index) : QModelIndex();
    if (source.isValid())
        addToEditor({source.sibling(source.row(), 0)});
}

void ZorContentObjEdit::on_actionCopy_triggered()
{
    QMimeData *mime = nullptr;
    if (m_tableFocused && m_editorModel) {
        const QModelIndexList rows = selectedEditorRows();
        if (!rows.isEmpty())
            mime = m_editorModel->mimeData(rows);
    } else if (m_treeFocused && m_dictModel) {
        const QModelIndexList rows = selectedDictionaryRows();
        if (!rows.isEmpty())
            mime = m_dictModel->mimeData(rows);
    }
    if (mime)
        QApplication::clipboard()->setMimeData(mime);
}

void ZorContentObjEdit::on_actionCut_triggered()
{
    on_actionCopy_triggered();
    if (m_tableFocused && m_editorModel) {
        m_editorModel->removeRows(selectedEditorRows());
        updateEditorActions();
    }
}

void ZorContentObjEdit::on_actionDelete_triggered()
{
    if (m_tableFocused && m_editorModel) {
        m_editorModel->removeRows(selectedEditorRows());
        updateEditorActions();
    }
}

void ZorContentObjEdit::on_actionPaste_triggered()
{
    dropIntoEditor(QApplication::clipboard()->mimeData());
}

void ZorContentObjEdit::on_actionEdit_triggered()
{
    if (!m_tableFocused || !m_editorSelection)
        return;
    const QModelIndex current = m_editorSelection->currentIndex();
    if (!current.isValid())
        return;
    const QModelIndex value = current.sibling(current.row(), ZorDeviceDescModel::ValueColumn);
    ui->tableViewEditor->setCurrentIndex(value);
    ui->tableViewEditor->edit(value);
}

// --- reading and writing ----------------------------------------------------

bool ZorContentObjEdit::sendObjectListRequest(int msgType)
{
    if (!m_editorModel || !m_queue.isEmpty())
        return false;
    QModelIndexList rows = selectedEditorRows();
    if (rows.isEmpty()) {
        selectAllEditorRows();
        rows = selectedEditorRows();
        // Rows the search hides stay out.
        if (rows.isEmpty())
            return false;
    }
    if (!m_queue.fill(m_editorModel, rows, msgType))
        return false;
    sendNextQueued();
    return true;
}

void ZorContentObjEdit::sendNextQueued()
{
    if (m_queue.isEmpty())
        return;
    const ZorMessage next = m_queue.takeNext();
    m_sent.insert(next.msgId(), next);
    sendGuiMsg(next);
}

void ZorContentObjEdit::abortQueue()
{
    // The request on its way no longer holds up the next one; its answer
    // still lands in its row.
    m_queue.forgetInFlight();
    m_queue.abort(m_editorModel, tr("aborted"));
}

void ZorContentObjEdit::on_actionRead_triggered(bool checked)
{
    abortQueue();
    if (checked && !sendObjectListRequest(KM_OBJLIST_READ))
        ui->actionRead->setChecked(false);
}

void ZorContentObjEdit::actionRead()
{
    if (ui->actionRead->isChecked() || !ui->actionRead->isEnabled())
        return;
    ui->actionRead->setChecked(true);
    abortQueue();
    if (!sendObjectListRequest(KM_OBJLIST_READ))
        ui->actionRead->setChecked(false);
}

void ZorContentObjEdit::on_actionWrite_triggered(bool checked)
{
    abortQueue();
    if (!checked)
        return;
    if (selectedEditorRows().isEmpty()
        && !confirm(tr("Write (Download) objects"),
                    tr("No objects selected in the Object Editor.\nSelect and write ALL Object "
                       "Editor values?"))) {
        ui->actionWrite->setChecked(false);
        return;
    }
    if (!sendObjectListRequest(KM_OBJLIST_WRITE))
        ui->actionWrite->setChecked(false);
}

void ZorContentObjEdit::actionWrite()
{
    if (ui->actionWrite->isChecked() || !ui->actionWrite->isEnabled())
        return;
    ui->actionWrite->setChecked(true);
    on_actionWrite_triggered(true);
}

bool ZorContentObjEdit::applyObjectListAnswer(const ZorMessage &msg)
{
    const int type = msg.msgType();
    const int state = msg.msgState();
    if (type != KM_OBJLIST_WRITE && type != KM_OBJLIST_READ)
        return false;
    if (state == KS_REQUEST || state == KS_WAITING)
        return false;
    // Only answers to this panel's own requests: the module sends every
    // answer to all its masters, and its other panels have requests too.
    const auto sent = m_sent.constFind(msg.msgId());
    if (sent == m_sent.constEnd())
        return false;
    const QString request = sent.value().data().toString();
    m_sent.erase(sent);
    // Each row shows its own result, also when the answer as a whole failed.
    if (m_editorModel)
        m_editorModel->applyRequestAnswer(request, msg);
    if (!m_queue.landed(msg.msgId()))
        return true;
    if (!m_queue.isEmpty()) {
        sendNextQueued();
    } else {
        ui->actionWrite->setChecked(false);
        ui->actionRead->setChecked(false);
    }
    return true;
}

void ZorContentObjEdit::processIn(const ZorMessage &msg)
{
    if (m_accessKey)
        m_accessKey->msgIn(msg);
    const int type = msg.msgType();
    const int state = msg.msgState();
    if (state == KS_INFO || state == KS_ANSWER) {
        if (type == KM_STATUS)
            setState(msg.data().toInt());
        else if (type == KM_INFOTEXT)
            showStatusText(msg.data().toString());
    }
    if (type == KM_GETPROPERTY) {
        const QString data = msg.data().toString();
        const int eq = data.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? data.trimmed() : data.left(eq).trimmed();
        const QString value = eq < 0 ? QString() : data.mid(eq + 1);
        if ((name == ObjectsEditedProperty || name == ObjectListProperty) && !value.trimmed().isEmpty())
            takeOverOlderList(name, value);
        if (name == QLatin1String("ConfigFilePath") && eq >= 0) {
            QString relative = value.trimmed();
            if (!relative.isEmpty())
                ZorApplServices::makeRelativeToWorkingDir(relative);
            if (ui->lineEditFilePath->text() != relative)
                ui->lineEditFilePath->setText(relative);
            loadDictionaryFileInBackground(relative, false);
        }
    }
    if (applyObjectListAnswer(msg))
        return;
    if (ui->actionSynch->isChecked() && m_editorModel)
        m_editorModel->objectUpdateIn(msg);
}

// --- the older forms of the editor list -------------------------------------

QString ZorContentObjEdit::convertObjectList(const QString &text, QStringList *leftOver)
{
    // The names the older form used for data types 1 to 15, any letter case.
    QHash<QString, int> typeCodes;
    for (int code = 1; code <= 15; ++code)
        typeCodes.insert(ZorBabelFish::dataTypeName(QString::number(code)).toLower(), code);

    QDomDocument doc;
    QDomElement list = doc.createElement(QStringLiteral("CANopenObjectList"));
    doc.appendChild(list);
    QStringList bad;
    for (const QString &line : text.split(QRegExp(QStringLiteral("[\r\n]")), Qt::SkipEmptyParts)) {
        if (line.trimmed().isEmpty())
            continue;
        const QStringList fields = line.section(QLatin1Char('#'), 0, 0).split(QLatin1Char(','));
        const QString name = line.section(QLatin1Char('#'), 1).trimmed();
        const QString index = fields.value(1).trimmed();
        const QString sub = fields.value(2).trimmed();
        const QString typeName = fields.value(3).trimmed().toLower();
        const QString value = fields.value(4).trimmed();
        bool indexOk = false;
        bool subOk = false;
        ZorBabelFish::stringToUShort(ZorDeviceDescModel::withHexMarker(index), &indexOk);
        ZorBabelFish::stringToUShort(ZorDeviceDescModel::withHexMarker(sub), &subOk);
        if (!indexOk || !subOk || !typeCodes.contains(typeName)) {
            bad << line.trimmed();
            continue;
        }
        // Built as elements, so that quotes, "<" and "&" in names and values
        // come out escaped. A line without a value (a list of objects to
        // read) is an object without one.
        QDomElement object = doc.createElement(QStringLiteral("CANopenSubObject"));
        object.setAttribute(QStringLiteral("name"), name);
        object.setAttribute(QStringLiteral("index"), index);
        object.setAttribute(QStringLiteral("subIndex"), sub);
        object.setAttribute(QStringLiteral("objectType"), QStringLiteral("7"));
        // Type codes are hexadecimal in object tables ("A" is OCTET_STRING).
        object.setAttribute(QStringLiteral("dataType"), QString::number(typeCodes.value(typeName), 16).toUpper());
        if (!value.isEmpty())
            object.setAttribute(QStringLiteral("actualValue"), value);
        list.appendChild(object);
    }
    if (leftOver)
        *leftOver = bad;
    if (!list.hasChildNodes())
        return QString();
    return doc.toString(1);
}

void ZorContentObjEdit::takeOverOlderList(const QString &name, const QString &value)
{
    QString table = value;
    QStringList leftOver;
    if (name == ObjectListProperty)
        table = convertObjectList(value, &leftOver);
    if (table.trimmed().isEmpty())
        return; // nothing taken over: the property keeps the list
    QDomDocument check;
    if (!ZorDeviceDescModel::readXml(table, check))
        return;
    setEditorDocument(QDomDocument());
    QMimeData mime;
    mime.setText(table);
    if (!dropIntoEditor(&mime) || m_editorModel->rowCount() == 0)
        return;
    // Only now, with the rows taken, the module's property gives them up;
    // the lines that could not be taken over stay in it.
    sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, name + QLatin1Char('=') + leftOver.join(QLatin1Char('\n'))));
    if (!leftOver.isEmpty())
        showStatusText(tr("%n line(s) of the older object list stay in the property \"%1\": %2", "",
                          leftOver.size())
                           .arg(name, leftOver.join(QStringLiteral(" | "))));
}

// --- store, reset, synch, default, export -----------------------------------

void ZorContentObjEdit::on_actionStore_triggered()
{
    if (confirm(tr("Store parameters"), tr("Store all parameters permanently. Are you sure?")))
        sendGuiMsg(ZorMessage(KM_OBJLIST_WRITE, KS_REQUEST, QStringLiteral("StoreCmd")));
}

void ZorContentObjEdit::on_actionReset_triggered()
{
    if (confirm(tr("Reset to Factory"), tr("Reset all parameters to factory settings. Are you sure?")))
        sendGuiMsg(ZorMessage(KM_OBJLIST_WRITE, KS_REQUEST, QStringLiteral("ResetCmd")));
}

void ZorContentObjEdit::on_actionSynch_triggered(bool checked)
{
    abortQueue();
    if (checked) {
        if (confirm(tr("Synch (Automatic Update)"),
                    tr("Synch / Automatic Update Mode will periodically read out values and\nwrite "
                       "changes immediately to the device. Activate Synch Mode?"))) {
            m_editorModel->setGlobalUpdateInterval(1000);
            m_editorModel->initObjectUpdate();
        } else {
            ui->actionSynch->setChecked(false);
        }
    } else if (m_editorModel) {
        m_editorModel->stopObjectUpdate();
    }
    setTableAppearance();
}

void ZorContentObjEdit::on_actionDefault_triggered()
{
    if (!m_editorModel)
        return;
    QModelIndexList rows = selectedEditorRows();
    QString which = tr("selected");
    if (rows.isEmpty()) {
        selectAllEditorRows();
        rows = selectedEditorRows();
        which = tr("ALL");
        if (rows.isEmpty())
            return;
    }
    if (confirm(tr("Use Default Values"),
                tr("Copy %1 values from 'Default' column to 'Value'. (Editable objects only.) Are "
                   "you sure?")
                    .arg(which),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes))
        m_editorModel->setToDefault(rows);
}

bool ZorContentObjEdit::writeFile(const QString &name, const QByteArray &content, bool text)
{
    QFile file(name);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate;
    if (text)
        mode |= QIODevice::Text;
    if (!file.open(mode))
        return false;
    const bool written = file.write(content) == content.size();
    file.close();
    return written && file.error() == QFileDevice::NoError && !content.isEmpty();
}

void ZorContentObjEdit::on_actionExport_triggered()
{
    if (!m_editorModel)
        return;
    QString name = askSaveFileName(tr("Export object values to CSV and Concise CDF file"),
                                   QDir::currentPath(), tr("Comma-Separated Values (*.csv)"));
    if (name.isEmpty())
        return;
    if (!name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        name += QLatin1String(".csv");
    // The selected rows, or all when none is selected.
    const QModelIndexList rows = selectedEditorRows();
    if (!writeFile(name, m_editorModel->toCsvText(rows).toUtf8(), true))
        warn(tr("File error"), tr("Could not write\n%1").arg(name));
    const QString binary = name.left(name.size() - 4) + QLatin1String(".cdcf");
    ZorObjEditModel::BinaryListReport report;
    if (!writeFile(binary, m_editorModel->toBinaryObjectList(rows, &report), false)) {
        warn(tr("File error"), tr("Could not write\n%1").arg(binary));
        return;
    }
    if (report.leftOut() == 0)
        return;
    // The CSV file has every row; say which ones the concise DCF lacks.
    QStringList reasons;
    if (report.notWritable)
        reasons << tr("%n read-only or constant", "", report.notWritable);
    if (report.noValue)
        reasons << tr("%n without a value", "", report.noValue);
    if (report.badValue)
        reasons << tr("%n whose value does not fit the data type", "", report.badValue);
    if (report.otherType)
        reasons << tr("%n of a data type the concise DCF does not carry", "", report.otherType);
    warn(tr("Export to CSV and CDCF"),
         tr("%1 of %2 objects are left out of\n%3:\n%4.")
             .arg(report.leftOut())
             .arg(report.leftOut() + report.written)
             .arg(binary, reasons.join(QStringLiteral(";\n"))));
}

// --- module status ----------------------------------------------------------

void ZorContentObjEdit::showStatusText(const QString &text)
{
    // The start of a long text shows; the tip has all of it.
    ui->lineEditState->setText(text);
    ui->lineEditState->setCursorPosition(0);
    ui->lineEditState->setToolTip(text);
}

void ZorContentObjEdit::setState(int code)
{
    if (code == m_lastState)
        return;
    m_lastState = code;
    ui->lineEditState->setStyleSheet(statusStyleSheet(code));
    // The module is busy with something that needs the bus to itself.
    if (code >= 1100 && code <= 1999 && ui->actionSynch->isChecked()) {
        ui->actionSynch->setChecked(false);
        abortQueue();
        if (m_editorModel)
            m_editorModel->stopObjectUpdate();
        setTableAppearance();
    }
}

// --- dialogs ----------------------------------------------------------------

void ZorContentObjEdit::on_actionOpen_triggered()
{
    const QString name = askOpenFileName(tr("Open Device Description/Configuration"),
                                         ui->lineEditFilePath->text(),
                                         tr("CANopen Device Description/Configuration (*.xdd *.xdc *.eds)"));
    if (!name.isEmpty())
        loadDictionaryFileInBackground(name, true);
}

void ZorContentObjEdit::warn(const QString &title, const QString &text)
{
    ZorQuestionBox::warn(this, title, text);
}

bool ZorContentObjEdit::confirm(const QString &title, const QString &text,
                                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton yes)
{
    ZorQuestionBox::Question question;
    question.icon = yes == QMessageBox::Yes ? QMessageBox::Question : QMessageBox::Warning;
    question.title = title;
    question.text = text;
    question.buttons = buttons;
    question.defaultButton = yes == QMessageBox::Yes ? QMessageBox::No : QMessageBox::Cancel;
    return ZorQuestionBox::ask(this, question) == yes;
}

// --- events -----------------------------------------------------------------

bool ZorContentObjEdit::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == ui->treeViewDeviceCfg || watched == ui->tableViewEditor) {
        const bool tree = watched == ui->treeViewDeviceCfg;
        if (type == QEvent::FocusIn) {
            m_treeFocused = tree;
            m_tableFocused = !tree;
        } else if (type == QEvent::FocusOut) {
            // A menu or another window taking the focus for a while leaves
            // the view's claim, so that Copy and Cut still act on it.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                (tree ? m_treeFocused : m_tableFocused) = false;
        }
    } else if (watched == m_tableOverlay && type == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        if (dropIntoEditor(drop->mimeData()))
            drop->acceptProposedAction();
        return true;
    }
    return ZorPanel::eventFilter(watched, event);
}

void ZorContentObjEdit::resizeEvent(QResizeEvent *event)
{
    ZorPanel::resizeEvent(event);
    if (m_treeOverlay)
        m_treeOverlay->fitToParent();
    if (m_tableOverlay)
        m_tableOverlay->fitToParent();
}
