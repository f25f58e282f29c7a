#include "zordevicedescmodel.h"

#include "domtreeitem.h"
#include "zorbabelfish.h"

#include <QMimeData>
#include <QTimer>
#include <QXmlStreamReader>
#include <algorithm>

namespace {

// Built once: every cell read looks its attribute name up.
const QString AttributeNames[ZorDeviceDescModel::BaseColumnCount] = {
    QStringLiteral("index"),      QStringLiteral("subIndex"),     QStringLiteral("nodeId"),
    QStringLiteral("name"),       QString(),                      QStringLiteral("actualValue"),
    QStringLiteral("defaultValue"), QStringLiteral("objectType"), QStringLiteral("dataType"),
    QStringLiteral("accessType")};

const char *const HeaderTexts[ZorDeviceDescModel::BaseColumnCount] = {
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "Index"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "SubIx"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "NodeId"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "Name"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "Data Object Id"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "Value / Editor"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "Default"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "ObjType"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "DataType"),
    QT_TRANSLATE_NOOP("ZorDeviceDescModel", "Access")};

const QString ListName = QStringLiteral("CANopenObjectList");
const QString ObjectName = QStringLiteral("CANopenObject");
const QString SubObjectName = QStringLiteral("CANopenSubObject");

// "name" or "prefix:name", compared in place: description files have tens
// of thousands of elements to pass on the way to their object list.
bool hasLocalName(const QDomNode &node, const QString &name)
{
    const QString tag = node.nodeName();
    if (!tag.endsWith(name))
        return false;
    const int rest = tag.size() - name.size();
    return rest == 0 || tag.at(rest - 1) == QLatin1Char(':');
}

}

QDomElement ZorDeviceDescModel::firstElementByLocalName(const QDomNode &root, const QString &name)
{
    // Depth-first in document order, without recursion.
    QDomNode node = root.firstChild();
    while (!node.isNull()) {
        if (node.isElement() && hasLocalName(node, name))
            return node.toElement();
        if (node.hasChildNodes()) {
            node = node.firstChild();
            continue;
        }
        while (!node.isNull() && node.nextSibling().isNull() && node != root)
            node = node.parentNode();
        if (node.isNull() || node == root)
            break;
        node = node.nextSibling();
    }
    return QDomElement();
}

namespace {

// The depth check walks the text once with its own reader before the
// document is built from a second one.
template <typename Text>
bool readXmlBounded(const Text &text, QDomDocument &doc, QString *error)
{
    doc = QDomDocument();
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    QXmlStreamReader scan(text);
    int depth = 0;
    while (!scan.atEnd()) {
        const QXmlStreamReader::TokenType token = scan.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > ZorDeviceDescModel::MaxXmlDepth)
            return fail(ZorDeviceDescModel::tr("The XML is nested more than %1 elements deep (line %2); "
                                               "it is not read.")
                            .arg(ZorDeviceDescModel::MaxXmlDepth)
                            .arg(scan.lineNumber()));
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    QString message;
    int line = 0;
    int column = 0;
    // The stream reader builds the document two to three times faster than
    // the SAX reader behind setContent(QByteArray); elements are matched by
    // local name, so namespaces are not processed either way.
    QXmlStreamReader reader(text);
    QDomDocument read;
    if (!read.setContent(&reader, false, &message, &line, &column))
        return fail(ZorDeviceDescModel::tr("Not well-formed XML: %1 (line %2, column %3).")
                        .arg(message)
                        .arg(line)
                        .arg(column));
    doc = read;
    return true;
}

// Index and subindex texts are hexadecimal whether marked or not.
quint32 hexNumber(const QString &text)
{
    QString t = text.trimmed().toLower();
    if (t.isEmpty())
        return 0;
    if (!t.startsWith(QLatin1String("0x")) && !t.endsWith(QLatin1Char('h')))
        t += QLatin1Char('h');
    return ZorBabelFish::stringToULong(t);
}

bool isObjectRow(const QDomNode &node)
{
    const QString name = DomTreeItem::localName(node);
    return name == ObjectName || name == SubObjectName;
}

}

