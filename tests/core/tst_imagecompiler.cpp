#include "drivescriptconverter.h"
#include "pythonruntime.h"
#include "zorapplservices.h"
#include "zortest.h"
#include "zortestutil.h"

#include <QtTest>

namespace {

using ZorTest::readFile;
using ZorTest::writeFile;

quint32 le32(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(b.constData() + at));
}

const QByteArray kScript =
    "# drive script\r\n"
    "import drive\r\n"
    "count = 0\r\n"
    "def tick(n):\r\n"
    "    drive.settxpdo = 0\r\n"
    "    return n + 1.5\r\n"
    "while count < 3:\r\n"
    "    count = tick(count)\r\n"
    "    drive.sendtxpdo(1)\r\n"
    "    sys.wait(10)\r\n";

} // namespace

class TestImageCompiler : public QObject
{
    Q_OBJECT

    QString savedDir;
    QTemporaryDir *work = nullptr;
    PythonRuntime *rt = nullptr;

private slots:
    void initTestCase()
    {
        rt = new PythonRuntime;
        QVERIFY(rt->isLoaded());
    }
    void cleanupTestCase() { delete rt; }

    // Each compilation works in the current folder, as in a project folder.
    void init()
    {
        savedDir = QDir::currentPath();
        work = new QTemporaryDir;
        QVERIFY(QDir::setCurrent(work->path()));
    }
    void cleanup()
    {
        QDir::setCurrent(savedDir);
        delete work;
        PythonRuntime::setPythonLibDir(QString());
    }

