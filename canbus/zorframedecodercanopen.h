// Frame decoder for CANopen (CiA 301 predefined connection set): names the
// service a frame belongs to by its identifier and reads the fields that
// matter, e.g.
//   000h 01 05            "NMT start, node 5"
//   085h 10 81 11 ...     "EMCY node 5: error code 8110h, error register 11h"
//   185h ...              "TPDO1 node 5: 00 00 00 00 00 00"
//   605h 40 00 10 00 ...  "SDO request node 5: read 1000h:00"
//   585h 42 00 10 00 92 01 02 00
//                         "SDO answer node 5: read 1000h:00 = 00020192h"
//   705h 05               "Heartbeat node 5: operational"
//   705h 00               "Boot-up node 5"
// Frames of no CANopen service (extended identifiers among them) give their
// data bytes. Anything that is no frame record gives an invalid QVariant.
#pragma once

#include "zorabstractframecodec.h"

class ZorFrameDecoderCanopen : public ZorAbstractFrameCodec
{
public:
    QVariant decode(const QVariant &frame) override;
};
