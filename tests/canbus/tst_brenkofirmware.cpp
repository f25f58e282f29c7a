// Firmware update of the maker's USB HID adapter: which file a target
// version picks (versions compared by their numbers), whether an update is
// needed, and the update steps against the simulated adapter and the
// bootloader stand-in, through to the end or each failure.
#include "brenkoubl.h"
#include "drivertesting.h"
#include "simgateway.h"
#include "simhidadapter.h"
#include "zorcandriverbrenko.h"
#include "zortest.h"

#include <QtTest>

using namespace DriverTesting;

namespace {

// A valid Intel HEX file: one data record and the end record.
const QByteArray firmwareHexImage = ":0400000001020304F2\n:00000001FF\n";

bool writeFiles(const QString &folder, const QStringList &names, const QByteArray &content = firmwareHexImage)
{
    QDir().mkpath(folder);
    for (const QString &name : names) {
        QFile f(QDir(folder).filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return false;
    }
    return true;
}

ZorCanDriverHidBase::Timing firmwareTiming()
{
    ZorCanDriverHidBase::Timing t;
    t.initReadMs = 5;
    t.initPauseMs = 0;
    t.receiveReadMs = 10;
    return t;
}

ZorCanDriverBrenko::UpdateTiming quickUpdateTiming()
{
    ZorCanDriverBrenko::UpdateTiming t;
    t.findWaitMs = 10;
    t.longFindWaitMs = 10;
    t.bootloaderWaitMs = 10;
    t.pumpPauseMs = 1;
    t.startWaitMs = 10;
    t.checkWaitMs = 10;
    return t;
}

struct Step
{
    int progress;
    QString text;
};

} // namespace

class TestBrenkoFirmware : public QObject
{
    Q_OBJECT

    StandIn ubl{QStringLiteral("Drivers/brenko/brenko_pic32_ubl.so")};
    ZorUblSimControlFn control = nullptr;
    ZorUblSimStateFn state = nullptr;
    QScopedPointer<SimGateway> gw;

    // Polls the update until it ends; every change of progress and every
    // text in order. With replug, the adapter comes back with the new
    // version once the bootloader let go of it.
    QList<Step> runUpdate(ZorCanDriverBrenko &d, SimHidAdapter &hid, bool replug)
    {
        QList<Step> steps;
        int last = 1;
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            const int p = d.firmwareUpdateProgress();
            const QString text = d.lastErrorText();
            if (p != last || (!text.isEmpty() && p > 0 && p < 100))
                steps.append({p, text});
            last = p;
            if (p <= 0 || p >= 100)
                break;
            if (replug && !hid.isPlugged() && state("connects") > 0 && state("attached") == 0) {
                hid.setVersion(QStringLiteral("1.10.0.0"));
                hid.setPlugged(true);
            }
            QThread::msleep(1);
        }
        return steps;
    }

    // The bootloader device is only there while a gateway is configured.
    bool startGateway()
    {
        gw.reset(new SimGateway);
        if (!gw->start())
            return false;
        gw->exportAddress();
        return true;
    }

    static QStringList texts(const QList<Step> &steps)
    {
        QStringList out;
        for (const Step &s : steps) {
            if (!s.text.isEmpty())
                out << s.text;
        }
        return out;
    }
    static QList<int> progresses(const QList<Step> &steps)
    {
        QList<int> out;
        for (const Step &s : steps) {
            if (out.isEmpty() || out.last() != s.progress)
                out << s.progress;
        }
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(ubl.load(), qPrintable(ubl.library.errorString()));
        control = ubl.resolve<ZorUblSimControlFn>("ZorUblSimControl");
        state = ubl.resolve<ZorUblSimStateFn>("ZorUblSimState");
        QVERIFY(control && state);
    }
    void init() { QCOMPARE(control("reset"), 0); }
    void cleanup() { gw.reset(); }

