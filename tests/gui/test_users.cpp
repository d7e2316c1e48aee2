// Users, rights and passwords through the GUI's dialogs against the real vtnsvr: the privilege
// tree's labels and bits, the user list with its icons and buttons, adding, deleting, rights of
// another user and of oneself (menus and server at once), passwords; each change seen in the users
// file's bytes and by logging in as that user.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "drivergui_list.h"
#include "encript.h"
#include "serverfixture.h"
#include "dialogs/signfunc_users.h"
#include "xpm_data.h"

namespace {

constexpr const char* kManage = "User Management";
constexpr const char* kAdd = "Add New User";
constexpr const char* kPrivilege = "User Privilege View";
constexpr const char* kPassword = "Please enter new password";
constexpr const char* kBadName =
    "The user name can not contain ':', a TAB or a line end,\nbegin or end with a blank, begin with '#'\nor be longer than 63 bytes.";
constexpr uint32_t kAll = 0xFFFFFFFFu;

// The stored form of a password, as the users file holds it.
std::string Stored(const std::string& password)
{
    uint8_t buf[64] = {};
    CopyText(reinterpret_cast<char*>(buf), sizeof buf, password.c_str());
    vtn_encrypt_and_map(buf);
    return reinterpret_cast<char*>(buf);
}

// A line as the server writes it for a user added by the GUI (no second rights word, no text).
std::string AddedLine(const std::string& name, const std::string& password, uint32_t rights)
{
    char hex[16];
    snprintf(hex, sizeof hex, "%x", rights);
    return name + ":" + Stored(password) + ":" + hex + ":0:1:\n";
}

// The first label of each window seen with the title: a message box's text.
std::vector<std::string> Texts(const std::vector<SeenWindow>& seen, const std::string& title)
{
    std::vector<std::string> out;
    for (const SeenWindow& w : seen)
        if (w.title == title)
            out.push_back(w.labels.empty() ? "" : w.labels.front());
    return out;
}

std::vector<std::string> Texts(const Responder& r, const std::string& title)
{
    return Texts(r.Seen(), title);
}

// The users file without the lines of the user: gone behind the server's back.
std::string WithoutUser(std::string file, const std::string& name)
{
    for (size_t at = 0; (at = file.find(name + ":", at)) != std::string::npos;)
        if (at == 0 || file[at - 1] == '\n')
            file.erase(at, file.find('\n', at) + 1 - at);
        else
            ++at;
    return file;
}

// A line of raw::UserLine as the server leaves it when the user is deleted or replaced.
std::string Marked(std::string line)
{
    const size_t flags = line.rfind(":1:");
    line[flags + 1] = '0';
    return line;
}

std::vector<std::string> ListNames()
{
    std::vector<std::string> out;
    for (int r = 0; r < ColumnListRows(UserMan.pUserList); ++r)
        out.push_back(ColumnListText(UserMan.pUserList, r, 0));
    return out;
}

int RowOf(const std::string& name, const char** icon = nullptr)
{
    for (int r = 0; r < ColumnListRows(UserMan.pUserList); ++r)
        if (ColumnListText(UserMan.pUserList, r, 0) == name &&
            (icon == nullptr || ColumnListPixbuf(UserMan.pUserList, r, 0) == XpmPixbuf(icon)))
            return r;
    return -1;
}

// Selects the row of the user (of the kind the icon shows, when given).
std::function<void(GtkWidget*)> Select(const std::string& name, const char** icon = nullptr)
{
    return [name, icon](GtkWidget*) {
        const int row = RowOf(name, icon);
        ASSERT_GE(row, 0) << name;
        ColumnListSelectRow(UserMan.pUserList, row);
    };
}

GtkWidget* Check(GtkWidget* window, const std::string& label)
{
    auto found = FindWidgets(window, [&label](GtkWidget* w) {
        return GTK_IS_CHECK_BUTTON(w) && gtk_button_get_label(GTK_BUTTON(w)) &&
               label == gtk_button_get_label(GTK_BUTTON(w));
    });
    return found.empty() ? nullptr : found.front();
}

// Clicks the check boxes of the labels in the privilege window.
std::function<void(GtkWidget*)> Click(std::vector<std::string> labels)
{
    return [labels](GtkWidget* window) {
        for (const std::string& l : labels) {
            GtkWidget* check = Check(window, l);
            ASSERT_NE(check, nullptr) << l;
            gtk_button_clicked(GTK_BUTTON(check));
        }
    };
}

// The labels of the check boxes that are on, in the tree's order.
std::vector<std::string> Ticked(GtkWidget* window)
{
    std::vector<std::string> out;
    for (const SPrivilegeItem& item : PrivilegeItems)
        if (GtkWidget* check = Check(window, item.label))
            if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)))
                out.push_back(item.label);
    return out;
}

