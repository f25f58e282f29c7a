#include "zormodcanopengatewaystates.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"
#include "zorhoptrace.h"
#include "zorinterview.h"
#include "zormodcanopengateway.h"
#include "zornmt.h"

#include <QDateTime>
#include <QDebug>

namespace CanOpenGateway {

namespace {

const QString SdoRead = QStringLiteral("SDOReadObject");
const QString SdoWrite = QStringLiteral("SDOWriteObject");
const QString SdoDownload = QStringLiteral("SDODownload");
const QString SdoAbortDownload = QStringLiteral("SDOAbortDownload");
const QString LssNodeParameters = QStringLiteral("LSSNodeParameters");
const QString NmtModuleControl = QStringLiteral("NmtModuleControl");
const QString ScanIdsKind = QStringLiteral("ScanIds");

// The identifier and data of a received data frame. A remote frame carries
// no data (only a request for it: node guarding on 700h + node, a TPDO
// asked for by its id), so it is never a boot-up, an emergency, an SDO
// answer or a sampled value: false for it.
bool frameOf(const ZorMessage &message, quint32 &cobId, QByteArray &data)
{
    const QByteArray record = message.data().toByteArray();
    if (record.size() != ZOR_FRAME_RECORD_SIZE || (ZorBabelFish::fromQbytearrayToFlags(record) & VSCAN_FLAGS_REMOTE)
        || !ZorBabelFish::fromQbytearrayToDataPart(record, data))
        return false;
    cobId = ZorBabelFish::fromQbytearrayToCanId(record);
    return true;
}

bool isExchangeAnswer(const ZorMessage &message)
{
    return message.msgType() == KM_INTERVIEW && !message.isRequest();
}

} // namespace

// ---- Root ---------------------------------------------------------------------

void Root::init()
{
    Box &b = box();
    b.lineToken = ZorSdoChannels::newToken();
    b.pollToken = ZorSdoChannels::newToken();
    b.clock.start();
    requestTransition<Operating>();
}

void Root::exit()
{
    Box &b = box();
    if (!b.channels)
        return;
    b.channels->releaseAll(b.lineToken);
    b.channels->releaseAll(b.pollToken);
    b.channels->forgetOwner(module());
}

ZorSdoChannels &Root::channels()
{
    Box &b = Root::box();
    if (!b.channels) {
        // Shared with the other gateways in front of the same CAN interface;
        // a gateway standing alone has channels of its own.
        ZorModule *m = module();
        b.channels = ZorSdoChannels::forBus(m && m->viaSlaveIdentity() ? m->viaSlaveIdentity()
                                                                        : static_cast<const void *>(m));
    }
    return *b.channels;
}

int Root::holdTime(int timeoutMs)
{
    // A little beyond the exchange's own time-out, after which its answer
    // (or the CAN interface's time-out) has come back; lines without
    // time-out are held a while and renewed with every exchange.
    return timeoutMs > 0 ? timeoutMs + 1000 : 10000;
}

bool Root::takeChannel(int node, int holdMs)
{
    Box &b = Root::box();
    ZorModule *m = module();
    if (b.urgentLine)
        channels().seize(node, b.lineToken, holdMs);
    else if (!channels().acquire(node, b.lineToken, holdMs, m, [m] { m->wakeup(); }))
        return false;
    b.lineNode = node;
    return true;
}

void Root::releaseLineChannel()
{
    Box &b = Root::box();
    if (b.lineNode && b.channels)
        b.channels->release(b.lineNode, b.lineToken);
    b.lineNode = 0;
}

// ---- Operating ----------------------------------------------------------------

ZorModCanOpenGateway *Operating::gateway() const
{
    return static_cast<ZorModCanOpenGateway *>(module());
}

int Operating::timing(int which) const
{
    ZorModCanOpenGateway *g = gateway();
    return g ? g->timing(ZorModCanOpenGateway::Timing(which)) : 0;
}

quint16 Operating::propertyId(const char *name, quint16 fallback) const
{
    bool ok = false;
    const quint32 value = ZorBabelFish::stringToULong(property(QLatin1String(name)), &ok);
    return ok && value <= 0xffff ? quint16(value) : fallback;
}

void Operating::readBases()
{
    Root::Box &b = Root::box();
    b.requestBase = propertyId("BaseIdReceiveSDO", 0x600);
    b.responseBase = propertyId("BaseIdTransmitSDO", 0x580);
    b.sdo.setBases(b.requestBase, b.responseBase);
}

void Operating::sendToCanInterface(ZorMessage message)
{
    const QString &requester = Root::box().requester;
    if (!requester.isEmpty())
        message.setOrigin(requester);
    if (message.msgType() == KM_INTERVIEW && message.isRequest())
        gateway()->noteExchangeSent(message.msgId());
    sendToSlaves(message, false);
}

bool Operating::exchangeAnswered(const ZorMessage &message)
{
    if (!isExchangeAnswer(message))
        return false;
    gateway()->noteExchangeAnswered(message.msgId());
    return true;
}

void Operating::watchTransferAnswers(int node)
{
    gateway()->setTransferAnswerId(node ? Root::box().responseBase + quint32(node) : 0);
}

ZorMessage Operating::sendExchange(const QString &text)
{
    ZorMessage exchange(KM_INTERVIEW, KS_REQUEST, text);
    sendToCanInterface(exchange);
    return exchange;
}

void Operating::reportBootUpOrEmergency(const ZorMessage &frame)
{
    if (frame.msgState() != KS_INFO)
        return;
    quint32 cobId = 0;
    QByteArray data;
    if (!frameOf(frame, cobId, data))
        return;
    if (const int node = ZorNmt::bootUpNode(cobId, data)) {
        sendToMaster(ZorMessage(KM_CANOPEN_BOOTUP, KS_INFO, node), true);
        return;
    }
    QString text;
    if (ZorNmt::emergencyText(cobId, data, text))
        sendToMaster(ZorMessage(KM_CANOPEN_EMERGENCY, KS_INFO, text), true);
}

void Operating::cycle()
{
    readBases();
    startWaitingTransfer();
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        const int type = message.msgType();
        if (exchangeAnswered(message)) {
            handleExchangeAnswer(message);
        } else if (type == KM_CAN_FRAME) {
            if (property(QStringLiteral("ForwardCanFrames")).trimmed() == QLatin1String("1"))
                sendToMaster(message, true);
            reportBootUpOrEmergency(message);
            takeFrame(message);
        } else if (type != KM_COMM_STATUS && !message.isRequest()) {
            sendToMaster(message, false);
        }
    }
    takeRequesterMessages();
}

