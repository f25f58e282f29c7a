// The D2XX stand-in: the entry points of ftd2xx.h over a list of simulated
// FTDI devices, each a serial ASCII CAN adapter (ZorSimSerialAdapter) on the
// simulated CAN gateway named by QUORVANE_SIM_GATEWAY. Without that variable
// the list is empty, as with no adapter plugged in.
//
// Handles are small numbers, not pointers: a stale or foreign handle gives
// FT_INVALID_HANDLE instead of touching freed memory. Each call looks its
// handle up under the table lock and keeps the device alive while it runs,
// so FT_Close in one thread and FT_Read in another are safe; FT_Close wakes
// a read under way.
#define ZOR_FTD2XX_BUILD
#include "ftd2xx.h"
#include "zorsimserialadapter.h"

#include <QByteArray>
#include <QList>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct OpenDevice
{
    std::shared_ptr<SimSerialDeviceConfig> config;
    std::unique_ptr<ZorSimSerialAdapter> adapter;
    std::atomic<uint32_t> readTimeoutMs{0};
    std::atomic<uint8_t> latencyMs{16};
};

struct Registry
{
    std::mutex lock;
    std::vector<std::shared_ptr<SimSerialDeviceConfig>> devices;
    std::map<uintptr_t, std::shared_ptr<OpenDevice>> handles;
    uintptr_t nextHandle = 1;

    Registry() { resetDevices(); }

    void resetDevices()
    {
        devices.clear();
        auto d = std::make_shared<SimSerialDeviceConfig>();
        d->description = "CANUSB";
        d->serialNumber = "SIM00001";
        d->comPort = 3;
        devices.push_back(d);
    }
};

Registry &registry()
{
    static Registry r;
    return r;
}

// The devices present: none without a gateway.
std::vector<std::shared_ptr<SimSerialDeviceConfig>> presentDevices()
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!ZorSimBusClient::gatewayConfigured())
        return {};
    return r.devices;
}

std::shared_ptr<OpenDevice> lookup(FT_HANDLE handle)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == r.handles.end() ? nullptr : it->second;
}

void copyText(char *buffer, const std::string &text)
{
    const size_t n = qMin<size_t>(text.size(), 63);
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

FT_STATUS openDevice(const std::shared_ptr<SimSerialDeviceConfig> &config, FT_HANDLE *handle)
{
    if (!handle)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    if (!config)
        return FT_DEVICE_NOT_FOUND;
    bool expected = false;
    if (!config->isOpen.compare_exchange_strong(expected, true))
        return FT_DEVICE_NOT_OPENED; // one handle per device, as with a real chip
    auto device = std::make_shared<OpenDevice>();
    device->config = config;
    device->adapter.reset(new ZorSimSerialAdapter(config));
    if (!device->adapter->start()) {
        device->adapter.reset();
        config->isOpen = false;
        return FT_DEVICE_NOT_OPENED;
    }
    ++config->opens;
    config->clearWritten();
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const uintptr_t id = r.nextHandle++;
    r.handles[id] = device;
    *handle = reinterpret_cast<FT_HANDLE>(id);
    return FT_OK;
}

std::shared_ptr<SimSerialDeviceConfig> deviceAt(int32_t index)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (index < 0 || index >= int32_t(r.devices.size()))
        return nullptr;
    return r.devices[size_t(index)];
}

QByteArray unescape(const QByteArray &text)
{
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 >= text.size()) {
            out.append(c);
            continue;
        }
        const char e = text.at(++i);
        if (e == 'r')
            out.append('\r');
        else if (e == 'a')
            out.append('\a');
        else if (e == 's')
            out.append(' ');
        else if (e == 'x' && i + 2 < text.size()) {
            out.append(char(text.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else
            out.append(e);
    }
    return out;
}

} // namespace

