// The five plug-ins over makers' libraries (EMS, MHS, Kvaser, PEAK, castor),
// each through the plug-in driver end to end: the maker's library is our
// stand-in, which carries the adapter's traffic to the simulated CAN gateway
// and its CANopen node 5.
#include "adapterbus.h"
#include "canportlibrary.h"
#include "simgateway.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QtTest>

using AdapterBus::Port;

class TestAdapterPlugins : public QObject
{
    Q_OBJECT

    SimGateway gw;

    void addKeys()
    {
        QTest::addColumn<QString>("key");
        for (const QString &key : AdapterBus::keys())
            QTest::newRow(qPrintable(key)) << key;
    }

    // Open channels of the gateway ("CLIENTS" lists cid:open|closed:rate).
    QStringList openChannels()
    {
        QStringList open;
        for (const QString &c : gw.query("CLIENTS").split(' ', Qt::SkipEmptyParts)) {
            if (c.contains(":open:"))
                open << c.section(':', 2);
        }
        return open;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(gw.start({"--node", "5"}), qPrintable(gw.errorString()));
        gw.exportAddress();
    }

    void sdoReadEndToEnd_data() { addKeys(); }
    void sdoReadEndToEnd()
    {
        QFETCH(QString, key);
        Port port;
        QVERIFY2(port.open(key + ":0"), qPrintable(port.driver.lastErrorText()));
        QCOMPARE(port.sdoUpload(5, 0x1000, 0), AdapterBus::deviceTypeAnswer());
        port.driver.close();
        QTRY_VERIFY(openChannels().isEmpty());
    }

