// The running drive: Operational and its modes VelocityMode, PositionMode
// and HomingMode. All four share Operational's cycle: motion requests from
// the masters, the answers of the gateway, warnings, the statusword poll
// (no sooner than 400 ms after the last answer; the actual values with
// every fifth poll) and, in VelocityMode, the target velocity.
#include <QDebug>
#include "zormodposdrivestates.h"
#include "zorhoptrace.h"

#include "zordriveprofile.h"
#include "zormodposdrive.h"

#include <QDebug>

namespace ZorNodeStates {

namespace {

using P = ZorDriveProfile;

const int StatusPollIntervalMs = 400;
const int PollsPerActualValues = 5;

bool isFinal(int state)
{
    return state != KS_REQUEST && state != KS_WAITING && state != KS_INFO;
}

bool isMotionRequest(int type)
{
    return type == KM_SET_PROFILE_MODE || type == KM_DRIVE_GO_TO_TARGET || type == KM_DRIVE_GO_TO_EXTENDED
        || type == KM_DRIVE_START_HOMING;
}

// "1,<script text>": the drive's script is to be replaced.
bool isScriptReplacement(const ZorMessage &request)
{
    const QString data = request.data().toString();
    return request.msgType() == KM_SCRIPT_CONTROL && data.contains(QLatin1Char(','))
        && data.section(QLatin1Char(','), 0, 0).trimmed().toInt() == 1;
}

// The fields of an extended move: "position,flags[,velocity,acc,dec]".
struct ExtendedMove
{
    bool valid = false;
    double position = 0.0;
    QString flags;
    int velocity = 0;
    int acceleration = 0;
    int deceleration = 0;
};

ExtendedMove parseExtended(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    ExtendedMove move;
    move.position = fields.value(0).trimmed().toDouble(&move.valid);
    move.flags = fields.value(1).trimmed().toLower();
    move.velocity = fields.value(2).trimmed().toInt();
    move.acceleration = fields.value(3).trimmed().toInt();
    move.deceleration = fields.value(4).trimmed().toInt();
    return move;
}

} // namespace

// ---- Operational -------------------------------------------------------------------

void Operational::entry()
{
    DriveRoot::Box &d = DriveRoot::box();
    d.interviewOutstanding = false;
    NodeRoot::box().errorText.clear();
    d.pollCounter = 0;
    d.lastStatusAnswer.start();
    showMode(tr("Operating"), StatusOperating);
    answerPendingCommand(true);
}

void Operational::exit()
{
    DriveRoot::box().statusWord = 0;
    // An extended request whose answer would now find no one is refused.
    Box &o = box();
    if (o.pendingExtended.msgType() == KM_DRIVE_GO_TO_EXTENDED && o.pendingExtended.msgState() == KS_REQUEST)
        answerExtended(KS_REJECT);
}

void Operational::showMode(const QString &text, int status)
{
    Box &o = box();
    setStatusText(text);
    setStatus(status);
    o.savedText = text;
    o.savedStatus = status;
    o.warningShown = false;
}

void Operational::showWarning()
{
    NodeRoot::Box &b = NodeRoot::box();
    setStatusText(tr("Warning: %1").arg(b.errorText));
    b.errorText.clear();
    if (status() < StatusWarningRaise)
        setStatus(status() + StatusWarningRaise);
    box().warningShown = true;
    b.resultTimer.start();
}

void Operational::cycle()
{
    if (!readMotionRequests() || !readMotionAnswers())
        return;

    Box &o = box();
    NodeRoot::Box &b = NodeRoot::box();
    // A node result (object list, access key) shows like a warning.
    if (b.resultShown) {
        b.resultShown = false;
        o.warningShown = true;
    }
    if (o.warningShown && b.resultTimer.elapsed() > timing(ZorModNode::ResultHold)) {
        setStatusText(o.savedText);
        setStatus(o.savedStatus);
        o.warningShown = false;
    }

    const bool wasOutstanding = DriveRoot::box().interviewOutstanding;
    pollStatus();
    if (!wasOutstanding && machine().inState<VelocityMode>())
        writeVelocity();
    processObjectListQueue();
}

bool Operational::stopping() const
{
    return box().stopInterview.msgType() == KM_INTERVIEW;
}

bool Operational::modeChanging() const
{
    return box().modeChange.msgType() == KM_INTERVIEW || box().modeRead.msgType() == KM_INTERVIEW;
}

bool Operational::readMotionRequests()
{
    Box &o = box();
    QList<ZorMessage> &held = DriveRoot::box().heldRequests;
    ZorMessage request;
    for (;;) {
        // Requests held for a mode change first, in their order.
        if (!modeChanging() && !held.isEmpty())
            request = held.takeFirst();
        else if (!module()->getMessage(ZorModule::FromMaster, request))
            break;
        if (!request.isRequest())
            continue;
        const int type = request.msgType();
        if (stopping() && (isMotionRequest(type) || type == KM_START || type == KM_DRIVE_START)) {
            rejectRequest(request);   // the drive is being stopped
            continue;
        }
        if (isScriptReplacement(request)) {
            // A new script is never downloaded into an enabled drive: the
            // drive is stopped first, the download follows.
            if (o.afterStop.msgType() != KM_UNDEFINED)
                rejectRequest(request);
            else if (stopping())
                o.afterStop = request;
            else {
                o.afterStop = request;
                startStopSequence(ZorMessage());
            }
            continue;
        }
        if (modeChanging() && isMotionRequest(type)) {
            // Judged once the drive has taken the mode, or refused it.
            held << request;
            continue;
        }
        switch (type) {
        case KM_START:
        case KM_DRIVE_START:
            answerRequest(request, KS_ANSWER);
            break;
        case KM_STOP:
        case KM_DRIVE_STOP:
            if (stopping())
                DriveRoot::box().repeatedStops.append(request);
            else
                startStopSequence(request);
            break;
        case KM_SET_PROFILE_MODE:
            if (!changeMode(request))
                return false;
            break;
        case KM_DRIVE_GO_TO_TARGET:
            if (machine().inState<PositionMode>())
                moveToTarget(request);
            else
                rejectRequest(request);
            break;
        case KM_DRIVE_GO_TO_EXTENDED:
            if (machine().inState<PositionMode>())
                takeExtendedRequest(request);
            else
                rejectRequest(request);
            break;
        case KM_DRIVE_START_HOMING:
            if (machine().inState<HomingMode>())
                startHoming(request);
            else
                rejectRequest(request);
            break;
        case KM_GET_ACTUAL_POSITION:
            answerRequest(request, KS_ANSWER, DriveRoot::box().actualPosition);
            break;
        case KM_GET_ACTUAL_VELOCITY:
            answerRequest(request, KS_ANSWER, DriveRoot::box().actualVelocity);
            break;
        default: {
            const Outcome outcome = handleCommonRequest(request);
            if (outcome == NotHandled)
                rejectRequest(request);
            else if (outcome == Leaving)
                return false;
            break;
        }
        }
    }
    return true;
}

bool Operational::readMotionAnswers()
{
    Box &o = box();
    DriveRoot::Box &d = DriveRoot::box();
    NodeRoot::Box &b = NodeRoot::box();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
        bool followed = false;
        if (!message.isRequest() && message.msgType() == KM_INTERVIEW) {
            if (message == o.stopInterview) {
                stopAnswered(message);
                return false;
            }
            if (message == o.modeChange && isFinal(message.msgState())) {
                const bool taken = message.msgState() == KS_ANSWER;
                takeModeChangeAnswer(message);
                if (taken)
                    return false;   // into the new mode
                if (!b.errorText.isEmpty())
                    showWarning();
                continue;
            }
            if (message == o.modeRead && isFinal(message.msgState())) {
                takeModeRead(message);
                if (!b.errorText.isEmpty())
                    showWarning();
                return false;
            }
            if (message == o.statusPoll) {
                takeStatusPollAnswer(message);
                followed = true;
            } else if (message == o.velocityInterview) {
                d.interviewOutstanding = false;
                followed = true;
            } else if (message == o.extendedStatusRead && isFinal(message.msgState())) {
                takeExtendedStatus(message);
                followed = true;
            } else if (message == o.extendedInterview && isFinal(message.msgState())) {
                takeExtendedAnswer(message);
                followed = true;
            }
        }
        if (followed) {
            const QString failure = failureText(message.msgState());
            if (!failure.isEmpty())
                b.errorText = failure;
        } else {
            handleDriveMessage(message);
        }
        if (P::isFault(d.statusWord))
            b.errorText = tr("Drive Fault, Status %1").arg(P::statusWordText(d.statusWord));
        if (!b.errorText.isEmpty())
            showWarning();
    }
    return true;
}

