// Each adapter plug-in exports exactly the nine plug-in functions and
// nothing else (checked with nm on the built library), so that plug-ins
// loaded side by side never clash.
#include "adapterplugintest.h"
#include "zortest.h"

#include <QtTest>

class TestPluginExports : public QObject
{
    Q_OBJECT
private slots:
    void exactlyTheNineFunctions_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("lawicel") << "lawicel";
        QTest::newRow("zanthic") << "zanthic";
    }

    void exactlyTheNineFunctions()
    {
        QFETCH(QString, key);
        const QString path = AdapterTest::pluginPath(key);
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QProcess nm;
        nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"), path});
        QVERIFY2(nm.waitForFinished(10000) && nm.exitCode() == 0, qPrintable(nm.errorString()));
        QStringList names;
        for (const QByteArray &line : nm.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() == 3)
                names << QString::fromLatin1(fields[2]);
        }
        names.sort();
        QCOMPARE(names, QStringList({"canPortBitrateSet", "canPortClose", "canPortEcho", "canPortGoBusOff",
                                     "canPortGoBusOn", "canPortLibraryInit", "canPortOpen", "canPortRead",
                                     "canPortWrite"}));
    }
};

ZOR_TEST(TestPluginExports)
#include "tst_pluginexports.moc"
