// Helpers shared by the adapter plug-in tests: frame records for the plug-in
// driver, collecting received frames, an SDO upload over any CAN driver, and
// direct access to a plug-in's nine functions (the same loaded copy the
// driver uses) and to a stand-in's test controls.
#pragma once

#include "buslinkplugin.h"
#include "canportlibrary.h"
#include "zorabstractcandriver.h"
#include "zorbabelfish.h"
#include "zortestutil.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLibrary>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <QWaitCondition>
#include <cstring>
#include <functional>

namespace AdapterTest {

inline QString pluginPath(const QString &key)
{
    return ZorTest::buildPath(QStringLiteral("Drivers/buslink/") + CanPortLibrary::fileNameForKey(key));
}

inline QString standInPath(const QString &name)
{
    return ZorTest::buildPath(QStringLiteral("platform/lib%1.so").arg(name));
}

inline QByteArray record(quint32 id, const QByteArray &data, quint8 flags = 0, int size = -1)
{
    VSCAN_MSG f;
    f.Id = id;
    f.Size = quint8(size < 0 ? data.size() : size);
    std::memcpy(f.Data, data.constData(), size_t(qMin(8, int(data.size()))));
    f.Flags = flags;
    QByteArray out;
    ZorBabelFish::fromVscanToQbytearray(f, out);
    return out;
}

inline QByteArray dataOf(const VSCAN_MSG &f)
{
    return QByteArray(reinterpret_cast<const char *>(f.Data), qMin(8, int(f.Size)));
}

// Takes frames from the driver until `done` says so or timeoutMs passed,
// waking on the driver's receive condition; returns all frames taken.
inline QList<VSCAN_MSG> collect(ZorAbstractCanDriver &driver, QWaitCondition &wake,
                                const std::function<bool(const QList<VSCAN_MSG> &)> &done,
                                int timeoutMs = 20000)
{
    QList<VSCAN_MSG> frames;
    QMutex mutex;
    QDeadlineTimer deadline(timeoutMs);
    while (!done(frames) && !deadline.hasExpired()) {
        int count = 0;
        driver.takeRx(count);
        for (int i = 0; i < count; ++i) {
            QByteArray rec;
            VSCAN_MSG f;
            if (driver.rxFrame(i, rec) && ZorBabelFish::fromQbytearrayToVscan(rec, f))
                frames.append(f);
        }
        if (count == 0) {
            QMutexLocker lock(&mutex);
            wake.wait(&mutex, 20); // short: a wake between takeRx and wait is not lost for long
        }
    }
    return frames;
}

// The first frame with this identifier, waiting up to timeoutMs.
inline bool receiveId(ZorAbstractCanDriver &driver, QWaitCondition &wake, quint32 id, VSCAN_MSG *out,
                      int timeoutMs = 20000)
{
    const QList<VSCAN_MSG> frames = collect(driver, wake, [id](const QList<VSCAN_MSG> &got) {
        for (const VSCAN_MSG &f : got) {
            if (f.Id == id)
                return true;
        }
        return false;
    }, timeoutMs);
    for (const VSCAN_MSG &f : frames) {
        if (f.Id == id) {
            *out = f;
            return true;
        }
    }
    return false;
}

// Expedited SDO upload of index:sub from node over an open CAN driver: the
// request on 600h + node, the answer from 580h + node. Returns the 8 bytes of
// the answer, empty when none came.
inline QByteArray sdoUpload(ZorAbstractCanDriver &driver, QWaitCondition &wake, int node, quint16 index,
                            quint8 sub)
{
    QByteArray request(8, '\0');
    request[0] = char(0x40);
    request[1] = char(index & 0xFF);
    request[2] = char(index >> 8);
    request[3] = char(sub);
    QByteArray rec = record(quint32(0x600 + node), request);
    if (!driver.queueTx(rec) || !driver.flushTx(true))
        return QByteArray();
    VSCAN_MSG answer;
    if (!receiveId(driver, wake, quint32(0x580 + node), &answer))
        return QByteArray();
    return dataOf(answer);
}

// The nine functions of a plug-in, bound from the loaded copy the driver
// also gets (same path: the loader hands out the same copy).
struct PluginFunctions
{
    QLibrary library;
    CanPortLibraryInitFn init = nullptr;
    CanPortOpenFn open = nullptr;
    CanPortCloseFn close = nullptr;
    CanPortBitrateSetFn bitrate = nullptr;
    CanPortEchoFn echo = nullptr;
    CanPortGoBusOnFn busOn = nullptr;
    CanPortGoBusOffFn busOff = nullptr;
    CanPortWriteFn write = nullptr;
    CanPortReadFn read = nullptr;

    bool load(const QString &key)
    {
        library.setFileName(pluginPath(key));
        if (!library.load())
            return false;
        init = reinterpret_cast<CanPortLibraryInitFn>(library.resolve("canPortLibraryInit"));
        open = reinterpret_cast<CanPortOpenFn>(library.resolve("canPortOpen"));
        close = reinterpret_cast<CanPortCloseFn>(library.resolve("canPortClose"));
        bitrate = reinterpret_cast<CanPortBitrateSetFn>(library.resolve("canPortBitrateSet"));
        echo = reinterpret_cast<CanPortEchoFn>(library.resolve("canPortEcho"));
        busOn = reinterpret_cast<CanPortGoBusOnFn>(library.resolve("canPortGoBusOn"));
        busOff = reinterpret_cast<CanPortGoBusOffFn>(library.resolve("canPortGoBusOff"));
        write = reinterpret_cast<CanPortWriteFn>(library.resolve("canPortWrite"));
        read = reinterpret_cast<CanPortReadFn>(library.resolve("canPortRead"));
        return init && open && close && bitrate && echo && busOn && busOff && write && read;
    }
};

// One frame through canPortRead: 0 with it in *frame, or the result.
inline int32_t readFrame(const PluginFunctions &f, int32_t port, CanPortFrame *frame)
{
    *frame = CanPortFrame{};
    return f.read(port, &frame->id, frame->data, &frame->len, &frame->flags);
}

} // namespace AdapterTest
