// The main window object: start-up with the single-instance check, the window with its menu bar
// and status bar, fonts and pictures, and its window-level handlers and teardown.
#include "drivergui.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

#include "client.h"
#include "drivergui_list.h"
#include "textutil.h"
#include "vtntree.h"
#include "xpm_data.h"

CMainWindow* pMainWin = nullptr;

CMainWindow* GetMainWindow()
{
    return pMainWin;
}

// ---- menu bar ---------------------------------------------------------------------------------

SMenuEntry mainmenu_items[VTN_MENU_ROWS] = {
    {"/_File", nullptr, nullptr, 0, "<Branch>"},
    {"/_File/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/File/_Remote Control", nullptr, RemoteControl, 0, nullptr},
    {"/_File/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/File/_System Configuration", nullptr, SetSysConfig, 0, nullptr},
    {"/File/_User Management", nullptr, UserManageMent, 0, nullptr},
    {"/File/P_assword", nullptr, SetCurrentPass, 0, nullptr},
    {"/_File/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/File/E_xit", nullptr, MainExit, 0, nullptr},
    {"/_Management", nullptr, nullptr, 0, "<Branch>"},
    {"/_Management/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/Management/_Array Management", "<control>A", ArrayManagement, 0, nullptr},
    {"/Management/_Device Management", "<control>D", DeviceManagement, 0, nullptr},
    {"/Management/_Spare Pool", "<control>S", SparePool, 0, nullptr},
    {"/Management/_Event Notification", nullptr, EventNotification, 0, nullptr},
    {"/_Management/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/Management/Task Schedule Management", nullptr, TaskManagement, 0, nullptr},
    {"/_Management/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/Management/_Refresh", "<control>R", ReScan, 0, nullptr},
    {"/_View", nullptr, nullptr, 0, "<Branch>"},
    {"/_View/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/View/_Event View", nullptr, EventView, 0, nullptr},
    {"/View/_Icon View", nullptr, IconView, 0, nullptr},
    {"/_Operation", nullptr, nullptr, 0, "<Branch>"},
    {"/_Help", nullptr, nullptr, 0, "<Branch>"},
    {"/_Help/sep0", nullptr, nullptr, 0, "<Separator>"},
    {"/Help/_Help Topics", nullptr, HelpTop, 0, nullptr},
    {"/Help/About", nullptr, AboutBox, 0, nullptr},
};
int nItemNum = VTN_MENU_ROWS;

struct SMenuFactory {
    struct Item {
        std::string path;  // without underscores
        GtkWidget* widget;
    };
    std::vector<Item> items;

    GtkWidget* Find(const std::string& path) const
    {
        for (const Item& item : items)
            if (item.path == path)
                return item.widget;
        return nullptr;
    }
};

namespace {

std::string WithoutUnderscores(const char* path)
{
    std::string out;
    for (const char* p = path; *p; ++p)
        if (*p != '_')
            out += *p;
    return out;
}

void OnMenuActivate(GtkMenuItem*, gpointer row)
{
    const SMenuEntry& entry = mainmenu_items[GPOINTER_TO_INT(row)];
    if (entry.callback)
        entry.callback();
}

}  // namespace

void CMainWindow::BuildMenuBar()
{
    pMenuBar = gtk_menu_bar_new();
    for (int i = 0; i < nItemNum; ++i) {
        const SMenuEntry& entry = mainmenu_items[i];
        const std::string path = WithoutUnderscores(entry.path);
        const size_t slash = path.rfind('/');
        GtkWidget* shell = pMenuBar;
        if (slash != 0 && slash != std::string::npos) {
            GtkWidget* parent = pItemFactory->Find(path.substr(0, slash));
            shell = parent ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(parent)) : nullptr;
        }
        if (shell == nullptr)
            continue;
        const char* label = strrchr(entry.path, '/') + 1;
        GtkWidget* item = nullptr;
        if (entry.itemType && strcmp(entry.itemType, "<Separator>") == 0) {
            item = gtk_separator_menu_item_new();
        } else {
            item = gtk_menu_item_new_with_mnemonic(label);
            if (entry.itemType && strcmp(entry.itemType, "<Branch>") == 0) {
                GtkWidget* submenu = gtk_menu_new();
                gtk_menu_set_accel_group(GTK_MENU(submenu), pAccelGroup);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
            } else if (entry.callback) {
                g_signal_connect(item, "activate", G_CALLBACK(OnMenuActivate), GINT_TO_POINTER(i));
            }
            if (entry.accelerator) {
                guint key = 0;
                GdkModifierType mods = static_cast<GdkModifierType>(0);
                gtk_accelerator_parse(entry.accelerator, &key, &mods);
                if (key != 0)
                    gtk_widget_add_accelerator(item, "activate", pAccelGroup, key, mods, GTK_ACCEL_VISIBLE);
            }
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
        gtk_widget_show(item);
        pItemFactory->items.push_back({path, item});
    }
}

