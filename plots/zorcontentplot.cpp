#include "zorcontentplot.h"

#include "datalogseries.h"
#include "shareddataregistry.h"
#include "valuesrangevalidator.h"
#include "zorbabelfish.h"
#include "zormoddatalog.h"
#include "zorplot.h"
#include "zorquestionbox.h"

#include <QComboBox>
#include <QDomDocument>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QXmlStreamWriter>
#include <cmath>
#include <qwt_scale_map.h>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initPlotResources()
{
    Q_INIT_RESOURCE(zorploticons);
}

namespace {

constexpr int Divisions = 20;
constexpr int ScrollSteps = 200;
constexpr int PageStep = 5;
constexpr int FastestUpdateMs = 100;
constexpr int SlowestUpdateMs = 2000;
const char DocName[] = "PlotConfigurationDoc";
const char RootName[] = "PlotConfiguration";
const char TimeStampFormat[] = "yyyy-MM-dd hh:mm:ss.zzz";

const char ButtonStyle[] = "QToolButton:!hover { border: none; padding: 3px;}; QToolButton:hover {border: 1px; "
                           "padding: 3px;} QToolButton:pressed {border: 1px; padding: 3px;}";
const char CheckedPauseStyle[] = "QToolButton{ padding: 1px;}";

const char *const TimePerDivTexts[] = {
    QT_TRANSLATE_NOOP("ZorContentPlot", "1 min/div"),    QT_TRANSLATE_NOOP("ZorContentPlot", "30 sec/div"),
    QT_TRANSLATE_NOOP("ZorContentPlot", "10 sec/div"),   QT_TRANSLATE_NOOP("ZorContentPlot", "5 sec/div"),
    QT_TRANSLATE_NOOP("ZorContentPlot", "2 sec/div"),    QT_TRANSLATE_NOOP("ZorContentPlot", "1 sec/div"),
    QT_TRANSLATE_NOOP("ZorContentPlot", "500 msec/div"), QT_TRANSLATE_NOOP("ZorContentPlot", "200 msec/div"),
    QT_TRANSLATE_NOOP("ZorContentPlot", "100 msec/div"),
};

QDateTime truncatedToSecond(const QDateTime &time)
{
    QDateTime t = time;
    t.setTime(QTime(time.time().hour(), time.time().minute(), time.time().second()));
    return t;
}

} // namespace

const int ZorContentPlot::TimePerDivMs[9] = {60000, 30000, 10000, 5000, 2000, 1000, 500, 200, 100};

QStringList ZorContentPlot::valueScalePresets()
{
    return {QStringLiteral("automatic"),           QStringLiteral("100/div"),
            QStringLiteral("200/div"),             QStringLiteral("100/div offset=1000"),
            QStringLiteral("100/div offset=-1000"), QStringLiteral("min=0 max=1000"),
            QStringLiteral("min=-1000 max=1000")};
}

ZorContentPlot::ZorContentPlot(QWidget *parent)
    : ZorPanel((initPlotResources(), parent))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(FastestUpdateMs);
}

ZorContentPlot::~ZorContentPlot()
{
    m_timer->stop();
    savePanelState();
}

QString ZorContentPlot::initialDocument(const QString &title, const QList<ZorNewPlotConfigurationData> &curves,
                                        const QDateTime &start)
{
    QString text;
    QXmlStreamWriter writer(&text);
    writer.writeStartElement(QLatin1String(DocName));
    writer.writeStartElement(QLatin1String(RootName));
    writer.writeAttribute(QStringLiteral("title"), title);
    writer.writeAttribute(QStringLiteral("xScale"), QStringLiteral("5"));
    writer.writeAttribute(QStringLiteral("yScale"), QStringLiteral("a"));
    writer.writeAttribute(QStringLiteral("cursorPosition"), QStringLiteral("10"));
    writer.writeAttribute(QStringLiteral("earliestTimeStamp"), start.toString(QLatin1String(TimeStampFormat)));
    writer.writeStartElement(QStringLiteral("Curves"));
    for (const ZorNewPlotConfigurationData &curve : curves)
        curve.writeElement(writer);
    writer.writeEndDocument();
    return text;
}

double ZorContentPlot::msPerDiv() const
{
    const int index = m_timePerDiv ? m_timePerDiv->currentIndex() : 0;
    return TimePerDivMs[index < 0 || index > 8 ? 0 : index];
}

