#include "zoruiobjecttable.h"

namespace {

// Stand-in for the operator-screen table class of models/: an object edit
// model with the instances column, editable and stored like the others.
class UiObjectTable : public ZorObjEditModel
{
public:
    using ZorObjEditModel::ZorObjEditModel;

    int columnCount(const QModelIndex & = QModelIndex()) const override { return 15; }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && section == ValueColumn && role == Qt::DisplayRole)
            return tr("Value");
        if (orientation == Qt::Horizontal && section == 14) {
            if (role == Qt::DisplayRole)
                return tr("Instances");
            if (role == AttributeNameRole)
                return QStringLiteral("dynamicUiInstances");
        }
        return ZorObjEditModel::headerData(section, orientation, role);
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags f = ZorObjEditModel::flags(index) & ~Qt::ItemIsDropEnabled;
        if (index.isValid() && index.column() == 14)
            f |= Qt::ItemIsEditable;
        return f;
    }
};

}

ZorObjEditModel *createUiObjectTable(const QDomDocument &doc, bool nodeIdLocked, QObject *parent)
{
    return new UiObjectTable(doc, nodeIdLocked, parent);
}
