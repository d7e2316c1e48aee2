// Login and logout through the GUI's own routines against the real vtnsvr on a simulated
// controller: the login table, the question of the logout, a server that dies while logged in
// (idle, and during the login's default-password warning), the rights gating per user, and the
// system dialogs while a system is connected.
#include <cstring>
#include <string>
#include <vector>

#include "drivergui_list.h"
#include "serverfixture.h"

namespace {

constexpr uint32_t kAllRights = 0xFFFFFFFFu;

// What the gating turns off while nobody is logged in.
const char* const kLoggedOutOff[] = {"/Management",    "/View",         "/File/System Configuration",
                                     "/File/User Management", "/File/Password", "/Management/Event Notification"};

std::string Users()
{
    return raw::UserLine("RAID", "wqx", kAllRights) + raw::UserLine("admin", "secret1", kAllRights);
}

using Login = ServerGuiTest;

TEST_F(Login, LoginTable)
{
    ASSERT_TRUE(StartServer(Users()));
    CMainWindow* win = StartMainWindow();
    const int closedPort = FreeTcpPort();
    struct Case {
        const char* what;
        std::string user, password;
        std::optional<std::string> port;  // typed over the row's
        std::vector<Answer> after;        // the boxes after the form's OK
        bool connected;
        int passwordDialogs;  // of own password, opened by the login
    } cases[] = {
        {"right password", "admin", "secret1", std::nullopt, {}, true, 0},
        {"wrong password", "admin", "nope", std::nullopt,
         {{"Error", "OK"}, {"Login Form", "Cancel"}}, false, 0},
        {"unknown user", "nobody", "secret1", std::nullopt,
         {{"Error", "OK"}, {"Login Form", "Cancel"}}, false, 0},
        {"closed port", "admin", "secret1", std::to_string(closedPort),
         {{"Error", "OK"}, {"Login Form", "Cancel"}}, false, 0},
        {"port out of range", "admin", "secret1", "70000",
         {{"Warning", "OK"}, {"Login Form", "Cancel"}}, false, 0},
        {"port with letters", "admin", "secret1", "74o2",
         {{"Warning", "OK"}, {"Login Form", "Cancel"}}, false, 0},
        {"port zero", "admin", "secret1", "0", {{"Warning", "OK"}, {"Login Form", "Cancel"}}, false, 0},
        {"default password", "RAID", "wqx", std::nullopt,
         {{"Warning", "OK"}, {"Please enter new password", "Cancel"}}, true, 1},
    };
    const std::string wantText[] = {"", "Invalid user name or password.", "Invalid user name or password.",
                                    "System unreachable.", "'70000' is not a valid port.\nA port is a number from 1 to 65535.",
                                    "'74o2' is not a valid port.\nA port is a number from 1 to 65535.",
                                    "'0' is not a valid port.\nA port is a number from 1 to 65535.",
                                    "You are using the default password to \nlogon. Please change it."};
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WaitServerFree());
        std::vector<Answer> script{{"Login Form", "OK", Fill(c.user, c.password, c.port)}};
        script.insert(script.end(), c.after.begin(), c.after.end());
        Responder r(script);
        LogSystem();
        ASSERT_TRUE(r.WaitDone());
        if (!c.after.empty() && c.after.front().title != "Login Form") {
            ASSERT_GE(r.Seen().size(), 2u);
            EXPECT_EQ(r.Seen()[1].labels.front(), wantText[index]);
        }
        int passwordDialogs = 0;
        for (const SeenWindow& w : r.Seen())
            if (w.title == "Please enter new password") {
                ++passwordDialogs;
                EXPECT_EQ(w.height, 220) << "the dialog of one's own password";
            }
        EXPECT_EQ(passwordDialogs, c.passwordDialogs);
        EXPECT_EQ(NewSys.pDialog, nullptr);
        const std::string status = ColumnListText(win->pSysList, 0, 3);
        if (c.connected) {
            EXPECT_GE(handle, 0);
            EXPECT_TRUE(win->bLoggedIn);
            EXPECT_EQ(status, "Connected");
            EXPECT_STREQ(win->szCurrForm, "Array Management");
            EXPECT_STREQ(NewSys.szUserName, c.user.c_str());
            EXPECT_STREQ(NewSys.szAddress, "127.0.0.1");
            EXPECT_EQ(StatusText(), std::string("Connected OS: ") + NewSys.szOSName + " System '127.0.0.1' connected");
            EXPECT_STRNE(NewSys.szOSName, "");
            EXPECT_STREQ(win->UserInfo.name, c.user.c_str());
            EXPECT_EQ(win->UserInfo.rights, kAllRights);
            _Vtn_Client_Connection* slot = ConnectedSlot(handle);
            ASSERT_NE(slot, nullptr);
            EXPECT_GE(slot->eventSocket, 0) << "the event channel is on";
            LogOut();
            EXPECT_EQ(handle, -1);
            EXPECT_EQ(ColumnListText(win->pSysList, 0, 3), "Disconnected");
            EXPECT_EQ(StatusText(), "No system connected");
            EXPECT_FALSE(win->bLoggedIn);
            EXPECT_STREQ(NewSys.szUserName, "");
            RemoteControl();
        } else {
            EXPECT_LT(handle, 0);
            EXPECT_FALSE(win->bLoggedIn);
            EXPECT_EQ(status, "Disconnected");
            EXPECT_STREQ(win->szCurrForm, "Remote Control");
            EXPECT_EQ(StatusText(), "No system connected");
        }
        // The row keeps the port it had: a failed login writes nothing.
        EXPECT_EQ(ColumnListText(win->pSysList, 0, 2), std::to_string(server_->Port()));
        ++index;
    }
}

