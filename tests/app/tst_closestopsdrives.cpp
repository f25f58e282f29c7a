// Closing a project with a drive that moves: the drive gets its stop
// sequence before the modules go, on a CiA 402 drive of the simulated CAN
// gateway, through the project's real module tree.
#include "scriptedlinearcontroller.h"
#include "simgateway.h"
#include "windowtesting.h"
#include "zorapplservices.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QtTest>

using namespace WindowTesting;

class TestCloseStopsDrives : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;

    // "state=..." of the simulated drive 2.
    static QString closeStopsState(SimGateway &sim)
    {
        return sim.query("DRIVE 2 STATE").section(' ', 0, 0);
    }

    // Opens a project of these module elements in the window, and starts
    // the drive module of that label; null when it did not come to run.
    ZorModule *openAndStart(Quorvane &window, QTemporaryDir &dir, const QString &modules, const QString &drive)
    {
        const QByteArray project = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvaneProject>\n"
            " <module type=\"project\" description=\"Drive\">\n%1 </module>\n</QuorvaneProject>\n")
                                       .arg(modules)
                                       .toUtf8();
        if (!writeFile(dir.filePath("Drive.zorpro"), project) || !window.appControl("open," + dir.filePath("Drive.zorpro")))
            return nullptr;
        ZorModule *module = window.project()->moduleOf(item(window.project(), drive));
        if (!module)
            return nullptr;
        QMetaObject::invokeMethod(module, "slaveIn", Qt::QueuedConnection,
                                  Q_ARG(ZorMessage, ZorMessage(KM_DRIVE_START, KS_REQUEST)));
        return QTest::qWaitFor([module] { return module->status() == 1; }, 20000) ? module : nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
        ZorTest::TempSettings::set("GuiMode", 0);
        QVERIFY(ZorApplServices::initAppGlobals());
    }

    void closingStopsAMovingDrive()
    {
        SimGateway sim;
        QVERIFY2(sim.start({"--node", "2 drive=1", "--quiet"}), qPrintable(sim.errorString()));
        QTemporaryDir dir(home.homePath() + "/work-XXXXXX");
        Quorvane window;
        ZorModule *drive = openAndStart(
            window, dir,
            QStringLiteral("  <module type=\"canusb\" label=\"CAN1\" description=\"sim\"><properties><Port>%1</Port>"
                           "<Baudrate>1M</Baudrate></properties></module>\n"
                           "  <module type=\"drive_canopen\" label=\"Drive2\" description=\"drive\">"
                           "<properties><NodeId>2</NodeId><TargetVelocity>1500</TargetVelocity></properties></module>\n")
                .arg(sim.address()),
            "Drive2");
        QVERIFY(drive);
        QMetaObject::invokeMethod(drive, "slaveIn", Qt::QueuedConnection,
                                  Q_ARG(ZorMessage, ZorMessage(KM_SET_PROFILE_MODE, KS_REQUEST, 3)));
        QTRY_COMPARE_WITH_TIMEOUT(closeStopsState(sim), QStringLiteral("state=operation_enabled"), 10000);

        window.project()->setModified(false);
        QVERIFY(window.appControl("new"));
        QCOMPARE(closeStopsState(sim), QStringLiteral("state=switch_on_disabled"));
    }

    // A linear drive on its own controller is a drive too: closing the
    // project quits its power before the module goes.
    void closingStopsALinearDrive()
    {
        ScriptedLinearController controller;
        QTemporaryDir dir(home.homePath() + "/work-XXXXXX");
        Quorvane window;
        QVERIFY(openAndStart(window, dir,
                             QStringLiteral("  <module type=\"drive_xenax\" label=\"X1\" description=\"linear\">"
                                            "<properties><CommChannel>%1</CommChannel><OperationMode>0</OperationMode>"
                                            "</properties></module>\n")
                                 .arg(controller.endpoint()),
                             "X1"));
        controller.clearCommands();

        window.project()->setModified(false);
        QVERIFY(window.appControl("new"));
        QVERIFY2(controller.commands().contains(QStringLiteral("PQ")), qPrintable(controller.commands().join(' ')));
    }
};

ZOR_TEST(TestCloseStopsDrives)
#include "tst_closestopsdrives.moc"
