// The Event View's list: a tree view over a model of its own that keeps the rows compactly, so that
// a log of a million lines is filled, filtered and sorted at once. It keeps the column lists'
// layout (columns 0..2 shown texts, 3..5 texts as given, 6..8 pictures), so the column-list
// readers work on it; it is filled and emptied only through the functions below.
#pragma once
#include <cstddef>
#include <cstdint>
#include <gtk/gtk.h>
#include <vector>

// Rows of the list: severity, time text and message of each, in display order. The texts live
// in one block ("time\0message\0" per row).
struct SLogRows {
    struct Row {
        uint64_t at;  // offset of the time text in bytes
        uint16_t timeLength;
        uint16_t textLength;
        char severity;
    };
    std::vector<char> bytes;
    std::vector<Row> rows;
    size_t first = 0;  // rows before it were dropped

    // Appends a row ('I', 'W' or 'E'; other severities add nothing): the texts cut to the lengths
    // of a line of the local copy.
    void Add(char severity, const char* time, const char* text);
    // Drops the oldest row.
    void DropFirst();
    size_t Size() const { return rows.size() - first; }
    const Row& At(size_t row) const { return rows[first + row]; }
    char Severity(size_t row) const { return At(row).severity; }
    const char* Time(size_t row) const { return bytes.data() + At(row).at; }
    const char* Text(size_t row) const { return Time(row) + At(row).timeLength + 1; }
};

// A new event list with the given three column titles: browse selection, every row one line high.
GtkWidget* NewLogList(const char* const* titles);
// True for a list made by NewLogList.
bool IsLogList(GtkWidget* list);
// The list's rows.
const SLogRows& LogListRows(GtkWidget* list);
// Appends one row at the end.
void LogListAppend(GtkWidget* list, char severity, const char* time, const char* text);
// Replaces every row by rows (taken over).
void LogListReplace(GtkWidget* list, SLogRows&& rows);
// Sorts the rows once, stably, by the time (column 1) or the message (column 2) with strcmp.
void LogListSort(GtkWidget* list, int column, bool descending);
// Sets the width of the message column to what the widest message needs.
void LogListFitMessages(GtkWidget* list);