TEST_F(Login, EmptyPortConnectsToTheDefault)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "127.0.0.1\tlocal\t7555\n"));
    CMainWindow* win = StartMainWindow();
    static uint16_t asked;
    asked = 0;
    gFuncs.connect_system = [](_CS_CONNECTION_INFO* info) -> int {
        asked = info->port;
        return static_cast<int>(VTN_CANNOT_CONNECT);
    };
    Responder r(std::vector<Answer>{{"Login Form", "OK", Fill("admin", "secret1", "")}, {"Error", "OK"}, {"Login Form", "Cancel"}});
    LogSystem();
    ASSERT_TRUE(r.WaitDone());
    EXPECT_EQ(asked, 7402);
    EXPECT_EQ(r.Seen()[1].labels.front(), "System unreachable.");
    EXPECT_LT(handle, 0);
    EXPECT_EQ(ColumnListText(win->pSysList, 0, 2), "7555");

    // Accepted there: the row and the file take the empty text.
    gFuncs.connect_system = [](_CS_CONNECTION_INFO* info) -> int { return asked = info->port, 0; };
    gFuncs.disconnect_system = [](int) -> int { return 0; };
    gFuncs.get_server_info = [](int, _CS_SERVER_INFO* i) -> int { return CopyText(i->osName, "TestOS"), 0; };
    gFuncs.get_current_user = [](int, _VTN_USER_INFO* u) -> int { return CopyText(u->name, "admin"), 0; };
    gFuncs.enable_event_notify = [](int, uint8_t) -> int { return 0; };
    gFuncs.enum_event = [](int, _VTN_LOG_EVENT*, int) -> int { return static_cast<int>(VTN_NO_MORE_ENTRIES); };
    asked = 0;
    Responder ok(std::vector<Answer>{{"Login Form", "OK", Fill("admin", "secret1", "")}});
    LogSystem();
    ASSERT_TRUE(ok.WaitDone());
    EXPECT_EQ(asked, 7402);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(StatusText(), "Connected OS: TestOS System '127.0.0.1' connected");
    EXPECT_EQ(ColumnListText(win->pSysList, 0, 2), "");
    EXPECT_EQ(ColumnListText(win->pSysList, 0, 3), "Connected");
    EXPECT_EQ(ReadFileText(root_.Path("/usr/bin/vtnsys.log")), "127.0.0.1\tlocal\t\n");
    LogOut();
}

