// The update catalogue: reading and checking catalogue files, comparing
// them, and installing their packages from a loopback update server.
#include "zorcatalog.h"
#include "zornetaccessmanager.h"

#include "catalogserver.h"
#include "updatetesting.h"
#include "zortemphome.h"
#include "zortest.h"
#include "zortestzip.h"

#include <QtTest>

using namespace UpdateTesting;
using ZorTest::ZipEntry;

namespace {

const QString kUser = QStringLiteral("QVbob");
const QString kPassword = QStringLiteral("pw");

QByteArray zip(const QList<ZipEntry> &entries)
{
    return ZorTest::storedZip(entries);
}

QStringList workFolders(const QString &temp)
{
    return QDir(temp).entryList({QStringLiteral("Catalog-tmp-*")}, QDir::Dirs);
}

} // namespace

class TestCatalog : public QObject
{
    Q_OBJECT

    ZorTest::TempHome m_home;
    QTemporaryDir m_root;
    CatalogServer m_server;

    // Fetches the catalogue "<folder>/<name>" and waits for its report.
    bool initialize(ZorCatalog &catalog, const QString &folder, const QString &name,
                    QList<QVariant> &report)
    {
        QSignalSpy done(&catalog, &ZorCatalog::catalogInitializationCompleted);
        if (!catalog.initialize(m_server.url(folder + QLatin1Char('/') + name), name))
            return false;
        if (!done.wait(20000))
            return false;
        report = done.takeFirst();
        return true;
    }

