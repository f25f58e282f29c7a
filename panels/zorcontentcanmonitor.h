// ZorContentCanmonitor: the live table of a CAN interface's traffic.
//
// The panel is wired to the master side of its CAN interface module
// (usesSlavePort() is false), so it sees what the module sends to its
// slaves: every received frame (KS_INFO) and every frame sent on a slave's
// or the player's behalf (KS_ANSWER, shown "TX"). Frames go into a
// ZorMonitorTableModel shown through a ZorCanMonFilterProxy.
//
// The user can
//  - pause following the newest frame (Pause key; selecting an earlier row or
//    scrolling up pauses too, going back to the bottom resumes);
//  - find and filter frames with the proxy's filter language; the last 20
//    filter texts are kept in the module's properties "MonitorFilter0".."19";
//  - copy rows as tab-separated text, paste such text (appended as "clip"
//    rows) and delete all rows;
//  - record every frame that reaches the panel into a trace file, by default
//    CanTrace/tracefile_DATETIME.txt below the working folder (DATETIME
//    becomes the start time), and open a trace file for viewing.
//
// A frame decoder is configured by the panel document
// "MonitoringConfigurationDoc": <... ><DecoderType>CANopen</DecoderType>
// <DecoderConfig>...</DecoderConfig></...>. With a decoder the
// "Description" column is shown.
#pragma once

#include "zorpanel.h"

#include "zorcanmonfilterproxy.h"
#include "zormonitortablemodel.h"

#include <QFile>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTextStream>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QToolBar;
class QToolButton;

class ZorContentCanmonitor : public ZorPanel
{
    Q_OBJECT
public:
    static constexpr int MaxFilters = 20;
    // Buffered trace lines reach the disk at least this often.
    static constexpr int TraceFlushMs = 500;

    explicit ZorContentCanmonitor(QWidget *parent = nullptr);
    ~ZorContentCanmonitor() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;
    bool usesSlavePort() override { return false; }
    // Wide enough for a frame's columns with room for its description.
    QSize sizeHint() const override;

    ZorMonitorTableModel *tableModel() const { return m_model.data(); }
    ZorCanMonFilterProxy *filterProxy() const { return m_proxy.data(); }
    QTableView *tableView() const { return m_tableView; }
    bool isTracing() const { return m_traceFile && m_traceFile->isOpen(); }
    // Full path of the open trace file (empty when not tracing).
    QString traceFileName() const { return isTracing() ? m_traceFile->fileName() : QString(); }
    QString traceFolder() const { return m_traceFolder; }

public slots:
    void processIn(const ZorMessage &msg) override;

    void on_actionPause_triggered(bool checked);
    void on_actionRecord_triggered(bool checked);
    void actionPauseTriggered();
    void actionRecordTriggered();
    void on_actionFind_triggered(bool checked);
    void on_actionCopy_triggered();
    void on_actionDelete_triggered();
    void on_actionPaste_triggered();
    void on_actionOpen_triggered();
    void on_toolButtonTraceFile_clicked();
    void on_pushButtonSetFilter_clicked(bool checked);
    void on_pushButtonFilterAuto_clicked();
    void on_pushButtonFindNext_clicked();
    void tracingToggled(bool on);
    void on_comboBoxFilter_currentIndexChanged(int index);
    void filterEditingFinished();
    void scrollBarValueChanged(int value);
    void userManipulatedScrollbar();
    void startTrace();
    void stopTrace();
    void updateScrollPos();
    void selectedRowChanged(const QModelIndex &index);

protected:
    // Seam for the trace file (tests replace it).
    virtual QFile *newTraceFile(const QString &name);

private slots:
    void flushTrace();

private:
    void buildForm();
    void writeTraceLine(const ZorMessage &msg);
    // Ends a trace whose file failed: closes it, unchecks Record, tells the user.
    void traceWriteFailed();
    void warn(const QString &title, const QString &text);
    // Runs a change of the filter; the current row it moves does not pause
    // following, and a following view goes on to the newest row.
    void refilter(const std::function<void()> &change);
    void applyFilter(bool on);
    // Shows why the proxy refused the filter text; false when it took it.
    bool showFilterError();
    void setRecordUnchecked();
    void resizeColumns();
    void clearTable();

    // Form.
    QToolBar *m_toolBar;
    QAction *m_actionPause;
    QAction *m_actionRecord;
    QAction *m_actionFind;
    QAction *m_actionCopy;
    QAction *m_actionPaste;
    QAction *m_actionOpen;
    QAction *m_actionDelete;
    QLabel *m_labelTracefile;
    QLineEdit *m_lineEditTracefile;
    QToolButton *m_toolButtonTraceFile;
    QGroupBox *m_groupBoxFilter;
    QComboBox *m_comboBoxFilter;
    QPushButton *m_pushButtonSetFilter;
    QPushButton *m_pushButtonFilterAuto;
    QPushButton *m_pushButtonFindNext;
    QLabel *m_labelFilterError;
    QTableView *m_tableView;

    QPointer<ZorMonitorTableModel> m_model;
    QPointer<ZorCanMonFilterProxy> m_proxy;

    QString m_lastFilterText;
    bool m_loadingFilters = false;
    bool m_filtersChanged = false;
    QString m_traceFolder;
    QString m_tracePattern;
    std::unique_ptr<QFile> m_traceFile;
    QTextStream m_traceStream;
    QTimer *m_traceFlushTimer;
    QString m_lastOpenedTrace;
    QPersistentModelIndex m_rememberedRow;
    bool m_userScrolled = false;
    bool m_refiltering = false;
};