    void chosenFile_data()
    {
        QTest::addColumn<QStringList>("working");
        QTest::addColumn<QStringList>("drivers");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("chosen");
        const QStringList nineAndTen{"kelvatro_1.9.0.0.hex", "kelvatro_1.10.0.0.hex"};
        QTest::newRow("1.10 above 1.9") << nineAndTen << QStringList() << "1" << 0 << "kelvatro_1.10.0.0.hex";
        QTest::newRow("highest for the major")
            << QStringList() << QStringList{"kelvatro_1.0.0.9.hex", "kelvatro_1.1.0.0.hex", "kelvatro_2.0.0.0.hex"}
            << "1" << 0 << "kelvatro_1.1.0.0.hex";
        QTest::newRow("exact target") << QStringList() << QStringList{"kelvatro_1.0.0.9.hex", "kelvatro_1.1.0.0.hex"}
                                      << "1.0.0.9" << 0 << "kelvatro_1.0.0.9.hex";
        QTest::newRow("at least 1.9.1") << nineAndTen << QStringList() << "1.9.1" << 0 << "kelvatro_1.10.0.0.hex";
        QTest::newRow("no major 2") << nineAndTen << QStringList() << "2" << 2 << "";
        QTest::newRow("no files") << QStringList() << QStringList() << "1" << 1 << "";
        QTest::newRow("working folder first")
            << QStringList{"kelvatro_1.0.0.1.hex"} << QStringList{"kelvatro_1.5.0.0.hex"} << "1" << 0
            << "kelvatro_1.0.0.1.hex";
        QTest::newRow("a name without version never") << QStringList{"kelvatro.hex"} << QStringList() << "1" << 2 << "";
        QTest::newRow("no major counts as 1") << QStringList{"Kelvatro_V1.2.3.4.HEX"} << QStringList() << "" << 0
                                              << "Kelvatro_V1.2.3.4.HEX";
    }
    void chosenFile()
    {
        QFETCH(QStringList, working);
        QFETCH(QStringList, drivers);
        QFETCH(QString, target);
        QFETCH(int, result);
        QFETCH(QString, chosen);
        QTemporaryDir tmp;
        const QString a = tmp.filePath(QStringLiteral("work")), b = tmp.filePath(QStringLiteral("drivers"));
        QVERIFY(writeFiles(a, working) && writeFiles(b, drivers));
        QVERIFY(writeFiles(a, {QStringLiteral("other_9.9.9.9.hex")}));
        SimHidAdapter hid;
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setFirmwareFolders({a, b});
        QString path, version;
        QCOMPARE(d.findFirmwareFile(target, path, version), result);
        QCOMPARE(QFileInfo(path).fileName(), chosen);
        if (result == 0)
            QCOMPARE(version, ZorCanDriverBrenko::normalizeVersion(chosen));
    }

    void updateNeeded_data()
    {
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("needed");
        QTest::newRow("file is the adapter's") << "1.2.0.0" << QStringList{"kelvatro_1.2.0.0.hex"} << "1" << false;
        QTest::newRow("file is newer") << "1.2.0.0" << QStringList{"kelvatro_1.3.0.0.hex"} << "1" << true;
        QTest::newRow("1.10 is newer than 1.9") << "1.9.0.0" << QStringList{"kelvatro_1.10.0.0.hex"} << "1" << true;
        QTest::newRow("1.9 is not newer than 1.10") << "1.10.0.0" << QStringList{"kelvatro_1.9.0.0.hex"} << "1" << false;
        QTest::newRow("no file for the target") << "1.2.0.0" << QStringList() << "1" << false;
        QTest::newRow("another major") << "1.2.0.0" << QStringList() << "2.0.0.0" << true;
        QTest::newRow("full target differs") << "1.2.0.0" << QStringList() << "1.2.0.3" << true;
        QTest::newRow("full target is the adapter's") << "1.2.0.3" << QStringList() << "1.2.0.3" << false;
        QTest::newRow("noupdate") << "0.1" << QStringList() << "1:NoUpdate" << false;
        QTest::newRow("version unknown") << "" << QStringList() << "1" << true;
    }
    void updateNeeded()
    {
        QFETCH(QString, adapter);
        QFETCH(QStringList, files);
        QFETCH(QString, target);
        QFETCH(bool, needed);
        QTemporaryDir tmp;
        QVERIFY(writeFiles(tmp.path(), files));
        SimHidAdapter hid;
        hid.setVersion(adapter);
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(firmwareTiming());
        d.setFirmwareFolders({tmp.path()});
        QVERIFY(d.open(QString(), 500000, 0, 0, 1));
        QCOMPARE(d.firmwareVersion(), adapter);
        QCOMPARE(d.firmwareUpdateNeeded(target), needed);
    }

