// The bootloader library stand-in: the entry points of brenkoubl.h over one
// simulated adapter in bootloader mode. The device is "attached" by a test
// (or by whatever plays the adapter that was told to enter its bootloader)
// and is only there while the simulated CAN gateway is configured, like
// every adapter of this platform. Programming checks the firmware file (an
// Intel HEX file: records with valid checksums and an end record) and then
// walks a script of statuses, one per message pump; a file that is not
// valid ends in status 8 (error).
#define ZOR_BRENKOUBL_BUILD
#include "brenkoubl.h"
#include "hexdigits.h"
#include "zorsimbusclient.h"

#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

const int32_t bootloaderVendor = 0x04D8;
const int32_t bootloaderProduct = 0x003C;

struct Device
{
    std::mutex lock;
    bool attached = false;
    bool connected = false;
    bool fileValid = false;
    bool detachAfter = true;
    std::vector<int32_t> script{2, 2, 3, 4, 4, 5, 6};
    size_t scriptPos = 0;
    int32_t status = 0;
    int32_t connects = 0, pumps = 0, inits = 0, shutdowns = 0, disconnects = 0;
    std::string programmed;

    void reset()
    {
        attached = connected = fileValid = false;
        detachAfter = true;
        script = {2, 2, 3, 4, 4, 5, 6};
        scriptPos = 0;
        status = 0;
        connects = pumps = inits = shutdowns = disconnects = 0;
        programmed.clear();
    }
};

Device &device()
{
    static Device d;
    return d;
}

// An Intel HEX file: every line a record ":" + hex pairs whose bytes sum to
// 0 modulo 256, the byte count matching, and an end-of-file record (type 1).
bool validHexFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    bool ended = false;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
            line.pop_back();
        if (line.empty())
            continue;
        if (ended || line[0] != ':' || line.size() < 11 || (line.size() - 1) % 2 != 0)
            return false;
        std::vector<int> bytes;
        for (size_t i = 1; i + 1 < line.size(); i += 2) {
            const int hi = hexdigits::value(line[i]), lo = hexdigits::value(line[i + 1]);
            if (hi < 0 || lo < 0)
                return false;
            bytes.push_back(hi * 16 + lo);
        }
        int sum = 0;
        for (int b : bytes)
            sum += b;
        if ((sum & 0xff) != 0 || int(bytes.size()) != bytes[0] + 5)
            return false;
        if (bytes[3] == 1)
            ended = true;
    }
    return ended;
}

bool parseScript(const std::string &text, std::vector<int32_t> &script)
{
    std::vector<int32_t> values;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        try {
            values.push_back(std::stoi(item));
        } catch (...) {
            return false;
        }
    }
    if (values.empty())
        return false;
    script = values;
    return true;
}

} // namespace

extern "C" {

UBL_API void mcUblInit(void)
{
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    ++d.inits;
}

UBL_API void mcUblShutdown(void)
{
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    ++d.shutdowns;
    d.connected = false;
}

UBL_API int32_t mcUblConnectAndProgram(const char *path, int32_t vendorId, int32_t productId)
{
    Device &d = device();
    const bool valid = path && validHexFile(path);
    std::lock_guard<std::mutex> guard(d.lock);
    if (!ZorSimBusClient::gatewayConfigured() || !d.attached || vendorId != bootloaderVendor
        || productId != bootloaderProduct || !path) {
        return 0;
    }
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        return 0;
    d.connected = true;
    d.fileValid = valid;
    d.scriptPos = 0;
    d.status = 1;
    d.programmed = path;
    ++d.connects;
    return 1;
}

UBL_API void mcUblDisconnect(void)
{
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    d.connected = false;
    d.status = 0;
    ++d.disconnects;
}

UBL_API void mcUblMessagePump(void)
{
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    ++d.pumps;
    if (!d.connected)
        return;
    if (!d.fileValid) {
        d.status = 8;
        return;
    }
    d.status = d.script[std::min(d.scriptPos, d.script.size() - 1)];
    ++d.scriptPos;
    if (d.status == 6 && d.detachAfter)
        d.attached = false;
}

UBL_API int32_t mcUblGetStatus(void)
{
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    return d.status;
}

UBL_API int32_t ZorUblSimControl(const char *command)
{
    if (!command)
        return -1;
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    const std::string text(command);
    if (text == "reset") {
        d.reset();
        return 0;
    }
    if (text == "attach" || text == "detach") {
        d.attached = text == "attach";
        return 0;
    }
    if (text.rfind("script ", 0) == 0)
        return parseScript(text.substr(7), d.script) ? 0 : -1;
    if (text == "detachafter 0" || text == "detachafter 1") {
        d.detachAfter = text.back() == '1';
        return 0;
    }
    return -1;
}

UBL_API int32_t ZorUblSimState(const char *what)
{
    if (!what)
        return -1;
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    const std::string key(what);
    if (key == "status")
        return d.status;
    if (key == "attached")
        return d.attached ? 1 : 0;
    if (key == "connects")
        return d.connects;
    if (key == "pumps")
        return d.pumps;
    if (key == "inits")
        return d.inits;
    if (key == "shutdowns")
        return d.shutdowns;
    if (key == "disconnects")
        return d.disconnects;
    return -1;
}

UBL_API int32_t ZorUblSimProgrammed(char *buffer, int32_t size)
{
    Device &d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    if (buffer && size > 0) {
        const size_t n = std::min(d.programmed.size(), size_t(size - 1));
        std::memcpy(buffer, d.programmed.data(), n);
        buffer[n] = 0;
    }
    return int32_t(d.programmed.size());
}

} // extern "C"
