#include "zanthicprotocol.h"

#include "ccyusbdevice.h"

#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct DeviceTable
{
    std::mutex lock; // the table itself
    std::unique_ptr<CCyUSBDevice> devices[ZanthicProtocol::DeviceCount];
    std::mutex exchange[ZanthicProtocol::DeviceCount]; // one request at a time per device
};

DeviceTable &table()
{
    static DeviceTable t;
    return t;
}

bool isAnswerCode(uint8_t code)
{
    return code == 3 || code == 5 || code == 7 || code == 17 || code == 21;
}

// A late answer to an earlier request is skipped at most this often.
const int StaleAnswersSkipped = 2;

} // namespace

int ZanthicProtocol::getDevice(int number, CCyUSBDevice **device)
{
    *device = nullptr;
    if (number < 0 || number >= DeviceCount)
        return OutOfRange;
    DeviceTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    std::unique_ptr<CCyUSBDevice> &d = t.devices[number];
    if (!d)
        d.reset(new CCyUSBDevice(interfaceClass()));
    if (!d->isOpen() && !d->open(number))
        return NotOpened;
    *device = d.get();
    return Done;
}

void ZanthicProtocol::prepare()
{
    table();
}

int ZanthicProtocol::request(int number, const uint8_t *bytes, int length, uint8_t *answer, int *answerLength,
                             int answerTimeoutMs, const KeepGoing &keepGoing)
{
    *answerLength = 0;
    CCyUSBDevice *device = nullptr;
    const int got = getDevice(number, &device);
    if (got != Done)
        return got;
    CCyBulkEndPoint *out = device->bulkOutEndPoint();
    CCyBulkEndPoint *in = device->bulkInEndPoint();
    if (!out || !in)
        return UnexpectedAnswer;
    std::lock_guard<std::mutex> one(table().exchange[number]);
    int sent = length;
    if (!out->xferData(const_cast<uint8_t *>(bytes), sent, keepGoing) || sent != length)
        return UnexpectedAnswer;
    const int defaultTimeout = in->timeout();
    if (answerTimeoutMs >= 0)
        in->setTimeout(answerTimeoutMs);
    const uint8_t expected = uint8_t(bytes[1] + 1);
    int result = UnexpectedAnswer;
    for (int attempt = 0; attempt <= StaleAnswersSkipped; ++attempt) {
        int n = MaxAnswer;
        if (!in->xferData(answer, n, keepGoing) || n < 1)
            break;
        if (answer[0] == expected) {
            *answerLength = n;
            result = Done;
            break;
        }
        if (!isAnswerCode(answer[0]))
            break; // not an answer of this protocol at all
    }
    in->setTimeout(defaultTimeout);
    return result;
}

int ZanthicProtocol::information(int number)
{
    const uint8_t req[2] = {0, 2};
    uint8_t answer[MaxAnswer];
    int n = 0;
    return request(number, req, 2, answer, &n);
}

int ZanthicProtocol::reset(int number, int answerTimeoutMs)
{
    const uint8_t req[2] = {0, 4};
    uint8_t answer[MaxAnswer];
    int n = 0;
    return request(number, req, 2, answer, &n, answerTimeoutMs);
}

int ZanthicProtocol::bitRateAndStart(int number, int kbits)
{
    static const int rates[] = {10, 20, 50, 100, 125, 250, 500, 800, 1000};
    int code = -1;
    for (int i = 0; i < 9; ++i) {
        if (rates[i] == kbits)
            code = i;
    }
    if (code < 0)
        return OutOfRange;
    const uint8_t req[3] = {0, 6, uint8_t(code)};
    uint8_t answer[MaxAnswer];
    int n = 0;
    return request(number, req, 3, answer, &n);
}

int ZanthicProtocol::transmit(int number, int32_t id, int32_t flags, const uint8_t *data, int32_t length)
{
    if (length < 0 || length > 8)
        return OutOfRange;
    const bool extended = flags & BUSLINK_FLAG_EXTENDED;
    const bool remote = flags & BUSLINK_FLAG_REMOTE;
    uint32_t word = uint32_t(id) & (extended ? 0x1FFFFFFFu : 0x7FFu);
    if (extended)
        word |= 0x80000000u;
    if (remote)
        word |= 0x40000000u;
    uint8_t req[16] = {0, 16, uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word), 0,
                       uint8_t(length)};
    if (!remote && data && length > 0)
        std::memcpy(req + 8, data, size_t(length));
    uint8_t answer[MaxAnswer];
    int n = 0;
    const int result = request(number, req, 8 + length, answer, &n);
    if (result != Done)
        return result;
    return n >= 2 && answer[1] == 1 ? Done : Nothing;
}

int ZanthicProtocol::receive(int number, CanPortFrame *frame, int answerTimeoutMs, const KeepGoing &keepGoing)
{
    const uint8_t req[2] = {0, 20};
    uint8_t a[MaxAnswer];
    int n = 0;
    const int result = request(number, req, 2, a, &n, answerTimeoutMs, keepGoing);
    if (result != Done)
        return result;
    if (n < 2 || a[1] == 0)
        return Nothing;
    if (n < 10)
        return Nothing; // cut short: dropped
    const int32_t len = a[4] & 0x0F;
    const bool extended = a[5] & 0x80;
    const bool remote = a[5] & 0x40;
    if (len > 8 || (!remote && n < 10 + len))
        return Nothing; // not a CAN frame: dropped
    CanPortFrame f{};
    f.len = len;
    f.flags = (extended ? BUSLINK_FLAG_EXTENDED : 0) | (remote ? BUSLINK_FLAG_REMOTE : 0);
    const uint32_t id = (uint32_t(a[6]) << 24) | (uint32_t(a[7]) << 16) | (uint32_t(a[8]) << 8) | a[9];
    f.id = int32_t(id & (extended ? 0x1FFFFFFFu : 0x7FFu));
    if (!remote)
        std::memcpy(f.data, a + 10, size_t(len));
    *frame = f;
    return Done;
}
