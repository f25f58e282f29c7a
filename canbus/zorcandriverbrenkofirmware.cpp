// Firmware update of ZorCanDriverBrenko: choosing the file and the steps that
// firmwareUpdateProgress makes one at a time.
#include "zorcandriverbrenko.h"

#include "ubllibrary.h"
#include "zorapplfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>

namespace {

struct Candidate
{
    QString path;
    QString name;
    QVector<int> version; // four parts, -1 where missing
};

QVector<int> versionParts(const QString &normalised)
{
    QVector<int> parts;
    for (int i = 0; i < 4; ++i)
        parts << ZorCanDriverBrenko::versionPart(normalised, i);
    return parts;
}

} // namespace

QStringList ZorCanDriverBrenko::firmwareFolders() const
{
    if (!m_firmwareFolders.isEmpty())
        return m_firmwareFolders;
    return {ZorApplServices::workingDir(),
            QCoreApplication::applicationDirPath() + QStringLiteral("/Drivers/brenko")};
}

int ZorCanDriverBrenko::findFirmwareFile(const QString &targetVersion, QString &path,
                                         QString &fileVersion) const
{
    path.clear();
    QVector<Candidate> candidates;
    for (const QString &folder : firmwareFolders()) {
        QDir dir(folder);
        const QStringList names = dir.entryList({QStringLiteral("kelvatro*.hex")},
                                                QDir::Files | QDir::NoSymLinks);
        QVector<Candidate> here;
        for (const QString &name : names)
            here.append({folder + QLatin1Char('/') + name, name, versionParts(normalizeVersion(name))});
        // Highest version first, its parts compared as numbers (1.10 above
        // 1.9); equal versions by name, descending.
        std::sort(here.begin(), here.end(), [](const Candidate &a, const Candidate &b) {
            if (a.version != b.version)
                return a.version > b.version;
            return a.name.compare(b.name, Qt::CaseInsensitive) > 0;
        });
        candidates += here;
    }
    if (candidates.isEmpty())
        return 1;

    QVector<int> t = versionParts(normalizeVersion(targetVersion));
    if (t[0] == -1)
        t[0] = 1;
    const bool exact = t[1] != -1 && t[2] != -1 && t[3] != -1;
    const QVector<int> wanted = t.mid(1);
    for (const Candidate &c : candidates) {
        if (c.version[0] != t[0])
            continue;
        const QVector<int> offered = c.version.mid(1);
        if (exact ? offered == wanted : wanted <= offered) {
            path = c.path;
            fileVersion = normalizeVersion(c.name);
            return 0;
        }
    }
    return 2;
}

bool ZorCanDriverBrenko::startFirmwareUpdate(const QString &targetVersion, QString &fileName)
{
    close();
    QString fileVersion;
    const int result = findFirmwareFile(targetVersion, m_updateFile, fileVersion);
    fileName = m_updateFile;
    if (result == 1) {
        m_updateProgress = -1;
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko", "No firmware files available");
        return false;
    }
    if (result == 2) {
        m_updateProgress = -1;
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko",
                                                   "No matching 'kelvatro' file for target version %1")
                           .arg(targetVersion);
        return false;
    }
    m_updateTimer.start();
    m_updateProgress = 1;
    return true;
}

int ZorCanDriverBrenko::firmwareUpdateProgress()
{
    const int value = m_updateProgress;
    if (value >= 1 && value <= 99) {
        m_updateText.clear();
        if (value == 3 || value == 7 || (value >= 10 && value <= 19))
            stepStartBootloader(value);
        else if (value < 10)
            stepFindAdapter(value);
        else if (value < 80)
            stepProgramming(value);
        else
            stepWaitForApplication(value);
    }
    return m_updateProgress;
}

void ZorCanDriverBrenko::abortFirmwareUpdate()
{
    m_updateProgress = 0;
    releaseBootloader();
}

void ZorCanDriverBrenko::releaseBootloader()
{
    if (!m_bootloader)
        return;
    m_bootloader->disconnect();
    m_bootloader.reset(); // shuts the library down and unloads it
}