void Operating::takeFrame(const ZorMessage &frame)
{
    checkTransferAbort(frame);
}

bool Operating::cyclesOnlyWhenWoken() const
{
    return Root::box().waitingExchange.isEmpty();
}

void Operating::takeRequesterMessages()
{
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const int type = message.msgType();
        if (type == KM_DAQ_CONFIG && message.msgState() != KS_CANCEL) {
            box().samplingConfig = message;
            requestTransition<Sampling>();
            return;
        }
        // A requester's cancel was passed on to the CAN interface when it
        // arrived (ZorModCanOpenGateway::inputArriving).
        if (message.isRequest() && type != KM_INTERVIEW)
            sendToSlaves(message, false);
    }
}

void Operating::startTransfer(const QString &exchange)
{
    Root::Box &b = Root::box();
    b.waitingExchange = exchange;
    b.waitingUntil = b.timeoutMs > 0 ? b.clock.elapsed() + b.timeoutMs : -1;
    startWaitingTransfer();
}

void Operating::startWaitingTransfer()
{
    Root::Box &b = Root::box();
    if (b.waitingExchange.isEmpty())
        return;
    // A transfer of a line that its requester cancelled never starts; the
    // interview that follows the cancel (a stop) is a later one.
    if (gateway()->lastCancelOf(b.requester) > b.lineInterviewId) {
        dropWaitingTransfer();
        return;
    }
    if (b.waitingUntil >= 0 && b.clock.elapsed() >= b.waitingUntil) {
        // The line has ended by its time-out meanwhile.
        dropWaitingTransfer();
        return;
    }
    if (!takeChannel(b.sdo.address().node, holdTime(b.timeoutMs)))
        return;
    const QString exchange = b.waitingExchange;
    b.waitingExchange.clear();
    b.exchangeId = sendExchange(exchange).msgId();
    ZorHopTrace::mark(ZorHopTrace::GatewayExchangeSent);
}

