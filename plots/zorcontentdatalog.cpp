#include "zorcontentdatalog.h"

#include "datalogsample.h"
#include "datalogseries.h"
#include "shareddataregistry.h"
#include "zorapplfiles.h"
#include "zorbabelfish.h"
#include "zorcontentplot.h"
#include "zormoddatalog.h"
#include "zormonitoredititemdelegate.h"
#include "zormonitoringeditmodel.h"
#include "zornewplotdialog.h"
#include "zoroverlaylabel.h"
#include "zorquestionbox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QShortcut>
#include <QTableView>
#include <QTextCodec>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initPlotResources()
{
    Q_INIT_RESOURCE(zorploticons);
}

namespace {

constexpr int LockTimeoutMs = 5000;
constexpr int ValueColumn = 5;
constexpr int NameColumn = 3;
constexpr int ScalingColumn = 13;
constexpr int SamplingColumn = 14;
constexpr int RateColumn = 15;
constexpr int RawValueRole = 33;
constexpr int DataObjectIdRole = 48;
const char MonitoringDoc[] = "MonitoringObjects";
const char DefaultRecordingName[] = "measurements_DATETIME.csv";

} // namespace

ZorContentDataLog::ZorContentDataLog(QWidget *parent)
    : ZorPanel((initPlotResources(), parent))
    , m_delegate(new ZorMonitorEditItemDelegate(this))
{
    setObjectName(QStringLiteral("ZorContentDataLog"));
    setWindowTitle(QStringLiteral("ZorContentDataLog"));
    resize(557, 482);

    actionStart = makeAction("actionStart", tr("Start"), tr("Start live data acquisition"), "start.png", true);
    actionStop = makeAction("actionStop", tr("Stop"), tr("Stop live data acquisition"), "stop.png", true);
    actionStop->setChecked(false);
    actionStop->setEnabled(false);
    actionRecord = makeAction("actionRecord", tr("Record"), tr("Start / Stop recording to file"), "record.png", true);
    actionOpen = makeAction("actionOpen", tr("Open"), tr("Open an existing recording file"), "open.png");
    actionDelete = makeAction("actionDelete", tr("Delete"), tr("Delete selected data object from table"), "delete.png");
    actionCopy = makeAction("actionCopy", tr("Copy"), tr("Copy data objects to clipboard"), "copy.png");
    actionPaste = makeAction("actionPaste", tr("Paste"), tr("Paste data objects from clipboard"), "paste.png");
    actionNewPlot = makeAction("actionNewPlot", tr("New Plot"), tr("Create new plot for one or several data objects"),
                               "plot.png");
    actionCut = makeAction("actionCut", tr("Cut"), tr("Cut data objects to clipboard"), "cut.png");
    actionCancel = makeAction("actionCancel", tr("Cancel"), tr("Cancel the loading of a recording file"), "cancel.png");
    actionClearMeasurements = makeAction("actionClearMeasurements", tr("Clear"), tr("Clear all accumulated live data"),
                                         "clear.png");
    actionReloadRecording = makeAction("actionReloadRecording", tr("Reload"),
                                       tr("Reload the currently selected recording file"), "reload.png");
    actionToggleLiveMode = makeAction("actionToggleLiveMode", tr("Live Mode"),
                                      tr("Close file and switch back to live mode"), "live.png");

    auto *grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout_2"));
    grid->setSpacing(6);
    grid->setContentsMargins(11, 11, 11, 11);
    m_toolbarLayout = new QGridLayout;
    m_toolbarLayout->setObjectName(QStringLiteral("gridLayoutToolbar"));
    auto *container = new QFrame(this);
    container->setObjectName(QStringLiteral("frameToolbarContainer"));
    m_toolbarLayout->addWidget(container, 1, 0);
    grid->addLayout(m_toolbarLayout, 0, 0);

    auto *fields = new QGridLayout;
    fields->setObjectName(QStringLiteral("gridLayout"));
    m_labelState = new QLabel(tr("Status"), this);
    m_labelState->setObjectName(QStringLiteral("labelState"));
    m_state = new QLineEdit(this);
    m_state->setObjectName(QStringLiteral("lineEditState"));
    m_state->setReadOnly(true);
    m_state->setEnabled(false);
    m_state->setMinimumHeight(20);
    m_labelRecordingPath = new QLabel(tr("Recording File"), this);
    m_labelRecordingPath->setObjectName(QStringLiteral("labelRecordingPath"));
    m_recordingPath = new QLineEdit(this);
    m_recordingPath->setObjectName(QStringLiteral("lineEditRecordingPath"));
    m_selectRecordingPath = new QToolButton(this);
    m_selectRecordingPath->setObjectName(QStringLiteral("toolButtonSelectRecordingPath"));
    m_selectRecordingPath->setText(QStringLiteral("..."));
    fields->addWidget(m_labelState, 0, 0);
    fields->addWidget(m_state, 0, 1, 1, 2);
    fields->addWidget(m_labelRecordingPath, 1, 0);
    fields->addWidget(m_recordingPath, 1, 1);
    fields->addWidget(m_selectRecordingPath, 1, 2);
    grid->addLayout(fields, 1, 0);

    auto *column = new QVBoxLayout;
    column->setObjectName(QStringLiteral("verticalLayout"));
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tableViewMonitoringConfig"));
    m_warning = new QLabel(this);
    m_warning->setObjectName(QStringLiteral("labelWarning"));
    m_warning->setWordWrap(true);
    m_warning->setStyleSheet(QStringLiteral("background-color: #FEE600; color:black; padding: 3px;"));
    m_warning->hide();
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    column->addWidget(m_table);
    column->addWidget(m_warning);
    column->addWidget(m_progress);
    grid->addLayout(column, 2, 0);

    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                             | QAbstractItemView::AnyKeyPressed);
    m_table->setAlternatingRowColors(false);
    m_table->horizontalHeader()->setDefaultSectionSize(50);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->setDragEnabled(true);
    m_table->setDragDropMode(QAbstractItemView::DragDrop);
    m_table->setDefaultDropAction(Qt::CopyAction);
    m_table->setItemDelegate(m_delegate);
    m_table->setFocus();
    m_table->installEventFilter(this);
    m_progress->hide();

    connect(actionStart, &QAction::triggered, this, &ZorContentDataLog::on_actionStart_triggered);
    connect(actionStop, &QAction::triggered, this, &ZorContentDataLog::on_actionStop_triggered);
    connect(actionRecord, &QAction::triggered, this, &ZorContentDataLog::on_actionRecord_triggered);
    connect(actionOpen, &QAction::triggered, this, qOverload<>(&ZorContentDataLog::on_actionOpen_triggered));
    connect(actionDelete, &QAction::triggered, this, &ZorContentDataLog::on_actionDelete_triggered);
    connect(actionCopy, &QAction::triggered, this, &ZorContentDataLog::on_actionCopy_triggered);
    connect(actionPaste, &QAction::triggered, this, &ZorContentDataLog::on_actionPaste_triggered);
    connect(actionCut, &QAction::triggered, this, &ZorContentDataLog::on_actionCut_triggered);
    connect(actionNewPlot, &QAction::triggered, this, &ZorContentDataLog::on_actionNewPlot_triggered);
    connect(actionCancel, &QAction::triggered, this, &ZorContentDataLog::on_actionCancel_triggered);
    connect(actionClearMeasurements, &QAction::triggered, this,
            &ZorContentDataLog::on_actionClearMeasurements_triggered);
    connect(actionReloadRecording, &QAction::triggered, this, &ZorContentDataLog::on_actionReloadRecording_triggered);
    connect(actionToggleLiveMode, &QAction::triggered, this, &ZorContentDataLog::on_actionToggleLiveMode_triggered);
    connect(m_selectRecordingPath, &QToolButton::clicked, this,
            &ZorContentDataLog::on_toolButtonSelectRecordingPath_clicked);
    connect(m_table, &QTableView::doubleClicked, this, &ZorContentDataLog::on_tableViewMonitoringConfig_doubleClicked);
}

