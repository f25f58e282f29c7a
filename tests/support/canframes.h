// Frame records and KM_CAN_FRAME messages from CAN frame text, for tests of
// everything that shows or stores CAN traffic.
#pragma once

#include "zorbabelfish.h"
#include "zormessage.h"

#include <QByteArray>
#include <QString>

namespace ZorTest {

// The 16-byte record of "581h,8,43 00 10 00 92 01 02 00,513"; empty when the
// text does not parse.
inline QByteArray frameRecord(const QString &text)
{
    QByteArray record;
    ZorBabelFish::fromCanStrToQbytearray(text, record);
    return record;
}

// A frame as the CAN interface reports it: KS_INFO received, KS_ANSWER sent.
inline ZorMessage frameMessage(const QString &text, int state = KS_INFO)
{
    return ZorMessage(KM_CAN_FRAME, state, frameRecord(text));
}

}
