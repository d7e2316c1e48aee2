// The array-health probes: at login the disabled, broken and rebuild-waiting arrays, each kind
// brought to its repair dialog in turn; on a plugged disk the offer of that disk to a broken
// array. The detectors fill the window's two id lists (at most VTN_PROBE_SLOTS ids each).
#include <algorithm>

#include "dam.h"
#include "drivergui.h"
#include "drivergui_repair.h"

namespace {

void ClearList(uint32_t (&ids)[VTN_PROBE_SLOTS], int* count)
{
    for (uint32_t& id : ids)
        id = VTN_ID_NONE;
    *count = 0;
}

// Appends while there is room; later arrays wait for the next probe.
void Append(uint32_t (&ids)[VTN_PROBE_SLOTS], int* count, uint32_t id)
{
    if (*count < VTN_PROBE_SLOTS)
        ids[(*count)++] = id;
}

}  // namespace

bool CMainWindow::HaveDisabledArray()
{
    ClearList(nProbeIds1, &nProbeCount1);
    for (ClDiskArrayIterator it(VTN_ID_SYSTEM); it; ++it) {
        CDiskArray a;
        a = **it;
        if (a.GetType() == VTN_DEVICE_ARRAY && (a.GetWorkStatus() & VTN_ARRAY_DISABLED))
            Append(nProbeIds1, &nProbeCount1, a.GetID());
    }
    return nProbeCount1 >= 1;
}

bool CMainWindow::HaveBrokenArray()
{
    ClearList(nProbeIds1, &nProbeCount1);
    ForEachRepairArray([this](CDiskArray& a, int, CDiskArray* raid10) {
        // The mirrors of a disabled RAID 1/0 are not repaired one by one.
        if (raid10 && (raid10->GetWorkStatus() & VTN_ARRAY_DISABLED))
            return;
        const uint32_t s = a.GetWorkStatus();
        if ((s & VTN_ARRAY_BROKEN) && !(s & VTN_ARRAY_DISABLED))
            Append(nProbeIds1, &nProbeCount1, a.GetID());
    });
    return nProbeCount1 >= 1;
}

bool CMainWindow::HaveNeedbuildingArray()
{
    ClearList(nProbeIds2, &nProbeCount2);
    // The mirrors of a RAID 1/0 count whatever the state of the stripe above them.
    ForEachRepairArray([this](CDiskArray& a, int, CDiskArray*) {
        if (NeedsRebuild(a.GetWorkStatus()))
            Append(nProbeIds2, &nProbeCount2, a.GetID());
    });
    return nProbeCount2 >= 1;
}

void CMainWindow::ProbeArrayState(bool byDisk, uint32_t id)
{
    const SWindowStands stands(this);
    if (handle < 0)
        return;
    if (byDisk) {
        if (addtoarray(id, true) && stands())
            FreshTree();
        return;
    }
    if (HaveDisabledArray()) {
        deletedisablearray();
        if (!stands())
            return;
    }
    if (HaveBrokenArray()) {
        // The list as the detector left it; the dialogs below may run further probes.
        uint32_t ids[VTN_PROBE_SLOTS];
        const int n = nProbeCount1;
        std::copy(nProbeIds1, nProbeIds1 + VTN_PROBE_SLOTS, ids);
        for (int i = 0; i < n; ++i) {
            const bool added = addtoarray(ids[i], false);
            if (!stands())
                return;
            if (!added)
                continue;
            CDiskArray again;
            again = ids[i];
            if (again.GetWorkStatus() & VTN_ARRAY_BROKEN) {
                MessageBox("Disk has been added to array successfully.\nPlease select another to add to this array!",
                           "Confirmation", false);
                if (!stands())
                    return;
                addtoarray(ids[i], false);
                if (!stands())
                    return;
            }
            FreshTree();
        }
    }
    if (HaveNeedbuildingArray())
        duplicatingarray();
}