ZorContentDataLog::~ZorContentDataLog()
{
    sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST, QString()));
    if (actionRecord->isChecked())
        writeCompanionFile();
    savePanelState();
    delete m_dialog.data();
}

QAction *ZorContentDataLog::makeAction(const char *name, const QString &text, const QString &tip, const char *icon,
                                       bool checkable)
{
    auto *action = new QAction(QIcon(QStringLiteral(":/DataLog/Icons/") + QLatin1String(icon)), text, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(tip);
    action->setCheckable(checkable);
    return action;
}

bool ZorContentDataLog::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    m_defaultFolder = ZorApplServices::workingDir() + QStringLiteral("/Recordings");
    connect(actionStart, &QAction::toggled, actionStart, &QAction::setDisabled);
    connect(actionStart, &QAction::toggled, actionStop, &QAction::setEnabled);
    connect(actionRecord, &QAction::toggled, m_labelRecordingPath, &QWidget::setDisabled);
    connect(actionRecord, &QAction::toggled, actionClearMeasurements, &QAction::setDisabled);
    connect(actionRecord, &QAction::toggled, m_selectRecordingPath, &QWidget::setDisabled);
    connect(actionRecord, &QAction::toggled, this, &ZorContentDataLog::recordingToggled);
    actionStart->setChecked(true);
    actionStart->setChecked(false);
    actionStop->setChecked(true);

    m_toolBar = new QToolBar(this);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbarLayout->addWidget(m_toolBar, 0, 0);

    m_overlay = new ZorOverlayLabel(m_table);
    m_overlay->setText(tr("Drag data objects from the Object Editor to configure scope"));
    m_overlay->setHighlighted(true);
    m_overlay->setAcceptDrops(true);
    m_overlay->installEventFilter(this);
    m_overlay->fitToParent();

    m_live = true;
    switchMode(true);
    // A panel made anew (its dock was closed during a recording, say)
    // shows what the module does rather than a fresh start.
    sendDaqControl(QString::number(ZorModDataLog::ReportState));
    return bound;
}

