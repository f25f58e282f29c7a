// Program download as exchanges: what the gateway asks its CAN interface to
// send for a chunk, and how it follows the node's block confirmations. The
// node's answers are written by hand here; the download into simulated nodes
// is tested in tst_canopendownload.
#include "zorsdoblockdownload.h"
#include "zortest.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList linesOf(const QString &exchange)
{
    return exchange.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The exchange as the CAN interface answers it: every line completed, the
// last one with the received frame.
QString answered(const QString &exchange, const QString &frame)
{
    QStringList lines = linesOf(exchange);
    QString &last = lines.last();
    last = last.section(QLatin1Char(':'), 0, 3) + QLatin1Char(':') + frame;
    return lines.join(QLatin1Char('\n'));
}

// The first data byte (command) of the request frame of each line.
QList<int> commands(const QString &exchange)
{
    QList<int> list;
    for (const QString &line : linesOf(exchange))
        list << line.section(QLatin1Char(':'), 3, 3).section(QLatin1Char(','), 2).left(2).toInt(nullptr, 16);
    return list;
}

// The commands of everything a step sends: its plain frames, then its lines.
QList<int> commands(const ZorSdoBlockDownload::Step &step)
{
    QList<int> list;
    for (const QByteArray &record : step.frames)
        list << quint8(record.at(5));
    return list + commands(step.exchange);
}

QString hexOf(int bytes)
{
    QByteArray data;
    for (int i = 0; i < bytes; ++i)
        data += char(i);
    return QString::fromLatin1(data.toHex());
}

} // namespace

