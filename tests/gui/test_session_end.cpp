// The end of a session against the real vtnsvr: a broken connection (the server killed), a logout
// and a login to another system while dialogs of the session are open. Every window of the session
// goes, a question of theirs counts as Cancel and sends nothing, and only the main window (with the
// box of a break) stays. Clicks come from the X server (VTN_OWN_DISPLAY: the pointer is this
// program's alone); pictures of what stays for a person to look at (VTN_SCREENSHOT_DIR).
#include <algorithm>
#include <string>
#include <vector>

#include "dialogs/signfunc1.h"
#include "dialogs/signfunc1_task.h"
#include "dialogs/signfunc_users.h"
#include "drivergui_list.h"
#include "serverfixture.h"

namespace {

constexpr uint32_t kAllRights = 0xFFFFFFFFu;

// Acts on the windows as they come: a step waits until a window of its title that no step acted on
// yet holds the input grab, then runs its action from an idle (an action that opens a modal window
// waits in it, as a click does) and the next step waits for its own window. After the last step a
// window that takes the grab fails the test and is closed. The watchdog fails the test when a step
// is not reached, or the steps are not over, in time, and closes every window but the main one.
class Steps {
public:
    struct Step {
        std::string title;
        std::function<void(GtkWidget* window)> act;
    };

    explicit Steps(std::vector<Step> steps, int watchdogMs = 30000) : steps_(std::move(steps))
    {
        poll_ = g_timeout_add(20, Poll, this);
        watchdog_ = g_timeout_add(static_cast<unsigned>(watchdogMs), Watchdog, this);
    }
    ~Steps()
    {
        for (unsigned int id : {poll_, watchdog_, idle_})
            if (id)
                g_source_remove(id);
        for (GtkWidget* w : seen_)
            g_object_unref(w);
    }
    Steps(const Steps&) = delete;
    Steps& operator=(const Steps&) = delete;

    bool Done() const { return next_ >= steps_.size() && idle_ == 0; }

private:
    static gboolean Poll(gpointer p)
    {
        auto* self = static_cast<Steps*>(p);
        if (self->idle_)
            return G_SOURCE_CONTINUE;
        GtkWidget* grab = gtk_grab_get_current();
        GtkWidget* top = grab ? gtk_widget_get_toplevel(grab) : nullptr;
        if (top == nullptr || !GTK_IS_WINDOW(top) || !gtk_widget_get_mapped(top) ||
            gtk_widget_get_allocated_width(top) <= 1 ||
            std::find(self->seen_.begin(), self->seen_.end(), top) != self->seen_.end())
            return G_SOURCE_CONTINUE;
        const char* t = gtk_window_get_title(GTK_WINDOW(top));
        const std::string title = t ? t : "";
        if (self->next_ >= self->steps_.size()) {
            ADD_FAILURE() << "a window after the last step: \"" << title << "\"";
            self->Remember(top);
            gtk_widget_destroy(top);
            return G_SOURCE_CONTINUE;
        }
        if (title != self->steps_[self->next_].title)
            return G_SOURCE_CONTINUE;
        self->Remember(top);
        self->window_ = top;
        self->idle_ = g_idle_add(Act, self);
        return G_SOURCE_CONTINUE;
    }

    // Held, so that a window made later at the same address is not taken for it.
    void Remember(GtkWidget* w) { seen_.push_back(GTK_WIDGET(g_object_ref(w))); }

    static gboolean Act(gpointer p)
    {
        auto* self = static_cast<Steps*>(p);
        self->idle_ = 0;
        const Step step = self->steps_[self->next_++];
        step.act(self->window_);
        return G_SOURCE_REMOVE;
    }

    static gboolean Watchdog(gpointer p)
    {
        auto* self = static_cast<Steps*>(p);
        self->watchdog_ = 0;
        std::string shown;
        for (GtkWidget* w : TopWindows()) {
            const char* t = gtk_window_get_title(GTK_WINDOW(w));
            auto labels = FindWidgets(w, [](GtkWidget* x) { return GTK_IS_LABEL(x); });
            shown += std::string(" [") + (t ? t : "") + ": " +
                     (labels.empty() ? "" : gtk_label_get_text(GTK_LABEL(labels.front()))) + "]";
        }
        if (self->next_ < self->steps_.size())
            ADD_FAILURE() << "watchdog: step \"" << self->steps_[self->next_].title
                          << "\" not reached; shown:" << shown;
        else
            ADD_FAILURE() << "watchdog: still open after the last step:" << shown;
        self->next_ = self->steps_.size();
        CMainWindow* main = GetMainWindow();
        for (GtkWidget* w : TopWindows())
            if (main == nullptr || w != main->pWindow)
                gtk_widget_destroy(w);
        return G_SOURCE_REMOVE;
    }

