#include "drivergui_list.h"

#include "drivergui_loglist.h"

#include <vector>

// Store columns for n list columns: [0, n) shown texts, [n, 2n) texts as given, [2n, 3n) pictures.
namespace {

const char* const kColumnsKey = "vtn-columns";
const char* const kRowHandlerKey = "vtn-select-row";
const char* const kRowDataKey = "vtn-select-row-data";
const char* const kColumnHandlerKey = "vtn-click-column";
const char* const kColumnDataKey = "vtn-click-column-data";
const char* const kColumnIndexKey = "vtn-column-index";

GtkTreeModel* Model(GtkWidget* list)
{
    return gtk_tree_view_get_model(GTK_TREE_VIEW(list));
}

// The list's store; null (and a critical) for a list that is not filled through these helpers.
GtkListStore* Store(GtkWidget* list)
{
    GtkTreeModel* model = Model(list);
    g_return_val_if_fail(GTK_IS_LIST_STORE(model), nullptr);
    return GTK_LIST_STORE(model);
}

bool RowIter(GtkWidget* list, int row, GtkTreeIter* iter)
{
    return row >= 0 && gtk_tree_model_iter_nth_child(Model(list), iter, nullptr, row);
}

void OnSelectionChanged(GtkTreeSelection* selection, gpointer list)
{
    auto handler = reinterpret_cast<ColumnListRowHandler>(g_object_get_data(G_OBJECT(list), kRowHandlerKey));
    if (handler == nullptr)
        return;
    (void)selection;
    int row = ColumnListSelectedRow(GTK_WIDGET(list));
    if (row >= 0)
        handler(GTK_WIDGET(list), row, 0, nullptr, g_object_get_data(G_OBJECT(list), kRowDataKey));
}

void OnColumnClicked(GtkTreeViewColumn* column, gpointer list)
{
    auto handler = reinterpret_cast<ColumnListColumnHandler>(g_object_get_data(G_OBJECT(list), kColumnHandlerKey));
    if (handler != nullptr)
        handler(GTK_WIDGET(list), GPOINTER_TO_INT(g_object_get_data(G_OBJECT(column), kColumnIndexKey)),
                g_object_get_data(G_OBJECT(list), kColumnDataKey));
}

}  // namespace

void AppendListColumns(GtkWidget* list, int columns, const char* const* titles)
{
    g_object_set_data(G_OBJECT(list), kColumnsKey, GINT_TO_POINTER(columns));
    for (int i = 0; i < columns; ++i) {
        GtkTreeViewColumn* column = gtk_tree_view_column_new();
        gtk_tree_view_column_set_title(column, titles && titles[i] ? titles[i] : "");
        GtkCellRenderer* picture = gtk_cell_renderer_pixbuf_new();
        gtk_tree_view_column_pack_start(column, picture, FALSE);
        gtk_tree_view_column_add_attribute(column, picture, "pixbuf", 2 * columns + i);
        GtkCellRenderer* text = gtk_cell_renderer_text_new();
        gtk_tree_view_column_pack_start(column, text, TRUE);
        gtk_tree_view_column_add_attribute(column, text, "text", i);
        gtk_tree_view_column_set_resizable(column, TRUE);
        gtk_tree_view_column_set_clickable(column, TRUE);
        g_object_set_data(G_OBJECT(column), kColumnIndexKey, GINT_TO_POINTER(i));
        g_signal_connect(column, "clicked", G_CALLBACK(OnColumnClicked), list);
        gtk_tree_view_append_column(GTK_TREE_VIEW(list), column);
    }
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), GTK_SELECTION_BROWSE);
    ConnectSelectionHandler(list, "changed", G_CALLBACK(OnSelectionChanged), list);
}

GtkWidget* NewColumnList(int columns, const char* const* titles)
{
    std::vector<GType> types;
    for (int i = 0; i < columns * 2; ++i)
        types.push_back(G_TYPE_STRING);
    for (int i = 0; i < columns; ++i)
        types.push_back(GDK_TYPE_PIXBUF);
    GtkListStore* store = gtk_list_store_newv(static_cast<int>(types.size()), types.data());
    GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    AppendListColumns(list, columns, titles);
    return list;
}

