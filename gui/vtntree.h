// CVTNTree: the view object behind each device form, a device tree beside the information page.
// The logical tree (system, arrays, members, single disks) belongs to the Array Management form,
// the controller tree (controllers, channels, disks) to the Device Management form; both draw the
// selected item's page into a 968 x 840 backing surface.
#pragma once
#include <cstdint>
#include <gtk/gtk.h>
#include <string>
#include <vector>

class CDiskArray;

// Device counters of the last tree builds; the Array Management toolbar reads them.
extern int g_phydiskcount;
extern int g_sparediskcount;
extern int g_mirrordiskcount;
extern int g_stripediskcount;
extern int g_spandiskcount;

// Columns of a device tree's store. Item data that an item does not carry is -1.
enum {
    VTN_TREE_COL_PIXBUF = 0,
    VTN_TREE_COL_TEXT,        // the label as shown (valid UTF-8)
    VTN_TREE_COL_ID,          // gint64: the device id; 0 on the root item
    VTN_TREE_COL_CONTROLLER,  // gint: controller items: number from 1; channel items: index from 0
    VTN_TREE_COL_CHANNEL,     // gint: channel items: number from 1
    VTN_TREE_COL_ICON,        // the icon's name
    VTN_TREE_COLUMNS
};

// Size of the information page.
constexpr int VTN_PAGE_WIDTH = 968;
constexpr int VTN_PAGE_HEIGHT = 840;

// One text a page drew: baseline position, text (as shown), font (0 regular, 1 bold), colour.
struct SPageText {
    int x, y;
    std::string text;
    int font, colour;
};

// Item data of a tree row.
struct STreeItem {
    int64_t id = -1;
    int controller = -1;
    int channel = -1;
};

class CVTNTree {
public:
    CVTNTree();
    ~CVTNTree();
    CVTNTree(const CVTNTree&) = delete;
    CVTNTree& operator=(const CVTNTree&) = delete;

    // A tree view over an empty device store, single selection, no headers.
    static GtkWidget* NewTreeView();

    bool CreateLogical(GtkWidget* tree);
    bool CreateController(GtkWidget* tree);
    // 0 the logical tree, 1 the controller tree, 2 both (whichever the object has).
    void FreshTree(int mode);
    bool SetDrawArea(GtkWidget* area);
    bool SetProcessBar(GtkWidget* bar);
    bool SetDiskFeatureButtons(GtkWidget* writeCache, GtkWidget* readAhead, GtkWidget* tcq, GtkWidget* ncq);

    void ClearAllTree(GtkWidget* tree);
    // Empties the tree and adds the root item (the connected system) into *root.
    void CreateConnect(GtkWidget* tree, bool logical, GtkTreeIter* root);
    void BuildDiskTree();
    // Fills the level under subtree with the devices whose parent is parent.
    void BuildDiskSubTree(unsigned int parent, GtkTreeIter* subtree);
    void BuildController();

    // Selection handlers; also called as (tree, null, null) to redraw the page of the selection.
    static void array_select_child(GtkWidget* tree, GtkWidget* subtree, GtkWidget* child);
    static void controll_select_child(GtkWidget* tree, GtkWidget* subtree, GtkWidget* child);

    void PrintConnectInfo(GtkWidget* tree);
    void PrintMessage(int x, int y, const char* text, int font, int colour);
    void ClearDrawArea();
    void FreshDrawArea();
    void DrawAreaIcon(GdkWindow* window);
    static gboolean PicConfigureEvent(GtkWidget* widget, GdkEventConfigure* event);
    // The "draw" handler: copies the backing surface to the window.
    static gboolean PicExposeEvent(GtkWidget* widget, cairo_t* cr);
    // Tiles the tile surface over the page in pieces of at most 240 pixels.
    void StretchXPM();
    void DrawXPM(int x, int y, int width, int height);
    void DrawWidth(int y, int height);

    // The icon of a loaded device, by the first rule that holds; *fresh tells whether the array
    // goes on the fresh list.
    static const char* ChooseIcon(CDiskArray& device, bool* fresh);
    // The item data of the tree's selected row; false without a selection.
    static bool SelectedItem(GtkWidget* tree, STreeItem* item);

    // Remaining time of a rebuild, verify or initialisation. The state lives for the program and
    // is shared by every page; the clock is a monotonic one in seconds, replaceable by a test.
    struct SRemainState {
        uint32_t lastId;
        uint32_t lastStatus;
        uint32_t first_value;
        double first_time;
        float remain_time;
        float last_time;
        float last_calc;
    };
    static SRemainState Remain;
    static double (*pClock)();
    static void ResetRemain();
    // One observation of an array: true when it is busy (the bar is shown), with *percent the
    // bar's value.
    static bool EstimateRemain(uint32_t id, uint32_t status, uint32_t progress, double* percent);
    // "hh:mm:ss" of the estimate, "--:--:--" without one.
    static std::string RemainText();

    GtkWidget* pLogicalTree;
    GtkWidget* pControllerTree;
    GtkWidget* pDrawArea;
    cairo_surface_t* pBackPixmap;
    cairo_surface_t* pTilePixmap;
    GdkEventConfigure* pLastConfigure;
    GtkWidget* pProgressBar;
    GtkWidget* pWriteCacheBtn;
    GtkWidget* pReadAheadBtn;
    GtkWidget* pTCQBtn;
    GtkWidget* pNCQBtn;

    // What the page shows now, in drawing order.
    std::vector<SPageText> PageTexts;

private:
    void DrawPage(GtkWidget* tree, bool logical);
    void DrawDevicePage(uint32_t id);
    void DrawArrayPage(CDiskArray& array);
    void DrawDiskPage(CDiskArray& disk);
    void DrawControllerPage(int controller);
    void DrawChannelPage(int controller);
    void BuildLevel(unsigned int parent, GtkTreeIter* subtree, std::vector<unsigned int>& path);
    void HideFeatureButtons();
    void ShowProgress(bool shown, double percent);
    void BlockSelection(GtkWidget* tree, bool block);
};

// Puts the four disk feature buttons into the page's overlay and hands them to the tree object.
void CreateDiskSettingControls(GtkWidget* fixed, CVTNTree* tree);