extern "C" {

FT_API FT_STATUS FT_ListDevices(void *arg1, void *arg2, uint32_t flags)
{
    const auto devices = presentDevices();
    if (flags & FT_LIST_NUMBER_ONLY) {
        if (!arg1)
            return FT_INVALID_PARAMETER;
        *static_cast<uint32_t *>(arg1) = uint32_t(devices.size());
        return FT_OK;
    }
    const bool bySerial = (flags & FT_OPEN_BY_SERIAL_NUMBER) != 0;
    const bool byDescription = (flags & FT_OPEN_BY_DESCRIPTION) != 0;
    if (bySerial == byDescription)
        return FT_INVALID_PARAMETER;
    auto text = [&](const SimSerialDeviceConfig &d) { return bySerial ? d.serialNumber : d.description; };
    if (flags & FT_LIST_BY_INDEX) {
        const uintptr_t index = reinterpret_cast<uintptr_t>(arg1);
        if (!arg2)
            return FT_INVALID_PARAMETER;
        if (index >= devices.size())
            return FT_DEVICE_NOT_FOUND;
        copyText(static_cast<char *>(arg2), text(*devices[index]));
        return FT_OK;
    }
    if (flags & FT_LIST_ALL) {
        if (!arg1 || !arg2)
            return FT_INVALID_PARAMETER;
        char **buffers = static_cast<char **>(arg1);
        for (size_t i = 0; i < devices.size(); ++i) {
            if (!buffers[i])
                return FT_INVALID_PARAMETER;
            copyText(buffers[i], text(*devices[i]));
        }
        *static_cast<uint32_t *>(arg2) = uint32_t(devices.size());
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_API FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *handle)
{
    const auto devices = presentDevices();
    if (deviceNumber < 0 || deviceNumber >= int(devices.size())) {
        if (handle)
            *handle = nullptr;
        return FT_DEVICE_NOT_FOUND;
    }
    return openDevice(devices[size_t(deviceNumber)], handle);
}

FT_API FT_STATUS FT_OpenEx(void *arg, uint32_t flags, FT_HANDLE *handle)
{
    if (handle)
        *handle = nullptr;
    if (!arg || (flags != FT_OPEN_BY_SERIAL_NUMBER && flags != FT_OPEN_BY_DESCRIPTION))
        return FT_INVALID_PARAMETER;
    const std::string wanted(static_cast<const char *>(arg));
    for (const auto &d : presentDevices()) {
        if ((flags == FT_OPEN_BY_SERIAL_NUMBER ? d->serialNumber : d->description) == wanted)
            return openDevice(d, handle);
    }
    return FT_DEVICE_NOT_FOUND;
}

FT_API FT_STATUS FT_Close(FT_HANDLE handle)
{
    std::shared_ptr<OpenDevice> device;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        auto it = r.handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it == r.handles.end())
            return FT_INVALID_HANDLE;
        device = it->second;
        r.handles.erase(it);
    }
    device->adapter->shutdown();
    ++device->config->closes;
    device->config->isOpen = false;
    return FT_OK;
}

FT_API FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, uint32_t bytesToRead, uint32_t *bytesReturned)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!buffer || !bytesReturned)
        return FT_INVALID_PARAMETER;
    const uint32_t timeout = device->readTimeoutMs.load();
    const int n = device->adapter->read(static_cast<char *>(buffer), int(qMin<uint32_t>(bytesToRead, 1u << 30)),
                                        timeout == 0 ? -1 : int(qMin<uint32_t>(timeout, 1u << 30)));
    *bytesReturned = uint32_t(n);
    // A handle closed while the read waited: what came is returned, the
    // failure shows on the next call.
    return FT_OK;
}

FT_API FT_STATUS FT_Write(FT_HANDLE handle, const void *buffer, uint32_t bytesToWrite, uint32_t *bytesWritten)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (bytesWritten)
        *bytesWritten = 0;
    if ((!buffer && bytesToWrite) || !bytesWritten)
        return FT_INVALID_PARAMETER;
    if (!device->adapter->write(static_cast<const char *>(buffer), int(qMin<uint32_t>(bytesToWrite, 1u << 30))))
        return FT_IO_ERROR;
    *bytesWritten = bytesToWrite;
    return FT_OK;
}

