// ZorContentPlot: the panel of a "datalog_plot" element, a time plot of the
// channels of the data-log module it sits under. The element has no module
// of its own: the panel talks to that data-log module, which tells it the
// registry id of each channel's shared series (KM_DAQ_SHARED_IDS_LIST) and
// its status (KM_STATUS). On its own adaptive timer (the duration of the
// last update, 100 to 2000 ms) the panel locks each curve's series in turn,
// copies the samples of the shown window (thinned to the pixel resolution)
// and unlocks it again, so no series is held longer than one copy and the
// GUI thread never waits long for the module's thread: at most LockWaitMs.
// A series its writer holds longer than that keeps every curve's last
// picture for that update (the next one comes soon); a series that is gone,
// or a channel without one, leaves the curves empty.
//
// The plot shows 20 divisions of the chosen Time/Div. It follows the live
// end while the scroll bar is at its maximum, no navigation button moved it
// and Pause is off; the scroll bar (at most 200 steps) and the buttons
// "|<", "<<", "<", ">", ">>" and ">|" move through the data, "<<" and ">>"
// jumping to the nearest data when the view is empty.
//
// Its settings live in the element's document "PlotConfigurationDoc":
//   <PlotConfiguration title=".." xScale="5" yScale="a" cursorPosition="10"
//                      earliestTimeStamp="yyyy-MM-dd hh:mm:ss.zzz">
//    <Curves><CurveConfiguration dataObjectId=".." objectName=".." colorName="#rrggbb"/>...</Curves>
//   </PlotConfiguration>
#pragma once

#include "datalogsample.h"
#include "datetimespan.h"
#include "valuerangespec.h"
#include "valuescaling.h"
#include "zornewplotconfigurationdata.h"
#include "zorpanel.h"
#include "zorplot.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QScrollBar>
#include <QToolButton>
#include <QMap>
#include <QPointer>
#include <QVector>

class DataLogSeries;
class QTimer;

class ZorContentPlot : public ZorPanel
{
    Q_OBJECT
public:
    // Longest wait for a series that its writer holds, in ms.
    static constexpr int LockWaitMs = 20;
    // Ms per division of the Time/Div entries, "1 min/div" to "100 msec/div".
    static const int TimePerDivMs[9];
    static constexpr int DefaultTimeIndex = 5;
    // Value/Div presets before the separator.
    static QStringList valueScalePresets();
    // Most user texts kept after the separator.
    static constexpr int UserScaleTexts = 5;

    explicit ZorContentPlot(QWidget *parent = nullptr);
    ~ZorContentPlot() override;

    // The configuration document of a new plot, as text: title, curves and
    // the time its data starts (xScale "5", yScale "a", cursor at 10).
    static QString initialDocument(const QString &title, const QList<ZorNewPlotConfigurationData> &curves,
                                   const QDateTime &start);

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

    // --- state, for the data-log panel and tests
    QString title() const { return m_title; }
    QList<ZorNewPlotConfigurationData> curves() const { return m_curves; }
    ZorPlot *plot() const { return m_plot.data(); }
    QComboBox *timePerDivBox() const { return m_timePerDiv.data(); }
    QComboBox *valueScaleBox() const { return m_yAxis.data(); }
    QLabel *scaleLabel() const { return m_scaleLabel.data(); }
    QScrollBar *scrollBar() const { return m_scrollBar.data(); }
    QToolButton *pauseButton() const { return m_pause.data(); }
    QToolButton *removeButton() const { return m_remove.data(); }
    QToolButton *stepForwardButton() const { return m_stepForward.data(); }
    QToolButton *stepBackwardButton() const { return m_stepBackward.data(); }
    QTimer *updateTimer() const { return m_timer; }
    double msPerDiv() const;
    double scrollScale() const { return m_scrollScale; }
    double cursorPositionDivs() const { return m_cursorPosition; }
    bool isNavigated() const { return m_navigated; }
    int pendingJump() const { return m_pendingJump; }
    DateTimeSpan requestedWindow() const { return m_requestedWindow; }
    DateTimeSpan shownWindow() const { return m_shownWindow; }
    ValueRangeSpec appliedValueScale() const { return m_valueScale; }
    QMap<QString, int> sharedIds() const { return m_sharedIds; }
    bool controlsEnabled() const;
    bool isFollowingLive() const;

