#include "zormonitoringeditmodel.h"

#include "zordaqobject.h"

namespace {

const QString MethodAttribute = QStringLiteral("monitorMethod");
const QString IntervalAttribute = QStringLiteral("monitorInterval");
const QString ValueAttribute = QStringLiteral("actualValue");

} // namespace

ZorMonitoringEditModel::ZorMonitoringEditModel(QDomDocument doc, QObject *parent, bool samplingLocked)
    : ZorObjEditModel(doc, false, parent)
    , m_samplingLocked(samplingLocked)
{
}

ZorMonitoringEditModel::~ZorMonitoringEditModel() = default;

int ZorMonitoringEditModel::columnCount(const QModelIndex &) const
{
    return MonitorColumnCount;
}

int ZorMonitoringEditModel::normalisedInterval(const QVariant &value)
{
    const int ms = value.toString().trimmed().toInt();
    if (ms == 0)
        return 100;
    return qBound(50, ms, 60000);
}

QVariant ZorMonitoringEditModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    const QVariant base = ZorObjEditModel::headerData(section, orientation, role);
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole ? QVariant(QString::number(section + 1)) : base;
    if (section == ValueColumn && role == Qt::DisplayRole)
        return tr("Value");
    if (section == SamplingColumn) {
        if (role == AttributeNameRole)
            return MethodAttribute;
        if (role == Qt::DisplayRole)
            return tr("Sampling");
    }
    if (section == RateColumn) {
        if (role == AttributeNameRole)
            return IntervalAttribute;
        if (role == Qt::DisplayRole)
            return tr("Rate");
    }
    return base;
}

QVariant ZorMonitoringEditModel::data(const QModelIndex &index, int role) const
{
    const QDomElement e = elementOf(index);
    if (e.isNull() || !e.hasAttributes())
        return QVariant();
    const QString key = headerData(index.column(), Qt::Horizontal, AttributeNameRole).toString();
    const QVariant value = ZorObjEditModel::data(index, role);

    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (key == IntervalAttribute)
            return normalisedInterval(value);
        if (key == MethodAttribute) {
            QString text = value.toString();
            bool isNumber = false;
            const int number = text.trimmed().toInt(&isNumber);
            if (isNumber && (number > 0 || text.trimmed() == QLatin1String("0")))
                text = ZorDaqObject::methodName(number);
            return text.isEmpty() ? ZorDaqObject::defaultMethodName() : text;
        }
    }
    if (role == Qt::ToolTipRole && key == ValueAttribute) {
        const QString tip = value.toString();
        const int cut = tip.indexOf(QLatin1String(". "));
        return cut < 0 ? value : QVariant(tip.left(cut));
    }
    return value;
}

bool ZorMonitoringEditModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role == Qt::EditRole && index.column() == RateColumn)
        return ZorObjEditModel::setData(index, QString::number(normalisedInterval(value)), role);
    if (role == Qt::EditRole && index.column() == SamplingColumn) {
        QString text = value.toString().trimmed();
        text.replace(QLatin1Char(','), QLatin1Char('.'));
        ZorDaqObject entry;
        entry.setDataType(data(index.sibling(index.row(), DataTypeColumn), Qt::DisplayRole).toString());
        entry.setMonitorMethod(text);
        return ZorObjEditModel::setData(index, entry.methodText(), role);
    }
    return ZorObjEditModel::setData(index, value, role);
}

Qt::ItemFlags ZorMonitoringEditModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = ZorDeviceDescModel::flags(index);
    if (!index.isValid())
        return f;
    const int column = index.column();
    bool editable = column == NameColumn || column == ScalingColumn;
    if ((column == SamplingColumn || column == RateColumn) && !m_samplingLocked)
        editable = true;
    return editable ? f | Qt::ItemIsEditable : f & ~Qt::ItemIsEditable;
}

void ZorMonitoringEditModel::prepareExportElement(QDomElement &element) const
{
    ZorObjEditModel::prepareExportElement(element);
}

QString ZorMonitoringEditModel::monitorConfiguration() const
{
    QString text;
    const int rows = rowCount();
    for (int r = 0; r < rows; ++r) {
        const QModelIndex row = index(r, 0);
        const auto cell = [&](int column) { return data(row.sibling(r, column), Qt::DisplayRole); };
        ZorDaqObject entry;
        entry.setDataObjectId(data(row, DataObjectIdRole).toString());
        entry.setName(cell(NameColumn).toString());
        entry.setDataType(cell(DataTypeColumn).toString());
        entry.setMonitorMethod(cell(SamplingColumn).toString());
        entry.setInterval(cell(RateColumn).toInt());
        text += entry.toString() + QLatin1Char('\n');
    }
    return text;
}
