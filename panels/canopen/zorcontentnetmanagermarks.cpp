#include "zorcontentnetmanagermarks.h"

#include "zorbabelfish.h"
#include "zordevicedescmodel.h"

#include <QBrush>
#include <QColor>

const QColor ZorContentNetManagerMarks::SilentColour(QStringLiteral("#FF6052"));

namespace {

// Digits of the objects shown in hexadecimal: status words (16 bits) and
// device types (32 bits). Index texts are hexadecimal, marked or not.
int hexDigitsOf(const QString &indexText)
{
    QString text = indexText.trimmed().toLower();
    if (text.startsWith(QLatin1String("0x")))
        text = text.mid(2);
    if (text.endsWith(QLatin1Char('h')))
        text.chop(1);
    bool ok = false;
    const uint index = text.toUInt(&ok, 16);
    if (!ok)
        return 0;
    switch (index) {
    case 0x6041: return 4;
    case 0x1000: return 8;
    default: return 0;
    }
}

QString timeText(const QDateTime &time)
{
    return time.toString(QStringLiteral("hh:mm:ss"));
}

} // namespace

ZorContentNetManagerMarks::ZorContentNetManagerMarks(QObject *parent)
    : QIdentityProxyModel(parent)
{
    m_check.setInterval(1000);
    connect(&m_check, &QTimer::timeout, this, &ZorContentNetManagerMarks::checkLastAnswers);
}

void ZorContentNetManagerMarks::setGrid(QAbstractItemModel *grid)
{
    setSourceModel(grid);
    m_nodes.clear();
    m_silentSince.clear();
    // Every node of the grid gets its time to answer from now on.
    for (int row = 0; row < rowCount(); ++row) {
        Node &node = m_nodes[nodeOfRow(row)];
        node.lastAnswer = QDateTime::currentDateTime();
        node.sinceAnswer.start();
    }
    m_check.start();
}

QDateTime ZorContentNetManagerMarks::silentSince(const QString &node) const
{
    return m_silentSince.value(node);
}

QModelIndex ZorContentNetManagerMarks::objectCell(const QModelIndex &gridIndex, int column) const
{
    auto *grid = qobject_cast<QAbstractProxyModel *>(sourceModel());
    if (!grid || !gridIndex.isValid())
        return QModelIndex();
    const QModelIndex value = grid->mapToSource(mapToSource(gridIndex));
    return value.isValid() ? value.sibling(value.row(), column) : QModelIndex();
}

QString ZorContentNetManagerMarks::nodeOfRow(int row) const
{
    for (int column = 0; column < columnCount(); ++column) {
        const QModelIndex node = objectCell(index(row, column), ZorDeviceDescModel::NodeIdColumn);
        if (node.isValid())
            return node.data().toString().trimmed();
    }
    return QString();
}

void ZorContentNetManagerMarks::setSilent(const QString &node, bool silent)
{
    if (silent == m_silentSince.contains(node))
        return;
    if (silent)
        m_silentSince.insert(node, m_nodes.value(node).lastAnswer);
    else
        m_silentSince.remove(node);
    for (int row = 0; row < rowCount(); ++row) {
        if (nodeOfRow(row) != node)
            continue;
        if (columnCount() > 0)
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        emit headerDataChanged(Qt::Vertical, row, row);
    }
}

void ZorContentNetManagerMarks::takeMessage(const ZorMessage &message)
{
    const int state = message.msgState();
    if (message.msgType() != KM_OBJLIST_READ || state == KS_REQUEST || state == KS_WAITING)
        return;
    // Lines "id,type,value[,error]"; the id names the node. Values and
    // error texts that hold a separator come quoted.
    QHash<QString, bool> answered;   // node -> a value came
    for (const QString &line : message.data().toString().split(QLatin1Char('\n'))) {
        const int hash = ZorBabelFish::indexOutsideQuotes(line, QLatin1Char('#'));
        const QStringList fields =
            ZorBabelFish::splitOutsideQuotes(hash < 0 ? line : line.left(hash), QLatin1Char(','));
        quint32 node = 0;
        quint16 index = 0;
        quint8 sub = 0;
        if (!ZorBabelFish::fromDataObjectId(fields.value(0).trimmed(), node, index, sub))
            continue;
        const bool value = !fields.value(2).trimmed().isEmpty() && fields.value(3).trimmed().isEmpty();
        bool &any = answered[QString::number(node)];
        any = any || value;
    }
    for (auto it = answered.cbegin(); it != answered.cend(); ++it) {
        if (!m_nodes.contains(it.key()))
            continue;
        if (it.value()) {
            Node &node = m_nodes[it.key()];
            node.lastAnswer = QDateTime::currentDateTime();
            node.sinceAnswer.start();
        }
        setSilent(it.key(), !it.value());
    }
}

void ZorContentNetManagerMarks::checkLastAnswers()
{
    for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
        if (it.value().sinceAnswer.elapsed() > SilentAfterMs)
            setSilent(it.key(), true);
    }
}

QVariant ZorContentNetManagerMarks::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const auto silent = m_silentSince.constFind(nodeOfRow(index.row()));
    const bool isSilent = silent != m_silentSince.constEnd();
    switch (role) {
    case Qt::DisplayRole: {
        const QVariant value = QIdentityProxyModel::data(index, role);
        bool number = false;
        const qint64 n = value.toString().trimmed().toLongLong(&number);
        const int digits =
            number ? hexDigitsOf(objectCell(index, ZorDeviceDescModel::IndexColumn).data().toString()) : 0;
        if (!digits)
            return value;
        const quint64 mask = digits == 4 ? 0xFFFFu : 0xFFFFFFFFu;
        return QStringLiteral("%1h").arg(quint64(n) & mask, digits, 16, QLatin1Char('0'));
    }
    case Qt::BackgroundRole:
        return isSilent ? QVariant(QBrush(SilentColour)) : QIdentityProxyModel::data(index, role);
    case Qt::ToolTipRole:
        if (isSilent)
            return tr("No answer since %1").arg(timeText(silent.value()));
        return QIdentityProxyModel::data(index, role);
    default:
        return QIdentityProxyModel::data(index, role);
    }
}

QVariant ZorContentNetManagerMarks::headerData(int section, Qt::Orientation orientation, int role) const
{
    const QVariant header = QIdentityProxyModel::headerData(section, orientation, role);
    if (orientation != Qt::Vertical)
        return header;
    const auto silent = m_silentSince.constFind(nodeOfRow(section));
    if (silent == m_silentSince.constEnd())
        return header;
    if (role == Qt::DisplayRole)
        return tr("%1 - no answer since %2").arg(header.toString(), timeText(silent.value()));
    if (role == Qt::BackgroundRole)
        return QBrush(SilentColour);
    return header;
}
