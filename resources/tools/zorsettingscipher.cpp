// zorsettingscipher: enciphers a settings file for the program's resource
// files, the inverse of the program's decipher routine.
//
//   zorsettingscipher <plain settings file> <enciphered output file>
//
// Each plain byte is combined with a byte of the configuration key (chosen
// by a chain of indexes) and with the previous enciphered byte; the result is
// written as lower-case hexadecimal text.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char kKey[] = "TeakOrchids";
const int kKeyLength = 11;

std::string encipher(const std::string &plain)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(plain.size() * 2);
    int k = 0;
    unsigned char prev = 0;
    for (std::size_t i = 1; i <= plain.size(); ++i) {
        k = (static_cast<unsigned char>(kKey[k]) + static_cast<int>(i % kKeyLength)) % kKeyLength;
        const unsigned char c = static_cast<unsigned char>(plain[i - 1])
                                ^ static_cast<unsigned char>(kKey[k]) ^ prev;
        out += hex[c >> 4];
        out += hex[c & 0x0f];
        prev = c;
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <plain settings file> <enciphered output file>\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read '%s'\n", argv[0], argv[1]);
        return 1;
    }
    const std::string plain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << encipher(plain);
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write '%s'\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
