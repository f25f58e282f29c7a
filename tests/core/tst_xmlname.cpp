// Property keys as element names: plain ASCII names stay as they are (so
// stored projects read as before), every other key gets a name that every
// XML parser accepts and that reads back as exactly the key.
#include "testdommodel.h"
#include "testmodule.h"
#include "zortest.h"
#include "zorxmlname.h"

#include <QDomDocument>
#include <QXmlStreamReader>
#include <QtTest>

class TestXmlName : public QObject
{
    Q_OBJECT
private slots:
    void keysAndTheirNames_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "Baudrate" << "Baudrate";
        QTest::newRow("pseudo-property") << "_ReadOnly" << "_ReadOnly";
        QTest::newRow("digits, point, hyphen") << "Axis2.max-speed" << "Axis2.max-speed";
        QTest::newRow("slash") << "Accel/Decel" << "Accel_x002F_Decel";
        QTest::newRow("leading digit") << "2ndAxis" << "_x0032_ndAxis";
        QTest::newRow("colon") << "Max:Speed" << "Max_x003A_Speed";
        QTest::newRow("markup characters") << "a<b>&\"c'" << "a_x003C_b_x003E__x0026__x0022_c_x0027_";
        // Beyond ASCII everything is encoded: the parsers disagree on which
        // letters a name may hold.
        QTest::newRow("letter beyond ASCII") << QString::fromUtf8("Geschwindigkeit_ä")
                                             << "Geschwindigkeit__x00E4_";
        QTest::newRow("euro sign") << QString::fromUtf8("Preis€") << "Preis_x20AC_";
        QTest::newRow("beyond 16 bits") << QString::fromUtf8("Note🎵") << "Note_x0001F3B5_";
        QTest::newRow("literal escape") << "_x0041_" << "_x005F_x0041_";
        QTest::newRow("literal escape inside") << "A/_x002F_" << "A_x002F__x005F_x002F_";
        QTest::newRow("escape-like, not hex") << "_xZZZZ_" << "_xZZZZ_";
    }
    void keysAndTheirNames()
    {
        QFETCH(QString, key);
        QFETCH(QString, name);
        QCOMPARE(ZorXmlName::encode(key), name);
        QCOMPARE(ZorXmlName::decode(name), key);
        QVERIFY(ZorXmlName::isName(name));

        // The name survives a write and a read of the document.
        QDomDocument doc;
        doc.appendChild(doc.createElement("properties"))
            .appendChild(doc.createElement(ZorXmlName::encode(key)))
            .appendChild(doc.createTextNode("5"));
        QDomDocument read;
        QString error;
        QVERIFY2(read.setContent(doc.toString(1), true, &error), qPrintable(error));
        QCOMPARE(ZorXmlName::decode(read.documentElement().firstChildElement().tagName()), key);
        QXmlStreamReader stream(doc.toString(1));
        while (!stream.atEnd())
            stream.readNext();
        QVERIFY2(!stream.hasError(), qPrintable(stream.errorString()));
    }

    // A key that an earlier edition wrote raw (a letter beyond ASCII that
    // Qt's parser takes) reads as before, and its element takes the encoded
    // name at the next write: one element, the new value.
    void rawKeysOfEarlierProjectsAreTakenOver()
    {
        const QString key = QString::fromUtf8("Geschwindigkeit_ä");
        TestDomModel model;
        QVERIFY(model.setXml(TestDomModel::projectXml(
            {{"canusb", "CAN1", "", "<properties><" + key + ">1</" + key + "></properties>"}})));
        TestModule before;
        QVERIFY(before.setupZorModule(model.moduleIndex("CAN1"), &model));
        QCOMPARE(before.property(key), QStringLiteral("1"));

        model.writeModuleProperty(model.moduleIndex("CAN1"), key, QStringLiteral("2"));
        const QDomElement props = model.moduleElement("CAN1").firstChildElement("properties");
        QCOMPARE(props.childNodes().count(), 1);
        QCOMPARE(props.firstChildElement().tagName(), ZorXmlName::encode(key));
        TestModule after;
        QVERIFY(after.setupZorModule(model.moduleIndex("CAN1"), &model));
        QCOMPARE(after.property(key), QStringLiteral("2"));
    }

    void namesOfProjectsWrittenBeforeReadAsThemselves()
    {
        for (const char *name : {"Port", "MonitorFilter0", "_ReadOnly", "x0041_", "_x41_"})
            QCOMPARE(ZorXmlName::decode(QLatin1String(name)), QLatin1String(name));
    }
};

ZOR_TEST(TestXmlName)
#include "tst_xmlname.moc"
