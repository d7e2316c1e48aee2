// The Array Management and Device Management forms: a device tree beside the information page,
// the disk feature buttons on the page, and the rule that offers the seven array operations for
// the selected device.
#include <cstring>

#include "drivergui.h"
#include "svrrec.h"
#include "vtntree.h"

namespace {

// The tree on the left, the page on the right: a drawing area of exactly the page's size in an
// overlay that also holds the progress bar and the feature buttons. The overlay (the "fixed"
// container of the page).
GtkWidget* BuildTreeForm(CMainWindow* win, GtkWidget* box, bool logical, CVTNTree* object)
{
    GtkWidget* paned = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_paned_set_wide_handle(GTK_PANED(paned), TRUE);
    gtk_box_pack_start(GTK_BOX(box), paned, TRUE, TRUE, 0);

    GtkWidget* left = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(left), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_widget_set_size_request(left, 220, 210);
    gtk_paned_pack1(GTK_PANED(paned), left, FALSE, TRUE);
    GtkWidget* tree = CVTNTree::NewTreeView();
    gtk_container_add(GTK_CONTAINER(left), tree);
    if (logical) {
        win->pArrayTree = tree;
        object->CreateLogical(tree);
    } else {
        win->pDeviceTree = tree;
        object->CreateController(tree);
    }

    GtkWidget* right = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(right), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_paned_pack2(GTK_PANED(paned), right, TRUE, TRUE);
    GtkWidget* overlay = gtk_overlay_new();
    gtk_widget_set_halign(overlay, GTK_ALIGN_START);
    gtk_widget_set_valign(overlay, GTK_ALIGN_START);
    gtk_container_add(GTK_CONTAINER(right), overlay);

    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, VTN_PAGE_WIDTH, VTN_PAGE_HEIGHT);
    gtk_widget_set_halign(area, GTK_ALIGN_START);
    gtk_widget_set_valign(area, GTK_ALIGN_START);
    g_object_set_data(G_OBJECT(area), "POINT", object);
    object->SetDrawArea(area);
    g_signal_connect(area, "configure-event", G_CALLBACK(CVTNTree::PicConfigureEvent), nullptr);
    g_signal_connect(area, "draw", G_CALLBACK(CVTNTree::PicExposeEvent), nullptr);
    gtk_widget_add_events(area, GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                    GDK_STRUCTURE_MASK);
    gtk_container_add(GTK_CONTAINER(overlay), area);
    return overlay;
}

// Widgets placed on the page by pixel, hidden until a page shows them.
void PlaceOnPage(GtkWidget* overlay, GtkWidget* widget, int x, int y)
{
    gtk_widget_set_halign(widget, GTK_ALIGN_START);
    gtk_widget_set_valign(widget, GTK_ALIGN_START);
    gtk_widget_set_margin_start(widget, x);
    gtk_widget_set_margin_top(widget, y);
    gtk_widget_set_no_show_all(widget, TRUE);
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), widget);
}

using FeatureHandler = void (*)(GtkWidget*, GdkEvent*, void*);

void OnFeatureClicked(GtkButton* button, gpointer handler)
{
    reinterpret_cast<FeatureHandler>(handler)(GTK_WIDGET(button), nullptr, nullptr);
}

// The page's own widgets: feature buttons 22 pixels high that sit at 25-pixel steps without
// overlapping, and a progress bar that reads at a glance.
void PageStyle(GtkWidget* widget, const char* styleClass)
{
    static GtkCssProvider* css = nullptr;
    StyleWidget(widget, &css,
                "button.vtn-feature { min-height: 0; min-width: 0; padding: 0 4px; font-size: 12px; }\n"
                "progressbar.vtn-progress trough, progressbar.vtn-progress progress { min-height: 10px; }\n"
                "progressbar.vtn-progress text { color: #000000; font-family: \"DejaVu Sans Mono\"; font-size: 15px;"
                " font-weight: bold; }\n",
                styleClass);
}

}  // namespace

