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

void ZorStatusProxy::sourceDataChanged(const QModelIndex &, const QModelIndex &)
{
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

QModelIndex ZorStatusProxy::index(int row, int column, const QModelIndex &) const
{
    return m_cells.value(QPersistentModelIndex(m_grid.index(row, column)));
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
    if (!proxyIndex.isValid())
        return QModelIndex();
    return m_cells.value(QPersistentModelIndex(proxyIndex));
}

QModelIndex ZorStatusProxy::mapFromSource(const QModelIndex &sourceIndex) const
{
    for (auto it = m_cells.constBegin(); it != m_cells.constEnd(); ++it) {
        if (it.value() == sourceIndex)
            return it.key();
    }
    return QModelIndex();
}
