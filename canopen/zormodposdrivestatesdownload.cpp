// One download session of the drive: a drive-script image into 2F50h
// (kind "s"), firmware through the program-download objects 1F51h / 1F50h /
// 1F56h, segmented ("f") or block transfer with one segmented fallback
// ("b"), or firmware copied to the SD card of the drive's USB adapter, which
// then installs it (kind "c", DownloadingViaKelvatro).
//
// The gateway carries the data (its SDODownload line) and reports progress;
// the session prepares the drive, follows the transfer, checks the result
// and starts the new program. A failed or stopped session never starts the
// program or ends the script download: its last interview aborts the
// transfer and leaves the drive in its boot loader, and the failure is
// reported (KM_PROGRESS KS_FAIL, Error).
#include "zormodposdrivestates.h"

#include "zorcanexchange.h"
#include "zordriveroots.h"
#include "zormodposdrive.h"
#include "zorsdoblockdownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace ZorNodeStates {

namespace {

ZorMessage interview(const QString &lines)
{
    return ZorMessage(KM_INTERVIEW, KS_REQUEST, lines);
}

ZorMessage cancelled()
{
    ZorMessage m;
    m.setMsgState(KS_CANCEL);
    return m;
}

bool isStop(const ZorMessage &message)
{
    return message.msgState() == KS_REQUEST
        && (message.msgType() == KM_STOP || message.msgType() == KM_DRIVE_STOP);
}

bool isInterviewAnswer(const ZorMessage &message)
{
    const int state = message.msgState();
    return message.msgType() == KM_INTERVIEW && state != KS_REQUEST && state != KS_WAITING && state != KS_INFO;
}

QString programControl(int node, int value)
{
    return QStringLiteral("SDOWriteObject:1000:10:%1,1f51h,1h,unsigned8,%2\n").arg(node).arg(value);
}

// CRC-32 as drive images carry it (IEEE 802.3, reflected, as zlib's).
quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A drive image: a 16-byte header ("PMIM", ..., its whole size in bytes
// 12 to 15), the modules, and an 8-byte trailer ("PMEN" and the CRC-32 of
// everything before it).
bool checkScriptImage(const QByteArray &image, QString &reason)
{
    if (image.size() < 24 || !image.startsWith("PMIM")) {
        reason = QCoreApplication::translate("ZorModPosDrive", "no drive image (it does not start with PMIM)");
        return false;
    }
    if (ZorCanExchange::getUnsigned(image, 12, 4) != quint32(image.size())) {
        reason = QCoreApplication::translate("ZorModPosDrive", "drive image of %1 bytes, its header says %2")
                     .arg(image.size())
                     .arg(ZorCanExchange::getUnsigned(image, 12, 4));
        return false;
    }
    const int trailer = image.size() - 8;
    if (image.mid(trailer, 4) != "PMEN"
        || ZorCanExchange::getUnsigned(image, trailer + 4, 4) != crc32(image.left(trailer))) {
        reason = QCoreApplication::translate("ZorModPosDrive", "drive image damaged (its end mark or CRC is wrong)");
        return false;
    }
    return true;
}

QString deviceTypeCheck(int node)
{
    // The boot loader reports this device type; anything else is not ready
    // for a program download.
    return QStringLiteral("SDOReadObject:1000:10:%1,1000h,0h,unsigned32:%1,1000h,0h,unsigned32,%2\n")
        .arg(node)
        .arg(268435456);
}

} // namespace

// ---- Downloading ------------------------------------------------------------------

void Downloading::entry()
{
    Box &s = box();
    s = Box();
    s.initInterview = cancelled();
    s.downloadInterview = cancelled();
    s.checkInterview = cancelled();
    s.abortInterview = cancelled();
    s.finalInterview = cancelled();
    s.fallbackInterview = cancelled();
    setStatusText(tr("Preparing Download"));

    const QString data = NodeRoot::box().pendingCommand.data().toString();
    s.kind = data.section(QLatin1Char(','), 0, 0).toLower().trimmed();
    s.filePath = data.section(QLatin1Char(','), 1);
    // A colon would end the interview field; the gateway reads ";" as ":".
    QString linePath = s.filePath;
    linePath.replace(QLatin1Char(':'), QLatin1Char(';'));
    s.payloadValid = !s.filePath.isEmpty() && QFileInfo(s.filePath).isFile();
    if (!s.payloadValid)
        s.invalidReason = tr("no file \"%1\"").arg(s.filePath);
    else if (!checkPayload(s.invalidReason))
        s.payloadValid = false;

    if (s.payloadValid) {
        if (s.kind == QLatin1String("s")) {
            setStatus(StatusScriptDownload);
            setStatusText(tr("Script Download Init"));
            buildScriptInterviews(linePath);
        } else if (s.kind == QLatin1String("f") || s.kind == QLatin1String("b")) {
            setStatus(StatusMaintenance);
            setStatusText(tr("Firmware Download Init ")
                          + (s.kind == QLatin1String("b") ? tr("(Fast/Block Mode)") : QString()));
            buildFirmwareInterviews(linePath);
        } else if (s.kind == QLatin1String("c")) {
            setStatus(StatusMaintenance);
            setStatusText(tr("Download via KELVATRO - Init"));
        } else {
            s.payloadValid = false;
            s.invalidReason = tr("no download of the kind \"%1\"").arg(s.kind);
        }
    }
    if (s.payloadValid && s.initInterview.msgState() == KS_REQUEST)
        sendToSlaves(s.initInterview, true);
    answerPendingCommand(s.payloadValid);
}

bool Downloading::checkPayload(QString &reason) const
{
    const Box &s = box();
    const bool script = s.kind == QLatin1String("s");
    if (!script && s.kind != QLatin1String("f") && s.kind != QLatin1String("b"))
        return true;   // an SD card file is the adapter's to check; other kinds are refused anyway
    QFile file(s.filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = tr("cannot read \"%1\"").arg(s.filePath);
        return false;
    }
    const QByteArray data = file.readAll();
    QString why;
    const bool ok = script ? checkScriptImage(data, why) : ZorSdoBlockDownload::checkRecordLayout(data, why);
    if (!ok)
        reason = (script ? tr("\"%1\" is no drive script image: %2") : tr("\"%1\" is no firmware image: %2"))
                     .arg(QFileInfo(s.filePath).fileName(), why);
    return ok;
}

QString Downloading::leftOnDrive() const
{
    const Box &s = box();
    if (!s.driveChanged)
        return tr("the drive was not changed");
    if (s.kind == QLatin1String("s"))
        return tr("the drive holds an unfinished script; download the script again");
    return tr("the drive holds no program and stays in its boot loader; download the firmware again");
}

void Downloading::buildScriptInterviews(const QString &path)
{
    Box &s = box();
    const int node = nodeId();
    s.initInterview = interview(
        QStringLiteral("SDOWriteObject:1000:10:%1,2f50h,1h,unsigned32,0x47525046\nWait:1000:0\n").arg(node));
    s.downloadInterview = interview(QStringLiteral("SDODownload:0:0:%1,2f50h,2h,fna,8,0,%2\n").arg(node).arg(path));
    s.fallbackInterview = s.downloadInterview;
    s.checkInterview = interview(QStringLiteral("Wait:500:0\n"));
    s.abortInterview =
        interview(QStringLiteral("Wait:500:0\nSDOAbortDownload:0:0:%1,2f50h,2h\nWait:500:0\n").arg(node));
    s.finalInterview = interview(
        QStringLiteral("SDOWriteObject:1000:2:%1,2f50h,1h,unsigned32,0x444E4546\nWait:1000:0\n").arg(node));
}

void Downloading::buildFirmwareInterviews(const QString &path)
{
    Box &s = box();
    const int node = nodeId();
    const QString wait = QStringLiteral("Wait:3000:0\n");
    s.initInterview = interview(programControl(node, 128) + wait + deviceTypeCheck(node)
                                + programControl(node, 3) + wait);
    s.downloadInterview = interview(QStringLiteral("SDODownload:0:0:%1,1f50h,1h,fl,0,2,%2\n").arg(node).arg(path));
    s.fallbackInterview = s.downloadInterview;
    if (s.kind == QLatin1String("b"))
        s.downloadInterview =
            interview(QStringLiteral("SDODownload:0:0:%1,1f50h,1h,flb,0,2,%2\n").arg(node).arg(path));
    s.abortInterview = interview(QStringLiteral("Wait:1000:0\nSDOAbortDownload:0:0:%1,1f50h,1h\n").arg(node));
    s.checkInterview = interview(
        QStringLiteral("Wait:500:0\nSDOReadObject:1000:2:%1,1f56h,1h,unsigned32:%1,1f56h,1h,unsigned32,*\n")
            .arg(node)
        + deviceTypeCheck(node) + programControl(node, 131) + wait);
    s.finalInterview = interview(programControl(node, 1));
}

void Downloading::exit()
{
    DriveRoot::box().viaKelvatro = false;
    if (box().failed)
        sendToMaster(ZorMessage(KM_PROGRESS, KS_FAIL, 100), true);
}

void Downloading::sendFinal()
{
    Box &s = box();
    if (s.failed || s.ending) {
        // The session did not bring a good program across: nothing is
        // started, the transfer is aborted instead.
        s.finalInterview = interview(s.abortInterview.data().toString());
    }
    sendToSlaves(s.finalInterview, true);
}

void Downloading::startEnding()
{
    Box &s = box();
    if (!s.ending) {
        s.ending = true;
        s.endTimer.start();
    }
}

bool Downloading::windDownOver() const
{
    const Box &s = box();
    return s.ending && s.endTimer.isValid() && s.endTimer.elapsed() > driveTiming(ZorModPosDrive::DownloadWindDown);
}

bool Downloading::endSession()
{
    Box &s = box();
    const bool late = windDownOver();
    if (!s.done && !late)
        return false;
    if (late)
        cancelGatewayInterviews();
    setStatusText(tr("Download session end"));
    NodeRoot::Box &b = NodeRoot::box();
    if (s.failed) {
        if (b.errorText.isEmpty())
            b.errorText = tr("Download failed");
        b.errorText += QStringLiteral(" - ") + leftOnDrive();
        requestTransition<Error>();
    } else if (s.ending) {
        // Stopped: what the drive is left with stays on display.
        setStatus(StatusIdle);
        showResultText(tr("Warning: Download stopped - %1").arg(leftOnDrive()));
        requestTransition<Idle>();
    } else {
        requestTransition<Idle>();
    }
    return true;
}

void Downloading::readStops(const QString &text, bool sendAbort)
{
    Box &s = box();
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromMaster, message)) {
        if (!isStop(message)) {
            // Nothing but a stop is served while a session runs.
            if (message.isRequest())
                rejectRequest(message);
            continue;
        }
        if (s.ending) {
            // Answered with the first stop by the state that follows.
            DriveRoot::box().repeatedStops << message;
            continue;
        }
        makePending(message);
        setStatusText(text);
        startEnding();
        if (sendAbort)
            sendToSlaves(s.abortInterview, true);
    }
}

