// The drive's own script on the wire: start, stop and status through
// 3500h.2, the update that writes "DriveScript.py", compiles it and
// downloads the image, and the drive's emergencies that carry the script's
// output and the embedded interpreter's errors.
#include "drivetesting.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace DriveTesting;

namespace {

QStringList scriptMessages(const NodeRig &rig)
{
    QStringList lines;
    for (const ZorMessage &m : rig.fromModule.ofType(KM_SCRIPT_MSG))
        lines << m.data().toString();
    return lines;
}

} // namespace

class TestDriveScript : public QObject
{
    Q_OBJECT
private slots:
    void scriptControl_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("write");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        QTest::newRow("query") << "-1" << QString() << "Checking Script Status..." << 0;
        QTest::newRow("start") << "1" << "SDOWriteObject:1000:2:2,3500h,2h,integer8,1\n"
                               << "Changing Script Status..." << 1;
        QTest::newRow("stop") << "0" << "SDOWriteObject:1000:2:2,3500h,2h,integer8,0\n"
                              << "Changing Script Status..." << 0;
    }

    void scriptControl()
    {
        QFETCH(QString, data);
        QFETCH(QString, write);
        QFETCH(QString, text);
        QFETCH(int, state);
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const ZorMessage request = DriveTesting::request(KM_SCRIPT_CONTROL, data);
        rig.send(request);
        // At once a new message with the request's data, then the request
        // itself with the state read.
        QVERIFY(rig.waitUntil([&] {
            for (const ZorMessage &m : rig.fromModule.ofType(KM_SCRIPT_CONTROL))
                if (m != request && m.msgState() == KS_ANSWER && m.data().toString() == data)
                    return true;
            return false;
        }));
        const ZorMessage answer = answerOfState(rig, request, KS_ANSWER);
        QCOMPARE(answer.data().toInt(), state);
        QVERIFY(rig.infoTexts().contains(text));
        QVERIFY(rig.infoTexts().contains(state ? "Script Started" : "Script Stopped"));
        const QStringList sent = rig.sentDown(KM_INTERVIEW);
        QCOMPARE(sent.contains(write), !write.isEmpty());
        QVERIFY(sent.contains("SDOReadObject:1000:2:2,3500h,2h,integer8\n"));
    }

    void emergencies()
    {
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        // The module listens from its start: the drive's script prints also
        // before anything was asked of the drive.
        QVERIFY(rig.waitUntil([&] { return rig.canInterface()->status() == 1; }));
        QVERIFY(rig.sentDown(KM_INTERVIEW).isEmpty());

        QVERIFY(rig.sim.command("NODE EMCY 2 50 ff 00 48 69 5c 6e 00"));
        QVERIFY(rig.waitUntil([&] { return scriptMessages(rig) == QStringList({"0,StdOut:Hi"}); }));
        // A line over two emergencies, ended by a line feed, from a named source.
        QVERIFY(rig.sim.command("NODE EMCY 2 51 ff 00 34 92 00 00 00"));
        QVERIFY(rig.sim.command("NODE EMCY 2 50 ff 00 48 6f 00 00 00"));
        QVERIFY(rig.sim.command("NODE EMCY 2 50 ff 00 21 0a 00 00 00"));
        QVERIFY(rig.waitUntil([&] { return scriptMessages(rig).value(1) == "9234h,StdOut:Ho!"; }));

        QVERIFY(rig.sim.command("NODE EMCY 2 00 62 01 0a 0b 0c 0d 0e"));
        QVERIFY(rig.waitForStatus(0, "Warning: Embedded Python Error (6200h,01h,0a 0b 0c 0d 0e)"));
        QVERIFY(rig.sim.command("NODE EMCY 2 30 81 11 00 00 00 00 00"));
        QVERIFY(rig.waitForStatus(0, "Warning: Emergency (8130h,11h,00 00 00 00 00)"));
        QCOMPARE(scriptMessages(rig).size(), 2);
    }

    // A new script is written, compiled into an image and downloaded as a
    // script image; the compiler's report reaches the master.
    void scriptUpdate()
    {
        QTemporaryDir work;
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        const ZorMessage answer =
            rig.request(DriveTesting::request(KM_SCRIPT_CONTROL, "1,import drive\nx = 1, 2\n"), 20000);
        QCOMPARE(answer.msgState(), int(KS_ANSWER));
        const bool ended = rig.waitForStatus(0, QString(), 60000);
        QDir::setCurrent(saved);
        QVERIFY2(ended, qPrintable(rig.infoTexts().join('|') + scriptMessages(rig).join('|')));
        QFile script(work.filePath("DriveScript.py"));
        QVERIFY(script.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(QString::fromUtf8(script.readAll()), QStringLiteral("import drive\nx = 1, 2\n"));
        QVERIFY(scriptMessages(rig).value(0).startsWith("0,StdOut:\nPython '"));
        QVERIFY(scriptMessages(rig).value(0).endsWith("DLL Loader: Success\n"));
        QVERIFY(rig.infoTexts().contains("Python image file creator: OK"));
        QVERIFY(rig.infoTexts().contains("Script Download Init"));
        const QString image = QFileInfo(work.filePath("DriveScript.pymbin")).canonicalFilePath();
        QVERIFY(QFile::exists(image));
        QVERIFY(rig.sentDown(KM_INTERVIEW).contains(QStringLiteral("SDODownload:0:0:2,2f50h,2h,fna,8,0,%1\n")
                                                        .arg(QString(image).replace(':', ';'))));
        rig.sim.setCursor(mark);
        QVERIFY(rig.sim.waitForLine("^SCRIPT 2 \\d+ \\S+ " + QByteArray("DriveScript").leftJustified(16, ' ').toHex()).hasMatch());
    }

    // A new script for a drive that runs: the drive is stopped first (the
    // whole stop sequence on the bus), then the script goes down; the
    // module never shows "Idle" with the drive still enabled.
    void replacementStopsARunningDriveFirst()
    {
        QTemporaryDir work;
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(startInMode(rig, 3));
        QVERIFY(waitForDrive(rig, "vel", "1000"));
        const int mark = rig.sim.mark();
        const int texts = rig.infoTexts().size();
        const ZorMessage answer = rig.request(DriveTesting::request(KM_SCRIPT_CONTROL, "1,import drive\n"), 20000);
        const bool ended = answer.msgState() == KS_ANSWER && rig.waitForStatus(0, QString(), 60000);
        QDir::setCurrent(saved);
        QVERIFY2(ended, qPrintable(rig.infoTexts().join('|')));
        QCOMPARE(rig.sentDown(KM_CANCEL_INTERVIEWS).size(), 1);
        // Disable voltage, read back, and only then the script's "FPRG".
        rig.sim.command("PING");
        const QStringList bus = rig.sim.lines().mid(mark).filter(QRegularExpression("^BUS c"));
        const int stopped = bus.indexOf(QRegularExpression("^BUS c\\d+ t60282b40600000000000$"));
        const int script = bus.indexOf(QRegularExpression("^BUS c\\d+ t602823502f0146505247$"));
        QVERIFY2(stopped >= 0 && script > stopped, qPrintable(bus.join('|')));
        QCOMPARE(driveState(rig).value("state"), QStringLiteral("switch_on_disabled"));
        const QStringList after = rig.infoTexts().mid(texts);
        const int download = after.indexOf("Script Download Init");
        QVERIFY2(download > 0 && !after.mid(0, download).contains("Idle"), qPrintable(after.join('|')));
    }

    // A script file that cannot be written stops the update: nothing is
    // compiled or downloaded in its place.
    void unwritableScriptStopsTheUpdate()
    {
        QTemporaryDir work;
        QVERIFY(QDir(work.path()).mkpath("DriveScript.py"));   // a folder where the file should go
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const ZorMessage answer = rig.request(DriveTesting::request(KM_SCRIPT_CONTROL, "1,print('new')"), 20000);
        QDir::setCurrent(saved);
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(2000));
        QVERIFY(scriptMessages(rig).isEmpty());
        QVERIFY(commandWith(rig, 0, "2f50h").isEmpty());
        QCOMPARE(rig.module()->property("ScriptFileName"), QStringLiteral("DriveScript.py"));
    }
};

ZOR_TEST(TestDriveScript)
#include "tst_drivescript.moc"
