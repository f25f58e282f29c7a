// Number texts, data-object ids, CANopen names, model-index keys and time
// rounding of ZorBabelFish.
#include "zorbabelfish.h"
#include "zortest.h"

#include <QStandardItemModel>
#include <QtTest>

class TestBabelFish : public QObject
{
    Q_OBJECT

    enum Reader { Long, ULong, Short, UShort, Byte, UByte };

    static qint64 read(int reader, const QString &text, bool *ok)
    {
        switch (reader) {
        case Long: return ZorBabelFish::stringToLong(text, ok);
        case ULong: return ZorBabelFish::stringToULong(text, ok);
        case Short: return ZorBabelFish::stringToShort(text, ok);
        case UShort: return ZorBabelFish::stringToUShort(text, ok);
        case Byte: return ZorBabelFish::stringToByte(text, ok);
        default: return ZorBabelFish::stringToUByte(text, ok);
        }
    }

private slots:
    void numberReaders_data()
    {
        QTest::addColumn<int>("reader");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<bool>("ok");

        QTest::newRow("binary byte") << int(UByte) << "0b01000100" << qint64(0x44) << true;
        QTest::newRow("binary ushort") << int(UShort) << "0b1111111101000100" << qint64(0xff44) << true;
        QTest::newRow("binary short") << int(Short) << "0b1111111101000100" << qint64(-188) << true;
        QTest::newRow("binary ulong") << int(ULong) << "0b11111111010001001111111101000100"
                                      << qint64(0xff44ff44) << true;
        QTest::newRow("suffix beats 0b") << int(ULong) << "0bf81234h" << qint64(0x0bf81234) << true;
        QTest::newRow("suffix hex") << int(ULong) << "fbf81234h" << qint64(0xfbf81234) << true;
        QTest::newRow("0bf8h") << int(UShort) << "0bf8h" << qint64(0x0bf8) << true;
        QTest::newRow("0bh") << int(UByte) << "0bh" << qint64(0x0b) << true;
        QTest::newRow("upper-case digits") << int(ULong) << "0xABCdef" << qint64(0xabcdef) << true;
        QTest::newRow("upper-case suffix") << int(ULong) << "FFH" << qint64(0xff) << true;
        QTest::newRow("upper-case prefix") << int(ULong) << "0X10" << qint64(0x10) << true;
        QTest::newRow("upper-case suffix 10H") << int(UShort) << "10H" << qint64(0x10) << true;
        QTest::newRow("upper-case binary") << int(UByte) << "0B101" << qint64(5) << true;
        QTest::newRow("upper-case signed") << int(Long) << "0XFFFFFFFF" << qint64(-1) << true;
        QTest::newRow("long -1") << int(Long) << "0xffffffff" << qint64(-1) << true;
        QTest::newRow("long min") << int(Long) << "0x80000000" << qint64(-2147483648LL) << true;
        QTest::newRow("long max") << int(Long) << "0x7fffffff" << qint64(2147483647) << true;
        QTest::newRow("long keeps low 32 bits") << int(Long) << "1ffffffffh" << qint64(-1) << true;
        QTest::newRow("short -1") << int(Short) << "0xffff" << qint64(-1) << true;
        QTest::newRow("short min") << int(Short) << "0x8000" << qint64(-32768) << true;
        QTest::newRow("short max") << int(Short) << "0x7fff" << qint64(32767) << true;
        QTest::newRow("byte -1") << int(Byte) << "0xff" << qint64(-1) << true;
        QTest::newRow("byte min") << int(Byte) << "0x80" << qint64(-128) << true;
        QTest::newRow("byte max") << int(Byte) << "0x7f" << qint64(127) << true;
        QTest::newRow("byte low bits") << int(Byte) << "0x101" << qint64(1) << true;
        QTest::newRow("decimal trimmed") << int(Long) << "  -2000 \t" << qint64(-2000) << true;
        QTest::newRow("decimal long min") << int(Long) << "-2147483648" << qint64(-2147483648LL) << true;
        QTest::newRow("decimal ulong max") << int(ULong) << "4294967295" << qint64(4294967295LL) << true;

        // Malformed or out of range: 0 and ok false, never a silent 0.
        QTest::newRow("decimal long overflow") << int(Long) << "4294967295" << qint64(0) << false;
        QTest::newRow("decimal ulong overflow") << int(ULong) << "4294967296" << qint64(0) << false;
        QTest::newRow("hex ulong overflow") << int(ULong) << "0x100000000" << qint64(0) << false;
        QTest::newRow("hex past 64 bits signed") << int(Long) << "0x8000000000000000" << qint64(0) << false;
        QTest::newRow("negative unsigned") << int(ULong) << "-1" << qint64(0) << false;
        QTest::newRow("empty") << int(Long) << "" << qint64(0) << false;
        QTest::newRow("blank") << int(ULong) << "   " << qint64(0) << false;
        QTest::newRow("suffix alone") << int(ULong) << "h" << qint64(0) << false;
        QTest::newRow("prefix alone") << int(ULong) << "0x" << qint64(0) << false;
        QTest::newRow("binary prefix alone") << int(ULong) << "0b" << qint64(0) << false;
        QTest::newRow("bad binary digit") << int(ULong) << "0b102" << qint64(0) << false;
        QTest::newRow("hex without marker") << int(Long) << "12ab" << qint64(0) << false;
        QTest::newRow("inner blank") << int(Long) << "1 2" << qint64(0) << false;
        QTest::newRow("blank after prefix") << int(ULong) << "0x ff" << qint64(0) << false;
        QTest::newRow("double prefix") << int(ULong) << "0x0xff" << qint64(0) << false;
        QTest::newRow("signed hex") << int(Long) << "-ffh" << qint64(0) << false;
        QTest::newRow("short of garbage") << int(Short) << "zz" << qint64(0) << false;
        QTest::newRow("ubyte of garbage") << int(UByte) << "12x" << qint64(0) << false;
    }

