#include "zormoduleregistry.h"

bool ZorModuleRegistry::add(const QString &key, const ZorModuleCreator &creator)
{
    if (m_creators.contains(key))
        return false;
    m_creators.insert(key, creator);
    return true;
}
