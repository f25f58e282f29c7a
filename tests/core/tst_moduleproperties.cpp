// Module properties: keys and display names, defaults, the change hook, the
// project XML they are stored in and read from, and the read-only list.
#include "zortest.h"
#include "testdommodel.h"
#include "testmodule.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

class TestModuleProperties : public QObject
{
    Q_OBJECT
private slots:
    void propertyKeyIsTheNameWithoutItsUnit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::newRow("unit") << "TargetPos [mm]" << "TargetPos";
        QTest::newRow("hint with blanks") << "Mode [0:ASCII, 1:Binary]" << "Mode";
        QTest::newRow("plain") << "Port" << "Port";
        QTest::newRow("blanks around") << "  Port  " << "Port";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("blanks inside") << "1 bad key" << "1 bad key";
        QTest::newRow("blanks and unit") << "Max speed [rpm]" << "Max speed";
        QTest::newRow("hint after a sign") << "TargetPos / my target position" << "TargetPos";
        QTest::newRow("unit in parentheses") << "Delay  (s)" << "Delay";
        QTest::newRow("brackets without blank") << "Axis[2]" << "Axis[2]";
        QTest::newRow("only brackets") << "[x]" << "[x]";
    }

    void propertyKeyIsTheNameWithoutItsUnit()
    {
        QFETCH(QString, name);
        QFETCH(QString, key);
        QCOMPARE(ZorModule::propertyKey(name), key);
    }

    void valuesDefaultsAndDisplayNames()
    {
        TestModule m(QStringLiteral("Log"), QStringLiteral("datalog"));
        m.setProperty(QStringLiteral("TargetPos [mm]"), QStringLiteral("100"), false);
        m.setProperty(QStringLiteral("TargetPos"), QStringLiteral("200"), false);
        QCOMPARE(m.property(QStringLiteral("TargetPos")), QStringLiteral("200"));
        QCOMPARE(m.property(QStringLiteral("TargetPos [mm]")), QStringLiteral("200"));
        QCOMPARE(m.allPropertiesText(), QStringLiteral("TargetPos [mm]=200"));

        m.setProperty(QStringLiteral("PreTriggerTimeMsec"), QStringLiteral("4000"), false, true);
        m.setProperty(QStringLiteral("PreTriggerTimeMsec"), QStringLiteral("250"), false);
        QCOMPARE(m.property(QStringLiteral("PreTriggerTimeMsec")), QStringLiteral("250"));
        m.setProperty(QStringLiteral("PreTriggerTimeMsec"), QString(), false);
        QCOMPARE(m.property(QStringLiteral("PreTriggerTimeMsec")), QStringLiteral("4000"));
        // An empty value given as default becomes the new default.
        m.setProperty(QStringLiteral("PreTriggerTimeMsec"), QString(), false, true);
        QCOMPARE(m.property(QStringLiteral("PreTriggerTimeMsec")), QString());
        m.setProperty(QStringLiteral("PreTriggerTimeMsec"), QString(), false);
        QCOMPARE(m.property(QStringLiteral("PreTriggerTimeMsec")), QString());
    }

    void changeHookMayAdjustOrRefuseButTheValueIsStored()
    {
        TestModule m(QStringLiteral("CAN1"), QStringLiteral("canusb"));
        QStringList seen;
        m.onPropertyChanged = [&](const QString &key, QString &value) {
            seen << key + "=" + value;
            // A hook may read other properties (the mutex is recursive).
            if (key == "Baudrate")
                value = value + "/" + m.property("Port");
            return key != "Refused";
        };
        m.setProperty(QStringLiteral("Port"), QStringLiteral("COM1"), false);
        QVERIFY(m.setProperty(QStringLiteral("Baudrate [bit/s]"), QStringLiteral("500000"), false));
        QCOMPARE(m.property(QStringLiteral("Baudrate")), QStringLiteral("500000/COM1"));
        QVERIFY(!m.setProperty(QStringLiteral("Refused"), QStringLiteral("x"), false));
        QCOMPARE(m.property(QStringLiteral("Refused")), QStringLiteral("x"));
        QCOMPARE(seen, QStringList({"Port=COM1", "Baudrate=500000", "Refused=x"}));
    }

    void storedValuesAreLoadedAtSetUp()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{"canusb", "CAN1", "USB adapter",
            "<properties><Port>sim</Port><Baudrate>250000</Baudrate><Empty/></properties>"}}));
        TestModule m;
        m.setProperty(QStringLiteral("Port"), QStringLiteral("COM1"), false);
        m.setProperty(QStringLiteral("Empty"), QStringLiteral("kept"), false);
        int hookCalls = 0;
        m.onPropertyChanged = [&](const QString &, QString &) { ++hookCalls; return true; };
        QVERIFY(m.setupZorModule(model.moduleIndex("CAN1"), &model));
        QCOMPARE(m.property(QStringLiteral("Port")), QStringLiteral("sim"));
        QCOMPARE(m.property(QStringLiteral("Baudrate")), QStringLiteral("250000"));
        QCOMPARE(m.property(QStringLiteral("Empty")), QStringLiteral("kept"));
        QCOMPARE(hookCalls, 0);
        QCOMPARE(m.label(), QStringLiteral("CAN1"));
        QCOMPARE(m.type(), QStringLiteral("canusb"));
        QCOMPARE(m.description(), QStringLiteral("USB adapter"));

        TestModule unbound;
        QVERIFY(!unbound.setupZorModule(QModelIndex(), &model));
        QVERIFY(!unbound.loadProperties());
    }

    void writesReachThePropertiesElement()
    {
        TestDomModel model;
        model.setXml(TestDomModel::projectXml({{"drive_canopen", "Drive01", "",
            "<properties><Speed/><Mode>1</Mode></properties>"}}));
        std::unique_ptr<TestModule, ZorModuleDeleter> m(new TestModule);
        QVERIFY(m->setupZorModule(model.moduleIndex("Drive01"), &model));
        m->period = 0;
        m->onCycle = [](ZorModStates::Top &state) {
            if (static_cast<TestModule *>(state.module())->cycles() == 1) {
                state.setProperty(QStringLiteral("Speed"), QStringLiteral("5"));
                state.setProperty(QStringLiteral("Mode"), QStringLiteral("3"));
                state.setReadOnlyProperties(QStringLiteral("Port,TargetPos [mm], Speed"));
            }
        };
        m->start();
        // From the master's side too, in the host thread.
        m->slaveIn(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("TargetPos [mm]=10=20")));
        QTRY_COMPARE(model.storedProperty("Drive01", "_ReadOnly"), QStringLiteral("Port,TargetPos,"));
        QCOMPARE(model.storedProperty("Drive01", "TargetPos"), QStringLiteral("10=20"));
        QCOMPARE(model.storedProperty("Drive01", "Speed"), QStringLiteral("5"));
        QCOMPARE(model.storedProperty("Drive01", "Mode"), QStringLiteral("3"));
        const QDomElement props = model.moduleElement("Drive01").firstChildElement("properties");
        QCOMPARE(props.elementsByTagName("Mode").count(), 1);
        QCOMPARE(m->property(QStringLiteral("_ReadOnly")), QStringLiteral("Port,TargetPos,"));
    }
};

ZOR_TEST(TestModuleProperties)
#include "tst_moduleproperties.moc"
