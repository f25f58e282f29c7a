// Frame decoders: the CANopen decoder names the services of the predefined
// connection set and reads their fields; the script decoder loads a user's
// script and hands it the frame record as signed bytes.
#include "drivertesting.h"
#include "zorframedecodercanopen.h"
#include "zorframedecoderscript.h"
#include "zortest.h"

#include <QtTest>

using namespace DriverTesting;

namespace {

bool writeScript(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

} // namespace

class TestFrameDecoders : public QObject
{
    Q_OBJECT

private slots:
    void canopenNamesTheServices_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("text");
        QTest::newRow("NMT start") << 0x000 << QByteArray("0105") << 1 << "NMT start, node 5";
        QTest::newRow("NMT reset all") << 0x000 << QByteArray("8100") << 1 << "NMT reset node, all nodes";
        QTest::newRow("SYNC") << 0x080 << QByteArray() << 1 << "SYNC";
        QTest::newRow("EMCY") << 0x085 << QByteArray("1081110102030405") << 1
                              << "EMCY node 5: error code 8110h, error register 11h";
        QTest::newRow("TPDO1") << 0x185 << QByteArray("0102") << 1 << "TPDO1 node 5: 01 02";
        QTest::newRow("RPDO2") << 0x305 << QByteArray("ff") << 1 << "RPDO2 node 5: FF";
        QTest::newRow("TPDO4 remote request") << 0x485 << QByteArray() << 5 << "TPDO4 node 5: remote request";
        QTest::newRow("SDO read request") << 0x605 << QByteArray("4000100000000000") << 1
                                          << "SDO request node 5: read 1000h:00";
        QTest::newRow("SDO write request") << 0x62f << QByteArray("2b40600006000000") << 1
                                           << "SDO request node 47: write 6040h:00 = 0006h";
        QTest::newRow("SDO read answer") << 0x585 << QByteArray("4200100092010200") << 1
                                         << "SDO answer node 5: read 1000h:00 = 00020192h";
        QTest::newRow("SDO segmented answer") << 0x585 << QByteArray("41081000" "1c000000") << 1
                                              << "SDO answer node 5: read 1008h:00, segmented";
        QTest::newRow("SDO write answer") << 0x585 << QByteArray("6040600000000000") << 1
                                          << "SDO answer node 5: write 6040h:00 ok";
        QTest::newRow("SDO abort") << 0x585 << QByteArray("8000100000000206") << 1
                                   << "SDO answer node 5: abort 1000h:00, code 06020000h";
        QTest::newRow("heartbeat") << 0x705 << QByteArray("05") << 1 << "Heartbeat node 5: operational";
        QTest::newRow("heartbeat pre-operational") << 0x77f << QByteArray("7f") << 1
                                                   << "Heartbeat node 127: pre-operational";
        QTest::newRow("boot-up") << 0x705 << QByteArray("00") << 1 << "Boot-up node 5";
        QTest::newRow("LSS") << 0x7e5 << QByteArray("0401") << 1 << "LSS request: 04 01";
        QTest::newRow("extended identifier") << 0x18ff0001 << QByteArray("0a0b") << 2 << "0A 0B";
    }
    void canopenNamesTheServices()
    {
        QFETCH(int, id);
        QFETCH(QByteArray, data);
        QFETCH(int, flags);
        QFETCH(QString, text);
        ZorFrameDecoderCanopen decoder;
        QCOMPARE(decoder.decode(record(quint32(id), QByteArray::fromHex(data), quint8(flags))).toString(), text);
    }

    void canopenNeedsARecord()
    {
        ZorFrameDecoderCanopen decoder;
        QVERIFY(!decoder.decode(QStringLiteral("605h,8,40 00 10 00 00 00 00 00")).isValid());
        QVERIFY(!decoder.decode(QByteArray("short")).isValid());
        QVERIFY(decoder.setParameter(QStringLiteral("anything")));
        QCOMPARE(decoder.parameter(), QStringLiteral("anything"));
        QCOMPARE(decoder.encode(42).toInt(), 42);
    }

    void scriptWithDecodeOnly()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("decode.js"));
        QVERIFY(writeScript(path, "function decode(f) {\n"
                                  "  if (typeof f == 'string') return 'text ' + f;\n"
                                  "  return f.length + ' bytes, first data byte ' + f[5];\n"
                                  "}\n"));
        ZorFrameDecoderScript decoder;
        QVERIFY(decoder.setParameter(path));
        QCOMPARE(decoder.parameter(), path);
        // Data byte 0x80 arrives as -128, in record order (data from byte 5).
        QCOMPARE(decoder.decode(record(0x181, QByteArray::fromHex("80ff"))).toString(),
                 QStringLiteral("16 bytes, first data byte -128"));
        QCOMPARE(decoder.decode(QStringLiteral("181h,1,80")).toString(), QStringLiteral("text 181h,1,80"));
        QVERIFY(!decoder.encode(QStringLiteral("x")).isValid());
    }

    void scriptWithEncodeFromTheWorkingFolder()
    {
        QTemporaryDir tmp;
        QVERIFY(writeScript(tmp.filePath(QStringLiteral("both.js")),
                            "function decode(f) { return f[0]; }\n"
                            "function encode(v) { return v + '!'; }\n"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp.path()));
        ZorFrameDecoderScript decoder;
        const bool loaded = decoder.setParameter(QStringLiteral("both.js"));
        QDir::setCurrent(before);
        QVERIFY(loaded);
        QCOMPARE(decoder.encode(7).toString(), QStringLiteral("7!"));
        QCOMPARE(decoder.decode(record(0x7f, QByteArray())).toInt(), 0x7f);
    }

    void scriptsThatDoNotLoad_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("path"); // empty: the script's file
        QTest::newRow("neither function") << QByteArray("var x = 1;") << QString();
        QTest::newRow("syntax error") << QByteArray("function decode(f) {") << QString();
        QTest::newRow("decode is no function") << QByteArray("var decode = 3;") << QString();
        QTest::newRow("empty path") << QByteArray() << "  ";
        QTest::newRow("missing file") << QByteArray() << "/nonexistent/decoder.js";
    }
    void scriptsThatDoNotLoad()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, path);
        QTemporaryDir tmp;
        if (path.isEmpty()) {
            path = tmp.filePath(QStringLiteral("bad.js"));
            QVERIFY(writeScript(path, script));
        }
        ZorFrameDecoderScript decoder;
        QVERIFY(!decoder.setParameter(path));
        QCOMPARE(decoder.parameter(), path);
        QVERIFY(!decoder.decode(record(0x181, "\x01")).isValid());
    }
};

ZOR_TEST(TestFrameDecoders)
#include "tst_framedecoders.moc"
