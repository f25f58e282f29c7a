// Adapter plug-in interface: the nine functions every buslink_hw_<key>
// plug-in exports, its frame flags, its receive record and its result codes.
//
// A plug-in is a shared library that hides one adapter maker's library behind
// these nine plain C functions. The program loads it privately by path at
// run time (see ZorCanDriverBuslink / CanPortLibrary in canbus/) and binds the
// functions by name, so every plug-in exports exactly these names and nothing
// else. All functions use the default C calling convention, take 32-bit
// integers or pointers, and return 0 for success or a negative BUSLINK_* code.
// A plug-in never shows or logs anything; failures travel only as results.
//
// Calling order used by the program: load, canPortLibraryInit, canPortOpen,
// canPortBitrateSet, canPortGoBusOn; then from one reader thread canPortRead
// (about once a millisecond) and canPortWrite; at the end canPortGoBusOff (only
// after a successful canPortGoBusOn), canPortClose (only with a port that
// canPortOpen handed out), unload. canPortEcho is exported but the program does
// not call it.
//
// Plain C++ (no Qt): the program includes this header for the function types
// and codes; plug-ins define BUSLINK_PLUGIN to get the exported declarations.
#pragma once

#include <stdint.h>

// Frame flags of canPortWrite's argument and canPortRead's result.
enum : int32_t {
    BUSLINK_FLAG_REMOTE = 0x1,   // remote frame
    BUSLINK_FLAG_EXTENDED = 0x2, // 29-bit identifier
};

// One received frame in a plug-in's software receive ring (20 bytes).
struct CanPortFrame {
    int32_t id;       // CAN identifier, 11 or 29 bits
    uint8_t data[8];  // first len bytes are meaningful; zero for a remote frame
    int32_t len;      // data length code 0..8
    int32_t flags;    // BUSLINK_FLAG_*
};
static_assert(sizeof(CanPortFrame) == 20, "CanPortFrame is a 20-byte record");

// Result codes. The comment gives the text the program shows for each.
enum BuslinkResult : int32_t {
    BUSLINK_OK = 0,                       // ""
    BUSLINK_CAN_LAYER_FAILURE = -100,     // "CAN layer failure."
    BUSLINK_PORT_NOT_USABLE = -101,       // (no text of its own: "Unknown error")
    BUSLINK_OVERFLOW = -102,              // "Overflow in CAN layer." (ring full; internal)
    BUSLINK_HW_CONNECTED = -103,          // "Hardware is connected."
    BUSLINK_HW_NOT_CONNECTED = -104,      // "Hardware is not connected."
    BUSLINK_HW_UNDEFINED = -105,          // "Hardware is undefined."
    BUSLINK_DRIVER_ERROR = -106,          // "Driver error."
    BUSLINK_OUT_OF_INTERFACES = -107,     // "Out of CAN interfaces."
    BUSLINK_UNSUPPORTED_BITRATE = -108,   // "Unsupported bitrate."
    BUSLINK_NO_MESSAGE = -109,            // "No message."
    BUSLINK_NOT_IMPLEMENTED = -110,       // "Not implemented." (program: unbound entry)
    BUSLINK_FILE_NOT_FOUND = -111,        // "File not found."
    BUSLINK_EDS_NOT_CONFIGURED = -112,    // "EDS/DCF not configured."
    BUSLINK_ASYNC_TRANSFER = -113,        // "Asynchronous transfer."
    BUSLINK_ASYNC_ENABLED = -114,         // "Asynchronous transfer enabled."
    BUSLINK_GENERAL_ERROR = -255,         // "General error occurred."
    BUSLINK_COULD_NOT_LOAD = -1000,       // "Could not load driver" (program only)
    BUSLINK_UNKNOWN_DEVICE = -1001,       // "Unknown device type" (program only)
};