QDateTime ZorContentPlot::addDivs(const QDateTime &time, double divisions) const
{
    return time.addMSecs(qint64(std::llround(divisions * msPerDiv())));
}

bool ZorContentPlot::setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model)
{
    ZorPanel::setupZorPanel(index, model);
    const QDomDocument doc = loadDoc(QLatin1String(DocName));
    if (doc.isNull())
        return false;

    const QDomElement root = doc.firstChildElement();
    m_title = root.attribute(QStringLiteral("title"));
    const int xScale = root.attribute(QStringLiteral("xScale")).toInt();
    const QString yScale = root.attribute(QStringLiteral("yScale"));
    const QString cursor = root.attribute(QStringLiteral("cursorPosition"));
    const QString earliest = root.attribute(QStringLiteral("earliestTimeStamp"));
    const QDomNodeList elements = root.elementsByTagName(QStringLiteral("CurveConfiguration"));
    for (int i = 0; i < elements.size(); ++i)
        m_curves.append(ZorNewPlotConfigurationData::fromElement(elements.at(i).toElement()));
    for (const ZorNewPlotConfigurationData &curve : qAsConst(m_curves))
        m_curveIds.append(curve.dataObjectId);

    m_plot = new ZorPlot(this, m_curves);
    buildWidgets();

    const QString yTitle = m_curves.size() == 1 ? m_curves.first().objectName : QString();
    QFont font = this->font();
    font.setPointSizeF(font.pointSizeF() * 1.2);
    QDateTime start = QDateTime::currentDateTime();
    if (!earliest.isEmpty()) {
        const QDateTime stored = QDateTime::fromString(earliest, QLatin1String(TimeStampFormat));
        if (stored.isValid())
            start = stored;
    }
    m_plot->setupAxes(QString(), yTitle, font, start, Divisions * msPerDiv(), msPerDiv());
    m_plot->setReferenceTime(truncatedToSecond(start));

    connect(m_timePerDiv.data(), qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ZorContentPlot::on_cmbTimePerDiv_currentIndexChanged);
    connect(m_yAxis.data(), qOverload<const QString &>(&QComboBox::currentIndexChanged), this,
            &ZorContentPlot::on_cmbYAxis_currentIndexChanged);
    connect(m_yAxis.data(), &QComboBox::editTextChanged, this, &ZorContentPlot::on_cmbYAxis_editTextChanged);
    connect(m_scrollBar.data(), &QScrollBar::sliderPressed, this, &ZorContentPlot::userManipulatedScrollbar);
    connect(m_scrollBar.data(), &QScrollBar::actionTriggered, this, &ZorContentPlot::userManipulatedScrollbar);
    connect(m_scrollBar.data(), &QScrollBar::valueChanged, this, &ZorContentPlot::scrollBarValueChanged);
    connect(m_copy.data(), &QToolButton::clicked, this, &ZorContentPlot::copyToClipboardClicked);
    auto *copyKey = new QShortcut(QKeySequence::Copy, this);
    copyKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(copyKey, &QShortcut::activated, this, &ZorContentPlot::copyToClipboardClicked);
    connect(copyKey, &QShortcut::activatedAmbiguously, this, &ZorContentPlot::copyToClipboardClicked);
    connect(m_pause.data(), &QToolButton::clicked, this, &ZorContentPlot::onPauseClicked);
    connect(m_pause.data(), &QToolButton::toggled, this, &ZorContentPlot::onPauseToggled);
    connect(m_remove.data(), &QToolButton::clicked, this, &ZorContentPlot::btnRemovePlotPanelClicked);
    connect(m_stepBackward.data(), &QToolButton::clicked, this, &ZorContentPlot::navigateEarlierClicked);
    connect(m_stepBackward.data(), &QToolButton::released, this, &ZorContentPlot::navigateEarlierReleased);
    connect(m_stepForward.data(), &QToolButton::clicked, this, &ZorContentPlot::navigateLaterClicked);
    connect(m_stepForward.data(), &QToolButton::released, this, &ZorContentPlot::navigateLaterReleased);
    connect(m_toStart.data(), &QToolButton::clicked, this, &ZorContentPlot::navigateToStartClicked);
    connect(m_toEnd.data(), &QToolButton::clicked, this, &ZorContentPlot::navigateToEndClicked);
    connect(m_seekBackward.data(), &QToolButton::clicked, this, &ZorContentPlot::navigateToPrevDataClicked);
    connect(m_seekForward.data(), &QToolButton::clicked, this, &ZorContentPlot::navigateToNextDataClicked);
    connect(m_plot.data(), &ZorPlot::cursorMoved, this, &ZorContentPlot::cursorMovedWithinPlot);
    connect(m_timer, &QTimer::timeout, this, &ZorContentPlot::updateDisplayedData);

    bool isNumber = false;
    const double position = cursor.toDouble(&isNumber);
    if (isNumber)
        m_cursorPosition = position;

    const int timeIndex = xScale >= 0 && xScale < m_timePerDiv->count() ? xScale : 2;
    if (timeIndex == m_timePerDiv->currentIndex())
        on_cmbTimePerDiv_currentIndexChanged(timeIndex);
    else
        m_timePerDiv->setCurrentIndex(timeIndex);

    ValueRangeSpec spec;
    spec.fromString(yScale);
    if (spec.isValid() && !yScale.trimmed().isEmpty()) {
        m_yAxis->setEditText(spec.toString(false));
        applyValueScaleText();
    } else {
        m_yAxis->setCurrentIndex(0);
        m_valueScale = ValueRangeSpec();
        m_scaleLabel->setText(QStringLiteral("automatic"));
    }

    m_scrollScale = 1.0;
    m_navigated = false;
    m_syncing = false;
    m_pendingJump = 0;
    sendGuiMsg(ZorMessage(KM_DAQ_SHARED_IDS_LIST, KS_REQUEST, QString()));
    m_timer->setInterval(FastestUpdateMs);
    m_removing = false;
    m_lastStatus = -1;
    enableControls(false);
    return true;
}

