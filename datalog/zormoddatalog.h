// ZorModDataLog: the data-log module (type "datalog").
//
// Live mode: the module has the CANopen gateway in front of its CAN
// interface sample the objects its panel lists (KM_DAQ_CONFIG), keeps every
// logged channel's samples in a shared series (SharedDataRegistry) that the
// panels and plots read, records them to a file on request and, with
// trigger capture on, keeps only trigger windows (zordatalogcapture.h).
// Once a second it sends each channel's last value and the channels'
// registry ids up to its panels. File mode: it replays a recording file into
// the same kind of series, with progress, cancel and errors; it reads in
// slices of LoadSliceMs, so that it answers between them.
//
// Requests from the panel side, KM_DAQ_CONTROL with a decimal code,
// optionally followed by "," and arguments:
//   1,<file>       start recording (answered "1", or KS_FAIL "1,<error>")
//   2              stop recording
//   3,<ch>,<ch>... clear these channels
//   4,<file>       load a recording (file mode; KS_CANCEL cancels): progress
//                  "4,<bytes read>,<size>,<percent>" as KS_INFO, then
//                  "4,<file>,<xml>" as KS_ANSWER or "4,<error>" as KS_FAIL
//   5,1 / 5,0      file mode / live mode
//   6              report the state: answered "6,<state>,<recording>,<file>"
//                  with the state "idle", "running", "notloaded", "loading",
//                  "loaded" or "error", recording 1 or 0, and the file
//                  recorded (live mode) or viewed (file mode); then the
//                  shared-ids list. A panel made anew asks it, to show what
//                  the module does.
// and KM_START, KM_STOP, KM_DAQ_CONFIG, KM_DAQ_SHARED_IDS_LIST. Its reports:
// KM_DAQ_SHARED_IDS_LIST ("<channel>,<id>\n" per channel), KM_DAQ_DATA (the
// per-second summary), KM_DAQ_CONFIG answers, KM_STATUS, KM_INFOTEXT, and
// KM_LOGTEXT when samples were skipped (unreadable time, or one going back).
//
// Properties: PreTriggerTimeMsec (4000), PostTriggerTimeMsec (1000), both 0
// to 100000; TriggerState ("1": trigger capture on); TriggerConfig (trigger
// conditions joined by ";", see triggercondition.h).
//
// The states are in zormoddatalogstates.h; the module's series go when its
// thread ends.
#pragma once

#include "zormodule.h"

#include <QMap>
#include <atomic>

class ZorModDataLog : public ZorModule
{
    Q_OBJECT
public:
    enum DaqControlCode {
        StartRecording = 1,
        StopRecording = 2,
        ClearChannels = 3,
        LoadFile = 4,
        SwitchMode = 5,
        ReportState = 6
    };
    // Longest time a module cycle spends reading a recording, in ms.
    static constexpr int LoadSliceMs = 20;

    explicit ZorModDataLog(QObject *parent = nullptr);
    ~ZorModDataLog() override;

    QString acceptedSlaveTypes() const override;
    bool propertyChanged(const QString &key, QString &value) override;
    Macho::StateRef rootStateRef() const override;

    // The code of a KM_DAQ_CONTROL message (0 for any other message or a
    // code that is no number) and what follows its first comma.
    static int daqControlCode(const ZorMessage &message);
    // A recording's companion XML file: the path with "xml" in place of its
    // last three characters.
    static QString companionPathOf(const QString &recordingPath)
    {
        return recordingPath.left(recordingPath.size() - 3) + QLatin1String("xml");
    }
    static QString daqControlArguments(const ZorMessage &message);
    // The registry id of each channel in a KM_DAQ_SHARED_IDS_LIST text; the
    // first line of a channel counts, an id that is no number is 0.
    static QMap<QString, int> sharedIdsOf(const QString &text);

    // Most lines of a recording file read per module cycle; 0 (the
    // default): as many as LoadSliceMs allows.
    void setLinesPerCycle(int lines) { m_linesPerCycle = lines < 0 ? 0 : lines; }
    int linesPerCycle() const { return m_linesPerCycle; }

private:
    std::atomic<int> m_linesPerCycle{0};
};
