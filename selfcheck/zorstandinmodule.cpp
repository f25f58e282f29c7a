#include "zorstandinmodule.h"

namespace StandInStates {

void Root::cycle()
{
    ZorModule *m = module();
    if (!m)
        return;
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
    }
    while (m->getMessage(ZorModule::FromSlaves, message)) {
    }
}

} // namespace StandInStates

ZorStandInModule::ZorStandInModule(const QString &acceptedTypes, QObject *parent)
    : ZorModule(parent), accepted(acceptedTypes)
{
}

ZorStandInModule::~ZorStandInModule()
{
    stop();
}

Macho::StateRef ZorStandInModule::rootStateRef() const
{
    return StandInStates::Root::makeStateRef();
}
