#include "quorvaneproject.h"
#include "windowtesting.h"
#include "startstopmodule.h"
#include "zorapplservices.h"
#include "zordommodel.h"
#include "zorpanel.h"
#include "zorquestionbox.h"
#include "zortempsettings.h"
#include "zortemphome.h"
#include "zortest.h"
#include "zortestutil.h"
#include "zortestzip.h"
#include "zorxmlnesting.h"

#include <QtTest>

using ZorTest::ZipEntry;

namespace {

// Its own creator: the test files of a unity batch change as files are added.
ZorModule *projectFilesNewStartStop(QObject *parent) { return new StartStopModule(parent); }

using WindowTesting::demoProject;
using WindowTesting::readFile;
using WindowTesting::writeFile;

// A project whose modules nest `levels` deep, the project module included.
QByteArray nestedModules(int levels)
{
    QByteArray text = "<QuorvaneProject><module type=\"project\" label=\"Project Home\">";
    for (int i = 1; i < levels; ++i)
        text += "<module label=\"L" + QByteArray::number(i) + "\">";
    return text + QByteArray("</module>").repeated(levels) + "</QuorvaneProject>";
}

// Relative path -> content of every file below `root` ("/" marks folders).
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

// The entry names of a zip archive, as the system's unzip lists them.
QStringList archiveEntries(const QString &archive)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0)
        return {QStringLiteral("<unzip failed>")};
    QStringList names = QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

QByteArray archiveFile(const QString &archive, const QString &entry)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), archive, entry});
    unzip.waitForFinished(30000);
    return unzip.readAllStandardOutput();
}

// Packs the files of `folder` at the root of a new archive.
bool pack(const QString &folder, const QString &archive)
{
    return ZorApplServices::zipFiles(archive, folder + "/*", 30000, false);
}

QStringList topLabels(QuorvaneProject *project)
{
    QStringList labels;
    ZorDomModel *model = project->model();
    const QModelIndex home = model->index(0, 0);
    labels << home.data().toString();
    for (int row = 0; row < model->rowCount(home); ++row)
        labels << model->index(row, 0, home).data().toString();
    return labels;
}

const QStringList DemoLabels{"Project Home", "CAN1", "Scope", "TCP01"};

// A panel that hands a setting to its module only when the project is saved.
class LateSettingPanel : public ZorPanel
{
public:
    using ZorPanel::ZorPanel;
    QString commitPanelSettings() override
    {
        sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, QStringLiteral("Port=COM9")));
        return objection;
    }
    QString objection;
};

ZorPanel *newLateSettingPanel(QWidget *parent) { return new LateSettingPanel(parent); }
ZorModule *newFilesStartStop(QObject *parent) { return new StartStopModule(parent); }

} // namespace

Q_DECLARE_METATYPE(QList<ZipEntry>)

class TestProjectFiles : public QObject
{
    Q_OBJECT
    ZorTest::TempHome home;
    QScopedPointer<ZorTest::TempSettings> settings;
    QScopedPointer<QTemporaryDir> dir;
    QScopedPointer<QuorvaneProject> project;

