#include "zormodcommchannelstates.h"

#include "zormodcommchannel.h"
#include "zormodstartstop.h"
#include "zormodule.h"

namespace CommChannelStates {

namespace {

const int ConnectTimeoutMs = 5000;
const int ConnectedCycleMs = 5;
const int DefaultCycleMs = 15;

const QString ManualCommand = QStringLiteral("ManualCommand");
const QString ManualCommandAnswer = QStringLiteral("ManualCommandAnswer");
const QString ConnectedStatusSet = QStringLiteral("ConnectedStatusSet");

} // namespace

// --- CommRoot ----------------------------------------------------------------------

void CommRoot::init()
{
    requestTransition<Idle>();
}

QString CommRoot::endpoint() const
{
    return property(QLatin1String(ZorModCommChannel::EndpointProperty));
}

bool CommRoot::binaryMode() const
{
    return property(QLatin1String(ZorModCommChannel::ModeProperty)) == QLatin1String("1");
}

void CommRoot::setChannelStatusText(const QString &text)
{
    setStatusText(CommRoot::box().simulated ? QStringLiteral("SIM ") + text : text);
}

void CommRoot::log(const QString &text)
{
    CommRoot::box().log.append(text);
    flushLog();
}

void CommRoot::flushLog()
{
    const QString due = CommRoot::box().log.takeDue();
    if (!due.isEmpty())
        sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO, due));
}

void CommRoot::answer(ZorMessage request, int state)
{
    request.setMsgState(state);
    sendToMaster(request);
}

bool CommRoot::isStartRequest(const ZorMessage &message)
{
    return message.isRequest()
           && (message.msgType() == KM_START || message.msgType() == KM_COMM_OPEN);
}

bool CommRoot::isStopRequest(const ZorMessage &message)
{
    return message.isRequest()
           && (message.msgType() == KM_STOP || message.msgType() == KM_COMM_CLOSE);
}

ZorModStartStop::Request CommRoot::takeStartStop()
{
    // Data for a channel that is not connected fails at once, with the
    // reason, so that a requester waiting for the answer never waits in vain.
    return ZorModStartStop::take(*this, isStartRequest, isStopRequest, [this](ZorMessage message) {
        if (!message.isRequest() || message.msgType() != KM_COMM_DATA)
            return;
        message.setData(tr("not connected: %1").arg(statusText()));
        answer(message, KS_FAIL);
    });
}

// --- Idle --------------------------------------------------------------------------

void Idle::entry()
{
    setProperty(ConnectedStatusSet, QString());
    setProperty(ManualCommand, QString());
    setProperty(ManualCommandAnswer, QString());
    setStatus(0);
    setChannelStatusText(tr("Idle"));
    setReadOnlyProperties(QStringLiteral("ManualCommand,ManualCommandAnswer,ConnectedStatusSet"));
}

void Idle::cycle()
{
    // A stop while idle is only answered.
    ZorModStartStop::Request request;
    while ((request = takeStartStop()) == ZorModStartStop::Stop) {
    }
    if (request == ZorModStartStop::Start)
        requestTransition<Connecting>();
    flushLog();
}

// --- Connecting --------------------------------------------------------------------

void Connecting::entry()
{
    const bool simulated = endpoint().trimmed().toLower().startsWith(QLatin1String("sim"));
    box().channel.setSimulated(simulated);
    CommRoot::box().simulated = simulated;
    setStatus(1000);
    setChannelStatusText(tr("Connecting %1...").arg(endpoint()));
    setProperty(ConnectedStatusSet, QString());
    setReadOnlyProperties(QStringLiteral("ManualCommandAnswer,ConnectedStatusSet"));
}

void Connecting::exit()
{
    setProperty(ManualCommand, QString());
    CommRoot::box().simulated = false;
}

void Connecting::cycle()
{
    const QString target = endpoint();
    if (target.trimmed().isEmpty()) {
        setChannelStatusText(tr("No Comm. Channel"));
        requestTransition<Idle>();
    } else if (box().channel.isSimulated()) {
        requestTransition<Connected>();
    } else if (box().channel.open(target, ConnectTimeoutMs)) {
        requestTransition<Connected>();
    } else {
        setChannelStatusText(tr("Error connect %1").arg(target));
        requestTransition<Error>();
    }
}

// --- Connected ---------------------------------------------------------------------