GtkWidget* CMainWindow::MenuItem(const char* path) const
{
    return pItemFactory && path ? pItemFactory->Find(WithoutUnderscores(path)) : nullptr;
}

void CMainWindow::EnableMenu(const char* path)
{
    if (GtkWidget* item = MenuItem(path))
        gtk_widget_set_sensitive(item, TRUE);
}

void CMainWindow::DisableMenu(const char* path)
{
    if (GtkWidget* item = MenuItem(path))
        gtk_widget_set_sensitive(item, FALSE);
}

void CMainWindow::ShowMenu(const char* path)
{
    if (GtkWidget* item = MenuItem(path))
        gtk_widget_show(item);
}

void CMainWindow::HideMenu(const char* path)
{
    if (GtkWidget* item = MenuItem(path))
        gtk_widget_hide(item);
}

// ---- the window ------------------------------------------------------------------------------

CMainWindow::CMainWindow()
    : pWindow(nullptr), pVBox(nullptr), pItemFactory(nullptr), pAccelGroup(nullptr), pMenuBar(nullptr),
      pStatusBar(nullptr), nStatusContext(0), pFormList(nullptr), pTreeList(nullptr), szCurrForm{},
      pFont{}, pPixmap{}, pOperTable(nullptr), nOperCount(0), pStartWin(nullptr), pSysList(nullptr),
      pArrayTree(nullptr), pDeviceTree(nullptr), nLogRows(0), pLogList(nullptr), pIconList(nullptr),
      pFileSel(nullptr), pClearButton(nullptr), nLogMask(0), bSortOrder(0), nSpareMode(0), pSpareCombo(nullptr),
      pSpareBox(nullptr), pAvailList(nullptr), pSpareList(nullptr), pPoolRadio(nullptr),
      pDedicatedRadio(nullptr), pAddSpareBtn(nullptr), pRemoveSpareBtn(nullptr), pDiskInfoList(nullptr),
      pRecipientList(nullptr), UserInfo{}, bLoggedIn(false), nProbeIds1{}, nProbeIds2{}, nProbeCount1(0),
      nProbeCount2(0), nReplaceArrayId(0), bReplaceChanged(0), nFreshCount(0), nFreshIds{},
      pCheckInfoBox(nullptr), pCheckInfoLabel(nullptr), pCheckList(nullptr), pReplaceList(nullptr),
      pReplaceAddBtn(nullptr), pReplaceRemoveBtn(nullptr), bTimerOn(true), nTimerSource(0),
      nDrainSource(0), pIdleSources(nullptr)
{
}

CMainWindow::~CMainWindow()
{
    delete pItemFactory;
}

namespace {

void OnWindowDestroy(GtkWidget* widget, gpointer data)
{
    CMainWindow::DestroyWindow(widget, data);
}

gboolean OnWindowFocusIn(GtkWidget* widget, GdkEventFocus*, gpointer data)
{
    return CMainWindow::FocusWindow(widget, data);
}

cairo_font_face_t* LoadFont(cairo_font_weight_t weight)
{
    cairo_font_face_t* face = cairo_toy_font_face_create("DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, weight);
    if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face);
        return nullptr;
    }
    return face;
}

}  // namespace