void Operating::dropWaitingTransfer()
{
    Root::Box &b = Root::box();
    if (b.waitingExchange.isEmpty())
        return;
    b.waitingExchange.clear();
    b.sdo.abandon();
}

void Operating::applySdoStep(const ZorSdoClient::Step &step)
{
    Root::Box &b = Root::box();
    b.exchangeId = 0;
    if (!step.exchange.isEmpty()) {
        if (b.sdo.isBusy())
            takeChannel(b.sdo.address().node, holdTime(b.timeoutMs));   // renewed for the next exchange
        // The node's abort of a segmented transfer comes as a frame of its
        // own (an initiate's abort answers the initiate's exchange).
        watchTransferAnswers(b.sdo.inSegments() ? b.sdo.address().node : 0);
        const int id = sendExchange(step.exchange).msgId();
        if (b.sdo.isBusy())
            b.exchangeId = id;
    }
    if (b.noResponseLine && !step.answers.isEmpty()) {
        // Whatever the node answered (an acknowledgement, or the abort of a
        // node without the object), the line awaited no answer: it is done.
        offerInterviewAnswer(b.kind, ZorCanExchange::NoResponse, false);
    } else {
        for (const QString &text : step.answers)
            offerInterviewAnswer(b.kind, text, step.failed);
    }
    if (!step.answers.isEmpty())
        ZorHopTrace::mark(ZorHopTrace::GatewayLineAnswered);
    if (!b.sdo.isBusy()) {
        watchTransferAnswers(0);
        releaseLineChannel();
    }
}

void Operating::checkTransferAbort(const ZorMessage &frame)
{
    Root::Box &b = Root::box();
    quint32 cobId = 0;
    QByteArray data;
    ZorSdoClient::Step step;
    if (!b.exchangeId || frame.msgState() != KS_INFO || !frameOf(frame, cobId, data)
        || !b.sdo.abortReceived(cobId, data, step))
        return;
    // The exchange under way at the CAN interface waits in vain now; its
    // answer is no longer read.
    applySdoStep(step);
}

bool Operating::handleInterviewLine(const ZorInterview &line)
{
    Root::Box &b = Root::box();
    b.requester = line.message().origin();
    b.kind = line.kind();
    b.request = line.request();
    b.timeoutMs = line.timeoutMs();
    b.noResponseLine = false;
    b.lineInterviewId = line.message().msgId();
    if (b.lineInterviewId != b.urgentInterviewId && gateway()->takesPrecedence(b.requester, b.lineInterviewId))
        b.urgentInterviewId = b.lineInterviewId;
    b.urgentLine = b.lineInterviewId == b.urgentInterviewId;
    // Whatever was under way belongs to an earlier line, which has ended
    // (by its time-out, or a cancel): its transfer is given up.
    b.exchangeId = 0;
    b.waitingExchange.clear();
    b.sdo.abandon();
    watchTransferAnswers(0);
    releaseLineChannel();
    readBases();

    if (b.kind == LssNodeParameters) {
        QString error;
        if (!ZorLssMaster::parse(b.request, box().lss, error)) {
            // Nothing is sent: the node is never left in configuration mode.
            qDebug().noquote() << module()->label() << b.request << error;
            offerInterviewAnswer(LssNodeParameters, QStringLiteral("error"), true);
            return true;
        }
        requestTransition<SetNodeParameters>();
        return true;
    }
    if (b.kind == SdoDownload) {
        requestTransition<Downloading>();
        return true;
    }
    if (b.kind == ScanIdsKind) {
        box().scanListenMs = ZorNodeScan::listenTime(b.timeoutMs, timing(ZorModCanOpenGateway::ScanSettle));
        requestTransition<ScanIds>();
        return true;
    }
    if (b.kind == NmtModuleControl) {
        QString exchange;
        if (!ZorNmt::moduleControlExchange(b.request, b.timeoutMs, exchange))
            return false;
        setLineExpectedAnswer(ZorCanExchange::NoResponse);
        sendExchange(exchange);
        return true;
    }
    if (b.kind == SdoAbortDownload) {
        // No download runs: there is nothing to abort.
        ZorSdoAddress address;
        if (!ZorSdoClient::parseAddress(b.request, address))
            return false;
        setLineExpectedAnswer(ZorCanExchange::NoResponse);
        return true;
    }
    if (b.kind != SdoRead && b.kind != SdoWrite)
        return false;
    ZorHopTrace::mark(ZorHopTrace::GatewayLineTaken);

    ZorSdoAddress address;
    if (!ZorSdoClient::parseAddress(b.request, address))
        return false;
    QString exchange;
    if (b.kind == SdoWrite) {
        QString error;
        if (line.expectedAnswer().isEmpty())
            setLineExpectedAnswer(ZorSdoClient::writePattern(address));
        // A write that awaits no answer still takes one that comes within
        // the line's time-out, so that it ends at once; only without a
        // time-out nothing is awaited at all.
        b.noResponseLine = line.expectsNoResponse() && b.timeoutMs > 0;
        if (!b.sdo.startWrite(address, b.timeoutMs, line.expectsNoResponse() && !b.noResponseLine, exchange,
                              error)) {
            if (error.isEmpty())
                return false;
            offerInterviewAnswer(SdoWrite, error, true);
            return true;
        }
    } else {
        if (!b.sdo.startRead(address, b.timeoutMs, exchange))
            return false;
        const QString pattern = ZorSdoClient::readPattern(address, line.expectedAnswer());
        if (pattern != line.expectedAnswer())
            setLineExpectedAnswer(pattern);
    }
    startTransfer(exchange);
    return true;
}

