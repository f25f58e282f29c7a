#include "zorframedecodercanopen.h"

#include "vscan_msg.h"
#include "zorbabelfish.h"

namespace {

QString hex(quint32 value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper() + QLatin1Char('h');
}

QString dataBytes(const VSCAN_MSG &f)
{
    QStringList bytes;
    for (int i = 0; i < f.Size && i < 8; ++i)
        bytes << QStringLiteral("%1").arg(f.Data[i], 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(QLatin1Char(' '));
}

quint32 littleEndian(const VSCAN_MSG &f, int offset, int count)
{
    quint32 value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | f.Data[offset + i];
    return value;
}

QString objectAddress(const VSCAN_MSG &f)
{
    return QStringLiteral("%1:%2")
        .arg(hex(littleEndian(f, 1, 2), 4), QStringLiteral("%1").arg(f.Data[3], 2, 16, QLatin1Char('0')).toUpper());
}

QString nmtCommand(quint8 command)
{
    switch (command) {
    case 0x01: return QStringLiteral("start");
    case 0x02: return QStringLiteral("stop");
    case 0x80: return QStringLiteral("enter pre-operational");
    case 0x81: return QStringLiteral("reset node");
    case 0x82: return QStringLiteral("reset communication");
    default: return QStringLiteral("command %1").arg(hex(command, 2));
    }
}

QString nmtState(quint8 state)
{
    switch (state & 0x7f) {
    case 0x04: return QStringLiteral("stopped");
    case 0x05: return QStringLiteral("operational");
    case 0x7f: return QStringLiteral("pre-operational");
    default: return QStringLiteral("state %1").arg(hex(state & 0x7f, 2));
    }
}

// An expedited value with its size from the command byte (n unused bytes
// in bits 2-3 when bit 0 says the size is indicated).
QString expeditedValue(const VSCAN_MSG &f)
{
    const quint8 command = f.Data[0];
    const int size = (command & 0x01) ? 4 - ((command >> 2) & 0x03) : 4;
    return hex(littleEndian(f, 4, size), 2 * size);
}

// The client's request (to the node, 600h + node).
QString sdoRequest(const VSCAN_MSG &f)
{
    if (f.Size < 1)
        return QStringLiteral("empty");
    const quint8 command = f.Data[0];
    const bool addressed = f.Size >= 4;
    switch (command >> 5) {
    case 1: // initiate download
        if (!addressed)
            break;
        if (command & 0x02)
            return QStringLiteral("write %1 = %2").arg(objectAddress(f), expeditedValue(f));
        return QStringLiteral("write %1, segmented").arg(objectAddress(f));
    case 2: // initiate upload
        if (addressed)
            return QStringLiteral("read %1").arg(objectAddress(f));
        break;
    case 0:
        return QStringLiteral("download segment");
    case 3:
        return QStringLiteral("upload segment");
    case 4:
        if (addressed && f.Size >= 8)
            return QStringLiteral("abort %1, code %2").arg(objectAddress(f), hex(littleEndian(f, 4, 4), 8));
        break;
    case 5:
        return QStringLiteral("block upload");
    case 6:
        return QStringLiteral("block download");
    default:
        break;
    }
    return QStringLiteral("command %1").arg(hex(command, 2));
}

// The node's answer (580h + node).
QString sdoAnswer(const VSCAN_MSG &f)
{
    if (f.Size < 1)
        return QStringLiteral("empty");
    const quint8 command = f.Data[0];
    const bool addressed = f.Size >= 4;
    switch (command >> 5) {
    case 2: // initiate upload answer
        if (!addressed)
            break;
        if (command & 0x02)
            return QStringLiteral("read %1 = %2").arg(objectAddress(f), expeditedValue(f));
        return QStringLiteral("read %1, segmented").arg(objectAddress(f));
    case 3: // initiate download answer
        if (addressed)
            return QStringLiteral("write %1 ok").arg(objectAddress(f));
        break;
    case 0:
        return QStringLiteral("upload segment");
    case 1:
        return QStringLiteral("download segment ok");
    case 4:
        if (addressed && f.Size >= 8)
            return QStringLiteral("abort %1, code %2").arg(objectAddress(f), hex(littleEndian(f, 4, 4), 8));
        break;
    case 5:
        return QStringLiteral("block download");
    case 6:
        return QStringLiteral("block upload");
    default:
        break;
    }
    return QStringLiteral("command %1").arg(hex(command, 2));
}

QString describe(const VSCAN_MSG &f)
{
    if (f.Flags & VSCAN_FLAGS_EXTENDED)
        return dataBytes(f);
    const quint32 id = f.Id & 0x7ff;
    const quint32 node = id & 0x7f;
    const quint32 function = id >> 7;
    const bool remote = f.Flags & VSCAN_FLAGS_REMOTE;
    const QString nodeText = QStringLiteral("node %1").arg(node);
    if (id == 0x000) {
        if (f.Size < 2)
            return QStringLiteral("NMT");
        const QString target = f.Data[1] == 0 ? QStringLiteral("all nodes")
                                              : QStringLiteral("node %1").arg(f.Data[1]);
        return QStringLiteral("NMT %1, %2").arg(nmtCommand(f.Data[0]), target);
    }
    if (id == 0x080)
        return f.Size >= 1 ? QStringLiteral("SYNC %1").arg(f.Data[0]) : QStringLiteral("SYNC");
    if (function == 1) {
        if (f.Size < 3)
            return QStringLiteral("EMCY %1").arg(nodeText);
        return QStringLiteral("EMCY %1: error code %2, error register %3")
            .arg(nodeText, hex(littleEndian(f, 0, 2), 4), hex(f.Data[2], 2));
    }
    if (id == 0x100)
        return QStringLiteral("TIME");
    if (function >= 3 && function <= 10 && node != 0) {
        const int number = int(function - 3) / 2 + 1;
        const QString name = QStringLiteral("%1PDO%2").arg(function % 2 ? QStringLiteral("T") : QStringLiteral("R")).arg(number);
        if (remote)
            return QStringLiteral("%1 %2: remote request").arg(name, nodeText);
        return QStringLiteral("%1 %2: %3").arg(name, nodeText, dataBytes(f));
    }
    if (function == 11 && node != 0)
        return QStringLiteral("SDO answer %1: %2").arg(nodeText, sdoAnswer(f));
    if (function == 12 && node != 0)
        return QStringLiteral("SDO request %1: %2").arg(nodeText, sdoRequest(f));
    if (function == 14 && node != 0) {
        if (remote)
            return QStringLiteral("Node guarding %1").arg(nodeText);
        if (f.Size < 1)
            return QStringLiteral("Heartbeat %1").arg(nodeText);
        if ((f.Data[0] & 0x7f) == 0)
            return QStringLiteral("Boot-up %1").arg(nodeText);
        return QStringLiteral("Heartbeat %1: %2").arg(nodeText, nmtState(f.Data[0]));
    }
    if (id == 0x7e4)
        return QStringLiteral("LSS answer: %1").arg(dataBytes(f));
    if (id == 0x7e5)
        return QStringLiteral("LSS request: %1").arg(dataBytes(f));
    return dataBytes(f);
}

} // namespace

QVariant ZorFrameDecoderCanopen::decode(const QVariant &frame)
{
    if (frame.type() != QVariant::ByteArray)
        return QVariant();
    VSCAN_MSG f;
    if (!ZorBabelFish::fromQbytearrayToVscan(frame.toByteArray(), f))
        return QVariant();
    if (f.Size > 8)
        f.Size = 8;
    return describe(f);
}