std::function<void(GtkWidget*)> Type(std::vector<std::pair<GtkWidget**, std::string>> entries)
{
    return [entries](GtkWidget*) {
        for (const auto& e : entries) {
            ASSERT_NE(*e.first, nullptr);
            gtk_entry_set_text(GTK_ENTRY(*e.first), e.second.c_str());
        }
    };
}

bool Sensitive(GtkWidget* w)
{
    return gtk_widget_get_sensitive(w) != FALSE;
}

// ---- the rights table --------------------------------------------------------------------------

TEST(UserRights, EveryLabelOfThePrivilegeTreeReadsAndWritesItsBits)
{
    const struct {
        const char* label;
        uint32_t bits;
    } table[] = {
        {"User Management", 0x100000},      {"Create RAID", 0x1},      {"Delete RAID", 0x2},
        {"Rename RAID", 0x4},               {"Duplicate RAID", 0x40},  {"Rebuild RAID", 0x8},
        {"Verify RAID", 0x10},              {"Spare Management", 0x30000},
        {"Notification E-mail setting", 0x200000}, {"Clear events", 0x800000},
        {"Configure server parameters", 0x10000000}, {"Task management", 0x20000000},
    };
    // Bits no box stands for keep their values.
    constexpr uint32_t kOthers = 0x1000000 | 0x400000 | 0x20 | 0x80000000u;
    for (bool selected : {true, false}) {
        uint32_t& word = selected ? UserMan.SelUser.rights : AddUser.NewUser.rights;
        uint32_t& other = selected ? AddUser.NewUser.rights : UserMan.SelUser.rights;
        for (const auto& t : table) {
            SCOPED_TRACE(t.label);
            word = kOthers;
            other = 0;
            bool state = true;
            PriviANDCheck(t.label, &state, true, selected);
            EXPECT_FALSE(state);
            state = true;
            PriviANDCheck(t.label, &state, false, selected);
            EXPECT_EQ(word, kOthers | t.bits);
            EXPECT_EQ(other, 0u) << "the other mode's word";
            // Any one of its bits turns the box on; turning it off clears all of them.
            for (uint32_t bit = 1; bit != 0; bit <<= 1)
                if (t.bits & bit) {
                    word = kOthers | bit;
                    PriviANDCheck(t.label, &state, true, selected);
                    EXPECT_TRUE(state) << std::hex << bit;
                }
            word = kAll;
            state = false;
            PriviANDCheck(t.label, &state, false, selected);
            EXPECT_EQ(word, kAll & ~t.bits);
        }
        // The branch and unknown labels do nothing.
        for (const char* label : {"Array Management", "S.M.A.R.T.", ""}) {
            word = 0x1234;
            bool state = true;
            PriviANDCheck(label, &state, false, selected);
            PriviANDCheck(label, &state, true, selected);
            EXPECT_EQ(word, 0x1234u) << label;
            EXPECT_TRUE(state) << label;
        }
    }
    // The tree holds exactly these boxes, in this order, and the branch between them.
    std::vector<std::string> labels;
    for (const SPrivilegeItem& item : PrivilegeItems)
        if (item.bits != 0)
            labels.push_back(item.label);
    std::vector<std::string> expected;
    for (const auto& t : table)
        expected.push_back(t.label);
    EXPECT_EQ(labels, expected);
    EXPECT_STREQ(PrivilegeItems[1].label, "Array Management");
    memset(&UserMan, 0, sizeof UserMan);
    memset(&AddUser, 0, sizeof AddUser);
}

