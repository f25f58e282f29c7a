// Network management as the CANopen gateway sees it: the NMT module-control
// frames it sends, and the boot-up and emergency messages it picks out of
// the traffic.
//
// NMT module control is one frame on COB-ID 0 with two bytes, the command
// (01h start, 02h stop, 80h pre-operational, 81h reset node, 82h reset
// communication) and the node id (0 = all nodes); it is never answered.
// A node that has (re)started its communication sends its boot-up message,
// one byte 00h on 700h + node id; the same COB-ID carries its heartbeats
// (the NMT state in that byte), which are not boot-ups. An emergency
// message (EMCY) comes on 80h + node id: the error code (two bytes), the
// error register and up to five manufacturer-specific bytes.
#pragma once

#include <QByteArray>
#include <QString>

class ZorNmt
{
public:
    // The "NmtModuleControl" request "node,command" as an exchange that
    // awaits no answer; false when the node is not 0..127 or a field does
    // not read.
    static bool moduleControlExchange(const QString &request, int timeoutMs, QString &exchange);
    // Reset communication of every node, as the node-id scan starts it.
    static QString resetAllExchange();

    // Node id 1..127 of a boot-up message, or 0 when the frame is none.
    static int bootUpNode(quint32 cobId, const QByteArray &data);
    // Node id 1..127 of a heartbeat or boot-up message (700h + node), else 0.
    static int errorControlNode(quint32 cobId);
    // The emergency text "node,error code,error register,bytes" with the
    // code and register in decimal and the manufacturer bytes as blank-joined
    // lower-case hexadecimal, only those the frame holds; false when the
    // frame is no emergency message.
    static bool emergencyText(quint32 cobId, const QByteArray &data, QString &text);
};