void Operating::handleExchangeAnswer(const ZorMessage &answer)
{
    Root::Box &b = Root::box();
    // Only the answer to this gateway's own exchange under way counts.
    if (!b.exchangeId || answer.msgId() != b.exchangeId)
        return;
    ZorHopTrace::mark(ZorHopTrace::GatewayAnswerTaken);
    const ZorSdoClient::Step step = b.sdo.handleAnswer(answer.data().toString(), answer.msgState() == KS_ANSWER);
    // An answer that brings nothing the transfer can use ends it: nothing
    // more will come for it, and the line ends by its own time-out.
    if (step.exchange.isEmpty() && b.sdo.isBusy())
        b.sdo.abandon();
    applySdoStep(step);
}

// ---- LSS ---------------------------------------------------------------------

void LssConfigMode::entry()
{
    Operating::Box &b = Operating::box();
    const quint16 requestId = propertyId("LssRequestId", 0x7e5);
    const quint16 responseId = propertyId("LssResponseId", 0x7e4);
    const int wait = timing(ZorModCanOpenGateway::LssSwitchWait);
    const int timeout = timing(ZorModCanOpenGateway::LssAnswerTimeout);
    const QString enter = b.lss.fullAddress
        ? ZorLssMaster::switchSelectiveLines(requestId, responseId, b.lss.address, timeout)
        : ZorLssMaster::switchModeLine(requestId, b.lss.command, b.lss.value, wait);
    b.lssSteps = {ZorMessage(KM_INTERVIEW, KS_REQUEST, enter)};
    b.lssLeave = ZorMessage(KM_INTERVIEW, KS_REQUEST,
                            ZorLssMaster::switchModeLine(requestId, ZorLssMaster::SwitchModeGlobal, 0, wait));
    b.lssStep = 0;
    b.lssFailed = false;
}