TEST(UserRights, NamesTheServerWouldRefuse)
{
    const struct {
        const char* name;
        bool invalid;
    } cases[] = {
        {"alice", false},        {"Alice Smith", false}, {"a#b", false},          {"caf\xc3\xa9", false},
        {"ev:il", true},         {"line\nend", true},     {"carriage\rreturn", true}, {"#comment", true},
        {"  #indented", true},   {"\t#tab", true},       {"   ", true},            {" lead", true},
        {"trail ", true},        {"ta\tb", true},        {"tab\t", true},        {"in side", false},
        {"123456789012345678901234567890123456789012345678901234567890123", false},
        {"1234567890123456789012345678901234567890123456789012345678901234", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InvalidUserName(c.name), c.invalid) << c.name;
}

// ---- against the server -------------------------------------------------------------------------

class Users : public ServerGuiTest {
protected:
    void TearDown() override
    {
        ServerGuiTest::TearDown();
        memset(&UserMan, 0, sizeof UserMan);
        memset(&AddUser, 0, sizeof AddUser);
        memset(&SetPass, 0, sizeof SetPass);
    }

    // The server with these users and admin (every right), the window logged in as admin.
    CMainWindow* StartAsAdmin(const std::string& others = "")
    {
        const std::string users = raw::UserLine("admin", "secret1", kAll) + others;
        EXPECT_TRUE(StartServer(users));
        fileAtStart_ = users;
        CMainWindow* win = StartMainWindow();
        LogInAs("admin", "secret1");
        EXPECT_GE(handle, 0);
        return win;
    }

    // Opens User Management and answers it with the script, which closes it at the end.
    std::vector<SeenWindow> Manage(std::vector<Answer> script)
    {
        Responder r(std::move(script));
        UserManageMent();
        EXPECT_TRUE(r.WaitDone());
        EXPECT_EQ(UserMan.pUserList, nullptr);
        return r.Seen();
    }

    void RemoveBehindTheServersBack(const std::string& name)
    {
        ASSERT_TRUE(WriteFileText(root_.Path("/etc/vtnuser.dat"), WithoutUser(UsersFile(), name)));
    }

    std::string UsersFile() const { return ReadFileText(root_.Path("/etc/vtnuser.dat")); }

    // A login that the server refuses: its box, and the form cancelled.
    void LoginRefused(const std::string& user, const std::string& password)
    {
        ASSERT_TRUE(WaitServerFree());
        Responder r(std::vector<Answer>{{"Login Form", "OK", Fill(user, password)}, {"Error", "OK"},
                                        {"Login Form", "Cancel"}});
        LogSystem();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(Texts(r, "Error"), std::vector<std::string>{"Invalid user name or password."});
        EXPECT_LT(handle, 0);
    }

    // Logs out, then in as user; the rights the window got.
    uint32_t RightsAfterLogin(const std::string& user, const std::string& password)
    {
        if (handle >= 0)
            LogOut();
        LogInAs(user, password);
        EXPECT_GE(handle, 0) << user;
        return window_->UserInfo.rights;
    }

    std::string fileAtStart_;
};

TEST_F(Users, ListShowsKindsAndTheButtonsFollowTheSelection)
{
    const std::string others = raw::UserLine("bob", "pw", 0x10000) + raw::UserLine("sys\\root", "x", 0x10, 3) +
                               raw::UserLine("root", "y", 0x1) + raw::UserLine("carol", "z", 0);
    StartAsAdmin(others);
    struct Row {
        const char* name;
        const char** icon;
        bool del, password;
        std::vector<std::string> ticked;  // in the privilege dialog
    } rows[] = {
        {"admin", xpm_d_currstand, false, true,
         {"User Management", "Create RAID", "Delete RAID", "Rename RAID", "Duplicate RAID", "Rebuild RAID",
          "Verify RAID", "Spare Management", "Notification E-mail setting", "Clear events",
          "Configure server parameters", "Task management"}},
        {"bob", xpm_d_standalone, true, true, {"Spare Management"}},
        {"root", xpm_d_integrated, true, false, {"Verify RAID"}},
        {"root", xpm_d_standalone, true, true, {"Create RAID"}},
    };
    std::vector<Answer> script;
    script.push_back({kManage, "Add", [](GtkWidget*) {
                          EXPECT_EQ(ListNames(), (std::vector<std::string>{"admin", "bob", "root", "root", "carol"}));
                          // No row is selected after a load: only Add works.
                          EXPECT_EQ(ColumnListSelectedRow(UserMan.pUserList), -1);
                          EXPECT_TRUE(Sensitive(UserMan.pUserAddBtn));
                          for (GtkWidget* b : {UserMan.pUserDeleteBtn, UserMan.pUserPasswordBtn,
                                               UserMan.pUserPrivilegeBtn})
                              EXPECT_FALSE(Sensitive(b));
                      }});
    script.push_back({kAdd, "Cancel"});
    for (const Row& row : rows) {
        const std::string what = std::string(row.name) + (row.icon == xpm_d_integrated ? " (system)" : "");
        script.push_back({kManage, "Privilege", [row, what](GtkWidget* w) {
                              SCOPED_TRACE(what);
                              Select(row.name, row.icon)(w);
                              EXPECT_STREQ(UserMan.SelUser.name, row.name);
                              EXPECT_EQ((UserMan.SelUser.flags & VTN_USER_SYSTEM) != 0, row.icon == xpm_d_integrated);
                              EXPECT_EQ(Sensitive(UserMan.pUserDeleteBtn), row.del);
                              EXPECT_EQ(Sensitive(UserMan.pUserPasswordBtn), row.password);
                              EXPECT_TRUE(Sensitive(UserMan.pUserPrivilegeBtn));
                          }});
        script.push_back({kPrivilege, "Cancel", [row, what](GtkWidget* w) {
                              SCOPED_TRACE(what);
                              EXPECT_EQ(Ticked(w), row.ticked);
                          }});
    }
    // carol's line goes from the file behind the server's back: selecting her finds nobody.
    script.push_back({kManage, "OK", [this](GtkWidget*) {
                          RemoveBehindTheServersBack("carol");
                          Select("carol")(nullptr);
                          EXPECT_EQ(ColumnListSelectedRow(UserMan.pUserList), -1);
                          EXPECT_EQ(UserMan.SelUser.name[0], 0);
                          for (GtkWidget* b : {UserMan.pUserDeleteBtn, UserMan.pUserPasswordBtn,
                                               UserMan.pUserPrivilegeBtn})
                              EXPECT_FALSE(Sensitive(b));
                          // The buttons' routines do nothing without a user.
                          DeleteUser();
                          SetPrivilege();
                          SetUserPass();
                      }});
    auto seen = Manage(script);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].width, 400);
    EXPECT_EQ(seen[0].height, 240);
    EXPECT_EQ(seen[0].buttons, (std::vector<std::string>{"User Name", "Add", "Delete", "Password", "Privilege", "OK"}));
    EXPECT_EQ(seen[1].title, kAdd);
    EXPECT_EQ(seen[1].width, 300);
    EXPECT_EQ(seen[1].height, 240);
    EXPECT_EQ(seen[1].buttons, (std::vector<std::string>{"Privilege", "OK", "Cancel"}));
    EXPECT_EQ(seen[3].title, kPrivilege);
    EXPECT_EQ(seen[3].width, 300);
    EXPECT_EQ(seen[3].height, 350);
    // The branch carries its picture.
    EXPECT_NE(std::find(seen[3].images.begin(), seen[3].images.end(), XpmPixbuf(xpm_d_priviselect)),
              seen[3].images.end());
    LogOut();
}