// A port text changed at login that cannot be saved (full disk, read-only folder): the login goes
// on, the box says the list was not saved, the row shows the typed port and the file is as it was.
TEST_F(Login, APortChangeThatCannotBeSavedIsSaid)
{
    ASSERT_TRUE(StartServer(Users()));
    CMainWindow* win = StartMainWindow();
    const std::string path = root_.Path("/usr/bin/vtnsys.log");
    const std::string file = ReadFileText(path);
    // Another text for the same port.
    const std::string typed = "0" + std::to_string(server_->Port());
    for (WriteFailure::Kind kind : {WriteFailure::kFullDisk, WriteFailure::kReadOnlyFolder}) {
        SCOPED_TRACE(kind == WriteFailure::kFullDisk ? "full disk" : "read-only folder");
        WriteFailure failure(kind, root_.Path("/usr/bin"));
        ASSERT_TRUE(WaitServerFree());
        Responder r({{"Login Form", "OK",
                      [&](GtkWidget* w) {
                          Fill("admin", "secret1", typed)(w);
                          failure.On();
                      },
                      nullptr, true},
                     {"Error", "OK", [&failure](GtkWidget*) { failure.Off(); }, nullptr, true}});
        LogSystem();
        ASSERT_TRUE(r.WaitDone());
        failure.Off();
        ASSERT_EQ(r.Seen().size(), 2u);
        EXPECT_EQ(r.Seen()[1].labels.front(), "The list of systems could not be saved\nto /usr/bin/vtnsys.log.");
        EXPECT_GE(handle, 0);
        EXPECT_EQ(ColumnListText(win->pSysList, 0, 2), typed);
        EXPECT_EQ(ColumnListText(win->pSysList, 0, 3), "Connected");
        EXPECT_EQ(ReadFileText(path), file);
        LogOut();
        LoadSystem(win->pSysList);
    }
}

TEST_F(Login, RemoteControlToolbarWithoutRowsOrSelection)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", ""));
    CMainWindow* win = StartMainWindow();
    auto toolbar = [] {
        std::vector<bool> out;
        for (auto& row : RemoteConToolbar)
            out.push_back(gtk_widget_get_sensitive(row.button) && gtk_widget_get_sensitive(row.menuitem));
        return out;
    };
    // An empty list: only "New System", and the menu bar gated as nobody is logged in.
    EXPECT_EQ(toolbar(), (std::vector<bool>{true, false, false, false, false}));
    EXPECT_FALSE(gtk_widget_get_sensitive(win->MenuItem("/Management")));
    // Rows without a selection: the same buttons, and the menu bar gated.
    const char* row[] = {"10.0.0.1", "one", "7402", "Disconnected"};
    ColumnListAppend(win->pSysList, row);
    ColumnListUnselectAll(win->pSysList);
    win->FreshRemoteConTool();
    EXPECT_EQ(toolbar(), (std::vector<bool>{true, false, false, false, false}));
    EXPECT_FALSE(gtk_widget_get_sensitive(win->MenuItem("/Management")));
    ColumnListSelectRow(win->pSysList, 0);
    EXPECT_EQ(toolbar(), (std::vector<bool>{true, true, true, true, false}));
}

