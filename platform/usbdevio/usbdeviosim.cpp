// The USB device-services stand-in: the entry points of usbdevio.h over a
// list of simulated Zanthic USB-CAN adapters (ZorSimZanthicDevice) of the
// device-interface class {8A483AE3-1662-4FE2-88DD-CA1AD2A6387F}, present
// while QUORVANE_SIM_GATEWAY names a gateway (one by default).
//
// Handles and requests are objects of this library, kept in tables: a stale
// handle gives USBDEV_INVALID_HANDLE rather than touching freed memory, and a
// request released while pending is cancelled before its buffers go away.
#define ZOR_USBDEVIO_BUILD
#include "usbdevio.h"
#include "zorsimzanthicdevice.h"

#include <QByteArray>
#include <QList>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct UsbDevDevice
{
    std::shared_ptr<ZorSimZanthicDevice> device;
    int index = 0;
};

struct UsbDevRequest
{
    std::shared_ptr<ZorSimZanthicDevice> device;
    std::shared_ptr<SimUsbRequest> state;
};

namespace {

const char *const InterfaceClass = "{8a483ae3-1662-4fe2-88dd-ca1ad2a6387f}";
const int MaxDevices = 16;

struct Registry
{
    std::mutex lock;
    int present = 1;
    std::vector<std::shared_ptr<ZorSimZanthicDevice>> devices;
    std::map<UsbDevDevice *, std::unique_ptr<UsbDevDevice>> handles;

    Registry()
    {
        for (int i = 0; i < MaxDevices; ++i)
            devices.push_back(std::make_shared<ZorSimZanthicDevice>(i));
    }
};

Registry &registry()
{
    static Registry r;
    return r;
}

bool isPresent(int index)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return ZorSimBusClient::gatewayConfigured() && index >= 0 && index < r.present;
}

std::shared_ptr<ZorSimZanthicDevice> deviceOf(USBDEV_HANDLE handle, int *index)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.handles.find(handle);
    if (it == r.handles.end())
        return nullptr;
    *index = it->second->index;
    return it->second->device;
}

QByteArray pathOf(int index)
{
    return "\\\\?\\simusb#zanthic#" + QByteArray::number(index) + "#" + InterfaceClass;
}

} // namespace

extern "C" {

USBDEV_API int32_t UsbDevGetInterfacePath(const char *interfaceClass, int32_t index, char *path,
                                          int32_t pathSize)
{
    if (!interfaceClass || !path || pathSize <= 0)
        return USBDEV_INVALID_PARAMETER;
    if (QByteArray(interfaceClass).toLower() != InterfaceClass || !isPresent(index))
        return USBDEV_NO_MORE_ITEMS;
    const QByteArray p = pathOf(index);
    if (p.size() >= pathSize)
        return USBDEV_INVALID_PARAMETER;
    std::memcpy(path, p.constData(), size_t(p.size()) + 1);
    return USBDEV_OK;
}

USBDEV_API USBDEV_HANDLE UsbDevOpen(const char *path)
{
    if (!path)
        return nullptr;
    for (int i = 0; i < MaxDevices; ++i) {
        if (pathOf(i) != QByteArray(path))
            continue;
        if (!isPresent(i))
            return nullptr;
        Registry &r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        auto handle = std::make_unique<UsbDevDevice>();
        handle->device = r.devices[size_t(i)];
        handle->index = i;
        ++handle->device->handles;
        UsbDevDevice *key = handle.get();
        r.handles[key] = std::move(handle);
        return key;
    }
    return nullptr;
}

USBDEV_API int32_t UsbDevClose(USBDEV_HANDLE handle)
{
    std::unique_ptr<UsbDevDevice> closed;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        auto it = r.handles.find(handle);
        if (it == r.handles.end())
            return USBDEV_INVALID_HANDLE;
        closed = std::move(it->second);
        r.handles.erase(it);
    }
    // Pending transfers end; the channel stops with the last handle.
    closed->device->abortPipe(ZorSimZanthicDevice::EndpointIn);
    closed->device->abortPipe(ZorSimZanthicDevice::EndpointInterrupt);
    if (--closed->device->handles == 0)
        closed->device->closeChannel();
    return USBDEV_OK;
}

