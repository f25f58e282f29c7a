#include "zorapplservices.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QtTest>

using namespace ZorApplServices;

namespace {

using ZorTest::readFile;
using ZorTest::writeFile;

QString encipherWithTool(const QString &plainPath, const QString &encPath)
{
    QProcess p;
    p.start(QStringLiteral(ZOR_SETTINGS_CIPHER), {plainPath, encPath});
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return QString();
    return QString::fromLatin1(readFile(encPath));
}

// Builds the binary resource file `rccName` in `dir` holding the given
// settings files (resource name -> plain XML), each enciphered by the tool.
bool buildResourceFile(const QString &dir, const QString &rccName,
                       const QMap<QString, QByteArray> &settings)
{
    QString qrc = QStringLiteral("<!DOCTYPE RCC><RCC version=\"1.0\"><qresource prefix=\"/\">\n");
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        const QString plain = dir + QLatin1Char('/') + it.key() + QStringLiteral(".xml");
        const QString enc = dir + QLatin1Char('/') + it.key();
        if (!writeFile(plain, it.value()) || encipherWithTool(plain, enc).isNull())
            return false;
        qrc += QStringLiteral("<file alias=\"%1\">%2</file>\n").arg(it.key(), enc);
    }
    qrc += QStringLiteral("</qresource></RCC>\n");
    const QString qrcPath = dir + QLatin1Char('/') + rccName + QStringLiteral(".qrc");
    if (!writeFile(qrcPath, qrc.toUtf8()))
        return false;
    return QProcess::execute(QStringLiteral(ZOR_RCC_EXECUTABLE),
                             {QStringLiteral("-binary"), qrcPath, QStringLiteral("-o"),
                              dir + QLatin1Char('/') + rccName})
           == 0;
}

QByteArray settingsXml(const QList<QPair<QString, QString>> &entries)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<Config>\n";
    for (const auto &e : entries)
        xml += "  <Setting name=\"" + e.first.toUtf8() + "\">" + e.second.toUtf8() + "</Setting>\n";
    return xml + "</Config>\n";
}

} // namespace

