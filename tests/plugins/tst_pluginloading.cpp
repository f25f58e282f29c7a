// How plug-ins are built and loaded: each exports exactly the nine functions,
// and copies loaded side by side keep their own state.
#include "zortest.h"
#include "zortestplugins.h"

#include <QtTest>

class TestPluginLoading : public QObject
{
    Q_OBJECT
private slots:
    void exportsOnlyTheNineFunctions()
    {
        const QString nm = QStandardPaths::findExecutable("nm");
        if (nm.isEmpty())
            QSKIP("nm not installed");
        QProcess p;
        p.start(nm, {"-D", "--defined-only", ZorTest::testPluginPath("testloop")});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QStringList names;
        for (const QString &line : QString::fromLatin1(p.readAllStandardOutput()).split('\n')) {
            const QStringList fields = line.simplified().split(' ');
            if (fields.size() == 3 && fields[1] == "T")
                names << fields[2];
        }
        names.sort();
        QCOMPARE(names, (QStringList{"canPortBitrateSet", "canPortClose", "canPortEcho",
                                     "canPortGoBusOff", "canPortGoBusOn", "canPortLibraryInit",
                                     "canPortOpen", "canPortRead", "canPortWrite"}));
    }

    // Two plug-ins exporting the same names, loaded at once: each call
    // reaches its own library (its own port table), none the other's.
    void sideBySideCopiesStayApart()
    {
        QTemporaryDir dir;
        QVERIFY(ZorTest::installTestPlugin(dir.path(), "testloop", "kvaser"));
        QVERIFY(ZorTest::installTestPlugin(dir.path(), "testloop", "castor"));
        CanPortLibrary kvaser(dir.filePath(CanPortLibrary::fileNameForKey("kvaser")));
        CanPortLibrary castor(dir.filePath(CanPortLibrary::fileNameForKey("castor")));
        QCOMPARE(kvaser.bindState(), int(CanPortLibrary::Bound));
        QCOMPARE(castor.bindState(), int(CanPortLibrary::Bound));
        QCOMPARE(kvaser.canPortLibraryInit(), 0);
        QCOMPARE(castor.canPortLibraryInit(), 0);
        int a = -1, b = -1;
        QCOMPARE(kvaser.canPortOpen(0, &a), 0);
        QCOMPARE(castor.canPortOpen(0, &b), 0);
        QCOMPARE(a, 0);
        QCOMPARE(b, 0); // a shared table would have given 1
        QCOMPARE(kvaser.canPortClose(a), 0);
        QCOMPARE(castor.canPortClose(b), 0); // still open in its own copy
    }

    void unboundEntryPoints()
    {
        CanPortLibrary missing(QDir::temp().filePath("no-such-dir/buslink_hw_none.so"));
        QCOMPARE(missing.bindState(), int(CanPortLibrary::NotLoaded));
        int port = 0, id = 0, len = 0, flags = 0;
        quint8 data[8];
        QCOMPARE(missing.canPortLibraryInit(), -110);
        QCOMPARE(missing.canPortOpen(0, &port), -110);
        QCOMPARE(missing.canPortRead(0, &id, data, &len, &flags), -110);
    }

    void resultTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("success") << 0 << "";
        QTest::newRow("canopen layer") << -4 << "Timeout occurred.";
        QTest::newRow("gap in canopen codes") << -16 << "Unknown error";
        QTest::newRow("port not usable") << -101 << "Unknown error";
        QTest::newRow("no message") << -109 << "No message.";
        QTest::newRow("general") << -255 << "General error occurred.";
        QTest::newRow("load") << -1000 << "Could not load driver";
        QTest::newRow("unknown device") << -1001 << "Unknown device type";
        QTest::newRow("positive") << 3 << "Unknown error";
    }
    void resultTexts()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(CanPortLibrary::canPortErrorText(code), text);
    }
};

ZOR_TEST(TestPluginLoading)
#include "tst_pluginloading.moc"
