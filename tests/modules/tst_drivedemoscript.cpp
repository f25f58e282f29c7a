// The demo project's "Drive2 Demo" script on a simulated CiA 402 drive, run
// as a user runs it: started with the automation panel's Start, then ended
// with Esc while the focus is elsewhere in the window (in the project tree,
// say), and again with the focus in the panel itself.
#include "drivepairrig.h"
#include "zorcontentautomation.h"
#include "zormodautomation.h"
#include "zortest.h"

#include <QDomDocument>
#include <QFile>

class TestDriveDemoScript : public QObject
{
    Q_OBJECT

    // The script of the demo's "Drive2 Demo" module, for the drive the rig
    // calls DriveA; empty when the demo project cannot be read.
    static QString demoScript()
    {
        QFile file(QStringLiteral(ZOR_SOURCE_DIR "/resources/demo/LiveBus.zorpro"));
        QDomDocument project;
        if (!file.open(QIODevice::ReadOnly) || !project.setContent(&file))
            return QString();
        const QDomNodeList modules = project.elementsByTagName(QStringLiteral("module"));
        for (int i = 0; i < modules.count(); ++i) {
            const QDomElement module = modules.at(i).toElement();
            if (module.attribute(QStringLiteral("label")) != QLatin1String("Drive2 Demo"))
                continue;
            QString script = module.firstChildElement(QStringLiteral("properties"))
                                 .firstChildElement(QStringLiteral("Script"))
                                 .text();
            return script.replace(QLatin1String("'Drive2:"), QLatin1String("'DriveA:"));
        }
        return QString();
    }

private slots:
    void escStopsItWhereverTheFocusIs_data()
    {
        QTest::addColumn<bool>("focusInPanel");
        QTest::newRow("focus elsewhere") << false;
        QTest::newRow("focus in the panel") << true;
    }
    void escStopsItWhereverTheFocusIs()
    {
        QFETCH(bool, focusInPanel);
        const QString script = demoScript();
        QVERIFY(script.contains(QLatin1String("'DriveA:KM_DRIVE_START:KS_REQUEST'")));

        DrivePairRig rig;
        auto *automation = new ZorModAutomation;
        QVERIFY2(rig.start(automation, QStringLiteral("automation")), qPrintable(rig.sim.errorString()));
        automation->setProperty(QStringLiteral("Script"), script, false);
        rig.startModule();

        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *tree = new QTreeWidget(&window);
        auto *panel = new ZorContentAutomation(&window);
        layout->addWidget(tree);
        layout->addWidget(panel);
        connect(panel, &ZorPanel::msgOut, automation, &ZorModule::slaveIn);
        connect(automation, &ZorModule::slaveOut, panel, &ZorPanel::msgIn);
        QVERIFY(panel->setupZorPanel(rig.model.moduleIndex(QStringLiteral("Under")), &rig.model));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *log = panel->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEditStatus"));
        QWidget *focus = focusInPanel ? static_cast<QWidget *>(log) : tree;
        focus->setFocus();
        QTRY_VERIFY(focus->hasFocus());

        // Start from the tool bar, as a click does: the focus stays where it is.
        panel->findChild<QAction *>(QStringLiteral("actionPlay"))->trigger();
        QVERIFY(rig.waitUntil([&] { return log->toPlainText().contains("target velocity 500 rpm"); }, 30000));
        QVERIFY(focus->hasFocus());
        QTest::keyClick(focus, Qt::Key_Escape);
        auto *state = panel->findChild<QLineEdit *>(QStringLiteral("lineEditState"));
        QVERIFY(rig.waitUntil([&] { return state->text() == QLatin1String("Stopped by User"); }, 5000));
        QVERIFY(log->toPlainText().contains("RuntimeError: Stopped by User"));
        QVERIFY(panel->findChild<QAction *>(QStringLiteral("actionPlay"))->isEnabled());
        // The drive was driven: it took the targets the script set.
        QVERIFY(!rig.sentToDrives(KM_SETPROPERTY).isEmpty());
    }
};

ZOR_TEST(TestDriveDemoScript)
#include "tst_drivedemoscript.moc"
