#include "zormodcanopengateway.h"

#include "zorbabelfish.h"
#include "zormodcanopengatewaystates.h"

#include <new>

namespace {

const int DefaultTimings[ZorModCanOpenGateway::TimingCount] = {5000, 2000, 1000, 2000, 2000, 400, 500, 250};

} // namespace

ZorModCanOpenGateway::ZorModCanOpenGateway(QObject *parent)
    : ZorModule(parent)
{
    for (int i = 0; i < TimingCount; ++i)
        timings[i] = DefaultTimings[i];
    setProperty(QStringLiteral("BaseIdTransmitSDO"), QStringLiteral("0x580"), false, true);
    setProperty(QStringLiteral("BaseIdReceiveSDO"), QStringLiteral("0x600"), false, true);
    setProperty(QStringLiteral("LssRequestId"), QStringLiteral("0x7e5"), false, true);
    setProperty(QStringLiteral("LssResponseId"), QStringLiteral("0x7e4"), false, true);
    setProperty(QStringLiteral("ForwardCanFrames"), QStringLiteral("0"), false, true);
}

ZorModCanOpenGateway::~ZorModCanOpenGateway()
{
    stop();
}

QString ZorModCanOpenGateway::type() const
{
    return QStringLiteral("canopen_gateway");
}

QString ZorModCanOpenGateway::description() const
{
    return QStringLiteral("canopen_gateway");
}

QString ZorModCanOpenGateway::label() const
{
    return isViaModule() ? viaLabel() + QStringLiteral("_canopen_gateway") : QStringLiteral("canopen_gateway");
}

Macho::StateRef ZorModCanOpenGateway::rootStateRef() const
{
    return CanOpenGateway::Root::makeStateRef();
}

void ZorModCanOpenGateway::noteExchangeSent(int msgId)
{
    std::lock_guard<std::mutex> locker(exchangesMutex);
    exchangesOut.insert(msgId);
}

void ZorModCanOpenGateway::noteExchangeAnswered(int msgId)
{
    std::lock_guard<std::mutex> locker(exchangesMutex);
    exchangesOut.remove(msgId);
}

bool ZorModCanOpenGateway::claimsSlaveAnswer(const ZorMessage &message)
{
    if (message.msgType() != KM_INTERVIEW || message.isRequest())
        return false;
    // Taken from the list of those under way: the copy that the CAN
    // interface's masters all get afterwards is dropped here.
    std::lock_guard<std::mutex> locker(exchangesMutex);
    return exchangesOut.remove(message.msgId());
}

bool ZorModCanOpenGateway::wantsFromSlaves(const ZorMessage &message) const
{
    switch (message.msgType()) {
    case KM_INTERVIEW: {
        std::lock_guard<std::mutex> locker(exchangesMutex);
        return exchangesOut.contains(message.msgId());
    }
    case KM_CAN_FRAME: {
        if (property(QStringLiteral("ForwardCanFrames")).trimmed() == QLatin1String("1"))
            return true;
        if (message.msgState() != KS_INFO)
            return false;
        if (takesAllFrames)
            return true;
        const QByteArray record = message.data().toByteArray();
        if (record.size() != ZOR_FRAME_RECORD_SIZE || (ZorBabelFish::fromQbytearrayToFlags(record) & VSCAN_FLAGS_REMOTE))
            return false;
        const quint32 cobId = ZorBabelFish::fromQbytearrayToCanId(record);
        return (cobId >= 0x081 && cobId <= 0x0ff) || (cobId >= 0x701 && cobId <= 0x7ff)
               || (cobId && cobId == transferAnswerId);
    }
    default:
        return true;
    }
}

void ZorModCanOpenGateway::inputArriving(int queue, const ZorMessage &message)
{
    if (queue != FromMaster || message.msgType() != KM_CANCEL_INTERVIEWS || message.msgState() != KS_ANSWER)
        return;
    {
        std::lock_guard<std::mutex> locker(cancelsMutex);
        lastCancels.insert(message.origin(), message.msgId());
        if (message.data().toString() == stopCancelData())
            lastStopCancels.insert(message.origin(), message.msgId());
    }
    if (!passesOnCancels)
        return;
    ZorMessage cancel(KM_CANCEL_INTERVIEWS, KS_REQUEST, QString());
    cancel.setOrigin(message.origin());
    postOut(ToSlaves, cancel);
}

int ZorModCanOpenGateway::lastCancelOf(const QString &requester) const
{
    std::lock_guard<std::mutex> locker(cancelsMutex);
    return lastCancels.value(requester, 0);
}

bool ZorModCanOpenGateway::takesPrecedence(const QString &requester, int interviewId)
{
    std::lock_guard<std::mutex> locker(cancelsMutex);
    const int cancel = lastStopCancels.value(requester, 0);
    if (!cancel || interviewId < cancel || precedenceTaken.value(requester, 0) == cancel)
        return false;
    precedenceTaken.insert(requester, cancel);
    return true;
}

void ZorModCanOpenGateway::setTiming(Timing which, int ms)
{
    if (which >= 0 && which < TimingCount)
        timings[which] = qMax(0, ms);
}

int ZorModCanOpenGateway::timing(Timing which) const
{
    return which >= 0 && which < TimingCount ? timings[which].load() : 0;
}

void ZorModCanOpenGateway::registerCreator()
{
    ZorModule::setCanOpenGatewayCreator(&createCanOpenGateway);
}

ZorModule *createCanOpenGateway(QObject *parent)
{
    return new (std::nothrow) ZorModCanOpenGateway(parent);
}
