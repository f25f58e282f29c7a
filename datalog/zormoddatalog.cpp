#include "zormoddatalog.h"

#include "zormoddatalogstates.h"

namespace {

const char *const PreTrigger = "PreTriggerTimeMsec";
const char *const PostTrigger = "PostTriggerTimeMsec";
const char *const PreTriggerDefault = "4000";
const char *const PostTriggerDefault = "1000";
constexpr int TriggerTimeLimitMs = 100000;

} // namespace

ZorModDataLog::ZorModDataLog(QObject *parent)
    : ZorModule(parent)
{
    setProperty(QStringLiteral("TriggerState"), QStringLiteral("0"), true);
    setProperty(QStringLiteral("TriggerConfig"), QString(), true);
    setProperty(QLatin1String(PreTrigger), QLatin1String(PreTriggerDefault), true, true);
    setProperty(QLatin1String(PostTrigger), QLatin1String(PostTriggerDefault), true, true);
    // A CAN interface taken as slave is reached through a CANopen gateway.
    for (const char *type : {"canusb", "ethernet", "kelvatro"})
        addGatewayForMasterType(QLatin1String(type));
}

ZorModDataLog::~ZorModDataLog()
{
    stop();
}

QString ZorModDataLog::acceptedSlaveTypes() const
{
    return QStringLiteral("canusb,kelvatro,ethernet");
}

bool ZorModDataLog::propertyChanged(const QString &key, QString &value)
{
    const bool pre = key == QLatin1String(PreTrigger);
    if (!pre && key != QLatin1String(PostTrigger))
        return true;
    bool ok = false;
    const int ms = value.trimmed().toInt(&ok, 10);
    if (ok && ms >= 0 && ms <= TriggerTimeLimitMs) {
        value = QString::number(ms);
        return true;
    }
    value = QLatin1String(pre ? PreTriggerDefault : PostTriggerDefault);
    return false;
}

Macho::StateRef ZorModDataLog::rootStateRef() const
{
    return DataLogStates::Root::makeStateRef();
}

int ZorModDataLog::daqControlCode(const ZorMessage &message)
{
    if (message.msgType() != KM_DAQ_CONTROL)
        return 0;
    const QString text = message.data().toString();
    bool ok = false;
    const int code = text.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok, 10);
    return ok ? code : 0;
}

QString ZorModDataLog::daqControlArguments(const ZorMessage &message)
{
    if (message.msgType() != KM_DAQ_CONTROL)
        return QString();
    const QString text = message.data().toString();
    const int comma = text.indexOf(QLatin1Char(','));
    return comma < 0 ? QString() : text.mid(comma + 1);
}

QMap<QString, int> ZorModDataLog::sharedIdsOf(const QString &text)
{
    QMap<QString, int> ids;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString id = line.section(QLatin1Char(','), 0, 0);
        if (!ids.contains(id))
            ids.insert(id, line.section(QLatin1Char(','), 1, 1).toInt());
    }
    return ids;
}