void CMainWindow::BuildArrayManage(GtkWidget* box)
{
    auto* object = new CVTNTree;
    AddNewTree(object);
    CreateToolBar(box, ArrayMenageToolbar, VTN_ARRAYMANAGE_ROWS);
    GtkWidget* overlay = BuildTreeForm(this, box, true, object);
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(bar), TRUE);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), 0.0);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), "0%");
    gtk_widget_set_size_request(bar, 240, -1);
    PageStyle(bar, "vtn-progress");
    PlaceOnPage(overlay, bar, 160, 185);
    object->SetProcessBar(bar);
    CreateDiskSettingControls(overlay, object);
}

void CMainWindow::BuildDeviceManage(GtkWidget* box)
{
    auto* object = new CVTNTree;
    AddNewTree(object);
    CreateToolBar(box, DeviceMenageToolbar, VTN_DEVICEMANAGE_ROWS);
    GtkWidget* overlay = BuildTreeForm(this, box, false, object);
    CreateDiskSettingControls(overlay, object);
}

void CreateDiskSettingControls(GtkWidget* fixed, CVTNTree* tree)
{
    const struct {
        int x, y;
        FeatureHandler handler;
    } places[] = {{30, 295, write_cache_clicked}, {30, 320, read_ahead_clicked}, {30, 245, tcq_clicked},
                  {30, 270, ncq_clicked}};
    GtkWidget* buttons[4];
    for (int i = 0; i < 4; ++i) {
        GtkWidget* button = gtk_button_new_with_label(" ");
        gtk_widget_set_size_request(button, 70, 22);
        PageStyle(button, "vtn-feature");
        g_signal_connect(button, "clicked", G_CALLBACK(OnFeatureClicked),
                         reinterpret_cast<gpointer>(places[i].handler));
        PlaceOnPage(fixed, button, places[i].x, places[i].y);
        gtk_widget_hide(button);
        buttons[i] = button;
    }
    tree->SetDiskFeatureButtons(buttons[0], buttons[1], buttons[2], buttons[3]);
}

void CMainWindow::FreshArrayManTool(uint32_t id)
{
    if (GetCurrForm("Array Management") == nullptr)
        return;
    bool on[VTN_ARRAYMANAGE_ROWS] = {};
    if (id != VTN_ID_SYSTEM && id != VTN_ID_NONE) {
        CDiskArray device;
        device = id;
        const uint32_t s = device.GetWorkStatus();
        const uint32_t rights = UserInfo.rights;
        const bool array = device.nType == VTN_DEVICE_ARRAY;
        // A disk's record holds other bytes where an array keeps its type.
        const uint8_t code = array ? device.Info.u.array.raidType : 0;
        const bool r1 = code == VTN_RAID1, r5 = code == VTN_RAID5;
        const bool r01 = array && device.IsRAID01(), r10 = array && device.IsRAID10();
        const bool busy = s & VTN_ARRAY_BUSY_MASK;
        const bool needRebuild = (s & VTN_ARRAY_NEED_REBUILD) && !r10;
        const bool bootable = array ? (s & VTN_ARRAY_BOOTABLE) != 0
                                    : device.nType == VTN_DEVICE_DISK && (s & VTN_DISK_BOOTABLE);
        const bool broken = s & VTN_ARRAY_BROKEN, disabled = s & VTN_ARRAY_DISABLED;
        const bool child = device.IsChild();
        const bool redundant = r1 || r5 || r01;
        on[0] = g_phydiskcount > 1 && (rights & VTN_RIGHT_CREATE_ARRAY);
        on[1] = array && !child && (!bootable || disabled) && !busy && (rights & VTN_RIGHT_DELETE_ARRAY);
        on[2] = array && !broken && !disabled && !child && !busy && (rights & VTN_RIGHT_RENAME_ARRAY);
        on[3] = redundant && broken && !disabled && g_phydiskcount >= 1;
        on[4] = redundant && !busy && !broken && !disabled && !needRebuild && (rights & VTN_RIGHT_VERIFY);
        on[5] = array && redundant && !busy && !broken && !disabled && needRebuild && (rights & VTN_RIGHT_REBUILD);
        on[6] = array && busy && !r10;
    }
    for (int i = 0; i < VTN_ARRAYMANAGE_ROWS; ++i)
        SetRowSensitive(ArrayMenageToolbar[i], on[i]);
}
