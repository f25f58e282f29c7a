#include "zormoddatalogstates.h"

#include "datalogsample.h"
#include "zormoddatalog.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>

namespace DataLogStates {

namespace {

const QString TriggerOnMark = QStringLiteral("(Trigger On)");
const QString RecordingMark = QStringLiteral("(Recording)");
constexpr qint64 SummaryPeriodMs = 1000;
// Bytes of a recording read at a time.
constexpr qint64 LoadChunkBytes = 1 << 20;
// Lines read between two looks at the clock.
constexpr int LinesPerClockLook = 64;

bool isDaqControlRequest(const ZorMessage &m)
{
    return m.msgType() == KM_DAQ_CONTROL && m.isRequest();
}

int propertyNumber(const QString &text)
{
    return text.trimmed().toInt();
}

} // namespace

// ---- Root ---------------------------------------------------------------------

void Root::init()
{
    requestTransition<LiveMode>();
}

void Root::cycle()
{
    RootData &data = Root::box();
    if (data.refreshPending) {
        // The first entry could not reach the panel side nor the project:
        // now both learn status and text.
        data.refreshPending = false;
        module()->setStatus(status());
        sendStatus();
        const QString before = statusText();
        refreshStatus(data.pendingBaseText);
        if (statusText() == before) {
            module()->setStatusText(before);
            sendToMaster(ZorMessage(KM_INFOTEXT, KS_INFO, before), true);
        }
    }
    step();
}

ZorModDataLog *Root::dataLog() const
{
    return static_cast<ZorModDataLog *>(module());
}

void Root::refreshStatus(const QString &baseText)
{
    RootData &data = Root::box();
    if (!module()) {
        data.refreshPending = true;
        data.pendingBaseText = baseText;
    }
    ZorDataLogCapture &c = data.capture;
    c.setTriggerConfig(property(QStringLiteral("TriggerConfig")));
    c.setTriggerOn(propertyNumber(property(QStringLiteral("TriggerState"))) > 0);
    c.setTriggerTimes(propertyNumber(property(QStringLiteral("PreTriggerTimeMsec"))),
                      propertyNumber(property(QStringLiteral("PostTriggerTimeMsec"))));

    QString text = baseText;
    text.remove(TriggerOnMark);
    text.remove(RecordingMark);
    text = text.trimmed();
    if (c.triggerOn() && !inFileMode())
        text += QLatin1Char(' ') + TriggerOnMark;
    if (c.isRecording())
        text += QLatin1Char(' ') + RecordingMark;
    setStatusText(text);
}

void Root::sendSharedIds()
{
    sendToMaster(ZorMessage(KM_DAQ_SHARED_IDS_LIST, KS_INFO, capture().sharedIdsText()), true);
}

void Root::echoDaqConfig(const ZorMessage &request)
{
    sendToMaster(ZorMessage(KM_DAQ_CONFIG, KS_ANSWER, request.data()), true);
}

bool Root::handleRecordingControl(const ZorMessage &message)
{
    switch (ZorModDataLog::daqControlCode(message)) {
    case ZorModDataLog::ClearChannels:
        capture().clearChannels(ZorModDataLog::daqControlArguments(message).split(QLatin1Char(','), Qt::SkipEmptyParts));
        return true;
    case ZorModDataLog::StartRecording:
        startRecording(message);
        return true;
    case ZorModDataLog::StopRecording:
        stopRecording();
        return true;
    default:
        return false;
    }
}

bool Root::handleQuery(const ZorMessage &message)
{
    if (message.msgType() == KM_DAQ_SHARED_IDS_LIST && message.isRequest()) {
        sendSharedIds();
        return true;
    }
    if (!isDaqControlRequest(message) || ZorModDataLog::daqControlCode(message) != ZorModDataLog::ReportState)
        return false;
    ZorMessage answer = message;
    answer.setMsgState(KS_ANSWER);
    answer.setData(QStringLiteral("%1,%2,%3,%4")
                       .arg(ZorModDataLog::ReportState)
                       .arg(stateWord())
                       .arg(capture().isRecording() ? 1 : 0)
                       .arg(stateFile()));
    sendToMaster(answer, true);
    sendSharedIds();
    return true;
}

QString Root::stateFile() const
{
    return capture().isRecording() ? capture().recordingFileName() : QString();
}

void Root::startRecording(const ZorMessage &request)
{
    QString error;
    if (capture().startRecording(ZorModDataLog::daqControlArguments(request), error)) {
        ZorMessage answer = request;
        answer.setMsgState(KS_ANSWER);
        answer.setData(QStringLiteral("1"));
        sendToMaster(answer, true);
    } else {
        reportRecordingFailure(request, error);
    }
    refreshStatus(statusText());
}

void Root::stopRecording()
{
    QString error;
    if (!capture().stopRecording(error))
        reportRecordingFailure(ZorMessage(KM_DAQ_CONTROL, KS_REQUEST), error);
    refreshStatus(statusText());
}

void Root::reportRecordingFailure(const ZorMessage &request, const QString &error)
{
    ZorMessage failure = request;
    failure.setMsgState(KS_FAIL);
    failure.setData(QString::number(ZorModDataLog::StartRecording) + QLatin1Char(',') + error);
    sendToMaster(failure, true);
}

void Root::writeRecording()
{
    QString error;
    if (capture().flushRecording(error))
        return;
    reportRecordingFailure(ZorMessage(KM_DAQ_CONTROL, KS_REQUEST), error);
    refreshStatus(statusText());
}

void Root::reportSkippedSamples()
{
    RootData &data = Root::box();
    const int skipped = data.capture.skippedSamples();
    if (skipped == data.reportedSkipped)
        return;
    data.reportedSkipped = skipped;
    sendToMaster(ZorMessage(KM_LOGTEXT, KS_INFO,
                            tr("%1 samples skipped so far: their time is unreadable or earlier than the "
                               "previous sample of their channel.")
                                .arg(skipped)),
                 true);
}

void Root::resetSkippedSamples()
{
    capture().resetSkippedSamples();
    Root::box().reportedSkipped = 0;
}

void Root::dropSlaveMessages()
{
    ZorMessage message;
    while (module()->getMessage(ZorModule::FromSlaves, message)) {
    }
}

// ---- LiveMode -----------------------------------------------------------------

void LiveMode::init()
{
    ZorDataLogCapture &c = capture();
    c.clearAll();
    resetSkippedSamples();
    box().summaryClock.start();
    c.clearTriggered();
    c.setTriggerOn(false);
    QString ignored;
    c.stopRecording(ignored);
    requestTransition<LiveIdle>();
}

void LiveMode::exit()
{
    ZorDataLogCapture &c = capture();
    c.clearTriggered();
    c.setTriggerOn(false);
    // The file is closed, so that the next recording starts on a file of its own.
    QString error;
    if (!c.stopRecording(error))
        qWarning().noquote() << "Data log: last lines of the recording lost:" << error;
}

// ---- LiveIdle -----------------------------------------------------------------

void LiveIdle::entry()
{
    setStatus(0);
    refreshStatus(tr("Idle"));
}

void LiveIdle::step()
{
    dropSlaveMessages();
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const int type = message.msgType();
        if (type == KM_START && message.isRequest()) {
            requestTransition<LiveRunning>();
            return;
        }
        if (handleQuery(message))
            continue;
        if (type == KM_DAQ_CONFIG && message.isRequest()) {
            echoDaqConfig(message);
        } else if (type == KM_DAQ_CONTROL) {
            if (ZorModDataLog::daqControlCode(message) == ZorModDataLog::SwitchMode) {
                if (ZorModDataLog::daqControlArguments(message).trimmed() == QLatin1String("1")) {
                    requestTransition<FileMode>();
                    return;
                }
            } else {
                handleRecordingControl(message);
            }
        } else if (type == KM_SETPROPERTY) {
            refreshStatus(tr("Idle"));
        }
    }
    writeRecording();
}

