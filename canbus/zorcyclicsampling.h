// Cyclic sampling of node objects for data loggers and plots.
//
// A monitoring list (ZorDaqObject lines, see zordaqobject.h) names the
// objects and how each is sampled: by software, where the gateway reads the
// object by SDO upload at its own interval, or from process data (TPDO,
// RPDO), where the values are taken from the PDO frames that pass by. Every
// received frame that carries a sampled value becomes one sample line,
//
//   001.6064h.00h,2024-05-17 10:00:01.004,10000
//
// the data-object id, the time of decoding and the value in decimal.
//
// Software polls run on an aligned schedule: the first poll of every object
// falls on the next whole second after the configuration (at least one
// second ahead), of objects sampled every 10 s or slower on the next whole
// ten seconds after that, and of objects sampled every minute or slower on
// the next whole minute after that; from there on every interval. A poll
// that is late (the bus or the machine stalled) is sent once and the
// schedule moves on to its next period after now: missed periods are
// skipped, never made up in a burst.
//
// ZorCyclicSampling holds the table and the schedule on a monotonic
// millisecond clock; the gateway's Sampling state feeds it the time, sends
// the polls it returns and passes it the received frames. A poll can wait:
// the node may be busy with another transfer on its SDO channel. Such an
// object stays due and is polled once the node is free, then its schedule
// moves on as for any late poll.
#pragma once

#include "zordaqobject.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>

class ZorCyclicSampling
{
public:
    struct Poll
    {
        QString id;          // data-object id
        int node = 0;
        QByteArray record;   // the 16-byte frame record of the SDO upload request
        QString frameText;   // the same request as frame text
        // The node's answer to it: the upload answer or the abort of the
        // object, as an expected frame of an exchange line.
        QString answerPattern;
    };

    void setBases(quint16 requestBase, quint16 responseBase);

    // Builds the table from a monitoring list, configured at wall time
    // `wallNow` which the monotonic clock reads as `now`. Returns the list of
    // the table as text (every entry, sampled or not).
    QString configure(const QString &configText, const QDateTime &wallNow, qint64 now);
    // The polls due at `now`, at most one per object. With canPoll, only
    // those whose node it allows (it is asked once per due object, and may
    // note that it allowed one); the others stay due.
    QList<Poll> duePolls(qint64 now, const std::function<bool(int node)> &canPoll = {});
    // The sample lines of one received frame (empty when it carries nothing
    // sampled), time-stamped with `wallNow`.
    QString decode(quint32 cobId, const QByteArray &data, const QDateTime &wallNow) const;

    const QHash<QString, ZorDaqObject> &objects() const { return m_objects; }
    // Monotonic time of an object's next poll (-1 when it is not polled).
    qint64 nextPoll(const QString &id) const { return m_nextPoll.value(id, -1); }

    // The wall time of the first poll of an object with that interval,
    // configured at `configuredAt`.
    static QDateTime firstPoll(const QDateTime &configuredAt, int intervalMs);

private:
    QString sampleLine(const ZorDaqObject &object, const QByteArray &data, int offset, int size,
                       const QString &stamp) const;

    quint16 m_requestBase = 0x600;
    quint16 m_responseBase = 0x580;
    QHash<QString, ZorDaqObject> m_objects;
    QHash<QString, Poll> m_requests;
    QHash<QString, qint64> m_nextPoll;
};
