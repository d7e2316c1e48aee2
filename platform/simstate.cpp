// The simulated controller's state as JSON, the presets, and the text of `vtnsim show`.
#include <algorithm>
#include <cstdio>
#include <set>

#include "simmodel.h"
#include "textutil.h"

namespace vtnsim {

using nlohmann::json;

namespace {

uint32_t IdOut(uint32_t id) { return id == VTN_ID_NONE ? 0 : id; }
uint32_t IdIn(uint32_t id) { return id == 0 ? VTN_ID_NONE : id; }

Op OpFromName(const std::string& s)
{
    if (s == "rebuild") return Op::Rebuild;
    if (s == "duplicate") return Op::Duplicate;
    if (s == "verify") return Op::Verify;
    if (s == "init") return Op::Init;
    return Op::None;
}

template <size_t N>
json Bytes(const std::array<uint8_t, N>& b)
{
    return json(std::vector<int>(b.begin(), b.end()));
}

template <size_t N>
void BytesIn(const json& j, const char* key, std::array<uint8_t, N>* out)
{
    out->fill(0);
    if (!j.contains(key))
        return;
    const auto v = j.at(key).get<std::vector<int>>();
    for (size_t i = 0; i < N && i < v.size(); ++i)
        (*out)[i] = static_cast<uint8_t>(v[i]);
}

uint32_t VersionIn(const json& v)
{
    if (v.is_string())
        return static_cast<uint32_t>(std::stoul(v.get<std::string>(), nullptr, 0));
    return v.get<uint32_t>();
}

}  // namespace

json Model::ToJson() const
{
    json j;
    char hex[16];
    FormatText(hex, sizeof hex, "0x%08X", version);
    j["version"] = hex;
    j["channels"] = channels;
    j["rate"] = rate;
    j["clock_offset"] = clockOffset;
    j["new_arrays_unavailable"] = newArraysUnavailable;
    j["next_id"] = nextId;
    json types = json::array();
    for (const auto& [code, count] : caps.types)
        types.push_back({code, count});
    j["caps"] = {{"cross_controller", caps.crossController}, {"min_block", caps.minBlockCode},
                 {"max_block", caps.maxBlockCode},           {"spare_pool", caps.sparePool},
                 {"max_name", caps.maxNameLength},           {"dedicated_spare", caps.dedicatedSpare},
                 {"types", types}};
    j["controllers"] = json::array();
    for (const auto& c : controllers)
        j["controllers"].push_back({{"name", c.name},
                                    {"manufacturer", c.manufacturer},
                                    {"interrupt", c.interrupt},
                                    {"channels", c.channels},
                                    {"devices_per_channel", c.devicesPerChannel},
                                    {"bus_bits", c.busBits}});
    j["disks"] = json::array();
    for (const auto& d : disks)
        j["disks"].push_back({{"id", d.id},
                              {"controller", d.controller},
                              {"channel", d.channel},
                              {"device", d.device},
                              {"capacity", d.capacity},
                              {"transfer_mode", d.transferMode},
                              {"features", d.features},
                              {"flags", d.flags},
                              {"failed", d.failed},
                              {"present", d.present},
                              {"parent", IdOut(d.parent)},
                              {"serial", d.serial},
                              {"model", d.model},
                              {"revision", d.revision},
                              {"alterable", Bytes(d.alterable)},
                              {"qzr", Bytes(d.qzr)},
                              {"locked", d.locked},
                              {"lock_lba", d.lockLba},
                              {"lock_count", d.lockCount}});
    j["arrays"] = json::array();
    for (const auto& a : arrays)
        j["arrays"].push_back({{"id", a.id},
                               {"name", a.name},
                               {"raid_type", a.raidType},
                               {"block", a.blockCode},
                               {"members", a.members},
                               {"spare", IdOut(a.spare)},
                               {"parent", IdOut(a.parent)},
                               {"capacity", a.capacity},
                               {"flags", a.flags},
                               {"op", OpName(a.op)},
                               {"pending", OpName(a.pending)},
                               {"stale_slot", a.staleSlot},
                               {"op_base", a.opBase},
                               {"op_start", a.opStart},
                               {"inconsistent", a.inconsistent},
                               {"alterable", Bytes(a.alterable)},
                               {"qzr", Bytes(a.qzr)},
                               {"locked", a.locked},
                               {"lock_lba", a.lockLba},
                               {"lock_count", a.lockCount}});
    j["events"] = json::array();
    for (const auto& e : events)
        j["events"].push_back(
            {{"time", e.time}, {"device", e.device}, {"kind", e.kind}, {"flag", e.flag}, {"name", e.name}});
    j["fail_next"] = json::array();
    for (const auto& [code, count] : failNext)
        j["fail_next"].push_back({code, count});
    return j;
}

bool Model::FromJson(const json& j, std::string* error)
{
    Model m;
    try {
        m.version = j.contains("version") ? VersionIn(j.at("version")) : m.version;
        m.channels = j.value("channels", m.channels);
        m.rate = j.value("rate", m.rate);
        m.clockOffset = j.value("clock_offset", m.clockOffset);
        m.newArraysUnavailable = j.value("new_arrays_unavailable", m.newArraysUnavailable);
        m.nextId = j.value("next_id", m.nextId);
        if (j.contains("caps")) {
            const json& c = j.at("caps");
            m.caps.crossController = c.value("cross_controller", m.caps.crossController);
            m.caps.minBlockCode = c.value("min_block", m.caps.minBlockCode);
            m.caps.maxBlockCode = c.value("max_block", m.caps.maxBlockCode);
            m.caps.sparePool = c.value("spare_pool", m.caps.sparePool);
            m.caps.maxNameLength = c.value("max_name", m.caps.maxNameLength);
            m.caps.dedicatedSpare = c.value("dedicated_spare", m.caps.dedicatedSpare);
            for (const auto& t : c.value("types", json::array()))
                m.caps.types.emplace_back(t.at(0).get<uint8_t>(), t.at(1).get<uint8_t>());
        }
        for (const auto& c : j.value("controllers", json::array())) {
            Controller x;
            x.name = c.value("name", x.name);
            x.manufacturer = c.value("manufacturer", x.manufacturer);
            x.interrupt = c.value("interrupt", x.interrupt);
            x.channels = c.value("channels", x.channels);
            x.devicesPerChannel = c.value("devices_per_channel", x.devicesPerChannel);
            x.busBits = c.value("bus_bits", x.busBits);
            m.controllers.push_back(x);
        }
        for (const auto& d : j.value("disks", json::array())) {
            Disk x;
            x.id = d.at("id").get<uint32_t>();
            x.controller = d.value("controller", x.controller);
            x.channel = d.value("channel", x.channel);
            x.device = d.value("device", x.device);
            x.capacity = d.value("capacity", x.capacity);
            x.transferMode = d.value("transfer_mode", x.transferMode);
            x.features = d.value("features", x.features);
            x.flags = d.value("flags", x.flags);
            x.failed = d.value("failed", x.failed);
            x.present = d.value("present", x.present);
            x.parent = IdIn(d.value("parent", 0u));
            x.serial = d.value("serial", x.serial);
            x.model = d.value("model", x.model);
            x.revision = d.value("revision", x.revision);
            BytesIn(d, "alterable", &x.alterable);
            BytesIn(d, "qzr", &x.qzr);
            x.locked = d.value("locked", x.locked);
            x.lockLba = d.value("lock_lba", x.lockLba);
            x.lockCount = d.value("lock_count", x.lockCount);
            m.disks.push_back(x);
        }
        for (const auto& a : j.value("arrays", json::array())) {
            Array x;
            x.id = a.at("id").get<uint32_t>();
            x.name = a.value("name", x.name);
            x.raidType = a.value("raid_type", x.raidType);
            x.blockCode = a.value("block", x.blockCode);
            x.members = a.value("members", x.members);
            x.spare = IdIn(a.value("spare", 0u));
            x.parent = IdIn(a.value("parent", 0u));
            x.capacity = a.value("capacity", x.capacity);
            x.flags = a.value("flags", x.flags);
            x.op = OpFromName(a.value("op", std::string("none")));
            x.pending = OpFromName(a.value("pending", std::string("none")));
            x.staleSlot = a.value("stale_slot", x.staleSlot);
            x.opBase = a.value("op_base", x.opBase);
            x.opStart = a.value("op_start", x.opStart);
            x.inconsistent = a.value("inconsistent", x.inconsistent);
            BytesIn(a, "alterable", &x.alterable);
            BytesIn(a, "qzr", &x.qzr);
            x.locked = a.value("locked", x.locked);
            x.lockLba = a.value("lock_lba", x.lockLba);
            x.lockCount = a.value("lock_count", x.lockCount);
            m.arrays.push_back(x);
        }
        for (const auto& e : j.value("events", json::array())) {
            Event x;
            x.time = e.value("time", x.time);
            x.device = e.value("device", x.device);
            x.kind = e.value("kind", x.kind);
            x.flag = e.value("flag", x.flag);
            x.name = e.value("name", x.name);
            m.events.push_back(x);
        }
        while (m.events.size() > kMaxEvents)
            m.events.pop_front();   // a hand-made state obeys the queue's bound too
        for (const auto& f : j.value("fail_next", json::array()))
            m.failNext.emplace_back(f.at(0).get<uint32_t>(), f.at(1).get<uint32_t>());
    } catch (const std::exception& e) {
        *error = std::string("bad state: ") + e.what();
        return false;
    }

    // The model trusts these links; check them once here.
    std::set<uint32_t> ids;
    auto fail = [&](const std::string& what) {
        *error = "bad state: " + what;
        return false;
    };
    for (const auto& d : m.disks) {
        if (d.id == 0 || d.id == VTN_ID_NONE || !ids.insert(d.id).second)
            return fail("disk id " + std::to_string(d.id) + " is invalid or repeated");
        if (d.controller >= m.controllers.size() || d.channel >= m.controllers[d.controller].channels)
            return fail("disk " + std::to_string(d.id) + " sits on no channel of this state");
    }
    for (const auto& a : m.arrays) {
        if (a.id == 0 || a.id == VTN_ID_NONE || !ids.insert(a.id).second)
            return fail("array id " + std::to_string(a.id) + " is invalid or repeated");
        if (a.members.size() > VTN_MAX_MEMBERS_V2)
            return fail("array " + std::to_string(a.id) + " has more than 16 members");
        if (a.staleSlot < -1 || a.staleSlot >= static_cast<int>(a.members.size()))
            return fail("array " + std::to_string(a.id) + " has a bad stale slot");
    }
    for (const auto& a : m.arrays) {
        for (uint32_t mem : a.members) {
            const Disk* d = m.FindDisk(mem);
            const Array* inner = m.FindArray(mem);
            if ((!d || d->parent != a.id) && (!inner || inner->parent != a.id))
                return fail("member " + std::to_string(mem) + " of array " + std::to_string(a.id) +
                            " does not name it as parent");
        }
        if (a.spare != VTN_ID_NONE) {
            const Disk* d = m.FindDisk(a.spare);
            if (!d || d->parent != a.id)
                return fail("spare of array " + std::to_string(a.id) + " is not its disk");
        }
        uint32_t p = a.parent;
        for (int depth = 0; p != VTN_ID_NONE; ++depth) {
            const Array* up = m.FindArray(p);
            if (!up || depth > 4)
                return fail("array " + std::to_string(a.id) + " has a bad parent chain");
            p = up->parent;
        }
    }
    for (const auto& d : m.disks)
        if (d.parent != VTN_ID_NONE) {
            const Array* a = m.FindArray(d.parent);
            if (!a || (a->spare != d.id && std::find(a->members.begin(), a->members.end(), d.id) == a->members.end()))
                return fail("disk " + std::to_string(d.id) + " names a parent that does not hold it");
        }
    for (uint32_t id : ids)
        if (id >= m.nextId)
            m.nextId = id + 1;   // ids are not reused
    *this = std::move(m);
    return true;
}

// ---- presets --------------------------------------------------------------------------------

Controller MakeController(const std::string& name, uint8_t channels, uint8_t perChannel, uint8_t bus, uint8_t irq)
{
    Controller c;
    c.name = name;
    c.manufacturer = "VTN Storage Systems";
    c.channels = channels;
    c.devicesPerChannel = perChannel;
    c.busBits = bus;
    c.interrupt = irq;
    return c;
}

namespace {

Caps DefaultCaps(bool stripedMirrors)
{
    Caps c;
    c.types = {{VTN_RAID0, 8}, {VTN_RAID1, 2}, {VTN_RAID5, 8}, {VTN_JBOD, 8}, {VTN_RAID01, 8}};
    if (stripedMirrors)
        c.types.push_back({VTN_RAID10, 8});
    return c;
}

}  // namespace

bool Model::LoadPreset(const std::string& name)
{
    *this = Model();
    std::string ignored;
    auto disk = [&](int c, int ch, int dev, uint64_t gb) {
        uint32_t id = 0;
        PlugDisk(c, ch, dev, gb, 0, &id, &ignored);
        return id;
    };
    auto array = [&](const char* arrayName, uint8_t type, uint8_t block, std::vector<uint32_t> members) {
        _CREATE_ARRAY_PARAMS_V2 p{};
        p.raidType = type;
        p.memberCount = static_cast<uint8_t>(members.size());
        p.blockCode = block;
        p.option = type == VTN_RAID5 ? VTN_CREATE_RAID5_NO_BUILD : 0;
        CopyField(p.name, sizeof p.name, arrayName, strlen(arrayName));
        for (size_t i = 0; i < members.size(); ++i)
            p.members[i] = members[i];
        uint32_t id = 0;
        CreateArray(p, VTN_MAX_MEMBERS_V2, 0, &id);
        return id;
    };
    if (name == "pata2") {
        controllers.push_back(MakeController("VTN ATA133 RAID Controller", 2, 2, VTN_BUS_ATA133, 11));
        caps = DefaultCaps(false);
        disk(0, 0, 0, 40);
        disk(0, 0, 1, 40);
        disk(0, 1, 0, 80);
        disk(0, 1, 1, 80);
        disks.front().flags |= VTN_DISK_BOOTABLE;   // the machine's system disk
    } else if (name == "sata4" || name == "sata8") {
        const uint8_t n = name == "sata4" ? 4 : 8;
        controllers.push_back(MakeController(n == 4 ? "VTN SATA150 4-Port RAID Controller"
                                                    : "VTN SATA150 8-Port RAID Controller",
                                             n, 1, VTN_BUS_ATA150, 10));
        caps = DefaultCaps(true);
        const uint64_t sizes[8] = {80, 80, 120, 160, 80, 80, 120, 250};
        for (int i = 0; i < n; ++i)
            disk(0, i, 0, sizes[i]);
    } else if (name == "dual") {
        controllers.push_back(MakeController("VTN SATA150 4-Port RAID Controller", 4, 1, VTN_BUS_ATA150, 10));
        controllers.push_back(MakeController("VTN SATA150 4-Port RAID Controller", 4, 1, VTN_BUS_ATA150, 11));
        caps = DefaultCaps(true);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 4; ++i)
                disk(c, i, 0, i < 2 ? 80 : 120);
    } else if (name == "demo") {
        controllers.push_back(MakeController("VTN SATA150 4-Port RAID Controller", 4, 1, VTN_BUS_ATA150, 10));
        controllers.push_back(MakeController("VTN SATA150 8-Port RAID Controller", 8, 1, VTN_BUS_ATA150, 11));
        caps = DefaultCaps(true);
        const uint32_t a0 = disk(0, 0, 0, 80), a1 = disk(0, 1, 0, 80);
        disk(0, 2, 0, 120);
        disk(0, 3, 0, 160);
        const uint32_t b0 = disk(1, 0, 0, 120), b1 = disk(1, 1, 0, 120), b2 = disk(1, 2, 0, 120);
        const uint32_t spare = disk(1, 3, 0, 160);
        disk(1, 4, 0, 80);
        disk(1, 5, 0, 250);
        newArraysUnavailable = false;   // the demo's arrays were made before this boot
        array("Mirror", VTN_RAID1, 0, {a0, a1});
        array("Parity", VTN_RAID5, VTN_BLOCK_CODE_DEFAULT, {b0, b1, b2});
        newArraysUnavailable = true;
        FindDisk(spare)->flags |= VTN_DISK_SPARE;
    } else {
        return false;
    }
    events.clear();   // nothing happened yet
    return true;
}

