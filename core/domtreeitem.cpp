#include "domtreeitem.h"

#include <QDomDocument>

namespace {

bool countsAsRow(const QDomNode &child, bool objectRows)
{
    if (!child.isElement())
        return false;
    const QString name = DomTreeItem::localName(child);
    if (objectRows)
        return name == QLatin1String("CANopenObject") || name == QLatin1String("CANopenSubObject");
    return name == QLatin1String("module");
}

}

QString DomTreeItem::localName(const QDomNode &node)
{
    if (!node.isElement())
        return QString();
    const QString name = node.nodeName();
    const int colon = name.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

DomTreeItem::DomTreeItem(const QDomNode &node, int row, DomTreeItem *parent)
    : m_node(node)
    , m_parent(parent)
    , m_row(row)
{
}

DomTreeItem::~DomTreeItem()
{
    qDeleteAll(m_children);
}

void DomTreeItem::buildChildren(Rows rows)
{
    if (m_built)
        return;
    m_built = true;
    const bool objectRows = rows == Rows::Objects;
    for (QDomNode child = m_node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (countsAsRow(child, objectRows))
            m_children.append(new DomTreeItem(child, m_children.size(), this));
    }
}

DomTreeItem *DomTreeItem::moduleChild(int row)
{
    buildChildren(Rows::Modules);
    return m_children.value(row, nullptr);
}

int DomTreeItem::moduleChildCount()
{
    buildChildren(Rows::Modules);
    return m_children.size();
}

DomTreeItem *DomTreeItem::objectChild(int row)
{
    buildChildren(Rows::Objects);
    return m_children.value(row, nullptr);
}

int DomTreeItem::objectChildCount()
{
    buildChildren(Rows::Objects);
    return m_children.size();
}

bool DomTreeItem::insertChild(int row, const QDomNode &element)
{
    buildChildren(Rows::Modules);
    return insertNode(row, element);
}

bool DomTreeItem::insertObjectChild(int row)
{
    buildChildren(Rows::Objects);
    const QDomElement element = m_node.ownerDocument().createElement(QStringLiteral("CANopenObject"));
    return insertNode(row, element);
}

bool DomTreeItem::insertNode(int row, const QDomNode &element)
{
    if (row < 0)
        row = 0;
    QDomNode inserted;
    if (row >= m_children.size()) {
        row = m_children.size();
        inserted = m_node.appendChild(element);
    } else {
        inserted = m_node.insertBefore(element, m_children.at(row)->m_node);
    }
    if (inserted.isNull())
        return false;
    m_children.insert(row, new DomTreeItem(inserted, row, this));
    renumberFrom(row + 1);
    return true;
}

bool DomTreeItem::removeChild(int row)
{
    if (row < 0 || row >= m_children.size())
        return false;
    DomTreeItem *item = m_children.takeAt(row);
    renumberFrom(row);
    m_node.removeChild(item->m_node);
    delete item;
    return true;
}

void DomTreeItem::renumberFrom(int row)
{
    for (int i = row; i < m_children.size(); ++i)
        m_children.at(i)->m_row = i;
}
