// The XY positioning panel: the mapping of the working area into the scene,
// targets (clamped, small changes dropped, dragging the cross), the jog steps
// that grow while a direction is held, the interface status locking the
// controls, and the delayed send-sequence commands with their power.
#include "zorcontentxypos.h"
#include "zortargetcross.h"
#include "zortest.h"

class TestContentXYPos : public QObject
{
    Q_OBJECT

    ZorContentXYPos *panel = nullptr;
    QList<ZorMessage> sent;

    template<class T>
    T *child(const char *name) const { return panel->findChild<T *>(QLatin1String(name)); }
    void property(const QString &text) { panel->msgIn(ZorMessage(KM_SETPROPERTY, KS_INFO, text)); }
    void area(const QString &minX, const QString &maxX, const QString &minY, const QString &maxY)
    {
        property(QStringLiteral("MinX=") + minX);
        property(QStringLiteral("MaxX=") + maxX);
        property(QStringLiteral("MinY=") + minY);
        property(QStringLiteral("MaxY=") + maxY);
    }
    QStringList sentTexts() const
    {
        QStringList texts;
        for (const ZorMessage &m : sent)
            texts << m.toString();
        return texts;
    }
    // Start pressed: the controls are free.
    void unlock()
    {
        child<QPushButton>("pushButtonStart")->click();
        sent.clear();
    }
    void press(const char *buttonName, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            child<QAbstractButton>(buttonName)->click();
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        sent.clear();
        panel = new ZorContentXYPos;
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
    }
    void cleanup() { delete panel; }

    void startsWithControlsLocked()
    {
        QVERIFY(!child<QGroupBox>("groupBoxControl")->isEnabled());
        child<QPushButton>("pushButtonStart")->click();
        QVERIFY(child<QGroupBox>("groupBoxControl")->isEnabled());
        QVERIFY(!child<QLineEdit>("lineEditDriveX")->isEnabled());
        child<QPushButton>("pushButtonStop")->click();
        QVERIFY(!child<QPushButton>("pushButtonStart")->isChecked());
        QCOMPARE(sentTexts(), QStringList({"KM_DRIVE_START:KS_REQUEST", "KM_PLAYERCMD_STOP:KS_REQUEST",
                                           "KM_DRIVE_STOP:KS_REQUEST"}));
    }

    // Area and targets map into scene 0..100; a target off the area is
    // clamped, a change of 0.05 or less sends nothing, and a range of 0
    // draws as 1.
    void mapsAndClampsTargets()
    {
        area(QStringLiteral("0.0"), QStringLiteral("100.0"), QStringLiteral("-50"), QStringLiteral("50"));
        QCOMPARE(child<QLabel>("labelMaxX")->text(), QStringLiteral("min=0 / max=100"));
        property(QStringLiteral("TargetX=50"));
        property(QStringLiteral("TargetY=0"));
        property(QStringLiteral("ActualX=25.000"));
        QCOMPARE(panel->targetCross()->pos(), QPointF(50, 50));
        QCOMPARE(panel->actualMarker()->pos().x(), 25.0);
        QCOMPARE(child<QLabel>("labelActualX")->text(), QStringLiteral("X = 25.000"));

        // Dropped outside the area: the nearest limits.
        panel->targetCross()->setPos(130, -20);
        QMetaObject::invokeMethod(panel, "newTargetPosition");
        QCOMPARE(sentTexts(), QStringList({"KM_SETPROPERTY:KS_REQUEST:TargetX=100.000",
                                           "KM_SETPROPERTY:KS_REQUEST:TargetY=-50.000"}));
        sent.clear();
        panel->targetCross()->setPos(100.04, 0.04);
        QMetaObject::invokeMethod(panel, "newTargetPosition");
        QVERIFY(sent.isEmpty());

        area(QStringLiteral("7"), QStringLiteral("7"), QStringLiteral("0"), QStringLiteral("100"));
        property(QStringLiteral("TargetX=5"));
        QCOMPARE(panel->targetCross()->pos().x(), 0.0);
        panel->targetCross()->setPos(60, 0);
        QMetaObject::invokeMethod(panel, "newTargetPosition");
        QCOMPARE(sentTexts().filter(QStringLiteral("TargetX")), QStringList({"KM_SETPROPERTY:KS_REQUEST:TargetX=7.000"}));
    }

    // Steps start at 1/200 of the range, grow by 1.3 per press in one
    // direction up to 1/20, and start again on reversing or a new run.
    void growsJogSteps()
    {
        unlock();
        area(QStringLiteral("0"), QStringLiteral("1000"), QStringLiteral("0"), QStringLiteral("1000"));
        property(QStringLiteral("TargetX=500"));
        auto lastX = [&] { return sent.last().data().toString().section(QLatin1Char('='), 1).toDouble(); };
        QList<double> steps;
        double before = 500;
        for (int i = 0; i < 3; ++i) {
            press("toolButtonRight");
            steps << lastX() - before;
            before = lastX();
        }
        QCOMPARE(steps.at(0), 5.0);   // 1000 x 0.1 / 20, then x 1.3
        QCOMPARE(steps.at(1), 6.5);
        QCOMPARE(steps.at(2), 8.45);
        press("toolButtonLeft");
        QCOMPARE(before - lastX(), 5.0);
        for (int i = 0; i < 12; ++i) {
            before = lastX();
            press("toolButtonLeft");
        }
        QCOMPARE(before - lastX(), 50.0);   // capped at 1000 / 20
        QCOMPARE(panel->jogFactor(), 1.0);
        QCOMPARE(sent.size(), 16);
        panel->msgIn(ZorMessage(KM_NEW_POSITION_RUN, KS_INFO, QStringLiteral("DriveA")));
        before = lastX();
        press("toolButtonLeft");
        QCOMPARE(before - lastX(), 5.0);
        QCOMPARE(sentTexts().filter(QStringLiteral("TargetY")), QStringList());
    }

