// ZorCanDriverBrenko: the maker's own USB-CAN adapter, a USB HID device
// carrying the ASCII adapter protocol in 64-byte reports (vendor 04D8h,
// product F708h, or 0059h when none of those is found). See
// ZorCanDriverHidBase for the reports, the receive thread, status texts and
// reconnection.
//
// open sends "C", "V", "S<code>", "Z<time-stamp mode>", "O", "V" and reads
// the firmware version from the "V" reply. The adapter echoes the frames it
// sent for the PC ("e" lines, flagged 0x80). Frames without the adapter's
// time stamp get the milliseconds since open; queued frames are stamped
// with it too.
//
// Firmware update (zorcandriverbrenkofirmware.cpp): the firmware files are
// "kelvatro*.hex" in the working folder and then in Drivers/brenko beside
// the executable; the version in a file name ("kelvatro_1.10.0.0.hex")
// is compared by its numeric parts. startFirmwareUpdate picks the file for a
// target version ("1" takes the highest 1.x.x.x, "1.2.0.3" exactly that
// one), and each firmwareUpdateProgress call makes one step: switch the
// adapter into its bootloader ("Q"), have the bootloader library
// (Drivers/brenko/brenko_pic32_ubl, bound at run time, see UblLibrary)
// program the file, wait for the new application to answer. Progress: 1-9
// finding the adapter, 10-19 starting the bootloader, 20-79 programming,
// 80-99 waiting for the application, 100 done, -1 failed (lastErrorText
// says why), 0 no update.
//
// With the user setting "DebugMode" above 2 the driver writes a trace to the
// debug log "candriverbrenko".
#pragma once

#include "zorcandriverhidbase.h"

#include <QStringList>
#include <memory>

class UblLibrary;
class ZorDebugLog;

class ZorCanDriverBrenko : public ZorCanDriverHidBase
{
public:
    static constexpr quint16 ProductId = 0xF708;
    static constexpr quint16 SecondProductId = 0x0059;
    static constexpr quint16 BootloaderProductId = 0x003C;

    // Waits of the update steps, in ms; tests make them short.
    struct UpdateTiming
    {
        int findWaitMs = 4000;          // between attempts to find the adapter
        int longFindWaitMs = 8000;      // before the attempt at progress 5
        int bootloaderWaitMs = 3000;    // between attempts to start the bootloader
        int pumpPauseMs = 50;           // around the bootloader's first message pumps
        int programmingLimitMs = 180000;
        int startWaitMs = 6000;         // for the new firmware to start (80 and 85)
        int checkWaitMs = 3000;         // between later checks for the application
    };

    explicit ZorCanDriverBrenko(QWaitCondition *rxWake = nullptr, ZorHidApi *hid = nullptr);
    ~ZorCanDriverBrenko() override;

    // The port text and reserved are not used: the first adapter found is
    // taken. A bit rate the adapter has no code for is refused.
    bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
              int timestampMode) override;
    // Ends an update, then sends "C" and releases the adapter.
    void close() override;
    // The update's text while one runs or failed; a refused bit rate; else
    // the HID layer's error text.
    QString lastErrorText() override;
    bool echoesTx() override { return true; }

    bool startFirmwareUpdate(const QString &targetVersion, QString &fileName) override;
    int firmwareUpdateProgress() override;
    void abortFirmwareUpdate() override;
    QString firmwareVersion() override { return m_firmwareVersion; }
    // False for a target holding "noupdate". True when no version is known
    // or the major part differs; for a full target (1.2.0.3) unless it is
    // the adapter's; otherwise when the file picked for the target is newer.
    bool firmwareUpdateNeeded(const QString &targetVersion) override;

    // "Kelvatro_V1.2.3.4.hex" -> "1.2.3.4": lower case, without "kelvatro",
    // "v", "-", "_", blanks and ".hex".
    static QString normalizeVersion(const QString &text);
    // Part n (from 0) of a version split at "."; -1 when empty or missing,
    // 0 when not a number.
    static int versionPart(const QString &text, int n);

    // Picks the firmware file for a target version: 0 chosen (path and its
    // normalised version set), 1 no firmware files at all, 2 none fits.
    // Candidates: each folder in turn, highest version first.
    int findFirmwareFile(const QString &targetVersion, QString &path, QString &fileVersion) const;
    // Folders searched for firmware files, in order (default: the working
    // folder, then Drivers/brenko beside the executable).
    void setFirmwareFolders(const QStringList &folders) { m_firmwareFolders = folders; }
    QStringList firmwareFolders() const;
    // The bootloader library (default Drivers/brenko/brenko_pic32_ubl beside
    // the executable; a relative path counts from there).
    void setBootloaderLibrary(const QString &path) { m_bootloaderPath = path; }
    QString bootloaderLibrary() const { return m_bootloaderPath; }
    void setUpdateTiming(const UpdateTiming &timing) { m_updateTiming = timing; }
    UpdateTiming updateTiming() const { return m_updateTiming; }

    // Whether an adapter (in its application) is plugged in.
    bool comTryOpen();
    // Whether the adapter's application answers; renews the firmware version.
    bool comCheckApplication();

protected:
    void trace(const QString &text) override;
    QString versionFromReply(const QString &reply) override { return normalizeVersion(reply); }

private:
    void stepFindAdapter(int value);
    void stepStartBootloader(int value);
    void stepProgramming(int value);
    void stepWaitForApplication(int value);
    void releaseBootloader();

    std::unique_ptr<ZorDebugLog> m_debugLog;
    std::unique_ptr<UblLibrary> m_bootloader;
    QString m_updateFile;
    int m_updateProgress = 0;
    QString m_updateText;
    QElapsedTimer m_updateTimer;
    QStringList m_firmwareFolders;
    QString m_bootloaderPath;
    UpdateTiming m_updateTiming;
};