class TestApplServices : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { resetAppGlobals(); }

    void decipher_data()
    {
        QTest::addColumn<QString>("cipher");
        QTest::addColumn<QString>("plain");
        QTest::newRow("known text") << "55440f43" << "<x/>";
        QTest::newRow("upper-case hex") << "55440F43" << "<x/>";
        QTest::newRow("other characters skipped") << "55 44\n0f-43" << "<x/>";
        QTest::newRow("empty") << "" << "";
    }
    void decipher()
    {
        QFETCH(QString, cipher);
        QFETCH(QString, plain);
        QCOMPARE(decipherConfigText(cipher), plain);
    }

    // The build's cipher tool is the exact inverse of the program's routine,
    // over every byte value and past the key length many times.
    void cipherToolIsInverseOfDecipher()
    {
        QTemporaryDir dir;
        QByteArray plain;
        for (int i = 0; i < 600; ++i)
            plain.append(static_cast<char>((i * 37 + 11) % 256));
        QVERIFY(writeFile(dir.filePath("plain"), plain));
        const QString cipher = encipherWithTool(dir.filePath("plain"), dir.filePath("enc"));
        QCOMPARE(cipher.size(), plain.size() * 2);
        QCOMPARE(decipherConfigText(cipher).toLatin1(), plain);
    }

    void readSettingsFile_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("encipher");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariantMap>("expected");

        QTest::newRow("later setting wins, any depth, text joined")
            << "a.xml"
            << QByteArray("<r><Setting name=\"A\">1</Setting><g><Setting name=\"A\">2</Setting>"
                          "<Setting name=\"B\">x<b>y</b><![CDATA[<z>]]></Setting></g></r>")
            << false << true << QVariantMap{{"A", "2"}, {"B", "xy<z>"}};
        QTest::newRow("setting without name is stored under the empty key")
            << "b.xml" << QByteArray("<r><Setting>v</Setting></r>") << false << true
            << QVariantMap{{"", "v"}};
        QTest::newRow("no setting reads as success")
            << "c.xml" << QByteArray("<r><Other name=\"A\">1</Other></r>") << false << true
            << QVariantMap{};
        QTest::newRow("invalid xml") << "d.xml" << QByteArray("<r><Setting") << false << false
                                     << QVariantMap{};
        QTest::newRow("enciphered")
            << "e.enc" << QByteArray("<r><Setting name=\"T\">\xe9t\xe9</Setting></r>") << true
            << true << QVariantMap{{"T", QString::fromLatin1("\xe9t\xe9")}};
        // The suffix test is case-sensitive: ".ENC" is read as plain XML.
        QTest::newRow("capital .ENC is plain")
            << "f.ENC" << QByteArray("<r><Setting name=\"P\">p</Setting></r>") << false << true
            << QVariantMap{{"P", "p"}};
        QTest::newRow("capital .ENC with cipher text fails")
            << "g.ENC" << QByteArray("<r/>") << true << false << QVariantMap{};
    }
    void readSettingsFile()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(bool, encipher);
        QFETCH(bool, ok);
        QFETCH(QVariantMap, expected);

        QTemporaryDir dir;
        const QString path = dir.filePath(fileName);
        if (encipher) {
            QVERIFY(writeFile(dir.filePath("plain"), content));
            QVERIFY(!encipherWithTool(dir.filePath("plain"), path).isNull());
        } else {
            QVERIFY(writeFile(path, content));
        }
        QMap<QString, QString> map;
        QCOMPARE(ZorApplServices::readSettingsFile(path, map), ok);
        QVariantMap got;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            got.insert(it.key(), it.value());
        QCOMPARE(got, expected);
    }

    void readSettingsFileMissing()
    {
        QMap<QString, QString> map;
        QVERIFY(!ZorApplServices::readSettingsFile(QStringLiteral("/nonexistent/x.xml"), map));
    }

    // The resource files the build puts beside the executable start the
    // program with a complete default configuration.
    void shippedConfiguration()
    {
        QVERIFY(initAppGlobals());
        QVERIFY(appGlobalsLoaded());
        QCOMPARE(appGlobal("AppTitle"), QStringLiteral("Quorvane"));
        QCOMPARE(appGlobal("AppVersion"), QStringLiteral("v1.9.48"));
        QCOMPARE(appGlobal("AppExeDir"), QCoreApplication::applicationDirPath());
        QCOMPARE(appGlobal("AppExePath"), QCoreApplication::applicationFilePath());
        QCOMPARE(appGlobal("DefaultUiMode"), QStringLiteral("0"));
        QVERIFY(appGlobalFlag("AllowCmdLineArgs"));
        QVERIFY(!appGlobalFlag("ShowAboutOnStartup"));
        for (const char *key : {"OrganizationName", "InfoUrl", "AppTitle", "DefaultUiMode",
                                "UserLevelNames", "UserLevelPasswords", "AllowCmdLineArgs",
                                "AllowDifferentUiMode", "ShowAboutOnStartup", "HelpFile",
                                "SupportUrl", "StdTemplate", "UpdateUrl", "UpdateUserPrefix"}) {
            QVERIFY2(appGlobals().contains(QLatin1String(key)), key);
        }
        QVERIFY(appGlobal("UserLevelNames").split(',', Qt::SkipEmptyParts).size() >= 2);
        QVERIFY(readTextFileWithMacros(":about.html").contains("Quorvane v1.9.48"));
    }

    void loading_data()
    {
        QTest::addColumn<QByteArray>("product");  // empty: no product resource file
        QTest::addColumn<QByteArray>("user");     // empty: no user resource file
        QTest::addColumn<QByteArray>("runtime");  // empty: no runtime configuration
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariantMap>("expected");

        const QByteArray demo = settingsXml({{"AppTitle", "Demo"}, {"OrganizationName", "Org"}});
        const QByteArray user = settingsXml({{"DefaultUiMode", "3"}, {"AppTitle", "Demo User"}});
        const QByteArray broken = "<Config><Setting name=\"A\">";
        QTest::newRow("product and user")
            << demo << user << QByteArray() << true
            << QVariantMap{{"AppTitle", "Demo User"}, {"OrganizationName", "Org"},
                           {"DefaultUiMode", "3"}, {"AppVersion", "v1.9.48"}};
        QTest::newRow("configuration replaces a fixed entry")
            << settingsXml({{"AppTitle", "Demo"}, {"AppVersion", "v2"}}) << user << QByteArray()
            << true << QVariantMap{{"AppVersion", "v2"}};
        QTest::newRow("unreadable user configuration falls back to the runtime one")
            << demo << broken << settingsXml({{"Runtime", "yes"}}) << true
            << QVariantMap{{"AppTitle", "Demo"}, {"Runtime", "yes"}};
        QTest::newRow("unreadable user and no runtime configuration")
            << demo << broken << QByteArray() << false << QVariantMap{{"AppTitle", "Demo"}};
        QTest::newRow("unreadable product configuration")
            << broken << user << QByteArray() << false << QVariantMap{{"AppVersion", "v1.9.48"}};
        QTest::newRow("missing user resource file")
            << demo << QByteArray() << QByteArray() << false << QVariantMap{{"AppTitle", ""}};
        QTest::newRow("missing resource files")
            << QByteArray() << QByteArray() << QByteArray() << false
            << QVariantMap{{"AppVersion", "v1.9.48"}, {"AppTitle", ""}};
    }
    void loading()
    {
        QFETCH(QByteArray, product);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, runtime);
        QFETCH(bool, ok);
        QFETCH(QVariantMap, expected);

        QTemporaryDir dir;
        QMap<QString, QByteArray> productFiles;
        if (!product.isEmpty())
            productFiles.insert("Quorvane.config.enc", product);
        if (!runtime.isEmpty())
            productFiles.insert("Quorvane.runtime.config.enc", runtime);
        if (!productFiles.isEmpty())
            QVERIFY(buildResourceFile(dir.path(), "Quorvane.rcc", productFiles));
        if (!user.isEmpty())
            QVERIFY(buildResourceFile(dir.path(), "Quorvane.user.rcc",
                                      {{"Quorvane.user.config.enc", user}}));

        QCOMPARE(initAppGlobalsFromDir(dir.path()), ok);
        QCOMPARE(appGlobalsLoaded(), ok);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(appGlobals().value(it.key()), it.value().toString());
        QCOMPARE(appGlobals().value("AppExeDir"), QCoreApplication::applicationDirPath());
        if (product.isEmpty()) {
            // Nothing was registered: the next lookup loads again, from the
            // executable's folder, where the shipped files are.
            QCOMPARE(appGlobal("AppTitle"), QStringLiteral("Quorvane"));
            QVERIFY(appGlobalsLoaded());
        } else if (ok) {
            // Loaded once: a second call does not read again.
            QVERIFY(initAppGlobals());
            QCOMPARE(appGlobal("AppExeDir"), QCoreApplication::applicationDirPath());
        }
    }

    void flagsAndMacros()
    {
        QTemporaryDir dir;
        QVERIFY(buildResourceFile(
            dir.path(), "Quorvane.rcc",
            {{"Quorvane.config.enc",
              settingsXml({{"AppTitle", "Demo"}, {"F0", "0"}, {"Fm3", "-3"}, {"Fe", ""},
                           {"Fx", "yes"}, {"F1", "1"}, {"F7", "7"},
                           // Values holding macros: expanded only when the
                           // inner key comes later in key order.
                           {"M1", "%%M2%%"}, {"M2", "two"}, {"N2", "%%N1%%"}, {"N1", "one"}})}}));
        QVERIFY(buildResourceFile(dir.path(), "Quorvane.user.rcc",
                                  {{"Quorvane.user.config.enc", settingsXml({})}}));
        QVERIFY(initAppGlobalsFromDir(dir.path()));

        for (const char *key : {"F0", "Fm3", "Fe", "Fx", "Missing"})
            QVERIFY2(!appGlobalFlag(QLatin1String(key)), key);
        QVERIFY(appGlobalFlag("F1"));
        QVERIFY(appGlobalFlag("F7"));

        QCOMPARE(expandMacros("%%AppTitle%% and %%NotAKey%%"), QStringLiteral("Demo and %%NotAKey%%"));
        QCOMPARE(expandMacros("%%M1%%|%%N2%%"), QStringLiteral("two|%%N1%%"));

        const QString path = dir.filePath("about.txt");
        QVERIFY(writeFile(path, "Caf\xe9 %%AppTitle%%\n"));
        QCOMPARE(readTextFileWithMacros(path), QString::fromLatin1("Caf\xe9 Demo\n"));
        QCOMPARE(readTextFileWithMacros(QString()), QString());
        QCOMPARE(readTextFileWithMacros(dir.filePath("missing.txt")), QString());
    }

    void expandMacrosBeforeLoading()
    {
        QVERIFY(!appGlobalsLoaded());
        QCOMPARE(expandMacros("%%AppTitle%%"), QStringLiteral("%%AppTitle%%"));
    }
};

ZOR_TEST(TestApplServices)
#include "tst_applservices.moc"
