#include "zorcontentuipanel.h"

#include "zorapplfiles.h"
#include "zordeclarativeview.h"
#include "zordynamicuieditmodel.h"
#include "zorqmlnetworkaccess.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDebug>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QScrollBar>
#include <QSet>
#include <QSplitter>
#include <QTableView>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initUiPanelResources()
{
    Q_INIT_RESOURCE(zoruipanelicons);
}

namespace {

const QString DefaultQmlFile = QStringLiteral("ZorUiMain.qml");
const QString NodePanelType = QStringLiteral("uipanel_node");
const QString UiPanelType = QStringLiteral("uipanel");
const int DataObjectIdRole = ZorDeviceDescModel::DataObjectIdRole;
const int ResizeDelayMs = 1000;
const int StartDelayMs = 500;

// The table columns the panel shows; the others hold what the screen never
// needs to show (index, subindex, node, default, types, access).
const int HiddenColumns[] = {0, 1, 2, 6, 8, 12, 9, 7};

// The shape a control of this UI format has: "shape", else "type".
QString shapeOf(const QString &format)
{
    const QString shape = ZorDeviceDescModel::formatEntry(format, QStringLiteral("shape"));
    return shape.isEmpty() ? ZorDeviceDescModel::formatEntry(format, QStringLiteral("type")) : shape;
}

// A value stored with the project for an object the screen only reads: no
// number, but the notation kept so that the next read shows alike.
QString blankValueLike(const QString &value)
{
    const QString v = value.trimmed().toLower();
    QString blank;
    if (v.endsWith(QLatin1Char('h')))
        blank = QStringLiteral("0h");
    if (v.startsWith(QLatin1String("0x")))
        blank = QStringLiteral("0x0");
    if (v.startsWith(QLatin1String("0b")))
        blank = QStringLiteral("0b0");
    return blank;
}

bool isObjectListRequest(const ZorMessage &msg)
{
    return msg.msgType() == KM_OBJLIST_WRITE || msg.msgType() == KM_OBJLIST_READ;
}

} // namespace

ZorContentUiPanel::ZorContentUiPanel(QWidget *parent)
    : ZorPanel(parent)
    , m_qmlFileName(DefaultQmlFile)
{
    initUiPanelResources();
    ZorMessage::registerMetaType();
    setupForm();
    setupActions();

    // Every dependent of the two modes starts hidden or disabled.
    actionDesignRuntimeMode->setChecked(true);
    actionShowData->setChecked(true);
    actionDesignRuntimeMode->setChecked(false);
    actionShowData->setChecked(false);

    // A text QML writes is forwarded after its QML handler returned.
    connect(&m_bridge, &ZorQmlInterface::zorMessageOut, this, &ZorContentUiPanel::sendUiPanelMsg,
            Qt::QueuedConnection);
    connect(&m_bridge, &ZorQmlInterface::modelChangeNotify, this,
            &ZorContentUiPanel::qmlRefreshRequired);
    // Refusals of the screen's file and network access show on the panel.
    connect(&m_bridge, &ZorQmlInterface::accessRefused, this, &ZorContentUiPanel::showRefusal);
    connect(&m_networkAccess, &ZorQmlNetworkAccess::refused, this,
            [this](const QString &text) { showRefusal(tr("QML: refused %1").arg(text)); },
            Qt::QueuedConnection);
    m_resizeTimer.setSingleShot(true);
    m_resizeTimer.setInterval(ResizeDelayMs);
    connect(&m_resizeTimer, &QTimer::timeout, this, &ZorContentUiPanel::resizeTableColumns);
    connect(tbDataObjects->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ZorContentUiPanel::tableScrollBarValueChanged);
    QMetaObject::connectSlotsByName(this);
}

ZorContentUiPanel::~ZorContentUiPanel()
{
    savePanelState();
    disconnectQmlRoot();
    // The views' engines use the network access guard: they go first.
    qDeleteAll(m_screenArea->findChildren<ZorDeclarativeView *>(QString(), Qt::FindDirectChildrenOnly));
}

// --- form ----------------------------------------------------------------------------------

