#include "zorhoptrace.h"

#include "zorbabelfish.h"

#include <chrono>

namespace {

std::atomic<qint64> stamps[ZorHopTrace::PointCount];
const int NoteCapacity = 1024;
std::atomic<qint64> noteStamps[NoteCapacity];
std::atomic<const char *> noteTags[NoteCapacity];
std::atomic<qint64> noteValues[NoteCapacity];
std::atomic<int> noteNext{0};

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
    noteNext.store(0);
    s_armed.store(true);
}

void ZorHopTrace::disarm()
{
    s_armed.store(false);
}

const char *ZorHopTrace::pointName(Point point)
{
    static const char *const names[PointCount] = {
        "gateway: line taken",   "gateway: exchange sent", "can: line taken",
        "can: frame written",    "can: frame read",        "can: line answered",
        "gateway: answer taken", "gateway: line answered",
    };
    return point >= 0 && point < PointCount ? names[point] : "";
}

void ZorHopTrace::record(Point point)
{
    recordNote(pointName(point));
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

void ZorHopTrace::recordNote(const char *tag, qint64 value)
{
    const int index = noteNext.fetch_add(1);
    if (index >= NoteCapacity)
        return;
    noteStamps[index].store(now());
    noteTags[index].store(tag);
    noteValues[index].store(value);
}

qint64 ZorHopTrace::frameValue(const QByteArray &record)
{
    return frameValue(ZorBabelFish::fromQbytearrayToCanId(record), ZorBabelFish::fromQbytearrayToSdoCommand(record),
                      ZorBabelFish::fromQbytearrayToSdoIndex(record));
}

int ZorHopTrace::noteCount()
{
    return qMin(noteNext.load(), NoteCapacity);
}

ZorHopTrace::Note ZorHopTrace::noteAt(int index)
{
    if (index < 0 || index >= noteCount())
        return {-1, nullptr, 0};
    return {noteStamps[index].load(), noteTags[index].load(), noteValues[index].load()};
}