bool ZorDeviceDescModel::readXml(const QByteArray &text, QDomDocument &doc, QString *error)
{
    return readXmlBounded(text, doc, error);
}

bool ZorDeviceDescModel::readXml(const QString &text, QDomDocument &doc, QString *error)
{
    return readXmlBounded(text, doc, error);
}

ZorDeviceDescModel::ZorDeviceDescModel(QDomDocument doc, bool nodeIdLocked, QObject *parent)
    : QAbstractItemModel(parent)
    , m_doc(doc)
    , m_nodeIdLocked(nodeIdLocked)
{
    m_list = firstElementByLocalName(m_doc, ListName);
    if (m_list.isNull()) {
        m_list = m_doc.createElement(ListName);
        m_doc.appendChild(m_list);
    }
    m_root = new DomTreeItem(m_list, 0, nullptr);
}

ZorDeviceDescModel::~ZorDeviceDescModel()
{
    delete m_root;
}

DomTreeItem *ZorDeviceDescModel::itemOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<DomTreeItem *>(index.internalPointer());
}

QDomElement ZorDeviceDescModel::elementOf(const QModelIndex &index) const
{
    DomTreeItem *item = itemOf(index);
    return item ? item->node().toElement() : QDomElement();
}

QModelIndex ZorDeviceDescModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column < 0 || column >= columnCount(parent))
        return QModelIndex();
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    DomTreeItem *parentItem = parent.isValid() ? itemOf(parent) : m_root;
    if (!parentItem)
        return QModelIndex();
    DomTreeItem *child = parentItem->objectChild(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex ZorDeviceDescModel::parent(const QModelIndex &index) const
{
    DomTreeItem *item = itemOf(index);
    if (!item || !item->parent() || item->parent() == m_root)
        return QModelIndex();
    DomTreeItem *parentItem = item->parent();
    return createIndex(parentItem->row(), 0, parentItem);
}

int ZorDeviceDescModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    DomTreeItem *item = parent.isValid() ? itemOf(parent) : m_root;
    return item ? item->objectChildCount() : 0;
}

int ZorDeviceDescModel::columnCount(const QModelIndex &) const
{
    return BaseColumnCount;
}

Qt::ItemFlags ZorDeviceDescModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (!(m_nodeIdLocked && index.column() == NodeIdColumn))
        f |= Qt::ItemIsEnabled;
    return f;
}

QString ZorDeviceDescModel::attributeName(int column) const
{
    return headerData(column, Qt::Horizontal, AttributeNameRole).toString();
}

QString ZorDeviceDescModel::withHexMarker(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
        || t.endsWith(QLatin1Char('h'), Qt::CaseInsensitive))
        return t;
    return t + QLatin1Char('h');
}

quint32 ZorDeviceDescModel::typeCode(const QString &text, bool *ok)
{
    // Written as hexBinary: "7", "0007", "10" (INTEGER24), "1B", "0x001B".
    QString t = text.trimmed();
    if (!t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && !t.endsWith(QLatin1Char('h'), Qt::CaseInsensitive))
        t.prepend(QLatin1String("0x"));
    return ZorBabelFish::stringToULong(t, ok);
}

QString ZorDeviceDescModel::cellText(const QModelIndex &index) const
{
    DomTreeItem *item = itemOf(index);
    if (!item)
        return QString();
    const QString text = item->node().toElement().attribute(attributeName(index.column())).trimmed();
    if (index.column() == IndexColumn && text.isEmpty() && item->parent() != m_root)
        return withHexMarker(cellText(parent(index)));
    return text;
}

quint32 ZorDeviceDescModel::nodeNumberOf(const QModelIndex &index) const
{
    const QString text = m_nodeIdLocked ? m_lockedNodeId
                                        : elementOf(index).attribute(QStringLiteral("nodeId"));
    return quint32(ZorBabelFish::stringToLong(text));
}

