// Pictures for a person to look at: the Event View with rows of every severity, the three system
// dialogs and the file dialog of the export (set VTN_SCREENSHOT_DIR to keep them). They read back
// what the screen shows, so they run on a display of their own: VTN_OWN_DISPLAY
#include <string>

#include "drivergui_list.h"
#include "harness.h"
#include "signfunc.h"

namespace {

using LoginScreens = GuiTest;

TEST_F(LoginScreens, EventViewWithEverySeverity)
{
    CMainWindow* win = StartMainWindow();
    gtk_window_resize(GTK_WINDOW(win->pWindow), 760, 420);
    EventView();
    const struct {
        char severity;
        const char* time;
        const char* text;
    } rows[] = {
        {'I', "03/07/2025 14:05:09", "User admin(from 127.0.0.1) logged on system."},
        {'W', "03/07/2025 14:06:12", "Plugging disk detected.(Controller1-Channel3-Device1)"},
        {'E', "03/07/2025 14:07:40", "Disk at Controller1-Channel4-Device1 failed."},
        {'I', "03/07/2025 14:08:02", "Array 'Mirror' rebuilding started."},
        {'W', "03/07/2025 14:09:55", "Array 'Parity' verifying aborted."},
        {'E', "03/07/2025 14:10:31", "Disk at Controller2-Channel1-Device1 failed."},
        {'I', "03/07/2025 14:12:47", "Array 'Mirror' rebuilding completed."},
        {'I', "03/07/2025 14:13:00", "Bytes that are no UTF-8: caf\xe9."},
    };
    for (const auto& r : rows)
        AddToClist(r.severity, r.time, r.text);
    ASSERT_EQ(win->nLogRows, 8);
    ExpectShot(win->pWindow, "event-view.png");
}

TEST_F(LoginScreens, SystemDialogsAndTheFileDialog)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "192.168.10.20\tstorage-1\t7402\n"));
    CMainWindow* win = StartMainWindow();
    const struct {
        void (*open)();
        const char* title;
        const char* file;
    } shots[] = {{NewSystem, "Add a new system", "dialog-add-system.png"},
                 {ModSystem, "Modify the system", "dialog-modify-system.png"},
                 {LogSystem, "Login Form", "dialog-login.png"}};
    for (const auto& s : shots) {
        const std::string path = ScreenshotPath(s.file);
        Responder r(std::vector<Answer>{{s.title, "Cancel", [path](GtkWidget* w) {
                                             if (NewSys.pPasswordEntry)
                                                 gtk_entry_set_text(GTK_ENTRY(NewSys.pPasswordEntry), "secret");
                                             EXPECT_TRUE(SaveWidgetPng(w, path));
                                         }}});
        s.open();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_FALSE(ReadFileText(path).empty()) << s.file;
    }
    EventView();
    const std::string path = ScreenshotPath("dialog-export.png");
    Responder r(std::vector<Answer>{{"File selection", "Cancel", [path](GtkWidget* w) { SaveWidgetPng(w, path); }}});
    SaveLog();
    ASSERT_TRUE(r.WaitDone());
    EXPECT_TRUE(PumpUntil([win] { return win->pFileSel == nullptr; }));
    EXPECT_FALSE(ReadFileText(path).empty());
}

}  // namespace
