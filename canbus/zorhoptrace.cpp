#include "zorhoptrace.h"

#include <chrono>

namespace {

std::atomic<qint64> stamps[ZorHopTrace::PointCount];

} // namespace

std::atomic<bool> ZorHopTrace::s_armed{false};

qint64 ZorHopTrace::now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ZorHopTrace::arm()
{
    for (auto &stamp : stamps)
        stamp.store(-1);
    s_armed.store(true);
}

void ZorHopTrace::disarm()
{
    s_armed.store(false);
}

void ZorHopTrace::record(Point point)
{
    // The points are passed in their order; one whose predecessor has not
    // been passed since arm() belongs to the request before (a thread still
    // finishing it after its answer was handed on) and is not taken.
    if (point > 0 && stamps[point - 1].load() < 0)
        return;
    qint64 unset = -1;
    stamps[point].compare_exchange_strong(unset, now());
}

qint64 ZorHopTrace::at(Point point)
{
    return point >= 0 && point < PointCount ? stamps[point].load() : -1;
}
