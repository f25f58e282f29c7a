#include "zormodcommchannel.h"

#include "zormodcommchannelstates.h"

const char *const ZorModCommChannel::EndpointProperty = "CommChannel [IP address:TCP Port]";
const char *const ZorModCommChannel::ModeProperty = "Mode [0:ASCII, 1:Binary]";

ZorModCommChannel::ZorModCommChannel(QObject *parent)
    : ZorModule(parent)
{
    setProperty(QLatin1String(EndpointProperty), QStringLiteral("192.168.1.100:10001"));
    setProperty(QLatin1String(ModeProperty), QStringLiteral("0"));
    setProperty(QStringLiteral("ManualCommand"), QString());
    setProperty(QStringLiteral("ManualCommandAnswer"), QString());
    setProperty(QStringLiteral("ConnectedStatusSet"), QString());
}

ZorModCommChannel::~ZorModCommChannel()
{
    // The states use the channel and the properties until the thread ends.
    stop();
}

Macho::StateRef ZorModCommChannel::rootStateRef() const
{
    return CommChannelStates::CommRoot::makeStateRef();
}

ZorModule *createCommChannelModule(QObject *parent)
{
    return new ZorModCommChannel(parent);
}
