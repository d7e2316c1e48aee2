// The modal message box, the answer record every modal window shares, and the builders of icon
// items and captioned buttons.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "drivergui.h"
#include "drivergui_list.h"
#include "xpm_data.h"

GdkPixbuf* XpmPixbuf(const char** xpm)
{
    static std::map<const char**, GdkPixbuf*> cache;
    if (xpm == nullptr)
        return nullptr;
    auto it = cache.find(xpm);
    if (it != cache.end())
        return it->second;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_xpm_data(xpm);
    cache[xpm] = pixbuf;
    return pixbuf;
}

// ---- answers -----------------------------------------------------------------------------------

namespace {

const char* const kDataKey = "DATA";
const char* const kCloseIsOkKey = "vtn-close-is-ok";
const char* const kSessionKey = "vtn-session";

_DIALOG_DATA* DialogData(GtkWidget* w)
{
    if (w == nullptr)
        return nullptr;
    auto* rec = static_cast<_DIALOG_DATA*>(g_object_get_data(G_OBJECT(w), kDataKey));
    if (rec == nullptr) {
        GtkWidget* top = gtk_widget_get_toplevel(w);
        if (top != w)
            rec = static_cast<_DIALOG_DATA*>(g_object_get_data(G_OBJECT(top), kDataKey));
    }
    return rec;
}

gboolean OnDialogDelete(GtkWidget* w, GdkEvent*, gpointer)
{
    if (g_object_get_data(G_OBJECT(w), kCloseIsOkKey))
        yes_mselect(w);
    else
        no_mselect(w);
    return TRUE;  // the routine that owns the window destroys it
}

// A window destroyed by someone else ends its wait as its close box would.
void OnDialogDestroyed(GtkWidget* w, gpointer data)
{
    auto* rec = static_cast<_DIALOG_DATA*>(data);
    rec->value = g_object_get_data(G_OBJECT(w), kCloseIsOkKey) ? 1 : 0;
    rec->done = 1;
}

void OnYesClicked(GtkButton*, gpointer window)
{
    yes_mselect(GTK_WIDGET(window));
}

void OnNoClicked(GtkButton*, gpointer window)
{
    no_mselect(GTK_WIDGET(window));
}

}  // namespace

void yes_mselect(GtkWidget* w)
{
    if (_DIALOG_DATA* rec = DialogData(w)) {
        rec->value = 1;
        rec->done = 1;
    }
}

void no_mselect(GtkWidget* w)
{
    if (_DIALOG_DATA* rec = DialogData(w)) {
        rec->value = 0;
        rec->done = 1;
    }
}

GtkWidget* NewDialogWindow(const char* title, int width, int height, int border, bool closeIsOk)
{
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gchar* shown = g_utf8_make_valid(title ? title : "", -1);
    gtk_window_set_title(GTK_WINDOW(window), shown);
    g_free(shown);
    gtk_container_set_border_width(GTK_CONTAINER(window), border);
    gtk_widget_set_size_request(window, width, height);
    CMainWindow* main = GetMainWindow();
    if (main && main->pWindow) {
        gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(main->pWindow));
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    }
    if (closeIsOk)
        g_object_set_data(G_OBJECT(window), kCloseIsOkKey, GINT_TO_POINTER(1));
    g_signal_connect(window, "delete-event", G_CALLBACK(OnDialogDelete), nullptr);
    JoinSession(window);
    gtk_widget_realize(window);
    return window;
}

void JoinSession(GtkWidget* window)
{
    if (window && handle >= 0)
        g_object_set_data(G_OBJECT(window), kSessionKey, GINT_TO_POINTER(1));
}

void LeaveSession(GtkWidget* window)
{
    if (window)
        g_object_set_data(G_OBJECT(window), kSessionKey, nullptr);
}

void CloseSessionWindows()
{
    std::vector<GtkWidget*> closing;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next)
        if (g_object_get_data(G_OBJECT(l->data), kSessionKey))
            closing.push_back(GTK_WIDGET(g_object_ref(l->data)));
    g_list_free(all);
    for (GtkWidget* window : closing) {
        // A box with OK only would answer OK when destroyed.
        g_object_set_data(G_OBJECT(window), kCloseIsOkKey, nullptr);
        gtk_widget_destroy(window);
        g_object_unref(window);
    }
}

int DialogWait(GtkWidget* window, _DIALOG_DATA* rec)
{
    g_object_set_data(G_OBJECT(window), kDataKey, rec);
    rec->value = 0;
    rec->done = 0;
    GtkWidget* alive = window;
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&alive));
    gulong gone = g_signal_connect(window, "destroy", G_CALLBACK(OnDialogDestroyed), rec);
    gtk_grab_add(window);
    while (!rec->done)
        gtk_main_iteration_do(TRUE);
    if (alive) {
        gtk_grab_remove(window);
        g_signal_handler_disconnect(window, gone);
        g_object_remove_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&alive));
    }
    return rec->value;
}

// ---- the message box -----------------------------------------------------------------------------

