#include "svrlib.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "paths.h"
#include "textutil.h"
#include "vtnsysctl.h"

char ourfile[256];

namespace {

// Set once ourfile holds the chosen channel; later calls read ourfile without the lock.
std::atomic<bool> gChannelChosen{false};
std::mutex gChannelLock;

const char* const kBuiltinChannels[] = {"vtnmira.status", "vtnsela.status", "vtnkora.status"};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '.';
}

// Asks the named node for the driver version; the probe's sysctl result.
int ProbeChannel(const char* name)
{
    uint32_t version = 0;
    _VTN_DRIVER_REQUEST request{};
    request.magic = VTN_DRIVER_MAGIC;
    request.code = 0xFF00;
    request.in = nullptr;
    request.inSize = 0;
    request.out = &version;
    request.outSize = sizeof version;
    request.returned = nullptr;
    return sysctlbyname(name, nullptr, nullptr, &request, sizeof request);
}

}  // namespace

int is_valid_name(char* text)
{
    if (text == nullptr)
        return -1;
    char* p = text;
    while (IsBlank(*p))
        p++;
    // A name must have at least one character before its end.
    if (*p == '\0' || *p == '\n')
        return -1;
    for (; *p != '\0'; p++) {
        if (*p == '\n' || IsBlank(*p)) {
            *p = '\0';
            return 0;
        }
        if (!IsNameChar(*p))
            return -1;
    }
    return 0;
}

int GetProcFileFromFile()
{
    std::string path = VtnPath("/etc/vtncfg");
    FILE* f = fopen(path.c_str(), "r");
    if (f == nullptr)
        return -1;
    char line[256] = {};
    // At most 254 characters of the first line.
    char* got = fgets(line, 255, f);
    fclose(f);
    if (got == nullptr)
        return -1;
    if (is_valid_name(line) != 0)
        return -1;
    const char* name = line;
    while (IsBlank(*name))
        name++;
    CopyText(ourfile, sizeof ourfile, name);
    return 0;
}

int InitVtnProcFile1(const char* name)
{
    CopyText(ourfile, sizeof ourfile, name);
    return ProbeChannel(ourfile);
}

int InitVtnProcFile()
{
    if (GetProcFileFromFile() == 0 && ProbeChannel(ourfile) == 0)
        return 0;
    for (const char* name : kBuiltinChannels) {
        if (InitVtnProcFile1(name) == 0)
            return 0;
    }
    return -1;
}

void ResetVtnProcFile()
{
    std::lock_guard<std::mutex> hold(gChannelLock);
    ourfile[0] = '\0';
    gChannelChosen.store(false, std::memory_order_release);
}

int Server_User_DeviceIoControl(uint32_t code, void* input, uint32_t inputSize, void* output,
                                uint32_t outputSize, uint32_t* returned)
{
    _VTN_DRIVER_REQUEST request{};
    request.magic = VTN_DRIVER_MAGIC;
    request.code = code;
    request.in = input;
    request.inSize = inputSize;
    request.out = output;
    request.outSize = outputSize;
    request.returned = returned;

    if (!gChannelChosen.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> hold(gChannelLock);
        if (ourfile[0] == '\0' && InitVtnProcFile() < 0)
            exit(-1);
        gChannelChosen.store(true, std::memory_order_release);
    }
    return sysctlbyname(ourfile, nullptr, nullptr, &request, sizeof request);
}