    std::vector<Step> steps_;
    size_t next_ = 0;
    std::vector<GtkWidget*> seen_;
    GtkWidget* window_ = nullptr;
    unsigned int poll_ = 0, watchdog_ = 0, idle_ = 0;
};

using Step = Steps::Step;

GtkWidget* ButtonIn(GtkWidget* window, const std::string& caption)
{
    GtkWidget* button = FindButton(window, caption);
    EXPECT_NE(button, nullptr) << "no button \"" << caption << "\"";
    return button;
}

// A step that clicks a button of its window.
Step Click(const std::string& title, const std::string& caption)
{
    return {title, [caption](GtkWidget* w) {
                if (GtkWidget* b = ButtonIn(w, caption))
                    ClickWidget(b);
            }};
}

// Chooses item of the menu-bar branch with clicks; a window it opens waits as for a user.
void ChooseMenu(const char* branch, const char* item)
{
    CMainWindow* win = GetMainWindow();
    ClickWidget(win->MenuItem(branch));
    GtkWidget* menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(win->MenuItem(branch)));
    ASSERT_TRUE(gtk_widget_get_mapped(menu)) << branch;
    // A release that comes at once after the menu opened may be taken for the opening click's.
    for (int i = 0; i < 3 && gtk_widget_get_mapped(menu); ++i)
        ClickWidget(win->MenuItem(item));
}

// The windows on the screen, by title.
std::vector<std::string> Shown()
{
    std::vector<std::string> out;
    for (GtkWidget* w : TopWindows()) {
        const char* t = gtk_window_get_title(GTK_WINDOW(w));
        out.push_back(t ? t : "");
    }
    std::sort(out.begin(), out.end());
    return out;
}

const char* const kMainTitle = "Vorathine RAID Management Software";

// Dialogs of the session, opened from the main window as a user opens them: the first window comes
// from open, the steps open the rest; top is the title of the last one.
struct Stack {
    const char* what;
    std::function<void()> open;
    std::vector<Step> steps;
    const char* top;
};

std::vector<Stack> Stacks()
{
    auto users = [] { ChooseMenu("/File", "/File/User Management"); };
    auto tasks = [] { ChooseMenu("/Management", "/Management/Task Schedule Management"); };
    auto mail = [](int button) {
        return [button] {
            ChooseMenu("/Management", "/Management/Event Notification");
            ClickWidget(EventNotiToolbar[button].button);
        };
    };
    auto pickVictim = [](GtkWidget*) {
        for (int r = 0; r < ColumnListRows(UserMan.pUserList); ++r)
            if (ColumnListText(UserMan.pUserList, r, 0) == "victim")
                ColumnListSelectRow(UserMan.pUserList, r);
        ASSERT_STREQ(UserMan.SelUser.name, "victim");
    };
    auto then = [](std::function<void(GtkWidget*)> first, std::string caption) {
        return [first, caption](GtkWidget* w) {
            first(w);
            if (GtkWidget* b = ButtonIn(w, caption))
                ClickWidget(b);
        };
    };
    return {
        {"users_add", users, {Click("User Management", "Add")}, "Add New User"},
        {"users_add_privilege", users, {Click("User Management", "Add"), Click("Add New User", "Privilege")},
         "User Privilege View"},
        {"users_password", users, {{"User Management", then(pickVictim, "Password")}}, "Please enter new password"},
        {"users_delete_question", users, {{"User Management", then(pickVictim, "Delete")}}, "Warning"},
        {"task_wizard_page1", tasks,
         {{"Task Management", [](GtkWidget*) { ClickWidget(TaskManageToolbar[0].button); }}},
         "New task schedule wizard"},
        {"task_wizard_page2", tasks,
         {{"Task Management", [](GtkWidget*) { ClickWidget(TaskManageToolbar[0].button); }},
          Click("New task schedule wizard", "Next>>")},
         "New task schedule wizard"},
        {"mail_setting", mail(0), {}, "E-mail notification setting"},
        {"mail_add_recipient", mail(1), {}, "Add recipient"},
        {"configuration_question",
         [] { ChooseMenu("/File", "/File/System Configuration"); },
         {{"System Configuration",
           [](GtkWidget* w) {
               gtk_entry_set_text(GTK_ENTRY(SysConfig.pSystemPortEntry), "7999");
               if (GtkWidget* b = ButtonIn(w, "OK"))
                   ClickWidget(b);
           }}},
         "Confirmation"},
    };
}

