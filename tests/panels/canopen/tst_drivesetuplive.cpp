// The drive setup panel bound to a real drive module, its gateway and CAN
// interface on the simulated CAN gateway with a CiA 402 drive of an
// independent stack: the bit rate it proposes is the interface's, and the
// module's texts never widen the panel.
#include "noderig.h"
#include "testdommodel.h"
#include "zorcontentdriveruxasetup.h"
#include "zormodposdrive.h"
#include "zortest.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

class TestDriveSetupLive : public QObject
{
    Q_OBJECT

    static bool driveSetupLiveStart(NodeRig &rig, ZorContentDriveRuxaSetup &panel, TestDomModel &project)
    {
        if (!rig.start({"--node", "2 drive=1", "--quiet"}, new ZorModPosDrive, "drive_canopen",
                       "<NodeId>2</NodeId>"))
            return false;
        project.setXml(TestDomModel::projectXml({{"drive_canopen_setup", "Setup", "drive", QString()}}));
        connect(&panel, &ZorPanel::msgOut, rig.module(), &ZorModule::slaveIn, Qt::QueuedConnection);
        connect(rig.module(), &ZorModule::slaveOut, &panel, &ZorPanel::msgIn, Qt::QueuedConnection);
        return panel.setupZorPanel(project.moduleIndex("Setup"), &project);
    }

private slots:
    // "New Baud Rt." proposes the rate the CAN interface runs at (not the
    // form's 125K), and follows the interface when its rate changes.
    void proposesTheInterfaceBitRate()
    {
        NodeRig rig;
        TestDomModel project;
        ZorContentDriveRuxaSetup panel;
        QVERIFY2(driveSetupLiveStart(rig, panel, project), qPrintable(rig.sim.errorString()));
        auto *baud = panel.findChild<QComboBox *>("comboBoxBaud");
        QVERIFY(rig.waitUntil([&] { return baud->currentText() == "1M"; }));
        rig.canInterface()->setProperty("Baudrate", "500K", true);
        QVERIFY(rig.waitUntil([&] { return baud->currentText() == "500K"; }));
    }

    // A long text of the module (an error) is shown whole in the status
    // line, wrapped; the "Start Drive" caption shows it cut to the button,
    // and the panel asks for no more width than before.
    void longTextsKeepThePanelsSize()
    {
        NodeRig rig;
        TestDomModel project;
        ZorContentDriveRuxaSetup panel;
        QVERIFY2(driveSetupLiveStart(rig, panel, project), qPrintable(rig.sim.errorString()));
        panel.show();
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int width = panel.sizeHint().width();
        const int minimum = panel.minimumSizeHint().width();
        auto *start = panel.findChild<QPushButton *>("pushButtonStart");
        const int buttonWidth = start->width();
        // A drive that is not there: the start fails with a long text.
        QVERIFY(rig.sim.command("NODE DEL 2"));
        start->click();
        // The error's text follows its status.
        QVERIFY(rig.waitUntil([&] { return rig.status() == 2000 && rig.infoText().startsWith("Error"); }, 20000));
        const QString text = rig.infoText();
        auto *status = panel.findChild<QLabel *>("labelStatus");
        QVERIFY(rig.waitUntil([&] { return status->text() == text; }));
        const QString longText = text + QStringLiteral(" - and a much longer explanation of what went wrong, "
                                                       "which no button could ever hold in one line of text");
        panel.msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, longText));
        QCOMPARE(status->text(), longText);
        QVERIFY(status->wordWrap());
        QVERIFY(start->text() != longText && start->text().endsWith(QChar(0x2026)));
        QCOMPARE(start->toolTip(), longText);
        QCOMPARE(start->width(), buttonWidth);
        QCOMPARE(panel.sizeHint().width(), width);
        QCOMPARE(panel.minimumSizeHint().width(), minimum);
    }
};

ZOR_TEST(TestDriveSetupLive)
#include "tst_drivesetuplive.moc"
