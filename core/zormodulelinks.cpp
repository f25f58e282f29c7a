// Master/slave links. A master commands its slaves through masterOut ->
// slaveIn and hears from them through slaveOut -> masterIn. A link to a slave
// of a type with a via creator passes through a via module that the master
// creates as its QObject child (a node module reaches a CAN interface through
// its own CANopen gateway). Which modules are slaves of which is stored as
// "slave" elements (attributes label and type) of the master's element.
//
// Everything here runs in the host thread, where all module objects live.
#include "zormodule.h"

#include "zorabstractdommodel.h"

#include <QDebug>

namespace {

const QString slaveTag = QStringLiteral("slave");
const QString labelAttribute = QStringLiteral("label");
const QString typeAttribute = QStringLiteral("type");

std::mutex &gatewayMutex()
{
    static std::mutex mutex;
    return mutex;
}

ZorModuleCreator &gatewayCreator()
{
    static ZorModuleCreator creator;
    return creator;
}

QString describe(const ZorModule *module)
{
    return QStringLiteral("\"%1\" (%2)").arg(module->label(), module->type());
}

} // namespace

void ZorModule::setCanOpenGatewayCreator(const ZorModuleCreator &creator)
{
    std::lock_guard<std::mutex> locker(gatewayMutex());
    gatewayCreator() = creator;
}

bool ZorModule::addViaCreator(const QString &slaveType, const ZorModuleCreator &creator)
{
    if (viaFactories.contains(slaveType))
        return false;
    viaFactories.insert(slaveType, creator);
    return true;
}

bool ZorModule::addGatewayForMasterType(const QString &slaveType)
{
    return addViaCreator(slaveType, [](QObject *master) -> ZorModule * {
        ZorModuleCreator creator;
        {
            std::lock_guard<std::mutex> locker(gatewayMutex());
            creator = gatewayCreator();
        }
        return creator ? creator(master) : nullptr;
    });
}

QDomElement ZorModule::moduleElement() const
{
    if (!boundToItem || !domModel || !m_modelIndex.isValid())
        return QDomElement();
    return domModel->nodeFromIndex(m_modelIndex).toElement();
}

void ZorModule::setupSlaves(const ZorModuleMap &modules)
{
    qDebug().noquote() << "ZorModule slave setup" << ('"' + label() + '"');
    const QDomElement element = moduleElement();
    if (element.isNull()) {
        qDebug().noquote() << "ZorModule slave setup end" << label();
        return;
    }

    QList<ZorModule *> candidates;
    for (auto it = modules.constBegin(); it != modules.constEnd(); ++it) {
        if (it.key().isValid() && it.value())
            candidates << it.value();
    }

    // Slaves named in the project, by label and type, else by type alone.
    QMap<QString, ZorModule *> newSlaves;
    for (QDomElement s = element.firstChildElement(slaveTag); !s.isNull(); s = s.nextSiblingElement(slaveTag)) {
        const QString slaveLabel = s.attribute(labelAttribute);
        const QString slaveType = s.attribute(typeAttribute);
        ZorModule *found = nullptr;
        for (ZorModule *m : qAsConst(candidates)) {
            if (m->label() == slaveLabel && m->type() == slaveType) {
                found = m;
                break;
            }
        }
        if (!found) {
            for (ZorModule *m : qAsConst(candidates)) {
                if (m->type() == slaveType) {
                    found = m;
                    break;
                }
            }
        }
        if (found)
            newSlaves.insert(found->label(), found);
    }

    // Slaves of the types this module accepts.
    QStringList taken;
    QStringList excluded;
    for (const QString &rawItem : acceptedSlaveTypes().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString item = rawItem.trimmed();
        if (item.isEmpty())
            continue;
        if (item == QLatin1String("*")) {
            for (ZorModule *m : qAsConst(candidates)) {
                if (m != this)
                    newSlaves.insert(m->label(), m);
            }
        } else if (item.endsWith(QLatin1Char('-'))) {
            excluded << item.left(item.size() - 1);
        } else if (item.endsWith(QLatin1Char('+'))) {
            const QString itemType = item.left(item.size() - 1);
            for (ZorModule *m : qAsConst(candidates)) {
                if (m != this && m->type() == itemType && !taken.contains(m->label())) {
                    newSlaves.insert(m->label(), m);
                    taken << m->label();
                }
            }
        } else {
            bool found = false;
            for (auto it = newSlaves.constBegin(); it != newSlaves.constEnd(); ++it) {
                if (it.value()->type() == item && !taken.contains(it.key())) {
                    taken << it.key();
                    found = true;
                    break;
                }
            }
            if (!found) {
                for (ZorModule *m : qAsConst(candidates)) {
                    if (m != this && m->type() == item && !taken.contains(m->label())) {
                        newSlaves.insert(m->label(), m);
                        taken << m->label();
                        break;
                    }
                }
            }
        }
    }

    removeAllSlaves();
    for (ZorModule *slave : qAsConst(newSlaves)) {
        if (!excluded.contains(slave->type()))
            addSlave(slave);
    }
    qDebug().noquote() << "ZorModule slave setup end" << label();
}