TEST_F(Login, LogoutAsksAndConnectWhileLoggedInLogsOutFirst)
{
    ASSERT_TRUE(StartServer(Users()));
    CMainWindow* win = StartMainWindow();
    LogInAs("admin", "secret1");
    ASSERT_GE(handle, 0);
    const int connected = handle;
    {
        Responder r(std::vector<Answer>{{"Confirmation", "Cancel"}});
        EXPECT_FALSE(LogoutSystem());
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(r.Seen()[0].labels.front(), "The system will be disconnected.\n Do you want to continue?");
    }
    EXPECT_EQ(handle, connected);
    EXPECT_TRUE(win->bLoggedIn);
    {
        // Connect while logged in: Cancel keeps the connection and shows no login form.
        Responder r(std::vector<Answer>{{"Confirmation", "Cancel"}});
        LogSystem();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_TRUE(TopWindows("Login Form").empty());
        EXPECT_EQ(handle, connected);
    }
    {
        // OK logs out, then the login form comes.
        Responder r(std::vector<Answer>{{"Confirmation", "OK"},
                     {"Login Form", "Cancel", [](GtkWidget*) { EXPECT_LT(handle, 0); }}});
        LogSystem();
        ASSERT_TRUE(r.WaitDone());
    }
    EXPECT_LT(handle, 0);
    EXPECT_FALSE(win->bLoggedIn);
    EXPECT_EQ(ColumnListText(win->pSysList, 0, 3), "Disconnected");
}

TEST_F(Login, ServerKilledWhileIdleLogsTheWindowOutWithinTwoTicks)
{
    ASSERT_TRUE(StartServer(Users()));
    CMainWindow* win = StartMainWindow();
    // The ticks come from the test, so that they can be counted.
    g_source_remove(win->nTimerSource);
    win->nTimerSource = 0;
    LogInAs("admin", "secret1");
    ASSERT_GE(handle, 0);
    ASSERT_STREQ(win->szCurrForm, "Array Management");
    EXPECT_EQ(CMainWindow::SysTimer(nullptr), 1);  // idle: nothing waits
    EXPECT_GE(handle, 0);

    server_->Kill();
    ASSERT_TRUE(EventChannelReadable(20000));
    int ticks = 0;
    while (handle >= 0 && ticks < 2) {
        CMainWindow::SysTimer(nullptr);
        ++ticks;
    }
    EXPECT_LT(handle, 0) << "the break was not seen within two ticks";
    BoxAnswerer boxes;
    ASSERT_TRUE(boxes.PumpUntil([&] { return boxes.Count() == 1 && win->nConnectOutSource == 0; }));
    EXPECT_EQ(boxes.Seen()[0], (std::pair<std::string, std::string>{
                                   "Error", "Connection broken. You have to connect\n the system again."}));
    EXPECT_EQ(handle, -1);
    EXPECT_FALSE(win->bLoggedIn);
    EXPECT_STREQ(win->szCurrForm, "Remote Control");
    EXPECT_EQ(ColumnListText(win->pSysList, 0, 3), "Disconnected");
    EXPECT_EQ(StatusText(), "No system connected");
    EXPECT_STREQ(NewSys.szUserName, "");
    EXPECT_FALSE(gtk_widget_get_sensitive(win->MenuItem("/Management")));
    // Later ticks do nothing.
    EXPECT_EQ(CMainWindow::SysTimer(nullptr), -1);
}

TEST_F(Login, BreakDuringTheDefaultPasswordWarningStopsTheLogin)
{
    ASSERT_TRUE(StartServer(Users()));
    CMainWindow* win = StartMainWindow();
    // The server dies while the warning waits; the timer then finds the broken channel, and the
    // warning goes with the session. A password dialog, which must not come, would be counted and
    // closed.
    struct Killer {
        ServerProcess* server;
        bool done = false;
        int passwordDialogs = 0;
    } killer{server_.get()};
    const unsigned watch = g_timeout_add(
        20,
        [](gpointer p) -> gboolean {
            auto* k = static_cast<Killer*>(p);
            if (!k->done && !TopWindows("Warning").empty()) {
                k->server->Kill();
                k->done = true;
            }
            for (GtkWidget* w : TopWindows("Please enter new password")) {
                ++k->passwordDialogs;
                gtk_window_close(GTK_WINDOW(w));
            }
            return G_SOURCE_CONTINUE;
        },
        &killer);
    LogInAs("RAID", "wqx", {{"Error", "OK", [](GtkWidget*) { EXPECT_TRUE(TopWindows("Warning").empty()); }}});
    g_source_remove(watch);
    EXPECT_TRUE(killer.done);
    EXPECT_EQ(killer.passwordDialogs, 0) << "no password dialog for a broken connection";
    EXPECT_EQ(handle, -1);
    EXPECT_FALSE(win->bLoggedIn);
    EXPECT_STREQ(win->szCurrForm, "Remote Control");
    EXPECT_EQ(StatusText(), "No system connected");
    EXPECT_EQ(ColumnListText(win->pSysList, 0, 3), "Disconnected");
}

