// What the adapter sends, taken apart byte by byte as it arrives: command
// answers (CR done, BEL refused), the version, serial-number and status
// answers, transmit acknowledgements ("z"/"Z" CR) and received frames ("t",
// "T", "r", "R" lines). The receive thread feeds it whatever bytes are
// queued; it never waits for the rest of an answer, so a thread reading an
// adapter that fell silent mid-reply stops as soon as it is asked to.
//
// Answers have fixed lengths: "V" and "N" 5 more bytes, "F" 3, "z"/"Z" 1
// (the CR), a frame line its header (3 or 8 identifier digits and the length
// digit), then 2 digits a data byte (none for a remote frame) and the CR.
// A frame line whose identifier or length is not hexadecimal, whose length
// is above 8, or which does not end with CR where it should, is dropped; a
// BEL inside any answer still counts as a refusal, and the parser then waits
// for the next answer.
#pragma once

#include "buslinkplugin.h"

#include <cstdint>
#include <functional>

class LawicelReplyParser
{
public:
    struct Handlers {
        // CR (ok) or BEL (refused) answering a command or a frame.
        std::function<void(bool ok)> commandAnswer;
        // "z"/"Z" and their CR: the adapter took the frame.
        std::function<void()> transmitAnswer;
        // "V" and 4 characters, then CR (the 5 bytes after the "V").
        std::function<void(const char *text)> versionAnswer;
        // "F" and 2 hex digits, then CR (the 3 bytes after the "F").
        std::function<void(const char *text)> statusAnswer;
        // A received frame, identifier already within 11 (29) bits.
        std::function<void(const CanPortFrame &frame)> frame;
    };

    explicit LawicelReplyParser(Handlers handlers) : m_handlers(std::move(handlers)) {}

    void feed(const uint8_t *bytes, int count);
    // Forgets a partly received answer (after a failed read).
    void reset() { m_kind = 0; m_have = 0; }

private:
    void dispatch(uint8_t byte);
    void collect(uint8_t byte);
    void finish();

    Handlers m_handlers;
    char m_kind = 0;       // first byte of the answer being collected; 0 none
    int m_need = 0;        // bytes after the first that the answer has
    int m_have = 0;
    uint8_t m_buffer[32];  // the bytes after the first
    bool m_headerDone = false;
};