QString ZorDeviceDescModel::dataObjectIdOf(const QModelIndex &index) const
{
    const int row = index.row();
    const QModelIndex parentIndex = index.parent();
    const quint32 node = nodeNumberOf(index);
    const quint16 objectIndex = quint16(hexNumber(cellText(this->index(row, IndexColumn, parentIndex))));
    const quint8 sub = quint8(hexNumber(cellText(this->index(row, SubIndexColumn, parentIndex))));
    return ZorBabelFish::dataObjectId(node, objectIndex, sub);
}

QVariant ZorDeviceDescModel::numberOf(const QModelIndex &index, const QString &text) const
{
    switch (index.column()) {
    case IndexColumn:
        return int(quint16(hexNumber(text)));
    case SubIndexColumn:
        return int(quint8(hexNumber(text)));
    case NodeIdColumn:
        if (m_nodeIdLocked)
            return m_lockedNodeId;
        return ZorBabelFish::stringToLong(text);
    default:
        return 0;
    }
}

QVariant ZorDeviceDescModel::data(const QModelIndex &index, int role) const
{
    const QDomElement e = elementOf(index);
    if (e.isNull() || !e.hasAttributes())
        return QVariant();
    const int column = index.column();
    const bool text = role == Qt::DisplayRole || role == Qt::EditRole;
    if (m_nodeIdLocked && column == NodeIdColumn && text)
        return m_lockedNodeId.isEmpty() ? QVariant() : QVariant(m_lockedNodeId);
    if (role == DataObjectIdRole)
        return dataObjectIdOf(index);
    if (column == DataObjectIdColumn)
        return text ? QVariant(dataObjectIdOf(index)) : QVariant();

    const QString raw = cellText(index);
    if (text) {
        QString shown;
        bool ok = false;
        switch (column) {
        case AccessColumn:
            shown = raw.toLower();
            break;
        case DataTypeColumn: {
            const quint32 code = typeCode(raw, &ok);
            shown = ok ? ZorBabelFish::dataTypeName(QString::number(code)).toLower() : QString();
            break;
        }
        case ObjectTypeColumn: {
            const quint32 code = typeCode(raw, &ok);
            shown = ok ? ZorBabelFish::objectCodeName(QString::number(code)).toLower() : QString();
            break;
        }
        case IndexColumn:
        case SubIndexColumn:
            shown = withHexMarker(raw);
            break;
        default:
            shown = raw;
        }
        return shown.isEmpty() ? QVariant() : QVariant(shown);
    }
    if (role == NumberRole)
        return numberOf(index, raw);
    return QVariant();
}

QVariant ZorDeviceDescModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= BaseColumnCount)
        return QVariant();
    if (role == Qt::DisplayRole)
        return tr(HeaderTexts[section]);
    if (role == AttributeNameRole)
        return AttributeNames[section];
    return QVariant();
}

QStringList ZorDeviceDescModel::mimeTypes() const
{
    return {QStringLiteral("text/plain")};
}

Qt::DropActions ZorDeviceDescModel::supportedDropActions() const
{
    return Qt::CopyAction;
}

QModelIndexList ZorDeviceDescModel::collectRows(const QModelIndexList &indexes) const
{
    QModelIndexList rows;
    if (indexes.isEmpty()) {
        const int n = rowCount();
        rows.reserve(n);
        for (int r = 0; r < n; ++r)
            rows << index(r, 0);
        return rows;
    }
    // Keyed by the row's item, that is by parent and row together.
    QVector<QPair<QVector<int>, DomTreeItem *>> keyed;
    QSet<DomTreeItem *> seen;
    for (const QModelIndex &i : indexes) {
        DomTreeItem *item = itemOf(i);
        if (!item || seen.contains(item))
            continue;
        seen.insert(item);
        QVector<int> path;
        for (DomTreeItem *p = item; p && p != m_root; p = p->parent())
            path.prepend(p->row());
        keyed.append({path, item});
    }
    std::sort(keyed.begin(), keyed.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &k : keyed)
        rows << createIndex(k.second->row(), 0, k.second);
    return rows;
}

