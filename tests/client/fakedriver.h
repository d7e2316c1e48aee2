// A recording fake of the driver calls the device model makes, bound into the client's function
// table, with the records of boxes and event rows that damfake.h's stand-ins fill (a program that
// links the GUI has the real message box and event rows and leaves them empty).
#pragma once
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "client.h"
#include "dam.h"
#include "drvrec.h"
#include "global_log.h"
#include "textutil.h"

struct ShownBox {
    std::string text, title;
    bool withCancel;
};
struct EventRow {
    char severity;
    std::string time, text;
};

inline std::vector<ShownBox> gShownBoxes;
inline std::vector<EventRow> gEventRows;

// The controller the model sees: devices by id, top-level order, every request it received.
class FakeDriver {
public:
    uint32_t version = 0x01000100;
    int channels = 4;                 // of controller 0; -1: the controller read fails
    bool capsFail = false;
    _DRIVER_CAPABILITIES caps{};
    std::map<uint32_t, _LOGICAL_DEVICE_INFO_V2> devices;
    std::vector<uint32_t> top;        // top-level ids in order
    std::set<uint32_t> unreadable;    // ids whose information read fails
    std::set<int> failCreate;         // creation calls (counted from 0) that fail
    bool failSpare = false, failDelete = false, failDedicated = false;
    int saveLogResult = 0;            // what the log request answers; 0: a valid stamp
    uint32_t nextId = 100;

    std::vector<_CREATE_ARRAY_PARAMS_V2> creates;
    std::vector<std::pair<uint32_t, uint32_t>> deletes;    // id, flag
    std::vector<std::string> spareCalls;                   // "add 3", "remove 3", "dedicated 9 3"
    std::vector<_VTN_LOG_EVENT> savedLog;
    std::vector<std::pair<uint32_t, _ALTERABLE_ARRAY_INFO>> renames;
    std::vector<std::pair<uint32_t, _ALTERABLE_DEVICE_INFO_V2>> settings;
    int versionCalls = 0, controllerCalls = 0, capsCalls = 0, rebootCalls = 0;
    int rebootResult = 0;

    static FakeDriver*& Current()
    {
        static FakeDriver* current = nullptr;
        return current;
    }

    FakeDriver()
    {
        Current() = this;
        cs_vtn_client_init();
        Bind(&gFuncs);
        handle = 0;
        gShownBoxes.clear();
        gEventRows.clear();
        caps.size = sizeof caps;
    }
    ~FakeDriver()
    {
        Current() = nullptr;
        handle = -1;
        cs_vtn_client_init();
    }

    // ---- building the topology ----
    uint32_t Disk(uint32_t id, int controller, int channel, int device, uint64_t gb, const char* model = "Disk",
                  uint32_t status = 0, bool topLevel = true)
    {
        _LOGICAL_DEVICE_INFO_V2 d{};
        d.type = VTN_DEVICE_DISK;
        d.capacity = gb * 2097152ull;
        d.parent = VTN_ID_NONE;
        d.u.disk.controller = static_cast<uint8_t>(controller);
        d.u.disk.channel = static_cast<uint8_t>(channel);
        d.u.disk.device = static_cast<uint8_t>(device);
        d.u.disk.status = status;
        CopyField(d.u.disk.model, sizeof d.u.disk.model, model, strlen(model));
        devices[id] = d;
        if (topLevel)
            top.push_back(id);
        return id;
    }

    uint32_t Array(uint32_t id, const char* name, uint8_t type, std::vector<uint32_t> members, uint32_t status = 0,
                   uint8_t block = 7, bool topLevel = true)
    {
        _LOGICAL_DEVICE_INFO_V2 a{};
        a.type = VTN_DEVICE_ARRAY;
        a.parent = 0;
        // A 16-character name fills the field without a terminator, as the driver stores it.
        memcpy(a.u.array.name, name, strlen(name) < sizeof a.u.array.name ? strlen(name) : sizeof a.u.array.name);
        a.u.array.raidType = type;
        a.u.array.blockCode = block;
        a.u.array.memberCount = static_cast<uint8_t>(members.size());
        a.u.array.status = status;
        for (auto& m : a.u.array.members)
            m = VTN_ID_NONE;
        uint64_t sum = 0, least = ~0ull;
        for (size_t i = 0; i < members.size() && i < 16; ++i) {
            a.u.array.members[i] = members[i];
            auto it = devices.find(members[i]);
            if (it == devices.end())
                continue;
            it->second.parent = id;
            sum += it->second.capacity;
            least = it->second.capacity < least ? it->second.capacity : least;
            Untop(members[i]);
        }
        const size_t n = members.size();
        a.capacity = n == 0 ? 0
                     : type == VTN_RAID1 ? (n > 2 ? least * (n / 2) : least)
                     : type == VTN_RAID5 ? least * (n - 1)
                                         : sum;
        devices[id] = a;
        if (topLevel)
            top.push_back(id);
        return id;
    }