// ---- LiveRunning --------------------------------------------------------------

void LiveRunning::entry()
{
    setStatus(101);
    refreshStatus(tr("Live Mode"));
    sendToSlaves(ZorMessage(KM_COMM_OPEN, KS_REQUEST, QString()), true);
    const QString config = LiveMode::box().daqConfigText;
    if (!config.isEmpty())
        sendToSlaves(ZorMessage(KM_DAQ_CONFIG, KS_REQUEST, config), true);
}

void LiveRunning::step()
{
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const int type = message.msgType();
        if (handleQuery(message))
            continue;
        if (type == KM_STOP && message.isRequest()) {
            sendToSlaves(ZorMessage(KM_DAQ_CONFIG, KS_CANCEL, QString()), true);
            capture().clearTriggered();
            requestTransition<LiveIdle>();
            break;
        }
        if (type == KM_DAQ_CONFIG && message.isRequest()) {
            LiveMode::box().daqConfigText = message.data().toString();
            sendToSlaves(message, true);
        } else if (isDaqControlRequest(message)) {
            handleRecordingControl(message);
        } else if (type == KM_SETPROPERTY) {
            refreshStatus(tr("Live Mode"));
        }
    }
    while (m->getMessage(ZorModule::FromSlaves, message)) {
        const int type = message.msgType();
        const int state = message.msgState();
        if (type == KM_DAQ_CONFIG && state == KS_ANSWER)
            takeConfirmedConfiguration(message);
        else if (type == KM_DAQ_DATA && (state == KS_INFO || state == KS_ANSWER))
            takeSamples(message.data().toString());
    }
    writeRecording();
    if (LiveMode::box().summaryClock.elapsed() > SummaryPeriodMs)
        sendSummary();
}

