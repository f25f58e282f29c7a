// Module properties: named text values kept in three maps under one mutex,
// stored in the module's element of the project XML ("properties" child, one
// element per key) and announced to the master on request.
#include "zormodule.h"

#include "zorabstractdommodel.h"
#include "zorxmlname.h"

#include <QDomNode>

QString ZorModule::propertyKey(const QString &name)
{
    // A name is taken whole: cutting it at its first blank would store
    // "1 bad key" under the key "1", over another property's value. Only
    // what follows a blank and a sign is decoration: a unit or hint such as
    // "[mm]", "(s)" or "/ my target position".
    const QString trimmed = name.trimmed();
    for (int i = 0; i + 1 < trimmed.size(); ++i) {
        if (!trimmed.at(i).isSpace())
            continue;
        int next = i + 1;
        while (next < trimmed.size() && trimmed.at(next).isSpace())
            ++next;
        const QChar sign = trimmed.at(next);
        if (!sign.isLetterOrNumber() && sign != QLatin1Char('_'))
            return trimmed.left(i).trimmed();
        i = next - 1;
    }
    return trimmed;
}

bool ZorModule::setProperty(const QString &name, const QString &givenValue, bool notify,
                            bool asDefault)
{
    std::lock_guard<std::recursive_mutex> locker(propertyMutex);
    const QString key = propertyKey(name);
    QString value = givenValue;
    if (value.isEmpty() && !asDefault) {
        auto it = propertyDefaults.constFind(key);
        if (it != propertyDefaults.constEnd())
            value = *it;
    }
    const bool result = propertyChanged(key, value);
    if (asDefault)
        propertyDefaults.insert(key, value);
    if (!propertyDisplayNames.contains(key))
        propertyDisplayNames.insert(key, name);
    properties.insert(key, value);

    // The project document belongs to the model's thread: the write is
    // carried out there.
    if (boundToItem && domModel && !key.isEmpty())
        domModel->postModuleProperty(m_modelIndex, key, value);

    if (notify) {
        ZorMessage notice(KM_SETPROPERTY, KS_INFO, key + QLatin1Char('=') + value);
        notice.setOrigin(label());
        appendToMaster(notice);
    }
    return result;
}

QString ZorModule::property(const QString &name) const
{
    std::lock_guard<std::recursive_mutex> locker(propertyMutex);
    return properties.value(propertyKey(name));
}

QString ZorModule::allPropertiesText() const
{
    std::lock_guard<std::recursive_mutex> locker(propertyMutex);
    QStringList lines;
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
        lines << propertyDisplayNames.value(it.key(), it.key()) + QLatin1Char('=') + it.value();
    return lines.join(QLatin1Char('\n'));
}

bool ZorModule::loadProperties()
{
    std::lock_guard<std::recursive_mutex> locker(propertyMutex);
    if (!domModel || !m_modelIndex.isValid())
        return false;
    const QDomElement element = domModel->nodeFromIndex(m_modelIndex).toElement();
    const QDomElement props = element.firstChildElement(QStringLiteral("properties"));
    if (props.isNull())
        return false;
    bool read = false;
    for (QDomNode node = props.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomNode first = node.firstChild();
        if (!first.isText())
            continue;
        const QString key = ZorXmlName::decode(node.nodeName());
        if (!propertyDisplayNames.contains(key))
            propertyDisplayNames.insert(key, key);
        properties.insert(key, first.nodeValue());
        read = true;
    }
    return read;
}