// How the session ends while the top window of a stack is open.
enum class End { Break, Logout, OtherSystem };

class SessionEnd : public ServerGuiTest {
protected:
    void StartSystems()
    {
        const std::string users = raw::UserLine("RAID", "wqx", kAllRights) +
                                  raw::UserLine("admin", "secret1", kAllRights) + raw::UserLine("victim", "pw", 0);
        ASSERT_TRUE(StartServer(users, "demo"));
        WriteRows();
        win_ = StartMainWindow();
    }
    // The server twice in the systems list: by address and by name, two systems to the window.
    void WriteRows()
    {
        const std::string port = std::to_string(server_->Port());
        ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log",
                                         "127.0.0.1\tlocal\t" + port + "\nlocalhost\tother\t" + port + "\n"));
    }
    // The killed server started again (on the same ports when it can), and the list told its port.
    void Restart()
    {
        ASSERT_TRUE(static_cast<raw::TestServer&>(*server_).Start());
        for (int row = 0; row < 2; ++row)
            ColumnListSetText(win_->pSysList, row, 2, std::to_string(server_->Port()).c_str());
        SaveSystem(win_->pSysList);
    }

    // The steps of an end, to follow those that open a stack: the first acts on its top window.
    std::vector<Step> Ending(End end, const std::string& picture)
    {
        switch (end) {
        case End::Break:
            return {{"", [this](GtkWidget*) { server_->Kill(); }},
                    {"Error", [picture](GtkWidget* box) {
                         // Nothing of the session under the box, and the box answers.
                         EXPECT_EQ(Shown(), (std::vector<std::string>{"Error", kMainTitle}));
                         ExpectScreenShot(picture);
                         if (GtkWidget* ok = ButtonIn(box, "OK"))
                             ClickWidget(ok);
                     }}};
        case End::Logout:
            return {{"", [](GtkWidget*) { EXPECT_TRUE(LogoutSystem()); }}, Click("Confirmation", "OK")};
        case End::OtherSystem:
            return {{"",
                     [this](GtkWidget*) {
                         // The row not connected now.
                         other_ = ColumnListText(win_->pSysList, 0, 3) == "Connected" ? 1 : 0;
                         ColumnListSelectRow(win_->pSysList, other_);
                         LogSystem();
                     }},
                    Click("Confirmation", "OK"),
                    {"Login Form", [this](GtkWidget* form) {
                         EXPECT_TRUE(WaitServerFree());
                         Fill("admin", "secret1")(form);
                         if (GtkWidget* ok = ButtonIn(form, "OK"))
                             ClickWidget(ok);
                     }}};
        }
        return {};
    }

    // The stack opened, the session ended from its top window; then what stays and what was sent.
    void EndWith(const Stack& s, End end, const std::string& picture)
    {
        SCOPED_TRACE(s.what);
        const std::string users = ReadFileText(root_.Path("/etc/vtnuser.dat"));
        const std::string ini = ReadFileText(root_.Path("/etc/vtn.ini"));
        std::vector<Step> steps = s.steps;
        std::vector<Step> ending = Ending(end, picture);
        ending.front().title = s.top;  // the end comes while the top window is open
        steps.insert(steps.end(), ending.begin(), ending.end());
        {
            Steps driver(steps);
            s.open();
            EXPECT_TRUE(PumpUntil([&] { return driver.Done(); }, 30000));
        }
        EXPECT_EQ(Shown(), std::vector<std::string>{kMainTitle});
        // A question that was waiting counted as Cancel: nothing was changed.
        EXPECT_EQ(ReadFileText(root_.Path("/etc/vtnuser.dat")), users);
        EXPECT_EQ(ReadFileText(root_.Path("/etc/vtn.ini")), ini);
        EXPECT_EQ(UserMan.pUserList, nullptr);
        EXPECT_EQ(TaskSch.pTaskList, nullptr);
    }

    // Logged in as admin on the row of the other system.
    void ExpectOnOtherSystem()
    {
        ASSERT_GE(other_, 0);
        EXPECT_GE(handle, 0);
        EXPECT_STREQ(NewSys.szUserName, "admin");
        EXPECT_EQ(ColumnListText(win_->pSysList, other_, 3), "Connected");
        EXPECT_EQ(ColumnListText(win_->pSysList, 1 - other_, 3), "Disconnected");
        EXPECT_EQ(StatusText(), std::string("Connected OS: ") + NewSys.szOSName + " System '" +
                                    ColumnListText(win_->pSysList, other_, 0) + "' connected");
    }

    CMainWindow* win_ = nullptr;
    int other_ = -1;  // the row of the other system's login
};