void LiveRunning::takeConfirmedConfiguration(const ZorMessage &answer)
{
    QMap<QString, ZorDaqObject> &objects = Root::box().daqObjects;
    const QString text = answer.data().toString();
    QString confirmed;
    bool newSeries = false;
    if (!text.isEmpty()) {
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const ZorDaqObject object(line);
            const QString channel = object.dataObjectId();
            if (object.flag() && capture().ensureSeries(channel, false))
                newSeries = true;
            objects.insert(channel, object);
            confirmed += object.toString() + QLatin1Char('\n');
        }
    } else {
        for (ZorDaqObject &object : objects)
            object.setMonitorMethod(int(ZorDaqObject::Off));
    }
    if (newSeries)
        sendSharedIds();
    ZorMessage toPanel = answer;
    toPanel.setMsgState(KS_ANSWER);
    toPanel.setData(confirmed);
    sendToMaster(toPanel, true);
}

void LiveRunning::takeSamples(const QString &lines)
{
    const QMap<QString, ZorDaqObject> &objects = Root::box().daqObjects;
    ZorDataLogCapture &c = capture();
    for (const QString &line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString channel = DataLogSample::channelOfLine(line);
        const auto object = objects.constFind(channel);
        if (object != objects.constEnd() && object->method() != ZorDaqObject::Off)
            c.process(channel, DataLogSample(line));
    }
}

void LiveRunning::sendSummary()
{
    LiveMode::box().summaryClock.start();
    const QMap<QString, ZorDaqObject> &objects = Root::box().daqObjects;
    const ZorDataLogCapture &c = capture();
    QString text;
    for (auto it = c.channelIds().cbegin(); it != c.channelIds().cend(); ++it) {
        const auto object = objects.constFind(it.key());
        if (object == objects.constEnd() || object->method() == ZorDaqObject::Off)
            continue;
        DataLogSample last;
        if (c.lastValueOf(it.key(), last) && last.isValid())
            text += it.key() + QLatin1Char(',') + last.timeString() + QLatin1Char(',')
                + QString::number(double(last.value()), 'f', 3) + QLatin1Char('\n');
    }
    sendSharedIds();
    sendToMaster(ZorMessage(KM_DAQ_DATA, KS_INFO, text), true);
    reportSkippedSamples();
}

// ---- FileMode -----------------------------------------------------------------

QString FileMode::stateFile() const
{
    return FileMode::box().filePath;
}

void FileMode::init()
{
    QString ignored;
    capture().stopRecording(ignored);
    box().filePath.clear();
    box().errorText.clear();
    requestTransition<NotLoaded>();
}

void FileMode::step()
{
    dropSlaveMessages();
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        const int type = message.msgType();
        if (handleQuery(message))
            continue;
        if (type == KM_DAQ_CONFIG && message.isRequest()) {
            echoDaqConfig(message);
        } else if (isDaqControlRequest(message)) {
            const int code = ZorModDataLog::daqControlCode(message);
            const QString arguments = ZorModDataLog::daqControlArguments(message);
            if (code == ZorModDataLog::LoadFile) {
                box().filePath = arguments;
                box().loadRequest = message;
                requestTransition<Loading>();
                return;
            }
            if (code == ZorModDataLog::SwitchMode && arguments.trimmed() == QLatin1String("0")) {
                requestTransition<LiveMode>();
                return;
            }
        } else if (type == KM_SETPROPERTY && propertySet()) {
            return;
        }
    }
}

// ---- NotLoaded ----------------------------------------------------------------

void NotLoaded::entry()
{
    setStatus(1201);
    refreshStatus(tr("No recording loaded"));
}

bool NotLoaded::propertySet()
{
    refreshStatus(tr("No recording loaded"));
    return false;
}

// ---- Loading ------------------------------------------------------------------

void Loading::entry()
{
    setStatus(1202);
    refreshStatus(tr("Loading Log File..."));
    FileModeData &data = FileMode::box();
    data.errorText.clear();
    resetSkippedSamples();
    const QString xmlPath = ZorModDataLog::companionPathOf(data.filePath);
    if (!QFileInfo::exists(data.filePath)) {
        data.errorText = tr("The requested file %1 was not found.").arg(data.filePath);
    } else if (!QFileInfo::exists(xmlPath)) {
        data.errorText = tr("The required XML file %1 was not found.").arg(xmlPath);
    } else {
        capture().clearAll();
        capture().setLoadingFile(true);
        box().file.setFileName(data.filePath);
        if (box().file.open(QIODevice::ReadOnly))
            box().size = box().file.size();
    }
}

