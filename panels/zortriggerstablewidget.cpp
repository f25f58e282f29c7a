#include "zortriggerstablewidget.h"

#include "triggercondition.h"
#include "zorbabelfish.h"

#include <QDomDocument>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QStandardItemModel>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initStatusIconResources()
{
    Q_INIT_RESOURCE(zorstatusicons);
}

namespace {

const char *const ValidIcon = ":/Icons/Icons/status_green_16x16.png";
const char *const InvalidIcon = ":/Icons/Icons/status_red_16x16.png";

// An index or subindex text of the object-table format: hexadecimal, with
// "h" implied when it has neither "0x" nor "h".
quint32 hexNumber(QString text)
{
    text = text.trimmed();
    if (!text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && !text.endsWith(QLatin1Char('h'), Qt::CaseInsensitive))
        text += QLatin1Char('h');
    return ZorBabelFish::stringToULong(text);
}

// The first "CANopenObject" or "CANopenSubObject" element in document order.
QDomElement firstObjectRow(const QDomElement &element)
{
    if (element.tagName() == QLatin1String("CANopenObject") || element.tagName() == QLatin1String("CANopenSubObject"))
        return element;
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QDomElement found = firstObjectRow(child);
        if (!found.isNull())
            return found;
    }
    return QDomElement();
}

} // namespace

constexpr int ZorTriggersTableWidget::DataObjectIdRole;

QString ZorTriggersTableWidget::dataObjectIdOfText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (ZorBabelFish::isDataObjectId(trimmed))
        return trimmed;
    QDomDocument doc;
    if (!doc.setContent(trimmed))
        return QString();
    const QDomElement row = firstObjectRow(doc.documentElement());
    if (row.isNull())
        return QString();
    QString index = row.attribute(QStringLiteral("index"));
    if (index.trimmed().isEmpty() && row.parentNode().toElement().tagName() == QLatin1String("CANopenObject"))
        index = row.parentNode().toElement().attribute(QStringLiteral("index"));
    return ZorBabelFish::dataObjectId(ZorBabelFish::stringToULong(row.attribute(QStringLiteral("nodeId")).trimmed()),
                                      quint16(hexNumber(index)),
                                      quint8(hexNumber(row.attribute(QStringLiteral("subIndex"), QStringLiteral("0")))));
}

ZorTriggersTableWidget::ZorTriggersTableWidget(QWidget *parent)
    : QTableWidget(parent)
{
    static std::once_flag once;
    std::call_once(once, initStatusIconResources);
    m_validIcon = QIcon(QLatin1String(ValidIcon));
    m_invalidIcon = QIcon(QLatin1String(InvalidIcon));
    horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

QTableWidgetItem *ZorTriggersTableWidget::itemAt(int row, int column)
{
    QTableWidgetItem *it = item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        setItem(row, column, it);
    }
    return it;
}

void ZorTriggersTableWidget::followEdits(bool on)
{
    if (on)
        connect(this, &QTableWidget::cellChanged, this, &ZorTriggersTableWidget::triggerCellChanged,
                Qt::UniqueConnection);
    else
        disconnect(this, &QTableWidget::cellChanged, this, &ZorTriggersTableWidget::triggerCellChanged);
}

void ZorTriggersTableWidget::initRows()
{
    followEdits(false);
    for (int row = 0; row < rowCount(); ++row) {
        itemAt(row, 0)->setText(QString());
        QTableWidgetItem *mark = itemAt(row, 1);
        mark->setFlags(mark->flags() & ~Qt::ItemIsEditable);
        mark->setData(Qt::UserRole, true);
        mark->setIcon(QIcon());
    }
    followEdits(true);
}

void ZorTriggersTableWidget::fitHeightToRows()
{
    int height = horizontalHeader()->sizeHint().height() + 2 * frameWidth();
    for (int row = 0; row < rowCount(); ++row)
        height += verticalHeader()->sectionSize(row);
    setMaximumHeight(height);
    setSizePolicy(sizePolicy().horizontalPolicy(), QSizePolicy::Maximum);
}

// Writes a row's text and mark; an empty text gets a mark only when asked.
void ZorTriggersTableWidget::showRow(int row, const QString &text, bool markEmpty)
{
    itemAt(row, 0)->setText(text);
    const bool valid = TriggerCondition::isValid(text);
    QTableWidgetItem *mark = itemAt(row, 1);
    mark->setFlags(mark->flags() & ~Qt::ItemIsEditable);
    mark->setData(Qt::UserRole, valid);
    if (!valid)
        mark->setIcon(m_invalidIcon);
    else if (!text.isEmpty() || markEmpty)
        mark->setIcon(m_validIcon);
    else
        mark->setIcon(QIcon());
}

void ZorTriggersTableWidget::triggerCellChanged(int row, int column)
{
    if (column == 1)
        return;
    const QTableWidgetItem *cell = item(row, 0);
    const QString text = TriggerCondition::normalize(cell ? cell->text().trimmed() : QString());
    followEdits(false);
    showRow(row, text, false);
    followEdits(true);
    emit triggersConfigurationChanged(configuration());
}

bool ZorTriggersTableWidget::isRowValid(int row) const
{
    const QTableWidgetItem *mark = item(row, 1);
    return !mark || mark->data(Qt::UserRole).toBool();
}

QString ZorTriggersTableWidget::configuration() const
{
    QStringList conditions;
    for (int row = 0; row < rowCount(); ++row) {
        const QTableWidgetItem *cell = item(row, 0);
        const QString text = cell ? cell->text().trimmed() : QString();
        if (!text.isEmpty() && isRowValid(row))
            conditions << text;
    }
    return conditions.join(QLatin1Char(';'));
}

void ZorTriggersTableWidget::setConfiguration(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    followEdits(false);
    for (int row = 0; row < rowCount(); ++row) {
        if (row < parts.size()) {
            showRow(row, parts.at(row).trimmed(), true);
        } else {
            showRow(row, QString(), false);
        }
    }
    followEdits(true);
}

void ZorTriggersTableWidget::dragEnterEvent(QDragEnterEvent *event)
{
    event->acceptProposedAction();
}

void ZorTriggersTableWidget::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

QStringList ZorTriggersTableWidget::mimeTypes() const
{
    return QTableWidget::mimeTypes() << QStringLiteral("text/plain");
}

bool ZorTriggersTableWidget::dropMimeData(int row, int column, const QMimeData *data, Qt::DropAction action)
{
    Q_UNUSED(column)
    Q_UNUSED(action)
    if (rowCount() == 0 || !data)
        return true;
    row = qBound(0, row, rowCount() - 1);
    // Decoded by an item model of its own, the way the object tables encode
    // their rows.
    QStandardItemModel rows;
    rows.dropMimeData(data, Qt::CopyAction, 0, 0, QModelIndex());
    QString id;
    if (rows.rowCount() > 0)
        id = rows.index(0, 0).data(DataObjectIdRole).toString();
    else if (data->hasText())
        id = dataObjectIdOfText(data->text());   // the object tables' own drag text
    if (rows.rowCount() > 0 || !id.isEmpty())
        itemAt(row, 0)->setText(id);   // cellChanged checks and marks it
    return true;
}