namespace {

// The most height the text of a box may take: half the screen, so that the rest of the box, its
// buttons among them, stays on the screen too.
int TextHeightLimit(GtkWidget* window)
{
    GdkDisplay* display = gtk_widget_get_display(window);
    GdkMonitor* monitor = nullptr;
    CMainWindow* main = GetMainWindow();
    if (main && main->pWindow && gtk_widget_get_window(main->pWindow))
        monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(main->pWindow));
    if (monitor == nullptr)
        monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr)
        monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle area{0, 0, 640, 480};
    if (monitor)
        gdk_monitor_get_workarea(monitor, &area);
    return std::max(60, area.height / 2);
}

// The text of a box: wrapped anywhere (a long word too) at 48 characters, and scrolled when its
// lines would take more than the screen allows.
GtkWidget* TextArea(GtkWidget* window, const char* text)
{
    gchar* shown = g_utf8_make_valid(text ? text : "", -1);
    GtkWidget* label = gtk_label_new(shown);
    g_free(shown);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);

    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_NONE);
    // A bar that shows there is more to read.
    ShowScrollBars(scrolled);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scrolled), TRUE);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scrolled), TRUE);
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scrolled), TextHeightLimit(window));
    GtkWidget* viewport = gtk_viewport_new(nullptr, nullptr);
    gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
    gtk_container_add(GTK_CONTAINER(viewport), label);
    gtk_container_add(GTK_CONTAINER(scrolled), viewport);
    return scrolled;
}

}  // namespace

int MessageBox(const char* text, const char* title, bool withCancel)
{
    const char* t = title ? title : "";
    GtkWidget* window = NewDialogWindow(t, 410, 180, 5, !withCancel);

    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 2);
    gtk_container_add(GTK_CONTAINER(window), frame);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(box), 10);
    gtk_container_add(GTK_CONTAINER(frame), box);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_box_pack_start(GTK_BOX(box), row, TRUE, TRUE, 0);
    const char** icon = strcmp(t, "Warning") == 0                                   ? xpm_d_Warning
                        : strcmp(t, "Error") == 0 || strcmp(t, "Critical error") == 0 ? xpm_d_Error
                        : strcmp(t, "Confirmation") == 0                              ? xpm_d_Normal
                                                                                      : xpm_d_Lamp;
    if (GdkPixbuf* pixbuf = XpmPixbuf(icon))
        gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_pixbuf(pixbuf), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), TextArea(window, text), TRUE, TRUE, 0);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_end(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL), FALSE, FALSE, 10);

    GtkWidget* ok = InsertXPMItem("    OK    ", xpm_d_Yes, 0);
    g_signal_connect(ok, "clicked", G_CALLBACK(OnYesClicked), window);
    gtk_widget_set_can_default(ok, TRUE);
    if (withCancel) {
        gtk_widget_set_margin_start(ok, 20);
        gtk_box_pack_start(GTK_BOX(buttons), ok, FALSE, FALSE, 0);
        GtkWidget* cancel = InsertXPMItem("  Cancel  ", xpm_d_No, 0);
        g_signal_connect(cancel, "clicked", G_CALLBACK(OnNoClicked), window);
        gtk_widget_set_margin_end(cancel, 20);
        gtk_box_pack_end(GTK_BOX(buttons), cancel, FALSE, FALSE, 0);
    } else {
        gtk_widget_set_margin_end(ok, 20);
        gtk_box_pack_end(GTK_BOX(buttons), ok, FALSE, FALSE, 0);
    }
    gtk_widget_grab_default(ok);

    gtk_widget_show_all(window);
    _DIALOG_DATA rec{};
    GtkWidget* alive = window;
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&alive));
    int value = DialogWait(window, &rec);
    if (alive) {
        g_object_remove_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&alive));
        gtk_widget_destroy(window);
    }
    return value;
}

// ---- items and buttons ---------------------------------------------------------------------------

GtkWidget* InsertXPMItem(const char* label, const char** xpm, int kind)
{
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(box), 1);
    if (GdkPixbuf* pixbuf = XpmPixbuf(xpm)) {
        GtkWidget* image = gtk_image_new_from_pixbuf(pixbuf);
        gtk_box_pack_start(GTK_BOX(box), image, FALSE, FALSE, 3);
        gtk_widget_show(image);
    }
    gchar* shown = g_utf8_make_valid(label ? label : "", -1);
    GtkWidget* caption = gtk_label_new(shown);
    g_free(shown);
    gtk_box_pack_start(GTK_BOX(box), caption, FALSE, FALSE, 3);
    gtk_widget_show(caption);
    gtk_widget_show(box);

    GtkWidget* container = nullptr;
    switch (kind) {
    case 1:
        container = gtk_expander_new(nullptr);
        gtk_expander_set_label_widget(GTK_EXPANDER(container), box);
        return container;
    case 2:
        container = gtk_list_box_row_new();
        break;
    case 3:
        container = gtk_menu_item_new();
        break;
    default:
        container = gtk_button_new();
        break;
    }
    gtk_container_add(GTK_CONTAINER(container), box);
    return container;
}

