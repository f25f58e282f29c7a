// The project tree model: an item model over the project document.
//
// ZorDomModel shows the module tree of a project ("module" elements below the
// "QuorvaneProject" element) in two columns, "Module" and "Status". It gives
// every module row its label (or its type's default label), an icon with a
// status overlay, a tool tip, the user-level state and the status reported by
// the row's module, and it is the one place through which the project adds,
// removes and renames module elements, so that its items stay in step with
// the DOM.
//
// The model, its items and the process-wide type tables belong to the GUI
// thread. Modules report status and property changes from their own threads
// through the post* operations of ZorAbstractDomModel; direct calls of
// setModuleStatus and setModuleStatusText from another thread are refused.
#pragma once

#include "zorabstractdommodel.h"

#include <QDomDocument>
#include <QHash>
#include <QIcon>
#include <QPersistentModelIndex>
#include <QSet>
#include <QStringList>

class DomTreeItem;
class QMimeData;

class ZorDomModel : public ZorAbstractDomModel
{
    Q_OBJECT
public:
    enum Column { ModuleColumn = 0, StatusColumn = 1 };

    // Keeps the document handle (the model and its creator share one DOM)
    // and builds the root item over its first "QuorvaneProject" element; a
    // document without one gives a model without rows (hasRoot() false).
    explicit ZorDomModel(const QDomDocument &document, QObject *parent = nullptr);
    ~ZorDomModel() override;

    bool hasRoot() const { return m_root != nullptr; }

    // Item model.
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDropActions() const override;
    // A text dropped between two rows is announced through textDropped();
    // the model itself changes nothing.
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    // Removes module rows with their elements and subtrees, and forgets the
    // status codes and texts of every removed row.
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    // Project document access.
    QDomNode nodeFromIndex(const QModelIndex &index) const override;
    QDomDocument document() const override;

    // Module status (GUI thread only; modules use the post* operations).
    void setModuleStatus(const QModelIndex &index, int status) override;
    void setModuleStatusText(const QModelIndex &index, const QString &text) override;
    // Highest status code of all modules (at least 0); the top-level row
    // shows it.
    int overallStatus() const { return m_overallStatus; }

    int userLevel() const { return m_userLevel; }
    void setUserLevel(int level);
    int guiMode() const { return m_guiMode; }
    void setGuiMode(int mode);

    // The row's icon: the type's picture (or the element's "icon" picture)
    // on the common background, with the overlay of the row's status band.
    QIcon moduleIcon(const QModelIndex &index) const;

    // Inserts a "module" element as the last row under `parent` (an invalid
    // parent: a top-level row). A detached element of this document is
    // inserted itself; any other element (attached somewhere, or of another
    // document) is inserted as a deep copy. False without a root or for a
    // node that is not a "module" element.
    bool appendModule(const QDomNode &element, const QModelIndex &parent);
    // With a valid index and empty label and type: removes that row.
    // Otherwise removes every child of `index` (of the project module when
    // `index` is invalid) whose type equals `type` or whose label equals
    // `label`; empty criteria match nothing. True when a row was removed.
    bool removeModules(const QString &label, const QString &type, const QModelIndex &index);
    // Gives the row a label made unique among its siblings from `newLabel`
    // and follows the change in the "slave" references of the project.
    // False for an invalid index or a label that is blank.
    bool renameModule(const QString &newLabel, const QModelIndex &index,
                      QString *resultLabel = nullptr);
    // `desired` when no child of `parent` and no text of `taken` carries it;
    // else the first free label counted up from it (Node01 -> Node02,
    // Scope -> Scope 1), however many are taken.
    QString uniqueLabel(const QString &desired, const QStringList &taken,
                        const QModelIndex &parent) const;
    // Before inserting `element` under `parent`: makes its label unique
    // among the parent's children and the labels inside it unique among
    // themselves.
    void makeLabelsUnique(QDomElement element, const QModelIndex &parent) const;

    // The template for a new module of `type` (found by type or label under
    // "templates"), or the built-in default element when the project has no
    // templates; null when there is none.
    QDomElement templateElement(const QString &type);
    // A new element for "datalog_plot" and "nodeconfig"; null for any other.
    QDomElement defaultModuleElement(const QString &type);
    // First "module" element below `scope` (document order) whose "type"
    // equals a non-empty `type` or whose "label" equals a non-empty `label`.
    static QDomElement findModuleElement(const QDomElement &scope, const QString &type,
                                         const QString &label);

    // Writes "moduleDepth" on the project module (0) and every module below
    // it, and fills in missing labels; with `remove` it removes "moduleDepth"
    // instead (before the document is written to a file).
    void updateModuleDepths(bool remove);

    // The module-type table: default label and description of a type key
    // (translated; empty for an unknown key).
    static QString defaultLabel(const QString &type);
    static QString typeDescription(const QString &type);

signals:
    void textDropped(const QModelIndex &index, const QString &text);

private:
    DomTreeItem *itemFromIndex(const QModelIndex &index) const;
    QString displayLabel(const QDomElement &element) const;
    static QString firstFreeLabel(const QString &desired, const QSet<QString> &used,
                                  QHash<QString, int> *nextNumber);
    QString description(const QModelIndex &index) const;
    bool isEnabledForUser(const QDomElement &element) const;
    int storedStatus(const QModelIndex &index) const;
    QString storedStatusText(const QModelIndex &index) const;
    void dropStatusOfRemovedRows();
    int highestStatus() const;
    void followRenameInSlaveReferences(const QString &oldLabel, const QString &newLabel,
                                       const QString &type);
    QDomElement projectElement() const;

    QDomDocument m_document;
    DomTreeItem *m_root = nullptr;
    int m_userLevel = 0;
    int m_guiMode = 0;
    QHash<QPersistentModelIndex, int> m_statusCodes;
    QHash<QPersistentModelIndex, QString> m_statusTexts;
    int m_overallStatus = 0;
};
