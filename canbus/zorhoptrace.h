// Time stamps of one request on its way through the modules, for the latency
// benchmark: where an SDO request and its answer wait between the requester,
// the CANopen gateway, the CAN interface and the adapter driver.
//
// Each point records the first time it is passed after arm(), once the point
// before it has been passed, on the monotonic clock in nanoseconds. Unarmed, a point costs one relaxed atomic
// load; only a benchmark arms the trace, with one request under way at a
// time.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <atomic>

class ZorHopTrace
{
public:
    enum Point {
        GatewayLineTaken,       // the gateway's thread took the served line
        GatewayExchangeSent,    // and handed its exchange to the CAN interface side
        CanLineTaken,           // the CAN interface's thread took the exchange line
        CanFrameWritten,        // the driver has written the request frame
        CanFrameRead,           // the driver has handed over the first received frame (no echo)
        CanLineAnswered,        // that frame was offered to the waiting exchange lines
        GatewayAnswerTaken,     // the gateway's thread took the exchange's answer
        GatewayLineAnswered,    // and answered the served line
        PointCount
    };

    // Clears every point and starts recording.
    static void arm();
    static void disarm();
    static void mark(Point point)
    {
        if (s_armed.load(std::memory_order_relaxed))
            record(point);
    }
    // A free-form event of the detailed timeline (every pass, not only the
    // first): a benchmark prints it for slow requests (bench_drivestop with
    // ZOR_BENCH_TIMELINE) to show which thread held one up. tag must be a
    // string literal.
    static void note(const char *tag, qint64 value = 0)
    {
        if (s_armed.load(std::memory_order_relaxed))
            recordNote(tag, value);
    }
    // A note of a frame: its value is the COB-ID, SDO command byte and
    // index, enough to tell the frames of one SDO exchange from another's.
    static void noteFrame(const char *tag, const QByteArray &record)
    {
        if (s_armed.load(std::memory_order_relaxed))
            recordNote(tag, frameValue(record));
    }
    static constexpr qint64 frameValue(quint32 cobId, int command, int index)
    {
        return (qint64(cobId) << 24) | (qint64(command & 0xff) << 16) | (index & 0xffff);
    }
    // The notes of the CAN interface's frames: queued to be written, read.
    static constexpr char FrameQueued[] = "can: frame queued";
    static constexpr char FrameRead[] = "can: frame of";
    // The note every pass of a point leaves.
    static const char *pointName(Point point);
    struct Note
    {
        qint64 ns;
        const char *tag;
        qint64 value;
    };
    // The notes since arm(), in the order they were taken (at most 1024).
    static int noteCount();
    static Note noteAt(int index);
    // Nanoseconds on now()'s clock at which the point was passed; -1 when it
    // was not passed since arm().
    static qint64 at(Point point);
    static qint64 now();

private:
    static void record(Point point);
    static void recordNote(const char *tag, qint64 value = 0);
    static qint64 frameValue(const QByteArray &record);
    static std::atomic<bool> s_armed;
};
