#include "zordommodel.h"

#include "domtreeitem.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QSet>
#include <QThread>
#include <QVector>

// Resource initialisation has to happen outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(zoricons);
}

namespace {

const QString IconFolder = QStringLiteral(":/Icons/Icons/");

const char *const Context = "ZorDomModel";

struct ModuleType
{
    const char *key;
    const char *iconFile;
    const char *description;
    const char *label;
};

const ModuleType ModuleTypes[] = {
    {"project", "button_home.png", QT_TRANSLATE_NOOP("ZorDomModel", "Project overview and status"), QT_TRANSLATE_NOOP("ZorDomModel", "Project Home")},
    {"netmanager", "button_nodemgr.png", QT_TRANSLATE_NOOP("ZorDomModel", "Scan/Configure/Monitor network nodes"), QT_TRANSLATE_NOOP("ZorDomModel", "Network Manager")},
    {"canusb", "button_can_interface.png", QT_TRANSLATE_NOOP("ZorDomModel", "CAN interface for USB"), QT_TRANSLATE_NOOP("ZorDomModel", "CAN Interface")},
    {"kelvatro", "button_kelvatro.png", QT_TRANSLATE_NOOP("ZorDomModel", "Kelvatro interface"), QT_TRANSLATE_NOOP("ZorDomModel", "Kelvatro")},
    {"ethernet", "button_network.png", QT_TRANSLATE_NOOP("ZorDomModel", "CAN via TCP/UDP network interface"), QT_TRANSLATE_NOOP("ZorDomModel", "CAN Ethernet")},
    {"cansender", "button_player.png", QT_TRANSLATE_NOOP("ZorDomModel", "CAN bus frame sender"), QT_TRANSLATE_NOOP("ZorDomModel", "CAN Sender")},
    {"canmonitor", "button_stethoscope.png", QT_TRANSLATE_NOOP("ZorDomModel", "CAN bus monitor"), QT_TRANSLATE_NOOP("ZorDomModel", "CAN Monitor")},
    {"drive_canopen", "button_drive.png", QT_TRANSLATE_NOOP("ZorDomModel", "CANopen drive"), QT_TRANSLATE_NOOP("ZorDomModel", "Drive01")},
    {"drive_ruxa", "button_ruxa.png", QT_TRANSLATE_NOOP("ZorDomModel", "RUXA/Pellicorn drive"), QT_TRANSLATE_NOOP("ZorDomModel", "Drive01")},
    {"drive_tamrix", "button_drive_trelk.png", QT_TRANSLATE_NOOP("ZorDomModel", "Trelk drive via USB"), QT_TRANSLATE_NOOP("ZorDomModel", "Drive01")},
    {"drive_canopen_firmware", "button_download.png", QT_TRANSLATE_NOOP("ZorDomModel", "CANopen firmware download"), QT_TRANSLATE_NOOP("ZorDomModel", "Firmware")},
    {"drive_canopen_setup", "button_tool.png", QT_TRANSLATE_NOOP("ZorDomModel", "Setup for CANopen drive"), QT_TRANSLATE_NOOP("ZorDomModel", "Setup")},
    {"drive_canopen_objects", "button_objects.png", QT_TRANSLATE_NOOP("ZorDomModel", "Drive objects and parameters"), QT_TRANSLATE_NOOP("ZorDomModel", "Objects")},
    {"drive_canopen_python", "button_script.png", QT_TRANSLATE_NOOP("ZorDomModel", "Download and start Python script code"), QT_TRANSLATE_NOOP("ZorDomModel", "Python")},
    {"xypos", "button_xy_position.png", QT_TRANSLATE_NOOP("ZorDomModel", "X-Y positioning application for two slaves"), QT_TRANSLATE_NOOP("ZorDomModel", "XY Positioning")},
    {"testcycle", "button_test_cycle.png", QT_TRANSLATE_NOOP("ZorDomModel", "Cyclic testing for 1..n slaves"), QT_TRANSLATE_NOOP("ZorDomModel", "Test Cycle")},
    {"automation", "button_automation.png", QT_TRANSLATE_NOOP("ZorDomModel", "Automate Quorvane functions using Python"), QT_TRANSLATE_NOOP("ZorDomModel", "Automation")},
    {"automation_python", "button_script.png", QT_TRANSLATE_NOOP("ZorDomModel", "Python editor and Automation setup"), QT_TRANSLATE_NOOP("ZorDomModel", "Automation Setup")},
    {"wizard", "button_wizard.png", QT_TRANSLATE_NOOP("ZorDomModel", "Wizard"), QT_TRANSLATE_NOOP("ZorDomModel", "Quick Setup")},
    {"nodeconfig", "button_can_node.png", QT_TRANSLATE_NOOP("ZorDomModel", "Configuration"), QT_TRANSLATE_NOOP("ZorDomModel", "Node01")},
    {"datalog", "button_scope.png", QT_TRANSLATE_NOOP("ZorDomModel", "Scope/Logger configuration"), QT_TRANSLATE_NOOP("ZorDomModel", "Scope")},
    {"datalog_plot", "button_scope.png", QT_TRANSLATE_NOOP("ZorDomModel", "Plot"), QT_TRANSLATE_NOOP("ZorDomModel", "Plot")},
    {"trigger", "button_trigger.png", QT_TRANSLATE_NOOP("ZorDomModel", "Trigger configuration"), QT_TRANSLATE_NOOP("ZorDomModel", "Trigger")},
    {"uipanel", "button_uipanel.png", QT_TRANSLATE_NOOP("ZorDomModel", "Custom user interface"), QT_TRANSLATE_NOOP("ZorDomModel", "UI Panel")},
    {"uipanel_node", "button_uipanel.png", QT_TRANSLATE_NOOP("ZorDomModel", "Custom user interface for single node"), QT_TRANSLATE_NOOP("ZorDomModel", "UI Panel")},
    {"remotecontrol", "button_remotecontrol.png", QT_TRANSLATE_NOOP("ZorDomModel", "Control Quorvane via TCP"), QT_TRANSLATE_NOOP("ZorDomModel", "Remote Control")},
    {"joystick", "button_joystick.png", QT_TRANSLATE_NOOP("ZorDomModel", "Joystick or 3D input controller"), QT_TRANSLATE_NOOP("ZorDomModel", "Joystick")},
    {"commchannel", "button_network.png", QT_TRANSLATE_NOOP("ZorDomModel", "TCP communication channel"), QT_TRANSLATE_NOOP("ZorDomModel", "TCP01")},
    {"drive_xenax", "button_xenax.png", QT_TRANSLATE_NOOP("ZorDomModel", "JennyScience XENAX linear axis controller"), QT_TRANSLATE_NOOP("ZorDomModel", "Axis01")},
};

const ModuleType *moduleType(const QString &key)
{
    // Built once, read-only afterwards: safe to read from any thread.
    static const QHash<QString, const ModuleType *> byKey = [] {
        QHash<QString, const ModuleType *> map;
        for (const ModuleType &t : ModuleTypes)
            map.insert(QLatin1String(t.key), &t);
        return map;
    }();
    return byKey.value(key, nullptr);
}

// Status bands, the same as the panels' status colours.
enum Band { Plain, Green, Yellow, Red, BandCount };

Band bandOf(int code)
{
    if (code <= 0)
        return Plain;
    if (code < 1000)
        return Green;
    if (code < 2000)
        return Yellow;
    return Red;
}

const char *const OverlayFiles[BandCount] = {
    nullptr, "button_overlay_green.png", "button_overlay_yellow.png", "button_overlay_red.png"};

QIcon composeIcon(const QString &picturePath, Band band)
{
    const QImage base(IconFolder + QLatin1String("button_background.png"));
    const QImage picture(picturePath);
    if (base.isNull() || picture.isNull())
        return QIcon();
    const QSize size = base.size();
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(canvas.rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    auto draw = [&](const QImage &image) {
        painter.drawImage(0, 0, image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    };
    draw(base);
    draw(picture);
    if (OverlayFiles[band]) {
        const QImage overlay(IconFolder + QLatin1String(OverlayFiles[band]));
        if (!overlay.isNull())
            draw(overlay);
    }
    painter.end();
    return QIcon(QPixmap::fromImage(canvas));
}

// Process-wide icon tables of the GUI thread: composed once by the first
// model, dropped when the application object goes (pixmaps must not outlive it).
struct IconTables
{
    QHash<QString, QIcon> byType[BandCount];
    QHash<QString, QIcon> custom; // band digit + picture path
    bool filled = false;
};

IconTables &iconTables()
{
    static IconTables tables;
    return tables;
}

void dropIconTables()
{
    IconTables &t = iconTables();
    for (auto &map : t.byType)
        map.clear();
    t.custom.clear();
    t.filled = false;
}

void fillIconTables()
{
    IconTables &t = iconTables();
    if (t.filled || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    initIconResources();
    t.filled = true;
    qAddPostRoutine(dropIconTables);
    for (const ModuleType &type : ModuleTypes) {
        const QString picture = IconFolder + QLatin1String(type.iconFile);
        for (int band = Plain; band < BandCount; ++band) {
            const QIcon icon = composeIcon(picture, Band(band));
            if (!icon.isNull())
                t.byType[band].insert(QLatin1String(type.key), icon);
        }
    }
}

QIcon customIcon(const QString &picturePath, Band band)
{
    IconTables &t = iconTables();
    if (!t.filled)
        return QIcon(); // no GUI application: no pixmaps
    const QString key = QString::number(band) + picturePath;
    auto it = t.custom.constFind(key);
    if (it != t.custom.constEnd())
        return it.value();
    const QIcon icon = composeIcon(picturePath, band);
    t.custom.insert(key, icon);
    return icon;
}

QModelIndex firstColumn(const QModelIndex &index)
{
    return index.isValid() && index.column() != 0 ? index.sibling(index.row(), 0) : index;
}

// 0 for a top-level row, 1 directly below it, 2 and more further down.
int levelOf(const QModelIndex &index)
{
    int level = 0;
    for (QModelIndex p = index.parent(); p.isValid() && level < 2; p = p.parent())
        ++level;
    return level;
}

int attributeNumber(const QDomElement &element, const QString &name)
{
    bool ok = false;
    const int value = element.attribute(name).toInt(&ok, 10);
    return ok ? value : 0;
}

QVariant textOrInvalid(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

bool endsWithDigit(const QString &text, int *runStart)
{
    int start = text.size();
    while (start > 0 && text.at(start - 1) >= QLatin1Char('0') && text.at(start - 1) <= QLatin1Char('9'))
        --start;
    *runStart = start;
    return start < text.size();
}

const QString ModuleTag = QStringLiteral("module");
const QString LabelAttr = QStringLiteral("label");
const QString TypeAttr = QStringLiteral("type");

}

ZorDomModel::ZorDomModel(const QDomDocument &document, QObject *parent)
    : ZorAbstractDomModel(parent)
    , m_document(document)
{
    fillIconTables();
    const QDomElement project = projectElement();
    if (!project.isNull())
        m_root = new DomTreeItem(project, 0, nullptr);
}

ZorDomModel::~ZorDomModel()
{
    delete m_root;
}

QDomElement ZorDomModel::projectElement() const
{
    return m_document.firstChildElement(QStringLiteral("QuorvaneProject"));
}

DomTreeItem *ZorDomModel::itemFromIndex(const QModelIndex &index) const
{
    if (!index.isValid())
        return nullptr;
    return static_cast<DomTreeItem *>(index.internalPointer());
}

QModelIndex ZorDomModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!m_root || row < 0 || column < 0 || column >= 2)
        return QModelIndex();
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    DomTreeItem *parentItem = parent.isValid() ? itemFromIndex(parent) : m_root;
    DomTreeItem *child = parentItem->moduleChild(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex ZorDomModel::parent(const QModelIndex &index) const
{
    DomTreeItem *item = itemFromIndex(index);
    if (!item)
        return QModelIndex();
    DomTreeItem *parentItem = item->parent();
    if (!parentItem || parentItem == m_root)
        return QModelIndex();
    return createIndex(parentItem->row(), 0, parentItem);
}

int ZorDomModel::rowCount(const QModelIndex &parent) const
{
    if (!m_root || parent.column() > 0)
        return 0;
    DomTreeItem *item = parent.isValid() ? itemFromIndex(parent) : m_root;
    return item->moduleChildCount();
}

int ZorDomModel::columnCount(const QModelIndex &) const
{
    return 2;
}

QDomNode ZorDomModel::nodeFromIndex(const QModelIndex &index) const
{
    DomTreeItem *item = itemFromIndex(index);
    return item ? item->node() : QDomNode();
}

QDomDocument ZorDomModel::document() const
{
    return m_document;
}

QString ZorDomModel::defaultLabel(const QString &type)
{
    const ModuleType *t = moduleType(type);
    return t ? QCoreApplication::translate(Context, t->label) : QString();
}

QString ZorDomModel::typeDescription(const QString &type)
{
    const ModuleType *t = moduleType(type);
    return t ? QCoreApplication::translate(Context, t->description) : QString();
}

QString ZorDomModel::displayLabel(const QDomElement &element) const
{
    if (element.hasAttribute(LabelAttr))
        return element.attribute(LabelAttr);
    return defaultLabel(element.attribute(TypeAttr));
}

bool ZorDomModel::isEnabledForUser(const QDomElement &element) const
{
    return attributeNumber(element, QStringLiteral("userLevel")) <= m_userLevel;
}

QString ZorDomModel::description(const QModelIndex &index) const
{
    const QDomElement element = nodeFromIndex(index).toElement();
    QString text = element.hasAttribute(QStringLiteral("description"))
                       ? element.attribute(QStringLiteral("description"))
                       : typeDescription(element.attribute(TypeAttr));
    if (!isEnabledForUser(element)) {
        const QString hint = tr("Change user level to access this function!");
        text = text.isEmpty() ? hint : text + QLatin1String(" - ") + hint;
    }
    return text;
}

int ZorDomModel::storedStatus(const QModelIndex &index) const
{
    if (m_statusCodes.isEmpty() || !index.isValid())
        return 0;
    return m_statusCodes.value(QPersistentModelIndex(firstColumn(index)), 0);
}

QString ZorDomModel::storedStatusText(const QModelIndex &index) const
{
    if (m_statusTexts.isEmpty() || !index.isValid())
        return QString();
    return m_statusTexts.value(QPersistentModelIndex(firstColumn(index)));
}

QVariant ZorDomModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const QDomElement element = nodeFromIndex(index).toElement();
    const bool moduleColumn = index.column() == ModuleColumn;
    switch (role) {
    case Qt::DisplayRole:
        if (moduleColumn)
            return textOrInvalid(displayLabel(element));
        if (index.column() == StatusColumn)
            return textOrInvalid(storedStatusText(index));
        return QVariant();
    case Qt::DecorationRole: {
        if (!moduleColumn)
            return QVariant();
        const QIcon icon = moduleIcon(index);
        if (icon.isNull())
            return QVariant();
        const int level = levelOf(index);
        if (level == 1 || (level >= 2 && isEnabledForUser(element)))
            return icon;
        return QIcon(icon.pixmap(24, 24));
    }
    case Qt::ToolTipRole:
    case Qt::StatusTipRole:
    case Qt::WhatsThisRole:
    case DescriptionRole:
        if (moduleColumn)
            return textOrInvalid(description(index));
        if (index.column() == StatusColumn)
            return textOrInvalid(storedStatusText(index));
        return QVariant();
    case TypeRole:
        return element.hasAttribute(TypeAttr) ? QVariant(element.attribute(TypeAttr)) : QVariant();
    case PanelVisibleRole:
        return element.hasAttribute(QStringLiteral("panelVisible"))
                   ? QVariant(element.attribute(QStringLiteral("panelVisible")))
                   : QVariant();
    case UserLevelRole:
        return element.hasAttribute(QStringLiteral("userLevel"))
                   ? QVariant(element.attribute(QStringLiteral("userLevel")))
                   : QVariant(0);
    case StatusRole:
        return storedStatus(index);
    case StatusTextRole: {
        if (m_statusTexts.isEmpty())
            return QVariant();
        const auto it = m_statusTexts.constFind(QPersistentModelIndex(firstColumn(index)));
        return it == m_statusTexts.constEnd() ? QVariant() : QVariant(it.value());
    }
    case ModuleDepthRole:
        return element.hasAttribute(QStringLiteral("moduleDepth"))
                   ? QVariant(element.attribute(QStringLiteral("moduleDepth")))
                   : QVariant(0);
    default:
        return QVariant();
    }
}

QVariant ZorDomModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    if (section == ModuleColumn)
        return tr("Module");
    if (section == StatusColumn)
        return tr("Status");
    return QVariant();
}

Qt::ItemFlags ZorDomModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = Qt::ItemIsDropEnabled;
    if (!index.isValid())
        return f;
    if (index.column() == ModuleColumn && isEnabledForUser(nodeFromIndex(index).toElement()))
        f |= Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return f;
}

Qt::DropActions ZorDomModel::supportedDropActions() const
{
    return Qt::CopyAction;
}

bool ZorDomModel::dropMimeData(const QMimeData *data, Qt::DropAction, int row, int column,
                               const QModelIndex &parent)
{
    if (row == -1 || column == -1 || !parent.isValid() || !data || !data->hasText())
        return false;
    emit textDropped(index(row, column, firstColumn(parent)), data->text());
    return true;
}

void ZorDomModel::setUserLevel(int level)
{
    if (level == m_userLevel)
        return;
    emit layoutAboutToBeChanged();
    m_userLevel = level;
    emit layoutChanged();
}

void ZorDomModel::setGuiMode(int mode)
{
    if (mode == m_guiMode)
        return;
    emit layoutAboutToBeChanged();
    m_guiMode = mode;
    emit layoutChanged();
}

int ZorDomModel::highestStatus() const
{
    int highest = 0;
    for (int code : m_statusCodes)
        highest = qMax(highest, code);
    return highest;
}

void ZorDomModel::setModuleStatus(const QModelIndex &index, int status)
{
    if (!index.isValid() || index.model() != this)
        return;
    if (QThread::currentThread() != thread()) {
        qWarning("ZorDomModel::setModuleStatus called outside the model's thread; "
                 "use postModuleStatus");
        return;
    }
    const QModelIndex row = firstColumn(index);
    if (status == storedStatus(row))
        return;
    emit layoutAboutToBeChanged();
    if (status == 0)
        m_statusCodes.remove(QPersistentModelIndex(row));
    else
        m_statusCodes.insert(QPersistentModelIndex(row), status);
    m_overallStatus = highestStatus();
    emit layoutChanged();
}

void ZorDomModel::setModuleStatusText(const QModelIndex &index, const QString &text)
{
    if (!index.isValid() || index.model() != this)
        return;
    if (QThread::currentThread() != thread()) {
        qWarning("ZorDomModel::setModuleStatusText called outside the model's thread; "
                 "use postModuleStatusText");
        return;
    }
    const QModelIndex row = firstColumn(index);
    if (text == storedStatusText(row))
        return;
    emit layoutAboutToBeChanged();
    if (text.isEmpty())
        m_statusTexts.remove(QPersistentModelIndex(row));
    else
        m_statusTexts.insert(QPersistentModelIndex(row), text);
    emit layoutChanged();
}

QIcon ZorDomModel::moduleIcon(const QModelIndex &index) const
{
    if (!index.isValid())
        return QIcon();
    const QModelIndex row = firstColumn(index);
    const int code = row.parent().isValid() ? storedStatus(row) : m_overallStatus;
    const Band band = bandOf(code);
    const QDomElement element = nodeFromIndex(row).toElement();
    const QString picture = element.attribute(QStringLiteral("icon"));
    if (!picture.isEmpty())
        return customIcon(picture, band);
    return iconTables().byType[band].value(element.attribute(TypeAttr));
}

bool ZorDomModel::appendModule(const QDomNode &element, const QModelIndex &parent)
{
    if (!m_root || !element.isElement() || element.nodeName() != ModuleTag)
        return false;
    const QModelIndex parentRow = firstColumn(parent);
    DomTreeItem *parentItem = parentRow.isValid() ? itemFromIndex(parentRow) : m_root;
    QDomNode node = element;
    if (!node.parentNode().isNull() || node.ownerDocument() != m_document)
        node = m_document.importNode(element, true);
    const int row = parentItem->moduleChildCount();
    beginInsertRows(parentRow, row, row);
    const bool inserted = parentItem->insertChild(row, node);
    endInsertRows();
    return inserted;
}

bool ZorDomModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (!m_root || count <= 0 || row < 0)
        return false;
    const QModelIndex parentRow = firstColumn(parent);
    DomTreeItem *parentItem = parentRow.isValid() ? itemFromIndex(parentRow) : m_root;
    if (row + count > parentItem->moduleChildCount())
        return false;
    beginRemoveRows(parentRow, row, row + count - 1);
    for (int i = 0; i < count; ++i) {
        if (!parentItem->removeChild(row))
            break;
    }
    endRemoveRows();
    dropStatusOfRemovedRows();
    return true;
}

