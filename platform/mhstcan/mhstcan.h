// mhstcan: the library of the MHS Tiny-CAN adapters, as the MHS plug-in
// (plugins/mhs) binds it by name at run time. Stand-in: the library of the
// same file name in this folder, carrying each device's CAN traffic to the
// simulated CAN gateway. Declarations written from what the plug-in needs.
//
// The driver is started once (CanInitDriver) and then serves devices by
// index: CanDeviceOpen, CanSetSpeed (kbit/s), CanSetMode (start, stop,
// reset), CanTransmit and CanReceive move arrays of message records, and
// the library queues received frames until CanReceive takes them. All
// functions use the C calling convention; 0 is success unless said
// otherwise.
#pragma once

#include <stdint.h>

extern "C" {

// One CAN message (16 bytes).
struct MhstcanMessage {
    uint32_t id;
    uint32_t flags;   // MHSTCAN_LENGTH_MASK, MHSTCAN_FLAG_*
    uint8_t data[8];
};
static_assert(sizeof(MhstcanMessage) == 16, "16-byte record");

constexpr uint32_t MHSTCAN_LENGTH_MASK = 0x0F;
constexpr uint32_t MHSTCAN_FLAG_REMOTE = 0x40;
constexpr uint32_t MHSTCAN_FLAG_EXTENDED = 0x80;

// CanSetMode modes; the second argument of start says which queues and
// counters to clear (MHSTCAN_CLEAR_ALL).
constexpr uint8_t MHSTCAN_MODE_START = 1;
constexpr uint8_t MHSTCAN_MODE_STOP = 2;
constexpr uint8_t MHSTCAN_MODE_RESET = 3;
constexpr uint16_t MHSTCAN_CLEAR_ALL = 0x0FFF;

// Status record filled by CanGetDeviceStatus.
struct MhstcanDeviceStatus {
    int32_t state;           // MHSTCAN_STATE_*
    int32_t receiveOverrun;  // 1 when received frames were lost
    int32_t reserved;
};
constexpr int32_t MHSTCAN_STATE_NO_DRIVER = 0;   // CanInitDriver not called
constexpr int32_t MHSTCAN_STATE_CLOSED = 1;      // the device is not open
constexpr int32_t MHSTCAN_STATE_OPEN = 2;        // open, off the bus
constexpr int32_t MHSTCAN_STATE_ON_BUS = 3;

// Negative results.
constexpr int32_t MHSTCAN_ERR_NOT_INITIALISED = -1;
constexpr int32_t MHSTCAN_ERR_BAD_ARGUMENT = -2;
constexpr int32_t MHSTCAN_ERR_NO_DEVICE = -3;   // no adapter answers at this index
constexpr int32_t MHSTCAN_ERR_DEVICE_BUSY = -4; // the device is open already
constexpr int32_t MHSTCAN_ERR_NOT_OPEN = -5;
constexpr int32_t MHSTCAN_ERR_BUS = -6;         // not on the bus, frame refused
constexpr int32_t MHSTCAN_ERR_NOT_SUPPORTED = -7;

typedef void (*MhstcanEventCallback)(uint32_t index, int32_t event);

typedef int32_t (*CanInitDriver_t)(const char *options);
typedef void (*CanDownDriver_t)(void);
typedef int32_t (*CanSetOptions_t)(const char *options);
typedef int32_t (*CanDeviceOpen_t)(uint32_t index, const char *parameters);
typedef int32_t (*CanDeviceClose_t)(uint32_t index);
typedef int32_t (*CanApplaySettings_t)(uint32_t index);
typedef int32_t (*CanSetMode_t)(uint32_t index, uint8_t mode, uint16_t clear);
typedef int32_t (*CanSet_t)(uint32_t index, uint16_t key, uint16_t flags, const void *value,
                            uint32_t size);
typedef int32_t (*CanGet_t)(uint32_t index, uint16_t key, uint16_t flags, void *value,
                            uint32_t size);
typedef int32_t (*CanTransmit_t)(uint32_t index, const MhstcanMessage *messages, int32_t count);
typedef void (*CanTransmitClear_t)(uint32_t index);
typedef uint32_t (*CanTransmitGetCount_t)(uint32_t index);
typedef int32_t (*CanTransmitSet_t)(uint32_t index, uint16_t command, uint32_t time);
typedef int32_t (*CanReceive_t)(uint32_t index, MhstcanMessage *messages, int32_t count);
typedef void (*CanReceiveClear_t)(uint32_t index);
typedef uint32_t (*CanReceiveGetCount_t)(uint32_t index);
typedef int32_t (*CanSetSpeed_t)(uint32_t index, uint16_t kbitPerSecond);
typedef int32_t (*CanSetSpeedUser_t)(uint32_t index, uint32_t value);
typedef const char *(*CanDrvInfo_t)(void);
typedef const char *(*CanDrvHwInfo_t)(uint32_t index);
typedef int32_t (*CanSetFilter_t)(uint32_t index, const void *filter);
typedef void (*CanGetDeviceStatus_t)(uint32_t index, MhstcanDeviceStatus *status);
typedef void (*CanSetPnPEventCallback_t)(MhstcanEventCallback callback);
typedef void (*CanSetStatusEventCallback_t)(MhstcanEventCallback callback);
typedef void (*CanSetRxEventCallback_t)(MhstcanEventCallback callback);
typedef void (*CanSetEvents_t)(uint16_t events);
typedef uint32_t (*CanEventStatus_t)(void);

} // extern "C"

// The names in the order the plug-in binds them.
#define MHSTCAN_ENTRY_POINTS(X) \
    X(CanInitDriver) X(CanDownDriver) X(CanSetOptions) X(CanDeviceOpen) X(CanDeviceClose) \
    X(CanApplaySettings) X(CanSetMode) X(CanSet) X(CanGet) X(CanTransmit) X(CanTransmitClear) \
    X(CanTransmitGetCount) X(CanTransmitSet) X(CanReceive) X(CanReceiveClear) \
    X(CanReceiveGetCount) X(CanSetSpeed) X(CanSetSpeedUser) X(CanDrvInfo) X(CanDrvHwInfo) \
    X(CanSetFilter) X(CanGetDeviceStatus) X(CanSetPnPEventCallback) \
    X(CanSetStatusEventCallback) X(CanSetRxEventCallback) X(CanSetEvents) X(CanEventStatus)
