#include "zormodremotecontrol.h"

#include "zormodremotecontrolstates.h"
#include "zorrcnetworking.h"

const QString ZorModRemoteControl::ModeProperty = QStringLiteral("RemoteControlMode");
const QString ZorModRemoteControl::ConnectionProperty = QStringLiteral("RemoteControlConnection");
const QString ZorModRemoteControl::FilterProperty = QStringLiteral("RemoteControlMsgFilter");
const QString ZorModRemoteControl::BindAddressProperty = QStringLiteral("RemoteControlBindAddress");
const QString ZorModRemoteControl::SecretProperty = QStringLiteral("RemoteControlSecret");
const QString ZorModRemoteControl::AllowControlProperty = QStringLiteral("RemoteControlAllowControl");
const QString ZorModRemoteControl::IdleTimeoutProperty = QStringLiteral("RemoteControlIdleTimeout");

namespace {

// The property key a KM_SETPROPERTY sets: the name before "=", read as the
// module base reads it, and the whole name as well, so that a key with a
// blank in it is judged by both of its possible readings.
QStringList setPropertyKeys(const ZorMessage &message)
{
    const QString data = message.data().toString();
    const QString name = data.section(QLatin1Char('='), 0, 0).trimmed();
    return {ZorModule::propertyKey(name), name};
}

// Script properties ("Script", "ScriptFileName", "ExternalScript1") and
// file paths: the keys of every module type that name a file or folder
// ("ConfigFilePath", "FirmwareFilePath", "KelvatroUpdateFile", and any
// later one that ends the same way).
bool isScriptOrPathKey(const QString &key)
{
    static const char *const endings[] = {"file", "filename", "filepath", "path",
                                          "folder", "dir", "directory"};
    const QString k = key.toLower();
    if (k.startsWith(QLatin1String("script")) || k.startsWith(QLatin1String("externalscript")))
        return true;
    for (const char *ending : endings)
        if (k.endsWith(QLatin1String(ending)))
            return true;
    return false;
}

bool setsScriptOrPath(const ZorMessage &message)
{
    for (const QString &key : setPropertyKeys(message))
        if (isScriptOrPathKey(key))
            return true;
    return false;
}

// Codes 1 (start recording) and 4 (load a recording) with a file name.
bool namesRecordingFile(const ZorMessage &message)
{
    const QString data = message.data().toString();
    const int code = data.section(QLatin1Char(','), 0, 0).trimmed().toInt();
    return (code == 1 || code == 4) && !data.section(QLatin1Char(','), 1).trimmed().isEmpty();
}

// An interview with an "SDODownload" line: a download of data or of a file
// into a node.
bool downloadsToNode(const ZorMessage &message)
{
    for (const QString &line : message.data().toString().split(QLatin1Char('\n')))
        if (line.section(QLatin1Char(':'), 0, 0).trimmed().compare(QLatin1String("SDODownload"),
                                                                   Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

ZorModRemoteControl::ZorModRemoteControl(QObject *parent)
    : ZorModule(parent)
{
    setProperty(ModeProperty, QStringLiteral("0"));
    setProperty(ConnectionProperty, QStringLiteral("SERVER:51111"));
    setProperty(FilterProperty, QString());
    setProperty(BindAddressProperty, QStringLiteral("127.0.0.1"));
    setProperty(SecretProperty, QString());
    setProperty(AllowControlProperty, QStringLiteral("0"));
    setProperty(IdleTimeoutProperty, QStringLiteral("300"));

    // A CAN interface taken as slave is reached through a CANopen gateway.
    for (const char *type : {"canusb", "ethernet", "kelvatro"})
        addGatewayForMasterType(QLatin1String(type));

    m_networking = new ZorRcNetworking(this);
    connect(this, &ZorModRemoteControl::serverSignal, m_networking, &ZorRcNetworking::cmd,
            Qt::QueuedConnection);
    connect(m_networking, &ZorRcNetworking::newData, this, &ZorModule::wakeup);
}

ZorModRemoteControl::~ZorModRemoteControl()
{
    // The states reach the networking object until the thread has ended.
    stop();
}

QString ZorModRemoteControl::acceptedSlaveTypes() const
{
    // Two remote controls linked to each other would echo every message.
    return QStringLiteral("*,remotecontrol-");
}

bool ZorModRemoteControl::bypassInputFilter() const
{
    return m_clientMode;
}

Macho::StateRef ZorModRemoteControl::rootStateRef() const
{
    return RemoteControl::Root::makeStateRef();
}

const QList<ZorModRemoteControl::GuardedRequest> &ZorModRemoteControl::guardedRequests()
{
    static const QList<GuardedRequest> list = {
        {KM_SETPROPERTY, "of a script or file-path property (Script, ScriptFileName, ExternalScript1, "
                         "ConfigFilePath, FirmwareFilePath, KelvatroUpdateFile, and every key ending "
                         "in File, FileName, FilePath, Path, Folder, Dir or Directory)",
         "it would change a script or a file path", setsScriptOrPath},
        {KM_DAQ_CONTROL, "with a file name (1,<file> starts recording into it, 4,<file> loads it)",
         "it names a file to write or read", namesRecordingFile},
        {KM_INTERVIEW, "with an SDODownload line", "it downloads into a node", downloadsToNode},
        {KM_DRIVE_DOWNLOAD_START, "every one", "it downloads into a drive", nullptr},
        {KM_SCRIPT_CONTROL, "every one", "it controls scripts", nullptr},
        {KM_MASTER_OUT, "every one", "its module sends the message it carries as its own", nullptr},
        {KM_APPLICATION_CONTROL, "every one", "it reaches the main window", nullptr},
        {KM_DIALOG, "every one", "it reaches the main window", nullptr},
    };
    return list;
}

QString ZorModRemoteControl::guardReason(const ZorMessage &message)
{
    for (const GuardedRequest &g : guardedRequests())
        if (g.msgType == message.msgType() && (!g.applies || g.applies(message)))
            return QLatin1String(g.reason);
    return QString();
}

ZorModule *createRemoteControlModule(QObject *parent)
{
    return new ZorModRemoteControl(parent);
}
