#include "zorstartupoptions.h"
#include "zortest.h"

#include <QtTest>

class TestStartupOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("defaultUiMode");
        QTest::addColumn<QString>("levelNames");
        QTest::addColumn<bool>("allowArgs");
        QTest::addColumn<bool>("allowUiMode");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("guiMode");
        QTest::addColumn<int>("userLevel");
        QTest::addColumn<int>("debugMode");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<QString>("firstCommand");

        const QString names = QStringLiteral("Operator,Engineer,Expert");
        auto args = [](std::initializer_list<const char *> list) {
            QStringList l{QStringLiteral("Quorvane")};
            for (const char *a : list)
                l << QString::fromUtf8(a);
            return l;
        };
        // config                                args                       gui lvl dbg min first command
        QTest::newRow("defaults") << "1" << names << true << true << args({})
                                  << 1 << 1 << 0 << false << "new";
        QTest::newRow("default mode 7 gives 0") << "7" << names << true << true << args({})
                                                << 0 << 1 << 0 << false << "new";
        QTest::newRow("default mode not a number") << "x" << names << true << true << args({})
                                                   << 0 << 1 << 0 << false << "new";
        QTest::newRow("uimode") << "0" << names << true << true << args({"/uimode=3"})
                                << 3 << 1 << 0 << false << "new";
        QTest::newRow("uimode any case, value up to next =")
            << "0" << names << true << true << args({"/UiMode= 4 =1"}) << 4 << 1 << 0 << false << "new";
        QTest::newRow("uimode 7 keeps the configured mode")
            << "2" << names << true << true << args({"/uimode=7"}) << 2 << 1 << 0 << false << "new";
        QTest::newRow("uimode without AllowDifferentUiMode")
            << "2" << names << true << false << args({"/uimode=3"}) << 2 << 1 << 0 << false << "new";
        QTest::newRow("userlevel above highest, empty name skipped")
            << "0" << "Operator,,Expert" << true << true << args({"/userlevel=5"})
            << 0 << 1 << 0 << false << "new";
        QTest::newRow("negative userlevel") << "0" << names << true << true << args({"/userlevel=-2"})
                                            << 0 << 0 << 0 << false << "new";
        QTest::newRow("one name: level 1 without switch") << "0" << "Operator" << true << true << args({})
                                                          << 0 << 1 << 0 << false << "new";
        QTest::newRow("debugmode unbounded") << "0" << names << true << true << args({"/DEBUGMODE=42"})
                                             << 0 << 1 << 42 << false << "new";
        QTest::newRow("debugmode not a number") << "0" << names << true << true << args({"/debugmode=on"})
                                                << 0 << 1 << 0 << false << "new";
        QTest::newRow("minimized in capitals") << "0" << names << true << true << args({"/MINIMIZED"})
                                               << 0 << 1 << 0 << true << "new";
        QTest::newRow("quoted project, suffix in capitals")
            << "0" << names << true << true << args({" \"/home/me/Line.ZORPRO\" "})
            << 0 << 1 << 0 << false << "open,/home/me/Line.ZORPRO";
        QTest::newRow("last of two projects")
            << "0" << names << true << true << args({"a.zorzip", "/srv/b.zortpl"})
            << 0 << 1 << 0 << false << "open,/srv/b.zortpl";
        QTest::newRow("absolute paths are files, not switches")
            << "0" << names << true << true
            << args({"/home/me/debugmode=2.zorpro", "/tmp/uimode=3", "/home/me/notes.txt"})
            << 0 << 1 << 0 << false << "open,/home/me/debugmode=2.zorpro";
        QTest::newRow("command line not allowed")
            << "1" << names << false << true
            << args({"/uimode=3", "/debugmode=2", "/userlevel=2", "/minimized", "x.zorpro"})
            << 1 << 1 << 0 << false << "new";
    }
    void parse()
    {
        QFETCH(QString, defaultUiMode);
        QFETCH(QString, levelNames);
        QFETCH(bool, allowArgs);
        QFETCH(bool, allowUiMode);
        QFETCH(QStringList, args);

        ZorStartupOptions::Config config;
        config.defaultUiMode = defaultUiMode;
        config.userLevelNames = levelNames;
        config.allowCmdLineArgs = allowArgs;
        config.allowDifferentUiMode = allowUiMode;
        const ZorStartupOptions o = ZorStartupOptions::parse(args, config);

        QTEST(o.guiMode, "guiMode");
        QTEST(o.userLevel, "userLevel");
        QTEST(o.debugMode, "debugMode");
        QTEST(o.minimized, "minimized");
        QTEST(o.firstCommand(), "firstCommand");
    }

    void highestUserLevel()
    {
        ZorStartupOptions::Config config;
        config.allowCmdLineArgs = true;
        QCOMPARE(ZorStartupOptions::parse({}, config).highestUserLevel, 0);
        config.userLevelNames = QStringLiteral(",a,,b,c,");
        QCOMPARE(ZorStartupOptions::parse({}, config).highestUserLevel, 2);
    }
};

ZOR_TEST(TestStartupOptions)
#include "tst_startupoptions.moc"
