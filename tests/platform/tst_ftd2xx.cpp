// The D2XX stand-in bound by name at run time, as the serial-line driver
// binds it: the entry points, the device list with and without a gateway,
// one handle per device, the adapter's answers and frames with time stamps,
// read time-outs, event notification, and a close that ends a blocked read.
#include "ftd2xx.h"
#include "simgateway.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QLibrary>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

struct Ftdi
{
    QLibrary lib;
    FT_ListDevicesFn listDevices = nullptr;
    FT_OpenFn open = nullptr;
    FT_OpenExFn openEx = nullptr;
    FT_CloseFn close = nullptr;
    FT_ReadFn read = nullptr;
    FT_WriteFn write = nullptr;
    FT_GetQueueStatusFn queueStatus = nullptr;
    FT_SetTimeoutsFn setTimeouts = nullptr;
    FT_SetEventNotificationFn setEvents = nullptr;
    FT_GetComPortNumberFn comPort = nullptr;
    FT_GetModemStatusFn modemStatus = nullptr;
    FT_PurgeFn purge = nullptr;
    ZorFtdiSimControlFn control = nullptr;
};

// Reads until the text holds `needle` or 3 s passed.
QByteArray readUntil(Ftdi &f, FT_HANDLE h, const QByteArray &needle)
{
    QByteArray text;
    QDeadlineTimer deadline(3000);
    while (!text.contains(needle) && !deadline.hasExpired()) {
        char c;
        uint32_t got = 0;
        if (f.read(h, &c, 1, &got) != FT_OK)
            break;
        text.append(&c, int(got));
    }
    return text;
}

void notifyCount(void *context, uint32_t events)
{
    if (events & FT_EVENT_RXCHAR)
        ++*static_cast<std::atomic<int> *>(context);
}

} // namespace

class TestFtd2xx : public QObject
{
    Q_OBJECT
    Ftdi f;

private slots:
    void initTestCase()
    {
        f.lib.setFileName(ZorTest::buildPath(QStringLiteral("platform/libftd2xx.so")));
        QVERIFY2(f.lib.load(), qPrintable(f.lib.errorString()));
        // Every entry point the serial-line driver binds.
        for (const char *name :
             {"FT_Open", "FT_OpenEx", "FT_ListDevices", "FT_Close", "FT_ResetPort", "FT_CyclePort", "FT_Read",
              "FT_Write", "FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_ResetDevice", "FT_GetModemStatus",
              "FT_SetChars", "FT_Purge", "FT_SetTimeouts", "FT_SetFlowControl", "FT_GetQueueStatus",
              "FT_SetEventNotification", "FT_GetStatus", "FT_SetRts", "FT_ClrRts", "FT_SetLatencyTimer",
              "FT_GetLatencyTimer", "FT_SetUSBParameters", "FT_GetComPortNumber"})
            QVERIFY2(f.lib.resolve(name), name);
        f.listDevices = reinterpret_cast<FT_ListDevicesFn>(f.lib.resolve("FT_ListDevices"));
        f.open = reinterpret_cast<FT_OpenFn>(f.lib.resolve("FT_Open"));
        f.openEx = reinterpret_cast<FT_OpenExFn>(f.lib.resolve("FT_OpenEx"));
        f.close = reinterpret_cast<FT_CloseFn>(f.lib.resolve("FT_Close"));
        f.read = reinterpret_cast<FT_ReadFn>(f.lib.resolve("FT_Read"));
        f.write = reinterpret_cast<FT_WriteFn>(f.lib.resolve("FT_Write"));
        f.queueStatus = reinterpret_cast<FT_GetQueueStatusFn>(f.lib.resolve("FT_GetQueueStatus"));
        f.setTimeouts = reinterpret_cast<FT_SetTimeoutsFn>(f.lib.resolve("FT_SetTimeouts"));
        f.setEvents = reinterpret_cast<FT_SetEventNotificationFn>(f.lib.resolve("FT_SetEventNotification"));
        f.comPort = reinterpret_cast<FT_GetComPortNumberFn>(f.lib.resolve("FT_GetComPortNumber"));
        f.modemStatus = reinterpret_cast<FT_GetModemStatusFn>(f.lib.resolve("FT_GetModemStatus"));
        f.purge = reinterpret_cast<FT_PurgeFn>(f.lib.resolve("FT_Purge"));
        f.control = reinterpret_cast<ZorFtdiSimControlFn>(f.lib.resolve("ZorFtdiSimControl"));
        QVERIFY(f.control);
    }

    void init() { QCOMPARE(f.control("reset"), 0); }