void ZorContentDataLog::switchMode(bool live)
{
    if (!live) {
        if (actionRecord->isChecked())
            actionRecord->trigger();
        if (actionStart->isChecked())
            actionStop->trigger();
    }
    m_live = live;

    if (m_clipboardKeys.isEmpty()) {
        const std::pair<QKeySequence::StandardKey, void (ZorContentDataLog::*)()> keys[] = {
            {QKeySequence::Cut, &ZorContentDataLog::on_actionCut_triggered},
            {QKeySequence::Copy, &ZorContentDataLog::on_actionCopy_triggered},
            {QKeySequence::Paste, &ZorContentDataLog::on_actionPaste_triggered},
            {QKeySequence::Delete, &ZorContentDataLog::on_actionDelete_triggered},
        };
        for (const auto &key : keys) {
            auto *shortcut = new QShortcut(QKeySequence(key.first), this);
            shortcut->setContext(Qt::WidgetWithChildrenShortcut);
            connect(shortcut, &QShortcut::activated, this, key.second);
            m_clipboardKeys.append(shortcut);
        }
    }
    for (QShortcut *shortcut : qAsConst(m_clipboardKeys))
        shortcut->setEnabled(live);
    setDragDropMode(live ? 1 : 0);

    QDomDocument doc = live ? loadDoc(QLatin1String(MonitoringDoc)) : QDomDocument();
    if (doc.isNull() || doc.documentElement().isNull()) {
        doc = QDomDocument();
        doc.appendChild(doc.createElement(QStringLiteral("CANopenObjectList")));
    }
    setModelFrom(doc);

    m_toolBar->clear();
    m_toolBar->addAction(actionOpen);
    if (live) {
        for (QAction *a : {actionStart, actionStop, actionNewPlot, actionDelete, actionCut, actionCopy, actionPaste,
                           actionRecord, actionClearMeasurements})
            m_toolBar->addAction(a);
        for (QAction *a : {actionStart, actionStop, actionNewPlot, actionDelete, actionCut, actionCopy, actionPaste,
                           actionRecord, actionClearMeasurements, actionOpen})
            a->setVisible(true);
        for (QAction *a : {actionReloadRecording, actionCancel, actionToggleLiveMode})
            a->setVisible(false);
        actionStart->setChecked(true);
        actionStart->setChecked(false);
        actionStop->setChecked(true);
        connect(m_model.data(), &QAbstractItemModel::rowsInserted, this, &ZorContentDataLog::modelRowsInserted);
        m_recordingPath->setText(QLatin1String(DefaultRecordingName));
    } else {
        for (QAction *a : {actionReloadRecording, actionNewPlot, actionCancel, actionToggleLiveMode})
            m_toolBar->addAction(a);
        for (QAction *a : {actionStart, actionStop, actionDelete, actionCut, actionCopy, actionPaste, actionRecord,
                           actionClearMeasurements})
            a->setVisible(false);
        for (QAction *a : {actionReloadRecording, actionNewPlot, actionToggleLiveMode})
            a->setVisible(true);
        actionReloadRecording->setEnabled(false);
        actionNewPlot->setEnabled(false);
        actionCancel->setVisible(false);
    }
    m_progress->hide();
    m_warning->clear();
    m_warning->hide();
    m_recordingPath->setEnabled(live);
    m_selectRecordingPath->setEnabled(!actionRecord->isChecked());
    updateActions();
}

void ZorContentDataLog::setModelFrom(const QDomDocument &doc)
{
    QPointer<ZorMonitoringEditModel> oldModel = m_model;
    QPointer<QItemSelectionModel> oldSelection = m_selection;
    m_model = new ZorMonitoringEditModel(doc, this, !m_live);
    takeRecordingSnapshot();
    m_selection = new QItemSelectionModel(m_model, this);
    m_table->setModel(m_model);
    m_table->setSelectionModel(m_selection);
    for (int c : {0, 1, 2, 6, 7, 8, 9, 10, 11, 12})
        m_table->setColumnHidden(c, true);
    m_table->horizontalHeader()->show();
    for (int c : {ValueColumn, SamplingColumn, RateColumn})
        m_table->setColumnHidden(c, !m_live);
    m_table->setAcceptDrops(m_live);
    connect(m_model.data(), &QAbstractItemModel::dataChanged, this, &ZorContentDataLog::monitoringDataChanged);
    m_listEdited = false;
    if (oldModel)
        oldModel->deleteLater();
    if (oldSelection)
        oldSelection->deleteLater();
}

