#include "zorcanexchange.h"

#include "zorbabelfish.h"

#include <QStringList>

const QString ZorCanExchange::Kind = QStringLiteral("CAN");
const QString ZorCanExchange::NoResponse = QStringLiteral("noresponse");

namespace {

const char HexDigits[] = "0123456789abcdef";

void appendByte(QString &text, quint8 byte)
{
    text += QLatin1Char(HexDigits[byte >> 4]);
    text += QLatin1Char(HexDigits[byte & 0x0f]);
}

} // namespace

QString ZorCanExchange::idText(quint32 cobId)
{
    return QString::number(cobId, 16) + QLatin1Char('h');
}

QString ZorCanExchange::bytesText(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() * 3);
    for (int i = 0; i < bytes.size(); ++i) {
        if (i)
            text += QLatin1Char(' ');
        appendByte(text, quint8(bytes.at(i)));
    }
    return text;
}

QString ZorCanExchange::frameText(quint32 cobId, const QByteArray &data)
{
    return idText(cobId) + QLatin1Char(',') + QString::number(data.size()) + QLatin1Char(',')
        + bytesText(data);
}

QString ZorCanExchange::patternText(quint32 cobId, const QVector<int> &bytes)
{
    QString text = idText(cobId) + QLatin1Char(',') + QString::number(bytes.size()) + QLatin1Char(',');
    for (int i = 0; i < bytes.size(); ++i) {
        if (i)
            text += QLatin1Char(' ');
        if (bytes.at(i) == AnyByte)
            text += QLatin1String("??");
        else
            appendByte(text, quint8(bytes.at(i)));
    }
    return text;
}

QString ZorCanExchange::patternText(quint32 cobId, const QString &firstByte, std::initializer_list<int> rest)
{
    const QString tail = patternText(cobId, QVector<int>(rest));
    // "581h,7,50 1f ..." -> "581h,8,<first> 50 1f ..."
    const int dataAt = tail.indexOf(QLatin1Char(','), tail.indexOf(QLatin1Char(',')) + 1) + 1;
    const QString data = tail.mid(dataAt);
    return idText(cobId) + QLatin1Char(',') + QString::number(int(rest.size()) + 1) + QLatin1Char(',') + firstByte
        + (data.isEmpty() ? QString() : QLatin1Char(' ') + data);
}

QString ZorCanExchange::line(int timeoutMs, const QString &request, const QString &expected)
{
    return Kind + QLatin1Char(':') + QString::number(timeoutMs) + QLatin1String(":0:") + request
        + QLatin1Char(':') + expected + QLatin1Char('\n');
}

QByteArray ZorCanExchange::bytes8(std::initializer_list<int> bytes)
{
    QByteArray data(8, '\0');
    int i = 0;
    for (int b : bytes) {
        if (i >= 8)
            break;
        data[i++] = char(quint8(b));
    }
    return data;
}

void ZorCanExchange::putUnsigned(QByteArray &data, int offset, quint32 value, int size)
{
    for (int i = 0; i < size && offset + i < data.size(); ++i)
        data[offset + i] = char(quint8(value >> (8 * i)));
}

quint32 ZorCanExchange::getUnsigned(const QByteArray &data, int offset, int size)
{
    quint32 value = 0;
    for (int i = 0; i < size && offset + i < data.size(); ++i)
        value |= quint32(quint8(data.at(offset + i))) << (8 * i);
    return value;
}

bool ZorCanExchange::answerFrame(const QString &resultLine, quint32 &cobId, QByteArray &data)
{
    const QString frame = resultLine.section(QLatin1Char(':'), 4).trimmed();
    if (frame.isEmpty())
        return false;
    QByteArray record;
    QByteArray bytes;
    if (!ZorBabelFish::fromCanStrToQbytearray(frame, record)
        || !ZorBabelFish::fromCanStrToDataPart(frame, bytes))
        return false;
    cobId = ZorBabelFish::fromQbytearrayToCanId(record);
    data = bytes;
    return true;
}

QStringList ZorCanExchange::resultLines(const QString &answerText)
{
    return answerText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