QToolButton *ZorContentPlot::makeButton(const QString &text, const QString &tip, QKeySequence::StandardKey key)
{
    auto *button = new QToolButton(this);
    button->setText(text);
    button->setToolTip(tip);
    button->setStyleSheet(QLatin1String(ButtonStyle));
    if (key != QKeySequence::UnknownKey)
        button->setShortcut(QKeySequence(key));
    return button;
}

void ZorContentPlot::buildWidgets()
{
    m_timePerDiv = new QComboBox(this);
    m_timePerDiv->setObjectName(QStringLiteral("cmbTimePerDiv"));
    for (const char *text : TimePerDivTexts)
        m_timePerDiv->addItem(tr(text));

    m_yAxis = new QComboBox(this);
    m_yAxis->setObjectName(QStringLiteral("cmbYAxis"));
    m_yAxis->setEditable(true);
    m_yAxis->setDuplicatesEnabled(false);
    for (const QString &preset : valueScalePresets())
        m_yAxis->addItem(preset, preset);
    m_yAxis->insertSeparator(m_yAxis->count());
    m_yAxis->setValidator(new ValuesRangeValidator(m_yAxis));
    m_yAxis->setInsertPolicy(QComboBox::NoInsert);
    m_yAxis->installEventFilter(this);
    if (m_yAxis->lineEdit())
        m_yAxis->lineEdit()->installEventFilter(this);
    m_yAxis->setMinimumContentsLength(16);

    m_scaleLabel = new QLabel(this);
    m_scaleLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    m_pause = makeButton(QString(), tr("Pause plot display on current range"), QKeySequence::UnknownKey);
    m_pause->setIcon(QIcon(QStringLiteral(":/Toolbar/Icons/toolbar_player_32x32_Pause.png")));
    m_pause->setCheckable(true);
    m_copy = makeButton(QString(), tr("Copy plot to clipboard"), QKeySequence::UnknownKey);
    m_copy->setIcon(QIcon(QStringLiteral(":/Toolbar/Icons/Clipboard Copy.png")));
    m_remove = makeButton(QString(), tr("Remove plot panel from project"), QKeySequence::UnknownKey);
    m_remove->setIcon(QIcon(QStringLiteral(":/Toolbar/Icons/toolbar_32x32_Remove.png")));

    m_scrollBar = new QScrollBar(Qt::Horizontal, this);
    m_scrollBar->setSingleStep(1);
    m_scrollBar->setPageStep(PageStep);
    m_scrollBar->setRange(0, 0);
    m_toStart = makeButton(QStringLiteral("|<"), tr("To Start"), QKeySequence::MoveToStartOfLine);
    m_seekBackward = makeButton(QStringLiteral("<<"), tr("Seek Backward"), QKeySequence::MoveToPreviousWord);
    m_stepBackward = makeButton(QStringLiteral("<"), tr("Step Backward"), QKeySequence::MoveToPreviousChar);
    m_stepForward = makeButton(QStringLiteral(">"), tr("Step Forward"), QKeySequence::MoveToNextChar);
    m_seekForward = makeButton(QStringLiteral(">>"), tr("Seek Forward"), QKeySequence::MoveToNextWord);
    m_toEnd = makeButton(QStringLiteral(">|"), tr("To End"), QKeySequence::MoveToEndOfLine);
    for (QToolButton *b : {m_seekBackward.data(), m_seekForward.data()}) {
        b->setAutoRepeat(true);
        b->setAutoRepeatDelay(2000);
        b->setAutoRepeatInterval(1000);
    }
    for (QToolButton *b : {m_stepBackward.data(), m_stepForward.data()}) {
        b->setAutoRepeat(true);
        b->setAutoRepeatDelay(1000);
        b->setAutoRepeatInterval(250);
    }

    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Time/Div"), this));
    top->addWidget(m_timePerDiv);
    top->addSpacing(20);
    top->addWidget(new QLabel(tr("Value/Div"), this));
    top->addWidget(m_yAxis);
    top->addWidget(m_scaleLabel);
    top->addSpacing(20);
    top->addStretch();
    top->addWidget(m_pause);
    top->addWidget(m_copy);
    top->addWidget(m_remove);
    layout->addLayout(top);
    m_plot->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(m_plot);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_scrollBar);
    for (QToolButton *b : {m_toStart.data(), m_seekBackward.data(), m_stepBackward.data(), m_stepForward.data(),
                           m_seekForward.data(), m_toEnd.data()})
        bottom->addWidget(b);
    layout->addLayout(bottom);
}

