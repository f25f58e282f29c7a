#include "zorobjeditmodel.h"

#include "valuescaling.h"
#include "zorbabelfish.h"

#include <QBrush>
#include <QIcon>
#include <QTime>
#include <QtEndian>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initModelIconResources()
{
    Q_INIT_RESOURCE(zormodelicons);
}

namespace {

const QString EditAttributes[] = {QStringLiteral("zorStatusTxt"), QStringLiteral("zorUiFormat"),
                                  QStringLiteral("zorComment"), QStringLiteral("zorScaling")};
const char *const EditHeaders[] = {
    QT_TRANSLATE_NOOP("ZorObjEditModel", "Status"),
    QT_TRANSLATE_NOOP("ZorObjEditModel", "UI Format"),
    QT_TRANSLATE_NOOP("ZorObjEditModel", "Edit Comment"),
    QT_TRANSLATE_NOOP("ZorObjEditModel", "Scaling")};

const QString StatusAttr = QStringLiteral("zorStatus");
const QString StatusTextAttr = QStringLiteral("zorStatusTxt");

// "hh:mm:ss " of now; taken once per request or answer (reading the local
// time costs a look at the time zone).
QString timeStamp()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(' ');
}

bool isWritableText(const QString &access)
{
    return access.isEmpty() || access.contains(QLatin1Char('w'));
}

// Width and signedness of the integer type names of object lists.
struct IntegerType
{
    int bits = 0; // 0: not an integer type
    bool isSigned = false;
};

IntegerType integerType(const QString &typeName)
{
    static const QHash<QString, IntegerType> types = {
        {QStringLiteral("unsigned8"), {8, false}},  {QStringLiteral("integer8"), {8, true}},
        {QStringLiteral("unsigned16"), {16, false}}, {QStringLiteral("integer16"), {16, true}},
        {QStringLiteral("unsigned32"), {32, false}}, {QStringLiteral("integer32"), {32, true}}};
    return types.value(typeName);
}

enum class ValueProblem { None, NotANumber, OutOfRange };

// The value of a typed text as its type holds it. Hexadecimal and binary
// texts are bit patterns that must fit the width (0x80 is -128 for an
// INTEGER8); decimal texts must lie in the type's range.
ValueProblem readTypedValue(const QString &text, IntegerType type, qint64 &value)
{
    const QString t = text.trimmed();
    const bool pattern = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
        || t.endsWith(QLatin1Char('h'), Qt::CaseInsensitive)
        || t.startsWith(QLatin1String("0b"), Qt::CaseInsensitive);
    const quint64 widthMask = type.bits == 32 ? 0xffffffffULL : ((1ULL << type.bits) - 1);
    if (pattern) {
        bool ok = false;
        const quint64 u = ZorBabelFish::stringToULong(t, &ok);
        if (!ok)
            return ValueProblem::NotANumber;
        if (u > widthMask)
            return ValueProblem::OutOfRange;
        const quint64 signBit = 1ULL << (type.bits - 1);
        value = type.isSigned && (u & signBit) ? qint64(u) - qint64(widthMask) - 1 : qint64(u);
        return ValueProblem::None;
    }
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    if (!ok)
        return ValueProblem::NotANumber;
    const qint64 low = type.isSigned ? -(qint64(1) << (type.bits - 1)) : 0;
    const qint64 high = type.isSigned ? (qint64(1) << (type.bits - 1)) - 1 : qint64(widthMask);
    if (v < low || v > high)
        return ValueProblem::OutOfRange;
    value = v;
    return ValueProblem::None;
}

QString csvField(const QString &field)
{
    if (!field.contains(QLatin1Char(';')) && !field.contains(QLatin1Char('"'))
        && !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

template<typename T>
void appendLittleEndian(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, int(sizeof(T)));
}

}

ZorObjEditModel::ZorObjEditModel(QDomDocument doc, bool nodeIdLocked, QObject *parent)
    : ZorDeviceDescModel(doc, nodeIdLocked, parent)
    , m_pendingRequest(KM_UNDEFINED, KS_INFO)
{
    static std::once_flag once;
    std::call_once(once, initModelIconResources);
    // Owners hand requests and answers across threads by queued connections.
    ZorMessage::registerMetaType();
    m_writeTimer.setSingleShot(true);
    m_readTimer.setSingleShot(true);
    m_requestTimer.setSingleShot(true);
    connect(&m_writeTimer, &QTimer::timeout, this, &ZorObjEditModel::processPendingReadWriteRequest);
    connect(&m_readTimer, &QTimer::timeout, this, &ZorObjEditModel::processPendingReadWriteRequest);
    connect(&m_requestTimer, &QTimer::timeout, this, &ZorObjEditModel::requestTimedOut);
    // A new locked node id changes every data-object id: the cyclic reads
    // start over under the new ids.
    connect(this, &QAbstractItemModel::modelReset, this, [this] {
        if (!m_running)
            return;
        stopObjectUpdate();
        initObjectUpdate();
    });
}

