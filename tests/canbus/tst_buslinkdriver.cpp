// The plug-in driver against the test plug-in (a virtual bus among the ports
// one loaded copy opens), installed under adapter keys in a folder of its own.
#include "zortest.h"
#include "zortestplugins.h"
#include "zorcandriverbuslink.h"

#include <QtTest>
#include <cstring>

namespace {

QByteArray buslinkRecord(quint32 id, const QByteArray &data, quint8 flags, int size = -1)
{
    VSCAN_MSG f;
    f.Id = id;
    f.Size = quint8(size < 0 ? data.size() : size);
    std::memcpy(f.Data, data.constData(), size_t(qMin(8, int(data.size()))));
    f.Flags = flags;
    QByteArray out;
    ZorBabelFish::fromVscanToQbytearray(f, out);
    return out;
}

VSCAN_MSG frameOf(const QByteArray &rec)
{
    VSCAN_MSG f;
    ZorBabelFish::fromQbytearrayToVscan(rec, f);
    return f;
}

// Takes frames from the driver until `want` arrived or 3 s passed, waking on
// the driver's receive condition.
QList<VSCAN_MSG> collect(ZorCanDriverBuslink &driver, QWaitCondition &wake, int want)
{
    QList<VSCAN_MSG> frames;
    QMutex mutex;
    QDeadlineTimer deadline(3000);
    while (frames.size() < want && !deadline.hasExpired()) {
        int count = 0;
        driver.takeRx(count);
        for (int i = 0; i < count; ++i) {
            QByteArray rec;
            driver.rxFrame(i, rec);
            frames.append(frameOf(rec));
        }
        if (count == 0) {
            QMutexLocker lock(&mutex);
            wake.wait(&mutex, 20); // short: a wake between takeRx and wait is not lost for long
        }
    }
    return frames;
}

QStringList logLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestBuslinkDriver : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> dir;
    QString logPath;

    void useDriver(ZorCanDriverBuslink &d) { d.setPluginDirectory(dir->path()); }

private slots:
    void init()
    {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        QVERIFY(ZorTest::installTestPlugin(dir->path(), "testloop", "peak"));
        logPath = dir->filePath("calls.log");
        qputenv("BUSLINK_TESTLOOP_LOG", logPath.toLocal8Bit());
        qunsetenv("BUSLINK_TESTLOOP_FAIL");
    }
    void cleanup()
    {
        qunsetenv("BUSLINK_TESTLOOP_LOG");
        qunsetenv("BUSLINK_TESTLOOP_FAIL");
    }

