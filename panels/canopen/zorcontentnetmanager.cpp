#include "zorcontentnetmanager.h"

#include "zorcontentnetmanagermarks.h"
#include "zorobjeditmodel.h"
#include "zorpanelicons.h"
#include "zorstatusproxy.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initNetManagerIconResources()
{
    Q_INIT_RESOURCE(zornetmanagericons);
}

namespace {

const QString EditorObjectsDoc = QStringLiteral("EditorObjects");
const QString ScanIdsProperty = QStringLiteral("LastScanIds");
const QString ConfigurableIdsProperty = QStringLiteral("ConfigurableIds");
const int LogLines = 1000;

} // namespace

ZorContentNetManager::ZorContentNetManager(QWidget *parent)
    : ZorPanel(parent)
{
    ZorPanelIcons::init();
    static std::once_flag once;
    std::call_once(once, initNetManagerIconResources);
    buildForm();

    addShortcut(QKeySequence::Cut, SLOT(on_actionCut_triggered()));
    addShortcut(QKeySequence::Copy, SLOT(on_actionCopy_triggered()));
    addShortcut(QKeySequence::Paste, SLOT(on_actionPaste_triggered()));
    addShortcut(QKeySequence::Delete, SLOT(on_actionDelete_triggered()));

    // While a scan or the node monitor runs, the other jobs wait.
    connect(actionScan, &QAction::toggled, this, [this](bool on) {
        for (QAction *a : {actionStatus, actionBuild, actionConfig})
            a->setEnabled(!on);
    });
    connect(actionStatus, &QAction::toggled, this, [this](bool on) {
        for (QAction *a : {actionScan, actionBuild, actionConfig})
            a->setEnabled(!on);
    });
    QMetaObject::connectSlotsByName(this);

    groupBoxObjList->hide();
    updateGroupVisibility();
    setUpConfigurationModel(QDomDocument());
}

ZorContentNetManager::~ZorContentNetManager()
{
    savePanelState();
    stopStatusMonitor();
}

ZorObjEditModel *ZorContentNetManager::configurationModel() const
{
    return m_configModel.data();
}

ZorObjEditModel *ZorContentNetManager::monitorModel() const
{
    return m_monitorModel.data();
}

ZorStatusProxy *ZorContentNetManager::statusProxy() const
{
    return m_proxy.data();
}

ZorContentNetManagerMarks *ZorContentNetManager::monitorMarks() const
{
    return m_marks.data();
}

QAction *ZorContentNetManager::newAction(const char *name, const QString &text, const QString &icon,
                                         bool checkable, const QString &toolTip)
{
    auto *action = new QAction(QIcon(icon), text, this);
    action->setObjectName(QLatin1String(name));
    action->setCheckable(checkable);
    if (!toolTip.isEmpty())
        action->setToolTip(toolTip);
    return action;
}

