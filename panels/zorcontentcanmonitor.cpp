#include "zorcontentcanmonitor.h"

#include "zorapplfiles.h"
#include "zorbabelfish.h"
#include "zorcanmonfilterproxy.h"
#include "zormonitortablemodel.h"
#include "zorpanelicons.h"
#include "zorquestionbox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTime>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString DefaultTracePattern = QStringLiteral("tracefile_DATETIME.txt");
const QString TraceFolderName = QStringLiteral("CanTrace");
const QString FilterProperty = QStringLiteral("MonitorFilter");
const QString ConfigDocName = QStringLiteral("MonitoringConfigurationDoc");

QString isoDateTimeForFileName()
{
    return QDateTime::currentDateTime().toString(Qt::ISODate).replace(QLatin1Char(':'),
                                                                      QLatin1Char('-'));
}

QString relativeToWorkingDir(QString path)
{
    ZorApplServices::makeRelativeToWorkingDir(path);
    return path;
}

} // namespace

ZorContentCanmonitor::ZorContentCanmonitor(QWidget *parent)
    : ZorPanel(parent)
    , m_traceFlushTimer(new QTimer(this))
{
    ZorPanelIcons::init();
    buildForm();

    m_model = new ZorMonitorTableModel(this);
    m_proxy = new ZorCanMonFilterProxy(this);
    m_proxy->setSourceModel(m_model);
    m_tableView->setModel(m_proxy);
    m_tableView->setColumnHidden(ZorMonitorTableModel::DescriptionColumn, true);
    resizeColumns();

    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            &ZorContentCanmonitor::updateScrollPos);
    connect(m_tableView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ZorContentCanmonitor::selectedRowChanged);
    QScrollBar *bar = m_tableView->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &ZorContentCanmonitor::scrollBarValueChanged);
    connect(bar, &QScrollBar::sliderPressed, this, &ZorContentCanmonitor::userManipulatedScrollbar);
    connect(bar, &QScrollBar::actionTriggered, this,
            &ZorContentCanmonitor::userManipulatedScrollbar);
    connect(m_actionFind, &QAction::toggled, m_groupBoxFilter, &QWidget::setVisible);
    m_groupBoxFilter->hide();
    connect(m_comboBoxFilter->lineEdit(), &QLineEdit::editingFinished, this,
            &ZorContentCanmonitor::filterEditingFinished);
    connect(m_actionRecord, &QAction::toggled, m_labelTracefile, &QWidget::setDisabled);
    connect(m_actionRecord, &QAction::toggled, this, &ZorContentCanmonitor::tracingToggled);
    connect(m_actionRecord, &QAction::toggled, m_toolButtonTraceFile, &QWidget::setDisabled);

    m_traceFlushTimer->setInterval(TraceFlushMs);
    connect(m_traceFlushTimer, &QTimer::timeout, this, &ZorContentCanmonitor::flushTrace);

    m_actionRecord->setChecked(true);
    m_actionRecord->setChecked(false);
    m_lineEditTracefile->setText(DefaultTracePattern);
    m_tracePattern = DefaultTracePattern;
    m_traceFolder = ZorApplServices::workingDir() + QLatin1Char('/') + TraceFolderName;
    m_loadingFilters = false;
    m_userScrolled = false;

    addShortcut(QKeySequence(Qt::Key_Pause), SLOT(actionPauseTriggered()));
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), SLOT(actionRecordTriggered()));
    addShortcut(QKeySequence::Copy, SLOT(on_actionCopy_triggered()));
    addShortcut(QKeySequence::Paste, SLOT(on_actionPaste_triggered()));
    addShortcut(QKeySequence::Delete, SLOT(on_actionDelete_triggered()));

    QMetaObject::connectSlotsByName(this);
}

ZorContentCanmonitor::~ZorContentCanmonitor()
{
    stopTrace();
    savePanelState();
}

