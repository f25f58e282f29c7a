#include "zorqmlinterface.h"

#include "zorapplfiles.h"
#include "zordevicedescmodel.h"
#include "zorobjeditmodel.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QQuickItem>
#include <QQuickWidget>
#include <QSet>
#include <QTextStream>

namespace {

const int DataObjectIdRole = ZorDeviceDescModel::DataObjectIdRole;

// True when `path` lies below `root` (both clean and absolute).
bool isBelow(const QString &path, const QString &root)
{
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.startsWith(prefix);
}

// The canonical form of a path that may not exist yet: its deepest existing
// folder resolved (links followed), the rest appended as written. Empty when
// a part of it is a link that leads nowhere: what a write creates there
// lies wherever the link points, which no check of the written form sees.
QString canonicalOfMaybeMissing(const QString &cleanAbsolute)
{
    QString existing = cleanAbsolute;
    QString rest;
    while (!QFileInfo::exists(existing)) {
        if (QFileInfo(existing).isSymLink())
            return QString();
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return cleanAbsolute;
        rest = existing.mid(slash) + rest;
        existing = existing.left(slash);
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return canonical.isEmpty() ? cleanAbsolute : QDir::cleanPath(canonical + rest);
}

}

ZorQmlInterface::ZorQmlInterface()
{
    ZorMessage::registerMetaType();
    m_collectTimer.setSingleShot(true);
    m_collectTimer.setInterval(CollectDelayMs);
    m_valueTimer.setSingleShot(true);
    m_valueTimer.setInterval(ValueBatchMs);
    connect(&m_collectTimer, &QTimer::timeout, this, &ZorQmlInterface::updateModelFromQmlInstances);
    connect(&m_valueTimer, &QTimer::timeout, this, &ZorQmlInterface::processPendingValueUpdates);
}

ZorQmlInterface::~ZorQmlInterface() = default;

// --- binding -------------------------------------------------------------------------------

void ZorQmlInterface::setModel(ZorObjEditModel *model)
{
    if (m_model == model)
        return;
    QObject::disconnect(m_dataChangedConnection);
    m_model = model;
    if (model)
        m_dataChangedConnection = connect(model, &QAbstractItemModel::dataChanged, this,
                                          &ZorQmlInterface::modelDataChanged);
}

void ZorQmlInterface::setView(QQuickWidget *view)
{
    m_view = view;
}

void ZorQmlInterface::clearModel()
{
    m_view = nullptr;
    QObject::disconnect(m_dataChangedConnection);
    m_model = nullptr;
}

// --- messages ------------------------------------------------------------------------------

void ZorQmlInterface::zorMessageIn(ZorMessage msg)
{
    const QString text = msg.toString(2);
    if (!text.isEmpty())
        emit messageStrIn(text);
}

void ZorQmlInterface::qmlMessageStrOut(QString text)
{
    const ZorMessage read(text, 1);
    if (read.hasRecipient()) {
        // The module reads the text again and passes it on to the named slave.
        emit zorMessageOut(ZorMessage(KM_MASTER_OUT, KS_REQUEST, text));
        return;
    }
    if (read.msgType() != KM_UNDEFINED)
        emit zorMessageOut(read);
}

// --- values --------------------------------------------------------------------------------

void ZorQmlInterface::qmlValueChanged(QString dataObjectId, QString value)
{
    if (!m_model)
        return;
    const QModelIndex row = m_model->findDataObject(dataObjectId);
    if (row.isValid())
        m_model->setData(row.sibling(row.row(), ValueColumn), value, Qt::EditRole);
}

void ZorQmlInterface::modelDataChanged(QModelIndex topLeft, QModelIndex bottomRight)
{
    if (!m_model || !topLeft.isValid() || !bottomRight.isValid())
        return;
    auto touched = [&](int column) {
        return topLeft.column() <= column && bottomRight.column() >= column;
    };
    const bool describes = touched(NameColumn) || touched(UiFormatColumn) || touched(InstancesColumn);
    const bool value = touched(ValueColumn) || touched(ScalingColumn);
    const bool status = touched(StatusColumn);
    if (!describes && !value && !status)
        return;
    for (int r = topLeft.row(); r <= bottomRight.row(); ++r) {
        const QModelIndex valueCell = topLeft.sibling(r, ValueColumn);
        const QString id = valueCell.data(DataObjectIdRole).toString();
        if (id.isEmpty())
            continue;
        if (describes && !m_syncing)
            emit modelChangeNotify(id);
        if (value)
            queueValue(id, valueCell);
        if (status && valueCell.data(ZorObjEditModel::StatusCodeRole).toInt() == StatusOk)
            queueValue(id, valueCell);
    }
}

void ZorQmlInterface::queueValue(const QString &id, const QModelIndex &valueCell)
{
    m_pendingValues.insert(id, valueCell.data(Qt::DisplayRole).toString());
    m_valueTimer.start();
}

void ZorQmlInterface::processPendingValueUpdates()
{
    // Take the batch first: a QML handler may change the table again.
    const QMap<QString, QString> batch = m_pendingValues;
    m_pendingValues.clear();
    for (auto it = batch.cbegin(); it != batch.cend(); ++it)
        emit modelValueChanged(it.key(), it.value());
}

// --- instances -----------------------------------------------------------------------------

void ZorQmlInterface::qmlInstanceClosed(QString, QString)
{
    m_collectTimer.start();
}

void ZorQmlInterface::qmlInstancePositionChanged(QString, QString, int, int)
{
    m_collectTimer.start();
}

QString ZorQmlInterface::collectedControlData() const
{
    QObject *root = m_view ? m_view->rootObject() : nullptr;
    if (!root || root->metaObject()->indexOfMethod("collectChildControlData()") < 0)
        return QString();
    QVariant result;
    if (!QMetaObject::invokeMethod(root, "collectChildControlData", Qt::AutoConnection,
                                   Q_RETURN_ARG(QVariant, result)))
        return QString();
    return result.toString();
}

void ZorQmlInterface::updateModelFromQmlInstances()
{
    if (!m_view || !m_model)
        return;
    m_syncing = true;

    // Instances grouped by data-object id, in the order the screen lists them.
    QHash<QString, QStringList> groups;
    for (const QString &entry : collectedControlData().split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int comma = entry.indexOf(QLatin1Char(','));
        const QString key = entry.left(comma).toLower().trimmed();
        groups[key] << (comma < 0 ? QString() : entry.mid(comma + 1));
    }

    QSet<QString> handled;
    int row = 0;
    while (m_model && row < m_model->rowCount()) {
        const QModelIndex cell = m_model->index(row, InstancesColumn);
        const QString id = cell.data(DataObjectIdRole).toString().toLower().trimmed();
        const auto group = groups.constFind(id);
        if (!handled.contains(id) && group != groups.cend()) {
            m_model->setData(cell, group->join(QLatin1Char(';')), Qt::EditRole);
            handled.insert(id);
            ++row;
        } else if (!m_model->removeRow(row)) {
            ++row; // a row the table keeps must not stop the pass
        }
    }
    m_syncing = false;
}

void ZorQmlInterface::createInstancesOfRow(int row)
{
    if (!m_model)
        return;
    const QModelIndex valueCell = m_model->index(row, ValueColumn);
    const QString id = valueCell.data(DataObjectIdRole).toString();
    const QString format = m_model->index(row, UiFormatColumn).data().toString();
    const QString name = m_model->index(row, NameColumn).data().toString();
    const QString value = valueCell.data().toString();
    const QString instances = m_model->index(row, InstancesColumn).data().toString();
    if (format.trimmed().isEmpty() || instances.trimmed().isEmpty())
        return;
    const QVariantMap parsed = parseUiFormat(format);
    for (const QString &instance : instances.split(QLatin1Char(';')))
        emit dynamicUiCreateRequested(instance, id, parsed, name, value);
}

void ZorQmlInterface::createAllInstances()
{
    for (int row = 0; m_model && row < m_model->rowCount(); ++row)
        createInstancesOfRow(row);
}

QVariantMap ZorQmlInterface::parseUiFormat(const QString &format)
{
    QVariantMap map;
    for (const QString &part : format.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList fields = part.split(QLatin1Char(':'));
        if (fields.size() == 2)
            map.insert(fields.at(0).toLower().trimmed(), fields.at(1).trimmed());
    }
    return map;
}

// --- files and clipboard -------------------------------------------------------------------

QString ZorQmlInterface::projectFilePath(const QString &path, QString *error)
{
    QString p = path.trimmed();
    if (p.isEmpty()) {
        if (error)
            *error = tr("no file name given");
        return QString();
    }
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    ZorApplServices::makeAbsoluteToWorkingDir(p);
    const QString root = QDir::cleanPath(ZorApplServices::workingDir());
    const QString absolute = QDir::cleanPath(QDir(root).absoluteFilePath(p));
    // Written and resolved forms both: ".." and links may not lead out.
    const QString canonicalRoot = canonicalOfMaybeMissing(root);
    const QString canonical = canonicalOfMaybeMissing(absolute);
    if (canonical.isEmpty() && isBelow(absolute, root)) {
        if (error)
            *error = tr("\"%1\" is a link that leads nowhere").arg(path);
        return QString();
    }
    if (!isBelow(absolute, root) || !isBelow(canonical, canonicalRoot)) {
        if (error)
            *error = tr("\"%1\" is outside the project folder \"%2\"").arg(path, root);
        return QString();
    }
    return absolute;
}

QString ZorQmlInterface::readFile(QString path)
{
    QString error;
    const QString file = projectFilePath(path, &error);
    if (file.isEmpty()) {
        const QString text = tr("QML: readFile refused: %1").arg(error);
        qWarning().noquote() << text;
        emit accessRefused(text);
        return QString();
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&f);
    stream.setCodec("UTF-8");
    return stream.readAll();
}

void ZorQmlInterface::writeFile(QString path, QString text, bool append)
{
    QString error;
    const QString file = projectFilePath(path, &error);
    if (file.isEmpty()) {
        const QString text = tr("QML: writeFile refused: %1").arg(error);
        qWarning().noquote() << text;
        emit accessRefused(text);
        return;
    }
    const QString folder = QFileInfo(file).path();
    if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
        qWarning().noquote() << tr("QML: writeFile could not create the folder \"%1\"").arg(folder);
        return;
    }
    QFile f(file);
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Text
        | (append ? QIODevice::Append : QIODevice::Truncate);
    if (!f.open(mode)) {
        qWarning().noquote() << tr("QML: writeFile could not open \"%1\": %2").arg(file, f.errorString());
        return;
    }
    QTextStream stream(&f);
    stream.setCodec("UTF-8");
    stream << text;
    stream.flush();
    f.close();
}

void ZorQmlInterface::writeFile(QString path, QString text)
{
    writeFile(path, text, false);
}

void ZorQmlInterface::copyToClipboard(QString text)
{
    QGuiApplication::clipboard()->setText(text);
}

QString ZorQmlInterface::getClipboardContents()
{
    return QGuiApplication::clipboard()->text();
}