void ZorContentDataLog::takeRecordingSnapshot()
{
    QPointer<ZorMonitoringEditModel> old = m_snapshot;
    QDomDocument empty;
    empty.appendChild(empty.createElement(QStringLiteral("CANopenObjectList")));
    m_snapshot = new ZorMonitoringEditModel(empty, this, !m_live);
    if (m_model) {
        QScopedPointer<QMimeData> all(m_model->allObjectsMimeData());
        if (all)
            m_snapshot->dropMimeData(all.data(), Qt::CopyAction, 0, 0, QModelIndex());
    }
    if (old)
        old->deleteLater();
}

QString ZorContentDataLog::commitPanelSettings()
{
    if (m_live && m_model) {
        QDomDocument doc;
        doc.setContent(m_model->toXml());
        saveDoc(doc, QLatin1String(MonitoringDoc));
        m_listEdited = false;
    }
    return QString();
}

// --- messages -----------------------------------------------------------------

void ZorContentDataLog::sendDaqControl(const QString &data, int state)
{
    sendGuiMsg(ZorMessage(KM_DAQ_CONTROL, state, data));
}

void ZorContentDataLog::sendConfiguration()
{
    if (!m_model)
        return;
    const QString text = m_model->monitorConfiguration();
    if (text == m_lastConfiguration)
        return;
    m_lastConfiguration = text;
    sendGuiMsg(ZorMessage(KM_DAQ_CONFIG, KS_REQUEST, text));
}

void ZorContentDataLog::processIn(const ZorMessage &msg)
{
    const int type = msg.msgType();
    const int state = msg.msgState();
    if (type == KM_DAQ_SHARED_IDS_LIST && state == KS_INFO) {
        readSharedIds(msg.data().toString());
        return;
    }
    if (type == KM_DAQ_DATA && (state == KS_INFO || state == KS_ANSWER)) {
        if (m_live)
            showLiveValues(msg.data().toString());
        return;
    }
    if (type == KM_STATUS) {
        showDaqStatus(msg.data().toInt());
        return;
    }
    if (type == KM_INFOTEXT) {
        m_state->setText(msg.data().toString());
        return;
    }
    if (type == KM_LOGTEXT) {
        // The module's report of skipped samples.
        m_warning->setText(msg.data().toString().trimmed());
        m_warning->setVisible(!m_warning->text().isEmpty());
        return;
    }
    const int code = ZorModDataLog::daqControlCode(msg);
    if (code == ZorModDataLog::ReportState) {
        if (state == KS_ANSWER)
            followModuleState(ZorModDataLog::daqControlArguments(msg));
        return;
    }
    if (code == ZorModDataLog::StartRecording && state == KS_FAIL) {
        recordingFailed(msg);
        return;
    }
    if (m_live) {
        if (type == KM_DAQ_CONFIG && state == KS_ANSWER)
            refreshSeriesScalings();
        else if (type == KM_DROP_DATA && state == KS_REQUEST && m_model) {
            QMimeData mime;
            mime.setText(msg.data().toString());
            m_model->dropMimeData(&mime, Qt::CopyAction, 0, 0, QModelIndex());
        } else if (code == ZorModDataLog::StartRecording && state == KS_ANSWER) {
            m_recordingConfirmed = true;
            m_companionPath = ZorModDataLog::companionPathOf(m_recordingPathResolved);
            writeCompanionFile();
        }
    } else if (code == ZorModDataLog::LoadFile) {
        loadAnswered(msg);
    }
}

void ZorContentDataLog::recordingFailed(const ZorMessage &msg)
{
    // The module has stopped recording already: Record is released without
    // asking it again.
    if (actionRecord->isChecked()) {
        actionRecord->setChecked(false);
        m_recordingPath->setText(m_recordingPattern);
        // What was recorded up to the failure keeps its list of objects.
        if (m_recordingConfirmed)
            writeCompanionFile();
    }
    m_recordingConfirmed = false;
    QString file = m_recordingPathResolved;
    ZorApplServices::makeRelativeToWorkingDir(file);
    ZorQuestionBox::warn(this, tr("Recording Error"),
                         tr("Recording to %1 failed: %2").arg(file, ZorModDataLog::daqControlArguments(msg)));
}