void Operational::pollStatus()
{
    DriveRoot::Box &d = DriveRoot::box();
    if (d.interviewOutstanding || d.lastStatusAnswer.elapsed() <= StatusPollIntervalMs)
        return;
    d.pollCounter = (d.pollCounter + 1) % PollsPerActualValues;
    box().statusPoll = ZorMessage(KM_INTERVIEW, KS_REQUEST, P::statusPoll(nodeId(), d.pollCounter == 0));
    sendToSlaves(box().statusPoll, true);
    d.interviewOutstanding = true;
}

void Operational::writeVelocity()
{
    DriveRoot::Box &d = DriveRoot::box();
    const int velocity = intProperty("TargetVelocity");
    if (velocity == d.lastVelocitySet)
        return;
    // A value out of range is remembered, so that it is not tried again
    // until it changes.
    d.lastVelocitySet = velocity;
    if (velocity < intProperty("TargetVelocityMin") || velocity > intProperty("TargetVelocityMax"))
        return;
    const int node = nodeId();
    box().velocityInterview = ZorMessage(
        KM_INTERVIEW, KS_REQUEST,
        P::line(P::AccelerationWrite, node, intProperty("Acceleration"))
            + P::line(P::DecelerationWrite, node, intProperty("Deceleration"))
            + P::line(P::TargetVelocityWrite, node, velocity));
    sendToSlaves(box().velocityInterview, true);
    d.interviewOutstanding = true;
}