GtkWidget* ScrolledColumnList(GtkWidget* list)
{
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_OUT);
    // Rows or texts that do not fit are reached by bars that show, not only on a hover.
    ShowScrollBars(scrolled);
    gtk_container_add(GTK_CONTAINER(scrolled), list);
    return scrolled;
}

void ColumnListSetWidth(GtkWidget* list, int column, int width)
{
    GtkTreeViewColumn* c = gtk_tree_view_get_column(GTK_TREE_VIEW(list), column);
    if (c == nullptr)
        return;
    if (width > 0) {
        gtk_tree_view_column_set_sizing(c, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_fixed_width(c, width);
    } else {
        gtk_tree_view_column_set_sizing(c, GTK_TREE_VIEW_COLUMN_AUTOSIZE);
    }
}

int ColumnListColumns(GtkWidget* list)
{
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(list), kColumnsKey));
}

int ColumnListAppend(GtkWidget* list, const char* const* texts)
{
    GtkTreeIter iter;
    GtkListStore* store = Store(list);
    if (store == nullptr)
        return -1;
    gtk_list_store_append(store, &iter);
    int row = ColumnListRows(list) - 1;
    for (int i = 0; i < ColumnListColumns(list); ++i)
        ColumnListSetText(list, row, i, texts ? texts[i] : nullptr);
    return row;
}

void ColumnListSetText(GtkWidget* list, int row, int column, const char* text)
{
    GtkTreeIter iter;
    const int n = ColumnListColumns(list);
    if (column < 0 || column >= n || !RowIter(list, row, &iter))
        return;
    const char* given = text ? text : "";
    gchar* shown = g_utf8_make_valid(given, -1);
    gtk_list_store_set(Store(list), &iter, column, shown, n + column, given, -1);
    g_free(shown);
}

void ColumnListSetPixbuf(GtkWidget* list, int row, int column, GdkPixbuf* pixbuf)
{
    GtkTreeIter iter;
    const int n = ColumnListColumns(list);
    if (column < 0 || column >= n || !RowIter(list, row, &iter))
        return;
    gtk_list_store_set(Store(list), &iter, 2 * n + column, pixbuf, -1);
}

namespace {

std::string CellText(GtkWidget* list, int row, int storeColumn)
{
    GtkTreeIter iter;
    if (!RowIter(list, row, &iter))
        return "";
    gchar* text = nullptr;
    gtk_tree_model_get(Model(list), &iter, storeColumn, &text, -1);
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

}  // namespace

std::string ColumnListText(GtkWidget* list, int row, int column)
{
    const int n = ColumnListColumns(list);
    return column < 0 || column >= n ? "" : CellText(list, row, n + column);
}

std::string ColumnListShownText(GtkWidget* list, int row, int column)
{
    const int n = ColumnListColumns(list);
    return column < 0 || column >= n ? "" : CellText(list, row, column);
}

GdkPixbuf* ColumnListPixbuf(GtkWidget* list, int row, int column)
{
    GtkTreeIter iter;
    const int n = ColumnListColumns(list);
    if (column < 0 || column >= n || !RowIter(list, row, &iter))
        return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    gtk_tree_model_get(Model(list), &iter, 2 * n + column, &pixbuf, -1);
    if (pixbuf)
        g_object_unref(pixbuf);  // the store keeps its own reference
    return pixbuf;
}

int ColumnListRows(GtkWidget* list)
{
    return gtk_tree_model_iter_n_children(Model(list), nullptr);
}

int ColumnListSelectedRow(GtkWidget* list)
{
    GtkTreeIter iter;
    GtkTreeModel* model = nullptr;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), &model, &iter))
        return -1;
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    int row = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return row;
}

void ColumnListSelectRow(GtkWidget* list, int row)
{
    GtkTreeIter iter;
    if (RowIter(list, row, &iter))
        gtk_tree_selection_select_iter(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), &iter);
}

void ColumnListUnselectAll(GtkWidget* list)
{
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)));
}

