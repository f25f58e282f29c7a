// The item model over an object table: an XML document that lists CANopen
// objects in the manner of the CiA 311 device description
// ("CANopenObjectList" > "CANopenObject" > "CANopenSubObject"), with one
// attribute of our own, "zorUiFormat".
//
// Every object table of the program has this form: the objects a node panel
// edits, the object editor's list, the network manager's monitor objects,
// the objects that operator screens and data logs refer to. The model shows
// a table as rows of ten columns, gives each row its data-object id
// ("005.1018h.01h", role 48) and moves objects between tables through the
// object clipboard text, merging what arrives by data-object id. It never
// talks to a node: reading and writing values is ZorObjEditModel's business.
//
// The table is the first element whose local name is "CANopenObjectList",
// wherever it stands ("q2:CANopenObjectList" in prefixed files counts); a
// document without one gets an empty list appended. Rows are its
// "CANopenObject" and "CANopenSubObject" child elements, sub-object rows the
// "CANopenSubObject" children of an object; comments and other nodes never
// make rows. Edits go straight into the shared document, so the owner's
// document is always current. Change the table through the model: the
// look-up behind findObject follows the model's own changes only.
//
// Index, subindex and node id texts are read as ZorBabelFish reads numbers;
// index and subindex texts without "0x" in front or "h" at the end are
// hexadecimal all the same ("1018" means 1018h) and are shown with the "h"
// appended. dataType and objectType texts are hexadecimal too, as CiA 311
// writes them (hexBinary): "7", "0007", "10" (INTEGER24), "1B", "0x001B".
//
// Models live in one thread (a panel's model in the GUI thread, a node
// module's temporary one in the module's thread).
#pragma once

#include <QAbstractItemModel>
#include <QDomDocument>
#include <QHash>
#include <QPersistentModelIndex>
#include <QSet>
#include <QVector>

class DomTreeItem;

class ZorDeviceDescModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column {
        IndexColumn = 0,
        SubIndexColumn = 1,
        NodeIdColumn = 2,
        NameColumn = 3,
        DataObjectIdColumn = 4,
        ValueColumn = 5,
        DefaultColumn = 6,
        ObjectTypeColumn = 7,
        DataTypeColumn = 8,
        AccessColumn = 9,
        BaseColumnCount = 10
    };
    enum Role {
        // Horizontal header: the attribute a column shows. The role numbers
        // are the ones stored tables, operator screens and the project tree
        // share (32 and up, below Qt::UserRole).
        AttributeNameRole = 32,
        // Any cell: the row's data-object id text.
        DataObjectIdRole = 48,
        // Columns 0 and 1: index and subindex numbers; column 2 the node
        // number (the locked node id text in a locked model); others 0.
        NumberRole = 49
    };

    ZorDeviceDescModel(QDomDocument doc, bool nodeIdLocked, QObject *parent = nullptr);
    ~ZorDeviceDescModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    // The object clipboard text of the rows (every row for an empty list);
    // null when nothing is exported.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    // Merges the objects of an object clipboard text by data-object id: an
    // object found here takes the incoming attributes, a new one is inserted
    // in data-object id order. row, column and parent play no part.
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    // Top level only: empty "CANopenObject" rows.
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;

    virtual QMimeData *allObjectsMimeData() const;
    virtual bool removeRow(int row, const QModelIndex &parent = QModelIndex());
    // Removes the rows of a selection (each row once, whatever the columns).
    virtual bool removeRows(const QModelIndexList &rows);
    virtual bool insertRow(int row, const QModelIndex &parent = QModelIndex());
    // Called on every element copy made for the clipboard text before it is
    // placed; derived models strip their transient attributes here.
    virtual void prepareExportElement(QDomElement &element) const;

    // The row of node, index and subindex (number texts; node 0 on either
    // side matches any node; subindex 0 of an object with sub-objects is the
    // object row). Invalid when there is none.
    QModelIndex findObject(const QString &nodeText, const QString &indexText,
                           const QString &subText) const;
    QModelIndex findDataObject(const QString &idText) const;

    bool isNodeIdLocked() const { return m_nodeIdLocked; }
    QString lockedNodeId() const { return m_lockedNodeId; }
    QDomDocument document() const { return m_doc; }
    // The element of a row (null for an invalid index).
    QDomElement elementOf(const QModelIndex &index) const;
    // The document as text, indent 1.
    QString toXml() const;

    // The distinct rows of a selection (by parent and row, whatever the
    // columns), in table order; every top-level row for an empty list. The
    // indexes are in column 0.
    QModelIndexList collectRows(const QModelIndexList &indexes) const;

    // UI format texts: "key:value" entries joined by "; ".
    static QString formatEntry(const QString &format, const QString &key);
    static void setFormatEntry(QString &format, const QString &key, const QString &value);

    // Number codes of dataType and objectType texts (hexadecimal, see
    // above); 0 for a text that is no number.
    static quint32 typeCode(const QString &text, bool *ok = nullptr);
    // Index and subindex texts with the "h" appended unless marked.
    static QString withHexMarker(const QString &text);
    // The first element below root (depth first, in document order) whose
    // name without namespace prefix is `name`; null when there is none.
    static QDomElement firstElementByLocalName(const QDomNode &root, const QString &name);

    // Elements nested deeper than this are refused: building a document
    // takes time that grows with the square of its depth, and no object
    // table or device description comes near it.
    static const int MaxXmlDepth = 256;
    // Reads an XML text (an object table, a device description) into doc
    // in time linear in its size: false, doc empty, with the reason in
    // *error when it is not well-formed or nested deeper than MaxXmlDepth.
    static bool readXml(const QByteArray &text, QDomDocument &doc, QString *error = nullptr);
    static bool readXml(const QString &text, QDomDocument &doc, QString *error = nullptr);

public slots:
    // Locked models only: the node id that column 2 shows and every
    // data-object id uses.
    void setLockedNodeId(const QString &nodeId);

protected:
    // The attribute a column shows (the horizontal header's role 32), so
    // that columns added by derived models read and store like these.
    QString attributeName(int column) const;
    DomTreeItem *itemOf(const QModelIndex &index) const;
    // The "CANopenObjectList" element the rows come from.
    QDomElement listElement() const { return m_list; }
    // The look-up of findObject is rebuilt on next use.
    void invalidateLookup() { m_lookupValid = false; }

private slots:
    void delayedDataChangedSignal();

private:
    struct LookupEntry
    {
        int row;
        quint32 node;
        quint8 sub;
        bool hasChildren;
    };

    QVariant numberOf(const QModelIndex &index, const QString &text) const;
    QString cellText(const QModelIndex &index) const;
    QString dataObjectIdOf(const QModelIndex &index) const;
    quint32 nodeNumberOf(const QModelIndex &index) const;
    QDomElement exportElement(QDomDocument &target, const QDomElement &element,
                              const QDomElement &parentObject, QSet<QString> &seen) const;
    void rebuildLookup() const;

    QDomDocument m_doc;
    QDomElement m_list;
    DomTreeItem *m_root = nullptr;
    const bool m_nodeIdLocked;
    QString m_lockedNodeId;
    QVector<QPersistentModelIndex> m_pendingRows;

    mutable QHash<quint16, QVector<LookupEntry>> m_lookup;
    mutable bool m_lookupValid = false;
};