TEST_F(Login, RightsGateMenusAndButtons)
{
    struct User {
        const char* name;
        uint32_t rights;
    } users[] = {{"all", kAllRights},      {"none", 0},           {"users", 0x100000},    {"addspare", 0x10000},
                 {"spare", 0x20000},       {"mail", 0x200000},    {"clear", 0x800000},    {"config", 0x10000000},
                 {"tasks", 0x20000000}};
    std::string lines;
    for (const User& u : users)
        lines += raw::UserLine(u.name, "pw", u.rights);
    ASSERT_TRUE(StartServer(lines));
    CMainWindow* win = StartMainWindow();
    struct Gate {
        const char* path;  // null: the Event View's Clear button
        uint32_t rights;   // any of them; 0: every logged-in user
    } gates[] = {
        {"/File/User Management", 0x100000},
        {"/Management/Spare Pool", 0x30000},
        {"/Management/Event Notification", 0x200000},
        {nullptr, 0x800000},
        {"/File/System Configuration", 0x10000000},
        {"/Management/Task Schedule Management", 0x20000000},
        {"/File/Password", 0},
        {"/View", 0},
        {"/Management", 0},
        {"/Management/Array Management", 0},
        {"/Management/Device Management", 0},
        {"/Management/Refresh", 0},
    };
    auto sensitive = [win](const Gate& g) {
        return gtk_widget_get_sensitive(g.path ? win->MenuItem(g.path) : win->pClearButton) != FALSE;
    };
    auto toolbar = [] {
        std::vector<bool> out;
        for (auto& row : RemoteConToolbar)
            out.push_back(gtk_widget_get_sensitive(row.button) && gtk_widget_get_sensitive(row.menuitem));
        return out;
    };
    // Logged out: what needs a user is off; the rest of the menu works.
    for (const char* path : kLoggedOutOff)
        EXPECT_FALSE(gtk_widget_get_sensitive(win->MenuItem(path))) << path;
    for (const char* path : {"/File/Remote Control", "/File/Exit", "/Help", "/File"})
        EXPECT_TRUE(gtk_widget_get_sensitive(win->MenuItem(path))) << path;
    EXPECT_EQ(toolbar(), (std::vector<bool>{true, true, true, true, false}));

    for (const User& u : users) {
        SCOPED_TRACE(u.name);
        LogInAs(u.name, "pw");
        ASSERT_TRUE(win->bLoggedIn);
        for (const Gate& g : gates)
            EXPECT_EQ(sensitive(g), g.rights == 0 || (u.rights & g.rights) != 0) << (g.path ? g.path : "Clear");
        // The connected row: only "New System" and "Disconnect".
        RemoteControl();
        EXPECT_EQ(toolbar(), (std::vector<bool>{true, false, false, false, true}));
        LogOut();
        for (const char* path : kLoggedOutOff)
            EXPECT_FALSE(gtk_widget_get_sensitive(win->MenuItem(path))) << path;
        EXPECT_EQ(toolbar(), (std::vector<bool>{true, true, true, true, false}));
    }
}

