#include "zormovefailure.h"

#include "zormessage.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ZorMoveFailure", text);
}

bool beyond(const QString &target, const QString &minimum, const QString &maximum)
{
    bool okTarget = false, okMin = false, okMax = false;
    const double t = target.trimmed().toDouble(&okTarget);
    const double lo = minimum.trimmed().toDouble(&okMin);
    const double hi = maximum.trimmed().toDouble(&okMax);
    return okTarget && okMin && okMax && (t < lo || t > hi);
}

} // namespace

QString ZorMoveFailure::text(const QString &drive, const QString &target, int state, const QString &minimum,
                             const QString &maximum)
{
    QString reason;
    switch (state) {
    case KS_FAIL:
        if (beyond(target, minimum, maximum))
            reason = tr("it lies beyond the drive's limits %1 to %2").arg(minimum.trimmed(), maximum.trimmed());
        else if (!minimum.isEmpty() && !maximum.isEmpty())
            reason = tr("the drive refused it (its limits are %1 to %2)").arg(minimum.trimmed(), maximum.trimmed());
        else
            reason = tr("the drive refused it (a target beyond its limits, or the drive failed)");
        break;
    case KS_REJECT:
        reason = tr("the drive is not ready for it (not in profile position mode, or stopping)");
        break;
    case KS_TIMEOUT:
        reason = tr("the drive did not answer in time");
        break;
    default:
        reason = tr("the drive answered %1").arg(ZorMessage::msgStateName(state));
        break;
    }
    return tr("%1: the move to %2 failed: %3").arg(drive, target, reason);
}