TEST_F(Users, AddingAUser)
{
    StartAsAdmin(raw::UserLine("bob", "pw", 0x10000));
    const std::string before = UsersFile();
    GtkWidget** name = &AddUser.pNewNameEntry;
    GtkWidget** pass = &AddUser.pNewPassEntry;
    GtkWidget** confirm = &AddUser.pNewConfirmEntry;
    struct Case {
        const char* what;
        std::string name, password, confirm;
        std::vector<std::string> clicks;  // in the privilege dialog, before OK
        const char* boxTitle;             // the box after OK; null: none but the confirmation
        const char* boxText;
    } refused[] = {
        {"empty name", "", "a", "a", {}, "Warning", "Please input user's name."},
        {"colon", "ev:il", "a", "a", {}, "Warning", kBadName},
        {"leading #", " #x", "a", "a", {}, "Warning", kBadName},
        {"64 bytes in 56 characters", std::string(48, 'x') + "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9",
         "a", "a", {}, "Warning", kBadName},
        {"passwords differ", "dave", "one", "two", {}, "Error", "Two passwords you input do not match."},
        {"existing name", "bob", "new", "new", {"User Management"}, "Error", "User already exists."},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        std::vector<Answer> script{{kManage, "Add"}};
        if (!c.clicks.empty()) {
            script.push_back({kAdd, "Privilege"});
            script.push_back({kPrivilege, "OK", Click(c.clicks)});
        }
        script.push_back({kAdd, "OK", Type({{name, c.name}, {pass, c.password}, {confirm, c.confirm}})});
        script.push_back({c.boxTitle, "OK"});
        // The dialog stays open with the entries as they were.
        script.push_back({kAdd, "Cancel", [&c](GtkWidget*) {
                              EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(AddUser.pNewNameEntry)), c.name);
                              EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(AddUser.pNewPassEntry)), c.password);
                          }});
        script.push_back({kManage, "OK"});
        auto seen = Manage(script);
        EXPECT_EQ(Texts(seen, c.boxTitle), std::vector<std::string>{c.boxText});
        EXPECT_EQ(UsersFile(), before) << "nothing changed, the existing user least of all";
        EXPECT_EQ(UserMan.bEditSelected, 1);
    }

    struct Added {
        const char* name;
        const char* password;
        std::vector<std::string> clicks;
        bool cancelPrivilege;  // the clicks are made and cancelled
        uint32_t rights;
    } added[] = {
        {"dave", "pw4", {"Create RAID", "Spare Management", "Clear events"}, false, 0x1 | 0x30000 | 0x800000},
        {"erin", "", {}, false, 0},  // empty password and no privilege: a user without rights
        {"frank", "pw6", {"Create RAID", "Task management"}, true, 0},
    };
    std::string file = before;
    for (const Added& a : added) {
        SCOPED_TRACE(a.name);
        std::vector<Answer> script{{kManage, "Add"}};
        if (!a.clicks.empty()) {
            script.push_back({kAdd, "Privilege"});
            script.push_back({kPrivilege, a.cancelPrivilege ? "Cancel" : "OK", Click(a.clicks)});
            // Opened again, the dialog shows what the new user will get.
            script.push_back({kAdd, "Privilege"});
            script.push_back({kPrivilege, "Cancel", [&a](GtkWidget* w) {
                                  EXPECT_EQ(Ticked(w).size(), a.cancelPrivilege ? 0u : a.clicks.size());
                              }});
        }
        script.push_back({kAdd, "OK", Type({{name, a.name}, {pass, a.password}, {confirm, a.password}})});
        script.push_back({"Confirmation", "OK"});
        script.push_back({kManage, "OK", [&a](GtkWidget*) {
                              EXPECT_GE(RowOf(a.name, xpm_d_standalone), 0) << "the list was loaded again";
                          }});
        auto seen = Manage(script);
        EXPECT_EQ(Texts(seen, "Confirmation"), std::vector<std::string>{"New user has been added."});
        file += AddedLine(a.name, a.password, a.rights);
        EXPECT_EQ(UsersFile(), file);
    }
    for (const Added& a : added)
        EXPECT_EQ(RightsAfterLogin(a.name, a.password), a.rights) << a.name;
    LogOut();
    LoginRefused("dave", "wrong");
}