// Text of a result code; "Unknown error" for a code without one (-101 too).
inline const char *buslinkResultText(int32_t code)
{
    switch (code) {
    case BUSLINK_OK: return "";
    case BUSLINK_CAN_LAYER_FAILURE: return "CAN layer failure.";
    case BUSLINK_OVERFLOW: return "Overflow in CAN layer.";
    case BUSLINK_HW_CONNECTED: return "Hardware is connected.";
    case BUSLINK_HW_NOT_CONNECTED: return "Hardware is not connected.";
    case BUSLINK_HW_UNDEFINED: return "Hardware is undefined.";
    case BUSLINK_DRIVER_ERROR: return "Driver error.";
    case BUSLINK_OUT_OF_INTERFACES: return "Out of CAN interfaces.";
    case BUSLINK_UNSUPPORTED_BITRATE: return "Unsupported bitrate.";
    case BUSLINK_NO_MESSAGE: return "No message.";
    case BUSLINK_NOT_IMPLEMENTED: return "Not implemented.";
    case BUSLINK_FILE_NOT_FOUND: return "File not found.";
    case BUSLINK_EDS_NOT_CONFIGURED: return "EDS/DCF not configured.";
    case BUSLINK_ASYNC_TRANSFER: return "Asynchronous transfer.";
    case BUSLINK_ASYNC_ENABLED: return "Asynchronous transfer enabled.";
    case BUSLINK_GENERAL_ERROR: return "General error occurred.";
    case BUSLINK_COULD_NOT_LOAD: return "Could not load driver";
    case BUSLINK_UNKNOWN_DEVICE: return "Unknown device type";
    default: return "Unknown error";
    }
}

// Types of the nine entry points, in binding order.
extern "C" {
typedef int32_t (*CanPortLibraryInitFn)(void);
typedef int32_t (*CanPortOpenFn)(int32_t channel, int32_t *port);
typedef int32_t (*CanPortCloseFn)(int32_t port);
typedef int32_t (*CanPortBitrateSetFn)(int32_t port, int32_t bitRate);
typedef int32_t (*CanPortEchoFn)(int32_t port, int32_t on);
typedef int32_t (*CanPortGoBusOnFn)(int32_t port);
typedef int32_t (*CanPortGoBusOffFn)(int32_t port);
typedef int32_t (*CanPortWriteFn)(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                  int32_t flags);
typedef int32_t (*CanPortReadFn)(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                 int32_t *flags);
}

#ifdef BUSLINK_PLUGIN
#if defined(_WIN32)
#define BUSLINK_EXPORT extern "C" __declspec(dllexport)
#else
#define BUSLINK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// canPortLibraryInit: once after loading; frees the port table (ports still
// open by another user of the same loaded library stay), binds the vendor
// library where the plug-in needs one.
BUSLINK_EXPORT int32_t canPortLibraryInit(void);
// canPortOpen: opens adapter channel `channel`, writes the port number to *port.
BUSLINK_EXPORT int32_t canPortOpen(int32_t channel, int32_t *port);
// canPortClose: stops the port's receive thread, releases the adapter, frees the port.
BUSLINK_EXPORT int32_t canPortClose(int32_t port);
// canPortBitrateSet: 125000, 250000, 500000 or 1000000 bit/s, else -108.
BUSLINK_EXPORT int32_t canPortBitrateSet(int32_t port, int32_t bitRate);
// canPortEcho: with `on` (low byte) set, each frame sent comes back once through canPortRead.
BUSLINK_EXPORT int32_t canPortEcho(int32_t port, int32_t on);
// canPortGoBusOn / canPortGoBusOff: start and stop the CAN controller.
BUSLINK_EXPORT int32_t canPortGoBusOn(int32_t port);
BUSLINK_EXPORT int32_t canPortGoBusOff(int32_t port);
// canPortWrite: sends one frame of len (0..8) bytes; data is not read for a remote frame.
BUSLINK_EXPORT int32_t canPortWrite(int32_t port, int32_t id, const uint8_t *data, int32_t len,
                                    int32_t flags);
// canPortRead: takes at most one frame; -109 with the outputs untouched when none waits.
BUSLINK_EXPORT int32_t canPortRead(int32_t port, int32_t *id, uint8_t *data, int32_t *len,
                                   int32_t *flags);
#endif