// Removing rows invalidates the persistent indexes of the removed rows and of
// everything below them; their status codes and texts go with them, and the
// overall status is worked out again from what remains.
void ZorDomModel::dropStatusOfRemovedRows()
{
    bool dropped = false;
    for (auto it = m_statusCodes.begin(); it != m_statusCodes.end();) {
        if (it.key().isValid()) {
            ++it;
        } else {
            it = m_statusCodes.erase(it);
            dropped = true;
        }
    }
    for (auto it = m_statusTexts.begin(); it != m_statusTexts.end();) {
        if (it.key().isValid()) {
            ++it;
        } else {
            it = m_statusTexts.erase(it);
            dropped = true;
        }
    }
    if (!dropped)
        return;
    emit layoutAboutToBeChanged();
    m_overallStatus = highestStatus();
    emit layoutChanged();
}

bool ZorDomModel::removeModules(const QString &label, const QString &type, const QModelIndex &index)
{
    if (index.isValid() && label.isEmpty() && type.isEmpty())
        return removeRow(index.row(), index.parent());
    if (label.isEmpty() && type.isEmpty())
        return false;
    const QModelIndex scope = index.isValid() ? firstColumn(index) : this->index(0, 0);
    if (!scope.isValid())
        return false;
    bool removed = false;
    int row = 0;
    while (row < rowCount(scope)) {
        const QModelIndex child = this->index(row, 0, scope);
        const bool matches = (!type.isEmpty() && child.data(TypeRole).toString() == type)
                             || (!label.isEmpty() && child.data(LabelRole).toString() == label);
        if (matches && removeRow(row, scope)) {
            removed = true;
            row = 0;
        } else {
            ++row;
        }
    }
    return removed;
}

