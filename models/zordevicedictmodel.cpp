#include "zordevicedictmodel.h"

#include "domtreeitem.h"
#include "zorbabelfish.h"
#include "zoredsreader.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <cmath>

namespace {

const QString ObjectName = QStringLiteral("CANopenObject");
const QString SubObjectName = QStringLiteral("CANopenSubObject");
const QString UiFormatAttr = QStringLiteral("zorUiFormat");

// The simple types of CiA 311 parameters and the CANopen data type each
// stands for.
const QHash<QString, quint16> &simpleTypeCodes()
{
    static const QHash<QString, quint16> codes = {
        {QStringLiteral("BOOL"), 0x01},      {QStringLiteral("SINT"), 0x02},
        {QStringLiteral("INT"), 0x03},       {QStringLiteral("DINT"), 0x04},
        {QStringLiteral("USINT"), 0x05},     {QStringLiteral("UINT"), 0x06},
        {QStringLiteral("UDINT"), 0x07},     {QStringLiteral("REAL"), 0x08},
        {QStringLiteral("STRING"), 0x09},    {QStringLiteral("BITSTRING"), 0x0a},
        {QStringLiteral("WSTRING"), 0x0b},   {QStringLiteral("LREAL"), 0x11},
        {QStringLiteral("LINT"), 0x15},      {QStringLiteral("ULINT"), 0x1b},
        {QStringLiteral("BYTE"), 0x05},      {QStringLiteral("WORD"), 0x06},
        {QStringLiteral("DWORD"), 0x07},     {QStringLiteral("LWORD"), 0x1b},
        {QStringLiteral("CHAR"), 0x09}};
    return codes;
}

// The access words of CiA 311 parameters as object tables write them.
QString accessOfParameter(const QString &access)
{
    const QString a = access.trimmed();
    if (a.isEmpty() || a == QLatin1String("read"))
        return QStringLiteral("ro");
    if (a == QLatin1String("write"))
        return QStringLiteral("wo");
    if (a.startsWith(QLatin1String("readWrite")))
        return QStringLiteral("rw");
    if (a == QLatin1String("const"))
        return QStringLiteral("const");
    return a.toLower();
}

struct TypeRange
{
    const char *type;
    double low;
    double high;
};

// The value ranges of integer objects from 2000h on. The ends stay a little
// inside the types' own ranges, as the editors have always shown them.
const TypeRange TypeRanges[] = {
    {"unsigned8", 0, 255},
    {"integer8", -128, 127},
    {"unsigned16", 0, 65520},
    {"integer16", -32760, 32760},
    {"unsigned32", 0, 4294965000.0},
    {"integer32", -2147480000.0, 2147480000.0},
};

int signedWidth(const QString &type)
{
    if (type == QLatin1String("integer8"))
        return 8;
    if (type == QLatin1String("integer16"))
        return 16;
    if (type == QLatin1String("integer32"))
        return 32;
    return 0;
}

// A limit text as a single-precision number; 0 when absent or no number.
// Besides decimal texts, limits come as "0x…", "…h" or "0b…": for a signed
// type such a text is the type's bit pattern ("0x80" of an INTEGER8 is
// -128), as description files write negative limits.
float limitNumber(const QString &text, const QString &type)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return 0;
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (ok)
        return std::isfinite(d) ? float(d) : 0.0f;
    const quint32 u = ZorBabelFish::stringToULong(t, &ok);
    if (!ok)
        return 0;
    const int width = signedWidth(type);
    if (width) {
        const quint64 span = quint64(1) << width;
        if (u >= span / 2 && quint64(u) < span)
            return float(double(qint64(u) - qint64(span)));
    }
    return float(u);
}

QString formatNumber(double value)
{
    return QString::number(value, 'g', 6);
}

QDomElement firstChildByLocalName(const QDomElement &parent, const QString &name)
{
    for (QDomElement c = parent.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        if (DomTreeItem::localName(c) == name)
            return c;
    }
    return QDomElement();
}

// The "value" of the parameter's first child element of that name.
QString childValue(const QDomElement &parent, const QString &name)
{
    return firstChildByLocalName(parent, name).attribute(QStringLiteral("value")).trimmed();
}

}