TEST_F(Login, SystemDialogsKeepTheConnectedRowConnected)
{
    ASSERT_TRUE(StartServer(Users()));
    CMainWindow* win = StartMainWindow();
    LogInAs("admin", "secret1");
    ASSERT_GE(handle, 0);
    RemoteControl();
    GtkWidget* list = win->pSysList;
    const std::string port = std::to_string(server_->Port());
    auto rows = [list] {
        std::vector<std::string> out;
        for (int r = 0; r < ColumnListRows(list); ++r)
            out.push_back(ColumnListText(list, r, 0) + "|" + ColumnListText(list, r, 1) + "|" +
                          ColumnListText(list, r, 2) + "|" + ColumnListText(list, r, 3));
        return out;
    };
    auto type = [](const char* address, const char* name, const char* portText) {
        return [=](GtkWidget*) {
            if (gtk_widget_get_sensitive(NewSys.pAddressEntry))
                gtk_entry_set_text(GTK_ENTRY(NewSys.pAddressEntry), address);
            gtk_entry_set_text(GTK_ENTRY(NewSys.pNameEntry), name);
            gtk_entry_set_text(GTK_ENTRY(NewSys.pPortEntry), portText);
        };
    };
    struct Case {
        const char* what;
        void (*open)();
        int row;  // selected before
        std::vector<Answer> script;
        std::vector<std::string> rows;
        std::vector<std::string> texts;  // of the boxes, in order
    } cases[] = {
        {"empty address", NewSystem, 0,
         {{"Add a new system", "OK", type("", "x", "1")}, {"Warning", "OK"}, {"Add a new system", "Cancel"}},
         {"127.0.0.1|local|" + port + "|Connected"},
         {"'' is not valid IP address."}},
        {"address in the list", NewSystem, 0,
         {{"Add a new system", "OK", type("127.0.0.1", "x", "1")}, {"Warning", "OK"}, {"Add a new system", "Cancel"}},
         {"127.0.0.1|local|" + port + "|Connected"},
         {"This system has been added."}},
        {"bad port", NewSystem, 0,
         {{"Add a new system", "OK", type("10.0.0.9", "x", "65536")}, {"Warning", "OK"},
          {"Add a new system", "Cancel"}},
         {"127.0.0.1|local|" + port + "|Connected"},
         {"'65536' is not a valid port.\nA port is a number from 1 to 65535."}},
        {"TAB in the name", NewSystem, 0,
         {{"Add a new system", "OK", type("10.0.0.9", "a\tb", "1")}, {"Warning", "OK"}, {"Add a new system", "Cancel"}},
         {"127.0.0.1|local|" + port + "|Connected"},
         {"The address, name and port of a system\ncan not contain a TAB or a line end."}},
        {"added", NewSystem, 0,
         {{"Add a new system", "OK", type("10.0.0.9", "backup", "")}},
         {"127.0.0.1|local|" + port + "|Connected", "10.0.0.9|backup||Disconnected"},
         {}},
        {"modified", ModSystem, 1,
         {{"Modify the system", "OK", type("ignored", "spare box", "7410")}},
         {"127.0.0.1|local|" + port + "|Connected", "10.0.0.9|spare box|7410|Disconnected"},
         {}},
        {"delete answered Cancel", DelSystem, 1,
         {{"Warning", "Cancel"}},
         {"127.0.0.1|local|" + port + "|Connected", "10.0.0.9|spare box|7410|Disconnected"},
         {"System '10.0.0.9' will be deleted,\n do you want to continue?"}},
        {"deleted", DelSystem, 1,
         {{"Warning", "OK"}},
         {"127.0.0.1|local|" + port + "|Connected"},
         {"System '10.0.0.9' will be deleted,\n do you want to continue?"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ColumnListSelectRow(list, c.row);
        Responder r(c.script);
        c.open();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(rows(), c.rows);
        std::vector<std::string> texts;
        for (const SeenWindow& w : r.Seen())
            if (w.title == "Warning")
                texts.push_back(w.labels.front());
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(NewSys.pDialog, nullptr);
    }
    // The file holds what the list shows, without the status.
    EXPECT_EQ(ReadFileText(root_.Path("/usr/bin/vtnsys.log")), "127.0.0.1\tlocal\t" + port + "\n");
    EXPECT_GE(handle, 0);
    LogOut();
}

TEST_F(Login, DialogsShowTheirRowsAndTheCurrentSystem)
{
    ASSERT_TRUE(raw::WriteSystemFile("/usr/bin/vtnsys.log", "10.1.1.1\tfirst\t7402\n10.2.2.2\tsecond\t7777\n"));
    StartMainWindow();
    ColumnListSelectRow(window_->pSysList, 1);
    struct Case {
        void (*open)();
        const char* title;
        int width, height;
        const char* address;
        const char* port;
        bool addressEditable, nameShown, loginRows;
    } cases[] = {
        {NewSystem, "Add a new system", 300, 240, "", "7402", true, true, false},
        {ModSystem, "Modify the system", 300, 240, "10.2.2.2", "7777", false, true, false},
        {LogSystem, "Login Form", 400, 300, "10.2.2.2", "7777", false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        Responder r(std::vector<Answer>{{c.title, "Cancel", [&c](GtkWidget*) {
                          EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(NewSys.pAddressEntry)), c.address);
                          EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(NewSys.pPortEntry)), c.port);
                          EXPECT_EQ(gtk_widget_get_sensitive(NewSys.pAddressEntry) != FALSE, c.addressEditable);
                          EXPECT_EQ(gtk_widget_get_visible(NewSys.pNameEntry) != FALSE, c.nameShown);
                          EXPECT_EQ(NewSys.pUserEntry != nullptr, c.loginRows);
                          if (c.loginRows) {
                              EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(NewSys.pUserEntry)), "RAID");
                              EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(NewSys.pPasswordEntry)), "");
                              EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(NewSys.pPasswordEntry)));
                              EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(NewSys.pPasswordEntry)), 64);
                          }
                          EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(NewSys.pPortEntry)), 8);
                      }}});
        c.open();
        ASSERT_TRUE(r.WaitDone());
        ASSERT_EQ(r.Seen().size(), 1u);
        EXPECT_EQ(r.Seen()[0].width, c.width);
        EXPECT_EQ(r.Seen()[0].height, c.height);
        EXPECT_EQ(r.Seen()[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
    }
    // Closing the window counts as Cancel; nothing was written.
    Responder r(std::vector<Answer>{{"Add a new system", ""}});
    NewSystem();
    ASSERT_TRUE(r.WaitDone());
    EXPECT_EQ(ColumnListRows(window_->pSysList), 2);
    EXPECT_EQ(NewSys.bLoginForm, 1);
}