bool ZorDomModel::renameModule(const QString &newLabel, const QModelIndex &index,
                               QString *resultLabel)
{
    QDomElement element = nodeFromIndex(index).toElement();
    if (element.isNull() || newLabel.trimmed().isEmpty())
        return false;
    const QModelIndex row = firstColumn(index);
    const QString oldLabel = element.attribute(LabelAttr);
    const QString label = uniqueLabel(newLabel, QStringList(), row.parent());
    element.setAttribute(LabelAttr, label);
    if (!oldLabel.trimmed().isEmpty())
        followRenameInSlaveReferences(oldLabel, label, element.attribute(TypeAttr));
    if (resultLabel)
        *resultLabel = label;
    emit dataChanged(row, row);
    return true;
}

// "slave" elements name a module by label and type. Those in the project's
// modules follow the rename; the templates keep theirs, since they describe
// modules that are yet to be made.
void ZorDomModel::followRenameInSlaveReferences(const QString &oldLabel, const QString &newLabel,
                                                const QString &type)
{
    const QDomElement project = projectElement();
    for (QDomElement top = project.firstChildElement(); !top.isNull();
         top = top.nextSiblingElement()) {
        if (top.tagName() == QLatin1String("templates"))
            continue;
        const QDomNodeList slaves = top.elementsByTagName(QStringLiteral("slave"));
        for (int i = 0; i < slaves.size(); ++i) {
            QDomElement slave = slaves.at(i).toElement();
            if (slave.attribute(LabelAttr) != oldLabel)
                continue;
            const QString slaveType = slave.attribute(TypeAttr);
            if (!slaveType.isEmpty() && !type.isEmpty() && slaveType != type)
                continue;
            slave.setAttribute(LabelAttr, newLabel);
        }
    }
}

