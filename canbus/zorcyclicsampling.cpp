#include "zorcyclicsampling.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"
#include "zorsdoclient.h"

void ZorCyclicSampling::setBases(quint16 requestBase, quint16 responseBase)
{
    m_requestBase = requestBase;
    m_responseBase = responseBase;
}

QDateTime ZorCyclicSampling::firstPoll(const QDateTime &configuredAt, int intervalMs)
{
    QDateTime t = configuredAt.addSecs(1);
    t = t.addMSecs(-t.time().msec());
    if (intervalMs > 9999)
        t = t.addSecs(10 - t.time().second() % 10);
    if (intervalMs > 59999)
        t = t.addSecs(60 - t.time().second());
    return t;
}

QString ZorCyclicSampling::configure(const QString &configText, const QDateTime &wallNow, qint64 now)
{
    m_objects = ZorDaqObject::listFromText(configText);
    m_requests.clear();
    m_nextPoll.clear();
    for (auto it = m_objects.begin(); it != m_objects.end(); ++it) {
        ZorDaqObject &object = it.value();
        object.seen = true;
        object.active = object.idValid() && object.hasTypeSize() && object.nodeId() >= 1
            && object.nodeId() <= 127;
        if (!object.active)
            continue;
        switch (object.method()) {
        case ZorDaqObject::Software: {
            QByteArray record;
            VSCAN_MSG frame;
            frame.Id = m_requestBase + quint32(object.nodeId());
            frame.Size = 8;
            frame.Flags = VSCAN_FLAGS_STANDARD;
            const QByteArray data = ZorCanExchange::bytes8({0x40, object.index() & 0xff, object.index() >> 8,
                                                            object.subIndex()});
            for (int i = 0; i < 8; ++i)
                frame.Data[i] = quint8(data.at(i));
            object.active = ZorBabelFish::fromVscanToQbytearray(frame, record);
            if (!object.active)
                break;
            const int any = ZorCanExchange::AnyByte;
            Poll poll;
            poll.id = it.key();
            poll.node = object.nodeId();
            poll.record = record;
            poll.frameText = ZorCanExchange::frameText(frame.Id, data);
            poll.answerPattern = ZorCanExchange::patternText(m_responseBase + quint32(object.nodeId()),
                                                             QStringLiteral("[458]?"),
                                                             {object.index() & 0xff, object.index() >> 8,
                                                              object.subIndex(), any, any, any, any});
            m_requests.insert(it.key(), poll);
            const qint64 wait = wallNow.msecsTo(firstPoll(wallNow, object.intervalMs()));
            m_nextPoll.insert(it.key(), now + wait);
            break;
        }
        case ZorDaqObject::Tpdo:
        case ZorDaqObject::Rpdo:
            break;
        default:
            object.active = false;
            break;
        }
    }
    return ZorDaqObject::listToText(m_objects);
}

QList<ZorCyclicSampling::Poll> ZorCyclicSampling::duePolls(qint64 now, const std::function<bool(int node)> &canPoll)
{
    QList<Poll> polls;
    for (auto it = m_nextPoll.begin(); it != m_nextPoll.end(); ++it) {
        if (it.value() > now)
            continue;
        const Poll &poll = m_requests[it.key()];
        if (canPoll && !canPoll(poll.node))
            continue;
        const qint64 interval = m_objects.value(it.key()).intervalMs();
        // Skip the periods that went by; the next poll is the first step of
        // the schedule after now.
        const qint64 behind = now - it.value();
        it.value() += (behind / interval + 1) * interval;
        polls << poll;
    }
    return polls;
}

QString ZorCyclicSampling::sampleLine(const ZorDaqObject &object, const QByteArray &data, int offset,
                                      int size, const QString &stamp) const
{
    if (size != 1 && size != 2 && size != 4)
        size = size > 2 ? 4 : 1;
    if (offset < 0 || offset + size > data.size())
        return QString();
    const quint32 raw = ZorCanExchange::getUnsigned(data, offset, size);
    QString value;
    if (object.isUnsigned()) {
        value = QString::number(raw);
    } else {
        const int shift = 32 - size * 8;
        value = QString::number(qint32(raw << shift) >> shift);
    }
    return object.dataObjectId() + QLatin1Char(',') + stamp + QLatin1Char(',') + value + QLatin1Char('\n');
}

QString ZorCyclicSampling::decode(quint32 cobId, const QByteArray &data, const QDateTime &wallNow) const
{
    const QString stamp = wallNow.toString(QLatin1String(ZorBabelFish::TimeStampFormat));
    const int sdoNode = int(cobId) - int(m_responseBase);
    if (sdoNode >= 1 && sdoNode <= 127) {
        if (data.size() != 8)
            return QString();
        const QString id = ZorBabelFish::dataObjectId(quint32(sdoNode), quint16(ZorCanExchange::getUnsigned(data, 1, 2)),
                                                      quint8(data.at(3)));
        const auto it = m_objects.constFind(id);
        if (it == m_objects.constEnd() || !it->hasTypeSize())
            return QString();
        const quint8 command = quint8(data.at(0));
        if (command != 0x42 && command != ZorSdoClient::uploadCommand(it->dataType()))
            return QString();
        return sampleLine(*it, data, 4, it->typeSize(), stamp);
    }
    if (cobId < 0x180 || cobId > 0x57f)
        return QString();
    const int pdo = qBound(1, int((cobId - 0x180) >> 8) + 1, 4);
    const int rest = int(cobId) - (pdo * 256 + 128);
    const bool receive = rest >= 128;
    const int node = receive ? rest - 128 : rest;
    if (node < 1 || node > 127)
        return QString();
    const int method = receive ? ZorDaqObject::Rpdo : ZorDaqObject::Tpdo;
    QString lines;
    for (const ZorDaqObject &object : m_objects) {
        if (object.active && object.method() == method && object.nodeId() == node && object.pdoNumber() == pdo)
            lines += sampleLine(object, data, object.pdoByteOffset(), object.pdoByteLength(), stamp);
    }
    return lines;
}
