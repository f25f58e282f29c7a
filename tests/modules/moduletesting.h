// Helpers for tests of single modules: a module bound to a small project
// model, started in its own thread, with a recorder standing where its
// master (its panel) stands.
#pragma once

#include "testdommodel.h"
#include "zormodule.h"

#include <QList>
#include <QStringList>
#include <QtTest>

#include <memory>
#include <mutex>

// What a module sends to its master side.
class MasterRecorder
{
public:
    void attach(ZorModule *module)
    {
        QObject::connect(module, &ZorModule::slaveOut, module,
                         [this](const ZorMessage &m) { record(m); }, Qt::DirectConnection);
    }
    void record(const ZorMessage &m)
    {
        std::lock_guard<std::mutex> lock(mutex);
        list << m;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        list.clear();
    }
    QList<ZorMessage> all() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return list;
    }
    QList<ZorMessage> ofType(int type) const
    {
        QList<ZorMessage> found;
        for (const ZorMessage &m : all())
            if (m.msgType() == type)
                found << m;
        return found;
    }
    QStringList dataOf(int type) const
    {
        QStringList texts;
        for (const ZorMessage &m : ofType(type))
            texts << m.data().toString();
        return texts;
    }
    // The info texts (status texts and reports) in order.
    QStringList infoTexts() const { return dataOf(KM_INFOTEXT); }
    QString lastInfoText() const
    {
        const QStringList texts = infoTexts();
        return texts.isEmpty() ? QString() : texts.last();
    }
    int lastStatus() const
    {
        const QStringList statuses = dataOf(KM_STATUS);
        return statuses.isEmpty() ? -1 : statuses.last().toInt();
    }
    // Every KM_LOGTEXT joined.
    QString log() const { return dataOf(KM_LOGTEXT).join(QString()); }
    // The state of the answer (same id, another state) to a request; -1
    // while there is none.
    int answerState(const ZorMessage &request) const
    {
        for (const ZorMessage &m : all())
            if (m.msgId() == request.msgId() && m.msgState() != KS_REQUEST)
                return m.msgState();
        return -1;
    }

private:
    mutable std::mutex mutex;
    QList<ZorMessage> list;
};

using ModulePtr = std::unique_ptr<ZorModule, ZorModuleDeleter>;

// Sends a request from the master side and returns it (to find its answer).
inline ZorMessage requestTo(ZorModule *module, int type, const QVariant &data = QVariant())
{
    ZorMessage request(type, KS_REQUEST, data);
    request.setOrigin(QStringLiteral("GUI"));
    module->slaveIn(request);
    return request;
}
