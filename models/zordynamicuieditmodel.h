// The object table behind an operator screen: the objects its elements show
// and set, kept current by the cyclic reads of the object edit model.
//
// Column 14 "Instances" (attribute "dynamicUiInstances") counts the screen
// elements bound to an object and is editable; the Value column is titled
// plainly "Value". Objects enter the table when the screen's panel adds them
// through the model; the table itself takes no drops.
#pragma once

#include "zorobjeditmodel.h"

class ZorDynamicUiEditModel : public ZorObjEditModel
{
    Q_OBJECT
public:
    enum DynamicUiColumn { InstancesColumn = 14, DynamicUiColumnCount = 15 };

    ZorDynamicUiEditModel(QDomDocument doc, bool nodeIdLocked, QObject *parent = nullptr);
    ~ZorDynamicUiEditModel() override;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
};
