// The event log in the GUI at sizes an old server reaches: the login's load of the server's log
// into the Event View and the local copy, a filter change, the three sorts, and the memory the
// Event View takes. Raw baselines of the same run: for the load, the client library enumerating
// the same log alone on the same connection; for a filter change or a sort, one read of the local
// copy's bytes; for memory, the local copy's size.
//
// Usage: tests/gui/xrun bench_gui_eventlog [--lines N] [--rounds R] [BUILD_DIR]
//   --lines   lines of the server's log (default: 100000, then 1000000)
//   --rounds  times each figure is taken, baseline and GUI in turn (default 3)
//   BUILD_DIR where server/vtnsvr and platform/vtnsim are (default: this program's build folder)
#include <fcntl.h>
#include <malloc.h>

#include "drivergui_list.h"
#include "guibench.h"
#include "locallog.h"

namespace {

using namespace guibench;

// A server log of n lines with the server's own line format and texts of the usual lengths.
std::string ServerLog(long n)
{
    static const char* const texts[] = {
        "Disk at Controller1-Channel%d-Device1 failed.",
        "Plugging disk detected.(Controller1-Channel%d-Device1)",
        "Array 'Mirror%d' rebuilding completed.",
        "User admin(from 127.0.0.1) logged on system.",
        "Scheduled task (verify Mirror%d) started.",
        "Array 'Parity%d' verifying started.",
    };
    const char severities[] = {'E', 'W', 'I', 'I', 'I', 'W'};
    std::string out;
    out.reserve(static_cast<size_t>(n) * 72);
    char line[256], text[128];
    for (long i = 0; i < n; ++i) {
        const int k = static_cast<int>(i % 6);
        snprintf(text, sizeof text, texts[k], static_cast<int>(i % 8) + 1);
        snprintf(line, sizeof line, "0\t%c\t%02d/%02d/%d %02d:%02d:%02d\t%s\n", severities[k],
                 static_cast<int>(i % 12) + 1, static_cast<int>(i % 28) + 1, 20 + static_cast<int>(i % 6),
                 static_cast<int>(i % 24), static_cast<int>(i % 60), static_cast<int>((i * 7) % 60), text);
        out += line;
    }
    return out;
}

// Enumerates the server's log through the client library alone: ms, and the count in *count.
double EnumerateMs(long* count)
{
    const double t0 = NowMs();
    _VTN_LOG_EVENT event;
    long n = 0;
    while (cs_vtn_enum_event(handle, &event, static_cast<int>(n)) == 0)
        ++n;
    *count = n;
    return NowMs() - t0;
}

// op, then what the main loop has to do after it (drawing the list): ms.
double TimedMs(const std::function<void()>& op)
{
    const double t0 = NowMs();
    op();
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
    return NowMs() - t0;
}

// One read of the local copy's bytes, with its lines counted: ms.
double ReadCopyMs(const std::string& path)
{
    const double t0 = NowMs();
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return -1;
    std::vector<char> buf(1 << 20);
    long lines = 0;
    for (ssize_t n; (n = read(fd, buf.data(), buf.size())) > 0;)
        lines += std::count(buf.begin(), buf.begin() + n, '\n');
    close(fd);
    return lines >= 0 ? NowMs() - t0 : -1;
}

size_t HeapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// The check box of the Event View's filter captioned label.
GtkWidget* CheckBox(GtkWidget* root, const char* label)
{
    if (GTK_IS_CHECK_BUTTON(root) && strcmp(gtk_button_get_label(GTK_BUTTON(root)), label) == 0)
        return root;
    GtkWidget* found = nullptr;
    if (GTK_IS_CONTAINER(root)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(root));
        for (GList* c = children; c && !found; c = c->next)
            found = CheckBox(GTK_WIDGET(c->data), label);
        g_list_free(children);
    }
    return found;
}

void ClickColumn(CMainWindow* win, int column)
{
    gtk_tree_view_column_clicked(gtk_tree_view_get_column(GTK_TREE_VIEW(win->pLogList), column));
}

struct Row {
    const char* what;
    std::vector<double> ms;
    std::vector<double> raw;
};