USBDEV_API int32_t UsbDevIoControl(USBDEV_HANDLE handle, uint32_t code, const void *in, uint32_t inSize,
                                   void *out, uint32_t outSize, USBDEV_REQUEST *request)
{
    if (!request)
        return USBDEV_INVALID_PARAMETER;
    *request = nullptr;
    int index = 0;
    auto device = deviceOf(handle, &index);
    if (!device)
        return USBDEV_INVALID_HANDLE;
    if (!isPresent(index))
        return USBDEV_DEVICE_GONE;
    auto state = std::make_shared<SimUsbRequest>();
    state->out = static_cast<uint8_t *>(out);
    state->outSize = out ? outSize : 0;
    switch (code) {
    case USBDEV_IOCTL_GET_DEVICE_DESCRIPTOR:
        state->complete(ZorSimZanthicDevice::deviceDescriptor());
        break;
    case USBDEV_IOCTL_GET_CONFIG_DESCRIPTOR:
        state->complete(ZorSimZanthicDevice::configDescriptor());
        break;
    case USBDEV_IOCTL_ABORT_PIPE:
        if (!in || inSize < 1)
            return USBDEV_INVALID_PARAMETER;
        device->abortPipe(*static_cast<const uint8_t *>(in));
        state->complete(QByteArray());
        break;
    case USBDEV_IOCTL_TRANSFER: {
        UsbDevTransferHeader header{};
        if (!in || inSize < sizeof header || !out || outSize < sizeof header)
            return USBDEV_INVALID_PARAMETER;
        std::memcpy(&header, in, sizeof header);
        std::memcpy(out, &header, sizeof header);
        state->endpoint = header.endpoint;
        if (header.endpoint == ZorSimZanthicDevice::EndpointOut) {
            const uint32_t n = std::min<uint32_t>(header.length, inSize - uint32_t(sizeof header));
            device->handleRequest(QByteArray(static_cast<const char *>(in) + sizeof header, int(n)));
            state->completeTransfer(QByteArray(), 0);
            state->bytes = uint32_t(sizeof header) + n;
        } else if (header.endpoint == ZorSimZanthicDevice::EndpointIn) {
            device->startIn(state);
        } else if (header.endpoint == ZorSimZanthicDevice::EndpointInterrupt) {
            device->startIn(state); // never answered: the adapter does not use it
        } else {
            state->completeTransfer(QByteArray(), USBDEV_USB_STATUS_STALL);
        }
        break;
    }
    default:
        return USBDEV_NOT_SUPPORTED;
    }
    *request = new UsbDevRequest{device, state};
    return USBDEV_OK;
}

USBDEV_API int32_t UsbDevWaitRequest(USBDEV_REQUEST request, int32_t timeoutMs, uint32_t *bytesReturned)
{
    if (!request || !bytesReturned)
        return USBDEV_INVALID_PARAMETER;
    SimUsbRequest &s = *request->state;
    std::unique_lock<std::mutex> lock(s.lock);
    if (!s.completed.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                              [&s] { return s.done; }))
        return USBDEV_PENDING;
    *bytesReturned = s.bytes;
    return s.deviceGone ? USBDEV_DEVICE_GONE : USBDEV_OK;
}

USBDEV_API void UsbDevReleaseRequest(USBDEV_REQUEST request)
{
    if (!request)
        return;
    {
        std::lock_guard<std::mutex> guard(request->state->lock);
        if (!request->state->done)
            request->state->cancelled = true;
    }
    request->device->forget(request->state.get());
    delete request;
}

USBDEV_API int32_t ZorUsbSimControl(const char *command)
{
    if (!command)
        return -1;
    const QList<QByteArray> words = QByteArray(command).simplified().split(' ');
    Registry &r = registry();
    const QByteArray verb = words.value(0);
    if (verb == "reset" && words.size() == 1) {
        std::lock_guard<std::mutex> guard(r.lock);
        r.present = 1;
        for (auto &d : r.devices) {
            d->muted = false;
            d->refuseTransmit = false;
            d->clearLog();
        }
        return 0;
    }
    bool ok = false;
    const int n = words.value(1).toInt(&ok);
    if (verb == "devices" && words.size() == 2) {
        if (!ok || n < 0 || n > MaxDevices)
            return -1;
        std::lock_guard<std::mutex> guard(r.lock);
        r.present = n;
        return 0;
    }
    if (!ok || n < 0 || n >= MaxDevices || words.size() != 3)
        return -1;
    std::shared_ptr<ZorSimZanthicDevice> d;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        d = r.devices[size_t(n)];
    }
    if (verb == "rxanswer") {
        const QByteArray answer = QByteArray::fromHex(words[2]);
        if (answer.isEmpty())
            return -1;
        d->queueReceiveAnswer(answer);
        return 0;
    }
    if (words[2] != "0" && words[2] != "1")
        return -1;
    const bool on = words[2] == "1";
    if (verb == "mute") {
        d->muted = on;
        return 0;
    }
    if (verb == "refusetx") {
        d->refuseTransmit = on;
        return 0;
    }
    return -1;
}

USBDEV_API int32_t ZorUsbSimRequests(int32_t index, char *buffer, int32_t size)
{
    Registry &r = registry();
    std::shared_ptr<ZorSimZanthicDevice> d;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        if (index < 0 || index >= MaxDevices || size < 0 || (!buffer && size > 0))
            return -1;
        d = r.devices[size_t(index)];
    }
    const std::string text = d->log();
    if (size > 0)
        std::memcpy(buffer, text.data(), std::min<size_t>(size_t(size), text.size()));
    return int32_t(text.size());
}

USBDEV_API int32_t ZorUsbSimState(int32_t index, const char *what)
{
    Registry &r = registry();
    std::shared_ptr<ZorSimZanthicDevice> d;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        if (index < 0 || index >= MaxDevices || !what)
            return -1;
        d = r.devices[size_t(index)];
    }
    const QByteArray w(what);
    if (w == "handles")
        return d->handles.load();
    if (w == "started")
        return d->started() ? 1 : 0;
    if (w == "pending")
        return d->pendingTransfers();
    if (w == "queued")
        return d->queuedFrames();
    if (w == "polls")
        return d->receivePolls.load();
    return -1;
}

} // extern "C"
