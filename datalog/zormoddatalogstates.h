// The states of the data-log module (zormoddatalog.h).
//
//   Root                    the module data: capture, series, sampled objects
//   ├─ LiveMode             clears the shared data on entry
//   │  ├─ LiveIdle          0     "Idle"
//   │  └─ LiveRunning       101   "Live Mode": sampling through the gateway
//   └─ FileMode
//      ├─ NotLoaded         1201  "No recording loaded"
//      ├─ Loading           1202  "Loading Log File..."
//      ├─ Loaded            201   "Recording Loaded"
//      │  └─ LoadedTriggersModified
//      │                    1203  "Triggers config. changed - please reload file"
//      └─ FileModeError     2200  "Log Viewer Error"
//
// Every entry text goes through the status refresh, which also takes the
// trigger properties into the capture and adds "(Trigger On)" (live mode
// only) and "(Recording)". A state's cycle handles messages from the panel
// side (queue 1) up to the first one that changes the state; the rest wait
// for the next cycle, which the new state handles.
#pragma once

#include "zordaqobject.h"
#include "zordatalogcapture.h"
#include "zormodstates.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMap>

class ZorModDataLog;

namespace DataLogStates {

struct RootData
{
    ZorDataLogCapture capture;
    // The sampled objects as the gateway last confirmed them, by channel.
    QMap<QString, ZorDaqObject> daqObjects;
    // A refresh asked for before the module was attached (the first entry):
    // done again in the first cycle, when properties can be read.
    bool refreshPending = false;
    QString pendingBaseText;
    int reportedSkipped = 0;
};

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)

    using Box = RootData;

    void init() override;
    // Runs a pending refresh, then the state's step.
    void cycle() override;

protected:
    virtual void step() {}
    virtual bool inFileMode() const { return false; }

    ZorModDataLog *dataLog() const;
    ZorDataLogCapture &capture() const { return Root::box().capture; }
    void refreshStatus(const QString &baseText);
    void sendSharedIds();
    // A new KM_DAQ_CONFIG answer with the request's data (nothing stored).
    void echoDaqConfig(const ZorMessage &request);
    // Codes 1 (start recording), 2 (stop) and 3 (clear channels); false for
    // any other message.
    bool handleRecordingControl(const ZorMessage &message);
    // Code 6 and a request for the shared-ids list, which every state
    // answers; false for any other message.
    bool handleQuery(const ZorMessage &message);
    // The state's word in the answer to code 6.
    virtual QString stateWord() const { return QString(); }
    // The file named in that answer.
    virtual QString stateFile() const;
    // Writes what was stored for the recording; reports a failure.
    void writeRecording();
    void reportSkippedSamples();
    void resetSkippedSamples();
    void dropSlaveMessages();

private:
    void startRecording(const ZorMessage &request);
    void stopRecording();
    void reportRecordingFailure(const ZorMessage &request, const QString &error);
};

struct LiveMode : Macho::Link<LiveMode, Root>
{
    MACHO_STATE(LiveMode)

    struct Box
    {
        QString daqConfigText;
        QElapsedTimer summaryClock;
    };

    void init() override;
    void exit() override;
};

struct LiveIdle : Macho::Link<LiveIdle, LiveMode>
{
    MACHO_STATE(LiveIdle)
    void entry() override;

protected:
    void step() override;
    QString stateWord() const override { return QStringLiteral("idle"); }
};

struct LiveRunning : Macho::Link<LiveRunning, LiveMode>
{
    MACHO_STATE(LiveRunning)
    void entry() override;

protected:
    void step() override;
    QString stateWord() const override { return QStringLiteral("running"); }

private:
    void takeConfirmedConfiguration(const ZorMessage &answer);
    void takeSamples(const QString &lines);
    void sendSummary();
};

struct FileModeData
{
    QString filePath;
    QString errorText;
    // The load request, answered when loading ends.
    ZorMessage loadRequest;
};

struct FileMode : Macho::Link<FileMode, Root>
{
    MACHO_STATE(FileMode)

    using Box = FileModeData;

    void init() override;
protected:
    bool inFileMode() const override { return true; }
    QString stateFile() const override;
    // The panel side's messages in NotLoaded, Loaded and FileModeError.
    void step() override;
    // A property was set: each state refreshes in its own way; true when it
    // asked for a transition.
    virtual bool propertySet() { return false; }
};

struct NotLoaded : Macho::Link<NotLoaded, FileMode>
{
    MACHO_STATE(NotLoaded)
    void entry() override;

protected:
    bool propertySet() override;
    QString stateWord() const override { return QStringLiteral("notloaded"); }
    QString stateFile() const override { return QString(); }
};

struct Loading : Macho::Link<Loading, FileMode>
{
    MACHO_STATE(Loading)

    struct Box
    {
        QFile file;
        qint64 size = 0;
        qint64 bytesRead = 0;
        int lastPercent = -1;
        // Read from the file, not yet taken: lines from position on.
        QByteArray buffer;
        int position = 0;
        bool ended = false;
    };

    void entry() override;
    void exit() override;

protected:
    void step() override;
    QString stateWord() const override { return QStringLiteral("loading"); }

private:
    // Reads lines for one slice; false when the file could not be read.
    bool readLines();
    void takeLine(const char *line, int length);
    void reportProgress();
};

struct Loaded : Macho::Link<Loaded, FileMode>
{
    MACHO_STATE(Loaded)
    void entry() override;

protected:
    bool propertySet() override;
    QString stateWord() const override { return QStringLiteral("loaded"); }
};

struct LoadedTriggersModified : Macho::Link<LoadedTriggersModified, Loaded>
{
    MACHO_STATE(LoadedTriggersModified)
    void entry() override;
};

struct FileModeError : Macho::Link<FileModeError, FileMode>
{
    MACHO_STATE(FileModeError)
    void entry() override;

protected:
    QString stateWord() const override { return QStringLiteral("error"); }
};

} // namespace DataLogStates