// ---- show -----------------------------------------------------------------------------------

namespace {

std::string Gb(uint64_t sectors)
{
    char buf[32];
    FormatText(buf, sizeof buf, "%.1f GB", static_cast<double>(sectors) / 2097152.0);
    return buf;
}

const char* TypeName(uint8_t t)
{
    switch (t) {
    case VTN_RAID0: return "RAID 0";
    case VTN_RAID1: return "RAID 1";
    case VTN_RAID5: return "RAID 5";
    case VTN_JBOD: return "JBOD";
    default: return "unknown";
    }
}

std::string StatusText(uint32_t s, bool array)
{
    struct Bit {
        uint32_t bit;
        const char* text;
    };
    static const Bit arrayBits[] = {{0x1, "disabled"},        {0x2, "needs rebuilding"}, {0x4, "rebuilding"},
                                    {0x8, "broken"},          {0x10, "bootable"},        {0x20, "not available"},
                                    {0x100, "verifying"},     {0x200, "initializing"}};
    static const Bit diskBits[] = {{0x1, "disabled"}, {0x2, "bootable"}, {0x10, "no device number"},
                                   {0x80000000, "spare"}};
    std::string out;
    for (const Bit& b : array ? std::vector<Bit>(std::begin(arrayBits), std::end(arrayBits))
                              : std::vector<Bit>(std::begin(diskBits), std::end(diskBits)))
        if (s & b.bit)
            out += (out.empty() ? "" : ", ") + std::string(b.text);
    return out.empty() ? "normal" : out;
}

}  // namespace

