#include "zormodcaninterfacestates.h"

#include "zorabstractcandriver.h"
#include "zorbabelfish.h"
#include "zorcandriverbuslink.h"
#include "zorhoptrace.h"
#include "zorinterview.h"
#include "zormodcaninterface.h"
#include "zormodcaninterfaceplayer.h"
#include "zormodcaninterfacescan.h"

#include <limits>

namespace CanUsbStates {

namespace {

const int statusReportMs = 200;
const int temporaryTextMs = 5000;
// An unchanged update progress is reported again after this long.
const int progressReportMs = 5000;
// Banks read in one receive step at most, so one cycle cannot loop for ever.
const int maxReadsPerStep = 10;
// Pace while an adapter is open, and while none is.
const int openCycleMs = 5;
const int openInterviewPasses = 60;
const int closedCycleMs = 15;
const int closedInterviewPasses = 8;

using Mod = ZorModule;

} // namespace

// --- Root -----------------------------------------------------------------------

Root::Box::Box() = default;
Root::Box::~Box() = default;

void Root::init()
{
    box().driver.reset();
    requestTransition<Idle>();
}

void Root::exit()
{
    box().driver.reset();
}

ZorModCanInterface *Root::canModule() const
{
    return static_cast<ZorModCanInterface *>(module());
}

ZorAbstractCanDriver *Root::driver() const
{
    return Root::box().driver.get();
}

QString Root::openText() const
{
    ZorModCanInterface *m = canModule();
    const QString open = m && m->isKelvatro()
                             ? tr("Open")
                             : tr("Open (%1)").arg(property(QStringLiteral("Baudrate")).trimmed());
    const quint64 dropped = Root::box().droppedShown;
    if (dropped == 0)
        return open;
    return tr("%1, %2 received frames dropped (they came faster than they could be handed on)")
        .arg(open)
        .arg(dropped);
}

void Root::answer(ZorMessage message, int state)
{
    message.setMsgState(state);
    sendToMaster(message, false);
}

bool Root::nextRequest(ZorMessage &message)
{
    ZorModCanInterface *m = canModule();
    while (m && m->getMessage(Mod::FromMaster, message)) {
        if (message.isRequest())
            return true;
    }
    return false;
}

void Root::answerPending(int state, const QString &errorText)
{
    Box &r = Root::box();
    const QList<ZorMessage> pending = r.pendingRequests;
    r.pendingRequests.clear();
    for (ZorMessage message : pending) {
        if (state == KS_FAIL && !errorText.isEmpty())
            message.setData(errorText);
        answer(message, state);
    }
}

// --- Idle -------------------------------------------------------------------------

void Idle::entry()
{
    setStatus(ZorModCanInterface::StatusIdle);
    setStatusText(tr("Idle"));
}

void Idle::cycle()
{
    ZorModCanInterface *m = canModule();
    if (!m)
        return;
    // The first entry ran before the module was attached: bring its text
    // into the project model.
    if (m->infoText() != statusText())
        m->setStatusText(statusText());
    m->clearInQueue(Mod::FromSlaves);
    ZorMessage message;
    while (nextRequest(message)) {
        switch (message.msgType()) {
        case KM_COMM_OPEN:
        case KM_START:
            Root::box().pendingRequests << message;
            requestTransition<Open>();
            return;
        case KM_COMM_CLOSE:
        case KM_STOP:
            answer(message, KS_ANSWER);
            break;
        case KM_COMM_SET_BAUD:
            setProperty(QStringLiteral("Baudrate"), message.data().toString(), true);
            answer(message, KS_ANSWER);
            break;
        default:
            break;
        }
    }
}

// --- Error ------------------------------------------------------------------------

void Error::entry()
{
    setStatus(ZorModCanInterface::StatusError);
    ZorAbstractCanDriver *d = driver();
    if (d) {
        const QString error = d->lastErrorText();
        if (!error.isEmpty())
            setStatusText(error);
    }
}

void Error::cycle()
{
    ZorModCanInterface *m = canModule();
    if (!m)
        return;
    m->clearInQueue(Mod::FromSlaves);
    ZorMessage message;
    while (nextRequest(message)) {
        switch (message.msgType()) {
        case KM_COMM_OPEN:
        case KM_START:
            // Answered when this new opening ends, not before.
            Root::box().pendingRequests << message;
            requestTransition<Open>();
            return;
        case KM_COMM_CLOSE:
        case KM_STOP:
            requestTransition<Idle>();
            answer(message, KS_ANSWER);
            return;
        case KM_COMM_SET_BAUD:
            setProperty(QStringLiteral("Baudrate"), message.data().toString(), true);
            requestTransition<Idle>();
            answer(message, KS_ANSWER);
            return;
        default:
            break;
        }
    }
}

// --- Updating -----------------------------------------------------------------------

void Updating::entry()
{
    Root::Box &r = Root::box();
    setStatus(ZorModCanInterface::StatusUpdating);
    setStatusText(tr("current version %1 - updating to %2")
                      .arg(r.firmwareVersion.isEmpty() ? tr("(undefined)") : r.firmwareVersion,
                           r.targetFirmwareVersion));
    box().updateStarted = false;
    box().lastProgress = 0;
    box().progressTimer.start();
}

void Updating::exit()
{
    if (ZorAbstractCanDriver *d = driver()) {
        d->abortFirmwareUpdate();
        d->close();
    }
}

void Updating::cycle()
{
    ZorModCanInterface *m = canModule();
    if (!m)
        return;
    Root::Box &r = Root::box();
    Box &u = box();
    m->clearInQueue(Mod::FromSlaves);
    ZorMessage message;
    while (nextRequest(message)) {
        switch (message.msgType()) {
        case KM_COMM_OPEN:
        case KM_START:
            // Waits with the request that started the opening.
            r.pendingRequests << message;
            break;
        case KM_COMM_CLOSE:
        case KM_STOP:
            if (ZorAbstractCanDriver *d = driver())
                d->abortFirmwareUpdate();
            setStatusText(tr("Device Update: User Abort"));
            requestTransition<Idle>();
            answer(message, KS_ANSWER);
            // The opening this update belonged to will not end.
            answerPending(KS_CANCEL);
            return;
        default:
            break;
        }
    }

    ZorAbstractCanDriver *d = driver();
    if (!u.updateStarted) {
        u.updateStarted = true;
        if (!d) {
            setStatusText(tr("No Driver"));
            answerPending(KS_FAIL, statusText());
            requestTransition<Error>();
            return;
        }
        if (d->startFirmwareUpdate(r.targetFirmwareVersion, u.updateFileName)) {
            setStatusText(tr("Device Update started, file %1").arg(u.updateFileName));
            sendToMaster(ZorMessage(KM_PROGRESS, KS_INFO, 0));
        } else {
            setStatusText(tr("Device Update Error: %1").arg(d->lastErrorText()));
            answerPending(KS_FAIL, statusText());
            requestTransition<Error>();
        }
        return;
    }

    const int progress = d->firmwareUpdateProgress();
    const QString text = d->lastErrorText();
    // Progress 0 after a start means the update stopped without finishing
    // (it was aborted below us): a failure, reported at once.
    if (progress != 0 && progress == u.lastProgress && text.isEmpty()
        && u.progressTimer.elapsed() <= progressReportMs) {
        return;
    }
    u.progressTimer.start();
    u.lastProgress = progress;
    if (progress <= 0) {
        const QString reason = progress == 0 && text.isEmpty()
                                   ? tr("the update stopped before it was complete")
                                   : text;
        setStatusText(tr("Device Update Error: %1").arg(reason));
        sendToMaster(ZorMessage(KM_PROGRESS, KS_FAIL, 100));
        answerPending(KS_FAIL, statusText());
        requestTransition<Error>();
    } else if (progress >= 100) {
        setStatusText(tr("Device Update Success"));
        sendToMaster(ZorMessage(KM_PROGRESS, KS_ANSWER, 100));
        // Opens the adapter again; the waiting request is answered then.
        requestTransition<Open>();
    } else if (!text.isEmpty()) {
        setStatusText(tr("Device Update: %1").arg(text));
    } else {
        setStatusText(tr("Device Update Progress %1%").arg(progress));
    }
}

// --- Open: opening ------------------------------------------------------------------

void Open::entry()
{
    Root::Box &r = Root::box();
    r.statusFlags = 0;
    r.statusTimer.start();
    box().temporaryText = false;
    setStatus(ZorModCanInterface::StatusOpening);
}

void Open::exit()
{
    Root::Box &r = Root::box();
    r.statusFlags = 0;
    if (ZorModCanInterface *m = canModule()) {
        m->setPriority(QThread::NormalPriority);
        m->setCycleTime(closedCycleMs);
        m->setInterviewPasses(closedInterviewPasses);
    }
    if (r.driver)
        r.driver->close();
}

void Open::cycle()
{
    openAdapter();
}

bool Open::openDriver(ZorCanDriverFactory::Kind kind, int bitRate, int debugLevel)
{
    Root::Box &r = Root::box();
    r.driver.reset();   // only the driver of the last attempt remains
    ZorModCanInterface *m = canModule();
    r.driver.reset(m->createDriver(kind));
    // A request or interview that arrives while the driver waits for data is
    // served at once, not after the wait.
    r.driver->setWaitInterrupt([m] { return m->wakeupPending(); });
    m->setWakeupInterruptsEvents(true);
    return r.driver->open(r.portText, bitRate, debugLevel, 0, r.timestampMode);
}

void Open::openAdapter()
{
    ZorModCanInterface *m = canModule();
    if (!m)
        return;
    Root::Box &r = Root::box();
    const bool kelvatro = m->isKelvatro();

    QString rateText = property(QStringLiteral("Baudrate")).trimmed();
    r.scanMode = !kelvatro
                 && (rateText == QLatin1String("scan") || rateText == QLatin1String("scan_passive"));
    if (r.scanMode)
        rateText = property(QStringLiteral("ScanBaudList")).section(QLatin1Char(','), 0, 0);
    bool rateOk = false;
    const quint32 bitRate = ZorBabelFish::fromSuffixedStrToNumber(rateText, &rateOk);

    r.driver.reset();
    r.portText = property(QStringLiteral("Port"));
    const QString port = r.portText;
    const QString debugText = property(QStringLiteral("DebugMode"));
    const int debugLevel = debugText.toInt();
    r.timestampMode = property(QStringLiteral("TimestampMode")).toInt();
    r.targetFirmwareVersion.clear();
    r.firmwareVersion.clear();

    // An adapter is never put on the bus at bit rate 0 (the "kelvatro" type
    // with "scan", a "Baudrate" that was no number, an empty scan list).
    if (!rateOk || bitRate == 0 || bitRate > quint32(std::numeric_limits<int>::max())) {
        setStatusText(tr("Could not open interface: no bit rate set (Baudrate \"%1\").")
                          .arg(property(QStringLiteral("Baudrate"))));
        answerPending(KS_FAIL, statusText());
        requestTransition<Error>();
        return;
    }
    const int rate = int(bitRate);

    bool opened = false;
    const int dot = r.portText.indexOf(QLatin1Char('.'));
    bool headIsNumber = false;
    const int head = r.portText.left(dot).toInt(&headIsNumber);
    if (headIsNumber && head >= 1 && dot >= 0 && r.portText.contains(QLatin1Char(':'))) {
        setStatusText(tr("Opening NET interface on ip:port = %1, bit rate = %2, debug level = %3")
                          .arg(port, rateText, debugText));
        opened = openDriver(ZorCanDriverFactory::Net, rate, debugLevel);
    } else {
        if (r.portText.trimmed().compare(QLatin1String("(first found)"), Qt::CaseInsensitive) == 0)
            r.portText.clear();
        if (r.portText.contains(QLatin1String("ixxat"), Qt::CaseInsensitive)) {
            setStatusText(tr("Opening %1 CAN Interface, port = %2, bit rate = %3, debug level = %4")
                              .arg(r.portText, port, rateText, debugText));
            opened = openDriver(ZorCanDriverFactory::Ixxat, rate, debugLevel);
        } else if (ZorCanDriverBuslink::isAdapterPort(r.portText)) {
            setStatusText(tr("Opening %1 CAN Interface, port = %2, bit rate = %3")
                              .arg(r.portText, port, rateText));
            opened = openDriver(ZorCanDriverFactory::Buslink, rate, debugLevel);
        } else {
            // USB adapters, tried in turn while none has opened.
            r.portText.replace(QLatin1String("zazevavi"), QLatin1String("brenko"));
            if (r.portText.isEmpty() || r.portText.contains(QLatin1String("brenko"), Qt::CaseInsensitive)) {
                const int colon = r.portText.indexOf(QLatin1Char(':'));
                r.targetFirmwareVersion = colon < 0 ? QString() : r.portText.mid(colon + 1).trimmed();
                if (r.targetFirmwareVersion.isEmpty())
                    r.targetFirmwareVersion = QStringLiteral("1");
                setStatusText(tr("Opening kelvatro"));
                opened = openDriver(ZorCanDriverFactory::Brenko, rate, debugLevel);
                if (opened && r.portText.isEmpty())
                    r.portText = QStringLiteral("brenko");
            }
            if (!opened && (r.portText.isEmpty() || r.portText.contains(QLatin1String("vedozovo"), Qt::CaseInsensitive))) {
                setStatusText(tr("Opening magnetic USB-CAN interface, bit rate = %1")
                                  .arg(property(QStringLiteral("Baudrate"))));
                opened = openDriver(ZorCanDriverFactory::Vedozovo, rate, debugLevel);
                if (opened && r.portText.isEmpty())
                    r.portText = QStringLiteral("vedozovo");
            }
            if (!opened) {
                if (r.portText == QLatin1String("vscom"))
                    r.portText.clear();
                if (r.portText.isEmpty()) {
                    setStatusText(tr("Opening brenko/vscom USB-CAN interface, port = %1, bit rate = %2")
                                      .arg(QStringLiteral("(first found)"), rateText));
                    opened = openDriver(ZorCanDriverFactory::VSComFtdi, rate, debugLevel);
                }
            }
        }
    }

    // Firmware check.
    if (r.driver) {
        r.firmwareVersion = r.driver->firmwareVersion();
        if (!r.targetFirmwareVersion.isEmpty()
            && r.driver->firmwareUpdateNeeded(r.targetFirmwareVersion)) {
            r.driver->close();
            requestTransition<Updating>();
            return;
        }
    }

    if (!opened && !r.driver) {
        // The port names no adapter this program knows ("COM1" from a
        // project made for another machine).
        setStatusText(tr("Could not open interface: there is no port \"%1\" on this machine (a port "
                         "is \"(first found)\", an adapter such as \"peak:0\" or \"ixxat\", or a "
                         "network gateway as ip:port).")
                          .arg(port));
        answerPending(KS_FAIL, statusText());
        requestTransition<Error>();
        return;
    }
    if (!opened) {
        const QString couldNot = tr("Could not open interface.");
        const QString error = r.driver ? r.driver->lastErrorText() : QString();
        answerPending(KS_FAIL, error.isEmpty() ? couldNot : error);
        setStatusText(couldNot);
        requestTransition<Error>();
        return;
    }

    if (!r.firmwareVersion.isEmpty())
        setStatusText(tr("Version check: %1 - ok").arg(r.firmwareVersion));
    r.droppedAtOpen = m->droppedFrames();
    r.droppedShown = 0;
    if (r.scanMode) {
        // The opening request waits until the scan ends.
        requestTransition<Scanning>();
        return;
    }
    m->setPriority(QThread::HighPriority);
    m->setCycleTime(openCycleMs);
    m->setInterviewPasses(openInterviewPasses);
    // Frames the adapter collected before are never delivered.
    int flags = 0;
    receiveFrames(flags, true);
    r.waitTimer.start();
    answerPending(KS_ANSWER);
    setStatus(ZorModCanInterface::StatusOpen);
    setStatusText(openText());
    requestTransition<NotPlaying>();
}

// --- Open: frame traffic ---------------------------------------------------------------

bool Open::receiveFrames(int &flags, bool discard)
{
    ZorModCanInterface *m = canModule();
    ZorAbstractCanDriver *d = driver();
    if (!m || !d)
        return false;
    const QString origin = m->label();
    int reads = 0;
    int count = 0;
    do {
        if (!d->takeRx(count))
            flags |= ZorModCanInterface::TrafficRxFailed;
        if (!discard) {
            for (int i = 0; i < count; ++i) {
                // A record of its own for every frame: the previous one is
                // already on its way to other threads and is never written
                // again.
                QByteArray record;
                d->rxFrame(i, record);
                ZorMessage frame(KM_CAN_FRAME, KS_INFO, record);
                frame.setOrigin(origin);
                const quint8 frameFlags = ZorBabelFish::fromQbytearrayToFlags(record);
                const quint32 id = ZorBabelFish::fromQbytearrayToCanId(record);
                const bool echo = frameFlags & ZorModCanInterface::EchoFlag;
                if (!echo) {
                    ZorHopTrace::mark(ZorHopTrace::CanFrameRead);
                    ZorHopTrace::noteFrame(ZorHopTrace::FrameRead, record);
                }
                frameReceived(frame);
                if (!echo)
                    ZorHopTrace::mark(ZorHopTrace::CanLineAnswered);
                if (!echo)
                    sendToMaster(frame, false);
                if (id >= 0x081 && id <= 0x0ff)
                    flags |= ZorModCanInterface::TrafficEmergency;
                if (id >= 0x701 && id <= 0x77f)
                    flags |= ZorModCanInterface::TrafficHeartbeat;
                if (id >= 0x080)
                    flags |= ZorModCanInterface::TrafficCanOpen;
                if (echo)
                    frame.setMsgState(KS_ANSWER);
                sendToSlaves(frame, false);
            }
        }
        if (count > 0)
            flags |= ZorModCanInterface::TrafficReceived;
        ++reads;
    } while (count == d->capacity() && reads < maxReadsPerStep && d->notFailed());
    return count > 0 || reads > 1;
}

void Open::frameReceived(ZorMessage &frame)
{
    if (!hasPendingInterviews())
        return;
    QString text;
    if (ZorBabelFish::fromQbytearrayToCanStr(frame.data().toByteArray(), text))
        offerInterviewAnswer(QStringLiteral("CAN"), text.section(QLatin1Char(','), 0, 2), false);
}

bool Open::handleInterviewLine(const ZorInterview &interview)
{
    if (interview.kind() != QLatin1String("CAN"))
        return false;
    QByteArray record;
    if (!ZorBabelFish::fromCanStrToQbytearray(interview.request(), record))
        return false;
    // Written by the next cycle like a master's transmit request; the line
    // is answered when a received frame matches its pattern.
    ZorHopTrace::mark(ZorHopTrace::CanLineTaken);
    canModule()->postIn(ZorModule::FromMaster, ZorMessage(KM_CAN_FRAME, KS_REQUEST, record));
    return true;
}

bool Open::playerCommand(ZorMessage &, bool &)
{
    return false;
}

bool Open::trafficCycle()
{
    ZorModCanInterface *m = canModule();
    ZorAbstractCanDriver *d = driver();
    if (!m || !d)
        return false;
    Root::Box &r = Root::box();

    bool failedOver = false;
    if (d->failed()) {
        requestTransition<Error>();
        failedOver = true;
    }
    m->clearInQueue(Mod::FromSlaves);
    int flags = 0;
    ZorHopTrace::note("can: cycle");
    const bool rx = receiveFrames(flags, false);

    bool tx = false;
    bool changed = false;
    ZorMessage message;
    while (!changed && nextRequest(message)) {
        switch (message.msgType()) {
        case KM_COMM_OPEN:
        case KM_START:
            answer(message, KS_ANSWER);
            break;
        case KM_COMM_CLOSE:
        case KM_STOP:
            requestTransition<Idle>();
            answer(message, KS_ANSWER);
            changed = true;
            break;
        case KM_CAN_FRAME: {
            QByteArray record = message.data().toByteArray();
            const bool queued = record.size() == 16 && d->queueTx(record);
            ZorHopTrace::noteFrame(ZorHopTrace::FrameQueued, record);
            tx |= queued;
            message.setData(record);
            message.setMsgState(queued ? KS_ANSWER : KS_FAIL);
            sendToMaster(message, false);
            if (queued && !d->echoesTx())
                sendToSlaves(message, false);
            break;
        }
        case KM_PLAYERCMD_PLAY:
        case KM_PLAYERCMD_STOP:
        case KM_PLAYERCMD_PAUSE:
        case KM_PLAYERCMD_SKIP:
        case KM_PLAYERCMD_BACK:
            playerCommand(message, changed);
            break;
        default:
            break;
        }
    }

    if (tx && d->flushTx(true))
        flags |= ZorModCanInterface::TrafficSent;
    if (tx)
        ZorHopTrace::mark(ZorHopTrace::CanFrameWritten);
    if (!changed && !rx && !tx)
        updateTemporaryText(flags);
    r.statusFlags |= flags;
    if (r.statusTimer.elapsed() > statusReportMs)
        reportStatus();
    // While a line waits for its answer the module waits on the adapter
    // (in the driver's receive) rather than sleeping out its cycle.
    if (!changed && hasPendingInterviews())
        m->wakeup();
    return changed || failedOver;
}

void Open::updateTemporaryText(int &flags)
{
    QString text;
    driver()->statusText(text, flags);
    Box &o = box();
    if (!text.isEmpty()) {
        setStatusText(text);
        o.temporaryText = true;
        o.temporaryTextTimer.start();
    } else if (status() < 1000 && o.temporaryText && o.temporaryTextTimer.elapsed() > temporaryTextMs) {
        o.temporaryText = false;
        setStatusText(openText());
    }
}

void Open::reportStatus()
{
    Root::Box &r = Root::box();
    r.statusTimer.start();
    // Frames dropped on their way to the peers are told in the status text.
    if (ZorModCanInterface *m = canModule()) {
        const quint64 dropped = m->droppedFrames() - r.droppedAtOpen;
        if (dropped != r.droppedShown) {
            r.droppedShown = dropped;
            if (!box().temporaryText)
                setStatusText(openText());
        }
    }
    const int current = status();
    const bool rxFailing = r.statusFlags & ZorModCanInterface::TrafficRxFailed;
    if (rxFailing && current < 1000)
        setStatus(current + ZorModCanInterface::StatusRxFailing);
    else if (!rxFailing && current >= 1000 && current <= 1999)
        setStatus(current - ZorModCanInterface::StatusRxFailing);
    const ZorMessage report(KM_COMM_STATUS, KS_INFO, r.statusFlags);
    sendToMaster(report);
    sendToSlaves(report);
    r.statusFlags = 0;
}

// --- NotPlaying ---------------------------------------------------------------------------

void NotPlaying::entry()
{
    setStatus(ZorModCanInterface::StatusOpen);
}

void NotPlaying::cycle()
{
    trafficCycle();
}

bool NotPlaying::playerCommand(ZorMessage &message, bool &stateChanged)
{
    if (message.msgType() != KM_PLAYERCMD_PLAY)
        return false;
    Root::Box &r = Root::box();
    const QString data = message.data().toString();
    r.sequenceNumber = data.section(QLatin1Char(','), 0, 0).trimmed().toInt();
    r.startExpression = data.section(QLatin1Char(','), 1, 1);
    requestTransition<Playing>();
    answer(message, KS_ANSWER);
    stateChanged = true;
    return true;
}

} // namespace CanUsbStates
