// Download sessions of the drive module on the wire: firmware through the
// program-download objects (segmented, block with its segmented fallback),
// the drive-script image into 2F50h, and firmware through the SD card of the
// drive's adapter; stops, failures and the wind-down. The simulated drive
// has a boot loader behind 1F51h (device type 10000000h while it runs) and
// reports each program or script it receives with its SHA-1.
#include "drivetesting.h"
#include "zordriveroots.h"

#include <QCryptographicHash>
#include <QDir>
#include <QtEndian>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace DriveTesting;

namespace {

// A file of random bytes in the folder; its path.
QString downloadPayload(const QTemporaryDir &dir, const QString &name, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(size);
    for (char &b : bytes)
        b = char(gen.bounded(256));
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != size)
        return QString();
    return path;
}

// A firmware file as the drives take it: records of a 16-byte header
// (payload length in bytes 8 to 11, little-endian) and the payload, each
// record one transfer. 50 records of 4080 bytes make 200 KiB.
QString downloadFirmware(const QTemporaryDir &dir, const QString &name, int records = 50, int payload = 4080)
{
    QByteArray bytes;
    QRandomGenerator gen(records);
    for (int r = 0; r < records; ++r) {
        QByteArray header(16, '\0');
        header[0] = char(0xA5);
        header[4] = char(r);
        qToLittleEndian<quint32>(quint32(payload), reinterpret_cast<uchar *>(header.data() + 8));
        bytes += header;
        for (int i = 0; i < payload; ++i)
            bytes += char(gen.bounded(256));
    }
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

// A drive-script image as the image creator writes it: "PMIM" header with
// the image size in bytes 12 to 15, the modules (random bytes here), and the
// trailer "PMEN" with the CRC-32 of everything before it.
QString downloadScriptImage(const QTemporaryDir &dir, const QString &name, int bodySize)
{
    QByteArray image("PMIM\x01\x09\0\0\x01\0\0\0", 12);
    QByteArray size(4, '\0');
    qToLittleEndian<quint32>(quint32(16 + bodySize + 8), reinterpret_cast<uchar *>(size.data()));
    image += size;
    QRandomGenerator gen(bodySize);
    for (int i = 0; i < bodySize; ++i)
        image += char(gen.bounded(256));
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : qAsConst(image)) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0u);
    }
    QByteArray trailer("PMEN");
    QByteArray crcBytes(4, '\0');
    qToLittleEndian<quint32>(~crc, reinterpret_cast<uchar *>(crcBytes.data()));
    image += trailer + crcBytes;
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
        return QString();
    return path;
}

QString downloadSha1(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex());
}

// The program-control values the drive received since the mark.
QStringList downloadProgramControls(NodeRig &rig, int mark)
{
    QStringList values;
    const QStringList lines = rig.sim.lines();
    for (int i = mark; i < lines.size(); ++i) {
        if (lines.at(i).startsWith("PROGCTL 2 "))
            values << lines.at(i).section(' ', 2);
    }
    return values;
}

QList<int> downloadProgress(const NodeRig &rig, int state = KS_INFO)
{
    QList<int> values;
    for (const ZorMessage &m : rig.fromModule.ofType(KM_PROGRESS)) {
        if (m.msgState() == state)
            values << m.data().toInt();
    }
    return values;
}

const char DownloadInit[] =
    "SDOWriteObject:1000:10:2,1f51h,1h,unsigned8,128\nWait:3000:0\n"
    "SDOReadObject:1000:10:2,1000h,0h,unsigned32:2,1000h,0h,unsigned32,268435456\n"
    "SDOWriteObject:1000:10:2,1f51h,1h,unsigned8,3\nWait:3000:0\n";
const char DownloadCheck[] =
    "Wait:500:0\nSDOReadObject:1000:2:2,1f56h,1h,unsigned32:2,1f56h,1h,unsigned32,*\n"
    "SDOReadObject:1000:10:2,1000h,0h,unsigned32:2,1000h,0h,unsigned32,268435456\n"
    "SDOWriteObject:1000:10:2,1f51h,1h,unsigned8,131\nWait:3000:0\n";
