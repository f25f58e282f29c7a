#include "quorvaneunittestworker.h"

#include "zorshareddata.h"

namespace {
const int SharedObjectId = 1;
const int PauseMs = 5;
}

QuorvaneUnitTestWorker::QuorvaneUnitTestWorker(QObject *parent)
    : QThread(parent)
{
}

QuorvaneUnitTestWorker::~QuorvaneUnitTestWorker()
{
    requestStop();
    wait();
}

void QuorvaneUnitTestWorker::run()
{
    ZorSharedData &registry = ZorSharedData::instance();
    while (!stopFlag) {
        QString *text = registry.lockObject(SharedObjectId, 0);
        if (!text) {
            msleep(PauseMs);
            continue;
        }
        if (!text->isEmpty())
            text->remove(0, 1);
        msleep(PauseMs);
        // Does nothing once the object has been removed.
        registry.unlockObject(SharedObjectId);
    }
    stopFlag = false;
}
