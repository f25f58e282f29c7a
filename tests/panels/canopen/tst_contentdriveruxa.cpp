// The drive status panel: status colours, the info-text history, the actual
// values with their sliders and the slider ranges from the drive's limit
// properties.
#include "testdommodel.h"
#include "zorcontentdriveruxa.h"
#include "zortest.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>

#include <memory>

class TestContentDriveRuxa : public QObject
{
    Q_OBJECT

    std::unique_ptr<ZorContentDriveRuxa> panel;

    template<class T>
    T *child(const char *name) const
    {
        T *widget = panel->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QLineEdit *statusLine() const { return child<QLineEdit>("lineEditDriveStatus"); }
    QPlainTextEdit *history() const { return child<QPlainTextEdit>("plainTextStatus"); }
    QSlider *positionSlider() const { return child<QSlider>("horizontalSliderActualPosition"); }
    QSlider *velocitySlider() const { return child<QSlider>("horizontalSliderActualVelocity"); }

    void deliver(int type, const QVariant &data, int state = KS_INFO)
    {
        panel->msgIn(ZorMessage(type, state, data));
    }

private slots:
    void init()
    {
        ZorMessage::registerMetaType();
        panel.reset(new ZorContentDriveRuxa);
    }

    void cleanup() { panel.reset(); }

    void statusColours_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("style");
        QTest::addColumn<bool>("actualValues");
        const QString green = "background-color: #5EBE37; color:black";
        const QString yellow = "background-color: #FEE600; color:black";
        const QString red = "background-color: #FF6052; color:black";
        QTest::newRow("idle") << 0 << "color:black" << false;
        QTest::newRow("operating") << 1 << green << true;
        QTest::newRow("999") << 999 << green << true;
        QTest::newRow("warning") << 1000 << yellow << true;
        QTest::newRow("1999") << 1999 << yellow << true;
        QTest::newRow("error") << 2000 << red << false;
    }

    void statusColours()
    {
        QFETCH(int, status);
        // From another status, so that each row changes something.
        deliver(KM_STATUS, 3);
        deliver(KM_STATUS, status, KS_ANSWER);
        QTEST(statusLine()->styleSheet(), "style");
        QTEST(child<QGroupBox>("groupBoxActual")->isEnabled(), "actualValues");
        QCOMPARE(child<QLineEdit>("lineEditNodeId")->styleSheet(), QStringLiteral("color:black"));
    }

    void newPanelShowsIdle()
    {
        QCOMPARE(statusLine()->styleSheet(), QStringLiteral("color:black"));
        QVERIFY(!child<QGroupBox>("groupBoxActual")->isEnabled());
        QCOMPARE(child<QLabel>("labelActualPositionValue")->text(), QStringLiteral("###.###"));
        QCOMPARE(child<QLabel>("labelActualVelocityValue")->text(), QStringLiteral("#####"));
        QCOMPARE(positionSlider()->minimum(), -2048);
        QCOMPARE(velocitySlider()->maximum(), 2000);
        QVERIFY(!positionSlider()->isEnabled());
        QVERIFY(history()->isReadOnly());
    }

