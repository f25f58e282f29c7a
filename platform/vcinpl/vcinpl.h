/* IXXAT VCI entry points as the IXXAT CAN driver binds them by name at run
 * time. Declarations of our own, written from what the driver expects; the
 * library behind them (libvcinpl.so in platform/ of the build folder) is a
 * stand-in whose devices are channels of the simulated CAN gateway (see
 * vcinplsim.cpp).
 *
 * Every function returns a VCI result: 0 for success, else one of the codes
 * below. Handles are opaque; 0 is no handle. A device has one CAN line (0)
 * with a controller (canControl*) and a message channel (canChannel*).
 */
#ifndef ZOR_VCINPL_H
#define ZOR_VCINPL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZOR_VCINPL_BUILD)
#define VCI_API __attribute__((visibility("default")))
#else
#define VCI_API
#endif

typedef uint32_t VCI_RESULT;
typedef void *VCI_HANDLE;

#define VCI_OK 0u
#define VCI_E_UNEXPECTED 0xE0010001u
#define VCI_E_NOTIMPL 0xE0010002u
#define VCI_E_INVALIDARG 0xE0010004u
#define VCI_E_INVALID_HANDLE 0xE0010007u
#define VCI_E_TIMEOUT 0xE001000Bu
#define VCI_E_NO_MORE_ITEMS 0xE001000Fu
#define VCI_E_NOT_INITIALIZED 0xE0010010u
#define VCI_E_RXQUEUE_EMPTY 0xE0010012u
#define VCI_E_TXQUEUE_FULL 0xE0010013u
#define VCI_E_INVALID_STATE 0xE0010015u

/* One entry of the device enumeration; it begins with the device's VCI
 * object id, which vciDeviceOpen takes. */
typedef struct VciDeviceInfo {
    uint64_t vciObjectId;
    char description[128];
    char serialNumber[16];
} VciDeviceInfo;

/* Controller capabilities: a message's time counts ticks of
 * clockFrequency / tscDivisor per second. */
typedef struct VciCanCaps {
    uint16_t controllerType;
    uint16_t busCoupling;
    uint32_t features;
    uint32_t clockFrequency;
    uint32_t tscDivisor;
} VciCanCaps;

/* A CAN message. info: byte 0 the message type (VCI_MSGTYPE_*), byte 2 the
 * flags byte: data length (bits 0-3), remote 0x40, extended 0x80 (so bits
 * 16-19 of info are the data length, bit 22 remote, bit 23 extended). */
typedef struct VciCanMessage {
    uint32_t time;
    uint32_t id;
    uint32_t info;
    uint8_t data[8];
} VciCanMessage;

#define VCI_MSGTYPE_DATA 0u
#define VCI_MSGTYPE_INFO 1u
#define VCI_MSGTYPE_ERROR 2u
#define VCI_MSGTYPE_STATUS 3u
#define VCI_MSGFLAG_REMOTE 0x40u
#define VCI_MSGFLAG_EXTENDED 0x80u

/* canControlInitialize modes. */
#define VCI_OPMODE_STANDARD 0x01u
#define VCI_OPMODE_EXTENDED 0x02u

VCI_API VCI_RESULT vciInitialize(void);
/* Writes the text of a result code into text (256 bytes), zero-ended; an
 * empty text when the library has none. */
VCI_API VCI_RESULT vciFormatError(VCI_RESULT code, char *text);
VCI_API VCI_RESULT vciGetVersion(uint32_t *major, uint32_t *minor);
VCI_API VCI_RESULT vciEnumDeviceOpen(VCI_HANDLE *enumeration);
/* Non-zero (VCI_E_NO_MORE_ITEMS) when no device is left. */
VCI_API VCI_RESULT vciEnumDeviceNext(VCI_HANDLE enumeration, VciDeviceInfo *info);
VCI_API VCI_RESULT vciEnumDeviceClose(VCI_HANDLE enumeration);
VCI_API VCI_RESULT vciEnumDeviceReset(VCI_HANDLE enumeration);
VCI_API VCI_RESULT vciDeviceOpen(uint64_t vciObjectId, VCI_HANDLE *device);
VCI_API VCI_RESULT vciDeviceClose(VCI_HANDLE device);
VCI_API VCI_RESULT canControlOpen(VCI_HANDLE device, uint32_t line, VCI_HANDLE *control);
VCI_API VCI_RESULT canControlClose(VCI_HANDLE control);
VCI_API VCI_RESULT canControlGetCaps(VCI_HANDLE control, VciCanCaps *caps);
/* mode: VCI_OPMODE_* bits; btr0/btr1: the bus timing registers. */
VCI_API VCI_RESULT canControlInitialize(VCI_HANDLE control, uint8_t mode, uint8_t btr0, uint8_t btr1);
VCI_API VCI_RESULT canControlReset(VCI_HANDLE control);
VCI_API VCI_RESULT canControlStart(VCI_HANDLE control, int32_t start);
VCI_API VCI_RESULT canChannelOpen(VCI_HANDLE device, uint32_t line, int32_t exclusive, VCI_HANDLE *channel);
VCI_API VCI_RESULT canChannelClose(VCI_HANDLE channel);
VCI_API VCI_RESULT canChannelInitialize(VCI_HANDLE channel, uint16_t rxSize, uint16_t rxThreshold,
                                        uint16_t txSize, uint16_t txThreshold);