void ZorContentUiPanel::setupForm()
{
    setWindowTitle(QStringLiteral("ZorContentUiPanel"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);

    frameTools = new QFrame(this);
    frameTools->setObjectName(QStringLiteral("frameTools"));
    gridLayoutTools = new QGridLayout(frameTools);
    gridLayoutTools->setObjectName(QStringLiteral("gridLayoutTools"));
    gridLayoutTools->setContentsMargins(0, 0, 0, 0);
    gridLayoutToolbar = new QGridLayout;
    gridLayoutToolbar->setObjectName(QStringLiteral("gridLayoutToolbar"));
    m_toolBar = new QToolBar(frameTools);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    gridLayoutToolbar->addWidget(m_toolBar, 0, 0);
    gridLayoutTools->addLayout(gridLayoutToolbar, 0, 0);
    comboBoxId = new QComboBox(frameTools);
    comboBoxId->setObjectName(QStringLiteral("comboBoxId"));
    comboBoxId->setEditable(true);
    gridLayoutTools->addWidget(comboBoxId, 0, 1);
    pushButtonStart = new QPushButton(tr("Start"), frameTools);
    pushButtonStart->setObjectName(QStringLiteral("pushButtonStart"));
    pushButtonStart->setCheckable(true);
    gridLayoutTools->addWidget(pushButtonStart, 0, 2);
    pushButtonStop = new QPushButton(tr("Stop"), frameTools);
    pushButtonStop->setObjectName(QStringLiteral("pushButtonStop"));
    pushButtonStop->setEnabled(false);
    gridLayoutTools->addWidget(pushButtonStop, 0, 3);
    gridLayoutTools->setColumnStretch(0, 1);
    connect(pushButtonStart, &QPushButton::toggled, pushButtonStop, &QPushButton::setEnabled);
    outer->addWidget(frameTools);

    labelQmlError = new QLabel(QStringLiteral("QML LOAD ERROR"), this);
    labelQmlError->setObjectName(QStringLiteral("labelQmlError"));
    labelQmlError->setTextFormat(Qt::PlainText);
    labelQmlError->setWordWrap(true);
    outer->addWidget(labelQmlError);

    labelQmlNotice = new QLabel(this);
    labelQmlNotice->setObjectName(QStringLiteral("labelQmlNotice"));
    labelQmlNotice->setTextFormat(Qt::PlainText);
    labelQmlNotice->setWordWrap(true);
    labelQmlNotice->setStyleSheet(QStringLiteral("color: #B00000"));
    labelQmlNotice->hide();
    outer->addWidget(labelQmlNotice);

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    tbDataObjects = new QTableView(m_splitter);
    tbDataObjects->setObjectName(QStringLiteral("tbDataObjects"));
    tbDataObjects->setSelectionBehavior(QAbstractItemView::SelectRows);
    tbDataObjects->setDragDropMode(QAbstractItemView::DragDrop);
    tbDataObjects->setDefaultDropAction(Qt::CopyAction);
    tbDataObjects->setDragDropOverwriteMode(true);
    m_screenArea = new QWidget(m_splitter);
    m_screenArea->setObjectName(QStringLiteral("screenArea"));
    gridLayoutUiPanel = new QGridLayout(m_screenArea);
    gridLayoutUiPanel->setObjectName(QStringLiteral("gridLayoutUiPanel"));
    gridLayoutUiPanel->setContentsMargins(0, 0, 0, 0);
    m_splitter->addWidget(tbDataObjects);
    m_splitter->addWidget(m_screenArea);
    m_splitter->setStretchFactor(1, 3);
    outer->addWidget(m_splitter, 1);
}

QAction *ZorContentUiPanel::addToolAction(const char *name, const QString &text,
                                          const QString &toolTip, const QString &icon,
                                          bool checkable)
{
    auto *action = new QAction(QIcon(icon), text, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(toolTip);
    action->setCheckable(checkable);
    // Keys work while the focus is anywhere in the panel, and only while
    // the action is visible and enabled.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_toolBar->addAction(action);
    addAction(action);
    return action;
}

void ZorContentUiPanel::setupActions()
{
    const QString icons = QStringLiteral(":/Toolbar/Icons/");
    actionDesignRuntimeMode = addToolAction(
        "actionDesignRuntimeMode", tr("Design Mode"),
        tr("Toggle design mode to add, delete or change UI elements"),
        icons + QStringLiteral("Toolbars2/ToolPencil.png"), true);
    actionReloadQml = addToolAction(
        "actionReloadQml", tr("Reload UI"),
        tr("Reload UI using the current data objects and UI (.qml) files (F5)"),
        icons + QStringLiteral("Toolbars2/Update.png"), false);
    actionReloadQml->setShortcut(QKeySequence(Qt::Key_F5));
    actionShowData = addToolAction("actionShowData", tr("Show Data Objects"),
                                   tr("Display the data objects associated with the UI elements"),
                                   icons + QStringLiteral("Toolbars2/DataTable.png"), true);
    actionPaste = addToolAction("actionPaste", tr("Paste"), tr("Paste data object from clipboard"),
                                icons + QStringLiteral("Clipboard Paste.png"), false);
    actionPaste->setShortcut(QKeySequence::Paste);
    actionDelete = addToolAction("actionDelete", tr("Delete"), tr("Delete data object"),
                                 icons + QStringLiteral("toolbar_deleteFromEditor_32x32.png"), false);
    actionDelete->setShortcut(QKeySequence::Delete);
    actionCut = addToolAction("actionCut", tr("Cut"), tr("Cut data object to clipboard"),
                              icons + QStringLiteral("Clipboard Cut.png"), false);
    actionCut->setShortcut(QKeySequence::Cut);
    actionCopy = addToolAction("actionCopy", tr("Copy"), tr("Copy data object to clipboard"),
                               icons + QStringLiteral("Clipboard Copy.png"), false);
    actionCopy->setShortcut(QKeySequence::Copy);
    actionClone = addToolAction("actionClone", tr("Clone"),
                                tr("Clone selected data objects, using a different Node ID"),
                                icons + QStringLiteral("toolbar_uicontrol_clone_32x32.png"), false);
    actionChangeNodeId = addToolAction(
        "actionChangeNodeId", tr("Change ID"), tr("Change Node ID for selected data objects"),
        icons + QStringLiteral("toolbar_uicontrol_changeId_32x32.png"), false);

    connect(actionDesignRuntimeMode, &QAction::toggled, this, &ZorContentUiPanel::designModeDependents);
    connect(actionShowData, &QAction::toggled, this, &ZorContentUiPanel::showDataDependents);
}

void ZorContentUiPanel::designModeDependents(bool b)
{
    actionReloadQml->setVisible(b);
    actionReloadQml->setEnabled(b);
    actionChangeNodeId->setVisible(b && !isNodePanel());
    actionClone->setVisible(b && !isNodePanel());
    actionShowData->setVisible(b);
    designModeToggleForDataTableActions(b);
}

void ZorContentUiPanel::showDataDependents(bool b)
{
    actionChangeNodeId->setEnabled(b);
    actionClone->setEnabled(b);
    tbDataObjects->setVisible(b);
    actionDelete->setEnabled(b);
    actionCut->setEnabled(b);
    actionCopy->setEnabled(b);
    showDataToggleForIndexesSelection(b);
}

bool ZorContentUiPanel::isNodePanel()
{
    return panelUserData() == NodePanelType;
}

// --- set-up and saving ---------------------------------------------------------------------

bool ZorContentUiPanel::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);

    m_qmlFileName = DefaultQmlFile;
    bool remoteAllowed = false;
    const QDomDocument qmlData = loadDoc(QStringLiteral("QmlData"));
    if (!qmlData.isNull()) {
        const QDomNodeList names = qmlData.elementsByTagName(QStringLiteral("QmlFilename"));
        if (names.count() == 1) {
            const QString name = names.at(0).toElement().text().trimmed();
            if (!name.isEmpty())
                m_qmlFileName = name;
        }
        const QDomNodeList allow = qmlData.elementsByTagName(QStringLiteral("AllowNetworkAccess"));
        const QString allowed = allow.count() == 1 ? allow.at(0).toElement().text().trimmed() : QString();
        remoteAllowed = allowed == QLatin1String("1") || allowed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    m_networkAccess.setRemoteAllowed(remoteAllowed);
    createObjectModel();
    loadQml();

    comboBoxId->hide();
    if (isNodePanel()) {
        actionChangeNodeId->setVisible(false);
        actionClone->setVisible(false);
        connect(comboBoxId, &QComboBox::editTextChanged, this,
                &ZorContentUiPanel::lockedNodeIdChanged, Qt::UniqueConnection);
        if (m_table)
            m_table->setLockedNodeId(comboBoxId->currentText());
        registerComboBox(QStringLiteral("NodeId"), comboBoxId);
    }
    return bound;
}

void ZorContentUiPanel::createObjectModel()
{
    if (m_table) {
        m_table->stopObjectUpdate();
        pushButtonStart->setChecked(false);
        m_running = false;
        disconnectQmlRoot();
        m_table->deleteLater();
        if (m_selection)
            m_selection->deleteLater();
    }
    QDomDocument doc = loadDoc(QStringLiteral("DynamicUi"));
    if (doc.isNull())
        doc = QDomDocument();
    m_table = new ZorDynamicUiEditModel(doc, isNodePanel(), this);
    m_selection = new QItemSelectionModel(m_table, this);
    tbDataObjects->setModel(m_table);
    tbDataObjects->setSelectionModel(m_selection);

    for (int column : HiddenColumns)
        tbDataObjects->setColumnHidden(column, true);
    QHeaderView *header = tbDataObjects->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setHighlightSections(false);
    tbDataObjects->verticalHeader()->setHighlightSections(false);
    for (int column : {3, 5, 4})
        tbDataObjects->resizeColumnToContents(column);

    connect(m_table, &ZorObjEditModel::objectUpdateOut, this,
            &ZorContentUiPanel::enqueueObjectRwRequests);
    connect(m_table, &QAbstractItemModel::dataChanged, this, &ZorContentUiPanel::modelDataChanged);
    connect(m_table, &QAbstractItemModel::rowsInserted, this, &ZorContentUiPanel::modelRowsInserted);
}

QString ZorContentUiPanel::commitPanelSettings()
{
    if (!m_table)
        return QString();
    m_bridge.updateModelFromQmlInstances();

    // The table is stored as it stands, except that values the screen only
    // reads are stored blank and no row keeps a status: they are read again
    // when the screen runs. The live table keeps its values (blanking them
    // there would write the blanks to the node).
    QDomDocument doc;
    doc.setContent(m_table->toXml());
    const QString valueAttribute = m_table->headerData(ZorDeviceDescModel::ValueColumn, Qt::Horizontal,
                                                       ZorDeviceDescModel::AttributeNameRole).toString();
    const QString formatAttribute = m_table->headerData(ZorObjEditModel::UiFormatColumn, Qt::Horizontal,
                                                        ZorDeviceDescModel::AttributeNameRole).toString();
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement()) {
        const QString updates = ZorDeviceDescModel::formatEntry(e.attribute(formatAttribute),
                                                                QStringLiteral("updates"));
        if (!updates.contains(QLatin1Char('w'), Qt::CaseInsensitive) && e.hasAttribute(valueAttribute))
            e.setAttribute(valueAttribute, blankValueLike(e.attribute(valueAttribute)));
        e.setAttribute(QStringLiteral("zorStatus"), QStringLiteral("0"));
        e.setAttribute(QStringLiteral("zorStatusTxt"), QString());
    }
    QDomDocument stored(QStringLiteral("DynamicUi"));
    stored.appendChild(stored.importNode(doc.documentElement(), true));
    saveDoc(stored, QStringLiteral("DynamicUi"));
    return QString();
}

