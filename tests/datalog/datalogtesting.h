// Helpers of the data-log module tests: what the module sends to its panel
// side, recorded from the module's threads, and a few look-ups on it.
#pragma once

#include "datalogseries.h"
#include "shareddataregistry.h"
#include "zormessage.h"

#include <QList>
#include <QMap>
#include <QStringList>

#include <mutex>

class PanelSide
{
public:
    void record(const ZorMessage &m)
    {
        std::lock_guard<std::mutex> lock(mutex);
        list << m;
    }
    QList<ZorMessage> all() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return list;
    }
    QList<ZorMessage> ofType(int type, int state = -1) const
    {
        QList<ZorMessage> found;
        for (const ZorMessage &m : all())
            if (m.msgType() == type && (state < 0 || m.msgState() == state))
                found << m;
        return found;
    }
    QStringList dataOf(int type, int state = -1) const
    {
        QStringList texts;
        for (const ZorMessage &m : ofType(type, state))
            texts << m.data().toString();
        return texts;
    }
    int lastStatus() const
    {
        const QStringList s = dataOf(KM_STATUS);
        return s.isEmpty() ? -1 : s.last().toInt();
    }
    QString lastInfoText() const
    {
        const QStringList s = dataOf(KM_INFOTEXT);
        return s.isEmpty() ? QString() : s.last();
    }
    // The channel -> id map of the last shared-ids list.
    QMap<QString, int> sharedIds() const
    {
        QMap<QString, int> ids;
        const QStringList lists = dataOf(KM_DAQ_SHARED_IDS_LIST);
        if (lists.isEmpty())
            return ids;
        for (const QString &line : lists.last().split('\n', Qt::SkipEmptyParts))
            ids.insert(line.section(',', 0, 0), line.section(',', 1).toInt());
        return ids;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        list.clear();
    }

private:
    mutable std::mutex mutex;
    QList<ZorMessage> list;
};

// The value samples of a shared series as data-log lines of the channel.
inline QStringList seriesLines(int id, const QString &channel, bool *unlimited = nullptr)
{
    QStringList lines;
    DataLogSeries *series = SharedDataRegistry::lock(id, 5000);
    if (!series)
        return {"no series"};
    for (int i = 0; i < series->valueCount(); ++i)
        lines << series->valueAt(i).toLine(channel);
    for (int i = 0; i < series->textCount(); ++i)
        lines << series->textAt(i).toLine(channel);
    if (unlimited)
        *unlimited = series->isUnlimited();
    SharedDataRegistry::unlock(id);
    return lines;
}