FT_API FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!rxBytes)
        return FT_INVALID_PARAMETER;
    *rxBytes = uint32_t(device->adapter->queued());
    return FT_OK;
}

FT_API FT_STATUS FT_GetStatus(FT_HANDLE handle, uint32_t *rxBytes, uint32_t *txBytes, uint32_t *eventStatus)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!rxBytes || !txBytes || !eventStatus)
        return FT_INVALID_PARAMETER;
    *rxBytes = uint32_t(device->adapter->queued());
    *txBytes = 0;
    *eventStatus = 0;
    return FT_OK;
}

FT_API FT_STATUS FT_Purge(FT_HANDLE handle, uint32_t mask)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    device->adapter->purge(mask & FT_PURGE_RX, mask & FT_PURGE_TX);
    return FT_OK;
}

FT_API FT_STATUS FT_ResetDevice(FT_HANDLE handle)
{
    return FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
}

FT_API FT_STATUS FT_ResetPort(FT_HANDLE handle)
{
    return FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
}

FT_API FT_STATUS FT_CyclePort(FT_HANDLE handle)
{
    return FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX);
}

FT_API FT_STATUS FT_SetEventNotification(FT_HANDLE handle, uint32_t eventMask, void *param)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    const FT_EVENT_HANDLER *handler = static_cast<const FT_EVENT_HANDLER *>(param);
    if (handler && eventMask)
        device->adapter->setEventHandler(eventMask, handler->notify, handler->context);
    else
        device->adapter->setEventHandler(0, nullptr, nullptr);
    return FT_OK;
}

FT_API FT_STATUS FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!modemStatus)
        return FT_INVALID_PARAMETER;
    // The adapter is ready to take bytes unless a test dropped CTS.
    *modemStatus = (device->config->ctsOff.load() ? 0 : FT_MODEM_STATUS_CTS) | FT_MODEM_STATUS_DSR;
    return FT_OK;
}

FT_API FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    device->readTimeoutMs = readTimeoutMs;
    return FT_OK;
}

FT_API FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, uint8_t latencyMs)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (latencyMs < 1)
        return FT_INVALID_PARAMETER;
    device->latencyMs = latencyMs;
    return FT_OK;
}

FT_API FT_STATUS FT_GetLatencyTimer(FT_HANDLE handle, uint8_t *latencyMs)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!latencyMs)
        return FT_INVALID_PARAMETER;
    *latencyMs = device->latencyMs.load();
    return FT_OK;
}

FT_API FT_STATUS FT_GetComPortNumber(FT_HANDLE handle, int32_t *portNumber)
{
    auto device = lookup(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!portNumber)
        return FT_INVALID_PARAMETER;
    *portNumber = device->config->comPort;
    return FT_OK;
}

FT_API FT_STATUS FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    if (!lookup(handle))
        return FT_INVALID_HANDLE;
    return baudRate > 0 && baudRate <= 3000000 ? FT_OK : FT_INVALID_BAUD_RATE;
}

