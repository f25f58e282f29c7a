// Results of the five plug-ins over makers' libraries when called directly,
// for what the plug-in driver does not surface: port and length checks,
// failed opens, bit rates outside the four, echo, idle reads, a channel
// opened twice, the last free port, and a receive thread that waits instead
// of spinning. The makers' libraries are our stand-ins on the simulated
// CAN gateway.
#include "adapterbus.h"
#include "canportlibrary.h"
#include "simgateway.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QtTest>
#include <ctime>

namespace {

QString resultsPluginPath(const QString &key)
{
    return ZorTest::buildPath("Drivers/buslink/" + CanPortLibrary::fileNameForKey(key));
}

// One plug-in called directly. The ports it opened are taken off the bus
// and closed when it goes, also when a test ends early.
class Plugin
{
public:
    explicit Plugin(const QString &path) : lib(path), m_raw(path) {}
    ~Plugin()
    {
        for (int port : m_ports) {
            lib.canPortGoBusOff(port);
            lib.canPortClose(port);
        }
        if (m_raw.isLoaded())
            m_raw.unload(); // QLibrary alone would keep the plug-in loaded
    }

    CanPortLibrary lib;

    // canPortOpen; a port it hands out is closed with the plug-in.
    int open(int channel, int *port)
    {
        const int result = lib.canPortOpen(channel, port);
        if (result == 0)
            m_ports << *port;
        return result;
    }
    // Opens `channel` and puts it on the bus at 500 kbit/s; the port or -1.
    int openOnBus(int channel = 0)
    {
        int port = -1;
        if (open(channel, &port) != 0)
            return -1;
        if (lib.canPortBitrateSet(port, 500000) != 0 || lib.canPortGoBusOn(port) != 0)
            return -1;
        return port;
    }
    void close(int port)
    {
        lib.canPortGoBusOff(port);
        lib.canPortClose(port);
        m_ports.removeAll(port);
    }
    // canPortEcho, which the binder binds but never forwards.
    int echo(int port, int on)
    {
        if (!m_raw.isLoaded() && !m_raw.load())
            return -110;
        auto fn = reinterpret_cast<CanPortEchoFn>(m_raw.resolve("canPortEcho"));
        return fn ? fn(port, on) : -110;
    }
    // Reads until a frame comes (0) or timeoutMs passed (the last result).
    int readWithin(int port, int timeoutMs, int *id, quint8 *data, int *len, int *flags)
    {
        QDeadlineTimer deadline(timeoutMs);
        int result;
        while ((result = lib.canPortRead(port, id, data, len, flags)) != 0
               && !deadline.hasExpired())
            QThread::msleep(1);
        return result;
    }

private:
    QLibrary m_raw;
    QList<int> m_ports;
};

} // namespace

class TestAdapterPluginResults : public QObject
{
    Q_OBJECT

    SimGateway gw;

    void addKeys()
    {
        QTest::addColumn<QString>("key");
        for (const QString &key : AdapterBus::keys())
            QTest::newRow(qPrintable(key)) << key;
    }

    // True when the next frame the gateway carries from a client is `line`.
    bool nextFrameOnBusIs(const QString &line)
    {
        const QRegularExpressionMatch m = gw.waitForLine("^BUS c\\d+ (\\S+)$");
        return m.hasMatch() && m.captured(1) == line;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(gw.start({"--node", "5"}), qPrintable(gw.errorString()));
        gw.exportAddress();
    }

