// The panel of the network manager (ZorModNetManager).
//
// From its tool bar the user scans the network (Scan Network), builds the
// project from the list of configurable nodes (Build Project), edits the
// data objects the node monitor reads (Node Mon. Config) and runs the node
// monitor (Node Monitor): one copy of the configured objects per scanned
// node id, read cyclically through the manager and shown as a grid of
// "Node n" rows and one column per object (ZorStatusProxy), in which a node
// that stopped answering is marked (ZorContentNetManagerMarks).
//
// The configured objects are kept in the project as the panel document
// "EditorObjects"; "Scanned Node IDs" and "Configurable Node IDs" are the
// module properties "LastScanIds" and "ConfigurableIds". The module's status
// texts are logged below the grid ("Network Manager Messages").
#pragma once

#include "zorpanel.h"

#include <QPointer>

class QAction;
class QGroupBox;
class QItemSelectionModel;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;
class QToolBar;
class ZorContentNetManagerMarks;
class ZorObjEditModel;
class ZorStatusProxy;

class ZorContentNetManager : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentNetManager(QWidget *parent = nullptr);
    ~ZorContentNetManager() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

    // For tests and owners: the models behind the two tables.
    ZorObjEditModel *configurationModel() const;
    ZorObjEditModel *monitorModel() const;
    ZorStatusProxy *statusProxy() const;
    // What the node monitor's table shows: the grid with silent nodes
    // marked.
    ZorContentNetManagerMarks *monitorMarks() const;

public slots:
    void processIn(const ZorMessage &msg) override;
    void setUserLevel(int level) override;
    void on_actionScan_triggered(bool checked);
    void on_actionStatus_triggered(bool checked);
    void on_actionBuild_triggered();
    void on_actionConfig_triggered(bool checked);
    void on_actionDelete_triggered();
    void on_actionCut_triggered();
    void on_actionCopy_triggered();
    void on_actionPaste_triggered();
    void setState(int status);

private:
    void buildForm();
    QAction *newAction(const char *name, const QString &text, const QString &icon, bool checkable,
                       const QString &toolTip = QString());
    void setItemViewAppearance(QTableView &view);
    void setUpConfigurationModel(const QDomDocument &doc);
    void initStatusMonitor();
    void stopStatusMonitor();
    void updateGroupVisibility();
    // Widens the node grid's columns first..last to their header text and
    // their values, whichever needs more; they never shrink while the
    // monitor runs.
    void fitStatusColumns(int first, int last);
    template<class T>
    static void release(QPointer<T> &pointer);

    QAction *actionScan = nullptr;
    QAction *actionBuild = nullptr;
    QAction *actionConfig = nullptr;
    QAction *actionStatus = nullptr;
    QAction *actionDelete = nullptr;
    QAction *actionCopy = nullptr;
    QAction *actionPaste = nullptr;
    QAction *actionCut = nullptr;
    QToolBar *toolBar = nullptr;
    QLabel *labelState = nullptr;
    QLineEdit *lineEditState = nullptr;
    QTableView *tableViewNodeStatus = nullptr;
    QGroupBox *groupBoxStatus = nullptr;
    QPlainTextEdit *plainTextEditStatus = nullptr;
    QLabel *labelScanList = nullptr;
    QLineEdit *lineEditScanList = nullptr;
    QLabel *labelProjectList = nullptr;
    QLineEdit *lineEditProjectList = nullptr;
    QGroupBox *groupBoxObjList = nullptr;
    QTableView *tableViewObjEditor = nullptr;

    QPointer<ZorObjEditModel> m_configModel;
    QPointer<QItemSelectionModel> m_configSelection;
    QPointer<ZorObjEditModel> m_monitorModel;
    QPointer<ZorStatusProxy> m_proxy;
    QPointer<ZorContentNetManagerMarks> m_marks;
    int m_lastStatus = -1;
};