void ZorContentCanmonitor::buildForm()
{
    setWindowTitle(QStringLiteral("ZorContentCanmonitor"));
    auto action = [this](const char *name, const QString &text, const QString &tip,
                         const QString &icon, bool checkable) {
        auto *a = new QAction(QIcon(icon), text, this);
        a->setObjectName(QLatin1String(name));
        a->setToolTip(tip);
        a->setCheckable(checkable);
        return a;
    };
    m_actionPause = action("actionPause", tr("Pause Scroll"),
                           tr("Pause scrolling to review current data (Break/Pause)"),
                           ZorPanelIcons::Pause, true);
    m_actionRecord = action("actionRecord", tr("Record"),
                            tr("Start/Stop recording data to a trace file (Ctrl+R)"),
                            ZorPanelIcons::Record, true);
    m_actionFind = action("actionFind", tr("Find/Filter Messages"), QString(),
                          ZorPanelIcons::Zoom, true);
    m_actionFind->setIconText(tr("Find/Filter"));
    m_actionCopy = action("actionCopy", tr("Copy"), tr("Copy to clipboard"),
                          ZorPanelIcons::ClipboardCopy, false);
    m_actionCopy->setShortcutContext(Qt::WidgetShortcut);
    m_actionPaste = action("actionPaste", tr("Paste"),
                           tr("Paste data from clipboard for display & filtering. Pasted data "
                              "is always appended to bottom."),
                           ZorPanelIcons::ClipboardPaste, false);
    m_actionOpen = action("actionOpen", tr("Open"), tr("Open a CAN recording (a CAN Trace File)"),
                          ZorPanelIcons::FolderOpen, false);
    m_actionDelete = action("actionDelete", tr("Delete All"), tr("Delete table contents"),
                            ZorPanelIcons::Remove, false);
    m_actionDelete->setIconText(tr("Delete All"));

    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolBar->setIconSize(QSize(32, 32));
    for (QAction *a : {m_actionPause, m_actionRecord, m_actionFind, m_actionCopy, m_actionPaste,
                       m_actionOpen, m_actionDelete})
        m_toolBar->addAction(a);

    m_labelTracefile = new QLabel(tr("Trace File"), this);
    m_labelTracefile->setObjectName(QStringLiteral("labelTracefile"));
    m_lineEditTracefile = new QLineEdit(this);
    m_lineEditTracefile->setObjectName(QStringLiteral("lineEditTracefile"));
    m_toolButtonTraceFile = new QToolButton(this);
    m_toolButtonTraceFile->setObjectName(QStringLiteral("toolButtonTraceFile"));
    m_toolButtonTraceFile->setText(QStringLiteral("..."));
    auto *traceRow = new QHBoxLayout;
    traceRow->addWidget(m_labelTracefile);
    traceRow->addWidget(m_lineEditTracefile, 1);
    traceRow->addWidget(m_toolButtonTraceFile);

    m_groupBoxFilter = new QGroupBox(tr("Find / Filter"), this);
    m_groupBoxFilter->setObjectName(QStringLiteral("groupBoxFilter"));
    m_comboBoxFilter = new QComboBox(m_groupBoxFilter);
    m_comboBoxFilter->setObjectName(QStringLiteral("comboBoxFilter"));
    m_comboBoxFilter->setEditable(true);
    m_comboBoxFilter->setMaxCount(MaxFilters);
    m_comboBoxFilter->setInsertPolicy(QComboBox::NoInsert);
    m_comboBoxFilter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_comboBoxFilter->setToolTip(
        tr("id=181, id=700-7ff, index=6041, subindex=0, data=40 41 60*, dir=tx, a regular "
           "expression; \"!=\" negates a term, \"exclude\" hides what matches; # comment"));
    m_pushButtonSetFilter = new QPushButton(tr("Filter On/Off"), m_groupBoxFilter);
    m_pushButtonSetFilter->setObjectName(QStringLiteral("pushButtonSetFilter"));
    m_pushButtonSetFilter->setCheckable(true);
    m_pushButtonSetFilter->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    m_pushButtonFilterAuto = new QPushButton(tr("Auto Filter"), m_groupBoxFilter);
    m_pushButtonFilterAuto->setObjectName(QStringLiteral("pushButtonFilterAuto"));
    m_pushButtonFindNext = new QPushButton(tr("Find Next"), m_groupBoxFilter);
    m_pushButtonFindNext->setObjectName(QStringLiteral("pushButtonFindNext"));
    m_pushButtonFindNext->setShortcut(QKeySequence(QStringLiteral("Ctrl+F, F3")));
    // Tells why a filter text was refused; hidden while there is nothing to tell.
    m_labelFilterError = new QLabel(m_groupBoxFilter);
    m_labelFilterError->setObjectName(QStringLiteral("labelFilterError"));
    m_labelFilterError->setStyleSheet(QStringLiteral("color: #C00000;"));
    m_labelFilterError->setWordWrap(true);
    m_labelFilterError->hide();
    auto *filterBox = new QVBoxLayout(m_groupBoxFilter);
    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(m_comboBoxFilter, 1);
    filterRow->addWidget(m_pushButtonSetFilter);
    filterRow->addWidget(m_pushButtonFilterAuto);
    filterRow->addWidget(m_pushButtonFindNext);
    filterBox->addLayout(filterRow);
    filterBox->addWidget(m_labelFilterError);

    m_tableView = new QTableView(this);
    m_tableView->setObjectName(QStringLiteral("tableView"));
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_tableView->setDragDropMode(QAbstractItemView::NoDragDrop);
    m_tableView->setAutoScroll(false);
    m_tableView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_tableView->setWordWrap(false);
    m_tableView->setAlternatingRowColors(true);
    m_tableView->horizontalHeader()->setStretchLastSection(true);
    // Rows of one height: the view need not measure 20000 rows.
    QHeaderView *rows = m_tableView->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);
    rows->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_toolBar);
    layout->addLayout(traceRow);
    layout->addWidget(m_groupBoxFilter);
    layout->addWidget(m_tableView, 1);
}

