// One node of a tree model over an XML document.
//
// A DomTreeItem wraps one node of a DOM document, knows its parent item and
// its row, and builds its child items lazily, the first time a child or the
// child count is asked for. Which child elements count as rows depends on the
// model: the project tree counts "module" elements, the object-list models
// count "CANopenObject" and "CANopenSubObject" elements, by local name so
// that prefixed CiA 311 files ("q2:CANopenObject") count as well; everything
// else (properties, documents, text, comments, processing instructions) is
// skipped.
//
// Once built, the children only follow changes made through insertChild,
// insertObjectChild and removeChild; models therefore change the tree's
// structure through the item, never behind its back. The item owns its child
// items but not the document.
#pragma once

#include <QDomNode>
#include <QVector>

class DomTreeItem
{
public:
    DomTreeItem(const QDomNode &node, int row, DomTreeItem *parent = nullptr);
    ~DomTreeItem();

    DomTreeItem(const DomTreeItem &) = delete;
    DomTreeItem &operator=(const DomTreeItem &) = delete;

    QDomNode node() const { return m_node; }
    int row() const { return m_row; }
    DomTreeItem *parent() const { return m_parent; }

    // Project-tree rows: the "module" child elements.
    DomTreeItem *moduleChild(int row);
    int moduleChildCount();
    // Inserts the element before the module row `row`, or appends it when
    // `row` is at or beyond the count. False when the DOM refuses the node.
    bool insertChild(int row, const QDomNode &element);

    // Object-list rows: the "CANopenObject" and "CANopenSubObject" children.
    DomTreeItem *objectChild(int row);
    int objectChildCount();
    // Inserts a new empty "CANopenObject" element at `row` (appends beyond).
    bool insertObjectChild(int row);

    // Removes row `row` with its element and deletes its item subtree.
    // False (nothing changed) when there is no such row.
    bool removeChild(int row);

    // The element name without its namespace prefix ("q2:CANopenObject" ->
    // "CANopenObject"); "" for a node that is not an element.
    static QString localName(const QDomNode &node);

private:
    enum class Rows { Modules, Objects };

    void buildChildren(Rows rows);
    bool insertNode(int row, const QDomNode &element);
    void renumberFrom(int row);

    QDomNode m_node;
    QVector<DomTreeItem *> m_children;
    DomTreeItem *m_parent;
    int m_row;
    bool m_built = false;
};