void CMainWindow::Create()
{
    pWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(pWindow), "Vorathine RAID Management Software");
    gtk_container_set_border_width(GTK_CONTAINER(pWindow), 1);
    gtk_window_set_position(GTK_WINDOW(pWindow), GTK_WIN_POS_CENTER);
    gtk_window_set_default_size(GTK_WINDOW(pWindow), 600, 475);
    g_signal_connect(pWindow, "destroy", G_CALLBACK(OnWindowDestroy), nullptr);
    g_signal_connect(pWindow, "focus-in-event", G_CALLBACK(OnWindowFocusIn), nullptr);
    g_signal_connect(pWindow, "key-press-event", G_CALLBACK(WindowKey), nullptr);

    pVBox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(pWindow), pVBox);
    gtk_widget_show(pVBox);

    pAccelGroup = gtk_accel_group_new();
    pItemFactory = new SMenuFactory;
    BuildMenuBar();
    gtk_window_add_accel_group(GTK_WINDOW(pWindow), pAccelGroup);
    g_object_unref(pAccelGroup);  // the window holds it
    gtk_accel_group_lock(pAccelGroup);
    gtk_box_pack_start(GTK_BOX(pVBox), pMenuBar, FALSE, FALSE, 0);
    gtk_widget_show(pMenuBar);

    pStatusBar = gtk_statusbar_new();
    gtk_box_pack_end(GTK_BOX(pVBox), pStatusBar, FALSE, FALSE, 0);
    nStatusContext = gtk_statusbar_get_context_id(GTK_STATUSBAR(pStatusBar), "MySatus");
    gtk_widget_show(pStatusBar);
    gtk_widget_show(pWindow);

    pFont[0] = LoadFont(CAIRO_FONT_WEIGHT_NORMAL);
    pFont[1] = LoadFont(CAIRO_FONT_WEIGHT_BOLD);

    const char** pictures[8] = {xpm_d_Adapter, xpm_d_Channel, xpm_d_Disk,     xpm_d_Array_0,
                                xpm_d_Array_JBOD, xpm_d_Array_01, xpm_d_Array_1, xpm_d_Array_10};
    for (int i = 0; i < 8; ++i)
        pPixmap[i] = gdk_pixbuf_new_from_xpm_data(pictures[i]);

    ShowEventView("Event View");
    ShowRemoteCon("Remote Control");
    // Nobody is logged in: gated at once, whatever the systems list holds.
    FreshPrivilege();
    nTimerSource = g_timeout_add(2000, SysTimer, nullptr);
    nDrainSource = g_timeout_add(100, DrainEvents, nullptr);
    PrintStatus("No system connected");
}

void CMainWindow::PrintStatus(const char* text)
{
    if (pStatusBar == nullptr)
        return;
    gchar* shown = g_utf8_make_valid(text ? text : "", -1);
    gtk_statusbar_push(GTK_STATUSBAR(pStatusBar), nStatusContext, shown);
    g_free(shown);
}

namespace {

struct SIdleCall {
    GSourceFunc func;
    void* data;
    unsigned int id;
};

// Runs the callback; once it is done the window forgets its source.
gboolean RunIdleCall(gpointer p)
{
    auto* call = static_cast<SIdleCall*>(p);
    gboolean again = call->func(call->data);
    if (!again)
        if (CMainWindow* win = GetMainWindow())
            win->ForgetIdle(call->id);
    return again;
}

}  // namespace

unsigned int CMainWindow::AddIdle(GSourceFunc func, void* data)
{
    auto* call = new SIdleCall{func, data, 0};
    call->id = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, RunIdleCall, call,
                               [](gpointer p) { delete static_cast<SIdleCall*>(p); });
    pIdleSources = g_list_prepend(pIdleSources, GUINT_TO_POINTER(call->id));
    return call->id;
}

void CMainWindow::ForgetIdle(unsigned int source)
{
    pIdleSources = g_list_remove(pIdleSources, GUINT_TO_POINTER(source));
}