ZorObjEditModel::~ZorObjEditModel()
{
    stopObjectUpdate();
    qDeleteAll(m_scalings);
    m_scalings.clear();
}

int ZorObjEditModel::columnCount(const QModelIndex &) const
{
    return EditColumnCount;
}

QVariant ZorObjEditModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole ? QVariant(QString::number(section + 1))
                                       : ZorDeviceDescModel::headerData(section, orientation, role);
    if (section >= StatusColumn && section < EditColumnCount) {
        if (role == Qt::DisplayRole)
            return tr(EditHeaders[section - StatusColumn]);
        if (role == AttributeNameRole)
            return EditAttributes[section - StatusColumn];
        return QVariant();
    }
    return ZorDeviceDescModel::headerData(section, orientation, role);
}

QString ZorObjEditModel::cellDisplay(const QModelIndex &row, int column) const
{
    return data(row.sibling(row.row(), column), Qt::DisplayRole).toString();
}

QString ZorObjEditModel::cellRaw(const QModelIndex &row, int column) const
{
    return data(row.sibling(row.row(), column), RawValueRole).toString();
}

bool ZorObjEditModel::isWritableAccess(const QModelIndex &row) const
{
    return isWritableText(ZorDeviceDescModel::data(row.sibling(row.row(), AccessColumn)).toString());
}

const ValueScaling *ZorObjEditModel::scalingFor(const QModelIndex &index) const
{
    if (!index.isValid())
        return nullptr;
    const QString text =
        ZorDeviceDescModel::data(index.sibling(index.row(), ScalingColumn)).toString();
    if (text.isEmpty())
        return nullptr;
    ValueScaling *&scaling = m_scalings[text];
    if (!scaling)
        scaling = new ValueScaling(text);
    return scaling;
}

QVariant ZorObjEditModel::data(const QModelIndex &index, int role) const
{
    const QDomElement e = elementOf(index);
    if (e.isNull() || !e.hasAttributes())
        return QVariant();
    const int column = index.column();
    const bool valueCell = column == ValueColumn || column == DefaultColumn;

    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case RawValueRole: {
        const QVariant base = ZorDeviceDescModel::data(index, Qt::DisplayRole);
        if (column == SubIndexColumn && base.toString().isEmpty())
            return QStringLiteral("0h");
        if (!valueCell || role == RawValueRole)
            return base;
        bool isNumber = false;
        const double raw = base.toString().toDouble(&isNumber);
        double scaled = 0;
        const ValueScaling *scaling = isNumber ? scalingFor(index) : nullptr;
        if (scaling && scaling->scale(raw, &scaled))
            return QString::number(scaled, 'g', 6);
        return base;
    }
    case Qt::DecorationRole:
        if (column == StatusColumn) {
            switch (e.attribute(StatusAttr).toInt()) {
            case StatusOk: return QIcon(QStringLiteral(":/Icons/Icons/status_green_16x16.png"));
            case StatusBusy: return QIcon(QStringLiteral(":/Icons/Icons/status_yellow_16x16.png"));
            case StatusError: return QIcon(QStringLiteral(":/Icons/Icons/status_red_16x16.png"));
            default: return QVariant();
            }
        }
        if (valueCell && data(index, Qt::DisplayRole).isValid()) {
            const ValueScaling *scaling = scalingFor(index);
            if (scaling && scaling->isValid())
                return QIcon(QStringLiteral(":/Icons/Icons/status_scaled_16x16.png"));
        }
        return ZorDeviceDescModel::data(index, role);
    case Qt::ToolTipRole: {
        const ValueScaling *scaling = scalingFor(index);
        // A formula that is refused shows its raw values; say why.
        const QString refused = scaling && !scaling->isValid()
            ? tr("Scaling refused: %1").arg(scaling->error().isEmpty() ? tr("no number") : scaling->error())
            : QString();
        if (column == ScalingColumn && !refused.isEmpty())
            return refused;
        if (!valueCell)
            return ZorDeviceDescModel::data(index, role);
        const QString access = e.attribute(QStringLiteral("accessType"));
        const quint32 type = typeCode(e.attribute(QStringLiteral("dataType")));
        const QString value = cellDisplay(index, ValueColumn);
        const QString typeName = cellDisplay(index, DataTypeColumn);
        QString tip = scaling && refused.isEmpty()
            ? tr("Scaled = %1, Unscaled = %3, Type = %2").arg(value, typeName, data(index, RawValueRole).toString())
            : tr("Value = %1, Type = %2").arg(value, typeName);
        if (!refused.isEmpty())
            tip += QStringLiteral(". ") + refused;
        if (column != ValueColumn)
            return tip;
        if (isWritableText(access)) {
            if (type >= 2 && type <= 7) {
                if (scaling && scaling->canScaleBack())
                    tip += tr(". Value is scaled back to raw data on write.");
                else if (scaling)
                    tip += tr(". Display value, no edit.");
                else if (flags(index) & Qt::ItemIsEditable)
                    tip += tr(". Edit in decimal, hex (0x.. or ..h) or binary format (0b...) possible.");
            } else if (type == 9) {
                tip += tr(". Edit as text; it is written as typed.");
            }
        } else {
            tip += access == QLatin1String("const") ? tr(". Const value, never changes.")
                                                    : tr(". Read Only.");
        }
        return tip;
    }
    case Qt::ForegroundRole:
        if (column == ValueColumn && isWritableAccess(index))
            return QBrush(Qt::black);
        if (column == ScalingColumn) {
            const ValueScaling *scaling = scalingFor(index);
            if (scaling && !scaling->isValid())
                return QBrush(QColor(0xd0, 0x20, 0x20));
        }
        return QBrush(QColor(64, 64, 64));
    case StatusCodeRole:
        return e.attribute(StatusAttr).toInt();
    default:
        return ZorDeviceDescModel::data(index, role);
    }
}

