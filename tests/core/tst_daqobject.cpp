// Monitoring-list entries: their one-line text form read and written back.
#include "zordaqobject.h"
#include "zortest.h"

#include <QtTest>

class TestDaqObject : public QObject
{
    Q_OBJECT
private slots:
    void linesReadAndWriteBack_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("written");
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("interval");
        QTest::newRow("software") << "001.6064h.00h,pos,integer32,Software,250,1"
                                  << "001.6064h.00h,pos,integer32,Software,250,1" << 1 << 250;
        QTest::newRow("method number") << "001.6064h.00h,pos,integer32,1,100"
                                       << "001.6064h.00h,pos,integer32,Software,100" << 1 << 100;
        QTest::newRow("pdo length to type") << "001.6064h.00h,pos,integer32,TPDO1.0.3,100"
                                            << "001.6064h.00h,pos,integer32,TPDO1.0.4,100" << 2 << 100;
        QTest::newRow("pdo past the frame") << "001.6064h.00h,pos,integer32,RPDO1.7.4,100"
                                            << "001.6064h.00h,pos,integer32,RPDO1.7.1,100" << 3 << 100;
        QTest::newRow("interval clamped") << "002.2000h.00h,x,unsigned8,off,20"
                                          << "002.2000h.00h,x,unsigned8,Off,50" << 0 << 50;
        QTest::newRow("a number is no method") << "001.6064h.00h,pos,integer32,2,100"
                                               << "001.6064h.00h,pos,integer32,Software,100" << 1 << 100;
        QTest::newRow("interval not a number") << "002.2000h.00h,x,unsigned8,hardware,abc,2"
                                               << "002.2000h.00h,x,unsigned8,Hardware,50,0" << 4 << 50;
    }

    void linesReadAndWriteBack()
    {
        QFETCH(QString, line);
        QFETCH(QString, written);
        QFETCH(int, method);
        QFETCH(int, interval);
        const ZorDaqObject entry(line);
        QCOMPARE(entry.toString(), written);
        QCOMPARE(entry.method(), method);
        QCOMPARE(entry.intervalMs(), interval);
        QVERIFY(entry.idValid());
    }

    void fieldsOfAnEntry()
    {
        const ZorDaqObject entry("005.6064h.00h,pos,integer16,TPDO2.6.2,100");
        QCOMPARE(entry.nodeId(), 5);
        QCOMPARE(entry.index(), 0x6064);
        QCOMPARE(entry.typeSize(), 2);
        QVERIFY(!entry.isUnsigned());
        QCOMPARE(entry.pdoNumber(), 2);
        QCOMPARE(entry.pdoByteOffset(), 6);
        QCOMPARE(entry.pdoByteLength(), 2);
        QVERIFY(!ZorDaqObject("005.6064h.00h,pos,integer16,100").idValid());   // four fields
    }

    // Fields are not quoted: a comma or line break of a name would shift the
    // fields after it or split the entry.
    void namesStayInTheirField()
    {
        ZorDaqObject entry;
        entry.setDataObjectId("001.6064h.00h");
        entry.setName("Position, actual\nvalue");
        entry.setDataType("integer32");
        entry.setMonitorMethod("TPDO");
        const QString line = entry.toString();
        QCOMPARE(line, QStringLiteral("001.6064h.00h,Position; actual value,integer32,TPDO1.0.4,100"));
        QCOMPARE(ZorDaqObject(line).toString(), line);
        QCOMPARE(ZorDaqObject::listFromText(line + "\n").size(), 1);
    }

    void listKeepsTheLaterOfTwoLines()
    {
        const auto list = ZorDaqObject::listFromText("001.6064h.00h,a,integer32,1,100\n\n001.6064h.00h,b,integer32,1,200\n");
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.value("001.6064h.00h").name(), QStringLiteral("b"));
        QCOMPARE(ZorDaqObject::listToText(list), QStringLiteral("001.6064h.00h,b,integer32,Software,200\n"));
    }
};

ZOR_TEST(TestDaqObject)
#include "tst_daqobject.moc"