void Operational::takeStatusPollAnswer(const ZorMessage &answer)
{
    DriveRoot::Box &d = DriveRoot::box();
    d.lastStatusAnswer.start();
    d.interviewOutstanding = false;
    if (answer.msgState() != KS_ANSWER)
        return;
    const QStringList lines = P::answerLines(answer.data().toString());
    qint64 value = 0;
    if (P::lastNumber(lines.value(0), value))
        d.statusWord = int(value & 0xFFFF);
    resetSetPoint(false);
    Box &o = box();
    if ((d.statusWord & P::TargetReached) && o.pendingExtended.msgType() == KM_DRIVE_GO_TO_EXTENDED
        && o.pendingExtended.msgState() == KS_WAITING)
        answerExtended(KS_INFO, QStringLiteral("target reached"));
    if (lines.size() < 3)
        return;
    if (P::lastNumber(lines.at(1), value))
        d.actualVelocity = qint32(value);
    if (P::lastNumber(lines.at(2), value))
        d.actualPosition = P::toUserUnits(value, d.positionNumerator, d.positionDenominator);
    sendToMaster(ZorMessage(KM_GET_ACTUAL_VELOCITY, KS_INFO, d.actualVelocity), true);
    sendToMaster(ZorMessage(KM_GET_ACTUAL_POSITION, KS_INFO, d.actualPosition), true);
    sendToMaster(ZorMessage(KM_DRIVE_STATUS, KS_INFO, P::statusWordText(d.statusWord)), true);
}

// ---- stop and mode change ---------------------------------------------------------------

void Operational::startStopSequence(const ZorMessage &request)
{
    ZorHopTrace::note("drive: stop taken");
    Box &o = box();
    if (request.msgType() != KM_UNDEFINED)
        makePending(request);
    // What still runs at the gateway comes back cancelled; the motion
    // requests waiting for it are answered so. The cancel goes first, so
    // that it reaches only what was sent before the stop.
    cancelGatewayInterviews(true);
    o.stopInterview = ZorMessage(KM_INTERVIEW, KS_REQUEST, P::stopInterview(nodeId()));
    sendToSlaves(o.stopInterview, true);
    ZorHopTrace::note("drive: stop sent");
    DriveRoot::box().controlWord = P::DisableVoltage;
    o.modeChange = ZorMessage();
    o.modeRead = ZorMessage();
    rejectHeldRequests();
}