    // A CAN interface that does not run locks the cross and the arrows.
    void interfaceStatusLocksControls()
    {
        unlock();
        property(QStringLiteral("InterfaceLabel=CAN1"));
        ZorMessage status(KM_STATUS, KS_INFO, 0);
        status.setOrigin(QStringLiteral("CAN1"));
        panel->msgIn(status);
        QVERIFY(!panel->targetCross()->isActive());
        QVERIFY(!(panel->targetCross()->flags() & QGraphicsItem::ItemIsMovable));
        QVERIFY(!child<QToolButton>("toolButtonUp")->isEnabled());
        press("toolButtonParameter");
        area(QStringLiteral("0"), QStringLiteral("100"), QStringLiteral("0"), QStringLiteral("100"));
        panel->targetCross()->setPos(60, 60);
        QMetaObject::invokeMethod(panel, "newTargetPosition");
        QVERIFY(sent.isEmpty());
        status.setData(1);
        panel->msgIn(status);
        QVERIFY(panel->targetCross()->isActive());
        QVERIFY(child<QToolButton>("toolButtonUp")->isEnabled());
    }

    // Drive statuses colour their state lines, info texts fill them, and the
    // interface's sequence names label the command buttons.
    void showsDrivesAndSequenceNames()
    {
        property(QStringLiteral("DriveLabelX=DriveA"));
        ZorMessage status(KM_STATUS, KS_INFO, 1003);
        status.setOrigin(QStringLiteral("DriveA"));
        panel->msgIn(status);
        QCOMPARE(child<QLineEdit>("lineEditStateX")->styleSheet(),
                 QStringLiteral("background-color: #FEE600; color:black"));
        ZorMessage text(KM_INFOTEXT, KS_INFO, QStringLiteral("Position Mode"));
        text.setOrigin(QStringLiteral("DriveA"));
        panel->msgIn(text);
        QCOMPARE(child<QLineEdit>("lineEditStateX")->text(), QStringLiteral("Position Mode"));
        property(QStringLiteral("SendSeqName0=Read device type"));
        property(QStringLiteral("SendSeqName2=Go"));
        QCOMPARE(child<QToolButton>("toolButtonCmd1")->text(), QStringLiteral("[Enter] : Read devic..."));
        QCOMPARE(child<QToolButton>("toolButtonCmd3")->text(), QStringLiteral("[-] : Go"));

        // Another X drive (the project relinked the module): nothing of the
        // one before stays, and the new one's reports are shown.
        property(QStringLiteral("DriveLabelX=DriveC"));
        QCOMPARE(child<QLineEdit>("lineEditStateX")->text(), QString());
        QCOMPARE(child<QLineEdit>("lineEditStateX")->styleSheet(), QString());
        panel->msgIn(status);
        QCOMPARE(child<QLineEdit>("lineEditStateX")->styleSheet(), QString());
        status.setOrigin(QStringLiteral("DriveC"));
        panel->msgIn(status);
        QCOMPARE(child<QLineEdit>("lineEditStateX")->styleSheet(),
                 QStringLiteral("background-color: #FEE600; color:black"));

        // The module's notices show in their own line.
        panel->msgIn(ZorMessage(KM_LOGTEXT, KS_INFO, QStringLiteral("DriveC: the move to 20.000 failed")));
        QCOMPARE(panel->messageLine(), QStringLiteral("DriveC: the move to 20.000 failed"));
    }

    // Space three times, then Enter: 500 ms later stop and play sequence 0
    // with power 40, and the bar is back at 10. Of several commands within
    // 500 ms only the last counts.
    void sendsDelayedCommandsFromKeys()
    {
        panel->show();
        QVERIFY(QTest::qWaitForWindowActive(panel));
        child<QPushButton>("pushButtonStart")->click();
        panel->setFocus();
        sent.clear();
        QProgressBar *bar = child<QProgressBar>("progressBarCmd1");
        // A key repeated within a button's click animation counts once, as
        // on the real keyboard: each press is awaited.
        for (int i = 1; i <= 3; ++i) {
            QTest::keyClick(panel, Qt::Key_Space);
            QTRY_COMPARE(bar->value(), 10 + 10 * i);
        }
        QTest::keyClick(panel, Qt::Key_Plus);
        QTest::keyClick(panel, Qt::Key_Return);
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 2, 5000);
        QVERIFY(clock.elapsed() >= 400);
        QCOMPARE(sentTexts(), QStringList({"KM_PLAYERCMD_STOP:KS_REQUEST",
                                           "KM_PLAYERCMD_PLAY:KS_REQUEST:0,parameter1=40"}));
        QCOMPARE(bar->value(), 10);

        sent.clear();
        QTest::keyClick(panel, Qt::Key_Minus);
        QTest::keyClick(panel, Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 5000);
        QTest::qWait(700);
        QCOMPARE(sentTexts(), QStringList({"KM_PLAYERCMD_STOP:KS_REQUEST"}));
    }
};

ZOR_TEST(TestContentXYPos)
#include "tst_contentxypos.moc"