void Connected::entry()
{
    setStatus(1);
    setChannelStatusText(tr("Connected"));
    module()->setCycleTime(ConnectedCycleMs);
    box().awaitingAnswer = false;
}

void Connected::exit()
{
    setChannelStatusText(tr("Closing Connection %1").arg(endpoint()));
    module()->setCycleTime(DefaultCycleMs);
    Connecting::box().channel.close();
}

bool Connected::writeData(const QVariant &data)
{
    ZorCommChannel &channel = Connecting::box().channel;
    QByteArray bytes;
    if (binaryMode()) {
        bytes = data.userType() == QMetaType::QByteArray ? data.toByteArray()
                                                         : QByteArray::fromHex(data.toString().toLatin1());
        log(QStringLiteral("TX: binary ") + QString::fromLatin1(bytes.toHex()));
    } else {
        QString text = data.toString();
        if (!text.endsWith(QLatin1Char('\r')) && !text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\r');
        bytes = text.toLatin1();
        log(QStringLiteral("TX: ") + text);
    }
    // A simulated channel has no device: the write goes nowhere, and that
    // is no failure.
    if (channel.isSimulated())
        return true;
    return channel.write(bytes) == 0;
}

void Connected::applyConnectedStatusSet()
{
    const QString setting = property(ConnectedStatusSet);
    int code = setting.section(QLatin1Char(','), 0, 0).trimmed().toInt();
    QString text = setting.section(QLatin1Char(','), 1, 1);
    if (code < 1) {
        code = 1;
        text = tr("Connected");
    }
    setStatus(code);
    setChannelStatusText(text);
}

void Connected::handleReceived(const QVariant &data)
{
    sendToMaster(ZorMessage(KM_COMM_DATA, KS_INFO, data));
    const bool binary = binaryMode();
    const QString shown = binary ? QString::fromLatin1(data.toByteArray().toHex()) : data.toString();
    log((binary ? QStringLiteral("RX: binary ") : QStringLiteral("RX: ")) + shown);
    if (box().awaitingAnswer) {
        setProperty(ManualCommandAnswer, shown);
        box().awaitingAnswer = false;
    }
}

void Connected::takeReceived()
{
    ZorCommChannel &channel = Connecting::box().channel;
    if (binaryMode()) {
        QByteArray bytes;
        if (channel.takeAll(bytes) > 0)
            handleReceived(bytes);
        return;
    }
    QString line;
    while (channel.takeUntil(line, QStringLiteral("\r")) > 0)
        handleReceived(line);
}

void Connected::cycle()
{
    ZorModule *m = module();
    m->clearInQueue(ZorModule::FromSlaves);
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (isStartRequest(message) || isStopRequest(message)) {
            answer(message);
            if (isStopRequest(message))
                requestTransition<Idle>();
            flushLog();
            return;
        }
        if (message.isRequest() && message.msgType() == KM_COMM_DATA) {
            const bool written = writeData(message.data());
            answer(message, written ? KS_ANSWER : KS_FAIL);
        } else if (message.msgType() == KM_SETPROPERTY) {
            applyConnectedStatusSet();
        }
    }

    const QString manual = property(ManualCommand);
    if (!manual.isEmpty()) {
        setProperty(ManualCommand, QString());
        writeData(manual);
        box().awaitingAnswer = true;
    }
    takeReceived();

    // A device that closed the connection sends nothing more and takes no
    // writes: show it rather than going on silently.
    ZorCommChannel &channel = Connecting::box().channel;
    if (channel.overflowed()) {
        CommRoot::box().errorText = tr("Connection closed %1: more than %2 bytes without CR")
                                        .arg(endpoint())
                                        .arg(channel.maxBufferBytes());
        log(CommRoot::box().errorText);
        requestTransition<Error>();
    } else if (!channel.isSimulated() && !channel.isConnected()) {
        CommRoot::box().errorText = tr("Connection lost %1").arg(endpoint());
        requestTransition<Error>();
    }
    flushLog();
}

// --- Error -------------------------------------------------------------------------

void Error::entry()
{
    setStatus(2000);
    QString &text = CommRoot::box().errorText;
    if (!text.isEmpty()) {
        setChannelStatusText(text);
        text.clear();
    }
}

void Error::cycle()
{
    const ZorModStartStop::Request request = takeStartStop();
    if (request == ZorModStartStop::Start)
        requestTransition<Connecting>();
    else if (request == ZorModStartStop::Stop)
        requestTransition<Idle>();
    flushLog();
}

} // namespace CommChannelStates
