#include "zornmt.h"

#include "zorbabelfish.h"
#include "zorcanexchange.h"

#include <QStringList>

bool ZorNmt::moduleControlExchange(const QString &request, int timeoutMs, QString &exchange)
{
    const QStringList fields = request.split(QLatin1Char(','));
    bool okNode = false, okCommand = false;
    const quint32 node = ZorBabelFish::stringToULong(fields.value(0), &okNode);
    const quint32 command = ZorBabelFish::stringToULong(fields.value(1), &okCommand);
    if (!okNode || node > 127 || !okCommand || command > 0xff)
        return false;
    QByteArray data(2, '\0');
    data[0] = char(command);
    data[1] = char(node);
    exchange = ZorCanExchange::line(timeoutMs, ZorCanExchange::frameText(0, data), ZorCanExchange::NoResponse);
    return true;
}

QString ZorNmt::resetAllExchange()
{
    return QStringLiteral("CAN:0:0:0,2,82 00:noresponse\n");
}

int ZorNmt::errorControlNode(quint32 cobId)
{
    return cobId >= 0x701 && cobId <= 0x77f ? int(cobId - 0x700) : 0;
}

int ZorNmt::bootUpNode(quint32 cobId, const QByteArray &data)
{
    const int node = errorControlNode(cobId);
    return node && data.size() >= 1 && data.at(0) == 0 ? node : 0;
}

bool ZorNmt::emergencyText(quint32 cobId, const QByteArray &data, QString &text)
{
    if (cobId < 0x081 || cobId > 0x0ff || data.isEmpty())
        return false;
    const QString code = data.size() >= 2 ? QString::number(ZorCanExchange::getUnsigned(data, 0, 2)) : QString();
    const QString reg = data.size() >= 3 ? QString::number(quint8(data.at(2))) : QString();
    text = QStringLiteral("%1,%2,%3,%4")
               .arg(cobId - 0x80)
               .arg(code, reg, ZorCanExchange::bytesText(data.mid(3, 5)));
    return true;
}