void Downloading::takeAnswer(const ZorMessage &message)
{
    Box &s = box();
    if (message == s.finalInterview) {
        s.done = true;
        return;
    }
    if (message == s.checkInterview) {
        if (message.msgState() != KS_ANSWER) {
            // The drive did not take the program: it is not started.
            s.failed = true;
            NodeRoot::box().errorText = tr("Download: program check failed");
        }
        sendFinal();
        return;
    }
    if (message == s.abortInterview) {
        sendFinal();
        return;
    }
    if (message == s.initInterview) {
        if (message.msgState() == KS_ANSWER)
            s.driveChanged = true;
        if (s.ending)
            return;   // stopped while the drive was prepared: no download
        if (message.msgState() == KS_ANSWER) {
            sendToSlaves(s.downloadInterview, true);
            return;
        }
        s.failed = true;
        NodeRoot::box().errorText = tr("Download: error - drive not ready");
        setStatusText(NodeRoot::box().errorText);
        s.done = true;
        requestTransition<Error>();
        return;
    }
    if (message == s.downloadInterview) {
        const QString field = message.data().toString().section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(':'), 4);
        setStatusText(tr("Download: %1").arg(field));
        if (message.msgState() != KS_ANSWER) {
            s.failed = true;
            NodeRoot::box().errorText = tr("Download: %1").arg(field);
            sendFinal();
        }
    }
}

