// The module's side of interviews: accepting them from the master, working
// through their lines in the run loop, matching what the states report as
// received, cancelling, and sending each finished interview back once.
#include "zormodule.h"

#include "zorinterview.h"
#include "zormodstates.h"

#include <vector>

bool ZorModule::acceptInterview(const ZorMessage &message)
{
    if (message.msgType() != KM_INTERVIEW || !message.isRequest())
        return false;
    auto *record = new ZorInterview(message);
    std::lock_guard<std::recursive_mutex> locker(interviewMutex);
    if (!record->nextLine()) {
        delete record;   // no lines: an ordinary message for the states
        return false;
    }
    interviews.append(record);
    return true;
}

bool ZorModule::hasPendingInterviews() const
{
    std::lock_guard<std::recursive_mutex> locker(interviewMutex);
    return !interviews.isEmpty();
}

int ZorModule::pendingInterviewCount() const
{
    std::lock_guard<std::recursive_mutex> locker(interviewMutex);
    return interviews.size();
}

void ZorModule::cancelInterviews(const QString &origin)
{
    // Interviews sent by modules carry their sender's label (see postOut), so
    // a cancel without origin only reaches interviews that came without one,
    // never those of other requesters.
    std::lock_guard<std::recursive_mutex> locker(interviewMutex);
    for (ZorInterview *record : qAsConst(interviews)) {
        if (record->isWaiting() && record->message().origin() == origin)
            record->recordResult(KS_CANCEL, QString());
    }
}

// Interview mutex held. Removes the finished record from the list; its
// message goes back to the master.
ZorMessage ZorModule::takeFinishedInterview(int index)
{
    ZorInterview *record = interviews.takeAt(index);
    const ZorMessage message = record->message();
    delete record;
    return message;
}

void ZorModule::offerInterviewAnswer(const QString &kind, const QString &text, bool failed)
{
    // Finished interviews are sent once the mutex is given back: the
    // requester's next interview (handed over directly by a via module) is
    // not held up meanwhile.
    std::vector<ZorMessage> finished;
    bool matched = false;
    {
        std::lock_guard<std::recursive_mutex> locker(interviewMutex);
        if (insideInterviewLine) {
            // Fed from inside handleInterviewLine: matched after the pass, so
            // that the list is not changed under the running pass.
            deferredAnswers.push_back({kind, text, failed});
            return;
        }
        const bool onePerPass = oneInterviewPerPass();
        for (int i = 0; i < interviews.size();) {
            ZorInterview *record = interviews.at(i);
            const bool taken = record->matchAnswer(kind, text, failed);
            matched |= taken;
            if (taken && !record->nextLine()) {
                finished.push_back(takeFinishedInterview(i));
            } else {
                ++i;
            }
            if (onePerPass)
                break;
        }
    }
    for (const ZorMessage &message : finished)
        appendToMaster(message);
    // A line was answered: the next one starts without waiting out the cycle.
    if (matched)
        wakeup();
}

void ZorModule::runInterviewPasses(bool &activity)
{
    const int passes = interviewPasses.load(std::memory_order_relaxed);
    for (int pass = 0; pass < passes; ++pass) {
        if (!interviewPass(activity))
            break;
    }
}

bool ZorModule::interviewPass(bool &activity)
{
    std::lock_guard<std::recursive_mutex> locker(interviewMutex);
    if (interviews.isEmpty())
        return false;
    const bool onePerPass = oneInterviewPerPass();
    bool progress = false;

    for (int i = 0; i < interviews.size();) {
        ZorInterview *record = interviews.at(i);
        bool advance = false;   // the current line is over: take the next one
        if (!record->isWaiting()) {
            appendToMaster(takeFinishedInterview(i));   // ended by a failure or a cancel
            activity = true;
            if (onePerPass)
                break;
            continue;
        }
        if (record->attemptDue()) {
            activity = true;
            if (record->startAttempt()) {
                progress = true;
                if (!record->isWait() && !offerLineToState(*record)) {
                    record->recordResult(KS_REJECT, QString());
                    advance = true;
                }
            } else {
                if (record->expectsNoResponse()) {
                    record->matchAnswer(QString(), QStringLiteral("noresponse"), false);
                    progress = true;
                } else {
                    record->recordResult(KS_TIMEOUT, QString());
                }
                advance = true;
            }
        } else if (record->completesAtOnce()) {
            record->matchAnswer(QString(), QStringLiteral("noresponse"), false);
            activity = true;
            progress = true;
            advance = true;
        }
        if (advance && !record->nextLine())
            appendToMaster(takeFinishedInterview(i));
        else
            ++i;
        if (onePerPass)
            break;
    }

    // Answers that a state fed from inside handleInterviewLine.
    while (!deferredAnswers.empty()) {
        const DeferredAnswer answer = deferredAnswers.front();
        deferredAnswers.pop_front();
        offerInterviewAnswer(answer.kind, answer.text, answer.failed);
    }
    return progress;
}

// Interview mutex held: the state starts the request of the line.
bool ZorModule::offerLineToState(ZorInterview &record)
{
    if (!machine)
        return false;
    insideInterviewLine = true;
    lineInHand = &record;
    bool handled = false;
    {
        Macho::StateMachine::Access access(*machine);
        handled = topState(access).handleInterviewLine(record);
    }
    insideInterviewLine = false;
    lineInHand = nullptr;
    return handled;
}

bool ZorModule::setLineExpectedAnswer(const QString &pattern)
{
    std::lock_guard<std::recursive_mutex> locker(interviewMutex);
    if (!lineInHand)
        return false;
    lineInHand->setExpectedAnswer(pattern);
    return true;
}