void ZorCanDriverBrenko::stepFindAdapter(int value)
{
    if (value != 1) {
        const int wait = value == 5 ? m_updateTiming.longFindWaitMs : m_updateTiming.findWaitMs;
        if (m_updateTimer.elapsed() <= wait)
            return;
    }
    m_updateTimer.start();
    if (value == 4) {
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko",
                                                   "cannot find device - please unplug / replug!");
        m_updateProgress = value + 1;
        return;
    }
    if (comTryOpen()) {
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko",
                                                   "found device, switching to bootloader");
        resetChannel();
        m_initCommands = QByteArrayLiteral("O\rC\rQ\r");
        m_closeCommand.clear();
        const bool switched = comInitDevice();
        comCloseDevice(false);
        if (switched) {
            m_updateProgress = 10;
            return;
        }
    }
    m_updateProgress = value + 1;
}

void ZorCanDriverBrenko::stepStartBootloader(int value)
{
    if (m_updateTimer.elapsed() <= m_updateTiming.bootloaderWaitMs)
        return;
    m_updateTimer.start();
    if (!m_bootloader) {
        QString path = m_bootloaderPath;
        if (QDir::isRelativePath(path))
            path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + path;
        m_bootloader.reset(new UblLibrary(path));
        if (m_bootloader->loadResult() != 0) {
            // The binding stays until the update is aborted.
            m_updateProgress = -1;
            m_updateText = QCoreApplication::translate("ZorCanDriverBrenko", "Could not load driver %1")
                               .arg(m_bootloaderPath);
            return;
        }
    }
    bool started = true;
    if (value == 14) {
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko",
                                                   "cannot find device - please unplug / replug!");
    } else {
        started = m_bootloader->connectAndProgram(m_updateFile.toLocal8Bit(), VendorId,
                                                  BootloaderProductId);
    }
    if (started) {
        QThread::msleep(ulong(m_updateTiming.pumpPauseMs));
        m_bootloader->messagePump();
        QThread::msleep(ulong(m_updateTiming.pumpPauseMs));
        m_bootloader->messagePump();
        if (m_bootloader->getStatus() > 1) {
            m_updateProgress = 20;
            m_updateTimer.start();
            m_updateText = QCoreApplication::translate("ZorCanDriverBrenko", "Firmware update started");
            return;
        }
    }
    m_bootloader->disconnect();
    m_updateProgress = value + 1;
    if (m_updateProgress == 20) {
        m_updateProgress = -1;
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko", "Could not program file %1")
                           .arg(m_updateFile);
    }
}

void ZorCanDriverBrenko::stepProgramming(int value)
{
    if (!m_bootloader) {
        m_updateProgress = -1;
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko", "Error while updating");
        return;
    }
    m_bootloader->messagePump();
    int next = value;
    const char *text = nullptr;
    switch (m_bootloader->getStatus()) {
    case UblLibrary::StatusStarted:
        next = 20;
        break;
    case UblLibrary::StatusErasing:
        next = 30;
        text = "Erasing old firmware";
        break;
    case UblLibrary::StatusProgramming:
        next = 40;
        text = "Programming new firmware";
        break;
    case UblLibrary::StatusVerifying:
        next = 70;
        text = "Verifying firmware";
        break;
    case UblLibrary::StatusStartingFirmware:
        next = 80;
        text = "Starting firmware";
        break;
    case UblLibrary::StatusError:
        next = -1;
        text = "Firmware update error";
        break;
    default:
        break;
    }
    if (text && (next != value || next == -1))
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko", text);
    if (next == 80 && value != 80)
        m_updateTimer.start();
    m_updateProgress = next;
    if (next == -1 || next >= 80) {
        releaseBootloader();
    } else if (m_updateTimer.elapsed() > m_updateTiming.programmingLimitMs) {
        m_updateProgress = -1;
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko", "Error while updating");
        releaseBootloader();
    }
}

void ZorCanDriverBrenko::stepWaitForApplication(int value)
{
    const int wait = (value == 80 || value == 85) ? m_updateTiming.startWaitMs
                                                  : m_updateTiming.checkWaitMs;
    if (m_updateTimer.elapsed() <= wait)
        return;
    m_updateTimer.start();
    if (comCheckApplication()) {
        m_updateProgress = 100;
        return;
    }
    m_updateProgress = value + 1;
    if (value == 85) {
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko",
                                                   "Waiting for application. Try unplug/replug.");
    }
    if (m_updateProgress > 90) {
        m_updateProgress = -1;
        m_updateText = QCoreApplication::translate("ZorCanDriverBrenko",
                                                   "Download complete, but device not responding.");
    }
}