    // Every function but canPortOpen refuses a port number it did not hand
    // out with -101 before it touches anything.
    void portNumbersAreChecked_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QList<int>>("badPorts");
        QTest::newRow("ems") << "ems" << QList<int>{-1, 4, 1, 1000};
        QTest::newRow("mhs") << "mhs" << QList<int>{-1, 4, 1, 1000};
        QTest::newRow("peak") << "peak" << QList<int>{-1, 2, 1000};
        QTest::newRow("kvaser") << "kvaser" << QList<int>{-1, -1000};
        QTest::newRow("castor") << "castor" << QList<int>{-1, -1000};
    }
    void portNumbersAreChecked()
    {
        QFETCH(QString, key);
        QFETCH(QList<int>, badPorts);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int port = plugin.openOnBus();
        QCOMPARE(port, 0);
        int id = 0, len = 0, flags = 0;
        quint8 data[8] = {};
        for (int bad : badPorts) {
            const QByteArray what = key.toLatin1() + " port " + QByteArray::number(bad);
            QVERIFY2(lib.canPortBitrateSet(bad, 500000) == -101, what);
            QVERIFY2(lib.canPortGoBusOn(bad) == -101, what);
            QVERIFY2(lib.canPortGoBusOff(bad) == -101, what);
            QVERIFY2(lib.canPortWrite(bad, 0x100, data, 1, 0) == -101, what);
            QVERIFY2(lib.canPortRead(bad, &id, data, &len, &flags) == -101, what);
            QVERIFY2(lib.canPortClose(bad) == -101, what);
        }
        // Missing outputs are refused too.
        QCOMPARE(lib.canPortRead(port, nullptr, data, &len, &flags), -101);
        QCOMPARE(lib.canPortRead(port, &id, nullptr, &len, &flags), -101);
        QCOMPARE(lib.canPortOpen(0, nullptr), -101);
        // The good port still works.
        gw.setCursor(gw.mark());
        QCOMPARE(lib.canPortWrite(port, 0x100, data, 1, 0), 0);
        QVERIFY(nextFrameOnBusIs("t100100"));
        plugin.close(port);
    }

    // A failed open leaves -1 in *port, never a number that may be another
    // user's port.
    void failedOpenLeavesNoPort_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("result");
        QTest::newRow("ems") << "ems" << 9 << -104;
        QTest::newRow("mhs") << "mhs" << 9 << -104;
        QTest::newRow("kvaser") << "kvaser" << 9 << -105;
        QTest::newRow("peak") << "peak" << 2 << -104;
        QTest::newRow("castor") << "castor" << 9 << -106;
    }
    void failedOpenLeavesNoPort()
    {
        QFETCH(QString, key);
        QFETCH(int, channel);
        QFETCH(int, result);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        int port = 77;
        QCOMPARE(plugin.open(channel, &port), result);
        QCOMPARE(port, -1);
        // Nothing was kept: the first port is the lowest again.
        port = plugin.openOnBus();
        QCOMPARE(port, 0);
        plugin.close(port);
    }

    // A length above 8 (or below 0) never reaches the adapter.
    void lengthOutsideZeroToEightRefused_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("ems") << "ems" << -100;
        QTest::newRow("mhs") << "mhs" << -255;
        QTest::newRow("kvaser") << "kvaser" << -255;
        QTest::newRow("peak") << "peak" << -100;
        QTest::newRow("castor") << "castor" << -106;
    }
    void lengthOutsideZeroToEightRefused()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int port = plugin.openOnBus();
        QVERIFY(port >= 0);
        const quint8 data[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        gw.setCursor(gw.mark());
        QCOMPARE(lib.canPortWrite(port, 0x321, data, 9, 0), result);
        QCOMPARE(lib.canPortWrite(port, 0x321, data, 15, 0), result);
        QCOMPARE(lib.canPortWrite(port, 0x321, data, -1, 0), result);
        QCOMPARE(lib.canPortWrite(port, 0x777, data, 0, 0), 0);
        QVERIFY(nextFrameOnBusIs("t7770"));
        plugin.close(port);
    }

    // Rates other than the four: refused, except by the Kvaser plug-in,
    // which hands any rate to its library (and the gateway has 800 kbit/s).
    void bitRateOutsideTheFour_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("ems") << "ems" << -108;
        QTest::newRow("mhs") << "mhs" << -108;
        QTest::newRow("kvaser") << "kvaser" << 0;
        QTest::newRow("peak") << "peak" << -255;
        QTest::newRow("castor") << "castor" << -255;
    }
    void bitRateOutsideTheFour()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        int port = -1;
        QCOMPARE(plugin.open(0, &port), 0);
        QCOMPARE(lib.canPortBitrateSet(port, 800000), result);
        if (result == 0) {
            QCOMPARE(lib.canPortGoBusOn(port), 0);
            QVERIFY(gw.query("CLIENTS").contains(":open:800000"));
            lib.canPortGoBusOff(port);
        }
        lib.canPortClose(port);
    }

    // With echo on, each frame written comes back once with its id, length
    // and flags; a remote frame without data.
    void echoComesBackOnce_data() { addKeys(); }
    void echoComesBackOnce()
    {
        QFETCH(QString, key);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int port = plugin.openOnBus();
        QVERIFY(port >= 0);
        const int idle = key == "castor" ? -106 : -109;
        QCOMPARE(plugin.echo(port, 0x101), 0); // only the low byte counts: on

        const quint8 payload[3] = {1, 2, 3};
        QCOMPARE(lib.canPortWrite(port, 0x321, payload, 3, 0), 0);
        int id = 0, len = 0, flags = -1;
        quint8 data[8];
        std::memset(data, 0xEE, sizeof data);
        QCOMPARE(plugin.readWithin(port, 3000, &id, data, &len, &flags), 0);
        QCOMPARE(id, 0x321);
        QCOMPARE(len, 3);
        QCOMPARE(flags, 0);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(data), 3), QByteArray::fromHex("010203"));

        QCOMPARE(lib.canPortWrite(port, 0x1234567, payload, 5, 3), 0);
        QCOMPARE(plugin.readWithin(port, 3000, &id, data, &len, &flags), 0);
        QCOMPARE(id, 0x1234567);
        QCOMPARE(len, 5);
        QCOMPARE(flags, 3);

        // Exactly once: nothing else comes.
        QCOMPARE(plugin.readWithin(port, 100, &id, data, &len, &flags), idle);
        QCOMPARE(plugin.echo(port, 0), 0);
        plugin.close(port);
    }

    // The echo goes into the plug-in's ring ahead of frames that arrive
    // later, and none of those is lost on the way.
    void echoPrecedesLaterFrames_data()
    {
        QTest::addColumn<QString>("key");
        for (const char *key : {"ems", "mhs", "peak"})
            QTest::newRow(key) << key;
    }
    void echoPrecedesLaterFrames()
    {
        QFETCH(QString, key);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int port = plugin.openOnBus();
        QVERIFY(port >= 0);
        QCOMPARE(plugin.echo(port, 1), 0);
        const quint8 payload[1] = {0x5A};
        QCOMPARE(lib.canPortWrite(port, 0x111, payload, 1, 0), 0);
        QVERIFY(gw.inject("t2221a5"));
        QVERIFY(gw.waitForLine("^BUS peer t2221a5$").hasMatch());
        int id = 0, len = 0, flags = 0;
        quint8 data[8] = {};
        QCOMPARE(plugin.readWithin(port, 3000, &id, data, &len, &flags), 0);
        QCOMPARE(id, 0x111);
        QCOMPARE(plugin.readWithin(port, 3000, &id, data, &len, &flags), 0);
        QCOMPARE(id, 0x222);
        QCOMPARE(data[0], quint8(0xA5));
        plugin.close(port);
    }

    // An idle port answers at once, except EMS, which waits up to 100 ms
    // for its library's handler; the plug-ins with a ring leave the outputs
    // alone.
    void idleRead_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("outputsKept");
        QTest::newRow("ems") << "ems" << -109 << true;
        QTest::newRow("mhs") << "mhs" << -109 << true;
        QTest::newRow("kvaser") << "kvaser" << -109 << false;
        QTest::newRow("peak") << "peak" << -109 << false;
        QTest::newRow("castor") << "castor" << -106 << false;
    }
    void idleRead()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        QFETCH(bool, outputsKept);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int port = plugin.openOnBus();
        QVERIFY(port >= 0);
        int id = 7, len = 3, flags = 1;
        quint8 data[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(lib.canPortRead(port, &id, data, &len, &flags), result);
        const qint64 ms = timer.elapsed();
        if (key == "ems")
            QVERIFY2(ms >= 90 && ms < 10000, qPrintable(QString::number(ms)));
        if (outputsKept) {
            QCOMPARE(id, 7);
            QCOMPARE(len, 3);
            QCOMPARE(flags, 1);
            QCOMPARE(data[0], quint8(9));
        }
        plugin.close(port);
    }

    // What the adapter reports that is not a frame (a Kvaser error frame, a
    // PEAK status message) is no frame for the program; the frame after it
    // is delivered.
    void adapterReportsAreNoFrames_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("kvaser") << "kvaser";
        QTest::newRow("peak") << "peak";
    }
    void adapterReportsAreNoFrames()
    {
        QFETCH(QString, key);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int port = plugin.openOnBus();
        QVERIFY(port >= 0);
        // The adapter's connection is the one open channel of the gateway.
        const QStringList open = gw.query("CLIENTS").split(' ').filter(":open:");
        QCOMPARE(open.size(), 1);
        const int cid = open[0].section(':', 0, 0).toInt();
        // A BEL with no command waiting: the gateway refused a frame.
        QString reply;
        QVERIFY2(gw.command(QString("RAW %1 \\a").arg(cid), &reply), qPrintable(reply));
        QVERIFY(gw.inject("t3332beef"));
        int id = -1, len = -1, flags = -1;
        quint8 data[8] = {};
        QCOMPARE(plugin.readWithin(port, 3000, &id, data, &len, &flags), 0);
        QCOMPARE(id, 0x333);
        QCOMPARE(len, 2);
        plugin.close(port);
    }

    // A second opening of a channel that is open fails (EMS: its library
    // refuses a second handler; MHS: the device is busy), frees its port at
    // once and leaves the first opening working.
    void channelOpenTwice_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("ems") << "ems" << -106;
        QTest::newRow("mhs") << "mhs" << -104;
    }
    void channelOpenTwice()
    {
        QFETCH(QString, key);
        QFETCH(int, result);
        Plugin plugin(resultsPluginPath(key));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int first = plugin.openOnBus(0);
        QCOMPARE(first, 0);
        int second = 77;
        QCOMPARE(plugin.open(0, &second), result);
        QCOMPARE(second, -1);
        const int third = plugin.openOnBus(1);
        QCOMPARE(third, 1); // the failed opening's port is free again

        gw.setCursor(gw.mark());
        const quint8 data[1] = {1};
        QCOMPARE(lib.canPortWrite(first, 0x701, data, 1, 0), 0);
        QVERIFY(nextFrameOnBusIs("t701101"));
        plugin.close(third);
        plugin.close(first);
    }

    void allPortsTaken_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("ems") << "ems";
        QTest::newRow("mhs") << "mhs";
    }
    void allPortsTaken()
    {
        QFETCH(QString, key);
        Plugin plugin(resultsPluginPath(key));
        // Four ports on channels 0 to 3 (EMS: the channels CHAN00 to CHAN03).
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        QList<int> ports;
        for (int channel = 0; channel < 4; ++channel) {
            int port = -1;
            QCOMPARE(plugin.open(channel, &port), 0);
            QCOMPARE(port, channel);
            ports << port;
        }
        int port = 77;
        QCOMPARE(plugin.open(0, &port), -107);
        QCOMPARE(port, -1);
        for (int p : ports)
            plugin.close(p);
        QCOMPARE(lib.canPortClose(0), -101); // closed already
    }

    void emsStartsOnce()
    {
        Plugin plugin(resultsPluginPath("ems"));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        int port = -1;
        QCOMPARE(plugin.open(0, &port), 0);
        QCOMPARE(lib.canPortGoBusOn(port), -255); // no bit rate yet
        QCOMPARE(lib.canPortBitrateSet(port, 250000), 0);
        QCOMPARE(lib.canPortGoBusOn(port), 0);
        QCOMPARE(lib.canPortGoBusOn(port), -255);
        plugin.close(port);
    }

    // An idle EMS port's receive thread turns the library's message pump
    // and then waits, rather than spinning on the port lock.
    void emsReceiveThreadWaits()
    {
        Plugin plugin(resultsPluginPath("ems"));
        CanPortLibrary &lib = plugin.lib;
        QCOMPARE(lib.canPortLibraryInit(), 0);
        const int port = plugin.openOnBus();
        QVERIFY(port >= 0);
        QElapsedTimer wall;
        const std::clock_t cpu0 = std::clock();
        wall.start();
        QTest::qWait(300); // the port lies idle for this long
        const double cpuMs = double(std::clock() - cpu0) * 1000.0 / CLOCKS_PER_SEC;
        const double wallMs = double(wall.elapsed());
        QVERIFY2(cpuMs < 0.25 * wallMs,
                 qPrintable(QString("%1 ms of CPU in %2 ms").arg(cpuMs).arg(wallMs)));
        plugin.close(port);
    }

    // Without its library the Kvaser plug-in answers "Driver error." from
    // every export.
    void kvaserWithoutLibrary()
    {
        QTemporaryDir dir;
        const QString file = CanPortLibrary::fileNameForKey("kvaser");
        QVERIFY(QDir().mkpath(dir.filePath("Drivers/buslink")));
        QVERIFY(QFile::copy(resultsPluginPath("kvaser"), dir.filePath("Drivers/buslink/" + file)));
        CanPortLibrary lib(dir.filePath("Drivers/buslink/" + file));
        QCOMPARE(lib.bindState(), int(CanPortLibrary::Bound));
        QCOMPARE(lib.canPortLibraryInit(), -106);
        int port = 77, id = 0, len = 0, flags = 0;
        quint8 data[8] = {};
        QCOMPARE(lib.canPortOpen(0, &port), -106);
        QCOMPARE(lib.canPortBitrateSet(0, 500000), -106);
        QCOMPARE(lib.canPortGoBusOn(0), -106);
        QCOMPARE(lib.canPortWrite(0, 0x100, data, 1, 0), -106);
        QCOMPARE(lib.canPortRead(0, &id, data, &len, &flags), -106);
        QCOMPARE(lib.canPortGoBusOff(0), -106);
        QCOMPARE(lib.canPortClose(0), -106);
    }
};

ZOR_TEST(TestAdapterPluginResults)
#include "tst_adapterpluginresults.moc"