QString ZorDomModel::uniqueLabel(const QString &desired, const QStringList &taken,
                                 const QModelIndex &parent) const
{
    QSet<QString> used;
    if (parent.isValid()) {
        DomTreeItem *parentItem = itemFromIndex(firstColumn(parent));
        const int count = parentItem->moduleChildCount();
        for (int i = 0; i < count; ++i)
            used.insert(displayLabel(parentItem->moduleChild(i)->node().toElement()));
    }
    for (const QString &t : taken)
        used.insert(t);
    return firstFreeLabel(desired, used, nullptr);
}

// Counting up never ends in a label that is taken: there are only so many
// taken labels, so a free number is always found (an earlier fallback to a
// time stamp could repeat itself). `nextNumber` remembers, per prefix and
// padding, the number after the last one handed out: while labels are only
// ever added to `used`, every number below it stays taken, so a run of
// labels made from one prefix costs no rescans.
QString ZorDomModel::firstFreeLabel(const QString &desired, const QSet<QString> &used,
                                    QHash<QString, int> *nextNumber)
{
    if (!used.contains(desired))
        return desired;

    QString prefix;
    QString padding;
    int runStart = 0;
    if (endsWithDigit(desired, &runStart)) {
        prefix = desired.left(runStart);
        int zeros = 0;
        while (runStart + zeros < desired.size() && desired.at(runStart + zeros) == QLatin1Char('0'))
            ++zeros;
        padding = QString(zeros, QLatin1Char('0'));
    } else {
        prefix = desired;
        if (prefix.isEmpty() || !prefix.at(prefix.size() - 1).isSpace())
            prefix += QLatin1Char(' ');
    }
    const QString stem = prefix + padding;
    int number = nextNumber ? nextNumber->value(stem, 1) : 1;
    QString candidate = stem + QString::number(number);
    while (used.contains(candidate))
        candidate = stem + QString::number(++number);
    if (nextNumber)
        nextNumber->insert(stem, number + 1);
    return candidate;
}