ZorDeviceDictModel::ZorDeviceDictModel(QDomDocument doc, QObject *parent)
    : ZorDeviceDescModel(doc, true, parent)
{
    const QDomElement list = firstElementByLocalName(doc, QStringLiteral("parameterList"));
    for (QDomElement p = list.firstChildElement(); !p.isNull(); p = p.nextSiblingElement()) {
        if (DomTreeItem::localName(p) != QLatin1String("parameter"))
            continue;
        const QString id = p.attribute(QStringLiteral("uniqueID"));
        if (!m_parameters.contains(id))
            m_parameters.insert(id, p);
    }
    if (!m_parameters.isEmpty())
        takeTypesFromParameters();
}

QDomElement ZorDeviceDictModel::parameterOf(const QDomElement &object) const
{
    const QString ref = object.attribute(QStringLiteral("uniqueIDRef")).trimmed();
    if (ref.isEmpty())
        return QDomElement();
    return m_parameters.value(ref);
}

void ZorDeviceDictModel::takeTypesFromParameters()
{
    const QString dataTypeAttr = QStringLiteral("dataType");
    const QString accessAttr = QStringLiteral("accessType");
    const QHash<QString, quint16> &codes = simpleTypeCodes();
    auto take = [&](QDomElement e) {
        const bool hasType = e.hasAttribute(dataTypeAttr);
        const bool hasAccess = e.hasAttribute(accessAttr);
        if (hasType && hasAccess)
            return;
        const QDomElement p = parameterOf(e);
        if (p.isNull())
            return;
        // Arrays and records name a data type of the list instead; they get
        // neither type nor access, as in the attribute form.
        int code = -1;
        for (QDomElement c = p.firstChildElement(); !c.isNull() && code < 0;
             c = c.nextSiblingElement()) {
            const auto found = codes.constFind(DomTreeItem::localName(c));
            if (found != codes.constEnd())
                code = found.value();
        }
        if (!hasType && code >= 0)
            e.setAttribute(dataTypeAttr, QStringLiteral("0x%1").arg(code, 4, 16, QLatin1Char('0')));
        if (!hasAccess && (code >= 0 || p.hasAttribute(QStringLiteral("access"))))
            e.setAttribute(accessAttr, accessOfParameter(p.attribute(QStringLiteral("access"))));
    };
    const QDomElement list = listElement();
    for (QDomElement o = list.firstChildElement(); !o.isNull(); o = o.nextSiblingElement()) {
        const QString name = DomTreeItem::localName(o);
        if (name != ObjectName && name != SubObjectName)
            continue;
        take(o);
        for (QDomElement s = o.firstChildElement(); !s.isNull(); s = s.nextSiblingElement()) {
            if (DomTreeItem::localName(s) == SubObjectName)
                take(s);
        }
    }
}

int ZorDeviceDictModel::columnCount(const QModelIndex &) const
{
    return DictColumnCount;
}

QVariant ZorDeviceDictModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == SubNumberColumn) {
        if (role == Qt::DisplayRole)
            return tr("# SubObjs.");
        if (role == AttributeNameRole)
            return QStringLiteral("subNumber");
        return QVariant();
    }
    return ZorDeviceDescModel::headerData(section, orientation, role);
}

QVariant ZorDeviceDictModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    // The value cells show what the parameter list gives the object.
    if (index.column() == ValueColumn || index.column() == DefaultColumn)
        completeRow(index);
    return ZorDeviceDescModel::data(index, role);
}

void ZorDeviceDictModel::completeRow(const QModelIndex &index) const
{
    deriveDefaultUiFormat(index.sibling(index.row(), 0));
}

void ZorDeviceDictModel::resolveParameter(const QModelIndex &index) const
{
    QDomElement e = elementOf(index);
    if (e.isNull())
        return;
    const QDomElement p = parameterOf(e);
    if (p.isNull())
        return;
    for (const QString &attr : {QStringLiteral("actualValue"), QStringLiteral("defaultValue")}) {
        if (e.hasAttribute(attr))
            continue;
        const QString value = childValue(p, attr);
        if (!value.isEmpty())
            e.setAttribute(attr, value);
    }
    const QDomElement range = firstChildByLocalName(firstChildByLocalName(p, QStringLiteral("allowedValues")),
                                                    QStringLiteral("range"));
    if (range.isNull())
        return;
    const QString low = childValue(range, QStringLiteral("minValue"));
    const QString high = childValue(range, QStringLiteral("maxValue"));
    if (!e.hasAttribute(QStringLiteral("lowLimit")) && !low.isEmpty())
        e.setAttribute(QStringLiteral("lowLimit"), low);
    if (!e.hasAttribute(QStringLiteral("highLimit")) && !high.isEmpty())
        e.setAttribute(QStringLiteral("highLimit"), high);
}

