/* FTDI D2XX entry points as this program's callers use them: the Lawicel
 * plug-in links against them, the serial-line CAN driver binds them by name
 * at run time. Declarations of our own, written from what the callers
 * expect; the library behind them (libftd2xx.so in platform/ of the build
 * folder) is a stand-in whose FTDI devices are simulated serial ASCII CAN
 * adapters on the simulated CAN gateway (see ftd2xxsim.cpp).
 *
 * Every function returns an FT_STATUS: FT_OK (0) on success, else one of the
 * codes below. Handles come from FT_Open / FT_OpenEx and are valid until
 * FT_Close. All functions may be called from several threads at once.
 *
 * Event notification: where the maker's library takes an event handle, this
 * platform takes an FT_EVENT_HANDLER: FT_SetEventNotification copies it and
 * calls notify(context, events) from the library's own thread whenever one
 * of the masked events occurs (FT_EVENT_RXCHAR: bytes arrived; also at once
 * when bytes are already waiting at registration). A call under way ends
 * before FT_SetEventNotification (with a new handler or none) or FT_Close
 * returns. The handler must not call FT_SetEventNotification or FT_Close.
 */
#ifndef ZOR_FTD2XX_H
#define ZOR_FTD2XX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define FT_API __declspec(dllimport)
#elif defined(ZOR_FTD2XX_BUILD)
#define FT_API __attribute__((visibility("default")))
#else
#define FT_API
#endif

typedef void *FT_HANDLE;
typedef uint32_t FT_STATUS;

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_OTHER_ERROR = 16,
    FT_NOT_SUPPORTED = 17
};

/* FT_ListDevices flags and FT_OpenEx kinds. */
#define FT_LIST_NUMBER_ONLY 0x80000000u /* arg1: uint32_t* count */
#define FT_LIST_BY_INDEX 0x40000000u    /* arg1: index (as a pointer-sized integer), arg2: char[64] */
#define FT_LIST_ALL 0x20000000u         /* arg1: char*[] (count + 1 entries, last null), arg2: uint32_t* count */
#define FT_OPEN_BY_SERIAL_NUMBER 1u
#define FT_OPEN_BY_DESCRIPTION 2u

/* FT_Purge masks. */
#define FT_PURGE_RX 1u
#define FT_PURGE_TX 2u

/* FT_SetEventNotification masks. */
#define FT_EVENT_RXCHAR 1u
#define FT_EVENT_MODEM_STATUS 2u

/* FT_GetModemStatus bits. */
#define FT_MODEM_STATUS_CTS 0x10u
#define FT_MODEM_STATUS_DSR 0x20u

/* FT_SetFlowControl modes. */
#define FT_FLOW_NONE 0x0000u
#define FT_FLOW_RTS_CTS 0x0100u

/* FT_SetDataCharacteristics values. */
#define FT_BITS_8 8u
#define FT_STOP_BITS_1 0u
#define FT_PARITY_NONE 0u

typedef void (*FT_EVENT_NOTIFY)(void *context, uint32_t events);
typedef struct FT_EVENT_HANDLER {
    FT_EVENT_NOTIFY notify;
    void *context;
} FT_EVENT_HANDLER;

FT_API FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *handle);
FT_API FT_STATUS FT_OpenEx(void *arg, uint32_t flags, FT_HANDLE *handle);
FT_API FT_STATUS FT_ListDevices(void *arg1, void *arg2, uint32_t flags);
FT_API FT_STATUS FT_Close(FT_HANDLE handle);
FT_API FT_STATUS FT_ResetPort(FT_HANDLE handle);
FT_API FT_STATUS FT_CyclePort(FT_HANDLE handle);
/* Waits until bytesToRead bytes arrived or the read time-out (FT_SetTimeouts,
 * 0 = no limit) passed; *bytesReturned may then be less. */
FT_API FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, uint32_t bytesToRead, uint32_t *bytesReturned);
FT_API FT_STATUS FT_Write(FT_HANDLE handle, const void *buffer, uint32_t bytesToWrite, uint32_t *bytesWritten);
FT_API FT_STATUS FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate);
FT_API FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits, uint8_t parity);
FT_API FT_STATUS FT_ResetDevice(FT_HANDLE handle);
FT_API FT_STATUS FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus);
FT_API FT_STATUS FT_SetChars(FT_HANDLE handle, uint8_t eventChar, uint8_t eventCharEnabled, uint8_t errorChar,
                             uint8_t errorCharEnabled);
FT_API FT_STATUS FT_Purge(FT_HANDLE handle, uint32_t mask);
FT_API FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
FT_API FT_STATUS FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon, uint8_t xoff);
/* Bytes waiting to be read. */
FT_API FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes);
/* param: an FT_EVENT_HANDLER (see above), or null to stop notifying. */
FT_API FT_STATUS FT_SetEventNotification(FT_HANDLE handle, uint32_t eventMask, void *param);
FT_API FT_STATUS FT_GetStatus(FT_HANDLE handle, uint32_t *rxBytes, uint32_t *txBytes, uint32_t *eventStatus);
FT_API FT_STATUS FT_SetRts(FT_HANDLE handle);
FT_API FT_STATUS FT_ClrRts(FT_HANDLE handle);
FT_API FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, uint8_t latencyMs);
FT_API FT_STATUS FT_GetLatencyTimer(FT_HANDLE handle, uint8_t *latencyMs);
FT_API FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, uint32_t inTransferSize, uint32_t outTransferSize);
/* The serial port number the system gives the device; -1 when it has none. */
FT_API FT_STATUS FT_GetComPortNumber(FT_HANDLE handle, int32_t *portNumber);

