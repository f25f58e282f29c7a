// The node status grid: an object table (ZorObjEditModel) shown as one row
// per node and one column per object name, each cell the Value of that
// object on that node. The network manager's node monitor puts the same few
// objects of every scanned node side by side this way, kept current by the
// object model's cyclic reads.
//
// The grid positions live in an internal QStandardItemModel. Each grid cell
// maps to the object model's own Value cell and shows it exactly as the
// object model does (scaled value, status colour, tooltip); the grid cannot
// edit it. The indexes handed out are the proxy's own, so that views and
// their headers can keep track of them. A value change repaints its cell at
// once; rows added to or removed from the table appear after the next
// setup().
#pragma once

#include <QAbstractProxyModel>
#include <QMap>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStandardItemModel>
#include <QStringList>

class ZorStatusProxy : public QAbstractProxyModel
{
    Q_OBJECT
public:
    explicit ZorStatusProxy(QObject *parent = nullptr);
    ~ZorStatusProxy() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

public slots:
    // Rebuilds the grid from the source rows.
    void setup();

private slots:
    void sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);

private:
    void rebuild();
    QModelIndex gridCell(const QModelIndex &proxyIndex) const;

    QStringList m_nodeKeys;
    QStringList m_nameKeys;
    QStringList m_columnUserTexts;
    QMap<QPersistentModelIndex, QPersistentModelIndex> m_cells;
    QStandardItemModel m_grid;
    QPointer<QAbstractItemModel> m_connectedSource;
};