QString ZorContentPlot::commitPanelSettings()
{
    if (!m_plot)
        return QString();
    QDomDocument doc;
    QDomElement root = doc.createElement(QLatin1String(RootName));
    doc.appendChild(root);
    root.setAttribute(QStringLiteral("title"), m_title);
    root.setAttribute(QStringLiteral("xScale"), QString::number(m_timePerDiv->currentIndex()));
    root.setAttribute(QStringLiteral("yScale"), m_valueScale.isValid() ? m_valueScale.toString(true)
                                                                         : QStringLiteral("a"));
    root.setAttribute(QStringLiteral("cursorPosition"), QString::number(m_cursorPosition, 'g', 6));
    QDomElement curves = doc.createElement(QStringLiteral("Curves"));
    root.appendChild(curves);
    for (const ZorNewPlotConfigurationData &curve : qAsConst(m_curves)) {
        QDomElement e = doc.createElement(QStringLiteral("CurveConfiguration"));
        e.setAttribute(QStringLiteral("dataObjectId"), curve.dataObjectId);
        e.setAttribute(QStringLiteral("objectName"), curve.objectName);
        e.setAttribute(QStringLiteral("colorName"), curve.colorName());
        curves.appendChild(e);
    }
    saveDoc(doc, QLatin1String(DocName));
    return QString();
}

// --- messages -----------------------------------------------------------------

void ZorContentPlot::processIn(const ZorMessage &msg)
{
    if (msg.msgType() == KM_STATUS)
        setModuleStatus(msg.data().toInt());
    else if (msg.msgType() == KM_DAQ_SHARED_IDS_LIST && msg.msgState() == KS_INFO)
        readSharedIds(msg.data().toString());
}

void ZorContentPlot::setModuleStatus(int status)
{
    if (status == m_lastStatus)
        return;
    m_lastStatus = status;
    enableControls(!m_removing && ((status >= 0 && status <= 999) || status == 1203));
}

bool ZorContentPlot::controlsEnabled() const
{
    return m_timePerDiv && m_timePerDiv->isEnabled();
}

void ZorContentPlot::enableControls(bool on)
{
    if (!m_plot)
        return;
    if (on)
        m_timer->start();
    else
        m_timer->stop();
    for (QWidget *w : std::initializer_list<QWidget *>{
             m_scrollBar, m_yAxis, m_timePerDiv, m_remove, m_toStart, m_seekBackward, m_stepBackward,
             m_stepForward, m_seekForward, m_toEnd, m_pause})
        w->setEnabled(on);
}

