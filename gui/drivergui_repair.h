// What the repair dialogs, the health probes and the Spare Pool form share: lists of device items
// (list-box rows made by InsertXPMItem, each carrying its device id as "ID") and the size rules that
// decide whether a disk may stand in for a member of an array.
#pragma once
#include <cstdint>
#include <functional>
#include <gtk/gtk.h>
#include <string>
#include <vector>

class CDisk;
class CDiskArray;
class CMainWindow;
class CSupportPara;

// Whether the main window and its connection are still the ones there were when it was made:
// a modal wait runs the main loop, and either may go meanwhile.
struct SWindowStands {
    CMainWindow* win;
    int connection;
    unsigned int count;
    explicit SWindowStands(CMainWindow* w);
    bool operator()() const;
};

// ---- device item lists ---------------------------------------------------------------------------

// An empty list with the selection mode.
GtkWidget* NewItemList(GtkSelectionMode mode);
// Appends a shown row with the icon and the caption, tagged with id; the row.
GtkWidget* AppendItem(GtkWidget* list, const char* caption, const char** xpm, uint32_t id);
// The "ID" of a row.
uint32_t ItemId(GtkWidget* row);
int ItemCount(GtkWidget* list);
// The row at index, null when there is none.
GtkWidget* ItemAt(GtkWidget* list, int index);
// The row tagged id, null when there is none.
GtkWidget* ItemOf(GtkWidget* list, uint32_t id);
// The first selected row in list order, null without a selection.
GtkWidget* FirstSelectedItem(GtkWidget* list);
// Selects the row at index (its selection handlers run); nothing for an index outside the list.
void SelectItem(GtkWidget* list, int index);
// Removes every row.
void ClearItems(GtkWidget* list);

// A device's name as the dialogs show it: the driver pads disk names with blanks.
std::string NameOf(const CDisk& device);

// ---- size rules ------------------------------------------------------------------------------------

// The rule of the add-disk dialog that a disk breaks, in the order they are tried.
enum class ERepairRule { Fits, Raid1, Raid5, Raid01 };
// raidType is the array's driver code; members its member count (a RAID 5 with fewer than one
// member is not measured).
ERepairRule RepairSizeRule(uint32_t raidType, bool raid01, uint64_t arraySectors, int members,
                           uint64_t diskSectors);

// What a spare must hold for the arrays that can use one; 0: no array of that kind.
struct SSpareNeeds {
    uint64_t r1 = 0, r01 = 0, r10 = 0, r5 = 0;
    int c01 = 1, c10 = 1, c5 = 1;   // member counts
};
bool NoSpareNeed(const SSpareNeeds& needs);
// True when the disk is smaller than a member of any kind with a need; a kind whose divisor
// (c01, c10, c5 - 1) is below 1 is skipped.
bool SpareTooSmall(const SSpareNeeds& needs, uint64_t diskSectors);
// The kinds of array that take a spare, as the spare questions name them: "RAID 1", "RAID 0/1",
// "RAID 1/0", "RAID 5" as far as the driver builds them, joined by " or ".
std::string SpareLevelList(const CSupportPara& support);

// Whether a free disk may be listed as a dedicated spare of an array: at least the capacity of a
// RAID 1 (a RAID 0/1 too), of a RAID 5's member (its capacity over members - 1; fewer than two
// members are not measured) and of half a RAID 0/1 or RAID 1/0.
bool DedicatedSpareFits(uint32_t raidType, bool raid01, bool raid10, uint64_t arraySectors, int members,
                        uint64_t diskSectors);

// Every array a repair may concern, in the driver's order: each top-level array that is not a
// RAID 1/0, and each RAID 1 member of a RAID 1/0 with its position among the members (from 1)
// and that RAID 1/0 (null and 0 for a top-level array).
void ForEachRepairArray(const std::function<void(CDiskArray& array, int position, CDiskArray* raid10)>& visit);

// An array's status asks for a rebuild the GUI may start: it needs one, none runs, and it is
// neither disabled nor broken.
bool NeedsRebuild(uint32_t status);
