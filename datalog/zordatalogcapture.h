// ZorDataLogCapture: what a data-log module does with every sample it gets,
// live from the CANopen gateway or read from a recording file: keep it in
// its channel's shared series and, while recording, in the recording file;
// with trigger capture on, keep only what falls into trigger windows.
//
// Trigger capture: recent samples of every channel wait in pre-trigger
// buffers (the last preTriggerMs of each). A condition compares a channel's
// new value with its previous one within the pre-trigger time; when one
// fires, a text sample naming the condition and the firing sample join the
// buffer, the window [firing time - preTriggerMs, firing time +
// postTriggerMs] opens and every buffered sample of every channel is stored.
// Samples inside the window are stored as they come; the first sample after
// it for which no condition fires closes the window and is only buffered.
// With capture off (or no conditions), every sample is stored at once, after
// whatever was still buffered and is later than the last window's start.
//
// A sample without a readable time, or earlier than the channel's previous
// sample, is skipped and counted, so that series stay sorted.
//
// The capture registers one series per channel in SharedDataRegistry and
// only ever clears or unregisters its own. It lives in the module's thread;
// the series are its only shared objects.
#pragma once

#include "datalogsample.h"
#include "triggercondition.h"
#include "zordatalogrecorder.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QStringList>

#include <deque>

class ZorDataLogCapture
{
public:
    // Lock limits, in ms, for storing or clearing and for reading a last value.
    static constexpr int StoreLockMs = 5000;
    static constexpr int SummaryLockMs = 1000;

    ZorDataLogCapture() = default;
    // Closes the recording and unregisters the capture's series.
    ~ZorDataLogCapture();
    ZorDataLogCapture(const ZorDataLogCapture &) = delete;
    ZorDataLogCapture &operator=(const ZorDataLogCapture &) = delete;

    // --- trigger settings
    // Rebuilds the conditions from a TriggerConfig text (";"-separated) when
    // it differs from the one they came from; true when it did.
    bool setTriggerConfig(const QString &text);
    QString triggerConfigText() const { return m_triggerConfigText; }
    const QList<TriggerCondition> &triggers() const { return m_triggers; }
    void setTriggerOn(bool on) { m_triggerOn = on; }
    bool triggerOn() const { return m_triggerOn; }
    void setTriggerTimes(int preTriggerMs, int postTriggerMs);
    int preTriggerMs() const { return m_preTriggerMs; }
    int postTriggerMs() const { return m_postTriggerMs; }
    bool isTriggered() const { return m_triggered; }
    void clearTriggered() { m_triggered = false; }
    QDateTime windowStart() const { return DataLogSample::fromWallMs(m_windowStart); }
    QDateTime windowEnd() const { return DataLogSample::fromWallMs(m_windowEnd); }

    // --- samples
    // While a recording file is loaded, new series are unlimited.
    void setLoadingFile(bool loading) { m_loadingFile = loading; }
    void process(const QString &channel, const DataLogSample &sample);
    // Samples skipped for an unreadable time or one going backwards, since
    // the last reset.
    int skippedSamples() const { return m_skipped; }
    void resetSkippedSamples() { m_skipped = 0; }

    // --- series
    // Registers a series for the channel when it has none; true when new.
    bool ensureSeries(const QString &channel, bool unlimited);
    int seriesId(const QString &channel) const { return m_channelIds.value(channel); }
    const QMap<QString, int> &channelIds() const { return m_channelIds; }
    // "channel,id\n" per channel in channel order.
    QString sharedIdsText() const;
    // The channel's last value sample, read under its lock; false when the
    // channel has no series or the lock was not had.
    bool lastValueOf(const QString &channel, DataLogSample &out) const;
    // Unregisters every series of this capture and forgets its channels.
    void clearAll();
    // Empties the series of these channels (each keeps its id).
    void clearChannels(const QStringList &channels);

    // --- recording
    // Records into the file from now on; a different file still open is
    // closed first. False with the error text, not recording, when the file
    // cannot be opened.
    bool startRecording(const QString &path, QString &error);
    // Stops recording and closes the file; false with the error text when
    // the last lines could not be written.
    bool stopRecording(QString &error);
    bool isRecording() const { return m_recording; }
    QString recordingFileName() const { return m_recorder.fileName(); }
    // Writes the lines of the samples stored since the last call. False with
    // the error text when that fails; recording has stopped then.
    bool flushRecording(QString &error);

private:
    bool store(const QString &channel, const DataLogSample &sample);
    void flushPreBuffers();
    void prune(qint64 cutOff);
    int firingCondition(const QString &channel, const DataLogSample &sample) const;

    QMap<QString, int> m_channelIds;
    bool m_recording = false;
    ZorDataLogRecorder m_recorder;
    bool m_triggerOn = false;
    int m_preTriggerMs = 4000;
    int m_postTriggerMs = 1000;
    QString m_triggerConfigText;
    QList<TriggerCondition> m_triggers;
    bool m_triggered = false;
    qint64 m_windowStart = DataLogSample::NullTime;
    qint64 m_windowEnd = DataLogSample::NullTime;
    QMap<QString, std::deque<DataLogSample>> m_preBuffers;
    bool m_anyBuffered = false;
    QHash<QString, DataLogSample> m_lastValues;
    QHash<QString, qint64> m_lastTimes;
    bool m_loadingFile = false;
    int m_skipped = 0;
};
