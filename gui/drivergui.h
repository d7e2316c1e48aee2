// The main window of vtnraid: the one CMainWindow object with its menu bar, status bar, forms,
// per-form toolbars and the /Operation menu, the single-instance check, and the helpers every
// window uses (message box, icon items, captioned buttons).
#pragma once
#include <cairo.h>
#include <cstdint>
#include <functional>
#include <gtk/gtk.h>
#include <string>

#include "dam.h"
#include "damui.h"
#include "global_user.h"

class CVTNTree;

// ---- toolbars ------------------------------------------------------------------------------

// One toolbar button; the same rows make the /Operation items while their form is current.
struct SToolbarButtonInfo {
    const char* text;        // caption and /Operation label
    const char* tooltip;
    const char** xpm;        // icon
    void (*callback)();
    int nReserved;           // 1 in every row
    const char* szReserved;  // "" in every row
    GtkWidget* button;       // set when the toolbar is built; null once it is destroyed
    GtkWidget* menuitem;     // the /Operation item while the row's form is current
};

constexpr int VTN_REMOTECON_ROWS = 5;
constexpr int VTN_EVENTNOTI_ROWS = 5;
constexpr int VTN_ARRAYMANAGE_ROWS = 7;
constexpr int VTN_DEVICEMANAGE_ROWS = 1;
constexpr int VTN_TASKMANAGE_ROWS = 3;
constexpr int VTN_SPAREPOOL_ROWS = 2;

extern SToolbarButtonInfo RemoteConToolbar[VTN_REMOTECON_ROWS];
extern SToolbarButtonInfo EventNotiToolbar[VTN_EVENTNOTI_ROWS];
extern SToolbarButtonInfo ArrayMenageToolbar[VTN_ARRAYMANAGE_ROWS];
extern SToolbarButtonInfo DeviceMenageToolbar[VTN_DEVICEMANAGE_ROWS];
extern SToolbarButtonInfo TaskManageToolbar[VTN_TASKMANAGE_ROWS];
extern SToolbarButtonInfo SparePoolToolbar[VTN_SPAREPOOL_ROWS];
// A toolbar row's button, and its /Operation item (a row has one only while its form is current).
void SetRowSensitive(SToolbarButtonInfo& row, bool on);

// ---- menu bar -------------------------------------------------------------------------------

// One row of the menu-bar table: path, accelerator, callback, callback action, item type
// ("<Branch>", "<Separator>" or null for a plain item).
struct SMenuEntry {
    const char* path;
    const char* accelerator;
    void (*callback)();
    unsigned int action;
    const char* itemType;
};

constexpr int VTN_MENU_ROWS = 28;
extern SMenuEntry mainmenu_items[VTN_MENU_ROWS];
extern int nItemNum;

// The menu bar's items by their path without underscores ("/File/Exit", "/Operation").
struct SMenuFactory;

// ---- forms ----------------------------------------------------------------------------------

constexpr size_t VTN_FORM_NAME_SIZE = 200;

struct SFormInfo {
    char name[VTN_FORM_NAME_SIZE];
    GtkWidget* container;  // the vertical box holding the whole form
};

constexpr int VTN_FRESH_SLOTS = 20;
constexpr int VTN_PROBE_SLOTS = 20;

// ---- the main window --------------------------------------------------------------------------

// Most events the event list keeps from a load of the server's log: the newest.
constexpr size_t VTN_LOG_LOAD_MAX = 1000000;

class CMainWindow {
public:
    CMainWindow();
    ~CMainWindow();
    CMainWindow(const CMainWindow&) = delete;
    CMainWindow& operator=(const CMainWindow&) = delete;

    void Create();
    void PrintStatus(const char* text);
    static void DestroyWindow(GtkWidget* widget, void* data);
    static gboolean FocusWindow(GtkWidget* widget, void* data);
    static gboolean WindowKey(GtkWidget* widget, GdkEventKey* event, void* data);
    void FreshTree();

    // Form list.
    SFormInfo* GetCurrForm(const char* name);
    int AddNewForm(const char* name, GtkWidget* container);
    void HideCurrForm();
    void DeleteForm();
    int AddNewTree(CVTNTree* tree);
    void DeleteTree();

    // Menu items by path; nothing happens for a path the menu bar does not have.
    void EnableMenu(const char* path);
    void DisableMenu(const char* path);
    void ShowMenu(const char* path);
    void HideMenu(const char* path);
    // The item of a path, or null.
    GtkWidget* MenuItem(const char* path) const;

    // Toolbars and /Operation.
    void CreateToolBar(GtkWidget* container, SToolbarButtonInfo* rows, int n);
    void AddMainMenu(SToolbarButtonInfo* rows, int n);

