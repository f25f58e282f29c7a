// ZorQmlInterface: the one object through which a QML operator screen talks
// to the rest of the program. Its panel publishes it in the screen's root
// context as "ZorUi" and binds it to the screen's object table and view.
//
// Four kinds of traffic cross it:
//  - messages: what the panel's module sends reaches QML as text
//    (messageStrIn, text form 2); a text that QML writes (qmlMessageStrOut)
//    becomes a module message (zorMessageOut), a KM_MASTER_OUT request
//    carrying the whole text when it names a recipient;
//  - values: a control's new value goes into the table's value cell, which
//    writes it to the node; values the table reads reach QML batched, 15 ms
//    after the last change of a burst (modelValueChanged);
//  - instances: the table follows the controls the screen reports through
//    its root method collectChildControlData ("id,instance;..."), and QML is
//    asked to create the controls the table describes
//    (dynamicUiCreateRequested);
//  - services: text files below the project folder, and the clipboard.
//    A path outside it is refused (accessRefused, shown by the panel).
//
// The signatures of the signals and public slots are what screen authors
// write against: keep them. The bridge has no QML properties.
//
// What the bridge expects of the screen's root object (each is optional):
// signals valueChanged(string id, string value), instanceClosed(string,
// string), instancePositionChanged(string, string, int, int) and
// messageStrOut(string) (connected by the panel), the method
// collectChildControlData() returning text, and the bool property
// "disallowDesignMode" (read by the panel).
//
// GUI thread only.
#pragma once

#include "zormessage.h"
#include "zorobjeditmodel.h"

#include <QMap>
#include <QModelIndex>
#include <QObject>
#include <QPointer>
#include <QQuickWidget>
#include <QTimer>
#include <QVariantMap>

class ZorQmlInterface : public QObject
{
    Q_OBJECT
public:
    // Columns of the object table that the bridge reads and writes.
    enum Column {
        NodeIdColumn = 2,
        NameColumn = 3,
        ValueColumn = 5,
        StatusColumn = 10,
        UiFormatColumn = 11,
        ScalingColumn = 13,
        InstancesColumn = 14
    };
    // The value cell's status code that marks a good read.
    static const int StatusOk = 1;
    static const int CollectDelayMs = 500;
    static const int ValueBatchMs = 15;

    ZorQmlInterface();
    ~ZorQmlInterface() override;

    // Binds the table (its dataChanged feeds the value batches) and the view
    // whose root object is the screen.
    void setModel(ZorObjEditModel *model);
    void setView(QQuickWidget *view);
    // Forgets the view and the table.
    void clearModel();
    ZorObjEditModel *model() const { return m_model.data(); }
    QQuickWidget *view() const { return m_view.data(); }

    // Asks QML for the controls of one table row, or of every row.
    void createInstancesOfRow(int row);
    void createAllInstances();

    // The entries of a UI format text ("shape:label; updates:r1000") as a
    // map of lower-cased keys to trimmed values; parts without exactly one
    // colon are left out.
    static QVariantMap parseUiFormat(const QString &format);

    // The absolute path for a screen's file path, when it lies in the
    // project folder (the working folder) or below, links resolved; empty
    // otherwise (also for a link that leads nowhere), with the reason in
    // `error`.
    static QString projectFilePath(const QString &path, QString *error);

signals:
    void dynamicUiCreateRequested(QString instance, QString dataObjectId, QVariantMap format,
                                  QString name, QString value);
    void modelValueChanged(QString dataObjectId, QString value);
    void designModeToggled(bool on);
    void messageStrIn(QString text);
    void zorMessageOut(ZorMessage msg);
    void modelChangeNotify(QString dataObjectId);
    // readFile or writeFile refused a path; the panel shows the text.
    void accessRefused(QString text);

public slots:
    void zorMessageIn(ZorMessage msg);
    void qmlValueChanged(QString dataObjectId, QString value);
    void qmlMessageStrOut(QString text);
    void qmlInstanceClosed(QString, QString);
    void qmlInstancePositionChanged(QString, QString, int, int);
    void updateModelFromQmlInstances();
    QString readFile(QString path);
    void writeFile(QString path, QString text, bool append);
    void writeFile(QString path, QString text);
    void copyToClipboard(QString text);
    QString getClipboardContents();

private slots:
    void modelDataChanged(QModelIndex topLeft, QModelIndex bottomRight);
    void processPendingValueUpdates();

private:
    QString collectedControlData() const;
    void queueValue(const QString &id, const QModelIndex &valueCell);

    QPointer<ZorObjEditModel> m_model;
    QPointer<QQuickWidget> m_view;
    QMetaObject::Connection m_dataChangedConnection;
    bool m_syncing = false;
    QTimer m_collectTimer;
    QTimer m_valueTimer;
    QMap<QString, QString> m_pendingValues;
};