QSize ZorContentCanmonitor::sizeHint() const
{
    QSize hint = ZorPanel::sizeHint();
    int width = 0;
    for (int column = 0; column < ZorMonitorTableModel::DescriptionColumn; ++column)
        width += m_tableView->columnWidth(column);
    // The description of an SDO answer: "SDO answer node 1: read 1000h:00 = 00020192h".
    width += m_tableView->fontMetrics().horizontalAdvance(QStringLiteral("SDO answer node 127: read 1000h:00 = 00020192h"));
    hint.setWidth(qMax(hint.width(), width + 40));
    return hint;
}

// --- binding and settings

bool ZorContentCanmonitor::setupZorPanel(const QPersistentModelIndex &index,
                                         ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    m_traceFolder = ZorApplServices::workingDir() + QLatin1Char('/') + TraceFolderName;
    for (int i = 0; i < MaxFilters; ++i)
        sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, FilterProperty + QString::number(i)));

    const QDomDocument config = loadDoc(ConfigDocName);
    const QDomElement root = config.documentElement();
    const QDomNodeList types = root.elementsByTagName(QStringLiteral("DecoderType"));
    const QDomNodeList configs = root.elementsByTagName(QStringLiteral("DecoderConfig"));
    if (!root.isNull() && types.count() == 1 && configs.count() == 1) {
        if (m_model->setDecoder(types.at(0).toElement().text().trimmed()))
            m_model->loadDecoderScript(configs.at(0).toElement().text().trimmed());
    }
    // Descriptions are worth their column only when a decoder writes them.
    m_tableView->setColumnHidden(ZorMonitorTableModel::DescriptionColumn, !m_model->decoder());
    return bound;
}

QString ZorContentCanmonitor::commitPanelSettings()
{
    if (m_filtersChanged) {
        for (int i = 0; i < m_comboBoxFilter->count(); ++i)
            sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST,
                                  FilterProperty + QString::number(i) + QLatin1Char('=')
                                      + m_comboBoxFilter->itemText(i)));
        m_filtersChanged = false;
    }
    return QString();
}