    // Form switching, each with the form's name.
    void ShowRemoteCon(const char* name);
    void ShowEventNotifi(const char* name);
    void ShowArrayManage(const char* name);
    void ShowDeviceManage(const char* name);
    void ShowSparePool(const char* name);
    void ShowEventView(const char* name);
    void ShowIconView(const char* name);

    // Fresh list: ids of busy arrays whose page the timer redraws.
    int AddFresh(uint32_t id);
    bool GetFresh(uint32_t id) const;
    int DelFreshs();
    int DelFresh(uint32_t id);

    // Rights gating (filled with the login).
    void FreshPrivilege();
    void FreshRemoteConTool();
    void FreshEventNotiTool();

    // The 2000 ms timer.
    static int SysTimer(void* data);
    // Every 100 ms, also while a box waits: reads the event channel into the client's buffer, so
    // the server's pushes never wait on the window. The timer takes the events.
    static int DrainEvents(void* data);
    // A failed disk of a RAID 1/0: stops the rebuild or verify of the other members.
    void ProbeRaid10Rebuid(uint32_t id);
    // Array-health probes: the whole probe (byDisk false) or the offer of the disk id.
    void ProbeArrayState(bool byDisk, uint32_t id);
    // The detectors: each refills its list (at most VTN_PROBE_SLOTS ids); true when it holds one.
    bool HaveDisabledArray();
    bool HaveBrokenArray();
    bool HaveNeedbuildingArray();

    // The seven Array Management buttons (and their /Operation items while that form is current)
    // for the device id; nothing before the form is built.
    void FreshArrayManTool(uint32_t id);
    // Repair dialog: a free disk for the broken array id (diskGiven false), or a broken array for
    // the free disk id (true). True only when a disk was added.
    bool addtoarray(uint32_t id, bool diskGiven);
    // Repair dialogs: delete disabled arrays; start the rebuild of arrays that need one.
    void deletedisablearray();
    void duplicatingarray();
    // "selection_changed" of the add-disk list: the picked device's capacity (data: its dialog).
    static void sigh_selectandprint(GtkWidget* list, void* data);

    // Spare Pool form: the radios' "toggled" handlers and the refill of both lists.
    void SparePool0(GtkWidget* radio);
    void SparePool1(GtkWidget* radio);
    void LoadSpareList(bool dedicated);
    // Appends to list the names of the arrays that can take a spare (or a task): each a new
    // char[VTN_FORM_NAME_SIZE] that the caller frees (FreeArrayCom).
    static GList* LoadArrayCom(GList* list, bool notNeedRebuild, bool all);

    GtkWidget* pWindow;
    GtkWidget* pVBox;
    SMenuFactory* pItemFactory;
    GtkAccelGroup* pAccelGroup;
    GtkWidget* pMenuBar;
    GtkWidget* pStatusBar;
    unsigned int nStatusContext;
    GList* pFormList;   // SFormInfo*
    GList* pTreeList;   // CVTNTree*
    char szCurrForm[VTN_FORM_NAME_SIZE];
    cairo_font_face_t* pFont[2];   // regular and bold monospace
    GdkPixbuf* pPixmap[8];         // adapter, channel, disk, RAID 0, JBOD, RAID 0/1, RAID 1, RAID 1/0
    CSupportPara SupportPara;
    SToolbarButtonInfo* pOperTable;
    int nOperCount;
    GtkWidget* pStartWin;
    GtkWidget* pSysList;
    GtkWidget* pArrayTree;
    GtkWidget* pDeviceTree;
    int nLogRows;
    GtkWidget* pLogList;
    GtkWidget* pIconList;
    GtkWidget* pFileSel;
    GtkWidget* pClearButton;
    uint32_t nLogMask;
    uint8_t bSortOrder;
    int nSpareMode;
    GtkWidget* pSpareCombo;
    GtkWidget* pSpareBox;
    GtkWidget* pAvailList;
    GtkWidget* pSpareList;
    GtkWidget* pPoolRadio;
    GtkWidget* pDedicatedRadio;
    GtkWidget* pAddSpareBtn;
    GtkWidget* pRemoveSpareBtn;
    GtkWidget* pDiskInfoList;
    GtkWidget* pRecipientList;
    _VTN_USER_INFO UserInfo;
    bool bLoggedIn;
    uint32_t nProbeIds1[VTN_PROBE_SLOTS];
    uint32_t nProbeIds2[VTN_PROBE_SLOTS];
    int nProbeCount1;
    int nProbeCount2;
    uint32_t nReplaceArrayId;
    uint8_t bReplaceChanged;
    int nFreshCount;
    uint32_t nFreshIds[VTN_FRESH_SLOTS];
    GtkWidget* pCheckInfoBox;
    GtkWidget* pCheckInfoLabel;
    GtkWidget* pCheckList;
    GtkWidget* pReplaceList;
    GtkWidget* pReplaceAddBtn;
    GtkWidget* pReplaceRemoveBtn;
    bool bTimerOn;
    // Bumped whenever a connection ends, so a login can tell that its connection broke meanwhile.
    unsigned int nConnectCount = 0;
    // The idle that finishes a broken connection's logout, 0 when none waits.
    unsigned int nConnectOutSource = 0;
    // Most events the event list keeps from a load of the server's log (the newest).
    size_t nLogLoadMax = VTN_LOG_LOAD_MAX;

