// Binding of the FTDI D2XX library ("ftd2xx"), loaded by name at run time
// for ZorCanDriverVSComFtdi: from the platform folder beside the executable
// when it is there, else through the system's library search.
//
// The 25 entry points are bound in a fixed order; bindState() tells how far
// it got: 0 all bound, 1 an entry point is missing (the first missing stops
// the binding), 2 the library could not be loaded. Each wrapper calls its
// entry point and returns the D2XX status, or 17 (FT_NOT_SUPPORTED) when the
// entry point is not bound. The binding itself is not locked: the driver
// makes every call under its own lock.
#pragma once

#include "ftd2xx.h"

#include <QLibrary>
#include <QString>

class FtdiLibrary
{
public:
    explicit FtdiLibrary(const QString &fileName = QString());
    ~FtdiLibrary();
    FtdiLibrary(const FtdiLibrary &) = delete;
    FtdiLibrary &operator=(const FtdiLibrary &) = delete;

    int bindState() const { return m_bindState; }

    FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *handle);
    FT_STATUS FT_ListDevices(void *arg1, void *arg2, uint32_t flags);
    FT_STATUS FT_Close(FT_HANDLE handle);
    FT_STATUS FT_ResetPort(FT_HANDLE handle);
    FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, uint32_t bytesToRead, uint32_t *bytesReturned);
    FT_STATUS FT_Write(FT_HANDLE handle, const void *buffer, uint32_t bytesToWrite, uint32_t *bytesWritten);
    FT_STATUS FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate);
    FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits, uint8_t parity);
    FT_STATUS FT_ResetDevice(FT_HANDLE handle);
    FT_STATUS FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus);
    FT_STATUS FT_SetChars(FT_HANDLE handle, uint8_t eventChar, uint8_t eventCharEnabled, uint8_t errorChar,
                          uint8_t errorCharEnabled);
    FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
    FT_STATUS FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon, uint8_t xoff);
    FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes);
    FT_STATUS FT_SetEventNotification(FT_HANDLE handle, uint32_t eventMask, void *param);
    FT_STATUS FT_ClrRts(FT_HANDLE handle);
    FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, uint8_t latencyMs);
    FT_STATUS FT_GetLatencyTimer(FT_HANDLE handle, uint8_t *latencyMs);
    FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize);
    FT_STATUS FT_GetComPortNumber(FT_HANDLE handle, int32_t *portNumber);

private:
    QLibrary m_library;
    int m_bindState = 2;
    struct EntryPoints;
    EntryPoints *m_fn;
};