// Types (or, for a TAB, whose key moves the focus, pastes) a name into the Add New User dialog's
// name entry.
std::function<void(GtkWidget*)> EnterName(const std::string& text, bool paste)
{
    return [text, paste](GtkWidget*) {
        EXPECT_TRUE(TypeIntoEntry(AddUser.pNewNameEntry, text, paste))
            << "the entry holds \"" << gtk_entry_get_text(GTK_ENTRY(AddUser.pNewNameEntry)) << "\"";
    };
}

TEST_F(Users, NamesWithABlankAtAnEndOrATabAreRefused)
{
    StartAsAdmin();
    struct Case {
        const char* what;
        std::string name;
        bool paste;
        bool refused;
    } cases[] = {
        {"blanks only", "   ", false, true},      {"a leading blank", " bob", false, true},
        {"a trailing blank", "bob ", false, true}, {"a TAB inside", "bo\tb", true, true},
        {"a TAB at the end", "bob\t", true, true}, {"a blank inside", "bob smith", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = UsersFile();
        std::vector<Answer> script{{kManage, "Add"}, {kAdd, "OK", EnterName(c.name, c.paste), nullptr, true}};
        if (c.refused) {
            script.push_back({"Warning", "OK", nullptr, nullptr, true});
            // The dialog stays open with the name as it was typed.
            script.push_back({kAdd, "Cancel", [&c](GtkWidget*) {
                                  EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(AddUser.pNewNameEntry)), c.name);
                              }});
        } else {
            script.push_back({"Confirmation", "OK"});
        }
        script.push_back({kManage, "OK"});
        auto seen = Manage(script);
        if (c.refused) {
            EXPECT_EQ(Texts(seen, "Warning"), std::vector<std::string>{kBadName});
            EXPECT_EQ(UsersFile(), before) << "nothing was written";
        } else {
            EXPECT_EQ(Texts(seen, "Warning"), std::vector<std::string>{});
            EXPECT_EQ(UsersFile(), before + AddedLine(c.name, "", 0));
        }
    }
}

