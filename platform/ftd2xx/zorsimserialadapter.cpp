#include "zorsimserialadapter.h"

#include "ftd2xx.h"

#include <chrono>
#include <cstdio>

namespace {

const char CR = '\r';
const char BEL = 0x07;
const int BitRates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000};
const int CommandTimeoutMs = 3000;

} // namespace

void SimSerialDeviceConfig::setRefused(const std::string &letters)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_refused = letters;
}

void SimSerialDeviceConfig::setIgnored(const std::string &letters)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_ignored = letters;
}

bool SimSerialDeviceConfig::refuses(char letter) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_refused.find(letter) != std::string::npos;
}

bool SimSerialDeviceConfig::ignores(char letter) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_ignored.find(letter) != std::string::npos;
}

void SimSerialDeviceConfig::clearWritten()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_written.clear();
}

void SimSerialDeviceConfig::appendWritten(const char *bytes, int count)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const size_t room = m_written.size() < 65536 ? 65536 - m_written.size() : 0;
    m_written.append(bytes, qMin(size_t(count), room));
}

std::string SimSerialDeviceConfig::written() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_written;
}

ZorSimSerialAdapter::ZorSimSerialAdapter(std::shared_ptr<SimSerialDeviceConfig> config)
    : m_config(std::move(config))
{
}

ZorSimSerialAdapter::~ZorSimSerialAdapter()
{
    shutdown();
}

bool ZorSimSerialAdapter::start()
{
    m_bus.setArrivalNotifier([this] { takeFramesFromBus(); });
    if (!m_bus.connectToGateway())
        return false;
    m_worker = std::thread(&ZorSimSerialAdapter::worker, this);
    return true;
}

void ZorSimSerialAdapter::shutdown()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    // Ends a gateway command the worker may be waiting for, and the bus
    // thread (no notifier call after this).
    m_bus.disconnectFromGateway();
    if (m_worker.joinable())
        m_worker.join();
    m_bus.setArrivalNotifier(nullptr);
    setEventHandler(0, nullptr, nullptr);
}

bool ZorSimSerialAdapter::write(const char *bytes, int count)
{
    if (m_config->failWrites.load())
        return false;
    m_config->appendWritten(bytes, count);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (int i = 0; i < count; ++i) {
            const char c = bytes[i];
            if (c == CR) {
                m_commands.push_back(m_partialLine);
                m_partialLine.clear();
            } else if (c != '\n') {
                m_partialLine.append(c);
                if (m_partialLine.size() > 256) // no CR in sight: garbage
                    m_partialLine.clear();
            }
        }
    }
    m_changed.notify_all();
    return true;
}

int ZorSimSerialAdapter::read(char *buffer, int max, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    auto ready = [&] { return m_toHost.size() >= max || m_stop; };
    if (timeoutMs < 0)
        m_changed.wait(lock, ready);
    else if (timeoutMs > 0)
        m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    const int n = qMin(max, m_toHost.size());
    memcpy(buffer, m_toHost.constData(), size_t(n));
    m_toHost.remove(0, n);
    return n;
}

int ZorSimSerialAdapter::queued() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_toHost.size();
}

void ZorSimSerialAdapter::purge(bool rx, bool tx)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (rx)
        m_toHost.clear();
    if (tx)
        m_partialLine.clear();
}

void ZorSimSerialAdapter::setEventHandler(uint32_t mask, void (*notify)(void *, uint32_t), void *context)
{
    {
        std::lock_guard<std::mutex> guard(m_handlerLock);
        m_eventMask = notify ? mask : 0;
        m_notify = notify;
        m_notifyContext = context;
    }
    if (queued() > 0)
        notifyHost();
}

void ZorSimSerialAdapter::notifyHost()
{
    std::lock_guard<std::mutex> guard(m_handlerLock);
    if (m_notify && (m_eventMask & FT_EVENT_RXCHAR))
        m_notify(m_notifyContext, FT_EVENT_RXCHAR);
}

