// PCAN_USB: the library of the PEAK USB adapter, as the PEAK plug-in
// (plugins/peak) is linked to it. Stand-in: the library of the same file
// name in this folder, carrying the adapter's CAN traffic to the simulated
// CAN gateway. Declarations written from what the plug-in needs.
//
// The library serves one adapter and takes no channel argument. The Windows
// library is linked by ordinal (1 close, 2 initialise, 3 read, 7 write);
// here the four are linked by the names below. Every function answers 0 on
// success, else one of the PCANUSB_ERR_* codes. C calling convention.
#pragma once

#include <stdint.h>

extern "C" {

// One message (16 bytes).
struct PcanUsbMessage {
    uint32_t id;
    uint8_t type;     // PCANUSB_TYPE_* bits
    uint8_t length;   // 0..8
    uint8_t data[8];
    uint8_t reserved[2];
};
static_assert(sizeof(PcanUsbMessage) == 16, "16-byte record");

constexpr uint8_t PCANUSB_TYPE_STANDARD = 0x00;
constexpr uint8_t PCANUSB_TYPE_REMOTE = 0x01;
constexpr uint8_t PCANUSB_TYPE_EXTENDED = 0x02;
constexpr uint8_t PCANUSB_TYPE_STATUS = 0x80;   // not a frame: data[0..3] hold the adapter's status bits

// Bit-timing words (BTR0 in the high byte, BTR1 in the low byte).
constexpr uint16_t PCANUSB_BTR_125K = 0x031C;
constexpr uint16_t PCANUSB_BTR_250K = 0x011C;
constexpr uint16_t PCANUSB_BTR_500K = 0x001C;
constexpr uint16_t PCANUSB_BTR_1M = 0x0014;

// Frame types accepted by PcanUsbInit.
constexpr int32_t PCANUSB_FRAMES_STANDARD = 0;
constexpr int32_t PCANUSB_FRAMES_EXTENDED = 1;

// Results.
constexpr uint32_t PCANUSB_OK = 0;
constexpr uint32_t PCANUSB_ERR_SEND = 1;            // the frame could not be sent
constexpr uint32_t PCANUSB_ERR_NO_MESSAGE = 2;      // receive queue empty
constexpr uint32_t PCANUSB_ERR_NO_ADAPTER = 3;      // no adapter, or it could not be opened
constexpr uint32_t PCANUSB_ERR_NOT_INITIALISED = 4;
constexpr uint32_t PCANUSB_ERR_PARAMETER = 5;

uint32_t PcanUsbClose(void);                                      // ordinal 1
uint32_t PcanUsbInit(uint16_t bitTiming, int32_t frameType);      // ordinal 2
uint32_t PcanUsbRead(PcanUsbMessage *message);                    // ordinal 3
uint32_t PcanUsbWrite(const PcanUsbMessage *message);             // ordinal 7

} // extern "C"