TEST_F(Users, DeletingAUser)
{
    StartAsAdmin(raw::UserLine("bob", "pw", 0x10000) + raw::UserLine("carol", "pw", 0));
    EXPECT_EQ(RightsAfterLogin("carol", "pw"), 0u);
    EXPECT_EQ(RightsAfterLogin("admin", "secret1"), kAll);
    const std::string before = UsersFile();
    const std::string question = "User 'bob' will be deleted,\n do you want to continue?";
    // Cancel keeps bob; oneself cannot be deleted.
    Manage({{kManage, "Delete", Select("bob")},
            {"Warning", "Cancel"},
            {kManage, "OK", [](GtkWidget*) {
                 EXPECT_EQ(ListNames(), (std::vector<std::string>{"admin", "bob", "carol"}));
                 Select("admin")(nullptr);
                 EXPECT_FALSE(Sensitive(UserMan.pUserDeleteBtn));
                 DeleteUser();  // the routine refuses as well: no question comes
             }}});
    EXPECT_EQ(UsersFile(), before);

    auto seen = Manage({{kManage, "Delete", Select("bob")},
                        {"Warning", "OK"},
                        {"Confirmation", "OK"},
                        {kManage, "OK", [](GtkWidget*) {
                             EXPECT_EQ(ListNames(), (std::vector<std::string>{"admin", "carol"}));
                             // Row 0 is selected again, with its buttons.
                             EXPECT_EQ(ColumnListSelectedRow(UserMan.pUserList), 0);
                             EXPECT_STREQ(UserMan.SelUser.name, "admin");
                             EXPECT_FALSE(Sensitive(UserMan.pUserDeleteBtn));
                         }}});
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[1].labels.front(), question);
    EXPECT_EQ(seen[2].labels.front(), "User 'bob' has been deleted.");
    std::string expected = before;
    const std::string bob = raw::UserLine("bob", "pw", 0x10000);
    expected.replace(expected.find(bob), bob.size(), Marked(bob));
    EXPECT_EQ(UsersFile(), expected) << "the line is marked deleted";

    // carol gone behind the server's back: the deletion fails, and her row stays.
    seen = Manage({{kManage, "Delete",
                    [this](GtkWidget* w) {
                        Select("carol")(w);
                        RemoveBehindTheServersBack("carol");
                    }},
                   {"Warning", "OK"},
                   {"Error", "OK"},
                   {kManage, "OK", [](GtkWidget*) {
                        EXPECT_EQ(ListNames(), (std::vector<std::string>{"admin", "carol"}));
                    }}});
    EXPECT_EQ(Texts(seen, "Error"), std::vector<std::string>{"Failed to delete user 'carol'."});
    LogOut();
    LoginRefused("bob", "pw");
}

