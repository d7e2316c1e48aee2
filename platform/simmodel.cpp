// Behaviour of the simulated controller: every control code, failures, spares and operations.
#include "simmodel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "textutil.h"

namespace vtnsim {

namespace {

bool Redundant(uint8_t type) { return type == VTN_RAID1 || type == VTN_RAID5; }

_TIME_RECORD TimeRecordOf(int64_t t)
{
    time_t tt = static_cast<time_t>(t);
    tm local{};
    localtime_r(&tt, &local);
    _TIME_RECORD r{};
    r.second = static_cast<uint32_t>(local.tm_sec) & 0x3F;
    r.minute = static_cast<uint32_t>(local.tm_min) & 0x3F;
    r.hour = static_cast<uint32_t>(local.tm_hour) & 0x3F;
    r.day = static_cast<uint32_t>(local.tm_mday) & 0x1F;
    r.month = static_cast<uint32_t>(local.tm_mon + 1) & 0xF;
    int year = local.tm_year + 1900 - 2000;
    r.year = static_cast<uint32_t>(year < 0 ? 0 : year) & 0x1F;
    return r;
}

// ATA identify text: space-padded, no terminator.
void PadField(char* dst, size_t size, const std::string& text)
{
    memset(dst, ' ', size);
    memcpy(dst, text.data(), std::min(size, text.size()));
}

uint32_t U32At(const uint8_t* p, size_t len, size_t off)
{
    uint32_t v = 0;
    ReadField(p, len, off, &v);
    return v;
}

}  // namespace

const char* OpName(Op op)
{
    switch (op) {
    case Op::Rebuild: return "rebuild";
    case Op::Duplicate: return "duplicate";
    case Op::Verify: return "verify";
    case Op::Init: return "init";
    default: return "none";
    }
}

// ---- lookups --------------------------------------------------------------------------------

Disk* Model::FindDisk(uint32_t id)
{
    for (auto& d : disks)
        if (d.id == id)
            return &d;
    return nullptr;
}

Array* Model::FindArray(uint32_t id)
{
    for (auto& a : arrays)
        if (a.id == id)
            return &a;
    return nullptr;
}

const Disk* Model::FindDisk(uint32_t id) const { return const_cast<Model*>(this)->FindDisk(id); }
const Array* Model::FindArray(uint32_t id) const { return const_cast<Model*>(this)->FindArray(id); }

uint32_t Model::NewId()
{
    for (;;) {
        uint32_t id = nextId++;
        if (nextId == VTN_ID_NONE)
            nextId = 1;
        if (id != VTN_ID_SYSTEM && id != VTN_ID_NONE && !FindDisk(id) && !FindArray(id))
            return id;
    }
}

uint8_t Model::MaxMembers(uint8_t typeCode) const
{
    uint8_t max = 0;
    for (const auto& [code, count] : caps.types)
        if (code == typeCode)
            max = count;   // the later entry wins, as readers of the list take it
    return max;
}

uint32_t Model::DiskStatus(const Disk& d) const
{
    uint32_t s = d.flags & (VTN_DISK_BOOTABLE | VTN_DISK_NO_DEVICE_NUMBER | VTN_DISK_SPARE);
    if (d.failed || !d.present)
        s |= VTN_DISK_DISABLED;
    return s;
}

bool Model::MemberBad(uint32_t id) const
{
    if (const Disk* d = FindDisk(id))
        return d->failed || !d->present;
    if (const Array* a = FindArray(id))
        return (ArrayStatus(*a) & VTN_ARRAY_DISABLED) != 0;
    return true;
}

// 0x1 and 0x8 come from the members on every read, so they cannot disagree with them.
uint32_t Model::ArrayStatus(const Array& a) const
{
    uint32_t s = a.flags & (VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_BOOTABLE | VTN_ARRAY_NOT_AVAILABLE);
    switch (a.op) {
    case Op::Rebuild: s |= VTN_ARRAY_NEED_REBUILD | VTN_ARRAY_REBUILDING; break;
    case Op::Duplicate: s = (s & ~VTN_ARRAY_NEED_REBUILD) | VTN_ARRAY_REBUILDING; break;
    case Op::Verify: s |= VTN_ARRAY_VERIFYING; break;
    case Op::Init: s |= VTN_ARRAY_INITIALIZING; break;
    case Op::None: break;
    }
    unsigned bad = 0, degraded = 0, stale = 0;
    for (size_t i = 0; i < a.members.size(); ++i) {
        uint32_t m = a.members[i];
        if (MemberBad(m)) {
            ++bad;
            continue;
        }
        if (static_cast<int>(i) == a.staleSlot)
            ++stale;
        if (const Array* inner = FindArray(m))
            if (ArrayStatus(*inner) & VTN_ARRAY_BROKEN)
                ++degraded;
    }
    const unsigned n = static_cast<unsigned>(a.members.size());
    bool disabled = false, broken = false;
    switch (a.raidType) {
    case VTN_RAID1:
        disabled = n == 0 || bad + stale >= n;
        broken = bad > 0 || degraded > 0;
        break;
    case VTN_RAID5:
        disabled = bad + stale >= 2;
        broken = bad > 0;
        break;
    default:   // RAID 0, JBOD: no redundancy of their own
        disabled = bad > 0;
        broken = degraded > 0;
        break;
    }
    if (disabled)
        s |= VTN_ARRAY_DISABLED;
    else if (broken)
        s |= VTN_ARRAY_BROKEN;
    return s;
}

uint64_t Model::MemberSize(const Array& a) const
{
    const uint64_t n = a.members.size();
    switch (a.raidType) {
    case VTN_RAID1: return a.capacity;
    case VTN_RAID5: return n > 1 ? a.capacity / (n - 1) : a.capacity;
    case VTN_RAID0: return n > 0 ? a.capacity / n : a.capacity;
    default: return 0;
    }
}

uint64_t Model::OpTotal(const Array& a) const
{
    uint64_t total = MemberSize(a);
    if (total == 0)
        total = a.capacity;
    return total == 0 ? 1 : total;
}

uint64_t Model::Done(const Array& a, int64_t now) const
{
    const int64_t elapsed = now > a.opStart ? now - a.opStart : 0;
    const unsigned __int128 done =
        static_cast<unsigned __int128>(a.opBase) + static_cast<unsigned __int128>(elapsed) * rate;
    const uint64_t total = OpTotal(a);
    return done >= total ? total : static_cast<uint64_t>(done);
}

uint32_t Model::Progress(const Array& a, int64_t now) const
{
    if (a.op == Op::None)
        return 0;
    const uint64_t total = OpTotal(a);
    const uint64_t done = Done(a, now);
    if (done >= total)
        return VTN_PROGRESS_MAX;
    return static_cast<uint32_t>(static_cast<unsigned __int128>(done) * VTN_PROGRESS_MAX / total);
}

void Model::CollectDiskControllers(uint32_t id, std::vector<int>* out) const
{
    if (const Disk* d = FindDisk(id)) {
        out->push_back(d->controller);
        return;
    }
    if (const Array* a = FindArray(id))
        for (uint32_t m : a->members)
            CollectDiskControllers(m, out);
}

int Model::DiskControllerOf(uint32_t id) const
{
    std::vector<int> c;
    CollectDiskControllers(id, &c);
    if (c.empty())
        return -1;
    for (int x : c)
        if (x != c.front())
            return -1;
    return c.front();
}

bool Model::DiskIsFree(const Disk& d) const
{
    return d.present && !d.failed && d.parent == VTN_ID_NONE && (d.flags & VTN_DISK_SPARE) == 0;
}

bool Model::DiskIsFreeOrPoolSpare(const Disk& d) const
{
    return d.present && !d.failed && d.parent == VTN_ID_NONE;
}

std::vector<uint32_t> Model::TopLevel() const
{
    std::vector<uint32_t> ids;
    for (const auto& a : arrays)
        if (a.parent == VTN_ID_NONE)
            ids.push_back(a.id);
    for (const auto& d : disks)
        if (d.parent == VTN_ID_NONE && d.present)
            ids.push_back(d.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// ---- events and operations ------------------------------------------------------------------

void Model::Queue(uint8_t kind, uint32_t device, int64_t now, uint8_t flag, const std::string& name)
{
    Event e;
    e.time = now;
    e.device = device;
    e.kind = kind;
    e.flag = flag;
    e.name = name;
    events.push_back(e);
    while (events.size() > kMaxEvents)
        events.pop_front();   // the queue is bounded: the oldest event is lost
}

void Model::PushEvent(uint8_t kind, uint32_t device, uint8_t flag, const std::string& name, int64_t now)
{
    Queue(kind, device, now, flag, name);
}

void Model::StartOp(Array& a, Op op, int64_t now)
{
    a.op = op;
    a.opBase = 0;
    a.opStart = now;
}

void Model::EndOp(Array& a)
{
    a.op = Op::None;
    a.opBase = 0;
    a.opStart = 0;
}

void Model::Complete(Array& a, int64_t now)
{
    switch (a.op) {
    case Op::Rebuild:
    case Op::Duplicate: {
        const uint8_t dup = a.op == Op::Duplicate ? 1 : 0;
        a.flags &= ~VTN_ARRAY_NEED_REBUILD;
        a.staleSlot = -1;
        a.pending = Op::None;
        EndOp(a);
        Queue(VTN_EVENT_REBUILD_COMPLETED, a.id, now, dup);
        break;
    }
    case Op::Verify:
        EndOp(a);
        Queue(a.inconsistent ? VTN_EVENT_DATA_INCONSISTENT : VTN_EVENT_VERIFY_COMPLETED, a.id, now);
        break;
    case Op::Init:
        EndOp(a);
        Queue(VTN_EVENT_INIT_COMPLETED, a.id, now);
        break;
    case Op::None:
        break;
    }
}

bool Model::Advance(int64_t now)
{
    bool changed = false;
    for (auto& a : arrays) {
        if (a.op == Op::None || rate == 0)
            continue;
        const uint64_t total = OpTotal(a);
        if (a.opBase >= total) {
            Complete(a, now);
            changed = true;
            continue;
        }
        const uint64_t left = total - a.opBase;
        const int64_t need = static_cast<int64_t>(left / rate + (left % rate != 0 ? 1 : 0));
        if (now >= a.opStart + need) {
            Complete(a, a.opStart + need);   // the event carries the moment it finished
            changed = true;
        }
    }
    return changed;
}

void Model::SetRate(uint64_t sectorsPerSecond, int64_t now)
{
    for (auto& a : arrays) {
        if (a.op == Op::None)
            continue;
        a.opBase = Done(a, now);
        a.opStart = now;
    }
    rate = sectorsPerSecond;
}

bool Model::SetProgress(uint32_t arrayId, double percent, int64_t now, std::string* error)
{
    Array* a = FindArray(arrayId);
    if (!a) {
        *error = "no array with id " + std::to_string(arrayId);
        return false;
    }
    if (a->op == Op::None) {
        *error = "array " + std::to_string(arrayId) + " runs no rebuild, duplication, verify or initialization";
        return false;
    }
    if (!(percent >= 0.0 && percent <= 100.0)) {
        *error = "percent must be from 0 to 100";
        return false;
    }
    a->opBase = static_cast<uint64_t>(static_cast<long double>(OpTotal(*a)) * percent / 100.0L);
    a->opStart = now;
    if (percent >= 100.0)
        Complete(*a, now);
    return true;
}

bool Model::FinishOperation(uint32_t arrayId, int64_t now, std::string* error)
{
    Array* a = FindArray(arrayId);
    if (!a) {
        *error = "no array with id " + std::to_string(arrayId);
        return false;
    }
    if (a->op == Op::None) {
        *error = "array " + std::to_string(arrayId) + " runs no rebuild, duplication, verify or initialization";
        return false;
    }
    Complete(*a, now);
    return true;
}

int Model::Reboot()
{
    int n = 0;
    for (auto& a : arrays)
        if (a.flags & VTN_ARRAY_NOT_AVAILABLE) {
            a.flags &= ~VTN_ARRAY_NOT_AVAILABLE;
            ++n;
        }
    return n;
}

// ---- removal --------------------------------------------------------------------------------

void Model::RemoveDisk(uint32_t id)
{
    disks.erase(std::remove_if(disks.begin(), disks.end(), [id](const Disk& d) { return d.id == id; }),
                disks.end());
}

void Model::RemoveArrayRecord(uint32_t id)
{
    arrays.erase(std::remove_if(arrays.begin(), arrays.end(), [id](const Array& a) { return a.id == id; }),
                 arrays.end());
}

void Model::ReleaseReplacedDisk(uint32_t diskId)
{
    Disk* d = FindDisk(diskId);
    if (!d)
        return;
    d->parent = VTN_ID_NONE;
    d->flags &= ~VTN_DISK_SPARE;
    if (!d->present)
        RemoveDisk(diskId);
}

int Model::DeleteArray(uint32_t id, bool withMemberArrays)
{
    Array* a = FindArray(id);
    if (!a)
        return ENODEV;
    const std::vector<uint32_t> members = a->members;
    const uint32_t spare = a->spare;
    RemoveArrayRecord(id);
    for (uint32_t m : members) {
        if (FindDisk(m)) {
            ReleaseReplacedDisk(m);
        } else if (Array* inner = FindArray(m)) {
            if (withMemberArrays)
                DeleteArray(m, true);
            else
                inner->parent = VTN_ID_NONE;
        }
    }
    if (spare != VTN_ID_NONE)
        ReleaseReplacedDisk(spare);
    return 0;
}

// ---- failures -------------------------------------------------------------------------------

bool Model::MirrorOfStripes(const Array& a) const
{
    if (a.raidType != VTN_RAID1 || a.members.empty())
        return false;
    for (uint32_t m : a.members) {
        const Array* half = FindArray(m);
        if (!half || half->raidType != VTN_RAID0 || half->members.empty())
            return false;
        for (uint32_t dm : half->members)
            if (!FindDisk(dm))
                return false;
    }
    return true;
}

uint64_t Model::SpareNeed(const Array& a) const
{
    if (!MirrorOfStripes(a))
        return MemberSize(a);
    // A spare of a mirror of stripes stands in for one disk of a half.
    uint64_t need = 0;
    for (uint32_t m : a.members) {
        const Array* half = FindArray(m);
        need = std::max<uint64_t>(need, half->capacity / half->members.size());
    }
    return need;
}

bool Model::TakeOverSpare(Array& a, int64_t now)
{
    if (!Redundant(a.raidType) || a.op != Op::None)
        return false;
    const uint32_t st = ArrayStatus(a);
    if ((st & VTN_ARRAY_BROKEN) == 0 || (st & VTN_ARRAY_DISABLED) != 0)
        return false;
    const bool stripes = MirrorOfStripes(a);
    int slot = -1;
    for (size_t i = 0; i < a.members.size(); ++i) {
        if (!stripes && !FindDisk(a.members[i]))
            return false;   // a mirror of other arrays is repaired by hand
        if (slot < 0 && MemberBad(a.members[i]))
            slot = static_cast<int>(i);
    }
    if (slot < 0)
        return false;
    // The slot that takes the spare: the array's own member, or the one failed disk of a half.
    Array* holder = &a;
    int holderSlot = slot;
    if (stripes) {
        holder = FindArray(a.members[static_cast<size_t>(slot)]);
        holderSlot = -1;
        for (size_t i = 0; i < holder->members.size(); ++i) {
            if (!MemberBad(holder->members[i]))
                continue;
            if (holderSlot >= 0)
                return false;   // one spare cannot bring back a half that lost two disks
            holderSlot = static_cast<int>(i);
        }
        if (holderSlot < 0)
            return false;
    }
    const uint64_t need = SpareNeed(a);
    const int ctrl = DiskControllerOf(a.id);
    auto usable = [&](const Disk& d) {
        return d.present && !d.failed && d.capacity >= need &&
               (caps.crossController == 1 || ctrl < 0 || d.controller == ctrl);
    };
    Disk* spare = nullptr;
    if (Disk* ded = FindDisk(a.spare); ded && usable(*ded))
        spare = ded;
    if (!spare) {
        for (auto& d : disks) {
            if (d.parent != VTN_ID_NONE || (d.flags & VTN_DISK_SPARE) == 0 || !usable(d))
                continue;
            if (!spare || d.capacity < spare->capacity)
                spare = &d;
        }
    }
    if (!spare)
        return false;
    const uint32_t spareId = spare->id;
    const uint32_t old = holder->members[static_cast<size_t>(holderSlot)];
    if (a.spare == spareId)
        a.spare = VTN_ID_NONE;
    spare->parent = holder->id;
    spare->flags &= ~VTN_DISK_SPARE;
    holder->members[static_cast<size_t>(holderSlot)] = spareId;
    a.staleSlot = slot;
    a.flags |= VTN_ARRAY_NEED_REBUILD;
    a.pending = Op::Rebuild;
    const uint32_t arrayId = a.id;
    ReleaseReplacedDisk(old);   // may erase from disks; `spare` is not used after this
    Array* again = FindArray(arrayId);
    Queue(VTN_EVENT_SPARE_TOOK_OVER, spareId, now);
    StartOp(*again, Op::Rebuild, now);
    Queue(VTN_EVENT_REBUILD_STARTED, arrayId, now, 0);
    return true;
}

// A member of `arrayId` went bad: end what runs on every array that now fails, then let a spare in.
void Model::MemberLost(uint32_t arrayId, int64_t now)
{
    uint32_t cur = arrayId;
    while (cur != VTN_ID_NONE) {
        Array* a = FindArray(cur);
        if (!a)
            break;
        const uint32_t next = a->parent;
        const uint32_t st = ArrayStatus(*a);
        if (a->op != Op::None && (st & (VTN_ARRAY_DISABLED | VTN_ARRAY_BROKEN))) {
            switch (a->op) {
            case Op::Rebuild:
            case Op::Duplicate: {
                const uint8_t dup = a->op == Op::Duplicate ? 1 : 0;
                a->pending = a->op;
                a->flags |= VTN_ARRAY_NEED_REBUILD;
                EndOp(*a);
                Queue(VTN_EVENT_REBUILD_FAILED, a->id, now, dup);
                break;
            }
            case Op::Verify:
                EndOp(*a);
                Queue(VTN_EVENT_VERIFY_FAILED, a->id, now);
                break;
            case Op::Init: {
                const std::string name = a->name;
                const uint32_t id = a->id;
                EndOp(*a);
                Queue(VTN_EVENT_INIT_FAILED, id, now, 0, name);
                DeleteArray(id, true);
                break;
            }
            case Op::None:
                break;
            }
        }
        cur = next;
    }
    if (Array* a = FindArray(arrayId)) {
        // A failed disk of a striped half is covered by the mirror above it.
        const uint32_t up = a->parent;
        if (!TakeOverSpare(*a, now) && a->raidType == VTN_RAID0 && up != VTN_ID_NONE)
            if (Array* mirror = FindArray(up); mirror && MirrorOfStripes(*mirror))
                TakeOverSpare(*mirror, now);
    }
}

bool Model::FailDevice(uint32_t id, int64_t now, std::string* error)
{
    if (FindArray(id)) {
        *error = "device " + std::to_string(id) + " is an array; only disks fail";
        return false;
    }
    Disk* d = FindDisk(id);
    if (!d) {
        *error = "no disk with id " + std::to_string(id);
        return false;
    }
    if (d->failed || !d->present) {
        *error = "disk " + std::to_string(id) + " has already failed or was pulled";
        return false;
    }
    d->failed = true;
    const uint32_t parent = d->parent;
    if (parent == VTN_ID_NONE) {
        Queue(VTN_EVENT_DEVICE_FAILED, id, now);
        return true;
    }
    Array* a = FindArray(parent);
    Queue(VTN_EVENT_MEMBER_FAILED, id, now);
    if (a && a->spare == id) {
        a->spare = VTN_ID_NONE;
        ReleaseReplacedDisk(id);
        return true;
    }
    MemberLost(parent, now);
    return true;
}

bool Model::PullDevice(uint32_t id, int64_t now, std::string* error)
{
    if (FindArray(id)) {
        *error = "device " + std::to_string(id) + " is an array; only disks can be pulled";
        return false;
    }
    Disk* d = FindDisk(id);
    if (!d || !d->present) {
        *error = "no disk with id " + std::to_string(id);
        return false;
    }
    d->present = false;
    const uint32_t parent = d->parent;
    if (parent == VTN_ID_NONE) {
        Queue(VTN_EVENT_DEVICE_FAILED, id, now);
        RemoveDisk(id);
        return true;
    }
    Array* a = FindArray(parent);
    Queue(VTN_EVENT_MEMBER_FAILED, id, now);
    if (a && a->spare == id) {
        a->spare = VTN_ID_NONE;
        ReleaseReplacedDisk(id);
        return true;
    }
    // A pulled member stays readable (disabled, on no channel) until it is replaced.
    MemberLost(parent, now);
    return true;
}

bool Model::PlugDisk(int controller, int channel, int device, uint64_t sizeGb, int64_t now,
                     uint32_t* newId, std::string* error)
{
    if (controller < 0 || static_cast<size_t>(controller) >= controllers.size()) {
        *error = "no controller " + std::to_string(controller);
        return false;
    }
    const Controller& c = controllers[static_cast<size_t>(controller)];
    if (channel < 0 || channel >= c.channels) {
        *error = "controller " + std::to_string(controller) + " has no channel " + std::to_string(channel);
        return false;
    }
    if (device < 0 || device >= c.devicesPerChannel) {
        *error = "channel " + std::to_string(channel) + " has no device place " + std::to_string(device);
        return false;
    }
    if (sizeGb == 0 || sizeGb > 1000000) {
        *error = "size must be from 1 to 1000000 GB";
        return false;
    }
    for (const auto& d : disks)
        if (d.present && d.controller == controller && d.channel == channel && d.device == device) {
            *error = "a disk (id " + std::to_string(d.id) + ") already sits at that place";
            return false;
        }
    Disk d;
    d.id = NewId();
    d.controller = static_cast<uint8_t>(controller);
    d.channel = static_cast<uint8_t>(channel);
    d.device = static_cast<uint8_t>(device);
    d.capacity = sizeGb * 2097152ULL;
    const bool serialAta = c.devicesPerChannel == 1;
    d.transferMode = (c.busBits & VTN_BUS_ATA150) ? 15 : (c.busBits & VTN_BUS_ATA133) ? 14 : 13;
    d.features = VTN_FEATURE_READ_AHEAD_SUPPORTED | VTN_FEATURE_READ_AHEAD_ON |
                 VTN_FEATURE_WRITE_CACHE_SUPPORTED | VTN_FEATURE_WRITE_CACHE_ON | VTN_FEATURE_TCQ_SUPPORTED;
    if (serialAta)
        d.features |= VTN_FEATURE_NCQ_SUPPORTED;
    char buf[48];
    FormatText(buf, sizeof buf, "VS%02u%02u%02u%08u", static_cast<unsigned>(controller),
               static_cast<unsigned>(channel), static_cast<unsigned>(device), d.id);
    d.serial = buf;
    FormatText(buf, sizeof buf, "VTNSIM HD%lluG%c", static_cast<unsigned long long>(sizeGb),
               serialAta ? 'S' : 'P');
    d.model = buf;
    d.revision = "V1.02";
    disks.push_back(d);
    if (newId)
        *newId = d.id;
    Queue(VTN_EVENT_DEVICE_PLUGGED, d.id, now);
    return true;
}

// ---- records --------------------------------------------------------------------------------

void Model::FillDeviceInfo(uint32_t id, _LOGICAL_DEVICE_INFO_V2* out, int64_t now) const
{
    memset(out, 0, sizeof *out);
    if (const Disk* d = FindDisk(id)) {
        out->type = VTN_DEVICE_DISK;
        out->capacity = d->capacity;
        // A disk of no array says so with 0xFFFFFFFF: the spare-pool form lists free disks by it.
        out->parent = d->parent;
        out->u.disk.controller = d->controller;
        out->u.disk.channel = d->channel;
        out->u.disk.device = d->device;
        out->u.disk.transferMode = d->transferMode;
        out->u.disk.features = d->features;
        out->u.disk.status = DiskStatus(*d);
        PadField(out->u.disk.serial, sizeof out->u.disk.serial, d->serial);
        char rev[8];
        PadField(rev, sizeof rev, d->revision);
        for (size_t i = 0; i + 1 < sizeof rev; i += 2) {   // identify data keeps words, not bytes
            out->u.disk.revision[i] = rev[i + 1];
            out->u.disk.revision[i + 1] = rev[i];
        }
        PadField(out->u.disk.model, sizeof out->u.disk.model, d->model);
        return;
    }
    const Array* a = FindArray(id);
    if (!a)
        return;
    out->type = VTN_DEVICE_ARRAY;
    out->capacity = a->capacity;
    out->parent = a->parent == VTN_ID_NONE ? VTN_ID_SYSTEM : a->parent;
    memcpy(out->u.array.name, a->name.data(), std::min(a->name.size(), sizeof out->u.array.name));
    out->u.array.raidType = a->raidType;
    out->u.array.blockCode = a->blockCode;
    const size_t n = std::min<size_t>(a->members.size(), VTN_MAX_MEMBERS_V2);
    out->u.array.memberCount = static_cast<uint8_t>(n);
    out->u.array.status = ArrayStatus(*a);
    for (size_t i = 0; i < VTN_MAX_MEMBERS_V2; ++i)
        out->u.array.members[i] = i < n ? a->members[i] : VTN_ID_NONE;
    if (a->spare != VTN_ID_NONE && n < VTN_MAX_MEMBERS_V2)
        out->u.array.members[n] = a->spare;   // the slot after the data members
    out->u.array.progress = Progress(*a, now);
}

namespace {

void ToOldRecord(const _LOGICAL_DEVICE_INFO_V2& v2, _LOGICAL_DEVICE_INFO* old)
{
    memset(old, 0, sizeof *old);
    old->type = v2.type;
    old->capacity = static_cast<uint32_t>(v2.capacity);   // an older driver keeps the low 32 bits
    old->parent = v2.parent;
    if (v2.type == VTN_DEVICE_DISK) {
        // The disk part is the newer one shifted down by 4, cut at the record's end.
        memcpy(&old->u, &v2.u, sizeof old->u);
        return;
    }
    if (v2.type != VTN_DEVICE_ARRAY)
        return;
    memcpy(old->u.array.name, v2.u.array.name, sizeof old->u.array.name);
    old->u.array.raidType = v2.u.array.raidType;
    old->u.array.blockCode = v2.u.array.blockCode;
    old->u.array.memberCount = std::min<uint8_t>(v2.u.array.memberCount, VTN_MAX_MEMBERS);
    old->u.array.status = v2.u.array.status;
    memcpy(old->u.array.members, v2.u.array.members, sizeof old->u.array.members);
    old->u.array.progress = v2.u.array.progress;
    old->u.array.reserved4 = v2.u.array.reserved4;
}

struct Need {
    uint32_t code;
    uint32_t in;    // smallest input
    uint32_t out;   // smallest output
    bool changes;
};

// Every served control: sizes checked before dispatch.
constexpr Need kNeeds[] = {
    {VTN_CTL_GET_VERSION, 0, 4, false},
    {VTN_CTL_GET_CONTROLLER_COUNT, 0, 4, false},
    {VTN_CTL_GET_CONTROLLER_INFO, 4, sizeof(_CONTROLLER_INFO), false},
    {VTN_CTL_GET_CHANNEL_INFO, 8, sizeof(_CHANNEL_INFO), false},
    {VTN_CTL_GET_LOGICAL_DEVICES, 4, 4, false},
    {VTN_CTL_GET_DEVICE_INFO, 4, sizeof(_LOGICAL_DEVICE_INFO), false},
    {VTN_CTL_CREATE_ARRAY, sizeof(_CREATE_ARRAY_PARAMS), 4, true},
    {VTN_CTL_DELETE_ARRAY, 8, 4, true},
    {VTN_CTL_DEVICE_IO, 16, 4, false},
    {VTN_CTL_GET_EVENT, 0, sizeof(_VTN_EVENT), true},
    {VTN_CTL_REBUILD_DATA_BLOCK, 9, 0, false},
    {VTN_CTL_ADD_SPARE_DISK, 4, 0, true},
    {VTN_CTL_REMOVE_SPARE_DISK, 4, 0, true},
    {VTN_CTL_ADD_DISK_TO_ARRAY, 8, 0, true},
    {VTN_CTL_SET_ARRAY_STATE, 8, 0, true},
    {VTN_CTL_SET_ARRAY_INFO, 4 + sizeof(_ALTERABLE_ARRAY_INFO), 0, true},
    {VTN_CTL_SET_DEVICE_INFO, 4 + sizeof(_ALTERABLE_DEVICE_INFO), 0, true},
    {VTN_CTL_RESCAN_DEVICES, 0, 0, false},
    {VTN_CTL_GET_DRIVER_CAPABILITIES, 4, sizeof(_DRIVER_CAPABILITIES), false},
    {VTN_CTL_GET_QZR_INFO, 4, sizeof(_VTNQZR_INFO), false},
    {VTN_CTL_SET_QZR_INFO, 4 + sizeof(_VTNQZR_INFO), 0, true},
    {VTN_CTL_LOCK_DEVICE, 9, 0, true},
    {VTN_CTL_UNLOCK_DEVICE, 4, 0, true},
    {VTN_CTL_ADD_DEDICATED_SPARE, 8, 0, true},
    {VTN_CTL_CREATE_ARRAY_V2, sizeof(_CREATE_ARRAY_PARAMS_V2), 4, true},
    {VTN_CTL_GET_DEVICE_INFO_V2, 4, sizeof(_LOGICAL_DEVICE_INFO_V2), false},
    {VTN_CTL_SET_DEVICE_INFO_V2, 4 + sizeof(_ALTERABLE_DEVICE_INFO_V2), 0, true},
};

const Need* FindNeed(uint32_t code)
{
    for (const auto& n : kNeeds)
        if (n.code == code)
            return &n;
    return nullptr;
}

}  // namespace

bool NeedsCopy(uint32_t code)
{
    // Get-event changes the queue only once it succeeded, in one step.
    const Need* need = FindNeed(code);
    return need && need->changes && code != VTN_CTL_GET_EVENT;
}

int Model::Dispatch(const _VTN_DRIVER_REQUEST& r, int64_t now, bool* changed)
{
    *changed = false;
    if (r.magic != VTN_DRIVER_MAGIC)
        return EINVAL;
    const Need* need = FindNeed(r.code);
    if (!need)
        return EINVAL;
    if ((r.inSize > 0 && r.in == nullptr) || (r.outSize > 0 && r.out == nullptr))
        return EFAULT;
    if (r.inSize < need->in || r.outSize < need->out)
        return EINVAL;
    for (auto& [code, left] : failNext) {
        if (code == r.code && left > 0) {
            --left;
            *changed = true;
            failNext.erase(std::remove_if(failNext.begin(), failNext.end(),
                                          [](const auto& f) { return f.second == 0; }),
                           failNext.end());
            return EIO;
        }
    }
    uint32_t written = 0;
    const int rc = Call(r.code, static_cast<const uint8_t*>(r.in), r.inSize, static_cast<uint8_t*>(r.out),
                        r.outSize, now, changed);
    if (rc == 0) {
        written = need->out;
        if (r.code == VTN_CTL_GET_LOGICAL_DEVICES) {
            uint32_t count = 0;
            memcpy(&count, r.out, 4);
            written = 4 + 4 * count;
        }
        if (r.returned)
            *r.returned = written;
        if (need->changes)
            *changed = true;
    }
    return rc;
}

// Sizes were checked against the table; every output is written only once the call succeeds.
int Model::Call(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                int64_t now, bool* changed)
{
    const uint32_t id = inSize >= 4 ? U32At(in, inSize, 0) : 0;
    const uint32_t second = inSize >= 8 ? U32At(in, inSize, 4) : 0;
    switch (code) {
    case VTN_CTL_GET_VERSION:
        memcpy(out, &version, 4);
        return 0;
    case VTN_CTL_GET_CONTROLLER_COUNT: {
        const uint32_t n = static_cast<uint32_t>(controllers.size());
        memcpy(out, &n, 4);
        return 0;
    }
    case VTN_CTL_GET_CONTROLLER_INFO: {
        if (id >= controllers.size())
            return ENODEV;
        const Controller& c = controllers[id];
        _CONTROLLER_INFO info{};
        info.interrupt = c.interrupt;
        info.channels = c.channels;
        info.busBits = c.busBits;
        CopyText(info.name, c.name.c_str());
        CopyText(info.manufacturer, c.manufacturer.c_str());
        memcpy(out, &info, sizeof info);
        return 0;
    }
    case VTN_CTL_GET_CHANNEL_INFO: {
        if (id >= controllers.size() || second >= controllers[id].channels)
            return ENODEV;
        _CHANNEL_INFO info{};
        info.devices[0] = info.devices[1] = VTN_ID_NONE;
        for (const auto& d : disks)
            if (d.present && d.controller == id && d.channel == second && d.device < 2)
                info.devices[d.device] = d.id;
        memcpy(out, &info, sizeof info);
        return 0;
    }
    case VTN_CTL_GET_LOGICAL_DEVICES: {
        const uint32_t max = id;
        const std::vector<uint32_t> top = TopLevel();
        const size_t room = (outSize - 4) / 4;
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>({top.size(), max, room}));
        memcpy(out, &n, 4);
        if (n > 0)
            memcpy(out + 4, top.data(), 4ULL * n);
        return 0;
    }
    case VTN_CTL_GET_DEVICE_INFO:
    case VTN_CTL_GET_DEVICE_INFO_V2: {
        if (!FindDisk(id) && !FindArray(id))
            return ENODEV;
        _LOGICAL_DEVICE_INFO_V2 v2;
        FillDeviceInfo(id, &v2, now);
        if (code == VTN_CTL_GET_DEVICE_INFO_V2) {
            memcpy(out, &v2, sizeof v2);
        } else {
            _LOGICAL_DEVICE_INFO old;
            ToOldRecord(v2, &old);
            memcpy(out, &old, sizeof old);
        }
        return 0;
    }
    case VTN_CTL_CREATE_ARRAY:
    case VTN_CTL_CREATE_ARRAY_V2: {
        _CREATE_ARRAY_PARAMS_V2 p{};
        unsigned slots = VTN_MAX_MEMBERS_V2;
        if (code == VTN_CTL_CREATE_ARRAY_V2) {
            memcpy(&p, in, sizeof p);
        } else {
            _CREATE_ARRAY_PARAMS o;
            memcpy(&o, in, sizeof o);
            memcpy(&p, &o, offsetof(_CREATE_ARRAY_PARAMS, members));
            memset(p.members, 0xFF, sizeof p.members);
            memcpy(p.members, o.members, sizeof o.members);
            slots = VTN_MAX_MEMBERS;
        }
        uint32_t newId = 0;
        const int rc = CreateArray(p, slots, now, &newId);
        if (rc == 0)
            memcpy(out, &newId, 4);
        return rc;
    }
    case VTN_CTL_DELETE_ARRAY: {
        const Array* a = FindArray(id);
        if (!a)
            return ENODEV;
        if (a->parent != VTN_ID_NONE)
            return EBUSY;   // a member array goes with its parent
        // Options 0 deletes the whole tree; 1 keeps member arrays (a half being removed).
        const int rc = DeleteArray(id, second == 0);
        if (rc == 0) {
            const uint32_t word = 0;
            memcpy(out, &word, 4);
        }
        return rc;
    }
    case VTN_CTL_DEVICE_IO: {
        const uint32_t lba = U32At(in, inSize, 8);
        const uint32_t count = U32At(in, inSize, 12);
        if (second > 1 || count > 1 || inSize < 16 + 512ULL * count)
            return EINVAL;
        const Disk* d = FindDisk(id);
        if (!d)
            return ENODEV;
        if (d->failed || !d->present)
            return EIO;
        if (static_cast<uint64_t>(lba) + count > d->capacity)
            return EINVAL;
        const uint32_t word = 0;
        memcpy(out, &word, 4);
        return 0;
    }
    case VTN_CTL_GET_EVENT: {
        if (events.empty())
            return ENOMSG;   // how the driver says it has nothing
        const Event& e = events.front();
        _VTN_EVENT ev{};
        ev.time = TimeRecordOf(e.time);
        ev.device = e.device;
        ev.kind = e.kind;
        if (!e.name.empty())
            CopyText(ev.u.name, e.name.c_str());
        else
            ev.u.duplicate = e.flag;
        memcpy(out, &ev, sizeof ev);
        events.pop_front();
        return 0;
    }
    case VTN_CTL_REBUILD_DATA_BLOCK:
        return FindArray(id) ? 0 : ENODEV;
    case VTN_CTL_ADD_SPARE_DISK:
        return AddPoolSpare(id);
    case VTN_CTL_REMOVE_SPARE_DISK:
        return RemoveSpare(id);
    case VTN_CTL_ADD_DISK_TO_ARRAY:
        return AddDiskToArray(id, second, now);
    case VTN_CTL_SET_ARRAY_STATE:
        return SetArrayState(id, second, now);
    case VTN_CTL_SET_ARRAY_INFO: {
        _ALTERABLE_ARRAY_INFO rec;
        memcpy(&rec, in + 4, sizeof rec);
        return SetArrayName(id, rec);
    }
    case VTN_CTL_SET_DEVICE_INFO:
    case VTN_CTL_SET_QZR_INFO:
    case VTN_CTL_GET_QZR_INFO:
    case VTN_CTL_LOCK_DEVICE:
    case VTN_CTL_UNLOCK_DEVICE: {
        // Bytes the driver keeps per device and this system only passes through.
        Disk* d = FindDisk(id);
        Array* a = d ? nullptr : FindArray(id);
        if (!d && !a)
            return ENODEV;
        auto& alterable = d ? d->alterable : a->alterable;
        auto& qzr = d ? d->qzr : a->qzr;
        bool& locked = d ? d->locked : a->locked;
        uint32_t& lockLba = d ? d->lockLba : a->lockLba;
        uint8_t& lockCount = d ? d->lockCount : a->lockCount;
        if (code == VTN_CTL_SET_DEVICE_INFO) {
            memcpy(alterable.data(), in + 4, alterable.size());
        } else if (code == VTN_CTL_SET_QZR_INFO) {
            memcpy(qzr.data(), in + 4, qzr.size());
        } else if (code == VTN_CTL_GET_QZR_INFO) {
            memcpy(out, qzr.data(), qzr.size());
        } else if (code == VTN_CTL_LOCK_DEVICE) {
            locked = true;
            lockLba = U32At(in, inSize, 4);
            lockCount = in[8];
        } else {
            locked = false;
            lockLba = 0;
            lockCount = 0;
        }
        return 0;
    }
    case VTN_CTL_RESCAN_DEVICES:
        return 0;
    case VTN_CTL_GET_DRIVER_CAPABILITIES: {
        if (id != sizeof(_DRIVER_CAPABILITIES))
            return EINVAL;
        _DRIVER_CAPABILITIES c{};
        c.size = sizeof c;
        c.crossController = caps.crossController;
        c.minBlockCode = caps.minBlockCode;
        c.maxBlockCode = caps.maxBlockCode;
        c.sparePool = caps.sparePool;
        c.maxNameLength = caps.maxNameLength;
        c.dedicatedSpare = caps.dedicatedSpare;
        for (size_t i = 0; i < caps.types.size() && i < sizeof c.raidTypes; ++i) {
            c.raidTypes[i] = caps.types[i].first;
            c.maxMembers[i] = caps.types[i].second;
        }
        memcpy(out, &c, sizeof c);
        return 0;
    }
    case VTN_CTL_ADD_DEDICATED_SPARE:
        return AddDedicatedSpare(id, second);
    case VTN_CTL_SET_DEVICE_INFO_V2: {
        _ALTERABLE_DEVICE_INFO_V2 rec;
        memcpy(&rec, in + 4, sizeof rec);
        return SetDeviceInfoV2(id, rec);
    }
    default:
        (void)changed;
        return EINVAL;
    }
}

// ---- creation -------------------------------------------------------------------------------

int Model::CreateArray(const _CREATE_ARRAY_PARAMS_V2& p, unsigned slots, int64_t now, uint32_t* newId)
{
    const unsigned n = p.memberCount;
    if (n == 0 || n > slots)
        return EINVAL;
    const size_t nameLen = FieldLength(p.name, sizeof p.name);
    if (nameLen == 0 || nameLen > caps.maxNameLength)
        return EINVAL;
    const std::string name(p.name, nameLen);
    std::vector<uint32_t> ids(p.members, p.members + n);
    for (size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == VTN_ID_SYSTEM || ids[i] == VTN_ID_NONE)
            return EINVAL;
        for (size_t j = 0; j < i; ++j)
            if (ids[i] == ids[j])
                return EINVAL;
    }
    const bool blockInRange = p.blockCode >= caps.minBlockCode && p.blockCode <= caps.maxBlockCode &&
                              p.blockCode >= VTN_BLOCK_CODE_MIN && p.blockCode <= VTN_BLOCK_CODE_MAX;
    const bool blockNoneOrRange = p.blockCode == 0 || blockInRange;
    const bool allArrays = std::all_of(ids.begin(), ids.end(), [this](uint32_t m) { return FindArray(m) != nullptr; });
    // Striped mirrors (more than two members) take no option.
    const bool duplicate = p.raidType == VTN_RAID1 && n == 2 && p.option == VTN_CREATE_RAID1_DUPLICATE;

    // Disk members: free, present, enabled; a bootable disk only as a duplication's source.
    auto disksOk = [&]() {
        for (size_t i = 0; i < ids.size(); ++i) {
            const Disk* d = FindDisk(ids[i]);
            if (!d || !DiskIsFree(*d))
                return false;
            if ((d->flags & VTN_DISK_BOOTABLE) && !(duplicate && i == 0))
                return false;
        }
        return true;
    };
    auto oneController = [&]() {
        std::vector<int> c;
        for (uint32_t m : ids)
            CollectDiskControllers(m, &c);
        return std::all_of(c.begin(), c.end(), [&](int x) { return x == c.front(); });
    };
    auto smallest = [&]() {
        uint64_t s = UINT64_MAX;
        for (uint32_t m : ids) {
            const Disk* d = FindDisk(m);
            const Array* a = FindArray(m);
            s = std::min(s, d ? d->capacity : a ? a->capacity : 0);
        }
        return s;
    };
    if (caps.crossController != 1 && !oneController())
        return EXDEV;

    enum class Kind { Raid0, Raid1, Raid5, Jbod, Raid10, Raid01 } kind;
    switch (p.raidType) {
    case VTN_RAID0:
        if (n < 2 || n > MaxMembers(VTN_RAID0) || !blockInRange || !disksOk())
            return EINVAL;
        kind = Kind::Raid0;
        break;
    case VTN_JBOD:
        if (n < 2 || n > MaxMembers(VTN_JBOD) || !blockNoneOrRange || !disksOk())
            return EINVAL;
        kind = Kind::Jbod;
        break;
    case VTN_RAID5:
        if (n < 3 || n > MaxMembers(VTN_RAID5) || !blockInRange || !disksOk())
            return EINVAL;
        if (p.option != VTN_CREATE_RAID5_NO_BUILD && p.option != VTN_CREATE_RAID5_ZERO_BUILD &&
            p.option != VTN_CREATE_RAID5_SCRUB)
            return EINVAL;
        kind = Kind::Raid5;
        break;
    case VTN_RAID1:
        if (n == 2 && allArrays) {
            // Mirror of two idle RAID 0 arrays.
            if (MaxMembers(VTN_RAID01) == 0 || !blockNoneOrRange)
                return EINVAL;
            size_t diskCount = 0;
            for (uint32_t m : ids) {
                const Array* a = FindArray(m);
                if (a->raidType != VTN_RAID0 || a->parent != VTN_ID_NONE ||
                    (ArrayStatus(*a) & (VTN_ARRAY_DISABLED | VTN_ARRAY_BROKEN | VTN_ARRAY_BUSY_MASK)))
                    return EINVAL;
                for (uint32_t dm : a->members)
                    if (!FindDisk(dm))
                        return EINVAL;
                diskCount += a->members.size();
            }
            if (diskCount > MaxMembers(VTN_RAID01))
                return EINVAL;
            kind = Kind::Raid01;
        } else if (n == 2) {
            if (MaxMembers(VTN_RAID1) < 2 || !blockNoneOrRange || !disksOk())
                return EINVAL;
            kind = Kind::Raid1;
        } else {
            // Striped mirrors from one request: an even 4 to 16 disks on a 4- or 8-channel controller.
            if (n < 4 || n % 2 != 0 || n > MaxMembers(VTN_RAID10) || !blockInRange || !disksOk())
                return EINVAL;
            const int ctrl = DiskControllerOf(ids.front());
            for (uint32_t m : ids)
                if (DiskControllerOf(m) != ctrl)
                    return EINVAL;
            if (ctrl < 0 || static_cast<size_t>(ctrl) >= controllers.size())
                return EINVAL;
            const uint8_t channels = controllers[static_cast<size_t>(ctrl)].channels;
            if (channels != 4 && channels != 8)
                return EINVAL;
            kind = Kind::Raid10;
        }
        break;
    default:
        return EINVAL;
    }

    const uint64_t small = smallest();
    const uint32_t avail = newArraysUnavailable ? VTN_ARRAY_NOT_AVAILABLE : 0;
    Array a;
    a.id = NewId();
    a.name = name;
    a.flags = avail;
    a.blockCode = p.blockCode;
    a.members = ids;
    switch (kind) {
    case Kind::Raid0:
        a.raidType = VTN_RAID0;
        a.capacity = small * n;
        break;
    case Kind::Jbod: {
        a.raidType = VTN_JBOD;
        uint64_t sum = 0;
        for (uint32_t m : ids)
            sum += FindDisk(m)->capacity;
        a.capacity = sum;
        break;
    }
    case Kind::Raid5:
        a.raidType = VTN_RAID5;
        a.capacity = small * (n - 1);
        break;
    case Kind::Raid1:
    case Kind::Raid01:
        a.raidType = VTN_RAID1;
        a.capacity = small;
        if (kind == Kind::Raid1 && (FindDisk(ids[0])->flags & VTN_DISK_BOOTABLE))
            a.flags |= VTN_ARRAY_BOOTABLE;
        break;
    case Kind::Raid10: {
        a.raidType = VTN_RAID0;
        a.capacity = small * (n / 2);
        a.members.clear();
        for (unsigned i = 0; i < n; i += 2) {
            Array pair;
            pair.id = NewId();
            pair.name = name;
            pair.raidType = VTN_RAID1;
            pair.blockCode = p.blockCode;   // readers take a striped mirror's block size from its pairs
            pair.flags = avail;
            pair.members = {ids[i], ids[i + 1]};
            pair.capacity = std::min(FindDisk(ids[i])->capacity, FindDisk(ids[i + 1])->capacity);
            pair.parent = a.id;
            for (uint32_t m : pair.members)
                FindDisk(m)->parent = pair.id;
            a.members.push_back(pair.id);
            arrays.push_back(pair);
        }
        break;
    }
    }
    if (kind != Kind::Raid10) {
        for (uint32_t m : ids) {
            if (Disk* d = FindDisk(m))
                d->parent = a.id;
            else if (Array* inner = FindArray(m))
                inner->parent = a.id;
        }
    }
    arrays.push_back(a);
    Array& made = arrays.back();
    if (duplicate) {
        made.staleSlot = 1;
        made.pending = Op::Duplicate;
        StartOp(made, Op::Duplicate, now);
        Queue(VTN_EVENT_REBUILD_STARTED, made.id, now, 1);
    } else if (kind == Kind::Raid5 && p.option != VTN_CREATE_RAID5_NO_BUILD) {
        StartOp(made, Op::Init, now);
        Queue(VTN_EVENT_INIT_STARTED, made.id, now);
    }
    *newId = made.id;
    return 0;
}

// ---- changes to arrays and spares -----------------------------------------------------------

int Model::SetArrayState(uint32_t id, uint32_t state, int64_t now)
{
    Array* a = FindArray(id);
    if (!a)
        return ENODEV;
    const uint32_t st = ArrayStatus(*a);
    switch (state) {
    case VTN_STATE_START_REBUILD: {
        if (!(a->flags & VTN_ARRAY_NEED_REBUILD) || a->op != Op::None ||
            (st & (VTN_ARRAY_DISABLED | VTN_ARRAY_BROKEN)))
            return EINVAL;
        // A mirror is repaired by copying its good member: state 1 starts a duplication there.
        const Op op = (a->raidType == VTN_RAID1 || a->pending == Op::Duplicate) ? Op::Duplicate : Op::Rebuild;
        if (op == Op::Duplicate)
            a->flags &= ~VTN_ARRAY_NEED_REBUILD;
        StartOp(*a, op, now);
        Queue(VTN_EVENT_REBUILD_STARTED, id, now, op == Op::Duplicate ? 1 : 0);
        return 0;
    }
    case VTN_STATE_ABORT_REBUILD: {
        if (a->op != Op::Rebuild && a->op != Op::Duplicate)
            return EINVAL;
        const uint8_t dup = a->op == Op::Duplicate ? 1 : 0;
        a->pending = a->op;
        a->flags |= VTN_ARRAY_NEED_REBUILD;
        EndOp(*a);
        Queue(VTN_EVENT_REBUILD_ABORTED, id, now, dup);
        return 0;
    }
    case VTN_STATE_START_VERIFY:
        if (!Redundant(a->raidType) || a->op != Op::None ||
            (st & (VTN_ARRAY_DISABLED | VTN_ARRAY_BROKEN | VTN_ARRAY_NEED_REBUILD)))
            return EINVAL;
        StartOp(*a, Op::Verify, now);
        Queue(VTN_EVENT_VERIFY_STARTED, id, now);
        return 0;
    case VTN_STATE_ABORT_VERIFY:
        if (a->op != Op::Verify)
            return EINVAL;
        EndOp(*a);
        Queue(VTN_EVENT_VERIFY_ABORTED, id, now);
        return 0;
    case VTN_STATE_ABORT_INITIALIZE: {
        if (a->op != Op::Init)
            return EINVAL;
        // An aborted initialization leaves no array behind.
        Queue(VTN_EVENT_INIT_ABORTED, id, now, 0, a->name);
        return DeleteArray(id, true);
    }
    default:
        return EINVAL;
    }
}

int Model::AddDiskToArray(uint32_t arrayId, uint32_t diskId, int64_t now)
{
    Array* a = FindArray(arrayId);
    Disk* d = FindDisk(diskId);
    if (!a || !d)
        return ENODEV;
    // A pool spare is a free disk too; used here it leaves the pool.
    if (!DiskIsFreeOrPoolSpare(*d) || (d->flags & VTN_DISK_BOOTABLE))
        return EINVAL;
    const uint32_t st = ArrayStatus(*a);
    if (!(st & VTN_ARRAY_BROKEN) || (st & VTN_ARRAY_DISABLED) || a->op != Op::None)
        return EINVAL;
    if (caps.crossController != 1) {
        const int ctrl = DiskControllerOf(arrayId);
        if (ctrl >= 0 && ctrl != d->controller)
            return EXDEV;
    }
    if (a->raidType == VTN_RAID0) {
        // Striped mirrors: the disk goes to the first broken mirror.
        for (uint32_t m : a->members)
            if (const Array* inner = FindArray(m))
                if ((ArrayStatus(*inner) & (VTN_ARRAY_BROKEN | VTN_ARRAY_DISABLED)) == VTN_ARRAY_BROKEN)
                    return AddDiskToArray(m, diskId, now);
        return EINVAL;
    }
    if (!Redundant(a->raidType))
        return EINVAL;
    int slot = -1;
    for (size_t i = 0; i < a->members.size(); ++i)
        if (MemberBad(a->members[i])) {
            slot = static_cast<int>(i);
            break;
        }
    if (slot < 0)
        return EINVAL;
    const uint32_t old = a->members[static_cast<size_t>(slot)];
    if (Array* half = FindArray(old)) {
        // Mirror of stripes: the disk replaces the failed disk inside the disabled half.
        int hs = -1;
        for (size_t i = 0; i < half->members.size(); ++i)
            if (MemberBad(half->members[i])) {
                hs = static_cast<int>(i);
                break;
            }
        if (hs < 0 || half->members.empty())
            return EINVAL;
        if (d->capacity < half->capacity / half->members.size())
            return ENOSPC;
        const uint32_t oldDisk = half->members[static_cast<size_t>(hs)];
        half->members[static_cast<size_t>(hs)] = diskId;
        d->parent = half->id;
        d->flags &= ~VTN_DISK_SPARE;
        ReleaseReplacedDisk(oldDisk);
    } else {
        if (d->capacity < MemberSize(*a))
            return ENOSPC;
        a->members[static_cast<size_t>(slot)] = diskId;
        d->parent = a->id;
        d->flags &= ~VTN_DISK_SPARE;
        ReleaseReplacedDisk(old);
    }
    a = FindArray(arrayId);
    a->staleSlot = slot;
    a->flags |= VTN_ARRAY_NEED_REBUILD;
    a->pending = Op::Rebuild;
    return 0;
}

int Model::AddDedicatedSpare(uint32_t arrayId, uint32_t diskId)
{
    if (!(caps.dedicatedSpare & 1))
        return EOPNOTSUPP;
    Array* a = FindArray(arrayId);
    Disk* d = FindDisk(diskId);
    if (!a || !d)
        return ENODEV;
    if (!Redundant(a->raidType) || a->spare != VTN_ID_NONE || a->members.size() >= VTN_MAX_MEMBERS_V2 ||
        (ArrayStatus(*a) & VTN_ARRAY_DISABLED))
        return EINVAL;
    if (!MirrorOfStripes(*a))
        for (uint32_t m : a->members)
            if (!FindDisk(m))
                return EINVAL;   // a mirror of other arrays takes no disk as its spare
    if (!DiskIsFree(*d) || (d->flags & VTN_DISK_BOOTABLE))
        return EINVAL;
    if (d->capacity < SpareNeed(*a))
        return ENOSPC;
    if (caps.crossController != 1) {
        const int ctrl = DiskControllerOf(arrayId);
        if (ctrl >= 0 && ctrl != d->controller)
            return EXDEV;
    }
    d->parent = arrayId;
    d->flags |= VTN_DISK_SPARE;
    a->spare = diskId;
    return 0;
}

int Model::AddPoolSpare(uint32_t diskId)
{
    if (!(caps.sparePool & 1))
        return EOPNOTSUPP;
    Disk* d = FindDisk(diskId);
    if (!d)
        return ENODEV;
    if (!DiskIsFree(*d) || (d->flags & VTN_DISK_BOOTABLE))
        return EINVAL;
    d->flags |= VTN_DISK_SPARE;
    return 0;
}

int Model::RemoveSpare(uint32_t diskId)
{
    Disk* d = FindDisk(diskId);
    if (!d)
        return ENODEV;
    if (!(d->flags & VTN_DISK_SPARE))
        return EINVAL;
    if (d->parent != VTN_ID_NONE)
        if (Array* a = FindArray(d->parent); a && a->spare == diskId)
            a->spare = VTN_ID_NONE;
    d->parent = VTN_ID_NONE;
    d->flags &= ~VTN_DISK_SPARE;
    return 0;
}

int Model::SetDeviceInfoV2(uint32_t id, const _ALTERABLE_DEVICE_INFO_V2& rec)
{
    Disk* d = FindDisk(id);
    if (!d)
        return FindArray(id) ? EINVAL : ENODEV;
    if (!d->present)
        return EIO;
    struct Bit {
        uint32_t mask;
        uint8_t supported;
        uint8_t on;
        uint8_t value;
    };
    const Bit bits[] = {
        {VTN_ALTER_TCQ, VTN_FEATURE_TCQ_SUPPORTED, VTN_FEATURE_TCQ_ON, rec.tcq},
        {VTN_ALTER_NCQ, VTN_FEATURE_NCQ_SUPPORTED, VTN_FEATURE_NCQ_ON, rec.ncq},
        {VTN_ALTER_WRITE_CACHE, VTN_FEATURE_WRITE_CACHE_SUPPORTED, VTN_FEATURE_WRITE_CACHE_ON, rec.writeCache},
        {VTN_ALTER_READ_AHEAD, VTN_FEATURE_READ_AHEAD_SUPPORTED, VTN_FEATURE_READ_AHEAD_ON, rec.readAhead},
    };
    const uint32_t known = VTN_ALTER_TCQ | VTN_ALTER_NCQ | VTN_ALTER_WRITE_CACHE | VTN_ALTER_READ_AHEAD;
    if (rec.validMask == 0 || (rec.validMask & ~known))
        return EINVAL;
    for (const Bit& b : bits)
        if ((rec.validMask & b.mask) && !(d->features & b.supported))
            return EOPNOTSUPP;
    for (const Bit& b : bits) {
        if (!(rec.validMask & b.mask))
            continue;
        if (b.value)
            d->features |= b.on;
        else
            d->features &= static_cast<uint8_t>(~b.on);
    }
    return 0;
}

int Model::SetArrayName(uint32_t id, const _ALTERABLE_ARRAY_INFO& rec)
{
    Array* a = FindArray(id);
    if (!a)
        return ENODEV;
    if (!(rec.validMask & VTN_ALTER_ARRAY_NAME))
        return EINVAL;
    const size_t len = FieldLength(rec.name, sizeof rec.name);
    if (len == 0 || len > caps.maxNameLength || len > VTN_ARRAY_NAME_FIELD)
        return EINVAL;
    a->name.assign(rec.name, len);
    return 0;
}

}  // namespace vtnsim
