// Why a drive did not take a move: the text that the test-cycle and XY
// positioning modules show their panels when a move request (a target, an
// extended move) comes back with anything but success.
//
// A drive refuses a target beyond its limits ("TargetPositionMin" /
// "TargetPositionMax") with KS_FAIL, and any move while it is not in profile
// position mode (or is stopping) with KS_REJECT; a gateway that got no
// answer from the drive gives KS_TIMEOUT.
#pragma once

#include <QString>

namespace ZorMoveFailure {

// "<drive>: the move to <target> failed: <reason>". `minimum` and `maximum`
// are the drive's limits as it reported them; empty when not known.
QString text(const QString &drive, const QString &target, int state, const QString &minimum = QString(),
             const QString &maximum = QString());

} // namespace ZorMoveFailure
