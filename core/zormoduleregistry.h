// The module table of a project: module type key -> creator of a module of
// that type. Filled once (each key registered at most once, the first
// creator stays) before the module host starts; read by the host.
#pragma once

#include "zormodule.h"

#include <QMap>
#include <QStringList>

class ZorModuleRegistry
{
public:
    // Registers a creator under a key unless the key is taken; false then.
    bool add(const QString &key, const ZorModuleCreator &creator);
    template<class Module>
    bool add(const QString &key)
    {
        return add(key, [](QObject *parent) -> ZorModule * { return new Module(parent); });
    }

    bool contains(const QString &key) const { return m_creators.contains(key); }
    QStringList keys() const { return m_creators.keys(); }
    // A new module of that type, or null for a key without creator.
    ZorModule *create(const QString &key, QObject *parent = nullptr) const
    {
        return ZorModule::createByType(m_creators, key, parent);
    }
    const QMap<QString, ZorModuleCreator> &creators() const { return m_creators; }

private:
    QMap<QString, ZorModuleCreator> m_creators;
};
