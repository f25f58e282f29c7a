#include "zordynamicuieditmodel.h"

ZorDynamicUiEditModel::ZorDynamicUiEditModel(QDomDocument doc, bool nodeIdLocked, QObject *parent)
    : ZorObjEditModel(doc, nodeIdLocked, parent)
{
}

ZorDynamicUiEditModel::~ZorDynamicUiEditModel() = default;

int ZorDynamicUiEditModel::columnCount(const QModelIndex &) const
{
    return DynamicUiColumnCount;
}

QVariant ZorDynamicUiEditModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (section == ValueColumn && role == Qt::DisplayRole)
            return tr("Value");
        if (section == InstancesColumn && role == Qt::DisplayRole)
            return tr("Instances");
        if (section == InstancesColumn && role == AttributeNameRole)
            return QStringLiteral("dynamicUiInstances");
    }
    return ZorObjEditModel::headerData(section, orientation, role);
}

Qt::ItemFlags ZorDynamicUiEditModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = ZorObjEditModel::flags(index) & ~Qt::ItemIsDropEnabled;
    if (index.isValid() && index.column() == InstancesColumn)
        f |= Qt::ItemIsEditable;
    return f;
}
