#include "ccyusbdevice.h"

namespace {

const int DescriptorWaitMs = 1000;
const uint8_t DescriptorInterface = 4;
const uint8_t DescriptorEndpoint = 5;

} // namespace

std::vector<uint8_t> CCyUSBDevice::descriptor(uint32_t code)
{
    std::vector<uint8_t> bytes(512);
    USBDEV_REQUEST request = nullptr;
    if (UsbDevIoControl(m_handle, code, nullptr, 0, bytes.data(), uint32_t(bytes.size()), &request) != USBDEV_OK)
        return {};
    uint32_t got = 0;
    const bool done = UsbDevWaitRequest(request, DescriptorWaitMs, &got) == USBDEV_OK;
    UsbDevReleaseRequest(request);
    bytes.resize(done ? got : 0);
    return bytes;
}

bool CCyUSBDevice::open(int index)
{
    close();
    char path[512];
    if (UsbDevGetInterfacePath(m_interfaceClass.c_str(), index, path, int32_t(sizeof path)) != USBDEV_OK)
        return false;
    m_handle = UsbDevOpen(path);
    if (!m_handle)
        return false;

    const std::vector<uint8_t> device = descriptor(USBDEV_IOCTL_GET_DEVICE_DESCRIPTOR);
    const std::vector<uint8_t> config = descriptor(USBDEV_IOCTL_GET_CONFIG_DESCRIPTOR);
    if (device.size() < 18 || config.size() < 9) {
        close();
        return false;
    }
    m_vendorId = uint16_t(device[8] | (device[9] << 8));
    m_productId = uint16_t(device[10] | (device[11] << 8));
    auto control = std::make_unique<CCyControlEndPoint>(m_handle, nullptr, device[7]);
    m_control = control.get();
    m_endPoints.push_back(std::move(control));

    // The endpoints of the first interface, in descriptor order.
    bool inFirstInterface = false;
    for (size_t at = 0; at + 2 <= config.size();) {
        const size_t length = config[at];
        if (length < 2 || at + length > config.size())
            break;
        const uint8_t type = config[at + 1];
        if (type == DescriptorInterface) {
            if (inFirstInterface)
                break;
            inFirstInterface = true;
        } else if (type == DescriptorEndpoint && inFirstInterface && length >= 7) {
            const uint8_t *d = &config[at];
            std::unique_ptr<CCyUSBEndPoint> ep;
            switch (d[3] & 3) {
            case CCyUSBEndPoint::Bulk: {
                auto bulk = std::make_unique<CCyBulkEndPoint>(m_handle, d);
                if (bulk->isIn() && !m_bulkIn)
                    m_bulkIn = bulk.get();
                else if (!bulk->isIn() && !m_bulkOut)
                    m_bulkOut = bulk.get();
                ep = std::move(bulk);
                break;
            }
            case CCyUSBEndPoint::Isochronous:
                ep = std::make_unique<CCyIsocEndPoint>(m_handle, d);
                break;
            case CCyUSBEndPoint::Interrupt:
                ep = std::make_unique<CCyInterruptEndPoint>(m_handle, d);
                break;
            default:
                ep = std::make_unique<CCyControlEndPoint>(m_handle, d);
                break;
            }
            m_endPoints.push_back(std::move(ep));
        }
        at += length;
    }
    return true;
}

void CCyUSBDevice::close()
{
    m_endPoints.clear();
    m_control = nullptr;
    m_bulkIn = m_bulkOut = nullptr;
    if (m_handle)
        UsbDevClose(m_handle);
    m_handle = nullptr;
}
