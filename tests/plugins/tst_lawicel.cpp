// The Lawicel plug-in on the D2XX stand-in, whose FTDI device is a simulated
// serial ASCII adapter on the simulated CAN gateway: opening (device list,
// handshake, failures undone), the bytes each command and frame puts on the
// wire, frames read back, command answers, echo, the receive ring, closing
// an adapter that fell silent mid-reply, and an SDO read from a simulated
// CANopen node through the plug-in driver.
#include "adapterplugintest.h"
#include "ftd2xx.h"
#include "simgateway.h"
#include "zorcandriverbuslink.h"
#include "zortest.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace AdapterTest;

class TestLawicel : public QObject
{
    Q_OBJECT

    QScopedPointer<SimGateway> gw;
    QLibrary ftdi;
    ZorFtdiSimControlFn control = nullptr;
    ZorFtdiSimStateFn state = nullptr;
    ZorFtdiSimWrittenFn writtenFn = nullptr;
    PluginFunctions plugin;

    // What the plug-in wrote to FTDI device 0 since it was opened.
    QByteArray written()
    {
        QByteArray bytes(writtenFn(0, nullptr, 0), '\0');
        writtenFn(0, bytes.data(), bytes.size());
        return bytes;
    }

    bool sim(const QByteArray &command) { return control(command.constData()) == 0; }

    // Opens port 0 directly through the plug-in functions, on the bus at 500k.
    int32_t openDirect(bool busOn = true)
    {
        int32_t port = -1;
        if (plugin.init() != 0 || plugin.open(0, &port) != 0 || plugin.bitrate(port, 500000) != 0)
            return -1;
        if (busOn && plugin.busOn(port) != 0)
            return -1;
        return port;
    }

private slots:
    void initTestCase()
    {
        ftdi.setFileName(standInPath("ftd2xx"));
        QVERIFY2(ftdi.load(), qPrintable(ftdi.errorString()));
        control = reinterpret_cast<ZorFtdiSimControlFn>(ftdi.resolve("ZorFtdiSimControl"));
        state = reinterpret_cast<ZorFtdiSimStateFn>(ftdi.resolve("ZorFtdiSimState"));
        writtenFn = reinterpret_cast<ZorFtdiSimWrittenFn>(ftdi.resolve("ZorFtdiSimWritten"));
        QVERIFY(control && state && writtenFn);
        QVERIFY(plugin.load(QStringLiteral("lawicel")));
    }

    void init()
    {
        gw.reset(new SimGateway);
        QVERIFY2(gw->start({QStringLiteral("--node"), QStringLiteral("5")}), qPrintable(gw->errorString()));
        gw->exportAddress();
        QVERIFY(sim("reset"));
    }

    void cleanup()
    {
        gw.reset(); // restores QUORVANE_SIM_GATEWAY
        QCOMPARE(state(0, "open"), 0);
    }

    // An SDO read from node 5 end to end: plug-in driver, Lawicel plug-in,
    // D2XX stand-in, simulated adapter, gateway, simulated CANopen node.
    void sdoUploadThroughDriver()
    {
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        QVERIFY2(driver.open(QStringLiteral("lawicel:0"), 1000000, 0, 0, 0), qPrintable(driver.lastErrorText()));
        // Off the bus first, handshake, version, bit rate, on the bus.
        QCOMPARE(written(), QByteArray("C\r\r\rC\rV\rS8\rO\r"));
        QCOMPARE(sdoUpload(driver, wake, 5, 0x1000, 0), QByteArray::fromHex("4200100092010200"));
        QVERIFY(written().endsWith("t60584000100000000000\r"));
        driver.close();
        QVERIFY(written().endsWith("C\r"));
        QCOMPARE(state(0, "opens"), 1);
        QCOMPARE(state(0, "closes"), 1);
    }

    void frameCommandsOnTheWire_data()
    {
        QTest::addColumn<uint>("id");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("flags"); // frame-record flags: 0x02 29-bit, 0x04 remote
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("29-bit data") << 0x123u << QByteArray::fromHex("0102") << 0x02 << 2
                                     << QByteArray("T0000012320102\r");
        QTest::newRow("11-bit empty") << 0x7ffu << QByteArray() << 0 << 0 << QByteArray("t7ff0\r");
        QTest::newRow("11-bit remote") << 0x123u << QByteArray() << 0x04 << 3 << QByteArray("r1233\r");
        QTest::newRow("29-bit remote") << 0x1abcdefu << QByteArray() << 0x06 << 8
                                       << QByteArray("R01abcdef8\r");
        QTest::newRow("8 bytes") << 0x601u << QByteArray::fromHex("4000100000000000") << 0 << 8
                                 << QByteArray("t60184000100000000000\r");
        QTest::newRow("11-bit id masked") << 0x7801u << QByteArray::fromHex("aa") << 0 << 1
                                          << QByteArray("t0011aa\r");
        QTest::newRow("29-bit id masked") << 0xe0000123u << QByteArray() << 0x02 << 0
                                          << QByteArray("T000001230\r");
    }

