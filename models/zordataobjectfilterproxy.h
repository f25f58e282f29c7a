// The search filter over an object table or a dictionary tree.
//
// The user types a filter expression (the proxy's own filterRegExp; the
// panels make it a case-insensitive wildcard), and the view keeps the rows
// whose display text in one of filterColumns contains a match, together with
// what makes such a match visible in a tree: the parent object of a matching
// sub-object, and every sub-object of a matching object. Only the direct
// parent and the direct children count. With no filterColumns no row is
// kept.
#pragma once

#include <QItemSelection>
#include <QList>
#include <QSortFilterProxyModel>

class ZorDataObjectFilterProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit ZorDataObjectFilterProxy(QObject *parent = nullptr);

    // Source columns searched ("Name" and "Data Object Id" in the editors).
    QList<int> filterColumns;

    // The source indexes of a selection made in a view of the proxy.
    QModelIndexList selectedSourceIndexes(const QItemSelection &selection) const;

    bool columnsMatch(int sourceRow, const QModelIndex &sourceParent) const;
    bool childMatches(int sourceRow, const QModelIndex &sourceParent) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
};