namespace {

// Nothing may run the selection handlers of a list while the window goes.
void ClearToolbarRows(SToolbarButtonInfo* rows, int n)
{
    for (int i = 0; i < n; ++i) {
        rows[i].button = nullptr;
        rows[i].menuitem = nullptr;
    }
}

}  // namespace

void CMainWindow::DestroyWindow(GtkWidget*, void*)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return;
    for (unsigned int* source : {&win->nTimerSource, &win->nDrainSource}) {
        if (*source)
            g_source_remove(*source);
        *source = 0;
    }
    for (GList* l = win->pIdleSources; l; l = l->next)
        g_source_remove(GPOINTER_TO_UINT(l->data));
    g_list_free(win->pIdleSources);
    win->pIdleSources = nullptr;

    for (GtkWidget* list : {win->pArrayTree, win->pDeviceTree, win->pSysList, win->pLogList, win->pIconList,
                            win->pRecipientList, win->pAvailList, win->pSpareList, win->pDiskInfoList,
                            win->pCheckList, win->pReplaceList})
        BlockSelectionHandlers(list);
    win->DeleteForm();
    win->DeleteTree();

    if (handle >= 0) {
        cs_vtn_disconnect_system(handle);
        handle = -1;
    }
    for (cairo_font_face_t*& font : win->pFont) {
        if (font)
            cairo_font_face_destroy(font);
        font = nullptr;
    }
    for (GdkPixbuf*& picture : win->pPixmap) {
        if (picture)
            g_object_unref(picture);
        picture = nullptr;
    }
    // The toolbars and menu items go with the window.
    ClearToolbarRows(RemoteConToolbar, VTN_REMOTECON_ROWS);
    ClearToolbarRows(EventNotiToolbar, VTN_EVENTNOTI_ROWS);
    ClearToolbarRows(ArrayMenageToolbar, VTN_ARRAYMANAGE_ROWS);
    ClearToolbarRows(DeviceMenageToolbar, VTN_DEVICEMANAGE_ROWS);
    win->pOperTable = nullptr;
    win->nOperCount = 0;
    win->ReleaseWidgets();
    pMainWin = nullptr;
    if (gtk_main_level() > 0)
        gtk_main_quit();
}

void CMainWindow::ReleaseWidgets()
{
    pWindow = pVBox = pMenuBar = pStatusBar = nullptr;
    pStartWin = pSysList = pArrayTree = pDeviceTree = pLogList = pIconList = pFileSel = pClearButton = nullptr;
    pSpareCombo = pSpareBox = pAvailList = pSpareList = pPoolRadio = pDedicatedRadio = nullptr;
    pAddSpareBtn = pRemoveSpareBtn = pDiskInfoList = pRecipientList = nullptr;
    pCheckInfoBox = pCheckInfoLabel = pCheckList = pReplaceList = pReplaceAddBtn = pReplaceRemoveBtn = nullptr;
    szCurrForm[0] = 0;
}

void CMainWindow::DeleteForm()
{
    for (GList* l = pFormList; l; l = l->next)
        delete static_cast<SFormInfo*>(l->data);
    g_list_free(pFormList);
    pFormList = nullptr;
}

int CMainWindow::AddNewTree(CVTNTree* tree)
{
    pTreeList = g_list_append(pTreeList, tree);
    return 1;
}

void CMainWindow::DeleteTree()
{
    for (GList* l = pTreeList; l; l = l->next) {
        auto* tree = static_cast<CVTNTree*>(l->data);
        // Its widgets are about to go with the window.
        tree->pLogicalTree = tree->pControllerTree = tree->pDrawArea = tree->pProgressBar = nullptr;
        tree->pWriteCacheBtn = tree->pReadAheadBtn = tree->pTCQBtn = tree->pNCQBtn = nullptr;
        delete tree;
    }
    g_list_free(pTreeList);
    pTreeList = nullptr;
}

void CMainWindow::FreshTree()
{
    for (GList* l = pTreeList; l; l = l->next)
        static_cast<CVTNTree*>(l->data)->FreshTree(2);
    FocusWindow(nullptr, nullptr);
}