void ZorDomModel::makeLabelsUnique(QDomElement element, const QModelIndex &parent) const
{
    const QString label = displayLabel(element);
    if (!label.isEmpty())
        element.setAttribute(LabelAttr, uniqueLabel(label, QStringList(), parent));

    // The module elements below, in document order, taken once: a live
    // node list would be rebuilt after every label change.
    QVector<QDomElement> descendants;
    QVector<QDomElement> pending{element};
    while (!pending.isEmpty()) {
        const QDomElement current = pending.takeLast();
        if (current != element && current.tagName() == ModuleTag)
            descendants.append(current);
        QVector<QDomElement> children;
        for (QDomElement child = current.firstChildElement(); !child.isNull();
             child = child.nextSiblingElement())
            children.append(child);
        for (int i = children.size() - 1; i >= 0; --i)
            pending.append(children.at(i));
    }

    QSet<QString> used;
    QHash<QString, int> nextNumber;
    for (QDomElement &module : descendants) {
        const QString own = displayLabel(module);
        if (own.isEmpty())
            continue;
        const QString unique = firstFreeLabel(own, used, &nextNumber);
        module.setAttribute(LabelAttr, unique);
        used.insert(unique);
    }
}

QDomElement ZorDomModel::templateElement(const QString &type)
{
    const QDomElement project = projectElement();
    if (project.isNull())
        return QDomElement();
    const QDomElement templates = project.firstChildElement(QStringLiteral("templates"));
    if (!templates.isNull())
        return findModuleElement(templates, type, type);
    return defaultModuleElement(type);
}

