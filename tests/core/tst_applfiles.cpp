#include "zorapplservices.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QtTest>

using namespace ZorApplServices;

namespace {

using ZorTest::readFile;
using ZorTest::writeFile;

// Restores the process's current folder when a test changed it.
struct CurrentDirGuard
{
    QString saved = QDir::currentPath();
    ~CurrentDirGuard() { QDir::setCurrent(saved); }
};

} // namespace

class TestApplFiles : public QObject
{
    Q_OBJECT

private slots:
    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("withoutLast");
        QTest::addColumn<QString>("file");
        QTest::newRow("nested") << "a/b/c" << "c" << "a/b" << "c";
        QTest::newRow("no separator") << "abc" << "abc" << "" << "abc";
        QTest::newRow("empty") << "" << "" << "" << "";
        QTest::newRow("absolute file") << "/p/Demo.zorpro" << "Demo.zorpro" << "/p" << "Demo.zorpro";
        QTest::newRow("trailing separator") << "a/b/" << "" << "a/b" << "";
    }
    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QString, last);
        QFETCH(QString, withoutLast);
        QFETCH(QString, file);
        QCOMPARE(pathLastPart(path), last);
        QCOMPARE(pathWithoutLastPart(path), withoutLast);
        QCOMPARE(fileName(path), file);
    }

    void uniqueDirName()
    {
        QTemporaryDir dir;
        QCOMPARE(ZorApplServices::uniqueDirName(dir.path(), "Demo"), QStringLiteral("Demo"));
        QVERIFY(QDir(dir.path()).mkdir("Demo"));
        QVERIFY(QDir(dir.path()).mkdir("Demo (1)"));
        QCOMPARE(ZorApplServices::uniqueDirName(dir.path(), "Demo"), QStringLiteral("Demo (2)"));
        // A file of the candidate's name takes it as well: no folder can be made there.
        QVERIFY(writeFile(dir.filePath("Demo (2)"), "x"));
        QCOMPARE(ZorApplServices::uniqueDirName(dir.path(), "Demo"), QStringLiteral("Demo (3)"));

        for (int i = 3; i <= 100; ++i)
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Demo (%1)").arg(i)));
        const QString last = ZorApplServices::uniqueDirName(dir.path(), "Demo");
        QVERIFY2(QRegularExpression("^Demo-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
                     .match(last).hasMatch(), qPrintable(last));
        QVERIFY(uniqueId() != uniqueId());
    }

    void invalidFileNameChars_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("invalid");
        for (const char *c : {"?", "*", "[", "]", "\"", "<", ">", "|"})
            QTest::newRow(c) << QStringLiteral("Line%1 1").arg(QLatin1String(c)) << true;
        QTest::newRow("letters, digits, blanks, parentheses") << "Line 1 (copy) 2" << false;
        QTest::newRow("dots and dashes") << "a.b-c_d" << false;
    }
    void invalidFileNameChars()
    {
        QFETCH(QString, name);
        QFETCH(bool, invalid);
        QCOMPARE(hasInvalidFileNameChars(name), invalid);
    }

    void shortPathText_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        const QString longName = QString(24, 'a') + QString(3, 'm') + QString(20, 'z') + ".zorpro";
        QCOMPARE(longName.size(), 54);
        QTest::newRow("deep windows path") << "C:/Users/x/Projects/Demo.zorpro" << "C:/.../Demo.zorpro";
        QTest::newRow("windows root") << "C:/Demo.zorpro" << "C:/Demo.zorpro";
        QTest::newRow("deep unix path") << "/home/x/Projects/Demo.zorpro" << "/.../Demo.zorpro";
        QTest::newRow("unix root") << "/Demo.zorpro" << "/Demo.zorpro";
        QTest::newRow("long name")
            << "C:/p/" + longName
            << "C:/.../" + longName.left(22) + "..." + longName.right(22);
        const QString name50 = QString(43, 'b') + ".zorpro";
        QTest::newRow("50 characters stay whole") << "C:/" + name50 << "C:/" + name50;
    }
    void shortPathText()
    {
        QFETCH(QString, path);
        QFETCH(QString, text);
        QCOMPARE(ZorApplServices::shortPathText(path), text);
    }

    void workingDirPaths()
    {
        CurrentDirGuard guard;
        QTemporaryDir dir;
        const QString wd = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY(QDir(wd).mkpath("sub"));
        setWorkingDir(wd + "/project.zorpro");
        QCOMPARE(workingDir(), wd);
        setWorkingDir("bare.zorpro"); // a bare name keeps the folder
        QCOMPARE(workingDir(), wd);

        const QList<QPair<QString, QString>> relative{
            {wd + "/a.zorpro", "a.zorpro"},
            {wd + "/sub/b.zorpro", "sub/b.zorpro"},
            // A sibling whose name merely begins like the working folder.
            {wd + "x/c.zorpro", wd + "x/c.zorpro"},
            {"/elsewhere/d.zorpro", "/elsewhere/d.zorpro"},
            // The folder is compared without regard to case ...
            {wd.toUpper() + "/e.zorpro", "e.zorpro"},
            {wd.toUpper() + "/Sub/f.zorpro", "Sub/f.zorpro"},
        };
        for (const auto &c : relative) {
            QString path = c.first;
            makeRelativeToWorkingDir(path);
            QCOMPARE(path, c.second);
        }
        // ... except where a folder of that other spelling exists: on a file
        // system that tells case apart it is another folder.
        QVERIFY(QDir(wd).mkpath("inner") && QDir(wd).mkpath("INNER"));
        setWorkingDir(wd + "/inner/x.zorpro");
        for (const QString &other : {wd + "/INNER/g.zorpro", wd + "/INNER/sub/h.zorpro"}) {
            QString path = other;
            makeRelativeToWorkingDir(path);
            QCOMPARE(path, other);
        }
        QString same = wd + "/inner/g.zorpro";
        makeRelativeToWorkingDir(same);
        QCOMPARE(same, QStringLiteral("g.zorpro"));
        setWorkingDir(wd + "/project.zorpro");

        const QList<QPair<QString, QString>> absolute{
            {"a.zorpro", wd + "/a.zorpro"},
            {"./b.zorpro", wd + "/b.zorpro"},
            {"sub/c.zorpro", "sub/c.zorpro"},
            {"/x/d.zorpro", "/x/d.zorpro"},
        };
        for (const auto &c : absolute) {
            QString path = c.first;
            makeAbsoluteToWorkingDir(path);
            QCOMPARE(path, c.second);
        }
    }

    void currentDateTimeText()
    {
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")
                    .match(ZorApplServices::currentDateTimeText()).hasMatch());
        QCOMPARE(tempFolderName(), QStringLiteral("QuorvaneTemp"));
    }

    // Removal deletes hidden entries too, and removes links as links: what
    // they point to, outside the tree, stays.
    void removeDirRecursively()
    {
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.filePath("keep/data.txt"), "keep"));
        QVERIFY(writeFile(outside.filePath("keep.txt"), "keep"));

        QTemporaryDir dir;
        const QString tree = dir.filePath("tree");
        QVERIFY(writeFile(tree + "/a.txt", "a"));
        QVERIFY(writeFile(tree + "/.hidden", "h"));
        QVERIFY(writeFile(tree + "/sub/.cfg/x", "x"));
        QVERIFY(QFile::link(outside.filePath("keep"), tree + "/sub/dirlink"));
        QVERIFY(QFile::link(outside.filePath("keep.txt"), tree + "/filelink"));
        QVERIFY(QFile::link(outside.filePath("gone"), tree + "/dangling"));

        QVERIFY(ZorApplServices::removeDirRecursively(tree));
        QVERIFY(!QFileInfo::exists(tree));
        QCOMPARE(readFile(outside.filePath("keep/data.txt")), QByteArray("keep"));
        QCOMPARE(readFile(outside.filePath("keep.txt")), QByteArray("keep"));

        // A link given as the folder itself goes, its target stays.
        QVERIFY(QFile::link(outside.filePath("keep"), dir.filePath("toplink")));
        QVERIFY(ZorApplServices::removeDirRecursively(dir.filePath("toplink")));
        QVERIFY(!QFileInfo(dir.filePath("toplink")).isSymLink());
        QCOMPARE(readFile(outside.filePath("keep/data.txt")), QByteArray("keep"));

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^can't remove '.*/missing'$"));
        QVERIFY(!ZorApplServices::removeDirRecursively(dir.filePath("missing")));
    }

    // The walk passes over links (and goes on with the entries after them),
    // skipped folders and skipped files.
    void collectFiles()
    {
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.filePath("secret.txt"), "s"));
        QTemporaryDir dir;
        const QString root = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY(QFile::link(outside.path(), root + "/a_link"));
        QVERIFY(QFile::link(outside.filePath("secret.txt"), root + "/b_link.txt"));
        QVERIFY(writeFile(root + "/c.txt", "c"));
        QVERIFY(writeFile(root + "/d/e.txt", "e"));
        QVERIFY(writeFile(root + "/d/skip.txt", "s"));
        QVERIFY(writeFile(root + "/skipdir/f.txt", "f"));
        QVERIFY(writeFile(root + "/.hidden", "h"));

        QStringList files;
        ZorApplServices::collectFiles(root, files, {root + "/skipdir"}, {root + "/d/skip.txt"});
        files.sort();
        QCOMPARE(files, QStringList({root + "/c.txt", root + "/d/e.txt"}));
    }

    void copyDir()
    {
        CurrentDirGuard guard;
        QTemporaryDir dir;
        const QString base = QFileInfo(dir.path()).canonicalFilePath();
        const QString src = base + "/src";
        QByteArray binary;
        for (int i = 0; i < 256; ++i)
            binary.append(static_cast<char>(i));
        QVERIFY(writeFile(src + "/bin.dat", binary));
        QVERIFY(writeFile(src + "/empty.txt", ""));
        // The source path appears again further down: only the leading one
        // is the source.
        QVERIFY(writeFile(src + src + "/deep.txt", "deep"));
        QVERIFY(writeFile(src + "/SRC/upper.txt", "upper"));
        QVERIFY(writeFile(src + "/skip/x.txt", "x"));
        QVERIFY(QFile::link(base + "/outside", src + "/link"));
        QVERIFY(writeFile(base + "/outside/o.txt", "o"));

        const QString dst = base + "/dst";
        QVERIFY(ZorApplServices::copyDir(src, dst, {src + "/skip"}, {}));
        QCOMPARE(readFile(dst + "/bin.dat"), binary);
        QVERIFY(QFileInfo(dst + "/empty.txt").isFile());
        QCOMPARE(readFile(dst + src + "/deep.txt"), QByteArray("deep"));
        QCOMPARE(readFile(dst + "/SRC/upper.txt"), QByteArray("upper"));
        QVERIFY(!QFileInfo::exists(dst + "/skip"));
        QVERIFY(!QFileInfo::exists(dst + "/link"));

        // A relative source works as well.
        QDir::setCurrent(base);
        QVERIFY(ZorApplServices::copyDir("src", "dst2"));
        QCOMPARE(readFile(base + "/dst2/bin.dat"), binary);

        // Never overwrites: an existing target fails the copy.
        QVERIFY(writeFile(base + "/dst3/empty.txt", "mine"));
        QVERIFY(!ZorApplServices::copyDir(src, base + "/dst3"));
        QCOMPARE(readFile(base + "/dst3/empty.txt"), QByteArray("mine"));

        QVERIFY(!ZorApplServices::copyDir(base + "/nonexistent", base + "/dst4"));
        QVERIFY(!QFileInfo::exists(base + "/dst4"));
    }
};

ZOR_TEST(TestApplFiles)
#include "tst_applfiles.moc"