// The answer to KM_DAQ_CONTROL 6: "<state>,<recording>,<file>".
void ZorContentDataLog::followModuleState(const QString &arguments)
{
    const QString state = arguments.section(QLatin1Char(','), 0, 0);
    const bool recording = arguments.section(QLatin1Char(','), 1, 1) == QLatin1String("1");
    const QString file = arguments.section(QLatin1Char(','), 2);   // a path may hold commas
    const QStringList fileModeStates = {QStringLiteral("notloaded"), QStringLiteral("loading"),
                                        QStringLiteral("loaded"), QStringLiteral("error")};
    if (fileModeStates.contains(state)) {
        if (m_live) {
            // Nothing to stop: the module left live mode already.
            actionRecord->setChecked(false);
            actionStart->setChecked(false);
            switchMode(false);
        }
        if (state == QLatin1String("loading")) {
            showLoading(file);
        } else if (state == QLatin1String("loaded")) {
            m_lastOpenedFile = file;
            QString shown = file;
            ZorApplServices::makeRelativeToWorkingDir(shown);
            m_recordingPath->setText(shown);
            loadCompanionFile(ZorModDataLog::companionPathOf(file));
            setLoadingControls(false);
        }
        return;
    }
    if (!m_live)
        return;
    if (state == QLatin1String("running")) {
        actionStart->setChecked(true);
        actionStop->setChecked(false);
    } else if (state == QLatin1String("idle")) {
        actionStop->setChecked(true);
        actionStart->setChecked(false);
    }
    if (recording && !actionRecord->isChecked())
        showRecording(file);
}

void ZorContentDataLog::showRecording(const QString &path)
{
    m_recordingPattern = m_recordingPath->text().trimmed();
    m_recordingPathResolved = path;
    m_companionPath = ZorModDataLog::companionPathOf(path);
    m_recordingConfirmed = true;
    takeRecordingSnapshot();
    actionRecord->setChecked(true);
    QString shown = path;
    ZorApplServices::makeRelativeToWorkingDir(shown);
    m_recordingPath->setText(shown);
}

void ZorContentDataLog::showDaqStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    m_state->setStyleSheet(statusStyleSheet(status));
    if (!m_live)
        return;
    if (status <= 0) {
        actionStop->setChecked(true);
        actionStart->setChecked(false);
    } else {
        actionStart->setChecked(true);
        actionStop->setChecked(false);
    }
}

void ZorContentDataLog::readSharedIds(const QString &text)
{
    if (text == m_lastSharedIds)
        return;
    m_lastSharedIds = text;
    m_sharedIds = ZorModDataLog::sharedIdsOf(text);
    refreshSeriesScalings();
}

QString ZorContentDataLog::rowId(int row) const
{
    return m_model ? m_model->index(row, 0).data(DataObjectIdRole).toString() : QString();
}

void ZorContentDataLog::copyScalingToSeries(int row)
{
    const auto found = m_sharedIds.constFind(rowId(row));
    if (found == m_sharedIds.cend())
        return;
    const QString scaling = m_model->index(row, ScalingColumn).data(Qt::DisplayRole).toString();
    if (DataLogSeries *series = SharedDataRegistry::lock(found.value(), LockTimeoutMs)) {
        series->setScalingText(scaling);
        SharedDataRegistry::unlock(found.value());
    }
}

void ZorContentDataLog::refreshSeriesScalings()
{
    if (!m_model)
        return;
    for (int row = 0; row < m_model->rowCount(); ++row)
        copyScalingToSeries(row);
}

QString ZorContentDataLog::valueText(double value)
{
    if (std::isfinite(value) && value == std::trunc(value))
        return QString::number(value, 'g', 6);
    return QString::number(value, 'f', 3);
}

void ZorContentDataLog::showLiveValues(const QString &text)
{
    if (!m_model)
        return;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QModelIndex row = m_model->findDataObject(DataLogSample::channelOfLine(line));
        if (!row.isValid())
            continue;
        const DataLogSample sample(line);
        m_model->setData(row.sibling(row.row(), ValueColumn), valueText(sample.value()), RawValueRole);
    }
}

// --- acquisition ------------------------------------------------------------------

void ZorContentDataLog::on_actionStart_triggered()
{
    if (!m_live)
        return;
    sendGuiMsg(ZorMessage(KM_START, KS_REQUEST, QString()));
    m_lastConfiguration.clear();
    sendConfiguration();
}

void ZorContentDataLog::on_actionStop_triggered()
{
    if (m_live)
        sendGuiMsg(ZorMessage(KM_STOP, KS_REQUEST, QString()));
}

void ZorContentDataLog::updateActions()
{
    const int rows = m_model ? m_model->rowCount() : 0;
    if (m_overlay)
        m_overlay->setVisible(m_live && rows == 0);
    for (QAction *a : {actionNewPlot, actionCut, actionDelete})
        a->setEnabled(a->isVisible() && rows >= 1);
}

bool ZorContentDataLog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && m_overlay && (watched == m_table || watched == m_overlay))
        m_overlay->fitToParent();
    if (event->type() == QEvent::Drop && watched == m_overlay && m_model) {
        const auto *drop = static_cast<QDropEvent *>(event);
        m_model->dropMimeData(drop->mimeData(), Qt::CopyAction, 0, 0, QModelIndex());
    }
    return ZorPanel::eventFilter(watched, event);
}

// --- clipboard --------------------------------------------------------------------

void ZorContentDataLog::on_actionCopy_triggered()
{
    if (!m_model || !m_selection)
        return;
    if (QMimeData *mime = m_model->mimeData(m_selection->selectedIndexes()))
        QApplication::clipboard()->setMimeData(mime);
}

