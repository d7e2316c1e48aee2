// The simulated controller behind the driver channel, and its control API for tests and vtnsim.
// State lives in one JSON file (VTN_SIM_STATE, else VtnPath("/var/db/vtnsim.json")), read and
// written under a lock, so several processes can share it.
#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "vtnsysctl.h"

namespace vtnsim {
class Model;
}

// Serves one driver request on channel `name`: 0, or -1 with errno set (ENOENT: no such channel
// or no state file; EINVAL: bad request; ENODEV: unknown device; EIO: refused). Writes nothing on
// failure and never past an output size.
int VtnSimCall(const char* name, const _VTN_DRIVER_REQUEST* request);

// The state file in use. The processes using it share a file beside it (state path +
// ".shared") with their lock and the log of the calls received.
std::string VtnSimStatePath();

// Virtual clock of this process: seconds since the epoch, or 0 for the real clock.
// The state's "clock_offset" is added to either.
void VtnSimSetTime(int64_t t);
void VtnSimAdvanceTime(int64_t seconds);
int64_t VtnSimNow();

// Tool operations. Each returns true and a sentence of what it did in *message, or false and the
// reason in *message.
bool VtnSimInit(const std::string& preset, std::string* message);
bool VtnSimShow(bool asJson, std::string* message);
bool VtnSimFail(uint32_t id, std::string* message);
bool VtnSimPull(uint32_t id, std::string* message);
bool VtnSimPlug(int controller, int channel, int device, uint64_t sizeGb, uint32_t* newId, std::string* message);
bool VtnSimProgress(uint32_t arrayId, double percent, std::string* message);
bool VtnSimFinish(uint32_t arrayId, std::string* message);
// A raw event; `name` (kinds 14 and 15) takes the place of the flag when not empty.
bool VtnSimEvent(uint8_t kind, uint32_t device, uint8_t flag, const std::string& name, std::string* message);
bool VtnSimSetVersion(uint32_t version, std::string* message);
bool VtnSimSetChannel(const std::string& name, std::string* message);
bool VtnSimSetRate(uint64_t sectorsPerSecond, std::string* message);
bool VtnSimFailNext(uint32_t code, uint32_t count, std::string* message);
bool VtnSimReboot(std::string* message);
// Moves the clock of every process that uses the state (the state's "clock_offset").
bool VtnSimAdvanceStateClock(int64_t seconds, std::string* message);

// One received call, as the log keeps it.
struct VtnSimCallRecord {
    int64_t time = 0;
    std::string channel;
    uint32_t code = 0;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    int result = 0;   // 0, or the errno of the refusal
};
// The calls received since the last init, oldest first: the newest kVtnSimCallLogSize of them.
constexpr uint32_t kVtnSimCallLogSize = 4096;
std::vector<VtnSimCallRecord> VtnSimCallLog();
bool VtnSimLogText(std::string* message);

// Runs `change` on the model under the lock and stores the state when it returns true.
// For tests that need a state no command makes.
bool VtnSimEdit(const std::function<bool(vtnsim::Model&, int64_t now, std::string* message)>& change,
                std::string* message);