TEST(LoginHelpers, PortTextsAndAddressForms)
{
    struct Port {
        const char* text;
        bool valid;
        uint16_t port;
    } ports[] = {{"", true, 7402},     {"7402", true, 7402},  {"1", true, 1},        {"65535", true, 65535},
                 {"007402", true, 7402}, {"0", false, 0},       {"65536", false, 0},   {"-1", false, 0},
                 {" 7402", false, 0},  {"7402 ", false, 0},   {"74o2", false, 0},    {"+80", false, 0},
                 {"99999999", false, 0}, {"0x1F", false, 0}};
    for (const Port& p : ports) {
        uint16_t value = 0;
        EXPECT_EQ(PortFromText(p.text, &value), p.valid) << p.text;
        if (p.valid) {
            EXPECT_EQ(value, p.port) << p.text;
        }
    }
    struct Ip {
        const char* text;
        bool invalid;
    } ips[] = {{"10.0.0.1", false}, {"1.2.3.4", false}, {"a1.b2.c3.d4", false}, {"10.0.0", true},
               {"10.0.0.1.5", true}, {"10..0.1", true}, {".1.2.3", true},     {"1.2.3.", true},
               {"host", true},      {"", true}};
    for (const Ip& i : ips)
        EXPECT_EQ(InvalidIP(i.text), i.invalid) << i.text;
}

}  // namespace
