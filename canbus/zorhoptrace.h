// Time stamps of one request on its way through the modules, for the latency
// benchmark: where an SDO request and its answer wait between the requester,
// the CANopen gateway, the CAN interface and the adapter driver.
//
// Each point records the first time it is passed after arm(), once the point
// before it has been passed, on the monotonic clock in nanoseconds. Unarmed, a point costs one relaxed atomic
// load; only a benchmark arms the trace, with one request under way at a
// time.
#pragma once

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
    // Nanoseconds on now()'s clock at which the point was passed; -1 when it
    // was not passed since arm().
    static qint64 at(Point point);
    static qint64 now();

private:
    static void record(Point point);
    static std::atomic<bool> s_armed;
};