// --- loading the screen --------------------------------------------------------------------

void ZorContentUiPanel::showRefusal(const QString &text)
{
    labelQmlNotice->setText(text);
    labelQmlNotice->show();
}

bool ZorContentUiPanel::loadQml()
{
    bool oldDesignMode = false;
    if (m_view) {
        m_designModeDisallowed = false;
        oldDesignMode = m_view->designMode();
        disconnect(m_view, &ZorDeclarativeView::dataDropped, this,
                   &ZorContentUiPanel::dynamicUiElementDropped);
        gridLayoutUiPanel->removeWidget(m_view);
        disconnectQmlRoot();
        m_view->close();
        m_view->hide();
        m_view->deleteLater();
        m_view = nullptr;
        m_engine = nullptr;
        m_context = nullptr;
    }

    m_view = new ZorDeclarativeView(m_screenArea);
    m_view->setObjectName(QStringLiteral("declarativeView"));
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    gridLayoutUiPanel->addWidget(m_view, 0, 0);
    m_engine = m_view->engine();
    m_context = m_view->rootContext();
    m_engine->setNetworkAccessManagerFactory(&m_networkAccess);
    labelQmlNotice->hide();
    labelQmlNotice->clear();

    const QString path = ZorApplServices::workingDir() + QStringLiteral("/QML/") + m_qmlFileName;
    QString error;
    bool loaded = false;
    if (!QFileInfo::exists(path)) {
        error = tr("Cannot find file %1");
    } else {
        // Published before the screen is built, so that its bindings and
        // Component.onCompleted handlers find ZorUi.
        m_context->setContextProperty(QStringLiteral("ZorUi"), &m_bridge);
        m_view->setResizeMode(QQuickWidget::SizeRootObjectToView);
        m_view->setSource(QUrl::fromLocalFile(path));
        connect(m_view, &ZorDeclarativeView::dataDropped, this,
                &ZorContentUiPanel::dynamicUiElementDropped, Qt::UniqueConnection);
        if (QObject *root = m_view->rootObject()) {
            m_designModeDisallowed = root->property("disallowDesignMode").toBool();
            if (m_designModeDisallowed) {
                frameTools->hide();
                actionDesignRuntimeMode->setChecked(false);
                actionShowData->setChecked(false);
                m_view->setDesignMode(false);
                emit m_bridge.designModeToggled(false);
            }
            connectQmlRoot();
            if (oldDesignMode && !m_designModeDisallowed) {
                m_view->setDesignMode(true);
                emit m_bridge.designModeToggled(true);
            }
            m_bridge.createAllInstances();
            loaded = true;
        }
    }
    if (!loaded && m_view->status() == QQuickWidget::Error) {
        error = tr("Fatal error when loading file %1");
        for (const QQmlError &e : m_view->errors()) {
            if (!error.endsWith(QLatin1Char(',')))
                error += QLatin1Char(',');
            error += e.toString();
        }
    }
    labelQmlError->setVisible(!loaded);
    pushButtonStart->setEnabled(loaded);
    labelQmlError->setText(loaded ? QString()
                                  : QStringLiteral("QML: ") + QString(error).replace(QStringLiteral("%1"), m_qmlFileName));
    return loaded;
}

