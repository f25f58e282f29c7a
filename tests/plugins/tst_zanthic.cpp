// The Zanthic plug-in through its USB access layer on the USB device-services
// stand-in, whose devices are simulated Zanthic adapters on the simulated CAN
// gateway: the request bytes of opening, bit rate, transmit and closing,
// frames received, failures of each function, echo, the receive ring,
// closing an adapter that stopped answering, two adapters on one bus, and an
// SDO read from a simulated CANopen node through the plug-in driver.
#include "adapterplugintest.h"
#include "simgateway.h"
#include "usbdevio.h"
#include "zorcandriverbuslink.h"
#include "zortest.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace AdapterTest;

class TestZanthic : public QObject
{
    Q_OBJECT

    QScopedPointer<SimGateway> gw;
    QLibrary usb;
    ZorUsbSimControlFn control = nullptr;
    ZorUsbSimRequestsFn requestsFn = nullptr;
    ZorUsbSimStateFn state = nullptr;
    QScopedPointer<PluginFunctions> plugin;

    bool sim(const QByteArray &command) { return control(command.constData()) == 0; }

    // The requests device i received since the last reset (receive polls
    // left out), one hex line each.
    QStringList requests(int device = 0)
    {
        QByteArray text(requestsFn(device, nullptr, 0), '\0');
        requestsFn(device, text.data(), text.size());
        return QString::fromLatin1(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    int32_t openDirect(int channel = 0, int bitRate = 500000, bool busOn = true)
    {
        int32_t port = -1;
        if (plugin->init() != 0 || plugin->open(channel, &port) != 0)
            return -1;
        if (bitRate && plugin->bitrate(port, bitRate) != 0)
            return -1;
        if (busOn && plugin->busOn(port) != 0)
            return -1;
        return port;
    }

private slots:
    void initTestCase()
    {
        usb.setFileName(standInPath("usbdevio"));
        QVERIFY2(usb.load(), qPrintable(usb.errorString()));
        control = reinterpret_cast<ZorUsbSimControlFn>(usb.resolve("ZorUsbSimControl"));
        requestsFn = reinterpret_cast<ZorUsbSimRequestsFn>(usb.resolve("ZorUsbSimRequests"));
        state = reinterpret_cast<ZorUsbSimStateFn>(usb.resolve("ZorUsbSimState"));
        QVERIFY(control && requestsFn && state);
    }

    void init()
    {
        gw.reset(new SimGateway);
        QVERIFY2(gw->start({QStringLiteral("--node"), QStringLiteral("5")}), qPrintable(gw->errorString()));
        gw->exportAddress();
        QVERIFY(sim("reset"));
        // Loaded for each test and unloaded after it, so that the plug-in's
        // device table starts empty, as after the program loads it.
        plugin.reset(new PluginFunctions);
        QVERIFY(plugin->load(QStringLiteral("zanthic")));
    }

    void cleanup()
    {
        plugin->library.unload();
        plugin.reset();
        gw.reset();
        QCOMPARE(state(0, "handles"), 0); // the device closed with the library
        QCOMPARE(state(0, "started"), 0);
    }

    // An SDO read from node 5 end to end: plug-in driver, Zanthic plug-in,
    // USB access layer, device services, simulated adapter, gateway, node.
    void sdoUploadThroughDriver()
    {
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        QVERIFY2(driver.open(QStringLiteral("zanthic:0"), 1000000, 0, 0, 0), qPrintable(driver.lastErrorText()));
        // Reset, information, then bit rate and start with the code of 1000 kbit/s.
        QCOMPARE(requests(), QStringList({"0004", "0002", "000608"}));
        QCOMPARE(sdoUpload(driver, wake, 5, 0x1000, 0), QByteArray::fromHex("4200100092010200"));
        QCOMPARE(requests().value(3), QStringLiteral("00100000060500084000100000000000"));
        driver.close();
        // Bus off and close each reset the adapter.
        QCOMPARE(requests().mid(4), QStringList({"0004", "0004"}));
        QCOMPARE(state(0, "started"), 0);
    }

    void transmitRequests_data()
    {
        QTest::addColumn<uint>("id");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("flags"); // frame-record flags: 0x02 29-bit, 0x04 remote
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("bus");
        QTest::newRow("29-bit data") << 0x1234u << QByteArray::fromHex("aabb") << 0x02 << 2
                                     << "0010800012340002aabb" << "T000012342aabb";
        QTest::newRow("11-bit remote") << 0x123u << QByteArray() << 0x04 << 3 << "0010400001230003000000"
                                       << "r1233";
        QTest::newRow("29-bit remote") << 0x1abcdefu << QByteArray() << 0x06 << 0 << "0010c1abcdef0000"
                                       << "R01abcdef0";
        QTest::newRow("11-bit id masked") << 0x7801u << QByteArray::fromHex("11") << 0 << 1
                                          << "001000000001000111" << "t001111";
    }

    void transmitRequests()
    {
        QFETCH(uint, id);
        QFETCH(QByteArray, data);
        QFETCH(int, flags);
        QFETCH(int, size);
        QFETCH(QString, request);
        QFETCH(QString, bus);
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        QVERIFY2(driver.open(QStringLiteral("zanthic"), 250000, 0, 0, 0), qPrintable(driver.lastErrorText()));
        QCOMPARE(requests().value(2), QStringLiteral("000605")); // 250 kbit/s: code 5
        QByteArray rec = record(id, data, quint8(flags), size);
        QVERIFY(driver.queueTx(rec));
        QVERIFY(driver.flushTx(true));
        QTRY_COMPARE(requests().value(3), request);
        QVERIFY(gw->waitForLine(QStringLiteral("^BUS c\\d+ %1$").arg(bus)).hasMatch());
    }

    void framesFromBus_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<uint>("id");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("29-bit remote") << "R000001232" << 0x123u << 2 << 0x06 << QByteArray();
        QTest::newRow("29-bit data") << "T1234abcd2a0b0" << 0x1234abcdu << 2 << 0x02 << QByteArray::fromHex("a0b0");
        QTest::newRow("11-bit 8 bytes") << "t1238aabbccddeeff0011" << 0x123u << 8 << 0
                                        << QByteArray::fromHex("aabbccddeeff0011");
        QTest::newRow("11-bit remote") << "r7ff0" << 0x7ffu << 0 << 0x04 << QByteArray();
    }

    void framesFromBus()
    {
        QFETCH(QString, line);
        QFETCH(uint, id);
        QFETCH(int, size);
        QFETCH(int, flags);
        QFETCH(QByteArray, data);
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        QVERIFY2(driver.open(QStringLiteral("zanthic:0"), 500000, 0, 0, 0), qPrintable(driver.lastErrorText()));
        QVERIFY(gw->inject(line));
        VSCAN_MSG f;
        QVERIFY(receiveId(driver, wake, id, &f));
        QCOMPARE(int(f.Size), size);
        QCOMPARE(int(f.Flags), flags);
        if (!(flags & 0x04))
            QCOMPARE(dataOf(f), data);
    }

    // Receive answers as the adapter might send them; each is followed by
    // a frame 700h, which must arrive whatever came before it.
    void receiveAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("id"); // -1: no frame
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("flags");
        QTest::newRow("11-bit data") << QByteArray("150100090200" "00000123" "0102") << 0x123 << 2 << 0;
        QTest::newRow("11-bit id masked") << QByteArray("150100080100" "0000ffff" "aa") << 0x7ff << 1 << 0;
        QTest::newRow("29-bit id masked") << QByteArray("150100070080" "ffffffff") << 0x1fffffff << 0 << 0x02;
        QTest::newRow("29-bit remote") << QByteArray("1501000702c0" "00000123") << 0x123 << 2 << 0x06;
        QTest::newRow("length 9 dropped") << QByteArray("150100100900" "00000123" "010203040506070809") << -1 << 0 << 0;
        QTest::newRow("cut short dropped") << QByteArray("150100090200" "00000123") << -1 << 0 << 0;
        QTest::newRow("no frame") << QByteArray("1500") << -1 << 0 << 0;
    }

