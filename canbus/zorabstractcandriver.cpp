#include "zorabstractcandriver.h"

#include <QThread>

bool ZorAbstractCanDriver::joinReceiveThread(QThread &thread, unsigned long waitMs,
                                             const std::atomic<bool> &done)
{
    if (!thread.wait(waitMs)) {
        thread.terminate();
        thread.wait();
        return true;
    }
    while (!done.load(std::memory_order_acquire))
        QThread::yieldCurrentThread(); // run() has returned: a moment at most
    return false;
}
