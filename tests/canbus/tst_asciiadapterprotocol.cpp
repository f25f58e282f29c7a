// The ASCII adapter protocol: reply lines to frames, the receiving stream
// (split lines, BEL, flow control, a full array), frame commands and
// bit-rate codes.
#include "zortest.h"
#include "zorasciiadapterprotocol.h"

#include <QtTest>
#include <cstring>

namespace {
enum { Ignored = ZorAsciiAdapterProtocol::LineIgnored, Frame = ZorAsciiAdapterProtocol::LineFrame,
       Status = ZorAsciiAdapterProtocol::LineStatus };

VSCAN_MSG makeFrame(quint32 id, const QByteArray &data, quint8 flags, int size = -1)
{
    VSCAN_MSG f;
    f.Id = id;
    f.Size = quint8(size < 0 ? data.size() : size);
    std::memcpy(f.Data, data.constData(), size_t(qMin(8, int(data.size()))));
    f.Flags = flags;
    return f;
}
}

class TestAsciiAdapterProtocol : public QObject
{
    Q_OBJECT
private slots:
    void replyLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("echoes");
        QTest::addColumn<int>("kind");
        QTest::addColumn<uint>("id");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("stamp"); // time stamp, or the status byte

        QTest::newRow("standard") << QByteArray("t1238aabbccddeeff0011") << false << int(Frame)
                                  << 0x123u << 8 << QByteArray::fromHex("aabbccddeeff0011") << 0x01 << 0;
        QTest::newRow("standard, stamped")
            << QByteArray("t1238aabbccddeeff00112a3f") << false << int(Frame) << 0x123u << 8
            << QByteArray::fromHex("aabbccddeeff0011") << 0x09 << 0x2a3f;
        QTest::newRow("extended") << QByteArray("T1234abcd2a0b0") << false << int(Frame)
                                  << 0x1234abcdu << 2 << QByteArray::fromHex("a0b0") << 0x02 << 0;
        QTest::newRow("upper-case digits") << QByteArray("T1234ABCD2A0B0") << false << int(Frame)
                                           << 0x1234abcdu << 2 << QByteArray::fromHex("a0b0")
                                           << 0x02 << 0;
        QTest::newRow("no data") << QByteArray("t7000") << false << int(Frame) << 0x700u << 0
                                 << QByteArray() << 0x01 << 0;
        QTest::newRow("remote, length 0") << QByteArray("r7ff0") << false << int(Frame) << 0x7ffu
                                          << 0 << QByteArray() << 0x05 << 0;
        QTest::newRow("remote, stamped") << QByteArray("r12302a3f") << false << int(Frame)
                                         << 0x123u << 0 << QByteArray() << 0x0d << 0x2a3f;
        // A remote frame carries no data whatever its length digit says.
        QTest::newRow("remote, length 8") << QByteArray("r1238") << false << int(Frame) << 0x123u
                                          << 8 << QByteArray() << 0x05 << 0;
        QTest::newRow("remote, length 8, stamped")
            << QByteArray("r12382a3f") << false << int(Frame) << 0x123u << 8 << QByteArray()
            << 0x0d << 0x2a3f;
        QTest::newRow("extended remote") << QByteArray("R1fffffff4") << false << int(Frame)
                                         << 0x1fffffffu << 4 << QByteArray() << 0x06 << 0;
        QTest::newRow("echo") << QByteArray("et1232aabb") << true << int(Frame) << 0x123u << 2
                              << QByteArray::fromHex("aabb") << 0x81 << 0;
        QTest::newRow("echo, extended remote")
            << QByteArray("eR000001002") << true << int(Frame) << 0x100u << 2 << QByteArray()
            << 0x86 << 0;
        QTest::newRow("echo not accepted") << QByteArray("et1232aabb") << false << int(Ignored)
                                           << 0u << 0 << QByteArray() << 0 << 0;
        QTest::newRow("status") << QByteArray("F08") << false << int(Status) << 0u << 0
                                << QByteArray() << 0 << 0x08;
        QTest::newRow("status, echo driver") << QByteArray("Fa4") << true << int(Status) << 0u << 0
                                             << QByteArray() << 0 << 0xa4;