    void receiveAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, id);
        QFETCH(int, size);
        QFETCH(int, flags);
        QWaitCondition wake;
        ZorCanDriverBuslink driver(&wake);
        QVERIFY2(driver.open(QStringLiteral("zanthic:0"), 500000, 0, 0, 0), qPrintable(driver.lastErrorText()));
        QVERIFY(sim("rxanswer 0 " + answer));
        QVERIFY(sim("rxanswer 0 150100070000" "00000700"));
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
        if (size && !(flags & 0x04))
            QCOMPARE(quint8(got.first().Data[0]), quint8(id == 0x123 ? 0x01 : 0xaa));
    }

    // Two adapters on one bus: each is a device number of its own.
    void twoAdaptersOneBus()
    {
        QVERIFY(sim("devices 2"));
        QWaitCondition wakeA, wakeB;
        ZorCanDriverBuslink a(&wakeA), b(&wakeB);
        QVERIFY2(a.open(QStringLiteral("zanthic:0"), 500000, 0, 0, 0), qPrintable(a.lastErrorText()));
        QVERIFY2(b.open(QStringLiteral("ZANTHIC:1"), 500000, 0, 0, 0), qPrintable(b.lastErrorText()));
        QByteArray rec = record(0x321, QByteArray::fromHex("0102"));
        QVERIFY(a.queueTx(rec));
        QVERIFY(a.flushTx(true));
        VSCAN_MSG f;
        QVERIFY(receiveId(b, wakeB, 0x321, &f));
        QCOMPARE(dataOf(f), QByteArray::fromHex("0102"));
        QCOMPARE(requests(1).value(0), QStringLiteral("0004"));
    }

    void openRefusals_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<int>("result");
        QTest::newRow("device number 10") << "zanthic:10" << QByteArray() << 500000 << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("no such device") << "zanthic:1" << QByteArray() << 500000 << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("no gateway: no device") << "zanthic:0" << QByteArray("nogateway") << 500000
                                               << int(BUSLINK_HW_NOT_CONNECTED);
        QTest::newRow("800 kbit/s") << "zanthic:0" << QByteArray() << 800000 << int(BUSLINK_UNSUPPORTED_BITRATE);
    }

    void openRefusals()
    {
        QFETCH(QString, port);
        QFETCH(QByteArray, setup);
        QFETCH(int, bitRate);
        QFETCH(int, result);
        if (setup == "nogateway")
            gw.reset();
        else if (!setup.isEmpty())
            QVERIFY(sim(setup));
        ZorCanDriverBuslink driver;
        QVERIFY(!driver.open(port, bitRate, 0, 0, 0));
        QCOMPARE(driver.lastResult(), result);
        QCOMPARE(driver.lastErrorText(),
                 QStringLiteral("Buslink/zanthic error: ") + CanPortLibrary::canPortErrorText(result));
    }

    void functionResults()
    {
        // Bus on before any bit rate: -108, and nothing is sent.
        int32_t port = openDirect(0, 0, false);
        QVERIFY(port >= 0);
        QCOMPARE(plugin->busOn(port), int32_t(BUSLINK_UNSUPPORTED_BITRATE));
        QCOMPARE(requests(), QStringList({"0004", "0002"}));
        QCOMPARE(plugin->bitrate(port, 800000), int32_t(BUSLINK_UNSUPPORTED_BITRATE));
        // Writing on a port not started: -100.
        const uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        QCOMPARE(plugin->write(port, 0x100, data, 1, 0), int32_t(BUSLINK_CAN_LAYER_FAILURE));
        // Nothing at the adapter: -109, outputs untouched.
        int32_t id = 7, len = 7, flags = 7;
        uint8_t out[8] = {7};
        QCOMPARE(plugin->read(port, &id, out, &len, &flags), int32_t(BUSLINK_NO_MESSAGE));
        QCOMPARE(id, 7);
        QCOMPARE(len, 7);
        QCOMPARE(out[0], uint8_t(7));
        QCOMPARE(plugin->bitrate(port, 250000), 0);
        QCOMPARE(plugin->busOn(port), 0);
        QCOMPARE(requests().last(), QStringLiteral("000605"));

        // Lengths above 8 are refused before anything is sent; a refused
        // transmit is reported, never taken for success.
        const int before = requests().size();
        QCOMPARE(plugin->write(port, 0x100, data, 9, 0), int32_t(BUSLINK_CAN_LAYER_FAILURE));
        QCOMPARE(requests().size(), before);
        QCOMPARE(plugin->echo(port, 1), 0);
        QVERIFY(sim("refusetx 0 1"));
        QCOMPARE(plugin->write(port, 0x100, data, 2, 0), int32_t(BUSLINK_CAN_LAYER_FAILURE));
        QVERIFY(sim("refusetx 0 0"));
        CanPortFrame f;
        QCOMPARE(readFrame(*plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE)); // no echo of it

        // Echo: each frame sent comes back once; a remote one without data.
        QCOMPARE(plugin->write(port, 0x1234567, data, 3, BUSLINK_FLAG_EXTENDED), 0);
        QCOMPARE(plugin->write(port, 0x7ff, data, 2, BUSLINK_FLAG_REMOTE), 0);
        QCOMPARE(readFrame(*plugin, port, &f), 0);
        QCOMPARE(f.id, 0x1234567);
        QCOMPARE(f.len, 3);
        QCOMPARE(f.flags, int32_t(BUSLINK_FLAG_EXTENDED));
        QCOMPARE(f.data[2], uint8_t(3));
        QCOMPARE(readFrame(*plugin, port, &f), 0);
        QCOMPARE(f.id, 0x7ff);
        QCOMPARE(f.len, 2);
        QCOMPARE(f.flags, int32_t(BUSLINK_FLAG_REMOTE));
        QCOMPARE(f.data[0], uint8_t(0));
        QCOMPARE(readFrame(*plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE));

        // Bus off answers -255 even though the reset went through.
        QCOMPARE(plugin->busOff(port), int32_t(BUSLINK_GENERAL_ERROR));
        QCOMPARE(requests().last(), QStringLiteral("0004"));
        QCOMPARE(state(0, "started"), 0);
        QCOMPARE(plugin->close(port), 0);
        QCOMPARE(plugin->close(-1), int32_t(BUSLINK_PORT_NOT_USABLE));
        QCOMPARE(plugin->close(port), int32_t(BUSLINK_PORT_NOT_USABLE));
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
        QCOMPARE(plugin->bitrate(port, 500000), bad);
        QCOMPARE(plugin->echo(port, 1), bad);
        QCOMPARE(plugin->busOn(port), bad);
        QCOMPARE(plugin->busOff(port), bad);
        QCOMPARE(plugin->write(port, 1, data, 1, 0), bad);
        QCOMPARE(plugin->read(port, &id, nullptr, &len, &flags), bad);
        QCOMPARE(plugin->close(port), bad);
        QCOMPARE(id, 5);
        QCOMPARE(plugin->close(open), 0);
    }

    // Four ports, the fifth open refused; a refused open hands out no port.
    void fifthOpenRefused()
    {
        QVERIFY(plugin->init() == 0);
        int32_t ports[4];
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(plugin->open(0, &ports[i]), 0);
            QCOMPARE(ports[i], i);
        }
        int32_t fifth = 9;
        QCOMPARE(plugin->open(0, &fifth), int32_t(BUSLINK_OUT_OF_INTERFACES));
        QCOMPARE(fifth, -1);
        QCOMPARE(plugin->close(2), 0);
        QCOMPARE(plugin->open(7, &fifth), int32_t(BUSLINK_HW_NOT_CONNECTED)); // slot freed again
        QCOMPARE(fifth, -1);
        QCOMPARE(plugin->open(0, &fifth), 0);
        QCOMPARE(fifth, 2);
        for (int32_t p : {0, 1, 2, 3})
            QCOMPARE(plugin->close(p), 0);
    }

    // 99 frames wait unread; the rest is dropped, the oldest kept.
    void ringHolds99Frames()
    {
        const int32_t port = openDirect();
        QVERIFY(port >= 0);
        QStringList lines;
        for (int i = 0; i < 110; ++i)
            lines << QStringLiteral("t%1%2").arg(i, 3, 16, QLatin1Char('0')).arg(0);
        QVERIFY(gw->inject(lines.join(QLatin1Char(' '))));
        // Everything asked for, then two more receive requests: the receive
        // thread has filed (or dropped) the last frame.
        QTRY_COMPARE(state(0, "queued"), 0);
        const int polls = state(0, "polls");
        QTRY_VERIFY(state(0, "polls") >= polls + 2);
        CanPortFrame f;
        for (int i = 0; i < 99; ++i) {
            QCOMPARE(readFrame(*plugin, port, &f), 0);
            QCOMPARE(f.id, i);
        }
        QCOMPARE(readFrame(*plugin, port, &f), int32_t(BUSLINK_NO_MESSAGE));
        QCOMPARE(plugin->close(port), 0);
    }

    // The adapter stops answering while the receive thread waits for an
    // answer: closing still returns at once.
    void closeWhenAdapterStopsAnswering()
    {
        const int32_t port = openDirect();
        QVERIFY(port >= 0);
        QVERIFY(sim("mute 0 1"));
        QTRY_COMPARE(state(0, "pending"), 1); // the thread waits for an answer
        QElapsedTimer t;
        t.start();
        QCOMPARE(plugin->close(port), 0);
        // Not held by the 10000 ms transfer time-out.
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(state(0, "pending"), 0);
    }
};

ZOR_TEST(TestZanthic)
#include "tst_zanthic.moc"
