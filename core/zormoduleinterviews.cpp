// The module's side of interviews: accepting, working through and answering.
#include "zormodule.h"


bool ZorModule::acceptInterview(const ZorMessage &)
{
    return false;
}

void ZorModule::cancelInterviews(const QString &)
{
}

bool ZorModule::hasPendingInterviews() const
{
    std::lock_guard<std::mutex> locker(interviewMutex);
    return !interviews.isEmpty();
}

void ZorModule::offerInterviewAnswer(const QString &, const QString &, bool)
{
}

void ZorModule::runInterviewPasses(bool &)
{
}