void ZorContentDataLog::on_actionPaste_triggered()
{
    if (!m_model)
        return;
    if (const QMimeData *mime = QApplication::clipboard()->mimeData())
        m_model->dropMimeData(mime, Qt::CopyAction, 0, 0, QModelIndex());
    sendConfiguration();
}

void ZorContentDataLog::on_actionDelete_triggered()
{
    if (!m_model || !m_selection)
        return;
    if (!m_selection->selectedIndexes().isEmpty())
        m_listEdited = true;
    m_model->removeRows(m_selection->selectedIndexes());
    sendConfiguration();
    updateActions();
}

void ZorContentDataLog::on_actionCut_triggered()
{
    on_actionCopy_triggered();
    on_actionDelete_triggered();
}

void ZorContentDataLog::modelRowsInserted(const QModelIndex &parent, int first, int last)
{
    m_listEdited = true;
    sendConfiguration();
    updateActions();
    if (!actionRecord->isChecked() || !m_snapshot || parent.isValid())
        return;
    QModelIndexList rows;
    for (int row = first; row <= last; ++row)
        rows.append(m_model->index(row, 0));
    QScopedPointer<QMimeData> mime(m_model->mimeData(rows));
    if (mime)
        m_snapshot->dropMimeData(mime.data(), Qt::CopyAction, 0, 0, QModelIndex());
}

void ZorContentDataLog::monitoringDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (topLeft.column() == ValueColumn && bottomRight.column() == ValueColumn)
        return;
    if (m_live)
        m_listEdited = true;
    const bool wholeRow = topLeft.row() == bottomRight.row() && topLeft.column() == 0
                          && bottomRight.column() == m_model->columnCount() - 1;
    if (wholeRow || topLeft.column() == SamplingColumn || topLeft.column() == RateColumn)
        sendConfiguration();
    if (wholeRow || topLeft.column() == ScalingColumn)
        copyScalingToSeries(topLeft.row());
}

void ZorContentDataLog::on_actionClearMeasurements_triggered()
{
    if (!ZorQuestionBox::confirm(this, tr("Clear Monitoring Data"), tr("Clear live measurements buffer?"),
                                 QMessageBox::Ok)
        || !m_model)
        return;
    QStringList ids;
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (!ids.contains(rowId(row)))
            ids.append(rowId(row));
    if (!ids.isEmpty())
        sendDaqControl(QString::number(ZorModDataLog::ClearChannels) + QLatin1Char(',') + ids.join(QLatin1Char(',')));
    m_warning->clear();
    m_warning->hide();
}

// --- plots ------------------------------------------------------------------------

QList<QPair<QString, QString>> ZorContentDataLog::objectsForPlot() const
{
    QList<QPair<QString, QString>> objects;
    if (!m_model)
        return objects;
    for (int row = 0; row < m_model->rowCount(); ++row)
        objects.append({rowId(row),
                        rowId(row) + QLatin1Char(' ') + m_model->index(row, NameColumn).data().toString()});
    return objects;
}

QString ZorContentDataLog::uniquePlotName(const QString &name) const
{
    QString n = name.trimmed();
    if (n.isEmpty())
        n = QStringLiteral("Plot");
    const QStringList taken = moduleLabels();
    if (!taken.contains(n))
        return n;
    for (int i = 1; i <= 100; ++i) {
        const QString candidate = n + QLatin1Char(' ') + QString::number(i);
        if (!taken.contains(candidate))
            return candidate;
    }
    return n + QLatin1Char(' ') + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

void ZorContentDataLog::on_actionNewPlot_triggered()
{
    delete m_dialog.data();
    m_dialog = new ZorNewPlotDialog(this);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->setupDialog(objectsForPlot(), uniquePlotName(QStringLiteral("Plot")), QString());
    connect(m_dialog.data(), &ZorNewPlotDialog::plotConfigured, this, &ZorContentDataLog::plotConfigured);
    m_dialog->setModal(true);
    m_dialog->show();
}

void ZorContentDataLog::on_tableViewMonitoringConfig_doubleClicked(const QModelIndex &index)
{
    if (!index.isValid() || !m_model)
        return;
    const int column = index.column();
    if (column == NameColumn || column == ValueColumn || column == ScalingColumn)
        return;
    if (m_live && (column == SamplingColumn || column == RateColumn))
        return;
    const QString id = rowId(index.row());
    const QString name = m_model->index(index.row(), NameColumn).data().toString();
    plotConfigured(QStringLiteral("Plot - ") + id + QLatin1Char(' ') + name,
                   {ZorNewPlotConfigurationData(id, QString(), QColor(QStringLiteral("navy")))});
}

void ZorContentDataLog::plotConfigured(const QString &name, const QList<ZorNewPlotConfigurationData> &curves)
{
    if (m_dialog && m_dialog->isVisible())
        m_dialog->close();
    QDateTime earliest = QDateTime::currentDateTime();
    // A comma would cut the label field of the "addmodule" request short.
    const QString plotName = uniquePlotName(QString(name).replace(QLatin1Char(','), QLatin1Char(' ')));
    for (const ZorNewPlotConfigurationData &curve : curves) {
        const auto found = m_sharedIds.constFind(curve.dataObjectId);
        if (found == m_sharedIds.cend())
            continue;
        if (DataLogSeries *series = SharedDataRegistry::lock(found.value(), LockTimeoutMs)) {
            const DataLogSample first = series->firstValueSample();
            SharedDataRegistry::unlock(found.value());
            if (first.isValid() && first.time() < earliest)
                earliest = first.time();
        }
    }
    const QString parentKey = ZorBabelFish::fromModelIndexToKey(boundIndex());
    const QString docs = QStringLiteral("<%1>%2</%1>")
                             .arg(QStringLiteral("docs"), ZorContentPlot::initialDocument(plotName, curves, earliest));
    sendGuiMsg(ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST,
                          QStringLiteral("addmodule,%1,%2,,%3,%4")
                              .arg(QStringLiteral("datalog_plot"), plotName, parentKey, docs)));
    sendGuiMsg(ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST,
                          QStringLiteral("panel,%1 - %2").arg(panelName(), plotName)));
}

