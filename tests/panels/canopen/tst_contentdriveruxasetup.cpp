// The drive setup and test panel: what each control sends (with the
// properties it commits first), the confirmations and refusals of the node
// id, bit-rate and reset operations, the mode buttons that follow the module
// status, the swing demo, the target slider that moves the drive 500 ms
// after it rests, and the tabs of a "drive_tamrix".
#include "testdommodel.h"
#include "zorcontentdriveruxasetup.h"
#include "zorquestionbox.h"
#include "zorscriptstopkey.h"
#include "zortest.h"

#include <QtTest>
#include <QVBoxLayout>
#include <cmath>
#include <functional>
#include <memory>

namespace {

const char *const SetupPanelProperties[][2] = {
    {"NodeId", "2"},           {"TargetVelocity", "1000"},     {"Acceleration", "5000"},
    {"Deceleration", "5000"},  {"TargetPosition", "0"},        {"PositionVelocity", "1000"},
    {"HomingOffset", "0"},     {"HomingVelocitySeekSwitch", "500"}, {"HomingVelocitySeekZero", "100"},
    {"HomingAcceleration", "10"}, {"HomingHomeSwitch", "1"},  {"HomingLeftSwitch", "2"},
    {"HomingRightSwitch", "3"}, {"TargetVelocityMin", "-2000"}, {"TargetVelocityMax", "2000"},
    {"TargetPositionMin", "-2047"}, {"TargetPositionMax", "2047"},
};

} // namespace

