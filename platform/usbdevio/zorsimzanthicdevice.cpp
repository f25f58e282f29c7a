#include "zorsimzanthicdevice.h"

#include "usbdevio.h"

#include <algorithm>
#include <cstring>

namespace {

const int BitRates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

void SimUsbRequest::completeTransfer(const QByteArray &data, uint32_t usbStatus)
{
    std::lock_guard<std::mutex> guard(lock);
    if (done || cancelled)
        return;
    UsbDevTransferHeader header{};
    std::memcpy(&header, out, sizeof header);
    header.usbStatus = usbStatus;
    header.systemStatus = 0;
    const uint32_t room = outSize - uint32_t(sizeof header);
    const uint32_t n = std::min<uint32_t>({uint32_t(data.size()), room, header.length});
    std::memcpy(out + sizeof header, data.constData(), n);
    std::memcpy(out, &header, sizeof header);
    bytes = uint32_t(sizeof header) + n;
    done = true;
    completed.notify_all();
}

void SimUsbRequest::complete(const QByteArray &data)
{
    std::lock_guard<std::mutex> guard(lock);
    if (done || cancelled)
        return;
    const uint32_t n = std::min<uint32_t>(uint32_t(data.size()), outSize);
    if (n)
        std::memcpy(out, data.constData(), n);
    bytes = n;
    done = true;
    completed.notify_all();
}

ZorSimZanthicDevice::~ZorSimZanthicDevice()
{
    m_bus.disconnectFromGateway();
}

QByteArray ZorSimZanthicDevice::deviceDescriptor()
{
    // USB 2.0, vendor-specific class, 64-byte control endpoint, one
    // configuration.
    return bytes({18, 1, 0x00, 0x02, 0xFF, 0x00, 0x00, 64, 0x34, 0x12, 0x01, 0x00, 0x00, 0x01, 1, 2, 3, 1});
}

QByteArray ZorSimZanthicDevice::configDescriptor()
{
    QByteArray d = bytes({9, 2, 0, 0, 1, 1, 0, 0x80, 50,              // configuration
                          9, 4, 0, 0, 3, 0xFF, 0x00, 0x00, 0,        // interface, 3 endpoints
                          7, 5, EndpointOut, 0x02, 64, 0, 0,         // bulk OUT, 64 bytes
                          7, 5, EndpointIn, 0x02, 64, 0, 0,          // bulk IN, 64 bytes
                          7, 5, EndpointInterrupt, 0x03, 8, 0x10, 1}); // interrupt IN, 8 x 3
    d[2] = char(d.size());
    return d;
}

void ZorSimZanthicDevice::handleRequest(const QByteArray &request)
{
    std::lock_guard<std::mutex> one(m_requestLock);
    const bool poll = request.size() >= 2 && quint8(request.at(1)) == 20;
    if (!poll) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_log.size() < 65536)
            m_log += request.toHex().toStdString() + "\n";
    }
    const QByteArray reply = answer(request);
    if (muted.load())
        return;
    std::shared_ptr<SimUsbRequest> waiting;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_pendingIn.empty()) {
            m_answers.push_back(reply);
            return;
        }
        waiting = m_pendingIn.front();
        m_pendingIn.pop_front();
    }
    waiting->completeTransfer(reply, 0);
}