class TestSdoBlockDownload : public QObject
{
    Q_OBJECT
private slots:
    // Seven bytes fit one segment and so any block size: initiate, the
    // segment and the end go as one exchange.
    void sevenBytesAreOneExchange()
    {
        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("2,1f50h,1h,b,0,0,01020304050607", error));
        QVERIFY(download.start(exchange, error));
        QCOMPARE(exchange, QStringLiteral(
            "CAN:1000:0:602h,8,c2 50 1f 01 07 00 00 00:582h,8,?? 50 1f 01 ?? ?? ?? ??\n"
            "CAN:1000:0:602h,8,81 01 02 03 04 05 06 07:582h,8,a2 01 ?? ?? ?? ?? ?? ??\n"
            "CAN:1000:0:602h,8,c1 00 00 00 00 00 00 00:582h,8,a1 00 00 00 00 00 00 00\n"));
        QCOMPARE(download.handleAnswer(answered(exchange, "582h,8,a1 00 00 00 00 00 00 00"), true).outcome,
                 ZorSdoBlockDownload::Step::Finished);
    }

    // The node chooses the block size, and may choose anew in every
    // confirmation; segments it did not take are sent again, numbered from 1.
    void blocksFollowTheNodesConfirmations()
    {
        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("1,1f50h,1h,b,0,0," + hexOf(70), error));   // ten segments
        QVERIFY(download.start(exchange, error));
        QCOMPARE(linesOf(exchange).size(), 1);

        ZorSdoBlockDownload::Step step = download.handleAnswer(answered(exchange, "581h,8,a0 50 1f 01 04 00 00 00"), true);
        QCOMPARE(commands(step), QList<int>({1, 2, 3, 4}));
        // Only the block's last segment waits, for the node's confirmation.
        QCOMPARE(step.exchange, QStringLiteral("CAN:1000:0:601h,8,04 15 16 17 18 19 1a 1b:581h,8,a2 ?? ?? ?? ?? ?? ?? ??\n"));
        QCOMPARE(step.frames.first(), QByteArray::fromHex("01060000" "08" "0100010203040506" "01" "0000"));

        // Segments 1..3 taken, 4 lost; next block of two.
        step = download.handleAnswer(answered(step.exchange, "581h,8,a2 03 02 00 00 00 00 00"), true);
        QCOMPARE(commands(step), QList<int>({1, 2}));
        QCOMPARE(step.frames.first().mid(5, 8), QByteArray::fromHex("01151617 18191a1b"));   // the 4th again

        step = download.handleAnswer(answered(step.exchange, "581h,8,a2 02 7f 00 00 00 00 00"), true);
        QCOMPARE(commands(step), QList<int>({1, 2, 3, 4, 5 | 0x80}));   // the rest, the last marked

        step = download.handleAnswer(answered(step.exchange, "581h,8,a2 05 7f 00 00 00 00 00"), true);
        QCOMPARE(commands(step.exchange), QList<int>({0xc1}));   // the last segment was full
        QCOMPARE(download.handleAnswer(answered(step.exchange, "581h,8,a1 00 00 00 00 00 00 00"), true).outcome,
                 ZorSdoBlockDownload::Step::Finished);
    }

    // Most nodes set the CRC bit in the initiate answer (A4h), also when
    // the client asked for no CRC: the transfer goes on as with A0h. An
    // abort of the initiate sends the rest segmented.
    void initiateAnswers_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("block");
        QTest::newRow("plain") << "581h,8,a0 50 1f 01 04 00 00 00" << true;
        QTest::newRow("crc bit set") << "581h,8,a4 50 1f 01 04 00 00 00" << true;
        QTest::newRow("abort") << "581h,8,80 50 1f 01 01 00 04 05" << false;
    }

    void initiateAnswers()
    {
        QFETCH(QString, frame);
        QFETCH(bool, block);
        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("1,1f50h,1h,b,0,0," + hexOf(70), error));
        QVERIFY(download.start(exchange, error));
        const ZorSdoBlockDownload::Step step = download.handleAnswer(answered(exchange, frame), true);
        QCOMPARE(step.outcome, ZorSdoBlockDownload::Step::Continue);
        if (block) {
            QCOMPARE(commands(step), QList<int>({1, 2, 3, 4}));
        } else {
            QVERIFY(step.frames.isEmpty());
            // The segmented download of the same data begins: 21h, 70 bytes.
            QVERIFY2(step.exchange.contains("601h,8,21 50 1f 01 46 00 00 00"), qPrintable(step.exchange));
        }
    }

    void badConfirmationsAbort_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("abort");
        QTest::newRow("block size 0") << "581h,8,a2 02 00 00 00 00 00 00" << "80 50 1f 01 02 00 04 05";
        QTest::newRow("block size 128") << "581h,8,a2 02 80 00 00 00 00 00" << "80 50 1f 01 02 00 04 05";
        QTest::newRow("more than sent") << "581h,8,a2 05 04 00 00 00 00 00" << "80 50 1f 01 03 00 04 05";
    }

    void badConfirmationsAbort()
    {
        QFETCH(QString, frame);
        QFETCH(QString, abort);
        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("1,1f50h,1h,b,0,0," + hexOf(70), error));
        QVERIFY(download.start(exchange, error));
        ZorSdoBlockDownload::Step step = download.handleAnswer(answered(exchange, "581h,8,a0 50 1f 01 04 00 00 00"), true);
        step = download.handleAnswer(answered(step.exchange, frame), true);
        QCOMPARE(step.outcome, ZorSdoBlockDownload::Step::Failed);
        QCOMPARE(step.exchange, "CAN:0:0:601h,8," + abort + ":noresponse\n");
    }

    // A record file: each chunk one record, 16 header bytes and the payload
    // length from header bytes 8-11. 216 bytes make 31 segments, the last
    // with six bytes (9Fh) and an end command of C5h.
    void recordsAreChunks()
    {
        QTemporaryDir dir;
        QByteArray file;
        QByteArray header(16, '\0');
        header[8] = char(200);
        file += header + QByteArray(200, 'a');
        header[8] = char(100);
        file += header + QByteArray(100, 'b');
        QFile f(dir.filePath("prog.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
        f.close();

        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("3,1f50h,1h,flb,0,2," + f.fileName(), error));
        QVERIFY(download.start(exchange, error));
        QVERIFY(exchange.contains("603h,8,c2 50 1f 01 d8 00 00 00"));   // 216 bytes
        ZorSdoBlockDownload::Step step = download.handleAnswer(answered(exchange, "583h,8,a0 50 1f 01 7f 00 00 00"), true);
        QList<int> seqs = commands(step);
        QCOMPARE(seqs.size(), 31);
        QCOMPARE(seqs.last(), 0x9f);
        step = download.handleAnswer(answered(step.exchange, "583h,8,a2 1f 7f 00 00 00 00 00"), true);
        QCOMPARE(commands(step.exchange), QList<int>({0xc5}));
        QCOMPARE(step.progress, 65);   // 216 of 332 bytes
        step = download.handleAnswer(answered(step.exchange, "583h,8,a1 00 00 00 00 00 00 00"), true);
        QVERIFY(step.exchange.contains("603h,8,c2 50 1f 01 74 00 00 00"));   // the second record, 116 bytes
    }

    // Record headers are never trusted: a length past the end of the data
    // (or past 4 GB) refuses the download before anything is sent.
    void recordHeadersAreChecked_data()
    {
        QTest::addColumn<QByteArray>("file");
        QByteArray header(16, '\0');
        header[8] = char(0xff);
        header[9] = char(0xff);
        header[10] = char(0xff);
        header[11] = char(0xff);
        QTest::newRow("4 GB record") << header + QByteArray(100, 'x');
        header.fill('\0');
        header[8] = char(101);
        QTest::newRow("one byte short") << header + QByteArray(100, 'x');
        header[8] = char(100);
        QTest::newRow("header cut short") << header + QByteArray(100, 'x') + QByteArray(10, '\0');
    }

    void recordHeadersAreChecked()
    {
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        QFile f(dir.filePath("bad.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
        f.close();
        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("3,1f50h,1h,flb,0,2," + f.fileName(), error));
        QVERIFY(!download.start(exchange, error));
        QVERIFY2(error.startsWith("error - record"), qPrintable(error));
        QVERIFY(exchange.isEmpty());
    }

    // Segmented download, chunk size 8: two segments per chunk, 00h and one
    // byte with 1Dh; the toggle runs on across the chunk's exchanges.
    void segmentedChunks()
    {
        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("1,2f50h,2h,a,8,0," + hexOf(10), error));
        QVERIFY(download.start(exchange, error));
        QCOMPARE(commands(exchange), QList<int>({0x21, 0x00, 0x1d}));
        QVERIFY(exchange.contains("601h,8,21 50 2f 02 08 00 00 00:581h,8,60 50 2f 02 ?? ?? ?? ??"));
        QVERIFY(exchange.contains("601h,8,1d 07 00 00 00 00 00 00:581h,8,30 ?? ?? ?? ?? ?? ?? ??"));
        const ZorSdoBlockDownload::Step step = download.handleAnswer(answered(exchange, "581h,8,30 00 00 00 00 00 00 00"), true);
        // Two bytes left, padded with blanks to the chunk size.
        QVERIFY(step.exchange.contains("601h,8,00 08 09 20 20 20 20 20"));
    }

    void failedChunksAreRetriedThenFail()
    {
        ZorSdoBlockDownload download;
        QString error, exchange;
        QVERIFY(download.setup("1,2f50h,2h,,0,1,0102", error));
        QVERIFY(download.start(exchange, error));
        ZorSdoBlockDownload::Step step = download.handleAnswer(QString(), false);
        QCOMPARE(step.outcome, ZorSdoBlockDownload::Step::Continue);
        // The node is told to drop the failed transfer, then it begins again.
        QCOMPARE(commands(step.exchange), QList<int>({0x80, 0x21, 0x0b}));
        step = download.handleAnswer(QString(), false);
        QCOMPARE(step.outcome, ZorSdoBlockDownload::Step::Failed);
    }

    void linesThatCannotStart_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("error");
        QTest::newRow("node 0") << "0,1f50h,1h,b,0,0,01" << "error - illegal parameters";
        QTest::newRow("chunk size") << "1,1f50h,1h,b,70000,0,01" << "error - illegal parameters";
        QTest::newRow("odd hex") << "1,1f50h,1h,b,0,0,012" << "error - illegal parameters";
        QTest::newRow("no data") << "1,1f50h,1h,b,0,0," << "error - no data / file not found";
        QTest::newRow("no file") << "1,1f50h,1h,fb,0,0,/no/such/file" << "error - no data / file not found";
    }

    void linesThatCannotStart()
    {
        QFETCH(QString, request);
        QFETCH(QString, error);
        ZorSdoBlockDownload download;
        QString text;
        QVERIFY(!download.setup(request, text));
        QCOMPARE(text, error);
    }

    void progressOfLargeImages_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("percent");
        QTest::newRow("small") << qint64(7) << qint64(14) << 50;
        QTest::newRow("25 MB") << qint64(24000000) << qint64(25000000) << 96;
        QTest::newRow("3 GB") << qint64(3000000000) << qint64(3000000001) << 99;
    }

    void progressOfLargeImages()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, size);
        QFETCH(int, percent);
        QCOMPARE(ZorSdoBlockDownload::percentOf(done, size), percent);
    }
};

ZOR_TEST(TestSdoBlockDownload)
#include "tst_sdoblockdownload.moc"
