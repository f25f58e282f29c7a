#include "simhidadapter.h"

#include <QDeadlineTimer>
#include <chrono>
#include <cstring>

namespace {

const char CR = '\r';
const char BEL = 0x07;
const quint16 vendorId = 0x04D8;
const int bitRates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000};
const int reportSize = 65;
const int inputReportSize = 64;
const int textPerReport = 62;

} // namespace

SimHidAdapter::SimHidAdapter(quint16 productId)
    : m_productId(productId)
{
    m_bus.setEchoes(true);
    m_bus.setArrivalNotifier([this] { takeFramesFromBus(); });
}

SimHidAdapter::~SimHidAdapter()
{
    m_bus.setArrivalNotifier(nullptr);
    m_bus.disconnectFromGateway();
    std::lock_guard<std::mutex> guard(m_lock);
    for (Session *s : m_sessions)
        delete s;
}

ZorHidApi::Device SimHidAdapter::open(quint16 vendor, quint16 product)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_plugged || vendor != vendorId || product != m_productId)
            return nullptr;
    }
    // The CAN side: the gateway, when there is one.
    if (ZorSimBusClient::gatewayConfigured())
        m_bus.connectToGateway();
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_plugged)
        return nullptr;
    Session *session = new Session;
    m_sessions.insert(session);
    ++m_opens;
    return session;
}

int SimHidAdapter::setNonblocking(Device, int)
{
    return 0;
}

bool SimHidAdapter::sessionAlive(Device device) const
{
    Session *s = static_cast<Session *>(device);
    return m_sessions.count(s) && s->alive;
}

int SimHidAdapter::write(Device device, const quint8 *data, size_t length)
{
    std::lock_guard<std::mutex> commandGuard(m_commandLock);
    QList<QByteArray> commands;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!sessionAlive(device))
            return -1;
        const QByteArray report(reinterpret_cast<const char *>(data), int(length));
        m_reports << report;
        if (length != size_t(reportSize) || data[1] != 0x01 || data[2] > textPerReport)
            return int(length); // not an adapter report: taken, ignored
        m_partialCommand.append(report.mid(3, data[2]));
        int cr;
        while ((cr = m_partialCommand.indexOf(CR)) >= 0) {
            commands << m_partialCommand.left(cr);
            m_partialCommand.remove(0, cr + 1);
        }
    }
    for (const QByteArray &command : commands)
        execute(command);
    return int(length);
}

void SimHidAdapter::answer(const QByteArray &text)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_silent || !m_plugged)
        return;
    m_toHost.append(text);
    m_changed.notify_all();
}

void SimHidAdapter::execute(const QByteArray &command)
{
    const char letter = command.isEmpty() ? 0 : command.at(0);
    switch (letter) {
    case 0:
        answer(QByteArray(1, CR));
        return;
    case 'S': {
        const int code = command.size() == 2 ? command.at(1) - '0' : -1;
        std::lock_guard<std::mutex> guard(m_lock);
        if (code < 0 || code > 8 || m_onBus) {
            m_toHost.append(m_silent ? QByteArray() : QByteArray(1, BEL));
        } else {
            m_rateCode = code;
            m_toHost.append(m_silent ? QByteArray() : QByteArray(1, CR));
        }
        m_changed.notify_all();
        return;
    }
    case 'O': {
        int code;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            code = m_rateCode;
        }
        bool open = code >= 0 && m_bus.isConnected() && m_bus.open(bitRates[code]);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_onBus = open;
        }
        answer(QByteArray(1, open ? CR : BEL));
        return;
    }
    case 'C': {
        bool wasOn;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            wasOn = m_onBus;
            m_onBus = false;
        }
        if (wasOn)
            m_bus.close();
        answer(QByteArray(1, CR));
        return;
    }
    case 'V':
        answer("V" + version().toLatin1() + CR);
        return;
    case 'N':
        answer(QByteArrayLiteral("NSH01\r"));
        return;
    case 'F': {
        const int gateway = m_bus.isConnected() ? m_bus.readStatusFlags() : 0;
        quint8 flags;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            flags = quint8((gateway > 0 ? gateway : 0) | m_statusFlags);
        }
        answer("F" + QByteArray::number(flags, 16).rightJustified(2, '0') + CR);
        return;
    }
    case 'Z':
        if (command == "Z0" || command == "Z1") {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_stamps = command == "Z1";
            }
            answer(QByteArray(1, CR));
        } else {
            answer(QByteArray(1, BEL));
        }
        return;
    case 'Q': {
        answer(QByteArray(1, CR));
        std::function<void()> handler;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            unplugLocked();
            handler = m_bootloaderHandler;
        }
        m_bus.close();
        if (handler)
            handler();
        return;
    }
    case 't':
    case 'T':
    case 'r':
    case 'R': {
        ZorSimBusFrame frame;
        bool onBus;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            onBus = m_onBus;
        }
        if (!onBus || !ZorSimBusFrame::fromLine(command, &frame) || !m_bus.send(frame))
            answer(QByteArray(1, BEL));
        return;
    }
    default:
        answer(QByteArray(1, BEL));
        return;
    }
}