void ZorContentNetManager::buildForm()
{
    setWindowTitle(QStringLiteral("ZorContentNetManager"));
    const QString icons = QStringLiteral(":/Toolbar/Icons/");
    actionScan = newAction("actionScan", tr("Scan Network"), icons + "toolbar_busScan_32x32.png", true);
    actionBuild = newAction("actionBuild", tr("Build Project"), icons + "toolbar_build_project_32x32.png", false,
                            tr("Build or rebuild the project using the Configurable Node IDs list"));
    actionConfig = newAction("actionConfig", tr("Node Mon. Config"), icons + "Toolbars2/DataTable.png", true,
                             tr("Configure Node Status Monitoring"));
    actionStatus = newAction("actionStatus", tr("Node Monitor"), icons + "toolbar_player_32x32_Play.png", true,
                             tr("Display status monitoring for the Scanned Node IDs"));
    actionDelete = newAction("actionDelete", tr("Delete"), icons + "toolbar_deleteFromEditor_32x32.png", false,
                             tr("Delete selected data objects"));
    actionCopy = newAction("actionCopy", tr("Copy"), ZorPanelIcons::ClipboardCopy, false,
                           tr("Copy selected data objects to clipboard"));
    actionPaste = newAction("actionPaste", tr("Paste"), ZorPanelIcons::ClipboardPaste, false,
                            tr("Paste data objects from clipboard"));
    actionCut = newAction("actionCut", tr("Cut"), icons + "Clipboard Cut.png", false,
                          tr("Cut selected data objects to clipboard"));

    toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->addAction(actionScan);
    toolBar->addAction(actionBuild);
    toolBar->addAction(actionConfig);
    toolBar->addAction(actionStatus);

    auto *fields = new QGridLayout;
    const auto addRow = [&](int row, QLabel *&label, const char *labelName, const QString &text,
                            QLineEdit *&edit, const char *editName) {
        label = new QLabel(text, this);
        label->setObjectName(QLatin1String(labelName));
        edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(editName));
        fields->addWidget(label, row, 0);
        fields->addWidget(edit, row, 1);
    };
    addRow(0, labelState, "labelState", tr("Network Status"), lineEditState, "lineEditState");
    addRow(1, labelScanList, "labelScanList", tr("Scanned Node IDs"), lineEditScanList, "lineEditScanList");
    addRow(2, labelProjectList, "labelProjectList", tr("Configurable Node IDs"), lineEditProjectList,
           "lineEditProjectList");
    lineEditState->setReadOnly(true);
    lineEditState->setEnabled(false);

    tableViewNodeStatus = new QTableView(this);
    tableViewNodeStatus->setObjectName(QStringLiteral("tableViewNodeStatus"));

    groupBoxStatus = new QGroupBox(tr("Network Manager Messages"), this);
    groupBoxStatus->setObjectName(QStringLiteral("groupBoxStatus"));
    plainTextEditStatus = new QPlainTextEdit(groupBoxStatus);
    plainTextEditStatus->setObjectName(QStringLiteral("plainTextEditStatus"));
    plainTextEditStatus->setReadOnly(true);
    plainTextEditStatus->setMaximumBlockCount(LogLines);
    auto *statusLayout = new QVBoxLayout(groupBoxStatus);
    statusLayout->addWidget(plainTextEditStatus);

    groupBoxObjList = new QGroupBox(tr("Node Monitor Configuration / Data Object List"), this);
    groupBoxObjList->setObjectName(QStringLiteral("groupBoxObjList"));
    tableViewObjEditor = new QTableView(groupBoxObjList);
    tableViewObjEditor->setObjectName(QStringLiteral("tableViewObjEditor"));
    auto *objLayout = new QVBoxLayout(groupBoxObjList);
    objLayout->addWidget(tableViewObjEditor);

    for (QTableView *view : {tableViewNodeStatus, tableViewObjEditor}) {
        view->setDragEnabled(true);
        view->setDragDropMode(QAbstractItemView::DragDrop);
        view->setDefaultDropAction(Qt::CopyAction);
        view->setAlternatingRowColors(false);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSortingEnabled(false);
        view->horizontalHeader()->setDefaultSectionSize(50);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(toolBar);
    layout->addLayout(fields);
    layout->addWidget(tableViewNodeStatus, 1);
    layout->addWidget(groupBoxStatus, 1);
    layout->addWidget(groupBoxObjList, 2);
}

template<class T>
void ZorContentNetManager::release(QPointer<T> &pointer)
{
    if (pointer)
        pointer->deleteLater();
    pointer.clear();
}

void ZorContentNetManager::setItemViewAppearance(QTableView &view)
{
    view.horizontalHeader()->setHighlightSections(false);
    view.verticalHeader()->setHighlightSections(false);
    for (int column : {7, 2, 12, 9, 10, 6})
        view.setColumnHidden(column, true);
    for (int column : {3, 5, 0, 1, 8})
        view.resizeColumnToContents(column);
}

void ZorContentNetManager::setUpConfigurationModel(const QDomDocument &doc)
{
    QPointer<ZorObjEditModel> oldModel = m_configModel;
    QPointer<QItemSelectionModel> oldSelection = m_configSelection;
    m_configModel = new ZorObjEditModel(doc, true, this);
    m_configSelection = new QItemSelectionModel(m_configModel, this);
    tableViewObjEditor->setModel(m_configModel);
    tableViewObjEditor->setSelectionModel(m_configSelection);
    setItemViewAppearance(*tableViewObjEditor);
    tableViewObjEditor->setColumnHidden(ZorDeviceDescModel::DataObjectIdColumn, true);
    m_configModel->setLockedNodeId(QString());
    release(oldSelection);
    release(oldModel);
}

bool ZorContentNetManager::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    const QDomDocument doc = loadDoc(EditorObjectsDoc);
    if (!doc.isNull())
        setUpConfigurationModel(doc);
    registerLineEdit(ScanIdsProperty, lineEditScanList);
    registerLineEdit(ConfigurableIdsProperty, lineEditProjectList);
    return bound;
}

QString ZorContentNetManager::commitPanelSettings()
{
    if (m_configModel) {
        QDomDocument doc;
        if (doc.setContent(m_configModel->toXml()))
            saveDoc(doc, EditorObjectsDoc);
    }
    return QString();
}

void ZorContentNetManager::setUserLevel(int level)
{
    ZorPanel::setUserLevel(level);
}

void ZorContentNetManager::processIn(const ZorMessage &msg)
{
    const int state = msg.msgState();
    if (state == KS_INFO || state == KS_ANSWER) {
        if (msg.msgType() == KM_STATUS) {
            setState(msg.data().toInt());
        } else if (msg.msgType() == KM_INFOTEXT) {
            const QString text = msg.data().toString();
            lineEditState->setText(text);
            appendLogText(plainTextEditStatus, text, true);
        }
    }
    if (m_marks)
        m_marks->takeMessage(msg);
    if (m_monitorModel)
        m_monitorModel->objectUpdateIn(msg);
}