namespace {

// The screen's root signals and the bridge slots they feed.
struct RootConnection
{
    const char *signal;
    const char *slot;
};
const RootConnection RootConnections[] = {
    {SIGNAL(valueChanged(QString, QString)), SLOT(qmlValueChanged(QString, QString))},
    {SIGNAL(instanceClosed(QString, QString)), SLOT(qmlInstanceClosed(QString, QString))},
    {SIGNAL(instancePositionChanged(QString, QString, int, int)),
     SLOT(qmlInstancePositionChanged(QString, QString, int, int))},
    {SIGNAL(messageStrOut(QString)), SLOT(qmlMessageStrOut(QString))},
};

bool hasSignal(const QObject *object, const char *signal)
{
    // SIGNAL() puts a code digit in front of the signature.
    return object->metaObject()->indexOfSignal(QMetaObject::normalizedSignature(signal + 1)) >= 0;
}

} // namespace

void ZorContentUiPanel::connectQmlRoot()
{
    m_bridge.setModel(m_table);
    m_bridge.setView(m_view);
    QObject *root = m_view ? m_view->rootObject() : nullptr;
    if (!root)
        return;
    for (const RootConnection &c : RootConnections) {
        if (hasSignal(root, c.signal))
            connect(root, c.signal, &m_bridge, c.slot, Qt::UniqueConnection);
    }
}

