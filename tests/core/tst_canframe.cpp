// CAN frame records (16 bytes) and CAN frame texts.
#include "zorbabelfish.h"
#include "zortest.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
} // namespace

class TestCanFrame : public QObject
{
    Q_OBJECT
private slots:
    void textToRecordAndBack_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("written");

        QTest::newRow("standard")
            << "7e5h,2,04 00" << hex("e5 07 00 00 02 04 00 00 00 00 00 00 00 01 00 00") << "7e5h,2,04 00";
        QTest::newRow("extended") << "ext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999"
                                  << hex("86 13 02 00 08 f1 f2 f3 f4 f5 f6 f7 ff 0a 27 0f")
                                  << "ext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999";
        QTest::newRow("remote") << "R 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999"
                                << hex("86 13 02 00 08 f1 f2 f3 f4 f5 f6 f7 ff 0c 27 0f")
                                << "R 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999";
        QTest::newRow("remote extended") << "Rext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999"
                                         << hex("86 13 02 00 08 f1 f2 f3 f4 f5 f6 f7 ff 0e 27 0f")
                                         << "Rext 21386h,8,f1 f2 f3 f4 f5 f6 f7 ff,9999";
        QTest::newRow("largest identifier") << "ext ffffffffh,8,7f 80 81 82 83 84 85 86,513"
                                            << hex("ff ff ff ff 08 7f 80 81 82 83 84 85 86 0a 02 01")
                                            << "ext ffffffffh,8,7f 80 81 82 83 84 85 86,513";
        QTest::newRow("prefix case-blind, empty data")
            << "EXT 10h,0," << hex("10 00 00 00 00 00 00 00 00 00 00 00 00 02 00 00") << "ext 10h,0,";
        QTest::newRow("other number forms, blanks")
            << "  0x581 , 8 , 01 00 02 00 a0 b0 c0 d0 , 1  "
            << hex("81 05 00 00 08 01 00 02 00 a0 b0 c0 d0 09 00 01") << "581h,8,01 00 02 00 a0 b0 c0 d0,1";
        QTest::newRow("decimal identifier") << "1409,1,ff" << hex("81 05 00 00 01 ff 00 00 00 00 00 00 00 01 00 00")
                                            << "581h,1,ff";
        QTest::newRow("length above 8") << "1h,9,01 02 03 04 05 06 07 08 09"
                                        << hex("01 00 00 00 08 01 02 03 04 05 06 07 08 01 00 00")
                                        << "1h,8,01 02 03 04 05 06 07 08";
        QTest::newRow("missing bytes are 0") << "1h,8,01 02" << hex("01 00 00 00 08 01 02 00 00 00 00 00 00 01 00 00")
                                             << "1h,8,01 02 00 00 00 00 00 00";
        QTest::newRow("extra bytes kept, not written")
            << "1h,2,01 02 03" << hex("01 00 00 00 02 01 02 03 00 00 00 00 00 01 00 00") << "1h,2,01 02";
        QTest::newRow("odd digit count pairs from the end")
            << "1h,2,abc" << hex("01 00 00 00 02 0a bc 00 00 00 00 00 00 01 00 00") << "1h,2,0a bc";
        QTest::newRow("empty time stamp field") << "1h,1,05," << hex("01 00 00 00 01 05 00 00 00 00 00 00 00 01 00 00")
                                                << "1h,1,05";
        QTest::newRow("time stamp 0 sets the flag")
            << "1h,1,05,0" << hex("01 00 00 00 01 05 00 00 00 00 00 00 00 09 00 00") << "1h,1,05";
    }

    void textToRecordAndBack()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, record);
        QFETCH(QString, written);

        QByteArray got;
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(text, got));
        QCOMPARE(got.toHex(' '), record.toHex(' '));
        QString back;
        QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(got, back));
        QCOMPARE(back, written);
        QCOMPARE(ZorBabelFish::fromQbytearrayToCanIdStr(got), written.section(QLatin1Char(','), 0, 0));
        QCOMPARE(ZorBabelFish::fromQbytearrayToDataStr(got), written.section(QLatin1Char(','), 2, 2));
    }

    void badTextLeavesRecordUntouched_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("identifier") << "xyz,8,00";
        QTest::newRow("length") << "1h,x,00";
        QTest::newRow("no length field") << "1h";
        QTest::newRow("empty") << "";
        QTest::newRow("prefix only") << "ext ,8,00";
        QTest::newRow("time stamp not a number") << "1h,2,01 02,abc";
        QTest::newRow("time stamp too large") << "1h,2,01 02,70000";
        QTest::newRow("negative time stamp") << "1h,2,01 02,-1";
    }

    void badTextLeavesRecordUntouched()
    {
        QFETCH(QString, text);
        QByteArray record("untouched");
        QVERIFY(!ZorBabelFish::fromCanStrToQbytearray(text, record));
        QCOMPARE(record, QByteArray("untouched"));
    }

    void structureToRecord()
    {
        VSCAN_MSG frame;
        frame.Id = 0x7f;
        frame.Size = 4;
        const quint8 data[8] = {1, 2, 3, 4, 0xaa, 0xbb, 0xcc, 0xdd};
        std::copy(data, data + 8, frame.Data);
        frame.Flags = VSCAN_FLAGS_STANDARD | VSCAN_FLAGS_TIMESTAMP;
        frame.Timestamp = 65500;

        QByteArray record;
        QVERIFY(ZorBabelFish::fromVscanToQbytearray(frame, record));
        QCOMPARE(record, hex("7f 00 00 00 04 01 02 03 04 aa bb cc dd 09 ff dc"));
        QString text;
        QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(record, text));
        QCOMPARE(text, QStringLiteral("7fh,4,01 02 03 04,65500"));

        // Reading the text gives the same record but for the bytes beyond
        // the length, which the text does not carry.
        QByteArray reread;
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(text, reread));
        QCOMPARE(reread, hex("7f 00 00 00 04 01 02 03 04 00 00 00 00 09 ff dc"));

        VSCAN_MSG back;
        QVERIFY(ZorBabelFish::fromQbytearrayToVscan(record, back));
        QCOMPARE(back.Id, frame.Id);
        QCOMPARE(back.Size, frame.Size);
        QVERIFY(std::equal(back.Data, back.Data + 8, frame.Data));
        QCOMPARE(back.Flags, frame.Flags);
        QCOMPARE(back.Timestamp, frame.Timestamp);
    }

    void writtenTimeStampAndFlags_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("stamp");
        QTest::addColumn<QString>("text");

        QTest::newRow("flag without stamp") << int(VSCAN_FLAGS_TIMESTAMP) << 1 << 0 << "5h,1,01";
        QTest::newRow("stamp without flag") << 0 << 1 << 7 << "5h,1,01,7";
        QTest::newRow("echo bit not written") << int(ZOR_FLAGS_ECHO | VSCAN_FLAGS_EXTENDED) << 1 << 0
                                              << "ext 5h,1,01";
        QTest::newRow("standard flag not consulted")
            << int(VSCAN_FLAGS_STANDARD | VSCAN_FLAGS_EXTENDED) << 0 << 0 << "ext 5h,0,";
        QTest::newRow("length 127 shows eight") << 0 << 127 << 0 << "5h,127,01 02 03 04 05 06 07 08";
        QTest::newRow("length 128 shows none") << 0 << 128 << 0 << "5h,128,";
    }

    void writtenTimeStampAndFlags()
    {
        QFETCH(int, flags);
        QFETCH(int, size);
        QFETCH(int, stamp);
        QFETCH(QString, text);
        VSCAN_MSG frame;
        frame.Id = 5;
        frame.Size = quint8(size);
        for (int i = 0; i < 8; ++i)
            frame.Data[i] = quint8(i + 1);
        frame.Flags = quint8(flags);
        frame.Timestamp = quint16(stamp);
        QByteArray record;
        ZorBabelFish::fromVscanToQbytearray(frame, record);
        QString written;
        QVERIFY(ZorBabelFish::fromQbytearrayToCanStr(record, written));
        QCOMPARE(written, text);
    }

    void fieldReaders()
    {
        QByteArray r;
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(QStringLiteral("581h,8,01 00 02 00 a0 b0 c0 d0,1"), r));
        QCOMPARE(ZorBabelFish::fromQbytearrayToDataStr(r), QStringLiteral("01 00 02 00 a0 b0 c0 d0"));
        QCOMPARE(ZorBabelFish::fromQbytearrayToCanId(r), 0x581u);
        QCOMPARE(ZorBabelFish::fromQbytearrayToTimestamp(r), quint16(1));
        QCOMPARE(ZorBabelFish::fromQbytearrayToFlags(r), quint8(VSCAN_FLAGS_STANDARD | VSCAN_FLAGS_TIMESTAMP));
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(QStringLiteral("581h,8,01 00 02 00 a0 b0 c0 d0"), r));
        QCOMPARE(ZorBabelFish::fromQbytearrayToTimestamp(r), quint16(0));
        QCOMPARE(ZorBabelFish::fromQbytearrayToFlags(r), quint8(VSCAN_FLAGS_STANDARD));
        // The stamp is written high byte first; other arrays stay untouched.
        QVERIFY(ZorBabelFish::setQbytearrayTimestamp(r, 0xbeef));
        QCOMPARE(r.mid(14), QByteArray("\xbe\xef"));
        QCOMPARE(ZorBabelFish::fromQbytearrayToCanId(r), 0x581u);
        QByteArray shortRecord(15, '\0');
        QVERIFY(!ZorBabelFish::setQbytearrayTimestamp(shortRecord, 1));
        QCOMPARE(shortRecord, QByteArray(15, '\0'));

        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(QStringLiteral("581h,8,60 51 1f 01 00 00 00 00"), r));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoCommand(r), quint8(0x60));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoIndex(r), quint16(0x1f51));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoSubindex(r), quint8(1));
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(QStringLiteral("581h,8,60 fd ff fe 00 00 00 00"), r));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoIndex(r), quint16(0xfffd));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoSubindex(r), quint8(0xfe));

        QByteArray data;
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(QStringLiteral("581h,3,60 fd ff fe"), r));
        QVERIFY(ZorBabelFish::fromQbytearrayToDataPart(r, data));
        QCOMPARE(data, hex("60 fd ff"));
        // The data part needs only as many bytes as the length says.
        QVERIFY(ZorBabelFish::fromQbytearrayToDataPart(hex("00 00 00 00 02 aa bb"), data));
        QCOMPARE(data, hex("aa bb"));
        QVERIFY(!ZorBabelFish::fromQbytearrayToDataPart(hex("00 00 00 00 03 aa bb"), data));
        QCOMPARE(data, hex("aa bb"));
    }

    void wrongRecordSize_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("15 bytes") << QByteArray(15, '\x11');
        QTest::newRow("17 bytes") << QByteArray(17, '\x11');
        QTest::newRow("empty") << QByteArray();
    }

    void wrongRecordSize()
    {
        QFETCH(QByteArray, record);
        QString text = QStringLiteral("untouched");
        QVERIFY(!ZorBabelFish::fromQbytearrayToCanStr(record, text));
        QCOMPARE(text, QStringLiteral("untouched"));
        VSCAN_MSG frame;
        frame.Id = 42;
        QVERIFY(!ZorBabelFish::fromQbytearrayToVscan(record, frame));
        QCOMPARE(frame.Id, 42u);
        QCOMPARE(ZorBabelFish::fromQbytearrayToCanId(record), 0u);
        QCOMPARE(ZorBabelFish::fromQbytearrayToFlags(record), quint8(0));
        QCOMPARE(ZorBabelFish::fromQbytearrayToTimestamp(record), quint16(0));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoCommand(record), quint8(0));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoIndex(record), quint16(0));
        QCOMPARE(ZorBabelFish::fromQbytearrayToSdoSubindex(record), quint8(0));
        QCOMPARE(ZorBabelFish::fromQbytearrayToCanIdStr(record), QString());
        QCOMPARE(ZorBabelFish::fromQbytearrayToDataStr(record), QString());
    }

    void dataPartOfText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("data");

        QTest::newRow("eight") << "581h,8,43 00 10 00 92 01 02 00" << true << hex("43 00 10 00 92 01 02 00");
        QTest::newRow("more than eight") << "1h,10,00 01 02 03 04 05 06 07 08 09" << true
                                         << hex("00 01 02 03 04 05 06 07 08 09");
        QTest::newRow("none") << "1h,0," << true << QByteArray();
        QTest::newRow("count differs") << "581h,4,01 02 03" << false << QByteArray();
        QTest::newRow("length not a number") << "581h,x," << false << QByteArray();
        QTest::newRow("no length") << "581h" << false << QByteArray();
    }

    void dataPartOfText()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QByteArray, data);
        QByteArray got("untouched");
        QCOMPARE(ZorBabelFish::fromCanStrToDataPart(text, got), ok);
        QCOMPARE(got, ok ? data : QByteArray("untouched"));
    }

    void dataPartReaders()
    {
        const QByteArray bytes = hex("00 01 03 02 09 08 07 06");
        quint32 u32 = 1;
        QVERIFY(ZorBabelFish::fromDataPartToUnsigned32(bytes, u32, 4));
        QCOMPARE(u32, 0x06070809u);
        u32 = 1;
        QVERIFY(!ZorBabelFish::fromDataPartToUnsigned32(bytes, u32, 5));
        QVERIFY(!ZorBabelFish::fromDataPartToUnsigned32(bytes, u32, -1));
        QCOMPARE(u32, 1u);

        const QByteArray minimum = hex("00 80 00 80 00 00 00 80");
        qint32 i32 = 0;
        QVERIFY(ZorBabelFish::fromDataPartToInteger32(minimum, i32, 4));
        QCOMPARE(i32, std::numeric_limits<qint32>::min());
        quint16 u16 = 0;
        QVERIFY(ZorBabelFish::fromDataPartToUnsigned16(minimum, u16, 2));
        QCOMPARE(u16, quint16(0x8000));
        qint16 i16 = 0;
        QVERIFY(ZorBabelFish::fromDataPartToInteger16(minimum, i16, 0));
        QCOMPARE(i16, qint16(-32768));
        QVERIFY(!ZorBabelFish::fromDataPartToInteger16(minimum, i16, 7));
        quint8 u8 = 0;
        QVERIFY(ZorBabelFish::fromDataPartToUnsigned8(minimum, u8, 1));
        QCOMPARE(u8, quint8(0x80));
        qint8 i8 = 0;
        QVERIFY(ZorBabelFish::fromDataPartToInteger8(minimum, i8, 7));
        QCOMPARE(i8, qint8(-128));
        QVERIFY(!ZorBabelFish::fromDataPartToInteger8(minimum, i8, 8));
    }
};

ZOR_TEST(TestCanFrame)
#include "tst_canframe.moc"
