#include "drivergui_loglist.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>

#include "drivergui.h"
#include "drivergui_list.h"
#include "xpm_data.h"

// ---- rows ----------------------------------------------------------------------------------------

namespace {

// A line of the local copy holds at most this much of a time text and of a message.
constexpr size_t kTimeMax = 31;
constexpr size_t kTextMax = 511;

// Rows dropped from the front are given back once they are this many and half of all.
constexpr size_t kCompactAfter = 4096;

const char* SeverityWord(char severity)
{
    switch (severity) {
    case 'I': return "Regular";
    case 'W': return "Warning";
    case 'E': return "Critical";
    default: return nullptr;
    }
}

const char** SeverityIcon(char severity)
{
    switch (severity) {
    case 'I': return xpm_d_Event_Normal_small;
    case 'W': return xpm_d_Event_Warning_small;
    case 'E': return xpm_d_Event_Error_small;
    default: return nullptr;
    }
}

}  // namespace

void SLogRows::Add(char severity, const char* time, const char* text)
{
    if (SeverityWord(severity) == nullptr)
        return;
    const size_t timeLength = time ? strnlen(time, kTimeMax) : 0;
    const size_t textLength = text ? strnlen(text, kTextMax) : 0;
    const uint64_t at = bytes.size();
    bytes.insert(bytes.end(), time, time + timeLength);
    bytes.push_back(0);
    bytes.insert(bytes.end(), text, text + textLength);
    bytes.push_back(0);
    rows.push_back({at, static_cast<uint16_t>(timeLength), static_cast<uint16_t>(textLength), severity});
}

void SLogRows::DropFirst()
{
    if (Size() == 0)
        return;
    ++first;
    if (first < kCompactAfter || first < rows.size() / 2)
        return;
    SLogRows kept;
    kept.bytes.reserve(bytes.size() - rows[first].at);
    kept.rows.reserve(Size());
    for (size_t r = 0; r < Size(); ++r)
        kept.Add(Severity(r), Time(r), Text(r));
    *this = std::move(kept);
}

// ---- the model -----------------------------------------------------------------------------------

namespace {

// Columns as the column lists have them for three columns.
constexpr int kColumns = 3;
constexpr int kStoreColumns = 3 * kColumns;

struct VtnLogModel {
    GObject parent;
    SLogRows* rows;
    gint stamp;
};

struct VtnLogModelClass {
    GObjectClass parent;
};

void vtn_log_model_tree_model_init(GtkTreeModelIface* iface);

G_DEFINE_TYPE_WITH_CODE(VtnLogModel, vtn_log_model, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_TREE_MODEL, vtn_log_model_tree_model_init))

#define VTN_LOG_MODEL(o) (G_TYPE_CHECK_INSTANCE_CAST((o), vtn_log_model_get_type(), VtnLogModel))
#define VTN_IS_LOG_MODEL(o) (G_TYPE_CHECK_INSTANCE_TYPE((o), vtn_log_model_get_type()))

void vtn_log_model_init(VtnLogModel* model)
{
    model->rows = new SLogRows();
    model->stamp = static_cast<gint>(g_random_int());
}

void vtn_log_model_finalize(GObject* object)
{
    delete VTN_LOG_MODEL(object)->rows;
    G_OBJECT_CLASS(vtn_log_model_parent_class)->finalize(object);
}

void vtn_log_model_class_init(VtnLogModelClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = vtn_log_model_finalize;
}

VtnLogModel* Self(GtkTreeModel* model)
{
    return VTN_LOG_MODEL(model);
}

bool SetIter(VtnLogModel* model, GtkTreeIter* iter, size_t row)
{
    if (row >= model->rows->Size()) {
        iter->stamp = 0;
        return false;
    }
    iter->stamp = model->stamp;
    iter->user_data = GSIZE_TO_POINTER(row);
    iter->user_data2 = iter->user_data3 = nullptr;
    return true;
}

size_t RowOf(const GtkTreeIter* iter)
{
    return GPOINTER_TO_SIZE(iter->user_data);
}

GtkTreeModelFlags GetFlags(GtkTreeModel*)
{
    return GTK_TREE_MODEL_LIST_ONLY;
}

gint GetNColumns(GtkTreeModel*)
{
    return kStoreColumns;
}

GType GetColumnType(GtkTreeModel*, gint column)
{
    return column >= 2 * kColumns ? GDK_TYPE_PIXBUF : G_TYPE_STRING;
}

gboolean GetIter(GtkTreeModel* model, GtkTreeIter* iter, GtkTreePath* path)
{
    if (gtk_tree_path_get_depth(path) != 1)
        return FALSE;
    const gint index = gtk_tree_path_get_indices(path)[0];
    return index >= 0 && SetIter(Self(model), iter, static_cast<size_t>(index));
}

GtkTreePath* GetPath(GtkTreeModel*, GtkTreeIter* iter)
{
    return gtk_tree_path_new_from_indices(static_cast<gint>(RowOf(iter)), -1);
}