void ZorContentUiPanel::disconnectQmlRoot()
{
    if (!m_view)
        return;
    if (QObject *root = m_view->rootObject()) {
        for (const RootConnection &c : RootConnections) {
            if (hasSignal(root, c.signal))
                disconnect(root, c.signal, &m_bridge, c.slot);
        }
    }
    m_bridge.clearModel();
}

// --- messages ------------------------------------------------------------------------------

void ZorContentUiPanel::processIn(const ZorMessage &msg)
{
    // The node id box takes a new "NodeId" without a signal when it adds the
    // value as a new item; the table follows it here.
    if ((msg.msgType() == KM_GETPROPERTY || msg.msgType() == KM_SETPROPERTY) && isNodePanel() && m_table
        && comboBoxId->currentText() != m_table->lockedNodeId())
        lockedNodeIdChanged(comboBoxId->currentText());
    handleIncoming(msg);
    if (m_busy && msg.msgId() == m_current.msgId()) {
        m_busy = false;
        sendNextRequest();
    }
}

void ZorContentUiPanel::handleIncoming(const ZorMessage &msg)
{
    if (isObjectListRequest(msg) && m_table)
        m_table->objectUpdateIn(msg);
    m_bridge.zorMessageIn(msg);
    if (msg.msgType() == KM_STATUS && (msg.msgState() == KS_INFO || msg.msgState() == KS_ANSWER)
        && msg.origin() == panelName())
        showModuleStatus(msg.data().toInt());
}