// Line settings, flow control and transfer sizes change nothing in the
// simulation; they only need a valid handle.
FT_API FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t, uint8_t, uint8_t)
{
    return lookup(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_API FT_STATUS FT_SetChars(FT_HANDLE handle, uint8_t, uint8_t, uint8_t, uint8_t)
{
    return lookup(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_API FT_STATUS FT_SetFlowControl(FT_HANDLE handle, uint16_t, uint8_t, uint8_t)
{
    return lookup(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_API FT_STATUS FT_SetRts(FT_HANDLE handle)
{
    return lookup(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_API FT_STATUS FT_ClrRts(FT_HANDLE handle)
{
    return lookup(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_API FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, uint32_t, uint32_t)
{
    return lookup(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_API int32_t ZorFtdiSimControl(const char *command)
{
    if (!command)
        return -1;
    const QByteArray text = QByteArray(command).trimmed();
    const int space = text.indexOf(' ');
    const QByteArray verb = space < 0 ? text : text.left(space);
    const QByteArray rest = space < 0 ? QByteArray() : text.mid(space + 1).trimmed();
    Registry &r = registry();
    if (verb == "reset") {
        std::lock_guard<std::mutex> guard(r.lock);
        for (auto &d : r.devices) {
            d->cutLeft = -1;
            d->failWrites = false;
            d->ctsOff = false;
            d->setRefused(std::string());
            d->setIgnored(std::string());
        }
        r.resetDevices();
        return 0;
    }
    if (verb == "devices") {
        std::vector<std::shared_ptr<SimSerialDeviceConfig>> list;
        for (const QByteArray &entry : rest.split(';')) {
            const QList<QByteArray> fields = entry.split(',');
            if (fields.size() != 3)
                return -1;
            bool ok = false;
            auto d = std::make_shared<SimSerialDeviceConfig>();
            d->description = fields.at(0).toStdString();
            d->serialNumber = fields.at(1).trimmed().toStdString();
            d->comPort = fields.at(2).trimmed().toInt(&ok);
            if (!ok)
                return -1;
            list.push_back(d);
        }
        std::lock_guard<std::mutex> guard(r.lock);
        r.devices = list;
        return 0;
    }
    // "<verb> <index> [<value>]"
    const QList<QByteArray> words = rest.split(' ');
    bool ok = false;
    const int index = words.value(0).toInt(&ok);
    auto device = ok ? deviceAt(index) : nullptr;
    if (!device)
        return -1;
    const QByteArray value = words.size() > 1 ? words.at(1) : QByteArray();
    if (verb == "cut") {
        if (value == "off") {
            device->cutLeft = -1;
            return 0;
        }
        const int n = value.toInt(&ok);
        if (!ok || n < 0)
            return -1;
        device->cutLeft = n;
        return 0;
    }
    if (verb == "refuse") {
        device->setRefused(value.toStdString());
        return 0;
    }
    if (verb == "ignore") {
        device->setIgnored(value.toStdString());
        return 0;
    }
    if (verb == "send") {
        // The rest of the command after the index, with \r \a \xHH escapes.
        const int at = rest.indexOf(' ');
        if (at < 0)
            return -1;
        const QByteArray bytes = unescape(rest.mid(at + 1));
        Registry &reg = registry();
        std::lock_guard<std::mutex> guard(reg.lock);
        for (auto &entry : reg.handles) {
            if (entry.second->config == device) {
                entry.second->adapter->sendRaw(bytes);
                return 0;
            }
        }
        return -1; // not open
    }
    if (verb == "cts") {
        if (value != "0" && value != "1")
            return -1;
        device->ctsOff = value == "0";
        return 0;
    }
    if (verb == "failwrite") {
        if (value != "0" && value != "1")
            return -1;
        device->failWrites = value == "1";
        return 0;
    }
    return -1;
}

FT_API int32_t ZorFtdiSimWritten(int32_t index, char *buffer, int32_t size)
{
    auto device = deviceAt(index);
    if (!device || size < 0 || (!buffer && size > 0))
        return -1;
    const std::string bytes = device->written();
    const int32_t n = qMin(size, int32_t(bytes.size()));
    memcpy(buffer, bytes.data(), size_t(n));
    return int32_t(bytes.size());
}

FT_API int32_t ZorFtdiSimState(int32_t index, const char *what)
{
    auto device = deviceAt(index);
    if (!device || !what)
        return -1;
    const QByteArray w(what);
    if (w == "opens")
        return device->opens.load();
    if (w == "closes")
        return device->closes.load();
    if (w == "open")
        return device->isOpen.load() ? 1 : 0;
    return -1;
}

} // extern "C"
