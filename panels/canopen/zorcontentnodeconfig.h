// The parameter editor of a node module: a list of the node's objects whose
// values the user reads and writes, stores permanently or resets to factory
// settings, and, in design mode, the building of that list.
//
// The list is an object table (ZorObjEditModel, node id locked to the
// node-id box), stored with the project as the panel document
// "SetupObjects"; the value editor beside it edits the current row's value.
// Four edit modes decide what Read and Write do:
//   0 Standard          one request per selected row (all rows when none is
//                       selected; Write asks first), each sent when the
//                       previous one is answered; Store and Reset shown
//   1 List Read         Read reads the whole list in one request; no Write,
//                       values read-only, node id fixed
//   2 List Read/Write   the whole list in one request each way, Write asks
//                       first; node id fixed
//   3 Auto Store        Write sends the whole list followed by "StoreCmd"
// The mode is stored as the panel document "EditModeDoc". Store and Reset
// send "StoreCmd" and "ResetCmd" after a confirmation; after a reset the
// list is read again. Design mode (user levels above 1) shows the editing
// actions and the format columns and takes objects dropped or pasted in
// the object clipboard text.
//
// Projects may give the module the properties "Icon" (a picture for the
// panel), "NodeObjects" (a first list, as an object table), "ReadOnly" and
// "EditMode"; the panel takes them at set-up and empties the last three.
#pragma once

#include "zorobjectlistqueue.h"
#include "zorobjeditmodel.h"
#include "zorpanel.h"

#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPointer>
#include <QSet>

class QMimeData;
class ZorAccessKeyWidget;
class ZorOverlayLabel;

namespace Ui {
class ZorContentNodeConfigClass;
}

class ZorContentNodeConfig : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentNodeConfig(QWidget *parent = nullptr);
    ~ZorContentNodeConfig() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Installs a list (an object table) in a new model.
    void setObjects(const QDomDocument &doc);

    ZorObjEditModel *model() const { return m_model; }
    int editMode() const { return m_editMode; }
    int queuedRequests() const { return m_queue.size(); }

public slots:
    void processIn(const ZorMessage &msg) override;
    void setUserLevel(int level) override;
    void actionRead();
    void actionWrite();
    void on_actionWrite_triggered(bool checked);
    void on_actionRead_triggered(bool checked);
    void on_actionStore_triggered();
    void on_actionReset_triggered();
    void on_actionToggleDesignMode_triggered(bool on);
    void on_actionPaste_triggered();
    void on_actionCopy_triggered();
    void on_actionCut_triggered();
    void on_actionDelete_triggered();
    void modelDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void modelRowsInserted(const QModelIndex &parent, int first, int last);

private slots:
    void resizeEditorColumns();
    void editorScrollBarValueChanged(int value);
    void setEditMode(int mode);
    void designModeToggled(bool on);
    void updateActions();

private:
    QModelIndexList selectedRows() const;
    bool sendRowRequests(int msgType);
    void sendNextQueued();
    void sendListRequest(int msgType, const QString &text);
    void send(const ZorMessage &msg);
    bool dropIntoModel(const QMimeData *mime);
    void normalizeUiFormats(int first, int last);
    void showCurrentValue();
    void startResizeTimer();
    bool confirm(const QString &title, const QString &text);

    Ui::ZorContentNodeConfigClass *ui;
    QPointer<ZorObjEditModel> m_model;
    QPointer<QItemSelectionModel> m_selection;
    QPointer<ZorAccessKeyWidget> m_accessKey;
    QPointer<ZorOverlayLabel> m_hint;
    int m_editMode = -1;
    ZorObjectListQueue m_queue;  // row requests of edit mode 0
    QHash<int, ZorMessage> m_sent; // requests on their way, by message id
    QTimer *m_resizeTimer = nullptr;
    bool m_normalizing = false;
};