// What a cell shows: valid UTF-8 on one line.
gchar* Shown(const char* text)
{
    gchar* shown = g_utf8_make_valid(text, -1);
    for (gchar* p = shown; *p; ++p)
        if (*p == '\n' || *p == '\r')
            *p = ' ';
    return shown;
}

void GetValue(GtkTreeModel* model, GtkTreeIter* iter, gint column, GValue* value)
{
    const SLogRows& rows = *Self(model)->rows;
    const size_t row = RowOf(iter);
    g_value_init(value, GetColumnType(model, column));
    if (row >= rows.Size())
        return;
    const char severity = rows.Severity(row);
    switch (column) {
    case 0:
    case kColumns:
        g_value_set_static_string(value, SeverityWord(severity));
        break;
    case 1:
    case 2:
        g_value_take_string(value, Shown(column == 1 ? rows.Time(row) : rows.Text(row)));
        break;
    case kColumns + 1:
        g_value_set_string(value, rows.Time(row));
        break;
    case kColumns + 2:
        g_value_set_string(value, rows.Text(row));
        break;
    case 2 * kColumns:
        g_value_set_object(value, XpmPixbuf(SeverityIcon(severity)));
        break;
    default:
        break;
    }
}

gboolean IterNext(GtkTreeModel* model, GtkTreeIter* iter)
{
    return SetIter(Self(model), iter, RowOf(iter) + 1);
}

gboolean IterPrevious(GtkTreeModel* model, GtkTreeIter* iter)
{
    const size_t row = RowOf(iter);
    if (row == 0) {
        iter->stamp = 0;
        return FALSE;
    }
    return SetIter(Self(model), iter, row - 1);
}

gboolean IterNthChild(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent, gint n)
{
    if (parent != nullptr || n < 0) {
        iter->stamp = 0;
        return FALSE;
    }
    return SetIter(Self(model), iter, static_cast<size_t>(n));
}

gboolean IterChildren(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent)
{
    return IterNthChild(model, iter, parent, 0);
}

gboolean IterHasChild(GtkTreeModel*, GtkTreeIter*)
{
    return FALSE;
}

gint IterNChildren(GtkTreeModel* model, GtkTreeIter* iter)
{
    return iter ? 0 : static_cast<gint>(Self(model)->rows->Size());
}

gboolean IterParent(GtkTreeModel*, GtkTreeIter* iter, GtkTreeIter*)
{
    iter->stamp = 0;
    return FALSE;
}

void vtn_log_model_tree_model_init(GtkTreeModelIface* iface)
{
    iface->get_flags = GetFlags;
    iface->get_n_columns = GetNColumns;
    iface->get_column_type = GetColumnType;
    iface->get_iter = GetIter;
    iface->get_path = GetPath;
    iface->get_value = GetValue;
    iface->iter_next = IterNext;
    iface->iter_previous = IterPrevious;
    iface->iter_children = IterChildren;
    iface->iter_has_child = IterHasChild;
    iface->iter_n_children = IterNChildren;
    iface->iter_nth_child = IterNthChild;
    iface->iter_parent = IterParent;
}

VtnLogModel* ModelOf(GtkWidget* list)
{
    GtkTreeModel* model = list && GTK_IS_TREE_VIEW(list) ? gtk_tree_view_get_model(GTK_TREE_VIEW(list)) : nullptr;
    return model && VTN_IS_LOG_MODEL(model) ? VTN_LOG_MODEL(model) : nullptr;
}

// The width a text takes in the list's font.
int TextWidth(GtkWidget* list, const char* text)
{
    gchar* shown = Shown(text);
    PangoLayout* layout = gtk_widget_create_pango_layout(list, shown);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    g_free(shown);
    return width;
}

// Room a text cell takes beside its text: its renderer's padding and the column's frame.
constexpr int kCellMargin = 16;

// The message column as wide as textWidth needs (never narrower than its title); only wider
// unless fit.
void SizeMessages(GtkWidget* list, int textWidth, bool fit)
{
    GtkTreeViewColumn* column = gtk_tree_view_get_column(GTK_TREE_VIEW(list), 2);
    if (column == nullptr)
        return;
    const int width = std::max(textWidth, TextWidth(list, gtk_tree_view_column_get_title(column))) + kCellMargin;
    if (fit ? width != gtk_tree_view_column_get_fixed_width(column) : width > gtk_tree_view_column_get_fixed_width(column))
        gtk_tree_view_column_set_fixed_width(column, width);
}

// The messages measured to find the widest: the longest ones.
constexpr size_t kMeasured = 64;

}  // namespace

// ---- the list ------------------------------------------------------------------------------------

