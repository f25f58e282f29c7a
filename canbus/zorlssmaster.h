// The CANopen gateway as LSS master (CiA 305, layer setting services): it
// gives a node a new node id and/or bit rate and has the node store them.
//
// LSS requests go on 7E5h, the nodes answer on 7E4h (both settable). The
// master first switches the node(s) into configuration mode (switch mode
// global, or selective by one field of the LSS address: vendor, product,
// revision or serial number), then configures the node id (11h) and the bit
// timing (13h, an index into the standard bit-timing table), has the node
// store the configuration (17h) and finally switches back to waiting mode.
// Each configure and store request is answered with an error code, 0 for
// success; the switch-mode requests await no answer.
//
// An "LSSNodeParameters" line is "selector,value,new node id,new bit rate":
// selector "v", "p", "r" or "s" (any case) for a selective switch by that
// field with the value, anything else for the global switch; node id 1..127
// or 0 to keep it; bit rate in bit/s from the table or 0 to keep it.
#pragma once

#include <QString>

class ZorLssMaster
{
public:
    struct Request
    {
        quint8 command = 0x04;   // switch-mode command specifier
        quint32 value = 1;       // sent with it (1 = configuration mode)
        quint8 nodeId = 0;       // 0: unchanged
        quint32 bitRate = 0;     // 0: unchanged
    };

    // Reads the line's request; false with an error text for a field that
    // does not read, a node id above 127, a bit rate that is not in the
    // table, or a request that would change nothing.
    static bool parse(const QString &request, Request &out, QString &error);
    // Index of the bit rate in the CiA 305 bit-timing table 0, -1 when the
    // rate is not in it (1000000 -> 0, 800000 -> 1, 500000 -> 2, 250000 -> 3,
    // 125000 -> 4, 100000 -> 5, 50000 -> 6, 20000 -> 7, 10000 -> 8).
    static int bitTimingIndex(quint32 bitRate);

    // Exchange lines. requestId and responseId are the LSS COB-IDs.
    static QString switchModeLine(quint16 requestId, quint8 command, quint32 value, int waitMs);
    static QString configureNodeIdLine(quint16 requestId, quint16 responseId, quint8 nodeId, int timeoutMs);
    static QString configureBitTimingLine(quint16 requestId, quint16 responseId, int tableIndex, int timeoutMs);
    static QString storeLine(quint16 requestId, quint16 responseId, int timeoutMs);
};