QDomElement ZorDomModel::defaultModuleElement(const QString &type)
{
    struct Default
    {
        const char *type;
        const char *label;
        const char *description;
    };
    static const Default defaults[] = {
        {"datalog_plot", "Scope", "Scope Panel"},
        {"nodeconfig", "Node01", "Node Configuration"},
    };
    for (const Default &d : defaults) {
        if (type != QLatin1String(d.type))
            continue;
        QDomElement element = m_document.createElement(ModuleTag);
        element.setAttribute(LabelAttr, QLatin1String(d.label));
        element.setAttribute(QStringLiteral("description"), QLatin1String(d.description));
        element.setAttribute(TypeAttr, type);
        element.setAttribute(QStringLiteral("userLevel"), QStringLiteral("1"));
        return element;
    }
    return QDomElement();
}

QDomElement ZorDomModel::findModuleElement(const QDomElement &scope, const QString &type,
                                           const QString &label)
{
    const QDomNodeList modules = scope.elementsByTagName(ModuleTag);
    for (int i = 0; i < modules.size(); ++i) {
        const QDomElement module = modules.at(i).toElement();
        if ((!type.isEmpty() && module.attribute(TypeAttr) == type)
            || (!label.isEmpty() && module.attribute(LabelAttr) == label))
            return module;
    }
    return QDomElement();
}

namespace {

void updateDepth(QDomElement element, int depth, bool remove)
{
    if (element.hasAttribute(TypeAttr) && !element.hasAttribute(LabelAttr))
        element.setAttribute(LabelAttr, ZorDomModel::defaultLabel(element.attribute(TypeAttr)));
    if (remove)
        element.removeAttribute(QStringLiteral("moduleDepth"));
    else
        element.setAttribute(QStringLiteral("moduleDepth"), QString::number(depth));
    for (QDomElement child = element.firstChildElement(ModuleTag); !child.isNull();
         child = child.nextSiblingElement(ModuleTag))
        updateDepth(child, depth + 1, remove);
}

}

void ZorDomModel::updateModuleDepths(bool remove)
{
    DomTreeItem *project = m_root ? m_root->moduleChild(0) : nullptr;
    if (project)
        updateDepth(project->node().toElement(), 0, remove);
}
