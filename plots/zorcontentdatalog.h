// ZorContentDataLog: the panel of the data-log module ("datalog").
//
// Live mode: the table lists the monitored data objects (what the module
// samples, how and how often) with their latest values; Start and Stop run
// acquisition, Record writes what is acquired to a CSV file and a companion
// XML file listing the recorded objects, New Plot (or a double click on a
// row) adds a "datalog_plot" module for chosen objects below the data-log
// module. Objects come in by drag and drop from an object table, or through
// the clipboard. Every change of the list goes to the module as its
// monitoring list (KM_DAQ_CONFIG), and the list is stored in the project as
// the document "MonitoringObjects".
//
// Viewer mode: Open has the module load a recorded CSV file; the table then
// shows the objects of its companion XML file and plots are made from them.
//
// The panel follows its module: a recording the module could not start or
// had to stop releases Record and shows the module's error; a panel made
// anew (a dock closed and opened again) asks the module what it does
// (KM_DAQ_CONTROL 6) and shows it: recording, acquisition, viewer mode and
// the recording viewed. Samples the module skipped are reported below the
// table. Edits of the monitoring list that are not in the project yet are
// not dropped without asking when a recording is opened.
//
// The panel reads the module's shared series (SharedDataRegistry) only to
// pass each row's scaling text to its series; the plots read the samples.
#pragma once

#include "zormonitoringeditmodel.h"
#include "zornewplotdialog.h"
#include "zoroverlaylabel.h"
#include "zorpanel.h"

#include <QDomDocument>
#include <QMap>
#include <QPointer>

class QAction;
class QGridLayout;
class QItemSelectionModel;
class QLabel;
class QLineEdit;
class QProgressBar;
class QShortcut;
class QTableView;
class QToolBar;
class QToolButton;
class ZorMonitorEditItemDelegate;

class ZorContentDataLog : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentDataLog(QWidget *parent = nullptr);
    ~ZorContentDataLog() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

    // --- state, for tests
    bool isLive() const { return m_live; }
    ZorMonitoringEditModel *monitoringModel() const { return m_model.data(); }
    ZorMonitoringEditModel *recordingSnapshot() const { return m_snapshot.data(); }
    QTableView *table() const { return m_table; }
    QLineEdit *recordingPathEdit() const { return m_recordingPath; }
    QProgressBar *progressBar() const { return m_progress; }
    ZorOverlayLabel *overlay() const { return m_overlay.data(); }
    ZorNewPlotDialog *newPlotDialog() const { return m_dialog.data(); }
    QMap<QString, int> sharedIds() const { return m_sharedIds; }
    QString defaultRecordingFolder() const { return m_defaultFolder; }
    QString recordingPath() const { return m_recordingPathResolved; }
    QString companionPath() const { return m_companionPath; }
    QString lastOpenedFile() const { return m_lastOpenedFile; }
    QLabel *warningLabel() const { return m_warning; }
    QToolButton *selectRecordingPathButton() const { return m_selectRecordingPath; }
    // The monitoring list was changed since it was set or stored.
    bool isListEdited() const { return m_listEdited; }
    // The first free plot label made from a name (see plotConfigured).
    QString uniquePlotName(const QString &name) const;
    // A data-log value as the table shows it: six significant digits when
    // integral, else three decimals.
    static QString valueText(double value);

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_actionStart_triggered();
    void on_actionStop_triggered();
    void on_actionRecord_triggered();
    void on_toolButtonSelectRecordingPath_clicked();
    void on_actionDelete_triggered();
    void on_actionCut_triggered();
    void on_actionCopy_triggered();
    void on_actionPaste_triggered();
    void on_actionNewPlot_triggered();
    void on_actionOpen_triggered(const QString &name);
    void on_actionOpen_triggered();
    void on_actionCancel_triggered();
    void on_actionClearMeasurements_triggered();
    void on_actionReloadRecording_triggered();
    void on_actionToggleLiveMode_triggered();
    void recordingToggled(bool on);
    void on_tableViewMonitoringConfig_doubleClicked(const QModelIndex &index);
    void plotConfigured(const QString &name, const QList<ZorNewPlotConfigurationData> &curves);
    void modelRowsInserted(const QModelIndex &parent, int first, int last);
    void monitoringDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void updateActions();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *makeAction(const char *name, const QString &text, const QString &tip, const char *icon,
                        bool checkable = false);
    void switchMode(bool live);
    void setModelFrom(const QDomDocument &doc);
    void takeRecordingSnapshot();
    void sendConfiguration();
    void sendDaqControl(const QString &data, int state = KS_REQUEST);
    void readSharedIds(const QString &text);
    void refreshSeriesScalings();
    void copyScalingToSeries(int row);
    void showLiveValues(const QString &text);
    void writeCompanionFile();
    void showDaqStatus(int status);
    void loadAnswered(const ZorMessage &msg);
    void recordingFailed(const ZorMessage &msg);
    void followModuleState(const QString &arguments);
    void showLoading(const QString &name);
    void showRecording(const QString &path);
    void loadCompanionFile(const QString &xmlPath);
    void setLoadingControls(bool loading);
    bool keepListEdits();
    QList<QPair<QString, QString>> objectsForPlot() const;
    QString rowId(int row) const;

    bool m_live = false;
    QPointer<ZorMonitoringEditModel> m_model;
    QPointer<QItemSelectionModel> m_selection;
    QPointer<ZorMonitoringEditModel> m_snapshot;
    ZorMonitorEditItemDelegate *m_delegate;
    QString m_defaultFolder;
    QString m_recordingPattern;
    QString m_recordingPathResolved;
    QString m_companionPath;
    QString m_lastOpenedFile;
    QString m_lastConfiguration;
    QString m_lastSharedIds;
    QMap<QString, int> m_sharedIds;
    int m_status = -1;
    bool m_recordingConfirmed = false;
    bool m_listEdited = false;
    QPointer<QToolBar> m_toolBar;
    QPointer<ZorNewPlotDialog> m_dialog;
    QPointer<ZorOverlayLabel> m_overlay;
    QList<QShortcut *> m_clipboardKeys;

    QAction *actionStart, *actionStop, *actionRecord, *actionOpen, *actionDelete, *actionCopy, *actionPaste,
        *actionNewPlot, *actionCut, *actionCancel, *actionClearMeasurements, *actionReloadRecording,
        *actionToggleLiveMode;
    QLabel *m_labelState;
    QLineEdit *m_state;
    QLabel *m_labelRecordingPath;
    QLineEdit *m_recordingPath;
    QToolButton *m_selectRecordingPath;
    QTableView *m_table;
    QProgressBar *m_progress;
    QLabel *m_warning;
    QGridLayout *m_toolbarLayout;
};