    void Untop(uint32_t id)
    {
        for (size_t i = 0; i < top.size(); ++i)
            if (top[i] == id) {
                top.erase(top.begin() + static_cast<long>(i));
                return;
            }
    }

    std::vector<std::string> LogTexts() const
    {
        std::vector<std::string> out;
        for (const auto& e : savedLog)
            out.emplace_back(e.text);
        return out;
    }

    // ---- the bound slots ----
    static void Bind(_CS_FUNCTION_TABLE* t)
    {
        t->get_version = [](int) -> unsigned int {
            ++F().versionCalls;
            return F().version;
        };
        t->get_driver_capabilities = [](int, _DRIVER_CAPABILITIES* c) -> int {
            ++F().capsCalls;
            if (c == nullptr || c->size != sizeof *c || F().capsFail)
                return -1;
            *c = F().caps;
            return 0;
        };
        t->get_controller_info = [](int, int controller, _CONTROLLER_INFO* info) -> int {
            ++F().controllerCalls;
            if (controller != 0 || F().channels < 0)
                return static_cast<int>(0xC0000008u);
            memset(info, 0, sizeof *info);
            info->channels = static_cast<uint8_t>(F().channels);
            return 0;
        };
        t->get_logical_devices = [](int, unsigned int* ids, int max) -> int {
            int n = 0;
            for (uint32_t id : F().top)
                if (n < max)
                    ids[n++] = id;
            return n;
        };
        t->get_device_info = [](int, unsigned int id, _LOGICAL_DEVICE_INFO_V2* info) -> int {
            auto it = F().devices.find(id);
            if (it == F().devices.end() || F().unreadable.count(id))
                return static_cast<int>(0xC0000008u);
            *info = it->second;
            return 0;
        };
        t->create_array = [](int, _CREATE_ARRAY_PARAMS_V2* p) -> unsigned int {
            FakeDriver& f = F();
            const int call = static_cast<int>(f.creates.size());
            f.creates.push_back(*p);
            if (f.failCreate.count(call))
                return 0;
            const uint32_t id = f.nextId++;
            char name[17];
            CopyField(name, sizeof name, p->name, sizeof p->name);
            std::vector<uint32_t> members(p->members, p->members + (p->memberCount > 16 ? 16 : p->memberCount));
            f.Array(id, name, p->raidType, members, 0, p->blockCode);
            return id;
        };
        t->delete_array = [](int, unsigned int id, unsigned int flag) -> int {
            F().deletes.push_back({id, flag});
            if (F().failDelete)
                return -1;
            F().devices.erase(id);
            F().Untop(id);
            return 0;
        };
        t->add_spare_disk = [](int, unsigned int disk) -> int {
            F().spareCalls.push_back("add " + std::to_string(disk));
            return F().failSpare ? static_cast<int>(0xC0000008u) : 0;
        };
        t->remove_spare_disk = [](int, unsigned int disk) -> int {
            F().spareCalls.push_back("remove " + std::to_string(disk));
            return F().failSpare ? static_cast<int>(0xC0000008u) : 0;
        };
        t->add_dedicated_spare = [](int, unsigned int array, unsigned int disk) -> int {
            F().spareCalls.push_back("dedicated " + std::to_string(array) + " " + std::to_string(disk));
            return F().failDedicated ? static_cast<int>(0xC0000008u) : 0;
        };
        t->set_array_info = [](int, unsigned int id, _ALTERABLE_ARRAY_INFO* a) -> int {
            F().renames.push_back({id, *a});
            return 0;
        };
        t->set_device_info_v2 = [](int, unsigned int id, _ALTERABLE_DEVICE_INFO_V2* d) -> int {
            F().settings.push_back({id, *d});
            return 0;
        };
        t->reboot_server = [](int) -> int {
            ++F().rebootCalls;
            return F().rebootResult;
        };
        t->save_log_event = [](int, _VTN_LOG_EVENT* e) -> int {
            F().savedLog.push_back(*e);
            return F().saveLogResult;
        };
    }

private:
    static FakeDriver& F() { return *Current(); }
};

// A valid time record as the server's stamp: 03/07/2025 14:05:09.
inline int StampMarch7()
{
    _TIME_RECORD t{};
    t.year = 25;
    t.month = 3;
    t.day = 7;
    t.hour = 14;
    t.minute = 5;
    t.second = 9;
    return static_cast<int>(TimeRecordValue(t));
}
