#include "recordingpanel.h"
#include "zortest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

class TestPanelBinding : public QObject
{
    Q_OBJECT

    static ZorMessage answer(const QString &data, int state = KS_ANSWER)
    {
        return ZorMessage(KM_GETPROPERTY, state, data);
    }
    QStringList sentProperties() const
    {
        QStringList result;
        for (const ZorMessage &m : panel->sentOfType(KM_SETPROPERTY)) {
            if (m.msgState() == KS_REQUEST && m.origin() == QLatin1String("GUI"))
                result << m.data().toString();
        }
        return result;
    }

private slots:
    void init() { panel = new RecordingPanel; }
    void cleanup() { delete panel; }

    void bindingAsksForTheCurrentValue()
    {
        QLineEdit edit;
        QLabel label;
        panel->registerLineEdit("Speed", &edit, 2);
        panel->registerLabel("Speed", &label, 2);
        const QList<ZorMessage> asked = panel->sentOfType(KM_GETPROPERTY);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(0).msgState(), int(KS_REQUEST));
        QCOMPARE(asked.at(0).data().toString(), QStringLiteral("Speed"));
        QCOMPARE(asked.at(0).origin(), QStringLiteral("GUI"));
    }

    // Answers update the widgets before processIn sees the message; a
    // failure answer and a change notice are applied alike.
    void answersReachWidgetsBeforeProcessIn_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("state");
        QTest::newRow("answer") << int(KM_GETPROPERTY) << int(KS_ANSWER);
        QTest::newRow("notice") << int(KM_SETPROPERTY) << int(KS_INFO);
        QTest::newRow("failure") << int(KM_SETPROPERTY) << int(KS_FAIL);
    }
    void answersReachWidgetsBeforeProcessIn()
    {
        QFETCH(int, type);
        QFETCH(int, state);
        QLineEdit edit;
        QLabel label;
        panel->registerLineEdit("Speed", &edit, 2);
        panel->registerLabel("Speed", &label, 2);
        panel->watched = &label;
        panel->msgIn(ZorMessage(type, state, QStringLiteral("Speed=3.14159")));
        QCOMPARE(label.text(), QStringLiteral("3.14"));
        QCOMPARE(edit.text(), QStringLiteral("3.14"));
        QCOMPARE(panel->lastPropertyValue("Speed"), QStringLiteral("3.14"));
        QCOMPARE(panel->received.size(), 1);
        QCOMPARE(panel->watchedTexts.value(0), QStringLiteral("3.14"));
        // Showing the value sends nothing back.
        QVERIFY(sentProperties().isEmpty());
    }

    void valuesWithoutEqualsSignAndNonNumbers()
    {
        QLabel speed, error;
        panel->registerLabel("Speed", &speed, 1);
        panel->registerLabel("no such property", &error);
        panel->msgIn(answer("Speed=fast"));
        QCOMPARE(speed.text(), QStringLiteral("0.0"));
        panel->msgIn(answer("no such property", KS_FAIL));
        QCOMPARE(error.text(), QString());
        QCOMPARE(speed.text(), QStringLiteral("0.0"));
        panel->msgIn(answer("Mode=a=b"));
        QCOMPARE(panel->lastPropertyValue("Mode"), QStringLiteral("a=b"));
    }

    void sliders_data()
    {
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QList<int>>("moves");
        QTest::addColumn<QStringList>("sends");
        QTest::newRow("three decimals") << 3 << QList<int>{6} << QStringList{"Speed=6.000"};
        QTest::newRow("whole numbers") << 0 << QList<int>{6} << QStringList{"Speed=6"};
        // Back at the last reported value: nothing to send.
        QTest::newRow("back to the last value") << 0 << QList<int>{6, 5}
                                                << QStringList{"Speed=6"};
    }
    void sliders()
    {
        QFETCH(int, decimals);
        QFETCH(QList<int>, moves);
        QFETCH(QStringList, sends);
        QSlider slider(Qt::Horizontal);
        slider.setRange(-100, 100);
        panel->registerSlider("Speed", &slider, decimals);
        panel->msgIn(answer("Speed=5"));
        QCOMPARE(slider.value(), 5);
        slider.setSliderDown(true);
        for (int position : moves)
            slider.setSliderPosition(position);
        slider.setSliderDown(false);
        QCOMPARE(sentProperties(), sends);
    }

    void sliderReceivesValuesCutTowardZero()
    {
        QSlider slider(Qt::Horizontal);
        slider.setRange(-100, 100);
        panel->registerSlider("Pos", &slider);
        panel->msgIn(answer("Pos=7.9"));
        QCOMPARE(slider.value(), 7);
        panel->msgIn(answer("Pos=-7.9"));
        QCOMPARE(slider.value(), -7);
    }

    // A line edit still showing the last value does not decide; the slider
    // bound to the same name does.
    void lineEditAndSliderOnOneName()
    {
        QLineEdit edit;
        QSlider slider(Qt::Horizontal);
        slider.setRange(0, 100);
        panel->registerLineEdit("Gain", &edit, 0, false);
        panel->registerSlider("Gain", &slider);
        panel->msgIn(answer("Gain=10"));
        QCOMPARE(edit.text(), QStringLiteral("10"));
        QCOMPARE(slider.value(), 10);
        slider.setSliderDown(true);
        slider.setSliderPosition(42);
        slider.setSliderDown(false);
        QCOMPARE(sentProperties(), QStringList({"Gain=42"}));
        // Not confirmed by the module: the next edit is sent again.
        slider.setSliderDown(true);
        slider.setSliderPosition(43);
        QCOMPARE(sentProperties(), QStringList({"Gain=42", "Gain=43"}));
    }

    void lineEditSendsFormattedWhenDecimalsSet()
    {
        QLineEdit edit;
        panel->registerLineEdit("Speed", &edit, 2);
        panel->msgIn(answer("Speed=1"));
        edit.setText(QStringLiteral("2.71828"));
        emit edit.editingFinished();
        QCOMPARE(sentProperties(), QStringList({"Speed=2.72"}));
        QCOMPARE(edit.text(), QStringLiteral("2.71828"));
    }

    void editableComboAppendsAndSelectsWithoutSending()
    {
        QComboBox box;
        box.setEditable(true);
        box.setInsertPolicy(QComboBox::InsertAtBottom);
        box.addItems({"COM1", "COM2"});
        panel->registerComboBox("Port", &box);
        QSignalSpy changed(&box, SIGNAL(currentIndexChanged(int)));
        panel->msgIn(answer("Port=COM7"));
        QCOMPARE(box.count(), 3);
        QCOMPARE(box.itemText(2), QStringLiteral("COM7"));
        QCOMPARE(box.currentText(), QStringLiteral("COM7"));
        QCOMPARE(changed.count(), 1); // the selection, not the insertion
        QVERIFY(sentProperties().isEmpty());

        box.setCurrentIndex(0);
        QCOMPARE(sentProperties(), QStringList({"Port=COM1"}));
    }

    void fixedComboSelectsByContainedText()
    {
        QComboBox box;
        box.addItems({"125 kBit/s", "500 kBit/s", "1 MBit/s"});
        box.setCurrentIndex(0);
        panel->registerComboBox("Baudrate", &box);
        panel->msgIn(answer("Baudrate=500 KBIT"));
        QCOMPARE(box.currentIndex(), 1);
        QCOMPARE(box.count(), 3);
        panel->msgIn(answer("Baudrate=nowhere"));
        QCOMPARE(box.currentIndex(), 1);
    }

    void checkBoxShowsAndSendsAFlag()
    {
        QCheckBox box;
        panel->registerCheckBox("AutoStart", &box);
        panel->msgIn(answer("AutoStart=true"));
        QVERIFY(box.isChecked());
        QVERIFY(sentProperties().isEmpty());
        panel->msgIn(answer("AutoStart=0"));
        QVERIFY(!box.isChecked());
        box.click();
        QCOMPARE(sentProperties(), QStringList({"AutoStart=1"}));
    }

    void destroyedWidgetsAreSkipped()
    {
        auto *edit = new QLineEdit;
        QLabel label;
        panel->registerLineEdit("Speed", edit);
        panel->registerLabel("Speed", &label);
        delete edit;
        panel->msgIn(answer("Speed=4"));
        QCOMPARE(label.text(), QStringLiteral("4"));
    }

private:
    RecordingPanel *panel = nullptr;
};

ZOR_TEST(TestPanelBinding)
#include "tst_panelbinding.moc"