void ColumnListRemove(GtkWidget* list, int row)
{
    GtkTreeIter iter;
    if (RowIter(list, row, &iter))
        gtk_list_store_remove(Store(list), &iter);
}

void ColumnListClear(GtkWidget* list)
{
    if (IsLogList(list))
        LogListReplace(list, SLogRows());
    else if (GtkListStore* store = Store(list))
        gtk_list_store_clear(store);
}

void ColumnListOnSelectRow(GtkWidget* list, ColumnListRowHandler handler, void* data)
{
    g_object_set_data(G_OBJECT(list), kRowHandlerKey, reinterpret_cast<gpointer>(handler));
    g_object_set_data(G_OBJECT(list), kRowDataKey, data);
}

void ColumnListOnClickColumn(GtkWidget* list, ColumnListColumnHandler handler, void* data)
{
    g_object_set_data(G_OBJECT(list), kColumnHandlerKey, reinterpret_cast<gpointer>(handler));
    g_object_set_data(G_OBJECT(list), kColumnDataKey, data);
}

void ColumnListBlockSelect(GtkWidget* list, bool block)
{
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
    if (block)
        g_signal_handlers_block_by_func(selection, reinterpret_cast<gpointer>(OnSelectionChanged), list);
    else
        g_signal_handlers_unblock_by_func(selection, reinterpret_cast<gpointer>(OnSelectionChanged), list);
}

void ColumnListUnselectQuietly(GtkWidget* list)
{
    ColumnListBlockSelect(list, true);
    ColumnListUnselectAll(list);
    ColumnListBlockSelect(list, false);
}

namespace {
const char kSelectionHandlersKey[] = "vtn-selection-handlers";

// Where a list's selection signals are emitted: its selection object for a tree view.
gpointer SelectionInstance(GtkWidget* list)
{
    return GTK_IS_TREE_VIEW(list) ? static_cast<gpointer>(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)))
                                  : static_cast<gpointer>(list);
}
}  // namespace

gulong ConnectSelectionHandler(GtkWidget* list, const char* signal, GCallback callback, gpointer data)
{
    gulong id = g_signal_connect(SelectionInstance(list), signal, callback, data);
    auto* ids = static_cast<GSList*>(g_object_steal_data(G_OBJECT(list), kSelectionHandlersKey));
    ids = g_slist_prepend(ids, GSIZE_TO_POINTER(id));
    g_object_set_data_full(G_OBJECT(list), kSelectionHandlersKey, ids, reinterpret_cast<GDestroyNotify>(g_slist_free));
    return id;
}

void BlockSelectionHandlers(GtkWidget* list)
{
    if (list == nullptr)
        return;
    gpointer instance = SelectionInstance(list);
    for (auto* l = static_cast<GSList*>(g_object_get_data(G_OBJECT(list), kSelectionHandlersKey)); l; l = l->next) {
        gulong id = GPOINTER_TO_SIZE(l->data);
        if (g_signal_handler_is_connected(instance, id))
            g_signal_handler_block(instance, id);
    }
}

// ---- texts that fit ---------------------------------------------------------------------------

void ColumnListSetMinWidth(GtkWidget* list, int column, int width)
{
    if (GtkTreeViewColumn* c = gtk_tree_view_get_column(GTK_TREE_VIEW(list), column)) {
        gtk_tree_view_column_set_sizing(c, GTK_TREE_VIEW_COLUMN_AUTOSIZE);
        gtk_tree_view_column_set_min_width(c, width);
    }
}

void ColumnListTextOnly(GtkWidget* list, int column)
{
    GtkTreeViewColumn* c = gtk_tree_view_get_column(GTK_TREE_VIEW(list), column);
    if (c == nullptr)
        return;
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(c));
    for (GList* cell = cells; cell; cell = cell->next)
        if (GTK_IS_CELL_RENDERER_PIXBUF(cell->data))
            gtk_cell_renderer_set_visible(GTK_CELL_RENDERER(cell->data), FALSE);
    g_list_free(cells);
}

void ShowScrollBars(GtkWidget* scrolled)
{
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scrolled), FALSE);
}
