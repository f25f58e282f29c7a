// Program download on the wire: images written into the domain object 1F50h:1
// of simulated nodes by block download (whatever block size the node grants)
// and by segmented download, with progress, the served line's answer, and an
// abort that stops the transfer within one block.
#include "gatewayrig.h"
#include "zortest.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray image(int size, quint32 seed)
{
    QByteArray data(size, '\0');
    QRandomGenerator random(seed);
    for (int i = 0; i < size; ++i)
        data[i] = char(random.bounded(256));
    return data;
}

QList<int> progressValues(const GatewayRecorder &recorder)
{
    QList<int> values;
    for (const ZorMessage &m : recorder.ofType(KM_PROGRESS)) {
        if (m.msgState() == KS_INFO)
            values << m.data().toInt();
    }
    return values;
}

bool finished(const GatewayRecorder &recorder)
{
    const QList<ZorMessage> progress = recorder.ofType(KM_PROGRESS);
    return !progress.isEmpty()
        && (progress.last().msgState() == KS_FAIL || progress.last().data().toInt() == 100);
}

} // namespace

class TestCanOpenDownload : public QObject
{
    Q_OBJECT

    GatewayRig *rig = nullptr;
    QTemporaryDir dir;

    // Downloads the data into 1F50h:1 of the node and waits for the end.
    ZorMessage download(int node, const QString &options, const QByteArray &data, int timeoutMs = 30000)
    {
        QFile file(dir.filePath(QStringLiteral("image%1.bin").arg(node)));
        file.open(QIODevice::WriteOnly);
        file.write(data);
        file.close();
        const ZorMessage answer = rig->interview(
            QStringLiteral("SDODownload:0:0:%1,1f50h,1h,f%2,0,0,%3").arg(node).arg(options, file.fileName()));
        if (answer.msgState() == KS_ANSWER)
            GatewayRig::waitUntil(rig->fromGateway, [this] { return finished(rig->fromGateway); }, timeoutMs);
        return answer;
    }

private slots:
    void initTestCase()
    {
        rig = new GatewayRig;
        QVERIFY2(rig->start({"--node", "1", "--node", "2", "--node", "11 blksize=1", "--node", "17 blksize=7",
                             "--node", "20 crc=on"}),
                 qPrintable(rig->sim.errorString()));
    }

    void cleanupTestCase()
    {
        delete rig;
    }

    void init()
    {
        rig->markBus();
        rig->fromGateway.clear();
        rig->toCanInterface.clear();
    }

    // Seven bytes go as one exchange of three lines; the granted block size
    // is read, not presumed.
    void sevenBytesWithAnyBlockSize_data()
    {
        QTest::addColumn<int>("node");
        QTest::newRow("block size 127") << 2;
        QTest::newRow("block size 7") << 17;
        QTest::newRow("block size 1") << 11;
    }

    void sevenBytesWithAnyBlockSize()
    {
        QFETCH(int, node);
        const QString line = QStringLiteral("SDODownload:0:0:%1,1f50h,1h,b,0,0,01020304050607").arg(node);
        const ZorMessage answer = rig->interview(line);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QCOMPARE(answer.data().toString(), line + QStringLiteral(":init download 7 bytes, mode = block (fast)"));
        QVERIFY(GatewayRig::waitUntil(rig->fromGateway, [this] { return finished(rig->fromGateway); }, 5000));
        QCOMPARE(progressValues(rig->fromGateway), QList<int>({0, 100}));
        const QList<ZorMessage> exchanges = rig->toCanInterface.ofType(KM_INTERVIEW);
        QCOMPARE(exchanges.size(), 1);
        const QString rx = QString::number(0x580 + node, 16), tx = QString::number(0x600 + node, 16);
        QCOMPARE(exchanges.first().data().toString(), QStringLiteral(
            "CAN:1000:0:%1h,8,c2 50 1f 01 07 00 00 00:%2h,8,?? 50 1f 01 ?? ?? ?? ??\n"
            "CAN:1000:0:%1h,8,81 01 02 03 04 05 06 07:%2h,8,a2 01 ?? ?? ?? ?? ?? ??\n"
            "CAN:1000:0:%1h,8,c1 00 00 00 00 00 00 00:%2h,8,a1 00 00 00 00 00 00 00\n").arg(tx, rx));
        QCOMPARE(rig->sim.nodeValue(node, 0x1f50, 1), QByteArray::fromHex("01020304050607"));
    }

    // Several blocks: the node's block size limits every block.
    void multiBlockImagesWithAnyBlockSize_data()
    {
        QTest::addColumn<int>("node");
        QTest::addColumn<int>("size");
        QTest::newRow("block size 127") << 2 << 4000;
        QTest::newRow("block size 7") << 17 << 1000;
        QTest::newRow("block size 1") << 11 << 200;
    }

    void multiBlockImagesWithAnyBlockSize()
    {
        QFETCH(int, node);
        QFETCH(int, size);
        const QByteArray data = image(size, quint32(node));
        QCOMPARE(download(node, "b", data).msgState(), int(KS_ANSWER));
        QCOMPARE(rig->fromGateway.ofType(KM_PROGRESS).last().data().toInt(), 100);
        QCOMPARE(rig->sim.nodeValue(node, 0x1f50, 1), data);
        QVERIFY(rig->sim.waitForLine(QStringLiteral("^DOWNLOAD %1 1f50:01 %2 block$").arg(node).arg(size)).hasMatch());
    }

