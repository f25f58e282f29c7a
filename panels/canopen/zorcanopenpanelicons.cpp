#include "zorcanopenpanelicons.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initCanopenPanelResources()
{
    Q_INIT_RESOURCE(zorpanelscanopen);
}

void ZorCanopenPanelIcons::init()
{
    static std::once_flag once;
    std::call_once(once, initCanopenPanelResources);
}
