// The CAN interface module updating the firmware of the maker's USB HID
// adapter: with the real driver against the simulated adapter and the
// bootloader stand-in from the version check through to the reopened
// adapter; a stop during programming; and an update that stops at
// progress 0 is a failure.
#include "brenkoubl.h"
#include "caninterfacerig.h"
#include "drivertesting.h"
#include "simgateway.h"
#include "simhidadapter.h"
#include "zorcandriverbrenko.h"
#include "zortest.h"

#include <QtTest>

using namespace DriverTesting;

namespace {

const QByteArray updateHexImage = ":0400000001020304F2\n:00000001FF\n";

} // namespace

class TestCanInterfaceUpdate : public QObject
{
    Q_OBJECT

    StandIn ubl{QStringLiteral("Drivers/brenko/brenko_pic32_ubl.so")};
    ZorUblSimControlFn control = nullptr;
    ZorUblSimStateFn state = nullptr;
    QTemporaryDir firmware;

    // The module's maker of the USB HID driver: the real driver on the
    // simulated adapter, with short waits.
    void useSimulatedAdapter(CanInterfaceRig &rig, SimHidAdapter &hid)
    {
        const QString folder = firmware.path();
        rig.module()->setDriverFactory([&hid, folder](ZorCanDriverFactory::Kind kind) -> ZorAbstractCanDriver * {
            if (kind != ZorCanDriverFactory::Brenko)
                return nullptr;
            auto *d = new ZorCanDriverBrenko(nullptr, &hid);
            ZorCanDriverHidBase::Timing t;
            t.initReadMs = 5;
            t.initPauseMs = 0;
            t.receiveReadMs = 10;
            d->setTiming(t);
            ZorCanDriverBrenko::UpdateTiming u;
            u.findWaitMs = u.longFindWaitMs = u.bootloaderWaitMs = 10;
            u.startWaitMs = u.checkWaitMs = 10;
            u.pumpPauseMs = 1;
            d->setUpdateTiming(u);
            d->setFirmwareFolders({folder});
            return d;
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(ubl.load(), qPrintable(ubl.library.errorString()));
        control = ubl.resolve<ZorUblSimControlFn>("ZorUblSimControl");
        state = ubl.resolve<ZorUblSimStateFn>("ZorUblSimState");
        QVERIFY(control && state);
        for (const char *name : {"kelvatro_1.9.0.0.hex", "kelvatro_1.10.0.0.hex"}) {
            QFile f(firmware.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(updateHexImage);
        }
    }
    void init() { QCOMPARE(control("reset"), 0); }

    void updatesAndReopens()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        SimHidAdapter hid;
        hid.setVersion(QStringLiteral("1.2.0.0"));
        hid.setBootloaderHandler([this] { control("attach"); });
        // The adapter restarts with the new firmware once the bootloader let go.
        QTimer replug;
        connect(&replug, &QTimer::timeout, this, [&] {
            if (!hid.isPlugged() && state("connects") > 0 && state("attached") == 0) {
                hid.setVersion(QStringLiteral("1.10.0.0"));
                hid.setPlugged(true);
            }
        });
        replug.start(5);

        CanInterfaceRig rig;
        useSimulatedAdapter(rig, hid);
        rig.setProperty(QStringLiteral("Port"), QStringLiteral("brenko"));
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("500K"));
        rig.start();
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForInfoText(QStringLiteral("Open (500K)"), 15000));
        QVERIFY(rig.waitForAnswer(opening));
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_ANSWER));

        const QString file = firmware.filePath(QStringLiteral("kelvatro_1.10.0.0.hex"));
        const QStringList expected = {
            "Opening kelvatro",
            "current version 1.2.0.0 - updating to 1",
            "Device Update started, file " + file,
            "Device Update: found device, switching to bootloader",
            "Device Update: Firmware update started",
            "Device Update: Erasing old firmware",
            "Device Update: Programming new firmware",
            "Device Update: Verifying firmware",
            "Device Update: Starting firmware",
            "Device Update Success",
            "Opening kelvatro",
            "Version check: 1.10.0.0 - ok",
            "Open (500K)",
        };
        QStringList seen = rig.master.infoTexts();
        seen.removeAll(QStringLiteral("Idle"));
        // Compared as lists, so that a failure names the first line that differs.
        QCOMPARE(seen, expected);
        QVERIFY(rig.master.statuses().contains(1011));
        const QList<ZorMessage> progress = rig.master.ofType(KM_PROGRESS);
        QCOMPARE(progress.size(), 2);
        QCOMPARE(progress.first().msgState(), int(KS_INFO));
        QCOMPARE(progress.first().data().toInt(), 0);
        QCOMPARE(progress.last().msgState(), int(KS_ANSWER));
        QCOMPARE(progress.last().data().toInt(), 100);
        QCOMPARE(state("shutdowns"), state("inits"));
    }

    void stopDuringProgramming()
    {
        SimGateway gw;
        QVERIFY2(gw.start(), qPrintable(gw.errorString()));
        gw.exportAddress();
        QCOMPARE(control("script 2,3,4"), 0); // programs for ever
        SimHidAdapter hid;
        hid.setBootloaderHandler([this] { control("attach"); });
        CanInterfaceRig rig;
        useSimulatedAdapter(rig, hid);
        rig.setProperty(QStringLiteral("Port"), QStringLiteral("brenko:1.10.0.0"));
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("500K"));
        rig.start();
        rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForInfoText(QStringLiteral("Device Update: Programming new firmware"), 10000));
        QCOMPARE(state("shutdowns"), 0);

        const ZorMessage stop = rig.request(KM_STOP);
        QVERIFY(rig.waitForAnswer(stop));
        QCOMPARE(rig.master.answersTo(stop).first().msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForInfoText(QStringLiteral("Device Update: User Abort")));
        QTRY_COMPARE(rig.master.lastStatus(), 0);
        QCOMPARE(state("shutdowns"), 1); // the bootloader library was released
        QVERIFY(!rig.master.infoTexts().contains(QStringLiteral("Device Update Success")));
    }

    void progressZeroAfterTheStartIsAFailure()
    {
        CanInterfaceRig rig;
        rig.module()->setDriverFactory([](ZorCanDriverFactory::Kind kind) -> ZorAbstractCanDriver * {
            return kind == ZorCanDriverFactory::Brenko ? new FirmwareUpdateDriver(0) : nullptr;
        });
        rig.setProperty(QStringLiteral("Port"), QStringLiteral("brenko"));
        rig.setProperty(QStringLiteral("Baudrate"), QStringLiteral("500K"));
        rig.start();
        const ZorMessage opening = rig.request(KM_COMM_OPEN);
        QVERIFY(rig.waitForInfoText(
            QStringLiteral("Device Update Error: the update stopped before it was complete")));
        QTRY_COMPARE(rig.master.lastStatus(), 2000);
        QTRY_COMPARE(rig.master.ofType(KM_PROGRESS).size(), 2);
        const QList<ZorMessage> progress = rig.master.ofType(KM_PROGRESS);
        QCOMPARE(progress.last().msgState(), int(KS_FAIL));
        QCOMPARE(progress.last().data().toInt(), 100);
        QVERIFY(!rig.master.infoTexts().contains(QStringLiteral("Device Update Success")));
        QVERIFY(rig.waitForAnswer(opening));
        QCOMPARE(rig.master.answersTo(opening).first().msgState(), int(KS_FAIL));
    }
};

ZOR_TEST(TestCanInterfaceUpdate)
#include "tst_caninterfaceupdate.moc"
