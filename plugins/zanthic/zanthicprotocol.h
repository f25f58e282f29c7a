// The Zanthic adapter's request-and-answer protocol over its bulk OUT and
// bulk IN endpoints, and the table of the ten device numbers.
//
// Every request is one bulk OUT transfer: byte 0 is 0, byte 1 the request
// code. Every answer is one bulk IN transfer of at most 100 bytes whose
// first byte is the request code + 1. Requests: information (2), reset (4),
// bit rate and start (6, then the rate code), transmit (16, then the
// identifier word with bit 31 for 29 bits and bit 30 for remote, most
// significant byte first, a 0, the length and the data bytes, or as many
// zeros for a remote frame), receive (20).
//
// Results: 1 done, 0 done with nothing to report (a receive without a frame,
// a transmit the adapter did not take), -3 argument out of range (device
// number above 9, length above 8, unknown bit rate), -4 unexpected answer
// (also a failed transfer or no answer), -11 the device could not be opened.
//
// The requests of one device are serialised, so two ports on one device, or
// a receive thread and a caller, never take each other's answers. An answer
// to an earlier request that arrives late (its request gave up waiting) is
// skipped, so one late answer does not put every later one out of step.
#pragma once

#include "buslinkplugin.h"

#include <cstdint>
#include <functional>

class CCyUSBDevice;

class ZanthicProtocol
{
public:
    enum Result { Done = 1, Nothing = 0, OutOfRange = -3, UnexpectedAnswer = -4, NotOpened = -11 };
    static constexpr int DeviceCount = 10;
    static constexpr int MaxAnswer = 100;
    // Device-interface class of the adapter's USB driver.
    static const char *interfaceClass() { return "{8A483AE3-1662-4FE2-88DD-CA1AD2A6387F}"; }

    using KeepGoing = std::function<bool()>;

    // The open device with this number, opened on first use and kept until
    // the library is unloaded: Done, OutOfRange or NotOpened.
    static int getDevice(int number, CCyUSBDevice **device);

    // One request and its answer (answer code checked). answerTimeoutMs < 0:
    // the endpoint's time-out; keepGoing false ends the wait early.
    static int request(int number, const uint8_t *bytes, int length, uint8_t *answer, int *answerLength,
                       int answerTimeoutMs = -1, const KeepGoing &keepGoing = nullptr);

    static int information(int number);
    static int reset(int number, int answerTimeoutMs = -1);
    // 10, 20, 50, 100, 125, 250, 500, 800 or 1000 kbit/s, else OutOfRange.
    static int bitRateAndStart(int number, int kbits);
    // Done when the adapter took the frame, Nothing when it refused it.
    static int transmit(int number, int32_t id, int32_t flags, const uint8_t *data, int32_t length);
    // Done with a frame in *frame (identifier masked to 11 or 29 bits),
    // Nothing without one; a frame longer than 8 bytes or cut short is
    // dropped (Nothing).
    static int receive(int number, CanPortFrame *frame, int answerTimeoutMs = -1,
                       const KeepGoing &keepGoing = nullptr);

    // Makes the device table now (it closes its devices when the library is
    // unloaded, in the reverse order of the library's statics).
    static void prepare();
};
