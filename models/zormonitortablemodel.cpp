#include "zormonitortablemodel.h"

#include "zorabstractframecodec.h"
#include "zorbabelfish.h"
#include "zorframedecodercanopen.h"
#include "zorframedecoderscript.h"
#include "vscan_msg.h"

#include <QMimeData>
#include <QStringList>
#include <QTimer>

namespace {

// Positions in MonitorRow::values.
enum Value {
    FrameValue,
    TimeValue,
    IdValue,
    DataValue,
    DirValue,
    DescriptionValue,
    IdNumberValue,
    IndexValue,
    SubindexValue
};

const char *const HeaderTexts[ZorMonitorTableModel::ColumnCount] = {
    QT_TRANSLATE_NOOP("ZorMonitorTableModel", "Frame #"),
    QT_TRANSLATE_NOOP("ZorMonitorTableModel", "t [msec]"),
    QT_TRANSLATE_NOOP("ZorMonitorTableModel", "ID"),
    QT_TRANSLATE_NOOP("ZorMonitorTableModel", "Data"),
    QT_TRANSLATE_NOOP("ZorMonitorTableModel", "Dir"),
    QT_TRANSLATE_NOOP("ZorMonitorTableModel", "Description"),
};

} // namespace

ZorMonitorTableModel::ZorMonitorTableModel(QObject *parent)
    : QAbstractTableModel(parent)
    , m_refreshTimer(new QTimer(this))
{
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(RefreshMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &ZorMonitorTableModel::update);
}

ZorMonitorTableModel::~ZorMonitorTableModel() = default;

// --- item model

int ZorMonitorTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ZorMonitorTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ZorMonitorTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return QVariant();
    const MonitorRow &row = m_rows[std::size_t(index.row())];
    const int column = index.column();
    if (role == Qt::DisplayRole && column >= 0 && column < ColumnCount)
        return row.values[column];
    if (role == NumberRole && column >= IdColumn && column <= DirColumn)
        return row.values[IdNumberValue + column - IdColumn];
    return QVariant();
}

QVariant ZorMonitorTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= ColumnCount)
        return QVariant();
    return tr(HeaderTexts[section]);
}

Qt::ItemFlags ZorMonitorTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled;
}

bool ZorMonitorTableModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || count < 1 || row < 0 || row > int(m_rows.size()))
        return false;
    beginInsertRows(QModelIndex(), row, row + count - 1);
    m_rows.insert(m_rows.begin() + row, std::size_t(count), MonitorRow());
    endInsertRows();
    return true;
}

bool ZorMonitorTableModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid())
        return false;
    // Clamp [row, row + count) to the rows there are, without overflow.
    const qint64 first = qMax<qint64>(row, 0);
    const qint64 end = qMin<qint64>(qint64(row) + qMax(count, 0), qint64(m_rows.size()));
    if (first >= end)
        return false;
    beginRemoveRows(QModelIndex(), int(first), int(end - 1));
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + end);
    endRemoveRows();
    return true;
}

bool ZorMonitorTableModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row,
                                        int column, const QModelIndex &parent)
{
    return importText(data, action, row, column, parent, false);
}

// --- frames

void ZorMonitorTableModel::fillFromRecord(MonitorRow &row, const QByteArray &record) const
{
    if (m_decoder)
        row.values[DescriptionValue] = m_decoder->decode(QVariant(record));
    row.values[IdNumberValue] = int(ZorBabelFish::fromQbytearrayToCanId(record));
    row.values[IndexValue] = int(ZorBabelFish::fromQbytearrayToSdoIndex(record));
    row.values[SubindexValue] = int(ZorBabelFish::fromQbytearrayToSdoSubindex(record));
}

void ZorMonitorTableModel::appendPending(MonitorRow &&row)
{
    if (m_pending.size() >= std::size_t(MaxRows))
        m_pending.pop_front();
    m_pending.push_back(std::move(row));
}

bool ZorMonitorTableModel::appendFrame(const ZorMessage &msg)
{
    MonitorRow row;
    row.values[FrameValue] = ++m_frameCounter;
    // A frame this program sent comes back as the answer to its request (or
    // as the adapter's echo); every other frame was received.
    row.values[DirValue] = msg.msgState() == KS_ANSWER ? QStringLiteral("TX") : QStringLiteral("RX");
    const QByteArray record = msg.data().toByteArray();
    const quint16 stamp = ZorBabelFish::fromQbytearrayToTimestamp(record);
    // A stamp of 0 is a time only when the frame says it carries one: it
    // comes once in every wrap.
    const bool stamped = stamp > 0
                         || (ZorBabelFish::fromQbytearrayToFlags(record) & VSCAN_FLAGS_TIMESTAMP);
    m_lastFrameTime = -1;
    if (stamped) {
        const qint64 elapsed = m_stampClock.isValid() ? m_stampClock.restart() : 0;
        if (!m_stampClock.isValid())
            m_stampClock.start();
        m_runningTime = unwrapStamp(stamp, m_runningTime, elapsed);
        m_lastFrameTime = m_runningTime;
        row.values[TimeValue] = m_runningTime;
    }
    row.values[IdValue] = ZorBabelFish::fromQbytearrayToCanIdStr(record);
    row.values[DataValue] = ZorBabelFish::fromQbytearrayToDataStr(record);
    fillFromRecord(row, record);
    m_lastFrameDescription = row.values[DescriptionValue].toString();
    appendPending(std::move(row));
    if (!m_refreshTimer->isActive())
        m_refreshTimer->start();
    return true;
}

