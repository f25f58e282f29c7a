// One endpoint of an open USB device (see CCyUSBDevice): its address,
// attributes, interval, direction and maximum packet size from the endpoint
// descriptor, and transfers through the device's I/O-control requests.
//
// A transfer is one request carrying a transfer header and, for OUT, the
// data. The caller waits for its completion up to the endpoint's time-out
// (10000 ms), in short slices so that a caller asked to stop (keepGoing
// returns false) gives up at once. A transfer given up is aborted on the
// pipe, and the aborted request is waited for before its buffers go; the
// transfer then fails. It succeeds when the request completed with neither
// a USB nor a system status; the byte count is what the request reports less
// the header.
//
// The four kinds differ only in their transfer type; the Zanthic adapter's
// protocol runs over the first bulk IN and the first bulk OUT endpoint.
#pragma once

#include "usbdevio.h"

#include <cstdint>
#include <functional>

class CCyUSBEndPoint
{
public:
    enum TransferType { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

    // descriptor: the 7-byte endpoint descriptor; null for endpoint 0, whose
    // packet size comes from the device descriptor.
    CCyUSBEndPoint(USBDEV_HANDLE device, const uint8_t *descriptor, int controlPacketSize = 64);
    virtual ~CCyUSBEndPoint() = default;

    uint8_t address() const { return m_address; }
    uint8_t attributes() const { return m_attributes; }
    uint8_t interval() const { return m_interval; }
    bool isIn() const { return m_address & 0x80; }
    // (descriptor size & 0x7FF) x (((descriptor size >> 11) & 3) + 1)
    int maxPacketSize() const { return m_maxPacketSize; }
    TransferType transferType() const { return TransferType(m_attributes & 3); }

    int timeout() const { return m_timeoutMs; }
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // One transfer: OUT sends len bytes of buffer, IN receives up to len
    // bytes into it. len becomes the bytes moved (0 on failure). The
    // transfer is given up when keepGoing (if given) returns false.
    bool xferData(uint8_t *buffer, int &len, const std::function<bool()> &keepGoing = nullptr);
    // Ends the pipe's pending transfers.
    bool abort();

private:
    USBDEV_HANDLE m_device;
    uint8_t m_address = 0;
    uint8_t m_attributes = 0;
    uint8_t m_interval = 0;
    int m_maxPacketSize = 0;
    int m_timeoutMs = 10000;
};

class CCyControlEndPoint : public CCyUSBEndPoint
{
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
};

class CCyBulkEndPoint : public CCyUSBEndPoint
{
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
};

class CCyIsocEndPoint : public CCyUSBEndPoint
{
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
};

class CCyInterruptEndPoint : public CCyUSBEndPoint
{
public:
    using CCyUSBEndPoint::CCyUSBEndPoint;
};