GtkWidget* NewLogList(const char* const* titles)
{
    GObject* model = G_OBJECT(g_object_new(vtn_log_model_get_type(), nullptr));
    GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(model));
    g_object_unref(model);
    AppendListColumns(list, kColumns, titles);
    // Every row is one line high and every column has its width, so the view never measures rows.
    const char* const words[] = {"Regular", "Warning", "Critical"};
    int wordWidth = 0;
    for (const char* w : words)
        wordWidth = std::max(wordWidth, TextWidth(list, w));
    int iconWidth = 0;
    if (GdkPixbuf* icon = XpmPixbuf(xpm_d_Event_Normal_small))
        iconWidth = gdk_pixbuf_get_width(icon);
    GtkTreeViewColumn* first = gtk_tree_view_get_column(GTK_TREE_VIEW(list), 0);
    // The icon and its word stand 10 pixels apart.
    constexpr int kIconSpacing = 10;
    gtk_tree_view_column_set_spacing(first, kIconSpacing);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(first));
    for (GList* c = cells; c; c = c->next)
        gtk_cell_renderer_set_padding(GTK_CELL_RENDERER(c->data), 0, 0);
    g_list_free(cells);
    ColumnListSetWidth(list, 0, iconWidth + kIconSpacing + wordWidth + kCellMargin);
    ColumnListSetWidth(list, 1, std::max(150, TextWidth(list, "12/31/2099 23:59:59") + kCellMargin));
    ColumnListSetWidth(list, 2, TextWidth(list, titles[2]) + kCellMargin);
    gtk_tree_view_set_fixed_height_mode(GTK_TREE_VIEW(list), TRUE);
    return list;
}

bool IsLogList(GtkWidget* list)
{
    return ModelOf(list) != nullptr;
}

const SLogRows& LogListRows(GtkWidget* list)
{
    static const SLogRows none;
    VtnLogModel* model = ModelOf(list);
    return model ? *model->rows : none;
}

void LogListAppend(GtkWidget* list, char severity, const char* time, const char* text)
{
    VtnLogModel* model = ModelOf(list);
    if (model == nullptr)
        return;
    const size_t before = model->rows->Size();
    model->rows->Add(severity, time, text);
    if (model->rows->Size() == before)
        return;
    GtkTreeIter iter;
    SetIter(model, &iter, before);
    GtkTreePath* path = gtk_tree_path_new_from_indices(static_cast<gint>(before), -1);
    gtk_tree_model_row_inserted(GTK_TREE_MODEL(model), path, &iter);
    gtk_tree_path_free(path);
    SizeMessages(list, TextWidth(list, model->rows->Text(before)), false);
}

void LogListReplace(GtkWidget* list, SLogRows&& rows)
{
    VtnLogModel* model = ModelOf(list);
    if (model == nullptr)
        return;
    // Off the view while it changes whole: the view then takes the new rows in one pass.
    g_object_ref(model);
    gtk_tree_view_set_model(GTK_TREE_VIEW(list), nullptr);
    *model->rows = std::move(rows);
    rows = SLogRows();
    ++model->stamp;
    gtk_tree_view_set_model(GTK_TREE_VIEW(list), GTK_TREE_MODEL(model));
    g_object_unref(model);
    LogListFitMessages(list);
}

void LogListSort(GtkWidget* list, int column, bool descending)
{
    VtnLogModel* model = ModelOf(list);
    if (model == nullptr || (column != 1 && column != 2))
        return;
    SLogRows& rows = *model->rows;
    const size_t n = rows.Size();
    if (n < 2)
        return;
    std::vector<gint> order(n);
    std::iota(order.begin(), order.end(), 0);
    auto key = [&](gint r) { return column == 1 ? rows.Time(static_cast<size_t>(r)) : rows.Text(static_cast<size_t>(r)); };
    std::stable_sort(order.begin(), order.end(), [&](gint a, gint b) {
        const int c = strcmp(key(a), key(b));
        return descending ? c > 0 : c < 0;
    });
    std::vector<SLogRows::Row> sorted(n);
    for (size_t i = 0; i < n; ++i)
        sorted[i] = rows.At(static_cast<size_t>(order[i]));
    rows.rows = std::move(sorted);
    rows.first = 0;
    GtkTreePath* path = gtk_tree_path_new();
    gtk_tree_model_rows_reordered(GTK_TREE_MODEL(model), path, nullptr, order.data());
    gtk_tree_path_free(path);
}

void LogListFitMessages(GtkWidget* list)
{
    VtnLogModel* model = ModelOf(list);
    if (model == nullptr)
        return;
    const SLogRows& rows = *model->rows;
    std::vector<size_t> longest(rows.Size());
    std::iota(longest.begin(), longest.end(), 0);
    const size_t measured = std::min(kMeasured, longest.size());
    std::partial_sort(longest.begin(), longest.begin() + static_cast<std::ptrdiff_t>(measured), longest.end(),
                      [&](size_t a, size_t b) { return rows.At(a).textLength > rows.At(b).textLength; });
    int widest = 0;
    for (size_t i = 0; i < measured; ++i)
        widest = std::max(widest, TextWidth(list, rows.Text(longest[i])));
    SizeMessages(list, widest, true);
}