class TestContentDriveRuxaSetup : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDomModel> model;
    std::unique_ptr<ZorContentDriveRuxaSetup> panel;
    QList<ZorMessage> sent;
    QList<ZorQuestionBox::Question> asked;
    QMessageBox::StandardButton reply = QMessageBox::Yes;

    template<class T>
    T *child(const char *name) const
    {
        T *widget = panel->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }

    void deliver(int type, const QVariant &data, int state = KS_INFO)
    {
        panel->msgIn(ZorMessage(type, state, data));
    }

    // What the panel sent from the index on, as text ("KM_DRIVE_START:KS_REQUEST").
    QStringList sentTexts(int first = 0) const
    {
        QStringList texts;
        for (int i = first; i < sent.size(); ++i)
            texts << sent.at(i).toString();
        return texts;
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            asked << q;
            return q.buttons == QMessageBox::Ok ? QMessageBox::Ok : reply;
        });
        reply = QMessageBox::Yes;
        asked.clear();
        sent.clear();
        model.reset(new TestDomModel);
        model->setXml(TestDomModel::projectXml({{"drive_canopen_setup", "Setup", "drive", ""}}));
        panel.reset(new ZorContentDriveRuxaSetup);
        connect(panel.get(), &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent << m; });
        QVERIFY(panel->setupZorPanel(model->moduleIndex("Setup"), model.get()));
        for (const auto &p : SetupPanelProperties)
            deliver(KM_GETPROPERTY, QStringLiteral("%1=%2").arg(p[0], p[1]), KS_ANSWER);
        sent.clear();
    }

    void cleanup()
    {
        panel.reset();
        model.reset();
        ZorQuestionBox::setHook({});
    }

    void setupAsksForWhatItShows()
    {
        TestDomModel m;
        m.setXml(TestDomModel::projectXml({{"drive_canopen_setup", "S", "", ""}}));
        ZorContentDriveRuxaSetup p;
        QStringList texts;
        connect(&p, &ZorPanel::msgOut, this, [&](const ZorMessage &msg) { texts << msg.toString(); });
        QVERIFY(p.setupZorPanel(m.moduleIndex("S"), &m));
        QCOMPARE(texts.mid(0, 3), QStringList({"KM_INFOTEXT:KS_REQUEST", "KM_STATUS:KS_REQUEST",
                                               "KM_GETPROPERTY:KS_REQUEST:NodeId"}));
        QVERIFY(texts.contains("KM_GETPROPERTY:KS_REQUEST:HomingRightSwitch"));
        QVERIFY(texts.contains("KM_WHOAMI:KS_REQUEST"));
        QCOMPARE(p.findChild<QTabWidget *>("tabWidget")->currentIndex(), 0);
        QCOMPARE(p.findChild<QComboBox *>("comboBoxBaud")->currentText(), QStringLiteral("125K"));
        QCOMPARE(p.findChild<QComboBox *>("comboBoxHoming")->currentText(), QStringLiteral("17"));
    }

    void controls_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("start") << 0 << "pushButtonStart" << QStringList{"KM_DRIVE_START:KS_REQUEST"};
        QTest::newRow("start unchecked") << 1 << "pushButtonStart" << QStringList{"KM_DRIVE_STOP:KS_REQUEST"};
        QTest::newRow("stop") << 1 << "pushButtonStop" << QStringList{"KM_DRIVE_STOP:KS_REQUEST"};
        QTest::newRow("velocity on") << 1 << "pushButtonVelocityModeStart"
                                     << QStringList{"KM_SET_PROFILE_MODE:KS_REQUEST:3"};
        QTest::newRow("velocity off") << 2 << "pushButtonVelocityModeStart"
                                      << QStringList{"KM_SET_PROFILE_MODE:KS_REQUEST:0"};
        QTest::newRow("velocity stop") << 2 << "pushButtonVelocityModeStop"
                                       << QStringList{"KM_SET_PROFILE_MODE:KS_REQUEST:0"};
        QTest::newRow("velocity values") << 2 << "pushButtonTargetVelSet" << QStringList{};
        QTest::newRow("position on") << 1 << "pushButtonPositionModeStart"
                                     << QStringList{"KM_SET_PROFILE_MODE:KS_REQUEST:1"};
        QTest::newRow("position stop") << 3 << "pushButtonPositionModeStop"
                                       << QStringList{"KM_SET_PROFILE_MODE:KS_REQUEST:0"};
        QTest::newRow("set and run") << 3 << "pushButtonSetPos" << QStringList{"KM_DRIVE_GO_TO_TARGET:KS_REQUEST:1"};
        QTest::newRow("halt") << 3 << "pushButtonHalt" << QStringList{"KM_DRIVE_GO_TO_TARGET:KS_REQUEST:3"};
        QTest::newRow("homing on") << 1 << "pushButtonHomingModeStart"
                                   << QStringList{"KM_SET_PROFILE_MODE:KS_REQUEST:6"};
        QTest::newRow("homing stop") << 4 << "pushButtonHomingModeStop"
                                     << QStringList{"KM_SET_PROFILE_MODE:KS_REQUEST:0"};
        QTest::newRow("homing run") << 4 << "pushButtonHomingRun" << QStringList{"KM_DRIVE_START_HOMING:KS_REQUEST:17"};
        QTest::newRow("homing 35") << 4 << "pushButtonHoming35" << QStringList{"KM_DRIVE_START_HOMING:KS_REQUEST:35"};
        QTest::newRow("factory reset") << 0 << "pushButtonReset" << QStringList{"KM_DRIVE_RESET:KS_REQUEST:2"};
    }

    // Unchanged properties are not committed: only the request goes out.
    void controls()
    {
        QFETCH(int, status);
        QFETCH(QString, control);
        QFETCH(QStringList, expected);
        deliver(KM_STATUS, status);
        QPushButton *b = panel->findChild<QPushButton *>(control);
        QVERIFY(b);
        QVERIFY2(b->isEnabled(), qPrintable(control));
        b->click();
        QCOMPARE(sentTexts(), expected);
    }

    // Edited fields are committed before the request that uses them, in
    // the documented order.
    void commitsBeforeTheRequest()
    {
        deliver(KM_STATUS, 1);
        child<QLineEdit>("lineEditVelAcc")->setText("700");
        child<QLineEdit>("lineEditVelDec")->setText("800");
        button("pushButtonVelocityModeStart")->click();
        QCOMPARE(sentTexts(), QStringList({"KM_SETPROPERTY:KS_REQUEST:Deceleration=800",
                                           "KM_SETPROPERTY:KS_REQUEST:Acceleration=700",
                                           "KM_SET_PROFILE_MODE:KS_REQUEST:3"}));
        sent.clear();
        deliver(KM_STATUS, 4);
        child<QLineEdit>("lineEditHomingOffset")->setText("12");
        child<QLineEdit>("lineEditRightSwitchInput")->setText("7");
        child<QComboBox>("comboBoxHoming")->setEditText("abc");
        button("pushButtonHomingRun")->click();
        QCOMPARE(sentTexts(), QStringList({"KM_SETPROPERTY:KS_REQUEST:HomingOffset=12",
                                           "KM_SETPROPERTY:KS_REQUEST:HomingRightSwitch=7",
                                           "KM_DRIVE_START_HOMING:KS_REQUEST:0"}));
    }

    void modeButtonsFollowTheStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("startText");
        QTest::addColumn<QString>("startColour");
        QTest::addColumn<QString>("velocityText");
        QTest::addColumn<QString>("velocityColour");
        const QString grey = QColor(Qt::lightGray).name();
        QTest::newRow("off") << 0 << "Start Drive" << grey << "Enable" << grey;
        QTest::newRow("operating") << 1 << "Start Drive" << "#5ebe37" << "Enable" << grey;
        QTest::newRow("velocity busy") << 1002 << "Start Drive" << "#fee600" << "Vel. Mode On" << "#fee600";
        QTest::newRow("velocity") << 2 << "Start Drive" << "#5ebe37" << "Vel. Mode On" << "#5ebe37";
        QTest::newRow("error") << 2000 << "Start Drive" << "#ff6052" << "Enable" << grey;
    }

    void modeButtonsFollowTheStatus()
    {
        QFETCH(int, status);
        deliver(KM_STATUS, 3);   // something else first
        deliver(KM_STATUS, status);
        auto colour = [](QPushButton *b) { return b->palette().color(QPalette::Button).name(); };
        QPushButton *start = button("pushButtonStart");
        QPushButton *velocity = button("pushButtonVelocityModeStart");
        QTEST(start->text(), "startText");
        QTEST(colour(start), "startColour");
        QCOMPARE(start->isChecked(), status != 0);
        QTEST(velocity->text(), "velocityText");
        QTEST(colour(velocity), "velocityColour");
        QCOMPARE(velocity->isChecked(), status == 2 || status == 1002);
        QCOMPARE(button("pushButtonPositionModeStart")->text(), QStringLiteral("Enable"));
        QCOMPARE(button("pushButtonHalt")->isChecked(), false);
        // Started: the node id and reset groups are locked.
        QCOMPARE(child<QGroupBox>("groupBoxNodeId")->isEnabled(), status == 0);
        QCOMPARE(button("pushButtonStop")->isEnabled(), status != 0);
        // The last actual values stay on display, greyed, once the drive no
        // longer runs: they are no longer the drive's.
        QCOMPARE(child<QGroupBox>("groupBoxActual")->isEnabled(), status >= 1 && status <= 1999);

        // Info texts become the caption of a checked "Start Drive" only.
        deliver(KM_INFOTEXT, "Operating");
        deliver(KM_INFOTEXT, "");
        QCOMPARE(start->text(), status ? QStringLiteral("Operating") : QStringLiteral("Start Drive"));
    }

    void reportsAndProperties()
    {
        deliver(KM_GET_ACTUAL_POSITION, -12.3456);
        QCOMPARE(child<QLabel>("labelActualPositionValue")->text(), QStringLiteral("-12.346"));
        QCOMPARE(child<QSlider>("horizontalSliderActualPosition")->value(), -12);
        deliver(KM_GET_ACTUAL_VELOCITY, 1500);
        QCOMPARE(child<QLabel>("labelActualVelocityValue")->text(), QStringLiteral("1500"));

        deliver(KM_SETPROPERTY, "TargetPositionMin=-500");
        QCOMPARE(child<QSlider>("horizontalSliderTargetPosition")->minimum(), -500);
        QCOMPARE(child<QSlider>("horizontalSliderActualPosition")->minimum(), -500);
        const auto *validator = qobject_cast<const QDoubleValidator *>(child<QLineEdit>("lineEditTargetPos")->validator());
        QVERIFY(validator);
        QCOMPARE(validator->bottom(), -500.0);

        deliver(KM_GETPROPERTY, "NodeId=9", KS_ANSWER);
        QCOMPARE(child<QLineEdit>("lineEditActualId")->text(), QStringLiteral("9"));
        QCOMPARE(child<QLineEdit>("lineEditNewId")->text(), QStringLiteral("9"));

        deliver(KM_STATUS, 3);
        button("pushButtonHalt")->click();
        QVERIFY(button("pushButtonHalt")->isChecked());
        deliver(KM_DRIVE_GO_TO_TARGET, 3, KS_ANSWER);
        QVERIFY(button("pushButtonHalt")->isChecked());
        deliver(KM_DRIVE_GO_TO_TARGET, 4, KS_ANSWER);
        QVERIFY(!button("pushButtonHalt")->isChecked());
    }

    void nodeIdBitRateAndReset_data()
    {
        QTest::addColumn<QString>("actualId");
        QTest::addColumn<QString>("newId");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("shownId");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        const QString canopen = "CANopen Configuration Change";
        QTest::newRow("assign, 0 raised to 1")
            << "2" << "0" << "pushButtonAssignNodeId" << "1" << canopen
            << "Set ANY device in the CANopen network to Node ID = 1\nContinue and perform the operation?"
            << QStringList{"KM_DRIVE_NEW_ID:KS_REQUEST:1,0"};
        QTest::newRow("assign, above 127 lowered")
            << "2" << "200" << "pushButtonAssignNodeId" << "127" << canopen
            << "Set ANY device in the CANopen network to Node ID = 127\nContinue and perform the operation?"
            << QStringList{"KM_DRIVE_NEW_ID:KS_REQUEST:127,0"};
        QTest::newRow("change by serial")
            << "2" << "5" << "pushButtonChangeNodeId" << "5" << canopen
            << "Change from Node ID = 2 to Node ID = 5, using LSS command via serial number.\n"
               "Continue and perform the operation?\nNOTE: Not all CANopen drives support LSS via serial "
               "number. If this operation fails, try 'Assign ID' instead!"
            << QStringList{"KM_DRIVE_NEW_ID:KS_REQUEST:5,read"};
        QTest::newRow("change without actual id")
            << "" << "5" << "pushButtonChangeNodeId" << "5" << canopen
            << "Please use 'Start Drive' to scan the actual Node ID first. Or use 'Assign Node ID'." << QStringList{};
        QTest::newRow("change to the same id")
            << "4" << "4" << "pushButtonChangeNodeId" << "4" << canopen
            << "Please choose a different value for 'New Node ID' first" << QStringList{};
        QTest::newRow("bit rate 125K")
            << "2" << "2" << "pushButtonBaud" << "2" << "CAN Configuration Change"
            << "Set the Baud Rate of all CAN slaves and the CAN Interface to 125K\nContinue and perform the operation?"
            << QStringList{"KM_DRIVE_NEW_COMM_PARAMETERS:KS_REQUEST:125000,0"};
        QTest::newRow("factory reset")
            << "2" << "2" << "pushButtonReset" << "2" << "Restore Factory Settings"
            << "All drive parameters will be reset to the original factory settings!\nContinue and restore settings?"
            << QStringList{"KM_DRIVE_RESET:KS_REQUEST:2"};
    }

    void nodeIdBitRateAndReset()
    {
        QFETCH(QString, actualId);
        QFETCH(QString, newId);
        QFETCH(QString, control);
        QFETCH(QStringList, expected);
        child<QLineEdit>("lineEditActualId")->setText(actualId);
        child<QLineEdit>("lineEditNewId")->setText(newId);
        button(qPrintable(control))->click();
        QTEST(child<QLineEdit>("lineEditNewId")->text(), "shownId");
        QCOMPARE(asked.size(), 1);
        QTEST(asked.first().title, "title");
        QTEST(asked.first().text, "text");
        QCOMPARE(asked.first().icon, QMessageBox::Warning);
        if (!expected.isEmpty()) {
            QCOMPARE(asked.first().defaultButton, QMessageBox::No);
            QCOMPARE(asked.first().buttons, QMessageBox::Yes | QMessageBox::No);
        }
        QCOMPARE(sentTexts(), expected);

        // No: nothing goes out.
        sent.clear();
        reply = QMessageBox::No;
        button(qPrintable(control))->click();
        QVERIFY(sentTexts().isEmpty());
    }

    // The new node id is bounded, never wrapped to its low byte (300 would
    // otherwise address node 44, 256 node 1).
    void newNodeIdIsBounded_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("id");
        QTest::newRow("0") << "0" << "1";
        QTest::newRow("1") << "1" << "1";
        QTest::newRow("127") << "127" << "127";
        QTest::newRow("128") << "128" << "127";
        QTest::newRow("256") << "256" << "127";
        QTest::newRow("300") << "300" << "127";
        QTest::newRow("above 16 bits") << "65537" << "127";
        QTest::newRow("hexadecimal") << "0x20" << "32";
        QTest::newRow("hexadecimal above 127") << "0x1FF" << "127";
        QTest::newRow("negative") << "-5" << "1";
        QTest::newRow("blanks around") << " 12 " << "12";
        QTest::newRow("empty") << "" << "1";
        QTest::newRow("no number") << "abc" << "1";
    }

    void newNodeIdIsBounded()
    {
        QFETCH(QString, typed);
        QFETCH(QString, id);
        child<QLineEdit>("lineEditNewId")->setText(typed);
        button("pushButtonAssignNodeId")->click();
        QCOMPARE(child<QLineEdit>("lineEditNewId")->text(), id);
        QCOMPARE(sentTexts(), QStringList{"KM_DRIVE_NEW_ID:KS_REQUEST:" + id + ",0"});
    }

    void oneMegabit()
    {
        child<QComboBox>("comboBoxBaud")->setCurrentText("1M");
        button("pushButtonBaud")->click();
        QVERIFY(asked.value(0).text.startsWith("Set the Baud Rate of all CAN slaves and the CAN Interface to 1M\n"));
        QCOMPARE(sentTexts(), QStringList({"KM_DRIVE_NEW_COMM_PARAMETERS:KS_REQUEST:1000000,0"}));
    }

    // The swing demo commits the sine, step by step; leaving velocity mode
    // ends it.
    void swingDemo()
    {
        deliver(KM_STATUS, 2);
        QPushButton *swing = button("pushButtonSwing");
        swing->click();
        QVERIFY(!child<QSlider>("horizontalSliderTargetVelocity")->isEnabled());
        QVERIFY(!button("pushButtonTargetVelSet")->isEnabled());
        for (int step = 1; step <= 3; ++step) {
            QVERIFY(QMetaObject::invokeMethod(panel.get(), "updateSwing"));
            const int expected = int(std::sin(step / 80.0 * 3.14159265) * 1500);
            QCOMPARE(sentTexts().value(step - 1),
                     QStringLiteral("KM_SETPROPERTY:KS_REQUEST:TargetVelocity=%1").arg(expected));
        }
        // The timer runs at 250 ms.
        QTRY_VERIFY_WITH_TIMEOUT(sent.size() >= 5, 10000);

        deliver(KM_STATUS, 1);
        QVERIFY(!swing->isChecked());
        QVERIFY(!button("pushButtonTargetVelSet")->isEnabled());
        sent.clear();
        QVERIFY(QMetaObject::invokeMethod(panel.get(), "updateSwing"));
        QVERIFY(sent.isEmpty());
    }

    // Moving the target slider commits the target each time; in position
    // mode one move follows 500 ms after the last movement.
    void targetSliderRunsTheDrive()
    {
        QSlider *slider = child<QSlider>("horizontalSliderTargetPosition");
        slider->setSliderDown(true);
        slider->setSliderPosition(100);
        QTest::qWait(700);
        QCOMPARE(sentTexts(), QStringList({"KM_SETPROPERTY:KS_REQUEST:TargetPosition=100.000"}));

        deliver(KM_STATUS, 3);
        sent.clear();
        for (int v : {200, 300, 400})
            slider->setSliderPosition(v);
        slider->setSliderDown(false);
        QTRY_VERIFY_WITH_TIMEOUT(sentTexts().contains("KM_DRIVE_GO_TO_TARGET:KS_REQUEST:1"), 5000);
        QTest::qWait(700);
        QCOMPARE(sentTexts().count("KM_DRIVE_GO_TO_TARGET:KS_REQUEST:1"), 1);
        QCOMPARE(sentTexts().mid(0, 3), QStringList({"KM_SETPROPERTY:KS_REQUEST:TargetPosition=200.000",
                                                     "KM_SETPROPERTY:KS_REQUEST:TargetPosition=300.000",
                                                     "KM_SETPROPERTY:KS_REQUEST:TargetPosition=400.000"}));
    }

    // Esc stops the drive while the focus is in the panel (and a script the
    // user started elsewhere as well), also with other
    // Esc buttons in the window (a shortcut they share would only move the
    // focus), and with the focus elsewhere once the shared shortcut comes
    // to the panel's Stop; nothing while the drive is off.
    void escStopsTheDrive()
    {
        // A script started from another panel (registered before this
        // panel was made) stops on the same press.
        QWidget scriptPanel;
        bool scriptRuns = true;
        ZorScriptStopKey::watch(&scriptPanel, [&scriptRuns] { return scriptRuns; },
                                [&scriptRuns] { scriptRuns = false; });
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *other = new QPushButton(QStringLiteral("Stop script"), &window);
        other->setShortcut(Qt::Key_Escape);
        int otherClicks = 0;
        connect(other, &QPushButton::clicked, this, [&otherClicks] { ++otherClicks; });
        auto *setup = new ZorContentDriveRuxaSetup(&window);
        layout->addWidget(other);
        layout->addWidget(setup);
        QStringList stops;
        connect(setup, &ZorPanel::msgOut, this, [&stops](const ZorMessage &m) { stops << m.toString(); });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        setup->msgIn(ZorMessage(KM_STATUS, KS_INFO, 2));
        auto *field = setup->findChild<QLineEdit *>("lineEditTargetVel");
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(stops, QStringList({"KM_DRIVE_STOP:KS_REQUEST"}));
        QCOMPARE(otherClicks, 0);
        QVERIFY(!scriptRuns);

        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QTest::keyClick(other, Qt::Key_Escape);
        QTest::keyClick(other, Qt::Key_Escape);
        QCOMPARE(stops.size(), 2);

        setup->msgIn(ZorMessage(KM_STATUS, KS_INFO, 0));
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_Escape);
        QCOMPARE(stops.size(), 2);
    }

    void tamrixHasNoHomingOrSetup()
    {
        auto *tabs = child<QTabWidget>("tabWidget");
        deliver(KM_WHOAMI, "drive_tamrix\nsomething", KS_ANSWER);
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Test Velocity"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Test Position"));
        deliver(KM_WHOAMI, "drive_tamrix", KS_ANSWER);
        QCOMPARE(tabs->count(), 2);
    }
};

ZOR_TEST(TestContentDriveRuxaSetup)
#include "tst_contentdriveruxasetup.moc"