QDomElement ZorDeviceDescModel::exportElement(QDomDocument &target, const QDomElement &element,
                                              const QDomElement &parentObject,
                                              QSet<QString> &seen) const
{
    if (!isObjectRow(element) || typeCode(element.attribute(QStringLiteral("objectType"))) != 7)
        return QDomElement();
    QString indexText = element.attribute(QStringLiteral("index")).trimmed();
    if (indexText.isEmpty() && !parentObject.isNull())
        indexText = parentObject.attribute(QStringLiteral("index")).trimmed();
    const QString node = m_nodeIdLocked ? QString()
                                        : element.attribute(QStringLiteral("nodeId")).trimmed();
    const QString place = QStringLiteral("%1.%2")
                              .arg(hexNumber(indexText))
                              .arg(hexNumber(element.attribute(QStringLiteral("subIndex"))) & 0xff);
    // The same object is already exported: the same place, and the same
    // node unless the compared node is empty (then any node).
    const QString placeAndNode = place + QLatin1Char('|') + node;
    if (seen.contains(placeAndNode) || (node.isEmpty() && seen.contains(place)))
        return QDomElement();
    seen.insert(placeAndNode);
    seen.insert(place);

    QDomElement copy = target.importNode(element, true).toElement();
    if (copy.attribute(QStringLiteral("index")).trimmed().isEmpty() && !indexText.isEmpty())
        copy.setAttribute(QStringLiteral("index"), indexText);
    if (m_nodeIdLocked)
        copy.setAttribute(QStringLiteral("nodeId"), m_lockedNodeId);
    // "0 (Scan)" is the wildcard node 0, and stays 0 in the copy.
    if (copy.attribute(QStringLiteral("nodeId")).trimmed().compare(QLatin1String("0 (scan)"),
                                                                  Qt::CaseInsensitive) == 0)
        copy.setAttribute(QStringLiteral("nodeId"), QStringLiteral("0"));
    prepareExportElement(copy);
    return copy;
}

QMimeData *ZorDeviceDescModel::mimeData(const QModelIndexList &indexes) const
{
    QDomDocument out;
    QSet<QString> seen;
    // Each copy with its place: index, then subindex, as numbers (2h before
    // 10h whatever the notation).
    QVector<QPair<QPair<quint32, quint32>, QDomElement>> copies;
    auto take = [&](const QDomElement &element, const QDomElement &parentObject) {
        const QDomElement copy = exportElement(out, element, parentObject, seen);
        if (!copy.isNull())
            copies.append({{hexNumber(copy.attribute(QStringLiteral("index"))) & 0xffff,
                            hexNumber(copy.attribute(QStringLiteral("subIndex"))) & 0xff},
                           copy});
    };
    for (const QModelIndex &row : collectRows(indexes)) {
        DomTreeItem *item = itemOf(row);
        const QDomElement element = item->node().toElement();
        take(element, item->parent() != m_root ? item->parent()->node().toElement()
                                               : QDomElement());
        for (QDomElement child = element.firstChildElement(); !child.isNull();
             child = child.nextSiblingElement()) {
            if (DomTreeItem::localName(child) == SubObjectName)
                take(child, element);
        }
    }
    if (copies.isEmpty())
        return nullptr;
    std::stable_sort(copies.begin(), copies.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QDomElement list = out.createElement(ListName);
    out.appendChild(list);
    for (const auto &c : copies)
        list.appendChild(c.second);

    auto *mime = new QMimeData;
    mime->setText(out.toString(1));
    return mime;
}

QMimeData *ZorDeviceDescModel::allObjectsMimeData() const
{
    return mimeData(QModelIndexList());
}

bool ZorDeviceDescModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int, int,
                                      const QModelIndex &)
{
    if (action != Qt::CopyAction && action != Qt::MoveAction)
        return false;
    if (!data || !data->hasText() || data->text().isEmpty())
        return false;
    QDomDocument doc;
    if (!readXml(data->text(), doc))
        return false;
    ZorDeviceDescModel incoming(doc, m_nodeIdLocked);
    if (m_nodeIdLocked)
        incoming.setLockedNodeId(m_lockedNodeId);

    bool ok = true;
    QStringList ids; // data-object ids of our top-level rows, in row order
    for (int r = 0; r < rowCount(); ++r)
        ids << index(r, 0).data(DataObjectIdRole).toString();

    for (int r = 0; r < incoming.rowCount(); ++r) {
        const QModelIndex in = incoming.index(r, 0);
        const QString id = in.data(DataObjectIdRole).toString();
        const QDomElement source = incoming.elementOf(in);
        const QDomNamedNodeMap attributes = source.attributes();
        const QModelIndex found = findDataObject(id);
        if (found.isValid()) {
            QDomElement target = elementOf(found);
            if (target.isNull()) {
                ok = false;
                continue;
            }
            for (int a = 0; a < attributes.count(); ++a) {
                const QDomAttr attr = attributes.item(a).toAttr();
                target.setAttribute(attr.name(), attr.value());
            }
            m_pendingRows << QPersistentModelIndex(found);
            invalidateLookup();
            if (!found.parent().isValid())
                ids[found.row()] = found.data(DataObjectIdRole).toString();
            continue;
        }
        int pos = 0;
        while (pos < ids.size() && ids.at(pos) < id)
            ++pos;
        beginInsertRows(QModelIndex(), pos, pos);
        const bool inserted = m_root->insertObjectChild(pos);
        if (inserted) {
            QDomElement target = m_root->objectChild(pos)->node().toElement();
            target.setTagName(source.tagName());
            for (int a = 0; a < attributes.count(); ++a) {
                const QDomAttr attr = attributes.item(a).toAttr();
                target.setAttribute(attr.name(), attr.value());
            }
        }
        invalidateLookup();
        endInsertRows();
        if (!inserted) {
            ok = false;
            continue;
        }
        ids.insert(pos, index(pos, 0).data(DataObjectIdRole).toString());
    }
    if (!m_pendingRows.isEmpty())
        QTimer::singleShot(1, this, &ZorDeviceDescModel::delayedDataChangedSignal);
    return ok;
}