TEST_F(SessionEnd, TheLoginsPasswordDialogGoesWithItsSession)
{
    StartSystems();
    // Logged in with the default password: its warning, then the dialog of one's own password.
    const Stack login{"login_password",
                      [this] {
                          ColumnListSelectRow(win_->pSysList, 0);
                          ASSERT_TRUE(WaitServerFree());
                          ClickWidget(RemoteConToolbar[3].button);
                      },
                      {{"Login Form",
                        [](GtkWidget* form) {
                            Fill(kDefaultUser, kDefaultPassword)(form);
                            if (GtkWidget* ok = ButtonIn(form, "OK"))
                                ClickWidget(ok);
                        }},
                       Click("Warning", "OK")},
                      "Please enter new password"};
    for (End end : {End::Break, End::Logout, End::OtherSystem}) {
        EndWith(login, end, "session_break_login_password.png");
        if (end == End::Break) {
            EXPECT_LT(handle, 0);
            Restart();
        } else if (end == End::Logout) {
            EXPECT_EQ(handle, -1);
            EXPECT_EQ(StatusText(), "No system connected");
        } else {
            // The new login stands; the one it replaced went no further.
            ExpectOnOtherSystem();
            LogOut();
        }
        EXPECT_EQ(NewSys.pDialog, nullptr);
        EXPECT_EQ(SetPass.pOldEntry, nullptr);
    }
}

TEST_F(SessionEnd, ABrokenConnectionLeavesOnlyTheMainWindowAndItsBox)
{
    StartSystems();
    for (const Stack& s : Stacks()) {
        LogInAs("admin", "secret1");
        ASSERT_TRUE(win_->bLoggedIn);
        EndWith(s, End::Break, std::string("session_break_") + s.what + ".png");
        EXPECT_LT(handle, 0);
        EXPECT_FALSE(win_->bLoggedIn);
        EXPECT_STREQ(win_->szCurrForm, "Remote Control");
        // The main window takes clicks again: Connect opens the login form.
        ColumnListSelectRow(win_->pSysList, 0);
        Answering({{"Login Form", "Cancel"}}, [] { ClickWidget(RemoteConToolbar[3].button); });
        Restart();
    }
}

TEST_F(SessionEnd, ALogoutLeavesOnlyTheMainWindow)
{
    StartSystems();
    for (const Stack& s : Stacks()) {
        LogInAs("admin", "secret1");
        ASSERT_TRUE(win_->bLoggedIn);
        EndWith(s, End::Logout, "");
        EXPECT_EQ(handle, -1);
        EXPECT_FALSE(win_->bLoggedIn);
    }
    ExpectScreenShot("session_logout.png");
}

TEST_F(SessionEnd, ALoginToAnotherSystemLeavesOnlyTheMainWindow)
{
    StartSystems();
    LogInAs("admin", "secret1");
    for (const Stack& s : Stacks()) {
        ASSERT_TRUE(win_->bLoggedIn);
        EndWith(s, End::OtherSystem, "");
        ExpectOnOtherSystem();
    }
    ExpectScreenShot("session_other_system.png");
    LogOut();
}

}  // namespace
