// cpcwin: the library of the EMS CPC adapters, as the EMS plug-in
// (plugins/ems) binds it by name at run time. Stand-in: the library of the
// same file name in this folder, carrying the adapter's CAN channels to the
// simulated CAN gateway. Declarations written from what the plug-in needs.
//
// Channels are named "CHAN00", "CHAN01", ...; CPC_OpenChannel gives a
// handle (0 or above) or a negative code. Received messages are handed to
// the channel's handler from the message pump CPC_Handle. The controller is
// set up through the channel's initialisation-parameter block (bit timing,
// output control) and CPC_CANInit, and started and stopped with
// CPC_Control. All functions use the C calling convention.
#pragma once

#include <stdint.h>

extern "C" {

// Message record handed to a handler (24 bytes, byte-aligned).
struct CpcwinMessage {
    uint8_t type;        // CPCWIN_TYPE_*
    uint8_t header[10];  // record length, message counter, time stamp (not used by callers)
    uint8_t id[4];       // CAN identifier, least significant byte first
    uint8_t length;      // data length 0..8
    uint8_t data[8];
};
static_assert(sizeof(CpcwinMessage) == 24, "24-byte record");

// Message types of received CAN frames; records of other types carry
// adapter information and are not CAN traffic.
constexpr uint8_t CPCWIN_TYPE_DATA = 1;          // 11-bit data frame
constexpr uint8_t CPCWIN_TYPE_REMOTE = 8;        // 11-bit remote frame
constexpr uint8_t CPCWIN_TYPE_EXT_DATA = 16;     // 29-bit data frame
constexpr uint8_t CPCWIN_TYPE_EXT_REMOTE = 17;   // 29-bit remote frame

// A CAN message to send.
struct CpcwinCanMessage {
    uint32_t id;
    uint8_t length;
    uint8_t data[8];
};

// Initialisation-parameter block of a channel (16 bytes).
struct CpcwinInitParams {
    uint8_t controller;     // CPCWIN_CONTROLLER_*
    uint8_t reserved[9];
    uint8_t btr0;           // bit-timing register 0
    uint8_t btr1;           // bit-timing register 1
    uint8_t outputControl;  // output-control register; 0 keeps the transceiver off
    uint8_t reserved2[3];
};
static_assert(sizeof(CpcwinInitParams) == 16, "16-byte block");

// The controller kind set up through the block's bit-timing and
// output-control registers.
constexpr uint8_t CPCWIN_CONTROLLER_REGISTERS = 2;

// CPC_Control modes.
constexpr uint32_t CPCWIN_CONTROL_STOP = 4;
constexpr uint32_t CPCWIN_CONTROL_START = 5;

// Negative results.
constexpr int32_t CPCWIN_ERR_NO_CHANNEL = -1;     // no such channel / no adapter
constexpr int32_t CPCWIN_ERR_BAD_HANDLE = -2;     // handle names no open channel
constexpr int32_t CPCWIN_ERR_BAD_ARGUMENT = -3;
constexpr int32_t CPCWIN_ERR_NOT_INITIALISED = -4; // CPC_InitLibrary not called
constexpr int32_t CPCWIN_ERR_BUSY = -5;           // handler slot taken, controller not set up, ...
constexpr int32_t CPCWIN_ERR_SEND = -6;           // the frame could not be sent
constexpr int32_t CPCWIN_ERR_TIMEOUT = -7;
constexpr int32_t CPCWIN_ERR_NOT_SUPPORTED = -8;

typedef void (*CpcwinHandler)(int32_t handle, const CpcwinMessage *message);
typedef void (*CpcwinHandlerEx)(int32_t handle, const CpcwinMessage *message, void *context);

// The entry points, as function types for binding by name.
typedef int32_t (*CPC_OpenChannel_t)(const char *name);
typedef int32_t (*CPC_CloseChannel_t)(int32_t handle);
typedef CpcwinInitParams *(*CPC_GetInitParamsPtr_t)(int32_t handle);
typedef int32_t (*CPC_CANInit_t)(int32_t handle, uint8_t confirm);
typedef int32_t (*CPC_CANExit_t)(int32_t handle, uint8_t confirm);
typedef int32_t (*CPC_Control_t)(int32_t handle, uint32_t mode);
typedef int32_t (*CPC_GetInfo_t)(int32_t handle, char *text, int32_t size);
typedef int32_t (*CPC_GetCANState_t)(int32_t handle);
typedef int32_t (*CPC_ClearMSGQueue_t)(int32_t handle);
typedef int32_t (*CPC_ClearCMDQueue_t)(int32_t handle);
typedef int32_t (*CPC_GetMSGQueueCnt_t)(int32_t handle);
typedef int32_t (*CPC_SendMsg_t)(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message);
typedef int32_t (*CPC_SendRTR_t)(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message);
typedef int32_t (*CPC_SendXMsg_t)(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message);
typedef int32_t (*CPC_SendXRTR_t)(int32_t handle, uint8_t confirm, const CpcwinCanMessage *message);
typedef int32_t (*CPC_WaitForMType_t)(int32_t handle, int32_t type, int32_t timeoutMs);
typedef int32_t (*CPC_WaitForEvent_t)(int32_t handle, int32_t timeoutMs);
typedef int32_t (*CPC_AddHandler_t)(int32_t handle, CpcwinHandler handler);
typedef int32_t (*CPC_RemoveHandler_t)(int32_t handle);
typedef int32_t (*CPC_AddHandlerEx_t)(int32_t handle, CpcwinHandlerEx handler, void *context);
typedef int32_t (*CPC_RemoveHandlerEx_t)(int32_t handle, CpcwinHandlerEx handler);
typedef const CpcwinMessage *(*CPC_Handle_t)(int32_t handle);
typedef int32_t (*CPC_RequestCANParams_t)(int32_t handle, uint8_t confirm);
typedef int32_t (*CPC_RequestCANState_t)(int32_t handle, uint8_t confirm);
typedef int32_t (*CPC_RequestInfo_t)(int32_t handle, uint8_t confirm, uint8_t kind);
typedef int32_t (*CPC_PutUser_t)(int32_t handle, const uint8_t *data, int32_t size);
typedef int32_t (*CPC_PutFirmware_t)(int32_t handle, const uint8_t *data, int32_t size);
typedef int32_t (*CPC_InitLibrary_t)(uint32_t processId);

} // extern "C"

// The names in the order the plug-in binds them.
#define CPCWIN_ENTRY_POINTS(X) \
    X(CPC_OpenChannel) X(CPC_CloseChannel) X(CPC_GetInitParamsPtr) X(CPC_CANInit) \
    X(CPC_CANExit) X(CPC_Control) X(CPC_GetInfo) X(CPC_GetCANState) X(CPC_ClearMSGQueue) \
    X(CPC_ClearCMDQueue) X(CPC_GetMSGQueueCnt) X(CPC_SendMsg) X(CPC_SendRTR) X(CPC_SendXMsg) \
    X(CPC_SendXRTR) X(CPC_WaitForMType) X(CPC_WaitForEvent) X(CPC_AddHandler) \
    X(CPC_RemoveHandler) X(CPC_AddHandlerEx) X(CPC_RemoveHandlerEx) X(CPC_Handle) \
    X(CPC_RequestCANParams) X(CPC_RequestCANState) X(CPC_RequestInfo) X(CPC_PutUser) \
    X(CPC_PutFirmware) X(CPC_InitLibrary)