void Downloading::cycle()
{
    Box &s = box();
    if (!s.payloadValid) {
        setStatusText(tr("Download Init Failed"));
        NodeRoot::box().errorText = s.invalidReason.isEmpty()
            ? tr("Download Init Failed")
            : tr("Download Init Failed: %1").arg(s.invalidReason);
        requestTransition<Error>();
        return;
    }
    if (s.kind == QLatin1String("c")) {
        requestTransition<DownloadingViaKelvatro>();
        return;
    }
    if (!s.done) {
        readStops(tr("Download canceled"), true);
        ZorMessage message;
        while (!s.done && module()->getMessage(ZorModule::FromSlaves, message)) {
            if (isInterviewAnswer(message)) {
                takeAnswer(message);
                if (s.failed && s.done)
                    return;   // preparation failed: Error is on its way
                continue;
            }
            if (message.msgType() != KM_PROGRESS)
                continue;
            if (message.msgState() == KS_INFO) {
                const int percent = message.data().toInt();
                sendToMaster(message, true);
                if (percent >= 100) {
                    if (s.checkSent)
                        continue;
                    s.checkSent = true;
                    setStatusText(tr("Data transfer ok. Starting application."));
                    sendToSlaves(s.checkInterview, true);
                } else {
                    setStatusText(tr("Downloading %1%").arg(percent));
                }
                continue;
            }
            if (message.data().toInt() == 100 && s.downloadInterview != s.fallbackInterview) {
                setStatusText(tr("Download Mode not supported by device. Trying slower alternative..."));
                s.downloadInterview = s.fallbackInterview;
                s.checkSent = false;
                s.initInterview = interview(s.initInterview.data().toString());
                sendToSlaves(s.initInterview, true);
                continue;
            }
            if (s.ending)
                continue;   // the abort's own "aborted" report
            s.failed = true;
            NodeRoot::box().errorText = tr("Download: data transfer failed");
            sendFinal();
            startEnding();
        }
    }
    endSession();
}