gboolean CMainWindow::FocusWindow(GtkWidget*, void*)
{
    CMainWindow* win = GetMainWindow();
    if (win == nullptr)
        return FALSE;
    const struct {
        const char* form;
        GtkWidget* tree;
    } trees[] = {{"Array Management", win->pArrayTree}, {"Device Management", win->pDeviceTree}};
    for (const auto& t : trees) {
        if (win->GetCurrForm(t.form) == nullptr || t.tree == nullptr)
            continue;
        GtkTreeView* view = GTK_TREE_VIEW(t.tree);
        GtkTreePath* first = gtk_tree_path_new_first();
        GtkTreeIter iter;
        if (gtk_tree_model_get_iter(gtk_tree_view_get_model(view), &iter, first))
            gtk_tree_view_expand_row(view, first, FALSE);
        GtkTreeSelection* selection = gtk_tree_view_get_selection(view);
        gtk_tree_selection_unselect_all(selection);
        if (gtk_tree_model_get_iter(gtk_tree_view_get_model(view), &iter, first))
            gtk_tree_selection_select_path(selection, first);
        gtk_tree_path_free(first);
    }
    return FALSE;
}

gboolean CMainWindow::WindowKey(GtkWidget*, GdkEventKey* event, void*)
{
    if (event == nullptr || event->keyval == 0)
        return FALSE;
    const char* name = gdk_keyval_name(event->keyval);
    if (name == nullptr)
        return FALSE;
    // Key bindings go by the hardware keycode, so only claiming the event stops these keys; no
    // accelerator or mnemonic of the window uses them.
    for (const char* swallowed : {"Return", "KP_Enter", "space", "Up", "Down"})
        if (strcmp(name, swallowed) == 0)
            return TRUE;
    return FALSE;
}

void MainExit()
{
    if (CMainWindow* win = GetMainWindow())
        if (win->pWindow)
            gtk_widget_destroy(win->pWindow);
}

// ---- single instance and start-up --------------------------------------------------------------

long* find_pid_by_name(const char* name, const char* procDir)
{
    long* ids = static_cast<long*>(malloc(2 * sizeof(long)));
    if (ids == nullptr)
        return nullptr;
    size_t count = 0;
    DIR* dir = opendir(procDir);
    if (dir == nullptr) {
        printf("Cannot open /proc");
        fflush(stdout);
        ids[0] = -1;
        ids[1] = 0;
        return ids;
    }
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        char path[4096];
        int n = snprintf(path, sizeof path, "%s/%s/status", procDir, entry->d_name);
        if (n < 0 || static_cast<size_t>(n) >= sizeof path)
            continue;
        FILE* f = fopen(path, "r");
        if (f == nullptr)
            continue;
        char line[49] = {};
        bool read = fgets(line, sizeof line, f) != nullptr;
        fclose(f);
        if (!read)
            continue;
        char word[49] = {};
        if (sscanf(line, "%*s %48s", word) != 1 || strcmp(word, name) != 0)
            continue;
        long* grown = static_cast<long*>(realloc(ids, (count + 2) * sizeof(long)));
        if (grown == nullptr)
            break;
        ids = grown;
        ids[count++] = strtol(entry->d_name, nullptr, 0);
    }
    closedir(dir);
    if (count == 0)
        ids[count++] = strcmp(name, "init") == 0 ? 1 : -1;
    ids[count] = 0;
    return ids;
}

bool Findvtnraid()
{
    long* ids = find_pid_by_name("vtnraid");
    if (ids == nullptr)
        return false;
    if (ids[0] < 1) {
        free(ids);
        return false;
    }
    int count = 0;
    while (ids[count] != 0)
        ++count;
    free(ids);
    return count > 1;
}

int VtnRaidMain(int argc, char** argv)
{
    if (Findvtnraid()) {
        printf("vtnraid is running!\n");
        return 0;
    }
    if (cs_vtn_client_init() != 0)
        return -1;
    handle = -1;
    gtk_init(&argc, &argv);
    // DestroyWindow clears the global pointer; main keeps its own to delete the object.
    CMainWindow* win = new CMainWindow;
    pMainWin = win;
    win->Create();
    gtk_main();
    delete win;
    return 0;
}