void SetNodeParameters::entry()
{
    Operating::Box &b = Operating::box();
    const quint16 requestId = propertyId("LssRequestId", 0x7e5);
    const quint16 responseId = propertyId("LssResponseId", 0x7e4);
    const int timeout = timing(ZorModCanOpenGateway::LssAnswerTimeout);
    b.lssError.clear();
    b.lssInquiryStep = -1;
    b.lssCountUntil = -1;
    // A node id given globally goes to every slave in configuration mode:
    // the slaves are counted first.
    if (b.lss.nodeId && !b.lss.fullAddress && b.lss.command == ZorLssMaster::SwitchModeGlobal) {
        b.lssInquiryStep = b.lssSteps.size();
        b.lssSteps << ZorMessage(KM_INTERVIEW, KS_REQUEST,
                                 ZorLssMaster::inquireIdentityLines(requestId, responseId, timeout));
    }
    // One exchange per request, so that an error code ends the sequence
    // before the next request goes out.
    if (b.lss.nodeId)
        b.lssSteps << ZorMessage(KM_INTERVIEW, KS_REQUEST,
                                 ZorLssMaster::configureNodeIdLine(requestId, responseId, b.lss.nodeId, timeout));
    if (b.lss.bitRate)
        b.lssSteps << ZorMessage(KM_INTERVIEW, KS_REQUEST,
                                 ZorLssMaster::configureBitTimingLine(
                                     requestId, responseId, ZorLssMaster::bitTimingIndex(b.lss.bitRate), timeout));
    b.lssSteps << ZorMessage(KM_INTERVIEW, KS_REQUEST, ZorLssMaster::storeLine(requestId, responseId, timeout));
    sendToCanInterface(b.lssSteps.first());
}

bool SetNodeParameters::stepSucceeded(const ZorMessage &answer) const
{
    const QString request = answer.data().toString().section(QLatin1Char('\n'), -1).section(QLatin1Char(':'), 3, 3);
    if (answer.msgState() != KS_ANSWER) {
        qDebug().noquote() << module()->label() << "LSS: no answer to" << request;
        return false;
    }
    if (Operating::box().lssStep == 0)
        return true;   // the switch into configuration mode
    int code = 0, specific = 0;
    if (!ZorLssMaster::answerError(answer.data().toString(), code, specific))
        return false;
    if (code != 0) {
        qDebug().noquote() << module()->label() << "LSS:" << request << "answered with error code" << code
                           << (code == 0xff ? QStringLiteral("(specific error %1)").arg(specific) : QString());
        return false;
    }
    return true;
}

void SetNodeParameters::exit()
{
    gateway()->setTransferAnswerId(0);
}

bool SetNodeParameters::cyclesOnlyWhenWoken() const
{
    return Operating::box().lssCountUntil < 0;
}

void SetNodeParameters::cycle()
{
    Operating::cycle();
    const Operating::Box &b = Operating::box();
    if (b.lssCountUntil >= 0 && Root::box().clock.elapsed() >= b.lssCountUntil)
        countEnded();
}

void SetNodeParameters::sendNextStep()
{
    Operating::Box &b = Operating::box();
    // Back to waiting mode after the last step or the first that failed.
    sendToCanInterface(!b.lssFailed && b.lssStep < b.lssSteps.size() ? b.lssSteps.at(b.lssStep) : b.lssLeave);
}

void SetNodeParameters::takeFrame(const ZorMessage &frame)
{
    Operating::Box &b = Operating::box();
    quint32 cobId = 0;
    QByteArray data;
    int field = 0;
    quint32 value = 0;
    if (b.lssStep == b.lssInquiryStep && frame.msgState() == KS_INFO && frameOf(frame, cobId, data)
        && ZorLssMaster::identityAnswer(cobId, data, propertyId("LssResponseId", 0x7e4), field, value)) {
        ++b.lssAnswers[field];
    }
    Operating::takeFrame(frame);
}

void SetNodeParameters::countEnded()
{
    Operating::Box &b = Operating::box();
    b.lssCountUntil = -1;
    gateway()->setTransferAnswerId(0);
    int slaves = 0;
    for (int field = 0; field < 4; ++field)
        slaves = qMax(slaves, b.lssAnswers[field]);
    ++b.lssStep;
    if (slaves != 1) {
        b.lssFailed = true;
        b.lssError = slaves == 0
            ? QStringLiteral("error - no LSS slave answered")
            : QStringLiteral("error - %1 LSS slaves answered, a node ID is given globally only to a single one")
                  .arg(slaves);
        qDebug().noquote() << module()->label() << "LSS:" << b.lssError;
    }
    sendNextStep();
}

