#include "ftdilibrary.h"

#include <QCoreApplication>
#include <QFileInfo>

struct FtdiLibrary::EntryPoints
{
    FT_OpenFn open = nullptr;
    FT_OpenExFn openEx = nullptr;
    FT_ListDevicesFn listDevices = nullptr;
    FT_CloseFn close = nullptr;
    FT_ResetPortFn resetPort = nullptr;
    FT_CyclePortFn cyclePort = nullptr;
    FT_ReadFn read = nullptr;
    FT_WriteFn write = nullptr;
    FT_SetBaudRateFn setBaudRate = nullptr;
    FT_SetDataCharacteristicsFn setDataCharacteristics = nullptr;
    FT_ResetDeviceFn resetDevice = nullptr;
    FT_GetModemStatusFn getModemStatus = nullptr;
    FT_SetCharsFn setChars = nullptr;
    FT_PurgeFn purge = nullptr;
    FT_SetTimeoutsFn setTimeouts = nullptr;
    FT_SetFlowControlFn setFlowControl = nullptr;
    FT_GetQueueStatusFn getQueueStatus = nullptr;
    FT_SetEventNotificationFn setEventNotification = nullptr;
    FT_GetStatusFn getStatus = nullptr;
    FT_SetRtsFn setRts = nullptr;
    FT_ClrRtsFn clrRts = nullptr;
    FT_SetLatencyTimerFn setLatencyTimer = nullptr;
    FT_GetLatencyTimerFn getLatencyTimer = nullptr;
    FT_SetUSBParametersFn setUSBParameters = nullptr;
    FT_GetComPortNumberFn getComPortNumber = nullptr;
};

namespace {

QString defaultLibrary()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/platform/libftd2xx.so");
    return QFileInfo::exists(beside) ? beside : QStringLiteral("ftd2xx");
}

template <typename Fn>
bool bind(QLibrary &library, const char *name, Fn &fn)
{
    fn = reinterpret_cast<Fn>(library.resolve(name));
    return fn != nullptr;
}

} // namespace

FtdiLibrary::FtdiLibrary(const QString &fileName)
    : m_library(fileName.isEmpty() ? defaultLibrary() : fileName), m_fn(new EntryPoints)
{
    if (!m_library.load())
        return;
    m_bindState = 1;
    EntryPoints &f = *m_fn;
    if (bind(m_library, "FT_Open", f.open) && bind(m_library, "FT_OpenEx", f.openEx)
        && bind(m_library, "FT_ListDevices", f.listDevices) && bind(m_library, "FT_Close", f.close)
        && bind(m_library, "FT_ResetPort", f.resetPort) && bind(m_library, "FT_CyclePort", f.cyclePort)
        && bind(m_library, "FT_Read", f.read) && bind(m_library, "FT_Write", f.write)
        && bind(m_library, "FT_SetBaudRate", f.setBaudRate)
        && bind(m_library, "FT_SetDataCharacteristics", f.setDataCharacteristics)
        && bind(m_library, "FT_ResetDevice", f.resetDevice)
        && bind(m_library, "FT_GetModemStatus", f.getModemStatus)
        && bind(m_library, "FT_SetChars", f.setChars) && bind(m_library, "FT_Purge", f.purge)
        && bind(m_library, "FT_SetTimeouts", f.setTimeouts)
        && bind(m_library, "FT_SetFlowControl", f.setFlowControl)
        && bind(m_library, "FT_GetQueueStatus", f.getQueueStatus)
        && bind(m_library, "FT_SetEventNotification", f.setEventNotification)
        && bind(m_library, "FT_GetStatus", f.getStatus) && bind(m_library, "FT_SetRts", f.setRts)
        && bind(m_library, "FT_ClrRts", f.clrRts) && bind(m_library, "FT_SetLatencyTimer", f.setLatencyTimer)
        && bind(m_library, "FT_GetLatencyTimer", f.getLatencyTimer)
        && bind(m_library, "FT_SetUSBParameters", f.setUSBParameters)
        && bind(m_library, "FT_GetComPortNumber", f.getComPortNumber)) {
        m_bindState = 0;
    }
}