    void adapterKeys_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("key");
        QTest::newRow("upper case") << "KVASER:0" << "kvaser";
        QTest::newRow("blanks around") << "  peak:1 " << "peak";
        QTest::newRow("key alone") << "zanthic" << "zanthic";
        QTest::newRow("unknown") << "foo:1" << "";
        QTest::newRow("network port") << "127.0.0.1:5000" << "";
    }
    void adapterKeys()
    {
        QFETCH(QString, port);
        QFETCH(QString, key);
        QCOMPARE(ZorCanDriverBuslink::adapterKeyOf(port), key);
        QCOMPARE(ZorCanDriverBuslink::isAdapterPort(port), !key.isEmpty());
        ZorCanDriverBuslink d;
        QCOMPARE(d.pluginDirectory(), QCoreApplication::applicationDirPath() + "/Drivers/buslink");
        QCOMPARE(d.pluginPath("kvaser"),
                 QCoreApplication::applicationDirPath() + "/Drivers/buslink/buslink_hw_kvaser.so");
    }

    void closedDriver()
    {
        ZorCanDriverBuslink d;
        int count = 7;
        QVERIFY(!d.takeRx(count));
        QCOMPARE(count, 0);
        QByteArray rec = buslinkRecord(0x100, "", 0x01);
        QVERIFY(!d.queueTx(rec));
        QVERIFY(!d.flushTx(true));
        QVERIFY(!d.rxFrame(512, rec));
        QVERIFY(d.notFailed());
        QVERIFY(d.lastErrorText().isEmpty());
        QVERIFY(!d.echoesTx());
        QString fw;
        QVERIFY(!d.startFirmwareUpdate("1.0", fw));
        QCOMPARE(d.firmwareUpdateProgress(), 0);
        QVERIFY(d.firmwareVersion().isEmpty());
        QVERIFY(!d.firmwareUpdateNeeded("1.0"));
    }

    // Frames pass both ways in order; plug-in flags map to frame flags
    // (29-bit 0x02, remote 0x04; no 0x01 on standard frames).
    void framesBothWays_data()
    {
        QTest::addColumn<int>("sentFlags");
        QTest::addColumn<int>("receivedFlags");
        QTest::newRow("standard data") << 0x01 << 0x00;
        QTest::newRow("extended data") << 0x02 << 0x02;
        QTest::newRow("standard remote") << 0x05 << 0x04;
        QTest::newRow("extended remote") << 0x06 << 0x06;
    }
    void framesBothWays()
    {
        QFETCH(int, sentFlags);
        QFETCH(int, receivedFlags);
        QWaitCondition wakeA, wakeB;
        ZorCanDriverBuslink a(&wakeA), b(&wakeB);
        useDriver(a);
        useDriver(b);
        QVERIFY2(a.open("peak:0", 250000, 0, 0, 0), qPrintable(a.lastErrorText()));
        QVERIFY2(b.open("PEAK:1", 250000, 0, 0, 0), qPrintable(b.lastErrorText()));
        QVERIFY(a.isOpen() && b.isOpen());

        const int n = 40;
        for (int i = 0; i < n; ++i) {
            QByteArray rec = buslinkRecord(0x100 + i, QByteArray::fromHex("0102030405060708").left(i % 9),
                                    quint8(sentFlags));
            QVERIFY(a.queueTx(rec));
        }
        QVERIFY(a.flushTx(true));
        QList<VSCAN_MSG> got = collect(b, wakeB, n);
        QCOMPARE(got.size(), n);
        const bool remote = sentFlags & 0x04;
        for (int i = 0; i < n; ++i) {
            QCOMPARE(got[i].Id, quint32(0x100 + i));
            QCOMPARE(int(got[i].Size), i % 9);
            QCOMPARE(int(got[i].Flags), receivedFlags);
            if (!remote && i % 9 > 0)
                QCOMPARE(got[i].Data[i % 9 - 1], quint8(i % 9));
        }

        QByteArray back = buslinkRecord(0x7ff, QByteArray::fromHex("aabb"), quint8(sentFlags));
        QVERIFY(b.queueTx(back));
        QVERIFY(b.flushTx(true));
        got = collect(a, wakeA, 1);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].Id, 0x7ffu);
        QCOMPARE(int(got[0].Flags), receivedFlags);

        // Nothing more arrived: a second takeRx hands over nothing.
        int count = -1;
        QVERIFY(a.takeRx(count));
        QCOMPARE(count, 0);
        a.close();
        b.close();
        QVERIFY(!a.isOpen());
        QVERIFY(a.notFailed());
    }

    void openFailures_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<QString>("fail");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("calls"); // plug-in calls after canPortLibraryInit

        QTest::newRow("unknown key") << "foo:1" << 250000 << ""
                                     << "Buslink/ error: Unknown device type" << QStringList();
        QTest::newRow("no plug-in file") << "kvaser" << 250000 << ""
                                         << "Buslink/kvaser error: Could not load driver"
                                         << QStringList();
        QTest::newRow("export missing") << "mhs:0" << 250000 << ""
                                        << "Buslink/mhs error: Could not load driver"
                                        << QStringList();
        QTest::newRow("not a library") << "ems:0" << 250000 << ""
                                       << "Buslink/ems error: Could not load driver"
                                       << QStringList();
        QTest::newRow("init fails") << "peak:0" << 250000 << "init"
                                    << "Buslink/peak error: Driver error." << QStringList();
        // canPortOpen refused before handing out a port: nothing to close.
        QTest::newRow("no such channel") << "peak:9" << 250000 << ""
                                         << "Buslink/peak error: Hardware is not connected."
                                         << QStringList{"canPortOpen -1 -> -104"};
        QTest::newRow("open fails") << "peak:0" << 250000 << "open"
                                    << "Buslink/peak error: Hardware is not connected."
                                    << QStringList{"canPortOpen 0 -> -104"};
        QTest::newRow("bit rate refused")
            << "peak:0" << 800000 << "" << "Buslink/peak error: Unsupported bitrate."
            << QStringList{"canPortOpen 0 -> 0", "canPortBitrateSet 0 -> -108",
                           "canPortClose 0 -> 0"};
        // Bus on failed: closed without bus off.
        QTest::newRow("bus on fails")
            << "peak:0" << 500000 << "buson" << "Buslink/peak error: CAN layer failure."
            << QStringList{"canPortOpen 0 -> 0", "canPortBitrateSet 0 -> 0",
                           "canPortGoBusOn 0 -> -100", "canPortClose 0 -> 0"};
    }
    void openFailures()
    {
        QFETCH(QString, port);
        QFETCH(int, bitRate);
        QFETCH(QString, fail);
        QFETCH(QString, error);
        QFETCH(QStringList, calls);
        QVERIFY(ZorTest::installTestPlugin(dir->path(), "testloop_noread", "mhs"));
        QFile junk(dir->filePath(CanPortLibrary::fileNameForKey("ems")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a shared library");
        junk.close();
        if (!fail.isEmpty())
            qputenv("BUSLINK_TESTLOOP_FAIL", fail.toLatin1());

        ZorCanDriverBuslink d;
        useDriver(d);
        QVERIFY(!d.open(port, bitRate, 0, 0, 0));
        QCOMPARE(d.lastErrorText(), error);
        QVERIFY(!d.isOpen());
        QVERIFY(d.failed());
        d.close(); // does not make a failed driver healthy
        QVERIFY(d.failed());
        int count = 5;
        QVERIFY(!d.takeRx(count));
        QCOMPARE(count, 0);

        QStringList log = logLines(logPath);
        if (!log.isEmpty() && log.first().startsWith("canPortLibraryInit"))
            log.removeFirst();
        QCOMPARE(log, calls);
    }

    // A port number canPortOpen did not hand out may be another driver's
    // port in the same loaded plug-in: a failed open must leave it alone.
    void failedOpenLeavesOtherPortsAlone()
    {
        QWaitCondition wake;
        ZorCanDriverBuslink a, b, c(&wake);
        useDriver(a);
        useDriver(b);
        useDriver(c);
        QVERIFY(a.open("peak:0", 125000, 0, 0, 0));
        QVERIFY(c.open("peak:1", 125000, 0, 0, 0));
        QVERIFY(!b.open("peak:9", 125000, 0, 0, 0));
        for (const QString &line : logLines(logPath))
            QVERIFY2(!line.startsWith("canPortClose"), qPrintable(line));

        QByteArray rec = buslinkRecord(0x181, QByteArray::fromHex("11"), 0x01);
        QVERIFY(a.queueTx(rec));
        QVERIFY(a.flushTx(true));
        QCOMPARE(collect(c, wake, 1).size(), 1);
    }

    void closeOrder()
    {
        ZorCanDriverBuslink d;
        useDriver(d);
        QVERIFY(d.open("peak", 1000000, 0, 0, 0));
        d.close();
        QCOMPARE(logLines(logPath).mid(1),
                 (QStringList{"canPortOpen 0 -> 0", "canPortBitrateSet 0 -> 0",
                              "canPortGoBusOn 0 -> 0", "canPortGoBusOff 0 -> 0",
                              "canPortClose 0 -> 0"}));
    }

    // A plug-in that keeps refusing frames: after more than 100 failed
    // writes in a row the queue is dropped and reported.
    void refusedWritesAreReported()
    {
        qputenv("BUSLINK_TESTLOOP_FAIL", "write");
        ZorCanDriverBuslink d;
        useDriver(d);
        QVERIFY(d.open("peak:0", 250000, 0, 0, 0));
        qunsetenv("BUSLINK_TESTLOOP_FAIL");
        QByteArray rec = buslinkRecord(0x200, QByteArray::fromHex("01"), 0x01);
        QVERIFY(d.queueTx(rec));
        QVERIFY(d.flushTx(true));
        QString text;
        int bits = 0;
        const auto reported = [&] {
            QString t;
            int b = 0;
            d.statusText(t, b); // reading clears: keep the first report
            if (!t.isEmpty() && text.isEmpty()) {
                text = t;
                bits = b;
            }
            return !text.isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(reported(), 5000);
        QCOMPARE(text, QString("Buslink CAN: PC TX buffer overflow"));
        QCOMPARE(bits, 4);
        bits = 0;
        d.statusText(text, bits);
        QVERIFY(text.isEmpty());
        QCOMPARE(bits, 0);
    }

    void stagingFullFlushesItself()
    {
        ZorCanDriverBuslink d;
        useDriver(d);
        QVERIFY(d.open("peak:0", 250000, 0, 0, 0));
        for (int i = 0; i < 513; ++i) {
            QByteArray rec = buslinkRecord(0x100, "", 0x01);
            QVERIFY(d.queueTx(rec));
        }
        QVERIFY(d.flushTx(true)); // the 513th is still staged
        QVERIFY(!d.flushTx(true));
        QByteArray shortRecord(15, '\0');
        QVERIFY(!d.queueTx(shortRecord));
    }
};

ZOR_TEST(TestBuslinkDriver)
#include "tst_buslinkdriver.moc"