std::string Model::Describe(int64_t now) const
{
    std::string out;
    char line[512];
    FormatText(line, sizeof line, "version 0x%08X, channel %s, rate %llu sectors/s, %zu queued event(s)\n",
               version, channels.empty() ? "(none)" : channels.front().c_str(),
               static_cast<unsigned long long>(rate), events.size());
    out += line;
    for (size_t c = 0; c < controllers.size(); ++c) {
        const Controller& k = controllers[c];
        FormatText(line, sizeof line, "controller %zu: %s, %u channel(s)\n", c, k.name.c_str(), k.channels);
        out += line;
    }
    for (const auto& d : disks) {
        std::string where = d.parent == VTN_ID_NONE ? ((d.flags & VTN_DISK_SPARE) ? "pool spare" : "free")
                                                    : "in array " + std::to_string(d.parent);
        FormatText(line, sizeof line, "disk %u: controller %u channel %u device %u, %s, %s, %s%s [%s]\n", d.id,
                   d.controller, d.channel, d.device, Gb(d.capacity).c_str(), where.c_str(),
                   StatusText(DiskStatus(d), false).c_str(), d.present ? "" : ", pulled", d.serial.c_str());
        out += line;
    }
    for (const auto& a : arrays) {
        std::string members;
        for (uint32_t m : a.members)
            members += (members.empty() ? "" : " ") + std::to_string(m);
        std::string extra;
        if (a.spare != VTN_ID_NONE)
            extra += ", spare " + std::to_string(a.spare);
        if (a.parent != VTN_ID_NONE)
            extra += ", member of " + std::to_string(a.parent);
        if (a.op != Op::None) {
            char pct[48];
            FormatText(pct, sizeof pct, ", %s %.2f%%", OpName(a.op), Progress(a, now) / 100.0);
            extra += pct;
        }
        FormatText(line, sizeof line, "array %u: '%s' %s, %s, members %s%s, %s\n", a.id, a.name.c_str(),
                   TypeName(a.raidType), Gb(a.capacity).c_str(), members.c_str(), extra.c_str(),
                   StatusText(ArrayStatus(a), true).c_str());
        out += line;
    }
    return out;
}

}  // namespace vtnsim