void Operational::stopAnswered(const ZorMessage &answer)
{
    Box &o = box();
    o.stopInterview.setMsgState(answer.msgState());
    const ZorMessage script = o.afterStop;
    o.afterStop = ZorMessage();
    if (answer.msgState() != KS_ANSWER) {
        // The drive did not take the stop: it may still be enabled, which
        // "Idle" would hide.
        NodeRoot::box().errorText = tr("Stop failed, the drive may still be enabled");
        if (script.msgType() != KM_UNDEFINED)
            answerRequest(script, KS_FAIL, tr("The drive did not stop; its script was not replaced"));
        requestTransition<Error>();
        return;
    }
    if (script.msgType() == KM_UNDEFINED) {
        requestTransition<Idle>();
        return;
    }
    // Stopped: now the script is written, compiled and downloaded.
    makePending(script);
    requestTransition<DriveScriptUpdate>();
}

bool Operational::changeMode(const ZorMessage &request)
{
    Box &o = box();
    DriveRoot::Box &d = DriveRoot::box();
    const int node = nodeId();
    const int mode = request.data().toInt();
    if (mode == P::NoMode) {
        d.controlWord = P::DisableVoltage;
        sendMotionInterview(P::line(P::ControlWordWrite, node, P::SwitchOn)
                                + P::line(P::ControlWordCheck, node, P::SwitchOn)
                                + P::line(P::ModeWrite, node, P::NoMode),
                            request);
        requestTransition<Operational>();
        return false;
    }
    if (mode != P::ProfilePosition && mode != P::ProfileVelocity && mode != P::Homing) {
        answerRequest(request, KS_ANSWER);   // no such mode: nothing changes
        return true;
    }
    // The module takes the mode once the drive has: a drive that refuses
    // it stays in its mode, and so does the module.
    o.modeAsked = mode;
    o.modeChange = sendMotionInterview(P::line(P::ModeWrite, node, mode)
                                           + P::line(P::ControlWordWrite, node, P::EnableOperation)
                                           + P::line(P::ControlWordCheck, node, P::EnableOperation),
                                       request);
    return true;
}

void Operational::takeModeChangeAnswer(const ZorMessage &answer)
{
    Box &o = box();
    o.modeChange = ZorMessage();
    // Answers the request (and notes "Command Failed" and the like).
    handleDriveMessage(answer);
    if (answer.msgState() == KS_ANSWER) {
        DriveRoot::box().controlWord = P::EnableOperation;
        enterMode(o.modeAsked);
        return;
    }
    // Switched on but not enabled, the drive runs no mode whatever 6061h
    // shows: the module stays. Enabled in a mode, the mode the drive runs
    // in now decides where the module stands.
    if (!machine().inState<VelocityMode>() && !machine().inState<PositionMode>() && !machine().inState<HomingMode>())
        return;
    o.modeRead = ZorMessage(KM_INTERVIEW, KS_REQUEST, P::line(P::ModeDisplayRead, nodeId()));
    sendToSlaves(o.modeRead, true);
}

void Operational::takeModeRead(const ZorMessage &answer)
{
    Box &o = box();
    o.modeRead = ZorMessage();
    qint64 mode = 0;
    if (answer.msgState() == KS_ANSWER && P::lastNumber(P::answerLines(answer.data().toString()).value(0), mode))
        enterMode(int(mode));
    else
        NodeRoot::box().errorText = failureText(answer.msgState());
}

void Operational::enterMode(int mode)
{
    const bool inMode = machine().inState<VelocityMode>() || machine().inState<PositionMode>()
        || machine().inState<HomingMode>();
    switch (mode) {
    case P::ProfilePosition:
        if (!machine().inState<PositionMode>())
            requestTransition<PositionMode>();
        break;
    case P::ProfileVelocity:
        if (!machine().inState<VelocityMode>())
            requestTransition<VelocityMode>();
        break;
    case P::Homing:
        if (!machine().inState<HomingMode>())
            requestTransition<HomingMode>();
        break;
    default:
        if (inMode)
            requestTransition<Operational>();
        break;
    }
}

// ---- position moves ------------------------------------------------------------------------