void ZorDeviceDictModel::deriveDefaultUiFormat(const QModelIndex &index) const
{
    QDomElement e = elementOf(index);
    if (e.isNull() || e.hasAttribute(UiFormatAttr))
        return;
    resolveParameter(index);
    const QModelIndex row = index.sibling(index.row(), 0);
    const QString type = row.sibling(row.row(), DataTypeColumn).data().toString();
    int objectIndex = row.data(NumberRole).toInt();
    if (objectIndex == 0 && row.parent().isValid())
        objectIndex = row.parent().data(NumberRole).toInt();

    // The table's ends are exact; limits are read as single-precision
    // numbers, as the formats have always carried them.
    double low = 0;
    double high = 10;
    bool hasRange = false;
    if (objectIndex >= 0x2000) {
        for (const TypeRange &r : TypeRanges) {
            if (type == QLatin1String(r.type)) {
                low = r.low;
                high = r.high;
                hasRange = true;
                break;
            }
        }
    }
    const float lowLimit = limitNumber(e.attribute(QStringLiteral("lowLimit")), type);
    const float highLimit = limitNumber(e.attribute(QStringLiteral("highLimit")), type);
    if (highLimit > lowLimit) {
        low = double(lowLimit);
        high = double(highLimit);
    }
    const double span = high - low;
    const int step = span > 2147480000.0 ? 5000 : span > 32767.0 ? 20 : 1;

    const QString access = row.sibling(row.row(), AccessColumn).data().toString();
    const bool writable = access.isEmpty() || access.contains(QLatin1Char('w'));
    QString format;
    if (writable) {
        setFormatEntry(format, QStringLiteral("updates"),
                       access.contains(QLatin1String("wo")) ? QStringLiteral("w")
                                                            : QStringLiteral("r,w"));
        setFormatEntry(format, QStringLiteral("shape"),
                       hasRange ? QStringLiteral("dial") : QStringLiteral("text"));
    } else {
        setFormatEntry(format, QStringLiteral("updates"),
                       access.contains(QLatin1String("const")) ? QStringLiteral("r")
                                                               : QStringLiteral("r1000"));
        setFormatEntry(format, QStringLiteral("shape"),
                       hasRange ? QStringLiteral("slider") : QStringLiteral("label"));
    }
    if (hasRange) {
        setFormatEntry(format, QStringLiteral("range"),
                       formatNumber(low) + QLatin1Char(',') + formatNumber(high));
        setFormatEntry(format, QStringLiteral("step"), QString::number(step));
    }
    e.setAttribute(UiFormatAttr, format);
}

QMimeData *ZorDeviceDictModel::mimeData(const QModelIndexList &indexes) const
{
    for (const QModelIndex &row : collectRows(indexes)) {
        completeRow(row);
        const int children = rowCount(row);
        for (int c = 0; c < children; ++c)
            completeRow(index(c, 0, row));
    }
    return ZorDeviceDescModel::mimeData(indexes);
}

bool ZorDeviceDictModel::dropMimeData(const QMimeData *, Qt::DropAction action, int, int,
                                      const QModelIndex &)
{
    return action == Qt::CopyAction || action == Qt::MoveAction;
}

bool ZorDeviceDictModel::readDescriptionFile(const QString &path, QDomDocument &doc,
                                             QString *error)
{
    doc = QDomDocument();
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (path.trimmed().isEmpty())
        return fail(tr("No file given."));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray content = file.readAll();
    if (content.trimmed().isEmpty())
        return fail(tr("The file is empty."));

    const QString suffix = QFileInfo(path).suffix().toLower();
    QDomDocument read;
    if (suffix == QLatin1String("eds") || suffix == QLatin1String("dcf")) {
        QString reason;
        if (!ZorEdsReader::toObjectTable(content, read, &reason))
            return fail(reason);
    } else {
        QString reason;
        if (!readXml(content, read, &reason))
            return fail(reason);
        if (firstElementByLocalName(read, QStringLiteral("CANopenObjectList")).isNull())
            return fail(tr("The file holds no CANopen object list."));
    }
    doc = read;
    return true;
}
