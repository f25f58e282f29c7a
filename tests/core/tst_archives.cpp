#include "zorapplservices.h"
#include "zortest.h"
#include "zortestutil.h"
#include "zortestzip.h"

#include <QtTest>

using namespace ZorApplServices;
using ZorTest::ZipEntry;
using ZorTest::storedZip;

namespace {

using ZorTest::readFile;
using ZorTest::writeFile;

// Relative path -> content of every file under `root` ("/" marks folders).
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> map;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        map.insert(it.fileInfo().isDir() ? rel + "/" : rel,
                   it.fileInfo().isDir() ? QByteArray() : readFile(path));
    }
    return map;
}

} // namespace

Q_DECLARE_METATYPE(ZipEntry)

class TestArchives : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setArchiveToolPath(QString()); }

    void initTestCase()
    {
        if (archiveToolPath().isEmpty())
            QFAIL("7za not found beside the program or on the search path");
    }

    void arguments()
    {
        QCOMPARE(unzipArguments("/p/a b.zorzip", "/t/w d"),
                 QStringList({"x", "/p/a b.zorzip", "-y", "-o/t/w d"}));
        QCOMPARE(zipArguments("/p/a.zorzip", "/w/*", false),
                 QStringList({"a", "-r", "-ssw", "-mx7", "-tzip", "/p/a.zorzip", "/w/*"}));
        QCOMPARE(zipArguments("/w/compressedRuntime.tmp", "/w", true),
                 QStringList({"a", "-r", "-ssw", "-mx7", "/w/compressedRuntime.tmp", "/w"}));
    }

    void safeEntryPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "project/data.txt" << true;
        QTest::newRow("dots inside a name") << "a..b/c...txt" << true;
        QTest::newRow("parent") << "../evil.txt" << false;
        QTest::newRow("parent further down") << "a/../../evil.txt" << false;
        QTest::newRow("parent with backslashes") << "a\\..\\..\\evil.txt" << false;
        QTest::newRow("absolute") << "/etc/evil" << false;
        QTest::newRow("absolute backslash") << "\\evil" << false;
        QTest::newRow("drive") << "C:/evil" << false;
        QTest::newRow("line break") << "a\nb" << false;
        QTest::newRow("empty") << "" << false;
    }
    void safeEntryPaths()
    {
        QFETCH(QString, path);
        QFETCH(bool, safe);
        QCOMPARE(isSafeArchiveEntryPath(path), safe);
    }

    // A folder goes through an archive and back byte for byte, in both formats.
    void roundTrip_data()
    {
        QTest::addColumn<bool>("sevenZipFormat");
        QTest::newRow("zip") << false;
        QTest::newRow("7z") << true;
    }
    void roundTrip()
    {
        QFETCH(bool, sevenZipFormat);
        QTemporaryDir dir;
        const QString src = dir.filePath("my project");
        QByteArray binary;
        for (int i = 0; i < 70000; ++i)
            binary.append(static_cast<char>((i * 7919) % 256));
        QVERIFY(writeFile(src + "/Demo.zorpro", "<QuorvaneProject/>\r\n"));
        QVERIFY(writeFile(src + "/data/log 1.bin", binary));
        QVERIFY(writeFile(src + "/data/empty", ""));
        QVERIFY(writeFile(src + "/it's \"quoted\" & ü.txt", "q"));
        QVERIFY(QDir().mkpath(src + "/empty folder"));

        const QString archive = dir.filePath("packed archive.zorzip");
        QVERIFY(zipFiles(archive, src + "/*", 30000, sevenZipFormat));
        QCOMPARE(readFile(archive).left(2), sevenZipFormat ? QByteArray("7z") : QByteArray("PK"));
        QVERIFY(checkArchiveEntries(archive));

        const QString out = dir.filePath("out folder");
        QVERIFY(unzipArchive(archive, out));
        QCOMPARE(tree(out), tree(src));
    }

    // Archives from users and downloads never write outside the target folder.
    void unsafeArchivesRefused_data()
    {
        QTest::addColumn<QList<ZipEntry>>("entries");
        QTest::addColumn<bool>("ok");
        const ZipEntry fine{"ok/fine.txt", "fine"};
        QTest::newRow("well-formed (the writer works)") << QList<ZipEntry>{fine} << true;
        QTest::newRow("parent") << QList<ZipEntry>{fine, {"../evil.txt", "x"}} << false;
        QTest::newRow("nested parent") << QList<ZipEntry>{fine, {"ok/../../evil.txt", "x"}} << false;
        QTest::newRow("absolute") << QList<ZipEntry>{{"/tmp/evil.txt", "x"}, fine} << false;
        QTest::newRow("link out, then a file through it")
            << QList<ZipEntry>{{"ln", "..", 0120777}, {"ln/evil.txt", "x"}} << false;
    }
    void unsafeArchivesRefused()
    {
        QFETCH(QList<ZipEntry>, entries);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QString archive = dir.filePath("in.zip");
        QVERIFY(writeFile(archive, storedZip(entries)));
        const QString target = dir.filePath("a/b/target");
        QVERIFY(QDir().mkpath(target));

        QCOMPARE(unzipArchive(archive, target), ok);
        if (ok) {
            QCOMPARE(readFile(target + "/ok/fine.txt"), QByteArray("fine"));
        } else {
            QString bad;
            QVERIFY(!checkArchiveEntries(archive, &bad));
            QVERIFY(!bad.isEmpty());
            // Nothing was unpacked at all, neither inside nor outside.
            QVERIFY(QDir(target).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
            QVERIFY(!QFileInfo::exists(dir.filePath("a/b/evil.txt")));
            QVERIFY(!QFileInfo::exists(dir.filePath("a/evil.txt")));
        }
    }

    void toolFailures()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("in/x.txt"), "x"));
        QVERIFY(writeFile(dir.filePath("not an archive.zip"), "plain text"));
        QVERIFY(!unzipArchive(dir.filePath("not an archive.zip"), dir.filePath("out")));
        QVERIFY(!unzipArchive(dir.filePath("missing.zip"), dir.filePath("out")));

        setArchiveToolPath(dir.filePath("Tools/7-zip/7za.exe")); // not there
        QVERIFY(!zipFiles(dir.filePath("a.zip"), dir.filePath("in/*"), 30000, false));
        QVERIFY(!QFileInfo::exists(dir.filePath("a.zip")));
        setArchiveToolPath(QString());
        QVERIFY(zipFiles(dir.filePath("a.zip"), dir.filePath("in/*"), 30000, false));
        setArchiveToolPath(dir.filePath("Tools/7-zip/7za.exe"));
        QVERIFY(!unzipArchive(dir.filePath("a.zip"), dir.filePath("out")));
        QVERIFY(!QFileInfo::exists(dir.filePath("out")));
    }

    void concatenate()
    {
        QTemporaryDir dir;
        setArchiveToolPath(dir.filePath("Tools 1/7-zip/7za.exe"));
        QCOMPARE(archiveToolDir(), dir.filePath("Tools 1/7-zip"));
        QByteArray big;
        for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i)
            big.append(static_cast<char>(i % 251));
        QVERIFY(writeFile(dir.filePath("Tools 1/7-zip/quorvane_runtime.sfx"), QByteArray("STUB\0\1", 6)));
        QVERIFY(writeFile(dir.filePath("work dir/sfxConfig.tmp"), ";!@Install@!UTF-8!\n"));
        QVERIFY(writeFile(dir.filePath("work dir/compressedRuntime.tmp"), big));

        const QString output = dir.filePath("out dir/Quorvane Runtime.exe");
        QVERIFY(QDir().mkpath(dir.filePath("out dir")));
        QVERIFY(concatenateFiles(dir.filePath("work dir/compressedRuntime.tmp"), output,
                                 "quorvane_runtime.sfx", dir.filePath("work dir/sfxConfig.tmp"),
                                 90000));
        QCOMPARE(readFile(output), QByteArray("STUB\0\1", 6) + ";!@Install@!UTF-8!\n" + big);

        // A missing input writes nothing and leaves an earlier output alone.
        QVERIFY(writeFile(output, "earlier"));
        QVERIFY(!concatenateFiles(dir.filePath("work dir/compressedRuntime.tmp"), output,
                                  "quorvane_runtime.sfx", dir.filePath("work dir/missing.tmp"),
                                  90000));
        QVERIFY(!concatenateFiles(dir.filePath("work dir/compressedRuntime.tmp"), output,
                                  "missing.sfx", dir.filePath("work dir/sfxConfig.tmp"), 90000));
        QCOMPARE(readFile(output), QByteArray("earlier"));
    }
};

ZOR_TEST(TestArchives)
#include "tst_archives.moc"
