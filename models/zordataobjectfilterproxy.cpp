#include "zordataobjectfilterproxy.h"

ZorDataObjectFilterProxy::ZorDataObjectFilterProxy(QObject *parent)
    : QSortFilterProxyModel(parent)
{
}

QModelIndexList ZorDataObjectFilterProxy::selectedSourceIndexes(const QItemSelection &selection) const
{
    return mapSelectionToSource(selection).indexes();
}

bool ZorDataObjectFilterProxy::columnsMatch(int sourceRow, const QModelIndex &sourceParent) const
{
    const QAbstractItemModel *source = sourceModel();
    if (!source)
        return false;
    const QRegExp expression = filterRegExp();
    for (int column : filterColumns) {
        const QModelIndex index = source->index(sourceRow, column, sourceParent);
        if (index.isValid() && expression.indexIn(index.data().toString()) >= 0)
            return true;
    }
    return false;
}

bool ZorDataObjectFilterProxy::childMatches(int sourceRow, const QModelIndex &sourceParent) const
{
    const QAbstractItemModel *source = sourceModel();
    const QModelIndex object = source ? source->index(sourceRow, 0, sourceParent) : QModelIndex();
    if (!object.isValid())
        return false;
    const int children = source->rowCount(object);
    for (int c = 0; c < children; ++c) {
        if (columnsMatch(c, object))
            return true;
    }
    return false;
}

bool ZorDataObjectFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (columnsMatch(sourceRow, sourceParent))
        return true;
    if (!sourceParent.isValid())
        return childMatches(sourceRow, sourceParent);
    return columnsMatch(sourceParent.row(), sourceParent.parent());
}