    // The whole update: switched into the bootloader, programmed (a status
    // that stays at 3 gives its text once), the new application answers
    // with the version of the file.
    void updatesTheAdapter()
    {
        QVERIFY(startGateway());
        QTemporaryDir tmp;
        QVERIFY(writeFiles(tmp.path(), {"kelvatro_1.9.0.0.hex", "kelvatro_1.10.0.0.hex"}));
        QCOMPARE(control("script 2,2,3,3,4,5,6"), 0);
        SimHidAdapter hid;
        hid.setBootloaderHandler([this] { control("attach"); });
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(firmwareTiming());
        d.setUpdateTiming(quickUpdateTiming());
        d.setFirmwareFolders({tmp.path()});

        QString file;
        QVERIFY(d.startFirmwareUpdate(QStringLiteral("1"), file));
        QCOMPARE(file, tmp.filePath(QStringLiteral("kelvatro_1.10.0.0.hex")));
        const QList<Step> steps = runUpdate(d, hid, true);
        QCOMPARE(progresses(steps), (QList<int>{10, 20, 30, 40, 70, 80, 100}));
        QCOMPARE(texts(steps), (QStringList{"found device, switching to bootloader", "Firmware update started",
                                            "Erasing old firmware", "Programming new firmware",
                                            "Verifying firmware", "Starting firmware"}));
        QVERIFY(hid.writtenText().contains("O\rC\rQ\r"));
        QCOMPARE(d.firmwareVersion(), QStringLiteral("1.10.0.0"));
        QVERIFY(d.lastErrorText().isEmpty());
        char programmed[512];
        ubl.resolve<ZorUblSimProgrammedFn>("ZorUblSimProgrammed")(programmed, sizeof programmed);
        QCOMPARE(QString::fromLocal8Bit(programmed), file);
        QCOMPARE(state("shutdowns"), 1); // the library was released
        QCOMPARE(d.firmwareUpdateProgress(), 100);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("library");
        QTest::addColumn<bool>("bootloaderAttaches");
        QTest::addColumn<bool>("applicationAnswers");
        QTest::addColumn<QString>("lastText");
        QTest::addColumn<QString>("alsoSaid");
        QTest::newRow("no file for the target") << "2" << "" << "" << true << true
                                                << "No matching 'kelvatro' file for target version 2" << "";
        QTest::newRow("bootloader library missing")
            << "1" << "" << "Drivers/brenko/no_such_library" << true << true
            << "Could not load driver Drivers/brenko/no_such_library" << "";
        QTest::newRow("bootloader reports an error") << "1" << "2,2,3,8" << "" << true << true
                                                     << "Firmware update error" << "Erasing old firmware";
        QTest::newRow("no bootloader device") << "1" << "" << "" << false << true << "Could not program file %1"
                                              << "cannot find device - please unplug / replug!";
        QTest::newRow("application silent") << "1" << "" << "" << true << false
                                            << "Download complete, but device not responding."
                                            << "Waiting for application. Try unplug/replug.";
    }
    void failures()
    {
        QVERIFY(startGateway());
        QFETCH(QString, target);
        QFETCH(QString, script);
        QFETCH(QString, library);
        QFETCH(bool, bootloaderAttaches);
        QFETCH(bool, applicationAnswers);
        QFETCH(QString, lastText);
        QFETCH(QString, alsoSaid);
        QTemporaryDir tmp;
        QVERIFY(writeFiles(tmp.path(), {"kelvatro_1.3.0.0.hex"}));
        if (!script.isEmpty())
            QCOMPARE(control(("script " + script).toLatin1().constData()), 0);
        SimHidAdapter hid;
        if (bootloaderAttaches)
            hid.setBootloaderHandler([this] { control("attach"); });
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(firmwareTiming());
        d.setUpdateTiming(quickUpdateTiming());
        d.setFirmwareFolders({tmp.path()});
        if (!library.isEmpty())
            d.setBootloaderLibrary(library);

        QString file;
        const bool started = d.startFirmwareUpdate(target, file);
        const QList<Step> steps = started ? runUpdate(d, hid, applicationAnswers) : QList<Step>();
        QCOMPARE(d.firmwareUpdateProgress(), -1);
        QCOMPARE(d.lastErrorText(), lastText.contains(QLatin1String("%1")) ? lastText.arg(file) : lastText);
        if (!alsoSaid.isEmpty())
            QVERIFY2(texts(steps).contains(alsoSaid), qPrintable(texts(steps).join(" | ")));
        d.abortFirmwareUpdate();
        QCOMPARE(d.firmwareUpdateProgress(), 0);
        QCOMPARE(state("inits"), state("shutdowns")); // no binding left behind
    }

    void noFirmwareFiles()
    {
        QTemporaryDir tmp;
        SimHidAdapter hid;
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setFirmwareFolders({tmp.path()});
        QString file = QStringLiteral("x");
        QVERIFY(!d.startFirmwareUpdate(QStringLiteral("1"), file));
        QVERIFY(file.isEmpty());
        QCOMPARE(d.firmwareUpdateProgress(), -1);
        QCOMPARE(d.lastErrorText(), QStringLiteral("No firmware files available"));
    }

    void abortDuringProgrammingReleasesTheLibrary()
    {
        QVERIFY(startGateway());
        QTemporaryDir tmp;
        QVERIFY(writeFiles(tmp.path(), {"kelvatro_1.3.0.0.hex"}));
        QCOMPARE(control("script 2,3,4"), 0); // programs for ever
        SimHidAdapter hid;
        hid.setBootloaderHandler([this] { control("attach"); });
        ZorCanDriverBrenko d(nullptr, &hid);
        d.setTiming(firmwareTiming());
        d.setUpdateTiming(quickUpdateTiming());
        d.setFirmwareFolders({tmp.path()});
        QString file;
        QVERIFY(d.startFirmwareUpdate(QStringLiteral("1"), file));
        QDeadlineTimer deadline(10000);
        while (d.firmwareUpdateProgress() != 40 && !deadline.hasExpired())
            QThread::msleep(1);
        QCOMPARE(d.firmwareUpdateProgress(), 40);
        QCOMPARE(state("shutdowns"), 0);
        d.abortFirmwareUpdate();
        QCOMPARE(d.firmwareUpdateProgress(), 0);
        QCOMPARE(state("shutdowns"), 1);
        QCOMPARE(state("disconnects") > 0, true);
    }
};

ZOR_TEST(TestBrenkoFirmware)
#include "tst_brenkofirmware.moc"
