#include "zormigration.h"
#include "zortest.h"

#include <QtTest>

class TestMigration : public QObject
{
    Q_OBJECT

private slots:
    void projectText_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("current text unchanged")
            << "<QuorvaneProject><module type=\"drive_canopen\" zorStatus=\"1\"/></QuorvaneProject>"
            << "<QuorvaneProject><module type=\"drive_canopen\" zorStatus=\"1\"/></QuorvaneProject>";
        QTest::newRow("family key kept, its sub-keys renamed")
            << "<m type=\"drive_ruxa\"/><m type=\"drive_ruxa_setup\"/>"
            << "<m type=\"drive_ruxa\"/><m type=\"drive_canopen_setup\"/>";
        QTest::newRow("status attributes swap their endings")
            << "<o zorEditStat=\"a\" zorEditStatTxt=\"b\"/>" << "<o zorStatusTxt=\"a\" zorStatus=\"b\"/>";
        QTest::newRow("two attributes fold into one")
            << "<o zorEditFeatures=\"f\"/><o zorEditStyle=\"s\"/>"
            << "<o zorUiFormat=\"f\"/><o zorUiFormat=\"s\"/>";
        QTest::newRow("editor and viewer keys")
            << "type=\"pythoneditor_drive\" type=\"pythoneditor_pc\" type=\"automation_setup\" "
               "type=\"datalog_viewer\""
            << "type=\"drive_canopen_python\" type=\"automation_python\" type=\"automation_python\" "
               "type=\"datalog\"";
        QTest::newRow("control keys need their closing quote")
            << "type=\"vedozovo_control\" type=\"vedozovo_control_setup\" "
               "type=\"vedozovo_control_objects\""
            << "type=\"nodeconfig\" type=\"drive_canopen_setup\" type=\"drive_canopen_objects\"";
        QTest::newRow("case matters") << "<tovistepProject type=\"Datalog_viewer\"/>"
                                      << "<tovistepProject type=\"Datalog_viewer\"/>";
    }
    void projectText()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        upgradeProjectText(before);
        QCOMPARE(before, after);
    }

    void oldProjectLoadsWithCurrentRoot()
    {
        QString text = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<TovistepProject version=\"1\"><module type=\"drive_ruxa_objects\" label=\"D\"/>"
            "</TovistepProject>\n");
        upgradeProjectText(text);
        QDomDocument doc;
        QVERIFY(doc.setContent(text));
        QCOMPARE(doc.documentElement().tagName(), QStringLiteral("QuorvaneProject"));
        QCOMPARE(doc.documentElement().firstChildElement().attribute("type"),
                 QStringLiteral("drive_canopen_objects"));
    }

    void scriptText_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("import") << "import Tovistep\nTovistep.ZorSendMsg('x')\n"
                                << "import Quorvane\nTovistep.ZorSendMsg('x')\n";
        QTest::newRow("from") << "from Tovistep import ZorSendMsg\n"
                              << "from Quorvane import ZorSendMsg\n";
        QTest::newRow("longer module name") << "import TovistepTools\n" << "import QuorvaneTools\n";
        QTest::newRow("current script") << "import Quorvane\n" << "import Quorvane\n";
    }
    void scriptText()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        upgradeScriptText(before);
        QCOMPARE(before, after);
    }
};

ZOR_TEST(TestMigration)
#include "tst_migration.moc"