Qt::ItemFlags ZorObjEditModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = ZorDeviceDescModel::flags(index);
    if (!index.isValid())
        return f;
    f &= ~Qt::ItemIsEditable;
    const int column = index.column();
    bool editable = column == NameColumn || column == AccessColumn || column == UiFormatColumn
        || column == CommentColumn || column == ScalingColumn;
    if (column == ValueColumn && isWritableAccess(index)) {
        const ValueScaling *scaling = scalingFor(index);
        editable = !scaling || scaling->isFactor();
    }
    if (m_readOnlyColumns.value(column, false))
        editable = false;
    return editable ? f | Qt::ItemIsEditable : f;
}

void ZorObjEditModel::setColumnReadOnly(int column, bool readOnly)
{
    if (readOnly)
        m_readOnlyColumns.insert(column, true);
    else
        m_readOnlyColumns.remove(column);
}

void ZorObjEditModel::prepareExportElement(QDomElement &element) const
{
    element.removeAttribute(StatusAttr);
    element.removeAttribute(StatusTextAttr);
    ZorDeviceDescModel::prepareExportElement(element);
}

namespace {

// A value that arrived keeps the notation of the text it replaces: "0x…",
// "…h" (padded to the type's width) or "0b…" (all its bits). The number is
// read signed or unsigned by its type and masked to the width, so -1 in an
// INTEGER8 cell written "0x00" becomes "0xff".
QString inStoredNotation(const QString &oldText, const QString &newText, quint32 type)
{
    if (type < 2 || type > 7)
        return newText;
    const QString old = oldText.trimmed().toLower();
    const bool hexPrefix = old.startsWith(QLatin1String("0x"));
    const bool hexSuffix = old.endsWith(QLatin1Char('h'));
    const bool binary = old.startsWith(QLatin1String("0b"));
    if (!hexPrefix && !hexSuffix && !binary)
        return newText;
    const bool isSigned = type >= 2 && type <= 4;
    bool ok = false;
    qint64 n = isSigned ? qint64(ZorBabelFish::stringToLong(newText, &ok))
                        : qint64(ZorBabelFish::stringToULong(newText, &ok));
    if (!ok)
        n = isSigned ? qint64(ZorBabelFish::stringToULong(newText, &ok))
                     : qint64(ZorBabelFish::stringToLong(newText, &ok));
    if (!ok)
        return newText;
    if (binary)
        return QStringLiteral("0b") + ZorBabelFish::fromCanValueToBitStr(int(n), int(type));
    QString text = ZorBabelFish::fromCanValueToHexStr(int(n), int(type));
    if (hexPrefix)
        text.prepend(QLatin1String("0x"));
    if (hexSuffix)
        text.append(QLatin1Char('h'));
    return text;
}

}

