// A network CAN gateway that floods faster than any bus, in a project with
// the CAN interface's panels and a remote-control server: while the window
// is too busy to show the frames, no more than a bounded number of them wait
// for it, the rest are dropped and counted in the interface's status, and
// the remote control goes on answering.
#include "floodgateway.h"
#include "quorvaneproject.h"
#include "rcclient.h"
#include "windowtesting.h"
#include "zorapplservices.h"
#include "zorcontentcanmonitor.h"
#include "zordommodel.h"
#include "zorframegate.h"
#include "zormodcaninterface.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"

#include <QtTest>

class TestFrameFlood : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;

    static QString floodProject(const QString &gateway, quint16 rcPort)
    {
        return QStringLiteral(
                   "<QuorvaneProject><module type=\"project\" label=\"Project Home\">"
                   "<module type=\"canusb\" label=\"CAN1\"><properties><Port>%1</Port>"
                   "<Baudrate>500K</Baudrate></properties>"
                   "<module type=\"canmonitor\" label=\"Monitor\"/></module>"
                   "<module type=\"remotecontrol\" label=\"Remote\"><properties>"
                   "<RemoteControlMode>1</RemoteControlMode>"
                   "<RemoteControlConnection>SERVER:%2</RemoteControlConnection>"
                   "<RemoteControlMsgFilter>*KM_CAN_FRAME*</RemoteControlMsgFilter>"
                   "</properties></module></module></QuorvaneProject>")
            .arg(gateway)
            .arg(rcPort);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
        QVERIFY(ZorApplServices::initAppGlobals());
    }

    void floodWaitsOnlyUpToItsBoundAndTheRemoteControlAnswers()
    {
        FloodGateway gateway(200000, 30000);
        QVERIFY(gateway.listen());
        const quint16 rcPort = RcClient::freePort();
        QTemporaryDir dir(home.homePath() + "/flood-XXXXXX");
        const QString file = dir.filePath("flood.zorpro");
        QVERIFY(WindowTesting::writeFile(file, floodProject(gateway.address(), rcPort).toUtf8()));

        QuorvaneProject project;
        QString error;
        QVERIFY2(project.load(file, error), qPrintable(error));
        const QModelIndex top = project.model()->index(0, 0);
        const QModelIndex canIndex = WindowTesting::item(&project, "CAN1");
        const QModelIndex monitorIndex = WindowTesting::item(&project, "Monitor", canIndex);
        const QModelIndex rcIndex = WindowTesting::item(&project, "Remote");
        QVERIFY(top.isValid() && canIndex.isValid() && monitorIndex.isValid() && rcIndex.isValid());
        std::unique_ptr<ZorPanel> interfacePanel(project.createPanel(canIndex));
        std::unique_ptr<ZorPanel> monitorPanel(project.createPanel(monitorIndex));
        auto *monitor = qobject_cast<ZorContentCanmonitor *>(monitorPanel.get());
        QVERIFY(interfacePanel && monitor);
        auto *can = qobject_cast<ZorModCanInterface *>(project.moduleOf(canIndex));
        ZorModule *rc = project.moduleOf(rcIndex);
        QVERIFY(can && rc);

        QTRY_COMPARE_WITH_TIMEOUT(rc->infoText(), QStringLiteral("Server started Port=%1").arg(rcPort), 10000);
        RcClient client;
        QVERIFY2(client.connectTo(rcPort), qPrintable(client.errorString()));
        can->slaveIn(ZorMessage(KM_COMM_OPEN, KS_REQUEST));
        QTRY_VERIFY_WITH_TIMEOUT(gateway.started(), 10000);

        // The window is busy (a dialog being laid out, a long redraw): it
        // takes none of the frames meanwhile.
        QDeadlineTimer busy(20000);
        while (can->droppedFrames() == 0 && !busy.hasExpired())
            QThread::msleep(20);
        QVERIFY2(can->droppedFrames() > 0, "no frame was dropped while the window was busy");
        // What waited for the window when it was free again: its posted
        // events, taken once.
        const int before = monitor->tableModel()->frameCount();
        QCoreApplication::sendPostedEvents();
        const int waited = monitor->tableModel()->frameCount() - before;
        QVERIFY2(waited <= ZorModCanInterface::FrameBacklog + ZorFrameGate::MarkEvery,
                 qPrintable(QString::number(waited)));

        // The remote control answers while the flood goes on.
        client.send("CAN1:KM_WHOAMI:KS_REQUEST\n\n");
        QVERIFY(!client.waitForFrame("^CAN1:KM_WHOAMI:KS_ANSWER", 15000).isEmpty());
        QVERIFY(!gateway.finished());

        // The interface tells how many frames it dropped.
        QTRY_VERIFY_WITH_TIMEOUT(can->infoText().contains(QLatin1String("received frames dropped")), 5000);
        QVERIFY2(can->infoText().startsWith(QLatin1String("Open (500K), ")), qPrintable(can->infoText()));
        const ZorMessage close(KM_COMM_CLOSE, KS_REQUEST);
        can->slaveIn(close);
        QTRY_COMPARE_WITH_TIMEOUT(can->status(), 0, 10000);
        monitorPanel.reset();
        interfacePanel.reset();
    }
};

ZOR_TEST(TestFrameFlood)
#include "tst_frameflood.moc"