void ZorContentUiPanel::sendUiPanelMsg(ZorMessage msg)
{
    if (isObjectListRequest(msg)) {
        enqueueObjectRwRequests(msg);
        return;
    }
    ZorMessage out(msg);
    out.setOrigin(panelUserData());
    emit msgOut(out);
}

void ZorContentUiPanel::enqueueObjectRwRequests(ZorMessage msg)
{
    m_queue.append(msg);
    if (!m_busy)
        sendNextRequest();
    if (m_queue.size() >= QueueLimit) {
        qDebug() << "UI Panel: OBJECT RW QUEUE OVERFLOW. CLEARING.";
        cancelQueuedRequests();
    }
}

void ZorContentUiPanel::sendNextRequest()
{
    if (!m_running) {
        cancelQueuedRequests();
        // Inside a cancelling pass (the table asked again in reaction to a
        // cancelled answer) that pass answers the new request too.
        if (m_cancelling)
            return;
    }
    m_busy = !m_queue.isEmpty();
    if (!m_busy)
        return;
    m_current = m_queue.takeFirst();
    m_current.setOrigin(panelUserData());
    emit msgOut(m_current);
    m_current.setMsgState(KS_WAITING);
}

void ZorContentUiPanel::cancelQueuedRequests()
{
    if (m_cancelling)
        return;
    m_cancelling = true;
    while (!m_queue.isEmpty()) {
        ZorMessage cancelled = m_queue.takeFirst();
        cancelled.setOrigin(panelUserData());
        cancelled.setMsgState(KS_CANCEL);
        handleIncoming(cancelled);
    }
    m_cancelling = false;
}

// --- running -------------------------------------------------------------------------------

void ZorContentUiPanel::restartObjectUpdate()
{
    if (!m_table)
        return;
    m_table->stopObjectUpdate();
    m_table->initObjectUpdate();
}

void ZorContentUiPanel::showModuleStatus(int status)
{
    if (status == m_lastStatus)
        return;
    if (status <= 0) {
        if (m_table)
            m_table->stopObjectUpdate();
        m_running = false;
    } else {
        // Running first: the table sends its first reads at once.
        m_running = true;
        restartObjectUpdate();
    }
    pushButtonStart->setChecked(m_running);
    // Disabled (no screen loaded) it must look disabled whatever the colour.
    pushButtonStart->setStyleSheet(QStringLiteral("QPushButton { %1 } QPushButton:disabled { color: #909090; }")
                                       .arg(statusStyleSheet(status)));
    if (!pushButtonStart->isChecked())
        pushButtonStart->setText(tr("Start"));
    else if (status == 1200)
        pushButtonStart->setText(tr("Read/Write Error"));
    else if (status >= 2000)
        pushButtonStart->setText(tr("Error"));
    else
        pushButtonStart->setText(tr("Running"));
    m_lastStatus = status;
}

void ZorContentUiPanel::on_pushButtonStart_clicked(bool checked)
{
    sendGuiMsg(ZorMessage(checked ? KM_START : KM_STOP, KS_REQUEST));
}

void ZorContentUiPanel::startUi()
{
    sendGuiMsg(ZorMessage(KM_START, KS_REQUEST));
}

void ZorContentUiPanel::on_pushButtonStop_clicked()
{
    pushButtonStart->setChecked(false);
    sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST));
}

void ZorContentUiPanel::setGuiMode(int mode)
{
    ZorPanel::setGuiMode(mode);
    const bool operatorMode = mode == 4 || mode == 5;
    const bool buttons = panelUserData() == UiPanelType && !operatorMode;
    pushButtonStart->setVisible(buttons);
    pushButtonStop->setVisible(buttons);
    if (operatorMode)
        QTimer::singleShot(StartDelayMs, this, &ZorContentUiPanel::startUi);
}

void ZorContentUiPanel::setUserLevel(int level)
{
    ZorPanel::setUserLevel(level);
    m_toolBar->setVisible(level > 1);
    if (level <= 1)
        leaveDesignMode();
}

void ZorContentUiPanel::leaveDesignMode()
{
    actionDesignRuntimeMode->setChecked(false);
    actionShowData->setChecked(false);
    if (m_view)
        m_view->setDesignMode(false);
    emit m_bridge.designModeToggled(false);
}

// --- design mode ---------------------------------------------------------------------------

