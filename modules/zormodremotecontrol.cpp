#include "zormodremotecontrol.h"

#include "zormodremotecontrolstates.h"
#include "zorrcnetworking.h"

const QString ZorModRemoteControl::ModeProperty = QStringLiteral("RemoteControlMode");
const QString ZorModRemoteControl::ConnectionProperty = QStringLiteral("RemoteControlConnection");
const QString ZorModRemoteControl::FilterProperty = QStringLiteral("RemoteControlMsgFilter");
const QString ZorModRemoteControl::BindAddressProperty = QStringLiteral("RemoteControlBindAddress");
const QString ZorModRemoteControl::SecretProperty = QStringLiteral("RemoteControlSecret");
const QString ZorModRemoteControl::AllowControlProperty = QStringLiteral("RemoteControlAllowControl");

ZorModRemoteControl::ZorModRemoteControl(QObject *parent)
    : ZorModule(parent)
{
    setProperty(ModeProperty, QStringLiteral("0"));
    setProperty(ConnectionProperty, QStringLiteral("SERVER:51111"));
    setProperty(FilterProperty, QString());
    setProperty(BindAddressProperty, QStringLiteral("127.0.0.1"));
    setProperty(SecretProperty, QString());
    setProperty(AllowControlProperty, QStringLiteral("0"));

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

bool ZorModRemoteControl::isGuardedType(int msgType)
{
    switch (msgType) {
    case KM_SCRIPT_CONTROL:
    case KM_DRIVE_DOWNLOAD_START:
    case KM_MASTER_OUT:
    case KM_APPLICATION_CONTROL:
    case KM_DIALOG:
        return true;
    default:
        return false;
    }
}

ZorModule *createRemoteControlModule(QObject *parent)
{
    return new ZorModRemoteControl(parent);
}