QByteArray ZorSimZanthicDevice::answer(const QByteArray &request)
{
    if (request.size() < 2 || request.at(0) != 0)
        return bytes({0});
    switch (quint8(request.at(1))) {
    case 2: {
        QByteArray a = bytes({3, 1, 0, 2});
        a += "Zanthic simulated CAN";
        a += bytes({0, 2, 0x12, 0x34});
        return a;
    }
    case 4:
        stopChannel();
        return bytes({5});
    case 6: {
        const int code = request.size() >= 3 ? quint8(request.at(2)) : -1;
        stopChannel();
        if (code < 0 || code > 8 || !m_bus.connectToGateway() || !m_bus.open(BitRates[code])) {
            m_bus.disconnectFromGateway();
            return bytes({0});
        }
        m_started = true;
        return bytes({7});
    }
    case 16: {
        const QByteArray refused = bytes({17, 0, 0, 0});
        if (request.size() < 8)
            return refused;
        const quint32 word = (quint32(quint8(request.at(2))) << 24) | (quint32(quint8(request.at(3))) << 16)
            | (quint32(quint8(request.at(4))) << 8) | quint32(quint8(request.at(5)));
        ZorSimBusFrame frame;
        frame.extended = word & 0x80000000u;
        frame.remote = word & 0x40000000u;
        frame.id = word & (frame.extended ? 0x1FFFFFFFu : 0x7FFu);
        const int len = quint8(request.at(7));
        if (len > 8 || request.size() < 8 + len)
            return refused;
        frame.len = quint8(len);
        if (!frame.remote)
            std::memcpy(frame.data, request.constData() + 8, size_t(len));
        if (!m_started.load() || refuseTransmit.load() || !m_bus.send(frame))
            return refused;
        return bytes({17, 1, 0, 0});
    }
    case 20:
        ++receivePolls;
        return receiveAnswer();
    default:
        return bytes({0});
    }
}

void ZorSimZanthicDevice::queueReceiveAnswer(const QByteArray &answer)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_rawReceiveAnswers.push_back(answer);
}

QByteArray ZorSimZanthicDevice::receiveAnswer()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_rawReceiveAnswers.empty()) {
            const QByteArray raw = m_rawReceiveAnswers.front();
            m_rawReceiveAnswers.pop_front();
            return raw;
        }
    }
    ZorSimBusFrame f;
    if (!m_started.load() || m_bus.receive(&f, 1) != 1)
        return bytes({21, 0});
    QByteArray a = bytes({21, 1, 0, 7 + f.len, f.len, (f.extended ? 0x80 : 0) | (f.remote ? 0x40 : 0),
                          int(f.id >> 24) & 0xFF, int(f.id >> 16) & 0xFF, int(f.id >> 8) & 0xFF,
                          int(f.id) & 0xFF});
    if (!f.remote)
        a.append(reinterpret_cast<const char *>(f.data), f.len);
    return a;
}

void ZorSimZanthicDevice::closeChannel()
{
    std::lock_guard<std::mutex> one(m_requestLock);
    stopChannel();
}

void ZorSimZanthicDevice::stopChannel()
{
    if (m_started.exchange(false))
        m_bus.close(1000);
    m_bus.disconnectFromGateway();
}

void ZorSimZanthicDevice::startIn(const std::shared_ptr<SimUsbRequest> &request)
{
    QByteArray reply;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_answers.empty()) {
            m_pendingIn.push_back(request);
            return;
        }
        reply = m_answers.front();
        m_answers.pop_front();
    }
    request->completeTransfer(reply, 0);
}

void ZorSimZanthicDevice::abortPipe(uint8_t endpoint)
{
    std::deque<std::shared_ptr<SimUsbRequest>> aborted;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto keep = std::stable_partition(m_pendingIn.begin(), m_pendingIn.end(),
                                          [endpoint](const std::shared_ptr<SimUsbRequest> &r) {
                                              return r->endpoint != endpoint;
                                          });
        aborted.assign(keep, m_pendingIn.end());
        m_pendingIn.erase(keep, m_pendingIn.end());
    }
    for (auto &r : aborted)
        r->completeTransfer(QByteArray(), USBDEV_USB_STATUS_CANCELED);
}

void ZorSimZanthicDevice::forget(const SimUsbRequest *request)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_pendingIn.erase(std::remove_if(m_pendingIn.begin(), m_pendingIn.end(),
                                     [request](const std::shared_ptr<SimUsbRequest> &r) {
                                         return r.get() == request;
                                     }),
                      m_pendingIn.end());
}

void ZorSimZanthicDevice::clearLog()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_log.clear();
    m_answers.clear();
    m_rawReceiveAnswers.clear();
}

std::string ZorSimZanthicDevice::log() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_log;
}

int ZorSimZanthicDevice::pendingTransfers() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return int(m_pendingIn.size());
}