GtkWidget* CreateButton(const char* label)
{
    std::string caption = std::string("  ") + (label ? label : "") + "  ";
    GtkWidget* button = gtk_button_new();
    gtk_widget_show(button);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(box), 3);
    gtk_container_add(GTK_CONTAINER(button), box);
    gchar* shown = g_utf8_make_valid(caption.c_str(), -1);
    GtkWidget* text = gtk_label_new(shown);
    g_free(shown);
    gtk_box_pack_start(GTK_BOX(box), text, FALSE, FALSE, 0);
    gtk_widget_show(text);
    gtk_widget_show(box);
    return button;
}

// ---- dialogs --------------------------------------------------------------------------------------

int RunDialog(GtkWidget* window, const std::function<bool()>& ok)
{
    CMainWindow* main = GetMainWindow();
    GtkWidget* alive = window;
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&alive));
    _DIALOG_DATA rec{};
    int accepted = 0;
    // An OK handler may destroy the window (or the main window) and still answer false.
    auto stands = [&] { return alive && GetMainWindow() == main; };
    while (stands() && DialogWait(window, &rec) == 1 && stands())
        if (!ok || ok()) {
            accepted = 1;
            break;
        }
    if (alive) {
        g_object_remove_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&alive));
        gtk_widget_destroy(window);
    }
    return accepted;
}

void PackOkCancel(GtkWidget* box, GtkWidget* window)
{
    // Side by side the two share the row; one above the other they keep their own height.
    const bool row = gtk_orientable_get_orientation(GTK_ORIENTABLE(box)) == GTK_ORIENTATION_HORIZONTAL;
    GtkWidget* ok = CreateButton("    OK    ");
    g_signal_connect_swapped(ok, "clicked", G_CALLBACK(yes_mselect), window);
    gtk_box_pack_start(GTK_BOX(box), ok, row, FALSE, 0);
    GtkWidget* cancel = CreateButton("  Cancel  ");
    g_signal_connect_swapped(cancel, "clicked", G_CALLBACK(no_mselect), window);
    gtk_box_pack_start(GTK_BOX(box), cancel, row, FALSE, 0);
    gtk_widget_set_can_default(ok, TRUE);
    gtk_widget_grab_default(ok);
}

void StyleWidget(GtkWidget* widget, GtkCssProvider** provider, const char* css, const char* styleClass)
{
    if (*provider == nullptr) {
        *provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(*provider, css, -1, nullptr);
    }
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(*provider), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_style_context_add_class(style, styleClass);
}

GtkWidget* GridEntry(GtkWidget* grid, int row, const char* label, int maxChars, bool shown)
{
    GtkWidget* caption = gtk_label_new(label);
    gtk_label_set_xalign(GTK_LABEL(caption), 0.0f);
    gtk_grid_attach(GTK_GRID(grid), caption, 0, row, 1, 1);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(entry), maxChars);
    gtk_entry_set_visibility(GTK_ENTRY(entry), shown);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_widget_set_hexpand(entry, TRUE);
    gtk_grid_attach(GTK_GRID(grid), entry, 1, row, 1, 1);
    return entry;
}

bool CopyUtf8Text(char* field, size_t size, const char* text)
{
    if (field == nullptr || size == 0)
        return false;
    if (text == nullptr)
        text = "";
    size_t n = strlen(text);
    const bool whole = n < size;
    if (!whole) {
        n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;  // never half a character
    }
    memcpy(field, text, n);
    field[n] = 0;
    return whole;
}

bool CopyEntryText(char* field, size_t size, GtkWidget* entry)
{
    return CopyUtf8Text(field, size, entry ? gtk_entry_get_text(GTK_ENTRY(entry)) : "");
}

bool RequestFailed(const char* text)
{
    if (handle < 0)
        return true;
    MessageBox(text, "Error", false);
    return false;
}

std::string EntryText(GtkWidget* entry)
{
    return entry ? gtk_entry_get_text(GTK_ENTRY(entry)) : "";
}

void SetEntryText(GtkWidget* entry, const char* text)
{
    gchar* shown = g_utf8_make_valid(text ? text : "", -1);
    gtk_entry_set_text(GTK_ENTRY(entry), shown);
    g_free(shown);
}

std::string ComboActiveText(GtkWidget* combo)
{
    gchar* text = combo ? gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo)) : nullptr;
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

void SetSensitive(GtkWidget* w, bool on)
{
    if (w)
        gtk_widget_set_sensitive(w, on);
}

bool ToggleActive(GtkWidget* toggle)
{
    return toggle && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle));
}

void OnClicked(GtkButton*, gpointer handler)
{
    reinterpret_cast<void (*)()>(handler)();
}

GtkWidget* HandlerButton(const char* caption, void (*handler)())
{
    GtkWidget* button = CreateButton(caption);
    g_signal_connect(button, "clicked", G_CALLBACK(OnClicked), reinterpret_cast<gpointer>(handler));
    return button;
}