bool ZorObjEditModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole && role != RawValueRole && role != StatusCodeRole)
        return false;
    QDomElement e = elementOf(index);
    if (e.isNull())
        return false;
    const int column = index.column();
    const QString attribute = attributeName(column);
    QString text = value.toString().trimmed();

    if (role == StatusCodeRole) {
        e.setAttribute(StatusAttr, text);
        emit dataChanged(index.sibling(index.row(), StatusColumn),
                         index.sibling(index.row(), StatusColumn));
        return true;
    }
    if (attribute.isEmpty())
        return false;
    const QString old = e.attribute(attribute);

    if (column == ScalingColumn && !text.isEmpty())
        text.replace(QLatin1Char(','), QLatin1Char('.'));
    // A value that arrives takes the notation of the row: of the value it
    // replaces, or of the default when there is none yet.
    if (column == ValueColumn && role == RawValueRole)
        text = inStoredNotation(old.isEmpty() ? e.attribute(QStringLiteral("defaultValue")) : old, text,
                                typeCode(e.attribute(QStringLiteral("dataType"))));
    if (column == ValueColumn && role == Qt::EditRole) {
        if (const ValueScaling *scaling = scalingFor(index)) {
            if (!scaling->isFactor())
                return false;
            bool isNumber = false;
            const double scaled = text.toDouble(&isNumber);
            double raw = 0;
            if (!isNumber || !scaling->unscale(scaled, &raw))
                return false;
            text = QString::number(qRound64(raw));
        }
    }
    if (text == old)
        return true;

    const bool topLevel = !index.parent().isValid();
    const bool valueEdit = role == Qt::EditRole && column == ValueColumn;
    const QString id = m_running && (valueEdit || column == UiFormatColumn)
        ? data(index, DataObjectIdRole).toString()
        : QString();
    const bool reSetUp = m_running && topLevel && column == UiFormatColumn
        && m_intervals.contains(id);
    if (reSetUp)
        setupObjectUpdate(index.row(), 1, false);
    e.setAttribute(attribute, text);
    if (column == IndexColumn || column == SubIndexColumn || column == NodeIdColumn)
        invalidateLookup();
    // A format that now asks for reading takes effect at once as well.
    if (m_running && topLevel && column == UiFormatColumn
        && (reSetUp || formatEntry(text, QStringLiteral("updates")).contains(QLatin1Char('r'))))
        setupObjectUpdate(index.row(), 1, true);

    if (valueEdit) {
        e.setAttribute(StatusAttr, QString::number(StatusBusy));
        e.setAttribute(StatusTextAttr, tr("modified"));
        if (m_running && m_intervals.value(id, 0) <= 0)
            queueObjectWrite(index);
        emit dataChanged(index.sibling(index.row(), StatusColumn),
                         index.sibling(index.row(), StatusColumn));
    }
    emit dataChanged(index, index);
    return true;
}

QString ZorObjEditModel::statusWords(int msgType) const
{
    if (msgType == KM_OBJLIST_READ)
        return tr("read ");
    if (msgType == KM_OBJLIST_WRITE)
        return tr("write ");
    return QString();
}

void ZorObjEditModel::setRowStatus(const QModelIndex &row, int code, const QString &text)
{
    QDomElement e = elementOf(row);
    if (e.isNull())
        return;
    e.setAttribute(StatusAttr, QString::number(code));
    e.setAttribute(StatusTextAttr, text.trimmed());
    const QModelIndex status = row.sibling(row.row(), StatusColumn);
    emit dataChanged(status, status);
}

