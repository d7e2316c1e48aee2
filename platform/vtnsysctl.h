// The driver channel call: the BSD sysctlbyname signature, answered here by the simulated controller.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t VTN_DRIVER_MAGIC = 0x1a2b3c4d;

// One driver operation, passed as the new value of the channel's node (no old-value buffer).
// Pointers are native, so the request is 28 bytes on a 32-bit build and larger on a 64-bit one.
struct _VTN_DRIVER_REQUEST {
    uint32_t magic;       // VTN_DRIVER_MAGIC
    uint32_t code;        // control code, 0xFF00 and up
    void* in;             // input buffer or NULL
    uint32_t inSize;
    void* out;            // output buffer or NULL
    uint32_t outSize;
    uint32_t* returned;   // where the driver may store the bytes returned, or NULL
};

// 0 when the channel named `name` served the request, -1 otherwise (errno set).
extern "C" int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t newlen);

// Test seam: when a handler is set, sysctlbyname hands every request to it instead of the
// simulated controller. nullptr restores the simulated controller.
using VtnDriverHandler = int (*)(const char* name, const _VTN_DRIVER_REQUEST* request);
void VtnSetDriverHandler(VtnDriverHandler handler);
