// The Icon View, the task list and the array page with its progress bar, on the demo and on six
// mirrors that lost a member: every text can be read whole (a column wide enough, or a scroll bar
// that reaches it), the task window keeps its size, and the percentage on the progress bar is
// dark and large enough to read at a glance. Pictures (VTN_SCREENSHOT_DIR). They read back what
// the screen shows and click on it, so they run on a display of their own: VTN_OWN_DISPLAY
#include <cstring>
#include <ctime>

#include "layouttest.h"
#include "tasktest.h"

namespace {

// The dark, grey-to-black pixels of a widget as the screen shows it (a text drawn in black):
// how many, the darkest luminance (0 black, 255 white) and how many pixel rows they span.
struct SInk {
    int pixels = 0;
    int darkest = 255;
    int rows = 0;
};

SInk InkOf(GtkWidget* widget)
{
    SInk ink;
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gtk_widget_get_window(top), x, y, gtk_widget_get_allocated_width(widget),
                                                 gtk_widget_get_allocated_height(widget));
    if (shot == nullptr)
        return ink;
    const int n = gdk_pixbuf_get_n_channels(shot), stride = gdk_pixbuf_get_rowstride(shot);
    const guchar* data = gdk_pixbuf_get_pixels(shot);
    int first = -1, last = -1;
    for (int r = 0; r < gdk_pixbuf_get_height(shot); ++r)
        for (int c = 0; c < gdk_pixbuf_get_width(shot); ++c) {
            const guchar* p = data + r * stride + c * n;
            const int lum = (p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000;
            const int spread = std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
            if (spread > 40 || lum >= 100)
                continue;
            ++ink.pixels;
            ink.darkest = std::min(ink.darkest, lum);
            if (first < 0)
                first = r;
            last = r;
        }
    ink.rows = first < 0 ? 0 : last - first + 1;
    g_object_unref(shot);
    return ink;
}

class ViewLayout : public LayoutTest {
protected:
    void TearDown() override
    {
        LayoutTest::TearDown();
        memset(&TaskSch, 0, sizeof TaskSch);
    }

    // The Icon View: its 25 rows and their long descriptions reachable; pictures at the start,
    // at the end of the descriptions and at the last row.
    void LookAtIconView(const std::string& shot)
    {
        IconView();
        GtkWidget* list = window_->pIconList;
        ASSERT_NE(list, nullptr);
        GtkWidget* scrolled = ScrolledOf(list);
        ExpectShot(window_->pWindow, shot + ".png");
        EXPECT_EQ(ColumnListRows(list), 25);
        EXPECT_EQ(CutTexts(list), std::vector<std::string>{});
        EXPECT_EQ(Unreachable(scrolled), "");
        ScrollToEnd(scrolled, GTK_ORIENTATION_HORIZONTAL);
        ExpectShot(window_->pWindow, shot + "-right.png");
        ScrollToEnd(scrolled, GTK_ORIENTATION_VERTICAL);
        ExpectShot(window_->pWindow, shot + "-bottom.png");
    }

    // A task on each array named (verify and rebuild in turn), with a name as long as the task
    // dialog takes.
    void AddTasks(const std::vector<std::string>& arrays)
    {
        uint8_t kind = VTN_TASK_VERIFY;
        for (const std::string& name : arrays) {
            _VTN_TASK_INFO t{};
            t.arrayId = GetRAIDID(name.c_str());
            const std::string task = (kind == VTN_TASK_VERIFY ? "Verify " : "Rebuild ") + name + " every night at 2";
            CopyText(t.name, task.substr(0, 31).c_str());
            CopyText(t.arrayName, name.c_str());
            CopyText(t.creator, kDefaultUser);
            t.kind = kind | VTN_TASK_DAYS | VTN_TASK_ENABLED;
            t.start = ConvertTimeT(time(nullptr) + 86400);
            t.end = TimeRecordFromValue(0xFFFFFFFFu);
            t.schedule.days = 1;
            ASSERT_EQ(cs_vtn_set_task(handle, &t, VTN_TASK_ACTION_ADD), 0) << task;
            kind = kind == VTN_TASK_VERIFY ? VTN_TASK_REBUILD : VTN_TASK_VERIFY;
        }
        tasks_ = arrays.size();
    }