const char DownloadAbort[] = "Wait:1000:0\nSDOAbortDownload:0:0:2,1f50h,1h\n";

} // namespace

class TestDriveDownload : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void cleanup() { ZorDriveRoots::reset(); }

    void firmware_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("driveOptions");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("fallback");
        QTest::newRow("f segmented") << "f" << QString() << "fl" << false;
        QTest::newRow("b block") << "b" << QString() << "flb" << false;
        // The gateway takes the refused block initiate and goes on segmented.
        QTest::newRow("b on a drive without block transfer") << "b" << "block=0" << "flb" << false;
    }

    void firmware()
    {
        QFETCH(QString, kind);
        QFETCH(QString, driveOptions);
        QFETCH(QString, line);
        QFETCH(bool, fallback);
        const QString path = downloadFirmware(dir, "fw" + kind + (fallback ? "x" : "") + ".bin");
        QVERIFY(!path.isEmpty());
        NodeRig rig;
        QVERIFY2(startRig(rig, driveOptions), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();

        const ZorMessage request = DriveTesting::request(KM_DRIVE_DOWNLOAD_START, kind.toUpper() + " ," + path);
        QCOMPARE(rig.request(request, 20000).msgState(), int(KS_ANSWER));
        QVERIFY2(rig.waitForStatus(0, QString(), 120000), qPrintable(rig.infoTexts().join("|")));
        const QStringList sent = rig.sentDown(KM_INTERVIEW);
        QCOMPARE(sent.count(QString::fromLatin1(DownloadInit)), fallback ? 2 : 1);
        QVERIFY(sent.contains(QStringLiteral("SDODownload:0:0:2,1f50h,1h,%1,0,2,%2\n").arg(line, path)));
        QCOMPARE(sent.contains(QStringLiteral("SDODownload:0:0:2,1f50h,1h,fl,0,2,%1\n").arg(path)), kind == "f" || fallback);
        QVERIFY(sent.contains(QString::fromLatin1(DownloadCheck)));
        QCOMPARE(sent.last(), QStringLiteral("SDOWriteObject:1000:10:2,1f51h,1h,unsigned8,1\n"));

        // The drive holds the file byte for byte and was started.
        rig.sim.setCursor(mark);
        QVERIFY(rig.sim.waitForLine(QStringLiteral("^PROGRAM 2 204800 %1$").arg(downloadSha1(path))).hasMatch());
        const QStringList controls = downloadProgramControls(rig, mark);
        QCOMPARE(controls.mid(controls.size() - 4), QStringList({"128", "3", "131", "1"}));
        if (kind == "b" && driveOptions.isEmpty())
            QCOMPARE(rig.sim.lines().filter(QRegularExpression("^DOWNLOAD 2 1f50:01 4096 block")).size(), 50);

        const QList<int> progress = downloadProgress(rig);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()) || fallback);
        QVERIFY(downloadProgress(rig, KS_FAIL).isEmpty() || fallback);
        const QStringList texts = rig.infoTexts();
        QVERIFY(texts.contains(kind == "b" ? "Firmware Download Init (Fast/Block Mode)" : "Firmware Download Init "));
        QCOMPARE(texts.contains("Download Mode not supported by device. Trying slower alternative..."), fallback);
        QVERIFY(texts.contains("Data transfer ok. Starting application."));
        QVERIFY(texts.contains("Download session end"));
        QVERIFY2(texts.filter(QRegularExpression("^Downloading \\d+%$")).size() > 0, qPrintable(texts.join('|')));
        QCOMPARE(rig.status(), 0);
    }

    // Block transfers that break off after the first record: the gateway
    // gives the mode up (failure with 100), and the session prepares the
    // drive again and sends the whole file segmented, once.
    void blockFallsBackToSegmented()
    {
        const QString path = downloadFirmware(dir, "fallback.bin", 4);
        NodeRig rig;
        QVERIFY2(startRig(rig, "block=2"), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_DOWNLOAD_START, "b," + path), 20000).msgState(),
                 int(KS_ANSWER));
        QVERIFY2(rig.waitForStatus(0, QString(), 120000), qPrintable(rig.infoTexts().join('|')));
        const QStringList sent = rig.sentDown(KM_INTERVIEW);
        QCOMPARE(sent.count(QString::fromLatin1(DownloadInit)), 2);
        QCOMPARE(sent.count(QStringLiteral("SDODownload:0:0:2,1f50h,1h,flb,0,2,%1\n").arg(path)), 1);
        QCOMPARE(sent.count(QStringLiteral("SDODownload:0:0:2,1f50h,1h,fl,0,2,%1\n").arg(path)), 1);
        QVERIFY(rig.infoTexts().contains("Download Mode not supported by device. Trying slower alternative..."));
        // The given-up mode is no failure of the session.
        QVERIFY(downloadProgress(rig, KS_FAIL).isEmpty());
        QCOMPARE(downloadProgress(rig).last(), 100);
        rig.sim.setCursor(mark);
        QVERIFY(rig.sim.waitForLine(QStringLiteral("^PROGRAM 2 16384 %1$").arg(downloadSha1(path))).hasMatch());
        QCOMPARE(downloadProgramControls(rig, mark).last(), QStringLiteral("1"));
    }

    // Nothing on the drive is touched for a request that cannot succeed: a
    // file that is not of its kind is checked whole and refused before the
    // program or script would be cleared.
    void refusedRequests_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << "f,/no/such/firmware.bin" << "no file";
        QTest::newRow("unknown kind") << "x,%1" << "no download of the kind";
        QTest::newRow("no path") << "b" << "no file";
        QTest::newRow("plain bin as firmware") << "f,%1" << "\"small.bin\" is no firmware image: record at byte 0";
        QTest::newRow("plain bin by block") << "b,%1" << "is no firmware image";
        QTest::newRow("firmware cut short") << "b,%2" << "record at byte 4096 reaches past the end";
        QTest::newRow("plain bin as script") << "s,%1" << "is no drive script image";
        QTest::newRow("damaged script image") << "s,%3" << "drive image damaged";
    }

    void refusedRequests()
    {
        QFETCH(QString, data);
        QFETCH(QString, reason);
        const QString path = downloadPayload(dir, "small.bin", 64);
        // Two records, the second cut short.
        const QString firmware = downloadFirmware(dir, "cut.bin", 2, 4080);
        QFile cut(firmware);
        QVERIFY(cut.resize(4096 + 100));
        const QString image = downloadScriptImage(dir, "damaged.pymbin", 200);
        QFile damaged(image);
        QVERIFY(damaged.open(QIODevice::ReadWrite));
        QVERIFY(damaged.seek(100));
        QVERIFY(damaged.putChar('x'));
        damaged.close();
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        const QString filled = QString(data).replace("%1", path).replace("%2", firmware).replace("%3", image);
        const ZorMessage answer = rig.request(DriveTesting::request(KM_DRIVE_DOWNLOAD_START, filled), 20000);
        QCOMPARE(answer.msgState(), int(KS_FAIL));
        QVERIFY(rig.waitForStatus(2000));
        QVERIFY(rig.infoTexts().contains("Download Init Failed"));
        QVERIFY2(rig.waitUntil([&] {
            return rig.infoText().startsWith("Error: Download Init Failed: ") && rig.infoText().contains(reason);
        }),
                 qPrintable(rig.infoText()));
        QCOMPARE(rig.sentDown(KM_INTERVIEW).size(), 0);
        QCOMPARE(rig.sim.lines().mid(mark).filter(QRegularExpression("^(PROGCTL|DOMAIN) 2 ")), QStringList());
    }

    // A stop aborts the transfer; the program is never started.
    void stopAbortsAndNeverStarts()
    {
        const QString path = downloadFirmware(dir, "stop.bin");
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_DOWNLOAD_START, "f," + path), 20000).msgState(),
                 int(KS_ANSWER));
        QVERIFY(rig.waitUntil([&] { return !downloadProgress(rig).isEmpty() && downloadProgress(rig).last() >= 5; },
                              60000));
        const ZorMessage stop = DriveTesting::request(KM_STOP);
        QCOMPARE(rig.request(stop, 30000).msgState(), int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0));
        QVERIFY(rig.infoTexts().contains("Download canceled"));
        // Not a plain "Idle": the drive was left without its program.
        QVERIFY(rig.infoTexts().contains("Warning: Download stopped - the drive holds no program and stays in its "
                                         "boot loader; download the firmware again"));
        const QStringList sent = rig.sentDown(KM_INTERVIEW);
        QCOMPARE(sent.count(QString::fromLatin1(DownloadAbort)), 2);
        QVERIFY(!sent.contains("SDOWriteObject:1000:10:2,1f51h,1h,unsigned8,1\n"));
        QVERIFY(!sent.contains(QString::fromLatin1(DownloadCheck)));
        QVERIFY(!downloadProgramControls(rig, mark).contains("1"));
        QVERIFY(rig.sim.lines().mid(mark).filter(QRegularExpression("^BUS c\\d+ t602880501f01")).size() == 1);
    }

    // A drive that stops answering mid-transfer: the session fails, is
    // wound down without starting the program, and reports the failure.
    void failedTransferWindsDown()
    {
        const QString path = downloadFirmware(dir, "fail.bin");
        auto *drive = newDrive();
        drive->setDriveTiming(ZorModPosDrive::DownloadWindDown, 300);
        NodeRig rig;
        QVERIFY2(startRig(rig, QString(), QString(), drive), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_DOWNLOAD_START, "f," + path), 20000).msgState(),
                 int(KS_ANSWER));
        QVERIFY(rig.waitUntil([&] { return !downloadProgress(rig).isEmpty(); }, 30000));
        QVERIFY(rig.sim.command("NODE SET 2 silent=1"));
        // The status comes a message before its text: wait for both.
        QVERIFY2(rig.waitUntil([&] { return rig.status() == 2000 && rig.infoText().startsWith("Error:"); }, 60000),
                 qPrintable(rig.infoText()));
        QVERIFY(downloadProgress(rig, KS_FAIL).contains(100));
        QVERIFY(!downloadProgramControls(rig, mark).contains("1"));
        QVERIFY(!rig.sentDown(KM_INTERVIEW).contains("SDOWriteObject:1000:10:2,1f51h,1h,unsigned8,1\n"));
        QVERIFY(rig.sentDown(KM_CANCEL_INTERVIEWS).size() >= 1);
        QVERIFY(rig.infoTexts().contains("Download session end"));
        QVERIFY2(rig.infoText().startsWith("Error: Download") && rig.infoText().endsWith("download the firmware again"),
                 qPrintable(rig.infoText()));
    }

    void scriptImage()
    {
        const QString path = downloadScriptImage(dir, "MyScript.pymbin", 3000);
        NodeRig rig;
        QVERIFY2(startRig(rig), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        const int mark = rig.sim.mark();
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_DOWNLOAD_START, "s," + path), 20000).msgState(),
                 int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0, QString(), 30000));
        QVERIFY(rig.infoTexts().contains("Script Download Init"));
        QVERIFY(rig.fromModule.ofType(KM_STATUS).size() > 0);
        QVERIFY(rig.sentDown(KM_INTERVIEW).contains(QStringLiteral("SDODownload:0:0:2,2f50h,2h,fna,8,0,%1\n").arg(path)));

        // "FPRG", the named image, "FEND", in this order.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        // The name in front, in chunks of 8 bytes, the last one padded.
        QByteArray image = QByteArray("MyScript").leftJustified(16, ' ') + f.readAll();
        image = image.leftJustified((image.size() + 7) / 8 * 8, ' ');
        const QString sha = QCryptographicHash::hash(image, QCryptographicHash::Sha1).toHex();
        rig.sim.setCursor(mark);
        QVERIFY(rig.sim.waitForLine("^DOMAIN 2 2f50:1 4 \\S+ 46505247$").hasMatch());
        QVERIFY(rig.sim.waitForLine("^DOMAIN 2 2f50:2 8 ").hasMatch());
        QVERIFY(rig.sim.waitForLine("^DOMAIN 2 2f50:1 4 \\S+ 46454e44$").hasMatch());
        QVERIFY(rig.sim.waitForLine(QStringLiteral("^SCRIPT 2 %1 %2 ").arg(image.size()).arg(sha)).hasMatch());
    }

    void sdCard()
    {
        QTemporaryDir roots;
        QVERIFY(roots.isValid());
        QDir(roots.path()).mkpath("A");
        QDir(roots.path()).mkpath("B");
        const QString adapter = roots.filePath("B");
        QFile marker(adapter + "/kelvatroupdate.bic");
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        ZorDriveRoots::setOverride({roots.filePath("A"), adapter});
        const QString path = downloadPayload(dir, "card.bin", 50 * 1024);

        auto *drive = newDrive();
        drive->setDriveTiming(ZorModPosDrive::KelvatroSettle, 10);
        NodeRig rig;
        QVERIFY2(startRig(rig, QString(), QString(), drive), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        QCOMPARE(rig.request(DriveTesting::request(KM_DRIVE_DOWNLOAD_START, "c," + path), 20000).msgState(),
                 int(KS_ANSWER));
        QVERIFY(rig.waitForStatus(0, QString(), 30000));
        QCOMPARE(downloadSha1(adapter + "/kelvatroupdate.bin"), downloadSha1(path));
        QVERIFY(!QFile::exists(roots.filePath("A/kelvatroupdate.bin")));
        QCOMPARE(downloadProgress(rig), QList<int>({8, 12, 16, 100}));
        const QStringList texts = rig.infoTexts();
        QVERIFY(texts.contains("Download via KELVATRO - Init"));
        QVERIFY(texts.contains(QStringLiteral("Copying target file: %1 - OK").arg(adapter + "/kelvatroupdate.bin")));
        QVERIFY(texts.contains("Firmware update complete"));
        QVERIFY(rig.sentDown(KM_INTERVIEW).contains("SDOReadObject:2000:30:2,3403h,7h,unsigned8\n"
                                                    "SDOWriteObject:1000:10:2,3403h,6h,unsigned8,1\n"));
    }

    void sdCardRefused_data()
    {
        QTest::addColumn<int>("markers");
        QTest::addColumn<QString>("driveOptions");
        QTest::newRow("no adapter") << 0 << QString();
        QTest::newRow("two adapters") << 2 << QString();
        QTest::newRow("adapter does not start") << 1 << "sdpolls=0";
    }

    void sdCardRefused()
    {
        QFETCH(int, markers);
        QFETCH(QString, driveOptions);
        QTemporaryDir roots;
        QStringList list;
        for (const char *name : {"A", "B"}) {
            QDir(roots.path()).mkpath(name);
            list << roots.filePath(name);
        }
        for (int i = 0; i < markers; ++i) {
            QFile marker(list.at(i) + "/kelvatroupdate.bic");
            QVERIFY(marker.open(QIODevice::WriteOnly));
        }
        ZorDriveRoots::setOverride(list);
        const QString path = downloadPayload(dir, "card2.bin", 1024);
        auto *drive = newDrive();
        drive->setDriveTiming(ZorModPosDrive::KelvatroSettle, 10);
        NodeRig rig;
        QVERIFY2(startRig(rig, driveOptions, QString(), drive), qPrintable(rig.sim.errorString()));
        QVERIFY(rig.waitForStatus(0, "Idle"));
        rig.send(DriveTesting::request(KM_DRIVE_DOWNLOAD_START, "c," + path));
        QVERIFY(rig.waitForStatus(2000, QString(), 30000));
        QVERIFY(downloadProgress(rig, KS_FAIL).contains(100));
        if (markers != 1) {
            QVERIFY(rig.infoTexts().contains("Could not start download via KELVATRO. Check SD storage card, and "
                                             "re-connect KELVATRO device."));
            for (const QString &root : list)
                QVERIFY(!QFile::exists(root + "/kelvatroupdate.bin"));
        }
    }
};

ZOR_TEST(TestDriveDownload)
#include "tst_drivedownload.moc"