// --- recording ----------------------------------------------------------------------

void ZorContentDataLog::recordingToggled(bool on)
{
    m_recordingPath->setReadOnly(on);
}

void ZorContentDataLog::on_actionRecord_triggered()
{
    if (!actionRecord->isChecked()) {
        m_recordingPath->setText(m_recordingPattern);
        sendDaqControl(QString::number(ZorModDataLog::StopRecording));
        writeCompanionFile();
        return;
    }
    QString path = m_recordingPath->text().trimmed();
    if (path.isEmpty() || ZorApplServices::hasInvalidFileNameChars(path)) {
        actionRecord->setChecked(false);
        return;
    }
    if (!path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        path += QStringLiteral(".csv");
    m_recordingPattern = path;
    path.replace(QStringLiteral("DATETIME"),
                 QDateTime::currentDateTime().toString(Qt::ISODate).replace(QLatin1Char(':'), QLatin1Char('-')));
    if (QFileInfo(path).isRelative()) {
        if (!path.contains(QLatin1Char('/')) && !path.contains(QLatin1Char('\\')))
            path = m_defaultFolder + QLatin1Char('/') + path;
        else
            path = ZorApplServices::workingDir() + QLatin1Char('/') + path;
    }
    QString shown = path;
    ZorApplServices::makeRelativeToWorkingDir(shown);
    m_recordingPath->setText(shown);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
        actionRecord->setChecked(false);
        return;
    }
    takeRecordingSnapshot();
    m_recordingPathResolved = path;
    sendDaqControl(QString::number(ZorModDataLog::StartRecording) + QLatin1Char(',') + path);
}