// --- messages

void ZorContentCanmonitor::processIn(const ZorMessage &msg)
{
    switch (msg.msgType()) {
    case KM_GETPROPERTY: {
        if (msg.msgState() != KS_ANSWER)
            return;
        const QString text = msg.data().toString();
        const int eq = text.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? text : text.left(eq);
        const QString value = eq < 0 ? QString() : text.mid(eq + 1);
        if (!name.startsWith(FilterProperty))
            return;
        m_loadingFilters = true;
        for (int i = 0; i < MaxFilters; ++i) {
            if (name == FilterProperty + QString::number(i)) {
                if (!value.isEmpty())
                    m_comboBoxFilter->insertItem(i, value);
                break;
            }
        }
        m_loadingFilters = false;
        return;
    }
    case KM_CAN_FRAME:
        m_model->appendFrame(msg);
        if (isTracing())
            writeTraceLine(msg);
        return;
    default:
        return;
    }
}

// --- following the newest row

void ZorContentCanmonitor::updateScrollPos()
{
    if (!isVisible())
        return;
    const int last = m_proxy->rowCount() - 1;
    if (!m_actionPause->isChecked()) {
        if (last >= 0)
            m_tableView->setCurrentIndex(m_proxy->index(last, 0));
        m_tableView->scrollToBottom();
        return;
    }
    if (m_model->rowCount() < ZorMonitorTableModel::MaxRows)
        return;
    if (!m_rememberedRow.isValid()) {
        m_actionPause->setChecked(false);
        return;
    }
    const QModelIndex row = m_proxy->mapFromSource(m_rememberedRow);
    if (!row.isValid() || m_tableView->verticalScrollBar()->isSliderDown())
        return;
    m_tableView->scrollTo(row, QAbstractItemView::PositionAtCenter);
    if (row.row() == 0 && !m_pushButtonSetFilter->isChecked()) {
        m_tableView->setCurrentIndex(m_proxy->index(last, 0));
        m_tableView->scrollToBottom();
        m_actionPause->setChecked(false);
    }
}

void ZorContentCanmonitor::selectedRowChanged(const QModelIndex &index)
{
    m_rememberedRow = QPersistentModelIndex(m_proxy->mapToSource(index));
    // A current row moved by re-filtering is no choice of the user.
    if (!index.isValid() || m_refiltering)
        return;
    m_tableView->scrollTo(index, QAbstractItemView::EnsureVisible);
    m_actionPause->setChecked(index.row() != m_proxy->rowCount() - 1);
}

void ZorContentCanmonitor::userManipulatedScrollbar()
{
    m_userScrolled = true;
}

void ZorContentCanmonitor::scrollBarValueChanged(int value)
{
    if (!m_userScrolled)
        return;
    m_userScrolled = false;
    QScrollBar *bar = m_tableView->verticalScrollBar();
    if (value >= bar->maximum()) {
        m_actionPause->setChecked(false);
        return;
    }
    m_actionPause->setChecked(true);
    if (m_model->rowCount() >= ZorMonitorTableModel::MaxRows) {
        const QModelIndex top = m_proxy->index(value, 0);
        if (top.isValid())
            m_tableView->setCurrentIndex(top);
    }
}

void ZorContentCanmonitor::on_actionPause_triggered(bool)
{
    updateScrollPos();
}

void ZorContentCanmonitor::actionPauseTriggered()
{
    m_actionPause->trigger();
}

void ZorContentCanmonitor::actionRecordTriggered()
{
    m_actionRecord->trigger();
}

// --- find and filter

void ZorContentCanmonitor::refilter(const std::function<void()> &change)
{
    const bool nested = m_refiltering;
    m_refiltering = true;
    change();
    m_refiltering = nested;
    if (!nested && !m_actionPause->isChecked())
        updateScrollPos();
}