    void infoTexts()
    {
        deliver(KM_INFOTEXT, "Operating");
        QCOMPARE(statusLine()->text(), QStringLiteral("Operating"));
        // Emergencies are other panels' business; empty texts say nothing.
        for (const char *text : {"Emergency (8130h,11h,00 00 00 00 00)", "", "x Emergency"})
            deliver(KM_INFOTEXT, text);
        deliver(KM_INFOTEXT, "Velocity Mode", KS_REQUEST);   // not a report
        QCOMPARE(statusLine()->text(), QStringLiteral("Operating"));
        deliver(KM_INFOTEXT, "emergency stop pressed", KS_ANSWER);
        QCOMPARE(statusLine()->text(), QStringLiteral("emergency stop pressed"));
        const QStringList lines = history()->toPlainText().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).endsWith(" Operating") && lines.at(0).size() > 10, qPrintable(lines.at(0)));
        QVERIFY(lines.at(1).endsWith(" emergency stop pressed"));
    }

    void historyKeepsTheLast1000Lines()
    {
        for (int i = 1; i <= 1001; ++i)
            deliver(KM_INFOTEXT, QStringLiteral("text %1").arg(i));
        QCOMPARE(history()->blockCount(), 1000);
        QVERIFY(history()->document()->firstBlock().text().endsWith(" text 2"));
        QVERIFY(history()->document()->lastBlock().text().endsWith(" text 1001"));
    }

    void actualValues_data()
    {
        QTest::addColumn<QVariant>("position");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("slider");
        QTest::newRow("fraction") << QVariant(1000.5) << "1000.500" << 1000;
        QTest::newRow("float") << QVariant(float(2.5)) << "2.500" << 2;
        QTest::newRow("toward zero") << QVariant(-0.7) << "-0.700" << 0;
        QTest::newRow("beyond the range") << QVariant(99999.25) << "99999.250" << 2048;
        QTest::newRow("far beyond") << QVariant(-1e12) << "-1000000000000.000" << -2048;
    }

    void actualValues()
    {
        QFETCH(QVariant, position);
        deliver(KM_GET_ACTUAL_POSITION, position);
        QTEST(child<QLabel>("labelActualPositionValue")->text(), "shown");
        QTEST(positionSlider()->value(), "slider");

        deliver(KM_GET_ACTUAL_VELOCITY, -1234);
        QCOMPARE(child<QLabel>("labelActualVelocityValue")->text(), QStringLiteral("-1234"));
        QCOMPARE(velocitySlider()->value(), -1234);
    }

    // The ranges follow the limit properties, from answers and notices alike.
    void limitProperties()
    {
        deliver(KM_SETPROPERTY, "TargetVelocityMax=3000");
        deliver(KM_GETPROPERTY, "TargetVelocityMin=-3500", KS_ANSWER);
        deliver(KM_GETPROPERTY, "TargetPositionMin=-100", KS_ANSWER);
        deliver(KM_SETPROPERTY, "TargetPositionMax=250");
        QCOMPARE(velocitySlider()->maximum(), 3000);
        QCOMPARE(velocitySlider()->minimum(), -3500);
        QCOMPARE(positionSlider()->minimum(), -100);
        QCOMPARE(positionSlider()->maximum(), 250);
        deliver(KM_GET_ACTUAL_VELOCITY, 2800);
        QCOMPARE(velocitySlider()->value(), 2800);

        deliver(KM_SETPROPERTY, "TargetPositionMax=abc");   // no integer: 0
        QCOMPARE(positionSlider()->maximum(), 0);
        deliver(KM_GETPROPERTY, "NodeId=7", KS_ANSWER);
        QCOMPARE(child<QLineEdit>("lineEditNodeId")->text(), QStringLiteral("7"));
        deliver(KM_GETPROPERTY, "TargetVelocity=5", KS_ANSWER);   // not a limit
        QCOMPARE(velocitySlider()->maximum(), 3000);
    }

    void bindingAsksForTheNodeId()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{"drive_canopen", "Drive2", "drive", ""}}));
        QList<ZorMessage> sent;
        connect(panel.get(), &ZorPanel::msgOut, this, [&](const ZorMessage &m) { sent << m; });
        QVERIFY(panel->setupZorPanel(model.moduleIndex("Drive2"), &model));
        QStringList texts;
        for (const ZorMessage &m : sent)
            texts << m.toString();
        QCOMPARE(texts, QStringList({"KM_INFOTEXT:KS_REQUEST", "KM_STATUS:KS_REQUEST",
                                     "KM_GETPROPERTY:KS_REQUEST:NodeId"}));
    }
};

ZOR_TEST(TestContentDriveRuxa)
#include "tst_contentdriveruxa.moc"
