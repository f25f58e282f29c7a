// A USB device of one device-interface class, as the Zanthic plug-in's USB
// access layer sees it: found through the device-interface enumeration,
// opened by its device path for asynchronous requests, its device and
// configuration descriptors read through the driver, and one endpoint object
// per endpoint of its first interface (a control endpoint for endpoint 0,
// bulk, isochronous or interrupt endpoints by each descriptor's transfer
// type). No device-change notifications are used.
#pragma once

#include "ccyusbendpoint.h"
#include "usbdevio.h"

#include <memory>
#include <string>
#include <vector>

class CCyUSBDevice
{
public:
    explicit CCyUSBDevice(const std::string &interfaceClass) : m_interfaceClass(interfaceClass) {}
    ~CCyUSBDevice() { close(); }
    CCyUSBDevice(const CCyUSBDevice &) = delete;
    CCyUSBDevice &operator=(const CCyUSBDevice &) = delete;

    // Opens member `index` of the present devices of the class; false when
    // there is none or its descriptors cannot be read.
    bool open(int index);
    void close();
    bool isOpen() const { return m_handle != nullptr; }

    uint16_t vendorId() const { return m_vendorId; }
    uint16_t productId() const { return m_productId; }
    int endPointCount() const { return int(m_endPoints.size()); }
    CCyUSBEndPoint *endPoint(int i) const { return m_endPoints[size_t(i)].get(); }
    CCyControlEndPoint *controlEndPoint() const { return m_control; }
    // The first bulk IN and bulk OUT endpoints; null when the interface has none.
    CCyBulkEndPoint *bulkInEndPoint() const { return m_bulkIn; }
    CCyBulkEndPoint *bulkOutEndPoint() const { return m_bulkOut; }

private:
    std::vector<uint8_t> descriptor(uint32_t code);

    std::string m_interfaceClass;
    USBDEV_HANDLE m_handle = nullptr;
    uint16_t m_vendorId = 0;
    uint16_t m_productId = 0;
    std::vector<std::unique_ptr<CCyUSBEndPoint>> m_endPoints;
    CCyControlEndPoint *m_control = nullptr;
    CCyBulkEndPoint *m_bulkIn = nullptr;
    CCyBulkEndPoint *m_bulkOut = nullptr;
};
