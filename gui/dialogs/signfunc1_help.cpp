// The icon legend of the Icon View form, the About box, and the web browser that shows the help
// pages and the maker's web site.
#include <cstdio>
#include <unistd.h>

#include "drivergui.h"
#include "drivergui_list.h"
#include "paths.h"
#include "signfunc1.h"
#include "xpm_data.h"

const char** const LegendIcons[VTN_LEGEND_ROWS] = {
    xpm_d_Array_0,          xpm_d_Array_1,           xpm_d_Array_JBOD,         xpm_d_Array_5,
    xpm_d_Array_01,         xpm_d_Array_10,          xpm_d_Disk,               xpm_d_Cdrom,
    xpm_d_Tape,             xpm_d_Hotplug,           xpm_d_Unknown,            xpm_d_host,
    xpm_d_Status_Error,     xpm_d_Status_Critical,   xpm_d_SpareMark,          xpm_d_Status_Bootable,
    xpm_d_Status_Locked,    xpm_d_Status_Creating,   xpm_d_Status_Verify,      xpm_d_Status_InitRaid5,
    xpm_d_Adapter,          xpm_d_Channel,           xpm_d_Event_Normal_small, xpm_d_Event_Warning_small,
    xpm_d_Event_Error_small,
};

const char* const LegendTexts[VTN_LEGEND_ROWS] = {
    "RAID 0. Increases system performance by striping data across hard disks.",
    "RAID 1. Provides data protection by mirroring data from one disk to another.",
    "JBOD. Provides increased storage capacity by combining two or more disks into one virtual hard disk.",
    "RAID 5 Provides data protection and increased performance by stripped data and parity.",
    "RAID 0/1. Provides data protection and increased performance by building mirrored striping sets.",
    "RAID 1/0. Provides data protection and increased performance by building stripped mirroring sets.",
    "ATA Hard disk. It can be linked as master or slave device to a channel.",
    "CDROM. The linked device is a cdrom.",
    "TAPE.  The linked device is a TAPE.",
    "Mobile Rack. Provides convenience of hot plugging.",
    "Unknown Device. This device type can't be determined.",
    "System. Represents the connected system.",
    "Indicates a device or an array is disabled.",
    "Indicates an array is critical.",
    "Indicates a device is a spare disk.",
    "Indicates a device or an array is bootable.",
    "Indicates an array need rebuilding.",
    "Indicateds an array is being rebuilt or duplicated.",
    "Indicates an array is being verified.",
    "Indicates a RAID 5 Array is being initialized.",
    "Vorathine ATA RAID Controller.",
    "ATA Channel. Each channel can be linked with two ATA devices.",
    "Information. Normal events will be shown with this icon.",
    "Warning. Some critical events will be shown with this icon.",
    "Error. Serious error events will be shown with this icon.",
};

namespace {

// Height of a legend row, tall enough for the largest icon.
constexpr int kLegendRowHeight = 28;

const char* const kVersion = "v3.06";
const char* const kHelpMissing =
    "Can NOT find a Web browser to view the help!\nTo view help, please make the symbol link\n /usr/bin/rudevoz to "
    "your browser manually.";
const char* const kSiteMissing =
    "Can NOT find a Web browser! Please make the \nsymbol link /usr/bin/rudevoz to your browser manually.";

int nBrowsers = 0;
int nLastBrowserStatus = -1;

void BrowserEnded(GPid pid, gint status, gpointer)
{
    --nBrowsers;
    nLastBrowserStatus = status;
    g_spawn_close_pid(pid);
}

}  // namespace

// ---- icon legend -----------------------------------------------------------------------------------

void LoadIcons()
{
    CMainWindow* win = GetMainWindow();
    GtkWidget* list = win ? win->pIconList : nullptr;
    if (list == nullptr)
        return;
    if (GtkTreeViewColumn* column = gtk_tree_view_get_column(GTK_TREE_VIEW(list), 0)) {
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
        for (GList* c = cells; c; c = c->next)
            if (GTK_IS_CELL_RENDERER_PIXBUF(c->data))
                gtk_cell_renderer_set_fixed_size(GTK_CELL_RENDERER(c->data), -1, kLegendRowHeight);
        g_list_free(cells);
    }
    for (int i = 0; i < VTN_LEGEND_ROWS; ++i) {
        const char* texts[] = {"", LegendTexts[i]};
        const int row = ColumnListAppend(list, texts);
        ColumnListSetPixbuf(list, row, 0, XpmPixbuf(LegendIcons[i]));
    }
}

