#include "zorlssmaster.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"

#include <QStringList>

namespace {

const quint32 BitTimingTable[] = {1000000, 800000, 500000, 250000, 125000, 100000, 50000, 20000, 10000};

} // namespace

bool ZorLssMaster::parse(const QString &request, Request &out, QString &error)
{
    const QStringList fields = request.split(QLatin1Char(','));
    const QString selector = fields.value(0).trimmed().toLower();
    Request r;
    const int selective = QStringLiteral("vprs").indexOf(selector);
    if (selector.size() == 1 && selective >= 0) {
        bool ok = false;
        r.command = quint8(0x40 + selective);
        r.value = ZorBabelFish::stringToULong(fields.value(1), &ok);
        if (!ok) {
            error = QStringLiteral("error - LSS address value '%1' is no number").arg(fields.value(1).trimmed());
            return false;
        }
    }
    bool okId = false, okRate = false;
    const quint32 nodeId = ZorBabelFish::stringToULong(fields.value(2), &okId);
    const quint32 bitRate = ZorBabelFish::stringToULong(fields.value(3), &okRate);
    if (!okId || nodeId > 127) {
        error = QStringLiteral("error - node id '%1' is not 1..127 or 0").arg(fields.value(2).trimmed());
        return false;
    }
    if (!okRate || (bitRate && bitTimingIndex(bitRate) < 0)) {
        error = QStringLiteral("error - bit rate '%1' is not in the bit-timing table").arg(fields.value(3).trimmed());
        return false;
    }
    if (!nodeId && !bitRate) {
        error = QStringLiteral("error - neither node id nor bit rate to set");
        return false;
    }
    r.nodeId = quint8(nodeId);
    r.bitRate = bitRate;
    out = r;
    return true;
}

int ZorLssMaster::bitTimingIndex(quint32 bitRate)
{
    for (int i = 0; i < int(sizeof BitTimingTable / sizeof BitTimingTable[0]); ++i) {
        if (BitTimingTable[i] == bitRate)
            return i;
    }
    return -1;
}

QString ZorLssMaster::switchModeLine(quint16 requestId, quint8 command, quint32 value, int waitMs)
{
    QByteArray data = ZorCanExchange::bytes8({command});
    ZorCanExchange::putUnsigned(data, 1, value, 4);
    return ZorCanExchange::line(waitMs, ZorCanExchange::frameText(requestId, data), ZorCanExchange::NoResponse);
}

QString ZorLssMaster::configureNodeIdLine(quint16 requestId, quint16 responseId, quint8 nodeId, int timeoutMs)
{
    const int any = ZorCanExchange::AnyByte;
    return ZorCanExchange::line(timeoutMs, ZorCanExchange::frameText(requestId, ZorCanExchange::bytes8({0x11, nodeId})),
                                ZorCanExchange::patternText(responseId, {0x11, 0, any, any, any, any, any, any}));
}

QString ZorLssMaster::configureBitTimingLine(quint16 requestId, quint16 responseId, int tableIndex, int timeoutMs)
{
    const int any = ZorCanExchange::AnyByte;
    return ZorCanExchange::line(timeoutMs,
                                ZorCanExchange::frameText(requestId, ZorCanExchange::bytes8({0x13, 0, tableIndex})),
                                ZorCanExchange::patternText(responseId, {0x13, 0, 0, any, any, any, any, any}));
}

QString ZorLssMaster::storeLine(quint16 requestId, quint16 responseId, int timeoutMs)
{
    const int any = ZorCanExchange::AnyByte;
    return ZorCanExchange::line(timeoutMs, ZorCanExchange::frameText(requestId, ZorCanExchange::bytes8({0x17})),
                                ZorCanExchange::patternText(responseId, {0x17, 0, 0, any, any, any, any, any}));
}