/* Types for binding the entry points by name at run time. */
typedef FT_STATUS (*FT_OpenFn)(int, FT_HANDLE *);
typedef FT_STATUS (*FT_OpenExFn)(void *, uint32_t, FT_HANDLE *);
typedef FT_STATUS (*FT_ListDevicesFn)(void *, void *, uint32_t);
typedef FT_STATUS (*FT_CloseFn)(FT_HANDLE);
typedef FT_STATUS (*FT_ResetPortFn)(FT_HANDLE);
typedef FT_STATUS (*FT_CyclePortFn)(FT_HANDLE);
typedef FT_STATUS (*FT_ReadFn)(FT_HANDLE, void *, uint32_t, uint32_t *);
typedef FT_STATUS (*FT_WriteFn)(FT_HANDLE, const void *, uint32_t, uint32_t *);
typedef FT_STATUS (*FT_SetBaudRateFn)(FT_HANDLE, uint32_t);
typedef FT_STATUS (*FT_SetDataCharacteristicsFn)(FT_HANDLE, uint8_t, uint8_t, uint8_t);
typedef FT_STATUS (*FT_ResetDeviceFn)(FT_HANDLE);
typedef FT_STATUS (*FT_GetModemStatusFn)(FT_HANDLE, uint32_t *);
typedef FT_STATUS (*FT_SetCharsFn)(FT_HANDLE, uint8_t, uint8_t, uint8_t, uint8_t);
typedef FT_STATUS (*FT_PurgeFn)(FT_HANDLE, uint32_t);
typedef FT_STATUS (*FT_SetTimeoutsFn)(FT_HANDLE, uint32_t, uint32_t);
typedef FT_STATUS (*FT_SetFlowControlFn)(FT_HANDLE, uint16_t, uint8_t, uint8_t);
typedef FT_STATUS (*FT_GetQueueStatusFn)(FT_HANDLE, uint32_t *);
typedef FT_STATUS (*FT_SetEventNotificationFn)(FT_HANDLE, uint32_t, void *);
typedef FT_STATUS (*FT_GetStatusFn)(FT_HANDLE, uint32_t *, uint32_t *, uint32_t *);
typedef FT_STATUS (*FT_SetRtsFn)(FT_HANDLE);
typedef FT_STATUS (*FT_ClrRtsFn)(FT_HANDLE);
typedef FT_STATUS (*FT_SetLatencyTimerFn)(FT_HANDLE, uint8_t);
typedef FT_STATUS (*FT_GetLatencyTimerFn)(FT_HANDLE, uint8_t *);
typedef FT_STATUS (*FT_SetUSBParametersFn)(FT_HANDLE, uint32_t, uint32_t);
typedef FT_STATUS (*FT_GetComPortNumberFn)(FT_HANDLE, int32_t *);

/* Test control of the simulated devices (not a D2XX entry point), one
 * command a call; 0 when understood, -1 otherwise. Settings belong to a
 * device index and apply to its open handle at once and to later opens.
 *   "reset"                       one device "CANUSB", serial "SIM00001",
 *                                 port 3; every setting below cleared
 *   "devices D,S,P;D,S,P..."      the device list: description, serial
 *                                 number, serial port number (-1: none)
 *   "cut <i> <n>"                 device i sends at most n more bytes, then
 *                                 stops answering (mid-reply)
 *   "cut <i> off"                 device i answers again
 *   "refuse <i> <letters>"        commands starting with one of the letters
 *                                 are answered BEL ("refuse <i>" clears)
 *   "ignore <i> <letters>"        such commands get no answer at all
 *   "failwrite <i> 0|1"           FT_Write fails with FT_IO_ERROR
 *   "cts <i> 0|1"                 the adapter drops (0) or raises (1) CTS:
 *                                 it takes no bytes while CTS is off
 *   "send <i> <text>"             the open device i sends these bytes to the
 *                                 host (escapes \r \a \s \xHH)
 * ZorFtdiSimState(i, what) reads back: "opens" (FT_Open/FT_OpenEx that
 * succeeded), "closes", "open" (1 while a handle is open).
 * ZorFtdiSimWritten(i, buffer, size) copies what the host wrote to device i
 * since it was last opened (at most size bytes) and returns its full size. */
FT_API int32_t ZorFtdiSimControl(const char *command);
FT_API int32_t ZorFtdiSimState(int32_t device, const char *what);
FT_API int32_t ZorFtdiSimWritten(int32_t device, char *buffer, int32_t size);
typedef int32_t (*ZorFtdiSimControlFn)(const char *);
typedef int32_t (*ZorFtdiSimStateFn)(int32_t, const char *);
typedef int32_t (*ZorFtdiSimWrittenFn)(int32_t, char *, int32_t);

#ifdef __cplusplus
}
#endif

#endif /* ZOR_FTD2XX_H */