// ---- About ------------------------------------------------------------------------------------------

gboolean aboutHelp(GtkWidget*, GdkEventButton*)
{
    StartBrowser(kWebSite, kSiteMissing);
    return FALSE;
}

void AboutBox()
{
    if (GetMainWindow() == nullptr)
        return;
    GtkWidget* window = NewDialogWindow("About", 360, 200, 1, false);
    LeaveSession(window);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(box), 5);
    gtk_container_add(GTK_CONTAINER(window), box);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 10);
    gtk_box_pack_start(GTK_BOX(box), frame, TRUE, TRUE, 0);
    GtkWidget* lines = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(lines), TRUE);
    gtk_container_add(GTK_CONTAINER(frame), lines);
    gtk_box_pack_start(GTK_BOX(lines), gtk_label_new("Vorathine RAID Management Software"), TRUE, TRUE, 0);
    gchar* version = g_strdup_printf("Version %s", kVersion);
    gtk_box_pack_start(GTK_BOX(lines), gtk_label_new(version), TRUE, TRUE, 0);
    g_free(version);

    GtkWidget* site = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_start(GTK_BOX(lines), site, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(site), gtk_label_new("Web Site"), FALSE, FALSE, 25);
    // The link runs the browser itself: a label in an event box, blue and underlined.
    GtkWidget* link = gtk_event_box_new();
    gtk_widget_add_events(link, GDK_BUTTON_PRESS_MASK);
    GtkWidget* address = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<span foreground=\"#0000FF\" underline=\"single\">%s</span>", kWebSite);
    gtk_label_set_markup(GTK_LABEL(address), markup);
    g_free(markup);
    gtk_container_add(GTK_CONTAINER(link), address);
    g_signal_connect(link, "button-press-event", G_CALLBACK(aboutHelp), nullptr);
    // Connected before the box goes into the realized window, which realizes it at once.
    g_signal_connect(link, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer) {
                         GdkCursor* hand = gdk_cursor_new_for_display(gtk_widget_get_display(w), GDK_HAND2);
                         gdk_window_set_cursor(gtk_widget_get_window(w), hand);
                         g_object_unref(hand);
                     }),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(site), link, FALSE, FALSE, 20);

    GtkWidget* ok = InsertXPMItem("    OK    ", xpm_d_Yes, 0);
    g_signal_connect_swapped(ok, "clicked", G_CALLBACK(yes_mselect), window);
    gtk_widget_set_halign(ok, GTK_ALIGN_CENTER);
    gtk_box_pack_end(GTK_BOX(box), ok, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 5);
    gtk_widget_set_can_default(ok, TRUE);
    gtk_widget_grab_default(ok);
    gtk_widget_show_all(window);
    RunDialog(window);
}

// ---- the browser ---------------------------------------------------------------------------------------

void HelpTop()
{
    StartBrowser(kHelpPage, kHelpMissing);
}

void StartBrowser(const char* page, const char* missing)
{
    // The link only has to exist; the browser itself is found on the search path.
    FILE* link = fopen(VtnPath(kBrowserLink).c_str(), "r");
    if (link == nullptr) {
        MessageBox(missing, "Warning", false);
        return;
    }
    fclose(link);
    const long maxFd = sysconf(_SC_OPEN_MAX);
    const pid_t pid = fork();
    if (pid < 0)
        return;  // nothing started, nothing to say
    if (pid == 0) {
        // The browser keeps no descriptor of the GUI: not the server's connection (its one client
        // slot), not the display's.
        if (close_range(3, ~0U, 0) != 0)
            for (long fd = 3; fd < maxFd; ++fd)
                close(static_cast<int>(fd));
        execlp("rudevoz", "rudevoz", page, static_cast<char*>(nullptr));
        _exit(127);  // never go on as a second copy of the GUI
    }
    ++nBrowsers;
    // Collected when it ends, without waiting for it now.
    g_child_watch_add(pid, BrowserEnded, nullptr);
}

int BrowserChildren(int* lastStatus)
{
    if (lastStatus)
        *lastStatus = nLastBrowserStatus;
    return nBrowsers;
}
