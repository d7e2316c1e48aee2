// Column lists: a GtkTreeView over a GtkListStore in which every column shows a picture and a
// text. Each cell keeps the text as it was given (its bytes, for files and comparisons) beside
// the text it shows (made valid UTF-8). Rows are counted from 0 in display order.
#pragma once
#include <gtk/gtk.h>
#include <string>

// A list with the given column titles, browse selection.
GtkWidget* NewColumnList(int columns, const char* const* titles);
// The columns of a column list on a tree view whose model has the layout above.
void AppendListColumns(GtkWidget* list, int columns, const char* const* titles);
// A scrolled window (automatic scroll bars that always show when needed, outward shadow) holding
// the list.
GtkWidget* ScrolledColumnList(GtkWidget* list);
// width <= 0: the column is sized to its content.
void ColumnListSetWidth(GtkWidget* list, int column, int width);
int ColumnListColumns(GtkWidget* list);
// Appends a row with the texts of every column (null: empty); returns its index.
int ColumnListAppend(GtkWidget* list, const char* const* texts);
void ColumnListSetText(GtkWidget* list, int row, int column, const char* text);
void ColumnListSetPixbuf(GtkWidget* list, int row, int column, GdkPixbuf* pixbuf);
// The text as given; empty for a row or column that does not exist.
std::string ColumnListText(GtkWidget* list, int row, int column);
// The text as shown.
std::string ColumnListShownText(GtkWidget* list, int row, int column);
GdkPixbuf* ColumnListPixbuf(GtkWidget* list, int row, int column);
int ColumnListRows(GtkWidget* list);
// The selected row, -1 without one.
int ColumnListSelectedRow(GtkWidget* list);
void ColumnListSelectRow(GtkWidget* list, int row);
void ColumnListUnselectAll(GtkWidget* list);
// Unselects every row without running the selection handler.
void ColumnListUnselectQuietly(GtkWidget* list);
void ColumnListRemove(GtkWidget* list, int row);
void ColumnListClear(GtkWidget* list);

// The list's "select_row": runs handler(list, row, 0, null, data) whenever a row becomes selected.
using ColumnListRowHandler = void (*)(GtkWidget* list, int row, int column, GdkEventButton* event, void* data);
void ColumnListOnSelectRow(GtkWidget* list, ColumnListRowHandler handler, void* data);
// The list's "click_column": runs handler(list, column, data) on a click on a column title.
using ColumnListColumnHandler = void (*)(GtkWidget* list, int column, void* data);
void ColumnListOnClickColumn(GtkWidget* list, ColumnListColumnHandler handler, void* data);
// Blocks or unblocks the list's selection handler.
void ColumnListBlockSelect(GtkWidget* list, bool block);

// Connects a selection handler of a list (a tree view's goes on its selection) and keeps its id on
// the list, so that BlockSelectionHandlers can block it while the window is destroyed.
gulong ConnectSelectionHandler(GtkWidget* list, const char* signal, GCallback callback, gpointer data);
void BlockSelectionHandlers(GtkWidget* list);

// ---- texts that fit ---------------------------------------------------------------------------

// The column is at least width pixels wide and grows to fit its title and its texts.
void ColumnListSetMinWidth(GtkWidget* list, int column, int width);
// The column shows texts only: it keeps no room for a picture.
void ColumnListTextOnly(GtkWidget* list, int column);
// The scroll bars stand beside the content whenever it does not fit, rather than showing over it
// only while the pointer moves there.
void ShowScrollBars(GtkWidget* scrolled);