// ---- DownloadingViaKelvatro ------------------------------------------------------

void DownloadingViaKelvatro::entry()
{
    Downloading::Box &s = Downloading::box();
    Box &k = box();
    k = Box();
    s.payloadValid = false;
    DriveRoot::box().viaKelvatro = true;
    const QString base = property(QStringLiteral("KelvatroUpdateFile")).trimmed();
    const QString marker = base + QStringLiteral(".bic");

    QStringList targets;
    for (const QString &root : ZorDriveRoots::list()) {
        if (QFileInfo(QDir(root).filePath(marker)).isFile())
            targets << QDir(root).filePath(base + QStringLiteral(".bin"));
    }
    if (targets.size() > 1) {
        // Two adapters (or a stale card) would leave the choice to the order
        // of the mounts: refused.
        setStatusText(tr("Copying target file: %1 drives hold %2 (%3) - Error")
                          .arg(targets.size())
                          .arg(marker, targets.join(QStringLiteral(", "))));
        k.phase = -1;
        return;
    }
    if (targets.isEmpty()) {
        k.phase = -1;
        return;
    }
    const QString target = targets.first();
    const QString source = s.filePath;
    const int settle = driveTiming(ZorModPosDrive::KelvatroSettle);
    auto job = std::make_shared<std::atomic<int>>(0);
    k.copyResult = job;
    k.target = target;
    // The copy of a large file to a slow card must not hold the module's
    // thread: it runs beside it, and the state polls for its end.
    std::thread([job, source, target, settle] {
        QFile::remove(target);
        std::this_thread::sleep_for(std::chrono::milliseconds(settle));
        const bool copied = QFile::copy(source, target);
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * settle));
        *job = copied ? 1 : 2;
    }).detach();
    setStatusText(tr("Copying target file: %1").arg(target));
}