    bool install(ZorCatalog &catalog, const QString &folder)
    {
        QSignalSpy done(&catalog, &ZorCatalog::catalogInstallCompleted);
        catalog.install(folder);
        return done.wait(60000) && done.first().at(0).toBool();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_root.isValid());
        QVERIFY2(m_server.start(m_root.path(), kUser, kPassword), qPrintable(m_server.errorString()));
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("valid");
        const Package a{"A", "core", {"core/a.zip"}};
        const Package b{"B", "template", {"b.zortpl"}};
        const Package c{"C", "project", {"c.zorpro"}};
        const Package empty{"E", "project", {}};
        QTest::newRow("three packages, three links") << catalogXml({a, b, c}) << true;
        QTest::newRow("three packages, two links") << catalogXml({a, b, empty}) << false;
        QTest::newRow("one package, links spread") << catalogXml({{"A", "core", {"x", "y"}}, empty}) << true;
        QTest::newRow("no GenerationDate") << catalogXml({a}, "Quorvane", QString()) << false;
        QTest::newRow("no package") << catalogXml({}) << false;
        QTest::newRow("not XML") << QByteArray("<Catalog><Title>") << false;
        QTest::newRow("category with a separator") << catalogXml({{"A", "x/../..", {"a"}}}) << false;
        QTest::newRow("category ..") << catalogXml({{"A", " .. ", {"a"}}}) << false;
        QTest::newRow("file name ..") << catalogXml({{"A", "core", {"core/.."}}}) << false;
        QTest::newRow("file name with backslashes") << catalogXml({{"A", "core", {"..\\..\\x"}}}) << false;
        QTest::newRow("file name with a bar") << catalogXml({{"A", "core", {"a|b"}}}) << false;
        QTest::newRow("empty link") << catalogXml({{"A", "core", {""}}}) << false;
        QTest::newRow("link named twice") << catalogXml({a, {"B", "template", {"core/a.zip"}}}) << false;
    }

    void load()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, valid);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("c.zorctl"), xml));
        ZorCatalog catalog(nullptr, kUser, kPassword);
        QCOMPARE(catalog.loadCatalog(dir.filePath("c.zorctl"), false), valid);
    }

    void versionTextAndFolders()
    {
        QTemporaryDir dir;
        ZorCatalog catalog(nullptr, kUser, kPassword);
        QCOMPARE(catalog.versionText(), QString());
        QVERIFY(writeFile(dir.filePath("c.zorctl"), catalogXml({{"A", "core", {"a"}}})));
        QVERIFY(catalog.loadCatalog(dir.filePath("c.zorctl"), false));
        QCOMPARE(catalog.versionText(), QStringLiteral("Quorvane 2024-05-06"));
        QVERIFY(writeFile(dir.filePath("d.zorctl"), catalogXml({{"A", "core", {"a"}}}, "")));
        QVERIFY(catalog.loadCatalog(dir.filePath("d.zorctl"), false));
        QCOMPARE(catalog.versionText(), QString());

        const QList<QPair<QString, QString>> folders{
            {"core", ""}, {"template", "Templates"}, {"project", "Projects"},
            {"whatsnew", "WhatsNew"}, {"  My   Tools ", "My Tools"}, {"Core", "Core"}, {"  ", ""}};
        for (const auto &f : folders)
            QCOMPARE(ZorCatalog::categoryFolder(f.first), f.second);
    }

    void differsFrom_data()
    {
        QTest::addColumn<QByteArray>("other");
        QTest::addColumn<bool>("differs");
        const QList<Package> base{{"A", "core", {"a.zip", "b.txt"}}, {"T", "template", {"t"}}};
        QTest::newRow("same") << catalogXml(base) << false;
        QTest::newRow("other date") << catalogXml(base, "Quorvane", "2024-05-07 07:08:09.010") << true;
        QTest::newRow("other title") << catalogXml(base, "Quorvane Pro") << true;
        QTest::newRow("other link")
            << catalogXml({{"A", "core", {"a.zip", "c.txt"}}, {"T", "template", {"t"}}}) << true;
        QTest::newRow("other category")
            << catalogXml({{"A", "core", {"a.zip", "b.txt"}}, {"T", "project", {"t"}}}) << true;
        QTest::newRow("one package more")
            << catalogXml(base + QList<Package>{{"W", "whatsnew", {"w"}}}) << true;
    }

    void differsFrom()
    {
        QFETCH(QByteArray, other);
        QFETCH(bool, differs);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a.zorctl"),
                          catalogXml({{"A", "core", {"a.zip", "b.txt"}}, {"T", "template", {"t"}}})));
        QVERIFY(writeFile(dir.filePath("b.zorctl"), other));
        ZorCatalog a(nullptr, kUser, kPassword);
        ZorCatalog b(nullptr, kUser, kPassword);
        QVERIFY(a.loadCatalog(dir.filePath("a.zorctl"), false));
        QVERIFY(b.loadCatalog(dir.filePath("b.zorctl"), false));
        QCOMPARE(a.differsFrom(b), differs);
        QCOMPARE(b.differsFrom(a), differs);
    }

    // The saved catalogue is what the next check compares against: it must
    // read back as the same catalogue, in the encoding it declares and with
    // the texts as they were read.
    void writtenCatalogReadsBackTheSame_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("description");
        const QByteArray rest = "<GenerationDate>2024-05-06 07:08:09.010</GenerationDate>"
                                "<Package name=\"A\" category=\"core\"><Link url=\"a.zip\"/></Package>"
                                "</Catalog>\n";
        QTest::newRow("declared Latin-1")
            << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<Catalog>"
               "<Title>Quorvane Z\xfcrich</Title><Description>\xe9t\xe9</Description>" + rest
            << QStringLiteral("Quorvane Zürich") << QStringLiteral("été");
        QTest::newRow("processing instructions in the texts")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Catalog>"
               "<Title>Quorvane<?render bold?> 2</Title><Description><?x y?>Release<?z?> notes</Description>"
                   + rest
            << QStringLiteral("Quorvane 2") << QStringLiteral("Release notes");
    }

    void writtenCatalogReadsBackTheSame()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, title);
        QFETCH(QString, description);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("in.zorctl"), xml));
        ZorCatalog in(nullptr, kUser, kPassword);
        QVERIFY(!in.writeCatalogFile(dir.filePath("nothing.zorctl")));
        QVERIFY(in.loadCatalog(dir.filePath("in.zorctl"), false));
        QCOMPARE(in.title(), title);
        QCOMPARE(in.description(), description);
        QVERIFY(in.writeCatalogFile(dir.filePath("out.zorctl")));
        QVERIFY(!in.writeCatalogFile(dir.filePath("out.zorctl")));

        ZorCatalog out(nullptr, kUser, kPassword);
        QVERIFY(out.loadCatalog(dir.filePath("out.zorctl"), false));
        QCOMPARE(out.title(), title);
        QCOMPARE(out.description(), description);
        QVERIFY(!out.differsFrom(in));
    }

    // Link texts are paths of the server's folder: blanks and letters beyond
    // ASCII reach it percent-encoded, and the files keep their names.
    void linksArePercentEncoded()
    {
        const QString root = m_root.filePath("encoded");
        QVERIFY(writeFile(root + "/QVbob-Catalog.zorctl",
                          catalogXml({{"News", "whatsnew", {"news/whats new.html"}},
                                      {"Data", "core", {QStringLiteral("Grüße/daten ä.txt")}}})));
        QVERIFY(writeFile(root + "/news/whats new.html", "<p>new</p>"));
        QVERIFY(writeFile(root + QStringLiteral("/Grüße/daten ä.txt"), "data"));
        QTemporaryDir target;
        ZorCatalog catalog(nullptr, kUser, kPassword);
        QList<QVariant> report;
        QVERIFY(initialize(catalog, "encoded", "QVbob-Catalog.zorctl", report));
        QVERIFY(report.at(0).toBool());
        const int before = m_server.pathsWithStatus(200).size();
        QVERIFY(install(catalog, target.path()));
        QCOMPARE(m_server.pathsWithStatus(200).mid(before),
                 QStringList({"/encoded/Gr%C3%BC%C3%9Fe/daten%20%C3%A4.txt", "/encoded/news/whats%20new.html"}));
        QCOMPARE(filesBelow(target.path()), QStringList({"WhatsNew/whats new.html", QStringLiteral("daten ä.txt")}));
        QCOMPARE(readFile(target.filePath("WhatsNew/whats new.html")), QByteArray("<p>new</p>"));
    }

    // A component that stops arriving fails the install once nothing came
    // for the time-out, and the status says so.
    void stalledComponentFailsTheInstall()
    {
        const QString root = m_root.filePath("stalled");
        QVERIFY(writeFile(root + "/QVbob-Catalog.zorctl", catalogXml({{"Core", "core", {"stall/big.bin"}}})));
        QVERIFY(writeFile(root + "/big.bin", QByteArray(256 * 1024, 'x')));
        QTemporaryDir target;
        ZorCatalog catalog(nullptr, kUser, kPassword);
        QSignalSpy texts(&catalog, &ZorCatalog::statusChanged);
        QList<QVariant> report;
        QVERIFY(initialize(catalog, "stalled", "QVbob-Catalog.zorctl", report));
        catalog.downloader()->setStallTimeoutMs(500);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!install(catalog, target.path()));
        QVERIFY2(clock.elapsed() < 15000, "the stalled transfer was not given up in time");
        QCOMPARE(texts.last().at(0).toString(),
                 QStringLiteral("Nothing arrived from %1 for 0.5 s: the transfer was stopped.")
                     .arg(m_server.url("stalled/stall/big.bin")));
        QCOMPARE(filesBelow(target.path()), QStringList());
    }

    // Every component downloaded in ascending URL order, core installed
    // first, the others by category; ".zip" (lower case only) extracted.
    void installsByCategory()
    {
        const QString root = m_root.filePath("install");
        const QList<Package> packages{
            {"Templates", "template", {"tpl/Std.zortpl"}},
            {"Core", "core", {"core/app.zip", "core/README.ZIP"}},
            {"Demo", "project", {"prj/Demo.zorpro"}},
            {"Tools", "  My   Tools ", {"b/data.txt"}},
            {"Extra", "Extra", {"a/data.txt", "extra/old-catalog.zorctl"}},
            {"News", "whatsnew", {"news/whatsnew.html"}}};
        QVERIFY(writeFile(root + "/QVbob-Catalog.zorctl", catalogXml(packages)));
        QVERIFY(writeFile(root + "/tpl/Std.zortpl", "template package"));
        QVERIFY(writeFile(root + "/core/app.zip",
                          zip({{"bin/tool.txt", "tool"}, {"Templates/Std.zortpl", "core package"}})));
        QVERIFY(writeFile(root + "/core/README.ZIP", "not an archive"));
        QVERIFY(writeFile(root + "/prj/Demo.zorpro", "<QuorvaneProject/>"));
        QVERIFY(writeFile(root + "/b/data.txt", "tools data"));
        QVERIFY(writeFile(root + "/a/data.txt", "extra data"));
        QVERIFY(writeFile(root + "/extra/old-catalog.zorctl", "an old catalogue"));
        QVERIFY(writeFile(root + "/news/whatsnew.html", "<p>new</p>"));

        QTemporaryDir target;
        ZorCatalog catalog(nullptr, kUser, kPassword);
        QSignalSpy progress(&catalog, &ZorCatalog::downloadProgress);
        QList<QVariant> report;
        QVERIFY(initialize(catalog, "install", "QVbob-Catalog.zorctl", report));
        QCOMPARE(report, QList<QVariant>({true, QString(), false}));
        QCOMPARE(catalog.componentCount(), 8);
        const int before = m_server.pathsWithStatus(200).size();
        QVERIFY(install(catalog, target.path()));

        QStringList expectedOrder{"/install/a/data.txt", "/install/b/data.txt",
                                  "/install/core/README.ZIP", "/install/core/app.zip",
                                  "/install/extra/old-catalog.zorctl", "/install/news/whatsnew.html",
                                  "/install/prj/Demo.zorpro", "/install/tpl/Std.zortpl"};
        QCOMPARE(m_server.pathsWithStatus(200).mid(before).join(' '), expectedOrder.join(' '));
        QCOMPARE(progress.size(), 8);
        QCOMPARE(progress.last(), QList<QVariant>({qint64(8), qint64(8)}));

        QCOMPARE(filesBelow(target.path()),
                 QStringList({"Extra/data.txt", "Extra/old-catalog.zorctl", "My Tools/data.txt",
                              "Projects/Demo.zorpro", "README.ZIP", "Templates/Std.zortpl",
                              "WhatsNew/whatsnew.html", "bin/tool.txt"}));
        // The template package came after the core archive's copy of it.
        QCOMPARE(readFile(target.filePath("Templates/Std.zortpl")), QByteArray("template package"));
        QCOMPARE(readFile(target.filePath("README.ZIP")), QByteArray("not an archive"));
        QCOMPARE(readFile(target.filePath("Extra/data.txt")), QByteArray("extra data"));
        QCOMPARE(readFile(target.filePath("My Tools/data.txt")), QByteArray("tools data"));
        QCOMPARE(catalog.whatsNewFile(), QDir(target.path()).absoluteFilePath("WhatsNew/whatsnew.html"));
        QCOMPARE(catalog.installFolder(), target.path());
    }

    void refusedArchiveOrMissingComponentFailsTheInstall_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QString>("status");
        QTest::newRow("entry leading out")
            << zip({{"ok.txt", "1"}, {"../escaped.txt", "2"}}) << "Could not extract from '";
        QTest::newRow("component missing on the server") << QByteArray() << "";
    }

    void refusedArchiveOrMissingComponentFailsTheInstall()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QString, status);
        const QString folder = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
        const QString root = m_root.filePath(folder);
        QVERIFY(writeFile(root + "/QVbob-Catalog.zorctl",
                          catalogXml({{"Core", "core", {"core.zip"}}, {"T", "template", {"t.txt"}}})));
        if (!archive.isEmpty())
            QVERIFY(writeFile(root + "/core.zip", archive));
        QVERIFY(writeFile(root + "/t.txt", "t"));

        QTemporaryDir parent;
        const QString target = parent.filePath("new");
        QVERIFY(QDir().mkpath(target));
        ZorCatalog catalog(nullptr, kUser, kPassword);
        QSignalSpy texts(&catalog, &ZorCatalog::statusChanged);
        QList<QVariant> report;
        QVERIFY(initialize(catalog, folder, "QVbob-Catalog.zorctl", report));
        QVERIFY(report.at(0).toBool());
        QVERIFY(!install(catalog, target));
        QVERIFY(!QFileInfo::exists(parent.filePath("escaped.txt")));
        QVERIFY(!QFileInfo::exists(target + "/Templates/t.txt"));
        if (!status.isEmpty())
            QVERIFY(texts.last().at(0).toString().startsWith(status));
    }

    void catalogueDownloadFailures_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<QVariant>>("report");
        QTest::newRow("login refused")
            << "wrong" << "QVbob-Catalog.zorctl"
            << QList<QVariant>{false, "User authentication failed. Please check the User Name and Password.", true};
        QTest::newRow("no such catalogue") << kPassword << "QVnobody-Catalog.zorctl"
                                           << QList<QVariant>{false, QString(), true};
        QTest::newRow("not valid") << kPassword << "QVbad-Catalog.zorctl"
                                   << QList<QVariant>{false, "Could not load downloaded catalog file.", false};
    }

    void catalogueDownloadFailures()
    {
        QFETCH(QString, password);
        QFETCH(QString, name);
        QFETCH(QList<QVariant>, report);
        QVERIFY(writeFile(m_root.filePath("fail/QVbob-Catalog.zorctl"), catalogXml({{"A", "core", {"a"}}})));
        QVERIFY(writeFile(m_root.filePath("fail/QVbad-Catalog.zorctl"),
                          catalogXml({{"A", "core", {"a"}}, {"B", "core", {}}})));
        ZorCatalog catalog(nullptr, kUser, password);
        QList<QVariant> got;
        QVERIFY(initialize(catalog, "fail", name, got));
        QCOMPARE(got, report);
    }

    void workFolderGoesWithTheCatalogue()
    {
        QVERIFY(writeFile(m_root.filePath("gone/QVbob-Catalog.zorctl"), catalogXml({{"A", "core", {"a"}}})));
        auto *catalog = new ZorCatalog(nullptr, kUser, kPassword);
        QList<QVariant> report;
        QVERIFY(initialize(*catalog, "gone", "QVbob-Catalog.zorctl", report));
        QVERIFY(QFileInfo(catalog->workFolder()).isDir());
        QCOMPARE(workFolders(QDir::tempPath()).size(), 1);
        delete catalog;
        QCOMPARE(workFolders(QDir::tempPath()), QStringList());
    }
};

ZOR_TEST(TestCatalog)
#include "tst_catalog.moc"
