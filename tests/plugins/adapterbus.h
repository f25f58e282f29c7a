// Fixture of the tests of the plug-ins over makers' libraries: a plug-in
// driver on one adapter port with its receive condition, and the frames and
// SDO exchanges the tests carry through it to the simulated gateway's
// CANopen nodes (on top of the helpers in adapterplugintest.h).
#pragma once

#include "adapterplugintest.h"
#include "zorcandriverbuslink.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <QWaitCondition>
#include <cstring>
#include <functional>

namespace AdapterBus {

// The adapter keys whose plug-ins sit over a maker's library of ours.
inline QStringList keys()
{
    return {"ems", "mhs", "kvaser", "peak", "castor"};
}

// One port opened through the plug-in driver.
class Port
{
public:
    QWaitCondition wake;
    ZorCanDriverBuslink driver{&wake};

    bool open(const QString &portText, int bitRate = 500000)
    {
        return driver.open(portText, bitRate, 0, 0, 0);
    }

    bool send(quint32 id, const QByteArray &data, quint8 flags = VSCAN_FLAGS_STANDARD,
              int size = -1)
    {
        QByteArray rec = AdapterTest::record(id, data, flags, size);
        return driver.queueTx(rec) && driver.flushTx(true);
    }

    // Frames received until `done` accepts one (it is the last in the list)
    // or timeoutMs passed.
    QList<VSCAN_MSG> collectUntil(const std::function<bool(const VSCAN_MSG &)> &done,
                                  int timeoutMs = 3000)
    {
        QList<VSCAN_MSG> frames = AdapterTest::collect(
            driver, wake,
            [&](const QList<VSCAN_MSG> &got) {
                for (const VSCAN_MSG &f : got) {
                    if (done(f))
                        return true;
                }
                return false;
            },
            timeoutMs);
        for (int i = 0; i < frames.size(); ++i) {
            if (done(frames[i]))
                return frames.mid(0, i + 1);
        }
        return frames;
    }

    // The first `want` frames received within timeoutMs (fewer when no more came).
    QList<VSCAN_MSG> collect(int want, int timeoutMs = 3000)
    {
        return AdapterTest::collect(
            driver, wake, [want](const QList<VSCAN_MSG> &got) { return got.size() >= want; },
            timeoutMs).mid(0, want);
    }

    // Expedited SDO upload of node's object: the eight bytes of the answer
    // on 580h + node, or an empty array when none came.
    QByteArray sdoUpload(int node, int index, int subindex)
    {
        QByteArray request(8, 0);
        request[0] = char(0x40);
        request[1] = char(index & 0xff);
        request[2] = char(index >> 8);
        request[3] = char(subindex);
        if (!send(quint32(0x600 + node), request))
            return QByteArray();
        // The answer names the same object (another port's answers may be
        // on the bus too).
        const quint32 answerId = quint32(0x580 + node);
        auto isAnswer = [&](const VSCAN_MSG &f) {
            return f.Id == answerId && f.Size == 8
                   && std::memcmp(f.Data + 1, request.constData() + 1, 3) == 0;
        };
        const QList<VSCAN_MSG> got = collectUntil(isAnswer);
        if (got.isEmpty() || !isAnswer(got.last()))
            return QByteArray();
        return QByteArray(reinterpret_cast<const char *>(got.last().Data), 8);
    }
};

// The answer of node n's SDO server to an upload of 1000h:0 (device type
// 00020192h).
inline QByteArray deviceTypeAnswer()
{
    return QByteArray::fromHex("4200100092010200");
}

} // namespace AdapterBus