    void setModuleStatus(int status);
    void applyValueScaleText();
    // Moves the requested window by n divisions from the shown one.
    void navigateBy(int divisions);

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_cmbTimePerDiv_currentIndexChanged(int index);
    void on_cmbYAxis_editTextChanged(const QString &text);
    void on_cmbYAxis_currentIndexChanged(const QString &text);
    void userManipulatedScrollbar();
    void copyToClipboardClicked();
    void navigateLaterReleased();
    void navigateEarlierReleased();
    void navigateToStartClicked();
    void navigateToEndClicked();
    void navigateToNextDataClicked();
    void navigateToPrevDataClicked();
    void btnRemovePlotPanelClicked();
    void cursorMovedWithinPlot(int ms);
    void scrollBarValueChanged(int value);
    void updateDisplayedData();
    void navigateLaterClicked();
    void navigateEarlierClicked();
    void onPauseClicked(bool checked);
    void onPauseToggled(bool checked);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct PlotViewRequest
    {
        double resolution = 0;
        DateTimeSpan window;
        int jump = 0;
        int msPerDiv = 1000;
    };
    struct CurveWindow
    {
        QVector<DataLogSample> values;
        QVector<DataLogSample> texts;
        DateTimeSpan span;
    };
    struct PlotDataSnapshot
    {
        QMap<QString, int> idsWithData;
        PlotViewRequest request;
        QMap<QString, CurveWindow> windows;
        DateTimeSpan dataRange;
        bool hasData = false;
        // Per curve: the series' data range and its scaling text, copied
        // while it was locked; absent when the series could not be had.
        QMap<QString, DateTimeSpan> ranges;
        QMap<QString, QString> scalingTexts;
        bool allLocked = true;
        // A series was held by its writer beyond LockWaitMs.
        bool busy = false;
    };

    void buildWidgets();
    // The series of a curve's registry id, locked; null when it could not
    // be had, with busy set when its writer held it.
    DataLogSeries *lockSeries(int id, PlotDataSnapshot &snapshot) const;
    void enableControls(bool on);
    void readSharedIds(const QString &text);
    void collectSeriesRanges(PlotDataSnapshot &snapshot);
    void collectDataRange(PlotDataSnapshot &snapshot) const;
    void buildViewRequest(PlotDataSnapshot &snapshot);
    void prepareCurveWindows(PlotDataSnapshot &snapshot);
    void applyCurveData(PlotDataSnapshot &snapshot);
    void updateScrollBar(const PlotDataSnapshot &snapshot);
    void syncScrollBarToWindow();
    double msPerPixel() const;
    QDateTime addDivs(const QDateTime &time, double divisions) const;
    QToolButton *makeButton(const QString &text, const QString &tip, QKeySequence::StandardKey key);

    int m_lastStatus = -1;
    bool m_removing = false;
    QString m_lastSharedIds;
    QString m_title;
    ValueRangeSpec m_valueScale;
    QList<ZorNewPlotConfigurationData> m_curves;
    QStringList m_curveIds;

    QPointer<QScrollBar> m_scrollBar;
    QPointer<QComboBox> m_yAxis;
    QPointer<QLabel> m_scaleLabel;
    QPointer<QComboBox> m_timePerDiv;
    QPointer<QToolButton> m_pause;
    QPointer<QToolButton> m_copy;
    QPointer<QToolButton> m_remove;
    QPointer<QToolButton> m_stepForward;
    QPointer<QToolButton> m_stepBackward;
    QPointer<QToolButton> m_toEnd;
    QPointer<QToolButton> m_toStart;
    QPointer<QToolButton> m_seekForward;
    QPointer<QToolButton> m_seekBackward;
    QPointer<ZorPlot> m_plot;

    bool m_navigated = false;
    double m_scrollScale = 1.0;
    double m_cursorPosition = 10.0;
    int m_repeatCount = 0;
    DateTimeSpan m_requestedWindow;
    int m_pendingJump = 0;
    DateTimeSpan m_shownWindow;
    bool m_syncing = false;
    QTimer *m_timer;
    QElapsedTimer m_updateClock;
    QMap<QString, int> m_sharedIds;
    QMap<QString, ValueScaling> m_scalings;
};