    QString path(const QString &relative) const { return dir->filePath(relative); }
    QString tempRoot() const { return QuorvaneProject::tempRoot(); }
    QStringList tempLeftovers() const
    {
        return QDir(tempRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
    // A packed project "<name>.zorzip" made from a.zorpro and data.csv.
    QString makeArchive(const QString &name)
    {
        writeFile(path("src/a.zorpro"), demoProject());
        writeFile(path("src/data.csv"), "1,2,3\n");
        const QString archive = path(name);
        return pack(path("src"), archive) ? archive : QString();
    }
    void expectEmpty()
    {
        QVERIFY(project->projectFile().isEmpty());
        QVERIFY(project->packedFile().isEmpty());
        QCOMPARE(project->model()->rowCount(), 0);
        QVERIFY(project->modules().isEmpty());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        settings.reset(new ZorTest::TempSettings);
        ZorTest::TempSettings::set("DebugMode", 0);
        QVERIFY(ZorApplServices::initAppGlobals());
    }
    void init()
    {
        dir.reset(new QTemporaryDir(home.homePath() + "/work-XXXXXX"));
        QVERIFY(dir->isValid());
        project.reset(new QuorvaneProject);
    }
    void cleanup()
    {
        project.reset();
        ZorApplServices::setArchiveToolPath(QString());
        QCOMPARE(tempLeftovers(), QStringList());
    }

    void suffixes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("isTemplate");
        QTest::newRow("plain") << "a.zorpro" << false << false;
        QTest::newRow("zip in capitals") << "PROJECT.ZORZIP" << true << false;
        QTest::newRow("template") << "Demo template.zortpl" << false << true;
        QTest::newRow("suffix not at the end") << "x.zorzip.bak" << false << false;
    }
    void suffixes()
    {
        QFETCH(QString, name);
        QFETCH(bool, zip);
        QFETCH(bool, isTemplate);
        QCOMPARE(QuorvaneProject::isZipName(name), zip);
        QCOMPARE(QuorvaneProject::isTemplateName(name), isTemplate);
        QCOMPARE(QuorvaneProject::isPackedName(name), zip || isTemplate);
    }

    void loadErrors_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");      // written unless "-"
        QTest::addColumn<QList<ZipEntry>>("entries"); // packed instead when not empty
        QTest::addColumn<QString>("error");
        const QList<ZipEntry> none;
        const QString tooDeep = QStringLiteral("Project file is nested too deeply (more than 64 "
                                               "levels of modules or 512 levels of elements).");
        QTest::newRow("no name") << "" << QByteArray("-") << none << "";
        QTest::newRow("missing") << "missing.zorpro" << QByteArray("-") << none
                                 << "The project file was not found.";
        QTest::newRow("empty") << "empty.zorpro" << QByteArray() << none << "Project file is empty.";
        QTest::newRow("not XML") << "abc.zorpro" << QByteArray("abc") << none
                                 << "Project file contains invalid XML.";
        QTest::newRow("no project root")
            << "other.zorpro" << QByteArray("<Other><module type=\"project\"/></Other>") << none
            << "Could not load project XML data.";
        QTest::newRow("modules nested past the limit")
            << "deep.zorpro" << nestedModules(ZorXmlNesting::MaxModuleDepth + 1) << none
            << tooDeep;
        // 1 MB of modules, each opened inside the last, never closed.
        QTest::newRow("hostile megabyte")
            << "hostile.zorpro" << "<QuorvaneProject>" + QByteArray(1 << 20, 'x').replace("xxxxxxxx", "<module>")
            << none << tooDeep;
        QTest::newRow("elements nested past the limit")
            << "pages.zorpro"
            << "<QuorvaneProject><module type=\"project\"><docs><default>"
                   + QByteArray("<div>").repeated(ZorXmlNesting::MaxElementDepth)
                   + QByteArray("</div>").repeated(ZorXmlNesting::MaxElementDepth)
                   + "</default></docs></module></QuorvaneProject>"
            << none << tooDeep;
        QTest::newRow("entities")
            << "entities.zorpro"
            << QByteArray("<!DOCTYPE QuorvaneProject [<!ENTITY m \"<module><module>\">]>"
                          "<QuorvaneProject><module type=\"project\">&m;</module></QuorvaneProject>")
            << none << "Project file declares XML entities, which projects do not use.";
        QTest::newRow("not an archive") << "abc.zorzip" << QByteArray("abc") << none
                                        << "Could not extract compressed project.";
        QTest::newRow("archive without project")
            << "data.zorzip" << QByteArray() << QList<ZipEntry>{{"data.csv", "1"}}
            << "Could not extract compressed project.";
        QTest::newRow("archive leaving its folder")
            << "evil.zortpl" << QByteArray()
            << QList<ZipEntry>{{"evil.zorpro", demoProject()}, {"../../evil.txt", "x"}}
            << "Could not extract compressed project.";
        QTest::newRow("empty project in archive")
            << "hollow.zorzip" << QByteArray() << QList<ZipEntry>{{"hollow.zorpro", ""}}
            << "Project file is empty.";
        QTest::newRow("broken project in archive")
            << "broken.zorzip" << QByteArray() << QList<ZipEntry>{{"x.zorpro", "<Quorvane"}}
            << "Project file contains invalid XML.";
    }
    void loadErrors()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QList<ZipEntry>, entries);
        QFETCH(QString, error);

        // A project is open before: a failed load leaves none.
        writeFile(path("good.zorpro"), demoProject());
        QString text;
        QVERIFY(project->load(path("good.zorpro"), text));
        QCOMPARE(topLabels(project.data()), DemoLabels);

        QString file;
        if (!name.isEmpty()) {
            file = path(name);
            if (!entries.isEmpty())
                QVERIFY(writeFile(file, ZorTest::storedZip(entries)));
            else if (content != "-")
                QVERIFY(writeFile(file, content));
        }
        text = "old";
        QVERIFY(!project->load(file, text));
        QCOMPARE(text, error);
        expectEmpty();
        QVERIFY(!QFileInfo::exists(home.tempPath() + "/evil.txt"));
        QVERIFY(!QFileInfo::exists(tempRoot() + "/evil.txt"));
    }

    // A project nested as deep as the limit allows loads, saves and loads
    // again with all its levels.
    void projectNestedToTheLimitLoads()
    {
        writeFile(path("deep.zorpro"), nestedModules(ZorXmlNesting::MaxModuleDepth));
        QString error;
        QVERIFY2(project->load(path("deep.zorpro"), error), qPrintable(error));
        QVERIFY2(project->save(path("again.zorpro"), error), qPrintable(error));
        QVERIFY2(project->load(path("again.zorpro"), error), qPrintable(error));
        QModelIndex index = project->model()->index(0, 0);
        int levels = 0;
        for (; index.isValid(); index = project->model()->index(0, 0, index))
            ++levels;
        QCOMPARE(levels, ZorXmlNesting::MaxModuleDepth);
    }

    void plainFileWithOtherSuffixIsReadAsXml()
    {
        writeFile(path("x.zorpro.bak"), demoProject());
        QString error;
        QVERIFY(project->load(path("x.zorpro.bak"), error));
        QVERIFY(!project->isCompressed());
        QCOMPARE(project->projectFile(), path("x.zorpro.bak"));
        QCOMPARE(topLabels(project.data()), DemoLabels);
    }

    void packedProjectLivesInItsTempFolderUntilClosed()
    {
        // The project file inside takes the archive's name.
        const QString archive = makeArchive("b.zorzip");
        QVERIFY(!archive.isEmpty());
        QString error;
        QVERIFY2(project->load(archive, error), qPrintable(error));
        QVERIFY(project->isCompressed());
        QVERIFY(!project->isTemplate());
        QCOMPARE(project->packedFile(), archive);
        const QRegularExpression layout(
            "^" + QRegularExpression::escape(tempRoot()) + "/zorproj_temp_[0-9a-f-]{36}/b/b\\.zorpro$");
        QVERIFY2(layout.match(project->projectFile()).hasMatch(), qPrintable(project->projectFile()));
        const QString folder = QFileInfo(project->projectFile()).path();
        QCOMPARE(readFile(folder + "/data.csv"), QByteArray("1,2,3\n"));
        QVERIFY(!QFileInfo::exists(folder + "/a.zorpro"));
        QCOMPARE(topLabels(project.data()), DemoLabels);

        project->close();
        expectEmpty();
        QVERIFY(!QFileInfo::exists(folder));
        QCOMPARE(tempLeftovers(), QStringList());
    }

    void saveWritesUtf8WithIndentOneAndNoDepths()
    {
        QByteArray text = demoProject();
        text.replace("encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\"");
        text.replace("CAN interface of the demo bus", "Pr\xc3\xbc" "fstand \xe2\x9c\x93");
        writeFile(path("in.zorpro"), text);
        QString error;
        QVERIFY(project->load(path("in.zorpro"), error));
        const QString out = path("out/saved.zorpro");
        QDir().mkpath(path("out"));
        QVERIFY2(project->save(out, error), qPrintable(error));
        QCOMPARE(project->projectFile(), out);

        const QByteArray saved = readFile(out);
        QVERIFY2(saved.startsWith("<?xml version='1.0' encoding='UTF-8'?>\n<QuorvaneProject>\n"
                                  " <module "),
                 saved.left(120).constData());
        QVERIFY(QRegularExpression("\n  <module [^>]*type=\"canusb\"").match(QString::fromUtf8(saved)).hasMatch());
        QVERIFY(!saved.contains("moduleDepth"));
        QVERIFY(saved.contains("label=\"Project Home\"")); // default labels are written
        QVERIFY(QRegularExpression("<projectinfo>created \\S+ Quorvane v\\S+ \\S{0,3}</projectinfo>")
                    .match(QString::fromUtf8(saved)).hasMatch());
        // Depths are back in memory.
        QVERIFY(project->model()->document().toString().contains("moduleDepth=\"2\""));

        QProcess xmllint;
        xmllint.start("xmllint", {"--xpath", "string(//module[@label='CAN1']/@description)", out});
        QVERIFY(xmllint.waitForFinished(30000));
        QCOMPARE(xmllint.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(xmllint.readAllStandardOutput()).trimmed(),
                 QString::fromUtf8("Pr\xc3\xbc" "fstand \xe2\x9c\x93"));
    }

    // A script or panel may name a property with any text. Whatever the key,
    // the saved file is well-formed XML and reopens with every property (its
    // value without the characters XML cannot hold).
    void propertyKeysThatAreNoXmlNamesSurviveSaveAndLoad()
    {
        QVERIFY(project->registerModuleCreator("canusb_test", projectFilesNewStartStop));
        QByteArray text = demoProject();
        text.replace("type=\"canusb\"", "type=\"canusb_test\"");
        writeFile(path("p.zorpro"), text);
        QString error;
        QVERIFY(project->load(path("p.zorpro"), error));
        const QModelIndex can = project->model()->index(0, 0, project->model()->index(0, 0));

        const QList<QPair<QString, QString>> properties{
            {"Accel/Decel", "5"},
            {"2ndAxis", "on"},
            {"Max:Speed", "3000"},
            {"a<b>&c", "x&y"},
            {QString::fromUtf8("Preis€"), QString::fromUtf8("9 €")},
            {"_x0041_", "literal"},
            // A key with blanks is a key of its own, not its first word.
            {"1", "one"},
            {"1 bad key", "5"},
            // A script's colour codes in a value: XML cannot hold them.
            {"LogHistory", "\x1b[31mred\x1b[0m"},
        };
        for (const auto &p : properties)
            project->moduleOf(can)->slaveIn(
                ZorMessage(KM_SETPROPERTY, KS_REQUEST, p.first + "=" + p.second));
        QVERIFY2(project->save(path("saved.zorpro"), error), qPrintable(error));

        QProcess xmllint;
        xmllint.start("xmllint", {"--noout", path("saved.zorpro")});
        QVERIFY(xmllint.waitForFinished(30000));
        QVERIFY2(xmllint.exitCode() == 0, xmllint.readAllStandardError().constData());

        project.reset(new QuorvaneProject);
        QVERIFY(project->registerModuleCreator("canusb_test", projectFilesNewStartStop));
        QVERIFY2(project->load(path("saved.zorpro"), error), qPrintable(error));
        ZorModule *module =
            project->moduleOf(project->model()->index(0, 0, project->model()->index(0, 0)));
        QVERIFY(module);
        for (const auto &p : properties)
            QCOMPARE(module->property(p.first), QString(p.second).remove(QChar(0x1b)));
        QCOMPARE(module->property("Port"), QStringLiteral("COM1"));
    }

    void projectInfoKeepsCreationAndLastChange_data()
    {
        QTest::addColumn<QString>("old");
        QTest::addColumn<QString>("expected"); // regular expression
        const QString info = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d Quorvane v[\\d.]+ \\S{0,3}";
        QTest::newRow("new") << "" << "^created " + info + ", modified " + info + "$";
        QTest::newRow("created") << "created A" << "^created A, modified " + info + "$";
        QTest::newRow("modified before") << "created A, modified B"
                                         << "^created A, modified " + info + "$";
        QTest::newRow("noupdate") << "noupdate, by hand" << "^noupdate, by hand$";
    }
    void projectInfoKeepsCreationAndLastChange()
    {
        QFETCH(QString, old);
        QFETCH(QString, expected);
        writeFile(path("p.zorpro"), demoProject());
        QString error;
        QVERIFY(project->load(path("p.zorpro"), error));
        if (!old.isEmpty())
            project->setProjectValue("projectinfo", old);
        QVERIFY(project->save(path("p.zorpro"), error));
        QVERIFY(project->save(path("p.zorpro"), error));
        QVERIFY2(QRegularExpression(expected).match(project->projectInfo()).hasMatch(),
                 qPrintable(project->projectInfo()));
        QCOMPARE(QuorvaneProject::readProjectValue(project->model(), "projectinfo"),
                 project->projectInfo());

        const QByteArray state("\x00\x01\xab\xff", 4);
        project->setGuiState(state);
        QCOMPARE(project->projectValue("guistate"), QStringLiteral("0001abff"));
        QCOMPARE(project->guiState(), state);
    }

    // The user's folder is packed as it is; nothing in it is renamed,
    // deleted or added, and leftovers of packing are not packed.
    void packingAPlainProjectLeavesTheUsersFilesAlone()
    {
        writeFile(path("proj/my.proj.zorpro"), demoProject());
        writeFile(path("proj/data.csv"), "1,2\n");
        writeFile(path("proj/sub/notes.txt"), "notes");
        writeFile(path("proj/out.zorpro"), "the user's own file");
        writeFile(path("proj/out.zorzip.tmpzipbackup"), "leftover");
        writeFile(path("proj/a.zorpro_tmp_compressed"), "leftover");
        writeFile(path("proj/copy_2020-01-02T03-04-05/stale.txt"), "leftover");
        QString error;
        QVERIFY(project->load(path("proj/my.proj.zorpro"), error));
        const QMap<QString, QByteArray> before = tree(path("proj"));

        const QString target = path("proj/out.zorzip");
        for (int round = 0; round < 2; ++round) {
            QVERIFY2(project->save(target, error), qPrintable(error));
            QCOMPARE(archiveEntries(target),
                     QStringList({"data.csv", "out.zorpro", "sub/", "sub/notes.txt"}));
            QVERIFY(archiveFile(target, "out.zorpro").contains("label=\"CAN1\""));
            QCOMPARE(project->projectFile(), path("proj/my.proj.zorpro"));
            QCOMPARE(project->packedFile(), target);
            QMap<QString, QByteArray> after = tree(path("proj"));
            after.remove("out.zorzip");
            after.remove("my.proj.zorpro"); // saved: its text changes
            QMap<QString, QByteArray> expected = before;
            expected.remove("my.proj.zorpro");
            QCOMPARE(after, expected);
            QCOMPARE(tempLeftovers(), QStringList());
        }
        project->close();
        QVERIFY(QFileInfo::exists(path("proj/my.proj.zorpro")));
        QCOMPARE(readFile(path("proj/out.zorpro")), QByteArray("the user's own file"));
    }

    void namesWithSeveralDotsRoundTrip()
    {
        writeFile(path("p/my.proj.zorpro"), demoProject());
        QString error;
        QVERIFY(project->load(path("p/my.proj.zorpro"), error));
        QVERIFY2(project->save(path("my.proj.zorzip"), error), qPrintable(error));
        QCOMPARE(archiveEntries(path("my.proj.zorzip")), QStringList({"my.proj.zorpro"}));
        QVERIFY(project->load(path("my.proj.zorzip"), error));
        QVERIFY(project->projectFile().endsWith("/my.proj/my.proj.zorpro"));
        QCOMPARE(topLabels(project.data()), DemoLabels);
    }

    void packingStagesOutsideTheProjectFolder()
    {
        // The system temporary folder lies inside the project folder.
        writeFile(path("p/p.zorpro"), demoProject());
        writeFile(path("p/data.csv"), "x");
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(path("p/tmp")));
        QDir().mkpath(path("p/tmp"));
        QString error;
        QVERIFY(project->load(path("p/p.zorpro"), error));
        const bool saved = project->save(path("p.zorzip"), error);
        const QStringList entries = archiveEntries(path("p.zorzip"));
        const QStringList left = QDir(path("p/tmp/QuorvaneTemp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        qputenv("TMPDIR", oldTmp);
        QVERIFY2(saved, qPrintable(error));
        QCOMPARE(entries, QStringList({"data.csv", "p.zorpro"}));
        QCOMPARE(left, QStringList());
    }

    void packedProjectSavedUnderNewNamesAndAsPlain()
    {
        const QString archive = makeArchive("b.zorzip");
        const QByteArray original = readFile(archive);
        QString error;
        QVERIFY(project->load(archive, error));
        const QString folder = QFileInfo(project->projectFile()).path();

        // Under a new archive name the project file takes the new name.
        QVERIFY2(project->save(path("c.zorzip"), error), qPrintable(error));
        QCOMPARE(project->projectFile(), folder + "/c.zorpro");
        QVERIFY(!QFileInfo::exists(folder + "/b.zorpro"));
        QCOMPARE(project->packedFile(), path("c.zorzip"));
        QCOMPARE(archiveEntries(path("c.zorzip")), QStringList({"c.zorpro", "data.csv"}));
        QCOMPARE(readFile(archive), original);

        // A copy keeps the project where it is.
        QDir().mkpath(path("t"));
        QVERIFY2(project->save(path("t/runtime.zortpl"), error, true), qPrintable(error));
        QCOMPARE(archiveEntries(path("t/runtime.zortpl")), QStringList({"data.csv", "runtime.zorpro"}));
        QCOMPARE(project->projectFile(), folder + "/c.zorpro");
        QVERIFY(QFileInfo::exists(folder + "/c.zorpro"));

        // As a plain project it leaves the temporary folder with its files.
        QVERIFY2(project->save(path("plain/new.zorpro"), error), qPrintable(error));
        QCOMPARE(project->projectFile(), path("plain/new.zorpro"));
        QVERIFY(!project->isCompressed());
        QCOMPARE(tree(path("plain")).keys(), QStringList({"data.csv", "new.zorpro"}));
        QVERIFY(readFile(path("plain/new.zorpro")).contains("label=\"CAN1\""));
        QVERIFY(!QFileInfo::exists(folder));
    }

    // A packed project saved as plain brings its files along; a user's file
    // of the same name in the target folder is replaced only with consent.
    void packedSavedAsPlainAsksBeforeReplacingFiles()
    {
        const QString archive = makeArchive("b.zorzip");
        QString error;
        QVERIFY(project->load(archive, error));
        writeFile(path("plain/data.csv"), "the user's own data\n");
        writeFile(path("plain/notes.txt"), "untouched\n");

        QList<ZorQuestionBox::Question> asked;
        QMessageBox::StandardButton answer = QMessageBox::No;
        ZorQuestionBox::setHook([&](const ZorQuestionBox::Question &q) {
            asked << q;
            return answer;
        });
        const bool refused = !project->save(path("plain/new.zorpro"), error);
        const QString refusal = error;
        const QMap<QString, QByteArray> afterNo = tree(path("plain"));
        const bool stillPacked = project->isCompressed();
        answer = QMessageBox::Yes;
        const bool saved = project->save(path("plain/new.zorpro"), error);
        ZorQuestionBox::setHook(nullptr);

        QVERIFY(refused);
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked.first().text.contains("data.csv") && !asked.first().text.contains("notes.txt"),
                 qPrintable(asked.first().text));
        QCOMPARE(asked.first().defaultButton, QMessageBox::No);
        QVERIFY2(refusal.startsWith("Nothing was saved"), qPrintable(refusal));
        QCOMPARE(afterNo, (QMap<QString, QByteArray>{{"data.csv", "the user's own data\n"},
                                                     {"notes.txt", "untouched\n"}}));
        QVERIFY(stillPacked);

        QVERIFY2(saved, qPrintable(error));
        QCOMPARE(readFile(path("plain/data.csv")), QByteArray("1,2,3\n"));
        QCOMPARE(readFile(path("plain/notes.txt")), QByteArray("untouched\n"));
        QCOMPARE(project->projectFile(), path("plain/new.zorpro"));
    }

    // A plain project saved into another folder takes along the files it
    // names there, asks before it replaces a different file, and says which
    // named files it leaves behind; the copy finds its files when opened.
    void plainProjectSavedElsewhereTakesItsFiles()
    {
        QByteArray text = demoProject();
        text.replace("<Port>COM1</Port>", "<Port>COM1</Port><ConfigFilePath>dev/Node.xdd</ConfigFilePath>"
                                          "<ScriptFileName>Auto1.py</ScriptFileName>"
                                          "<Library>../shared.xdd</Library><Mode>sim</Mode><Separator>.</Separator>");
        text.replace("<module type=\"datalog\" label=\"Scope\"/>",
                     "<module type=\"datalog\" label=\"Scope\"><docs><Viewer file=\"Recordings/run.csv\"/>"
                     "</docs></module><module type=\"uipanel\" label=\"Screen\"/>");
        writeFile(path("p/a.zorpro"), text);
        const QMap<QString, QByteArray> named{{"dev/Node.xdd", "<xdd/>"},
                                              {"Auto1.py", "print(1)\n"},
                                              {"QML/ZorUiMain.qml", "Item {}\n"},
                                              {"QML/images/a.png", "png"},
                                              {"Recordings/run.csv", "1,2\n"}};
        for (auto it = named.cbegin(); it != named.cend(); ++it)
            writeFile(path("p/" + it.key()), it.value());
        writeFile(path("p/unrelated.txt"), "stays\n");
        writeFile(path("shared.xdd"), "<shared/>");
        writeFile(path("q/Auto1.py"), "the user's own script\n");
        QDir().mkpath(path("q"));

        QString error;
        QVERIFY(project->load(path("p/a.zorpro"), error));
        QStringList outside;
        QStringList referenced = project->referencedFiles(&outside);
        referenced.sort();
        QCOMPARE(referenced, QStringList({"Auto1.py", "QML", "Recordings/run.csv", "dev/Node.xdd"}));
        QCOMPARE(outside, QStringList({"../shared.xdd"}));

        // A different file of the same name: asked, and "No" saves nothing.
        QList<ZorQuestionBox::Question> asked;
        QMessageBox::StandardButton answer = QMessageBox::No;
        ZorQuestionBox::setHook([&](const ZorQuestionBox::Question &q) {
            asked << q;
            return answer;
        });
        const bool refused = !project->save(path("q/b.zorpro"), error);
        const QStringList afterNo = tree(path("q")).keys();
        answer = QMessageBox::Yes;
        const bool saved = project->save(path("q/b.zorpro"), error);
        ZorQuestionBox::setHook(nullptr);
        QVERIFY(refused);
        QCOMPARE(afterNo, QStringList({"Auto1.py"}));
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked.first().text.contains("Auto1.py"), qPrintable(asked.first().text));
        QVERIFY2(saved, qPrintable(error));

        QMap<QString, QByteArray> copied = tree(path("q"));
        QVERIFY(copied.contains("b.zorpro"));
        for (auto it = named.cbegin(); it != named.cend(); ++it)
            QCOMPARE(copied.value(it.key()), it.value());
        QVERIFY(!copied.contains("unrelated.txt"));
        QCOMPARE(project->filesLeftBehind(), QStringList({"../shared.xdd"}));
        QCOMPARE(project->projectFile(), path("q/b.zorpro"));

        // The copy, opened on its own, finds what it names.
        project.reset(new QuorvaneProject);
        QVERIFY(project->load(path("q/b.zorpro"), error));
        referenced = project->referencedFiles(&outside);
        referenced.sort();
        QCOMPARE(referenced, QStringList({"Auto1.py", "QML", "Recordings/run.csv", "dev/Node.xdd"}));

        // Saved again in its own folder, nothing is copied or asked.
        QVERIFY2(project->save(path("q/b.zorpro"), error), qPrintable(error));
        QVERIFY(project->filesLeftBehind().isEmpty());
    }

    void saveFailuresKeepPathsAndFiles()
    {
        // No project file yet: nothing to pack.
        QDomDocument doc;
        doc.setContent(demoProject());
        QVERIFY(project->loadDocument(doc));
        QString error;
        QVERIFY(!project->save(path("x.zortpl"), error));
        QVERIFY(error.startsWith("Cannot save a non-compressed project"));
        QVERIFY(!QFileInfo::exists(path("x.zortpl")));

        // A folder that is not there.
        writeFile(path("p/p.zorpro"), demoProject());
        QVERIFY(project->load(path("p/p.zorpro"), error));
        QVERIFY(!project->save(path("nowhere/x.zorpro"), error));
        QCOMPARE(error, QStringLiteral("Could not write data to target file."));
        QCOMPARE(project->projectFile(), path("p/p.zorpro"));

        // Packing fails: the existing archive stays as it was.
        writeFile(path("old.zorzip"), "previous archive");
        ZorApplServices::setArchiveToolPath(path("no/7za"));
        QVERIFY(!project->save(path("old.zorzip"), error));
        QCOMPARE(error, QStringLiteral("Error compressing %1").arg(path("old.zorzip")));
        QCOMPARE(readFile(path("old.zorzip")), QByteArray("previous archive"));
        QCOMPARE(project->packedFile(), QString());
    }

    void removeTempFolderOnlyRemovesUnpackingFolders_data()
    {
        QTest::addColumn<QString>("folder");   // created, with b/b.zorpro inside
        QTest::addColumn<QString>("file");     // handed to removeTempFolder
        QTest::addColumn<bool>("removed");
        QTest::newRow("unpacking folder") << "T/zorproj_temp_1234" << "T/zorproj_temp_1234/b/b.zorpro" << true;
        QTest::newRow("user folder named like one")
            << "U/QuorvaneTemp/zorproj_temp_1" << "U/QuorvaneTemp/zorproj_temp_1/b/b.zorpro" << false;
        QTest::newRow("other folder in the temporary root") << "T/keep" << "T/keep/b/b.zorpro" << false;
        QTest::newRow("climbing out") << "S/x" << "T/zorproj_temp_9/../../x/b/b.zorpro" << false;
        QTest::newRow("link to a user folder") << "U/target" << "T/zorproj_temp_link/b/b.zorpro" << false;
    }
    void removeTempFolderOnlyRemovesUnpackingFolders()
    {
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(bool, removed);
        const auto expand = [this](QString p) {
            if (p.startsWith("T/"))
                return p.replace(0, 1, tempRoot());
            if (p.startsWith("S/"))
                return p.replace(0, 1, home.tempPath());
            return p.replace(0, 1, path("user"));
        };
        QVERIFY(writeFile(expand(folder) + "/b/b.zorpro", "x"));
        QDir().mkpath(tempRoot());
        if (file.contains("zorproj_temp_link"))
            QVERIFY(QFile::link(expand(folder), tempRoot() + "/zorproj_temp_link"));
        QCOMPARE(QuorvaneProject::removeTempFolder(expand(file)), removed);
        QCOMPARE(QFileInfo::exists(expand(folder) + "/b/b.zorpro"), !removed);
        QFile::remove(tempRoot() + "/zorproj_temp_link");
        QDir(tempRoot() + "/keep").removeRecursively();
    }

    // What a panel hands its module while the project is being saved is in
    // the file, and an objection stops the save before anything is written.
    void panelSettingsReachTheFile()
    {
        QVERIFY(project->registerModuleCreator("canusb_test", newFilesStartStop));
        QVERIFY(project->registerPanelCreator("canusb_test", newLateSettingPanel));
        QByteArray text = demoProject();
        text.replace("type=\"canusb\"", "type=\"canusb_test\"");
        writeFile(path("p.zorpro"), text);
        QString error;
        QVERIFY(project->load(path("p.zorpro"), error));
        const QModelIndex can = project->model()->index(0, 0, project->model()->index(0, 0));
        auto *panel = static_cast<LateSettingPanel *>(project->createPanel(can));
        QVERIFY(panel);

        QVERIFY2(project->save(path("saved.zorpro"), error), qPrintable(error));
        QVERIFY2(readFile(path("saved.zorpro")).contains("<Port>COM9</Port>"),
                 readFile(path("saved.zorpro")).constData());

        panel->objection = "Sequence not stored";
        QVERIFY(!project->save(path("refused.zorpro"), error));
        QCOMPARE(error, QStringLiteral("Sequence not stored"));
        QVERIFY(!QFileInfo::exists(path("refused.zorpro")));
    }
};

ZOR_TEST(TestProjectFiles)
#include "tst_projectfiles.moc"