    // Event sources the window added; removed when it is destroyed.
    unsigned int nTimerSource;
    unsigned int nDrainSource;
    GList* pIdleSources;  // GUINT_TO_POINTER(source id)

    // Adds an idle callback that the window removes when it is destroyed, unless it is done by
    // then (returned false).
    unsigned int AddIdle(GSourceFunc func, void* data);
    // Drops a source from the window's list (the source itself is left alone).
    void ForgetIdle(unsigned int source);

private:
    void BuildMenuBar();
    bool SwitchForm(const char* name, void (CMainWindow::*build)(GtkWidget* box), SToolbarButtonInfo* rows, int n);
    void BuildRemoteCon(GtkWidget* box);
    void BuildEventNotifi(GtkWidget* box);
    void BuildArrayManage(GtkWidget* box);
    void BuildDeviceManage(GtkWidget* box);
    void BuildSparePool(GtkWidget* box);
    void FreshSparePool();
    void BuildEventView(GtkWidget* box);
    void BuildIconView(GtkWidget* box);
    void ReleaseWidgets();
};

extern CMainWindow* pMainWin;
CMainWindow* GetMainWindow();

// ---- start-up and single instance -------------------------------------------------------------

// Ids of the processes named name under procDir ("/proc"), ending with 0; with none, {1, 0}
// for "init" and {-1, 0} otherwise. A malloc'ed array the caller frees.
long* find_pid_by_name(const char* name, const char* procDir = "/proc");
// True when another vtnraid runs (the caller counts itself).
bool Findvtnraid();
// The program: the steps of main.
int VtnRaidMain(int argc, char** argv);

// ---- menu bar callbacks -------------------------------------------------------------------------

void MainExit();
void RemoteControl();
void EventNotification();
void ArrayManagement();
void DeviceManagement();
void SparePool();
void EventView();
void IconView();
void CreateArray();

// ---- message box and widget helpers ---------------------------------------------------------------

// The answer record of a modal window, attached as object data "DATA".
struct _DIALOG_DATA {
    uint8_t value;  // 1 OK, 0 Cancel
    uint8_t done;   // ends the wait
};

void yes_mselect(GtkWidget* w);
void no_mselect(GtkWidget* w);
// A dialog window: title, border, size request, transient for the main window (when there is
// one) and centred, realized; its close box answers Cancel (closeIsOk: OK).
GtkWidget* NewDialogWindow(const char* title, int width, int height, int border, bool closeIsOk);
// A window opened while a connection stands belongs to that session and goes when it ends
// (NewDialogWindow puts every dialog there); nothing without a connection.
void JoinSession(GtkWidget* window);
// Takes a window out of the session: it does not act on the server and stays when the session ends.
void LeaveSession(GtkWidget* window);
// Closes every window of the session that ends; whatever waits on one of them gets Cancel.
void CloseSessionWindows();
// Attaches rec as "DATA", grabs the input and runs the main loop until the window
// is answered or destroyed. The value of the answer.
int DialogWait(GtkWidget* window, _DIALOG_DATA* rec);
// kind 0 button, 1 tree item (an expander), 2 list item (a list-box row), 3 menu item.
GtkWidget* InsertXPMItem(const char* label, const char** xpm, int kind);
GtkWidget* CreateButton(const char* label);
// The picture of built-in XPM data, made once and kept for the life of the program.
GdkPixbuf* XpmPixbuf(const char** xpm);
// Waits for the answers of a dialog made by NewDialogWindow: Cancel and the close box end at once;
// OK runs ok (when given) and ends when it returns true, else the dialog waits again as it is.
// Destroys the window at the end. 1 when it ended by OK, 0 otherwise (also when the window or the
// main window went meanwhile).
int RunDialog(GtkWidget* window, const std::function<bool()>& ok = nullptr);
// "    OK    " (yes_mselect) and "  Cancel  " (no_mselect) of window, made by CreateButton and
// packed into box.
void PackOkCancel(GtkWidget* box, GtkWidget* window);

