// Time stamps for the frames the program sends, on the adapter's clock: the
// time stamp of the newest received frame plus the time elapsed since it was
// taken. Until a frame has been received there is no such clock, and a frame
// to send keeps the stamp its record came with. Drivers use it from the CAN
// interface module's thread only (takeRx, queueTx, open).
#pragma once

#include <QByteArray>
#include <QElapsedTimer>

class ZorTxStampClock
{
public:
    // Forgets the adapter's clock until the next received frame.
    void reset() { m_valid = false; }
    // The newest frame just taken from the adapter carried `stamp`.
    void follow(quint16 stamp);
    // The stamp for a frame sent now; false while there is no clock.
    bool stamp(quint16 &stamp) const;
    // Writes stamp() into a 16-byte frame record; nothing while there is no
    // clock.
    void stampRecord(QByteArray &record) const;

private:
    bool m_valid = false;
    quint16 m_base = 0;
    QElapsedTimer m_sinceBase;
};
