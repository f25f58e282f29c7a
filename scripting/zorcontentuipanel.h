// ZorContentUiPanel: the panel of the module types "uipanel" and
// "uipanel_node" (both run the generic node module). It shows an operator
// screen written in QML, the file "QML/<name>" of the project folder
// (default "ZorUiMain.qml", another name from the panel document
// "QmlData"), beside the table of the data objects the screen's controls
// read and write.
//
// The screen talks to the program through the bridge ZorQmlInterface,
// published to QML as "ZorUi". While the module runs (a positive status),
// the table reads its objects cyclically and writes edited values; its
// requests go to the module one at a time through the panel's queue, which
// answers them itself with KS_CANCEL while the module is stopped, and
// clears itself when 50 pile up.
//
// In design mode the user drops data objects onto the screen (the screen
// creates a control for each), pastes, cuts, copies and deletes them, and
// re-addresses or clones them for another node id. For "uipanel_node" all
// objects take the node id of the module property "NodeId".
//
// The table is stored as the panel document "DynamicUi" when the project is
// saved; values that are only read are stored blank.
//
// The screen reaches files only inside the project folder, through the
// bridge and through the engine's own access alike (ZorQmlNetworkAccess);
// other URLs only when the panel document "QmlData" holds the element
// "AllowNetworkAccess" with 1. What is refused shows on the panel.
#pragma once

#include "zorpanel.h"
#include "zordeclarativeview.h"
#include "zordynamicuieditmodel.h"
#include "zorqmlinterface.h"
#include "zorqmlnetworkaccess.h"

#include <QList>
#include <QModelIndex>
#include <QPoint>
#include <QPointer>
#include <QTimer>

class QAction;
class QComboBox;
class QFrame;
class QGridLayout;
class QItemSelectionModel;
class QLabel;
class QMimeData;
class QPushButton;
class QQmlContext;
class QQmlEngine;
class QSplitter;
class QTableView;
class QToolBar;



class ZorContentUiPanel : public ZorPanel
{
    Q_OBJECT
public:
    static const int QueueLimit = 50;

    explicit ZorContentUiPanel(QWidget *parent = nullptr);
    ~ZorContentUiPanel() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

    // Loads the screen anew; false (and the error shown) when it cannot.
    bool loadQml();

    QString qmlFileName() const { return m_qmlFileName; }
    ZorDynamicUiEditModel *objectTable() const { return m_table.data(); }
    ZorDeclarativeView *view() const { return m_view.data(); }
    ZorQmlInterface *bridge() { return &m_bridge; }
    bool isRunning() const { return m_running; }
    int queuedRequests() const { return m_queue.size(); }
    bool isBusy() const { return m_busy; }

public slots:
    void processIn(const ZorMessage &msg) override;
    void setUserLevel(int level) override;
    void setGuiMode(int mode) override;
    void enqueueObjectRwRequests(ZorMessage msg);
    void designModeToggleForDataTableActions(bool b);
    void showDataToggleForIndexesSelection(bool b);
    void sendUiPanelMsg(ZorMessage msg);
    void dynamicUiElementDropped(QString text, QPoint pos);
    void qmlRefreshRequired(QString dataObjectId);
    void on_actionDesignRuntimeMode_triggered(bool on);
    void on_actionReloadQml_triggered();
    void on_actionDelete_triggered();
    void on_actionCut_triggered();
    void on_actionCopy_triggered();
    void on_actionPaste_triggered();
    void on_actionChangeNodeId_triggered();
    void on_actionClone_triggered();
    void on_pushButtonStart_clicked(bool checked);
    void startUi();
    void on_pushButtonStop_clicked();
    void lockedNodeIdChanged(QString id);
    void resizeTableColumns();
    void modelDataChanged(QModelIndex topLeft, QModelIndex bottomRight);
    void modelRowsInserted(QModelIndex parent, int first, int last);
    void tableScrollBarValueChanged(int value);

private slots:
    // Shows a refused file or network access of the screen.
    void showRefusal(const QString &text);
    // What the Design Mode and Show Data Objects toggles switch.
    void designModeDependents(bool b);
    void showDataDependents(bool b);

private:
    void setupForm();
    void setupActions();
    QAction *addToolAction(const char *name, const QString &text, const QString &toolTip,
                           const QString &icon, bool checkable);
    bool isNodePanel();
    void createObjectModel();
    void connectQmlRoot();
    void disconnectQmlRoot();
    void showModuleStatus(int status);
    void restartObjectUpdate();
    void leaveDesignMode();
    void startResizeTimer();
    void handleIncoming(const ZorMessage &msg);
    void sendNextRequest();
    void cancelQueuedRequests();
    // Asks for a node id with the integer dialog of Change ID and Clone.
    int askNodeId(const QString &title, const QString &label, bool *ok);
    void pasteMimeToView(const QMimeData *mime);
    // Selected rows of the table (column 0), each once.
    QModelIndexList selectedRows() const;

    // Form.
    QSplitter *m_splitter = nullptr;
    QTableView *tbDataObjects = nullptr;
    QWidget *m_screenArea = nullptr;
    QGridLayout *gridLayoutUiPanel = nullptr;
    QLabel *labelQmlError = nullptr;
    QLabel *labelQmlNotice = nullptr;   // what the screen was refused
    QComboBox *comboBoxId = nullptr;
    QFrame *frameTools = nullptr;
    QGridLayout *gridLayoutTools = nullptr;
    QGridLayout *gridLayoutToolbar = nullptr;
    QPushButton *pushButtonStop = nullptr;
    QPushButton *pushButtonStart = nullptr;
    QToolBar *m_toolBar = nullptr;
    QAction *actionDesignRuntimeMode = nullptr;
    QAction *actionReloadQml = nullptr;
    QAction *actionShowData = nullptr;
    QAction *actionPaste = nullptr;
    QAction *actionDelete = nullptr;
    QAction *actionCut = nullptr;
    QAction *actionCopy = nullptr;
    QAction *actionClone = nullptr;
    QAction *actionChangeNodeId = nullptr;

    // State.
    QString m_qmlFileName;
    QPointer<ZorDynamicUiEditModel> m_table;
    QPointer<QItemSelectionModel> m_selection;
    QPointer<ZorDeclarativeView> m_view;
    QPointer<QQmlEngine> m_engine;
    QPointer<QQmlContext> m_context;
    ZorQmlInterface m_bridge;
    ZorQmlNetworkAccess m_networkAccess;
    bool m_designModeDisallowed = false;
    bool m_running = false;
    int m_lastStatus = -1;
    QList<ZorMessage> m_queue;
    ZorMessage m_current;
    bool m_busy = false;
    bool m_cancelling = false;
    QTimer m_resizeTimer;
};
