#include "zormodnode.h"

#include "zornodestates.h"

#include <new>

namespace {

const int DefaultTimings[ZorModNode::TimingCount] = {15000, 0, 500, 5000};

} // namespace

ZorModNode::ZorModNode(QObject *parent)
    : ZorModule(parent)
{
    for (int i = 0; i < TimingCount; ++i)
        timings[i] = DefaultTimings[i];
    setProperty(QStringLiteral("NodeId"), QStringLiteral("0"), false, true);
    setProperty(QStringLiteral("StoreCmd"), QStringLiteral("w,1010h,1h,unsigned32,0x65766173"), false, true);
    setProperty(QStringLiteral("ResetCmd"), QStringLiteral("w,1011h,1h,unsigned32,0x64616f6c"), false, true);
    setProperty(QStringLiteral("ForwardSlaveMessages"), QStringLiteral("0"), false, true);
    setProperty(QStringLiteral("AccessKeyDefinitions"), QString(), false, true);
    setProperty(QStringLiteral("AccessKeySet"), QString(), false, true);
    for (const char *type : {"canusb", "ethernet", "kelvatro"})
        addGatewayForMasterType(QLatin1String(type));
}

ZorModNode::~ZorModNode()
{
    stop();
}

QString ZorModNode::acceptedSlaveTypes() const
{
    return QStringLiteral("canusb,kelvatro,ethernet");
}

Macho::StateRef ZorModNode::rootStateRef() const
{
    return ZorNodeStates::NodeRoot::makeStateRef();
}

void ZorModNode::setTiming(Timing which, int ms)
{
    if (which >= 0 && which < TimingCount)
        timings[which] = qMax(0, ms);
}

int ZorModNode::timing(Timing which) const
{
    return which >= 0 && which < TimingCount ? timings[which].load() : 0;
}

int ZorModNode::defaultTiming(Timing which)
{
    return which >= 0 && which < TimingCount ? DefaultTimings[which] : 0;
}

ZorModule *createNodeModule(QObject *parent)
{
    return new (std::nothrow) ZorModNode(parent);
}
