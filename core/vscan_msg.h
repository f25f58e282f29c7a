// The in-memory CAN frame the drivers fill and read, and its flag bits.
//
// A frame travels through the program as a 16-byte record in a QByteArray
// (see ZorBabelFish::fromVscanToQbytearray); this structure is the unpacked
// form the drivers work on.
#pragma once

#include <QtGlobal>

struct VSCAN_MSG
{
    quint32 Id = 0;        // CAN identifier, 11 or 29 bits
    quint8 Size = 0;       // data length code, 0 to 8
    quint8 Data[8] = {};   // data bytes; those beyond Size hold whatever was put there
    quint8 Flags = 0;      // VSCAN_FLAGS_* bits
    quint16 Timestamp = 0; // milliseconds; 0 when none
};

constexpr quint8 VSCAN_FLAGS_STANDARD = 0x01;  // 11-bit identifier
constexpr quint8 VSCAN_FLAGS_EXTENDED = 0x02;  // 29-bit identifier
constexpr quint8 VSCAN_FLAGS_REMOTE = 0x04;    // remote frame
constexpr quint8 VSCAN_FLAGS_TIMESTAMP = 0x08; // a time stamp is present
// Set by the drivers on a frame that is the adapter's echo of one this
// program sent. The frame text neither writes nor reads it.
constexpr quint8 ZOR_FLAGS_ECHO = 0x80;

// Size of the packed frame record.
constexpr int ZOR_FRAME_RECORD_SIZE = 16;
