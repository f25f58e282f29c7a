#include "zormodcanopengatewaystates.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"
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

bool frameOf(const ZorMessage &message, quint32 &cobId, QByteArray &data)
{
    const QByteArray record = message.data().toByteArray();
    if (record.size() != ZOR_FRAME_RECORD_SIZE || !ZorBabelFish::fromQbytearrayToDataPart(record, data))
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
    requestTransition<Operating>();
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
    sendToSlaves(message, false);
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
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        const int type = message.msgType();
        if (isExchangeAnswer(message)) {
            handleExchangeAnswer(message);
        } else if (type == KM_CAN_FRAME) {
            if (property(QStringLiteral("ForwardCanFrames")).trimmed() == QLatin1String("1"))
                sendToMaster(message, true);
            reportBootUpOrEmergency(message);
        } else if (type != KM_COMM_STATUS && !message.isRequest()) {
            sendToMaster(message, false);
        }
    }
    takeRequesterMessages();
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
        if (type == KM_CANCEL_INTERVIEWS && message.msgState() == KS_ANSWER) {
            // The requester's interviews here are cancelled; its exchanges
            // still pending at the CAN interface (they carry its origin) go too.
            ZorMessage cancel(KM_CANCEL_INTERVIEWS, KS_REQUEST, QString());
            cancel.setOrigin(message.origin());
            sendToSlaves(cancel, false);
        } else if (message.isRequest() && type != KM_INTERVIEW) {
            sendToSlaves(message, false);
        }
    }
}