void ZorDeviceDescModel::delayedDataChangedSignal()
{
    const QVector<QPersistentModelIndex> rows = m_pendingRows;
    m_pendingRows.clear();
    const int last = columnCount() - 1;
    for (const QPersistentModelIndex &row : rows) {
        if (row.isValid())
            emit dataChanged(row.sibling(row.row(), 0), row.sibling(row.row(), last));
    }
}

bool ZorDeviceDescModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || count <= 0 || row < 0 || row > rowCount())
        return false;
    for (int i = 0; i < count; ++i) {
        beginInsertRows(QModelIndex(), row + i, row + i);
        const bool inserted = m_root->insertObjectChild(row + i);
        invalidateLookup();
        endInsertRows();
        if (!inserted)
            return false;
    }
    return true;
}

bool ZorDeviceDescModel::removeRows(int row, int count, const QModelIndex &parent)
{
    const int n = rowCount();
    if (parent.isValid() || count <= 0 || row < 0 || row >= n)
        return false;
    const int last = std::min(row + count, n) - 1;
    beginRemoveRows(QModelIndex(), row, last);
    for (int i = row; i <= last; ++i)
        m_root->removeChild(row);
    invalidateLookup();
    endRemoveRows();
    return true;
}

bool ZorDeviceDescModel::removeRow(int row, const QModelIndex &parent)
{
    return removeRows(row, 1, parent);
}

bool ZorDeviceDescModel::removeRows(const QModelIndexList &rows)
{
    if (rows.isEmpty())
        return false;
    const QModelIndexList collected = collectRows(rows);
    // Persistent, so that nothing depends on the order in which rows go.
    QVector<QPersistentModelIndex> targets;
    for (const QModelIndex &r : collected)
        targets.prepend(r);
    bool any = false;
    for (const QPersistentModelIndex &t : targets) {
        if (t.isValid() && removeRow(t.row(), t.parent()))
            any = true;
    }
    return any;
}

bool ZorDeviceDescModel::insertRow(int row, const QModelIndex &parent)
{
    return insertRows(row, 1, parent);
}

void ZorDeviceDescModel::prepareExportElement(QDomElement &) const
{
}

