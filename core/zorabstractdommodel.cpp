#include "zorabstractdommodel.h"

#include "zorxmlname.h"

#include <QMetaObject>

ZorAbstractDomModel::ZorAbstractDomModel(QObject *parent)
    : QAbstractItemModel(parent)
{
}

// The post* calls hand their values over as queued-call arguments; the slots
// below then run in the model's thread.
void ZorAbstractDomModel::postModuleStatus(const QPersistentModelIndex &index, int status)
{
    QMetaObject::invokeMethod(this, "applyModuleStatus", Qt::QueuedConnection,
                              Q_ARG(QPersistentModelIndex, index), Q_ARG(int, status));
}

void ZorAbstractDomModel::postModuleStatusText(const QPersistentModelIndex &index,
                                               const QString &text)
{
    QMetaObject::invokeMethod(this, "applyModuleStatusText", Qt::QueuedConnection,
                              Q_ARG(QPersistentModelIndex, index), Q_ARG(QString, text));
}

void ZorAbstractDomModel::postModuleProperty(const QPersistentModelIndex &index,
                                             const QString &key, const QString &value)
{
    QMetaObject::invokeMethod(this, "applyModuleProperty", Qt::QueuedConnection,
                              Q_ARG(QPersistentModelIndex, index), Q_ARG(QString, key),
                              Q_ARG(QString, value));
}

void ZorAbstractDomModel::applyModuleStatus(const QPersistentModelIndex &index, int status)
{
    if (index.isValid())
        setModuleStatus(index, status);
}

void ZorAbstractDomModel::applyModuleStatusText(const QPersistentModelIndex &index,
                                                const QString &text)
{
    if (index.isValid())
        setModuleStatusText(index, text);
}

void ZorAbstractDomModel::applyModuleProperty(const QPersistentModelIndex &index,
                                              const QString &key, const QString &value)
{
    if (index.isValid())
        writeModuleProperty(index, key, value);
}

void ZorAbstractDomModel::writeModuleProperty(const QModelIndex &index, const QString &key,
                                              const QString &value)
{
    QDomElement element = nodeFromIndex(index).toElement();
    if (element.isNull() || key.isEmpty())
        return;
    QDomDocument doc = document();
    QDomElement props = element.firstChildElement(QStringLiteral("properties"));
    if (props.isNull())
        props = element.appendChild(doc.createElement(QStringLiteral("properties"))).toElement();
    // Keys that are no plain XML name are stored under an encoded name; an
    // element that an earlier edition wrote raw for the key takes it.
    const QString name = ZorXmlName::encode(key);
    QDomElement item = props.firstChildElement(name);
    if (item.isNull() && name != key)
        item = props.firstChildElement(key);
    if (!item.isNull() && item.tagName() != name)
        item.setTagName(name);
    if (item.isNull()) {
        item = props.appendChild(doc.createElement(name)).toElement();
        item.appendChild(doc.createTextNode(value));
    } else if (!item.hasChildNodes()) {
        item.appendChild(doc.createTextNode(value));
    } else if (item.firstChild().nodeValue() != value) {
        item.firstChild().setNodeValue(value);
    } else {
        return;
    }
    // Pseudo-properties ("_ReadOnly", ...) describe the running module and
    // are no change the user made to the project.
    if (!key.startsWith(QLatin1Char('_')))
        emit documentEdited();
}
