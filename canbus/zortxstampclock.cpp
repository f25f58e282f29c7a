#include "zortxstampclock.h"

#include "zorbabelfish.h"

void ZorTxStampClock::follow(quint16 stamp)
{
    m_valid = true;
    m_base = stamp;
    m_sinceBase.start();
}

bool ZorTxStampClock::stamp(quint16 &stamp) const
{
    if (!m_valid)
        return false;
    // Wraps round with the adapter's 16-bit millisecond clock.
    stamp = quint16(m_sinceBase.elapsed() + m_base);
    return true;
}

void ZorTxStampClock::stampRecord(QByteArray &record) const
{
    quint16 now;
    if (stamp(now))
        ZorBabelFish::setQbytearrayTimestamp(record, now);
}
