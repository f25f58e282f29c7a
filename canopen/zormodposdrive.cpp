#include "zormodposdrive.h"

#include "drivescriptconverter.h"
#include "zormodposdrivestates.h"

#include <new>

namespace {

const char *const DriveProperties[][2] = {
    {"TargetVelocity", "1000"},
    {"TargetPosition", "0"},
    {"TargetPositionMin", "-2047"},
    {"TargetPositionMax", "2047"},
    {"TargetVelocityMin", "-2000"},
    {"TargetVelocityMax", "2000"},
    {"Acceleration", "5000"},
    {"Deceleration", "5000"},
    {"PositionVelocity", "1000"},
    {"HomingOffset", "0"},
    {"HomingVelocitySeekSwitch", "500"},
    {"HomingVelocitySeekZero", "100"},
    {"HomingAcceleration", "10"},
    {"HomingHomeSwitch", "1"},
    {"HomingLeftSwitch", "2"},
    {"HomingRightSwitch", "3"},
    {"KelvatroUpdateFile", "kelvatroupdate"},
    {"FirmwareFilePath", ""},
    {"RebootTimeout", "30000"},
};

const int DefaultRebootTimeout = 30000;

// Class and key of an "AccessKeySet" value ("class,key" or "class,key,ok").
QString classAndKey(const QString &value)
{
    return value.section(QLatin1Char(','), 0, 0).trimmed() + QLatin1Char(',')
        + value.section(QLatin1Char(','), 1, 1).trimmed();
}

} // namespace

ZorModPosDrive::ZorModPosDrive(QObject *parent)
    : ZorModNode(parent)
{
    for (const auto &p : DriveProperties)
        setProperty(QLatin1String(p[0]), QLatin1String(p[1]), false, true);
    forgetAccessKey();
    driveTimings[DownloadWindDown] = 5000;
    driveTimings[RebootTimeout] = DefaultRebootTimeout;
    driveTimings[KelvatroSettle] = 500;
}

void ZorModPosDrive::setDriveTiming(DriveTiming which, int ms)
{
    if (which == RebootTimeout)
        setProperty(QStringLiteral("RebootTimeout"), QString::number(qMax(0, ms)), false);
    else if (which >= 0 && which < DriveTimingCount)
        driveTimings[which] = qMax(0, ms);
}

int ZorModPosDrive::driveTiming(DriveTiming which) const
{
    if (which == RebootTimeout) {
        // A property, so that the project, a panel or a test can set it; a
        // value that is no number of ms gives the default.
        bool ok = false;
        const int ms = property(QStringLiteral("RebootTimeout")).trimmed().toInt(&ok);
        return ok && ms >= 0 ? ms : DefaultRebootTimeout;
    }
    return which >= 0 && which < DriveTimingCount ? driveTimings[which].load() : 0;
}

ZorModPosDrive::~ZorModPosDrive()
{
    stop();
}

QString ZorModPosDrive::acceptedSlaveTypes() const
{
    return type() == QLatin1String("drive_tamrix") ? QStringLiteral("kelvatro")
                                                    : QStringLiteral("canusb,ethernet");
}

bool ZorModPosDrive::propertyChanged(const QString &key, QString &value)
{
    if (key != QLatin1String("AccessKeySet"))
        return true;
    const QString entered = classAndKey(value);
    std::lock_guard<std::mutex> locker(accessKeyMutex);
    if (entered != accessKeyText) {
        accessKeyText = entered;
        accessKeyPending = true;
    }
    return true;
}

Macho::StateRef ZorModPosDrive::rootStateRef() const
{
    return ZorNodeStates::DriveRoot::makeStateRef();
}

void ZorModPosDrive::forgetAccessKey()
{
    std::lock_guard<std::mutex> locker(accessKeyMutex);
    // The text an empty "AccessKeySet" gives, so that clearing the property
    // asks for no write.
    accessKeyText = classAndKey(QString());
    accessKeyPending = false;
}

bool ZorModPosDrive::takeAccessKeyPending()
{
    return accessKeyPending.exchange(false);
}

void ZorModPosDrive::sendScriptOutput(const QString &text, bool errorStream)
{
    QString output = text;
    DriveScriptConverter::targetLibToDrive(output);
    ZorMessage message(KM_SCRIPT_MSG, KS_INFO,
                       QStringLiteral("0,") + (errorStream ? QStringLiteral("StdErr:") : QStringLiteral("StdOut:"))
                           + output);
    message.setOrigin(label());
    postOut(ToMaster, message);
}

ZorModule *createPosDriveModule(QObject *parent)
{
    return new (std::nothrow) ZorModPosDrive(parent);
}