FtdiLibrary::~FtdiLibrary()
{
    if (m_library.isLoaded())
        m_library.unload();
    delete m_fn;
}

#define FT_CALL(name, ...) (m_fn->name ? m_fn->name(__VA_ARGS__) : FT_STATUS(FT_NOT_SUPPORTED))

FT_STATUS FtdiLibrary::FT_Open(int deviceNumber, FT_HANDLE *handle) { return FT_CALL(open, deviceNumber, handle); }
FT_STATUS FtdiLibrary::FT_ListDevices(void *arg1, void *arg2, uint32_t flags) { return FT_CALL(listDevices, arg1, arg2, flags); }
FT_STATUS FtdiLibrary::FT_Close(FT_HANDLE handle) { return FT_CALL(close, handle); }
FT_STATUS FtdiLibrary::FT_ResetPort(FT_HANDLE handle) { return FT_CALL(resetPort, handle); }
FT_STATUS FtdiLibrary::FT_Read(FT_HANDLE handle, void *buffer, uint32_t bytesToRead, uint32_t *bytesReturned)
{
    return FT_CALL(read, handle, buffer, bytesToRead, bytesReturned);
}
FT_STATUS FtdiLibrary::FT_Write(FT_HANDLE handle, const void *buffer, uint32_t bytesToWrite, uint32_t *bytesWritten)
{
    return FT_CALL(write, handle, buffer, bytesToWrite, bytesWritten);
}
FT_STATUS FtdiLibrary::FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate) { return FT_CALL(setBaudRate, handle, baudRate); }
FT_STATUS FtdiLibrary::FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits, uint8_t parity)
{
    return FT_CALL(setDataCharacteristics, handle, wordLength, stopBits, parity);
}
FT_STATUS FtdiLibrary::FT_ResetDevice(FT_HANDLE handle) { return FT_CALL(resetDevice, handle); }
FT_STATUS FtdiLibrary::FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus)
{
    return FT_CALL(getModemStatus, handle, modemStatus);
}
FT_STATUS FtdiLibrary::FT_SetChars(FT_HANDLE handle, uint8_t eventChar, uint8_t eventCharEnabled, uint8_t errorChar,
                                   uint8_t errorCharEnabled)
{
    return FT_CALL(setChars, handle, eventChar, eventCharEnabled, errorChar, errorCharEnabled);
}
FT_STATUS FtdiLibrary::FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs)
{
    return FT_CALL(setTimeouts, handle, readTimeoutMs, writeTimeoutMs);
}
FT_STATUS FtdiLibrary::FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon, uint8_t xoff)
{
    return FT_CALL(setFlowControl, handle, flowControl, xon, xoff);
}
FT_STATUS FtdiLibrary::FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes) { return FT_CALL(getQueueStatus, handle, rxBytes); }
FT_STATUS FtdiLibrary::FT_SetEventNotification(FT_HANDLE handle, uint32_t eventMask, void *param)
{
    return FT_CALL(setEventNotification, handle, eventMask, param);
}
FT_STATUS FtdiLibrary::FT_ClrRts(FT_HANDLE handle) { return FT_CALL(clrRts, handle); }
FT_STATUS FtdiLibrary::FT_SetLatencyTimer(FT_HANDLE handle, uint8_t latencyMs) { return FT_CALL(setLatencyTimer, handle, latencyMs); }
FT_STATUS FtdiLibrary::FT_GetLatencyTimer(FT_HANDLE handle, uint8_t *latencyMs) { return FT_CALL(getLatencyTimer, handle, latencyMs); }
FT_STATUS FtdiLibrary::FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize)
{
    return FT_CALL(setUSBParameters, handle, inTransferSize, outTransferSize);
}
FT_STATUS FtdiLibrary::FT_GetComPortNumber(FT_HANDLE handle, int32_t *portNumber)
{
    return FT_CALL(getComPortNumber, handle, portNumber);
}