QString ZorObjEditModel::objectListRequest(const QModelIndexList &rows, int msgType, bool silent)
{
    const bool read = msgType == KM_OBJLIST_READ;
    const bool write = msgType == KM_OBJLIST_WRITE;
    const QString operation = statusWords(msgType);
    const QString stamp = timeStamp();
    QString text = silent ? QStringLiteral("SilentReadWrite\n") : QString();

    for (const QModelIndex &row : collectRows(rows)) {
        const QString access = cellDisplay(row, AccessColumn);
        const QString raw = cellRaw(row, ValueColumn);
        const QString type = cellDisplay(row, DataTypeColumn);
        int code = StatusBusy;
        QString words;
        if (!access.isEmpty() && read && access == QLatin1String("wo")) {
            code = StatusError;
            words = tr("read not allowed");
        } else if (!access.isEmpty() && write && !access.contains(QLatin1Char('w'))) {
            code = StatusBusy;
            words = tr("is read-only");
        } else if (!access.isEmpty() && !read && !write) {
            code = StatusError;
            words = tr("not allowed");
        } else if (raw.isEmpty() && !read) {
            code = StatusNone;
            words = tr("empty / unused");
        } else {
            QString value;
            ValueProblem problem = ValueProblem::None;
            if (write) {
                const IntegerType integer = integerType(type);
                qint64 n = 0;
                if (integer.bits) {
                    problem = readTypedValue(raw, integer, n);
                    value = QString::number(n);
                } else {
                    // Texts travel whole: "Pump #2" and "Motor, 24V" as
                    // quoted fields.
                    value = ZorBabelFish::quoteField(raw);
                }
            }
            if (problem == ValueProblem::NotANumber) {
                code = StatusError;
                words = tr("not a number");
            } else if (problem == ValueProblem::OutOfRange) {
                code = StatusError;
                words = tr("value out of range");
            } else {
                // The name is the line's comment; a line break would end
                // the line.
                QString name = cellDisplay(row, NameColumn);
                name.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
                text += data(row, DataObjectIdRole).toString() + QLatin1Char(',') + type
                    + QLatin1Char(',') + value + QLatin1String(" # ") + name + QLatin1Char('\n');
                words = operation + tr("started");
            }
        }
        setRowStatus(row, code, stamp + words);
    }
    return text;
}

QVector<ZorObjEditModel::LineOutcome> ZorObjEditModel::applyLines(const QString &text, int msgType,
                                                                  bool failed)
{
    QVector<LineOutcome> outcomes;
    const QString operation = statusWords(msgType);
    const QString stamp = timeStamp();
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const int hash = ZorBabelFish::indexOutsideQuotes(line, QLatin1Char('#'));
        const QString body = (hash < 0 ? line : line.left(hash)).trimmed();
        const QStringList fields = ZorBabelFish::splitOutsideQuotes(body, QLatin1Char(','));
        QString key = fields.value(0).trimmed();
        QString value;
        QString error;
        if (ZorBabelFish::isDataObjectId(key)) {
            value = fields.value(2);
            error = fields.value(3);
        } else {
            bool indexOk = false;
            bool subOk = false;
            const quint16 objectIndex = ZorBabelFish::stringToUShort(fields.value(1), &indexOk);
            const quint16 sub = ZorBabelFish::stringToUShort(fields.value(2), &subOk);
            if (!indexOk || !subOk)
                continue; // no id and no numbers: not an object line
            key = ZorBabelFish::dataObjectId(quint32(lockedNodeId().toInt()), objectIndex,
                                             quint8(sub));
            value = fields.value(4);
            error = fields.value(5);
        }
        // Quoted fields carry texts with "," and "#"; others stand as they are.
        value = ZorBabelFish::unquoteField(value);
        error = ZorBabelFish::unquoteField(error).trimmed();
        const QModelIndex row = findDataObject(key);
        if (!row.isValid())
            continue;
        // A value the user set and that waits to be written stays: the read
        // was asked for before the edit.
        if (msgType == KM_OBJLIST_READ && m_pendingWrites.contains(row.data(DataObjectIdRole).toString())) {
            outcomes.append({row, false});
            continue;
        }
        const bool lineFailed = failed || !error.isEmpty();
        if (!lineFailed)
            setData(row.sibling(row.row(), ValueColumn), value, RawValueRole);
        const QString status = !error.isEmpty() ? error : operation + (failed ? tr("error") : tr("ok"));
        setRowStatus(row, lineFailed ? StatusError : StatusOk, stamp + status);
        outcomes.append({row, lineFailed});
    }
    return outcomes;
}

void ZorObjEditModel::applyObjectListAnswer(const QString &text, int msgType, bool failed)
{
    applyLines(text, msgType, failed);
}