void ZorContentDataLog::writeCompanionFile()
{
    if (!m_snapshot || m_companionPath.isEmpty())
        return;
    QFile file(m_companionPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    // With its declaration, so that names beyond ASCII read back as written.
    QDomDocument doc = m_snapshot->document();
    QByteArray text = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    text += doc.toString(1).toUtf8();
    file.write(text);
    file.flush();
    file.close();
}

void ZorContentDataLog::on_toolButtonSelectRecordingPath_clicked()
{
    if (!m_live) {
        on_actionOpen_triggered();
        return;
    }
    QString name = QFileDialog::getSaveFileName(
        this,
        tr("Choose the filename to store measurements (use DATETIME as a wildcard to add date/time to the name)"),
        m_recordingPath->text().trimmed(), tr("Log File (*.csv)"));
    if (name.isEmpty())
        return;
    ZorApplServices::makeRelativeToWorkingDir(name);
    m_recordingPath->setText(name);
}

// --- viewer mode --------------------------------------------------------------------

void ZorContentDataLog::on_actionOpen_triggered()
{
    on_actionOpen_triggered(QString());
}

void ZorContentDataLog::on_actionOpen_triggered(const QString &fileName)
{
    QString name = fileName;
    if (name.isEmpty()) {
        QString folder = ZorApplServices::workingDir();
        if (!m_lastOpenedFile.isEmpty() && QFileInfo::exists(m_lastOpenedFile))
            folder = QFileInfo(m_lastOpenedFile).absolutePath();
        else if (QDir(m_defaultFolder).exists())
            folder = m_defaultFolder;
        name = QFileDialog::getOpenFileName(this, tr("Open Recorded Log"), folder,
                                            tr("Recorded Log File (*.csv)"));
    }
    if (name.isEmpty() || !QFileInfo::exists(name))
        return;
    if (m_live) {
        if (!ZorQuestionBox::confirm(
                this, tr("Open Recording"),
                tr("This will clear the Live Mode data buffer, and switch to File Viewer mode. Are you sure?")))
            return;
        if (!keepListEdits())
            return;
        switchMode(false);
        sendDaqControl(QStringLiteral("%1,1").arg(ZorModDataLog::SwitchMode));
    }
    showLoading(name);
    sendDaqControl(QString::number(ZorModDataLog::LoadFile) + QLatin1Char(',') + name);
}

// Live Mode brings the list stored in the project back: edits that are not
// stored yet are stored first, or dropped, as the user chooses.
bool ZorContentDataLog::keepListEdits()
{
    if (!m_listEdited)
        return true;
    ZorQuestionBox::Question question;
    question.icon = QMessageBox::Warning;
    question.title = tr("Monitoring List Changed");
    question.text = tr("The monitoring list has changes that are not stored in the project yet. Store them "
                       "before switching to File Viewer mode? Otherwise Live Mode shows the list as it was.");
    question.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    question.defaultButton = QMessageBox::Yes;
    const QMessageBox::StandardButton answer = ZorQuestionBox::ask(this, question);
    if (answer == QMessageBox::Yes)
        commitPanelSettings();
    return answer == QMessageBox::Yes || answer == QMessageBox::No;
}

void ZorContentDataLog::showLoading(const QString &name)
{
    m_lastOpenedFile = name;
    setLoadingControls(true);
    m_sharedIds.clear();
    m_lastSharedIds.clear();
    m_table->setModel(nullptr);
    m_table->horizontalHeader()->hide();
    m_progress->setValue(0);
    m_progress->show();
    m_warning->clear();
    m_warning->hide();
    QString shown = name;
    ZorApplServices::makeRelativeToWorkingDir(shown);
    m_recordingPath->setText(shown);
}

void ZorContentDataLog::setLoadingControls(bool loading)
{
    for (QAction *a : {actionNewPlot, actionOpen, actionReloadRecording, actionToggleLiveMode})
        a->setEnabled(!loading);
    actionCancel->setVisible(loading);
    m_selectRecordingPath->setEnabled(!loading);
}

void ZorContentDataLog::on_actionReloadRecording_triggered()
{
    if (!m_lastOpenedFile.isEmpty())
        on_actionOpen_triggered(m_lastOpenedFile);
}

void ZorContentDataLog::on_actionCancel_triggered()
{
    sendDaqControl(QString::number(ZorModDataLog::LoadFile), KS_CANCEL);
    actionCancel->setVisible(false);
    actionToggleLiveMode->setEnabled(true);
    actionOpen->setEnabled(true);
    m_selectRecordingPath->setEnabled(true);
    m_progress->hide();
    m_progress->reset();
    m_recordingPath->clear();
}

void ZorContentDataLog::on_actionToggleLiveMode_triggered()
{
    if (!ZorQuestionBox::confirm(
            this, tr("Switch to Live Mode"),
            tr("This will close the viewed recording file and switch back to Live Mode. Are you sure?")))
        return;
    switchMode(true);
    sendDaqControl(QStringLiteral("%1,0").arg(ZorModDataLog::SwitchMode));
}

void ZorContentDataLog::loadCompanionFile(const QString &xmlPath)
{
    QFile file(xmlPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QByteArray bytes = file.readAll();
    // Companion files written without a declaration are Latin-1: bytes that
    // are no UTF-8 are read as such.
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    QDomDocument doc;
    const bool parsed = state.invalidChars == 0 ? doc.setContent(bytes) : doc.setContent(QString::fromLatin1(bytes));
    if (parsed)
        setModelFrom(doc);
}

void ZorContentDataLog::loadAnswered(const ZorMessage &msg)
{
    const QStringList fields = msg.data().toString().split(QLatin1Char(','));
    switch (msg.msgState()) {
    case KS_INFO:
        if (!m_progress->isHidden() && fields.size() >= 4) {
            const int percent = fields.at(3).toInt();
            if (percent == 100)
                m_progress->hide();
            else
                m_progress->setValue(percent);
        }
        return;
    case KS_ANSWER: {
        m_progress->hide();
        // Answered "4,<csv>,<xml>": the companion file names the objects.
        // The file opened is known, so commas in its path do not matter.
        const QString text = msg.data().toString();
        const QString opened = QStringLiteral("4,%1,").arg(m_lastOpenedFile);
        loadCompanionFile(text.startsWith(opened) ? text.mid(opened.size())
                                                  : fields.size() >= 3 ? text.section(QLatin1Char(','), 2) : QString());
        setLoadingControls(false);
        return;
    }
    case KS_FAIL: {
        m_progress->hide();
        setLoadingControls(false);
        actionNewPlot->setEnabled(false);
        ZorQuestionBox::warn(this, tr("File Load Error"), msg.data().toString().section(QLatin1Char(','), 1));
        return;
    }
    default:
        return;
    }
}
