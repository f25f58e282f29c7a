#include "zordatalogcapture.h"

#include "datalogseries.h"
#include "shareddataregistry.h"

constexpr int ZorDataLogCapture::StoreLockMs;
constexpr int ZorDataLogCapture::SummaryLockMs;

ZorDataLogCapture::~ZorDataLogCapture()
{
    QString ignored;
    stopRecording(ignored);
    clearAll();
}

bool ZorDataLogCapture::setTriggerConfig(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == m_triggerConfigText)
        return false;
    m_triggerConfigText = trimmed;
    m_triggers.clear();
    for (const QString &part : trimmed.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        m_triggers.append(TriggerCondition(part));
    return true;
}

void ZorDataLogCapture::setTriggerTimes(int preTriggerMs, int postTriggerMs)
{
    m_preTriggerMs = preTriggerMs;
    m_postTriggerMs = postTriggerMs;
}

void ZorDataLogCapture::process(const QString &channel, const DataLogSample &sample)
{
    if (!sample.hasTime()) {
        ++m_skipped;
        return;
    }
    auto last = m_lastTimes.find(channel);
    if (last == m_lastTimes.end()) {
        m_lastTimes.insert(channel, sample.wallMs());
    } else if (sample.wallMs() < *last) {
        ++m_skipped;
        return;
    } else {
        *last = sample.wallMs();
    }

    if (!m_triggerOn || m_triggers.isEmpty()) {
        flushPreBuffers();
        store(channel, sample);
        return;
    }
    if (!m_preBuffers.contains(channel)) {
        m_preBuffers.insert(channel, {});
        m_lastValues.insert(channel, DataLogSample());
    }
    prune(sample.wallMs() - m_preTriggerMs);
    const int k = firingCondition(channel, sample);
    std::deque<DataLogSample> &buffer = m_preBuffers[channel];
    if (m_triggered) {
        if (k >= 0 || (m_windowStart <= sample.wallMs() && sample.wallMs() <= m_windowEnd)) {
            store(channel, sample);
        } else {
            // The window is over; this sample only waits for the next one.
            m_triggered = false;
            m_windowStart = m_windowEnd = sample.wallMs();
            buffer.push_back(sample);
            m_anyBuffered = true;
        }
    } else {
        if (k >= 0)
            buffer.push_back(DataLogSample(m_triggers.at(k).toString(), sample.time(), sample.value()));
        buffer.push_back(sample);
        m_anyBuffered = true;
        if (k >= 0) {
            m_triggered = true;
            m_windowStart = sample.wallMs() - m_preTriggerMs;
            m_windowEnd = sample.wallMs() + m_postTriggerMs;
            flushPreBuffers();
        }
    }
    m_lastValues[channel].setWallMs(sample.wallMs(), sample.value());
}

void ZorDataLogCapture::prune(qint64 cutOff)
{
    if (m_anyBuffered) {
        for (std::deque<DataLogSample> &buffer : m_preBuffers) {
            while (!buffer.empty() && buffer.front().wallMs() < cutOff)
                buffer.pop_front();
        }
    }
    for (DataLogSample &last : m_lastValues) {
        if (last.isValid() && last.wallMs() < cutOff)
            last.invalidate();
    }
}

int ZorDataLogCapture::firingCondition(const QString &channel, const DataLogSample &sample) const
{
    const auto last = m_lastValues.constFind(channel);
    if (last == m_lastValues.constEnd() || !last->isValid())
        return -1;
    for (int i = 0; i < m_triggers.size(); ++i) {
        const TriggerCondition &condition = m_triggers.at(i);
        if (condition.name() == channel && condition.fires(last->value(), sample.value()))
            return i;
    }
    return -1;
}

void ZorDataLogCapture::flushPreBuffers()
{
    if (!m_anyBuffered)
        return;
    for (auto it = m_preBuffers.begin(); it != m_preBuffers.end(); ++it) {
        for (const DataLogSample &sample : it.value()) {
            if (m_triggered || sample.wallMs() > m_windowStart)
                store(it.key(), sample);
        }
        it.value().clear();
    }
    m_anyBuffered = false;
}

bool ZorDataLogCapture::store(const QString &channel, const DataLogSample &sample)
{
    ensureSeries(channel, m_loadingFile);
    const int id = m_channelIds.value(channel);
    DataLogSeries *series = SharedDataRegistry::lock(id, StoreLockMs);
    if (!series)
        return false;
    const bool appended = series->append(sample);
    SharedDataRegistry::unlock(id);
    if (!appended) {
        ++m_skipped;
        return false;
    }
    if (m_recording)
        m_recorder.addLine(sample.toLine(channel));
    return true;
}

bool ZorDataLogCapture::ensureSeries(const QString &channel, bool unlimited)
{
    if (m_channelIds.contains(channel))
        return false;
    auto *series = new DataLogSeries(unlimited);
    series->setName(channel);
    m_channelIds.insert(channel, SharedDataRegistry::registerSeries(series));
    return true;
}

QString ZorDataLogCapture::sharedIdsText() const
{
    QString text;
    for (auto it = m_channelIds.cbegin(); it != m_channelIds.cend(); ++it)
        text += it.key() + QLatin1Char(',') + QString::number(it.value()) + QLatin1Char('\n');
    return text;
}

bool ZorDataLogCapture::lastValueOf(const QString &channel, DataLogSample &out) const
{
    const int id = m_channelIds.value(channel);
    DataLogSeries *series = id ? SharedDataRegistry::lock(id, SummaryLockMs) : nullptr;
    if (!series)
        return false;
    out = series->lastValue();
    SharedDataRegistry::unlock(id);
    return true;
}

void ZorDataLogCapture::clearAll()
{
    for (const int id : qAsConst(m_channelIds))
        SharedDataRegistry::unregister(id);
    m_channelIds.clear();
    m_lastValues.clear();
    m_preBuffers.clear();
    m_anyBuffered = false;
    m_lastTimes.clear();
}

void ZorDataLogCapture::clearChannels(const QStringList &channels)
{
    for (const QString &channel : channels) {
        const int id = m_channelIds.value(channel);
        DataLogSeries *series = id ? SharedDataRegistry::lock(id, StoreLockMs) : nullptr;
        if (!series)
            continue;
        series->clear();
        m_lastValues.remove(channel);
        m_preBuffers.remove(channel);
        m_lastTimes.remove(channel);
        SharedDataRegistry::unlock(id);
    }
}

bool ZorDataLogCapture::startRecording(const QString &path, QString &error)
{
    m_recording = m_recorder.open(path, error);
    return m_recording;
}

bool ZorDataLogCapture::stopRecording(QString &error)
{
    const bool written = m_recorder.flush(error);
    m_recording = false;
    m_recorder.close();
    return written;
}

bool ZorDataLogCapture::flushRecording(QString &error)
{
    if (m_recorder.flush(error))
        return true;
    m_recording = false;
    return false;
}