QVector<QPair<QString, bool>> ZorObjEditModel::applyRequestAnswer(const QString &requestText,
                                                                 const ZorMessage &answer)
{
    const int state = answer.msgState();
    const int msgType = answer.msgType();
    const QString text = answer.data().toString();
    // The node module answers KS_FAIL (or KS_TIMEOUT) with the result line
    // of every object when some of them failed; a request that comes back
    // unchanged (refused at once), cancelled or rejected carries none.
    const bool carriesResults =
        state == KS_ANSWER || ((state == KS_FAIL || state == KS_TIMEOUT) && text != requestText);
    QHash<QString, bool> answered;
    if (carriesResults) {
        for (const LineOutcome &o : applyLines(text, msgType, false)) {
            if (o.row.isValid())
                answered.insert(o.row.data(DataObjectIdRole).toString(), o.failed);
        }
    }
    // Every object of the request, by its row: the answer names a node-0
    // object by the node that served it.
    QVector<QPair<QString, bool>> outcomes;
    const QString failedText = timeStamp() + statusWords(msgType) + tr("error");
    for (const QString &line : requestText.split(QLatin1Char('\n'))) {
        const QString id = ZorBabelFish::splitOutsideQuotes(line, QLatin1Char(',')).value(0).trimmed();
        if (!ZorBabelFish::isDataObjectId(id))
            continue;
        const QModelIndex row = findDataObject(id);
        if (!row.isValid())
            continue;
        const QString rowId = row.data(DataObjectIdRole).toString();
        const auto found = answered.constFind(rowId);
        if (found == answered.constEnd())
            setRowStatus(row, StatusError, failedText);
        outcomes.append({rowId, found == answered.constEnd() || found.value()});
    }
    return outcomes;
}

void ZorObjEditModel::setToDefault(const QModelIndexList &rows)
{
    for (const QModelIndex &row : collectRows(rows)) {
        if (!isWritableText(cellDisplay(row, AccessColumn)))
            continue;
        setData(row.sibling(row.row(), ValueColumn), cellRaw(row, DefaultColumn), RawValueRole);
        setRowStatus(row, StatusNone, tr("default"));
    }
}

QString ZorObjEditModel::toCsvText(const QModelIndexList &rows) const
{
    static const int Columns[] = {IndexColumn, SubIndexColumn, NameColumn,     ValueColumn,
                                  DefaultColumn, DataTypeColumn, AccessColumn, StatusColumn};
    QStringList header;
    for (int column : Columns)
        header << attributeName(column);
    QString text = header.join(QLatin1Char(';')) + QLatin1Char('\n');
    for (const QModelIndex &row : collectRows(rows)) {
        QStringList fields;
        for (int column : Columns) {
            const bool raw = column == ValueColumn || column == DefaultColumn;
            fields << csvField(raw ? cellRaw(row, column) : cellDisplay(row, column));
        }
        text += fields.join(QLatin1Char(';')) + QLatin1Char('\n');
    }
    return text;
}

QByteArray ZorObjEditModel::toBinaryObjectList(const QModelIndexList &rows, BinaryListReport *report) const
{
    BinaryListReport counts;
    QByteArray out(4, '\0');
    for (const QModelIndex &row : collectRows(rows)) {
        const QString type = cellDisplay(row, DataTypeColumn);
        const QString raw = cellRaw(row, ValueColumn);
        // A master applying the list writes every record: read-only objects
        // would only give it aborts.
        if (!isWritableText(cellDisplay(row, AccessColumn))) {
            ++counts.notWritable;
            continue;
        }
        const IntegerType integer = integerType(type);
        if (!integer.bits && type != QLatin1String("visible_string")) {
            ++counts.otherType;
            continue;
        }
        if (raw.isEmpty()) {
            ++counts.noValue;
            continue;
        }
        QByteArray value;
        if (integer.bits) {
            qint64 n = 0;
            if (readTypedValue(raw, integer, n) != ValueProblem::None) {
                ++counts.badValue; // a record with a made-up value would be worse than none
                continue;
            }
            const quint32 bits = quint32(n);
            if (integer.bits == 8)
                appendLittleEndian(value, quint8(bits));
            else if (integer.bits == 16)
                appendLittleEndian(value, quint16(bits));
            else
                appendLittleEndian(value, bits);
        } else {
            bool latin1 = true;
            for (const QChar c : raw)
                latin1 = latin1 && c.unicode() <= 0xff;
            if (!latin1) {
                ++counts.badValue;
                continue;
            }
            value = raw.toLatin1();
        }
        appendLittleEndian(out, ZorBabelFish::stringToUShort(cellDisplay(row, IndexColumn)));
        appendLittleEndian(out, quint8(ZorBabelFish::stringToUShort(cellDisplay(row, SubIndexColumn))));
        appendLittleEndian(out, quint32(value.size()));
        out += value;
        ++counts.written;
    }
    qToLittleEndian(quint32(counts.written), out.data());
    if (report)
        *report = counts;
    return out;
}