void SetNodeParameters::handleExchangeAnswer(const ZorMessage &answer)
{
    Operating::Box &b = Operating::box();
    if (answer == b.lssLeave) {
        const bool ok = !b.lssFailed;
        offerInterviewAnswer(LssNodeParameters,
                             ok ? QStringLiteral("ok") : b.lssError.isEmpty() ? QStringLiteral("error") : b.lssError,
                             !ok);
        requestTransition<Operating>();
        return;
    }
    if (b.lssStep >= b.lssSteps.size() || !(answer == b.lssSteps.at(b.lssStep)))
        return;
    if (b.lssStep == b.lssInquiryStep) {
        // The first answers are in (or none came); the others of further
        // slaves follow as frames within the window.
        b.lssCountUntil = Root::box().clock.elapsed() + timing(ZorModCanOpenGateway::LssCountWindow);
        module()->wakeup();
        return;
    }
    if (!stepSucceeded(answer))
        b.lssFailed = true;
    ++b.lssStep;
    // An inquiry comes next: the slaves' identity answers are watched.
    if (!b.lssFailed && b.lssStep == b.lssInquiryStep) {
        for (int &answers : b.lssAnswers)
            answers = 0;
        gateway()->setTransferAnswerId(propertyId("LssResponseId", 0x7e4));
    }
    sendNextStep();
}

// ---- Downloading ----------------------------------------------------------------

void Downloading::entry()
{
    Box &d = box();
    const Root::Box &b = Root::box();
    d.download.setBases(b.requestBase, b.responseBase);
    d.download.setLineTimeout(timing(ZorModCanOpenGateway::DownloadLineTimeout));
    d.ok = d.download.setup(b.request, d.result);
    d.starting = true;
    d.channelTaken = false;
    d.answered = false;
    d.finished = false;
    d.abortRequested = false;
}

void Downloading::exit()
{
    watchTransferAnswers(0);
    if (box().channelTaken)
        releaseLineChannel();
}

void Downloading::send(const QString &exchange)
{
    Box &d = box();
    // The node's channel stays this download's while its exchanges go out.
    takeChannel(d.download.node(), holdTime(timing(ZorModCanOpenGateway::DownloadLineTimeout)));
    d.exchangeId = sendExchange(exchange).msgId();
    d.exchangeOut = true;
}

void Downloading::progress(int state, const QVariant &value)
{
    sendToMaster(ZorMessage(KM_PROGRESS, state, value), true);
}

void Downloading::handleStep(const ZorSdoBlockDownload::Step &step)
{
    if (step.progress >= 0)
        progress(KS_INFO, step.progress);
    switch (step.outcome) {
    case ZorSdoBlockDownload::Step::Continue:
        for (const QByteArray &frame : step.frames)
            sendToCanInterface(ZorMessage(KM_CAN_FRAME, KS_REQUEST, frame));
        if (!step.exchange.isEmpty())
            send(step.exchange);
        break;
    case ZorSdoBlockDownload::Step::Finished:
        answerServedLine();
        progress(KS_INFO, 100);
        box().finished = true;
        requestTransition<Operating>();
        break;
    case ZorSdoBlockDownload::Step::Failed:
        if (!step.exchange.isEmpty())
            sendExchange(step.exchange);
        answerServedLine();
        progress(KS_FAIL, 100);
        box().finished = true;
        requestTransition<Operating>();
        break;
    }
}

void Downloading::answerServedLine()
{
    Box &d = box();
    if (d.answered)
        return;
    d.answered = true;
    d.result = QStringLiteral("init download %1 bytes, mode = %2").arg(d.download.size()).arg(d.download.modeText());
    offerInterviewAnswer(SdoDownload, d.result, false);
}

