// The icon legend of the Icon View form, the About box, and the browser started for the help pages
// and the web site: a fake "rudevoz" on the search path reports its arguments and descriptors.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "dialogs/signfunc1.h"
#include "drivergui_list.h"
#include "harness.h"
#include "xpm_data.h"

namespace {

constexpr const char* kHelpMissing =
    "Can NOT find a Web browser to view the help!\nTo view help, please make the symbol link\n /usr/bin/rudevoz to "
    "your browser manually.";
constexpr const char* kSiteMissing =
    "Can NOT find a Web browser! Please make the \nsymbol link /usr/bin/rudevoz to your browser manually.";

// The lines a browser wrote.
std::vector<std::string> Report(const std::string& path)
{
    std::istringstream text(ReadFileText(path));
    std::vector<std::string> out;
    for (std::string line; std::getline(text, line);)
        out.push_back(line);
    return out;
}

using Legend = GuiTest;

TEST_F(Legend, TwentyFiveRowsOfPictureAndText)
{
    const struct {
        const char** icon;
        int size;
        const char* text;
    } rows[] = {
        {xpm_d_Array_0, 24, "RAID 0. Increases system performance by striping data across hard disks."},
        {xpm_d_Array_1, 24, "RAID 1. Provides data protection by mirroring data from one disk to another."},
        {xpm_d_Array_JBOD, 24,
         "JBOD. Provides increased storage capacity by combining two or more disks into one virtual hard disk."},
        {xpm_d_Array_5, 24, "RAID 5 Provides data protection and increased performance by stripped data and parity."},
        {xpm_d_Array_01, 24,
         "RAID 0/1. Provides data protection and increased performance by building mirrored striping sets."},
        {xpm_d_Array_10, 24,
         "RAID 1/0. Provides data protection and increased performance by building stripped mirroring sets."},
        {xpm_d_Disk, 24, "ATA Hard disk. It can be linked as master or slave device to a channel."},
        {xpm_d_Cdrom, 24, "CDROM. The linked device is a cdrom."},
        {xpm_d_Tape, 24, "TAPE.  The linked device is a TAPE."},
        {xpm_d_Hotplug, 24, "Mobile Rack. Provides convenience of hot plugging."},
        {xpm_d_Unknown, 32, "Unknown Device. This device type can't be determined."},
        {xpm_d_host, 24, "System. Represents the connected system."},
        {xpm_d_Status_Error, 12, "Indicates a device or an array is disabled."},
        {xpm_d_Status_Critical, 12, "Indicates an array is critical."},
        {xpm_d_SpareMark, 12, "Indicates a device is a spare disk."},
        {xpm_d_Status_Bootable, 12, "Indicates a device or an array is bootable."},
        {xpm_d_Status_Locked, 12, "Indicates an array need rebuilding."},
        {xpm_d_Status_Creating, 12, "Indicateds an array is being rebuilt or duplicated."},
        {xpm_d_Status_Verify, 12, "Indicates an array is being verified."},
        {xpm_d_Status_InitRaid5, 12, "Indicates a RAID 5 Array is being initialized."},
        {xpm_d_Adapter, 24, "Vorathine ATA RAID Controller."},
        {xpm_d_Channel, 24, "ATA Channel. Each channel can be linked with two ATA devices."},
        {xpm_d_Event_Normal_small, 24, "Information. Normal events will be shown with this icon."},
        {xpm_d_Event_Warning_small, 24, "Warning. Some critical events will be shown with this icon."},
        {xpm_d_Event_Error_small, 24, "Error. Serious error events will be shown with this icon."},
    };
    CMainWindow* win = StartMainWindow();
    IconView();
    GtkWidget* list = win->pIconList;
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(ColumnListRows(list), 25);
    for (int i = 0; i < 25; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ColumnListText(list, i, 0), "");
        EXPECT_EQ(ColumnListPixbuf(list, i, 1), nullptr);
        GdkPixbuf* picture = ColumnListPixbuf(list, i, 0);
        EXPECT_EQ(picture, XpmPixbuf(rows[i].icon));
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_height(picture), rows[i].size);
        EXPECT_EQ(ColumnListText(list, i, 1), rows[i].text);
    }
    // Shown again, the form keeps its rows.
    RemoteControl();
    IconView();
    EXPECT_EQ(ColumnListRows(list), 25);
}