qint64 ZorMonitorTableModel::unwrapStamp(quint16 stamp, qint64 previous, qint64 elapsedMs)
{
    if (previous < 0)
        return stamp;
    const qint64 expected = previous + qMax<qint64>(0, elapsedMs);
    // Whole wraps between the stamp and the expected time, rounded to the
    // nearest; never below the first wrap.
    const qint64 wraps = (expected - stamp + 32768) >> 16;
    return stamp + qMax<qint64>(0, wraps) * 65536;
}

void ZorMonitorTableModel::update()
{
    const qint64 n = qint64(m_pending.size());
    if (n < 1)
        return;
    qint64 r = qint64(m_rows.size());
    if (r + n > MaxRows) {
        const qint64 drop = r + n - MaxRows;
        removeRows(0, int(drop));
        r = qint64(m_rows.size());
    }
    beginInsertRows(QModelIndex(), int(r), int(r + n - 1));
    for (MonitorRow &row : m_pending)
        m_rows.push_back(std::move(row));
    m_pending.clear();
    endInsertRows();
}

// --- import

bool ZorMonitorTableModel::importText(const QMimeData *data, Qt::DropAction action, int row,
                                      int column, const QModelIndex &parent, bool fromFile)
{
    Q_UNUSED(row);
    Q_UNUSED(column);
    Q_UNUSED(parent);
    update();
    if (action != Qt::CopyAction && action != Qt::MoveAction)
        return false;
    if (!data)
        return true;

    QString text = data->text();
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() > MaxRows)
        lines.erase(lines.begin() + MaxRows, lines.end());

    const QString header = tr(HeaderTexts[FrameColumn]);
    const QString label = fromFile ? QStringLiteral("file %1") : QStringLiteral("clip %1");
    for (QString &line : lines) {
        line.replace(QLatin1String("   "), QLatin1String("\t"));
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() < 4)
            continue;
        QString first = fields.at(0).trimmed();
        if (first == header)
            continue;
        first.remove(QLatin1String("clip"));
        first.remove(QLatin1String("file"));
        first = first.trimmed();
        bool isNumber = false;
        first.toInt(&isNumber, 10);
        if (!isNumber)
            continue;

        MonitorRow imported;
        imported.values[FrameValue] = label.arg(first);
        const QString time = fields.at(1).trimmed();
        const QString id = fields.at(2).trimmed();
        const QString bytes = fields.at(3).trimmed();
        imported.values[TimeValue] = time;
        imported.values[IdValue] = id;
        imported.values[DataValue] = bytes;
        if (fields.size() > 4)
            imported.values[DirValue] = fields.at(4).trimmed();

        // A running time beyond 16 bits is taken modulo the adapter's
        // wrap for the rebuilt frame (which only serves the decoder and the
        // filter numbers); the row shows it as written.
        QString frameTime = time;
        bool isTime = false;
        const qint64 running = time.toLongLong(&isTime);
        if (isTime && running >= 0)
            frameTime = QString::number(running % 65536);
        QByteArray record;
        const QString frameText = id + QLatin1Char(',') + QString::number((bytes.size() + 1) / 3)
                                  + QLatin1Char(',') + bytes + QLatin1Char(',') + frameTime;
        if (!ZorBabelFish::fromCanStrToQbytearray(frameText, record))
            continue;
        fillFromRecord(imported, record);
        appendPending(std::move(imported));
    }
    update();
    return true;
}

// --- decoder

bool ZorMonitorTableModel::setDecoder(const QString &name)
{
    m_decoder.reset();
    if (name.compare(QLatin1String("CANopen"), Qt::CaseInsensitive) == 0)
        m_decoder = std::make_unique<ZorFrameDecoderCanopen>();
    else if (name.compare(QLatin1String("Script"), Qt::CaseInsensitive) == 0)
        m_decoder = std::make_unique<ZorFrameDecoderScript>();
    return m_decoder != nullptr;
}

void ZorMonitorTableModel::setDecoder(ZorAbstractFrameCodec *decoder)
{
    m_decoder.reset(decoder);
}

bool ZorMonitorTableModel::loadDecoderScript(const QString &fileName)
{
    if (!m_decoder)
        return false;
    const bool loaded = m_decoder->setParameter(fileName);
    if (!loaded)
        m_decoder.reset();
    return loaded;
}