QModelIndex ZorDeviceDescModel::findObject(const QString &nodeText, const QString &indexText,
                                           const QString &subText) const
{
    const quint32 node = ZorBabelFish::stringToUShort(nodeText);
    const quint16 objectIndex = ZorBabelFish::stringToUShort(indexText);
    const quint8 sub = quint8(ZorBabelFish::stringToUShort(subText));
    if (!m_lookupValid)
        rebuildLookup();
    const auto it = m_lookup.constFind(objectIndex);
    if (it == m_lookup.constEnd())
        return QModelIndex();
    for (const LookupEntry &entry : it.value()) {
        if (entry.node != 0 && node != 0 && entry.node != node)
            continue;
        if (entry.sub == sub)
            return index(entry.row, 0);
        if (!entry.hasChildren)
            continue;
        // Among the sub-objects only the subindex counts; the first hit or
        // nothing decides.
        const QModelIndex object = index(entry.row, 0);
        const int n = rowCount(object);
        for (int c = 0; c < n; ++c) {
            const QModelIndex child = index(c, SubIndexColumn, object);
            if (quint8(hexNumber(cellText(child))) == sub)
                return child.sibling(c, 0);
        }
        return QModelIndex();
    }
    return QModelIndex();
}

void ZorDeviceDescModel::rebuildLookup() const
{
    m_lookup.clear();
    const int n = rowCount();
    for (int r = 0; r < n; ++r) {
        const QModelIndex row = index(r, 0);
        const QDomElement e = elementOf(row);
        LookupEntry entry;
        entry.row = r;
        entry.node = e.hasAttributes() ? nodeNumberOf(row) : 0;
        entry.sub = quint8(hexNumber(e.attribute(QStringLiteral("subIndex"))));
        entry.hasChildren = rowCount(row) > 0;
        m_lookup[quint16(hexNumber(e.attribute(QStringLiteral("index"))))].append(entry);
    }
    m_lookupValid = true;
}

QModelIndex ZorDeviceDescModel::findDataObject(const QString &idText) const
{
    quint32 node = 0;
    quint16 objectIndex = 0;
    quint8 sub = 0;
    if (idText.isEmpty() || !ZorBabelFish::fromDataObjectId(idText, node, objectIndex, sub))
        return QModelIndex();
    return findObject(QString::number(node), QString::number(objectIndex), QString::number(sub));
}

QString ZorDeviceDescModel::toXml() const
{
    return m_doc.toString(1);
}

void ZorDeviceDescModel::setLockedNodeId(const QString &nodeId)
{
    if (!m_nodeIdLocked || nodeId.trimmed() == m_lockedNodeId)
        return;
    beginResetModel();
    m_lockedNodeId = nodeId.trimmed();
    invalidateLookup();
    endResetModel();
}

namespace {

QStringList formatParts(const QString &format)
{
    return format.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

}

QString ZorDeviceDescModel::formatEntry(const QString &format, const QString &key)
{
    QString value;
    for (const QString &part : formatParts(format)) {
        const int colon = part.indexOf(QLatin1Char(':'));
        const QString k = (colon < 0 ? part : part.left(colon)).trimmed();
        if (k.compare(key.trimmed(), Qt::CaseInsensitive) == 0)
            value = colon < 0 ? QString() : part.mid(colon + 1).trimmed();
    }
    return value;
}

void ZorDeviceDescModel::setFormatEntry(QString &format, const QString &key, const QString &value)
{
    QStringList parts;
    bool replaced = false;
    const QString entry = key + QLatin1Char(':') + value;
    for (const QString &part : formatParts(format)) {
        const int colon = part.indexOf(QLatin1Char(':'));
        const QString k = (colon < 0 ? part : part.left(colon)).trimmed();
        if (k.compare(key.trimmed(), Qt::CaseInsensitive) == 0) {
            parts << entry;
            replaced = true;
        } else if (!part.trimmed().isEmpty()) {
            parts << part.trimmed();
        }
    }
    if (!replaced)
        parts << entry;
    format = parts.join(QStringLiteral("; "));
}
