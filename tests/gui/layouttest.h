// Helpers of the layout tests: whether what a scrolled window holds can be reached (a scroll bar
// beside the content wherever it does not fit), real clicks on a scroll bar and on a row, the
// cells of a column list whose text is wider than its column, a window's size, and a fixture
// with the scenes the windows are looked at on: the demo preset, and six mirrors that each lost a
// member. Header-only.
#pragma once
#include <string>
#include <vector>

#include "drivergui_list.h"
#include "harness.h"
#include "repairtest.h"

// The size a window was given on the screen.
inline std::pair<int, int> WindowSize(GtkWidget* window)
{
    return {gtk_widget_get_allocated_width(window), gtk_widget_get_allocated_height(window)};
}

// Whether the scrolled window shows its scroll bar of that orientation beside its content, where
// a person sees it; a bar that only shows over the content while the pointer hovers does not count.
inline bool ScrollBarBeside(GtkWidget* scrolled, GtkOrientation orientation)
{
    const bool vertical = orientation == GTK_ORIENTATION_VERTICAL;
    GtkWidget* bar = vertical ? gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(scrolled))
                              : gtk_scrolled_window_get_hscrollbar(GTK_SCROLLED_WINDOW(scrolled));
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(scrolled));
    if (bar == nullptr || child == nullptr || !gtk_widget_get_mapped(bar) || !gtk_widget_get_child_visible(bar))
        return false;
    int bx = 0, by = 0, cx = 0, cy = 0;
    gtk_widget_translate_coordinates(bar, scrolled, 0, 0, &bx, &by);
    gtk_widget_translate_coordinates(child, scrolled, 0, 0, &cx, &cy);
    const int bw = gtk_widget_get_allocated_width(bar), bh = gtk_widget_get_allocated_height(bar);
    const int cw = gtk_widget_get_allocated_width(child), ch = gtk_widget_get_allocated_height(child);
    if (bw < 4 || bh < 4)
        return false;
    return vertical ? bx >= cx + cw || bx + bw <= cx : by >= cy + ch || by + bh <= cy;
}

// What of the scrolled window's content lies outside its view with no scroll bar beside it to
// reach it: empty when everything can be reached.
inline std::string Unreachable(GtkWidget* scrolled)
{
    std::string out;
    const struct {
        GtkAdjustment* adjustment;
        GtkOrientation orientation;
        const char* what;
    } sides[] = {{gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(scrolled)), GTK_ORIENTATION_HORIZONTAL,
                  "wider"},
                 {gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)), GTK_ORIENTATION_VERTICAL,
                  "taller"}};
    for (const auto& s : sides) {
        const double content = gtk_adjustment_get_upper(s.adjustment) - gtk_adjustment_get_lower(s.adjustment);
        const double view = gtk_adjustment_get_page_size(s.adjustment);
        if (content > view + 0.5 && !ScrollBarBeside(scrolled, s.orientation))
            out += std::string(out.empty() ? "" : ", ") + s.what + " than its view (" + std::to_string(int(content)) +
                   " > " + std::to_string(int(view)) + ") without a scroll bar";
    }
    return out;
}

// The scrolled window around a list.
inline GtkWidget* ScrolledOf(GtkWidget* list)
{
    return gtk_widget_get_ancestor(list, GTK_TYPE_SCROLLED_WINDOW);
}

// Whether a row of a list in a scrolled window lies wholly in the view.
inline bool InView(GtkWidget* row)
{
    GtkWidget* scrolled = ScrolledOf(row);
    GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
    GtkAllocation a;
    gtk_widget_get_allocation(row, &a);
    const double top = gtk_adjustment_get_value(v);
    return a.y >= top - 0.5 && a.y + a.height <= top + gtk_adjustment_get_page_size(v) + 0.5;
}

// A real click near one end of a scroll bar of the scrolled window (the end where its content
// ends when toEnd); true once it has scrolled, false when the bar does not show or nothing moved.
inline bool ClickScrollBar(GtkWidget* scrolled, GtkOrientation orientation, bool toEnd)
{
    const bool vertical = orientation == GTK_ORIENTATION_VERTICAL;
    GtkWidget* bar = vertical ? gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(scrolled))
                              : gtk_scrolled_window_get_hscrollbar(GTK_SCROLLED_WINDOW(scrolled));
    if (!ScrollBarBeside(scrolled, orientation))
        return false;
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(bar));
    const double before = gtk_adjustment_get_value(a);
    const int w = gtk_widget_get_allocated_width(bar), h = gtk_widget_get_allocated_height(bar);
    const int along = toEnd ? (vertical ? h : w) - 3 : 3;
    const GdkRectangle r = ScreenRect(bar);
    if (!gtk_widget_get_mapped(bar) ||
        !(vertical ? PointerClickAt(r.x + w / 2, r.y + along) : PointerClickAt(r.x + along, r.y + h / 2)))
        return false;
    // The press alone moves the slider and starts a drag that follows the pointer until the
    // release: the release is taken before anything else is clicked, or the pointer's move to a
    // row drags the content on under it.
    HandleXEvents();
    if (!PumpUntil([&] { return gtk_adjustment_get_value(a) != before; }, 5000))
        return false;
    // At rest: the same place after a frame.
    GtkWidget* top = gtk_widget_get_toplevel(scrolled);
    for (int frame = 0; frame < 50; ++frame) {
        const double now = gtk_adjustment_get_value(a);
        WaitFrame(top);
        if (gtk_adjustment_get_value(a) == now)
            return true;
    }
    return false;
}