VCI_API VCI_RESULT canChannelActivate(VCI_HANDLE channel, int32_t activate);
/* VCI_E_RXQUEUE_EMPTY when no message waits. */
VCI_API VCI_RESULT canChannelPeekMessage(VCI_HANDLE channel, VciCanMessage *message);
VCI_API VCI_RESULT canChannelPostMessage(VCI_HANDLE channel, const VciCanMessage *message);
/* VCI_E_TIMEOUT when no message came within timeoutMs. */
VCI_API VCI_RESULT canChannelWaitRxEvent(VCI_HANDLE channel, uint32_t timeoutMs);
VCI_API VCI_RESULT canChannelWaitTxEvent(VCI_HANDLE channel, uint32_t timeoutMs);
VCI_API VCI_RESULT canChannelReadMessage(VCI_HANDLE channel, uint32_t timeoutMs, VciCanMessage *message);
/* VCI_E_TIMEOUT when the message could not be queued within timeoutMs. */
VCI_API VCI_RESULT canChannelSendMessage(VCI_HANDLE channel, uint32_t timeoutMs, const VciCanMessage *message);

typedef VCI_RESULT (*vciInitializeFn)(void);
typedef VCI_RESULT (*vciFormatErrorFn)(VCI_RESULT, char *);
typedef VCI_RESULT (*vciGetVersionFn)(uint32_t *, uint32_t *);
typedef VCI_RESULT (*vciEnumDeviceOpenFn)(VCI_HANDLE *);
typedef VCI_RESULT (*vciEnumDeviceNextFn)(VCI_HANDLE, VciDeviceInfo *);
typedef VCI_RESULT (*vciEnumDeviceCloseFn)(VCI_HANDLE);
typedef VCI_RESULT (*vciEnumDeviceResetFn)(VCI_HANDLE);
typedef VCI_RESULT (*vciDeviceOpenFn)(uint64_t, VCI_HANDLE *);
typedef VCI_RESULT (*vciDeviceCloseFn)(VCI_HANDLE);
typedef VCI_RESULT (*canControlOpenFn)(VCI_HANDLE, uint32_t, VCI_HANDLE *);
typedef VCI_RESULT (*canControlCloseFn)(VCI_HANDLE);
typedef VCI_RESULT (*canControlGetCapsFn)(VCI_HANDLE, VciCanCaps *);
typedef VCI_RESULT (*canControlInitializeFn)(VCI_HANDLE, uint8_t, uint8_t, uint8_t);
typedef VCI_RESULT (*canControlResetFn)(VCI_HANDLE);
typedef VCI_RESULT (*canControlStartFn)(VCI_HANDLE, int32_t);
typedef VCI_RESULT (*canChannelOpenFn)(VCI_HANDLE, uint32_t, int32_t, VCI_HANDLE *);
typedef VCI_RESULT (*canChannelCloseFn)(VCI_HANDLE);
typedef VCI_RESULT (*canChannelInitializeFn)(VCI_HANDLE, uint16_t, uint16_t, uint16_t, uint16_t);
typedef VCI_RESULT (*canChannelActivateFn)(VCI_HANDLE, int32_t);
typedef VCI_RESULT (*canChannelPeekMessageFn)(VCI_HANDLE, VciCanMessage *);
typedef VCI_RESULT (*canChannelPostMessageFn)(VCI_HANDLE, const VciCanMessage *);
typedef VCI_RESULT (*canChannelWaitRxEventFn)(VCI_HANDLE, uint32_t);
typedef VCI_RESULT (*canChannelWaitTxEventFn)(VCI_HANDLE, uint32_t);
typedef VCI_RESULT (*canChannelReadMessageFn)(VCI_HANDLE, uint32_t, VciCanMessage *);
typedef VCI_RESULT (*canChannelSendMessageFn)(VCI_HANDLE, uint32_t, const VciCanMessage *);

/* Test control of the simulated devices (not a VCI entry point), one
 * command a call; 0 when understood, -1 otherwise.
 *   "reset"             one device, version 3.5, clock 1000000 Hz with
 *                       divisor 1 (times in microseconds), texts on,
 *                       failures cleared
 *   "devices <n>"       n devices (while QUORVANE_SIM_GATEWAY is set;
 *                       without it there are none)
 *   "version <M> <m>"   what vciGetVersion gives
 *   "clock <hz> <div>"  clockFrequency and tscDivisor of the capabilities
 *   "texts 0|1"         whether vciFormatError gives texts
 *   "sendtimeout 0|1"   canChannelSendMessage answers VCI_E_TIMEOUT
 *   "inject <type>"     a message of that type (1 info, 2 error, 3 status)
 *                       into the receive queue of every active channel
 * ZorVciSimState(what): "rxpending" (messages waiting in all active
 * channels), "sent" (messages sent), "channels" (channels open). */
VCI_API int32_t ZorVciSimControl(const char *command);
VCI_API int32_t ZorVciSimState(const char *what);
typedef int32_t (*ZorVciSimControlFn)(const char *);
typedef int32_t (*ZorVciSimStateFn)(const char *);

#ifdef __cplusplus
}
#endif

#endif /* ZOR_VCINPL_H */
