#include "ccyusbendpoint.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// How long the caller sleeps in one go while a transfer is under way; also
// how soon a caller asked to stop notices it.
const int WaitSliceMs = 20;
// How long an aborted request may take to end.
const int AbortWaitMs = 1000;

} // namespace

CCyUSBEndPoint::CCyUSBEndPoint(USBDEV_HANDLE device, const uint8_t *descriptor, int controlPacketSize)
    : m_device(device)
{
    if (!descriptor) {
        m_maxPacketSize = controlPacketSize;
        return;
    }
    m_address = descriptor[2];
    m_attributes = descriptor[3];
    const int size = descriptor[4] | (descriptor[5] << 8);
    m_maxPacketSize = (size & 0x7FF) * (((size >> 11) & 3) + 1);
    m_interval = descriptor[6];
}

bool CCyUSBEndPoint::abort()
{
    USBDEV_REQUEST request = nullptr;
    if (UsbDevIoControl(m_device, USBDEV_IOCTL_ABORT_PIPE, &m_address, 1, nullptr, 0, &request) != USBDEV_OK)
        return false;
    uint32_t bytes = 0;
    const bool done = UsbDevWaitRequest(request, AbortWaitMs, &bytes) == USBDEV_OK;
    UsbDevReleaseRequest(request);
    return done;
}

bool CCyUSBEndPoint::xferData(uint8_t *buffer, int &len, const std::function<bool()> &keepGoing)
{
    const int count = len;
    len = 0;
    if (count < 0 || (count > 0 && !buffer))
        return false;
    UsbDevTransferHeader header{};
    header.endpoint = m_address;
    header.length = uint32_t(count);
    const size_t headerSize = sizeof header;
    std::vector<uint8_t> in(headerSize + (isIn() ? 0 : size_t(count)));
    std::vector<uint8_t> out(headerSize + (isIn() ? size_t(count) : 0));
    std::memcpy(in.data(), &header, headerSize);
    if (!isIn() && count > 0)
        std::memcpy(in.data() + headerSize, buffer, size_t(count));

    USBDEV_REQUEST request = nullptr;
    if (UsbDevIoControl(m_device, USBDEV_IOCTL_TRANSFER, in.data(), uint32_t(in.size()), out.data(),
                        uint32_t(out.size()), &request)
        != USBDEV_OK)
        return false;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
    uint32_t bytes = 0;
    int32_t result;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        result = UsbDevWaitRequest(request, int32_t(std::max<long long>(0, std::min<long long>(left, WaitSliceMs))),
                                   &bytes);
        if (result != USBDEV_PENDING)
            break;
        if (left <= 0 || (keepGoing && !keepGoing()))
            break;
    }
    if (result == USBDEV_PENDING) {
        // Given up: abort the pipe and let the request end before its
        // buffers go away.
        abort();
        UsbDevWaitRequest(request, AbortWaitMs, &bytes);
        UsbDevReleaseRequest(request);
        return false;
    }
    UsbDevReleaseRequest(request);
    if (result != USBDEV_OK || bytes < headerSize)
        return false;
    std::memcpy(&header, out.data(), headerSize);
    if (header.usbStatus != 0 || header.systemStatus != 0)
        return false;
    const int moved = int(std::min<uint32_t>(bytes - uint32_t(headerSize), uint32_t(count)));
    if (isIn() && moved > 0)
        std::memcpy(buffer, out.data() + headerSize, size_t(moved));
    len = moved;
    return true;
}