TEST_F(Users, RightsOfAnotherUserAndOfOneself)
{
    CMainWindow* win = StartAsAdmin(raw::UserLine("bob", "pw", 0x10000));
    const std::string before = UsersFile();
    // OK without a click, Cancel after clicks, and Cancel of the question send nothing; the
    // clicks are gone the next time.
    Manage({{kManage, "Privilege", Select("bob")},
            {kPrivilege, "OK"},
            {kManage, "Privilege"},
            {kPrivilege, "Cancel", Click({"Create RAID", "Spare Management"})},
            {kManage, "Privilege", [](GtkWidget*) { EXPECT_EQ(UserMan.SelUser.rights, 0x10000u); }},
            {kPrivilege, "OK", [](GtkWidget* w) {
                 EXPECT_EQ(Ticked(w), std::vector<std::string>{"Spare Management"});
                 Click({"Verify RAID"})(w);
             }},
            {"Confirmation", "Cancel"},
            {kManage, "OK", [](GtkWidget*) { EXPECT_EQ(UserMan.SelUser.rights, 0x10000u); }}});
    EXPECT_EQ(UsersFile(), before);

    // Saved: bob's line is replaced; the window's own menus stay as they were.
    auto seen = Manage({{kManage, "Privilege", Select("bob")},
                        {kPrivilege, "OK", Click({"Spare Management", "Verify RAID", "Rename RAID"})},
                        {"Confirmation", "OK"},
                        {"Warning", "OK"},
                        {kManage, "OK"}});
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[2].labels.front(), "The privilege of 'bob' has been changed.\n Do you you want to save it?");
    EXPECT_EQ(seen[3].labels.front(), "The privilege of 'bob' has been modified successfully.");
    const std::string bobOld = raw::UserLine("bob", "pw", 0x10000);
    std::string expected = before;
    expected.replace(expected.find(bobOld), bobOld.size(), Marked(bobOld));
    expected += "bob:" + Stored("pw") + ":14:10000:1:test user\n";
    EXPECT_EQ(UsersFile(), expected);
    EXPECT_EQ(win->UserInfo.rights, kAll);
    EXPECT_TRUE(Sensitive(win->MenuItem("/File/User Management")));

    // One's own rights: the menus follow at once, and so does the server.
    ASSERT_EQ(cs_vtn_clear_event_log(handle), 0);
    seen = Manage({{kManage, "Privilege", Select("admin")},
                   {kPrivilege, "OK", Click({"User Management", "Clear events", "Configure server parameters"})},
                   {"Confirmation", "OK"},
                   {"Warning", "OK"},
                   // The users right is gone: the server refuses an addition, the dialog stays open.
                   {kManage, "Add"},
                   {kAdd, "OK", Type({{&AddUser.pNewNameEntry, "gina"}})},
                   {"Error", "OK"},
                   {kAdd, "Cancel"},
                   {kManage, "OK"}});
    constexpr uint32_t kLeft = kAll & ~(0x100000u | 0x800000u | 0x10000000u);
    EXPECT_EQ(win->UserInfo.rights, kLeft);
    EXPECT_FALSE(Sensitive(win->MenuItem("/File/User Management")));
    EXPECT_FALSE(Sensitive(win->MenuItem("/File/System Configuration")));
    EXPECT_FALSE(Sensitive(win->pClearButton));
    EXPECT_TRUE(Sensitive(win->MenuItem("/Management/Event Notification")));
    EXPECT_EQ(Texts(seen, "Error"), std::vector<std::string>{"Failed to add the user."});
    EXPECT_EQ(static_cast<uint32_t>(cs_vtn_clear_event_log(handle)), VTN_NO_RIGHT);
    _VTN_USER_INFO u{};
    EXPECT_EQ(static_cast<uint32_t>(cs_vtn_enum_user(handle, &u, 0)), VTN_NO_RIGHT);
    EXPECT_EQ(UsersFile().find("gina"), std::string::npos);
    // The next login has the same rights.
    EXPECT_EQ(RightsAfterLogin("admin", "secret1"), kLeft);
    LogOut();
}

