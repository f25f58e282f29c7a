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
        const QByteArray project = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvaneProject>\n"
            " <module type=\"project\" description=\"Drive\">\n"
            "  <module type=\"canusb\" label=\"CAN1\" description=\"sim\"><properties><Port>%1</Port>"
            "<Baudrate>1M</Baudrate></properties></module>\n"
            "  <module type=\"drive_canopen\" label=\"Drive2\" description=\"drive\">"
            "<properties><NodeId>2</NodeId><TargetVelocity>1500</TargetVelocity></properties></module>\n"
            " </module>\n</QuorvaneProject>\n")
                                       .arg(sim.address())
                                       .toUtf8();
        QVERIFY(writeFile(dir.filePath("Drive.zorpro"), project));
        Quorvane window;
        QVERIFY(window.appControl("open," + dir.filePath("Drive.zorpro")));
        ZorModule *drive = window.project()->moduleOf(item(window.project(), "Drive2"));
        QVERIFY(drive);
        QMetaObject::invokeMethod(drive, "slaveIn", Qt::QueuedConnection,
                                  Q_ARG(ZorMessage, ZorMessage(KM_DRIVE_START, KS_REQUEST)));
        QTRY_COMPARE_WITH_TIMEOUT(drive->status(), 1, 20000);
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
        const QByteArray project = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvaneProject>\n"
            " <module type=\"project\" description=\"Linear\">\n"
            "  <module type=\"drive_xenax\" label=\"X1\" description=\"linear\">"
            "<properties><CommChannel>%1</CommChannel><OperationMode>0</OperationMode></properties></module>\n"
            " </module>\n</QuorvaneProject>\n")
                                       .arg(controller.endpoint())
                                       .toUtf8();
        QVERIFY(writeFile(dir.filePath("Linear.zorpro"), project));
        Quorvane window;
        QVERIFY(window.appControl("open," + dir.filePath("Linear.zorpro")));
        ZorModule *drive = window.project()->moduleOf(item(window.project(), "X1"));
        QVERIFY(drive);
        QMetaObject::invokeMethod(drive, "slaveIn", Qt::QueuedConnection,
                                  Q_ARG(ZorMessage, ZorMessage(KM_DRIVE_START, KS_REQUEST)));
        QTRY_COMPARE_WITH_TIMEOUT(drive->status(), 1, 20000);
        controller.clearCommands();

        window.project()->setModified(false);
        QVERIFY(window.appControl("new"));
        QVERIFY2(controller.commands().contains(QStringLiteral("PQ")), qPrintable(controller.commands().join(' ')));
    }
};

ZOR_TEST(TestCloseStopsDrives)
#include "tst_closestopsdrives.moc"