    void numberReaders()
    {
        QFETCH(int, reader);
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        QFETCH(bool, ok);
        bool gotOk = !ok;
        QCOMPARE(read(reader, text, &gotOk), expected);
        QCOMPARE(gotOk, ok);
        QCOMPARE(read(reader, text, nullptr), expected);
    }

    void numberWriters_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("dataType");
        QTest::addColumn<QString>("expected");

        QTest::newRow("bits int8") << true << 0x44 << 2 << "01000100";
        QTest::newRow("bits uint16") << true << 0xff44 << 6 << "1111111101000100";
        QTest::newRow("bits uint32") << true << int(0xff44ff44) << 7 << "11111111010001001111111101000100";
        QTest::newRow("bits cut to width") << true << -1 << 5 << "11111111";
        QTest::newRow("hex int16 negative") << false << -188 << 3 << "ff44";
        QTest::newRow("hex uint32") << false << int(0xfbf81234) << 7 << "fbf81234";
        QTest::newRow("hex int32 negative") << false << -67628492 << 4 << "fbf81234";
        QTest::newRow("hex padded") << false << 5 << 6 << "0005";
        QTest::newRow("hex other type is 8") << false << 0x12 << 9 << "00000012";
    }

    void numberWriters()
    {
        QFETCH(bool, binary);
        QFETCH(int, value);
        QFETCH(int, dataType);
        QFETCH(QString, expected);
        QCOMPARE(binary ? ZorBabelFish::fromCanValueToBitStr(value, dataType)
                        : ZorBabelFish::fromCanValueToHexStr(value, dataType),
                 expected);
    }

    void bitRateShorthand_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("number");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("written"); // "" when it does not write back as text

        QTest::newRow("500K") << "500K" << 500000u << true << "500K";
        QTest::newRow("1M") << "1M" << 1000000u << true << "1M";
        QTest::newRow("1K") << "1K" << 1000u << true << "1K";
        QTest::newRow("plain") << "125" << 125u << true << "125";
        QTest::newRow("thousand million") << "1000M" << 1000000000u << true << "1000M";
        QTest::newRow("lower case, blanks") << " 125k " << 125000u << true << "";
        QTest::newRow("zero") << "0" << 0u << true << "0";
        QTest::newRow("not a number") << "fast" << 0u << false << "";
        QTest::newRow("fraction") << "1.5M" << 0u << false << "";
        QTest::newRow("too large") << "5000000K" << 0u << false << "";
        QTest::newRow("empty") << "" << 0u << false << "";
    }

    void bitRateShorthand()
    {
        QFETCH(QString, text);
        QFETCH(uint, number);
        QFETCH(bool, ok);
        QFETCH(QString, written);
        bool gotOk = !ok;
        QCOMPARE(ZorBabelFish::fromSuffixedStrToNumber(text, &gotOk), number);
        QCOMPARE(gotOk, ok);
        if (!written.isEmpty())
            QCOMPARE(ZorBabelFish::fromNumberToSuffixedStr(number), written);
    }

    void dataObjectIds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("shape");
        QTest::addColumn<bool>("reads");
        QTest::addColumn<uint>("node");
        QTest::addColumn<uint>("index");
        QTest::addColumn<uint>("subIndex");
        QTest::addColumn<QString>("sdo");

        QTest::newRow("small") << "001.0002h.03h" << true << true << 1u << 2u << 3u << "1,0002h,03h";
        QTest::newRow("wide node") << "123456789.ffffh.feh" << true << true << 123456789u << 65535u
                                   << 254u << "123456789,ffffh,feh";
        QTest::newRow("sdo") << "005.108fh.feh" << true << true << 5u << 0x108fu << 0xfeu << "5,108fh,feh";
        QTest::newRow("two-digit node") << "00.0002h.03h" << false << false << 0u << 2u << 3u << "";
        QTest::newRow("commas") << "001,0002h,03h" << false << false << 0u << 0u << 0u << "";
        // Right shape, but no numbers in it: not an id.
        QTest::newRow("garbage pieces") << "abc.zzzzh.qqh" << true << false << 0u << 0u << 0u
                                        << "0,zzzzh,qqh";
    }

    void dataObjectIds()
    {
        QFETCH(QString, text);
        QFETCH(bool, shape);
        QFETCH(bool, reads);
        QFETCH(uint, node);
        QFETCH(uint, index);
        QFETCH(uint, subIndex);
        QFETCH(QString, sdo);

        QCOMPARE(ZorBabelFish::isDataObjectId(text), shape);
        quint32 n = 99;
        quint16 i = 99;
        quint8 s = 99;
        QCOMPARE(ZorBabelFish::fromDataObjectId(text, n, i, s), reads);
        if (reads) {
            QCOMPARE(n, node);
            QCOMPARE(uint(i), index);
            QCOMPARE(uint(s), subIndex);
            QCOMPARE(ZorBabelFish::dataObjectId(n, i, s), text);
        }
        if (!sdo.isEmpty()) {
            bool ok = !reads;
            QCOMPARE(ZorBabelFish::fromDataObjectIdToSdoString(text, &ok), sdo);
            QCOMPARE(ok, reads);
        }
    }

    void dataObjectIdWriting()
    {
        QCOMPARE(ZorBabelFish::dataObjectId(1, 2, 3), QStringLiteral("001.0002h.03h"));
        QCOMPARE(ZorBabelFish::dataObjectId(47, 0x60ff, 0), QStringLiteral("047.60ffh.00h"));
    }

    void canOpenNames_data()
    {
        QTest::addColumn<bool>("dataType");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");

        QTest::newRow("type 7") << true << "7" << "UNSIGNED32";
        QTest::newRow("type 0x0007") << true << "0x0007" << "UNSIGNED32";
        QTest::newRow("type 1") << true << "1" << "BOOLEAN";
        QTest::newRow("type 14") << true << "14" << "reserved";
        QTest::newRow("type 15") << true << "fh" << "DOMAIN";
        QTest::newRow("type 10h") << true << "16" << "INTEGER24";
        QTest::newRow("type 1Ah") << true << "1Ah" << "UNSIGNED56";
        QTest::newRow("type 1Bh") << true << "0x1B" << "UNSIGNED64";
        QTest::newRow("type 1Ch") << true << "0x1C" << "";
        QTest::newRow("type 0") << true << "0" << "";
        QTest::newRow("type garbage") << true << "seven" << "";
        QTest::newRow("type low 16 bits") << true << "0x10007" << "UNSIGNED32";
        QTest::newRow("code 0") << false << "0" << "NULL";
        QTest::newRow("code 1") << false << "1" << "";
        QTest::newRow("code 9") << false << "9" << "RECORD";
        QTest::newRow("code 7") << false << "7h" << "VAR";
        QTest::newRow("code garbage") << false << "x" << "";
    }

    void canOpenNames()
    {
        QFETCH(bool, dataType);
        QFETCH(QString, code);
        QFETCH(QString, name);
        QCOMPARE(dataType ? ZorBabelFish::dataTypeName(code) : ZorBabelFish::objectCodeName(code), name);
    }

    // Values with the separators of list lines travel as quoted fields and
    // read back as they were; unquoted texts read as they always did.
    void quotedFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("interviewField");

        QTest::newRow("plain") << "Pump 2" << "Pump 2" << "Pump 2";
        QTest::newRow("hash") << "Pump #2" << "\"Pump #2\"" << "\"Pump #2\"";
        QTest::newRow("comma") << "Motor, 24V" << "\"Motor, 24V\"" << "\"Motor, 24V\"";
        QTest::newRow("semicolon") << "a;b" << "a;b" << "a;b";
        QTest::newRow("colon") << "12:30" << "12:30" << "\"12:30\"";
        QTest::newRow("quotes") << "say \"hi\"" << "\"say \"\"hi\"\"\"" << "\"say \"\"hi\"\"\"";
        QTest::newRow("edge blanks") << " x " << "\" x \"" << "\" x \"";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Grüße 25°C") << QString::fromUtf8("Grüße 25°C")
                                   << QString::fromUtf8("Grüße 25°C");
        QTest::newRow("empty") << "" << "" << "";
    }
    void quotedFields()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QFETCH(QString, interviewField);
        QCOMPARE(ZorBabelFish::quoteField(text), field);
        QCOMPARE(ZorBabelFish::quoteField(text, true), interviewField);
        QCOMPARE(ZorBabelFish::unquoteField(field), text);
        QCOMPARE(ZorBabelFish::unquoteField(interviewField), text);

        // Inside a line: the fields and the comment come out whole.
        const QString line = "001.2006h.00h,visible_string," + field + " # Name, with \"comma\"";
        const int hash = ZorBabelFish::indexOutsideQuotes(line, '#');
        QCOMPARE(line.mid(hash), QStringLiteral("# Name, with \"comma\""));
        const QStringList fields = ZorBabelFish::splitOutsideQuotes(line.left(hash).trimmed(), ',');
        QCOMPARE(fields.size(), 3);
        QCOMPARE(ZorBabelFish::unquoteField(fields.at(2)), text);
        const QString interview = "SDOWriteObject:1000:1:1,2006h,00h,visible_string," + interviewField + ":1,2006h,0h,ok";
        const QStringList parts = ZorBabelFish::splitOutsideQuotes(interview, ':');
        QCOMPARE(parts.size(), 5);
        QCOMPARE(parts.at(4), QStringLiteral("1,2006h,0h,ok"));
    }

    void unquotedTextsReadAsBefore()
    {
        // A quote that does not open a field is a plain character.
        QCOMPARE(ZorBabelFish::splitOutsideQuotes("a,5\" screen,b", ','), QStringList({"a", "5\" screen", "b"}));
        QCOMPARE(ZorBabelFish::indexOutsideQuotes("5\" # size", '#'), 3);
        QCOMPARE(ZorBabelFish::unquoteField(" plain "), QStringLiteral(" plain "));
        // An unclosed quote runs to the end of the text.
        QCOMPARE(ZorBabelFish::indexOutsideQuotes("a,\"b # c", '#'), -1);
        QCOMPARE(ZorBabelFish::unquoteField("\"b # c"), QStringLiteral("b # c"));
    }

    void modelIndexKeys()
    {
        // Four levels: the deepest item sits at row 2/col 1 under row 1/col 0
        // under row 0/col 1 under top-level row 2/col 0.
        QStandardItemModel model;
        model.setColumnCount(2);
        for (int r = 0; r < 3; ++r)
            model.appendRow({new QStandardItem(QStringLiteral("t%1").arg(r)), new QStandardItem});
        QStandardItem *level1 = new QStandardItem(QStringLiteral("l1"));
        model.item(2, 0)->appendRow({new QStandardItem, level1});
        QStandardItem *level2 = new QStandardItem(QStringLiteral("l2"));
        level1->appendRow({new QStandardItem, new QStandardItem});
        level1->appendRow({level2, new QStandardItem});
        QStandardItem *level3 = new QStandardItem(QStringLiteral("l3"));
        level2->appendRow({new QStandardItem, new QStandardItem});
        level2->appendRow({new QStandardItem, new QStandardItem});
        level2->appendRow({new QStandardItem, level3});

        QCOMPARE(ZorBabelFish::fromModelIndexToKey(model.index(2, 0)), QStringLiteral("MIDX-2-0"));
        QCOMPARE(ZorBabelFish::fromModelIndexToKey(level2->index()), QStringLiteral("MIDX-2-0-0-1-1-0"));

        for (QStandardItem *item : {model.item(2, 0), level1, level2, level3}) {
            const QString key = ZorBabelFish::fromModelIndexToKey(item->index());
            QCOMPARE(ZorBabelFish::fromKeyToModelIndex(&model, key), item->index());
            // The marker is case-sensitive.
            QVERIFY(!ZorBabelFish::fromKeyToModelIndex(&model, key.toLower()).isValid());
        }
        // A trailing odd number is ignored.
        QCOMPARE(ZorBabelFish::fromKeyToModelIndex(&model, QStringLiteral("MIDX-2-0-7")),
                 model.index(2, 0));
        // A level that does not exist names nothing, not an item higher up.
        QVERIFY(!ZorBabelFish::fromKeyToModelIndex(&model, QStringLiteral("MIDX-9-0-1-0")).isValid());
        QVERIFY(!ZorBabelFish::fromKeyToModelIndex(&model, QStringLiteral("MIDX-2-x")).isValid());
        QVERIFY(!ZorBabelFish::fromKeyToModelIndex(&model, QStringLiteral("MIDX-2")).isValid());
        QVERIFY(!ZorBabelFish::fromKeyToModelIndex(nullptr, QStringLiteral("MIDX-2-0")).isValid());
    }

    void roundDateTime_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<int>("period");
        QTest::addColumn<QTime>("up");
        QTest::addColumn<QTime>("down");

        QTest::newRow("quarter second") << QTime(12, 0, 0, 250) << 1000 << QTime(12, 0, 1) << QTime(12, 0, 0);
        QTest::newRow("on the grid") << QTime(12, 0, 0) << 1000 << QTime(12, 0, 0) << QTime(12, 0, 0);
        QTest::newRow("minute grid") << QTime(8, 30, 10) << 60000 << QTime(8, 31) << QTime(8, 30);
        QTest::newRow("no period") << QTime(12, 0, 0, 250) << 0 << QTime(12, 0, 0, 250)
                                   << QTime(12, 0, 0, 250);
    }

    void roundDateTime()
    {
        QFETCH(QTime, time);
        QFETCH(int, period);
        QFETCH(QTime, up);
        QFETCH(QTime, down);
        const QDate day(2023, 6, 15);
        const QDateTime t(day, time);
        QCOMPARE(ZorBabelFish::roundDateTime(t, period, true), QDateTime(day, up));
        QCOMPARE(ZorBabelFish::roundDateTime(t, period, false), QDateTime(day, down));
    }
};

ZOR_TEST(TestBabelFish)
#include "tst_babelfish.moc"