void ZorContentUiPanel::on_actionDesignRuntimeMode_triggered(bool on)
{
    if (!on)
        actionShowData->setChecked(false);
    if (m_view)
        m_view->setDesignMode(on);
    emit m_bridge.designModeToggled(on);
}

void ZorContentUiPanel::designModeToggleForDataTableActions(bool b)
{
    for (QAction *a : {actionCopy, actionCut, actionPaste, actionDelete})
        a->setVisible(b);
    actionPaste->setEnabled(b);
    if (!b) {
        if (m_selection)
            m_selection->clearSelection();
        actionCopy->setEnabled(false);
        actionCut->setEnabled(false);
        actionDelete->setEnabled(false);
    }
}

void ZorContentUiPanel::showDataToggleForIndexesSelection(bool b)
{
    if (!b && m_selection)
        m_selection->clearSelection();
}

void ZorContentUiPanel::on_actionReloadQml_triggered()
{
    if (actionDesignRuntimeMode->isChecked())
        loadQml();
}

void ZorContentUiPanel::qmlRefreshRequired(QString)
{
    loadQml();
}

void ZorContentUiPanel::dynamicUiElementDropped(QString text, QPoint pos)
{
    if (!m_table)
        return;
    QMimeData mime;
    mime.setText(text);
    ZorDynamicUiEditModel dropped(QDomDocument(), isNodePanel());
    if (isNodePanel())
        dropped.setLockedNodeId(m_table->lockedNodeId());
    dropped.dropMimeData(&mime, Qt::CopyAction, 0, 0, QModelIndex());

    // Every control gets a shape and an update rate.
    for (int r = 0; r < dropped.rowCount(); ++r) {
        const QModelIndex formatCell = dropped.index(r, ZorObjEditModel::UiFormatColumn);
        QString format = formatCell.data().toString();
        QString shape = shapeOf(format);
        if (shape.isEmpty())
            shape = QStringLiteral("label");
        QString updates = ZorDeviceDescModel::formatEntry(format, QStringLiteral("updates"));
        if (updates.isEmpty())
            updates = QStringLiteral("r1000");
        ZorDeviceDescModel::setFormatEntry(format, QStringLiteral("shape"), shape);
        ZorDeviceDescModel::setFormatEntry(format, QStringLiteral("updates"), updates);
        dropped.setData(formatCell, format, Qt::EditRole);
    }

    const bool ranBefore = m_running;
    if (ranBefore) {
        m_table->stopObjectUpdate();
        pushButtonStart->setChecked(false);
    }

    int x = pos.x();
    int y = pos.y();
    for (int r = 0; r < dropped.rowCount(); ++r) {
        std::unique_ptr<QMimeData> one(dropped.mimeData({dropped.index(r, 0)}));
        m_table->dropMimeData(one.get(), Qt::CopyAction, 0, 0, QModelIndex());
        const QString id = dropped.index(r, 0).data(DataObjectIdRole).toString();
        const QModelIndex row = m_table->findDataObject(id);
        if (row.isValid()) {
            const QString format = m_table->index(row.row(), ZorObjEditModel::UiFormatColumn).data().toString();
            const QString instance = QStringLiteral("%1,%2,%3").arg(shapeOf(format)).arg(x).arg(y);
            emit m_bridge.dynamicUiCreateRequested(
                instance, row.sibling(row.row(), 0).data(DataObjectIdRole).toString(),
                ZorQmlInterface::parseUiFormat(format),
                m_table->index(row.row(), ZorDeviceDescModel::NameColumn).data().toString(),
                m_table->index(row.row(), ZorDeviceDescModel::ValueColumn).data().toString());
        }
        x += 20;
        y += 20;
    }
    // Rows whose controls the screen did not create go again.
    m_bridge.updateModelFromQmlInstances();

    if (ranBefore) {
        m_running = true;
        restartObjectUpdate();
        pushButtonStart->setChecked(true);
    }
}

// --- clipboard and table editing -----------------------------------------------------------

QModelIndexList ZorContentUiPanel::selectedRows() const
{
    if (!m_selection)
        return {};
    QSet<int> seen;
    QModelIndexList rows;
    for (const QModelIndex &i : m_selection->selectedIndexes()) {
        if (!seen.contains(i.row())) {
            seen.insert(i.row());
            rows << i.sibling(i.row(), 0);
        }
    }
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    return rows;
}

void ZorContentUiPanel::pasteMimeToView(const QMimeData *mime)
{
    if (!m_view || !mime)
        return;
    m_view->dropData(mime, QPoint(0, 0));
}