    void toTargetLib_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("converted");
        QTest::newRow("import added, names spelled")
            << "sendtxpdo(1)" << "import targetlib\nSendTxPdo(1)";
        QTest::newRow("module renamed")
            << "import drive\r\ndrive.sendTXpdo(1)\r\n" << "import targetlib\ntargetlib.SendTxPdo(1)\n";
        QTest::newRow("from import") << "from targetlib import power\n"
                                     << "import targetlib\nfrom targetlib import Power\n";
        QTest::newRow("constants and sys calls")
            << "import drive\nx = True or FALSE\nSYS.Wait(1); sys.GC()\n"
            << "import targetlib\nx = true or false\nsys.wait(1); sys.gc()\n";
        QTest::newRow("whole identifiers only")
            << "import drive\nmodel = powered + drive.PowerQuit() + mode2\n"
            << "import targetlib\nmodel = powered + targetlib.PowerQuit() + mode2\n";
        QTest::newRow("strings and comments untouched")
            << "import drive\nprint('power mode', \"drive.speed\")  # set power, import drive\n"
               "s = '''true\ndrive.mode'''\nt = 'it\\'s mode'; speed(1)\n"
            << "import targetlib\nprint('power mode', \"drive.speed\")  # set power, import drive\n"
               "s = '''true\ndrive.mode'''\nt = 'it\\'s mode'; Speed(1)\n";
        QTest::newRow("other module of a similar name")
            << "import drivers\nx.drive.mode = 1\n" << "import targetlib\nimport drivers\nx.drive.Mode = 1\n";
        QTest::newRow("import only in a comment")
            << "# import drive\nPower(1)\n" << "import targetlib\n# import drive\nPower(1)\n";
    }
    void toTargetLib()
    {
        QFETCH(QString, script);
        QFETCH(QString, converted);
        DriveScriptConverter::toTargetLib(script);
        QCOMPARE(script, converted);
    }

    void toDriveModuleAndBack()
    {
        QString text = QStringLiteral("import targetlib\nTargetLib.setleDERROR(2)\n");
        DriveScriptConverter::toDriveModule(text);
        QCOMPARE(text, QStringLiteral("import drive\ndrive.SetLedError(2)\n"));

        QString output = QStringLiteral("NameError: name 'targetlib' is not defined; TargetLib.Power; targetlibs");
        DriveScriptConverter::targetLibToDrive(output);
        QCOMPARE(output, QStringLiteral("NameError: name 'drive' is not defined; drive.Power; targetlibs"));
        QCOMPARE(DriveScriptConverter::apiNames().size(), 27);
    }

    // The image lands beside the script, in the documented layout, the same
    // bytes every time; paths may hold quotes, backslashes and dots.
    void compile_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("marker");
        QTest::addColumn<int>("generation");
        QTest::newRow("generation 9") << "project" << QByteArray() << 9;
        QTest::newRow("generation 8 in capitals") << "project" << QByteArray("# PyMite-08\n") << 8;
        QTest::newRow("awkward folder") << "it's \"a\" \\ dir.v2" << QByteArray() << 9;
    }
    void compile()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, marker);
        QFETCH(int, generation);
        const QString source = work->filePath(folder + "/DriveScript.py");
        QVERIFY(writeFile(source, marker + kScript));

        QString image, library, error;
        QVERIFY2(rt->compileScriptImage(source, image, library, error), qPrintable(rt->stdErrText()));
        QCOMPARE(image, work->filePath(folder + "/DriveScript.pymbin"));
        QVERIFY(error.isEmpty());
        QCOMPARE(library, PythonRuntime::pythonLibDir() + QStringLiteral("/pymite-0%1").arg(generation));
        QVERIFY(!QFileInfo::exists(work->filePath("PythonCompilerTmp")));

        const QByteArray bytes = readFile(image);
        QVERIFY(bytes.size() > 24);
        QCOMPARE(bytes.left(4), QByteArray("PMIM"));
        QCOMPARE(int(bytes.at(4)), 1);
        QCOMPARE(int(bytes.at(5)), generation);
        QCOMPARE(qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(bytes.constData() + 8)),
                 quint16(1));
        QCOMPARE(le32(bytes, 12), quint32(bytes.size()));
        QCOMPARE(bytes.mid(bytes.size() - 8, 4), QByteArray("PMEN"));
        QCOMPARE(le32(bytes, bytes.size() - 4), ZorTest::crc32(bytes.left(bytes.size() - 8)));
        // The module's code names the drive module as the drive knows it.
        QVERIFY(bytes.contains("targetlib"));
        QVERIFY(bytes.contains("SendTxPdo"));
        QVERIFY(!bytes.contains("drive"));

        QString again;
        QVERIFY(rt->compileScriptImage(source, again, library, error));
        QCOMPARE(readFile(again), bytes);
    }

    // What the drive cannot run is refused at its line; generation 8 knows
    // no classes.
    void unsupportedForGeneration8()
    {
        const QString source = work->filePath("DriveScript.py");
        QVERIFY(writeFile(source, "# pymite-08\nx = 1\nclass Axis:\n    pass\n"));
        QString image, library, error;
        QVERIFY(!rt->compileScriptImage(source, image, library, error));
        QVERIFY(error.isEmpty());
        QVERIFY(rt->stdErrText().contains("classes are not supported"));
        QCOMPARE(rt->errorLine(), 3);
    }

    void sourceErrors()
    {
        QString image = "x", library = "x", error;
        const QString missing = work->filePath("missing/DriveScript.py");
        QVERIFY(!rt->compileScriptImage(missing, image, library, error));
        QCOMPARE(error, "source file not found: " + missing);
        QVERIFY(image.isEmpty());
        QVERIFY(library.isEmpty());

        const QString empty = work->filePath("DriveScript.py");
        QVERIFY(writeFile(empty, ""));
        QVERIFY(!rt->compileScriptImage(empty, image, library, error));
        QCOMPARE(error, "source file empty: " + empty);
        QVERIFY(!QFileInfo::exists(work->filePath("PythonCompilerTmp")));

        QVERIFY(writeFile(empty, kScript));
        PythonRuntime unavailable(QStringLiteral("python-not-installed-9.9"));
        QVERIFY(!unavailable.compileScriptImage(empty, image, library, error));
        QVERIFY(error.isEmpty());
        QCOMPARE(unavailable.stdErrText(),
                 QStringLiteral("Python library 'python-not-installed-9.9' is not available."));
    }

    // A script error leaves the earlier image in place, no work folder, and
    // the error line of the user's script (the added import line does not
    // count).
    void scriptErrorKeepsEarlierImage()
    {
        const QString source = work->filePath("DriveScript.py");
        const QString output = work->filePath("DriveScript.pymbin");
        QVERIFY(writeFile(output, "EARLIER IMAGE"));
        QVERIFY(writeFile(source, "x = 1\nPower(1)\nif x\n    Power(0)\n"));

        QString image, library, error;
        QVERIFY(!rt->compileScriptImage(source, image, library, error));
        QVERIFY(error.isEmpty());
        QVERIFY(image.isEmpty());
        QVERIFY(rt->stdErrText().contains("SyntaxError"));
        QCOMPARE(rt->errorLine(), 3);
        QCOMPARE(readFile(output), QByteArray("EARLIER IMAGE"));
        QVERIFY(!QFileInfo::exists(work->filePath("PythonCompilerTmp")));
    }

    // A creator that ends without writing its image: the copy fails and the
    // earlier image stays whole.
    void failedCopyKeepsEarlierImage()
    {
        QTemporaryDir lib;
        QVERIFY(writeFile(lib.filePath("pymite-09/pmImgCreator.py"),
                          "class PmImgCreator:\n"
                          "    def __init__(self, features=None): pass\n"
                          "    def set_options(self, *args): pass\n"
                          "    def convert_files(self): pass\n"
                          "    def write_image_file(self): print('written nowhere')\n"));
        PythonRuntime::setPythonLibDir(lib.path());

        const QString source = work->filePath("DriveScript.py");
        const QString output = work->filePath("DriveScript.pymbin");
        QVERIFY(writeFile(source, kScript));
        QVERIFY(writeFile(output, "EARLIER IMAGE"));
        QString image, library, error;
        QVERIFY(!rt->compileScriptImage(source, image, library, error));
        QCOMPARE(error, QStringLiteral("could not copy output from '%1' to '%2'")
                            .arg(QDir::currentPath() + "/PythonCompilerTmp/sample.pymbin", output));
        QCOMPARE(rt->stdOutText(), QStringLiteral("written nowhere\n"));
        QCOMPARE(readFile(output), QByteArray("EARLIER IMAGE"));
        QVERIFY(!QFileInfo::exists(work->filePath("PythonCompilerTmp")));
    }
};

ZOR_TEST(TestImageCompiler)
#include "tst_imagecompiler.moc"
