// Helpers for the driver tests: frame records, polling a driver as the CAN
// interface module does, and the test controls of the stand-in libraries
// (loaded by path, the same files the drivers bind, so both share one
// simulated device list).
#pragma once

#include "zorabstractcandriver.h"
#include "zorbabelfish.h"
#include "zortestutil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLibrary>
#include <QList>
#include <QThread>
#include <cstring>
#include <functional>

namespace DriverTesting {

inline QByteArray record(quint32 id, const QByteArray &data, quint8 flags = VSCAN_FLAGS_STANDARD)
{
    VSCAN_MSG f;
    f.Id = id;
    f.Size = quint8(data.size());
    std::memcpy(f.Data, data.constData(), size_t(qMin(data.size(), 8)));
    f.Flags = flags;
    QByteArray out;
    ZorBabelFish::fromVscanToQbytearray(f, out);
    return out;
}

inline VSCAN_MSG frameOf(const QByteArray &record)
{
    VSCAN_MSG f;
    ZorBabelFish::fromQbytearrayToVscan(record, f);
    return f;
}

// Calls takeRx as the module does until done() or the time-out; the frames
// go to *frames, each result of takeRx to *results.
inline bool pollUntil(ZorAbstractCanDriver &d, const std::function<bool()> &done, int timeoutMs,
                      QList<VSCAN_MSG> *frames = nullptr, QList<bool> *results = nullptr)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        int count = 0;
        const bool result = d.takeRx(count);
        if (results)
            results->append(result);
        for (int i = 0; i < count && frames; ++i) {
            QByteArray rec;
            d.rxFrame(i, rec);
            frames->append(frameOf(rec));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

// A frame with this identifier among frames, or null.
inline const VSCAN_MSG *findFrame(const QList<VSCAN_MSG> &frames, quint32 id)
{
    for (const VSCAN_MSG &f : frames) {
        if (f.Id == id)
            return &f;
    }
    return nullptr;
}

// A stand-in library of the build's platform folder (or another path below
// the build folder) and its test-control entry points.
struct StandIn
{
    QLibrary library;
    explicit StandIn(const QString &relativePath) : library(ZorTest::buildPath(relativePath)) {}
    bool load() { return library.load(); }
    template <typename Fn>
    Fn resolve(const char *name)
    {
        return reinterpret_cast<Fn>(library.resolve(name));
    }
};

} // namespace DriverTesting
