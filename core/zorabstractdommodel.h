// The part of the project tree model that the module framework uses.
//
// The project model (ZorDomModel, in app/) lives in the GUI thread and owns the
// project's DOM document. Modules run in threads of their own and must never
// touch the DOM directly once the project is running: QDom is not thread-safe.
// They report status, status text and property values through the post*
// operations below, which may be called from any thread and are carried out
// in the model's own thread, in the order they were posted.
//
// Reading the DOM (nodeFromIndex, document) is allowed outside the model's
// thread only while the model's thread is waiting for the module host (module
// set-up and linking), as the project guarantees.
#pragma once

#include <QAbstractItemModel>
#include <QDomDocument>
#include <QPersistentModelIndex>

class ZorAbstractDomModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    // Data roles of a module row (column 0). The module framework reads the
    // label, type, status, status text and description; panels and the main
    // window also read the others.
    enum ModuleRole {
        LabelRole = Qt::DisplayRole,
        TypeRole = 32,
        PanelVisibleRole = 33,
        UserLevelRole = 34,
        StatusRole = 35,
        StatusTextRole = 36,
        DescriptionRole = 37,
        ModuleDepthRole = 38
    };

    explicit ZorAbstractDomModel(QObject *parent = nullptr);

    // The DOM node (a module's "module" element) of a row, a null node when
    // the index is not valid.
    virtual QDomNode nodeFromIndex(const QModelIndex &index) const = 0;
    // The project document (a shared handle onto the model's DOM).
    virtual QDomDocument document() const = 0;

    // Stores the status code (role 35) or the status text (role 36) of a
    // module row when it differs, and updates the views. Model thread only.
    virtual void setModuleStatus(const QModelIndex &index, int status) = 0;
    virtual void setModuleStatusText(const QModelIndex &index, const QString &text) = 0;

    // Thread-safe: carried out later in the model's thread.
    void postModuleStatus(const QPersistentModelIndex &index, int status);
    void postModuleStatusText(const QPersistentModelIndex &index, const QString &text);
    void postModuleProperty(const QPersistentModelIndex &index, const QString &key,
                            const QString &value);

    // Writes one property value into the module element's "properties"
    // child: creates "properties" and the key's element (named as
    // ZorXmlName::encode gives) when missing, else replaces the text.
    // Announces documentEdited when the stored text of a property (not a
    // "_" pseudo-property) changed. Model thread only.
    void writeModuleProperty(const QModelIndex &index, const QString &key, const QString &value);

    // For code that writes into a module element directly (panel documents,
    // panel attributes): announces documentEdited. Model thread only.
    void noteDocumentEdited() { emit documentEdited(); }

private slots:
    void applyModuleStatus(const QPersistentModelIndex &index, int status);
    void applyModuleStatusText(const QPersistentModelIndex &index, const QString &text);
    void applyModuleProperty(const QPersistentModelIndex &index, const QString &key,
                             const QString &value);

signals:
    // The content of the document changed outside the structural operations
    // (a property value, a panel document or a panel attribute). The project
    // takes it as an unsaved change.
    void documentEdited();
};
