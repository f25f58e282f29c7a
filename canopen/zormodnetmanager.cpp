#include "zormodnetmanager.h"

#include "zormodnetmanagerstates.h"

#include <new>

namespace {

const int DefaultManagerTimings[ZorModNetManager::ManagerTimingCount] = {30000, 30000, 3000};

} // namespace

ZorModNetManager::ZorModNetManager(QObject *parent)
    : ZorModNode(parent)
{
    for (int i = 0; i < ManagerTimingCount; ++i)
        managerTimings[i] = DefaultManagerTimings[i];
    setProperty(QStringLiteral("ProjectTypes"),
                QStringLiteral("0xc0ffee:drive_canopen, Pellicorn:drive_ruxa, default:nodeconfig"), false, true);
    setProperty(QStringLiteral("LastScanIds"), QString(), false, true);
    setProperty(QStringLiteral("ConfigurableIds"), QString(), false, true);
    setProperty(QStringLiteral("ProjectLabelsCreated"), QString(), false, true);
}

ZorModNetManager::~ZorModNetManager()
{
    stop();
}

QString ZorModNetManager::acceptedSlaveTypes() const
{
    return QStringLiteral("ethernet,canusb,kelvatro,drive_tamrix+,drive_canopen+,drive_ruxa+,nodeconfig+");
}

Macho::StateRef ZorModNetManager::rootStateRef() const
{
    return ZorNodeStates::MgrRoot::makeStateRef();
}

bool ZorModNetManager::refusesMaster() const
{
    return true;
}

void ZorModNetManager::setManagerTiming(ManagerTiming which, int ms)
{
    if (which >= 0 && which < ManagerTimingCount)
        managerTimings[which] = qMax(0, ms);
}

int ZorModNetManager::managerTiming(ManagerTiming which) const
{
    return which >= 0 && which < ManagerTimingCount ? managerTimings[which].load() : 0;
}

ZorModule *createNetManagerModule(QObject *parent)
{
    return new (std::nothrow) ZorModNetManager(parent);
}
