// The editors of the monitoring list's Sampling and Rate columns
// (ZorMonitoringEditModel): an editable combo box of the method texts
// ("Off", "Software", "TPDO1.0.1", "RPDO1.0.1"; "Hardware" may be typed) and
// a spin box of 50..60000 ms in steps of 10. Other columns get the plain
// item delegate.
#pragma once

#include <QItemDelegate>

class ZorMonitorEditItemDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    explicit ZorMonitorEditItemDelegate(QObject *parent = nullptr);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    static bool isMonitorColumn(const QModelIndex &index);
};
