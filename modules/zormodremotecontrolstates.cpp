#include "zormodremotecontrolstates.h"

#include "zormodremotecontrol.h"
#include "zorrcnetworking.h"

namespace RemoteControl {

namespace {

using RC = ZorModRemoteControl;

const QString ClientPrefix = QStringLiteral("zorclient:");

// Never sent to the remote side, whatever the filter.
bool isExcludedType(int msgType)
{
    return msgType == KM_SNIFFER_SET || msgType == KM_SNIFFER_MSG
           || msgType == KM_APPLICATION_CONTROL;
}

} // namespace

// --- Root --------------------------------------------------------------------------

void Root::init()
{
    requestTransition<Idle>();
}

ZorModRemoteControl *Root::remote() const
{
    return static_cast<ZorModRemoteControl *>(module());
}

int Root::mode() const
{
    return property(RC::ModeProperty).trimmed().toInt();
}

void Root::setMode(const QString &value)
{
    setProperty(RC::ModeProperty, value);
}

void Root::answer(ZorMessage request)
{
    request.setMsgState(KS_ANSWER);
    sendToMaster(request);
}

void Root::sendInfo(const QString &text)
{
    sendToMaster(ZorMessage(KM_INFOTEXT, KS_INFO, text));
}

int Root::takeOpenOrClose()
{
    ZorModule *m = module();
    m->clearInQueue(ZorModule::FromSlaves);
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const int type = message.msgType();
        if (message.isRequest() && (type == KM_COMM_OPEN || type == KM_COMM_CLOSE)) {
            answer(message);
            return type;
        }
    }
    return 0;
}

// --- Idle --------------------------------------------------------------------------

void Idle::entry()
{
    setStatus(0);
}

void Idle::cycle()
{
    if (takeOpenOrClose() == KM_COMM_OPEN)
        setMode(QStringLiteral("1"));
    if (mode() == 1)
        requestTransition<Networking>();
}

// --- Networking --------------------------------------------------------------------

void Networking::entry()
{
    setStatus(1000);
    setStatusText(tr("Initializing"));
    // Read once per start: a changed filter takes effect at the next one.
    const QStringList patterns =
        property(RC::FilterProperty).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &pattern : patterns)
        box().filters << QRegExp(pattern, Qt::CaseInsensitive, QRegExp::Wildcard);
    box().logWindow.start();
}

void Networking::cycle()
{
    const QString connection = property(RC::ConnectionProperty);
    QString host = connection.section(QLatin1Char(':'), 0, 0);
    if (host.trimmed().toLower() == QLatin1String("server"))
        host.clear();
    const QString portText = connection.section(QLatin1Char(':'), 1, 1);
    bool ok = false;
    const uint port = portText.trimmed().toUInt(&ok, 10);
    if (!ok || port == 0 || port > 65535) {
        // Port 0 would listen wherever the system likes.
        setStatusText(tr("error: invalid port '%1' in '%2'").arg(portText, connection));
        requestTransition<Error>();
        return;
    }
    ZorRcNetworking *net = remote()->networking();
    net->setEndpoint(host, quint16(port));
    net->setBindAddress(property(RC::BindAddressProperty));
    net->setSecret(property(RC::SecretProperty));
    bool numeric = false;
    const double idleSeconds = property(RC::IdleTimeoutProperty).trimmed().toDouble(&numeric);
    net->setIdleTimeout(numeric && idleSeconds > 0 ? int(qMin(idleSeconds * 1000, 2e9)) : 0);
    if (net->isServer())
        requestTransition<Server>();
    else
        requestTransition<Client>();
}

bool Networking::refuseGuarded(ZorMessage message)
{
    // Replies to what this side asked pass; requests and notices do not
    // (some modules act on a notice as on a request). In client mode the
    // remote tree's notices only reach this module's panel.
    if (message.msgState() != KS_REQUEST
        && (message.msgState() != KS_INFO || machine().inState<Client>()))
        return false;
    const QString reason = RC::guardReason(message);
    if (reason.isEmpty() || property(RC::AllowControlProperty).trimmed() == QLatin1String("1"))
        return false;
    QString what = ZorMessage::msgTypeName(message.msgType());
    if (message.msgType() == KM_SETPROPERTY || message.msgType() == KM_DAQ_CONTROL)
        what += QLatin1Char(' ') + message.data().toString().section(QLatin1Char('='), 0, 0).left(80);
    sendInfo(tr("Refused %1 from the network: %2 (not allowed on the panel)")
                 .arg(what, reason));
    if (message.isRequest()) {
        message.setMsgState(KS_REJECT);
        reply(message);
    }
    return true;
}

void Networking::deliver(const ZorMessage &message)
{
    if (refuseGuarded(message))
        return;
    if (machine().inState<Client>())
        sendToMaster(message, false);
    else
        sendToSlaves(message, false);
}

bool Networking::receive()
{
    if (mode() == 0) {
        requestTransition<Idle>();
        return true;
    }
    ZorRcNetworking *net = remote()->networking();
    flushTrafficLog();
    for (const QString &text : net->takeIncoming()) {
        logTraffic(QStringLiteral("remoteIn:  "), text);
        if (text.startsWith(ClientPrefix)) {
            box().clientForm = true;
            deliver(ZorMessage(text.mid(text.indexOf(QLatin1Char(':')) + 1), 3));
        } else {
            deliver(ZorMessage(text, 1));
        }
    }
    bool failed = false;
    const QString errorMark = tr("error:");
    for (const QString &text : net->takeStatusTexts()) {
        if (text.startsWith(errorMark, Qt::CaseInsensitive)) {
            setStatus(1000);
            failed = true;
            // The new status text reaches the master once.
            if (statusText() != text) {
                setStatusText(text);
                continue;
            }
        }
        sendInfo(text);
    }
    if (failed) {
        requestTransition<Error>();
        return true;
    }
    return false;
}

