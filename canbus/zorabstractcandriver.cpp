#include "zorabstractcandriver.h"

#include <QStringList>
#include <QThread>

QString ZorAbstractCanDriver::statusBitsText(quint32 flags, int debugLevel,
                                             const StatusBitText *table, int count)
{
    QStringList texts;
    for (int i = 0; i < count; ++i) {
        if ((flags & table[i].bit) && debugLevel >= table[i].minLevel)
            texts << QLatin1String(table[i].text);
    }
    return texts.join(QLatin1String(", "));
}

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