void ZorContentCanmonitor::on_actionFind_triggered(bool checked)
{
    refilter([this, checked] {
        if (!checked) {
            m_proxy->setActive(false);
            m_pushButtonSetFilter->setChecked(false);
            return;
        }
        m_proxy->setFilter(m_comboBoxFilter->currentText());
        if (showFilterError()) {
            m_pushButtonSetFilter->setChecked(m_proxy->isActive());
            return;
        }
        // An empty filter would hide every frame: it stays off until there is one.
        const bool on = !m_proxy->filterText().isEmpty();
        m_proxy->setActive(on);
        m_pushButtonSetFilter->setChecked(on);
    });
}

void ZorContentCanmonitor::on_pushButtonSetFilter_clicked(bool checked)
{
    refilter([this, checked] { applyFilter(checked); });
}

void ZorContentCanmonitor::applyFilter(bool on)
{
    if (!on) {
        m_proxy->setActive(false);
        m_labelFilterError->hide();
        return;
    }
    m_proxy->setFilter(m_comboBoxFilter->currentText());
    if (showFilterError()) {
        // Neither applied nor kept in the history: the filter stays as it was.
        m_pushButtonSetFilter->setChecked(m_proxy->isActive());
        return;
    }
    const QString text = m_proxy->filterText();
    if (text.isEmpty()) {
        // An empty filter would hide every frame.
        m_proxy->setActive(false);
        m_pushButtonSetFilter->setChecked(false);
        return;
    }
    m_proxy->setActive(true);

    m_loadingFilters = true;
    for (int i = m_comboBoxFilter->count() - 1; i >= 0; --i) {
        if (m_comboBoxFilter->itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            m_comboBoxFilter->removeItem(i);
    }
    while (m_comboBoxFilter->count() >= MaxFilters)
        m_comboBoxFilter->removeItem(m_comboBoxFilter->count() - 1);
    m_comboBoxFilter->insertItem(0, text);
    m_comboBoxFilter->setCurrentIndex(0);
    m_comboBoxFilter->setEditText(text);
    m_loadingFilters = false;
    m_lastFilterText = text;
    m_filtersChanged = true;
}

bool ZorContentCanmonitor::showFilterError()
{
    const QString error = m_proxy->filterError();
    m_labelFilterError->setText(error);
    m_labelFilterError->setVisible(!error.isEmpty());
    return !error.isEmpty();
}

void ZorContentCanmonitor::on_comboBoxFilter_currentIndexChanged(int)
{
    if (m_loadingFilters)
        return;
    filterEditingFinished();
}

void ZorContentCanmonitor::filterEditingFinished()
{
    const QString text = m_comboBoxFilter->currentText();
    if (text == m_lastFilterText)
        return;
    m_lastFilterText = text;
    m_pushButtonSetFilter->setChecked(true);
    on_pushButtonSetFilter_clicked(true);
}

void ZorContentCanmonitor::on_pushButtonFilterAuto_clicked()
{
    bool refused = false;
    refilter([this, &refused] {
        m_proxy->setFilter(m_comboBoxFilter->currentText());
        refused = showFilterError();
        if (!refused)
            m_proxy->autoFilter();
    });
    if (refused)
        return;
    m_comboBoxFilter->setEditText(m_proxy->filterText());
    m_pushButtonSetFilter->setChecked(m_proxy->isActive());
    m_filtersChanged = true;
}

void ZorContentCanmonitor::on_pushButtonFindNext_clicked()
{
    QModelIndex current = m_tableView->currentIndex();
    const bool found = m_proxy->findNext(current, m_comboBoxFilter->currentText());
    if (showFilterError()) {
        m_pushButtonSetFilter->setChecked(m_proxy->isActive());
        return;
    }
    m_pushButtonSetFilter->setChecked(false);
    if (!found)
        return;
    m_actionPause->setChecked(true);
    m_tableView->setCurrentIndex(current);
    m_tableView->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

// --- table editing

void ZorContentCanmonitor::on_actionCopy_triggered()
{
    const QModelIndexList selected = m_tableView->selectionModel()->selectedIndexes();
    QApplication::clipboard()->setMimeData(m_proxy->mimeData(selected));
}

void ZorContentCanmonitor::on_actionPaste_triggered()
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return;
    m_proxy->dropMimeData(data, Qt::CopyAction, 0, 0, QModelIndex());
    resizeColumns();
}

void ZorContentCanmonitor::clearTable()
{
    // Frames that arrived before the table is cleared go with it.
    m_model->update();
    m_model->removeRows(0, m_model->rowCount());
}

void ZorContentCanmonitor::on_actionDelete_triggered()
{
    clearTable();
    updateScrollPos();
}

void ZorContentCanmonitor::resizeColumns()
{
    m_tableView->resizeColumnsToContents();
    // Never narrower than the widest usual content, so that live frames
    // arriving later are not cut off.
    static const char *const widest[] = {"clip 20000", "65535", "Rext 1fffffffh",
                                         "00 00 00 00 00 00 00 00", "TX"};
    const QFontMetrics metrics(m_tableView->font());
    const int margin = 2 * m_tableView->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12;
    for (int column = 0; column < int(sizeof widest / sizeof *widest); ++column) {
        const int width = metrics.horizontalAdvance(QLatin1String(widest[column])) + margin;
        if (m_tableView->columnWidth(column) < width)
            m_tableView->setColumnWidth(column, width);
    }
}

// --- trace files

QFile *ZorContentCanmonitor::newTraceFile(const QString &name)
{
    return new QFile(name);
}

void ZorContentCanmonitor::warn(const QString &title, const QString &text)
{
    ZorQuestionBox::warn(this, title, text);
}

void ZorContentCanmonitor::on_toolButtonTraceFile_clicked()
{
    QString name = askSaveFileName(
        tr("Choose CAN Monitor trace file (use DATETIME as a wildcard to add date/time to the "
           "name)"),
        m_lineEditTracefile->text().trimmed(), tr("CAN Trace File (*.txt)"));
    name = name.trimmed();
    if (name.isEmpty())
        return;
    name = relativeToWorkingDir(QDir::fromNativeSeparators(name));
    m_lineEditTracefile->setText(name);
    m_tracePattern = name;
}

void ZorContentCanmonitor::tracingToggled(bool on)
{
    m_lineEditTracefile->setReadOnly(on);
}

void ZorContentCanmonitor::on_actionRecord_triggered(bool checked)
{
    if (checked) {
        startTrace();
        return;
    }
    stopTrace();
    m_lineEditTracefile->setText(m_tracePattern);
}

void ZorContentCanmonitor::setRecordUnchecked()
{
    m_actionRecord->setChecked(false);
}

void ZorContentCanmonitor::startTrace()
{
    stopTrace();
    QString name = m_lineEditTracefile->text().trimmed();
    if (name.isEmpty() || ZorApplServices::hasInvalidFileNameChars(name)) {
        setRecordUnchecked();
        return;
    }
    if (!name.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
        name += QLatin1String(".txt");
    m_tracePattern = name;
    name.replace(QLatin1String("DATETIME"), isoDateTimeForFileName());
    name = QDir::fromNativeSeparators(name);
    if (QFileInfo(name).isRelative()) {
        if (!name.contains(QLatin1Char('/')))
            name = m_traceFolder + QLatin1Char('/') + name;
        else
            name = ZorApplServices::workingDir() + QLatin1Char('/') + name;
    }
    m_lineEditTracefile->setText(relativeToWorkingDir(name));

    const QString folder = QFileInfo(name).absolutePath();
    if (!QDir().mkpath(folder)) {
        setRecordUnchecked();
        m_lineEditTracefile->setText(m_tracePattern);
        return;
    }
    m_traceFile.reset(newTraceFile(name));
    if (!m_traceFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        m_traceFile.reset();
        setRecordUnchecked();
        m_lineEditTracefile->setText(m_tracePattern);
        warn(tr("File error"), tr("Could not create the file:\n%1").arg(name));
        return;
    }
    m_traceStream.setDevice(m_traceFile.get());
    m_traceStream.resetStatus();
    m_traceStream << tr("%1\t%2\tTrace File Started\n")
                         .arg(QDate::currentDate().toString(Qt::ISODate),
                              QTime::currentTime().toString(Qt::ISODate));
    for (int column = 0; column < ZorMonitorTableModel::ColumnCount; ++column) {
        m_traceStream << m_model->headerData(column, Qt::Horizontal).toString()
                      << (column + 1 < ZorMonitorTableModel::ColumnCount ? '\t' : '\n');
    }
    // Written through at once, so that a file that cannot take data is
    // found out now and not at the first frame.
    m_traceStream.flush();
    if (m_traceStream.status() != QTextStream::Ok) {
        traceWriteFailed();
        return;
    }
    m_traceFlushTimer->start();
}

void ZorContentCanmonitor::stopTrace()
{
    m_traceFlushTimer->stop();
    if (!isTracing())
        return;
    m_traceStream << tr("%1\t%2\tTrace file stopped\n")
                         .arg(QDate::currentDate().toString(Qt::ISODate),
                              QTime::currentTime().toString(Qt::ISODate));
    m_traceStream.flush();
    m_traceStream.setDevice(nullptr);
    m_traceFile->close();
    m_traceFile.reset();
}

void ZorContentCanmonitor::writeTraceLine(const ZorMessage &msg)
{
    const QByteArray record = msg.data().toByteArray();
    if (record.size() != 16)
        return;
    // The time as the table shows it (running, not wrapped every 65.5 s)
    // and the decoded description in a column of its own.
    const qint64 time = m_model->lastFrameTime();
    m_traceStream << m_model->frameCount() << '\t';
    if (time >= 0)
        m_traceStream << time;
    QString description = m_model->lastFrameDescription();
    description.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_traceStream << '\t' << ZorBabelFish::fromQbytearrayToCanIdStr(record) << '\t'
                  << ZorBabelFish::fromQbytearrayToDataStr(record) << '\t'
                  << (msg.msgState() == KS_ANSWER ? "TX" : "RX") << '\t' << description << '\n';
    if (m_traceStream.status() != QTextStream::Ok)
        traceWriteFailed();
}

void ZorContentCanmonitor::flushTrace()
{
    if (!isTracing())
        return;
    m_traceStream.flush();
    if (m_traceStream.status() != QTextStream::Ok)
        traceWriteFailed();
}

void ZorContentCanmonitor::traceWriteFailed()
{
    const QString name = m_traceFile ? m_traceFile->fileName() : QString();
    // Closed before the user is told: frames arriving meanwhile are not
    // written to a file that fails.
    m_traceFlushTimer->stop();
    m_traceStream.setDevice(nullptr);
    if (m_traceFile)
        m_traceFile->close();
    m_traceFile.reset();
    setRecordUnchecked();
    m_lineEditTracefile->setText(m_tracePattern);
    warn(tr("File error"), tr("Could not write to file:\n%1").arg(name));
}

void ZorContentCanmonitor::on_actionOpen_triggered()
{
    QString start = m_lastOpenedTrace;
    if (start.isEmpty())
        start = QFileInfo::exists(m_traceFolder) ? m_traceFolder : ZorApplServices::workingDir();
    const QString name = askOpenFileName(tr("Open CAN Monitor Trace File"), start,
                                         tr("CAN Trace File (*.txt)"));
    if (name.isEmpty() || !QFileInfo::exists(name))
        return;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_lastOpenedTrace = name;
    QStringList lines;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
        if (line.isEmpty())
            continue;
        lines.append(line);
        if (lines.size() > ZorMonitorTableModel::MaxRows)
            break;
    }
    file.close();

    QMimeData mime;
    mime.setText(lines.join(QLatin1Char('\n')));
    clearTable();
    m_model->importText(&mime, Qt::CopyAction, 0, 0, QModelIndex(), true);
    resizeColumns();
    QApplication::restoreOverrideCursor();
}