// Gives widget the style class, with the rules of css parsed once into *provider.
void StyleWidget(GtkWidget* widget, GtkCssProvider** provider, const char* css, const char* styleClass);
// A label at the left and an entry of at most maxChars characters at the right, in row of grid;
// shown: false hides the typed text.
GtkWidget* GridEntry(GtkWidget* grid, int row, const char* label, int maxChars, bool shown = true);
// A refused or failed request seen in a dialog's OK handler: shows text titled "Error" and returns
// false (the dialog stays open). A connection that broke has a box of its own: true, no box.
bool RequestFailed(const char* text);
// The text of an entry into a record field of size bytes: cut at a character boundary and
// NUL-terminated. False when the text did not fit whole.
bool CopyEntryText(char* field, size_t size, GtkWidget* entry);
// The same for a text.
bool CopyUtf8Text(char* field, size_t size, const char* text);
// An entry's text; empty for no entry.
std::string EntryText(GtkWidget* entry);
// Shows text (null: empty) in an entry, made valid UTF-8.
void SetEntryText(GtkWidget* entry, const char* text);
// The active text of a text combo; empty for no combo or nothing active.
std::string ComboActiveText(GtkWidget* combo);
// Sensitivity of a widget that may not be there.
void SetSensitive(GtkWidget* w, bool on);
// Whether a toggle button that may not be there is active.
bool ToggleActive(GtkWidget* toggle);
// "clicked" trampoline: handler is a void (*)() passed as the data.
void OnClicked(GtkButton* button, gpointer handler);
// A button whose "clicked" runs handler.
GtkWidget* HandlerButton(const char* caption, void (*handler)());

// ---- repair dialogs and spare changes -------------------------------------------------------------

// OK and Cancel of a repair dialog: answer the dialog the widget belongs to.
void hyes_select(GtkWidget* w);
void hno_select(GtkWidget* w);
// Frees the names of CMainWindow::LoadArrayCom and the list.
void FreeArrayCom(GList* names);
// Sectors in a GB as the forms show capacities.
inline constexpr double kSectorsPerGB = 2097152.0;
// Row 0 of a disk information list: name, capacity in GB and location of disk.
void FillDiskInfoRow(GtkWidget* list, const CDisk& disk, const char* name);
// The Spare Pool form's information row, selection handler and arrow buttons.
void ShowDiskInfor(uint32_t id);
void sparepoolselect(GtkWidget* list);
void addsparepool(GtkWidget* button, GdkEvent* event, void* data);
void removesparepool(GtkWidget* button, GdkEvent* event, void* data);

// ---- handlers of the forms (their bodies come with the dialogs and views they belong to) ---------

void NewSystem();
void ModSystem();
void DelSystem();
void LogSystem();
bool LogoutSystem();
void SMTPServerSet();
void AddRecipient();
void ModRecipient();
void DelRecipient();
void TestRecipient();
void LoadReceiver();
void ReceiverSelect(GtkWidget* list, int row, int column, GdkEventButton* event, void* data);
void DeleteArray();
void RenameArray();
void AddDiskArray();
void VerifyArray();
void RebuildArray();
void AbortArray();
void ReScan();
void AddNewTask();
void ModifyTask();
void DeleteTask();
void SetSysConfig();
void UserManageMent();
void SetCurrentPass();
void TaskManagement();
void HelpTop();
void AboutBox();
void LoadIcons();
void syslistselect(GtkWidget* list, int row, int column, GdkEventButton* event, void* data);
void log_toggle_regular(GtkWidget* button);
void log_toggle_warning(GtkWidget* button);
void log_toggle_critical(GtkWidget* button);
void log_click_column(GtkWidget* list, int column, void* data);
void ClearLog();
void SaveLog();
void ClearLogList();
// The page of the selected busy array, redrawn by the timer.
void FreshArray();
// The device id of a device tree's selected item; 0xFFFFFFFF without a selection.
uint32_t GetTreeSelectedID(GtkWidget* tree);
// The disk feature buttons of the information page ("clicked"; the button carries the disk id as "ID").
void write_cache_clicked(GtkWidget* button, GdkEvent* event, void* data);
void read_ahead_clicked(GtkWidget* button, GdkEvent* event, void* data);
void tcq_clicked(GtkWidget* button, GdkEvent* event, void* data);
void ncq_clicked(GtkWidget* button, GdkEvent* event, void* data);
