// The object dictionary and object editor panel of a CANopen node.
//
// Above: the object dictionary of the node's device description file
// (".xdd", ".xdc" or ".eds") as a tree (ZorDeviceDictModel), read in a
// thread of its own when the module names it or the user opens it. Below: the
// object editor, a table of chosen objects with their values
// (ZorObjEditModel), read from and written to the node through the panel's
// node module as KM_OBJLIST_READ and KM_OBJLIST_WRITE requests. Objects come
// into the editor by drag and drop, double-click, "Add To Editor" or the
// clipboard (the object clipboard text), merged by data-object id. Both
// views have a search field (ZorDataObjectFilterProxy over name and
// data-object id).
//
// Reading and writing go one object per request: the selected rows (all
// when none is selected) become a queue of one-line requests, each sent when
// the answer to the one before has come; unchecking Read or Write, or a new
// read or write, marks what is still queued "aborted". Synch mode leaves the
// traffic to the editor model instead: it reads every object each second
// and writes edited values at once, until it is switched off or the module
// reports a busy status (1100 to 1999). Store and Reset send "StoreCmd" and
// "ResetCmd" after a confirmation; Default copies default values into
// values; Export writes the values as a ";"-separated text file and a
// concise DCF (".cdcf") beside it.
//
// The editor list is stored in the project as the panel document
// "EditorObjects"; the module's "NodeId" is bound to the node-id box and
// "ConfigFilePath" (the description file, relative to the working folder)
// to the file-path field. Projects of older versions kept the list in the
// module property "ObjectList" (lines "access,index,subindex,type,value #
// name") or "ObjectsEdited" (an object table); such a list is taken over
// once and the property emptied. Lines of the older form that cannot be
// taken over stay in the property, and the status line names them.
#pragma once

#include "zordataobjectfilterproxy.h"
#include "zordevicedictmodel.h"
#include "zorobjectlistqueue.h"
#include "zorobjeditmodel.h"
#include "zorpanel.h"

#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPointer>

class QMimeData;
class ZorAccessKeyWidget;
class ZorOverlayLabel;

namespace Ui {
class ZorContentObjEditClass;
}

class ZorContentObjEdit : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentObjEdit(QWidget *parent = nullptr);
    ~ZorContentObjEdit() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

    // Loads a description file into the dictionary tree in a thread of its
    // own (the window goes on meanwhile), as the file-path property and the
    // Open action load; dictionaryLoaded tells when the tree shows it. A load started later wins. From the dialog: a
    // file that cannot be read is reported in a message box, one that can
    // becomes the module's "ConfigFilePath".
    void loadDictionaryFileInBackground(const QString &path, bool fromDialog);

    // The older "ObjectList" property text as an object table; empty when
    // no line qualifies. Lines that do not qualify (an unknown data type, no
    // index or subindex) go into *leftOver as they stand.
    static QString convertObjectList(const QString &text, QStringList *leftOver = nullptr);

    ZorDeviceDictModel *dictionaryModel() const { return m_dictModel; }
    ZorObjEditModel *editorModel() const { return m_editorModel; }
    ZorDataObjectFilterProxy *dictionaryProxy() const { return m_dictProxy; }
    ZorDataObjectFilterProxy *editorProxy() const { return m_editorProxy; }
    int queuedRequests() const { return m_queue.size(); }

signals:
    void dictionaryLoaded(bool read);

public slots:
    void setUserLevel(int level) override;
    void processIn(const ZorMessage &msg) override;
    void actionRead();
    void actionWrite();
    void on_actionWrite_triggered(bool checked);
    void on_actionRead_triggered(bool checked);
    void on_actionOpen_triggered();
    void on_actionEdit_triggered();
    void on_actionAdd_triggered();
    void on_actionDelete_triggered();
    void on_actionCut_triggered();
    void on_actionCopy_triggered();
    void on_actionPaste_triggered();
    void on_actionStore_triggered();
    void on_actionReset_triggered();
    void on_actionSynch_triggered(bool checked);
    void on_actionDefault_triggered();
    void on_actionExport_triggered();
    void on_treeViewDeviceCfg_doubleClicked(const QModelIndex &index);
    void dictionarySelectionChanged(const QModelIndex &current, const QModelIndex &previous);
    void editorSelectionChanged(const QModelIndex &current, const QModelIndex &previous);
    void setState(int code);
    void setTableAppearance();
    void searchInDictTextChanged(const QString &text);
    void searchInEditorTextChanged(const QString &text);
    void editorModelDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void editorModelRowsInserted(const QModelIndex &parent, int first, int last);
    void editorScrollBarValueChanged(int value);
    void resizeEditorColumns();
    void updateEditorActions();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setDictionaryDocument(const QDomDocument &doc);
    void setEditorDocument(const QDomDocument &doc);
    void addToEditor(const QModelIndexList &dictionaryRows);
    bool dropIntoEditor(const QMimeData *mime);
    QModelIndexList selectedEditorRows() const;
    QModelIndexList selectedDictionaryRows() const;
    void selectAllEditorRows();
    bool sendObjectListRequest(int msgType);
    void sendNextQueued();
    void abortQueue();
    bool applyObjectListAnswer(const ZorMessage &msg);
    void takeOverOlderList(const QString &name, const QString &value);
    void showStatusText(const QString &text);
    void warn(const QString &title, const QString &text);
    bool confirm(const QString &title, const QString &text,
                 QMessageBox::StandardButtons buttons = QMessageBox::Ok | QMessageBox::Cancel,
                 QMessageBox::StandardButton yes = QMessageBox::Ok);
    bool writeFile(const QString &name, const QByteArray &content, bool text);

    Ui::ZorContentObjEditClass *ui;
    QPointer<ZorDeviceDictModel> m_dictModel;
    QPointer<ZorDataObjectFilterProxy> m_dictProxy;
    QPointer<QItemSelectionModel> m_dictSelection;
    QPointer<ZorObjEditModel> m_editorModel;
    QPointer<ZorDataObjectFilterProxy> m_editorProxy;
    QPointer<QItemSelectionModel> m_editorSelection;
    ZorObjectListQueue m_queue;
    QHash<int, ZorMessage> m_sent; // queued requests sent and not answered, by id
    int m_lastState = -1;
    int m_dictionaryLoads = 0;
    bool m_treeFocused = false;
    bool m_tableFocused = false;
    QTimer *m_resizeTimer = nullptr;
    QPointer<ZorOverlayLabel> m_treeOverlay;
    QPointer<ZorOverlayLabel> m_tableOverlay;
    QPointer<ZorAccessKeyWidget> m_accessKey;
};
