// The refresh of vtnraid's device trees (CMainWindow::FreshTree, what the GUI runs after every
// event that names a device, every array operation and every login): milliseconds per refresh of
// both trees, and the requests each refresh sends to the server (one send per request, so one
// round trip each), on the demo preset and on the largest controller the simulation holds (the
// demo's two controllers with every place filled and the free disks made into a RAID 0/1 of two
// stripes, so the tree is three levels deep). The raw baseline is the same number of round trips
// of the client library's cheapest request on the same connection, measured in the same run.
//
// Usage: tests/gui/xrun bench_gui_tree [--rounds N] [BUILD_DIR]
//   --rounds  refreshes timed per configuration (default 200)
//   BUILD_DIR where server/vtnsvr and platform/vtnsim are (default: this program's build folder)
#include <dlfcn.h>
#include <sys/socket.h>

#include <atomic>

#include "dam.h"
#include "guibench.h"

namespace {

std::atomic<long> gSends{0};

}  // namespace

// Every request of the client library leaves through one send(): counting them counts round trips.
extern "C" ssize_t send(int fd, const void* buf, size_t n, int flags)
{
    using SendFn = ssize_t (*)(int, const void*, size_t, int);
    static SendFn real = reinterpret_cast<SendFn>(dlsym(RTLD_NEXT, "send"));
    ++gSends;
    return real(fd, buf, n, flags);
}

namespace {

using namespace guibench;

// Fills every free place of the demo's controllers and makes a RAID 0/1 of the four free disks of
// the second controller, through the device model as the creation wizard does.
bool Fill(Session& s)
{
    for (const char* place : {"6", "7"})
        if (s.Server().Sim({"plug", "1", place, "0", "80"}) != 0)
            return false;
    // Free disks of controller 1 (the demo's 9 and 10, and the two just plugged).
    std::vector<uint32_t> free;
    for (ClDiskArrayIterator it(0); it; ++it) {
        const unsigned int id = **it;
        CDiskArray d;
        d = id;
        if (d.nType == VTN_DEVICE_DISK && d.Info.u.disk.controller == 1 && !(d.GetWorkStatus() & VTN_DISK_SPARE))
            free.push_back(id);
    }
    if (free.size() < 4)
        return false;
    CDiskArray combo;
    combo.SetBlockSize(7);
    combo.SetName("Combo", false);
    for (size_t i = 0; i < 4; ++i)
        combo.AddMember(free[i], -1);
    return combo.CreateRAID01(false) != 0;
}

int Rows(GtkWidget* tree)
{
    std::function<int(GtkTreeModel*, GtkTreeIter*)> count = [&](GtkTreeModel* m, GtkTreeIter* parent) {
        int n = 0;
        GtkTreeIter it;
        for (bool ok = gtk_tree_model_iter_children(m, &it, parent); ok; ok = gtk_tree_model_iter_next(m, &it))
            n += 1 + count(m, &it);
        return n;
    };
    return count(gtk_tree_view_get_model(GTK_TREE_VIEW(tree)), nullptr);
}

void Measure(const char* what, CMainWindow* win, int rounds)
{
    // Both trees exist (the forms are built) and the Array Management form is shown.
    DeviceManagement();
    ArrayManagement();
    Pump(200);
    for (int i = 0; i < 5; ++i)
        win->FreshTree();
    std::vector<double> ms;
    std::vector<double> sends;
    for (int i = 0; i < rounds; ++i) {
        const long before = gSends.load();
        const double t0 = NowMs();
        win->FreshTree();
        ms.push_back(NowMs() - t0);
        sends.push_back(static_cast<double>(gSends.load() - before));
        // What the main loop does between two refreshes (drawing the new rows).
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }
    const Figures t = Summary(ms);
    const Figures r = Summary(sends);
    // The raw baseline: as many round trips of the cheapest request, without the trees.
    const double trip = RequestRoundTripMs();
    printf("%-44s %4d + %3d rows  %7.2f ms median  %7.2f p90  %7.2f max   %4.0f round trips (min %.0f max %.0f)\n",
           what, Rows(win->pArrayTree), Rows(win->pDeviceTree), t.median, t.p90, t.max, r.median, r.min, r.max);
    printf("%-44s one round trip %.3f ms: the refresh costs %.2fx its round trips alone\n", "", trip,
           t.median / (r.median * trip));
}

}  // namespace

int main(int argc, char** argv)
{
    if (!StartGtk(&argc, &argv, "bench_gui_tree"))
        return 1;
    const int rounds = static_cast<int>(IntOption(argc, argv, "--rounds", 200));
    const std::string bin = BinDir(argc, argv);
    printf("Tree refresh (both trees, CMainWindow::FreshTree), %d rounds, on CPU %d; load average %s\n", rounds,
           PinToOneCpu(), LoadAverage().c_str());
    Session s(bin);
    if (!s.Start("demo"))
        return 1;
    Administrator admin(kUser, kPassword);
    CMainWindow* win = s.Open();
    if (!s.LogIn()) {
        fprintf(stderr, "the login failed\n");
        return 1;
    }
    Measure("demo preset (10 disks, RAID 1, RAID 5)", win, rounds);
    if (!Fill(s)) {
        fprintf(stderr, "could not fill the controllers\n");
        return 1;
    }
    Measure("largest (12 disks, RAID 1, RAID 5, RAID 0/1)", win, rounds);
    s.LogOut();
    return 0;
}