void Loading::exit()
{
    box().file.close();
    capture().setLoadingFile(false);
}

void Loading::step()
{
    dropSlaveMessages();
    ZorModule *m = module();
    ZorMessage message;
    while (m->getMessage(ZorModule::FromMaster, message)) {
        if (handleQuery(message))
            continue;
        if (ZorModDataLog::daqControlCode(message) == ZorModDataLog::LoadFile && message.msgState() == KS_CANCEL) {
            sendToMaster(message, true);
            requestTransition<NotLoaded>();
            return;
        }
    }
    FileModeData &data = FileMode::box();
    if (data.errorText.isEmpty() && (!box().file.isOpen() || !readLines()))
        data.errorText = tr("Could not load the log file %1.").arg(data.filePath);
    if (!data.errorText.isEmpty()) {
        requestTransition<FileModeError>();
        return;
    }
    if (box().ended)
        requestTransition<Loaded>();
}

// Reads whole chunks of the file and takes line after line out of them,
// until the file ends, the slice's time is up or the test limit of lines
// per cycle is reached.
bool Loading::readLines()
{
    Box &b = box();
    const int lineLimit = dataLog()->linesPerCycle();
    QElapsedTimer slice;
    slice.start();
    int lines = 0;
    while (!b.ended) {
        int end = b.buffer.indexOf('\n', b.position);
        if (end < 0 && !b.file.atEnd()) {
            // Keep the start of a line that the chunk cut.
            b.buffer.remove(0, b.position);
            b.position = 0;
            const QByteArray chunk = b.file.read(LoadChunkBytes);
            if (chunk.isEmpty())
                return false;
            b.buffer += chunk;
            continue;
        }
        // The last line may come without a line end.
        const int next = end < 0 ? b.buffer.size() : end + 1;
        int length = (end < 0 ? b.buffer.size() : end) - b.position;
        const char *line = b.buffer.constData() + b.position;
        while (length > 0 && line[length - 1] == '\r')
            --length;
        if (length > 0)
            takeLine(line, length);
        b.bytesRead += next - b.position;
        b.position = next;
        b.ended = end < 0;
        reportProgress();
        ++lines;
        if (lineLimit > 0 && lines >= lineLimit)
            break;
        if (lines % LinesPerClockLook == 0 && slice.elapsed() >= ZorModDataLog::LoadSliceMs)
            break;
    }
    return true;
}

void Loading::takeLine(const char *line, int length)
{
    const QString text = QString::fromLatin1(line, length);
    capture().process(DataLogSample::channelOfLine(text), DataLogSample(text));
}

void Loading::reportProgress()
{
    Box &b = box();
    if (b.size <= 0)
        return;
    const int percent = int(b.bytesRead * 100 / b.size);
    if (percent == b.lastPercent)
        return;
    b.lastPercent = percent;
    sendToMaster(ZorMessage(KM_DAQ_CONTROL, KS_INFO,
                            QStringLiteral("%1,%2,%3,%4")
                                .arg(ZorModDataLog::LoadFile)
                                .arg(b.bytesRead)
                                .arg(b.size)
                                .arg(percent)),
                 true);
}

// ---- Loaded -------------------------------------------------------------------

void Loaded::entry()
{
    setStatus(201);
    refreshStatus(tr("Recording Loaded"));
    const FileModeData &data = FileMode::box();
    ZorMessage answer = data.loadRequest;
    answer.setMsgState(KS_ANSWER);
    answer.setData(QStringLiteral("%1,%2,%3").arg(ZorModDataLog::LoadFile).arg(data.filePath, ZorModDataLog::companionPathOf(data.filePath)));
    sendToMaster(answer, true);
    sendSharedIds();
    reportSkippedSamples();
}

bool Loaded::propertySet()
{
    refreshStatus(tr("Log file loaded"));
    requestTransition<LoadedTriggersModified>();
    return true;
}

void LoadedTriggersModified::entry()
{
    setStatus(1203);
    refreshStatus(tr("Triggers config. changed - please reload file"));
}

// ---- FileModeError ------------------------------------------------------------

void FileModeError::entry()
{
    setStatus(2200);
    refreshStatus(tr("Log Viewer Error"));
    ZorMessage failure = FileMode::box().loadRequest;
    failure.setMsgState(KS_FAIL);
    failure.setData(QString::number(ZorModDataLog::LoadFile) + QLatin1Char(',') + FileMode::box().errorText);
    sendToMaster(failure, true);
}

} // namespace DataLogStates
