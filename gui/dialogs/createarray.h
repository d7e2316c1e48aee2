// CCreateArray: the RAID creation wizard. One object, CreateArrayForm, keeps the values entered
// between the wizard's steps: step 1 type and name, step 2 block size and creation option, step 3
// the member disks, then Finish. The wizard's window is not modal; every step destroys it and
// builds the next one.
#pragma once
#include <cstdint>
#include <gtk/gtk.h>

// Creation options (nCreateOption).
enum {
    VTN_OPTION_CREATE_ONLY = 0,     // RAID 1
    VTN_OPTION_DUPLICATE = 1,       // RAID 1
    VTN_OPTION_ZERO_BUILD = 2,      // RAID 5
    VTN_OPTION_SCRUB = 3,           // RAID 5
    VTN_OPTION_NO_BUILD = 4         // RAID 5
};

class CCreateArray {
public:
    CCreateArray();
    ~CCreateArray() = default;
    CCreateArray(const CCreateArray&) = delete;
    CCreateArray& operator=(const CCreateArray&) = delete;

    // Step 1 (also the Back of step 2 and, for JBOD, of step 3).
    void CreateRAIDStep1();
    // The Next of step 1: step 2, or step 3 for JBOD; stays on step 1 when a name check fails.
    void CreateRAIDStep2();
    // The Next of step 2.
    void CreateRAIDStep3();
    // The Back of step 3.
    static void Step3Back(GtkWidget* button);
    // Builds the wizard window around pFormBuilder's form.
    void BaseForm();
    // Appends the summary rows: mode 0 type and name, mode 1 every row of step 3.
    void SetPareList(int mode);
    // Cancel and the close box: closes the wizard after its question.
    static void destroywin(GtkWidget* widget, void* data);

    static GtkWidget* CreateRAIDStep1Form();
    static GtkWidget* CreateRAIDStep2Form();
    static GtkWidget* CreateRAIDStep3Form();

    // Step 3: the available disks, the information row, the arrows and Finish.
    void LoadDeviceList(GtkWidget* list);
    void ShowDiskInfor(unsigned int id);
    static void add(GtkWidget* button, void* data);
    static void remove(GtkWidget* button, void* data);
    void SwapListData(const char* name);
    void CreateRAIDFinish();

    // Destroys the window without a question; the values stay. Nothing when it is closed.
    void CloseWizard();
    // The wizard is open on the connection it was opened on.
    bool Stands() const;
    // Stands, or closes the wizard and returns false.
    bool StandsOrClose();

    GtkWidget* pWizard;
    GtkWidget* pBackBtn;
    GtkWidget* pNextBtn;
    GtkWidget* pFinishBtn;
    GtkWidget* pTypeCombo;
    GtkWidget* pNameEntry;
    GtkWidget* pBlockCombo;
    GtkWidget* pOptionFrame;
    GtkWidget* pParamList;
    // The values a fresh wizard resets: bBuilding through nDiskRowFirst.
    uint8_t bBuilding;
    uint8_t bKeepValues;  // 1: opening step 1 keeps the values entered so far
    uint32_t nRaidCode;
    char szRaidType[200];
    char szArrayName[200];
    uint32_t nBlockCode;
    char szBlockSize[200];
    uint32_t nCreateOption;
    uint32_t nDiskRowEnd;
    uint32_t nDiskRowFirst;
    GtkWidget* pAvailDisks;
    GtkWidget* pSelectedDisks;
    GtkWidget* pDiskInfo;
    GtkWidget* pAddArrow;
    GtkWidget* pRemoveArrow;
    GtkWidget* pNoBuildRadio;
    GSList* pRaid5Group;
    GtkWidget* (*pFormBuilder)();
    // The main window's connection count when the wizard was opened.
    unsigned int nConnection;

private:
    void ResetValues();
    void ForgetWidgets();
    // The window of a step: its form, and the handlers of Back (none: insensitive), Next and
    // Finish (none: hidden).
    void NewStep(GtkWidget* (*builder)(), GCallback back, GCallback next, GCallback finish);
    // The selected list's disks in list order; their count.
    int SelectedIds(uint32_t* ids, int room) const;
};

extern CCreateArray CreateArrayForm;
CCreateArray* GetCreateArray();

// A scrolled list that only shows rows (the parameter and disk information lists).
GtkWidget* SummaryList(GtkWidget* list);

// Closes the wizard, values kept: the connection it was opened on is going.
void CloseCreateArray();

// Handlers of steps 1 and 2.
void nameentry(GtkWidget* combo, void* data);
void namechange(GtkWidget* entry, void* data);
void blockentry(GtkWidget* combo, void* data);
void raid1create(GtkWidget* radio, void* data);
void raid1init(GtkWidget* radio, void* data);
void raid5zerobuild(GtkWidget* radio, void* data);
void raid5scrub(GtkWidget* radio, void* data);
void raid5nobuild(GtkWidget* radio, void* data);
// "selection_changed" of both disk lists of step 3.
void diskselect(GtkWidget* list);

// Row titles of the lists.
extern const char* const CreateArrayListTitles[2];
extern const char* const InforListTitles[3];