bool ZorModule::addSlave(ZorModule *slave)
{
    if (!slave || slave->refusesMaster())
        return false;
    const QString slaveLabel = slave->label();
    removeSlave(slaveLabel);
    slaves.insert(slaveLabel, slave);
    updateSlaveTypes();
    connectSlave(slave);

    QDomElement element = moduleElement();
    if (!element.isNull()) {
        QDomElement s = domModel->document().createElement(slaveTag);
        s.setAttribute(labelAttribute, slaveLabel);
        s.setAttribute(typeAttribute, slave->type());
        qDebug().noquote() << "Add slave" << slaveLabel << "to" << element.attribute(labelAttribute);
        element.appendChild(s);
    }
    return true;
}

QMap<QString, QString> ZorModule::slaveTypes() const
{
    std::lock_guard<std::mutex> lock(slaveTypesMutex);
    return slaveTypesCopy;
}

void ZorModule::updateSlaveTypes()
{
    QMap<QString, QString> copy;
    for (auto it = slaves.cbegin(); it != slaves.cend(); ++it)
        copy.insert(it.key(), it.value() ? it.value()->type() : QString());
    std::lock_guard<std::mutex> lock(slaveTypesMutex);
    slaveTypesCopy = copy;
}

bool ZorModule::removeSlave(const QString &slaveLabel)
{
    auto it = slaves.find(slaveLabel);
    if (it == slaves.end())
        return false;
    // By the label it was attached under: the slave may have been renamed
    // since, or deleted (then its via module must go too).
    ZorModule *slave = it.value().data();
    if (viaModules.contains(slaveLabel))
        dropViaModule(slaveLabel, slave);
    else if (slave)
        disconnectDirect(slave);
    slaves.erase(it);
    updateSlaveTypes();

    QDomElement element = moduleElement();
    for (QDomElement s = element.firstChildElement(slaveTag); !s.isNull(); s = s.nextSiblingElement(slaveTag)) {
        if (s.attribute(labelAttribute) == slaveLabel) {
            element.removeChild(s);
            break;
        }
    }
    return true;
}

bool ZorModule::removeAllSlaves()
{
    const bool hadSlaves = !slaves.isEmpty();
    for (const QString &slaveLabel : slaves.keys())
        removeSlave(slaveLabel);
    QDomElement element = moduleElement();
    QDomElement s = element.firstChildElement(slaveTag);
    while (!s.isNull()) {
        QDomElement next = s.nextSiblingElement(slaveTag);
        element.removeChild(s);
        s = next;
    }
    return hadSlaves;
}

void ZorModule::connectSlave(ZorModule *slave)
{
    const auto link = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);
    const ZorModuleCreator creator = viaFactories.value(slave->type());
    ZorModule *via = creator ? creator(this) : nullptr;
    if (via) {
        // Set up before its thread runs: these widen its recipient filter.
        via->isVia = true;
        via->viaSlaveLabel = slave->label();
        via->viaSlaveType = slave->type();
        via->viaSlaveModule = slave;
        viaModules.insert(slave->label(), via);
        via->addExpressLink(slave);
        via->start();
        qDebug().noquote() << "connecting ZorModule Master" << describe(this) << "with Slave"
                           << describe(slave) << "via" << describe(via);
        connect(this, &ZorModule::masterOut, via, &ZorModule::slaveIn, link);
        connect(via, &ZorModule::slaveOut, this, &ZorModule::masterIn, link);
        connect(via, &ZorModule::masterOut, slave, &ZorModule::slaveIn, link);
        connect(slave, &ZorModule::slaveOut, via, &ZorModule::masterIn, link);
    } else {
        qDebug().noquote() << "connecting ZorModule Master" << describe(this) << "with Slave"
                           << describe(slave);
        connect(this, &ZorModule::masterOut, slave, &ZorModule::slaveIn, link);
        connect(slave, &ZorModule::slaveOut, this, &ZorModule::masterIn, link);
    }
}

void ZorModule::disconnectSlave(ZorModule *slave)
{
    if (!slave)
        return;
    const QString attachedAs = slaves.key(slave, slave->label());
    if (viaModules.contains(attachedAs))
        dropViaModule(attachedAs, slave);
    else
        disconnectDirect(slave);
}

void ZorModule::disconnectDirect(ZorModule *slave)
{
    qDebug().noquote() << "disconnecting ZorModule Master" << describe(this) << "from Slave"
                       << describe(slave);
    disconnect(this, &ZorModule::masterOut, slave, &ZorModule::slaveIn);
    disconnect(slave, &ZorModule::slaveOut, this, &ZorModule::masterIn);
}

void ZorModule::dropViaModule(const QString &slaveLabel, ZorModule *slave)
{
    ZorModule *via = viaModules.take(slaveLabel).data();
    if (!via)
        return;
    qDebug().noquote() << "disconnecting ZorModule Master" << describe(this) << "from Slave"
                       << (slave ? describe(slave) : ('"' + slaveLabel + '"')) << "via" << describe(via);
    via->cutExpressLinks();
    disconnect(this, nullptr, via, nullptr);
    disconnect(via, nullptr, this, nullptr);
    if (slave) {
        disconnect(via, nullptr, slave, nullptr);
        disconnect(slave, nullptr, via, nullptr);
    }
    via->stop();
    delete via;
}
