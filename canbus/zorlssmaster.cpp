#include "zorlssmaster.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"

#include <QStringList>

namespace {

const quint32 BitTimingTable[] = {1000000, 800000, 500000, 250000, 125000, 100000, 50000, 20000, 10000};

// An answer of this command with any error code.
QString answerPattern(quint16 responseId, quint8 command)
{
    const int any = ZorCanExchange::AnyByte;
    return ZorCanExchange::patternText(responseId, {command, any, any, any, any, any, any, any});
}

} // namespace

bool ZorLssMaster::parse(const QString &request, Request &out, QString &error)
{
    const QStringList fields = request.split(QLatin1Char(','));
    const QString selector = fields.value(0).trimmed().toLower();
    Request r;
    const int selective = QStringLiteral("vprs").indexOf(selector);
    if (selector.size() == 1 && selective >= 0) {
        bool ok = false;
        r.command = quint8(SwitchSelectiveVendor + selective);
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
    if (fields.size() > 4) {
        // Vendor, product and revision after the serial number.
        if (r.command != SwitchSelectiveSerial || fields.size() != 7) {
            error = QStringLiteral("error - a full LSS address is \"s,serial,node id,bit rate,vendor,product,revision\"");
            return false;
        }
        for (int i = 0; i < 3; ++i) {
            bool ok = false;
            r.address[i] = ZorBabelFish::stringToULong(fields.at(4 + i), &ok);
            if (!ok) {
                error = QStringLiteral("error - LSS address value '%1' is no number").arg(fields.at(4 + i).trimmed());
                return false;
            }
        }
        r.address[3] = r.value;
        r.fullAddress = true;
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

QString ZorLssMaster::switchSelectiveLines(quint16 requestId, quint16 responseId, const quint32 address[4],
                                           int timeoutMs)
{
    QString text;
    for (int i = 0; i < 3; ++i)
        text += switchModeLine(requestId, quint8(SwitchSelectiveVendor + i), address[i], 0);
    QByteArray last = ZorCanExchange::bytes8({SwitchSelectiveSerial});
    ZorCanExchange::putUnsigned(last, 1, address[3], 4);
    return text + ZorCanExchange::line(timeoutMs, ZorCanExchange::frameText(requestId, last),
                                       answerPattern(responseId, SwitchSelectiveAnswer));
}

QString ZorLssMaster::configureNodeIdLine(quint16 requestId, quint16 responseId, quint8 nodeId, int timeoutMs)
{
    return ZorCanExchange::line(timeoutMs,
                                ZorCanExchange::frameText(requestId, ZorCanExchange::bytes8({ConfigureNodeId, nodeId})),
                                answerPattern(responseId, ConfigureNodeId));
}

QString ZorLssMaster::configureBitTimingLine(quint16 requestId, quint16 responseId, int tableIndex, int timeoutMs)
{
    return ZorCanExchange::line(timeoutMs,
                                ZorCanExchange::frameText(requestId,
                                                          ZorCanExchange::bytes8({ConfigureBitTiming, 0, tableIndex})),
                                answerPattern(responseId, ConfigureBitTiming));
}

QString ZorLssMaster::storeLine(quint16 requestId, quint16 responseId, int timeoutMs)
{
    return ZorCanExchange::line(timeoutMs,
                                ZorCanExchange::frameText(requestId, ZorCanExchange::bytes8({StoreConfiguration})),
                                answerPattern(responseId, StoreConfiguration));
}

QString ZorLssMaster::inquireIdentityLines(quint16 requestId, quint16 responseId, int timeoutMs)
{
    QString text;
    for (int command = InquireVendor; command <= InquireSerial; ++command)
        text += ZorCanExchange::line(timeoutMs,
                                     ZorCanExchange::frameText(requestId, ZorCanExchange::bytes8({command})),
                                     answerPattern(responseId, quint8(command)));
    return text;
}

bool ZorLssMaster::identityAnswer(quint32 cobId, const QByteArray &data, quint16 responseId, int &field,
                                  quint32 &value)
{
    if (cobId != responseId || data.size() != 8)
        return false;
    const quint8 command = quint8(data.at(0));
    if (command < InquireVendor || command > InquireSerial)
        return false;
    field = command - InquireVendor;
    value = ZorCanExchange::getUnsigned(data, 1, 4);
    return true;
}

bool ZorLssMaster::answerError(const QString &answerText, int &errorCode, int &specificError)
{
    const QStringList lines = ZorCanExchange::resultLines(answerText);
    quint32 cobId = 0;
    QByteArray data;
    if (lines.isEmpty() || !ZorCanExchange::answerFrame(lines.last(), cobId, data) || data.size() < 3)
        return false;
    errorCode = quint8(data.at(1));
    specificError = quint8(data.at(2));
    return true;
}
