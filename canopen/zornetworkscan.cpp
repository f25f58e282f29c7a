#include "zornetworkscan.h"

#include "zorbabelfish.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

const int LinesPerNode = 6;
const int FixedBudgetMs = 10000;

// The objects of the identity interview, in the order of its lines.
struct IdentityObject
{
    const char *index;
    int sub;
    const char *type;
};
const IdentityObject IdentityObjects[LinesPerNode] = {
    {"1018h", 1, "unsigned32"}, {"1018h", 2, "unsigned32"},     {"1018h", 3, "unsigned32"},
    {"1018h", 4, "unsigned32"}, {"1008h", 0, "visible_string"}, {"100Ah", 0, "visible_string"}};

// The value of a completed read line ("node,index,sub,type,value" after the
// request), or a null string when the read failed: an SDO abort answers
// "error code 06020000h" in place of the value, a time-out nothing at all.
QString readValue(const QString &answer)
{
    if (answer.count(QLatin1Char(',')) < 4)
        return QString();
    const QString value = answer.section(QLatin1Char(','), 4);
    static const QRegularExpression abort(QStringLiteral("^error code [0-9a-fA-F]{8}h$"));
    if (abort.match(value.trimmed()).hasMatch())
        return QString();
    return value.isNull() ? QStringLiteral("") : value;
}

QString hex4(bool has, quint32 value)
{
    return has ? QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')) : QStringLiteral("-");
}

QString decimal(bool has, quint32 value)
{
    return has ? QString::number(value) : QStringLiteral("-");
}

} // namespace

QList<int> ZorNetworkScan::validNodeIds(const QString &idsText)
{
    QList<int> nodes;
    for (const QString &part : idsText.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int node = part.trimmed().toInt(&ok);
        if (ok && node >= 1 && node <= 127)
            nodes << node;
    }
    return nodes;
}

QString ZorNetworkScan::scanAnswerIds(const QString &answer)
{
    return answer.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(':'), -1).trimmed();
}

QString ZorNetworkScan::identityInterview(const QList<int> &nodes)
{
    if (nodes.isEmpty())
        return QString();
    QString text = QStringLiteral("OnErrorContinue\n");
    for (int node : nodes) {
        for (const IdentityObject &o : IdentityObjects) {
            text += QStringLiteral("SDOReadObject:1000:2:%1,%2,%3,%4\n")
                        .arg(node)
                        .arg(QLatin1String(o.index))
                        .arg(o.sub)
                        .arg(QLatin1String(o.type));
        }
    }
    return text;
}

int ZorNetworkScan::identityBudgetMs(int nodeCount, int perLineMs)
{
    return FixedBudgetMs + nodeCount * LinesPerNode * perLineMs;
}

QList<ZorNetworkScan::Identity> ZorNetworkScan::identities(const QString &answer)
{
    QList<Identity> found;
    QMap<int, int> position;   // node -> its entry in found
    for (const QString &line : answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.section(QLatin1Char(':'), 0, 0) != QLatin1String("SDOReadObject"))
            continue;
        // kind:time-out:count:request:answer, the answer taken whole.
        const QString request = line.section(QLatin1Char(':'), 3, 3);
        const QString answerPart = line.section(QLatin1Char(':'), 4);
        bool ok = false;
        const int node = request.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
        if (!ok)
            continue;
        const quint32 index = ZorBabelFish::stringToULong(request.section(QLatin1Char(','), 1, 1).trimmed());
        const quint32 sub = ZorBabelFish::stringToULong(request.section(QLatin1Char(','), 2, 2).trimmed());
        if (!position.contains(node)) {
            position.insert(node, found.size());
            Identity fresh;
            fresh.node = node;
            found << fresh;
        }
        Identity &id = found[position.value(node)];
        const QString value = readValue(answerPart);
        if (value.isNull())
            continue;
        if (index == 0x1008) {
            id.hasName = true;
            id.name = value;
        } else if (index == 0x100A) {
            id.hasSoftware = true;
            id.software = value;
        } else if (index == 0x1018) {
            bool isNumber = false;
            const quint32 number = value.trimmed().toUInt(&isNumber);
            if (!isNumber)
                continue;
            switch (sub) {
            case 1: id.hasVendor = true; id.vendor = number; break;
            case 2: id.hasProduct = true; id.product = number; break;
            case 3: id.hasRevision = true; id.revision = number; break;
            case 4: id.hasSerial = true; id.serial = number; break;
            default: break;
            }
        }
    }
    return found;
}

QString ZorNetworkScan::identityText(const Identity &id)
{
    return QStringLiteral("Node %1: %6, SwVer %7, VendorID %2, ProdId %3, RevNo %4, SerNo %5")
        .arg(id.node)
        .arg(hex4(id.hasVendor, id.vendor), hex4(id.hasProduct, id.product),
             decimal(id.hasRevision, id.revision), decimal(id.hasSerial, id.serial),
             id.hasName ? id.name : QStringLiteral("-"), id.hasSoftware ? id.software : QStringLiteral("-"));
}

QMap<QString, QString> ZorNetworkScan::projectTypes(const QString &text)
{
    QMap<QString, QString> types;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = part.section(QLatin1Char(':'), 0, 0).trimmed();
        // An empty key would be found in every device name.
        if (key.isEmpty())
            continue;
        types.insert(key, part.section(QLatin1Char(':'), 1, 1).trimmed());
    }
    return types;
}

QString ZorNetworkScan::moduleTypeFor(const QMap<QString, QString> &types, const Identity &identity)
{
    for (auto it = types.constBegin(); it != types.constEnd(); ++it) {
        bool isNumber = false;
        const quint32 key = ZorBabelFish::stringToULong(it.key(), &isNumber);
        if (identity.hasVendor && identity.vendor > 1 && isNumber && identity.vendor == key)
            return it.value();
        if (identity.hasName && identity.name.contains(it.key(), Qt::CaseInsensitive))
            return it.value();
    }
    return types.value(QStringLiteral("default"));
}

QList<QPair<int, QString>> ZorNetworkScan::configurableIds(const QString &text)
{
    QList<QPair<int, QString>> entries;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const quint32 id = ZorBabelFish::stringToULong(part.section(QLatin1Char(':'), 0, 0).trimmed(), &ok);
        if (!ok || id < 1 || id > 127)
            continue;
        QString type = part.section(QLatin1Char(':'), 1, 1).trimmed();
        if (type.isEmpty())
            type = QStringLiteral("nodeconfig");
        entries << qMakePair(int(id), type);
    }
    return entries;
}
