#include "zormodcaninterfacescan.h"

#include "zorabstractcandriver.h"
#include "zorbabelfish.h"
#include "zormodcaninterface.h"

#include <limits>

namespace CanUsbStates {

namespace {

// NMT to all nodes: reset communication, then start remote node.
const char *const probeFrames[] = {"0,2,82 00", "0,2,01 00"};

} // namespace

void Scanning::entry()
{
    Box &s = box();
    s.rates.clear();
    for (const QString &part : property(QStringLiteral("ScanBaudList")).split(QLatin1Char(','))) {
        bool ok = false;
        const quint32 rate = ZorBabelFish::fromSuffixedStrToNumber(part, &ok);
        if (ok && rate > 0 && rate <= quint32(std::numeric_limits<int>::max()))
            s.rates << int(rate);
    }
    s.rateIndex = 0;
    s.probeSent = false;
    s.rateTimer.start();
    setStatusText(tr("Bootup msg scan"));
    setStatusText(tr("Trying baud rate %1").arg(currentRateText()));
    setStatus(ZorModCanInterface::StatusScanning);
}

QString Scanning::currentRateText() const
{
    const Box &s = box();
    if (s.rateIndex < 0 || s.rateIndex >= s.rates.size())
        return QString();
    return ZorBabelFish::fromNumberToSuffixedStr(quint32(s.rates.at(s.rateIndex)));
}

bool Scanning::sendProbe()
{
    ZorAbstractCanDriver *d = driver();
    for (const char *text : probeFrames) {
        QByteArray record;
        if (!ZorBabelFish::fromCanStrToQbytearray(QLatin1String(text), record))
            break;
        if (!d->queueTx(record))
            break;
        if (!d->echoesTx())
            sendToSlaves(ZorMessage(KM_CAN_FRAME, KS_ANSWER, record));
    }
    return d->flushTx(true);
}

// True when a request ended the scan.
bool Scanning::readMasterRequests()
{
    ZorMessage message;
    while (nextRequest(message)) {
        switch (message.msgType()) {
        case KM_COMM_OPEN:
        case KM_START:
            // Answered with the first one, when the scan ends.
            Root::box().pendingRequests << message;
            break;
        case KM_COMM_CLOSE:
        case KM_STOP:
            requestTransition<Idle>();
            answer(message, KS_ANSWER);
            // The opening the scan belonged to is abandoned.
            answerPending(KS_CANCEL);
            return true;
        case KM_CAN_FRAME:
            // Nothing is sent while the bit rate is unknown.
            answer(message, KS_FAIL);
            break;
        default:
            break;
        }
    }
    return false;
}

void Scanning::finishRate()
{
    ZorModCanInterface *m = canModule();
    ZorAbstractCanDriver *d = driver();
    Box &s = box();
    d->close();
    QThread::msleep(ulong(m->scanTiming().pauseMs));
    if (d->failed())
        s.rates.removeAt(s.rateIndex);
    else
        ++s.rateIndex;

    if (s.rateIndex < s.rates.size()) {
        setStatusText(tr("Trying baud rate %1").arg(currentRateText()));
        const Root::Box &r = Root::box();
        if (d->open(r.portText, s.rates.at(s.rateIndex),
                     property(QStringLiteral("DebugMode")).toInt(), 0, r.timestampMode)) {
            s.probeSent = false;
            s.rateTimer.start();
        }
        // A failed open leaves probeSent set: the next cycle ends this rate too.
        return;
    }
    setStatusText(tr("Baud rate scan failed"));
    requestTransition<Error>();
    answerPending(KS_FAIL, statusText());
}

void Scanning::cycle()
{
    ZorModCanInterface *m = canModule();
    ZorAbstractCanDriver *d = driver();
    if (!m || !d)
        return;
    Box &s = box();
    m->clearInQueue(ZorModule::FromSlaves);
    if (readMasterRequests())
        return;

    const ZorModCanInterface::ScanTiming timing = m->scanTiming();
    if (!s.probeSent) {
        if (s.rateTimer.elapsed() > timing.probeDelayMs) {
            s.probeSent = true;
            sendProbe();
        }
    } else if (d->failed() || s.rateTimer.elapsed() > timing.listenMs || !d->notFailed()) {
        finishRate();
        if (s.rateIndex >= s.rates.size())
            return;
    }

    int flags = 0;
    receiveFrames(flags, false);
    if (flags & ZorModCanInterface::TrafficCanOpen) {
        setStatus(ZorModCanInterface::StatusOpen);
        setProperty(QStringLiteral("Baudrate"), currentRateText(), true);
        setStatusText(openText());
        requestTransition<NotPlaying>();
        answerPending(KS_ANSWER);
    }
}

} // namespace CanUsbStates
