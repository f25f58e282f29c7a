#include "zorstatusproxy.h"

#include "zordevicedescmodel.h"

ZorStatusProxy::ZorStatusProxy(QObject *parent)
    : QAbstractProxyModel(parent)
{
    setup();
}

ZorStatusProxy::~ZorStatusProxy() = default;

void ZorStatusProxy::setup()
{
    emit layoutAboutToBeChanged();
    rebuild();
    // Indexes kept by views (selection, current cell) stay where they were
    // while that cell still exists.
    const QModelIndexList kept = persistentIndexList();
    for (const QModelIndex &old : kept) {
        const QModelIndex cell = gridCell(old);
        if (!cell.isValid() || !m_cells.contains(QPersistentModelIndex(cell)))
            changePersistentIndex(old, QModelIndex());
    }
    emit layoutChanged();
}

void ZorStatusProxy::rebuild()
{
    m_nodeKeys.clear();
    m_nameKeys.clear();
    m_columnUserTexts.clear();
    m_cells.clear();
    m_grid.clear();

    QAbstractItemModel *source = sourceModel();
    if (!source)
        return;
    const int rows = source->rowCount();
    for (int r = 0; r < rows; ++r) {
        const QString node = source->index(r, ZorDeviceDescModel::NodeIdColumn).data().toString();
        const QString name = source->index(r, ZorDeviceDescModel::NameColumn).data().toString();
        int gridRow = m_nodeKeys.indexOf(node);
        if (gridRow < 0) {
            gridRow = m_nodeKeys.size();
            m_nodeKeys << node;
        }
        int gridColumn = m_nameKeys.indexOf(name);
        if (gridColumn < 0) {
            gridColumn = m_nameKeys.size();
            m_nameKeys << name;
        }
        // A later row of the same node and name takes the cell over.
        m_grid.setItem(gridRow, gridColumn, new QStandardItem);
        m_cells.insert(QPersistentModelIndex(m_grid.index(gridRow, gridColumn)),
                       QPersistentModelIndex(source->index(r, ZorDeviceDescModel::ValueColumn)));
    }
    if (m_connectedSource != source) {
        if (m_connectedSource)
            disconnect(m_connectedSource, &QAbstractItemModel::dataChanged, this,
                       &ZorStatusProxy::sourceDataChanged);
        connect(source, &QAbstractItemModel::dataChanged, this, &ZorStatusProxy::sourceDataChanged);
        m_connectedSource = source;
    }
}

void ZorStatusProxy::sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    // Only the cells whose Value cell lies in the changed range repaint; a
    // change of a row's status or name leaves the grid as it is.
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    const QModelIndex parent = topLeft.parent();
    for (auto it = m_cells.constBegin(); it != m_cells.constEnd(); ++it) {
        const QModelIndex source = it.value();
        if (source.parent() == parent && source.row() >= topLeft.row() && source.row() <= bottomRight.row()
            && source.column() >= topLeft.column() && source.column() <= bottomRight.column()) {
            const QModelIndex cell = createIndex(it.key().row(), it.key().column());
            emit dataChanged(cell, cell);
        }
    }
}

QModelIndex ZorStatusProxy::gridCell(const QModelIndex &proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this)
        return QModelIndex();
    return m_grid.index(proxyIndex.row(), proxyIndex.column());
}

QModelIndex ZorStatusProxy::index(int row, int column, const QModelIndex &) const
{
    const QModelIndex cell = m_grid.index(row, column);
    if (!cell.isValid() || !m_cells.value(QPersistentModelIndex(cell)).isValid())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex ZorStatusProxy::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int ZorStatusProxy::rowCount(const QModelIndex &) const
{
    return m_grid.rowCount();
}

int ZorStatusProxy::columnCount(const QModelIndex &) const
{
    return m_grid.columnCount();
}

QVariant ZorStatusProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal && section >= 0 && section < m_nameKeys.size())
        return m_nameKeys.at(section);
    if (orientation == Qt::Vertical && section >= 0 && section < m_nodeKeys.size())
        return tr("Node %1").arg(m_nodeKeys.at(section));
    return QVariant();
}

QModelIndex ZorStatusProxy::mapToSource(const QModelIndex &proxyIndex) const
{
    const QModelIndex cell = gridCell(proxyIndex);
    if (!cell.isValid())
        return QModelIndex();
    return m_cells.value(QPersistentModelIndex(cell));
}

QModelIndex ZorStatusProxy::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!sourceIndex.isValid())
        return QModelIndex();
    for (auto it = m_cells.constBegin(); it != m_cells.constEnd(); ++it) {
        if (it.value() == sourceIndex)
            return createIndex(it.key().row(), it.key().column());
    }
    return QModelIndex();
}

Qt::ItemFlags ZorStatusProxy::flags(const QModelIndex &index) const
{
    // A display: the cells are shown and selected, never edited here.
    return QAbstractProxyModel::flags(index) & ~Qt::ItemIsEditable;
}

bool ZorStatusProxy::setData(const QModelIndex &, const QVariant &, int)
{
    return false;
}
