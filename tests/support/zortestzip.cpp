#include "zortestzip.h"

#include "zortestutil.h"

#include <QDataStream>

QByteArray ZorTest::storedZip(const QList<ZipEntry> &entries)
{
    QByteArray local;
    QByteArray central;
    QDataStream l(&local, QIODevice::WriteOnly);
    QDataStream c(&central, QIODevice::WriteOnly);
    l.setByteOrder(QDataStream::LittleEndian);
    c.setByteOrder(QDataStream::LittleEndian);
    for (const ZipEntry &e : entries) {
        const quint32 offset = static_cast<quint32>(local.size());
        const quint32 crc = crc32(e.data);
        const quint32 size = static_cast<quint32>(e.data.size());
        const quint16 nameLength = static_cast<quint16>(e.name.size());
        l << quint32(0x04034b50) << quint16(10) << quint16(0) << quint16(0) << quint16(0)
          << quint16(0x21) << crc << size << size << nameLength << quint16(0);
        l.writeRawData(e.name.constData(), e.name.size());
        l.writeRawData(e.data.constData(), e.data.size());
        c << quint32(0x02014b50) << quint16((3 << 8) | 20) << quint16(10) << quint16(0)
          << quint16(0) << quint16(0) << quint16(0x21) << crc << size << size << nameLength
          << quint16(0) << quint16(0) << quint16(0) << quint16(0) << (e.unixMode << 16)
          << offset;
        c.writeRawData(e.name.constData(), e.name.size());
    }
    QByteArray end;
    QDataStream d(&end, QIODevice::WriteOnly);
    d.setByteOrder(QDataStream::LittleEndian);
    d << quint32(0x06054b50) << quint16(0) << quint16(0) << quint16(entries.size())
      << quint16(entries.size()) << quint32(central.size()) << quint32(local.size()) << quint16(0);
    return local + central + end;
}