void ZorContentUiPanel::on_actionPaste_triggered()
{
    if (m_table)
        pasteMimeToView(QApplication::clipboard()->mimeData());
}

void ZorContentUiPanel::on_actionCopy_triggered()
{
    if (!m_table || !m_selection || m_selection->selectedIndexes().isEmpty())
        return;
    QApplication::clipboard()->setMimeData(m_table->mimeData(m_selection->selectedIndexes()));
}

void ZorContentUiPanel::on_actionCut_triggered()
{
    if (!m_table || !m_selection || m_selection->selectedIndexes().isEmpty())
        return;
    on_actionCopy_triggered();
    m_table->removeRows(selectedRows());
    loadQml();
}

void ZorContentUiPanel::on_actionDelete_triggered()
{
    if (!m_table || !m_selection || m_selection->selectedIndexes().isEmpty())
        return;
    m_table->removeRows(selectedRows());
    loadQml();
}

int ZorContentUiPanel::askNodeId(const QString &title, const QString &label, bool *ok)
{
    QInputDialog dialog(this, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog.setObjectName(QStringLiteral("nodeIdDialog"));
    dialog.setInputMode(QInputDialog::IntInput);
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setIntRange(1, 127);
    dialog.setIntStep(1);
    dialog.setIntValue(1);
    *ok = dialog.exec() == QDialog::Accepted;
    return dialog.intValue();
}

void ZorContentUiPanel::on_actionChangeNodeId_triggered()
{
    if (!m_table)
        return;
    const bool ranBefore = m_running;
    const bool selectedAll = m_selection && !m_selection->hasSelection();
    if (selectedAll)
        tbDataObjects->selectAll();
    bool ok = false;
    const int nodeId = askNodeId(tr("Change Node ID"),
                                 tr("Choose a new CANopen Node ID\nfor the selected table elements:"), &ok);
    if (ok) {
        // Re-addressing changes the rows' ids, not their places.
        QList<int> rows;
        for (const QModelIndex &i : selectedRows())
            rows << i.row();
        for (int r : rows)
            m_table->setData(m_table->index(r, ZorDeviceDescModel::NodeIdColumn), QString::number(nodeId),
                             Qt::EditRole);
    }
    if (selectedAll && m_selection)
        m_selection->clearSelection();
    if (!ok)
        return;
    loadQml();
    m_bridge.updateModelFromQmlInstances();
    if (ranBefore) {
        m_running = true;
        restartObjectUpdate();
        pushButtonStart->setChecked(true);
    }
}

void ZorContentUiPanel::on_actionClone_triggered()
{
    if (!m_table || !m_selection || m_selection->selectedIndexes().isEmpty())
        return;
    bool ok = false;
    const int nodeId = askNodeId(
        tr("Clone UI Elements"),
        tr("Clone the UI elements of the selected\nobject table rows, using a different Node ID:"), &ok);
    if (!ok)
        return;
    std::unique_ptr<QMimeData> selected(m_table->mimeData(m_selection->selectedIndexes()));
    ZorDynamicUiEditModel clones(QDomDocument(), true);
    clones.setLockedNodeId(QString::number(nodeId));
    clones.dropMimeData(selected.get(), Qt::CopyAction, 0, 0, QModelIndex());
    std::unique_ptr<QMimeData> all(clones.allObjectsMimeData());
    pasteMimeToView(all.get());
}

void ZorContentUiPanel::lockedNodeIdChanged(QString id)
{
    if (!m_table)
        return;
    m_table->setLockedNodeId(id);
    loadQml();
    m_bridge.updateModelFromQmlInstances();
    if (m_running)
        restartObjectUpdate();
}

// --- table columns -------------------------------------------------------------------------

void ZorContentUiPanel::resizeTableColumns()
{
    for (int column : {3, 5, 4, 13, 14})
        tbDataObjects->resizeColumnToContents(column);
}

void ZorContentUiPanel::startResizeTimer()
{
    if (!m_resizeTimer.isActive())
        m_resizeTimer.start();
}

void ZorContentUiPanel::modelDataChanged(QModelIndex, QModelIndex)
{
    startResizeTimer();
}

void ZorContentUiPanel::modelRowsInserted(QModelIndex, int, int)
{
    startResizeTimer();
}

void ZorContentUiPanel::tableScrollBarValueChanged(int)
{
    startResizeTimer();
}