void Operational::moveToTarget(const ZorMessage &request)
{
    DriveRoot::Box &d = DriveRoot::box();
    const double target = doubleProperty("TargetPosition");
    qint32 increments = 0;
    const int kind = request.data().toInt();
    if (target < intProperty("TargetPositionMin") || target > intProperty("TargetPositionMax")
        || !P::toIncrements(target, d.positionNumerator, d.positionDenominator, increments)
        || kind < 1 || kind > 4) {
        answerRequest(request, KS_FAIL);
        return;
    }
    qDebug().noquote() << QStringLiteral("drive %1 new position posVelocity = %2, targetPos = %3, posParam = %4")
                              .arg(module()->label(), property(QStringLiteral("PositionVelocity")),
                                   property(QStringLiteral("TargetPosition")), QString::number(kind));
    const int node = nodeId();
    QString lines;
    if (kind <= 2) {
        resetSetPoint(true);
        d.controlWord = kind == 1 ? P::StartMotion : P::StartHalted;
        lines = P::line(P::AccelerationWrite, node, intProperty("Acceleration"))
            + P::line(P::DecelerationWrite, node, intProperty("Deceleration"))
            + P::line(P::ProfileVelocityWrite, node, intProperty("PositionVelocity"))
            + P::line(P::TargetPositionWrite, node, increments);
    } else {
        d.controlWord = kind == 3 ? P::HaltMotion : P::EnableOperation;
    }
    lines += P::line(P::ControlWordWrite, node, d.controlWord);
    sendMotionInterview(lines, request);
}

void Operational::answerExtended(int state, const QVariant &data)
{
    Box &o = box();
    o.pendingExtended.setMsgState(state);
    if (data.isValid())
        o.pendingExtended.setData(data);
    sendToMaster(o.pendingExtended, true);
}

void Operational::takeExtendedRequest(const ZorMessage &request)
{
    Box &o = box();
    if (o.pendingExtended.msgType() == KM_DRIVE_GO_TO_EXTENDED && o.pendingExtended.msgState() == KS_REQUEST) {
        answerRequest(request, KS_CANCEL);   // the earlier one is still being served
        return;
    }
    // A target beyond the limits, or no number, is refused before anything
    // goes to the drive; the limits stay as they are.
    const ExtendedMove move = parseExtended(request.data().toString());
    if (!move.valid || move.position < intProperty("TargetPositionMin")
        || move.position > intProperty("TargetPositionMax")) {
        answerRequest(request, KS_FAIL);
        return;
    }
    o.pendingExtended = request;
    o.extendedFlags = move.flags;
    if (!o.extendedFlags.contains(QLatin1Char('t'))) {
        moveExtended();
        return;
    }
    o.extendedStatusRead = ZorMessage(KM_INTERVIEW, KS_REQUEST, P::line(P::StatusWordRead, nodeId()));
    sendToSlaves(o.extendedStatusRead, true);
}

void Operational::takeExtendedStatus(const ZorMessage &answer)
{
    Box &o = box();
    DriveRoot::Box &d = DriveRoot::box();
    if (answer.msgState() != KS_ANSWER) {
        answerExtended(answer.msgState());
        return;
    }
    qint64 value = 0;
    if (P::lastNumber(P::answerLines(answer.data().toString()).value(0), value))
        d.statusWord = int(value & 0xFFFF);
    resetSetPoint(false);
    if ((d.statusWord & P::TargetReached) || o.waitCounter >= 2) {
        moveExtended();
    } else {
        answerExtended(KS_CANCEL);   // still on its way to the last target
        ++o.waitCounter;
    }
}

