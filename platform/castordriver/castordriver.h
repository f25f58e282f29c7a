// castorDriver: the library of the castor adapters, as the castor plug-in
// (plugins/castor) is linked to it by function name. Stand-in: the library
// of the same file name in this folder, carrying each channel's CAN traffic
// to the simulated CAN gateway. Declarations written from what the plug-in
// needs.
//
// A channel is opened by number and addressed by the handle the library
// writes back; the library queues received frames per handle, and with echo
// on (canIoCtl) each frame the handle sent comes back through canRead.
// Results: 0 success, negative codes below. C calling convention.
#pragma once

#include <stdint.h>

extern "C" {

// Frame flags of canWrite and canRead.
constexpr int32_t CASTOR_MSG_STANDARD = 0x01;
constexpr int32_t CASTOR_MSG_EXTENDED = 0x02;
constexpr int32_t CASTOR_MSG_REMOTE = 0x04;

// Bit-rate codes of canSetBitRate.
constexpr int32_t CASTOR_BITRATE_1M = 1;
constexpr int32_t CASTOR_BITRATE_800K = 2;
constexpr int32_t CASTOR_BITRATE_500K = 3;
constexpr int32_t CASTOR_BITRATE_250K = 4;
constexpr int32_t CASTOR_BITRATE_125K = 5;

// canIoCtl code: echo of sent frames on (4-byte value 1) or off (0).
constexpr int32_t CASTOR_IOCTL_ECHO = 1;

// Results.
constexpr int32_t CASTOR_OK = 0;
constexpr int32_t CASTOR_ERR_PARAM = -1;
constexpr int32_t CASTOR_ERR_NO_MESSAGE = -2;
constexpr int32_t CASTOR_ERR_NOT_FOUND = -3;        // no such channel, or no adapter
constexpr int32_t CASTOR_ERR_BAD_HANDLE = -4;
constexpr int32_t CASTOR_ERR_NOT_INITIALISED = -5;
constexpr int32_t CASTOR_ERR_BUS = -6;              // not on the bus, frame refused

int32_t canInitializeLib(void);
int32_t canGetNumberOfChannels(int32_t *count);
int32_t canOpenChannel(int32_t channel, int32_t *handle);
int32_t canClose(int32_t handle);
int32_t canSetBitRate(int32_t handle, int32_t code);
int32_t canBusOn(int32_t handle);
int32_t canBusOff(int32_t handle);
int32_t canIoCtl(int32_t handle, int32_t code, void *value, int32_t size);
int32_t canRead(int32_t handle, int32_t *id, uint8_t *data, int32_t *length, int32_t *flags,
                uint32_t *time);
int32_t canWrite(int32_t handle, int32_t id, const uint8_t *data, int32_t length, int32_t flags);

} // extern "C"