void ZorContentPlot::readSharedIds(const QString &text)
{
    if (text == m_lastSharedIds)
        return;
    m_lastSharedIds = text;
    m_sharedIds = ZorModDataLog::sharedIdsOf(text);
}

// --- the update -----------------------------------------------------------------

void ZorContentPlot::updateDisplayedData()
{
    if (!m_plot || m_removing)
        return;
    m_updateClock.start();
    PlotDataSnapshot snapshot;
    collectSeriesRanges(snapshot);
    if (!snapshot.busy) {
        collectDataRange(snapshot);
        buildViewRequest(snapshot);
        prepareCurveWindows(snapshot);
    }
    // A series its writer held: every curve keeps its picture, rather than
    // being drawn empty.
    if (!snapshot.busy)
        applyCurveData(snapshot);
    if (controlsEnabled())
        m_timer->start(int(qBound<qint64>(FastestUpdateMs, m_updateClock.elapsed(), SlowestUpdateMs)));
}

DataLogSeries *ZorContentPlot::lockSeries(int id, PlotDataSnapshot &snapshot) const
{
    DataLogSeries *series = SharedDataRegistry::lock(id, LockWaitMs);
    if (!series && SharedDataRegistry::isRegistered(id))
        snapshot.busy = true;
    return series;
}

// Each series is locked only for as long as it takes to copy its range and
// scaling: one curve at a time, never all of them together.
void ZorContentPlot::collectSeriesRanges(PlotDataSnapshot &snapshot)
{
    QStringList seen;
    for (const QString &id : qAsConst(m_curveIds)) {
        if (seen.contains(id))
            continue;
        seen.append(id);
        const int shared = m_sharedIds.value(id, 0);
        if (shared == 0) {
            snapshot.allLocked = false;
            continue;
        }
        DataLogSeries *series = lockSeries(shared, snapshot);
        if (snapshot.busy)
            return;
        if (!series) {
            snapshot.allLocked = false;
            continue;
        }
        const DataLogSample first = series->firstValueSample();
        const DataLogSample last = series->lastValue();
        snapshot.scalingTexts.insert(id, series->scalingText());
        SharedDataRegistry::unlock(shared);
        if (first.isValid() && last.isValid())
            snapshot.ranges.insert(id, DateTimeSpan(first.time(), last.time()));
        else
            snapshot.ranges.insert(id, DateTimeSpan());
    }
}

void ZorContentPlot::collectDataRange(PlotDataSnapshot &snapshot) const
{
    for (auto it = snapshot.ranges.cbegin(); it != snapshot.ranges.cend(); ++it) {
        const DateTimeSpan &range = it.value();
        if (!range.start().isValid())
            continue;
        snapshot.idsWithData.insert(it.key(), m_sharedIds.value(it.key()));
        if (!snapshot.hasData) {
            snapshot.dataRange = range;
            snapshot.hasData = true;
            continue;
        }
        if (range.start() < snapshot.dataRange.start())
            snapshot.dataRange.setStart(range.start());
        if (range.end() > snapshot.dataRange.end())
            snapshot.dataRange.setEnd(range.end());
    }
    if (!snapshot.hasData) {
        const QDateTime now = QDateTime::currentDateTime();
        snapshot.dataRange.set(now.addSecs(-60), now);
    }
}

bool ZorContentPlot::isFollowingLive() const
{
    return m_scrollBar && m_scrollBar->value() == m_scrollBar->maximum() && !m_navigated && !m_pause->isChecked();
}

double ZorContentPlot::msPerPixel() const
{
    const QList<double> minors = m_plot->xScaleDiv().ticks(QwtScaleDiv::MinorTick);
    if (minors.size() < 2)
        return 0;
    const QwtScaleMap map = m_plot->canvasMap(QwtPlot::xBottom);
    const double pixels = std::fabs(map.transform(minors.at(1)) - map.transform(minors.at(0)));
    return pixels > 0 ? msPerDiv() / pixels : 0;
}

void ZorContentPlot::buildViewRequest(PlotDataSnapshot &snapshot)
{
    PlotViewRequest &request = snapshot.request;
    request.msPerDiv = int(msPerDiv());
    if (isFollowingLive()) {
        const QDateTime end = ZorBabelFish::roundDateTime(snapshot.dataRange.end(), request.msPerDiv, true);
        request.window.set(addDivs(end, -Divisions), end);
    } else {
        request.window = m_requestedWindow;
    }
    request.resolution = msPerPixel();
    request.jump = m_pendingJump;
}

