#include "zordaqobject.h"

#include "zorbabelfish.h"

#include <QStringList>

namespace {

const char *const MethodNames[] = {"Off", "Software", "TPDO", "RPDO", "Hardware"};

// A field of the line: its fields are not quoted, so a comma (an object
// name such as "Velocity, actual") would shift every field after it, and a
// line break would split the entry.
QString lineField(QString text)
{
    text.replace(QLatin1Char(','), QLatin1Char(';'));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

int decimalOrZero(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

} // namespace

ZorDaqObject::ZorDaqObject() = default;

ZorDaqObject::ZorDaqObject(const QString &line)
{
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() < 5)
        return;
    setDataObjectId(fields.at(0));
    setName(fields.at(1));
    setDataType(fields.at(2));
    setMonitorMethod(fields.at(3));
    setInterval(decimalOrZero(fields.at(4)));
    if (fields.size() > 5) {
        m_hasFlag = true;
        m_flag = decimalOrZero(fields.at(5)) == 1;
    }
}

QString ZorDaqObject::toString() const
{
    QString line = QStringList({m_dataObjectId, m_name, m_dataType, m_methodText,
                                QString::number(m_intervalMs)})
                       .join(QLatin1Char(','));
    if (m_hasFlag)
        line += m_flag ? QLatin1String(",1") : QLatin1String(",0");
    return line;
}

void ZorDaqObject::setDataObjectId(const QString &id)
{
    m_dataObjectId = lineField(id);
    quint32 node = 0;
    quint16 index = 0;
    quint8 sub = 0;
    m_idValid = ZorBabelFish::fromDataObjectId(id, node, index, sub);
    m_nodeId = int(node);
    m_index = index;
    m_subIndex = sub;
}

void ZorDaqObject::setName(const QString &name)
{
    m_name = lineField(name);
}

void ZorDaqObject::setDataType(const QString &type)
{
    m_dataType = lineField(type);
    m_isUnsigned = type.contains(QLatin1String("unsigned"));
    if (type == QLatin1String("unsigned32") || type == QLatin1String("integer32"))
        m_typeSize = 4;
    else if (type == QLatin1String("unsigned16") || type == QLatin1String("integer16"))
        m_typeSize = 2;
    else if (type == QLatin1String("unsigned8") || type == QLatin1String("integer8"))
        m_typeSize = 1;
    else
        m_typeSize = 0;
}

void ZorDaqObject::setInterval(int ms)
{
    m_intervalMs = qBound(50, ms, 60000);
}

void ZorDaqObject::setMonitorMethod(const QString &text)
{
    m_method = methodFromText(text);
    m_methodText = methodName(m_method);
    m_pdoNumber = 1;
    m_pdoByteOffset = 0;
    m_pdoByteLength = 0;
    if (m_method != Tpdo && m_method != Rpdo)
        return;
    const QStringList parts = text.trimmed().mid(m_methodText.size()).split(QLatin1Char('.'));
    bool ok = false;
    int number = parts.value(0).toInt(&ok);
    m_pdoNumber = ok && number >= 1 && number <= 4 ? number : 1;
    int offset = parts.value(1).toInt(&ok);
    m_pdoByteOffset = ok && offset >= 0 && offset <= 7 ? offset : 0;
    int length = parts.value(2).toInt(&ok);
    if (!ok || length == 0)
        length = m_typeSize;
    if (length == 3)
        length = 4;
    if (length < 1 || length > 4 || m_pdoByteOffset + length > 8)
        length = 1;
    m_pdoByteLength = length;
    m_methodText += QStringLiteral("%1.%2.%3").arg(m_pdoNumber).arg(m_pdoByteOffset).arg(m_pdoByteLength);
}

QString ZorDaqObject::methodName(int method)
{
    if (method < 0 || method > Hardware)
        method = Software;
    return QLatin1String(MethodNames[method]);
}

int ZorDaqObject::methodFromText(const QString &text)
{
    const QString t = text.trimmed();
    const auto starts = [&t](const char *name) { return t.startsWith(QLatin1String(name), Qt::CaseInsensitive); };
    if (starts("Off"))
        return Off;
    if (starts("Software"))
        return Software;
    if (starts("Hardware"))
        return Hardware;
    if (starts("TPDO"))
        return Tpdo;
    if (starts("RPDO"))
        return Rpdo;
    return Software;
}

QHash<QString, ZorDaqObject> ZorDaqObject::listFromText(const QString &text)
{
    QHash<QString, ZorDaqObject> list;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const ZorDaqObject entry(line);
        list.insert(entry.dataObjectId(), entry);
    }
    return list;
}

QString ZorDaqObject::listToText(const QHash<QString, ZorDaqObject> &list)
{
    QString text;
    for (const ZorDaqObject &entry : list)
        text += entry.toString() + QLatin1Char('\n');
    return text;
}