bool Operating::handleInterviewLine(const ZorInterview &line)
{
    Root::Box &b = Root::box();
    b.requester = line.message().origin();
    b.kind = line.kind();
    b.request = line.request();
    b.timeoutMs = line.timeoutMs();
    b.exchangeId = 0;   // whatever was under way belongs to an earlier line
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

    ZorSdoAddress address;
    if (!ZorSdoClient::parseAddress(b.request, address))
        return false;
    QString exchange;
    if (b.kind == SdoWrite) {
        QString error;
        if (line.expectedAnswer().isEmpty())
            setLineExpectedAnswer(ZorSdoClient::writePattern(address));
        if (!b.sdo.startWrite(address, b.timeoutMs, line.expectsNoResponse(), exchange, error)) {
            if (error.isEmpty())
                return false;
            b.exchangeId = 0;
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
    b.exchangeId = sendExchange(exchange).msgId();
    return true;
}

void Operating::handleExchangeAnswer(const ZorMessage &answer)
{
    Root::Box &b = Root::box();
    // Only the answer to this gateway's own exchange under way counts.
    if (!b.exchangeId || answer.msgId() != b.exchangeId)
        return;
    const ZorSdoClient::Step step = b.sdo.handleAnswer(answer.data().toString(), answer.msgState() == KS_ANSWER);
    if (step.finished)
        b.exchangeId = 0;
    if (!step.exchange.isEmpty()) {
        const int id = sendExchange(step.exchange).msgId();
        if (!step.finished)
            b.exchangeId = id;
    }
    for (const QString &text : step.answers)
        offerInterviewAnswer(b.kind, text, step.failed);
}

// ---- LSS ---------------------------------------------------------------------

void LssConfigMode::entry()
{
    Operating::Box &b = Operating::box();
    const quint16 requestId = propertyId("LssRequestId", 0x7e5);
    const quint16 responseId = propertyId("LssResponseId", 0x7e4);
    const int wait = timing(ZorModCanOpenGateway::LssSwitchWait);
    b.lssEnter = ZorMessage(KM_INTERVIEW, KS_REQUEST,
                            ZorLssMaster::switchModeLine(requestId, b.lss.command, b.lss.value, wait));
    b.lssLeave = ZorMessage(KM_INTERVIEW, KS_REQUEST, ZorLssMaster::switchModeLine(requestId, 0x04, 0, wait));
    b.lssStore = ZorMessage(KM_INTERVIEW, KS_REQUEST,
                            ZorLssMaster::storeLine(requestId, responseId, timing(ZorModCanOpenGateway::LssAnswerTimeout)));
    b.lssSet = ZorMessage(KM_INTERVIEW, KS_CANCEL, QString());
}

void SetNodeParameters::entry()
{
    Operating::Box &b = Operating::box();
    const quint16 requestId = propertyId("LssRequestId", 0x7e5);
    const quint16 responseId = propertyId("LssResponseId", 0x7e4);
    const int timeout = timing(ZorModCanOpenGateway::LssAnswerTimeout);
    QString text;
    if (b.lss.nodeId)
        text += ZorLssMaster::configureNodeIdLine(requestId, responseId, b.lss.nodeId, timeout);
    if (b.lss.bitRate)
        text += ZorLssMaster::configureBitTimingLine(requestId, responseId,
                                                     ZorLssMaster::bitTimingIndex(b.lss.bitRate), timeout);
    b.lssSet = ZorMessage(KM_INTERVIEW, KS_REQUEST, text);
    sendToCanInterface(b.lssEnter);
}

void SetNodeParameters::handleExchangeAnswer(const ZorMessage &answer)
{
    Operating::Box &b = Operating::box();
    if (answer == b.lssEnter) {
        b.lssEnter = answer;
        sendToCanInterface(b.lssSet);
    } else if (answer == b.lssSet) {
        b.lssSet = answer;
        sendToCanInterface(answer.msgState() == KS_ANSWER ? b.lssStore : b.lssLeave);
    } else if (answer == b.lssStore) {
        b.lssStore = answer;
        sendToCanInterface(b.lssLeave);
    } else if (answer == b.lssLeave) {
        const bool ok = b.lssSet.msgState() == KS_ANSWER && b.lssStore.msgState() == KS_ANSWER;
        offerInterviewAnswer(LssNodeParameters, ok ? QStringLiteral("ok") : QStringLiteral("error"), !ok);
        requestTransition<Operating>();
    }
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
    d.abortRequested = false;
}

void Downloading::send(const QString &exchange)
{
    Box &d = box();
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
        progress(KS_INFO, 100);
        requestTransition<Operating>();
        break;
    case ZorSdoBlockDownload::Step::Failed:
        if (!step.exchange.isEmpty())
            sendExchange(step.exchange);
        progress(KS_FAIL, 100);
        requestTransition<Operating>();
        break;
    }
}

void Downloading::cycle()
{
    Box &d = box();
    if (d.starting) {
        d.starting = false;
        QString exchange;
        if (d.ok) {
            d.ok = d.download.start(exchange, d.result);
            if (d.ok)
                d.result = QStringLiteral("init download %1 bytes, mode = %2")
                               .arg(d.download.size())
                               .arg(d.download.modeText());
        }
        offerInterviewAnswer(SdoDownload, d.result, !d.ok);
        if (!d.ok) {
            requestTransition<Operating>();
            return;
        }
        progress(KS_INFO, 0);
        send(exchange);
    }

    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        const int type = message.msgType();
        if (type == KM_CAN_FRAME) {
            reportBootUpOrEmergency(message);
        } else if (isExchangeAnswer(message)) {
            if (!d.exchangeOut || message.msgId() != d.exchangeId)
                continue;
            d.exchangeOut = false;
            if (d.abortRequested)
                break;
            handleStep(d.download.handleAnswer(message.data().toString(), message.msgState() == KS_ANSWER));
            if (!d.exchangeOut)
                break;   // finished or failed: the state is left
        } else if (type != KM_WHOAMI && type != KM_COMM_STATUS && !message.isRequest()) {
            sendToMaster(message, true);
        }
    }

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
    Box &s = box();
    s.clock.start();
    s.probes.clear();
    s.scan.start(0, Operating::box().scanListenMs, timing(ZorModCanOpenGateway::ScanSettle),
                 timing(ZorModCanOpenGateway::ScanProbeWait));
    sendExchange(ZorNmt::resetAllExchange());
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
        if (isExchangeAnswer(message)) {
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
    box().clock.start();
    box().configPending = true;
    module()->setCycleTime(10);
}

void Sampling::exit()
{
    qDebug().noquote() << "Sampling State ended for" << module()->label();
    module()->setCycleTime(15);
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

    for (const ZorCyclicSampling::Poll &poll : s.sampling.duePolls(s.clock.elapsed()))
        sendToCanInterface(ZorMessage(KM_CAN_FRAME, KS_REQUEST, poll.record));

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
        } else if (isExchangeAnswer(message)) {
            // Lines served while sampling get their answers as in Operating.
            handleExchangeAnswer(message);
        } else if (type != KM_COMM_STATUS && !message.isRequest()) {
            sendToMaster(message, true);
        }
    }
    if (!lines.isEmpty())
        sendToMaster(ZorMessage(KM_DAQ_DATA, KS_INFO, lines), true);

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