void ZorContentNetManager::setState(int status)
{
    if (status == m_lastStatus)
        return;
    m_lastStatus = status;
    lineEditState->setStyleSheet(statusStyleSheet(status));
    if (status == 0 || status == 2000) {
        // The module is idle or failed: no job runs any more.
        stopStatusMonitor();
        for (QAction *a : {actionStatus, actionScan, actionBuild})
            a->setChecked(false);
        updateGroupVisibility();
    }
}

void ZorContentNetManager::on_actionScan_triggered(bool checked)
{
    if (checked) {
        stopStatusMonitor();
        sendGuiMsg(ZorMessage(KM_START, KS_REQUEST, 1));
        actionStatus->setChecked(false);
        actionBuild->setChecked(false);
    } else {
        sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST));
    }
    updateGroupVisibility();
}

void ZorContentNetManager::on_actionBuild_triggered()
{
    stopStatusMonitor();
    // The line as it stands counts, also when the user did not leave it.
    propertyEdited(ConfigurableIdsProperty);
    sendGuiMsg(ZorMessage(KM_START, KS_REQUEST, 2));
    actionStatus->setChecked(false);
    actionScan->setChecked(false);
    updateGroupVisibility();
}

void ZorContentNetManager::on_actionStatus_triggered(bool checked)
{
    if (checked) {
        sendGuiMsg(ZorMessage(KM_START, KS_REQUEST));
        actionScan->setChecked(false);
        actionBuild->setChecked(false);
        initStatusMonitor();
        actionConfig->setChecked(false);
        on_actionConfig_triggered(false);
    } else {
        sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST));
        stopStatusMonitor();
    }
    updateGroupVisibility();
}

void ZorContentNetManager::on_actionConfig_triggered(bool checked)
{
    groupBoxObjList->setVisible(checked);
    updateGroupVisibility();
}

void ZorContentNetManager::updateGroupVisibility()
{
    groupBoxStatus->setVisible(!actionStatus->isChecked() && !actionConfig->isChecked());
}

void ZorContentNetManager::initStatusMonitor()
{
    release(m_marks);
    release(m_proxy);
    release(m_monitorModel);

    m_monitorModel = new ZorObjEditModel(QDomDocument(), false, this);
    m_proxy = new ZorStatusProxy(this);
    m_proxy->setSourceModel(m_monitorModel);
    m_marks = new ZorContentNetManagerMarks(this);
    tableViewNodeStatus->setModel(m_marks);

    for (const QString &part : lineEditScanList->text().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int node = part.trimmed().toInt(&ok);
        if (!ok || node < 1 || node > 127)
            continue;
        m_configModel->setLockedNodeId(QString::number(node));
        QMimeData *objects = m_configModel->allObjectsMimeData();
        if (objects) {
            m_monitorModel->dropMimeData(objects, Qt::CopyAction, 0, 0, QModelIndex());
            delete objects;
        }
    }
    m_configModel->setLockedNodeId(QString());

    m_proxy->setup();
    m_marks->setGrid(m_proxy);
    // Header text or values, whichever is wider (the view's own sizing).
    tableViewNodeStatus->resizeColumnsToContents();
    // Values arrive after the grid has been laid out.
    connect(m_marks, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                fitStatusColumns(topLeft.column(), bottomRight.column());
            });
    connect(m_monitorModel, &ZorObjEditModel::objectUpdateOut, this, &ZorPanel::sendGuiMsg);
    m_monitorModel->initObjectUpdate();
}

void ZorContentNetManager::fitStatusColumns(int first, int last)
{
    QHeaderView *header = tableViewNodeStatus->horizontalHeader();
    const QAbstractItemView *view = tableViewNodeStatus;   // its size hint is public there
    for (int column = qMax(first, 0); column <= last && column < header->count(); ++column) {
        const int wanted = qMax(view->sizeHintForColumn(column), header->sectionSizeHint(column));
        if (wanted > header->sectionSize(column))
            header->resizeSection(column, wanted);
    }
}

void ZorContentNetManager::stopStatusMonitor()
{
    if (m_monitorModel)
        m_monitorModel->stopObjectUpdate();
    if (m_marks)
        m_marks->stop();
}

void ZorContentNetManager::on_actionDelete_triggered()
{
    // An empty selection would stand for every row.
    const QModelIndexList selected = m_configSelection ? m_configSelection->selectedIndexes() : QModelIndexList();
    if (m_configModel && !selected.isEmpty())
        m_configModel->removeRows(selected);
}

void ZorContentNetManager::on_actionCopy_triggered()
{
    const QModelIndexList selected = m_configSelection ? m_configSelection->selectedIndexes() : QModelIndexList();
    if (!m_configModel || selected.isEmpty())
        return;
    if (QMimeData *data = m_configModel->mimeData(selected))
        QApplication::clipboard()->setMimeData(data);
}

void ZorContentNetManager::on_actionCut_triggered()
{
    on_actionCopy_triggered();
    on_actionDelete_triggered();
}

void ZorContentNetManager::on_actionPaste_triggered()
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    if (m_configModel && data)
        m_configModel->dropMimeData(data, Qt::CopyAction, 0, 0, QModelIndex());
}
