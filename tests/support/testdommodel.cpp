#include "testdommodel.h"

TestDomModel::TestDomModel(QObject *parent)
    : ZorAbstractDomModel(parent)
{
    setXml(projectXml({}));
}

TestDomModel::~TestDomModel()
{
    destroy(root);
}

void TestDomModel::destroy(Item *item)
{
    if (!item)
        return;
    for (Item *child : item->children)
        destroy(child);
    delete item;
}

void TestDomModel::build(Item *item)
{
    for (QDomElement e = item->element.firstChildElement(QStringLiteral("module")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("module"))) {
        Item *child = new Item;
        child->element = e;
        child->parent = item;
        item->children << child;
        build(child);
    }
}

bool TestDomModel::setXml(const QString &text)
{
    beginResetModel();
    destroy(root);
    root = nullptr;
    doc = QDomDocument();
    const bool ok = doc.setContent(text);
    if (ok) {
        root = new Item;
        root->element = doc.documentElement();
        build(root);
    }
    endResetModel();
    return ok;
}

QString TestDomModel::xml() const
{
    return doc.toString(1);
}

QString TestDomModel::projectXml(const QList<QStringList> &modules)
{
    QString body;
    for (const QStringList &m : modules) {
        body += QStringLiteral("<module type=\"%1\" label=\"%2\" description=\"%3\">%4</module>")
                    .arg(m.value(0).toHtmlEscaped(), m.value(1).toHtmlEscaped(),
                         m.value(2).toHtmlEscaped(), m.value(3));
    }
    return QStringLiteral("<QuorvaneProject><module type=\"project\" label=\"Project Home\">%1</module>"
                          "</QuorvaneProject>").arg(body);
}

TestDomModel::Item *TestDomModel::itemFor(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Item *>(index.internalPointer()) : root;
}

QModelIndex TestDomModel::projectIndex() const
{
    return index(0, 0);
}

QModelIndex TestDomModel::moduleIndex(const QString &label) const
{
    const QModelIndex project = projectIndex();
    for (int row = 0; row < rowCount(project); ++row) {
        const QModelIndex i = index(row, 0, project);
        if (i.data().toString() == label)
            return i;
    }
    return QModelIndex();
}

QDomElement TestDomModel::moduleElement(const QString &label) const
{
    return nodeFromIndex(moduleIndex(label)).toElement();
}

QModelIndex TestDomModel::addModule(const QString &type, const QString &label,
                                    const QString &description, const QString &innerXml)
{
    const QModelIndex project = projectIndex();
    Item *parentItem = itemFor(project);
    if (!project.isValid() || !parentItem)
        return QModelIndex();
    QDomDocument fragment;
    fragment.setContent(QStringLiteral("<module>%1</module>").arg(innerXml));
    QDomElement element = doc.importNode(fragment.documentElement(), true).toElement();
    element.setAttribute(QStringLiteral("type"), type);
    element.setAttribute(QStringLiteral("label"), label);
    if (!description.isEmpty())
        element.setAttribute(QStringLiteral("description"), description);

    const int row = parentItem->children.size();
    beginInsertRows(project, row, row);
    parentItem->element.appendChild(element);
    Item *item = new Item;
    item->element = element;
    item->parent = parentItem;
    parentItem->children << item;
    build(item);
    endInsertRows();
    return index(row, 0, project);
}

bool TestDomModel::removeModule(const QString &label)
{
    const QModelIndex i = moduleIndex(label);
    if (!i.isValid())
        return false;
    Item *item = itemFor(i);
    Item *parentItem = item->parent;
    beginRemoveRows(i.parent(), i.row(), i.row());
    parentItem->children.removeAt(i.row());
    parentItem->element.removeChild(item->element);
    destroy(item);
    endRemoveRows();
    return true;
}

bool TestDomModel::renameModule(const QString &label, const QString &newLabel)
{
    const QModelIndex i = moduleIndex(label);
    if (!i.isValid())
        return false;
    itemFor(i)->element.setAttribute(QStringLiteral("label"), newLabel);
    emit dataChanged(i, i, {LabelRole});
    return true;
}

QString TestDomModel::storedProperty(const QString &label, const QString &key) const
{
    return moduleElement(label).firstChildElement(QStringLiteral("properties"))
        .firstChildElement(key).text();
}

QDomNode TestDomModel::nodeFromIndex(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return QDomNode();
    return itemFor(index)->element;
}

QDomDocument TestDomModel::document() const
{
    return doc;
}

void TestDomModel::setModuleStatus(const QModelIndex &index, int status)
{
    Item *item = index.isValid() ? itemFor(index) : nullptr;
    if (!item || item->status == status)
        return;
    item->status = status;
    emit dataChanged(index, index, {StatusRole});
}

void TestDomModel::setModuleStatusText(const QModelIndex &index, const QString &text)
{
    Item *item = index.isValid() ? itemFor(index) : nullptr;
    if (!item || item->statusText == text)
        return;
    item->statusText = text;
    emit dataChanged(index, index, {StatusTextRole});
}

QModelIndex TestDomModel::index(int row, int column, const QModelIndex &parent) const
{
    Item *p = itemFor(parent);
    if (!p || column != 0 || row < 0 || row >= p->children.size())
        return QModelIndex();
    return createIndex(row, column, p->children.at(row));
}

QModelIndex TestDomModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return QModelIndex();
    Item *p = itemFor(child)->parent;
    if (!p || p == root)
        return QModelIndex();
    return createIndex(p->parent->children.indexOf(p), 0, p);
}

int TestDomModel::rowCount(const QModelIndex &parent) const
{
    Item *p = itemFor(parent);
    return p ? p->children.size() : 0;
}

int TestDomModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant TestDomModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const Item *item = itemFor(index);
    switch (role) {
    case LabelRole:
        return item->element.attribute(QStringLiteral("label"));
    case TypeRole:
        return item->element.attribute(QStringLiteral("type"));
    case DescriptionRole:
        return item->element.attribute(QStringLiteral("description"));
    case StatusRole:
        return item->status;
    case StatusTextRole:
        return item->statusText;
    default:
        return QVariant();
    }
}