    // The task list: the window at its size, every cell readable; pictures as it opens and
    // scrolled to its right end.
    void LookAtTaskList(const std::string& shot)
    {
        CopyText(NewSys.szUserName, kDefaultUser);
        Responder r({{"Task Management", "Exit", [&](GtkWidget* w) {
                          GtkWidget* list = TaskSch.pTaskList;
                          ExpectShot(w, shot + ".png");
                          EXPECT_EQ(TaskRows().size(), tasks_);
                          EXPECT_EQ(WindowSize(w), (std::pair<int, int>{480, 320}));
                          EXPECT_EQ(CutTexts(list), std::vector<std::string>{});
                          EXPECT_EQ(Unreachable(ScrolledOf(list)), "");
                          ScrollToEnd(ScrolledOf(list), GTK_ORIENTATION_HORIZONTAL);
                          ExpectShot(w, shot + "-right.png");
                      }}});
        TaskManagement();
        EXPECT_TRUE(r.Done());
    }

    // The page of a busy array: the percentage on its bar in black, at least 9 pixels high.
    void LookAtProgress(const std::string& array, const std::string& shot)
    {
        // Room for the whole page, all of it on the screen (what lies outside reads back black).
        gtk_window_move(GTK_WINDOW(window_->pWindow), 0, 0);
        gtk_window_resize(GTK_WINDOW(window_->pWindow), 1250, 960);
        ASSERT_TRUE(PumpUntil([this] { return gtk_widget_get_allocated_width(window_->pWindow) == 1250; }));
        window_->FreshTree();
        ASSERT_TRUE(SelectLabel(window_->pArrayTree, array));
        GtkWidget* bar = Logical()->pProgressBar;
        ASSERT_TRUE(PumpUntil([bar] { return gtk_widget_get_mapped(bar); })) << "no progress bar";
        const std::string percent = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(bar));
        EXPECT_TRUE(percent.size() >= 2 && percent.back() == '%') << percent;
        ExpectShot(window_->pWindow, shot);
        const SInk ink = InkOf(bar);
        EXPECT_GT(ink.pixels, 20) << "no dark text on the bar";
        EXPECT_LE(ink.darkest, 60);
        EXPECT_GE(ink.rows, 9) << "the percentage is too small";
    }

    size_t tasks_ = 0;
};

TEST_F(ViewLayout, IconViewOnTheDemo)
{
    StartOnDemo();
    LookAtIconView("icon-view-demo");
}

TEST_F(ViewLayout, IconViewBesideSixBrokenMirrors)
{
    StartOnSixBroken();
    LookAtIconView("icon-view-six");
}

TEST_F(ViewLayout, TaskListOnTheDemo)
{
    StartOnDemo();
    AddTasks({"Mirror", "Parity"});
    LookAtTaskList("task-list-demo");
}

TEST_F(ViewLayout, TaskListBesideSixBrokenMirrors)
{
    StartOnSixBroken([](SimScene& s) {
        s.Mirror("Whole");
        s.Members("Parity", VTN_RAID5, 3);
    });
    AddTasks({"Whole", "Parity"});
    LookAtTaskList("task-list-six");
}

TEST_F(ViewLayout, ProgressOnTheDemo)
{
    StartOnDemo();
    const uint32_t mirror = Array("Mirror")["id"];
    ASSERT_EQ(cs_vtn_set_array_state(handle, mirror, VTN_STATE_START_VERIFY), 0);
    ASSERT_EQ(server_.Sim({"progress", std::to_string(mirror), "37"}), 0);
    LookAtProgress("Mirror", "page-progress-demo.png");
}

// A disk put in for the sixth mirror's lost member, and its rebuild at 37 percent.
TEST_F(ViewLayout, ProgressBesideSixBrokenMirrors)
{
    StartOnSixBroken([](SimScene& s) { s.Disk("New disk", 80); });
    const uint32_t mirror = Array("Mirror6")["id"];
    ASSERT_EQ(cs_vtn_add_disk_to_array(handle, mirror, DiskId("New disk")), 0);
    ASSERT_EQ(cs_vtn_set_array_state(handle, mirror, VTN_STATE_START_REBUILD), 0);
    ASSERT_EQ(server_.Sim({"progress", std::to_string(mirror), "37"}), 0);
    LookAtProgress("Mirror6", "page-progress-six.png");
}

}  // namespace