void Downloading::cycle()
{
    Box &d = box();
    // The download begins once the node's SDO channel is free (no poll or
    // other transfer may come between its segments).
    if (d.starting && d.ok && !d.channelTaken)
        d.channelTaken = takeChannel(d.download.node(), holdTime(timing(ZorModCanOpenGateway::DownloadLineTimeout)));
    if (d.starting && (d.channelTaken || !d.ok)) {
        d.starting = false;
        QString exchange;
        if (d.ok)
            d.ok = d.download.start(exchange, d.result);
        if (!d.ok) {
            offerInterviewAnswer(SdoDownload, d.result, true);
            requestTransition<Operating>();
            return;
        }
        progress(KS_INFO, 0);
        watchTransferAnswers(d.download.node());
        send(exchange);
    }

    ZorModule *m = module();
    ZorMessage message;
    while (!d.finished && m->getMessage(ZorModule::FromSlaves, message)) {
        const int type = message.msgType();
        if (type == KM_CAN_FRAME) {
            reportBootUpOrEmergency(message);
            quint32 cobId = 0;
            QByteArray data;
            ZorSdoBlockDownload::Step step;
            if (d.exchangeOut && !d.abortRequested && message.msgState() == KS_INFO && frameOf(message, cobId, data)
                && d.download.abortReceived(cobId, data, step)) {
                d.exchangeOut = false;
                handleStep(step);
            }
        } else if (exchangeAnswered(message)) {
            if (!d.exchangeOut || message.msgId() != d.exchangeId)
                continue;
            d.exchangeOut = false;
            if (d.abortRequested)
                break;
            handleStep(d.download.handleAnswer(message.data().toString(), message.msgState() == KS_ANSWER));
        } else if (type != KM_WHOAMI && type != KM_COMM_STATUS && !message.isRequest()) {
            sendToMaster(message, true);
        }
    }
    // The served line learns the mode once the node has answered the first
    // initiate (a node without block download is served segmented).
    if (!d.starting && (d.download.modeSettled() || d.finished))
        answerServedLine();
    if (d.finished)
        return;

    // An abort waits for the exchange under way (at most one block), so that
    // no segment follows the abort frame.
    if (d.abortRequested && !d.exchangeOut) {
        sendExchange(d.download.abortExchange(ZorSdoBlockDownload::GeneralError));
        progress(KS_FAIL, QStringLiteral("aborted"));
        requestTransition<Operating>();
        return;
    }

    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (message.isRequest() && message.msgType() != KM_INTERVIEW)
            sendToSlaves(message, true);
    }
}

bool Downloading::handleInterviewLine(const ZorInterview &line)
{
    if (line.kind() != SdoAbortDownload)
        return false;
    ZorSdoAddress address;
    if (!ZorSdoClient::parseAddress(line.request(), address))
        return false;
    Box &d = box();
    if (address.node != d.download.node() || address.index != d.download.index()
        || address.subIndex != d.download.subIndex())
        return false;
    Root::box().requester = line.message().origin();
    setLineExpectedAnswer(ZorCanExchange::NoResponse);
    d.abortRequested = true;
    return true;
}

// ---- ScanIds ------------------------------------------------------------------

void ScanIds::entry()
{
    gateway()->setTakesAllFrames(true);
    Box &s = box();
    s.clock.start();
    s.probes.clear();
    s.scan.start(0, Operating::box().scanListenMs, timing(ZorModCanOpenGateway::ScanSettle),
                 timing(ZorModCanOpenGateway::ScanProbeWait));
    sendExchange(ZorNmt::resetAllExchange());
}

void ScanIds::exit()
{
    gateway()->setTakesAllFrames(false);
}

void ScanIds::cycle()
{
    Box &s = box();
    const Root::Box &b = Root::box();
    const QList<int> nodes = s.scan.step(s.clock.elapsed());
    for (int node : nodes) {
        const ZorMessage probe = sendExchange(ZorNodeScan::probeExchange(
            node, b.requestBase, b.responseBase, timing(ZorModCanOpenGateway::ScanProbeTimeout)));
        s.probes.insert(probe.msgId(), node);
    }
    if (s.scan.phase() == ZorNodeScan::Done) {
        offerInterviewAnswer(ScanIdsKind, s.scan.answerText(), s.scan.foundNone());
        requestTransition<Operating>();
        return;
    }

    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        const int type = message.msgType();
        if (exchangeAnswered(message)) {
            const auto it = s.probes.constFind(message.msgId());
            if (it != s.probes.constEnd())
                s.scan.probeAnswered(it.value(),
                                     message.msgState() == KS_ANSWER ? message.data().toString() : QString(),
                                     b.responseBase);
        } else if (type == KM_CAN_FRAME) {
            reportBootUpOrEmergency(message);
            quint32 cobId = 0;
            QByteArray data;
            if (message.msgState() == KS_INFO && frameOf(message, cobId, data))
                s.scan.frameReceived(cobId, s.clock.elapsed());
        } else if (type != KM_WHOAMI && type != KM_COMM_STATUS) {
            sendToMaster(message, true);
        }
    }
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (message.isRequest() && message.msgType() != KM_INTERVIEW)
            sendToSlaves(message, true);
    }
}