void ZorContentPlot::prepareCurveWindows(PlotDataSnapshot &snapshot)
{
    if (!snapshot.allLocked)
        return;
    PlotViewRequest &request = snapshot.request;
    QStringList ids = m_curveIds;
    ids.removeDuplicates();

    if (request.jump != 0) {
        QStringList sorted = ids;
        sorted.sort();
        DateTimeSpan best;
        qint64 bestDistance = -1;
        for (const QString &id : qAsConst(sorted)) {
            if (!m_plot->isCurveVisible(id))
                continue;
            const int shared = m_sharedIds.value(id);
            DataLogSeries *series = lockSeries(shared, snapshot);
            if (snapshot.busy)
                return;
            if (!series)
                continue;
            DateTimeSpan candidate = request.window;
            series->valuesInWindow(request.resolution, request.window, request.jump, request.msPerDiv, candidate);
            SharedDataRegistry::unlock(shared);
            if (candidate == request.window)
                continue;
            const qint64 distance = std::llabs(request.window.start().msecsTo(candidate.start()));
            if (bestDistance < 0 || distance < bestDistance) {
                best = candidate;
                bestDistance = distance;
            }
        }
        if (bestDistance >= 0)
            request.window = best;
    }

    for (const QString &id : qAsConst(ids)) {
        const int shared = m_sharedIds.value(id);
        DataLogSeries *series = lockSeries(shared, snapshot);
        if (!series) {
            // A series that went away in between: this update draws
            // nothing (a busy one keeps the picture, see busy).
            snapshot.windows.clear();
            return;
        }
        CurveWindow window;
        DateTimeSpan unused = request.window;
        window.values = series->valuesInWindow(request.resolution, request.window, 0, request.msPerDiv, unused);
        window.texts = series->textsInWindow(request.resolution, request.window);
        SharedDataRegistry::unlock(shared);
        window.span = request.window;
        snapshot.windows.insert(id, window);
    }
}

void ZorContentPlot::applyCurveData(PlotDataSnapshot &snapshot)
{
    const PlotViewRequest &request = snapshot.request;
    m_plot->setValueScale(m_valueScale);
    QMap<QString, ZorPlot::CurvePoints> points;
    for (const QString &id : qAsConst(m_curveIds)) {
        ZorPlot::CurvePoints curvePoints;
        const auto found = snapshot.windows.constFind(id);
        if (found != snapshot.windows.cend()) {
            const CurveWindow &window = found.value();
            const QString scalingText = snapshot.scalingTexts.value(id);
            ValueScaling *scaling = nullptr;
            if (!scalingText.trimmed().isEmpty()) {
                scaling = &m_scalings[id];
                scaling->setText(scalingText);
            } else {
                m_scalings.remove(id);
            }
            const qint64 startMs = DataLogSample::toWallMs(window.span.start());
            // An invalid sample marks a gap: the next point begins a new line.
            const auto toPoints = [&](const QVector<DataLogSample> &samples, QVector<QPointF> &out,
                                      QVector<int> *breaks) {
                out.reserve(samples.size());
                bool gap = false;
                for (const DataLogSample &s : samples) {
                    if (!s.isValid()) {
                        gap = true;
                        continue;
                    }
                    if (gap && breaks && !out.isEmpty())
                        breaks->append(out.size());
                    gap = false;
                    double y = s.value();
                    if (scaling && !scaling->scale(s.value(), &y))
                        y = 0;
                    out.append(QPointF(double(s.wallMs() - startMs), y));
                }
            };
            toPoints(window.values, curvePoints.values, &curvePoints.breaks);
            toPoints(window.texts, curvePoints.texts, nullptr);
            if (request.jump != 0 && window.span.start() != m_requestedWindow.start())
                m_requestedWindow = window.span;
            m_pendingJump = 0;
        }
        points.insert(id, curvePoints);
    }
    if (snapshot.hasData)
        m_plot->setReferenceTime(ZorBabelFish::roundDateTime(snapshot.dataRange.start(), request.msPerDiv, false));
    const QDateTime reference = m_plot->referenceTime();
    if (snapshot.hasData)
        m_shownWindow = request.window;
    else
        m_shownWindow.set(reference, addDivs(reference, Divisions));
    m_plot->setWindow(m_shownWindow, msPerDiv());
    m_plot->setCurveData(points);
    updateScrollBar(snapshot);
    m_scrollBar->setEnabled(!m_removing);
}

