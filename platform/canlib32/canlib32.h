// canlib32: the library of the Kvaser adapters, as the Kvaser plug-in
// (plugins/kvaser) binds it by name at run time. Stand-in: the library of
// the same file name in this folder, carrying each channel's CAN traffic to
// the simulated CAN gateway. Declarations written from what the plug-in
// needs.
//
// A channel is opened by number and addressed by the handle the library
// returns (0 or above); the library queues received frames per handle and,
// when transmit acknowledgements are on, puts each frame the handle sent
// into that queue too. Results: 0 success, negative codes below. All
// functions use the C calling convention.
#pragma once

#include <stdint.h>

extern "C" {

// Frame flags of canWrite and canRead.
constexpr uint32_t CANLIB32_MSG_REMOTE = 0x01;
constexpr uint32_t CANLIB32_MSG_EXTENDED = 0x04;
constexpr uint32_t CANLIB32_MSG_ERROR_FRAME = 0x20;
constexpr uint32_t CANLIB32_MSG_SENT_HERE = 0x100;   // on read: a frame this handle sent

// The flags the plug-in opens channels with; this library takes any flags
// and gives every opening a handle of its own.
constexpr int32_t CANLIB32_OPEN_FLAGS = 0x20;

// canIoCtl function: transmit acknowledgements on (4-byte value 1) or off (0).
constexpr uint32_t CANLIB32_IOCTL_TX_ACKS = 7;

// Results.
constexpr int32_t CANLIB32_OK = 0;
constexpr int32_t CANLIB32_ERR_PARAM = -1;
constexpr int32_t CANLIB32_ERR_NO_MESSAGE = -2;
constexpr int32_t CANLIB32_ERR_NOT_FOUND = -3;     // no such channel, or no adapter
constexpr int32_t CANLIB32_ERR_BAD_HANDLE = -4;
constexpr int32_t CANLIB32_ERR_NOT_INITIALISED = -5;
constexpr int32_t CANLIB32_ERR_BUS = -6;           // not on the bus, frame refused
constexpr int32_t CANLIB32_ERR_NOT_SUPPORTED = -7;

// Version record filled by DllGetVersion.
struct Canlib32Version {
    uint32_t size;   // set by the caller to sizeof(Canlib32Version)
    uint32_t major;
    uint32_t minor;
    uint32_t build;
};

typedef void (*Canlib32NotifyCallback)(int32_t handle, void *context, uint32_t event);

typedef int32_t (*DllGetVersion_t)(Canlib32Version *version);
typedef void (*canInitializeLibrary_t)(void);
typedef int32_t (*canOpenChannel_t)(int32_t channel, int32_t flags);
typedef int32_t (*canClose_t)(int32_t handle);
typedef int32_t (*canSetBusParams_t)(int32_t handle, int32_t bitRate, uint32_t tseg1,
                                     uint32_t tseg2, uint32_t sjw, uint32_t samples,
                                     uint32_t syncMode);
typedef int32_t (*canSetBitrate_t)(int32_t handle, int32_t bitRate);
typedef int32_t (*canBusOn_t)(int32_t handle);
typedef int32_t (*canBusOff_t)(int32_t handle);
typedef int32_t (*canIoCtl_t)(int32_t handle, uint32_t function, void *buffer, uint32_t size);
typedef int32_t (*canRead_t)(int32_t handle, int32_t *id, void *data, int32_t *length,
                             int32_t *flags, uint32_t *time);
typedef int32_t (*canWrite_t)(int32_t handle, int32_t id, const void *data, int32_t length,
                              int32_t flags);
typedef int32_t (*kvSetNotifyCallback_t)(int32_t handle, Canlib32NotifyCallback callback,
                                         void *context, uint32_t events);

} // extern "C"

// The names the plug-in looks up, in its order.
#define CANLIB32_ENTRY_POINTS(X) \
    X(DllGetVersion) X(canInitializeLibrary) X(canOpenChannel) X(canClose) X(canSetBusParams) \
    X(canSetBitrate) X(canBusOn) X(canBusOff) X(canIoCtl) X(canRead) X(canWrite) \
    X(kvSetNotifyCallback)
