// Hex digits of the ASCII frame lines ("t1232aabb"): reading a fixed number
// of them and writing a value as lower-case digits. Header only and plain
// C++ without Qt, so that the plug-ins, the stand-in layers (platform/) and
// the program's own adapter protocol share one reading of the same text.
#pragma once

#include <cstdint>

namespace hexdigits {

// Value of one hex digit in either case, or -1 for any other character.
// Takes char and uint8_t alike: a byte above 0x7f is no digit either way.
inline int value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Value of exactly `digits` hex digits at text (at most 15), or -1 when one
// of them is not a hex digit.
template <typename Char>
int64_t number(const Char *text, int digits)
{
    int64_t result = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = value(text[i]);
        if (v < 0)
            return -1;
        result = result * 16 + v;
    }
    return result;
}

// Appends the low `digits` hex digits of value, lower case, most significant
// first, to anything with push_back(char) (QByteArray, std::string).
template <typename Out>
void append(Out &out, uint32_t value, int digits)
{
    static const char lower[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out.push_back(lower[(value >> shift) & 0xf]);
}

} // namespace hexdigits