void ZorContentPlot::updateScrollBar(const PlotDataSnapshot &snapshot)
{
    m_syncing = true;
    const bool following = isFollowingLive();
    if (following)
        m_requestedWindow = snapshot.request.window;
    const QDateTime reference = m_plot->referenceTime();
    const qint64 n = qint64(double(reference.msecsTo(snapshot.dataRange.end())) / msPerDiv() + 1);
    if (n > Divisions && snapshot.hasData) {
        const qint64 e = n - Divisions;
        m_scrollScale = e > ScrollSteps ? double(e) / ScrollSteps : 1.0;
        m_scrollBar->setMaximum(int(qMin<qint64>(e, ScrollSteps)));
        // Data ending exactly on a division puts the live window one step
        // short of the maximum; following stays at the maximum, or it would
        // stop by itself.
        if (following)
            m_scrollBar->setValue(m_scrollBar->maximum());
        else
            syncScrollBarToWindow();
    } else {
        m_scrollScale = 1.0;
        m_scrollBar->setRange(0, 0);
        m_scrollBar->setValue(0);
        m_navigated = false;
    }
    m_syncing = false;
}

void ZorContentPlot::syncScrollBarToWindow()
{
    const double steps = double(m_plot->referenceTime().msecsTo(m_requestedWindow.start())) / msPerDiv()
                         / m_scrollScale;
    m_scrollBar->setValue(int(std::floor(steps + 0.5)));
}

// --- navigation -----------------------------------------------------------------

void ZorContentPlot::scrollBarValueChanged(int value)
{
    if (m_syncing)
        return;
    m_navigated = false;
    const double d = std::round(value * m_scrollScale);
    const QDateTime start = addDivs(m_plot->referenceTime(), d);
    m_requestedWindow.set(start, addDivs(start, Divisions));
}

void ZorContentPlot::userManipulatedScrollbar()
{
    m_navigated = false;
    m_pause->setChecked(false);
}

void ZorContentPlot::navigateBy(int divisions)
{
    m_syncing = true;
    m_navigated = true;
    QDateTime t = addDivs(m_shownWindow.start(), divisions);
    const QDateTime reference = m_plot->referenceTime();
    const QDateTime latest = addDivs(reference, m_scrollBar->maximum() * m_scrollScale);
    if (t > latest)
        t = latest;
    if (t < reference)
        t = reference;
    m_requestedWindow.set(t, addDivs(t, Divisions));
    syncScrollBarToWindow();
    m_syncing = false;
}

void ZorContentPlot::navigateLaterClicked()
{
    m_pause->setChecked(false);
    if (!m_scrollBar->isEnabled())
        return;
    ++m_repeatCount;
    if (m_scrollScale == 1.0)
        m_scrollBar->triggerAction(m_repeatCount < 9 ? QAbstractSlider::SliderSingleStepAdd
                                                     : QAbstractSlider::SliderPageStepAdd);
    else if (!isFollowingLive())
        navigateBy(m_repeatCount < 9 ? 1 : PageStep);
}

void ZorContentPlot::navigateEarlierClicked()
{
    m_pause->setChecked(false);
    ++m_repeatCount;
    if (m_scrollScale == 1.0) {
        m_scrollBar->triggerAction(m_repeatCount < 9 ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderPageStepSub);
        return;
    }
    if (m_scrollBar->value() == 0 && m_shownWindow.start() == m_plot->referenceTime())
        return;
    navigateBy(m_repeatCount > 8 ? -PageStep : -1);
}

void ZorContentPlot::navigateLaterReleased()
{
    if (!m_stepForward->isDown())
        m_repeatCount = 0;
}

void ZorContentPlot::navigateEarlierReleased()
{
    if (!m_stepBackward->isDown())
        m_repeatCount = 0;
}

void ZorContentPlot::navigateToStartClicked()
{
    m_pause->setChecked(false);
    m_scrollBar->setValue(m_scrollBar->minimum());
}

void ZorContentPlot::navigateToEndClicked()
{
    m_pause->setChecked(false);
    m_navigated = false;
    m_scrollBar->setValue(m_scrollBar->maximum());
}

