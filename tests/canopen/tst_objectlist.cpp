// Object lists as text: the interview a list becomes, the result lines an
// answer becomes, and the explained SDO abort codes.
#include "zorobjectlist.h"
#include "zormessage.h"
#include "zortest.h"

#include <QtTest>
#include <limits>

class TestObjectList : public QObject
{
    Q_OBJECT
private slots:
    void interviews_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("nodeId");
        QTest::addColumn<QString>("interview");
        QTest::addColumn<QString>("normalised");
        QTest::addColumn<int>("budget");
        const int w = KM_OBJLIST_WRITE, r = KM_OBJLIST_READ;
        QTest::newRow("access write") << "w,1010h,1h,unsigned32,0x65766173" << w << 5
                                      << "SDOWriteObject:1000:1:5,1010h,1h,unsigned32,0x65766173\n"
                                      << "w,1010h,1h,unsigned32,0x65766173\n" << 4000;
        QTest::newRow("empty access writes") << ",2000h,0h,unsigned8,5" << w << 5
                                             << "SDOWriteObject:1000:1:5,2000h,0h,unsigned8,5\n"
                                             << ",2000h,0h,unsigned8,5\n" << 4000;
        QTest::newRow("id read") << "001.60ffh.00h,integer32" << r << 5
                                 << "SDOReadObject:750:0:1,60ffh,00h,integer32\n" << "001.60ffh.00h,integer32\n"
                                 << 1500;
        QTest::newRow("id read of node 0") << "000.60ffh.00h,integer32, # v" << r << 7
                                           << "SDOReadObject:750:0:7,60ffh,00h,integer32\n"
                                           << "007.60ffh.00h,integer32, # v\n" << 1500;
        QTest::newRow("node 0 stays without NodeId") << "000.60ffh.00h,integer32" << r << 0
                                                     << "SDOReadObject:750:0:0,60ffh,00h,integer32\n"
                                                     << "000.60ffh.00h,integer32\n" << 1500;
        QTest::newRow("id write of node 0") << "000.60ffh.00h,integer32,5" << w << 7
                                            << "SDOWriteObject:1000:1:7,60ffh,00h,integer32,5\n"
                                            << "007.60ffh.00h,integer32,5\n" << 4000;
        // A value is the rest of the command; a text with separators goes on
        // as a quoted field, in the interview also for ":".
        QTest::newRow("unquoted string value keeps its commas")
            << "001.2006h.00h,visible_string,a,b" << w << 1
            << "SDOWriteObject:1000:1:1,2006h,00h,visible_string,\"a,b\"\n"
            << "001.2006h.00h,visible_string,\"a,b\"\n" << 4000;
        QTest::newRow("quoted string value")
            << "001.2006h.00h,visible_string,\"Pump #2, \"\"left\"\"\" # Name" << w << 1
            << "SDOWriteObject:1000:1:1,2006h,00h,visible_string,\"Pump #2, \"\"left\"\"\"\n"
            << "001.2006h.00h,visible_string,\"Pump #2, \"\"left\"\"\" # Name\n" << 4000;
        QTest::newRow("colon quoted for the gateway only")
            << "w,2006h,0h,visible_string,12:30" << w << 5
            << "SDOWriteObject:1000:1:5,2006h,0h,visible_string,\"12:30\"\n"
            << "w,2006h,0h,visible_string,12:30\n" << 4000;
        QTest::newRow("write without value") << "rw,6060h,0h,integer8" << w << 5 << "Wait:0:0\n"
                                             << "rw,6060h,0h,integer8\n" << 2;
        QTest::newRow("id write without value") << "001.6060h.00h,integer8, # mode" << w << 5 << "Wait:0:0\n"
                                                << "001.6060h.00h,integer8, # mode\n" << 2;
        QTest::newRow("write of a read-only line") << "r,6041h,0h,unsigned16" << w << 5 << "Wait:0:0\n"
                                                   << "r,6041h,0h,unsigned16\n" << 2;
        QTest::newRow("read of a write-only line") << "WO,2008h,0h,unsigned32" << r << 5 << "Wait:0:0\n"
                                                   << "WO,2008h,0h,unsigned32\n" << 2;
        QTest::newRow("access read with comment") << "r , 6041h,0h,unsigned16 #  status " << r << 5
                                                  << "SDOReadObject:750:0:5, 6041h,0h,unsigned16\n"
                                                  << "r , 6041h,0h,unsigned16 # status\n" << 1500;
        QTest::newRow("two lines continue on error") << "r,1000h,0h,unsigned32\nr,1001h,0h,unsigned8" << r << 5
                                                     << "OnErrorContinue\nSDOReadObject:750:0:5,1000h,0h,unsigned32\n"
                                                        "SDOReadObject:750:0:5,1001h,0h,unsigned8\n"
                                                     << "r,1000h,0h,unsigned32\nr,1001h,0h,unsigned8\n" << 3000;
        QTest::newRow("empty second line") << "r,1000h,0h,unsigned32\n" << r << 5
                                           << "SDOReadObject:750:0:5,1000h,0h,unsigned32\nWait:0:0\n"
                                           << "r,1000h,0h,unsigned32\n\n" << 1502;
        QTest::newRow("silent marker dropped") << "SilentReadWrite\nr,1000h,0h,unsigned32" << r << 5
                                               << "SDOReadObject:750:0:5,1000h,0h,unsigned32\n"
                                               << "r,1000h,0h,unsigned32\n" << 1500;
        QTest::newRow("StoreCmd") << "storecmd" << w << 5
                                  << "SDOWriteObject:1000:1:5,1010h,1h,unsigned32,0x65766173\n"
                                  << "w,1010h,1h,unsigned32,0x65766173 # StoreCmd\n" << 4000;
        QTest::newRow("ResetCmd loses its comment") << "ResetCmd # mine" << w << 5
                                                    << "SDOWriteObject:1000:1:5,1011h,1h,unsigned32,0x64616f6c\n"
                                                    << "w,1011h,1h,unsigned32,0x64616f6c # ResetCmd\n" << 4000;
    }

    void interviews()
    {
        QFETCH(QString, list);
        QFETCH(int, type);
        QFETCH(int, nodeId);
        ZorObjectList::Context context;
        context.nodeId = nodeId;
        context.storeCmd = QStringLiteral("w,1010h,1h,unsigned32,0x65766173");
        context.resetCmd = QStringLiteral("w,1011h,1h,unsigned32,0x64616f6c");
        const ZorObjectList::Interview built = ZorObjectList::build(list, type, context);
        QTEST(built.text, "interview");
        QTEST(built.list, "normalised");
        QTEST(built.budgetMs, "budget");
    }

    void results_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("errorTexts");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("failed");
        const int w = KM_OBJLIST_WRITE, r = KM_OBJLIST_READ;
        QTest::newRow("written") << "w,1010h,1h,unsigned32,0x65766173 # StoreCmd\n" << w
                                 << "SDOWriteObject:1000:1:5,1010h,1h,unsigned32,0x65766173:5,1010h,1h,ok"
                                 << int(KS_ANSWER) << ""
                                 << "w,1010h,1h,unsigned32,0x65766173, # StoreCmd\n" << false;
        QTest::newRow("write aborted") << "005.2007h.00h,unsigned32,1\n" << w
                                       << "SDOWriteObject:1000:1:5,2007h,00h,unsigned32,1:5,2007h,0h,error code 06010002h"
                                       << int(KS_FAIL) << "6010002h,read only\nbit0,no"
                                       << "005.2007h.00h,unsigned32,1,error read only (06010002h)\n" << true;
        QTest::newRow("write not answered") << "w,2000h,0h,unsigned8,1 # x\n" << w
                                            << "SDOWriteObject:1000:1:5,2000h,0h,unsigned8,1" << int(KS_TIMEOUT) << ""
                                            << "w,2000h,0h,unsigned8,1,error: timeout # x\n" << true;
        QTest::newRow("read by id") << "001.1000h.00h,unsigned32, # Device Type\n" << r
                                    << "SDOReadObject:750:0:1,1000h,00h,unsigned32:1,1000h,0h,unsigned32,131474"
                                    << int(KS_ANSWER) << "" << "001.1000h.00h,unsigned32,131474 # Device Type\n"
                                    << false;
        QTest::newRow("string value with error in it")
            << "001.2006h.00h,visible_string\n" << r
            << "SDOReadObject:750:0:1,2006h,00h,visible_string:1,2006h,0h,visible_string,error: none, all fine"
            << int(KS_ANSWER) << "" << "001.2006h.00h,visible_string,\"error: none, all fine\"\n" << false;
        QTest::newRow("text read whole") << "001.2006h.00h,visible_string, # Name\n" << r
                                         << "SDOReadObject:750:0:1,2006h,00h,visible_string:1,2006h,0h,"
                                            "visible_string,Pump #2, \"left\""
                                         << int(KS_ANSWER) << ""
                                         << "001.2006h.00h,visible_string,\"Pump #2, \"\"left\"\"\" # Name\n"
                                         << false;
        QTest::newRow("text with colon written")
            << "001.2006h.00h,visible_string,\"a:b, c\" # n\n" << w
            << "SDOWriteObject:1000:1:1,2006h,00h,visible_string,\"a:b, c\":1,2006h,0h,ok" << int(KS_ANSWER) << ""
            << "001.2006h.00h,visible_string,\"a:b, c\", # n\n" << false;
        QTest::newRow("error text with comma quoted")
            << "005.2007h.00h,unsigned32,1\n" << w
            << "SDOWriteObject:1000:1:5,2007h,00h,unsigned32,1:5,2007h,0h,error code 06010002h" << int(KS_FAIL)
            << "bit1,read only\nbit25,wrong, really"
            << "005.2007h.00h,unsigned32,1,\"error read only, wrong, really (06010002h)\"\n" << true;
        QTest::newRow("read aborted") << "001.2008h.00h,unsigned32\n" << r
                                      << "SDOReadObject:750:0:1,2008h,00h,unsigned32:1,2008h,0h,unsigned32,error code 06010001h"
                                      << int(KS_FAIL) << "" << "001.2008h.00h,unsigned32,,error (06010001h)\n" << true;
        QTest::newRow("read by access aborted") << "r,2008h,0h,unsigned32 # wo\n" << r
                                                << "SDOReadObject:750:0:5,2008h,0h,unsigned32:5,2008h,0h,unsigned32,error code 06010001h"
                                                << int(KS_ANSWER) << ""
                                                << "r,2008h,0h,unsigned32,,error (06010001h) # wo\n" << true;
        QTest::newRow("read by access") << "r,1017h,0h,unsigned16\n" << r
                                        << "SDOReadObject:750:0:5,1017h,0h,unsigned16:5,1017h,0h,unsigned16,1000"
                                        << int(KS_ANSWER) << "" << "r,1017h,0h,unsigned16,1000\n" << false;
        QTest::newRow("line timed out at the gateway") << "r,1017h,0h,unsigned16\n" << r
                                                       << "SDOReadObject:750:0:5,1017h,0h,unsigned16:"
                                                       << int(KS_TIMEOUT) << "" << "r,1017h,0h,unsigned16,,timeout\n"
                                                       << true;
        QTest::newRow("wait line") << "r,6041h,0h,unsigned16\n" << w << "Wait:0:0::noresponse" << int(KS_ANSWER) << ""
                                   << "r,6041h,0h,unsigned16\n" << false;
        QTest::newRow("summary line, extra answers dropped")
            << "r,1017h,0h,unsigned16\n" << r
            << "OnErrorContinue:1:0\nSDOReadObject:750:0:5,1017h,0h,unsigned16:5,1017h,0h,unsigned16,7\nWait:0:0::noresponse"
            << int(KS_ANSWER) << "" << "r,1017h,0h,unsigned16,7\n" << false;
        QTest::newRow("fewer answers than lines") << "r,1017h,0h,unsigned16\nr,1000h,0h,unsigned32\n" << r
                                                  << "SDOReadObject:750:0:5,1017h,0h,unsigned16:5,1017h,0h,unsigned16,7"
                                                  << int(KS_ANSWER) << "" << "r,1017h,0h,unsigned16,7\n" << false;
        QTest::newRow("time-out of the list as sent")
            << "r,1017h,0h,unsigned16\nw,1017h,0h,unsigned16,5\n\n" << r
            << "OnErrorContinue\nSDOReadObject:750:0:5,1017h,0h,unsigned16\nSDOReadObject:750:0:5,1017h,0h,unsigned16\nWait:0:0\n"
            << int(KS_TIMEOUT) << "" << "r,1017h,0h,unsigned16,,timeout\nw,1017h,0h,unsigned16,5,timeout\n\n" << true;
    }

    void results()
    {
        QFETCH(QString, list);
        QFETCH(int, type);
        QFETCH(QString, answer);
        QFETCH(int, state);
        QFETCH(QString, errorTexts);
        const ZorObjectList::Result result = ZorObjectList::results(answer, state, list, type, errorTexts);
        QTEST(result.text, "result");
        QTEST(result.failed, "failed");
    }

    // Each write line allows 4000 ms; a list of 540,000 of them is still
    // given a budget, not a negative number (the int sum overflows).
    void budgetOfAHugeList()
    {
        const QString line = QStringLiteral("w,2000h,0h,unsigned8,1\n");
        const ZorObjectList::Interview built =
            ZorObjectList::build(line.repeated(540000), KM_OBJLIST_WRITE, ZorObjectList::Context());
        // 2,160,000,002 ms, kept at what a timer takes (about 24.8 days).
        QCOMPARE(built.budgetMs, std::numeric_limits<int>::max());
    }

    void errorCodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("errorTexts");
        QTest::addColumn<QString>("explained");
        QTest::newRow("two bits") << "error code 00000009h" << "bit0,First\nBIT3 , Fourth\nbit1,Second"
                                  << "error First, Fourth (00000009h)";
        QTest::newRow("no text matches") << "error code 00000009h" << "bit1,Second" << "error (00000009h)";
        QTest::newRow("no texts at all") << "error code 06020000h" << "" << "error (06020000h)";
        QTest::newRow("text before kept") << "SDO error code 06020000h" << "0x06020000,no object"
                                          << "SDO error no object (06020000h)";
        QTest::newRow("decimal key, bit 31") << "error code 80000001h" << "2147483649,whole\nbit31,top"
                                             << "error whole, top (80000001h)";
        QTest::newRow("no code") << "error: timeout" << "bit0,x" << "error: timeout";
    }

    void errorCodes()
    {
        QFETCH(QString, text);
        QFETCH(QString, errorTexts);
        QTEST(ZorObjectList::explainErrorCode(text, errorTexts), "explained");
    }
};

ZOR_TEST(TestObjectList)
#include "tst_objectlist.moc"