// Appends what the adapter sends, as far as the device is still answering.
void ZorSimSerialAdapter::emitToHost(const QByteArray &bytes)
{
    int n = bytes.size();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        int left = m_config->cutLeft.load();
        if (left >= 0) {
            n = qMin(n, left);
            m_config->cutLeft.store(left - n);
        }
        n = qMin(n, ReceiveBufferLimit - m_toHost.size());
        if (n <= 0)
            return;
        m_toHost.append(bytes.constData(), n);
    }
    m_changed.notify_all();
    notifyHost();
}

void ZorSimSerialAdapter::takeFramesFromBus()
{
    ZorSimBusFrame frame;
    QByteArray text;
    while (m_bus.tryReceive(&frame)) {
        text += frame.toLine();
        if (m_stamps.load()) {
            char stamp[8];
            std::snprintf(stamp, sizeof stamp, "%04x", unsigned((frame.stampUs / 1000) % 65536));
            text += stamp;
        }
        text += CR;
    }
    if (!text.isEmpty())
        emitToHost(text);
}

void ZorSimSerialAdapter::worker()
{
    for (;;) {
        QByteArray line;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait(lock, [this] { return m_stop || !m_commands.empty(); });
            if (m_stop)
                return;
            line = m_commands.front();
            m_commands.pop_front();
        }
        execute(line);
    }
}

void ZorSimSerialAdapter::execute(const QByteArray &line)
{
    const char c = line.isEmpty() ? '\0' : line.at(0);
    if (c != '\0' && m_config->ignores(c))
        return;
    const QByteArray refused(1, BEL);
    const QByteArray done(1, CR);
    if (c != '\0' && m_config->refuses(c)) {
        emitToHost(refused);
        return;
    }
    switch (c) {
    case '\0':
        emitToHost(done);
        return;
    case 'S':
        if (line.size() != 2 || line.at(1) < '0' || line.at(1) > '8' || m_open.load()) {
            emitToHost(refused);
            return;
        }
        m_rateCode = line.at(1) - '0';
        emitToHost(done);
        return;
    case 'O':
    case 'L':
        if (line.size() != 1 || m_rateCode < 0 || m_open.load()
            || !m_bus.open(BitRates[m_rateCode], CommandTimeoutMs)) {
            emitToHost(refused);
            return;
        }
        m_open = true;
        emitToHost(done);
        return;
    case 'C':
        if (line.size() != 1) {
            emitToHost(refused);
            return;
        }
        if (m_open.load())
            m_bus.close(CommandTimeoutMs);
        m_open = false;
        emitToHost(done);
        return;
    case 'V':
        emitToHost(line.size() == 1 ? QByteArray("V0101\r") : refused);
        return;
    case 'N': {
        if (line.size() != 1) {
            emitToHost(refused);
            return;
        }
        QByteArray serial = QByteArray::fromStdString(m_config->serialNumber).right(4);
        serial = serial.rightJustified(4, '0');
        emitToHost("N" + serial + CR);
        return;
    }
    case 'F': {
        if (line.size() != 1) {
            emitToHost(refused);
            return;
        }
        const int flags = m_open.load() ? m_bus.readStatusFlags(CommandTimeoutMs) : 0;
        char text[16];
        std::snprintf(text, sizeof text, "F%02X\r", unsigned(flags < 0 ? 0 : flags & 0xFF));
        emitToHost(text);
        return;
    }
    case 'Z':
        if (line.size() != 2 || (line.at(1) != '0' && line.at(1) != '1')) {
            emitToHost(refused);
            return;
        }
        m_stamps = line.at(1) == '1';
        emitToHost(done);
        return;
    case 't':
    case 'T':
    case 'r':
    case 'R': {
        ZorSimBusFrame frame;
        int stamp = -1;
        if (!m_open.load() || !ZorSimBusFrame::fromLine(line, &frame, &stamp) || stamp >= 0
            || !m_bus.send(frame)) {
            emitToHost(refused);
            return;
        }
        emitToHost(frame.extended ? QByteArray("Z\r") : QByteArray("z\r"));
        return;
    }
    default:
        emitToHost(refused);
        return;
    }
}