void ZorContentPlot::navigateToNextDataClicked()
{
    m_pause->setChecked(false);
    if (m_plot->visibleSampleCount() == 0)
        m_pendingJump = 1;
    else if (m_scrollScale == 1.0)
        m_scrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    else if (!isFollowingLive())
        navigateBy(Divisions);
}

void ZorContentPlot::navigateToPrevDataClicked()
{
    m_pause->setChecked(false);
    if (m_plot->visibleSampleCount() == 0)
        m_pendingJump = -1;
    else if (m_scrollScale == 1.0)
        m_scrollBar->triggerAction(QAbstractSlider::SliderPageStepSub);
    else if (!(m_scrollBar->value() == 0 && m_shownWindow.start() == m_plot->referenceTime()))
        navigateBy(-Divisions);
}

void ZorContentPlot::onPauseClicked(bool checked)
{
    if (!checked)
        m_scrollBar->setValue(m_scrollBar->maximum());
}

void ZorContentPlot::onPauseToggled(bool checked)
{
    m_pause->setStyleSheet(QLatin1String(checked ? CheckedPauseStyle : ButtonStyle));
}

// --- scales and cursor ------------------------------------------------------------

void ZorContentPlot::on_cmbTimePerDiv_currentIndexChanged(int index)
{
    if (!m_plot)
        return;
    m_scrollBar->setEnabled(false);
    const double perDiv = msPerDiv();
    m_plot->setCursorPosition(int(m_cursorPosition * perDiv), true);
    const QDateTime centre = m_plot->windowCentre();
    QDateTime start = ZorBabelFish::roundDateTime(addDivs(centre, -10), int(perDiv), false);
    if (start < m_plot->referenceTime())
        start = ZorBabelFish::roundDateTime(m_plot->referenceTime(), int(perDiv), false);
    m_requestedWindow.set(start, addDivs(start, Divisions));
}

void ZorContentPlot::cursorMovedWithinPlot(int ms)
{
    m_cursorPosition = QString::number(ms / msPerDiv(), 'f', 1).toDouble();
}

void ZorContentPlot::on_cmbYAxis_editTextChanged(const QString &text)
{
    ValueRangeSpec spec;
    spec.fromString(text);
    m_scaleLabel->setText(spec.isValid() ? spec.toString(false) : tr("Invalid Scale Definition"));
}

void ZorContentPlot::on_cmbYAxis_currentIndexChanged(const QString &text)
{
    ValueRangeSpec spec;
    spec.fromString(text);
    if (!spec.isValid())
        return;
    m_valueScale = spec;
    m_scaleLabel->setText(spec.toString(false));
}

void ZorContentPlot::applyValueScaleText()
{
    ValueRangeSpec spec;
    spec.fromString(m_yAxis->currentText());
    if (!spec.isValid())
        return;
    const QString longForm = spec.toString(false);
    int index = m_yAxis->findText(longForm, Qt::MatchFixedString);
    if (index < 0) {
        const int presets = int(valueScalePresets().size());
        if (m_yAxis->count() >= presets + 1 + UserScaleTexts)
            m_yAxis->removeItem(presets + 1);
        m_yAxis->addItem(longForm, longForm);
        index = m_yAxis->count() - 1;
    }
    if (m_yAxis->currentIndex() == index)
        on_cmbYAxis_currentIndexChanged(m_yAxis->itemText(index));
    else
        m_yAxis->setCurrentIndex(index);
    m_yAxis->setEditText(m_yAxis->itemText(index));
}

bool ZorContentPlot::eventFilter(QObject *watched, QEvent *event)
{
    if (m_yAxis && (watched == m_yAxis || watched == m_yAxis->lineEdit()) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            applyValueScaleText();
            return true;
        }
    }
    return ZorPanel::eventFilter(watched, event);
}

// --- clipboard and removal ---------------------------------------------------------

void ZorContentPlot::copyToClipboardClicked()
{
    if (m_plot)
        m_plot->copyToClipboard();
}

void ZorContentPlot::btnRemovePlotPanelClicked()
{
    if (!ZorQuestionBox::confirm(this, tr("Remove Plot From Project"),
                                 tr("Are you sure you want to remove the plot from this project?")))
        return;
    m_timer->stop();
    m_removing = true;
    enableControls(false);
    sendGuiMsg(ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST,
                          QStringLiteral("removemodule,,,%1").arg(ZorBabelFish::fromModelIndexToKey(boundIndex()))));
}