    // Each plug-in turns the bit rate into its library's terms (registers,
    // kbit/s, codes, the value itself); the gateway sees the rate again.
    void bitRateReachesTheBus_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("bitRate");
        for (const QString &key : AdapterBus::keys()) {
            for (int rate : {125000, 250000, 500000, 1000000})
                QTest::addRow("%s %d", qPrintable(key), rate) << key << rate;
        }
    }
    void bitRateReachesTheBus()
    {
        QFETCH(QString, key);
        QFETCH(int, bitRate);
        Port port;
        QVERIFY2(port.open(key, bitRate), qPrintable(port.driver.lastErrorText()));
        QCOMPARE(openChannels(), QStringList{QString::number(bitRate)});
        port.driver.close();
        QTRY_VERIFY(openChannels().isEmpty());
    }

    // The node answers only a channel at the bus's rate.
    void wrongBitRateIsSilent_data() { addKeys(); }
    void wrongBitRateIsSilent()
    {
        QFETCH(QString, key);
        QVERIFY(gw.setBitRate("250k"));
        Port port;
        QVERIFY2(port.open(key + ":0", 125000), qPrintable(port.driver.lastErrorText()));
        QByteArray request = QByteArray::fromHex("4000100000000000");
        QVERIFY(port.send(0x605, request));
        QVERIFY(port.collect(1, 300).isEmpty());
        port.driver.close();
        QVERIFY(port.open(key + ":0", 250000));
        QCOMPARE(port.sdoUpload(5, 0x1000, 0), AdapterBus::deviceTypeAnswer());
        port.driver.close();
        QVERIFY(gw.setBitRate("any"));
    }

    // Frames from the bus of the four kinds: identifier, length, data and
    // the 29-bit and remote flags arrive as sent.
    void receivedFrameKinds_data() { addKeys(); }
    void receivedFrameKinds()
    {
        QFETCH(QString, key);
        Port port;
        QVERIFY2(port.open(key + ":0"), qPrintable(port.driver.lastErrorText()));
        QVERIFY(gw.inject("t1232aabb"));
        QVERIFY(gw.inject("T0abcdef13112233"));
        QVERIFY(gw.inject("r1234"));
        QVERIFY(gw.inject("R123456783"));
        const QList<VSCAN_MSG> got = port.collect(4);
        QCOMPARE(got.size(), 4);
        const struct {
            quint32 id;
            int size;
            int flags;
            QByteArray data;
        } expected[] = {
            {0x123, 2, 0x00, QByteArray::fromHex("aabb")},
            {0x0abcdef1, 3, VSCAN_FLAGS_EXTENDED, QByteArray::fromHex("112233")},
            {0x123, 4, VSCAN_FLAGS_REMOTE, QByteArray()},
            {0x12345678, 3, VSCAN_FLAGS_EXTENDED | VSCAN_FLAGS_REMOTE, QByteArray()},
        };
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(got[i].Id, expected[i].id);
            QCOMPARE(int(got[i].Size), expected[i].size);
            QCOMPARE(int(got[i].Flags), expected[i].flags);
            if (!expected[i].data.isEmpty())
                QCOMPARE(QByteArray(reinterpret_cast<const char *>(got[i].Data), got[i].Size),
                         expected[i].data);
        }
        port.driver.close();
    }

    // Frames the program writes reach the bus as they were queued.
    void writtenFrameKinds_data() { addKeys(); }
    void writtenFrameKinds()
    {
        QFETCH(QString, key);
        Port port;
        QVERIFY2(port.open(key + ":0"), qPrintable(port.driver.lastErrorText()));
        gw.setCursor(gw.mark());
        QVERIFY(port.send(0x123, QByteArray::fromHex("aabb")));
        QVERIFY(port.send(0x0abcdef1, QByteArray::fromHex("112233"), VSCAN_FLAGS_EXTENDED));
        QVERIFY(port.send(0x123, QByteArray(), VSCAN_FLAGS_STANDARD | VSCAN_FLAGS_REMOTE, 4));
        QVERIFY(port.send(0x12345678, QByteArray(), VSCAN_FLAGS_EXTENDED | VSCAN_FLAGS_REMOTE, 3));
        for (const char *line : {"t1232aabb", "T0abcdef13112233", "r1234", "R123456783"})
            QVERIFY2(gw.waitForLine(QString("^BUS c\\d+ %1$").arg(line)).hasMatch(), line);
        port.driver.close();
    }

    // Two drivers on two channels of one plug-in: both carry SDO, and
    // closing the first leaves the second working (the EMS library stays
    // loaded, the MHS driver keeps running, the PEAK adapter stays open).
    void twoPortsOfOnePlugin_data() { addKeys(); }
    void twoPortsOfOnePlugin()
    {
        QFETCH(QString, key);
        Port first, second;
        QVERIFY2(first.open(key + ":0"), qPrintable(first.driver.lastErrorText()));
        QVERIFY2(second.open(key + ":1"), qPrintable(second.driver.lastErrorText()));
        QCOMPARE(first.sdoUpload(5, 0x1000, 0), AdapterBus::deviceTypeAnswer());
        QCOMPARE(second.sdoUpload(5, 0x2002, 0), QByteArray::fromHex("4202200078563412"));
        first.driver.close();
        QCOMPARE(second.sdoUpload(5, 0x1000, 0), AdapterBus::deviceTypeAnswer());
        second.driver.close();
    }

    // All five plug-ins at once, loaded in both orders: the Kvaser and
    // castor libraries export functions of the same names, and each
    // plug-in still reaches its own.
    void allPluginsAtOnce_data()
    {
        QTest::addColumn<QStringList>("order");
        QStringList order = AdapterBus::keys();
        QTest::newRow("forward") << order;
        std::reverse(order.begin(), order.end());
        QTest::newRow("backward") << order;
    }
    void allPluginsAtOnce()
    {
        QFETCH(QStringList, order);
        std::vector<std::unique_ptr<Port>> ports;
        for (const QString &key : order) {
            ports.emplace_back(new Port);
            QVERIFY2(ports.back()->open(key + ":0"),
                     qPrintable(ports.back()->driver.lastErrorText()));
        }
        QCOMPARE(openChannels().size(), order.size());
        for (size_t i = 0; i < ports.size(); ++i)
            QVERIFY2(ports[i]->sdoUpload(5, 0x1000, 0) == AdapterBus::deviceTypeAnswer(),
                     qPrintable(order[int(i)]));
        ports.clear();
        QTRY_VERIFY(openChannels().isEmpty());
    }

    // A copy of the plug-in whose maker's library is not where it looks:
    // the loaded-by-name libraries report it, the linked ones keep the
    // plug-in from loading. With the library in place the copy works.
    void makersLibraryMissing_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("ems") << "ems" << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("mhs") << "mhs" << int(BUSLINK_DRIVER_ERROR);
        QTest::newRow("kvaser") << "kvaser" << int(BUSLINK_DRIVER_ERROR);
        QTest::newRow("peak") << "peak" << int(BUSLINK_COULD_NOT_LOAD);
        QTest::newRow("castor") << "castor" << int(BUSLINK_COULD_NOT_LOAD);
    }
    void makersLibraryMissing()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        // A folder the loader once found missing stays missing for the
        // process, so the copy with the library lies in a folder of its own.
        QTemporaryDir without, with;
        QVERIFY(QFile::link(ZorTest::buildPath("platform"), with.filePath("platform")));
        const QString file = CanPortLibrary::fileNameForKey(key);
        for (QTemporaryDir *dir : {&without, &with}) {
            QVERIFY(QDir().mkpath(dir->filePath("Drivers/buslink")));
            QVERIFY(QFile::copy(ZorTest::buildPath("Drivers/buslink/" + file),
                                dir->filePath("Drivers/buslink/" + file)));
        }

        Port port;
        port.driver.setPluginDirectory(without.filePath("Drivers/buslink"));
        QVERIFY(!port.open(key + ":0"));
        QCOMPARE(port.driver.lastResult(), result);

        port.driver.setPluginDirectory(with.filePath("Drivers/buslink"));
        QVERIFY2(port.open(key + ":0"), qPrintable(port.driver.lastErrorText()));
        QCOMPARE(port.sdoUpload(5, 0x1000, 0), AdapterBus::deviceTypeAnswer());
        port.driver.close();
        QVERIFY(QFile::remove(with.filePath("platform"))); // the link, not the build's folder
    }
};

ZOR_TEST(TestAdapterPlugins)
#include "tst_adapterplugins.moc"
