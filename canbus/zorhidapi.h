// The seam between the USB HID CAN drivers and hidapi.
//
// The drivers call the six hidapi functions they need through this
// interface: opening a device by vendor and product id, non-blocking mode,
// writing an output report, reading an input report with a time-out,
// closing, and the last error text. ZorHidApi::system() is hidapi itself;
// tests hand a driver a simulated adapter instead (tests/support), which
// speaks the ASCII adapter protocol in 65-byte reports.
//
// Threads: a driver writes from its caller's thread while its receive
// thread reads from the same device, as hidapi allows; implementations must
// allow it too.
#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>

class ZorHidApi
{
public:
    // An open device; null for none.
    using Device = void *;

    virtual ~ZorHidApi() = default;

    // The first device with these ids (no serial number asked for), or null.
    virtual Device open(quint16 vendorId, quint16 productId) = 0;
    // 0 on success, -1 on error.
    virtual int setNonblocking(Device device, int nonblock) = 0;
    // Writes one output report (its first byte is the report id); the
    // number of bytes written or -1.
    virtual int write(Device device, const quint8 *data, size_t length) = 0;
    // Reads one input report into data, waiting at most ms milliseconds;
    // the number of bytes read, 0 when none came, -1 on error (the device
    // is gone).
    virtual int readTimeout(Device device, quint8 *data, size_t length, int ms) = 0;
    virtual void close(Device device) = 0;
    // The last error text of the device (empty when none).
    virtual QString error(Device device) = 0;

    // hidapi itself; lives as long as the process.
    static ZorHidApi *system();
};