void Operational::moveExtended()
{
    Box &o = box();
    DriveRoot::Box &d = DriveRoot::box();
    o.waitCounter = 0;
    const ExtendedMove move = parseExtended(o.pendingExtended.data().toString());
    qint32 increments = 0;
    // The limits may have changed while the statusword was read.
    if (move.position < intProperty("TargetPositionMin") || move.position > intProperty("TargetPositionMax")
        || !P::toIncrements(move.position, d.positionNumerator, d.positionDenominator, increments)) {
        answerExtended(KS_FAIL);
        return;
    }
    qDebug().noquote() << QStringLiteral("drive %1 extended goto %2")
                              .arg(module()->label(), o.pendingExtended.data().toString());
    resetSetPoint(true);
    const int node = nodeId();
    QString lines;
    auto changed = [](int wanted, int &last) {
        if (wanted <= 0 || wanted == last)
            return false;
        last = wanted;
        return true;
    };
    if (changed(move.velocity, o.lastExtendedVelocity))
        lines += P::line(P::ProfileVelocityWrite, node, move.velocity);
    if (changed(move.acceleration, o.lastExtendedAcceleration))
        lines += P::line(P::AccelerationWrite, node, move.acceleration);
    if (changed(move.deceleration, o.lastExtendedDeceleration))
        lines += P::line(P::DecelerationWrite, node, move.deceleration);
    lines += P::line(P::TargetPositionWrite, node, increments) + P::line(P::ControlWordWrite, node, P::StartMotion);
    d.controlWord = P::StartMotion;
    o.extendedInterview = ZorMessage(KM_INTERVIEW, KS_REQUEST, lines);
    sendToSlaves(o.extendedInterview, true);
}

void Operational::takeExtendedAnswer(const ZorMessage &answer)
{
    Box &o = box();
    const int state = answer.msgState();
    answerExtended(state);
    if (state == KS_ANSWER && o.extendedFlags.contains(QLatin1Char('i')))
        o.pendingExtended.setMsgState(KS_WAITING);   // "target reached" follows
}

// ---- homing ---------------------------------------------------------------------------------

void Operational::startHoming(const ZorMessage &request)
{
    DriveRoot::Box &d = DriveRoot::box();
    const int method = request.data().toInt();
    qint32 offset = 0;
    if (method < 0 || method > 35
        || !P::toIncrements(doubleProperty("HomingOffset"), d.positionNumerator, d.positionDenominator, offset)) {
        answerRequest(request, KS_FAIL);
        return;
    }
    const int switches = intProperty("HomingHomeSwitch") + 16 * intProperty("HomingLeftSwitch")
        + 256 * intProperty("HomingRightSwitch");
    qDebug().noquote() << QStringLiteral("drive %1 homing mode = %2, homing offset(long) = %3")
                              .arg(module()->label(), QString::number(method), QString::number(offset));
    resetSetPoint(true);
    d.controlWord = P::StartMotion;
    const int node = nodeId();
    QString lines = P::line(P::HomingMethodWrite, node, method) + P::line(P::HomeOffsetWrite, node, offset);
    if (method != 35) {
        lines += P::line(P::SwitchSpeedWrite, node, intProperty("HomingVelocitySeekSwitch"))
            + P::line(P::ZeroSpeedWrite, node, intProperty("HomingVelocitySeekZero"))
            + P::line(P::HomingAccelerationWrite, node, intProperty("HomingAcceleration"))
            + P::line(P::SwitchAssignmentWrite, node, switches);
    }
    lines += P::line(P::ControlWordWrite, node, P::StartMotion);
    sendMotionInterview(lines, request);
}

// ---- the modes --------------------------------------------------------------------------------

void VelocityMode::entry()
{
    showMode(tr("Velocity Mode"), StatusVelocityMode);
    answerPendingCommand(true);
    // The first cycle writes "TargetVelocity" whatever it is.
    DriveRoot::box().lastVelocitySet = -999999;
}

void VelocityMode::exit()
{
    sendToSlaves(ZorMessage(KM_INTERVIEW, KS_REQUEST, P::line(P::TargetVelocityWrite, nodeId(), 0)), true);
    DriveRoot::box().lastVelocitySet = 0;
}

void PositionMode::entry()
{
    Operational::Box &o = Operational::box();
    showMode(tr("Position Mode"), StatusPositionMode);
    answerPendingCommand(true);
    if (o.pendingExtended.msgType() == KM_DRIVE_GO_TO_EXTENDED && o.pendingExtended.msgState() == KS_REQUEST)
        answerExtended(KS_REJECT);
    o.pendingExtended = ZorMessage();
    o.waitCounter = 2;
    o.lastExtendedVelocity = -1;
    o.lastExtendedAcceleration = -1;
    o.lastExtendedDeceleration = -1;
}

void HomingMode::entry()
{
    showMode(tr("Homing Mode"), StatusHomingMode);
    answerPendingCommand(true);
}

} // namespace ZorNodeStates