// Scrolls to the end of the content with the scroll bar, when it shows.
inline void ScrollToEnd(GtkWidget* scrolled, GtkOrientation orientation)
{
    if (ScrollBarBeside(scrolled, orientation)) {
        EXPECT_TRUE(ClickScrollBar(scrolled, orientation, true));
    }
}

// Brings a row into view as a person does, with real clicks near the far end of the vertical
// scroll bar; false when it cannot be brought there.
inline bool ScrollIntoView(GtkWidget* row)
{
    GtkWidget* scrolled = ScrolledOf(row);
    if (scrolled == nullptr)
        return false;
    // A row just added or moved has its place once the window has been laid out.
    WaitFrame(gtk_widget_get_toplevel(row));
    if (InView(row))
        return true;
    GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
    for (int attempt = 0; attempt < 20 && !InView(row); ++attempt) {
        GtkAllocation a;
        gtk_widget_get_allocation(row, &a);
        if (!ClickScrollBar(scrolled, GTK_ORIENTATION_VERTICAL, a.y > gtk_adjustment_get_value(v)))
            return false;
    }
    // The scrolled rows where they are drawn.
    WaitFrame(gtk_widget_get_toplevel(row));
    return InView(row);
}

// Scrolls the list's row at index into view and clicks it (with Control when ctrl); true once its
// selection changed.
inline bool ClickItemAt(GtkWidget* list, int index, bool ctrl = false)
{
    GtkListBoxRow* row = gtk_list_box_get_row_at_index(GTK_LIST_BOX(list), index);
    if (row == nullptr || !ScrollIntoView(GTK_WIDGET(row)))
        return false;
    const bool before = gtk_list_box_row_is_selected(row);
    if (!PointerClickAsDrawn(GTK_WIDGET(row), ctrl ? std::vector<guint>{GDK_KEY_Control_L} : std::vector<guint>{}))
        return false;
    return PumpUntil([&] { return gtk_list_box_row_is_selected(row) != before; }, 5000);
}

// The captions of a list's selected rows, in list order.
inline std::vector<std::string> SelectedCaptions(GtkWidget* list)
{
    std::vector<std::string> out;
    for (int i = 0;; ++i) {
        GtkListBoxRow* row = gtk_list_box_get_row_at_index(GTK_LIST_BOX(list), i);
        if (row == nullptr)
            break;
        if (gtk_list_box_row_is_selected(row))
            out.push_back(WidgetCaption(GTK_WIDGET(row)));
    }
    return out;
}

// The cells and titles of a column list whose text needs more room than its column gives it (a
// column cuts its texts, no scroll bar reaches what it cuts), each as "title: text (needs > has)".
inline std::vector<std::string> CutTexts(GtkWidget* list)
{
    std::vector<std::string> out;
    GtkTreeView* view = GTK_TREE_VIEW(list);
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    for (int c = 0; c < ColumnListColumns(list); ++c) {
        GtkTreeViewColumn* column = gtk_tree_view_get_column(view, c);
        const std::string title = gtk_tree_view_column_get_title(column);
        if (GtkWidget* button = gtk_tree_view_column_get_button(column)) {
            int need = 0;
            gtk_widget_get_preferred_width(button, nullptr, &need);
            const int has = gtk_widget_get_allocated_width(button);
            if (need > has)
                out.push_back("title " + title + " (" + std::to_string(need) + " > " + std::to_string(has) + ")");
        }
        GtkCellRenderer* text = nullptr;
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
        for (GList* cell = cells; cell; cell = cell->next)
            if (GTK_IS_CELL_RENDERER_TEXT(cell->data))
                text = GTK_CELL_RENDERER(cell->data);
        g_list_free(cells);
        GtkTreeIter iter;
        for (int r = 0; text && gtk_tree_model_iter_nth_child(model, &iter, nullptr, r); ++r) {
            gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
            int offset = 0, width = 0, need = 0;
            gtk_tree_view_column_cell_get_position(column, text, &offset, &width);
            gtk_cell_renderer_get_preferred_width(text, GTK_WIDGET(view), nullptr, &need);
            GtkTreePath* path = gtk_tree_path_new_from_indices(r, -1);
            GdkRectangle area;
            gtk_tree_view_get_cell_area(view, path, column, &area);
            gtk_tree_path_free(path);
            if (offset + need > area.width)
                out.push_back(title + ": " + ColumnListShownText(list, r, c) + " (" + std::to_string(offset + need) +
                              " > " + std::to_string(area.width) + ")");
        }
    }
    return out;
}

inline std::string Nth(const char* prefix, int i)
{
    return prefix + std::to_string(i);
}

constexpr int kSix = 6;

class LayoutTest : public SceneTest {
protected:
    // What "vtnsim init --preset demo" makes, nothing advancing by itself.
    void StartOnDemo()
    {
        Start(nullptr, VTN_RIGHTS_ALL, "demo");
        ASSERT_EQ(server_.Sim({"set", "rate", "0"}), 0);
        ShowForms();
    }
    // Six mirrors Mirror1 ... Mirror6 whose first member failed (the first three) or was pulled
    // (the others), and the disks of more.
    void StartOnSixBroken(const std::function<void(SimScene&)>& more = nullptr)
    {
        StartOn([&](SimScene& s) {
            for (int i = 1; i <= kSix; ++i)
                s.Mirror(Nth("Mirror", i));
            if (more)
                more(s);
        });
        for (int i = 1; i <= kSix; ++i)
            SimOn(i <= 3 ? "fail" : "pull", Nth("Mirror", i) + "-a");
        window_->FreshTree();
    }
    nlohmann::json Array(const std::string& name) { return Find(SimState(), "arrays", "name", name); }
};
