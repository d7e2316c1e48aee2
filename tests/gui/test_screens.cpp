// The icon set (every icon loads at its size) and pictures for a person to look at: the main
// window with each form, the message boxes and the whole icon sheet (set VTN_SCREENSHOT_DIR to keep
// them). They read back what the screen shows, so they run on a display of their own:
// VTN_OWN_DISPLAY
#include <cstring>
#include <string>

#include "harness.h"
#include "xpm_data.h"

namespace {

struct Size {
    const char* prefix;  // a name or the start of names
    int width, height;
};

// Sizes the icons are drawn at; 24 x 24 for any other.
const Size kSizes[] = {
    {"Unknown", 32, 32},         {"Status_", 12, 12},   {"SpareMark", 12, 12}, {"Warning", 32, 32},
    {"Error", 32, 32},           {"Normal", 32, 32},    {"Lamp", 32, 32},      {"Yes", 18, 18},
    {"No", 19, 18},              {"standalone", 16, 16}, {"currstand", 16, 16}, {"integrated", 16, 16},
    {"currinteg", 16, 16},       {"priviselect", 16, 16}, {"Login", 96, 160},
};

TEST(IconSet, EveryIconLoadsAtItsSize)
{
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    EXPECT_EQ(VTN_ICON_COUNT, 116);
    for (int i = 0; i < VTN_ICON_COUNT; ++i) {
        const SXpmIcon& icon = VtnIcons[i];
        SCOPED_TRACE(icon.name);
        int w = 24, h = 24;
        for (const Size& s : kSizes)
            if (strcmp(icon.name, s.prefix) == 0 ||
                (s.prefix[strlen(s.prefix) - 1] == '_' && strncmp(icon.name, s.prefix, strlen(s.prefix)) == 0)) {
                w = s.width;
                h = s.height;
            }
        GdkPixbuf* p = XpmPixbuf(icon.data);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(p), w);
        EXPECT_EQ(gdk_pixbuf_get_height(p), h);
        EXPECT_TRUE(gdk_pixbuf_get_has_alpha(p));
    }
    // Names other parts of the program use.
    for (const char** named : {xpm_d_Array_1_Broken_Spare, xpm_d_Array_5_Init, xpm_d_Event_Normal_small,
                               xpm_d_Event_Warning_small, xpm_d_Event_Error_small, xpm_d_right, xpm_d_left})
        EXPECT_NE(XpmPixbuf(named), nullptr);
}

TEST(IconSet, SheetOfAllIcons)
{
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    const int columns = 8, cellW = 150, cellH = 92;
    const int rows = (VTN_ICON_COUNT + columns - 1) / columns;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, columns * cellW, rows * cellH);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.96, 0.96, 0.95);
    cairo_paint(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 10);
    for (int i = 0; i < VTN_ICON_COUNT; ++i) {
        const int x = (i % columns) * cellW, y = (i / columns) * cellH;
        GdkPixbuf* p = XpmPixbuf(VtnIcons[i].data);
        const double scale = gdk_pixbuf_get_height(p) > 40 ? 0.45 : 2.0;
        cairo_save(cr);
        cairo_translate(cr, x + 8, y + 6);
        cairo_scale(cr, scale, scale);
        gdk_cairo_set_source_pixbuf(cr, p, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_restore(cr);
        gdk_cairo_set_source_pixbuf(cr, p, x + 90, y + 6);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_move_to(cr, x + 8, y + cellH - 8);
        cairo_show_text(cr, VtnIcons[i].name);
    }
    cairo_destroy(cr);
    TempRoot root;
    const std::string path = ScreenshotPath("icons.png");
    EXPECT_EQ(cairo_surface_write_to_png(s, path.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);
    EXPECT_FALSE(ReadFileText(path).empty());
}

using Screens = GuiTest;

TEST_F(Screens, MainWindowWithEachForm)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "127.0.0.1\t127.0.0.1\t7402\n192.168.10.20\tstorage-1\t7402\nraid-host\tbackup\t7410\n"));
    CMainWindow* win = StartMainWindow();
    struct Shot {
        void (*show)();
        const char* file;
    } shots[] = {{RemoteControl, "main-remote-control.png"}, {EventNotification, "main-event-notification.png"},
                 {ArrayManagement, "main-array-management.png"}, {DeviceManagement, "main-device-management.png"},
                 {SparePool, "main-spare-pool.png"},          {EventView, "main-event-view.png"},
                 {IconView, "main-icon-view.png"}};
    for (const Shot& s : shots) {
        s.show();
        ExpectShot(win->pWindow, s.file);
    }
    // The /Operation menu of the array form, opened.
    ArrayManagement();
    GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(win->MenuItem("/Operation")));
    gtk_menu_popup_at_widget(GTK_MENU(submenu), win->MenuItem("/Operation"), GDK_GRAVITY_SOUTH_WEST,
                             GDK_GRAVITY_NORTH_WEST, nullptr);
    GtkWidget* top = gtk_widget_get_toplevel(submenu);
    ExpectShot(top, "menu-operation.png");
    gtk_menu_popdown(GTK_MENU(submenu));
}

TEST_F(Screens, MessageBoxes)
{
    StartMainWindow();
    for (const char* title : {"Warning", "Error", "Confirmation", "RAID Checking"}) {
        const std::string file = std::string("box-") + (strchr(title, ' ') ? "lamp" : title) + ".png";
        Responder r({{title, "OK", [file](GtkWidget* w) { SaveWidgetPng(w, ScreenshotPath(file)); }}});
        MessageBox("All data on the array will be deleted!\nAre you sure you want to continue?", title,
                   strcmp(title, "Error") != 0);
        EXPECT_FALSE(ReadFileText(ScreenshotPath(file)).empty()) << file;
    }
}

}  // namespace