// ---- the browser -------------------------------------------------------------------------------

class Browser : public GuiTest {
protected:
    void SetUp() override
    {
        GuiTest::SetUp();
        oldPath_ = getenv("PATH") ? getenv("PATH") : "";
        bin_ = root_.Path("/fakebin");
        out_ = root_.Path("/browser");
        ASSERT_EQ(mkdir(bin_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(out_.c_str(), 0755), 0);
    }
    void TearDown() override
    {
        // Every browser started is collected before the test ends.
        EXPECT_TRUE(PumpUntil([] { return BrowserChildren() == 0; }, 20000));
        setenv("PATH", oldPath_.c_str(), 1);
        GuiTest::TearDown();
    }

    // "/usr/bin/rudevoz" made (its content does not matter), and "rudevoz" on the search path
    // when onPath: a script that writes its arguments and open descriptors to a file of its own.
    void InstallBrowser(bool onPath)
    {
        ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/rudevoz", "link\n"));
        if (!onPath)
            return;
        script_ = bin_ + "/rudevoz";
        const std::string text = "#!/bin/sh\n"
                                 "exec >\"" + out_ + "/.$$\"\n"
                                 "echo \"args=$#\"\n"
                                 "for a in \"$@\"; do echo \"arg=$a\"; done\n"
                                 "find /proc/$$/fd -mindepth 1 -printf 'fd=%f %l\\n'\n"
                                 "mv \"" + out_ + "/.$$\" \"" + out_ + "/$$\"\n";
        ASSERT_TRUE(WriteFileText(script_, text));
        ASSERT_EQ(chmod(script_.c_str(), 0755), 0);
        setenv("PATH", (bin_ + ":" + oldPath_).c_str(), 1);
    }

    // What the browsers wrote, once count of them ended.
    std::vector<std::vector<std::string>> Reports(size_t count)
    {
        std::vector<std::vector<std::string>> out;
        PumpUntil([&] {
            out.clear();
            if (DIR* dir = opendir(out_.c_str())) {
                while (dirent* e = readdir(dir))
                    if (e->d_name[0] != '.')  // a report still being written starts with a dot
                        out.push_back(Report(out_ + "/" + e->d_name));
                closedir(dir);
            }
            return out.size() >= count && BrowserChildren() == 0;
        }, 20000);
        return out;
    }

    // The descriptors above 2 that a report shows, other than the script the shell reads.
    std::vector<std::string> Inherited(const std::vector<std::string>& report) const
    {
        std::vector<std::string> out;
        for (const std::string& line : report)
            if (line.rfind("fd=", 0) == 0) {
                const int fd = atoi(line.c_str() + 3);
                if (fd > 2 && line.substr(line.find(' ') + 1) != script_)
                    out.push_back(line);
            }
        return out;
    }

    std::string oldPath_, bin_, out_, script_;
};

TEST_F(Browser, HelpTopicsStartTheBrowserWithThePageAndNothingOfTheGui)
{
    StartMainWindow();
    InstallBrowser(true);
    // Descriptors the GUI holds without close-on-exec: a socket (as a server connection is) and a file.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const int file = open(root_.Path("/usr/bin/rudevoz").c_str(), O_RDONLY);
    ASSERT_GE(file, 0);
    HelpTop();
    HelpTop();  // twice: two browsers
    auto reports = Reports(2);
    close(pair[0]);
    close(pair[1]);
    close(file);
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& report : reports) {
        ASSERT_GE(report.size(), 2u);
        EXPECT_EQ(report[0], "args=1");
        EXPECT_EQ(report[1], "arg=file:///usr/share/doc/vtnraid/index.htm");
        EXPECT_EQ(Inherited(report), std::vector<std::string>{});
    }
    int status = -1;
    EXPECT_EQ(BrowserChildren(&status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(TopWindows("Warning").empty());
}

TEST_F(Browser, ALinkWithoutABrowserOnThePathStartsNothingAndSaysNothing)
{
    StartMainWindow();
    InstallBrowser(false);
    HelpTop();
    EXPECT_TRUE(PumpUntil([] { return BrowserChildren() == 0; }, 20000));
    int status = -1;
    BrowserChildren(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 127) << status;
    PumpFor(100);
    EXPECT_EQ(TopWindows().size(), 1u) << "only the main window";
}

TEST_F(Browser, WithoutTheLinkAWarning)
{
    StartMainWindow();
    int before = -1;
    BrowserChildren(&before);
    const struct {
        void (*open)();
        const char* text;
    } cases[] = {{HelpTop, kHelpMissing}, {[] { aboutHelp(nullptr, nullptr); }, kSiteMissing}};
    for (const auto& c : cases) {
        Responder r(std::vector<Answer>{{"Warning", "OK"}});
        c.open();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(r.Seen()[0].labels.front(), c.text);
    }
    int after = -1;
    EXPECT_EQ(BrowserChildren(&after), 0);
    EXPECT_EQ(after, before) << "nothing was started";
}

TEST_F(Browser, AboutBoxAndItsLink)
{
    StartMainWindow();
    InstallBrowser(true);
    Responder r({{"About", "OK",
                  [](GtkWidget* w) {
                      auto boxes = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_EVENT_BOX(x); });
                      ASSERT_EQ(boxes.size(), 1u);
                      GtkWidget* link = boxes.front();
                      EXPECT_TRUE(gtk_widget_get_events(link) & GDK_BUTTON_PRESS_MASK);
                      GdkCursor* cursor = gdk_window_get_cursor(gtk_widget_get_window(link));
                      ASSERT_NE(cursor, nullptr);
                      EXPECT_EQ(gdk_cursor_get_cursor_type(cursor), GDK_HAND2);
                      GtkWidget* label = gtk_bin_get_child(GTK_BIN(link));
                      EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), kWebSite);
                      const std::string markup = gtk_label_get_label(GTK_LABEL(label));
                      EXPECT_NE(markup.find("foreground=\"#0000FF\""), std::string::npos) << markup;
                      EXPECT_NE(markup.find("underline=\"single\""), std::string::npos) << markup;
                      // A press on the link starts the browser with the site, and the press goes on.
                      GdkEvent* press = gdk_event_new(GDK_BUTTON_PRESS);
                      press->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(link)));
                      press->button.button = 1;
                      gboolean handled = TRUE;
                      g_signal_emit_by_name(link, "button-press-event", press, &handled);
                      gdk_event_free(press);
                      EXPECT_FALSE(handled);
                  }},
                 {"About", ""}});
    AboutBox();  // the first OK
    AboutBox();  // closed with its close box
    ASSERT_TRUE(r.WaitDone());
    const SeenWindow& about = r.Seen()[0];
    EXPECT_EQ(about.width, 360);
    EXPECT_EQ(about.height, 200);
    EXPECT_EQ(about.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(about.labels, (std::vector<std::string>{"Vorathine RAID Management Software", "Version v3.06",
                                                      "Web Site", kWebSite, "    OK    "}));
    EXPECT_EQ(about.images, std::vector<GdkPixbuf*>{XpmPixbuf(xpm_d_Yes)});
    auto reports = Reports(1);
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_GE(reports[0].size(), 2u);
    EXPECT_EQ(reports[0][0], "args=1");
    EXPECT_EQ(reports[0][1], std::string("arg=") + kWebSite);
}

}  // namespace
