// An in-process driver peer for server tests: the simulated controller's model answers every
// driver call of the process, so a test builds exactly the disks and arrays it needs.
// Header-only; link vtnsvrlib (which brings vtnplatform).
#pragma once
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>

#include "global_time.h"
#include "simmodel.h"
#include "svrlib.h"
#include "vtnsysctl.h"

namespace modelpeer {

inline vtnsim::Model& TheModel()
{
    static vtnsim::Model model;
    return model;
}

inline std::mutex& TheMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Device records answered as given instead of the model's (records no sound driver would give).
inline std::map<uint32_t, _LOGICAL_DEVICE_INFO>& TheRecords()
{
    static std::map<uint32_t, _LOGICAL_DEVICE_INFO> records;
    return records;
}

inline int Handler(const char*, const _VTN_DRIVER_REQUEST* request)
{
    std::lock_guard<std::mutex> lock(TheMutex());
    uint32_t id = 0;
    if (request->code == VTN_CTL_GET_DEVICE_INFO && request->in != nullptr && request->inSize >= sizeof(id) &&
        request->out != nullptr && request->outSize >= sizeof(_LOGICAL_DEVICE_INFO)) {
        memcpy(&id, request->in, sizeof(id));
        auto given = TheRecords().find(id);
        if (given != TheRecords().end()) {
            memcpy(request->out, &given->second, sizeof(given->second));
            return 0;
        }
    }
    bool changed = false;
    int rc = TheModel().Dispatch(*request, static_cast<int64_t>(VtnNow()), &changed);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return 0;
}

// Installs the model as the driver for the life of the object, empty at first.
class Topology {
public:
    Topology()
    {
        std::lock_guard<std::mutex> lock(TheMutex());
        TheModel() = vtnsim::Model{};
        TheModel().rate = 0;   // operations stay where a test puts them
        TheRecords().clear();
        VtnSetDriverHandler(Handler);
        ResetVtnProcFile();
    }
    ~Topology()
    {
        VtnSetDriverHandler(nullptr);
        ResetVtnProcFile();
        std::lock_guard<std::mutex> lock(TheMutex());
        TheRecords().clear();
    }
    Topology(const Topology&) = delete;
    Topology& operator=(const Topology&) = delete;

    // Only while no driver call runs (the test's own thread).
    vtnsim::Model& Model() { return TheModel(); }

    uint32_t AddDisk(uint32_t id, uint8_t controller, uint8_t channel, uint8_t device, const std::string& serial,
                     const std::string& model = "VTN-DISK 80G")
    {
        vtnsim::Disk d;
        d.id = id;
        d.controller = controller;
        d.channel = channel;
        d.device = device;
        d.capacity = 80ull * 1024 * 1024 * 2;
        d.serial = serial;
        d.model = model;
        d.revision = "1.0";
        Model().disks.push_back(d);
        return id;
    }

    // The driver answers this record for id, whatever the model holds.
    void GiveRecord(uint32_t id, const _LOGICAL_DEVICE_INFO& record)
    {
        std::lock_guard<std::mutex> lock(TheMutex());
        TheRecords()[id] = record;
    }

    // An array record as a faulty driver might give it: members[0..7] as listed, the rest of the
    // list unused, and any member count.
    static _LOGICAL_DEVICE_INFO ArrayRecord(const char* name, uint8_t raidType, uint8_t memberCount,
                                            std::initializer_list<uint32_t> members, uint32_t parent = 0)
    {
        _LOGICAL_DEVICE_INFO r{};
        r.type = VTN_DEVICE_ARRAY;
        r.parent = parent;
        memcpy(r.u.array.name, name, strnlen(name, sizeof(r.u.array.name)));
        r.u.array.raidType = raidType;
        r.u.array.memberCount = memberCount;
        for (uint32_t& m : r.u.array.members)
            m = VTN_ID_NONE;
        size_t i = 0;
        for (uint32_t m : members)
            if (i < VTN_MAX_MEMBERS)
                r.u.array.members[i++] = m;
        return r;
    }

    // An array over members (disks or arrays), which it takes as their parent.
    uint32_t AddArray(uint32_t id, const std::string& name, uint8_t raidType, std::initializer_list<uint32_t> members)
    {
        vtnsim::Array a;
        a.id = id;
        a.name = name;
        a.raidType = raidType;
        a.blockCode = raidType == VTN_RAID1 ? 0 : 7;
        a.members.assign(members.begin(), members.end());
        a.capacity = 80ull * 1024 * 1024 * 2;
        for (uint32_t m : members) {
            if (vtnsim::Disk* d = Model().FindDisk(m))
                d->parent = id;
            if (vtnsim::Array* sub = Model().FindArray(m))
                sub->parent = id;
        }
        Model().arrays.push_back(a);
        return id;
    }
};

}  // namespace modelpeer