    void frameCommandsOnTheWire()
    {
        QFETCH(uint, id);
        QFETCH(QByteArray, data);
        QFETCH(int, flags);
        QFETCH(int, size);
        QFETCH(QByteArray, line);
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        QVERIFY2(driver.open(QStringLiteral("lawicel"), 500000, 0, 0, 0), qPrintable(driver.lastErrorText()));
        const int before = written().size();
        QByteArray rec = record(id, data, quint8(flags), size);
        QVERIFY(driver.queueTx(rec));
        QVERIFY(driver.flushTx(true));
        QTRY_COMPARE(written().mid(before), line);
        // The adapter put it on the bus as it was written.
        QVERIFY(gw->waitForLine(QStringLiteral("^BUS c\\d+ %1$").arg(QString::fromLatin1(line.chopped(1)))).hasMatch());
    }

    // Adapter lines as the receive thread meets them; each is followed by
    // the frame line t7000, which must arrive whatever came before it.
    void framesFromAdapter_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("id"); // -1: no frame
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("29-bit remote") << QByteArray("R000001232\\r") << 0x123 << 2 << 0x06 << QByteArray();
        QTest::newRow("11-bit 8 bytes") << QByteArray("t1238aabbccddeeff0011\\r") << 0x123 << 8 << 0
                                        << QByteArray::fromHex("aabbccddeeff0011");
        QTest::newRow("29-bit data") << QByteArray("T1234abcd2a0b0\\r") << 0x1234abcd << 2 << 0x02
                                     << QByteArray::fromHex("a0b0");
        QTest::newRow("11-bit remote") << QByteArray("r7ff0\\r") << 0x7ff << 0 << 0x04 << QByteArray();
        QTest::newRow("11-bit id masked") << QByteArray("tfff1ff\\r") << 0x7ff << 1 << 0
                                          << QByteArray::fromHex("ff");
        QTest::newRow("29-bit id masked") << QByteArray("Tffffffff0\\r") << 0x1fffffff << 0 << 0x02
                                          << QByteArray();
        QTest::newRow("length 9 dropped") << QByteArray("t12391122334455667788\\r") << -1 << 0 << 0
                                          << QByteArray();
        QTest::newRow("short line dropped") << QByteArray("t1232aa\\r") << -1 << 0 << 0 << QByteArray();
        QTest::newRow("not hex dropped") << QByteArray("t12x0\\r") << -1 << 0 << 0 << QByteArray();
        QTest::newRow("BEL inside dropped") << QByteArray("t1232aa\\abb\\r") << -1 << 0 << 0 << QByteArray();
    }

    void framesFromAdapter()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, id);
        QFETCH(int, size);
        QFETCH(int, flags);
        QFETCH(QByteArray, data);
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        QVERIFY2(driver.open(QStringLiteral("lawicel:0"), 250000, 0, 0, 0), qPrintable(driver.lastErrorText()));
        QVERIFY(sim("send 0 " + text + "t7000\\r"));
        const QList<VSCAN_MSG> got = collect(driver, wake, [](const QList<VSCAN_MSG> &f) {
            return !f.isEmpty() && f.last().Id == 0x700;
        });
        QVERIFY(!got.isEmpty());
        QCOMPARE(got.last().Id, 0x700u);
        QCOMPARE(got.size(), id < 0 ? 1 : 2);
        if (id < 0)
            return;
        QCOMPARE(got.first().Id, quint32(id));
        QCOMPARE(int(got.first().Size), size);
        QCOMPARE(int(got.first().Flags), flags);
        if (!(flags & 0x04))
            QCOMPARE(dataOf(got.first()), data);
    }

    // The description of FTDI device 0 must be part of "CANUSB" or
    // "USB-CAN"; whatever fails, the device is closed again.
    void openRefusals_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<int>("result");
        QTest::newRow("no gateway: no device") << QByteArray() << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("CANUSB") << QByteArray("devices CANUSB,A1,3") << 0;
        QTest::newRow("USB-CAN") << QByteArray("devices USB-CAN,A1,3") << 0;
        QTest::newRow("part of CANUSB") << QByteArray("devices CAN,A1,3") << 0;
        QTest::newRow("other description") << QByteArray("devices USB Serial Converter,A1,3")
                                           << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("empty description") << QByteArray("devices ,A1,3") << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("only device 0 counts") << QByteArray("devices FT232R,A1,3;CANUSB,A2,4")
                                              << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("mute adapter") << QByteArray("cut 0 0") << int(BUSLINK_HW_UNDEFINED);
        QTest::newRow("no version answer") << QByteArray("ignore 0 V") << int(BUSLINK_HW_UNDEFINED);
        QTest::newRow("bit rate refused") << QByteArray("refuse 0 S") << int(BUSLINK_DRIVER_ERROR);
        QTest::newRow("bus on refused") << QByteArray("refuse 0 O") << int(BUSLINK_DRIVER_ERROR);
        QTest::newRow("800 kbit/s") << QByteArray("bitrate 800000") << int(BUSLINK_UNSUPPORTED_BITRATE);
    }

    void openRefusals()
    {
        QFETCH(QByteArray, setup);
        QFETCH(int, result);
        int bitRate = 500000;
        if (setup.isEmpty())
            gw.reset(); // QUORVANE_SIM_GATEWAY unset again
        else if (setup.startsWith("bitrate "))
            bitRate = setup.mid(8).toInt();
        else
            QVERIFY(sim(setup));
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        const bool opened = driver.open(QStringLiteral("lawicel:0"), bitRate, 0, 0, 0);
        QCOMPARE(opened, result == 0);
        // Once open, the receive thread keeps the result of its latest read
        // there ("No message." while idle): only a failed open is checked.
        if (result != 0) {
            QCOMPARE(driver.lastResult(), result);
            QCOMPARE(driver.lastErrorText(),
                     QStringLiteral("Buslink/lawicel error: ") + CanPortLibrary::canPortErrorText(result));
            // Nothing left open after a failed open: the program never
            // closes a port that canPortOpen refused.
            QCOMPARE(state(0, "open"), 0);
            QCOMPARE(state(0, "opens"), state(0, "closes"));
        }
        if (result == BUSLINK_UNSUPPORTED_BITRATE)
            QVERIFY(!written().contains('S')); // nothing sent for it
    }

    // No answer to the bit-rate command within 5000 ms: -104.
    void bitRateUnanswered()
    {
        QVERIFY(sim("ignore 0 S"));
        ZorCanDriverBuslink driver;
        QElapsedTimer t;
        t.start();
        QVERIFY(!driver.open(QStringLiteral("lawicel:0"), 500000, 0, 0, 0));
        QCOMPARE(driver.lastResult(), int(BUSLINK_HW_NOT_CONNECTED));
        QVERIFY(t.elapsed() >= 4900);
        QVERIFY(written().endsWith("S6\r"));
        QCOMPARE(state(0, "open"), 0);
    }

    // A refused bus on leaves the port not started: frames are dropped.
    void busOnRefusedLeavesPortStopped()
    {
        QVERIFY(sim("refuse 0 O"));
        const int32_t port = openDirect(false);
        QVERIFY(port >= 0);
        QCOMPARE(plugin.busOn(port), int32_t(BUSLINK_DRIVER_ERROR));
        QVERIFY(sim("send 0 t1230\\r"));
        QCOMPARE(plugin.busOff(port), 0); // answered after the frame line: it was parsed
        CanPortFrame f;
        QCOMPARE(readFrame(plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE));
        QCOMPARE(plugin.close(port), 0);
    }

    // Failures of a write are never reported as success, and leave no echo.
    void writeFailures()
    {
        const int32_t port = openDirect();
        QVERIFY(port >= 0);
        QCOMPARE(plugin.echo(port, 0x101), 0); // low byte 1: echo on
        const uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        const int before = written().size();
        QCOMPARE(plugin.write(port, 0x100, data, 9, 0), int32_t(BUSLINK_CAN_LAYER_FAILURE));
        QCOMPARE(plugin.write(port, 0x100, data, -1, 0), int32_t(BUSLINK_CAN_LAYER_FAILURE));
        QCOMPARE(written().size(), before); // nothing sent

        QVERIFY(sim("refuse 0 t"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(plugin.write(port, 0x100, data, 2, 0), int32_t(BUSLINK_DRIVER_ERROR));
        // The refusal ends the wait, not the 5000 ms command time-out.
        QVERIFY2(t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
        QVERIFY(sim("refuse 0"));

        QVERIFY(sim("failwrite 0 1"));
        QCOMPARE(plugin.write(port, 0x100, data, 2, 0), int32_t(BUSLINK_DRIVER_ERROR));
        QCOMPARE(plugin.busOff(port), int32_t(BUSLINK_DRIVER_ERROR));
        QVERIFY(sim("failwrite 0 0"));

        CanPortFrame f;
        QCOMPARE(readFrame(plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE)); // no echo of a failure
        QCOMPARE(plugin.write(port, 0x100, data, 2, 0), 0);
        QCOMPARE(readFrame(plugin, port, &f), 0);
        QCOMPARE(plugin.close(port), 0);
    }

    void echoReturnsEachFrameOnce()
    {
        const int32_t port = openDirect();
        QVERIFY(port >= 0);
        QCOMPARE(plugin.echo(port, 1), 0);
        const uint8_t data[3] = {0xaa, 0xbb, 0xcc};
        QCOMPARE(plugin.write(port, 0x1234567, data, 3, BUSLINK_FLAG_EXTENDED), 0);
        QCOMPARE(plugin.write(port, 0x7ff, data, 2, BUSLINK_FLAG_REMOTE), 0);
        CanPortFrame f;
        QCOMPARE(readFrame(plugin, port, &f), 0);
        QCOMPARE(f.id, 0x1234567);
        QCOMPARE(f.len, 3);
        QCOMPARE(f.flags, int32_t(BUSLINK_FLAG_EXTENDED));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(f.data), 3), QByteArray::fromHex("aabbcc"));
        QCOMPARE(readFrame(plugin, port, &f), 0);
        QCOMPARE(f.id, 0x7ff);
        QCOMPARE(f.len, 2);
        QCOMPARE(f.flags, int32_t(BUSLINK_FLAG_REMOTE));
        QCOMPARE(f.data[0], uint8_t(0)); // no data for a remote frame
        f.id = 77;
        QCOMPARE(readFrame(plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE));
        QCOMPARE(f.id, 0); // readFrame cleared it; the plug-in left it untouched
        QCOMPARE(plugin.echo(port, 0x100), 0); // low byte 0: off
        QCOMPARE(plugin.write(port, 0x100, data, 1, 0), 0);
        QCOMPARE(readFrame(plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE));
        QCOMPARE(plugin.close(port), 0);
    }

    // 199 frames wait unread; the rest is dropped, the oldest kept.
    void ringHolds199Frames()
    {
        const int32_t port = openDirect();
        QVERIFY(port >= 0);
        QStringList lines;
        for (int i = 0; i < 210; ++i)
            lines << QStringLiteral("t%1%2").arg(i, 3, 16, QLatin1Char('0')).arg(0);
        QVERIFY(gw->inject(lines.join(QLatin1Char(' '))));
        // The answer to "C" comes after every frame line the adapter had.
        QCOMPARE(plugin.busOff(port), 0);
        CanPortFrame f;
        for (int i = 0; i < 199; ++i) {
            QCOMPARE(readFrame(plugin, port, &f), 0);
            QCOMPARE(f.id, i);
        }
        QCOMPARE(readFrame(plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE));
        QCOMPARE(plugin.close(port), 0);
    }

    // The adapter falls silent in the middle of a frame line: closing still
    // returns at once, and closes the device once.
    void closeWhenAdapterStopsMidReply()
    {
        const int32_t port = openDirect();
        QVERIFY(port >= 0);
        QVERIFY(sim("send 0 t60"));
        QVERIFY(sim("cut 0 0"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(plugin.close(port), 0);
        // Not held by the 5000 ms command time-out.
        QVERIFY2(t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(state(0, "open"), 0);
        QCOMPARE(state(0, "closes"), 1);
        QCOMPARE(plugin.close(port), int32_t(BUSLINK_PORT_NOT_USABLE)); // once only
    }

    void portArgumentsChecked_data()
    {
        QTest::addColumn<int>("port");
        QTest::newRow("-1") << -1;
        QTest::newRow("beyond the table") << 4;
        QTest::newRow("free slot") << 1;
    }

    void portArgumentsChecked()
    {
        QFETCH(int, port);
        const int32_t open = openDirect();
        QCOMPARE(open, 0);
        const uint8_t data[1] = {0};
        int32_t id = 5, len = 5, flags = 5;
        const int32_t bad = BUSLINK_PORT_NOT_USABLE;
        QCOMPARE(plugin.bitrate(port, 500000), bad);
        QCOMPARE(plugin.echo(port, 1), bad);
        QCOMPARE(plugin.busOn(port), bad);
        QCOMPARE(plugin.busOff(port), bad);
        QCOMPARE(plugin.write(port, 1, data, 1, 0), bad);
        QCOMPARE(plugin.read(port, &id, nullptr, &len, &flags), bad);
        QCOMPARE(plugin.close(port), bad);
        QCOMPARE(id, 5);
        QCOMPARE(plugin.close(open), 0);
        // A refused open hands out no port.
        int32_t handed = 3;
        QVERIFY(sim("devices Other,A1,3"));
        QCOMPARE(plugin.open(0, &handed), int32_t(BUSLINK_HW_NOT_CONNECTED));
        QCOMPARE(handed, -1);
        QCOMPARE(plugin.open(0, nullptr), bad);
    }
};

ZOR_TEST(TestLawicel)
#include "tst_lawicel.moc"