void DownloadingViaKelvatro::startPolling()
{
    Downloading::Box &s = Downloading::box();
    const int node = nodeId();
    setStatusText(tr("Download Init"));
    s.initInterview = interview(QStringLiteral("SDOReadObject:2000:30:%1,3403h,7h,unsigned8\n"
                                               "SDOWriteObject:1000:10:%1,3403h,6h,unsigned8,1\n")
                                    .arg(node));
    s.downloadInterview = interview(QStringLiteral("Wait:1000:0\nSDOReadObject:1000:1:%1,3403h,7h,unsigned8\n").arg(node));
    sendToSlaves(s.initInterview, true);
    box().phase = 0;
    box().polls = 0;
}

void DownloadingViaKelvatro::takePoll(const ZorMessage &answer)
{
    Downloading::Box &s = Downloading::box();
    Box &k = box();
    if (answer.msgState() == KS_ANSWER) {
        const QString second = answer.data().toString().section(QLatin1Char('\n'), 1, 1);
        k.phase = int(second.section(QLatin1Char(','), -1).trimmed().toUInt());
    }
    if (k.phase == 1) {
        ++k.polls;
        int progress = 4 * k.polls;
        if (progress >= 90)
            progress = 99 - 90 / (progress - 80);
        sendToMaster(ZorMessage(KM_PROGRESS, KS_INFO, progress), true);
        if (k.polls >= 60)
            k.phase = 3;
        else
            sendToSlaves(s.downloadInterview, true);
    }
    if (k.phase == 2) {
        sendToMaster(ZorMessage(KM_PROGRESS, KS_INFO, 100), true);
        setStatusText(tr("Firmware update complete"));
        s.done = true;
    } else if (k.phase != 1) {
        s.failed = true;
        NodeRoot::box().errorText = tr("Firmware update via KELVATRO failed");
        s.done = true;
    }
}

void DownloadingViaKelvatro::cycle()
{
    Downloading::Box &s = Downloading::box();
    Box &k = box();
    if (k.copyResult) {
        const int result = k.copyResult->load();
        if (result == 0)
            return;   // still copying
        k.copyResult.reset();
        s.payloadValid = result == 1;
        setStatusText(tr("Copying target file: %1 - %2")
                          .arg(k.target, s.payloadValid ? QStringLiteral("OK") : QStringLiteral("Error")));
        if (s.payloadValid)
            startPolling();
        return;
    }
    if (!s.payloadValid) {
        setStatusText(tr("Could not start download via KELVATRO. Check SD storage card, and re-connect KELVATRO device."));
        NodeRoot::box().errorText = statusText();
        s.failed = true;
        requestTransition<Error>();
        return;
    }
    if (!s.done) {
        readStops(tr("Download: user abort - please wait"), false);
        ZorMessage message;
        while (!s.done && module()->getMessage(ZorModule::FromSlaves, message)) {
            if (message.msgType() == KM_CANOPEN_EMERGENCY) {
                handleEmergency(message);
                continue;
            }
            if (!isInterviewAnswer(message))
                continue;
            if (message == s.initInterview) {
                if (message.msgState() != KS_ANSWER) {
                    s.failed = true;
                    NodeRoot::box().errorText = tr("Download: error - drive not ready");
                    setStatusText(NodeRoot::box().errorText);
                    requestTransition<Error>();
                    return;
                }
                sendToSlaves(s.downloadInterview, true);
                k.phase = 1;
                k.polls = 1;
            } else if (message == s.downloadInterview) {
                takePoll(message);
            }
        }
    }
    const bool late = windDownOver();
    if (!s.done && !late)
        return;
    if (late)
        cancelGatewayInterviews();
    if (s.failed)
        requestTransition<Error>();
    else
        requestTransition<Idle>();
}

} // namespace ZorNodeStates
