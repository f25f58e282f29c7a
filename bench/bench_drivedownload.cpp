// Firmware download into a drive through the whole chain (drive module ->
// CANopen gateway -> CAN interface -> TCP -> simulated CiA 402 drive with
// its boot loader): bytes per second of a 1 MiB firmware file (256 records
// of 4 KiB, each its own transfer into 1F50h.1), by block transfer ("b") and
// segmented ("f"), with the simulated bus as fast as it goes and with the
// bus timing of 1 Mbit/s. The rate counts the transfer (the module's
// progress from 0 to 100), not the fixed waits of preparing and checking
// the drive.
#include "noderig.h"
#include "zormodcanopengateway.h"
#include "zormodposdrive.h"
#include "zortestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdio>

namespace {

const int Records = 256;
const int Payload = 4096 - 16;

QString writeFirmware(const QTemporaryDir &dir)
{
    QByteArray bytes;
    QRandomGenerator gen(7);
    for (int r = 0; r < Records; ++r) {
        QByteArray header(16, '\0');
        qToLittleEndian<quint32>(quint32(Payload), reinterpret_cast<uchar *>(header.data() + 8));
        bytes += header;
        for (int i = 0; i < Payload; ++i)
            bytes += char(gen.bounded(256));
    }
    const QString path = dir.filePath(QStringLiteral("firmware.bin"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

// Bytes per second of one session's transfer, -1 when it failed.
double downloadRate(const QString &kind, const QString &path, const QStringList &timing)
{
    NodeRig rig;
    QStringList arguments = timing;
    arguments << QStringLiteral("--node") << QStringLiteral("2 drive=1") << QStringLiteral("--quiet");
    if (!rig.start(arguments, new ZorModPosDrive, QStringLiteral("drive_canopen"),
                   QStringLiteral("<NodeId>2</NodeId>"))) {
        fprintf(stderr, "bench_drivedownload: %s\n", qPrintable(rig.sim.errorString()));
        return -1;
    }
    if (!rig.waitForStatus(0, QStringLiteral("Idle"), 20000))
        return -1;
    const ZorMessage request(KM_DRIVE_DOWNLOAD_START, KS_REQUEST, kind + QLatin1Char(',') + path);
    if (rig.request(request, 20000).msgState() != KS_ANSWER)
        return -1;
    QElapsedTimer clock;
    bool started = false;
    bool done = false;
    rig.waitUntil([&] {
        for (const ZorMessage &m : rig.fromModule.ofType(KM_PROGRESS)) {
            if (m.msgState() != KS_INFO) {
                done = true;   // failed
                return true;
            }
            if (!started) {
                started = true;
                clock.start();
            }
            if (m.data().toInt() == 100) {
                done = true;
                return true;
            }
        }
        return false;
    }, 600000);
    if (!done || !clock.isValid())
        return -1;
    const double seconds = clock.nsecsElapsed() / 1e9;
    const QList<ZorMessage> progress = rig.fromModule.ofType(KM_PROGRESS);
    if (progress.isEmpty() || progress.last().msgState() != KS_INFO || progress.last().data().toInt() != 100)
        return -1;
    rig.waitForStatus(0, QString(), 30000);
    return double(Records) * (Payload + 16) / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ZorTest::installQuietMessageHandler();
    ZorMessage::registerMetaType();
    ZorModCanOpenGateway::registerCreator();
    QTemporaryDir dir;
    const QString path = writeFirmware(dir);
    if (path.isEmpty())
        return 1;
    const struct
    {
        const char *name;
        QStringList timing;
    } buses[] = {{"", {}}, {"_at_1mbit", {QStringLiteral("--timing"), QStringLiteral("1m")}}};
    int failures = 0;
    for (const auto &bus : buses) {
        for (const char *kind : {"b", "f"}) {
            const double rate = downloadRate(QLatin1String(kind), path, bus.timing);
            if (rate < 0) {
                fprintf(stderr, "bench_drivedownload: download \"%s\"%s failed\n", kind, bus.name);
                ++failures;
                continue;
            }
            printf("drive_firmware_download_1mib_%s%s: %.0f bytes/s\n", kind, bus.name, rate);
            fflush(stdout);
        }
    }
    return failures ? 1 : 0;
}