    void image64KiBByBlockDownload()
    {
        const QByteArray data = image(65536, 64);
        const ZorMessage answer = download(1, "b", data);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QVERIFY(answer.data().toString().endsWith(":init download 65536 bytes, mode = block (fast)"));
        const QList<int> progress = progressValues(rig->fromGateway);
        QVERIFY(progress.size() > 10);
        QCOMPARE(progress.last(), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(rig->sim.nodeValue(1, 0x1f50, 1), data);
    }

    void image64KiBBySegmentedDownload()
    {
        const QByteArray data = image(65536, 65);
        const ZorMessage answer = download(1, "", data, 120000);
        QVERIFY(answer.data().toString().endsWith(":init download 65536 bytes, mode = segmented (slow)"));
        QCOMPARE(progressValues(rig->fromGateway).last(), 100);
        QCOMPARE(rig->sim.nodeValue(1, 0x1f50, 1), data);
    }

    // A node that insists on a CRC refuses the block download as this
    // gateway starts it; the image goes segmented instead.
    void segmentedWhenBlockIsRefused()
    {
        const QByteArray data = image(300, 20);
        QCOMPARE(download(20, "b", data).msgState(), int(KS_ANSWER));
        QCOMPARE(rig->fromGateway.ofType(KM_PROGRESS).last().data().toInt(), 100);
        QCOMPARE(rig->sim.nodeValue(20, 0x1f50, 1), data);
    }

    // An abort while blocks go out: the block under way ends, the abort
    // frame follows, and no segment after it; the node keeps its old data.
    void abortStopsWithinOneBlock()
    {
        const QByteArray before = rig->sim.nodeValue(2, 0x1f50, 1);
        QFile file(dir.filePath("abort.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image(65536, 7));
        file.close();
        QVERIFY(rig->sim.command("TIMING 1000000"));
        const ZorMessage answer = rig->interview("SDODownload:0:0:2,1f50h,1h,fb,0,0," + file.fileName());
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        QVERIFY(GatewayRig::waitUntil(rig->fromGateway, [this] {
            const QList<int> p = progressValues(rig->fromGateway);
            return !p.isEmpty() && p.last() >= 5;
        }, 20000));
        const ZorMessage abort = rig->interview("Wait:0:0\nSDOAbortDownload:0:0:2,1f50h,1h");
        QCOMPARE(abort.msgState(), int(KS_ANSWER));
        QVERIFY(GatewayRig::waitUntil(rig->fromGateway, [this] { return finished(rig->fromGateway); }, 5000));
        QVERIFY(rig->sim.command("TIMING off"));
        const ZorMessage last = rig->fromGateway.ofType(KM_PROGRESS).last();
        QCOMPARE(last.msgState(), int(KS_FAIL));
        QCOMPARE(last.data().toString(), QStringLiteral("aborted"));
        QVERIFY(progressValues(rig->fromGateway).last() < 100);

        QVERIFY(rig->sim.waitForLine("^BUS c\\d+ t602880501f0100000008$", 5000).hasMatch());
        QCOMPARE(rig->sim.nodeValue(2, 0x1f50, 1), before);
        // The node serves the next transfer, and nothing of the download
        // went out between the abort and it.
        QCOMPARE(rig->interview("SDOReadObject:1000:0:2,1000h,0h,unsigned32").msgState(), int(KS_ANSWER));
        const QStringList frames = rig->sentFrames();
        const int abortAt = frames.indexOf("t602880501f0100000008");
        QCOMPARE(frames.mid(abortAt), QStringList({"t602880501f0100000008", "t60284000100000000000"}));
        // The segment before the abort ended a block of 127, which the node
        // confirmed before the abort went out.
        QCOMPARE(frames.at(abortAt - 1).mid(5, 2), QStringLiteral("7f"));
        const QStringList bus = rig->sim.lines().filter(QRegularExpression("^BUS "));
        const int abortLine = bus.lastIndexOf(QRegularExpression("^BUS c\\d+ t602880501f0100000008$"));
        QVERIFY(bus.at(abortLine - 1).startsWith("BUS n2 t5828a27f"));
    }

    void abortWithoutDownloadIsDoneAtOnce()
    {
        QCOMPARE(rig->interview("SDOAbortDownload:0:0:2,1f50h,1h").msgState(), int(KS_ANSWER));
        QCOMPARE(rig->sentFrames(), QStringList());
    }

    void downloadsThatCannotStart()
    {
        const ZorMessage answer = rig->interview("SDODownload:0:0:2,1f50h,1h,fb,0,0,/no/such/image");
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QVERIFY(answer.data().toString().endsWith(":error - no data / file not found"));
        QCOMPARE(rig->fromGateway.ofType(KM_PROGRESS).size(), 0);
        // The gateway is back to serving lines.
        QCOMPARE(rig->interview("SDOReadObject:1000:0:2,1000h,0h,unsigned32").msgState(), int(KS_ANSWER));
    }
};

ZOR_TEST(TestCanOpenDownload)
#include "tst_canopendownload.moc"