        const auto ignored = [](const char *name, const char *line) {
            QTest::newRow(name) << QByteArray(line) << true << int(Ignored) << 0u << 0
                                << QByteArray() << 0 << 0;
        };
        ignored("length 9", "t12391122");
        ignored("one byte for length 2", "t1232aa");
        ignored("odd digit count", "t1232aab");
        ignored("a byte too many, no stamp", "t1232aabbcc");
        ignored("remote with data bytes", "r12381122334455667788");
        ignored("identifier not hex", "t12g2aabb");
        ignored("length not hex", "t123xaabb");
        ignored("extended identifier cut short", "T1234abc");
        ignored("bad status", "Fzz");
        ignored("short status", "F8");
        ignored("unknown kind", "x1232aabb");
        ignored("bare echo mark", "e");
        ignored("version reply", "V1013");
    }
    void replyLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, echoes);
        QFETCH(int, kind);
        VSCAN_MSG frame;
        frame.Id = 0xeeeeeeee;
        quint8 status = 0;
        QCOMPARE(int(ZorAsciiAdapterProtocol::parseLine(line, echoes, frame, status)), kind);
        if (kind == Status) {
            QFETCH(int, stamp);
            QCOMPARE(int(status), stamp);
        }
        if (kind != Frame)
            return;
        QFETCH(uint, id);
        QFETCH(int, size);
        QFETCH(QByteArray, data);
        QFETCH(int, flags);
        QFETCH(int, stamp);
        QCOMPARE(frame.Id, quint32(id));
        QCOMPARE(int(frame.Size), size);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame.Data), 8),
                 data + QByteArray(8 - data.size(), '\0'));
        QCOMPARE(int(frame.Flags), flags);
        QCOMPARE(int(frame.Timestamp), stamp);
    }

    void stream()
    {
        ZorAsciiAdapterProtocol rx;
        rx.setAcceptEchoes(true);
        rx.setFlowControl(true);
        rx.setCommandErrorBit(0x100);
        VSCAN_MSG frames[4];
        int count = 0;
        quint32 status = 0;

        // A line split across reads is parsed once its CR arrives.
        QCOMPARE(rx.feed("t1232aa", frames, 4, count, status), 0);
        QCOMPARE(rx.feed("bb", frames, 4, count, status), 0);
        QCOMPARE(rx.feed("\rt45", frames, 4, count, status), 1);
        QCOMPARE(frames[0].Id, 0x123u);
        QCOMPARE(frames[0].Data[1], quint8(0xbb));
        QCOMPARE(rx.pendingText(), QByteArray("t45"));

        // BEL ends the pending line like CR and sets the command-error bit.
        QCOMPARE(rx.feed("61cc\x07t7000\rF04\r", frames, 4, count, status), 2);
        QCOMPARE(frames[1].Id, 0x456u);
        QCOMPARE(frames[2].Id, 0x700u);
        QCOMPARE(status, quint32(0x100 | 0x04));
        QVERIFY(rx.pendingText().isEmpty());

        // XOFF and XON end lines too and gate sending.
        QVERIFY(rx.transmitAllowed());
        QCOMPARE(rx.feed("t1000\x13", frames, 4, count, status), 1);
        QVERIFY(!rx.transmitAllowed());
        QCOMPARE(rx.feed("\x11", frames, 4, count, status), 0);
        QVERIFY(rx.transmitAllowed());

        // The array is full: further frames are dropped with bit 0x1.
        QCOMPARE(count, 4);
        QCOMPARE(rx.feed("t2000\r", frames, 4, count, status), 0);
        QVERIFY(status & 0x1);
        QCOMPARE(frames[3].Id, 0x100u);
    }

    // A driver that reads a stream at its own pace loses nothing to a full
    // array: the lines that did not fit wait for the next feed.
    void keepWhenFull()
    {
        ZorAsciiAdapterProtocol rx;
        rx.setKeepWhenFull(true);
        VSCAN_MSG frames[2];
        int count = 0;
        quint32 status = 0;
        QCOMPARE(rx.feed("t1000\rt2000\rF01\rt3000\rt40", frames, 2, count, status), 2);
        QCOMPARE(status, 0u);
        QVERIFY(rx.hasCompleteLine());
        count = 0;
        QCOMPARE(rx.feed("00\r", frames, 2, count, status), 2);
        QCOMPARE(frames[0].Id, 0x300u);
        QCOMPARE(frames[1].Id, 0x400u);
        QCOMPARE(status, 0x01u); // the status reply, not an overflow
        QVERIFY(!rx.hasCompleteLine());
    }

    void withoutFlowControlXonIsNoLineEnd()
    {
        ZorAsciiAdapterProtocol rx;
        VSCAN_MSG frames[2];
        int count = 0;
        quint32 status = 0;
        QCOMPARE(rx.feed("t1000\x11t2000\r", frames, 2, count, status), 0);
        QCOMPARE(rx.feed("et1000\r", frames, 2, count, status), 0); // echoes not accepted
    }

    // A line longer than any the adapter sends is dropped up to its CR:
    // however the bytes are split into reads, no frame is made from its
    // middle, the next line parses, and the unparsed tail stays bounded.
    void overlongLinesGiveNoFrame_data()
    {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QList<quint32>>("ids");
        const QByteArray garbage(1100, 'x');
        const QByteArray hidden = "t7ff80102030405060708\r";
        QTest::newRow("one read") << QList<QByteArray>{garbage + hidden} << QList<quint32>{};
        QTest::newRow("two reads") << QList<QByteArray>{garbage, hidden} << QList<quint32>{};
        QTest::newRow("byte by byte past the limit")
            << QList<QByteArray>{garbage.left(1025), garbage.mid(1025), "t7ff1", "aa\r"}
            << QList<quint32>{};
        QTest::newRow("overlong frame line")
            << QList<QByteArray>{"t7ff8" + QByteArray(1100, '0'), "0102030405060708\r"}
            << QList<quint32>{};
        QTest::newRow("next line parses")
            << QList<QByteArray>{garbage, hidden + "t1230\r"} << QList<quint32>{0x123};
        QTest::newRow("BEL ends the overlong line")
            << QList<QByteArray>{garbage, "x\x07t1230\r"} << QList<quint32>{0x123};
        QTest::newRow("long but within the limit")
            << QList<QByteArray>{"\r" + QByteArray(1000, 'x'), "\rt1230\r"} << QList<quint32>{0x123};
    }
    void overlongLinesGiveNoFrame()
    {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<quint32>, ids);
        ZorAsciiAdapterProtocol rx;
        VSCAN_MSG frames[4];
        int count = 0;
        quint32 status = 0;
        for (const QByteArray &read : reads) {
            rx.feed(read, frames, 4, count, status);
            QVERIFY(rx.pendingText().size() <= ZorAsciiAdapterProtocol::MaxPendingText);
        }
        QList<quint32> got;
        for (int i = 0; i < count; ++i)
            got << frames[i].Id;
        QCOMPARE(got, ids);

        // A reset forgets the dropped line: what follows is a line of its own.
        rx.feed(QByteArray(2000, 'x'), frames, 4, count, status);
        rx.reset();
        count = 0;
        QCOMPARE(rx.feed("t4560\r", frames, 4, count, status), 1);
    }

    void frameCommand_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("remoteData");
        QTest::addColumn<QByteArray>("command");
        const auto row = [](const char *name, const VSCAN_MSG &f, bool remoteData, const char *cmd) {
            QByteArray record;
            ZorBabelFish::fromVscanToQbytearray(f, record);
            QTest::newRow(name) << record << remoteData << QByteArray(cmd);
        };
        row("sdo request", makeFrame(0x601, QByteArray::fromHex("4000100000000000"), 0x01), false,
            "t60184000100000000000\r");
        row("no standard flag", makeFrame(0x7, QByteArray::fromHex("ff"), 0), false, "t0071ff\r");
        row("extended", makeFrame(0x1234abcd, QByteArray::fromHex("a0b0"), 0x02), false,
            "T1234abcd2a0b0\r");
        row("remote", makeFrame(0x123, QByteArray::fromHex("1122"), 0x05), false, "r1232\r");
        row("remote with data", makeFrame(0x123, QByteArray::fromHex("1122"), 0x05), true,
            "r12321122\r");
        row("extended remote", makeFrame(0x100, QByteArray(), 0x06, 8), false, "R000001008\r");
        row("length 9", makeFrame(0x123, QByteArray(8, 0), 0x01, 9), false, "");
        row("identifier beyond 11 bits", makeFrame(0x800, QByteArray(), 0x01), false, "");
        row("identifier beyond 29 bits", makeFrame(0x20000000, QByteArray(), 0x02), false, "");
    }
    void frameCommand()
    {
        QFETCH(QByteArray, record);
        QFETCH(bool, remoteData);
        QFETCH(QByteArray, command);
        VSCAN_MSG f;
        QVERIFY(ZorBabelFish::fromQbytearrayToVscan(record, f));
        QCOMPARE(ZorAsciiAdapterProtocol::frameCommand(f, remoteData), command);
    }

    void bitRateCode_data()
    {
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<int>("code");
        const int exact[][2] = {{20000, 1},  {50000, 2},  {100000, 3}, {125000, 4},
                                {250000, 5}, {500000, 6}, {800000, 7}, {1000000, 8}};
        for (const auto &e : exact)
            QTest::addRow("%d", e[0]) << e[0] << e[1];
        // Rates the adapter cannot run are refused, not rounded to a row.
        for (int rate : {0, 10000, 19999, 33333, 83333, 300000, 999999, 2000000})
            QTest::addRow("%d refused", rate) << rate << -1;
    }
    void bitRateCode()
    {
        QFETCH(int, bitRate);
        QFETCH(int, code);
        QCOMPARE(ZorAsciiAdapterProtocol::bitRateCode(bitRate), code);
        if (code > 0)
            QCOMPARE(ZorAsciiAdapterProtocol::bitRateCommand(code), "S" + QByteArray::number(code) + "\r");
    }
};

ZOR_TEST(TestAsciiAdapterProtocol)
#include "tst_asciiadapterprotocol.moc"
