#include "zorhidapi.h"

#include <hidapi.h>
#include <mutex>

namespace {

class SystemHidApi : public ZorHidApi
{
public:
    Device open(quint16 vendorId, quint16 productId) override
    {
        // hid_init is not thread-safe; hid_open would call it on first use.
        static std::once_flag initialised;
        std::call_once(initialised, [] { hid_init(); });
        return hid_open(vendorId, productId, nullptr);
    }
    int setNonblocking(Device device, int nonblock) override
    {
        return hid_set_nonblocking(static_cast<hid_device *>(device), nonblock);
    }
    int write(Device device, const quint8 *data, size_t length) override
    {
        return hid_write(static_cast<hid_device *>(device), data, length);
    }
    int readTimeout(Device device, quint8 *data, size_t length, int ms) override
    {
        return hid_read_timeout(static_cast<hid_device *>(device), data, length, ms);
    }
    void close(Device device) override { hid_close(static_cast<hid_device *>(device)); }
    QString error(Device device) override
    {
        if (!device)
            return QString();
        const wchar_t *text = hid_error(static_cast<hid_device *>(device));
        return text ? QString::fromWCharArray(text) : QString();
    }
};

} // namespace

ZorHidApi *ZorHidApi::system()
{
    static SystemHidApi api;
    return &api;
}