void Networking::forward(const ZorMessage &message)
{
    if (!isExcludedType(message.msgType()))
        reply(message);
}

void Networking::reply(const ZorMessage &message)
{
    const QString text =
        box().clientForm ? ClientPrefix + message.toString(3) : message.toString(4);
    for (const QRegExp &filter : qAsConst(box().filters))
        if (filter.exactMatch(text))
            return;
    logTraffic(QStringLiteral("remoteOut: "), text);
    if (remote()->networking()->appendOutgoing(text))
        remote()->sendServerCommand(3);
}

void Networking::logTraffic(const QString &prefix, const QString &text)
{
    Box &b = box();
    if (b.logged >= LoggedPerSecond) {
        ++b.notLogged;
        return;
    }
    ++b.logged;
    if (text.size() <= LoggedTextChars) {
        sendInfo(prefix + text);
        return;
    }
    sendInfo(prefix + text.left(LoggedTextChars)
             + tr(" [... %1 more characters not logged]").arg(text.size() - LoggedTextChars));
}

void Networking::flushTrafficLog()
{
    Box &b = box();
    if (b.logWindow.elapsed() < 1000)
        return;
    if (b.notLogged > 0)
        sendInfo(tr("%1 further messages in and out not logged (more than %2 a second)")
                     .arg(b.notLogged)
                     .arg(LoggedPerSecond));
    b.logged = 0;
    b.notLogged = 0;
    b.logWindow.start();
}

bool Networking::statusChanged(const ZorMessage &message)
{
    if (message.msgType() != KM_STATUS || message.msgState() != KS_INFO)
        return true;
    Box &b = box();
    const quint64 admissions = remote()->networking()->admissions();
    if (admissions != b.admissionsHeard) {
        b.admissionsHeard = admissions;
        b.lastStatus.clear();
    }
    QVariant &last = b.lastStatus[message.origin()];
    if (last.isValid() && last == message.data())
        return false;
    last = message.data();
    return true;
}

// --- Server ------------------------------------------------------------------------

void Server::entry()
{
    Networking::box().clientForm = false;
    setStatus(1);
    setStatusText(tr("Server started Port=%1")
                      .arg(property(RC::ConnectionProperty).section(QLatin1Char(':'), 1, 1).trimmed()));
    remote()->sendServerCommand(1);
}

void Server::exit()
{
    remote()->sendServerCommand(2);
}

void Server::cycle()
{
    if (receive())
        return;
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromSlaves, message))
        if (statusChanged(message))
            forward(message);
    // What the module base did not answer from the master side is no
    // business of a server.
    m->clearInQueue(ZorModule::FromMaster);
}

// --- Client ------------------------------------------------------------------------

void Client::entry()
{
    remote()->setClientMode(true);
    Networking::box().clientForm = true;
    setStatus(1);
    const QString connection = property(RC::ConnectionProperty);
    setStatusText(tr("Client connection Host=%1 Port=%2")
                      .arg(connection.section(QLatin1Char(':'), 0, 0),
                           connection.section(QLatin1Char(':'), 1, 1).trimmed()));
    remote()->sendServerCommand(1);
}

void Client::exit()
{
    remote()->sendServerCommand(2);
    remote()->setClientMode(false);
}

void Client::cycle()
{
    if (receive())
        return;
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const int type = message.msgType();
        if (type == KM_GETPROPERTY || type == KM_SETPROPERTY) {
            const QString data = message.data().toString();
            const int eq = data.indexOf(QLatin1Char('='));
            const QString name = eq < 0 ? data : data.left(eq);
            if (name.contains(QLatin1String("RemoteControl"))) {
                if (type == KM_SETPROPERTY)
                    setProperty(name, eq < 0 ? QString() : data.mid(eq + 1), false);
                message.setData(name + QLatin1Char('=') + property(name));
                answer(message);
                continue;
            }
        }
        if (message.isRequest() && (type == KM_COMM_OPEN || type == KM_COMM_CLOSE)) {
            answer(message);
            if (type == KM_COMM_CLOSE) {
                setMode(QStringLiteral("0"));
                break;
            }
            continue;
        }
        if (message.isRequest() && type != KM_UNDEFINED)
            forward(message);
    }
    m->clearInQueue(ZorModule::FromSlaves);
}

// --- Error -------------------------------------------------------------------------

void Error::entry()
{
    box().clock.start();
}

void Error::cycle()
{
    if (takeOpenOrClose() == KM_COMM_CLOSE)
        setMode(QStringLiteral("0"));
    // Switched off while waiting: no new attempt, also when the wait is over.
    if (mode() == 0) {
        requestTransition<Idle>();
        return;
    }
    if (box().clock.elapsed() <= remote()->retryDelayMs())
        return;
    // A new attempt, with the networking object started afresh.
    setMode(QStringLiteral("1"));
    requestTransition<Networking>();
}

} // namespace RemoteControl