TEST_F(Users, PrivilegeOfAUserGoneMeanwhileIsAnError)
{
    StartAsAdmin(raw::UserLine("bob", "pw", 0x10000));
    auto seen = Manage({{kManage, "Privilege", Select("bob")},
                        {kPrivilege, "OK",
                         [this](GtkWidget* w) {
                             Click({"Create RAID"})(w);
                             RemoveBehindTheServersBack("bob");
                         }},
                        {"Confirmation", "OK"},
                        {"Error", "OK"},
                        // Still open, with the click; Cancel takes it back.
                        {kPrivilege, "Cancel", [](GtkWidget* w) { EXPECT_TRUE(gtk_toggle_button_get_active(
                                                                        GTK_TOGGLE_BUTTON(Check(w, "Create RAID")))); }},
                        {kManage, "OK", [](GtkWidget*) { EXPECT_EQ(UserMan.SelUser.rights, 0x10000u); }}});
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[3].labels.front(), "Failed to modify the privilege of 'bob'.");
    LogOut();
}

TEST_F(Users, Passwords)
{
    CMainWindow* win = StartAsAdmin(raw::UserLine("bob", "pw", 0x10000) + raw::UserLine("sys\\root", "x", 0x10, 3));
    GtkWidget** oldEntry = &SetPass.pOldEntry;
    GtkWidget** newEntry = &SetPass.pNewEntry;
    GtkWidget** confirm = &SetPass.pConfirmEntry;
    // One's own: the old password is checked, then the two new ones; twice without logging in again.
    {
        Responder r({{kPassword, "OK", Type({{oldEntry, "wrong"}, {newEntry, "n1"}, {confirm, "n1"}})},
                     {"Error", "OK"},
                     {kPassword, "OK", Type({{oldEntry, "secret1"}, {newEntry, "n1"}, {confirm, "n2"}})},
                     {"Error", "OK"},
                     {kPassword, "OK", Type({{oldEntry, "secret1"}, {newEntry, "n1"}, {confirm, "n1"}})},
                     {"Confirmation", "OK"}});
        SetCurrentPass();
        ASSERT_TRUE(r.WaitDone());
        EXPECT_EQ(Texts(r, "Error"),
                  (std::vector<std::string>{"Old password is wrong.", "Two passwords you input do not match."}));
        EXPECT_EQ(Texts(r, "Confirmation"), std::vector<std::string>{"Password has been modified successfully."});
        EXPECT_EQ(r.Seen()[0].width, 280);
        EXPECT_EQ(r.Seen()[0].height, 220);
    }
    {
        Responder r({{kPassword, "OK", Type({{oldEntry, "n1"}, {newEntry, "n2"}, {confirm, "n2"}})},
                     {"Confirmation", "OK"}});
        SetCurrentPass();
        ASSERT_TRUE(r.WaitDone());
    }
    EXPECT_NE(UsersFile().find("admin:" + Stored("n2") + ":ffffffff:ffffffff:1:test user\n"), std::string::npos);

    // Another user's: no old password; a system account's cannot be changed here.
    auto seen = Manage({{kManage, "Password", Select("bob")},
                        {kPassword, "OK", Type({{newEntry, "b1"}, {confirm, "b2"}})},
                        {"Error", "OK"},
                        {kPassword, "OK", Type({{newEntry, "bobnew"}, {confirm, "bobnew"}})},
                        {"Confirmation", "OK"},
                        {kManage, "OK", [](GtkWidget*) {
                             Select("root", xpm_d_integrated)(nullptr);
                             EXPECT_FALSE(Sensitive(UserMan.pUserPasswordBtn));
                         }}});
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[1].height, 200);
    EXPECT_EQ(seen[1].labels.size(), 4u) << "New Password, Confirm and the two buttons";
    EXPECT_NE(UsersFile().find("bob:" + Stored("bobnew") + ":10000:10000:1:test user\n"), std::string::npos);
    EXPECT_EQ(win->UserInfo.rights, kAll);

    // A user gone meanwhile: an error, and the dialog stays open.
    seen = Manage({{kManage, "Password",
                    [this](GtkWidget* w) {
                        Select("bob")(w);
                        RemoveBehindTheServersBack("bob");
                    }},
                   {kPassword, "OK", Type({{newEntry, "x"}, {confirm, "x"}})},
                   {"Error", "OK"},
                   {kPassword, "Cancel"},
                   {kManage, "OK"}});
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[2].labels.front(), "Failed to modify the password.");

    LogOut();
    LoginRefused("admin", "secret1");
    EXPECT_EQ(RightsAfterLogin("admin", "n2"), kAll);
    LogOut();
}

}  // namespace
