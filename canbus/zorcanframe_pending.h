// TEMPORARY stand-in until core/zorbabelfish.h lands; removed on merge.
#pragma once
#include <QByteArray>
#include <QtGlobal>
#include <cstring>
#define VSCAN_FLAGS_STANDARD 0x01
#define VSCAN_FLAGS_EXTENDED 0x02
#define VSCAN_FLAGS_REMOTE 0x04
#define VSCAN_FLAGS_TIMESTAMP 0x08
struct VSCAN_MSG {
    quint32 Id;
    quint8 Size;
    quint8 Data[8];
    quint8 Flags;
    quint16 Timestamp;
};
class ZorBabelFish
{
public:
    static bool fromVscanToQbytearray(const VSCAN_MSG &m, QByteArray &a)
    {
        a.resize(16);
        a[0] = char(m.Id);
        a[1] = char(m.Id >> 8);
        a[2] = char(m.Id >> 16);
        a[3] = char(m.Id >> 24);
        a[4] = char(m.Size);
        std::memcpy(a.data() + 5, m.Data, 8);
        a[13] = char(m.Flags);
        a[14] = char(m.Timestamp >> 8);
        a[15] = char(m.Timestamp);
        return true;
    }
    static bool fromQbytearrayToVscan(const QByteArray &a, VSCAN_MSG &m)
    {
        if (a.size() != 16)
            return false;
        const uchar *p = reinterpret_cast<const uchar *>(a.constData());
        m.Id = p[0] | (p[1] << 8) | (p[2] << 16) | (quint32(p[3]) << 24);
        m.Size = p[4];
        std::memcpy(m.Data, p + 5, 8);
        m.Flags = p[13];
        m.Timestamp = quint16((p[14] << 8) | p[15]);
        return true;
    }
};