void SimHidAdapter::takeFramesFromBus()
{
    ZorSimBusFrame frame;
    while (m_bus.tryReceive(&frame)) {
        QByteArray line;
        if (frame.echo)
            line.append('e');
        line.append(frame.toLine());
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_onBus || !m_plugged)
            continue;
        if (m_stamps) {
            const quint16 ms = quint16(frame.stampUs / 1000);
            line.append(QByteArray::number(ms, 16).rightJustified(4, '0'));
        }
        line.append(CR);
        m_toHost.append(line);
        m_changed.notify_all();
    }
}

int SimHidAdapter::readTimeout(Device device, quint8 *data, size_t length, int ms)
{
    std::unique_lock<std::mutex> lock(m_lock);
    const auto ready = [&] {
        return !sessionAlive(device) || !m_rawReports.empty() || !m_toHost.isEmpty();
    };
    if (ms < 0)
        m_changed.wait(lock, ready);
    else
        m_changed.wait_for(lock, std::chrono::milliseconds(ms), ready);
    if (!sessionAlive(device))
        return -1;
    if (!m_rawReports.empty()) {
        const QByteArray raw = m_rawReports.front();
        m_rawReports.pop_front();
        const int n = qMin(raw.size(), int(length));
        std::memcpy(data, raw.constData(), size_t(n));
        return n;
    }
    if (m_toHost.isEmpty())
        return 0;
    quint8 report[reportSize] = {};
    quint8 *body = report + 1; // report[0] is the report id when it is kept
    const int n = qMin(textPerReport, m_toHost.size());
    body[0] = 0x01;
    body[1] = quint8(n);
    std::memcpy(body + 2, m_toHost.constData(), size_t(n));
    m_toHost.remove(0, n);
    const quint8 *from = m_readsWithReportId ? report : body;
    const int size = m_readsWithReportId ? reportSize : inputReportSize;
    const int copied = qMin(size, int(length));
    std::memcpy(data, from, size_t(copied));
    return copied;
}

void SimHidAdapter::close(Device device)
{
    std::lock_guard<std::mutex> guard(m_lock);
    Session *s = static_cast<Session *>(device);
    if (m_sessions.erase(s))
        delete s;
}

QString SimHidAdapter::error(Device device)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return sessionAlive(device) ? QString() : QStringLiteral("device disconnected");
}

void SimHidAdapter::unplugLocked()
{
    m_plugged = false;
    for (Session *s : m_sessions)
        s->alive = false;
    m_toHost.clear();
    m_rawReports.clear();
    m_partialCommand.clear();
    m_rateCode = -1;
    m_onBus = false;
    m_stamps = false;
    m_changed.notify_all();
}

void SimHidAdapter::setPlugged(bool plugged)
{
    bool wasOn = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (plugged) {
            m_plugged = true;
            return;
        }
        wasOn = m_onBus;
        unplugLocked();
    }
    if (wasOn)
        m_bus.close();
}

bool SimHidAdapter::isPlugged() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_plugged;
}

void SimHidAdapter::setProductId(quint16 productId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_productId = productId;
}

void SimHidAdapter::setVersion(const QString &version)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_version = version;
}

QString SimHidAdapter::version() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_version;
}

void SimHidAdapter::setStatusFlags(quint8 flags)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_statusFlags = flags;
}

void SimHidAdapter::setSilent(bool silent)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_silent = silent;
}

void SimHidAdapter::setReadsWithReportId(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_readsWithReportId = on;
}

void SimHidAdapter::sendText(const QByteArray &text)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_toHost.append(text);
    m_changed.notify_all();
}

void SimHidAdapter::sendReport(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_rawReports.push_back(bytes);
    m_changed.notify_all();
}

void SimHidAdapter::setBootloaderHandler(const std::function<void()> &handler)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_bootloaderHandler = handler;
}

QList<QByteArray> SimHidAdapter::reports() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_reports;
}

QByteArray SimHidAdapter::writtenText() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    QByteArray text;
    for (const QByteArray &r : m_reports) {
        if (r.size() == reportSize && quint8(r.at(2)) <= textPerReport)
            text.append(r.mid(3, quint8(r.at(2))));
    }
    return text;
}

void SimHidAdapter::clearWritten()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_reports.clear();
}

int SimHidAdapter::opens() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_opens;
}

int SimHidAdapter::openHandles() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return int(m_sessions.size());
}

bool SimHidAdapter::isOnBus() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_onBus;
}