// ---- Sampling -----------------------------------------------------------------

void Sampling::entry()
{
    qDebug().noquote() << "Sampling State started for" << module()->label();
    gateway()->setTakesAllFrames(true);
    gateway()->setPassesOnCancels(false);
    box().clock.start();
    box().configPending = true;
    module()->setCycleTime(10);
}

void Sampling::exit()
{
    qDebug().noquote() << "Sampling State ended for" << module()->label();
    gateway()->setTakesAllFrames(false);
    gateway()->setPassesOnCancels(true);
    module()->setCycleTime(15);
    // Polls still under way are no longer waited for.
    channels().releaseAll(Root::box().pollToken);
}

void Sampling::sendDuePolls()
{
    Box &s = box();
    const Root::Box &b = Root::box();
    ZorModule *m = module();
    const int timeout = timing(ZorModCanOpenGateway::SamplePollTimeout);
    // One poll per node at a time, and only while no other transfer runs on
    // the node; an object whose node is busy stays due for the next cycle.
    const auto canPoll = [&](int node) {
        if (s.pollingNodes.contains(node)
            || !channels().acquire(node, b.pollToken, holdTime(timeout), m, [m] { m->wakeup(); }))
            return false;
        s.pollingNodes.insert(node);
        return true;
    };
    for (const ZorCyclicSampling::Poll &poll : s.sampling.duePolls(s.clock.elapsed(), canPoll)) {
        const ZorMessage exchange = sendExchange(ZorCanExchange::line(timeout, poll.frameText, poll.answerPattern));
        s.polls.insert(exchange.msgId(), poll.node);
    }
}

bool Sampling::pollAnswered(const ZorMessage &answer)
{
    Box &s = box();
    const auto it = s.polls.find(answer.msgId());
    if (it == s.polls.end())
        return false;
    const int node = it.value();
    s.polls.erase(it);
    s.pollingNodes.remove(node);
    channels().release(node, Root::box().pollToken);
    return true;
}

void Sampling::cycle()
{
    Box &s = box();
    Operating::Box &o = Operating::box();
    const Root::Box &b = Root::box();
    readBases();
    if (s.configPending) {
        qDebug().noquote() << "Sampling Config for" << ('"' + module()->label() + '"');
        s.configPending = false;
        s.sampling.setBases(b.requestBase, b.responseBase);
        ZorMessage answer = o.samplingConfig;
        answer.setData(s.sampling.configure(o.samplingConfig.data().toString(), QDateTime::currentDateTime(),
                                            s.clock.elapsed()));
        answer.setMsgState(KS_ANSWER);
        sendToMaster(answer, true);
    }

    ZorModule *m = module();
    ZorMessage message;
    QString lines;
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        const int type = message.msgType();
        if (type == KM_CAN_FRAME) {
            quint32 cobId = 0;
            QByteArray data;
            if (message.msgState() == KS_INFO && frameOf(message, cobId, data))
                lines += s.sampling.decode(cobId, data, QDateTime::currentDateTime());
            checkTransferAbort(message);
        } else if (exchangeAnswered(message)) {
            // Lines served while sampling get their answers as in Operating.
            if (!pollAnswered(message))
                handleExchangeAnswer(message);
        } else if (type != KM_COMM_STATUS && !message.isRequest()) {
            sendToMaster(message, true);
        }
    }
    if (!lines.isEmpty())
        sendToMaster(ZorMessage(KM_DAQ_DATA, KS_INFO, lines), true);

    // After the answers that gave channels back: a served line waiting for
    // its node goes first, then the polls.
    startWaitingTransfer();
    sendDuePolls();

    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (message.msgType() == KM_DAQ_CONFIG) {
            if (message.msgState() == KS_CANCEL) {
                requestTransition<Operating>();
            } else {
                o.samplingConfig = message;
                s.configPending = true;
            }
            break;
        }
        if (message.isRequest() && message.msgType() != KM_INTERVIEW)
            sendToSlaves(message, true);
    }
}

} // namespace CanOpenGateway