    void noGatewayNoDevices()
    {
        qunsetenv("QUORVANE_SIM_GATEWAY");
        uint32_t n = 99;
        QCOMPARE(f.listDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS(FT_OK));
        QCOMPARE(n, 0u);
        FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
        QCOMPARE(f.open(0, &h), FT_STATUS(FT_DEVICE_NOT_FOUND));
        QVERIFY(!h);
        char text[64];
        QCOMPARE(f.listDevices(nullptr, text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
                 FT_STATUS(FT_DEVICE_NOT_FOUND));
    }

    void adapterOnTheGateway()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        QCOMPARE(f.control("devices CANUSB,LW01,3;Serial CAN,VS07,7"), 0);
        uint32_t n = 0;
        QCOMPARE(f.listDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS(FT_OK));
        QCOMPARE(n, 2u);
        char text[64];
        QCOMPARE(f.listDevices(reinterpret_cast<void *>(uintptr_t(1)), text,
                               FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION), FT_STATUS(FT_OK));
        QCOMPARE(QByteArray(text), QByteArray("Serial CAN"));

        FT_HANDLE h = nullptr, again = nullptr;
        QCOMPARE(f.openEx(const_cast<char *>("VS07"), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_STATUS(FT_OK));
        QCOMPARE(f.open(1, &again), FT_STATUS(FT_DEVICE_NOT_OPENED)); // one handle a device
        int32_t port = 0;
        QCOMPARE(f.comPort(h, &port), FT_STATUS(FT_OK));
        QCOMPARE(port, 7);
        uint32_t modem = 0;
        QCOMPARE(f.modemStatus(h, &modem), FT_STATUS(FT_OK));
        QVERIFY(modem & FT_MODEM_STATUS_CTS);

        std::atomic<int> events{0};
        FT_EVENT_HANDLER handler{notifyCount, &events};
        QCOMPARE(f.setEvents(h, FT_EVENT_RXCHAR, &handler), FT_STATUS(FT_OK));
        QCOMPARE(f.setTimeouts(h, 2000, 2000), FT_STATUS(FT_OK));
        const QByteArray init("C\rS6\rZ1\rV\rO\rF\r");
        uint32_t written = 0;
        QCOMPARE(f.write(h, init.constData(), uint32_t(init.size()), &written), FT_STATUS(FT_OK));
        QCOMPARE(written, uint32_t(init.size()));
        QCOMPARE(readUntil(f, h, "F00\r"), QByteArray("\r\r\rV0101\r\rF00\r"));
        QVERIFY(events.load() > 0);

        // A frame from the bus, with its time stamp; one to the bus.
        QVERIFY(gw.inject(QStringLiteral("t1232aabb")));
        const QByteArray line = readUntil(f, h, "\r");
        QVERIFY2(QRegularExpression("^t1232aabb[0-9a-f]{4}\r$").match(QString::fromLatin1(line)).hasMatch(),
                 line.constData());
        const QByteArray frame("R000001232\r");
        QCOMPARE(f.write(h, frame.constData(), uint32_t(frame.size()), &written), FT_STATUS(FT_OK));
        QCOMPARE(readUntil(f, h, "\r"), QByteArray("Z\r"));
        QVERIFY(gw.waitForLine(QStringLiteral("^BUS c\\d+ R000001232$")).hasMatch());

        // Read time-out: what came is returned.
        QCOMPARE(f.setTimeouts(h, 50, 50), FT_STATUS(FT_OK));
        char buffer[16];
        uint32_t got = 99;
        QElapsedTimer t;
        t.start();
        QCOMPARE(f.read(h, buffer, sizeof buffer, &got), FT_STATUS(FT_OK));
        QCOMPARE(got, 0u);
        QVERIFY(t.elapsed() >= 40);

        // Without a time-out a read waits until FT_Close ends it.
        QCOMPARE(f.setTimeouts(h, 0, 0), FT_STATUS(FT_OK));
        std::atomic<int> readDone{0};
        std::thread reader([&] {
            uint32_t n = 0;
            f.read(h, buffer, sizeof buffer, &n);
            readDone = 1;
        });
        QCOMPARE(f.setEvents(h, 0, nullptr), FT_STATUS(FT_OK));
        QCOMPARE(f.close(h), FT_STATUS(FT_OK));
        reader.join();
        QCOMPARE(readDone.load(), 1);
        QCOMPARE(f.close(h), FT_STATUS(FT_INVALID_HANDLE));
        QCOMPARE(f.queueStatus(h, &n), FT_STATUS(FT_INVALID_HANDLE));
        QCOMPARE(f.open(1, &again), FT_STATUS(FT_OK)); // free again
        QCOMPARE(f.close(again), FT_STATUS(FT_OK));
    }
};

ZOR_TEST(TestFtd2xx)
#include "tst_ftd2xx.moc"
