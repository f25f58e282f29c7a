#include "zormonitoredititemdelegate.h"

#include "zordaqobject.h"
#include "zormonitoringeditmodel.h"

#include <QComboBox>
#include <QSpinBox>

namespace {

// The combo's item that equals the text ignoring case, or -1.
int itemMatching(const QComboBox *box, const QString &text)
{
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace

ZorMonitorEditItemDelegate::ZorMonitorEditItemDelegate(QObject *parent)
    : QItemDelegate(parent)
{
}

bool ZorMonitorEditItemDelegate::isMonitorColumn(const QModelIndex &index)
{
    return index.column() == ZorMonitoringEditModel::SamplingColumn
        || index.column() == ZorMonitoringEditModel::RateColumn;
}

QWidget *ZorMonitorEditItemDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                                  const QModelIndex &index) const
{
    if (index.column() == ZorMonitoringEditModel::SamplingColumn) {
        auto *box = new QComboBox(parent);
        box->setEditable(true);
        for (int method = ZorDaqObject::Off; method <= ZorDaqObject::Rpdo; ++method) {
            ZorDaqObject entry;
            entry.setMonitorMethod(method);
            box->addItem(entry.methodText());
        }
        box->setCurrentIndex(0);
        return box;
    }
    if (index.column() == ZorMonitoringEditModel::RateColumn) {
        auto *spin = new QSpinBox(parent);
        spin->setRange(50, 60000);
        spin->setSingleStep(10);
        spin->setValue(100);
        return spin;
    }
    return QItemDelegate::createEditor(parent, option, index);
}

void ZorMonitorEditItemDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    if (index.column() == ZorMonitoringEditModel::SamplingColumn) {
        if (auto *box = qobject_cast<QComboBox *>(editor)) {
            const QString text = index.data(Qt::EditRole).toString();
            const int item = itemMatching(box, text);
            if (item >= 0)
                box->setCurrentIndex(item);
            else
                box->setEditText(text);
            return;
        }
    }
    if (index.column() == ZorMonitoringEditModel::RateColumn) {
        if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
            spin->setValue(index.data(Qt::EditRole).toInt());
            return;
        }
    }
    QItemDelegate::setEditorData(editor, index);
}

void ZorMonitorEditItemDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                              const QModelIndex &index) const
{
    if (index.column() == ZorMonitoringEditModel::SamplingColumn) {
        if (auto *box = qobject_cast<QComboBox *>(editor)) {
            const int item = itemMatching(box, box->currentText());
            if (item >= 0)
                box->setCurrentIndex(item);
            model->setData(index, box->currentText(), Qt::EditRole);
            return;
        }
    }
    if (index.column() == ZorMonitoringEditModel::RateColumn) {
        if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
            spin->interpretText();
            model->setData(index, spin->value(), Qt::EditRole);
            return;
        }
    }
    QItemDelegate::setModelData(editor, model, index);
}

void ZorMonitorEditItemDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                                      const QModelIndex &index) const
{
    if (isMonitorColumn(index)) {
        editor->setGeometry(option.rect);
        return;
    }
    QItemDelegate::updateEditorGeometry(editor, option, index);
}

QSize ZorMonitorEditItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QItemDelegate::sizeHint(option, index);
    if (isMonitorColumn(index))
        size.rwidth() += 20;
    return size;
}