void Print(const Row& r, const char* rawName)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < r.ms.size() && i < r.raw.size(); ++i)
        ratios.push_back(r.ms[i] / r.raw[i]);
    const Figures f = Summary(r.ms), base = Summary(r.raw), ratio = Summary(ratios);
    printf("  %-34s %9.1f ms median (%9.1f max); %s %8.1f ms; ratio %5.2fx\n", r.what, f.median, f.max, rawName,
           base.median, ratio.median);
}

bool Run(const std::string& binDir, long lines, int rounds)
{
    Session s(binDir);
    mkdir(s.Root().Path("/var").c_str(), 0755);
    mkdir(s.Root().Path("/var/log").c_str(), 0755);
    // With the line the server writes of the bench's login, the log holds lines.
    if (!WriteFileText(s.Root().Path("/var/log/vtn.log"), ServerLog(lines - 1)))
        return false;
    if (!s.Start("sata4"))
        return false;
    Administrator admin(kUser, kPassword);
    CMainWindow* win = s.Open();
    Pump(300);
    EventView();
    const double login0 = NowMs();
    if (!s.LogIn()) {
        fprintf(stderr, "the login failed\n");
        return false;
    }
    const double loginMs = NowMs() - login0;
    const std::string copyPath = s.Root().Path(kLocalLogFile);
    const size_t copyBytes = ReadFileText(copyPath).size();
    printf("%ld lines (local copy %zu bytes); the whole login took %.1f ms\n", lines, copyBytes, loginMs);

    Row load{"login's load of the log", {}, {}};
    Row filter{"filter change (Warning off, on)", {}, {}};
    Row type{"sort by Icon", {}, {}}, time{"sort by Time", {}, {}}, desc{"sort by Description", {}, {}};
    GtkWidget* warning = CheckBox(win->GetCurrForm("Event View")->container, "Warning");
    for (int r = 0; r < rounds; ++r) {
        long count = 0;
        load.raw.push_back(EnumerateMs(&count));
        if (count != lines) {
            fprintf(stderr, "the server enumerated %ld lines of %ld\n", count, lines);
            return false;
        }
        load.ms.push_back(TimedMs(LoadLog));
        if (ColumnListRows(win->pLogList) != count) {
            fprintf(stderr, "the list holds %d rows of %ld\n", ColumnListRows(win->pLogList), count);
            return false;
        }
        filter.raw.push_back(ReadCopyMs(copyPath));
        filter.ms.push_back(TimedMs([&] { gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(warning), FALSE); }));
        filter.raw.push_back(ReadCopyMs(copyPath));
        filter.ms.push_back(TimedMs([&] { gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(warning), TRUE); }));
        for (auto [row, column] : {std::pair{&type, 0}, std::pair{&time, 1}, std::pair{&desc, 2}}) {
            row->raw.push_back(ReadCopyMs(copyPath));
            row->ms.push_back(TimedMs([&, column = column] { ClickColumn(win, column); }));
        }
    }
    Print(load, "client library alone");
    Print(filter, "one read of the copy");
    Print(type, "one read of the copy");
    Print(time, "one read of the copy");
    Print(desc, "one read of the copy");

    // Memory: the list emptied, then filled with every line of the copy.
    ClearLogList();
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
    const size_t empty = HeapInUse();
    const long rss0 = StatusValue("VmRSS");
    FilterLog();
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
    const size_t full = HeapInUse();
    const long rss1 = StatusValue("VmRSS");
    printf("  Event View memory for %d rows: %.1f MB on the heap (%.2fx the copy's %.1f MB); resident %+ld kB\n",
           ColumnListRows(win->pLogList), static_cast<double>(full - empty) / 1e6,
           static_cast<double>(full - empty) / static_cast<double>(copyBytes), static_cast<double>(copyBytes) / 1e6,
           rss1 - rss0);
    s.Close();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!StartGtk(&argc, &argv, "bench_gui_eventlog"))
        return 1;
    const long only = IntOption(argc, argv, "--lines", 0);
    const int rounds = static_cast<int>(IntOption(argc, argv, "--rounds", 3));
    printf("The event log in the GUI, on CPU %d; load average %s\n", PinToOneCpu(), LoadAverage().c_str());
    for (long lines : only > 0 ? std::vector<long>{only} : std::vector<long>{100000, 1000000})
        if (!Run(BinDir(argc, argv), lines, rounds))
            return 1;
    return 0;
}
