// The sysctlbyname stand-in: hands each driver request to the simulated controller
// (or to the handler a test installed).
#include "vtnsysctl.h"

#include <atomic>
#include <cerrno>

#include "simctl.h"

namespace {
std::atomic<VtnDriverHandler> gHandler{nullptr};
}

void VtnSetDriverHandler(VtnDriverHandler handler)
{
    gHandler.store(handler);
}

extern "C" int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t newlen)
{
    // A driver write carries the request as the new value and reads nothing back.
    if (name == nullptr || oldp != nullptr || oldlenp != nullptr || newp == nullptr ||
        newlen != sizeof(_VTN_DRIVER_REQUEST)) {
        errno = EINVAL;
        return -1;
    }
    const auto* request = static_cast<const _VTN_DRIVER_REQUEST*>(newp);
    if (VtnDriverHandler handler = gHandler.load())
        return handler(name, request);
    return VtnSimCall(name, request);
}
