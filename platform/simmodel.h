// The simulated controller's model: controllers, disks, arrays, running operations and the
// event queue, with the answers to every control code. Pure in-memory; simctl.cpp loads and
// stores it.
#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "drvrec.h"
#include "vtnsysctl.h"

namespace vtnsim {

struct Controller {
    std::string name;
    std::string manufacturer;
    uint8_t interrupt = 10;
    uint8_t channels = 4;
    uint8_t devicesPerChannel = 1;   // 2 on a parallel ATA channel (master, slave)
    uint8_t busBits = VTN_BUS_ATA150;
};

// A controller of the simulation's maker.
Controller MakeController(const std::string& name, uint8_t channels, uint8_t perChannel, uint8_t bus, uint8_t irq);

struct Disk {
    uint32_t id = 0;
    uint8_t controller = 0;
    uint8_t channel = 0;
    uint8_t device = 0;
    uint64_t capacity = 0;           // sectors
    uint8_t transferMode = 15;
    uint8_t features = 0;
    uint32_t flags = 0;              // stored bits: bootable, no device number, spare
    bool failed = false;
    bool present = true;             // false once pulled; kept while it still sits in an array
    uint32_t parent = VTN_ID_NONE;   // array it belongs to (member or dedicated spare)
    std::string serial;
    std::string model;
    std::string revision;
    std::array<uint8_t, 5> alterable{};
    std::array<uint8_t, 16> qzr{};
    bool locked = false;
    uint32_t lockLba = 0;
    uint8_t lockCount = 0;
};

enum class Op { None, Rebuild, Duplicate, Verify, Init };

struct Array {
    uint32_t id = 0;
    std::string name;
    uint8_t raidType = VTN_RAID0;
    uint8_t blockCode = 0;
    std::vector<uint32_t> members;
    uint32_t spare = VTN_ID_NONE;    // dedicated spare
    uint32_t parent = VTN_ID_NONE;
    uint64_t capacity = 0;
    uint32_t flags = 0;              // stored bits: need rebuild, bootable, not available
    Op op = Op::None;
    Op pending = Op::None;           // what a start-rebuild request runs while 0x2 is set
    int staleSlot = -1;              // member slot whose data is not in sync
    uint64_t opBase = 0;             // sectors done when opStart was taken
    int64_t opStart = 0;
    bool inconsistent = false;       // a verify of this array reports event 17
    std::array<uint8_t, 5> alterable{};
    std::array<uint8_t, 16> qzr{};
    bool locked = false;
    uint32_t lockLba = 0;
    uint8_t lockCount = 0;
};

struct Event {
    int64_t time = 0;
    uint32_t device = 0;
    uint8_t kind = 0;
    uint8_t flag = 0;
    std::string name;
};

struct Caps {
    uint8_t crossController = 0;
    uint8_t minBlockCode = 4;
    uint8_t maxBlockCode = 8;
    uint8_t sparePool = 1;
    uint8_t maxNameLength = 15;
    uint8_t dedicatedSpare = 1;
    std::vector<std::pair<uint8_t, uint8_t>> types;   // RAID type code, largest member count
};

constexpr size_t kMaxEvents = 256;

class Model {
public:
    uint32_t version = 0x01000100;
    std::vector<std::string> channels{"vtnmira.status"};
    uint64_t rate = 1000000;          // sectors per second of every running operation
    int64_t clockOffset = 0;          // seconds added to the clock (for other processes' tests)
    bool newArraysUnavailable = true; // a new array is "not available" until reboot
    uint32_t nextId = 1;
    Caps caps;
    std::vector<Controller> controllers;
    std::vector<Disk> disks;
    std::vector<Array> arrays;
    std::deque<Event> events;
    std::vector<std::pair<uint32_t, uint32_t>> failNext;   // control code, calls left to fail

    // --- persistence -------------------------------------------------------------------------
    nlohmann::json ToJson() const;
    // False with *error set when the text is not a state this model understands.
    bool FromJson(const nlohmann::json& j, std::string* error);
    // Builds a preset; false for an unknown name.
    bool LoadPreset(const std::string& name);

