// The CANopen gateway as LSS master (CiA 305, layer setting services): it
// gives a node a new node id and/or bit rate and has the node store them.
//
// LSS requests go on 7E5h, the nodes answer on 7E4h (both settable). The
// master first switches the node(s) into configuration mode, then configures
// the node id (11h) and the bit timing (13h, an index into the standard
// bit-timing table), has the node store the configuration (17h) and finally
// switches back to waiting mode. Each configure and store request is
// answered with an error code, 0 for success; any other code ends the
// configuration at once (the node is still sent back to waiting mode).
//
// Switching into configuration mode: switch mode global (04h) addresses every
// node and is not answered. Switch state selective addresses one node by its
// LSS address, the four fields of its identity object 1018h: vendor id
// (40h), product code (41h), revision number (42h) and serial number (43h),
// sent in this order; the node whose address matches all four answers 44h.
// A line may name a single field instead (one frame, no answer awaited),
// which only slaves that accept a partial address follow.
//
// An "LSSNodeParameters" line is "selector,value,new node id,new bit rate":
// selector "v", "p", "r" or "s" (any case) for a switch by that field with
// the value, anything else for the global switch; node id 1..127 or 0 to
// keep it; bit rate in bit/s from the table or 0 to keep it. With selector
// "s" the line may go on with the vendor id, product code and revision
// number ("s,serial,node id,bit rate,vendor,product,revision"): then the
// whole selective sequence is sent and the node's 44h awaited.
//
// A global switch reaches every LSS slave on the bus, whatever its node id,
// also an unconfigured one (node id FFh) that sends no boot-up. A node id
// is therefore given globally only when exactly one slave is there: once
// in configuration mode, every slave answers the four inquire identity
// requests (5Ah to 5Dh) with its own vendor id, product code, revision and
// serial number, and the master counts the answers. Identity answers of
// two slaves differ (their LSS addresses do), so two slaves never answer as
// one frame; an inquire node id would not do, two unconfigured slaves would
// both answer FFh.
#pragma once

#include <QString>

class ZorLssMaster
{
public:
    // Command specifiers.
    enum : quint8 {
        SwitchModeGlobal = 0x04,
        ConfigureNodeId = 0x11,
        ConfigureBitTiming = 0x13,
        StoreConfiguration = 0x17,
        SwitchSelectiveVendor = 0x40,
        SwitchSelectiveSerial = 0x43,
        SwitchSelectiveAnswer = 0x44,
        InquireVendor = 0x5a,   // 5Ah..5Dh: vendor, product, revision, serial
        InquireSerial = 0x5d,
    };

    struct Request
    {
        quint8 command = SwitchModeGlobal;   // switch-mode command specifier
        quint32 value = 1;       // sent with it (1 = configuration mode)
        quint8 nodeId = 0;       // 0: unchanged
        quint32 bitRate = 0;     // 0: unchanged
        // The whole LSS address (vendor, product, revision, serial) for the
        // full switch state selective sequence.
        bool fullAddress = false;
        quint32 address[4] = {};
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
    // The four switch state selective frames, the last awaiting the 44h
    // answer within timeoutMs.
    static QString switchSelectiveLines(quint16 requestId, quint16 responseId, const quint32 address[4],
                                        int timeoutMs);
    // The configure and store lines take the answer whatever its error code:
    // answerError tells it.
    static QString configureNodeIdLine(quint16 requestId, quint16 responseId, quint8 nodeId, int timeoutMs);
    static QString configureBitTimingLine(quint16 requestId, quint16 responseId, int tableIndex, int timeoutMs);
    static QString storeLine(quint16 requestId, quint16 responseId, int timeoutMs);

    // The four inquire identity requests, each awaiting its first answer
    // within timeoutMs (the answers of further slaves come as frames).
    static QString inquireIdentityLines(quint16 requestId, quint16 responseId, int timeoutMs);
    // A received frame that answers an inquire identity request: which
    // field (0 vendor .. 3 serial) and its value.
    static bool identityAnswer(quint32 cobId, const QByteArray &data, quint16 responseId, int &field,
                               quint32 &value);

    // The error code (byte 1) and specific error (byte 2) of the answer in
    // an answered configure or store exchange; false when the exchange holds
    // no answer frame.
    static bool answerError(const QString &answerText, int &errorCode, int &specificError);
};
