#include "zormodcaninterface.h"

#include "zorbabelfish.h"
#include "zorcandriverbuslink.h"
#include "zormodcaninterfacestates.h"

#include <QSet>

namespace {

const quint32 lowestBitRate = 20000;
const quint32 highestBitRate = 1000000;

// "Baudrate": "scan", "scan_passive" or a bit rate written short ("500K").
bool normaliseBitRate(QString &value)
{
    const QString lower = value.trimmed().toLower();
    if (lower.contains(QLatin1String("scan_passive"))) {
        value = QStringLiteral("scan_passive");
        return true;
    }
    if (lower.contains(QLatin1String("scan"))) {
        value = QStringLiteral("scan");
        return true;
    }
    bool ok = false;
    quint32 rate = ZorBabelFish::fromSuffixedStrToNumber(value, &ok);
    bool result = ok;
    if (!ok) {
        rate = 0;
    } else if (rate < lowestBitRate) {
        rate = lowestBitRate;
        result = false;
    } else if (rate > highestBitRate) {
        rate = highestBitRate;
        result = false;
    }
    value = ZorBabelFish::fromNumberToSuffixedStr(rate);
    return result;
}

// "ScanBaudList": bit rates in bit/s, in their first order, doubles and
// parts that are no bit rate dropped.
bool normaliseScanList(QString &value)
{
    QStringList rates;
    QSet<quint32> seen;
    bool allRead = true;
    for (const QString &part : value.split(QLatin1Char(','))) {
        bool ok = false;
        const quint32 rate = ZorBabelFish::fromSuffixedStrToNumber(part, &ok);
        if (!ok || rate == 0) {
            allRead = false;
            continue;
        }
        if (seen.contains(rate))
            continue;
        seen.insert(rate);
        rates << QString::number(rate);
    }
    value = rates.join(QLatin1Char(','));
    return allRead;
}

} // namespace

ZorModCanInterface::ZorModCanInterface(QObject *parent)
    : ZorModule(parent)
{
    addProperties();
}

ZorModCanInterface::ZorModCanInterface(const QString &label, const QString &type, QObject *parent)
    : ZorModule(parent)
{
    setIdentity(label, type, QString());
    addProperties();
}

ZorModCanInterface::~ZorModCanInterface()
{
    // The thread must have ended before the settings it reads go away.
    stop();
}

void ZorModCanInterface::addProperties()
{
    setProperty(QStringLiteral("Port"), QStringLiteral("(first found)"));
    setProperty(QStringLiteral("Baudrate"), QStringLiteral("scan"));
    setProperty(QStringLiteral("DebugMode"), QStringLiteral("0"));
    setProperty(QStringLiteral("TimestampMode"), QStringLiteral("1"));
    setProperty(QStringLiteral("ScanBaudList"),
                QStringLiteral("1000000,500000,250000,125000,100000,50000,20000"));
    for (int n = 0; n < 10; ++n) {
        setProperty(QStringLiteral("SendSeqName%1").arg(n), tr("My Sequence %1").arg(n + 1));
        setProperty(QStringLiteral("SendSequence%1").arg(n),
                    tr("; TODO: Add your CAN program no. %1 here").arg(n + 1));
    }
}

QStringList ZorModCanInterface::typeKeys()
{
    return {QStringLiteral("canusb"), QStringLiteral("kelvatro")};
}

QStringList ZorModCanInterface::interfaceTypes()
{
    QStringList types = {QStringLiteral("vedozovo"), QStringLiteral("brenko"),
                         QStringLiteral("zazevavi"), QStringLiteral("vscom"),
                         QStringLiteral("net"),      QStringLiteral("ixxat")};
    types += ZorCanDriverBuslink::adapterKeys();
    return types;
}

bool ZorModCanInterface::propertyChanged(const QString &key, QString &value)
{
    if (key == QLatin1String("Port")) {
        if (value.isEmpty()) {
            value = QStringLiteral("(first found)");
            return false;
        }
        return true;
    }
    if (key == QLatin1String("Baudrate"))
        return normaliseBitRate(value);
    if (key == QLatin1String("ScanBaudList"))
        return normaliseScanList(value);
    return true;
}

Macho::StateRef ZorModCanInterface::rootStateRef() const
{
    return CanUsbStates::Root::makeStateRef();
}

bool ZorModCanInterface::isKelvatro() const
{
    return type() == QLatin1String("kelvatro");
}

void ZorModCanInterface::setScanTiming(const ScanTiming &timing)
{
    std::lock_guard<std::mutex> locker(settingsMutex);
    m_scanTiming = timing;
}

ZorModCanInterface::ScanTiming ZorModCanInterface::scanTiming() const
{
    std::lock_guard<std::mutex> locker(settingsMutex);
    return m_scanTiming;
}

void ZorModCanInterface::setDriverFactory(const DriverFactory &factory)
{
    std::lock_guard<std::mutex> locker(settingsMutex);
    m_driverFactory = factory;
}

ZorAbstractCanDriver *ZorModCanInterface::createDriver(ZorCanDriverFactory::Kind kind) const
{
    DriverFactory factory;
    {
        std::lock_guard<std::mutex> locker(settingsMutex);
        factory = m_driverFactory;
    }
    ZorAbstractCanDriver *driver = factory ? factory(kind) : nullptr;
    return driver ? driver : ZorCanDriverFactory::create(kind);
}

ZorModule *createCanInterfaceModule(QObject *parent)
{
    return new ZorModCanInterface(parent);
}