    // --- the driver --------------------------------------------------------------------------
    // Answers one request at time `now`. 0 or an errno value; on failure nothing was written.
    // *changed tells whether the state changed.
    int Dispatch(const _VTN_DRIVER_REQUEST& request, int64_t now, bool* changed);
    // Completes operations whose time has come. True when something changed.
    bool Advance(int64_t now);

    // --- what the tool does to the hardware --------------------------------------------------
    bool FailDevice(uint32_t id, int64_t now, std::string* error);
    bool PullDevice(uint32_t id, int64_t now, std::string* error);
    bool PlugDisk(int controller, int channel, int device, uint64_t sizeGb, int64_t now,
                  uint32_t* newId, std::string* error);
    bool SetProgress(uint32_t arrayId, double percent, int64_t now, std::string* error);
    bool FinishOperation(uint32_t arrayId, int64_t now, std::string* error);
    void PushEvent(uint8_t kind, uint32_t device, uint8_t flag, const std::string& name, int64_t now);
    void SetRate(uint64_t sectorsPerSecond, int64_t now);
    int Reboot();   // number of arrays made available
    std::string Describe(int64_t now) const;

    // --- reads (also for tests) --------------------------------------------------------------
    Disk* FindDisk(uint32_t id);
    Array* FindArray(uint32_t id);
    const Disk* FindDisk(uint32_t id) const;
    const Array* FindArray(uint32_t id) const;
    uint32_t ArrayStatus(const Array& a) const;
    uint32_t DiskStatus(const Disk& d) const;
    uint32_t Progress(const Array& a, int64_t now) const;
    std::vector<uint32_t> TopLevel() const;
    void FillDeviceInfo(uint32_t id, _LOGICAL_DEVICE_INFO_V2* out, int64_t now) const;

private:
    int Call(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
             int64_t now, bool* changed);
    int CreateArray(const _CREATE_ARRAY_PARAMS_V2& p, unsigned slots, int64_t now, uint32_t* newId);
    int DeleteArray(uint32_t id, bool withMemberArrays);
    int SetArrayState(uint32_t id, uint32_t state, int64_t now);
    int AddDiskToArray(uint32_t arrayId, uint32_t diskId, int64_t now);
    int AddDedicatedSpare(uint32_t arrayId, uint32_t diskId);
    int AddPoolSpare(uint32_t diskId);
    int RemoveSpare(uint32_t diskId);
    int SetDeviceInfoV2(uint32_t id, const _ALTERABLE_DEVICE_INFO_V2& rec);
    int SetArrayName(uint32_t id, const _ALTERABLE_ARRAY_INFO& rec);

    uint32_t NewId();
    uint8_t MaxMembers(uint8_t typeCode) const;   // 0 when the type is not offered
    bool MemberBad(uint32_t id) const;
    uint64_t MemberSize(const Array& a) const;    // what one member must hold
    bool MirrorOfStripes(const Array& a) const;   // RAID 1 over RAID 0 arrays of disks
    uint64_t SpareNeed(const Array& a) const;     // what a spare of the array must hold
    uint64_t OpTotal(const Array& a) const;
    uint64_t Done(const Array& a, int64_t now) const;   // sectors done, at most the total
    int DiskControllerOf(uint32_t id) const;      // -1 mixed or none
    void CollectDiskControllers(uint32_t id, std::vector<int>* out) const;
    bool DiskIsFree(const Disk& d) const;
    bool DiskIsFreeOrPoolSpare(const Disk& d) const;
    void StartOp(Array& a, Op op, int64_t now);
    void EndOp(Array& a);
    void Complete(Array& a, int64_t now);
    void Queue(uint8_t kind, uint32_t device, int64_t now, uint8_t flag = 0, const std::string& name = {});
    // Takes a failing member out of its slot: a failed disk becomes a free disabled disk,
    // a pulled one disappears.
    void ReleaseReplacedDisk(uint32_t diskId);
    void RemoveDisk(uint32_t id);
    void RemoveArrayRecord(uint32_t id);
    void MemberLost(uint32_t arrayId, int64_t now);
    bool TakeOverSpare(Array& a, int64_t now);
};

const char* OpName(Op op);

// True for a control that changes the model in several steps, so that a refusal half-way could
// leave part of a change behind: the caller runs it on a copy of the model.
bool NeedsCopy(uint32_t code);

}  // namespace vtnsim
