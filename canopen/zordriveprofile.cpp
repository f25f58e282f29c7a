#include "zordriveprofile.h"

#include <cmath>
#include <limits>

namespace {

const char *const Templates[] = {
    "SDOWriteObject:1000:10:%1,6040h,0h,unsigned16,%2\n",
    "SDOReadObject:1000:2:%1,6040h,0h,unsigned16:%1,6040h,0h,unsigned16,%2\n",
    "SDOWriteObject:1000:2:%1,6060h,0h,integer8,%2\n",
    "SDOWriteObject:1000:2:%1,6083h,0h,unsigned32,%2\n",
    "SDOWriteObject:1000:2:%1,6084h,0h,unsigned32,%2\n",
    "SDOWriteObject:1000:2:%1,6081h,0h,unsigned32,%2\n",
    "SDOWriteObject:1000:2:%1,607ah,0h,integer32,%2\n",
    "SDOWriteObject:1000:2:%1,60ffh,0h,integer32,%2\n",
    "SDOWriteObject:1000:2:%1,6098h,0h,integer8,%2\n",
    "SDOWriteObject:1000:2:%1,607ch,0h,integer32,%2\n",
    "SDOWriteObject:1000:2:%1,6099h,1h,unsigned32,%2\n",
    "SDOWriteObject:1000:2:%1,6099h,2h,unsigned32,%2\n",
    "SDOWriteObject:1000:2:%1,609ah,0h,unsigned32,%2\n",
    "SDOWriteObject:1000:2:%1,60b8h,0h,unsigned16,%2\n",
    "SDOReadObject:1000:2:%1,6041h,0,unsigned16\n",
    "SDOReadObject:1000:2:%1,606ch,0h,integer32\n",
    "SDOReadObject:1000:2:%1,6063h,0h,integer32\n",
    "SDOReadObject:1000:2:%1,6061h,0h,integer8\n",
};

} // namespace

QString ZorDriveProfile::statusWordText(int statusWord)
{
    return QStringLiteral("%1h").arg(statusWord & 0xFFFF, 4, 16, QLatin1Char('0'));
}

QString ZorDriveProfile::line(Line which, int node, qint64 value)
{
    const QString text = QLatin1String(Templates[which]);
    const QString id = QString::number(node);
    return text.contains(QLatin1String("%2")) ? text.arg(id, QString::number(value)) : text.arg(id);
}

QString ZorDriveProfile::startupInterview(int node)
{
    const QString id = QString::number(node);
    return QStringLiteral("NmtModuleControl:200:0:%1,82h\n").arg(id)
        + line(ControlWordWrite, node, FaultReset)
        + QStringLiteral("SDOWriteObject:1000:0:%1,3500h,2h,integer8,0:noresponse\n").arg(id)
        + QStringLiteral("SDOReadObject:1000:2:%1,608fh,1h,unsigned32\n").arg(id)
        + QStringLiteral("SDOReadObject:1000:2:%1,608fh,2h,unsigned32\n").arg(id)
        + line(ModeWrite, node, ProfileVelocity)
        + line(TargetVelocityWrite, node, 0)
        + line(ControlWordWrite, node, Shutdown)
        + line(ControlWordCheck, node, Shutdown)
        + line(ControlWordWrite, node, SwitchOn)
        + line(ControlWordCheck, node, SwitchOn);
}

QString ZorDriveProfile::stopInterview(int node)
{
    return line(ModeWrite, node, NoMode)
        + line(ControlWordWrite, node, SwitchOn) + line(ControlWordCheck, node, SwitchOn)
        + line(ControlWordWrite, node, Shutdown) + line(ControlWordCheck, node, Shutdown)
        + line(ControlWordWrite, node, DisableVoltage) + line(ControlWordCheck, node, DisableVoltage);
}

QString ZorDriveProfile::statusPoll(int node, bool withActualValues)
{
    QString text = line(StatusWordRead, node);
    if (withActualValues)
        text += line(VelocityRead, node) + line(PositionRead, node);
    return text;
}

QStringList ZorDriveProfile::answerLines(const QString &answer)
{
    return answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool ZorDriveProfile::lastNumber(const QString &line, qint64 &value)
{
    bool ok = false;
    value = line.section(QLatin1Char(','), -1).trimmed().toLongLong(&ok);
    return ok;
}

bool ZorDriveProfile::toIncrements(double position, quint32 numerator, quint32 denominator,
                                   qint32 &increments)
{
    const double scaled = std::trunc(position * double(numerator) / double(qMax<quint32>(denominator, 1)));
    if (!std::isfinite(scaled) || scaled < double(std::numeric_limits<qint32>::min())
        || scaled > double(std::numeric_limits<qint32>::max()))
        return false;
    increments = qint32(scaled);
    return true;
}

double ZorDriveProfile::toUserUnits(qint64 increments, quint32 numerator, quint32 denominator)
{
    return double(increments) * double(denominator) / double(qMax<quint32>(numerator, 1));
}
